#pragma once

#include "platform/Errors.h"

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// The component-streaming registry: classes registered by name can be created again from the
// class name written in a stream.
using ComponentFactory = std::function<QWidget*(QWidget* parent)>;

void RegisterComponentClass(const QString& className, ComponentFactory factory);
bool IsComponentClassRegistered(const QString& className);
QStringList RegisteredComponentClasses();
// Throws Exception("Class <name> not found") for an unknown class.
QWidget* CreateComponent(const QString& className, QWidget* parent);
