#include "view/ui/PlotPicture.h"

#include <QHBoxLayout>
#include <QMouseEvent>
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
    setMouseTracking(true); // the pointer's position is shown without a button held
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

void PlotPicture::resizeEvent(QResizeEvent*)
{
    surface_.resize(size());
    emit resized();
}

void PlotPicture::mousePressEvent(QMouseEvent* e) { emit mouseDown(e->position()); }

void PlotPicture::mouseMoveEvent(QMouseEvent* e) { emit mouseMove(e->position()); }

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
    static const char* const tips[9] = {"全体を再描画", "拡大（クリックした点を中心に 2 倍）",
                                        "移動（クリックした点を中心に）", "Mコードマーキングの表示",
                                        "ブロックスキップ（/ の行を除く）", "早送りの表示", "表示設定", "周長の測定",
                                        "再生（もう一度押すか Esc で中止）"};
    for (int k = 0; k < 9; ++k) {
        auto* b = new QToolButton(this);
        b->setToolTip(QString::fromUtf8(tips[k]));
        const auto key = static_cast<ToolKey>(k);
        b->setObjectName(toolKeyName[k]);
        // Without the SVG image plug-in the icon draws nothing: the key shows its name.
        const QIcon icon(QString(":/icons/%1.svg").arg(toolKeyName[k]));
        b->setText(toolKeyName[k]);
        if (!icon.pixmap(18).isNull())
            b->setIcon(icon);
        b->setIconSize(QSize(18, 18));
        b->setAutoRaise(true);
        b->setCheckable(key != ToolKey::ref);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, key](bool checked) { emit Toolbar1_ButtonClick(key, checked); });
        Toolbar1_[k] = b;
        row->addWidget(b);
    }
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
        image1_[i]->setToolTip(i == 0 ? "通信ボックスを左に（大きな図形）" : "通信ボックスを右に（大きなエディタ）");
        image1_[i]->setAutoRaise(true);
        connect(image1_[i], &QToolButton::clicked, this, [this, i] { emit Image1_Click(i); });
        row->addWidget(image1_[i]);
    }
}

void PlotStrip::setToolButton(ToolKey key, bool pressed)
{
    QSignalBlocker quiet(toolButton(key)); // set by the program, not a click
    toolButton(key)->setChecked(pressed);
}

void PlotStrip::setToolbarEnabled(bool enabled)
{
    // The replay key stays: pressed again, it stops the replay.
    for (QToolButton* b : Toolbar1_)
        b->setEnabled(enabled || b == toolButton(ToolKey::play));
}

} // namespace tarvex
