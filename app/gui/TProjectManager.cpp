#include "app/gui/TProjectManager.h"

#include "app/gui/ActionIcons.h"
#include "app/gui/PaletteGlyphs.h"
#include "app/gui/SurfaceActions.h"
#include "app/gui/SurfaceUndo.h"
#include "app/gui/ToolBarCustomizeDialog.h"
#include "app/gui/ToolBarLayout.h"
#include "app/gui/ZoomSteps.h"
#include "batch/core/TBatchJob.h"
#include "batch/explorer/TfrmBottom.h"
#include "batch/window/TBatchPreview.h"
#include "batch/window/TfrmGroup.h"
#include "bricks/BrickFields.h"
#include "bricks/BrickPlacement.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/dialogs/BrickSnapshot.h"
#include "designer/dialogs/ComponentEditors.h"
#include "designer/dialogs/PropertyEditors.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "designer/surface/DesignSurface.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/core/BitmapOps.h"
#include "imaging/core/PhotoFormats.h"
#include "imaging/dialogs/TfrmAdjustments.h"
#include "imaging/dialogs/TfrmResize.h"
#include "imaging/render/RenderAndSave.h"
#include "inspector/TObjectInspector.h"
#include "options/HelpAbout.h"
#include "options/TfrmOptions.h"
#include "options/TfrmTip.h"
#include "patterns/file/PatternFile.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/FilePaths.h"
#include "platform/Messages.h"
#include "platform/SettingsStore.h"
#include "platform/Rounding.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QWidgetAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyle>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>

namespace {
const QString kBoundsName = QStringLiteral("ProjectManagerBounds");
const QString kPatternFilter = QStringLiteral("Patterns (*.xml)");

// The hint of a palette button, by class name.
QString PaletteHint(const QString& className) {
    if (className == QLatin1String("TText"))
        return QStringLiteral("Custom Text");
    if (className == QLatin1String("TTextTime"))
        return QStringLiteral("Time from EXIF");
    if (className == QLatin1String("TTextDate"))
        return QStringLiteral("Date from EXIF");
    if (className == QLatin1String("TTextBubble"))
        return QStringLiteral("Text Bubble");
    if (className == QLatin1String("TPictureimg"))
        return QStringLiteral("Custom Image");
    return className;
}

// Save Image and Save Pattern ask the same before writing over a file.
bool ReplaceConfirmed(const QString& path) {
    return !QFileInfo::exists(path) ||
           AskQuestion(QStringLiteral("%1 already exists.\nDo you want to replace it?")
                           .arg(QDir::toNativeSeparators(path)),
                       QuestionButtons::YesNo) == Answer::Yes;
}

// Runs a save; a failure is shown and counts as a save that did not happen.
template <class Save> bool SavedOrReported(Save save) {
    try {
        return save();
    } catch (const Exception& e) {
        ShowError(e.message());
    } catch (const std::bad_alloc&) {
        ShowError(QStringLiteral("Not enough memory."));
    } catch (const std::exception& e) {
        ShowError(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

// The override cursor for the length of an operation, restored when it throws as well.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};
} // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine out;
    bool switches = true;
    for (const QString& a : arguments) {
        if (switches && a == QLatin1String("--")) {
            switches = false;
            continue;
        }
        const bool groupSwitch = a.compare(QLatin1String("/group"), Qt::CaseInsensitive) == 0 ||
                                 a.compare(QLatin1String("--group"), Qt::CaseInsensitive) == 0;
        if (switches && (a == QLatin1String("--help") || a == QLatin1String("-h")))
            out.help = true;
        else if (switches && (a == QLatin1String("--version") || a == QLatin1String("-v")))
            out.version = true;
        // A file that happens to be called "/group" is still a file.
        else if (switches && groupSwitch && !QFileInfo::exists(a))
            out.group = true;
        else if (out.photo.isEmpty())
            out.photo = a;
        else if (out.pattern.isEmpty())
            out.pattern = a;
        else
            out.unused.append(a);
    }
    return out;
}

QString CommandLineHelp() {
    return QStringLiteral(
        "Usage: captiomark [OPTION]... [PHOTO [PATTERN.xml]]\n"
        "Lay captions, dates and logos over a photo and burn them into it.\n"
        "\n"
        "  PHOTO            the photo to open (JPEG, GIF, BMP)\n"
        "  PATTERN.xml      a pattern to lay over it\n"
        "  --group, /group  open the batch processing window\n"
        "  -h, --help       print this help and exit\n"
        "  -v, --version    print the version and exit\n"
        "  --               what follows is a file, whatever its name\n"
        "\n"
        "For work without a window, see captiomark-cli --help.\n");
}

QString VersionText(const QString& version) {
    const QStringList parts = version.split(QLatin1Char('.'));
    if (version.isEmpty() || parts.size() < 2)
        return version;
    const auto part = [&](int i) { return i < parts.size() ? parts[i].toInt() : 0; };
    QString text = QStringLiteral("%1.%2").arg(part(0)).arg(part(1));
    if (part(3) != 0)
        text += QStringLiteral(".%1.%2").arg(part(2)).arg(part(3));
    else if (part(2) != 0)
        text += QStringLiteral(".%1").arg(part(2));
    return text;
}

TProjectManager::TProjectManager(QWidget* parent)
    : QMainWindow(parent), m_designer(new TDesigner), m_scroll(new QScrollArea(this)),
      m_surface(new SurfaceActions(this)) {
    setObjectName(QStringLiteral("ProjectManager"));
    LoadSettingsOrReport();
    m_appTitle = QApplication::applicationName();
    const QString version = VersionText(QApplication::applicationVersion());
    if (!version.isEmpty())
        m_appTitle += QLatin1Char(' ') + version;
    setWindowTitle(m_appTitle);

    m_scroll->setWidget(m_designer);
    m_scroll->setWidgetResizable(false);
    m_scroll->setBackgroundRole(QPalette::Dark);
    // Delete and the arrow keys reach the surface's filter only through the designer's widgets.
    m_designer->setFocusPolicy(Qt::ClickFocus);
    setCentralWidget(m_scroll);

    buildActions();
    buildMenus();
    buildToolBars();
    connect(m_surface, &SurfaceActions::stateChanged, this, &TProjectManager::updateActions);
    buildSurface();
    buildInspector();
    buildExplorer();
    // A pattern's grid is the surface's; the rest of its layout is kept for the next write.
    SetPatternLayoutHooks(
        [this] {
            PatternLayout layout = m_patternLayout;
            if (m_inspector) {
                const QRect b = m_inspector->WindowBounds();
                layout.Inspector = {b.x(), b.y(), b.width(), b.height()};
                layout.ColWidth = m_inspector->ColWidth();
                layout.Sort = m_inspector->Sorted();
                layout.AlwaysOnTop = m_inspector->AlwaysOnTop();
            }
            layout.GridX = m_designer->GridX();
            layout.GridY = m_designer->GridY();
            layout.IsGrid = m_designer->IsGrid();
            return layout;
        },
        [this](const PatternLayout& layout) {
            m_patternLayout = layout;
            if (m_inspector) {
                // The inspector as the pattern left it: on top (floating) or docked, its
                // bounds, name column and order. Sizes too small to use are left alone.
                m_inspector->SetAlwaysOnTop(layout.AlwaysOnTop);
                const PatternWindowBounds& b = layout.Inspector;
                if (m_inspector->isFloating() && b.Width >= m_inspector->minimumWidth() &&
                    b.Height >= 100) {
                    m_inspector->SetWindowBounds(QRect(b.Left, b.Top, b.Width, b.Height));
                    // Its first showing keeps them.
                    m_inspector->setProperty("placed", true);
                }
                if (layout.ColWidth >= 16)
                    m_inspector->SetColWidth(layout.ColWidth);
                m_inspector->SetSorted(layout.Sort);
            }
            m_designer->SetGridX(layout.GridX);
            m_designer->SetGridY(layout.GridY);
            m_designer->SetIsGrid(layout.IsGrid);
        });
    // Actions follow the surface's state after every click and key, as an idle update would.
    qApp->installEventFilter(this);

    const QRect bounds = LoadFormBounds(kBoundsName);
    if (bounds.isValid())
        setGeometry(bounds);
    else
        resize(1000, 720);
    updateActions();
}

TProjectManager::~TProjectManager() {
    qApp->removeEventFilter(this);
    SetPatternLayoutHooks({}, {});
    SaveFormBounds(kBoundsName, geometry());
    if (m_explorer)
        m_explorer->SaveBounds();
    // The surface's commands hold bricks off the picture and its handle: they go while the
    // designer still stands.
    m_surface->connectTo(nullptr);
    m_inspector->Model().SetWriter(nullptr);
    delete m_designSurface;
    m_designSurface = nullptr;
}

void TProjectManager::buildSurface() {
    m_designSurface = new DesignSurface(*m_designer, this);
    // The popup's image indexes into the window's action images: 3 cut, 4 copy, 5 paste,
    // 6 delete, 7 to front, 8 to back.
    QList<QIcon> images(9);
    const QList<QPair<int, const char*>> imageActions = {
        {3, "aCut"},    {4, "aCopy"},         {5, "aPaste"},
        {6, "aDelete"}, {7, "aBringToFromt"}, {8, "aSendToBack"}};
    for (const auto& [index, name] : imageActions)
        if (QAction* a = action(QLatin1String(name)))
            images[index] = a->icon();
    m_designSurface->SetPopupImages(images);
    m_surface->connectTo(m_designSurface);
    connect(m_designSurface, &DesignSurface::pendingClassChanged, this,
            &TProjectManager::surfacePendingChanged);
    connect(m_designSurface, &DesignSurface::selectionChanged, this,
            &TProjectManager::selectionChanged);
    connect(m_designSurface, &DesignSurface::inspectorWanted, this,
            &TProjectManager::showInspector);
    // Undoing a turn or resize puts the other photo back: shown whole again.
    connect(m_designSurface, &DesignSurface::photoRestored, this, [this] {
        fitToPage();
        updateActions();
    });
    connect(m_designSurface, &DesignSurface::paletteClassRegistered, this,
            [this](const QString& className, const QString& category) {
                static const QList<QPair<const QMetaObject*, PaletteGlyph>> known = {
                    {&TText::staticMetaObject, PaletteGlyph::Text},
                    {&TTextDate::staticMetaObject, PaletteGlyph::Date},
                    {&TTextTime::staticMetaObject, PaletteGlyph::Time},
                    {&TTextBubble::staticMetaObject, PaletteGlyph::Bubble},
                    {&TPictureimg::staticMetaObject, PaletteGlyph::Picture}};
                for (const auto& [meta, glyph] : known)
                    if (className == QLatin1String(meta->className()))
                        RegisterBrickClass(meta, className, DrawPaletteGlyph(glyph), category);
            });
    // Save Pattern follows the undo stack's clean state.
    connect(m_designSurface->UndoStack(), &QUndoStack::cleanChanged, this,
            &TProjectManager::updateActions);

    m_propertyEditors = std::make_unique<TPropertyEditorRegistry>();
    RegisterPropertyEditors(*m_propertyEditors);
    m_brickEditors = std::make_unique<TComponentEditorRegistry>();
    RegisterBrickEditors(*m_brickEditors);
    // One Ok of a brick's dialog is one undo step.
    m_brickEditors->SetOnCommit(
        [this](QObject* brick, const BrickSnapshot& before, const BrickSnapshot& after) {
            if (before == after)
                return; // Ok without a change leaves the pattern unmodified
            m_designSurface->UndoStack()->push(
                new BrickEditCommand(*m_designSurface, brick, before, after));
        });
    for (const QString& className : DesignSurface::PaletteClasses()) {
        TOComponentEditor* editor = m_brickEditors->Find(className);
        if (!editor)
            continue;
        ComponentEditorEntry entry;
        entry.className = className;
        entry.editsOnCreate = editor->EditsOnCreate;
        entry.editsOnRequest = editor->EditsOnRequest;
        entry.edit = [this, editor](QWidget* brick) {
            const bool ok = editor->Edit(brick);
            m_designSurface->RefreshSelection();
            inspect(m_designSurface->Inspected());
            return ok;
        };
        m_designSurface->RegisterComponentEditor(entry);
    }
}

void TProjectManager::buildInspector() {
    m_inspector = new TObjectInspector(this);
    m_inspector->setWindowTitle(QStringLiteral("Inspector"));
    addDockWidget(Qt::RightDockWidgetArea, m_inspector);
    m_inspector->setFloating(true);
    m_inspector->hide();
    TInspectorModel& model = m_inspector->Model();
    model.SetHiddenProperties(StandardHiddenProperties());
    model.SetEditors(m_propertyEditors.get());
    m_inspector->SetDesigner(m_designer);
    m_writer = std::make_unique<SurfacePropertyWriter>(
        *m_designSurface, [this] { return m_inspector->Model().Components(); });
    model.SetWriter(m_writer.get());
    m_inspector->SetObjectChosen([this](QObject* object) {
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget && m_designSurface->IsBrick(widget))
            m_designSurface->Select(widget);
        else
            m_designSurface->ClearSelection();
    });
    connect(m_designSurface, &DesignSurface::inspectRequested, this, &TProjectManager::inspect);
    // Undo and redo change values the grid shows.
    connect(m_designSurface->UndoStack(), &QUndoStack::indexChanged, this,
            [this] { inspect(m_designSurface->Inspected()); });
    inspect(m_designer);
}

void TProjectManager::inspect(QObject* object) {
    if (!m_inspector)
        return;
    if (!object)
        object = m_designer;
    // A brick taken off the picture by a command is no longer shown; a bubble's tail marker is
    // shown with its own rows.
    if (auto* widget = qobject_cast<QWidget*>(object);
        widget && widget != m_designer && !m_designSurface->IsBrick(widget))
        object = m_designer;
    // Showing the same object again reads its values and the object list anew, the row and the
    // keyboard staying where they are.
    if (object == m_inspector->Model().Object())
        m_inspector->Refresh();
    else
        m_inspector->Inspect(object);
}

void TProjectManager::selectionChanged() {
    // Delete and the arrows go to the surface while a brick is selected.
    QWidget* focus = QApplication::focusWidget();
    if (m_surface->hasSelection() && !(focus && m_inspector->isAncestorOf(focus)) &&
        !(focus && (focus == m_designer || m_designer->isAncestorOf(focus))))
        m_designer->setFocus(Qt::OtherFocusReason);
    updateActions();
}

void TProjectManager::buildExplorer() {
    m_explorer = new TfrmBottom(this);
    m_explorer->setWindowTitle(QStringLiteral("Explorer"));
    addDockWidget(Qt::BottomDockWidgetArea, m_explorer);
    // Shown below the picture from the start, as the place photos are picked from.
    m_explorer->RestoreBounds();
    connect(m_explorer, &TfrmBottom::openImage, this, [this](const QString& path) {
        openImageAsking(path);
        updateActions();
    });
    connect(m_explorer, &TfrmBottom::applyPatternToFiles, this,
            &TProjectManager::applyPatternToFiles);
    connect(m_explorer, &TfrmBottom::addFilesToGroup, this, &TProjectManager::addFilesToGroup);
}

void TProjectManager::surfacePendingChanged(const QString& className) {
    // The surface took the pending class (a brick was placed): the palette goes back to the
    // arrow.
    if (className.isEmpty() && m_pending)
        arrowClicked();
}

QRect FirstInspectorBounds(const QRect& mainFrame, int inspectorWidth, int captionHeight,
                           const QRect& screen) {
    QRect r(mainFrame.left() + mainFrame.width() - inspectorWidth,
            mainFrame.top() + mainFrame.height() - captionHeight - 3, inspectorWidth, 250);
    if (screen.isEmpty())
        return r;
    r.setWidth(std::min(r.width(), screen.width()));
    r.setHeight(std::min(r.height(), screen.height()));
    r.moveLeft(std::clamp(r.left(), screen.left(), screen.left() + screen.width() - r.width()));
    r.moveTop(std::clamp(r.top(), screen.top(), screen.top() + screen.height() - r.height()));
    return r;
}

void TProjectManager::showInspector() {
    // First showing: 250 high at the window's right edge, its top a caption bar and 3 pixels
    // above the window's bottom; moved onto the screen the window is on where that would hang
    // off it.
    if (!m_inspector->isVisible() && m_inspector->isFloating() &&
        !m_inspector->property("placed").toBool()) {
        m_inspector->setProperty("placed", true);
        m_inspector->setGeometry(FirstInspectorBounds(
            frameGeometry(), m_inspector->width(), style()->pixelMetric(QStyle::PM_TitleBarHeight),
            screen() ? screen()->availableGeometry() : QRect()));
    }
    m_inspector->show();
    m_inspector->raise();
}

void TProjectManager::toggleExplorer() {
    if (!m_explorer->isVisible()) {
        m_explorer->show();
        m_explorer->raise();
    } else {
        m_explorer->Fold();
    }
}

int TProjectManager::runDialog(QDialog& dialog) {
    if (m_runDialog)
        return m_runDialog(dialog);
    return dialog.exec();
}

void TProjectManager::showOptions() {
    TfrmOptions dialog(this);
    runDialog(dialog);
}

void TProjectManager::showTip() {
    TfrmTip dialog(this);
    runDialog(dialog);
}

void TProjectManager::visitHomePage() {
    VisitHomePage(this);
}

void TProjectManager::applyPatternToFiles(const QStringList& files) {
    if (files.isEmpty())
        return;
    // The question is the preview: every photo as it will be written, then Apply or Cancel.
    {
        PreviewOptions look;
        look.applyPattern = true;
        look.autoRotate = Settings().AutoRotate;
        QList<TBatchPreview::Entry> entries;
        for (int i = 0; i < files.size(); ++i)
            entries.append({files[i], FileNameOf(files[i]), i + 1});
        TBatchPreview preview(entries, BrickDataOf(m_designer->Bricks()), look, this);
        preview.setWindowTitle(QStringLiteral("Apply pattern to Images"));
        preview.AskToProceed(
            files.size() == 1
                ? QStringLiteral("Apply the pattern to \"%1\"? The file is rewritten in place; "
                                 "its original is kept as \"%2.bak\".")
                      .arg(QDir::toNativeSeparators(files.constFirst()),
                           FileNameOf(files.constFirst()))
                : QStringLiteral("Apply the pattern to %1 images? Each file is rewritten in "
                                 "place; its original is kept beside it with \".bak\" added to "
                                 "its name.")
                      .arg(files.size()),
            QStringLiteral("Apply"));
        if (runDialog(preview) != QDialog::Accepted)
            return;
    }
    QProgressDialog progress(QStringLiteral("Applying the pattern..."), QStringLiteral("Cancel"), 0,
                             int(files.size()), this);
    progress.setWindowTitle(QStringLiteral("Apply pattern to Images"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    // The surface's own photo comes back afterwards, also when a file fails; so do the date
    // and time bricks, which show each file's date meanwhile.
    TSurfaceRestorer restore(*m_designer);
    struct DatesBack {
        QList<QPair<QPointer<QWidget>, BrickSnapshot>> bricks;
        ~DatesBack() {
            for (const auto& [brick, snapshot] : bricks)
                if (brick)
                    RestoreBrickSnapshot(brick, snapshot);
        }
    } datesBack;
    for (QWidget* brick : m_designer->Bricks())
        if (qobject_cast<TTextDate*>(brick) || qobject_cast<TTextTime*>(brick))
            datesBack.bricks.append({brick, TakeBrickSnapshot(brick)});
    // {Counter} numbers the files in the order given, as the preview showed.
    struct CountersBack {
        TDesigner& designer;
        ~CountersBack() { designer.BatchCounters.clear(); }
    } countersBack{*m_designer};
    m_designer->BatchCounters.clear();
    for (int i = 0; i < files.size(); ++i)
        m_designer->BatchCounters.insert(files[i], i + 1);
    const bool showsDate = PatternShowsDate(m_designer->Bricks());
    BusyCursor busy;
    // Notices (a file re-encoded after all, a damaged block carried as it was) are shown
    // together once the run ends, so the progress is not held up by a box per file.
    QStringList notices;
    RenderOptions options;
    options.proportional = false;
    // Each file's own date, or the stand-in the settings choose, and its own field values: the
    // same as a batch and as the preview.
    options.perFileDates = true;
    options.onNotice = [&notices](const QString& text) { notices.append(text); };
    for (int i = 0; i < files.size(); ++i) {
        if (progress.wasCanceled())
            break;
        progress.setLabelText(QDir::toNativeSeparators(files[i]));
        progress.setValue(i);
        try {
            m_designer->realPicture = QImage();
            m_designer->LoadPhoto(files[i]);
            TakePhotoDates(*m_designer, files[i]);
            if (showsDate && !m_designer->Fields.dated.hasDate) {
                notices.append(m_designer->Fields.dated.notice);
                if (m_designer->Fields.dated.skip)
                    continue;
            }
            RenderAndSave(*m_designer, files[i], options);
        } catch (const Exception& e) {
            ShowError(e.message());
            break;
        }
    }
    progress.setValue(int(files.size()));
    if (!notices.isEmpty())
        ShowInformation(notices.join(QLatin1Char('\n')));
}

void TProjectManager::addFilesToGroup(const QStringList& paths) {
    showBatch();
    m_group->AddFiles(paths);
}

QAction* TProjectManager::makeAction(const char* name, const QString& text, const char* category,
                                     const QKeySequence& shortcut, std::function<void()> run) {
    auto* a = new QAction(text, this);
    a->setObjectName(QLatin1String(name));
    a->setProperty("category", QLatin1String(category));
    if (!shortcut.isEmpty())
        a->setShortcut(shortcut);
    if (run)
        connect(a, &QAction::triggered, this, [this, run] {
            run();
            updateActions();
        });
    addAction(a);
    m_actions.append(a);
    return a;
}

void TProjectManager::buildActions() {
    const QKeySequence none;
    // However the band comes or goes (the menu, undo, a pattern read), the taller or shorter
    // picture is fitted and centred again.
    connect(m_designer, &TDesigner::bandChanged, this, [this] {
        refit(); // fitted to the window, the band included
        centrePreview();
        updateActions();
    });
    // Ctrl+O opens a pattern, as it always has; the photo takes Shift with it.
    makeAction("aOpenImage", QStringLiteral("&Open Image"), "Image",
               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), [this] { openImageCommand(); });
    makeAction("aSaveImage", QStringLiteral("&Save Image"), "Image", none, [this] {
        saveImage(false);
    })->setVisible(false);
    makeAction("aSaveAs", QStringLiteral("Sa&ve Image As"), "Image", none,
               [this] { saveImage(true); });
    // Starts disabled and has no update rule of its own.
    makeAction("aNew", QStringLiteral("&New Pattern"), "Pattern",
               QKeySequence(Qt::CTRL | Qt::Key_N), [this] { newPattern(); });
    makeAction("aOpen", QStringLiteral("Open P&attern"), "Pattern",
               QKeySequence(Qt::CTRL | Qt::Key_O), [this] { openPattern(); });
    makeAction("aSave", QStringLiteral("Save Pa&ttern"), "Pattern",
               QKeySequence(Qt::CTRL | Qt::Key_S), [this] { savePattern(); });
    // "A" is Open Pattern's key in the File menu already; a second one would only cycle.
    makeAction("aSavePatternAs", QStringLiteral("Save Patte&rn As\u2026"), "Pattern",
               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { savePatternAs(); });
    makeAction("aClose", QStringLiteral("&Close Pattern"), "Pattern", none,
               [this] { closePattern(); });
    makeAction("aGroup", QStringLiteral("&Batch processing"), "Pattern", none,
               [this] { showBatch(); });
    // Stays disabled until the options dialog exists.
    makeAction("aOptions", QStringLiteral("O&ptions"), "Image", none, [this] { showOptions(); });
    makeAction("aExit", QStringLiteral("&Exit"), "Image", none, [this] { close(); });

    // The clipboard's keys of every program today, shown in the menu, and those of old.
    makeAction("aCopy", QStringLiteral("&Copy"), "Edit", QKeySequence(Qt::CTRL | Qt::Key_Insert),
               [this] { m_surface->copy(); })
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    makeAction("aCut", QStringLiteral("C&ut"), "Edit", QKeySequence(Qt::SHIFT | Qt::Key_Delete),
               [this] { m_surface->cut(); })
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    makeAction("aPaste", QStringLiteral("&Paste"), "Edit", QKeySequence(Qt::SHIFT | Qt::Key_Insert),
               [this] { m_surface->paste(); })
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    makeAction("aDuplicate", QStringLiteral("Dupl&icate"), "Edit",
               QKeySequence(Qt::CTRL | Qt::Key_D), [this] { m_surface->duplicate(); });
    makeAction("aSelectAll", QStringLiteral("Select &All"), "Edit",
               QKeySequence(Qt::CTRL | Qt::Key_A), [this] { m_surface->selectAll(); });
    makeAction("aDelete", QStringLiteral("&Delete"), "Edit",
               QKeySequence(Qt::CTRL | Qt::Key_Delete), [this] { m_surface->deleteSelection(); });
    makeAction("aBringToFromt", QStringLiteral("&Bring To Front"), "Edit",
               QKeySequence(Qt::CTRL | Qt::Key_B), [this] { m_surface->bringToFront(); });
    // Ctrl+S belongs to Save Pattern; two actions on one key would leave both dead.
    makeAction("aSendToBack", QStringLiteral("&Send To Back"), "Edit",
               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B), [this] { m_surface->sendToBack(); });
    makeAction("aUndo", QStringLiteral("U&ndo"), "Edit", QKeySequence(Qt::CTRL | Qt::Key_Z),
               [this] { m_surface->undo(); });
    makeAction("aRedo", QStringLiteral("R&edo"), "Edit",
               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] { m_surface->redo(); });
    action(QStringLiteral("aRedo"))
        ->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    using A = SurfaceActions::Alignment;
    makeAction("aAlignLeft", QStringLiteral("Align Left Edges"), "Align", none,
               [this] { m_surface->align(A::Left); });
    makeAction("aAlignHCentre", QStringLiteral("Align Horizontal Centres"), "Align", none,
               [this] { m_surface->align(A::HorizontalCentre); });
    makeAction("aAlignRight", QStringLiteral("Align Right Edges"), "Align", none,
               [this] { m_surface->align(A::Right); });
    makeAction("aAlignTop", QStringLiteral("Align Tops"), "Align", none,
               [this] { m_surface->align(A::Top); });
    makeAction("aAlignVCentre", QStringLiteral("Align Vertical Centres"), "Align", none,
               [this] { m_surface->align(A::VerticalCentre); });
    makeAction("aAlignBottom", QStringLiteral("Align Bottoms"), "Align", none,
               [this] { m_surface->align(A::Bottom); });
    makeAction("aAnchorCorner", QStringLiteral("Anchor to Corner"), "Align", none, [this] {
        m_surface->anchorToCorner();
    })->setCheckable(true);

    makeAction("aResize", QStringLiteral("&Resize"), "Image", none, [this] { showResize(); });
    makeAction("aRotateCount", QStringLiteral("R&otate 90° Countclockwise"), "Image", none,
               [this] { rotate(-90); });
    makeAction("aRotateClock", QStringLiteral("Ro&tate 90° Clockwise"), "Image", none,
               [this] { rotate(90); });
    makeAction("aEffects", QStringLiteral("Effects"), "Image", none, [this] { showEffects(); });
    // A band below the photo for the captions, as one step of the pattern's history.
    makeAction("aCaptionBand", QStringLiteral("Caption &Band"), "Pattern", none, [this] {
        m_designSurface->SetProperty(m_designer, QStringLiteral("CaptionBand"),
                                     m_designer->Band.on ? QString()
                                                         : QStringLiteral("Bottom,120,clWhite"));
    })->setCheckable(true);
    action(QStringLiteral("aCaptionBand"))->setIconVisibleInMenu(false);
    makeAction("aZoomin", QStringLiteral("&Zoom In"), "View", QKeySequence(Qt::CTRL | Qt::Key_Equal),
               [this] { zoomIn(); })
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::CTRL | Qt::Key_Plus)});
    makeAction("aZoomout", QStringLiteral("Z&oom Out"), "View", QKeySequence(Qt::CTRL | Qt::Key_Minus),
               [this] { zoomOut(); });
    makeAction("aFittopage", QStringLiteral("&Fit to Page"), "View", none, [this] { fitToPage(); });
    makeAction("aActualsize", QStringLiteral("&Actual Size"), "View",
               QKeySequence(Qt::CTRL | Qt::Key_0), [this] { actualSize(); });
    // The grid is the pattern's: snapping and its step are edits of it, with an undo step; only
    // whether it is drawn belongs to the view.
    makeAction("aShowGrid", QStringLiteral("Show &Grid"), "View", none,
               [this] { m_designer->SetShowGrid(action(QStringLiteral("aShowGrid"))->isChecked()); })
        ->setCheckable(true);
    makeAction("aSnapToGrid", QStringLiteral("&Snap to Grid"), "View", none, [this] {
        setGrid(action(QStringLiteral("aSnapToGrid"))->isChecked(), m_designer->GridX());
    })->setCheckable(true);
    // In the menu the two switches show a check mark, not an icon that hides their state.
    for (const char* n : {"aShowGrid", "aSnapToGrid"})
        action(QLatin1String(n))->setIconVisibleInMenu(false);
    makeAction("aInspector", QStringLiteral("Object &Inspector"), "View", QKeySequence(Qt::Key_F11),
               [this] { showInspector(); });
    makeAction("aExplorer", QStringLiteral("E&xplorer"), "View", none,
               [this] { toggleExplorer(); });

    // The step, in the View menu beside the two switches.
    auto* stepAction = new QWidgetAction(this);
    stepAction->setObjectName(QStringLiteral("aGridStep"));
    stepAction->setText(QStringLiteral("Grid Step"));
    stepAction->setProperty("category", QLatin1String("View"));
    auto* stepRow = new QWidget;
    auto* stepLayout = new QHBoxLayout(stepRow);
    stepLayout->setContentsMargins(24, 2, 8, 2);
    auto* stepLabel = new QLabel(QStringLiteral("Grid s&tep:"), stepRow);
    m_gridStep = new QSpinBox(stepRow);
    m_gridStep->setObjectName(QStringLiteral("gridStep"));
    m_gridStep->setRange(1, 32);
    m_gridStep->setSuffix(QStringLiteral(" px"));
    m_gridStep->setValue(m_designer->GridX());
    stepLabel->setBuddy(m_gridStep);
    stepLayout->addWidget(stepLabel);
    stepLayout->addWidget(m_gridStep);
    stepAction->setDefaultWidget(stepRow);
    connect(m_gridStep, &QSpinBox::valueChanged, this, [this](int step) {
        if (step != m_designer->GridX() || step != m_designer->GridY())
            setGrid(m_designer->IsGrid(), step);
    });
    addAction(stepAction);
    m_actions.append(stepAction);

    makeAction("aAbout", QStringLiteral("&Help Topics"), "Help", QKeySequence(Qt::Key_F1),
               [this] { helpTopics(); });
    makeAction("actTip", QStringLiteral("&Tip of the Day"), "Help", none, [this] { showTip(); });
    makeAction("Action1", QStringLiteral("&Visit Home Page"), "Help", none,
               [this] { visitHomePage(); });
    makeAction("Action2", QStringLiteral("&About the Program"), "Help", none, [this] { about(); });
}

void TProjectManager::buildMenus() {
    const auto fill = [this](const QString& title, const QStringList& names) {
        QMenu* menu = menuBar()->addMenu(title);
        for (const QString& n : names) {
            if (n == QLatin1String("-"))
                menu->addSeparator();
            else
                menu->addAction(action(n));
        }
        connect(menu, &QMenu::aboutToShow, this, &TProjectManager::updateActions);
    };
    fill(QStringLiteral("&File"),
         {"aOpenImage", "aSaveImage", "aSaveAs", "-", "aNew", "aOpen", "aSave", "aSavePatternAs",
          "aClose", "-", "aGroup", "-", "aOptions", "-", "aExit"});
    // The two dock windows are reachable from the menu too, not only from an overflowing tool bar.
    fill(QStringLiteral("&View"),
         {"aZoomin", "aZoomout", "aFittopage", "aActualsize", "-", "aShowGrid", "aSnapToGrid",
          "aGridStep", "-", "aInspector", "aExplorer"});
    fill(QStringLiteral("&Edit"),
         {"aUndo", "aRedo", "-", "aCopy", "aCut", "aPaste", "aDuplicate", "aDelete", "aSelectAll",
          "-", "aEffects", "aResize", "aRotateCount", "aRotateClock", "aCaptionBand", "-",
          "aBringToFromt",
          "aSendToBack"});
    fill(QStringLiteral("&Help"), {"aAbout", "actTip", "Action1", "Action2"});
}

void TProjectManager::buildToolBars() {
    // Each action with the desktop's icon (ours where the theme has none).
    for (const ActionIconName& n : ActionIconNames())
        action(QLatin1String(n.action))
            ->setIcon(ThemedIcon(QLatin1String(n.theme), QLatin1String(n.own)));
    // Menu-only commands take the theme's icon when it has one.
    const QList<QPair<const char*, const char*>> menuIcons = {
        {"aGroup", "view-process-all"},   {"aOptions", "configure"},
        {"aExit", "application-exit"},    {"aAbout", "help-contents"},
        {"actTip", "help-hint"},          {"Action1", "internet-web-browser"},
        {"Action2", "help-about"},        {"aSavePatternAs", "document-save-as"},
        {"aClose", "document-close"}};
    for (const auto& [name, theme] : menuIcons)
        action(QLatin1String(name))->setIcon(QIcon::fromTheme(QLatin1String(theme)));

    QList<ToolBarLayout::Bar> defaults;
    const auto bar = [this, &defaults](const QString& title, const QStringList& names) {
        QToolBar* b = addToolBar(title);
        b->setObjectName(title);
        // Text under or beside the icons, or none, as the desktop's style has it.
        b->setToolButtonStyle(Qt::ToolButtonFollowStyle);
        for (const QString& n : names)
            b->addAction(action(n));
        defaults.append({title, names});
        m_customBars.insert(title, b);
        return b;
    };
    bar(QStringLiteral("File"), {"aOpenImage", "aSaveAs", "aNew", "aOpen", "aSave"});
    bar(QStringLiteral("Resize"), {"aResize", "aRotateCount", "aRotateClock", "aEffects"});
    m_paletteBar = addToolBar(QStringLiteral("Palette"));
    m_paletteBar->setObjectName(QStringLiteral("Palette"));
    m_paletteBar->setIconSize(QSize(18, 18));
    // The palette's categories as tabs, the classes of the chosen one beside them.
    m_paletteTabs = new QTabBar(m_paletteBar);
    m_paletteTabs->setObjectName(QStringLiteral("paletteTabs"));
    m_paletteTabs->setDrawBase(false);
    m_paletteTabs->setExpanding(false);
    m_paletteTabs->setFocusPolicy(Qt::NoFocus);
    connect(m_paletteTabs, &QTabBar::currentChanged, this, [this] { RefreshPalette(); });
    m_paletteBar->addWidget(m_paletteTabs);
    m_arrow = new QToolButton(m_paletteBar);
    m_arrow->setObjectName(QStringLiteral("paletteArrow"));
    m_arrow->setIcon(ThemedIcon(QStringLiteral("edit-select"), QStringLiteral("pointer")));
    m_arrow->setToolTip(QStringLiteral("Select"));
    m_arrow->setCheckable(true);
    m_arrow->setChecked(true);
    m_arrow->setFixedSize(20, 20);
    connect(m_arrow, &QToolButton::clicked, this, &TProjectManager::arrowClicked);
    m_paletteBar->addWidget(m_arrow);
    addToolBarBreak();
    bar(QStringLiteral("Edit"),
        {"aCopy", "aCut", "aPaste", "aDelete", "aBringToFromt", "aSendToBack", "aUndo", "aRedo"});
    QToolBar* view = bar(QStringLiteral("View"), {"aZoomin", "aZoomout", "aFittopage",
                                                  "aActualsize", "aShowGrid", "aSnapToGrid"});
    m_zoomBox = new QComboBox(view);
    m_zoomBox->setObjectName(QStringLiteral("zoomBox"));
    // Editable so that a fitted ratio between two entries can be shown; the text is not typed.
    m_zoomBox->setEditable(true);
    m_zoomBox->lineEdit()->setReadOnly(true);
    for (int i = 0; i < ZoomSteps::count(); ++i)
        m_zoomBox->addItem(ZoomSteps::text(i), ZoomSteps::percent(i));
    showZoomLevel(ZoomSteps::indexFor(1.0)); // not the first entry, 1 %, before a photo
    m_zoomBox->setEnabled(false);
    connect(m_zoomBox, &QComboBox::activated, this, [this](int index) {
        chooseZoom(index);
        updateActions();
    });
    // The zoom box and the two tool windows stay at the view bar's end whatever it shows.
    m_barTails[QStringLiteral("View")] << view->addWidget(m_zoomBox);
    // The two tool windows have no menu item; the view bar offers them.
    view->addAction(action(QStringLiteral("aInspector")));
    view->addAction(action(QStringLiteral("aExplorer")));
    m_barTails[QStringLiteral("View")] << action(QStringLiteral("aInspector"))
                                       << action(QStringLiteral("aExplorer"));
    bar(QStringLiteral("Align"), {"aAlignLeft", "aAlignHCentre", "aAlignRight", "aAlignTop",
                                  "aAlignVCentre", "aAlignBottom", "aAnchorCorner"});

    // Short tool-bar texts where the caption is long.
    const QList<QPair<const char*, QString>> shortTexts = {
        {"aRotateCount", QStringLiteral("\u27F2 90°")},
        {"aRotateClock", QStringLiteral("\u27F3 90°")},
        {"aAlignLeft", QStringLiteral("Lefts")},
        {"aAlignHCentre", QStringLiteral("Centres")},
        {"aAlignRight", QStringLiteral("Rights")},
        {"aAlignTop", QStringLiteral("Tops")},
        {"aAlignVCentre", QStringLiteral("Middles")},
        {"aAlignBottom", QStringLiteral("Bottoms")},
        {"aAnchorCorner", QStringLiteral("\u2693 Corner")},
        {"aBringToFromt", QStringLiteral("Front")},
        {"aSendToBack", QStringLiteral("Back")},
        {"aOpenImage", QStringLiteral("Open")},
        {"aSaveAs", QStringLiteral("Save As")},
        {"aNew", QStringLiteral("New")},
        {"aOpen", QStringLiteral("Pattern")},
        {"aSave", QStringLiteral("Save Pattern")}};
    for (const auto& [name, text] : shortTexts)
        action(QLatin1String(name))->setIconText(text);

    // Any command of the menus may go on a bar, except those the view bar keeps at its end.
    QStringList known;
    for (QAction* a : m_actions)
        if (!a->property("category").toString().isEmpty() &&
            !m_barTails.value(QStringLiteral("View")).contains(a))
            known << a->objectName();
    m_toolBarLayout = std::make_unique<ToolBarLayout>(defaults, known);
    SettingsStore store(SettingsKey);
    if (store.Open())
        m_toolBarLayout->Load(store);
    applyToolBarLayout();
}

void TProjectManager::applyToolBarLayout() {
    for (const QString& name : m_toolBarLayout->BarNames()) {
        QToolBar* b = m_customBars.value(name);
        const QList<QAction*> tail = m_barTails.value(name);
        for (QAction* a : b->actions())
            if (!tail.contains(a))
                b->removeAction(a);
        QList<QAction*> shown;
        for (const QString& n : m_toolBarLayout->Actions(name))
            if (QAction* a = action(n))
                shown << a;
        b->insertActions(tail.isEmpty() ? nullptr : tail.first(), shown);
    }
}

QMenu* TProjectManager::createPopupMenu() {
    QMenu* menu = QMainWindow::createPopupMenu();
    if (!menu)
        menu = new QMenu(this);
    QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().first();
    auto* customize = new QAction(QStringLiteral("Customize"), menu);
    customize->setObjectName(QStringLiteral("aCustomize"));
    connect(customize, &QAction::triggered, this, &TProjectManager::customizeToolBars);
    menu->insertAction(first, customize);
    if (first)
        menu->insertSeparator(first);
    return menu;
}

void TProjectManager::customizeToolBars() {
    ToolBarCustomizeDialog dialog(
        *m_toolBarLayout, [this](const QString& name) { return action(name); }, this);
    if (runDialog(dialog) != QDialog::Accepted)
        return;
    *m_toolBarLayout = dialog.Layout();
    applyToolBarLayout();
    SettingsStore store(SettingsKey);
    if (!store.OpenOrCreate() || !m_toolBarLayout->Save(store))
        ShowError(QStringLiteral("The tool bars could not be kept for the next start: %1")
                      .arg(store.errorString()));
}

QAction* TProjectManager::action(const QString& name) const {
    for (QAction* a : m_actions)
        if (a->objectName() == name)
            return a;
    return nullptr;
}

QString TProjectManager::ImagePath() const {
    return m_designer->FileName;
}

void TProjectManager::updateActions() {
    const bool modified = m_designer->Modified();
    const bool hasImage = !m_designer->FileName.isEmpty() || modified;
    const bool hasPreview = !m_designer->PreviewSize().isEmpty();
    action(QStringLiteral("aSaveImage"))->setEnabled(modified);
    action(QStringLiteral("aOpen"))->setEnabled(hasPreview);
    action(QStringLiteral("aSave"))->setEnabled(m_designer->PatternModified());
    action(QStringLiteral("aSavePatternAs"))
        ->setEnabled(hasPreview || !m_designer->Bricks().isEmpty() || !m_patternPath.isEmpty());
    for (const char* n : {"aSaveAs", "aClose", "aResize", "aRotateCount", "aRotateClock",
                          "aEffects", "aZoomin", "aZoomout", "aFittopage", "aActualsize"})
        action(QLatin1String(n))->setEnabled(hasImage);
    const bool selected = m_surface->hasSelection();
    for (const char* n :
         {"aCopy", "aCut", "aDelete", "aBringToFromt", "aSendToBack", "aAlignLeft", "aAlignHCentre",
          "aAlignRight", "aAlignTop", "aAlignVCentre", "aAlignBottom", "aAnchorCorner"})
        action(QLatin1String(n))->setEnabled(selected);
    action(QStringLiteral("aAnchorCorner"))->setChecked(m_surface->selectionAnchored());
    action(QStringLiteral("aPaste"))->setEnabled(m_surface->canPaste());
    action(QStringLiteral("aDuplicate"))->setEnabled(selected);
    action(QStringLiteral("aSelectAll"))->setEnabled(m_surface->hasBricks());
    // Something to clear: bricks, or a pattern file that is open.
    action(QStringLiteral("aNew"))->setEnabled(m_surface->hasBricks() || !m_patternPath.isEmpty());
    action(QStringLiteral("aShowGrid"))->setChecked(m_designer->ShowGrid());
    action(QStringLiteral("aCaptionBand"))->setChecked(m_designer->Band.on);
    action(QStringLiteral("aSnapToGrid"))->setChecked(m_designer->IsGrid());
    if (m_gridStep->value() != m_designer->GridX()) {
        const QSignalBlocker block(m_gridStep);
        m_gridStep->setValue(m_designer->GridX());
    }
    action(QStringLiteral("aUndo"))->setEnabled(m_surface->canUndo());
    action(QStringLiteral("aRedo"))->setEnabled(m_surface->canRedo());
    for (QToolButton* b : m_paletteButtons)
        b->setEnabled(hasPreview);
    m_zoomBox->setEnabled(hasPreview);
}

bool TProjectManager::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
    case QEvent::KeyRelease:
        updateActions();
        break;
    case QEvent::ShortcutOverride:
        // A key is about to be matched against the shortcuts: the enabled states must be those
        // of now, whatever changed them (a pattern read, the clipboard, the inspector).
        updateActions();
        break;
    case QEvent::Resize:
        // Maximised, restored or resized: a fitted photo is fitted again, once the layout has
        // settled.
        if (watched == m_scroll->viewport() && m_fitMode)
            QMetaObject::invokeMethod(this, &TProjectManager::refit, Qt::QueuedConnection);
        break;
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        QWidget* view = m_scroll->viewport();
        if (!(wheel->modifiers() & Qt::ControlModifier) || !widget ||
            !(widget == view || view->isAncestorOf(widget)))
            break;
        // Ctrl and the wheel zoom around the pointer, one level per notch.
        m_wheelAngle += wheel->angleDelta().y();
        const QPoint at = view->mapFromGlobal(wheel->globalPosition().toPoint());
        while (std::abs(m_wheelAngle) >= QWheelEvent::DefaultDeltasPerStep) {
            if (m_wheelAngle > 0) {
                m_wheelAngle -= QWheelEvent::DefaultDeltasPerStep;
                zoomIn(at);
            } else {
                m_wheelAngle += QWheelEvent::DefaultDeltasPerStep;
                zoomOut(at);
            }
        }
        updateActions();
        return true;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TProjectManager::setGrid(bool snap, int step) {
    struct Write {
        const char* name;
        QString text;
    };
    QList<Write> writes;
    if (m_designer->GridX() != step)
        writes.append({"GridX", QString::number(step)});
    if (m_designer->GridY() != step)
        writes.append({"GridY", QString::number(step)});
    if (m_designer->IsGrid() != snap)
        writes.append({"IsGrid", snap ? QStringLiteral("True") : QStringLiteral("False")});
    if (writes.isEmpty())
        return;
    QUndoStack* stack = m_designSurface->UndoStack();
    stack->beginMacro(QStringLiteral("Grid"));
    for (const Write& w : writes)
        m_designSurface->SetProperty(m_designer, QLatin1String(w.name), w.text);
    stack->endMacro();
    updateActions();
}

// ---- palette ----

bool TProjectManager::RegisterBrickClass(const QMetaObject* brickClass, const QString& name,
                                         const QImage& glyph, const QString& category) {
    for (const TComponentCreator& e : m_palette)
        if (e.brickClass == brickClass)
            return false;
    m_palette.append({brickClass, name, glyph.copy(), category});
    bool known = false;
    for (int i = 0; i < m_paletteTabs->count(); ++i)
        known = known || m_paletteTabs->tabText(i) == category;
    if (!known) {
        const QSignalBlocker quiet(m_paletteTabs);
        m_paletteTabs->addTab(category);
    }
    RefreshPalette();
    return true;
}

void TProjectManager::RegisterStandardBricks() {
    // In the order the surface announces them.
    RegisterBrickClass(&TText::staticMetaObject, QStringLiteral("TText"),
                       DrawPaletteGlyph(PaletteGlyph::Text));
    RegisterBrickClass(&TTextTime::staticMetaObject, QStringLiteral("TTextTime"),
                       DrawPaletteGlyph(PaletteGlyph::Time));
    RegisterBrickClass(&TTextDate::staticMetaObject, QStringLiteral("TTextDate"),
                       DrawPaletteGlyph(PaletteGlyph::Date));
    RegisterBrickClass(&TPictureimg::staticMetaObject, QStringLiteral("TPictureimg"),
                       DrawPaletteGlyph(PaletteGlyph::Picture));
    RegisterBrickClass(&TTextBubble::staticMetaObject, QStringLiteral("TTextBubble"),
                       DrawPaletteGlyph(PaletteGlyph::Bubble));
    // The surface's start-up: its hidden properties, the surface in the inspector; the classes
    // it announces are registered already.
    if (!m_surfaceStarted) {
        m_surfaceStarted = true;
        m_designSurface->InitDesigner();
    }
}

QImage TProjectManager::GlyphOf(const QMetaObject* brickClass) const {
    for (const TComponentCreator& e : m_palette)
        if (e.brickClass == brickClass)
            return e.glyph;
    return {};
}

void TProjectManager::RefreshPalette() {
    for (QToolButton* b : m_paletteButtons)
        delete b;
    m_paletteButtons.clear();
    const QString category = m_paletteTabs->tabText(m_paletteTabs->currentIndex());
    for (int i = 0; i < m_palette.size(); ++i) {
        const TComponentCreator& e = m_palette[i];
        if (e.category != category)
            continue;
        auto* b = new QToolButton(m_paletteBar);
        b->setObjectName(QStringLiteral("palette_") + e.name);
        b->setIcon(QIcon(QPixmap::fromImage(e.glyph)));
        b->setIconSize(QSize(18, 18));
        b->setFixedSize(20, 20);
        b->setAutoRaise(true);
        b->setCheckable(true);
        b->setToolTip(PaletteHint(QString::fromLatin1(e.brickClass->className())));
        b->setProperty("Tag", i);
        b->setChecked(e.brickClass == m_pending);
        connect(b, &QToolButton::clicked, this, [this, i] { paletteClicked(i); });
        m_paletteBar->addWidget(b);
        m_paletteButtons.append(b);
    }
    const bool hasPreview = !m_designer->PreviewSize().isEmpty();
    for (QToolButton* b : m_paletteButtons)
        b->setEnabled(hasPreview);
    m_zoomBox->setEnabled(hasPreview);
}

void TProjectManager::paletteClicked(int index) {
    for (int i = 0; i < m_paletteButtons.size(); ++i)
        m_paletteButtons[i]->setChecked(i == index);
    m_arrow->setChecked(false);
    m_pending = m_palette[index].brickClass;
    m_designer->setCursor(Qt::DragCopyCursor);
    m_surface->setPendingClass(m_pending);
}

void TProjectManager::arrowClicked() {
    m_pending = nullptr;
    for (QToolButton* b : m_paletteButtons)
        b->setChecked(false);
    m_arrow->setChecked(true);
    m_designer->unsetCursor();
    m_surface->setPendingClass(nullptr);
}

const QMetaObject* TProjectManager::TakePendingClass() {
    const QMetaObject* taken = m_pending;
    arrowClicked();
    return taken;
}

// ---- caption and geometry ----

void TProjectManager::SetImagePath(const QString& fileName) {
    m_designer->FileName = fileName;
    updateCaption();
}

void TProjectManager::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Another window may have moved bricks meanwhile (an undo in the inspector, a dialog).
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_designSurface)
        m_designSurface->WindowActivated();
}

void TProjectManager::updateCaption() {
    setWindowTitle(QStringLiteral("Captiomark - ") + FileNameOf(m_patternPath) +
                   QStringLiteral(" - ") + FileNameOf(m_designer->FileName));
}

QSize TProjectManager::clientSize() const {
    // The viewport without scroll bars: a fitted picture needs none.
    return m_scroll->maximumViewportSize();
}

void TProjectManager::centrePreview() {
    const QSize client = clientSize();
    const QSize picture = m_designer->Panel1->size();
    m_designer->resize(std::max(client.width(), picture.width()),
                       std::max(client.height(), picture.height()));
    m_designer->Panel1->move((m_designer->width() - picture.width()) / 2,
                             (m_designer->height() - picture.height()) / 2);
    // The stretch frame follows its brick to the new place and zoom.
    if (m_designSurface)
        m_designSurface->RefreshSelection();
}

void TProjectManager::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    centrePreview();
}

void TProjectManager::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    RefreshPalette();
    updateActions();
}

void TProjectManager::closeEvent(QCloseEvent* event) {
    if (!saveChangesFirst(m_designer->PatternModified(), m_designer->PhotoModified)) {
        event->ignore();
        return;
    }
    event->accept();
}

// ---- zoom ----

void TProjectManager::applyZoom() {
    // Bricks keep their full-size places, which the render uses; the preview follows them.
    PhotoChanged(*m_designer);
    updateZoomLevels();
}

void TProjectManager::updateZoomLevels() {
    auto* model = qobject_cast<QStandardItemModel*>(m_zoomBox->model());
    if (!model)
        return;
    const int largest = m_designer->realPicture.isNull()
                            ? ZoomSteps::count() - 1
                            : ZoomSteps::largestIndexFor(m_designer->CanvasSize());
    for (int i = 0; i < model->rowCount(); ++i)
        if (QStandardItem* item = model->item(i); item && item->isEnabled() != (i <= largest))
            item->setEnabled(i <= largest);
}

void TProjectManager::showZoomLevel(int index) {
    m_zoomBox->setCurrentIndex(index);
    m_shownZoomIndex = index;
    m_shownZoomText = m_zoomBox->currentText();
}

void TProjectManager::showZoomText(const QString& text) {
    m_zoomBox->setCurrentIndex(-1);
    m_zoomBox->setEditText(text);
    m_shownZoomIndex = -1;
    m_shownZoomText = text;
}

void TProjectManager::showShownZoom() {
    m_zoomBox->setCurrentIndex(m_shownZoomIndex);
    if (m_shownZoomIndex < 0)
        m_zoomBox->setEditText(m_shownZoomText);
}

void TProjectManager::fitToWindow() {
    m_scroll->horizontalScrollBar()->setValue(0);
    m_scroll->verticalScrollBar()->setValue(0);
    const double ratio = ZoomSteps::fitRatio(m_designer->CanvasSize(), clientSize());
    m_designer->ZoomRatio = ratio;
    showZoomText(ZoomSteps::textFor(ratio));
    applyZoom();
    m_fitMode = true;
}

void TProjectManager::refit() {
    if (!m_fitMode || m_designer->realPicture.isNull())
        return;
    const double ratio = ZoomSteps::fitRatio(m_designer->CanvasSize(), clientSize());
    if (ratio != m_designer->ZoomRatio) {
        m_designer->ZoomRatio = ratio;
        if (ratio == 1.0)
            showZoomLevel(ZoomSteps::indexFor(1.0));
        else
            showZoomText(ZoomSteps::textFor(ratio));
        applyZoom();
    }
    centrePreview();
}

QWidget* TProjectManager::viewport() const {
    return m_scroll->viewport();
}

QPointF TProjectManager::FullPointAt(QPoint viewportPoint) const {
    const QPoint inPanel =
        m_designer->Panel1->mapFrom(m_scroll->viewport(), viewportPoint);
    return QPointF(inPanel) * m_designer->ZoomRatio;
}

void TProjectManager::scrollFullPointTo(QPointF full, QPoint viewportPoint) {
    if (m_designer->ZoomRatio <= 0)
        return;
    // Where the point now lies in the designer, which the scroll bars move under the viewport.
    const QPointF inDesigner = full / m_designer->ZoomRatio + QPointF(m_designer->Panel1->pos());
    m_scroll->horizontalScrollBar()->setValue(qRound(inDesigner.x() - viewportPoint.x()));
    m_scroll->verticalScrollBar()->setValue(qRound(inDesigner.y() - viewportPoint.y()));
}

void TProjectManager::chooseZoom(int index, std::optional<QPoint> anchor) {
    if (m_designer->realPicture.isNull() || index < 0 || index >= ZoomSteps::count())
        return;
    // An entry that is not offered (its preview would be too large) changes nothing.
    if (index > ZoomSteps::largestIndexFor(m_designer->CanvasSize())) {
        showShownZoom();
        return;
    }
    const QPoint at = anchor.value_or(m_scroll->viewport()->rect().center());
    const QPointF full = FullPointAt(at);
    const double before = m_designer->ZoomRatio;
    QString failure;
    try {
        m_designer->ZoomRatio = ZoomSteps::ratioOf(index);
        applyZoom();
    } catch (const Exception& e) {
        failure = e.message();
    } catch (const std::bad_alloc&) {
        failure = QStringLiteral("Not enough memory.");
    }
    if (!failure.isEmpty()) {
        // The level that could not be had was never shown: back to the one that was, so that
        // the box and the next Zoom In or Out start from it.
        m_designer->ZoomRatio = before;
        applyZoom();
        showShownZoom();
        centrePreview();
        ShowError(failure);
        return;
    }
    m_fitMode = false;
    showZoomLevel(index);
    centrePreview();
    scrollFullPointTo(full, at);
}

void TProjectManager::zoomIn(std::optional<QPoint> anchor) {
    if (m_designer->realPicture.isNull())
        return;
    const int next =
        ZoomSteps::zoomInIndex(m_designer->ZoomRatio > 0 ? m_designer->ZoomRatio : 1.0);
    chooseZoom(std::min(next, ZoomSteps::largestIndexFor(m_designer->CanvasSize())),
               anchor);
}

void TProjectManager::zoomOut(std::optional<QPoint> anchor) {
    chooseZoom(ZoomSteps::zoomOutIndex(m_designer->ZoomRatio > 0 ? m_designer->ZoomRatio : 1.0),
               anchor);
}

void TProjectManager::fitToPage() {
    if (m_designer->realPicture.isNull())
        return;
    m_designer->ZoomRatio = 1.0;
    showZoomLevel(ZoomSteps::indexFor(1.0));
    fitToWindow();
    centrePreview();
}

void TProjectManager::actualSize() {
    if (m_designer->realPicture.isNull())
        return;
    const QPoint at = m_scroll->viewport()->rect().center();
    const QPointF full = FullPointAt(at);
    m_designer->ZoomRatio = 1.0;
    m_fitMode = false;
    showZoomLevel(ZoomSteps::indexFor(1.0));
    applyZoom();
    centrePreview();
    scrollFullPointTo(full, at);
}

// ---- image ----

QString TProjectManager::askFileName(const FileRequest& request) {
    if (m_askFileName)
        return m_askFileName(request);
    QFileDialog dialog(this, request.title);
    dialog.setAcceptMode(request.kind == FileRequest::Kind::Open ? QFileDialog::AcceptOpen
                                                                 : QFileDialog::AcceptSave);
    dialog.setFileMode(request.kind == FileRequest::Kind::Open ? QFileDialog::ExistingFile
                                                               : QFileDialog::AnyFile);
    // The window asks about replacing a file itself, for the name that will really be written.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(request.filters);
    if (request.filterIndex >= 0 && request.filterIndex < request.filters.size())
        dialog.selectNameFilter(request.filters[request.filterIndex]);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void TProjectManager::openImageCommand() {
    FileRequest r;
    r.title = QStringLiteral("Picture");
    r.filters = {QStringLiteral("Bitmaps (*.bmp)"),
                 QStringLiteral("Jpeg Images (*.jpg *.jpeg)"),
                 QStringLiteral("Gif Images (*.gif)"),
                 QStringLiteral("Icons (*.ico)"),
                 QStringLiteral("PNG Images (*.png)"),
                 QStringLiteral("TIFF Images (*.tif *.tiff)"),
                 QStringLiteral("WebP Images (*.webp)"),
                 QStringLiteral("HEIC Images (*.heic *.heif)"),
                 QStringLiteral("AVIF Images (*.avif)"),
                 QStringLiteral("All images (%1 *.ico *.ICO)").arg(PhotoFilePatterns(true))};
    r.filterIndex = 9;
    const QString name = askFileName(r);
    if (!name.isEmpty())
        openImageAsking(name);
}

bool TProjectManager::openImageAsking(const QString& fileName) {
    // The pattern stays as it is; only the open photo's edits would go.
    if (!saveChangesFirst(false, m_designer->PhotoModified))
        return false;
    return OpenImage(fileName);
}

bool TProjectManager::OpenImage(const QString& fileName) {
    try {
        // A large photo takes a moment (also when opened from the explorer by a double-click).
        BusyCursor busy;
        m_designer->OpenImage(fileName, 1.0);
    } catch (const Exception& e) {
        ShowError(e.message());
        return false;
    }
    if (m_designer->PreviewSize().isEmpty()) {
        ShowError(QStringLiteral("Wrong file format"));
        return false;
    }
    // Date and time bricks show this photo's date from now on.
    TakePhotoDates(*m_designer, fileName);
    showZoomLevel(ZoomSteps::indexFor(1.0));
    const QSize client = clientSize();
    if (m_designer->PreviewSize().height() > client.height() ||
        m_designer->PreviewSize().width() > client.width())
        fitToWindow();
    else
        applyZoom();
    // A new photo is shown whole and stays so when the window changes, as Fit to Page does.
    m_fitMode = true;
    centrePreview();
    SetImagePath(fileName);
    RefreshPalette();
    updateActions();
    return true;
}

void TProjectManager::rotate(int degrees) {
    if (m_designer->realPicture.isNull())
        return;
    const QImage before = m_designer->realPicture;
    const bool edited = m_designer->PictureEdited;
    const bool modified = m_designer->PhotoModified;
    {
        BusyCursor busy;
        RotateBitmap(m_designer->realPicture, qRgb(255, 255, 255), degrees);
    }
    m_designer->PictureEdited = true; // the file's own blocks no longer show it
    m_designer->PhotoModified = true;
    // The bricks turn with the photo (anchored ones are placed on it anew), as one undo step.
    m_designSurface->PhotoEdited(degrees > 0 ? QStringLiteral("Rotate Clockwise")
                                             : QStringLiteral("Rotate Counter-clockwise"),
                                 before, edited, modified,
                                 {.quarterTurns = degrees / 90, .from = before.size(), .to = {}});
    fitToPage();
}

bool TProjectManager::saveImage(bool asNewName) {
    const QString source = m_designer->FileName;
    const QString extension = QFileInfo(source).suffix();
    FileRequest r;
    r.kind = FileRequest::Kind::Save;
    r.title = QStringLiteral("Save image");
    r.filters = {QStringLiteral("Images (*.%1 *.%2)").arg(extension, extension.toUpper())};
    r.defaultSuffix = extension;
    r.fileName = source;
    const QString chosen = askFileName(r);
    if (chosen.isEmpty()) {
        if (asNewName)
            ShowError(FileNameOf(source) + QStringLiteral(" not saved: no file name was given."));
        return false;
    }
    // The render decides the name it writes; every question and message is about that file.
    // A file replaced on Yes stays as "<name>.bak", as the photo itself does.
    const QString written = RenderOutputPath(source, chosen);
    if (!ReplaceConfirmed(written))
        return false;
    QStringList notices;
    RenderAndSave(*m_designer, source,
                  {.newName = chosen,
                   .onNotice = [&notices](const QString& text) { notices.append(text); },
                   .replaceExisting = true});
    m_designer->PhotoModified = false;
    ++m_designer->PhotoSaves;
    SetImagePath(written);
    if (asNewName)
        notices.prepend(QDir::toNativeSeparators(written) + QStringLiteral(" saved."));
    if (!notices.isEmpty())
        ShowInformation(notices.join(QLatin1Char('\n')));
    return true;
}

void TProjectManager::showResize() {
    if (!m_resize)
        m_resize = new TfrmResize(m_designer, this);
    const QImage before = m_designer->realPicture;
    const bool edited = m_designer->PictureEdited;
    const bool modified = m_designer->PhotoModified;
    // The dialog marks the photo modified when it changed its size.
    if (runDialog(*m_resize) != QDialog::Accepted)
        return;
    if (m_designer->realPicture.size() != before.size())
        m_designSurface->PhotoEdited(
            QStringLiteral("Resize Photo"), before, edited, modified,
            {.quarterTurns = 0, .from = before.size(), .to = m_designer->realPicture.size()});
    fitToPage();
}

void TProjectManager::showEffects() {
    const QImage before = m_designer->realPicture;
    const bool edited = m_designer->PictureEdited;
    const bool modified = m_designer->PhotoModified;
    TfrmAdjustments dialog(
        m_designer, [this] { fitToPage(); }, this);
    dialog.setWindowTitle(QStringLiteral("Adjustments"));
    runDialog(dialog);
    // Changed pixels are a step of the history, the picture before kept for its undo.
    if (!before.isNull() && m_designer->realPicture.cacheKey() != before.cacheKey())
        m_designSurface->PhotoEdited(QStringLiteral("Adjust Colours"), before, edited, modified,
                                     {.quarterTurns = 0, .from = before.size(), .to = {}});
}

void TProjectManager::showBatch() {
    // One batch window, whether the menu or the explorer asks for it; not modal, so that files
    // can still be dragged in from the explorer.
    if (!m_group) {
        m_group = new TfrmGroup(m_designer, this);
        m_group->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_group->show();
    m_group->raise();
    m_group->activateWindow();
}

// ---- patterns ----

TProjectManager::SaveChoice TProjectManager::askSaveChanges(bool pattern, bool photo) {
    const QString patternName =
        m_patternPath.isEmpty()
            ? QStringLiteral("The new pattern")
            : QStringLiteral("The pattern \"%1\"").arg(FileNameOf(m_patternPath));
    const QString photoName =
        QStringLiteral("the photo \"%1\"").arg(FileNameOf(m_designer->FileName));
    QString text;
    if (pattern && photo)
        text = QStringLiteral("%1 and %2 have unsaved changes.\nDo you want to save them?")
                   .arg(patternName, photoName);
    else if (pattern)
        text = QStringLiteral("%1 has unsaved changes.\nDo you want to save it?").arg(patternName);
    else
        text = QStringLiteral("%1 was turned, resized or adjusted and is not saved.\nDo you want "
                              "to save it?")
                   .arg(photoName.at(0).toUpper() + photoName.mid(1));

    QMessageBox box(QMessageBox::Question, QStringLiteral("Captiomark"), text,
                    QMessageBox::NoButton, this);
    if (photo)
        box.setInformativeText(
            QStringLiteral("The photo is saved with the pattern on it, as Save Image does."));
    QList<QPair<QAbstractButton*, SaveChoice>> choices;
    const auto add = [&](const QString& caption, QMessageBox::ButtonRole role, SaveChoice choice) {
        QPushButton* b = box.addButton(caption, role);
        choices.append({b, choice});
        return b;
    };
    QPushButton* first = nullptr;
    if (pattern && photo)
        first = add(QStringLiteral("Save &Both"), QMessageBox::AcceptRole, SaveChoice::Both);
    if (pattern) {
        QPushButton* b =
            add(QStringLiteral("Save &Pattern"), QMessageBox::AcceptRole, SaveChoice::Pattern);
        first = first ? first : b;
    }
    if (photo) {
        QPushButton* b =
            add(QStringLiteral("Save P&hoto"), QMessageBox::AcceptRole, SaveChoice::Photo);
        first = first ? first : b;
    }
    add(QStringLiteral("&Don't Save"), QMessageBox::DestructiveRole, SaveChoice::Discard);
    QPushButton* cancel =
        add(QStringLiteral("Cancel"), QMessageBox::RejectRole, SaveChoice::Cancel);
    box.setDefaultButton(first);
    box.setEscapeButton(cancel);
    runDialog(box);
    for (const auto& [button, choice] : choices)
        if (box.clickedButton() == button)
            return choice;
    return SaveChoice::Cancel;
}

bool TProjectManager::saveChangesFirst(bool pattern, bool photo) {
    if (!pattern && !photo)
        return true;
    const auto savedPattern = [this] { return SavedOrReported([this] { return savePattern(); }); };
    const auto savedPhoto = [this] { return SavedOrReported([this] { return saveImage(false); }); };
    switch (askSaveChanges(pattern, photo)) {
    case SaveChoice::Both:
        return savedPattern() && savedPhoto();
    case SaveChoice::Pattern:
        return savedPattern();
    case SaveChoice::Photo:
        return savedPhoto();
    case SaveChoice::Discard:
        return true;
    case SaveChoice::Cancel:
        break;
    }
    return false;
}

void TProjectManager::newPattern() {
    if (!saveChangesFirst(m_designer->PatternModified(), false))
        return;
    m_designSurface->ClearPattern();
    m_designSurface->ResetHistory();
    m_patternPath.clear();
    updateCaption();
}

void TProjectManager::openPattern() {
    if (!saveChangesFirst(m_designer->PatternModified(), false))
        return;
    FileRequest r;
    r.title = QStringLiteral("Open pattern");
    r.filters = {kPatternFilter};
    r.defaultSuffix = QStringLiteral("xml");
    const QString name = askFileName(r);
    if (!name.isEmpty())
        LoadPattern(name);
}

void TProjectManager::LoadPattern(const QString& fileName) {
    TDesigner& d = *m_designer;
    const QList<QWidget*> before = d.Components();
    // The current bricks step aside while the file is read, so that a failing file cannot
    // leave half a pattern in their place.
    m_designSurface->ClearSelection();
    QList<QPointer<QWidget>> old;
    QList<bool> visible;
    for (QWidget* brick : d.Bricks()) {
        old.append(brick);
        visible.append(brick->isVisible());
        d.RemoveComponent(brick);
        brick->hide();
    }
    const int gridX = d.GridX(), gridY = d.GridY();
    const bool isGrid = d.IsGrid();
    try {
        ReadPattern(fileName, d);
    } catch (...) {
        d.SetGridX(gridX);
        d.SetGridY(gridY);
        d.SetIsGrid(isGrid);
        ClearBricks(d);
        for (QWidget* c : d.Components())
            d.RemoveComponent(c);
        for (QWidget* c : before)
            d.AddComponent(c);
        for (int i = 0; i < old.size(); ++i)
            if (old[i])
                old[i]->setVisible(visible[i]);
        throw;
    }
    // The history speaks of the bricks that are about to go.
    m_designSurface->ResetHistory();
    for (const QPointer<QWidget>& brick : old)
        if (brick)
            delete brick.data();
    inspect(m_designer);
    m_patternPath = fileName;
    updateCaption();
}

QString TProjectManager::askPatternName(const QString& title) {
    FileRequest r;
    r.kind = FileRequest::Kind::Save;
    r.title = title;
    r.filters = {kPatternFilter};
    r.defaultSuffix = QStringLiteral("xml");
    r.fileName = m_patternPath;
    const QString name = askFileName(r);
    // The pattern's own file is its to write; any other is asked about.
    if (name.isEmpty() || (name != m_patternPath && !ReplaceConfirmed(name)))
        return {};
    return name;
}

bool TProjectManager::writePattern(const QString& fileName) {
    WritePattern(fileName, *m_designer);
    m_designSurface->MarkSaved();
    m_patternPath = fileName;
    updateCaption();
    updateActions();
    return true;
}

bool TProjectManager::savePattern() {
    if (!m_patternPath.isEmpty())
        return writePattern(m_patternPath);
    const QString name = askPatternName(QStringLiteral("Save pattern"));
    return !name.isEmpty() && writePattern(name);
}

bool TProjectManager::savePatternAs() {
    const QString name = askPatternName(QStringLiteral("Save pattern as"));
    return !name.isEmpty() && writePattern(name);
}

// ---- help ----

void TProjectManager::helpTopics() {
    ShowHelpTopics(this);
}

void TProjectManager::about() {
    ShowAbout(this);
}

// ---- start-up ----

void TProjectManager::startUp(const CommandLine& commandLine) {
    if (ShowTipAtStartup())
        showTip();
    if (commandLine.group)
        showBatch();
    if (!commandLine.photo.isEmpty() && OpenImage(commandLine.photo) &&
        !commandLine.pattern.isEmpty()) {
        try {
            LoadPattern(commandLine.pattern);
        } catch (const Exception& e) {
            ShowError(e.message());
        }
    }
    for (const QString& f : commandLine.unused)
        ShowError(QStringLiteral("%1 not opened: only a photo and a pattern can be given.")
                      .arg(QDir::toNativeSeparators(f)));
    updateActions();
}
