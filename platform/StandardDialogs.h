#pragma once

#include "platform/Toolkit.h"

class TFont;

// Qt's own font and colour dialogs over the toolkit's font and colour: true when the user chose
// one, which then stands in font or color.
bool RunFontDialog(TFont& font);
bool RunColorDialog(TColor& color);
