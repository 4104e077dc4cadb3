#include "platform/AtomicFile.h"

#include "platform/FilePaths.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

// The folder a file of path lives in, for its temporary file and for flushing.
QString folderFor(const QString& path) {
    const QString folder = FolderOf(path);
    return folder.isEmpty() ? QStringLiteral("./") : folder;
}

// Owner and permission bits to give a written file.
struct Attributes {
    bool valid = false;
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
};

Attributes attributesOf(const struct stat& st) {
    return {true, st.st_uid, st.st_gid, mode_t(st.st_mode & 07777)};
}

Attributes attributesOfFile(const QString& path) {
    struct stat st {};
    if (path.isEmpty() || ::stat(native(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return attributesOf(st);
}

// The owner first: changing it may clear the set-id bits that the mode then sets.
void applyAttributes(int fd, const Attributes& a) {
    if (!a.valid)
        return;
    if (a.uid != ::geteuid() || a.gid != ::getegid()) {
        // Another user's file keeps its owner where we may give it; its group at least.
        if (::fchown(fd, a.uid, a.gid) != 0 && ::fchown(fd, uid_t(-1), a.gid) != 0) {
        }
    }
    if (::fchmod(fd, a.mode) != 0) {
        // A file system without modes: the new file keeps the narrow mode it was created with.
    }
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    void reset(int fd) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes, returning 0 or the error (a delayed write error shows here on some file systems).
    int close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int m_fd;
};

int writeAll(int fd, const char* data, qint64 size, QString* why) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A write may stop short without an error (a file size limit); the next one says why.
            *why = n < 0 ? systemReason(errno)
                         : QStringLiteral("Only %1 of %2 bytes could be written").arg(done).arg(size);
            return n < 0 ? errno : EIO;
        }
        done += n;
    }
    return 0;
}

// A temporary file beside the target, removed when it goes unless kept.
class TemporaryFile {
public:
    ~TemporaryFile() {
        if (!m_path.isEmpty())
            ::unlink(native(m_path).constData());
    }
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates it in folder with mode (the umask applies) and fills it with what write puts in
    // through the descriptor; flushed to the disk and closed. Returns an empty text or the reason.
    template <class Fill>
    QString create(const QString& folder, mode_t mode, const Attributes& attributes, Fill fill) {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        Descriptor fd;
        for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
            QString name = QStringLiteral(".captiomark-");
            for (int i = 0; i < 10; ++i)
                name += QLatin1Char(letters[QRandomGenerator::global()->bounded(62)]);
            const QString candidate = folder + name + QStringLiteral(".tmp");
            const int opened =
                ::open(native(candidate).constData(),
                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
            if (opened >= 0) {
                fd.reset(opened);
                m_path = candidate;
            } else if (errno != EEXIST) {
                return systemReason(errno);
            }
        }
        if (fd.get() < 0)
            return systemReason(EEXIST);
        QString why;
        if (fill(fd.get(), &why) != 0)
            return why;
        applyAttributes(fd.get(), attributes);
        if (::fsync(fd.get()) != 0)
            return systemReason(errno);
        if (const int e = fd.close())
            return systemReason(e);
        return QString();
    }
    const QString& path() const { return m_path; }
    // The file took another name: nothing to remove.
    void release() { m_path.clear(); }

private:
    QString m_path;
};

// Flushes a folder's entries to the disk. File systems that cannot are no failure.
int syncFolder(const QString& folder) {
    Descriptor fd(::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno;
    if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return 0;
}

bool noRenameFlags(int error) {
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

bool noHardLinks(int error) {
    return error == EPERM || error == EMLINK || error == ENOTSUP || error == EOPNOTSUPP ||
           error == ENOSYS || error == EXDEV;
}

// Gives from the name to without replacing anything there: 0, EEXIST when to is taken, or the
// error.
int placeNoReplace(const QString& from, const QString& to) {
    const QByteArray f = native(from), t = native(to);
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (!noRenameFlags(errno))
        return errno;
    // No such rename here: a link cannot replace either.
    if (::link(f.constData(), t.constData()) == 0) {
        ::unlink(f.constData());
        return 0;
    }
    if (!noHardLinks(errno))
        return errno;
    // Neither (a file system without links): the last look and the rename are as close as can be.
    struct stat st {};
    if (::lstat(t.constData(), &st) == 0)
        return EEXIST;
    return std::rename(f.constData(), t.constData()) == 0 ? 0 : errno;
}

WriteResult result(WriteStatus status, const QString& path, const QString& reason = QString()) {
    WriteResult r;
    r.status = status;
    switch (status) {
    case WriteStatus::Written:
        return r;
    case WriteStatus::Exists:
        r.reason = QStringLiteral("It already exists.");
        r.message = QStringLiteral("\"%1\" already exists. Nothing was written.").arg(shown(path));
        break;
    case WriteStatus::Appeared:
        r.reason = QStringLiteral("It appeared while it was being written.");
        r.message = QStringLiteral("\"%1\" appeared while it was being written. Nothing was "
                                   "written over it.")
                        .arg(shown(path));
        break;
    case WriteStatus::SymbolicLink:
        r.reason = QStringLiteral("It is a symbolic link, which is never written through.");
        r.message = QStringLiteral("\"%1\" is a symbolic link. Nothing was written through it.")
                        .arg(shown(path));
        break;
    case WriteStatus::NotRegular:
        r.reason = QStringLiteral("It is not a regular file.");
        r.message = QStringLiteral("\"%1\" is not a regular file. Nothing was written.")
                        .arg(shown(path));
        break;
    case WriteStatus::Failed:
        r.reason = reason;
        r.message = QStringLiteral("Cannot create file \"%1\". %2").arg(shown(path), reason);
        break;
    }
    return r;
}

// A copy of the file open at source as backup, for file systems without hard links: written
// beside it the same careful way, and never over anything.
QString copyAsBackup(const QString& source, const QString& backup, const Attributes& attributes) {
    Descriptor in(::open(native(source).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0)
        return systemReason(errno);
    TemporaryFile temp;
    const QString why =
        temp.create(folderFor(backup), 0600, attributes, [&](int out, QString* reason) {
            char buffer[1 << 16];
            for (;;) {
                const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    *reason = systemReason(errno);
                    return errno;
                }
                if (n == 0)
                    return 0;
                if (const int e = writeAll(out, buffer, n, reason))
                    return e;
            }
        });
    if (!why.isEmpty())
        return why;
    const int placed = placeNoReplace(temp.path(), backup);
    if (placed == EEXIST)
        return QString(); // something took the name meanwhile: it stays, as an older backup would
    if (placed != 0)
        return systemReason(placed);
    temp.release();
    return QString();
}

// Keeps the file at path under backup too, unless something stands there.
QString makeBackup(const QString& path, const QString& backup, const Attributes& attributes) {
    struct stat st {};
    if (::lstat(native(backup).constData(), &st) == 0)
        return QString();
    if (errno != ENOENT)
        return systemReason(errno);
    if (::link(native(path).constData(), native(backup).constData()) == 0 || errno == EEXIST)
        return QString();
    if (!noHardLinks(errno))
        return systemReason(errno);
    return copyAsBackup(path, backup, attributes);
}

} // namespace

bool PathEntryExists(const QString& path) {
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0;
}

bool IsSymbolicLink(const QString& path) {
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool SameFileEntry(const QString& a, const QString& b) {
    if (QDir::cleanPath(QDir::current().absoluteFilePath(a)) ==
        QDir::cleanPath(QDir::current().absoluteFilePath(b)))
        return true;
    if (FileNameOf(a) != FileNameOf(b))
        return false;
    struct stat fa {}, fb {};
    return ::stat(native(folderFor(a)).constData(), &fa) == 0 &&
           ::stat(native(folderFor(b)).constData(), &fb) == 0 && fa.st_dev == fb.st_dev &&
           fa.st_ino == fb.st_ino;
}

WriteResult WriteFileAtomically(const QString& path, const QByteArray& data,
                                const WriteRequest& request) {
    const QByteArray name = native(path);
    struct stat st {};
    bool replacing = false;
    if (::lstat(name.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return result(WriteStatus::SymbolicLink, path);
        if (request.kind == WriteKind::CreateNew)
            return result(WriteStatus::Exists, path);
        if (!S_ISREG(st.st_mode))
            return result(WriteStatus::NotRegular, path);
        replacing = true;
    } else if (errno != ENOENT || request.kind == WriteKind::Replace) {
        return result(WriteStatus::Failed, path, systemReason(errno));
    }

    Attributes attributes = attributesOfFile(request.attributesFrom);
    if (!attributes.valid && replacing)
        attributes = attributesOf(st);
    const QString folder = folderFor(path);
    TemporaryFile temp;
    if (const QString why =
            temp.create(folder, attributes.valid ? 0600 : 0666, attributes,
                        [&](int fd, QString* reason) {
                            return writeAll(fd, data.constData(), data.size(), reason);
                        });
        !why.isEmpty())
        return result(WriteStatus::Failed, path, why);

    if (replacing) {
        if (!request.backup.isEmpty()) {
            if (const QString why = makeBackup(path, request.backup, attributesOf(st));
                !why.isEmpty()) {
                WriteResult r = result(WriteStatus::Failed, path, why);
                r.message = QStringLiteral("Cannot keep \"%1\" as \"%2\". %3 Nothing was written.")
                                .arg(shown(path), shown(request.backup), why);
                return r;
            }
            // The backup is on the disk before the photo's name moves on.
            if (const int e = syncFolder(folder))
                return result(WriteStatus::Failed, path, systemReason(e));
        }
        if (std::rename(native(temp.path()).constData(), name.constData()) != 0)
            return result(WriteStatus::Failed, path, systemReason(errno));
    } else {
        const int placed = placeNoReplace(temp.path(), path);
        if (placed == EEXIST)
            return result(WriteStatus::Appeared, path);
        if (placed != 0)
            return result(WriteStatus::Failed, path, systemReason(placed));
    }
    temp.release();
    if (const int e = syncFolder(folder))
        return result(WriteStatus::Failed, path, systemReason(e));
    return {};
}

WriteResult MoveFileNoReplace(const QString& from, const QString& to) {
    struct stat st {};
    if (::lstat(native(to).constData(), &st) == 0)
        return result(S_ISLNK(st.st_mode) ? WriteStatus::SymbolicLink : WriteStatus::Exists, to);
    const int moved = placeNoReplace(from, to);
    if (moved == EEXIST)
        return result(WriteStatus::Appeared, to);
    if (moved != 0) {
        WriteResult r = result(WriteStatus::Failed, to, systemReason(moved));
        r.message = QStringLiteral("Cannot rename \"%1\" to \"%2\". %3")
                        .arg(shown(from), shown(to), r.reason);
        return r;
    }
    QStringList folders{folderFor(to)};
    if (!folders.contains(folderFor(from)))
        folders.append(folderFor(from));
    for (const QString& folder : folders)
        if (const int e = syncFolder(folder))
            return result(WriteStatus::Failed, to, systemReason(e));
    return {};
}

void ThrowUnlessWritten(const WriteResult& r) {
    switch (r.status) {
    case WriteStatus::Written:
        return;
    case WriteStatus::Appeared:
        throw EOutputAppeared(r.message);
    case WriteStatus::Exists:
    case WriteStatus::SymbolicLink:
    case WriteStatus::NotRegular:
        throw EOutputTaken(r.message);
    case WriteStatus::Failed:
        break;
    }
    throw EFCreateError(r.message);
}

QString WriteFileReplacing(const QString& path, const QByteArray& data) {
    return WriteFileAtomically(path, data).reason;
}
