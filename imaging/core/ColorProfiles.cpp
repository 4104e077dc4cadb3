#include "imaging/core/ColorProfiles.h"

#include <QRgba64>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdlib>
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

// True when a transform from sRGB (16-bit RGB in, 16-bit RGB or grey out) moves no 8-bit colour
// by more than one step: the profile is sRGB for all purposes.
bool movesNoColour(cmsHTRANSFORM t, bool grayOut) {
    constexpr int steps[] = {0, 32, 64, 96, 128, 160, 192, 224, 255};
    std::vector<quint16> in, out;
    for (int r : steps)
        for (int g : steps)
            for (int b : steps)
                in.insert(in.end(), {to16(r), to16(g), to16(b)});
    const qsizetype n = qsizetype(in.size() / 3);
    out.resize(size_t(grayOut ? n : 3 * n));
    cmsDoTransform(t, in.data(), out.data(), cmsUInt32Number(n));
    if (grayOut)
        return false; // a grey photo always turns colours grey
    for (size_t i = 0; i < in.size(); ++i)
        if (std::abs(to8(in[i]) - to8(out[i])) > 1)
            return false;
    return true;
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

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr cmsUInt32Number kRgb32Type = TYPE_BGRA_8;
#else
constexpr cmsUInt32Number kRgb32Type = TYPE_ARGB_8;
#endif

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
    QString problem;
    Profile photo(openProfile(icc, &problem));
    if (!photo.handle)
        return nullptr;
    const TProfileSpace space = spaceOf(photo.handle);
    if (space != TProfileSpace::Rgb && space != TProfileSpace::Gray)
        return nullptr;
    const bool gray = space == TProfileSpace::Gray;
    Profile srgb(cmsCreate_sRGBProfile());
    Transform t(cmsCreateTransform(srgb.handle, TYPE_RGB_16, photo.handle,
                                   gray ? TYPE_GRAY_16 : TYPE_RGB_16,
                                   INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
    if (!t.handle || movesNoColour(t.handle, gray))
        return nullptr;
    return std::shared_ptr<const TSrgbToPhoto>(new TSrgbToPhoto(t.release(), gray));
}

TSrgbToPhoto::~TSrgbToPhoto() {
    cmsDeleteTransform(static_cast<cmsHTRANSFORM>(m_transform));
}

void TSrgbToPhoto::mapRgb16(quint16* rgb, qsizetype pixels) const {
    if (pixels <= 0)
        return;
    if (!m_gray) {
        cmsDoTransform(static_cast<cmsHTRANSFORM>(m_transform), rgb, rgb,
                       cmsUInt32Number(pixels));
        return;
    }
    std::vector<quint16> gray(static_cast<size_t>(pixels));
    cmsDoTransform(static_cast<cmsHTRANSFORM>(m_transform), rgb, gray.data(),
                   cmsUInt32Number(pixels));
    for (qsizetype i = 0; i < pixels; ++i)
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = gray[size_t(i)];
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
    if (photo.format() != QImage::Format_RGB32 && photo.format() != QImage::Format_ARGB32)
        photo = photo.convertToFormat(photo.hasAlphaChannel() ? QImage::Format_ARGB32
                                                              : QImage::Format_RGB32);
    const bool photoAlpha = photo.format() == QImage::Format_ARGB32;
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
    Transform t(cmsCreateTransform(source.handle, kRgb32Type, target.handle, kRgb32Type,
                                   INTENT_RELATIVE_COLORIMETRIC,
                                   cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA));
    if (!t.handle)
        return image;
    // An sRGB photo shown on an sRGB display (under whatever profile names) stays as it is.
    std::vector<QRgb> probe;
    for (int r = 0; r < 256; r += 51)
        for (int g = 0; g < 256; g += 51)
            for (int b = 0; b < 256; b += 51)
                probe.push_back(qRgb(r, g, b));
    std::vector<QRgb> probed(probe.size());
    cmsDoTransform(t.handle, probe.data(), probed.data(), cmsUInt32Number(probe.size()));
    const bool same = std::equal(probe.begin(), probe.end(), probed.begin(), [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= 1 && std::abs(qGreen(a) - qGreen(b)) <= 1 &&
               std::abs(qBlue(a) - qBlue(b)) <= 1;
    });
    if (same)
        return image;
    for (int y = 0; y < out.height(); ++y) {
        uchar* line = out.scanLine(y);
        cmsDoTransform(t.handle, line, line, cmsUInt32Number(out.width()));
    }
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
