#pragma once
#include "view/PlotTools.h"
#include "app/Layout.h"
#include "app/MenuTree.h"
#include "program/Compare.h"
#include "platform/DrawingSurface.h"
#include "serial/DeviceProfile.h"
#include "serial/Transfers.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvex {

enum class Area { Editor, Frame1, Picture1, Picture2 };

// The main window TarvexFrm as its logic sees it. Sizes in twips.
class MainView {
public:
    virtual ~MainView() = default;

    virtual void setMenuChecked(Menu item, bool checked) = 0;
    virtual void setMenuEnabled(Menu item, bool enabled) = 0;
    virtual void setMenuCaption(Menu item, const std::string& caption, bool visible) = 0;
    virtual void setCaption(const std::string& caption) = 0;
    // Panel 1 or 2 of the status bar StatusBar1.
    // Panel 1 messages, 2 the file or the pointer's place, 3 the whole
    // program's machining time.
    virtual void setStatusText(int panel, const std::string& text) = 0;
    virtual std::string statusText(int panel) const = 0;
    // Paints the status bar now, without letting any input in.
    virtual void repaintStatus() = 0;

    // The graphics toolbar Toolbar1 and the plot's mouse cursor.
    virtual void setToolButton(ToolKey key, bool pressed) = 0;
    virtual void setToolbarEnabled(bool enabled) = 0;
    enum class PlotCursor { Default, Move, Zoom, Cross };
    virtual void setPlotCursor(PlotCursor cursor) = 0;
    // The tool windows the toolbar opens and closes (modeless, above the main window).
    virtual void openLengthWindow(bool open) = 0;
    virtual void openColourWindow(bool open) = 0;
    // The text of the path length window.
    virtual void setLengthReport(const std::string& text) = 0;
    virtual void setTimeReport(const std::string& text) = 0;

    virtual int screenWidth() const = 0;
    virtual int screenHeight() const = 0;
    virtual Rect windowRect() const = 0; // outer
    virtual void setWindowRect(const Rect& r) = 0;
    virtual int innerWidth() const = 0;
    virtual int innerHeight() const = 0; // status bar included
    virtual int statusBarHeight() const = 0;
    virtual bool isMinimized() const = 0;
    virtual bool isMaximized() const = 0;
    // Back from minimised or maximised to the normal state.
    virtual void restoreWindow() = 0;

    virtual void place(Area area, const Rect& r, bool visible) = 0;

    // The profile box Combo5: its entries, the selected one (-1 none), its text.
    virtual void setProfileList(const std::vector<std::string>& names, int selected) = 0;
    virtual std::string profileText() const = 0;
    // The communication panel: its button places, the speed slider Slider1,
    // the scroll box Check1 and the settings button Command5.
    virtual void arrangePanel(const PanelArrangement& arrangement) = 0;
    virtual void setSlider1(int value) = 0;
    virtual void setCommand5Enabled(bool enabled) = 0;
    virtual void setPanelEnabled(PanelControl control, bool enabled) = 0;
    virtual bool panelEnabled(PanelControl control) const = 0;
    virtual void setCancelEnabled(bool enabled) = 0;
    virtual void setProfileBoxEnabled(bool enabled) = 0;
    virtual void setPlotEnabled(bool enabled) = 0;
    virtual int slider1() const = 0;
    virtual void focusEditor() = 0;
    virtual void setSlider2(int value) = 0;
    virtual int slider2() const = 0;
    virtual void setLabel2(const std::string& text) = 0;
    virtual void erasePlot() = 0;
    // Calls the logic's replayTick() once after the time given; none stops it.
    virtual void replayTimer(std::optional<std::chrono::microseconds> after) = 0;
    // The plot Picture1 as a drawing surface.
    virtual DrawingSurface& plotSurface() = 0;
    virtual void showWindow() = 0;
    // The program in the editor beside a second one, their differences marked.
    virtual void showComparison(const std::string& firstTitle, const std::string& secondTitle,
                                std::unique_ptr<Comparison> comparison) = 0;
};

} // namespace tarvex
