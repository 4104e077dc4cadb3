#include "batch/explorer/ThumbnailCache.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QImageWriter>
#include <QTemporaryFile>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <zlib.h>

namespace ThumbnailCache {

namespace {

constexpr int NormalSide = 128;
constexpr int LargeSide = 256;

QString sizeFolder(Size size) {
    return size == Size::Normal ? QStringLiteral("normal") : QStringLiteral("large");
}

} // namespace

QString CacheRoot() {
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    // The variable only counts when it holds an absolute path.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return QDir::cleanPath(base + QStringLiteral("/thumbnails"));
}

QString FileUri(const QString& path) {
    return QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded());
}

QString ThumbnailPath(const QString& uri, Size size) {
    const QByteArray md5 = QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex();
    return CacheRoot() + QLatin1Char('/') + sizeFolder(size) + QLatin1Char('/') +
           QString::fromLatin1(md5) + QStringLiteral(".png");
}

QByteArray WithPngTexts(const QByteArray& png, const QList<QPair<QByteArray, QByteArray>>& texts) {
    // Signature (8 bytes) and IHDR (12 + 13 bytes) stay first.
    constexpr qsizetype afterHeader = 8 + 25;
    if (png.size() < afterHeader || png.mid(12, 4) != "IHDR")
        return png;
    QByteArray chunks;
    for (const auto& [key, value] : texts) {
        const QByteArray data = "tEXt" + key + '\0' + value;
        const quint32 length = quint32(data.size() - 4);
        const quint32 crc =
            quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
        auto bigEndian = [&chunks](quint32 v) {
            chunks.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
        };
        bigEndian(length);
        chunks.append(data);
        bigEndian(crc);
    }
    return png.left(afterHeader) + chunks + png.mid(afterHeader);
}

QHash<QString, QString> PngTexts(const QByteArray& png) {
    QHash<QString, QString> texts;
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (!png.startsWith(QByteArray(signature, 8)))
        return texts;
    qsizetype at = 8;
    while (at + 8 <= png.size()) {
        const auto* p = reinterpret_cast<const uchar*>(png.constData() + at);
        const quint32 length =
            quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
        const QByteArray type = png.mid(at + 4, 4);
        if (length > quint32(png.size() - at - 12) || type == "IDAT" || type == "IEND")
            break;
        const QByteArray body = png.mid(at + 8, length);
        const qsizetype zero = body.indexOf('\0');
        if (type == "tEXt" && zero > 0) {
            texts.insert(QString::fromLatin1(body.left(zero)),
                         QString::fromLatin1(body.mid(zero + 1)));
        } else if (type == "zTXt" && zero > 0 && body.size() > zero + 2 && body[zero + 1] == 0) {
            // Other programs may compress long values.
            QByteArray value(4096, Qt::Uninitialized);
            uLongf size = uLongf(value.size());
            const QByteArray packed = body.mid(zero + 2);
            if (uncompress(reinterpret_cast<Bytef*>(value.data()), &size,
                           reinterpret_cast<const Bytef*>(packed.constData()),
                           uLong(packed.size())) == Z_OK)
                texts.insert(QString::fromLatin1(body.left(zero)),
                             QString::fromLatin1(value.left(qsizetype(size))));
        }
        at += 12 + qsizetype(length);
    }
    return texts;
}

QImage Read(const QString& path, QSize* original, Size least) {
    const QFileInfo info(path);
    if (!info.isFile())
        return QImage();
    const QString uri = FileUri(path);
    const QString mtime = QString::number(info.lastModified().toSecsSinceEpoch());
    for (Size size : {Size::Normal, Size::Large}) {
        if (least == Size::Large && size == Size::Normal)
            continue;
        QFile file(ThumbnailPath(uri, size));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray png = file.readAll();
        // Qt's readers split text keys at the first colon, so the chunks are read here; they come
        // before the pixels, and a stale thumbnail is not decoded.
        const QHash<QString, QString> texts = PngTexts(png);
        if (texts.value(QStringLiteral("Thumb::URI")) != uri ||
            texts.value(QStringLiteral("Thumb::MTime")) != mtime)
            continue;
        QImage image = QImage::fromData(png, "png");
        if (image.isNull())
            continue;
        if (original) {
            const int w = texts.value(QStringLiteral("Thumb::Image::Width")).toInt();
            const int h = texts.value(QStringLiteral("Thumb::Image::Height")).toInt();
            *original = w > 0 && h > 0 ? QSize(w, h) : QSize();
        }
        return image;
    }
    return QImage();
}

QString Write(const QString& path, const QImage& thumbnail, QSize original, Size size) {
    const QFileInfo info(path);
    const QString root = CacheRoot();
    if (info.absoluteFilePath().startsWith(root + QLatin1Char('/')))
        return QStringLiteral("%1 is inside the thumbnail cache").arg(path);
    if (thumbnail.isNull())
        return QStringLiteral("No thumbnail for %1").arg(path);
    const QString uri = FileUri(path);
    const QString target = ThumbnailPath(uri, size);
    const QString folder = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("Cannot create %1: %2")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    // The standard asks for folders only the owner can enter.
    QFile::setPermissions(root,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    const int side = size == Size::Normal ? NormalSide : LargeSide;
    QImage image = thumbnail;
    if (image.width() > side || image.height() > side)
        image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return QStringLiteral("Cannot encode the thumbnail of %1: %2")
            .arg(path, writer.errorString());
    QList<QPair<QByteArray, QByteArray>> texts{
        {"Thumb::URI", uri.toLatin1()},
        {"Thumb::MTime", QByteArray::number(info.lastModified().toSecsSinceEpoch())},
        {"Thumb::Size", QByteArray::number(info.size())},
        {"Software", "Captiomark"}};
    if (original.isValid()) {
        texts.append({"Thumb::Image::Width", QByteArray::number(original.width())});
        texts.append({"Thumb::Image::Height", QByteArray::number(original.height())});
    }
    png = WithPngTexts(png, texts);

    // A temporary file in the same folder (created with mode 0600), renamed over the old one, so
    // that other programs never read half a thumbnail.
    QTemporaryFile temp(folder + QStringLiteral("/.captiomark-XXXXXX.png"));
    if (!temp.open())
        return QStringLiteral("Cannot write into %1: %2").arg(folder, temp.errorString());
    if (temp.write(png) != png.size() || !temp.flush())
        return QStringLiteral("Cannot write %1: %2").arg(temp.fileName(), temp.errorString());
    temp.close();
    if (std::rename(QFile::encodeName(temp.fileName()).constData(),
                    QFile::encodeName(target).constData()) != 0)
        return QStringLiteral("Cannot rename %1 to %2: %3")
            .arg(temp.fileName(), target, QString::fromLocal8Bit(std::strerror(errno)));
    temp.setAutoRemove(false);
    return QString();
}

} // namespace ThumbnailCache
