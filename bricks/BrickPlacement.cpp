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
#include <QPen>
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

// The photo's part of a target: all of it but the band.
QRectF photoOf(const PlacementTarget& t) {
    QRectF photo(QPointF(0, 0), QSizeF(t.size));
    if (t.band.isEmpty())
        return photo;
    const double bh = t.band.height();
    if (t.band.top() <= 0)
        return photo.adjusted(0, bh, 0, 0);
    return photo.adjusted(0, 0, 0, -bh);
}

double shorterSide(const PlacementTarget& t) {
    const QRectF photo = photoOf(t);
    return std::max(0.0, std::min(photo.width(), photo.height()));
}

// Where a brick with an anchor is placed: in the band when anchored to its edge, else on the
// photo.
QRectF regionFor(const PlacementTarget& t, Tk::TBrickAnchor anchor) {
    if (!t.band.isEmpty()) {
        const AnchorSide side = VerticalSide(anchor);
        const bool bandOnTop = t.band.top() <= 0;
        if ((bandOnTop && side == AnchorSide::Start) || (!bandOnTop && side == AnchorSide::End))
            return QRectF(t.band);
    }
    return photoOf(t);
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

// --- Readability -------------------------------------------------------------------------------

// The drawing of a text brick in its own pixels: the unturned text sits at (0, 0) .. (width,
// height); toImage maps that onto the image.
QTransform ownToImage(const BrickPlacement& p, const QPoint& bandOrigin) {
    const BrickData& b = p.brick;
    return TextBoxTransform(b.angle, b.height, p.box.width(), p.box.height()) *
           QTransform::fromScale(p.sx, p.sy) *
           QTransform::fromTranslate(p.origin.x() - bandOrigin.x(), p.origin.y() - bandOrigin.y());
}

double lineHeightOf(const BrickData& b) {
    return QFontMetricsF(b.font).lineSpacing();
}

struct Spill {
    double outline = 0; // stroke reach beyond the glyphs
    double shadow = 0;  // offset below-right
    double blur = 0;    // the shadow's softening radius, in the brick's own pixels
    double padding = 0; // the plate beyond the box
    double radius = 0;  // the plate's corners
};

Spill spillOf(const BrickData& b) {
    Spill s;
    const Readability& r = b.readability;
    const double line = lineHeightOf(b);
    if (r.hasOutline())
        s.outline = line * r.outlineWidth / 100.0;
    if (r.hasShadow()) {
        s.shadow = line * r.shadowOffset / 100.0;
        s.blur = std::max(line * 0.03, s.shadow * 0.4);
    }
    if (r.hasBackdrop()) {
        s.padding = line * r.backdropPadding / 100.0;
        s.radius = std::min(std::max(s.padding, line * 0.15), (b.height + 2 * s.padding) / 2);
    }
    return s;
}

// The brick's own rectangle that its drawing may reach, unturned.
QRectF ownReach(const BrickData& b, const Spill& s) {
    const double around = std::max(s.outline, s.padding) + 1;
    QRectF r = QRectF(0, 0, b.width, b.height).adjusted(-around, -around, around, around);
    if (s.shadow > 0 || s.blur > 0) {
        const double beyond = s.outline + 3 * s.blur + 1;
        r |= QRectF(0, 0, b.width, b.height)
                 .adjusted(-beyond, -beyond, beyond, beyond)
                 .translated(s.shadow, s.shadow);
    }
    return r;
}

// Three box blurs of an alpha-premultiplied image, close to a Gaussian of the radius.
void softenInPlace(QImage& image, int radius) {
    if (radius < 1 || image.isNull())
        return;
    const int w = image.width(), h = image.height();
    std::vector<quint32> line(size_t(std::max(w, h)));
    const auto pass = [&](auto at, int n, int count) {
        for (int k = 0; k < count; ++k) {
            for (int i = 0; i < n; ++i)
                line[size_t(i)] = *at(k, i);
            int sum[4] = {0, 0, 0, 0};
            const auto add = [&](quint32 v, int sign) {
                for (int c = 0; c < 4; ++c)
                    sum[c] += sign * int((v >> (8 * c)) & 0xff);
            };
            const int span = 2 * radius + 1;
            for (int i = -radius; i <= radius; ++i)
                if (i >= 0 && i < n)
                    add(line[size_t(i)], 1);
            for (int i = 0; i < n; ++i) {
                quint32 out = 0;
                for (int c = 0; c < 4; ++c)
                    out |= quint32(std::clamp(sum[c] / span, 0, 255)) << (8 * c);
                *at(k, i) = out;
                if (const int leave = i - radius; leave >= 0)
                    add(line[size_t(leave)], -1);
                if (const int enter = i + radius + 1; enter < n)
                    add(line[size_t(enter)], 1);
            }
        }
    };
    for (int round = 0; round < 3; ++round) {
        pass([&](int y, int x) { return reinterpret_cast<quint32*>(image.scanLine(y)) + x; }, w, h);
        pass([&](int x, int y) { return reinterpret_cast<quint32*>(image.scanLine(y)) + x; }, h, w);
    }
}

QColor withAlpha(const QColor& c, int alpha) {
    QColor out = c;
    out.setAlpha(std::clamp(alpha, 0, 255));
    return out;
}

void drawTextBrick(QImage& image, const BrickPlacement& p, const QPoint& bandOrigin) {
    const BrickData& b = p.brick;
    if (p.box.isEmpty())
        return;
    const QRectF imageRect(image.rect());
    const QRectF box = p.Bounds().translated(-QPointF(bandOrigin));
    const QRectF reach =
        PlacedFootprint(p, QSize()).translated(-QPointF(bandOrigin)).adjusted(-1, -1, 1, 1);
    if (!reach.intersects(imageRect))
        return; // not in this band
    if (!b.transparent) {
        QPainter painter(&image);
        painter.fillRect(box, TColorToQColor(b.color));
    }
    const int alpha = std::clamp(b.opacity, 0, 255);
    if (b.text.isEmpty() || alpha <= 0)
        return;
    const Readability& r = b.readability;
    QColor fill = ColorBytesToQColor(b.fontColor, alpha);
    QColor outline = r.hasOutline() ? ColorBytesToQColor(r.outline, alpha) : QColor();
    QColor shadow = r.hasShadow() ? ColorBytesToQColor(r.shadow, alpha) : QColor();
    if (r.autoContrast) {
        BrickPlacement::Contrast c = p.contrast;
        if (c == BrickPlacement::Contrast::Unchosen)
            c = ChooseContrast(p, image, QPointF(bandOrigin));
        const bool dark = c != BrickPlacement::Contrast::Light;
        fill = withAlpha(dark ? Qt::black : Qt::white, alpha);
        const QColor other = withAlpha(dark ? Qt::white : Qt::black, alpha);
        if (outline.isValid())
            outline = other;
        if (shadow.isValid())
            shadow = other;
    }
    const QTransform toImage = ownToImage(p, bandOrigin);
    if (!r.spills()) {
        // Clipped to the box exactly as the screen composes it.
        DrawText(image, b.font, b.text, fill, toImage, box, b.alignment, b.width);
        return;
    }
    const Spill s = spillOf(b);
    if (r.hasBackdrop()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setTransform(toImage);
        painter.setPen(Qt::NoPen);
        painter.setBrush(withAlpha(ColorBytesToQColor(r.backdrop), r.backdropOpacity * alpha / 255));
        painter.drawRoundedRect(
            QRectF(0, 0, b.width, b.height).adjusted(-s.padding, -s.padding, s.padding, s.padding),
            s.radius, s.radius);
    }
    const QPainterPath glyphs = TextPath(b.font, b.text, b.alignment, b.width);
    const auto strokeAndFill = [&](QPainter& painter, const QColor& strokeColour,
                                   const QColor& fillColour) {
        painter.setRenderHint(QPainter::Antialiasing);
        if (strokeColour.isValid() && s.outline > 0) {
            QPen pen(strokeColour, 2 * s.outline);
            pen.setJoinStyle(Qt::RoundJoin);
            pen.setCapStyle(Qt::RoundCap);
            painter.strokePath(glyphs, pen);
        }
        if (fillColour.isValid())
            painter.fillPath(glyphs, fillColour);
    };
    if (shadow.isValid()) {
        // The letters (with their outline) again, below-right in the text's own frame, softened
        // on a layer of their own.
        const double scale = std::sqrt(std::fabs(toImage.determinant()));
        const int blur = std::max(1, int(std::lround(s.blur * scale)));
        const QRectF own = glyphs.boundingRect()
                               .adjusted(-s.outline, -s.outline, s.outline, s.outline)
                               .translated(s.shadow, s.shadow);
        const QRect area = toImage.mapRect(own)
                               .toAlignedRect()
                               .adjusted(-3 * blur, -3 * blur, 3 * blur, 3 * blur)
                               .intersected(image.rect().adjusted(-3 * blur, -3 * blur, 3 * blur,
                                                                  3 * blur));
        if (!area.isEmpty()) {
            QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
            if (!layer.isNull()) {
                layer.fill(Qt::transparent);
                {
                    QPainter painter(&layer);
                    painter.setTransform(QTransform::fromTranslate(s.shadow, s.shadow) * toImage *
                                         QTransform::fromTranslate(-area.left(), -area.top()));
                    strokeAndFill(painter, outline.isValid() ? shadow : QColor(), shadow);
                }
                softenInPlace(layer, blur);
                QPainter painter(&image);
                painter.drawImage(area.topLeft(), layer);
            }
        }
    }
    QPainter painter(&image);
    painter.setTransform(toImage);
    strokeAndFill(painter, outline, QColor());
    painter.end();
    DrawText(image, b.font, b.text, fill, toImage, QRectF(), b.alignment, b.width);
}

} // namespace

double RelativeLuminance(QRgb rgb) {
    const auto linear = [](int v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb)) + 0.0722 * linear(qBlue(rgb));
}

BrickPlacement::Contrast ChooseContrast(const BrickPlacement& p, const QImage& photo,
                                        const QPointF& photoOrigin, double scale) {
    using C = BrickPlacement::Contrast;
    if (photo.isNull() || !(scale > 0))
        return C::Dark;
    const QRectF box = p.Bounds().translated(-photoOrigin);
    const QRect area = QRectF(box.left() / scale, box.top() / scale, box.width() / scale,
                              box.height() / scale)
                           .toAlignedRect()
                           .intersected(photo.rect());
    if (area.isEmpty())
        return C::Dark;
    // A grid of at most 64 x 64 samples says as much as every pixel.
    const int stepX = std::max(1, area.width() / 64), stepY = std::max(1, area.height() / 64);
    double sum = 0;
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); y += stepY)
        for (int x = area.left(); x <= area.right(); x += stepX) {
            sum += RelativeLuminance(photo.pixel(x, y));
            ++n;
        }
    const double l = n > 0 ? sum / n : 1.0;
    // Contrast ratios (L1 + 0.05) / (L2 + 0.05) against black and against white text.
    const double withBlack = (l + 0.05) / 0.05, withWhite = 1.05 / (l + 0.05);
    return withBlack >= withWhite ? C::Dark : C::Light;
}

PlacementTarget TargetWithBand(const QSize& photo, const TCaptionBand& band, double sx,
                               double sy) {
    return {CanvasSize(band, photo), sx, sy, BandRectOnCanvas(band, photo)};
}

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
    const double shortSide = shorterSide(target);
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
        const QRectF region = regionFor(target, b.layout.anchor);
        const double x = region.left() + startOn(HorizontalSide(b.layout.anchor), region.width(),
                                                 w, b.layout.marginX * shortSide / 1000.0);
        const double y = region.top() + startOn(VerticalSide(b.layout.anchor), region.height(), h,
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
    const double shortSide = shorterSide(target);
    if (shortSide <= 0)
        return layout;
    if (margins && layout.anchored()) {
        const QSize box = ownBox(brick);
        const double s = std::min(target.sx, target.sy);
        const QRectF region = regionFor(target, layout.anchor);
        layout.marginX =
            hundredths(marginOn(HorizontalSide(layout.anchor), region.width(), box.width() * s,
                                brick.left * target.sx - region.left()) *
                       1000.0 / shortSide);
        layout.marginY =
            hundredths(marginOn(VerticalSide(layout.anchor), region.height(), box.height() * s,
                                brick.top * target.sy - region.top()) *
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
    } else if (p.brick.isText() && p.brick.readability.spills() && !p.box.isEmpty()) {
        r |= ownToImage(p, QPoint()).mapRect(ownReach(p.brick, spillOf(p.brick)));
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
    default:
        drawTextBrick(image, p, bandOrigin);
        return;
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
        b.transparent = text->Transparent();
        b.color = text->Color();
        b.readability = text->Readable;
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
            b.transparent = true;
            b.readability = Readability();
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

BrickPlacement ScreenPlacementOf(const TText* text) {
    BrickPlacement p;
    p.brick = BrickDataOf(text);
    // A brick that is not enabled shows the photo behind it without its text.
    if (!p.brick.enabled)
        p.brick.text.clear();
    const QRect box = text->ScreenFullBox();
    p.box = box.size();
    p.origin = box.topLeft();
    return p;
}

QPoint ScreenFullCorner(const QWidget* brick, int fullLeft, int fullTop) {
    const double zoom = ZoomRatioOf(brick);
    // The full-size corner the render uses, unless the brick was moved since it was set (a
    // drag in progress): at a zoom ratio above 1, Left x zoom can miss it by a few pixels.
    const auto fullOf = [zoom](int preview, int full) {
        return RoundHalfEven(full / zoom) == preview ? full : RoundHalfEven(preview * zoom);
    };
    return QPoint(fullOf(brick->x(), fullLeft), fullOf(brick->y(), fullTop));
}

BrickPlacement ScreenPlacementOfBrick(const QWidget* brick) {
    if (const auto* text = qobject_cast<const TText*>(brick);
        text && !qobject_cast<const TTextBubble*>(brick))
        return ScreenPlacementOf(text);
    BrickPlacement p;
    p.brick = BrickDataOf(brick);
    p.box = ownBox(p.brick);
    p.origin = ScreenFullCorner(brick, p.brick.left, p.brick.top);
    return p;
}

QList<BrickPlacement> ScreenPlacementsBeneath(const QWidget* brick, const QRect& area) {
    QList<BrickPlacement> out;
    const QWidget* parent = brick ? brick->parentWidget() : nullptr;
    if (!parent || area.isEmpty())
        return out;
    const TDesigner* designer = DesignerOf(brick);
    const QSize whole = designer && !designer->realPicture.isNull() ? designer->CanvasSize()
                                                                    : QSize();
    for (const QObject* o : parent->children()) {
        if (o == brick)
            break; // the rest lies above it
        const auto* w = qobject_cast<const QWidget*>(o);
        if (!w || w->isHidden() || !IsPlaceableBrick(w))
            continue;
        BrickPlacement p = ScreenPlacementOfBrick(w);
        if (p.box.isEmpty() || !PlacedFootprint(p, whole).intersects(QRectF(area)))
            continue;
        out.append(std::move(p));
    }
    return out;
}

QImage ComposeOnCanvas(const QList<BrickPlacement>& placements, const TDesigner* designer,
                       const QRect& area, QRgb outside) {
    if (area.isEmpty())
        return QImage();
    QImage out;
    if (designer) {
        out = designer->CanvasArea(area, outside);
    } else {
        out = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
        out.fill(outside);
    }
    if (out.isNull())
        return out;
    // As the output does: every choice of contrast is made on the photo before it is drawn over.
    QList<BrickPlacement> chosen = placements;
    for (BrickPlacement& p : chosen)
        if (p.brick.readability.autoContrast && p.contrast == BrickPlacement::Contrast::Unchosen)
            p.contrast = ChooseContrast(p, out, QPointF(area.topLeft()));
    const QSize whole = designer && !designer->realPicture.isNull() ? designer->CanvasSize()
                                                                    : area.size();
    for (const BrickPlacement& p : chosen) {
        try {
            DrawPlacedBrick(out, p, area.topLeft(), whole);
        } catch (const Exception&) {
            // A bubble whose bitmap cannot be had is left out here as it is on its own.
        }
    }
    return out;
}

QImage ComposeOnCanvas(const BrickPlacement& placement, const TDesigner* designer,
                       const QRect& area, QRgb outside) {
    return ComposeOnCanvas(QList<BrickPlacement>{placement}, designer, area, outside);
}

void PaintSpills(QPainter& painter, const TDesigner& designer, const QRect& area) {
    const double zoom = designer.ZoomRatio > 0 ? designer.ZoomRatio : 1.0;
    for (QWidget* w : designer.Bricks()) {
        const auto* text = qobject_cast<const TText*>(w);
        if (!text || qobject_cast<const TTextBubble*>(w) || !text->isVisible() ||
            !text->Readable.spills())
            continue;
        const BrickPlacement p = ScreenPlacementOf(text);
        const QRect full = PlacedFootprint(p, QSize()).toAlignedRect();
        const QRect preview(QPoint(RoundHalfEven(full.left() / zoom), RoundHalfEven(full.top() / zoom)),
                            QPoint(RoundHalfEven((full.right() + 1) / zoom) - 1,
                                   RoundHalfEven((full.bottom() + 1) / zoom) - 1));
        if (!preview.intersects(area))
            continue;
        // Only the part being painted is composed, at full size, and scaled down as the
        // bricks' own paint scales theirs.
        const QRect part = preview & area;
        const QRect fullPart(QPoint(RoundHalfEven(part.left() * zoom), RoundHalfEven(part.top() * zoom)),
                             QPoint(RoundHalfEven((part.right() + 1) * zoom) - 1,
                                    RoundHalfEven((part.bottom() + 1) * zoom) - 1));
        QImage layer(fullPart.size(), QImage::Format_ARGB32_Premultiplied);
        if (layer.isNull())
            continue;
        layer.fill(Qt::transparent);
        BrickPlacement chosen = p;
        if (chosen.brick.readability.autoContrast) {
            const QRect box = p.Bounds().toAlignedRect();
            chosen.contrast =
                ChooseContrast(p, designer.CanvasArea(box), QPointF(box.topLeft()));
        }
        DrawPlacedBrick(layer, chosen, fullPart.topLeft(), designer.CanvasSize());
        DrawComposed(painter, part, layer);
    }
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
    return TargetWithBand(d->PhotoSize(), d->Band);
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
