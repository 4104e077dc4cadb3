#pragma once

#include <QImage>
#include <array>

// A 5 x 5 colour matrix as the 2-D graphics library uses it: a pixel is the row vector
// [r g b a 1] (each 0..1) multiplied by the matrix, M[row][col]; row 4 holds the offsets.
using ColorMatrix = std::array<std::array<float, 5>, 5>;

ColorMatrix IdentityColorMatrix();

// Applies the matrix to every pixel, clamping each channel to 0..1. Keeps the image's format
// (RGB32 stays opaque; ARGB32 and premultiplied ARGB32 keep their alpha handling).
QImage ApplyColorMatrix(const QImage& image, const ColorMatrix& m);
void ApplyColorMatrixInPlace(QImage& image, const ColorMatrix& m);
