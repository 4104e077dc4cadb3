#include "CliRunner.h"

#include <QProcess>
#include <gtest/gtest.h>

CliRun runCli(const QStringList& args, const QString& configDir, const QStringList& launcher) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CAPTIOMARK_CONFIG_DIR"), configDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
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
