#include "tests/batch/BatchTestSupport.h"

#include "imaging/core/ImageCodecs.h"
#include "platform/Messages.h"
#include "tests/support/TestSupport.h"

#include <QFile>

QByteArray JpegWithExif(const QImage& image, const QByteArray& dateTime, int quality) {
    AsciiEntries entries{{0x010F, QByteArray("Camera")}};
    if (!dateTime.isEmpty())
        entries.append({0x0132, dateTime});
    return withExif(EncodeJpeg(image, quality), entries);
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

MessageCapture::MessageCapture() {
    SetMessageHandler([this](MessageKind kind, const QString& text) {
        messages.append({int(kind), text});
    });
}

MessageCapture::~MessageCapture() {
    SetMessageHandler(nullptr);
}

QStringList MessageCapture::texts() const {
    QStringList out;
    for (const auto& m : messages)
        out.append(m.text);
    return out;
}
