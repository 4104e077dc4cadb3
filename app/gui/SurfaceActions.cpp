#include "app/gui/SurfaceActions.h"

#include "bricks/BrickPlacement.h"
#include "designer/state/TDesigner.h"
#include "designer/surface/DesignSurface.h"
#include "designer/surface/DesignerBricks.h"

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
    if (selected())
        m_surface->CopyBricks(m_surface->Selection());
}

void SurfaceActions::cut() {
    if (selected())
        m_surface->CutBricks(m_surface->Selection());
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
    if (selected())
        m_surface->DeleteBricks(m_surface->Selection());
}

void SurfaceActions::bringToFront() {
    if (selected())
        m_surface->BringToFront(m_surface->Selection());
}

void SurfaceActions::sendToBack() {
    if (selected())
        m_surface->SendToBack(m_surface->Selection());
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
    // In full-size photo pixels, the inspector's and the render's.
    const auto fullRect = [](QWidget* brick) {
        const auto v = [brick](const char* name) {
            return FullSizeValue(brick, QLatin1String(name)).value_or(0);
        };
        return QRect(v("Left"), v("Top"), v("Width"), v("Height"));
    };
    const QRect anchor = fullRect(selection.constFirst());
    QUndoStack* stack = m_surface->UndoStack();
    stack->beginMacro(QStringLiteral("Align"));
    // Ends the macro also when a write throws.
    struct EndMacro {
        QUndoStack* stack;
        ~EndMacro() { stack->endMacro(); }
    } end{stack};
    for (int i = 1; i < selection.size(); ++i) {
        QWidget* brick = selection[i];
        const QRect r = fullRect(brick);
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

bool SurfaceActions::selectionAnchored() const {
    if (!m_surface)
        return false;
    const QList<QWidget*> selection = m_surface->Selection();
    for (QWidget* brick : selection) {
        const BrickLayout* layout = LayoutOf(brick);
        if (!layout || !layout->anchored())
            return false;
    }
    return !selection.isEmpty();
}

void SurfaceActions::anchorToCorner() {
    if (!m_surface)
        return;
    const bool release = selectionAnchored();
    DesignSurface* surface = m_surface;
    surface->SetAnchor(surface->Selection(), [surface, release](QWidget* brick) {
        return release ? Tk::baNone : surface->NearestCorner(brick);
    });
}

void SurfaceActions::setPendingClass(const QMetaObject* brickClass) {
    if (m_surface)
        m_surface->SetPendingClass(brickClass ? QString::fromLatin1(brickClass->className())
                                              : QString());
}
