#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Every format failure of the EXIF reader and writer.
class EExifError : public Exception {
    using Exception::Exception;
};

enum TIfdKind { ikMain = 0, ikExif = 1, ikGps = 2, ikInterop = 3 };

class QIODevice;

// The EXIF block of one JPEG: its entry lines ("Name=value") in walk order and the raw APP1
// segment, kept so that it can be written into another JPEG.
class TExif {
public:
    QByteArray Segment;     // FF E1, length, payload; empty until a read ran to its end
    qint64 TiffBase = 0;    // file position of the TIFF header
    bool BigEndian = false; // MM (Motorola) order
    QStringList Entries;    // one line per entry; ASCII values keep their zero byte

    // Throws EExifError on a format failure, EFOpenError when the file cannot be opened.
    void LoadFromJpeg(const QString& fileName);
    // Same walk over a JPEG file held in memory (used by the fuzz target and tests).
    void LoadFromBytes(const QByteArray& data);
    // Replaces the target JPEG's first segment by Segment. Throws EExifError; on any failure the
    // target file is left as it was.
    void WriteIntoJpeg(const QString& fileName) const;
    // The same for a JPEG file held in memory: the rewritten bytes. Throws EExifError.
    QByteArray WriteIntoJpegBytes(const QByteArray& jpeg) const;

    static QString TagName(TIfdKind kind, quint16 tag);

private:
    struct TWalk; // bounds of one walk: visited directories, depth, bytes left to read

    void Load(QIODevice& stream);
    void ReadIfd(TIfdKind kind, quint32 offset, QIODevice& stream);
    QString ValueText(quint16 type, quint32 count, quint32 value, qint64 entryPos,
                      QIODevice& stream);

    TWalk* m_walk = nullptr; // set only while a walk runs
};
