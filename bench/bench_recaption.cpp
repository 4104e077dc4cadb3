// Captioning a 12-megapixel JPEG in place (only the touched MCUs encoded again; the coded bits of
// the others copied, or every block coded again) beside a bare libjpeg decode and encode at
// quality 95 of the same file, in the same run.
//
//   bench_recaption [runs] [photo.jpg]     (default: a generated photo)
#include "bench/BenchSupport.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegRecaption.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

// CPU time of this thread in ms: steadier than wall time on a shared machine.
double threadCpuMs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Caption {
    QRect area;
    const char* text;
};

const Caption Captions[] = {
    {QRect(200, 300, 900, 120), "Summer 2026"},
    {QRect(1100, 1500, 1400, 160), "Lake shore, evening"},
    {QRect(3400, 2600, 512, 256), "Captiomark"},
};

void paintCaptions(QImage& band, const QPoint& origin) {
    QPainter p(&band);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-origin);
    for (const Caption& c : Captions) {
        p.fillRect(c.area, QColor(255, 255, 255, 160));
        QFont font;
        font.setPixelSize(c.area.height() * 2 / 3);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(c.area, Qt::AlignCenter, QString::fromLatin1(c.text));
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QByteArray source;
    if (argc > 2) {
        QFile f(QString::fromLocal8Bit(argv[2]));
        if (!f.open(QIODevice::ReadOnly)) {
            std::printf("cannot read %s\n", argv[2]);
            return 1;
        }
        source = f.readAll();
    } else {
        source =
            WithBenchExif(EncodeJpeg(MakeBenchPhoto(4000, 3000, 12345), 92), "2026:12:08 10:11:12");
    }
    if (!RecaptionUnsupportedReason(source).isEmpty())
        std::printf("warning: the photo cannot be captioned in place\n");
    QList<QRect> areas;
    for (const Caption& c : Captions)
        areas.append(c.area);

    std::vector<double> floorMs, ours, recoded, floorCpu, oursCpu, recodedCpu;
    qsizetype floorSize = 0, ourSize = 0;
    for (int r = -1; r < runs; ++r) { // the first round warms caches and is not counted
        QElapsedTimer t;
        t.start();
        double c = threadCpuMs();
        const QByteArray encoded = EncodeJpeg(DecodeJpeg(source), 95);
        if (r >= 0) {
            floorMs.push_back(t.nsecsElapsed() / 1e6);
            floorCpu.push_back(threadCpuMs() - c);
        }
        floorSize = encoded.size();

        t.start();
        c = threadCpuMs();
        const QByteArray captioned = RecaptionJpeg(source, areas, paintCaptions);
        if (r >= 0) {
            ours.push_back(t.nsecsElapsed() / 1e6);
            oursCpu.push_back(threadCpuMs() - c);
        }
        ourSize = captioned.size();

        t.start();
        c = threadCpuMs();
        const QByteArray all =
            RecaptionJpeg(source, areas, paintCaptions, RecaptionPath::RecodeAll);
        if (r >= 0) {
            recoded.push_back(t.nsecsElapsed() / 1e6);
            recodedCpu.push_back(threadCpuMs() - c);
        }
    }
    const double f = median(floorMs), o = median(ours), a = median(recoded);
    const double fc = median(floorCpu), oc = median(oursCpu), ac = median(recodedCpu);
    std::printf("%s (%lld bytes), 3 captions, median of %d runs\n",
                argc > 2 ? argv[2] : "generated 12-megapixel JPEG",
                static_cast<long long>(source.size()), runs);
    std::printf("  (wall time; CPU time of the thread in brackets)\n");
    std::printf("  libjpeg decode + encode at quality 95     %8.1f ms  [%6.1f]  (%lld bytes)\n", f,
                fc, static_cast<long long>(floorSize));
    std::printf("  RecaptionJpeg                             %8.1f ms  [%6.1f]  (%lld bytes)\n", o,
                oc, static_cast<long long>(ourSize));
    std::printf("  RecaptionJpeg, every block coded again    %8.1f ms  [%6.1f]\n", a, ac);
    std::printf("  ratio                                     %8.2f [%.2f] (goal <= 0.25; coding "
                "every block: %.2f [%.2f])\n",
                o / f, oc / fc, a / f, ac / fc);
    return 0;
}
