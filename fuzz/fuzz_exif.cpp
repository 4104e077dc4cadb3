#include "imaging/core/TExif.h"

#include <cstddef>
#include <cstdint>

// Any input must either be read or fail with the reader's own error; crashes, hangs, leaks and
// runaway allocations are what the fuzzer looks for.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    TExif exif;
    try {
        exif.LoadFromBytes(bytes);
    } catch (const EExifError&) {
    }
    return 0;
}
