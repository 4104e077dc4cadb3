#include "imaging/core/JpegRecaption.h"

#include "imaging/core/CodecSupport.h"
#include "imaging/core/JpegStreamCheck.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <jpeglib.h>
// jpeglib.h must come first: jerror.h relies on its types.
#include <jerror.h>

using namespace CodecSupport;

namespace {

// Every libjpeg call runs inside guarded(): the lambdas given to it touch only plain data and
// libjpeg, so a longjmp out of them never skips a destructor.
template <class Step> bool guarded(JpegError* err, Step& step) {
    return jpegGuarded(
        err, [](void* p) { (*static_cast<Step*>(p))(); }, &step);
}

struct Decompressor {
    jpeg_decompress_struct cinfo;
    jpeg_progress_mgr progress;
    bool created = false;
    Decompressor() { std::memset(static_cast<void*>(this), 0, sizeof *this); }
    ~Decompressor() {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // To be called inside guarded().
    void open(JpegError* err, const QByteArray& data) {
        cinfo.err = &err->mgr;
        jpeg_create_decompress(&cinfo);
        created = true;
        progress.progress_monitor = jpegProgress;
        cinfo.progress = &progress;
        jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
                     static_cast<unsigned long>(data.size()));
    }
};

// Compressed output into a QByteArray that grows by doubling.
struct ByteSink {
    jpeg_destination_mgr mgr; // first, so that cinfo->dest can be cast back
    QByteArray* bytes;
    qsizetype initial;
};

bool resizeSink(ByteSink* sink, qsizetype size) noexcept {
    try {
        sink->bytes->resize(size);
        return true;
    } catch (...) {
        return false;
    }
}

void sinkInit(j_compress_ptr cinfo) {
    auto* sink = reinterpret_cast<ByteSink*>(cinfo->dest);
    if (!resizeSink(sink, std::max<qsizetype>(sink->initial, 4096)))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    sink->mgr.next_output_byte = reinterpret_cast<JOCTET*>(sink->bytes->data());
    sink->mgr.free_in_buffer = size_t(sink->bytes->size());
}

// libjpeg calls this with the whole buffer full.
boolean sinkEmpty(j_compress_ptr cinfo) {
    auto* sink = reinterpret_cast<ByteSink*>(cinfo->dest);
    const qsizetype used = sink->bytes->size();
    if (!resizeSink(sink, used * 2))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    sink->mgr.next_output_byte = reinterpret_cast<JOCTET*>(sink->bytes->data() + used);
    sink->mgr.free_in_buffer = size_t(sink->bytes->size() - used);
    return TRUE;
}

void sinkTerm(j_compress_ptr cinfo) {
    auto* sink = reinterpret_cast<ByteSink*>(cinfo->dest);
    sink->bytes->truncate(sink->bytes->size() - qsizetype(sink->mgr.free_in_buffer));
}

struct Compressor {
    jpeg_compress_struct cinfo;
    ByteSink sink;
    bool created = false;
    Compressor() { std::memset(static_cast<void*>(this), 0, sizeof *this); }
    ~Compressor() {
        if (created)
            jpeg_destroy_compress(&cinfo);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // To be called inside guarded().
    void open(JpegError* err, QByteArray* out, qsizetype initialSize) {
        cinfo.err = &err->mgr;
        jpeg_create_compress(&cinfo);
        created = true;
        sink.bytes = out;
        sink.initial = initialSize;
        sink.mgr.init_destination = sinkInit;
        sink.mgr.empty_output_buffer = sinkEmpty;
        sink.mgr.term_destination = sinkTerm;
        cinfo.dest = &sink.mgr;
    }
};

// The captions are quantised with the photo's own tables, and libjpeg's encoder divides by
// eight times each step in 16 bits: a step of 0 divides by zero, one of 8192 or more wraps
// around (to zero for multiples of 8192). Decoders only multiply, so such files open.
constexpr int MaxEncodableQuantStep = 65535 / 8;

QString quantTableFault(const JQUANT_TBL& table) {
    for (const UINT16 step : table.quantval) {
        if (step == 0)
            return QStringLiteral("JPEG with a quantisation step of 0");
        if (step > MaxEncodableQuantStep)
            return QStringLiteral("JPEG with quantisation steps above %1")
                .arg(MaxEncodableQuantStep);
    }
    return {};
}

QString unsupportedReason(const jpeg_decompress_struct& c) {
    if (c.progressive_mode)
        return QStringLiteral("progressive JPEG");
    if (c.arith_code)
        return QStringLiteral("arithmetic-coded JPEG");
    if (c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK)
        return QStringLiteral("CMYK JPEG");
    if (c.data_precision != 8)
        return QStringLiteral("%1-bit JPEG").arg(c.data_precision);
    const bool knownSpace = (c.jpeg_color_space == JCS_GRAYSCALE && c.num_components == 1) ||
                            ((c.jpeg_color_space == JCS_YCbCr || c.jpeg_color_space == JCS_RGB) &&
                             c.num_components == 3);
    if (!knownSpace)
        return QStringLiteral("JPEG in an unusual colour space");
    int maxH = 1, maxV = 1;
    for (int ci = 0; ci < c.num_components; ++ci) {
        maxH = std::max(maxH, c.comp_info[ci].h_samp_factor);
        maxV = std::max(maxV, c.comp_info[ci].v_samp_factor);
    }
    for (int ci = 0; ci < c.num_components; ++ci) {
        const int h = c.comp_info[ci].h_samp_factor, v = c.comp_info[ci].v_samp_factor;
        // libjpeg checks the factors when it reads the scan header; a file may reach us
        // without a scan, so nothing here divides by a factor it has not seen to be 1..4.
        if (h < 1 || h > MAX_SAMP_FACTOR || v < 1 || v > MAX_SAMP_FACTOR)
            return QStringLiteral("JPEG with invalid colour sampling");
        if (maxH % h != 0 || maxV % v != 0)
            return QStringLiteral("JPEG with unusual colour sampling");
    }
    for (int ci = 0; ci < c.num_components; ++ci) {
        const int slot = c.comp_info[ci].quant_tbl_no;
        const JQUANT_TBL* table =
            slot >= 0 && slot < NUM_QUANT_TBLS ? c.quant_tbl_ptrs[slot] : nullptr;
        if (!table)
            return QStringLiteral("JPEG without a quantisation table");
        if (const QString bad = quantTableFault(*table); !bad.isEmpty())
            return bad;
    }
    return {};
}

// The photo's MCU grid, and for each component how many blocks an MCU holds across and down.
struct Grid {
    int width = 0, height = 0; // pixels
    int mcuW = 8, mcuH = 8;    // pixels per MCU
    int cols = 0, rows = 0;    // MCUs
    int components = 0;
    int h[MAX_COMPONENTS] = {}; // blocks per MCU across, per component
    int v[MAX_COMPONENTS] = {}; // blocks per MCU down

    Grid() = default;
    explicit Grid(const jpeg_decompress_struct& c)
        : width(int(c.image_width)), height(int(c.image_height)),
          mcuW(c.max_h_samp_factor * DCTSIZE), mcuH(c.max_v_samp_factor * DCTSIZE),
          components(c.num_components) {
        cols = (width + mcuW - 1) / mcuW;
        rows = (height + mcuH - 1) / mcuH;
        for (int ci = 0; ci < components; ++ci) {
            h[ci] = c.comp_info[ci].h_samp_factor;
            v[ci] = c.comp_info[ci].v_samp_factor;
        }
    }
    // The pixels of a rectangle of MCUs, cut at the picture's edges.
    QRect pixels(const QRect& mcus) const {
        return QRect(mcus.x() * mcuW, mcus.y() * mcuH, mcus.width() * mcuW, mcus.height() * mcuH)
            .intersected(QRect(0, 0, width, height));
    }
    // Blocks of component ci in an area of that many pixels, padded to whole MCUs as libjpeg's
    // coefficient arrays are.
    JDIMENSION blocksAcross(int ci, int pixels) const {
        const int blocks = (pixels * h[ci] + mcuW - 1) / mcuW;
        return JDIMENSION((blocks + h[ci] - 1) / h[ci] * h[ci]);
    }
    JDIMENSION blocksDown(int ci, int pixels) const {
        const int blocks = (pixels * v[ci] + mcuH - 1) / mcuH;
        return JDIMENSION((blocks + v[ci] - 1) / v[ci] * v[ci]);
    }
};

// The touched MCUs, and the rectangles of MCUs that are painted together: each area widened to
// whole MCUs, with rectangles that overlap or touch merged.
struct Touched {
    std::vector<unsigned char> mask; // cols x rows
    QList<QRect> boxes;              // in MCUs
};

Touched touchedMcus(const Grid& grid, const QList<QRect>& areas) {
    Touched t;
    t.mask.assign(size_t(grid.cols) * size_t(grid.rows), 0);
    const QRect picture(0, 0, grid.width, grid.height);
    for (const QRect& area : areas) {
        const QRect r = area.normalized().intersected(picture);
        if (r.isEmpty())
            continue;
        const QRect mcus(QPoint(r.left() / grid.mcuW, r.top() / grid.mcuH),
                         QPoint(r.right() / grid.mcuW, r.bottom() / grid.mcuH));
        for (int y = mcus.top(); y <= mcus.bottom(); ++y)
            std::fill_n(t.mask.begin() + qsizetype(y) * grid.cols + mcus.left(), mcus.width(), 1);
        t.boxes.append(mcus);
    }
    // Boxes only grow, so the boxes that end up together do not depend on the order of the
    // merges: each box swallows whatever it touches until nothing does, without starting over.
    for (bool merged = true; merged;) {
        merged = false;
        for (qsizetype i = 0; i < t.boxes.size(); ++i) {
            for (qsizetype j = i + 1; j < t.boxes.size();) {
                if (t.boxes[i].adjusted(-1, -1, 1, 1).intersects(t.boxes[j])) {
                    t.boxes[i] |= t.boxes[j];
                    t.boxes.swapItemsAt(j, t.boxes.size() - 1);
                    t.boxes.removeLast();
                    merged = true;
                    j = i + 1; // the grown box may touch boxes it was checked against
                } else {
                    ++j;
                }
            }
        }
    }
    return t;
}

// Copies a rectangle of MCUs from one set of coefficient arrays to another, blocks padding the
// edge MCUs included (the writer makes its own). Runs inside guarded().
struct BlockCopy {
    j_common_ptr fromInfo;
    jvirt_barray_ptr* from;
    QPoint fromMcu; // top-left MCU of the rectangle in the source arrays
    j_common_ptr toInfo;
    jvirt_barray_ptr* to;
    QPoint toMcu;
    QSize mcus;
    const unsigned char* mask; // when set: only the MCUs marked there (indexed in `to`)
    int maskCols;

    void run(const Grid& grid) const {
        for (int ci = 0; ci < grid.components; ++ci) {
            const int h = grid.h[ci], v = grid.v[ci];
            const JDIMENSION rows = JDIMENSION(mcus.height() * v);
            for (JDIMENSION r = 0; r < rows; ++r) {
                JBLOCKROW src = (*fromInfo->mem->access_virt_barray)(
                    fromInfo, from[ci], JDIMENSION(fromMcu.y() * v) + r, 1, FALSE)[0];
                const JDIMENSION toRow = JDIMENSION(toMcu.y() * v) + r;
                JBLOCKROW dst =
                    (*toInfo->mem->access_virt_barray)(toInfo, to[ci], toRow, 1, TRUE)[0];
                src += fromMcu.x() * h;
                dst += toMcu.x() * h;
                if (!mask) {
                    std::memcpy(dst, src, sizeof(JBLOCK) * size_t(mcus.width() * h));
                    continue;
                }
                const unsigned char* marks =
                    mask + qsizetype(toMcu.y() + int(r) / v) * maskCols + toMcu.x();
                for (int m = 0; m < mcus.width(); ++m) {
                    if (marks[m])
                        std::memcpy(dst + m * h, src + m * h, sizeof(JBLOCK) * size_t(h));
                }
            }
        }
    }
};

// Sets up a compressor with the photo's sampling and quantisation tables. Inside guarded().
void copyCodingParameters(j_decompress_ptr photo, j_compress_ptr c) {
    c->dct_method = JDCT_ISLOW;
    c->optimize_coding = FALSE;
    c->smoothing_factor = 0;
    c->write_JFIF_header = FALSE;
    c->write_Adobe_marker = FALSE;
    for (int ci = 0; ci < photo->num_components; ++ci) {
        c->comp_info[ci].component_id = photo->comp_info[ci].component_id;
        c->comp_info[ci].h_samp_factor = photo->comp_info[ci].h_samp_factor;
        c->comp_info[ci].v_samp_factor = photo->comp_info[ci].v_samp_factor;
        c->comp_info[ci].quant_tbl_no = photo->comp_info[ci].quant_tbl_no;
    }
    for (int t = 0; t < NUM_QUANT_TBLS; ++t) {
        if (!photo->quant_tbl_ptrs[t])
            continue;
        if (!c->quant_tbl_ptrs[t])
            c->quant_tbl_ptrs[t] = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(c));
        std::memcpy(c->quant_tbl_ptrs[t]->quantval, photo->quant_tbl_ptrs[t]->quantval,
                    sizeof c->quant_tbl_ptrs[t]->quantval);
        c->quant_tbl_ptrs[t]->sent_table = FALSE;
    }
}

class Recaptioner {
public:
    explicit Recaptioner(const QByteArray& source) : m_source(source) { jpegInitError(&m_err); }

    // Reads the header; empty, or the reason the photo cannot be handled.
    QString open() {
        auto step = [&] {
            m_photo.open(&m_err, m_source);
            jpeg_save_markers(&m_photo.cinfo, JPEG_COM, 0xFFFF);
            for (int m = 0; m < 16; ++m)
                jpeg_save_markers(&m_photo.cinfo, JPEG_APP0 + m, 0xFFFF);
            jpeg_read_header(&m_photo.cinfo, TRUE);
        };
        if (!guarded(&m_err, step))
            return QStringLiteral("unreadable JPEG file (%1)")
                .arg(QString::fromLocal8Bit(m_err.message));
        return unsupportedReason(m_photo.cinfo);
    }

    QByteArray run(const QList<QRect>& areas, const RecaptionPainter& draw) {
        const QString reason = open();
        if (!reason.isEmpty())
            throw EInvalidGraphic(
                QStringLiteral("Cannot caption this JPEG file in place: %1").arg(reason));
        checkDimensions("JPEG", m_photo.cinfo.image_width, m_photo.cinfo.image_height);
        m_grid = Grid(m_photo.cinfo);
        const Touched touched = touchedMcus(m_grid, areas);
        if (touched.boxes.isEmpty())
            return m_source;

        bool complete = true;
        auto read = [&] {
            m_coefs = jpeg_read_coefficients(&m_photo.cinfo);
            complete = jpegDataComplete(&m_photo.cinfo, m_err);
        };
        if (!guarded(&m_err, read))
            throw jpegFailure(m_err);
        // A file lacking only its end marker is whole, as the full decode finds too.
        if (!complete)
            throw EInvalidGraphic(QStringLiteral("Invalid JPEG file: %1")
                                      .arg(QString::fromLocal8Bit(m_err.dataMessage)));
        // The tables each component took at its first scan, which a later table of the same
        // number may have replaced after the header was checked; the captions are encoded with
        // the numbered tables, so both must be the same and usable.
        for (int ci = 0; ci < m_grid.components; ++ci) {
            const JQUANT_TBL* table = m_photo.cinfo.comp_info[ci].quant_table;
            const int slot = m_photo.cinfo.comp_info[ci].quant_tbl_no;
            const JQUANT_TBL* numbered = m_photo.cinfo.quant_tbl_ptrs[slot];
            QString bad = table ? quantTableFault(*table)
                                : QStringLiteral("JPEG without a quantisation table");
            if (bad.isEmpty() &&
                (!numbered || std::memcmp(numbered->quantval, table->quantval,
                                          sizeof table->quantval) != 0))
                bad = QStringLiteral("JPEG that changes its quantisation tables between scans");
            if (!bad.isEmpty())
                throw EInvalidGraphic(
                    QStringLiteral("Cannot caption this JPEG file in place: %1").arg(bad));
        }

        for (const QRect& box : touched.boxes)
            paintBox(box, touched.mask, draw);
        return write();
    }

private:
    // A small JPEG of a rectangle of the photo's MCUs, made from their coefficients as they are.
    QByteArray cutOut(const QRect& mcus) {
        const QRect px = m_grid.pixels(mcus);
        QByteArray out;
        Compressor part;
        auto step = [&] {
            part.open(&m_err, &out, 64 * 1024);
            j_compress_ptr c = &part.cinfo;
            jpeg_copy_critical_parameters(&m_photo.cinfo, c);
            c->image_width = JDIMENSION(px.width());
            c->image_height = JDIMENSION(px.height());
            c->write_JFIF_header = FALSE;
            c->write_Adobe_marker = FALSE;
            auto* common = reinterpret_cast<j_common_ptr>(c);
            auto* arrays = static_cast<jvirt_barray_ptr*>((*c->mem->alloc_small)(
                common, JPOOL_IMAGE, sizeof(jvirt_barray_ptr) * size_t(m_grid.components)));
            for (int ci = 0; ci < m_grid.components; ++ci)
                arrays[ci] = (*c->mem->request_virt_barray)(
                    common, JPOOL_IMAGE, TRUE, m_grid.blocksAcross(ci, px.width()),
                    m_grid.blocksDown(ci, px.height()), JDIMENSION(m_grid.v[ci]));
            (*c->mem->realize_virt_arrays)(common);
            const BlockCopy copy{reinterpret_cast<j_common_ptr>(&m_photo.cinfo),
                                 m_coefs,
                                 mcus.topLeft(),
                                 common,
                                 arrays,
                                 QPoint(0, 0),
                                 mcus.size(),
                                 nullptr,
                                 0};
            copy.run(m_grid);
            jpeg_write_coefficients(c, arrays);
            jpeg_finish_compress(c);
        };
        if (!guarded(&m_err, step))
            throw EInvalidGraphic(QStringLiteral("Cannot caption this JPEG file in place: %1")
                                      .arg(QString::fromLocal8Bit(m_err.message)));
        return out;
    }

    // Decodes a small JPEG made by cutOut() as a full decode of the photo would show it.
    QImage decode(const QByteArray& part, const QSize& size) {
        QImage image = allocateImage("JPEG", size.width(), size.height(), QImage::Format_RGB32);
        std::vector<JSAMPROW> rows(size_t(size.height()));
        for (int y = 0; y < size.height(); ++y)
            rows[size_t(y)] = image.scanLine(y);
        Decompressor d;
        auto header = [&] {
            d.open(&m_err, part);
            jpeg_read_header(&d.cinfo, TRUE);
            d.cinfo.jpeg_color_space = m_photo.cinfo.jpeg_color_space;
            d.cinfo.out_color_space = JpegRgb32Space;
            jpeg_start_decompress(&d.cinfo);
        };
        if (!guarded(&m_err, header))
            throw jpegFailure(m_err);
        if (d.cinfo.output_width != JDIMENSION(size.width()) ||
            d.cinfo.output_height != JDIMENSION(size.height()))
            throw EInvalidGraphic(
                QStringLiteral("Cannot caption this JPEG file in place: a part of it came back "
                               "with the wrong size"));
        auto pixels = [&] {
            while (d.cinfo.output_scanline < d.cinfo.output_height) {
                if (jpeg_read_scanlines(&d.cinfo, rows.data() + d.cinfo.output_scanline,
                                        d.cinfo.output_height - d.cinfo.output_scanline) == 0)
                    break;
            }
        };
        if (!guarded(&m_err, pixels))
            throw jpegFailure(m_err);
        return image;
    }

    // Encodes a painted band with the photo's sampling and tables.
    QByteArray encode(const QImage& band) {
        std::vector<JSAMPROW> rows(size_t(band.height()));
        for (int y = 0; y < band.height(); ++y)
            rows[size_t(y)] = const_cast<JSAMPROW>(band.constScanLine(y));
        QByteArray out;
        Compressor part;
        auto step = [&] {
            part.open(&m_err, &out, qsizetype(band.width()) * band.height() + 4096);
            j_compress_ptr c = &part.cinfo;
            c->image_width = JDIMENSION(band.width());
            c->image_height = JDIMENSION(band.height());
            c->input_components = 4;
            c->in_color_space = JpegRgb32Space;
            jpeg_set_defaults(c);
            jpeg_set_colorspace(c, m_photo.cinfo.jpeg_color_space);
            copyCodingParameters(&m_photo.cinfo, c);
            jpeg_start_compress(c, TRUE);
            while (c->next_scanline < c->image_height)
                jpeg_write_scanlines(c, rows.data() + c->next_scanline,
                                     c->image_height - c->next_scanline);
            jpeg_finish_compress(c);
        };
        if (!guarded(&m_err, step))
            throw EInvalidGraphic(QStringLiteral("Cannot caption this JPEG file in place: %1")
                                      .arg(QString::fromLocal8Bit(m_err.message)));
        return out;
    }

    // Puts the coefficients of a JPEG made by encode() into the touched MCUs of the box.
    void paste(const QByteArray& part, const QRect& box, const std::vector<unsigned char>& mask) {
        Decompressor d;
        auto step = [&] {
            d.open(&m_err, part);
            jpeg_read_header(&d.cinfo, TRUE);
            jvirt_barray_ptr* coefs = jpeg_read_coefficients(&d.cinfo);
            const BlockCopy copy{reinterpret_cast<j_common_ptr>(&d.cinfo),
                                 coefs,
                                 QPoint(0, 0),
                                 reinterpret_cast<j_common_ptr>(&m_photo.cinfo),
                                 m_coefs,
                                 box.topLeft(),
                                 box.size(),
                                 mask.data(),
                                 m_grid.cols};
            copy.run(m_grid);
        };
        if (!guarded(&m_err, step))
            throw jpegFailure(m_err);
    }

    void paintBox(const QRect& box, const std::vector<unsigned char>& mask,
                  const RecaptionPainter& draw) {
        // One MCU of margin gives the colour upsampling its neighbours, so that the band holds
        // exactly the pixels of a full decode.
        const QRect around =
            box.adjusted(-1, -1, 1, 1).intersected(QRect(0, 0, m_grid.cols, m_grid.rows));
        const QRect aroundPx = m_grid.pixels(around);
        const QRect boxPx = m_grid.pixels(box);
        QImage band =
            decode(cutOut(around), aroundPx.size()).copy(boxPx.translated(-aroundPx.topLeft()));
        if (band.isNull())
            throw EInvalidGraphic(
                QStringLiteral("Cannot caption this JPEG file in place: not enough memory"));
        draw(band, boxPx.topLeft());
        if (band.size() != boxPx.size())
            throw EInvalidGraphic(QStringLiteral(
                "Cannot caption this JPEG file in place: the painted band changed its size"));
        if (band.format() != QImage::Format_RGB32 && band.format() != QImage::Format_ARGB32)
            band = band.convertToFormat(QImage::Format_RGB32);
        paste(encode(band), box, mask);
    }

    // The output is decoded again as it is written (JpegStreamCheck), so that it is known to
    // read back.
    QByteArray write() {
        QByteArray out;
        Compressor photo;
        JpegStreamCheck check;
        auto step = [&] {
            photo.open(&m_err, &out, 0);
            j_compress_ptr c = &photo.cinfo;
            c->dest = check.destination();
            jpeg_copy_critical_parameters(&m_photo.cinfo, c);
            // The saved segments, JFIF and Adobe ones included, go out as they came in.
            c->write_JFIF_header = FALSE;
            c->write_Adobe_marker = FALSE;
            c->restart_interval = m_photo.cinfo.restart_interval;
            jpeg_write_coefficients(c, m_coefs);
            for (jpeg_saved_marker_ptr m = m_photo.cinfo.marker_list; m; m = m->next)
                jpeg_write_marker(c, m->marker, m->data, m->data_length);
            jpeg_finish_compress(c);
        };
        if (!guarded(&m_err, step)) {
            check.abandon();
            throw EInvalidGraphic(QStringLiteral("Cannot caption this JPEG file in place: %1")
                                      .arg(QString::fromLocal8Bit(m_err.message)));
        }
        return check.finish();
    }

    const QByteArray& m_source;
    JpegError m_err;
    Decompressor m_photo;
    Grid m_grid;
    jvirt_barray_ptr* m_coefs = nullptr;
};

} // namespace

QString RecaptionUnsupportedReason(const QByteArray& jpeg) {
    Recaptioner r(jpeg);
    return r.open();
}

QByteArray RecaptionJpeg(const QByteArray& source, const QList<QRect>& touched,
                         const RecaptionPainter& draw) {
    Recaptioner r(source);
    return r.run(touched, draw);
}
