#pragma once
#include "view/ui/ToolWindow.h"

#include <array>

class QLineEdit;
class QRadioButton;
class QToolButton;

namespace tarvex {

// The path length window "周長": chooses whether a click on the plot takes
// one element or a whole chain, and whether it selects or releases; shows
// the total. Modeless, above the main window.
class Leng_Frm final : public ToolWindow {
    Q_OBJECT
public:
    // setTool: the main window's toolMode and cursor; closed: its closing steps.
    Leng_Frm(ToolWindowContext context, std::function<void(int)> setTool, std::function<void()> closed,
             QWidget* parent);

    QToolButton* tansen;
    QToolButton* lenzoku;
    std::array<QRadioButton*, 2> Option1; // 選択, 解除
    QLineEdit* Text1;
    QLineEdit* Text2; // the selection's time, beside its length

protected:
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void Toolbar1_ButtonClick(QToolButton* button);
    void Option1_Click();

    std::function<void(int)> setTool_;
    std::function<void()> closed_;
    QWidget* bar_;
};

} // namespace tarvex
