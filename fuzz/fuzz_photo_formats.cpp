#include "imaging/core/PhotoFormats.h"
#include "imaging/core/TExif.h"

#include <cstddef>
#include <cstdint>

// One reader path per target (FUZZ_DECODER names the decoder): the picture, its container's
// metadata blocks and the EXIF walk over them. Any input must decode or fail with one of our
// exceptions.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const QImage image = FUZZ_DECODER(bytes);
        (void)image;
    } catch (const Exception&) {
    }
    (void)DeclaredPhotoSize(bytes);
    (void)ReadContainerBlocks(bytes);
    try {
        TExif exif;
        exif.LoadFromBytes(bytes);
    } catch (const Exception&) {
    }
    return 0;
}
