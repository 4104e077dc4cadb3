#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

// A JPEG of the image whose first segment is an EXIF block with IFD0's DateTime (and Make), as
// cameras write it; an empty dateTime gives a block without any date entry.
QByteArray JpegWithExif(const QImage& image, const QByteArray& dateTime, int quality = 90);

// Writes bytes to path; false on failure.
bool WriteBytes(const QString& path, const QByteArray& bytes);

// Captures every message shown while it lives.
struct CapturedMessage {
    int kind; // MessageKind
    QString text;
};
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    QList<CapturedMessage> messages;
    QStringList texts() const;
};
