#pragma once

#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PhotoMetadata.h"
#include "imaging/core/TExif.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

// The picture held by a picture brick: the toolkit class name it is stored under, the picture
// file's own bytes (kept so that saving the brick writes them back unchanged) and the decoded
// image (ARGB32 when the picture has transparency).
struct LoadedGraphic {
    QString className;
    QByteArray data;
    QImage image;
};

// The most pixels a picture brick's picture is decoded at (33.5 megapixels, 128 MB decoded), so
// that a small pattern file cannot make gigabytes of pictures: a larger JPEG is decoded at a
// reduced scale that fits (the brick stretches its picture anyway), any other larger picture is
// refused with a message.
constexpr qint64 MaxPicturePixels = qint64(1) << 25;

// The class name for picture bytes, by signature: "TJPEGImage", "TBitmap", "TPngImage",
// "TGIFImage", "TIcon", or "TWICImage" for anything else.
QString GraphicClassName(ImageFileType type);

// From a file. Throws EFOpenError when it cannot be read, EInvalidGraphic naming the file when
// it is not a picture or too large (MaxPicturePixels).
LoadedGraphic LoadGraphicFile(const QString& path);

// From the bytes of a Picture.Data value: short-string class name, then the class's own data
// (a 4-byte little-endian length before it is skipped when it matches). The class name of the
// result follows the data's signature. An empty value, or a class name with no data after it,
// is a picture without graphic: empty class name, data and image. Throws EInvalidGraphic on
// malformed data and on pictures too large (MaxPicturePixels).
LoadedGraphic LoadGraphicData(const QByteArray& pictureData);

// Picture.Data bytes: short-string class name, a 4-byte little-endian length for "TBitmap" and
// "TJPEGImage", then the data. An empty graphic gives an empty array.
QByteArray MakePictureData(const LoadedGraphic& g);

// The picture as it is meant to be seen, from the picture as stored and an EXIF Orientation
// value: 2..8 mirror and turn it as the value says, any other value leaves it as it is.
QImage OrientedImage(QImage image, quint32 orientation);

// A photo as the design surface holds it: its picture (RGB32, or ARGB32 with transparency) and
// its EXIF record. With autoRotate the picture is turned upright by the record's orientation,
// which then says 1, so that viewers do not turn the written file a second time.
struct LoadedPhoto {
    QImage picture;
    TExif exif;
    QString exifError; // why the EXIF record could not be read; empty when it was
    TPhotoMetadata metadata; // the blocks the output carries, the colour profile among them
    // The upright picture's full size; larger than picture's when it was decoded reduced.
    QSize fullSize;
};
// Throws EFOpenError when the file cannot be read, EInvalidGraphic naming it when it is not a
// picture.
LoadedPhoto LoadPhotoFile(const QString& path, bool autoRotate);

// The size, in upright full-size pixels, that a decode must at least cover for a given upright
// full size; an invalid size when the full picture is wanted.
using LeastDecodeSize = std::function<QSize(const QSize& uprightFullSize)>;
// As LoadPhotoFile, but a JPEG is decoded at the smallest of libjpeg's reductions that still
// covers least(full size), so that the full-size picture is never made when only a small one
// is needed. Safe to call from any thread.
LoadedPhoto LoadPhotoFileReduced(const QString& path, bool autoRotate,
                                 const LeastDecodeSize& least);

// The size a photo file's picture has on the surface: read without decoding where the reader
// allows it, its sides swapped when autoRotate turns it by a quarter. Throws as LoadPhotoFile
// when the size can only be had by decoding a file that cannot be read.
QSize PhotoFileSize(const QString& path, bool autoRotate);
