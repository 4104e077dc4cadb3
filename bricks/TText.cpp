#include "bricks/TText.h"

#include "bricks/BrickPlacement.h"
#include "bricks/BrickFields.h"
#include "bricks/TextBrickPainter.h"
#include "designer/state/TDesigner.h"
#include "patterns/settings/TSettings.h"
#include "platform/Rounding.h"
#include "platform/TextEngine.h"

#include <QPainter>
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

void TText::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!Transparent())
        p.fillRect(rect(), TColorToQColor(Color()));
    const double zoom = ZoomRatioOf(this);
    // The full-size corner the render uses, unless the brick was moved since it was set (a
    // drag in progress): at a zoom ratio above 1, Left x zoom can miss it by a few pixels.
    const auto fullOf = [zoom](int preview, int full) {
        return RoundHalfEven(full / zoom) == preview ? full : RoundHalfEven(preview * zoom);
    };
    const QRect box = FullBox(fullOf(Left(), FullLeft), fullOf(Top(), FullTop));
    const TDesigner* d = DesignerOf(this);
    TextBoxParams params;
    params.font = Font();
    params.text = ShownCaption(*this);
    params.angle = Angle;
    params.opacity = Opacity;
    params.fullHeight = FullHeight;
    params.fullWidth = FullWidth;
    params.alignment = TextAlignment(Alignment());
    params.drawText = isEnabled();
    const QImage composed =
        ComposeTextBox(d ? d->realPicture : QImage(), box, params, TColorToQColor(Color()).rgba());
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
