#pragma once
#include "platform/DrawingSurface.h"

#include <QImage>
#include <QPainter>
#include <functional>
#include <memory>
#include <vector>

namespace tarvex {

// A drawing surface over an image. Consecutive connected moves of one pen are
// gathered into polylines (arcs as chords that stray less than a third of a
// pixel from the circle), and a point within the pixel of the last point kept
// is left out. Solid polylines and dots are set straight into the image (a
// wide pen as a square tip); dotted pens go through QPainter. A million short moves draw
// in a fraction of the time, with no visible difference.
class QtImageSurface final : public DrawingSurface {
public:
    explicit QtImageSurface(QSize size = {1, 1});
    ~QtImageSurface() override;

    // A new size clears the picture.
    void resize(QSize size);
    const QImage& image() const { return image_; }
    // Called by present(), e.g. to repaint the widget that shows the image.
    std::function<void()> onPresent;

    int width() const override { return image_.width(); }
    int height() const override { return image_.height(); }
    void setUserCoordinates(float left, float top, float right, float bottom) override;
    void clear() override;
    void setPenStyle(PenStyle style) override { style_ = style; }
    void setPenWidth(int pixels) override { width_ = std::max(pixels, 1); }
    void dot(float x, float y, std::uint32_t colour) override;
    void line(float x1, float y1, float x2, float y2, std::uint32_t colour) override;
    void arc(float cx, float cy, float r, std::uint32_t colour, float a1, float a2) override;
    void present() override;

private:
    struct PenKey {
        std::uint32_t colour = 0;
        PenStyle style = PenStyle::Solid;
        int width = 1;
        bool operator==(const PenKey&) const = default;
    };
    QPointF toDevice(float x, float y) const { return {(x - left_) * scaleX_, (y - top_) * scaleY_}; }
    void flush();
    // Continues the polyline at a, or starts a new one there.
    void startAt(QPointF a, std::uint32_t colour);
    void lineTo(QPointF b);
    QPainter& painter(const PenKey& pen);
    void setPixel(int x, int y, std::uint32_t rgb);
    void stamp(int x, int y, std::uint32_t rgb, int width);
    void rasterLine(QPointF a, QPointF b, std::uint32_t rgb, int width);

    QImage image_;
    std::uint32_t* bits_ = nullptr;
    qsizetype stride_ = 0; // pixels per image line
    std::unique_ptr<QPainter> painter_;
    bool painterHasPen_ = false;
    PenKey painterPen_;
    double left_ = 0, top_ = 0, scaleX_ = 1, scaleY_ = 1;
    PenStyle style_ = PenStyle::Solid;
    int width_ = 1;
    std::vector<QPointF> pending_;
    PenKey pendingPen_;
    QPointF last_; // the true end of the last move, which pending_ may leave out
};

} // namespace tarvex
