#pragma once

#include "patterns/settings/DateTimeFormats.h"

class TTextDate;
class TTextTime;

// The caption and value of a new date or time brick, taken from the image open on the design
// surface (empty: none), with the settings' fallbacks. Never throws: a fallback text that parses in
// no known format still becomes the caption, with the zero date.
BrickDateTime NewDateBrickValue(const QString& openImage);
BrickDateTime NewTimeBrickValue(const QString& openImage);

// The text a date or time brick's value gives in its format: what the render burns in, and so
// what the brick shows once its value was set from a photo.
QString DateBrickText(const TTextDate& brick);
QString TimeBrickText(const TTextTime& brick);
// The time-format catalogue's text format a time brick's Format names (index 1 when it is empty
// or out of range).
QString TimeBrickFormat(const QString& indexText);
