#pragma once

#include "designer/handles/StretchGeometry.h"
#include "platform/Errors.h"
#include "platform/Toolkit.h"

#include <QList>
#include <QMenu>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <optional>

class TDragOutline;

// The selection frame of the design surface: a transparent child laid over the selected controls
// of one parent. It paints small squares at their corners, moves the selection by dragging or
// with the arrow keys and resizes a single sizable control by its eight grab zones, optionally
// snapping to a grid. Presses on its transparent area that miss the selection are passed on to
// what lies beneath.
class TStretchHandle : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TColor Color READ Color WRITE setColor)
    Q_PROPERTY(TColor SecondaryColor READ SecondaryColor WRITE setSecondaryColor)
    Q_PROPERTY(bool Locked READ Locked WRITE setLocked)
    Q_PROPERTY(GridValues GridX READ GridX WRITE setGridX)
    Q_PROPERTY(GridValues GridY READ GridY WRITE setGridY)
    Q_PROPERTY(bool SnapToGrid READ SnapToGrid WRITE setSnapToGrid)
    Q_PROPERTY(bool Sizable READ Sizable WRITE setSizable)
    Q_PROPERTY(TCursor DragCursor READ DragCursor WRITE setDragCursor)
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabledFlag)
    Q_PROPERTY(QString Hint READ Hint WRITE setHint)
    Q_PROPERTY(bool ParentShowHint READ ParentShowHint WRITE setParentShowHint)
    Q_PROPERTY(QMenu* PopupMenu READ PopupMenu WRITE setPopupMenu)
    Q_PROPERTY(bool ShowHint READ ShowHint WRITE setShowHint)
    Q_PROPERTY(bool Visible READ Visible WRITE setVisibleFlag)
    Q_CLASSINFO("type:Color", "TColor")
    Q_CLASSINFO("type:SecondaryColor", "TColor")
    Q_CLASSINFO("default:SecondaryColor", "clGray")
    Q_CLASSINFO("default:Locked", "False")
    Q_CLASSINFO("type:GridX", "GridValues")
    Q_CLASSINFO("default:GridX", "8")
    Q_CLASSINFO("type:GridY", "GridValues")
    Q_CLASSINFO("default:GridY", "8")
    Q_CLASSINFO("type:DragCursor", "TCursor")
    Q_CLASSINFO("default:DragCursor", "crDrag")
    Q_CLASSINFO("default:Enabled", "True")
    Q_CLASSINFO("default:ParentShowHint", "True")
    Q_CLASSINFO("default:ShowHint", "False")
    Q_CLASSINFO("default:Visible", "True")

public:
    explicit TStretchHandle(QWidget* parent = nullptr);
    ~TStretchHandle() override;

    // Selection.
    void Attach(QWidget* control);
    void DetachAll();
    int IndexOf(const QWidget* control) const;
    bool HasSelection() const;
    int SelectionCount() const;
    QWidget* SelectedControl(int index) const;
    void BringSelectionToFront();

    // A small mark at a point of the parent (on the selection), or none: where the selected brick
    // is anchored.
    void SetAnchorMark(std::optional<QPoint> inParent);
    std::optional<QPoint> AnchorMark() const { return m_anchorMark; }

    // The frame's bounds setter: moves and sizes the selection by the same differences.
    void SetBounds(int left, int top, int width, int height);

    // Ends a drag in progress without applying it (Escape): nothing moves, and the release that
    // follows is taken without effect.
    void CancelDrag();

    // Published properties.
    TColor Color() const { return m_color; }
    TColor SecondaryColor() const { return m_secondaryColor; }
    bool Locked() const { return m_locked; }
    GridValues GridX() const { return m_gridX; }
    GridValues GridY() const { return m_gridY; }
    bool SnapToGrid() const;
    bool Sizable() const { return m_sizable; }
    TCursor DragCursor() const { return m_dragCursor; }
    bool Enabled() const { return isEnabled(); }
    QString Hint() const { return m_hint; }
    bool ParentShowHint() const { return m_parentShowHint; }
    QMenu* PopupMenu() const { return m_popupMenu; }
    bool ShowHint() const { return m_showHint; }
    bool Visible() const { return !isHidden(); }

    void setColor(TColor v);
    void setSecondaryColor(TColor v);
    void setLocked(bool v);
    void setGridX(int v) { m_gridX = StretchGeometry::ClampGrid(v); }
    void setGridY(int v) { m_gridY = StretchGeometry::ClampGrid(v); }
    void setSnapToGrid(bool v);
    void setSizable(bool v) { m_sizable = v; }
    void setDragCursor(TCursor v) { m_dragCursor = v; }
    void setEnabledFlag(bool v) { setEnabled(v); }
    void setHint(const QString& v);
    void setParentShowHint(bool v) { m_parentShowHint = v; }
    void setPopupMenu(QMenu* v) { m_popupMenu = v; }
    void setShowHint(bool v) { m_showHint = v; }
    void setVisibleFlag(bool v) { setVisible(v); }

    // Drag state, for the surface and for tests.
    bool Dragging() const { return m_dragging; }
    int DragZone() const { return m_dragZone; }
    QPoint DragOrigin() const { return m_dragOrigin; }
    // The outline last drawn during a drag, as a frame rectangle in the parent's coordinates;
    // empty (all zero) when none is shown.
    QRect RubberBand() const { return m_rubberBand; }
    // The cursor identifier the frame shows now.
    TCursor CurrentCursor() const { return m_cursorId; }

signals:
    void clicked();
    void doubleClicked();
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void mouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
    // Raised at the end of every completed left-button drag, moved or not.
    void mouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void keyDown(int key, Qt::KeyboardModifiers shift);
    void keyUp(int key, Qt::KeyboardModifiers shift);
    void keyPress(const QString& text);
    // A drag that changed the selection's geometry, raised just before mouseUp: the bounds of
    // each selected control (in selection order) before and after.
    void dragFinished(const QList<QRect>& before, const QList<QRect>& after);
    // During a drag, at every pointer move: the frame where the drag would put it now.
    void dragMoved(const QRect& landing);
    // A drag ended by CancelDrag.
    void dragCancelled();
    // An arrow key that moved (or, with Shift, resized) the selection.
    void nudged(const QList<QRect>& before, const QList<QRect>& after, bool resized);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QList<QRect> SelectionRects() const;
    bool SizingOffered() const;
    bool InGrabArea(QPoint p) const;
    QPoint Clamped(QPoint p) const;
    // Where a drag to the (clamped) pointer puts the frame.
    QRect Landing(QPoint clampedPointer) const;
    void ShowCursorId(TCursor id);
    void DrawRubberBand(const QRect& frame);
    void EraseRubberBand();
    void PassOn(QMouseEvent* event);
    void Capture();
    void ReleaseCapture();
    void FocusIfPossible();

    bool m_sizable = false;
    QPoint m_dragOrigin;
    int m_dragZone = StretchGeometry::zMove;
    bool m_dragging = false;
    QRect m_rubberBand;
    bool m_locked = false;
    TColor m_color = clBlack;
    TColor m_secondaryColor = 0x808080;
    GridValues m_gridX = 1;
    GridValues m_gridY = 1;
    QList<QPointer<QWidget>> m_selection;

    TCursor m_dragCursor = StretchGeometry::crDrag;
    QString m_hint;
    bool m_parentShowHint = true;
    bool m_showHint = false;
    QPointer<QMenu> m_popupMenu;
    TCursor m_cursorId = StretchGeometry::crDefault;
    QPointer<TDragOutline> m_outline;
    bool m_pressedHere = false;
    bool m_swallowRelease = false;
    std::optional<QPoint> m_anchorMark;
};
