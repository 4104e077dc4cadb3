#pragma once

#include "bricks/BrickLayout.h"
#include "bricks/BubbleShape.h"
#include "bricks/Readability.h"
#include "designer/state/CaptionBand.h"
#include "platform/Toolkit.h"

#include <QFont>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>

class QPainter;
class QWidget;
class TDesigner;
class TText;

// Where a brick goes on a photo, as one function of plain values: the screen, every save, the
// batch, its preview and the command line place bricks with it. The values are copied from the
// brick widgets on the user-interface thread (BrickDataOf); placing and drawing them touch no
// widget, so any thread may do it.

enum class BrickKind { Text, Date, Time, Bubble, Picture };

// One brick as plain values.
struct BrickData {
    BrickKind kind = BrickKind::Text;
    QString name;
    // On the photo it sits on, in that photo's full-size pixels: its top-left corner and its own
    // size (a text's unturned size; a bubble's box with its tail; a picture's rectangle).
    int left = 0, top = 0, width = 0, height = 0;
    BrickLayout layout;

    // Text, date, time and bubble bricks.
    QString caption;      // as typed, with its fields ({Model}, {Date:...})
    QString text;         // what is drawn (a date's or time's for the photo in hand)
    QString measuredText; // the text width and height were measured for
    QFont font;           // pixel sized
    TColor fontColor = 0;
    int angle = 0; // tenths of a degree; bubbles do not turn
    int opacity = 255;
    bool autoSize = true;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool wordWrap = false;
    bool enabled = true;
    // Its box painted in color when not transparent; outline, shadow, plate, automatic contrast.
    bool transparent = true;
    TColor color = clBtnFace;
    Readability readability;
    // Date and time bricks: the value and the format the text comes from.
    double dateValue = 0;
    QString format;

    // Bubbles.
    int style = 1;
    BubbleBox body;
    int fromX = 0, fromY = 0;

    // Pictures, as drawn (transparency applied).
    QImage picture;

    // Width and height are to be measured again (the text changed since).
    bool stale = false;

    bool isText() const { return kind != BrickKind::Picture; }
};

// The photo a brick is placed on: its upright size as written (after the EXIF orientation, a fit
// and a rotation), and the scale from the full-size pixels the bricks were laid out in to its
// pixels for what keeps its own place and size (a fit's; 1 on the design surface).
struct PlacementTarget {
    QSize size;
    double sx = 1.0, sy = 1.0;
    // A caption band added to the photo on the target (see TCaptionBand): bricks anchored to its
    // edge are placed inside it, every other anchored brick on the photo, whose shorter side
    // margins and relative sizes are parts of. Empty without one.
    QRect band{};
};
// The target of a photo of a size (the output's) with a band.
PlacementTarget TargetWithBand(const QSize& photo, const TCaptionBand& band, double sx = 1.0,
                               double sy = 1.0);

// A brick placed: the brick as it is drawn there, in its own pixels (font, measured size, bubble
// body and tail, picture size), and how its own pixels map onto the target.
struct BrickPlacement {
    BrickData brick;
    QSize box;      // its own box: a text's turned bounding box, a bubble's or picture's size
    QPointF origin; // the box's top-left corner on the target
    double sx = 1.0, sy = 1.0;
    // AutoContrast's choice for the photo under the box: dark or light text, or not chosen yet
    // (DrawPlacedBrick then looks at the pixels it draws over).
    enum class Contrast { Unchosen, Dark, Light };
    Contrast contrast = Contrast::Unchosen;

    // The box on the target.
    QRectF Bounds() const;
    // The font's pixel size there (text kinds).
    double FontPixels() const;
};

// Places a brick on a target. Not anchored, it keeps its corner (scaled by the target's sx, sy);
// anchored, its matching point keeps its margins from the photo's matching point. Without a
// relative size it keeps its own size (scaled by sx, sy; an anchored brick by the smaller of the
// two, so that it is never squeezed); with one, its font's line height (a picture's height) is
// that part of the target's shorter side, a bubble's body and tail following in proportion. A
// text brick is measured for its text when that is not the text it was measured for.
BrickPlacement PlaceBrick(const BrickData& brick, const PlacementTarget& target);

// The placing values that keep a brick where it is on a target: its margins for its anchor from
// its corner and box there (when margins is set), and its relative size from its font's line
// height or its picture's height (when size is set and it has one). Values are rounded to
// hundredths of a per mille.
BrickLayout DeriveLayout(const BrickData& brick, const PlacementTarget& target, bool margins,
                         bool size);

// The pixel size of a font whose line spacing comes closest to a height.
int FontPixelsForLineHeight(const QFont& font, double lineHeight);

// A date or time brick's text for a photo's date-time value, in the brick's own format (a date
// brick shows the day alone); other bricks keep theirs.
void SetBrickDate(BrickData& brick, double value);

// Draws a placed brick onto an image that is the band of the target starting at bandOrigin (the
// whole target when bandOrigin is (0, 0) and the image has the target's size); whole is the
// target's size. Throws when a bubble's bitmap cannot be had.
void DrawPlacedBrick(QImage& image, const BrickPlacement& placement, const QPoint& bandOrigin,
                     const QSize& whole);
// The rectangle of the target that drawing the brick may change: its box, and for a text what
// its outline, shadow and plate reach beyond it.
QRectF PlacedFootprint(const BrickPlacement& placement, const QSize& whole);

// The relative luminance (0 black .. 1 white) of an sRGB colour.
double RelativeLuminance(QRgb rgb);
// Which of black and white text contrasts more with the pixels of photo under the placed box;
// photo's pixel (0, 0) lies at photoOrigin of the target and one photo pixel spans scale target
// pixels. Dark when there is nothing to look at.
BrickPlacement::Contrast ChooseContrast(const BrickPlacement& placement, const QImage& photo,
                                        const QPointF& photoOrigin = {}, double scale = 1.0);

// The bubble as ComposeBubble draws it, from plain values.
BubbleDrawing BubbleDrawingOf(const BrickData& brick, const QRect& clip = QRect());

// --- The widgets ---------------------------------------------------------------------------------

// The plain values of a brick widget (TText, TTextDate, TTextTime, TTextBubble, TPictureimg), as
// it sits on its surface's photo. Nothing of other widgets: kind Picture without a picture.
BrickData BrickDataOf(const QWidget* brick);
// Whether a widget is one of the five brick classes.
bool IsPlaceableBrick(const QWidget* widget);
// The bricks of a list (others left out) as plain values, in order.
QList<BrickData> BrickDataOf(const QList<QWidget*>& bricks);

// A text brick widget as the screen draws it: at its screen box's corner at full size (see
// TText::ScreenFullBox), unscaled.
BrickPlacement ScreenPlacementOf(const TText* text);
// Any brick widget likewise: a text as above, a bubble or picture at its full-size corner (where
// it is dragged to, while a drag is in progress).
BrickPlacement ScreenPlacementOfBrick(const QWidget* brick);
// The full-size corner a brick widget shows at: its full-size corner, unless it was moved on the
// screen since that was set.
QPoint ScreenFullCorner(const QWidget* brick, int fullLeft, int fullTop);
// The shown bricks stacked below a brick widget on its parent whose drawing meets a full-size
// area, bottom first: what the output has drawn there before it.
QList<BrickPlacement> ScreenPlacementsBeneath(const QWidget* brick, const QRect& area);
// A full-size area of a surface's canvas (its photo with its band) with placed bricks drawn over
// it in order, as the output shows that area; the parts of the area off the canvas (all of it
// without a surface) take outside. AutoContrast looks at the area before any brick is drawn.
QImage ComposeOnCanvas(const QList<BrickPlacement>& placements, const TDesigner* designer,
                       const QRect& area, QRgb outside = 0);
QImage ComposeOnCanvas(const BrickPlacement& placement, const TDesigner* designer,
                       const QRect& area, QRgb outside = 0);
// Paints onto a design surface's panel, at its zoom, what the surface's text bricks draw beyond
// their own boxes (outlines, shadows, plates), over an area of the panel.
void PaintSpills(QPainter& painter, const TDesigner& designer, const QRect& area);

// Places a brick widget on the photo of its design surface and shows it there: its full-size
// corner, font, size and (for a bubble) body, tail and marker, and its preview geometry at the
// surface's zoom ratio. A font of another size than the brick was last placed with is taken as
// the user's: a relative size is derived from it first. Does nothing off a surface or without a
// photo. remeasure: the text changed since it was measured.
void PlaceOnItsPhoto(QWidget* brick, bool remeasure = false);
// The target of a brick's surface photo, or an invalid size without one.
PlacementTarget SurfaceTargetOf(const QWidget* brick);
// A brick widget's placing values; null for other widgets.
const BrickLayout* LayoutOf(const QWidget* brick);
BrickLayout* LayoutOf(QWidget* brick);
// Whether a brick widget places itself on its surface's photo (anchored or of a relative size,
// and a photo is open).
bool PlacesItselfOnPhoto(const QWidget* brick);
