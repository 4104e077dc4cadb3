#pragma once

#include <QString>
#include <QStringList>

struct CliRun {
    int code = -1; // -1 when the tool crashed or did not finish
    QString out;
    QString err;
};

// Runs the built captiomark-cli headless, with its settings in configDir.
CliRun runCli(const QStringList& args, const QString& configDir);

// The same, run as the unprivileged user nobody (setpriv when root), so that permission failures
// happen even when the tests run as root.
CliRun runCliAsNobody(const QStringList& args, const QString& configDir);
