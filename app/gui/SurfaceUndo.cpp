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
    if (ReferencedClass(object, propertyName)) {
        // A reference to another component: by its name among the surface's, none when empty;
        // a name that is no component's writes nothing.
        QObject* value = nullptr;
        if (!newText.isEmpty()) {
            for (QObject* c : m_components())
                if (c->objectName().compare(newText, Qt::CaseInsensitive) == 0) {
                    value = c;
                    break;
                }
            if (!value)
                return;
        }
        m_surface.SetReference(object, propertyName, value);
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
