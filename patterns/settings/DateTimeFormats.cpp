#include "patterns/settings/DateTimeFormats.h"

#include "imaging/core/TExif.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"

#include <QLocale>
#include <QTimeZone>
#include <cmath>
#include <exception>
#include <optional>

const QStringList DateFormats = {
    QString(),
    QStringLiteral("M.d"),
    QStringLiteral("M-dd"),
    QStringLiteral("M.d.yy"),
    QStringLiteral("MM.dd.yy"),
    QStringLiteral("M.d.yyyy"),
    QStringLiteral("d-MMM-yyyy"),
    QStringLiteral("d-MMM"),
    QStringLiteral("d-MMM-yy"),
    QStringLiteral("dd-MMM-yy"),
    QStringLiteral("MMM-dd"),
    QStringLiteral("MMMM-dd"),
    QStringLiteral("MMMM d, yyyy"),
    QStringLiteral("yyyy-MM-dd"),
};

// Stored settings and bricks name a format by its index: new formats go after the others.
const QStringList TimeFormats = {
    QStringLiteral("h:mm AM/PM"), QStringLiteral("h:mm:ss AM/PM"),   QStringLiteral("h:mm"),
    QStringLiteral("h:mm:ss"),    QStringLiteral("dd.mm.yyyy h:mm"),
    QStringLiteral("hh:mm:ss"), // padded: names made with it sort by the time of day
};

const QStringList TimePickerFormats = {
    QStringLiteral("h:mm tt"),  QStringLiteral("h:mm:ss tt"),      QStringLiteral("H:mm"),
    QStringLiteral("HH:mm:ss"), QStringLiteral("dd.mm.yyyy H:mm"), QStringLiteral("HH:mm:ss"),
};

const QStringList BubbleStyles = {
    QStringLiteral("Say ellipse"),   QStringLiteral("Say rectange"), QStringLiteral("Say cloud"),
    QStringLiteral("Think ellipse"), QStringLiteral("Think cloud"),
};

namespace {
const QDate Epoch(1899, 12, 30);
constexpr qint64 MsPerDay = 86400000;
// Beyond this the value is no calendar date (year 9999 is about 2.9 million days away).
constexpr double MaxDays = 3.0e6;

std::optional<QLocale>& localeOverride() {
    static std::optional<QLocale> locale;
    return locale;
}

// ---------------------------------------------------------------------------------------------
// The token language shared by formatting and parsing.

enum class TokKind { Literal, Day, Month, Minute, Year, Hour, Second, AmPm, Zone };

struct Token {
    TokKind kind = TokKind::Literal;
    int count = 0;
    QString text;        // literal text, or the AM/PM token as written
    bool twelve = false; // hour tokens: 12-hour clock
};

bool isTokenLetter(QChar c) {
    const QChar l = c.toLower();
    return l == QLatin1Char('d') || l == QLatin1Char('m') || l == QLatin1Char('y') ||
           l == QLatin1Char('h') || l == QLatin1Char('s') || l == QLatin1Char('z');
}

bool isLetterToken(TokKind k) {
    return k != TokKind::Literal;
}

// Separators (':' and '/') come out as literals already mapped when mapSeparators is set.
QList<Token> tokenize(const QString& format, bool mapSeparators) {
    QList<Token> out;
    auto literal = [&out](const QString& s) {
        if (!out.isEmpty() && out.last().kind == TokKind::Literal)
            out.last().text += s;
        else
            out.append(Token{TokKind::Literal, 0, s, false});
    };
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Quoted literal text (used for letters of the system formats).
            const qsizetype end = format.indexOf(c, i + 1);
            const qsizetype stop = end < 0 ? format.size() : end;
            literal(format.mid(i + 1, stop - i - 1));
            i = end < 0 ? format.size() : end + 1;
        } else if (format.mid(i, 5).compare(QLatin1String("am/pm"), Qt::CaseInsensitive) == 0) {
            out.append(Token{TokKind::AmPm, 1, format.mid(i, 5), false});
            i += 5;
        } else if (isTokenLetter(c)) {
            qsizetype j = i;
            while (j < format.size() && format[j].toLower() == c.toLower())
                ++j;
            TokKind kind = TokKind::Day;
            switch (c.toLower().unicode()) {
            case 'd':
                kind = TokKind::Day;
                break;
            case 'm':
                kind = TokKind::Month;
                break;
            case 'y':
                kind = TokKind::Year;
                break;
            case 'h':
                kind = TokKind::Hour;
                break;
            case 'z':
                kind = TokKind::Zone;
                break;
            default:
                kind = TokKind::Second;
            }
            out.append(Token{kind, int(j - i), QString(), false});
            i = j;
        } else if (mapSeparators && c == QLatin1Char(':')) {
            literal(TimeSeparator());
            ++i;
        } else if (mapSeparators && c == QLatin1Char('/')) {
            literal(DateSeparator());
            ++i;
        } else {
            literal(QString(c));
            ++i;
        }
    }

    // M and MM right after an hour token are minutes.
    TokKind last = TokKind::Literal;
    for (Token& t : out) {
        if (t.kind == TokKind::Month && t.count <= 2 && last == TokKind::Hour)
            t.kind = TokKind::Minute;
        if (isLetterToken(t.kind))
            last = t.kind;
    }
    // An AM/PM token puts the hour before it on the 12-hour clock; one placed before every hour
    // (as some locales write it) governs the hour that follows.
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out[i].kind != TokKind::Hour)
            continue;
        bool found = false;
        for (qsizetype j = i + 1; j < out.size() && out[j].kind != TokKind::Hour; ++j)
            if (out[j].kind == TokKind::AmPm)
                found = true;
        for (qsizetype j = i - 1; !found && j >= 0 && out[j].kind != TokKind::Hour; --j)
            if (out[j].kind == TokKind::AmPm)
                found = true;
        out[i].twelve = found;
    }
    return out;
}

QString pad(int v, int width) {
    return QString::number(v).rightJustified(width, QLatin1Char('0'));
}

QString render(const QList<Token>& tokens, const QDate& date, const QTime& time,
              const std::optional<int>& offset = std::nullopt) {
    const QLocale locale = SystemLocale();
    QString out;
    for (const Token& t : tokens) {
        switch (t.kind) {
        case TokKind::Literal:
            out += t.text;
            break;
        case TokKind::Day:
            if (t.count <= 2)
                out += pad(date.day(), t.count);
            else
                out += locale.dayName(date.dayOfWeek(),
                                      t.count == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case TokKind::Month:
            if (t.count <= 2)
                out += pad(date.month(), t.count);
            else
                out += locale.monthName(date.month(),
                                        t.count == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case TokKind::Minute:
            out += pad(time.minute(), t.count);
            break;
        case TokKind::Year:
            out += t.count <= 2 ? pad(date.year() % 100, 2) : pad(date.year(), 4);
            break;
        case TokKind::Hour: {
            int h = time.hour();
            if (t.twelve) {
                if (h > 12)
                    h -= 12;
                else if (h == 0)
                    h = 12;
            }
            out += pad(h, qMin(t.count, 2));
            break;
        }
        case TokKind::Second:
            out += pad(time.second(), qMin(t.count, 2));
            break;
        case TokKind::AmPm:
            out += time.hour() < 12 ? t.text.left(2) : t.text.mid(3, 2);
            break;
        case TokKind::Zone:
            // The offset the camera recorded; nothing when it recorded none.
            out += OffsetText(offset);
            break;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Parsing a text written in one format of the token language.

struct Parsed {
    int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
    int pm = -1; // -1 none, 0 AM, 1 PM
};

bool isNumeric(const Token& t) {
    switch (t.kind) {
    case TokKind::Day:
    case TokKind::Month:
        return t.count <= 2;
    case TokKind::Minute:
    case TokKind::Year:
    case TokKind::Hour:
    case TokKind::Second:
        return true;
    default:
        return false;
    }
}

int twoDigitYear(int yy) {
    // A window of 50 years back and 49 ahead of the current year.
    const int now = QDate::currentDate().year();
    int year = now - now % 100 + yy;
    if (year > now + 49)
        year -= 100;
    else if (year < now - 50)
        year += 100;
    return year;
}

std::optional<Parsed> parseWith(const QString& format, const QString& input, bool mapSeparators) {
    const QList<Token> tokens = tokenize(format, mapSeparators);
    const QString text = input.trimmed();
    const QLocale locale = SystemLocale();
    Parsed p;
    qsizetype pos = 0;
    auto skipSpaces = [&]() {
        while (pos < text.size() && text[pos].isSpace())
            ++pos;
    };
    for (qsizetype k = 0; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        if (t.kind == TokKind::Literal) {
            for (const QChar c : t.text) {
                if (c.isSpace()) {
                    skipSpaces();
                } else if (pos < text.size() && text[pos].toCaseFolded() == c.toCaseFolded()) {
                    ++pos;
                } else {
                    return std::nullopt;
                }
            }
        } else if (isNumeric(t)) {
            int maxDigits = 2;
            if (t.kind == TokKind::Year)
                maxDigits = (k + 1 < tokens.size() && isNumeric(tokens[k + 1])) ? t.count : 4;
            int v = 0, digits = 0;
            while (pos < text.size() && digits < maxDigits && text[pos] >= QLatin1Char('0') &&
                   text[pos] <= QLatin1Char('9')) {
                v = v * 10 + (text[pos].unicode() - '0');
                ++pos;
                ++digits;
            }
            if (digits == 0)
                return std::nullopt;
            switch (t.kind) {
            case TokKind::Day:
                p.day = v;
                break;
            case TokKind::Month:
                p.month = v;
                break;
            case TokKind::Minute:
                p.minute = v;
                break;
            case TokKind::Year:
                p.year = digits <= 2 ? twoDigitYear(v) : v;
                break;
            case TokKind::Hour:
                p.hour = v;
                break;
            default:
                p.second = v;
            }
        } else if (t.kind == TokKind::Month) {
            int best = -1;
            qsizetype bestLen = 0;
            for (int m = 1; m <= 12; ++m) {
                for (const auto f : {QLocale::LongFormat, QLocale::ShortFormat}) {
                    const QString name = locale.monthName(m, f);
                    if (name.size() > bestLen &&
                        text.mid(pos, name.size()).compare(name, Qt::CaseInsensitive) == 0) {
                        best = m;
                        bestLen = name.size();
                    }
                }
            }
            if (best < 0)
                return std::nullopt;
            p.month = best;
            pos += bestLen;
        } else if (t.kind == TokKind::Day) {
            // A day name says nothing the date does not.
            const qsizetype start = pos;
            while (pos < text.size() && (text[pos].isLetter() || text[pos] == QLatin1Char('.')))
                ++pos;
            if (pos == start)
                return std::nullopt;
        } else if (t.kind == TokKind::AmPm) {
            // Optional: a 24-hour text is accepted too.
            const QString candidates[] = {QStringLiteral("AM"), QStringLiteral("PM"),
                                          locale.amText(), locale.pmText()};
            for (int i = 0; i < 4; ++i) {
                const QString& c = candidates[i];
                if (!c.isEmpty() && text.mid(pos, c.size()).compare(c, Qt::CaseInsensitive) == 0) {
                    p.pm = i % 2;
                    pos += c.size();
                    break;
                }
            }
        }
    }
    skipSpaces();
    if (pos != text.size())
        return std::nullopt;
    return p;
}

// The first separator of a Qt date or time format: between its first two fields, outside quotes.
QString separatorOf(const QString& qtFormat, const QString& fallback) {
    qsizetype i = 0;
    while (i < qtFormat.size() && !qtFormat[i].isLetter())
        ++i;
    while (i < qtFormat.size() && qtFormat[i].isLetter())
        ++i;
    for (; i < qtFormat.size(); ++i) {
        const QChar c = qtFormat[i];
        if (c == QLatin1Char('\'')) {
            const qsizetype end = qtFormat.indexOf(c, i + 1);
            if (end < 0)
                break;
            i = end;
            continue;
        }
        if (c.isLetter())
            break;
        if (!c.isSpace() && c.category() != QChar::Other_Format)
            return QString(c);
    }
    return fallback;
}

// Converts a Qt locale format to the token language: time zones and milliseconds dropped, the
// AM/PM marker spelled out, letters of literal text quoted.
QString fromQtFormat(const QString& qt) {
    QString out;
    auto literal = [&out](QChar c) {
        if (c == QLatin1Char('\''))
            out += QStringLiteral("\"'\"");
        else if (isTokenLetter(c) || c.toLower() == QLatin1Char('a') || c == QLatin1Char(':') ||
                 c == QLatin1Char('/') || c == QLatin1Char('"'))
            out += QLatin1Char('\'') + QString(c) + QLatin1Char('\'');
        else
            out += c;
    };
    qsizetype i = 0;
    while (i < qt.size()) {
        const QChar c = qt[i];
        if (c == QLatin1Char('\'')) {
            if (i + 1 < qt.size() && qt[i + 1] == QLatin1Char('\'')) {
                literal(c);
                i += 2;
                continue;
            }
            qsizetype j = i + 1;
            while (j < qt.size()) {
                if (qt[j] == QLatin1Char('\'')) {
                    if (j + 1 < qt.size() && qt[j + 1] == QLatin1Char('\'')) {
                        literal(qt[j]);
                        j += 2;
                        continue;
                    }
                    break;
                }
                literal(qt[j]);
                ++j;
            }
            i = j + 1;
            continue;
        }
        if (c == QLatin1Char('a') || c == QLatin1Char('A')) {
            out += c == QLatin1Char('a') ? QStringLiteral("am/pm") : QStringLiteral("AM/PM");
            i += (i + 1 < qt.size() && qt[i + 1].toLower() == QLatin1Char('p')) ? 2 : 1;
            continue;
        }
        qsizetype j = i;
        while (j < qt.size() && qt[j] == c)
            ++j;
        const int n = int(j - i);
        switch (c.unicode()) {
        case 'd':
            out += QString(qMin(n, 4), QLatin1Char('d'));
            break;
        case 'M':
            out += QString(qMin(n, 4), QLatin1Char('M'));
            break;
        case 'y':
            out += n <= 2 ? QStringLiteral("yy") : QStringLiteral("yyyy");
            break;
        case 'h':
        case 'H':
            out += QString(qMin(n, 2), QLatin1Char('h'));
            break;
        case 'm':
            out += QString(qMin(n, 2), QLatin1Char('m'));
            break;
        case 's':
            out += QString(qMin(n, 2), QLatin1Char('s'));
            break;
        case 'z':
        case 't':
            break;
        case ':':
        case '/':
            out += QString(n, c); // the locale's separators again
            break;
        default:
            for (int k = 0; k < n; ++k)
                literal(c);
        }
        i = j;
    }
    return out.trimmed();
}

double datePart(double v) {
    return std::trunc(v);
}
} // namespace

// ---------------------------------------------------------------------------------------------

void SetSystemLocaleForTesting(const QLocale& locale) {
    localeOverride() = locale;
}
void ResetSystemLocaleForTesting() {
    localeOverride().reset();
}
QLocale SystemLocale() {
    return localeOverride() ? *localeOverride() : QLocale::system();
}

QString DateSeparator() {
    return separatorOf(SystemLocale().dateFormat(QLocale::ShortFormat), QStringLiteral("/"));
}
QString TimeSeparator() {
    return separatorOf(SystemLocale().timeFormat(QLocale::ShortFormat), QStringLiteral(":"));
}

double DateTimeToValue(const QDateTime& dt) {
    if (!dt.isValid())
        return 0;
    const double days = double(Epoch.daysTo(dt.date()));
    const double frac = double(dt.time().msecsSinceStartOfDay()) / double(MsPerDay);
    // Before the epoch the toolkit keeps the day negative and the time of day positive.
    return days >= 0 ? days + frac : days - frac;
}

QDateTime ValueToDateTime(double value) {
    if (!std::isfinite(value) || std::fabs(value) > MaxDays)
        return QDateTime();
    qint64 days = qint64(std::trunc(value));
    qint64 ms = qint64(std::llround(std::fabs(value - double(days)) * double(MsPerDay)));
    if (ms >= MsPerDay) {
        ms -= MsPerDay;
        days += value < 0 ? -1 : 1;
    }
    const QDate date = Epoch.addDays(days);
    if (!date.isValid())
        return QDateTime();
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)), QTimeZone::utc());
}

double ParseExifDateTime(const QString& text) {
    // Year, month, day, hour, minute and, when the text goes on, the seconds.
    quint16 fields[6] = {0, 0, 0, 0, 0, 0};
    int started = 0;
    qsizetype pos = 0;
    const qsizetype len = text.size();
    auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    while (pos < len - 1 && started < 6) {
        while (pos < len && !isDigit(text[pos]))
            ++pos;
        if (started == 5 && pos >= len)
            break; // no seconds written
        while (pos < len && isDigit(text[pos])) {
            fields[started] = quint16(fields[started] * 10 + (text[pos].unicode() - '0'));
            ++pos;
        }
        ++started;
    }
    if (started < 5)
        throw Exception(QStringLiteral("Invalid format"));
    const QDate date(fields[0], fields[1], fields[2]);
    if (fields[0] < 1 || fields[0] > 9999 || !date.isValid())
        throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    if (fields[3] > 23 || fields[4] > 59 || fields[5] > 59)
        throw EConvertError(QStringLiteral("Invalid argument to time encode"));
    return DateTimeToValue(
        QDateTime(date, QTime(fields[3], fields[4], fields[5]), QTimeZone::utc()));
}

double ExifDateTime(const QString& fileName) {
    TExif exif;
    exif.LoadFromJpeg(fileName);
    return ExifDateTime(exif);
}

double ExifDateTime(const TExif& exif) {
    return ExifTakenDate(exif).value;
}

QString FormatDateTimeText(const QString& format, double value) {
    return FormatDateTimeText(format, value, std::nullopt);
}

QString FormatDateTimeText(const QString& format, double value, const std::optional<int>& offset) {
    const QDateTime dt = ValueToDateTime(value);
    if (!dt.isValid())
        return QString();
    if (format.isEmpty()) {
        QString dateFormat = SystemShortDateFormat();
        if (dateFormat.isEmpty())
            dateFormat = QStringLiteral("yyyy-MM-dd");
        QString out = render(tokenize(dateFormat, true), dt.date(), dt.time());
        if (dt.time().msecsSinceStartOfDay() != 0)
            out += QLatin1Char(' ') +
                   render(tokenize(SystemLongTimeFormat(), true), dt.date(), dt.time());
        return out;
    }
    return render(tokenize(format, true), dt.date(), dt.time(), offset);
}

QString SystemShortDateFormat() {
    return fromQtFormat(SystemLocale().dateFormat(QLocale::ShortFormat));
}

QString SystemLongTimeFormat() {
    return fromQtFormat(SystemLocale().timeFormat(QLocale::LongFormat));
}

double ParseDateText(const QString& text) {
    const std::pair<QString, bool> attempts[] = {{SystemShortDateFormat(), true},
                                                 {QStringLiteral("dd.MM.yyyy"), false}};
    for (const auto& [format, mapSeparators] : attempts) {
        const auto p = parseWith(format, text, mapSeparators);
        if (!p || p->day < 0 || p->month < 0)
            continue;
        const int year = p->year < 0 ? QDate::currentDate().year() : p->year;
        const QDate date(year, p->month, p->day);
        if (year >= 1 && year <= 9999 && date.isValid())
            return double(Epoch.daysTo(date));
    }
    throw EConvertError(QStringLiteral("'%1' is not a valid date").arg(text));
}

double ParseTimeText(const QString& text) {
    const std::pair<QString, bool> attempts[] = {{SystemLongTimeFormat(), true},
                                                 {QStringLiteral("hh:mm:ss"), false},
                                                 {QStringLiteral("hh:mm"), false}};
    for (const auto& [format, mapSeparators] : attempts) {
        const auto p = parseWith(format, text, mapSeparators);
        if (!p || p->hour < 0 || p->minute < 0)
            continue;
        int hour = p->hour;
        if (p->pm >= 0) {
            if (hour < 1 || hour > 12)
                continue;
            hour = hour % 12 + (p->pm == 1 ? 12 : 0);
        }
        const int second = qMax(p->second, 0);
        if (hour > 23 || p->minute > 59 || second > 59)
            continue;
        return double((hour * 60 + p->minute) * 60 + second) * 1000.0 / double(MsPerDay);
    }
    throw EConvertError(QStringLiteral("'%1' is not a valid time").arg(text));
}

namespace {
// Both bricks: a caption from the picture's EXIF date, else the settings' fallback text.
BrickDateTime brickValue(const QString& imageFile, bool isDate) {
    BrickDateTime r;
    if (!imageFile.isEmpty()) {
        try {
            const double v = ExifDateTime(imageFile);
            const QString t =
                FormatDateTimeText(isDate ? SystemShortDateFormat() : SystemLongTimeFormat(), v);
            if (!t.trimmed().isEmpty()) {
                r.text = t;
                // The date part directly: parsing the caption back would lose the century of
                // a two-digit year.
                r.value = isDate ? datePart(v) : v;
                return r;
            }
        } catch (...) {
            // Any failure falls back to the settings' text.
        }
    }
    r.text = isDate ? Settings().defaultDate : Settings().defaultTime;
    if (r.text.isEmpty()) // a load that stopped half-way cleared it
        r.text = DefaultText(isDate ? Setting("defaultDate") : Setting("defaultTime"));
    r.value = isDate ? ParseDateText(r.text) : ParseTimeText(r.text);
    return r;
}
} // namespace

BrickDateTime DateBrickValue(const QString& imageFile) {
    return brickValue(imageFile, true);
}
BrickDateTime TimeBrickValue(const QString& imageFile) {
    return brickValue(imageFile, false);
}
