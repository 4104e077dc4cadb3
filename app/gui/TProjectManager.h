#pragma once

#include "patterns/file/PatternFile.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class DesignSurface;
class QAction;
class QDialog;
class QMenu;
class QComboBox;
class QScrollArea;
class QSpinBox;
class QTabBar;
class QToolBar;
class QToolButton;
class SurfaceActions;
class SurfacePropertyWriter;
class TComponentEditorRegistry;
class TDesigner;
class TObjectInspector;
class ToolBarLayout;
class TPropertyEditorRegistry;
class TfrmBottom;
class TfrmGroup;
class TfrmResize;
struct QMetaObject;

// What the command line asks for: "/group" or "--group" opens the batch window; the first file
// is a photo to open, the second a pattern to lay over it.
struct CommandLine {
    bool group = false;
    bool help = false;    // "--help" or "-h": print the usage and exit
    bool version = false; // "--version" or "-v": print the version and exit
    QString photo;
    QString pattern;
    QStringList unused; // files beyond the second
};
// "--" ends the switches: what follows is a file whatever its name.
CommandLine ParseCommandLine(const QStringList& arguments);
// What "--help" prints.
QString CommandLineHelp();

// "major.minor", then ".release.build" when build is not 0, or ".release" when release is not 0.
QString VersionText(const QString& version);

// Where the inspector is first shown (screen coordinates): 250 high, right-aligned with the main
// window's frame, its top captionHeight + 3 pixels above the frame's bottom; then moved (and cut
// to size) to lie within the screen's available area, when one is given.
QRect FirstInspectorBounds(const QRect& mainFrame, int inspectorWidth, int captionHeight,
                           const QRect& screen);

// One file dialog's question. The window asks through a replaceable function, so that tests can
// answer without a dialog.
struct FileRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString title;
    QStringList filters;
    int filterIndex = 0;
    QString defaultSuffix;
    QString fileName; // initial selection
};
using FileNameAsker = std::function<QString(const FileRequest&)>;
// Runs a modal dialog of the window (options, tip of the day); returns QDialog's result.
using DialogRunner = std::function<int(QDialog&)>;

// One palette entry: a brick class, its name and its 18 x 18 glyph.
struct TComponentCreator {
    const QMetaObject* brickClass = nullptr;
    QString name;
    QImage glyph;
    QString category;
};

// The main window: menus, tool bars, the brick palette and the zoom box around the design
// surface; opens and saves images and patterns.
class TProjectManager : public QMainWindow {
    Q_OBJECT

public:
    explicit TProjectManager(QWidget* parent = nullptr);
    ~TProjectManager() override;

    TDesigner* designer() const { return m_designer; }
    SurfaceActions* surfaceActions() const { return m_surface; }
    DesignSurface* designSurface() const { return m_designSurface; }
    TObjectInspector* inspector() const { return m_inspector; }
    TfrmBottom* explorer() const { return m_explorer; }
    TComponentEditorRegistry& brickEditors() const { return *m_brickEditors; }
    QComboBox* zoomBox() const { return m_zoomBox; }
    // The View menu's grid step (1..32), as the surface's GridX and GridY.
    QSpinBox* gridStepBox() const { return m_gridStep; }
    QToolBar* paletteBar() const { return m_paletteBar; }
    QTabBar* paletteTabs() const { return m_paletteTabs; }
    // The action with that object name ("aOpenImage", "aSaveAs", ...), or nullptr.
    QAction* action(const QString& name) const;
    // Every action of the window in creation order.
    QList<QAction*> allActions() const { return m_actions; }

    // Opens an image onto the surface, fitted to the window and centred. Errors are shown; false
    // then, with the surface's state and the image path as they were.
    bool OpenImage(const QString& fileName);
    // The class's button goes under the category's tab of the palette.
    bool RegisterBrickClass(const QMetaObject* brickClass, const QString& name,
                            const QImage& glyph,
                            const QString& category = QStringLiteral("Common"));
    // The palette's five brick classes with their glyphs.
    void RegisterStandardBricks();
    const QMetaObject* PendingClass() const { return m_pending; }
    const QMetaObject* TakePendingClass();
    QImage GlyphOf(const QMetaObject* brickClass) const;
    void RefreshPalette();
    void SetImagePath(const QString& fileName);
    QString ImagePath() const;
    // The pattern's file: the one opened or last saved, which the title names and Save Pattern
    // writes; empty for a new pattern.
    QString PatternPath() const { return m_patternPath; }
    QString PatternTitle() const { return m_patternPath; }

    // Reads a pattern onto the surface in place of the current bricks. The file is read first:
    // when reading fails the current bricks and their history stay as they were and the error
    // is thrown on. Asks nothing. The pattern's file is that file from now on.
    void LoadPattern(const QString& fileName);

    // The commands behind the actions. Those that may discard unsaved changes ask first.
    void openImageCommand();
    // Opens another photo after asking about the edits of the open one.
    bool openImageAsking(const QString& fileName);
    bool saveImage(bool asNewName);
    void newPattern();
    void openPattern();
    // Writes the pattern's own file; a new pattern asks for a name first.
    bool savePattern();
    // Asks for a name (the pattern's file offered), writes there, and keeps that file.
    bool savePatternAs();
    void closePattern() { newPattern(); }
    void showBatch();
    void showResize();
    void showEffects();
    void rotate(int degrees);
    // The zoom commands keep the point of the photo at the anchor (viewport coordinates) where
    // it was; without one, the point at the view's centre.
    void zoomIn(std::optional<QPoint> anchor = {});
    void zoomOut(std::optional<QPoint> anchor = {});
    // Fits the photo to the window, and keeps it fitted when the window's size changes until
    // another zoom is chosen.
    void fitToPage();
    void actualSize();
    void chooseZoom(int index, std::optional<QPoint> anchor = {});
    bool FitsWindow() const { return m_fitMode; }
    // The point of the full-size photo under a point of the view (viewport coordinates).
    QPointF FullPointAt(QPoint viewportPoint) const;
    // The view, its scroll area's viewport.
    QWidget* viewport() const;
    void helpTopics();
    void about();
    void visitHomePage();
    void showOptions();
    void showTip();
    // Shows the inspector (a floating window by default) in front.
    void showInspector();
    // Shows the explorer, or folds and unfolds it when it is shown.
    void toggleExplorer();
    // After asking, burns the current pattern into each file in place, the replaced original
    // kept as .bak; date and time bricks show each file's own date. The open photo comes back
    // as it was, edits included.
    void applyPatternToFiles(const QStringList& files);
    // The batch window, not modal, with those files in its job list.
    void addFilesToGroup(const QStringList& paths);

    // Command-line files and switches, after the window is shown.
    void startUp(const CommandLine& commandLine);

    // Re-evaluates every action's enabled state.
    void updateActions();

    // The tool bars' popup menu: "Customize", then the bars and docks to show or hide.
    QMenu* createPopupMenu() override;
    // Asks which commands each tool bar shows; what is chosen is kept in the settings.
    void customizeToolBars();
    const ToolBarLayout& toolBarLayout() const { return *m_toolBarLayout; }

    void setFileNameAsker(FileNameAsker asker) { m_askFileName = std::move(asker); }
    void setDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }

    // The preview's place: the client area the picture is fitted to, and where the picture panel
    // is shown.
    QSize clientSize() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* makeAction(const char* name, const QString& text, const char* category,
                        const QKeySequence& shortcut, std::function<void()> run);
    void buildActions();
    void buildMenus();
    void buildToolBars();
    void applyToolBarLayout();
    void paletteClicked(int index);
    // Snapping on or off and its step, as one undo step of the pattern (nothing when neither
    // changes).
    void setGrid(bool snap, int step);
    void arrowClicked();
    // What of the unsaved work to save before it would be lost.
    enum class SaveChoice { Both, Pattern, Photo, Discard, Cancel };
    // Asks about the unsaved pattern, photo or both, naming them; a button for each.
    SaveChoice askSaveChanges(bool pattern, bool photo);
    // Before unsaved work goes: asks, and saves what was chosen. False when the user cancelled
    // or a chosen save did not happen (no name given, or it failed: the error is shown).
    bool saveChangesFirst(bool pattern, bool photo);
    bool writePattern(const QString& fileName);
    QString askPatternName(const QString& title);
    // The zoom box: entries whose preview would be too large are not offered; what it shows
    // after each zoom that was made, so that a zoom that fails can show it again.
    void updateZoomLevels();
    void showZoomLevel(int index);
    void showZoomText(const QString& text);
    void showShownZoom();
    QString askFileName(const FileRequest& request);
    void fitToWindow();
    // Fits again after the view's size changed, while the photo is fitted.
    void refit();
    void applyZoom();
    // Scrolls so that the full-size point lies under the viewport point.
    void scrollFullPointTo(QPointF full, QPoint viewportPoint);
    void centrePreview();
    void updateCaption();
    int runDialog(QDialog& dialog);
    void buildSurface();
    void buildInspector();
    void buildExplorer();
    void surfacePendingChanged(const QString& className);
    // The inspector shows the object's values anew (after a write, undo or redo).
    void inspect(QObject* object);
    void selectionChanged();

    TDesigner* m_designer;
    QScrollArea* m_scroll;
    SurfaceActions* m_surface;
    QComboBox* m_zoomBox = nullptr;
    QSpinBox* m_gridStep = nullptr;
    // The layout a pattern file carries beside the grid, kept as read for the next write.
    PatternLayout m_patternLayout;
    QToolBar* m_paletteBar = nullptr;
    std::unique_ptr<ToolBarLayout> m_toolBarLayout;
    QHash<QString, QToolBar*> m_customBars;
    // Per bar, what stays at its end after the customisable commands.
    QHash<QString, QList<QAction*>> m_barTails;
    QTabBar* m_paletteTabs = nullptr;
    QToolButton* m_arrow = nullptr;
    QList<QToolButton*> m_paletteButtons;
    QList<TComponentCreator> m_palette;
    const QMetaObject* m_pending = nullptr;
    QList<QAction*> m_actions;
    QString m_appTitle;
    QString m_patternPath;
    int m_shownZoomIndex = -1;
    bool m_fitMode = false;
    int m_wheelAngle = 0; // wheel turns with Ctrl held, until a whole step is reached
    QString m_shownZoomText;
    QPointer<TfrmResize> m_resize;
    QPointer<TfrmGroup> m_group;
    FileNameAsker m_askFileName;
    DialogRunner m_runDialog;
    DesignSurface* m_designSurface = nullptr;
    TObjectInspector* m_inspector = nullptr;
    TfrmBottom* m_explorer = nullptr;
    std::unique_ptr<TPropertyEditorRegistry> m_propertyEditors;
    std::unique_ptr<TComponentEditorRegistry> m_brickEditors;
    std::unique_ptr<SurfacePropertyWriter> m_writer;
    bool m_surfaceStarted = false;
};
