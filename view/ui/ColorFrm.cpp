#include "view/ui/ColorFrm.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>

namespace tarvex {
namespace {

const char* const placeKeys[4] = {"ClLeft", "ClTop", "ClWidth", "ClHeight"};
constexpr int placeDefaults[4] = {0, 0, 2370, 5100};
constexpr int columnTwips[3] = {1000, 600, 600};
constexpr int rowTwips = 240;

QColor qcolour(std::uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

} // namespace

ColorFrm::ColorFrm(ToolWindowContext context, DisplayColours logic, std::function<void()> closed, QWidget* parent)
    : ToolWindow(std::move(context), placeKeys, placeDefaults, parent), logic_(std::move(logic)),
      closed_(std::move(closed))
{
    setObjectName("ColorFrm");
    setWindowTitle("表示設定");
    MSFlexGrid1 = new QTableWidget(DisplayColours::rowCount - 1, 3, this);
    MSFlexGrid1->setObjectName("MSFlexGrid1");
    MSFlexGrid1->setHorizontalHeaderLabels({"条件", "色", "表示"});
    MSFlexGrid1->verticalHeader()->hide();
    // Cells act on a click; none is edited in place or shown selected over its colour.
    MSFlexGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MSFlexGrid1->setSelectionMode(QAbstractItemView::NoSelection);
    MSFlexGrid1->setFocusPolicy(Qt::NoFocus);
    for (int c = 0; c < 3; ++c)
        MSFlexGrid1->setColumnWidth(c, tc_.px(columnTwips[c], false));
    // Rows of a text line, as many as the window's first size holds.
    const int rowHeight = std::max(tc_.px(rowTwips, true), fontMetrics().height() + 2);
    MSFlexGrid1->verticalHeader()->setMinimumSectionSize(1);
    MSFlexGrid1->verticalHeader()->setDefaultSectionSize(rowHeight);
    MSFlexGrid1->horizontalHeader()->setFixedHeight(rowHeight);
    for (int k = 1; k < DisplayColours::rowCount; ++k)
        for (int c = 0; c < 3; ++c)
            MSFlexGrid1->setItem(k - 1, c, new QTableWidgetItem);
    for (int k = 1; k < DisplayColours::rowCount; ++k)
        showRow(k);
    // A click on the header row is no cell: it does nothing.
    connect(MSFlexGrid1, &QTableWidget::cellClicked, this,
            [this](int row, int column) { MSFlexGrid1_MouseUp(row + 1, column); });
}

void ColorFrm::showRow(int k)
{
    const ColourRow& r = logic_.rows[k];
    QTableWidgetItem* name = MSFlexGrid1->item(k - 1, DisplayColours::Name);
    QTableWidgetItem* swatch = MSFlexGrid1->item(k - 1, DisplayColours::Colour);
    QTableWidgetItem* show = MSFlexGrid1->item(k - 1, DisplayColours::Show);
    name->setText(QString::fromStdString(r.name));
    if (r.swatch) {
        swatch->setBackground(qcolour(r.colour));
        swatch->setForeground(qcolour(r.colour));
    } else {
        swatch->setBackground(QBrush());
    }
    show->setText(QString::fromStdString(r.show));
    show->setForeground(r.show == "OFF" ? QColor(255, 0, 0) : QColor(0, 0, 0));
}

void ColorFrm::MSFlexGrid1_MouseUp(int row, int column)
{
    logic_.mouseUp(row, column, true);
    showRow(row);
}

void ColorFrm::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    MSFlexGrid1->setGeometry(rect());
}

void ColorFrm::closeEvent(QCloseEvent* e)
{
    closed_();
    savePlace();
    e->accept();
}

} // namespace tarvex
