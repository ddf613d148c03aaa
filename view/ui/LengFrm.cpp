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
constexpr int placeDefaults[4] = {0, 0, 4000, 2000};
constexpr int barHeight = 400; // twips: the toolbar and options above the text

} // namespace

Leng_Frm::Leng_Frm(Context context, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), c_(std::move(context))
{
    setObjectName("Leng_Frm");
    setWindowTitle("周長");
    setAttribute(Qt::WA_DeleteOnClose);
    bar_ = new QWidget(this);
    auto* row = new QHBoxLayout(bar_);
    row->setContentsMargins(2, 0, 2, 0);
    auto tool = [this, row](const char* key, const char* tip) {
        auto* b = new QToolButton(bar_);
        b->setObjectName(key);
        b->setToolTip(QString::fromUtf8(tip));
        b->setIcon(QIcon(QString(":/icons/%1.svg").arg(key)));
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

    // Where it was last, kept on the screen.
    const ToolWindowPlace p = toolWindowPlace(c_.settings, placeKeys, placeDefaults, c_.screenWidth, c_.screenHeight);
    move(c_.px(p.left, false), c_.px(p.top, true));
    resize(c_.px(p.width, false), c_.px(p.height, true));
}

void Leng_Frm::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    const int top = c_.px(barHeight, true);
    bar_->setGeometry(0, 0, width(), top);
    // The text fills the width; with room to spare it takes the height below the bar too.
    const int h = c_.twips(height(), true) > 2 * barHeight ? height() - top : Text1->sizeHint().height();
    Text1->setGeometry(0, top, width(), h);
}

void Leng_Frm::Toolbar1_ButtonClick(QToolButton* button)
{
    // At most one of the two is pressed.
    QToolButton* other = button == tansen ? lenzoku : tansen;
    if (button->isChecked())
        other->setChecked(false);
    c_.setTool(lengthToolMode(tansen->isChecked(), lenzoku->isChecked(), Option1[0]->isChecked()));
}

void Leng_Frm::Option1_Click()
{
    // Without a pressed button there is no tool to change.
    if (tansen->isChecked() || lenzoku->isChecked())
        c_.setTool(lengthToolMode(tansen->isChecked(), lenzoku->isChecked(), Option1[0]->isChecked()));
}

void Leng_Frm::closeEvent(QCloseEvent* e)
{
    const QRect r = frameGeometry();
    saveToolWindowPlace(c_.settings, placeKeys,
                        {c_.twips(r.x(), false), c_.twips(r.y(), true), c_.twips(width(), false),
                         c_.twips(height(), true)});
    c_.closed();
    e->accept();
}

} // namespace tarvex
