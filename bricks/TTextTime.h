#pragma once

#include "bricks/TText.h"

// The time the photo was taken.
class TTextTime : public TText {
    Q_OBJECT
    // The index of a time-format catalogue entry as decimal text; empty means 1.
    Q_PROPERTY(QString Format MEMBER Format WRITE setFormat)
    Q_CLASSINFO("type:Format", "TTimeFormat")

public:
    Q_INVOKABLE explicit TTextTime(QWidget* parent = nullptr);

    double DateValue = 0; // days since 30 December 1899, with the time of day
    QString Format;       // index of a time format as decimal text; empty means 1

    // Outside loading the caption follows: the brick shows its value in the new format.
    void setFormat(const QString& format);
};
