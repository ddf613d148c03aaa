#include "platform/qt/QtImageSurface.h"

#include <QPainterPath>
#include <cmath>

namespace tarvex {
namespace {

QColor qcolour(std::uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

} // namespace

QtImageSurface::QtImageSurface(QSize size) { resize(size); }

QtImageSurface::~QtImageSurface()
{
    flush();
    painter_.reset();
}

void QtImageSurface::resize(QSize size)
{
    pending_.clear();
    painter_.reset();
    image_ = QImage(size.expandedTo({1, 1}), QImage::Format_RGB32);
    image_.fill(Qt::black);
}

QPainter& QtImageSurface::painter()
{
    if (!painter_) {
        painter_ = std::make_unique<QPainter>(&image_);
        painter_->setRenderHint(QPainter::Antialiasing, false);
    }
    return *painter_;
}

void QtImageSurface::setUserCoordinates(float left, float top, float right, float bottom)
{
    flush();
    left_ = left;
    top_ = top;
    scaleX_ = image_.width() / (static_cast<double>(right) - left);
    scaleY_ = image_.height() / (static_cast<double>(bottom) - top);
}

QPointF QtImageSurface::toDevice(float x, float y) const
{
    return {(x - left_) * scaleX_, (y - top_) * scaleY_};
}

void QtImageSurface::clear()
{
    pending_.clear();
    image_.fill(Qt::black);
}

void QtImageSurface::setPenStyle(PenStyle style) { style_ = style; }
void QtImageSurface::setPenWidth(int pixels) { width_ = std::max(pixels, 1); }

void QtImageSurface::usePen(std::uint32_t colour)
{
    QPen pen(qcolour(colour));
    pen.setWidth(width_ > 1 ? width_ : 0);
    pen.setStyle(style_ == PenStyle::Dotted ? Qt::DotLine : Qt::SolidLine);
    pen.setCapStyle(Qt::FlatCap);
    painter().setPen(pen);
}

void QtImageSurface::flush()
{
    if (pending_.isEmpty())
        return;
    if (pending_.back() != last_)
        pending_ << last_; // the true end, skipped while it stayed within a pixel
    if (pending_.size() == 1)
        pending_ << last_;
    const PenStyle style = style_;
    const int width = width_;
    style_ = pendingStyle_;
    width_ = pendingWidth_;
    usePen(pendingColour_);
    painter().drawPolyline(pending_);
    style_ = style;
    width_ = width;
    pending_.clear();
}

void QtImageSurface::dot(float x, float y, std::uint32_t colour)
{
    flush();
    const QPointF p = toDevice(x, y);
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
        return;
    if (width_ <= 1) {
        usePen(colour);
        painter().drawPoint(p);
    } else {
        const double half = width_ / 2.0;
        painter().fillRect(QRectF(p.x() - half, p.y() - half, width_, width_), qcolour(colour));
    }
}

void QtImageSurface::line(float x1, float y1, float x2, float y2, std::uint32_t colour)
{
    const QPointF a = toDevice(x1, y1), b = toDevice(x2, y2);
    if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x()) || !std::isfinite(b.y()))
        return;
    // Connected lines of one pen make one polyline.
    const bool samePen = pendingColour_ == colour && pendingStyle_ == style_ && pendingWidth_ == width_;
    if (pending_.isEmpty() || !samePen || a != last_ || pending_.size() >= 4096) {
        flush();
        pending_ << a;
        pendingColour_ = colour;
        pendingStyle_ = style_;
        pendingWidth_ = width_;
    }
    last_ = b;
    // A point within the pixel of the last point kept adds nothing visible.
    const QPointF d = b - pending_.back();
    if (std::fabs(d.x()) >= 1 || std::fabs(d.y()) >= 1)
        pending_ << b;
}

void QtImageSurface::arc(float cx, float cy, float r, std::uint32_t colour, float a1, float a2)
{
    flush();
    const QPointF c = toDevice(cx, cy);
    const double rx = r * std::fabs(scaleX_), ry = r * std::fabs(scaleY_);
    if (!std::isfinite(c.x()) || !std::isfinite(c.y()) || !std::isfinite(rx) || !std::isfinite(ry))
        return;
    double sweep = static_cast<double>(a2) - a1;
    if (sweep <= 0)
        sweep += 2 * M_PI; // equal angles: the full circle
    usePen(colour);
    // An arc smaller than a pixel is a dot.
    if (rx < 0.5 && ry < 0.5) {
        painter().drawPoint(c);
        return;
    }
    // Qt measures angles in degrees, counter-clockwise on the screen: as Y points
    // down there, a counter-clockwise arc in toolpath coordinates is one too.
    const QRectF box(c.x() - rx, c.y() - ry, 2 * rx, 2 * ry);
    QPainterPath path;
    path.arcMoveTo(box, a1 * 180.0 / M_PI);
    path.arcTo(box, a1 * 180.0 / M_PI, sweep * 180.0 / M_PI);
    painter().drawPath(path);
}

void QtImageSurface::present()
{
    flush();
    if (onPresent)
        onPresent();
}

} // namespace tarvex
