#include "batch/explorer/ThumbnailCache.h"

#include "platform/RegularFile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace ThumbnailCache {

namespace {

constexpr int NormalSide = 128;
constexpr int LargeSide = 256;
// A 256 x 256 PNG with its texts is well under a megabyte; anything much larger is not ours.
constexpr qint64 MaxCachedFileSize = qint64(4) << 20;

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

struct Descriptor {
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    bool valid() const { return fd >= 0; }
    int fd;
};

// The folder path (a direct child of the folder parentFd) opened without following a link,
// created with mode 0700 when missing and set to 0700 when it is ours with other bits (the
// standard asks for folders only the owner can enter). -1 with *why otherwise.
int openPrivateFolder(int parentFd, const QString& path, QString* why) {
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    if (::mkdirat(parentFd, name.constData(), 0700) != 0 && errno != EEXIST) {
        *why = QStringLiteral("Cannot create %1: %2").arg(path, systemError());
        return -1;
    }
    const int fd =
        ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ELOOP || errno == ENOTDIR
                   ? QStringLiteral("%1 is a symbolic link or not a folder").arg(path)
                   : QStringLiteral("Cannot open %1: %2").arg(path, systemError());
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        *why = QStringLiteral("%1 does not belong to this user").arg(path);
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 07777) != 0700)
        ::fchmod(fd, 0700);
    return fd;
}

// A new file of mode 0600 in the folder, renamed over the old thumbnail only once it is whole,
// so that other programs never read half a thumbnail. A link at the name is replaced, not
// written through.
QString writeInto(int folderFd, const QString& folder, const QString& fileName,
                  const QByteArray& data) {
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = ".captiomark-" + QByteArray::number(QRandomGenerator::global()->generate(), 36) +
               ".png";
        fd = ::openat(folderFd, temp.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return QStringLiteral("Cannot write into %1: %2").arg(folder, systemError());
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const QString why = n < 0 ? systemError() : QStringLiteral("nothing written");
            ::close(fd);
            ::unlinkat(folderFd, temp.constData(), 0);
            return QStringLiteral("Cannot write %1/%2: %3")
                .arg(folder, QString::fromLatin1(temp), why);
        }
        done += n;
    }
    if (::close(fd) != 0) {
        const QString why = systemError();
        ::unlinkat(folderFd, temp.constData(), 0);
        return QStringLiteral("Cannot write %1/%2: %3").arg(folder, QString::fromLatin1(temp), why);
    }
    if (::renameat(folderFd, temp.constData(), folderFd, QFile::encodeName(fileName).constData()) !=
        0) {
        const QString why = systemError();
        ::unlinkat(folderFd, temp.constData(), 0);
        return QStringLiteral("Cannot rename %1/%2 to %3: %4")
            .arg(folder, QString::fromLatin1(temp), fileName, why);
    }
    return QString();
}

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
        // Only a regular file of thumbnail size: a pipe or a device in the cache is skipped.
        const FileRead file = ReadRegularFile(ThumbnailPath(uri, size), MaxCachedFileSize);
        if (!file.ok())
            continue;
        const QByteArray& png = file.data;
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

    // The folders are opened one by one, each refused when it is a symbolic link or belongs to
    // someone else, and everything below is done relative to them: nothing is created, changed
    // or written through a link planted in the cache.
    const QString base = QFileInfo(root).absolutePath();
    if (!QDir().mkpath(base))
        return QStringLiteral("Cannot create %1: %2")
            .arg(base, QString::fromLocal8Bit(std::strerror(errno)));
    QString why;
    const Descriptor baseFd(
        ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!baseFd.valid())
        return QStringLiteral("Cannot open %1: %2")
            .arg(base, QString::fromLocal8Bit(std::strerror(errno)));
    const Descriptor rootFd(openPrivateFolder(baseFd.fd, root, &why));
    if (!rootFd.valid())
        return why;
    const QString folder = QFileInfo(target).absolutePath();
    const Descriptor folderFd(openPrivateFolder(rootFd.fd, folder, &why));
    if (!folderFd.valid())
        return why;
    return writeInto(folderFd.fd, folder, QFileInfo(target).fileName(), png);
}

} // namespace ThumbnailCache
