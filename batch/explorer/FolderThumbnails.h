#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <functional>

// The 50 x 50 thumbnails of the folder lists. Everything here is safe to call from worker
// threads: it touches no widget, pixmap or style.

constexpr int ThumbnailSide = 50;
// The sides the explorer offers.
constexpr int ThumbnailSides[] = {50, 100, 200};

// Where a W x H picture is stretched on a thumbnail of the side: the full width (or height) for
// the longer side, centred on the other, e.g. 640 x 480 on 50 gives left 0, top 7, right 49,
// bottom 43 (right and bottom exclusive: QRect(0, 7, 49, 36)).
QRect ThumbnailRect(int width, int height, int side = ThumbnailSide);

struct FileThumbnail {
    QImage image;     // side x side, RGB32
    QString typeText; // the full path, or "JPG 640 x 480" when drawn from the loaded picture
    bool fromCache = false;
    bool unreadable = false; // the file could not be decoded: image is the unreadable picture
};

// Thumbnails are drawn only from regular files (or links to one) of at most this size (256 MB);
// a pipe, a device, a socket or a larger file gets the unreadable picture without being read.
constexpr qint64 MaxThumbnailFileSize = qint64(256) << 20;

// The thumbnail of one file, side x side: the desktop's thumbnail cache when it holds a current
// one large enough (drawn centred on the background colour), else the decoded picture (JPEG at
// a reduced scale) turned upright by its EXIF orientation and stretched into ThumbnailRect on
// white, which is then stored in the cache; a file that cannot be read or decoded gets the
// unreadable picture on white. The type text gives the upright size. Failures are not reported.
// cancelled, when given, is asked while the file is read and between the steps; once it answers
// true the work stops and the unreadable picture comes back.
FileThumbnail MakeFileThumbnail(const QString& path, const QColor& background,
                                const QImage& unreadable, bool useCache = true,
                                int side = ThumbnailSide,
                                const std::function<bool()>& cancelled = {});

// A picture (folder, unreadable file) on a white thumbnail, centred.
QImage ThumbnailOfIcon(const QImage& icon, int side = ThumbnailSide);
