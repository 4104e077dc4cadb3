#include "app/cli/CliCommands.h"
#include "bricks/RegisterBricks.h"

#include <QApplication>
#include <csignal>
#include <cstdio>

// Headless: bricks are widgets, so a widget application runs, on the offscreen platform
// unless the caller chose another.
int main(int argc, char** argv) {
    // Qt's own chatter (runtime folders, fonts) is not the tool's output; stderr is for our
    // messages.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtCriticalMsg || type == QtFatalMsg ||
            qEnvironmentVariableIsSet("CAPTIOMARK_DEBUG"))
            std::fprintf(stderr, "%s\n", msg.toLocal8Bit().constData());
    });
    // Over a file-size limit a write then fails with its reason ("File too large") instead of
    // the signal ending the tool between moving a source to its backup and writing its output.
    std::signal(SIGXFSZ, SIG_IGN);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("captiomark-cli"));
    RegisterBricks();
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setEncoding(QStringConverter::Utf8);
    err.setEncoding(QStringConverter::Utf8);
    const int code = RunCli(QApplication::arguments().mid(1), out, err);
    out.flush();
    err.flush();
    return code;
}
