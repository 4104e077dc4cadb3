#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// Reading files whole without being fooled by what else can sit at a file name: a named pipe
// blocks its reader until someone writes, a device such as /dev/zero never ends, a socket or a
// folder is no file, and a sparse file can claim gigabytes it costs nothing to make. Only
// regular files are read (a symbolic link is followed only when it ends at one), up to a size
// the caller names.

constexpr qint64 OneMiB = qint64(1) << 20;

enum class FileProblem {
    None,       // a regular file within the size cap
    Missing,    // nothing at the name (a link that points nowhere is NotRegular)
    NotRegular, // pipe, device, socket, folder, link loop, link to nothing
    TooLarge,   // a regular file over the cap
    Unreadable, // the system refused to open or read it (permissions, I/O error), or cancelled
};

struct FileCheck {
    FileProblem problem = FileProblem::None;
    // One or two sentences for the user, without the file's name, e.g. "It is a named pipe, not
    // a regular file." or "No such file or directory".
    QString reason;
    qint64 size = 0; // of a regular file
    bool ok() const { return problem == FileProblem::None; }
};

// What is at path, without opening it (for readers that open the file themselves).
FileCheck CheckRegularFile(const QString& path, qint64 maxBytes);

// Opens path read-only (close-on-exec) when it is a regular file of at most maxBytes. The type is
// looked at before the open, so no device is ever opened, and again on the descriptor, which is
// opened non-blocking so that a pipe put there meanwhile cannot hold the caller. Returns the
// descriptor, or -1 with *check saying why.
int OpenRegularFile(const QString& path, qint64 maxBytes, FileCheck* check);

struct FileRead : FileCheck {
    QByteArray data;
};

// Reads a regular file of at most maxBytes whole (a file that grows past the cap while it is
// read is refused too). cancelled, when given, is asked between blocks of a few megabytes; a
// cancelled read is Unreadable.
FileRead ReadRegularFile(const QString& path, qint64 maxBytes,
                         const std::function<bool()>& cancelled = {});

// "640 bytes", "12 KB", "256 MB", "5.0 GB" (binary multiples, as file managers show them).
QString ByteSizeText(qint64 bytes);
