#include "TTextBubble.h"

#include "ColorMatrix.h"
#include "Rounding.h"
#include "TBubbleFrom.h"

#include <QPainter>

TTextBubble::TTextBubble(QWidget* parent) : TText(parent) {
    FullWidth = Width();
    FullHeight = Height();
    m_marker = new TBubbleFrom(parent);
    m_marker->SetBubble(this);
}

TTextBubble::~TTextBubble() {
    if (!m_markerGone && m_marker) {
        m_marker->SetBubble(nullptr);
        delete m_marker;
    }
}

void TTextBubble::MarkerDestroyed() {
    m_markerGone = true;
    m_marker = nullptr;
}

void TTextBubble::setFromX(int v) {
    if (m_fromX != v)
        m_fromX = v;
}

void TTextBubble::setFromY(int v) {
    if (m_fromY != v)
        m_fromY = v;
}

void TTextBubble::FitToText() { TText::FitToText(); }

QImage TTextBubble::ComposeFullSize() const { return QImage(); }

void TTextBubble::paintEvent(QPaintEvent* event) { TText::paintEvent(event); }
