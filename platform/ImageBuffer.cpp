#include "platform/ImageBuffer.h"

#include "platform/Errors.h"

#include <QThread>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#include <sys/sysinfo.h>
#endif

namespace {
// A buffer larger than memory and swap together can never be filled; where the system promises
// memory it does not have, asking would only end with the process killed.
bool beyondMemory(size_t bytes) {
#ifdef __linux__
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
        const unsigned long long total =
            (static_cast<unsigned long long>(info.totalram) + info.totalswap) * info.mem_unit;
        return bytes > total;
    }
#endif
    (void)bytes;
    return false;
}
} // namespace

QImage NewImageBuffer(int width, int height, QImage::Format format) {
    if (width <= 0 || height <= 0)
        return QImage();
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const size_t bpl = (size_t(width) * size_t(depth) + 31) / 32 * 4;
    if (beyondMemory(bpl * size_t(height)))
        return QImage();
#ifdef __linux__
    constexpr size_t kHugePage = size_t(2) << 20;
    const size_t bytes = bpl * size_t(height);
    // A picture of a huge page or more starts on one and takes huge pages for its whole ones:
    // far fewer faults to fill it. The tail keeps small pages, so that no more memory is taken
    // than the pixels need.
    void* data = nullptr;
    if (depth == 32 && bytes >= kHugePage && posix_memalign(&data, kHugePage, bytes) == 0) {
        AdviseHugePages(data, bytes);
        return QImage(
            static_cast<uchar*>(data), width, height, qsizetype(bpl), format,
            [](void* p) { std::free(p); }, data);
    }
#endif
    return QImage(width, height, format);
}

void CheckImageAllocated(const QImage& image, int width, int height) {
    if (image.isNull())
        throw EOutOfMemory(QStringLiteral("Not enough memory for a %1 %2 %3 image.")
                               .arg(width)
                               .arg(QChar(0x00D7))
                               .arg(height));
}

QImage NewImageBufferOrThrow(int width, int height, QImage::Format format) {
    QImage image = NewImageBuffer(width, height, format);
    CheckImageAllocated(image, width, height);
    return image;
}

void AdviseHugePages(void* data, size_t bytes) {
#ifdef __linux__
    constexpr uintptr_t Huge = uintptr_t(2) << 20;
    const auto begin = reinterpret_cast<uintptr_t>(data);
    const uintptr_t from = (begin + Huge - 1) & ~(Huge - 1), to = (begin + bytes) & ~(Huge - 1);
    if (to > from)
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

void AdviseHugePages(QByteArray& buffer) {
    AdviseHugePages(buffer.data(), size_t(buffer.capacity()));
}

namespace {
// Buffers smaller than this are cheap to have fresh and are not kept.
constexpr qsizetype KeptFrom = qsizetype(1) << 20;
// Bytes filled in the buffers kept at most: pages that are not returned to the system.
constexpr qsizetype KeptTotal = qsizetype(256) << 20;

struct BytePool {
    std::mutex lock;
    struct Kept {
        QByteArray bytes;
        qsizetype filled = 0; // the most it held: about the memory it keeps
    };
    std::vector<Kept> kept;
    qsizetype filled = 0;
};

BytePool& pool() {
    static BytePool p;
    return p;
}
} // namespace

QByteArray TakeBytes(qsizetype capacity, bool hugePages) {
    QByteArray bytes;
    if (capacity >= KeptFrom) {
        BytePool& p = pool();
        std::lock_guard<std::mutex> guard(p.lock);
        // The smallest that holds it; else the largest, grown in place where it can be.
        auto best = p.kept.end();
        for (auto it = p.kept.begin(); it != p.kept.end(); ++it) {
            const bool fits = it->bytes.capacity() >= capacity;
            if (best == p.kept.end() ||
                (fits ? best->bytes.capacity() < capacity ||
                            it->bytes.capacity() < best->bytes.capacity()
                      : best->bytes.capacity() < capacity &&
                            it->bytes.capacity() > best->bytes.capacity()))
                best = it;
        }
        if (best != p.kept.end()) {
            bytes = std::move(best->bytes);
            p.filled -= best->filled;
            p.kept.erase(best);
        }
    }
    const qsizetype had = bytes.capacity();
    bytes.reserve(capacity);
    if (hugePages && bytes.capacity() != had)
        AdviseHugePages(bytes);
    return bytes;
}

void GiveBackBytes(QByteArray&& bytes) {
    QByteArray given = std::move(bytes);
    if (given.capacity() < KeptFrom || !given.isDetached())
        return;
    const qsizetype filled = std::max(given.size(), KeptFrom);
    given.resize(0);
    BytePool& p = pool();
    const size_t most = size_t(2 * std::max(1, QThread::idealThreadCount()) + 4);
    QByteArray dropped; // freed outside the lock
    {
        std::lock_guard<std::mutex> guard(p.lock);
        if (p.kept.size() >= most || p.filled + filled > KeptTotal)
            dropped = std::move(given);
        else {
            p.kept.push_back({std::move(given), filled});
            p.filled += filled;
        }
    }
}

void ReleaseGivenBytes() {
    std::vector<BytePool::Kept> gone;
    BytePool& p = pool();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        gone.swap(p.kept);
        p.filled = 0;
    }
}
