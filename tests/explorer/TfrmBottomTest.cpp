#include "batch/explorer/TfrmBottom.h"
#include "patterns/settings/TSettings.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class TfrmBottomTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkdir(QStringLiteral("sub"));
        for (const char* name : {"a.jpg", "b.jpg"})
            ASSERT_TRUE(WriteBytes(dir.filePath(QString::fromLatin1(name)), "not a picture"));
    }
    void select(TfrmBottom& f, std::initializer_list<int> rows) {
        f.ListView->selectionModel()->clearSelection();
        for (int row : rows)
            f.ListView->selectionModel()->select(f.ListView->Model()->index(row),
                                                 QItemSelectionModel::Select);
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(TfrmBottomTest, OpensTheFolderAndIsKnownWhileItLives) {
    {
        TfrmBottom f(nullptr, dir.path());
        EXPECT_EQ(frmBottom, &f);
        EXPECT_EQ(f.windowTitle(), QStringLiteral("Explorer"));
        EXPECT_EQ(f.CurrentFolder(), QDir(dir.path()).absolutePath());
        EXPECT_EQ(f.ListView->Model()->rowCount(), 3);
        EXPECT_EQ(f.stbCount->text(), QStringLiteral("3 objects"));
        EXPECT_FALSE(f.features() & QDockWidget::DockWidgetClosable);
        EXPECT_TRUE(f.features() & QDockWidget::DockWidgetFloatable);
        f.ListView->Model()->WaitForThumbnails();
    }
    EXPECT_EQ(frmBottom, nullptr);
}

TEST_F(TfrmBottomTest, PopupItemsNeedASelectionAndAnnounceTheFiles) {
    TfrmBottom f(nullptr, dir.path());
    QSignalSpy apply(&f, &TfrmBottom::applyPatternToFiles);
    QSignalSpy group(&f, &TfrmBottom::addFilesToGroup);
    f.PopupMenu1Popup();
    EXPECT_FALSE(f.popQuick->isEnabled());
    EXPECT_FALSE(f.popReposit->isEnabled());
    EXPECT_TRUE(f.Refresh1->isEnabled());

    select(f, {2, 0}); // b.jpg and the folder
    f.PopupMenu1Popup();
    EXPECT_TRUE(f.popQuick->isEnabled());
    EXPECT_TRUE(f.popReposit->isEnabled());
    f.popQuick->trigger();
    ASSERT_EQ(apply.count(), 1);
    EXPECT_EQ(apply[0][0].toStringList(), QStringList{dir.filePath(QStringLiteral("b.jpg"))});
    f.popReposit->trigger();
    ASSERT_EQ(group.count(), 1);
    EXPECT_EQ(group[0][0].toStringList(), (QStringList{dir.filePath(QStringLiteral("sub")),
                                                       dir.filePath(QStringLiteral("b.jpg"))}));

    // Refresh picks up a new file.
    ASSERT_TRUE(WriteBytes(dir.filePath(QStringLiteral("c.bmp")), "x"));
    f.Refresh1->trigger();
    EXPECT_EQ(f.ListView->Model()->rowCount(), 4);
    f.ListView->Model()->WaitForThumbnails();
}

TEST_F(TfrmBottomTest, SelectingShowsTypeTextAndDoubleClickOpensImage) {
    TfrmBottom f(nullptr, dir.path());
    f.ListView->Model()->WaitForThumbnails();
    QSignalSpy open(&f, &TfrmBottom::openImage);
    f.ListView->selectionModel()->setCurrentIndex(f.ListView->Model()->index(1),
                                                  QItemSelectionModel::ClearAndSelect);
    // a.jpg cannot be decoded: its type text stays its path.
    EXPECT_EQ(f.stbType->text(), dir.filePath(QStringLiteral("a.jpg")));
    f.ListView->ActivateSelected();
    ASSERT_EQ(open.count(), 1);
    EXPECT_EQ(open[0][0].toString(), dir.filePath(QStringLiteral("a.jpg")));
}

TEST_F(TfrmBottomTest, FoldingTwiceReturnsToTheUnfoldedHeight) {
    TfrmBottom f(nullptr, dir.path());
    f.resize(400, 300);
    f.show();
    QApplication::processEvents();
    f.Fold();
    QApplication::processEvents();
    EXPECT_EQ(f.ClientHeight(), TfrmBottom::FoldedHeight);
    EXPECT_TRUE(f.Folded());
    f.Fold();
    QApplication::processEvents();
    EXPECT_EQ(f.ClientHeight(), TfrmBottom::UnfoldedHeight);
    EXPECT_FALSE(f.Folded());
    f.ListView->Model()->WaitForThumbnails();
}

TEST_F(TfrmBottomTest, BoundsAreKeptInTheSettings) {
    {
        TfrmBottom f(nullptr, dir.path());
        f.setFloating(true);
        f.setGeometry(40, 50, 300, 220);
        f.SaveBounds();
        EXPECT_EQ(LoadFormBounds(QStringLiteral("BottomBounds")), QRect(40, 50, 300, 220));
        f.ListView->Model()->WaitForThumbnails();
    }
    TfrmBottom g(nullptr, QString());
    g.RestoreBounds();
    EXPECT_TRUE(g.isFloating());
    EXPECT_EQ(g.geometry(), QRect(40, 50, 300, 220));
}
