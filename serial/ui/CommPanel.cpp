#include "serial/ui/CommPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace tarvex {

CommPanel::CommPanel(int dpi, QWidget* parent) : QFrame(parent)
{
    setObjectName("Frame1");
    setFrameShape(QFrame::Box);
    // Positions in twips on the panel's design, 5415 x 1935.
    auto at = [dpi](QWidget* w, int left, int top, int width, int height) {
        auto px = [dpi](int twips) { return (twips * dpi + 720) / 1440; };
        w->setGeometry(px(left), px(top), px(width), px(height));
    };
    auto button = [&](const char* name, const char* caption, int left, int top) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(name);
        at(b, left, top, 1000, 420);
        return b;
    };

    auto* label = new QLabel("装置名称", this);
    at(label, 120, 180, 900, 300);
    Combo5 = new QComboBox(this);
    Combo5->setObjectName("Combo5");
    Combo5->setEditable(true);
    Combo5->setInsertPolicy(QComboBox::NoInsert);
    at(Combo5, 1020, 150, 2700, 345);
    Command5 = button("Command5", "通信設定", 3960, 120);

    // The output place, the input place, the tape run (beside them, for a
    // controller) and the cancel button.
    Command1 = button("Command1", "出力", 120, 600);
    Command10 = button("Command10", "出力", 120, 600);
    Command2 = button("Command2", "入力", 1200, 600);
    Command20 = button("Command20", "入力", 1200, 600);
    Command21 = button("Command21", "入力", 1200, 600);
    Command11 = button("Command11", "ﾃｰﾌﾟ運転", 2280, 600);
    CommandCancel = button("CommandCancel", "中止", 3360, 600);
    Check1 = new QCheckBox("ｽｸﾛｰﾙ", this);
    Check1->setObjectName("Check1");
    at(Check1, 4440, 660, 900, 300);

    auto* fast = new QLabel("速い", this);
    at(fast, 120, 1140, 480, 300);
    Slider1 = new QSlider(Qt::Horizontal, this);
    Slider1->setObjectName("Slider1");
    Slider1->setRange(0, 1000);
    at(Slider1, 600, 1110, 4080, 330);
    auto* slow = new QLabel("遅い", this);
    at(slow, 4740, 1140, 480, 300);

    Label2 = new QLabel(this);
    Label2->setObjectName("Label2");
    at(Label2, 120, 1530, 5175, 300);

    // The controller buttons stand in front until a profile arranges the panel.
    arrange({PanelArrangement::Output::Command1, PanelArrangement::Input::Command2, true, true, true, true, true});
    CommandCancel->setEnabled(false);
}

void CommPanel::arrange(const PanelArrangement& a)
{
    // Only the button in front of each place shows.
    QPushButton* out = a.output == PanelArrangement::Output::Command1 ? Command1 : Command10;
    QPushButton* in = a.input == PanelArrangement::Input::Command2    ? Command2
                      : a.input == PanelArrangement::Input::Command20 ? Command20
                                                                       : Command21;
    for (QPushButton* b : {Command1, Command10})
        b->setVisible(b == out);
    Command11->setVisible(a.tapeRun);
    for (QPushButton* b : {Command2, Command20, Command21})
        b->setVisible(b == in);
    out->raise();
    in->raise();
    out->setEnabled(a.outputEnabled);
    in->setEnabled(a.inputEnabled);
    Slider1->setEnabled(a.slider1Enabled);
    Check1->setEnabled(a.check1Enabled);
    if (a.check1Enabled)
        Check1->setChecked(false);
}

} // namespace tarvex
