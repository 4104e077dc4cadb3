#include "imaging/core/JpegSegments.h"

#include "imaging/core/ImageCodecs.h"
#include "platform/ImageBuffer.h"

#include <map>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr uchar kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kTem = 0x01, kCom = 0xFE;

bool isApplicationOrComment(uchar marker) {
    return (marker >= 0xE0 && marker <= 0xEF) || marker == kCom;
}

// Markers without a length field.
bool isStandalone(uchar marker) {
    return marker == kTem || (marker >= 0xD0 && marker <= 0xD7);
}

bool startsWith(QByteArrayView data, QByteArrayView prefix) {
    return data.size() >= prefix.size() && data.first(prefix.size()) == prefix;
}

// One marker of the header walk: where its bytes start and end.
struct Marker {
    uchar code = 0;
    qsizetype start = 0; // at its FF
    qsizetype end = 0;   // after its payload
};

// Steps from marker to marker as libjpeg's next_marker does. Returns false at the end of the data
// or on a broken length, with *problem set.
class HeaderWalk {
public:
    explicit HeaderWalk(QByteArrayView data) : m_data(data) {}

    bool startsWithSoi() const {
        return m_data.size() >= 2 && uchar(m_data[0]) == 0xFF && uchar(m_data[1]) == kSoi;
    }

    bool next(Marker* m, QString* problem) {
        qsizetype p = m_pos;
        while (p < m_data.size() && uchar(m_data[p]) != 0xFF)
            ++p; // stray bytes before a marker
        while (p + 1 < m_data.size() && uchar(m_data[p + 1]) == 0xFF)
            ++p; // fill bytes
        if (p + 1 >= m_data.size()) {
            *problem = QStringLiteral("the file ends before its picture data");
            return false;
        }
        m->code = uchar(m_data[p + 1]);
        m->start = p;
        if (isStandalone(m->code) || m->code == kSoi || m->code == kEoi) {
            m->end = p + 2;
        } else {
            if (p + 4 > m_data.size()) {
                *problem = QStringLiteral("the file ends inside a segment header");
                return false;
            }
            const qsizetype length = qsizetype(uchar(m_data[p + 2])) << 8 | uchar(m_data[p + 3]);
            if (length < 2) {
                *problem = QStringLiteral("a segment has an impossible length");
                return false;
            }
            if (p + 2 + length > m_data.size()) {
                *problem = QStringLiteral("a segment runs past the end of the file");
                return false;
            }
            m->end = p + 2 + length;
        }
        m_pos = m->end;
        return true;
    }

private:
    QByteArrayView m_data;
    qsizetype m_pos = 2;
};

} // namespace

TSegmentKind SegmentKind(const TJpegSegment& segment) {
    if (segment.bytes.size() < 4)
        return TSegmentKind::Other;
    const QByteArrayView p = segment.payload();
    switch (segment.marker) {
    case 0xE0:
        if (startsWith(p, QByteArrayView("JFIF\0", 5)))
            return TSegmentKind::Jfif;
        if (startsWith(p, QByteArrayView("JFXX\0", 5)))
            return TSegmentKind::Jfxx;
        break;
    case 0xE1:
        if (startsWith(p, QByteArrayView("Exif\0\0", 6)))
            return TSegmentKind::Exif;
        if (startsWith(p, QByteArrayView("http://ns.adobe.com/xap/1.0/\0", 29)))
            return TSegmentKind::Xmp;
        if (startsWith(p, QByteArrayView("http://ns.adobe.com/xmp/extension/\0", 35)))
            return TSegmentKind::ExtendedXmp;
        break;
    case 0xE2:
        if (startsWith(p, QByteArrayView("ICC_PROFILE\0", 12)))
            return TSegmentKind::Icc;
        if (startsWith(p, QByteArrayView("MPF\0", 4)))
            return TSegmentKind::Mpf;
        break;
    case 0xED:
        if (startsWith(p, QByteArrayView("Photoshop 3.0\0", 14)))
            return TSegmentKind::Photoshop;
        break;
    case 0xEE:
        if (startsWith(p, QByteArrayView("Adobe", 5)))
            return TSegmentKind::Adobe;
        break;
    case kCom:
        return TSegmentKind::Comment;
    default:
        break;
    }
    return TSegmentKind::Other;
}

QString SegmentName(const TJpegSegment& segment) {
    const QString base = segment.marker == kCom
                             ? QStringLiteral("COM")
                             : QStringLiteral("APP%1").arg(int(segment.marker) - 0xE0);
    const char* what = nullptr;
    switch (SegmentKind(segment)) {
    case TSegmentKind::Jfif: what = "JFIF"; break;
    case TSegmentKind::Jfxx: what = "JFIF thumbnail"; break;
    case TSegmentKind::Exif: what = "EXIF"; break;
    case TSegmentKind::Xmp: what = "XMP"; break;
    case TSegmentKind::ExtendedXmp: what = "extended XMP"; break;
    case TSegmentKind::Icc: what = "ICC profile"; break;
    case TSegmentKind::Mpf: what = "MPF"; break;
    case TSegmentKind::Photoshop: what = "Photoshop/IPTC"; break;
    case TSegmentKind::Adobe: what = "Adobe"; break;
    case TSegmentKind::Comment:
    case TSegmentKind::Other: break;
    }
    return what ? QStringLiteral("%1 (%2)").arg(base, QLatin1String(what)) : base;
}

TJpegSegment MakeSegment(uchar marker, QByteArrayView payload) {
    if (payload.size() > MaxSegmentPayload)
        throw EInvalidGraphic(QStringLiteral("A JPEG segment cannot hold %1 bytes")
                                  .arg(payload.size()));
    TJpegSegment s;
    s.marker = marker;
    const qsizetype length = payload.size() + 2;
    s.bytes.reserve(payload.size() + 4);
    s.bytes.append(char(0xFF)).append(char(marker)).append(char(length >> 8)).append(char(length));
    s.bytes.append(payload);
    return s;
}

TJpegHeader ReadJpegHeader(const QByteArrayView& jpeg) {
    TJpegHeader header;
    HeaderWalk walk(jpeg);
    if (!walk.startsWithSoi()) {
        header.problem = QStringLiteral("not a JPEG file");
        return header;
    }
    Marker m;
    while (walk.next(&m, &header.problem)) {
        if (m.code == kSos) {
            header.complete = true;
            header.scanStart = m.start;
            return header;
        }
        if (m.code == kEoi || m.code == kSoi) {
            header.problem = QStringLiteral("the file has no picture data");
            return header;
        }
        const bool frame = m.code >= 0xC0 && m.code <= 0xCF && m.code != 0xC4 &&
                           m.code != 0xC8 && m.code != 0xCC;
        if (frame && m.end - m.start >= 10) {
            const auto at = [&](qsizetype i) { return int(uchar(jpeg[m.start + i])); };
            header.frameSize = QSize(at(7) << 8 | at(8), at(5) << 8 | at(6));
            header.components = at(9);
        }
        if (isApplicationOrComment(m.code))
            header.segments.append(
                {m.code, QByteArray(jpeg.data() + m.start, m.end - m.start)});
    }
    return header;
}

QByteArray PutJpegSegments(const QByteArray& jpeg, const QList<TJpegSegment>& segments) {
    HeaderWalk walk(jpeg);
    if (!walk.startsWithSoi())
        throw EInvalidGraphic(QStringLiteral("Invalid JPEG file: not a JPEG file"));
    qsizetype extra = 0;
    for (const TJpegSegment& s : segments)
        extra += s.bytes.size();
    QByteArray out = TakeBytes(jpeg.size() + extra);
    out.append(jpeg.constData(), 2);
    for (const TJpegSegment& s : segments)
        out.append(s.bytes);
    Marker m;
    QString problem;
    while (walk.next(&m, &problem)) {
        if (m.code == kSos) {
            out.append(QByteArrayView(jpeg).sliced(m.start));
            return out;
        }
        if (m.code == kEoi || m.code == kSoi)
            break;
        if (!isApplicationOrComment(m.code))
            out.append(QByteArrayView(jpeg).sliced(m.start, m.end - m.start));
    }
    throw EInvalidGraphic(QStringLiteral("Invalid JPEG file: %1")
                              .arg(problem.isEmpty() ? QStringLiteral("the file has no picture data")
                                                     : problem));
}

qsizetype NextJpegMarker(const char* data, qsizetype size, qsizetype from) {
    qsizetype p = std::max<qsizetype>(from, 0);
#ifdef __SSE2__
    // Sixteen places at once: a 0xFF whose next byte is not 0.
    const __m128i ff = _mm_set1_epi8(char(0xFF)), zero = _mm_setzero_si128();
    for (; p + 17 <= size; p += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 1));
        const int hits = _mm_movemask_epi8(
            _mm_andnot_si128(_mm_cmpeq_epi8(next, zero), _mm_cmpeq_epi8(here, ff)));
        if (hits)
            return p + __builtin_ctz(unsigned(hits));
    }
#endif
    for (; p < size; ++p)
        if (uchar(data[p]) == 0xFF && (p + 1 == size || data[p + 1] != 0))
            return p;
    return size;
}

QByteArray AssembleIccProfile(const QList<TJpegSegment>& segments, QString* problem) {
    std::map<int, QByteArrayView> chunks;
    int count = -1;
    bool any = false;
    for (const TJpegSegment& s : segments) {
        if (SegmentKind(s) != TSegmentKind::Icc)
            continue;
        any = true;
        const QByteArrayView p = s.payload();
        if (p.size() < 14) {
            *problem = QStringLiteral("an ICC profile chunk is cut short");
            return {};
        }
        const int sequence = uchar(p[12]);
        const int total = uchar(p[13]);
        if (count < 0)
            count = total;
        if (total != count || sequence < 1 || sequence > total) {
            *problem = QStringLiteral("the ICC profile chunks are not numbered consistently");
            return {};
        }
        if (!chunks.emplace(sequence, p.sliced(14)).second) {
            *problem = QStringLiteral("an ICC profile chunk appears twice");
            return {};
        }
    }
    if (!any)
        return {};
    if (int(chunks.size()) != count) {
        *problem = QStringLiteral("%1 of the %2 ICC profile chunks are missing")
                       .arg(count - int(chunks.size()))
                       .arg(count);
        return {};
    }
    QByteArray profile;
    for (const auto& [sequence, data] : chunks)
        profile.append(data);
    return profile;
}
