#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class AtomicFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        m_umask = ::umask(022);
    }
    void TearDown() override { ::umask(m_umask); }

    QString path(const QString& name) const { return dir.filePath(name); }
    static QByteArray native(const QString& p) { return QFile::encodeName(p); }
    static QByteArray read(const QString& p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void write(const QString& name, const QByteArray& bytes, mode_t mode = 0644) {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        ASSERT_EQ(::chmod(native(path(name)).constData(), mode), 0);
    }
    void link(const QString& target, const QString& name) {
        ASSERT_EQ(::symlink(native(target).constData(), native(path(name)).constData()), 0);
    }
    static struct stat lstatOf(const QString& p) {
        struct stat st {};
        ::lstat(native(p).constData(), &st);
        return st;
    }
    // Every entry, hidden temporary files too.
    QStringList entries() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                          QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;

private:
    mode_t m_umask = 022;
};

TEST_F(AtomicFile, NothingStandingAtANewNameIsTouched) {
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("target.txt");
    QFile t(target);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write("target");
    t.close();
    write("taken.jpg", "taken");
    link(target, "link.jpg");
    link(elsewhere.filePath("nothing.jpg"), "dangling.jpg");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.jpg"));
    ASSERT_EQ(::mkfifo(native(path("fifo.jpg")).constData(), 0644), 0);
    const QStringList before = entries();

    WriteRequest fresh;
    fresh.kind = WriteKind::CreateNew;
    const std::pair<const char*, WriteStatus> cases[] = {
        {"taken.jpg", WriteStatus::Exists},       {"link.jpg", WriteStatus::SymbolicLink},
        {"dangling.jpg", WriteStatus::SymbolicLink}, {"folder.jpg", WriteStatus::Exists},
        {"fifo.jpg", WriteStatus::Exists}};
    for (const auto& [name, status] : cases) {
        const WriteResult r = WriteFileAtomically(path(name), "new", fresh);
        EXPECT_EQ(int(r.status), int(status)) << name;
        EXPECT_TRUE(r.message.contains('"' + path(name) + '"')) << r.message.toStdString();
        EXPECT_TRUE(r.message.contains("Nothing was written")) << r.message.toStdString();
    }
    // Replacing follows no link either, and opens no FIFO (which would block).
    for (const WriteKind kind : {WriteKind::Replace, WriteKind::CreateOrReplace}) {
        WriteRequest request;
        request.kind = kind;
        EXPECT_EQ(int(WriteFileAtomically(path("link.jpg"), "new", request).status),
                  int(WriteStatus::SymbolicLink));
        EXPECT_EQ(int(WriteFileAtomically(path("dangling.jpg"), "new", request).status),
                  int(WriteStatus::SymbolicLink));
        EXPECT_EQ(int(WriteFileAtomically(path("fifo.jpg"), "new", request).status),
                  int(WriteStatus::NotRegular));
    }
    EXPECT_EQ(WriteFileReplacing(path("link.jpg"), "new"),
              "It is a symbolic link, which is never written through.");
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(read(path("taken.jpg")), "taken");
    EXPECT_EQ(read(target), "target");
    EXPECT_FALSE(QFile::exists(elsewhere.filePath("nothing.jpg")));
}

TEST_F(AtomicFile, AReplacedFileKeepsItsModeAndItsBackupIsALinkToTheOriginal) {
    write("photo.jpg", "old photo", 0444);
    const struct stat original = lstatOf(path("photo.jpg"));
    WriteRequest request;
    request.kind = WriteKind::Replace;
    request.backup = path("photo.jpg.bak");
    ASSERT_TRUE(WriteFileAtomically(path("photo.jpg"), "new photo", request).ok());
    EXPECT_EQ(read(path("photo.jpg")), "new photo");
    EXPECT_EQ(lstatOf(path("photo.jpg")).st_mode & 07777, 0444u);
    EXPECT_EQ(read(path("photo.jpg.bak")), "old photo");
    EXPECT_EQ(lstatOf(path("photo.jpg.bak")).st_ino, original.st_ino)
        << "the original file itself, not a copy";
    EXPECT_NE(lstatOf(path("photo.jpg")).st_ino, original.st_ino);

    // An older backup stays as it is.
    ASSERT_TRUE(WriteFileAtomically(path("photo.jpg"), "newer photo", request).ok());
    EXPECT_EQ(read(path("photo.jpg")), "newer photo");
    EXPECT_EQ(read(path("photo.jpg.bak")), "old photo");
    EXPECT_EQ(entries(), (QStringList{"photo.jpg", "photo.jpg.bak"}));
}

TEST_F(AtomicFile, FailuresLeaveTheOldFileAndNoTemporaryOne) {
    write("photo.jpg", "old photo");
    WriteRequest request;
    request.kind = WriteKind::Replace;
    // A photo that is gone is not replaced by a new one.
    WriteResult r = WriteFileAtomically(path("gone.jpg"), "new photo", request);
    EXPECT_EQ(int(r.status), int(WriteStatus::Failed));
    EXPECT_EQ(r.reason, QString::fromLocal8Bit(std::strerror(ENOENT)));
    // No folder for the temporary file.
    r = WriteFileAtomically(path("missing/new.jpg"), "x");
    EXPECT_EQ(r.message, QStringLiteral("Cannot create file \"%1\". %2")
                             .arg(path("missing/new.jpg"),
                                  QString::fromLocal8Bit(std::strerror(ENOENT))));
    EXPECT_EQ(entries(), QStringList{"photo.jpg"});
}

TEST_F(AtomicFile, AMoveNeverReplacesAnything) {
    write("a.jpg", "a");
    write("b.jpg", "b");
    link(path("nowhere"), "c.jpg");
    EXPECT_EQ(int(MoveFileNoReplace(path("a.jpg"), path("b.jpg")).status), int(WriteStatus::Exists));
    EXPECT_EQ(int(MoveFileNoReplace(path("a.jpg"), path("c.jpg")).status),
              int(WriteStatus::SymbolicLink));
    EXPECT_EQ(read(path("a.jpg")), "a");
    EXPECT_EQ(read(path("b.jpg")), "b");
    ASSERT_TRUE(MoveFileNoReplace(path("a.jpg"), path("d.jpg")).ok());
    EXPECT_EQ(read(path("d.jpg")), "a");
    EXPECT_FALSE(PathEntryExists(path("a.jpg")));
    EXPECT_TRUE(PathEntryExists(path("c.jpg")));
    EXPECT_TRUE(IsSymbolicLink(path("c.jpg")));
}

TEST_F(AtomicFile, SameEntryThroughALinkedFolderButNotThroughAHardLink) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("p"));
    write("p/a.jpg", "a");
    link(path("p"), "alias");
    ASSERT_EQ(::link(native(path("p/a.jpg")).constData(), native(path("p/b.jpg")).constData()), 0);
    EXPECT_TRUE(SameFileEntry(path("p/a.jpg"), path("alias/a.jpg")));
    EXPECT_TRUE(SameFileEntry(path("p/a.jpg"), path("p/./a.jpg")));
    EXPECT_TRUE(SameFileEntry(path("p/new.jpg"), path("alias/new.jpg"))) << "not there yet";
    EXPECT_FALSE(SameFileEntry(path("p/a.jpg"), path("p/b.jpg")));
    EXPECT_FALSE(SameFileEntry(path("p/a.jpg"), path("p/A.jpg")));
}

} // namespace
