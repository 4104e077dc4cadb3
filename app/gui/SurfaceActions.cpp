#include "app/gui/SurfaceActions.h"

#include "designer/state/TDesigner.h"
#include "designer/surface/DesignSurface.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>
#include <QUndoStack>
#include <QWidget>

void SurfaceActions::connectTo(DesignSurface* surface) {
    m_surface = surface;
    if (!surface)
        return;
    QUndoStack* stack = surface->UndoStack();
    connect(surface, &DesignSurface::selectionChanged, this, &SurfaceActions::stateChanged);
    connect(stack, &QUndoStack::indexChanged, this, &SurfaceActions::stateChanged);
    connect(stack, &QUndoStack::cleanChanged, this, &SurfaceActions::stateChanged);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &SurfaceActions::stateChanged);
    emit stateChanged();
}

QWidget* SurfaceActions::selected() const {
    if (!m_surface)
        return nullptr;
    const QList<QWidget*> selection = m_surface->Selection();
    return selection.isEmpty() ? nullptr : selection.constFirst();
}

bool SurfaceActions::hasSelection() const {
    return selected() != nullptr;
}

bool SurfaceActions::hasBricks() const {
    return m_surface && !m_surface->Designer().Bricks().isEmpty();
}

bool SurfaceActions::canPaste() const {
    return m_surface && m_surface->CanPaste();
}

bool SurfaceActions::canUndo() const {
    return m_surface && m_surface->UndoStack()->canUndo();
}

bool SurfaceActions::canRedo() const {
    return m_surface && m_surface->UndoStack()->canRedo();
}

void SurfaceActions::copy() {
    if (QWidget* brick = selected())
        m_surface->CopyBrick(brick);
}

void SurfaceActions::cut() {
    if (QWidget* brick = selected())
        m_surface->CutBrick(brick);
}

void SurfaceActions::paste() {
    if (m_surface)
        m_surface->PasteBrick();
}

void SurfaceActions::duplicate() {
    if (m_surface)
        m_surface->DuplicateSelection();
}

void SurfaceActions::selectAll() {
    if (m_surface)
        m_surface->SelectAll();
}

void SurfaceActions::deleteSelection() {
    if (QWidget* brick = selected())
        m_surface->DeleteBrick(brick);
}

void SurfaceActions::bringToFront() {
    if (QWidget* brick = selected())
        m_surface->BringToFront(brick);
}

void SurfaceActions::sendToBack() {
    if (QWidget* brick = selected())
        m_surface->SendToBack(brick);
}

void SurfaceActions::undo() {
    if (m_surface)
        m_surface->UndoStack()->undo();
}

void SurfaceActions::redo() {
    if (m_surface)
        m_surface->UndoStack()->redo();
}

void SurfaceActions::align(Alignment alignment) {
    if (!m_surface)
        return;
    const QList<QWidget*> selection = m_surface->Selection();
    if (selection.size() < 2)
        return;
    const QRect anchor = selection.constFirst()->geometry();
    QUndoStack* stack = m_surface->UndoStack();
    stack->beginMacro(QStringLiteral("Align"));
    // Ends the macro also when a write throws.
    struct EndMacro {
        QUndoStack* stack;
        ~EndMacro() { stack->endMacro(); }
    } end{stack};
    for (int i = 1; i < selection.size(); ++i) {
        QWidget* brick = selection[i];
        const QRect r = brick->geometry();
        switch (alignment) {
        case Alignment::Left:
            m_surface->SetProperty(brick, QStringLiteral("Left"), QString::number(anchor.left()));
            break;
        case Alignment::HorizontalCentre:
            m_surface->SetProperty(brick, QStringLiteral("Left"),
                                   QString::number(anchor.center().x() - r.width() / 2));
            break;
        case Alignment::Right:
            m_surface->SetProperty(brick, QStringLiteral("Left"),
                                   QString::number(anchor.x() + anchor.width() - r.width()));
            break;
        case Alignment::Top:
            m_surface->SetProperty(brick, QStringLiteral("Top"), QString::number(anchor.top()));
            break;
        case Alignment::VerticalCentre:
            m_surface->SetProperty(brick, QStringLiteral("Top"),
                                   QString::number(anchor.center().y() - r.height() / 2));
            break;
        case Alignment::Bottom:
            m_surface->SetProperty(brick, QStringLiteral("Top"),
                                   QString::number(anchor.y() + anchor.height() - r.height()));
            break;
        }
    }
}

void SurfaceActions::setPendingClass(const QMetaObject* brickClass) {
    if (m_surface)
        m_surface->SetPendingClass(brickClass ? QString::fromLatin1(brickClass->className())
                                              : QString());
}
