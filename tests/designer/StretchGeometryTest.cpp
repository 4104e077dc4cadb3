#include "designer/handles/StretchGeometry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace StretchGeometry;

namespace {

// A control at (100, 50) of 80 x 20 and its frame.
const QRect Control(100, 50, 80, 20);
const QRect Frame(98, 48, 85, 25);

} // namespace

// --- Frame around the selection --------------------------------------------------------------

TEST(StretchFrameTest, OneControlIsGrownByTwoAndThree) {
    EXPECT_EQ(FrameForControl(Control), Frame);
    EXPECT_EQ(FrameForControl(QRect(0, 0, 0, 0)), QRect(-2, -2, 5, 5));
}

TEST(StretchFrameTest, SecondControlGrowsTheFrameToTheUnion) {
    // left 8, top 8, right' = max(180, 15) = 180, bottom' = max(70, 15) = 70
    EXPECT_EQ(GrowFrame(Frame, QRect(10, 10, 5, 5)), QRect(8, 8, 175, 65));
    // A control inside the frame leaves it as it is.
    EXPECT_EQ(GrowFrame(Frame, QRect(120, 55, 10, 10)), Frame);
    // Growing to the right and bottom keeps the 3-pixel trailing margin.
    EXPECT_EQ(GrowFrame(Frame, QRect(170, 60, 30, 40)), QRect(98, 48, 105, 55));
    // The union does not depend on the order of the controls.
    EXPECT_EQ(FrameForControls({QRect(10, 10, 5, 5), Control}), QRect(8, 8, 175, 65));
    EXPECT_EQ(FrameForControls({Control, QRect(10, 10, 5, 5)}), QRect(8, 8, 175, 65));
}

TEST(StretchFrameTest, GrabRectIsTheControlGrownByTwoInFrameCoordinates) {
    EXPECT_EQ(GrabRect(Frame, Control), QRect(0, 0, 84, 24));
    EXPECT_EQ(GrabRect(QRect(8, 8, 175, 65), QRect(10, 10, 5, 5)), QRect(0, 0, 9, 9));
    // Right and bottom are exclusive.
    EXPECT_TRUE(GrabRect(Frame, Control).contains(QPoint(83, 23)));
    EXPECT_FALSE(GrabRect(Frame, Control).contains(QPoint(84, 23)));
    EXPECT_FALSE(GrabRect(Frame, Control).contains(QPoint(83, 24)));
}

// --- Squares -----------------------------------------------------------------------------------

TEST(StretchSquaresTest, OneControlHasCornersAndEdgeMiddles) {
    // R = (0, 0)-(84, 24); mx = 42, my = 12
    const QList<QRect> expected{QRect(0, 0, 5, 5),  QRect(79, 0, 5, 5), QRect(79, 19, 5, 5),
                                QRect(0, 19, 5, 5), QRect(40, 0, 5, 5), QRect(40, 19, 5, 5),
                                QRect(0, 10, 5, 5), QRect(79, 10, 5, 5)};
    EXPECT_EQ(HandleSquares(Frame, {Control}), expected);
}

TEST(StretchSquaresTest, EdgeMiddlesRoundHalvesToEven) {
    // Width 81: (85) / 2 = 42.5 -> 42; height 21: 25 / 2 = 12.5 -> 12.
    QRect c(100, 50, 81, 21);
    QList<QRect> sq = HandleSquares(FrameForControl(c), {c});
    ASSERT_EQ(sq.size(), 8);
    EXPECT_EQ(sq[4], QRect(40, 0, 5, 5));
    EXPECT_EQ(sq[6], QRect(0, 10, 5, 5));
    // Width 83: 87 / 2 = 43.5 -> 44; height 23: 27 / 2 = 13.5 -> 14.
    c = QRect(100, 50, 83, 23);
    sq = HandleSquares(FrameForControl(c), {c});
    ASSERT_EQ(sq.size(), 8);
    EXPECT_EQ(sq[5], QRect(42, 22, 5, 5));
    EXPECT_EQ(sq[7], QRect(82, 12, 5, 5));
}

TEST(StretchSquaresTest, SeveralControlsHaveCornersOnly) {
    const QRect small(10, 10, 5, 5);
    const QRect frame = FrameForControls({Control, small});
    const QList<QRect> expected{
        // Control: R = (90, 40)-(174, 64) in frame coordinates
        QRect(90, 40, 5, 5), QRect(169, 40, 5, 5), QRect(169, 59, 5, 5), QRect(90, 59, 5, 5),
        // small: R = (0, 0)-(9, 9)
        QRect(0, 0, 5, 5), QRect(4, 0, 5, 5), QRect(4, 4, 5, 5), QRect(0, 4, 5, 5)};
    EXPECT_EQ(HandleSquares(frame, {Control, small}), expected);
    EXPECT_TRUE(HandleSquares(frame, {}).isEmpty());
}

// --- Grab zones --------------------------------------------------------------------------------

TEST(StretchZoneTest, PointsOfAn85By25Frame) {
    const QSize size(85, 25);
    EXPECT_EQ(ZoneAt(QPoint(2, 2), size, true), zTopLeft);
    EXPECT_EQ(ZoneAt(QPoint(44, 1), size, true), zTop);
    EXPECT_EQ(ZoneAt(QPoint(1, 11), size, true), zLeft);
    EXPECT_EQ(ZoneAt(QPoint(84, 24), size, true), zBottomRight);
    EXPECT_EQ(ZoneAt(QPoint(84, 1), size, true), zTopRight);
    EXPECT_EQ(ZoneAt(QPoint(1, 24), size, true), zBottomLeft);
    EXPECT_EQ(ZoneAt(QPoint(44, 24), size, true), zBottom);
    EXPECT_EQ(ZoneAt(QPoint(84, 12), size, true), zRight);
    EXPECT_EQ(ZoneAt(QPoint(30, 12), size, true), zMove);
    // Corners reach 4 pixels either side of the frame edge.
    EXPECT_EQ(ZoneAt(QPoint(-4, -4), size, true), zTopLeft);
    EXPECT_EQ(ZoneAt(QPoint(5, 0), size, true), zMove);
    EXPECT_EQ(ZoneAt(QPoint(89, 29), size, true), zBottomRight);
    EXPECT_EQ(ZoneAt(QPoint(90, 25), size, true), zMove);
}

TEST(StretchZoneTest, EdgeMiddlesUseExactHalves) {
    // W / 2 = 42.5: 40 and 45 lie 2.5 away (inside), 39 and 46 3.5 away (outside). With an
    // integer half of 42, 45 would be outside.
    const QSize size(85, 25);
    EXPECT_EQ(ZoneAt(QPoint(40, 0), size, true), zTop);
    EXPECT_EQ(ZoneAt(QPoint(45, 0), size, true), zTop);
    EXPECT_EQ(ZoneAt(QPoint(39, 0), size, true), zMove);
    EXPECT_EQ(ZoneAt(QPoint(46, 0), size, true), zMove);
    // H / 2 = 12.5: 10 and 15 inside, 9 and 16 outside.
    EXPECT_EQ(ZoneAt(QPoint(0, 15), size, true), zLeft);
    EXPECT_EQ(ZoneAt(QPoint(0, 10), size, true), zLeft);
    EXPECT_EQ(ZoneAt(QPoint(0, 16), size, true), zMove);
    EXPECT_EQ(ZoneAt(QPoint(85, 9), size, true), zMove);
}

TEST(StretchZoneTest, LaterMatchesOverrideEarlierOnes) {
    // On a 6 x 6 frame (3, 3) matches every test; the last one, right edge middle, wins.
    EXPECT_EQ(ZoneAt(QPoint(3, 3), QSize(6, 6), true), zRight);
    // (1, 1) matches top-left, top middle and left middle: left middle wins.
    EXPECT_EQ(ZoneAt(QPoint(1, 1), QSize(6, 6), true), zLeft);
    // (0, 0) matches only top-left (the middles lie exactly 3 away).
    EXPECT_EQ(ZoneAt(QPoint(0, 0), QSize(6, 6), true), zTopLeft);
    // On an 8 x 8 frame (6, 1) is top-right and top middle: top middle wins.
    EXPECT_EQ(ZoneAt(QPoint(6, 1), QSize(8, 8), true), zTop);
}

TEST(StretchZoneTest, NoSizingMeansMove) {
    EXPECT_EQ(ZoneAt(QPoint(2, 2), QSize(85, 25), false), zMove);
    EXPECT_EQ(ZoneAt(QPoint(84, 24), QSize(85, 25), false), zMove);
}

TEST(StretchZoneTest, CursorsOfTheZones) {
    EXPECT_EQ(CursorForZone(zMove), 0);
    EXPECT_EQ(CursorForZone(zTopLeft), -8);
    EXPECT_EQ(CursorForZone(zBottomRight), -8);
    EXPECT_EQ(CursorForZone(zTopRight), -6);
    EXPECT_EQ(CursorForZone(zBottomLeft), -6);
    EXPECT_EQ(CursorForZone(zTop), -7);
    EXPECT_EQ(CursorForZone(zBottom), -7);
    EXPECT_EQ(CursorForZone(zLeft), -9);
    EXPECT_EQ(CursorForZone(zRight), -9);
    for (int zone = 0; zone <= 8; ++zone)
        EXPECT_EQ(CursorForZone(zone, true), -13) << zone;
}

// --- Snapping and clamping ---------------------------------------------------------------------

TEST(StretchSnapTest, DivTruncatesTowardZero) {
    EXPECT_EQ(Snap(21, 8), 16);
    EXPECT_EQ(Snap(-3, 8), 0);
    EXPECT_EQ(Snap(-9, 8), -8);
    EXPECT_EQ(Snap(24, 8), 24);
    EXPECT_EQ(Snap(31, 32), 0);
    EXPECT_EQ(Snap(-7, 1), -7);
    EXPECT_EQ(Snap(13, 1), 13);
}

TEST(StretchSnapTest, SnapToGridReadsAndWritesBothSteps) {
    EXPECT_FALSE(SnapToGridOf(1, 1));
    EXPECT_TRUE(SnapToGridOf(2, 1));
    EXPECT_TRUE(SnapToGridOf(1, 32));
    EXPECT_EQ(GridForSnap(true), 8);
    EXPECT_EQ(GridForSnap(false), 1);
}

TEST(StretchSnapTest, GridValuesLieIn1To32) {
    EXPECT_EQ(ClampGrid(0), 1);
    EXPECT_EQ(ClampGrid(-5), 1);
    EXPECT_EQ(ClampGrid(1), 1);
    EXPECT_EQ(ClampGrid(17), 17);
    EXPECT_EQ(ClampGrid(32), 32);
    EXPECT_EQ(ClampGrid(33), 32);
    EXPECT_EQ(ClampGrid(300), 32);
}

TEST(StretchClampTest, PointerStaysOnTheParent) {
    const QPoint topLeft(98, 48);
    const QSize parent(400, 300);
    EXPECT_EQ(ClampPointer(QPoint(10, 10), topLeft, parent), QPoint(10, 10));
    EXPECT_EQ(ClampPointer(QPoint(1000, 10), topLeft, parent), QPoint(302, 10));
    EXPECT_EQ(ClampPointer(QPoint(-200, -100), topLeft, parent), QPoint(-98, -48));
    EXPECT_EQ(ClampPointer(QPoint(302, 252), topLeft, parent), QPoint(302, 252));
    EXPECT_EQ(ClampPointer(QPoint(303, 253), topLeft, parent), QPoint(302, 252));
}

// --- Dragged frame -----------------------------------------------------------------------------

namespace {

// The control inside a frame.
QRect Inner(const QRect& frame) {
    return RubberBandRect(frame);
}

} // namespace

TEST(StretchDragTest, MoveFollowsThePointerExactly) {
    const QRect f = DraggedFrame(QPoint(15, 13), QPoint(10, 10), Frame, zMove, 1, 1);
    EXPECT_EQ(f, QRect(103, 51, 85, 25));
    EXPECT_EQ(Inner(f), QRect(105, 53, 80, 20));
    EXPECT_EQ(DraggedFrame(QPoint(-90, -45), QPoint(10, 5), Frame, zMove, 1, 1),
              QRect(-2, -2, 85, 25));
}

TEST(StretchDragTest, MoveSnapsTheControlEdgeToTheGrid) {
    // Control left 100 + 5 = 105 -> 104, top 50 + 3 = 53 -> 48.
    const QRect f = DraggedFrame(QPoint(15, 13), QPoint(10, 10), Frame, zMove, 8, 8);
    EXPECT_EQ(Inner(f), QRect(104, 48, 80, 20));
    EXPECT_EQ(f, QRect(102, 46, 85, 25));
    // Separate steps per axis: control left 105 -> 105 (step 1), top 53 -> 32 (step 32).
    EXPECT_EQ(Inner(DraggedFrame(QPoint(15, 13), QPoint(10, 10), Frame, zMove, 1, 32)),
              QRect(105, 32, 80, 20));
    // A control dragged to -3 snaps to 0 (truncation toward zero).
    const QRect atOrigin(-2, -2, 85, 25); // control at (0, 0)
    EXPECT_EQ(Inner(DraggedFrame(QPoint(7, 7), QPoint(10, 10), atOrigin, zMove, 8, 8)),
              QRect(0, 0, 80, 20));
}

TEST(StretchDragTest, EachZoneMovesItsEdgesAndKeepsTheOthers) {
    struct Case {
        int zone;
        int left, top, right, bottom; // expected control edges after a drag by (+7, +4)
    };
    // Control edges before: left 100, top 50, right 180, bottom 70.
    const Case cases[] = {
        {zTopLeft, 107, 54, 180, 70},    {zTopRight, 100, 54, 187, 70},
        {zBottomLeft, 107, 50, 180, 74}, {zBottomRight, 100, 50, 187, 74},
        {zTop, 100, 54, 180, 70},        {zLeft, 107, 50, 180, 70},
        {zBottom, 100, 50, 180, 74},     {zRight, 100, 50, 187, 70},
        {zMove, 107, 54, 187, 74},
    };
    for (const Case& c : cases) {
        const QRect inner =
            Inner(DraggedFrame(QPoint(27, 14), QPoint(20, 10), Frame, c.zone, 1, 1));
        EXPECT_EQ(inner.x(), c.left) << "zone " << c.zone;
        EXPECT_EQ(inner.y(), c.top) << "zone " << c.zone;
        EXPECT_EQ(inner.x() + inner.width(), c.right) << "zone " << c.zone;
        EXPECT_EQ(inner.y() + inner.height(), c.bottom) << "zone " << c.zone;
    }
}

TEST(StretchDragTest, ResizeSnapsTheMovedEdges) {
    // Bottom-right by (+10, +6): right 190 -> 184, bottom 76 -> 72.
    EXPECT_EQ(Inner(DraggedFrame(QPoint(93, 29), QPoint(83, 23), Frame, zBottomRight, 8, 8)),
              QRect(100, 50, 84, 22));
    // Top-left by (-10, -3): left 90 -> 88, top 47 -> 40; right and bottom stay.
    EXPECT_EQ(Inner(DraggedFrame(QPoint(-9, -2), QPoint(1, 1), Frame, zTopLeft, 8, 8)),
              QRect(88, 40, 92, 30));
}

TEST(StretchDragTest, FrameIsNeverSmallerThanFive) {
    // Right edge dragged far to the left.
    QRect f = DraggedFrame(QPoint(-100, 12), QPoint(83, 12), Frame, zRight, 1, 1);
    EXPECT_EQ(f, QRect(98, 48, 5, 25));
    // Bottom edge dragged far up.
    f = DraggedFrame(QPoint(44, -100), QPoint(44, 23), Frame, zBottom, 1, 1);
    EXPECT_EQ(f, QRect(98, 48, 85, 5));
    // Left edge dragged past the right one: the left edge goes where it was dragged.
    f = DraggedFrame(QPoint(201, 12), QPoint(1, 12), Frame, zLeft, 1, 1);
    EXPECT_EQ(f, QRect(298, 48, 5, 25));
    // Exactly 5 stays 5, 6 stays 6.
    EXPECT_EQ(DraggedFrame(QPoint(3, 12), QPoint(83, 12), Frame, zRight, 1, 1).width(), 5);
    EXPECT_EQ(DraggedFrame(QPoint(4, 12), QPoint(83, 12), Frame, zRight, 1, 1).width(), 6);
}

TEST(StretchDragTest, ControlsFollowTheFrameByTheSameDifferences) {
    const QList<QRect> controls{Control, QRect(10, 10, 5, 5)};
    EXPECT_EQ(FollowFrame(QRect(8, 8, 175, 65), QRect(18, 3, 175, 65), controls),
              (QList<QRect>{QRect(110, 45, 80, 20), QRect(20, 5, 5, 5)}));
    EXPECT_EQ(FollowFrame(Frame, QRect(95, 48, 90, 20), {Control}),
              (QList<QRect>{QRect(97, 50, 85, 15)}));
}

TEST(StretchDragTest, RubberBandIsTheFrameWithoutItsMargins) {
    EXPECT_EQ(RubberBandRect(Frame), Control);
    EXPECT_EQ(RubberBandRect(QRect(0, 0, 5, 5)), QRect(2, 2, 0, 0));
}

TEST(StretchNudgeTest, ArrowsMoveOrResizeByOne) {
    EXPECT_EQ(NudgedFrame(Frame, -1, 0, false), QRect(97, 48, 85, 25));
    EXPECT_EQ(NudgedFrame(Frame, 0, 1, false), QRect(98, 49, 85, 25));
    EXPECT_EQ(NudgedFrame(Frame, 1, 0, true), QRect(98, 48, 86, 25));
    EXPECT_EQ(NudgedFrame(Frame, 0, -1, true), QRect(98, 48, 85, 24));
    EXPECT_EQ(NudgedFrame(QRect(0, 0, 5, 5), -1, -1, true), QRect(0, 0, 5, 5));
}
