#include "patterns/settings/PhotoDates.h"

#include "imaging/core/TExif.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/SettingsStore.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <thread>

namespace {
double value(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return DateTimeToValue(QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::utc()));
}

constexpr quint16 TagModel = 0x0110;
constexpr quint16 TagDateTime = 0x0132;
constexpr quint16 TagDateTimeOriginal = 0x9003;
constexpr quint16 TagOffsetTime = 0x9010;
constexpr quint16 TagOffsetTimeOriginal = 0x9011;
constexpr quint16 TagSubSecTimeOriginal = 0x9291;

class PhotoDatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetSystemLocaleForTesting(QLocale(QLocale::English, QLocale::UnitedStates));
        Settings() = TSettings();
        SetRunClockShift(std::nullopt);
        ASSERT_TRUE(m_dir.isValid());
    }
    void TearDown() override {
        ResetSystemLocaleForTesting();
        Settings() = TSettings();
        SetRunClockShift(std::nullopt);
    }
    TExif exifOf(const ExifBlock& block) {
        TExif exif;
        exif.LoadFromBytes(exifBlockJpeg(block));
        return exif;
    }
    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QTemporaryDir m_dir;
};

TEST_F(PhotoDatesTest, SecondsOffsetAndSubSecondsAreRead) {
    const TExif exif = exifOf({{{TagModel, "Cam A"}, {TagDateTime, "2026:04:01 10:00:00"}},
                               {{TagDateTimeOriginal, "2026:03:29 18:42:07"},
                                {TagOffsetTimeOriginal, "+02:00"},
                                {TagSubSecTimeOriginal, "042"}}});
    const TTakenDate taken = ExifTakenDate(exif);
    EXPECT_EQ(taken.value, value(2026, 3, 29, 18, 42, 7));
    EXPECT_EQ(taken.tag, "DateTimeOriginal");
    ASSERT_TRUE(taken.offset);
    EXPECT_EQ(*taken.offset, 120);
    EXPECT_EQ(taken.subSeconds, "042");
    // The local time as recorded, and the offset only where a format asks for it.
    EXPECT_EQ(FormatDateTimeText("yyyy-MM-dd hh:mm:ss", taken.value, taken.offset),
              "2026-03-29 18:42:07");
    EXPECT_EQ(FormatDateTimeText("hh:mm:ss z", taken.value, taken.offset), "18:42:07 +02:00");
    EXPECT_EQ(FormatDateTimeText("hh:mm z", taken.value), "18:42 ");
}

TEST_F(PhotoDatesTest, OffsetFallsBackToOffsetTimeAndUnsetOffsetsAreNone) {
    const TExif other = exifOf({{{TagDateTime, "2026:03:29 18:42:07"}},
                                {{TagDateTimeOriginal, "2026:03:29 18:42:07"},
                                 {TagOffsetTime, "-05:30"}}});
    ASSERT_TRUE(ExifTakenDate(other).offset);
    EXPECT_EQ(*ExifTakenDate(other).offset, -330);
    EXPECT_EQ(OffsetText(-330), "-05:30");
    EXPECT_EQ(OffsetText(0), "+00:00");
    EXPECT_EQ(OffsetText(std::nullopt), "");

    const TExif unset = exifOf({{{TagDateTime, "2026:03:29 18:42:07"}},
                                {{TagDateTimeOriginal, "2026:03:29 18:42:07"},
                                 {TagOffsetTimeOriginal, "   :  "}}});
    EXPECT_FALSE(ExifTakenDate(unset).offset);
    EXPECT_EQ(*ParseOffsetText("+0930"), 570);
    EXPECT_EQ(*ParseOffsetText("Z"), 0);
    EXPECT_FALSE(ParseOffsetText("+15:00"));
    EXPECT_FALSE(ParseOffsetText("+02:60"));
    EXPECT_FALSE(ParseOffsetText("02:00"));
}

TEST_F(PhotoDatesTest, ClockShiftsParseInEveryWrittenForm) {
    EXPECT_EQ(ParseClockShift("+01:30:00"), 5400);
    EXPECT_EQ(ParseClockShift("01:30"), 5400);
    EXPECT_EQ(ParseClockShift("-00:00:45"), -45);
    EXPECT_EQ(ParseClockShift("-1 02:00:00"), -(86400 + 7200));
    EXPECT_EQ(ParseClockShift(" +2 0:05 "), 2 * 86400 + 300);
    for (const char* bad : {"", "1", "+1:2", "24:00", "01:60", "01:00:60", "1d 01:00", "++01:00",
                            "01:00:00:00"}) {
        try {
            ParseClockShift(bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const EConvertError& e) {
            EXPECT_TRUE(e.message().contains("[+|-][D ]HH:MM[:SS]")) << e.message().toStdString();
        }
    }
    EXPECT_EQ(ClockShiftText(5400), "+01:30:00");
    EXPECT_EQ(ClockShiftText(-(86400 + 7200)), "-1 02:00:00");
    EXPECT_EQ(ClockShiftText(0), "+00:00:00");
}

TEST_F(PhotoDatesTest, ShiftsCrossMidnightMonthEndsAndLeapDays) {
    struct Case {
        double from;
        const char* shift;
        double to;
    };
    const Case cases[] = {
        {value(2026, 12, 31, 23, 30, 0), "+01:00:00", value(2027, 1, 1, 0, 30, 0)},
        {value(2026, 4, 30, 23, 59, 59), "+00:00:01", value(2026, 5, 1, 0, 0, 0)},
        {value(2024, 2, 28, 22, 0, 0), "+03:00", value(2024, 2, 29, 1, 0, 0)},
        {value(2023, 2, 28, 22, 0, 0), "+03:00", value(2023, 3, 1, 1, 0, 0)},
        {value(2024, 3, 1, 0, 10, 0), "-00:20:00", value(2024, 2, 29, 23, 50, 0)},
        {value(2026, 1, 1, 1, 0, 0), "-1 02:00:00", value(2025, 12, 30, 23, 0, 0)},
        {value(2026, 3, 29, 18, 42, 7), "+00:00", value(2026, 3, 29, 18, 42, 7)},
    };
    for (const Case& c : cases) {
        const double shifted = ShiftedValue(c.from, ParseClockShift(c.shift));
        EXPECT_EQ(shifted, c.to) << c.shift << " from "
                                 << ValueToDateTime(c.from).toString().toStdString() << " gives "
                                 << ValueToDateTime(shifted).toString().toStdString();
    }
}

TEST_F(PhotoDatesTest, ModelShiftsApplyUnlessTheRunGivesOne) {
    Settings().ClockShifts.insert("Cam A", ParseClockShift("-01:00"));
    const TExif a = exifOf({{{TagModel, "Cam A"}}, {{TagDateTimeOriginal, "2026:03:01 00:30:15"}}});
    const TExif b = exifOf({{{TagModel, "Cam B"}}, {{TagDateTimeOriginal, "2026:03:01 00:30:15"}}});
    EXPECT_EQ(ExifTakenDate(a).value, value(2026, 2, 28, 23, 30, 15));
    EXPECT_EQ(ExifTakenDate(a).shiftSeconds, -3600);
    EXPECT_EQ(ExifTakenDate(b).value, value(2026, 3, 1, 0, 30, 15));
    EXPECT_EQ(ExifDateTime(a), value(2026, 2, 28, 23, 30, 15));

    SetRunClockShift(ParseClockShift("+1 00:00"));
    EXPECT_EQ(ExifTakenDate(a).value, value(2026, 3, 2, 0, 30, 15));
    EXPECT_EQ(ExifTakenDate(b).value, value(2026, 3, 2, 0, 30, 15));
}

// A preview's workers date with the shift typed for the run while another run's shift, or the
// settings' model shifts, hold everywhere else.
TEST_F(PhotoDatesTest, AThreadsOwnShiftHoldsForThatThreadAlone) {
    Settings().ClockShifts.insert("Cam A", ParseClockShift("-01:00"));
    const TExif a = exifOf({{{TagModel, "Cam A"}}, {{TagDateTimeOriginal, "2026:03:01 00:30:15"}}});
    SetRunClockShift(ParseClockShift("+00:10"));
    {
        const TThreadClockShift own(ParseClockShift("+02:00"));
        EXPECT_EQ(ExifTakenDate(a).value, value(2026, 3, 1, 2, 30, 15));
        {
            // None for the thread: the model's shift, not the run's.
            const TThreadClockShift none(std::nullopt);
            EXPECT_EQ(ExifTakenDate(a).value, value(2026, 2, 28, 23, 30, 15));
        }
        EXPECT_EQ(ExifTakenDate(a).value, value(2026, 3, 1, 2, 30, 15));
        double elsewhere = 0;
        std::thread other([&] { elsewhere = ExifTakenDate(a).value; });
        other.join();
        EXPECT_EQ(elsewhere, value(2026, 3, 1, 0, 40, 15));
    }
    EXPECT_EQ(ExifTakenDate(a).value, value(2026, 3, 1, 0, 40, 15));
}

TEST_F(PhotoDatesTest, SettingsReadModelShiftsAndTheFallback) {
    SettingsStore store(SettingsKey);
    ASSERT_TRUE(store.OpenOrCreate());
    ASSERT_TRUE(store.SetValue("ClockShift.Cam A", "+00:30"));
    ASSERT_TRUE(store.SetValue("ClockShift.X100", "-1 00:00:00"));
    ASSERT_TRUE(store.SetValue("DateFallback", "skip"));
    LoadSettings();
    EXPECT_EQ(Settings().ClockShifts.value("Cam A"), 1800);
    EXPECT_EQ(Settings().ClockShifts.value("X100"), -86400);
    EXPECT_EQ(DateFallbackSetting(), TDateFallback::Skip);

    ASSERT_TRUE(store.SetValue("ClockShift.X100", "soon"));
    try {
        LoadSettings();
        ADD_FAILURE() << "a bad shift was taken";
    } catch (const EConvertError& e) {
        EXPECT_TRUE(e.message().contains("ClockShift.X100")) << e.message().toStdString();
    }
    ASSERT_TRUE(store.SetValue("ClockShift.X100", "+00:00"));
    ASSERT_TRUE(store.SetValue("DateFallback", "never"));
    EXPECT_THROW(LoadSettings(), EConvertError);
    EXPECT_EQ(DateFallbackSetting(), TDateFallback::Default);
    ASSERT_TRUE(store.SetValue("DateFallback", "default"));
    LoadSettings();
}

TEST_F(PhotoDatesTest, APhotoWithoutADateIsNamedWithItsStandIn) {
    const QString path = file("photo.jpg", exifJpeg({{TagModel, "Cam"}}));
    TExif exif;
    exif.LoadFromJpeg(path);

    TDatedPhoto dated = DatePhoto(path, &exif);
    EXPECT_FALSE(dated.hasDate);
    EXPECT_FALSE(dated.skip);
    EXPECT_EQ(dated.notice, "photo.jpg: no date taken; dated 01.01.1980 by the settings' default");
    EXPECT_EQ(dated.taken.value, value(1980, 1, 1, 12, 0, 0));

    Settings().DateFallback = "file";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QDateTime changed(QDate(2020, 5, 6), QTime(7, 8, 9));
    ASSERT_TRUE(f.setFileTime(changed, QFileDevice::FileModificationTime));
    f.close();
    dated = DatePhoto(path, nullptr);
    EXPECT_EQ(dated.taken.value, value(2020, 5, 6, 7, 8, 9));
    EXPECT_EQ(dated.notice,
              "photo.jpg: no date taken; dated 2020-05-06 07:08:09 by the file's modification time");

    Settings().DateFallback = "skip";
    dated = DatePhoto(path, &exif);
    EXPECT_TRUE(dated.skip);
    EXPECT_EQ(dated.notice, "photo.jpg: no date taken; not written (DateFallback=skip)");

    // A photo with a date is not touched by the fallback; the shift applies to it alone.
    const QString dated2 =
        file("b.jpg", exifJpeg({{TagModel, "Cam"}, {TagDateTime, "2026:03:29 18:42:07"}}));
    TExif withDate;
    withDate.LoadFromJpeg(dated2);
    SetRunClockShift(60);
    dated = DatePhoto(dated2, &withDate);
    EXPECT_TRUE(dated.hasDate);
    EXPECT_TRUE(dated.notice.isEmpty());
    EXPECT_EQ(dated.taken.value, value(2026, 3, 29, 18, 43, 7));
}
} // namespace
