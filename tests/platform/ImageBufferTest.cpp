#include "platform/ImageBuffer.h"

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
