#include "platform/ConfigDir.h"

#include <QDir>
#include <QStandardPaths>

QString ConfigDir() {
    const QString overridden = qEnvironmentVariable("CAPTIOMARK_CONFIG_DIR");
    if (!overridden.isEmpty())
        return QDir::cleanPath(overridden);
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/captiomark"));
}
