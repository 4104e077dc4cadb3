#include "imaging/core/JpegFastEntropy.h"
#include "imaging/core/JpegSegments.h"

#include <jerror.h>
#include <jpegint.h>

#include <new>
#include <type_traits>

namespace CodecSupport {

namespace {

// Takes libjpeg's entropy decoder's place: libjpeg reaches it only through `pub`.
struct FastEntropy {
    jpeg_entropy_decoder pub;
    JpegEntropy::HuffmanTable dc[NUM_HUFF_TBLS];
    JpegEntropy::HuffmanTable ac[NUM_HUFF_TBLS];
    JpegEntropy::ScanShape shape;
    JpegEntropy::Reader reader;
    ScanCursor cursor;
    const uint8_t* data;
    size_t size;
    bool failed = false;

    FastEntropy(j_decompress_ptr cinfo, const uint8_t* d, size_t n)
        : reader(shape, d, n), cursor(cinfo), data(d), size(n) {}
};
static_assert(std::is_trivially_destructible_v<FastEntropy>,
              "lives in libjpeg's pool, which frees without destructors");
static_assert(std::is_same_v<JCOEF, int16_t>, "blocks are decoded as 16-bit coefficients");

[[noreturn]] void giveUp(j_decompress_ptr cinfo, FastEntropy* e) {
    e->failed = true;
    ERREXIT(cinfo, JERR_BAD_HUFF_TABLE);
    std::abort(); // error_exit does not return
}

void startPassAgain(j_decompress_ptr cinfo) {
    // Only for a picture of one scan; another would need libjpeg's own decoder.
    giveUp(cinfo, reinterpret_cast<FastEntropy*>(cinfo->entropy));
}

boolean decodeMcu(j_decompress_ptr cinfo, JBLOCKROW* blocks) {
    auto* e = reinterpret_cast<FastEntropy*>(cinfo->entropy);
    int16_t* into[JpegEntropy::MaxBlocksInMcu];
    for (int b = 0; b < e->shape.blocksInMcu; ++b)
        into[b] = blocks[b][0];
    if (e->cursor.done() || !e->cursor.beforeMcu(e->reader, e->data, e->size) ||
        !e->reader.decodeMcuInto(into))
        giveUp(cinfo, e);
    if (e->cursor.afterMcu()) {
        // The scan is read: libjpeg goes on with the marker after it, as its own decoder
        // would have left it.
        if (e->reader.overran())
            giveUp(cinfo, e);
        const size_t m = jpegMarkerAfter(e->reader, e->data, e->size);
        cinfo->src->next_input_byte = e->data + m;
        cinfo->src->bytes_in_buffer = e->size - m;
        cinfo->unread_marker = 0;
    }
    return TRUE;
}

} // namespace

size_t jpegMarkerAfter(const JpegEntropy::Reader& reader, const uint8_t* data, size_t size) {
    return size_t(NextJpegMarker(reinterpret_cast<const char*>(data), qsizetype(size),
                                 qsizetype(reader.position() >> 3)));
}

bool ScanCursor::beforeMcu(JpegEntropy::Reader& reader, const uint8_t* data, size_t size) {
    if (!m_interval)
        return true;
    if (m_togo == 0) {
        // The interval ends where its data does, at the next restart marker.
        if (reader.overran())
            return false;
        const size_t m = jpegMarkerAfter(reader, data, size);
        if (m + 2 > size || data[m + 1] != JPEG_RST0 + m_nextRestart)
            return false;
        m_nextRestart = (m_nextRestart + 1) & 7;
        reader.seek(JpegEntropy::BitPos(m + 2) * 8);
        for (int& p : reader.pred)
            p = 0;
        m_togo = m_interval;
    }
    --m_togo;
    return true;
}

bool jpegScanShape(j_decompress_ptr cinfo, JpegEntropy::HuffmanTable* dc,
                   JpegEntropy::HuffmanTable* ac, JpegEntropy::ScanShape* shape,
                   bool forReadingPast) {
    if (cinfo->progressive_mode || cinfo->arith_code || cinfo->data_precision != 8 ||
        !cinfo->inputctl || cinfo->inputctl->has_multiple_scans ||
        cinfo->comps_in_scan != cinfo->num_components || cinfo->comps_in_scan < 1 ||
        cinfo->comps_in_scan > MAX_COMPS_IN_SCAN || cinfo->Ss != 0 ||
        cinfo->Se != DCTSIZE2 - 1 || cinfo->Ah != 0 || cinfo->Al != 0)
        return false;
    shape->components = cinfo->comps_in_scan;
    shape->blocksInMcu = 0;
    // Components mostly share tables (both colour ones): each is built once.
    bool builtDc[NUM_HUFF_TBLS] = {}, builtAc[NUM_HUFF_TBLS] = {};
    for (int i = 0; i < cinfo->comps_in_scan; ++i) {
        const jpeg_component_info* comp = cinfo->cur_comp_info[i];
        if (!comp)
            return false;
        const int d = comp->dc_tbl_no, a = comp->ac_tbl_no;
        if (d < 0 || d >= NUM_HUFF_TBLS || a < 0 || a >= NUM_HUFF_TBLS ||
            !cinfo->dc_huff_tbl_ptrs[d] || !cinfo->ac_huff_tbl_ptrs[a])
            return false;
        if (!builtDc[d] && !dc[d].build(cinfo->dc_huff_tbl_ptrs[d]->bits,
                                        cinfo->dc_huff_tbl_ptrs[d]->huffval, true))
            return false;
        if (!builtAc[a] && !ac[a].build(cinfo->ac_huff_tbl_ptrs[a]->bits,
                                        cinfo->ac_huff_tbl_ptrs[a]->huffval, false,
                                        forReadingPast))
            return false;
        builtDc[d] = builtAc[a] = true;
        shape->dc[i] = &dc[d];
        shape->ac[i] = &ac[a];
        // The MCU's blocks as libjpeg lays them out (libjpeg's own count is gone once
        // jpeg_read_coefficients has read the file): one block for a scan of one component,
        // else each component's blocks in turn.
        const int blocks = cinfo->comps_in_scan == 1 ? 1 : comp->h_samp_factor * comp->v_samp_factor;
        for (int k = 0; k < blocks; ++k) {
            if (shape->blocksInMcu == JpegEntropy::MaxBlocksInMcu)
                return false;
            shape->blockComponent[shape->blocksInMcu++] = i;
        }
    }
    // Where libjpeg has its count at hand, the two agree.
    return cinfo->blocks_in_MCU == 0 || cinfo->blocks_in_MCU == shape->blocksInMcu;
}

void jpegUseFastEntropy(j_decompress_ptr cinfo, const unsigned char* data, size_t size) {
    // Not for a buffered-image decode, whose scans libjpeg reads at its own pace.
    if (cinfo->buffered_image || cinfo->output_scanline != 0 || !cinfo->entropy || !cinfo->src)
        return;
    // Only where libjpeg reads the file from memory, from the start of the scan's data.
    const unsigned char* next = cinfo->src->next_input_byte;
    if (!data || !next || next < data || next > data + size ||
        cinfo->src->bytes_in_buffer != size_t(data + size - next) || cinfo->unread_marker != 0)
        return;
    void* place = (*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                             sizeof(FastEntropy));
    auto* e = new (place) FastEntropy(cinfo, data, size);
    if (!jpegScanShape(cinfo, e->dc, e->ac, &e->shape, false))
        return; // libjpeg's decoder stays
    e->reader.seek(JpegEntropy::BitPos(next - data) * 8);
    e->pub.start_pass = startPassAgain;
    e->pub.decode_mcu = decodeMcu;
    e->pub.insufficient_data = FALSE;
    cinfo->entropy = &e->pub;
}

bool jpegFastEntropyFailed(j_decompress_ptr cinfo) {
    return cinfo->entropy && cinfo->entropy->decode_mcu == decodeMcu &&
           reinterpret_cast<FastEntropy*>(cinfo->entropy)->failed;
}

} // namespace CodecSupport
