#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QList>
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
    QByteArray Segment;      // FF E1, length, payload; empty until a read ran to its end
    qint64 TiffBase = 0;     // file position of the TIFF header
    bool BigEndian = false;  // MM (Motorola) order
    QStringList Entries;     // one line per entry; ASCII values keep their zero byte
    quint32 Orientation = 0; // IFD0's Orientation (1..8 when valid); 0 when it has none

    // The value texts of the entries with this tag in the main and Exif directories (which share
    // their names), in walk order.
    QStringList Values(quint16 tag) const;
    // Sets IFD0's Orientation in Segment, in place: nothing else in the block moves. False when
    // the kept segment has no such entry.
    bool SetOrientation(quint16 value);

    // Reads the first Exif APP1 segment among the application segments that lead the file (a
    // JFIF header may come first). Throws EExifError on a format failure, EFOpenError when the
    // file cannot be opened.
    void LoadFromJpeg(const QString& fileName);
    // Same walk over a JPEG file held in memory (used by the fuzz target and tests).
    // LoadFromJpeg and LoadFromBytes also read the EXIF block of a PNG, TIFF, WebP, HEIC or AVIF
    // photo, kept as the APP1 segment a JPEG would hold it in.
    void LoadFromBytes(const QByteArray& data);
    // From an EXIF structure as TIFF stores it (byte-order mark first). Throws EExifError.
    void LoadFromTiffBlock(const QByteArray& tiff);
    // The kept segment's EXIF structure (without the APP1 marker, length and "Exif" prefix);
    // empty without a segment.
    QByteArray TiffBlock() const { return Segment.size() > 10 ? Segment.mid(10) : QByteArray(); }
    // Puts Segment into the target JPEG: in place of its own Exif APP1 segment, else after its
    // SOI (and its JFIF header when that comes first). Throws EExifError; on any failure the
    // target file is left as it was.
    void WriteIntoJpeg(const QString& fileName) const;
    // The same for a JPEG file held in memory: the rewritten bytes. Throws EExifError.
    QByteArray WriteIntoJpegBytes(const QByteArray& jpeg) const;

    static QString TagName(TIfdKind kind, quint16 tag);

private:
    struct TWalk; // bounds of one walk: visited directories, depth, bytes left to read

    void Load(QIODevice& stream);
    void ReadIfd(TIfdKind kind, quint32 offset, QIODevice& stream);
    void noteOrientation(quint16 type, quint32 count, const char* field, qint64 fieldPos);
    QString ValueText(quint16 type, quint32 count, quint32 value, qint64 entryPos,
                      QIODevice& stream);

    TWalk* m_walk = nullptr;          // set only while a walk runs
    QList<quint32> m_keys;            // kind << 16 | tag of each line of Entries
    qsizetype m_orientationAt = -1;   // offset of IFD0's Orientation value in Segment
    int m_orientationSize = 0;        // 2 or 4 bytes
    qsizetype m_orientationLine = -1; // its line in Entries
};
