#include "tests/support/SpecialFiles.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

const QList<SpecialCase>& SpecialFileCases() {
    static const QList<SpecialCase> cases{
        {"fifo", SpecialKind::Fifo, "named pipe"},
        {"zero link", SpecialKind::DeviceLink, "character device"},
        {"socket", SpecialKind::Socket, "socket"},
        {"symlink loop", SpecialKind::LinkLoop, "loop"},
        {"dangling link", SpecialKind::DanglingLink, "does not exist"},
        {"5 GB sparse file", SpecialKind::HugeSparse, "5 GB"},
        {"folder", SpecialKind::Folder, "folder"},
    };
    return cases;
}

bool MakeSpecialFile(SpecialKind kind, const QString& path, QString* why) {
    const QByteArray name = QFile::encodeName(path);
    auto fail = [why](const char* what) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                                QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    switch (kind) {
    case SpecialKind::Fifo:
        return ::mkfifo(name.constData(), 0600) == 0 || fail("mkfifo");
    case SpecialKind::DeviceLink:
        return ::symlink("/dev/zero", name.constData()) == 0 || fail("symlink");
    case SpecialKind::Socket: {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (size_t(name.size()) >= sizeof address.sun_path) {
            errno = ENAMETOOLONG;
            return fail("socket");
        }
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0)
            return fail("socket");
        // The socket file stays when the socket is closed.
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        const int error = errno;
        ::close(fd);
        errno = error;
        return bound || fail("bind");
    }
    case SpecialKind::LinkLoop: {
        const QByteArray other = name + ".other";
        return (::symlink(other.constData(), name.constData()) == 0 &&
                ::symlink(name.constData(), other.constData()) == 0) ||
               fail("symlink");
    }
    case SpecialKind::DanglingLink:
        return ::symlink((name + ".missing").constData(), name.constData()) == 0 || fail("symlink");
    case SpecialKind::HugeSparse: {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0)
            return fail("open");
        const bool sized = ::ftruncate(fd, off_t(5) << 30) == 0;
        const int error = errno;
        ::close(fd);
        errno = error;
        return sized || fail("ftruncate");
    }
    case SpecialKind::Folder:
        return ::mkdir(name.constData(), 0700) == 0 || fail("mkdir");
    }
    return false;
}

bool ReturnsWithin(int milliseconds, const std::function<void()>& fn, const QStringList& fifos) {
    std::atomic<bool> done{false};
    std::atomic<bool> late{false};
    std::thread watchdog([&] {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!done && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done)
            return;
        late = true;
        // A writer that comes and goes lets a blocked open() return and read() see the end.
        while (!done) {
            for (const QString& fifo : fifos) {
                const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    fn();
    done = true;
    watchdog.join();
    return !late;
}
