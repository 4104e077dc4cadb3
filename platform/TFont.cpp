#include "platform/TFont.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// MulDiv: a * b / c rounded half away from zero, held within the int range (an absurd size
// from a settings file must not overflow, nor become INT_MIN, which cannot be negated).
int mulDiv(int a, int b, int c) {
    constexpr double limit = std::numeric_limits<int>::max();
    const double r = std::clamp(double(a) * double(b) / double(c), -limit, limit);
    return int(r < 0 ? -std::floor(-r + 0.5) : std::floor(r + 0.5));
}
} // namespace

TFont::TFont(QObject* parent) : QObject(parent) {}

int TFont::HeightFromSize(int points) {
    return -mulDiv(points, PixelsPerInch, 72);
}
int TFont::SizeFromHeight(int height) {
    return -mulDiv(height, 72, PixelsPerInch);
}

int TFont::Size() const {
    return SizeFromHeight(m_height);
}

void TFont::touch() {
    emit changed();
}

void TFont::setCharset(TFontCharset v) {
    if (m_charset != v) {
        m_charset = v;
        touch();
    }
}
void TFont::setColor(TColor v) {
    if (m_color != v) {
        m_color = v;
        touch();
    }
}
void TFont::setHeight(int v) {
    if (m_height != v) {
        m_height = v;
        touch();
    }
}
void TFont::setName(const QString& v) {
    if (m_name != v) {
        m_name = v;
        touch();
    }
}
void TFont::setPitch(Tk::TFontPitch v) {
    if (m_pitch != v) {
        m_pitch = v;
        touch();
    }
}
void TFont::setSize(int points) {
    setHeight(HeightFromSize(points));
}
void TFont::setStyle(Tk::TFontStyles v) {
    if (m_style != v) {
        m_style = v;
        touch();
    }
}

void TFont::Assign(const TFont& o) {
    if (sameAs(o))
        return;
    m_charset = o.m_charset;
    m_color = o.m_color;
    m_height = o.m_height;
    m_name = o.m_name;
    m_pitch = o.m_pitch;
    m_style = o.m_style;
    touch();
}

bool TFont::sameAs(const TFont& o) const {
    return m_charset == o.m_charset && m_color == o.m_color && m_height == o.m_height &&
           m_name == o.m_name && m_pitch == o.m_pitch && m_style == o.m_style;
}

QFont TFont::toQFont() const {
    QFont f(m_name);
    f.setStyleStrategy(QFont::PreferAntialias);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(false);
    f.setBold(m_style.testFlag(Tk::fsBold));
    f.setItalic(m_style.testFlag(Tk::fsItalic));
    f.setUnderline(m_style.testFlag(Tk::fsUnderline));
    f.setStrikeOut(m_style.testFlag(Tk::fsStrikeOut));
    if (m_pitch == Tk::fpFixed)
        f.setFixedPitch(true);
    if (m_height < 0) {
        // A negative height is the character height: the em size.
        f.setPixelSize(-m_height);
    } else if (m_height > 0) {
        // A positive height is the cell height (ascent + descent); scale the em to fit it.
        f.setPixelSize(m_height);
        const QFontMetricsF fm(f);
        const double cell = fm.ascent() + fm.descent();
        if (cell > 0)
            f.setPixelSize(std::max(1, int(std::lround(m_height * m_height / cell))));
    } else {
        f.setPixelSize(HeightFromSize(8) * -1);
    }
    return f;
}
