#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegTrailer.h"
#include "imaging/core/PhotoMetadata.h"
#include "imaging/core/TExif.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The input is a photo whose metadata is carried into a small output of its own format, both
// re-encoded and as the keep-quality writer does. Reading and carrying may refuse with our own
// errors; an output that was made must read back, holding exactly what was carried, and be
// carried again unchanged. Crashes, hangs, leaks and runaway allocations are the rest.
namespace {

const QImage& picture() {
    static const QImage image = [] {
        QImage i(16, 12, QImage::Format_RGB32);
        i.fill(qRgb(90, 140, 200));
        return i;
    }();
    return image;
}

void carry(const QByteArray& source, const QByteArray& encoded, const TPhotoMetadata& metadata,
           const TExif& exif, bool reencoded) {
    TWrittenPicture written;
    written.size = picture().size();
    written.reencoded = reencoded;
    written.picture = [] { return picture(); };
    TCarriedOutput out;
    try {
        out = CarryMetadata(encoded, metadata, exif, written);
    } catch (const Exception&) {
        return;
    }
    try {
        VerifyOutput(out.bytes, written.size, out.carried);
    } catch (const Exception& e) {
        std::fprintf(stderr, "carried output does not read back: %s\n",
                     e.message().toLocal8Bit().constData());
        std::abort();
    }
    // What was carried, read from the output, carries into the same bytes again.
    const TPhotoMetadata again = ReadPhotoMetadata(out.bytes);
    const QList<QByteArray> blocks = [&] {
        QList<QByteArray> b;
        for (const TJpegSegment& s : again.segments)
            b << s.bytes;
        return again.type == ImageFileType::Png ? again.pngChunks : b;
    }();
    if (blocks != out.carried) {
        std::fprintf(stderr, "the output's blocks are not the carried ones\n");
        std::abort();
    }
    if (!reencoded && metadata.type == ImageFileType::Jpeg) {
        // What follows the source's picture follows the output's, its MPF index updated or
        // left out: the picture still decodes at its size.
        const CarriedJpeg whole = CarryJpegTrailer(source, out.bytes);
        try {
            if (DecodeImage(whole.bytes).size() != written.size)
                throw Exception(QStringLiteral("another size"));
        } catch (const Exception& e) {
            std::fprintf(stderr, "the output with the trailer does not decode: %s\n",
                         e.message().toLocal8Bit().constData());
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QByteArray jpeg = EncodeJpeg(picture(), 80);
    static const QByteArray png = EncodePng(picture());
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const TPhotoMetadata metadata = ReadPhotoMetadata(bytes);
    TExif exif;
    try {
        exif.LoadFromBytes(bytes);
    } catch (const Exception&) {
    }
    if (metadata.type == ImageFileType::Png) {
        carry(bytes, png, metadata, exif, true);
    } else {
        carry(bytes, jpeg, metadata, exif, true);
        carry(bytes, jpeg, metadata, exif, false);
    }
    return 0;
}
