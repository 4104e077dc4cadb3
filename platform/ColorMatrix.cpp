#include "platform/ColorMatrix.h"

#include "platform/ImageBuffer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>

#include <QRgba64>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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
    v = v > 0.0f ? v : 0.0f;
    v = v < 255.0f ? v : 255.0f;
#if FLT_EVAL_METHOD == 0
    constexpr float magic = 12582912.0f; // 1.5 * 2^23
    return uint32_t(int((v + magic) - magic));
#else
    return uint32_t(std::nearbyint(v));
#endif
}

// One pixel; the vector code below computes the same sums in the same order.
template <bool Opaque> inline QRgb TransformPixel(QRgb p, const Coefficients& c) {
    const float r = float((p >> 16) & 0xFF), g = float((p >> 8) & 0xFF), b = float(p & 0xFF),
                a = float(p >> 24);
    uint32_t out[4];
    for (int j = 0; j < 4; ++j) {
        float v = r * c.k[0][j] + g * c.k[1][j] + b * c.k[2][j];
        if (!Opaque)
            v = v + a * c.k[3][j];
        out[j] = ToByte(v + c.offset[j]);
    }
    return ((Opaque ? 0xFFu : out[3]) << 24) | (out[0] << 16) | (out[1] << 8) | out[2];
}

// src may equal dst. Four pixels at a time, one channel per vector.
template <bool Opaque> void TransformRow(const QRgb* src, QRgb* dst, int n, const Coefficients& c) {
    int x = 0;
#ifdef __SSE2__
    __m128 k[4][4], off[4];
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i)
            k[i][j] = _mm_set1_ps(c.k[i][j]);
        off[j] = _mm_set1_ps(c.offset[j]);
    }
    const __m128i mask = _mm_set1_epi32(0xFF);
    const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(255.0f);
    for (; x + 4 <= n; x += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        const __m128 r = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 16), mask));
        const __m128 g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 8), mask));
        const __m128 b = _mm_cvtepi32_ps(_mm_and_si128(p, mask));
        const __m128 a = _mm_cvtepi32_ps(_mm_srli_epi32(p, 24));
        __m128i out[4];
        for (int j = 0; j < (Opaque ? 3 : 4); ++j) {
            __m128 v = _mm_add_ps(_mm_add_ps(_mm_mul_ps(r, k[0][j]), _mm_mul_ps(g, k[1][j])),
                                  _mm_mul_ps(b, k[2][j]));
            if (!Opaque)
                v = _mm_add_ps(v, _mm_mul_ps(a, k[3][j]));
            v = _mm_add_ps(v, off[j]);
            v = _mm_min_ps(_mm_max_ps(v, zero), top); // max first: NaN becomes 0
            out[j] = _mm_cvtps_epi32(v);              // rounds half to even
        }
        __m128i alpha;
        if constexpr (Opaque)
            alpha = _mm_set1_epi32(int(0xFF000000u));
        else
            alpha = _mm_slli_epi32(out[3], 24);
        const __m128i px = _mm_or_si128(_mm_or_si128(alpha, _mm_slli_epi32(out[0], 16)),
                                        _mm_or_si128(_mm_slli_epi32(out[1], 8), out[2]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), px);
    }
#endif
    for (; x < n; ++x)
        dst[x] = TransformPixel<Opaque>(src[x], c);
}

void TransformImage(const QImage& src, QImage& dst, bool opaque, const ColorMatrix& m) {
    const Coefficients c = MakeCoefficients(m, opaque);
    const int w = src.width();
    for (int y = 0; y < src.height(); ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        QRgb* d = reinterpret_cast<QRgb*>(dst.scanLine(y));
        if (opaque)
            TransformRow<true>(s, d, w, c);
        else
            TransformRow<false>(s, d, w, c);
    }
}

void TransformImage(QImage& image, bool opaque, const ColorMatrix& m) {
    image.detach();
    TransformImage(image, image, opaque, m);
}

// A shared image gets a new buffer written straight from the shared one, saving the copy pass.
void TransformOwnOrNew(QImage& image, bool opaque, const ColorMatrix& m) {
    if (image.isDetached()) {
        TransformImage(image, opaque, m);
        return;
    }
    QImage out = NewImageBufferOrThrow(image.width(), image.height(), image.format());
    TransformImage(image, out, opaque, m);
    image = std::move(out);
}

// 16 bits a channel (RGBX64, RGBA64): the same sums on 0..65535, so that a deep picture keeps
// its depth.
void TransformDeep(QImage& image, const ColorMatrix& m) {
    const bool opaque = image.format() == QImage::Format_RGBX64;
    image.detach();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgba64*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const float in[4] = {line[x].red() / 65535.0f, line[x].green() / 65535.0f,
                                 line[x].blue() / 65535.0f,
                                 opaque ? 1.0f : line[x].alpha() / 65535.0f};
            quint16 out[4];
            for (int j = 0; j < 4; ++j) {
                float v = m[4][j];
                for (int i = 0; i < 4; ++i)
                    v += in[i] * m[i][j];
                v = v > 0.0f ? v : 0.0f; // NaN gives 0
                v = v < 1.0f ? v : 1.0f;
                out[j] = quint16(std::nearbyint(v * 65535.0f));
            }
            line[x] = QRgba64::fromRgba64(out[0], out[1], out[2], opaque ? 65535 : out[3]);
        }
    }
}

} // namespace

void ApplyColorMatrixInPlace(QImage& image, const ColorMatrix& m) {
    if (image.isNull())
        return;
    const QImage::Format format = image.format();
    switch (format) {
    case QImage::Format_RGB32:
        TransformOwnOrNew(image, true, m);
        return;
    case QImage::Format_ARGB32:
        TransformOwnOrNew(image, false, m);
        return;
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
        TransformDeep(image, m);
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
        std::copy(e, e + table.size(), table.begin());
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
    CheckImageAllocated(work, image.width(), image.height());
    TransformImage(work, !alpha, m);
    if (format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16 ||
        format == QImage::Format_Alpha8) {
        image = std::move(work);
    } else {
        QImage back = work.convertToFormat(format);
        CheckImageAllocated(back, work.width(), work.height());
        image = std::move(back);
    }
}

QImage ApplyColorMatrix(const QImage& image, const ColorMatrix& m) {
    const QImage::Format format = image.format();
    if (!image.isNull() && (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32)) {
        // Straight from source to result: no copy pass first.
        QImage out = NewImageBufferOrThrow(image.width(), image.height(), format);
        TransformImage(image, out, format == QImage::Format_RGB32, m);
        return out;
    }
    QImage out = image;
    ApplyColorMatrixInPlace(out, m);
    return out;
}
