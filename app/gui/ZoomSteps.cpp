#include "app/gui/ZoomSteps.h"

#include "platform/Rounding.h"

#include <algorithm>

namespace {
struct Entry {
    const char* text;
    int percent;
};
// "600  %" and "1000  %" carry two blanks, as the box has always shown them.
constexpr Entry kEntries[ZoomSteps::kCount] = {
    {"1 %", 1},       {"3 %", 3},       {"10 %", 10},   {"20 %", 20},    {"30 %", 30},
    {"40 %", 40},     {"50 %", 50},     {"70 %", 70},   {"100 %", 100},  {"120 %", 120},
    {"140 %", 140},   {"200 %", 200},   {"300 %", 300}, {"600  %", 600}, {"1000  %", 1000},
    {"2000 %", 2000}, {"3000 %", 3000},
};
} // namespace

QString ZoomSteps::text(int index) {
    return QString::fromLatin1(kEntries[index].text);
}

int ZoomSteps::percent(int index) {
    return kEntries[index].percent;
}

double ZoomSteps::ratioOf(int index) {
    return 1.0 / (kEntries[index].percent / 100.0);
}

int ZoomSteps::indexFor(double ratio) {
    const int p = RoundHalfEven(1.0 / ratio * 100.0);
    int selected = 0;
    for (int i = 1; i < kCount; ++i) {
        if (kEntries[i].percent > p)
            break;
        selected = i;
    }
    return selected;
}

int ZoomSteps::zoomInIndex(double ratio) {
    return std::min(indexFor(ratio) + 1, kCount - 1);
}

int ZoomSteps::zoomOutIndex(double ratio) {
    return std::max(indexFor(ratio) - 1, 0);
}

QSize ZoomSteps::previewSize(QSize full, int index) {
    const double ratio = ratioOf(index);
    return {std::max(1, RoundHalfEven(full.width() / ratio)),
            std::max(1, RoundHalfEven(full.height() / ratio))};
}

int ZoomSteps::largestIndexFor(QSize full, int maxSide) {
    int largest = 0;
    for (int i = 1; i < kCount; ++i) {
        const QSize preview = previewSize(full, i);
        if (std::max(preview.width(), preview.height()) > maxSide)
            break;
        largest = i;
    }
    return largest;
}

double ZoomSteps::fitRatio(QSize picture, QSize client) {
    if (picture.isEmpty() || client.isEmpty())
        return 1.0;
    if (picture.height() <= client.height() && picture.width() <= client.width())
        return 1.0;
    return std::max(double(picture.height()) / client.height(),
                    double(picture.width()) / client.width());
}

QString ZoomSteps::textFor(double ratio) {
    return QString::number(RoundHalfEven(100.0 / ratio)) + QStringLiteral(" %");
}
