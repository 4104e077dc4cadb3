// One zoom step of the main window on a 12-megapixel photo, as the user sees it: the zoom box's
// command, then the visible part of the picture painted. Beside each step the process's
// resident memory, so that a preview that grows with the zoom shows.
#include "app/gui/TProjectManager.h"
#include "app/gui/ZoomSteps.h"
#include "batch/explorer/TfrmBottom.h"
#include "bench/BenchSupport.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TText.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/core/ImageCodecs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Resident set size now, in MB.
double residentMb() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1e6 : 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("CAPTIOMARK_CONFIG_DIR", config.path().toLocal8Bit());
    QFile ini(config.filePath(QStringLiteral("Captiomark.ini")));
    if (ini.open(QIODevice::WriteOnly))
        ini.write("[Preferences]\nShowTip=false\n");
    ini.close();
    QApplication app(argc, argv);
    RegisterBricks();
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("photo.jpg"));
    WriteFileBytes(source, EncodeJpeg(MakeBenchPhoto(4000, 3000, 4242), 92));

    TProjectManager window;
    window.RegisterStandardBricks();
    window.resize(1600, 1000);
    // The picture gets the whole client area, as before the explorer was shown at start, so
    // that the figures of both stay comparable.
    if (TfrmBottom* explorer = window.explorer())
        explorer->hide();
    window.show();
    QApplication::processEvents();
    if (!window.OpenImage(source)) {
        std::printf("cannot open the photo\n");
        return 1;
    }
    TDesigner& d = *window.designer();
    // One caption in the middle of the photo, as a pattern has.
    auto* text = new TText(d.Panel1);
    d.AddComponent(text);
    text->setCaption(QStringLiteral("Lake shore, evening"));
    text->Font()->setSize(96);
    text->FullLeft = 1600;
    text->FullTop = 1400;
    text->show();
    PhotoChanged(d);
    auto* scroll = qobject_cast<QScrollArea*>(window.centralWidget());
    const auto paintVisible = [&] {
        // Scrolled to the middle, as after zooming into a detail; then painted as the screen
        // would be.
        scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->maximum() / 2);
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum() / 2);
        scroll->viewport()->repaint();
    };
    window.fitToPage();
    paintVisible();
    std::printf("12-megapixel photo (4000 x 3000), window 1600 x 1000, viewport %d x %d\n",
                scroll->viewport()->width(), scroll->viewport()->height());
    std::printf("after opening (fitted): resident %.0f MB\n\n", residentMb());

    // Each level reached from 100 %, so that every figure is one step of the zoom box.
    const QList<int> percents = {20, 50, 70, 100, 120, 140, 200, 300, 600};
    std::printf("%-8s %12s %12s %14s\n", "zoom", "step (ms)", "paint (ms)", "resident (MB)");
    for (int percent : percents) {
        int index = -1;
        for (int i = 0; i < ZoomSteps::count(); ++i)
            if (ZoomSteps::percent(i) == percent)
                index = i;
        if (index < 0 || index > ZoomSteps::largestIndexFor(d.realPicture.size())) {
            std::printf("%-8d %12s\n", percent, "not offered");
            continue;
        }
        std::vector<double> steps, paints;
        double resident = 0;
        for (int r = -1; r < runs; ++r) {
            window.actualSize();
            paintVisible();
            QElapsedTimer t;
            t.start();
            window.chooseZoom(index);
            const double zoomed = t.nsecsElapsed() / 1e6;
            paintVisible();
            const double total = t.nsecsElapsed() / 1e6;
            if (r >= 0) {
                steps.push_back(total);
                paints.push_back(total - zoomed);
            }
            resident = std::max(resident, residentMb());
        }
        std::printf("%-8d %12.1f %12.1f %14.0f\n", percent, median(steps), median(paints),
                    resident);
    }
    return 0;
}
