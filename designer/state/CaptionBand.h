#pragma once

#include "platform/Toolkit.h"

#include <QImage>
#include <QRect>
#include <QSize>

// A band of the photo's width added below or above it, for captions beside the picture rather
// than on it. Its height is per mille of the photo's shorter side. The output is the photo with
// the band added; the photo's own pixels are not touched.
struct TCaptionBand {
    enum class Edge { Bottom, Top };
    bool on = false;
    Edge edge = Edge::Bottom;
    int size = 120; // per mille of the shorter side
    TColor color = clWhite;

    bool operator==(const TCaptionBand&) const = default;
};

// The band as one text, "Bottom,120,clWhite" (edge, size, colour), empty for none; read back
// with the edge and colour in any case. A malformed text raises EConvertError naming it.
QString BandText(const TCaptionBand& band);
TCaptionBand BandFromText(const QString& text);

// The band's height in pixels for a photo (0 without one).
int BandHeight(const TCaptionBand& band, const QSize& photo);
// The photo with the band: its size, where the photo sits in it, where the band does (empty
// without one).
QSize CanvasSize(const TCaptionBand& band, const QSize& photo);
QRect PhotoRectOnCanvas(const TCaptionBand& band, const QSize& photo);
QRect BandRectOnCanvas(const TCaptionBand& band, const QSize& photo);
// The photo with the band added (the photo itself without one). A null image when there is no
// memory for it.
QImage WithBand(const QImage& photo, const TCaptionBand& band);
// An area of the canvas: the photo's pixels, the band's colour, outside elsewhere.
QImage CanvasPart(const QImage& photo, const TCaptionBand& band, const QRect& area,
                  QRgb outside = 0);
