#pragma once

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>

// The desktop's shared thumbnail cache (freedesktop.org Thumbnail Managing Standard):
// $XDG_CACHE_HOME/thumbnails (else ~/.cache/thumbnails), one PNG per file named after the MD5 of
// the file's URI, valid while its Thumb::URI and Thumb::MTime match the file.
namespace ThumbnailCache {

enum class Size { Normal, Large }; // 128 and 256 pixels on the longer side

QString CacheRoot();
// "file:///..." with the path percent-encoded, as the cache's names and keys take it.
QString FileUri(const QString& path);
QString ThumbnailPath(const QString& uri, Size size);

// The PNG with uncompressed tEXt chunks (Latin-1 keys and values) put right after its header.
QByteArray WithPngTexts(const QByteArray& png, const QList<QPair<QByteArray, QByteArray>>& texts);
// The tEXt (and zTXt) chunks of a PNG before its pixel data, by key.
QHash<QString, QString> PngTexts(const QByteArray& png);

// The cached thumbnail of a file, or a null image when there is none, it is stale, or it is not
// a regular file of thumbnail size (a pipe or a device in the cache is not read). Looks in
// "normal" first (unless least is Large), then "large". *original receives the picture's size
// when the PNG records it.
QImage Read(const QString& path, QSize* original = nullptr, Size least = Size::Normal);

// Stores a thumbnail (scaled down to fit the size when it is larger) with Thumb::URI,
// Thumb::MTime, Thumb::Size and the original's size, through a temporary file of mode 0600
// renamed into place. The cache's folders are created with mode 0700 (and set to it); a folder
// that is a symbolic link or belongs to another user is neither changed nor written into, and a
// link at the thumbnail's name is replaced, never written through. Returns why it failed, empty
// on success. Files inside the cache itself are never stored.
QString Write(const QString& path, const QImage& thumbnail, QSize original,
              Size size = Size::Normal);

} // namespace ThumbnailCache
