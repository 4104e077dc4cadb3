#pragma once

#include "platform/TImage.h"

class TTextBubble;

// The draggable tail point of a bubble. Owned by its bubble, shown on the picture panel.
class TBubbleFrom : public TImage {
    Q_OBJECT

public:
    Q_INVOKABLE explicit TBubbleFrom(QWidget* parent = nullptr);
    ~TBubbleFrom() override;

    int FullTop = 0;
    int FullLeft = 0;

    TTextBubble* Bubble() const { return m_bubble; }
    void SetBubble(TTextBubble* bubble) { m_bubble = bubble; }

private:
    TTextBubble* m_bubble = nullptr;
};
