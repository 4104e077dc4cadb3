#include "patterns/settings/PhotoDates.h"

#include "imaging/core/TExif.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>

namespace {
constexpr quint16 TagModel = 0x0110;
constexpr quint16 TagDateTime = 0x0132;
constexpr quint16 TagDateTimeOriginal = 0x9003;
constexpr quint16 TagDateTimeDigitized = 0x9004;
constexpr quint16 TagOffsetTime = 0x9010;
constexpr quint16 TagOffsetTimeOriginal = 0x9011;
constexpr quint16 TagOffsetTimeDigitized = 0x9012;
constexpr quint16 TagSubSecTime = 0x9290;
constexpr quint16 TagSubSecTimeOriginal = 0x9291;
constexpr quint16 TagSubSecTimeDigitized = 0x9292;
constexpr qint64 SecondsPerDay = 86400;

std::mutex& runShiftLock() {
    static std::mutex lock;
    return lock;
}
std::optional<qint64>& runShift() {
    static std::optional<qint64> shift;
    return shift;
}
// The calling thread's own run shift: set says whether it has one (which may be none).
struct ThreadShift {
    bool set = false;
    std::optional<qint64> seconds;
};
ThreadShift& threadShift() {
    thread_local ThreadShift shift;
    return shift;
}

// An ASCII value as the reader keeps it: the terminating zero and padding blanks go.
QString cleaned(const QString& text) {
    QString t = text;
    t.remove(QChar(0));
    return t.trimmed();
}

QString firstValue(const TExif& exif, quint16 tag) {
    for (const QString& v : exif.Values(tag)) {
        const QString t = cleaned(v);
        if (!t.isEmpty())
            return t;
    }
    return QString();
}

QString shortName(const QString& file) {
    return QFileInfo(file).fileName();
}
} // namespace

QString OffsetText(const std::optional<int>& minutes) {
    if (!minutes)
        return QString();
    const int m = std::abs(*minutes);
    return QStringLiteral("%1%2:%3")
        .arg(*minutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(m / 60, 2, 10, QLatin1Char('0'))
        .arg(m % 60, 2, 10, QLatin1Char('0'));
}

std::optional<int> ParseOffsetText(const QString& text) {
    const QString t = cleaned(text);
    if (t.compare(QLatin1String("Z"), Qt::CaseInsensitive) == 0)
        return 0;
    static const QRegularExpression form(QStringLiteral("^([+-])(\\d\\d):?(\\d\\d)$"));
    const QRegularExpressionMatch m = form.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    const int hours = m.captured(2).toInt();
    const int minutes = m.captured(3).toInt();
    // UTC-12:00 .. UTC+14:00 are the offsets in use.
    if (hours > 14 || minutes > 59 || hours * 60 + minutes > 14 * 60)
        return std::nullopt;
    const int total = hours * 60 + minutes;
    return m.captured(1) == QLatin1String("-") ? -total : total;
}

qint64 ParseClockShift(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^([+-]?)(?:(\\d{1,5})\\s+)?(\\d{1,2}):(\\d{2})(?::(\\d{2}))?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    auto refuse = [&text]() {
        return EConvertError(QStringLiteral("'%1' is not a clock shift: write [+|-][D ]HH:MM[:SS], "
                                            "for example +01:30:00 or -1 02:00:00.")
                                 .arg(text));
    };
    if (!m.hasMatch())
        throw refuse();
    const qint64 days = m.captured(2).isEmpty() ? 0 : m.captured(2).toLongLong();
    const int hours = m.captured(3).toInt();
    const int minutes = m.captured(4).toInt();
    const int seconds = m.captured(5).isEmpty() ? 0 : m.captured(5).toInt();
    if (hours > 23 || minutes > 59 || seconds > 59 || days > 36500)
        throw refuse();
    const qint64 total = ((days * 24 + hours) * 60 + minutes) * 60 + seconds;
    return m.captured(1) == QLatin1String("-") ? -total : total;
}

QString ClockShiftText(qint64 seconds) {
    const qint64 s = seconds < 0 ? -seconds : seconds;
    const qint64 days = s / SecondsPerDay;
    const qint64 rest = s % SecondsPerDay;
    QString out = seconds < 0 ? QStringLiteral("-") : QStringLiteral("+");
    if (days > 0)
        out += QString::number(days) + QLatin1Char(' ');
    out += QStringLiteral("%1:%2:%3")
               .arg(rest / 3600, 2, 10, QLatin1Char('0'))
               .arg(rest / 60 % 60, 2, 10, QLatin1Char('0'))
               .arg(rest % 60, 2, 10, QLatin1Char('0'));
    return out;
}

double ShiftedValue(double value, qint64 seconds) {
    if (seconds == 0)
        return value;
    const QDateTime dt = ValueToDateTime(value);
    if (!dt.isValid())
        return value;
    return DateTimeToValue(dt.addSecs(seconds));
}

void SetRunClockShift(std::optional<qint64> seconds) {
    std::lock_guard<std::mutex> guard(runShiftLock());
    runShift() = seconds;
}

TThreadClockShift::TThreadClockShift(std::optional<qint64> seconds)
    : m_before(threadShift().seconds), m_hadBefore(threadShift().set) {
    threadShift() = {true, seconds};
}

TThreadClockShift::~TThreadClockShift() {
    threadShift() = {m_hadBefore, m_before};
}

std::optional<qint64> RunClockShift() {
    if (const ThreadShift& own = threadShift(); own.set)
        return own.seconds;
    std::lock_guard<std::mutex> guard(runShiftLock());
    return runShift();
}

qint64 ClockShiftFor(const QString& model) {
    if (const auto run = RunClockShift())
        return *run;
    const auto& shifts = Settings().ClockShifts;
    const auto it = shifts.constFind(model.trimmed());
    return it == shifts.cend() ? 0 : it.value();
}

TTakenDate ExifTakenDate(const TExif& exif) {
    struct Source {
        quint16 date, offset, subSec;
        const char* name;
    };
    static constexpr Source sources[] = {
        {TagDateTimeOriginal, TagOffsetTimeOriginal, TagSubSecTimeOriginal, "DateTimeOriginal"},
        {TagDateTimeDigitized, TagOffsetTimeDigitized, TagSubSecTimeDigitized,
         "DateTimeDigitized"},
        {TagDateTime, TagOffsetTime, TagSubSecTime, "DateTime"},
    };
    std::exception_ptr firstFailure;
    for (const Source& source : sources) {
        for (const QString& text : exif.Values(source.date)) {
            TTakenDate taken;
            try {
                taken.value = ParseExifDateTime(cleaned(text));
            } catch (const Exception&) {
                // Cameras write an unset date as zeros; a later tag may still hold one.
                if (!firstFailure)
                    firstFailure = std::current_exception();
                continue;
            }
            taken.tag = QString::fromLatin1(source.name);
            taken.offset = ParseOffsetText(firstValue(exif, source.offset));
            if (!taken.offset && source.offset != TagOffsetTime)
                taken.offset = ParseOffsetText(firstValue(exif, TagOffsetTime));
            taken.subSeconds = firstValue(exif, source.subSec);
            if (taken.subSeconds.isEmpty())
                taken.subSeconds = firstValue(exif, TagSubSecTime);
            static const QRegularExpression digits(QStringLiteral("^\\d+$"));
            if (!digits.match(taken.subSeconds).hasMatch())
                taken.subSeconds.clear();
            taken.shiftSeconds = ClockShiftFor(firstValue(exif, TagModel));
            taken.value = ShiftedValue(taken.value, taken.shiftSeconds);
            return taken;
        }
    }
    if (firstFailure)
        std::rethrow_exception(firstFailure);
    throw Exception(QStringLiteral("The EXIF block holds no date."));
}

TDateFallback DateFallbackSetting() {
    const QString v = Settings().DateFallback.trimmed().toLower();
    if (v == QLatin1String("file"))
        return TDateFallback::FileTime;
    if (v == QLatin1String("skip"))
        return TDateFallback::Skip;
    return TDateFallback::Default;
}

TDatedPhoto DatePhoto(const QString& file, const TExif* exif) {
    TDatedPhoto dated;
    if (exif) {
        try {
            dated.taken = ExifTakenDate(*exif);
            dated.hasDate = true;
            return dated;
        } catch (const Exception&) {
            // No date that parses: the fallback below.
        }
    }
    const QString name = shortName(file);
    switch (DateFallbackSetting()) {
    case TDateFallback::Skip:
        dated.skip = true;
        dated.notice = QStringLiteral("%1: no date taken; not written (DateFallback=skip)")
                           .arg(name);
        break;
    case TDateFallback::FileTime: {
        const QDateTime changed = QFileInfo(file).lastModified();
        if (changed.isValid()) {
            dated.taken.value = DateTimeToValue(
                QDateTime(changed.date(), QTime(changed.time().hour(), changed.time().minute(),
                                                changed.time().second()),
                          QTimeZone::utc()));
            dated.taken.tag = QStringLiteral("file");
            dated.notice = QStringLiteral("%1: no date taken; dated %2 by the file's modification "
                                          "time")
                               .arg(name, changed.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
            break;
        }
        [[fallthrough]];
    }
    case TDateFallback::Default: {
        const TSettings& s = Settings();
        double date = 0, time = 0;
        try {
            date = ParseDateText(s.defaultDate);
        } catch (const Exception&) {
        }
        try {
            time = ParseTimeText(s.defaultTime);
        } catch (const Exception&) {
        }
        dated.taken.value = date + time;
        dated.taken.tag = QStringLiteral("default");
        dated.notice =
            QStringLiteral("%1: no date taken; dated %2 by the settings' default")
                .arg(name, s.defaultDate);
        break;
    }
    }
    return dated;
}
