#pragma once

#include "platform/ColorMatrix.h"

// The colour matrices of the adjustments dialog. Pixels are rows [r g b a 1], so in a product
// A x B the matrix A acts first.

// The luminance base L: one row of BT.601 luma weights per input channel.
ColorMatrix LuminanceBase();

// R = Q x P: R[row][col] = sum over m of Q[row][m] * P[m][col], accumulated in extended
// precision and stored as single floats. Note the argument order (P first).
ColorMatrix MatrixMultiple(const ColorMatrix& p, const ColorMatrix& q);

// The combined matrix S x (B x C): saturation acts first, then brightness, then contrast.
ColorMatrix MatrixMult(const ColorMatrix& s, const ColorMatrix& b, const ColorMatrix& c);

// s = saturation track bar position / 100 (0..3): 0 gives grey, 1 identity.
ColorMatrix SaturationMatrix(double s);
// b = brightness track bar position / 100 (-1..1), added to red, green and blue.
ColorMatrix BrightnessMatrix(double b);
// c = contrast track bar position / 100 (0..3): each colour channel scaled by c about 0.5.
ColorMatrix ContrastMatrix(double c);
