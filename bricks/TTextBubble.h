#pragma once

#include "TText.h"

#include <QImage>
#include <QPointer>
#include <QRect>

class TBubbleFrom;

// A speech or thought bubble: text inside a filled, outlined body with a tail (or thought
// circles) pointing at the tail point (FromX, FromY), in full-size pixels from the brick's
// top-left corner.
class TTextBubble : public TText {
    Q_OBJECT
    Q_PROPERTY(int FromX READ FromX WRITE setFromX)
    Q_PROPERTY(int FromY READ FromY WRITE setFromY)

public:
    Q_INVOKABLE explicit TTextBubble(QWidget* parent = nullptr);
    ~TTextBubble() override;

    int FromX() const { return m_fromX; }
    int FromY() const { return m_fromY; }
    // Store only; neither re-lays out nor repaints.
    void setFromX(int v);
    void setFromY(int v);

    // The text body, full-size pixels relative to the brick; every style's shape derives from it.
    struct BodyRect {
        int left = 0, top = 0, right = 0, bottom = 0;
    } Body;
    quint8 Style = 0; // 0..4, see the bubble style catalogue
    TBubbleFrom* Marker() const { return m_marker; }
    bool MarkerGone() const { return m_markerGone; }
    void MarkerDestroyed();

    void FitToText() override;

    // The bubble composed at full size (FullWidth x FullHeight), the key colour already made
    // transparent; Opacity is not applied.
    QImage ComposeFullSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_fromX = 0;
    int m_fromY = 0;
    TBubbleFrom* m_marker = nullptr;
    bool m_markerGone = false;
};
