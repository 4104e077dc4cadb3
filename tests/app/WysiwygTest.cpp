// What the surface shows of each brick is what the saved picture holds, scaled by the zoom
// ratio, after every command that changes the photo or the zoom.
#include "app/gui/TProjectManager.h"
#include "bricks/BrickPlacement.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignSurface.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/core/BitmapOps.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/dialogs/TfrmResize.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/settings/DateTimeFormats.h"
#include "platform/Messages.h"
#include "platform/Rounding.h"
#include "platform/TFont.h"
#include "platform/TextEngine.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUndoStack>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

QString brickBody(const QStringList& lines) {
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\nend");
}

// A brick read and set up as a pattern's brick is, at the current zoom ratio.
QWidget* addBrick(TDesigner& d, const QStringList& lines) {
    QWidget* brick = AddBrickFromText(d, brickBody(lines));
    SetUpLoadedBrick(d, brick);
    return brick;
}

// A logo of four coloured quarters: any squeeze or letterbox shows in its ink.
QImage logoImage() {
    QImage logo(40, 40, QImage::Format_RGB32);
    logo.fill(Qt::red);
    QPainter p(&logo);
    p.fillRect(20, 0, 20, 20, Qt::blue);
    p.fillRect(0, 20, 20, 20, Qt::darkGreen);
    p.fillRect(20, 20, 20, 20, Qt::yellow);
    return logo;
}

// The rectangle of the full-size picture a brick covers in the render.
QRect fullRectOf(QWidget* brick) {
    if (auto* bubble = qobject_cast<TTextBubble*>(brick))
        return QRect(bubble->FullLeft, bubble->FullTop, bubble->FullWidth, bubble->FullHeight);
    if (auto* text = qobject_cast<TText*>(brick))
        return text->FullBox(text->FullLeft, text->FullTop);
    auto* picture = qobject_cast<TPictureimg*>(brick);
    return QRect(picture->FullLeft, picture->FullTop, picture->FullWidth, picture->FullHeight);
}

QImage resampled(QImage image, QSize size) {
    image = image.convertToFormat(QImage::Format_RGB32);
    ResampleBitmap(image, size.width(), size.height());
    return image.convertToFormat(QImage::Format_RGB32);
}

// Where an image differs from the photo it was drawn over by more than a little.
QRect inkBox(const QImage& image, const QImage& photo) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb a = image.pixel(x, y), b = photo.pixel(x, y);
            const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                    std::abs(qBlue(a) - qBlue(b))});
            if (d > 60)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

// The brick's own paint as the panel shows it: over the preview photo. (QWidget::grab() would
// also fill in the palette's window colour, which a brick without a background never shows.)
QImage onScreen(TDesigner& d, QWidget* brick) {
    QImage screen =
        d.PreviewImage(brick->geometry()).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    brick->render(&screen, QPoint(), QRegion(), QWidget::DrawChildren);
    return screen.convertToFormat(QImage::Format_RGB32);
}

// Every brick's preview against the crop of the rendered picture at its full-size rectangle,
// scaled down by the zoom ratio: the same place and size (within rounding), the same ink in the
// same place, and close pixels.
void expectPreviewMatchesOutput(TDesigner& d, const char* when) {
    SCOPED_TRACE(when);
    ASSERT_FALSE(d.Bricks().isEmpty());
    const QImage output =
        QImage::fromData(RenderImage(d, d.FileName, {})).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(output.size(), d.realPicture.size());
    const double z = d.ZoomRatio;
    for (QWidget* brick : d.Bricks()) {
        SCOPED_TRACE(brick->objectName().toStdString());
        const QRect full = fullRectOf(brick);
        ASSERT_TRUE(output.rect().contains(full)) << "brick outside the photo";
        EXPECT_NEAR(brick->x(), full.x() / z, 1.0);
        EXPECT_NEAR(brick->y(), full.y() / z, 1.0);
        EXPECT_NEAR(brick->width(), full.width() / z, 1.0);
        EXPECT_NEAR(brick->height(), full.height() / z, 1.0);
        const QImage screen = onScreen(d, brick);
        const QImage screenPhoto =
            d.PreviewImage(brick->geometry()).convertToFormat(QImage::Format_RGB32);
        const QImage saved = resampled(output.copy(full), brick->size());
        const QImage savedPhoto = resampled(d.realPicture.copy(full), brick->size());
        const QRect screenInk = inkBox(screen, screenPhoto);
        const QRect savedInk = inkBox(saved, savedPhoto);
        ASSERT_FALSE(savedInk.isEmpty());
        ASSERT_FALSE(screenInk.isEmpty());
        EXPECT_NEAR(screenInk.left(), savedInk.left(), 2);
        EXPECT_NEAR(screenInk.top(), savedInk.top(), 2);
        EXPECT_NEAR(screenInk.right(), savedInk.right(), 2);
        EXPECT_NEAR(screenInk.bottom(), savedInk.bottom(), 2);
        EXPECT_LT(meanChannelDifference(screen, saved), 12.0);
    }
    // Not a brick of its own, the tail marker still sits on the tail point.
    for (QWidget* brick : d.Bricks())
        if (auto* bubble = qobject_cast<TTextBubble*>(brick)) {
            ASSERT_TRUE(bubble->Marker());
            EXPECT_EQ(bubble->Marker()->pos(),
                      QPoint(RoundHalfEven((bubble->FullLeft + bubble->FromX()) / z),
                             RoundHalfEven((bubble->FullTop + bubble->FromY()) / z)));
        }
}

struct FullGeometry {
    QList<QRect> rects;
    bool operator==(const FullGeometry&) const = default;
};

FullGeometry fullGeometry(TDesigner& d) {
    FullGeometry g;
    for (QWidget* brick : d.Bricks())
        g.rects.append(fullRectOf(brick));
    return g;
}

class WysiwygTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        RegisterBricks();
        SetMessageHandler([this](MessageKind, const QString& t) { messages.append(t); });
        window = std::make_unique<TProjectManager>();
        window->RegisterStandardBricks();
        // Tall enough that the picture keeps a zoom ratio near 2 above the explorer.
        window->setGeometry(50, 50, 900, 900);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        window.reset();
        SetMessageHandler(nullptr);
        EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    }
    TDesigner& d() const { return *window->designer(); }

    // A smooth photo, larger than the window so that it opens fitted at a zoom ratio above 1.
    QString photo(const QString& name, quint32 seed, QSize size = QSize(1600, 1200)) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(makeTestPhoto(size.width(), size.height(), seed, true).save(path, "PNG"));
        return path;
    }

    // A text, a date, a bubble and a logo stretched out of its own shape, placed at the current
    // zoom ratio well inside the picture.
    void placeBricks() {
        const QString font = QStringLiteral("  Font.Height = -40\r\n  Font.Color = clBlack");
        addBrick(d(), {"object Text1: TText", "  Left = 30", "  Top = 20",
                       "  Caption = 'Hello there'", font});
        addBrick(d(), {"object TextDate1: TTextDate", "  Left = 30", "  Top = 110",
                       "  Caption = '01.01.1999'", font});
        addBrick(d(), {"object TextBubble1: TTextBubble", "  Left = 180", "  Top = 40",
                       "  Width = 120", "  Height = 60", "  Caption = 'Hi!'", "  Font.Height = -32",
                       "  Font.Color = clBlack", "  FromX = 40", "  FromY = 200"});
        auto* picture = qobject_cast<TPictureimg*>(
            addBrick(d(), {"object Pictureimg1: TPictureimg", "  Left = 60", "  Top = 200",
                           "  Width = 150", "  Height = 50"}));
        ASSERT_TRUE(picture);
        picture->Picture()->setGraphic({QStringLiteral("TBitmap"), {}, logoImage()});
        UpdateFullGeometry(d(), picture);
        ASSERT_EQ(d().Bricks().size(), 4);
    }

    QTemporaryDir dir;
    std::unique_ptr<TProjectManager> window;
    QStringList messages;
};

TEST_F(WysiwygTest, SecondPhotoKeepsTheBricksFullSizePlaces) {
    ASSERT_TRUE(window->OpenImage(photo("first.png", 1)));
    ASSERT_GT(d().ZoomRatio, 1.0);
    placeBricks();
    expectPreviewMatchesOutput(d(), "first photo");
    const FullGeometry before = fullGeometry(d());
    ASSERT_TRUE(window->OpenImage(photo("second.png", 9)));
    EXPECT_TRUE(fullGeometry(d()) == before);
    expectPreviewMatchesOutput(d(), "second photo");
    // A smaller photo opens at another zoom ratio; the bricks keep their places all the same.
    ASSERT_TRUE(window->OpenImage(photo("third.png", 3, QSize(1300, 1100))));
    EXPECT_TRUE(fullGeometry(d()) == before);
    expectPreviewMatchesOutput(d(), "photo of another size");
}

TEST_F(WysiwygTest, RotatingTurnsTheBricksWithThePhoto) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", 2)));
    placeBricks();
    const FullGeometry before = fullGeometry(d());
    window->rotate(90);
    ASSERT_EQ(d().realPicture.size(), QSize(1200, 1600));
    // Each brick's centre went where that point of the photo went: (x, y) -> (1200 - y, x); the
    // bricks themselves stay upright, and one that would stick out is pushed back in.
    const FullGeometry turned = fullGeometry(d());
    ASSERT_EQ(turned.rects.size(), before.rects.size());
    QList<bool> pushed;
    for (int i = 0; i < before.rects.size(); ++i) {
        SCOPED_TRACE(i);
        const QRectF was(before.rects[i]), now(turned.rects[i]);
        EXPECT_EQ(now.size(), was.size());
        const double x = 1200 - was.center().y() - was.width() / 2;
        const double y = was.center().x() - was.height() / 2;
        const double inX = std::clamp(x, 0.0, 1200 - was.width());
        const double inY = std::clamp(y, 0.0, 1600 - was.height());
        pushed.append(inX != x || inY != y);
        EXPECT_NEAR(now.x(), inX, 1.0);
        EXPECT_NEAR(now.y(), inY, 1.0);
    }
    EXPECT_TRUE(pushed.contains(true)) << "the wide caption near the top sticks out when turned";
    expectPreviewMatchesOutput(d(), "clockwise");
    window->rotate(-90);
    ASSERT_EQ(d().realPicture.size(), QSize(1600, 1200));
    for (int i = 0; i < before.rects.size(); ++i) {
        if (!pushed[i]) {
            EXPECT_EQ(fullGeometry(d()).rects[i], before.rects[i]) << i << ": turned back exactly";
        }
    }
    expectPreviewMatchesOutput(d(), "counter-clockwise");
    // Each turn was one undo step with the photo.
    window->designSurface()->UndoStack()->undo();
    ASSERT_EQ(d().realPicture.size(), QSize(1200, 1600));
    EXPECT_TRUE(fullGeometry(d()) == turned);
    expectPreviewMatchesOutput(d(), "undone");
}

TEST_F(WysiwygTest, ResizedPhotoShowsWholeWithTheBricksScaledWithIt) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", 4)));
    placeBricks();
    const FullGeometry before = fullGeometry(d());
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TfrmResize*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        TfrmResize::TargetWidth = 1000;
        TfrmResize::TargetHeight = 750;
        dialog->Button1Click();
    });
    window->showResize();
    ASSERT_EQ(d().realPicture.size(), QSize(1000, 750));
    // The whole photo is shown, not a part of it.
    EXPECT_EQ(d().Panel1->size(), d().PreviewSize());
    EXPECT_EQ(d().PreviewSize(),
              QSize(RoundHalfEven(1000 / d().ZoomRatio), RoundHalfEven(750 / d().ZoomRatio)));
    const QImage whole = resampled(d().realPicture, d().PreviewSize());
    EXPECT_LT(meanChannelDifference(whole, d().PreviewImage().convertToFormat(QImage::Format_RGB32)),
              2.0);
    // Every brick scaled with the photo, by 1000 / 1600: its corner exactly, its size within what
    // a whole-pixel font allows.
    const FullGeometry scaled = fullGeometry(d());
    for (int i = 0; i < before.rects.size(); ++i) {
        EXPECT_NEAR(scaled.rects[i].x(), before.rects[i].x() * 0.625, 1.0);
        EXPECT_NEAR(scaled.rects[i].y(), before.rects[i].y() * 0.625, 1.0);
        EXPECT_NEAR(scaled.rects[i].width(), before.rects[i].width() * 0.625,
                    before.rects[i].width() * 0.05 + 1);
        EXPECT_NEAR(scaled.rects[i].height(), before.rects[i].height() * 0.625,
                    before.rects[i].height() * 0.05 + 1);
    }
    expectPreviewMatchesOutput(d(), "resized");
}

TEST_F(WysiwygTest, ZoomingKeepsPreviewAndOutputTogether) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", 5)));
    placeBricks();
    const FullGeometry before = fullGeometry(d());
    const double fitted = d().ZoomRatio;
    window->zoomIn();
    ASSERT_LT(d().ZoomRatio, fitted);
    EXPECT_TRUE(fullGeometry(d()) == before);
    expectPreviewMatchesOutput(d(), "zoom in");
    window->zoomIn();
    expectPreviewMatchesOutput(d(), "zoom in again");
    window->fitToPage();
    EXPECT_DOUBLE_EQ(d().ZoomRatio, fitted);
    EXPECT_TRUE(fullGeometry(d()) == before);
    expectPreviewMatchesOutput(d(), "fit to page");
}

TEST_F(WysiwygTest, PatternDateBrickShowsThePhotosDateAsSaved) {
    const QString path = dir.filePath(QStringLiteral("dated.jpg"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(withExif(EncodeJpeg(makeTestPhoto(1600, 1200, 6, true), 95),
                         {{0x0132, "2005:06:07 08:09:10"}}));
    }
    ASSERT_TRUE(window->OpenImage(path));
    const QString pattern = dir.filePath(QStringLiteral("pattern.xml"));
    {
        QFile f(pattern);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"t\">\n"
                "<Inspector Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\" ColWidth=\"1\" "
                "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
                "<Designer Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\" GridX=\"4\" "
                "GridY=\"4\" IsGrid=\"False\"/>\n"
                "<Manager Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\"/>\n<Bricks>\n"
                "<Brick Body=\"object TextDate1: TTextDate%CR%LF  Left = 40%CR%LF  Top = 50"
                "%CR%LF  Caption = '24.12.1999'%CR%LF  Font.Height = -40%CR%LFend\"/>\n"
                "<Brick Body=\"object Text1: TText%CR%LF  Left = 40%CR%LF  Top = 150"
                "%CR%LF  Caption = 'Caption'%CR%LF  Font.Height = -40%CR%LFend\"/>\n"
                "</Bricks>\n</Project>\n");
    }
    window->LoadPattern(pattern);
    auto* date = d().findChild<TTextDate*>(QStringLiteral("TextDate1"));
    ASSERT_TRUE(date);
    const QString photoDate = FormatDateTimeText(
        SystemShortDateFormat(), DateTimeToValue(QDateTime(QDate(2005, 6, 7), QTime(0, 0))));
    EXPECT_EQ(date->Caption(), photoDate);
    EXPECT_DOUBLE_EQ(date->DateValue, DateTimeToValue(QDateTime(QDate(2005, 6, 7), QTime())));
    // The box fits the date it shows.
    EXPECT_EQ(date->FullWidth,
              RoundHalfEven(MeasureText(date->Font()->toQFont(), photoDate).width()));
    expectPreviewMatchesOutput(d(), "pattern loaded");
}

TEST_F(WysiwygTest, StretchedLogoIsStretchedOnScreenAndInTheFile) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", 8)));
    placeBricks();
    auto* picture = d().findChild<TPictureimg*>(QStringLiteral("Pictureimg1"));
    ASSERT_TRUE(picture);
    for (const QSize size : {QSize(200, 40), QSize(40, 160)}) {
        picture->SetBounds(picture->Left(), picture->Top(), size.width(), size.height());
        UpdateFullGeometry(d(), picture);
        expectPreviewMatchesOutput(d(), "stretched");
        // The logo fills its whole box, on screen as in the file: no letterbox.
        const QImage screen = onScreen(d(), picture);
        const QImage photoPart =
            d().PreviewImage(picture->geometry()).convertToFormat(QImage::Format_RGB32);
        const QRect ink = inkBox(screen, photoPart);
        EXPECT_LE(ink.left(), 1);
        EXPECT_LE(ink.top(), 1);
        EXPECT_GE(ink.right(), picture->width() - 2);
        EXPECT_GE(ink.bottom(), picture->height() - 2);
    }
}

} // namespace

namespace {

// The gaps of a box to the edges a brick is anchored to, in per mille of the shorter side.
QPointF anchoredGaps(const QRect& box, QSize photo, Tk::TBrickAnchor anchor) {
    const double s = std::min(photo.width(), photo.height()) / 1000.0;
    const bool right =
        anchor == Tk::baTopRight || anchor == Tk::baRight || anchor == Tk::baBottomRight;
    const bool bottom =
        anchor == Tk::baBottomLeft || anchor == Tk::baBottom || anchor == Tk::baBottomRight;
    return QPointF((right ? photo.width() - box.x() - box.width() : box.x()) / s,
                   (bottom ? photo.height() - box.y() - box.height() : box.y()) / s);
}

} // namespace

// Anchored, the bricks keep their place at the photo's corners on a photo of another shape, and
// the screen still shows what is saved.
TEST_F(WysiwygTest, AnchoredBricksKeepTheirCornersOnAPhotoOfAnotherShape) {
    ASSERT_TRUE(window->OpenImage(photo("landscape.png", 1)));
    placeBricks();
    DesignSurface& surface = *window->designSurface();
    const QList<QWidget*> bricks = d().Bricks();
    // Text top-left, date bottom-right with a relative size, bubble top-right, logo bottom-left.
    const QList<Tk::TBrickAnchor> anchors = {Tk::baTopLeft, Tk::baBottomRight, Tk::baTopRight,
                                             Tk::baBottomLeft};
    QList<QWidget*> placeable;
    for (QWidget* b : bricks)
        if (LayoutOf(b))
            placeable.append(b);
    ASSERT_EQ(placeable.size(), 4);
    // The date and the logo go near their corners first, so that their margins are small.
    surface.SetProperty(placeable[1], QStringLiteral("Left"), QStringLiteral("1200"));
    surface.SetProperty(placeable[1], QStringLiteral("Top"), QStringLiteral("1000"));
    surface.SetProperty(placeable[2], QStringLiteral("Left"), QStringLiteral("1250"));
    surface.SetProperty(placeable[3], QStringLiteral("Top"), QStringLiteral("1050"));
    const QList<QRect> where = fullGeometry(d()).rects;
    for (int i = 0; i < 4; ++i)
        surface.SetAnchor({placeable[i]}, [&](QWidget*) { return anchors[i]; });
    EXPECT_EQ(fullGeometry(d()).rects, where) << "anchoring keeps every brick where it is";
    surface.SetProperty(placeable[1], QStringLiteral("RelativeSize"), QStringLiteral("50"));
    expectPreviewMatchesOutput(d(), "anchored on the landscape");
    QList<QPointF> gaps;
    for (int i = 0; i < 4; ++i)
        gaps.append(anchoredGaps(fullRectOf(placeable[i]), d().realPicture.size(), anchors[i]));
    const double dateHeight = fullRectOf(placeable[1]).height() / 1200.0;

    // A portrait photo of another size: each brick at the same gaps from its corner, in per
    // mille of the shorter side; the date's size follows the shorter side too.
    ASSERT_TRUE(window->OpenImage(photo("portrait.png", 7, QSize(900, 1350))));
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QRect box = fullRectOf(placeable[i]);
        EXPECT_TRUE(QRect(QPoint(), d().realPicture.size()).contains(box));
        const QPointF now = anchoredGaps(box, d().realPicture.size(), anchors[i]);
        EXPECT_NEAR(now.x(), gaps[i].x(), 1.2);
        EXPECT_NEAR(now.y(), gaps[i].y(), 1.2);
    }
    EXPECT_NEAR(fullRectOf(placeable[1]).height() / 900.0, dateHeight, 0.004);
    expectPreviewMatchesOutput(d(), "anchored on the portrait");
}

// Outline, shadow, plate, an opaque box, automatic contrast and a caption band: the panel (the
// bricks with what they draw beyond their boxes, over the photo and the band) shows the saved
// picture scaled down.
TEST_F(WysiwygTest, ReadabilityAndBandLookOnScreenAsInTheOutput) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", 5)));
    ASSERT_GT(d().ZoomRatio, 1.0);
    const QString font = QStringLiteral("  Font.Height = -60\r\n  Font.Color = clYellow");
    addBrick(d(), {"object Text1: TText", "  Left = 30", "  Top = 30", "  Caption = 'Outlined'",
                   font, "  Outline = clNavy", "  OutlineWidth = 12", "  Shadow = clBlack",
                   "  ShadowOffset = 15"});
    addBrick(d(), {"object Text2: TText", "  Left = 60", "  Top = 150", "  Caption = 'Plate'",
                   font, "  Backdrop = clWhite", "  BackdropOpacity = 200",
                   "  BackdropPadding = 40", "  Angle = 300"});
    addBrick(d(), {"object Text3: TText", "  Left = 300", "  Top = 250", "  Caption = 'Auto'",
                   font, "  AutoContrast = True", "  Outline = clRed", "  Transparent = False",
                   "  Color = clSilver"});
    // The band from the menu, as one undo step; a caption anchored to its edge sits in it.
    QAction* band = window->findChild<QAction*>(QStringLiteral("aCaptionBand"));
    ASSERT_TRUE(band);
    band->trigger();
    ASSERT_TRUE(d().Band.on);
    EXPECT_EQ(d().CanvasSize(), QSize(1600, 1200 + 144));
    QWidget* inBand = addBrick(d(), {"object Text4: TText", "  Left = 10", "  Top = 10",
                                     "  Caption = 'In the band'", "  Font.Height = -50",
                                     "  Font.Color = clBlack", "  Anchor = baBottomLeft",
                                     "  MarginX = 20.0", "  MarginY = 20.0"});
    window->designSurface()->ClearSelection();
    QApplication::processEvents();
    EXPECT_TRUE(d().BandRect().contains(fullRectOf(inBand)));

    const QImage output =
        QImage::fromData(RenderImage(d(), d().FileName, {})).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(output.size(), d().CanvasSize());
    ASSERT_EQ(d().Panel1->size(), d().PreviewSize());
    QImage screen(d().Panel1->size(), QImage::Format_ARGB32_Premultiplied);
    screen.fill(Qt::transparent);
    d().Panel1->render(&screen, QPoint(), QRegion(), QWidget::DrawChildren);
    screen = screen.convertToFormat(QImage::Format_RGB32);
    const QImage saved = resampled(output, screen.size());
    EXPECT_LT(meanChannelDifference(screen, saved), 3.0);
    // Around each caption, its outline, shadow and plate included, the pixels agree closely.
    const double z = d().ZoomRatio;
    for (QWidget* brick : d().Bricks()) {
        SCOPED_TRACE(brick->objectName().toStdString());
        auto* text = qobject_cast<TText*>(brick);
        ASSERT_TRUE(text);
        // A caption drawing nothing beyond its box is its widget; the others reach around it.
        const bool spills = text->Readable.spills();
        const QRect full =
            spills ? PlacedFootprint(ScreenPlacementOf(text), QSize()).toAlignedRect() & output.rect()
                   : fullRectOf(brick);
        const QRect shown =
            spills ? QRect(QPoint(RoundHalfEven(full.left() / z), RoundHalfEven(full.top() / z)),
                           QPoint(RoundHalfEven((full.right() + 1) / z) - 1,
                                  RoundHalfEven((full.bottom() + 1) / z) - 1))
                   : brick->geometry();
        const QImage onPanel = screen.copy(shown);
        const QImage inFile = resampled(output.copy(full), shown.size());
        // An opaque box has hard edges all round: at a fitted zoom a part of a preview pixel
        // of shift along them weighs more in the mean than a caption's ink does.
        EXPECT_LT(meanChannelDifference(onPanel, inFile), text->Transparent() ? 10.0 : 20.0);
        if (qEnvironmentVariableIsSet("WYSIWYG_DUMP")) {
            onPanel.save(QStringLiteral("/tmp/wy-%1-screen.png").arg(brick->objectName()));
            inFile.save(QStringLiteral("/tmp/wy-%1-file.png").arg(brick->objectName()));
        }
        // The ink (what differs from the canvas under it) in the same place.
        const QImage canvas = resampled(d().CanvasArea(full).convertToFormat(QImage::Format_RGB32),
                                        shown.size());
        const QRect screenInk = inkBox(onPanel, canvas), savedInk = inkBox(inFile, canvas);
        ASSERT_FALSE(savedInk.isEmpty());
        EXPECT_NEAR(screenInk.left(), savedInk.left(), 2);
        EXPECT_NEAR(screenInk.top(), savedInk.top(), 2);
        EXPECT_NEAR(screenInk.right(), savedInk.right(), 2);
        EXPECT_NEAR(screenInk.bottom(), savedInk.bottom(), 2);
    }
    // The band's rows on screen are the band's colour away from the caption.
    const QRgb bandOnScreen = screen.pixel(screen.width() - 3, screen.height() - 3);
    EXPECT_EQ(bandOnScreen, qRgb(255, 255, 255));
    // Taken away, the band goes and the caption anchored to the bottom goes back onto the
    // photo; undone, both come back.
    band->trigger();
    QApplication::processEvents();
    ASSERT_FALSE(d().Band.on);
    EXPECT_EQ(d().CanvasSize(), QSize(1600, 1200));
    EXPECT_EQ(d().Panel1->size(), d().PreviewSize());
    EXPECT_TRUE(QRect(0, 0, 1600, 1200).contains(fullRectOf(inBand)));
    window->designSurface()->UndoStack()->undo();
    QApplication::processEvents();
    ASSERT_TRUE(d().Band.on);
    EXPECT_TRUE(d().BandRect().contains(fullRectOf(inBand)));
}

namespace {

// A smooth JPEG whose camera model exiftool writes; empty when exiftool is missing.
QString cameraPhoto(const QString& path, const QString& model, QSize size) {
    if (QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty())
        return QString();
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(withExif(EncodeJpeg(makeTestPhoto(size.width(), size.height(), 3, true), 95),
                     {{0x0132, "2024:07:08 09:10:11"}}));
    f.close();
    QProcess p;
    p.start(QStringLiteral("exiftool"), {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                                         QStringLiteral("-Model=") + model,
                                         QStringLiteral("-FNumber=5.6"), path});
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0);
    return path;
}

// What exiftool reads of a tag, as printed alone.
QString exiftoolValue(const QString& path, const QString& tag) {
    QProcess p;
    p.start(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QStringLiteral("-") + tag, path});
    EXPECT_TRUE(p.waitForFinished(30000));
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

TEST_F(WysiwygTest, FieldsShowTheOpenPhotosValuesAsSaved) {
    const QString first = cameraPhoto(dir.filePath(QStringLiteral("first.jpg")),
                                      QStringLiteral("Field Camera One"), QSize(1600, 1200));
    if (first.isEmpty())
        GTEST_SKIP() << "exiftool is not installed";
    const QString second = cameraPhoto(dir.filePath(QStringLiteral("second.jpg")),
                                       QStringLiteral("Cam 2"), QSize(1500, 1100));
    ASSERT_TRUE(window->OpenImage(first));
    const QString font = QStringLiteral("  Font.Height = -40\r\n  Font.Color = clBlack");
    auto* text = qobject_cast<TText*>(addBrick(
        d(), {"object Text1: TText", "  Left = 30", "  Top = 20",
              "  Caption = '{Model} at {FNumber}'", font}));
    auto* bubble = qobject_cast<TTextBubble*>(addBrick(
        d(), {"object TextBubble1: TTextBubble", "  Left = 180", "  Top = 120", "  Width = 120",
              "  Height = 60", "  Caption = '{Model}'", "  Font.Height = -32",
              "  Font.Color = clBlack", "  FromX = 40", "  FromY = 200"}));
    ASSERT_TRUE(text && bubble);

    for (const QString& photoFile : {first, second}) {
        SCOPED_TRACE(photoFile.toStdString());
        if (photoFile != first) {
            ASSERT_TRUE(window->OpenImage(photoFile));
        }
        const QString model = exiftoolValue(photoFile, QStringLiteral("Model"));
        const QString shown = model + QStringLiteral(" at f/") +
                              exiftoolValue(photoFile, QStringLiteral("FNumber"));
        // The caption keeps its fields; the brick is measured for the photo's values.
        EXPECT_EQ(text->Caption(), QStringLiteral("{Model} at {FNumber}"));
        EXPECT_EQ(text->FullWidth,
                  RoundHalfEven(MeasureText(text->Font()->toQFont(), shown).width()));
        expectPreviewMatchesOutput(d(), "fields");

        // What the screen shows is what the literal text shows.
        const QImage withFields = onScreen(d(), text);
        const QImage bubbleWithFields = onScreen(d(), bubble);
        text->setCaption(shown);
        bubble->setCaption(model);
        EXPECT_TRUE(withFields == onScreen(d(), text));
        EXPECT_TRUE(bubbleWithFields == onScreen(d(), bubble));
        text->setCaption(QStringLiteral("{Model} at {FNumber}"));
        bubble->setCaption(QStringLiteral("{Model}"));
    }
}
