#pragma once
#include "app/MainView.h"
#include "app/TarvexMain.h"
#include "platform/SerialPort.h"

#include <QMainWindow>
#include <QPointer>
#include <map>
#include <memory>

class QAction;
class QLabel;
class QTimer;

namespace tarvex {

class CommPanel;
class PlotPicture;
class PlotStrip;
class Leng_Frm;
class ColorFrm;
class M_EditFrm;
class MonitorFrm;
class QtFileChooser;
struct ToolWindowContext;
class RichTextBox;

// The main window: builds the controls and menus, and forwards every event
// to its logic (TarvexMain).
class TarvexFrm final : public QMainWindow, public MainView {
    Q_OBJECT
public:
    // The two serial ports are the window's: MSComm1 for the transfers,
    // MSComm2 for the tape run.
    TarvexFrm(ProcessState& state, FileSystem& fs, const TextCodec& codec, UiServices& ui,
              const SystemFolders& folders, SerialPort& MSComm1, SerialPort& MSComm2);
    ~TarvexFrm() override;

    TarvexMain& logic() { return *main_; }
    RichTextBox* editor() const { return RichTextBox1; }
    CommPanel* frame1() const { return Frame1; }
    PlotPicture* picture1() const { return Picture1; }
    PlotStrip* picture2() const { return Picture2; }
    QAction* menuAction(Menu item) const { return actions_.at(item); }
    std::string statusText(int panel) const override;

    // Twips and pixels, by the screen's logical resolution.
    int px(int twips, bool vertical = false) const;
    int twips(int px, bool vertical = false) const;

    // MainView
    void setMenuChecked(Menu item, bool checked) override;
    void setMenuEnabled(Menu item, bool enabled) override;
    void setMenuCaption(Menu item, const std::string& caption, bool visible) override;
    void setCaption(const std::string& caption) override;
    void setStatusText(int panel, const std::string& text) override;
    void repaintStatus() override;
    void setToolButton(ToolKey key, bool pressed) override;
    void setToolbarEnabled(bool enabled) override;
    void setPlotCursor(PlotCursor cursor) override;
    void openLengthWindow(bool open) override;
    void openColourWindow(bool open) override;
    void setLengthReport(const std::string& text) override;
    void setTimeReport(const std::string& text) override;
    Leng_Frm* lengthWindow() const;
    ColorFrm* colourWindow() const;
    M_EditFrm* markingEditor() const;
    int screenWidth() const override;
    int screenHeight() const override;
    Rect windowRect() const override;
    void setWindowRect(const Rect& r) override;
    int innerWidth() const override;
    int innerHeight() const override;
    int statusBarHeight() const override;
    bool isMinimized() const override;
    bool isMaximized() const override;
    void restoreWindow() override;
    void place(Area area, const Rect& r, bool visible) override;
    void setProfileList(const std::vector<std::string>& names, int selected) override;
    std::string profileText() const override;
    void arrangePanel(const PanelArrangement& arrangement) override;
    void setSlider1(int value) override;
    void setCommand5Enabled(bool enabled) override;
    void setPanelEnabled(PanelControl control, bool enabled) override;
    bool panelEnabled(PanelControl control) const override;
    void setCancelEnabled(bool enabled) override;
    void setProfileBoxEnabled(bool enabled) override;
    void setPlotEnabled(bool enabled) override;
    int slider1() const override;
    void focusEditor() override;
    void setSlider2(int value) override;
    int slider2() const override;
    void setLabel2(const std::string& text) override;
    void erasePlot() override;
    void replayTimer(std::optional<std::chrono::microseconds> after) override;
    DrawingSurface& plotSurface() override;
    void showWindow() override;
    void showComparison(const std::string& firstTitle, const std::string& secondTitle,
                        std::unique_ptr<Comparison> comparison) override;

signals:
    // The window has closed and run its close request: the application ends.
    void ended();

protected:
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void buildMenus();
    void Command5_Click();
    void onMenu(Menu item);
    int menuBarHeight() const;
    QWidget* panelControl(PanelControl control) const;
    QMargins frameMargins() const;
    void fitFrame();
    ToolWindowContext toolWindowContext();
    void MnuMEdit_Click();
    void MnuVar_Click();
    void showHelp(QWidget* over);
    void goToLine();
    // The restart window for the caret's line; the output starts once it has closed.
    void restartFromHere(bool tapeRun);

    RichTextBox* RichTextBox1;
    CommPanel* Frame1;
    PlotPicture* Picture1;
    PlotStrip* Picture2;
    QLabel* panel1_;
    QLabel* panel3_;
    QLabel* panel2_;
    QTimer* replayTimer_;
    std::map<Menu, QAction*> actions_;
    int dpiX_ = 96, dpiY_ = 96;
    // The last rectangle set in twips, and where it put the window: read back
    // unchanged while the window stays there, so twips survive the pixel grid.
    Rect setRect_;
    QRect setGeometry_;
    QMargins setMargins_;   // the window manager's frame when the rectangle was set
    QSize setClientSize_;
    bool inResize_ = false;
    bool closed_ = false;
    ProcessState& state_;
    FileSystem& fs_;
    const TextCodec& codec_;
    UiServices& ui_;
    std::unique_ptr<TarvexMain> main_;
    QPointer<Leng_Frm> lengthWindow_;
    QPointer<ColorFrm> colourWindow_;
    QPointer<M_EditFrm> markingEditor_;
    QPointer<MonitorFrm> monitorWindow_;
    std::unique_ptr<QtFileChooser> monitorChooser_;
};

} // namespace tarvex
