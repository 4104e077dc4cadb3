#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

class TExif;

// The moment a photo was taken as its camera recorded it: the local time where it was taken,
// seconds included, with the offset from UTC the camera wrote beside it (when it wrote one).
// SubSecTimeOriginal only orders photos taken within one second; it is not part of value.
struct TTakenDate {
    double value = 0;            // date-time value, local time as recorded, clock shift applied
    std::optional<int> offset;   // minutes east of UTC (OffsetTimeOriginal, else OffsetTime)
    QString subSeconds;          // digits of SubSecTimeOriginal (else SubSecTime), as written
    QString tag;                 // the tag the date came from ("DateTimeOriginal", ...)
    qint64 shiftSeconds = 0;     // the clock correction applied
};

// "+02:00", "-05:30"; empty for no offset.
QString OffsetText(const std::optional<int>& minutes);
// An EXIF offset text ("+02:00", "-0530", "Z"); nullopt for blanks, the unset "   :  " or
// anything else.
std::optional<int> ParseOffsetText(const QString& text);

// A clock correction: [+|-][D ]HH:MM[:SS] (days, then hours 0..23, minutes and seconds 0..59),
// in seconds. Throws EConvertError naming the text and the form expected.
qint64 ParseClockShift(const QString& text);
// The shift in the form ParseClockShift reads: "+01:30:00", "-1 02:00:00".
QString ClockShiftText(qint64 seconds);
// A date-time value moved by whole seconds, exactly (across midnight, month and year ends).
double ShiftedValue(double value, qint64 seconds);

// The clock correction for a photo: the one given for this run (--shift-time, the batch window's
// "Camera clock") when there is one, else the settings' ClockShift.<Model> for its camera model,
// else none.
void SetRunClockShift(std::optional<qint64> seconds);
std::optional<qint64> RunClockShift();
// A run's clock correction for the calling thread alone while it lives (a preview's workers,
// which must not change the shift of a run in hand); it comes before SetRunClockShift's.
class TThreadClockShift {
public:
    explicit TThreadClockShift(std::optional<qint64> seconds);
    ~TThreadClockShift();
    TThreadClockShift(const TThreadClockShift&) = delete;
    TThreadClockShift& operator=(const TThreadClockShift&) = delete;

private:
    std::optional<qint64> m_before;
    bool m_hadBefore;
};
qint64 ClockShiftFor(const QString& model);

// The photo's date and time: DateTimeOriginal, else DateTimeDigitized, else DateTime, each
// skipped when it does not parse; its offset and sub-seconds from the matching tags; the clock
// correction for its Model applied. Throws as ExifDateTime does when there is no date.
TTakenDate ExifTakenDate(const TExif& exif);

// What stands in for a missing date taken (setting DateFallback).
enum class TDateFallback { Default, FileTime, Skip };
TDateFallback DateFallbackSetting();

// A photo's date, or the stand-in the settings choose, with what the user is told.
struct TDatedPhoto {
    TTakenDate taken;
    bool hasDate = false; // the photo's own date
    bool skip = false;    // DateFallback=skip and no date: the photo is not to be written
    // "photo.jpg: no date taken; dated 01.01.1980 by the settings' default"; empty with a date.
    QString notice;
};
// exif: the photo's record, or nullptr when it has none that could be read. The default date
// and time come from the settings' texts; the file's time from its modification time.
TDatedPhoto DatePhoto(const QString& file, const TExif* exif);
