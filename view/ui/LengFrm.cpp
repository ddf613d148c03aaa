#include "view/ui/LengFrm.h"
#include "view/PlotTools.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>

namespace tarvex {
namespace {

const char* const placeKeys[4] = {"LengLeft", "LengTop", "LengWidth", "LengHeight"};
constexpr int placeDefaults[4] = {0, 0, 6400, 2000}; // wide enough for the selection's time beside the whole one
constexpr int barHeight = 400; // twips: the toolbar and options above the text

} // namespace

Leng_Frm::Leng_Frm(ToolWindowContext context, std::function<void(int)> setTool, std::function<void()> closed,
                   QWidget* parent)
    : ToolWindow(std::move(context), placeKeys, placeDefaults, parent), setTool_(std::move(setTool)),
      closed_(std::move(closed))
{
    setObjectName("Leng_Frm");
    setWindowTitle("周長");
    bar_ = new QWidget(this);
    auto* row = new QHBoxLayout(bar_);
    row->setContentsMargins(2, 0, 2, 0);
    auto tool = [this, row](const char* key, const char* tip) {
        auto* b = new QToolButton(bar_);
        b->setObjectName(key);
        b->setToolTip(QString::fromUtf8(tip));
        // Without the SVG image plug-in the key shows its name.
        const QIcon icon(QString(":/icons/%1.svg").arg(key));
        b->setText(QString::fromUtf8(tip));
        if (!icon.pixmap(16).isNull())
            b->setIcon(icon);
        b->setCheckable(true);
        b->setAutoRaise(true);
        connect(b, &QToolButton::clicked, this, [this, b] { Toolbar1_ButtonClick(b); });
        row->addWidget(b);
        return b;
    };
    tansen = tool("tansen", "単要素選択");
    lenzoku = tool("lenzoku", "連続要素選択");
    row->addSpacing(8);
    Option1 = {new QRadioButton("選択", bar_), new QRadioButton("解除", bar_)};
    for (int k = 0; k < 2; ++k) {
        Option1[k]->setObjectName(QString("Option1(%1)").arg(k));
        connect(Option1[k], &QRadioButton::clicked, this, [this] { Option1_Click(); });
        row->addWidget(Option1[k]);
    }
    row->addStretch();
    Option1[0]->setChecked(true);
    Text1 = new QLineEdit(this);
    Text1->setObjectName("Text1");
    Text1->setReadOnly(true);
    Text1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Text2 = new QLineEdit(this);
    Text2->setObjectName("Text2");
    Text2->setReadOnly(true);
    Text2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void Leng_Frm::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    const int top = tc_.px(barHeight, true);
    bar_->setGeometry(0, 0, width(), top);
    // The text fills the width; with room to spare it takes the height below the bar too.
    const int h = tc_.twips(height(), true) > 2 * barHeight ? height() - top : Text1->sizeHint().height();
    // The time beside the length: half each.
    Text1->setGeometry(0, top, width() / 2, h);
    Text2->setGeometry(width() / 2, top, width() - width() / 2, h);
}

void Leng_Frm::Toolbar1_ButtonClick(QToolButton* button)
{
    // At most one of the two is pressed.
    QToolButton* other = button == tansen ? lenzoku : tansen;
    if (button->isChecked())
        other->setChecked(false);
    setTool_(lengthToolMode(tansen->isChecked(), lenzoku->isChecked(), Option1[0]->isChecked()));
}

void Leng_Frm::Option1_Click()
{
    // Without a pressed button there is no tool to change.
    if (tansen->isChecked() || lenzoku->isChecked())
        setTool_(lengthToolMode(tansen->isChecked(), lenzoku->isChecked(), Option1[0]->isChecked()));
}

void Leng_Frm::closeEvent(QCloseEvent* e)
{
    savePlace();
    closed_();
    e->accept();
}

} // namespace tarvex
