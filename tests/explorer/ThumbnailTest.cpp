#include "batch/explorer/FolderThumbnails.h"
#include "batch/explorer/TFolderList.h"
#include "batch/explorer/ThumbnailCache.h"
#include "imaging/core/ImageCodecs.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

bool isRed(QRgb c) {
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

QImage solid(int w, int h, QColor c) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(c);
    return image;
}

// The tEXt chunks of a PNG file, read by hand: Qt's readers split keys at the first colon.
QMap<QByteArray, QByteArray> pngTexts(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray png = file.readAll();
    QMap<QByteArray, QByteArray> out;
    int at = 8;
    while (at + 12 <= png.size()) {
        const int length = int(qFromBigEndian<quint32>(png.constData() + at));
        const QByteArray type = png.mid(at + 4, 4);
        if (type == "tEXt") {
            const QByteArray body = png.mid(at + 8, length);
            out.insert(body.left(body.indexOf('\0')), body.mid(body.indexOf('\0') + 1));
        }
        at += 12 + length;
    }
    return out;
}

QImage unreadableIcon() {
    QImage icon(32, 32, QImage::Format_ARGB32_Premultiplied);
    icon.fill(QColor(0, 0, 255));
    return icon;
}

// Each test gets its own cache folder.
class ThumbnailTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(cache.isValid());
        oldCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_CACHE_HOME", oldCache); }
    QString jpeg(const QString& name, const QImage& image) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(WriteBytes(path, EncodeJpeg(image, 95)));
        return path;
    }
    // The cache file's name worked out by hand: MD5 of "file://" and the percent-encoded path.
    QString expectedCacheFile(const QString& path) const {
        const QByteArray uri = "file://" + QUrl::toPercentEncoding(path, "/");
        return cache.path() + QStringLiteral("/thumbnails/normal/") +
               QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
               QStringLiteral(".png");
    }
    QTemporaryDir dir;
    QTemporaryDir cache;
    QByteArray oldCache;
};

} // namespace

TEST(ThumbnailRectTest, LongerSideFillsAndOtherIsCentred) {
    // (left, top, right, bottom) with exclusive right and bottom: (0, 7, 49, 43).
    EXPECT_EQ(ThumbnailRect(640, 480), QRect(QPoint(0, 7), QPoint(48, 42)));
    EXPECT_EQ(ThumbnailRect(480, 640), QRect(QPoint(7, 0), QPoint(42, 48)));
    // A square counts as upright: t = trunc(25 x 1) = 25.
    EXPECT_EQ(ThumbnailRect(100, 100), QRect(QPoint(0, 0), QPoint(49, 48)));
    // A very wide picture keeps no height at all.
    EXPECT_TRUE(ThumbnailRect(1000, 10).isEmpty());
}

TEST_F(ThumbnailTest, PictureIsDrawnIntoTheRectangleOnWhite) {
    const QString path = jpeg(QStringLiteral("wide.jpg"), solid(640, 480, Qt::red));
    const FileThumbnail t = MakeFileThumbnail(path, Qt::green, unreadableIcon(), false);
    EXPECT_FALSE(t.fromCache);
    EXPECT_FALSE(t.unreadable);
    EXPECT_EQ(t.typeText, QStringLiteral("JPG 640 x 480"));
    ASSERT_EQ(t.image.size(), QSize(50, 50));
    for (int x : {0, 25, 48}) {
        EXPECT_EQ(t.image.pixel(x, 6), qRgb(255, 255, 255)) << x;
        EXPECT_TRUE(isRed(t.image.pixel(x, 7))) << x;
        EXPECT_TRUE(isRed(t.image.pixel(x, 42))) << x;
        EXPECT_EQ(t.image.pixel(x, 43), qRgb(255, 255, 255)) << x;
    }
    EXPECT_EQ(t.image.pixel(49, 25), qRgb(255, 255, 255));
    // Nothing was cached.
    EXPECT_FALSE(QFileInfo::exists(expectedCacheFile(path)));
}

TEST_F(ThumbnailTest, OtherTypesAndExtensionInTheText) {
    const QString gif = dir.filePath(QStringLiteral("tall.Gif"));
    ASSERT_TRUE(WriteBytes(gif, EncodeGif(solid(30, 60, Qt::red))));
    const FileThumbnail t = MakeFileThumbnail(gif, Qt::green, unreadableIcon(), false);
    EXPECT_EQ(t.typeText, QStringLiteral("GIF 30 x 60"));
    // Upright: t = trunc(25 x 0.5) = 12, columns 13..36.
    EXPECT_EQ(t.image.pixel(12, 25), qRgb(255, 255, 255));
    EXPECT_TRUE(isRed(t.image.pixel(13, 25)));
    EXPECT_TRUE(isRed(t.image.pixel(36, 25)));
    EXPECT_EQ(t.image.pixel(37, 25), qRgb(255, 255, 255));
}

// Files made by other programs: ImageMagick's TIFF, cwebp's WebP and heif-enc's HEIC and AVIF
// get a thumbnail of their picture and their size in the text.
TEST_F(ThumbnailTest, TiffWebpHeicAndAvifPhotosGetThumbnails) {
    auto have = [](const char* tool) {
        return !QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty();
    };
    if (!have("convert") || !have("cwebp") || !have("heif-enc"))
        GTEST_SKIP() << "ImageMagick, cwebp and heif-enc are needed";
    const QString png = dir.filePath(QStringLiteral("red.png"));
    ASSERT_TRUE(solid(64, 32, Qt::red).save(png));
    auto make = [&](const QString& program, const QStringList& args) {
        QProcess p;
        p.start(program, args);
        return p.waitForFinished(60000) && p.exitCode() == 0;
    };
    const QString tif = dir.filePath(QStringLiteral("a.TIF"));
    const QString webp = dir.filePath(QStringLiteral("b.webp"));
    const QString heic = dir.filePath(QStringLiteral("c.heic"));
    const QString avif = dir.filePath(QStringLiteral("d.avif"));
    ASSERT_TRUE(make(QStringLiteral("convert"), {png, tif}));
    ASSERT_TRUE(make(QStringLiteral("cwebp"), {QStringLiteral("-quiet"), png, QStringLiteral("-o"), webp}));
    ASSERT_TRUE(make(QStringLiteral("heif-enc"), {png, QStringLiteral("-o"), heic}));
    ASSERT_TRUE(make(QStringLiteral("heif-enc"), {QStringLiteral("-A"), png, QStringLiteral("-o"), avif}));
    // A HEIC with a thumbnail of its own (140 x 70), as phones write them.
    const QString bigPng = dir.filePath(QStringLiteral("big.png"));
    ASSERT_TRUE(solid(600, 300, Qt::red).save(bigPng));
    const QString withThumb = dir.filePath(QStringLiteral("e.HEIC"));
    ASSERT_TRUE(make(QStringLiteral("heif-enc"),
                     {QStringLiteral("-t"), QStringLiteral("140"), bigPng, QStringLiteral("-o"), withThumb}));
    for (const auto& [file, text] :
         {std::pair{tif, "TIF 64 x 32"}, std::pair{webp, "WEBP 64 x 32"},
          std::pair{heic, "HEIC 64 x 32"}, std::pair{avif, "AVIF 64 x 32"},
          std::pair{withThumb, "HEIC 600 x 300"}}) {
        const FileThumbnail t = MakeFileThumbnail(file, Qt::green, unreadableIcon(), false);
        EXPECT_FALSE(t.unreadable) << file.toStdString();
        EXPECT_EQ(t.typeText, QString::fromLatin1(text));
        // Wide: rows 13..36 (t = trunc(25 / 2) = 12) hold the red picture.
        EXPECT_TRUE(isRed(t.image.pixel(25, 25))) << file.toStdString();
        EXPECT_EQ(t.image.pixel(25, 5), qRgb(255, 255, 255)) << file.toStdString();
    }
}

TEST_F(ThumbnailTest, FileThatCannotBeDecodedGetsTheUnreadablePicture) {
    const QString path = dir.filePath(QStringLiteral("broken.jpg"));
    ASSERT_TRUE(WriteBytes(path, QByteArray("\xFF\xD8\xFF\xE0 this is no picture", 24)));
    const FileThumbnail t = MakeFileThumbnail(path, Qt::green, unreadableIcon(), true);
    EXPECT_TRUE(t.unreadable);
    EXPECT_EQ(t.typeText, path);
    // The blue 32 x 32 icon centred on white: (9, 9) .. (40, 40).
    EXPECT_EQ(t.image.pixel(8, 25), qRgb(255, 255, 255));
    EXPECT_EQ(t.image.pixel(9, 9), qRgb(0, 0, 255));
    EXPECT_EQ(t.image.pixel(40, 40), qRgb(0, 0, 255));
    EXPECT_EQ(t.image.pixel(41, 25), qRgb(255, 255, 255));
    EXPECT_FALSE(QFileInfo::exists(expectedCacheFile(path)));

    // In a folder list the entry stays, with that picture.
    TFolderModel m;
    m.ShowFolder(dir.path());
    m.WaitForThumbnails();
    ASSERT_EQ(m.Entries().size(), 1);
    EXPECT_EQ(m.Entries()[0].TypeText, path);
    const QImage shown = m.Thumbnails()[m.Entries()[0].ImageIndex].toImage();
    EXPECT_NE(shown.pixel(25, 25), qRgb(255, 255, 255));
    EXPECT_FALSE(m.ThumbnailsPending());
}

TEST_F(ThumbnailTest, CacheIsWrittenAsTheStandardSaysAndReadBack) {
    const QString path = jpeg(QStringLiteral("my photo.jpg"), solid(640, 480, Qt::red));
    const FileThumbnail first = MakeFileThumbnail(path, Qt::green, unreadableIcon(), true);
    EXPECT_FALSE(first.fromCache);
    EXPECT_EQ(first.typeText, QStringLiteral("JPG 640 x 480"));

    const QString stored = expectedCacheFile(path);
    ASSERT_TRUE(QFileInfo::exists(stored)) << stored.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    const QMap<QByteArray, QByteArray> texts = pngTexts(stored);
    EXPECT_EQ(texts.value("Thumb::URI"), "file://" + dir.path().toUtf8() + "/my%20photo.jpg");
    EXPECT_EQ(texts.value("Thumb::MTime"), QByteArray::number(qint64(st.st_mtime)));
    QImageReader reader(stored);
    EXPECT_EQ(reader.format(), QByteArray("png"));
    const QImage png = reader.read();
    EXPECT_EQ(png.text(QStringLiteral("Thumb::URI")), QString::fromUtf8(texts.value("Thumb::URI")));
    EXPECT_EQ(png.size(), QSize(128, 96));
    EXPECT_TRUE(isRed(png.pixel(64, 48)));
    // Only the owner may read it, and no temporary file is left behind.
    struct stat own {};
    ASSERT_EQ(::stat(QFile::encodeName(stored).constData(), &own), 0);
    EXPECT_EQ(own.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(QFileInfo(stored).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(),
              1);

    // Read back: drawn centred on the background colour, the text being the path.
    const FileThumbnail second = MakeFileThumbnail(path, Qt::green, unreadableIcon(), true);
    EXPECT_TRUE(second.fromCache);
    EXPECT_EQ(second.typeText, path);
    EXPECT_EQ(second.image.pixel(25, 3), QColor(Qt::green).rgb()); // 50 x 37 centred: rows 6..42
    EXPECT_TRUE(isRed(second.image.pixel(25, 25)));
}

TEST_F(ThumbnailTest, AThumbnailStoredByAnotherProgramIsUsedWhileCurrent) {
    const QString path = jpeg(QStringLiteral("shared.jpg"), solid(640, 480, Qt::red));
    QDir().mkpath(QFileInfo(expectedCacheFile(path)).absolutePath());
    QImage blue = solid(128, 96, Qt::blue);
    blue.setText(QStringLiteral("Thumb::URI"),
                 QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()));
    blue.setText(QStringLiteral("Thumb::MTime"),
                 QString::number(QFileInfo(path).lastModified().toSecsSinceEpoch()));
    ASSERT_TRUE(blue.save(expectedCacheFile(path), "PNG"));

    FileThumbnail t = MakeFileThumbnail(path, Qt::green, unreadableIcon(), true);
    EXPECT_TRUE(t.fromCache);
    EXPECT_EQ(t.image.pixel(25, 25), qRgb(0, 0, 255));

    // Once the file changes, the stored thumbnail is stale: the picture is decoded again and the
    // cache takes the new time.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QDateTime later = QFileInfo(path).lastModified().addSecs(100);
    ASSERT_TRUE(file.setFileTime(later, QFileDevice::FileModificationTime));
    file.close();
    t = MakeFileThumbnail(path, Qt::green, unreadableIcon(), true);
    EXPECT_FALSE(t.fromCache);
    EXPECT_TRUE(isRed(t.image.pixel(25, 25)));
    EXPECT_EQ(pngTexts(expectedCacheFile(path)).value("Thumb::MTime"),
              QByteArray::number(later.toSecsSinceEpoch()));
}

TEST_F(ThumbnailTest, FolderListFillsThumbnailsAndTypeTextsFromTheWorkers) {
    jpeg(QStringLiteral("a.jpg"), solid(640, 480, Qt::red));
    jpeg(QStringLiteral("b.jpg"), solid(480, 640, Qt::red));
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    TFolderModel m;
    m.ShowFolder(dir.path());
    m.WaitForThumbnails();
    ASSERT_EQ(m.Entries().size(), 3);
    EXPECT_EQ(m.Entries()[0].TypeText, dir.filePath(QStringLiteral("sub")));
    EXPECT_EQ(m.Entries()[1].TypeText, QStringLiteral("JPG 640 x 480"));
    EXPECT_EQ(m.Entries()[2].TypeText, QStringLiteral("JPG 480 x 640"));
    const QImage a = m.Thumbnails()[m.Entries()[1].ImageIndex].toImage();
    EXPECT_TRUE(isRed(a.pixel(25, 7)));
    EXPECT_EQ(a.pixel(25, 6), qRgb(255, 255, 255));
    EXPECT_EQ(m.Thumbnails().size(), 3);

    // The second visit reads the cache the first one wrote.
    m.ShowFolder(dir.path());
    m.WaitForThumbnails();
    EXPECT_EQ(m.Entries()[1].TypeText, dir.filePath(QStringLiteral("a.jpg")));
    EXPECT_EQ(m.Entries()[2].TypeText, dir.filePath(QStringLiteral("b.jpg")));
}

// ---- Odd files at photo names and in the cache ------------------------------------------

TEST_F(ThumbnailTest, SpecialFilesGetTheUnreadablePictureWithoutBeingRead) {
    for (const SpecialCase& c : SpecialFileCases()) {
        SCOPED_TRACE(c.label);
        const QString path = dir.filePath(QString::fromLatin1(c.label).replace(' ', '_') + ".jpg");
        QString why;
        ASSERT_TRUE(MakeSpecialFile(c.kind, path, &why)) << why.toStdString();
        FileThumbnail t;
        EXPECT_TRUE(ReturnsWithin(
            5000, [&] { t = MakeFileThumbnail(path, Qt::green, unreadableIcon(), true); }, {path}));
        EXPECT_TRUE(t.unreadable);
        EXPECT_FALSE(t.fromCache);
        EXPECT_EQ(t.image.pixel(25, 25), qRgb(0, 0, 255));
        EXPECT_FALSE(QFileInfo::exists(expectedCacheFile(path)));
    }
}

TEST_F(ThumbnailTest, ACancelledThumbnailGivesUpWithoutCaching) {
    const QString path = jpeg(QStringLiteral("photo.jpg"), solid(64, 48, Qt::red));
    int asked = 0;
    const FileThumbnail t = MakeFileThumbnail(path, Qt::green, unreadableIcon(), true, ThumbnailSide, [&] {
        ++asked;
        return true;
    });
    EXPECT_TRUE(t.unreadable);
    EXPECT_GE(asked, 1);
    EXPECT_FALSE(QFileInfo::exists(expectedCacheFile(path)));
}

TEST_F(ThumbnailTest, SpecialFilesInTheCacheAreSkippedAndReplaced) {
    for (SpecialKind kind : {SpecialKind::Fifo, SpecialKind::DeviceLink, SpecialKind::HugeSparse}) {
        SCOPED_TRACE(int(kind));
        const QString path = jpeg(QStringLiteral("p%1.jpg").arg(int(kind)), solid(64, 48, Qt::red));
        const QString stored = expectedCacheFile(path);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(stored).absolutePath()));
        ASSERT_TRUE(MakeSpecialFile(kind, stored));
        FileThumbnail t;
        EXPECT_TRUE(ReturnsWithin(
            5000, [&] { t = MakeFileThumbnail(path, Qt::green, unreadableIcon(), true); },
            {stored}));
        EXPECT_FALSE(t.fromCache);
        EXPECT_FALSE(t.unreadable);
        EXPECT_TRUE(isRed(t.image.pixel(25, 25)));
        // The name now holds our thumbnail, a regular file; /dev/zero is what it was.
        const QFileInfo now(stored);
        EXPECT_FALSE(now.isSymLink());
        EXPECT_TRUE(now.isFile());
        EXPECT_LT(now.size(), 100000);
        EXPECT_EQ(pngTexts(stored).value("Thumb::URI"),
                  "file://" + QUrl::toPercentEncoding(path, "/"));
    }
}

TEST_F(ThumbnailTest, LinkedCacheFoldersAreNeitherChangedNorWrittenInto) {
    const QString path = jpeg(QStringLiteral("photo.jpg"), solid(64, 48, Qt::red));
    QTemporaryDir outside;
    ASSERT_TRUE(outside.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(outside.path()).constData(), 0755), 0);
    auto modeOf = [](const QString& p) {
        struct stat st {};
        ::stat(QFile::encodeName(p).constData(), &st);
        return st.st_mode & 07777;
    };
    auto link = [](const QString& target, const QString& at) {
        return ::symlink(QFile::encodeName(target).constData(),
                         QFile::encodeName(at).constData()) == 0;
    };
    const QString root = cache.filePath(QStringLiteral("thumbnails"));

    // The cache root itself a link to another folder.
    ASSERT_TRUE(link(outside.path(), root));
    EXPECT_TRUE(ThumbnailCache::Write(path, solid(64, 48, Qt::red), QSize(64, 48))
                    .contains(QLatin1String("symbolic link")));
    EXPECT_EQ(modeOf(outside.path()), 0755u);
    EXPECT_TRUE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    // The root a real folder, its "normal" a link.
    ASSERT_TRUE(QFile::remove(root));
    ASSERT_TRUE(QDir().mkpath(root));
    ASSERT_EQ(::chmod(QFile::encodeName(root).constData(), 0755), 0);
    ASSERT_TRUE(link(outside.path(), root + QStringLiteral("/normal")));
    EXPECT_TRUE(ThumbnailCache::Write(path, solid(64, 48, Qt::red), QSize(64, 48))
                    .contains(QLatin1String("symbolic link")));
    EXPECT_EQ(modeOf(outside.path()), 0755u);
    EXPECT_TRUE(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_EQ(modeOf(root), 0700u) << "our own root folder is made private";

    // Real folders, a link at the thumbnail's own name: the link is replaced, its target kept.
    ASSERT_TRUE(QFile::remove(root + QStringLiteral("/normal")));
    const QString victim = outside.filePath(QStringLiteral("victim.txt"));
    ASSERT_TRUE(WriteBytes(victim, "keep me"));
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/normal")));
    ASSERT_TRUE(link(victim, expectedCacheFile(path)));
    EXPECT_EQ(ThumbnailCache::Write(path, solid(64, 48, Qt::red), QSize(64, 48)), QString());
    QFile kept(victim);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep me"));
    EXPECT_FALSE(QFileInfo(expectedCacheFile(path)).isSymLink());
    EXPECT_EQ(modeOf(expectedCacheFile(path)), 0600u);
    EXPECT_EQ(modeOf(root + QStringLiteral("/normal")), 0700u);
}

TEST_F(ThumbnailTest, AFolderOfSpecialFilesListsThemAndFinishesItsThumbnails) {
    jpeg(QStringLiteral("real.jpg"), solid(640, 480, Qt::red));
    QStringList fifos;
    for (const SpecialCase& c : SpecialFileCases()) {
        const QString path = dir.filePath(QString::fromLatin1(c.label).replace(' ', '_') + ".jpg");
        ASSERT_TRUE(MakeSpecialFile(c.kind, path));
        if (c.kind == SpecialKind::Fifo)
            fifos << path;
    }
    TFolderModel m;
    EXPECT_TRUE(ReturnsWithin(
        10000,
        [&] {
            m.ShowFolder(dir.path());
            m.WaitForThumbnails();
        },
        fifos));
    EXPECT_FALSE(m.ThumbnailsPending());
    // The folder named *.jpg is a folder entry; every other name is a file entry.
    ASSERT_EQ(m.Entries().size(), SpecialFileCases().size() + 1);
    EXPECT_EQ(m.Entries()[0].DisplayName, QStringLiteral("folder.jpg"));
    EXPECT_TRUE(m.Entries()[0].IsFolder);
    for (const TShellItem& e : m.Entries()) {
        if (e.IsFolder)
            continue;
        SCOPED_TRACE(e.DisplayName.toStdString());
        const bool real = e.DisplayName == QLatin1String("real.jpg");
        EXPECT_EQ(e.TypeText, real ? QStringLiteral("JPG 640 x 480") : e.FullPath);
    }
}

TEST_F(ThumbnailTest, TheListEndsPromptlyWithAPipeInTheFolder) {
    // Several pipes and a photo: the list is dropped while its workers are at them.
    QStringList fifos;
    for (int i = 0; i < 8; ++i) {
        fifos << dir.filePath(QStringLiteral("pipe%1.jpg").arg(i));
        ASSERT_TRUE(MakeSpecialFile(SpecialKind::Fifo, fifos.last()));
    }
    jpeg(QStringLiteral("real.jpg"), solid(64, 48, Qt::red));
    EXPECT_TRUE(ReturnsWithin(
        5000,
        [&] {
            auto* m = new TFolderModel;
            m->ShowFolder(dir.path());
            // The workers are at the pipes by now.
            QThread::msleep(300);
            delete m;
        },
        fifos));
    // And again with the workers running into a folder change first.
    EXPECT_TRUE(ReturnsWithin(
        5000,
        [&] {
            TFolderModel m;
            m.ShowFolder(dir.path());
            QThread::msleep(300);
            m.ShowFolder(cache.path());
            m.ShowFolder(dir.path());
            QThread::msleep(300);
        },
        fifos));
}
