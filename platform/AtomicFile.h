#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QString>

// The one way files are written: the bytes go into a temporary file in the target's folder,
// flushed to the disk, which then takes the target's name in one rename; the folder is flushed
// too before success is reported. So the name holds the old file or the new one, whole, at every
// instant, a kill or a power loss included. Nothing is ever written through a symbolic link: a
// link at the name is refused, also a dangling one.

enum class WriteKind {
    // Nothing may stand at the name. The rename never replaces anything, so a file that appears
    // there while the bytes are written is left as it is (WriteStatus::Appeared).
    CreateNew,
    // A regular file stands at the name and is replaced.
    Replace,
    // Either.
    CreateOrReplace,
};

struct WriteRequest {
    WriteKind kind = WriteKind::CreateOrReplace;
    // When a file is replaced, it stays under this name as well (a hard link to it, or a copy
    // where links cannot be made), unless something stands there already. Made before the
    // replacing rename: a file whose backup cannot be made is not replaced.
    QString backup;
    // The file whose permission bits (and owner, where permitted) the written file takes. Empty:
    // the replaced file's, or for a new file 0666 less the umask.
    QString attributesFrom;
};

enum class WriteStatus {
    Written,
    Exists,       // CreateNew: something stands at the name
    Appeared,     // CreateNew: it was free when checked and taken before the rename
    SymbolicLink, // a link stands at the name (or at the backup's, for a copy)
    NotRegular,   // a folder, FIFO, device... stands at the name
    Failed,       // the system's reason in reason
};

struct WriteResult {
    WriteStatus status = WriteStatus::Written;
    // The reason alone ("No space left on device", "It is a symbolic link.").
    QString reason;
    // A sentence naming the file and the reason, e.g. "\"/p/a.jpg\" already exists. Nothing was
    // written."; empty when written.
    QString message;
    bool ok() const { return status == WriteStatus::Written; }
};

WriteResult WriteFileAtomically(const QString& path, const QByteArray& data,
                                const WriteRequest& request = {});

// Gives a file a new name without ever replacing what stands there (a rename that refuses to
// replace, or a link and an unlink where the file system has no such rename).
WriteResult MoveFileNoReplace(const QString& from, const QString& to);

// Something stands at the name, without following a link (a dangling link counts).
bool PathEntryExists(const QString& path);
bool IsSymbolicLink(const QString& path);
// The two paths name the same entry of the same folder (the folders may be reached through
// links; two hard links to one file are two entries).
bool SameFileEntry(const QString& a, const QString& b);

// A name that is taken: a file, a link or anything else at an output name.
class EOutputTaken : public EFCreateError {
public:
    explicit EOutputTaken(QString message) : EFCreateError(std::move(message)) {}
};
// A name that was free when checked and taken before the file got it.
class EOutputAppeared : public EFCreateError {
public:
    explicit EOutputAppeared(QString message) : EFCreateError(std::move(message)) {}
};
// Throws the result's message: EOutputAppeared, EOutputTaken (Exists, SymbolicLink,
// NotRegular) or EFCreateError.
void ThrowUnlessWritten(const WriteResult& result);

// WriteFileAtomically with CreateOrReplace: the system's reason on failure (a link at the name is
// refused), an empty text on success.
QString WriteFileReplacing(const QString& path, const QByteArray& data);
