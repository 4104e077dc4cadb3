#include "imaging/core/ImageCodecs.h"

#include <cstddef>
#include <cstdint>

// Any input must either decode or fail with one of our exceptions; crashes, hangs and leaks are
// what the fuzzer looks for.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const QImage image = DecodeImage(bytes);
        (void)image;
    } catch (const Exception&) {
    }
    return 0;
}
