#pragma once

#include "designer/dialogs/BrickSnapshot.h"
#include "inspector/PropertyRows.h"

#include <QPointer>
#include <QUndoCommand>
#include <functional>

class DesignSurface;

// One Ok of a brick's edit dialog: undo puts the brick back as it was before the dialog, redo as
// the dialog left it. The dialog has already applied its change when the command is pushed.
class BrickEditCommand : public QUndoCommand {
public:
    BrickEditCommand(DesignSurface& surface, QObject* brick, const BrickSnapshot& before,
                     const BrickSnapshot& after);
    void undo() override;
    void redo() override;

private:
    void apply(const BrickSnapshot& snapshot);

    DesignSurface& m_surface;
    QPointer<QObject> m_brick;
    BrickSnapshot m_before;
    BrickSnapshot m_after;
    bool m_applied = true;
};

// The inspector's writes as the surface's commands: each write one undo step, a group of writes
// (a dialog's Ok on a nested object) one macro.
class SurfacePropertyWriter : public PropertyWriter {
public:
    SurfacePropertyWriter(DesignSurface& surface, std::function<QList<QObject*>()> components)
        : m_surface(surface), m_components(std::move(components)) {}
    void WriteProperty(QObject* object, const QString& propertyName, const QString& oldText,
                       const QString& newText) override;
    void BeginGroup(const QString& label) override;
    void EndGroup() override;

private:
    DesignSurface& m_surface;
    std::function<QList<QObject*>()> m_components;
};
