#include "imaging/core/ExifMend.h"

#include <exiv2/exiv2.hpp>

#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <set>
#include <string>
#include <unordered_set>

std::mutex& Exiv2Lock() {
    static std::mutex lock;
    return lock;
}

namespace {

// Mending takes a millisecond or two a file.
std::mutex& exivLock() {
    return Exiv2Lock();
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
    // Maker notes bring thousands of entries: one look-up table, not a search for each.
    std::unordered_set<std::string> written;
    written.reserve(back.count());
    for (const Exiv2::Exifdatum& d : back)
        written.insert(d.key());
    for (const Exiv2::Exifdatum& d : ed) {
        if (!droppedByDesign(d) && !written.count(d.key()))
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

// Where the entries a mend changes sit in a block: found by walking IFD0, its Exif directory
// and IFD1. Positions are those of the entries' value fields.
struct SizeField {
    qsizetype at = -1;
    bool isShort = false;
};
struct Layout {
    bool bigEndian = false;
    SizeField pixelX, pixelY, imageWidth, imageLength;
    qsizetype thumbLengthAt = -1;
    quint32 thumbOffset = 0, thumbLength = 0;
    bool hasIfd1 = false;
};

class TiffBytes {
public:
    TiffBytes(QByteArray& data, bool bigEndian) : m_data(data), m_big(bigEndian) {}
    bool has(qsizetype at, qsizetype n) const {
        return at >= 0 && n >= 0 && at <= m_data.size() - n;
    }
    quint32 u16(qsizetype at) const {
        const auto* p = reinterpret_cast<const uchar*>(m_data.constData() + at);
        return m_big ? quint32(p[0] << 8 | p[1]) : quint32(p[1] << 8 | p[0]);
    }
    quint32 u32(qsizetype at) const {
        const auto* p = reinterpret_cast<const uchar*>(m_data.constData() + at);
        return m_big ? quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]
                     : quint32(p[3]) << 24 | quint32(p[2]) << 16 | quint32(p[1]) << 8 | p[0];
    }
    void put16(qsizetype at, quint32 v) {
        m_data[at + (m_big ? 0 : 1)] = char(v >> 8);
        m_data[at + (m_big ? 1 : 0)] = char(v);
    }
    void put32(qsizetype at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            m_data[at + (m_big ? i : 3 - i)] = char(v >> (8 * (3 - i)));
    }
    // Calls visit(tag, type, count, value field position) for each entry of a directory;
    // returns the next directory's offset, or 0.
    template <class Visit> quint32 walk(quint32 offset, Visit visit) const {
        if (!has(offset, 2))
            return 0;
        const quint32 n = u16(offset);
        if (!has(qsizetype(offset) + 2, qsizetype(n) * 12 + 4))
            return 0;
        for (quint32 i = 0; i < n; ++i) {
            const qsizetype e = qsizetype(offset) + 2 + qsizetype(i) * 12;
            visit(u16(e), u16(e + 2), u32(e + 4), e + 8);
        }
        return u32(qsizetype(offset) + 2 + qsizetype(n) * 12);
    }

private:
    QByteArray& m_data;
    bool m_big;
};

std::optional<Layout> locate(QByteArray& tiff) {
    if (tiff.size() < 8)
        return std::nullopt;
    Layout l;
    l.bigEndian = tiff.startsWith("MM");
    const TiffBytes t(tiff, l.bigEndian);
    const auto sizeField = [](quint32 type, quint32 count, qsizetype at) {
        return count == 1 && (type == 3 || type == 4) ? SizeField{at, type == 3} : SizeField{};
    };
    quint32 exifAt = 0;
    const quint32 ifd1 = t.walk(t.u32(4), [&](quint32 tag, quint32 type, quint32 count,
                                              qsizetype at) {
        if (tag == 0x0100)
            l.imageWidth = sizeField(type, count, at);
        else if (tag == 0x0101)
            l.imageLength = sizeField(type, count, at);
        else if (tag == 0x8769 && count == 1)
            exifAt = t.u32(at);
    });
    if (exifAt)
        t.walk(exifAt, [&](quint32 tag, quint32 type, quint32 count, qsizetype at) {
            if (tag == 0xA002)
                l.pixelX = sizeField(type, count, at);
            else if (tag == 0xA003)
                l.pixelY = sizeField(type, count, at);
        });
    if (ifd1 && ifd1 < quint32(tiff.size())) {
        l.hasIfd1 = true;
        t.walk(ifd1, [&](quint32 tag, quint32 type, quint32 count, qsizetype at) {
            if (tag == 0x0201 && type == 4 && count == 1)
                l.thumbOffset = t.u32(at);
            else if (tag == 0x0202 && type == 4 && count == 1) {
                l.thumbLength = t.u32(at);
                l.thumbLengthAt = at;
            }
        });
    }
    return l;
}

bool sameValues(const Exiv2::ExifData& a, const Exiv2::ExifData& b,
                const std::set<std::string>& changed) {
    std::unordered_map<std::string, std::string> values;
    for (const Exiv2::Exifdatum& d : b)
        values.emplace(d.key(), d.value().toString());
    for (const Exiv2::Exifdatum& d : a) {
        if (changed.count(d.key()))
            continue;
        const auto it = values.find(d.key());
        if (it == values.end() || it->second != d.value().toString())
            return false;
    }
    return true;
}

// The mend made where the block lies: the size entries written over in place and the thumbnail,
// when it is the block's last part, replaced there. Nothing else moves, so maker notes and
// whatever exiv2 might not rewrite faithfully stay exactly as the camera wrote them. Empty when
// the block is not laid out so, or the result does not read back with every other entry as it
// was.
QByteArray mendInPlace(const QByteArray& tiff, const Exiv2::ExifData& original, const QSize& size,
                       const QByteArray& thumbnail, qsizetype maxBytes) {
    QByteArray out = tiff;
    const std::optional<Layout> l = locate(out);
    if (!l || l->pixelX.at < 0 || l->pixelY.at < 0)
        return {}; // the sizes must be added: exiv2 rewrites the block
    if (!thumbnail.isEmpty()) {
        const quint64 end = quint64(l->thumbOffset) + l->thumbLength;
        if (l->thumbLengthAt < 0 || l->thumbOffset == 0 || end > quint64(out.size()) ||
            quint64(out.size()) - end > 16)
            return {};
        out.truncate(qsizetype(l->thumbOffset));
        out.append(thumbnail);
        if (out.size() > maxBytes)
            return {};
    }
    TiffBytes t(out, l->bigEndian);
    const auto put = [&t](const SizeField& f, int value) {
        if (f.at < 0)
            return true;
        if (f.isShort) {
            if (value > 0xFFFF)
                return false;
            t.put16(f.at, quint32(value));
        } else {
            t.put32(f.at, quint32(value));
        }
        return true;
    };
    if (!put(l->pixelX, size.width()) || !put(l->pixelY, size.height()) ||
        !put(l->imageWidth, size.width()) || !put(l->imageLength, size.height()))
        return {};
    if (!thumbnail.isEmpty())
        t.put32(l->thumbLengthAt, quint32(thumbnail.size()));

    Exiv2::ExifData back;
    g_readError.clear();
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::error);
    Exiv2::ExifParser::decode(back, reinterpret_cast<const Exiv2::byte*>(out.constData()),
                              uint32_t(out.size()));
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    if (!g_readError.isEmpty())
        return {};
    static const std::set<std::string> changed = {
        "Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension", "Exif.Image.ImageWidth",
        "Exif.Image.ImageLength", "Exif.Thumbnail.JPEGInterchangeFormatLength"};
    if (!sameValues(original, back, changed))
        return {};
    if (!thumbnail.isEmpty()) {
        const Exiv2::DataBuf written = Exiv2::ExifThumbC(back).copy();
        if (written.size_ != long(thumbnail.size()) ||
            std::memcmp(written.pData_, thumbnail.constData(), size_t(thumbnail.size())) != 0)
            return {};
    }
    return out;
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
        const Exiv2::ExifData original = ed;
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
                if (const QByteArray in = mendInPlace(tiff, original, size, thumb, maxBytes);
                    !in.isEmpty())
                    return in;
                Exiv2::ExifData withThumb = ed;
                setThumbnail(withThumb, thumb, thumbnailSizeOf(thumb));
                const QByteArray out = encodeKeeping(tiff, order, withThumb, maxBytes);
                if (!out.isEmpty())
                    return out;
            }
            eraseThumbnail(ed);
        } else if (const QByteArray in = mendInPlace(tiff, original, size, {}, maxBytes);
                   !in.isEmpty()) {
            return in;
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
