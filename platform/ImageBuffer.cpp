#include "platform/ImageBuffer.h"

#include <cstdlib>

#ifdef __linux__
#include <sys/mman.h>
#endif

QImage NewImageBuffer(int width, int height, QImage::Format format) {
#ifdef __linux__
    constexpr size_t kHugePage = size_t(2) << 20;
    const size_t bpl = size_t(width) * 4; // 32-bit rows are always 4-byte aligned
    const size_t bytes = bpl * size_t(height);
    if (QImage::toPixelFormat(format).bitsPerPixel() == 32 && bytes >= 4 * kHugePage) {
        const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        if (void* data = std::aligned_alloc(kHugePage, rounded)) {
            madvise(data, rounded, MADV_HUGEPAGE); // advice only: failure is harmless
            return QImage(
                static_cast<uchar*>(data), width, height, qsizetype(bpl), format,
                [](void* p) { std::free(p); }, data);
        }
    }
#endif
    return QImage(width, height, format);
}
