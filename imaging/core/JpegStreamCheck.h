#pragma once

// Compressed JPEG output collected in chunks while a second thread reads it as it comes: the
// read-back check of a written JPEG then costs little time of its own where a second core is
// free. libjpeg reads the header; a sequential single-scan picture's coded data is then read
// past by our own decoder (JpegEntropy), MCU by MCU up to the end marker, which takes a fraction
// of a decode; any other picture is decoded by libjpeg at 1/8 of its size (which still reads
// every coded bit). Not for use outside the imaging code.

#include "imaging/core/CodecSupport.h"

#include <QByteArray>

#include <memory>

class JpegStreamCheck {
public:
    JpegStreamCheck();
    ~JpegStreamCheck(); // stops and joins the checking thread
    JpegStreamCheck(const JpegStreamCheck&) = delete;
    JpegStreamCheck& operator=(const JpegStreamCheck&) = delete;

    // The destination to give a compressor (cinfo->dest). The checking thread starts here.
    jpeg_destination_mgr* destination();
    // After jpeg_finish_compress: the whole output. Throws EInvalidGraphic ("The written picture
    // did not read back: ...") when the checking decode failed.
    QByteArray finish();
    // The compressor failed: the checking thread stops without a verdict.
    void abandon();

    struct State; // opaque

private:
    std::unique_ptr<State> d;
};
