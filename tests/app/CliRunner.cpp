#include "CliRunner.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {
CliRun run(const QString& program, const QStringList& args, const QString& configDir) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CAPTIOMARK_CONFIG_DIR"), configDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(120000)) << args.join(' ').toStdString();
    CliRun r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
} // namespace

CliRun runCli(const QStringList& args, const QString& configDir) {
    return run(QStringLiteral(CAPTIOMARK_CLI_PATH), args, configDir);
}

CliRun runCliAsNobody(const QStringList& args, const QString& configDir) {
    if (geteuid() != 0) // already unprivileged
        return runCli(args, configDir);
    const QStringList prefix{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                             QStringLiteral("--clear-groups"), QStringLiteral(CAPTIOMARK_CLI_PATH)};
    return run(QStringLiteral("setpriv"), prefix + args, configDir);
}
