#include "bricks/TTextBubble.h"

#include "bricks/TBubbleFrom.h"
#include "platform/Rounding.h"
#include "platform/TextEngine.h"

#include <QPainter>

namespace {

Qt::Alignment QtAlignment(Tk::TAlignment a) {
    switch (a) {
    case Tk::taRightJustify:
        return Qt::AlignRight;
    case Tk::taCenter:
        return Qt::AlignHCenter;
    default:
        return Qt::AlignLeft;
    }
}

} // namespace

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

void TTextBubble::FitToText() {
    if (IsLoading() || !AutoSize())
        return;
    const QSizeF measured = MeasureText(Font()->toQFont(), Caption());
    Body = FitBodyToText(Body, RoundHalfEven(measured.width()), RoundHalfEven(measured.height()));
    const QSize full = BubbleFullSize(Style, Body, m_fromX, m_fromY);
    FullWidth = full.width();
    FullHeight = full.height();
    const double zoom = CurrentZoomRatio();
    SetBounds(Left(), Top(), RoundHalfEven(FullWidth / zoom), RoundHalfEven(FullHeight / zoom));
}

void TTextBubble::SetUpFromSize(double zoom) {
    Body = BodyRect{0, 0, RoundHalfEven(Width() * zoom), RoundHalfEven(2 * Height() * zoom) / 3};
}

void TTextBubble::PlaceMarker(double zoom) {
    if (!m_marker)
        return;
    if (zoom <= 0)
        zoom = 1.0;
    if (parentWidget() && m_marker->parentWidget() != parentWidget()) {
        m_marker->setParent(parentWidget());
        m_marker->setVisible(isVisibleTo(parentWidget()));
    }
    m_marker->FullLeft = FullLeft + m_fromX;
    m_marker->FullTop = FullTop + m_fromY;
    m_marker->SetBounds(RoundHalfEven(m_marker->FullLeft / zoom),
                        RoundHalfEven(m_marker->FullTop / zoom), m_marker->Width(),
                        m_marker->Height());
}

QImage TTextBubble::ComposeFullSize() const {
    BubbleDrawing d;
    d.style = Style;
    d.body = Body;
    d.fromX = m_fromX;
    d.fromY = m_fromY;
    d.width = FullWidth;
    d.height = FullHeight;
    d.font = Font()->toQFont();
    d.textColour = TColorToQColor(Font()->Color());
    d.text = Caption();
    d.alignment = QtAlignment(Alignment());
    d.wordWrap = WordWrap();
    d.drawText = isEnabled();
    return ComposeBubble(d);
}

QImage TTextBubble::ComposeForOutput() const {
    return BubbleWithOpacity(ComposeFullSize(), Opacity);
}

void TTextBubble::paintEvent(QPaintEvent*) {
    if (width() <= 0 || height() <= 0)
        return;
    const QImage composed = ComposeForOutput();
    if (composed.isNull())
        return;
    QPainter p(this);
    // Area-averaged reduction keeps the outline and small text legible.
    p.drawImage(rect(), composed.size() == size() ? composed
                                                  : composed.scaled(size(), Qt::IgnoreAspectRatio,
                                                                    Qt::SmoothTransformation));
}
