#include "designer/handles/TStretchHandle.h"
#include "tests/support/TestSupport.h"
#include "platform/TControl.h"

#include <QImage>
#include <QMetaClassInfo>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A control that counts the bounds changes it is asked for.
class CountingControl : public TControl {
public:
    using TControl::TControl;
    int setBoundsCalls = 0;
    void SetBounds(int left, int top, int width, int height) override {
        ++setBoundsCalls;
        TControl::SetBounds(left, top, width, height);
    }
};

// A widget that records the mouse buttons it is sent.
class RecordingWidget : public QWidget {
public:
    using QWidget::QWidget;
    struct Press {
        QEvent::Type type;
        Qt::MouseButton button;
        QPoint pos;
        Qt::KeyboardModifiers modifiers;
    };
    QList<Press> presses;

protected:
    void mousePressEvent(QMouseEvent* e) override { record(e); }
    void mouseReleaseEvent(QMouseEvent* e) override { record(e); }

private:
    void record(QMouseEvent* e) {
        presses.append({e->type(), e->button(), e->position().toPoint(), e->modifiers()});
        e->accept();
    }
};

class StretchHandleTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent = std::make_unique<RecordingWidget>();
        parent->resize(400, 300);
        control = place(100, 50, 80, 20);
        handle = new TStretchHandle();
        parent->show();
    }
    void TearDown() override {
        // The frame lives on a parent only while it holds a selection.
        delete handle;
        parent.reset();
    }

    CountingControl* place(int x, int y, int w, int h, QWidget* on = nullptr) {
        auto* c = new CountingControl(on ? on : parent.get());
        c->setGeometry(x, y, w, h);
        c->show();
        return c;
    }

    // A pointer move without buttons, as the window system sends it while hovering.
    void hover(QPoint p) {
        QMouseEvent e(QEvent::MouseMove, QPointF(p), QPointF(handle->mapToGlobal(p)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(handle, &e);
    }

    // A left-button drag on the frame from one point to another, in frame coordinates.
    void drag(QPoint from, QPoint to) {
        hover(from);
        QTest::mousePress(handle, Qt::LeftButton, {}, from);
        QTest::mouseMove(handle, (from + to) / 2);
        QTest::mouseMove(handle, to);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, to);
    }

    std::unique_ptr<RecordingWidget> parent;
    CountingControl* control = nullptr;
    TStretchHandle* handle = nullptr;
};

} // namespace

// --- Creation and properties -------------------------------------------------------------------

TEST_F(StretchHandleTest, StartsHiddenDisabledAndSmall) {
    EXPECT_TRUE(handle->isHidden());
    EXPECT_FALSE(handle->isEnabled());
    EXPECT_EQ(handle->size(), QSize(24, 24));
    EXPECT_FALSE(handle->HasSelection());
    EXPECT_EQ(handle->SelectedControl(0), nullptr);
    EXPECT_EQ(handle->IndexOf(control), -1);
    EXPECT_EQ(handle->Color(), 0);
    EXPECT_EQ(handle->SecondaryColor(), 8421504);
    EXPECT_EQ(handle->GridX(), 1);
    EXPECT_EQ(handle->GridY(), 1);
    EXPECT_FALSE(handle->SnapToGrid());
    EXPECT_FALSE(handle->Locked());
    EXPECT_FALSE(handle->Sizable());
    EXPECT_EQ(handle->DragCursor(), -12);
    EXPECT_TRUE(handle->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(handle->testAttribute(Qt::WA_NoSystemBackground));
}

TEST_F(StretchHandleTest, PublishedPropertiesInOrderWithTheirDefaults) {
    const QMetaObject* mo = handle->metaObject();
    QStringList names;
    for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i)
        names << QString::fromLatin1(mo->property(i).name());
    EXPECT_EQ(names, (QStringList{"Color", "SecondaryColor", "Locked", "GridX", "GridY",
                                  "SnapToGrid", "Sizable", "DragCursor", "Enabled", "Hint",
                                  "ParentShowHint", "PopupMenu", "ShowHint", "Visible"}));
    const auto info = [mo](const char* name) {
        const int i = mo->indexOfClassInfo(name);
        return i < 0 ? QString() : QString::fromLatin1(mo->classInfo(i).value());
    };
    EXPECT_EQ(info("default:SecondaryColor"), "clGray");
    EXPECT_EQ(info("default:GridX"), "8");
    EXPECT_EQ(info("default:GridY"), "8");
    EXPECT_EQ(info("type:GridX"), "GridValues");
    EXPECT_EQ(info("default:DragCursor"), "crDrag");
    EXPECT_EQ(info("type:DragCursor"), "TCursor");
    EXPECT_EQ(info("type:Color"), "TColor");
    EXPECT_EQ(info("default:Locked"), "False");
    EXPECT_EQ(info("default:Enabled"), "True");
    EXPECT_EQ(info("default:Visible"), "True");
    // Written through the meta-object, as the inspector does.
    EXPECT_TRUE(handle->setProperty("GridX", QVariant::fromValue<GridValues>(4)));
    EXPECT_EQ(handle->property("GridX").toInt(), 4);
}

TEST_F(StretchHandleTest, SnapToGridWritesBothStepsAndReadsEither) {
    handle->setGridX(4);
    EXPECT_TRUE(handle->SnapToGrid());
    handle->setSnapToGrid(true);
    EXPECT_EQ(handle->GridX(), 8);
    EXPECT_EQ(handle->GridY(), 8);
    handle->setSnapToGrid(false);
    EXPECT_EQ(handle->GridX(), 1);
    EXPECT_EQ(handle->GridY(), 1);
    EXPECT_FALSE(handle->SnapToGrid());
    handle->setGridY(2);
    EXPECT_TRUE(handle->SnapToGrid());
    handle->setGridX(40);
    handle->setGridY(0);
    EXPECT_EQ(handle->GridX(), 32);
    EXPECT_EQ(handle->GridY(), 1);
}

// --- Selection ---------------------------------------------------------------------------------

TEST_F(StretchHandleTest, AttachFramesTheControl) {
    handle->Attach(control);
    EXPECT_EQ(handle->parentWidget(), parent.get());
    EXPECT_EQ(handle->geometry(), QRect(98, 48, 85, 25));
    EXPECT_TRUE(handle->isVisible());
    EXPECT_TRUE(handle->isEnabled());
    EXPECT_TRUE(handle->HasSelection());
    EXPECT_EQ(handle->IndexOf(control), 0);
    EXPECT_EQ(handle->SelectedControl(0), control);
    EXPECT_EQ(handle->SelectedControl(-1), nullptr);
    EXPECT_EQ(handle->SelectedControl(1), nullptr);
    // The frame lies above the control.
    EXPECT_EQ(parent->children().last(), handle);
    // Attaching moved nothing.
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 20));
    EXPECT_EQ(control->setBoundsCalls, 0);
    // Attaching it again changes nothing; nothing happens for no control.
    handle->Attach(control);
    handle->Attach(nullptr);
    EXPECT_EQ(handle->SelectionCount(), 1);
}

TEST_F(StretchHandleTest, SecondControlGrowsTheFrameToTheUnion) {
    CountingControl* small = place(10, 10, 5, 5);
    handle->Attach(control);
    handle->Attach(small);
    EXPECT_EQ(handle->geometry(), QRect(8, 8, 175, 65));
    EXPECT_EQ(handle->IndexOf(small), 1);
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 20));
    EXPECT_EQ(small->geometry(), QRect(10, 10, 5, 5));
}

TEST_F(StretchHandleTest, ControlOfAnotherParentReplacesTheSelection) {
    QWidget other(parent.get());
    other.setGeometry(200, 150, 150, 100);
    other.show();
    CountingControl* elsewhere = place(20, 30, 40, 10, &other);
    handle->Attach(control);
    handle->Attach(elsewhere);
    EXPECT_EQ(handle->SelectionCount(), 1);
    EXPECT_EQ(handle->IndexOf(control), -1);
    EXPECT_EQ(handle->SelectedControl(0), elsewhere);
    EXPECT_EQ(handle->parentWidget(), &other);
    EXPECT_EQ(handle->geometry(), QRect(18, 28, 45, 15));
    handle->DetachAll(); // before `other` goes
}

TEST_F(StretchHandleTest, AttachingAFormFails) {
    handle->Attach(control);
    QWidget form;
    try {
        handle->Attach(&form);
        FAIL() << "no error";
    } catch (const EBadChild& e) {
        EXPECT_EQ(e.message(), "Handles can not be attached to a Form!");
    }
    EXPECT_EQ(handle->SelectionCount(), 1);
    EXPECT_EQ(handle->SelectedControl(0), control);
}

TEST_F(StretchHandleTest, DetachAllHidesAndUnlocks) {
    handle->Attach(control);
    handle->setLocked(true);
    handle->DetachAll();
    EXPECT_FALSE(handle->HasSelection());
    EXPECT_FALSE(handle->Locked());
    EXPECT_TRUE(handle->isHidden());
    EXPECT_FALSE(handle->isEnabled());
    EXPECT_EQ(handle->size(), QSize(24, 24));
    EXPECT_EQ(handle->parentWidget(), nullptr);
    EXPECT_EQ(handle->RubberBand(), QRect());
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 20));
}

TEST_F(StretchHandleTest, BringSelectionToFrontRaisesControlsThenFrame) {
    CountingControl* other = place(0, 0, 300, 200);
    handle->Attach(control);
    other->raise();
    handle->BringSelectionToFront();
    const QObjectList order = parent->children();
    EXPECT_EQ(order.last(), handle);
    EXPECT_GT(order.indexOf(control), order.indexOf(other));
    // Locked: nothing moves in the z-order.
    other->raise();
    handle->setLocked(true);
    handle->BringSelectionToFront();
    EXPECT_EQ(parent->children().last(), other);
}

TEST_F(StretchHandleTest, SetBoundsMovesAndSizesTheSelection) {
    CountingControl* small = place(10, 10, 5, 5);
    handle->Attach(control);
    handle->Attach(small);
    handle->SetBounds(18, 3, 180, 60);
    EXPECT_EQ(handle->geometry(), QRect(18, 3, 180, 60));
    EXPECT_EQ(control->geometry(), QRect(110, 45, 85, 15));
    EXPECT_EQ(small->geometry(), QRect(20, 5, 10, 0));
    EXPECT_TRUE(handle->isVisible());
    handle->setLocked(true);
    handle->SetBounds(0, 0, 50, 50);
    EXPECT_EQ(handle->geometry(), QRect(18, 3, 180, 60));
    EXPECT_EQ(control->geometry(), QRect(110, 45, 85, 15));
}

// --- Painting ----------------------------------------------------------------------------------

namespace {

QImage Render(QWidget* w) {
    QImage img(w->size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

} // namespace

TEST_F(StretchHandleTest, PaintsCornerAndMiddleSquaresOfOneControl) {
    handle->Attach(control);
    handle->setColor(0x0000FF); // red, $00BBGGRR
    const QImage img = Render(handle);
    const QRgb red = qRgb(255, 0, 0);
    const QRgb white = qRgb(255, 255, 255);
    // Each 5 x 5 square: a core of the colour in a one-pixel rim that shows on dark photos.
    for (QPoint p : {QPoint(2, 2), QPoint(81, 2), QPoint(81, 21), QPoint(2, 21), QPoint(42, 2),
                     QPoint(42, 21), QPoint(2, 12), QPoint(81, 12), QPoint(1, 1), QPoint(3, 3)})
        EXPECT_EQ(img.pixel(p), red) << p.x() << "," << p.y();
    for (QPoint p : {QPoint(0, 0), QPoint(4, 4), QPoint(79, 0), QPoint(83, 23), QPoint(0, 23),
                     QPoint(40, 0), QPoint(44, 4), QPoint(40, 23), QPoint(0, 10), QPoint(83, 14)})
        EXPECT_EQ(img.pixel(p), white) << p.x() << "," << p.y();
    // A light colour gets a dark rim instead.
    handle->setColor(0xFFFFFF);
    const QImage light = Render(handle);
    EXPECT_EQ(light.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(light.pixel(2, 2), white);
    for (QPoint p : {QPoint(5, 5), QPoint(39, 0), QPoint(45, 0), QPoint(20, 12), QPoint(84, 24)})
        EXPECT_EQ(qAlpha(img.pixel(p)), 0) << p.x() << "," << p.y();
}

TEST_F(StretchHandleTest, PaintsOnlyCornersInTheSecondaryColourForSeveral) {
    CountingControl* small = place(10, 10, 5, 5);
    handle->Attach(control);
    handle->Attach(small);
    const QImage img = Render(handle);
    const QRgb grey = qRgb(128, 128, 128);
    EXPECT_EQ(img.pixel(92, 42), grey);       // control's top-left
    EXPECT_EQ(img.pixel(171, 61), grey);      // control's bottom-right
    EXPECT_EQ(img.pixel(2, 2), grey);         // small's top-left
    EXPECT_EQ(img.pixel(90, 40), qRgb(255, 255, 255)); // the rim
    EXPECT_EQ(qAlpha(img.pixel(130, 40)), 0); // no top middle
    EXPECT_EQ(qAlpha(img.pixel(90, 52)), 0);  // no left middle
}

// --- Grab zones --------------------------------------------------------------------------------

TEST_F(StretchHandleTest, HoverFindsTheGrabZoneAndItsCursor) {
    handle->Attach(control);
    handle->setSizable(true);
    ASSERT_EQ(handle->size(), QSize(85, 25));
    const struct {
        QPoint p;
        int zone;
        TCursor cursor;
    } cases[] = {{QPoint(2, 2), 1, -8},
                 {QPoint(44, 1), 5, -7},
                 {QPoint(1, 11), 6, -9},
                 {QPoint(84, 24), 4, -8},
                 {QPoint(30, 12), 0, 0}};
    for (const auto& c : cases) {
        hover(c.p);
        EXPECT_EQ(handle->DragZone(), c.zone) << c.p.x() << "," << c.p.y();
        EXPECT_EQ(handle->CurrentCursor(), c.cursor) << c.p.x() << "," << c.p.y();
    }
    // Not sizable: every point moves.
    handle->setSizable(false);
    hover(QPoint(2, 2));
    EXPECT_EQ(handle->DragZone(), 0);
    // Locked: the zone is still found, but the cursor says no.
    handle->setSizable(true);
    handle->setLocked(true);
    hover(QPoint(84, 24));
    EXPECT_EQ(handle->CurrentCursor(), -13);
}

TEST_F(StretchHandleTest, TwoControlsOfferNoSizing) {
    CountingControl* other = place(200, 50, 40, 20);
    handle->Attach(control);
    handle->Attach(other);
    handle->setSizable(true);
    // The bottom-right corner of the control: a move.
    drag(QPoint(81, 21), QPoint(91, 31));
    EXPECT_EQ(control->geometry(), QRect(110, 60, 80, 20));
    EXPECT_EQ(other->geometry(), QRect(210, 60, 40, 20));
}

// --- Dragging ----------------------------------------------------------------------------------

TEST_F(StretchHandleTest, MoveDragFollowsThePointer) {
    handle->Attach(control);
    QSignalSpy ups(handle, &TStretchHandle::mouseUp);
    QSignalSpy downs(handle, &TStretchHandle::mouseDown);
    QSignalSpy finished(handle, &TStretchHandle::dragFinished);
    const int childrenBefore = parent->children().size();

    hover(QPoint(40, 12));
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(40, 12));
    EXPECT_TRUE(handle->Dragging());
    EXPECT_EQ(handle->DragOrigin(), QPoint(40, 12));
    QTest::mouseMove(handle, QPoint(55, 20));
    // The outline shows where the control will land; nothing has moved yet.
    EXPECT_EQ(handle->RubberBand(), QRect(113, 56, 85, 25));
    EXPECT_EQ(handle->CurrentCursor(), -12);
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 20));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(55, 20));

    EXPECT_FALSE(handle->Dragging());
    EXPECT_EQ(control->geometry(), QRect(115, 58, 80, 20));
    EXPECT_EQ(handle->geometry(), QRect(113, 56, 85, 25));
    EXPECT_EQ(handle->RubberBand(), QRect());
    EXPECT_EQ(parent->children().size(), childrenBefore); // the outline is gone
    EXPECT_EQ(handle->CurrentCursor(), 0);
    ASSERT_EQ(downs.size(), 1);
    EXPECT_EQ(downs[0][2].toInt(), 40);
    ASSERT_EQ(ups.size(), 1);
    EXPECT_EQ(ups[0][0].value<Qt::MouseButton>(), Qt::LeftButton);
    EXPECT_EQ(ups[0][2].toInt(), 55);
    EXPECT_EQ(ups[0][3].toInt(), 20);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][0].value<QList<QRect>>(), QList<QRect>{QRect(100, 50, 80, 20)});
    EXPECT_EQ(finished[0][1].value<QList<QRect>>(), QList<QRect>{QRect(115, 58, 80, 20)});
}

TEST_F(StretchHandleTest, MoveDragSnapsToTheGrid) {
    handle->Attach(control);
    handle->setSnapToGrid(true);
    // Control left 100 + 15 = 115 -> 112, top 50 + 8 = 58 -> 56.
    drag(QPoint(40, 12), QPoint(55, 20));
    EXPECT_EQ(control->geometry(), QRect(112, 56, 80, 20));
    EXPECT_EQ(handle->geometry(), QRect(110, 54, 85, 25));
}

TEST_F(StretchHandleTest, CornerDragResizes) {
    handle->Attach(control);
    handle->setSizable(true);
    drag(QPoint(83, 23), QPoint(93, 29));
    EXPECT_EQ(control->geometry(), QRect(100, 50, 90, 26));
    EXPECT_EQ(handle->geometry(), QRect(98, 48, 95, 31));
    // The top-left corner: right and bottom stay.
    drag(QPoint(2, 2), QPoint(-8, 7));
    EXPECT_EQ(control->geometry(), QRect(90, 55, 100, 21));
}

TEST_F(StretchHandleTest, EdgeDragsResizeOneSide) {
    handle->Attach(control);
    handle->setSizable(true);
    drag(QPoint(83, 12), QPoint(63, 40)); // right edge middle: only the width changes
    EXPECT_EQ(control->geometry(), QRect(100, 50, 60, 20));
    drag(QPoint(32, 1), QPoint(20, -9)); // top edge middle: only the top moves
    EXPECT_EQ(control->geometry(), QRect(100, 40, 60, 30));
}

TEST_F(StretchHandleTest, ResizeStopsAtTheMinimumFrame) {
    handle->Attach(control);
    handle->setSizable(true);
    drag(QPoint(83, 12), QPoint(-60, 12));
    EXPECT_EQ(handle->geometry(), QRect(98, 48, 5, 25));
    EXPECT_EQ(control->geometry(), QRect(100, 50, 0, 20));
}

TEST_F(StretchHandleTest, PointerBeyondTheParentIsTakenAtTheEdge) {
    handle->Attach(control);
    // The parent is 400 wide: the pointer is taken at x = 400 - 98 = 302.
    drag(QPoint(40, 12), QPoint(1000, 12));
    EXPECT_EQ(control->geometry(), QRect(100 + 302 - 40, 50, 80, 20));
    // And beyond the top-left corner at (-frame left, -frame top) = (-360, -48).
    ASSERT_EQ(handle->pos(), QPoint(360, 48));
    drag(QPoint(40, 12), QPoint(-1000, -1000));
    EXPECT_EQ(control->geometry(), QRect(362 + (-360 - 40), 50 + (-48 - 12), 80, 20));
}

TEST_F(StretchHandleTest, AMoveNeverTakesTheControlWhollyOffTheParent) {
    handle->Attach(control);
    // Grabbed at its right end and dragged past the top-left corner: the pointer stops at
    // (0, 0), which would put the control at x -80..-1; 8 of its pixels stay on instead.
    drag(QPoint(82, 12), QPoint(-200, -200));
    EXPECT_EQ(control->geometry(), QRect(-72, -10, 80, 20));
    EXPECT_EQ(handle->geometry(), QRect(-74, -12, 85, 25));
}

TEST_F(StretchHandleTest, ClickWithoutMovementMovesNothingButRaisesMouseUp) {
    handle->Attach(control);
    QSignalSpy ups(handle, &TStretchHandle::mouseUp);
    QSignalSpy finished(handle, &TStretchHandle::dragFinished);
    QSignalSpy clicks(handle, &TStretchHandle::clicked);
    hover(QPoint(40, 12));
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(40, 12));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(40, 12));
    EXPECT_EQ(ups.size(), 1);
    EXPECT_EQ(clicks.size(), 1);
    EXPECT_EQ(finished.size(), 0);
    EXPECT_EQ(control->setBoundsCalls, 0);
    EXPECT_EQ(handle->geometry(), QRect(98, 48, 85, 25));
}

TEST_F(StretchHandleTest, PressThatSelectedTheControlGoesOnAsADrag) {
    // The press lands on the control; the surface then attaches it.
    QTest::mousePress(control, Qt::LeftButton, {}, QPoint(10, 5));
    handle->Attach(control);
    EXPECT_EQ(QWidget::mouseGrabber(), handle);
    QTest::mouseMove(handle, QPoint(12, 7));
    EXPECT_TRUE(handle->Dragging());
    QTest::mouseMove(handle, QPoint(22, 10));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(22, 10));
    EXPECT_EQ(control->geometry(), QRect(110, 53, 80, 20));
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(StretchHandleTest, LockedFrameIgnoresDragsAndArrows) {
    handle->Attach(control);
    handle->setSizable(true);
    handle->setLocked(true);
    QSignalSpy downs(handle, &TStretchHandle::mouseDown);
    QSignalSpy ups(handle, &TStretchHandle::mouseUp);
    QSignalSpy keys(handle, &TStretchHandle::keyDown);
    drag(QPoint(40, 12), QPoint(70, 30));
    drag(QPoint(83, 23), QPoint(93, 29));
    QTest::keyClick(handle, Qt::Key_Right);
    QTest::keyClick(handle, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 20));
    EXPECT_EQ(handle->geometry(), QRect(98, 48, 85, 25));
    EXPECT_EQ(control->setBoundsCalls, 0);
    EXPECT_FALSE(handle->Dragging());
    EXPECT_EQ(downs.size(), 2); // presses on the control still reach the surface
    EXPECT_EQ(ups.size(), 0);   // no drag ended
    // The keys are still reported (Shift itself too).
    QList<int> arrows;
    for (const auto& k : keys)
        if (k[0].toInt() != Qt::Key_Shift)
            arrows << k[0].toInt();
    EXPECT_EQ(arrows, (QList<int>{Qt::Key_Right, Qt::Key_Down}));
}

// --- Keyboard ----------------------------------------------------------------------------------

TEST_F(StretchHandleTest, ArrowsMoveByOnePixel) {
    handle->Attach(control);
    handle->setSnapToGrid(true); // arrows do not snap
    QSignalSpy nudges(handle, &TStretchHandle::nudged);
    QSignalSpy keys(handle, &TStretchHandle::keyDown);
    QSignalSpy ups(handle, &TStretchHandle::mouseUp);
    QTest::keyClick(handle, Qt::Key_Right);
    EXPECT_EQ(control->geometry(), QRect(101, 50, 80, 20));
    QTest::keyClick(handle, Qt::Key_Down);
    EXPECT_EQ(control->geometry(), QRect(101, 51, 80, 20));
    QTest::keyClick(handle, Qt::Key_Left);
    QTest::keyClick(handle, Qt::Key_Left);
    QTest::keyClick(handle, Qt::Key_Up);
    EXPECT_EQ(control->geometry(), QRect(99, 50, 80, 20));
    EXPECT_EQ(handle->geometry(), QRect(97, 48, 85, 25));
    EXPECT_EQ(nudges.size(), 5);
    EXPECT_EQ(nudges[0][0].value<QList<QRect>>(), QList<QRect>{QRect(100, 50, 80, 20)});
    EXPECT_EQ(nudges[0][1].value<QList<QRect>>(), QList<QRect>{QRect(101, 50, 80, 20)});
    EXPECT_FALSE(nudges[0][2].toBool());
    EXPECT_EQ(keys.size(), 5);
    EXPECT_EQ(ups.size(), 0);
    // Other keys are not taken.
    QTest::keyClick(handle, Qt::Key_A);
    EXPECT_EQ(control->geometry(), QRect(99, 50, 80, 20));
    EXPECT_EQ(keys.size(), 6);
}

TEST_F(StretchHandleTest, ShiftArrowsResizeASingleSizableControl) {
    handle->Attach(control);
    QSignalSpy nudges(handle, &TStretchHandle::nudged);
    // Not sizable: Shift+arrow does nothing.
    QTest::keyClick(handle, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 20));
    EXPECT_EQ(nudges.size(), 0);
    handle->setSizable(true);
    QTest::keyClick(handle, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(control->geometry(), QRect(100, 50, 81, 20));
    QTest::keyClick(handle, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(control->geometry(), QRect(100, 50, 81, 21));
    QTest::keyClick(handle, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(handle, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(handle, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 19));
    EXPECT_EQ(handle->geometry(), QRect(98, 48, 85, 24));
    ASSERT_EQ(nudges.size(), 5);
    EXPECT_TRUE(nudges[0][2].toBool());
    // Two controls: Shift+arrow resizes nothing, plain arrows move both.
    CountingControl* other = place(200, 50, 40, 20);
    handle->Attach(other);
    QTest::keyClick(handle, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 19));
    QTest::keyClick(handle, Qt::Key_Right);
    EXPECT_EQ(control->geometry(), QRect(101, 50, 80, 19));
    EXPECT_EQ(other->geometry(), QRect(201, 50, 40, 20));
}

// --- Passing presses on ------------------------------------------------------------------------

TEST_F(StretchHandleTest, PressOffTheSelectionGoesToTheControlBeneath) {
    CountingControl* far = place(300, 200, 20, 20);
    auto* beneath = new RecordingWidget(parent.get());
    beneath->setGeometry(150, 100, 40, 30);
    beneath->show();
    handle->Attach(control);
    handle->Attach(far); // frame (98, 48)-(323, 223) covers `beneath`
    QSignalSpy downs(handle, &TStretchHandle::mouseDown);
    QSignalSpy ups(handle, &TStretchHandle::mouseUp);
    const QPoint inFrame = QPoint(160, 110) - handle->pos();
    QTest::mousePress(handle, Qt::LeftButton, Qt::ShiftModifier, inFrame);
    QTest::mouseRelease(handle, Qt::LeftButton, Qt::ShiftModifier, inFrame);
    ASSERT_EQ(beneath->presses.size(), 2);
    EXPECT_EQ(beneath->presses[0].type, QEvent::MouseButtonPress);
    EXPECT_EQ(beneath->presses[0].button, Qt::LeftButton);
    EXPECT_EQ(beneath->presses[0].pos, QPoint(10, 10));
    EXPECT_EQ(beneath->presses[0].modifiers, Qt::NoModifier);
    EXPECT_EQ(beneath->presses[1].type, QEvent::MouseButtonRelease);
    EXPECT_EQ(downs.size(), 0);
    EXPECT_EQ(ups.size(), 0);
    EXPECT_TRUE(parent->presses.isEmpty());

    // Where no control lies the parent gets it, with its own coordinates.
    QTest::mousePress(handle, Qt::RightButton, {}, QPoint(250, 100) - handle->pos());
    QTest::mouseRelease(handle, Qt::RightButton, {}, QPoint(250, 100) - handle->pos());
    ASSERT_EQ(parent->presses.size(), 2);
    EXPECT_EQ(parent->presses[0].button, Qt::RightButton);
    EXPECT_EQ(parent->presses[0].pos, QPoint(250, 100));
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 20));
}

TEST_F(StretchHandleTest, RightPressOnTheSelectionIsReportedButDoesNotDrag) {
    handle->Attach(control);
    QSignalSpy downs(handle, &TStretchHandle::mouseDown);
    QSignalSpy ups(handle, &TStretchHandle::mouseUp);
    QTest::mousePress(handle, Qt::RightButton, {}, QPoint(40, 12));
    EXPECT_FALSE(handle->Dragging());
    QTest::mouseRelease(handle, Qt::RightButton, {}, QPoint(40, 12));
    ASSERT_EQ(downs.size(), 1);
    EXPECT_EQ(downs[0][0].value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(ups.size(), 0);
    // The release is passed on, to the control under the point.
    EXPECT_EQ(control->geometry(), QRect(100, 50, 80, 20));
}
