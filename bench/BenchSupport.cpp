#include "bench/BenchSupport.h"

#include <algorithm>

QImage MakeBenchPhoto(int w, int h, quint32 seed) {
    QImage img(w, h, QImage::Format_RGB32);
    quint32 state = seed;
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const int n = int((state >> 26) & 0x0F);
            row[x] = qRgb(std::min(255, x * 230 / w + n), std::min(255, y * 230 / h + n),
                          std::min(255, 90 + ((x / 64 + y / 64 + int(seed)) % 2) * 60 + n));
        }
    }
    return img;
}

QByteArray WithBenchExif(const QByteArray& jpeg, const QByteArray& dateTime) {
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    auto u16 = [&](int v) { tiff.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            tiff.append(char((v >> (8 * i)) & 0xFF));
    };
    u16(2);
    u16(0x010F), u16(2), u32(6), u32(38);
    u16(0x0132), u16(2), u32(quint32(dateTime.size() + 1)), u32(44);
    u32(0);
    tiff.append("Bench", 6).append(dateTime).append('\0');
    QByteArray app1("\xFF\xE1", 2);
    const int len = 2 + 6 + int(tiff.size());
    app1.append(char(len >> 8)).append(char(len & 0xFF)).append("Exif\0\0", 6).append(tiff);
    const int firstLen = (uchar(jpeg[4]) << 8) | uchar(jpeg[5]);
    return jpeg.left(2) + app1 + jpeg.mid(4 + firstLen);
}
