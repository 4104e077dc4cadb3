#include "tests/app/CliRunner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

CliRun runCli(const QStringList& args, const QString& configDir) {
    return runCliVia({}, args, configDir);
}

namespace {
CliRun runWith(const QStringList& launcher, const QStringList& args, const QString& configDir,
               const QMap<QString, QString>& extra) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CAPTIOMARK_CONFIG_DIR"), configDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (auto it = extra.begin(); it != extra.end(); ++it)
        env.insert(it.key(), it.value());
    p.setProcessEnvironment(env);
    if (launcher.isEmpty())
        p.start(QStringLiteral(CAPTIOMARK_CLI_PATH), args);
    else
        p.start(launcher.first(),
                launcher.mid(1) + QStringList{QStringLiteral(CAPTIOMARK_CLI_PATH)} + args);
    EXPECT_TRUE(p.waitForFinished(120000)) << args.join(' ').toStdString();
    CliRun r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
} // namespace

CliRun runCliVia(const QStringList& launcher, const QStringList& args, const QString& configDir) {
    return runWith(launcher, args, configDir, {});
}

CliRun runCliWithEnv(const QStringList& args, const QString& configDir,
                     const QMap<QString, QString>& env) {
    return runWith({}, args, configDir, env);
}

QByteArray sha256Of(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

QMap<QString, QByteArray> folderSha256(const QString& dir) {
    QMap<QString, QByteArray> out;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden))
        out.insert(name, sha256Of(QDir(dir).filePath(name)));
    return out;
}

CliRun runCliAsNobody(const QStringList& args, const QString& configDir) {
    if (geteuid() != 0) // already unprivileged
        return runCli(args, configDir);
    return runCliVia({QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                      QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups")},
                     args, configDir);
}
