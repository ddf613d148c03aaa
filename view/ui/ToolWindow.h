#pragma once
#include <QWidget>
#include <functional>

namespace tarvex {

class SettingsStore;

// What a tool window of the plot needs of the main window: the settings for
// its place, the conversion between twips and pixels, the screen's size.
struct ToolWindowContext {
    SettingsStore& settings;
    std::function<int(int, bool)> px;    // twips to pixels (vertical when true)
    std::function<int(int, bool)> twips; // pixels to twips
    int screenWidth, screenHeight;       // twips
    // Where it may stand over the main window, on the screen, when there is
    // no room beside it: the editor, whose lines leave its right side free.
    QRect free;
};

// A modeless window above the main window (a tool window of it, so never
// above a modal dialog, which the user must see) that opens where it was last
// (kept on the screen) and remembers its place when it closes.
class ToolWindow : public QWidget {
    Q_OBJECT
public:
    // keys: the settings of left, top, width and height, in twips.
    ToolWindow(ToolWindowContext context, const char* const keys[4], const int defaults[4], QWidget* parent);

protected:
    void savePlace();
    ToolWindowContext tc_;

private:
    const char* const* keys_;
};

} // namespace tarvex
