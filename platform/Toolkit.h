#pragma once

#include <QColor>
#include <QObject>
#include <QString>

// Enumerations, sets and value types of the windowing toolkit whose identifiers and numbers
// are kept in pattern files and shown by the inspector.
namespace Tk {
Q_NAMESPACE

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
Q_ENUM_NS(TAlignment)

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
Q_ENUM_NS(TAlign)

enum THelpType { htKeyword, htContext };
Q_ENUM_NS(THelpType)

enum TDragMode { dmManual, dmAutomatic };
Q_ENUM_NS(TDragMode)

enum TDragKind { dkDrag, dkDock };
Q_ENUM_NS(TDragKind)

enum TFontPitch { fpDefault, fpVariable, fpFixed };
Q_ENUM_NS(TFontPitch)

enum TFontStyle { fsBold = 0x1, fsItalic = 0x2, fsUnderline = 0x4, fsStrikeOut = 0x8 };
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_FLAG_NS(TFontStyles)

// Where a brick keeps to on every photo: the brick's matching point stays at its margins from the
// matching point of the photo (baNone: placed by its own position, as bricks always were).
enum TBrickAnchor {
    baNone,
    baTopLeft,
    baTop,
    baTopRight,
    baLeft,
    baCenter,
    baRight,
    baBottomLeft,
    baBottom,
    baBottomRight
};
Q_ENUM_NS(TBrickAnchor)

enum TAnchorKind { akLeft = 0x1, akTop = 0x2, akRight = 0x4, akBottom = 0x8 };
Q_DECLARE_FLAGS(TAnchors, TAnchorKind)
Q_FLAG_NS(TAnchors)

} // namespace Tk

Q_DECLARE_OPERATORS_FOR_FLAGS(Tk::TFontStyles)
Q_DECLARE_OPERATORS_FOR_FLAGS(Tk::TAnchors)

// A toolkit colour: 32 bits, red in the lowest byte ($00BBGGRR); system colours are $FF000000 +
// index.
using TColor = qint32;
// A toolkit screen cursor identifier (crDefault 0, crArrow -2, ...).
using TCursor = qint32;
// A font character set identifier (DEFAULT_CHARSET 1, ...).
using TFontCharset = quint8;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000F);
constexpr TColor clWindow = static_cast<TColor>(0xFF000005);
constexpr TColor clWindowText = static_cast<TColor>(0xFF000008);
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TFontCharset DEFAULT_CHARSET = 1;

// The RGB bytes of a colour value taken as they are (no system-colour lookup), with the given
// alpha.
inline QColor ColorBytesToQColor(TColor c, int alpha = 255) {
    const auto u = static_cast<quint32>(c);
    return QColor(int(u & 0xFF), int((u >> 8) & 0xFF), int((u >> 16) & 0xFF), alpha);
}

// A colour as the screen shows it: system colours resolved to fixed classic values.
QColor TColorToQColor(TColor c);

inline TColor QColorToTColor(const QColor& c) {
    return static_cast<TColor>(c.red() | (c.green() << 8) | (c.blue() << 16));
}
