// The folder list over a folder of 12-megapixel JPEGs: time to the first paint, the event loop's
// worst delay while the thumbnails fill in, the time until all are in, and a second opening that
// reads the thumbnail cache.
//
//   bench_explorer DIR [COUNT]   writes COUNT (2000) photos of 4000 x 3000 into DIR unless they
//                                are there already, then measures (with a fresh thumbnail cache)
//   bench_explorer --shot OUT.png DIR   a picture of the explorer docked in a window over DIR
#include "batch/explorer/TFolderList.h"
#include "batch/explorer/TfrmBottom.h"
#include "bench/BenchSupport.h"
#include "imaging/core/ImageCodecs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

QString photoPath(const QString& dir, int i) {
    return QStringLiteral("%1/IMG_%2.jpg").arg(dir).arg(i + 1, 4, 10, QLatin1Char('0'));
}

// A few distinct photos, copied under COUNT names: decoding costs the same for each copy, and
// generating 2,000 different 12-megapixel pictures would take longer than the measurement.
void generate(const QString& dir, int count) {
    QDir().mkpath(dir);
    constexpr int Distinct = 8;
    QList<QByteArray> photos;
    for (int i = 0; i < Distinct; ++i)
        photos.append(EncodeJpeg(MakeBenchPhoto(4000, 3000, quint32(i + 1)), 92));
    for (int i = 0; i < count; ++i)
        if (!QFileInfo::exists(photoPath(dir, i)))
            WriteFileBytes(photoPath(dir, i), photos[i % Distinct]);
}

// Notes the first paint of the list after it was armed.
class PaintWatch : public QObject {
public:
    QElapsedTimer* clock = nullptr;
    double firstPaint = -1;
    bool armed = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (armed && event->type() == QEvent::Paint) {
            armed = false;
            firstPaint = clock->nsecsElapsed() / 1e6;
        }
        return QObject::eventFilter(watched, event);
    }
};

struct Opening {
    double showFolder = 0; // ShowFolder itself
    double firstPaint = 0;
    double allThumbnails = 0;
    double worstDelay = 0; // of a 10 ms timer, beyond its interval
    int ticks = 0;
};

Opening open(TFolderList& list, PaintWatch& watch, const QString& dir) {
    Opening o;
    QElapsedTimer clock;
    watch.clock = &clock;
    QEventLoop loop;
    bool finished = false;
    const auto done = QObject::connect(list.Model(), &TFolderModel::thumbnailsFinished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QElapsedTimer sinceTick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        o.worstDelay = std::max(o.worstDelay, sinceTick.nsecsElapsed() / 1e6 - 10);
        sinceTick.restart();
        ++o.ticks;
    });

    clock.start();
    watch.armed = true;
    list.ShowFolder(dir);
    o.showFolder = clock.nsecsElapsed() / 1e6;
    list.viewport()->update();
    sinceTick.start();
    tick.start();
    if (!finished)
        loop.exec();
    o.allThumbnails = clock.nsecsElapsed() / 1e6;
    // The paint may still be pending when everything came from the cache at once.
    while (watch.armed)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    o.firstPaint = watch.firstPaint;
    QObject::disconnect(done);
    return o;
}

void print(const char* what, const Opening& o) {
    std::printf("%s: ShowFolder %.1f ms, first paint %.1f ms, all thumbnails %.0f ms, "
                "worst event-loop delay %.1f ms over %d ticks\n",
                what, o.showFolder, o.firstPaint, o.allThumbnails, o.worstDelay, o.ticks);
}

int screenshot(const QString& out, const QString& dir) {
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    QMainWindow window;
    window.resize(900, 520);
    auto* centre = new QLabel(QStringLiteral("(design surface)"), &window);
    centre->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(centre);
    auto* explorer = new TfrmBottom(&window, dir);
    window.addDockWidget(Qt::BottomDockWidgetArea, explorer);
    window.show();
    window.resizeDocks({explorer}, {300}, Qt::Vertical);
    explorer->ListView->Model()->WaitForThumbnails();
    explorer->ListView->selectionModel()->setCurrentIndex(explorer->ListView->Model()->index(1),
                                                          QItemSelectionModel::ClearAndSelect);
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    return window.grab().save(out) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--shot")
        return screenshot(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_explorer DIR [COUNT]\n");
        return 2;
    }
    const QString dir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int count = argc > 2 ? std::atoi(argv[2]) : 2000;
    QElapsedTimer t;
    t.start();
    generate(dir, count);
    std::printf("%d photos of 4000 x 3000 in %s (made in %.0f s)\n", count, qPrintable(dir),
                t.elapsed() / 1000.0);

    // The floor: one reduced-scale decode, as the workers do it.
    const QByteArray bytes = ReadFileBytes(photoPath(dir, 0));
    QList<double> decodes;
    for (int i = 0; i < 9; ++i) {
        QElapsedTimer d;
        d.start();
        const QImage image = DecodeJpegScaled(bytes, 128, 96);
        decodes.append(d.nsecsElapsed() / 1e6);
        if (image.width() != 500)
            std::printf("unexpected decode size %d\n", image.width());
    }
    std::sort(decodes.begin(), decodes.end());
    const double decode = decodes[decodes.size() / 2];
    const int cores = QThread::idealThreadCount();
    const double bound = 2 * count * decode / cores;
    std::printf("reduced-scale decode (1/8, 500 x 375): median %.2f ms; goal for all thumbnails "
                "2 x %d x %.2f / %d cores = %.0f ms\n",
                decode, count, decode, cores, bound);

    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    TFolderList list;
    list.resize(1000, 700);
    PaintWatch watch;
    list.viewport()->installEventFilter(&watch);
    list.show();
    QApplication::processEvents();

    const Opening first = open(list, watch, dir);
    print("first opening (no cache)", first);
    std::printf("  all thumbnails / goal = %.2f\n", first.allThumbnails / bound);
    // Away and back, so that the second opening starts from an empty list.
    list.ShowFolder(cache.path());
    list.Model()->WaitForThumbnails();
    const Opening second = open(list, watch, dir);
    print("second opening (cache)", second);
    return 0;
}
