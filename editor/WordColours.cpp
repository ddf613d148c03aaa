#include "editor/WordColours.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tarvex {
namespace {

constexpr const char* section = "Tarvex";
constexpr const char* onKey = "WordColours";
constexpr std::array<const char*, nc::wordKinds> keys = {
    "",          "ColourG",       "ColourM",       "ColourAxis", "ColourFeed", "ColourN",
    "ColourO",   "ColourComment", "ColourPercent", "ColourSkip", "ColourMacro"};

bool hexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

} // namespace

const std::array<const char*, nc::wordKinds> wordKindCaptions = {
    "",
    "Gコード",
    "Mコード",
    "座標など (X Y Z I J K R A B C P Q …)",
    "F S T H D",
    "シーケンス番号 (N)",
    "プログラム番号 (O)",
    "コメント ( )",
    "% の行",
    "ブロックスキップ /",
    "マクロ (# [ ] IF GOTO WHILE …)",
};

nc::WordColours readWordColours(const SettingsStore& s)
{
    nc::WordColours c = nc::defaultWordColours();
    c.on = readBool(s, section, onKey, true);
    for (int k = 1; k < nc::wordKinds; ++k) {
        const std::string v = s.read(section, keys[k], "");
        if (v.size() == 7 && v[0] == '#' && std::all_of(v.begin() + 1, v.end(), hexDigit))
            c.rgb[k] = static_cast<std::uint32_t>(std::stoul(v.substr(1), nullptr, 16));
    }
    return c;
}

void writeWordColours(SettingsStore& s, const nc::WordColours& colours)
{
    writeBool(s, section, onKey, colours.on);
    for (int k = 1; k < nc::wordKinds; ++k) {
        char v[8];
        std::snprintf(v, sizeof v, "#%06X", static_cast<unsigned>(colours.rgb[k] & 0xFFFFFF));
        s.write(section, keys[k], v);
    }
}

} // namespace tarvex
