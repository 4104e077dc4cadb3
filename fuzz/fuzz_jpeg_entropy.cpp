#include "imaging/core/ImageCodecs.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Our Huffman decoder stands in for libjpeg's: for any input the decode must end as libjpeg's
// own decoder ends it, with the same picture or the same refusal. A difference is a crash here.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QImage ours, theirs;
    QString ourError, theirError;
    try {
        ours = DecodeJpeg(bytes);
    } catch (const Exception& e) {
        ourError = e.message();
    }
    try {
        theirs = DecodeJpegScaledByLibjpeg(bytes, 1 << 16, 1 << 16);
    } catch (const Exception& e) {
        theirError = e.message();
    }
    if (ourError != theirError || ours != theirs)
        std::abort();
    return 0;
}
