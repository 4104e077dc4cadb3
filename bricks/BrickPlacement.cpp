#include "bricks/BrickPlacement.h"

#include "bricks/BrickDateSource.h"
#include "bricks/BrickFields.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "bricks/TextBrickPainter.h"
#include "designer/state/TDesigner.h"
#include "patterns/settings/DateTimeFormats.h"
#include "platform/Errors.h"
#include "platform/Rounding.h"
#include "platform/TextEngine.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QSet>
#include <algorithm>
#include <cmath>

AnchorSide HorizontalSide(Tk::TBrickAnchor anchor) {
    switch (anchor) {
    case Tk::baTopLeft:
    case Tk::baLeft:
    case Tk::baBottomLeft:
        return AnchorSide::Start;
    case Tk::baTopRight:
    case Tk::baRight:
    case Tk::baBottomRight:
        return AnchorSide::End;
    default:
        return AnchorSide::Centre;
    }
}

AnchorSide VerticalSide(Tk::TBrickAnchor anchor) {
    switch (anchor) {
    case Tk::baTopLeft:
    case Tk::baTop:
    case Tk::baTopRight:
        return AnchorSide::Start;
    case Tk::baBottomLeft:
    case Tk::baBottom:
    case Tk::baBottomRight:
        return AnchorSide::End;
    default:
        return AnchorSide::Centre;
    }
}

QRectF BrickPlacement::Bounds() const {
    return QRectF(origin, QSizeF(box.width() * sx, box.height() * sy));
}

double BrickPlacement::FontPixels() const {
    return brick.font.pixelSize() * std::min(sx, sy);
}

namespace {

double lineSpacing(QFont font, int pixels) {
    font.setPixelSize(std::max(1, pixels));
    return QFontMetricsF(font).lineSpacing();
}

int fontPixelsOf(const QFont& font) {
    return font.pixelSize() > 0 ? font.pixelSize() : int(std::lround(font.pointSizeF() * 96 / 72));
}

// What a brick's size becomes on a target: a font or picture scaled to the relative size.
void applyRelativeSize(BrickData& b, double wanted) {
    if (b.kind == BrickKind::Picture) {
        if (b.height <= 0 || b.width <= 0)
            return;
        const int height = std::max(1, RoundHalfEven(wanted));
        b.width = std::max(1, RoundHalfEven(double(b.width) * height / b.height));
        b.height = height;
        return;
    }
    const int was = fontPixelsOf(b.font);
    const int now = FontPixelsForLineHeight(b.font, wanted);
    if (was <= 0 || now == was)
        return;
    const double f = double(now) / was;
    b.font.setPixelSize(now);
    b.stale = true;
    const auto scaled = [f](int v) { return RoundHalfEven(v * f); };
    if (b.kind == BrickKind::Bubble) {
        // Body and tail keep their proportion to the text.
        b.fromX = scaled(b.fromX);
        b.fromY = scaled(b.fromY);
        const BubbleBox body = b.body;
        b.body.left = scaled(body.left);
        b.body.top = scaled(body.top);
        b.body.right = b.body.left + scaled(body.width());
        b.body.bottom = b.body.top + scaled(body.height());
    }
    if (!b.autoSize) {
        b.width = scaled(b.width);
        b.height = scaled(b.height);
    }
}

// A text measured anew for its text and font, as the brick widgets measure themselves.
void measure(BrickData& b) {
    if (!b.isText() || !b.autoSize || (!b.stale && b.text == b.measuredText))
        return;
    const QSizeF m = MeasureText(b.font, b.text);
    const int cx = RoundHalfEven(m.width()), cy = RoundHalfEven(m.height());
    if (b.kind == BrickKind::Bubble) {
        b.body = FitBodyToText(b.body, cx, cy);
        const QSize full = BubbleFullSize(b.style, b.body, b.fromX, b.fromY);
        b.width = full.width();
        b.height = full.height();
    } else {
        b.width = cx;
        b.height = cy;
    }
    b.measuredText = b.text;
    b.stale = false;
}

QSize ownBox(const BrickData& b) {
    if (b.kind == BrickKind::Bubble || b.kind == BrickKind::Picture)
        return QSize(b.width, b.height);
    return TextBoxSize(b.width, b.height, b.angle);
}

double shorterSide(const QSize& size) {
    return std::min(size.width(), size.height());
}

double hundredths(double v) {
    return std::round(v * 100.0) / 100.0;
}

// Where a box of extent starts on an axis of length for an anchor side and margin.
double startOn(AnchorSide side, double length, double extent, double margin) {
    switch (side) {
    case AnchorSide::Start:
        return margin;
    case AnchorSide::End:
        return length - extent - margin;
    case AnchorSide::Centre:
        break;
    }
    return (length - extent) / 2 + margin;
}

// The margin that puts a box of extent starting at start on an axis of length.
double marginOn(AnchorSide side, double length, double extent, double start) {
    switch (side) {
    case AnchorSide::Start:
        return start;
    case AnchorSide::End:
        return length - extent - start;
    case AnchorSide::Centre:
        break;
    }
    return start - (length - extent) / 2;
}

QRectF scaledRect(const QRect& r, double sx, double sy) {
    return QRectF(r.x() * sx, r.y() * sy, r.width() * sx, r.height() * sy);
}

// The part of a bubble's own pixels that lies over the target: a tail point far outside costs no
// more than the target.
QRect bubbleClip(const BrickPlacement& p, const QSize& whole) {
    const int left = RoundHalfEven(p.origin.x() / p.sx), top = RoundHalfEven(p.origin.y() / p.sy);
    return QRect(0, 0, int(std::ceil(whole.width() / p.sx)), int(std::ceil(whole.height() / p.sy)))
        .translated(-left, -top);
}

} // namespace

int FontPixelsForLineHeight(const QFont& font, double lineHeight) {
    const double perPixel = lineSpacing(font, 1000) / 1000.0;
    if (!(perPixel > 0) || !(lineHeight > 0))
        return std::max(1, fontPixelsOf(font));
    const int estimate = std::max(1, int(std::lround(lineHeight / perPixel)));
    int best = estimate;
    double bestMiss = std::fabs(lineSpacing(font, estimate) - lineHeight);
    for (const int p : {estimate - 1, estimate + 1}) {
        if (p < 1)
            continue;
        const double miss = std::fabs(lineSpacing(font, p) - lineHeight);
        if (miss < bestMiss) {
            best = p;
            bestMiss = miss;
        }
    }
    return best;
}

BrickPlacement PlaceBrick(const BrickData& brick, const PlacementTarget& target) {
    BrickPlacement out;
    out.brick = brick;
    BrickData& b = out.brick;
    const double shortSide = shorterSide(target.size);
    const bool anchored = b.layout.anchored() && shortSide > 0;
    const bool relative = b.layout.relative() && shortSide > 0;
    out.sx = target.sx;
    out.sy = target.sy;
    if (relative) {
        applyRelativeSize(b, b.layout.relativeSize * shortSide / 1000.0);
        out.sx = out.sy = 1.0; // sized in the target's own pixels
    } else if (anchored) {
        out.sx = out.sy = std::min(target.sx, target.sy);
    }
    measure(b);
    out.box = ownBox(b);
    if (!anchored) {
        out.origin = QPointF(b.left * target.sx, b.top * target.sy);
    } else {
        const double w = out.box.width() * out.sx, h = out.box.height() * out.sy;
        const double x = startOn(HorizontalSide(b.layout.anchor), target.size.width(), w,
                                 b.layout.marginX * shortSide / 1000.0);
        const double y = startOn(VerticalSide(b.layout.anchor), target.size.height(), h,
                                 b.layout.marginY * shortSide / 1000.0);
        out.origin = QPointF(RoundHalfEven(x), RoundHalfEven(y));
        if (target.sx == 1.0 && target.sy == 1.0) {
            b.left = int(out.origin.x());
            b.top = int(out.origin.y());
        }
    }
    return out;
}

BrickLayout DeriveLayout(const BrickData& brick, const PlacementTarget& target, bool margins,
                         bool size) {
    BrickLayout layout = brick.layout;
    const double shortSide = shorterSide(target.size);
    if (shortSide <= 0)
        return layout;
    if (margins && layout.anchored()) {
        const QSize box = ownBox(brick);
        const double s = std::min(target.sx, target.sy);
        layout.marginX = hundredths(marginOn(HorizontalSide(layout.anchor), target.size.width(),
                                             box.width() * s, brick.left * target.sx) *
                                    1000.0 / shortSide);
        layout.marginY = hundredths(marginOn(VerticalSide(layout.anchor), target.size.height(),
                                             box.height() * s, brick.top * target.sy) *
                                    1000.0 / shortSide);
    }
    if (size && layout.relative()) {
        const double extent = brick.kind == BrickKind::Picture
                                  ? double(brick.height)
                                  : QFontMetricsF(brick.font).lineSpacing();
        if (extent > 0)
            layout.relativeSize = hundredths(extent * 1000.0 / shortSide);
    }
    return layout;
}

void SetBrickDate(BrickData& brick, double value) {
    if (brick.kind == BrickKind::Date) {
        brick.dateValue = std::trunc(value);
        brick.text = FormatDateTimeText(brick.format, brick.dateValue);
    } else if (brick.kind == BrickKind::Time) {
        brick.dateValue = value;
        brick.text = FormatDateTimeText(TimeBrickFormat(brick.format), value);
    }
}

BubbleDrawing BubbleDrawingOf(const BrickData& b, const QRect& clip) {
    BubbleDrawing d;
    d.style = b.style;
    d.body = b.body;
    d.fromX = b.fromX;
    d.fromY = b.fromY;
    d.width = b.width;
    d.height = b.height;
    d.font = b.font;
    d.textColour = TColorToQColor(b.fontColor);
    d.text = b.text;
    d.alignment = b.alignment;
    d.wordWrap = b.wordWrap;
    d.drawText = b.enabled;
    d.clip = clip;
    return d;
}

QRectF PlacedFootprint(const BrickPlacement& p, const QSize& whole) {
    QRectF r = p.Bounds();
    if (p.brick.kind == BrickKind::Bubble) {
        const QRect part = BubbleCanvasRect(BubbleDrawingOf(p.brick, bubbleClip(p, whole)));
        r = scaledRect(part, p.sx, p.sy).translated(p.origin);
    }
    return r;
}

void DrawPlacedBrick(QImage& image, const BrickPlacement& p, const QPoint& bandOrigin,
                     const QSize& whole) {
    const BrickData& b = p.brick;
    const QRectF imageRect(image.rect());
    switch (b.kind) {
    case BrickKind::Bubble: {
        const QRect clip = bubbleClip(p, whole);
        const BubbleDrawing drawing = BubbleDrawingOf(b, clip);
        const QRect part = BubbleCanvasRect(drawing);
        if (part.isEmpty())
            return;
        const QRectF target = scaledRect(part, p.sx, p.sy).translated(p.origin - bandOrigin);
        if (!target.intersects(imageRect))
            return; // not in this band
        const QImage composed = BubbleWithOpacity(ComposeBubble(drawing), b.opacity);
        if (composed.isNull())
            throw Exception(
                QStringLiteral("Cannot draw the bubble %1: no memory for a bitmap of %2 x %3.")
                    .arg(b.name)
                    .arg(part.width())
                    .arg(part.height()));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, composed);
        return;
    }
    case BrickKind::Picture: {
        const QRectF target = p.Bounds().translated(-QPointF(bandOrigin));
        if (b.picture.isNull() || target.isEmpty() || !target.intersects(imageRect))
            return;
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, b.picture);
        return;
    }
    default: {
        // The photo behind the text is the image itself, so the text is drawn straight onto it,
        // clipped to the brick's box exactly as the screen composes it.
        if (p.box.isEmpty() || b.text.isEmpty() || b.opacity <= 0)
            return;
        const QRectF clip = p.Bounds().translated(-QPointF(bandOrigin));
        if (!clip.intersects(imageRect))
            return;
        const QTransform toImage =
            TextBoxTransform(b.angle, b.height, p.box.width(), p.box.height()) *
            QTransform::fromScale(p.sx, p.sy) *
            QTransform::fromTranslate(p.origin.x() - bandOrigin.x(), p.origin.y() - bandOrigin.y());
        DrawText(image, b.font, b.text, ColorBytesToQColor(b.fontColor, std::min(b.opacity, 255)),
                 toImage, clip, b.alignment, b.width);
        return;
    }
    }
}

// --- The widgets ---------------------------------------------------------------------------------

bool IsPlaceableBrick(const QWidget* widget) {
    return qobject_cast<const TText*>(widget) || qobject_cast<const TPictureimg*>(widget);
}

BrickData BrickDataOf(const QWidget* widget) {
    BrickData b;
    if (!widget)
        return b;
    b.name = widget->objectName();
    if (const auto* text = qobject_cast<const TText*>(widget)) {
        b.kind = BrickKind::Text;
        b.left = text->FullLeft;
        b.top = text->FullTop;
        b.width = text->FullWidth;
        b.height = text->FullHeight;
        b.layout = text->Layout;
        b.caption = text->Caption();
        b.text = b.measuredText = ShownCaption(*text);
        b.font = text->Font()->toQFont();
        b.fontColor = text->Font()->Color();
        b.angle = text->Angle;
        b.opacity = text->Opacity;
        b.autoSize = text->AutoSize();
        b.alignment = TextAlignment(text->Alignment());
        b.wordWrap = text->WordWrap();
        b.enabled = text->isEnabled();
        if (const auto* date = qobject_cast<const TTextDate*>(widget)) {
            b.kind = BrickKind::Date;
            b.dateValue = date->DateValue;
            b.format = date->Format;
        } else if (const auto* time = qobject_cast<const TTextTime*>(widget)) {
            b.kind = BrickKind::Time;
            b.dateValue = time->DateValue;
            b.format = time->Format;
        } else if (const auto* bubble = qobject_cast<const TTextBubble*>(widget)) {
            b.kind = BrickKind::Bubble;
            b.angle = 0;
            b.style = bubble->Style;
            b.body = bubble->Body;
            b.fromX = bubble->FromX();
            b.fromY = bubble->FromY();
        }
    } else if (const auto* picture = qobject_cast<const TPictureimg*>(widget)) {
        b.kind = BrickKind::Picture;
        b.left = picture->FullLeft;
        b.top = picture->FullTop;
        b.width = picture->FullWidth;
        b.height = picture->FullHeight;
        b.layout = picture->Layout;
        if (!picture->Picture()->isEmpty())
            b.picture = picture->Picture()->drawnImage(picture->Transparent());
    }
    return b;
}

QList<BrickData> BrickDataOf(const QList<QWidget*>& bricks) {
    QList<BrickData> out;
    for (const QWidget* w : bricks)
        if (IsPlaceableBrick(w))
            out.append(BrickDataOf(w));
    return out;
}

const BrickLayout* LayoutOf(const QWidget* brick) {
    if (const auto* text = qobject_cast<const TText*>(brick))
        return &text->Layout;
    if (const auto* picture = qobject_cast<const TPictureimg*>(brick))
        return &picture->Layout;
    return nullptr;
}

BrickLayout* LayoutOf(QWidget* brick) {
    return const_cast<BrickLayout*>(LayoutOf(static_cast<const QWidget*>(brick)));
}

PlacementTarget SurfaceTargetOf(const QWidget* brick) {
    const TDesigner* d = DesignerOf(brick);
    if (!d || !d->PhotoSize().isValid())
        return {};
    return {d->PhotoSize(), 1.0, 1.0};
}

bool PlacesItselfOnPhoto(const QWidget* brick) {
    const BrickLayout* layout = LayoutOf(brick);
    return layout && layout->placesItself() && SurfaceTargetOf(brick).size.isValid();
}

namespace {

// The bricks being placed now: setting a font makes a text brick fit itself, which must not
// place it again meanwhile.
QSet<const QWidget*>& placing() {
    static QSet<const QWidget*> set;
    return set;
}

int previewOf(int full, double zoom) {
    return RoundHalfEven(full / zoom);
}

void showPlacement(QWidget* widget, const BrickPlacement& p) {
    const BrickData& b = p.brick;
    const double zoom = ZoomRatioOf(widget);
    const int left = RoundHalfEven(p.origin.x()), top = RoundHalfEven(p.origin.y());
    if (auto* text = qobject_cast<TText*>(widget)) {
        const int pixels = fontPixelsOf(b.font);
        if (pixels != fontPixelsOf(text->Font()->toQFont()))
            text->Font()->setHeight(-pixels);
        text->PlacedFontPixels = pixels;
        text->FullLeft = left;
        text->FullTop = top;
        text->FullWidth = b.width;
        text->FullHeight = b.height;
        if (auto* bubble = qobject_cast<TTextBubble*>(widget)) {
            bubble->setFromX(b.fromX);
            bubble->setFromY(b.fromY);
            bubble->Body = b.body;
            bubble->SetBounds(previewOf(left, zoom), previewOf(top, zoom), previewOf(b.width, zoom),
                              previewOf(b.height, zoom));
            bubble->PlaceMarker(zoom);
        } else {
            const QSize box =
                TextBoxSize(previewOf(b.width, zoom), previewOf(b.height, zoom), text->Angle);
            text->SetBounds(previewOf(left, zoom), previewOf(top, zoom), box.width(), box.height());
        }
    } else if (auto* picture = qobject_cast<TPictureimg*>(widget)) {
        picture->FullLeft = left;
        picture->FullTop = top;
        picture->FullWidth = b.width;
        picture->FullHeight = b.height;
        picture->SetBounds(previewOf(left, zoom), previewOf(top, zoom), previewOf(b.width, zoom),
                           previewOf(b.height, zoom));
    }
    widget->update();
}

} // namespace

void PlaceOnItsPhoto(QWidget* brick, bool remeasure) {
    const PlacementTarget target = SurfaceTargetOf(brick);
    BrickLayout* layout = LayoutOf(brick);
    if (!target.size.isValid() || !layout || placing().contains(brick))
        return;
    placing().insert(brick);
    BrickData b = BrickDataOf(brick);
    b.stale = remeasure;
    if (auto* text = qobject_cast<TText*>(brick); text && layout->relative() &&
                                                  text->PlacedFontPixels > 0 &&
                                                  fontPixelsOf(b.font) != text->PlacedFontPixels) {
        // The user chose another font size: the relative size follows it.
        *layout = b.layout = DeriveLayout(b, target, false, true);
    }
    showPlacement(brick, PlaceBrick(b, target));
    placing().remove(brick);
}
