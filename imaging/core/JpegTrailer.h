#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What a JPEG file holds after its picture's end-of-image marker: the further images of a
// multi-picture file (a stereo pair, a large preview, a gain map), indexed by the multi-picture
// (MPF) APP2 segment of the first image, or anything a camera or an editor appended (a motion
// photo's video). Decoders stop at the marker, so an output written from the picture alone
// loses that data unless it is carried over.

// Just past the end-of-image marker of the first image, read the way libjpeg reads markers and
// entropy-coded data; the data's size when the marker is missing. -1 when the data does not
// start with a start-of-image marker.
qsizetype JpegImageEnd(const QByteArray& jpeg);

struct CarriedJpeg {
    QByteArray bytes;
    // Empty, or why part of the source is not in bytes as it was (for the user).
    QString notice;
};

// output is a JPEG written from source's first image, keeping source's APPn segments (the MPF
// one included) in their order. Returns output followed by source's trailer, with the MPF index
// updated for the new size and place of the first image, so that its entries point at the same
// images. An MPF index that does not describe source (an entry outside its trailer) cannot be
// updated: the segment is then left out, with a notice, and the trailer still follows. Data
// that output itself has after its end marker is replaced.
CarriedJpeg CarryJpegTrailer(const QByteArray& source, const QByteArray& output);

// What an output holding only source's first image, without its MPF segment, lacks ("1 more
// image after the picture (multi-picture file)", "1234 bytes after the end of the picture");
// empty when the source has nothing after its picture but padding.
QString JpegTrailerLoss(const QByteArray& source);
