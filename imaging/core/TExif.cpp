#include "imaging/core/TExif.h"

#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PhotoFormats.h"
#include "platform/AtomicFile.h"
#include "platform/RegularFile.h"

#include <QBuffer>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace {

// Recursion through chains and pointer tags; real files go three levels deep.
constexpr int kMaxDepth = 16;
// Bytes the walk may read (entries and values). A well-formed block lies inside one APP1 segment
// of at most 64 KiB, so only hostile data (overlapping directories, huge counts) reaches this.
constexpr qint64 kWalkBudget = qint64(256) << 10;

constexpr quint16 kExifPointer = 0x8769;
constexpr quint16 kGpsPointer = 0x8825;
constexpr quint16 kInteropPointer = 0xA005;
constexpr quint16 kOrientation = 0x0112;

constexpr uchar kApp0 = 0xE0;
constexpr uchar kApp1 = 0xE1;

// The segments that may lead a JPEG file before its tables and frame: APP0..APP15 and COM.
bool isLeadingMarker(uchar marker) {
    return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
}

struct TagEntry {
    quint16 tag;
    const char* name;
};

constexpr TagEntry kMainNames[] = {
    {0x0100, "ImageWidth"},
    {0x0101, "ImageLength"},
    {0x0102, "BitsPerSample"},
    {0x0103, "Compression"},
    {0x0106, "PhotometricInterpretation"},
    {0x010E, "ImageDescription"},
    {0x010F, "Make"},
    {0x0110, "Model"},
    {0x0111, "StripOffsets"},
    {0x0112, "Orientation"},
    {0x0115, "SamplesPerPixel"},
    {0x0116, "RowsPerStrip"},
    {0x0117, "StripByteCounts"},
    {0x011A, "XResolution"},
    {0x011B, "YResolution"},
    {0x011C, "PlanarConfiguration"},
    {0x0128, "ResolutionUnit"},
    {0x012D, "TransferFunction"},
    {0x0131, "Software"},
    {0x0132, "DateTime"},
    {0x013B, "Artist"},
    {0x013E, "WhitePoint"},
    {0x013F, "PrimaryChromaticities"},
    {0x0201, "JPEGInterchangeFormat"},
    {0x0202, "JPEGInterchangeFormatLength"},
    {0x0211, "YCbCrCoefficients"},
    {0x0212, "YCbCrSubSampling"},
    {0x0213, "YCbCrPositioning"},
    {0x0214, "ReferenceBlackWhite"},
    {0x8298, "Copyright"},
    {0x829A, "ExposureTime"},
    {0x829D, "FNumber"},
    {0x8769, "Exif IFD"},
    {0x8822, "ExposureProgram"},
    {0x8824, "SpectralSensitivity"},
    {0x8825, "GPS Info Pointer"},
    {0x8827, "ISOSpeedRatings"},
    {0x8828, "OECF"},
    {0x9000, "ExifVersion"},
    {0x9003, "DateTimeOriginal"},
    {0x9004, "DateTimeDigitized"},
    {0x9101, "ComponentsConfiguration"},
    {0x9102, "CompressedBitsPerPixel"},
    {0x9201, "ShutterSpeedValue"},
    {0x9202, "ApertureValue"},
    {0x9203, "BrightnessValue"},
    {0x9204, "ExposureBiasValue"},
    {0x9205, "MaxApertureValue"},
    {0x9206, "SubjectDistance"},
    {0x9207, "MeteringMode"},
    {0x9208, "LightSource"},
    {0x9209, "Flash"},
    {0x920A, "FocalLength"},
    {0x927C, "MakerNote"},
    {0x9286, "UserComment"},
    {0x9290, "SubSecTime"},
    {0x9291, "SubSecTimeOriginal"},
    {0x9292, "SubSecTimeDigitized"},
    {0xA000, "FlashPixVersion"},
    {0xA001, "ColorSpace"},
    {0xA002, "PixelXDimension"},
    {0xA003, "PixelYDimension"},
    {0xA005, "Interoperability IFD Pointer"},
    {0xA20B, "FlashEnergy"},
    {0xA20C, "SpatialFrequencyResponse"},
    {0xA20E, "FocalPlaneXResolution"},
    {0xA20F, "FocalPlaneYResolution"},
    {0xA210, "FicalPlaneResolutionUnit"},
    {0xA214, "SubjectLocation"},
    {0xA215, "ExposureIndex"},
    {0xA217, "SensingMethod"},
    {0xA300, "FileSource"},
    {0xA301, "SceneType"},
    {0xA302, "CFAPattern"},
};

constexpr TagEntry kGpsNames[] = {
    {0x0000, "GPSVersionID"},       {0x0001, "GPSLatitudeRef"},
    {0x0002, "GPSLatitude"},        {0x0003, "GPSLongitudeRef"},
    {0x0004, "GPSLongitude"},       {0x0005, "GPSAltitudeRef"},
    {0x0006, "GPSAltitude"},        {0x0007, "GPSTimeStamp"},
    {0x0008, "GPSSatellites"},      {0x0009, "GPSStatus"},
    {0x000A, "GPSMeasureMode"},     {0x000B, "GPSDOP"},
    {0x000C, "GPSSpeedRef"},        {0x000D, "GPSSpeed"},
    {0x000E, "GPSTrackRef"},        {0x000F, "GPSTrack"},
    {0x0010, "GPSImgDirectionRef"}, {0x0011, "GPSImgDirection"},
    {0x0012, "GPSMapDatum"},        {0x0013, "GPSDestLatitudeRef"},
    {0x0014, "GPSDestLatitude"},    {0x0015, "GPSDestLongitudeRef"},
    {0x0016, "GPSDestLongitude"},   {0x0017, "GPSDestBearingRef"},
    {0x0018, "GPSDestBearing"},     {0x0019, "GPSDestDistanceRef"},
    {0x001A, "GPSDestDistance"},
};

constexpr TagEntry kInteropNames[] = {
    {0x0001, "InteroperabilityIndex"},  {0x0002, "InteroperabilityVersion"},
    {0x1000, "RelatedImageFileFormat"}, {0x1001, "RelatedImageWidth"},
    {0x1002, "RelatedImageLength"},
};

template <std::size_t N> const char* findName(const TagEntry (&table)[N], quint16 tag) {
    for (const TagEntry& e : table)
        if (e.tag == tag)
            return e.name;
    return nullptr;
}

quint16 get16(const char* p, bool bigEndian) {
    const auto* u = reinterpret_cast<const uchar*>(p);
    return bigEndian ? quint16(u[0] << 8 | u[1]) : quint16(u[1] << 8 | u[0]);
}

quint32 get32(const char* p, bool bigEndian) {
    const auto* u = reinterpret_cast<const uchar*>(p);
    return bigEndian ? quint32(u[0]) << 24 | quint32(u[1]) << 16 | quint32(u[2]) << 8 | u[3]
                     : quint32(u[3]) << 24 | quint32(u[2]) << 16 | quint32(u[1]) << 8 | u[0];
}

// A read that would run past the end delivers nothing, so the caller's field keeps its value.
bool readAt(QIODevice& stream, qint64 pos, char* dst, qint64 n) {
    if (pos < 0 || n < 0 || pos > stream.size() - n || !stream.seek(pos))
        return false;
    return stream.read(dst, n) == n;
}

void appendDecimal(QByteArray& text, qint64 value) {
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    const bool negative = value < 0;
    quint64 u = negative ? quint64(0) - quint64(value) : quint64(value);
    do {
        *--p = char('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (negative)
        *--p = '-';
    text.append(p, end - p);
}

QString openMessage(const QString& fileName, const QString& reason) {
    return QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, reason);
}

} // namespace

struct TExif::TWalk {
    QSet<quint32> visited; // directory offsets already read, of any kind
    int depth = 0;
    qint64 budget = kWalkBudget;
    bool exhausted = false;
};

void TExif::LoadFromJpeg(const QString& fileName) {
    FileCheck check;
    const int fd = OpenRegularFile(fileName, MaxImageFileSize, &check);
    if (fd < 0)
        throw EFOpenError(openMessage(fileName, check.reason));
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw EFOpenError(openMessage(fileName, file.errorString()));
    }
    // The walk seeks in the file itself, so a large photo is not read whole.
    Load(file);
}

void TExif::LoadFromTiffBlock(const QByteArray& tiff) {
    if (tiff.isEmpty())
        throw EExifError(QStringLiteral("The picture holds no EXIF information."));
    // As an APP1 segment it can be walked, kept and written like a JPEG's.
    constexpr qsizetype kMaxBlock = 0xFFFF - 2 - 6;
    if (tiff.size() > kMaxBlock)
        throw EExifError(QStringLiteral("The EXIF information is larger than 64 KB."));
    QByteArray jpeg("\xFF\xD8\xFF\xE1", 4);
    const quint16 length = quint16(tiff.size() + 2 + 6);
    jpeg.append(char(length >> 8)).append(char(length & 0xFF));
    jpeg.append("Exif\0\0", 6).append(tiff).append("\xFF\xD9", 2);
    LoadFromBytes(jpeg);
}

void TExif::LoadFromBytes(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    Load(buffer);
}

void TExif::Load(QIODevice& stream) {
    // A failed read must not leave the lines or the segment of an earlier file behind.
    Entries.clear();
    Segment.clear();
    m_keys.clear();
    Orientation = 0;
    m_orientationAt = -1;
    m_orientationSize = 0;
    m_orientationLine = -1;

    char soi[2] = {0, 0};
    readAt(stream, 0, soi, 2);
    if (uchar(soi[0]) != 0xFF || uchar(soi[1]) != 0xD8) {
        if (!stream.seek(0))
            throw EExifError(QStringLiteral("Start of image (SOI) not found."));
        const ImageFileType type = DetectImageType(stream.peek(4096));
        if (type != ImageFileType::Png && type != ImageFileType::Tiff &&
            type != ImageFileType::Webp && type != ImageFileType::Heic &&
            type != ImageFileType::Avif)
            throw EExifError(QStringLiteral("Start of image (SOI) not found."));
        LoadFromTiffBlock(ReadContainerBlocks(stream.readAll()).exif);
        return;
    }

    // Editors put a JFIF header (and others their own segments) before the Exif one, so the
    // application segments that lead the file are searched, up to the first other marker.
    qint64 segmentStart = -1;
    qint64 segmentLength = 0;
    bool firstIsApp1 = false;
    for (qint64 pos = 2;;) {
        char marker[2] = {0, 0};
        if (!readAt(stream, pos, marker, 2) || uchar(marker[0]) != 0xFF)
            break;
        if (pos == 2)
            firstIsApp1 = uchar(marker[1]) == kApp1;
        if (!isLeadingMarker(uchar(marker[1])))
            break;
        char length[2] = {0, 0};
        readAt(stream, pos + 2, length, 2);
        const qint64 len = get16(length, true);
        if (uchar(marker[1]) == kApp1) {
            char ident[6] = {0, 0, 0, 0, 0, 0};
            readAt(stream, pos + 4, ident, 6);
            if (std::memcmp(ident, "Exif\0\0", 6) == 0) {
                segmentStart = pos;
                segmentLength = len;
                break;
            }
        }
        if (len < 2)
            break;
        pos += 2 + len;
    }
    if (segmentStart < 0)
        throw EExifError(firstIsApp1 ? QStringLiteral("Exif identifier not found.")
                                     : QStringLiteral("Application segment 1 (APP1) not found."));

    TiffBase = segmentStart + 10;
    char order[2] = {0, 0};
    readAt(stream, TiffBase, order, 2);
    if (order[0] == 'I' && order[1] == 'I')
        BigEndian = false;
    else if (order[0] == 'M' && order[1] == 'M')
        BigEndian = true;
    else
        throw EExifError(QStringLiteral("Byte order not found."));
    char magic[2] = {0, 0};
    readAt(stream, TiffBase + 2, magic, 2);
    if (get16(magic, BigEndian) != 0x2A)
        throw EExifError(QStringLiteral("0x2A not found."));
    char first[4] = {0, 0, 0, 0};
    readAt(stream, TiffBase + 4, first, 4);

    TWalk walk;
    m_walk = &walk;
    struct Reset {
        TWalk*& walk;
        ~Reset() { walk = nullptr; }
    } reset{m_walk};
    ReadIfd(ikMain, get32(first, BigEndian), stream);

    // Only a whole segment is kept: a cut one (or a length below its own two bytes) would be
    // written into another JPEG as a broken segment.
    if (segmentLength >= 2) {
        QByteArray segment(segmentLength + 2, Qt::Uninitialized);
        if (readAt(stream, segmentStart, segment.data(), segment.size()))
            Segment = std::move(segment);
    }
    // The walk read the file as it is; the value can only be changed where the segment holds it.
    if (m_orientationAt >= 0) {
        m_orientationAt -= segmentStart;
        if (m_orientationAt < 0 || m_orientationAt + m_orientationSize > Segment.size())
            m_orientationAt = -1;
    }
}

void TExif::ReadIfd(TIfdKind kind, quint32 offset, QIODevice& stream) {
    TWalk& walk = *m_walk;
    // Each directory is read once, whatever kind led to it: chains and pointers may form cycles.
    if (walk.exhausted || walk.depth >= kMaxDepth || walk.visited.contains(offset))
        return;
    walk.visited.insert(offset);
    ++walk.depth;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{walk.depth};

    const qint64 start = TiffBase + offset;
    char count[2] = {0, 0};
    readAt(stream, start, count, 2);
    const int n = get16(count, BigEndian);
    for (int i = 0; i < n; ++i) {
        const qint64 p = start + 2 + 12 * qint64(i);
        // A directory cut by the end of the data stops there; its fields would only repeat stale
        // values of the previous entry.
        char entry[12];
        if (!readAt(stream, p, entry, 12))
            return;
        walk.budget -= 12;
        if (walk.budget < 0) {
            walk.exhausted = true;
            return;
        }
        const quint16 tag = get16(entry, BigEndian);
        const quint16 type = get16(entry + 2, BigEndian);
        const quint32 c = get32(entry + 4, BigEndian);
        const quint32 v = get32(entry + 8, BigEndian);
        if (tag == kExifPointer)
            ReadIfd(ikExif, v, stream);
        else if (tag == kGpsPointer)
            ReadIfd(ikGps, v, stream);
        else if (tag == kInteropPointer)
            ReadIfd(ikInterop, v, stream);
        else {
            if (tag == kOrientation && kind == ikMain && walk.depth == 1 && m_orientationLine < 0)
                noteOrientation(type, c, entry + 8, p + 8);
            Entries.append(TagName(kind, tag) + QLatin1Char('=') +
                           ValueText(type, c, v, p, stream));
            m_keys.append(quint32(kind) << 16 | tag);
        }
        if (walk.exhausted)
            return;
    }
    char next[4] = {0, 0, 0, 0};
    readAt(stream, start + 2 + 12 * qint64(n), next, 4);
    const quint32 nextOffset = get32(next, BigEndian);
    if (nextOffset > 0 && nextOffset < 0xFFFF)
        ReadIfd(kind, nextOffset, stream);
}

QString TExif::ValueText(quint16 type, quint32 count, quint32 value, qint64 entryPos,
                         QIODevice& stream) {
    int size = 0;
    bool inlineValue = false;
    switch (type) {
    case 1:
    case 2:
    case 7:
        size = 1;
        inlineValue = count <= 4;
        break;
    case 3:
        size = 2;
        inlineValue = count <= 2;
        break;
    case 4:
        if (count <= 1)
            return QString::number(value);
        size = 4;
        break;
    case 9:
        if (count <= 1)
            return QString::number(qint32(value));
        size = 4;
        break;
    case 5:
    case 10:
        size = 8;
        break;
    default:
        return {};
    }
    if (count == 0)
        return {};

    // Components past the end of the data (or beyond the walk's budget) are left out, so a
    // huge count costs no more than the data can hold.
    TWalk& walk = *m_walk;
    const qint64 base = inlineValue ? entryPos + 8 : TiffBase + value;
    const qint64 available = std::max<qint64>(0, stream.size() - base);
    const qint64 n =
        std::min({qint64(count), available / size, std::max<qint64>(0, walk.budget) / size});
    walk.budget -= n * size;
    if (n == 0)
        return {};
    QByteArray bytes(n * size, Qt::Uninitialized);
    if (!readAt(stream, base, bytes.data(), bytes.size()))
        return {};
    if (type == 2)
        return QString::fromLatin1(bytes); // keeps the terminating zero byte

    const char* p = bytes.constData();
    QByteArray text; // Latin-1 digits, turned into the line's text once
    text.reserve(n * (size == 8 ? 12 : 4));
    const char separator = type == 7 ? ' ' : ',';
    for (qint64 i = 0; i < n; ++i, p += size) {
        if (i > 0)
            text += separator;
        switch (type) {
        case 1:
            appendDecimal(text, uchar(*p));
            break;
        case 7:
            text += "0123456789ABCDEF"[uchar(*p) >> 4];
            text += "0123456789ABCDEF"[uchar(*p) & 0x0F];
            break;
        case 3:
            appendDecimal(text, get16(p, BigEndian));
            break;
        case 4:
            appendDecimal(text, get32(p, BigEndian));
            break;
        case 9:
            appendDecimal(text, qint32(get32(p, BigEndian)));
            break;
        case 5:
            appendDecimal(text, get32(p, BigEndian));
            text += '/';
            appendDecimal(text, get32(p + 4, BigEndian));
            break;
        case 10:
            appendDecimal(text, qint32(get32(p, BigEndian)));
            text += '/';
            appendDecimal(text, qint32(get32(p + 4, BigEndian)));
            break;
        }
    }
    return QString::fromLatin1(text);
}

void TExif::noteOrientation(quint16 type, quint32 count, const char* field, qint64 fieldPos) {
    if (count != 1)
        return;
    if (type == 3 || type == 8) { // SHORT, as written by cameras; SSHORT
        Orientation = get16(field, BigEndian);
        m_orientationSize = 2;
    } else if (type == 4 || type == 9) { // LONG and SLONG, as some software writes it
        Orientation = get32(field, BigEndian);
        m_orientationSize = 4;
    } else {
        return;
    }
    m_orientationAt = fieldPos;
    m_orientationLine = Entries.size();
}

QStringList TExif::Values(quint16 tag) const {
    QStringList values;
    const qsizetype n = std::min(Entries.size(), m_keys.size());
    for (qsizetype i = 0; i < n; ++i) {
        const quint32 kind = m_keys[i] >> 16;
        if ((m_keys[i] & 0xFFFF) != tag || (kind != ikMain && kind != ikExif))
            continue;
        const QString& line = Entries[i];
        values.append(line.mid(line.indexOf(QLatin1Char('=')) + 1));
    }
    return values;
}

bool TExif::SetOrientation(quint16 value) {
    if (m_orientationAt < 0 || m_orientationAt + m_orientationSize > Segment.size())
        return false;
    char* p = Segment.data() + m_orientationAt;
    for (int i = 0; i < m_orientationSize; ++i) {
        const int shift = 8 * (BigEndian ? m_orientationSize - 1 - i : i);
        p[i] = char((quint32(value) >> shift) & 0xFF);
    }
    Orientation = value;
    if (m_orientationLine >= 0 && m_orientationLine < Entries.size())
        Entries[m_orientationLine] =
            TagName(ikMain, kOrientation) + QLatin1Char('=') + QString::number(value);
    return true;
}

QString TExif::TagName(TIfdKind kind, quint16 tag) {
    const char* name = nullptr;
    switch (kind) {
    case ikMain:
    case ikExif:
        name = findName(kMainNames, tag);
        break;
    case ikGps:
        name = findName(kGpsNames, tag);
        break;
    case ikInterop:
        name = findName(kInteropNames, tag);
        break;
    }
    if (name)
        return QString::fromLatin1(name);
    return QStringLiteral("Tag ") +
           QString::number(tag, 16).rightJustified(4, QLatin1Char('0')).toUpper();
}

QByteArray TExif::WriteIntoJpegBytes(const QByteArray& data) const {
    if (Segment.isEmpty())
        throw EExifError(QStringLiteral("Exif information is empty."));
    const auto byte = [&data](qsizetype i) { return i < data.size() ? uchar(data[i]) : 0; };
    if (byte(0) != 0xFF || byte(1) != 0xD8)
        throw EExifError(QStringLiteral("Start of image (SOI) not found."));

    // The leading application segments: an Exif APP1 among them is replaced; without one the
    // block goes right after SOI, or after the JFIF header, which must stay first.
    qsizetype insertAt = 2, replaceEnd = 2;
    for (qsizetype pos = 2;;) {
        if (pos == data.size() && pos > 2)
            break; // whole segments up to the end: nothing else follows
        // A segment whose length field is missing, too small or runs past the end is no
        // segment: writing around it would cut into (or lose) the image data.
        if (byte(pos) != 0xFF || pos + 2 > data.size())
            throw EExifError(QStringLiteral("JFIF or APP1 segment not found."));
        const uchar marker = byte(pos + 1);
        if (!isLeadingMarker(marker))
            break;
        const qsizetype length = qsizetype(byte(pos + 2)) << 8 | byte(pos + 3);
        if (pos + 4 > data.size() || length < 2 || pos + 2 + length > data.size())
            throw EExifError(QStringLiteral("JFIF or APP1 segment not found."));
        if (marker == kApp1 && length >= 8 &&
            QByteArrayView(data).sliced(pos + 4, 6) == QByteArrayView("Exif\0\0", 6)) {
            insertAt = pos;
            replaceEnd = pos + 2 + length;
            break;
        }
        const qsizetype start = pos;
        pos += 2 + length;
        if (marker == kApp0 && start == 2)
            insertAt = replaceEnd = pos;
    }

    QByteArray out;
    out.reserve(data.size() + Segment.size() - (replaceEnd - insertAt));
    out.append(QByteArrayView(data).first(insertAt))
        .append(Segment)
        .append(QByteArrayView(data).sliced(replaceEnd));
    return out;
}

void TExif::WriteIntoJpeg(const QString& fileName) const {
    if (Segment.isEmpty())
        throw EExifError(QStringLiteral("Exif information is empty."));

    const FileRead in = ReadRegularFile(fileName, MaxImageFileSize);
    if (!in.ok())
        throw EFOpenError(openMessage(fileName, in.reason));
    const QByteArray& data = in.data;
    const QByteArray rewritten = WriteIntoJpegBytes(data);

    // Written beside the target and renamed over it, so a failure never destroys the photo.
    WriteRequest request;
    request.kind = WriteKind::Replace;
    ThrowUnlessWritten(WriteFileAtomically(fileName, rewritten, request));
}
