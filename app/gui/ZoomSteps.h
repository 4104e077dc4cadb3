#pragma once

#include <QSize>
#include <QString>

// The zoom box's entries and the arithmetic of the zoom commands, without widgets. A zoom ratio
// is full-size pixels per preview pixel: 1.0 at 100 %, 2.0 at 50 %.
class ZoomSteps {
public:
    static constexpr int kCount = 17;
    // The preview is drawn at paint time and costs no memory of its size; but a side beyond
    // this is more than widget coordinates are meant to carry, and is not offered.
    static constexpr int kMaxPreviewSide = 1'000'000;

    static int count() { return kCount; }
    static QString text(int index);
    static int percent(int index);
    // The ratio of an entry: 1 / (percent / 100).
    static double ratioOf(int index);

    // The entry the zoom box lands on for a ratio: the last entry (from the second on) whose
    // percentage is at most round(100 / ratio); the first entry when none is.
    static int indexFor(double ratio);
    // One entry larger (Zoom In) or smaller (Zoom Out) than indexFor, held at the ends.
    static int zoomInIndex(double ratio);
    static int zoomOutIndex(double ratio);

    // The preview's size of a full-size picture at an entry (as the surface rounds it).
    static QSize previewSize(QSize full, int index);
    // The largest entry whose preview of the picture has no side above maxSide (the first entry
    // at least): the entries beyond it are not offered.
    static int largestIndexFor(QSize full, int maxSide = kMaxPreviewSide);

    // The ratio that shows a picture whole in the client area: 1.0 when it fits, else the
    // larger of the height and width quotients.
    static double fitRatio(QSize picture, QSize client);
    // The zoom box text for a ratio: round(100 / ratio) and " %".
    static QString textFor(double ratio);
};
