#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSize>
#include <QString>

// The application (APPn) and comment (COM) segments of a JPEG file, read and put back byte for
// byte. Nothing here decodes pixels.

struct TJpegSegment {
    uchar marker = 0; // 0xE0..0xEF (APP0..APP15) or 0xFE (COM)
    QByteArray bytes; // the whole segment: FF, marker, the two length bytes, the payload

    QByteArrayView payload() const { return QByteArrayView(bytes).sliced(4); }
    bool operator==(const TJpegSegment& other) const = default;
};

// What a segment holds, by its marker and identifier.
enum class TSegmentKind {
    Jfif,        // APP0 "JFIF\0"
    Jfxx,        // APP0 "JFXX\0": a JFIF thumbnail
    Exif,        // APP1 "Exif\0\0"
    Xmp,         // APP1 "http://ns.adobe.com/xap/1.0/\0"
    ExtendedXmp, // APP1 "http://ns.adobe.com/xmp/extension/\0"
    Icc,         // APP2 "ICC_PROFILE\0"
    Mpf,         // APP2 "MPF\0": the index of the further images after the end marker
    Photoshop,   // APP13 "Photoshop 3.0\0": image resources, IPTC among them
    Adobe,       // APP14 "Adobe"
    Comment,     // COM
    Other,
};
TSegmentKind SegmentKind(const TJpegSegment& segment);
// For messages: "APP2 (ICC profile)", "COM", "APP11".
QString SegmentName(const TJpegSegment& segment);

constexpr int MaxSegmentPayload = 65533;

// A segment from its marker and payload; the payload must be at most 65533 bytes.
TJpegSegment MakeSegment(uchar marker, QByteArrayView payload);

struct TJpegHeader {
    QList<TJpegSegment> segments; // APPn and COM before the first scan, in file order
    bool complete = false;        // the walk reached the first scan (SOS)
    QSize frameSize;              // from the frame header (SOFn), when the walk passed one
    int components = 0;           // of the frame
    qsizetype scanStart = -1;     // where the first start-of-scan marker begins
    QString problem;              // otherwise why it stopped (a segment running past the end...)
};
// Walks the markers from SOI to the first start-of-scan, as a decoder does (stray bytes before a
// marker and fill bytes are skipped). Never throws; a file that is not a JPEG gives no segments
// and a problem.
TJpegHeader ReadJpegHeader(const QByteArrayView& jpeg);

// The JPEG with its own APPn and COM segments taken out and `segments` put right after SOI, in
// their order; the tables, the frame and the scans follow unchanged. Throws EInvalidGraphic when
// the header cannot be walked up to its first scan.
QByteArray PutJpegSegments(const QByteArray& jpeg, const QList<TJpegSegment>& segments);

// The first place at or after `from` where a 0xFF is not a stuffed one (not followed by 0x00):
// a marker, a fill byte, or a last byte; size when there is none. Walks coded data many bytes
// at a time.
qsizetype NextJpegMarker(const char* data, qsizetype size, qsizetype from);

// The ICC profile spread over the APP2 "ICC_PROFILE" chunks among segments: joined in the order
// of their sequence numbers. Empty when there are none; empty with *problem set when chunks are
// missing, repeated or disagree on their count.
QByteArray AssembleIccProfile(const QList<TJpegSegment>& segments, QString* problem);
