#pragma once

// The keys of the settings store, with their defaults.
namespace tarvex::keys {

inline constexpr const char* section = "Tarvex";

inline constexpr const char* WebApl = "WebApl";
inline constexpr const char* WebAplDefault = "C:\\Program Files\\IntERnet ExplorER\\iexplore.exe";
inline constexpr const char* AppTitle = "AppTitle"; // preceded by the slot digit
inline constexpr const char* AppName = "AppName";
inline constexpr const char* Apldir = "Apldir";
inline constexpr const char* DelSub = "DelSub";
inline constexpr const char* Left = "Left";
inline constexpr const char* Top = "Top";
inline constexpr const char* Height = "Height";
inline constexpr const char* Width = "Width";
inline constexpr int HeightDefault = 6000;
inline constexpr int WidthDefault = 8000;
inline constexpr const char* GrCheck = "GrCheck";
inline constexpr const char* TsCheck = "TsCheck";
inline constexpr const char* Slider2 = "Slider2";
inline constexpr int Slider2Default = 50;
inline constexpr const char* Cmd = "Cmd";
inline constexpr const char* FontName = "FontName";
inline constexpr const char* FontNameDefault = "ＭＳ 明朝";
inline constexpr const char* FontSize = "FontSize";
inline constexpr float FontSizeDefault = 12;
inline constexpr const char* FontBold = "FontBold";
inline constexpr const char* FontItalic = "FontItalic";
inline constexpr const char* FileName = "FileName";
inline constexpr const char* FileNameDefault = "FANUC";
inline constexpr const char* Pcheck1 = "Pcheck1";
inline constexpr const char* Pcheck2 = "Pcheck2";
inline constexpr const char* Feed = "Feed";
inline constexpr const char* ClLeft = "ClLeft";
inline constexpr const char* ClTop = "ClTop";
inline constexpr const char* ClHeight = "ClHeight";
inline constexpr const char* ClWidth = "ClWidth";
inline constexpr const char* LengLeft = "LengLeft";
inline constexpr const char* LengTop = "LengTop";
inline constexpr const char* LengWidth = "LengWidth";
inline constexpr const char* LengHeight = "LengHeight";

// Keys of other sections.
inline constexpr const char* morlexSection = "Morlex";
inline constexpr const char* vosperganSection = "Vospergan";
inline constexpr const char* ConvName = "ConvName";

} // namespace tarvex::keys
