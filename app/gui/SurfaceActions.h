#pragma once

#include "designer/surface/DesignSurface.h"

#include <QObject>
#include <QPointer>

struct QMetaObject;

// The main window's way to the design surface's editing commands (selection, clipboard, z-order,
// undo, alignment, placing the palette's pending class). Until a surface is connected,
// connected() is false, every can...() is false and every command does nothing, so the window
// keeps the actions that use it disabled.
class SurfaceActions : public QObject {
    Q_OBJECT

public:
    enum class Alignment { Left, HorizontalCentre, Right, Top, VerticalCentre, Bottom };

    explicit SurfaceActions(QObject* parent = nullptr) : QObject(parent) {}

    // Forwards to the surface from now on; its selection, clipboard and undo stack drive
    // stateChanged.
    void connectTo(DesignSurface* surface);
    bool connected() const { return m_surface != nullptr; }
    DesignSurface* surface() const { return m_surface; }

    // Enabling: a brick is selected (copy, cut, delete, z-order, alignment); the clipboard holds
    // a brick; the undo stack has a step either way.
    bool hasSelection() const;
    bool hasBricks() const;
    bool canPaste() const;
    bool canUndo() const;
    bool canRedo() const;

    void copy();
    void cut();
    void paste();
    void duplicate();
    void selectAll();
    void deleteSelection();
    void bringToFront();
    void sendToBack();
    void undo();
    void redo();
    // The other selected bricks line up with the first one selected, as one undo step.
    void align(Alignment alignment);
    // The class the next click on the picture creates (nullptr: the arrow).
    void setPendingClass(const QMetaObject* brickClass);

signals:
    // The selection, clipboard or undo stack changed: the window re-evaluates its actions.
    void stateChanged();

private:
    QWidget* selected() const;

    QPointer<DesignSurface> m_surface;
};
