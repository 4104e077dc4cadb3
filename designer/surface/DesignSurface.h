#pragma once

#include "platform/PublishedProperties.h"
#include "platform/Toolkit.h"

#include <QIcon>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QEvent;
class QMenu;
class QUndoStack;
class TDesigner;
class TStretchHandle;
class TFont;
class BrickStateCommand;
struct PhotoFollow;

// The private clipboard format of one brick: its binary component stream. The text form rides
// along as text/plain.
inline constexpr char kBrickMimeType[] = "application/x-captiomark-brick";
// Several bricks copied together: each one's binary component stream, in order, in a QDataStream
// list. kBrickMimeType then carries the first of them.
inline constexpr char kBrickListMimeType[] = "application/x-captiomark-bricks";

// Tags of the popup menu's items; Copy, Cut and Paste share one handler, as do the z-order items.
enum PopupTag {
    kTagMenuFurniture = 50,
    kTagCopy = 401,
    kTagCut = 402,
    kTagPaste = 403,
    kTagBringToFront = 501,
    kTagSendToBack = 502,
};

// A property editor as the inspector looks it up: by type kind and type name, and optionally by
// the property's own name (empty: any property of that type).
struct PropertyEditorEntry {
    PropertyKind kind = PropertyKind::Integer;
    QString typeName;
    QString propertyName;
    QString editorName; // who it is, for the inspector and for tests
};

// An inspector row as far as the editor lookup needs it.
struct PropertyRowKey {
    QString propertyName;
    QString typeName;
    PropertyKind kind = PropertyKind::Integer;
};

// A brick editor: the dialog of one brick class.
struct ComponentEditorEntry {
    QString className;
    bool editsOnCreate = false;  // open the dialog as soon as a brick is placed
    bool editsOnRequest = false; // open it on double-click / Edit
    std::function<bool(QWidget*)> edit; // true when the user chose Ok
};

// The interactive design surface over the state widget TDesigner: placing bricks from the
// palette, selection through the stretch handle, the popup menu, the clipboard, z-order, delete,
// the grid, and the editor registries for the inspector.
//
// Every edit of the pattern goes through this object as a command on its undo stack; the
// pattern is modified exactly when the stack is not clean (TDesigner::PatternModified). The main
// window calls MarkSaved() after a pattern is written, ResetHistory() after one is read.
//
// Mouse and keys reach it through an application-wide event filter that acts only on events
// for the designer's widgets, with the pointer on the picture panel (edges included).
class DesignSurface : public QObject {
    Q_OBJECT

public:
    // Installs the application event filter; the handle, the stack and the menu are its own.
    explicit DesignSurface(TDesigner& designer, QObject* parent = nullptr);
    ~DesignSurface() override;

    TDesigner& Designer() const { return m_designer; }
    TStretchHandle* StretchHandle() const { return m_handle; }
    QUndoStack* UndoStack() const { return m_undo; }

    // Start-up: the hidden properties of the designer and of each brick class, the surface
    // shown in the inspector (inspectRequested), and paletteClassRegistered for each brick
    // class in palette order.
    void InitDesigner();
    // The window holding the surface became active: the handle's frame is fitted to the
    // selection again, wherever the selected bricks are now.
    void WindowActivated();
    // The popup menu's icons, from the main window's image list of its actions (the items'
    // ImageIndex into it; an index outside it or -1 shows none).
    void SetPopupImages(const QList<QIcon>& images);
    // The brick classes of the palette, in order: TText, TTextTime, TTextDate, TPictureimg,
    // TTextBubble.
    static QStringList PaletteClasses();

    // --- Placing bricks -------------------------------------------------------------------
    // The palette class that the next click on the picture places ("" = none). Setting it
    // emits pendingClassChanged.
    void SetPendingClass(const QString& className);
    QString PendingClass() const { return m_pendingClass; }
    // Hands over and clears the pending class (emits pendingClassChanged("") when one was set).
    QString TakePendingClass();

    // Creates a brick of the class with its top-left corner at a point of the surface
    // (TDesigner client coordinates), named UniqueBrickName, full-size position from the
    // preview at the zoom ratio; as one undoable command. Emits brickCreated. Throws for an
    // unknown class; returns nullptr when no image is open (zoom ratio 0).
    QWidget* CreateBrick(const QString& className, QPoint surfacePoint);
    // A palette click on the picture: CreateBrick, then the class's dialog when it edits on
    // create. Cancel there takes the brick away with its step of the history (nullptr then).
    QWidget* PlaceBrick(const QString& className, QPoint surfacePoint);
    // ClassName without its "T" and the first counter from 1 that no component of the surface
    // and no child of the picture panel bears (compared without regard to case).
    QString UniqueBrickName(const QString& className) const;

    // Hit test: the topmost child of the container (the designer when null) at a point of the
    // container, descending into the picture panel; the stretch handle is never hit. With a
    // name to skip, the first hit child of that name is passed over. Nothing hit: the
    // container itself.
    QWidget* ControlAtPoint(QPoint point, QWidget* container = nullptr,
                            const QString& skipName = QString()) const;
    // Whether a widget is a brick of this surface (not the surface, not furniture).
    bool IsBrick(const QWidget* widget) const;

    // --- Selection --------------------------------------------------------------------------
    // Select one brick (detach all, attach it) and show it in the inspector; nullptr clears.
    void Select(QWidget* brick);
    // Shift-click: add a brick of the same parent to the selection.
    void AddToSelection(QWidget* brick);
    // Shift-click on a brick: out of the selection when it is in it, else into it.
    void ToggleSelection(QWidget* brick);
    // A rubber band over the picture: every brick whose box meets the rectangle (picture panel
    // coordinates, normalised) is selected -- added to the selection with add. A band that
    // meets none clears the selection unless add.
    void SelectInRect(const QRect& panelRect, bool add);
    // The rubber band being drawn from a press on the bare picture, in panel coordinates;
    // empty when none.
    QRect BandRect() const;
    // Every brick (a bubble's tail marker goes with its bubble), the first shown in the
    // inspector.
    void SelectAll();
    void ClearSelection(); // detach all, show the surface in the inspector
    QList<QWidget*> Selection() const;
    // Re-fits the handle to the first selected control's current bounds.
    void RefreshSelection();
    // The control that the last double-click or right-click hit; the popup commands act on it.
    QWidget* TargetControl() const { return m_target; }
    void SetTargetControl(QWidget* control) { m_target = control; }
    // What the inspector shows now (the designer itself when no brick).
    QObject* Inspected() const { return m_inspected; }

    // --- Commands (each one undoable) -------------------------------------------------------
    void DeleteBrick(QWidget* brick);
    // The commands on several bricks at once (a tail marker stands for its bubble), each one
    // undo step: delete, cut, copy, z-order. Front/back keep the bricks' order among
    // themselves.
    void DeleteBricks(const QList<QWidget*>& bricks);
    void CutBricks(const QList<QWidget*>& bricks);
    void CopyBricks(const QList<QWidget*>& bricks);
    void BringToFront(const QList<QWidget*>& bricks);
    void SendToBack(const QList<QWidget*>& bricks);
    // The bricks a popup command acts on: the selection when the target is in it, else the
    // target alone.
    QList<QWidget*> PopupBricks() const;
    // Deletes every brick (as one command) -- for New/Open use ClearPattern instead.
    void DeleteAllBricks();
    // New, Open, Close pattern: removes every brick and forgets the undo history (not undoable).
    void ClearPattern();
    void CopyBrick(QWidget* brick);
    void CutBrick(QWidget* brick);
    // Pastes the brick(s) on the clipboard, as one undo step, and selects them. A stored name
    // already in use gives the brick the next free name of its class (Text2, Text3, ...); a
    // brick whose stored corner lies on the picture lands 5 pixels right and down of it, and
    // again while another brick has that corner, so pasting again gives another copy beside
    // the last. Returns the first new brick (PasteBricks: all of them).
    QWidget* PasteBrick();
    QList<QWidget*> PasteBricks();
    bool CanPaste() const;
    // A copy of each selected brick through the clipboard's stream, without the clipboard: the
    // next free name, 5 pixels right and down of its original, all in one undo step. The copies
    // are selected. Returns them.
    QList<QWidget*> DuplicateSelection();
    void BringToFront(QWidget* brick);
    void SendToBack(QWidget* brick);
    // The inspector's write: the property's text through WritePropertyText, as one command
    // (old value from PropertyValueText). Throws the property's error, nothing changed.
    void SetProperty(QObject* object, const QString& propertyName, const QString& text);
    // The inspector's write of a property that refers to another component (nothing for none),
    // as one command. Throws the property's error, nothing changed.
    void SetReference(QObject* object, const QString& propertyName, QObject* value);

    // Anchors bricks (a tail marker stands for its bubble), each to the anchor the function
    // gives it (baNone: none), keeping every one where it is: its margins are taken from its
    // place. One undo step.
    void SetAnchor(const QList<QWidget*>& bricks,
                   const std::function<Tk::TBrickAnchor(QWidget*)>& anchorOf);
    // The corner of the photo a brick's centre is nearest.
    Tk::TBrickAnchor NearestCorner(const QWidget* brick) const;
    // The photo was turned, resized or its colours adjusted (the designer's picture holds the new
    // one; before is the old one): the bricks that keep their own place follow it, the others are
    // placed on it anew. One undo step with the photo; photoRestored follows its undo and redo.
    void PhotoEdited(const QString& label, const QImage& before, bool beforeEdited,
                     bool beforeModified, const PhotoFollow& follow);
    // The photo steps of the history keep their pictures for at most this many steps and this
    // many bytes (the open photo not counted); older ones let theirs go and can no longer be
    // undone.
    static constexpr int kPhotoStepsKept = 4;
    static constexpr qint64 kPhotoHistoryBytes = 512ll << 20;
    int PhotoStepsHeld() const;
    // The selection frame's anchor mark: at the anchored point of a single selected brick.
    void UpdateAnchorMark();

    // The font (name, size, style, colour) last given to a text brick -- in the inspector or an
    // edit dialog -- is the one the next text brick placed takes. Called by the inspector's
    // writes through SetProperty and by the dialogs' Ok.
    void RememberFont(QObject* brick);
    const TFont* LastFont() const { return m_lastFont.get(); }

    // Undo history: mark the current state as saved (the pattern unmodified), or forget it
    // entirely.
    void MarkSaved();
    void ResetHistory();

    // --- Grid -------------------------------------------------------------------------------
    // The designer's grid (not undoable here; the inspector's and the menu's writes are). The
    // handle snaps to GridX x GridY while IsGrid is on, to single pixels otherwise.
    int GridX() const;
    int GridY() const;
    bool IsGrid() const;
    void SetGridX(int value); // 1..32 (clamped)
    void SetGridY(int value);
    void SetIsGrid(bool value);

    // Centres the picture panel in the designer's client area, or puts it at (0,0) when the
    // preview is larger. Call after the designer is resized or the preview changes.
    void CenterPanel();

    // --- Popup menu -------------------------------------------------------------------------
    QMenu* PopupMenu() const { return m_popup; }
    // The item of a tag (kTagCopy ...), or the Delete item for kTagMenuFurniture.
    QAction* PopupAction(int tag) const;
    QAction* DeleteAction() const { return m_actDelete; }
    QAction* ControlMenuAction() const { return m_actControl; }
    // "Anchor to Corner": checked when the hit is anchored; choosing it anchors the selection
    // (or the hit) to the nearest corner, or releases it.
    QAction* AnchorAction() const { return m_actAnchor; }
    // Enables the items for a hit (Delete, Copy, Cut and the Control submenu only for a brick;
    // Paste when CanPaste), makes it the target control and pops the menu up at a global point
    // (not shown when globalPos is null: tests).
    void ShowPopup(QWidget* hit, const QPoint* globalPos);

    // --- Registries -------------------------------------------------------------------------
    bool RegisterPropertyEditor(const PropertyEditorEntry& editor);
    // The last registered editor of the row's kind and type name whose property name is the
    // row's, else the last of that kind and type name, else null.
    const PropertyEditorEntry* FindPropertyEditor(const PropertyRowKey& row) const;
    // As Find; throws "Editor for property "<name>" as class "<type>" not found."
    const PropertyEditorEntry& GetPropertyEditor(const PropertyRowKey& row) const;
    bool RegisterComponentEditor(const ComponentEditorEntry& editor);
    const ComponentEditorEntry* FindComponentEditor(const QWidget* control) const;
    bool EditsOnCreate(const QWidget* control) const;
    bool EditsOnRequest(const QWidget* control) const;
    // Runs the brick's editor when it edits on request; true when the user chose Ok.
    bool EditBrick(QWidget* control);
    // Hidden properties: exact class, property name without regard to case.
    bool HideProperty(const QString& className, const QString& propertyName);
    bool IsPropertyHidden(const QString& className, const QString& propertyName) const;

    // Runs after the handle ends a drag: the full-size geometry of every selected brick (with
    // the bubble tail rules), then the handle re-aligned and the brick shown again.
    void StretchHandleMouseUp();

signals:
    // A palette click made a class pending, or the pending class was taken ("" = none left).
    void pendingClassChanged(const QString& className);
    // A brick placed from the palette; the main window may open its editor.
    void brickCreated(QWidget* brick);
    // The inspector should show this object (the designer itself for "the surface"); emitted
    // again for the same object when its values changed.
    void inspectRequested(QObject* object);
    void selectionChanged();
    // InitDesigner: one per palette class.
    void paletteClassRegistered(const QString& className, const QString& category);
    // A double-click on a brick without a brick editor: bring the inspector to the front.
    void inspectorWanted();
    // An undo or redo put another photo back on the designer: the window fits it anew.
    void photoRestored();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class BrickPresenceCommand;
    friend class GeometryCommand;
    friend class ZOrderCommand;
    friend class SetPropertyCommand;
    friend class SetReferenceCommand;
    friend class BrickStateCommand;
    bool HandleMouse(QWidget* receiver, QEvent* event);
    bool HandleKey(QWidget* receiver, QEvent* event);
    bool HandleBand(QEvent* event);
    // The bricks proper (a marker's bubble) among widgets, each once, in order.
    QList<QWidget*> BricksAmong(const QList<QWidget*>& widgets) const;
    // Moves a brick 5 pixels right and down, and again while another brick has its corner.
    void StepAside(QWidget* brick);
    QByteArray StreamsOf(const QList<QWidget*>& bricks) const;
    void Inspect(QObject* object);
    void AfterPropertyWrite(QObject* object, const QString& propertyName);
    void PushAdded(QWidget* brick, const QString& text);
    void OnDragFinished(const QList<QRect>& before, const QList<QRect>& after);
    void OnNudged(const QList<QRect>& before, const QList<QRect>& after, bool resized);
    // A tail marker being dragged: its bubble is shown with the tail at the pointer meanwhile.
    void OnDragMoved(const QRect& landing);
    // Puts the bubble of a tail drag back as it was before the drag (all but the selection, or
    // every brick the drag touched).
    void EndLiveTail(bool selectionToo);
    void ChangeZOrder(const QList<QWidget*>& bricks, bool toFront);
    void BuildPopup();
    void OnHandleMouseUp();
    void UpdateSelectedGeometry();
    // Re-fits the frame to the selection when a control's bounds changed under it.
    void RealignHandle();
    void ForgetWidget(QWidget* widget); // about to leave the panel: out of selection and target
    // The handle's snap steps from the designer's grid.
    void SyncGrid();
    // A brick read from a component stream onto the panel, set up as pasted (not yet on the
    // undo stack). With rename (a duplicate), it takes the next free name instead of the
    // stored one and always lands 5 pixels right and down of the stored place.
    std::unique_ptr<QWidget> InsertStream(const QByteArray& stream, bool rename);
    // Takes bricks inserted by InsertStream off the surface again (a failed paste).
    void DiscardInserted(const QList<QWidget*>& bricks);

    TDesigner& m_designer;
    TStretchHandle* m_handle;
    QUndoStack* m_undo;
    QMenu* m_popup = nullptr;
    QAction* m_actEdit = nullptr;
    QAction* m_actCopy = nullptr;
    QAction* m_actCut = nullptr;
    QAction* m_actPaste = nullptr;
    QAction* m_actControl = nullptr;
    QAction* m_actFront = nullptr;
    QAction* m_actBack = nullptr;
    QAction* m_actDelete = nullptr;
    QAction* m_actAnchor = nullptr;

    QString m_pendingClass;
    QPointer<QWidget> m_target;
    QPointer<QObject> m_inspected;
    QPoint m_lastHit;
    // A rubber band from a press on the bare picture: where it started (panel coordinates),
    // whether Shift adds to the selection, and the band shown.
    std::optional<QPoint> m_bandOrigin;
    bool m_bandAdds = false;
    QRect m_band;
    QPointer<QWidget> m_bandWidget;

    std::vector<std::unique_ptr<PropertyEditorEntry>> m_propertyEditors;
    std::vector<std::unique_ptr<ComponentEditorEntry>> m_componentEditors;
    QList<QPair<QString, QString>> m_hidden;

    // The selection's state when a drag ended, until the handle's mouse-up makes it a command.
    struct PendingDrag;
    std::unique_ptr<PendingDrag> m_pendingDrag;
    // A tail drag in progress: the bricks it touches as they were when it began.
    std::unique_ptr<PendingDrag> m_liveTail;
    // The history's photo steps, oldest first.
    QList<BrickStateCommand*> m_photoSteps;
    std::unique_ptr<TFont> m_lastFont;
    void BoundPhotoHistory();
};
