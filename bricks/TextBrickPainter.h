#pragma once

#include "platform/Toolkit.h"

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QTransform>

class TFont;

// The composition shared by a text brick's on-screen paint and the render: at full size, the
// part of the photo behind the brick with the text drawn over it, rotated into its box.

// An angle in tenths of a degree brought into (-1800, 1800]: a whole turn more or less draws
// the same text.
int NormalizedAngle(int angle);

// The box of a text of fullWidth x fullHeight turned by angle tenths of a degree: the rotated
// bounding box, or the text's own size when the angle is a whole number of turns.
QSize TextBoxSize(int fullWidth, int fullHeight, int angle);

// Rotation about the origin followed by the translation that moves the turned text into the
// w x h box. Any angle is taken modulo a whole turn first.
QTransform TextBoxTransform(int angle, int fullHeight, int w, int h);

// How a text brick's lines sit in its box.
Qt::Alignment TextAlignment(Tk::TAlignment alignment);

struct TextBoxParams {
    const TFont* font = nullptr;
    QString text;
    int angle = 0;      // tenths of a degree
    int opacity = 255;  // alpha of the text colour
    int fullHeight = 0; // unrotated text height, for the translation
    int fullWidth = 0;  // unrotated box width, the room the lines are aligned in
    Qt::Alignment alignment = Qt::AlignLeft;
    bool drawText = true;
};

// background: the full-size photo; box: the brick's box in its coordinates. Parts of the box
// outside the photo take outside (opaque colour, or transparent).
QImage ComposeTextBox(const QImage& background, const QRect& box, const TextBoxParams& params,
                      QRgb outside = 0);
