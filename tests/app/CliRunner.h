#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

struct CliRun {
    int code = -1; // -1 when the tool crashed or did not finish
    QString out;
    QString err;
};

// Runs the built captiomark-cli headless, with its settings in configDir.
CliRun runCli(const QStringList& args, const QString& configDir);
// The same, started through a launcher command line that ends with the program to run, e.g.
// {"prlimit", "--fsize=4096", "--"}.
CliRun runCliVia(const QStringList& launcher, const QStringList& args, const QString& configDir);
// The same with some environment variables set (over the headless defaults), e.g. a display.
CliRun runCliWithEnv(const QStringList& args, const QString& configDir,
                     const QMap<QString, QString>& env);

// The same with the test's fault injection preloaded into the tool (tests/app/FaultInjection.cpp
// says which variables drive it), e.g. {{"CAPTIOMARK_FAULT_DIR", dir}, {"CAPTIOMARK_FAULT_STEP",
// "3"}, {"CAPTIOMARK_FAULT_ACTION", "kill-before"}}. A killed tool gives code -1.
CliRun runCliWithFaults(const QStringList& args, const QString& configDir,
                        const QMap<QString, QString>& env);

// SHA-256 of a file's bytes (empty when it cannot be read), and of every file of a folder by
// name: the originals a command must leave alone are compared before and after it.
QByteArray sha256Of(const QString& file);
QMap<QString, QByteArray> folderSha256(const QString& dir);

// The same, run as the unprivileged user nobody (setpriv when root), so that permission failures
// happen even when the tests run as root.
CliRun runCliAsNobody(const QStringList& args, const QString& configDir);
