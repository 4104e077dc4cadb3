#include "MainWindow.h"
#include "Messages.h"
#include "RegisterBricks.h"
#include "TSettings.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Captiomark"));
    QApplication::setApplicationVersion(QStringLiteral(CAPTIOMARK_VERSION));
    RegisterBricks();
    SetMessageHandler([](MessageKind kind, const QString& text) {
        switch (kind) {
        case MessageKind::Plain: QMessageBox::about(nullptr, QStringLiteral("Captiomark"), text); break;
        case MessageKind::Information:
            QMessageBox::information(nullptr, QStringLiteral("Captiomark"), text);
            break;
        case MessageKind::Error: QMessageBox::critical(nullptr, QStringLiteral("Captiomark"), text); break;
        }
    });
    LoadSettings();
    MainWindow window;
    const QStringList args = QApplication::arguments().mid(1);
    window.show();
    for (const QString& a : args)
        if (!a.startsWith(QLatin1Char('/')) || QFile::exists(a)) {
            window.openImage(a);
            break;
        }
    return app.exec();
}
