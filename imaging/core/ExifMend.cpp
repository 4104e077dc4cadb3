#include "imaging/core/ExifMend.h"

#include <exiv2/exiv2.hpp>

#include <mutex>
#include <set>
#include <string>

namespace {

// exiv2 keeps a little global state (its log level, tables built on first use): all calls go
// through one lock. Mending takes a millisecond or two a file.
std::mutex& exivLock() {
    static std::mutex lock;
    return lock;
}

constexpr int kExifHeader = 6; // "Exif\0\0"

// What exiv2 reported as an error while reading a block (a directory past its end, ...): such a
// block is not rewritten, since whatever exiv2 could not read would be lost. Set under the lock.
QString g_readError;

void noteError(int level, const char* text) {
    if (level >= Exiv2::LogMsg::error && g_readError.isEmpty())
        g_readError = QString::fromLocal8Bit(text).trimmed();
}

// Entries exiv2 leaves out of every block it writes for a JPEG (not recorded in compressed
// pictures, or directories JPEGs do not have): losing them is no loss.
bool droppedByDesign(const Exiv2::Exifdatum& d) {
    static const std::set<std::string> keys = {
        "Exif.Image.PhotometricInterpretation", "Exif.Image.StripOffsets",
        "Exif.Image.RowsPerStrip",              "Exif.Image.StripByteCounts",
        "Exif.Image.JPEGInterchangeFormat",     "Exif.Image.JPEGInterchangeFormatLength",
        "Exif.Image.SubIFDs"};
    const std::string group = d.groupName();
    return keys.count(d.key()) || group.rfind("SubImage", 0) == 0 ||
           group.rfind("SubThumb", 0) == 0 || group == "PanasonicRaw" || group == "Image2" ||
           group == "Image3";
}

// Sets a size entry, keeping its type (SHORT or LONG) when the value fits.
void setSize(Exiv2::ExifData& ed, const char* key, int value, bool onlyWhenPresent) {
    auto it = ed.findKey(Exiv2::ExifKey(key));
    if (it == ed.end()) {
        if (!onlyWhenPresent)
            ed[key] = uint32_t(value);
        return;
    }
    if (it->typeId() == Exiv2::unsignedShort && value <= 0xFFFF)
        *it = uint16_t(value);
    else
        *it = uint32_t(value);
}

void eraseKey(Exiv2::ExifData& ed, const char* key) {
    auto it = ed.findKey(Exiv2::ExifKey(key));
    if (it != ed.end())
        ed.erase(it);
}

bool hasThumbnail(const Exiv2::ExifData& ed) {
    return ed.findKey(Exiv2::ExifKey("Exif.Thumbnail.JPEGInterchangeFormat")) != ed.end() ||
           ed.findKey(Exiv2::ExifKey("Exif.Thumbnail.StripOffsets")) != ed.end();
}

// The thumbnail directory without its picture: what is left to describe a JPEG one.
void eraseThumbnail(Exiv2::ExifData& ed) {
    Exiv2::ExifThumb(ed).erase();
}

void setThumbnail(Exiv2::ExifData& ed, const QByteArray& jpeg, const QSize& size) {
    // A thumbnail stored as strips leaves their layout entries behind.
    for (const char* key : {"Exif.Thumbnail.StripOffsets", "Exif.Thumbnail.StripByteCounts",
                            "Exif.Thumbnail.RowsPerStrip", "Exif.Thumbnail.BitsPerSample",
                            "Exif.Thumbnail.PhotometricInterpretation",
                            "Exif.Thumbnail.SamplesPerPixel",
                            "Exif.Thumbnail.PlanarConfiguration"})
        eraseKey(ed, key);
    Exiv2::ExifThumb(ed).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(jpeg.constData()),
                                          long(jpeg.size()));
    setSize(ed, "Exif.Thumbnail.ImageWidth", size.width(), true);
    setSize(ed, "Exif.Thumbnail.ImageLength", size.height(), true);
}

// The block written by exiv2, or empty when it would not keep every entry or fit.
QByteArray encodeKeeping(const QByteArray& original, Exiv2::ByteOrder order,
                         const Exiv2::ExifData& ed, qsizetype maxBytes) {
    QByteArray inPlace = original; // exiv2 may write into it ("non-intrusive" writing)
    Exiv2::Blob blob;
    const Exiv2::WriteMethod how = Exiv2::ExifParser::encode(
        blob, reinterpret_cast<const Exiv2::byte*>(inPlace.constData()),
        uint32_t(inPlace.size()), order, ed);
    const QByteArray out = how == Exiv2::wmNonIntrusive
                               ? inPlace
                               : QByteArray(reinterpret_cast<const char*>(blob.data()),
                                            qsizetype(blob.size()));
    if (out.isEmpty() || out.size() > maxBytes)
        return {};
    Exiv2::ExifData back;
    Exiv2::ExifParser::decode(back, reinterpret_cast<const Exiv2::byte*>(out.constData()),
                              uint32_t(out.size()));
    for (const Exiv2::Exifdatum& d : ed) {
        if (droppedByDesign(d))
            continue;
        if (back.findKey(Exiv2::ExifKey(d.key())) == back.end())
            return {};
    }
    return out;
}

QSize thumbnailSizeOf(const QByteArray& jpeg) {
    // SOF0..SOF3 carry the height and width.
    for (qsizetype p = 2; p + 9 < jpeg.size();) {
        if (uchar(jpeg[p]) != 0xFF)
            return {};
        const uchar m = uchar(jpeg[p + 1]);
        const int length = uchar(jpeg[p + 2]) << 8 | uchar(jpeg[p + 3]);
        if (m >= 0xC0 && m <= 0xC3)
            return QSize(uchar(jpeg[p + 7]) << 8 | uchar(jpeg[p + 8]),
                         uchar(jpeg[p + 5]) << 8 | uchar(jpeg[p + 6]));
        p += 2 + length;
    }
    return {};
}

} // namespace

QByteArray MendExifTiff(const QByteArray& tiff, const QSize& size,
                        const TExifThumbnailMaker& makeThumbnail, qsizetype maxBytes) {
    std::lock_guard<std::mutex> guard(exivLock());
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
    Exiv2::LogMsg::setHandler(noteError);
    g_readError.clear();
    try {
        Exiv2::ExifData ed;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(
            ed, reinterpret_cast<const Exiv2::byte*>(tiff.constData()), uint32_t(tiff.size()));
        if (order == Exiv2::invalidByteOrder || ed.empty())
            throw EExifError(QStringLiteral("the EXIF block cannot be read"));
        if (!g_readError.isEmpty())
            throw EExifError(QStringLiteral("the EXIF block is damaged (%1)").arg(g_readError));
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        setSize(ed, "Exif.Photo.PixelXDimension", size.width(), false);
        setSize(ed, "Exif.Photo.PixelYDimension", size.height(), false);
        setSize(ed, "Exif.Image.ImageWidth", size.width(), true);
        setSize(ed, "Exif.Image.ImageLength", size.height(), true);

        if (hasThumbnail(ed)) {
            // Smaller and coarser thumbnails until the block fits; none at last.
            struct Try {
                int side, quality;
            };
            for (const Try t : {Try{ExifThumbnailSide, 85}, Try{ExifThumbnailSide, 60},
                                Try{120, 60}, Try{80, 50}}) {
                const QByteArray thumb = makeThumbnail ? makeThumbnail(t.side, t.quality)
                                                       : QByteArray();
                if (thumb.isEmpty())
                    break;
                Exiv2::ExifData withThumb = ed;
                setThumbnail(withThumb, thumb, thumbnailSizeOf(thumb));
                const QByteArray out = encodeKeeping(tiff, order, withThumb, maxBytes);
                if (!out.isEmpty())
                    return out;
            }
            eraseThumbnail(ed);
        }
        const QByteArray out = encodeKeeping(tiff, order, ed, maxBytes);
        if (out.isEmpty())
            throw EExifError(QStringLiteral("the EXIF block cannot be rewritten without losing "
                                            "entries"));
        return out;
    } catch (const EExifError&) {
        throw;
    } catch (const std::exception& e) {
        throw EExifError(QStringLiteral("the EXIF block cannot be read (%1)")
                             .arg(QString::fromLocal8Bit(e.what())));
    }
}

QByteArray MendExifSegment(const QByteArray& segment, const QSize& size,
                           const TExifThumbnailMaker& makeThumbnail) {
    constexpr int head = 4 + kExifHeader;
    if (segment.size() < head + 8 || uchar(segment[0]) != 0xFF || uchar(segment[1]) != 0xE1 ||
        QByteArrayView(segment).sliced(4, kExifHeader) != QByteArrayView("Exif\0\0", 6))
        throw EExifError(QStringLiteral("the EXIF block cannot be read"));
    const QByteArray tiff = segment.mid(head);
    const QByteArray mended = MendExifTiff(tiff, size, makeThumbnail, 65535 - 2 - kExifHeader);
    const qsizetype length = 2 + kExifHeader + mended.size();
    QByteArray out;
    out.reserve(length + 2);
    out.append(char(0xFF)).append(char(0xE1)).append(char(length >> 8)).append(char(length));
    out.append("Exif\0\0", kExifHeader).append(mended);
    return out;
}
