#pragma once

#include "bricks/TText.h"

// The time the photo was taken.
class TTextTime : public TText {
    Q_OBJECT

public:
    Q_INVOKABLE explicit TTextTime(QWidget* parent = nullptr);

    double DateValue = 0; // days since 30 December 1899, with the time of day
    QString Format;       // index of a time format as decimal text; empty means 1
};
