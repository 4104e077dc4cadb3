#pragma once

#include <QImage>
#include <array>

// A 5 x 5 colour matrix as the 2-D graphics library uses it: a pixel is the row vector
// [r g b a 1] (each 0..1) multiplied by the matrix, M[row][col]; row 4 holds the offsets.
using ColorMatrix = std::array<std::array<float, 5>, 5>;

ColorMatrix IdentityColorMatrix();

// Applies the matrix to every pixel, clamping each channel to 0..1; results are rounded half to
// even on the 0..255 scale. Keeps the image's format (RGB32 stays opaque: alpha enters as 1 and
// stays 255; ARGB32 has its alpha transformed too; premultiplied ARGB32 is transformed on straight
// colours; RGBX64 and RGBA64 are transformed at 16 bits a channel, rounded on the 0..65535
// scale). Indexed images have their colour table transformed; grey formats come back as RGB32
// (or ARGB32 for Alpha8), since they cannot hold a coloured result.
QImage ApplyColorMatrix(const QImage& image, const ColorMatrix& m);
void ApplyColorMatrixInPlace(QImage& image, const ColorMatrix& m);
