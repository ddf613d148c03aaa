#pragma once

namespace tarvex {

// Sizes and positions in twips (1/1440 inch).
struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

namespace design {
inline constexpr int frameWidth = 5415;  // communication panel Frame1
inline constexpr int frameHeight = 1935;
inline constexpr int frameTop = -60;
inline constexpr int frameLeft = 5220;   // where the panel stands before any layout
inline constexpr int stripHeight = 435;  // toolbar strip Picture2
inline constexpr int minWidth = 5540;    // smallest window, and the width with the panel alone
inline constexpr int minHeight = 5000;
// Beside the panel's column the other column keeps room for a program's
// words: a window narrowed to its minimum must not squeeze the editor away.
inline constexpr int columnMinWidth = 2400; // the default window keeps its width
} // namespace design

struct LayoutInput {
    Rect window;        // outer rectangle
    int innerWidth = 0; // W
    int innerHeight = 0; // H, status bar included
    int statusHeight = 0; // S
    bool commBox = false; // communication box shown
    bool graphics = false;
    int frameLeft = 0;  // 0: panel in the left column; greater: in the right column
};

struct LayoutResult {
    Rect window; // the window, grown to its minimum or narrowed for the panel alone
    Rect editor, frame, plot, strip;
    bool frameVisible = false;
    bool plotVisible = false;
};

// Places the editor, the communication panel, the plot and its strip by the
// two check marks and the panel's side. Sizes never go below zero.
LayoutResult layoutMainWindow(const LayoutInput& in);

} // namespace tarvex
