#pragma once

#include <QObject>

struct QMetaObject;

// The main window's way to the design surface's editing commands (selection, clipboard, z-order,
// undo, alignment, placing the palette's pending class). Not connected to a surface yet:
// connected() is false, every can...() is false and every command does nothing, so the window
// keeps the actions that use it disabled.
class SurfaceActions : public QObject {
    Q_OBJECT

public:
    enum class Alignment { Left, HorizontalCentre, Right, Top, VerticalCentre, Bottom };

    explicit SurfaceActions(QObject* parent = nullptr) : QObject(parent) {}

    bool connected() const { return false; }

    // Enabling: a brick is selected (copy, cut, delete, z-order, alignment); the clipboard holds
    // a brick; the undo stack has a step either way.
    bool hasSelection() const { return false; }
    bool canPaste() const { return false; }
    bool canUndo() const { return false; }
    bool canRedo() const { return false; }

    void copy() {}
    void cut() {}
    void paste() {}
    void deleteSelection() {}
    void bringToFront() {}
    void sendToBack() {}
    void undo() {}
    void redo() {}
    void align(Alignment) {}
    // The class the next click on the picture creates (nullptr: the arrow).
    void setPendingClass(const QMetaObject*) {}

signals:
    // The selection, clipboard or undo stack changed: the window re-evaluates its actions.
    void stateChanged();
};
