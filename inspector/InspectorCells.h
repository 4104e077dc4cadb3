#pragma once

#include "platform/Toolkit.h"

#include <QColor>
#include <QRect>
#include <QString>
#include <optional>

class QPainter;
class QPalette;

// How the inspector grid paints its cells: three skins, bold defaults, colour swatches and the
// alignment icons.

constexpr int kSkin1 = 511; // value cells window-coloured, name cells button face
constexpr int kSkin2 = 512; // unselected value cells button face
constexpr int kSkin3 = 513; // unselected name cells window-coloured

enum class CellDecoration { None, ColorSwatch, AlignmentIcon };

struct InspectorCell {
    QRect rect;
    QString text;
    bool nameColumn = false;
    bool selected = false;
    bool bold = false;
    int skin = kSkin1;
    CellDecoration decoration = CellDecoration::None;
    TColor color = 0;                             // for a swatch
    Tk::TAlignment alignment = Tk::taLeftJustify; // for an icon
};

void PaintInspectorCell(QPainter& painter, const QPalette& palette, const InspectorCell& cell);

// The square a swatch or an icon takes at the left of a cell: (left + 1, top + 2) to
// (left + height - 4, bottom - 2).
QRect DecorationSquare(const QRect& cell);

// An 11 x 11 icon of lines set left, centred or right, stretched into the rectangle.
void DrawAlignmentIcon(QPainter& painter, const QRect& rect, Tk::TAlignment alignment,
                       const QColor& ink);
void DrawColorSwatch(QPainter& painter, const QRect& rect, TColor color, const QColor& frame);

// The colour a value text names: an identifier (clRed, or Red with the prefix left off) or a
// decimal number.
std::optional<TColor> ColorOfText(const QString& text);
// The alignment a value text names (taCenter, or Center).
std::optional<Tk::TAlignment> AlignmentOfText(const QString& text);
