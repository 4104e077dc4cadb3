#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

// Photos with every kind of metadata block, built by hand (segment by segment, from the formats'
// own layouts) so that the tests do not rely on the code they test. Profiles are made with
// LittleCMS; pixels are coded with libjpeg directly.

// ICC profiles. Adobe RGB (1998): D65 white, its primaries, gamma 563/256; padTo > 0 adds a
// text tag so that the profile is at least that many bytes (a big or a multi-chunk profile).
QByteArray AdobeRgbProfile(int padTo = 0);
QByteArray SrgbProfile();
QByteArray GrayProfile(); // D65 grey, gamma 2.2
QByteArray CmykProfile(); // a small output profile of CMYK (CLUTs of two points a side)

// One whole APPn or COM segment.
QByteArray Segment(uchar marker, const QByteArray& payload);
// The APP2 chunks of a profile, at most 65519 profile bytes each.
QList<QByteArray> IccSegments(const QByteArray& profile);

// An EXIF block: IFD0 (Make, Orientation when above 0, DateTime, the Exif pointer), the Exif
// directory (DateTimeOriginal, PixelXDimension and PixelYDimension as LONGs) and, with a
// thumbnail, IFD1 pointing to it.
struct CorpusExif {
    QByteArray make = "CorpusCam";
    QByteArray dateTime = "2021:03:04 05:06:07";
    quint16 orientation = 0;
    quint32 pixelX = 9999, pixelY = 9999; // stale on purpose
    QByteArray thumbnail;                 // a JPEG, or none
};
QByteArray ExifSegment(const CorpusExif& exif);

// Standard XMP with a title (and the digest of the extended packet when there is one), and the
// extended packet in APP1 chunks of at most 65000 bytes.
QByteArray XmpSegment(const QByteArray& title, const QByteArray& extendedDigest = {});
QList<QByteArray> ExtendedXmpSegments(const QByteArray& packet, QByteArray* digest);
// Photoshop image resources: IPTC (record version, caption, credit), a resolution resource and a
// JPEG thumbnail resource (0x040C) when one is given.
QByteArray PhotoshopSegment(const QByteArray& caption, const QByteArray& credit,
                            const QByteArray& thumbnail = {});
QByteArray IptcResourceOf(const QByteArray& photoshopSegment); // the 0x0404 resource's data
QByteArray AdobeSegment(int transform);                        // APP14 "Adobe"
QByteArray MpfSegment();                                       // an MPF index of two images

// How the pixels are coded.
enum class JpegCoding { Baseline, Progressive, Arithmetic, Cmyk, Gray };
// The photo coded with libjpeg without any APPn segment of its own.
QByteArray EncodeBareJpeg(const QImage& image, JpegCoding coding, int quality = 92);
// A JPEG made of SOI, the segments in order, then the tables and scans of a bare JPEG. With an
// MpfSegment() among the segments, FurtherImage() follows the end marker and the index gives the
// places and sizes of both images.
QByteArray BuildJpeg(const QByteArray& bare, const QList<QByteArray>& segments);
// The second image of a multi-picture corpus photo: 48 x 32, blue.
QByteArray FurtherImage();

// The text of the extended XMP packet's description: some 90,000 characters.
QByteArray ExtendedXmpText();

// The everything-photo's segments: JFIF (300 dpi), EXIF with a stale red thumbnail, XMP and
// extended XMP (two chunks), the profile's chunks, Photoshop/IPTC with a stale thumbnail, a
// comment, Adobe (transform), MPF, APP11 and APP15 of other applications.
QList<QByteArray> FullCorpus(const QByteArray& profile, int adobeTransform = 1,
                             quint16 orientation = 0);

// Read independently of the program: the APPn and COM segments of a JPEG up to its first scan,
// whole; and the chunks of a PNG of the given types, whole.
QList<QByteArray> JpegSegmentsOf(const QByteArray& jpeg);
QList<QByteArray> PngChunksOf(const QByteArray& png, const QList<QByteArray>& types);
QByteArray PngChunk(const QByteArray& type, const QByteArray& data);
// A PNG (RGB) with the given chunks after IHDR.
QByteArray BuildPng(const QImage& image, const QList<QByteArray>& chunks);

// How an output may differ from its source's segments: the EXIF block is its own check, the MPF
// index is left out (a re-encoded picture is written alone) or, with mpfKept, in its place with
// offsets of its own (keep-quality), Photoshop resources keep their IPTC
// resource byte for byte, the Adobe segment says the transform of a re-encoded picture, and a
// profile that cannot describe the output is left out. Every other segment must come byte for
// byte, in order.
struct CarryExpectation {
    int adobeTransform = -1; // -1: as the source
    bool profileLeftOut = false;
    bool mpfKept = false;
};
// Empty when the output carries the source's segments so; otherwise what is wrong.
QString CarriedMismatch(const QList<QByteArray>& source, const QByteArray& output,
                        const CarryExpectation& e = {});

// exiftool, when installed: its output for the arguments, or a null array when it is absent.
QByteArray Exiftool(const QStringList& args);
bool HaveExiftool();

// Colour by hand: an sRGB colour in Adobe RGB (1998) and back, from the published matrices
// (both whites D65, so relative colorimetric needs no adaptation), as 8-bit values.
QRgb SrgbToAdobeByHand(QRgb srgb);
QRgb AdobeToSrgbByHand(QRgb adobe);
