#include "view/ui/ToolWindow.h"
#include "view/PlotTools.h"

namespace tarvex {

ToolWindow::ToolWindow(ToolWindowContext context, const char* const keys[4], const int defaults[4], QWidget* parent)
    : QWidget(parent, Qt::Tool), tc_(std::move(context)), keys_(keys)
{
    setAttribute(Qt::WA_DeleteOnClose);
    const ToolWindowPlace p = toolWindowPlace(tc_.settings, keys, defaults, tc_.screenWidth, tc_.screenHeight);
    move(tc_.px(p.left, false), tc_.px(p.top, true));
    resize(tc_.px(p.width, false), tc_.px(p.height, true));
}

void ToolWindow::savePlace()
{
    const QRect r = frameGeometry();
    saveToolWindowPlace(tc_.settings, keys_,
                        {tc_.twips(r.x(), false), tc_.twips(r.y(), true), tc_.twips(width(), false),
                         tc_.twips(height(), true)});
}

} // namespace tarvex
