#pragma once
#include "platform/qt/QtImageSurface.h"
#include "view/PlotTools.h"

#include <QElapsedTimer>
#include <QWidget>

class QSlider;
class QToolButton;

namespace tarvex {

// The plot Picture1: shows the image that the plotting pass draws off screen,
// so that a repaint never walks the toolpath again.
class PlotPicture final : public QWidget {
    Q_OBJECT
public:
    explicit PlotPicture(QWidget* parent = nullptr);
    void erase();
    DrawingSurface& surface() { return surface_; }
    const QImage& image() const { return surface_.image(); }

signals:
    // A mouse press (any button) and a move, at a point of the image in pixels.
    void mouseDown(QPointF at);
    void mouseMove(QPointF at);
    // The picture has a new size and is blank.
    void resized();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

private:
    void presented();

    QtImageSurface surface_;
    QElapsedTimer sinceRepaint_;
    bool repaintQueued_ = false;
};

// The strip Picture2 below the plot, with the replay speed slider Slider2
// and the panel switch Image1.
class PlotStrip final : public QWidget {
    Q_OBJECT
public:
    explicit PlotStrip(QWidget* parent = nullptr);
    QToolButton* image1(int index) const { return image1_[index]; }
    QSlider* Slider2;
    // Toolbar1: the nine keyed buttons, two-state but for "ref".
    QToolButton* toolButton(ToolKey key) const { return Toolbar1_[static_cast<int>(key)]; }
    void setToolButton(ToolKey key, bool pressed);
    void setToolbarEnabled(bool enabled);

signals:
    void Image1_Click(int index);
    void Toolbar1_ButtonClick(ToolKey key, bool pressed);

private:
    QToolButton* image1_[2];
    QToolButton* Toolbar1_[9];
};

} // namespace tarvex
