#pragma once

#include "inspector/InspectorCells.h"
#include "inspector/PropertyRows.h"

#include <QDockWidget>
#include <QRect>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QToolButton;
class QMenu;
class QAction;
class QTableView;
class TDesigner;
class TInspectorGrid;
class TInspectorTableModel;
class TInplaceEditor;

// The object inspector: a tool window listing the published properties of one object as rows
// of name and value, edited in place. It floats by default: in a main window, floating is its
// stay-on-top state (docked otherwise); as a window of its own it takes the stay-on-top hint.
// Window placement is the window system's business (Wayland lets no program place its windows),
// so the position kept in a pattern may not take.
class TObjectInspector : public QDockWidget {
    Q_OBJECT

public:
    explicit TObjectInspector(QWidget* parent = nullptr);
    ~TObjectInspector() override;

    TInspectorModel& Model() { return m_model; }
    const TInspectorModel& Model() const { return m_model; }

    // The design surface whose components the object list offers.
    void SetDesigner(TDesigner* designer);
    // Shows an object's properties; nothing clears the grid.
    void Inspect(QObject* object);
    // Sort by name (true) or by creation; the menu's check marks follow.
    void SetSorted(bool byName);
    bool Sorted() const { return m_model.Sorted(); }
    // After a write: the current row's text again, the grid repainted.
    void RefreshRow();
    // The shown object's values read anew (after a write or an undo), keeping the current row
    // (by property name) and the keyboard focus where they were.
    void Refresh();
    // The message of the last write that failed, while its text waits in the edit box; empty
    // once a write succeeds.
    QString LastWriteError() const { return m_lastError; }
    int Skin() const { return m_skin; }
    void SetSkin(int skin);
    // Told when the user picks an object in the object list (the surface moves its stretch
    // handle there).
    void SetObjectChosen(std::function<void(QObject*)> chosen) {
        m_objectChosen = std::move(chosen);
    }

    // What a pattern file keeps of the window.
    QRect WindowBounds() const;
    void SetWindowBounds(const QRect& bounds);
    int ColWidth() const;
    void SetColWidth(int width);
    bool AlwaysOnTop() const;
    void SetAlwaysOnTop(bool onTop);

    // The parts, for the surface and for tests.
    QComboBox* ParentObjects() const { return m_parentObjects; }
    QTableView* Grid() const;
    QMenu* PopupMenu() const { return m_popup; }
    TInplaceEditor* InplaceEditor() const { return m_inplace; }
    int CurrentRow() const;
    void SetCurrentRow(int row);

    // The in-place editor's requests.
    void WriteCurrent(const QString& text);
    void CycleCurrent();
    void EditCurrent();
    void MoveRow(int delta);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void fillGrid();
    void fillObjectList();
    void relayoutColumns();
    // reload: the rows changed, so the controls are read anew even on the same row number.
    void placeInplaceEditor(bool reload = false);
    void parentObjectsClick(int index);

    TInspectorModel m_model;
    int m_skin = 511;
    int m_minNameWidth = 0;
    bool m_alwaysOnTop = true;
    QString m_lastError;
    std::function<void(QObject*)> m_objectChosen;

    QWidget* m_panel = nullptr; // OIPanel
    QComboBox* m_parentObjects = nullptr;
    TInspectorGrid* m_grid = nullptr; // OIMainGrid
    TInspectorTableModel* m_table = nullptr;
    TInplaceEditor* m_inplace = nullptr;
    QMenu* m_popup = nullptr; // OIPopupMenu
    QAction* m_sortedAction = nullptr;
    QAction* m_unsortedAction = nullptr;
    QAction* m_stayOnTopAction = nullptr;
    QList<QAction*> m_skinActions;

    friend class TInspectorGrid;
};

// The in-place controls over the current value cell: an edit box or a read-only text, a
// drop-down button with its list (or check list for a set), an ellipsis button for a row with an
// editor, and the swatch or icon of a colour or alignment row.
class TInplaceEditor : public QWidget {
    Q_OBJECT

public:
    TInplaceEditor(TObjectInspector& inspector, QWidget* parent);

    // Shows the controls for a row of the inspector's model; -1 hides them.
    void SetRow(int row);
    int Row() const { return m_row; }

    bool EditBoxShown() const;
    bool ReadOnlyShown() const;
    bool DropDownShown() const;
    bool EllipsisShown() const;
    QString Text() const; // what the edit box or the read-only text shows
    void SetEditText(const QString& text);
    QLineEdit* EditBox() const { return m_value; }
    QLabel* ReadOnlyText() const { return m_readOnly; }
    QToolButton* DropDownButton() const { return m_down; }
    QToolButton* EllipsisButton() const { return m_editor; }
    QListWidget* List() const { return m_list; }
    QListWidget* CheckList() const { return m_checkList; }
    bool ListOpen() const;

    void OpenDropDown(); // oihDownClick
    void ChooseListItem(int index);
    // A set row's check list: the ticked elements written as the row's value.
    void WriteTicks();
    void Enter();  // Enter in the edit box
    void Escape(); // the cell's text back, then as Enter

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutControls();
    void closeLists();
    CellDecoration decoration() const;
    bool m_ticking = false; // writing a set's ticks: its list stays open

    TObjectInspector& m_inspector;
    int m_row = -1;
    bool m_readOnlyMode = false;
    QLineEdit* m_value;
    QLabel* m_readOnly;
    QToolButton* m_down;
    QToolButton* m_editor;
    QListWidget* m_list;
    QListWidget* m_checkList;
};
