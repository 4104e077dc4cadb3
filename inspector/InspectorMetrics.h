#pragma once

#include <QRect>

// The inspector grid's measures, worked out from the height of the text "0" in the grid's font
// and the grid's own sizes, so that rows and columns keep their proportions in any font.
namespace InspectorMetrics {

// The grid draws no lines of its own; its measures count one pixel for each.
constexpr int kGridLineWidth = 1;

// A row: the text and 3 pixels.
int RowHeight(int textHeight);
// The in-place controls over the current value: the text and 2 pixels (the buttons square).
int InplaceHeight(int textHeight);
// The name column as the window first shows it: half the grid less 10 pixels.
int DefaultNameWidth(int gridWidth);
// Whether every row fits into the grid's client height (no vertical scroll bar needed).
bool RowsFit(int rowCount, int rowHeight, int clientHeight);
// The value column takes what the name column, a line either side and 3 pixels leave of the
// grid, and the scroll bar's width less when the rows do not all fit; never below 0.
int ValueColumnWidth(int gridWidth, int nameWidth, int lineWidth, int scrollBarWidth, bool rowsFit);
// Where the in-place controls go over a value cell (in the cell's coordinates): 3 pixels in from
// its left, 1 down from its top, to its right end, InplaceHeight tall.
QRect InplaceRect(const QRect& cell, int textHeight);

} // namespace InspectorMetrics
