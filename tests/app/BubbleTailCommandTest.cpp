#include "tests/app/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A pattern of a few hundred bytes with one bubble whose tail point lies far outside the photo.
QByteArray farTailPattern(qint64 fromX, qint64 fromY) {
    const QString body = QStringLiteral("object TextBubble1: TTextBubble%CR%LF  Left = 20%CR%LF"
                                        "  Top = 30%CR%LF  Caption = 'Speaking from afar'%CR%LF"
                                        "  Font.Color = clBlack%CR%LF  Font.Height = -20%CR%LF"
                                        "  Font.Name = 'Arial'%CR%LF  FromX = %1%CR%LF"
                                        "  FromY = %2%CR%LFend%CR%LF")
                             .arg(fromX)
                             .arg(fromY);
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"Test Project\" "
               "Created=\"by qmv\">\n"
               "  <Inspector Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" ColWidth=\"0\" "
               "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
               "  <Designer Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" GridX=\"4\" GridY=\"4\" "
               "IsGrid=\"False\"/>\n"
               "  <Manager Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\"/>\n"
               "  <Bricks>\n    <Brick Body=\"%1\"/>\n  </Bricks>\n</Project>\n")
        .arg(body)
        .toUtf8();
}

// The rows of a column that show the bubble's pale fill.
QList<int> fillRows(const QImage& image, int x) {
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y)
        if (image.pixelColor(x, y) == QColor(255, 255, 225))
            rows.append(y);
    return rows;
}

double middle(const QList<int>& rows) {
    return rows.isEmpty() ? -1 : (rows.first() + rows.last()) / 2.0;
}

} // namespace

// The bitmap of a bubble covers its part over the photo, however far its tail point lies: under
// an address-space limit of a few hundred megabytes (and a CPU-time limit) the render succeeds,
// and the tail runs off the photo's edge towards the point.
TEST(BubbleTailCommand, FarTailPointRendersInMemoryOfThePhotosSize) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit leaves no room for AddressSanitizer's shadow memory";
#endif
    const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
    ASSERT_FALSE(prlimit.isEmpty()) << "prlimit (util-linux) is needed";
    QTemporaryDir config, files;
    ASSERT_TRUE(config.isValid() && files.isValid());
    const struct { qint64 fromX, fromY; } tails[] = {{10000000, 60}, {2147483647, 2147483647 / 4}};
    for (const auto& t : tails) {
        SCOPED_TRACE(::testing::Message() << t.fromX << "," << t.fromY);
        const QString photo = files.filePath(QStringLiteral("photo.bmp"));
        const QImage original = makeTestPhoto(320, 240, 5, true);
        ASSERT_TRUE(original.save(photo));
        const QString pattern = files.filePath(QStringLiteral("far.xml"));
        QFile f(pattern);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(farTailPattern(t.fromX, t.fromY));
        f.close();
        const CliRun r = runCliVia({prlimit, "--as=300000000", "--cpu=60", "--"},
                                   {"render", "--pattern", pattern, photo}, config.path());
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QImage after(photo);
        ASSERT_EQ(after.size(), original.size());
        // The tail reaches the right edge, filled between its lines...
        // (the body ends some 50 pixels before it).
        const QList<int> atEdge = fillRows(after, 319), inner = fillRows(after, 289);
        ASSERT_FALSE(atEdge.isEmpty());
        ASSERT_FALSE(inner.isEmpty());
        // ... and heads for the point: its middle drops by FromY / FromX per pixel.
        const double slope = double(t.fromY) / double(t.fromX);
        EXPECT_NEAR((middle(atEdge) - middle(inner)) / 30, slope, 0.05);
        // Between its lines it is narrow (the lines meet only at the far point).
        EXPECT_LT(atEdge.size(), 40);
        // Left of the bubble and below the tail the photo is untouched.
        EXPECT_EQ(after.pixel(5, 200), original.convertToFormat(after.format()).pixel(5, 200));
    }
}
