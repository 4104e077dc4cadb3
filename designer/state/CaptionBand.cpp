#include "designer/state/CaptionBand.h"

#include "platform/Conversions.h"
#include "platform/Errors.h"
#include "platform/PublishedProperties.h"
#include "platform/Rounding.h"

#include <QColorSpace>
#include <QPainter>
#include <algorithm>

QString BandText(const TCaptionBand& band) {
    if (!band.on)
        return {};
    return QStringLiteral("%1,%2,%3")
        .arg(band.edge == TCaptionBand::Edge::Top ? QStringLiteral("Top") : QStringLiteral("Bottom"))
        .arg(band.size)
        .arg(ColorToIdent(band.color).value_or(QString::number(band.color)));
}

TCaptionBand BandFromText(const QString& text) {
    TCaptionBand band;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return band;
    const QStringList parts = trimmed.split(QLatin1Char(','));
    const auto bad = [&text] {
        return EConvertError(QStringLiteral("'%1' is not a valid caption band (an edge, Bottom or "
                                            "Top, a size of 1 to 1000 per mille and a colour, "
                                            "as in Bottom,120,clWhite)")
                                 .arg(text));
    };
    if (parts.size() != 3)
        throw bad();
    band.on = true;
    const QString edge = parts[0].trimmed();
    if (edge.compare(QLatin1String("Bottom"), Qt::CaseInsensitive) == 0)
        band.edge = TCaptionBand::Edge::Bottom;
    else if (edge.compare(QLatin1String("Top"), Qt::CaseInsensitive) == 0)
        band.edge = TCaptionBand::Edge::Top;
    else
        throw bad();
    bool ok = false;
    band.size = parts[1].trimmed().toInt(&ok);
    if (!ok || band.size < 1 || band.size > 1000)
        throw bad();
    const QString colour = parts[2].trimmed();
    if (const auto ident = IdentToColor(colour)) {
        band.color = *ident;
    } else {
        band.color = colour.toInt(&ok);
        if (!ok)
            throw bad();
    }
    return band;
}

int BandHeight(const TCaptionBand& band, const QSize& photo) {
    if (!band.on || band.size <= 0 || photo.isEmpty())
        return 0;
    return std::max(1, RoundHalfEven(band.size * std::min(photo.width(), photo.height()) / 1000.0));
}

QSize CanvasSize(const TCaptionBand& band, const QSize& photo) {
    return QSize(photo.width(), photo.height() + BandHeight(band, photo));
}

QRect PhotoRectOnCanvas(const TCaptionBand& band, const QSize& photo) {
    const int top = band.edge == TCaptionBand::Edge::Top ? BandHeight(band, photo) : 0;
    return QRect(QPoint(0, top), photo);
}

QRect BandRectOnCanvas(const TCaptionBand& band, const QSize& photo) {
    const int h = BandHeight(band, photo);
    if (h <= 0)
        return {};
    return band.edge == TCaptionBand::Edge::Top ? QRect(0, 0, photo.width(), h)
                                                : QRect(0, photo.height(), photo.width(), h);
}

QImage CanvasPart(const QImage& photo, const TCaptionBand& band, const QRect& area, QRgb outside) {
    if (area.isEmpty())
        return {};
    QImage out(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return out;
    out.fill(outside);
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    const QRect bandRect = BandRectOnCanvas(band, photo.size()) & area;
    if (!bandRect.isEmpty())
        p.fillRect(bandRect.translated(-area.topLeft()), TColorToQColor(band.color));
    if (!photo.isNull()) {
        const QRect onCanvas = PhotoRectOnCanvas(band, photo.size());
        const QRect shown = onCanvas & area;
        if (!shown.isEmpty())
            p.drawImage(shown.topLeft() - area.topLeft(), photo,
                        shown.translated(-onCanvas.topLeft()));
    }
    return out;
}

QImage WithBand(const QImage& photo, const TCaptionBand& band) {
    if (BandHeight(band, photo.size()) <= 0)
        return photo;
    QImage out(CanvasSize(band, photo.size()), photo.format());
    if (out.isNull())
        return out;
    out.setColorSpace(photo.colorSpace());
    {
        QPainter p(&out);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(BandRectOnCanvas(band, photo.size()), TColorToQColor(band.color));
    }
    // Row by row, so the photo's pixels are copied exactly, whatever the format.
    const QRect at = PhotoRectOnCanvas(band, photo.size());
    const qsizetype bytes = std::min(photo.bytesPerLine(), out.bytesPerLine());
    for (int y = 0; y < photo.height(); ++y)
        std::copy_n(photo.constScanLine(y), bytes, out.scanLine(y + at.top()));
    return out;
}
