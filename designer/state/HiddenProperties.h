#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The published properties the inspector does not show, per class (the exact class name, no
// inheritance): the surface's own window furniture, and per brick class what a caption editor
// has no use for. In the order the surface registers them.
struct HiddenClassProperties {
    QString className;
    QStringList names;
};
const QList<HiddenClassProperties>& HiddenPropertyTable();

// The hidden names of one class (empty when it hides none).
QStringList HiddenPropertiesOf(const QString& className);
