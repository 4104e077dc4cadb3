#include "ColorMatrix.h"

#include <cstdint>

ColorMatrix IdentityColorMatrix() {
    ColorMatrix m{};
    for (int i = 0; i < 5; ++i)
        m[i][i] = 1.0f;
    return m;
}

namespace {

// The matrix rescaled to work on 0..255 channel values: out = in * M + 255 * offset.
struct Coefficients {
    float k[4][4]; // [input r g b a][output r g b a]
    float offset[4];
};

Coefficients MakeCoefficients(const ColorMatrix& m, bool opaque) {
    Coefficients c{};
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i)
            c.k[i][j] = m[i][j];
        c.offset[j] = 255.0f * m[4][j];
        if (opaque) // alpha enters as 1
            c.offset[j] += 255.0f * m[3][j];
    }
    return c;
}

// Clamps to 0..255 (NaN gives 0) and rounds half to even; the float-to-int cast is then exact.
inline uint32_t ToByte(float v) {
    constexpr float magic = 12582912.0f; // 1.5 * 2^23
    v = v > 0.0f ? v : 0.0f;
    v = v < 255.0f ? v : 255.0f;
    return uint32_t(int((v + magic) - magic));
}

// Written as a plain loop over pixels so the compiler can vectorise it.
void TransformOpaqueRow(QRgb* px, int n, const Coefficients& c) {
    const float k00 = c.k[0][0], k01 = c.k[0][1], k02 = c.k[0][2];
    const float k10 = c.k[1][0], k11 = c.k[1][1], k12 = c.k[1][2];
    const float k20 = c.k[2][0], k21 = c.k[2][1], k22 = c.k[2][2];
    const float o0 = c.offset[0], o1 = c.offset[1], o2 = c.offset[2];
    for (int x = 0; x < n; ++x) {
        const uint32_t p = px[x];
        const float r = float((p >> 16) & 0xFF), g = float((p >> 8) & 0xFF), b = float(p & 0xFF);
        const uint32_t nr = ToByte(r * k00 + g * k10 + b * k20 + o0);
        const uint32_t ng = ToByte(r * k01 + g * k11 + b * k21 + o1);
        const uint32_t nb = ToByte(r * k02 + g * k12 + b * k22 + o2);
        px[x] = 0xFF000000u | (nr << 16) | (ng << 8) | nb;
    }
}

void TransformAlphaRow(QRgb* px, int n, const Coefficients& c) {
    float k[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            k[i][j] = c.k[i][j];
    const float o0 = c.offset[0], o1 = c.offset[1], o2 = c.offset[2], o3 = c.offset[3];
    for (int x = 0; x < n; ++x) {
        const uint32_t p = px[x];
        const float r = float((p >> 16) & 0xFF), g = float((p >> 8) & 0xFF), b = float(p & 0xFF),
                    a = float(p >> 24);
        const uint32_t nr = ToByte(r * k[0][0] + g * k[1][0] + b * k[2][0] + a * k[3][0] + o0);
        const uint32_t ng = ToByte(r * k[0][1] + g * k[1][1] + b * k[2][1] + a * k[3][1] + o1);
        const uint32_t nb = ToByte(r * k[0][2] + g * k[1][2] + b * k[2][2] + a * k[3][2] + o2);
        const uint32_t na = ToByte(r * k[0][3] + g * k[1][3] + b * k[2][3] + a * k[3][3] + o3);
        px[x] = (na << 24) | (nr << 16) | (ng << 8) | nb;
    }
}

void TransformImage(QImage& image, bool opaque, const ColorMatrix& m) {
    const Coefficients c = MakeCoefficients(m, opaque);
    const int w = image.width();
    for (int y = 0; y < image.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (opaque)
            TransformOpaqueRow(row, w, c);
        else
            TransformAlphaRow(row, w, c);
    }
}

} // namespace

void ApplyColorMatrixInPlace(QImage& image, const ColorMatrix& m) {
    if (image.isNull())
        return;
    const QImage::Format format = image.format();
    switch (format) {
    case QImage::Format_RGB32:
        TransformImage(image, true, m);
        return;
    case QImage::Format_ARGB32:
        TransformImage(image, false, m);
        return;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8: {
        // Per-pixel and position-free: transforming the colour table is the same thing.
        QList<QRgb> table = image.colorTable();
        if (table.isEmpty())
            break;
        QImage entries(int(table.size()), 1, QImage::Format_ARGB32);
        std::copy(table.begin(), table.end(), reinterpret_cast<QRgb*>(entries.scanLine(0)));
        TransformImage(entries, false, m);
        const QRgb* e = reinterpret_cast<const QRgb*>(entries.constScanLine(0));
        table.assign(e, e + table.size());
        image.setColorTable(table);
        return;
    }
    default:
        break;
    }
    // Other formats go through 32 bits (straight alpha) and back; grey formats come back as
    // RGB32 or ARGB32 since they could not hold a coloured result.
    const bool alpha = image.hasAlphaChannel();
    QImage work = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    TransformImage(work, !alpha, m);
    if (format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16 ||
        format == QImage::Format_Alpha8 || format == QImage::Format_Invalid)
        image = std::move(work);
    else
        image = work.convertToFormat(format);
}

QImage ApplyColorMatrix(const QImage& image, const ColorMatrix& m) {
    QImage out = image;
    ApplyColorMatrixInPlace(out, m);
    return out;
}
