// render --keep-quality (and batch --keep-quality) on files whose headers or endings are odd:
// the command reports, re-encodes or carries them over, and never dies.
#include "imaging/core/ImageCodecs.h"
#include "tests/app/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

// A pattern of text bricks, each "Left,Top,Caption".
QByteArray pattern(const QStringList& bricks, const QString& extra = QString()) {
    QString body;
    int n = 0;
    for (const QString& b : bricks) {
        const QStringList f = b.split(QLatin1Char(','));
        body += QStringLiteral("    <Brick Body=\"object Text%1: TText%CR%LF  Left = %2%CR%LF"
                               "  Top = %3%CR%LF  Caption = '%4'%CR%LF  Font.Color = clRed%CR%LF"
                               "  Font.Height = -24%CR%LF  Font.Name = 'Arial'%CR%LFend%CR%LF\"/>\n")
                    .arg(++n)
                    .arg(f[0], f[1], f[2]);
    }
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"P\" Created=\"by qmv\">\n"
               "  <Inspector Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" ColWidth=\"0\" "
               "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
               "  <Designer Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" GridX=\"4\" GridY=\"4\" "
               "IsGrid=\"False\"/>\n"
               "  <Manager Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\"/>\n"
               "  <Bricks>\n%1%2  </Bricks>\n</Project>\n")
        .arg(body, extra)
        .toUtf8();
}

// A picture brick holding the given Picture.Data bytes, in the pattern's hex text form.
QString pictureBrick(const QByteArray& data) {
    QString hex = QString::fromLatin1(data.toHex().toUpper());
    QString lines;
    for (qsizetype i = 0; i < hex.size(); i += 64)
        lines += QStringLiteral("%CR%LF      ") + hex.mid(i, 64);
    return QStringLiteral("    <Brick Body=\"object Pictureimg1: TPictureimg%CR%LF  Left = 10"
                          "%CR%LF  Top = 10%CR%LF  Width = 40%CR%LF  Height = 40%CR%LF"
                          "  Picture.Data = {%1}%CR%LF  Stretch = True%CR%LFend%CR%LF\"/>\n")
        .arg(lines);
}

QByteArray segment(uchar marker, const QByteArray& payload) {
    QByteArray s;
    s.append(char(0xFF)).append(char(marker));
    s.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xFF));
    return s + payload;
}
QByteArray be32(quint32 v) {
    QByteArray b(4, 0);
    qToBigEndian(v, b.data());
    return b;
}
QByteArray be16(quint16 v) {
    QByteArray b(2, 0);
    qToBigEndian(v, b.data());
    return b;
}

// A big-endian MPF APP2 segment for two images, 90 bytes, laid out by hand:
//   0..3 FF E2 + length 88; 4..7 "MPF\0"; 8..15 "MM\0*" + first IFD at 8 (offsets count from
//   byte 8); 16..17 three entries; 18..53 B000 version, B001 count 2, B002 32 bytes at 50;
//   54..57 no next IFD; 58..89 the two MP entries (attributes, size, offset, dependants).
QByteArray mpfSegment(quint32 firstSize, quint32 secondSize, quint32 secondOffset) {
    QByteArray p("MPF\0MM\0*", 8);
    p += be32(8) + be16(3);
    p += be16(0xB000) + be16(7) + be32(4) + QByteArray("0100");
    p += be16(0xB001) + be16(4) + be32(1) + be32(2);
    p += be16(0xB002) + be16(7) + be32(32) + be32(50);
    p += be32(0);
    p += be32(0x20030000) + be32(firstSize) + be32(0) + be32(0);
    p += be32(0) + be32(secondSize) + be32(secondOffset) + be32(0);
    return segment(0xE2, p);
}

// The first image with the MPF segment right after SOI, and the second image after its end.
// The segment's byte-order mark is file byte 2 + 8 = 10, so the second image's offset is its
// place in the file less 10; a wrong one can be given.
QByteArray multiPicture(const QByteArray& first, const QByteArray& second, qint64 offsetError = 0) {
    const quint32 firstSize = quint32(first.size() + 90);
    return first.left(2) +
           mpfSegment(firstSize, quint32(second.size()), quint32(firstSize - 10 + offsetError)) +
           first.mid(2) + second;
}

QString exiftool() {
    return QStandardPaths::findExecutable(QStringLiteral("exiftool"));
}
QByteArray runExiftool(const QStringList& args) {
    QProcess p;
    p.start(exiftool(), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return p.readAllStandardOutput();
}

class KeepQualityCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_config.isValid() && m_files.isValid()); }
    CliRun run(const QStringList& args) { return runCli(args, m_config.path()); }
    QString path(const QString& name) const { return m_files.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_EQ(f.write(bytes), bytes.size());
        return f.fileName();
    }
    // A caption in the top-left corner of a 320 x 240 photo.
    QString captionPattern() { return write("p.xml", pattern({"8,8,KEPT"})); }
    static QByteArray photo(quint32 seed = 3) {
        return EncodeJpeg(makeTestPhoto(320, 240, seed, true), 90);
    }

private:
    QTemporaryDir m_config, m_files;
};

// Pixels outside the caption's corner that differ.
int changedBelowCaption(const QByteArray& a, const QByteArray& b) {
    const QImage x = DecodeImage(a), y = DecodeImage(b);
    if (x.size() != y.size())
        return -1;
    int changed = 0;
    for (int row = 64; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col)
            changed += x.pixel(col, row) != y.pixel(col, row) ? 1 : 0;
    return changed;
}

// The file with its first quantisation table rewritten as 16-bit steps, step `index` set.
QByteArray withQuantStep(const QByteArray& jpeg, int index, int step) {
    const qsizetype at = jpeg.indexOf(QByteArray::fromHex("ffdb"));
    const int length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
    if (length != 67)
        return {};
    QByteArray table(1, char(0x10 | (uchar(jpeg[at + 4]) & 0x0F)));
    for (int k = 0; k < 64; ++k)
        table += be16(quint16(k == index ? step : uchar(jpeg[at + 5 + k])));
    return jpeg.left(at) + segment(0xDB, table) + jpeg.mid(at + 2 + length);
}

} // namespace

TEST_F(KeepQualityCommand, UnusableQuantisationTablesAreEncodedAgainWithANotice) {
    const QString p = captionPattern();
    const QByteArray source = photo();
    QByteArray zero = source;
    zero[source.indexOf(QByteArray::fromHex("ffdb")) + 5 + 9] = 0;
    const QByteArray wide = withQuantStep(source, 2, 8192);
    ASSERT_FALSE(wide.isEmpty());
    const QList<QPair<QByteArray, QString>> cases = {
        {zero, QStringLiteral("JPEG with a quantisation step of 0")},
        {wide, QStringLiteral("JPEG with quantisation steps above 8191")},
    };
    for (const auto& [bytes, reason] : cases) {
        const QString file = write("q.jpg", bytes);
        CliRun r = run({"render", "--pattern", p, "--keep-quality", file});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(file + ": " + reason + "; written by re-encoding."))
            << r.out.toStdString();
        EXPECT_EQ(DecodeImage(ReadFileBytes(file)).size(), QSize(320, 240));

        const QString batched = write("b.jpg", bytes);
        r = run({"batch", "--pattern", p, "--keep-quality", batched});
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(reason)) << r.out.toStdString();
    }

    // 8191 is still usable: captioned in place, the rest of the photo as it was.
    const QByteArray coarse = withQuantStep(source, 2, 8191);
    const QString file = write("c.jpg", coarse);
    const CliRun r = run({"render", "--pattern", p, "--keep-quality", file});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QLatin1String("re-encoding"))) << r.out.toStdString();
    EXPECT_EQ(changedBelowCaption(coarse, ReadFileBytes(file)), 0);
}

TEST_F(KeepQualityCommand, AJpegLackingOnlyItsEndMarkerIsCaptionedInPlace) {
    const QByteArray whole = photo();
    const QString file = write("open.jpg", whole.left(whole.size() - 2));
    const CliRun r = run({"render", "--pattern", captionPattern(), "--keep-quality", file});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QLatin1String("re-encoding"))) << r.out.toStdString();
    const QByteArray out = ReadFileBytes(file);
    EXPECT_TRUE(out.endsWith(QByteArray::fromHex("ffd9")));
    EXPECT_EQ(changedBelowCaption(whole, out), 0);
}

TEST_F(KeepQualityCommand, TheSecondImageOfAMultiPictureFileStaysFindable) {
    if (exiftool().isEmpty())
        GTEST_SKIP() << "exiftool is not installed";
    const QByteArray first = photo(3), second = EncodeJpeg(makeTestPhoto(160, 120, 9), 80);
    const QByteArray source = multiPicture(first, second);
    const QString p = captionPattern();
    // The hand-made file is what exiftool expects.
    write("source.jpg", source);
    ASSERT_TRUE(runExiftool({"-b", "-MPImage2", path("source.jpg")}) == second);

    const QString kept = write("kept.jpg", source);
    CliRun r = run({"render", "--pattern", p, "--keep-quality", kept});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QLatin1String("MPF"))) << r.out.toStdString();
    const QByteArray out = ReadFileBytes(kept);
    EXPECT_NE(out.size(), source.size()); // the caption changed the first image's size
    EXPECT_TRUE(runExiftool({"-b", "-MPImage2", kept}) == second);
    // Both lengths, then both starts (exiftool gives them from the file's start).
    EXPECT_EQ(runExiftool({"-a", "-s3", "-MPImageLength", "-MPImageStart", kept}),
              QStringLiteral("%1\n%2\n0\n%1\n")
                  .arg(out.size() - second.size())
                  .arg(second.size())
                  .toUtf8());
    EXPECT_EQ(runExiftool({"-s3", "-validate", kept}).trimmed(), QByteArray("OK"));
    EXPECT_EQ(changedBelowCaption(first, out.left(out.size() - second.size())), 0);

    // Encoded again, the output is one image, and the user is told.
    const QString encoded = write("encoded.jpg", source);
    r = run({"render", "--pattern", p, encoded});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(encoded + ": re-encoding does not keep 1 more image after the "
                                         "picture (multi-picture file)."))
        << r.out.toStdString();
    EXPECT_TRUE(runExiftool({"-s3", "-MPImageStart", encoded}).isEmpty());
    EXPECT_EQ(runExiftool({"-s3", "-validate", encoded}).trimmed(), QByteArray("OK"));
}

TEST_F(KeepQualityCommand, AnIndexPointingPastTheFileIsLeftOutAndOtherTrailersStay) {
    if (exiftool().isEmpty())
        GTEST_SKIP() << "exiftool is not installed";
    const QString p = captionPattern();
    const QByteArray first = photo(4), second = EncodeJpeg(makeTestPhoto(160, 120, 8), 80);
    // The index lists a second image, but the file ends with the first.
    const QByteArray withIndexOnly = multiPicture(first, second).left(first.size() + 90);
    const QString broken = write("broken.jpg", withIndexOnly);
    CliRun r = run({"render", "--pattern", p, "--keep-quality", broken});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(
        broken + ": its multi-picture (MPF) index does not match the file and is left out."))
        << r.out.toStdString();
    EXPECT_TRUE(runExiftool({"-s3", "-MPFVersion", broken}).isEmpty());
    EXPECT_EQ(runExiftool({"-s3", "-validate", broken}).trimmed(), QByteArray("OK"));

    // Data after the picture with no index (a motion photo's video) is carried as it is.
    const QByteArray video = QByteArray("\0\0\0\x18" "ftypmp42", 12) + QByteArray(3000, '\x5');
    const QString motion = write("motion.jpg", first + video);
    r = run({"render", "--pattern", p, "--keep-quality", motion});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QByteArray out = ReadFileBytes(motion);
    EXPECT_TRUE(out.endsWith(video));
    EXPECT_EQ(changedBelowCaption(first, out.left(out.size() - video.size())), 0);
}

TEST_F(KeepQualityCommand, BricksFarOffThePhotoTouchNoBlock) {
    // Left = INT_MAX: the box's right edge lies past the int range.
    const QString p = write("far.xml", pattern({"2147483647,10,FAR", "-2147483648,10,LEFT",
                                                "10,2147483647,LOW"}));
    // A noisy photo: coding its blocks again shows.
    const QByteArray source = EncodeJpeg(makeTestPhoto(320, 240, 5), 90);
    const QString file = write("far.jpg", source);
    const CliRun r = run({"render", "--pattern", p, "--keep-quality", file});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QImage before = DecodeImage(source), after = DecodeImage(ReadFileBytes(file));
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before);
    // Nothing to caption: the file is written as it was.
    EXPECT_TRUE(ReadFileBytes(file) == source);
}

TEST_F(KeepQualityCommand, AHugePictureInAPatternIsRefusedWithAMessage) {
    // 16384 x 16384, one bit deep: a few kilobytes in the pattern, a gigabyte decoded.
    QImage huge(16384, 16384, QImage::Format_Mono);
    huge.fill(0);
    ASSERT_TRUE(huge.save(path("huge.png"), "PNG"));
    const QByteArray png = ReadFileBytes(path("huge.png"));
    ASSERT_LT(png.size(), 200000);
    const QByteArray data = QByteArray("\x09TPngImage") + png;
    const QString p = write("huge.xml", pattern({"8,8,A"}, pictureBrick(data)));
    const QByteArray source = photo(6);
    const QString file = write("h.jpg", source);
    const CliRun r = run({"render", "--pattern", p, "--keep-quality", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("16384 x 16384")) &&
                r.err.contains(QLatin1String("too large")))
        << r.err.toStdString();
    EXPECT_TRUE(ReadFileBytes(file) == source);
}

namespace {

QImage decodedFile(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? DecodeImage(f.readAll()) : QImage();
}

} // namespace

// Kept or encoded again, a photo gets its own date and field values, and one without a date
// taken is named the same way.
TEST_F(KeepQualityCommand, DatesAndFieldsAreEachPhotosOwnAsWhenEncodedAgain) {
    const QString fields = write("fields.xml", pattern({"8,8,{Date:yyyy} {Model}"}));
    const QString undated = write("undated.jpg", photo());
    const QString shortLine =
        QStringLiteral("undated.jpg: no date taken; dated 01.01.1980 by the settings' default\n");
    CliRun plain = run({"render", "--pattern", fields, "--output", path("plain.jpg"), undated});
    ASSERT_EQ(plain.code, 0) << plain.err.toStdString();
    CliRun kept = run({"render", "--keep-quality", "--pattern", fields, "--output",
                       path("kept.jpg"), undated});
    ASSERT_EQ(kept.code, 0) << kept.err.toStdString();
    ASSERT_TRUE(plain.out.contains(shortLine)) << plain.out.toStdString();
    EXPECT_TRUE(kept.out.contains(shortLine)) << kept.out.toStdString();
    // The stand-in year is drawn, as the literal text draws it.
    const QString literal = write("literal.xml", pattern({"8,8,1980 "}));
    ASSERT_EQ(run({"render", "--keep-quality", "--pattern", literal, "--output",
                   path("literal.jpg"), undated})
                  .code,
              0);
    EXPECT_EQ(decodedFile(path("kept.jpg")), decodedFile(path("literal.jpg")));

    // Left out by the settings: named, and nothing written.
    ASSERT_EQ(run({"settings", "set", "DateFallback", "skip"}).code, 0);
    kept = run({"render", "--keep-quality", "--pattern", fields, "--output", path("skipped.jpg"),
                undated});
    EXPECT_EQ(kept.code, 0) << kept.err.toStdString();
    EXPECT_TRUE(
        kept.out.contains("undated.jpg: no date taken; not written (DateFallback=skip)\n"))
        << kept.out.toStdString();
    EXPECT_FALSE(QFile::exists(path("skipped.jpg")));
    ASSERT_EQ(run({"settings", "set", "DateFallback", "default"}).code, 0);

    // A photo with its own date and model (written by exiftool): the kept write draws them.
    if (exiftool().isEmpty())
        GTEST_SKIP() << "exiftool is not installed";
    const QString dated = write("dated.jpg", photo(5));
    QProcess p;
    p.start(exiftool(), {"-q", "-overwrite_original", "-Model=Cam K",
                         "-DateTimeOriginal=2006:05:02 14:05:09", dated});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0);
    const QString year = QString::fromUtf8(runExiftool({"-s3", "-d", "%Y", "-DateTimeOriginal", dated})).trimmed();
    const QString model = QString::fromUtf8(runExiftool({"-s3", "-Model", dated})).trimmed();
    ASSERT_EQ(year, "2006");
    kept = run({"render", "--keep-quality", "--pattern", fields, "--output", path("dated-kept.jpg"),
                dated});
    ASSERT_EQ(kept.code, 0) << kept.err.toStdString();
    EXPECT_FALSE(kept.out.contains("no date taken")) << kept.out.toStdString();
    const QString own = write("own.xml", pattern({"8,8," + year + " " + model}));
    ASSERT_EQ(run({"render", "--keep-quality", "--pattern", own, "--output",
                   path("dated-literal.jpg"), dated})
                  .code,
              0);
    EXPECT_EQ(decodedFile(path("dated-kept.jpg")), decodedFile(path("dated-literal.jpg")));
    // Kept really: the blocks away from the caption are the source's own.
    QFile source(dated), written(path("dated-kept.jpg"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly) && written.open(QIODevice::ReadOnly));
    EXPECT_EQ(changedBelowCaption(source.readAll(), written.readAll()), 0);
}
