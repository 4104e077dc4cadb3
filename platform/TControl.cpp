#include "platform/TControl.h"

#include <algorithm>

TControl::TControl(QWidget* parent) : QWidget(parent), m_margins(new TMargins(this)) {}

void TControl::SetBounds(int left, int top, int width, int height) {
    setGeometry(left, top, std::max(0, width), std::max(0, height));
}

void TControl::setCursorId(TCursor v) {
    m_cursor = v;
    if (v == 0)
        unsetCursor();
    else
        setCursor(CursorShapeFor(v));
}

void TControl::setHint(const QString& v) {
    m_hint = v;
    setToolTip(v);
}

void TControl::EndLoading() {
    if (!m_loading)
        return;
    m_loading = false;
    Loaded();
}

Qt::CursorShape CursorShapeFor(TCursor id) {
    switch (id) {
    case -1:
        return Qt::BlankCursor;
    case -3:
        return Qt::CrossCursor;
    case -4:
        return Qt::IBeamCursor;
    case -6:
        return Qt::SizeBDiagCursor;
    case -7:
        return Qt::SizeVerCursor;
    case -8:
        return Qt::SizeFDiagCursor;
    case -9:
        return Qt::SizeHorCursor;
    case -10:
        return Qt::UpArrowCursor;
    case -11:
        return Qt::WaitCursor;
    case -12:
        return Qt::DragMoveCursor;
    case -13:
        return Qt::ForbiddenCursor;
    case -14:
        return Qt::SplitHCursor;
    case -15:
        return Qt::SplitVCursor;
    case -16:
        return Qt::DragCopyCursor;
    case -17:
        return Qt::BusyCursor;
    case -18:
        return Qt::ForbiddenCursor;
    case -19:
        return Qt::BusyCursor;
    case -20:
        return Qt::WhatsThisCursor;
    case -21:
        return Qt::PointingHandCursor;
    case -22:
        return Qt::SizeAllCursor;
    default:
        return Qt::ArrowCursor;
    }
}
