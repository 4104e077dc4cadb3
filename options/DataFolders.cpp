#include "options/DataFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
// Where each folder sits in the source tree.
QString sourceFolder(const QString& name) {
    const QString root = QStringLiteral(CAPTIOMARK_SOURCE_DIR);
    if (name == QLatin1String("guide"))
        return root + QStringLiteral("/docs/guide");
    return root + QStringLiteral("/data/") + name;
}
} // namespace

QStringList DataFolderCandidates(const QString& name, const QString& executableDir) {
    QStringList out;
    auto add = [&out](const QString& path) {
        const QString clean = QDir::cleanPath(path);
        if (!out.contains(clean))
            out << clean;
    };
    add(executableDir + QLatin1Char('/') + name);
    add(executableDir + QStringLiteral("/../share/captiomark/") + name);
    add(QStringLiteral(CAPTIOMARK_INSTALL_DATADIR) + QLatin1Char('/') + name);
    add(sourceFolder(name));
    return out;
}

QString FindDataFolder(const QString& name, const QString& executableDir) {
    for (const QString& candidate : DataFolderCandidates(name, executableDir))
        if (QFileInfo(candidate).isDir())
            return candidate;
    return QString();
}

QString FindDataFolder(const QString& name) {
    return FindDataFolder(name, QCoreApplication::applicationDirPath());
}
