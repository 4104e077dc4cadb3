#pragma once

#include <QImage>

// The palette's 18 x 18 glyphs, drawn here rather than kept as bitmap files.
enum class PaletteGlyph { Text, Date, Time, Bubble, Picture };

QImage DrawPaletteGlyph(PaletteGlyph glyph);
