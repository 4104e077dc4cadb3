#pragma once

#include "bricks/BrickLayout.h"
#include "platform/TCustomLabel.h"

#include <QRect>

class QImage;
class QPainter;

// Free text. Measured and composed at full size; the screen shows that rendition scaled down
// into the control, so the preview matches what the render burns into the photo.
class TText : public TCustomLabel {
    Q_OBJECT
    // What the brick dialogs edit, stored only when not at their defaults, so a pattern that
    // uses neither reads and writes as it did before they were published.
    Q_PROPERTY(int Angle MEMBER Angle WRITE setAngle)
    Q_PROPERTY(int Opacity MEMBER Opacity WRITE setOpacity)
    Q_CLASSINFO("default:Angle", "0")
    Q_CLASSINFO("default:Opacity", "255")
    // Where and how large it is on each photo: see BrickLayout. Stored only when set.
    Q_PROPERTY(Tk::TBrickAnchor Anchor READ Anchor WRITE setAnchor)
    Q_PROPERTY(double MarginX READ MarginX WRITE setMarginX)
    Q_PROPERTY(double MarginY READ MarginY WRITE setMarginY)
    Q_PROPERTY(double RelativeSize READ RelativeSize WRITE setRelativeSize)
    Q_CLASSINFO("default:Anchor", "baNone")
    Q_CLASSINFO("default:MarginX", "0.0")
    Q_CLASSINFO("default:MarginY", "0.0")
    Q_CLASSINFO("default:RelativeSize", "0.0")

public:
    Q_INVOKABLE explicit TText(QWidget* parent = nullptr);

    // Full-size geometry: unrotated text size as last measured, and the top-left corner.
    int FullWidth = 0;
    int FullHeight = 0;
    int FullTop = 0;
    int FullLeft = 0;
    int Angle = 0;     // tenths of a degree, clockwise positive
    int Opacity = 255; // alpha of the text colour

    // The placing values. The setters only store: the design surface places the brick.
    BrickLayout Layout;
    Tk::TBrickAnchor Anchor() const { return Layout.anchor; }
    double MarginX() const { return Layout.marginX; }
    double MarginY() const { return Layout.marginY; }
    double RelativeSize() const { return Layout.relativeSize; }
    void setAnchor(Tk::TBrickAnchor v) { Layout.anchor = v; }
    void setMarginX(double v) { Layout.marginX = v; }
    void setMarginY(double v) { Layout.marginY = v; }
    // Negative sizes mean none.
    void setRelativeSize(double v) { Layout.relativeSize = v > 0 ? v : 0; }
    // The font's pixel size the brick was last placed with: a font of another size since is the
    // user's choice, from which a relative size is taken anew.
    int PlacedFontPixels = 0;

    // Re-measure (a turned box is larger) and repaint, except while the brick is read.
    void setAngle(int tenths);
    void setOpacity(int alpha);

    // Measures the caption at full size and sizes the control at the zoom ratio.
    virtual void FitToText();

    // The full-size box the text occupies at the given top-left corner (rotated bounding box).
    QRect FullBox(int left, int top) const;

protected:
    void AdjustBounds() override { FitToText(); }
    void Loaded() override;
    void paintEvent(QPaintEvent* event) override;
};

// The zoom ratio of the surface a brick sits on, or 1 off a surface or while no image is open
// (so nothing divides by zero).
double ZoomRatioOf(const QWidget* brick);

// A brick's full-size composition drawn into its preview rectangle: reduced with an area
// average, enlarged at paint time (so that only the part that shows is ever made).
void DrawComposed(QPainter& painter, const QRect& target, const QImage& composed);
