#include "platform/ComponentRegistry.h"

#include <QHash>

namespace {
struct Registry {
    QHash<QString, ComponentFactory> factories;
    QStringList order;
};
Registry& registry() {
    static Registry r;
    return r;
}
// Class names compare without regard to case, as the toolkit's registry does.
QString key(const QString& name) {
    return name.toLower();
}
} // namespace

void RegisterComponentClass(const QString& className, ComponentFactory factory) {
    Registry& r = registry();
    if (!r.factories.contains(key(className)))
        r.order.append(className);
    r.factories.insert(key(className), std::move(factory));
}

bool IsComponentClassRegistered(const QString& className) {
    return registry().factories.contains(key(className));
}

QStringList RegisteredComponentClasses() {
    return registry().order;
}

QWidget* CreateComponent(const QString& className, QWidget* parent) {
    const auto it = registry().factories.constFind(key(className));
    if (it == registry().factories.constEnd())
        throw Exception(QStringLiteral("Class %1 not found").arg(className));
    return (*it)(parent);
}
