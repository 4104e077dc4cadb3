#include "app/gui/MainWindow.h"
#include "bricks/RegisterBricks.h"
#include "designer/state/TDesigner.h"
#include "patterns/settings/TSettings.h"
#include "platform/Application.h"
#include "platform/Messages.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>

int main(int argc, char** argv) {
    CaptiomarkApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Captiomark"));
    QApplication::setApplicationVersion(QStringLiteral(CAPTIOMARK_VERSION));
    RegisterBricks();
    SetMessageHandler([](MessageKind kind, const QString& text) {
        switch (kind) {
        case MessageKind::Plain:
            QMessageBox::about(nullptr, QStringLiteral("Captiomark"), text);
            break;
        case MessageKind::Information:
            QMessageBox::information(nullptr, QStringLiteral("Captiomark"), text);
            break;
        case MessageKind::Error:
            QMessageBox::critical(nullptr, QStringLiteral("Captiomark"), text);
            break;
        }
    });
    LoadSettingsOrReport();
    MainWindow window;
    window.show();
    bool group = false;
    for (const QString& a : QApplication::arguments().mid(1)) {
        if (a.compare(QLatin1String("/group"), Qt::CaseInsensitive) == 0 && !QFile::exists(a))
            group = true;
        else if (window.designer()->realPicture.isNull())
            window.openImage(a);
    }
    if (group)
        window.aGroupExecute();
    return app.exec();
}
