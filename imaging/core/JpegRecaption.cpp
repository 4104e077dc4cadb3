#include "imaging/core/JpegRecaption.h"

#include "imaging/core/CodecSupport.h"
#include "imaging/core/JpegEntropy.h"
#include "imaging/core/JpegFastEntropy.h"
#include "imaging/core/JpegSegments.h"
#include "imaging/core/JpegStreamCheck.h"
#include "platform/ImageBuffer.h"

#include <algorithm>
#include <cstdint>
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

// Coefficients of a rectangle of MCUs held in plain memory, blocks padding edge MCUs included.
struct CoefPlane {
    QRect mcus; // in the photo's MCUs
    int across[MAX_COMPONENTS] = {};
    std::vector<JCOEF> blocks[MAX_COMPONENTS];

    CoefPlane(const Grid& grid, const QRect& area) : mcus(area) {
        for (int ci = 0; ci < grid.components; ++ci) {
            across[ci] = area.width() * grid.h[ci];
            blocks[ci].assign(size_t(across[ci]) * size_t(area.height() * grid.v[ci]) * DCTSIZE2,
                              0);
        }
    }
    // Row r (counted from the plane's top) of component ci.
    JBLOCKROW row(int ci, JDIMENSION r) {
        return reinterpret_cast<JBLOCKROW>(blocks[ci].data() +
                                           size_t(r) * size_t(across[ci]) * DCTSIZE2);
    }
};

// Where a copy of blocks reads or writes: libjpeg's coefficient arrays or a plane.
struct BlockSide {
    j_common_ptr info = nullptr;
    jvirt_barray_ptr* arrays = nullptr;
    CoefPlane* plane = nullptr;

    JBLOCKROW row(int ci, JDIMENSION r, bool write) const {
        if (plane)
            return plane->row(ci, r);
        return (*info->mem->access_virt_barray)(info, arrays[ci], r, 1, write ? TRUE : FALSE)[0];
    }
};

// Copies a rectangle of MCUs from one set of coefficients to another, blocks padding the edge
// MCUs included (the writer makes its own). Runs inside guarded().
struct BlockCopy {
    BlockSide from;
    QPoint fromMcu; // top-left MCU of the rectangle in the source
    BlockSide to;
    QPoint toMcu;
    QSize mcus;
    const unsigned char* mask = nullptr; // when set: only the MCUs marked there
    int maskCols = 0;
    QPoint maskAt; // the rectangle's top-left MCU in the mask

    void run(const Grid& grid) const {
        for (int ci = 0; ci < grid.components; ++ci) {
            const int h = grid.h[ci], v = grid.v[ci];
            const JDIMENSION rows = JDIMENSION(mcus.height() * v);
            for (JDIMENSION r = 0; r < rows; ++r) {
                JBLOCKROW src = from.row(ci, JDIMENSION(fromMcu.y() * v) + r, false);
                JBLOCKROW dst = to.row(ci, JDIMENSION(toMcu.y() * v) + r, true);
                src += fromMcu.x() * h;
                dst += toMcu.x() * h;
                if (!mask) {
                    std::memcpy(dst, src, sizeof(JBLOCK) * size_t(mcus.width() * h));
                    continue;
                }
                const unsigned char* marks =
                    mask + qsizetype(maskAt.y() + int(r) / v) * maskCols + maskAt.x();
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


// ---- the entropy-coded path ----------------------------------------------------------------
//
// A sequential Huffman-coded photo in one scan: the coded bits of every MCU the captions leave
// alone are copied as they are. Where the photo has restart markers, intervals without a touched
// MCU are copied as bytes; the others (and, without markers, the whole scan) are read MCU by MCU
// for the places where each MCU starts. Touched MCUs are coded again with the photo's own tables;
// the first untouched MCU after them gets new DC differences for its first block of each
// component, since DC is predicted from the block before. Anything unusual in the coded data, or
// a symbol the tables lack, leaves the photo to the path that codes every block again.
class EntropyPath {
public:
    // Whether a table has a code for every symbol a block of 8-bit samples can need: DC sizes
    // 0..11; AC end of block, the run of sixteen zeros, and runs 0..15 before sizes 1..10.
    static bool codesEverySymbol(const JpegEntropy::HuffmanTable& t, bool dc) {
        if (dc) {
            for (int size = 0; size <= 11; ++size)
                if (!t.size[size])
                    return false;
            return true;
        }
        if (!t.size[0x00] || !t.size[0xF0])
            return false;
        for (int run = 0; run < 16; ++run)
            for (int size = 1; size <= 10; ++size)
                if (!t.size[(run << 4) | size])
                    return false;
        return true;
    }

    EntropyPath(const QByteArray& source, jpeg_decompress_struct& c, const Grid& grid,
                const Touched& touched, bool wholeTablesOnly)
        : m_source(source), m_data(reinterpret_cast<const uint8_t*>(source.constData())),
          m_size(size_t(source.size())), m_c(c), m_grid(grid), m_touched(touched),
          m_wholeTablesOnly(wholeTablesOnly) {}

    // Whether the photo's scan can be read here. Reads the tables and finds the intervals.
    bool prepare() {
        jpeg_decompress_struct& c = m_c;
        if (c.num_components == 1 &&
            (c.comp_info[0].h_samp_factor != 1 || c.comp_info[0].v_samp_factor != 1))
            return false; // one block per MCU, but a grid of bigger MCUs
        if (!jpegScanShape(&c, m_dc, m_ac, &m_shape, true))
            return false;
        if (m_wholeTablesOnly)
            for (int i = 0; i < m_shape.components; ++i)
                if (!codesEverySymbol(*m_shape.dc[i], true) ||
                    !codesEverySymbol(*m_shape.ac[i], false))
                    return false;
        // Each block's component and place in its MCU, blocks in libjpeg's order: a component's
        // blocks row by row.
        int taken[MAX_COMPS_IN_SCAN] = {};
        for (int b = 0; b < m_shape.blocksInMcu; ++b) {
            const int i = m_shape.blockComponent[b];
            const jpeg_component_info* comp = c.cur_comp_info[i];
            const int h = c.comps_in_scan == 1 ? 1 : comp->h_samp_factor;
            const int k = taken[i]++;
            m_blockCi[b] = comp->component_index;
            m_blockX[b] = k % h;
            m_blockY[b] = k / h;
        }
        const auto* next = reinterpret_cast<const uint8_t*>(c.src->next_input_byte);
        if (next < m_data || next > m_data + m_size)
            return false;
        m_dataStart = size_t(next - m_data);
        m_total = m_grid.cols * m_grid.rows;
        m_perInterval = c.restart_interval ? int(c.restart_interval) : m_total;
        return findIntervals();
    }

    // Reads the intervals that hold touched MCUs or MCUs a painting needs, and the last one (whose
    // end says whether the file is whole): where each MCU starts, its DC predictions, and the
    // coefficients of the MCUs around each box.
    bool walk() {
        const int cols = m_grid.cols;
        m_rowBoxes.assign(size_t(m_grid.rows), {});
        for (qsizetype b = 0; b < m_touched.boxes.size(); ++b) {
            const QRect around = m_touched.boxes[b]
                                     .adjusted(-1, -1, 1, 1)
                                     .intersected(QRect(0, 0, cols, m_grid.rows));
            m_planes.emplace_back(m_grid, around);
            for (int y = around.top(); y <= around.bottom(); ++y)
                m_rowBoxes[size_t(y)].push_back(int(b));
        }
        // Whether a painting needs the coefficients of an MCU.
        const auto needed = [&](int m) {
            const int mx = m % cols;
            for (const int b : m_rowBoxes[size_t(m / cols)])
                if (mx >= m_planes[size_t(b)].mcus.left() && mx <= m_planes[size_t(b)].mcus.right())
                    return true;
            return false;
        };
        std::vector<int16_t> mcu(size_t(m_shape.blocksInMcu) * DCTSIZE2);
        JpegEntropy::Reader reader(m_shape, m_data, m_size);
        for (size_t i = 0; i < m_intervals.size(); ++i) {
            Interval& in = m_intervals[i];
            for (int m = in.first; m < in.first + in.count && !in.walk; ++m)
                in.walk = m_touched.mask[size_t(m)] || needed(m);
            in.touched = false;
            for (int m = in.first; m < in.first + in.count && !in.touched; ++m)
                in.touched = m_touched.mask[size_t(m)];
            if (i + 1 == m_intervals.size())
                in.walk = true;
            if (!in.walk)
                continue;
            reader.seek(JpegEntropy::BitPos(in.start) * 8);
            std::fill_n(reader.pred, JpegEntropy::MaxScanComponents, 0);
            for (int m = in.first; m < in.first + in.count; ++m) {
                // Where the output switches between copying and coding: MCUs touched or just
                // after touched ones, and the MCU after a mended one.
                const auto touchedAt = [&](int k) {
                    return k >= in.first && m_touched.mask[size_t(k)];
                };
                if (m == in.first || touchedAt(m) || touchedAt(m - 1) || touchedAt(m - 2)) {
                    Mark mark;
                    mark.mcu = m;
                    mark.at = reader.position();
                    std::copy_n(reader.pred, JpegEntropy::MaxScanComponents, mark.pred);
                    m_marks.push_back(mark);
                }
                if (!needed(m)) {
                    if (!reader.skipMcu())
                        return false;
                    continue;
                }
                if (!reader.decodeMcu(mcu.data()))
                    return false;
                const int mx = m % cols, my = m / cols;
                for (const int b : m_rowBoxes[size_t(my)]) {
                    CoefPlane& plane = m_planes[size_t(b)];
                    if (mx >= plane.mcus.left() && mx <= plane.mcus.right())
                        putMcu(plane, mx, my, mcu.data());
                }
            }
            if (reader.overran())
                return false;
            in.end = reader.position();
            // Nothing may follow the last MCU but the fill bits of its byte.
            size_t after = size_t(in.end >> 3);
            if (in.end & 7)
                after += m_data[after] == 0xFF ? 2 : 1;
            if (after != in.dataEnd)
                return false;
        }
        return true;
    }

    CoefPlane& plane(size_t box) { return m_planes[box]; }

    // The output, with the painted coefficients of the planes in the touched MCUs; false when
    // a symbol they need has no code in the photo's tables.
    bool write(QByteArray& out) {
        out = TakeBytes(m_source.size() + m_source.size() / 8 + 4096);
        out.append(m_source.constData(), qsizetype(m_dataStart));
        std::vector<Check> checks;
        {
            JpegEntropy::Writer writer(out);
            for (size_t i = 0; i < m_intervals.size(); ++i) {
                const Interval& in = m_intervals[i];
                const bool last = i + 1 == m_intervals.size();
                if (!in.touched) {
                    const size_t to = last ? in.dataEnd : in.next;
                    writer.appendBytes(m_source.constData() + in.start, to - in.start);
                    continue;
                }
                if (!writeInterval(writer, in, checks))
                    return false;
                writer.padToByte();
                if (!last) {
                    const char marker[2] = {char(0xFF), char(JPEG_RST0 + int(i % 8))};
                    writer.appendBytes(marker, 2);
                }
            }
            const char end[2] = {char(0xFF), char(JPEG_EOI)};
            writer.appendBytes(end, 2);
            writer.finish();
        }
        // What was coded again reads back as the coefficients meant, and so does the MCU after
        // it, ending where the copied bits begin.
        JpegEntropy::Reader reader(m_shape, reinterpret_cast<const uint8_t*>(out.constData()),
                                   size_t(out.size()));
        std::vector<int16_t> got(size_t(m_shape.blocksInMcu) * DCTSIZE2);
        std::vector<int16_t> meant(got.size());
        for (const Check& c : checks) {
            reader.seek(c.at);
            std::copy_n(c.pred, JpegEntropy::MaxScanComponents, reader.pred);
            for (int m = c.first; m < c.first + c.count; ++m) {
                CoefPlane* plane = planeOf(m % m_grid.cols, m / m_grid.cols);
                getMcu(*plane, m % m_grid.cols, m / m_grid.cols, meant.data());
                if (!reader.decodeMcu(got.data()) || got != meant)
                    throw badOutput();
            }
            if (!c.seam.empty() && (!reader.decodeMcu(got.data()) || got != c.seam))
                throw badOutput();
            if (reader.overran() || reader.position() != c.end)
                throw badOutput();
        }
        return true;
    }

private:
    // A run of MCUs coded again, to be read back: where it starts in the output with its
    // predictions, and where it ends, after the MCU following it when that one was mended.
    struct Check {
        JpegEntropy::BitPos at = 0;
        int pred[JpegEntropy::MaxScanComponents] = {};
        int first = 0, count = 0;
        std::vector<int16_t> seam; // the mended MCU's coefficients, when there is one
        JpegEntropy::BitPos end = 0;
    };

    struct Mark {
        int mcu = 0;
        JpegEntropy::BitPos at = 0;                    // where it starts
        int pred[JpegEntropy::MaxScanComponents] = {}; // the DC predictions there
    };

    struct Interval {
        size_t start = 0;         // first byte of its coded data
        size_t dataEnd = 0;       // the marker (or fill bytes) after its data, or the file's end
        size_t next = 0;          // after that marker
        int first = 0, count = 0; // MCUs
        bool walk = false, touched = false;
        JpegEntropy::BitPos end = 0; // after its last MCU, once walked
    };

    static EInvalidGraphic badOutput() {
        return EInvalidGraphic(
            QStringLiteral("The written picture did not read back: its coded data is not whole"));
    }

    // The coded data's intervals, from the restart markers between them; false when the markers
    // are not the ones expected.
    bool findIntervals() {
        const int count = (m_total + m_perInterval - 1) / m_perInterval;
        m_intervals.assign(size_t(count), {});
        size_t p = m_dataStart;
        for (int i = 0; i < count; ++i) {
            Interval& in = m_intervals[size_t(i)];
            in.start = p;
            in.first = i * m_perInterval;
            in.count = std::min(m_perInterval, m_total - in.first);
            const bool last = i + 1 == count;
            const size_t q = size_t(NextJpegMarker(reinterpret_cast<const char*>(m_data),
                                                   qsizetype(m_size), qsizetype(p)));
            if (q == m_size) {
                // The file ends without its end marker; the last interval's reading says
                // whether the data is whole.
                if (!last)
                    return false;
                in.dataEnd = in.next = m_size;
                break;
            }
            size_t r = q + 1;
            while (r < m_size && m_data[r] == 0xFF)
                ++r;
            if (r == m_size) {
                if (!last)
                    return false;
                in.dataEnd = in.next = q;
                break;
            }
            const int marker = m_data[r];
            in.dataEnd = q;
            in.next = r + 1;
            if (last ? marker != JPEG_EOI : marker != JPEG_RST0 + i % 8)
                return false;
            p = in.next;
        }
        return true;
    }

    void putMcu(CoefPlane& plane, int mx, int my, const int16_t* mcu) const {
        for (int b = 0; b < m_shape.blocksInMcu; ++b) {
            const int ci = m_blockCi[b];
            const JDIMENSION row = JDIMENSION((my - plane.mcus.top()) * m_grid.v[ci] + m_blockY[b]);
            const int col = (mx - plane.mcus.left()) * m_grid.h[ci] + m_blockX[b];
            std::memcpy(plane.row(ci, row)[col], mcu + DCTSIZE2 * b, sizeof(JBLOCK));
        }
    }

    void getMcu(CoefPlane& plane, int mx, int my, int16_t* mcu) const {
        for (int b = 0; b < m_shape.blocksInMcu; ++b) {
            const int ci = m_blockCi[b];
            const JDIMENSION row = JDIMENSION((my - plane.mcus.top()) * m_grid.v[ci] + m_blockY[b]);
            const int col = (mx - plane.mcus.left()) * m_grid.h[ci] + m_blockX[b];
            std::memcpy(mcu + DCTSIZE2 * b, plane.row(ci, row)[col], sizeof(JBLOCK));
        }
    }

    // The plane of the box that holds a touched MCU.
    CoefPlane* planeOf(int mx, int my) {
        for (const int b : m_rowBoxes[size_t(my)]) {
            const QRect& box = m_touched.boxes[b];
            if (box.contains(mx, my))
                return &m_planes[size_t(b)];
        }
        return nullptr;
    }

    // The place and predictions noted for an MCU in walk().
    const Mark& markAt(int m) const {
        const auto it = std::lower_bound(m_marks.begin(), m_marks.end(), m,
                                         [](const Mark& a, int mcu) { return a.mcu < mcu; });
        Q_ASSERT(it != m_marks.end() && it->mcu == m);
        return *it;
    }
    const int* predAt(int m) const { return markAt(m).pred; }
    JpegEntropy::BitPos startOf(int m) const { return markAt(m).at; }

    bool writeInterval(JpegEntropy::Writer& writer, const Interval& in,
                       std::vector<Check>& checks) {
        using JpegEntropy::BitPos;
        const int end = in.first + in.count;
        const int cols = m_grid.cols;
        int pred[JpegEntropy::MaxScanComponents] = {};
        std::vector<int16_t> mcu(size_t(m_shape.blocksInMcu) * DCTSIZE2);
        JpegEntropy::Reader reader(m_shape, m_data, m_size);
        for (int m = in.first; m < end;) {
            if (m_touched.mask[size_t(m)]) {
                if (m == in.first || !m_touched.mask[size_t(m - 1)]) {
                    checks.emplace_back();
                    checks.back().at = writer.position();
                    std::copy_n(pred, JpegEntropy::MaxScanComponents, checks.back().pred);
                    checks.back().first = m;
                }
                ++checks.back().count;
                CoefPlane* plane = planeOf(m % cols, m / cols);
                if (!plane)
                    return false;
                getMcu(*plane, m % cols, m / cols, mcu.data());
                if (!writer.encodeMcu(m_shape, mcu.data(), pred))
                    return false;
                ++m;
                if (m == end)
                    checks.back().end = writer.position();
                continue;
            }
            int n = m + 1;
            while (n < end && !m_touched.mask[size_t(n)])
                ++n;
            BitPos from = startOf(m);
            const BitPos to = n < end ? startOf(n) : in.end;
            if (m > in.first) {
                // After coded-again MCUs: the first block of each component is predicted from a
                // block whose DC may have changed, so its DC difference is coded again.
                BitPos dcStart[JpegEntropy::MaxBlocksInMcu], dcEnd[JpegEntropy::MaxBlocksInMcu];
                std::copy_n(predAt(m), JpegEntropy::MaxScanComponents, reader.pred);
                reader.seek(from);
                if (!reader.decodeMcu(mcu.data()))
                    return false;
                std::copy_n(predAt(m), JpegEntropy::MaxScanComponents, reader.pred);
                reader.seek(from);
                if (!reader.skipMcuNotingDc(dcStart, dcEnd))
                    return false;
                const BitPos seamEnd = m + 1 < end ? startOf(m + 1) : in.end;
                bool done[JpegEntropy::MaxScanComponents] = {};
                for (int b = 0; b < m_shape.blocksInMcu; ++b) {
                    const int c = m_shape.blockComponent[b];
                    if (done[c])
                        continue;
                    done[c] = true;
                    writer.copyBits(m_data, from, dcStart[b]);
                    if (!writer.encodeDc(*m_shape.dc[c], mcu[size_t(b) * DCTSIZE2] - pred[c]))
                        return false;
                    from = dcEnd[b];
                }
                writer.copyBits(m_data, from, seamEnd);
                from = seamEnd;
                checks.back().seam = mcu;
                checks.back().end = writer.position();
            }
            writer.copyBits(m_data, from, to);
            if (n < end)
                std::copy_n(predAt(n), JpegEntropy::MaxScanComponents, pred);
            m = n;
        }
        return true;
    }

    const QByteArray& m_source;
    const uint8_t* m_data;
    size_t m_size;
    jpeg_decompress_struct& m_c;
    const Grid& m_grid;
    const Touched& m_touched;
    const bool m_wholeTablesOnly;

    JpegEntropy::HuffmanTable m_dc[NUM_HUFF_TBLS]; // by table number
    JpegEntropy::HuffmanTable m_ac[NUM_HUFF_TBLS];
    JpegEntropy::ScanShape m_shape;
    int m_blockCi[JpegEntropy::MaxBlocksInMcu] = {};
    int m_blockX[JpegEntropy::MaxBlocksInMcu] = {};
    int m_blockY[JpegEntropy::MaxBlocksInMcu] = {};
    size_t m_dataStart = 0;
    int m_total = 0;
    int m_perInterval = 0;
    std::vector<Interval> m_intervals;
    std::vector<Mark> m_marks;                // in MCU order
    std::vector<CoefPlane> m_planes;          // the MCUs around each box
    std::vector<std::vector<int>> m_rowBoxes; // per MCU row: the boxes whose planes cross it
};

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

    QByteArray run(const QList<QRect>& areas, const RecaptionPainter& draw, RecaptionPath path) {
        const QString reason = open();
        if (!reason.isEmpty())
            throw EInvalidGraphic(
                QStringLiteral("Cannot caption this JPEG file in place: %1").arg(reason));
        checkDimensions("JPEG", m_photo.cinfo.image_width, m_photo.cinfo.image_height);
        m_grid = Grid(m_photo.cinfo);
        const Touched touched = touchedMcus(m_grid, areas);
        if (touched.boxes.isEmpty())
            return m_source;

        if (path != RecaptionPath::RecodeAll) {
            EntropyPath entropy(m_source, m_photo.cinfo, m_grid, touched,
                                path == RecaptionPath::Fastest);
            if (entropy.prepare() && entropy.walk()) {
                for (qsizetype b = 0; b < touched.boxes.size(); ++b) {
                    CoefPlane& plane = entropy.plane(size_t(b));
                    paintBox(touched.boxes[b], touched.mask, draw,
                             BlockSide{nullptr, nullptr, &plane}, -plane.mcus.topLeft());
                }
                QByteArray out;
                if (entropy.write(out))
                    return out;
                // A symbol the photo's tables lack: every block is coded again, with the
                // coefficients just painted.
                readCoefficients();
                const BlockSide all{reinterpret_cast<j_common_ptr>(&m_photo.cinfo), m_coefs,
                                    nullptr};
                for (qsizetype b = 0; b < touched.boxes.size(); ++b) {
                    const QRect& box = touched.boxes[b];
                    CoefPlane& plane = entropy.plane(size_t(b));
                    BlockCopy copy;
                    copy.from = BlockSide{nullptr, nullptr, &plane};
                    copy.fromMcu = box.topLeft() - plane.mcus.topLeft();
                    copy.to = all;
                    copy.toMcu = box.topLeft();
                    copy.mcus = box.size();
                    copy.mask = touched.mask.data();
                    copy.maskCols = m_grid.cols;
                    copy.maskAt = box.topLeft();
                    auto step = [&] { copy.run(m_grid); };
                    if (!guarded(&m_err, step))
                        throw jpegFailure(m_err);
                }
                return write();
            }
        }

        readCoefficients();
        const BlockSide all{reinterpret_cast<j_common_ptr>(&m_photo.cinfo), m_coefs, nullptr};
        for (const QRect& box : touched.boxes)
            paintBox(box, touched.mask, draw, all, QPoint(0, 0));
        return write();
    }

private:
    // All the photo's coefficients, through libjpeg.
    void readCoefficients() {
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
            if (bad.isEmpty() && (!numbered || std::memcmp(numbered->quantval, table->quantval,
                                                           sizeof table->quantval) != 0))
                bad = QStringLiteral("JPEG that changes its quantisation tables between scans");
            if (!bad.isEmpty())
                throw EInvalidGraphic(
                    QStringLiteral("Cannot caption this JPEG file in place: %1").arg(bad));
        }
    }

    // A small JPEG of a rectangle of the photo's MCUs, made from their coefficients as they are;
    // `from` holds them with the MCU at fromMcu being the rectangle's top-left.
    QByteArray cutOut(const QRect& mcus, const BlockSide& from, const QPoint& fromMcu) {
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
            BlockCopy copy;
            copy.from = from;
            copy.fromMcu = fromMcu;
            copy.to = BlockSide{common, arrays, nullptr};
            copy.toMcu = QPoint(0, 0);
            copy.mcus = mcus.size();
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

    // Puts the coefficients of a JPEG made by encode() into the touched MCUs of the box; `to`
    // holds the box's top-left MCU at toMcu.
    void paste(const QByteArray& part, const QRect& box, const std::vector<unsigned char>& mask,
               const BlockSide& to, const QPoint& toMcu) {
        Decompressor d;
        auto step = [&] {
            d.open(&m_err, part);
            jpeg_read_header(&d.cinfo, TRUE);
            jvirt_barray_ptr* coefs = jpeg_read_coefficients(&d.cinfo);
            BlockCopy copy;
            copy.from = BlockSide{reinterpret_cast<j_common_ptr>(&d.cinfo), coefs, nullptr};
            copy.fromMcu = QPoint(0, 0);
            copy.to = to;
            copy.toMcu = toMcu;
            copy.mcus = box.size();
            copy.mask = mask.data();
            copy.maskCols = m_grid.cols;
            copy.maskAt = box.topLeft();
            copy.run(m_grid);
        };
        if (!guarded(&m_err, step))
            throw jpegFailure(m_err);
    }

    // The MCUs a box's painting reads: one MCU of margin gives the colour upsampling its
    // neighbours, so that the band holds exactly the pixels of a full decode.
    QRect aroundBox(const QRect& box) const {
        return box.adjusted(-1, -1, 1, 1).intersected(QRect(0, 0, m_grid.cols, m_grid.rows));
    }

    // Paints a box. `coefs` holds the MCUs around it (aroundBox()), with the MCU at `at` being
    // the photo's MCU (0, 0); the new coefficients of the touched MCUs go there too.
    void paintBox(const QRect& box, const std::vector<unsigned char>& mask,
                  const RecaptionPainter& draw, const BlockSide& coefs, const QPoint& at) {
        const QRect around = aroundBox(box);
        const QRect aroundPx = m_grid.pixels(around);
        const QRect boxPx = m_grid.pixels(box);
        QImage decoded = decode(cutOut(around, coefs, around.topLeft() + at), aroundPx.size());
        // The box's part of what was decoded, painted where it lies rather than copied out.
        const QPoint in = boxPx.topLeft() - aroundPx.topLeft();
        QImage band(decoded.bits() + qsizetype(in.y()) * decoded.bytesPerLine() + in.x() * 4,
                    boxPx.width(), boxPx.height(), decoded.bytesPerLine(), decoded.format());
        draw(band, boxPx.topLeft());
        if (band.size() != boxPx.size())
            throw EInvalidGraphic(QStringLiteral(
                "Cannot caption this JPEG file in place: the painted band changed its size"));
        if (band.format() != QImage::Format_RGB32 && band.format() != QImage::Format_ARGB32)
            band = band.convertToFormat(QImage::Format_RGB32);
        paste(encode(band), box, mask, coefs, box.topLeft() + at);
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
                         const RecaptionPainter& draw, RecaptionPath path) {
    Recaptioner r(source);
    return r.run(touched, draw, path);
}
