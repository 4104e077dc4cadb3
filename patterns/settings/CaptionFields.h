#pragma once

#include "imaging/core/PhotoTags.h"
#include "patterns/settings/PhotoDates.h"

#include <QString>
#include <QStringList>
#include <optional>

class TExif;

// Everything a caption's fields can show for one photo, read once per photo.
struct TPhotoFields {
    TPhotoTags tags;
    TDatedPhoto dated;         // the date taken, or the settings' stand-in
    QString fileName;          // without folder
    std::optional<int> counter; // the running number of a batch
};

// The fields of a photo: its tags through exiv2 from bytes (the file's content), its date from
// exif (nullptr: none could be read) with the clock correction and DateFallback applied.
TPhotoFields PhotoFieldsOf(const QString& file, const QByteArray& bytes, const TExif* exif,
                           std::optional<int> counter = std::nullopt);
// The same, reading the file (and its EXIF record) itself. An unreadable file has no fields
// but its name.
TPhotoFields ReadPhotoFields(const QString& file, std::optional<int> counter = std::nullopt);

// Every field name: the tags, then FileName, Date, Time, Counter.
QStringList FieldNames();

// A caption with its fields replaced: {Name} by the photo's value, {Date:FORMAT} and
// {Time:FORMAT} by the date taken in FormatDateTimeText's language (without a format the
// settings' date and time display formats), {{ and }} by a brace. Braces around anything that
// is no field name stay as written. missing, when given, gets the fields used that the photo
// lacks (each once).
QString ExpandFields(const QString& caption, const TPhotoFields& fields,
                     QStringList* missing = nullptr);
// The field names a caption uses, each once, in order.
QStringList FieldsUsed(const QString& caption);
// True when ExpandFields could change the caption (it holds a field or a doubled brace).
bool HasFields(const QString& caption);
// ExpandFields for a file name: every character a file name cannot hold taken out of the
// values (the literal text is the template's own).
QString ExpandFieldsForFileName(const QString& text, const TPhotoFields& fields,
                                QStringList* missing = nullptr);
