#include "designer/surface/DesignerBricks.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/ImageCodecs.h"
#include "tests/support/TestSupport.h"

#include <QPointer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace {

// A brick's text form, lines joined as a pattern stores them.
QString brickText(const QStringList& lines) {
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QString textBrick(const QString& name, int left = 20, int top = 15) {
    return brickText({QStringLiteral("object %1: TText").arg(name),
                      QStringLiteral("  Left = %1").arg(left), QStringLiteral("  Top = %1").arg(top),
                      QStringLiteral("  Caption = 'hi'"), QStringLiteral("end")});
}

QString bubbleBrick(const QString& name, int tag = 0) {
    return brickText({QStringLiteral("object %1: TTextBubble").arg(name),
                      QStringLiteral("  Tag = %1").arg(tag), QStringLiteral("  Left = 20"),
                      QStringLiteral("  Top = 30"), QStringLiteral("  Caption = 'say'"),
                      QStringLiteral("  FromX = 7"), QStringLiteral("  FromY = 90"),
                      QStringLiteral("end")});
}

// A surface with a photo open at a zoom ratio (none when zoom is 0).
struct Surface {
    QTemporaryDir dir;
    TDesigner designer;
    explicit Surface(double zoom = 1.0) {
        RegisterBricks();
        if (zoom > 0) {
            const QString path = dir.filePath(QStringLiteral("photo.bmp"));
            WriteFileBytes(path, EncodeBmp(makeTestPhoto(200, 160)));
            designer.OpenImage(path, zoom);
        }
    }
};

QStringList namesOf(const QList<QWidget*>& widgets) {
    QStringList names;
    for (const QWidget* w : widgets)
        names << w->objectName();
    return names;
}

QString errorOf(TDesigner& d, const QString& text) {
    try {
        AddBrickFromText(d, text);
    } catch (const Exception& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

// Every rule holds alike with and without a loading session (the session's name index).
class BrickLoading : public ::testing::TestWithParam<bool> {
protected:
    Surface s;
    std::optional<BrickLoadSession> session;
    void SetUp() override {
        if (GetParam())
            session.emplace(s.designer);
    }
};

TEST_P(BrickLoading, TextBecomesAShownBrickOnThePicturePanel) {
    TDesigner& d = s.designer;
    QWidget* brick = AddBrickFromText(d, textBrick(QStringLiteral("Text1")));
    ASSERT_NE(brick, nullptr);
    auto* text = qobject_cast<TText*>(brick);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->objectName(), QStringLiteral("Text1"));
    EXPECT_EQ(text->parentWidget(), d.Panel1);
    EXPECT_TRUE(text->isVisibleTo(d.Panel1));
    EXPECT_EQ(text->pos(), QPoint(20, 15));
    EXPECT_EQ(text->Caption(), QStringLiteral("hi"));
    EXPECT_EQ(DesignerOf(text), &d);
    EXPECT_EQ(d.Components(), QList<QWidget*>({brick}));
    EXPECT_EQ(d.Bricks(), QList<QWidget*>({brick}));
}

TEST_P(BrickLoading, EmptyTextGivesNoBrick) {
    TDesigner& d = s.designer;
    EXPECT_EQ(AddBrickFromText(d, QString()), nullptr);
    EXPECT_EQ(AddBrickFromText(d, QStringLiteral(" \r\n\t ")), nullptr);
    EXPECT_TRUE(d.Components().isEmpty());
    EXPECT_TRUE(d.Panel1->children().isEmpty());
}

TEST_P(BrickLoading, ATakenNameIsRefusedWithoutRegardToCase) {
    TDesigner& d = s.designer;
    QPointer<QWidget> first = AddBrickFromText(d, textBrick(QStringLiteral("Text1")));
    ASSERT_FALSE(first.isNull());
    const int children = int(d.Panel1->children().size());
    for (const QString& name : {QStringLiteral("Text1"), QStringLiteral("TEXT1"),
                                QStringLiteral("text1")}) {
        EXPECT_EQ(errorOf(d, textBrick(name, 99, 99)),
                  QStringLiteral("A component named %1 already exists").arg(name));
        EXPECT_EQ(d.Components(), QList<QWidget*>({first.data()})) << "the surface is unchanged";
        EXPECT_EQ(int(d.Panel1->children().size()), children) << "the new one is discarded";
        EXPECT_EQ(first->pos(), QPoint(20, 15));
    }
    // Another class under the same name is refused too; a different name is not.
    EXPECT_EQ(errorOf(d, bubbleBrick(QStringLiteral("tEXT1"))),
              QStringLiteral("A component named tEXT1 already exists"));
    EXPECT_NE(AddBrickFromText(d, textBrick(QStringLiteral("Text2"))), nullptr);
    EXPECT_EQ(namesOf(d.Components()), QStringList({QStringLiteral("Text1"),
                                                     QStringLiteral("Text2")}));
}

TEST_P(BrickLoading, FurnitureNamesCountAsTaken) {
    TDesigner& d = s.designer;
    if (GetParam()) // the index is gathered when the session starts
        session.reset();
    QWidget furniture;
    furniture.setObjectName(QStringLiteral("Grid"));
    furniture.setProperty("Tag", 60);
    d.AddComponent(&furniture);
    if (GetParam())
        session.emplace(d);
    EXPECT_EQ(errorOf(d, textBrick(QStringLiteral("grid"))),
              QStringLiteral("A component named grid already exists"));
    EXPECT_EQ(d.Components(), QList<QWidget*>({&furniture}));
}

TEST_P(BrickLoading, MalformedTextOrAnUnknownClassFailsAndLeavesTheSurface) {
    TDesigner& d = s.designer;
    const QString unknown =
        errorOf(d, brickText({QStringLiteral("object X1: TNoSuchBrick"), QStringLiteral("end")}));
    EXPECT_TRUE(unknown.contains(QStringLiteral("TNoSuchBrick"))) << unknown.toStdString();
    const QString malformed = errorOf(d, QStringLiteral("object Text2 TText"));
    EXPECT_NE(malformed, QStringLiteral("<no error>"));
    EXPECT_FALSE(malformed.isEmpty());
    const QString badProperty = errorOf(
        d, brickText({QStringLiteral("object Text3: TText"), QStringLiteral("  Wobble = 1"),
                      QStringLiteral("end")}));
    EXPECT_TRUE(badProperty.contains(QStringLiteral("Wobble"))) << badProperty.toStdString();
    EXPECT_TRUE(d.Components().isEmpty());
    EXPECT_TRUE(d.Panel1->children().isEmpty());
    // The names of refused bricks stay free.
    EXPECT_NE(AddBrickFromText(d, textBrick(QStringLiteral("Text3"))), nullptr);
}

// Tail markers are named by the surface: the first free "BubbleFrom<n>", also among the picture
// panel's other children; they are never components.
TEST_P(BrickLoading, BubblesGetUniquelyNamedMarkersOnThePanel) {
    TDesigner& d = s.designer;
    if (GetParam())
        session.reset();
    auto* squatter = new QWidget(d.Panel1);
    squatter->setObjectName(QStringLiteral("BubbleFrom1"));
    if (GetParam())
        session.emplace(d);
    QStringList markers;
    for (int i = 1; i <= 3; ++i) {
        auto* bubble = qobject_cast<TTextBubble*>(
            AddBrickFromText(d, bubbleBrick(QStringLiteral("TextBubble%1").arg(i), 5)));
        ASSERT_NE(bubble, nullptr);
        SetUpLoadedBrick(d, bubble);
        TBubbleFrom* marker = bubble->Marker();
        ASSERT_NE(marker, nullptr);
        EXPECT_EQ(marker->parentWidget(), d.Panel1);
        EXPECT_EQ(marker->Bubble(), bubble);
        EXPECT_EQ(marker->Tag(), 5) << "the marker carries its bubble's tag";
        EXPECT_TRUE(marker->isVisibleTo(d.Panel1));
        EXPECT_EQ(marker->Picture()->image().size(), QSize(10, 10));
        markers << marker->objectName();
    }
    EXPECT_EQ(markers, QStringList({QStringLiteral("BubbleFrom2"), QStringLiteral("BubbleFrom3"),
                                    QStringLiteral("BubbleFrom4")}));
    EXPECT_EQ(namesOf(d.Components()),
              QStringList({QStringLiteral("TextBubble1"), QStringLiteral("TextBubble2"),
                           QStringLiteral("TextBubble3")}));
}

INSTANTIATE_TEST_SUITE_P(SessionOrNot, BrickLoading, ::testing::Bool(),
                         [](const auto& info) {
                             return std::string(info.param ? "InSession" : "Alone");
                         });

// ---- Full-size geometry of loaded bricks: preview geometry times the zoom, halves to even ----

TEST(LoadedBrickGeometry, TextAndPictureAtZoomTwoAndAHalf) {
    Surface s(2.5);
    TDesigner& d = s.designer;
    ASSERT_EQ(d.ZoomRatio, 2.5);
    auto* boxed = qobject_cast<TText*>(AddBrickFromText(
        d, brickText({QStringLiteral("object Text1: TText"), QStringLiteral("  Left = 1"),
                      QStringLiteral("  Top = 3"), QStringLiteral("  Width = 41"),
                      QStringLiteral("  Height = 11"), QStringLiteral("  AutoSize = False"),
                      QStringLiteral("  Caption = 'boxed'"), QStringLiteral("end")})));
    ASSERT_NE(boxed, nullptr);
    SetUpLoadedBrick(d, boxed);
    EXPECT_EQ(boxed->FullLeft, 2);    // 2.5
    EXPECT_EQ(boxed->FullTop, 8);     // 7.5
    EXPECT_EQ(boxed->FullWidth, 102); // 102.5
    EXPECT_EQ(boxed->FullHeight, 28); // 27.5

    auto* picture = qobject_cast<TPictureimg*>(AddBrickFromText(
        d, brickText({QStringLiteral("object Pictureimg1: TPictureimg"),
                      QStringLiteral("  Left = 3"), QStringLiteral("  Top = 1"),
                      QStringLiteral("  Width = 5"), QStringLiteral("  Height = 7"),
                      QStringLiteral("end")})));
    ASSERT_NE(picture, nullptr);
    SetUpLoadedBrick(d, picture);
    EXPECT_EQ(picture->FullLeft, 8);    // 7.5
    EXPECT_EQ(picture->FullTop, 2);     // 2.5
    EXPECT_EQ(picture->FullWidth, 12);  // 12.5
    EXPECT_EQ(picture->FullHeight, 18); // 17.5
}

TEST(LoadedBrickGeometry, SizedTextIsMeasuredAtFullSize) {
    for (double zoom : {1.0, 2.0}) {
        Surface s(zoom);
        TDesigner& d = s.designer;
        auto* text = qobject_cast<TText*>(AddBrickFromText(d, textBrick("Text1", 10, 6)));
        ASSERT_NE(text, nullptr);
        SetUpLoadedBrick(d, text);
        EXPECT_EQ(text->FullLeft, int(10 * zoom));
        EXPECT_EQ(text->FullTop, int(6 * zoom));
        EXPECT_GT(text->FullWidth, 0);
        EXPECT_GT(text->FullHeight, 0);
        // The control shows the full-size measure at the zoom ratio.
        EXPECT_NEAR(text->Width(), text->FullWidth / zoom, 1.0) << zoom;
        EXPECT_NEAR(text->Height(), text->FullHeight / zoom, 1.0) << zoom;
    }
}

TEST(LoadedBrickGeometry, NoImageOpenMeansZoomOne) {
    Surface s(0);
    TDesigner& d = s.designer;
    ASSERT_EQ(d.ZoomRatio, 0.0);
    auto* text = qobject_cast<TText*>(AddBrickFromText(d, textBrick("Text1", 13, 7)));
    ASSERT_NE(text, nullptr);
    SetUpLoadedBrick(d, text);
    EXPECT_EQ(text->FullLeft, 13);
    EXPECT_EQ(text->FullTop, 7);
}

TEST(LoadedBrickGeometry, MarkerSitsOnTheTailPoint) {
    Surface s(2.0);
    TDesigner& d = s.designer;
    auto* bubble = qobject_cast<TTextBubble*>(AddBrickFromText(d, bubbleBrick("TextBubble1")));
    ASSERT_NE(bubble, nullptr);
    SetUpLoadedBrick(d, bubble);
    EXPECT_EQ(bubble->FullLeft, 40);
    EXPECT_EQ(bubble->FullTop, 60);
    TBubbleFrom* marker = bubble->Marker();
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->FullLeft, 40 + bubble->FromX());
    EXPECT_EQ(marker->FullTop, 60 + bubble->FromY());
    EXPECT_EQ(marker->pos(), QPoint(d.PreviewFromFull(marker->FullLeft),
                                    d.PreviewFromFull(marker->FullTop)));
}

// ---- ClearBricks ------------------------------------------------------------------------------

TEST(ClearBricks, DeletesEveryBrickAndEachBubblesMarkerButKeepsTheFurniture) {
    Surface s(1.0);
    TDesigner& d = s.designer;
    QPointer<QWidget> text = AddBrickFromText(d, textBrick("Text1"));
    QPointer<QWidget> picture = AddBrickFromText(
        d, brickText({QStringLiteral("object Pictureimg1: TPictureimg"), QStringLiteral("end")}));
    auto* b = qobject_cast<TTextBubble*>(AddBrickFromText(d, bubbleBrick("TextBubble1")));
    ASSERT_NE(b, nullptr);
    SetUpLoadedBrick(d, b);
    QPointer<TTextBubble> bubble = b;
    QPointer<TBubbleFrom> marker = b->Marker();
    ASSERT_FALSE(marker.isNull());
    ASSERT_EQ(marker->parentWidget(), d.Panel1);
    // Furniture: a component tagged 50 or more, on the panel, and a plain child of the panel.
    auto* grid = new QWidget(d.Panel1);
    grid->setObjectName(QStringLiteral("Grid"));
    grid->setProperty("Tag", 50);
    d.AddComponent(grid);
    QPointer<QWidget> gridWatch = grid;
    QPointer<QWidget> plain = new QWidget(d.Panel1);
    ASSERT_EQ(d.Bricks().size(), 3);

    ClearBricks(d);
    EXPECT_TRUE(text.isNull());
    EXPECT_TRUE(picture.isNull());
    EXPECT_TRUE(bubble.isNull());
    EXPECT_TRUE(marker.isNull()) << "the bubble takes its tail marker along";
    EXPECT_TRUE(d.Bricks().isEmpty());
    EXPECT_EQ(d.Components(), QList<QWidget*>({grid}));
    EXPECT_FALSE(gridWatch.isNull());
    EXPECT_FALSE(plain.isNull());
    EXPECT_EQ(d.Panel1->children().size(), 2);
    EXPECT_EQ(d.PreviewSize(), QSize(200, 160)) << "the photo stays";

    // The names are free again, the markers' too.
    auto* again = qobject_cast<TTextBubble*>(AddBrickFromText(d, bubbleBrick("TextBubble1")));
    ASSERT_NE(again, nullptr);
    SetUpLoadedBrick(d, again);
    ASSERT_NE(again->Marker(), nullptr);
    EXPECT_EQ(again->Marker()->objectName(), QStringLiteral("BubbleFrom1"));
    ClearBricks(d);
    ClearBricks(d); // nothing left to clear
    EXPECT_EQ(d.Components(), QList<QWidget*>({grid}));
}

TEST(ClearBricks, MarkerAlreadyGoneIsNotDeletedTwice) {
    Surface s(1.0);
    TDesigner& d = s.designer;
    auto* b = qobject_cast<TTextBubble*>(AddBrickFromText(d, bubbleBrick("TextBubble1")));
    ASSERT_NE(b, nullptr);
    SetUpLoadedBrick(d, b);
    QPointer<TTextBubble> bubble = b;
    int markerDestroyed = 0;
    QObject::connect(b->Marker(), &QObject::destroyed, [&] { ++markerDestroyed; });
    delete b->Marker();
    ClearBricks(d);
    EXPECT_TRUE(bubble.isNull());
    EXPECT_EQ(markerDestroyed, 1);
    EXPECT_TRUE(d.Panel1->children().isEmpty());
}
