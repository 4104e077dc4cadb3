#pragma once

#include "imaging/core/ColorProfiles.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegSegments.h"
#include "imaging/core/PhotoFormats.h"
#include "imaging/core/TExif.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QStringList>

#include <functional>

// The metadata of a photo file that its captioned output carries: for a JPEG every APPn and COM
// segment (JFIF, EXIF, XMP and extended XMP, ICC profile chunks, Photoshop/IPTC, Adobe, comments,
// any other application's), for a PNG its iCCP, eXIf and XMP iTXt chunks, for a TIFF, WebP, HEIC
// or AVIF its EXIF, XMP and ICC blocks. GIF and BMP hold none.
// Blocks are written back byte for byte and in their order; only those that the output makes
// wrong are mended (the EXIF sizes and thumbnail, other thumbnails, the Adobe colour transform of
// a re-encoded picture).

struct TPhotoMetadata {
    ImageFileType type = ImageFileType::Other;
    QList<TJpegSegment> segments; // JPEG: APPn and COM before the first scan, in order
    QList<QByteArray> pngChunks;  // PNG: whole chunks (length, type, data, CRC), in order
    QByteArray iccProfile;        // the embedded profile when it is whole and readable
    TProfileSpace profileSpace = TProfileSpace::Other; // of iccProfile
    // JPEG: what follows the picture's end marker (further images, an appended video...), as
    // JpegTrailerLoss tells it; empty when nothing does.
    QString trailerLoss;
    // Damaged blocks, carried unchanged all the same ("the colour profile is damaged: ...").
    QStringList problems;
    // TIFF, WebP, HEIC, AVIF: the blocks their encoders write into the output (the EXIF block
    // then comes from the surface's record).
    TContainerBlocks container;
    bool losslessWebp = false; // a WebP source coded losslessly

    bool isEmpty() const {
        return segments.isEmpty() && pngChunks.isEmpty() && container.isEmpty();
    }
};

// Reads the metadata of a photo file held in memory. Never throws: what cannot be read is left
// out or noted in problems.
TPhotoMetadata ReadPhotoMetadata(const QByteArray& file);

// How an output was made, for the blocks that describe it.
struct TWrittenPicture {
    QSize size;            // its pixels as stored
    bool reencoded = true; // false: the source's own compressed data with the captions coded in
    int components = 3;    // of a re-encoded JPEG: 3 (YCbCr) or 1 (grey)
    // The written picture, or a reduced copy of it, for the thumbnails; called at most once, and
    // only when a block holds a thumbnail. Null or a null image: thumbnails are removed.
    std::function<QImage()> picture;
};

struct TCarriedOutput {
    QByteArray bytes;
    // The blocks the output must hold, in order: whole JPEG segments or whole PNG chunks.
    QList<QByteArray> carried;
    QStringList notices; // for the user: damaged blocks, blocks that could not be kept
};

// Puts the source's blocks into an output encoded in the same format (the encoder's own JFIF
// header is dropped when the source brings segments of its own). `exif` is the source's record as
// the surface holds it: its segment (with the orientation it was given when the photo was turned
// upright) stands in for the source's EXIF segment. Throws EInvalidGraphic when the encoded data
// cannot be walked.
TCarriedOutput CarryMetadata(const QByteArray& encoded, const TPhotoMetadata& source,
                             const TExif& exif, const TWrittenPicture& written);

// Reads an output back before it is written: it must decode, have `size` and hold the carried
// blocks, in order and byte for byte. Throws EInvalidGraphic with what is wrong. decoded, when
// given, is a JPEG already checked as it was written (EncodeJpegChecked decodes it whole;
// RecaptionJpeg reads back what it coded again, the rest being the source's own coded data): when
// the output's tables, frame and scans are byte for byte its own, they are not decoded a second
// time.
void VerifyOutput(const QByteArray& output, const QSize& size, const QList<QByteArray>& carried,
                  const QByteArray& decoded = QByteArray());

// A JPEG thumbnail (no segments of its own) of a picture, fitted into side x side with its aspect
// ratio; empty for a null picture.
QByteArray MakeJpegThumbnail(const QImage& picture, int side, int quality);
