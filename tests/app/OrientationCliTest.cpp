#include "tests/app/CliRunner.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/TExif.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A pattern without bricks: the render only carries the photo and its EXIF block over.
const QByteArray kEmptyPattern =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"Test Project\" "
    "Created=\"by qmv\">\n"
    "  <Inspector Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" ColWidth=\"0\" "
    "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
    "  <Designer Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" GridX=\"4\" GridY=\"4\" "
    "IsGrid=\"False\"/>\n"
    "  <Manager Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\"/>\n"
    "  <Bricks>\n  </Bricks>\n</Project>\n";

// Stored lying on its side (64 x 32, left half red) with Orientation 6: upright it is 32 x 64.
QByteArray turnedJpeg() {
    QImage image(64, 32, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, 255));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    return withExifBlock(EncodeJpeg(image, 95),
                         {{{0x0132, "2004:01:02 03:04:05"}}, {{0x9003, "2001:02:03 04:05:06"}}, 6});
}

class OrientationCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid() && files.isValid());
        pattern = write("pattern.xml", kEmptyPattern);
    }
    CliRun cli(const QStringList& args) { return runCli(args, config.path()); }
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(files.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    // The written picture's size and the orientation its EXIF block says.
    static std::pair<QSize, quint32> written(const QString& path) {
        TExif exif;
        exif.LoadFromJpeg(path);
        return {ReadImageFile(path).size(), exif.Orientation};
    }

    QTemporaryDir config;
    QTemporaryDir files;
    QString pattern;
};

} // namespace

TEST_F(OrientationCli, RenderAndBatchWriteUprightPhotos) {
    const QString a = write("a.jpg", turnedJpeg());
    CliRun r = cli({"render", "--pattern", pattern, "--output", files.filePath("out.jpg"), a});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(written(files.filePath("out.jpg")), std::make_pair(QSize(32, 64), 1u));

    const QString b = write("b.jpg", turnedJpeg());
    r = cli({"batch", "--pattern", pattern, b});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(written(b), std::make_pair(QSize(32, 64), 1u));
    // Batched again, the upright file stays upright.
    r = cli({"batch", "--pattern", pattern, b});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(written(b), std::make_pair(QSize(32, 64), 1u));
}

TEST_F(OrientationCli, AutoRotateOffKeepsTheStoredPixels) {
    ASSERT_EQ(cli({"settings", "set", "AutoRotate", "0"}).code, 0);
    const QString a = write("a.jpg", turnedJpeg());
    CliRun r = cli({"render", "--pattern", pattern, "--output", files.filePath("out.jpg"), a});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(written(files.filePath("out.jpg")), std::make_pair(QSize(64, 32), 6u));

    r = cli({"batch", "--pattern", pattern, a});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(written(a), std::make_pair(QSize(64, 32), 6u));
}
