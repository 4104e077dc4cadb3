#pragma once

#include <QImage>
#include <QRgb>

// Turns the bitmap in place by angle degrees (clockwise positive). Quarter and half turns are
// exact; other angles use nearest-neighbour inverse mapping, the uncovered area taking fill.
// The result is always QImage::Format_RGB32 (the bitmap is converted first: alpha is dropped),
// or Format_RGBX64 for a bitmap of 64-bit pixels (16 bits a channel are kept).
void RotateBitmap(QImage& bitmap, QRgb fill, double angle);

// Resamples the bitmap in place to width x height with an area-averaging filter (reducing and
// enlarging). The result is QImage::Format_RGB32, or Format_RGBX64 for a bitmap of 64-bit pixels.
// Sizes below 1 leave the bitmap unchanged.
void ResampleBitmap(QImage& bitmap, int width, int height);
