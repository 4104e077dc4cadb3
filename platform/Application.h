#pragma once

#include <QApplication>

// The application object of the windowed program. An exception that escapes an event handler
// (a key handler that runs out of memory, a failed conversion) does not end the program: it
// reaches notify(), and its message is shown in the error box, as the toolkit's default handler
// does.
class CaptiomarkApplication : public QApplication {
    Q_OBJECT

public:
    CaptiomarkApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
