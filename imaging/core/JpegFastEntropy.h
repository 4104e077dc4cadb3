#pragma once

// Our Huffman decoder (JpegEntropy) where libjpeg's would read a picture's coded data: see
// jpegUseFastEntropy in CodecSupport.h. Not for use outside the imaging code.

#include "imaging/core/CodecSupport.h"
#include "imaging/core/JpegEntropy.h"

namespace CodecSupport {

// Once jpeg_start_decompress (or jpeg_read_coefficients) has run: the tables and MCU layout of a
// sequential single-scan Huffman-coded picture for our decoder (dc and ac: NUM_HUFF_TBLS tables
// each, built here, each of the picture's tables once, with the lookups for reading past when
// forReadingPast); false for any other picture, or tables ours does not take.
bool jpegScanShape(j_decompress_ptr cinfo, JpegEntropy::HuffmanTable* dc,
                   JpegEntropy::HuffmanTable* ac, JpegEntropy::ScanShape* shape,
                   bool forReadingPast);

// The first byte of the marker after what the reader has taken from data; size when none.
size_t jpegMarkerAfter(const JpegEntropy::Reader& reader, const uint8_t* data, size_t size);

// A scan read MCU by MCU with our reader, its restart intervals passed as libjpeg passes them.
class ScanCursor {
public:
    explicit ScanCursor(j_decompress_ptr cinfo)
        : m_left(static_cast<long long>(cinfo->MCUs_per_row) * cinfo->MCU_rows_in_scan),
          m_interval(cinfo->restart_interval), m_togo(m_interval) {}
    // Before each MCU: where an interval ends, the reader moves past the restart marker after it,
    // its predictions reset; false when the data ran short or that marker is not the next one.
    bool beforeMcu(JpegEntropy::Reader& reader, const uint8_t* data, size_t size);
    // After each MCU: whether it was the scan's last.
    bool afterMcu() { return --m_left == 0; }
    bool done() const { return m_left <= 0; }

private:
    long long m_left; // MCUs of the scan still to read
    unsigned m_interval;
    unsigned m_togo;     // MCUs left in this restart interval
    int m_nextRestart = 0;
};

} // namespace CodecSupport
