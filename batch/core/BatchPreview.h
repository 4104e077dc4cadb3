#pragma once

#include "designer/state/CaptionBand.h"

#include "bricks/BrickPlacement.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

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
};

struct PreviewTile {
    QImage image;          // the tile; null when the photo could not be read
    QString error;         // why not
    QSize outputSize;      // what the batch writes, in pixels
    bool offPhoto = false; // a brick falls (partly) off the output
    bool overlap = false;  // two bricks cover each other
};

// The size a batch writes for an upright photo of size full (a quarter turn swaps its sides, any
// other angle grows it to the turned picture's bounding box; a fit then resamples it).
QSize PreviewOutputSize(const QSize& full, const PreviewOptions& options);

// The tile of an upright picture (possibly decoded reduced) whose full size is full; date and
// time bricks show dateValue when it is set (the photo's EXIF date).
PreviewTile PreviewOnPicture(QImage picture, const QSize& full, QList<BrickData> bricks,
                             std::optional<double> dateValue, const PreviewOptions& options);

// Reads a photo file reduced and makes its tile. Safe on any thread.
PreviewTile MakePreviewTile(const QString& file, const QList<BrickData>& bricks,
                            const PreviewOptions& options);
