#include "imaging/core/JpegTrailer.h"

#include "imaging/core/JpegSegments.h"

#include <QList>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr uchar MarkerPrefix = 0xFF;
constexpr uchar Soi = 0xD8;
constexpr uchar Eoi = 0xD9;
constexpr uchar Sos = 0xDA;
constexpr uchar App2 = 0xE2;

uchar byteAt(const QByteArray& d, qsizetype i) {
    return uchar(d.constData()[i]);
}

// A segment with a length field: where its marker starts and its whole size, marker included.
struct Segment {
    qsizetype pos = 0;
    qsizetype size = 0;
    uchar marker = 0;
};

// Walks the markers as libjpeg's reader meets them: bytes other than a marker are skipped (the
// entropy-coded data, and the stray bytes libjpeg only warns about), 0xFF00 is a stuffed data
// byte, 0xFF fill bytes and the parameterless markers have no length. The segments before the
// first scan go to header when it is given.
qsizetype walkMarkers(const QByteArray& d, QList<Segment>* header) {
    const qsizetype n = d.size();
    if (n < 2 || byteAt(d, 0) != MarkerPrefix || byteAt(d, 1) != Soi)
        return -1;
    bool scanned = false;
    qsizetype pos = 2;
    while (pos < n) {
        pos = NextJpegMarker(d.constData(), n, pos);
        if (pos + 1 >= n)
            return n;
        const uchar marker = byteAt(d, pos + 1);
        if (marker == 0x00 || marker == MarkerPrefix) {
            pos += 1;
            continue;
        }
        if (marker == Eoi)
            return pos + 2;
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01 || marker == Soi) {
            pos += 2;
            continue;
        }
        if (pos + 4 > n)
            return n;
        const qsizetype length = qsizetype(byteAt(d, pos + 2)) << 8 | byteAt(d, pos + 3);
        if (length < 2)
            return n; // libjpeg gives up here: no image ends in this file
        if (header && !scanned)
            header->append({pos, 2 + length, marker});
        if (marker == Sos)
            scanned = true;
        pos += 2 + length;
    }
    return std::min(pos, n);
}

// The numbers of an MPF index, as offsets into the data that holds the segment.
struct MpfIndex {
    Segment segment;
    qsizetype header = 0; // the byte-order mark the offsets count from
    bool bigEndian = false;
    struct Entry {
        qsizetype at = 0; // the entry's 16 bytes
        quint32 size = 0;
        quint32 offset = 0;
    };
    QList<Entry> entries;
};

quint32 readU32(const QByteArray& d, qsizetype at, bool big) {
    const quint32 b0 = byteAt(d, at), b1 = byteAt(d, at + 1), b2 = byteAt(d, at + 2),
                  b3 = byteAt(d, at + 3);
    return big ? (b0 << 24 | b1 << 16 | b2 << 8 | b3) : (b3 << 24 | b2 << 16 | b1 << 8 | b0);
}
quint16 readU16(const QByteArray& d, qsizetype at, bool big) {
    const quint16 b0 = byteAt(d, at), b1 = byteAt(d, at + 1);
    return quint16(big ? (b0 << 8 | b1) : (b1 << 8 | b0));
}
void writeU32(QByteArray& d, qsizetype at, quint32 v, bool big) {
    for (int i = 0; i < 4; ++i) {
        const int shift = big ? 8 * (3 - i) : 8 * i;
        d[at + i] = char((v >> shift) & 0xFF);
    }
}

constexpr quint16 TagNumberOfImages = 0xB001;
constexpr quint16 TagMpEntry = 0xB002;
constexpr int MpEntrySize = 16;

// The first APP2 "MPF" segment before the first scan. nullopt without one; an index with no
// entries when the segment is there but cannot be read (every offset is checked against the
// segment, so a damaged one never reads outside it).
std::optional<MpfIndex> findMpf(const QByteArray& d, const QList<Segment>& header) {
    for (const Segment& s : header) {
        if (s.marker != App2 || s.size < 8 || s.pos + s.size > d.size() ||
            std::memcmp(d.constData() + s.pos + 4, "MPF\0", 4) != 0)
            continue;
        MpfIndex index;
        index.segment = s;
        index.header = s.pos + 8;
        const qsizetype end = s.pos + s.size;
        const auto fits = [&](qsizetype from, qint64 bytes) {
            return from >= index.header && bytes >= 0 && from + bytes <= end;
        };
        if (!fits(index.header, 8))
            return index;
        if (std::memcmp(d.constData() + index.header, "MM\0*", 4) == 0)
            index.bigEndian = true;
        else if (std::memcmp(d.constData() + index.header, "II*\0", 4) != 0)
            return index;
        const bool big = index.bigEndian;
        const qsizetype ifd = index.header + readU32(d, index.header + 4, big);
        if (!fits(ifd, 2))
            return index;
        const int count = readU16(d, ifd, big);
        if (!fits(ifd + 2, qint64(count) * 12))
            return index;
        qint64 declared = -1, entriesAt = -1, entryBytes = 0;
        for (int i = 0; i < count; ++i) {
            const qsizetype e = ifd + 2 + qsizetype(i) * 12;
            const quint16 tag = readU16(d, e, big);
            const quint32 items = readU32(d, e + 4, big);
            if (tag == TagNumberOfImages)
                declared = readU32(d, e + 8, big);
            else if (tag == TagMpEntry) {
                entryBytes = items;
                entriesAt = index.header + qint64(readU32(d, e + 8, big));
            }
        }
        if (entriesAt < 0 || entryBytes <= 0 || entryBytes % MpEntrySize != 0 ||
            !fits(qsizetype(entriesAt), entryBytes) ||
            (declared >= 0 && declared != entryBytes / MpEntrySize))
            return index;
        for (qint64 k = 0; k < entryBytes / MpEntrySize; ++k) {
            MpfIndex::Entry entry;
            entry.at = qsizetype(entriesAt + k * MpEntrySize);
            entry.size = readU32(d, entry.at + 4, big);
            entry.offset = readU32(d, entry.at + 8, big);
            index.entries.append(entry);
        }
        return index;
    }
    return std::nullopt;
}

// Whether the index describes the file it is in: the first entry is the first image, at offset
// 0, and every other listed image lies whole in the trailer.
bool describesFile(const MpfIndex& index, const QByteArray& d, qsizetype imageEnd) {
    if (index.entries.isEmpty() || index.entries.first().offset != 0)
        return false;
    for (qsizetype k = 1; k < index.entries.size(); ++k) {
        const MpfIndex::Entry& e = index.entries[k];
        if (e.offset == 0 && e.size == 0)
            continue; // listed but not recorded
        const qint64 start = qint64(index.header) + e.offset;
        if (start < imageEnd || start + qint64(e.size) > d.size())
            return false;
    }
    return true;
}

bool isPadding(const QByteArray& d, qsizetype from) {
    return std::all_of(d.constBegin() + from, d.constEnd(),
                       [](char c) { return c == 0 || uchar(c) == 0xFF; });
}

} // namespace

qsizetype JpegImageEnd(const QByteArray& jpeg) {
    return walkMarkers(jpeg, nullptr);
}

CarriedJpeg CarryJpegTrailer(const QByteArray& source, const QByteArray& output) {
    QList<Segment> sourceHeader, outputHeader;
    const qsizetype sourceEnd = walkMarkers(source, &sourceHeader);
    const qsizetype outputEnd = walkMarkers(output, &outputHeader);
    if (sourceEnd < 0 || outputEnd < 0)
        return {output, {}};
    QByteArray bytes = output.left(outputEnd);
    const QByteArray trailer = source.mid(sourceEnd);

    const std::optional<MpfIndex> kept = findMpf(bytes, outputHeader);
    if (!kept)
        return {trailer.isEmpty() ? bytes : bytes + trailer, {}}; // no copy of a lone picture
    const std::optional<MpfIndex> original = findMpf(source, sourceHeader);
    // The output's segment is the source's copied as it is, so its entries are the source's.
    bool usable = original && describesFile(*original, source, sourceEnd) &&
                  kept->entries.size() == original->entries.size();
    // Each image keeps its place relative to the first image's end.
    const qint64 shift = qint64(outputEnd) - sourceEnd - (qint64(kept->header) -
                                                          (original ? original->header : 0));
    QList<quint32> offsets;
    if (usable) {
        for (qsizetype k = 1; k < original->entries.size(); ++k) {
            const MpfIndex::Entry& e = original->entries[k];
            if (e.offset == 0 && e.size == 0) {
                offsets.append(0);
                continue;
            }
            const qint64 moved = qint64(e.offset) + shift;
            if (moved <= 0 || moved > 0xFFFFFFFFLL) {
                usable = false;
                break;
            }
            offsets.append(quint32(moved));
        }
    }
    if (usable && qint64(outputEnd) <= 0xFFFFFFFFLL) {
        writeU32(bytes, kept->entries[0].at + 4, quint32(outputEnd), kept->bigEndian);
        for (qsizetype k = 1; k < kept->entries.size(); ++k)
            writeU32(bytes, kept->entries[k].at + 8, offsets[k - 1], kept->bigEndian);
        return {bytes + trailer, {}};
    }
    bytes.remove(kept->segment.pos, kept->segment.size);
    return {bytes + trailer,
            QStringLiteral("its multi-picture (MPF) index does not match the file and is left "
                           "out")};
}

QString JpegTrailerLoss(const QByteArray& source) {
    QList<Segment> header;
    const qsizetype end = walkMarkers(source, &header);
    if (end < 0 || end >= source.size() || isPadding(source, end))
        return {};
    if (const std::optional<MpfIndex> index = findMpf(source, header);
        index && describesFile(*index, source, end) && index->entries.size() > 1) {
        const qsizetype more = index->entries.size() - 1;
        return more == 1 ? QStringLiteral("1 more image after the picture (multi-picture file)")
                         : QStringLiteral("%1 more images after the picture (multi-picture file)")
                               .arg(more);
    }
    return QStringLiteral("%1 bytes after the end of the picture").arg(source.size() - end);
}
