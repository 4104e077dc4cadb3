#pragma once

#include "bricks/TText.h"

// The date the photo was taken.
class TTextDate : public TText {
    Q_OBJECT

public:
    Q_INVOKABLE explicit TTextDate(QWidget* parent = nullptr);

    double DateValue = 0; // days since 30 December 1899
    QString Format;       // a date format string; empty: the system short date
};
