#pragma once

#include "designer/state/CaptionBand.h"

#include "bricks/BrickPlacement.h"
#include "patterns/settings/CaptionFields.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <optional>

// What a batch will write for each photo, drawn small: the photo as fitted and turned, the
// pattern placed on it by the same placement as the render. Nothing here touches a widget: the
// bricks come as plain values (BrickDataOf, taken on the user-interface thread), so tiles are
// made on worker threads.

struct PreviewOptions {
    bool applyPattern = false;
    bool fit = false;
    int width = 0, height = 0;
    bool proportional = true;
    int angle = 0; // the rotation asked for, 0 when none
    bool autoRotate = true;
    int longSide = 200; // of a tile, in pixels
    TCaptionBand band{}; // the pattern's caption band, added to each output
    // The run's camera clock correction; none: the settings' ClockShift.<Model>.
    std::optional<qint64> clockShift;
};

struct PreviewTile {
    QImage image;          // the tile; null when the photo could not be read
    QString error;         // why not
    QSize outputSize;      // what the batch writes, in pixels
    bool offPhoto = false; // a brick falls (partly) off the output
    bool overlap = false;  // two bricks cover each other
    // What the run says of the photo: "photo.jpg: no date taken; dated ... by the settings'
    // default"; empty when nothing.
    QString notice;
    bool skipped = false; // not written: no date taken, and DateFallback=skip
    QList<QRectF> boxes;  // the bricks' boxes on the tile
};

// Where a tile's warning badge of a diameter goes: the first corner of the tile (top right, top
// left, bottom left, bottom right) where it covers none of the boxes, else the one where it covers
// the least of them.
QRect PreviewBadgeRect(const QSize& tile, const QList<QRectF>& boxes, int diameter);

// The size a batch writes for an upright photo of size full (a quarter turn swaps its sides, any
// other angle grows it to the turned picture's bounding box; a fit then resamples it).
QSize PreviewOutputSize(const QSize& full, const PreviewOptions& options);

// The tile of an upright picture (possibly decoded reduced) whose full size is full. With the
// photo's fields, bricks show what the run writes for it: date and time bricks its date taken
// (or the stand-in DateFallback chooses), captions their fields filled; without, their own.
PreviewTile PreviewOnPicture(QImage picture, const QSize& full, QList<BrickData> bricks,
                             const TPhotoFields* fields, const PreviewOptions& options);

// Whether bricks show a date taken: a date or time brick, or a {Date} or {Time} field.
bool BricksShowDate(const QList<BrickData>& bricks);

// Reads a photo file reduced, and its fields ({Counter} is counter), and makes its tile. Safe on
// any thread.
PreviewTile MakePreviewTile(const QString& file, const QList<BrickData>& bricks,
                            const PreviewOptions& options,
                            std::optional<int> counter = std::nullopt);
