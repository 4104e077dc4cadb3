#pragma once

#include "platform/TCustomLabel.h"

#include <QRect>

class QImage;
class QPainter;

// Free text. Measured and composed at full size; the screen shows that rendition scaled down
// into the control, so the preview matches what the render burns into the photo.
class TText : public TCustomLabel {
    Q_OBJECT

public:
    Q_INVOKABLE explicit TText(QWidget* parent = nullptr);

    // Full-size geometry: unrotated text size as last measured, and the top-left corner.
    int FullWidth = 0;
    int FullHeight = 0;
    int FullTop = 0;
    int FullLeft = 0;
    int Angle = 0;     // tenths of a degree, clockwise positive
    int Opacity = 255; // alpha of the text colour

    // Measures the caption at full size and sizes the control at the zoom ratio.
    virtual void FitToText();

    // The full-size box the text occupies at the given top-left corner (rotated bounding box).
    QRect FullBox(int left, int top) const;

protected:
    void AdjustBounds() override { FitToText(); }
    void paintEvent(QPaintEvent* event) override;
};

// The zoom ratio of the surface a brick sits on, or 1 off a surface or while no image is open
// (so nothing divides by zero).
double ZoomRatioOf(const QWidget* brick);

// A brick's full-size composition drawn into its preview rectangle: reduced with an area
// average, enlarged at paint time (so that only the part that shows is ever made).
void DrawComposed(QPainter& painter, const QRect& target, const QImage& composed);
