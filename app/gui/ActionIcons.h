#pragma once

#include <QIcon>
#include <QList>
#include <QString>

// The desktop's icon for a name of the freedesktop naming scheme, else our own drawing of it
// (data/icons/actions, built into the program) for themes that lack one.
QIcon ThemedIcon(const QString& themeName, const QString& ownName);

// Which icon each action of the tool bars shows: the theme's name and our own.
struct ActionIconName {
    const char* action;
    const char* theme;
    const char* own;
};
const QList<ActionIconName>& ActionIconNames();
