#include "imaging/render/RenderAndSave.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "imaging/core/BitmapOps.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegRecaption.h"
#include "imaging/core/TExif.h"
#include "patterns/settings/TSettings.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QtEndian>
#include <cmath>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace {

TText* addText(TDesigner& d, int left, int top, const QString& caption, int angle = 0,
               int opacity = 255, TColor color = 0x1020E0) {
    auto* t = placeBrick<TText>(d, left, top);
    t->Angle = angle;
    t->Opacity = opacity;
    t->Font()->setColor(color);
    t->setCaption(caption);
    t->FitToText();
    return t;
}

QImage renderTo(SurfaceFixture& f, const QString& outName) {
    RenderAndSave(*f.designer, f.photoPath, {.newName = f.path(outName)});
    return ReadImageFile(f.path(outName));
}

// Font rasterisers differ slightly between machines: most pixels must agree, and block by
// block (each brick's box) the ink must lie in the same place, so a missing text fails too.
constexpr int GoldenDelta = 8, GoldenBoxTolerance = 3;
constexpr double GoldenBlockShare = 0.05;

void checkGolden(const QImage& actual, const QString& name, const QImage& background,
                 const QList<QRect>& blocks) {
    if (updatingGoldens()) {
        QDir().mkpath(QFileInfo(goldenPath(name)).path());
        ASSERT_TRUE(actual.save(goldenPath(name)));
        return;
    }
    const QImage golden(goldenPath(name));
    ASSERT_FALSE(golden.isNull()) << "missing golden " << name.toStdString();
    EXPECT_LT(differingPixelShare(actual, golden, GoldenDelta), 0.01) << name.toStdString();
    QString why;
    EXPECT_TRUE(blocksMatch(actual, golden, background, blocks, GoldenDelta, GoldenBoxTolerance,
                            GoldenBlockShare, &why))
        << name.toStdString() << ": " << why.toStdString();
}

// The full-size boxes of text bricks.
QList<QRect> boxesOf(const std::vector<TText*>& bricks) {
    QList<QRect> boxes;
    for (const TText* t : bricks)
        boxes << t->FullBox(t->FullLeft, t->FullTop);
    return boxes;
}

// The scene of the angle goldens: "Ag 9" at three opacities.
std::vector<TText*> goldenScene(SurfaceFixture& f, int angle) {
    std::vector<TText*> bricks;
    for (int opacity : {0, 128, 255})
        bricks.push_back(
            addText(*f.designer, 30 + opacity / 2, 40 + opacity, "Ag 9", angle, opacity));
    return bricks;
}

} // namespace

class RenderAngles : public ::testing::TestWithParam<int> {};

// What the screen shows at zoom 1 is exactly what the render burns in, in the same place.
TEST_P(RenderAngles, ScreenAndOutputAgree) {
    const int angle = GetParam();
    SurfaceFixture f(QSize(420, 420), 1.0, QStringLiteral("photo.bmp"), true);
    const std::vector<TText*> bricks = goldenScene(f, angle);
    const QImage out = renderTo(f, QStringLiteral("out.bmp"));
    ASSERT_EQ(out.size(), f.photo.size());
    for (TText* t : bricks) {
        const QRect box = t->FullBox(t->FullLeft, t->FullTop);
        EXPECT_EQ(t->geometry(), box) << "control and box coincide at zoom 1";
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(t->grab().toImage(), out.copy(box), 2, &why))
            << "angle " << angle << " opacity " << t->Opacity << ": " << why.toStdString();
    }
    // Outside the boxes the photo is untouched.
    QImage masked = out.convertToFormat(QImage::Format_RGB32);
    QImage photo = f.photo.convertToFormat(QImage::Format_RGB32);
    QPainter pm(&masked), pp(&photo);
    for (TText* t : bricks) {
        pm.fillRect(t->FullBox(t->FullLeft, t->FullTop), Qt::black);
        pp.fillRect(t->FullBox(t->FullLeft, t->FullTop), Qt::black);
    }
    pm.end();
    pp.end();
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(masked, photo, 0, &why)) << why.toStdString();
    // Opacity 0 leaves the photo unchanged inside its box as well.
    const QRect hidden = bricks[0]->FullBox(bricks[0]->FullLeft, bricks[0]->FullTop);
    EXPECT_TRUE(fuzzyImageCompare(out.copy(hidden), f.photo.copy(hidden), 0, &why))
        << why.toStdString();
    checkGolden(out, QStringLiteral("text_angle_%1").arg(angle), f.photo, boxesOf(bricks));
}

INSTANTIATE_TEST_SUITE_P(Angles, RenderAngles,
                         ::testing::Values(0, 450, 900, -900, 1800, 2000, -450));

// The block compare catches what the whole-image share lets through: a golden with one text
// block blanked out (its box put back to the photo) differs in well under 1 % of its pixels,
// yet fails block by block; so does a block moved a few pixels.
TEST(GoldenCompare, MissingOrMovedTextBlockFails) {
    if (updatingGoldens())
        GTEST_SKIP() << "goldens are being written";
    for (int angle : {0, 900, -450}) {
        SCOPED_TRACE(angle);
        SurfaceFixture f(QSize(420, 420), 1.0, QStringLiteral("photo.bmp"), true);
        const QList<QRect> blocks = boxesOf(goldenScene(f, angle));
        const QImage golden =
            QImage(goldenPath(QStringLiteral("text_angle_%1").arg(angle)))
                .convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(golden.isNull());
        QString why;
        ASSERT_TRUE(blocksMatch(golden, golden, f.photo, blocks, GoldenDelta,
                                GoldenBoxTolerance, GoldenBlockShare, &why))
            << why.toStdString();
        for (int i : {1, 2}) { // the half-opaque and the opaque text; the other shows nothing
            QImage blanked = golden;
            {
                QPainter p(&blanked);
                p.drawImage(blocks[i].topLeft(),
                            f.photo.convertToFormat(QImage::Format_RGB32).copy(blocks[i]));
            }
            ASSERT_GT(inkWithin(golden, f.photo, GoldenDelta, blocks[i]).count, 0);
            EXPECT_LT(differingPixelShare(blanked, golden, GoldenDelta), 0.01)
                << "the whole-image share alone would pass";
            EXPECT_FALSE(blocksMatch(blanked, golden, f.photo, blocks, GoldenDelta,
                                     GoldenBoxTolerance, GoldenBlockShare, &why))
                << "block " << i << " blanked";
            EXPECT_TRUE(why.startsWith(QStringLiteral("block %1 ").arg(i))) << why.toStdString();
        }
        // The opaque block shifted right by 5 pixels.
        QImage shifted = golden;
        {
            QPainter p(&shifted);
            p.drawImage(blocks[2].topLeft(),
                        f.photo.convertToFormat(QImage::Format_RGB32).copy(blocks[2]));
            p.drawImage(blocks[2].topLeft() + QPoint(5, 0), golden.copy(blocks[2]));
        }
        EXPECT_FALSE(blocksMatch(shifted, golden, f.photo, blocks, GoldenDelta,
                                 GoldenBoxTolerance, GoldenBlockShare, &why));
    }
}

namespace {
// Pixels that differ from the photo: their bounding box and centre of mass.
struct Ink {
    QRect box;
    QPointF centre;
    int count = 0;
};
Ink inkOf(const QImage& out, const QImage& photo) {
    Ink ink;
    double sx = 0, sy = 0;
    const QImage a = out.convertToFormat(QImage::Format_RGB32);
    const QImage b = photo.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) {
                ink.box = ink.box.united(QRect(x, y, 1, 1));
                sx += x;
                sy += y;
                ++ink.count;
            }
    if (ink.count)
        ink.centre = QPointF(sx / ink.count, sy / ink.count);
    return ink;
}
} // namespace

// Past half a turn the text keeps turning: at 200 degrees it runs right to left, upside down
// and a little upwards, in the box of its turned size; the same as at -160 or 560 degrees.
TEST(Render, TextTurnedPastHalfATurnRunsBackwards) {
    const QString spaces(15, QLatin1Char(' '));
    const auto render = [&](const QString& caption, int angle) {
        SurfaceFixture f(QSize(600, 400), 1.0, QStringLiteral("photo.bmp"), true);
        TText* t = addText(*f.designer, 60, 80, caption, angle, 255, 0x000000);
        t->Font()->setHeight(-48);
        t->Font()->setStyle(Tk::TFontStyles(Tk::fsBold));
        t->FitToText();
        const QRect box = t->FullBox(t->FullLeft, t->FullTop);
        const Ink ink = inkOf(renderTo(f, QStringLiteral("out.bmp")), f.photo);
        EXPECT_TRUE(box.contains(ink.box)) << caption.toStdString() << " " << angle;
        EXPECT_GT(ink.count, 100) << caption.toStdString() << " " << angle;
        return ink;
    };
    for (int angle : {2000, -1600, 5600}) {
        const Ink first = render(QStringLiteral("T") + spaces, angle);
        const Ink last = render(spaces + QStringLiteral("T"), angle);
        // The baseline runs along (cos 200, sin 200): leftwards and slightly up.
        const QPointF step = last.centre - first.centre;
        EXPECT_LT(step.x(), -150) << angle << ": the first letter lies right of the last";
        EXPECT_LT(step.y(), -20) << angle << ": and below it";
        EXPECT_NEAR(std::atan2(step.y(), step.x()) * 180 / M_PI, -160, 4) << angle;
        // A T's bar is its top: turned over, the ink's weight lies below the middle of its box.
        EXPECT_GT(first.centre.y(), first.box.center().y() + 2) << angle << ": upside down";
    }
    // The unturned T for comparison: bar on top, weight above the middle.
    const Ink upright = render(QStringLiteral("T") + spaces, 0);
    EXPECT_LT(upright.centre.y(), upright.box.center().y() - 2);
}

// Where the ink goes, worked out from the angle alone (clockwise positive): a long single line
// turned 90 degrees runs straight down, tall and narrow, its first letter on top; turned -45
// degrees it runs up and to the right, its first letter lower left of its last.
TEST(Render, TurnedLineRunsDownAtNinetyAndUpRightAtMinusFortyFive) {
    const QString spaces(15, QLatin1Char(' '));
    const auto render = [&](const QString& caption, int angle) {
        SurfaceFixture f(QSize(600, 600), 1.0, QStringLiteral("photo.bmp"), true);
        TText* t = addText(*f.designer, 150, 40, caption, angle, 255, 0x000000);
        t->Font()->setHeight(-48);
        t->Font()->setStyle(Tk::TFontStyles(Tk::fsBold));
        t->FitToText();
        const QImage out = renderTo(f, QStringLiteral("out.bmp"));
        const Ink ink = inkOf(out, f.photo);
        EXPECT_TRUE(t->FullBox(t->FullLeft, t->FullTop).contains(ink.box))
            << caption.toStdString() << " " << angle;
        EXPECT_GT(ink.count, 100) << caption.toStdString() << " " << angle;
        return ink;
    };
    const QString line = QStringLiteral("CAPTIOMARK ALONG");

    const Ink down = render(line, 900);
    EXPECT_GT(down.box.height(), 4 * down.box.width()) << "tall and narrow";
    const QPointF fall = render(spaces + QStringLiteral("T"), 900).centre -
                         render(QStringLiteral("T") + spaces, 900).centre;
    EXPECT_GT(fall.y(), 150) << "the first letter lies above the last";
    EXPECT_LT(std::abs(fall.x()), 4) << "straight down";

    const Ink rising = render(line, -450);
    EXPECT_GT(rising.box.width(), 200);
    EXPECT_NEAR(double(rising.box.height()) / rising.box.width(), 1.0, 0.3)
        << "a diagonal fills a roughly square box";
    const QPointF climb = render(spaces + QStringLiteral("T"), -450).centre -
                          render(QStringLiteral("T") + spaces, -450).centre;
    EXPECT_GT(climb.x(), 100) << "the first letter lies left of the last";
    EXPECT_LT(climb.y(), -100) << "and below it";
    EXPECT_NEAR(std::atan2(climb.y(), climb.x()) * 180 / M_PI, -45, 4);

    // Unturned, for comparison: wide and flat, left to right.
    const Ink flat = render(line, 0);
    EXPECT_GT(flat.box.width(), 4 * flat.box.height());
}

TEST(Render, ScreenShowsTheFullSizeTextScaledDown) {
    SurfaceFixture f(QSize(800, 600), 4.0);
    TText* t = addText(*f.designer, 100, 80, "Zoomed", 0, 255, 0x0000FF);
    EXPECT_EQ(t->Width(), qRound(t->FullWidth / 4.0));
    const QImage out = renderTo(f, QStringLiteral("out.bmp"));
    const QImage box = out.copy(t->FullBox(t->FullLeft, t->FullTop));
    const QImage expected = box.scaled(t->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // The screen composes against the full-size photo too; only the scaling may differ.
    EXPECT_LT(differingPixelShare(t->grab().toImage(), expected, 24), 0.05);
}

// A text brick over a bubble: where they overlap, the screen shows the bubble's fill under the
// text as the output does, at 100 % and scaled down at 50 %.
TEST(Render, ATextOverABubbleShowsBothOnScreenAsInTheOutput) {
    for (const double zoom : {1.0, 2.0}) {
        SCOPED_TRACE(zoom);
        SurfaceFixture f(QSize(480, 360), zoom, QStringLiteral("photo.bmp"), true);
        auto* b = placeBrick<TTextBubble>(*f.designer, 40, 40);
        b->SetBounds(b->Left(), b->Top(), int(300 / zoom), int(150 / zoom));
        b->SetUpFromSize(zoom);
        b->setCaption(QStringLiteral("Hello there"));
        b->FitToText();
        // Laid over the middle of the bubble's body, above it in the stacking order; on even
        // full-size pixels, so that at 50 % both sides scale the same pixels together.
        const QRect body(b->FullLeft + b->Body.left, b->FullTop + b->Body.top, b->Body.width(),
                         b->Body.height());
        TText* t = addText(*f.designer, (body.center().x() - 20) & ~1, (body.center().y() - 10) & ~1, "Ag", 0,
                           255, 0xC00000);
        const QRect overlap = t->FullBox(t->FullLeft, t->FullTop) & body.adjusted(4, 4, -4, -4);
        ASSERT_GT(overlap.width() * overlap.height(), 400) << "the two must overlap";

        const QImage out = renderTo(f, QStringLiteral("out.bmp")).convertToFormat(QImage::Format_RGB32);
        const QImage screen = f.designer->Panel1->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect shown(QPoint(int(std::ceil(overlap.left() / zoom)),
                                 int(std::ceil(overlap.top() / zoom))),
                          QPoint(int((overlap.right() + 1) / zoom) - 1,
                                 int((overlap.bottom() + 1) / zoom) - 1));
        ASSERT_TRUE(QRect(QPoint(), screen.size()).contains(shown));

        // Ink as a share of the area: the bubble's pale yellow fill, and the text's blue.
        const auto shares = [](const QImage& image, const QRect& r) {
            int fill = 0, ink = 0;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    if (c.red() > 240 && c.green() > 240 && std::abs(c.blue() - 225) < 14)
                        ++fill;
                    else if (c.blue() > 120 && c.red() < 100 && c.green() < 100)
                        ++ink;
                }
            const double n = double(r.width()) * r.height();
            return std::pair<double, double>(fill / n, ink / n);
        };
        const QImage expected = out.copy(QRect(shown.topLeft() * zoom, shown.size() * zoom))
                                    .scaled(shown.size(), Qt::IgnoreAspectRatio,
                                            Qt::SmoothTransformation);
        const auto [outFill, outInk] = shares(out, overlap);
        EXPECT_GT(outFill, 0.4) << "the output shows the bubble under the text";
        EXPECT_GT(outInk, 0.1) << "and the text over it";
        // The screen against the output scaled to it: scaled down, the text's edges may fall
        // half a pixel apart, so on average the pixels agree.
        const auto [expectedFill, expectedInk] = shares(expected, expected.rect());
        const auto [screenFill, screenInk] = shares(screen, shown);
        EXPECT_NEAR(screenFill, expectedFill, 0.05);
        EXPECT_NEAR(screenInk, expectedInk, 0.03);
        EXPECT_LT(meanChannelDifference(screen.copy(shown), expected), zoom == 1.0 ? 0.5 : 16.0);
    }
}

TEST(Render, PictureBrickIsStretchedOverItsRectangle) {
    SurfaceFixture f;
    auto* p = placeBrick<TPictureimg>(*f.designer, 50, 60);
    QImage logo(20, 10, QImage::Format_ARGB32);
    logo.fill(Qt::transparent);
    QPainter(&logo).fillRect(0, 0, 10, 10, QColor(0, 200, 0)); // left half green, right clear
    p->Picture()->setGraphic({QStringLiteral("TPngImage"), QByteArray(), logo});
    p->FullWidth = 100;
    p->FullHeight = 100; // not the logo's 2:1 aspect
    const QImage out = renderTo(f, QStringLiteral("out.bmp"));
    EXPECT_EQ(out.pixelColor(60, 150), QColor(0, 200, 0)) << "stretched to the full height";
    EXPECT_EQ(out.pixelColor(95, 65), QColor(0, 200, 0));
    EXPECT_EQ(out.pixel(140, 150), f.photo.pixel(140, 150)) << "transparent half shows the photo";
    EXPECT_EQ(out.pixel(160, 150), f.photo.pixel(160, 150)) << "nothing beyond the rectangle";
}

// A transparent bitmap loses its bottom-left pixel's colour, on the screen and in the output;
// PNG and icon pictures keep their own alpha whatever Transparent says.
TEST(Render, TransparentPictureBricks) {
    // 20 x 20: background colour with a red square in the middle; the PNG and icon kinds
    // also have a see-through top-left corner of their own.
    const auto logo = [](QColor background, bool ownAlpha) {
        QImage image(20, 20, QImage::Format_ARGB32);
        image.fill(background);
        QPainter p(&image);
        p.fillRect(5, 5, 10, 10, Qt::red);
        if (ownAlpha) {
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(0, 0, 4, 4, Qt::transparent);
        }
        return image;
    };
    struct Case {
        QString className;
        QColor background;
        bool transparent;
        bool backgroundShows; // the background colour is drawn
        bool cornerShows;     // the top-left corner is drawn (not see-through)
    };
    const QColor white(Qt::white), green(0, 160, 0);
    const Case cases[] = {
        {QStringLiteral("TBitmap"), white, true, false, false},
        {QStringLiteral("TBitmap"), white, false, true, true},
        {QStringLiteral("TBitmap"), green, true, false, false}, // the colour of the corner pixel
        {QStringLiteral("TPngImage"), white, true, true, false},
        {QStringLiteral("TPngImage"), white, false, true, false},
        {QStringLiteral("TIcon"), white, true, true, false},
    };
    for (double zoom : {1.0, 2.0}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(QStringLiteral("%1 transparent %2 zoom %3")
                             .arg(c.className)
                             .arg(c.transparent)
                             .arg(zoom)
                             .toStdString());
            SurfaceFixture f(QSize(300, 200), zoom, QStringLiteral("photo.bmp"), true);
            auto* p = placeBrick<TPictureimg>(*f.designer, 40, 60);
            p->Picture()->setGraphic(
                {c.className, QByteArray(), logo(c.background, c.className != "TBitmap")});
            p->setTransparent(c.transparent);
            p->SetBounds(p->Left(), p->Top(), qRound(100 / zoom), qRound(100 / zoom));
            p->FullWidth = p->FullHeight = 100;

            // Output: the logo stretched five times over (40, 60)-(140, 160).
            const QImage out = renderTo(f, QStringLiteral("out.bmp"));
            const QPoint background(40 + 2 * 5 + 2, 60 + 17 * 5 + 2), corner(40 + 5, 60 + 5);
            const QPoint red(90, 110);
            EXPECT_EQ(out.pixelColor(red), QColor(Qt::red));
            EXPECT_EQ(out.pixelColor(background),
                      c.backgroundShows ? c.background : f.photo.pixelColor(background));
            EXPECT_EQ(out.pixelColor(corner),
                      c.cornerShows ? c.background : f.photo.pixelColor(corner));

            // Screen: the picture panel with the brick over the preview.
            const QImage screen = f.designer->Panel1->grab(f.designer->Panel1->rect())
                                      .toImage()
                                      .convertToFormat(QImage::Format_RGB32);
            const auto preview = [&](QPoint full) {
                return QPoint(qRound(full.x() / zoom), qRound(full.y() / zoom));
            };
            const auto near = [](QColor a, QColor b) {
                return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3 &&
                       std::abs(a.blue() - b.blue()) <= 3;
            };
            EXPECT_TRUE(near(screen.pixelColor(preview(red)), Qt::red));
            const QPoint bg = preview(background), co = preview(corner);
            EXPECT_TRUE(near(screen.pixelColor(bg),
                             c.backgroundShows ? c.background : f.designer->PreviewImage().pixelColor(bg)))
                << screen.pixelColor(bg).name().toStdString();
            EXPECT_TRUE(near(screen.pixelColor(co),
                             c.cornerShows ? c.background : f.designer->PreviewImage().pixelColor(co)))
                << screen.pixelColor(co).name().toStdString();
        }
    }
}

TEST(Render, PerFileDateWithoutExifShowsTheDefaultDate) {
    SurfaceFixture f;
    // The brick's own format, not the settings' display format.
    Settings().defaultDateFormat = QStringLiteral("dd.MM.yy");
    auto* d = placeBrick<TTextDate>(*f.designer, 10, 10);
    d->Format = QStringLiteral("yyyy-MM-dd");
    d->DateValue = 0;
    d->Font()->setColor(0x000000);
    d->setCaption(QStringLiteral("1980-01-01"));
    d->FitToText();
    RenderAndSave(*f.designer, f.photoPath,
                  {.newName = QStringLiteral("a.bmp"), .perFileDates = true});
    const QImage perFile = ReadImageFile(f.path("a.bmp"));
    // The same text drawn by a brick whose caption is the expected default date.
    auto* ref = placeBrick<TText>(*f.designer, 10, 10);
    d->setEnabled(false);
    f.designer->RemoveComponent(d);
    ref->Font()->setColor(0x000000);
    ref->setCaption(QStringLiteral("1980-01-01"));
    ref->FitToText();
    RenderAndSave(*f.designer, f.photoPath, {.newName = QStringLiteral("b.bmp")});
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(perFile, ReadImageFile(f.path("b.bmp")), 0, &why))
        << why.toStdString();
    Settings().defaultDateFormat.clear();
}

TEST(Render, ProportionalFitAndRotation) {
    {
        SurfaceFixture wide(QSize(400, 300));
        RenderAndSave(*wide.designer, wide.photoPath,
                      {.newName = QStringLiteral("w.bmp"), .width = 80, .height = 80, .fit = true});
        EXPECT_EQ(ReadImageFile(wide.path("w.bmp")).size(), QSize(80, 60));
        // Not fitting but given a size: the image is still resampled.
        RenderAndSave(
            *wide.designer, wide.photoPath,
            {.newName = QStringLiteral("s.bmp"), .width = 40, .height = 20, .proportional = false});
        EXPECT_EQ(ReadImageFile(wide.path("s.bmp")).size(), QSize(40, 20));
        RenderAndSave(*wide.designer, wide.photoPath,
                      {.newName = QStringLiteral("r.bmp"), .angle = 90});
        const QImage turned = ReadImageFile(wide.path("r.bmp"));
        ASSERT_EQ(turned.size(), QSize(300, 400));
        EXPECT_EQ(turned.pixel(0, 0), wide.photo.pixel(0, 299))
            << "top-left is the source's bottom-left";
        // The fit applies to the turned picture.
        RenderAndSave(*wide.designer, wide.photoPath,
                      {.newName = QStringLiteral("rf.bmp"),
                       .width = 80,
                       .height = 80,
                       .angle = 90,
                       .fit = true});
        EXPECT_EQ(ReadImageFile(wide.path("rf.bmp")).size(), QSize(60, 80));
    }
    SurfaceFixture tall(QSize(300, 400));
    RenderAndSave(*tall.designer, tall.photoPath,
                  {.newName = QStringLiteral("t.bmp"), .width = 80, .height = 80, .fit = true});
    EXPECT_EQ(ReadImageFile(tall.path("t.bmp")).size(), QSize(60, 80));
}

TEST(Render, ResampledOutputScalesBricksWithTheImage) {
    SurfaceFixture f(QSize(400, 300));
    auto* p = placeBrick<TPictureimg>(*f.designer, 200, 100);
    QImage red(4, 4, QImage::Format_RGB32);
    red.fill(Qt::red);
    p->Picture()->setGraphic({QStringLiteral("TBitmap"), QByteArray(), red});
    p->FullWidth = 100;
    p->FullHeight = 100;
    RenderAndSave(*f.designer, f.photoPath,
                  {.newName = QStringLiteral("half.bmp"),
                   .width = 200,
                   .height = 150,
                   .proportional = false,
                   .fit = true});
    const QImage out = ReadImageFile(f.path("half.bmp"));
    ASSERT_EQ(out.size(), QSize(200, 150));
    EXPECT_EQ(out.pixelColor(102, 52), QColor(Qt::red));
    EXPECT_EQ(out.pixelColor(147, 97), QColor(Qt::red));
    EXPECT_NE(out.pixelColor(153, 75), QColor(Qt::red));
}

// Output names and backups, on real files.
class RenderFiles : public ::testing::Test {
protected:
    SurfaceFixture f{QSize(64, 48), 1.0, QStringLiteral("a.jpg")};
    QByteArray sourceBytes() { return ReadFileBytes(f.photoPath); }
};

TEST_F(RenderFiles, NewNameInAnotherFolderMakesNoBackup) {
    QDir(f.dir.path()).mkdir("other");
    const QString target = f.path("other/b.jpg");
    RenderAndSave(*f.designer, f.photoPath, {.newName = target});
    EXPECT_TRUE(QFile::exists(target));
    EXPECT_EQ(DetectImageType(ReadFileBytes(target)), ImageFileType::Jpeg);
    EXPECT_TRUE(QFile::exists(f.photoPath));
    EXPECT_FALSE(QFile::exists(f.photoPath + ".bak"));
}

TEST_F(RenderFiles, SavingOverTheSourceKeepsOneBackup) {
    const QByteArray original = sourceBytes();
    RenderAndSave(*f.designer, f.photoPath, {.newName = f.photoPath.toUpper()});
    // Letter case aside, the name is the source's: it gets a backup.
    ASSERT_TRUE(QFile::exists(f.photoPath + ".bak"));
    EXPECT_EQ(ReadFileBytes(f.photoPath + ".bak"), original);
    const QByteArray firstOutput = sourceBytes();
    addText(*f.designer, 2, 2, "x");
    RenderAndSave(*f.designer, f.photoPath, {.newName = f.photoPath});
    EXPECT_EQ(ReadFileBytes(f.photoPath + ".bak"), original) << "the first backup stays";
    EXPECT_NE(sourceBytes(), firstOutput) << "the source is overwritten without a new backup";
    EXPECT_EQ(QDir(f.dir.path()).entryList(QDir::Files).size(), 2);
}

TEST_F(RenderFiles, EveryOutputOverItsSourceKeepsTheOriginal) {
    // "Apply pattern" (no new name) and a batch name equal to the old one (a bare name) replace
    // the source as a save over it does.
    for (const QString& newName : {QString(), QStringLiteral("a.jpg"), QStringLiteral("A.JPG")}) {
        SurfaceFixture g{QSize(64, 48), 1.0, QStringLiteral("a.jpg")};
        const QByteArray original = ReadFileBytes(g.photoPath);
        addText(*g.designer, 2, 2, "x");
        RenderAndSave(*g.designer, g.photoPath, {.newName = newName});
        EXPECT_NE(ReadFileBytes(g.photoPath), original) << newName.toStdString();
        EXPECT_EQ(ReadFileBytes(g.photoPath + ".bak"), original) << newName.toStdString();
        EXPECT_EQ(QDir(g.dir.path()).entryList(QDir::Files), (QStringList{"a.jpg", "a.jpg.bak"}));
    }
}

// Lowers the file-size limit for one call, so that writes beyond it fail with EFBIG.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

TEST_F(RenderFiles, FailedWriteOverTheSourcePutsTheOriginalBack) {
    SurfaceFixture big{QSize(400, 300), 1.0, QStringLiteral("big.jpg")};
    const QByteArray original = ReadFileBytes(big.photoPath);
    ASSERT_GT(original.size(), 4096);
    addText(*big.designer, 2, 2, "x");
    for (const QString& newName : {QString(), big.photoPath}) {
        QString message;
        {
            FileSizeLimit limit(4096);
            try {
                RenderAndSave(*big.designer, big.photoPath, {.newName = newName});
            } catch (const Exception& e) {
                message = e.message();
            }
        }
        EXPECT_TRUE(message.contains(big.photoPath)) << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromLocal8Bit(strerror(EFBIG))))
            << message.toStdString();
        EXPECT_FALSE(message.contains("Unknown error")) << message.toStdString();
        EXPECT_EQ(ReadFileBytes(big.photoPath), original);
        EXPECT_EQ(QDir(big.dir.path()).entryList(QDir::Files), QStringList{"big.jpg"})
            << "no backup and no temporary file left";
    }
}

TEST_F(RenderFiles, NoRoomForTheBackupLeavesTheSourceAlone) {
    // At the longest name the folder allows, "<name>.bak" cannot exist: the photo stays.
    const QString name = QString(251, QLatin1Char('p')) + QStringLiteral(".jpg");
    SurfaceFixture g{QSize(64, 48), 1.0, name};
    const QByteArray original = ReadFileBytes(g.photoPath);
    addText(*g.designer, 2, 2, "x");
    QString message;
    try {
        RenderAndSave(*g.designer, g.photoPath, {});
    } catch (const Exception& e) {
        message = e.message();
    }
    EXPECT_TRUE(message.contains(g.photoPath + ".bak")) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromLocal8Bit(strerror(ENAMETOOLONG))))
        << message.toStdString();
    EXPECT_EQ(ReadFileBytes(g.photoPath), original);
    EXPECT_EQ(QDir(g.dir.path()).entryList(QDir::Files), QStringList{name});
}

TEST(RenderOutputPath, TypedNameTakesTheSourceFormatsExtension) {
    struct Case {
        const char* source;
        const char* typed;
        const char* output;
    };
    const Case cases[]{
        // No extension typed: the source's is added.
        {"/p/a.JPG", "summer", "/p/summer.jpg"},
        {"/p/a.JPG", "ab", "/p/ab.jpg"},
        {"/p/a.jpeg", "ab", "/p/ab.jpeg"},
        // A typed extension of any length gives way to the source's format.
        {"/p/a.JPG", "pic.jpeg", "/p/pic.jpg"},
        {"/p/a.JPG", "holiday.bmp", "/p/holiday.jpg"},
        {"/p/a.jpg", "x.j", "/p/x.jpg"},
        {"/p/a.jpg", "trail.", "/p/trail.jpg"},
        {"/p/pic.PNG", "/p/new.PNG", "/p/new.png"},
        // Only the part after the last dot is the extension.
        {"/p/a.jpg", "a.b.c", "/p/a.b.jpg"},
        // Folders: the typed one wins, and a dot in it is no extension.
        {"/p/a.jpg", "/q/c.jpeg", "/q/c.jpg"},
        {"/p/a.jpg", "/q/my.dir/name", "/q/my.dir/name.jpg"},
        {"/p/a.jpg", "sub/x.png", "sub/x.jpg"},
        // The source itself, however typed, keeps its own name.
        {"/p/a.JPG", "", "/p/a.JPG"},
        {"/p/a.JPG", "/p/a.JPG", "/p/a.JPG"},
        {"/p/a.JPG", "/p/a.jpg", "/p/a.JPG"},
        {"/p/a.JPG", "/P/A.jpg", "/p/a.JPG"},
        // Blanks are part of a name.
        {"/p/a.jpg", "/p/ a.jpg", "/p/ a.jpg"},
        {"/p/ lead.jpg", " lead.jpg", "/p/ lead.jpg"},
        {"/p/ lead.jpg", "", "/p/ lead.jpg"},
        // A source without an extension has none to give.
        {"/p/raw", "x.jpg", "/p/x.jpg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RenderOutputPath(c.source, c.typed), QString::fromLatin1(c.output))
            << c.source << " + " << c.typed;
}

TEST_F(RenderFiles, SaveAsWithAnotherFormatsNameWritesTheSourcesFormat) {
    // A JPEG saved as "holiday.bmp" is a JPEG named holiday.jpg; nothing named .bmp appears.
    addText(*f.designer, 2, 2, "x");
    RenderAndSave(*f.designer, f.photoPath, {.newName = f.path("holiday.bmp")});
    EXPECT_EQ(DetectImageType(ReadFileBytes(f.path("holiday.jpg"))), ImageFileType::Jpeg);
    EXPECT_EQ(QDir(f.dir.path()).entryList(QDir::Files), (QStringList{"a.jpg", "holiday.jpg"}));
    // Without an extension the name is kept whole.
    RenderAndSave(*f.designer, f.photoPath, {.newName = QStringLiteral("summer")});
    EXPECT_EQ(DetectImageType(ReadFileBytes(f.path("summer.jpg"))), ImageFileType::Jpeg);
}

// PNG's colour type from its header: 2 RGB, 6 RGBA.
int pngColourType(const QByteArray& file) {
    EXPECT_TRUE(file.startsWith(QByteArray("\x89PNG\r\n\x1A\n", 8)));
    EXPECT_EQ(file.mid(12, 4), QByteArray("IHDR"));
    return file.size() > 25 ? uchar(file[25]) : -1;
}

QImage readByQt(const QString& path) {
    QImageReader reader(path);
    const QImage image = reader.read();
    EXPECT_FALSE(image.isNull()) << reader.errorString().toStdString();
    return image;
}

TEST_F(RenderFiles, PngSourceIsWrittenAsPngUnderItsOwnName) {
    SurfaceFixture png(QSize(60, 40), 1.0, QStringLiteral("logo.PNG"));
    TText* t = addText(*png.designer, 4, 4, "x");
    RenderAndSave(*png.designer, png.photoPath, {.newName = png.path("logo2.PNG")});
    const QString out = png.path("logo2.png");
    ASSERT_TRUE(QFile::exists(out));
    EXPECT_EQ(pngColourType(ReadFileBytes(out)), 2);
    const QImage written = readByQt(out).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(written.size(), png.photo.size());
    // Untouched outside the text's box, captioned inside it.
    const QRect box = t->FullBox(t->FullLeft, t->FullTop);
    int changed = 0;
    for (int y = 0; y < written.height(); ++y)
        for (int x = 0; x < written.width(); ++x) {
            if (!box.contains(x, y))
                ASSERT_EQ(written.pixel(x, y), png.photo.pixel(x, y)) << x << "," << y;
            else
                changed += written.pixel(x, y) != png.photo.pixel(x, y);
        }
    EXPECT_GT(changed, 5);
}

TEST_F(RenderFiles, PngSourceKeepsItsTransparency) {
    SurfaceFixture png(QSize(4, 4), 1.0, QStringLiteral("unused.png"));
    // Left half clear, right half of graded opacity.
    const int clear = 120;
    QImage source(200, 80, QImage::Format_ARGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            source.setPixel(
                x, y, x < clear ? qRgba(0, 0, 0, 0) : qRgba(x, y * 3, 90, 40 + (x + y) % 200));
    const QString path = png.path("alpha.png");
    ASSERT_TRUE(source.save(path));
    png.designer->OpenImage(path, 1.0);
    TText* t = addText(*png.designer, 2, 2, "Ag", 0, 255, 0x0000FF); // red
    RenderAndSave(*png.designer, path, {});

    EXPECT_EQ(pngColourType(ReadFileBytes(path)), 6);
    const QImage written = readByQt(path).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(written.size(), source.size());
    const QRect box = t->FullBox(t->FullLeft, t->FullTop);
    ASSERT_LT(box.right(), clear) << "the text stays on the clear part";
    int opaqueText = 0;
    for (int y = 0; y < written.height(); ++y)
        for (int x = 0; x < written.width(); ++x) {
            const QRgb w = written.pixel(x, y);
            if (box.contains(x, y)) {
                if (qAlpha(w) == 255 && qRed(w) > 200 && qGreen(w) == 0)
                    ++opaqueText;
            } else if (x < clear) {
                ASSERT_EQ(qAlpha(w), 0) << x << "," << y;
            } else {
                ASSERT_EQ(w, source.pixel(x, y)) << x << "," << y;
            }
        }
    EXPECT_GT(opaqueText, 10) << "the caption is opaque on the clear background";
}

TEST_F(RenderFiles, GifSourceIsWrittenAsGif) {
    SurfaceFixture gif(QSize(30, 20), 1.0, QStringLiteral("anim.bmp"));
    WriteFileBytes(gif.path("x.gif"), EncodeGif(gif.photo));
    RenderAndSave(*gif.designer, gif.path("x.gif"), {.newName = gif.path("y.gif")});
    EXPECT_EQ(ReadFileBytes(gif.path("y.gif")).left(4), QByteArray("GIF8"));
}

// A GIF is reduced to 256 colours once, from the captioned picture: white caption text stays
// exactly white.
TEST_F(RenderFiles, GifCaptionKeepsItsExactColour) {
    SurfaceFixture g(QSize(240, 160), 1.0);
    const QByteArray gif = EncodeGif(g.photo);
    const QString source = g.path("source.gif");
    WriteFileBytes(source, gif);
    // The reference: the same caption on the same picture, written losslessly.
    const QString reference = g.path("reference.bmp");
    WriteFileBytes(reference, EncodeBmp(DecodeGif(gif)));
    addText(*g.designer, 20, 30, "WHITE", 0, 255, 0xFFFFFF);

    g.designer->OpenImage(reference, 1.0);
    RenderAndSave(*g.designer, reference, {.newName = g.path("captioned.bmp")});
    g.designer->OpenImage(source, 1.0);
    RenderAndSave(*g.designer, source, {.newName = g.path("captioned.gif")});

    const QImage expected = ReadImageFile(g.path("captioned.bmp"));
    const QImage written = readByQt(g.path("captioned.gif")).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(written.size(), expected.size());
    int white = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (expected.pixel(x, y) == qRgb(255, 255, 255)) {
                ++white;
                ASSERT_EQ(QColor(written.pixel(x, y)), QColor(Qt::white)) << x << "," << y;
            }
    EXPECT_GT(white, 100);
    EXPECT_LT(differingPixelShare(written, expected, 48), 0.01);
}

TEST_F(RenderFiles, RenameOnlyMovesTheSource) {
    const QByteArray original = sourceBytes();
    RenderAndSave(*f.designer, f.photoPath,
                  {.newName = QStringLiteral("renamed.jpg"), .addPattern = false});
    EXPECT_FALSE(QFile::exists(f.photoPath));
    EXPECT_EQ(ReadFileBytes(f.path("renamed.jpg")), original);
}

TEST_F(RenderFiles, RenameOnlyDoesNotSwallowARotation) {
    RenderAndSave(*f.designer, f.photoPath,
                  {.newName = QStringLiteral("turned.jpg"), .angle = 90, .addPattern = false});
    EXPECT_EQ(ReadImageFile(f.path("turned.jpg")).size(), QSize(48, 64));
}

TEST_F(RenderFiles, FailedRenameIsReported) {
    EXPECT_THROW(
        RenderAndSave(*f.designer, f.photoPath,
                      {.newName = QStringLiteral("no/such/folder.jpg"), .addPattern = false}),
        Exception);
    EXPECT_TRUE(QFile::exists(f.photoPath));
}

TEST_F(RenderFiles, UnwritableOutputFailsAndKeepsTheSource) {
    const QByteArray original = sourceBytes();
    EXPECT_THROW(RenderAndSave(*f.designer, f.photoPath, {.newName = f.path("missing/dir/b.jpg")}),
                 EFCreateError);
    EXPECT_EQ(sourceBytes(), original);
}

TEST_F(RenderFiles, JpegQualityComesFromTheSettings) {
    const int saved = Settings().defaultCompressionQuality;
    Settings().defaultCompressionQuality = 10;
    RenderAndSave(*f.designer, f.photoPath, {.newName = f.path("low.jpg")});
    Settings().defaultCompressionQuality = 100;
    RenderAndSave(*f.designer, f.photoPath, {.newName = f.path("high.jpg")});
    Settings().defaultCompressionQuality = saved;
    EXPECT_LT(QFileInfo(f.path("low.jpg")).size() * 2, QFileInfo(f.path("high.jpg")).size());
}

TEST(Render, LeavesTheSurfacePicturesUntouched) {
    for (double zoom : {1.0, 2.0}) {
        SurfaceFixture f(QSize(300, 200), zoom);
        const QImage previewBefore = f.designer->PreviewImage();
        addText(*f.designer, 10, 10, "Over the photo", 0);
        addText(*f.designer, 250, 150, "Off the edge", 450);
        auto* p = placeBrick<TPictureimg>(*f.designer, -20, 150);
        QImage logo(8, 8, QImage::Format_RGB32);
        logo.fill(Qt::blue);
        p->Picture()->setGraphic({QStringLiteral("TBitmap"), QByteArray(), logo});
        p->FullWidth = p->FullHeight = 80;
        const QImage out = renderTo(f, QStringLiteral("out.bmp"));
        EXPECT_NE(out, f.photo) << "the bricks were drawn";
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(f.designer->realPicture, f.photo, 0, &why))
            << why.toStdString();
        EXPECT_TRUE(fuzzyImageCompare(f.designer->PreviewImage(), previewBefore, 0, &why))
            << why.toStdString();
    }
}

namespace {
QByteArray jpegWithExif(const QImage& image) {
    return withExif(EncodeJpeg(image, 90), {{0x010F, "Maker"}, {0x0132, "2005:06:07 08:09:10"}});
}
} // namespace

TEST(Render, ExifIsCarriedIntoTheOutput) {
    QTemporaryDir dir;
    const QString src = dir.filePath("cam.jpg");
    WriteFileBytes(src, jpegWithExif(makeTestPhoto(80, 60)));
    TDesigner d;
    d.OpenImage(src, 1.0);
    ASSERT_EQ(d.realExif.Entries.size(), 2);
    addText(d, 5, 5, "dated");
    RenderAndSave(d, src, {.newName = dir.filePath("out.jpg")});
    TExif out;
    out.LoadFromJpeg(dir.filePath("out.jpg"));
    // The source's entries, and the written size after them (the block had no Exif directory).
    const QStringList sized = d.realExif.Entries + QStringList{"PixelXDimension=80",
                                                               "PixelYDimension=60"};
    EXPECT_EQ(out.Entries, sized);
    EXPECT_EQ(ReadImageFile(dir.filePath("out.jpg")).size(), QSize(80, 60));
    // The output takes the source's format and extension whatever the new name's: a JPEG
    // source asked for "out.bmp" writes out.jpg again, block and all.
    ASSERT_TRUE(QFile::remove(dir.filePath("out.jpg")));
    RenderAndSave(d, src, {.newName = dir.filePath("out.bmp")});
    EXPECT_FALSE(QFile::exists(dir.filePath("out.bmp")));
    EXPECT_TRUE(ReadFileBytes(dir.filePath("out.jpg")).startsWith("\xFF\xD8\xFF"));
    out = TExif();
    out.LoadFromJpeg(dir.filePath("out.jpg"));
    EXPECT_EQ(out.Entries, sized);
    // A bitmap output (from a bitmap source, the surface still holding the JPEG's block) has no
    // place for the block, and saving it is no failure.
    const QString bmpSrc = dir.filePath("cam.bmp");
    WriteFileBytes(bmpSrc, EncodeBmp(makeTestPhoto(80, 60)));
    RenderAndSave(d, bmpSrc, {.newName = dir.filePath("out.bmp")});
    const QByteArray bmp = ReadFileBytes(dir.filePath("out.bmp"));
    EXPECT_TRUE(bmp.startsWith("BM")) << "written as a bitmap, by its bytes";
    EXPECT_EQ(qFromLittleEndian<quint32>(bmp.constData() + 2), quint32(bmp.size()));
    EXPECT_FALSE(bmp.contains(QByteArray("Exif\0\0", 6)));
    EXPECT_EQ(ReadImageFile(dir.filePath("out.bmp")).size(), QSize(80, 60));
}

TEST(Render, PerFileDatesComeFromEachFilesExif) {
    QTemporaryDir dir;
    const QString src = dir.filePath("cam.jpg");
    WriteFileBytes(src, jpegWithExif(makeTestPhoto(200, 80, 3, true)));
    TDesigner d;
    d.OpenImage(src, 1.0);
    Settings().defaultDateFormat = QStringLiteral("dd.MM.yy");
    auto* date = placeBrick<TTextDate>(d, 4, 4);
    date->Format = QStringLiteral("yyyy-MM-dd");
    date->Font()->setSize(20);
    // Measured for a shorter text than the file's date: the box grows for it, nothing is cut.
    date->setCaption(QStringLiteral("1-1-1"));
    date->FitToText();
    date->DateValue = 0; // what the brick holds is not what a batch writes
    RenderAndSave(d, src, {.newName = dir.filePath("batch.jpg"), .perFileDates = true});
    // Written from the photo's own blocks, the blocks under the whole date are captioned.
    RenderAndSave(d, src,
                  {.newName = dir.filePath("kept.jpg"), .perFileDates = true, .keepQuality = true});
    date->setCaption(QStringLiteral("2005-06-07"));
    auto* ref = placeBrick<TText>(d, 4, 4);
    ref->Font()->setSize(20);
    ref->setCaption(QStringLiteral("2005-06-07"));
    ref->FitToText();
    d.RemoveComponent(date);
    RenderAndSave(d, src, {.newName = dir.filePath("ref.jpg")});
    RenderAndSave(d, src, {.newName = dir.filePath("keptref.jpg"), .keepQuality = true});
    Settings().defaultDateFormat.clear();
    QString why;
    // JPEG encoding is deterministic: the same pixels give the same file.
    EXPECT_TRUE(fuzzyImageCompare(ReadImageFile(dir.filePath("batch.jpg")),
                                  ReadImageFile(dir.filePath("ref.jpg")), 0, &why))
        << why.toStdString();
    EXPECT_EQ(ReadFileBytes(dir.filePath("kept.jpg")), ReadFileBytes(dir.filePath("keptref.jpg")));
}

TEST(Render, HalfOpaqueBubbleLeavesNoKeyColour) {
    SurfaceFixture f(QSize(300, 200), 1.0, QStringLiteral("photo.bmp"), true);
    auto* b = placeBrick<TTextBubble>(*f.designer, 20, 20);
    b->SetBounds(b->Left(), b->Top(), 120, 60);
    b->SetUpFromSize(1.0);
    b->Style = 0;
    b->setCaption(QStringLiteral("Hi"));
    b->Opacity = 128;
    b->FitToText();
    const QImage out = renderTo(f, QStringLiteral("out.bmp"));
    const auto keyLike = [](const QColor& c) {
        return std::abs(c.red() - 221) < 24 && std::abs(c.green() - 19) < 24 &&
               std::abs(c.blue() - 123) < 24;
    };
    int key = 0;
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            key += keyLike(out.pixelColor(x, y)) && !keyLike(f.photo.pixelColor(x, y));
    EXPECT_EQ(key, 0) << "no key-coloured pixel, not even a fringe, that the photo did not have";
    // Inside the body the pale fill shows at about half strength over the photo.
    const QPoint inside(20 + b->Body.left + 8,
                        20 + b->Body.top + (b->Body.bottom - b->Body.top) / 2);
    const QColor photo = f.photo.pixelColor(inside), seen = out.pixelColor(inside);
    EXPECT_NEAR(seen.blue(), (photo.blue() + 225) / 2, 12);
    EXPECT_NEAR(seen.red(), (photo.red() + 255) / 2, 12);
}

// Turning a quarter and fitting gives the picture that fitting the turned photo gives.
TEST(Render, FitOfAQuarterTurnMatchesTheTurnedPhotoFitted) {
    SurfaceFixture f(QSize(400, 300), 1.0, QStringLiteral("photo.bmp"), true);
    for (int angle : {90, -90, 270, 180, -180}) {
        const QString name = QStringLiteral("t%1.bmp").arg(angle);
        RenderAndSave(*f.designer, f.photoPath,
                      {.newName = name,
                       .width = 120,
                       .height = 120,
                       .angle = angle,
                       .addPattern = false,
                       .fit = true});
        QImage expected = f.photo.convertToFormat(QImage::Format_RGB32);
        RotateBitmap(expected, qRgb(255, 255, 255), angle);
        const QSize size = expected.width() > expected.height() ? QSize(120, 90) : QSize(90, 120);
        ResampleBitmap(expected, size.width(), size.height());
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(ReadImageFile(f.path(name)), expected, 1, &why))
            << angle << ": " << why.toStdString();
    }
}

// ---- Keeping the photo's compressed data -------------------------------------------------------

namespace {

class KeepQuality : public ::testing::Test {
protected:
    void SetUp() override {
        saved = Settings();
        Settings().AutoRotate = true;
        Settings().KeepPhotoQuality = false;
    }
    void TearDown() override { Settings() = saved; }
    TSettings saved;
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// The whole MCUs (16 x 16 covers every sampling) under a rectangle.
QRect mcusUnder(const QRect& r) {
    return QRect(QPoint(r.left() / 16 * 16, r.top() / 16 * 16),
                 QPoint((r.right() / 16 + 1) * 16 - 1, (r.bottom() / 16 + 1) * 16 - 1));
}

} // namespace

TEST_F(KeepQuality, OnlyTheBlocksUnderTheBricksChange) {
    SurfaceFixture f(QSize(64, 48));
    const QString src = f.path("src.jpg");
    const QByteArray source = withExif(EncodeJpeg(makeTestPhoto(256, 192, 5, true), 90),
                                       {{0x0132, "2004:01:02 03:04:05"}});
    writeFile(src, source);
    f.designer->OpenImage(src, 1.0);
    TText* t = addText(*f.designer, 70, 60, QStringLiteral("Hi"), 0, 255, 0x000000);
    t->Font()->setHeight(-40);
    t->FitToText();
    QStringList notices;
    const QByteArray kept = RenderImage(
        *f.designer, src,
        {.newName = "k.jpg", .keepQuality = true, .onNotice = [&](const QString& n) {
             notices << n;
         }});
    const QByteArray today = RenderImage(*f.designer, src, {.newName = "t.jpg"});
    EXPECT_TRUE(notices.isEmpty()) << notices.join('\n').toStdString();
    EXPECT_NE(kept, today);

    // Through the setting alone, the same bytes.
    Settings().KeepPhotoQuality = true;
    EXPECT_EQ(RenderImage(*f.designer, src, {.newName = "s.jpg"}), kept);
    Settings().KeepPhotoQuality = false;

    const QImage a = DecodeImage(kept), b = DecodeImage(source), c = DecodeImage(today);
    ASSERT_EQ(a.size(), b.size());
    const QRect box = t->FullBox(t->FullLeft, t->FullTop).adjusted(-1, -1, 1, 1);
    // The smooth upsampling of subsampled colour lets a pixel next to a touched MCU blend in
    // its colour: one pixel around them is left out.
    const QRect mcus = mcusUnder(box).adjusted(-1, -1, 1, 1);
    int outside = 0, inside = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const bool same = a.pixel(x, y) == b.pixel(x, y);
            if (!mcus.contains(x, y))
                outside += same ? 0 : 1;
            else
                inside += same ? 0 : 1;
        }
    EXPECT_EQ(outside, 0);
    EXPECT_GT(inside, 100); // the caption is there
    // The caption looks as it does when the photo is encoded again.
    EXPECT_LT(differingPixelShare(a.copy(box), c.copy(box), 48), 0.03);
    // The EXIF block is carried along.
    TExif exif;
    exif.LoadFromBytes(kept);
    EXPECT_TRUE(exif.Entries.join('\n').contains(QStringLiteral("2004:01:02 03:04:05")));
}

TEST_F(KeepQuality, UnsupportedOrTurnedSourcesAreEncodedAgain) {
    SurfaceFixture f(QSize(64, 48));
    addText(*f.designer, 10, 10, QStringLiteral("Hi"), 0, 255, 0x000000);

    // Progressive: re-encoded, with a notice naming the file and the reason.
    const QString progressive = f.path("prog.jpg");
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        writer.setQuality(90);
        ASSERT_TRUE(writer.write(makeTestPhoto(128, 96, 3, true)));
        writeFile(progressive, buffer.data());
    }
    const QString reason = KeepQualityRefusal(ReadFileBytes(progressive));
    ASSERT_FALSE(reason.isEmpty());
    f.designer->OpenImage(progressive, 1.0);
    QStringList notices;
    const QByteArray kept = RenderImage(
        *f.designer, progressive,
        {.newName = "k.jpg", .keepQuality = true, .onNotice = [&](const QString& n) {
             notices << n;
         }});
    EXPECT_EQ(notices, QStringList{QDir::toNativeSeparators(progressive) + QStringLiteral(": ") +
                                   reason + QStringLiteral("; written by re-encoding.")});
    EXPECT_EQ(kept, RenderImage(*f.designer, progressive, {.newName = "t.jpg"}));

    // Turned upright on loading: the stored blocks are not the picture's any more.
    const QString turned = f.path("turned.jpg");
    writeFile(turned, withExifBlock(EncodeJpeg(makeTestPhoto(128, 96, 4, true), 90),
                                    ExifBlock{{{0x010F, "Cam"}}, {}, 6}));
    f.designer->OpenImage(turned, 1.0);
    notices.clear();
    const QByteArray upright = RenderImage(
        *f.designer, turned,
        {.newName = "k.jpg", .keepQuality = true, .onNotice = [&](const QString& n) {
             notices << n;
         }});
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_EQ(DecodeImage(upright).size(), QSize(96, 128));
    EXPECT_EQ(upright, RenderImage(*f.designer, turned, {.newName = "t.jpg"}));

    // A picture edited on the surface (colours, size, turn): encoded again, silently.
    const QString baseline = f.path("baseline.jpg");
    writeFile(baseline, EncodeJpeg(makeTestPhoto(128, 96, 6, true), 90));
    f.designer->OpenImage(baseline, 1.0);
    EXPECT_FALSE(f.designer->PictureEdited);
    const QByteArray fresh = RenderImage(*f.designer, baseline, {.newName = "k.jpg", .keepQuality = true});
    f.designer->PictureEdited = true;
    const QByteArray edited =
        RenderImage(*f.designer, baseline, {.newName = "k.jpg", .keepQuality = true});
    EXPECT_NE(edited, fresh);
    EXPECT_EQ(edited, RenderImage(*f.designer, baseline, {.newName = "t.jpg"}));

    // A fit or a rotation: encoded again, silently.
    f.designer->OpenImage(progressive, 1.0);
    notices.clear();
    RenderImage(*f.designer, progressive,
                {.newName = "k.jpg", .angle = 90, .keepQuality = true,
                 .onNotice = [&](const QString& n) { notices << n; }});
    EXPECT_TRUE(notices.isEmpty());
}
