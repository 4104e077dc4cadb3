#pragma once

#include "imaging/core/ImageCodecs.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>

// Captioning a JPEG without compressing the photo again. Only the MCUs (the groups of 8x8 blocks
// that share their colour samples) under the captions are decoded, painted and encoded again,
// with the photo's own quantisation tables and colour sampling; every other block keeps its DCT
// coefficients (and, where the file allows, its coded bits), so the picture outside the captions decodes exactly as before, and saving the
// result again costs nothing outside the captions either. All APPn and COM segments are kept, in
// their order.

// Empty when RecaptionJpeg can handle the file; otherwise a short reason for the user ("progressive
// JPEG", "arithmetic-coded JPEG", "CMYK JPEG", ...). Reads the header only.
QString RecaptionUnsupportedReason(const QByteArray& jpeg);

// Paints the captions into a band of the photo. The band is an RGB32 image of the photo's pixels
// (as a full decode shows them); origin is its top-left corner in the photo's coordinates. The
// band must keep its size.
using RecaptionPainter = std::function<void(QImage& band, const QPoint& origin)>;

// How the untouched MCUs reach the output. The coefficients of every block are the same either
// way.
// - Fastest copies their entropy-coded bits when the photo is a sequential Huffman-coded scan
//   whose tables code every symbol a block can need (the standard tables cameras write), and
//   codes every block again otherwise: tables fitted to a photo nearly always lack a symbol the
//   captions need, which shows only after the whole scan has been read.
// - CopyCodedBits tries the copy whatever the tables, and codes every block again only when a
//   symbol the captions need has no code.
// - RecodeAll always codes every block again, with libjpeg's standard tables.
enum class RecaptionPath { Fastest, CopyCodedBits, RecodeAll };

// The photo with the captions painted in. touched lists the areas the captions may paint, in the
// photo's pixel coordinates; they are widened to whole MCUs, and only those MCUs change (the
// painter is called once for each group of nearby areas). Without any area inside the photo the
// source comes back unchanged. Data after the end-of-image marker is not kept. Throws
// EInvalidGraphic with the reason when the file is unsupported or broken.
QByteArray RecaptionJpeg(const QByteArray& source, const QList<QRect>& touched,
                         const RecaptionPainter& draw,
                         RecaptionPath path = RecaptionPath::Fastest);
