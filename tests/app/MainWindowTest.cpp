#include "app/gui/PaletteGlyphs.h"
#include "app/gui/SurfaceActions.h"
#include "app/gui/TProjectManager.h"
#include "app/gui/ZoomSteps.h"
#include "batch/explorer/TfrmBottom.h"
#include "batch/window/TBatchPreview.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TText.h"
#include "designer/dialogs/BrickDialogs.h"
#include "designer/dialogs/DialogHooks.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignSurface.h"
#include "imaging/render/RenderAndSave.h"
#include "inspector/TObjectInspector.h"
#include "options/TfrmTip.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

QString sourceDir() {
    return qEnvironmentVariable("CAPTIOMARK_SOURCE_DIR");
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
    return path;
}

// A file's text; pattern files are written in UTF-16 with a byte-order mark.
QString readFile(const QString& path) {
    QFile f(path);
    const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    if (bytes.startsWith("\xFF\xFE"))
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                                  (bytes.size() - 2) / 2);
    return QString::fromUtf8(bytes);
}

QString writePhoto(const QString& path, int w, int h) {
    EXPECT_TRUE(makeTestPhoto(w, h).save(path, "JPG", 90));
    return path;
}

// A UTF-8 pattern with the given brick bodies (each line joined by %CR%LF).
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

QString textBrick(const QString& name, int left, int top) {
    return QStringLiteral("object %1: TText%CR%LF  Left = %2%CR%LF  Top = %3%CR%LF  Caption = "
                          "'%1'%CR%LFend")
        .arg(name)
        .arg(left)
        .arg(top);
}

QStringList brickNames(const TDesigner* d) {
    QStringList out;
    for (QWidget* b : d->Bricks())
        out << b->objectName();
    return out;
}

QStringList withoutMnemonic(QStringList texts) {
    for (QString& t : texts)
        t.remove(QLatin1Char('&'));
    return texts;
}

// A window with its palette, shown offscreen at a fixed size; questions, messages and file
// dialogs answered by the test.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        RegisterBricks();
        SetMessageHandler([this](MessageKind k, const QString& t) { messages.append({k, t}); });
        SetQuestionHandler([this](QuestionButtons b, const QString& t) {
            questions.append({b, t});
            return answer;
        });
        window = std::make_unique<TProjectManager>();
        window->RegisterStandardBricks();
        window->setFileNameAsker([this](const FileRequest& r) {
            requests.append(r);
            return chosenFile;
        });
        window->setDialogRunner([this](QDialog& d) {
            dialogs.append(d.metaObject()->className());
            dialogTitles.append(d.windowTitle());
            // The preview that asks before files are written: looked at once every tile is
            // made, then answered with previewAnswer.
            if (auto* preview = qobject_cast<TBatchPreview*>(&d)) {
                EXPECT_TRUE(QTest::qWaitFor([preview] { return preview->Pending() == 0; }, 20000));
                previewTiles.append(preview->Tiles());
                QStringList names;
                for (int i = 0; i < preview->Grid()->count(); ++i)
                    names << preview->Grid()->item(i)->text();
                previewNames.append(names);
                previewProceed.append(preview->ProceedButton()
                                          ? preview->ProceedButton()->text()
                                          : QString());
                return int(previewAnswer);
            }
            // A question box is answered by the button captioned boxAnswer.
            if (auto* box = qobject_cast<QMessageBox*>(&d)) {
                boxes.append(box->text());
                for (QAbstractButton* b : box->buttons())
                    if (b->text().remove(QLatin1Char('&')) == boxAnswer)
                        b->click();
                return box->result();
            }
            return int(QDialog::Rejected);
        });
        QGuiApplication::clipboard()->clear();
        window->setGeometry(50, 50, 900, 700);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        window.reset();
        ResetEditorDialogs();
        SetMessageHandler(nullptr);
        SetQuestionHandler(nullptr);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    TDesigner* designer() const { return window->designer(); }

    QTemporaryDir dir;
    std::unique_ptr<TProjectManager> window;
    QList<QPair<MessageKind, QString>> messages;
    QList<QPair<QuestionButtons, QString>> questions;
    QList<FileRequest> requests;
    Answer answer = Answer::Cancel;
    QString chosenFile;
    QStringList dialogs; // class names of the dialogs the window ran
    QStringList dialogTitles;
    QStringList boxes;            // the texts of the question boxes the window showed
    QString boxAnswer = "Cancel"; // the caption of the button each one is answered with
    QDialog::DialogCode previewAnswer = QDialog::Rejected;
    QList<QList<PreviewTile>> previewTiles; // of each preview the window asked with
    QList<QStringList> previewNames;
    QStringList previewProceed;
};

// ---- actions and menus ----

TEST_F(MainWindowTest, MenusHoldTheirItemsInOrderWithMnemonics) {
    QStringList titles;
    QList<QStringList> items;
    for (QAction* m : window->menuBar()->actions()) {
        titles << m->text();
        QStringList texts;
        for (QAction* a : m->menu()->actions())
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        items << texts;
    }
    EXPECT_EQ(titles, (QStringList{"&File", "&View", "&Edit", "&Help"}));
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0], (QStringList{"&Open Image", "&Save Image", "Sa&ve Image As", "-",
                                     "&New Pattern", "Open P&attern", "Save Pa&ttern",
                                     QStringLiteral("Save Patte&rn As…"), "&Close Pattern", "-",
                                     "&Batch processing", "-", "O&ptions", "-", "&Exit"}));
    EXPECT_EQ(items[1], (QStringList{"&Zoom In", "Z&oom Out", "&Fit to Page", "&Actual Size", "-",
                                     "Show &Grid", "&Snap to Grid", "Grid Step", "-",
                                     "Object &Inspector", "E&xplorer"}));
    EXPECT_EQ(items[2],
              (QStringList{"U&ndo", "R&edo", "-", "&Copy", "C&ut", "&Paste", "Dupl&icate",
                           "&Delete", "Select &All", "-", "Effects", "&Resize", QStringLiteral("R&otate 90° Countclockwise"),
                           QStringLiteral("Ro&tate 90° Clockwise"), "Caption &Band", "-",
                           "&Bring To Front",
                           "&Send To Back"}));
    EXPECT_EQ(items[3], (QStringList{"&Help Topics", "&Tip of the Day", "&Visit Home Page",
                                     "&About the Program"}));
    // Save Image is there but hidden.
    EXPECT_FALSE(window->action("aSaveImage")->isVisible());
    EXPECT_TRUE(window->action("aSaveAs")->isVisible());
}

TEST_F(MainWindowTest, ActionsCarryCaptionCategoryAndShortcut) {
    struct Row {
        const char* name;
        const char* caption;
        const char* category;
        QKeySequence shortcut;
    };
    const QList<Row> rows = {
        {"aOpenImage", "Open Image", "Image", QKeySequence("Ctrl+Shift+O")},
        {"aSaveImage", "Save Image", "Image", {}},
        {"aSaveAs", "Save Image As", "Image", {}},
        {"aNew", "New Pattern", "Pattern", QKeySequence("Ctrl+N")},
        {"aOpen", "Open Pattern", "Pattern", QKeySequence("Ctrl+O")},
        {"aSave", "Save Pattern", "Pattern", QKeySequence("Ctrl+S")},
        {"aSavePatternAs", "Save Pattern As…", "Pattern", QKeySequence("Ctrl+Shift+S")},
        {"aClose", "Close Pattern", "Pattern", {}},
        {"aGroup", "Batch processing", "Pattern", {}},
        {"aOptions", "Options", "Image", {}},
        {"aExit", "Exit", "Image", {}},
        {"aCopy", "Copy", "Edit", QKeySequence("Ctrl+C")},
        {"aCut", "Cut", "Edit", QKeySequence("Ctrl+X")},
        {"aPaste", "Paste", "Edit", QKeySequence("Ctrl+V")},
        {"aDelete", "Delete", "Edit", QKeySequence("Ctrl+Del")},
        {"aBringToFromt", "Bring To Front", "Edit", QKeySequence("Ctrl+B")},
        {"aSendToBack", "Send To Back", "Edit", QKeySequence("Ctrl+Shift+B")},
        {"aResize", "Resize", "Image", {}},
        {"aRotateCount", "Rotate 90° Countclockwise", "Image", {}},
        {"aRotateClock", "Rotate 90° Clockwise", "Image", {}},
        {"aEffects", "Effects", "Image", {}},
        {"aZoomin", "Zoom In", "View", QKeySequence("Ctrl+=")},
        {"aZoomout", "Zoom Out", "View", QKeySequence("Ctrl+-")},
        {"aFittopage", "Fit to Page", "View", {}},
        {"aActualsize", "Actual Size", "View", QKeySequence("Ctrl+0")},
        {"aDuplicate", "Duplicate", "Edit", QKeySequence("Ctrl+D")},
        {"aSelectAll", "Select All", "Edit", QKeySequence("Ctrl+A")},
        {"aAbout", "Help Topics", "Help", QKeySequence("F1")},
        {"actTip", "Tip of the Day", "Help", {}},
        {"Action1", "Visit Home Page", "Help", {}},
        {"Action2", "About the Program", "Help", {}},
    };
    for (const Row& r : rows) {
        QAction* a = window->action(QLatin1String(r.name));
        ASSERT_NE(a, nullptr) << r.name;
        EXPECT_EQ(withoutMnemonic({a->text()}).constFirst(), QString::fromUtf8(r.caption))
            << r.name;
        EXPECT_EQ(a->property("category").toString(), QLatin1String(r.category)) << r.name;
        // The key shown in the menu; the clipboard's keys of old come second.
        EXPECT_EQ(a->shortcut(), r.shortcut) << r.name;
    }
}

TEST_F(MainWindowTest, NoTwoActionsShareAShortcut) {
    QSet<QString> seen;
    int count = 0;
    for (QAction* a : window->allActions()) {
        for (const QKeySequence& k : a->shortcuts()) {
            ++count;
            const QString text = k.toString(QKeySequence::PortableText);
            EXPECT_FALSE(seen.contains(text)) << text.toStdString() << " is doubled";
            seen.insert(text);
        }
    }
    EXPECT_GE(count, 10);
}

TEST_F(MainWindowTest, EnablingFollowsTheOpenImageAndTheModifiedFlag) {
    const auto enabled = [this](const char* n) {
        return window->action(QLatin1String(n))->isEnabled();
    };
    EXPECT_TRUE(enabled("aOpenImage"));
    EXPECT_TRUE(enabled("aGroup"));
    EXPECT_TRUE(enabled("aExit"));
    for (const char* n : {"aOptions", "actTip", "Action1", "aInspector", "aExplorer"})
        EXPECT_TRUE(enabled(n)) << n;
    for (const char* n : {"aSaveAs", "aOpen", "aSave", "aSavePatternAs", "aClose", "aResize",
                          "aRotateCount", "aZoomin", "aFittopage", "aNew", "aCopy", "aCut",
                          "aPaste", "aDelete", "aSendToBack", "aUndo", "aRedo", "aAlignLeft",
                          "aDuplicate", "aSelectAll"})
        EXPECT_FALSE(enabled(n)) << n;
    EXPECT_FALSE(window->zoomBox()->isEnabled());
    EXPECT_EQ(window->zoomBox()->currentText(), "100 %"); // not the first entry, "1 %"

    ASSERT_TRUE(window->OpenImage(writePhoto(path("p.jpg"), 300, 200)));
    for (const char* n : {"aSaveAs", "aOpen", "aClose", "aResize", "aRotateClock", "aEffects",
                          "aZoomin", "aZoomout", "aFittopage", "aActualsize"})
        EXPECT_TRUE(enabled(n)) << n;
    EXPECT_TRUE(window->zoomBox()->isEnabled());
    // Not modified yet; no bricks for New Pattern to clear; the surface's commands wait for a
    // selection.
    EXPECT_FALSE(enabled("aSave"));
    EXPECT_FALSE(enabled("aSaveImage"));
    EXPECT_FALSE(enabled("aNew"));
    EXPECT_FALSE(enabled("aCopy"));
    EXPECT_TRUE(window->surfaceActions()->connected());

    // A turned photo is unsaved work; the pattern is untouched.
    window->action("aRotateClock")->trigger();
    EXPECT_EQ(designer()->realPicture.size(), QSize(200, 300));
    EXPECT_TRUE(designer()->PhotoModified);
    EXPECT_FALSE(enabled("aSave"));
    EXPECT_TRUE(enabled("aSavePatternAs"));
}

TEST_F(MainWindowTest, CaptionNamesPatternAndImage) {
    const QString photo = writePhoto(path("holiday.jpg"), 120, 80);
    ASSERT_TRUE(window->OpenImage(photo));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Captiomark -  - holiday.jpg"));
    writeFile(path("layout.xml"), patternXml({textBrick("A1", 5, 5)}));
    window->LoadPattern(path("layout.xml"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Captiomark - layout.xml - holiday.jpg"));
    window->newPattern();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Captiomark -  - holiday.jpg"));
}

// ---- palette ----

TEST_F(MainWindowTest, PaletteHasFiveEntriesWithGlyphsAndHints) {
    QStringList hints;
    for (QToolButton* b : window->paletteBar()->findChildren<QToolButton*>())
        if (b->objectName().startsWith(QLatin1String("palette_")))
            hints << b->toolTip();
    EXPECT_EQ(hints, (QStringList{"Custom Text", "Time from EXIF", "Date from EXIF",
                                  "Custom Image", "Text Bubble"}));
    const QImage glyph = window->GlyphOf(&TText::staticMetaObject);
    EXPECT_EQ(glyph.size(), QSize(18, 18));
    EXPECT_TRUE(window->GlyphOf(&TDesigner::staticMetaObject).isNull());
    // A second registration changes nothing.
    EXPECT_FALSE(window->RegisterBrickClass(&TText::staticMetaObject, "TText",
                                            DrawPaletteGlyph(PaletteGlyph::Date)));
    EXPECT_EQ(window->GlyphOf(&TText::staticMetaObject), glyph);
    EXPECT_EQ(
        window->paletteBar()->findChildren<QToolButton*>(QRegularExpression("^palette_")).size(),
        5);
}

TEST_F(MainWindowTest, GlyphsAreDrawnAndDiffer) {
    QList<QImage> glyphs;
    for (PaletteGlyph g : {PaletteGlyph::Text, PaletteGlyph::Date, PaletteGlyph::Time,
                           PaletteGlyph::Bubble, PaletteGlyph::Picture}) {
        const QImage img = DrawPaletteGlyph(g);
        EXPECT_EQ(img.size(), QSize(18, 18));
        int opaque = 0;
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 18; ++x)
                opaque += qAlpha(img.pixel(x, y)) > 0;
        EXPECT_GT(opaque, 10);
        for (const QImage& other : glyphs)
            EXPECT_NE(img, other);
        glyphs << img;
    }
}

TEST_F(MainWindowTest, PaletteClickMakesTheClassPendingUntilTaken) {
    auto* date = window->paletteBar()->findChild<QToolButton*>("palette_TTextDate");
    ASSERT_NE(date, nullptr);
    EXPECT_FALSE(date->isEnabled()); // no picture yet
    ASSERT_TRUE(window->OpenImage(writePhoto(path("p.jpg"), 100, 80)));
    date = window->paletteBar()->findChild<QToolButton*>("palette_TTextDate");
    ASSERT_TRUE(date->isEnabled());
    QTest::mouseClick(date, Qt::LeftButton);
    EXPECT_STREQ(window->PendingClass()->className(), "TTextDate");
    EXPECT_TRUE(date->isChecked());
    EXPECT_STREQ(window->TakePendingClass()->className(), "TTextDate");
    EXPECT_EQ(window->PendingClass(), nullptr);
    EXPECT_FALSE(date->isChecked());
    EXPECT_EQ(window->TakePendingClass(), nullptr);
}

// ---- zoom ----

TEST(ZoomSteps, EntriesAndTheirRatios) {
    ASSERT_EQ(ZoomSteps::count(), 17);
    const int percents[] = {1,   3,   10,  20,  30,  40,   50,   70,  100,
                            120, 140, 200, 300, 600, 1000, 2000, 3000};
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(ZoomSteps::percent(i), percents[i]);
        EXPECT_DOUBLE_EQ(ZoomSteps::ratioOf(i), 100.0 / percents[i]);
    }
    EXPECT_EQ(ZoomSteps::text(0), "1 %");
    EXPECT_EQ(ZoomSteps::text(8), "100 %");
    EXPECT_EQ(ZoomSteps::text(13), "600  %");
    EXPECT_EQ(ZoomSteps::text(14), "1000  %");
    EXPECT_EQ(ZoomSteps::text(16), "3000 %");
}

TEST(ZoomSteps, InAndOutStepThroughEveryEntryAndHoldAtTheEnds) {
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(ZoomSteps::indexFor(ZoomSteps::ratioOf(i)), i);
        EXPECT_EQ(ZoomSteps::zoomInIndex(ZoomSteps::ratioOf(i)), std::min(i + 1, 16)) << i;
        EXPECT_EQ(ZoomSteps::zoomOutIndex(ZoomSteps::ratioOf(i)), std::max(i - 1, 0)) << i;
    }
    // Between two entries: 45 % lands on 40 %.
    EXPECT_EQ(ZoomSteps::percent(ZoomSteps::zoomInIndex(100.0 / 45)), 50);
    EXPECT_EQ(ZoomSteps::percent(ZoomSteps::zoomOutIndex(100.0 / 45)), 30);
    // Beyond the list either way.
    EXPECT_EQ(ZoomSteps::zoomInIndex(1.0 / 50), 16);
    EXPECT_EQ(ZoomSteps::zoomOutIndex(1000.0), 0);
    EXPECT_EQ(ZoomSteps::zoomInIndex(1000.0), 1);
}

TEST(ZoomSteps, FitRatioShowsThePictureWhole) {
    EXPECT_DOUBLE_EQ(ZoomSteps::fitRatio({2000, 1000}, {1000, 800}), 2.0);
    EXPECT_DOUBLE_EQ(ZoomSteps::fitRatio({1000, 1600}, {1000, 800}), 2.0);
    EXPECT_DOUBLE_EQ(ZoomSteps::fitRatio({1001, 10}, {1000, 800}), 1.001);
    EXPECT_DOUBLE_EQ(ZoomSteps::fitRatio({1000, 800}, {1000, 800}), 1.0);
    EXPECT_DOUBLE_EQ(ZoomSteps::fitRatio({10, 10}, {1000, 800}), 1.0);
    EXPECT_EQ(ZoomSteps::textFor(2.0), "50 %");
    EXPECT_EQ(ZoomSteps::textFor(1.0), "100 %");
    EXPECT_EQ(ZoomSteps::textFor(1200.0 / 998), "83 %");
}

TEST_F(MainWindowTest, LargePhotoIsFittedAndCommandsZoom) {
    const QSize client = window->clientSize();
    ASSERT_TRUE(client.width() > 100 && client.height() > 100);
    const QSize big(client.width() * 3, client.height() * 2);
    ASSERT_TRUE(window->OpenImage(writePhoto(path("big.jpg"), big.width(), big.height())));
    EXPECT_DOUBLE_EQ(designer()->ZoomRatio, 3.0);
    EXPECT_EQ(designer()->PreviewSize(),
              QSize(client.width(), static_cast<int>(std::nearbyint(big.height() / 3.0))));
    EXPECT_EQ(window->zoomBox()->currentText(), "33 %");
    window->actualSize();
    EXPECT_DOUBLE_EQ(designer()->ZoomRatio, 1.0);
    EXPECT_EQ(designer()->PreviewSize(), big);
    window->zoomIn();
    EXPECT_DOUBLE_EQ(designer()->ZoomRatio, 100.0 / 120);
    EXPECT_EQ(window->zoomBox()->currentText(), "120 %");
    window->zoomOut();
    window->zoomOut();
    EXPECT_DOUBLE_EQ(designer()->ZoomRatio, 100.0 / 70);
    window->fitToPage();
    EXPECT_DOUBLE_EQ(designer()->ZoomRatio, 3.0);
    window->chooseZoom(6);
    EXPECT_DOUBLE_EQ(designer()->ZoomRatio, 2.0);
    EXPECT_EQ(designer()->PreviewSize().width(), big.width() / 2);
}

TEST_F(MainWindowTest, SmallPhotoKeepsActualSizeAndIsCentred) {
    ASSERT_TRUE(window->OpenImage(writePhoto(path("small.jpg"), 101, 60)));
    EXPECT_DOUBLE_EQ(designer()->ZoomRatio, 1.0);
    const QSize client = window->clientSize();
    EXPECT_EQ(designer()->Panel1->geometry(),
              QRect((client.width() - 101) / 2, (client.height() - 60) / 2, 101, 60));
}

TEST_F(MainWindowTest, BricksFollowTheZoom) {
    ASSERT_TRUE(window->OpenImage(writePhoto(path("p.jpg"), 400, 300)));
    writeFile(path("pat.xml"), patternXml({textBrick("T1", 40, 60)}));
    window->LoadPattern(path("pat.xml"));
    ASSERT_EQ(designer()->Bricks().size(), 1);
    window->chooseZoom(6); // 50 %
    EXPECT_EQ(designer()->Bricks()[0]->pos(), QPoint(20, 30));
    window->actualSize();
    EXPECT_EQ(designer()->Bricks()[0]->pos(), QPoint(40, 60));
}

TEST_F(MainWindowTest, UnreadableImageKeepsTheOpenOne) {
    const QString good = writePhoto(path("good.jpg"), 100, 80);
    ASSERT_TRUE(window->OpenImage(good));
    const QString bad = writeFile(path("bad.jpg"), "not a picture");
    EXPECT_FALSE(window->OpenImage(bad));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].first, MessageKind::Error);
    EXPECT_EQ(window->ImagePath(), good);
    EXPECT_EQ(designer()->realPicture.size(), QSize(100, 80));
}

// ---- patterns ----

TEST_F(MainWindowTest, FailingPatternLeavesTheCurrentBricks) {
    ASSERT_TRUE(window->OpenImage(writePhoto(path("p.jpg"), 300, 200)));
    writeFile(path("good.xml"), patternXml({textBrick("Old1", 10, 10), textBrick("Old2", 50, 20)}));
    window->LoadPattern(path("good.xml"));
    ASSERT_EQ(brickNames(designer()), (QStringList{"Old1", "Old2"}));
    window->designSurface()->SetProperty(designer()->Bricks().constFirst(), "Caption", "Changed");
    ASSERT_TRUE(designer()->PatternModified());
    const QList<QWidget*> before = designer()->Bricks();

    // One good brick, then one of an unknown class: the good one must not survive either.
    writeFile(path("half.xml"),
              patternXml({textBrick("New1", 1, 1), "object Bad1: TNoSuchClass%CR%LFend"}));
    EXPECT_THROW(window->LoadPattern(path("half.xml")), Exception);
    EXPECT_EQ(designer()->Bricks(), before);
    for (QWidget* b : before)
        EXPECT_TRUE(b->isVisible());
    EXPECT_TRUE(designer()->findChildren<TText*>(QStringLiteral("New1")).isEmpty());
    EXPECT_TRUE(designer()->PatternModified()) << "the edit can still be undone and saved";
    EXPECT_TRUE(window->action("aUndo")->isEnabled());
    EXPECT_TRUE(window->windowTitle().contains("good.xml"));

    EXPECT_THROW(window->LoadPattern(path("missing.xml")), Exception);
    writeFile(path("broken.xml"), "<Project><Bricks>");
    EXPECT_THROW(window->LoadPattern(path("broken.xml")), Exception);
    EXPECT_EQ(brickNames(designer()), (QStringList{"Old1", "Old2"}));

    // The same names load again afterwards (nothing stale left on the surface).
    window->LoadPattern(path("good.xml"));
    EXPECT_EQ(brickNames(designer()), (QStringList{"Old1", "Old2"}));
    EXPECT_FALSE(designer()->PatternModified());
}

TEST_F(MainWindowTest, SamplePatternOpensOverThePhoto) {
    ASSERT_FALSE(sourceDir().isEmpty());
    ASSERT_TRUE(window->OpenImage(sourceDir() + "/examples/sample-photo.jpg"));
    window->LoadPattern(sourceDir() + "/examples/sample-pattern.xml");
    const QStringList names = brickNames(designer());
    for (const char* n : {"Text1", "TextDate1", "TextBubble1", "Pictureimg1"})
        EXPECT_TRUE(names.contains(QLatin1String(n))) << n;
}

TEST_F(MainWindowTest, UnsavedChangesAreAskedAboutBeforeTheyGo) {
    ASSERT_TRUE(window->OpenImage(writePhoto(path("p.jpg"), 300, 200)));
    writeFile(path("pat.xml"), patternXml({textBrick("K1", 10, 10)}));
    window->LoadPattern(path("pat.xml"));

    // Not modified: no question.
    chosenFile = path("pat.xml");
    window->openPattern();
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(brickNames(designer()), QStringList{"K1"});

    QWidget* k1 = designer()->Bricks().constFirst();
    window->designSurface()->SetProperty(k1, "Caption", "Changed");
    boxAnswer = "Cancel";
    window->newPattern();
    window->closePattern();
    window->openPattern();
    ASSERT_EQ(boxes.size(), 3);
    for (const QString& text : boxes)
        EXPECT_EQ(text, "The pattern \"pat.xml\" has unsaved changes.\nDo you want to save it?");
    EXPECT_EQ(brickNames(designer()), QStringList{"K1"});
    EXPECT_TRUE(designer()->PatternModified());
    EXPECT_EQ(requests.size(), 1); // only the unasked open above

    // Save Pattern writes the pattern's own file without asking for a name, then clears.
    boxAnswer = "Save Pattern";
    window->newPattern();
    EXPECT_TRUE(readFile(path("pat.xml")).contains("Changed"));
    EXPECT_EQ(requests.size(), 1);
    EXPECT_TRUE(designer()->Bricks().isEmpty());
    EXPECT_TRUE(window->PatternPath().isEmpty());

    // A new pattern whose name dialog is cancelled keeps everything.
    ASSERT_NE(window->designSurface()->CreateBrick("TText", QPoint(5, 5)), nullptr);
    chosenFile.clear();
    window->closePattern();
    EXPECT_EQ(brickNames(designer()), QStringList{"Text1"});
    EXPECT_TRUE(designer()->PatternModified());

    // Don't Save discards.
    boxAnswer = "Don't Save";
    window->closePattern();
    EXPECT_TRUE(designer()->Bricks().isEmpty());
    EXPECT_FALSE(designer()->PatternModified());
}

TEST_F(MainWindowTest, ClosingWithUnsavedChangesAsks) {
    ASSERT_TRUE(window->OpenImage(writePhoto(path("p.jpg"), 200, 100)));
    window->rotate(90);
    boxAnswer = "Cancel";
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].startsWith("The photo \"p.jpg\" was turned")) << boxes[0].toStdString();
    // Save Photo with no name chosen stays open too.
    boxAnswer = "Save Photo";
    chosenFile.clear();
    EXPECT_FALSE(window->close());
    // With a name it saves the image and closes.
    chosenFile = path("closing.jpg");
    EXPECT_TRUE(window->close());
    EXPECT_EQ(QImage(RenderOutputPath(path("p.jpg"), chosenFile)).size(), QSize(100, 200));
    // Saved: no question.
    window->show();
    boxes.clear();
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_TRUE(questions.isEmpty());
}

TEST_F(MainWindowTest, SavePatternAsksOnceThenReusesThePath) {
    ASSERT_TRUE(window->OpenImage(writePhoto(path("p.jpg"), 300, 200)));
    // A new pattern has no file yet.
    ASSERT_NE(window->designSurface()->CreateBrick("TText", QPoint(5, 5)), nullptr);
    chosenFile = path("out.xml");
    EXPECT_TRUE(window->savePattern());
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].title, "Save pattern");
    EXPECT_EQ(requests[0].filters, QStringList{"Patterns (*.xml)"});
    EXPECT_TRUE(window->savePattern());
    EXPECT_EQ(requests.size(), 1);
    window->newPattern();
    window->LoadPattern(path("out.xml"));
    EXPECT_EQ(brickNames(designer()), QStringList{"Text1"});
}

// ---- saving the image ----

TEST_F(MainWindowTest, SaveAsNamesTheFileActuallyWritten) {
    const QString photo = writePhoto(path("photo.jpg"), 160, 120);
    ASSERT_TRUE(window->OpenImage(photo));
    QDir().mkdir(path("out"));
    for (const QString& typed :
         {QStringLiteral("copy.jpg"), QStringLiteral("second"), QStringLiteral("third.JPG")}) {
        messages.clear();
        chosenFile = path("out/" + typed);
        const QString written = RenderOutputPath(photo, chosenFile);
        ASSERT_TRUE(QFileInfo(written).absolutePath() == QFileInfo(path("out/x")).absolutePath());
        ASSERT_TRUE(window->saveImage(true)) << typed.toStdString();
        EXPECT_EQ(QImage(written).size(), QSize(160, 120)) << written.toStdString();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(messages[0].first, MessageKind::Information);
        EXPECT_EQ(messages[0].second, QDir::toNativeSeparators(written) + " saved.");
        EXPECT_EQ(window->ImagePath(), written);
        EXPECT_TRUE(window->windowTitle().endsWith(QFileInfo(written).fileName()));
        ASSERT_TRUE(window->OpenImage(photo));
    }
    EXPECT_EQ(requests.last().title, "Save image");
    EXPECT_EQ(requests.last().fileName, photo);
    EXPECT_EQ(requests.last().defaultSuffix, "jpg");
}

TEST_F(MainWindowTest, OverwriteQuestionIsAboutTheWrittenName) {
    const QString photo = writePhoto(path("photo.jpg"), 160, 120);
    ASSERT_TRUE(window->OpenImage(photo));
    chosenFile = path("taken.jpg");
    const QString written = RenderOutputPath(photo, chosenFile);
    writeFile(written, "keep me");
    answer = Answer::No;
    EXPECT_FALSE(window->saveImage(true));
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0].first, QuestionButtons::YesNo);
    EXPECT_TRUE(questions[0].second.contains(QDir::toNativeSeparators(written)));
    QFile f(written);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("keep me"));
    f.close();
    EXPECT_TRUE(messages.isEmpty());

    answer = Answer::Yes;
    EXPECT_TRUE(window->saveImage(true));
    EXPECT_EQ(QImage(written).size(), QSize(160, 120));
    // The replaced file is kept as the photo itself would be.
    QFile backup(written + ".bak");
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    EXPECT_EQ(backup.readAll(), QByteArray("keep me"));
}

TEST_F(MainWindowTest, SaveAsNeverWritesThroughALink) {
    const QString photo = writePhoto(path("photo.jpg"), 160, 120);
    ASSERT_TRUE(window->OpenImage(photo));
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("notes.txt");
    writeFile(target, "notes");
    chosenFile = path("linked.jpg");
    ASSERT_TRUE(QFile::link(target, chosenFile));
    answer = Answer::Yes;
    // The failure goes up to the application's handler, which shows it.
    QString message;
    try {
        window->saveImage(true);
    } catch (const Exception& e) {
        message = e.message();
    }
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(chosenFile)) &&
                message.contains("symbolic link"))
        << message.toStdString();
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("notes"));
    EXPECT_TRUE(QFileInfo(chosenFile).isSymLink());
}

TEST_F(MainWindowTest, SaveAsWithoutANameSaysSo) {
    const QString photo = writePhoto(path("photo.jpg"), 60, 40);
    ASSERT_TRUE(window->OpenImage(photo));
    chosenFile.clear();
    EXPECT_FALSE(window->saveImage(true));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].first, MessageKind::Error);
    EXPECT_TRUE(messages[0].second.startsWith("photo.jpg not saved"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"photo.jpg"});
}

// ---- start-up ----

TEST(CommandLineTest, SwitchesAndFiles) {
    CommandLine c = ParseCommandLine({"/group"});
    EXPECT_TRUE(c.group);
    EXPECT_TRUE(c.photo.isEmpty());
    c = ParseCommandLine({"--GROUP", "a.jpg", "b.xml", "c"});
    EXPECT_TRUE(c.group);
    EXPECT_EQ(c.photo, "a.jpg");
    EXPECT_EQ(c.pattern, "b.xml");
    EXPECT_EQ(c.unused, QStringList{"c"});
    c = ParseCommandLine({"a.jpg"});
    EXPECT_FALSE(c.group);
    EXPECT_EQ(c.photo, "a.jpg");
    EXPECT_TRUE(c.pattern.isEmpty());
    // An existing file of that name is a file.
    QTemporaryDir d;
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(d.path());
    QFile("--group").open(QIODevice::WriteOnly);
    c = ParseCommandLine({"--group"});
    QDir::setCurrent(cwd);
    EXPECT_FALSE(c.group);
    EXPECT_EQ(c.photo, "--group");
}

TEST(CommandLineTest, VersionText) {
    EXPECT_EQ(VersionText("0.1.0"), "0.1");
    EXPECT_EQ(VersionText("2.3.4"), "2.3.4");
    EXPECT_EQ(VersionText("2.3.0.7"), "2.3.0.7");
    EXPECT_EQ(VersionText("2.3.4.5"), "2.3.4.5");
    EXPECT_EQ(VersionText(""), "");
}

TEST_F(MainWindowTest, CommandLineOpensPhotoThenPattern) {
    const QString photo = writePhoto(path("cl.jpg"), 200, 150);
    writeFile(path("cl.xml"), patternXml({textBrick("C1", 3, 4), textBrick("C2", 30, 40)}));
    window->startUp(ParseCommandLine({photo, path("cl.xml")}));
    EXPECT_EQ(window->ImagePath(), photo);
    EXPECT_EQ(brickNames(designer()), (QStringList{"C1", "C2"}));
    EXPECT_TRUE(messages.isEmpty());
    // A pattern that fails is reported, naming it; the photo stays open.
    writeFile(path("bad.xml"), "<nope");
    window->startUp(ParseCommandLine({photo, path("bad.xml")}));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].second.contains("bad.xml")) << messages[0].second.toStdString();
    EXPECT_EQ(window->ImagePath(), photo);
}

TEST(MainWindowBounds, WrittenOnDestructionAndReadBack) {
    RegisterBricks();
    {
        TProjectManager w;
        w.setGeometry(110, 120, 800, 600);
    }
    EXPECT_EQ(LoadFormBounds("ProjectManagerBounds"), QRect(110, 120, 800, 600));
    TProjectManager again;
    EXPECT_EQ(again.geometry(), QRect(110, 120, 800, 600));
}

// ---- the window's parts wired together ----

// A photo with a pattern of one text brick, the brick selected.
TText* openWithOneBrick(TProjectManager& w, const QTemporaryDir& dir) {
    EXPECT_TRUE(w.OpenImage(writePhoto(dir.filePath("w.jpg"), 300, 200)));
    writeFile(dir.filePath("one.xml"), patternXml({textBrick("A1", 20, 30)}));
    w.LoadPattern(dir.filePath("one.xml"));
    const QList<QWidget*> bricks = w.designer()->Bricks();
    EXPECT_EQ(bricks.size(), 1);
    return bricks.isEmpty() ? nullptr : qobject_cast<TText*>(bricks.constFirst());
}

TEST_F(MainWindowTest, PaletteThenPhotoClickPlacesABrickThatUndoAndRedoTakeAndBringBack) {
    // The text editor opens on the new brick; Ok keeps it as placed.
    int edits = 0;
    EditorDialogs().Exec = [&](QDialog&) {
        ++edits;
        return int(QDialog::Accepted);
    };
    ASSERT_TRUE(window->OpenImage(writePhoto(path("p.jpg"), 300, 200)));
    EXPECT_FALSE(window->action("aUndo")->isEnabled());
    QTest::mouseClick(window->paletteBar()->findChild<QToolButton*>("palette_TText"),
                      Qt::LeftButton);
    EXPECT_EQ(window->designSurface()->PendingClass(), "TText");
    QTest::mouseClick(designer()->Panel1, Qt::LeftButton, {}, QPoint(40, 50));

    ASSERT_EQ(designer()->Bricks().size(), 1);
    QWidget* brick = designer()->Bricks().constFirst();
    EXPECT_STREQ(brick->metaObject()->className(), "TText");
    EXPECT_EQ(brick->objectName(), "Text1");
    EXPECT_EQ(brick->pos(), QPoint(40, 50));
    EXPECT_EQ(edits, 1);
    // The pending class was taken: the palette is back on the arrow.
    EXPECT_EQ(window->PendingClass(), nullptr);
    EXPECT_TRUE(window->paletteBar()->findChild<QToolButton*>("paletteArrow")->isChecked());
    EXPECT_TRUE(designer()->PatternModified());
    EXPECT_TRUE(window->action("aSave")->isEnabled());
    ASSERT_TRUE(window->action("aUndo")->isEnabled());
    EXPECT_FALSE(window->action("aRedo")->isEnabled());
    EXPECT_EQ(window->action("aUndo")->shortcut(), QKeySequence("Ctrl+Z"));
    EXPECT_EQ(window->action("aRedo")->shortcuts(),
              (QList<QKeySequence>{QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")}));

    window->action("aUndo")->trigger();
    EXPECT_TRUE(designer()->Bricks().isEmpty());
    EXPECT_FALSE(designer()->PatternModified()); // back at the state the photo was opened in
    EXPECT_FALSE(window->action("aSave")->isEnabled());
    ASSERT_TRUE(window->action("aRedo")->isEnabled());

    window->action("aRedo")->trigger();
    ASSERT_EQ(designer()->Bricks().size(), 1);
    EXPECT_EQ(designer()->Bricks().constFirst()->objectName(), "Text1");
    EXPECT_TRUE(designer()->PatternModified());

    // New Pattern forgets the history.
    boxAnswer = "Don't Save";
    window->newPattern();
    EXPECT_TRUE(designer()->Bricks().isEmpty());
    EXPECT_FALSE(window->action("aUndo")->isEnabled());
    EXPECT_FALSE(window->action("aRedo")->isEnabled());
}

TEST_F(MainWindowTest, CopyCutPasteAndDeleteGoThroughTheActions) {
    TText* brick = openWithOneBrick(*window, dir);
    ASSERT_NE(brick, nullptr);
    // Read from a file: nothing to undo, not modified.
    EXPECT_FALSE(window->action("aUndo")->isEnabled());
    EXPECT_FALSE(designer()->PatternModified());
    EXPECT_FALSE(window->action("aCopy")->isEnabled());
    EXPECT_FALSE(window->action("aPaste")->isEnabled());

    window->designSurface()->Select(brick);
    for (const char* n : {"aCopy", "aCut", "aDelete", "aBringToFromt", "aSendToBack"})
        EXPECT_TRUE(window->action(QLatin1String(n))->isEnabled()) << n;
    window->action("aCopy")->trigger();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data->hasFormat(kBrickMimeType));
    EXPECT_TRUE(data->text().contains("object A1: TText")) << data->text().toStdString();
    EXPECT_TRUE(window->action("aPaste")->isEnabled());
    EXPECT_FALSE(window->action("aUndo")->isEnabled()); // copying changes nothing

    window->action("aDelete")->trigger();
    EXPECT_TRUE(designer()->Bricks().isEmpty());
    EXPECT_FALSE(window->action("aCopy")->isEnabled());

    window->action("aPaste")->trigger();
    ASSERT_EQ(brickNames(designer()), QStringList{"A1"});
    auto* pasted = qobject_cast<TText*>(designer()->Bricks().constFirst());
    ASSERT_NE(pasted, nullptr);
    EXPECT_EQ(pasted->Caption(), "A1");
    EXPECT_EQ(window->designSurface()->Selection(), QList<QWidget*>{pasted});

    window->action("aCut")->trigger();
    EXPECT_TRUE(designer()->Bricks().isEmpty());
    window->action("aPaste")->trigger();
    EXPECT_EQ(brickNames(designer()), QStringList{"A1"});

    // Each of delete, paste, cut, paste was one step.
    QUndoStack* stack = window->designSurface()->UndoStack();
    EXPECT_EQ(stack->count(), 4);
    window->action("aUndo")->trigger();
    window->action("aUndo")->trigger();
    EXPECT_EQ(brickNames(designer()), QStringList{"A1"});
    window->action("aUndo")->trigger();
    EXPECT_TRUE(designer()->Bricks().isEmpty());
}

TEST_F(MainWindowTest, InspectorShowsTheSelectionAndEachWriteIsOneUndoStep) {
    TText* brick = openWithOneBrick(*window, dir);
    ASSERT_NE(brick, nullptr);
    TObjectInspector* inspector = window->inspector();
    ASSERT_NE(inspector, nullptr);
    EXPECT_TRUE(inspector->isFloating());
    EXPECT_FALSE(inspector->isVisible());
    window->action("aInspector")->trigger();
    EXPECT_TRUE(inspector->isVisible());
    EXPECT_EQ(window->action("aInspector")->shortcut(), QKeySequence(Qt::Key_F11));

    EXPECT_EQ(inspector->Model().Object(), designer());
    window->designSurface()->Select(brick);
    EXPECT_EQ(inspector->Model().Object(), brick);
    EXPECT_TRUE(inspector->Model().ParentObjects().contains("A1: Text"))
        << inspector->Model().ParentObjects().join('|').toStdString();
    // The hidden-property table holds: no Name or Tag row for a text brick.
    EXPECT_EQ(inspector->Model().FindRow("Tag"), -1);
    const int caption = inspector->Model().FindRow("Caption");
    ASSERT_GE(caption, 0);

    QUndoStack* stack = window->designSurface()->UndoStack();
    const int steps = stack->count();
    inspector->Model().WriteValue(caption, "Hello");
    EXPECT_EQ(brick->Caption(), "Hello");
    EXPECT_EQ(stack->count(), steps + 1);
    EXPECT_TRUE(designer()->PatternModified());
    window->action("aUndo")->trigger();
    EXPECT_EQ(brick->Caption(), "A1");
    // The grid shows the value that came back.
    EXPECT_EQ(inspector->Model().Object(), brick);
    EXPECT_EQ(inspector->Model().DisplayText(inspector->Model().FindRow("Caption")), "A1");
    EXPECT_FALSE(designer()->PatternModified());
    window->action("aRedo")->trigger();
    EXPECT_EQ(brick->Caption(), "Hello");

    // Choosing the surface in the object list clears the selection; choosing the brick selects.
    QComboBox* list = inspector->ParentObjects();
    const int surfaceItem = 0;
    emit list->activated(surfaceItem);
    EXPECT_TRUE(window->designSurface()->Selection().isEmpty());
    EXPECT_EQ(inspector->Model().Object(), designer());
    const int brickItem = inspector->Model().ParentObjects().indexOf("A1: Text");
    ASSERT_GT(brickItem, 0);
    emit list->activated(brickItem);
    EXPECT_EQ(window->designSurface()->Selection(), QList<QWidget*>{brick});
}

TEST_F(MainWindowTest, DialogOkOnADoubleClickedBrickIsOneUndoStep) {
    TText* brick = openWithOneBrick(*window, dir);
    ASSERT_NE(brick, nullptr);
    int runs = 0;
    bool accept = true;
    EditorDialogs().Exec = [&](QDialog& d) {
        ++runs;
        auto* editor = qobject_cast<TOPropertyStringsEditor*>(&d);
        EXPECT_NE(editor, nullptr) << d.metaObject()->className();
        if (editor)
            editor->RichEdit1->setPlainText(accept ? "From the dialog" : "Cancelled text");
        return int(accept ? QDialog::Accepted : QDialog::Rejected);
    };
    QUndoStack* stack = window->designSurface()->UndoStack();
    QTest::mouseDClick(brick, Qt::LeftButton, {}, QPoint(2, 2));
    ASSERT_EQ(runs, 1);
    EXPECT_EQ(brick->Caption(), "From the dialog");
    EXPECT_EQ(stack->count(), 1);
    EXPECT_TRUE(designer()->PatternModified());

    window->action("aUndo")->trigger();
    EXPECT_EQ(brick->Caption(), "A1");
    EXPECT_FALSE(designer()->PatternModified());
    window->action("aRedo")->trigger();
    EXPECT_EQ(brick->Caption(), "From the dialog");

    // Cancel puts the text back and adds no step.
    accept = false;
    window->designSurface()->EditBrick(brick);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(brick->Caption(), "From the dialog");
    EXPECT_EQ(stack->count(), 1);
}

TEST_F(MainWindowTest, DeleteAndArrowKeysReachTheSurfaceWithABrickSelected) {
    TText* brick = openWithOneBrick(*window, dir);
    ASSERT_NE(brick, nullptr);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // Without a selection, Delete deletes nothing.
    QTest::keyClick(designer(), Qt::Key_Delete);
    EXPECT_EQ(designer()->Bricks().size(), 1);

    window->designSurface()->Select(brick);
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus == designer() || designer()->isAncestorOf(focus))
        << focus->metaObject()->className();
    const QPoint at = brick->pos();
    QTest::keyClick(focus, Qt::Key_Right);
    EXPECT_EQ(brick->pos(), at + QPoint(1, 0));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
    EXPECT_TRUE(designer()->Bricks().isEmpty());
    window->action("aUndo")->trigger();
    EXPECT_EQ(designer()->Bricks().size(), 1);
}

TEST_F(MainWindowTest, ExplorerOpensPhotosAndShowsAndFolds) {
    TfrmBottom* explorer = window->explorer();
    ASSERT_NE(explorer, nullptr);
    EXPECT_EQ(window->dockWidgetArea(explorer), Qt::BottomDockWidgetArea);
    // Shown below the picture from the start; the menu item folds and unfolds it.
    EXPECT_TRUE(explorer->isVisible());
    EXPECT_FALSE(explorer->isFloating());
    EXPECT_FALSE(explorer->Folded());
    EXPECT_GT(explorer->geometry().top(), window->centralWidget()->geometry().bottom());
    window->action("aExplorer")->trigger();
    EXPECT_TRUE(explorer->Folded());
    window->action("aExplorer")->trigger();
    EXPECT_FALSE(explorer->Folded());

    const QString photo = writePhoto(path("fromExplorer.jpg"), 160, 120);
    emit explorer->openImage(photo);
    EXPECT_EQ(window->ImagePath(), photo);
    EXPECT_EQ(designer()->realPicture.size(), QSize(160, 120));
    EXPECT_TRUE(window->windowTitle().endsWith("fromExplorer.jpg"));
}

TEST_F(MainWindowTest, ApplyPatternToImagesAsksWithThePreviewThenRewritesEachFile) {
    TText* brick = openWithOneBrick(*window, dir);
    ASSERT_NE(brick, nullptr);
    const QSize own = designer()->realPicture.size();
    QStringList files;
    QList<QByteArray> originals;
    for (const auto& [name, size] : {std::pair{"a.jpg", QSize(120, 90)}, {"b.jpg", QSize(90, 120)}}) {
        files << writePhoto(path(name), size.width(), size.height());
        QFile f(files.last());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        originals << f.readAll();
    }
    // Cancelled at the preview: nothing is written.
    previewAnswer = QDialog::Rejected;
    emit window->explorer()->applyPatternToFiles(files);
    EXPECT_TRUE(questions.isEmpty()) << "the preview is the question";
    ASSERT_EQ(dialogTitles, QStringList{"Apply pattern to Images"});
    ASSERT_EQ(previewTiles.size(), 1);
    EXPECT_EQ(previewNames[0], (QStringList{"a.jpg", "b.jpg"}));
    EXPECT_EQ(previewProceed[0], "Apply");
    ASSERT_EQ(previewTiles[0].size(), 2);
    // Each tile is its photo as written: its own shape, the caption on it.
    EXPECT_EQ(previewTiles[0][0].outputSize, QSize(120, 90));
    EXPECT_EQ(previewTiles[0][1].outputSize, QSize(90, 120));
    for (const PreviewTile& tile : previewTiles[0]) {
        EXPECT_FALSE(tile.image.isNull()) << tile.error.toStdString();
        EXPECT_EQ(tile.boxes.size(), 1);
    }
    for (int i = 0; i < files.size(); ++i) {
        EXPECT_FALSE(QFile::exists(files[i] + ".bak"));
        QFile f(files[i]);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), originals[i]);
    }

    // Applied: each file rewritten, its original kept.
    previewAnswer = QDialog::Accepted;
    emit window->explorer()->applyPatternToFiles(files);
    EXPECT_EQ(previewTiles.size(), 2);
    EXPECT_TRUE(messages.isEmpty());
    for (int i = 0; i < files.size(); ++i) {
        QFile bak(files[i] + ".bak"), out(files[i]);
        ASSERT_TRUE(bak.open(QIODevice::ReadOnly)) << files[i].toStdString();
        EXPECT_EQ(bak.readAll(), originals[i]);
        ASSERT_TRUE(out.open(QIODevice::ReadOnly));
        const QByteArray written = out.readAll();
        EXPECT_NE(written, originals[i]);
        QImage image;
        ASSERT_TRUE(image.loadFromData(written));
        EXPECT_EQ(image.size(), i == 0 ? QSize(120, 90) : QSize(90, 120));
        // The preview drew the caption where the file has it: the tile's caption box, scaled
        // up, holds the ink the file gained.
        const PreviewTile& tile = previewTiles[0][i];
        QImage before;
        ASSERT_TRUE(before.loadFromData(originals[i]));
        const InkStats ink = inkWithin(image.convertToFormat(QImage::Format_RGB32),
                                       before.convertToFormat(QImage::Format_RGB32), 60);
        ASSERT_GT(ink.count, 0);
        const double k = double(image.width()) / tile.image.width();
        const QRectF box(tile.boxes[0].x() * k, tile.boxes[0].y() * k,
                         tile.boxes[0].width() * k, tile.boxes[0].height() * k);
        EXPECT_TRUE(box.adjusted(-2, -2, 2, 2).contains(QRectF(ink.box)))
            << "tile box " << box.x() << "," << box.y() << " " << box.width() << "x"
            << box.height() << "; ink " << ink.box.x() << "," << ink.box.y() << " "
            << ink.box.width() << "x" << ink.box.height();
    }
    // The surface keeps its own photo.
    EXPECT_EQ(designer()->realPicture.size(), own);

    // A file that cannot be read shows so in the preview, and is reported by name.
    emit window->explorer()->applyPatternToFiles({path("missing.jpg")});
    ASSERT_EQ(previewTiles.size(), 3);
    EXPECT_TRUE(previewTiles[2][0].image.isNull());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].second.contains("missing.jpg")) << messages[0].second.toStdString();
}

TEST_F(MainWindowTest, OptionsTipAndHelpActionsRunTheirDialogs) {
    window->action("aOptions")->trigger();
    ASSERT_EQ(dialogs, QStringList{"TfrmOptions"});
    EXPECT_EQ(dialogTitles.constFirst(), "Options");
    window->action("actTip")->trigger();
    EXPECT_EQ(dialogs, (QStringList{"TfrmOptions", "TfrmTip"}));

    // The tip shows at start-up while the preference allows it.
    dialogs.clear();
    window->startUp(ParseCommandLine({}));
    EXPECT_EQ(dialogs, QStringList{"TfrmTip"});
    dialogs.clear();
    QDir().mkpath(QFileInfo(TipIniPath()).absolutePath());
    writeFile(TipIniPath(), "[Preferences]\nShowTip=0\n");
    ASSERT_FALSE(ShowTipAtStartup());
    window->startUp(ParseCommandLine({}));
    EXPECT_TRUE(dialogs.isEmpty());
    QFile::remove(TipIniPath());
}

} // namespace
