#include "platform/TPicture.h"

#include "platform/Errors.h"

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
