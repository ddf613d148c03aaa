#include "view/MarkingEditor.h"
#include "platform/DrawingSurface.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "platform/UiServices.h"
#include "toolpath/Graphics.h"

#include <cmath>

namespace tarvex {

MarkingEditor::MarkingEditor(FileSystem& fs, const TextCodec& codec, std::string progDir, MessageBox& box)
    : fs_(fs), codec_(codec), progDir_(std::move(progDir)), box_(box)
{
}

std::string MarkingEditor::folder() const { return joinPath(progDir_, markingFolder); }

std::vector<std::string> MarkingEditor::names() const { return fs_.list(folder()).value_or(std::vector<std::string>{}); }

std::optional<MarkingFile> MarkingEditor::load(const std::string& name) const
{
    std::string bytes;
    if (!isPlainFileName(name))
        return std::nullopt;
    if (Error e = fs_.readFile(joinPath(folder(), name), bytes, smallFileLimit)) {
        if (e == tooLargeError())
            box_.show(tooLargeMessage(name), "TARVEX", MsgIcon::Exclamation);
        return std::nullopt;
    }
    return parseMarkingFile(codec_.decode(bytes));
}

bool MarkingEditor::save(const std::string& name, const MarkingFile& marking)
{
    // The name becomes a file of the marking folder and nothing else.
    if (!isPlainFileName(name)) {
        box_.show("コードにはファイル名に使える名前を入力して下さい。", "TARVEX", MsgIcon::Exclamation);
        return false;
    }
    if (Error e = fs_.writeFile(joinPath(folder(), name), codec_.encode(formatMarkingFile(marking)))) {
        box_.show(e.description, "TARVEX", MsgIcon::Exclamation);
        return false;
    }
    box_.show(name + "を保存しました");
    return true;
}

std::vector<PathSegment> markingPreview(std::string_view drawing)
{
    std::vector<PathSegment> out;
    float x = 0, y = 0;
    int motion = 0;
    for (const MarkingStep& s : parseMarkingDrawing(drawing)) {
        if (!s.hasX && !s.hasY)
            continue;
        if (s.hasG)
            motion = s.g;
        const float px = x, py = y;
        x += s.x;
        y += s.y;
        float i = s.i, j = s.j;
        // A radius the chord cannot have ends the preview where it is.
        if (s.hasR && radiusCentre(px, py, x, y, s.r, motion, i, j) != RadiusCentre::Ok)
            break;
        if (!std::isfinite(x) || !std::isfinite(y))
            break;
        out.push_back({x, y, i, j, static_cast<float>(motion), 0, 0});
    }
    return out;
}

void drawMarkingPreview(DrawingSurface& surface, const std::vector<PathSegment>& segments, int penWidth,
                        std::uint32_t colour)
{
    const float w = static_cast<float>(surface.width()), h = static_cast<float>(surface.height());
    if (w <= 0 || h <= 0)
        return;
    // Ten millimetres across the shorter side, centred on the marking's place.
    const float halfW = w >= h ? 5 * w / h : 5, halfH = w >= h ? 5 : 5 * h / w;
    surface.setUserCoordinates(-halfW, halfH, halfW, -halfH);
    surface.clear();
    surface.setPenStyle(DrawingSurface::PenStyle::Solid);
    surface.setPenWidth(penWidth);
    float px = 0, py = 0;
    for (const PathSegment& s : segments) {
        const int m = static_cast<int>(s.motion);
        if (m == 0)
            surface.dot(s.x, s.y, colour);
        else if (m == 1)
            surface.line(px, py, s.x, s.y, colour);
        else if (m == 2 || m == 3)
            drawArcMove(surface, px, py, s, colour);
        px = s.x;
        py = s.y;
    }
    surface.present();
}

} // namespace tarvex
