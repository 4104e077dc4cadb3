#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The things other than a regular file that can sit at a file name, made for real in a
// temporary folder, for the tests of every reader that takes a file by name.
enum class SpecialKind {
    Fifo,         // mkfifo: opening it for reading blocks until a writer comes
    DeviceLink,   // a symbolic link to /dev/zero: reading never ends
    Socket,       // a bound Unix socket
    LinkLoop,     // a symbolic link to a link back to it
    DanglingLink, // a symbolic link to a name that does not exist
    HugeSparse,   // a 5 GB sparse regular file (costs nothing on disk)
    Folder,       // a folder with the file's name
};

struct SpecialCase {
    const char* label;
    SpecialKind kind;
    // Words the reason given for it contains ("named pipe", "5 GB", ...).
    const char* reasonWord;
};

// Every kind above, in a fixed order.
const QList<SpecialCase>& SpecialFileCases();

// Makes one at path (its folder must exist). False with *why when the system refuses.
bool MakeSpecialFile(SpecialKind kind, const QString& path, QString* why = nullptr);

// Runs fn on this thread while a watchdog waits for it. When fn has not returned after
// milliseconds, the watchdog keeps opening and closing each of the fifos for writing, so that a
// reader stuck on one of them goes on and fn can end; the result is then false. A test thus
// fails, instead of hanging, when the code under test blocks on a pipe.
bool ReturnsWithin(int milliseconds, const std::function<void()>& fn, const QStringList& fifos);
