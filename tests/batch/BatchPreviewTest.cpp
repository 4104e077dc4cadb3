// The batch preview's tiles, made from plain brick values as a worker thread makes them.
#include "batch/core/BatchPreview.h"
#include "imaging/core/ImageCodecs.h"
#include "patterns/settings/TSettings.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QImage light(QSize size) { return solidImage(size, qRgb(235, 230, 220)); }

QRect inkOf(const QImage& image) { return darkInkBox(image, 110); }

// A black bold caption, measured when placed.
BrickData caption(int left, int top, int pixels = 20) {
    BrickData b;
    b.kind = BrickKind::Text;
    b.name = QStringLiteral("Text1");
    b.left = left;
    b.top = top;
    b.text = QStringLiteral("HXH");
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(pixels);
    b.font = font;
    b.fontColor = 0;
    return b;
}

BrickData anchoredCaption() {
    BrickData b = caption(5, 5);
    b.layout = {Tk::baBottomRight, 40, 40, 80};
    return b;
}

PreviewOptions withPattern() {
    PreviewOptions o;
    o.applyPattern = true;
    return o;
}

TEST(BatchPreview, OutputSizesOfFitsAndTurns) {
    PreviewOptions o;
    EXPECT_EQ(PreviewOutputSize({1200, 800}, o), QSize(1200, 800));
    o.angle = 90;
    EXPECT_EQ(PreviewOutputSize({1200, 800}, o), QSize(800, 1200));
    // Turned upright 800 x 1200, fitted into 600 x 600: 600 high, 800 * 600 / 1200 = 400 wide.
    o.fit = true;
    o.width = o.height = 600;
    EXPECT_EQ(PreviewOutputSize({1200, 800}, o), QSize(400, 600));
    // 30 degrees: 1200 cos 30 + 800 sin 30 = 1439.2 by 1200 sin 30 + 800 cos 30 = 1292.8, then
    // fitted to 600 wide: 1292.8 * 600 / 1439.2 = 539.
    o.angle = 30;
    EXPECT_EQ(PreviewOutputSize({1200, 800}, o), QSize(600, 539));
    o.proportional = false;
    EXPECT_EQ(PreviewOutputSize({1200, 800}, o), QSize(600, 600));
}

TEST(BatchPreview, AnchoredCaptionSitsAtTheCornerOfEveryShape) {
    for (const QSize full : {QSize(1200, 800), QSize(600, 900), QSize(700, 700)}) {
        SCOPED_TRACE(full.width());
        const PreviewTile tile =
            PreviewOnPicture(light(full / 2), full, {anchoredCaption()}, {}, withPattern());
        ASSERT_FALSE(tile.image.isNull());
        EXPECT_EQ(tile.outputSize, full);
        EXPECT_EQ(std::max(tile.image.width(), tile.image.height()), 200);
        EXPECT_FALSE(tile.offPhoto);
        EXPECT_FALSE(tile.overlap);
        // 40 per mille in from the corner, 80 per mille a line (its capitals about 0.55 to 0.85
        // of it); one tile pixel is 1000 / shorter side per mille.
        const QRect ink = inkOf(tile.image);
        ASSERT_FALSE(ink.isEmpty());
        const double s = std::min(tile.image.width(), tile.image.height()) / 1000.0;
        const double pixel = 1 / s;
        const double right = (tile.image.width() - 1 - ink.right()) / s;
        const double bottom = (tile.image.height() - 1 - ink.bottom()) / s;
        EXPECT_GE(right, 40 - 1.5 * pixel);
        EXPECT_LE(right, 48 + 1.5 * pixel);
        EXPECT_GE(bottom, 48 - 1.5 * pixel);
        EXPECT_LE(bottom, 68 + 1.5 * pixel);
        EXPECT_GE(ink.height() / s, 44 - 1.5 * pixel);
        EXPECT_LE(ink.height() / s, 68 + 1.5 * pixel);
    }
}

TEST(BatchPreview, MarksCaptionsOffThePhotoAndOverlapping) {
    const QSize full(600, 400);
    // Placed by its corner near the right edge of the photo it was designed on: a caption of
    // "HXH" at 20 pixels is wider than 20 pixels, so it sticks out.
    PreviewTile tile = PreviewOnPicture(light(full), full, {caption(585, 100)}, {}, withPattern());
    EXPECT_TRUE(tile.offPhoto);
    EXPECT_FALSE(tile.overlap);
    tile = PreviewOnPicture(light(full), full, {caption(100, 100), caption(110, 105)}, {},
                            withPattern());
    EXPECT_FALSE(tile.offPhoto);
    EXPECT_TRUE(tile.overlap);
    tile = PreviewOnPicture(light(full), full, {caption(100, 100), caption(100, 300)}, {},
                            withPattern());
    EXPECT_FALSE(tile.offPhoto);
    EXPECT_FALSE(tile.overlap);
    // Without the pattern nothing is drawn and nothing is marked.
    tile = PreviewOnPicture(light(full), full, {caption(585, 100)}, {}, PreviewOptions());
    EXPECT_FALSE(tile.offPhoto);
    EXPECT_TRUE(inkOf(tile.image).isEmpty());
}

TEST(BatchPreview, DateBricksShowEachPhotosDateInTheirFormat) {
    const QSize full(600, 400);
    BrickData date = caption(20, 20);
    date.kind = BrickKind::Date;
    date.format = QStringLiteral("yyyy");
    date.text = QStringLiteral("1999");
    // 2 January 2004 is day 37988 counted from 30 December 1899.
    TPhotoFields fields;
    fields.dated.taken.value = 37988.5;
    fields.dated.hasDate = true;
    const PreviewTile with2004 =
        PreviewOnPicture(light(full), full, {date}, &fields, withPattern());
    const PreviewTile own = PreviewOnPicture(light(full), full, {date}, {}, withPattern());
    EXPECT_FALSE(with2004.image == own.image) << "the photo's date is drawn, not the brick's own";
}

TEST(BatchPreview, FilesAreReadUprightAndUnreadableOnesSaySo) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Stored lying on its side with Orientation 6: upright it is 400 x 600.
    const QString turned = dir.filePath(QStringLiteral("t.jpg"));
    {
        QFile f(turned);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(withExifBlock(EncodeJpeg(light({600, 400}), 90),
                              {{{0x0132, "2004:01:02 03:04:05"}}, {}, 6}));
    }
    const PreviewTile tile = MakePreviewTile(turned, {anchoredCaption()}, withPattern());
    EXPECT_TRUE(tile.error.isEmpty()) << tile.error.toStdString();
    EXPECT_EQ(tile.outputSize, QSize(400, 600));
    EXPECT_EQ(tile.image.size(), QSize(133, 200));

    const PreviewTile missing =
        MakePreviewTile(dir.filePath(QStringLiteral("none.jpg")), {}, withPattern());
    EXPECT_TRUE(missing.image.isNull());
    EXPECT_TRUE(missing.error.contains(QLatin1String("none.jpg"))) << missing.error.toStdString();
}

TEST(BatchPreview, TheBadgeGoesToACornerNoCaptionCovers) {
    const QSize tile(200, 133);
    // No caption: the top right corner, inside the tile.
    const QRect free = PreviewBadgeRect(tile, {}, 22);
    EXPECT_EQ(free, QRect(175, 3, 22, 22));
    // A caption over the top right corner sends it to the top left.
    const QRectF topRight(150, 0, 60, 30);
    EXPECT_EQ(PreviewBadgeRect(tile, {topRight}, 22), QRect(3, 3, 22, 22));
    // Both top corners taken: the bottom left.
    const QRectF topBand(-10, -5, 220, 30);
    EXPECT_EQ(PreviewBadgeRect(tile, {topBand}, 22), QRect(3, 108, 22, 22));
    // Every corner covered: the one covered least (a sliver at the bottom right).
    const QList<QRectF> all{QRectF(0, 0, 200, 40), QRectF(0, 90, 100, 43),
                            QRectF(195, 128, 5, 5)};
    const QRect least = PreviewBadgeRect(tile, all, 22);
    EXPECT_EQ(least, QRect(175, 108, 22, 22));

    // On a real tile the badge is where the caption is not: a caption off the right edge at the
    // top keeps its ink where it was drawn.
    const QSize full(600, 400);
    const PreviewTile marked =
        PreviewOnPicture(light(full), full, {caption(560, 4)}, nullptr, withPattern());
    ASSERT_TRUE(marked.offPhoto);
    ASSERT_EQ(marked.boxes.size(), 1);
    const QRect badge = PreviewBadgeRect(marked.image.size(), marked.boxes, 22);
    EXPECT_FALSE(QRectF(badge).intersects(marked.boxes.first()));
    EXPECT_FALSE(badge.intersects(inkOf(marked.image)));
}

// A JPEG with an EXIF block whose DateTimeOriginal (Exif sub-directory) is date, or none when it
// is empty.
QString writeDated(const QString& path, const QByteArray& date) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    ExifBlock block;
    block.main = {{0x010F, "Maker"}};
    if (!date.isEmpty())
        block.exif = {{0x9003, date}};
    f.write(withExifBlock(EncodeJpeg(light({600, 400}), 90), block));
    return path;
}

TEST(BatchPreview, APhotoWithoutADateShowsTheDateTheBatchWrites) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    BrickData date = caption(20, 20);
    date.kind = BrickKind::Date;
    date.format = QStringLiteral("yyyy");
    date.text = date.measuredText = QStringLiteral("2031"); // the brick's own: never written
    const QString savedDate = Settings().defaultDate, savedFallback = Settings().DateFallback;
    Settings().defaultDate = QStringLiteral("01.01.1995");
    Settings().DateFallback = QStringLiteral("default");

    // The undated photo's tile is the tile of a photo taken in 1995.
    const QString undated = writeDated(dir.filePath(QStringLiteral("undated.jpg")), {});
    const QString taken = writeDated(dir.filePath(QStringLiteral("taken.jpg")), "1995:06:01 10:00:00");
    const PreviewTile none = MakePreviewTile(undated, {date}, withPattern());
    const PreviewTile in1995 = MakePreviewTile(taken, {date}, withPattern());
    ASSERT_FALSE(none.image.isNull()) << none.error.toStdString();
    EXPECT_TRUE(none.image == in1995.image);
    EXPECT_EQ(none.notice,
              QStringLiteral("undated.jpg: no date taken; dated 01.01.1995 by the settings' default"));
    EXPECT_FALSE(none.skipped);
    EXPECT_TRUE(in1995.notice.isEmpty());

    // Left out by the settings: the tile says so.
    Settings().DateFallback = QStringLiteral("skip");
    const PreviewTile skipped = MakePreviewTile(undated, {date}, withPattern());
    EXPECT_TRUE(skipped.skipped);
    EXPECT_EQ(skipped.notice,
              QStringLiteral("undated.jpg: no date taken; not written (DateFallback=skip)"));
    // A pattern that shows no date has nothing to say about it.
    EXPECT_TRUE(MakePreviewTile(undated, {caption(20, 20)}, withPattern()).notice.isEmpty());

    Settings().defaultDate = savedDate;
    Settings().DateFallback = savedFallback;
}

// A photo whose Model exiftool writes; empty when exiftool is missing.
QString modelPhoto(const QString& path, const QString& model) {
    if (QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty())
        return QString();
    writeDated(path, "2020:02:29 12:00:00");
    QProcess p;
    p.start(QStringLiteral("exiftool"),
            {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
             QStringLiteral("-Model=") + model, path});
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0);
    return path;
}

TEST(BatchPreview, FieldsShowEachPhotosOwnValues) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = modelPhoto(dir.filePath(QStringLiteral("a.jpg")), QStringLiteral("Cam A"));
    if (a.isEmpty())
        GTEST_SKIP() << "exiftool is not installed";
    const QString b = modelPhoto(dir.filePath(QStringLiteral("b.jpg")), QStringLiteral("Cam B"));

    BrickData text = caption(20, 20);
    text.caption = QStringLiteral("{Model} #{Counter}");
    text.text = text.measuredText = QStringLiteral("Cam Z #9"); // the open photo's: not these
    BrickData bubble = caption(20, 200);
    bubble.kind = BrickKind::Bubble;
    bubble.caption = QStringLiteral("{Model}");
    bubble.text = bubble.measuredText = QStringLiteral("Cam Z");
    bubble.body = {20, 200, 200, 260};
    bubble.fromX = 30;
    bubble.fromY = 330;
    const auto literal = [](BrickData brick, const QString& shown) {
        brick.caption = brick.text = shown;
        return brick;
    };
    const PreviewTile ta = MakePreviewTile(a, {text, bubble}, withPattern(), 1);
    const PreviewTile tb = MakePreviewTile(b, {text, bubble}, withPattern(), 2);
    const PreviewTile la = MakePreviewTile(
        a, {literal(text, QStringLiteral("Cam A #1")), literal(bubble, QStringLiteral("Cam A"))},
        withPattern());
    const PreviewTile lb = MakePreviewTile(
        b, {literal(text, QStringLiteral("Cam B #2")), literal(bubble, QStringLiteral("Cam B"))},
        withPattern());
    ASSERT_FALSE(ta.image.isNull()) << ta.error.toStdString();
    EXPECT_TRUE(ta.image == la.image);
    EXPECT_TRUE(tb.image == lb.image);
    EXPECT_FALSE(ta.image == tb.image);
}

} // namespace
