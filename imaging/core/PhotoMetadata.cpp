#include "imaging/core/PhotoMetadata.h"

#include "imaging/core/ExifMend.h"
#include "imaging/core/JpegTrailer.h"

#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include <zlib.h>

namespace {

// ---------------------------------------------------------------------------------------------
// PNG chunks

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";
constexpr qsizetype kXmpKeywordLength = 18; // "XML:com.adobe.xmp\0"

struct PngChunk {
    QByteArray type;
    qsizetype start = 0, end = 0; // the whole chunk
    QByteArrayView data;
    bool crcOk = false;
};

// The chunks of a PNG file in order; stops at IEND or at the first chunk that runs past the end.
QList<PngChunk> pngChunks(QByteArrayView png, QString* problem) {
    QList<PngChunk> chunks;
    if (png.size() < 8 || png.first(8) != QByteArrayView(kPngSignature, 8)) {
        *problem = QStringLiteral("not a PNG file");
        return chunks;
    }
    for (qsizetype p = 8; p < png.size();) {
        if (p + 12 > png.size()) {
            *problem = QStringLiteral("the file ends inside a chunk");
            break;
        }
        const quint32 length = qFromBigEndian<quint32>(png.data() + p);
        if (length > quint32(png.size() - p - 12)) {
            *problem = QStringLiteral("a chunk runs past the end of the file");
            break;
        }
        PngChunk c;
        c.type = QByteArray(png.data() + p + 4, 4);
        c.start = p;
        c.end = p + 12 + qsizetype(length);
        c.data = png.sliced(p + 8, qsizetype(length));
        const quint32 crc = qFromBigEndian<quint32>(png.data() + p + 8 + length);
        c.crcOk = crc == quint32(crc32(0, reinterpret_cast<const Bytef*>(png.data() + p + 4),
                                       uInt(length + 4)));
        chunks.append(c);
        p = c.end;
        if (c.type == "IEND")
            break;
    }
    return chunks;
}

QByteArray makePngChunk(const QByteArray& type, QByteArrayView data) {
    QByteArray out;
    out.reserve(data.size() + 12);
    char length[4];
    qToBigEndian<quint32>(quint32(data.size()), length);
    out.append(length, 4).append(type).append(data);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(out.constData() + 4),
                                      uInt(data.size() + 4)));
    char crcBytes[4];
    qToBigEndian<quint32>(crc, crcBytes);
    out.append(crcBytes, 4);
    return out;
}

bool isXmpText(const PngChunk& c) {
    return c.type == "iTXt" && c.data.size() >= kXmpKeywordLength &&
           c.data.first(kXmpKeywordLength) == QByteArrayView("XML:com.adobe.xmp\0", 18);
}

// A profile inflated from an iCCP chunk (name, zero, method, zlib data), at most 16 MiB.
QByteArray inflateProfile(QByteArrayView data, QString* problem) {
    const qsizetype zero = data.indexOf('\0');
    if (zero < 1 || zero + 2 > data.size() || data[zero + 1] != 0) {
        *problem = QStringLiteral("the colour profile chunk is damaged");
        return {};
    }
    const QByteArrayView packed = data.sliced(zero + 2);
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return {};
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = uInt(packed.size());
    QByteArray out;
    constexpr qsizetype cap = qsizetype(16) << 20;
    int rc = Z_OK;
    while (rc == Z_OK) {
        const qsizetype have = out.size();
        if (have >= cap) {
            rc = Z_BUF_ERROR;
            break;
        }
        out.resize(std::min(cap, std::max<qsizetype>(have * 2, 4096)));
        z.next_out = reinterpret_cast<Bytef*>(out.data() + have);
        z.avail_out = uInt(out.size() - have);
        rc = inflate(&z, Z_NO_FLUSH);
        out.resize(out.size() - qsizetype(z.avail_out));
        if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0)
            break; // no more input yet no end of stream
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        *problem = QStringLiteral("the colour profile chunk is damaged");
        return {};
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Checks of blocks that are carried unchanged, for the notices.

bool xmpPacketWhole(QByteArrayView packet) {
    return packet.contains(QByteArrayView("</x:xmpmeta>")) ||
           packet.contains(QByteArrayView("</x:xapmeta>")) ||
           packet.contains(QByteArrayView("<?xpacket end="));
}

// Extended XMP: each chunk holds a 32-character digest, the full length and its offset; the
// chunks of one digest must cover the full length.
QStringList extendedXmpProblems(const QList<TJpegSegment>& segments) {
    struct Parts {
        quint32 length = 0;
        std::map<quint32, quint32> pieces; // offset -> size
        bool consistent = true;
    };
    std::map<QByteArray, Parts> packets;
    constexpr qsizetype head = 35 + 32 + 8;
    for (const TJpegSegment& s : segments) {
        if (SegmentKind(s) != TSegmentKind::ExtendedXmp)
            continue;
        const QByteArrayView p = s.payload();
        if (p.size() < head) {
            packets[QByteArray()].consistent = false;
            continue;
        }
        Parts& parts = packets[p.sliced(35, 32).toByteArray()];
        const quint32 length = qFromBigEndian<quint32>(p.data() + 67);
        const quint32 offset = qFromBigEndian<quint32>(p.data() + 71);
        if (parts.length && parts.length != length)
            parts.consistent = false;
        parts.length = length;
        parts.pieces[offset] = quint32(p.size() - head);
    }
    QStringList problems;
    for (const auto& [digest, parts] : packets) {
        quint64 covered = 0;
        bool whole = parts.consistent;
        for (const auto& [offset, size] : parts.pieces) {
            if (offset != covered)
                whole = false;
            covered = quint64(offset) + size;
        }
        if (!whole || covered != parts.length)
            problems << QStringLiteral("the extended XMP block is incomplete; it is carried "
                                       "unchanged");
    }
    return problems;
}

void readJpeg(const QByteArray& file, TPhotoMetadata& m) {
    const TJpegHeader header = ReadJpegHeader(file);
    m.segments = header.segments;
    m.trailerLoss = JpegTrailerLoss(file);
    QString problem;
    const QByteArray icc = AssembleIccProfile(m.segments, &problem);
    if (!problem.isEmpty()) {
        m.problems << QStringLiteral("the colour profile is damaged (%1); it is carried "
                                     "unchanged and the captions keep their sRGB colours")
                          .arg(problem);
    } else if (!icc.isEmpty()) {
        const TProfileCheck check = CheckIccProfile(icc);
        if (check.usable) {
            m.iccProfile = icc;
            m.profileSpace = check.space;
        } else {
            m.problems << QStringLiteral("the colour profile is damaged (%1); it is carried "
                                         "unchanged and the captions keep their sRGB colours")
                              .arg(check.problem);
        }
    }
    for (const TJpegSegment& s : m.segments) {
        if (SegmentKind(s) == TSegmentKind::Xmp && !xmpPacketWhole(s.payload().sliced(29))) {
            m.problems << QStringLiteral("the XMP block is incomplete; it is carried unchanged");
            break;
        }
    }
    m.problems << extendedXmpProblems(m.segments);
}

void readPng(const QByteArray& file, TPhotoMetadata& m) {
    QString problem;
    for (const PngChunk& c : pngChunks(file, &problem)) {
        const bool icc = c.type == "iCCP";
        if (!icc && c.type != "eXIf" && !isXmpText(c))
            continue;
        m.pngChunks.append(file.sliced(c.start, c.end - c.start));
        if (!c.crcOk) {
            m.problems << QStringLiteral("the %1 chunk is damaged (its checksum is wrong); it is "
                                         "carried unchanged")
                              .arg(QString::fromLatin1(c.type));
            continue;
        }
        if (!icc || !m.iccProfile.isEmpty())
            continue;
        QString why;
        const QByteArray profile = inflateProfile(c.data, &why);
        const TProfileCheck check =
            profile.isEmpty() ? TProfileCheck{false, TProfileSpace::Other, why}
                              : CheckIccProfile(profile);
        if (check.usable) {
            m.iccProfile = profile;
            m.profileSpace = check.space;
        } else {
            m.problems << QStringLiteral("the colour profile is damaged (%1); it is carried "
                                         "unchanged and the captions keep their sRGB colours")
                              .arg(check.problem);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Mending

// The picture for thumbnails, made once when a block first needs it.
class Thumbnails {
public:
    explicit Thumbnails(const std::function<QImage()>& picture) : m_make(picture) {}
    QByteArray jpeg(int side, int quality) { return MakeJpegThumbnail(picture(), side, quality); }
    QImage picture() {
        if (!m_made) {
            m_made = true;
            if (m_make)
                m_picture = m_make();
            // Reduced once: every thumbnail tried is made from this copy, not the full picture.
            constexpr int side = 4 * ExifThumbnailSide;
            if (m_picture.width() > side || m_picture.height() > side)
                m_picture = m_picture.scaled(side, side, Qt::KeepAspectRatio,
                                             Qt::SmoothTransformation);
        }
        return m_picture;
    }

private:
    std::function<QImage()> m_make;
    bool m_made = false;
    QImage m_picture;
};

// A JFIF header's own thumbnail (rarely there) is dropped: the header says 0 x 0.
TJpegSegment mendJfif(const TJpegSegment& s) {
    const QByteArrayView p = s.payload();
    if (p.size() < 14 || (p[12] == 0 && p[13] == 0))
        return s;
    QByteArray payload = p.first(14).toByteArray();
    payload[12] = 0;
    payload[13] = 0;
    return MakeSegment(s.marker, payload);
}

// A JFIF extension thumbnail gets the written picture's, JPEG-coded.
std::optional<TJpegSegment> mendJfxx(const TJpegSegment& s, Thumbnails& thumbs) {
    for (const int side : {ExifThumbnailSide, 120, 80}) {
        const QByteArray jpeg = thumbs.jpeg(side, 75);
        if (jpeg.isEmpty())
            return std::nullopt;
        if (jpeg.size() + 6 <= MaxSegmentPayload)
            return MakeSegment(s.marker, QByteArray("JFXX\0\x10", 6) + jpeg);
    }
    return std::nullopt;
}

// The colour transform flag of an Adobe segment says how the components are coded; a re-encoded
// picture is YCbCr (1) or grey (0).
TJpegSegment mendAdobe(const TJpegSegment& s, int components) {
    const QByteArrayView p = s.payload();
    const char transform = components == 3 ? 1 : 0;
    if (p.size() < 12 || p[11] == transform)
        return s;
    QByteArray payload = p.toByteArray();
    payload[11] = transform;
    return MakeSegment(s.marker, payload);
}

// Photoshop image resources: the thumbnail resources (0x040C, and 0x0409 with red and blue
// swapped) get the written picture's; a resource block that does not parse stays as it is.
std::optional<TJpegSegment> mendPhotoshop(const TJpegSegment& s, Thumbnails& thumbs) {
    const QByteArrayView p = s.payload();
    constexpr qsizetype head = 14; // "Photoshop 3.0\0"
    struct Resource {
        qsizetype start, dataStart, dataEnd, end;
        quint16 id;
    };
    std::vector<Resource> resources;
    for (qsizetype q = head; q < p.size();) {
        if (q + 7 > p.size())
            return s;
        const quint16 id = qFromBigEndian<quint16>(p.data() + q + 4);
        qsizetype n = q + 6;
        const qsizetype nameLength = uchar(p[n]);
        n += (1 + nameLength + 1) & ~qsizetype(1);
        if (n + 4 > p.size())
            return s;
        const quint32 size = qFromBigEndian<quint32>(p.data() + n);
        const qsizetype dataStart = n + 4;
        if (size > quint32(p.size() - dataStart))
            return s;
        const qsizetype dataEnd = dataStart + qsizetype(size);
        const qsizetype end = std::min(p.size(), (dataEnd + 1) & ~qsizetype(1));
        resources.push_back({q, dataStart, dataEnd, end, id});
        q = end;
    }
    bool hasThumb = false;
    for (const Resource& r : resources)
        hasThumb = hasThumb || r.id == 0x0409 || r.id == 0x040C;
    if (!hasThumb)
        return s;
    QByteArray payload = p.first(head).toByteArray();
    for (const Resource& r : resources) {
        if (r.id != 0x0409 && r.id != 0x040C) {
            payload.append(p.sliced(r.start, r.end - r.start));
            continue;
        }
        QImage picture = thumbs.picture();
        if (picture.isNull())
            continue; // removed
        if (r.id == 0x0409)
            picture = picture.rgbSwapped();
        const QByteArray jpeg = MakeJpegThumbnail(picture, ExifThumbnailSide, 75);
        const QSize size = ReadJpegHeader(jpeg).frameSize;
        if (jpeg.isEmpty() || !size.isValid())
            continue;
        const quint32 widthBytes = quint32((size.width() * 24 + 31) / 32 * 4);
        QByteArray data(28, '\0');
        auto put32 = [&](int at, quint32 v) { qToBigEndian<quint32>(v, data.data() + at); };
        put32(0, 1); // JPEG-coded RGB
        put32(4, quint32(size.width()));
        put32(8, quint32(size.height()));
        put32(12, widthBytes);
        put32(16, widthBytes * quint32(size.height()));
        put32(20, quint32(jpeg.size()));
        qToBigEndian<quint16>(24, data.data() + 24);
        qToBigEndian<quint16>(1, data.data() + 26);
        data.append(jpeg);
        // Signature, id and name as they were; then the new size and data.
        payload.append(p.sliced(r.start, r.dataStart - 4 - r.start));
        char size4[4];
        qToBigEndian<quint32>(quint32(data.size()), size4);
        payload.append(size4, 4).append(data);
        if (data.size() % 2)
            payload.append('\0');
    }
    if (payload.size() > MaxSegmentPayload)
        return std::nullopt;
    return MakeSegment(s.marker, payload);
}

QString exifNotice(const QString& reason) {
    return QStringLiteral("%1; the EXIF block is carried as it was, its thumbnail and picture "
                          "size not updated")
        .arg(reason);
}

TCarriedOutput carryJpeg(const QByteArray& encoded, const TPhotoMetadata& source,
                         const TExif& exif, const TWrittenPicture& written) {
    TCarriedOutput out;
    out.notices = source.problems;
    QList<TJpegSegment> segments = source.segments;
    const auto isExif = [](const TJpegSegment& s) { return SegmentKind(s) == TSegmentKind::Exif; };
    if (!exif.Segment.isEmpty() && std::none_of(segments.cbegin(), segments.cend(), isExif)) {
        // A record that did not come with the file's own segments goes in after the JFIF
        // header, which must stay first.
        if (segments.isEmpty())
            segments = ReadJpegHeader(encoded).segments;
        const bool jfifFirst =
            !segments.isEmpty() && SegmentKind(segments.first()) == TSegmentKind::Jfif;
        segments.insert(jfifFirst ? 1 : 0, TJpegSegment{0xE1, exif.Segment});
    }
    if (segments.isEmpty()) {
        // Nothing to carry: the encoder's own header stays.
        out.bytes = encoded;
        for (const TJpegSegment& s : ReadJpegHeader(encoded).segments)
            out.carried << s.bytes;
        return out;
    }
    Thumbnails thumbs(written.picture);
    const TExifThumbnailMaker maker = [&thumbs](int side, int quality) {
        return thumbs.jpeg(side, quality);
    };
    // A CMYK (or Lab...) profile cannot describe a re-encoded RGB picture.
    const bool dropProfile = written.reencoded && !source.iccProfile.isEmpty() &&
                             source.profileSpace != TProfileSpace::Rgb &&
                             !(source.profileSpace == TProfileSpace::Gray &&
                               written.components == 1);
    QList<TJpegSegment> planned;
    bool exifSeen = false, mpfNoted = false, jfxxNoted = false;
    for (const TJpegSegment& s : segments) {
        switch (SegmentKind(s)) {
        case TSegmentKind::Exif: {
            if (exifSeen) {
                planned << s;
                break;
            }
            exifSeen = true;
            const QByteArray base = exif.Segment.isEmpty() ? s.bytes : exif.Segment;
            try {
                const QByteArray mended = MendExifSegment(base, written.size, maker);
                planned << TJpegSegment{s.marker, mended};
            } catch (const Exception& e) {
                out.notices << exifNotice(e.message());
                planned << TJpegSegment{s.marker, base};
            }
            break;
        }
        case TSegmentKind::Jfif:
            planned << mendJfif(s);
            break;
        case TSegmentKind::Jfxx:
            if (auto m = mendJfxx(s, thumbs)) {
                planned << *m;
            } else if (!jfxxNoted) {
                jfxxNoted = true;
                out.notices << QStringLiteral("the JFIF thumbnail could not be made again; it "
                                              "is left out");
            }
            break;
        case TSegmentKind::Adobe:
            planned << (written.reencoded ? mendAdobe(s, written.components) : s);
            break;
        case TSegmentKind::Icc:
            if (!dropProfile)
                planned << s;
            break;
        case TSegmentKind::Mpf:
            // The further images it indexes lie after the end marker: they follow only the
            // source's own picture (CarryJpegTrailer then updates the index). A re-encoded
            // picture is written alone, which its writer tells when there were images to lose.
            if (!written.reencoded)
                planned << s;
            else if (!mpfNoted && source.trailerLoss.isEmpty()) {
                mpfNoted = true;
                out.notices << QStringLiteral("its multi-picture (MPF) index lists no images "
                                              "after the picture and is left out");
            }
            break;
        case TSegmentKind::Photoshop: {
            if (auto m = mendPhotoshop(s, thumbs))
                planned << *m;
            else
                planned << s; // too large with a new thumbnail: the old block stays whole
            break;
        }
        case TSegmentKind::Xmp:
        case TSegmentKind::ExtendedXmp:
        case TSegmentKind::Comment:
        case TSegmentKind::Other:
            planned << s;
            break;
        }
    }
    if (dropProfile)
        out.notices << QStringLiteral("its colour profile is not RGB and cannot describe the "
                                      "written RGB picture; it is left out");
    out.bytes = PutJpegSegments(encoded, planned);
    for (const TJpegSegment& s : planned)
        out.carried << s.bytes;
    return out;
}

TCarriedOutput carryPng(const QByteArray& encoded, const TPhotoMetadata& source,
                        const TWrittenPicture& written) {
    TCarriedOutput out;
    out.notices = source.problems;
    QString problem;
    const QList<PngChunk> chunks = pngChunks(encoded, &problem);
    if (chunks.isEmpty() || chunks.first().type != "IHDR")
        throw EInvalidGraphic(QStringLiteral("Invalid PNG file: %1")
                                  .arg(problem.isEmpty() ? QStringLiteral("no header") : problem));
    Thumbnails thumbs(written.picture);
    const TExifThumbnailMaker maker = [&thumbs](int side, int quality) {
        return thumbs.jpeg(side, quality);
    };
    for (const QByteArray& chunk : source.pngChunks) {
        QByteArray kept = chunk;
        if (chunk.mid(4, 4) == "eXIf") {
            try {
                kept = makePngChunk("eXIf", MendExifTiff(chunk.mid(8, chunk.size() - 12),
                                                         written.size, maker, 65527));
            } catch (const Exception& e) {
                out.notices << exifNotice(e.message());
            }
        }
        out.carried << kept;
    }
    // Right after the header: the profile must come before the palette and the data.
    const PngChunk& ihdr = chunks.first();
    out.bytes = encoded.first(ihdr.end);
    for (const QByteArray& c : out.carried)
        out.bytes.append(c);
    out.bytes.append(QByteArrayView(encoded).sliced(ihdr.end));
    return out;
}

// A photo of another format written as JPEG (its own encoder missing here): its container's
// profile and XMP packet as the JPEG segments that hold them, after the encoder's JFIF header.
// The EXIF segment comes from the surface's record.
TPhotoMetadata containerAsJpeg(const QByteArray& encoded, const TPhotoMetadata& source) {
    TPhotoMetadata m;
    m.type = ImageFileType::Jpeg;
    m.problems = source.problems;
    m.iccProfile = source.iccProfile;
    m.profileSpace = source.profileSpace;
    for (const TJpegSegment& s : ReadJpegHeader(encoded).segments)
        if (SegmentKind(s) == TSegmentKind::Jfif)
            m.segments << s;
    const QByteArray& icc = source.container.icc;
    if (!icc.isEmpty()) {
        constexpr qsizetype chunk = MaxSegmentPayload - 14;
        const qsizetype count = (icc.size() + chunk - 1) / chunk;
        if (count > 255) {
            m.problems << QStringLiteral("the colour profile is too large for a JPEG file; it is "
                                         "left out");
        } else {
            for (qsizetype i = 0; i < count; ++i) {
                QByteArray payload("ICC_PROFILE\0", 12);
                payload.append(char(i + 1)).append(char(count));
                payload.append(icc.mid(i * chunk, chunk));
                m.segments << MakeSegment(0xE2, payload);
            }
        }
    }
    const QByteArray& xmp = source.container.xmp;
    if (!xmp.isEmpty()) {
        QByteArray payload("http://ns.adobe.com/xap/1.0/\0", 29);
        if (payload.size() + xmp.size() > MaxSegmentPayload) {
            m.problems << QStringLiteral("the XMP packet is too large for one JPEG segment; it is "
                                         "left out");
        } else {
            payload.append(xmp);
            m.segments << MakeSegment(0xE1, payload);
        }
    }
    return m;
}

} // namespace

TPhotoMetadata ReadPhotoMetadata(const QByteArray& file) {
    TPhotoMetadata m;
    m.type = DetectImageType(file);
    if (m.type == ImageFileType::Jpeg)
        readJpeg(file, m);
    else if (m.type == ImageFileType::Png)
        readPng(file, m);
    else if (m.type == ImageFileType::Tiff || m.type == ImageFileType::Webp ||
             m.type == ImageFileType::Heic || m.type == ImageFileType::Avif) {
        m.container = ReadContainerBlocks(file);
        m.losslessWebp = m.type == ImageFileType::Webp && WebpIsLossless(file);
        if (!m.container.icc.isEmpty()) {
            const TProfileCheck check = CheckIccProfile(m.container.icc);
            if (check.usable) {
                m.iccProfile = m.container.icc;
                m.profileSpace = check.space;
            } else {
                m.problems << QStringLiteral("the colour profile is damaged (%1); it is carried "
                                             "unchanged and the captions keep their sRGB colours")
                                  .arg(check.problem);
            }
        }
    }
    return m;
}

TCarriedOutput CarryMetadata(const QByteArray& encoded, const TPhotoMetadata& source,
                             const TExif& exif, const TWrittenPicture& written) {
    const ImageFileType type = DetectImageType(encoded);
    if (type == ImageFileType::Jpeg && source.type == ImageFileType::Jpeg)
        return carryJpeg(encoded, source, exif, written);
    if (type == ImageFileType::Png && source.type == ImageFileType::Png)
        return carryPng(encoded, source, written);
    if (type == ImageFileType::Jpeg && !source.container.isEmpty())
        return carryJpeg(encoded, containerAsJpeg(encoded, source), exif, written);
    TCarriedOutput out;
    out.bytes = encoded;
    if (type == ImageFileType::Jpeg) {
        for (const TJpegSegment& s : ReadJpegHeader(encoded).segments)
            out.carried << s.bytes;
    }
    return out;
}

void VerifyOutput(const QByteArray& output, const QSize& size, const QList<QByteArray>& carried,
                  const QByteArray& decoded) {
    const auto fail = [](const QString& why) {
        throw EInvalidGraphic(QStringLiteral("The written picture did not read back: %1").arg(why));
    };
    QList<QByteArray> held;
    QSize stored;
    switch (DetectImageType(output)) {
    case ImageFileType::Jpeg: {
        const TJpegHeader header = ReadJpegHeader(output);
        if (!header.complete)
            fail(header.problem);
        for (const TJpegSegment& s : header.segments)
            held << s.bytes;
        stored = header.frameSize;
        // Everything from the first scan on: the tables and frame come before it in both.
        // Up to the end of the picture: what follows it is not decoded.
        const auto dataAfterHeader = [](const QByteArray& jpeg, const TJpegHeader& h) {
            QByteArray tables;
            for (qsizetype p = 2; p < h.scanStart;) {
                if (p + 4 > h.scanStart || uchar(jpeg[p]) != 0xFF)
                    return std::pair(QByteArray("?"), QByteArrayView()); // decoded then
                const qsizetype length = uchar(jpeg[p + 2]) << 8 | uchar(jpeg[p + 3]);
                const uchar m = uchar(jpeg[p + 1]);
                if (!((m >= 0xE0 && m <= 0xEF) || m == 0xFE))
                    tables.append(QByteArrayView(jpeg).sliced(p, length + 2));
                p += 2 + length;
            }
            const qsizetype end = std::max(JpegImageEnd(jpeg), h.scanStart);
            return std::pair(tables, QByteArrayView(jpeg).sliced(h.scanStart, end - h.scanStart));
        };
        bool alreadyDecoded = false;
        if (!decoded.isEmpty()) {
            const TJpegHeader own = ReadJpegHeader(decoded);
            if (own.complete) {
                const auto [tablesA, scanA] = dataAfterHeader(output, header);
                const auto [tablesB, scanB] = dataAfterHeader(decoded, own);
                alreadyDecoded = tablesA != "?" && tablesA == tablesB && scanA == scanB;
            }
        }
        if (!alreadyDecoded) {
            try {
                // A reduced decode still reads every coded bit of the picture; libjpeg's own
                // decoder, not the one that may have read the source.
                DecodeJpegScaledByLibjpeg(output, 1, 1);
            } catch (const Exception& e) {
                fail(e.message());
            }
        }
        break;
    }
    case ImageFileType::Png: {
        QString problem;
        for (const PngChunk& c : pngChunks(output, &problem)) {
            if (c.type == "iCCP" || c.type == "eXIf" || isXmpText(c))
                held << output.sliced(c.start, c.end - c.start);
        }
        try {
            stored = DecodePng(output).size();
        } catch (const Exception& e) {
            fail(e.message());
        }
        break;
    }
    default:
        try {
            stored = DecodeImage(output).size();
        } catch (const Exception& e) {
            fail(e.message());
        }
        break;
    }
    if (stored != size)
        fail(QStringLiteral("it is %1 x %2 pixels instead of %3 x %4")
                 .arg(stored.width())
                 .arg(stored.height())
                 .arg(size.width())
                 .arg(size.height()));
    if (held != carried) {
        qsizetype i = 0;
        while (i < held.size() && i < carried.size() && held[i] == carried[i])
            ++i;
        fail(QStringLiteral("metadata block %1 of %2 is missing or changed").arg(i + 1).arg(
            carried.size()));
    }
}

QByteArray MakeJpegThumbnail(const QImage& picture, int side, int quality) {
    if (picture.isNull() || side < 1)
        return {};
    QSize size = picture.size().scaled(side, side, Qt::KeepAspectRatio);
    size = size.expandedTo(QSize(1, 1));
    QImage small = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (small.hasAlphaChannel()) {
        QImage flat(small.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, small);
        small = flat;
    }
    try {
        return PutJpegSegments(EncodeJpeg(small, quality), {});
    } catch (const Exception&) {
        return {};
    }
}
