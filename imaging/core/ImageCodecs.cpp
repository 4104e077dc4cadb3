#include "imaging/core/ImageCodecs.h"

#include "imaging/core/CodecSupport.h"
#include "imaging/core/JpegStreamCheck.h"
#include "imaging/core/PhotoFormats.h"
#include "platform/AtomicFile.h"
#include "platform/ImageBuffer.h"
#include "platform/RegularFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>
// jpeglib.h must come first: jerror.h relies on its types.
#include <jerror.h>
#include <png.h>
#include <libheif/heif.h>

namespace {
// Set by DecodeImageWithin for the decode running on this thread; 0: no limit of its own.
thread_local qint64 pixelLimit = 0;

struct PixelLimit {
    explicit PixelLimit(qint64 pixels) { pixelLimit = pixels; }
    ~PixelLimit() { pixelLimit = 0; }
    PixelLimit(const PixelLimit&) = delete;
    PixelLimit& operator=(const PixelLimit&) = delete;
};

QString megapixels(qint64 pixels) {
    return QString::number(double(pixels) / 1e6, 'f', 1);
}
} // namespace

namespace CodecSupport {

// Called before any pixel memory is allocated, so hostile headers cannot make us allocate.
void checkDimensions(const char* format, qint64 width, qint64 height) {
    if (pixelLimit > 0 && width > 0 && height > 0 && width * height > pixelLimit)
        throw EInvalidGraphic(QStringLiteral("The %1 picture of %2 x %3 pixels is too large: a "
                                             "picture here may have %4 megapixels at most")
                                  .arg(QLatin1String(format))
                                  .arg(width)
                                  .arg(height)
                                  .arg(megapixels(pixelLimit)));
    if (width <= 0 || height <= 0)
        throw EInvalidGraphic(QStringLiteral("Invalid %1 file: the picture dimensions %2 x %3 are "
                                             "invalid")
                                  .arg(QLatin1String(format))
                                  .arg(width)
                                  .arg(height));
    if (width > MaxImageSide || height > MaxImageSide || width * height > MaxImagePixels)
        throw EInvalidGraphic(QStringLiteral("Invalid %1 file: the picture dimensions %2 x %3 are "
                                             "too large")
                                  .arg(QLatin1String(format))
                                  .arg(width)
                                  .arg(height));
}

QImage allocateImage(const char* format, int width, int height, QImage::Format pixelFormat) {
    QImage image = NewImageBuffer(width, height, pixelFormat);
    if (image.isNull())
        throw EInvalidGraphic(QStringLiteral("Invalid %1 file: not enough memory for a %2 x %3 "
                                             "picture")
                                  .arg(QLatin1String(format))
                                  .arg(width)
                                  .arg(height));
    return image;
}

// ---------------------------------------------------------------------------------------------
// JPEG. libjpeg reports fatal errors by longjmp. Every libjpeg call runs inside jpegGuarded,
// whose steps are plain C functions over plain structs, so the jump never skips a destructor.

namespace {

void jpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    // A file cut short makes libjpeg stop on a fake end marker: the cut is the real reason.
    if (err->dataMessage[0])
        std::memcpy(err->message, err->dataMessage, sizeof err->message);
    else
        (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

// libjpeg only warns about damaged pixel data and fills the rest with grey; we refuse such a
// picture instead of writing a half-grey photo over the original. Warnings about headers
// (extraneous bytes before a marker, unknown JFIF or Adobe versions, odd scan parameters, a bad
// ICC marker) are common in camera files and leave the pixels intact.
void jpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0)
        return;
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    err->mgr.num_warnings++;
    const int code = err->mgr.msg_code;
    if (code != JWRN_JPEG_EOF && code != JWRN_HIT_MARKER && code != JWRN_HUFF_BAD_CODE &&
        code != JWRN_ARITH_BAD_CODE && code != JWRN_MUST_RESYNC)
        return;
    if (!err->dataMessage[0])
        (*cinfo->err->format_message)(cinfo, err->dataMessage);
    if (code == JWRN_JPEG_EOF) {
        // libjpeg reads ahead, so a file lacking only its end marker warns too; whether
        // anything was lost is judged once the data is consumed (jpegDataComplete).
        err->sawEof = true;
        return;
    }
    std::memcpy(err->message, err->dataMessage, sizeof err->message);
    longjmp(err->jump, 1);
}

// A progressive file may declare any number of scans, each one a full pass over the picture;
// real encoders use about a dozen, so a hostile file is stopped long before it costs minutes.
constexpr int MaxJpegScans = 500;

} // namespace

void jpegInitError(JpegError* err) {
    jpeg_std_error(&err->mgr);
    err->mgr.error_exit = jpegErrorExit;
    err->mgr.emit_message = jpegEmitMessage;
    err->message[0] = 0;
    err->sawEof = false;
    err->dataMessage[0] = 0;
}

bool jpegGuarded(JpegError* err, void (*step)(void*), void* job) {
    if (setjmp(err->jump))
        return false;
    step(job);
    return true;
}

void jpegProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor)
        return;
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > MaxJpegScans) {
        auto* err = reinterpret_cast<JpegError*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "more than %d scans", MaxJpegScans);
        longjmp(err->jump, 1);
    }
}

EInvalidGraphic jpegFailure(const JpegError& err) {
    return EInvalidGraphic(
        QStringLiteral("Invalid JPEG file: %1").arg(QString::fromLocal8Bit(err.message)));
}

// After the data ended early: a single scan lost nothing unless the entropy decoder ran short
// of bits (which it reports, see jpegEmitMessage); a progressive file is whole when every
// coefficient of every component arrived at full precision. For several sequential scans there
// is no such record, so the picture counts as cut.
bool jpegDataComplete(j_decompress_ptr cinfo, const JpegError& err) {
    if (!err.sawEof)
        return true;
    if (cinfo->progressive_mode) {
        if (!cinfo->coef_bits)
            return false;
        for (int c = 0; c < cinfo->num_components; ++c)
            for (int k = 0; k < DCTSIZE2; ++k)
                if (cinfo->coef_bits[c][k] != 0)
                    return false;
        return true;
    }
    return !jpeg_has_multiple_scans(cinfo);
}

} // namespace CodecSupport

using namespace CodecSupport;

namespace {

QString path_(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Encoders accept any image; these two formats are read in place, others are converted once.
QImage asRgb32Source(const QImage& image, const char* format) {
    if (image.isNull())
        throw EInvalidGraphic(
            QStringLiteral("Cannot write an empty picture as %1").arg(QLatin1String(format)));
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32)
        return image;
    return image.convertToFormat(QImage::Format_RGB32);
}

// ---------------------------------------------------------------------------------------------
// JPEG

struct JpegDecodeJob {
    jpeg_decompress_struct cinfo;
    JpegError err;
    jpeg_progress_mgr progress;
    bool created;
    const unsigned char* data;
    unsigned long size;
    bool cmyk;
    bool scaled;
    JDIMENSION minWidth; // with scaled: the smallest output wanted
    JDIMENSION minHeight;
    JSAMPROW* rows; // one per output line, into the QImage
    bool complete;
    bool fastEntropy; // see jpegUseFastEntropy
};

void jpegDecodeHeader(void* p) {
    auto* job = static_cast<JpegDecodeJob*>(p);
    job->cinfo.err = &job->err.mgr;
    jpeg_create_decompress(&job->cinfo);
    job->created = true;
    job->progress.progress_monitor = jpegProgress;
    job->cinfo.progress = &job->progress;
    jpeg_mem_src(&job->cinfo, job->data, job->size);
    jpeg_read_header(&job->cinfo, TRUE);
    job->cmyk = job->cinfo.jpeg_color_space == JCS_CMYK || job->cinfo.jpeg_color_space == JCS_YCCK;
    job->cinfo.out_color_space = job->cmyk ? JCS_CMYK : JpegRgb32Space;
}

// The DCT scaling does the reduction almost for free: the largest one still covering the size.
void jpegChooseScale(void* p) {
    auto* job = static_cast<JpegDecodeJob*>(p);
    j_decompress_ptr cinfo = &job->cinfo;
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    if (job->scaled) {
        for (unsigned denom = 8; denom > 1; denom /= 2) {
            cinfo->scale_denom = denom;
            jpeg_calc_output_dimensions(cinfo);
            if (cinfo->output_width >= job->minWidth && cinfo->output_height >= job->minHeight)
                return;
        }
        cinfo->scale_denom = 1;
    }
    jpeg_calc_output_dimensions(cinfo);
}

void jpegReadRows(JpegDecodeJob* job) {
    j_decompress_ptr cinfo = &job->cinfo;
    const JDIMENSION height = cinfo->output_height;
    if (!job->cmyk) {
        while (cinfo->output_scanline < height) {
            if (jpeg_read_scanlines(cinfo, job->rows + cinfo->output_scanline,
                                    height - cinfo->output_scanline) == 0)
                break;
        }
        return;
    }
    // Adobe writes CMYK inverted (0 = full ink); that is by far the common case.
    const bool inverted = cinfo->saw_Adobe_marker;
    const JDIMENSION width = cinfo->output_width;
    JSAMPARRAY buffer = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                    JPOOL_IMAGE, width * 4, 1);
    while (cinfo->output_scanline < height) {
        const JDIMENSION y = cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, buffer, 1) == 0)
            break;
        const unsigned char* in = buffer[0];
        auto* out = reinterpret_cast<QRgb*>(job->rows[y]);
        for (JDIMENSION x = 0; x < width; ++x, in += 4) {
            unsigned c = in[0], m = in[1], yel = in[2], k = in[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                yel = 255 - yel;
                k = 255 - k;
            }
            out[x] = qRgb(int((c * k + 127) / 255), int((m * k + 127) / 255),
                          int((yel * k + 127) / 255));
        }
    }
}

void jpegDecodePixels(void* p) {
    auto* job = static_cast<JpegDecodeJob*>(p);
    jpeg_start_decompress(&job->cinfo);
    if (job->fastEntropy)
        jpegUseFastEntropy(&job->cinfo, job->data, job->size);
    jpegReadRows(job);
    job->complete = jpegDataComplete(&job->cinfo, job->err);
}

struct JpegDecodeCleanup {
    JpegDecodeJob* job;
    ~JpegDecodeCleanup() {
        if (job->created)
            jpeg_destroy_decompress(&job->cinfo);
    }
};

struct JpegEncodeJob {
    jpeg_compress_struct cinfo;
    JpegError err;
    bool created;
    unsigned char* out;
    unsigned long outSize;
    int width;
    int height;
    int quality;
    bool grayscale;
    JSAMPROW* rows;
    jpeg_destination_mgr* dest; // when set, instead of memory
};

void jpegEncodeAll(void* p) {
    auto* job = static_cast<JpegEncodeJob*>(p);
    j_compress_ptr cinfo = &job->cinfo;
    cinfo->err = &job->err.mgr;
    jpeg_create_compress(cinfo);
    job->created = true;
    if (job->dest)
        cinfo->dest = job->dest;
    else
        jpeg_mem_dest(cinfo, &job->out, &job->outSize);
    cinfo->image_width = JDIMENSION(job->width);
    cinfo->image_height = JDIMENSION(job->height);
    cinfo->input_components = 4;
    cinfo->in_color_space = JpegRgb32Space;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, job->quality, TRUE);
    if (job->grayscale)
        jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height)
        jpeg_write_scanlines(cinfo, job->rows + cinfo->next_scanline,
                             cinfo->image_height - cinfo->next_scanline);
    jpeg_finish_compress(cinfo);
}

struct JpegEncodeCleanup {
    JpegEncodeJob* job;
    ~JpegEncodeCleanup() {
        if (job->created)
            jpeg_destroy_compress(&job->cinfo);
        free(job->out);
    }
};

// ---------------------------------------------------------------------------------------------
// PNG, with the same discipline as JPEG: libpng's longjmp lands in pngGuarded only.

struct PngJob {
    png_structp png;
    png_infop info;
    const unsigned char* data;
    size_t size;
    size_t pos;
    char message[256];
    png_uint_32 width;
    png_uint_32 height;
    bool alpha;
    bool deep; // 16 bits a channel, read as QImage's 64-bit pixels
    png_bytep* rows;
};

void pngError(png_structp png, png_const_charp message) {
    auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
    std::snprintf(job->message, sizeof job->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngRead(png_structp png, png_bytep out, size_t length) {
    auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
    if (length > job->size - job->pos)
        png_error(png, "the file is truncated");
    std::memcpy(out, job->data + job->pos, length);
    job->pos += length;
}

bool pngGuarded(PngJob* job, void (*step)(PngJob*)) {
    if (setjmp(png_jmpbuf(job->png)))
        return false;
    step(job);
    return true;
}

void pngReadHeader(PngJob* job) {
    png_structp png = job->png;
    png_infop info = job->info;
    png_set_read_fn(png, job, pngRead);
    // Our own dimension check runs between the header and the first row allocation.
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(png, info);
    job->width = png_get_image_width(png, info);
    job->height = png_get_image_height(png, info);
}

void pngSetTransforms(PngJob* job) {
    png_structp png = job->png;
    png_infop info = job->info;
    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    job->alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0;
    // A palette holds 8-bit colours whatever the index depth.
    job->deep = bitDepth == 16 && colorType != PNG_COLOR_TYPE_PALETTE;
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0 && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
        job->alpha = true;
    }
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0)
        png_set_gray_to_rgb(png);
    if (job->deep) {
        // RGBX64/RGBA64 hold R, G, B, A as native 16-bit words; PNG stores them big-endian.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        png_set_swap(png);
#endif
        if (!job->alpha)
            png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
    } else {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        png_set_bgr(png);
        if (!job->alpha)
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
#else
        if (job->alpha)
            png_set_swap_alpha(png);
        else
            png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
#endif
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
}

// The chunks after the pixel data are not read: a file that only lacks its end chunk still
// gives its whole picture.
void pngReadPixels(PngJob* job) {
    png_read_image(job->png, job->rows);
}

struct PngCleanup {
    PngJob* job;
    ~PngCleanup() {
        if (job->png)
            png_destroy_read_struct(&job->png, job->info ? &job->info : nullptr, nullptr);
    }
};

struct PngWriteJob {
    png_structp png;
    png_infop info;
    QByteArray* out;
    char message[256];
    int width;
    int height;
    bool alpha;
    bool deep; // the rows are RGBX64/RGBA64 pixels, written at 16 bits a channel
    png_bytep* rows;
};

void pngWriteError(png_structp png, png_const_charp message) {
    auto* job = static_cast<PngWriteJob*>(png_get_error_ptr(png));
    std::snprintf(job->message, sizeof job->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

void pngWriteData(png_structp png, png_bytep data, size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

void pngFlush(png_structp) {}

// The rows are QImage's own pixels; libpng reorders or drops bytes as it writes them.
void pngWriteAll(PngWriteJob* job) {
    png_structp png = job->png;
    png_infop info = job->info;
    png_set_write_fn(png, job->out, pngWriteData, pngFlush);
    png_set_IHDR(png, info, png_uint_32(job->width), png_uint_32(job->height), job->deep ? 16 : 8,
                 job->alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (job->deep) {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        png_set_swap(png);
#endif
        if (!job->alpha)
            png_set_filler(png, 0, PNG_FILLER_AFTER);
    } else {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        png_set_bgr(png);
        if (!job->alpha)
            png_set_filler(png, 0, PNG_FILLER_AFTER);
#else
        if (job->alpha)
            png_set_swap_alpha(png);
        else
            png_set_filler(png, 0, PNG_FILLER_BEFORE);
#endif
    }
    png_write_image(png, job->rows);
    png_write_end(png, info);
}

bool pngWriteGuarded(PngWriteJob* job) {
    if (setjmp(png_jmpbuf(job->png)))
        return false;
    pngWriteAll(job);
    return true;
}

EInvalidGraphic pngFailure(const PngJob& job) {
    return EInvalidGraphic(
        QStringLiteral("Invalid PNG file: %1").arg(QString::fromLocal8Bit(job.message)));
}

// ---------------------------------------------------------------------------------------------
// GIF

struct GifInput {
    const unsigned char* data;
    qint64 size;
    qint64 pos;
};

int gifRead(GifFileType* gif, GifByteType* out, int length) {
    auto* in = static_cast<GifInput*>(gif->UserData);
    const qint64 n = std::min<qint64>(length, in->size - in->pos);
    if (n <= 0)
        return 0;
    std::memcpy(out, in->data + in->pos, size_t(n));
    in->pos += n;
    return int(n);
}

int gifWrite(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

EInvalidGraphic gifFailure(int error) {
    const char* text = GifErrorString(error);
    return EInvalidGraphic(
        QStringLiteral("Invalid GIF file: %1")
            .arg(text ? QString::fromLatin1(text) : QStringLiteral("error %1").arg(error)));
}

struct GifReadCloser {
    GifFileType* gif;
    ~GifReadCloser() {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

struct GifColors {
    int width = 0;
    int height = 0;
    std::vector<GifByteType> indices;
    GifColorType map[256];
};

// giflib's median cut works on 5 bits a channel, splits its boxes by population and scales
// the colours back without rounding: white comes out as (248, 248, 248), and a small area in a
// colour of its own, such as caption text, is merged into a box of photo colours. So the cut
// gets all but a few entries, the exact colours it would distort most (pixels x squared error)
// get entries of their own, and every entry is then set from the exact pixels it stands for.
constexpr int GifKeptColours = 16;

// A majority vote over colours (Boyer-Moore), then a count of the winner.
struct ColourVote {
    QRgb colour = 0;
    quint64 lead = 0;
    quint64 total = 0;
    quint64 wins = 0;
    void vote(QRgb c) {
        ++total;
        if (lead == 0) {
            colour = c;
            lead = 1;
        } else if (c == colour) {
            ++lead;
        } else {
            --lead;
        }
    }
    void recount(QRgb c) {
        if (c == colour)
            ++wins;
    }
};

// The colour an entry stands for: the dominant exact colour of its pixels when it makes more
// than half of them (flat areas keep their colour), otherwise their mean.
struct PaletteEntry {
    ColourVote vote;
    quint64 sum[3] = {0, 0, 0};
    void add(QRgb c) {
        vote.vote(c);
        sum[0] += quint64(qRed(c));
        sum[1] += quint64(qGreen(c));
        sum[2] += quint64(qBlue(c));
    }
    QRgb mean() const {
        const quint64 n = vote.total;
        return qRgb(int((sum[0] + n / 2) / n), int((sum[1] + n / 2) / n),
                    int((sum[2] + n / 2) / n));
    }
    QRgb colour() const { return vote.wins * 2 > vote.total ? vote.colour : mean(); }
};

int colourBox(QRgb c) {
    return ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3);
}

quint64 squaredDistance(QRgb a, QRgb b) {
    const int r = qRed(a) - qRed(b), g = qGreen(a) - qGreen(b), bl = qBlue(a) - qBlue(b);
    return quint64(r * r + g * g + bl * bl);
}

template <class Visit> void forEachGifPixel(const QImage& src, GifColors& q, Visit visit) {
    GifByteType* index = q.indices.data();
    for (int y = 0; y < q.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < q.width; ++x)
            visit(*index++, line[x] | 0xFF000000u);
    }
}

void refineGifColors(const QImage& src, GifColors& q, int used) {
    // giflib gives every pixel of a 5-bit box the same entry.
    std::vector<ColourVote> boxes(32768);
    std::vector<GifByteType> boxEntry(32768, 0);
    std::vector<PaletteEntry> entries(256);
    forEachGifPixel(src, q, [&](GifByteType& i, QRgb c) {
        boxes[size_t(colourBox(c))].vote(c);
        boxEntry[size_t(colourBox(c))] = i;
        entries[i].add(c);
    });
    forEachGifPixel(src, q, [&](GifByteType&, QRgb c) { boxes[size_t(colourBox(c))].recount(c); });

    struct Cost {
        quint64 cost;
        int box;
    };
    std::vector<Cost> costs;
    for (int b = 0; b < 32768; ++b) {
        const ColourVote& box = boxes[size_t(b)];
        if (box.wins == 0)
            continue;
        const quint64 cost =
            box.wins * squaredDistance(box.colour, entries[boxEntry[size_t(b)]].mean());
        if (cost > 0)
            costs.push_back({cost, b});
    }
    const size_t kept = std::min(costs.size(), size_t(std::max(0, 256 - used)));
    std::partial_sort(costs.begin(), costs.begin() + qsizetype(kept), costs.end(),
                      [](const Cost& a, const Cost& b) { return a.cost > b.cost; });
    std::vector<int> keptEntry(32768, -1);
    for (size_t k = 0; k < kept; ++k)
        keptEntry[size_t(costs[k].box)] = used + int(k);

    entries.assign(256, PaletteEntry());
    forEachGifPixel(src, q, [&](GifByteType& i, QRgb c) {
        const size_t box = size_t(colourBox(c));
        if (keptEntry[box] >= 0 && c == boxes[box].colour)
            i = GifByteType(keptEntry[box]);
        entries[i].add(c);
    });
    forEachGifPixel(src, q, [&](GifByteType& i, QRgb c) { entries[i].vote.recount(c); });
    for (int i = 0; i < 256; ++i) {
        if (entries[size_t(i)].vote.total == 0)
            continue;
        const QRgb c = entries[size_t(i)].colour();
        q.map[i] =
            GifColorType{GifByteType(qRed(c)), GifByteType(qGreen(c)), GifByteType(qBlue(c))};
    }
}

GifColors quantizeForGif(const QImage& image) {
    const QImage src = asRgb32Source(image, "GIF");
    checkDimensions("GIF", src.width(), src.height());
    GifColors q;
    q.width = src.width();
    q.height = src.height();
    const size_t count = size_t(q.width) * size_t(q.height);
    std::vector<GifByteType> red(count), green(count), blue(count);
    q.indices.resize(count);
    size_t i = 0;
    for (int y = 0; y < q.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < q.width; ++x, ++i) {
            red[i] = GifByteType(qRed(line[x]));
            green[i] = GifByteType(qGreen(line[x]));
            blue[i] = GifByteType(qBlue(line[x]));
        }
    }
    std::memset(q.map, 0, sizeof q.map);
    int mapSize = 256 - GifKeptColours;
    if (GifQuantizeBuffer(unsigned(q.width), unsigned(q.height), &mapSize, red.data(), green.data(),
                          blue.data(), q.indices.data(), q.map) == GIF_ERROR)
        throw EInvalidGraphic(QStringLiteral("Cannot reduce the picture to 256 colours"));
    refineGifColors(src, q, mapSize);
    return q;
}

// ---------------------------------------------------------------------------------------------
// BMP

enum : quint32 { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3, BiAlphaBitfields = 6 };

[[noreturn]] void bmpFail(const QString& why) {
    throw EInvalidGraphic(QStringLiteral("Invalid BMP file: %1").arg(why));
}

struct BmpBytes {
    const uchar* p;
    qint64 n;
    void need(qint64 offset, qint64 length) const {
        if (offset < 0 || length < 0 || offset > n || length > n - offset)
            bmpFail(QStringLiteral("the file is truncated"));
    }
    quint16 u16(qint64 offset) const {
        need(offset, 2);
        return qFromLittleEndian<quint16>(p + offset);
    }
    quint32 u32(qint64 offset) const {
        need(offset, 4);
        return qFromLittleEndian<quint32>(p + offset);
    }
    qint32 i32(qint64 offset) const { return qint32(u32(offset)); }
};

// One channel of a bit-field pixel, scaled to 0..255.
struct BmpChannel {
    quint32 mask = 0;
    int shift = 0;
    quint32 max = 0;
    explicit BmpChannel(quint32 m = 0) : mask(m) {
        if (!m)
            return;
        while (!((m >> shift) & 1))
            ++shift;
        max = m >> shift;
    }
    int get(quint32 pixel, int absent) const {
        if (!mask)
            return absent;
        const quint32 v = (pixel & mask) >> shift;
        if (max == 255)
            return int(v);
        return int((quint64(v) * 255 + max / 2) / max);
    }
};

void bmpDecodeRle(const BmpBytes& in, qint64 start, bool rle4, QImage& image, const QRgb* lut) {
    const int width = image.width();
    const int height = image.height();
    qint64 pos = start;
    int x = 0;
    int row = 0; // counted from the bottom
    auto put = [&](int index) {
        if (x < width && row < height)
            reinterpret_cast<QRgb*>(image.scanLine(height - 1 - row))[x] = lut[index & 0xFF];
        ++x;
    };
    while (row < height && pos + 2 <= in.n) {
        const int count = in.p[pos];
        const int value = in.p[pos + 1];
        pos += 2;
        if (count > 0) {
            for (int i = 0; i < count && x < width; ++i)
                put(rle4 ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++row;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // move
            in.need(pos, 2);
            x += in.p[pos];
            row += in.p[pos + 1];
            pos += 2;
        } else { // a literal run, padded to 16 bits
            const qint64 bytes = rle4 ? (value + 1) / 2 : value;
            in.need(pos, bytes);
            for (int i = 0; i < value; ++i) {
                const int byte = in.p[pos + (rle4 ? i / 2 : i)];
                put(rle4 ? ((i & 1) ? byte & 0x0F : byte >> 4) : byte);
            }
            pos += (bytes + 1) & ~qint64(1);
        }
    }
}

// Readers for QImageReader's formats.
QImage decodeWithQt(const QByteArray& data, ImageFileType type) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead())
        throw EInvalidGraphic(type == ImageFileType::Ico
                                  ? QStringLiteral("Invalid icon file")
                                  : QStringLiteral("Unknown picture format"));
    const QSize size = reader.size();
    if (size.isValid())
        checkDimensions(type == ImageFileType::Ico ? "icon" : "picture", size.width(),
                        size.height());
    QImage image;
    if (!reader.read(&image))
        throw EInvalidGraphic(QStringLiteral("Invalid %1 file: %2")
                                  .arg(type == ImageFileType::Ico ? QStringLiteral("icon")
                                                                  : QStringLiteral("picture"),
                                       reader.errorString()));
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                         : QImage::Format_RGB32);
}

} // namespace

ImageFileType DetectImageType(const QByteArray& data) {
    const auto* p = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype n = data.size();
    if (n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF)
        return ImageFileType::Jpeg;
    if (data.startsWith("GIF8"))
        return ImageFileType::Gif;
    if (data.startsWith("\x89PNG"))
        return ImageFileType::Png;
    if (data.startsWith("BM"))
        return ImageFileType::Bmp;
    if (n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0)
        return ImageFileType::Ico;
    // Little- and big-endian TIFF, and BigTIFF.
    if (n >= 4 && ((p[0] == 'I' && p[1] == 'I' && (p[2] == 42 || p[2] == 43) && p[3] == 0) ||
                   (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && (p[3] == 42 || p[3] == 43))))
        return ImageFileType::Tiff;
    if (n >= 12 && data.startsWith("RIFF") && std::memcmp(p + 8, "WEBP", 4) == 0)
        return ImageFileType::Webp;
    if (n >= 12 && std::memcmp(p + 4, "ftyp", 4) == 0) {
        // The brands of an ISO media file tell HEIF (HEVC-coded) from AVIF.
        const char* mime =
            heif_get_file_mime_type(p, int(std::min<qsizetype>(n, 4096)));
        const QByteArray type(mime ? mime : "");
        if (type.startsWith("image/avif"))
            return ImageFileType::Avif;
        if (type.startsWith("image/heic") || type.startsWith("image/heif"))
            return ImageFileType::Heic;
    }
    return ImageFileType::Other;
}

QImage DecodeImage(const QByteArray& data) {
    const ImageFileType type = DetectImageType(data);
    switch (type) {
    case ImageFileType::Jpeg:
        return DecodeJpeg(data);
    case ImageFileType::Gif:
        return DecodeGif(data);
    case ImageFileType::Png:
        return DecodePng(data);
    case ImageFileType::Bmp:
        return DecodeBmp(data);
    case ImageFileType::Tiff:
        return DecodeTiff(data);
    case ImageFileType::Webp:
        return DecodeWebp(data);
    case ImageFileType::Heic:
    case ImageFileType::Avif:
        return DecodeHeif(data);
    case ImageFileType::Ico:
    case ImageFileType::Other:
        break;
    }
    if (data.isEmpty())
        throw EInvalidGraphic(QStringLiteral("Unknown picture format"));
    return decodeWithQt(data, type);
}

QImage DecodeImageWithin(const QByteArray& data, qint64 maxPixels) {
    if (DetectImageType(data) == ImageFileType::Jpeg) {
        QBuffer buffer;
        buffer.setData(data);
        const QSize full = QImageReader(&buffer, "jpeg").size();
        if (!full.isValid() || qint64(full.width()) * full.height() <= maxPixels)
            return DecodeJpeg(data);
        for (int denom = 2; denom <= 8; denom *= 2) {
            const int w = (full.width() + denom - 1) / denom;
            const int h = (full.height() + denom - 1) / denom;
            if (qint64(w) * h <= maxPixels)
                return DecodeJpegScaled(data, w, h);
        }
        const PixelLimit limit(maxPixels);
        checkDimensions("JPEG", full.width(), full.height()); // throws
    }
    const PixelLimit limit(maxPixels);
    return DecodeImage(data);
}

QImage ReadImageFile(const QString& path) {
    const QByteArray bytes = ReadFileBytes(path);
    try {
        return DecodeImage(bytes);
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(
            QStringLiteral("Cannot read picture \"%1\". %2").arg(path_(path), e.message()));
    }
}

namespace {

// A full decode, or with minSize the smallest DCT-scaled one covering it.
QImage decodeJpeg(const QByteArray& data, const QSize* minSize, bool fastEntropy) {
    JpegDecodeJob job;
    std::memset(static_cast<void*>(&job), 0, sizeof job);
    jpegInitError(&job.err);
    job.fastEntropy = fastEntropy;
    job.data = reinterpret_cast<const unsigned char*>(data.constData());
    job.size = static_cast<unsigned long>(data.size());
    if (minSize) {
        job.scaled = true;
        job.minWidth = JDIMENSION(std::max(0, minSize->width()));
        job.minHeight = JDIMENSION(std::max(0, minSize->height()));
    }
    JpegDecodeCleanup cleanup{&job};

    if (!jpegGuarded(&job.err, jpegDecodeHeader, &job))
        throw jpegFailure(job.err);
    checkDimensions("JPEG", job.cinfo.image_width, job.cinfo.image_height);
    if (!jpegGuarded(&job.err, jpegChooseScale, &job))
        throw jpegFailure(job.err);
    QImage image = allocateImage("JPEG", int(job.cinfo.output_width), int(job.cinfo.output_height),
                                 QImage::Format_RGB32);
    std::vector<JSAMPROW> rows(size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        rows[size_t(y)] = image.scanLine(y);
    job.rows = rows.data();
    if (!jpegGuarded(&job.err, jpegDecodePixels, &job)) {
        if (jpegFastEntropyFailed(&job.cinfo))
            throw FastEntropyRefused();
        throw jpegFailure(job.err);
    }
    if (!job.complete)
        throw EInvalidGraphic(QStringLiteral("Invalid JPEG file: %1")
                                  .arg(QString::fromLocal8Bit(job.err.dataMessage)));
    return image;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data) {
    return jpegDecodeEitherWay([&](bool fast) { return decodeJpeg(data, nullptr, fast); });
}

QImage DecodeJpegScaled(const QByteArray& data, int minWidth, int minHeight) {
    const QSize minSize(minWidth, minHeight);
    return jpegDecodeEitherWay([&](bool fast) { return decodeJpeg(data, &minSize, fast); });
}

QImage DecodeJpegScaledByLibjpeg(const QByteArray& data, int minWidth, int minHeight) {
    const QSize minSize(minWidth, minHeight);
    return decodeJpeg(data, &minSize, false);
}

namespace {

QByteArray encodeJpeg(const QImage& image, int quality, bool grayscale, JpegStreamCheck* check) {
    const QImage src = asRgb32Source(image, "JPEG");
    JpegEncodeJob job;
    std::memset(static_cast<void*>(&job), 0, sizeof job);
    jpegInitError(&job.err);
    job.width = src.width();
    job.height = src.height();
    job.quality = std::clamp(quality, 1, 100);
    job.grayscale = grayscale;
    std::vector<JSAMPROW> rows(size_t(src.height()));
    for (int y = 0; y < src.height(); ++y)
        rows[size_t(y)] = const_cast<JSAMPROW>(src.constScanLine(y));
    job.rows = rows.data();
    job.dest = check ? check->destination() : nullptr;
    JpegEncodeCleanup cleanup{&job};
    if (!jpegGuarded(&job.err, jpegEncodeAll, &job)) {
        if (check)
            check->abandon();
        throw EInvalidGraphic(QStringLiteral("Cannot write JPEG file: %1")
                                  .arg(QString::fromLocal8Bit(job.err.message)));
    }
    if (check)
        return check->finish();
    return QByteArray(reinterpret_cast<const char*>(job.out), qsizetype(job.outSize));
}

} // namespace

QByteArray EncodeJpeg(const QImage& image, int quality, bool grayscale) {
    return encodeJpeg(image, quality, grayscale, nullptr);
}

QByteArray EncodeJpegChecked(const QImage& image, int quality, bool grayscale) {
    JpegStreamCheck check;
    return encodeJpeg(image, quality, grayscale, &check);
}

QImage DecodePng(const QByteArray& data) {
    PngJob job;
    std::memset(static_cast<void*>(&job), 0, sizeof job);
    job.data = reinterpret_cast<const unsigned char*>(data.constData());
    job.size = size_t(data.size());
    PngCleanup cleanup{&job};
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, pngError, pngWarning);
    if (job.png)
        job.info = png_create_info_struct(job.png);
    if (!job.png || !job.info)
        throw EInvalidGraphic(QStringLiteral("Invalid PNG file: not enough memory"));

    if (!pngGuarded(&job, pngReadHeader))
        throw pngFailure(job);
    checkDimensions("PNG", job.width, job.height);
    if (!pngGuarded(&job, pngSetTransforms))
        throw pngFailure(job);
    const QImage::Format format =
        job.deep ? (job.alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                 : (job.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QImage image = allocateImage("PNG", int(job.width), int(job.height), format);
    std::vector<png_bytep> rows(size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        rows[size_t(y)] = image.scanLine(y);
    job.rows = rows.data();
    if (!pngGuarded(&job, pngReadPixels))
        throw pngFailure(job);
    return image;
}

QByteArray EncodePng(const QImage& image) {
    if (image.isNull())
        throw EInvalidGraphic(QStringLiteral("Cannot write an empty picture as PNG"));
    // Straight alpha, as PNG stores it; 16 bits a channel for 64-bit pictures.
    const bool alpha = image.hasAlphaChannel();
    const bool deep = image.depth() == 64 || image.format() == QImage::Format_Grayscale16;
    const QImage src = image.convertToFormat(
        deep ? (alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
             : (alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32));
    QByteArray out;
    PngWriteJob job;
    std::memset(static_cast<void*>(&job), 0, sizeof job);
    job.out = &out;
    job.width = src.width();
    job.height = src.height();
    job.alpha = alpha;
    job.deep = deep;
    std::vector<png_bytep> rows(size_t(src.height()));
    for (int y = 0; y < src.height(); ++y)
        rows[size_t(y)] = const_cast<png_bytep>(src.constScanLine(y));
    job.rows = rows.data();
    job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, pngWriteError, pngWarning);
    if (job.png)
        job.info = png_create_info_struct(job.png);
    struct Cleanup {
        PngWriteJob* job;
        ~Cleanup() {
            if (job->png)
                png_destroy_write_struct(&job->png, job->info ? &job->info : nullptr);
        }
    } cleanup{&job};
    if (!job.png || !job.info)
        throw EInvalidGraphic(QStringLiteral("Cannot write PNG file: not enough memory"));
    if (!pngWriteGuarded(&job))
        throw EInvalidGraphic(
            QStringLiteral("Cannot write PNG file: %1").arg(QString::fromLocal8Bit(job.message)));
    return out;
}

// The first frame, painted on a canvas of the logical screen size. The canvas is transparent
// when the frame has a transparent colour, otherwise filled with the background colour.
QImage DecodeGif(const QByteArray& data) {
    GifInput input{reinterpret_cast<const unsigned char*>(data.constData()), data.size(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&input, gifRead, &error);
    if (!gif)
        throw gifFailure(error);
    GifReadCloser closer{gif};

    int transparent = -1;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR)
            throw gifFailure(gif->Error);
        if (record == TERMINATE_RECORD_TYPE)
            throw EInvalidGraphic(QStringLiteral("Invalid GIF file: it holds no picture"));
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
                throw gifFailure(gif->Error);
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
                transparent = (block[1] & 1) ? block[4] : -1;
            while (block) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                    throw gifFailure(gif->Error);
            }
            continue;
        }
        if (record == IMAGE_DESC_RECORD_TYPE)
            break;
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR)
        throw gifFailure(gif->Error);

    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* colors = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!colors)
        throw EInvalidGraphic(QStringLiteral("Invalid GIF file: it has no colour table"));
    qint64 canvasWidth = gif->SWidth;
    qint64 canvasHeight = gif->SHeight;
    if (canvasWidth <= 0 || canvasHeight <= 0) {
        canvasWidth = qint64(frame.Left) + frame.Width;
        canvasHeight = qint64(frame.Top) + frame.Height;
    }
    checkDimensions("GIF", canvasWidth, canvasHeight);
    // The frame is decoded row by row, but a huge one would still cost its full decoding time.
    if (frame.Width != 0 && frame.Height != 0)
        checkDimensions("GIF", frame.Width, frame.Height);

    QRgb lut[256];
    std::fill(std::begin(lut), std::end(lut), qRgb(0, 0, 0));
    for (int i = 0; i < std::min(colors->ColorCount, 256); ++i)
        lut[i] = qRgb(colors->Colors[i].Red, colors->Colors[i].Green, colors->Colors[i].Blue);

    QImage canvas;
    if (transparent >= 0) {
        canvas = allocateImage("GIF", int(canvasWidth), int(canvasHeight), QImage::Format_ARGB32);
        canvas.fill(Qt::transparent);
    } else {
        canvas = allocateImage("GIF", int(canvasWidth), int(canvasHeight), QImage::Format_RGB32);
        const ColorMapObject* global = gif->SColorMap;
        QRgb background = qRgb(0, 0, 0);
        if (global && gif->SBackGroundColor >= 0 && gif->SBackGroundColor < global->ColorCount) {
            const GifColorType& c = global->Colors[gif->SBackGroundColor];
            background = qRgb(c.Red, c.Green, c.Blue);
        }
        canvas.fill(background);
    }
    if (frame.Width == 0 || frame.Height == 0)
        return canvas;

    std::vector<GifPixelType> line(size_t(frame.Width));
    const int width = int(canvasWidth);
    const int height = int(canvasHeight);
    auto paintRow = [&](int y) {
        if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR)
            throw gifFailure(gif->Error);
        const int cy = frame.Top + y;
        if (cy < 0 || cy >= height)
            return;
        auto* out = reinterpret_cast<QRgb*>(canvas.scanLine(cy));
        const int xEnd = std::min(frame.Width, width - frame.Left);
        for (int x = std::max(0, -frame.Left); x < xEnd; ++x) {
            const int index = line[size_t(x)];
            if (index != transparent)
                out[frame.Left + x] = lut[index];
        }
    };
    if (frame.Interlace) {
        static const int start[] = {0, 4, 2, 1};
        static const int step[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = start[pass]; y < frame.Height; y += step[pass])
                paintRow(y);
    } else {
        // Rows below the canvas are never seen.
        for (int y = 0; y < frame.Height && frame.Top + y < height; ++y)
            paintRow(y);
    }
    return canvas;
}

QImage ReduceToGifColors(const QImage& image) {
    const GifColors q = quantizeForGif(image);
    QImage out = allocateImage("GIF", q.width, q.height, QImage::Format_RGB32);
    QRgb lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = qRgb(q.map[i].Red, q.map[i].Green, q.map[i].Blue);
    const GifByteType* index = q.indices.data();
    for (int y = 0; y < q.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < q.width; ++x)
            line[x] = lut[*index++];
    }
    return out;
}

QByteArray EncodeGif(const QImage& image) {
    const GifColors q = quantizeForGif(image);
    QByteArray out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, gifWrite, &error);
    if (!gif)
        throw EInvalidGraphic(QStringLiteral("Cannot write GIF file: %1")
                                  .arg(QString::fromLatin1(GifErrorString(error))));
    struct Closer {
        GifFileType* gif;
        ColorMapObject* map = nullptr;
        ~Closer() {
            int e = 0;
            if (gif)
                EGifCloseFile(gif, &e);
            if (map)
                GifFreeMapObject(map);
        }
    } closer{gif};
    closer.map = GifMakeMapObject(256, q.map);
    auto fail = [&]() {
        return EInvalidGraphic(QStringLiteral("Cannot write GIF file: %1")
                                   .arg(QString::fromLatin1(GifErrorString(gif->Error))));
    };
    if (!closer.map)
        throw EInvalidGraphic(QStringLiteral("Cannot write GIF file: not enough memory"));
    if (EGifPutScreenDesc(gif, q.width, q.height, 8, 0, closer.map) == GIF_ERROR ||
        EGifPutImageDesc(gif, 0, 0, q.width, q.height, false, nullptr) == GIF_ERROR)
        throw fail();
    for (int y = 0; y < q.height; ++y) {
        auto* row = const_cast<GifPixelType*>(q.indices.data() + size_t(y) * size_t(q.width));
        if (EGifPutLine(gif, row, q.width) == GIF_ERROR)
            throw fail();
    }
    closer.gif = nullptr;
    if (EGifCloseFile(gif, &error) == GIF_ERROR)
        throw EInvalidGraphic(QStringLiteral("Cannot write GIF file: %1")
                                  .arg(QString::fromLatin1(GifErrorString(error))));
    return out;
}

QImage DecodeBmp(const QByteArray& data) {
    const BmpBytes in{reinterpret_cast<const uchar*>(data.constData()), data.size()};
    if (in.n < 2 || in.p[0] != 'B' || in.p[1] != 'M')
        bmpFail(QStringLiteral("the signature is missing"));
    const quint32 pixelOffset = in.u32(10);
    const quint32 headerSize = in.u32(14);

    qint64 width = 0;
    qint64 height = 0;
    int bits = 0;
    quint32 compression = BiRgb;
    quint32 colorsUsed = 0;
    quint32 masks[4] = {0, 0, 0, 0};
    bool hasMasks = false;
    qint64 paletteStart = 14 + qint64(headerSize);
    int paletteEntry = 4;
    if (headerSize == 12) { // OS/2 core header
        width = in.u16(18);
        height = qint16(in.u16(20));
        bits = in.u16(24);
        paletteEntry = 3;
    } else if (headerSize >= 40 && headerSize <= 1024) {
        width = in.i32(18);
        height = in.i32(22);
        bits = in.u16(28);
        compression = in.u32(30);
        colorsUsed = in.u32(46);
        if (compression == BiBitfields || compression == BiAlphaBitfields) {
            const bool inHeader = headerSize >= 52;
            const int maskCount = (compression == BiAlphaBitfields || headerSize >= 56) ? 4 : 3;
            const qint64 at = inHeader ? 54 : 14 + qint64(headerSize);
            for (int i = 0; i < maskCount; ++i)
                masks[i] = in.u32(at + 4 * i);
            if (!inHeader)
                paletteStart += 4 * maskCount;
            hasMasks = true;
        }
    } else {
        bmpFail(QStringLiteral("unsupported header size %1").arg(headerSize));
    }
    in.need(0, paletteStart);

    const bool topDown = height < 0;
    height = std::abs(height);
    checkDimensions("BMP", width, height);

    const bool rle = compression == BiRle8 || compression == BiRle4;
    if (rle && (bits != (compression == BiRle8 ? 8 : 4) || topDown))
        bmpFail(QStringLiteral("bad run-length compression"));
    if (!rle && compression != BiRgb && !hasMasks)
        bmpFail(QStringLiteral("compression %1 is not supported").arg(compression));
    if (hasMasks && bits != 16 && bits != 32)
        bmpFail(QStringLiteral("bit fields need 16 or 32 bits per pixel"));
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        bmpFail(QStringLiteral("%1 bits per pixel are not supported").arg(bits));

    QRgb lut[256];
    std::fill(std::begin(lut), std::end(lut), qRgb(0, 0, 0));
    if (bits <= 8) {
        qint64 count = colorsUsed ? std::min<qint64>(colorsUsed, 1 << bits) : (1 << bits);
        // Writers that declare more colours than fit before the pixels get what fits.
        if (pixelOffset >= paletteStart)
            count = std::min<qint64>(count, (pixelOffset - paletteStart) / paletteEntry);
        in.need(paletteStart, count * paletteEntry);
        for (qint64 i = 0; i < count; ++i) {
            const uchar* e = in.p + paletteStart + i * paletteEntry;
            lut[i] = qRgb(e[2], e[1], e[0]);
        }
    }

    if (pixelOffset < 14 + headerSize || pixelOffset > in.n)
        bmpFail(QStringLiteral("the pixel data offset is out of range"));

    if (rle) {
        QImage image = allocateImage("BMP", int(width), int(height), QImage::Format_RGB32);
        image.fill(lut[0]);
        bmpDecodeRle(in, pixelOffset, compression == BiRle4, image, lut);
        return image;
    }

    const qint64 rowSize = ((width * bits + 31) / 32) * 4;
    if (rowSize * height > in.n - qint64(pixelOffset))
        bmpFail(QStringLiteral("the pixel data is truncated"));

    if (!hasMasks) {
        if (bits == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        } else if (bits == 32) {
            masks[0] = 0xFF0000;
            masks[1] = 0x00FF00;
            masks[2] = 0x0000FF;
        }
    }
    const bool alpha = masks[3] != 0;
    QImage image = allocateImage("BMP", int(width), int(height),
                                 alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const BmpChannel red(masks[0]), green(masks[1]), blue(masks[2]), opacity(masks[3]);
    const bool plain32 = bits == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 &&
                         masks[2] == 0xFF && (masks[3] == 0 || masks[3] == 0xFF000000u);
    bool anyAlpha = false;
    const int w = int(width);
    for (int row = 0; row < int(height); ++row) {
        const uchar* src = in.p + pixelOffset + row * rowSize;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(topDown ? row : int(height) - 1 - row));
        switch (bits) {
        case 1:
            for (int x = 0; x < w; ++x)
                out[x] = lut[(src[x >> 3] >> (7 - (x & 7))) & 1];
            break;
        case 4:
            for (int x = 0; x < w; ++x)
                out[x] = lut[(x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4];
            break;
        case 8:
            for (int x = 0; x < w; ++x)
                out[x] = lut[src[x]];
            break;
        case 24:
            for (int x = 0; x < w; ++x, src += 3)
                out[x] = qRgb(src[2], src[1], src[0]);
            break;
        case 16:
            for (int x = 0; x < w; ++x, src += 2) {
                const quint32 px = qFromLittleEndian<quint16>(src);
                out[x] =
                    qRgba(red.get(px, 0), green.get(px, 0), blue.get(px, 0), opacity.get(px, 255));
            }
            break;
        case 32:
            if (plain32) {
                for (int x = 0; x < w; ++x, src += 4) {
                    const quint32 px = qFromLittleEndian<quint32>(src);
                    out[x] = alpha ? px : (px | 0xFF000000u);
                }
            } else {
                for (int x = 0; x < w; ++x, src += 4) {
                    const quint32 px = qFromLittleEndian<quint32>(src);
                    out[x] = qRgba(red.get(px, 0), green.get(px, 0), blue.get(px, 0),
                                   opacity.get(px, 255));
                }
            }
            break;
        }
        if (alpha && !anyAlpha) {
            for (int x = 0; x < w && !anyAlpha; ++x)
                anyAlpha = qAlpha(out[x]) != 0;
        }
    }
    // Many writers declare an alpha mask and leave it all zero: that picture is opaque.
    if (alpha && !anyAlpha) {
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[x] |= 0xFF000000u;
        }
        image.reinterpretAsFormat(QImage::Format_RGB32);
    }
    return image;
}

QByteArray EncodeBmp(const QImage& image) {
    const QImage src = asRgb32Source(image, "BMP");
    const qint64 width = src.width();
    const qint64 height = src.height();
    const qint64 rowSize = ((width * 24 + 31) / 32) * 4;
    const qint64 imageSize = rowSize * height;
    if (54 + imageSize > qint64(0xFFFFFFFFu))
        throw EInvalidGraphic(QStringLiteral("Cannot write BMP file: the picture is too large"));

    QByteArray out(qsizetype(54 + imageSize), Qt::Uninitialized);
    auto* p = reinterpret_cast<uchar*>(out.data());
    std::memset(p, 0, 54);
    p[0] = 'B';
    p[1] = 'M';
    qToLittleEndian<quint32>(quint32(54 + imageSize), p + 2);
    qToLittleEndian<quint32>(54, p + 10);
    qToLittleEndian<quint32>(40, p + 14);
    qToLittleEndian<qint32>(qint32(width), p + 18);
    qToLittleEndian<qint32>(qint32(height), p + 22);
    qToLittleEndian<quint16>(1, p + 26);
    qToLittleEndian<quint16>(24, p + 28);
    qToLittleEndian<quint32>(BiRgb, p + 30);
    qToLittleEndian<quint32>(quint32(imageSize), p + 34);
    qToLittleEndian<qint32>(3780, p + 38); // 96 dpi
    qToLittleEndian<qint32>(3780, p + 42);
    for (int y = 0; y < int(height); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(src.constScanLine(int(height) - 1 - y));
        uchar* dst = p + 54 + y * rowSize;
        for (int x = 0; x < int(width); ++x) {
            *dst++ = uchar(qBlue(line[x]));
            *dst++ = uchar(qGreen(line[x]));
            *dst++ = uchar(qRed(line[x]));
        }
        std::memset(dst, 0, size_t(rowSize - width * 3));
    }
    return out;
}

void WriteFileBytes(const QString& path, const QByteArray& bytes) {
    const WriteResult r = WriteFileAtomically(path, bytes);
    if (!r.ok())
        throw EFCreateError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(path_(path), r.reason));
}

QByteArray ReadFileBytes(const QString& path) {
    FileRead read = ReadRegularFile(path, MaxImageFileSize);
    if (!read.ok())
        throw EFOpenError(
            QStringLiteral("Cannot open file \"%1\". %2").arg(path_(path), read.reason));
    return std::move(read.data);
}
