// The window as users of today's desktop programs expect it: the standard keys, select all and
// duplicate, the grid from the View menu and in the pattern, zoom around the pointer, fit that
// follows the window, one batch window, icons, and a command line that answers --help.
#include "app/gui/ActionIcons.h"
#include "app/gui/SurfaceActions.h"
#include "app/gui/TProjectManager.h"
#include "app/gui/ZoomSteps.h"
#include "batch/window/TfrmGroup.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TText.h"
#include "designer/handles/TStretchHandle.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignSurface.h"
#include "imaging/dialogs/TfrmAdjustments.h"
#include "imaging/dialogs/TfrmResize.h"
#include "inspector/PropertyRows.h"
#include "inspector/TObjectInspector.h"
#include "platform/Messages.h"
#include "tests/support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSlider>
#include <QLineEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <memory>

namespace {

QString readPattern(const QString& path) {
    QFile f(path);
    const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    if (bytes.startsWith("\xFF\xFE"))
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                                  (bytes.size() - 2) / 2);
    return QString::fromUtf8(bytes);
}

QByteArray patternXml(const QString& grid, const QStringList& bodies) {
    QByteArray out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"t\">\n"
                     "<Inspector Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\" ColWidth=\"1\" "
                     "Sort=\"True\" AlwaysOnTop=\"True\"/>\n"
                     "<Designer Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\" " +
                     grid.toUtf8() +
                     "/>\n<Manager Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\"/>\n<Bricks>\n";
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

class DesignerHabitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        RegisterBricks();
        SetMessageHandler([this](MessageKind, const QString& t) { messages.append(t); });
        SetQuestionHandler([](QuestionButtons, const QString&) { return Answer::No; });
        window = std::make_unique<TProjectManager>();
        window->RegisterStandardBricks();
        window->setFileNameAsker([this](const FileRequest&) { return chosenFile; });
        window->setDialogRunner([](QDialog&) { return int(QDialog::Rejected); });
        QGuiApplication::clipboard()->clear();
        window->setGeometry(50, 50, 1000, 800);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        if (frmGroup)
            delete frmGroup;
        window.reset();
        SetMessageHandler(nullptr);
        SetQuestionHandler(nullptr);
    }
    TDesigner& d() const { return *window->designer(); }
    DesignSurface& surface() const { return *window->designSurface(); }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString photo(const QString& name, QSize size) {
        EXPECT_TRUE(makeTestPhoto(size.width(), size.height(), 3, true).save(path(name), "PNG"));
        return path(name);
    }
    QString pattern(const QString& name, const QString& grid, const QStringList& bodies) {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(patternXml(grid, bodies));
        return path(name);
    }
    void activate() {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        d().setFocus();
    }
    static int indexOfPercent(int percent) {
        for (int i = 0; i < ZoomSteps::count(); ++i)
            if (ZoomSteps::percent(i) == percent)
                return i;
        return -1;
    }

    QTemporaryDir dir;
    std::unique_ptr<TProjectManager> window;
    QStringList messages;
    QString chosenFile;
};

} // namespace

// ---- keys -------------------------------------------------------------------------------------

TEST_F(DesignerHabitsTest, EveryShortcutIsUniqueAndTheStandardKeysAreThere) {
    // Every action of the window, whether it is in a menu, a tool bar or neither.
    QSet<QAction*> actions;
    for (QAction* a : window->findChildren<QAction*>())
        actions.insert(a);
    for (QAction* a : window->allActions())
        actions.insert(a);
    QHash<QString, QString> owner;
    for (QAction* a : std::as_const(actions))
        for (const QKeySequence& k : a->shortcuts()) {
            const QString key = k.toString(QKeySequence::PortableText);
            EXPECT_FALSE(owner.contains(key))
                << key.toStdString() << " is held by " << owner.value(key).toStdString()
                << " and " << a->objectName().toStdString();
            owner.insert(key, a->objectName());
        }
    const QList<QPair<const char*, const char*>> expected = {
        {"Ctrl+C", "aCopy"},        {"Ctrl+Ins", "aCopy"},       {"Ctrl+X", "aCut"},
        {"Shift+Del", "aCut"},      {"Ctrl+V", "aPaste"},        {"Shift+Ins", "aPaste"},
        {"Ctrl+A", "aSelectAll"},   {"Ctrl+D", "aDuplicate"},    {"Ctrl+S", "aSave"},
        {"Ctrl+Shift+S", "aSavePatternAs"},                      {"Ctrl+=", "aZoomin"},
        {"Ctrl++", "aZoomin"},      {"Ctrl+-", "aZoomout"},      {"Ctrl+0", "aActualsize"},
        {"Ctrl+Shift+O", "aOpenImage"},                          {"Ctrl+O", "aOpen"},
        {"Ctrl+N", "aNew"},         {"Ctrl+Del", "aDelete"},     {"Ctrl+Z", "aUndo"},
        {"Ctrl+Shift+Z", "aRedo"},  {"Ctrl+Y", "aRedo"},         {"Ctrl+B", "aBringToFromt"},
        {"Ctrl+Shift+B", "aSendToBack"},                         {"F1", "aAbout"},
        {"F11", "aInspector"}};
    for (const auto& [key, name] : expected)
        EXPECT_EQ(owner.value(QLatin1String(key)), QLatin1String(name)) << key;
}

TEST_F(DesignerHabitsTest, SelectAllCopyPasteAndDuplicateByTheKeys) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", QSize(600, 400))));
    window->LoadPattern(pattern("two.xml", "GridX=\"4\" GridY=\"4\" IsGrid=\"False\"",
                                {textBrick("A1", 10, 10), textBrick("B1", 200, 120)}));
    activate();
    QUndoStack* stack = surface().UndoStack();

    QTest::keyClick(&d(), Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(surface().Selection().size(), 2);

    // Two copies, each the next free name, 5 pixels right and down of its original, selected,
    // as one step of the history.
    QTest::keyClick(&d(), Qt::Key_D, Qt::ControlModifier);
    QStringList names;
    for (QWidget* b : d().Bricks())
        names << b->objectName();
    EXPECT_EQ(names, (QStringList{"A1", "B1", "Text1", "Text2"}));
    ASSERT_EQ(d().Bricks().size(), 4);
    QWidget* copy = d().Bricks()[2];
    EXPECT_EQ(copy->pos(), d().Bricks()[0]->pos() + QPoint(5, 5));
    EXPECT_EQ(d().Bricks()[3]->pos(), QPoint(205, 125));
    EXPECT_EQ(qobject_cast<TText*>(copy)->Caption(), "A1");
    EXPECT_EQ(qobject_cast<TText*>(copy)->FullLeft, 15) << "at zoom 1";
    EXPECT_EQ(surface().Selection(), (QList<QWidget*>{d().Bricks()[2], d().Bricks()[3]}));
    EXPECT_EQ(stack->count(), 1);
    QTest::keyClick(&d(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(d().Bricks().size(), 2);

    // Ctrl+X, Ctrl+V: the brick goes to the clipboard and comes back.
    surface().Select(d().Bricks()[0]);
    activate();
    QTest::keyClick(&d(), Qt::Key_X, Qt::ControlModifier);
    ASSERT_EQ(d().Bricks().size(), 1);
    EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->hasFormat(QString::fromLatin1(kBrickMimeType)));
    QTest::keyClick(&d(), Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(d().Bricks().size(), 2);
    EXPECT_EQ(d().Bricks()[1]->objectName(), "A1");
    EXPECT_EQ(qobject_cast<TText*>(d().Bricks()[1])->Caption(), "A1");
    EXPECT_EQ(surface().Selection(), QList<QWidget*>{d().Bricks()[1]});
    // Ctrl+C leaves the brick where it is.
    QTest::keyClick(&d(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(d().Bricks().size(), 2);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(DesignerHabitsTest, NewPatternIsOfferedWhenThereAreBricks) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", QSize(300, 200))));
    window->updateActions();
    EXPECT_FALSE(window->action("aNew")->isEnabled());
    window->LoadPattern(pattern("one.xml", "GridX=\"4\" GridY=\"4\" IsGrid=\"False\"",
                                {textBrick("A1", 10, 10)}));
    window->updateActions();
    EXPECT_TRUE(window->action("aNew")->isEnabled());
    window->action("aNew")->trigger();
    EXPECT_TRUE(d().Bricks().isEmpty());
    EXPECT_FALSE(window->action("aNew")->isEnabled());
}

// ---- the grid ---------------------------------------------------------------------------------

TEST_F(DesignerHabitsTest, TheGridOfTheViewMenuIsSavedAndReadWithThePattern) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", QSize(300, 200))));
    QUndoStack* stack = surface().UndoStack();
    window->action("aSnapToGrid")->trigger();
    EXPECT_TRUE(d().IsGrid());
    EXPECT_EQ(surface().StretchHandle()->GridX(), 4);
    window->gridStepBox()->setValue(10);
    EXPECT_EQ(d().GridX(), 10);
    EXPECT_EQ(d().GridY(), 10);
    EXPECT_EQ(surface().StretchHandle()->GridX(), 10);
    EXPECT_EQ(surface().StretchHandle()->GridY(), 10);
    // Both are edits of the pattern, each one step.
    EXPECT_EQ(stack->count(), 2);
    EXPECT_TRUE(d().PatternModified());
    stack->undo();
    EXPECT_EQ(d().GridX(), 4);
    EXPECT_EQ(window->gridStepBox()->value(), 4) << "the menu follows";
    stack->redo();

    chosenFile = path("grid.xml");
    ASSERT_TRUE(window->savePattern());
    const QString text = readPattern(chosenFile);
    EXPECT_TRUE(text.contains(QRegularExpression(
        R"(<Designer [^>]*GridX="10" GridY="10" IsGrid="True")")))
        << text.toStdString();

    // Read back after other values: the steps snapped to are the file's.
    window->gridStepBox()->setValue(3);
    window->action("aSnapToGrid")->trigger();
    ASSERT_FALSE(d().IsGrid());
    window->LoadPattern(chosenFile);
    EXPECT_TRUE(d().IsGrid());
    EXPECT_EQ(d().GridX(), 10);
    EXPECT_EQ(surface().StretchHandle()->GridX(), 10);
    EXPECT_TRUE(window->action("aSnapToGrid")->isChecked());
    EXPECT_EQ(window->gridStepBox()->value(), 10);
    EXPECT_FALSE(d().PatternModified()) << "reading is no edit";

    // A pattern of another program's steps: 6 across, 12 down, on.
    window->LoadPattern(pattern("odd.xml", "GridX=\"6\" GridY=\"12\" IsGrid=\"True\"", {}));
    EXPECT_EQ(surface().StretchHandle()->GridX(), 6);
    EXPECT_EQ(surface().StretchHandle()->GridY(), 12);
    // A file that cannot be read leaves the grid as it was.
    QFile broken(path("broken.xml"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(patternXml("GridX=\"9\" GridY=\"9\" IsGrid=\"maybe\"", {}));
    broken.close();
    EXPECT_ANY_THROW(window->LoadPattern(path("broken.xml")));
    EXPECT_EQ(d().GridX(), 6);
    EXPECT_EQ(d().GridY(), 12);
}

TEST_F(DesignerHabitsTest, TheInspectorShowsTheSurfaceByNameWithItsOwnRows) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", QSize(300, 200))));
    window->LoadPattern(pattern("one.xml", "GridX=\"6\" GridY=\"6\" IsGrid=\"True\"",
                                {textBrick("A1", 10, 10)}));
    TObjectInspector* inspector = window->inspector();
    inspector->Inspect(&d());
    QComboBox* list = inspector->ParentObjects();
    ASSERT_GE(list->count(), 2);
    EXPECT_EQ(list->itemText(0), "Designer: Designer");
    EXPECT_EQ(list->itemText(1), "A1: Text");
    EXPECT_EQ(list->currentIndex(), 0);
    QStringList rows;
    for (const TPropertyDescription& r : inspector->Model().Rows())
        rows << r.PropertyName;
    EXPECT_EQ(rows, QStringList({"CaptionBand", "GridX", "GridY", "IsGrid", "Panel1", "Picture",
                                 "realExif", "realPicture"}));
    EXPECT_EQ(inspector->Model().DisplayText(inspector->Model().FindRow("GridX")), "6");
    EXPECT_EQ(inspector->Model().DisplayText(inspector->Model().FindRow("IsGrid")), "On");
}

TEST_F(DesignerHabitsTest, TheGridIsDrawnOnThePreviewWhenShown) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", QSize(300, 200))));
    window->LoadPattern(pattern("ten.xml", "GridX=\"10\" GridY=\"10\" IsGrid=\"False\"", {}));
    ASSERT_EQ(d().GridX(), 10);
    ASSERT_FALSE(d().PatternModified());
    const int steps = surface().UndoStack()->count();
    const QImage bare = d().Panel1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    window->action("aShowGrid")->trigger();
    EXPECT_TRUE(d().ShowGrid());
    const QImage shown = d().Panel1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), bare.size());
    // Each dot flips the top bit of each channel; nothing else changes.
    int dots = 0, others = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            if (shown.pixel(x, y) == bare.pixel(x, y))
                continue;
            if (x % 10 == 0 && y % 10 == 0 && (shown.pixel(x, y) ^ bare.pixel(x, y)) == 0x808080)
                ++dots;
            else
                ++others;
        }
    EXPECT_EQ(dots, 30 * 20);
    EXPECT_EQ(others, 0);
    EXPECT_FALSE(d().PatternModified()) << "showing the grid is the view's, not the pattern's";
    EXPECT_EQ(surface().UndoStack()->count(), steps);
}

// ---- zoom -------------------------------------------------------------------------------------

TEST_F(DesignerHabitsTest, ZoomKeepsThePointUnderThePointerOrTheViewsCentre) {
    ASSERT_TRUE(window->OpenImage(photo("big.png", QSize(2400, 1800))));
    window->actualSize();
    QWidget* view = window->viewport();
    const QPoint pointer(view->width() / 4, view->height() / 3);
    window->chooseZoom(indexOfPercent(200), pointer);
    const QPointF before = window->FullPointAt(pointer);
    window->chooseZoom(indexOfPercent(300), pointer);
    EXPECT_DOUBLE_EQ(d().ZoomRatio, 1.0 / 3);
    const QPointF after = window->FullPointAt(pointer);
    EXPECT_NEAR(after.x(), before.x(), 1.0);
    EXPECT_NEAR(after.y(), before.y(), 1.0);

    // The menu's Zoom Out keeps the centre.
    const QPoint centre = view->rect().center();
    const QPointF atCentre = window->FullPointAt(centre);
    window->zoomOut();
    EXPECT_DOUBLE_EQ(d().ZoomRatio, 0.5);
    EXPECT_NEAR(window->FullPointAt(centre).x(), atCentre.x(), 2.0);
    EXPECT_NEAR(window->FullPointAt(centre).y(), atCentre.y(), 2.0);

    // Ctrl and the wheel: one level per notch, around the pointer.
    const QPointF underWheel = window->FullPointAt(pointer);
    QWheelEvent up(QPointF(d().Panel1->mapFrom(view, pointer)),
                   QPointF(view->mapToGlobal(pointer)), QPoint(), QPoint(0, 120), Qt::NoButton,
                   Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(d().Panel1, &up);
    EXPECT_DOUBLE_EQ(d().ZoomRatio, 1.0 / 3) << "200 % to 300 %";
    EXPECT_NEAR(window->FullPointAt(pointer).x(), underWheel.x(), 1.0);
    EXPECT_NEAR(window->FullPointAt(pointer).y(), underWheel.y(), 1.0);
    QWheelEvent down(QPointF(d().Panel1->mapFrom(view, pointer)),
                     QPointF(view->mapToGlobal(pointer)), QPoint(), QPoint(0, -240),
                     Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(d().Panel1, &down);
    EXPECT_DOUBLE_EQ(d().ZoomRatio, 1.0 / 1.4) << "two notches down: 140 %";
    // Without Ctrl the wheel scrolls and leaves the zoom.
    QWheelEvent plain(QPointF(10, 10), QPointF(view->mapToGlobal(QPoint(10, 10))), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(d().Panel1, &plain);
    EXPECT_DOUBLE_EQ(d().ZoomRatio, 1.0 / 1.4);
}

TEST_F(DesignerHabitsTest, AFittedPhotoFollowsTheWindowUntilAZoomIsChosen) {
    ASSERT_TRUE(window->OpenImage(photo("big.png", QSize(2400, 1800))));
    EXPECT_TRUE(window->FitsWindow());
    const double fitted = d().ZoomRatio;
    ASSERT_GT(fitted, 1.0);
    window->resize(1400, 1100);
    QTest::qWait(50);
    EXPECT_LT(d().ZoomRatio, fitted) << "a larger window shows the photo larger";
    EXPECT_DOUBLE_EQ(d().ZoomRatio,
                     ZoomSteps::fitRatio(d().realPicture.size(), window->clientSize()));
    const QSize preview = d().PreviewSize();
    EXPECT_TRUE(preview.width() <= window->clientSize().width() &&
                preview.height() <= window->clientSize().height());

    window->chooseZoom(indexOfPercent(50));
    EXPECT_FALSE(window->FitsWindow());
    window->resize(900, 700);
    QTest::qWait(50);
    EXPECT_DOUBLE_EQ(d().ZoomRatio, 2.0) << "a chosen zoom stays";
    window->fitToPage();
    EXPECT_TRUE(window->FitsWindow());
}

TEST_F(DesignerHabitsTest, TheZoomHoldsNoPictureOfThePreviewsSize) {
    ASSERT_TRUE(window->OpenImage(photo("big.png", QSize(2000, 1500))));
    window->chooseZoom(indexOfPercent(100));
    window->viewport()->grab();
    const qint64 held = d().PreviewCacheBytes();
    // The halvings of the photo: a quarter, a sixteenth, ... of its 12 MB.
    EXPECT_GT(held, 2000 * 1500 * 4 / 4);
    EXPECT_LT(held, 2000 * 1500 * 4 / 3);
    for (int percent : {300, 20, 1000, 50}) {
        window->chooseZoom(indexOfPercent(percent));
        window->viewport()->grab();
        EXPECT_EQ(d().PreviewCacheBytes(), held) << percent;
    }
}

// ---- windows and icons ------------------------------------------------------------------------

TEST_F(DesignerHabitsTest, TheMenuAndTheExplorerOpenTheSameBatchWindow) {
    // The batch takes photos (JPEG, GIF, BMP), not PNG pictures.
    ASSERT_TRUE(makeTestPhoto(300, 200, 3, true).save(path("p.jpg"), "JPG"));
    ASSERT_TRUE(window->OpenImage(path("p.jpg")));
    window->action("aGroup")->trigger();
    ASSERT_NE(frmGroup, nullptr);
    TfrmGroup* first = frmGroup;
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal()) << "files can still be dragged in from the explorer";
    window->addFilesToGroup({path("p.jpg")});
    EXPECT_EQ(frmGroup, first);
    window->action("aGroup")->trigger();
    EXPECT_EQ(frmGroup, first);
    EXPECT_EQ(first->ListView1->count(), 1);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(frmGroup, nullptr);
    window->action("aGroup")->trigger();
    ASSERT_NE(frmGroup, nullptr);
    EXPECT_EQ(frmGroup->ListView1->count(), 0) << "a new window after the last one closed";
}

TEST_F(DesignerHabitsTest, ToolBarsShowIconsAsTheDesktopPrefersAndThePaletteShowsDisabled) {
    for (const ActionIconName& n : ActionIconNames()) {
        QAction* a = window->action(QLatin1String(n.action));
        ASSERT_NE(a, nullptr) << n.action;
        const QImage icon = a->icon().pixmap(22, 22).toImage();
        ASSERT_FALSE(icon.isNull()) << n.action;
        int ink = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                ink += qAlpha(icon.pixel(x, y)) > 0;
        EXPECT_GT(ink, 20) << n.action;
    }
    // The palette holds glyph buttons of its own; the bars of commands follow the desktop.
    int bars = 0;
    for (QToolBar* bar : window->findChildren<QToolBar*>(Qt::FindDirectChildrenOnly)) {
        if (bar == window->paletteBar())
            continue;
        ++bars;
        EXPECT_EQ(bar->toolButtonStyle(), Qt::ToolButtonFollowStyle) << bar->objectName().toStdString();
    }
    EXPECT_EQ(bars, 5);

    // No photo: the palette's buttons are disabled and look it.
    // The palette's buttons are made again whenever it is refreshed: found anew each time.
    const auto paletteButtons = [this] {
        QList<QToolButton*> found;
        for (QToolButton* b : window->paletteBar()->findChildren<QToolButton*>())
            if (b->objectName().startsWith("palette_"))
                found.append(b);
        return found;
    };
    QList<QToolButton*> palette = paletteButtons();
    ASSERT_EQ(palette.size(), 5);
    for (QToolButton* b : palette) {
        EXPECT_FALSE(b->isEnabled());
        const QImage normal = b->icon().pixmap(18, 18, QIcon::Normal).toImage();
        const QImage disabled = b->icon().pixmap(18, 18, QIcon::Disabled).toImage();
        EXPECT_NE(normal, disabled) << b->objectName().toStdString();
    }
    ASSERT_TRUE(window->OpenImage(photo("p.png", QSize(300, 200))));
    palette = paletteButtons();
    ASSERT_EQ(palette.size(), 5);
    for (QToolButton* b : palette)
        EXPECT_TRUE(b->isEnabled());
}

// ---- the command line -------------------------------------------------------------------------

TEST(CommandLineSwitches, HelpVersionAndTheEndOfSwitches) {
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
    EXPECT_TRUE(ParseCommandLine({"-h"}).help);
    EXPECT_TRUE(ParseCommandLine({"--version"}).version);
    EXPECT_TRUE(ParseCommandLine({"-v"}).version);
    const CommandLine files = ParseCommandLine({"--", "--help", "pattern.xml"});
    EXPECT_FALSE(files.help);
    EXPECT_EQ(files.photo, "--help");
    EXPECT_EQ(files.pattern, "pattern.xml");
    const CommandLine both = ParseCommandLine({"photo.jpg", "--group"});
    EXPECT_TRUE(both.group);
    EXPECT_EQ(both.photo, "photo.jpg");
}

TEST(CommandLineSwitches, HelpAndVersionPrintAndExitWithoutAWindow) {
    for (const char* which : {"--help", "--version"}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No display and no platform: a window could not even be made.
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CAPTIOMARK_GUI_PATH), {QLatin1String(which)});
        ASSERT_TRUE(p.waitForFinished(20000)) << which;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << which;
        EXPECT_EQ(p.exitCode(), 0) << which;
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        if (QLatin1String(which) == QLatin1String("--help")) {
            EXPECT_TRUE(out.startsWith("Usage: captiomark")) << out.toStdString();
            EXPECT_TRUE(out.contains("--version"));
            EXPECT_TRUE(out.contains("--group"));
        } else {
            EXPECT_TRUE(out.contains(QRegularExpression(R"(^Captiomark \d+\.\d+)")))
                << out.toStdString();
        }
    }
}

// ---- the inspector --------------------------------------------------------------------------

TEST_F(DesignerHabitsTest, TheInspectorTakesThePatternsLayoutAndShowsATailMarker) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", QSize(600, 400))));
    QByteArray xml = patternXml("GridX=\"4\" GridY=\"4\" IsGrid=\"False\"", {});
    xml.replace("<Inspector Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\" ColWidth=\"1\" "
                "Sort=\"True\" AlwaysOnTop=\"True\"/>",
                "<Inspector Left=\"40\" Top=\"60\" Width=\"260\" Height=\"430\" ColWidth=\"95\" "
                "Sort=\"False\" AlwaysOnTop=\"True\"/>");
    QFile f(path("layout.xml"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(xml);
    f.close();
    TObjectInspector* inspector = window->inspector();
    ASSERT_TRUE(inspector->Sorted());
    window->LoadPattern(path("layout.xml"));
    EXPECT_EQ(inspector->ColWidth(), 95);
    EXPECT_FALSE(inspector->Sorted());
    EXPECT_TRUE(inspector->AlwaysOnTop());
    EXPECT_TRUE(inspector->isFloating());
    EXPECT_EQ(inspector->WindowBounds().size(), QSize(260, 430));
    // Shown for the first time, it keeps the pattern's size.
    window->action("aInspector")->trigger();
    EXPECT_EQ(inspector->WindowBounds().size(), QSize(260, 430));
    // Written back as the inspector is now.
    inspector->SetColWidth(101);
    chosenFile = path("again.xml");
    ASSERT_TRUE(window->savePatternAs());
    const QString text = readPattern(chosenFile);
    EXPECT_TRUE(text.contains(QRegularExpression(R"(<Inspector [^>]*ColWidth="101")")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression(R"(<Inspector [^>]*Sort="False")")));

    // A bubble's tail marker, clicked, shows its own rows.
    QWidget* bubble = surface().CreateBrick("TTextBubble", d().Panel1->pos() + QPoint(40, 40));
    ASSERT_NE(bubble, nullptr);
    QWidget* marker = nullptr;
    for (QWidget* w : d().Panel1->findChildren<QWidget*>())
        if (QString::fromLatin1(w->metaObject()->className()) == "TBubbleFrom")
            marker = w;
    ASSERT_NE(marker, nullptr);
    activate();
    QTest::mouseClick(d().Panel1, Qt::LeftButton, {}, marker->geometry().center());
    EXPECT_EQ(surface().Selection(), QList<QWidget*>{marker});
    EXPECT_EQ(inspector->Model().Object(), marker);
    EXPECT_GE(inspector->Model().FindRow("Name"), 0) << "its rows, not the surface's";
    EXPECT_LT(inspector->Model().FindRow("GridX"), 0);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

// ---- photo edits in the history ---------------------------------------------------------------

TEST_F(DesignerHabitsTest, TurningThePhotoIsAnUndoStepThatLeavesThePatternsChangesAlone) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", QSize(300, 200))));
    const QImage original = d().realPicture;
    QUndoStack* stack = surface().UndoStack();
    // No brick: a step of its own, no change of the pattern.
    window->rotate(90);
    EXPECT_EQ(d().realPicture.size(), QSize(200, 300));
    EXPECT_EQ(stack->count(), 1);
    EXPECT_TRUE(d().PhotoModified);
    EXPECT_FALSE(d().PatternModified());
    window->action("aUndo")->trigger();
    EXPECT_EQ(d().realPicture, original) << "pixel for pixel";
    EXPECT_FALSE(d().PhotoModified);
    EXPECT_FALSE(d().PatternModified());
    window->action("aRedo")->trigger();
    EXPECT_EQ(d().realPicture.size(), QSize(200, 300));
    window->action("aUndo")->trigger();

    // A change of the pattern, then a turn: undoing the turn keeps the change.
    window->LoadPattern(pattern("one.xml", "GridX=\"4\" GridY=\"4\" IsGrid=\"False\"",
                                {textBrick("A1", 10, 10)}));
    ASSERT_EQ(d().Bricks().size(), 1);
    auto* brick = qobject_cast<TText*>(d().Bricks().first());
    surface().SetProperty(brick, "Caption", "Changed");
    ASSERT_TRUE(d().PatternModified());
    window->rotate(-90);
    window->action("aUndo")->trigger();
    EXPECT_EQ(d().realPicture, original);
    EXPECT_EQ(brick->Caption(), "Changed");
    EXPECT_TRUE(d().PatternModified());
    window->action("aUndo")->trigger();
    EXPECT_EQ(brick->Caption(), "A1");
    EXPECT_FALSE(d().PatternModified());

    // Saved while turned: undone, the photo differs from the file again.
    window->rotate(90);
    chosenFile = path("saved.png");
    d().PhotoModified = false;
    ++d().PhotoSaves; // as Save Image does
    window->action("aUndo")->trigger();
    EXPECT_TRUE(d().PhotoModified);

    // The pictures of only the last few steps are kept.
    for (int i = 0; i < 7; ++i)
        window->rotate(90);
    EXPECT_EQ(surface().PhotoStepsHeld(), DesignSurface::kPhotoStepsKept);
    const QSize now = d().realPicture.size();
    for (int i = 0; i < DesignSurface::kPhotoStepsKept; ++i)
        window->action("aUndo")->trigger();
    EXPECT_EQ(d().realPicture.size(), now) << "four quarter turns back";
    const QImage reached = d().realPicture;
    // Beyond them a step has no picture to put back: it leaves the history, the photo stays.
    window->action("aUndo")->trigger();
    EXPECT_EQ(d().realPicture, reached);

    // Another photo opened: the steps about the last one put nothing back.
    window->rotate(90);
    ASSERT_TRUE(window->OpenImage(photo("q.png", QSize(120, 80))));
    const QImage other = d().realPicture;
    window->action("aUndo")->trigger();
    EXPECT_EQ(d().realPicture, other);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

// Resizing and adjusting the colours go into the history as turning does: undo gives back the
// picture pixel for pixel, redo the edited one, and neither touches the pattern's own change.
TEST_F(DesignerHabitsTest, ResizingAndAdjustingThePhotoAreUndoStepsThatLeaveThePatternAlone) {
    ASSERT_TRUE(window->OpenImage(photo("p.png", QSize(300, 200))));
    window->LoadPattern(pattern("one.xml", "GridX=\"4\" GridY=\"4\" IsGrid=\"False\"",
                                {textBrick("A1", 10, 10)}));
    ASSERT_EQ(d().Bricks().size(), 1);
    auto* brick = qobject_cast<TText*>(d().Bricks().first());
    surface().SetProperty(brick, "Caption", "Changed");
    ASSERT_TRUE(d().PatternModified());
    QUndoStack* stack = surface().UndoStack();
    const int steps = stack->count();
    const QImage original = d().realPicture;

    // The dialogs as a user fills them in: half the width, proportional; brightness +30.
    window->setDialogRunner([](QDialog& dialog) {
        if (auto* r = qobject_cast<TfrmResize*>(&dialog)) {
            r->show(); // takes the photo's size, as it does when it opens
            r->Edit1->setText(QStringLiteral("150"));
            r->Edit1Chng();
            r->Button1Click();
            r->hide();
        } else if (auto* a = qobject_cast<TfrmAdjustments*>(&dialog)) {
            a->trbarBrightness->setValue(30);
            a->btnAcceptClick();
        }
        return dialog.result();
    });

    window->action("aResize")->trigger();
    EXPECT_EQ(d().realPicture.size(), QSize(150, 100));
    EXPECT_EQ(stack->count(), steps + 1);
    EXPECT_TRUE(d().PhotoModified);
    const QImage resized = d().realPicture;
    window->action("aUndo")->trigger();
    EXPECT_EQ(d().realPicture, original) << "pixel for pixel";
    EXPECT_FALSE(d().PhotoModified);
    EXPECT_EQ(brick->Caption(), "Changed");
    EXPECT_TRUE(d().PatternModified());
    window->action("aRedo")->trigger();
    EXPECT_EQ(d().realPicture, resized);
    EXPECT_EQ(brick->Caption(), "Changed");
    window->action("aUndo")->trigger();
    ASSERT_EQ(d().realPicture, original);

    window->action("aEffects")->trigger();
    EXPECT_EQ(stack->index(), steps + 1) << "one step, the undone resize dropped";
    const QImage adjusted = d().realPicture;
    // Brightness +30 adds 0.3 x 255 to every channel: worked out on a dark pixel of the photo.
    QPoint dark(-1, -1);
    for (int y = 0; y < original.height() && dark.x() < 0; y += 7)
        for (int x = 0; x < original.width(); x += 7)
            if (const QColor c = original.pixelColor(x, y);
                std::max({c.red(), c.green(), c.blue()}) < 150) {
                dark = QPoint(x, y);
                break;
            }
    ASSERT_GE(dark.x(), 0);
    const QColor was = original.pixelColor(dark), now = adjusted.pixelColor(dark);
    EXPECT_NEAR(now.red(), was.red() + 76.5, 1.5);
    EXPECT_NEAR(now.green(), was.green() + 76.5, 1.5);
    EXPECT_NEAR(now.blue(), was.blue() + 76.5, 1.5);
    window->action("aUndo")->trigger();
    EXPECT_EQ(d().realPicture, original) << "pixel for pixel";
    EXPECT_FALSE(d().PhotoModified);
    EXPECT_EQ(brick->Caption(), "Changed");
    EXPECT_TRUE(d().PatternModified());
    window->action("aRedo")->trigger();
    EXPECT_EQ(d().realPicture, adjusted);
    // Back past both photo steps, the pattern's change goes, and the picture stays the original.
    window->action("aUndo")->trigger();
    window->action("aUndo")->trigger();
    EXPECT_EQ(brick->Caption(), "A1");
    EXPECT_EQ(d().realPicture, original);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}
