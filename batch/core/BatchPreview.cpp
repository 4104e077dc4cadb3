#include "batch/core/BatchPreview.h"

#include "bricks/BrickFields.h"
#include "patterns/settings/PhotoDates.h"

#include "imaging/core/BitmapOps.h"
#include "imaging/core/PictureLoader.h"
#include "patterns/settings/DateTimeFormats.h"
#include "platform/Errors.h"
#include "platform/Rounding.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

// The bounding box of a size turned by an angle, as RotateBitmap grows a picture.
QSize turnedSize(const QSize& size, int angle) {
    if (angle % 180 == 0)
        return size;
    if (angle % 90 == 0)
        return size.transposed();
    const double r = angle * M_PI / 180.0;
    const double c = std::fabs(std::cos(r)), s = std::fabs(std::sin(r));
    return QSize(int(std::lround(size.width() * c + size.height() * s)),
                 int(std::lround(size.width() * s + size.height() * c)));
}

QSize fittedSize(const QSize& turned, const PreviewOptions& o) {
    if (!o.fit || o.width <= 0 || o.height <= 0)
        return turned;
    int width = o.width, height = o.height;
    if (o.proportional) {
        if (turned.width() > turned.height())
            height = RoundHalfEven(double(turned.height()) * width / turned.width());
        else
            width = RoundHalfEven(double(turned.width()) * height / turned.height());
    }
    return QSize(std::max(1, width), std::max(1, height));
}

} // namespace

QSize PreviewOutputSize(const QSize& full, const PreviewOptions& options) {
    return fittedSize(turnedSize(full, options.angle), options);
}

QRect PreviewBadgeRect(const QSize& tile, const QList<QRectF>& boxes, int diameter) {
    const int inset = 3;
    const int right = tile.width() - inset - diameter, bottom = tile.height() - inset - diameter;
    const QPoint corners[] = {{right, inset}, {inset, inset}, {inset, bottom}, {right, bottom}};
    QRect best;
    double leastCovered = -1;
    for (const QPoint& at : corners) {
        const QRect badge(at, QSize(diameter, diameter));
        double covered = 0;
        for (const QRectF& box : boxes) {
            const QRectF common = box.intersected(QRectF(badge));
            covered += common.width() * common.height();
        }
        if (covered == 0)
            return badge;
        if (leastCovered < 0 || covered < leastCovered) {
            leastCovered = covered;
            best = badge;
        }
    }
    return best;
}

bool BricksShowDate(const QList<BrickData>& bricks) {
    QString captions;
    for (const BrickData& b : bricks) {
        if (b.kind == BrickKind::Date || b.kind == BrickKind::Time)
            return true;
        if (b.kind != BrickKind::Picture)
            captions += b.caption;
    }
    const QStringList used = FieldsUsed(captions);
    return used.contains(QLatin1String("Date")) || used.contains(QLatin1String("Time"));
}

PreviewTile PreviewOnPicture(QImage picture, const QSize& full, QList<BrickData> bricks,
                             const TPhotoFields* fields, const PreviewOptions& o) {
    PreviewTile tile;
    if (picture.isNull() || full.isEmpty())
        return tile;
    const QSize turned = turnedSize(full, o.angle);
    const QSize out = fittedSize(turned, o);
    tile.outputSize = CanvasSize(o.band, out);
    const double k = double(o.longSide) / std::max(out.width(), out.height());
    const QSize size(std::max(1, RoundHalfEven(out.width() * k)),
                     std::max(1, RoundHalfEven(out.height() * k)));

    picture = picture.convertToFormat(QImage::Format_RGB32);
    if (o.angle != 0) {
        // Turned while small: the same shape as the full picture turned.
        if (o.angle % 90 != 0 && picture.width() > 2 * size.width())
            ResampleBitmap(picture, std::max(1, int(full.width() * k)),
                           std::max(1, int(full.height() * k)));
        RotateBitmap(picture, qRgb(255, 255, 255), o.angle);
    }
    ResampleBitmap(picture, size.width(), size.height());
    tile.image = picture.convertToFormat(QImage::Format_RGB32);
    if (!o.applyPattern)
        return tile;

    // The render's target, scaled down to the tile: a fit's scale for what keeps its own place.
    const double sx = double(out.width()) / turned.width() * double(size.width()) / out.width();
    const double sy = double(out.height()) / turned.height() * double(size.height()) / out.height();
    // The band as the output gets it, scaled down with the rest.
    const QRect outBand = BandRectOnCanvas(o.band, out);
    if (!outBand.isEmpty()) {
        const double ky = double(size.height()) / out.height();
        const int bandRows = std::max(1, RoundHalfEven(outBand.height() * ky));
        QImage banded(size.width(), size.height() + bandRows, QImage::Format_RGB32);
        banded.fill(TColorToQColor(o.band.color));
        const int photoTop = o.band.edge == TCaptionBand::Edge::Top ? bandRows : 0;
        {
            QPainter p(&banded);
            p.drawImage(0, photoTop, tile.image);
        }
        tile.image = banded;
    }
    const QRect band =
        outBand.isEmpty()
            ? QRect()
            : (o.band.edge == TCaptionBand::Edge::Top
                   ? QRect(0, 0, size.width(), tile.image.height() - size.height())
                   : QRect(0, size.height(), size.width(), tile.image.height() - size.height()));
    const PlacementTarget target{tile.image.size(), sx, sy, band};
    QList<QRectF> boxes;
    // Black or white is chosen by the photo under each brick, before any is drawn.
    const QImage undrawn = tile.image;
    for (BrickData& b : bricks) {
        if (fields) {
            // As the render does for a batch's file: its own date (or stand-in), its own values.
            if (b.kind == BrickKind::Date || b.kind == BrickKind::Time)
                SetBrickDate(b, fields->dated.taken.value);
            else if (b.isText() && HasFields(b.caption))
                b.text = ShownCaption(b.caption, *fields);
        }
        BrickPlacement p = PlaceBrick(b, target);
        if (p.brick.readability.autoContrast)
            p.contrast = ChooseContrast(p, undrawn);
        const QRectF box = p.Bounds();
        // Half a tile pixel of slack: rounding is no fault.
        if (!QRectF(tile.image.rect()).adjusted(-0.5, -0.5, 0.5, 0.5).contains(box))
            tile.offPhoto = true;
        for (const QRectF& other : boxes)
            if (box.adjusted(0.5, 0.5, -0.5, -0.5).intersects(other))
                tile.overlap = true;
        boxes.append(box);
        tile.boxes.append(box);
        DrawPlacedBrick(tile.image, p, QPoint(), tile.image.size());
    }
    return tile;
}

PreviewTile MakePreviewTile(const QString& file, const QList<BrickData>& bricks,
                            const PreviewOptions& options, std::optional<int> counter) {
    const TThreadClockShift shift(options.clockShift);
    try {
        const int side = options.longSide;
        LoadedPhoto photo = LoadPhotoFileReduced(file, options.autoRotate, [side](const QSize& f) {
            const double k = 2.0 * side / std::max(1, std::max(f.width(), f.height()));
            return k >= 1 ? QSize() : QSize(int(f.width() * k) + 1, int(f.height() * k) + 1);
        });
        const TPhotoFields fields = ReadPhotoFields(file, counter);
        PreviewTile tile =
            PreviewOnPicture(std::move(photo.picture), photo.fullSize, bricks, &fields, options);
        if (options.applyPattern && !fields.dated.hasDate && BricksShowDate(bricks)) {
            tile.notice = fields.dated.notice;
            tile.skipped = fields.dated.skip;
        }
        return tile;
    } catch (const std::exception& e) {
        PreviewTile tile;
        const auto* ours = dynamic_cast<const Exception*>(&e);
        tile.error = ours ? ours->message() : QString::fromLocal8Bit(e.what());
        return tile;
    }
}
