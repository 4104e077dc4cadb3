#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRgb>
#include <QString>

#include <memory>

// Colour spaces of photos, over LittleCMS, always with the relative colorimetric intent: caption
// colours (sRGB, as on screen) converted into the space of the photo's embedded profile, and
// photos converted for the display. A photo without a profile is sRGB.

enum class TProfileSpace { Rgb, Gray, Cmyk, Other };

struct TProfileCheck {
    bool usable = false;  // LittleCMS reads it and its header is sound
    TProfileSpace space = TProfileSpace::Other;
    QString problem;      // why it is not usable
};
// Checks an embedded profile: its declared size, its signature and that LittleCMS can open it.
TProfileCheck CheckIccProfile(const QByteArray& icc);

// sRGB colours converted into the colour space of one profile. Safe to use from several threads.
class TSrgbToPhoto {
public:
    // Null when nothing would change (the profile is sRGB, or none), or when the profile cannot
    // take caption colours (unreadable, CMYK, Lab, ...): the captions then keep their numbers.
    static std::shared_ptr<const TSrgbToPhoto> ForProfile(const QByteArray& icc);
    ~TSrgbToPhoto();
    TSrgbToPhoto(const TSrgbToPhoto&) = delete;
    TSrgbToPhoto& operator=(const TSrgbToPhoto&) = delete;

    // One colour; alpha is kept. A grey photo gets a grey (r = g = b).
    QRgb map(QRgb srgb) const;
    // Unpremultiplied 16-bit red, green, blue triples, converted in place.
    void mapRgb16(quint16* rgb, qsizetype pixels) const;

private:
    explicit TSrgbToPhoto(std::shared_ptr<const void> lut) : m_lut(std::move(lut)) {}
    std::shared_ptr<const void> m_lut; // the sampled transform
};

// Puts a layer of caption drawing over the photo at `at`: the layer's colours are sRGB and are
// converted by `colours` before they are blended, so that anti-aliased edges blend with the
// photo in its own space. The layer is best Format_RGBA64_Premultiplied (faint edges keep their
// colour exactly); the photo is RGB32 or ARGB32, or RGBX64 or RGBA64 (blended at 16 bits).
void ComposeSrgbLayer(QImage& photo, const QImage& layer, const QPoint& at,
                      const TSrgbToPhoto& colours);

// The image (RGB32 or ARGB32) with its colours converted from the space of profile `from` to the
// space of profile `to`, an empty profile standing for sRGB. The image comes back as it is when
// both are sRGB or a profile cannot be used.
QImage ConvertImageColors(const QImage& image, const QByteArray& from, const QByteArray& to);

// LittleCMS's own sRGB profile, as ICC bytes.
QByteArray SrgbProfileBytes();
