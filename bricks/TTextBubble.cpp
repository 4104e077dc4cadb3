#include "bricks/TTextBubble.h"

#include "bricks/BrickPlacement.h"
#include "bricks/BrickFields.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TextBrickPainter.h"
#include "designer/state/TDesigner.h"
#include "platform/Errors.h"
#include "platform/Rounding.h"
#include "platform/TextEngine.h"

#include <QPainter>
#include <algorithm>
#include <limits>

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

void TTextBubble::setBubbleStyle(int style) {
    if (style < Bubble::SayEllipse || style > Bubble::ThinkCloud)
        throw Exception(QStringLiteral("%1 is not a bubble style (0..4)").arg(style));
    if (IsLoading())
        m_shapeStored = m_styleStored = true;
    if (Style == style)
        return;
    Style = quint8(style);
    if (IsLoading())
        return;
    FitToText();
    update();
}

void TTextBubble::setBodyLeft(int v) {
    if (IsLoading())
        m_shapeStored = true;
    Body.right += v - Body.left;
    Body.left = v;
}

void TTextBubble::setBodyTop(int v) {
    if (IsLoading())
        m_shapeStored = true;
    Body.bottom += v - Body.top;
    Body.top = v;
}

void TTextBubble::FitToText() {
    if (IsLoading() || !AutoSize())
        return;
    if (!m_settingUp && PlacesItselfOnPhoto(this)) {
        PlaceOnItsPhoto(this, true);
        return;
    }
    const QSizeF measured = MeasureText(Font()->toQFont(), ShownCaption(*this));
    Body = FitBodyToText(Body, RoundHalfEven(measured.width()), RoundHalfEven(measured.height()));
    const QSize full = BubbleFullSize(Style, Body, m_fromX, m_fromY);
    FullWidth = full.width();
    FullHeight = full.height();
    const double zoom = ZoomRatioOf(this);
    SetBounds(Left(), Top(), RoundHalfEven(FullWidth / zoom), RoundHalfEven(FullHeight / zoom));
}

void TTextBubble::SetUpFromSize(double zoom) {
    Body = BodyRect{0, 0, RoundHalfEven(Width() * zoom), RoundHalfEven(2 * Height() * zoom) / 3};
}

void TTextBubble::Loaded() {
    m_loadedSize = size();
    TText::Loaded();
}

void TTextBubble::SetUpLoaded(double zoom) {
    // Fitting the text when the stream ended changed the size: the stored one was kept.
    if (m_loadedSize.isValid())
        SetBounds(Left(), Top(), m_loadedSize.width(), m_loadedSize.height());
    m_loadedSize = QSize();
    // The shape is told from the size the stream stored, measured as stored: the photo's
    // placement comes after.
    m_settingUp = true;
    const struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{m_settingUp};
    // The stream's corner of the body, before SetUpFromSize puts it at the origin.
    const int bodyLeft = Body.left, bodyTop = Body.top;
    SetUpFromSize(zoom);
    if (m_shapeStored) {
        // Style and body corner were stored: nothing to guess (a style not stored is the
        // published default, a new bubble's).
        if (!m_styleStored)
            Style = Bubble::SayRectangle;
        Body = BodyRect{bodyLeft, bodyTop, bodyLeft + Body.width(), bodyTop + Body.height()};
        if (AutoSize() && !IsLoading()) {
            Body.right = Body.left;
            Body.bottom = Body.top;
            FitToText();
        }
        return;
    }
    if (IsLoading() || !AutoSize())
        return;
    const QSize stored = size();
    const int fullWidth = RoundHalfEven(stored.width() * zoom);
    const int fullHeight = RoundHalfEven(stored.height() * zoom);
    // The stored size is a preview size at the pattern's zoom ratio, which need not be the
    // surface's.
    const auto givesStored = [&] {
        return QSize(RoundHalfEven(FullWidth / zoom), RoundHalfEven(FullHeight / zoom)) == stored;
    };
    const QSizeF measured = MeasureText(Font()->toQFont(), ShownCaption(*this));
    const BodyRect fitted = FitBodyToText(BodyRect{}, RoundHalfEven(measured.width()),
                                          RoundHalfEven(measured.height()));
    // A new bubble's style first: a bubble keeps it unless the user chose another.
    const quint8 unknown = Style;
    for (const quint8 style : {Bubble::SayRectangle, Bubble::SayEllipse, Bubble::SayCloud,
                               Bubble::ThinkEllipse, Bubble::ThinkCloud}) {
        // A tail point left of (above) the body puts the brick's edge there, so the body sits
        // the rest of the stored width (height) in.
        const QSize extent = BubbleFullSize(style, fitted, 0, 0);
        const int dx = m_fromX <= 0 ? std::max(0, fullWidth - extent.width()) : 0;
        const int dy = m_fromY <= 0 ? std::max(0, fullHeight - extent.height()) : 0;
        Style = style;
        Body = BodyRect{dx, dy, dx, dy};
        FitToText();
        if (givesStored())
            return;
    }
    // No style gives the stored size back (a pattern written by hand): the bubble's own.
    Style = unknown;
    Body = BodyRect{};
    FitToText();
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
    // A tail point near the integer limits must not wrap the marker round to the other side.
    const auto sum = [](int a, int b) {
        return int(std::clamp<qint64>(qint64(a) + b, std::numeric_limits<int>::min(),
                                      std::numeric_limits<int>::max()));
    };
    m_marker->FullLeft = sum(FullLeft, m_fromX);
    m_marker->FullTop = sum(FullTop, m_fromY);
    m_marker->SetBounds(RoundHalfEven(m_marker->FullLeft / zoom),
                        RoundHalfEven(m_marker->FullTop / zoom), m_marker->Width(),
                        m_marker->Height());
}

BubbleDrawing TTextBubble::Drawing(const QRect& area) const {
    BubbleDrawing d;
    d.style = Style;
    d.body = Body;
    d.fromX = m_fromX;
    d.fromY = m_fromY;
    d.width = FullWidth;
    d.height = FullHeight;
    d.font = Font()->toQFont();
    d.textColour = TColorToQColor(Font()->Color());
    d.text = ShownCaption(*this);
    d.alignment = TextAlignment(Alignment());
    d.wordWrap = WordWrap();
    d.drawText = isEnabled();
    if (!area.isNull())
        d.clip = area.translated(-FullLeft, -FullTop);
    return d;
}

QImage TTextBubble::ComposeFullSize() const {
    return ComposeBubble(Drawing(QRect()));
}

QImage TTextBubble::ComposeForOutput() const {
    return BubbleWithOpacity(ComposeFullSize(), Opacity);
}

QRect TTextBubble::ComposedRect(const QRect& area) const {
    return BubbleCanvasRect(Drawing(area)).translated(FullLeft, FullTop);
}

QImage TTextBubble::ComposeOver(const QRect& area) const {
    return BubbleWithOpacity(ComposeBubble(Drawing(area)), Opacity);
}

void TTextBubble::paintEvent(QPaintEvent*) {
    if (width() <= 0 || height() <= 0 || FullWidth <= 0 || FullHeight <= 0)
        return;
    // Only the part over the photo can show: the picture panel ends with it.
    const TDesigner* designer = DesignerOf(this);
    const QRect area = designer && !designer->realPicture.isNull()
                           ? QRect(QPoint(), designer->CanvasSize())
                           : QRect(FullLeft, FullTop, FullWidth, FullHeight);
    const QRect part = ComposedRect(area).translated(-FullLeft, -FullTop);
    if (part.isEmpty())
        return;
    const QImage composed = ComposeOver(area);
    if (composed.isNull())
        return;
    // A control cannot be as wide as a tail point far away makes the box: it then keeps the
    // zoom ratio's scale.
    const double zoom = ZoomRatioOf(this);
    const double sx = width() >= QWIDGETSIZE_MAX ? 1.0 / zoom : double(width()) / FullWidth;
    const double sy = height() >= QWIDGETSIZE_MAX ? 1.0 / zoom : double(height()) / FullHeight;
    const QRect target(QPoint(RoundHalfEven(part.left() * sx), RoundHalfEven(part.top() * sy)),
                       QPoint(RoundHalfEven((part.left() + part.width()) * sx) - 1,
                              RoundHalfEven((part.top() + part.height()) * sy) - 1));
    if (target.isEmpty())
        return;
    QPainter p(this);
    DrawComposed(p, target, composed);
}
