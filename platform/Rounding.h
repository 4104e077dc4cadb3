#pragma once

#include <cmath>

// Rounding to the nearest integer with halves going to the even neighbour (2.5 -> 2, 3.5 -> 4).
inline int RoundHalfEven(double v) {
    return static_cast<int>(std::nearbyint(v));
}
