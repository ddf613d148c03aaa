#include "view/ui/PlotPicture.h"

#include <QHBoxLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QSlider>
#include <QTimer>
#include <QToolButton>

namespace tarvex {

PlotPicture::PlotPicture(QWidget* parent) : QWidget(parent)
{
    setObjectName("Picture1");
    setAttribute(Qt::WA_OpaquePaintEvent);
    surface_.onPresent = [this] { presented(); };
    sinceRepaint_.start();
}

void PlotPicture::erase()
{
    surface_.clear();
    update();
}

void PlotPicture::presented()
{
    // A replay presents every element: the screen follows at most 60 times a second.
    if (sinceRepaint_.elapsed() >= 16) {
        sinceRepaint_.restart();
        update();
    } else if (!repaintQueued_) {
        repaintQueued_ = true;
        QTimer::singleShot(16, this, [this] {
            repaintQueued_ = false;
            sinceRepaint_.restart();
            update();
        });
    }
}

void PlotPicture::resizeEvent(QResizeEvent*) { surface_.resize(size()); }

void PlotPicture::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    p.drawImage(e->rect(), surface_.image(), e->rect());
}

namespace {

// The two pictures of the panel switch: the panel (filled) on the left or on the right.
QIcon panelIcon(bool panelLeft)
{
    QPixmap pm(20, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::black);
    p.drawRect(0, 0, 19, 15);
    QRect panel = panelLeft ? QRect(1, 1, 7, 5) : QRect(12, 1, 7, 5);
    p.fillRect(panel, QColor(0, 0, 160));
    p.drawLine(panelLeft ? 8 : 11, 1, panelLeft ? 8 : 11, 14);
    return QIcon(pm);
}

} // namespace

PlotStrip::PlotStrip(QWidget* parent) : QWidget(parent)
{
    setObjectName("Picture2");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(2);
    Slider2 = new QSlider(Qt::Horizontal, this);
    Slider2->setObjectName("Slider2");
    Slider2->setRange(0, 100);
    Slider2->setMaximumWidth(120);
    row->addStretch();
    row->addWidget(Slider2);
    for (int i = 0; i < 2; ++i) {
        image1_[i] = new QToolButton(this);
        image1_[i]->setObjectName(QString("Image1(%1)").arg(i));
        image1_[i]->setIcon(panelIcon(i == 0));
        image1_[i]->setAutoRaise(true);
        connect(image1_[i], &QToolButton::clicked, this, [this, i] { emit Image1_Click(i); });
        row->addWidget(image1_[i]);
    }
}

} // namespace tarvex
