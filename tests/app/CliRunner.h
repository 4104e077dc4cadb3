#pragma once

#include <QString>
#include <QStringList>

struct CliRun {
    int code = -1; // -1 when the tool crashed or did not finish
    QString out;
    QString err;
};

// Runs the built captiomark-cli headless, with its settings in configDir; with a launcher
// (for example prlimit and its options), through it.
CliRun runCli(const QStringList& args, const QString& configDir, const QStringList& launcher = {});
