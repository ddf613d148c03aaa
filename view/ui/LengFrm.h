#pragma once
#include <QWidget>
#include <array>
#include <functional>

class QLineEdit;
class QRadioButton;
class QToolButton;

namespace tarvex {

class SettingsStore;

// The path length window "周長": chooses whether a click on the plot takes
// one element or a whole chain, and whether it selects or releases; shows
// the total. Modeless, above the main window.
class Leng_Frm final : public QWidget {
    Q_OBJECT
public:
    struct Context {
        SettingsStore& settings;
        std::function<void(int)> setTool;   // the main window's toolMode and cursor
        std::function<void()> closed;       // the main window's closing steps
        std::function<int(int, bool)> px;   // twips to pixels (vertical when true)
        std::function<int(int, bool)> twips;
        int screenWidth, screenHeight;      // twips
    };
    Leng_Frm(Context context, QWidget* parent);

    QToolButton* tansen;
    QToolButton* lenzoku;
    std::array<QRadioButton*, 2> Option1; // 選択, 解除
    QLineEdit* Text1;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void Toolbar1_ButtonClick(QToolButton* button);
    void Option1_Click();

    Context c_;
    QWidget* bar_;
};

} // namespace tarvex
