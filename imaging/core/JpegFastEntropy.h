#pragma once

// Our Huffman decoder (JpegEntropy) where libjpeg's would read a picture's coded data: see
// jpegUseFastEntropy in CodecSupport.h. Not for use outside the imaging code.

#include "imaging/core/CodecSupport.h"
#include "imaging/core/JpegEntropy.h"

namespace CodecSupport {

// Once jpeg_start_decompress has run: the tables and MCU layout of a sequential single-scan
// Huffman-coded picture for our decoder (dc and ac: MAX_COMPS_IN_SCAN tables each, built here);
// false for any other picture, or tables ours does not take.
bool jpegScanShape(j_decompress_ptr cinfo, JpegEntropy::HuffmanTable* dc,
                   JpegEntropy::HuffmanTable* ac, JpegEntropy::ScanShape* shape);

} // namespace CodecSupport
