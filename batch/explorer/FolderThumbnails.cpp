#include "batch/explorer/FolderThumbnails.h"

#include "batch/explorer/ThumbnailCache.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PhotoFormats.h"
#include "imaging/core/PictureLoader.h"
#include "imaging/core/TExif.h"
#include "platform/RegularFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

namespace {

constexpr int CacheSide = 128;
constexpr int LargeCacheSide = 256;

QImage blankThumbnail(const QColor& color, int side) {
    QImage thumb(side, side, QImage::Format_RGB32);
    thumb.fill(color);
    return thumb;
}

// The picture's size from its header, without decoding it; invalid when the reader cannot tell.
QSize headerSize(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    return reader.size();
}

// The EXIF orientation of a JPEG's bytes; 1 when it has none or it cannot be read.
quint32 orientationOf(const QByteArray& bytes) {
    try {
        TExif exif;
        exif.LoadFromBytes(bytes);
        return exif.Orientation;
    } catch (const Exception&) {
        return 1;
    }
}

// Decodes a picture, a JPEG at the smallest DCT scale that still covers the cache's thumbnail
// and turned upright by its EXIF orientation; *original is the upright size.
QImage decodeForThumbnail(const QByteArray& bytes, QSize* original, int cacheSide) {
    if (DetectImageType(bytes) == ImageFileType::Jpeg) {
        const QSize size = headerSize(bytes);
        if (size.isValid() && !size.isEmpty()) {
            const QSize wanted = size.width() > cacheSide || size.height() > cacheSide
                                     ? size.scaled(cacheSide, cacheSide, Qt::KeepAspectRatio)
                                     : size;
            QImage image =
                DecodeJpegScaled(bytes, qMax(1, wanted.width()), qMax(1, wanted.height()));
            const quint32 orientation = orientationOf(bytes);
            *original = orientation >= 5 && orientation <= 8 ? size.transposed() : size;
            return OrientedImage(std::move(image), orientation);
        }
    }
    if (const ImageFileType type = DetectImageType(bytes);
        type == ImageFileType::Heic || type == ImageFileType::Avif) {
        // Phones store a small picture beside the photo: decoding it spares the full one.
        const QSize size = DeclaredPhotoSize(bytes);
        QImage thumb = DecodeHeifThumbnail(bytes, CacheSide);
        if (size.isValid() && !thumb.isNull()) {
            *original = size;
            return thumb;
        }
    }
    // GIFs come back as their first frame.
    QImage image = DecodeImage(bytes);
    *original = image.size();
    return image;
}

} // namespace

QRect ThumbnailRect(int width, int height, int side) {
    if (width <= 0 || height <= 0)
        return QRect(0, 0, side - 1, side - 1);
    const int half = side / 2;
    const double q = double(width) / height;
    if (width > height) {
        const int t = int(half / q);
        return QRect(0, half - t, side - 1, 2 * t);
    }
    const int t = int(half * q);
    return QRect(half - t, 0, 2 * t, side - 1);
}

QImage ThumbnailOfIcon(const QImage& icon, int side) {
    QImage thumb = blankThumbnail(Qt::white, side);
    QPainter p(&thumb);
    p.drawImage((side - icon.width()) / 2, (side - icon.height()) / 2, icon);
    return thumb;
}

FileThumbnail MakeFileThumbnail(const QString& path, const QColor& background,
                                const QImage& unreadable, bool useCache, int side,
                                const std::function<bool()>& cancelled) {
    // The desktop's normal thumbnails serve up to their 128 pixels, the large ones beyond.
    const bool large = side > CacheSide;
    const int cacheSide = large ? LargeCacheSide : CacheSide;
    const auto cacheSize = large ? ThumbnailCache::Size::Large : ThumbnailCache::Size::Normal;
    FileThumbnail out;
    out.typeText = path;
    if (useCache) {
        QImage cached = ThumbnailCache::Read(path, nullptr, cacheSize);
        if (!cached.isNull()) {
            if (cached.width() > side || cached.height() > side)
                cached = cached.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            out.image = blankThumbnail(background, side);
            QPainter p(&out.image);
            p.drawImage((side - cached.width()) / 2, (side - cached.height()) / 2, cached);
            out.fromCache = true;
            return out;
        }
    }

    QImage picture;
    QSize original;
    const FileRead file = ReadRegularFile(path, MaxThumbnailFileSize, cancelled);
    if (file.ok() && !(cancelled && cancelled())) {
        try {
            picture = decodeForThumbnail(file.data, &original, cacheSide);
        } catch (const Exception&) {
            picture = QImage();
        }
    }
    if (picture.isNull() || original.isEmpty() || (cancelled && cancelled())) {
        out.image = ThumbnailOfIcon(unreadable, side);
        out.unreadable = true;
        return out;
    }

    out.typeText = QStringLiteral("%1 %2 x %3")
                       .arg(QFileInfo(path).suffix().toUpper())
                       .arg(original.width())
                       .arg(original.height());
    out.image = blankThumbnail(Qt::white, side);
    {
        QPainter p(&out.image);
        const QRect rect = ThumbnailRect(original.width(), original.height(), side);
        if (!rect.isEmpty())
            p.drawImage(rect.topLeft(), picture.scaled(rect.size(), Qt::IgnoreAspectRatio,
                                                       Qt::SmoothTransformation));
    }
    if (useCache) {
        const QImage forCache = picture.width() > cacheSide || picture.height() > cacheSide
                                    ? picture.scaled(cacheSide, cacheSide, Qt::KeepAspectRatio,
                                                     Qt::SmoothTransformation)
                                    : picture;
        // A cache we cannot write is no failure.
        ThumbnailCache::Write(path, forCache, original, cacheSize);
    }
    return out;
}
