#include "patterns/settings/DateTimeFormats.h"
#include "imaging/core/TExif.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {
double value(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return DateTimeToValue(QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc()));
}

constexpr quint16 TagImageDescription = 0x010E;
constexpr quint16 TagMake = 0x010F;
constexpr quint16 TagSoftware = 0x0131;
constexpr quint16 TagDateTime = 0x0132;
constexpr quint16 TagDateTimeOriginal = 0x9003;
constexpr quint16 TagDateTimeDigitized = 0x9004;

// A pinned "system" locale, restored after each test; files in a temporary folder.
class DateTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetSystemLocaleForTesting(QLocale(QLocale::English, QLocale::UnitedStates));
        Settings() = TSettings();
        ASSERT_TRUE(m_dir.isValid());
    }
    void TearDown() override {
        ResetSystemLocaleForTesting();
        Settings() = TSettings();
    }
    static void pin(const char* name) { SetSystemLocaleForTesting(QLocale(QString(name))); }

    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    QTemporaryDir m_dir;
};

const double June7 = 38510; // 7 June 2005
} // namespace

// ---- Catalogues ----------------------------------------------------------------------------

TEST(DateTimeCatalogues, HaveTheirFixedEntries) {
    ASSERT_EQ(DateFormats.size(), 14);
    EXPECT_TRUE(DateFormats[0].isEmpty());
    EXPECT_EQ(DateFormats[6], "d-MMM-yyyy");
    EXPECT_EQ(DateFormats[13], "yyyy-MM-dd");
    // The sixth was added after the others: stored indexes keep naming the same formats.
    ASSERT_EQ(TimeFormats.size(), 6);
    ASSERT_EQ(TimePickerFormats.size(), 6);
    EXPECT_EQ(TimeFormats[1], "h:mm:ss AM/PM");
    EXPECT_EQ(TimePickerFormats[1], "h:mm:ss tt");
    EXPECT_EQ(TimeFormats[4], "dd.mm.yyyy h:mm");
    EXPECT_EQ(TimeFormats[5], "hh:mm:ss");
    EXPECT_EQ(TimePickerFormats[5], "HH:mm:ss");
    EXPECT_EQ(BubbleStyles, (QStringList{"Say ellipse", "Say rectange", "Say cloud",
                                         "Think ellipse", "Think cloud"}));
}

// ---- Date-time values ----------------------------------------------------------------------

TEST(DateTimeValues, CountDaysSinceTheEpoch) {
    EXPECT_EQ(value(1899, 12, 30), 0.0);
    EXPECT_EQ(value(1899, 12, 30, 12), 0.5);
    EXPECT_EQ(value(2005, 6, 7), June7);
    EXPECT_EQ(value(1980, 1, 1), 29221.0);
    EXPECT_EQ(ValueToDateTime(June7 + 0.75),
              QDateTime(QDate(2005, 6, 7), QTime(18, 0), QTimeZone::utc()));
    EXPECT_EQ(ValueToDateTime(0).date(), QDate(1899, 12, 30));
}

TEST(DateTimeValues, BeforeTheEpochKeepTheTimeOfDayPositive) {
    EXPECT_EQ(value(1899, 12, 29, 6), -1.25);
    EXPECT_EQ(ValueToDateTime(-1.25),
              QDateTime(QDate(1899, 12, 29), QTime(6, 0), QTimeZone::utc()));
    EXPECT_EQ(ValueToDateTime(-0.5).time(), QTime(12, 0)); // the same moment as 0.5
}

TEST(DateTimeValues, RoundToMillisecondsAndCarryIntoTheNextDay) {
    EXPECT_EQ(ValueToDateTime(June7 + 0.9999999999),
              QDateTime(QDate(2005, 6, 8), QTime(0, 0), QTimeZone::utc()));
    const QDateTime dt(QDate(2005, 6, 7), QTime(23, 59, 59, 999), QTimeZone::utc());
    EXPECT_EQ(ValueToDateTime(DateTimeToValue(dt)), dt);
}

TEST(DateTimeValues, NonNumbersGiveNoDate) {
    EXPECT_FALSE(ValueToDateTime(std::numeric_limits<double>::quiet_NaN()).isValid());
    EXPECT_FALSE(ValueToDateTime(std::numeric_limits<double>::infinity()).isValid());
    EXPECT_FALSE(ValueToDateTime(1e300).isValid());
    EXPECT_EQ(FormatDateTimeText("yyyy", std::nan("")), QString());
    EXPECT_EQ(DateTimeToValue(QDateTime()), 0.0);
}

// ---- ParseExifDateTime ---------------------------------------------------------------------

TEST(ParseExifDateTime, ReadsTheSecondsWhenWritten) {
    EXPECT_EQ(ParseExifDateTime("2005:06:07 08:09:10"), value(2005, 6, 7, 8, 9, 10));
    EXPECT_EQ(ParseExifDateTime("2005:06:07 08:09"), value(2005, 6, 7, 8, 9));
    EXPECT_EQ(ParseExifDateTime("2005:06:07 08:09: "), value(2005, 6, 7, 8, 9));
    EXPECT_THROW(ParseExifDateTime("2005:06:07 08:09:60"), EConvertError);
    EXPECT_EQ(ParseExifDateTime("2005:06:07 08:9"), value(2005, 6, 7, 8, 9));
    EXPECT_EQ(ParseExifDateTime("x2005-6-7T8.09"), value(2005, 6, 7, 8, 9));
    // The trailing zero byte of an ASCII value is skipped like any non-digit.
    EXPECT_EQ(ParseExifDateTime(QString("2005:06:07 08:09:10") + QChar(0)),
              value(2005, 6, 7, 8, 9, 10));
}

TEST(ParseExifDateTime, FewerThanFiveFieldsIsInvalidFormat) {
    for (const QString& text : {QString("2005:06:07 08"), QString("2005:06:07 08:"), QString(""),
                                QString("5"), QString("no digits at all")}) {
        try {
            ParseExifDateTime(text);
            ADD_FAILURE() << "accepted " << text.toStdString();
        } catch (const EConvertError&) {
            ADD_FAILURE() << "conversion error for " << text.toStdString();
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), "Invalid format");
        }
    }
}

TEST(ParseExifDateTime, ImpossibleDatesAndTimesAreConversionErrors) {
    EXPECT_THROW(ParseExifDateTime("0000:00:00 00:00:00"), EConvertError);
    EXPECT_THROW(ParseExifDateTime("2005:02:29 00:00:00"), EConvertError);
    EXPECT_THROW(ParseExifDateTime("2005:13:01 00:00:00"), EConvertError);
    EXPECT_THROW(ParseExifDateTime("2005:06:07 24:00:00"), EConvertError);
    EXPECT_THROW(ParseExifDateTime("2005:06:07 23:60:00"), EConvertError);
    EXPECT_EQ(ParseExifDateTime("2004:02:29 23:59"), value(2004, 2, 29, 23, 59));
}

TEST(ParseExifDateTime, FieldsWrapAt65536) {
    EXPECT_EQ(ParseExifDateTime("67541:06:07 08:09"), value(2005, 6, 7, 8, 9)); // 2005 + 65536
    EXPECT_THROW(ParseExifDateTime("65536:06:07 08:09"), EConvertError);        // year 0
}

// ---- FormatDateTimeText --------------------------------------------------------------------

TEST_F(DateTimeTest, CatalogueFormatsInUsEnglish) {
    const double v = value(2005, 6, 7, 8, 9, 10);
    const QStringList expectedDates{"6/7/05 8:09:10 AM", "6.7",       "6-07",       "6.7.05",
                                    "06.07.05",          "6.7.2005",  "7-Jun-2005", "7-Jun",
                                    "7-Jun-05",          "07-Jun-05", "Jun-07",     "June-07",
                                    "June 7, 2005",      "2005-06-07"};
    for (int i = 0; i < DateFormats.size(); ++i)
        EXPECT_EQ(FormatDateTimeText(DateFormats[i], v), expectedDates[i]) << i;
    const QStringList expectedTimes{"8:09 AM", "8:09:10 AM",      "8:09",
                                    "8:09:10", "07.06.2005 8:09", "08:09:10"};
    for (int i = 0; i < TimeFormats.size(); ++i)
        EXPECT_EQ(FormatDateTimeText(TimeFormats[i], v), expectedTimes[i]) << i;
    // The padded hours run on the 24-hour clock, so that names sort by the time of day.
    EXPECT_EQ(FormatDateTimeText(TimeFormats[5], value(2005, 6, 7, 21, 5, 0)), "21:05:00");
    EXPECT_EQ(FormatDateTimeText(TimeFormats[5], value(2005, 6, 7, 0, 0, 0) + 1e-9), "00:00:00");
}

TEST_F(DateTimeTest, EmptyFormatAddsTheLongTimeOnlyWhenTheTimeIsNotZero) {
    EXPECT_EQ(FormatDateTimeText("", June7), "6/7/05");
    EXPECT_EQ(FormatDateTimeText("", June7 + 1.0 / 86400), "6/7/05 12:00:01 AM");
    pin("de_DE");
    EXPECT_EQ(FormatDateTimeText("", June7), "07.06.05");
    EXPECT_EQ(FormatDateTimeText("", value(2005, 6, 7, 20, 9, 10)), "07.06.05 20:09:10");
}

TEST_F(DateTimeTest, AmPmPutsTheHourOnTheTwelveHourClock) {
    const struct {
        int hour, minute;
        const char* format;
        const char* expected;
    } cases[] = {
        {0, 0, "h:mm AM/PM", "12:00 AM"},
        {0, 59, "hh:mm AM/PM", "12:59 AM"},
        {11, 59, "h:mm AM/PM", "11:59 AM"},
        {12, 0, "h:mm AM/PM", "12:00 PM"},
        {13, 5, "h:mm AM/PM", "1:05 PM"},
        {23, 59, "hh:mm AM/PM", "11:59 PM"},
        {13, 5, "h:mm am/pm", "1:05 pm"},
        {1, 5, "h:mm am/pm", "1:05 am"},
        {13, 5, "h:mm Am/pM", "1:05 pM"},
        {1, 5, "h:mm Am/pM", "1:05 Am"},
        {13, 5, "h:mm", "13:05"},
        {0, 5, "hh:mm", "00:05"},
        // A later hour token takes the AM/PM away from the first one.
        {13, 5, "h h AM/PM", "13 1 PM"},
        // An AM/PM written first governs the hour after it.
        {20, 9, "AM/PM h:mm", "PM 8:09"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatDateTimeText(c.format, June7 + (c.hour * 60 + c.minute) / 1440.0),
                  c.expected)
            << c.format << " at " << c.hour;
}

TEST_F(DateTimeTest, MAfterAnHourMeansMinutes) {
    const double v = value(2005, 6, 7, 8, 9, 10);
    EXPECT_EQ(FormatDateTimeText("mm", v), "06");
    EXPECT_EQ(FormatDateTimeText("m", v), "6");
    EXPECT_EQ(FormatDateTimeText("h mm", v), "8 09");
    EXPECT_EQ(FormatDateTimeText("hM", v), "89");
    EXPECT_EQ(FormatDateTimeText("h-d-mm", v), "8-7-06");   // last letter token is the day
    EXPECT_EQ(FormatDateTimeText("h:ss:mm", v), "8:10:06"); // ... the seconds
    EXPECT_EQ(FormatDateTimeText("h MMM", v), "8 Jun");     // names stay months
    EXPECT_EQ(FormatDateTimeText("dd.mm.yyyy h:mm", v), "07.06.2005 8:09");
}

TEST_F(DateTimeTest, LettersMatchWithoutCaseAndOtherCharactersAreCopied) {
    const double v = value(2005, 6, 7, 8, 9, 10);
    EXPECT_EQ(FormatDateTimeText("YYYY-DD HH:MM:SS", v), "2005-07 08:09:10");
    EXPECT_EQ(FormatDateTimeText("y|yyy", v), "05|2005");
    EXPECT_EQ(FormatDateTimeText("[x q!] ,.-", v), "[x q!] ,.-");
    EXPECT_EQ(FormatDateTimeText("s", value(2005, 6, 7, 8, 9, 5)), "5");
    EXPECT_EQ(FormatDateTimeText("yyyy", value(33, 1, 1)), "0033");
    EXPECT_EQ(FormatDateTimeText("yy", value(2000, 1, 1)), "00");
}

TEST_F(DateTimeTest, SeparatorsAndNamesComeFromTheLocale) {
    const double v = value(2005, 6, 7, 8, 9, 10);
    pin("de_DE");
    EXPECT_EQ(FormatDateTimeText("d/M h:mm", v), "7.6 8:09");
    EXPECT_EQ(FormatDateTimeText("M-d", v), "6-7"); // literals are not replaced
    EXPECT_EQ(FormatDateTimeText("MMMM", v), "Juni");
    EXPECT_EQ(FormatDateTimeText("MMMM", value(2005, 3, 1)), QString::fromUtf8("März"));
    pin("fr_FR");
    EXPECT_EQ(FormatDateTimeText("d MMMM yyyy", v), "7 juin 2005");
    EXPECT_EQ(FormatDateTimeText("d/M", v), "7/6");
    pin("fi_FI");
    EXPECT_EQ(FormatDateTimeText("h:mm", v), "8.09");
    pin("ja_JP");
    EXPECT_EQ(FormatDateTimeText("MMM", v), QString::fromUtf8("6月"));
}

TEST_F(DateTimeTest, SystemFormatsAreTranslatedFromTheLocale) {
    EXPECT_EQ(SystemShortDateFormat(), "M/d/yy");
    EXPECT_EQ(SystemLongTimeFormat(), "h:mm:ss AM/PM");
    pin("de_DE");
    EXPECT_EQ(SystemShortDateFormat(), "dd.MM.yy");
    EXPECT_EQ(SystemLongTimeFormat(), "hh:mm:ss");
    pin("fr_FR");
    EXPECT_EQ(SystemShortDateFormat(), "dd/MM/yyyy");
    pin("ja_JP");
    EXPECT_EQ(SystemShortDateFormat(), "yyyy/MM/dd");
}

TEST_F(DateTimeTest, SystemLongTimeKeepsLiteralTextOfTheLocale) {
    const double v = value(2005, 6, 7, 20, 9, 10);
    pin("ja_JP");
    EXPECT_EQ(FormatDateTimeText(SystemLongTimeFormat(), v), QString::fromUtf8("20時09分10秒"));
    pin("fr_CA");
    EXPECT_EQ(FormatDateTimeText(SystemLongTimeFormat(), v), "20 h 09 min 10 s");
    pin("ko_KR");
    EXPECT_EQ(FormatDateTimeText(SystemLongTimeFormat(), v), QString::fromUtf8("PM 8시 9분 10초"));
    pin("zh_CN");
    EXPECT_EQ(FormatDateTimeText(SystemLongTimeFormat(), v), "20:09:10");
}

// ---- Parsing the fallback texts ------------------------------------------------------------

TEST_F(DateTimeTest, DateTextsParseInTheLocaleFormatThenDayMonthYear) {
    EXPECT_EQ(ParseDateText("6/7/05"), June7);
    EXPECT_EQ(ParseDateText(" 6/7/2005 "), June7);
    EXPECT_EQ(ParseDateText("01.01.1980"), 29221.0);
    EXPECT_EQ(ParseDateText("07.06.2005"), June7); // not 6 July
    EXPECT_EQ(ParseDateText("12/30/99"), 36524.0); // two-digit years near today
    EXPECT_THROW(ParseDateText("13/1/2005"), EConvertError);
    EXPECT_THROW(ParseDateText("31.02.1980"), EConvertError);
    EXPECT_THROW(ParseDateText("1.1.1980 x"), EConvertError);
    try {
        ParseDateText("garbage");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.message(), "'garbage' is not a valid date");
    }
    pin("de_DE");
    EXPECT_EQ(ParseDateText("7.6.05"), June7);
    pin("fr_CA"); // yyyy-MM-dd
    EXPECT_EQ(ParseDateText("2005-06-07"), June7);
}

TEST_F(DateTimeTest, TimeTextsParseInTheLocaleFormatThenHoursMinutesSeconds) {
    const double noon = 0.5;
    EXPECT_EQ(ParseTimeText("12:00:00"), noon);
    EXPECT_EQ(ParseTimeText("12:00:00 PM"), noon);
    EXPECT_EQ(ParseTimeText("12:00:00 AM"), 0.0);
    EXPECT_EQ(ParseTimeText("8:09:10 pm"), (20 * 3600 + 9 * 60 + 10) / 86400.0);
    EXPECT_EQ(ParseTimeText("8:09"), (8 * 60 + 9) / 1440.0);
    EXPECT_THROW(ParseTimeText("13:00:00 PM"), EConvertError);
    EXPECT_THROW(ParseTimeText("24:00:00"), EConvertError);
    EXPECT_THROW(ParseTimeText("12:60:00"), EConvertError);
    EXPECT_THROW(ParseTimeText(""), EConvertError);
    pin("ja_JP");
    EXPECT_EQ(ParseTimeText(QString::fromUtf8("20時09分10秒")),
              (20 * 3600 + 9 * 60 + 10) / 86400.0);
    EXPECT_EQ(ParseTimeText("12:00:00"), noon);
    pin("fi_FI"); // '.' separates the locale's hours and minutes
    EXPECT_EQ(ParseTimeText("12.00.00"), noon);
    EXPECT_EQ(ParseTimeText("12:00:00"), noon);
}

// ---- ExifDateTime --------------------------------------------------------------------------

TEST_F(DateTimeTest, ExifDateTimeIsTheMomentOfTaking) {
    // An edited photo: DateTime is the day of the edit, DateTimeOriginal the day it was taken.
    const QString edited =
        file("a.jpg", exifBlockJpeg({{{TagMake, "Cam"}, {TagDateTime, "2004:03:04 05:06:07"}},
                                     {{TagDateTimeOriginal, "2001:02:03 04:05:06"},
                                      {TagDateTimeDigitized, "2002:02:03 04:05:06"}}}));
    EXPECT_EQ(ExifDateTime(edited), value(2001, 2, 3, 4, 5, 6));

    // Texts mentioning "date" before the dates are not dates.
    const QString described =
        file("b.jpg", exifBlockJpeg({{{TagImageDescription, "UPDATED"},
                                      {TagSoftware, "Dateline 2"},
                                      {TagDateTime, "2005:06:07 08:09:10"}},
                                     {{TagDateTimeOriginal, "2005:06:07 08:09:10"}}}));
    EXPECT_EQ(ExifDateTime(described), value(2005, 6, 7, 8, 9, 10));

    // Each tag in turn stands in for the one before it.
    const QString digitized =
        file("c.jpg", exifBlockJpeg({{{TagDateTime, "2004:01:01 00:00:00"}},
                                     {{TagDateTimeDigitized, "2003:01:01 10:11:00"}}}));
    EXPECT_EQ(ExifDateTime(digitized), value(2003, 1, 1, 10, 11));
    const QString plain =
        file("d.jpg", exifJpeg({{TagMake, "Cam"}, {TagDateTime, "2005:06:07 08:09:10"}}));
    EXPECT_EQ(ExifDateTime(plain), value(2005, 6, 7, 8, 9, 10));
}

TEST_F(DateTimeTest, ExifDateTimeSkipsValuesThatDoNotParse) {
    const QString unsetOriginal =
        file("a.jpg", exifBlockJpeg({{{TagDateTime, "2004:01:01 12:30:00"}},
                                     {{TagDateTimeOriginal, "0000:00:00 00:00:00"},
                                      {TagDateTimeDigitized, "    :  :     :  :  "}}}));
    EXPECT_EQ(ExifDateTime(unsetOriginal), value(2004, 1, 1, 12, 30));

    // Nothing parses: the first failure is passed on, for the callers' defaults.
    const QString unset = file("b.jpg", exifJpeg({{TagDateTime, "0000:00:00 00:00:00"}}));
    EXPECT_THROW(ExifDateTime(unset), EConvertError);
    const QString cut = file("c.jpg", exifBlockJpeg({{{TagDateTime, "0000:00:00 00:00:00"}},
                                                     {{TagDateTimeOriginal, "2005:06"}}}));
    try {
        ExifDateTime(cut);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "Invalid format");
    }

    // No date at all (a description that mentions one is none).
    const QString noDate = file(
        "d.jpg", exifJpeg({{TagMake, "Cam"}, {TagImageDescription, "date: 2005:06:07 08:09"}}));
    EXPECT_THROW(ExifDateTime(noDate), Exception);
}

TEST_F(DateTimeTest, ExifDateTimePassesReadFailuresOn) {
    const QString jfif = file("j.jpg", QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));
    try {
        ExifDateTime(jfif);
        FAIL();
    } catch (const EExifError& e) {
        EXPECT_EQ(e.message(), "Application segment 1 (APP1) not found.");
    }
    EXPECT_THROW(ExifDateTime(m_dir.filePath("missing.jpg")), Exception);
}

// ---- Brick values --------------------------------------------------------------------------

TEST_F(DateTimeTest, BricksTakeTheirTextFromTheExifDate) {
    const QString photo = file("p.jpg", exifJpeg({{TagDateTime, "2005:06:07 20:09:10"}}));
    BrickDateTime date = DateBrickValue(photo);
    EXPECT_EQ(date.text, "6/7/05");
    EXPECT_EQ(date.value, June7); // no time of day
    BrickDateTime time = TimeBrickValue(photo);
    EXPECT_EQ(time.text, "8:09:10 PM");
    EXPECT_EQ(time.value, value(2005, 6, 7, 20, 9, 10));

    pin("de_DE");
    EXPECT_EQ(DateBrickValue(photo).text, "07.06.05");
    EXPECT_EQ(TimeBrickValue(photo).text, "20:09:10");
}

TEST_F(DateTimeTest, BricksTakeTheMomentOfTaking) {
    const QString photo = file(
        "t.jpg",
        exifBlockJpeg({{{TagImageDescription, "Updated"}, {TagDateTime, "2004:01:01 00:00:00"}},
                       {{TagDateTimeOriginal, "2001:06:07 20:09:10"}}}));
    EXPECT_EQ(DateBrickValue(photo).text, "6/7/01");
    EXPECT_EQ(TimeBrickValue(photo).text, "8:09:10 PM");
}

TEST_F(DateTimeTest, RecordWithoutDateGivesTheDefaults) {
    const QString photo = file("n.jpg", exifJpeg({{TagMake, "Cam"}}));
    const BrickDateTime date = DateBrickValue(photo);
    EXPECT_EQ(date.text, "01.01.1980");
    EXPECT_EQ(date.value, 29221.0);
    const BrickDateTime time = TimeBrickValue(photo);
    EXPECT_EQ(time.text, "12:00:00");
    EXPECT_EQ(time.value, 0.5);
}

TEST_F(DateTimeTest, DefaultFallbacksParseInEveryLocale) {
    const QString noExif = file("plain.jpg", QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));
    const QString unset = file("u.jpg", exifJpeg({{TagDateTime, "0000:00:00 00:00:00"}}));
    const QStringList images{QString(), m_dir.filePath("missing.jpg"), noExif, unset};
    for (const char* locale : {"en_US", "de_DE", "fr_FR", "ja_JP", "fi_FI", "ko_KR"}) {
        pin(locale);
        for (const QString& image : images) {
            const BrickDateTime date = DateBrickValue(image);
            EXPECT_EQ(date.text, "01.01.1980") << locale << " " << image.toStdString();
            EXPECT_EQ(date.value, 29221.0) << locale << " " << image.toStdString();
            const BrickDateTime time = TimeBrickValue(image);
            EXPECT_EQ(time.text, "12:00:00") << locale << " " << image.toStdString();
            EXPECT_EQ(time.value, 0.5) << locale << " " << image.toStdString();
        }
    }
}

TEST_F(DateTimeTest, FallbacksUseTheSettingsTexts) {
    Settings().defaultDate = "1/2/2003";
    Settings().defaultTime = "1:02:03 PM";
    EXPECT_EQ(DateBrickValue(QString()).value, value(2003, 1, 2));
    EXPECT_EQ(TimeBrickValue(QString()).value, (13 * 3600 + 2 * 60 + 3) / 86400.0);

    Settings().defaultDate = "someday";
    Settings().defaultTime = "later";
    EXPECT_THROW(DateBrickValue(QString()), EConvertError);
    EXPECT_THROW(TimeBrickValue(QString()), EConvertError);

    // A load that stopped half-way left the texts empty: the built-in ones serve.
    Settings().defaultDate.clear();
    Settings().defaultTime.clear();
    EXPECT_EQ(DateBrickValue(QString()).text, "01.01.1980");
    EXPECT_EQ(TimeBrickValue(QString()).text, "12:00:00");
}

// ---- Camera files --------------------------------------------------------------------------

// The reference table's taking date for each camera sample: DateTimeOriginal, else
// DateTimeDigitized, else DateTime, to the minute (seconds are never read).
TEST(ExifDateTimeCamera, MatchesTheReferenceTable) {
    const QString dir = sharedTestDataDir() + QStringLiteral("/exif");
    QFile table(dir + QStringLiteral("/reference.tsv"));
    if (sharedTestDataDir().isEmpty() || !table.open(QIODevice::ReadOnly | QIODevice::Text))
        GTEST_SKIP() << "camera sample folder (testdata/exif) not present";
    const QStringList header = QString::fromUtf8(table.readLine()).trimmed().split('\t');
    const qsizetype original = header.indexOf("ExifIFD:DateTimeOriginal");
    const qsizetype digitized = header.indexOf("ExifIFD:DateTimeDigitized");
    const qsizetype changed = header.indexOf("IFD0:DateTime");
    ASSERT_GE(std::min({original, digitized, changed}), 0);
    int files = 0, differFromDateTime = 0;
    while (!table.atEnd()) {
        const QStringList cells = QString::fromUtf8(table.readLine()).chopped(1).split('\t');
        ASSERT_EQ(cells.size(), header.size());
        SCOPED_TRACE(cells[0].toStdString());
        ++files;
        QString expected;
        for (qsizetype column : {original, digitized, changed}) {
            if (!cells[column].isEmpty()) {
                expected = cells[column];
                break;
            }
        }
        // The reference tool refuses this file's Exif pointer (typed as text); the directory it
        // points to holds the taking date as text twice (file offsets 322 and 342).
        if (cells[0] == "30-type_error.jpg" && cells[original].isEmpty())
            expected = QStringLiteral("2013:07:05 03:18:27");
        const QString path = dir + '/' + cells[0];
        if (expected.isEmpty()) {
            EXPECT_THROW(ExifDateTime(path), Exception);
            continue;
        }
        QDateTime taken = QDateTime::fromString(expected, "yyyy:MM:dd HH:mm:ss");
        ASSERT_TRUE(taken.isValid()) << expected.toStdString();
        taken.setTimeZone(QTimeZone::utc());
        EXPECT_EQ(ExifDateTime(path), DateTimeToValue(taken)) << expected.toStdString();
        differFromDateTime += expected != cells[changed];
    }
    EXPECT_EQ(files, 31);
    // 30-type_error, 45-gps_ifd, Canon_40D, Fujifilm_FinePix6900ZOOM, Kodak, Sigma, canon_hdr_NO.
    EXPECT_EQ(differFromDateTime, 7);
}
