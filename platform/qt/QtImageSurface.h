#pragma once
#include "platform/DrawingSurface.h"

#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <functional>
#include <memory>

namespace tarvex {

// A drawing surface over an image. Consecutive connected lines of one pen
// are gathered into polylines, and a line that stays within the pixel of the
// last point kept is merged into the next: a million short moves draw in a
// fraction of the time, with no visible difference.
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
    void setPenStyle(PenStyle style) override;
    void setPenWidth(int pixels) override;
    void dot(float x, float y, std::uint32_t colour) override;
    void line(float x1, float y1, float x2, float y2, std::uint32_t colour) override;
    void arc(float cx, float cy, float r, std::uint32_t colour, float a1, float a2) override;
    void present() override;

private:
    QPointF toDevice(float x, float y) const;
    void usePen(std::uint32_t colour);
    void flush();
    QPainter& painter();

    QImage image_;
    std::unique_ptr<QPainter> painter_;
    double left_ = 0, top_ = 0, scaleX_ = 1, scaleY_ = 1;
    PenStyle style_ = PenStyle::Solid;
    int width_ = 1;
    // The polyline being gathered, and the pen it is drawn with.
    QPolygonF pending_;
    std::uint32_t pendingColour_ = 0;
    PenStyle pendingStyle_ = PenStyle::Solid;
    int pendingWidth_ = 1;
    QPointF last_; // the true end of the last line, which pending_ may not hold
};

} // namespace tarvex
