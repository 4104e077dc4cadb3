#include "app/cli/CliCommands.h"
#include "bricks/RegisterBricks.h"

#include <QApplication>
#include <csignal>
#include <malloc.h>
#include <cstdio>

// Headless: bricks are widgets, so a widget application runs, on the offscreen platform.
int main(int argc, char** argv) {
    // Qt's own chatter (runtime folders, fonts) is not the tool's output; stderr is for our
    // messages.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtCriticalMsg || type == QtFatalMsg ||
            qEnvironmentVariableIsSet("CAPTIOMARK_DEBUG"))
            std::fprintf(stderr, "%s\n", msg.toLocal8Bit().constData());
    });
    // Over a file-size limit a write then fails with its reason ("File too large") instead of
    // the signal ending the tool with a temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    // Blocks of 1 MiB and more (compressed chunks, whole files, pictures) are mapped from the
    // system and handed back the moment they are freed. Left to itself, the allocator raises
    // that bound to the largest block freed so far (a photo's bytes), and the chunks of the next
    // file then stay in the heap after they are freed, adding to the peak. Below it (a band of
    // pixels, a caption's small pictures, libjpeg's pools) the heap keeps what one image freed
    // for the next, which the system would otherwise zero afresh for each.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
    // Always offscreen, whatever QT_QPA_PLATFORM or DISPLAY say: the tool never shows a window,
    // and a dead display must not stop it. The application gets only these words, so that Qt
    // takes none of the user's (-platform, -display, -reverse...) for itself.
    static char platformOption[] = "-platform";
    static char offscreen[] = "offscreen";
    char* qtArgv[] = {argv[0], platformOption, offscreen, nullptr};
    int qtArgc = 3;
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("captiomark-cli"));
    RegisterBricks();
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setEncoding(QStringConverter::Utf8);
    err.setEncoding(QStringConverter::Utf8);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    const int code = RunCli(args, out, err);
    out.flush();
    err.flush();
    return code;
}
