#pragma once

#include "bricks/BubbleShape.h"
#include "bricks/TText.h"

#include <QImage>

class TBubbleFrom;

// A speech or thought bubble: text inside a filled, outlined body with a tail (or thought
// circles) pointing at the tail point (FromX, FromY), in full-size pixels from the brick's
// top-left corner.
class TTextBubble : public TText {
    Q_OBJECT
    Q_PROPERTY(int FromX READ FromX WRITE setFromX)
    Q_PROPERTY(int FromY READ FromY WRITE setFromY)
    // The style (0..4, the bubble style catalogue) and where the body starts when the tail point
    // lies left of or above it: stored only when not at their defaults, so that a bubble whose
    // shape a pattern could always be told from its size reads and writes as before.
    Q_PROPERTY(int BubbleStyle READ BubbleStyle WRITE setBubbleStyle)
    Q_PROPERTY(int BodyLeft READ BodyLeft WRITE setBodyLeft)
    Q_PROPERTY(int BodyTop READ BodyTop WRITE setBodyTop)
    Q_CLASSINFO("type:BubbleStyle", "TBubbleStyle")
    Q_CLASSINFO("default:BubbleStyle", "1")
    Q_CLASSINFO("default:BodyLeft", "0")
    Q_CLASSINFO("default:BodyTop", "0")

public:
    Q_INVOKABLE explicit TTextBubble(QWidget* parent = nullptr);
    ~TTextBubble() override;

    int FromX() const { return m_fromX; }
    int FromY() const { return m_fromY; }
    // Store only; neither re-lays out nor repaints.
    void setFromX(int v);
    void setFromY(int v);

    int BubbleStyle() const { return Style; }
    // Throws for a style outside 0..4. Outside loading the bubble re-fits and repaints.
    void setBubbleStyle(int style);
    int BodyLeft() const { return Body.left; }
    int BodyTop() const { return Body.top; }
    // Moves the body, keeping its size.
    void setBodyLeft(int v);
    void setBodyTop(int v);
    // The stream carried the style or the body's corner: the shape need not be guessed.
    bool ShapeStored() const { return m_shapeStored; }

    // The text body, full-size pixels relative to the brick; every style's shape derives from it.
    using BodyRect = BubbleBox;
    BodyRect Body;
    quint8 Style = 0; // 0..4, see the bubble style catalogue
    TBubbleFrom* Marker() const { return m_marker; }
    bool MarkerGone() const { return m_markerGone; }
    void MarkerDestroyed();

    // Measures the text, sets the body's right and bottom and the full and preview sizes.
    void FitToText() override;

    // The body as the design surface sets it for a new bubble of the control's current size
    // (a bubble read from a pattern has none). FromX and FromY are kept.
    void SetUpFromSize(double zoom);
    // A bubble read from a pattern has only its size, tail point and text: it takes the style
    // and body (offset when the tail point lies above or left of it) that give back the stored
    // size, a new bubble's style first; its own style when none does. Fits the text.
    void SetUpLoaded(double zoom);
    // Puts the tail marker on the tail point, beside the bubble on the same parent.
    void PlaceMarker(double zoom);

    // The bubble composed at full size (FullWidth x FullHeight), the key colour already made
    // transparent; Opacity is not applied.
    QImage ComposeFullSize() const;
    // The same with its alpha scaled by Opacity / 255: ready to draw at (FullLeft, FullTop).
    QImage ComposeForOutput() const;

    // The part of the bubble drawn over an area of the full-size picture, in the picture's
    // coordinates: where the brick's box meets the area, and the whole body. A tail point far
    // outside costs no more than the area.
    QRect ComposedRect(const QRect& area) const;
    // The bubble over ComposedRect(area), ready to draw there (Opacity applied). Null when
    // nothing meets the area or when the bitmap cannot be had.
    QImage ComposeOver(const QRect& area) const;

protected:
    void Loaded() override;
    void paintEvent(QPaintEvent* event) override;

private:
    BubbleDrawing Drawing(const QRect& area) const;

    int m_fromX = 0;
    int m_fromY = 0;
    TBubbleFrom* m_marker = nullptr;
    bool m_markerGone = false;
    QSize m_loadedSize; // as the stream stored it, until SetUpLoaded
    bool m_shapeStored = false;
    bool m_styleStored = false;
    bool m_settingUp = false;
};
