#include "platform/AtomicFile.h"

#include <QSaveFile>

QString WriteFileReplacing(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // A write may stop short without an error (file size limit, full disk); the next one says why.
    qint64 done = 0;
    while (done < data.size()) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0)
            break;
        done += n;
    }
    if (done < data.size()) {
        const QString why =
            file.error() != QFileDevice::NoError
                ? file.errorString()
                : QStringLiteral("Only %1 of %2 bytes could be written").arg(done).arg(data.size());
        file.cancelWriting();
        return why;
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}
