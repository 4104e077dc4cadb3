#pragma once

#include "imaging/core/ImageCodecs.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Photos in TIFF, WebP, HEIF (HEIC) and AVIF: decoded and encoded by Qt's image plugins (TIFF,
// WebP) and libheif (HEIC, AVIF), with the metadata blocks their containers hold.
//
// A picture of more than 8 bits a channel (a 16-bit TIFF, a 10-bit HEIC or AVIF) comes back as
// QImage::Format_RGBX64 (RGBA64 with transparency) and an image in a 64-bit format is written at
// that depth again: 16 bits a channel in TIFF, 10 bits in HEIC and AVIF. Other pictures come back
// as Format_RGB32 or Format_ARGB32. HEIF pictures come back upright: their rotation and mirroring
// properties (irot, imir) are applied as they are decoded.
//
// Every decoder reads the declared size first and refuses a picture larger than the limits of
// CodecSupport::checkDimensions before its pixels are allocated.

QImage DecodeTiff(const QByteArray& data); // the first page
QImage DecodeWebp(const QByteArray& data); // the first frame
QImage DecodeHeif(const QByteArray& data); // HEIC or AVIF: the primary image
// The smallest thumbnail the file holds for its primary image whose longer side has at least
// minSide pixels, decoded; a null image when there is none (or it cannot be decoded).
QImage DecodeHeifThumbnail(const QByteArray& data, int minSide);

// The size a TIFF, WebP or HEIF file declares (upright for HEIF), without decoding it; invalid
// when it cannot be told.
QSize DeclaredPhotoSize(const QByteArray& data);

// True for WebP data coded losslessly (VP8L).
bool WebpIsLossless(const QByteArray& data);

// The metadata blocks of a photo's container. exif is the EXIF structure as TIFF stores it (its
// byte-order mark first, no "Exif" prefix); xmp the XMP packet; icc the embedded colour profile.
struct TContainerBlocks {
    QByteArray exif;
    QByteArray xmp;
    QByteArray icc;
    bool isEmpty() const { return exif.isEmpty() && xmp.isEmpty() && icc.isEmpty(); }
};

// The blocks of a TIFF, WebP, HEIF or PNG file (a PNG's eXIf, iCCP and XMP iTXt chunks; a TIFF's
// own tags outside the picture's structure make its EXIF block). Never throws: what cannot be
// read is left empty.
TContainerBlocks ReadContainerBlocks(const QByteArray& file);

// Whether pictures of a type can be written here (the encoder or plugin is present).
bool CanEncode(ImageFileType type);

// Encoders; each writes the blocks given into its output. Throw EInvalidGraphic on failure.
// TIFF: LZW-compressed, 16 bits a channel for 64-bit images, 8 otherwise.
QByteArray EncodeTiff(const QImage& image, const TContainerBlocks& blocks = {});
// WebP: lossless, or lossy at quality (1..100).
QByteArray EncodeWebp(const QImage& image, bool lossless, int quality,
                      const TContainerBlocks& blocks = {});
// HEIC (type Heic) or AVIF (type Avif) at quality (1..100).
QByteArray EncodeHeif(const QImage& image, ImageFileType type, int quality,
                      const TContainerBlocks& blocks = {});

// "TIFF", "WebP", "HEIC", "AVIF" and the older formats' names.
QString ImageTypeName(ImageFileType type);

// The lower-case extensions of the photo files the program reads, without dots: jpg, jpeg, gif,
// bmp, png, tif, tiff, webp, heic, heif, avif.
const QStringList& PhotoFileExtensions();
// Whether a file name ends in one of them, letter case and surrounding blanks aside.
bool HasPhotoExtension(const QString& fileName);
// The patterns of PhotoFileExtensions for file dialogs: "*.jpg *.jpeg ..." with the upper-case
// forms too when withUpperCase.
QString PhotoFilePatterns(bool withUpperCase = false);
