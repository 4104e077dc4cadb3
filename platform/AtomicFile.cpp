#include "platform/AtomicFile.h"

#include <QSaveFile>
#include <cerrno>
#include <cstring>

QString WriteFileReplacing(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    // Unbuffered: through the buffer the reason of a failed write is lost in commit().
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    // A write may stop short without an error (file size limit, full disk); the next one says why.
    qint64 done = 0;
    while (done < data.size()) {
        errno = 0;
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        const int error = errno;
        if (n <= 0) {
            QString why = file.error() != QFileDevice::NoError ? file.errorString()
                          : error != 0 ? QString::fromLocal8Bit(std::strerror(error))
                                       : QStringLiteral("Only %1 of %2 bytes could be written")
                                             .arg(done)
                                             .arg(data.size());
            file.cancelWriting();
            return why;
        }
        done += n;
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}
