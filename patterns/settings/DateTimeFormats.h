#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>

class TExif;

// Date-time values: days since 30 December 1899 00:00, the fraction being the time of day.
double DateTimeToValue(const QDateTime& dt);
QDateTime ValueToDateTime(double value);

extern const QStringList DateFormats;       // 14 entries, entry 0 empty
extern const QStringList TimeFormats;       // 6 text formats (the sixth: padded hours)
extern const QStringList TimePickerFormats; // 6 picker formats
extern const QStringList BubbleStyles;      // 5 bubble style names

// The date and time the picture was taken, from its EXIF record: DateTimeOriginal, else
// DateTimeDigitized, else DateTime (the file's last change), each skipped when its text does not
// parse. Throws when the record cannot be read (EExifError, EFOpenError) or holds no date that
// parses (the first value's parse error, or Exception when there is none); callers then use the
// settings' defaults.
double ExifDateTime(const QString& fileName);
double ExifDateTime(const TExif& exif);
double ParseExifDateTime(const QString& text);
QString FormatDateTimeText(const QString& format, double value);
// The same with the photo's offset from UTC in minutes, which the token z shows ("+02:00"; empty
// without one).
QString FormatDateTimeText(const QString& format, double value, const std::optional<int>& offset);

// The system formats of the user's locale (QLocale::system()), in FormatDateTimeText's syntax.
// Besides the listed tokens the syntax knows ddd/dddd (day names) and quoted literal text
// ('...' or "..."), which the locales' own formats need.
QString SystemShortDateFormat();
QString SystemLongTimeFormat();

// The user's locale: QLocale::system() unless a test pinned another one.
QLocale SystemLocale();
void SetSystemLocaleForTesting(const QLocale& locale);
void ResetSystemLocaleForTesting();
// The locale's separators that ':' and '/' of a format stand for.
QString DateSeparator();
QString TimeSeparator();

// The settings' fallback texts parsed as a date / a time: the locale's format first, then
// dd.MM.yyyy / hh:mm:ss. Throws EConvertError when neither parses.
double ParseDateText(const QString& text);
double ParseTimeText(const QString& text);

// Caption and value of a new date or time brick for the image file (empty: no image open),
// with the settings' fallbacks. An unreadable image or date never fails; only a fallback text
// that parses in no known format throws EConvertError.
struct BrickDateTime {
    QString text;
    double value = 0;
};
BrickDateTime DateBrickValue(const QString& imageFile);
BrickDateTime TimeBrickValue(const QString& imageFile);
