#include "view/ui/ToolWindow.h"
#include "platform/SettingsStore.h"
#include "view/PlotTools.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace tarvex {

ToolWindow::ToolWindow(ToolWindowContext context, const char* const keys[4], const int defaults[4], QWidget* parent)
    : QWidget(parent, Qt::Tool), tc_(std::move(context)), keys_(keys)
{
    setAttribute(Qt::WA_DeleteOnClose);
    const ToolWindowPlace p = toolWindowPlace(tc_.settings, keys, defaults, tc_.screenWidth, tc_.screenHeight);
    resize(tc_.px(p.width, false), tc_.px(p.height, true));
    if (!parent || !tc_.settings.read("Tarvex", keys[0], "").empty()) {
        move(tc_.px(p.left, false), tc_.px(p.top, true));
        return;
    }
    // The first time: beside the main window, right or left where there is
    // room, else over the lower right of the editor; never over the menus,
    // the plot or its keys.
    const QRect main = parent->window()->frameGeometry();
    QScreen* screen = parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : main;
    const int frame = 30; // the window manager's title bar and borders, not known before it is shown
    int x = main.right() + 1, y = main.top() + frame;
    if (x + width() > room.right())
        x = main.left() - width() - frame / 3;
    if (x < room.left() && tc_.free.isValid()) {
        x = tc_.free.right() - width() - frame / 3;
        y = tc_.free.bottom() - height() - frame * 2;
    }
    move(std::clamp(x, room.left(), std::max(room.left(), room.right() - width())),
         std::clamp(y, room.top(), std::max(room.top(), room.bottom() - height() - frame)));
}

void ToolWindow::savePlace()
{
    const QRect r = frameGeometry();
    saveToolWindowPlace(tc_.settings, keys_,
                        {tc_.twips(r.x(), false), tc_.twips(r.y(), true), tc_.twips(width(), false),
                         tc_.twips(height(), true)});
}

} // namespace tarvex
