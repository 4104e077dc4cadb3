#pragma once

#include "platform/Toolkit.h"

// How a brick is placed on each photo, beside its own position: an anchor with its margins, and a
// size relative to the photo. Margins and size are per mille of the photo's shorter side; on a
// centred axis a margin is the offset of the brick's centre from the photo's. A relative size of 0
// keeps the brick's own size; otherwise it is a text's line height or a picture's height.
struct BrickLayout {
    Tk::TBrickAnchor anchor = Tk::baNone;
    double marginX = 0;
    double marginY = 0;
    double relativeSize = 0;

    bool anchored() const { return anchor != Tk::baNone; }
    bool relative() const { return relativeSize > 0; }
    // Placed from these values rather than by its own position and size alone.
    bool placesItself() const { return anchored() || relative(); }
    bool operator==(const BrickLayout&) const = default;
};

// The side of an axis an anchor keeps to.
enum class AnchorSide { Start, Centre, End };
AnchorSide HorizontalSide(Tk::TBrickAnchor anchor);
AnchorSide VerticalSide(Tk::TBrickAnchor anchor);
