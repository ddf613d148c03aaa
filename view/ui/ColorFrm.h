#pragma once
#include "view/DisplayColours.h"
#include "view/ui/ToolWindow.h"

class QTableWidget;

namespace tarvex {

// The display settings window "表示設定": the conditions with their colours
// and their ON/OFF switch. Modeless, above the main window.
class ColorFrm final : public ToolWindow {
    Q_OBJECT
public:
    // closed: the main window's closing steps (every condition visible, the plot redrawn, "vw" released).
    ColorFrm(ToolWindowContext context, DisplayColours logic, std::function<void()> closed, QWidget* parent);

    QTableWidget* MSFlexGrid1;
    const DisplayColours& logic() const { return logic_; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void MSFlexGrid1_MouseUp(int row, int column);
    void showRow(int k);

    DisplayColours logic_;
    std::function<void()> closed_;
};

} // namespace tarvex
