#pragma once

#include "patterns/settings/DateTimeFormats.h"

// The caption and value of a new date or time brick, taken from the image open on the design
// surface (empty: none), with the settings' fallbacks. Never throws: a fallback text that parses in no known
// format still becomes the caption, with the zero date.
BrickDateTime NewDateBrickValue(const QString& openImage);
BrickDateTime NewTimeBrickValue(const QString& openImage);
