#include "imaging/core/TExif.h"

#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// ---- Hand-built EXIF blocks ----------------------------------------------------------------

// The bytes of a TIFF block laid out at explicit offsets (relative to the TIFF header), in
// either byte order. Gaps are zero-filled.
class Tiff {
public:
    explicit Tiff(bool bigEndian, quint32 ifd0 = 8) : m_be(bigEndian) {
        raw(bigEndian ? QByteArray("MM") : QByteArray("II"));
        u16(42);
        u32(ifd0);
    }
    Tiff& at(quint32 offset) {
        m_pos = offset;
        return *this;
    }
    Tiff& u8(quint8 v) { return raw(QByteArray(1, char(v))); }
    Tiff& u16(quint16 v) { return m_be ? u8(v >> 8).u8(v & 0xFF) : u8(v & 0xFF).u8(v >> 8); }
    Tiff& u32(quint32 v) {
        return m_be ? u16(v >> 16).u16(v & 0xFFFF) : u16(v & 0xFFFF).u16(v >> 16);
    }
    Tiff& raw(const QByteArray& b) {
        if (m_bytes.size() < m_pos + b.size())
            m_bytes.resize(m_pos + b.size(), '\0');
        m_bytes.replace(m_pos, b.size(), b);
        m_pos += b.size();
        return *this;
    }
    // One 12-byte entry whose value field is a 32-bit number in the block's order.
    Tiff& entry(quint16 tag, quint16 type, quint32 count, quint32 value) {
        return u16(tag).u16(type).u32(count).u32(value);
    }
    // One entry whose value field holds the given bytes as they stand (zero-padded to 4).
    Tiff& entryBytes(quint16 tag, quint16 type, quint32 count, const QByteArray& field) {
        u16(tag).u16(type).u32(count);
        return raw(field.leftJustified(4, '\0', true));
    }
    const QByteArray& bytes() const { return m_bytes; }

private:
    bool m_be;
    qsizetype m_pos = 0;
    QByteArray m_bytes;
};

QByteArray bytes(std::initializer_list<int> list) {
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

// FF E1, big-endian length, "Exif\0\0", TIFF block.
QByteArray app1(const QByteArray& tiff) {
    const int length = 2 + 6 + int(tiff.size());
    return bytes({0xFF, 0xE1, length >> 8, length & 0xFF}) + QByteArray("Exif\0\0", 6) + tiff;
}

// What follows the first segment in our fixtures: a quantisation table stub and EOI.
const QByteArray kRest = bytes({0xFF, 0xDB, 0x00, 0x04, 0x01, 0x02, 0xFF, 0xD9});

QByteArray jpeg(const QByteArray& tiff) {
    return bytes({0xFF, 0xD8}) + app1(tiff) + kRest;
}

QByteArray jfif() {
    return bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}) + QByteArray("JFIF\0", 5) +
           bytes({0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00}) + kRest;
}

QString z(const QString& s) {
    return s + QChar(u'\0');
}

QStringList load(const QByteArray& data) {
    TExif exif;
    exif.LoadFromBytes(data);
    return exif.Entries;
}

QString loadError(const QByteArray& data) {
    TExif exif;
    try {
        exif.LoadFromBytes(data);
    } catch (const EExifError& e) {
        EXPECT_TRUE(exif.Segment.isEmpty());
        return e.message();
    }
    return QStringLiteral("(no error)");
}

// A typical camera block: IFD0 (Make, Orientation, XResolution, DateTime, Exif and GPS
// pointers), an Exif IFD with an Interop pointer, a GPS IFD, an Interop IFD and IFD1. Offsets
// are the same in both byte orders.
QByteArray cameraBlock(bool be, quint16 orientation = 6) {
    Tiff t(be);
    t.at(8).u16(6); // IFD0: 8..85
    t.entryBytes(0x010F, 2, 4, QByteArray("Nik\0", 4));
    t.entry(0x0112, 3, 1, 0).at(8 + 2 + 12 + 8).u16(orientation); // SHORT in the field's first half
    t.at(8 + 2 + 24).entry(0x011A, 5, 1, 320);
    t.entry(0x0132, 2, 20, 336);
    t.entry(0x8769, 4, 1, 100);
    t.entry(0x8825, 4, 1, 180);
    t.u32(240); // IFD1

    t.at(100).u16(6); // Exif: 100..177
    t.entry(0x829A, 5, 1, 328);
    t.entryBytes(0x9000, 7, 4, QByteArray("0220"));
    t.entry(0x9003, 2, 20, 356);
    t.entry(0x9C9B, 1, 3, 0).at(100 + 2 + 36 + 8).raw(bytes({1, 2, 255}));
    t.at(100 + 2 + 48).entry(0x9204, 10, 1, 376);
    t.entry(0xA005, 4, 1, 300);
    t.u32(0);

    t.at(180).u16(2); // GPS: 180..209
    t.entryBytes(0x0001, 2, 2, QByteArray("N\0", 2));
    t.entry(0x001D, 2, 11, 384);
    t.u32(0);

    t.at(240).u16(2); // IFD1: 240..269
    t.entry(0x0103, 3, 1, 0).at(240 + 2 + 8).u16(6);
    t.at(240 + 2 + 12).entry(0x0202, 4, 1, 4000);
    t.u32(0);

    t.at(300).u16(1); // Interop: 300..317
    t.entryBytes(0x0001, 2, 4, QByteArray("R98\0", 4));
    t.u32(0);

    t.at(320).u32(72).u32(1); // XResolution
    t.at(328).u32(1).u32(60); // ExposureTime
    t.at(336).raw(QByteArray("2020:01:02 03:04:05\0", 20));
    t.at(356).raw(QByteArray("2019:12:31 23:59:58\0", 20));
    t.at(376).u32(quint32(-1)).u32(3); // ExposureBiasValue -1/3
    t.at(384).raw(QByteArray("2020:01:02\0", 11));
    return t.bytes();
}

const QStringList kCameraLines = {
    z("Make=Nik"),
    "Orientation=6",
    "XResolution=72/1",
    z("DateTime=2020:01:02 03:04:05"),
    "ExposureTime=1/60",
    "ExifVersion=30 32 32 30",
    z("DateTimeOriginal=2019:12:31 23:59:58"),
    "Tag 9C9B=1,2,255",
    "ExposureBiasValue=-1/3",
    z("InteroperabilityIndex=R98"),
    z("GPSLatitudeRef=N"),
    z("Tag 001D=2020:01:02"),
    "Compression=6",
    "JPEGInterchangeFormatLength=4000",
};

// ---- Files on disk ---------------------------------------------------------------------------

QString repoRelative(const QString& relative) {
    return QFileInfo(QStringLiteral(__FILE__))
        .dir()
        .absoluteFilePath(QStringLiteral("../../") + relative);
}

// The camera samples: from the test environment, else beside the clone as ctest would set it.
QString cameraDir() {
    QString dir = sharedTestDataDir();
    if (dir.isEmpty())
        dir = repoRelative(QStringLiteral("../shared/testdata"));
    dir += QStringLiteral("/exif");
    return QFileInfo(dir).isDir() ? QDir(dir).absolutePath() : QString();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(data), data.size());
}

} // namespace

// ---- Header checks and failures ----------------------------------------------------------------

TEST(TExifHeader, FailureMessages) {
    const QByteArray tiff = Tiff(false).at(8).u16(0).u32(0).bytes();
    EXPECT_EQ(loadError(QByteArray()), "Start of image (SOI) not found.");
    EXPECT_EQ(loadError(bytes({0xFF})), "Start of image (SOI) not found.");
    EXPECT_EQ(loadError(QByteArray("BM") + jpeg(tiff)), "Start of image (SOI) not found.");
    EXPECT_EQ(loadError(bytes({0xFF, 0xD8})), "Application segment 1 (APP1) not found.");
    EXPECT_EQ(loadError(jfif()), "Application segment 1 (APP1) not found.");
    EXPECT_EQ(loadError(bytes({0xFF, 0xD8, 0xFF, 0xE1})), "Exif identifier not found.");
    QByteArray badIdent = jpeg(tiff);
    badIdent[10] = 'x'; // second zero of "Exif\0\0"
    EXPECT_EQ(loadError(badIdent), "Exif identifier not found.");
    EXPECT_EQ(loadError(jpeg(QByteArray("IM*\0", 4))), "Byte order not found.");
    EXPECT_EQ(loadError(bytes({0xFF, 0xD8}) + app1(QByteArray())), "Byte order not found.");
    EXPECT_EQ(loadError(jpeg(QByteArray("II\0*", 4))), "0x2A not found."); // MM magic in II
    EXPECT_EQ(loadError(jpeg(QByteArray("MM*\0", 4))), "0x2A not found."); // II magic in MM
    EXPECT_EQ(loadError(jpeg(QByteArray("II", 2))), "0x2A not found.");
}

namespace {
QByteArray chain(quint32 next); // below
} // namespace

// Segments that may come before the Exif one: the JFIF header, an ICC profile, a comment, XMP.
const QByteArray kJfifSegment = jfif().mid(2, 18);
const QByteArray kIccSegment = bytes({0xFF, 0xE2, 0x00, 0x06, 'I', 'C', 'C', '_'});
const QByteArray kComment = bytes({0xFF, 0xFE, 0x00, 0x05, 'h', 'i', '!'});
const QByteArray kXmpSegment = bytes({0xFF, 0xE1, 0x00, 0x0A}) + QByteArray("http:/ns/", 8);

TEST(TExifHeader, ExifAfterOtherLeadingSegmentsIsRead) {
    for (bool be : {false, true}) {
        const QByteArray tiff = cameraBlock(be);
        const QList<QByteArray> heads = {
            kJfifSegment,
            kJfifSegment + kIccSegment + kComment,
            kXmpSegment,
            kJfifSegment + kXmpSegment,
        };
        for (const QByteArray& head : heads) {
            SCOPED_TRACE(head.toHex().toStdString());
            TExif exif;
            exif.LoadFromBytes(bytes({0xFF, 0xD8}) + head + app1(tiff) + kRest);
            EXPECT_EQ(exif.Entries, kCameraLines);
            EXPECT_EQ(exif.Segment, app1(tiff));
            EXPECT_EQ(exif.TiffBase, 2 + head.size() + 10);
            EXPECT_EQ(exif.BigEndian, be);
        }
    }
    // Of two Exif segments the first is read.
    const QByteArray two =
        bytes({0xFF, 0xD8}) + kJfifSegment + app1(chain(40)) + app1(cameraBlock(false)) + kRest;
    EXPECT_EQ(load(two), QStringList({"ImageWidth=1", "ImageLength=2"}));
}

TEST(TExifHeader, ExifOutsideTheLeadingSegmentsIsNotRead) {
    const QByteArray tiff = cameraBlock(false);
    // After the first table the image data begins: an Exif segment there is not the file's.
    EXPECT_EQ(loadError(bytes({0xFF, 0xD8}) + kJfifSegment + kRest.left(6) + app1(tiff)),
              "Application segment 1 (APP1) not found.");
    // A JFIF header whose length is below its own two bytes ends the search.
    QByteArray broken = bytes({0xFF, 0xD8}) + kJfifSegment + app1(tiff) + kRest;
    broken[5] = 1;
    EXPECT_EQ(loadError(broken), "Application segment 1 (APP1) not found.");
    // JFIF and XMP only: no EXIF, and the message stays that of a file without APP1 first.
    EXPECT_EQ(loadError(bytes({0xFF, 0xD8}) + kJfifSegment + kXmpSegment + kRest),
              "Application segment 1 (APP1) not found.");
    EXPECT_EQ(loadError(bytes({0xFF, 0xD8}) + kXmpSegment + kJfifSegment + kRest),
              "Exif identifier not found.");
}

TEST(TExifHeader, FailureClearsAnEarlierRead) {
    TExif exif;
    exif.LoadFromBytes(jpeg(cameraBlock(false)));
    ASSERT_FALSE(exif.Entries.isEmpty());
    EXPECT_THROW(exif.LoadFromBytes(jfif()), EExifError);
    EXPECT_TRUE(exif.Entries.isEmpty());
    EXPECT_TRUE(exif.Segment.isEmpty());
}

TEST(TExifHeader, HeaderFieldsAndSegment) {
    for (bool be : {false, true}) {
        const QByteArray tiff = cameraBlock(be);
        TExif exif;
        exif.LoadFromBytes(jpeg(tiff));
        EXPECT_EQ(exif.BigEndian, be);
        EXPECT_EQ(exif.TiffBase, 12);
        EXPECT_EQ(exif.Segment, app1(tiff));
    }
}

// ---- Walk and value texts
// -------------------------------------------------------------------------

TEST(TExifWalk, CameraBlockInBothByteOrders) {
    EXPECT_EQ(load(jpeg(cameraBlock(false))), kCameraLines);
    EXPECT_EQ(load(jpeg(cameraBlock(true))), kCameraLines);
}

TEST(TExifWalk, AsciiKeepsItsZeroByte) {
    const QStringList lines = load(jpeg(cameraBlock(false)));
    const QString dateTime = lines.at(3);
    ASSERT_EQ(dateTime.size(), QString("DateTime=").size() + 20);
    EXPECT_EQ(dateTime.back(), QChar(u'\0'));
}

TEST(TExifWalk, InlineLimitsPerType) {
    for (bool be : {false, true}) {
        Tiff t(be);
        t.at(8).u16(9);
        t.entryBytes(0x0100, 1, 4, bytes({9, 8, 7, 6}));             // BYTE, 4 inline
        t.entry(0x0101, 1, 5, 200);                                  // BYTE, 5 from offset
        t.entryBytes(0x010E, 2, 4, QByteArray("abcd"));              // ASCII, 4 inline, no zero
        t.entry(0x0110, 2, 5, 210);                                  // ASCII, 5 from offset
        t.entry(0x0102, 3, 2, 0).at(8 + 2 + 48 + 8).u16(8).u16(16);  // SHORT, 2 inline
        t.at(8 + 2 + 60).entry(0x0103, 3, 3, 220);                   // SHORT, 3 from offset
        t.entryBytes(0x9286, 7, 4, bytes({0x00, 0x0A, 0xFF, 0x7F})); // UNDEFINED, 4 inline
        t.entry(0x927C, 7, 5, 230);                                  // UNDEFINED, 5 from offset
        t.entry(0x0111, 4, 2, 240);                                  // LONG, 2 from offset
        t.u32(0);
        t.at(200).raw(bytes({1, 2, 3, 4, 5}));
        t.at(210).raw(QByteArray("hello", 5));
        t.at(220).u16(1).u16(65535).u16(3);
        t.at(230).raw(bytes({0xAB, 0xCD, 0xEF, 0x01, 0x23}));
        t.at(240).u32(0xFFFFFFFF).u32(7);
        const QStringList expected = {
            "ImageWidth=9,8,7,6",        "ImageLength=1,2,3,4,5",
            "ImageDescription=abcd",     "Model=hello",
            "BitsPerSample=8,16",        "Compression=1,65535,3",
            "UserComment=00 0A FF 7F",   "MakerNote=AB CD EF 01 23",
            "StripOffsets=4294967295,7",
        };
        EXPECT_EQ(load(jpeg(t.bytes())), expected) << (be ? "MM" : "II");
    }
}

TEST(TExifWalk, LongAndSignedLongUseTheValueFieldUpToOneComponent) {
    Tiff t(true);
    t.at(8).u16(6);
    t.entry(0x0100, 4, 1, 4000000000u);
    t.entry(0x0101, 4, 0, 17); // count 0 still gives the field
    t.entry(0x0102, 9, 1, 0xFFFFFFFE);
    t.entry(0x0103, 9, 0, 5);
    t.entry(0x0106, 9, 2, 100);
    t.entry(0x0112, 9, 1, 0x7FFFFFFF);
    t.u32(0);
    t.at(100).u32(quint32(-2147483647 - 1)).u32(12);
    const QStringList expected = {"ImageWidth=4000000000",
                                  "ImageLength=17",
                                  "BitsPerSample=-2",
                                  "Compression=5",
                                  "PhotometricInterpretation=-2147483648,12",
                                  "Orientation=2147483647"};
    EXPECT_EQ(load(jpeg(t.bytes())), expected);
}

TEST(TExifWalk, RationalsAreNeverInline) {
    Tiff t(false);
    t.at(8).u16(4);
    t.entry(0x011A, 5, 1, 100);
    t.entry(0x011B, 5, 2, 108);
    t.entry(0x9204, 10, 2, 124);
    t.entry(0x9201, 5, 0, 100); // no components
    t.u32(0);
    t.at(100).u32(72).u32(1);
    t.at(108).u32(4294967295u).u32(0).u32(3).u32(2);
    t.at(124).u32(quint32(-7)).u32(quint32(-2)).u32(0x80000000u).u32(1);
    const QStringList expected = {"XResolution=72/1", "YResolution=4294967295/0,3/2",
                                  "ExposureBiasValue=-7/-2,-2147483648/1", "ShutterSpeedValue="};
    EXPECT_EQ(load(jpeg(t.bytes())), expected);
}

TEST(TExifWalk, EmptyAndUndecodedValues) {
    Tiff t(false);
    t.at(8).u16(9);
    t.entry(0x0100, 1, 0, 0x01020304);
    t.entry(0x010E, 2, 0, 0x41414141);
    t.entry(0x0102, 3, 0, 0x00050005);
    t.entry(0x9000, 7, 0, 0x30303030);
    t.entry(0x0103, 6, 1, 1);
    t.entry(0x0106, 8, 1, 1);
    t.entry(0x0115, 11, 1, 1);
    t.entry(0x0116, 12, 1, 100);
    t.entry(0x0117, 0, 1, 1);
    t.u32(0);
    const QStringList expected = {
        "ImageWidth=",      "ImageDescription=", "BitsPerSample=",
        "ExifVersion=",     "Compression=",      "PhotometricInterpretation=",
        "SamplesPerPixel=", "RowsPerStrip=",     "StripByteCounts="};
    EXPECT_EQ(load(jpeg(t.bytes())), expected);
}

TEST(TExifWalk, EmptyDirectory) {
    TExif exif;
    exif.LoadFromBytes(jpeg(Tiff(false).at(8).u16(0).u32(0).bytes()));
    EXPECT_TRUE(exif.Entries.isEmpty());
    EXPECT_FALSE(exif.Segment.isEmpty());
}

// ---- Directory chains
// -----------------------------------------------------------------------------

namespace {
// IFD0 with one entry, chained to a second directory at `next` (which holds ImageLength=2 when
// it lies at offset 40).
QByteArray chain(quint32 next) {
    Tiff t(false);
    t.at(8).u16(1).entry(0x0100, 4, 1, 1).u32(next);
    t.at(40).u16(1).entry(0x0101, 4, 1, 2).u32(0);
    return t.bytes();
}
} // namespace

TEST(TExifChain, NextOffsetsEndingTheChain) {
    EXPECT_EQ(load(jpeg(chain(40))), QStringList({"ImageWidth=1", "ImageLength=2"}));
    EXPECT_EQ(load(jpeg(chain(0))), QStringList({"ImageWidth=1"}));
    EXPECT_EQ(load(jpeg(chain(65535))), QStringList({"ImageWidth=1"}));
    EXPECT_EQ(load(jpeg(chain(0xFFFFFFFF))), QStringList({"ImageWidth=1"}));
}

TEST(TExifChain, LastOffsetBelowTheLimitIsFollowed) {
    // 65534 is the greatest next-directory offset that is followed.
    Tiff t(false);
    t.at(8).u16(1).entry(0x0100, 4, 1, 1).u32(65534);
    t.at(65534).u16(1).entry(0x0101, 4, 1, 9).u32(0);
    // The APP1 length field cannot describe such a block, but the walk reads the file as it is.
    EXPECT_EQ(load(bytes({0xFF, 0xD8}) + app1(t.bytes())),
              QStringList({"ImageWidth=1", "ImageLength=9"}));
}

TEST(TExifChain, ChainedDirectoriesKeepTheirKind) {
    Tiff t(false);
    t.at(8).u16(1).entry(0x8825, 4, 1, 40).u32(0);
    t.at(40).u16(1).entry(0x0001, 2, 2, 0).u32(80);
    t.at(40 + 2 + 8).raw(QByteArray("S\0", 2));
    t.at(80).u16(1).entry(0x0002, 5, 1, 120).u32(0);
    t.at(120).u32(51).u32(1);
    EXPECT_EQ(load(jpeg(t.bytes())), QStringList({z("GPSLatitudeRef=S"), "GPSLatitude=51/1"}));
}

// ---- Hostile data
// ---------------------------------------------------------------------------------

TEST(TExifHostile, DirectoryPointingToItself) {
    Tiff t(false);
    t.at(8).u16(1).entry(0x0100, 4, 1, 1).u32(8);
    EXPECT_EQ(load(jpeg(t.bytes())), QStringList({"ImageWidth=1"}));
}

TEST(TExifHostile, TwoDirectoriesChainedInACircle) {
    Tiff t(false);
    t.at(8).u16(1).entry(0x0100, 4, 1, 1).u32(40);
    t.at(40).u16(1).entry(0x0101, 4, 1, 2).u32(8);
    EXPECT_EQ(load(jpeg(t.bytes())), QStringList({"ImageWidth=1", "ImageLength=2"}));
}

TEST(TExifHostile, PointersBackToAnEarlierDirectory) {
    Tiff t(true);
    t.at(8).u16(2).entry(0x0100, 4, 1, 1).entry(0x8769, 4, 1, 40).u32(0);
    t.at(40).u16(3).entry(0x829D, 4, 1, 3).entry(0x8769, 4, 1, 8).entry(0xA005, 4, 1, 40).u32(8);
    EXPECT_EQ(load(jpeg(t.bytes())), QStringList({"ImageWidth=1", "FNumber=3"}));
}

TEST(TExifHostile, GpsPointerToTheExifDirectory) {
    // The GPS pointer names the Exif directory already read: it is not read a second time.
    Tiff t(false);
    t.at(8).u16(2).entry(0x8769, 4, 1, 40).entry(0x8825, 4, 0, 40).u32(0);
    t.at(40).u16(1).entry(0x0001, 4, 1, 7).u32(0);
    EXPECT_EQ(load(jpeg(t.bytes())), QStringList({"Tag 0001=7"}));
}

TEST(TExifHostile, DeepPointerNestingStops) {
    // 40 Exif directories, each with one line and a pointer to the next: the walk goes only so
    // deep, but deep enough for real files (IFD0, Exif, Interop).
    Tiff t(false);
    t.at(8).u16(1).entry(0x8769, 4, 1, 40).u32(0);
    QStringList all;
    for (quint32 i = 0; i < 40; ++i) {
        t.at(40 + 40 * i).u16(2).entry(0x0100, 4, 1, i).entry(0x8769, 4, 1, 40 + 40 * (i + 1));
        t.u32(0);
        all << QStringLiteral("ImageWidth=%1").arg(i);
    }
    TExif exif;
    exif.LoadFromBytes(jpeg(t.bytes()));
    EXPECT_GE(exif.Entries.size(), 3);
    EXPECT_LT(exif.Entries.size(), 40);
    EXPECT_EQ(exif.Entries, all.mid(0, exif.Entries.size()));
    EXPECT_FALSE(exif.Segment.isEmpty());
}

TEST(TExifHostile, HugeCountsAreBoundedByTheData) {
    for (quint16 type : {1, 2, 3, 4, 5, 7, 9, 10}) {
        Tiff t(false);
        t.at(8).u16(1).entry(0x0100, type, 0xFFFFFFFF, 26).u32(0);
        t.at(26).raw(bytes({1, 0, 0, 0, 2, 0, 0, 0})); // 8 bytes, then the data ends
        const QByteArray data = bytes({0xFF, 0xD8}) + app1(t.bytes());
        const QStringList lines = load(data);
        ASSERT_EQ(lines.size(), 1) << "type " << type;
        const QString value = lines[0].mid(QString("ImageWidth=").size());
        switch (type) {
        case 1:
            EXPECT_EQ(value, "1,0,0,0,2,0,0,0");
            break;
        case 2:
            EXPECT_EQ(value, QString::fromLatin1(bytes({1, 0, 0, 0, 2, 0, 0, 0})));
            break;
        case 3:
            EXPECT_EQ(value, "1,0,2,0");
            break;
        case 4:
        case 9:
            EXPECT_EQ(value, "1,2");
            break;
        case 5:
        case 10:
            EXPECT_EQ(value, "1/2");
            break;
        case 7:
            EXPECT_EQ(value, "01 00 00 00 02 00 00 00");
            break;
        }
    }
}

TEST(TExifHostile, ComponentsPastTheEndAreLeftOut) {
    // Three SHORTs wanted, one and a half present.
    Tiff t(true);
    t.at(8).u16(1).entry(0x0102, 3, 3, 26).u32(0);
    t.at(26).u16(300).u8(1);
    EXPECT_EQ(load(bytes({0xFF, 0xD8}) + app1(t.bytes())), QStringList({"BitsPerSample=300"}));
}

TEST(TExifHostile, ValueOffsetsPastTheData) {
    Tiff t(false);
    t.at(8).u16(4);
    t.entry(0x010F, 2, 20, 5000);
    t.entry(0x011A, 5, 1, 0xFFFFFFF8);
    t.entry(0x0111, 4, 3, 0x7FFFFFFF);
    t.entry(0x9000, 7, 10, 0xFFFFFFFF);
    t.u32(0);
    EXPECT_EQ(load(jpeg(t.bytes())),
              QStringList({"Make=", "XResolution=", "StripOffsets=", "ExifVersion="}));
}

TEST(TExifHostile, DirectoryOffsetsPastTheData) {
    Tiff t(false);
    t.at(8).u16(3);
    t.entry(0x8769, 4, 1, 0xFFFFFFFF).entry(0x8825, 4, 1, 60000).entry(0x0100, 4, 1, 5);
    t.u32(60000);
    EXPECT_EQ(load(jpeg(t.bytes())), QStringList({"ImageWidth=5"}));
    EXPECT_EQ(load(jpeg(Tiff(true, 0xFFFFFFFF).bytes())), QStringList());
}

TEST(TExifHostile, HugeEntryCountInASmallFile) {
    Tiff t(false);
    t.at(8).u16(65535).entry(0x0100, 4, 1, 1).entry(0x0101, 4, 1, 2).raw("xyz");
    const QByteArray data = bytes({0xFF, 0xD8}) + app1(t.bytes());
    // The two whole entries are read; the cut third one and everything after it are not.
    EXPECT_EQ(load(data), QStringList({"ImageWidth=1", "ImageLength=2"}));
}

TEST(TExifHostile, HugeValuesInManyEntriesStayWithinTheBudget) {
    // Every entry asks for the whole block as its value: unbounded, the walk would format
    // 5000 times 65000 numbers.
    Tiff t(false);
    const int n = 5000;
    t.at(8).u16(n);
    for (int i = 0; i < n; ++i)
        t.entry(0x0100, 1, 0xFFFFFFFF, 0);
    t.u32(0);
    QByteArray block = t.bytes();
    block.resize(65000, 'x');
    const QStringList lines = load(jpeg(block));
    EXPECT_LT(lines.size(), 100);
    qint64 chars = 0;
    for (const QString& line : lines)
        chars += line.size();
    EXPECT_LT(chars, 16 << 20);
}

TEST(TExifHostile, FullSegmentOfEntriesIsRead) {
    // The walk's bounds leave a block that fills a whole APP1 segment intact.
    Tiff t(true);
    const int n = 5400;
    t.at(8).u16(n);
    QStringList expected;
    for (int i = 0; i < n; ++i) {
        t.entry(0x0100, 3, 1, quint32(i) << 16);
        expected << QStringLiteral("ImageWidth=%1").arg(i);
    }
    t.u32(0);
    ASSERT_LE(t.bytes().size() + 8, 65535);
    EXPECT_EQ(load(jpeg(t.bytes())), expected);
}

TEST(TExifHostile, TruncatedFiles) {
    const QByteArray whole = jpeg(cameraBlock(false));
    for (int size = 0; size < whole.size(); ++size) {
        SCOPED_TRACE(size);
        TExif exif;
        try {
            exif.LoadFromBytes(whole.left(size));
        } catch (const EExifError&) {
            EXPECT_LT(size, 16) << "the header ends with the magic number at bytes 14..15";
            continue;
        }
        // Every line is one of the whole file's lines or a cut-off start of one.
        for (const QString& line : exif.Entries) {
            const bool known =
                std::any_of(kCameraLines.begin(), kCameraLines.end(),
                            [&line](const QString& l) { return l.startsWith(line); });
            EXPECT_TRUE(known) << line.toStdString();
        }
        // The segment ends where the stub after it begins; a cut one is not kept.
        EXPECT_EQ(exif.Segment.isEmpty(), size < whole.size() - kRest.size());
    }
}

TEST(TExifHostile, SegmentLengthBelowItsOwnSize) {
    for (int length : {0, 1}) {
        QByteArray data = jpeg(cameraBlock(false));
        data[4] = 0;
        data[5] = char(length);
        TExif exif;
        exif.LoadFromBytes(data);
        EXPECT_EQ(exif.Entries, kCameraLines);
        EXPECT_TRUE(exif.Segment.isEmpty()) << length;
    }
    // A length of 2 is a valid (empty) segment of its own.
    QByteArray data = jpeg(cameraBlock(false));
    data[4] = 0;
    data[5] = 2;
    TExif exif;
    exif.LoadFromBytes(data);
    EXPECT_EQ(exif.Segment, bytes({0xFF, 0xE1, 0x00, 0x02}));
}

// ---- Orientation and lookup by tag
// ----------------------------------------------------------------

TEST(TExifOrientation, SetInPlaceInBothByteOrders) {
    for (bool be : {false, true}) {
        SCOPED_TRACE(be ? "MM" : "II");
        const QByteArray data = bytes({0xFF, 0xD8}) + kJfifSegment + app1(cameraBlock(be)) + kRest;
        TExif exif;
        exif.LoadFromBytes(data);
        EXPECT_EQ(exif.Orientation, 6u);
        ASSERT_TRUE(exif.SetOrientation(1));
        EXPECT_EQ(exif.Orientation, 1u);
        // The same block built with 1 in the first place: only those bytes differ.
        EXPECT_EQ(exif.Segment, app1(cameraBlock(be, 1)));
        QStringList lines = kCameraLines;
        lines[1] = "Orientation=1";
        EXPECT_EQ(exif.Entries, lines);
        TExif again;
        again.LoadFromBytes(bytes({0xFF, 0xD8}) + exif.Segment + kRest);
        EXPECT_EQ(again.Entries, lines);
    }
}

TEST(TExifOrientation, LongAndSignedForms) {
    for (quint16 type : {4, 9}) {
        Tiff t(true);
        t.at(8).u16(2).entry(0x0100, 4, 1, 640).entry(0x0112, type, 1, 8).u32(0);
        TExif exif;
        exif.LoadFromBytes(jpeg(t.bytes()));
        EXPECT_EQ(exif.Orientation, 8u);
        ASSERT_TRUE(exif.SetOrientation(1));
        Tiff expected(true);
        expected.at(8).u16(2).entry(0x0100, 4, 1, 640).entry(0x0112, type, 1, 1).u32(0);
        EXPECT_EQ(exif.Segment, app1(expected.bytes()));
        EXPECT_EQ(exif.Entries, QStringList({"ImageWidth=640", "Orientation=1"}));
    }
}

TEST(TExifOrientation, OnlyIfd0sSingleNumberCounts) {
    // In IFD1 (the thumbnail's), as text, with two components, in the Exif directory: none is
    // the picture's orientation, and nothing is changed.
    Tiff t(false);
    t.at(8).u16(3);
    t.entryBytes(0x0112, 2, 2, QByteArray("6\0", 2));
    t.entry(0x0112, 3, 2, 0x00060006);
    t.entry(0x8769, 4, 1, 60);
    t.u32(100);
    t.at(60).u16(1).entry(0x0112, 3, 1, 6).u32(0);
    t.at(100).u16(1).entry(0x0112, 3, 1, 6).u32(0);
    TExif exif;
    exif.LoadFromBytes(jpeg(t.bytes()));
    EXPECT_EQ(exif.Entries.size(), 4);
    EXPECT_EQ(exif.Orientation, 0u);
    EXPECT_FALSE(exif.SetOrientation(1));
    EXPECT_EQ(exif.Segment, app1(t.bytes()));
    // Without a kept segment there is nothing to change either.
    QByteArray cut = jpeg(cameraBlock(false));
    cut.chop(kRest.size() + 1);
    TExif partial;
    partial.LoadFromBytes(cut);
    EXPECT_EQ(partial.Orientation, 6u);
    EXPECT_FALSE(partial.SetOrientation(1));
}

TEST(TExifValues, ByTagInTheMainAndExifDirectories) {
    const QByteArray data = jpeg(cameraBlock(true));
    TExif exif;
    exif.LoadFromBytes(data);
    EXPECT_EQ(exif.Values(0x0132), QStringList({z("2020:01:02 03:04:05")}));
    EXPECT_EQ(exif.Values(0x9003), QStringList({z("2019:12:31 23:59:58")}));
    EXPECT_EQ(exif.Values(0x0103), QStringList({"6"})); // IFD1 is a main directory too
    EXPECT_EQ(exif.Values(0x9004), QStringList());
    // GPS and Interop tags share numbers with main ones but are not theirs.
    EXPECT_EQ(exif.Values(0x0001), QStringList());
    EXPECT_EQ(exif.Values(0x001D), QStringList());
}

// ---- Tag names
// ------------------------------------------------------------------------------------

TEST(TExifTagName, Tables) {
    EXPECT_EQ(TExif::TagName(ikMain, 0x0100), "ImageWidth");
    EXPECT_EQ(TExif::TagName(ikExif, 0xA302), "CFAPattern");
    EXPECT_EQ(TExif::TagName(ikExif, 0x010F), "Make");
    EXPECT_EQ(TExif::TagName(ikMain, 0x9003), "DateTimeOriginal");
    EXPECT_EQ(TExif::TagName(ikMain, 0xA210), "FicalPlaneResolutionUnit");
    EXPECT_EQ(TExif::TagName(ikMain, 0x8769), "Exif IFD");
    EXPECT_EQ(TExif::TagName(ikMain, 0x8825), "GPS Info Pointer");
    EXPECT_EQ(TExif::TagName(ikMain, 0xA005), "Interoperability IFD Pointer");
    EXPECT_EQ(TExif::TagName(ikGps, 0x0000), "GPSVersionID");
    EXPECT_EQ(TExif::TagName(ikGps, 0x001A), "GPSDestDistance");
    EXPECT_EQ(TExif::TagName(ikInterop, 0x0001), "InteroperabilityIndex");
    EXPECT_EQ(TExif::TagName(ikInterop, 0x1002), "RelatedImageLength");
}

TEST(TExifTagName, UnknownTagsGetHexNames) {
    EXPECT_EQ(TExif::TagName(ikMain, 0x9C9B), "Tag 9C9B");
    EXPECT_EQ(TExif::TagName(ikMain, 0x0000), "Tag 0000");
    EXPECT_EQ(TExif::TagName(ikExif, 0xFFFF), "Tag FFFF");
    EXPECT_EQ(TExif::TagName(ikMain, 0x0001), "Tag 0001"); // a GPS and Interop name only
    EXPECT_EQ(TExif::TagName(ikGps, 0x001B), "Tag 001B");
    EXPECT_EQ(TExif::TagName(ikGps, 0x010F), "Tag 010F");
    EXPECT_EQ(TExif::TagName(ikInterop, 0x0003), "Tag 0003");
    EXPECT_EQ(TExif::TagName(ikInterop, 0x0a0b), "Tag 0A0B");
}

TEST(TExifTagName, MainTableHasSeventyFourNames) {
    int named = 0;
    for (int tag = 0; tag <= 0xFFFF; ++tag)
        named += !TExif::TagName(ikMain, quint16(tag)).startsWith("Tag ");
    EXPECT_EQ(named, 74);
    named = 0;
    for (int tag = 0; tag <= 0xFFFF; ++tag)
        named += !TExif::TagName(ikGps, quint16(tag)).startsWith("Tag ");
    EXPECT_EQ(named, 27);
    named = 0;
    for (int tag = 0; tag <= 0xFFFF; ++tag)
        named += !TExif::TagName(ikInterop, quint16(tag)).startsWith("Tag ");
    EXPECT_EQ(named, 5);
}

// ---- Files
// ------------------------------------------------------------------------------------------

TEST(TExifFile, LoadFromJpegMatchesLoadFromBytes) {
    QTemporaryDir dir;
    const QString path = dir.filePath("photo.jpg");
    const QByteArray data = jpeg(cameraBlock(true));
    writeFile(path, data);
    TExif exif;
    exif.LoadFromJpeg(path);
    EXPECT_EQ(exif.Entries, kCameraLines);
    EXPECT_EQ(exif.Segment, app1(cameraBlock(true)));
    EXPECT_TRUE(exif.BigEndian);
}

TEST(TExifFile, MissingFileRaisesOpenError) {
    QTemporaryDir dir;
    const QString path = dir.filePath("none.jpg");
    TExif exif;
    try {
        exif.LoadFromJpeg(path);
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_TRUE(e.message().startsWith("Cannot open file \"" + path + "\". ")) << e.what();
    }
    EXPECT_THROW(exif.LoadFromJpeg(dir.path()), EFOpenError);
}

class TExifWrite : public ::testing::Test {
protected:
    QTemporaryDir dir;
    TExif source;
    void SetUp() override { source.LoadFromBytes(jpeg(cameraBlock(false))); }
    // Writes data to a fresh file, runs the write, returns the message of any failure.
    QString writeInto(const QByteArray& data, QString* path = nullptr) {
        const QString p = dir.filePath("target.jpg");
        QFile::remove(p);
        writeFile(p, data);
        if (path)
            *path = p;
        try {
            source.WriteIntoJpeg(p);
        } catch (const Exception& e) {
            return e.message();
        }
        return {};
    }
};

TEST_F(TExifWrite, GoesAfterTheJfifHeader) {
    QString path;
    ASSERT_EQ(writeInto(jfif(), &path), "");
    EXPECT_EQ(readFile(path),
              bytes({0xFF, 0xD8}) + kJfifSegment + app1(cameraBlock(false)) + kRest);
    TExif again;
    again.LoadFromJpeg(path);
    EXPECT_EQ(again.Entries, kCameraLines);
}

TEST_F(TExifWrite, ReplacesTheExifSegmentAfterOtherSegments) {
    const QByteArray head = bytes({0xFF, 0xD8}) + kJfifSegment + kIccSegment + kXmpSegment;
    QString path;
    ASSERT_EQ(writeInto(head + app1(chain(40)) + kComment + kRest, &path), "");
    EXPECT_EQ(readFile(path), head + app1(cameraBlock(false)) + kComment + kRest);
}

TEST_F(TExifWrite, GoesAfterSoiWithoutJfifHeader) {
    // Other leading segments stay behind it; only a JFIF header must stay first.
    const struct {
        QByteArray rest;
    } cases[] = {{kRest},
                 {kIccSegment + kRest},
                 {kXmpSegment + kComment + kRest},
                 {bytes({0xFF, 0xE2, 0x00, 0x02})}};
    for (const auto& c : cases) {
        QString path;
        ASSERT_EQ(writeInto(bytes({0xFF, 0xD8}) + c.rest, &path), "");
        EXPECT_EQ(readFile(path), bytes({0xFF, 0xD8}) + app1(cameraBlock(false)) + c.rest);
    }
    // A JFIF header that is not the first segment is not one to keep first.
    QString path;
    ASSERT_EQ(writeInto(bytes({0xFF, 0xD8}) + kIccSegment + kJfifSegment + kRest, &path), "");
    EXPECT_EQ(readFile(path),
              bytes({0xFF, 0xD8}) + app1(cameraBlock(false)) + kIccSegment + kJfifSegment + kRest);
}

TEST_F(TExifWrite, ReplacesExifSegment) {
    const QByteArray target = bytes({0xFF, 0xD8}) + app1(chain(40)) + kRest;
    QString path;
    ASSERT_EQ(writeInto(target, &path), "");
    EXPECT_EQ(readFile(path), bytes({0xFF, 0xD8}) + app1(cameraBlock(false)) + kRest);
}

TEST_F(TExifWrite, EmptyRestAndPermissionsKept) {
    const QByteArray target = bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02});
    QString path;
    writeFile(dir.filePath("target.jpg"), target);
    path = dir.filePath("target.jpg");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    source.WriteIntoJpeg(path);
    EXPECT_EQ(readFile(path), target + app1(cameraBlock(false)));
    EXPECT_EQ(QFile::permissions(path) & 0x7077,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"target.jpg"}));
}

TEST_F(TExifWrite, FailuresLeaveTheTargetAlone) {
    const QByteArray bmp = QByteArray("BM") + QByteArray(60, '\x11');
    const struct {
        QByteArray target;
        const char* message;
    } cases[] = {
        {bmp, "Start of image (SOI) not found."},
        {QByteArray(), "Start of image (SOI) not found."},
        {bytes({0xFF, 0xD8}), "JFIF or APP1 segment not found."},
        {bytes({0xFF, 0xD8, 0x00, 0xDB, 0x00, 0x04, 0x01, 0x02}),
         "JFIF or APP1 segment not found."},
        // A broken segment further on, before the Exif one or none.
        {bytes({0xFF, 0xD8}) + kJfifSegment + bytes({0xFF, 0xE2, 0x00, 0x09, 0x01}),
         "JFIF or APP1 segment not found."},
        {bytes({0xFF, 0xD8}) + kJfifSegment + bytes({0x12, 0x34}) + kRest,
         "JFIF or APP1 segment not found."},
        // First segments that are cut or whose length is below its own two bytes.
        {bytes({0xFF, 0xD8, 0xFF, 0xE0}), "JFIF or APP1 segment not found."},
        {bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00}), "JFIF or APP1 segment not found."},
        {bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00, 0xFF, 0xD9}),
         "JFIF or APP1 segment not found."},
        {bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0xFF, 0xD9}),
         "JFIF or APP1 segment not found."},
        {bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A}), "JFIF or APP1 segment not found."},
    };
    for (const auto& c : cases) {
        QString path;
        EXPECT_EQ(writeInto(c.target, &path), c.message) << c.target.toHex().toStdString();
        EXPECT_EQ(readFile(path), c.target);
    }
}

TEST_F(TExifWrite, EmptySegmentIsRefusedFirst) {
    TExif empty;
    QString path = dir.filePath("target.jpg");
    writeFile(path, jfif());
    try {
        empty.WriteIntoJpeg(path);
        FAIL() << "no error";
    } catch (const EExifError& e) {
        EXPECT_EQ(e.message(), "Exif information is empty.");
    }
    // Also before the target is even opened.
    EXPECT_THROW(empty.WriteIntoJpeg(dir.filePath("missing.jpg")), EExifError);
    EXPECT_EQ(readFile(path), jfif());
}

TEST_F(TExifWrite, TruncatedSourceKeepsNoSegment) {
    const QByteArray whole = jpeg(cameraBlock(false));
    TExif cut;
    cut.LoadFromBytes(whole.left(whole.size() - kRest.size() - 1));
    EXPECT_FALSE(cut.Entries.isEmpty());
    QString path = dir.filePath("target.jpg");
    writeFile(path, jfif());
    EXPECT_THROW(cut.WriteIntoJpeg(path), EExifError);
    EXPECT_EQ(readFile(path), jfif());
}

TEST_F(TExifWrite, MissingTargetRaisesOpenError) {
    EXPECT_THROW(source.WriteIntoJpeg(dir.filePath("missing.jpg")), EFOpenError);
    EXPECT_FALSE(QFile::exists(dir.filePath("missing.jpg")));
}

TEST_F(TExifWrite, UnwritableFolderRaisesCreateErrorAndKeepsTheFile) {
    const QString sub = dir.filePath("locked");
    ASSERT_TRUE(QDir().mkdir(sub));
    const QString path = sub + "/target.jpg";
    writeFile(path, jfif());
    const auto readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const auto enterable = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(dir.path(), readable | enterable | QFile::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(sub, readable | enterable));
    ASSERT_TRUE(QFile::setPermissions(path, readable | QFile::WriteOwner));
    if (geteuid() != 0) {
        EXPECT_THROW(source.WriteIntoJpeg(path), EFCreateError);
    } else {
        // Folder permissions do not bind the super-user: the write runs as nobody in a child.
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            int code = 3;
            if (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0) {
                try {
                    source.WriteIntoJpeg(path);
                    code = 1;
                } catch (const EFCreateError&) {
                    code = 0;
                } catch (...) {
                    code = 2;
                }
            }
            _exit(code);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: written, 2: another error, 3: no nobody";
    }
    QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(readFile(path), jfif());
}

// ---- Camera files
// ------------------------------------------------------------------------------------

namespace {

struct Reference {
    QString file;
    std::map<QString, QString> cells;
};

std::vector<Reference> readReference(const QString& path) {
    QFile f(path);
    std::vector<Reference> rows;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return rows;
    QTextStream in(&f);
    const QStringList header = in.readLine().split('\t');
    while (!in.atEnd()) {
        const QStringList cells = in.readLine().split('\t');
        if (cells.size() != header.size())
            continue;
        Reference r{cells[0], {}};
        for (int i = 1; i < header.size(); ++i)
            r.cells[header[i]] = cells[i];
        rows.push_back(r);
    }
    return rows;
}

// The value of the first line with that name, or a null string.
QString firstValue(const QStringList& lines, const QString& name) {
    for (const QString& line : lines)
        if (line.startsWith(name + '='))
            return line.mid(name.size() + 1);
    return {};
}

// The reference strips trailing blanks and zero bytes from strings.
QString trimmed(QString s) {
    while (!s.isEmpty() && (s.back() == QChar(u'\0') || s.back() == QChar(u' ')))
        s.chop(1);
    return s;
}

double rational(const QString& text) {
    const QStringList parts = text.split('/');
    if (parts.size() != 2)
        return std::nan("");
    return parts[0].toDouble() / parts[1].toDouble();
}

// ExifVersion is four undefined bytes, shown by the reference as the ASCII text they hold.
QString hexBytesAsText(const QString& text) {
    QString s;
    for (const QString& h : text.split(' '))
        s += QChar(h.toUShort(nullptr, 16));
    return s;
}

bool startsWithJfif(const QString& path) {
    const QByteArray head = readFile(path).left(4);
    return head == bytes({0xFF, 0xD8, 0xFF, 0xE0});
}

} // namespace

class TExifCamera : public ::testing::Test {
protected:
    QString dir;
    std::vector<Reference> rows;
    void SetUp() override {
        dir = cameraDir();
        if (dir.isEmpty())
            GTEST_SKIP() << "camera sample folder (testdata/exif) not present";
        rows = readReference(dir + "/reference.tsv");
        ASSERT_EQ(rows.size(), 31u);
    }
};

// The files saved by editors carry their Exif segment right after the JFIF header.
TEST_F(TExifCamera, JfifFilesAreRead) {
    int read = 0;
    for (const Reference& r : rows) {
        const QString path = dir + '/' + r.file;
        if (!startsWithJfif(path))
            continue;
        SCOPED_TRACE(r.file.toStdString());
        const QByteArray data = readFile(path);
        const int jfifEnd = 4 + (uchar(data[4]) << 8 | uchar(data[5]));
        ASSERT_EQ(data.mid(jfifEnd, 2), bytes({0xFF, 0xE1}));
        const int length = uchar(data[jfifEnd + 2]) << 8 | uchar(data[jfifEnd + 3]);
        TExif exif;
        ASSERT_NO_THROW(exif.LoadFromJpeg(path));
        EXPECT_EQ(exif.Segment, data.mid(jfifEnd, length + 2));
        EXPECT_EQ(exif.TiffBase, jfifEnd + 10);
        EXPECT_FALSE(exif.Entries.isEmpty());
        ++read;
    }
    EXPECT_EQ(read, 5);
}

// Strings, integers and rationals of the reference compared with our value texts. Rationals are
// decimals there (about ten significant digits), so ours are divided out and compared with a
// relative tolerance; ExifVersion's hexadecimal bytes are turned into the characters they hold.
TEST_F(TExifCamera, ValuesMatchTheReference) {
    int files = 0, motorola = 0;
    for (const Reference& r : rows) {
        const QString path = dir + '/' + r.file;
        SCOPED_TRACE(r.file.toStdString());
        TExif exif;
        ASSERT_NO_THROW(exif.LoadFromJpeg(path));
        ++files;
        motorola += exif.BigEndian;
        const QStringList& lines = exif.Entries;
        const auto cell = [&r](const char* column) { return r.cells.at(column); };

        const std::pair<const char*, const char*> strings[] = {
            {"IFD0:DateTime", "DateTime"},
            {"ExifIFD:DateTimeOriginal", "DateTimeOriginal"},
            {"ExifIFD:DateTimeDigitized", "DateTimeDigitized"},
            {"IFD0:Make", "Make"},
            {"IFD0:Model", "Model"},
        };
        for (const auto& [column, name] : strings) {
            if (cell(column).isEmpty())
                continue;
            const QString value = firstValue(lines, name);
            EXPECT_EQ(trimmed(value), cell(column)) << name;
            EXPECT_TRUE(value.endsWith(QChar(u'\0'))) << name << " keeps its zero byte";
        }
        const std::pair<const char*, const char*> integers[] = {
            {"IFD0:Orientation", "Orientation"},
            {"ExifIFD:ISO", "ISOSpeedRatings"},
            {"IFD1:ThumbnailLength", "JPEGInterchangeFormatLength"},
        };
        for (const auto& [column, name] : integers) {
            if (!cell(column).isEmpty()) {
                EXPECT_EQ(firstValue(lines, name), cell(column)) << name;
            }
        }
        const std::pair<const char*, const char*> rationals[] = {
            {"IFD0:XResolution", "XResolution"},
            {"ExifIFD:ExposureTime", "ExposureTime"},
            {"ExifIFD:FNumber", "FNumber"},
        };
        for (const auto& [column, name] : rationals) {
            if (cell(column).isEmpty())
                continue;
            const double expected = cell(column).toDouble();
            EXPECT_NEAR(rational(firstValue(lines, name)), expected, expected * 1e-8) << name;
        }
        if (!cell("ExifIFD:ExifVersion").isEmpty()) {
            EXPECT_EQ(hexBytesAsText(firstValue(lines, "ExifVersion")),
                      cell("ExifIFD:ExifVersion"));
        }
    }
    EXPECT_EQ(files, 31);
    EXPECT_EQ(motorola, 12);
}

// Our lines are the reference's entries less the pointer entries, which are followed instead.
// Left out: 30-type_error (its Exif pointer is an ASCII text, which the walk reads as a
// directory) and 45-gps_ifd (a GPS pointer that leads to the Exif directory again).
TEST_F(TExifCamera, LineCountsMatchTheReference) {
    for (const Reference& r : rows) {
        const QString path = dir + '/' + r.file;
        if (r.file == "30-type_error.jpg" || r.file == "45-gps_ifd.jpg")
            continue;
        SCOPED_TRACE(r.file.toStdString());
        TExif exif;
        exif.LoadFromJpeg(path);
        const QString perIfd = r.cells.at("EntriesPerIFD");
        int pointers = 0;
        for (const char* sub : {"ExifIFD=", "GPS=", "InteropIFD="})
            pointers += perIfd.contains(sub);
        EXPECT_EQ(exif.Entries.size(), r.cells.at("EntriesTotal").toInt() - pointers);
    }
}

TEST_F(TExifCamera, DateTimeComesBeforeTheExifDates) {
    TExif exif;
    exif.LoadFromJpeg(dir + "/Canon.jpg");
    const int dateTime = exif.Entries.indexOf(z("DateTime=2003:12:04 06:46:52"));
    const int original = exif.Entries.indexOf(z("DateTimeOriginal=2003:12:04 06:46:52"));
    ASSERT_GE(dateTime, 0);
    EXPECT_GT(original, dateTime);
}

TEST_F(TExifCamera, HostileCameraFilesLoad) {
    for (const char* name : {"30-type_error.jpg", "45-gps_ifd.jpg", "87_OSError.jpg"}) {
        SCOPED_TRACE(name);
        TExif exif;
        ASSERT_NO_THROW(exif.LoadFromJpeg(dir + '/' + name));
        EXPECT_FALSE(exif.Segment.isEmpty());
    }
    // The GPS pointer of 45-gps_ifd names the Exif directory: no GPS lines, Exif lines once.
    TExif gps;
    gps.LoadFromJpeg(dir + "/45-gps_ifd.jpg");
    EXPECT_EQ(gps.Entries.filter("DateTimeOriginal=").size(), 1);
}

TEST_F(TExifCamera, SegmentIsTheFilesFirstSegment) {
    const QString path = dir + "/Casio.jpg";
    const QByteArray data = readFile(path);
    TExif exif;
    exif.LoadFromJpeg(path);
    const int length = uchar(data[4]) << 8 | uchar(data[5]);
    EXPECT_EQ(exif.Segment, data.mid(2, length + 2));
    EXPECT_TRUE(exif.BigEndian);
}

TEST_F(TExifCamera, WriteIntoJfifCameraFile) {
    TExif exif;
    exif.LoadFromJpeg(dir + "/Canon.jpg");
    QTemporaryDir tmp;
    const QString target = tmp.filePath("Pentax.jpg");
    const QByteArray original = readFile(dir + "/Pentax.jpg");
    writeFile(target, original);
    exif.WriteIntoJpeg(target);
    // The JFIF header stays first; Pentax's own Exif segment after it is replaced.
    const int jfifEnd = 4 + (uchar(original[4]) << 8 | uchar(original[5]));
    const int exifEnd =
        jfifEnd + 2 + (uchar(original[jfifEnd + 2]) << 8 | uchar(original[jfifEnd + 3]));
    EXPECT_EQ(readFile(target), original.left(jfifEnd) + exif.Segment + original.mid(exifEnd));
    TExif again;
    again.LoadFromJpeg(target);
    EXPECT_EQ(again.Entries, exif.Entries);
}
