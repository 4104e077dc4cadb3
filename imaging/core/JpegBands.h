#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <functional>

// A JPEG decoded and encoded again band by band, so that memory holds a few bands of rows and
// never the whole picture. Each band (Format_RGB32, the picture's width, bandRows rows, fewer at
// the bottom) is handed to paint(band, top) between its decode and its encode. Decoding and
// encoding are libjpeg's own, row for row: the output is byte for byte what EncodeJpegChecked
// writes of the whole decoded picture (DecodeJpeg) painted the same way, and it is read back as
// it is written. Throws EInvalidGraphic: "Invalid JPEG file: ..." for a source that does not
// decode whole, "Cannot write JPEG file: ..." or "The written picture did not read back: ..."
// for the output. paint may throw; nothing is then returned.
QByteArray TranscodeJpegInBands(const QByteArray& source, int quality, bool grayscale,
                                int bandRows,
                                const std::function<void(QImage& band, int top)>& paint);

// The same with shrink-on-load and a resample: the source decoded at the largest DCT scaling
// still covering minDecode (as DecodeJpegScaled chooses it; invalid: full size), its rows
// resampled to output as ResampleBitmap does (invalid: the decoded size) and handed to paint in
// bands of output rows. The pixels are those of the whole picture decoded so and resampled.
struct TBandsOptions {
    int quality = 95;
    bool grayscale = false;
    int bandRows = 64;
    QSize minDecode;
    QSize output;
};
QByteArray TranscodeJpegInBands(const QByteArray& source, const TBandsOptions& options,
                                const std::function<void(QImage& band, int top)>& paint);

// The picture decoded at the DCT scaling minDecode allows (as DecodeJpegScaled chooses it;
// invalid: full size) and resampled to output row by row (as ResampleBitmap does), without the
// decoded picture ever held whole. CMYK and YCCK pictures are refused. Throws EInvalidGraphic:
// "Invalid JPEG file: ..." as the whole decode does. With quarters (1, 2 or 3 clockwise quarter
// turns) the result is that picture turned as RotateBitmap turns it, made as the rows come.
QImage DecodeJpegResampled(const QByteArray& source, const QSize& minDecode, const QSize& output,
                           int quarters = 0);

// The size of a JPEG that TranscodeJpegInBands takes (any but CMYK and YCCK ones, which are
// converted when decoded whole), read from its header; an invalid size for any other.
QSize JpegBandsSize(const QByteArray& source);
