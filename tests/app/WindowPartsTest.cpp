#include "app/gui/TProjectManager.h"
#include "app/gui/ToolBarCustomizeDialog.h"
#include "app/gui/ToolBarLayout.h"
#include "batch/explorer/TFolderList.h"
#include "batch/explorer/TfrmBottom.h"
#include "bricks/TText.h"
#include "designer/handles/TStretchHandle.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignSurface.h"
#include "inspector/TObjectInspector.h"
#include "bricks/RegisterBricks.h"
#include "patterns/settings/TSettings.h"
#include "platform/Messages.h"
#include "platform/SettingsStore.h"
#include "tests/support/TestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <QWidgetAction>
#include <gtest/gtest.h>
#include <memory>

// A caption that points at another text brick of the surface.
class TPointingText : public TText {
    Q_OBJECT
    Q_PROPERTY(TText* Target READ Target WRITE setTarget)

public:
    using TText::TText;
    TText* Target() const { return m_target; }
    void setTarget(TText* v) { m_target = v; }

private:
    QPointer<TText> m_target;
};

namespace {

// Every test starts from no stored settings.
void forgetSettings() {
    QFile::remove(SettingsStore(SettingsKey).filePath());
}

ToolBarLayout sampleLayout() {
    return ToolBarLayout({{"File", {"aOpen", "aSave"}}, {"Edit", {"aCopy", "aPaste"}}},
                         {"aOpen", "aSave", "aCopy", "aPaste", "aDelete"});
}

QStringList actionNames(const QToolBar* bar) {
    QStringList out;
    for (QAction* a : bar->actions())
        if (!qobject_cast<QWidgetAction*>(a))
            out << a->objectName();
    return out;
}

QStringList rows(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->data(Qt::UserRole).toString();
    return out;
}

void select(QListWidget* list, const QStringList& names) {
    for (int i = 0; i < list->count(); ++i) {
        const bool chosen = names.contains(list->item(i)->data(Qt::UserRole).toString());
        list->item(i)->setSelected(chosen);
        if (chosen)
            list->setCurrentRow(i, QItemSelectionModel::NoUpdate);
    }
}

} // namespace

TEST(ToolBarLayoutTest, KeepsOnlyKnownCommandsOnceAndInTheGivenOrder) {
    ToolBarLayout layout = sampleLayout();
    EXPECT_EQ(layout.BarNames(), (QStringList{"File", "Edit"}));
    EXPECT_EQ(layout.Available("Edit"), (QStringList{"aOpen", "aSave", "aDelete"}));
    layout.SetActions("Edit", {"aDelete", "gone", "aCopy", "aDelete", " aPaste "});
    EXPECT_EQ(layout.Actions("Edit"), (QStringList{"aDelete", "aCopy", "aPaste"}));
    EXPECT_FALSE(layout.IsDefault("Edit"));
    EXPECT_TRUE(layout.IsDefault("File"));
    layout.SetActions("Nowhere", {"aCopy"});
    EXPECT_EQ(layout.BarNames(), (QStringList{"File", "Edit"}));
    layout.Reset("Edit");
    EXPECT_EQ(layout.Actions("Edit"), (QStringList{"aCopy", "aPaste"}));
}

TEST(ToolBarLayoutTest, StoredBarsComeBackAndResetsSurviveARestart) {
    forgetSettings();
    {
        ToolBarLayout layout = sampleLayout();
        layout.SetActions("Edit", {"aPaste"});
        layout.SetActions("File", {});
        SettingsStore store(SettingsKey);
        ASSERT_TRUE(store.OpenOrCreate());
        ASSERT_TRUE(layout.Save(store));
        EXPECT_EQ(store.Value("ToolBar.Edit"), "aPaste");
    }
    {
        SettingsStore store(SettingsKey);
        ASSERT_TRUE(store.Open());
        ToolBarLayout layout = sampleLayout();
        layout.Load(store);
        EXPECT_EQ(layout.Actions("Edit"), (QStringList{"aPaste"}));
        // A bar the user emptied stays empty.
        EXPECT_TRUE(layout.Actions("File").isEmpty());
        layout.Reset("Edit");
        ASSERT_TRUE(layout.Save(store));
    }
    SettingsStore store(SettingsKey);
    ASSERT_TRUE(store.Open());
    ToolBarLayout layout = sampleLayout();
    layout.Load(store);
    EXPECT_EQ(layout.Actions("Edit"), (QStringList{"aCopy", "aPaste"}));
    EXPECT_TRUE(layout.Actions("File").isEmpty());
}

TEST(ToolBarLayoutTest, UntouchedBarsAreNotWrittenAndStrayNamesAreDropped) {
    forgetSettings();
    SettingsStore store(SettingsKey);
    ASSERT_TRUE(store.OpenOrCreate());
    ASSERT_TRUE(sampleLayout().Save(store));
    bool found = true;
    store.Value("ToolBar.File", &found);
    EXPECT_FALSE(found);
    // A command of an older or newer version is left out, not shown as a hole.
    ASSERT_TRUE(store.SetValue("ToolBar.File", "aSave,aRetired,,aOpen"));
    ToolBarLayout layout = sampleLayout();
    layout.Load(store);
    EXPECT_EQ(layout.Actions("File"), (QStringList{"aSave", "aOpen"}));
}

TEST(ToolBarCustomizeDialogTest, AddsRemovesAndMovesTheSelectedRows) {
    ToolBarCustomizeDialog dialog(sampleLayout(), [](const QString&) { return nullptr; });
    dialog.barBox()->setCurrentIndex(1); // Edit
    EXPECT_EQ(rows(dialog.shownList()), (QStringList{"aCopy", "aPaste"}));
    // A new command goes after the current row of the bar.
    select(dialog.shownList(), {"aCopy"});
    select(dialog.availableList(), {"aDelete", "aOpen"});
    dialog.addSelected();
    EXPECT_EQ(rows(dialog.shownList()), (QStringList{"aCopy", "aOpen", "aDelete", "aPaste"}));
    EXPECT_EQ(rows(dialog.availableList()), (QStringList{"aSave"}));
    select(dialog.shownList(), {"aDelete", "aPaste"});
    dialog.moveSelected(-1);
    EXPECT_EQ(rows(dialog.shownList()), (QStringList{"aCopy", "aDelete", "aPaste", "aOpen"}));
    // A block at the top stays as it is.
    select(dialog.shownList(), {"aCopy", "aDelete"});
    dialog.moveSelected(-1);
    EXPECT_EQ(rows(dialog.shownList()), (QStringList{"aCopy", "aDelete", "aPaste", "aOpen"}));
    dialog.moveSelected(1);
    EXPECT_EQ(rows(dialog.shownList()), (QStringList{"aPaste", "aCopy", "aDelete", "aOpen"}));
    select(dialog.shownList(), {"aCopy"});
    dialog.removeSelected();
    EXPECT_EQ(dialog.Layout().Actions("Edit"), (QStringList{"aPaste", "aDelete", "aOpen"}));
    // The other bar was not touched.
    EXPECT_EQ(dialog.Layout().Actions("File"), (QStringList{"aOpen", "aSave"}));
    dialog.resetBar();
    EXPECT_EQ(dialog.Layout().Actions("Edit"), (QStringList{"aCopy", "aPaste"}));
}

class WindowPartsTest : public ::testing::Test {
protected:
    void SetUp() override {
        forgetSettings();
        RegisterBricks();
        SetMessageHandler([this](MessageKind, const QString& t) { messages << t; });
        window = newWindow();
    }
    void TearDown() override {
        window.reset();
        SetMessageHandler(nullptr);
    }
    std::unique_ptr<TProjectManager> newWindow() {
        auto w = std::make_unique<TProjectManager>();
        w->RegisterStandardBricks();
        w->setDialogRunner([this](QDialog& d) { return runner ? runner(d) : 0; });
        return w;
    }
    QToolBar* bar(TProjectManager& w, const QString& name) {
        return w.findChild<QToolBar*>(name);
    }

    std::unique_ptr<TProjectManager> window;
    std::function<int(QDialog&)> runner;
    QStringList messages;
};

TEST_F(WindowPartsTest, ToolBarMenuCustomizesABarForThisAndTheNextStart) {
    // Owned by the window, as the tool-bar area's own menu is.
    QMenu* menu = window->createPopupMenu();
    ASSERT_FALSE(menu->actions().isEmpty());
    QAction* customize = menu->actions().first();
    EXPECT_EQ(customize->text(), "Customize");
    // The bars and docks can still be shown and hidden from the same menu.
    EXPECT_GT(menu->actions().size(), 2);

    const QStringList before = actionNames(bar(*window, "Edit"));
    ASSERT_EQ(before.first(), "aCopy");
    runner = [](QDialog& d) {
        auto& dialog = dynamic_cast<ToolBarCustomizeDialog&>(d);
        dialog.barBox()->setCurrentText("Edit");
        select(dialog.shownList(), {"aCopy"});
        dialog.removeSelected();
        select(dialog.shownList(), {});
        select(dialog.availableList(), {"aOpenImage"});
        dialog.addSelected();
        return int(QDialog::Accepted);
    };
    customize->trigger();
    QStringList expected = before.mid(1);
    expected << "aOpenImage";
    EXPECT_EQ(actionNames(bar(*window, "Edit")), expected);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();

    delete menu;
    window.reset();
    auto again = newWindow();
    EXPECT_EQ(actionNames(bar(*again, "Edit")), expected);
    EXPECT_EQ(again->toolBarLayout().Actions("Edit"), expected);
}

TEST_F(WindowPartsTest, CancelledCustomizingChangesNothingAndTheZoomBoxStaysLast) {
    const QStringList edit = actionNames(bar(*window, "Edit"));
    runner = [](QDialog& d) {
        auto& dialog = dynamic_cast<ToolBarCustomizeDialog&>(d);
        dialog.barBox()->setCurrentText("Edit");
        select(dialog.shownList(), {"aCopy", "aCut"});
        dialog.removeSelected();
        return int(QDialog::Rejected);
    };
    window->customizeToolBars();
    EXPECT_EQ(actionNames(bar(*window, "Edit")), edit);

    runner = [](QDialog& d) {
        auto& dialog = dynamic_cast<ToolBarCustomizeDialog&>(d);
        dialog.barBox()->setCurrentText("View");
        select(dialog.availableList(), {"aDelete"});
        dialog.addSelected();
        return int(QDialog::Accepted);
    };
    window->customizeToolBars();
    QToolBar* view = bar(*window, "View");
    const QStringList names = actionNames(view);
    EXPECT_EQ(names.mid(names.size() - 3), (QStringList{"aDelete", "aInspector", "aExplorer"}));
    // The added command comes before the zoom box.
    int zoomIndex = -1;
    const QList<QAction*> actions = view->actions();
    for (int i = 0; i < actions.size(); ++i)
        if (view->widgetForAction(actions[i]) == window->zoomBox())
            zoomIndex = i;
    ASSERT_GE(zoomIndex, 0);
    EXPECT_LT(actions.indexOf(window->action("aDelete")), zoomIndex);
}

TEST_F(WindowPartsTest, PaletteListsTheClassesInOrderUnderTheCommonCategory) {
    ASSERT_EQ(window->paletteTabs()->count(), 1);
    EXPECT_EQ(window->paletteTabs()->tabText(0), "Common");
    QStringList names;
    for (QToolButton* b : window->paletteBar()->findChildren<QToolButton*>())
        if (b->objectName().startsWith("palette_"))
            names << b->objectName();
    EXPECT_EQ(names, (QStringList{"palette_TText", "palette_TTextTime", "palette_TTextDate",
                                  "palette_TPictureimg", "palette_TTextBubble"}));
    // Another category gets its own tab, and only its classes show under it.
    EXPECT_TRUE(window->RegisterBrickClass(&QObject::staticMetaObject, "QObject",
                                           QImage(18, 18, QImage::Format_ARGB32), "Extra"));
    ASSERT_EQ(window->paletteTabs()->count(), 2);
    window->paletteTabs()->setCurrentIndex(1);
    QStringList extra;
    for (QToolButton* b : window->paletteBar()->findChildren<QToolButton*>())
        if (b->objectName().startsWith("palette_"))
            extra << b->objectName();
    EXPECT_EQ(extra, (QStringList{"palette_QObject"}));
}

TEST_F(WindowPartsTest, SurfacePopupShowsTheIconsOfTheWindowsActions) {
    QMenu* popup = window->designSurface()->PopupMenu();
    const auto same = [](const QIcon& a, const QIcon& b) {
        return !a.isNull() && a.pixmap(16).toImage() == b.pixmap(16).toImage();
    };
    QList<QAction*> all = popup->actions();
    for (QAction* a : popup->actions())
        if (a->menu())
            all += a->menu()->actions();
    QStringList withIcons;
    for (QAction* a : all)
        if (!a->icon().isNull())
            withIcons << a->objectName();
    withIcons.sort();
    EXPECT_EQ(withIcons, (QStringList{"odmBringtoFront", "odmCopy", "odmCut", "odmDelete",
                                      "odmPaste", "odmSenttoBack"}));
    const QList<QPair<QString, QString>> pairs = {{"odmCopy", "aCopy"},
                                                  {"odmCut", "aCut"},
                                                  {"odmPaste", "aPaste"},
                                                  {"odmDelete", "aDelete"},
                                                  {"odmBringtoFront", "aBringToFromt"},
                                                  {"odmSenttoBack", "aSendToBack"}};
    for (const auto& [item, action] : pairs)
        for (QAction* a : all)
            if (a->objectName() == item) {
                EXPECT_TRUE(same(a->icon(), window->action(action)->icon())) << item.toStdString();
            }
}

TEST_F(WindowPartsTest, SurfaceWritesWhereItWasShownWhenItCloses) {
    window->setGeometry(60, 70, 820, 640);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QWidget* view = window->designer()->parentWidget();
    ASSERT_NE(view, nullptr);
    const QRect shown(view->mapToGlobal(QPoint(0, 0)), view->size());
    ASSERT_GT(shown.width(), 100);
    window.reset();
    EXPECT_EQ(LoadFormBounds("DesignerBounds"), shown);
    // Stored as Left,Top,Right,Bottom.
    SettingsStore store(SettingsKey);
    ASSERT_TRUE(store.Open());
    EXPECT_EQ(store.Value("DesignerBounds"), QStringLiteral("%1,%2,%3,%4")
                                                 .arg(shown.left())
                                                 .arg(shown.top())
                                                 .arg(shown.left() + shown.width())
                                                 .arg(shown.top() + shown.height()));
}

TEST_F(WindowPartsTest, HandleFitsTheSelectionAgainWhenTheWindowIsActivated) {
    QTemporaryDir dir;
    window->setGeometry(50, 50, 900, 700);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QString photo = dir.filePath("p.jpg");
    ASSERT_TRUE(makeTestPhoto(300, 200).save(photo, "JPG", 90));
    ASSERT_TRUE(window->OpenImage(photo));
    QWidget* brick = window->designSurface()->CreateBrick("TText", QPoint(20, 30));
    ASSERT_NE(brick, nullptr);
    window->designSurface()->Select(brick);
    TStretchHandle* handle = window->designSurface()->StretchHandle();
    ASSERT_TRUE(handle->isVisible());
    const QRect framed = handle->geometry();
    // Something behind the window's back moved the brick.
    brick->move(brick->x() + 40, brick->y() + 25);
    ASSERT_EQ(handle->geometry(), framed);
    QEvent activation(QEvent::ActivationChange);
    window->activateWindow();
    const bool active = QTest::qWaitForWindowActive(window.get());
    QApplication::sendEvent(window.get(), &activation);
    if (!active || !window->isActiveWindow())
        GTEST_SKIP() << "the platform does not activate windows";
    EXPECT_EQ(handle->geometry(), brick->geometry().adjusted(-2, -2, 3, 3));
    EXPECT_EQ(handle->geometry().topLeft(), framed.topLeft() + QPoint(40, 25));
}

TEST_F(WindowPartsTest, HiddenExplorerHoldsNoEntriesAndReadsItsFolderWhenShownAgain) {
    QTemporaryDir dir;
    for (const char* name : {"a.jpg", "b.jpg"})
        ASSERT_TRUE(makeTestPhoto(40, 30).save(dir.filePath(name), "JPG", 90));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    TfrmBottom* explorer = window->explorer();
    ASSERT_TRUE(explorer->isVisible());
    ASSERT_TRUE(explorer->ListView->ShowFolder(dir.path()));
    TFolderModel* model = explorer->ListView->Model();
    ASSERT_EQ(model->rowCount(), 2);
    explorer->hide();
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_TRUE(model->Thumbnails().isEmpty());
    EXPECT_EQ(model->CurrentFolder(), QDir::cleanPath(dir.path()));
    // A file that came meanwhile is there when it is shown again.
    ASSERT_TRUE(makeTestPhoto(40, 30).save(dir.filePath("c.jpg"), "JPG", 90));
    explorer->show();
    EXPECT_EQ(model->rowCount(), 3);
    EXPECT_FALSE(model->Released());
}

TEST(FirstInspectorBoundsTest, RightAlignedNearTheBottomAndKeptOnTheScreen) {
    // Frame 100,50 1000x700: left 100 + 1000 - 229, top 50 + 700 - 24 - 3.
    EXPECT_EQ(FirstInspectorBounds({100, 50, 1000, 700}, 229, 24, {0, 0, 1920, 1080}),
              QRect(871, 723, 229, 250));
    // On a lower screen the same place would hang below it: lifted to end at its bottom.
    EXPECT_EQ(FirstInspectorBounds({100, 50, 1000, 700}, 229, 24, {0, 0, 1280, 800}),
              QRect(871, 550, 229, 250));
    // A window on the second screen keeps its inspector there.
    EXPECT_EQ(FirstInspectorBounds({2000, 100, 800, 600}, 229, 24, {1920, 0, 1920, 1080}),
              QRect(2571, 673, 229, 250));
    // A window partly beyond the screen's right edge: the inspector stays on the screen.
    EXPECT_EQ(FirstInspectorBounds({1200, 0, 800, 600}, 229, 24, {0, 0, 1280, 800}),
              QRect(1051, 550, 229, 250));
    // No screen known: the rule alone.
    EXPECT_EQ(FirstInspectorBounds({0, 0, 300, 200}, 229, 24, {}), QRect(71, 173, 229, 250));
}

TEST_F(WindowPartsTest, ChoosingAComponentInTheInspectorIsOneUndoStep) {
    QTemporaryDir dir;
    const QString photo = dir.filePath("p.jpg");
    ASSERT_TRUE(makeTestPhoto(300, 200).save(photo, "JPG", 90));
    ASSERT_TRUE(window->OpenImage(photo));
    DesignSurface& surface = *window->designSurface();
    QWidget* first = surface.CreateBrick("TText", QPoint(20, 30));
    QWidget* date = surface.CreateBrick("TTextDate", QPoint(60, 30));
    QWidget* picture = surface.CreateBrick("TPictureimg", QPoint(100, 80));
    ASSERT_TRUE(first && date && picture);
    auto* pointing = new TPointingText(window->designer()->Panel1);
    pointing->setName("Pointing1");
    window->designer()->AddComponent(pointing);

    TObjectInspector& inspector = *window->inspector();
    inspector.Inspect(pointing);
    TInspectorModel& model = inspector.Model();
    const int target = model.FindRow("Target");
    ASSERT_GE(target, 0);
    // The text bricks by their names (the picture is none), the pointing one itself among them.
    EXPECT_EQ(model.DisplayList(target),
              QStringList({"(None)", first->objectName(), date->objectName(), "Pointing1"}));

    QUndoStack* stack = surface.UndoStack();
    const int steps = stack->count();
    inspector.SetCurrentRow(target);
    inspector.WriteCurrent(date->objectName());
    EXPECT_EQ(pointing->Target(), date);
    EXPECT_EQ(stack->count(), steps + 1);
    EXPECT_TRUE(window->designer()->PatternModified());
    inspector.WriteCurrent(first->objectName());
    EXPECT_EQ(pointing->Target(), first);
    // The same choice again is no step.
    inspector.WriteCurrent(first->objectName());
    EXPECT_EQ(stack->count(), steps + 2);
    // A picture is no text brick: refused, nothing changed, no step.
    inspector.WriteCurrent(picture->objectName());
    EXPECT_EQ(pointing->Target(), first);
    EXPECT_EQ(stack->count(), steps + 2);
    EXPECT_FALSE(messages.isEmpty());

    window->action("aUndo")->trigger();
    EXPECT_EQ(pointing->Target(), date);
    window->action("aUndo")->trigger();
    EXPECT_EQ(pointing->Target(), nullptr);
    EXPECT_EQ(model.DisplayText(model.FindRow("Target")), "(None)");
    window->action("aRedo")->trigger();
    EXPECT_EQ(pointing->Target(), date);
    EXPECT_EQ(model.DisplayText(model.FindRow("Target")), "(" + date->objectName() + ")");

    inspector.SetCurrentRow(model.FindRow("Target"));
    inspector.WriteCurrent("(None)");
    EXPECT_EQ(pointing->Target(), nullptr);
    window->action("aUndo")->trigger();
    EXPECT_EQ(pointing->Target(), date);
}

#include "WindowPartsTest.moc"
