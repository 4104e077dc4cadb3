// The explorer as a photographer uses it: thumbnail sizes, upright thumbnails, the entries in
// view first, a folder that changes on disk, the path bar and the Up button.
#include "batch/explorer/FolderThumbnails.h"
#include "batch/explorer/TFolderList.h"
#include "batch/explorer/TfrmBottom.h"
#include "batch/explorer/ThumbnailCache.h"
#include "imaging/core/ImageCodecs.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

bool isRed(QRgb c) {
    return qRed(c) > 200 && qGreen(c) < 70 && qBlue(c) < 70;
}
bool isBlue(QRgb c) {
    return qBlue(c) > 200 && qRed(c) < 70 && qGreen(c) < 70;
}

QImage unreadableIcon() {
    QImage icon(32, 32, QImage::Format_ARGB32_Premultiplied);
    icon.fill(QColor(0, 255, 0));
    return icon;
}

// Stored 40 x 20, left half red and right half blue, with an EXIF Orientation: 6 asks viewers
// to turn it a quarter clockwise, which brings the left half to the top.
QByteArray turnedJpeg(quint16 orientation) {
    QImage stored(40, 20, QImage::Format_RGB32);
    stored.fill(QColor(0, 0, 255));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            stored.setPixel(x, y, qRgb(255, 0, 0));
    ExifBlock block;
    block.orientation = orientation;
    block.main = {{0x010F, "Maker"}};
    return withExifBlock(EncodeJpeg(stored, 95), block);
}

class ExplorerViewTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString photo(const QString& name, QSize size = QSize(64, 48), QColor color = Qt::red) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(color);
        const QString path = dir.filePath(name);
        EXPECT_TRUE(WriteBytes(path, EncodeJpeg(image, 90)));
        return path;
    }
    QTemporaryDir dir;
};

} // namespace

TEST(ThumbnailSides, TheRectangleScalesWithTheSide) {
    // 640 x 480: q = 4/3; on 50, t = trunc(25 / q) = 18 (18.75); on 100, trunc(37.5) = 37;
    // on 200, 75.
    EXPECT_EQ(ThumbnailRect(640, 480, 50), QRect(0, 7, 49, 36));
    EXPECT_EQ(ThumbnailRect(640, 480, 100), QRect(0, 13, 99, 74));
    EXPECT_EQ(ThumbnailRect(640, 480, 200), QRect(0, 25, 199, 150));
    EXPECT_EQ(ThumbnailRect(480, 640, 200), QRect(25, 0, 150, 199));
}

TEST_F(ExplorerViewTest, ThumbnailsAreUprightByTheirOrientation) {
    const QString path = dir.filePath(QStringLiteral("turned.jpg"));
    ASSERT_TRUE(WriteBytes(path, turnedJpeg(6)));
    for (int side : {50, 100, 200}) {
        SCOPED_TRACE(side);
        const FileThumbnail t = MakeFileThumbnail(path, Qt::white, unreadableIcon(), false, side);
        ASSERT_EQ(t.image.size(), QSize(side, side));
        // Upright 20 x 40: a portrait, red above blue, centred between white bands.
        EXPECT_EQ(t.typeText, QStringLiteral("JPG 20 x 40"));
        const QRect r = ThumbnailRect(20, 40, side);
        EXPECT_TRUE(isRed(t.image.pixel(side / 2, side / 10))) << side;
        EXPECT_TRUE(isBlue(t.image.pixel(side / 2, side - 1 - side / 10))) << side;
        EXPECT_EQ(t.image.pixel(r.left() - 2, side / 2), qRgb(255, 255, 255));
        EXPECT_EQ(t.image.pixel(r.right() + 2, side / 2), qRgb(255, 255, 255));
    }
    // Orientation 8 turns the other way: the left half (red) goes to the bottom.
    ASSERT_TRUE(WriteBytes(path, turnedJpeg(8)));
    const FileThumbnail t = MakeFileThumbnail(path, Qt::white, unreadableIcon(), false, 50);
    EXPECT_TRUE(isBlue(t.image.pixel(25, 5)));
    EXPECT_TRUE(isRed(t.image.pixel(25, 44)));
}

TEST_F(ExplorerViewTest, ACameraPhotoTurnedByItsOrientationIsShownUpright) {
    const QString camera = sharedTestDataDir().isEmpty()
                               ? QString()
                               : sharedTestDataDir() + QStringLiteral("/canon_hdr_NO.jpg");
    if (camera.isEmpty() || !QFile::exists(camera))
        GTEST_SKIP() << "the camera samples are not here";
    // exiftool: Orientation 6 (Rotate 90 CW), 2048 x 1536 as stored.
    const FileThumbnail t = MakeFileThumbnail(camera, Qt::white, unreadableIcon(), false, 50);
    EXPECT_EQ(t.typeText, QStringLiteral("JPG 1536 x 2048"));
    // Portrait on the thumbnail: white bands left and right (x < 7, x > 42), the photo between.
    int white = 0, inked = 0;
    for (int y = 0; y < 50; ++y) {
        white += t.image.pixel(2, y) == qRgb(255, 255, 255) && t.image.pixel(47, y) == qRgb(255, 255, 255);
        inked += t.image.pixel(25, y) != qRgb(255, 255, 255);
    }
    EXPECT_EQ(white, 50);
    EXPECT_GT(inked, 40);
}

TEST_F(ExplorerViewTest, TheEntriesInViewAreMadeFirst) {
    for (int i = 0; i < 10; ++i)
        photo(QStringLiteral("p%1.jpg").arg(i));
    TFolderModel m;
    m.SetUseCache(false);
    m.SetMaxWorkers(1);
    m.ShowFolder(dir.path());
    // One worker has the first; the others wait in list order until the view says otherwise.
    EXPECT_EQ(m.WaitingThumbnails(), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    m.PreferRows(6, 8);
    EXPECT_EQ(m.WaitingThumbnails(), (QList<int>{6, 7, 8, 1, 2, 3, 4, 5, 9}));
    // Rows already on their way, or beyond the list, change nothing.
    m.PreferRows(0, 0);
    m.PreferRows(20, 30);
    EXPECT_EQ(m.WaitingThumbnails(), (QList<int>{6, 7, 8, 1, 2, 3, 4, 5, 9}));
    m.WaitForThumbnails();
    EXPECT_FALSE(m.ThumbnailsPending());
    EXPECT_TRUE(m.WaitingThumbnails().isEmpty());
    EXPECT_EQ(m.Entries()[9].TypeText, QStringLiteral("JPG 64 x 48"));
}

TEST_F(ExplorerViewTest, AFolderThatChangesOnDiskIsFollowedKeepingWhatDidNotChange) {
    photo(QStringLiteral("a.jpg"));
    photo(QStringLiteral("b.jpg"));
    TFolderList list;
    list.Model()->SetUseCache(false);
    ASSERT_TRUE(list.ShowFolder(dir.path()));
    list.Model()->WaitForThumbnails();
    const qint64 aThumb = list.Model()->Thumbnails()[0].cacheKey();
    list.selectionModel()->select(list.Model()->index(1), QItemSelectionModel::Select);

    QSignalSpy shown(list.Model(), &TFolderModel::folderShown);
    photo(QStringLiteral("0-new.jpg"), QSize(30, 60));
    QFile::remove(dir.filePath(QStringLiteral("a.jpg")));
    ASSERT_TRUE(shown.wait(5000)) << "the change was not noticed";
    QStringList names;
    for (const TShellItem& e : list.Model()->Entries())
        names << e.DisplayName;
    EXPECT_EQ(names, (QStringList{"0-new.jpg", "b.jpg"}));
    // Only the new file waits for a thumbnail; b.jpg keeps its own and stays selected.
    EXPECT_EQ(list.Model()->PendingThumbnailCount(), 1);
    EXPECT_EQ(list.SelectedPaths(), QStringList{dir.filePath(QStringLiteral("b.jpg"))});
    list.Model()->WaitForThumbnails();
    EXPECT_EQ(list.Model()->Entries()[0].TypeText, QStringLiteral("JPG 30 x 60"));

    // A file replaced under the same name is made again.
    const qint64 bThumb = list.Model()->Thumbnails()[1].cacheKey();
    shown.clear();
    photo(QStringLiteral("b.tmp"), QSize(80, 20), Qt::blue);
    QFile::remove(dir.filePath(QStringLiteral("b.jpg")));
    QFile::rename(dir.filePath(QStringLiteral("b.tmp")), dir.filePath(QStringLiteral("b.jpg")));
    ASSERT_TRUE(shown.wait(5000));
    list.Model()->WaitForThumbnails();
    EXPECT_NE(list.Model()->Thumbnails()[1].cacheKey(), bThumb);
    EXPECT_EQ(list.Model()->Entries()[1].TypeText, QStringLiteral("JPG 80 x 20"));
    EXPECT_NE(aThumb, 0);
}

TEST_F(ExplorerViewTest, NamesAreShortenedInTheMiddleWithTheWholeNameAsTooltip) {
    const QString name = QStringLiteral("IMG_20240615_183045_very_long_holiday_name_0042.jpg");
    photo(name);
    TFolderList list;
    list.Model()->SetUseCache(false);
    ASSERT_TRUE(list.ShowFolder(dir.path()));
    EXPECT_EQ(list.textElideMode(), Qt::ElideMiddle);
    EXPECT_FALSE(list.wordWrap());
    EXPECT_EQ(list.Model()->index(0).data(Qt::ToolTipRole).toString(), name);
    // Ctrl+A selects the files of the list, not something of the window around it.
    QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_A, Qt::ControlModifier);
    QCoreApplication::sendEvent(&list, &override);
    EXPECT_TRUE(override.isAccepted());
    list.Model()->WaitForThumbnails();
}

TEST_F(ExplorerViewTest, PathBarUpButtonAndThumbnailSize) {
    QDir(dir.path()).mkpath(QStringLiteral("trip/day1"));
    photo(QStringLiteral("trip/day1/a.jpg"));
    const QString day1 = dir.filePath(QStringLiteral("trip/day1"));
    {
        TfrmBottom f(nullptr, day1);
        EXPECT_EQ(f.edtPath->text(), QDir::toNativeSeparators(day1));
        f.btnUp->click();
        EXPECT_EQ(f.CurrentFolder(), dir.filePath(QStringLiteral("trip")));
        EXPECT_EQ(f.edtPath->text(), QDir::toNativeSeparators(dir.filePath(QStringLiteral("trip"))));

        // A folder typed into the bar is opened; one that is not there is reported and the
        // bar shows the folder again.
        f.edtPath->setText(day1);
        QTest::keyClick(f.edtPath, Qt::Key_Return);
        EXPECT_EQ(f.CurrentFolder(), day1);
        MessageCapture messages;
        f.edtPath->setText(dir.filePath(QStringLiteral("nowhere")));
        QTest::keyClick(f.edtPath, Qt::Key_Return);
        EXPECT_EQ(messages.messages.size(), 1);
        EXPECT_EQ(f.CurrentFolder(), day1);
        EXPECT_EQ(f.edtPath->text(), QDir::toNativeSeparators(day1));

        ASSERT_EQ(f.cbThumbSize->count(), 3);
        EXPECT_EQ(f.cbThumbSize->itemText(0), QStringLiteral("50 px"));
        EXPECT_EQ(f.cbThumbSize->itemText(2), QStringLiteral("200 px"));
        f.cbThumbSize->setCurrentIndex(2);
        emit f.cbThumbSize->activated(2);
        f.ListView->Model()->WaitForThumbnails();
        EXPECT_EQ(f.ListView->iconSize(), QSize(200, 200));
        EXPECT_EQ(f.ListView->Model()->Thumbnails()[0].size(), QSize(200, 200));
    }
    // The size chosen is the size next time.
    TfrmBottom again(nullptr, day1);
    EXPECT_EQ(again.cbThumbSize->currentText(), QStringLiteral("200 px"));
    again.ListView->Model()->WaitForThumbnails();
    EXPECT_EQ(again.ListView->Model()->Thumbnails()[0].size(), QSize(200, 200));
    again.cbThumbSize->setCurrentIndex(0);
    emit again.cbThumbSize->activated(0);
    again.ListView->Model()->WaitForThumbnails();
}
