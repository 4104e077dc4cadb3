#include "imaging/core/BitmapOps.h"

#include "platform/ImageBuffer.h"
#include "platform/Rounding.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <numbers>
#include <vector>

#include <QRgba64>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr QRgb kOpaque = 0xFF000000u;

// Fails with "Not enough memory for a W × H image." when the pixels cannot be had.
QImage NewBitmap(int width, int height) {
    return NewImageBufferOrThrow(width, height, QImage::Format_RGB32);
}

// The 24-bit working bitmap: RGB32 with the alpha byte dropped (set opaque).
void ToWorkingFormat(QImage& bitmap) {
    if (bitmap.format() == QImage::Format_RGB32)
        return;
    if (bitmap.format() == QImage::Format_ARGB32) {
        // Straight alpha: the colour bytes are kept as they are, only alpha is dropped.
        QImage out = NewBitmap(bitmap.width(), bitmap.height());
        for (int y = 0; y < bitmap.height(); ++y) {
            const QRgb* s = reinterpret_cast<const QRgb*>(bitmap.constScanLine(y));
            QRgb* d = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < bitmap.width(); ++x)
                d[x] = s[x] | kOpaque;
        }
        bitmap = std::move(out);
        return;
    }
    QImage out = bitmap.convertToFormat(QImage::Format_RGB32);
    if (!bitmap.isNull())
        CheckImageAllocated(out, bitmap.width(), bitmap.height());
    bitmap = std::move(out);
}

const QRgb* Row(const QImage& img, int y) {
    return reinterpret_cast<const QRgb*>(img.constScanLine(y));
}
QRgb* Row(QImage& img, int y) {
    return reinterpret_cast<QRgb*>(img.scanLine(y));
}

// Quarter turns walk the result in square tiles so that the source rows touched by one tile
// stay in the first-level cache; inside a tile, 4 x 4 blocks are transposed in registers.
constexpr int kTile = 64;

#ifdef __SSE2__
inline void Transpose4(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
    const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpacklo_epi32(r2, r3);
    const __m128i t2 = _mm_unpackhi_epi32(r0, r1), t3 = _mm_unpackhi_epi32(r2, r3);
    r0 = _mm_unpacklo_epi64(t0, t1);
    r1 = _mm_unpackhi_epi64(t0, t1);
    r2 = _mm_unpacklo_epi64(t2, t3);
    r3 = _mm_unpackhi_epi64(t2, t3);
}
#endif

// Clockwise: result (x, y) = source (y, H - 1 - x). Counter-clockwise: result (x, y) =
// source (W - 1 - y, x). Either way the result is H x W, and result column x reads one source
// row (srcRow[x]) at source column col(y).
template <bool Clockwise> QImage TurnQuarter(const QImage& src) {
    const int w = src.width(), h = src.height();
    QImage dst = NewBitmap(h, w);
    std::vector<const QRgb*> srcRow(h);
    for (int x = 0; x < h; ++x)
        srcRow[x] = Row(src, Clockwise ? h - 1 - x : x);
    auto col = [w](int y) { return Clockwise ? y : w - 1 - y; };
    std::vector<QRgb*> dstRow(w);
    for (int y = 0; y < w; ++y)
        dstRow[y] = Row(dst, y);

    for (int y0 = 0; y0 < w; y0 += kTile) {
        const int y1 = std::min(y0 + kTile, w);
        for (int x0 = 0; x0 < h; x0 += kTile) {
            const int x1 = std::min(x0 + kTile, h);
            int y = y0;
#ifdef __SSE2__
            for (; y + 4 <= y1; y += 4) {
                // Source columns col(y) .. col(y + 3), lowest address first.
                const int c0 = Clockwise ? y : w - 4 - y;
                int x = x0;
                for (; x + 4 <= x1; x += 4) {
                    __m128i r[4];
                    for (int i = 0; i < 4; ++i) {
                        r[i] =
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(srcRow[x + i] + c0));
                        if constexpr (!Clockwise)
                            r[i] = _mm_shuffle_epi32(r[i], _MM_SHUFFLE(0, 1, 2, 3));
                    }
                    Transpose4(r[0], r[1], r[2], r[3]);
                    for (int j = 0; j < 4; ++j)
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(dstRow[y + j] + x), r[j]);
                }
                for (; x < x1; ++x)
                    for (int j = 0; j < 4; ++j)
                        dstRow[y + j][x] = srcRow[x][col(y + j)];
            }
#endif
            for (; y < y1; ++y) {
                QRgb* d = dstRow[y];
                const int c = col(y);
                for (int x = x0; x < x1; ++x)
                    d[x] = srcRow[x][c];
            }
        }
    }
    return dst;
}

// Result (x, y) = source (W - 1 - x, H - 1 - y): rows swapped end for end and reversed. Done in
// place when the bitmap holds its pixels alone.
void TurnHalf(QImage& bitmap) {
    const int w = bitmap.width(), h = bitmap.height();
    if (!bitmap.isDetached()) {
        const QImage src = bitmap;
        QImage dst = NewBitmap(w, h);
        for (int y = 0; y < h; ++y) {
            const QRgb* s = Row(src, h - 1 - y);
            std::reverse_copy(s, s + w, Row(dst, y));
        }
        bitmap = std::move(dst);
        return;
    }
    for (int top = 0, bottom = h - 1; top <= bottom; ++top, --bottom) {
        QRgb* a = Row(bitmap, top);
        QRgb* b = Row(bitmap, bottom);
        if (a == b) {
            std::reverse(a, a + w);
            break;
        }
        for (int x = 0; x < w; ++x)
            std::swap(a[x], b[w - 1 - x]);
    }
}

int RoundExtended(long double v) {
    return static_cast<int>(std::nearbyint(v));
}

// The mapping is defined on long double products. Doing that per pixel is slow (x87), so each
// coordinate is first formed in double, whose error here stays below 1e-10; only when that value
// lies within kNearHalf of a rounding boundary can the long double result differ, and then the
// long double formula decides. The outcome is identical to the long double formula everywhere.
constexpr double kNearHalf = 0.5 - 1e-6;

// std::nearbyint without the library call: adding and removing 1.5 * 2^52 rounds half to even,
// provided doubles are evaluated at double precision.
inline double RoundDouble(double v) {
#if FLT_EVAL_METHOD == 0
    constexpr double magic = 6755399441055744.0;
    return (v + magic) - magic;
#else
    return std::nearbyint(v);
#endif
}

QImage RotateGeneral(const QImage& src, QRgb fill, double angle) {
    const int w = src.width(), h = src.height();
    const double a = angle * std::numbers::pi / 180.0;
    const double cosA = std::cos(a), sinA = std::sin(a);

    const int cornerX[4] = {0, w, w, 0};
    const int cornerY[4] = {0, 0, h, h};
    int minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
        const long double x = cornerX[i], y = cornerY[i];
        const int rx = RoundExtended(x * cosA - y * sinA);
        const int ry = RoundExtended(x * sinA + y * cosA);
        if (i == 0) {
            minX = maxX = rx;
            minY = maxY = ry;
        } else {
            minX = std::min(minX, rx);
            maxX = std::max(maxX, rx);
            minY = std::min(minY, ry);
            maxY = std::max(maxY, ry);
        }
    }
    const int dw = maxX - minX, dh = maxY - minY;
    QImage dst = NewBitmap(std::max(dw, 1), std::max(dh, 1));
    dst.fill(fill | kOpaque);
    if (dw < 1 || dh < 1)
        return dst;

    const double s = std::sin(-a), c = std::cos(-a);
    std::vector<const QRgb*> srcRow(h);
    for (int y = 0; y < h; ++y)
        srcRow[y] = Row(src, y);
    const unsigned uw = unsigned(w), uh = unsigned(h);

    for (int y = 0; y < dh; ++y) {
        QRgb* d = Row(dst, y);
        const int iy = y + minY;
        const double ys = double(iy) * s, yc = double(iy) * c;
        for (int x = 0; x < dw; ++x) {
            const int ix = x + minX;
            const double u = double(ix) * c - ys;
            const double v = double(ix) * s + yc;
            const double ru = RoundDouble(u), rv = RoundDouble(v);
            int sx = int(ru), sy = int(rv);
            if (std::fabs(u - ru) > kNearHalf || std::fabs(v - rv) > kNearHalf) {
                const long double lx = ix, ly = iy;
                sx = RoundExtended(lx * c - ly * s);
                sy = RoundExtended(lx * s + ly * c);
            }
            if (unsigned(sx) < uw && unsigned(sy) < uh)
                d[x] = srcRow[sy][sx];
        }
    }
    return dst;
}

// Area-averaging contributions of source pixels to each destination pixel along one axis.
// Destination pixel d covers source span [d * S / D, (d + 1) * S / D); in units of 1/D source
// pixels every overlap is an integer, so weights are exact fractions before fixed-point scaling.
constexpr int kWeightBits = 14;
constexpr int32_t kWeightOne = 1 << kWeightBits;

struct Contributions {
    std::vector<int> first;      // first source index per destination pixel
    std::vector<int> count;      // number of source pixels
    std::vector<int32_t> weight; // all weights, destination after destination
    int maxCount = 0;
};

Contributions MakeContributions(int srcLen, int dstLen) {
    Contributions c;
    c.first.resize(dstLen);
    c.count.resize(dstLen);
    c.weight.reserve(size_t(dstLen) * (srcLen / dstLen + 2));
    const int64_t S = srcLen, D = dstLen;
    for (int64_t d = 0; d < D; ++d) {
        const int64_t lo = d * S, hi = lo + S;
        const int64_t i0 = lo / D, i1 = (hi - 1) / D;
        const size_t base = c.weight.size();
        int32_t sum = 0;
        size_t largest = base;
        for (int64_t i = i0; i <= i1; ++i) {
            const int64_t overlap = std::min(hi, (i + 1) * D) - std::max(lo, i * D);
            const int32_t wt = int32_t((overlap * kWeightOne * 2 + S) / (2 * S));
            c.weight.push_back(wt);
            sum += wt;
            if (wt > c.weight[largest])
                largest = c.weight.size() - 1;
        }
        c.weight[largest] += kWeightOne - sum; // weights sum to exactly one: flat stays flat
        c.first[d] = int(i0);
        c.count[d] = int(i1 - i0 + 1);
        c.maxCount = std::max(c.maxCount, c.count[d]);
    }
    return c;
}

// The rows between the two passes: B, G, R and a spare lane per destination pixel, each the
// horizontal sum with 8 fractional bits (0 .. 65280) less 32768, so that it is a signed 16-bit
// number that SSE2's multiply-add takes; the vertical pass adds the 32768 back.
constexpr int kLanes = 4;
constexpr int32_t kLaneBias = 32768;
constexpr int kHShift = kWeightBits - 8;
constexpr int kVShift = kWeightBits + 8;

inline int16_t ToLane(uint32_t sum) {
    return int16_t(int32_t((sum + (1u << (kHShift - 1))) >> kHShift) - kLaneBias);
}

// Horizontal pass for one source row, one pixel at a time from the contributions.
void ResampleRowScalar(const QRgb* src, int16_t* out, const Contributions& cx) {
    const int32_t* wt = cx.weight.data();
    const int dw = int(cx.first.size());
    for (int d = 0; d < dw; ++d) {
        const QRgb* p = src + cx.first[d];
        const int n = cx.count[d];
        uint32_t b = 0, g = 0, r = 0;
        for (int k = 0; k < n; ++k) {
            const uint32_t v = p[k], wk = uint32_t(wt[k]);
            b += wk * (v & 0xFF);
            g += wk * ((v >> 8) & 0xFF);
            r += wk * ((v >> 16) & 0xFF);
        }
        wt += n;
        int16_t* o = out + kLanes * d;
        o[0] = ToLane(b);
        o[1] = ToLane(g);
        o[2] = ToLane(r);
        o[3] = 0;
    }
}

#ifndef __SSE2__
// Vertical pass: the rows' lanes weighted, rounded and packed into RGB32 pixels.
void CombineRowsScalar(const int16_t* const* rows, const int32_t* wy, int n, int width, QRgb* out) {
    constexpr uint32_t half = 1u << (kVShift - 1);
    for (int x = 0; x < width; ++x) {
        uint32_t sum[3] = {};
        for (int k = 0; k < n; ++k)
            for (int c = 0; c < 3; ++c)
                sum[c] += uint32_t(wy[k]) * uint32_t(rows[k][kLanes * x + c] + kLaneBias);
        out[x] = kOpaque | (((sum[2] + half) >> kVShift) << 16) |
                 (((sum[1] + half) >> kVShift) << 8) | ((sum[0] + half) >> kVShift);
    }
}
#endif

#ifdef __SSE2__
// The horizontal pass with SSE2: every destination pixel reads the same number of source pixel
// pairs (its window moved inside the row and padded with weights of zero), and two destination
// pixels are made together. pairWeight holds, per pair of destinations and per source pair, the
// two destinations' weight pairs (low half for the first pixel of the pair) side by side.
struct PairPlan {
    int pairs = 0;                  // source pixel pairs per destination pixel
    std::vector<int> start;         // first source pixel per destination, an even count of them
    std::vector<uint32_t> weight;   // (w0 | w1 << 16) per pair, as above
};

// Empty (pairs == 0) when the row is too short for the padded windows.
PairPlan MakePairPlan(const Contributions& cx, int srcLen) {
    PairPlan plan;
    const int dw = int(cx.first.size());
    const int pairs = (cx.maxCount + 1) / 2;
    if (2 * pairs > srcLen)
        return plan;
    plan.pairs = pairs;
    const int padded = dw + (dw & 1); // an odd last pixel gets a partner of zero weights
    plan.start.resize(size_t(padded));
    plan.weight.assign(size_t(padded) * size_t(pairs), 0u);
    const int32_t* wt = cx.weight.data();
    for (int d = 0; d < dw; ++d) {
        const int first = cx.first[size_t(d)], n = cx.count[size_t(d)];
        const int s = std::min(first, srcLen - 2 * pairs);
        plan.start[size_t(d)] = s;
        uint32_t* w = plan.weight.data() + size_t(d / 2) * 2 * size_t(pairs) + size_t(d & 1);
        for (int k = 0; k < n; ++k) {
            const int i = first + k - s; // tap's place in the window
            w[2 * (i / 2)] |= uint32_t(wt[k]) << (16 * (i & 1));
        }
        wt += n;
    }
    if (dw & 1)
        plan.start[size_t(dw)] = plan.start[size_t(dw - 1)];
    return plan;
}

// Two adjacent source pixels as 16-bit channels, the pixels' channels side by side:
// b0 b1 g0 g1 r0 r1 a0 a1, for the destination pixels a and b of one register.
inline void LoadPairs(const QRgb* a, const QRgb* b, __m128i& lo, __m128i& hi) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i x = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
    const __m128i t = _mm_shuffle_epi32(x, _MM_SHUFFLE(3, 1, 2, 0)); // a0 b0 a1 b1
    const __m128i bytes = _mm_unpacklo_epi8(t, _mm_srli_si128(t, 8));
    lo = _mm_unpacklo_epi8(bytes, zero);
    hi = _mm_unpackhi_epi8(bytes, zero);
}

template <int FixedPairs>
void ResampleRowPairs(const QRgb* src, int16_t* out, const PairPlan& plan, int padded) {
    const int pairs = FixedPairs > 0 ? FixedPairs : plan.pairs;
    const __m128i round = _mm_set1_epi32((1 << (kHShift - 1)) - (kLaneBias << kHShift));
    const uint32_t* w = plan.weight.data();
    for (int d = 0; d < padded; d += 2, w += 2 * pairs) {
        const QRgb* a = src + plan.start[size_t(d)];
        const QRgb* b = src + plan.start[size_t(d) + 1];
        __m128i sumA = _mm_setzero_si128(), sumB = _mm_setzero_si128();
        for (int k = 0; k < pairs; ++k) {
            __m128i lo, hi;
            LoadPairs(a + 2 * k, b + 2 * k, lo, hi);
            const __m128i wk = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + 2 * k));
            sumA = _mm_add_epi32(sumA, _mm_madd_epi16(lo, _mm_shuffle_epi32(wk, 0x00)));
            sumB = _mm_add_epi32(sumB, _mm_madd_epi16(hi, _mm_shuffle_epi32(wk, 0x55)));
        }
        // (sum + 32) / 64 - 32768, the floor of a signed shift, lands inside 16 bits exactly.
        sumA = _mm_srai_epi32(_mm_add_epi32(sumA, round), kHShift);
        sumB = _mm_srai_epi32(_mm_add_epi32(sumB, round), kHShift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kLanes * d), _mm_packs_epi32(sumA, sumB));
    }
}

// The vertical pass with SSE2, four pixels at a time (the lanes are padded to a multiple of
// four pixels): rows taken in pairs, their lanes side by side for the multiply-add. An odd last
// row is paired with itself at a weight of zero.
template <int FixedPairs>
void CombineRowsSse2(const int16_t* const* rows, const int32_t* wy, int n, int width, QRgb* out,
                     int32_t* spill) {
    // Every lane lost 32768 times the weights' sum, which is one: 2^29 comes back with the
    // rounding half.
    const __m128i round = _mm_set1_epi32((kLaneBias << kWeightBits) + (1 << (kVShift - 1)));
    const __m128i opaque = _mm_set1_epi32(int(kOpaque));
    const int pairs = FixedPairs > 0 ? FixedPairs : (n + 1) / 2;
    constexpr int kMost = 8;
    for (int p0 = 0; p0 < pairs; p0 += kMost) {
        // Beyond kMost pairs (a reduction of more than sixteen rows) the sums wait in spill
        // (four lanes a pixel) between rounds; the last round rounds and packs.
        const int count = std::min(kMost, pairs - p0);
        const bool last = p0 + count == pairs;
        __m128i weight[kMost];
        const int16_t* ra[kMost];
        const int16_t* rb[kMost];
        for (int k = 0; k < count; ++k) {
            const int i = 2 * (p0 + k);
            const bool single = i + 1 >= n;
            weight[k] = _mm_set1_epi32(
                int(uint32_t(wy[i]) | (single ? 0u : uint32_t(wy[i + 1]) << 16)));
            ra[k] = rows[i];
            rb[k] = single ? rows[i] : rows[i + 1];
        }
        for (int x = 0; x < width; x += 4) {
            __m128i sum[4];
            if (p0 == 0) {
                for (__m128i& v : sum)
                    v = _mm_setzero_si128();
            } else {
                for (int j = 0; j < 4; ++j)
                    sum[j] = _mm_loadu_si128(
                        reinterpret_cast<const __m128i*>(spill + kLanes * (x + j)));
            }
            const int at = kLanes * x;
            for (int k = 0; k < (FixedPairs > 0 ? FixedPairs : count); ++k) {
                for (int h = 0; h < 2; ++h) {
                    const __m128i va =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(ra[k] + at + 8 * h));
                    const __m128i vb =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(rb[k] + at + 8 * h));
                    sum[2 * h] =
                        _mm_add_epi32(sum[2 * h], _mm_madd_epi16(_mm_unpacklo_epi16(va, vb), weight[k]));
                    sum[2 * h + 1] = _mm_add_epi32(
                        sum[2 * h + 1], _mm_madd_epi16(_mm_unpackhi_epi16(va, vb), weight[k]));
                }
            }
            if (!last) {
                for (int j = 0; j < 4; ++j)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(spill + kLanes * (x + j)), sum[j]);
                continue;
            }
            for (__m128i& v : sum)
                v = _mm_srli_epi32(_mm_add_epi32(v, round), kVShift);
            const __m128i px =
                _mm_packus_epi16(_mm_packs_epi32(sum[0], sum[1]), _mm_packs_epi32(sum[2], sum[3]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(px, opaque));
        }
    }
}
#endif

// ---------------------------------------------------------------------------------------------
// Pictures of 16 bits a channel (RGBX64): the same mappings and weights, on 64-bit pixels.

QImage NewDeepBitmap(int width, int height) {
    return NewImageBufferOrThrow(width, height, QImage::Format_RGBX64);
}

void ToDeepWorkingFormat(QImage& bitmap) {
    if (bitmap.format() == QImage::Format_RGBX64)
        return;
    // Straight alpha: only alpha is dropped, as for 8-bit pictures.
    QImage straight = bitmap.convertToFormat(QImage::Format_RGBA64);
    CheckImageAllocated(straight, bitmap.width(), bitmap.height());
    for (int y = 0; y < straight.height(); ++y) {
        auto* line = reinterpret_cast<QRgba64*>(straight.scanLine(y));
        for (int x = 0; x < straight.width(); ++x)
            line[x].setAlpha(65535);
    }
    straight.reinterpretAsFormat(QImage::Format_RGBX64);
    bitmap = std::move(straight);
}

const QRgba64* DeepRow(const QImage& img, int y) {
    return reinterpret_cast<const QRgba64*>(img.constScanLine(y));
}
QRgba64* DeepRow(QImage& img, int y) {
    return reinterpret_cast<QRgba64*>(img.scanLine(y));
}

QImage DeepTurn(const QImage& src, int quarter) {
    const int w = src.width(), h = src.height();
    QImage dst = quarter == 2 ? NewDeepBitmap(w, h) : NewDeepBitmap(h, w);
    for (int y = 0; y < dst.height(); ++y) {
        QRgba64* d = DeepRow(dst, y);
        for (int x = 0; x < dst.width(); ++x) {
            switch (quarter) {
            case 1: // clockwise: result (x, y) = source (y, H - 1 - x)
                d[x] = DeepRow(src, h - 1 - x)[y];
                break;
            case 2:
                d[x] = DeepRow(src, h - 1 - y)[w - 1 - x];
                break;
            default: // counter-clockwise: result (x, y) = source (W - 1 - y, x)
                d[x] = DeepRow(src, x)[w - 1 - y];
                break;
            }
        }
    }
    return dst;
}

QImage DeepRotateGeneral(const QImage& src, QRgb fill, double angle) {
    // The 8-bit mapping decides which source pixel each result pixel takes: it is run on an
    // index picture whose pixels name their own coordinates.
    const int w = src.width(), h = src.height();
    QImage index = NewBitmap(w, h);
    for (int y = 0; y < h; ++y) {
        QRgb* line = Row(index, y);
        for (int x = 0; x < w; ++x)
            line[x] = QRgb(quint32(y) * quint32(w) + quint32(x));
    }
    // Pixel numbers need 32 bits; the sentinel marks the uncovered area.
    const quint64 pixels = quint64(w) * quint64(h);
    if (pixels >= 0xFFFFFFFFull)
        throw std::bad_alloc();
    QImage mapped = RotateGeneral(index, 0xFFFFFFFFu, angle);
    QImage dst = NewDeepBitmap(mapped.width(), mapped.height());
    const QRgba64 fill64 = QRgba64::fromArgb32(fill | kOpaque);
    for (int y = 0; y < dst.height(); ++y) {
        const QRgb* m = Row(mapped, y);
        QRgba64* d = DeepRow(dst, y);
        for (int x = 0; x < dst.width(); ++x) {
            const quint32 i = m[x];
            d[x] = i == 0xFFFFFFFFu ? fill64 : DeepRow(src, int(i / quint32(w)))[i % quint32(w)];
        }
    }
    return dst;
}

void DeepResample(QImage& bitmap, int width, int height) {
    const QImage src = bitmap;
    const Contributions cx = MakeContributions(src.width(), width);
    const Contributions cy = MakeContributions(src.height(), height);
    const size_t rowLen = size_t(width) * 3;
    const int ringSize = cy.maxCount;
    std::vector<uint32_t> ring(rowLen * ringSize);
    std::vector<int> ringTag(ringSize, -1);
    std::vector<uint64_t> acc(rowLen);
    QImage dst = NewDeepBitmap(width, height);
    const int32_t* wy = cy.weight.data();
    constexpr int hShift = kWeightBits - 8; // 8 fractional bits kept between the passes
    for (int y = 0; y < height; ++y) {
        const int j0 = cy.first[y], n = cy.count[y];
        std::fill(acc.begin(), acc.end(), 0u);
        for (int k = 0; k < n; ++k) {
            const int j = j0 + k;
            const int slot = j % ringSize;
            uint32_t* t = ring.data() + rowLen * slot;
            if (ringTag[slot] != j) {
                const QRgba64* line = DeepRow(src, j);
                const int32_t* wt = cx.weight.data();
                for (int d = 0; d < width; ++d) {
                    const QRgba64* p = line + cx.first[d];
                    uint64_t r = 0, g = 0, b = 0;
                    for (int m = 0; m < cx.count[d]; ++m) {
                        const uint64_t wk = uint64_t(wt[m]);
                        r += wk * p[m].red();
                        g += wk * p[m].green();
                        b += wk * p[m].blue();
                    }
                    wt += cx.count[d];
                    t[3 * d] = uint32_t((r + (1u << (hShift - 1))) >> hShift);
                    t[3 * d + 1] = uint32_t((g + (1u << (hShift - 1))) >> hShift);
                    t[3 * d + 2] = uint32_t((b + (1u << (hShift - 1))) >> hShift);
                }
                ringTag[slot] = j;
            }
            const uint64_t wk = uint64_t(wy[k]);
            for (size_t i = 0; i < rowLen; ++i)
                acc[i] += wk * t[i];
        }
        wy += n;
        constexpr int shift = kWeightBits + 8;
        constexpr uint64_t half = uint64_t(1) << (shift - 1);
        QRgba64* d = DeepRow(dst, y);
        for (int x = 0; x < width; ++x) {
            auto channel = [&](size_t i) {
                return quint16(std::min<uint64_t>((acc[i] + half) >> shift, 65535));
            };
            d[x] = QRgba64::fromRgba64(channel(3 * x), channel(3 * x + 1), channel(3 * x + 2),
                                       65535);
        }
    }
    bitmap = std::move(dst);
}

// Turns a 16-bit picture as RotateBitmap turns an 8-bit one.
void DeepRotate(QImage& bitmap, QRgb fill, double angle) {
    ToDeepWorkingFormat(bitmap);
    if (bitmap.isNull() || !std::isfinite(angle))
        return;
    if (angle == std::trunc(angle)) {
        if (angle == -360 || angle == 0 || angle == 360 || angle == 720)
            return;
        if (angle == 90 || angle == -270) {
            bitmap = DeepTurn(bitmap, 1);
            return;
        }
        if (angle == 270 || angle == -90) {
            bitmap = DeepTurn(bitmap, 3);
            return;
        }
        if (angle == 180 || angle == -180) {
            bitmap = DeepTurn(bitmap, 2);
            return;
        }
    }
    bitmap = DeepRotateGeneral(bitmap, fill, angle);
}

bool IsDeep(const QImage& bitmap) {
    return bitmap.depth() == 64;
}

} // namespace

void RotateBitmap(QImage& bitmap, QRgb fill, double angle) {
    if (IsDeep(bitmap)) {
        DeepRotate(bitmap, fill, angle);
        return;
    }
    ToWorkingFormat(bitmap);
    if (bitmap.isNull())
        return;
    bool general = angle != std::trunc(angle) || !std::isfinite(angle);
    if (!general) {
        if (angle == -360 || angle == 0 || angle == 360 || angle == 720)
            return;
        if (angle == 90 || angle == -270)
            bitmap = TurnQuarter<true>(bitmap);
        else if (angle == 270 || angle == -90)
            bitmap = TurnQuarter<false>(bitmap);
        else if (angle == 180 || angle == -180)
            TurnHalf(bitmap);
        else
            general = true;
    }
    if (general && std::isfinite(angle))
        bitmap = RotateGeneral(bitmap, fill, angle);
}

struct TRowResampler::Impl {
    Contributions cx, cy;
#ifdef __SSE2__
    PairPlan plan; // empty: the scalar horizontal pass
#endif
    int width = 0;
    size_t stride = 0; // lanes a ring row holds: the width padded to four pixels
    int ringSize = 1;
    std::vector<int16_t> ring; // horizontal results of the last source rows, by row % ringSize
    std::vector<const int16_t*> taps;
    std::vector<QRgb> out;
    std::vector<int32_t> spill; // vertical sums between rounds, for reductions of many rows
    std::vector<size_t> weightAt; // where each destination row's vertical weights start
    int pushed = 0;  // source rows taken
    int emitted = 0; // destination rows given
};

TRowResampler::TRowResampler(const QSize& source, const QSize& target) : d(new Impl) {
    d->cx = MakeContributions(source.width(), target.width());
    d->cy = MakeContributions(source.height(), target.height());
#ifdef __SSE2__
    d->plan = MakePairPlan(d->cx, source.width());
#endif
    d->width = target.width();
    const size_t padded = (size_t(target.width()) + 3) / 4 * 4;
    d->stride = padded * kLanes;
    d->ringSize = std::max(1, d->cy.maxCount);
    d->ring.assign(d->stride * size_t(d->ringSize), 0);
    d->taps.resize(size_t(d->ringSize));
    d->out.resize(padded);
    if (d->cy.maxCount > 16)
        d->spill.resize(padded * kLanes);
    d->weightAt.resize(size_t(target.height()));
    size_t at = 0;
    for (int y = 0; y < target.height(); ++y) {
        d->weightAt[size_t(y)] = at;
        at += size_t(d->cy.count[size_t(y)]);
    }
}

TRowResampler::~TRowResampler() = default;

int TRowResampler::RowsGiven() const {
    return d->emitted;
}

void TRowResampler::Push(const QRgb* row, const std::function<void(int y, const QRgb* row)>& give) {
    Impl& s = *d;
    const int j = s.pushed++;
    int16_t* lanes = s.ring.data() + s.stride * size_t(j % s.ringSize);
#ifdef __SSE2__
    const int padded = s.width + (s.width & 1);
    switch (s.plan.pairs) {
    case 0:
        ResampleRowScalar(row, lanes, s.cx);
        break;
    case 1:
        ResampleRowPairs<1>(row, lanes, s.plan, padded);
        break;
    case 2:
        ResampleRowPairs<2>(row, lanes, s.plan, padded);
        break;
    default:
        ResampleRowPairs<0>(row, lanes, s.plan, padded);
        break;
    }
#else
    ResampleRowScalar(row, lanes, s.cx);
#endif
    const int height = int(s.cy.first.size());
    // Every destination row whose last source row this is; the rows it needs are all still in
    // the ring, as none spans more than ringSize rows.
    while (s.emitted < height &&
           s.cy.first[size_t(s.emitted)] + s.cy.count[size_t(s.emitted)] - 1 == j) {
        const int y = s.emitted++;
        const int j0 = s.cy.first[size_t(y)], n = s.cy.count[size_t(y)];
        for (int k = 0; k < n; ++k)
            s.taps[size_t(k)] = s.ring.data() + s.stride * size_t((j0 + k) % s.ringSize);
        const int32_t* wy = s.cy.weight.data() + s.weightAt[size_t(y)];
#ifdef __SSE2__
        if (n <= 2)
            CombineRowsSse2<1>(s.taps.data(), wy, n, s.width, s.out.data(), s.spill.data());
        else if (n == 3 || n == 4)
            CombineRowsSse2<2>(s.taps.data(), wy, n, s.width, s.out.data(), s.spill.data());
        else
            CombineRowsSse2<0>(s.taps.data(), wy, n, s.width, s.out.data(), s.spill.data());
#else
        CombineRowsScalar(s.taps.data(), wy, n, s.width, s.out.data());
#endif
        give(y, s.out.data());
    }
}

void ResampleBitmap(QImage& bitmap, int width, int height) {
    if (width < 1 || height < 1)
        return;
    if (IsDeep(bitmap)) {
        ToDeepWorkingFormat(bitmap);
        if (!bitmap.isNull() && (bitmap.width() != width || bitmap.height() != height))
            DeepResample(bitmap, width, height);
        return;
    }
    ToWorkingFormat(bitmap);
    if (bitmap.isNull() || (bitmap.width() == width && bitmap.height() == height))
        return;
    const QImage src = bitmap;
    QImage dst = NewBitmap(width, height);
    TRowResampler resampler(src.size(), QSize(width, height));
    for (int j = 0; j < src.height(); ++j)
        resampler.Push(reinterpret_cast<const QRgb*>(src.constScanLine(j)),
                       [&dst](int y, const QRgb* row) {
                           std::copy(row, row + dst.width(), Row(dst, y));
                       });
    bitmap = std::move(dst);
}

QImage HalveBitmap(const QImage& bitmap) {
    if (bitmap.isNull())
        return {};
    const bool opaque = bitmap.format() == QImage::Format_RGB32;
    const QImage source =
        opaque || bitmap.format() == QImage::Format_ARGB32_Premultiplied
            ? bitmap
            : bitmap.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = std::max(1, source.width() / 2);
    const int h = std::max(1, source.height() / 2);
    QImage out(w, h, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        throw std::bad_alloc();
    // A side of one pixel takes that pixel twice.
    const int dx = source.width() > 1 ? 1 : 0;
    const int dy = source.height() > 1 ? 1 : 0;
    for (int y = 0; y < h; ++y) {
        const auto* a = reinterpret_cast<const quint32*>(source.constScanLine(2 * y));
        const auto* b = reinterpret_cast<const quint32*>(source.constScanLine(2 * y + dy));
        auto* o = reinterpret_cast<quint32*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const quint32 p[4] = {a[2 * x], a[2 * x + dx], b[2 * x], b[2 * x + dx]};
            quint32 value = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                const quint32 sum = ((p[0] >> shift) & 0xff) + ((p[1] >> shift) & 0xff) +
                                    ((p[2] >> shift) & 0xff) + ((p[3] >> shift) & 0xff);
                value |= ((sum + 2) / 4) << shift;
            }
            o[x] = opaque ? (value | 0xff000000u) : value;
        }
    }
    return out;
}

QSize FitIntoBox(QSize picture, QSize box, bool proportional) {
    if (!proportional || picture.isEmpty() || box.isEmpty())
        return box;
    // The side that reaches the box first takes its length; the other follows the aspect,
    // rounded (halves to even) and so never beyond the box.
    const qint64 w = picture.width(), h = picture.height();
    if (w * box.height() >= h * box.width()) {
        const int height = RoundHalfEven(double(h) * box.width() / w);
        return {box.width(), std::clamp(height, 1, box.height())};
    }
    const int width = RoundHalfEven(double(w) * box.height() / h);
    return {std::clamp(width, 1, box.width()), box.height()};
}

// Source rows first .. first + count - 1 of a W x H picture into the turned picture dst. Four
// rows at a time are transposed in registers; any others go pixel by pixel.
void TurnRowsInto(const QRgb* const* rows, int first, int count, QSize source, int quarters,
                  QImage& dst) {
    const int w = source.width(), h = source.height();
    // Rows found from the first once: scanLine would check for sharing at every pixel.
    uchar* const bits = dst.bits();
    const qsizetype bpl = dst.bytesPerLine();
    auto out = [bits, bpl](int y) { return reinterpret_cast<QRgb*>(bits + bpl * y); };
    if (quarters == 2) {
        for (int i = 0; i < count; ++i) {
            const QRgb* s = rows[i];
            QRgb* d = out(h - 1 - (first + i));
            for (int x = 0; x < w; ++x)
                d[w - 1 - x] = s[x];
        }
        return;
    }
    const bool clockwise = quarters == 1;
    // Clockwise, source (c, r) lands at (H - 1 - r, c); counter-clockwise at (r, W - 1 - c).
    auto place = [&](int c, int r) -> QRgb& {
        return clockwise ? out(c)[h - 1 - r] : out(w - 1 - c)[r];
    };
    int i = 0;
#ifdef __SSE2__
    // Column blocks outside, row blocks inside: with rows given sixteen at a time, each turned
    // row's cache line is written whole before the next.
    const int blocked = count / 4 * 4;
    int c = 0;
    for (; c + 4 <= w; c += 4) {
        for (int b = 0; b < blocked; b += 4) {
            const int r = first + b;
            __m128i v[4];
            for (int k = 0; k < 4; ++k)
                v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[b + k] + c));
            Transpose4(v[0], v[1], v[2], v[3]); // v[j]: column c + j of rows r .. r + 3
            for (int j = 0; j < 4; ++j) {
                if (clockwise)
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out(c + j) + (h - 4 - r)),
                                     _mm_shuffle_epi32(v[j], _MM_SHUFFLE(0, 1, 2, 3)));
                else
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out(w - 1 - c - j) + r), v[j]);
            }
        }
    }
    for (; c < w; ++c)
        for (int b = 0; b < blocked; ++b)
            place(c, first + b) = rows[b][c];
    i = blocked;
#endif
    for (; i < count; ++i)
        for (int c = 0; c < w; ++c)
            place(c, first + i) = rows[i][c];
}
