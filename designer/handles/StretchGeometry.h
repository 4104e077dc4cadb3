#pragma once

#include "platform/Toolkit.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QtGlobal>

// A snap step of the selection frame: an unsigned byte limited to 1..32.
using GridValues = quint8;

// The rules of the selection frame, apart from any widget. Rectangles are in the parent's
// coordinates unless said otherwise; a frame rectangle is the selection grown by FrameLead on
// the left and top and by FrameTrail on the right and bottom.
namespace StretchGeometry {

constexpr int FrameLead = 2;
constexpr int FrameTrail = 3;
constexpr int SquareSize = 5;
constexpr int MinFrameSize = 5;
constexpr int IdleFrameSize = 24;
constexpr GridValues GridMin = 1;
constexpr GridValues GridMax = 32;
constexpr GridValues SnapStep = 8;

// Grab zones: 0 moves, 1..4 corners, 5..8 edge middles.
enum Zone {
    zMove = 0,
    zTopLeft = 1,
    zTopRight = 2,
    zBottomLeft = 3,
    zBottomRight = 4,
    zTop = 5,
    zLeft = 6,
    zBottom = 7,
    zRight = 8,
};

// Cursor identifiers used by the frame.
constexpr TCursor crDefault = 0;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;

// The frame around one control.
QRect FrameForControl(const QRect& control);

// The frame grown to take in one more control.
QRect GrowFrame(const QRect& frame, const QRect& control);

// The frame around all of the controls (empty list: an empty rectangle).
QRect FrameForControls(const QList<QRect>& controls);

// The 5 x 5 squares to paint, in frame coordinates: four corners per control, and with exactly
// one control also the four edge middles.
QList<QRect> HandleSquares(const QRect& frame, const QList<QRect>& controls);

// A control's rectangle grown by FrameLead on every side, in frame coordinates: presses inside it
// belong to the frame.
QRect GrabRect(const QRect& frame, const QRect& control);

// The grab zone under point p of a frame of the given size; 0 unless sizing is offered (exactly
// one control selected and the frame sizable).
int ZoneAt(QPoint p, QSize frameSize, bool sizingOffered);

// The cursor shown over a zone (no-drop when locked).
TCursor CursorForZone(int zone, bool locked = false);

// v snapped down to a multiple of step, truncating toward zero.
int Snap(int v, int step);

// A pointer in frame coordinates limited so that it lies on the parent.
QPoint ClampPointer(QPoint p, QPoint frameTopLeft, QSize parentSize);

// The frame after dragging zone from origin to pointer (both in frame coordinates).
QRect DraggedFrame(QPoint pointer, QPoint origin, const QRect& frame, int zone, int gridX,
                   int gridY);

// Where the controls go when the frame's bounds change from one rectangle to another: each is
// moved and sized by the same differences.
QList<QRect> FollowFrame(const QRect& from, const QRect& to, const QList<QRect>& controls);

// The outline of where the controls land for a dragged frame: the frame without its margins.
QRect RubberBandRect(const QRect& frame);

// A moved frame shifted back, when needed, so that at least `keep` pixels of the controls it
// holds (the frame less its margins) stay on a parent of the given size each way: a brick is
// never dragged wholly off the photo.
QRect KeptOnParent(const QRect& frame, QSize parent, int keep = 8);

// The frame after an arrow key: a move by one pixel, or with resize a change of width or height
// by one (never below MinFrameSize). dx, dy are -1, 0 or 1.
QRect NudgedFrame(const QRect& frame, int dx, int dy, bool resize);

// SnapToGrid has no storage: it reads the steps and writes both of them.
bool SnapToGridOf(int gridX, int gridY);
GridValues GridForSnap(bool snap);

// A snap step limited to 1..32.
GridValues ClampGrid(int v);

} // namespace StretchGeometry
