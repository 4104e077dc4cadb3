#include "app/gui/SurfaceUndo.h"

#include "designer/surface/DesignSurface.h"
#include "platform/PublishedProperties.h"

#include <QUndoStack>
#include <QWidget>

BrickEditCommand::BrickEditCommand(DesignSurface& surface, QObject* brick,
                                   const BrickSnapshot& before, const BrickSnapshot& after)
    : QUndoCommand(QStringLiteral("Edit %1").arg(brick ? brick->objectName() : QString())),
      m_surface(surface), m_brick(brick), m_before(before), m_after(after) {
    // The font chosen in the dialog is the one the next brick takes.
    m_surface.RememberFont(brick);
}

void BrickEditCommand::undo() {
    apply(m_before);
    m_applied = false;
}

void BrickEditCommand::redo() {
    // The push itself: the dialog left the brick as it should be.
    if (m_applied)
        return;
    apply(m_after);
    m_applied = true;
}

void BrickEditCommand::apply(const BrickSnapshot& snapshot) {
    if (!m_brick)
        return;
    RestoreBrickSnapshot(m_brick, snapshot);
    m_surface.RefreshSelection();
    if (auto* w = qobject_cast<QWidget*>(m_brick.data()))
        w->update();
    emit m_surface.inspectRequested(m_surface.Inspected());
}

void SurfacePropertyWriter::WriteProperty(QObject* object, const QString& propertyName,
                                          const QString& oldText, const QString& newText) {
    Q_UNUSED(oldText);
    // A reference to another component is no value text the surface's command can write.
    const auto published = FindPublishedProperty(object, propertyName);
    if (published && published->kind == PropertyKind::Class) {
        WritePropertyOrReference(object, propertyName, newText, m_components());
        return;
    }
    m_surface.SetProperty(object, propertyName, newText);
}

void SurfacePropertyWriter::BeginGroup(const QString& label) {
    m_surface.UndoStack()->beginMacro(label);
}

void SurfacePropertyWriter::EndGroup() {
    m_surface.UndoStack()->endMacro();
}
