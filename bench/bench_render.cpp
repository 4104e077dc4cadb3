// Saving a captioned 12-megapixel JPEG beside the floor of a bare libjpeg decode and encode of
// the same file, in the same run.
#include "bench/BenchSupport.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/settings/TSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("CAPTIOMARK_CONFIG_DIR", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    RegisterBricks();
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QTemporaryDir dir;
    const QString source = dir.filePath("photo.jpg");
    WriteFileBytes(source, WithBenchExif(EncodeJpeg(MakeBenchPhoto(4000, 3000, 12345), 92),
                                         "2026:12:08 10:11:12"));

    TDesigner designer;
    designer.OpenImage(source, 1.0);
    const char* captions[] = {"Summer 2026", "Captiomark", "Lake shore, evening"};
    for (int i = 0; i < 3; ++i) {
        auto* t = new TText(designer.Panel1);
        designer.AddComponent(t);
        t->FullLeft = 200 + i * 900;
        t->FullTop = 300 + i * 800;
        t->Font()->setSize(48 + i * 24);
        t->Angle = i == 1 ? 450 : 0;
        t->setCaption(QString::fromLatin1(captions[i]));
        t->FitToText();
    }
    auto* logo = new TPictureimg(designer.Panel1);
    designer.AddComponent(logo);
    QImage logoImage(256, 128, QImage::Format_ARGB32);
    logoImage.fill(Qt::transparent);
    QPainter(&logoImage).fillRect(16, 16, 224, 96, QColor(255, 255, 255, 180));
    logo->Picture()->setGraphic({QStringLiteral("TPngImage"), QByteArray(), logoImage});
    logo->FullLeft = 3400;
    logo->FullTop = 2600;
    logo->FullWidth = 512;
    logo->FullHeight = 256;
    Settings().defaultCompressionQuality = 95;

    if (designer.realExif.Entries.isEmpty())
        std::printf("warning: the source has no EXIF block\n");
    std::vector<double> floorMs, ours, decodeMs, encodeMs;
    for (int r = -1; r < runs; ++r) { // the first round warms caches and is not counted
        QElapsedTimer t;
        t.start();
        const QImage decoded = DecodeJpeg(ReadFileBytes(source));
        const double decoding = t.nsecsElapsed() / 1e6;
        const QByteArray encoded = EncodeJpeg(decoded, 95);
        const double encoding = t.nsecsElapsed() / 1e6 - decoding;
        WriteFileBytes(dir.filePath("floor.jpg"), encoded);
        if (r >= 0) {
            floorMs.push_back(t.nsecsElapsed() / 1e6);
            decodeMs.push_back(decoding);
            encodeMs.push_back(encoding);
        }

        t.start();
        designer.OpenImage(source, 1.0);
        RenderAndSave(designer, source, {.newName = dir.filePath("out.jpg")});
        if (r >= 0)
            ours.push_back(t.nsecsElapsed() / 1e6);
    }
    const double f = median(floorMs), o = median(ours);
    std::printf("12-megapixel JPEG, quality 95, median of %d runs\n", runs);
    std::printf("  floor: libjpeg decode + encode + write      %8.1f ms\n", f);
    std::printf("    of which decode %.1f ms, encode %.1f ms\n", median(decodeMs),
                median(encodeMs));
    std::printf("  open + RenderAndSave (3 texts, 1 picture)   %8.1f ms\n", o);
    std::printf("  ratio                                       %8.2f (goal <= 1.30)\n", o / f);
    return 0;
}
