#include "bricks/TBubbleFrom.h"

#include "bricks/TTextBubble.h"

TBubbleFrom::TBubbleFrom(QWidget* parent) : TImage(parent) {
    SetBounds(Left(), Top(), 10, 10);
}

TBubbleFrom::~TBubbleFrom() {
    if (m_bubble)
        m_bubble->MarkerDestroyed();
}
