#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegSegments.h"
#include "imaging/core/JpegTrailer.h"
#include "tests/support/TestSupport.h"

#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QByteArray u16le(quint16 v) {
    QByteArray b(2, 0);
    qToLittleEndian(v, b.data());
    return b;
}
QByteArray u32le(quint32 v) {
    QByteArray b(4, 0);
    qToLittleEndian(v, b.data());
    return b;
}
QByteArray segment(uchar marker, const QByteArray& payload) {
    QByteArray s;
    s.append(char(0xFF)).append(char(marker));
    s.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xFF));
    return s + payload;
}

// A little-endian MPF APP2 segment listing two images, laid out by hand:
//   segment bytes 0..3   FF E2 and the length (88)
//   4..7    "MPF\0"
//   8..15   "II*\0", first IFD at 8            <- offsets count from segment byte 8
//   16..17  3 entries; 18..53 the entries (B000 version, B001 count, B002 at offset 50)
//   54..57  no next IFD; 58..89 the two 16-byte MP entries
QByteArray mpfSegment(quint32 firstSize, quint32 secondSize, quint32 secondOffset) {
    QByteArray p("MPF\0II*\0", 8);
    p += u32le(8) + u16le(3);
    p += u16le(0xB000) + u16le(7) + u32le(4) + QByteArray("0100");
    p += u16le(0xB001) + u16le(4) + u32le(1) + u32le(2);
    p += u16le(0xB002) + u16le(7) + u32le(32) + u32le(50);
    p += u32le(0);
    p += u32le(0x20030000) + u32le(firstSize) + u32le(0) + u32le(0);
    p += u32le(0) + u32le(secondSize) + u32le(secondOffset) + u32le(0);
    return segment(0xE2, p);
}
constexpr int MpfSegmentSize = 90;
constexpr int MpfHeaderInSegment = 8;

// The first image with an MPF segment right after SOI, and the second image after it. The
// offsets count from the segment's byte-order mark, at file byte 2 + 8 = 10.
QByteArray multiPicture(const QByteArray& first, const QByteArray& second) {
    const quint32 firstSize = quint32(first.size() + MpfSegmentSize);
    return first.left(2) + mpfSegment(firstSize, quint32(second.size()), firstSize - 10) +
           first.mid(2) + second;
}

quint32 entryField(const QByteArray& file, qsizetype segmentAt, int entry, int field) {
    return qFromLittleEndian<quint32>(file.constData() + segmentAt + 58 + entry * 16 + field * 4);
}

QByteArray photo(int w, int h, quint32 seed) {
    return EncodeJpeg(makeTestPhoto(w, h, seed), 85);
}

} // namespace

TEST(JpegTrailer, TheImageEndsAtTheEndMarkerOfItsScanData) {
    const QByteArray a = photo(64, 48, 1);
    EXPECT_EQ(JpegImageEnd(a), a.size());
    EXPECT_EQ(JpegImageEnd(a + "appended"), a.size());
    EXPECT_EQ(JpegImageEnd(a.left(a.size() - 2)), a.size() - 2); // no end marker
    EXPECT_EQ(JpegImageEnd(QByteArray("not a JPEG")), -1);
    EXPECT_EQ(JpegImageEnd(QByteArray()), -1);

    // An end marker inside a segment (a thumbnail in the EXIF block) is not the picture's.
    const QByteArray thumbnail = photo(16, 16, 2);
    const QByteArray withThumb =
        a.left(2) + segment(0xE1, QByteArray("Exif\0\0", 6) + thumbnail) + a.mid(2);
    EXPECT_EQ(JpegImageEnd(withThumb + thumbnail), withThumb.size());

    // Stuffed bytes, restart markers and fill bytes inside the scan data are no end.
    const QByteArray sos = segment(0xDA, QByteArray::fromHex("01010000003f00"));
    const QByteArray scan = QByteArray::fromHex("12ff0034ffd056ffffffd178");
    const QByteArray handMade = QByteArray::fromHex("ffd8") + sos + scan +
                                QByteArray::fromHex("ffd9");
    EXPECT_EQ(JpegImageEnd(handMade + QByteArray::fromHex("ffd8ffd9")), handMade.size());
}

TEST(JpegTrailer, AMultiPictureIndexFollowsTheNewFirstImage) {
    const QByteArray first = photo(96, 64, 3), second = photo(40, 30, 4);
    const QByteArray source = multiPicture(first, second);
    ASSERT_EQ(JpegImageEnd(source), first.size() + MpfSegmentSize);

    // An output 1000 bytes longer in the scan data and 20 bytes longer before the segment,
    // as a longer EXIF block makes it.
    const QByteArray app1 = segment(0xE1, QByteArray(16, 'x'));
    const QByteArray output = source.left(2) + app1 + source.mid(2, MpfSegmentSize) +
                              first.mid(2, first.size() - 4) + QByteArray(1000, '\x11') +
                              QByteArray::fromHex("ffd9");
    const CarriedJpeg carried = CarryJpegTrailer(source, output);
    EXPECT_TRUE(carried.notice.isEmpty()) << carried.notice.toStdString();
    ASSERT_EQ(carried.bytes.size(), output.size() + second.size());
    EXPECT_TRUE(carried.bytes.endsWith(second));

    const qsizetype segmentAt = 2 + app1.size();
    const qsizetype header = segmentAt + MpfHeaderInSegment;
    EXPECT_EQ(entryField(carried.bytes, segmentAt, 0, 1), quint32(output.size()));
    EXPECT_EQ(entryField(carried.bytes, segmentAt, 0, 2), 0u);
    EXPECT_EQ(entryField(carried.bytes, segmentAt, 1, 1), quint32(second.size()));
    EXPECT_EQ(qsizetype(entryField(carried.bytes, segmentAt, 1, 2)) + header, output.size());

    // Carried again from the result: nothing moves, and the output's own trailer is replaced.
    const CarriedJpeg again = CarryJpegTrailer(carried.bytes, carried.bytes);
    EXPECT_EQ(again.bytes, carried.bytes);
}

TEST(JpegTrailer, AnIndexThatDoesNotDescribeTheFileIsLeftOut) {
    const QByteArray first = photo(96, 64, 5), second = photo(40, 30, 6);
    const quint32 firstSize = quint32(first.size() + MpfSegmentSize);
    const auto withIndex = [&](quint32 offset, const QByteArray& trailer) {
        return first.left(2) + mpfSegment(firstSize, quint32(second.size()), offset) +
               first.mid(2) + trailer;
    };
    const QList<QPair<const char*, QByteArray>> broken = {
        {"no second image in the file", withIndex(firstSize - 10, QByteArray())},
        {"second image past the end", withIndex(firstSize - 10 + 9, second)},
        {"second image inside the first", withIndex(100, second)},
    };
    for (const auto& [name, source] : broken) {
        const CarriedJpeg carried = CarryJpegTrailer(source, source);
        EXPECT_TRUE(carried.notice.contains(QLatin1String("MPF"))) << name;
        EXPECT_FALSE(carried.bytes.contains(QByteArray("MPF\0", 4))) << name;
        EXPECT_EQ(carried.bytes, first + source.mid(JpegImageEnd(source))) << name;
    }

    // A damaged segment (its entries cut off) goes too, and reads nothing outside itself.
    QByteArray cut = withIndex(firstSize - 10, second);
    cut[5] = char(40); // the segment's length, now ending inside the IFD
    const CarriedJpeg carried = CarryJpegTrailer(cut, cut);
    EXPECT_FALSE(carried.notice.isEmpty());
}

TEST(JpegTrailer, OtherTrailersAreCarriedAsTheyAre) {
    const QByteArray a = photo(64, 48, 7), b = photo(64, 48, 8);
    const QByteArray video = QByteArray("\0\0\0\x18" "ftypmp42", 12) + QByteArray(500, '\x7');
    const CarriedJpeg carried = CarryJpegTrailer(a + video, b);
    EXPECT_TRUE(carried.notice.isEmpty());
    EXPECT_EQ(carried.bytes, b + video);
    EXPECT_EQ(CarryJpegTrailer(a, b).bytes, b);
}

TEST(JpegTrailer, WhatAnEncodedCopyLosesIsNamed) {
    const QByteArray first = photo(96, 64, 9), second = photo(40, 30, 10);
    EXPECT_EQ(JpegTrailerLoss(multiPicture(first, second)),
              QStringLiteral("1 more image after the picture (multi-picture file)"));
    EXPECT_EQ(JpegTrailerLoss(first + QByteArray(123, 'z')),
              QStringLiteral("123 bytes after the end of the picture"));
    EXPECT_EQ(JpegTrailerLoss(first), QString());
    EXPECT_EQ(JpegTrailerLoss(first + QByteArray(4096, '\0')), QString()); // padding
    EXPECT_EQ(JpegTrailerLoss(QByteArray("GIF89a")), QString());
}

// Markers in coded data are found sixteen bytes at a time: stuffed zeros are passed, whatever
// place the 0xFF takes in a group of sixteen, the last group is searched byte by byte, and a
// 0xFF in the last byte counts.
TEST(JpegTrailer, MarkersInCodedDataAreFoundWhereverTheyLie) {
    const auto find = [](const QByteArray& d, qsizetype from = 0) {
        return NextJpegMarker(d.constData(), d.size(), from);
    };
    for (int at = 0; at < 40; ++at) {
        QByteArray d(48, '\x12');
        // Stuffed bytes everywhere before the marker, one straddling each group boundary.
        for (int s = 0; s + 1 < at; s += 5)
            d[s] = char(0xFF), d[s + 1] = 0;
        d[at] = char(0xFF);
        d[at + 1] = char(0xD9);
        EXPECT_EQ(find(d), at) << at;
        EXPECT_EQ(find(d, at + 1), 48) << at; // nothing after it
    }
    QByteArray stuffedOnly(35, '\x00');
    for (int s = 0; s + 1 < 35; s += 2)
        stuffedOnly[s] = char(0xFF);
    EXPECT_EQ(find(stuffedOnly), 35);
    QByteArray lastByte(33, '\x01');
    lastByte[32] = char(0xFF);
    EXPECT_EQ(find(lastByte), 32);
    EXPECT_EQ(find(QByteArray("\xFF\xFF\xD0", 3)), 0); // a fill byte
    EXPECT_EQ(find(QByteArray()), 0);
}
