#include "batch/window/TfrmGroup.h"
#include "batch/explorer/TfrmBottom.h"
#include "batch/window/TBatchPreview.h"
#include "batch/window/TToolBox.h"
#include "bricks/TText.h"
#include "imaging/core/ImageCodecs.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/Messages.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QSet>
#include <QSpinBox>
#include <QThread>
#include <QTreeView>
#include <QTimeZone>
#include <QUrl>
#include <gtest/gtest.h>

#include <atomic>

namespace {

void mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Presses a token, moves the pointer by (dx, dy) inside it and releases it.
void dragToken(QWidget* token, QPoint by) {
    QWidget* target = token;
    if (auto* memo = qobject_cast<QPlainTextEdit*>(token))
        target = memo->viewport();
    mouse(target, QEvent::MouseButtonPress, QPoint(2, 2), Qt::LeftButton);
    mouse(target, QEvent::MouseMove, by, Qt::LeftButton);
    mouse(target, QEvent::MouseButtonRelease, by, Qt::NoButton);
}

void typeText(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
    }
}

class TfrmGroupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        saved = Settings();
        Settings().defaultRenameTmp = QStringLiteral("23");
        Settings().defaultDateFormatFile = QStringLiteral("yyyy-MM-dd");
        Settings().defaultTimeFormatFile = QStringLiteral("3");
    }
    void TearDown() override {
        frm.reset();
        Settings() = saved;
    }
    TfrmGroup& window() {
        if (!frm) {
            frm = std::make_unique<TfrmGroup>(surface.designer.get());
            frm->show();
        }
        return *frm;
    }
    QString photo(const QString& name, const QByteArray& date = "2006:05:02 14:05:09") {
        const QString path = files.filePath(name);
        EXPECT_TRUE(WriteBytes(path, JpegWithExif(makeTestPhoto(40, 30, 5), date)));
        return path;
    }
    QStringList captions() {
        QStringList out;
        for (int i = 0; i < frm->ListView1->count(); ++i)
            out.append(frm->ListView1->item(i)->text());
        return out;
    }

    SurfaceFixture surface{QSize(40, 30)};
    QTemporaryDir files;
    TSettings saved;
    MessageCapture messages;
    std::unique_ptr<TfrmGroup> frm;
};

// ---- Creation and enabled states ---------------------------------------------------------

TEST_F(TfrmGroupTest, StartsEmptyWithProcessDisabledAndStoredTemplate) {
    TfrmGroup& f = window();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Batch processing"));
    EXPECT_EQ(frmGroup, &f);
    EXPECT_FALSE(f.btnProcess->isEnabled());
    EXPECT_FALSE(f.GroupBox5->isEnabled()); // the surface holds no brick
    EXPECT_FALSE(f.PBar1->isVisible());
    EXPECT_EQ(f.Template().StoredForm(), QStringLiteral("23"));
    EXPECT_EQ(f.Token(rtDate)->y(), 5);
    EXPECT_EQ(f.Token(rtTime)->y(), 5);
    EXPECT_LT(f.Token(rtDate)->x(), f.Token(rtTime)->x());
    EXPECT_GT(f.Token(rtNumber)->y(), f.bvlBox->y());
    EXPECT_EQ(f.Token(rtNumber)->x() - f.Token(rtCustomText)->x(), 48 + 6);
    EXPECT_EQ(f.EditBox->toPlainText(), QStringLiteral("Type \nyour text \nhere"));
    EXPECT_FALSE(f.InsertMarker->isVisible());
    f.close();
    frm.reset();
    EXPECT_EQ(frmGroup, nullptr);
}

TEST_F(TfrmGroupTest, GeneralGroupEnabledWhenSurfaceHoldsBrick) {
    placeBrick<TText>(*surface.designer, 1, 1);
    TfrmGroup& f = window();
    EXPECT_TRUE(f.GroupBox5->isEnabled());
    EXPECT_TRUE(f.cboxApplyPattern->isEnabled());
}

TEST_F(TfrmGroupTest, CheckBoxesEnableTheirFields) {
    TfrmGroup& f = window();
    EXPECT_FALSE(f.edtWidth->isEnabled());
    EXPECT_FALSE(f.cboxProp->isEnabled());
    EXPECT_FALSE(f.edtRotate->isEnabled());
    f.cboxFit->click();
    EXPECT_TRUE(f.edtWidth->isEnabled());
    EXPECT_TRUE(f.edtHeight->isEnabled());
    EXPECT_TRUE(f.lblFitInto->isEnabled());
    EXPECT_TRUE(f.cboxProp->isEnabled());
    EXPECT_TRUE(f.cboxProp->isChecked());
    EXPECT_FALSE(f.edtRotate->isEnabled());
    f.cboxRotate->click();
    EXPECT_TRUE(f.edtRotate->isEnabled());
    EXPECT_EQ(f.edtRotate->singleStep(), 90);
    EXPECT_EQ(f.edtRotate->minimum(), -360);
    EXPECT_EQ(f.edtWidth->maximum(), 10000);
}

TEST_F(TfrmGroupTest, RenameFilesEnablesTokens) {
    TfrmGroup& f = window();
    for (int id = 1; id <= 5; ++id)
        EXPECT_FALSE(f.Token(id)->isEnabled()) << id;
    f.cboxRename->click();
    for (int id = 1; id <= 5; ++id)
        EXPECT_TRUE(f.Token(id)->isEnabled()) << id;
}

// ---- The job list ------------------------------------------------------------------------

TEST_F(TfrmGroupTest, AddingStopsAtFileAlreadyInList) {
    TfrmGroup& f = window();
    const QString a = photo(QStringLiteral("a.jpg")), b = photo(QStringLiteral("b.jpg")),
                  c = photo(QStringLiteral("c.jpg"));
    f.AddFiles({b});
    EXPECT_TRUE(f.btnProcess->isEnabled());
    f.AddFiles({a, b, c});
    EXPECT_EQ(captions(), (QStringList{QStringLiteral("b.jpg"), QStringLiteral("a.jpg")}));
    ASSERT_EQ(f.Items().size(), 2);
    EXPECT_EQ(f.Items()[1].FullPath, a);
    EXPECT_EQ(f.Items()[1].ImageIndex, 1);
    EXPECT_EQ(f.ListView1->iconSize(), QSize(50, 50));
}

TEST_F(TfrmGroupTest, DropFromFileManagerAddsImagesAndFolders) {
    TfrmGroup& f = window();
    const QString a = photo(QStringLiteral("a.jpg"));
    const QString text = files.filePath(QStringLiteral("notes.txt"));
    WriteBytes(text, "x");
    QMimeData mime;
    mime.setUrls(
        {QUrl::fromLocalFile(a), QUrl::fromLocalFile(text), QUrl::fromLocalFile(files.path())});
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.ListView1->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.ListView1->viewport(), &drop);
    ASSERT_EQ(f.Items().size(), 2);
    EXPECT_FALSE(f.Items()[0].IsFolder);
    EXPECT_TRUE(f.Items()[1].IsFolder);
}

TEST_F(TfrmGroupTest, ThumbnailKeepsAspectRatio) {
    const QString wide = files.filePath(QStringLiteral("wide.bmp"));
    QImage red(640, 480, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(wide));
    const QImage t = TfrmGroup::MakeThumbnail(wide, false);
    EXPECT_EQ(t.size(), QSize(50, 50));
    EXPECT_EQ(t.pixel(25, 3), qRgb(255, 255, 255)); // above the picture: rows 0..6 stay white
    EXPECT_EQ(t.pixel(25, 25), qRgb(255, 0, 0));
    EXPECT_EQ(t.pixel(25, 46), qRgb(255, 255, 255));
}

// The centre of an item's thumbnail in the job list.
QRgb iconCentre(const QListWidgetItem* item) {
    return item->icon().pixmap(50, 50).toImage().convertToFormat(QImage::Format_RGB32).pixel(25,
                                                                                            25);
}

// Adding files fills the job list at once with blank thumbnails; the pictures are made on worker
// threads and reach the list through the window's event loop, the items in view first.
TEST_F(TfrmGroupTest, ThumbnailsAreMadeOffTheWindowThread) {
    TfrmGroup& f = window();
    f.resize(900, 700);
    QStringList paths;
    QList<QRgb> colours;
    for (int i = 0; i < 80; ++i) {
        const QString path = files.filePath(QStringLiteral("p%1.bmp").arg(i, 2, 10, QLatin1Char('0')));
        QImage picture(8, 6, QImage::Format_RGB32);
        const QRgb colour = qRgb(40 + i * 2, 200 - i * 2, (i * 37) % 256);
        picture.fill(colour);
        ASSERT_TRUE(picture.save(path));
        paths << path;
        colours << colour;
    }
    QThread* const windowThread = QThread::currentThread();
    std::atomic<int> madeOnWindowThread{0};
    QSemaphore gate;
    f.SetMaxThumbnailWorkers(1);
    f.SetThumbnailMaker([&](const QString& path, const std::function<bool()>&) {
        if (QThread::currentThread() == windowThread)
            ++madeOnWindowThread; // not held: the test fails instead of hanging
        else
            gate.acquire(); // held until the test has looked at the list
        return TfrmGroup::MakeFileThumbnailImage(path, QImage());
    });

    // The first worker is held, yet AddFiles is back with every file listed.
    f.AddFiles(paths);
    ASSERT_EQ(f.ListView1->count(), 80);
    EXPECT_EQ(f.PendingThumbnailCount(), 80);
    for (int i = 0; i < 80; ++i)
        EXPECT_EQ(iconCentre(f.ListView1->item(i)), qRgb(255, 255, 255)) << i;
    ASSERT_EQ(f.ThumbnailOrder().size(), 1);
    EXPECT_EQ(f.ThumbnailOrder().first(), paths.first());

    // Scrolled to the end: the items now in view come next.
    f.ListView1->scrollToBottom();
    QApplication::processEvents();
    QSet<QString> inView;
    const QRect viewport = f.ListView1->viewport()->rect();
    for (int i = 1; i < 80; ++i)
        if (f.ListView1->visualItemRect(f.ListView1->item(i)).intersects(viewport))
            inView.insert(paths[i]);
    ASSERT_FALSE(inView.isEmpty());
    ASSERT_FALSE(inView.contains(paths[1])) << "the list is not scrolled";
    gate.release(1000);
    ASSERT_TRUE(f.WaitForThumbnails());
    EXPECT_EQ(madeOnWindowThread, 0);
    const QStringList order = f.ThumbnailOrder();
    ASSERT_EQ(order.size(), 80);
    for (int k = 1; k <= inView.size(); ++k)
        EXPECT_TRUE(inView.contains(order[k])) << k << " " << order[k].toStdString();

    // Every picture arrived where it belongs.
    for (int i = 0; i < 80; ++i)
        EXPECT_EQ(iconCentre(f.ListView1->item(i)), colours[i]) << i;
}

// The default maker reads the files on the workers: a HEIC (its small picture when it holds
// one) and a file that is no picture, which gets the unreadable sign; a removed item's picture
// is dropped when it comes.
TEST_F(TfrmGroupTest, HeicThumbnailsArriveLater) {
    const QString heic = files.filePath(QStringLiteral("phone.heic"));
    const QString png = files.filePath(QStringLiteral("phone.png"));
    QImage green(320, 240, QImage::Format_RGB32);
    green.fill(qRgb(30, 170, 60));
    ASSERT_TRUE(green.save(png));
    QProcess enc;
    enc.start(QStringLiteral("heif-enc"), {QStringLiteral("-q"), QStringLiteral("90"),
                                           QStringLiteral("-t"), QStringLiteral("160"), png,
                                           QStringLiteral("-o"), heic});
    if (!enc.waitForFinished(60000) || enc.exitCode() != 0)
        GTEST_SKIP() << "heif-enc is needed";
    const QString broken = files.filePath(QStringLiteral("broken.heic"));
    ASSERT_TRUE(WriteBytes(broken, QByteArray("not a picture at all")));
    const QString gone = photo(QStringLiteral("gone.jpg"));

    TfrmGroup& f = window();
    f.AddFiles({heic, broken, gone});
    ASSERT_EQ(f.ListView1->count(), 3);
    EXPECT_EQ(f.PendingThumbnailCount(), 3);
    EXPECT_EQ(iconCentre(f.ListView1->item(0)), qRgb(255, 255, 255));
    // Removed before its picture can have come.
    f.ListView1->item(2)->setSelected(true);
    f.DeleteClick();
    ASSERT_TRUE(f.WaitForThumbnails());
    ASSERT_EQ(f.ListView1->count(), 2);
    const QRgb c = iconCentre(f.ListView1->item(0));
    EXPECT_NEAR(qRed(c), 30, 12);
    EXPECT_NEAR(qGreen(c), 170, 12);
    EXPECT_NEAR(qBlue(c), 60, 12);
    // The unreadable sign, not the blank picture, for the file that is no picture.
    const QImage sign = f.ListView1->item(1)->icon().pixmap(50, 50).toImage();
    int marked = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x)
            marked += sign.pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_GT(marked, 50);
}

TEST_F(TfrmGroupTest, ExampleNameFollowsListAndRenameSwitch) {
    TfrmGroup& f = window();
    f.AddFiles({photo(QStringLiteral("IMG_0001.JPG"))});
    EXPECT_EQ(f.lblNameExample->text(), QStringLiteral("IMG_0001.JPG"));
    f.cboxRename->click();
    EXPECT_EQ(f.lblNameExample->text(), QStringLiteral("2006-05-02 14-05-09.JPG"));
}

// ---- Tokens ------------------------------------------------------------------------------

TEST_F(TfrmGroupTest, DraggingTokenBetweenRows) {
    TfrmGroup& f = window();
    f.AddFiles({photo(QStringLiteral("IMG_0001.JPG"))});
    f.cboxRename->click();
    // Date down into the Available row.
    dragToken(f.Token(rtDate), QPoint(0, 60));
    EXPECT_EQ(f.Template().StoredForm(), QStringLiteral("3"));
    EXPECT_EQ(f.lblNameExample->text(), QStringLiteral("14-05-09.JPG"));
    EXPECT_FALSE(f.InsertMarker->isVisible());
    // Old name up, far right: after Time.
    QWidget* old = f.Token(rtOldName);
    dragToken(old, QPoint(400 - old->x(), 5 - old->y()));
    EXPECT_EQ(f.Template().StoredForm(), QStringLiteral("35"));
    EXPECT_EQ(f.lblNameExample->text(), QStringLiteral("14-05-09IMG_0001.JPG"));
    EXPECT_EQ(old->y(), 5);
    // Tokens stand in their slots after the drop.
    EXPECT_EQ(old->x() - f.Token(rtTime)->x(), old->width() + 6);
}

TEST_F(TfrmGroupTest, InsertMarkerShowsWhileDragging) {
    TfrmGroup& f = window();
    f.cboxRename->click();
    QWidget* number = f.Token(rtNumber);
    mouse(number, QEvent::MouseButtonPress, QPoint(2, 2), Qt::LeftButton);
    mouse(number, QEvent::MouseMove, QPoint(0, -number->y() + 5), Qt::LeftButton);
    EXPECT_TRUE(f.InsertMarker->isVisible());
    EXPECT_EQ(f.InsertMarker->y(), 5);
    mouse(number, QEvent::MouseButtonRelease, QPoint(0, 0), Qt::NoButton);
    EXPECT_FALSE(f.InsertMarker->isVisible());
}

TEST_F(TfrmGroupTest, MemoDraggedIntoTemplateGivesCustomText) {
    TfrmGroup& f = window();
    f.AddFiles({photo(QStringLiteral("IMG_0001.JPG"))});
    f.cboxRename->click();
    QWidget* memo = f.Token(rtCustomText);
    dragToken(memo, QPoint(-memo->x(), 5 - memo->y())); // first slot of New name
    EXPECT_EQ(f.Template().StoredForm(), QStringLiteral("123"));
    EXPECT_EQ(f.lblNameExample->text(),
              QStringLiteral("Type your text here 2006-05-02 14-05-09.JPG"));
    EXPECT_FALSE(f.EditMode());
}

TEST_F(TfrmGroupTest, MemoDoubleClickClearsPlaceholderAndChecksCharacters) {
    TfrmGroup& f = window();
    f.cboxRename->click();
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.EditBox->viewport(), &dbl);
    EXPECT_TRUE(f.EditMode());
    EXPECT_EQ(f.EditBox->toPlainText(), QString());
    typeText(f.EditBox, QStringLiteral("a:b"));
    EXPECT_EQ(f.EditBox->toPlainText(), QStringLiteral("ab"));
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("You can't use \":\" in file names.")});
    // A second double-click keeps what was typed.
    QApplication::sendEvent(f.EditBox->viewport(), &dbl);
    EXPECT_EQ(f.EditBox->toPlainText(), QStringLiteral("ab"));
    // Pasting several forbidden characters: one message each.
    messages.messages.clear();
    f.EditBox->insertPlainText(QStringLiteral("<x>"));
    EXPECT_EQ(f.EditBox->toPlainText(), QStringLiteral("abx"));
    EXPECT_EQ(messages.messages.size(), 2);
}

TEST(TToolBoxTest, PaintsPictureForItsStateWithKeyColourTransparent) {
    TToolBox box;
    box.EnabledPicture = TokenPicture(0, true);
    box.DisabledPicture = TokenPicture(0, false);
    EXPECT_EQ(box.TransparentColor(), QColor(TokenKeyColor()));
    const QImage on = box.ShownPicture();
    EXPECT_EQ(qAlpha(on.pixel(0, 45)), 0);
    EXPECT_EQ(qAlpha(on.pixel(24, 30)), 255);
    box.setEnabled(false);
    const QImage off = box.ShownPicture();
    EXPECT_EQ(qAlpha(off.pixel(0, 45)), 0);
    EXPECT_NE(on, off);
    // The disabled pictures are grey.
    const QRgb p = off.pixel(24, 30);
    EXPECT_EQ(qRed(p), qGreen(p));
    EXPECT_EQ(qGreen(p), qBlue(p));
    for (int j = 1; j < 4; ++j)
        EXPECT_NE(TokenPicture(j, true), TokenPicture(0, true)) << j;
}

// ---- Process -----------------------------------------------------------------------------

TEST_F(TfrmGroupTest, FitWithoutWidthShowsMessageAndTouchesNothing) {
    TfrmGroup& f = window();
    const QString a = photo(QStringLiteral("a.jpg"));
    auto bytesOf = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = bytesOf(a);
    f.AddFiles({a});
    f.cboxFit->click();
    f.btnProcess->click();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Please, enter Width.")});
    EXPECT_EQ(ReadFileBytes(a), before);
    EXPECT_FALSE(f.PBar1->isVisible());
}

TEST_F(TfrmGroupTest, FieldThatIsNotAnIntegerStopsWithConversionError) {
    TfrmGroup& f = window();
    const QString a = photo(QStringLiteral("a.jpg"));
    auto bytesOf = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = bytesOf(a);
    f.AddFiles({a});
    f.cboxRotate->click();
    // Typed past the spin box's own checks.
    auto* edit = f.edtRotate->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->setText(QStringLiteral("9o"));
    ASSERT_EQ(f.edtRotate->text(), QStringLiteral("9o"));
    Settings().defaultRenameTmp.clear();
    f.btnProcess->click();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("'9o' is not a valid integer value")});
    EXPECT_EQ(messages.messages.value(0).kind, int(MessageKind::Error));
    EXPECT_EQ(ReadFileBytes(a), before);
    EXPECT_FALSE(f.PBar1->isVisible());
    // As for any job that does not start, the template is stored.
    EXPECT_EQ(Settings().defaultRenameTmp, QStringLiteral("23"));
    EXPECT_EQ(f.btnProcess->text(), QStringLiteral("Process"));
}

TEST_F(TfrmGroupTest, CameraClockMovesTheRunsDatesOnly) {
    TfrmGroup& f = window();
    const QString a = photo(QStringLiteral("a.jpg"), "2024:02:28 23:30:05");
    auto bytesOf = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = bytesOf(a);
    f.AddFiles({a});
    f.cboxRename->click();
    f.edtClockShift->setText(QStringLiteral("25:00"));
    f.btnProcess->click();
    ASSERT_EQ(messages.messages.size(), 1);
    EXPECT_EQ(messages.messages[0].kind, int(MessageKind::Error));
    EXPECT_TRUE(messages.messages[0].text.startsWith(QStringLiteral("Camera clock: '25:00'")));
    EXPECT_EQ(captions(), QStringList{QStringLiteral("a.jpg")}); // nothing ran

    messages.messages.clear();
    // Into the leap day.
    f.edtClockShift->setText(QStringLiteral("+01:00"));
    f.btnProcess->click();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Operation complete!")});
    EXPECT_EQ(captions(), QStringList{QStringLiteral("2024-02-29 0-30-05.jpg")});
    // Only renamed: the photo is byte for byte as it was, its EXIF time as recorded, which is
    // what a read after the run gives.
    EXPECT_EQ(bytesOf(f.Items()[0].FullPath), before);
    EXPECT_EQ(ExifDateTime(f.Items()[0].FullPath),
              DateTimeToValue(QDateTime(QDate(2024, 2, 28), QTime(23, 30, 5), QTimeZone::utc())));
}

TEST_F(TfrmGroupTest, ProcessRenamesRotatesAndUpdatesCaptions) {
    placeBrick<TText>(*surface.designer, 2, 2)->setCaption(QStringLiteral("X"));
    const QImage surfaceBefore = surface.designer->realPicture;
    TfrmGroup& f = window();
    const QString a = photo(QStringLiteral("a.jpg")), b = photo(QStringLiteral("b.jpg")),
                  c = photo(QStringLiteral("c.jpg"), "2007:01:01 00:00:00");
    f.AddFiles({a, b, c});
    // Remove the middle entry.
    f.ListView1->item(1)->setSelected(true);
    f.DeleteClick();
    f.cboxApplyPattern->click();
    f.cboxRotate->click();
    f.edtRotate->setValue(90);
    f.cboxRename->click();
    int maximum = -1;
    QObject::connect(f.PBar1, &QProgressBar::valueChanged, f.PBar1,
                     [&] { maximum = f.PBar1->maximum(); });
    f.btnProcess->click();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Operation complete!")});
    EXPECT_EQ(maximum, 6);
    EXPECT_EQ(captions(), (QStringList{QStringLiteral("2006-05-02 14-05-09.jpg"),
                                       QStringLiteral("2007-01-01 0-00-00.jpg")}));
    EXPECT_EQ(ReadImageFile(f.Items()[1].FullPath).size(), QSize(30, 40));
    EXPECT_EQ(ReadImageFile(b).size(), QSize(40, 30)); // removed: untouched
    EXPECT_EQ(surface.designer->realPicture, surfaceBefore);
    EXPECT_EQ(Settings().defaultRenameTmp, QStringLiteral("23"));
    EXPECT_FALSE(f.PBar1->isVisible());
    EXPECT_EQ(f.btnProcess->text(), QStringLiteral("Process"));
    EXPECT_TRUE(f.ListView1->isEnabled());
}

TEST_F(TfrmGroupTest, OutputFolderTakesTheOutputsAndLeavesTheSources) {
    TfrmGroup& f = window();
    const QString a = photo(QStringLiteral("a.jpg"));
    const QByteArray before = ReadFileBytes(a);
    f.AddFiles({a});
    EXPECT_FALSE(f.edtOutputFolder->isEnabled()) << "beside the sources unless asked";
    f.cboxOutputFolder->click();
    EXPECT_TRUE(f.edtOutputFolder->isEnabled());
    // Checked without a folder: asked for one, nothing written.
    f.btnProcess->click();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Please, choose the output folder.")});
    messages.messages.clear();
    const QString out = files.filePath(QStringLiteral("out"));
    f.edtOutputFolder->setText(out);
    f.cboxRotate->click();
    f.edtRotate->setValue(90);
    f.btnProcess->click();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Operation complete!")});
    EXPECT_EQ(ReadFileBytes(a), before);
    EXPECT_EQ(ReadImageFile(out + QStringLiteral("/a.jpg")).size(), QSize(30, 40));
    EXPECT_EQ(f.Items()[0].FullPath, out + QStringLiteral("/a.jpg"));
}

TEST_F(TfrmGroupTest, PreviewShowsEveryPhotoWithItsNewNameAndMarksStrayCaptions) {
    // A caption near the right edge of the 40 x 30 surface photo, by its corner: it sticks out.
    auto* text = placeBrick<TText>(*surface.designer, 30, 2);
    text->setCaption(QStringLiteral("WIDE CAPTION"));
    TfrmGroup& f = window();
    const QString a = files.filePath(QStringLiteral("land.jpg"));
    const QString b = files.filePath(QStringLiteral("port.jpg"));
    ASSERT_TRUE(WriteBytes(a, JpegWithExif(makeTestPhoto(300, 200, 5), "2006:05:02 14:05:09")));
    ASSERT_TRUE(WriteBytes(b, JpegWithExif(makeTestPhoto(200, 300, 6), "2007:01:01 00:00:00")));
    f.AddFiles({a, b});
    f.cboxApplyPattern->click();
    f.cboxRename->click();
    f.ShowPreview();
    TBatchPreview* preview = f.LastPreview();
    ASSERT_NE(preview, nullptr);
    // The tiles come from workers, through the event loop.
    const QDeadlineTimer deadline(10000);
    while (preview->Pending() > 0 && !deadline.hasExpired()) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
    ASSERT_EQ(preview->Pending(), 0);
    ASSERT_EQ(preview->Grid()->count(), 2);
    EXPECT_EQ(preview->Grid()->item(0)->text(), QStringLiteral("2006-05-02 14-05-09.jpg"));
    EXPECT_EQ(preview->Grid()->item(1)->text(), QStringLiteral("2007-01-01 0-00-00.jpg"));
    EXPECT_EQ(preview->Tiles()[0].outputSize, QSize(300, 200));
    EXPECT_EQ(preview->Tiles()[1].outputSize, QSize(200, 300));
    EXPECT_TRUE(preview->Tiles()[0].offPhoto);
    // Nothing was written meanwhile.
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(messages.texts().isEmpty());
}

// The tiles of a preview once its workers are done.
static QList<PreviewTile> finishedTiles(TBatchPreview* preview) {
    const QDeadlineTimer deadline(10000);
    while (preview && preview->Pending() > 0 && !deadline.hasExpired()) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
    EXPECT_TRUE(preview && preview->Pending() == 0);
    return preview ? preview->Tiles() : QList<PreviewTile>();
}

TEST_F(TfrmGroupTest, PreviewTilesShowFieldsCountersAndTheCameraClock) {
    auto* text = placeBrick<TText>(*surface.designer, 2, 2);
    text->setCaption(QStringLiteral("#{Counter} {Date:yyyy-MM-dd}"));
    TfrmGroup& f = window();
    // Wide enough for the whole caption.
    const QString a = files.filePath(QStringLiteral("a.jpg"));
    const QString b = files.filePath(QStringLiteral("b.jpg"));
    ASSERT_TRUE(WriteBytes(a, JpegWithExif(makeTestPhoto(900, 200, 5), "2024:02:28 23:30:05")));
    ASSERT_TRUE(WriteBytes(b, JpegWithExif(makeTestPhoto(900, 200, 6), "2024:12:31 23:59:59")));
    f.AddFiles({a, b});
    f.cboxApplyPattern->click();
    // An hour later: the leap day, and the next year.
    f.edtClockShift->setText(QStringLiteral("+01:00"));
    f.ShowPreview();
    const QList<PreviewTile> shifted = finishedTiles(f.LastPreview());
    ASSERT_EQ(shifted.size(), 2);
    for (const PreviewTile& tile : shifted) {
        EXPECT_TRUE(tile.notice.isEmpty()) << tile.notice.toStdString();
        EXPECT_FALSE(tile.image.isNull()) << tile.error.toStdString();
    }

    f.edtClockShift->clear();
    const QStringList expected{QStringLiteral("#1 2024-02-29"), QStringLiteral("#2 2025-01-01")};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        text->setCaption(expected[i]);
        f.ShowPreview();
        const QList<PreviewTile> literal = finishedTiles(f.LastPreview());
        ASSERT_EQ(literal.size(), 2);
        EXPECT_TRUE(shifted[i].image == literal[i].image);
    }
    // A shift that does not read opens no preview, and says why.
    f.edtClockShift->setText(QStringLiteral("+1:2"));
    TBatchPreview* before = f.LastPreview();
    f.ShowPreview();
    EXPECT_EQ(f.LastPreview(), before);
    ASSERT_EQ(messages.messages.size(), 1);
    EXPECT_TRUE(messages.messages[0].text.startsWith(QStringLiteral("Camera clock: ")));
}

TEST_F(TfrmGroupTest, TheExampleNameIsDatedByTheCameraClock) {
    TfrmGroup& f = window();
    f.AddFiles({photo(QStringLiteral("a.jpg"), "2024:02:28 23:30:05")});
    f.cboxRename->click();
    EXPECT_EQ(f.lblNameExample->text(), QStringLiteral("2024-02-28 23-30-05.jpg"));
    f.edtClockShift->setText(QStringLiteral("+00:30"));
    EXPECT_EQ(f.lblNameExample->text(), QStringLiteral("2024-02-29 0-00-05.jpg"));
    f.edtClockShift->setText(QStringLiteral("-1 00:00"));
    EXPECT_EQ(f.lblNameExample->text(), QStringLiteral("2024-02-27 23-30-05.jpg"));
    f.edtClockShift->setText(QStringLiteral("+25:00"));
    EXPECT_TRUE(f.lblNameExample->text().startsWith(QStringLiteral("Camera clock: ")))
        << f.lblNameExample->text().toStdString();
    f.edtClockShift->clear();
    EXPECT_EQ(f.lblNameExample->text(), QStringLiteral("2024-02-28 23-30-05.jpg"));
    // The run's shift stays the run's: nothing is left set for other readers.
    EXPECT_FALSE(RunClockShift().has_value());
}

TEST_F(TfrmGroupTest, CollidingNamesAreRefusedBeforeAnyFile) {
    // Two photos of the same minute get the same date-and-time name.
    TfrmGroup& f = window();
    const QString a = photo(QStringLiteral("a.jpg")), b = photo(QStringLiteral("b.jpg"));
    const QByteArray aBytes = ReadFileBytes(a), bBytes = ReadFileBytes(b);
    f.AddFiles({a, b});
    f.cboxRotate->click();
    f.edtRotate->setValue(90);
    f.cboxRename->click();
    f.btnProcess->click();
    ASSERT_EQ(messages.messages.size(), 1);
    EXPECT_EQ(messages.messages[0].kind, int(MessageKind::Error));
    const QString& text = messages.messages[0].text;
    EXPECT_TRUE(text.contains('"' + a + '"') && text.contains('"' + b + '"')) << text.toStdString();
    EXPECT_EQ(ReadFileBytes(a), aBytes);
    EXPECT_EQ(ReadFileBytes(b), bBytes);
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files), (QStringList{"a.jpg", "b.jpg"}));
    EXPECT_EQ(captions(), (QStringList{"a.jpg", "b.jpg"}));
    EXPECT_FALSE(f.PBar1->isVisible());
    EXPECT_EQ(f.btnProcess->text(), QStringLiteral("Process"));
}

TEST_F(TfrmGroupTest, ProcessCanBeCancelledBetweenFiles) {
    TfrmGroup& f = window();
    f.AddFiles({photo(QStringLiteral("a.jpg")), photo(QStringLiteral("b.jpg")),
                photo(QStringLiteral("c.jpg"))});
    f.cboxRotate->click();
    f.edtRotate->setValue(180);
    bool inputBlocked = false;
    // Pressing the button again once the first file is done.
    QObject::connect(f.PBar1, &QProgressBar::valueChanged, f.PBar1, [&](int v) {
        if (v == 3) {
            inputBlocked = !f.ListView1->isEnabled() && !f.grpResample->isEnabled();
            EXPECT_EQ(f.btnProcess->text(), QStringLiteral("Cancel"));
            f.btnProcess->click();
        }
    });
    f.btnProcess->click();
    EXPECT_TRUE(inputBlocked);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Cancelled after 1 of 3 files.")});
    EXPECT_EQ(f.btnProcess->text(), QStringLiteral("Process"));
}

TEST_F(TfrmGroupTest, CloseWhileRunningCancelsThenCloses) {
    TfrmGroup& f = window();
    f.AddFiles({photo(QStringLiteral("a.jpg")), photo(QStringLiteral("b.jpg"))});
    QObject::connect(f.PBar1, &QProgressBar::valueChanged, f.PBar1, [&](int v) {
        if (v == 1)
            f.btnCancel->click();
    });
    f.btnProcess->click();
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Cancelled after 1 of 2 files.")});
    EXPECT_FALSE(f.isVisible());
}

TEST_F(TfrmGroupTest, TheBoxIsEnteredFreelyAndTheExampleShowsTheFit) {
    TfrmGroup& f = window();
    f.AddFiles({photo(QStringLiteral("a.jpg"))}); // 40 x 30
    f.cboxFit->click();
    f.edtWidth->setFocus();
    f.edtWidth->setValue(800);
    EXPECT_EQ(f.edtHeight->value(), 0) << "the other side is not made up";
    EXPECT_EQ(f.lblFitExample->text(), QString()) << "no box yet";
    f.edtHeight->setValue(800);
    EXPECT_EQ(f.edtWidth->value(), 800);
    // 40 x 30 inside 800 x 800: 800 x 600 (the long side).
    EXPECT_EQ(f.lblFitExample->text(), QStringLiteral("a.jpg: 40 × 30 becomes 800 × 600"));
    f.edtHeight->setValue(500);
    EXPECT_EQ(f.lblFitExample->text(), QStringLiteral("a.jpg: 40 × 30 becomes 667 × 500"));
    f.cboxProp->click();
    EXPECT_EQ(f.lblFitExample->text(), QStringLiteral("a.jpg: 40 × 30 becomes 800 × 500"));
    // A quarter turn comes first.
    f.cboxProp->click();
    f.cboxRotate->click();
    f.edtRotate->setValue(90);
    EXPECT_EQ(f.lblFitExample->text(), QStringLiteral("a.jpg: 30 × 40 becomes 375 × 500"));
    f.cboxFit->click();
    EXPECT_EQ(f.lblFitExample->text(), QString());
}

TEST_F(TfrmGroupTest, TheFitExampleOfATurnedFirstFile) {
    // Stored 40 x 30 with Orientation 6: processed upright, 30 x 40.
    const QString turned = files.filePath(QStringLiteral("turned.jpg"));
    ASSERT_TRUE(WriteBytes(turned, withExifBlock(EncodeJpeg(makeTestPhoto(40, 30, 5), 90),
                                                 {{{0x0132, "2006:05:02 14:05:09"}}, {}, 6})));
    for (bool autoRotate : {true, false}) {
        SCOPED_TRACE(autoRotate);
        Settings().AutoRotate = autoRotate;
        frm.reset();
        TfrmGroup& f = window();
        f.AddFiles({turned});
        f.cboxFit->click();
        f.edtWidth->setValue(300);
        f.edtHeight->setValue(300);
        EXPECT_EQ(f.lblFitExample->text(), autoRotate
                                               ? QStringLiteral("turned.jpg: 30 × 40 becomes 225 × 300")
                                               : QStringLiteral("turned.jpg: 40 × 30 becomes 300 × 225"));
    }
}

} // namespace

// ---- Available Images ---------------------------------------------------------------------

TEST_F(TfrmGroupTest, AvailableImagesStartInTheExplorersFolder) {
    QDir(files.path()).mkdir(QStringLiteral("sub"));
    photo(QStringLiteral("IMG_0001.JPG"));
    {
        TfrmBottom explorer(nullptr, files.path());
        TfrmGroup& f = window();
        EXPECT_EQ(f.ListView2->CurrentFolder(), QDir(files.path()).absolutePath());
        EXPECT_EQ(f.ListView2->Model()->rowCount(), 2);
        frm.reset();
        explorer.ListView->Model()->WaitForThumbnails();
    }
    // Without an explorer: the start folder.
    TfrmGroup& g = window();
    EXPECT_EQ(g.ListView2->CurrentFolder(), QDir::cleanPath(StartFolder()));
    g.ListView2->Model()->WaitForThumbnails();
}

TEST_F(TfrmGroupTest, FolderTreeOpensTheFolderInTheList) {
    QDir(files.path()).mkpath(QStringLiteral("sub/deeper"));
    const QString inside = files.filePath(QStringLiteral("sub/inside.jpg"));
    ASSERT_TRUE(WriteBytes(inside, JpegWithExif(makeTestPhoto(40, 30, 5), "2006:05:02 14:05:09")));
    TfrmGroup& f = window();
    auto* folders = qobject_cast<QFileSystemModel*>(f.ShellTreeView1->model());
    ASSERT_TRUE(folders);
    f.ShellTreeView1->setCurrentIndex(folders->index(files.filePath(QStringLiteral("sub"))));
    EXPECT_EQ(f.ListView2->CurrentFolder(), files.filePath(QStringLiteral("sub")));
    ASSERT_EQ(f.ListView2->Model()->rowCount(), 2);
    // A file double-clicked in this list is not opened; a folder is, and the tree follows it.
    f.ListView2->selectionModel()->select(f.ListView2->Model()->index(1),
                                          QItemSelectionModel::ClearAndSelect);
    f.ListView2->ActivateSelected();
    EXPECT_EQ(f.ListView2->CurrentFolder(), files.filePath(QStringLiteral("sub")));
    EXPECT_TRUE(f.Items().isEmpty());
    f.ListView2->selectionModel()->select(f.ListView2->Model()->index(0),
                                          QItemSelectionModel::ClearAndSelect);
    f.ListView2->ActivateSelected();
    EXPECT_EQ(f.ListView2->CurrentFolder(), files.filePath(QStringLiteral("sub/deeper")));
    EXPECT_EQ(folders->filePath(f.ShellTreeView1->currentIndex()),
              files.filePath(QStringLiteral("sub/deeper")));
    f.ListView2->Model()->WaitForThumbnails();
}

TEST_F(TfrmGroupTest, DraggingFromAvailableImagesRefusesFoldersAndAddsFiles) {
    QDir(files.path()).mkdir(QStringLiteral("sub"));
    photo(QStringLiteral("IMG_0001.JPG"));
    photo(QStringLiteral("IMG_0002.JPG"));
    TfrmGroup& f = window();
    f.ShowAvailableFolder(files.path());
    TFolderModel* model = f.ListView2->Model();
    ASSERT_EQ(model->rowCount(), 3);
    const QPoint at(10, 10);
    auto drop = [&](const QModelIndexList& rows) {
        std::unique_ptr<QMimeData> mime(model->mimeData(rows));
        QDragEnterEvent enter(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.ListView1->viewport(), &enter);
        QDropEvent dropped(QPointF(at), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.ListView1->viewport(), &dropped);
        return enter.isAccepted();
    };
    // A folder among the dragged entries: refused, nothing added.
    EXPECT_FALSE(drop({model->index(0), model->index(1)}));
    EXPECT_TRUE(f.Items().isEmpty());
    EXPECT_TRUE(drop({model->index(1), model->index(2)}));
    ASSERT_EQ(f.Items().size(), 2);
    EXPECT_EQ(f.Items()[0].FullPath, files.filePath(QStringLiteral("IMG_0001.JPG")));
    EXPECT_EQ(f.Items()[1].FullPath, files.filePath(QStringLiteral("IMG_0002.JPG")));
    EXPECT_TRUE(f.btnProcess->isEnabled());
    model->WaitForThumbnails();
}

TEST_F(TfrmGroupTest, ExplorerDragsMayCarryFolders) {
    QDir(files.path()).mkdir(QStringLiteral("sub"));
    photo(QStringLiteral("IMG_0001.JPG"));
    TfrmBottom explorer(nullptr, files.path());
    TfrmGroup& f = window();
    TFolderModel* model = explorer.ListView->Model();
    std::unique_ptr<QMimeData> mime(model->mimeData({model->index(0), model->index(1)}));
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.ListView1->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(at), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.ListView1->viewport(), &dropped);
    ASSERT_EQ(f.Items().size(), 2);
    EXPECT_TRUE(f.Items()[0].IsFolder);
    frm.reset();
    model->WaitForThumbnails();
}
