#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// What a caption's fields read from a photo's metadata besides its dates (which TExif reads),
// formatted as a photographer writes them: "f/2.8", "1/250 s", "ISO 200", "50 mm", "+0.7 EV",
// "48°30′00″ N 11°12′00″ E", "520 m". Text fields come from XMP (dc, photoshop), else IPTC,
// else EXIF. A name the photo has no value for is absent.
struct TPhotoTags {
    QHash<QString, QString> values;
    QString value(const QString& name) const { return values.value(name); }
};

// The field names, in the order the "Insert field" menu lists them.
extern const QStringList PhotoTagNames;

// Reads the tags of a photo file held in memory (JPEG, PNG, TIFF, WebP... as exiv2 reads them).
// Never throws: a file exiv2 cannot read has no tags.
TPhotoTags ReadPhotoTags(const QByteArray& file);

// The formatting rules, on numbers.
QString FNumberText(double f);                          // f/2.8, f/8, f/11
QString ExposureText(double seconds);                   // 1/250 s, 1/2 s, 2 s, 1.5 s
QString FocalLengthText(double millimetres);            // 50 mm, 4.3 mm
QString ExposureBiasText(double ev);                    // +0.7 EV, -1.3 EV, 0 EV
// Degrees, minutes and seconds as written in the GPS tags, with their references ("N", "E").
QString GpsText(double latitude, const QString& latRef, double longitude, const QString& lonRef);
QString AltitudeText(double metres, bool belowSeaLevel); // 520 m, -12 m
