#include "imaging/core/PictureLoader.h"

#include "imaging/core/BitmapOps.h"
#include "imaging/core/PhotoFormats.h"
#include "platform/RegularFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QtEndian>
#include <unistd.h>

namespace {

bool hasLengthPrefix(const QString& className) {
    return className == QLatin1String("TBitmap") || className == QLatin1String("TJPEGImage");
}

} // namespace

QString GraphicClassName(ImageFileType type) {
    switch (type) {
    case ImageFileType::Jpeg:
        return QStringLiteral("TJPEGImage");
    case ImageFileType::Bmp:
        return QStringLiteral("TBitmap");
    case ImageFileType::Png:
        return QStringLiteral("TPngImage");
    case ImageFileType::Gif:
        return QStringLiteral("TGIFImage");
    case ImageFileType::Ico:
        return QStringLiteral("TIcon");
    case ImageFileType::Tiff:
    case ImageFileType::Webp:
    case ImageFileType::Heic:
    case ImageFileType::Avif:
    case ImageFileType::Other:
        break;
    }
    return QStringLiteral("TWICImage");
}

LoadedGraphic LoadGraphicFile(const QString& path) {
    LoadedGraphic g;
    g.data = ReadFileBytes(path);
    g.className = GraphicClassName(DetectImageType(g.data));
    try {
        g.image = DecodeImageWithin(g.data, MaxPicturePixels);
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(QStringLiteral("Cannot read picture \"%1\". %2")
                                  .arg(QDir::toNativeSeparators(path), e.message()));
    }
    return g;
}

LoadedGraphic LoadGraphicData(const QByteArray& pictureData) {
    if (pictureData.isEmpty())
        return {};
    const int nameLength = quint8(pictureData.at(0));
    if (nameLength == 0 || pictureData.size() < 1 + nameLength)
        throw EInvalidGraphic(QStringLiteral("Invalid picture data: bad class name"));
    QByteArray rest = pictureData.mid(1 + nameLength);
    if (rest.isEmpty())
        return {};

    if (rest.size() >= 4) {
        const quint32 length = qFromLittleEndian<quint32>(rest.constData());
        const qint64 remaining = rest.size() - 4;
        if (length == remaining) {
            rest = rest.mid(4);
        } else if (DetectImageType(rest) == ImageFileType::Other && length < remaining &&
                   DetectImageType(rest.mid(4, 8)) != ImageFileType::Other) {
            // A length prefix followed by trailing bytes: the picture is what the length says.
            rest = rest.mid(4, qsizetype(length));
        }
    }
    if (rest.isEmpty())
        return {};

    LoadedGraphic g;
    g.className = GraphicClassName(DetectImageType(rest));
    g.data = rest;
    g.image = DecodeImageWithin(rest, MaxPicturePixels);
    return g;
}

QByteArray MakePictureData(const LoadedGraphic& g) {
    if (g.className.isEmpty() || g.data.isEmpty())
        return {};
    const QByteArray name = g.className.toLatin1().left(255);
    QByteArray out;
    out.reserve(1 + name.size() + 4 + g.data.size());
    out.append(char(name.size()));
    out.append(name);
    if (hasLengthPrefix(g.className)) {
        char length[4];
        qToLittleEndian<quint32>(quint32(g.data.size()), length);
        out.append(length, 4);
    }
    out.append(g.data);
    return out;
}

QImage OrientedImage(QImage image, quint32 orientation) {
    // The values name where the stored first row and first column belong: 2..4 mirror or turn
    // by half, 5..8 swap rows and columns (a quarter turn, mirrored for 5 and 7).
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        RotateBitmap(image, qRgb(255, 255, 255), 180);
        return image;
    case 4:
        return image.mirrored(false, true);
    case 5:
        RotateBitmap(image, qRgb(255, 255, 255), 90);
        return image.mirrored(true, false);
    case 6:
        RotateBitmap(image, qRgb(255, 255, 255), 90);
        return image;
    case 7:
        RotateBitmap(image, qRgb(255, 255, 255), 90);
        return image.mirrored(false, true);
    case 8:
        RotateBitmap(image, qRgb(255, 255, 255), 270);
        return image;
    default:
        return image;
    }
}

LoadedPhoto LoadPhotoFile(const QString& path, bool autoRotate) {
    return LoadPhotoFileReduced(path, autoRotate, {});
}

LoadedPhoto LoadPhotoFileReduced(const QString& path, bool autoRotate,
                                 const LeastDecodeSize& least) {
    LoadedPhoto photo;
    const QByteArray bytes = ReadFileBytes(path);
    try {
        photo.exif.LoadFromBytes(bytes);
    } catch (const Exception& e) {
        photo.exifError = e.message();
    }
    photo.metadata = ReadPhotoMetadata(bytes);
    const ImageFileType type = DetectImageType(bytes);
    if ((type == ImageFileType::Heic || type == ImageFileType::Avif) && photo.exif.Orientation > 1) {
        // A HEIF picture is turned by its own properties as it is decoded; an EXIF orientation
        // beside them describes the same turn and must not be applied again.
        photo.exif.SetOrientation(1);
    }
    const bool turn = autoRotate && photo.exif.Orientation >= 2 && photo.exif.Orientation <= 8;
    const bool swaps = turn && photo.exif.Orientation >= 5;
    try {
        QSize minimum;
        QSize stored;
        if (least && DetectImageType(bytes) == ImageFileType::Jpeg) {
            QBuffer buffer;
            buffer.setData(bytes);
            stored = QImageReader(&buffer, "jpeg").size();
            if (stored.isValid()) {
                const QSize want = least(swaps ? stored.transposed() : stored);
                if (want.isValid())
                    minimum = swaps ? want.transposed() : want;
            }
        }
        photo.picture = minimum.isValid()
                            ? DecodeJpegScaled(bytes, minimum.width(), minimum.height())
                            : DecodeImage(bytes);
        // The full size is the header's, not the reduced decode's.
        photo.fullSize = minimum.isValid() ? stored : photo.picture.size();
    } catch (const EInvalidGraphic& e) {
        throw EInvalidGraphic(QStringLiteral("Cannot read picture \"%1\". %2")
                                  .arg(QDir::toNativeSeparators(path), e.message()));
    }
    // Pictures of more than 8 bits a channel keep them (RGBX64).
    if (photo.picture.format() != QImage::Format_RGB32 && !photo.picture.hasAlphaChannel() &&
        photo.picture.format() != QImage::Format_RGBX64)
        photo.picture = photo.picture.convertToFormat(photo.picture.depth() == 64
                                                          ? QImage::Format_RGBX64
                                                          : QImage::Format_RGB32);
    if (turn) {
        photo.picture = OrientedImage(std::move(photo.picture), photo.exif.Orientation);
        photo.exif.SetOrientation(1);
        if (swaps)
            photo.fullSize.transpose();
    }
    return photo;
}

QSize PhotoFileSize(const QString& path, bool autoRotate) {
    FileCheck check;
    const int fd = OpenRegularFile(path, MaxImageFileSize, &check);
    if (fd < 0)
        throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2")
                              .arg(QDir::toNativeSeparators(path), check.reason));
    QSize stored;
    {
        // The header alone, read through the descriptor that was checked.
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            stored = QImageReader(&file).size();
        else
            ::close(fd);
    }
    if (!stored.isValid()) {
        // HEIF files tell their upright size without decoding.
        const QByteArray bytes = ReadFileBytes(path);
        const ImageFileType type = DetectImageType(bytes);
        if (type == ImageFileType::Heic || type == ImageFileType::Avif) {
            if (const QSize declared = DeclaredPhotoSize(bytes); declared.isValid())
                return declared;
        }
        return LoadPhotoFile(path, autoRotate).picture.size();
    }
    if (!autoRotate)
        return stored;
    TExif exif;
    try {
        exif.LoadFromJpeg(path);
    } catch (const Exception&) {
        return stored; // no orientation to apply
    }
    return exif.Orientation >= 5 && exif.Orientation <= 8 ? stored.transposed() : stored;
}
