// The batch job over 12-megapixel photos: a pattern of three text bricks and a picture brick,
// fit to 1600 x 1200, rotate 90.
//
//   bench_batch generate DIR [COUNT]  writes COUNT (20) photos with EXIF, logo.png and
//                                     pattern.xml into DIR
//   bench_batch run DIR               runs the job in this process over DIR/*.jpg and prints
//                                     the time per file and the peak resident memory
//
// scripts/bench-batch.sh runs both, the command-line tool and ImageMagick's mogrify on copies of
// the same files.
#include "batch/core/TBatchJob.h"
#include "bench/BenchSupport.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/ImageCodecs.h"
#include "patterns/file/PatternFile.h"
#include "patterns/settings/TSettings.h"
#include "platform/Messages.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <cstdio>
#include <sys/resource.h>

namespace {

QImage makeLogo() {
    QImage logo(256, 128, QImage::Format_ARGB32);
    logo.fill(Qt::transparent);
    QPainter p(&logo);
    p.fillRect(16, 16, 224, 96, QColor(255, 255, 255, 180));
    p.setPen(QColor(20, 40, 120));
    QFont f = p.font();
    f.setPixelSize(48);
    p.setFont(f);
    p.drawText(QRect(16, 16, 224, 96), Qt::AlignCenter, QStringLiteral("LOGO"));
    return logo;
}

QByteArray pngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

int generate(const QString& dir, int count) {
    QDir().mkpath(dir);
    for (int i = 0; i < count; ++i) {
        const QString path =
            QStringLiteral("%1/IMG_%2.jpg").arg(dir).arg(i + 1, 4, 10, QLatin1Char('0'));
        WriteFileBytes(path,
                       WithBenchExif(EncodeJpeg(MakeBenchPhoto(4000, 3000, quint32(i + 1)), 92),
                                     QStringLiteral("2026:07:%1 10:11:12")
                                         .arg(i + 1, 2, 10, QLatin1Char('0'))
                                         .toLatin1()));
    }
    const QImage logo = makeLogo();
    logo.save(dir + QStringLiteral("/logo.png"));

    // The pattern is laid out at zoom 1: preview and full-size positions are the same. The
    // bricks are drawn on the rotated picture, so they stand inside 3000 x 4000.
    TDesigner designer;
    designer.ZoomRatio = 1.0;
    const char* captions[] = {"Summer 2026", "Captiomark", "Lake shore, evening"};
    for (int i = 0; i < 3; ++i) {
        auto* t = new TText(designer.Panel1);
        designer.AddComponent(t);
        t->Font()->setSize(48 + i * 24);
        t->setCaption(QString::fromLatin1(captions[i]));
        t->SetBounds(i == 1 ? 1100 : 200, 300 + i * 850, t->Width(), t->Height());
    }
    auto* pic = new TPictureimg(designer.Panel1);
    designer.AddComponent(pic);
    pic->Picture()->setGraphic({QStringLiteral("TPngImage"), pngBytes(logo), logo});
    pic->SetBounds(2400, 3400, 512, 256);
    WritePattern(dir + QStringLiteral("/pattern.xml"), designer);
    std::printf("wrote %d photos of 4000 x 3000, logo.png and pattern.xml into %s\n", count,
                qPrintable(dir));
    return 0;
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

int run(const QString& dir) {
    TDesigner designer;
    designer.ZoomRatio = 1.0;
    ReadPattern(dir + QStringLiteral("/pattern.xml"), designer);
    QList<TShellItem> items;
    for (const QFileInfo& f :
         QDir(dir).entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name)) {
        TShellItem item;
        item.FullPath = item.TypeText = f.absoluteFilePath();
        items.append(item);
    }
    TRenameTemplate names;
    TBatchOptions options;
    options.ApplyPattern = true;
    options.Fit = true;
    options.Width = 1600;
    options.Height = 1200;
    options.Rotate = true;
    options.Angle = 90;
    const long before = peakKiB();

    TBatchJob job(items, names);
    QElapsedTimer t;
    QList<double> perFile;
    qint64 last = 0;
    job.OnItemDone = [&](int, const QString&) {
        perFile.append((t.nsecsElapsed() - last) / 1e6);
        last = t.nsecsElapsed();
    };
    t.start();
    const TBatchResult r = job.Run(designer, options);
    const double total = t.nsecsElapsed() / 1e6;
    if (r.Outcome != TBatchOutcome::Completed)
        return 1;
    std::sort(perFile.begin(), perFile.end());
    std::printf("in-process job: %d files in %.0f ms (median %.0f ms per file)\n", r.Processed,
                total, perFile.isEmpty() ? 0.0 : perFile[perFile.size() / 2]);
    std::printf("peak resident memory: %.1f MB (%.1f MB before the job)\n", peakKiB() / 1024.0,
                before / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RegisterBricks();
    const QStringList args = QApplication::arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("generate"))
        return generate(args[2], args.size() > 3 ? std::max(1, args[3].toInt()) : 20);
    if (args.size() >= 3 && args[1] == QLatin1String("run")) {
        SetMessageHandler(
            [](MessageKind, const QString& text) { std::printf("%s\n", qPrintable(text)); });
        return run(args[2]);
    }
    std::fprintf(stderr, "usage: bench_batch generate DIR [COUNT] | run DIR\n");
    return 2;
}
