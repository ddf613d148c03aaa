#include "app/Layout.h"

#include <algorithm>

namespace tarvex {
namespace {

Rect rect(int left, int top, int width, int height)
{
    return {left, top, std::max(width, 0), std::max(height, 0)};
}

} // namespace

LayoutResult layoutMainWindow(const LayoutInput& in)
{
    using namespace design;
    LayoutResult out;
    out.window = in.window;
    int W = in.innerWidth;
    // The window never gets smaller than its minimum; the inner width follows the outer one.
    auto setWindowWidth = [&](int width) {
        W += width - out.window.width;
        out.window.width = width;
    };
    const int least = minWidth + (in.graphics ? columnMinWidth : 0);
    if (out.window.width < least)
        setWindowWidth(least);
    int H = in.innerHeight + std::max(out.window.height, minHeight) - out.window.height;
    out.window.height = std::max(out.window.height, minHeight);
    const int S = in.statusHeight;
    const int Fw = frameWidth, Fh = frameHeight, T = stripHeight;
    const bool right = in.frameLeft > 0;

    out.frame = rect(in.frameLeft, frameTop, Fw, Fh);
    out.frameVisible = in.commBox;
    out.plotVisible = in.graphics;

    if (!in.commBox && !in.graphics) {
        out.editor = rect(0, 0, W, H - S);
    } else if (in.commBox && !in.graphics) {
        setWindowWidth(minWidth);
        // The panel alone stands at the left, above the editor, as switching
        // graphics off puts it.
        out.frame = rect(0, frameTop, Fw, Fh);
        out.editor = rect(0, Fh, Fw, H - Fh - S);
    } else if (right) {
        // Graphics with the panel in the right column, above the plot; with
        // the box hidden the plot takes the panel's height too.
        const int top = in.commBox ? Fh : 0;
        out.editor = rect(0, 0, W - Fw, H - S);
        out.frame = rect(out.editor.width, frameTop, Fw, Fh);
        out.plot = rect(out.editor.width, top, Fw, H - top - S - T);
        out.strip = rect(out.editor.width, H - S - T, Fw, T);
    } else {
        // Panel in the left column above the editor: the plot gets the large area.
        out.editor = in.commBox ? rect(0, Fh, Fw, H - Fh - S) : rect(0, 0, Fw, H - S);
        out.plot = rect(Fw, 0, W - Fw, H - S - T);
        out.strip = rect(Fw, H - S - T, W - Fw, T);
    }
    return out;
}

} // namespace tarvex
