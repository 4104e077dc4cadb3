#include "designer/handles/StretchGeometry.h"

#include "platform/Rounding.h"

#include <algorithm>
#include <cstdlib>

namespace StretchGeometry {

QRect FrameForControl(const QRect& control) {
    return QRect(control.x() - FrameLead, control.y() - FrameLead,
                 control.width() + FrameLead + FrameTrail,
                 control.height() + FrameLead + FrameTrail);
}

QRect GrowFrame(const QRect& frame, const QRect& control) {
    const int left = std::min(frame.x(), control.x() - FrameLead);
    const int top = std::min(frame.y(), control.y() - FrameLead);
    const int right =
        std::max(frame.x() + frame.width() - FrameTrail, control.x() + control.width());
    const int bottom =
        std::max(frame.y() + frame.height() - FrameTrail, control.y() + control.height());
    return QRect(left, top, right - left + FrameTrail, bottom - top + FrameTrail);
}

QRect FrameForControls(const QList<QRect>& controls) {
    QRect frame;
    for (qsizetype i = 0; i < controls.size(); ++i)
        frame = i == 0 ? FrameForControl(controls[i]) : GrowFrame(frame, controls[i]);
    return frame;
}

QRect GrabRect(const QRect& frame, const QRect& control) {
    return QRect(control.x() - frame.x() - FrameLead, control.y() - frame.y() - FrameLead,
                 control.width() + 2 * FrameLead, control.height() + 2 * FrameLead);
}

QList<QRect> HandleSquares(const QRect& frame, const QList<QRect>& controls) {
    QList<QRect> squares;
    const bool single = controls.size() == 1;
    for (const QRect& c : controls) {
        const QRect r = GrabRect(frame, c);
        const int l = r.x(), t = r.y();
        const int rt = l + r.width(), b = t + r.height(); // exclusive
        const int s = SquareSize;
        squares << QRect(l, t, s, s) << QRect(rt - s, t, s, s) << QRect(rt - s, b - s, s, s)
                << QRect(l, b - s, s, s);
        if (single) {
            const int mx = RoundHalfEven((rt - l) / 2.0);
            const int my = RoundHalfEven((b - t) / 2.0);
            squares << QRect(l + mx - 2, t, s, s) << QRect(l + mx - 2, b - s, s, s)
                    << QRect(l, t + my - 2, s, s) << QRect(rt - s, t + my - 2, s, s);
        }
    }
    return squares;
}

int ZoneAt(QPoint p, QSize frameSize, bool sizingOffered) {
    if (!sizingOffered)
        return zMove;
    const int x = p.x(), y = p.y();
    const int w = frameSize.width(), h = frameSize.height();
    const double midX = w / 2.0, midY = h / 2.0;
    const auto near = [](double d, double limit) { return std::abs(d) < limit; };
    // Tested in this order; a later match wins.
    int zone = zMove;
    if (near(x, 5) && near(y, 5))
        zone = zTopLeft;
    if (near(x - w, 5) && near(y - h, 5))
        zone = zBottomRight;
    if (near(x - w, 5) && near(y, 5))
        zone = zTopRight;
    if (near(x, 5) && near(y - h, 5))
        zone = zBottomLeft;
    if (near(x - midX, 3) && near(y, 5))
        zone = zTop;
    if (near(x - midX, 3) && near(y - h, 5))
        zone = zBottom;
    if (near(y - midY, 3) && near(x, 5))
        zone = zLeft;
    if (near(y - midY, 3) && near(x - w, 5))
        zone = zRight;
    return zone;
}

TCursor CursorForZone(int zone, bool locked) {
    if (locked)
        return crNoDrop;
    switch (zone) {
    case zTopLeft:
    case zBottomRight:
        return crSizeNWSE;
    case zTopRight:
    case zBottomLeft:
        return crSizeNESW;
    case zTop:
    case zBottom:
        return crSizeNS;
    case zLeft:
    case zRight:
        return crSizeWE;
    default:
        return crDefault;
    }
}

int Snap(int v, int step) {
    return step <= 1 ? v : step * (v / step);
}

QPoint ClampPointer(QPoint p, QPoint frameTopLeft, QSize parentSize) {
    return QPoint(std::clamp(p.x(), -frameTopLeft.x(), parentSize.width() - frameTopLeft.x()),
                  std::clamp(p.y(), -frameTopLeft.y(), parentSize.height() - frameTopLeft.y()));
}

// The snap is applied to the edge of the controls, not to the frame's own edge: with a step of 1
// the dragged edge follows the pointer exactly, with a larger step it lands on a multiple of the
// step, and the frame keeps its margins of 2 (left, top) and 3 (right, bottom) around it.
QRect DraggedFrame(QPoint pointer, QPoint origin, const QRect& frame, int zone, int gridX,
                   int gridY) {
    const int dx = pointer.x() - origin.x();
    const int dy = pointer.y() - origin.y();
    const int lf = frame.x(), tf = frame.y(), wf = frame.width(), hf = frame.height();
    int left = lf, top = tf, width = wf, height = hf;

    const bool leftMoves = zone == zTopLeft || zone == zBottomLeft || zone == zLeft;
    const bool topMoves = zone == zTopLeft || zone == zTopRight || zone == zTop;
    const bool rightMoves = zone == zTopRight || zone == zBottomRight || zone == zRight;
    const bool bottomMoves = zone == zBottomLeft || zone == zBottomRight || zone == zBottom;

    if (zone == zMove) {
        left = Snap(lf + FrameLead + dx, gridX) - FrameLead;
        top = Snap(tf + FrameLead + dy, gridY) - FrameLead;
    }
    if (leftMoves) {
        left = Snap(lf + FrameLead + dx, gridX) - FrameLead;
        width = wf + lf - left;
    }
    if (topMoves) {
        top = Snap(tf + FrameLead + dy, gridY) - FrameLead;
        height = hf + tf - top;
    }
    if (rightMoves)
        width = Snap(lf + wf - FrameTrail + dx, gridX) + FrameTrail - lf;
    if (bottomMoves)
        height = Snap(tf + hf - FrameTrail + dy, gridY) + FrameTrail - tf;

    return QRect(left, top, std::max(width, MinFrameSize), std::max(height, MinFrameSize));
}

QList<QRect> FollowFrame(const QRect& from, const QRect& to, const QList<QRect>& controls) {
    QList<QRect> moved;
    moved.reserve(controls.size());
    for (const QRect& c : controls)
        moved << QRect(c.x() + to.x() - from.x(), c.y() + to.y() - from.y(),
                       c.width() + to.width() - from.width(),
                       c.height() + to.height() - from.height());
    return moved;
}

QRect RubberBandRect(const QRect& frame) {
    return QRect(frame.x() + FrameLead, frame.y() + FrameLead,
                 frame.width() - FrameLead - FrameTrail, frame.height() - FrameLead - FrameTrail);
}

QRect NudgedFrame(const QRect& frame, int dx, int dy, bool resize) {
    if (!resize)
        return frame.translated(dx, dy);
    return QRect(frame.x(), frame.y(), std::max(frame.width() + dx, MinFrameSize),
                 std::max(frame.height() + dy, MinFrameSize));
}

bool SnapToGridOf(int gridX, int gridY) {
    return gridX > 1 || gridY > 1;
}

GridValues GridForSnap(bool snap) {
    return snap ? SnapStep : GridMin;
}

GridValues ClampGrid(int v) {
    return static_cast<GridValues>(std::clamp(v, int(GridMin), int(GridMax)));
}

} // namespace StretchGeometry

QRect StretchGeometry::KeptOnParent(const QRect& frame, QSize parent, int keep) {
    const QRect inner = frame.adjusted(2, 2, -3, -3);
    QRect out = frame;
    const auto shift = [keep](int start, int end, int extent) {
        const int k = std::min(keep, std::max(1, end - start + 1));
        if (end < k - 1)
            return k - 1 - end;
        if (start > extent - k)
            return extent - k - start;
        return 0;
    };
    out.translate(shift(inner.left(), inner.right(), parent.width()),
                  shift(inner.top(), inner.bottom(), parent.height()));
    return out;
}
