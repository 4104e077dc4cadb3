// The keep-quality path on arbitrary bytes: the header checks, the captioning of a few blocks
// and the carrying of what follows the picture (the multi-picture index included).
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegRecaption.h"
#include "imaging/core/JpegTrailer.h"

#include <QImage>
#include <QPainter>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)JpegImageEnd(bytes);
    (void)JpegTrailerLoss(bytes);
    (void)CarryJpegTrailer(bytes, bytes);
    if (!RecaptionUnsupportedReason(bytes).isEmpty())
        return 0;
    try {
        const QByteArray out = RecaptionJpeg(
            bytes, {QRect(3, 5, 20, 9), QRect(40, 40, 8, 30)},
            [](QImage& band, const QPoint&) { band.fill(Qt::yellow); });
        (void)CarryJpegTrailer(bytes, out);
    } catch (const EInvalidGraphic&) {
    }
    return 0;
}
