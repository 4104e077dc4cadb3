#include "inspector/InspectorMetrics.h"

#include <algorithm>

namespace InspectorMetrics {

int RowHeight(int textHeight) {
    return textHeight + 3;
}

int InplaceHeight(int textHeight) {
    return textHeight + 2;
}

int DefaultNameWidth(int gridWidth) {
    return gridWidth / 2 - 10;
}

bool RowsFit(int rowCount, int rowHeight, int clientHeight) {
    return qint64(rowCount) * rowHeight <= clientHeight;
}

int ValueColumnWidth(int gridWidth, int nameWidth, int lineWidth, int scrollBarWidth,
                     bool rowsFit) {
    int width = gridWidth - nameWidth - 2 * lineWidth - 3;
    if (!rowsFit)
        width -= scrollBarWidth;
    return std::max(0, width);
}

QRect InplaceRect(const QRect& cell, int textHeight) {
    return QRect(cell.left() + 3, cell.top() + 1, std::max(0, cell.width() - 3),
                 InplaceHeight(textHeight));
}

} // namespace InspectorMetrics
