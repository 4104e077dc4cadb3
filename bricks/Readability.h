#pragma once

#include "platform/Toolkit.h"

// What keeps a text brick readable on any photo, beside its own colour: an outline around the
// glyphs, a soft shadow below-right, a rounded plate behind the box, and the automatic choice of
// black or white text for the photo under it. Widths, offsets and the padding are percent of the
// font's line height, so they scale with the text.
struct Readability {
    TColor outline = clNone;
    int outlineWidth = 8;
    TColor shadow = clNone;
    int shadowOffset = 8;
    TColor backdrop = clNone;
    int backdropOpacity = 160;
    int backdropPadding = 25;
    bool autoContrast = false;

    bool hasOutline() const { return outline != clNone && outlineWidth > 0; }
    bool hasShadow() const { return shadow != clNone; }
    bool hasBackdrop() const { return backdrop != clNone && backdropOpacity > 0; }
    // Anything drawn outside the text's own box.
    bool spills() const { return hasOutline() || hasShadow() || hasBackdrop(); }
    bool operator==(const Readability&) const = default;
};
