#include "batch/explorer/FolderThumbnails.h"

#include "batch/explorer/ThumbnailCache.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PhotoFormats.h"
#include "platform/RegularFile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

namespace {

constexpr int CacheSide = 128;

QImage blankThumbnail(const QColor& color) {
    QImage thumb(ThumbnailSide, ThumbnailSide, QImage::Format_RGB32);
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

// Decodes a picture, a JPEG at the smallest DCT scale that still covers the cache's thumbnail.
QImage decodeForThumbnail(const QByteArray& bytes, QSize* original) {
    if (DetectImageType(bytes) == ImageFileType::Jpeg) {
        const QSize size = headerSize(bytes);
        if (size.isValid() && !size.isEmpty()) {
            const QSize wanted = size.width() > CacheSide || size.height() > CacheSide
                                     ? size.scaled(CacheSide, CacheSide, Qt::KeepAspectRatio)
                                     : size;
            QImage image =
                DecodeJpegScaled(bytes, qMax(1, wanted.width()), qMax(1, wanted.height()));
            *original = size;
            return image;
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

QRect ThumbnailRect(int width, int height) {
    if (width <= 0 || height <= 0)
        return QRect(0, 0, ThumbnailSide - 1, ThumbnailSide - 1);
    const double q = double(width) / height;
    if (width > height) {
        const int t = int(25 / q);
        return QRect(0, 25 - t, 49, 2 * t);
    }
    const int t = int(25 * q);
    return QRect(25 - t, 0, 2 * t, 49);
}

QImage ThumbnailOfIcon(const QImage& icon) {
    QImage thumb = blankThumbnail(Qt::white);
    QPainter p(&thumb);
    p.drawImage((ThumbnailSide - icon.width()) / 2, (ThumbnailSide - icon.height()) / 2, icon);
    return thumb;
}

FileThumbnail MakeFileThumbnail(const QString& path, const QColor& background,
                                const QImage& unreadable, bool useCache,
                                const std::function<bool()>& cancelled) {
    FileThumbnail out;
    out.typeText = path;
    if (useCache) {
        QImage cached = ThumbnailCache::Read(path);
        if (!cached.isNull()) {
            if (cached.width() > ThumbnailSide || cached.height() > ThumbnailSide)
                cached = cached.scaled(ThumbnailSide, ThumbnailSide, Qt::KeepAspectRatio,
                                       Qt::SmoothTransformation);
            out.image = blankThumbnail(background);
            QPainter p(&out.image);
            p.drawImage((ThumbnailSide - cached.width()) / 2, (ThumbnailSide - cached.height()) / 2,
                        cached);
            out.fromCache = true;
            return out;
        }
    }

    QImage picture;
    QSize original;
    const FileRead file = ReadRegularFile(path, MaxThumbnailFileSize, cancelled);
    if (file.ok() && !(cancelled && cancelled())) {
        try {
            picture = decodeForThumbnail(file.data, &original);
        } catch (const Exception&) {
            picture = QImage();
        }
    }
    if (picture.isNull() || original.isEmpty() || (cancelled && cancelled())) {
        out.image = ThumbnailOfIcon(unreadable);
        out.unreadable = true;
        return out;
    }

    out.typeText = QStringLiteral("%1 %2 x %3")
                       .arg(QFileInfo(path).suffix().toUpper())
                       .arg(original.width())
                       .arg(original.height());
    out.image = blankThumbnail(Qt::white);
    {
        QPainter p(&out.image);
        const QRect rect = ThumbnailRect(original.width(), original.height());
        if (!rect.isEmpty())
            p.drawImage(rect.topLeft(), picture.scaled(rect.size(), Qt::IgnoreAspectRatio,
                                                       Qt::SmoothTransformation));
    }
    if (useCache) {
        const QImage forCache = picture.width() > CacheSide || picture.height() > CacheSide
                                    ? picture.scaled(CacheSide, CacheSide, Qt::KeepAspectRatio,
                                                     Qt::SmoothTransformation)
                                    : picture;
        ThumbnailCache::Write(path, forCache, original); // a cache we cannot write is no failure
    }
    return out;
}
