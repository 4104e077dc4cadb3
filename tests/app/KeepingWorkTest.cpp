// The window never loses work without a question: what is modified, what the closing question
// offers, which file Save Pattern writes, the batch rename's defaults, date bricks that follow
// the open photo, and the open photo's state across Apply pattern, a cancelled new brick and a
// zoom level that cannot be had. All on real files in temporary folders.
#include "app/gui/TProjectManager.h"
#include "app/gui/ZoomSteps.h"
#include "batch/explorer/TfrmBottom.h"
#include "batch/window/TBatchPreview.h"
#include "batch/window/TfrmGroup.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TText.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/dialogs/DialogHooks.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignSurface.h"
#include "imaging/core/ImageCodecs.h"
#include "inspector/TObjectInspector.h"
#include "options/TfrmOptions.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "platform/Messages.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A pattern file's text: the program writes UTF-16 with a byte-order mark, the tests UTF-8.
QString patternText(const QString& path) {
    const QByteArray bytes = readAll(path);
    if (bytes.startsWith("\xFF\xFE"))
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                                  (bytes.size() - 2) / 2);
    return QString::fromUtf8(bytes);
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

// A JPEG whose EXIF block dates it (IFD0 DateTime); an empty date gives a block without one.
QString datedPhoto(const QString& path, const QByteArray& date, int w = 240, int h = 160,
                   quint32 seed = 3) {
    EXPECT_TRUE(WriteBytes(path, JpegWithExif(makeTestPhoto(w, h, seed), date)));
    return path;
}

QByteArray patternXml(const QStringList& bodies) {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"t\">\n"
                     "<Inspector Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\" ColWidth=\"1\" "
                     "Sort=\"True\" AlwaysOnTop=\"True\"/>\n"
                     "<Designer Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\" GridX=\"4\" "
                     "GridY=\"4\" IsGrid=\"False\"/>\n"
                     "<Manager Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\"/>\n<Bricks>\n";
    for (const QString& b : bodies)
        out += "<Brick Body=\"" + b.toUtf8() + "\"/>\n";
    return out + "</Bricks>\n</Project>\n";
}

QString brick(const QString& cls, const QString& name, int left, int top, const QString& caption) {
    return QStringLiteral("object %1: %2%CR%LF  Left = %3%CR%LF  Top = %4%CR%LF  Caption = "
                          "'%5'%CR%LF  Font.Height = -24%CR%LFend")
        .arg(name, cls)
        .arg(left)
        .arg(top)
        .arg(caption);
}

QString noMnemonic(QString text) {
    return text.remove(QLatin1Char('&'));
}

// The window as a user has it: palette, shown offscreen; messages, questions, file dialogs and
// the window's own dialogs answered by the test.
class KeepingWorkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        saved = Settings();
        SetSystemLocaleForTesting(QLocale(QLocale::English, QLocale::UnitedStates));
        RegisterBricks();
        SetMessageHandler([this](MessageKind k, const QString& t) { messages.append({k, t}); });
        SetQuestionHandler([this](QuestionButtons, const QString& t) {
            questions.append(t);
            return questionAnswer;
        });
        makeWindow();
    }
    void TearDown() override {
        if (window) {
            window->setDialogRunner([](QDialog&) { return int(QDialog::Rejected); });
            window->setAttribute(Qt::WA_DeleteOnClose, false);
        }
        window.reset();
        ResetEditorDialogs();
        SetMessageHandler(nullptr);
        SetQuestionHandler(nullptr);
        ResetSystemLocaleForTesting();
        Settings() = saved;
    }

    void makeWindow() {
        window = std::make_unique<TProjectManager>();
        window->RegisterStandardBricks();
        window->setFileNameAsker([this](const FileRequest& r) {
            requests.append(r);
            if (!chosenFiles.isEmpty())
                return chosenFiles.takeFirst();
            return QString();
        });
        window->setDialogRunner([this](QDialog& d) { return runDialog(d); });
        window->setGeometry(50, 50, 900, 700);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // A message box is answered by the button whose caption (without mnemonic) is press; with
    // none of that caption, by its escape button.
    // The preview that asks before files are written counts as a question, answered with
    // questionAnswer once its tiles are made.
    int runDialog(QDialog& d) {
        if (auto* preview = qobject_cast<TBatchPreview*>(&d)) {
            EXPECT_TRUE(QTest::qWaitFor([preview] { return preview->Pending() == 0; }, 20000));
            questions.append(preview->Note());
            return questionAnswer == Answer::Yes ? QDialog::Accepted : QDialog::Rejected;
        }
        auto* box = qobject_cast<QMessageBox*>(&d);
        if (!box)
            return QDialog::Rejected;
        boxTexts.append(box->text());
        QStringList captions;
        for (QAbstractButton* b : box->buttons())
            captions << noMnemonic(b->text());
        captions.sort();
        boxButtons.append(captions);
        for (QAbstractButton* b : box->buttons()) {
            if (noMnemonic(b->text()) == press) {
                b->click();
                return box->result();
            }
        }
        if (box->escapeButton())
            box->escapeButton()->click();
        return box->result();
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    TDesigner* designer() const { return window->designer(); }
    bool enabled(const char* name) {
        window->updateActions();
        return window->action(QLatin1String(name))->isEnabled();
    }
    // Whether the window let itself be closed; it is shown again for the next step.
    bool closes() {
        const bool closed = window->close();
        if (closed)
            window->show();
        return closed;
    }
    // Opens a photo and a pattern of one text brick "A1"; the brick is returned.
    TText* photoWithPattern(const QString& photoName = QStringLiteral("p.jpg")) {
        EXPECT_TRUE(window->OpenImage(datedPhoto(path(photoName), "2006:05:02 14:05:09")));
        writeAll(path("one.xml"), patternXml({brick("TText", "A1", 20, 30, "A1")}));
        window->LoadPattern(path("one.xml"));
        const QList<QWidget*> bricks = designer()->Bricks();
        return bricks.isEmpty() ? nullptr : qobject_cast<TText*>(bricks.constFirst());
    }
    void writeCaption(TText* text, const QString& caption) {
        window->designSurface()->Select(text);
        TInspectorModel& model = window->inspector()->Model();
        model.WriteValue(model.FindRow(QStringLiteral("Caption")), caption);
    }

    QTemporaryDir dir;
    TSettings saved;
    std::unique_ptr<TProjectManager> window;
    QList<QPair<MessageKind, QString>> messages;
    QStringList questions;
    Answer questionAnswer = Answer::No;
    QList<FileRequest> requests;
    QStringList chosenFiles; // the file dialogs' answers, in turn ("" or none left: cancelled)
    QString press;           // the caption the next message box is answered with
    QStringList boxTexts;
    QList<QStringList> boxButtons;
};

// ---- what counts as modified ----

TEST_F(KeepingWorkTest, BrickEditsAfterOpeningAnotherPhotoStillMarkThePattern) {
    TText* text = photoWithPattern();
    ASSERT_NE(text, nullptr);
    writeCaption(text, QStringLiteral("First"));
    ASSERT_TRUE(enabled("aSave"));
    // Opening another photo leaves the pattern as it was: still unsaved.
    ASSERT_TRUE(window->OpenImage(datedPhoto(path("second.jpg"), "2007:01:01 10:00:00")));
    EXPECT_TRUE(enabled("aSave"));
    writeCaption(text, QStringLiteral("Second"));
    EXPECT_TRUE(enabled("aSave"));
    EXPECT_TRUE(window->windowTitle().contains("one.xml"));

    // Open Pattern, Close Pattern and Exit each ask before the bricks go.
    press = QStringLiteral("Cancel");
    chosenFiles = {path("one.xml")};
    window->openPattern();
    window->closePattern();
    EXPECT_FALSE(closes());
    ASSERT_EQ(boxTexts.size(), 3);
    for (const QString& t : boxTexts)
        EXPECT_TRUE(t.contains("one.xml")) << t.toStdString();
    EXPECT_EQ(text->Caption(), "Second");
    EXPECT_TRUE(window->isVisible());
}

TEST_F(KeepingWorkTest, TurningThePhotoWithItsBricksIsOneUndoStep) {
    TText* text = photoWithPattern();
    ASSERT_NE(text, nullptr);
    writeCaption(text, QStringLiteral("Edited"));
    const QPoint placed(text->FullLeft, text->FullTop);
    window->action("aRotateClock")->trigger();
    ASSERT_EQ(designer()->realPicture.size(), QSize(160, 240));
    EXPECT_NE(QPoint(text->FullLeft, text->FullTop), placed) << "the brick turned with the photo";
    EXPECT_TRUE(designer()->PhotoModified);
    // Undo puts the photo back upright with the brick where it was; the caption stays edited.
    window->action("aUndo")->trigger();
    EXPECT_EQ(designer()->realPicture.size(), QSize(240, 160));
    EXPECT_EQ(QPoint(text->FullLeft, text->FullTop), placed);
    EXPECT_EQ(text->Caption(), "Edited");
    EXPECT_FALSE(designer()->PhotoModified) << "the photo is as it was opened";
    window->action("aUndo")->trigger();
    EXPECT_EQ(text->Caption(), "A1");
    EXPECT_FALSE(enabled("aSave")) << "the pattern is as it was read";
    // Nothing is left unsaved.
    EXPECT_TRUE(closes());
    EXPECT_TRUE(boxTexts.isEmpty());
}

TEST_F(KeepingWorkTest, WritesThatChangeNothingMarkNothing) {
    TText* text = photoWithPattern();
    ASSERT_NE(text, nullptr);
    window->designSurface()->Select(text);
    TInspectorModel& model = window->inspector()->Model();
    // Enter on an unchanged value, and Escape (which writes the shown value back).
    model.WriteValue(model.FindRow("Caption"), "A1");
    model.WriteValue(model.FindRow("Left"), model.DisplayText(model.FindRow("Left")));
    // A write the property refuses.
    EXPECT_ANY_THROW(model.WriteValue(model.FindRow("Left"), "not a number"));
    EXPECT_EQ(text->Caption(), "A1");
    EXPECT_EQ(window->designSurface()->UndoStack()->count(), 0);
    EXPECT_FALSE(enabled("aSave"));
    EXPECT_FALSE(designer()->Modified());
    EXPECT_TRUE(closes()) << "nothing to ask about";
    EXPECT_TRUE(boxTexts.isEmpty());
    EXPECT_TRUE(questions.isEmpty());
}

// ---- the closing question ----

TEST_F(KeepingWorkTest, ClosingNamesWhatIsUnsavedAndStaysOpenWhenTheSaveDoesNotHappen) {
    TText* text = photoWithPattern();
    ASSERT_NE(text, nullptr);
    writeCaption(text, QStringLiteral("Edited"));
    window->action("aRotateCount")->trigger();

    // Cancel keeps everything.
    press = QStringLiteral("Cancel");
    EXPECT_FALSE(closes());
    ASSERT_EQ(boxTexts.size(), 1);
    EXPECT_TRUE(boxTexts[0].contains("one.xml")) << boxTexts[0].toStdString();
    EXPECT_TRUE(boxTexts[0].contains("p.jpg")) << boxTexts[0].toStdString();
    EXPECT_EQ(boxButtons[0],
              (QStringList{"Cancel", "Don't Save", "Save Both", "Save Pattern", "Save Photo"}));

    // Save Photo whose file dialog is cancelled: nothing written, still open.
    press = QStringLiteral("Save Photo");
    chosenFiles = {QString()};
    EXPECT_FALSE(closes());
    EXPECT_TRUE(window->isVisible());

    // Save Photo into a folder that does not exist: the error is shown, still open.
    messages.clear();
    chosenFiles = {path("missing/out.jpg")};
    EXPECT_FALSE(closes());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].first, MessageKind::Error);
    EXPECT_TRUE(messages[0].second.contains("out.jpg")) << messages[0].second.toStdString();

    // Save Pattern writes the pattern and closes: the turn of the photo is given up, as chosen.
    press = QStringLiteral("Save Pattern");
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(patternText(path("one.xml")).contains("Edited"));
    EXPECT_EQ(QDir(dir.path()).entryList({"*.jpg"}, QDir::Files), QStringList{"p.jpg"});
}

TEST_F(KeepingWorkTest, SaveBothWritesPatternAndPhotoBeforeClosing) {
    TText* text = photoWithPattern();
    ASSERT_NE(text, nullptr);
    writeCaption(text, QStringLiteral("Both"));
    window->action("aRotateClock")->trigger();
    press = QStringLiteral("Save Both");
    // The pattern keeps its file; a name is asked for the photo only.
    chosenFiles = {path("both.jpg")};
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(patternText(path("one.xml")).contains("Both"));
    EXPECT_EQ(QImage(path("both.jpg")).size(), QSize(160, 240));
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].title, "Save image");
}

TEST_F(KeepingWorkTest, AFailingPatternWriteKeepsTheWindowOpen) {
    TText* text = photoWithPattern();
    ASSERT_NE(text, nullptr);
    writeCaption(text, QStringLiteral("Edited"));
    // The pattern's file is now a folder: no pattern can be written there.
    ASSERT_TRUE(QFile::remove(path("one.xml")));
    ASSERT_TRUE(QDir().mkdir(path("one.xml")));
    press = QStringLiteral("Save Pattern");
    EXPECT_FALSE(closes());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].first, MessageKind::Error);
    EXPECT_TRUE(messages[0].second.contains("one.xml")) << messages[0].second.toStdString();
    EXPECT_TRUE(enabled("aSave"));
    EXPECT_EQ(boxButtons[0], (QStringList{"Cancel", "Don't Save", "Save Pattern"}));
    press = QStringLiteral("Don't Save");
    EXPECT_TRUE(window->close());
}

// ---- which file Save Pattern writes ----

TEST_F(KeepingWorkTest, SavePatternWritesTheFileTheTitleNames) {
    ASSERT_TRUE(window->OpenImage(datedPhoto(path("p.jpg"), "2006:05:02 14:05:09")));
    writeAll(path("second.xml"), patternXml({brick("TText", "S1", 10, 10, "S1")}));

    // A new pattern saved under a name of its own.
    ASSERT_NE(window->designSurface()->CreateBrick("TText", QPoint(5, 5)), nullptr);
    chosenFiles = {path("saved.xml")};
    EXPECT_TRUE(window->savePattern());
    const QString saved = patternText(path("saved.xml"));
    ASSERT_TRUE(saved.contains("Text1"));

    // Open Pattern of another file, an edit, Ctrl+S: the opened file is written.
    chosenFiles = {path("second.xml")};
    window->openPattern();
    EXPECT_TRUE(window->windowTitle().contains("second.xml"))
        << window->windowTitle().toStdString();
    writeCaption(qobject_cast<TText*>(designer()->Bricks().constFirst()), "changed");
    const qsizetype asked = requests.size();
    EXPECT_TRUE(window->savePattern());
    EXPECT_EQ(requests.size(), asked) << "the pattern has its file";
    EXPECT_TRUE(patternText(path("second.xml")).contains("changed"));
    EXPECT_EQ(patternText(path("saved.xml")), saved);

    // After Close Pattern a new pattern asks for a name.
    window->closePattern();
    EXPECT_FALSE(window->windowTitle().contains("second.xml"));
    ASSERT_NE(window->designSurface()->CreateBrick("TText", QPoint(5, 5)), nullptr);
    EXPECT_FALSE(window->savePattern()) << "no name given";
    ASSERT_EQ(requests.size(), asked + 1);
    EXPECT_EQ(requests.last().title, "Save pattern");
    EXPECT_EQ(patternText(path("saved.xml")), saved);
    EXPECT_FALSE(patternText(path("second.xml")).contains("Text1"));
}

TEST_F(KeepingWorkTest, SavePatternAsAsksForANameAndTheTitleFollows) {
    QAction* saveAs = window->action("aSavePatternAs");
    ASSERT_NE(saveAs, nullptr);
    EXPECT_EQ(saveAs->text(), QStringLiteral("Save Patte&rn As\u2026"));
    // Every item of the File menu has a key of its own.
    QSet<QChar> keys;
    for (QAction* a : window->menuBar()->actions().constFirst()->menu()->actions()) {
        const qsizetype amp = a->text().indexOf(QLatin1Char('&'));
        if (a->isSeparator() || amp < 0)
            continue;
        const QChar key = a->text().at(amp + 1).toLower();
        EXPECT_FALSE(keys.contains(key)) << a->text().toStdString();
        keys.insert(key);
    }
    EXPECT_EQ(saveAs->shortcut(), QKeySequence("Ctrl+Shift+S"));
    EXPECT_EQ(saveAs->property("category").toString(), "Pattern");
    // In the File menu right after Save Pattern.
    QMenu* file = window->menuBar()->actions().constFirst()->menu();
    const QList<QAction*> items = file->actions();
    const qsizetype save = items.indexOf(window->action("aSave"));
    ASSERT_GE(save, 0);
    ASSERT_LT(save + 1, items.size());
    EXPECT_EQ(items[save + 1], saveAs);

    TText* text = photoWithPattern();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(enabled("aSavePatternAs")) << "also without a change";
    chosenFiles = {path("copy.xml")};
    saveAs->trigger();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].title, "Save pattern as");
    EXPECT_EQ(requests[0].fileName, path("one.xml"));
    EXPECT_TRUE(patternText(path("copy.xml")).contains("A1"));
    EXPECT_TRUE(window->windowTitle().contains("copy.xml"));
    // From now on Save Pattern writes the copy.
    writeCaption(text, "into the copy");
    EXPECT_TRUE(window->savePattern());
    EXPECT_TRUE(patternText(path("copy.xml")).contains("into the copy"));
    EXPECT_FALSE(patternText(path("one.xml")).contains("into the copy"));
    // Cancelled: nothing changes.
    chosenFiles.clear();
    saveAs->trigger();
    EXPECT_TRUE(window->windowTitle().contains("copy.xml"));
}

// ---- the batch rename's defaults ----

class FreshSettingsTest : public KeepingWorkTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid());
        oldConfig = qgetenv("CAPTIOMARK_CONFIG_DIR");
        qputenv("CAPTIOMARK_CONFIG_DIR", config.path().toLocal8Bit());
        Settings() = TSettings();
        KeepingWorkTest::SetUp(); // the window's start-up is the program's first start
    }
    void TearDown() override {
        if (frmGroup)
            delete frmGroup;
        KeepingWorkTest::TearDown();
        qputenv("CAPTIOMARK_CONFIG_DIR", oldConfig);
    }
    QTemporaryDir config;
    QByteArray oldConfig;
};

TEST_F(FreshSettingsTest, DefaultRenameMakesNewSortableNamesAndKeepsEveryOriginal) {
    const QString a = datedPhoto(path("IMG_0001.jpg"), "2006:05:02 14:05:09", 60, 40, 1);
    const QString b = datedPhoto(path("IMG_0002.jpg"), "2006:05:02 09:03:00", 60, 40, 2);
    const QByteArray aBytes = readAll(a), bBytes = readAll(b);
    ASSERT_NE(photoWithPattern(), nullptr);
    window->addFilesToGroup({a, b});
    ASSERT_NE(frmGroup, nullptr);
    ASSERT_TRUE(frmGroup->cboxApplyPattern->isEnabled());
    frmGroup->cboxApplyPattern->click();
    frmGroup->cboxRename->click();
    // The example is the name the job will write.
    EXPECT_EQ(frmGroup->lblNameExample->text(), "2006-05-02 14-05-09.jpg");
    frmGroup->btnProcess->click();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
              (QStringList{"2006-05-02 09-03-00.jpg", "2006-05-02 14-05-09.jpg", "IMG_0001.jpg",
                           "IMG_0002.jpg", "one.xml", "p.jpg"}));
    // The new files carry the pattern; the originals are as they were.
    EXPECT_NE(readAll(path("2006-05-02 14-05-09.jpg")), aBytes);
    EXPECT_EQ(readAll(a), aBytes);
    EXPECT_EQ(readAll(b), bBytes);
    EXPECT_FALSE(QFile::exists(a + ".bak"));

    // Options shows the formats that were used.
    TfrmOptions options(window.get());
    EXPECT_EQ(options.cbDateFormatFile->currentText(), "1980-01-01");
    EXPECT_EQ(options.cbTimeFormatFile->currentText(), "12-00-00");
}

TEST_F(FreshSettingsTest, ATemplateThatMakesNoNameStopsTheJobBeforeAnyWrite) {
    const QString dated = datedPhoto(path("dated.jpg"), "2006:05:02 14:05:09", 60, 40, 1);
    const QString undated = datedPhoto(path("undated.jpg"), QByteArray(), 60, 40, 2);
    const QByteArray datedBytes = readAll(dated), undatedBytes = readAll(undated);
    window->addFilesToGroup({undated, dated});
    ASSERT_NE(frmGroup, nullptr);
    frmGroup->cboxRename->click();
    // The example says so instead of showing the old name.
    EXPECT_NE(frmGroup->lblNameExample->text(), "undated.jpg");
    EXPECT_TRUE(frmGroup->lblNameExample->text().contains("date"))
        << frmGroup->lblNameExample->text().toStdString();
    messages.clear();
    frmGroup->btnProcess->click();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
              (QStringList{"dated.jpg", "undated.jpg"}));
    EXPECT_EQ(readAll(dated), datedBytes);
    EXPECT_EQ(readAll(undated), undatedBytes);
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.last().first, MessageKind::Error);
    EXPECT_TRUE(messages.last().second.contains("undated.jpg"))
        << messages.last().second.toStdString();
    EXPECT_TRUE(messages.last().second.contains("Nothing was written"))
        << messages.last().second.toStdString();

    // A time format index that names no format stops it the same way.
    delete frmGroup;
    Settings().defaultTimeFormatFile = QStringLiteral("99");
    window->addFilesToGroup({dated});
    ASSERT_NE(frmGroup, nullptr);
    frmGroup->cboxRename->click();
    messages.clear();
    frmGroup->btnProcess->click();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
              (QStringList{"dated.jpg", "undated.jpg"}));
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_TRUE(messages.last().second.contains("dated.jpg"))
        << messages.last().second.toStdString();
}

// ---- date and time bricks follow the photo ----

class PhotoDatesTest : public KeepingWorkTest {
protected:
    // A pattern of a date brick and a time brick.
    void loadDatePattern() {
        writeAll(path("dates.xml"), patternXml({brick("TTextDate", "TextDate1", 10, 10, "x"),
                                                brick("TTextTime", "TextTime1", 10, 60, "x")}));
        window->LoadPattern(path("dates.xml"));
    }
    TTextDate* date() const { return designer()->findChild<TTextDate*>("TextDate1"); }
    TTextTime* time() const { return designer()->findChild<TTextTime*>("TextTime1"); }
    // What a fresh window writes for a photo opened before the pattern is read: the bricks take
    // the photo's own date there.
    QImage reference(const QString& photo, const QString& out) {
        TProjectManager fresh;
        fresh.RegisterStandardBricks();
        fresh.setGeometry(50, 50, 900, 700);
        fresh.show();
        fresh.setFileNameAsker([&out](const FileRequest&) { return out; });
        EXPECT_TRUE(fresh.OpenImage(photo));
        fresh.LoadPattern(path("dates.xml"));
        EXPECT_TRUE(fresh.saveImage(false));
        return QImage(out);
    }
};

TEST_F(PhotoDatesTest, OpeningAnotherPhotoGivesTheBricksItsDate) {
    ASSERT_TRUE(window->OpenImage(datedPhoto(path("a.jpg"), "2006:05:02 14:05:09")));
    loadDatePattern();
    ASSERT_TRUE(date() && time());
    EXPECT_EQ(date()->Caption(), "5/2/06");
    EXPECT_EQ(time()->Caption(), "2:05:09 PM");

    const QString b = datedPhoto(path("b.jpg"), "2011:11:11 08:30:00", 240, 160, 9);
    ASSERT_TRUE(window->OpenImage(b));
    EXPECT_EQ(date()->Caption(), "11/11/11");
    EXPECT_EQ(time()->Caption(), "8:30:00 AM");
    EXPECT_FALSE(enabled("aSave")) << "following the photo is no edit of the pattern";

    chosenFiles = {path("b-out.jpg")};
    ASSERT_TRUE(window->saveImage(true));
    const QImage expected = reference(b, path("b-ref.jpg"));
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(QImage(path("b-out.jpg")), expected, 0, &why))
        << why.toStdString();
}

TEST_F(PhotoDatesTest, ApplyPatternAsksThenGivesEachFileItsOwnDate) {
    const QString open = datedPhoto(path("open.jpg"), "2011:11:11 08:30:00");
    ASSERT_TRUE(window->OpenImage(open));
    loadDatePattern();
    const QString c = datedPhoto(path("c.jpg"), "2001:01:01 10:00:00", 240, 160, 4);
    const QString d = datedPhoto(path("d.jpg"), "2002:02:02 23:10:00", 240, 160, 5);
    QDir().mkdir(path("ref"));
    QFile::copy(c, path("ref/c.jpg"));
    QFile::copy(d, path("ref/d.jpg"));
    const QByteArray cBytes = readAll(c), dBytes = readAll(d);

    // No: nothing is rewritten.
    questionAnswer = Answer::No;
    emit window->explorer()->applyPatternToFiles({c, d});
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains("2 images")) << questions[0].toStdString();
    EXPECT_TRUE(questions[0].contains(".bak")) << questions[0].toStdString();
    EXPECT_EQ(readAll(c), cBytes);
    EXPECT_EQ(readAll(d), dBytes);
    EXPECT_FALSE(QFile::exists(c + ".bak"));

    questionAnswer = Answer::Yes;
    emit window->explorer()->applyPatternToFiles({c, d});
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(readAll(c + ".bak"), cBytes);
    for (const QString& f : {c, d}) {
        const QString name = QFileInfo(f).fileName();
        const QImage expected = reference(path("ref/" + name), path("ref/out-" + name));
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(QImage(f), expected, 0, &why))
            << name.toStdString() << ": " << why.toStdString();
    }
    // The open photo's bricks show its own date again.
    EXPECT_EQ(date()->Caption(), "11/11/11");
    EXPECT_EQ(time()->Caption(), "8:30:00 AM");
}

// ---- the open photo's state ----

TEST_F(KeepingWorkTest, ApplyPatternKeepsTheEditsOfTheOpenPhoto) {
    Settings().KeepPhotoQuality = true;
    TText* text = photoWithPattern();
    ASSERT_NE(text, nullptr);
    window->action("aRotateClock")->trigger();
    ASSERT_EQ(designer()->realPicture.size(), QSize(160, 240));
    const QString other = datedPhoto(path("other.jpg"), "2001:01:01 10:00:00", 120, 80, 7);
    questionAnswer = Answer::Yes;
    emit window->explorer()->applyPatternToFiles({other});
    EXPECT_EQ(designer()->realPicture.size(), QSize(160, 240));
    EXPECT_TRUE(designer()->PhotoModified) << "the turned photo is still unsaved";
    chosenFiles = {path("after.jpg")};
    ASSERT_TRUE(window->saveImage(true));
    EXPECT_EQ(QImage(path("after.jpg")).size(), QSize(160, 240)) << "the turn was kept";
}

// A save that had to go another way than asked says so, in Save As and in Apply pattern.
TEST_F(KeepingWorkTest, SavesTellWhenAProgressivePhotoIsEncodedAgain) {
    Settings().KeepPhotoQuality = true;
    QImage photo(240, 160, QImage::Format_RGB32);
    photo.fill(qRgb(90, 120, 150));
    const auto writeProgressive = [&photo](const QString& name) {
        QImageWriter writer(name, "jpeg");
        writer.setProgressiveScanWrite(true);
        return writer.write(photo);
    };
    ASSERT_TRUE(writeProgressive(path("prog.jpg")));
    ASSERT_TRUE(window->OpenImage(path("prog.jpg")));
    writeAll(path("one.xml"), patternXml({brick("TText", "A1", 20, 30, "A1")}));
    window->LoadPattern(path("one.xml"));

    messages.clear();
    chosenFiles = {path("out.jpg")};
    ASSERT_TRUE(window->saveImage(true));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].first, MessageKind::Information);
    EXPECT_TRUE(messages[0].second.contains("out.jpg saved.")) << messages[0].second.toStdString();
    EXPECT_TRUE(messages[0].second.contains(QDir::toNativeSeparators(path("prog.jpg")) +
                                            ": progressive JPEG; written by re-encoding."))
        << messages[0].second.toStdString();

    ASSERT_TRUE(writeProgressive(path("other.jpg")));
    messages.clear();
    questionAnswer = Answer::Yes;
    emit window->explorer()->applyPatternToFiles({path("other.jpg")});
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].second.contains(QDir::toNativeSeparators(path("other.jpg")) +
                                            ": progressive JPEG; written by re-encoding."))
        << messages[0].second.toStdString();
}

TEST_F(KeepingWorkTest, CancelInTheDialogOfANewBrickTakesTheBrickAway) {
    ASSERT_TRUE(window->OpenImage(datedPhoto(path("p.jpg"), "2006:05:02 14:05:09")));
    bool accept = false;
    int runs = 0;
    EditorDialogs().Exec = [&](QDialog&) {
        ++runs;
        return int(accept ? QDialog::Accepted : QDialog::Rejected);
    };
    for (const char* palette : {"palette_TText", "palette_TTextDate", "palette_TTextBubble"}) {
        SCOPED_TRACE(palette);
        QTest::mouseClick(window->paletteBar()->findChild<QToolButton*>(palette), Qt::LeftButton);
        QTest::mouseClick(designer()->Panel1, Qt::LeftButton, {}, QPoint(40, 50));
        EXPECT_TRUE(designer()->Bricks().isEmpty());
        EXPECT_TRUE(designer()->Panel1->findChildren<TText*>().isEmpty());
        EXPECT_TRUE(designer()->Panel1->findChildren<TBubbleFrom*>().isEmpty());
        EXPECT_FALSE(enabled("aUndo"));
        EXPECT_FALSE(enabled("aRedo"));
        EXPECT_FALSE(enabled("aSave"));
    }
    EXPECT_EQ(runs, 3);

    // Ok keeps it, and one Undo takes it away.
    accept = true;
    QTest::mouseClick(window->paletteBar()->findChild<QToolButton*>("palette_TText"),
                      Qt::LeftButton);
    QTest::mouseClick(designer()->Panel1, Qt::LeftButton, {}, QPoint(40, 50));
    ASSERT_EQ(designer()->Bricks().size(), 1);
    EXPECT_EQ(designer()->Bricks().constFirst()->objectName(), "Text1");
    EXPECT_TRUE(enabled("aSave"));
    window->action("aUndo")->trigger();
    EXPECT_TRUE(designer()->Bricks().isEmpty());
    EXPECT_FALSE(enabled("aSave"));
}

// The zoom box's entries as the user can choose them.
QList<bool> offered(QComboBox* box) {
    QList<bool> out;
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    for (int i = 0; i < box->count(); ++i)
        out << (model ? model->item(i)->isEnabled() : true);
    return out;
}

TEST(ZoomLevels, APreviewSideAboveAMillionPixelsIsNotOffered) {
    // 2000 x 2000 at 3000 % is 60000 x 60000: every level.
    EXPECT_EQ(ZoomSteps::largestIndexFor({2000, 2000}), 16);
    EXPECT_EQ(ZoomSteps::largestIndexFor({300, 200}), 16);
    // 50000 at 2000 % is exactly a million, still offered; 3000 % is not.
    EXPECT_EQ(ZoomSteps::previewSize({50000, 100}, 15), QSize(1000000, 2000));
    EXPECT_EQ(ZoomSteps::largestIndexFor({50000, 100}), 15);
    EXPECT_EQ(ZoomSteps::largestIndexFor({100, 50001}), 14);
    // Even 3 % of 40 million is 1.2 million: 1 % alone.
    EXPECT_EQ(ZoomSteps::largestIndexFor({40000000, 10}), 0);
}

// Runs f with the address space limited to what the process uses now plus headroom.
template <class F> void withLittleMemory(size_t headroom, F f) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    ASSERT_TRUE(statm.open(QIODevice::ReadOnly));
    const size_t pages = statm.readAll().split(' ').value(0).toULongLong();
    rlimit small = saved;
    small.rlim_cur = pages * size_t(getpagesize()) + headroom;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &small), 0);
    f();
    setrlimit(RLIMIT_AS, &saved);
}

TEST_F(KeepingWorkTest, EveryZoomLevelIsHadWithoutMemoryOfItsSize) {
    // 2100 x 2000 at 600 % would be a 12600 x 12000 picture, 600 MB, were the preview one.
    ASSERT_TRUE(window->OpenImage(datedPhoto(path("p.jpg"), "", 2100, 2000)));
    EXPECT_FALSE(offered(window->zoomBox()).contains(false));
    window->chooseZoom(8); // 100 %
    ASSERT_EQ(window->zoomBox()->currentText(), "100 %");
    withLittleMemory(size_t(200) << 20, [&] {
        try {
            window->chooseZoom(13); // 600 %
            window->chooseZoom(16); // 3000 %
            // The visible part is painted from the photo.
            window->viewport()->grab();
        } catch (...) {
            ADD_FAILURE() << "the zoom failed";
        }
    });
    EXPECT_TRUE(messages.isEmpty()) << messages.value(0).second.toStdString();
    EXPECT_EQ(window->zoomBox()->currentText(), "3000 %");
    EXPECT_DOUBLE_EQ(designer()->ZoomRatio, 1.0 / 30);
    EXPECT_EQ(designer()->PreviewSize(), QSize(63000, 60000));
    // Zoom Out goes down from the level shown.
    window->zoomOut();
    EXPECT_EQ(window->zoomBox()->currentText(), "2000 %");
}

} // namespace
