#pragma once

#include "bricks/BrickLayout.h"
#include "bricks/Readability.h"
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
    // Readable on any photo: see Readability. Stored only when set.
    Q_PROPERTY(TColor Outline READ Outline WRITE setOutline)
    Q_PROPERTY(int OutlineWidth READ OutlineWidth WRITE setOutlineWidth)
    Q_PROPERTY(TColor Shadow READ Shadow WRITE setShadow)
    Q_PROPERTY(int ShadowOffset READ ShadowOffset WRITE setShadowOffset)
    Q_PROPERTY(TColor Backdrop READ Backdrop WRITE setBackdrop)
    Q_PROPERTY(int BackdropOpacity READ BackdropOpacity WRITE setBackdropOpacity)
    Q_PROPERTY(int BackdropPadding READ BackdropPadding WRITE setBackdropPadding)
    Q_PROPERTY(bool AutoContrast READ AutoContrast WRITE setAutoContrast)
    Q_CLASSINFO("type:Outline", "TColor")
    Q_CLASSINFO("default:Outline", "clNone")
    Q_CLASSINFO("default:OutlineWidth", "8")
    Q_CLASSINFO("type:Shadow", "TColor")
    Q_CLASSINFO("default:Shadow", "clNone")
    Q_CLASSINFO("default:ShadowOffset", "8")
    Q_CLASSINFO("type:Backdrop", "TColor")
    Q_CLASSINFO("default:Backdrop", "clNone")
    Q_CLASSINFO("default:BackdropOpacity", "160")
    Q_CLASSINFO("default:BackdropPadding", "25")
    Q_CLASSINFO("default:AutoContrast", "False")

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
    Readability Readable;
    TColor Outline() const { return Readable.outline; }
    int OutlineWidth() const { return Readable.outlineWidth; }
    TColor Shadow() const { return Readable.shadow; }
    int ShadowOffset() const { return Readable.shadowOffset; }
    TColor Backdrop() const { return Readable.backdrop; }
    int BackdropOpacity() const { return Readable.backdropOpacity; }
    int BackdropPadding() const { return Readable.backdropPadding; }
    bool AutoContrast() const { return Readable.autoContrast; }
    // Percentages are kept within 0..100 (the padding 0..200), the opacity within 0..255.
    void setOutline(TColor v);
    void setOutlineWidth(int v);
    void setShadow(TColor v);
    void setShadowOffset(int v);
    void setBackdrop(TColor v);
    void setBackdropOpacity(int v);
    void setBackdropPadding(int v);
    void setAutoContrast(bool v);

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
    // Its full-size box where the screen shows it now (during a drag, where it is dragged to).
    QRect ScreenFullBox() const;

protected:
    // What is drawn beyond the box (outline, shadow, plate) shows on the panel around it.
    void setReadable(const Readability& r);
    void AdjustBounds() override { FitToText(); }
    void Loaded() override;
    void paintEvent(QPaintEvent* event) override;
    // What it draws beyond its box follows it about the panel.
    bool event(QEvent* event) override;
};

// The zoom ratio of the surface a brick sits on, or 1 off a surface or while no image is open
// (so nothing divides by zero).
double ZoomRatioOf(const QWidget* brick);

// A brick's full-size composition drawn into its preview rectangle: reduced with an area
// average, enlarged at paint time (so that only the part that shows is ever made).
void DrawComposed(QPainter& painter, const QRect& target, const QImage& composed);
