#include "platform/ImageBuffer.h"

#include "platform/Errors.h"

#include <QThread>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#include <sys/sysinfo.h>
#endif

namespace {
// Buffers smaller than this are cheap to have fresh and are not kept.
constexpr qsizetype KeptFrom = qsizetype(1) << 20;
// Bytes filled in the buffers kept at most: pages that are not returned to the system.
constexpr qsizetype KeptTotal = qsizetype(256) << 20;

// What is kept: byte arrays, and the blocks of large pictures (by their size).
struct Kept {
    QByteArray bytes;
    void* block = nullptr;
    qsizetype filled = 0; // bytes: the most it held, about the memory it keeps; blocks: the size
};

struct Pool {
    std::mutex lock;
    int runs = 0;
    std::vector<Kept> kept;
    qsizetype filled = 0;
    std::unordered_map<void*, size_t> blockSizes; // every picture block out, with its size

    size_t most() const { return size_t(2 * std::max(1, QThread::idealThreadCount()) + 4); }
    // Whether one more of `filled` bytes may be kept; under the lock.
    bool room(qsizetype more) const {
        return runs > 0 && kept.size() < most() && filled + more <= KeptTotal;
    }
};

Pool& pool() {
    static Pool p;
    return p;
}

#ifdef __linux__
// A block of at least `bytes` for a picture, 2 MB aligned: a kept one no more than a quarter
// larger, else a new one.
void* takeBlock(size_t bytes, size_t alignment) {
    Pool& p = pool();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        auto best = p.kept.end();
        for (auto it = p.kept.begin(); it != p.kept.end(); ++it) {
            const size_t size = size_t(it->filled);
            if (it->block && size >= bytes && size <= bytes + bytes / 4 &&
                (best == p.kept.end() || size < size_t(best->filled)))
                best = it;
        }
        if (best != p.kept.end()) {
            void* block = best->block;
            p.filled -= best->filled;
            p.kept.erase(best);
            return block;
        }
    }
    void* block = nullptr;
    if (posix_memalign(&block, alignment, bytes) != 0)
        return nullptr;
    AdviseHugePages(block, bytes);
    std::lock_guard<std::mutex> guard(p.lock);
    p.blockSizes[block] = bytes;
    return block;
}

void giveBackBlock(void* block) {
    Pool& p = pool();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        const auto it = p.blockSizes.find(block);
        const qsizetype size = it == p.blockSizes.end() ? 0 : qsizetype(it->second);
        if (size && p.room(size)) {
            p.kept.push_back({QByteArray(), block, size});
            p.filled += size;
            return;
        }
        if (it != p.blockSizes.end())
            p.blockSizes.erase(it);
    }
    std::free(block);
}
#endif
} // namespace

BufferReuse::BufferReuse() {
    Pool& p = pool();
    std::lock_guard<std::mutex> guard(p.lock);
    ++p.runs;
}

BufferReuse::~BufferReuse() {
    std::vector<Kept> gone;
    Pool& p = pool();
    {
        std::lock_guard<std::mutex> guard(p.lock);
        if (--p.runs == 0) {
            gone.swap(p.kept);
            p.filled = 0;
            for (const Kept& k : gone)
                p.blockSizes.erase(k.block);
        }
    }
    for (const Kept& k : gone)
        std::free(k.block); // the byte arrays go with the vector
}

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
    if (depth == 32 && bytes >= kHugePage) {
        if (void* data = takeBlock(bytes, kHugePage))
            return QImage(
                static_cast<uchar*>(data), width, height, qsizetype(bpl), format,
                [](void* p) { giveBackBlock(p); }, data);
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

QByteArray TakeBytes(qsizetype capacity, bool hugePages) {
    QByteArray bytes;
    if (capacity >= KeptFrom) {
        Pool& p = pool();
        std::lock_guard<std::mutex> guard(p.lock);
        // The smallest that holds it; else the largest, grown in place where it can be.
        const auto rank = [capacity](const Kept& k) {
            const qsizetype room = k.bytes.capacity();
            return room >= capacity ? std::pair(false, room) : std::pair(true, -room);
        };
        auto best = p.kept.end();
        for (auto it = p.kept.begin(); it != p.kept.end(); ++it)
            if (!it->block && (best == p.kept.end() || rank(*it) < rank(*best)))
                best = it;
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
    Pool& p = pool();
    QByteArray dropped; // freed outside the lock
    std::lock_guard<std::mutex> guard(p.lock);
    if (p.room(filled)) {
        p.kept.push_back({std::move(given), nullptr, filled});
        p.filled += filled;
    } else {
        dropped = std::move(given);
    }
}
