#pragma once

#include <QImage>
#include <QString>
#include <ostream>

// True when both images have the same size and no channel of any pixel differs by more than
// delta. On failure, *why says where (first differing pixel, count of such pixels).
bool fuzzyImageCompare(const QImage& a, const QImage& b, int delta, QString* why = nullptr);

// Share of pixels (0..1) whose channels differ by more than delta; 1 when the sizes differ.
double differingPixelShare(const QImage& a, const QImage& b, int delta);

// A deterministic photo-like test image: smooth gradients, with some texture unless smooth.
QImage makeTestPhoto(int width, int height, quint32 seed = 1, bool smooth = false);

// Folder of the camera sample files ("" when absent) and of the committed fixtures.
QString sharedTestDataDir();
QString fixturePath(const QString& relative);

// Golden images: tests/golden/<name>.png. With CAPTIOMARK_UPDATE_GOLDEN=1 the actual image is
// written there instead (to be checked by eye before committing).
QString goldenPath(const QString& name);
bool updatingGoldens();

// Readable Qt types in GoogleTest messages.
void PrintTo(const QString& s, std::ostream* os);
void PrintTo(const QSize& s, std::ostream* os);
void PrintTo(const QRect& r, std::ostream* os);
void PrintTo(const QPoint& p, std::ostream* os);
