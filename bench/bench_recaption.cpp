// Captioning a 12-megapixel JPEG in place (only the touched MCUs encoded again) beside a bare
// libjpeg decode and encode at quality 95 of the same file, in the same run.
#include "bench/BenchSupport.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegRecaption.h"

#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

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

    const QByteArray source =
        WithBenchExif(EncodeJpeg(MakeBenchPhoto(4000, 3000, 12345), 92), "2026:12:08 10:11:12");
    if (!RecaptionUnsupportedReason(source).isEmpty())
        std::printf("warning: the photo cannot be captioned in place\n");
    QList<QRect> areas;
    for (const Caption& c : Captions)
        areas.append(c.area);

    std::vector<double> floorMs, ours;
    qsizetype floorSize = 0, ourSize = 0;
    for (int r = -1; r < runs; ++r) { // the first round warms caches and is not counted
        QElapsedTimer t;
        t.start();
        const QByteArray encoded = EncodeJpeg(DecodeJpeg(source), 95);
        if (r >= 0)
            floorMs.push_back(t.nsecsElapsed() / 1e6);
        floorSize = encoded.size();

        t.start();
        const QByteArray captioned = RecaptionJpeg(source, areas, paintCaptions);
        if (r >= 0)
            ours.push_back(t.nsecsElapsed() / 1e6);
        ourSize = captioned.size();
    }
    const double f = median(floorMs), o = median(ours);
    std::printf("12-megapixel JPEG (%lld bytes), 3 captions, median of %d runs\n",
                static_cast<long long>(source.size()), runs);
    std::printf("  libjpeg decode + encode at quality 95     %8.1f ms  (%lld bytes)\n", f,
                static_cast<long long>(floorSize));
    std::printf("  RecaptionJpeg                             %8.1f ms  (%lld bytes)\n", o,
                static_cast<long long>(ourSize));
    std::printf("  ratio                                     %8.2f (goal <= 0.45)\n", o / f);
    return 0;
}
