#include "batch/explorer/TFolderList.h"
#include "platform/Errors.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

QStringList names(const TFolderModel& m) {
    QStringList out;
    for (const TShellItem& item : m.Entries())
        out.append(item.DisplayName);
    return out;
}

void key(QWidget* w, int k, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
}

class FolderListTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString touch(const QString& name, const QByteArray& bytes = "x") {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(WriteBytes(path, bytes));
        return path;
    }
    QString folder(const QString& name) {
        EXPECT_TRUE(QDir(dir.path()).mkpath(name));
        return dir.filePath(name);
    }
    QTemporaryDir dir;
};

} // namespace

// ---- Filling ------------------------------------------------------------------------------

TEST_F(FolderListTest, KeepsSubFoldersAndImageFilesOnly) {
    touch(QStringLiteral("photo.jpeg"));
    touch(QStringLiteral("notes.txt"));
    folder(QStringLiteral("sub"));
    TFolderModel m;
    m.SetUseCache(false);
    m.ShowFolder(dir.path());
    EXPECT_EQ(names(m), (QStringList{QStringLiteral("sub"), QStringLiteral("photo.jpeg")}));
    EXPECT_TRUE(m.Entries()[0].IsFolder);
    EXPECT_FALSE(m.Entries()[1].IsFolder);
    EXPECT_EQ(m.Entries()[1].FullPath, dir.filePath(QStringLiteral("photo.jpeg")));
    EXPECT_EQ(m.CurrentFolder(), QDir(dir.path()).absolutePath());
    m.WaitForThumbnails();
}

TEST_F(FolderListTest, ExtensionsMatchInAnyLetterCase) {
    for (const char* name :
         {"a.Jpg", "b.JPEG", "c.gif", "d.BmP", "e.png", "f.jpg.txt", "g", "h.tif", ".hidden.JPG",
          "i.TIFF", "j.WebP", "k.HEIC", "l.heif", "m.Avif", "n.heic.xmp", "o.tiff2"})
        touch(QString::fromLatin1(name));
    TFolderModel m;
    m.SetUseCache(false);
    m.ShowFolder(dir.path());
    EXPECT_EQ(names(m),
              (QStringList{QStringLiteral(".hidden.JPG"), QStringLiteral("a.Jpg"),
                           QStringLiteral("b.JPEG"), QStringLiteral("c.gif"),
                           QStringLiteral("d.BmP"), QStringLiteral("e.png"),
                           QStringLiteral("h.tif"), QStringLiteral("i.TIFF"),
                           QStringLiteral("j.WebP"), QStringLiteral("k.HEIC"),
                           QStringLiteral("l.heif"), QStringLiteral("m.Avif")}));
    m.WaitForThumbnails();
}

TEST_F(FolderListTest, FoldersFirstThenNaturalOrder) {
    for (const char* name : {"IMG10.jpg", "img2.jpg", "IMG1.jpg", "IMG02b.jpg", "z.jpg"})
        touch(QString::fromLatin1(name));
    folder(QStringLiteral("b10"));
    folder(QStringLiteral("B9"));
    folder(QStringLiteral("a100"));
    TFolderModel m;
    m.SetUseCache(false);
    m.ShowFolder(dir.path());
    EXPECT_EQ(names(m), (QStringList{QStringLiteral("a100"), QStringLiteral("B9"),
                                     QStringLiteral("b10"), QStringLiteral("IMG1.jpg"),
                                     QStringLiteral("img2.jpg"), QStringLiteral("IMG02b.jpg"),
                                     QStringLiteral("IMG10.jpg"), QStringLiteral("z.jpg")}));
    // Each entry keeps its own thumbnail slot through the sorting.
    QList<int> imageSlots;
    for (const TShellItem& item : m.Entries())
        imageSlots.append(item.ImageIndex);
    std::sort(imageSlots.begin(), imageSlots.end());
    for (int i = 0; i < imageSlots.size(); ++i)
        EXPECT_EQ(imageSlots[i], i);
    m.WaitForThumbnails();
}

TEST_F(FolderListTest, UnreadableFolderIsReportedAndListKept) {
    touch(QStringLiteral("kept.jpg"));
    TFolderModel m;
    m.SetUseCache(false);
    m.ShowFolder(dir.path());
    const QString missing = dir.filePath(QStringLiteral("gone"));
    try {
        m.ShowFolder(missing);
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_TRUE(e.message().contains(missing)) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains(QStringLiteral("No such file or directory")))
            << e.message().toStdString();
    }
    EXPECT_EQ(names(m), QStringList{QStringLiteral("kept.jpg")});
    EXPECT_EQ(m.CurrentFolder(), QDir(dir.path()).absolutePath());
    m.WaitForThumbnails();
}

// ---- Attributes and drawing ---------------------------------------------------------------

TEST_F(FolderListTest, AttributesAreReadWhenDrawnAndStyleTheEntry) {
    const QString locked = touch(QStringLiteral("locked.jpg"));
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    touch(QStringLiteral(".secret.jpg"));
    touch(QStringLiteral("plain.jpg"));
    TFolderModel m;
    m.SetUseCache(false);
    m.ShowFolder(dir.path());
    ASSERT_EQ(names(m), (QStringList{QStringLiteral(".secret.jpg"), QStringLiteral("locked.jpg"),
                                     QStringLiteral("plain.jpg")}));
    for (const TShellItem& item : m.Entries()) {
        EXPECT_TRUE(item.DetailsPending);
        EXPECT_EQ(item.Attributes, 0u);
    }
    // Drawing entry 1 reads its attributes only.
    const QVariant colour = m.data(m.index(1), Qt::ForegroundRole);
    EXPECT_FALSE(m.Entries()[1].DetailsPending);
    EXPECT_TRUE(m.Entries()[0].DetailsPending);
    EXPECT_TRUE(m.Entries()[2].DetailsPending);
    EXPECT_EQ(m.Entries()[1].Attributes, faReadOnly);
    EXPECT_EQ(colour.value<QColor>(),
              QApplication::palette().color(QPalette::Disabled, QPalette::Text));

    m.FetchDetails(-5, 99); // clipped to the entries
    EXPECT_EQ(m.Entries()[0].Attributes, faHidden);
    EXPECT_EQ(m.Entries()[2].Attributes, 0u);
    EXPECT_TRUE(m.data(m.index(0), Qt::FontRole).value<QFont>().strikeOut());
    EXPECT_FALSE(m.data(m.index(0), Qt::ForegroundRole).isValid());
    EXPECT_FALSE(m.data(m.index(2), Qt::FontRole).isValid());
    EXPECT_FALSE(m.data(m.index(2), Qt::ForegroundRole).isValid());
    m.WaitForThumbnails();
}

TEST_F(FolderListTest, FolderEntriesCarryTheDirectoryBit) {
    folder(QStringLiteral("inner"));
    TFolderModel m;
    m.ShowFolder(dir.path());
    m.FetchDetails(0, 0);
    EXPECT_EQ(m.Entries()[0].Attributes, faDirectory);
}

// ---- Type-ahead ---------------------------------------------------------------------------

TEST_F(FolderListTest, FindWithAndWithoutWrap) {
    for (const char* name : {"apple.jpg", "banana.jpg", "Photo.jpg"})
        touch(QString::fromLatin1(name));
    TFolderModel m;
    m.SetUseCache(false);
    m.ShowFolder(dir.path());
    ASSERT_EQ(names(m).last(), QStringLiteral("Photo.jpg"));
    // The last entry is found from the start without wrapping; letter case does not matter.
    EXPECT_EQ(m.FindItem(QStringLiteral("ph"), 0, false), 2);
    EXPECT_EQ(m.FindItem(QStringLiteral("PH"), 2, false), 2);
    // An entry before the start index: only with wrapping.
    EXPECT_EQ(m.FindItem(QStringLiteral("ap"), 1, false), -1);
    EXPECT_EQ(m.FindItem(QStringLiteral("ap"), 1, true), 0);
    EXPECT_EQ(m.FindItem(QStringLiteral("b"), 2, true), 1);
    // No match: the search ends where it began.
    EXPECT_EQ(m.FindItem(QStringLiteral("x"), 1, true), -1);
    EXPECT_EQ(m.FindItem(QStringLiteral("x"), 0, false), -1);
    // Out of range start.
    EXPECT_EQ(m.FindItem(QStringLiteral("a"), 3, true), -1);
    m.WaitForThumbnails();
}

TEST_F(FolderListTest, TypingLettersSelectsTheEntry) {
    for (const char* name : {"apple.jpg", "pear.jpg", "Photo.jpg"})
        touch(QString::fromLatin1(name));
    TFolderList list;
    list.Model()->SetUseCache(false);
    ASSERT_TRUE(list.ShowFolder(dir.path()));
    list.show();
    key(&list, Qt::Key_P, QStringLiteral("p"));
    EXPECT_EQ(list.currentIndex().row(), 1); // pear
    key(&list, Qt::Key_H, QStringLiteral("h"));
    EXPECT_EQ(list.currentIndex().row(), 2); // "ph": Photo
    EXPECT_EQ(list.SelectedPaths(), QStringList{dir.filePath(QStringLiteral("Photo.jpg"))});
    list.Model()->WaitForThumbnails();
}

// ---- Navigation ---------------------------------------------------------------------------

TEST_F(FolderListTest, BackspaceAtTheRootBeepsAndChangesNothing) {
    TFolderList list;
    list.Model()->SetUseCache(false);
    ASSERT_TRUE(list.ShowFolder(QStringLiteral("/")));
    const int count = list.Model()->rowCount();
    QSignalSpy beeps(list.Model(), &TFolderModel::beep);
    QSignalSpy shown(list.Model(), &TFolderModel::folderShown);
    key(&list, Qt::Key_Backspace);
    EXPECT_EQ(beeps.count(), 1);
    EXPECT_EQ(shown.count(), 0);
    EXPECT_EQ(list.CurrentFolder(), QStringLiteral("/"));
    EXPECT_EQ(list.Model()->rowCount(), count);
    list.Model()->WaitForThumbnails();
}

TEST_F(FolderListTest, BackspaceOpensParentAndEnterOpensFolderOrAnnouncesFile) {
    const QString sub = folder(QStringLiteral("sub"));
    ASSERT_TRUE(WriteBytes(sub + QStringLiteral("/inside.jpg"), "x"));
    const QString outer = touch(QStringLiteral("outer.jpg"));
    TFolderList list;
    list.Model()->SetUseCache(false);
    ASSERT_TRUE(list.ShowFolder(sub));
    QSignalSpy beeps(list.Model(), &TFolderModel::beep);
    key(&list, Qt::Key_Backspace);
    EXPECT_EQ(beeps.count(), 0);
    EXPECT_EQ(list.CurrentFolder(), QDir(dir.path()).absolutePath());
    ASSERT_EQ(names(*list.Model()),
              (QStringList{QStringLiteral("sub"), QStringLiteral("outer.jpg")}));

    QSignalSpy opened(&list, &TFolderList::fileActivated);
    list.selectionModel()->select(list.Model()->index(1), QItemSelectionModel::ClearAndSelect);
    key(&list, Qt::Key_Return);
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened[0][0].toString(), outer);

    list.selectionModel()->select(list.Model()->index(0), QItemSelectionModel::ClearAndSelect);
    key(&list, Qt::Key_Enter);
    EXPECT_EQ(list.CurrentFolder(), sub);
    EXPECT_EQ(names(*list.Model()), QStringList{QStringLiteral("inside.jpg")});
    EXPECT_EQ(opened.count(), 1);
    list.Model()->WaitForThumbnails();
}

TEST_F(FolderListTest, DragCarriesFileUrlsInListOrderAndTheSourceTag) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        touch(QString::fromLatin1(name));
    TFolderModel m;
    m.SetUseCache(false);
    m.SetSourceTag(QStringLiteral("available"));
    m.ShowFolder(dir.path());
    std::unique_ptr<QMimeData> mime(m.mimeData({m.index(2), m.index(0), m.index(2)}));
    ASSERT_TRUE(mime);
    EXPECT_EQ(mime->urls(),
              (QList<QUrl>{QUrl::fromLocalFile(dir.filePath(QStringLiteral("a.jpg"))),
                           QUrl::fromLocalFile(dir.filePath(QStringLiteral("c.jpg")))}));
    EXPECT_EQ(mime->data(QString::fromLatin1(TFolderModel::SourceMimeType)),
              QByteArray("available"));
    EXPECT_TRUE(m.flags(m.index(0)) & Qt::ItemIsDragEnabled);
    EXPECT_FALSE(m.flags(m.index(0)) & Qt::ItemIsEditable);
    m.WaitForThumbnails();
}
