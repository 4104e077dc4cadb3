#include "tests/app/CliRunner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

CliRun runCli(const QStringList& args, const QString& configDir) {
    return runCliVia({}, args, configDir);
}

namespace {

CliRun runProgram(const QString& program, const QStringList& launcher, const QStringList& args,
                  const QString& configDir, const QMap<QString, QString>& extra = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CAPTIOMARK_CONFIG_DIR"), configDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (auto it = extra.begin(); it != extra.end(); ++it)
        env.insert(it.key(), it.value());
    p.setProcessEnvironment(env);
    if (launcher.isEmpty())
        p.start(program, args);
    else
        p.start(launcher.first(), launcher.mid(1) + QStringList{program} + args);
    EXPECT_TRUE(p.waitForFinished(120000)) << args.join(' ').toStdString();
    CliRun r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}


// A copy of the tool that nobody can run: the build tree may lie in a folder only root can
// enter (a clone under /root, say).
QString cliForNobody() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/captiomark-cli-XXXXXX"));
    static const QString copy = [] {
        const QString path = dir.filePath(QStringLiteral("captiomark-cli"));
        const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                         QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        if (!dir.isValid() || !QFile::copy(QStringLiteral(CAPTIOMARK_CLI_PATH), path) ||
            !QFile::setPermissions(dir.path(), all) || !QFile::setPermissions(path, all))
            return QString();
        return path;
    }();
    return copy;
}

} // namespace

CliRun runCliVia(const QStringList& launcher, const QStringList& args, const QString& configDir) {
    return runProgram(QStringLiteral(CAPTIOMARK_CLI_PATH), launcher, args, configDir);
}

CliRun runCliWithEnv(const QStringList& args, const QString& configDir,
                     const QMap<QString, QString>& env) {
    return runProgram(QStringLiteral(CAPTIOMARK_CLI_PATH), {}, args, configDir, env);
}

CliRun runCliWithFaults(const QStringList& args, const QString& configDir,
                        const QMap<QString, QString>& env) {
    QMap<QString, QString> all = env;
    all.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(CAPTIOMARK_FAULT_INJECTION_PATH));
    // A sanitized build lets a library come before its runtime.
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    all.insert(QStringLiteral("ASAN_OPTIONS"),
               (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) +
                   QStringLiteral("verify_asan_link_order=0"));
    return runProgram(QStringLiteral(CAPTIOMARK_CLI_PATH), {}, args, configDir, all);
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
    const QString program = cliForNobody();
    EXPECT_FALSE(program.isEmpty()) << "cannot copy the tool for the unprivileged user";
    return runProgram(program,
                      {QStringLiteral("setpriv"), QStringLiteral("--reuid=nobody"),
                       QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups")},
                      args, configDir);
}
