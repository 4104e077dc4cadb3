#pragma once

#include "imaging/core/TExif.h"

#include <QByteArray>
#include <QSize>

#include <functional>
#include <mutex>

// exiv2 keeps global state (its log level and handler, the XMP toolkit, tables built on first
// use): every call into it, here and elsewhere, holds this lock.
std::mutex& Exiv2Lock();

// The EXIF block made to describe the picture it is written with, rewritten through exiv2 (the
// reading of dates and entry lines stays TExif's).

// A JPEG thumbnail of the written picture fitting in maxSide x maxSide at a JPEG quality, or
// empty when none can be made.
using TExifThumbnailMaker = std::function<QByteArray(int maxSide, int quality)>;

// The mended block for a picture of `size` pixels: ExifImageWidth and ExifImageHeight
// (PixelXDimension, PixelYDimension) set to the size, and IFD0's ImageWidth and ImageLength too
// when the block has them; an IFD1 thumbnail, when the block has one, replaced by a thumbnail
// from makeThumbnail (at most 160 x 160, smaller ones tried until the block fits in maxBytes), or
// removed when none can be made or fits. Every other entry keeps its value. Throws EExifError
// with the reason when exiv2 cannot read the block or would have to drop entries to write it.
QByteArray MendExifTiff(const QByteArray& tiff, const QSize& size,
                        const TExifThumbnailMaker& makeThumbnail, qsizetype maxBytes);

// The same for a whole JPEG APP1 segment (FF E1, length, "Exif\0\0", TIFF block); the result is a
// whole segment again and fits in one.
QByteArray MendExifSegment(const QByteArray& segment, const QSize& size,
                           const TExifThumbnailMaker& makeThumbnail);

// The largest thumbnail side written into EXIF blocks.
constexpr int ExifThumbnailSide = 160;
