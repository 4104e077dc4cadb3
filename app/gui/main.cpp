#include "app/gui/TProjectManager.h"
#include "bricks/RegisterBricks.h"
#include "platform/Application.h"
#include "platform/Messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>
#include <malloc.h>

int main(int argc, char** argv) {
    // Large blocks (pixel bands, compressed chunks, whole files) go back to the system as soon as
    // they are freed, instead of the bound rising to the largest block freed so far.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // Help and version are answered before any window (or display) is needed.
    {
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        const CommandLine line = ParseCommandLine(arguments);
        if (line.help || line.version) {
            const QString text =
                line.help ? CommandLineHelp()
                          : QStringLiteral("Captiomark %1\n").arg(QStringLiteral(CAPTIOMARK_VERSION));
            std::fputs(text.toLocal8Bit().constData(), stdout);
            return 0;
        }
    }
    // Brick classes first, so that patterns and the clipboard can stream them.
    RegisterBricks();
    CaptiomarkApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Captiomark"));
    QApplication::setApplicationVersion(QStringLiteral(CAPTIOMARK_VERSION));
    SetMessageHandler([](MessageKind kind, const QString& text) {
        QWidget* parent = QApplication::activeWindow();
        switch (kind) {
        case MessageKind::Plain:
            QMessageBox::about(parent, QStringLiteral("Captiomark"), text);
            break;
        case MessageKind::Information:
            QMessageBox::information(parent, QStringLiteral("Captiomark"), text);
            break;
        case MessageKind::Error:
            QMessageBox::critical(parent, QStringLiteral("Captiomark"), text);
            break;
        }
    });
    SetQuestionHandler([](QuestionButtons buttons, const QString& text) {
        const bool cancel = buttons == QuestionButtons::YesNoCancel;
        const auto chosen =
            QMessageBox::question(QApplication::activeWindow(), QStringLiteral("Captiomark"), text,
                                  cancel ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                                         : QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::Yes);
        if (chosen == QMessageBox::Yes)
            return Answer::Yes;
        if (chosen == QMessageBox::No)
            return Answer::No;
        return cancel ? Answer::Cancel : Answer::No;
    });
    // The window loads the settings and puts the design surface in its client area; the palette
    // entries come next, then what the command line asks for.
    TProjectManager window;
    window.RegisterStandardBricks();
    window.show();
    window.startUp(ParseCommandLine(QApplication::arguments().mid(1)));
    return app.exec();
}
