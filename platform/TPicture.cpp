#include "platform/TPicture.h"

#include "platform/Errors.h"

#include <algorithm>

namespace {
TPicture::DataDecoder& decoder() {
    static TPicture::DataDecoder d;
    return d;
}
TPicture::DataEncoder& encoder() {
    static TPicture::DataEncoder e;
    return e;
}
} // namespace

void TPicture::SetCodec(DataDecoder d, DataEncoder e) {
    decoder() = std::move(d);
    encoder() = std::move(e);
}

void TPicture::setGraphic(Graphic g) {
    m_graphic = std::move(g);
    emit changed();
}

void TPicture::clear() {
    setGraphic({});
}

QByteArray TPicture::Data() const {
    if (isEmpty() || !encoder())
        return {};
    return encoder()(m_graphic);
}

void TPicture::setData(const QByteArray& pictureData) {
    if (pictureData.isEmpty()) {
        clear();
        return;
    }
    if (!decoder())
        throw Exception(QStringLiteral("No picture decoder installed"));
    setGraphic(decoder()(pictureData));
}

QImage TPicture::drawnImage(bool transparent) const {
    const QImage& image = m_graphic.image;
    if (!transparent || image.isNull() ||
        m_graphic.className.compare(QLatin1String("TBitmap"), Qt::CaseInsensitive) != 0)
        return image;
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = out.pixel(0, out.height() - 1) & 0x00FFFFFFu;
    const int w = out.width();
    for (int y = 0; y < out.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        // Fully transparent black, so no smoothing can bring the colour back at the edges.
        std::replace_if(
            row, row + w, [key](QRgb p) { return (p & 0x00FFFFFFu) == key; }, QRgb(0));
    }
    return out;
}
