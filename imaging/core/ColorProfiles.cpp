#include "imaging/core/ColorProfiles.h"

#include <QRgba64>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include <lcms2.h>

namespace {

// Profiles and transforms are released when they go out of scope.
struct Profile {
    cmsHPROFILE handle = nullptr;
    explicit Profile(cmsHPROFILE h) : handle(h) {}
    ~Profile() {
        if (handle)
            cmsCloseProfile(handle);
    }
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;
};

struct Transform {
    cmsHTRANSFORM handle = nullptr;
    explicit Transform(cmsHTRANSFORM h) : handle(h) {}
    ~Transform() {
        if (handle)
            cmsDeleteTransform(handle);
    }
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;
    cmsHTRANSFORM release() { return std::exchange(handle, nullptr); }
};

// The declared size of a profile when its header is sound; 0 with *problem otherwise.
quint32 declaredSize(const QByteArray& icc, QString* problem) {
    if (icc.size() < 132) {
        *problem = QStringLiteral("the colour profile is too short to hold its header");
        return 0;
    }
    const quint32 size = qFromBigEndian<quint32>(icc.constData());
    if (size < 132 || size > quint32(icc.size())) {
        *problem = QStringLiteral("the colour profile declares %1 bytes but holds %2")
                       .arg(size)
                       .arg(icc.size());
        return 0;
    }
    if (QByteArrayView(icc).sliced(36, 4) != QByteArrayView("acsp")) {
        *problem = QStringLiteral("the colour profile lacks its signature");
        return 0;
    }
    return size;
}

// Opens a profile that passed the header checks; null when LittleCMS refuses it.
cmsHPROFILE openProfile(const QByteArray& icc, QString* problem) {
    const quint32 size = declaredSize(icc, problem);
    if (!size)
        return nullptr;
    cmsHPROFILE p = cmsOpenProfileFromMem(icc.constData(), size);
    if (!p)
        *problem = QStringLiteral("the colour profile cannot be read");
    return p;
}

TProfileSpace spaceOf(cmsHPROFILE p) {
    switch (cmsGetColorSpace(p)) {
    case cmsSigRgbData:
        return TProfileSpace::Rgb;
    case cmsSigGrayData:
        return TProfileSpace::Gray;
    case cmsSigCmykData:
        return TProfileSpace::Cmyk;
    default:
        return TProfileSpace::Other;
    }
}

quint16 to16(int v8) {
    return quint16(v8 * 257);
}
int to8(quint32 v16) {
    return int((v16 * 255 + 32767) / 65535);
}

// A colour transform sampled on a grid of 33 x 33 x 33 points and read back by tetrahedral
// interpolation, 16 bits a channel: what LittleCMS itself does to go fast, here without its cost
// per pixel, so that a 12-megapixel preview converts in tens of milliseconds. Grey output is
// kept in all three channels.
class ColorLut {
public:
    static constexpr int N = 33;

    // Samples a transform from 16-bit RGB to 16-bit RGB, or to 16-bit grey when grayOut.
    ColorLut(cmsHTRANSFORM t, bool grayOut) : m_grid(size_t(N) * N * N * 3) {
        std::vector<quint16> in;
        in.reserve(m_grid.size());
        for (int r = 0; r < N; ++r)
            for (int g = 0; g < N; ++g)
                for (int b = 0; b < N; ++b)
                    in.insert(in.end(), {node(r), node(g), node(b)});
        const size_t n = size_t(N) * N * N;
        if (grayOut) {
            std::vector<quint16> grey(n);
            cmsDoTransform(t, in.data(), grey.data(), cmsUInt32Number(n));
            for (size_t i = 0; i < n; ++i)
                m_grid[3 * i] = m_grid[3 * i + 1] = m_grid[3 * i + 2] = grey[i];
        } else {
            cmsDoTransform(t, in.data(), m_grid.data(), cmsUInt32Number(n));
        }
        // The same nodes for 8-bit work: 8.8 fixed point, and each 8-bit value's cell and
        // fraction (0..256) on an axis.
        m_grid8.resize(m_grid.size());
        for (size_t k = 0; k < m_grid.size(); ++k)
            m_grid8[k] = qint32((qint64(m_grid[k]) * 255 * 256 + 32767) / 65535);
        for (int v = 0; v < 256; ++v) {
            const int pos = (v * (N - 1) * 256 + 127) / 255;
            const int cell = std::min(pos >> 8, N - 2);
            m_cell[v] = quint8(cell);
            m_fraction[v] = quint16(pos - cell * 256);
        }
        // No node moves by more than one 8-bit step: the transform changes nothing that shows.
        m_identity = !grayOut;
        for (size_t i = 0; i < m_grid.size() && m_identity; ++i)
            m_identity = std::abs(int(m_grid[i]) - int(in[i])) <= 257;
    }

    bool identity() const { return m_identity; }

    void map(const quint16 in[3], quint16 out[3]) const {
        int i[3];
        quint32 f[3];
        for (int c = 0; c < 3; ++c) {
            // Grid position in 16.16 fixed point; the top value lands at the last node.
            const quint32 pos = quint32((quint64(in[c]) * (N - 1) * 65537) >> 16);
            i[c] = std::min(int(pos >> 16), N - 2);
            f[c] = pos - (quint32(i[c]) << 16);
        }
        const auto at = [&](int dr, int dg, int db) {
            return &m_grid[((size_t(i[0] + dr) * N + size_t(i[1] + dg)) * N + size_t(i[2] + db)) * 3];
        };
        const quint16* c000 = at(0, 0, 0);
        const quint16* c111 = at(1, 1, 1);
        const quint32 fr = f[0], fg = f[1], fb = f[2];
        // The tetrahedron the point lies in, by the order of its fractions.
        const quint16 *p1, *p2;
        quint32 f1, f2, f3;
        if (fr >= fg) {
            if (fg >= fb) {
                p1 = at(1, 0, 0), p2 = at(1, 1, 0), f1 = fr, f2 = fg, f3 = fb;
            } else if (fr >= fb) {
                p1 = at(1, 0, 0), p2 = at(1, 0, 1), f1 = fr, f2 = fb, f3 = fg;
            } else {
                p1 = at(0, 0, 1), p2 = at(1, 0, 1), f1 = fb, f2 = fr, f3 = fg;
            }
        } else {
            if (fr >= fb) {
                p1 = at(0, 1, 0), p2 = at(1, 1, 0), f1 = fg, f2 = fr, f3 = fb;
            } else if (fg >= fb) {
                p1 = at(0, 1, 0), p2 = at(0, 1, 1), f1 = fg, f2 = fb, f3 = fr;
            } else {
                p1 = at(0, 0, 1), p2 = at(0, 1, 1), f1 = fb, f2 = fg, f3 = fr;
            }
        }
        for (int c = 0; c < 3; ++c) {
            const qint64 v = qint64(c000[c]) * 65536 + qint64(f1) * (p1[c] - c000[c]) +
                             qint64(f2) * (p2[c] - p1[c]) + qint64(f3) * (c111[c] - p2[c]);
            out[c] = quint16(std::clamp<qint64>((v + 32768) >> 16, 0, 65535));
        }
    }

    // The same for an 8-bit pixel, alpha kept: the preview's inner loop.
    QRgb map8(QRgb p) const {
        const int r = qRed(p), g = qGreen(p), b = qBlue(p);
        const qint32* c000 = &m_grid8[((size_t(m_cell[r]) * N + m_cell[g]) * N + m_cell[b]) * 3];
        constexpr size_t dr = size_t(N) * N * 3, dg = size_t(N) * 3, db = 3;
        const qint32 fr = m_fraction[r], fg = m_fraction[g], fb = m_fraction[b];
        const qint32 *p1, *p2;
        qint32 f1, f2, f3;
        if (fr >= fg) {
            if (fg >= fb)
                p1 = c000 + dr, p2 = c000 + dr + dg, f1 = fr, f2 = fg, f3 = fb;
            else if (fr >= fb)
                p1 = c000 + dr, p2 = c000 + dr + db, f1 = fr, f2 = fb, f3 = fg;
            else
                p1 = c000 + db, p2 = c000 + dr + db, f1 = fb, f2 = fr, f3 = fg;
        } else {
            if (fr >= fb)
                p1 = c000 + dg, p2 = c000 + dr + dg, f1 = fg, f2 = fr, f3 = fb;
            else if (fg >= fb)
                p1 = c000 + dg, p2 = c000 + dg + db, f1 = fg, f2 = fb, f3 = fr;
            else
                p1 = c000 + db, p2 = c000 + dg + db, f1 = fb, f2 = fg, f3 = fr;
        }
        const qint32* c111 = c000 + dr + dg + db;
        int out[3];
        for (int c = 0; c < 3; ++c) {
            const qint32 v = c000[c] * 256 + f1 * (p1[c] - c000[c]) + f2 * (p2[c] - p1[c]) +
                             f3 * (c111[c] - p2[c]);
            out[c] = std::clamp((v + (1 << 15)) >> 16, 0, 255);
        }
        return qRgba(out[0], out[1], out[2], qAlpha(p));
    }

private:
    static quint16 node(int k) { return quint16((k * 65535 + (N - 1) / 2) / (N - 1)); }
    std::vector<quint16> m_grid;
    std::vector<qint32> m_grid8;
    quint8 m_cell[256];
    quint16 m_fraction[256];
    bool m_identity = false;
};

// Tables are kept for the last few pairs of profiles: a batch of photos from one camera, or a
// preview zoomed again, builds its table once.
std::shared_ptr<const ColorLut> lutFor(const QByteArray& from, const QByteArray& to) {
    struct Entry {
        QByteArray from, to;
        std::shared_ptr<const ColorLut> lut;
    };
    static std::mutex lock;
    static std::vector<Entry> kept;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (const Entry& e : kept)
            if (e.from == from && e.to == to)
                return e.lut;
    }
    QString problem;
    Profile source(from.isEmpty() ? cmsCreate_sRGBProfile() : openProfile(from, &problem));
    Profile target(to.isEmpty() ? cmsCreate_sRGBProfile() : openProfile(to, &problem));
    if (!source.handle || !target.handle || spaceOf(source.handle) != TProfileSpace::Rgb)
        return nullptr;
    const TProfileSpace out = spaceOf(target.handle);
    if (out != TProfileSpace::Rgb && out != TProfileSpace::Gray)
        return nullptr;
    const bool gray = out == TProfileSpace::Gray;
    // Only the grid's nodes go through it: no precalculation of LittleCMS's own is worth it.
    Transform t(cmsCreateTransform(source.handle, TYPE_RGB_16, target.handle,
                                   gray ? TYPE_GRAY_16 : TYPE_RGB_16,
                                   INTENT_RELATIVE_COLORIMETRIC,
                                   cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE));
    if (!t.handle)
        return nullptr;
    auto lut = std::make_shared<const ColorLut>(t.handle, gray);
    std::lock_guard<std::mutex> guard(lock);
    if (kept.size() >= 4)
        kept.erase(kept.begin());
    kept.push_back({from, to, lut});
    return lut;
}

// Straight-alpha source-over of one 16-bit colour with coverage a (0..65535) onto an 8-bit
// photo pixel.
QRgb blend(QRgb photo, quint32 r, quint32 g, quint32 b, quint32 a, bool photoAlpha) {
    const quint64 inv = 65535 - a;
    if (!photoAlpha || qAlpha(photo) == 255) {
        auto mix = [&](quint32 c, int p) {
            return to8(quint32((quint64(c) * a + quint64(to16(p)) * inv + 32767) / 65535));
        };
        return qRgba(mix(r, qRed(photo)), mix(g, qGreen(photo)), mix(b, qBlue(photo)),
                     qAlpha(photo));
    }
    const quint64 pa = to16(qAlpha(photo));
    const quint64 outA = a + (pa * inv + 32767) / 65535; // 16-bit
    if (outA == 0)
        return 0;
    auto mix = [&](quint32 c, int p) {
        const quint64 premul = quint64(c) * a + quint64(to16(p)) * ((pa * inv + 32767) / 65535);
        return to8(quint32(std::min<quint64>(65535, (premul + outA / 2) / outA)));
    };
    return qRgba(mix(r, qRed(photo)), mix(g, qGreen(photo)), mix(b, qBlue(photo)),
                 to8(quint32(outA)));
}

// The same onto a 16-bit photo pixel (RGBX64 or straight RGBA64).
QRgba64 blend64(QRgba64 photo, quint32 r, quint32 g, quint32 b, quint32 a, bool photoAlpha) {
    const quint64 inv = 65535 - a;
    if (!photoAlpha || photo.alpha() == 65535) {
        auto mix = [&](quint32 c, quint16 p) {
            return quint16((quint64(c) * a + quint64(p) * inv + 32767) / 65535);
        };
        return QRgba64::fromRgba64(mix(r, photo.red()), mix(g, photo.green()),
                                   mix(b, photo.blue()), photo.alpha());
    }
    const quint64 pa = photo.alpha();
    const quint64 outA = a + (pa * inv + 32767) / 65535;
    if (outA == 0)
        return QRgba64::fromRgba64(0);
    auto mix = [&](quint32 c, quint16 p) {
        const quint64 premul = quint64(c) * a + quint64(p) * ((pa * inv + 32767) / 65535);
        return quint16(std::min<quint64>(65535, (premul + outA / 2) / outA));
    };
    return QRgba64::fromRgba64(mix(r, photo.red()), mix(g, photo.green()), mix(b, photo.blue()),
                               quint16(outA));
}

} // namespace

TProfileCheck CheckIccProfile(const QByteArray& icc) {
    TProfileCheck check;
    Profile p(openProfile(icc, &check.problem));
    if (!p.handle)
        return check;
    check.space = spaceOf(p.handle);
    check.usable = true;
    return check;
}

std::shared_ptr<const TSrgbToPhoto> TSrgbToPhoto::ForProfile(const QByteArray& icc) {
    if (icc.isEmpty())
        return nullptr;
    auto lut = lutFor(QByteArray(), icc);
    if (!lut || lut->identity())
        return nullptr;
    return std::shared_ptr<const TSrgbToPhoto>(new TSrgbToPhoto(std::move(lut)));
}

TSrgbToPhoto::~TSrgbToPhoto() = default;

void TSrgbToPhoto::mapRgb16(quint16* rgb, qsizetype pixels) const {
    const auto* lut = static_cast<const ColorLut*>(m_lut.get());
    for (qsizetype i = 0; i < pixels; ++i) {
        const quint16 in[3] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
        lut->map(in, rgb + 3 * i);
    }
}

QRgb TSrgbToPhoto::map(QRgb srgb) const {
    quint16 c[3] = {to16(qRed(srgb)), to16(qGreen(srgb)), to16(qBlue(srgb))};
    mapRgb16(c, 1);
    return qRgba(to8(c[0]), to8(c[1]), to8(c[2]), qAlpha(srgb));
}

void ComposeSrgbLayer(QImage& photo, const QImage& layer, const QPoint& at,
                      const TSrgbToPhoto& colours) {
    if (photo.isNull() || layer.isNull())
        return;
    const QImage source = layer.format() == QImage::Format_RGBA64_Premultiplied
                              ? layer
                              : layer.convertToFormat(QImage::Format_RGBA64_Premultiplied);
    // A photo of 16 bits a channel keeps them.
    const bool deep =
        photo.format() == QImage::Format_RGBX64 || photo.format() == QImage::Format_RGBA64;
    if (!deep && photo.format() != QImage::Format_RGB32 && photo.format() != QImage::Format_ARGB32)
        photo = photo.convertToFormat(photo.hasAlphaChannel() ? QImage::Format_ARGB32
                                                              : QImage::Format_RGB32);
    const bool photoAlpha =
        photo.format() == QImage::Format_ARGB32 || photo.format() == QImage::Format_RGBA64;
    const QRect area = QRect(at, source.size()).intersected(photo.rect());
    std::vector<quint16> rgb;
    std::vector<quint16> alpha;
    std::vector<int> column;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* in = reinterpret_cast<const QRgba64*>(source.constScanLine(y - at.y()));
        rgb.clear();
        alpha.clear();
        column.clear();
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgba64 px = in[x - at.x()];
            if (px.alpha() == 0)
                continue;
            const QRgba64 straight = px.unpremultiplied();
            rgb.insert(rgb.end(), {straight.red(), straight.green(), straight.blue()});
            alpha.push_back(px.alpha());
            column.push_back(x);
        }
        if (column.empty())
            continue;
        colours.mapRgb16(rgb.data(), qsizetype(column.size()));
        if (deep) {
            auto* out = reinterpret_cast<QRgba64*>(photo.scanLine(y));
            for (size_t i = 0; i < column.size(); ++i) {
                QRgba64& p = out[column[i]];
                p = blend64(p, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], alpha[i], photoAlpha);
            }
            continue;
        }
        auto* out = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (size_t i = 0; i < column.size(); ++i) {
            QRgb& p = out[column[i]];
            p = blend(p, rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], alpha[i], photoAlpha);
        }
    }
}

QImage ConvertImageColors(const QImage& image, const QByteArray& from, const QByteArray& to) {
    if (image.isNull() || (from.isEmpty() && to.isEmpty()) || from == to)
        return image;
    QString problem;
    Profile source(from.isEmpty() ? cmsCreate_sRGBProfile() : openProfile(from, &problem));
    Profile target(to.isEmpty() ? cmsCreate_sRGBProfile() : openProfile(to, &problem));
    if (!source.handle || !target.handle || spaceOf(target.handle) != TProfileSpace::Rgb)
        return image;
    const TProfileSpace space = spaceOf(source.handle);
    QImage out = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
                     ? image
                     : image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                     : QImage::Format_RGB32);
    if (space == TProfileSpace::Gray) {
        // A grey photo is decoded with r = g = b: one table of 256 entries does it.
        Transform t(cmsCreateTransform(source.handle, TYPE_GRAY_8, target.handle, TYPE_RGB_8,
                                       INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
        if (!t.handle)
            return image;
        std::array<uchar, 256> in;
        std::array<uchar, 768> lut;
        for (int i = 0; i < 256; ++i)
            in[size_t(i)] = uchar(i);
        cmsDoTransform(t.handle, in.data(), lut.data(), 256);
        for (int y = 0; y < out.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < out.width(); ++x) {
                const int g = qGreen(line[x]);
                line[x] = qRgba(lut[size_t(3 * g)], lut[size_t(3 * g + 1)],
                                lut[size_t(3 * g + 2)], qAlpha(line[x]));
            }
        }
        return out;
    }
    if (space != TProfileSpace::Rgb)
        return image;
    const std::shared_ptr<const ColorLut> lut = lutFor(from, to);
    if (!lut || lut->identity())
        return image; // an sRGB photo on an sRGB display (under whatever names) stays as it is
    // Each 8-bit value's 16-bit form, then rows in bands on the cores.
    uchar* const bits = out.bits(); // detached here, once, before the threads share it
    const qsizetype stride = out.bytesPerLine();
    const int width = out.width();
    const auto convertRows = [bits, stride, width, &lut](int first, int last) {
        for (int y = first; y < last; ++y) {
            auto* line = reinterpret_cast<QRgb*>(bits + y * stride);
            for (int x = 0; x < width; ++x)
                line[x] = lut->map8(line[x]);
        }
    };
    const int bands = qint64(out.width()) * out.height() >= (1 << 20)
                          ? std::clamp(QThread::idealThreadCount(), 1, 4)
                          : 1;
    std::vector<std::thread> threads;
    const int rows = (out.height() + bands - 1) / bands;
    for (int k = 1; k < bands; ++k)
        threads.emplace_back(convertRows, std::min(out.height(), k * rows),
                             std::min(out.height(), (k + 1) * rows));
    convertRows(0, std::min(out.height(), rows));
    for (std::thread& t : threads)
        t.join();
    return out;
}

QByteArray SrgbProfileBytes() {
    Profile srgb(cmsCreate_sRGBProfile());
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(srgb.handle, nullptr, &size) || size == 0)
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(srgb.handle, bytes.data(), &size))
        return {};
    return bytes;
}
