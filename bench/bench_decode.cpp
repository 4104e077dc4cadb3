// Decoding a JPEG with our Huffman decoder in libjpeg's place beside libjpeg alone, at full size
// and at half size (the batch's fit), on the same file in the same run: thread CPU time, the
// fastest of the runs.
//
//   bench_decode [runs] photo.jpg...
#include "imaging/core/ImageCodecs.h"

#include <QFile>
#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

namespace {

double threadCpuMs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double fastest(int runs, const std::function<QImage()>& decode) {
    double best = 1e18;
    for (int r = 0; r < runs; ++r) {
        const double t0 = threadCpuMs();
        const QImage image = decode();
        best = std::min(best, threadCpuMs() - t0);
        if (image.isNull())
            std::fprintf(stderr, "decode failed\n");
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    for (int i = 2; i < argc; ++i) {
        QFile file(QString::fromLocal8Bit(argv[i]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const QByteArray bytes = file.readAll();
        const QImage probe = DecodeJpeg(bytes);
        const int w = probe.width(), h = probe.height();
        std::printf("%s (%d x %d, %lld bytes), fastest of %d runs, thread CPU time\n", argv[i], w,
                    h, static_cast<long long>(bytes.size()), runs);
        const double oursFull = fastest(runs, [&] { return DecodeJpeg(bytes); });
        const double libFull =
            fastest(runs, [&] { return DecodeJpegScaledByLibjpeg(bytes, w, h); });
        const double oursHalf =
            fastest(runs, [&] { return DecodeJpegScaled(bytes, (w + 1) / 2, (h + 1) / 2); });
        const double libHalf = fastest(
            runs, [&] { return DecodeJpegScaledByLibjpeg(bytes, (w + 1) / 2, (h + 1) / 2); });
        std::printf("  full size: ours %7.1f ms, libjpeg alone %7.1f ms (%.2f)\n", oursFull,
                    libFull, oursFull / libFull);
        std::printf("  half size: ours %7.1f ms, libjpeg alone %7.1f ms (%.2f)\n", oursHalf,
                    libHalf, oursHalf / libHalf);
    }
    return 0;
}
