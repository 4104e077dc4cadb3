#include "designer/surface/DesignSurface.h"

#include "bricks/BrickDateSource.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/handles/TStretchHandle.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignerBricks.h"
#include "patterns/settings/DateTimeFormats.h"
#include "platform/Errors.h"
#include "platform/PublishedProperties.h"
#include "platform/TFont.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUndoStack>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Round half to even, written independently of the code under test.
int halfEven(double v) {
    return int(std::nearbyint(v));
}

QStringList namesOf(const QList<QWidget*>& widgets) {
    QStringList out;
    for (const QWidget* w : widgets)
        out << w->objectName();
    return out;
}

// A shown design surface over a 400 x 300 photo at a zoom ratio, its panel centred in a
// designer larger than the preview.
class DesignSurfaceTest : public ::testing::Test {
protected:
    void open(double zoom, QSize photo = QSize(400, 300), QSize client = QSize(0, 0)) {
        static bool registered = false;
        if (!registered) {
            RegisterBricks();
            registered = true;
        }
        fixture = std::make_unique<SurfaceFixture>(photo, zoom);
        d = fixture->designer.get();
        surface = std::make_unique<DesignSurface>(*d);
        d->resize(client.isEmpty() ? d->PreviewSize() : client);
        d->show();
        surface->CenterPanel();
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        surface.reset();
        fixture.reset();
    }

    // A left click on the picture panel at a panel point.
    void click(QPoint panelPoint, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(d->Panel1, Qt::LeftButton, mods, panelPoint);
    }
    QWidget* place(const QString& cls, QPoint panelPoint) {
        surface->SetPendingClass(cls);
        click(panelPoint);
        return surface->Selection().value(0);
    }
    // Drags the selection frame from one panel point to another.
    void drag(QPoint fromPanel, QPoint toPanel) {
        TStretchHandle* h = surface->StretchHandle();
        const QPoint from = fromPanel - h->pos();
        const QPoint to = toPanel - h->pos();
        QTest::mousePress(h, Qt::LeftButton, {}, from);
        QTest::mouseMove(h, (from + to) / 2);
        QTest::mouseMove(h, to);
        QTest::mouseRelease(h, Qt::LeftButton, {}, to);
    }
    QWidget* named(const QString& name) const {
        for (QObject* o : d->Panel1->children())
            if (o->objectName() == name)
                return qobject_cast<QWidget*>(o);
        return nullptr;
    }

    std::unique_ptr<SurfaceFixture> fixture;
    TDesigner* d = nullptr;
    std::unique_ptr<DesignSurface> surface;
};

// --- Placing ---------------------------------------------------------------------------------

TEST_F(DesignSurfaceTest, EachClassLandsAtTheClickWithItsFullSizePositionAtZoom2_5) {
    open(2.5);
    const QStringList classes = DesignSurface::PaletteClasses();
    ASSERT_EQ(classes.size(), 5);
    int y = 7;
    for (const QString& cls : classes) {
        QSignalSpy created(surface.get(), &DesignSurface::brickCreated);
        QWidget* brick = place(cls, QPoint(10, y));
        ASSERT_NE(brick, nullptr) << cls.toStdString();
        EXPECT_EQ(QString::fromLatin1(brick->metaObject()->className()), cls);
        EXPECT_EQ(brick->objectName(), cls.mid(1) + QStringLiteral("1"));
        EXPECT_EQ(brick->parentWidget(), d->Panel1);
        EXPECT_EQ(brick->pos(), QPoint(10, y));
        EXPECT_TRUE(surface->PendingClass().isEmpty());
        ASSERT_EQ(created.count(), 1);
        EXPECT_EQ(created.at(0).at(0).value<QWidget*>(), brick);
        if (auto* t = qobject_cast<TText*>(brick)) {
            EXPECT_EQ(t->FullLeft, 25);
            EXPECT_EQ(t->FullTop, halfEven(y * 2.5));
        } else {
            auto* p = qobject_cast<TPictureimg*>(brick);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->FullLeft, 25);
            EXPECT_EQ(p->FullTop, halfEven(y * 2.5));
            EXPECT_EQ(p->FullWidth, halfEven(p->Width() * 2.5));
            EXPECT_EQ(p->FullHeight, halfEven(p->Height() * 2.5));
        }
        y += 20;
    }
    // 7 x 2.5 = 17.5 goes to the even 18.
    EXPECT_EQ(qobject_cast<TText*>(named(QStringLiteral("Text1")))->FullTop, 18);
    EXPECT_EQ(qobject_cast<TText*>(named(QStringLiteral("Text1")))->Caption(),
              QStringLiteral("Type text here"));
    EXPECT_EQ(qobject_cast<TText*>(named(QStringLiteral("TextBubble1")))->Caption(),
              QStringLiteral("Type text here"));
    EXPECT_EQ(d->Bricks().size(), 5);
    EXPECT_TRUE(d->PatternModified());
}

TEST_F(DesignSurfaceTest, DateAndTimeBricksTakeTheOpenPhotosDate) {
    open(1.0);
    const QString sample = QString::fromLocal8Bit(qgetenv("CAPTIOMARK_SOURCE_DIR")) +
                           QStringLiteral("/examples/sample-photo.jpg");
    d->OpenImage(sample, 1.0);
    d->resize(d->PreviewSize());
    surface->CenterPanel();
    const BrickDateTime date = DateBrickValue(sample);
    const BrickDateTime time = TimeBrickValue(sample);
    auto* db = qobject_cast<TTextDate*>(place(QStringLiteral("TTextDate"), QPoint(5, 5)));
    auto* tb = qobject_cast<TTextTime*>(place(QStringLiteral("TTextTime"), QPoint(5, 60)));
    ASSERT_TRUE(db && tb);
    EXPECT_EQ(db->Caption(), date.text);
    EXPECT_DOUBLE_EQ(db->DateValue, date.value);
    EXPECT_EQ(tb->Caption(), TimeBrickText(*tb)); // shown as the render burns it in
    EXPECT_DOUBLE_EQ(tb->DateValue, time.value);
    EXPECT_NE(date.value, 0.0); // the sample has its own date, not the fallback
}

TEST_F(DesignSurfaceTest, ANewBubbleGetsItsBodyTailAndMarker) {
    open(1.0);
    auto* b = new TTextBubble(d->Panel1);
    b->SetBounds(0, 0, 100, 30);
    d->AddComponent(b);
    SetUpNewBubble(*d, b);
    EXPECT_EQ(b->Body.left, 0);
    EXPECT_EQ(b->Body.right, 100);
    EXPECT_EQ(b->Body.bottom, 20);
    EXPECT_EQ(b->FromX(), 120);
    EXPECT_EQ(b->FromY(), 45);
    EXPECT_EQ(b->Style, 1);

    auto* placed = qobject_cast<TTextBubble*>(place(QStringLiteral("TTextBubble"), QPoint(40, 30)));
    ASSERT_NE(placed, nullptr);
    TBubbleFrom* marker = placed->Marker();
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->parentWidget(), d->Panel1);
    EXPECT_EQ(marker->objectName(), QStringLiteral("BubbleFrom2")); // the first bubble has 1
    EXPECT_EQ(marker->FullLeft, placed->FullLeft + placed->FromX());
    EXPECT_EQ(marker->FullTop, placed->FullTop + placed->FromY());
    EXPECT_EQ(marker->pos(), QPoint(marker->FullLeft, marker->FullTop));
    EXPECT_FALSE(d->Components().contains(marker)); // the bubble's, not the surface's
}

TEST_F(DesignSurfaceTest, NamesCountPerClassAndReuseFreedNumbers) {
    open(1.0);
    place(QStringLiteral("TText"), QPoint(5, 5));
    QWidget* second = place(QStringLiteral("TText"), QPoint(5, 60));
    place(QStringLiteral("TText"), QPoint(5, 120));
    EXPECT_EQ(second->objectName(), QStringLiteral("Text2"));
    EXPECT_TRUE(named(QStringLiteral("Text3")));
    surface->DeleteBrick(second);
    EXPECT_EQ(place(QStringLiteral("TText"), QPoint(5, 180))->objectName(),
              QStringLiteral("Text2"));
    EXPECT_EQ(surface->UniqueBrickName(QStringLiteral("TPictureimg")),
              QStringLiteral("Pictureimg1"));
    // Compared without regard to case.
    auto* odd = new TText(d->Panel1);
    odd->setName(QStringLiteral("TEXT4"));
    d->AddComponent(odd);
    EXPECT_EQ(surface->UniqueBrickName(QStringLiteral("TText")), QStringLiteral("Text5"));
}

TEST_F(DesignSurfaceTest, AClickOffThePictureLeavesTheClassPending) {
    open(1.0, QSize(400, 300), QSize(600, 400));
    EXPECT_EQ(d->Panel1->geometry(), QRect(100, 50, 400, 300)); // centred
    surface->SetPendingClass(QStringLiteral("TText"));
    QTest::mouseClick(d, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(surface->PendingClass(), QStringLiteral("TText"));
    EXPECT_TRUE(d->Bricks().isEmpty());
    // On the panel's far edge it counts, and lands at the panel point of the click.
    QTest::mouseClick(d, Qt::LeftButton, {}, QPoint(130, 70));
    ASSERT_EQ(d->Bricks().size(), 1);
    EXPECT_EQ(d->Bricks().first()->pos(), QPoint(30, 20));
    // No image open: nothing can be placed.
    d->ZoomRatio = 0;
    EXPECT_EQ(surface->CreateBrick(QStringLiteral("TText"), QPoint(150, 80)), nullptr);
    EXPECT_THROW(
        {
            d->ZoomRatio = 1;
            surface->CreateBrick(QStringLiteral("TButton"), QPoint(150, 80));
        },
        Exception);
}

TEST_F(DesignSurfaceTest, CentringPutsALargePreviewAtTheOrigin) {
    open(1.0, QSize(400, 300), QSize(300, 500));
    EXPECT_EQ(d->Panel1->geometry(), QRect(0, 100, 400, 300));
}

// --- Hit test and selection ------------------------------------------------------------------

TEST_F(DesignSurfaceTest, HitTestIncludesEdgesAndSkipsANameOnce) {
    open(1.0);
    QWidget* a = place(QStringLiteral("TPictureimg"), QPoint(10, 10));
    surface->ClearSelection();
    const QRect g = a->geometry();
    EXPECT_EQ(surface->ControlAtPoint(QPoint(g.left() + g.width(), g.top() + g.height())), a);
    EXPECT_EQ(surface->ControlAtPoint(QPoint(g.left() + g.width() + 1, g.top())), d->Panel1);
    EXPECT_EQ(surface->ControlAtPoint(QPoint(5, 5), d->Panel1), d->Panel1);
    // Skipping the panel's name at the top level: nothing else is there, so the surface.
    EXPECT_EQ(surface->ControlAtPoint(QPoint(15, 15), nullptr, QStringLiteral("Panel1")), d);
    // The frame is never hit.
    surface->Select(a);
    EXPECT_EQ(surface->ControlAtPoint(QPoint(g.left() - 1, g.top() - 1), d->Panel1), d->Panel1);
}

TEST_F(DesignSurfaceTest, ClicksSelectAddWithShiftAndClearOnThePicture) {
    open(1.0);
    QWidget* a = place(QStringLiteral("TText"), QPoint(10, 10));
    QWidget* b = place(QStringLiteral("TText"), QPoint(10, 150));
    EXPECT_EQ(surface->Selection(), QList<QWidget*>{b});
    click(a->geometry().center());
    EXPECT_EQ(surface->Selection(), QList<QWidget*>{a});
    EXPECT_EQ(surface->Inspected(), a);
    EXPECT_FALSE(surface->StretchHandle()->Sizable()); // text sizes itself
    click(b->geometry().center(), Qt::ShiftModifier);
    EXPECT_EQ(surface->Selection(), (QList<QWidget*>{a, b}));
    // A click on a selected brick changes nothing.
    click(a->geometry().center());
    EXPECT_EQ(surface->Selection(), (QList<QWidget*>{a, b}));
    click(QPoint(300, 280));
    EXPECT_TRUE(surface->Selection().isEmpty());
    EXPECT_EQ(surface->Inspected(), d);
    QWidget* p = place(QStringLiteral("TPictureimg"), QPoint(200, 10));
    EXPECT_EQ(surface->Selection(), QList<QWidget*>{p});
    EXPECT_TRUE(surface->StretchHandle()->Sizable());
}

TEST_F(DesignSurfaceTest, DeleteAndEscapeKeys) {
    open(1.0);
    QWidget* a = place(QStringLiteral("TText"), QPoint(10, 10));
    QSignalSpy inspected(surface.get(), &DesignSurface::inspectRequested);
    QTest::keyClick(surface->StretchHandle(), Qt::Key_Escape);
    EXPECT_TRUE(surface->Selection().isEmpty());
    EXPECT_EQ(surface->Inspected(), d);
    ASSERT_FALSE(inspected.isEmpty());
    EXPECT_EQ(inspected.last().at(0).value<QObject*>(), d);
    // Delete without a selection does nothing.
    QTest::keyClick(d, Qt::Key_Delete);
    EXPECT_EQ(d->Bricks().size(), 1);
    click(a->geometry().center());
    QTest::keyClick(surface->StretchHandle(), Qt::Key_Delete);
    EXPECT_TRUE(d->Bricks().isEmpty());
    EXPECT_FALSE(named(QStringLiteral("Text1")));
}

// --- Dragging ----------------------------------------------------------------------------------

TEST_F(DesignSurfaceTest, DraggingMovesAndKeepsFullSizeInStep) {
    open(2.5);
    auto* t = qobject_cast<TText*>(place(QStringLiteral("TText"), QPoint(10, 10)));
    ASSERT_NE(t, nullptr);
    drag(QPoint(12, 12), QPoint(45, 30));
    EXPECT_EQ(t->pos(), QPoint(43, 28));
    EXPECT_EQ(t->FullLeft, halfEven(43 * 2.5));
    EXPECT_EQ(t->FullTop, 70);
    EXPECT_EQ(surface->UndoStack()->count(), 2);
    EXPECT_EQ(surface->UndoStack()->undoText(), QStringLiteral("Move"));
    // With the grid on, the edge lands on multiples of its step.
    surface->SetGridX(8);
    surface->SetGridY(8);
    surface->SetIsGrid(true);
    drag(QPoint(45, 30), QPoint(60, 50));
    EXPECT_EQ(t->pos(), QPoint(56, 48));
    EXPECT_EQ(t->FullLeft, 140);
    EXPECT_EQ(t->FullTop, 120);
    // A press and release without movement leaves no command.
    const int commands = surface->UndoStack()->count();
    drag(QPoint(60, 50), QPoint(60, 50));
    EXPECT_EQ(surface->UndoStack()->count(), commands);
}

TEST_F(DesignSurfaceTest, ResizingAPictureUpdatesItsFullSize) {
    open(2.0);
    auto* p = qobject_cast<TPictureimg*>(place(QStringLiteral("TPictureimg"), QPoint(10, 10)));
    ASSERT_NE(p, nullptr);
    const QRect g = p->geometry();
    // The bottom-right grab zone is the frame's corner.
    TStretchHandle* h = surface->StretchHandle();
    // Inside the picture as well, so that the press reaches the frame.
    const QPoint corner(h->width() - 4, h->height() - 4);
    QTest::mouseMove(h, corner);
    EXPECT_EQ(h->DragZone(), 4);
    QTest::mousePress(h, Qt::LeftButton, {}, corner);
    QTest::mouseMove(h, corner + QPoint(10, 5));
    QTest::mouseRelease(h, Qt::LeftButton, {}, corner + QPoint(20, 10));
    EXPECT_EQ(p->geometry(), QRect(g.topLeft(), g.size() + QSize(20, 10)));
    EXPECT_EQ(p->FullWidth, (g.width() + 20) * 2);
    EXPECT_EQ(p->FullHeight, (g.height() + 10) * 2);
    EXPECT_EQ(surface->UndoStack()->undoText(), QStringLiteral("Resize"));
    surface->UndoStack()->undo();
    EXPECT_EQ(p->geometry(), g);
    EXPECT_EQ(p->FullWidth, g.width() * 2);
}

TEST_F(DesignSurfaceTest, DraggingTheTailAboveLeftMovesTheBubbleOrigin) {
    open(1.0);
    auto* b = qobject_cast<TTextBubble*>(place(QStringLiteral("TTextBubble"), QPoint(100, 100)));
    ASSERT_NE(b, nullptr);
    TBubbleFrom* m = b->Marker();
    const int bodyRight = b->FullLeft + b->Body.right;
    const int bodyBottom = b->FullTop + b->Body.bottom;
    const TTextBubble::BodyRect bodyBefore = b->Body;
    const int fromXBefore = b->FromX();
    click(m->geometry().center());
    ASSERT_EQ(surface->Selection(), QList<QWidget*>{m});
    drag(m->pos() + QPoint(2, 2), QPoint(52, 42));
    ASSERT_EQ(m->pos(), QPoint(50, 40));
    EXPECT_EQ(m->FullLeft, 50);
    EXPECT_EQ(b->FullLeft, 50);
    EXPECT_EQ(b->FullTop, 40);
    EXPECT_EQ(b->pos(), QPoint(50, 40));
    EXPECT_EQ(b->FromX(), 0);
    EXPECT_EQ(b->FromY(), 0);
    EXPECT_EQ(b->Body.left, 100 - 50);
    EXPECT_EQ(b->Body.top, 100 - 40);
    EXPECT_EQ(b->FullLeft + b->Body.right, bodyRight); // the body stays where it was
    EXPECT_EQ(b->FullTop + b->Body.bottom, bodyBottom);
    // Undo puts the whole bubble back.
    surface->UndoStack()->undo();
    EXPECT_EQ(b->pos(), QPoint(100, 100));
    EXPECT_EQ(b->Body, bodyBefore);
    EXPECT_EQ(b->FromX(), fromXBefore);
    EXPECT_EQ(m->FullLeft, b->FullLeft + b->FromX());
}

// While the marker is dragged the bubble is drawn with its tail at the pointer; the release
// leaves one step, and Escape during the drag leaves everything as it was.
TEST_F(DesignSurfaceTest, TheTailFollowsTheDragLiveAndEndsInOneStep) {
    open(1.0);
    auto* b = qobject_cast<TTextBubble*>(place(QStringLiteral("TTextBubble"), QPoint(40, 30)));
    ASSERT_NE(b, nullptr);
    TBubbleFrom* m = b->Marker();
    const QPoint bubbleAt = b->pos(), markerAt = m->pos();
    const TTextBubble::BodyRect body = b->Body;
    const int fromX = b->FromX(), fromY = b->FromY();
    // The new tail point: straight below the middle of the body, where no tail was.
    const QPoint base(b->FullLeft + (body.left + body.right) / 2, b->FullTop + body.bottom);
    const QPoint tip = base + QPoint(0, 100);
    ASSERT_LT(tip.y(), d->Panel1->height() - 12);
    const auto bubbleColoured = [](QColor c) {
        const bool fill = c.red() > 245 && c.green() > 245 && std::abs(c.blue() - 225) < 10;
        const bool outline = c.red() < 40 && c.green() < 40 && c.blue() < 40;
        return fill || outline;
    };
    // The share of points on the way from the base to the tip (its middle part, where the tail
    // is wider than a pixel) that carry the bubble's fill or outline.
    const auto tailShare = [&] {
        const QImage shot = d->Panel1->grab().toImage();
        int hits = 0, n = 0;
        for (double f = 0.15; f <= 0.6; f += 0.05, ++n) {
            const QPoint at = base + (tip - base) * f;
            hits += bubbleColoured(shot.pixelColor(at));
        }
        return double(hits) / n;
    };
    EXPECT_LT(tailShare(), 0.3) << "no tail there before the drag";

    click(m->geometry().center());
    ASSERT_EQ(surface->Selection(), QList<QWidget*>{m});
    TStretchHandle* h = surface->StretchHandle();
    const QPoint from = m->pos() + QPoint(2, 2) - h->pos();
    const QPoint to = tip + QPoint(2, 2) - h->pos();
    const int steps = surface->UndoStack()->count();

    // Drag, look, release.
    QTest::mousePress(h, Qt::LeftButton, {}, from);
    QTest::mouseMove(h, (from + to) / 2);
    QTest::mouseMove(h, to);
    ASSERT_TRUE(h->Dragging());
    EXPECT_GT(tailShare(), 0.9) << "mid-drag the tail points at the pointer";
    EXPECT_EQ(b->FullLeft + b->FromX(), tip.x());
    EXPECT_EQ(b->FullTop + b->FromY(), tip.y());
    EXPECT_EQ(m->pos(), markerAt) << "the marker moves on release";
    EXPECT_EQ(surface->UndoStack()->count(), steps) << "nothing is a step before the release";
    QTest::mouseRelease(h, Qt::LeftButton, {}, to);
    EXPECT_EQ(m->pos(), tip);
    EXPECT_EQ(b->FullLeft + b->FromX(), tip.x());
    EXPECT_EQ(b->FullTop + b->FromY(), tip.y());
    EXPECT_EQ(b->FullLeft + b->Body.left, 40) << "the body stays";
    EXPECT_GT(tailShare(), 0.9);
    EXPECT_EQ(surface->UndoStack()->count(), steps + 1) << "one step for the whole drag";
    surface->UndoStack()->undo();
    EXPECT_EQ(b->pos(), bubbleAt);
    EXPECT_EQ(b->Body, body);
    EXPECT_EQ(b->FromX(), fromX);
    EXPECT_EQ(b->FromY(), fromY);
    EXPECT_EQ(m->pos(), markerAt);
    EXPECT_LT(tailShare(), 0.3) << "the old tail back";

    // Escape mid-drag: the tail goes back, nothing moves, no step; the release does nothing.
    click(m->geometry().center());
    ASSERT_EQ(surface->Selection(), QList<QWidget*>{m});
    QTest::mousePress(h, Qt::LeftButton, {}, from);
    QTest::mouseMove(h, (from + to) / 2);
    QTest::mouseMove(h, to);
    EXPECT_GT(tailShare(), 0.9);
    QTest::keyClick(h, Qt::Key_Escape);
    EXPECT_FALSE(h->Dragging());
    EXPECT_EQ(h->RubberBand(), QRect()) << "no outline left behind";
    EXPECT_EQ(b->FromX(), fromX);
    EXPECT_EQ(b->FromY(), fromY);
    EXPECT_EQ(b->Body, body);
    EXPECT_EQ(b->pos(), bubbleAt);
    EXPECT_LT(tailShare(), 0.3);
    QTest::mouseRelease(h, Qt::LeftButton, {}, to);
    EXPECT_EQ(m->pos(), markerAt);
    EXPECT_EQ(b->FromX(), fromX);
    EXPECT_EQ(surface->UndoStack()->count(), steps + 1) << "no step added";
    EXPECT_EQ(surface->UndoStack()->index(), steps) << "the undone drag still to redo";
    EXPECT_EQ(surface->Selection(), QList<QWidget*>{m}) << "Escape ended the drag only";
}

TEST_F(DesignSurfaceTest, DraggingTheTailRightOfTheBodyKeepsTheOrigin) {
    open(1.0);
    auto* b = qobject_cast<TTextBubble*>(place(QStringLiteral("TTextBubble"), QPoint(20, 20)));
    TBubbleFrom* m = b->Marker();
    click(m->geometry().center());
    drag(m->pos() + QPoint(2, 2), QPoint(302, 252));
    EXPECT_EQ(b->FullLeft, 20);
    EXPECT_EQ(b->FullTop, 20);
    EXPECT_EQ(b->FromX(), 280);
    EXPECT_EQ(b->FromY(), 230);
    EXPECT_EQ(b->Body.left, 0);
}

TEST_F(DesignSurfaceTest, MovingABubbleTakesItsMarkerAlong) {
    open(2.0);
    auto* b = qobject_cast<TTextBubble*>(place(QStringLiteral("TTextBubble"), QPoint(20, 20)));
    TBubbleFrom* m = b->Marker();
    const QPoint offset = m->pos() - b->pos();
    drag(QPoint(22, 22), QPoint(42, 32));
    EXPECT_EQ(b->pos(), QPoint(40, 30));
    EXPECT_EQ(m->pos() - b->pos(), offset);
    EXPECT_EQ(m->FullLeft, 80 + b->FromX());
}

TEST_F(DesignSurfaceTest, ArrowNudgesMergeIntoOneCommand) {
    open(2.0);
    auto* t = qobject_cast<TText*>(place(QStringLiteral("TText"), QPoint(10, 10)));
    const int before = surface->UndoStack()->count();
    // Arrows sent to the designer reach the frame.
    QTest::keyClick(d, Qt::Key_Right);
    QTest::keyClick(surface->StretchHandle(), Qt::Key_Right);
    QTest::keyClick(surface->StretchHandle(), Qt::Key_Down);
    EXPECT_EQ(t->pos(), QPoint(12, 11));
    EXPECT_EQ(t->FullLeft, 24);
    EXPECT_EQ(t->FullTop, 22);
    EXPECT_EQ(surface->UndoStack()->count(), before + 1);
    surface->UndoStack()->undo();
    EXPECT_EQ(t->pos(), QPoint(10, 10));
    EXPECT_EQ(t->FullLeft, 20);
    surface->UndoStack()->redo();
    EXPECT_EQ(t->pos(), QPoint(12, 11));
}

// --- Clipboard ---------------------------------------------------------------------------------

TEST_F(DesignSurfaceTest, CopyCarriesBinaryAndTextForms) {
    open(1.0);
    QWidget* t = place(QStringLiteral("TText"), QPoint(10, 10));
    EXPECT_FALSE(surface->CanPaste());
    surface->CopyBrick(t);
    EXPECT_TRUE(surface->CanPaste());
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    EXPECT_TRUE(data->data(QString::fromLatin1(kBrickMimeType)).startsWith("TPF0"));
    EXPECT_TRUE(data->text().startsWith(QStringLiteral("object Text1: TText")));
    EXPECT_TRUE(data->text().contains(QStringLiteral("Caption = 'Type text here'")));
}

TEST_F(DesignSurfaceTest, PastingANameInUseGivesTheNextFreeNameAndAnotherCopyEachTime) {
    open(2.0);
    auto* t = qobject_cast<TText*>(place(QStringLiteral("TText"), QPoint(10, 10)));
    t->setCaption(QStringLiteral("Hello"));
    surface->CopyBrick(t);
    const int commands = surface->UndoStack()->count();
    auto* first = qobject_cast<TText*>(surface->PasteBrick());
    auto* second = qobject_cast<TText*>(surface->PasteBrick());
    auto* third = qobject_cast<TText*>(surface->PasteBrick());
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(namesOf(d->Components()),
              (QStringList{"Text1", "Text2", "Text3", "Text4"}));
    // Each lands 5 pixels right and down of the one before it, never on top of another.
    EXPECT_EQ(first->pos(), QPoint(15, 15));
    EXPECT_EQ(second->pos(), QPoint(20, 20));
    EXPECT_EQ(third->pos(), QPoint(25, 25));
    EXPECT_EQ(third->FullLeft, 50); // 25 x 2
    EXPECT_EQ(third->Caption(), QStringLiteral("Hello"));
    EXPECT_EQ(surface->Selection(), QList<QWidget*>{third});
    // One step each; undo takes the last one away.
    EXPECT_EQ(surface->UndoStack()->count(), commands + 3);
    surface->UndoStack()->undo();
    EXPECT_EQ(d->Bricks().size(), 3);
    EXPECT_EQ(t->pos(), QPoint(10, 10));
}

TEST_F(DesignSurfaceTest, TheClipboardCarriesEveryStoredValue) {
    open(1.0);
    auto* date = qobject_cast<TTextDate*>(place(QStringLiteral("TTextDate"), QPoint(10, 10)));
    auto* bubble = qobject_cast<TTextBubble*>(place(QStringLiteral("TTextBubble"), QPoint(60, 80)));
    auto* pic = place(QStringLiteral("TPictureimg"), QPoint(200, 20));
    ASSERT_TRUE(date && bubble && pic);
    const QList<QPair<QWidget*, QList<QPair<QString, QString>>>> values = {
        {date, {{"Angle", "-450"}, {"Opacity", "128"}, {"Format", "yyyy-MM-dd"},
                {"Anchor", "baBottomRight"}, {"MarginX", "12.5"}, {"MarginY", "6.25"},
                {"RelativeSize", "5.0"}}},
        {bubble, {{"BubbleStyle", "3"}, {"Opacity", "64"}}},
        {pic, {{"Anchor", "baTopLeft"}, {"MarginX", "25.0"}, {"RelativeSize", "50.0"}}},
    };
    for (const auto& [brick, props] : values)
        for (const auto& [name, text] : props)
            surface->SetProperty(brick, name, text);
    QList<QList<QString>> stored;
    for (const auto& [brick, props] : values) {
        stored.append(QList<QString>());
        for (const auto& [name, text] : props)
            stored.last().append(PropertyValueText(brick, name));
    }
    EXPECT_EQ(stored[0][2], "yyyy-MM-dd");
    EXPECT_EQ(stored[1][0], "3");
    const auto expectCarried = [&](const QList<QWidget*>& pasted, bool margins) {
        ASSERT_EQ(pasted.size(), 3);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < values[i].second.size(); ++j) {
                const QString name = values[i].second[j].first;
                if (!margins && name.startsWith(QLatin1String("Margin")))
                    continue;
                EXPECT_EQ(PropertyValueText(pasted[i], name), stored[i][j])
                    << pasted[i]->objectName().toStdString() << "." << name.toStdString();
            }
    };
    // Cut and pasted: the same bricks again, every value as it was, the anchored ones where
    // they were.
    surface->SelectAll();
    surface->CutBricks(surface->Selection());
    const QList<QWidget*> back = surface->PasteBricks();
    EXPECT_EQ(namesOf(back), (QStringList{"TextDate1", "TextBubble1", "Pictureimg1"}));
    EXPECT_EQ(surface->Selection(), back);
    expectCarried(back, true);
    // Pasted again beside them: copies under the next free names. The anchored ones step aside
    // too, so their margins are their own.
    const QList<QWidget*> copies = surface->PasteBricks();
    EXPECT_EQ(namesOf(copies), (QStringList{"TextDate2", "TextBubble2", "Pictureimg2"}));
    expectCarried(copies, false);
    EXPECT_NE(PropertyValueText(copies[0], "MarginX"), stored[0][4]);
    // The pasted bubble has a tail marker of its own, with a name of its own.
    auto* first = qobject_cast<TTextBubble*>(back[1]);
    auto* second = qobject_cast<TTextBubble*>(copies[1]);
    ASSERT_TRUE(first->Marker() && second->Marker());
    EXPECT_NE(first->Marker(), second->Marker());
    EXPECT_NE(first->Marker()->objectName(), second->Marker()->objectName());
}

TEST_F(DesignSurfaceTest, CutThenPasteKeepsTheNameOnceAndLandsAside) {
    open(2.0);
    auto* t = qobject_cast<TText*>(place(QStringLiteral("TText"), QPoint(10, 10)));
    t->setCaption(QStringLiteral("Hello"));
    surface->CutBrick(t);
    EXPECT_TRUE(d->Bricks().isEmpty());
    EXPECT_TRUE(surface->Selection().isEmpty());
    auto* pasted = qobject_cast<TText*>(surface->PasteBrick());
    ASSERT_NE(pasted, nullptr);
    EXPECT_EQ(pasted->objectName(), QStringLiteral("Text1"));
    EXPECT_EQ(pasted->Caption(), QStringLiteral("Hello"));
    EXPECT_EQ(pasted->pos(), QPoint(15, 15)); // its stored place lies on the picture
    EXPECT_EQ(pasted->FullLeft, 30);
    EXPECT_EQ(surface->Selection(), QList<QWidget*>{pasted});
    // Pasted again while the first is there: a copy under the next free name.
    QWidget* again = surface->PasteBrick();
    EXPECT_EQ(again->objectName(), QStringLiteral("Text2"));
    EXPECT_EQ(again->pos(), QPoint(20, 20));
    EXPECT_EQ(d->Bricks().size(), 2);
    surface->UndoStack()->undo();
    // Undo the paste, then the cut: the original comes back.
    surface->UndoStack()->undo();
    EXPECT_TRUE(d->Bricks().isEmpty());
    surface->UndoStack()->undo();
    ASSERT_EQ(d->Bricks(), QList<QWidget*>{t});
    EXPECT_EQ(t->pos(), QPoint(10, 10));
    EXPECT_EQ(t->Caption(), QStringLiteral("Hello"));
}

// The readability values go through the one edit path: each write is an undo step, and a cut
// and paste carries them all.
TEST_F(DesignSurfaceTest, ReadabilityValuesAreUndoneAndCarriedByTheClipboard) {
    open(1.0);
    auto* t = qobject_cast<TText*>(place(QStringLiteral("TText"), QPoint(10, 10)));
    ASSERT_TRUE(t);
    surface->SetProperty(t, QStringLiteral("Outline"), QStringLiteral("clNavy"));
    surface->SetProperty(t, QStringLiteral("OutlineWidth"), QStringLiteral("14"));
    surface->SetProperty(t, QStringLiteral("Backdrop"), QStringLiteral("clWhite"));
    surface->SetProperty(t, QStringLiteral("AutoContrast"), QStringLiteral("True"));
    EXPECT_EQ(t->Outline(), TColor(0x800000));
    EXPECT_EQ(t->OutlineWidth(), 14);
    surface->UndoStack()->undo();
    EXPECT_FALSE(t->AutoContrast());
    EXPECT_EQ(t->Backdrop(), clWhite);
    surface->UndoStack()->redo();
    const Readability kept = t->Readable;
    surface->CutBrick(t);
    auto* pasted = qobject_cast<TText*>(surface->PasteBrick());
    ASSERT_TRUE(pasted);
    EXPECT_TRUE(pasted->Readable == kept);
    EXPECT_TRUE(pasted->AutoContrast());
}

TEST_F(DesignSurfaceTest, APastedBubbleGetsAMarkerOfItsOwn) {
    open(1.0);
    auto* b = qobject_cast<TTextBubble*>(place(QStringLiteral("TTextBubble"), QPoint(30, 30)));
    surface->CopyBrick(b);
    surface->DeleteBrick(b);
    EXPECT_TRUE(d->Panel1->findChildren<TBubbleFrom*>().isEmpty());
    auto* pasted = qobject_cast<TTextBubble*>(surface->PasteBrick());
    ASSERT_TRUE(pasted && pasted->Marker());
    EXPECT_EQ(pasted->Marker()->parentWidget(), d->Panel1);
    EXPECT_EQ(pasted->Marker()->FullLeft, pasted->FullLeft + pasted->FromX());
    EXPECT_EQ(pasted->pos(), QPoint(35, 35));
}

// --- Popup menu --------------------------------------------------------------------------------

TEST_F(DesignSurfaceTest, PopupMenuOffersWhatTheHitAllows) {
    open(1.0);
    QWidget* t = place(QStringLiteral("TText"), QPoint(10, 10));
    EXPECT_EQ(surface->PopupAction(kTagCopy)->text(), QStringLiteral("Copy"));
    EXPECT_EQ(surface->PopupAction(kTagCut)->property("Tag").toInt(), 402);
    EXPECT_EQ(surface->PopupAction(kTagPaste)->property("ImageIndex").toInt(), 5);
    EXPECT_EQ(surface->PopupAction(kTagSendToBack)->text(), QStringLiteral("Sent to Back"));

    QTest::mouseClick(d->Panel1, Qt::RightButton, {}, QPoint(300, 250));
    surface->PopupMenu()->hide();
    EXPECT_FALSE(surface->DeleteAction()->isEnabled());
    EXPECT_FALSE(surface->PopupAction(kTagCopy)->isEnabled());
    EXPECT_FALSE(surface->PopupAction(kTagCut)->isEnabled());
    EXPECT_FALSE(surface->ControlMenuAction()->isVisible());
    EXPECT_FALSE(surface->PopupAction(kTagPaste)->isEnabled()); // empty clipboard
    EXPECT_EQ(surface->TargetControl(), d->Panel1);

    surface->CopyBrick(t);
    QTest::mouseClick(d->Panel1, Qt::RightButton, {}, t->geometry().center());
    surface->PopupMenu()->hide();
    EXPECT_TRUE(surface->DeleteAction()->isEnabled());
    EXPECT_TRUE(surface->PopupAction(kTagCut)->isEnabled());
    EXPECT_TRUE(surface->ControlMenuAction()->isVisible());
    EXPECT_TRUE(surface->PopupAction(kTagPaste)->isEnabled());
    EXPECT_EQ(surface->TargetControl(), t);
    surface->DeleteAction()->trigger();
    EXPECT_TRUE(d->Bricks().isEmpty());
    EXPECT_EQ(surface->TargetControl(), nullptr);
}

// --- Z-order, delete, clear --------------------------------------------------------------------

// --- Several bricks at once ----------------------------------------------------------------

TEST_F(DesignSurfaceTest, ShiftClickTogglesAndARubberBandSelectsWhatItTouches) {
    open(1.0, QSize(1200, 900));
    QWidget* a = place(QStringLiteral("TText"), QPoint(10, 10));
    QWidget* b = place(QStringLiteral("TText"), QPoint(600, 10));
    QWidget* c = place(QStringLiteral("TText"), QPoint(10, 400));
    ASSERT_LT(a->geometry().right() + 20, b->x());
    click(a->geometry().center());
    click(c->geometry().center(), Qt::ShiftModifier);
    EXPECT_EQ(surface->Selection(), (QList<QWidget*>{a, c}));
    // Shift on a selected brick takes it out; on the last one, the selection is empty.
    click(a->geometry().center(), Qt::ShiftModifier);
    EXPECT_EQ(surface->Selection(), QList<QWidget*>{c});
    EXPECT_EQ(surface->Inspected(), c);
    click(c->geometry().center(), Qt::ShiftModifier);
    EXPECT_TRUE(surface->Selection().isEmpty());

    // A band from the bare picture (below b, right of a) up over a corner of each of a and b,
    // not reaching c.
    const QPoint from(b->x() + 5, 300);
    const QPoint to(a->geometry().right() - 2, b->y() + 2);
    ASSERT_EQ(surface->ControlAtPoint(from + d->Panel1->pos()), d->Panel1);
    QTest::mousePress(d->Panel1, Qt::LeftButton, {}, from);
    QTest::mouseMove(d->Panel1, (from + to) / 2);
    QTest::mouseMove(d->Panel1, to);
    EXPECT_EQ(surface->BandRect(), QRect(from, to).normalized());
    auto* band = d->Panel1->findChild<QWidget*>(QStringLiteral("SelectionBand"));
    ASSERT_NE(band, nullptr);
    EXPECT_TRUE(band->isVisible());
    QTest::mouseRelease(d->Panel1, Qt::LeftButton, {}, to);
    EXPECT_EQ(surface->Selection(), (QList<QWidget*>{a, b}));
    EXPECT_TRUE(surface->BandRect().isNull());
    EXPECT_FALSE(d->Panel1->findChild<QWidget*>(QStringLiteral("SelectionBand")));

    // With Shift a band adds to the selection; a band over nothing clears it.
    surface->SelectInRect(QRect(c->geometry().center(), QSize(1, 1)), true);
    EXPECT_EQ(surface->Selection(), (QList<QWidget*>{a, b, c}));
    surface->SelectInRect(QRect(900, 700, 20, 20), false);
    EXPECT_TRUE(surface->Selection().isEmpty());
    // A click on the bare picture without moving draws no band and clears.
    click(a->geometry().center());
    click(QPoint(900, 700));
    EXPECT_TRUE(surface->Selection().isEmpty());
}

TEST_F(DesignSurfaceTest, DeleteCutCopyAndZOrderActOnEverySelectedBrickAsOneStep) {
    open(1.0, QSize(1200, 900));
    QWidget* a = place(QStringLiteral("TText"), QPoint(10, 10));
    QWidget* b = place(QStringLiteral("TTextBubble"), QPoint(600, 10));
    QWidget* c = place(QStringLiteral("TText"), QPoint(10, 700));
    QUndoStack* stack = surface->UndoStack();
    const int placed = stack->count();

    // Delete by the key: both selected go, one step; the bubble takes its tail marker along.
    click(a->geometry().center());
    click(b->geometry().center(), Qt::ShiftModifier);
    QTest::keyClick(surface->StretchHandle(), Qt::Key_Delete);
    EXPECT_EQ(d->Bricks(), QList<QWidget*>{c});
    EXPECT_TRUE(d->Panel1->findChildren<TBubbleFrom*>().isEmpty());
    EXPECT_EQ(stack->count(), placed + 1);
    stack->undo();
    EXPECT_EQ(d->Bricks(), (QList<QWidget*>{a, b, c}));
    EXPECT_EQ(d->Panel1->findChildren<TBubbleFrom*>().size(), 1);

    // A selected tail marker stands for its bubble.
    surface->Select(a);
    surface->AddToSelection(qobject_cast<TTextBubble*>(b)->Marker());
    surface->CopyBricks(surface->Selection());
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    EXPECT_TRUE(data->hasFormat(QString::fromLatin1(kBrickListMimeType)));
    EXPECT_TRUE(data->text().contains(QStringLiteral("object Text1: TText")));
    EXPECT_TRUE(data->text().contains(QStringLiteral("object TextBubble1: TTextBubble")));

    // Cut both: one step; paste brings both back under their own names, selected.
    surface->Select(a);
    surface->AddToSelection(b);
    surface->CutBricks(surface->Selection());
    EXPECT_EQ(d->Bricks(), QList<QWidget*>{c});
    const int afterCut = stack->count();
    const QList<QWidget*> pasted = surface->PasteBricks();
    EXPECT_EQ(namesOf(pasted), (QStringList{"Text1", "TextBubble1"}));
    EXPECT_EQ(surface->Selection(), pasted);
    EXPECT_EQ(stack->count(), afterCut + 1);
    stack->undo();
    stack->undo();
    EXPECT_EQ(d->Bricks(), (QList<QWidget*>{a, b, c}));

    // Z-order of two: to the back together, keeping their order among themselves; one step.
    auto index = [this](QWidget* w) { return d->Panel1->children().indexOf(w); };
    ASSERT_LT(index(a), index(b));
    ASSERT_LT(index(b), index(c));
    surface->Select(b);
    surface->AddToSelection(c);
    const int beforeZ = stack->index();
    surface->SendToBack(surface->Selection());
    EXPECT_LT(index(b), index(c));
    EXPECT_LT(index(c), index(a));
    EXPECT_EQ(stack->index(), beforeZ + 1);
    // b was below a, so it stays below it.
    surface->BringToFront(QList<QWidget*>{a, b});
    EXPECT_LT(index(c), index(b));
    EXPECT_LT(index(b), index(a));
    stack->undo();
    stack->undo();
    EXPECT_LT(index(a), index(b));
    EXPECT_LT(index(b), index(c));

    // The popup's commands act on the selection when the hit is in it, else on the hit alone.
    surface->Select(a);
    surface->AddToSelection(c);
    surface->ShowPopup(c, nullptr);
    surface->PopupAction(kTagMenuFurniture)->trigger(); // Delete
    EXPECT_EQ(d->Bricks(), QList<QWidget*>{b});
    stack->undo();
    surface->Select(a);
    surface->AddToSelection(c);
    surface->ShowPopup(b, nullptr);
    surface->PopupAction(kTagMenuFurniture)->trigger();
    EXPECT_EQ(d->Bricks(), (QList<QWidget*>{a, c}));
    stack->undo();

    // Anchoring from the popup: every selected brick, one step.
    surface->Select(a);
    surface->AddToSelection(c);
    surface->ShowPopup(a, nullptr);
    const int beforeAnchor = stack->index();
    surface->AnchorAction()->trigger();
    EXPECT_EQ(PropertyValueText(a, "Anchor"), "baTopLeft");
    EXPECT_EQ(PropertyValueText(c, "Anchor"), "baBottomLeft");
    EXPECT_EQ(PropertyValueText(b, "Anchor"), "baNone");
    EXPECT_EQ(stack->index(), beforeAnchor + 1);
}

TEST_F(DesignSurfaceTest, ZOrderCommandsAndTheirUndo) {
    open(1.0);
    QWidget* a = place(QStringLiteral("TText"), QPoint(10, 10));
    QWidget* b = place(QStringLiteral("TText"), QPoint(12, 12));
    auto index = [this](QWidget* w) { return d->Panel1->children().indexOf(w); };
    ASSERT_LT(index(a), index(b));
    surface->SetTargetControl(b);
    surface->PopupAction(kTagSendToBack)->trigger();
    EXPECT_LT(index(b), index(a));
    EXPECT_EQ(d->Panel1->children().last(), surface->StretchHandle()); // the frame stays on top
    EXPECT_EQ(surface->UndoStack()->undoText(), QStringLiteral("Send to Back"));
    surface->UndoStack()->undo();
    EXPECT_LT(index(a), index(b));
    surface->UndoStack()->redo();
    EXPECT_LT(index(b), index(a));
    surface->BringToFront(b);
    EXPECT_LT(index(a), index(b));
}

TEST_F(DesignSurfaceTest, UndoOfDeleteRestoresNameOrderAndPlace) {
    open(1.0);
    QWidget* a = place(QStringLiteral("TText"), QPoint(10, 10));
    QWidget* b = place(QStringLiteral("TTextBubble"), QPoint(12, 60));
    QWidget* c = place(QStringLiteral("TPictureimg"), QPoint(14, 14));
    const QObjectList stacking = d->Panel1->children();
    surface->DeleteBrick(b);
    EXPECT_EQ(d->Components(), (QList<QWidget*>{a, c}));
    EXPECT_TRUE(d->Panel1->findChildren<TBubbleFrom*>().isEmpty());
    surface->UndoStack()->undo();
    EXPECT_EQ(d->Components(), (QList<QWidget*>{a, b, c}));
    EXPECT_EQ(b->objectName(), QStringLiteral("TextBubble1"));
    EXPECT_EQ(b->pos(), QPoint(12, 60));
    EXPECT_TRUE(b->isVisible());
    EXPECT_EQ(qobject_cast<TTextBubble*>(b)->Marker()->parentWidget(), d->Panel1);
    QObjectList now = d->Panel1->children();
    now.removeAll(surface->StretchHandle());
    QObjectList was = stacking;
    was.removeAll(surface->StretchHandle());
    EXPECT_EQ(now, was);
    // Undo of the placing itself, then redo.
    surface->UndoStack()->undo();
    EXPECT_EQ(d->Components(), (QList<QWidget*>{a, b}));
    surface->UndoStack()->redo();
    EXPECT_EQ(d->Components(), (QList<QWidget*>{a, b, c}));
}

TEST_F(DesignSurfaceTest, DeletingAllBricksLeavesTheFurnitureAndUndoes) {
    open(1.0);
    place(QStringLiteral("TText"), QPoint(10, 10));
    place(QStringLiteral("TTextBubble"), QPoint(12, 60));
    surface->DeleteAllBricks();
    EXPECT_TRUE(d->Bricks().isEmpty());
    EXPECT_TRUE(d->Panel1->findChildren<TControl*>().isEmpty()); // markers too
    EXPECT_EQ(d->Panel1->parentWidget(), d);
    EXPECT_NE(surface->PopupMenu(), nullptr);
    EXPECT_NE(surface->StretchHandle(), nullptr);
    surface->UndoStack()->undo();
    EXPECT_EQ(d->Bricks().size(), 2);
    EXPECT_EQ(d->Panel1->findChildren<TBubbleFrom*>().size(), 1);
    // Clearing the pattern is final.
    surface->ClearPattern();
    EXPECT_TRUE(d->Bricks().isEmpty());
    EXPECT_EQ(surface->UndoStack()->count(), 0);
    EXPECT_FALSE(d->PatternModified());
}

// --- Properties, modified pattern
// -----------------------------------------------------------------

TEST_F(DesignSurfaceTest, PropertyWritesUndoAndModifiedFollowsTheStack) {
    open(2.0);
    auto* t = qobject_cast<TText*>(place(QStringLiteral("TText"), QPoint(10, 10)));
    EXPECT_TRUE(d->PatternModified());
    surface->MarkSaved();
    EXPECT_FALSE(d->PatternModified());
    surface->SetProperty(t, QStringLiteral("Caption"), QStringLiteral("Hi"));
    // Left is in full-size pixels.
    surface->SetProperty(t, QStringLiteral("Left"), QStringLiteral("80"));
    EXPECT_EQ(t->Caption(), QStringLiteral("Hi"));
    EXPECT_EQ(t->FullLeft, 80);
    EXPECT_EQ(t->Left(), 40);
    EXPECT_TRUE(d->PatternModified());
    surface->UndoStack()->undo();
    EXPECT_EQ(t->Left(), 10);
    EXPECT_EQ(t->FullLeft, 20);
    surface->UndoStack()->undo();
    EXPECT_EQ(t->Caption(), QStringLiteral("Type text here"));
    EXPECT_FALSE(d->PatternModified()); // back at the saved state
    surface->UndoStack()->redo();
    EXPECT_EQ(t->Caption(), QStringLiteral("Hi"));
    EXPECT_TRUE(d->PatternModified());
    // A bad value raises the property's error and leaves no command.
    const int commands = surface->UndoStack()->count();
    EXPECT_THROW(surface->SetProperty(t, QStringLiteral("Left"), QStringLiteral("abc")), Exception);
    EXPECT_EQ(surface->UndoStack()->count(), commands);
}

// The inspector's place and size are the photo's full-size pixels, exactly as typed, whatever
// the zoom ratio; the preview follows. Each write is one undo step.
TEST_F(DesignSurfaceTest, PlaceAndSizeAreWrittenInFullSizePixels) {
    open(2.5);
    auto* t = qobject_cast<TText*>(place(QStringLiteral("TText"), QPoint(10, 10)));
    auto* p = qobject_cast<TPictureimg*>(place(QStringLiteral("TPictureimg"), QPoint(40, 40)));
    ASSERT_TRUE(t && p);
    EXPECT_EQ(FullSizeValue(t, QStringLiteral("Left")), 25);
    EXPECT_EQ(FullSizeValue(t, QStringLiteral("Width")), t->FullWidth);
    EXPECT_EQ(FullSizeValue(t, QStringLiteral("Caption")), std::nullopt);
    surface->SetProperty(t, QStringLiteral("Left"), QStringLiteral("101"));
    surface->SetProperty(t, QStringLiteral("Top"), QStringLiteral("7"));
    EXPECT_EQ(t->FullLeft, 101);
    EXPECT_EQ(t->FullTop, 7);
    EXPECT_EQ(t->Left(), halfEven(101 / 2.5));
    EXPECT_EQ(t->Top(), halfEven(7 / 2.5));
    // An auto-sized text measures its own width: no change, no command.
    const int measured = t->FullWidth;
    const int commands = surface->UndoStack()->count();
    surface->SetProperty(t, QStringLiteral("Width"), QStringLiteral("999"));
    EXPECT_EQ(t->FullWidth, measured);
    EXPECT_EQ(surface->UndoStack()->count(), commands);
    const QSize placed(p->FullWidth, p->FullHeight);
    surface->SetProperty(p, QStringLiteral("Width"), QStringLiteral("333"));
    surface->SetProperty(p, QStringLiteral("Height"), QStringLiteral("77"));
    EXPECT_EQ(p->FullWidth, 333);
    EXPECT_EQ(p->FullHeight, 77);
    EXPECT_EQ(p->Width(), halfEven(333 / 2.5));
    EXPECT_EQ(p->Height(), halfEven(77 / 2.5));
    surface->UndoStack()->undo();
    EXPECT_EQ(QSize(p->FullWidth, p->FullHeight), QSize(333, placed.height()));
    surface->UndoStack()->undo();
    EXPECT_EQ(QSize(p->FullWidth, p->FullHeight), placed);
    surface->UndoStack()->undo();
    EXPECT_EQ(t->FullLeft, 101);
    EXPECT_EQ(t->FullTop, 25);
    surface->UndoStack()->undo();
    EXPECT_EQ(t->FullLeft, 25);
    EXPECT_EQ(t->Left(), 10);
}

// --- Grid and registries -----------------------------------------------------------------------

TEST_F(DesignSurfaceTest, TheHandleSnapsToTheGridStepWhileTheGridIsOn) {
    open(1.0);
    EXPECT_EQ(surface->GridX(), 4);
    EXPECT_EQ(surface->GridY(), 4);
    EXPECT_FALSE(surface->IsGrid());
    EXPECT_EQ(surface->StretchHandle()->GridX(), 1) << "off: single pixels";
    surface->SetIsGrid(true);
    EXPECT_EQ(surface->StretchHandle()->GridX(), 4);
    EXPECT_EQ(surface->StretchHandle()->GridY(), 4);
    // The step set is the step snapped to, in whatever order the values come.
    surface->SetGridY(5);
    EXPECT_EQ(surface->StretchHandle()->GridY(), 5);
    surface->SetGridX(40);
    EXPECT_EQ(surface->GridX(), 32);
    EXPECT_EQ(surface->StretchHandle()->GridX(), 32);
    surface->SetGridX(0);
    EXPECT_EQ(surface->GridX(), 1);
    surface->SetGridX(12);
    surface->SetIsGrid(false);
    EXPECT_EQ(surface->StretchHandle()->GridX(), 1);
    EXPECT_EQ(surface->GridX(), 12) << "the step is kept while the grid is off";
    surface->SetIsGrid(true);
    EXPECT_EQ(surface->StretchHandle()->GridX(), 12);
}

TEST_F(DesignSurfaceTest, EditorRegistriesFollowTheLookupRules) {
    open(1.0);
    EXPECT_TRUE(surface->RegisterPropertyEditor({PropertyKind::Color, "TColor", "", "colour"}));
    EXPECT_TRUE(
        surface->RegisterPropertyEditor({PropertyKind::String, "string", "Caption", "caption"}));
    EXPECT_TRUE(surface->RegisterPropertyEditor({PropertyKind::String, "string", "", "strings"}));
    EXPECT_FALSE(surface->RegisterPropertyEditor({PropertyKind::Color, "TColor", "", "again"}));
    EXPECT_EQ(surface->FindPropertyEditor({"Caption", "string", PropertyKind::String})->editorName,
              QStringLiteral("caption"));
    EXPECT_EQ(surface->FindPropertyEditor({"Hint", "string", PropertyKind::String})->editorName,
              QStringLiteral("strings"));
    EXPECT_EQ(surface->FindPropertyEditor({"Color", "tcolor", PropertyKind::Color}), nullptr);
    try {
        surface->GetPropertyEditor({"Left", "Integer", PropertyKind::Integer});
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("Editor for property \"Left\" as class \"Integer\" not found."));
    }

    int edits = 0;
    EXPECT_TRUE(surface->RegisterComponentEditor({"TText", true, true, [&edits](QWidget*) {
                                                      ++edits;
                                                      return true; // Ok: the new brick stays
                                                  }}));
    EXPECT_FALSE(surface->RegisterComponentEditor({"TText", false, false, {}}));
    QWidget* t = place(QStringLiteral("TText"), QPoint(10, 10)); // edits on create
    EXPECT_EQ(edits, 1);
    QTest::mouseDClick(d->Panel1, Qt::LeftButton, {}, t->geometry().center());
    EXPECT_EQ(edits, 2);
    EXPECT_EQ(surface->TargetControl(), t);
    EXPECT_FALSE(surface->EditsOnCreate(place(QStringLiteral("TTextTime"), QPoint(10, 100))));

    surface->InitDesigner();
    EXPECT_TRUE(surface->IsPropertyHidden(QStringLiteral("TText"), QStringLiteral("name")));
    EXPECT_FALSE(surface->IsPropertyHidden(QStringLiteral("TTextBubbleX"), QStringLiteral("Name")));
    EXPECT_TRUE(
        surface->IsPropertyHidden(QStringLiteral("TPictureimg"), QStringLiteral("Anchors")));
    EXPECT_FALSE(surface->IsPropertyHidden(QStringLiteral("TText"), QStringLiteral("Anchors")));
    EXPECT_FALSE(surface->IsPropertyHidden(QStringLiteral("TBubbleFrom"), QStringLiteral("Name")));
    EXPECT_FALSE(surface->HideProperty(QStringLiteral("TDesigner"), QStringLiteral("NAME")));
}

TEST_F(DesignSurfaceTest, InitDesignerRegistersThePaletteInOrder) {
    open(1.0);
    QSignalSpy palette(surface.get(), &DesignSurface::paletteClassRegistered);
    surface->InitDesigner();
    ASSERT_EQ(palette.count(), 5);
    const QStringList expected{"TText", "TTextTime", "TTextDate", "TPictureimg", "TTextBubble"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(palette.at(i).at(0).toString(), expected[i]);
        EXPECT_EQ(palette.at(i).at(1).toString(), QStringLiteral("Common"));
    }
    EXPECT_EQ(surface->Inspected(), d);
}

} // namespace

TEST_F(DesignSurfaceTest, ANewBrickTakesTheFontLastUsed) {
    open(1.0);
    auto* first = qobject_cast<TText*>(place(QStringLiteral("TText"), QPoint(10, 10)));
    ASSERT_NE(first, nullptr);
    const QString defaultName = first->Font()->Name();
    surface->SetProperty(first, "Font.Name", "Test Serif");
    surface->SetProperty(first, "Font.Size", "20");
    surface->SetProperty(first, "Font.Color", "clRed");
    surface->SetProperty(first, "Font.Style", "[fsItalic]");
    for (const char* cls : {"TText", "TTextDate", "TTextBubble"}) {
        auto* next = qobject_cast<TText*>(place(QString::fromLatin1(cls), QPoint(10, 150)));
        ASSERT_NE(next, nullptr) << cls;
        EXPECT_EQ(next->Font()->Name(), "Test Serif") << cls;
        EXPECT_EQ(next->Font()->Size(), 20) << cls;
        EXPECT_EQ(next->Font()->Color(), TColor(0x0000FF)) << cls;
        EXPECT_EQ(PropertyValueText(next, "Font.Style"), "[fsItalic]") << cls;
        // Measured in that font: as tall as the first one now is.
        if (QString::fromLatin1(cls) == "TText") {
            EXPECT_EQ(next->height(), first->height());
        }
    }
    EXPECT_NE(defaultName, "Test Serif");
}
