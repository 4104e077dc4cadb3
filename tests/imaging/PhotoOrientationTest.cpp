#include "imaging/core/PictureLoader.h"
#include "imaging/render/RenderAndSave.h"
#include "designer/state/TDesigner.h"
#include "imaging/core/TExif.h"
#include "patterns/settings/TSettings.h"
#include "designer/state/TcPanel.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Where the displayed pixel (x, y) lies in the stored W x H picture, by the meaning of each
// orientation value (which stored row and column belong at the top and on the left).
QPoint storedPixel(int orientation, int x, int y, int w, int h) {
    switch (orientation) {
    case 2:
        return {w - 1 - x, y};
    case 3:
        return {w - 1 - x, h - 1 - y};
    case 4:
        return {x, h - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {y, h - 1 - x};
    case 7:
        return {w - 1 - y, h - 1 - x};
    case 8:
        return {w - 1 - y, x};
    default:
        return {x, y};
    }
}

// Every pixel different: its position in the colour.
QImage numbered(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 40, y * 40, 200));
    return image;
}

bool near(QRgb a, QRgb b, int delta = 40) {
    return std::abs(qRed(a) - qRed(b)) <= delta && std::abs(qGreen(a) - qGreen(b)) <= delta &&
           std::abs(qBlue(a) - qBlue(b)) <= delta;
}

// A JPEG stored lying on its side: left half red, right half blue, 64 x 32.
QImage sideways() {
    QImage image(64, 32, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 255));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    return image;
}

const ExifBlock kTurned{
    {{0x010F, "Cam"}, {0x0132, "2004:01:02 03:04:05"}}, {{0x9003, "2001:02:03 04:05:06"}}, 6};

ExifBlock withOrientation(ExifBlock block, quint16 orientation) {
    block.orientation = orientation;
    return block;
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class PhotoOrientation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        saved = Settings();
        photo = dir.filePath("turned.jpg");
        writeAll(photo, withExifBlock(EncodeJpeg(sideways(), 95), kTurned));
    }
    void TearDown() override { Settings() = saved; }

    QTemporaryDir dir;
    TSettings saved;
    QString photo;
};

} // namespace

TEST(OrientedImage, AllEightValuesAndOthers) {
    const QImage stored = numbered(5, 3);
    for (int orientation = 0; orientation <= 9; ++orientation) {
        SCOPED_TRACE(orientation);
        const QImage shown = OrientedImage(stored, quint32(orientation));
        const bool swapped = orientation >= 5 && orientation <= 8;
        ASSERT_EQ(shown.size(), swapped ? QSize(3, 5) : QSize(5, 3));
        const int o = orientation >= 1 && orientation <= 8 ? orientation : 1;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                EXPECT_EQ(shown.pixel(x, y), stored.pixel(storedPixel(o, x, y, 5, 3)))
                    << x << "," << y;
    }
}

TEST_F(PhotoOrientation, LoadTurnsUprightAndSaysOne) {
    const LoadedPhoto upright = LoadPhotoFile(photo, true);
    ASSERT_EQ(upright.picture.size(), QSize(32, 64));
    EXPECT_TRUE(near(upright.picture.pixel(16, 8), qRgb(255, 0, 0))); // the left side on top
    EXPECT_TRUE(near(upright.picture.pixel(16, 56), qRgb(0, 0, 255)));
    EXPECT_TRUE(upright.exifError.isEmpty());
    EXPECT_EQ(upright.exif.Orientation, 1u);
    // Only the orientation value changed: the block is the one built with 1 there.
    EXPECT_EQ(upright.exif.Segment, exifBlockSegment(withOrientation(kTurned, 1)));
    EXPECT_TRUE(upright.exif.Entries.contains("Orientation=1"));

    const LoadedPhoto stored = LoadPhotoFile(photo, false);
    ASSERT_EQ(stored.picture.size(), QSize(64, 32));
    EXPECT_EQ(stored.exif.Orientation, 6u);
    EXPECT_EQ(stored.exif.Segment, exifBlockSegment(kTurned));
}

TEST_F(PhotoOrientation, FilesWithoutOrientationOrExifStayAsStored) {
    const QString plain = dir.filePath("plain.jpg");
    writeAll(plain, withExifBlock(EncodeJpeg(sideways(), 95), withOrientation(kTurned, 0)));
    const LoadedPhoto p = LoadPhotoFile(plain, true);
    EXPECT_EQ(p.picture.size(), QSize(64, 32));
    EXPECT_EQ(p.exif.Segment, exifBlockSegment(withOrientation(kTurned, 0)));

    const QString bare = dir.filePath("bare.jpg");
    writeAll(bare, EncodeJpeg(sideways(), 95));
    const LoadedPhoto b = LoadPhotoFile(bare, true);
    EXPECT_EQ(b.picture.size(), QSize(64, 32));
    EXPECT_EQ(b.exifError, "Application segment 1 (APP1) not found.");
    EXPECT_TRUE(b.exif.Segment.isEmpty());

    EXPECT_THROW(LoadPhotoFile(dir.filePath("missing.jpg"), true), EFOpenError);
}

// Open and Save As: the output is upright and its EXIF block says so; the rest of the block is
// the source's. With AutoRotate off both stay as stored.
TEST_F(PhotoOrientation, SavedOutputIsUprightWithOrientationOne) {
    for (bool autoRotate : {true, false}) {
        SCOPED_TRACE(autoRotate);
        Settings().AutoRotate = autoRotate;
        TDesigner designer;
        designer.OpenImage(photo, 1.0);
        EXPECT_EQ(designer.PreviewSize(), autoRotate ? QSize(32, 64) : QSize(64, 32));
        const QString out = dir.filePath(autoRotate ? "upright.jpg" : "stored.jpg");
        RenderAndSave(designer, photo, {.newName = out});
        const QImage written = ReadImageFile(out);
        ASSERT_EQ(written.size(), autoRotate ? QSize(32, 64) : QSize(64, 32));
        EXPECT_TRUE(near(written.pixel(8, 8), qRgb(255, 0, 0)));
        TExif exif;
        exif.LoadFromJpeg(out);
        EXPECT_EQ(exif.Orientation, autoRotate ? 1u : 6u);
        // The source's entries, and the written size beside them.
        TExif source;
        source.LoadFromBytes(exifBlockJpeg(autoRotate ? withOrientation(kTurned, 1) : kTurned));
        QStringList expected = source.Entries;
        expected << QStringLiteral("PixelXDimension=%1").arg(written.width())
                 << QStringLiteral("PixelYDimension=%1").arg(written.height());
        expected.sort();
        QStringList lines = exif.Entries;
        lines.sort();
        EXPECT_EQ(lines, expected);
    }
}

// A quarter turn by hand after opening is not undone by the viewer: the block says 1.
TEST_F(PhotoOrientation, TurnedAgainAndSavedIsNotTurnedByViewers) {
    Settings().AutoRotate = true;
    TDesigner designer;
    designer.OpenImage(photo, 1.0);
    const QString out = dir.filePath("again.jpg");
    RenderAndSave(designer, photo, {.newName = out, .angle = 90});
    const QImage written = ReadImageFile(out);
    ASSERT_EQ(written.size(), QSize(64, 32));
    EXPECT_TRUE(near(written.pixel(56, 16), qRgb(255, 0, 0))); // the top now on the right
    TExif exif;
    exif.LoadFromJpeg(out);
    EXPECT_EQ(exif.Orientation, 1u);
}

// The two camera samples taken with the camera turned: canon_hdr_NO (6, Exif first) and Pentax
// (8, after a JFIF header).
TEST(PhotoOrientationCamera, TurnedCameraFiles) {
    const QString dir = sharedTestDataDir() + "/exif";
    if (sharedTestDataDir().isEmpty() || !QFile::exists(dir + "/Pentax.jpg"))
        GTEST_SKIP() << "camera sample folder (testdata/exif) not present";
    const struct {
        const char* file;
        int orientation;
    } cases[] = {{"canon_hdr_NO.jpg", 6}, {"Pentax.jpg", 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dir + '/' + c.file;
        const QImage stored = ReadImageFile(path);
        TExif original;
        original.LoadFromJpeg(path);
        ASSERT_EQ(original.Orientation, quint32(c.orientation));

        const LoadedPhoto photo = LoadPhotoFile(path, true);
        ASSERT_EQ(photo.picture.size(), stored.size().transposed());
        const int w = stored.width(), h = stored.height();
        for (int y = 0; y < photo.picture.height(); y += std::max(1, photo.picture.height() / 37))
            for (int x = 0; x < photo.picture.width(); x += std::max(1, photo.picture.width() / 41))
                ASSERT_EQ(photo.picture.pixel(x, y),
                          stored.pixel(storedPixel(c.orientation, x, y, w, h)))
                    << x << "," << y;
        // One byte of the block changed: the orientation's low byte.
        ASSERT_EQ(photo.exif.Segment.size(), original.Segment.size());
        int changed = 0;
        for (qsizetype i = 0; i < original.Segment.size(); ++i)
            changed += photo.exif.Segment[i] != original.Segment[i];
        EXPECT_EQ(changed, 1);
        EXPECT_EQ(photo.exif.Orientation, 1u);
        QStringList lines = original.Entries;
        lines[lines.indexOf(QStringLiteral("Orientation=%1").arg(c.orientation))] = "Orientation=1";
        EXPECT_EQ(photo.exif.Entries, lines);
    }
}

// Editors save their JFIF header first and the Exif segment after it: the saved output carries
// that block, behind its own JFIF header.
TEST_F(PhotoOrientation, ExifAfterJfifIsCarriedIntoTheOutput) {
    const QByteArray encoded = EncodeJpeg(sideways(), 95);
    ASSERT_EQ(encoded.mid(2, 2), QByteArray("\xFF\xE0", 2));
    const int jfifEnd = 4 + (uchar(encoded[4]) << 8 | uchar(encoded[5]));
    const ExifBlock block = withOrientation(kTurned, 0);
    const QString edited = dir.filePath("edited.jpg");
    writeAll(edited, encoded.left(jfifEnd) + exifBlockSegment(block) + encoded.mid(jfifEnd));

    TDesigner designer;
    designer.OpenImage(edited, 1.0);
    ASSERT_EQ(designer.realExif.Segment, exifBlockSegment(block));
    const QString out = dir.filePath("out.jpg");
    RenderAndSave(designer, edited, {.newName = out});
    QFile written(out);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    ASSERT_EQ(bytes.mid(2, 2), QByteArray("\xFF\xE0", 2));
    const int outJfifEnd = 4 + (uchar(bytes[4]) << 8 | uchar(bytes[5]));
    EXPECT_EQ(bytes.mid(outJfifEnd, 2), QByteArray("\xFF\xE1", 2));
    EXPECT_EQ(bytes.mid(outJfifEnd + 4, 6), QByteArray("Exif\0\0", 6));
    TExif carried;
    carried.LoadFromBytes(bytes);
    EXPECT_EQ(carried.Entries.mid(0, designer.realExif.Entries.size()), designer.realExif.Entries);
}

TEST_F(PhotoOrientation, ReducedLoadCoversTheLeastSizeAndKnowsTheFullOne) {
    // 64 x 32 stored, 32 x 64 upright.
    QList<QSize> asked;
    const LoadedPhoto half = LoadPhotoFileReduced(photo, true, [&](const QSize& full) {
        asked << full;
        return QSize(14, 30); // upright; the 1/2 decode (16 x 32) is the least that covers it
    });
    EXPECT_EQ(asked, QList<QSize>{QSize(32, 64)});
    EXPECT_EQ(half.fullSize, QSize(32, 64));
    EXPECT_EQ(half.picture.size(), QSize(16, 32));
    EXPECT_EQ(half.exif.Orientation, 1u);
    // Turned upright: red (the stored left half) is now on top.
    EXPECT_TRUE(near(half.picture.pixel(8, 4), qRgb(255, 0, 0)));
    EXPECT_TRUE(near(half.picture.pixel(8, 28), qRgb(0, 0, 255)));

    const LoadedPhoto stored = LoadPhotoFileReduced(photo, false, [](const QSize& full) {
        return QSize(full.width() / 8, full.height() / 8);
    });
    EXPECT_EQ(stored.fullSize, QSize(64, 32));
    EXPECT_EQ(stored.picture.size(), QSize(8, 4));

    // No least size, or a file that is not a JPEG: the whole picture.
    const LoadedPhoto whole =
        LoadPhotoFileReduced(photo, true, [](const QSize&) { return QSize(); });
    EXPECT_EQ(whole.picture.size(), QSize(32, 64));
    EXPECT_EQ(whole.fullSize, QSize(32, 64));
    const QString png = dir.filePath("plain.png");
    ASSERT_TRUE(sideways().save(png, "PNG"));
    const LoadedPhoto p =
        LoadPhotoFileReduced(png, true, [](const QSize&) { return QSize(1, 1); });
    EXPECT_EQ(p.picture.size(), QSize(64, 32));
    EXPECT_EQ(p.fullSize, QSize(64, 32));
}
