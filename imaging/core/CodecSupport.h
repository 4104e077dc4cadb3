#pragma once

// Glue shared by the codecs in this folder: dimension checks and the libjpeg error handling.
// Not for use outside the imaging code.

#include "imaging/core/ImageCodecs.h"

#include <QImage>
#include <QtGlobal>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace CodecSupport {

// Called before any pixel memory is allocated, so hostile headers cannot make us allocate.
// Throws EInvalidGraphic naming the format.
void checkDimensions(const char* format, qint64 width, qint64 height);
// A new image buffer; throws EInvalidGraphic when the memory cannot be had.
QImage allocateImage(const char* format, int width, int height, QImage::Format pixelFormat);

// Pixels are addressed as bytes by libjpeg and libpng; QImage's 32-bit formats keep them as
// native 0xAARRGGBB words, so the byte order depends on the machine.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
inline constexpr J_COLOR_SPACE JpegRgb32Space = JCS_EXT_BGRX;
#else
inline constexpr J_COLOR_SPACE JpegRgb32Space = JCS_EXT_XRGB;
#endif

// libjpeg reports fatal errors by longjmp. Every libjpeg call runs inside jpegGuarded, whose
// steps are plain C functions over plain structs, so the jump never skips a destructor.
struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool sawEof;                       // the data ended before the end marker
    char dataMessage[JMSG_LENGTH_MAX]; // the first warning about missing or corrupt data
};

void jpegInitError(JpegError* err);
// Runs step(job); false when libjpeg failed, with the reason in err->message.
bool jpegGuarded(JpegError* err, void (*step)(void*), void* job);
// A progress monitor that stops files with an absurd number of scans.
void jpegProgress(j_common_ptr cinfo);
// "Invalid JPEG file: <libjpeg's message>".
EInvalidGraphic jpegFailure(const JpegError& err);
// Called once jpeg_start_decompress has run on a picture libjpeg reads from memory (data, size:
// the whole file): when it is one sequential Huffman-coded scan, its coded data is read by our
// own decoder (JpegEntropy), which is faster than libjpeg's, and libjpeg goes on after the scan
// as if it had read it. Wherever ours would not read exactly as libjpeg does (damaged or cut
// data, unexpected restart markers) it stops the decode with an error and
// jpegFastEntropyFailed(cinfo) tells so: the caller decodes again without it, so that the file
// is decoded, or refused, by libjpeg alone. Runs inside jpegGuarded.
void jpegUseFastEntropy(j_decompress_ptr cinfo, const unsigned char* data, size_t size);
bool jpegFastEntropyFailed(j_decompress_ptr cinfo);
// Thrown by a decode our entropy decoder gave up on (once its libjpeg object is let go).
struct FastEntropyRefused {};
// decode(true), with our entropy decoder, or decode(false) when that gave up.
template <class Decode> auto jpegDecodeEitherWay(Decode decode) {
    try {
        return decode(true);
    } catch (const FastEntropyRefused&) {
        return decode(false);
    }
}
// Whether the decoded data is whole although the file ended early (err.sawEof): a file lacking
// only its end marker is. Runs inside jpegGuarded, once the data has been consumed.
bool jpegDataComplete(j_decompress_ptr cinfo, const JpegError& err);

} // namespace CodecSupport
