#pragma once

#include "bricks/TText.h"

// The date the photo was taken.
class TTextDate : public TText {
    Q_OBJECT
    // A date format string of the catalogue (or any other); empty shows the system short date.
    Q_PROPERTY(QString Format MEMBER Format WRITE setFormat)
    Q_CLASSINFO("type:Format", "TDateFormat")

public:
    Q_INVOKABLE explicit TTextDate(QWidget* parent = nullptr);

    double DateValue = 0; // days since 30 December 1899
    QString Format;       // a date format string; empty: the system short date

    // Outside loading the caption follows: the brick shows its value in the new format.
    void setFormat(const QString& format);
};
