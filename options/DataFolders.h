#pragma once

#include <QString>
#include <QStringList>

// The data the program ships beside its code: "Language" (tip texts) and "guide" (the user
// guide). Looked for beside the executable, then in the installed data folder
// (<prefix>/share/captiomark, found from the executable's folder or the configured prefix),
// then in the source tree, so tests and uninstalled builds find them too.
QStringList DataFolderCandidates(const QString& name, const QString& executableDir);
// The first candidate that is an existing folder; empty when none is.
QString FindDataFolder(const QString& name, const QString& executableDir);
// The same for the running program (QCoreApplication::applicationDirPath()).
QString FindDataFolder(const QString& name);
