#include "bricks/TText.h"

#include "bricks/BrickPlacement.h"
#include "bricks/BrickFields.h"
#include "bricks/TextBrickPainter.h"
#include "designer/state/TDesigner.h"
#include "patterns/settings/TSettings.h"
#include "platform/Rounding.h"
#include "platform/TextEngine.h"

#include <QEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

double ZoomRatioOf(const QWidget* brick) {
    const TDesigner* d = DesignerOf(brick);
    return d && d->ZoomRatio > 0 ? d->ZoomRatio : 1.0;
}

TText::TText(QWidget* parent) : TCustomLabel(parent) {
    setAutoSize(true);
    setTransparent(true);
    FullWidth = Width();
    FullHeight = Height();
    Font()->Assign(DefaultFont());
    Angle = 0;
    Opacity = 255;
}

void TText::setAngle(int tenths) {
    if (Angle == tenths)
        return;
    Angle = tenths;
    if (IsLoading())
        return;
    FitToText();
    update();
}

void TText::setOpacity(int alpha) {
    if (Opacity == alpha)
        return;
    Opacity = alpha;
    update();
}

void TText::setReadable(const Readability& r) {
    if (r == Readable)
        return;
    const bool spilled = Readable.spills();
    Readable = r;
    update();
    if ((spilled || r.spills()) && parentWidget())
        parentWidget()->update();
}

namespace {

// The brick's readability with one value changed.
template <class T>
Readability With(Readability r, T Readability::*field, T value) {
    r.*field = value;
    return r;
}

} // namespace

void TText::setOutline(TColor v) {
    setReadable(With(Readable, &Readability::outline, v));
}

void TText::setOutlineWidth(int v) {
    setReadable(With(Readable, &Readability::outlineWidth, std::clamp(v, 0, 100)));
}

void TText::setShadow(TColor v) {
    setReadable(With(Readable, &Readability::shadow, v));
}

void TText::setShadowOffset(int v) {
    setReadable(With(Readable, &Readability::shadowOffset, std::clamp(v, 0, 100)));
}

void TText::setBackdrop(TColor v) {
    setReadable(With(Readable, &Readability::backdrop, v));
}

void TText::setBackdropOpacity(int v) {
    setReadable(With(Readable, &Readability::backdropOpacity, std::clamp(v, 0, 255)));
}

void TText::setBackdropPadding(int v) {
    setReadable(With(Readable, &Readability::backdropPadding, std::clamp(v, 0, 200)));
}

void TText::setAutoContrast(bool v) {
    setReadable(With(Readable, &Readability::autoContrast, v));
}

bool TText::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        if (Readable.spills() && parentWidget())
            parentWidget()->update();
        break;
    default:
        break;
    }
    return TCustomLabel::event(event);
}

void TText::Loaded() {
    // The font as stored is the brick's own, not a user's change of it.
    PlacedFontPixels = Font()->toQFont().pixelSize();
    TCustomLabel::Loaded();
}

void TText::FitToText() {
    if (IsLoading() || !AutoSize())
        return;
    if (PlacesItselfOnPhoto(this)) {
        // Anchored or of a relative size: where it goes follows from its new size.
        PlaceOnItsPhoto(this, true);
        return;
    }
    const QSizeF measured = MeasureText(Font()->toQFont(), ShownCaption(*this));
    FullWidth = RoundHalfEven(measured.width());
    FullHeight = RoundHalfEven(measured.height());
    const double zoom = ZoomRatioOf(this);
    const int pw = RoundHalfEven(FullWidth / zoom);
    const int ph = RoundHalfEven(FullHeight / zoom);
    const QSize box = TextBoxSize(pw, ph, Angle);
    SetBounds(Left(), Top(), box.width(), box.height());
}

QRect TText::FullBox(int left, int top) const {
    return QRect(QPoint(left, top), TextBoxSize(FullWidth, FullHeight, Angle));
}

QRect TText::ScreenFullBox() const {
    const QPoint corner = ScreenFullCorner(this, FullLeft, FullTop);
    return FullBox(corner.x(), corner.y());
}

void TText::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect box = ScreenFullBox();
    const TDesigner* d = DesignerOf(this);
    // The box shows what the output draws there: the photo, the bricks beneath, then this one.
    QList<BrickPlacement> layers = ScreenPlacementsBeneath(this, box);
    layers.append(ScreenPlacementOf(this));
    const QImage composed = ComposeOnCanvas(layers, d, box, TColorToQColor(Color()).rgba());
    if (composed.isNull() || width() <= 0 || height() <= 0)
        return;
    DrawComposed(p, rect(), composed);
}

void DrawComposed(QPainter& painter, const QRect& target, const QImage& composed) {
    if (composed.size() == target.size()) {
        painter.drawImage(target.topLeft(), composed);
    } else if (composed.width() >= target.width() && composed.height() >= target.height()) {
        // Area-averaged reduction keeps small preview text legible.
        painter.drawImage(target.topLeft(), composed.scaled(target.size(), Qt::IgnoreAspectRatio,
                                                            Qt::SmoothTransformation));
    } else {
        // Enlarged at paint time, only where the widget shows: a zoomed-in brick holds no
        // picture of its preview size.
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(target), composed);
        painter.restore();
    }
}
