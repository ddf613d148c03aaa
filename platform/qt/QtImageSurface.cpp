#include "platform/qt/QtImageSurface.h"
#include "platform/Cpu.h"

#include <cmath>

namespace tarvex {
namespace {

QColor qcolour(std::uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

std::uint32_t argb(std::uint32_t bgr)
{
    return 0xFF000000u | (bgr & 0xFF) << 16 | (bgr & 0xFF00) | (bgr >> 16 & 0xFF);
}

bool finite(QPointF p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

bool near(QPointF a, QPointF b) { return std::fabs(a.x() - b.x()) < 0.5 && std::fabs(a.y() - b.y()) < 0.5; }

} // namespace

QtImageSurface::QtImageSurface(QSize size)
{
    pending_.reserve(4096);
    resize(size);
}

QtImageSurface::~QtImageSurface() = default;

void QtImageSurface::resize(QSize size)
{
    pending_.clear();
    painter_.reset();
    image_ = QImage(size.expandedTo({1, 1}), QImage::Format_RGB32);
    image_.fill(Qt::black);
    clearUpperVectorState();
    bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
    stride_ = image_.bytesPerLine() / 4;
}

QPainter& QtImageSurface::painter(const PenKey& key)
{
    if (!painter_) {
        painter_ = std::make_unique<QPainter>(&image_);
        painter_->setRenderHint(QPainter::Antialiasing, false);
        painterHasPen_ = false;
    }
    if (!painterHasPen_ || !(painterPen_ == key)) {
        QPen pen(qcolour(key.colour));
        pen.setWidth(key.width > 1 ? key.width : 0); // 0: the one-pixel cosmetic pen
        pen.setStyle(key.style == PenStyle::Dotted ? Qt::DotLine : Qt::SolidLine);
        pen.setCapStyle(Qt::FlatCap);
        painter_->setPen(pen);
        painterPen_ = key;
        painterHasPen_ = true;
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

void QtImageSurface::clear()
{
    pending_.clear();
    painter_.reset();
    image_.fill(Qt::black);
    clearUpperVectorState();
    bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
}

void QtImageSurface::setPixel(int x, int y, std::uint32_t rgb)
{
    if (x >= 0 && y >= 0 && x < image_.width() && y < image_.height())
        bits_[y * stride_ + x] = rgb;
}

// A square of width pixels about a pixel: the pen's tip.
void QtImageSurface::stamp(int x, int y, std::uint32_t rgb, int width)
{
    if (width <= 1) {
        setPixel(x, y, rgb);
        return;
    }
    const int x0 = std::max(0, x - (width - 1) / 2), y0 = std::max(0, y - (width - 1) / 2);
    const int x1 = std::min(image_.width(), x + width / 2 + 1), y1 = std::min(image_.height(), y + width / 2 + 1);
    for (int py = y0; py < y1; ++py)
        for (int px = x0; px < x1; ++px)
            bits_[py * stride_ + px] = rgb;
}

// A line by Bresenham's rule with a square pen tip, clipped to the image.
void QtImageSurface::rasterLine(QPointF a, QPointF b, std::uint32_t rgb, int width)
{
    const double w = image_.width(), h = image_.height();
    // Both ends outside on the same side: nothing to draw.
    if ((a.x() < 0 && b.x() < 0) || (a.y() < 0 && b.y() < 0) || (a.x() >= w && b.x() >= w)
        || (a.y() >= h && b.y() >= h))
        return;
    // Long lines are clipped to a margin around the image first, so that the
    // integer steps stay few and in range.
    auto clip = [&](QPointF& p, QPointF q) {
        const double lo = -2 - width, hiX = w + 2 + width, hiY = h + 2 + width;
        for (int pass = 0; pass < 2; ++pass) {
            if (p.x() < lo || p.x() > hiX) {
                const double x = p.x() < lo ? lo : hiX;
                p = QPointF(x, p.y() + (q.y() - p.y()) * (x - p.x()) / (q.x() - p.x()));
            }
            if (p.y() < lo || p.y() > hiY) {
                const double y = p.y() < lo ? lo : hiY;
                p = QPointF(p.x() + (q.x() - p.x()) * (y - p.y()) / (q.y() - p.y()), y);
            }
        }
    };
    clip(a, b);
    clip(b, a);
    if (!finite(a) || !finite(b))
        return;
    int x0 = static_cast<int>(std::floor(a.x())), y0 = static_cast<int>(std::floor(a.y()));
    const int x1 = static_cast<int>(std::floor(b.x())), y1 = static_cast<int>(std::floor(b.y()));
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        stamp(x0, y0, rgb, width);
        if (x0 == x1 && y0 == y1)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy)
            err += dy, x0 += sx;
        if (e2 <= dx)
            err += dx, y0 += sy;
    }
}

void QtImageSurface::flush()
{
    if (pending_.empty())
        return;
    if (pending_.back() != last_ || pending_.size() == 1)
        pending_.push_back(last_); // the true end, left out while it stayed within a pixel
    // Solid pens are set straight into the image; a wide one stamps its tip
    // along the line (QPainter takes ten times as long for short wide lines).
    if (pendingPen_.style == PenStyle::Solid) {
        const std::uint32_t rgb = argb(pendingPen_.colour);
        for (std::size_t k = 1; k < pending_.size(); ++k)
            rasterLine(pending_[k - 1], pending_[k], rgb, pendingPen_.width);
    } else {
        painter(pendingPen_).drawPolyline(pending_.data(), static_cast<int>(pending_.size()));
        clearUpperVectorState();
    }
    pending_.clear();
}

void QtImageSurface::dot(float x, float y, std::uint32_t colour)
{
    flush();
    const QPointF p = toDevice(x, y);
    if (!finite(p) || std::fabs(p.x()) > 1e9 || std::fabs(p.y()) > 1e9)
        return;
    stamp(static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())), argb(colour), width_);
}

void QtImageSurface::startAt(QPointF a, std::uint32_t colour)
{
    const PenKey pen{colour, style_, width_};
    // The ends of arcs computed from their angles land within a fraction of a
    // pixel of the true points: that still continues the polyline.
    if (pending_.empty() || !(pen == pendingPen_) || !near(a, last_) || pending_.size() >= 4096) {
        flush();
        pending_.push_back(a);
        last_ = a;
        pendingPen_ = pen;
    }
}

void QtImageSurface::lineTo(QPointF b)
{
    last_ = b;
    const QPointF d = b - pending_.back();
    if (std::fabs(d.x()) >= 1 || std::fabs(d.y()) >= 1)
        pending_.push_back(b);
}

void QtImageSurface::line(float x1, float y1, float x2, float y2, std::uint32_t colour)
{
    const QPointF a = toDevice(x1, y1), b = toDevice(x2, y2);
    if (!finite(a) || !finite(b))
        return;
    startAt(a, colour);
    lineTo(b);
}

void QtImageSurface::arc(float cx, float cy, float r, std::uint32_t colour, float a1, float a2)
{
    const double rx = r * std::fabs(scaleX_), ry = r * std::fabs(scaleY_);
    const QPointF c = toDevice(cx, cy);
    if (!finite(c) || !std::isfinite(rx) || !std::isfinite(ry))
        return;
    if (rx < 0.5 && ry < 0.5) {
        // Smaller than a pixel (a radius of 0: a homing move read as an arc):
        // at most a dot, never a line.
        if (r > 0)
            dot(cx, cy, colour);
        return;
    }
    double sweep = static_cast<double>(a2) - a1;
    if (sweep <= 0)
        sweep += 2 * M_PI; // equal angles: the full circle
    // Y grows upward in user coordinates and downward on the image.
    auto at = [&](double a) { return QPointF(c.x() + rx * std::cos(a), c.y() - ry * std::sin(a)); };
    const QPointF from = at(a1), to = at(a1 + sweep);
    // Chords of an angle t stray at most r t²/8 from the circle: n chords keep
    // that within a third of a pixel.
    const double rmax = std::max(rx, ry);
    const int n = std::max(1, static_cast<int>(std::min(4096.0, std::ceil(sweep * std::sqrt(rmax / (8 * 0.33))))));
    // Walk from whichever end joins the path drawn so far.
    const bool reverse = !near(from, last_) && near(to, last_);
    startAt(reverse ? to : from, colour);
    const double step = (reverse ? -sweep : sweep) / n;
    const double start = reverse ? static_cast<double>(a1) + sweep : a1;
    for (int k = 1; k < n; ++k)
        lineTo(at(start + step * k));
    lineTo(reverse ? from : to);
}

void QtImageSurface::present()
{
    flush();
    if (onPresent)
        onPresent();
    // Whoever was shown the picture may share it (a pixmap made from it):
    // the pixels written from now on go to a copy of our own.
    painter_.reset();
    bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
}

} // namespace tarvex
