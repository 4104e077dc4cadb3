#include "platform/RegularFile.h"

#include "platform/ImageBuffer.h"

#include <QFile>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// "It is a named pipe, not a regular file." for what stat saw at a name that is not a regular
// file; "It is a symbolic link to a named pipe, ..." when a link led there.
QString notRegularReason(mode_t mode, bool viaLink) {
    const QString it =
        viaLink ? QStringLiteral("It is a symbolic link to") : QStringLiteral("It is");
    const char* kind = S_ISFIFO(mode)   ? "a named pipe"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISDIR(mode)  ? "a folder"
                                        : nullptr;
    if (!kind)
        return QStringLiteral("%1 something that is not a regular file.").arg(it);
    return QStringLiteral("%1 %2, %3.")
        .arg(it, QLatin1String(kind),
             S_ISDIR(mode) ? QLatin1String("not a file") : QLatin1String("not a regular file"));
}

QString tooLargeReason(qint64 size, qint64 maxBytes) {
    return QStringLiteral("It is %1; files over %2 are not read.")
        .arg(ByteSizeText(size), ByteSizeText(maxBytes));
}

QString linkTarget(const QByteArray& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    return n > 0 ? QFile::decodeName(QByteArray(buffer, int(n))) : QString();
}

// Judges a stat result (of the path or of an open descriptor).
FileCheck judge(const struct stat& st, qint64 maxBytes, bool viaLink) {
    FileCheck check;
    if (!S_ISREG(st.st_mode)) {
        check.problem = FileProblem::NotRegular;
        check.reason = notRegularReason(st.st_mode, viaLink);
        return check;
    }
    check.size = qint64(st.st_size);
    if (check.size > maxBytes) {
        check.problem = FileProblem::TooLarge;
        check.reason = tooLargeReason(check.size, maxBytes);
    }
    return check;
}

FileCheck failed(FileProblem problem, const QString& reason) {
    FileCheck check;
    check.problem = problem;
    check.reason = reason;
    return check;
}

} // namespace

FileCheck CheckRegularFile(const QString& path, qint64 maxBytes) {
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return failed(FileProblem::Missing, systemReason(ENOENT));
    struct stat own {};
    if (::lstat(name.constData(), &own) != 0)
        return failed(errno == ENOENT || errno == ENOTDIR ? FileProblem::Missing
                                                          : FileProblem::Unreadable,
                      systemReason(errno));
    if (!S_ISLNK(own.st_mode))
        return judge(own, maxBytes, false);
    struct stat target {};
    if (::stat(name.constData(), &target) != 0) {
        const int error = errno;
        if (error == ELOOP)
            return failed(FileProblem::NotRegular,
                          QStringLiteral("It is a symbolic link that leads round in a loop."));
        if (error == ENOENT || error == ENOTDIR)
            return failed(FileProblem::NotRegular,
                          QStringLiteral("It is a symbolic link to \"%1\", which does not exist.")
                              .arg(linkTarget(name)));
        return failed(FileProblem::Unreadable, systemReason(error));
    }
    return judge(target, maxBytes, true);
}

int OpenRegularFile(const QString& path, qint64 maxBytes, FileCheck* check) {
    *check = CheckRegularFile(path, maxBytes);
    if (!check->ok())
        return -1;
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(),
                    O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *check = failed(errno == ENOENT ? FileProblem::Missing : FileProblem::Unreadable,
                        systemReason(errno));
        return -1;
    }
    // What was opened may not be what was looked at: judge the descriptor itself.
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *check = failed(FileProblem::Unreadable, systemReason(errno));
        ::close(fd);
        return -1;
    }
    *check = judge(st, maxBytes, false);
    if (!check->ok()) {
        ::close(fd);
        return -1;
    }
    // Reads of a regular file do not block anyway; plain reads keep the usual semantics.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

FileRead ReadRegularFile(const QString& path, qint64 maxBytes,
                         const std::function<bool()>& cancelled) {
    FileRead out;
    FileCheck& check = out;
    const int fd = OpenRegularFile(path, maxBytes, &check);
    if (fd < 0)
        return out;
    constexpr qint64 Block = 4 * OneMiB;
    const qint64 expected = out.size;
    QByteArray data;
    auto fail = [&](FileProblem problem, const QString& reason) {
        ::close(fd);
        static_cast<FileCheck&>(out) = failed(problem, reason);
        return out;
    };
    try {
        data = TakeBytes(qsizetype(expected), false);
        data.resize(qsizetype(expected));
    } catch (const std::bad_alloc&) {
        return fail(FileProblem::Unreadable, systemReason(ENOMEM));
    }
    qint64 total = 0;
    char spill[64 * 1024];
    for (;;) {
        if (cancelled && cancelled())
            return fail(FileProblem::Unreadable, QStringLiteral("Reading was cancelled."));
        // Up to the size fstat gave straight into place; past it (a file that grows while it is
        // read) through a small buffer, until one byte past the cap tells it is too large.
        const bool within = total < expected;
        const qint64 want = within ? qMin(Block, expected - total) : qint64(sizeof spill);
        char* into = within ? data.data() + total : spill;
        const ssize_t n = ::read(fd, into, size_t(want));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(FileProblem::Unreadable, systemReason(errno));
        }
        if (n == 0)
            break;
        if (!within) {
            if (total + n > maxBytes)
                return fail(FileProblem::TooLarge, tooLargeReason(total + n, maxBytes));
            data.append(spill, qsizetype(n));
        }
        total += n;
    }
    ::close(fd);
    data.resize(qsizetype(total)); // a file that shrank meanwhile
    out.size = total;
    out.data = std::move(data);
    return out;
}

QString ByteSizeText(qint64 bytes) {
    auto scaled = [bytes](int shift, const char* unit) {
        const double value = double(bytes) / double(qint64(1) << shift);
        const bool whole = bytes % (qint64(1) << shift) == 0;
        return (whole ? QString::number(bytes >> shift) : QString::number(value, 'f', 1)) +
               QLatin1Char(' ') + QLatin1String(unit);
    };
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < OneMiB)
        return QStringLiteral("%1 KB").arg((bytes + 512) / 1024);
    if (bytes < qint64(1) << 30)
        return scaled(20, "MB");
    return scaled(30, "GB");
}
