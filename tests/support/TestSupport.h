#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
#include <QRect>
#include <QString>
#include <QStringList>
#include <ostream>

// True when both images have the same size and no channel of any pixel differs by more than
// delta. On failure, *why says where (first differing pixel, count of such pixels).
bool fuzzyImageCompare(const QImage& a, const QImage& b, int delta, QString* why = nullptr);

// Share of pixels (0..1) whose channels differ by more than delta; 1 when the sizes differ.
double differingPixelShare(const QImage& a, const QImage& b, int delta);

// Mean absolute difference of the red, green and blue channels over all pixels (0..255);
// both images must have the same size.
double meanChannelDifference(const QImage& a, const QImage& b);

// Ink: the pixels of image that differ from background by more than delta in some channel,
// inside region (the whole image when empty). Their bounding box, centre of mass and count.
struct InkStats {
    QRect box;
    double cx = 0, cy = 0;
    qint64 count = 0;
};
InkStats inkWithin(const QImage& image, const QImage& background, int delta,
                   const QRect& region = QRect());

// Golden comparison block by block, so that a missing or misplaced block fails however small
// it is next to the whole image: inside each region, the ink of actual and of golden (both
// against background) must have the same bounding box within boxTolerance pixels on every
// side (or both be empty), and at most maxShare of the region's pixels may differ by more
// than delta. On failure, *why names the first bad block.
bool blocksMatch(const QImage& actual, const QImage& golden, const QImage& background,
                 const QList<QRect>& blocks, int delta, int boxTolerance, double maxShare,
                 QString* why = nullptr);

// An RGB32 image of one colour.
QImage solidImage(QSize size, QRgb colour);

// The bounding box of the pixels darker than grey level below (dark ink on a light photo).
QRect darkInkBox(const QImage& image, int below);

// A whole pattern file holding one brick of the given stream body (in the file's %CR%LF
// spelling), with extra elements (a band, ...) before the bricks.
QByteArray patternFileWith(const QString& body, const QString& extra = QString());

// Whether libjpeg-turbo's cjpeg and djpeg are on the path (tests that compare with them skip
// otherwise).
bool haveJpegTools();
// Runs a command-line tool to its end, expecting success; its standard output, with its
// standard error (where djpeg's warnings land) in *err.
QByteArray runTool(const QString& tool, const QStringList& args, QString* err = nullptr);

// A deterministic photo-like test image: smooth gradients, with some texture unless smooth.
QImage makeTestPhoto(int width, int height, quint32 seed = 1, bool smooth = false);

// EXIF by hand: an APP1 segment (marker included) holding an Intel-order IFD0 with the given
// ASCII entries; a bare JPEG of that segment alone (SOI, APP1, EOI: no picture); and a real JPEG
// whose first segment is replaced by it.
using AsciiEntries = QList<QPair<quint16, QByteArray>>;
QByteArray exifSegment(const AsciiEntries& entries);
QByteArray exifJpeg(const AsciiEntries& entries);
QByteArray withExif(const QByteArray& jpeg, const AsciiEntries& entries);

// A fuller hand-built block (Intel order): IFD0 with an Orientation entry (SHORT, first, when
// orientation is above 0) and its ASCII entries, then, when exif is not empty, a pointer to an
// Exif sub-directory holding those ASCII entries.
struct ExifBlock {
    AsciiEntries main;
    AsciiEntries exif;
    quint16 orientation = 0;
};
QByteArray exifBlockSegment(const ExifBlock& block);
QByteArray exifBlockJpeg(const ExifBlock& block);                         // SOI, APP1, EOI
QByteArray withExifBlock(const QByteArray& jpeg, const ExifBlock& block); // first segment replaced

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
