#include "imaging/core/PhotoFormats.h"

#include "imaging/core/CodecSupport.h"
#include "imaging/core/ExifMend.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QRgba64>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>
#include <zlib.h>

using namespace CodecSupport;

namespace {

// ---------------------------------------------------------------------------------------------
// Qt's plugins (TIFF, WebP)

// Qt refuses by default to allocate more than 128 MB for one picture; our own limit, checked
// before every decode, allows photos up to MaxImagePixels at 64 bits a pixel.
void allowLargePictures() {
    static std::once_flag once;
    std::call_once(once, [] {
        const qint64 megabytes = MaxImagePixels * 8 / (1024 * 1024);
        if (QImageReader::allocationLimit() < megabytes)
            QImageReader::setAllocationLimit(int(megabytes));
    });
}

bool isDeep(const QImage& image) {
    return image.depth() > 32 || image.format() == QImage::Format_Grayscale16;
}

// RGB32/ARGB32 for 8-bit pictures, RGBX64/RGBA64 for deeper ones; colour space kept.
QImage toWorkingFormat(QImage image) {
    const bool alpha = image.hasAlphaChannel();
    const QImage::Format wanted =
        isDeep(image) ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                      : (alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.format() == wanted)
        return image;
    QImage out = image.convertToFormat(wanted);
    if (out.isNull())
        throw EInvalidGraphic(QStringLiteral("Not enough memory for a %1 x %2 picture")
                                  .arg(image.width())
                                  .arg(image.height()));
    return out;
}

QImage decodeWithPlugin(const QByteArray& data, const char* plugin, const char* name) {
    allowLargePictures();
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, plugin);
    reader.setAutoTransform(false); // the EXIF orientation is applied by the caller
    const QSize size = reader.size();
    if (!size.isValid())
        throw EInvalidGraphic(QStringLiteral("Invalid %1 file: %2")
                                  .arg(QLatin1String(name), reader.errorString()));
    checkDimensions(name, size.width(), size.height());
    QImage image;
    if (!reader.read(&image) || image.isNull())
        throw EInvalidGraphic(QStringLiteral("Invalid %1 file: %2")
                                  .arg(QLatin1String(name), reader.errorString()));
    checkDimensions(name, image.width(), image.height());
    return toWorkingFormat(std::move(image));
}

QByteArray encodeWithPlugin(const QImage& image, const char* plugin, const char* name,
                            int quality, int compression) {
    if (image.isNull())
        throw EInvalidGraphic(
            QStringLiteral("Cannot write an empty picture as %1").arg(QLatin1String(name)));
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, plugin);
    if (quality >= 0)
        writer.setQuality(quality);
    if (compression >= 0)
        writer.setCompression(compression);
    // The profile is written by us, byte for byte as the source had it.
    QImage plain = image;
    plain.setColorSpace(QColorSpace());
    if (!writer.write(plain))
        throw EInvalidGraphic(QStringLiteral("Cannot write %1 file: %2")
                                  .arg(QLatin1String(name), writer.errorString()));
    return out;
}

// ---------------------------------------------------------------------------------------------
// WebP container (RIFF chunks)

struct RiffChunk {
    QByteArray fourcc;
    QByteArray payload;
};

QList<RiffChunk> webpChunks(const QByteArray& data) {
    QList<RiffChunk> chunks;
    if (data.size() < 12 || !data.startsWith("RIFF") || data.mid(8, 4) != "WEBP")
        return chunks;
    const qint64 riffEnd =
        std::min<qint64>(data.size(), 8 + qint64(qFromLittleEndian<quint32>(data.constData() + 4)));
    qint64 pos = 12;
    while (pos + 8 <= riffEnd) {
        const quint32 size = qFromLittleEndian<quint32>(data.constData() + pos + 4);
        if (qint64(size) > riffEnd - pos - 8)
            break;
        chunks.append({data.mid(pos, 4), data.mid(pos + 8, qsizetype(size))});
        pos += 8 + qint64(size) + (size & 1);
    }
    return chunks;
}

void appendChunk(QByteArray& out, const QByteArray& fourcc, const QByteArray& payload) {
    out.append(fourcc);
    char size[4];
    qToLittleEndian<quint32>(quint32(payload.size()), size);
    out.append(size, 4);
    out.append(payload);
    if (payload.size() & 1)
        out.append('\0');
}

// EXIF blocks in WebP and HEIF sometimes keep the "Exif\0\0" prefix of a JPEG segment.
QByteArray withoutExifPrefix(const QByteArray& exif) {
    if (exif.startsWith(QByteArray("Exif\0\0", 6)))
        return exif.mid(6);
    return exif;
}

bool looksLikeTiff(const QByteArray& b) {
    return b.startsWith(QByteArray("II*\0", 4)) || b.startsWith(QByteArray("MM\0*", 4));
}

TContainerBlocks webpBlocks(const QByteArray& data) {
    TContainerBlocks blocks;
    for (const RiffChunk& c : webpChunks(data)) {
        if (c.fourcc == "ICCP" && blocks.icc.isEmpty())
            blocks.icc = c.payload;
        else if (c.fourcc == "EXIF" && blocks.exif.isEmpty())
            blocks.exif = withoutExifPrefix(c.payload);
        else if (c.fourcc == "XMP " && blocks.xmp.isEmpty())
            blocks.xmp = c.payload;
    }
    if (!looksLikeTiff(blocks.exif))
        blocks.exif.clear();
    return blocks;
}

// The encoder's picture chunks in an extended (VP8X) file with the blocks around them, in the
// order the container asks for: VP8X, ICCP, ALPH, picture, EXIF, XMP.
QByteArray muxWebp(const QByteArray& encoded, const QSize& size, bool alpha,
                   const TContainerBlocks& blocks) {
    if (blocks.isEmpty())
        return encoded;
    QByteArray body;
    bool sawAlpha = false;
    QByteArray pictureChunks;
    for (const RiffChunk& c : webpChunks(encoded)) {
        if (c.fourcc == "VP8X" || c.fourcc == "ICCP" || c.fourcc == "EXIF" || c.fourcc == "XMP ")
            continue;
        if (c.fourcc == "ALPH")
            sawAlpha = true;
        appendChunk(pictureChunks, c.fourcc, c.payload);
    }
    if (pictureChunks.isEmpty())
        throw EInvalidGraphic(QStringLiteral("Cannot write WebP file: the encoder gave no picture"));
    quint8 flags = 0;
    if (!blocks.icc.isEmpty())
        flags |= 0x20;
    if (alpha || sawAlpha)
        flags |= 0x10;
    if (!blocks.exif.isEmpty())
        flags |= 0x08;
    if (!blocks.xmp.isEmpty())
        flags |= 0x04;
    QByteArray vp8x(10, '\0');
    vp8x[0] = char(flags);
    const quint32 w = quint32(size.width() - 1), h = quint32(size.height() - 1);
    for (int i = 0; i < 3; ++i) {
        vp8x[4 + i] = char((w >> (8 * i)) & 0xFF);
        vp8x[7 + i] = char((h >> (8 * i)) & 0xFF);
    }
    appendChunk(body, "VP8X", vp8x);
    if (!blocks.icc.isEmpty())
        appendChunk(body, "ICCP", blocks.icc);
    body.append(pictureChunks);
    if (!blocks.exif.isEmpty())
        appendChunk(body, "EXIF", blocks.exif);
    if (!blocks.xmp.isEmpty())
        appendChunk(body, "XMP ", blocks.xmp);
    QByteArray out("RIFF");
    char riffSize[4];
    qToLittleEndian<quint32>(quint32(body.size() + 4), riffSize);
    out.append(riffSize, 4);
    out.append("WEBP");
    out.append(body);
    return out;
}

// ---------------------------------------------------------------------------------------------
// PNG chunks (read only: PNG output carries its chunks elsewhere)

// Inflates a zlib stream of at most limit bytes; empty on any failure.
QByteArray inflateBounded(const QByteArray& in, qint64 limit) {
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK)
        return {};
    QByteArray out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    z.avail_in = uInt(in.size());
    char chunk[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, qsizetype(sizeof chunk - z.avail_out));
        if (out.size() > limit) {
            rc = Z_DATA_ERROR;
            break;
        }
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END ? out : QByteArray();
}

constexpr qint64 MaxBlockSize = qint64(64) << 20;

TContainerBlocks pngBlocks(const QByteArray& data) {
    TContainerBlocks blocks;
    qint64 pos = 8;
    while (pos + 12 <= data.size()) {
        const quint32 length = qFromBigEndian<quint32>(data.constData() + pos);
        if (qint64(length) > data.size() - pos - 12)
            break;
        const QByteArray type = data.mid(pos + 4, 4);
        const QByteArray payload = data.mid(pos + 8, qsizetype(length));
        pos += 12 + qint64(length);
        if (type == "IEND")
            break;
        if (type == "eXIf" && blocks.exif.isEmpty()) {
            blocks.exif = withoutExifPrefix(payload);
        } else if (type == "iCCP" && blocks.icc.isEmpty()) {
            const qsizetype zero = payload.indexOf('\0');
            if (zero > 0 && zero + 2 <= payload.size() && payload.at(zero + 1) == 0)
                blocks.icc = inflateBounded(payload.mid(zero + 2), MaxBlockSize);
        } else if (type == "iTXt" && blocks.xmp.isEmpty() &&
                   payload.startsWith(QByteArray("XML:com.adobe.xmp\0", 18))) {
            // keyword, compression flag, method, language tag, translated keyword, text
            qsizetype p = 18;
            if (p + 2 > payload.size())
                continue;
            const bool compressed = payload.at(p) != 0;
            p += 2;
            const qsizetype lang = payload.indexOf('\0', p);
            const qsizetype key = lang < 0 ? -1 : payload.indexOf('\0', lang + 1);
            if (key < 0)
                continue;
            const QByteArray text = payload.mid(key + 1);
            blocks.xmp = compressed ? inflateBounded(text, MaxBlockSize) : text;
        }
    }
    if (!looksLikeTiff(blocks.exif))
        blocks.exif.clear();
    return blocks;
}

// ---------------------------------------------------------------------------------------------
// TIFF tags through exiv2

std::mutex& exivLock() {
    return Exiv2Lock();
}

// Called with the lock held.
void quietExiv2() {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    static std::once_flag once;
    std::call_once(once, [] { Exiv2::XmpParser::initialize(); });
}

// Entries that describe a TIFF file's own pictures (their layout, coding and pages) rather than
// the photo: each TIFF written gets its own, from its encoder.
bool tiffStructureEntry(const Exiv2::Exifdatum& d) {
    const std::string group = d.groupName();
    if (group.rfind("SubImage", 0) == 0 || group.rfind("SubThumb", 0) == 0 ||
        group == "Thumbnail" || (group.rfind("Image", 0) == 0 && group != "Image"))
        return true;
    if (group != "Image")
        return false;
    static const std::set<quint16> tags = {
        0x00FE, 0x00FF, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0107, 0x0108, 0x0109, 0x010A,
        0x0111, 0x0115, 0x0116, 0x0117, 0x0118, 0x0119, 0x011C, 0x0122, 0x0123, 0x0124, 0x0125,
        0x013D, 0x0140, 0x0142, 0x0143, 0x0144, 0x0145, 0x014A, 0x014C, 0x0152, 0x0153, 0x0154,
        0x0155, 0x015B, 0x0200, 0x0201, 0x0202, 0x0203, 0x0205, 0x0206, 0x0207, 0x0208, 0x0209,
        0x0211, 0x0212, 0x0213, 0x0214, 0x02BC, 0x8773};
    return tags.count(d.tag()) != 0;
}

QByteArray exivBytes(const Exiv2::DataBuf& buf) {
    return QByteArray(reinterpret_cast<const char*>(buf.pData_), qsizetype(buf.size_));
}

TContainerBlocks tiffBlocks(const QByteArray& data) {
    TContainerBlocks blocks;
    std::lock_guard<std::mutex> guard(exivLock());
    quietExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(data.constData()),
                                               long(data.size()));
        if (!image.get())
            return blocks;
        image->readMetadata();
        Exiv2::ExifData exif = image->exifData();
        if (auto icc = exif.findKey(Exiv2::ExifKey("Exif.Image.InterColorProfile"));
            icc != exif.end()) {
            Exiv2::DataBuf buf(icc->size());
            icc->copy(buf.pData_, Exiv2::invalidByteOrder);
            blocks.icc = exivBytes(buf);
        }
        blocks.xmp = QByteArray::fromStdString(image->xmpPacket());
        for (auto it = exif.begin(); it != exif.end();) {
            if (tiffStructureEntry(*it))
                it = exif.erase(it);
            else
                ++it;
        }
        if (!exif.empty()) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, image->byteOrder() == Exiv2::bigEndian
                                                ? Exiv2::bigEndian
                                                : Exiv2::littleEndian,
                                      exif);
            blocks.exif = QByteArray(reinterpret_cast<const char*>(blob.data()),
                                     qsizetype(blob.size()));
        }
    } catch (const std::exception&) {
        return {};
    }
    if (!looksLikeTiff(blocks.exif))
        blocks.exif.clear();
    return blocks;
}

// The blocks written into a TIFF that its encoder made.
QByteArray withTiffBlocks(const QByteArray& encoded, const TContainerBlocks& blocks) {
    if (blocks.isEmpty())
        return encoded;
    std::lock_guard<std::mutex> guard(exivLock());
    quietExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(encoded.constData()), long(encoded.size()));
        image->readMetadata();
        Exiv2::ExifData& exif = image->exifData();
        if (!blocks.exif.isEmpty()) {
            Exiv2::ExifData carried;
            Exiv2::ExifParser::decode(carried,
                                      reinterpret_cast<const Exiv2::byte*>(blocks.exif.constData()),
                                      uint32_t(blocks.exif.size()));
            for (const Exiv2::Exifdatum& d : carried) {
                if (tiffStructureEntry(d))
                    continue;
                auto at = exif.findKey(Exiv2::ExifKey(d.key()));
                if (at != exif.end())
                    at->setValue(&d.value());
                else
                    exif.add(d);
            }
        }
        if (!blocks.icc.isEmpty()) {
            Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(blocks.icc.constData()),
                               long(blocks.icc.size()));
            image->setIccProfile(icc, false);
        }
        if (!blocks.xmp.isEmpty()) {
            image->setXmpPacket(blocks.xmp.toStdString());
            image->writeXmpFromPacket(true);
        }
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf all = io.read(long(io.size()));
        return exivBytes(all);
    } catch (const std::exception& e) {
        throw EInvalidGraphic(
            QStringLiteral("Cannot write the TIFF file's metadata: %1").arg(QString::fromLocal8Bit(e.what())));
    }
}

// ---------------------------------------------------------------------------------------------
// HEIF through libheif

void initHeif() {
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

struct HeifContext {
    heif_context* ctx = heif_context_alloc();
    ~HeifContext() { heif_context_free(ctx); }
};
struct HeifHandle {
    heif_image_handle* handle = nullptr;
    ~HeifHandle() { heif_image_handle_release(handle); }
};
struct HeifImage {
    heif_image* image = nullptr;
    ~HeifImage() { heif_image_release(image); }
};
struct HeifEncoder {
    heif_encoder* encoder = nullptr;
    ~HeifEncoder() {
        if (encoder)
            heif_encoder_release(encoder);
    }
};
struct HeifDecodingOptions {
    heif_decoding_options* options = heif_decoding_options_alloc();
    ~HeifDecodingOptions() { heif_decoding_options_free(options); }
};
struct HeifEncodingOptions {
    heif_encoding_options* options = heif_encoding_options_alloc();
    ~HeifEncodingOptions() { heif_encoding_options_free(options); }
};

const char* heifName(const QByteArray& data) {
    return DetectImageType(data) == ImageFileType::Avif ? "AVIF" : "HEIC";
}

EInvalidGraphic heifFailure(const char* name, const char* action, const heif_error& err) {
    return EInvalidGraphic(QStringLiteral("%1 %2 file: %3")
                               .arg(QLatin1String(action), QLatin1String(name),
                                    QString::fromUtf8(err.message ? err.message : "unknown error")));
}

// Opens the data and its primary image; the size is checked before anything is decoded.
void openHeif(const QByteArray& data, HeifContext& context, HeifHandle& primary) {
    initHeif();
    const char* name = heifName(data);
    if (!context.ctx)
        throw EInvalidGraphic(QStringLiteral("Invalid %1 file: not enough memory").arg(QLatin1String(name)));
    heif_context_set_maximum_image_size_limit(context.ctx, MaxImageSide);
    heif_error err = heif_context_read_from_memory_without_copy(context.ctx, data.constData(),
                                                                size_t(data.size()), nullptr);
    if (err.code != heif_error_Ok)
        throw heifFailure(name, "Invalid", err);
    err = heif_context_get_primary_image_handle(context.ctx, &primary.handle);
    if (err.code != heif_error_Ok)
        throw heifFailure(name, "Invalid", err);
    checkDimensions(name, heif_image_handle_get_width(primary.handle),
                    heif_image_handle_get_height(primary.handle));
    checkDimensions(name, heif_image_handle_get_ispe_width(primary.handle),
                    heif_image_handle_get_ispe_height(primary.handle));
}

TContainerBlocks heifBlocks(const QByteArray& data) {
    TContainerBlocks blocks;
    try {
        HeifContext context;
        HeifHandle primary;
        openHeif(data, context, primary);
        heif_image_handle* h = primary.handle;
        auto blockOf = [&](const char* type, const char* contentType) {
            const int n = heif_image_handle_get_number_of_metadata_blocks(h, type);
            if (n <= 0)
                return QByteArray();
            std::vector<heif_item_id> ids(static_cast<size_t>(n));
            heif_image_handle_get_list_of_metadata_block_IDs(h, type, ids.data(), n);
            for (heif_item_id id : ids) {
                if (contentType &&
                    std::strcmp(heif_image_handle_get_metadata_content_type(h, id), contentType) != 0)
                    continue;
                const size_t size = heif_image_handle_get_metadata_size(h, id);
                if (size == 0 || qint64(size) > MaxBlockSize)
                    continue;
                QByteArray bytes(qsizetype(size), Qt::Uninitialized);
                if (heif_image_handle_get_metadata(h, id, bytes.data()).code == heif_error_Ok)
                    return bytes;
            }
            return QByteArray();
        };
        const QByteArray exif = blockOf("Exif", nullptr);
        // The block starts with the offset of the TIFF header after these four bytes.
        if (exif.size() >= 4) {
            const quint32 offset = qFromBigEndian<quint32>(exif.constData());
            if (qint64(offset) <= exif.size() - 4 - 8)
                blocks.exif = exif.mid(4 + qsizetype(offset));
            if (!looksLikeTiff(blocks.exif))
                blocks.exif = withoutExifPrefix(exif.mid(4));
            if (!looksLikeTiff(blocks.exif))
                blocks.exif.clear();
        }
        blocks.xmp = blockOf("mime", "application/rdf+xml");
        const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(h);
        if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
            const size_t size = heif_image_handle_get_raw_color_profile_size(h);
            if (size > 0 && qint64(size) <= MaxBlockSize) {
                QByteArray icc(qsizetype(size), Qt::Uninitialized);
                if (heif_image_handle_get_raw_color_profile(h, icc.data()).code == heif_error_Ok)
                    blocks.icc = icc;
            }
        }
    } catch (const Exception&) {
        return {};
    }
    return blocks;
}

heif_error heifWrite(heif_context*, const void* data, size_t size, void* userdata) {
    static_cast<QByteArray*>(userdata)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

bool heifEncoderPresent(heif_compression_format format) {
    initHeif();
    const heif_encoder_descriptor* found = nullptr;
    return heif_context_get_encoder_descriptors(nullptr, format, nullptr, &found, 1) > 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------

QImage DecodeTiff(const QByteArray& data) {
    return decodeWithPlugin(data, "tiff", "TIFF");
}

QImage DecodeWebp(const QByteArray& data) {
    return decodeWithPlugin(data, "webp", "WebP");
}

namespace {

// Decodes one image of a HEIF file (the primary image or a thumbnail), its properties applied.
QImage decodeHeifHandle(heif_image_handle* handle, const char* name) {
    checkDimensions(name, heif_image_handle_get_width(handle), heif_image_handle_get_height(handle));
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle);
    const bool deep = bits > 8;
    const heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    HeifDecodingOptions options;
    HeifImage decoded;
    const heif_error err =
        heif_decode_image(handle, &decoded.image, heif_colorspace_RGB, chroma, options.options);
    if (err.code != heif_error_Ok)
        throw heifFailure(name, "Invalid", err);
    const int width = heif_image_get_width(decoded.image, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded.image, heif_channel_interleaved);
    checkDimensions(name, width, height);
    int stride = 0;
    const uint8_t* plane =
        heif_image_get_plane_readonly(decoded.image, heif_channel_interleaved, &stride);
    if (!plane)
        throw EInvalidGraphic(QStringLiteral("Invalid %1 file: no picture").arg(QLatin1String(name)));
    const QImage::Format format = deep ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                                       : (alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QImage image = allocateImage(name, width, height, format);
    if (deep) {
        const int range = heif_image_get_bits_per_pixel_range(decoded.image, heif_channel_interleaved);
        const quint32 max = (1u << std::clamp(range > 0 ? range : bits, 9, 16)) - 1;
        const int channels = alpha ? 4 : 3;
        auto scale = [max](quint16 v) {
            return quint16((quint32(std::min<quint32>(v, max)) * 65535u + max / 2) / max);
        };
        for (int y = 0; y < height; ++y) {
            const auto* in = reinterpret_cast<const uchar*>(plane + qint64(y) * stride);
            auto* out = reinterpret_cast<QRgba64*>(image.scanLine(y));
            for (int x = 0; x < width; ++x, in += 2 * channels) {
                const quint16 r = scale(qFromLittleEndian<quint16>(in));
                const quint16 g = scale(qFromLittleEndian<quint16>(in + 2));
                const quint16 b = scale(qFromLittleEndian<quint16>(in + 4));
                const quint16 a = alpha ? scale(qFromLittleEndian<quint16>(in + 6)) : 65535;
                out[x] = QRgba64::fromRgba64(r, g, b, a);
            }
        }
    } else {
        for (int y = 0; y < height; ++y) {
            const uint8_t* in = plane + qint64(y) * stride;
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            if (alpha) {
                for (int x = 0; x < width; ++x, in += 4)
                    out[x] = qRgba(in[0], in[1], in[2], in[3]);
            } else {
                for (int x = 0; x < width; ++x, in += 3)
                    out[x] = qRgb(in[0], in[1], in[2]);
            }
        }
    }
    return image;
}

} // namespace

QImage DecodeHeif(const QByteArray& data) {
    HeifContext context;
    HeifHandle primary;
    openHeif(data, context, primary);
    return decodeHeifHandle(primary.handle, heifName(data));
}

QImage DecodeHeifThumbnail(const QByteArray& data, int minSide) {
    try {
        HeifContext context;
        HeifHandle primary;
        openHeif(data, context, primary);
        const int n = heif_image_handle_get_number_of_thumbnails(primary.handle);
        if (n <= 0)
            return {};
        std::vector<heif_item_id> ids(static_cast<size_t>(n));
        heif_image_handle_get_list_of_thumbnail_IDs(primary.handle, ids.data(), n);
        HeifHandle best;
        int bestSide = 0;
        for (heif_item_id id : ids) {
            HeifHandle thumb;
            if (heif_image_handle_get_thumbnail(primary.handle, id, &thumb.handle).code !=
                heif_error_Ok)
                continue;
            const int side = std::max(heif_image_handle_get_width(thumb.handle),
                                      heif_image_handle_get_height(thumb.handle));
            if (side >= minSide && (bestSide == 0 || side < bestSide)) {
                std::swap(best.handle, thumb.handle);
                bestSide = side;
            }
        }
        return best.handle ? decodeHeifHandle(best.handle, heifName(data)) : QImage();
    } catch (const Exception&) {
        return {};
    }
}

QSize DeclaredPhotoSize(const QByteArray& data) {
    switch (DetectImageType(data)) {
    case ImageFileType::Tiff:
    case ImageFileType::Webp: {
        allowLargePictures();
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer,
                            DetectImageType(data) == ImageFileType::Tiff ? "tiff" : "webp");
        return reader.size();
    }
    case ImageFileType::Heic:
    case ImageFileType::Avif:
        try {
            HeifContext context;
            HeifHandle primary;
            openHeif(data, context, primary);
            return QSize(heif_image_handle_get_width(primary.handle),
                         heif_image_handle_get_height(primary.handle));
        } catch (const Exception&) {
            return {};
        }
    default:
        return {};
    }
}

bool WebpIsLossless(const QByteArray& data) {
    for (const RiffChunk& c : webpChunks(data)) {
        if (c.fourcc == "VP8L")
            return true;
        if (c.fourcc == "VP8 ")
            return false;
    }
    return false;
}

TContainerBlocks ReadContainerBlocks(const QByteArray& file) {
    switch (DetectImageType(file)) {
    case ImageFileType::Png:
        return pngBlocks(file);
    case ImageFileType::Webp:
        return webpBlocks(file);
    case ImageFileType::Tiff:
        return tiffBlocks(file);
    case ImageFileType::Heic:
    case ImageFileType::Avif:
        return heifBlocks(file);
    default:
        return {};
    }
}

bool CanEncode(ImageFileType type) {
    switch (type) {
    case ImageFileType::Jpeg:
    case ImageFileType::Gif:
    case ImageFileType::Png:
    case ImageFileType::Bmp:
        return true;
    case ImageFileType::Tiff:
        return QImageWriter::supportedImageFormats().contains("tiff");
    case ImageFileType::Webp:
        return QImageWriter::supportedImageFormats().contains("webp");
    case ImageFileType::Heic:
        return heifEncoderPresent(heif_compression_HEVC);
    case ImageFileType::Avif:
        return heifEncoderPresent(heif_compression_AV1);
    case ImageFileType::Ico:
    case ImageFileType::Other:
        break;
    }
    return false;
}

QByteArray EncodeTiff(const QImage& image, const TContainerBlocks& blocks) {
    const QImage src = toWorkingFormat(image);
    // Compression 1: LZW, lossless.
    return withTiffBlocks(encodeWithPlugin(src, "tiff", "TIFF", -1, 1), blocks);
}

QByteArray EncodeWebp(const QImage& image, bool lossless, int quality,
                      const TContainerBlocks& blocks) {
    const QImage src = image.hasAlphaChannel() ? image.convertToFormat(QImage::Format_ARGB32)
                                               : image.convertToFormat(QImage::Format_RGB32);
    // Qt's plugin codes losslessly at quality 100.
    const int q = lossless ? 100 : std::clamp(quality, 1, 100);
    return muxWebp(encodeWithPlugin(src, "webp", "WebP", q, -1), src.size(),
                   src.hasAlphaChannel(), blocks);
}

QByteArray EncodeHeif(const QImage& image, ImageFileType type, int quality,
                      const TContainerBlocks& blocks) {
    const bool avif = type == ImageFileType::Avif;
    const char* name = avif ? "AVIF" : "HEIC";
    if (image.isNull())
        throw EInvalidGraphic(
            QStringLiteral("Cannot write an empty picture as %1").arg(QLatin1String(name)));
    initHeif();
    const QImage src = toWorkingFormat(image);
    const bool deep = src.depth() == 64;
    const bool alpha = src.hasAlphaChannel();
    const int width = src.width(), height = src.height();

    HeifContext context;
    HeifEncoder encoder;
    heif_error err = heif_context_get_encoder_for_format(
        context.ctx, avif ? heif_compression_AV1 : heif_compression_HEVC, &encoder.encoder);
    if (err.code != heif_error_Ok)
        throw heifFailure(name, "Cannot write", err);
    heif_encoder_set_lossy_quality(encoder.encoder, std::clamp(quality, 1, 100));
    if (avif) {
        heif_encoder_set_parameter_integer(encoder.encoder, "speed", 6); // a 12 MP photo in seconds
        // libheif 1.15 hands aom a profile that takes 10 bits only with 4:2:2 chroma: 4:2:0 and
        // 4:4:4 abort the process inside aom.
        if (deep)
            heif_encoder_set_parameter_string(encoder.encoder, "chroma", "422");
    }

    HeifImage picture;
    const heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    err = heif_image_create(width, height, heif_colorspace_RGB, chroma, &picture.image);
    if (err.code == heif_error_Ok)
        err = heif_image_add_plane(picture.image, heif_channel_interleaved, width, height,
                                   deep ? 10 : 8);
    if (err.code != heif_error_Ok)
        throw heifFailure(name, "Cannot write", err);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture.image, heif_channel_interleaved, &stride);
    if (!plane)
        throw EInvalidGraphic(
            QStringLiteral("Cannot write %1 file: not enough memory").arg(QLatin1String(name)));
    for (int y = 0; y < height; ++y) {
        uint8_t* out = plane + qint64(y) * stride;
        if (deep) {
            const auto* in = reinterpret_cast<const QRgba64*>(src.constScanLine(y));
            auto put = [&out](quint16 v) {
                qToLittleEndian<quint16>(quint16((quint32(v) * 1023u + 32767u) / 65535u), out);
                out += 2;
            };
            for (int x = 0; x < width; ++x) {
                put(in[x].red());
                put(in[x].green());
                put(in[x].blue());
                if (alpha)
                    put(in[x].alpha());
            }
        } else {
            const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
            for (int x = 0; x < width; ++x) {
                *out++ = uint8_t(qRed(in[x]));
                *out++ = uint8_t(qGreen(in[x]));
                *out++ = uint8_t(qBlue(in[x]));
                if (alpha)
                    *out++ = uint8_t(qAlpha(in[x]));
            }
        }
    }
    if (!blocks.icc.isEmpty()) {
        err = heif_image_set_raw_color_profile(picture.image, "prof", blocks.icc.constData(),
                                               size_t(blocks.icc.size()));
        if (err.code != heif_error_Ok)
            throw heifFailure(name, "Cannot write", err);
    }
    HeifEncodingOptions options;
    HeifHandle handle;
    err = heif_context_encode_image(context.ctx, picture.image, encoder.encoder, options.options,
                                    &handle.handle);
    if (err.code != heif_error_Ok)
        throw heifFailure(name, "Cannot write", err);
    if (!blocks.exif.isEmpty()) {
        err = heif_context_add_exif_metadata(context.ctx, handle.handle, blocks.exif.constData(),
                                             int(blocks.exif.size()));
        if (err.code != heif_error_Ok)
            throw heifFailure(name, "Cannot write", err);
    }
    if (!blocks.xmp.isEmpty()) {
        err = heif_context_add_XMP_metadata(context.ctx, handle.handle, blocks.xmp.constData(),
                                            int(blocks.xmp.size()));
        if (err.code != heif_error_Ok)
            throw heifFailure(name, "Cannot write", err);
    }
    QByteArray out;
    heif_writer writer;
    writer.writer_api_version = 1;
    writer.write = heifWrite;
    err = heif_context_write(context.ctx, &writer, &out);
    if (err.code != heif_error_Ok)
        throw heifFailure(name, "Cannot write", err);
    return out;
}

QString ImageTypeName(ImageFileType type) {
    switch (type) {
    case ImageFileType::Jpeg:
        return QStringLiteral("JPEG");
    case ImageFileType::Gif:
        return QStringLiteral("GIF");
    case ImageFileType::Png:
        return QStringLiteral("PNG");
    case ImageFileType::Bmp:
        return QStringLiteral("BMP");
    case ImageFileType::Tiff:
        return QStringLiteral("TIFF");
    case ImageFileType::Webp:
        return QStringLiteral("WebP");
    case ImageFileType::Heic:
        return QStringLiteral("HEIC");
    case ImageFileType::Avif:
        return QStringLiteral("AVIF");
    case ImageFileType::Ico:
        return QStringLiteral("icon");
    case ImageFileType::Other:
        break;
    }
    return QString();
}

const QStringList& PhotoFileExtensions() {
    static const QStringList extensions = {
        QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("gif"),
        QStringLiteral("bmp"),  QStringLiteral("png"),  QStringLiteral("tif"),
        QStringLiteral("tiff"), QStringLiteral("webp"), QStringLiteral("heic"),
        QStringLiteral("heif"), QStringLiteral("avif")};
    return extensions;
}

bool HasPhotoExtension(const QString& fileName) {
    const QString name = fileName.trimmed();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    return PhotoFileExtensions().contains(name.mid(dot + 1).toLower());
}

QString PhotoFilePatterns(bool withUpperCase) {
    QStringList patterns;
    for (const QString& ext : PhotoFileExtensions())
        patterns << QStringLiteral("*.") + ext;
    if (withUpperCase)
        for (const QString& ext : PhotoFileExtensions())
            patterns << QStringLiteral("*.") + ext.toUpper();
    return patterns.join(QLatin1Char(' '));
}
