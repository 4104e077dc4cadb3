#pragma once

#include "bricks/BubbleShape.h"

#include <QList>
#include <QPair>
#include <QRect>
#include <QString>
#include <functional>

class QObject;

// Everything an edit dialog can change on a brick: every stored published property as its value
// text (the font's values included), and the values no stream carries.
struct BrickSnapshot {
    QList<QPair<QString, QString>> published; // name, value text, in published order
    QRect bounds;
    int FullWidth = 0, FullHeight = 0, FullLeft = 0, FullTop = 0;
    int Angle = 0;
    int Opacity = 255;
    double DateValue = 0; // date and time bricks
    QString Format;       // date and time bricks
    int FromX = 0, FromY = 0; // bubbles: the tail point
    int Style = 0;            // bubbles
    BubbleBox Body;           // bubbles

    bool operator==(const BrickSnapshot& other) const;
    bool operator!=(const BrickSnapshot& other) const { return !(*this == other); }
};

BrickSnapshot TakeBrickSnapshot(const QObject* brick);
// Puts every value back and repaints the brick.
void RestoreBrickSnapshot(QObject* brick, const BrickSnapshot& snapshot);

// Told once when a dialog's Ok keeps a change, with the brick before and after: the surface
// makes it one undo step.
using BrickCommit =
    std::function<void(QObject* brick, const BrickSnapshot& before, const BrickSnapshot& after)>;
