#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// Reading and writing picture files over libjpeg, giflib, libpng and our own BMP code; TIFF, WebP,
// HEIC and AVIF over Qt's image plugins and libheif (PhotoFormats.h); other picture types (ICO,
// ...) through Qt's image readers.
//
// Decoded photos come back as QImage::Format_RGB32 (opaque) or Format_ARGB32 when the picture
// has transparency (PNG, GIF, ICO, 32-bit BMP with alpha); pictures of more than 8 bits a
// channel (TIFF, HEIC, AVIF) as Format_RGBX64 or Format_RGBA64.

// A file that is not a picture, is truncated, or declares absurd dimensions.
class EInvalidGraphic : public Exception {
    using Exception::Exception;
};

enum class ImageFileType { Jpeg, Gif, Png, Bmp, Ico, Tiff, Webp, Heic, Avif, Other };

// The largest picture we agree to decode (width x height), to bound memory on hostile input.
constexpr qint64 MaxImagePixels = qint64(1) << 28; // 268 megapixels
constexpr int MaxImageSide = 65535;

// Recognises the data by its signature (not by the file name).
ImageFileType DetectImageType(const QByteArray& data);

// Decodes a whole file held in memory. Throws EInvalidGraphic with a clear message.
QImage DecodeImage(const QByteArray& data);
// DecodeImage for a picture that may take at most maxPixels: a larger JPEG is decoded at the
// least of libjpeg's reductions (1/2, 1/4, 1/8) that fits, any other larger picture is refused
// with EInvalidGraphic before its pixels are allocated.
QImage DecodeImageWithin(const QByteArray& data, qint64 maxPixels);
// Reads and decodes a file. Throws EFOpenError when it cannot be read, EInvalidGraphic otherwise.
QImage ReadImageFile(const QString& path);

QImage DecodeJpeg(const QByteArray& data);
// Decodes at the largest of libjpeg's reductions 1/8, 1/4, 1/2 whose result still covers
// minWidth x minHeight (each side rounded up), or at full size when none does.
QImage DecodeJpegScaled(const QByteArray& data, int minWidth, int minHeight);
// The same with libjpeg's own Huffman decoder however the picture is coded: what reads back a
// written file does not share a decoder with what read its source.
QImage DecodeJpegScaledByLibjpeg(const QByteArray& data, int minWidth, int minHeight);
QImage DecodeGif(const QByteArray& data); // first frame
QImage DecodePng(const QByteArray& data);
QImage DecodeBmp(const QByteArray& data); // 1, 4, 8, 24 and 32 bits, bottom-up and top-down

// Encoders. The image may be in any format; alpha is dropped for JPEG, GIF and BMP.
// quality 1..100, clamped; grayscale writes one grey component (from the pixels' luminance).
QByteArray EncodeJpeg(const QImage& image, int quality, bool grayscale = false);
// The same, decoded again as it is written (on a second thread, at 1/8 of the size, which reads
// every coded bit): throws EInvalidGraphic ("The written picture did not read back: ...") when
// the output would not decode whole.
QByteArray EncodeJpegChecked(const QImage& image, int quality, bool grayscale = false);
QByteArray EncodeGif(const QImage& image);               // reduced to 256 colours
QByteArray EncodeBmp(const QImage& image);               // 24 bits, bottom-up
QByteArray EncodePng(const QImage& image);               // 16 bits a channel from a 64-bit image

// The image as the GIF encoder will store it: giflib's median cut, with the flat colours it
// would distort most (such as caption text) kept exact.
QImage ReduceToGifColors(const QImage& image);

// Writes bytes to a file through WriteFileAtomically (never through a link); throws
// EFCreateError naming the file when it cannot be created or written.
void WriteFileBytes(const QString& path, const QByteArray& bytes);
// Photos and pictures are read only from regular files of at most this size (1 GB: more than the
// largest JPEG, PNG or 24-bit BMP of MaxImagePixels), so that a pipe, a device or a huge sparse
// file at a picture's name is refused instead of hanging or exhausting memory.
constexpr qint64 MaxImageFileSize = qint64(1) << 30;
// Reads a picture file whole; throws EFOpenError naming the file and the reason when it cannot
// be opened or read, is not a regular file or is larger than MaxImageFileSize.
QByteArray ReadFileBytes(const QString& path);
