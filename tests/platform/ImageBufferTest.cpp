#include "platform/ImageBuffer.h"

#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

QRgb Pattern(int x, int y) {
    return 0xFF000000u | (quint32(x * 7 + y) & 0xFFu) << 16 | (quint32(y * 3) & 0xFFu) << 8 |
           (quint32(x ^ y) & 0xFFu);
}

} // namespace

// Buffers on either side of a huge page (2 MiB) and with a tail past their last whole one: each
// holds every pixel written, ends where its rows say, and copies on write as any picture does.
TEST(NewImageBuffer, EveryPixelHeldAroundTheHugePageSize) {
    const QSize sizes[] = {{1000, 500}, {1024, 512}, {1100, 701}, {2003, 1501}};
    for (const QSize s : sizes) {
        QImage img = NewImageBufferOrThrow(s.width(), s.height(), QImage::Format_RGB32);
        ASSERT_EQ(img.size(), s);
        ASSERT_EQ(img.bytesPerLine(), 4 * s.width());
        for (int y = 0; y < s.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < s.width(); ++x)
                line[x] = Pattern(x, y);
        }
        QImage copy = img;
        copy.setPixel(s.width() - 1, s.height() - 1, 0xFF000000u);
        int wrong = 0;
        for (int y = 0; y < s.height(); ++y)
            for (int x = 0; x < s.width(); ++x)
                wrong += img.pixel(x, y) != Pattern(x, y);
        EXPECT_EQ(wrong, 0) << s.width() << "x" << s.height();
        EXPECT_EQ(copy.pixel(s.width() - 1, s.height() - 1), 0xFF000000u);
        EXPECT_EQ(copy.pixel(0, 0), Pattern(0, 0));
    }
    const QImage deep = NewImageBufferOrThrow(1100, 701, QImage::Format_RGBX64);
    EXPECT_EQ(deep.size(), QSize(1100, 701));
    EXPECT_EQ(NewImageBuffer(0, 5, QImage::Format_RGB32).isNull(), true);
}

// Photo-sized buffers handed on. What a buffer held stays in it (only its size is reset, which
// puts a zero in its first byte), so a mark written just after its start tells a buffer handed on from a new one, which the system gives
// zeroed: large blocks are mapped from it and unmapped when freed, as the tools set them.
namespace {
constexpr qsizetype MiB = qsizetype(1) << 20;

void markAndFill(QByteArray& bytes, int id, qsizetype size) {
    bytes.fill(char('A' + id % 26), size);
    std::snprintf(bytes.data() + 1, 16, "given %9d", id);
}

// The id of the mark in the buffer's memory, -1 for none.
int markIn(const QByteArray& bytes) {
    if (bytes.capacity() < 17)
        return -1;
    int id = -1;
    char text[17] = {};
    std::memcpy(text, bytes.constData() + 1, 16);
    return std::sscanf(text, "given %9d", &id) == 1 ? id : -1;
}

struct GivenBytesTest : ::testing::Test {
    void SetUp() override {
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
        run.emplace();
    }
    void TearDown() override { run.reset(); }
    std::optional<BufferReuse> run;
};
} // namespace

// A buffer anyone else still holds is never handed out again; one held by no one is, for any
// size within its room or grown past it (its bytes kept, its size reset); small ones are not
// kept; after the run none is, and outside a run none is kept.
TEST_F(GivenBytesTest, HandedOnOnlyWhenNoOneElseHoldsThem) {
    QByteArray a = TakeBytes(5 * MiB);
    EXPECT_TRUE(a.isEmpty());
    EXPECT_GE(a.capacity(), 5 * MiB);
    EXPECT_EQ(markIn(a), -1);
    markAndFill(a, 1, 5 * MiB);
    const QByteArray stillHeld = a;
    GiveBackBytes(std::move(a));
    EXPECT_TRUE(a.isNull());
    QByteArray b = TakeBytes(5 * MiB);
    EXPECT_EQ(markIn(b), -1);
    markAndFill(b, 2, 5 * MiB);
    EXPECT_EQ(markIn(stillHeld), 1);
    EXPECT_EQ(stillHeld.count(char('A' + 1)), 5 * MiB - 16);

    GiveBackBytes(std::move(b));
    QByteArray c = TakeBytes(3 * MiB);
    EXPECT_EQ(markIn(c), 2);
    EXPECT_TRUE(c.isEmpty());
    GiveBackBytes(std::move(c));
    QByteArray d = TakeBytes(9 * MiB); // more than it holds: grown, what it held kept
    EXPECT_EQ(markIn(d), 2);
    EXPECT_GE(d.capacity(), 9 * MiB);
    markAndFill(d, 3, 9 * MiB);

    QByteArray small = TakeBytes(64 * 1024);
    markAndFill(small, 4, 64 * 1024);
    GiveBackBytes(std::move(small));
    GiveBackBytes(std::move(d));
    run.reset();
    QByteArray e = TakeBytes(2 * MiB);
    EXPECT_EQ(markIn(e), -1);
    markAndFill(e, 5, 2 * MiB);
    GiveBackBytes(std::move(e));
    EXPECT_EQ(markIn(TakeBytes(2 * MiB)), -1);
}

// Of many buffers given back at once only a few are kept: the memory held for the next photos
// is bounded.
TEST_F(GivenBytesTest, FewKept) {
    std::vector<QByteArray> given;
    for (int i = 0; i < 100; ++i) {
        given.push_back(TakeBytes(2 * MiB));
        markAndFill(given.back(), i, 2 * MiB);
    }
    for (QByteArray& g : given)
        GiveBackBytes(std::move(g));
    std::set<int> handedOn;
    std::vector<QByteArray> taken;
    for (int i = 0; i < 100; ++i) {
        taken.push_back(TakeBytes(2 * MiB));
        if (const int id = markIn(taken.back()); id >= 0) {
            EXPECT_TRUE(handedOn.insert(id).second) << id;
        }
    }
    EXPECT_GE(handedOn.size(), 2u);
    EXPECT_LE(handedOn.size(), size_t(2 * QThread::idealThreadCount() + 4));
}

// Threads taking, filling and giving back at once: no buffer is ever in two hands.
TEST_F(GivenBytesTest, NeverInTwoHandsAcrossThreads) {
    constexpr qsizetype Size = qsizetype(3) << 19; // 1.5 MiB
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &wrong] {
            for (int round = 0; round < 60; ++round) {
                const qsizetype size = Size + round * 1024;
                QByteArray mine = TakeBytes(size);
                const int id = t * 1000 + round;
                markAndFill(mine, id, size);
                std::this_thread::yield();
                if (markIn(mine) != id || mine.count(char('A' + id % 26)) != size - 16)
                    ++wrong;
                GiveBackBytes(std::move(mine));
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
}

// Large pictures' memory is handed on the same way within a run: a picture of about the size of
// one freed gets that one's memory (its old pixels still there until it is drawn on), a much
// smaller or larger one and any outside a run get fresh memory; every one holds its own pixels.
TEST_F(GivenBytesTest, PicturesHandedOnWithinARun) {
    const auto firstPixel = [](const QImage& img) { return img.constBits() ? img.pixel(0, 0) : 0u; };
    QImage a = NewImageBufferOrThrow(2000, 1500, QImage::Format_RGB32);
    a.fill(0xFF123456u);
    a = QImage();
    const QImage b = NewImageBufferOrThrow(1990, 1500, QImage::Format_RGB32);
    EXPECT_EQ(firstPixel(b), 0xFF123456u);
    const QImage c = NewImageBufferOrThrow(2000, 1500, QImage::Format_RGB32);
    EXPECT_NE(firstPixel(c), 0xFF123456u); // b holds that memory

    QImage big = NewImageBufferOrThrow(3000, 2000, QImage::Format_RGB32);
    big.fill(0xFF654321u);
    big = QImage();
    const QImage small = NewImageBufferOrThrow(1000, 700, QImage::Format_RGB32);
    EXPECT_NE(firstPixel(small), 0xFF654321u);

    QImage d = NewImageBufferOrThrow(1500, 1000, QImage::Format_RGB32);
    d.fill(0xFF0000FFu);
    QImage copy = d;
    copy.setPixel(0, 0, 0xFF00FF00u); // copies on write, as any picture
    EXPECT_EQ(d.pixel(0, 0), 0xFF0000FFu);
    d = QImage();
    copy = QImage();
    run.reset();
    QImage e = NewImageBufferOrThrow(1500, 1000, QImage::Format_RGB32);
    EXPECT_NE(firstPixel(e), 0xFF0000FFu);
    e.fill(0xFFABCDEFu);
    e = QImage();
    EXPECT_NE(firstPixel(NewImageBufferOrThrow(1500, 1000, QImage::Format_RGB32)), 0xFFABCDEFu);
}
