// Saving a captioned 12-megapixel JPEG beside the floor of a bare libjpeg decode and encode of
// the same file, in the same run.
#include "ImageCodecs.h"
#include "RegisterBricks.h"
#include "RenderAndSave.h"
#include "TDesigner.h"
#include "TPictureimg.h"
#include "TSettings.h"
#include "TText.h"
#include "TcPanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QImage makePhoto(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const int n = int((state >> 26) & 0x0F);
            row[x] = qRgb(std::min(255, x * 230 / w + n), std::min(255, y * 230 / h + n),
                          std::min(255, 90 + ((x / 64 + y / 64) % 2) * 60 + n));
        }
    }
    return img;
}

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
    WriteFileBytes(source, EncodeJpeg(makePhoto(4000, 3000), 92));

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

    std::vector<double> floorMs, ours;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        const QImage decoded = DecodeJpeg(ReadFileBytes(source));
        WriteFileBytes(dir.filePath("floor.jpg"), EncodeJpeg(decoded, 95));
        floorMs.push_back(t.nsecsElapsed() / 1e6);

        t.start();
        designer.OpenImage(source, 1.0);
        RenderAndSave(source, dir.filePath("out.jpg"), 0, 0, 0, false, true, false, false);
        ours.push_back(t.nsecsElapsed() / 1e6);
    }
    const double f = median(floorMs), o = median(ours);
    std::printf("12-megapixel JPEG, quality 95, median of %d runs\n", runs);
    std::printf("  floor: libjpeg decode + encode + write      %8.1f ms\n", f);
    std::printf("  open + RenderAndSave (3 texts, 1 picture)   %8.1f ms\n", o);
    std::printf("  ratio                                       %8.2f (goal <= 1.30)\n", o / f);
    return 0;
}
