#include "tests/support/MetadataCorpus.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <lcms2.h>
#include <zlib.h>

namespace {

QByteArray saved(cmsHPROFILE p) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    return bytes;
}

void describe(cmsHPROFILE p, const char* text) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(mlu, "en", "US", text);
    cmsWriteTag(p, cmsSigProfileDescriptionTag, mlu);
    cmsMLUfree(mlu);
}

void le16(QByteArray& b, quint16 v) {
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}
void le32(QByteArray& b, quint32 v) {
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}
void be16(QByteArray& b, quint16 v) {
    char c[2];
    qToBigEndian(v, c);
    b.append(c, 2);
}
void be32(QByteArray& b, quint32 v) {
    char c[4];
    qToBigEndian(v, c);
    b.append(c, 4);
}

// A small Intel-order TIFF writer: directories one after the other, each followed by the values
// that do not fit in their entries.
struct TiffEntry {
    quint16 tag, type;
    quint32 count;
    QByteArray value; // little-endian bytes; a pointer entry gets its target patched in
    int pointsTo = -1; // index of a directory, or -2 for the thumbnail
};

QByteArray writeTiff(std::vector<std::vector<TiffEntry>> dirs, const QByteArray& thumbnail,
                     const std::vector<int>& chainNext) {
    std::vector<quint32> at(dirs.size());
    quint32 pos = 8;
    for (size_t d = 0; d < dirs.size(); ++d) {
        at[d] = pos;
        pos += 2 + 12 * quint32(dirs[d].size()) + 4;
        for (const TiffEntry& e : dirs[d])
            if (e.value.size() > 4)
                pos += quint32((e.value.size() + 1) & ~1);
    }
    const quint32 thumbAt = pos;
    QByteArray out("II*\0", 4);
    le32(out, 8);
    for (size_t d = 0; d < dirs.size(); ++d) {
        std::sort(dirs[d].begin(), dirs[d].end(),
                  [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
        QByteArray dir, data;
        const quint32 dataAt = at[d] + 2 + 12 * quint32(dirs[d].size()) + 4;
        le16(dir, quint16(dirs[d].size()));
        for (TiffEntry e : dirs[d]) {
            if (e.pointsTo >= 0 || e.pointsTo == -2) {
                e.value.clear();
                le32(e.value, e.pointsTo == -2 ? thumbAt : at[size_t(e.pointsTo)]);
            }
            le16(dir, e.tag);
            le16(dir, e.type);
            le32(dir, e.count);
            if (e.value.size() <= 4) {
                dir.append(e.value.leftJustified(4, '\0'));
            } else {
                le32(dir, dataAt + quint32(data.size()));
                data.append(e.value);
                if (data.size() % 2)
                    data.append('\0');
            }
        }
        le32(dir, chainNext[d] >= 0 ? at[size_t(chainNext[d])] : 0);
        out.append(dir).append(data);
    }
    out.append(thumbnail);
    return out;
}

TiffEntry ascii(quint16 tag, const QByteArray& text) {
    const QByteArray v = text + '\0';
    return {tag, 2, quint32(v.size()), v};
}
TiffEntry longValue(quint16 tag, quint32 v) {
    QByteArray b;
    le32(b, v);
    return {tag, 4, 1, b};
}
TiffEntry shortValue(quint16 tag, quint16 v) {
    QByteArray b;
    le16(b, v);
    return {tag, 3, 1, b};
}
TiffEntry rational(quint16 tag, quint32 n, quint32 d) {
    QByteArray b;
    le32(b, n);
    le32(b, d);
    return {tag, 5, 1, b};
}

QByteArray pascalName() {
    return QByteArray("\0\0", 2); // empty name, padded to even
}

QByteArray resource(quint16 id, const QByteArray& data) {
    QByteArray r("8BIM");
    be16(r, id);
    r.append(pascalName());
    be32(r, quint32(data.size()));
    r.append(data);
    if (r.size() % 2)
        r.append('\0');
    return r;
}

QByteArray iptcRecord(int record, int dataset, const QByteArray& value) {
    QByteArray r;
    r.append(char(0x1C)).append(char(record)).append(char(dataset));
    be16(r, quint16(value.size()));
    return r + value;
}

struct JpegJob {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
};

double srgbToLinear(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double linearToSrgb(double c) {
    c = std::clamp(c, 0.0, 1.0);
    return c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
}
constexpr double kAdobeGamma = 563.0 / 256.0;

QRgb applyMatrix(QRgb in, double (*decode)(double), const double m[3][3],
                 double (*encode)(double)) {
    const double lin[3] = {decode(qRed(in) / 255.0), decode(qGreen(in) / 255.0),
                           decode(qBlue(in) / 255.0)};
    int out[3];
    for (int i = 0; i < 3; ++i) {
        const double v = m[i][0] * lin[0] + m[i][1] * lin[1] + m[i][2] * lin[2];
        out[i] = int(std::lround(encode(v) * 255));
    }
    return qRgb(out[0], out[1], out[2]);
}

} // namespace

QByteArray AdobeRgbProfile(int padTo) {
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, kAdobeGamma);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    describe(p, "Corpus Adobe RGB (1998)");
    if (padTo > 0) {
        const std::string text(size_t(padTo), 'p');
        cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
        cmsMLUsetASCII(mlu, "en", "US", text.c_str());
        cmsWriteTag(p, cmsSigCharTargetTag, mlu);
        cmsMLUfree(mlu);
    }
    return saved(p);
}

QByteArray SrgbProfile() {
    return saved(cmsCreate_sRGBProfile());
}

QByteArray GrayProfile() {
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
    cmsFreeToneCurve(gamma);
    describe(p, "Corpus grey");
    return saved(p);
}

QByteArray CmykProfile() {
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(p, 4.3);
    cmsSetDeviceClass(p, cmsSigOutputClass);
    cmsSetColorSpace(p, cmsSigCmykData);
    cmsSetPCS(p, cmsSigLabData);
    // CMYK -> Lab: lightness from the ink, neutral.
    cmsPipeline* toLab = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* a = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        a,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
            const double ink = std::min(1.0, (in[0] + in[1] + in[2]) / 3.0 / 65535 + in[3] / 65535.0);
            out[0] = cmsUInt16Number((1 - ink) * 0xFF00);
            out[1] = out[2] = 0x8080;
            return 1;
        },
        nullptr, 0);
    // The table's formats want curves on both sides of the grid.
    cmsPipelineInsertStage(toLab, cmsAT_BEGIN, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(toLab, cmsAT_END, a);
    cmsPipelineInsertStage(toLab, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(p, cmsSigAToB0Tag, toLab);
    cmsPipelineFree(toLab);
    cmsPipeline* toCmyk = cmsPipelineAlloc(nullptr, 3, 4);
    cmsStage* b = cmsStageAllocCLut16bit(nullptr, 2, 3, 4, nullptr);
    cmsStageSampleCLut16bit(
        b,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void*) -> cmsInt32Number {
            out[0] = out[1] = out[2] = 0;
            out[3] = cmsUInt16Number(65535 - std::min<int>(65535, in[0] * 65535 / 0xFF00));
            return 1;
        },
        nullptr, 0);
    cmsPipelineInsertStage(toCmyk, cmsAT_BEGIN, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipelineInsertStage(toCmyk, cmsAT_END, b);
    cmsPipelineInsertStage(toCmyk, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsWriteTag(p, cmsSigBToA0Tag, toCmyk);
    cmsPipelineFree(toCmyk);
    cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    describe(p, "Corpus CMYK");
    return saved(p);
}

QByteArray Segment(uchar marker, const QByteArray& payload) {
    QByteArray s;
    s.append(char(0xFF)).append(char(marker));
    be16(s, quint16(payload.size() + 2));
    return s + payload;
}

QList<QByteArray> IccSegments(const QByteArray& profile) {
    constexpr int chunk = 65519;
    const int count = int((profile.size() + chunk - 1) / chunk);
    QList<QByteArray> out;
    for (int i = 0; i < count; ++i) {
        QByteArray payload("ICC_PROFILE\0", 12);
        payload.append(char(i + 1)).append(char(count));
        payload.append(profile.mid(qsizetype(i) * chunk, chunk));
        out << Segment(0xE2, payload);
    }
    return out;
}

QByteArray ExifSegment(const CorpusExif& exif) {
    std::vector<TiffEntry> ifd0{ascii(0x010F, exif.make), ascii(0x0132, exif.dateTime),
                                {0x8769, 4, 1, {}, 1}};
    if (exif.orientation > 0)
        ifd0.push_back(shortValue(0x0112, exif.orientation));
    std::vector<TiffEntry> sub{ascii(0x9003, exif.dateTime), longValue(0xA002, exif.pixelX),
                               longValue(0xA003, exif.pixelY)};
    std::vector<std::vector<TiffEntry>> dirs{ifd0, sub};
    std::vector<int> next{-1, -1};
    if (!exif.thumbnail.isEmpty()) {
        dirs.push_back({shortValue(0x0103, 6), rational(0x011A, 72, 1), rational(0x011B, 72, 1),
                        shortValue(0x0128, 2), {0x0201, 4, 1, {}, -2},
                        longValue(0x0202, quint32(exif.thumbnail.size()))});
        next = {2, -1, -1};
    }
    return Segment(0xE1, QByteArray("Exif\0\0", 6) + writeTiff(dirs, exif.thumbnail, next));
}

QByteArray XmpSegment(const QByteArray& title, const QByteArray& extendedDigest) {
    QByteArray packet =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\"";
    if (!extendedDigest.isEmpty())
        packet += " xmpNote:HasExtendedXMP=\"" + extendedDigest + "\"";
    packet += "><dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + title +
              "</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta>\n"
              "<?xpacket end=\"w\"?>";
    return Segment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + packet);
}

QList<QByteArray> ExtendedXmpSegments(const QByteArray& packet, QByteArray* digest) {
    *digest = QCryptographicHash::hash(packet, QCryptographicHash::Md5).toHex().toUpper();
    QList<QByteArray> out;
    constexpr int chunk = 65000;
    for (qsizetype offset = 0; offset < packet.size(); offset += chunk) {
        QByteArray payload("http://ns.adobe.com/xmp/extension/\0", 35);
        payload.append(*digest);
        be32(payload, quint32(packet.size()));
        be32(payload, quint32(offset));
        payload.append(packet.mid(offset, chunk));
        out << Segment(0xE1, payload);
    }
    return out;
}

QByteArray PhotoshopSegment(const QByteArray& caption, const QByteArray& credit,
                            const QByteArray& thumbnail) {
    QByteArray iptc = iptcRecord(2, 0, QByteArray("\0\x04", 2)) + iptcRecord(2, 120, caption) +
                      iptcRecord(2, 110, credit);
    QByteArray payload("Photoshop 3.0\0", 14);
    QByteArray resolution;
    be32(resolution, 300 << 16);
    be16(resolution, 1);
    be16(resolution, 1);
    be32(resolution, 300 << 16);
    be16(resolution, 1);
    be16(resolution, 1);
    payload += resource(0x03ED, resolution) + resource(0x0404, iptc);
    if (!thumbnail.isEmpty()) {
        QByteArray t;
        be32(t, 1);
        be32(t, 40);
        be32(t, 30);
        be32(t, 120);
        be32(t, 3600);
        be32(t, quint32(thumbnail.size()));
        be16(t, 24);
        be16(t, 1);
        payload += resource(0x040C, t + thumbnail);
    }
    return Segment(0xED, payload);
}

QByteArray IptcResourceOf(const QByteArray& segment) {
    const QByteArray p = segment.mid(4);
    for (qsizetype q = 14; q + 12 <= p.size();) {
        const quint16 id = qFromBigEndian<quint16>(p.constData() + q + 4);
        const int nameLength = uchar(p[q + 6]);
        const qsizetype sizeAt = q + 6 + ((1 + nameLength + 1) & ~1);
        const quint32 size = qFromBigEndian<quint32>(p.constData() + sizeAt);
        if (id == 0x0404)
            return p.mid(sizeAt + 4, size);
        q = sizeAt + 4 + ((size + 1) & ~1u);
    }
    return {};
}

QByteArray AdobeSegment(int transform) {
    QByteArray p("Adobe", 5);
    be16(p, 100);
    be16(p, 0);
    be16(p, 0);
    p.append(char(transform));
    return Segment(0xEE, p);
}

QByteArray MpfSegment() {
    // Big-endian MP header: version, two images, their entries (the second after the first).
    QByteArray t("MM\0*", 4);
    be32(t, 8);
    be16(t, 3);
    auto entry = [&](quint16 tag, quint16 type, quint32 count, quint32 value) {
        be16(t, tag);
        be16(t, type);
        be32(t, count);
        be32(t, value);
    };
    entry(0xB000, 7, 4, 0x30313030); // "0100"
    entry(0xB001, 4, 1, 2);
    entry(0xB002, 7, 32, 8 + 2 + 3 * 12 + 4);
    be32(t, 0);
    for (int i = 0; i < 2; ++i) {
        be32(t, i == 0 ? 0x20030000 : 0x00010002);
        be32(t, 1000);
        be32(t, i == 0 ? 0 : 5000);
        be16(t, 0);
        be16(t, 0);
    }
    return Segment(0xE2, QByteArray("MPF\0", 4) + t);
}

QByteArray EncodeBareJpeg(const QImage& image, JpegCoding coding, int quality) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    JpegJob job;
    job.cinfo.err = jpeg_std_error(&job.err);
    jpeg_create_compress(&job.cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&job.cinfo, &out, &size);
    job.cinfo.image_width = JDIMENSION(rgb.width());
    job.cinfo.image_height = JDIMENSION(rgb.height());
    const bool cmyk = coding == JpegCoding::Cmyk;
    const bool gray = coding == JpegCoding::Gray;
    job.cinfo.input_components = cmyk ? 4 : gray ? 1 : 3;
    job.cinfo.in_color_space = cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&job.cinfo);
    jpeg_set_quality(&job.cinfo, quality, TRUE);
    job.cinfo.write_JFIF_header = FALSE;
    job.cinfo.write_Adobe_marker = FALSE;
    if (cmyk)
        jpeg_set_colorspace(&job.cinfo, JCS_YCCK);
    if (coding == JpegCoding::Progressive)
        jpeg_simple_progression(&job.cinfo);
    if (coding == JpegCoding::Arithmetic)
        job.cinfo.arith_code = TRUE;
    jpeg_start_compress(&job.cinfo, TRUE);
    std::vector<unsigned char> row(size_t(rgb.width()) * 4);
    while (job.cinfo.next_scanline < job.cinfo.image_height) {
        const uchar* in = rgb.constScanLine(int(job.cinfo.next_scanline));
        for (int x = 0; x < rgb.width(); ++x) {
            const int r = in[3 * x], g = in[3 * x + 1], b = in[3 * x + 2];
            if (cmyk) {
                // Inverted, as Adobe writes it: 255 is no ink.
                const int k = std::max({r, g, b});
                row[size_t(4 * x)] = uchar(k ? r * 255 / k : 255);
                row[size_t(4 * x + 1)] = uchar(k ? g * 255 / k : 255);
                row[size_t(4 * x + 2)] = uchar(k ? b * 255 / k : 255);
                row[size_t(4 * x + 3)] = uchar(k);
            } else if (gray) {
                row[size_t(x)] = uchar((r * 299 + g * 587 + b * 114 + 500) / 1000);
            } else {
                row[size_t(3 * x)] = uchar(r);
                row[size_t(3 * x + 1)] = uchar(g);
                row[size_t(3 * x + 2)] = uchar(b);
            }
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&job.cinfo, &p, 1);
    }
    jpeg_finish_compress(&job.cinfo);
    jpeg_destroy_compress(&job.cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    free(out);
    return bytes;
}

QByteArray BuildJpeg(const QByteArray& bare, const QList<QByteArray>& segments) {
    QByteArray out = bare.left(2);
    for (const QByteArray& s : segments)
        out += s;
    qsizetype p = 2;
    // Leave out the bare file's own application segments, if any.
    while (p + 4 <= bare.size() && uchar(bare[p]) == 0xFF &&
           ((uchar(bare[p + 1]) >= 0xE0 && uchar(bare[p + 1]) <= 0xEF) ||
            uchar(bare[p + 1]) == 0xFE))
        p += 2 + (uchar(bare[p + 2]) << 8 | uchar(bare[p + 3]));
    out += bare.mid(p);
    // An MPF index points at a further image, appended after the picture's end marker; its
    // offsets count from the index's byte-order mark.
    for (qsizetype q = 2; q + 4 <= out.size() && uchar(out[q]) == 0xFF && uchar(out[q + 1]) != 0xDA;) {
        const qsizetype length = uchar(out[q + 2]) << 8 | uchar(out[q + 3]);
        if (uchar(out[q + 1]) == 0xE2 && out.mid(q + 4, 4) == QByteArray("MPF\0", 4)) {
            const qsizetype mark = q + 8;
            const QByteArray further = FurtherImage();
            const auto put32 = [&](qsizetype at, quint32 v) {
                QByteArray b;
                be32(b, v);
                out.replace(at, 4, b);
            };
            // MpfSegment's entries start 50 bytes after the mark: attributes, size, offset.
            put32(mark + 50 + 4, quint32(out.size()));
            put32(mark + 66 + 4, quint32(further.size()));
            put32(mark + 66 + 8, quint32(out.size() - mark));
            return out + further;
        }
        q += 2 + length;
    }
    return out;
}

QByteArray FurtherImage() {
    static const QByteArray image = [] {
        QImage blue(48, 32, QImage::Format_RGB32);
        blue.fill(QColor(20, 40, 220));
        return EncodeBareJpeg(blue, JpegCoding::Baseline, 80);
    }();
    return image;
}

QByteArray ExtendedXmpText() {
    QByteArray text;
    for (int i = 0; text.size() < 90000; ++i)
        text += "line " + QByteArray::number(i) + " of the long description\n";
    return text;
}

QList<QByteArray> FullCorpus(const QByteArray& profile, int adobeTransform, quint16 orientation) {
    const QImage red = [] {
        QImage i(40, 30, QImage::Format_RGB32);
        i.fill(qRgb(255, 0, 0));
        return i;
    }();
    const QByteArray staleThumb = BuildJpeg(EncodeBareJpeg(red, JpegCoding::Baseline, 80), {});
    CorpusExif exif;
    exif.orientation = orientation;
    exif.thumbnail = staleThumb;
    QByteArray extended = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                          "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                          "<rdf:Description rdf:about=\"\" "
                          "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:description>"
                          "<rdf:Alt><rdf:li xml:lang=\"x-default\">";
    extended += ExtendedXmpText();
    extended += "</rdf:li></rdf:Alt></dc:description></rdf:Description></rdf:RDF></x:xmpmeta>";
    QByteArray digest;
    const QList<QByteArray> extendedSegments = ExtendedXmpSegments(extended, &digest);

    QByteArray jfif("JFIF\0\x01\x02\x01", 8);
    be16(jfif, 300);
    be16(jfif, 300);
    jfif.append(2, '\0');

    QList<QByteArray> s;
    s << Segment(0xE0, jfif) << ExifSegment(exif) << XmpSegment("Corpus title", digest)
      << extendedSegments << IccSegments(profile)
      << PhotoshopSegment("Corpus caption", "Corpus credit", staleThumb)
      << Segment(0xFE, "Corpus comment") << AdobeSegment(adobeTransform) << MpfSegment()
      << Segment(0xEB, QByteArray("CorpusApp\0other application", 27))
      << Segment(0xEF, QByteArray::fromHex("00ff10fe20fd30"));
    return s;
}

QList<QByteArray> JpegSegmentsOf(const QByteArray& jpeg) {
    QList<QByteArray> out;
    for (qsizetype p = 2; p + 4 <= jpeg.size();) {
        if (uchar(jpeg[p]) != 0xFF)
            break;
        const uchar m = uchar(jpeg[p + 1]);
        if (m == 0xDA || m == 0xD9)
            break;
        const qsizetype length = uchar(jpeg[p + 2]) << 8 | uchar(jpeg[p + 3]);
        if ((m >= 0xE0 && m <= 0xEF) || m == 0xFE)
            out << jpeg.mid(p, length + 2);
        p += 2 + length;
    }
    return out;
}

QList<QByteArray> PngChunksOf(const QByteArray& png, const QList<QByteArray>& types) {
    QList<QByteArray> out;
    for (qsizetype p = 8; p + 12 <= png.size();) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + p);
        const QByteArray type = png.mid(p + 4, 4);
        if (types.contains(type))
            out << png.mid(p, qsizetype(length) + 12);
        p += qsizetype(length) + 12;
    }
    return out;
}

QByteArray PngChunk(const QByteArray& type, const QByteArray& data) {
    QByteArray c;
    be32(c, quint32(data.size()));
    c += type + data;
    be32(c, quint32(crc32(0, reinterpret_cast<const Bytef*>(c.constData() + 4),
                          uInt(data.size() + 4))));
    return c;
}

QByteArray BuildPng(const QImage& image, const QList<QByteArray>& chunks) {
    QByteArray plain;
    QBuffer buffer(&plain);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.write(image.convertToFormat(QImage::Format_RGB888));
    // IHDR is always the first chunk: 8 + 25 bytes.
    QByteArray out = plain.left(33);
    for (const QByteArray& c : chunks)
        out += c;
    // Qt may write chunks of its own (gAMA, pHYs...) before the data: they stay.
    return out + plain.mid(33);
}

namespace {

bool hasPrefix(const QByteArray& segment, uchar marker, const QByteArray& id) {
    return segment.size() >= 4 + id.size() && uchar(segment[1]) == marker &&
           segment.mid(4, id.size()) == id;
}

} // namespace

QString CarriedMismatch(const QList<QByteArray>& source, const QByteArray& output,
                        const CarryExpectation& e) {
    const auto isExif = [](const QByteArray& s) { return hasPrefix(s, 0xE1, QByteArray("Exif\0\0", 6)); };
    const auto isMpf = [](const QByteArray& s) { return hasPrefix(s, 0xE2, QByteArray("MPF\0", 4)); };
    const auto isIcc = [](const QByteArray& s) {
        return hasPrefix(s, 0xE2, QByteArray("ICC_PROFILE\0", 12));
    };
    const auto isPhotoshop = [](const QByteArray& s) {
        return hasPrefix(s, 0xED, QByteArray("Photoshop 3.0\0", 14));
    };
    const auto isAdobe = [](const QByteArray& s) { return hasPrefix(s, 0xEE, "Adobe"); };
    const QList<QByteArray> got = JpegSegmentsOf(output);
    qsizetype g = 0;
    for (qsizetype i = 0; i < source.size(); ++i) {
        const QByteArray& s = source[i];
        const QString where = QStringLiteral("source segment %1 (marker %2): ")
                                  .arg(i)
                                  .arg(uchar(s[1]), 2, 16);
        if ((isMpf(s) && !e.mpfKept) || (e.profileLeftOut && isIcc(s)))
            continue;
        if (g >= got.size())
            return where + "missing from the output";
        const QByteArray& o = got[g++];
        if (isExif(s)) {
            if (!isExif(o))
                return where + "not an EXIF segment in its place";
        } else if (isMpf(s)) {
            // Its offsets follow the picture; where they point is checked on its own.
            if (!isMpf(o) || o.size() != s.size())
                return where + "not the MPF index in its place";
        } else if (isPhotoshop(s)) {
            if (!isPhotoshop(o) || IptcResourceOf(o) != IptcResourceOf(s) ||
                IptcResourceOf(o).isEmpty())
                return where + "the IPTC resource changed";
        } else if (isAdobe(s) && e.adobeTransform >= 0) {
            if (!isAdobe(o) || o.size() != s.size() || o.left(15) != s.left(15) ||
                int(o[15]) != e.adobeTransform)
                return where + "not the Adobe segment with the expected transform";
        } else if (o != s) {
            return where + "changed";
        }
    }
    if (g != got.size())
        return QStringLiteral("the output holds %1 segments the source did not have")
            .arg(got.size() - g);
    return {};
}

bool HaveExiftool() {
    return !QStandardPaths::findExecutable(QStringLiteral("exiftool")).isEmpty();
}

QByteArray Exiftool(const QStringList& args) {
    if (!HaveExiftool())
        return {};
    QProcess p;
    p.start(QStringLiteral("exiftool"), args);
    p.waitForFinished(60000);
    return p.readAllStandardOutput();
}

QRgb SrgbToAdobeByHand(QRgb srgb) {
    // sRGB -> XYZ (D65) -> Adobe RGB (1998), multiplied out.
    static const double toXyz[3][3] = {{0.4124564, 0.3575761, 0.1804375},
                                       {0.2126729, 0.7151522, 0.0721750},
                                       {0.0193339, 0.1191920, 0.9503041}};
    static const double toAdobe[3][3] = {{2.0413690, -0.5649464, -0.3446944},
                                         {-0.9692660, 1.8760108, 0.0415560},
                                         {0.0134474, -0.1183897, 1.0154096}};
    static double m[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = toAdobe[i][0] * toXyz[0][j] + toAdobe[i][1] * toXyz[1][j] +
                      toAdobe[i][2] * toXyz[2][j];
    return applyMatrix(srgb, srgbToLinear, m, [](double c) {
        return std::pow(std::clamp(c, 0.0, 1.0), 1 / kAdobeGamma);
    });
}

QRgb AdobeToSrgbByHand(QRgb adobe) {
    static const double toXyz[3][3] = {{0.5767309, 0.1855540, 0.1881852},
                                       {0.2973769, 0.6273491, 0.0752741},
                                       {0.0270343, 0.0706872, 0.9911085}};
    static const double toSrgb[3][3] = {{3.2404542, -1.5371385, -0.4985314},
                                        {-0.9692660, 1.8760108, 0.0415560},
                                        {0.0556434, -0.2040259, 1.0572252}};
    static double m[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = toSrgb[i][0] * toXyz[0][j] + toSrgb[i][1] * toXyz[1][j] +
                      toSrgb[i][2] * toXyz[2][j];
    return applyMatrix(
        adobe, [](double c) { return std::pow(c, kAdobeGamma); }, m, linearToSrgb);
}
