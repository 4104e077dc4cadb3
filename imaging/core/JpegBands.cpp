#include "imaging/core/JpegBands.h"

#include "imaging/core/BitmapOps.h"
#include "imaging/core/CodecSupport.h"
#include "imaging/core/JpegStreamCheck.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace CodecSupport;

namespace {

// Both libjpeg objects report through one error manager; failing tells which side failed.
struct BandJob {
    jpeg_decompress_struct in;
    jpeg_compress_struct out;
    JpegError err;
    jpeg_progress_mgr progress;
    bool inCreated;
    bool outCreated;
    bool writing; // the failure, if any, is the encoder's
    const unsigned char* data;
    unsigned long size;
    int quality;
    bool grayscale;
    JDIMENSION minWidth; // shrink-on-load: the smallest decode wanted; 0 for the full size
    JDIMENSION minHeight;
    JDIMENSION outWidth; // the encoded size; 0 for the decoded one
    JDIMENSION outHeight;
    jpeg_destination_mgr* dest;
    JSAMPROW* rows; // the band's rows
    JDIMENSION count;
    bool complete;
    bool fastEntropy; // see jpegUseFastEntropy
};

void bandHeader(void* p) {
    auto* job = static_cast<BandJob*>(p);
    job->in.err = &job->err.mgr;
    jpeg_create_decompress(&job->in);
    job->inCreated = true;
    job->progress.progress_monitor = jpegProgress;
    job->in.progress = &job->progress;
    jpeg_mem_src(&job->in, job->data, job->size);
    jpeg_read_header(&job->in, TRUE);
}

// The largest DCT scaling still covering the size wanted, as a reduced decode of the whole
// picture chooses it; then the decode starts.
void startDecode(void* p) {
    auto* job = static_cast<BandJob*>(p);
    job->in.out_color_space = JpegRgb32Space;
    job->in.scale_num = 1;
    job->in.scale_denom = 1;
    if (job->minWidth > 0 && job->minHeight > 0) {
        unsigned denom = 8;
        for (; denom > 1; denom /= 2) {
            job->in.scale_denom = denom;
            jpeg_calc_output_dimensions(&job->in);
            if (job->in.output_width >= job->minWidth && job->in.output_height >= job->minHeight)
                break;
        }
        job->in.scale_denom = denom;
    }
    jpeg_start_decompress(&job->in);
    if (job->fastEntropy)
        jpegUseFastEntropy(&job->in, job->data, job->size);
}

void bandStart(void* p) {
    auto* job = static_cast<BandJob*>(p);
    startDecode(job);
    // The same settings as the encoder of whole pictures.
    job->writing = true;
    j_compress_ptr out = &job->out;
    out->err = &job->err.mgr;
    jpeg_create_compress(out);
    job->outCreated = true;
    out->dest = job->dest;
    out->image_width = job->outWidth > 0 ? job->outWidth : job->in.output_width;
    out->image_height = job->outHeight > 0 ? job->outHeight : job->in.output_height;
    out->input_components = 4;
    out->in_color_space = JpegRgb32Space;
    jpeg_set_defaults(out);
    jpeg_set_quality(out, job->quality, TRUE);
    if (job->grayscale)
        jpeg_set_colorspace(out, JCS_GRAYSCALE);
    jpeg_start_compress(out, TRUE);
    job->writing = false;
}

void bandRead(void* p) {
    auto* job = static_cast<BandJob*>(p);
    JDIMENSION done = 0;
    while (done < job->count) {
        const JDIMENSION got = jpeg_read_scanlines(&job->in, job->rows + done, job->count - done);
        if (got == 0)
            break; // a suspending source never happens with a memory source
        done += got;
    }
}

void bandWrite(void* p) {
    auto* job = static_cast<BandJob*>(p);
    job->writing = true;
    JDIMENSION done = 0;
    while (done < job->count)
        done += jpeg_write_scanlines(&job->out, job->rows + done, job->count - done);
    job->writing = false;
}

void bandFinish(void* p) {
    auto* job = static_cast<BandJob*>(p);
    job->complete = jpegDataComplete(&job->in, job->err);
    job->writing = true;
    jpeg_finish_compress(&job->out);
    job->writing = false;
}

struct BandCleanup {
    BandJob* job;
    ~BandCleanup() {
        if (job->outCreated)
            jpeg_destroy_compress(&job->out);
        if (job->inCreated)
            jpeg_destroy_decompress(&job->in);
    }
};

void initJob(BandJob& job, const QByteArray& source, bool fastEntropy = false) {
    std::memset(static_cast<void*>(&job), 0, sizeof job);
    jpegInitError(&job.err);
    job.fastEntropy = fastEntropy;
    job.data = reinterpret_cast<const unsigned char*>(source.constData());
    job.size = static_cast<unsigned long>(source.size());
}

bool converted(const jpeg_decompress_struct& in) {
    return in.jpeg_color_space == JCS_CMYK || in.jpeg_color_space == JCS_YCCK;
}

} // namespace

QSize JpegBandsSize(const QByteArray& source) {
    BandJob job;
    initJob(job, source);
    BandCleanup cleanup{&job};
    if (!jpegGuarded(&job.err, bandHeader, &job) || converted(job.in))
        return {};
    return QSize(int(job.in.image_width), int(job.in.image_height));
}

QByteArray TranscodeJpegInBands(const QByteArray& source, int quality, bool grayscale,
                                int bandRows,
                                const std::function<void(QImage& band, int top)>& paint) {
    TBandsOptions options;
    options.quality = quality;
    options.grayscale = grayscale;
    options.bandRows = bandRows;
    return TranscodeJpegInBands(source, options, paint);
}

namespace {

QByteArray transcodeInBands(const QByteArray& source, const TBandsOptions& options,
                            const std::function<void(QImage& band, int top)>& paint,
                            bool fastEntropy) {
    JpegStreamCheck check;
    BandJob job;
    initJob(job, source, fastEntropy);
    job.quality = std::clamp(options.quality, 1, 100);
    job.grayscale = options.grayscale;
    if (options.minDecode.isValid() && !options.minDecode.isEmpty()) {
        job.minWidth = JDIMENSION(options.minDecode.width());
        job.minHeight = JDIMENSION(options.minDecode.height());
    }
    if (options.output.isValid() && !options.output.isEmpty()) {
        checkDimensions("JPEG", options.output.width(), options.output.height());
        job.outWidth = JDIMENSION(options.output.width());
        job.outHeight = JDIMENSION(options.output.height());
    }
    BandCleanup cleanup{&job};
    if (!jpegGuarded(&job.err, bandHeader, &job))
        throw jpegFailure(job.err);
    checkDimensions("JPEG", job.in.image_width, job.in.image_height);
    if (converted(job.in))
        throw EInvalidGraphic(QStringLiteral("Invalid JPEG file: a CMYK picture is not decoded "
                                             "in bands"));
    job.dest = check.destination();
    auto fail = [&]() -> EInvalidGraphic {
        check.abandon();
        if (!job.writing && jpegFastEntropyFailed(&job.in))
            throw FastEntropyRefused();
        if (job.writing)
            return EInvalidGraphic(QStringLiteral("Cannot write JPEG file: %1")
                                       .arg(QString::fromLocal8Bit(job.err.message)));
        return jpegFailure(job.err);
    };
    if (!jpegGuarded(&job.err, bandStart, &job))
        throw fail();
    const int decodedWidth = int(job.in.output_width);
    const int decodedHeight = int(job.in.output_height);
    const int width = int(job.out.image_width);
    const int height = int(job.out.image_height);
    const bool resampled = width != decodedWidth || height != decodedHeight;
    const int rowsPerBand = std::clamp(options.bandRows, 1, std::max(1, height));
    QImage band = allocateImage("JPEG", width, rowsPerBand, QImage::Format_RGB32);
    std::vector<JSAMPROW> rows(static_cast<size_t>(rowsPerBand));
    int filled = 0; // rows of band made
    int top = 0;    // the band's first row in the output
    // Paints and encodes the band's rows made so far.
    auto flush = [&] {
        if (filled == 0)
            return;
        // The last band is a band of its own size, so that paint sees only picture rows.
        if (filled != band.height())
            band = band.copy(0, 0, width, filled);
        if (paint) {
            try {
                paint(band, top);
            } catch (...) {
                check.abandon();
                throw;
            }
        }
        // The band may have been detached by paint: its rows are taken again.
        for (int y = 0; y < filled; ++y)
            rows[size_t(y)] = band.scanLine(y);
        job.rows = rows.data();
        job.count = JDIMENSION(filled);
        if (!jpegGuarded(&job.err, bandWrite, &job))
            throw fail();
        top += filled;
        filled = 0;
    };
    if (!resampled) {
        while (top < height) {
            const int count = std::min(rowsPerBand, height - top);
            if (count != band.height())
                band = allocateImage("JPEG", width, count, QImage::Format_RGB32);
            for (int y = 0; y < count; ++y)
                rows[size_t(y)] = band.scanLine(y);
            job.rows = rows.data();
            job.count = JDIMENSION(count);
            if (!jpegGuarded(&job.err, bandRead, &job))
                throw fail();
            filled = count;
            flush();
        }
    } else {
        // Decoded rows go through the resampler; its rows fill the bands that are encoded.
        TRowResampler resampler(QSize(decodedWidth, decodedHeight), QSize(width, height));
        const int decodeRows = std::min(16, decodedHeight);
        QImage decoded = allocateImage("JPEG", decodedWidth, decodeRows, QImage::Format_RGB32);
        std::vector<JSAMPROW> decodedRows(static_cast<size_t>(decodeRows));
        for (int y = 0; y < decodeRows; ++y)
            decodedRows[size_t(y)] = decoded.scanLine(y);
        const auto take = [&](int, const QRgb* row) {
            std::copy(row, row + width, reinterpret_cast<QRgb*>(band.scanLine(filled)));
            ++filled;
        };
        for (int done = 0; done < decodedHeight;) {
            const int count = std::min(decodeRows, decodedHeight - done);
            job.rows = decodedRows.data();
            job.count = JDIMENSION(count);
            if (!jpegGuarded(&job.err, bandRead, &job))
                throw fail();
            for (int y = 0; y < count; ++y) {
                resampler.Push(reinterpret_cast<const QRgb*>(decoded.constScanLine(y)),
                               [&](int row, const QRgb* pixels) {
                                   take(row, pixels);
                                   if (filled == rowsPerBand)
                                       flush();
                               });
            }
            done += count;
        }
        flush();
    }
    if (!jpegGuarded(&job.err, bandFinish, &job))
        throw fail();
    if (!job.complete) {
        check.abandon();
        throw EInvalidGraphic(QStringLiteral("Invalid JPEG file: %1")
                                  .arg(QString::fromLocal8Bit(job.err.dataMessage)));
    }
    return check.finish();
}

} // namespace

QByteArray TranscodeJpegInBands(const QByteArray& source, const TBandsOptions& options,
                                const std::function<void(QImage& band, int top)>& paint) {
    return jpegDecodeEitherWay(
        [&](bool fast) { return transcodeInBands(source, options, paint, fast); });
}

namespace {

struct ResampleJob {
    BandJob* job;
    QImage* out;
    TRowResampler* resampler;
    QImage* rows;
    std::vector<JSAMPROW>* pointers;
    QSize resampled; // the output before any turn
    int quarters;
};

// Reads the whole picture through the resampler into out; runs inside jpegGuarded.
void readResampled(void* p) {
    auto* r = static_cast<ResampleJob*>(p);
    j_decompress_ptr in = &r->job->in;
    QImage& out = *r->out;
    // Turned output: rows gathered sixteen at a time (a cache line of turned pixels) and turned
    // together.
    constexpr int kGather = 16;
    const int width = r->resampled.width();
    std::vector<QRgb> gathered(r->quarters != 0 ? size_t(width) * kGather : 0);
    const QRgb* gatheredRows[kGather];
    for (int i = 0; i < kGather && !gathered.empty(); ++i)
        gatheredRows[i] = gathered.data() + size_t(width) * size_t(i);
    int firstGathered = 0, held = 0;
    const auto turnHeld = [&] {
        TurnRowsInto(gatheredRows, firstGathered, held, r->resampled, r->quarters, out);
        firstGathered += held;
        held = 0;
    };
    const auto give = [&](int y, const QRgb* row) {
        if (r->quarters == 0) {
            std::copy(row, row + width, reinterpret_cast<QRgb*>(out.scanLine(y)));
            return;
        }
        std::copy(row, row + width, gathered.data() + size_t(width) * size_t(held));
        if (++held == kGather)
            turnHeld();
    };
    while (in->output_scanline < in->output_height) {
        const JDIMENSION want =
            std::min<JDIMENSION>(JDIMENSION(r->rows->height()), in->output_height - in->output_scanline);
        JDIMENSION got = 0;
        while (got < want) {
            const JDIMENSION n = jpeg_read_scanlines(in, r->pointers->data() + got, want - got);
            if (n == 0)
                break;
            got += n;
        }
        if (got == 0)
            break;
        for (JDIMENSION y = 0; y < got; ++y)
            r->resampler->Push(reinterpret_cast<const QRgb*>(r->rows->constScanLine(int(y))), give);
    }
    if (held > 0)
        turnHeld();
    r->job->complete = jpegDataComplete(in, r->job->err);
}

} // namespace

namespace {

QImage decodeResampled(const QByteArray& source, const QSize& minDecode, const QSize& output,
                       int quarters, bool fastEntropy) {
    BandJob job;
    initJob(job, source, fastEntropy);
    if (minDecode.isValid() && !minDecode.isEmpty()) {
        job.minWidth = JDIMENSION(minDecode.width());
        job.minHeight = JDIMENSION(minDecode.height());
    }
    BandCleanup cleanup{&job};
    if (!jpegGuarded(&job.err, bandHeader, &job))
        throw jpegFailure(job.err);
    checkDimensions("JPEG", job.in.image_width, job.in.image_height);
    if (converted(job.in))
        throw EInvalidGraphic(QStringLiteral("Invalid JPEG file: a CMYK picture is not decoded "
                                             "in bands"));
    checkDimensions("JPEG", output.width(), output.height());
    if (!jpegGuarded(&job.err, startDecode, &job))
        throw jpegFailure(job.err);
    const QSize decoded(int(job.in.output_width), int(job.in.output_height));
    quarters = ((quarters % 4) + 4) % 4;
    const QSize turned = quarters % 2 != 0 ? output.transposed() : output;
    QImage out = allocateImage("JPEG", turned.width(), turned.height(), QImage::Format_RGB32);
    QImage rows = allocateImage("JPEG", decoded.width(), std::min(16, decoded.height()),
                                QImage::Format_RGB32);
    std::vector<JSAMPROW> pointers(size_t(rows.height()));
    for (int y = 0; y < rows.height(); ++y)
        pointers[size_t(y)] = rows.scanLine(y);
    TRowResampler resampler(decoded, output);
    ResampleJob r{&job, &out, &resampler, &rows, &pointers, output, quarters};
    if (!jpegGuarded(&job.err, readResampled, &r)) {
        if (jpegFastEntropyFailed(&job.in))
            throw FastEntropyRefused();
        throw jpegFailure(job.err);
    }
    if (!job.complete)
        throw EInvalidGraphic(QStringLiteral("Invalid JPEG file: %1")
                                  .arg(QString::fromLocal8Bit(job.err.dataMessage)));
    return out;
}

} // namespace

QImage DecodeJpegResampled(const QByteArray& source, const QSize& minDecode, const QSize& output,
                           int quarters) {
    return jpegDecodeEitherWay(
        [&](bool fast) { return decodeResampled(source, minDecode, output, quarters, fast); });
}
