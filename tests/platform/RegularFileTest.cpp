#include "platform/RegularFile.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class RegularFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(RegularFileTest, EverySpecialFileIsRefusedWithoutBlockingAndSaysWhatItIs) {
    for (const SpecialCase& c : SpecialFileCases()) {
        SCOPED_TRACE(c.label);
        const QString path = dir.filePath(QString::fromLatin1(c.label).replace(' ', '_'));
        QString why;
        ASSERT_TRUE(MakeSpecialFile(c.kind, path, &why)) << why.toStdString();
        const FileProblem expected =
            c.kind == SpecialKind::HugeSparse ? FileProblem::TooLarge : FileProblem::NotRegular;

        const FileCheck check = CheckRegularFile(path, 256 * OneMiB);
        EXPECT_EQ(check.problem, expected);
        EXPECT_TRUE(check.reason.contains(QLatin1String(c.reasonWord)))
            << check.reason.toStdString();

        FileRead read;
        EXPECT_TRUE(
            ReturnsWithin(5000, [&] { read = ReadRegularFile(path, 256 * OneMiB); }, {path}));
        EXPECT_EQ(read.problem, expected);
        EXPECT_EQ(read.reason, check.reason);
        EXPECT_TRUE(read.data.isEmpty());

        FileCheck opened;
        int fd = 0;
        EXPECT_TRUE(ReturnsWithin(5000, [&] { fd = OpenRegularFile(path, 256 * OneMiB, &opened); },
                                  {path}));
        EXPECT_EQ(fd, -1);
        if (fd >= 0)
            ::close(fd);
        EXPECT_EQ(opened.problem, expected);
    }
}

TEST_F(RegularFileTest, LinksToSpecialFilesSayTheyAreLinks) {
    const QString fifo = dir.filePath("pipe");
    ASSERT_TRUE(MakeSpecialFile(SpecialKind::Fifo, fifo));
    const QString link = dir.filePath("photo.jpg");
    ASSERT_EQ(::symlink(QFile::encodeName(fifo).constData(), QFile::encodeName(link).constData()),
              0);
    EXPECT_EQ(CheckRegularFile(link, OneMiB).reason,
              "It is a symbolic link to a named pipe, not a regular file.");
    EXPECT_EQ(CheckRegularFile(fifo, OneMiB).reason, "It is a named pipe, not a regular file.");
    EXPECT_EQ(CheckRegularFile(dir.path(), OneMiB).reason, "It is a folder, not a file.");
}

TEST_F(RegularFileTest, TheCapIsInclusiveAndALinkToARegularFileIsRead) {
    const QByteArray bytes(1000, 'a');
    const QString path = write("exact", bytes);
    const FileRead atCap = ReadRegularFile(path, 1000);
    EXPECT_TRUE(atCap.ok()) << atCap.reason.toStdString();
    EXPECT_EQ(atCap.data, bytes);
    EXPECT_EQ(atCap.size, 1000);

    const FileRead over = ReadRegularFile(path, 999);
    EXPECT_EQ(over.problem, FileProblem::TooLarge);
    EXPECT_EQ(over.reason, "It is 1000 bytes; files over 999 bytes are not read.");

    const QString link = dir.filePath("link");
    ASSERT_EQ(::symlink(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()),
              0);
    EXPECT_EQ(ReadRegularFile(link, 1000).data, bytes);

    const FileRead empty = ReadRegularFile(write("empty", QByteArray()), 0);
    EXPECT_TRUE(empty.ok());
    EXPECT_TRUE(empty.data.isEmpty());
}

TEST_F(RegularFileTest, MissingAndForbiddenFilesCarryTheSystemsReason) {
    const FileRead missing = ReadRegularFile(dir.filePath("nothing"), OneMiB);
    EXPECT_EQ(missing.problem, FileProblem::Missing);
    EXPECT_EQ(missing.reason, "No such file or directory");
    const FileRead under = ReadRegularFile(write("plain", "x") + "/below", OneMiB);
    EXPECT_EQ(under.problem, FileProblem::Missing);
    EXPECT_EQ(under.reason, "Not a directory");
}

TEST_F(RegularFileTest, ACancelledReadStopsAtTheNextBlock) {
    // 12 MB: three blocks of 4 MB.
    const QString path = write("big", QByteArray(12 * OneMiB, 'z'));
    int asked = 0;
    const FileRead read = ReadRegularFile(path, 64 * OneMiB, [&] { return ++asked >= 2; });
    EXPECT_EQ(read.problem, FileProblem::Unreadable);
    EXPECT_EQ(read.reason, "Reading was cancelled.");
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(read.data.isEmpty());

    int calls = 0;
    const FileRead whole = ReadRegularFile(path, 64 * OneMiB, [&] { return ++calls > 100; });
    EXPECT_TRUE(whole.ok());
    EXPECT_EQ(whole.data.size(), 12 * OneMiB);
    EXPECT_EQ(calls, 4) << "three blocks and the end";
}

TEST(ByteSizeText, WholeAndFractionalUnits) {
    EXPECT_EQ(ByteSizeText(0), "0 bytes");
    EXPECT_EQ(ByteSizeText(1023), "1023 bytes");
    EXPECT_EQ(ByteSizeText(1024), "1 KB");
    EXPECT_EQ(ByteSizeText(1536), "2 KB");
    EXPECT_EQ(ByteSizeText(OneMiB), "1 MB");
    EXPECT_EQ(ByteSizeText(OneMiB * 3 / 2), "1.5 MB");
    EXPECT_EQ(ByteSizeText(256 * OneMiB), "256 MB");
    EXPECT_EQ(ByteSizeText(qint64(5) << 30), "5 GB");
    EXPECT_EQ(ByteSizeText((qint64(5) << 30) + 1), "5.0 GB");
}
