#pragma once
#include <cstdint>

namespace tarvex {

// The plot surface as the plotting pass sees it. Coordinates are user
// coordinates set by setUserCoordinates (Y grows upward when top > bottom);
// colours are 0x00BBGGRR.
class DrawingSurface {
public:
    enum class PenStyle { Solid, Dotted };

    virtual ~DrawingSurface() = default;
    // Size in pixels.
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual void setUserCoordinates(float left, float top, float right, float bottom) = 0;
    virtual void clear() = 0;
    virtual void setPenStyle(PenStyle style) = 0;
    virtual void setPenWidth(int pixels) = 0;
    virtual void dot(float x, float y, std::uint32_t colour) = 0;
    virtual void line(float x1, float y1, float x2, float y2, std::uint32_t colour) = 0;
    // A circular arc drawn counter-clockwise from angle a1 to a2 (radians,
    // measured from the +X axis, Y up); equal angles draw the full circle.
    // Only the arc: a move whose end lies off its circle gets no line to it,
    // and a radius of 0 draws at most a dot.
    virtual void arc(float cx, float cy, float r, std::uint32_t colour, float a1, float a2) = 0;
    // Makes what was drawn visible (end of a pass, each replayed element).
    virtual void present() = 0;
};

} // namespace tarvex
