#include "imaging/core/ColorAdjust.h"

ColorMatrix LuminanceBase() {
    ColorMatrix l{};
    const float luma[3] = {0.299f, 0.587f, 0.114f};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            l[i][j] = luma[i];
    l[3][3] = 1.0f;
    l[4][4] = 1.0f;
    return l;
}

ColorMatrix MatrixMultiple(const ColorMatrix& p, const ColorMatrix& q) {
    ColorMatrix r{};
    for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 5; ++col) {
            long double sum = 0;
            for (int m = 0; m < 5; ++m)
                sum += static_cast<long double>(q[row][m]) * p[m][col];
            r[row][col] = static_cast<float>(sum);
        }
    return r;
}

ColorMatrix MatrixMult(const ColorMatrix& s, const ColorMatrix& b, const ColorMatrix& c) {
    const ColorMatrix bc = MatrixMultiple(c, b);
    return MatrixMultiple(bc, s);
}

ColorMatrix SaturationMatrix(double s) {
    const ColorMatrix l = LuminanceBase();
    ColorMatrix m = IdentityColorMatrix();
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) {
            const double v = l[i][j];
            if (v > 0 && v < 1 && i == j)
                m[i][j] = static_cast<float>(s + v * (1 - s));
            else if (i <= 2 && j <= 2)
                m[i][j] = static_cast<float>(v * (1 - s));
        }
    return m;
}

ColorMatrix BrightnessMatrix(double b) {
    ColorMatrix m = IdentityColorMatrix();
    for (int j = 0; j < 3; ++j)
        m[4][j] = static_cast<float>(b);
    return m;
}

ColorMatrix ContrastMatrix(double c) {
    ColorMatrix m = IdentityColorMatrix();
    for (int j = 0; j < 3; ++j) {
        m[j][j] = static_cast<float>(c);
        m[4][j] = static_cast<float>((1 - c) * 0.5);
    }
    return m;
}
