#include "platform/Application.h"

#include "platform/Errors.h"
#include "platform/Messages.h"

#include <new>

CaptiomarkApplication::CaptiomarkApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool CaptiomarkApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const Exception& e) {
        ShowError(e.message());
    } catch (const std::bad_alloc&) {
        ShowError(QStringLiteral("Not enough memory."));
    } catch (const std::exception& e) {
        ShowError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowError(QStringLiteral("The operation failed with an unexpected error."));
    }
    return false;
}
