#pragma once

#include <QImage>
#include <QRgb>
#include <QSize>

#include <functional>
#include <memory>

// Turns the bitmap in place by angle degrees (clockwise positive). Quarter and half turns are
// exact; other angles use nearest-neighbour inverse mapping, the uncovered area taking fill.
// The result is always QImage::Format_RGB32 (the bitmap is converted first: alpha is dropped),
// or Format_RGBX64 for a bitmap of 64-bit pixels (16 bits a channel are kept).
void RotateBitmap(QImage& bitmap, QRgb fill, double angle);

// Resamples the bitmap in place to width x height with an area-averaging filter (reducing and
// enlarging). The result is QImage::Format_RGB32, or Format_RGBX64 for a bitmap of 64-bit pixels.
// Sizes below 1 leave the bitmap unchanged.
void ResampleBitmap(QImage& bitmap, int width, int height);

// ResampleBitmap of an 8-bit picture fed one source row at a time, top to bottom (RGB32 rows of
// source's width): each destination row is given as soon as the source rows under it are in,
// equal to the row ResampleBitmap makes. Holds a few rows, never the picture.
class TRowResampler {
public:
    TRowResampler(const QSize& source, const QSize& target);
    ~TRowResampler();
    TRowResampler(const TRowResampler&) = delete;
    TRowResampler& operator=(const TRowResampler&) = delete;
    // Takes the next source row; give(y, row) for each destination row it completes (row holds
    // the target's width of pixels and is valid during the call).
    void Push(const QRgb* row, const std::function<void(int y, const QRgb* row)>& give);
    int RowsGiven() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Writes count consecutive rows of an RGB32 picture of size source, its rows first .. first +
// count - 1, into dst as they land once the picture is turned by quarters clockwise quarter
// turns (1, 2 or 3; dst already has the turned size and format RGB32): rows turned as they come,
// so that the unturned picture is never held whole. Pixels are those of RotateBitmap.
void TurnRowsInto(const QRgb* const* rows, int first, int count, QSize source, int quarters,
                  QImage& dst);

// The picture at half its size, each pixel the mean of a 2 x 2 block (a last odd row or column
// is dropped): one level of the preview's pyramid. RGB32 in, RGB32 out; any other format is
// taken as premultiplied ARGB32 (the result is premultiplied as well). A side of 1 stays 1.
QImage HalveBitmap(const QImage& bitmap);

// The size a picture is fitted to in a box of width x height. Proportional: the picture's own
// aspect, as large as fits inside the box, so that a square box gives the long side (4000 x 3000
// into 1600 x 1600 is 1600 x 1200, into 1600 x 993 is 1324 x 993); otherwise the box itself.
// Never a side above the box's nor below 1. An empty picture or box gives the box.
QSize FitIntoBox(QSize picture, QSize box, bool proportional);
