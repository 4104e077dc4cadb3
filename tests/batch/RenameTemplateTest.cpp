#include "batch/core/RenameTemplate.h"
#include "imaging/core/ImageCodecs.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/Messages.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

TTokenRow row(std::initializer_list<int> ids) {
    TTokenRow r{};
    int k = 0;
    for (int id : ids)
        r[k++] = id;
    return r;
}

TRenameTemplate withTemplate(const QString& stored, bool rename = true) {
    TRenameTemplate t;
    t.LoadStored(stored);
    t.Rename = rename;
    return t;
}

// ---- Stored form --------------------------------------------------------------------------

TEST(RenameStoredForm, DefaultTemplateIsDateThenTime) {
    const TRenameTemplate t = withTemplate(QStringLiteral("23"));
    EXPECT_EQ(t.NameTemplate, row({rtDate, rtTime}));
    EXPECT_EQ(t.AvailableTokens, row({rtCustomText, rtNumber, rtOldName}));
    EXPECT_EQ(t.StoredForm(), QStringLiteral("23"));
}

TEST(RenameStoredForm, RoundTripsEveryOrder) {
    for (const char* stored : {"", "1", "54", "12345", "54321", "3", "415"}) {
        const TRenameTemplate t = withTemplate(QString::fromLatin1(stored));
        EXPECT_EQ(t.StoredForm(), QString::fromLatin1(stored)) << stored;
        // Every token stands in exactly one row.
        for (int id = 1; id <= 5; ++id) {
            const int inName = int(std::count(t.NameTemplate.begin(), t.NameTemplate.end(), id));
            const int inBox =
                int(std::count(t.AvailableTokens.begin(), t.AvailableTokens.end(), id));
            EXPECT_EQ(inName + inBox, 1) << stored << " token " << id;
        }
    }
}

TEST(RenameStoredForm, EmptyRowGivesEmptyText) {
    TRenameTemplate t;
    EXPECT_EQ(t.StoredForm(), QString());
    EXPECT_EQ(t.AvailableTokens, row({1, 2, 3, 4, 5}));
}

TEST(RenameStoredForm, OnlyFirstFiveCharactersCount) {
    const TRenameTemplate t = withTemplate(QStringLiteral("123455"));
    EXPECT_EQ(t.StoredForm(), QStringLiteral("12345"));
    EXPECT_EQ(t.AvailableTokens, TTokenRow{});
}

TEST(RenameStoredForm, HandEditedValuesKeepTokensUnique) {
    EXPECT_EQ(withTemplate(QStringLiteral("22")).StoredForm(), QStringLiteral("2"));
    EXPECT_EQ(withTemplate(QStringLiteral("2x9 3")).StoredForm(), QStringLiteral("23"));
    EXPECT_EQ(withTemplate(QStringLiteral("2x9 03")).StoredForm(), QStringLiteral("2"));
}

// ---- Rows and dropping -------------------------------------------------------------------

TEST(RenameRows, CloseGapsKeepsOrder) {
    TRenameTemplate t;
    t.NameTemplate = row({0, 4, 0, 2, 0});
    t.AvailableTokens = row({0, 0, 1, 3, 5});
    t.CloseGaps();
    EXPECT_EQ(t.NameTemplate, row({4, 2}));
    EXPECT_EQ(t.AvailableTokens, row({1, 3, 5}));
}

TEST(RenameRows, DropIntoEmptyNameRow) {
    TRenameTemplate t;
    t.Drop(rtNumber, TTokenRowKind::NewName, 3);
    EXPECT_EQ(t.NameTemplate, row({rtNumber}));
    EXPECT_EQ(t.AvailableTokens, row({1, 2, 3, 5}));
}

TEST(RenameRows, DropBeyondLastSlotGoesLastOrBeforeTheLastToken) {
    TRenameTemplate t = withTemplate(QStringLiteral("23"));
    t.Drop(rtOldName, TTokenRowKind::NewName, 4);
    EXPECT_EQ(t.StoredForm(), QStringLiteral("235"));

    TRenameTemplate full = withTemplate(QStringLiteral("12345"));
    full.Drop(rtCustomText, TTokenRowKind::NewName, 4);
    EXPECT_EQ(full.StoredForm(), QStringLiteral("23415"));
}

TEST(RenameRows, DropOntoOwnSlotLeavesRowUnchanged) {
    for (int slot = 0; slot < 3; ++slot) {
        TRenameTemplate t = withTemplate(QStringLiteral("254"));
        const int id = t.NameTemplate[slot];
        t.Drop(id, TTokenRowKind::NewName, slot);
        EXPECT_EQ(t.StoredForm(), QStringLiteral("254")) << slot;
    }
}

TEST(RenameRows, MovingWithinFullRowKeepsAllFive) {
    TRenameTemplate t = withTemplate(QStringLiteral("12345"));
    t.Drop(rtOldName, TTokenRowKind::NewName, 0);
    EXPECT_EQ(t.StoredForm(), QStringLiteral("51234"));
    t.Drop(rtCustomText, TTokenRowKind::NewName, 3);
    // The token's old slot is empty while the drop is placed: before the tokens in slot 3 on.
    EXPECT_EQ(t.StoredForm(), QStringLiteral("52134"));
}

TEST(RenameRows, DropBackToAvailableRow) {
    TRenameTemplate t = withTemplate(QStringLiteral("23"));
    t.Drop(rtDate, TTokenRowKind::Available, 0);
    EXPECT_EQ(t.NameTemplate, row({rtTime}));
    EXPECT_EQ(t.AvailableTokens, row({rtDate, 1, 4, 5}));
}

TEST(RenameRows, UnknownTokenIsIgnored) {
    TRenameTemplate t = withTemplate(QStringLiteral("23"));
    t.Drop(7, TTokenRowKind::NewName, 0);
    t.Drop(0, TTokenRowKind::NewName, 0);
    EXPECT_EQ(t.StoredForm(), QStringLiteral("23"));
}

// ---- Geometry ----------------------------------------------------------------------------

TEST(RenameGeometry, SlotsAndMarker) {
    const int base = 100, w = 48;
    EXPECT_EQ(TokenSlotLeft(base, 0, w), 106);
    EXPECT_EQ(TokenSlotLeft(base, 4, w), 106 + 4 * 54);
    // The marker stands in the gap before the slot the token is over.
    EXPECT_EQ(InsertMarkerLeft(base + 47, base, w), base);
    EXPECT_EQ(InsertMarkerLeft(base + 48, base, w), base + 54);
    EXPECT_EQ(InsertMarkerLeft(base + 150, base, w), base + 3 * 54);
    // Left of the row start: raised to it (div truncates toward zero).
    EXPECT_EQ(InsertMarkerLeft(base - 20, base, w), base);
    EXPECT_EQ(InsertMarkerLeft(base - 200, base, w), base);
}

TEST(RenameGeometry, DropSlot) {
    const int base = 100, w = 48;
    EXPECT_EQ(TokenDropSlot(base + 4, base, w), 0); // left of base + 5
    EXPECT_EQ(TokenDropSlot(-50, base, w), 0);
    EXPECT_EQ(TokenDropSlot(base + 5 + 47, base, w), 0);
    EXPECT_EQ(TokenDropSlot(base + 5 + 48, base, w), 1);
    EXPECT_EQ(TokenDropSlot(base + 1000, base, w), 4);
    // A token standing in its slot drops back into that slot.
    for (int k = 0; k < TokenSlots; ++k)
        EXPECT_EQ(TokenDropSlot(TokenSlotLeft(base, k, w), base, w), k);
}

// ---- The memo's characters ---------------------------------------------------------------

TEST(RenameMemo, EachForbiddenCharacterReportedAndRemoved) {
    MessageCapture messages;
    QString text = QStringLiteral("a:b");
    RemoveForbiddenCharacters(text);
    EXPECT_EQ(text, QStringLiteral("ab"));
    ASSERT_EQ(messages.messages.size(), 1);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("You can't use \":\" in file names."));
    EXPECT_EQ(messages.messages[0].kind, int(MessageKind::Information));
}

TEST(RenameMemo, AllNineInCheckOrderOneMessageEach) {
    MessageCapture messages;
    QString text = QStringLiteral("|x><\"?*:/\\:");
    RemoveForbiddenCharacters(text);
    EXPECT_EQ(text, QStringLiteral("x"));
    QStringList expected;
    for (QChar c : QStringLiteral("\\/::*?\"<>|"))
        expected.append(ForbiddenCharacterMessage(c));
    EXPECT_EQ(messages.texts(), expected);
}

TEST(RenameMemo, CleanTextShowsNothing) {
    MessageCapture messages;
    QString text = QStringLiteral("Trip 2006.a_b");
    EXPECT_FALSE(RemoveOneForbiddenCharacter(text));
    EXPECT_EQ(text, QStringLiteral("Trip 2006.a_b"));
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST(RenameMemo, CustomTextPartDropsLineBreaksAndForbiddenCharacters) {
    TRenameTemplate t;
    EXPECT_EQ(t.CustomTextPart(), QStringLiteral("Type your text here"));
    t.CustomText = QStringLiteral("a\r\nb:c?\n");
    EXPECT_EQ(t.CustomTextPart(), QStringLiteral("abc"));
}

// ---- MakeNewName on real files -----------------------------------------------------------

class MakeNewNameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        saved = Settings();
        Settings().defaultDateFormatFile = QStringLiteral("yyyy-MM-dd");
        Settings().defaultTimeFormatFile = QStringLiteral("3"); // h:mm:ss
        Settings().defaultTimeDelimiter = QLatin1Char('-');
        photo = file(QStringLiteral("IMG_0001.JPG"), "2006:05:02 14:05:09");
    }
    void TearDown() override { Settings() = saved; }

    QString file(const QString& name, const QByteArray& date) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(WriteBytes(path, JpegWithExif(makeTestPhoto(16, 12), date)));
        return path;
    }

    QTemporaryDir dir;
    TSettings saved;
    QString photo;
};

TEST_F(MakeNewNameTest, DefaultTemplateDateThenTime) {
    // The seconds are read; the leading blank of the date is trimmed.
    EXPECT_EQ(withTemplate(QStringLiteral("23")).MakeNewName(photo, 1),
              QStringLiteral("2006-05-02 14-05-09.JPG"));
}

TEST_F(MakeNewNameTest, FieldsInTheCustomTextTakeEachPhotosValues) {
    const QString path = dir.filePath(QStringLiteral("DSCF0001.JPG"));
    ASSERT_TRUE(WriteBytes(
        path, withExif(EncodeJpeg(makeTestPhoto(16, 12), 90),
                       {{0x010F, "Fujifilm"}, {0x0110, "X-T5/II"}, {0x0132, "2006:05:02 14:05:09"}})));
    TRenameTemplate t = withTemplate(QStringLiteral("14"));
    t.CustomText = QStringLiteral("{Make} {Model} {City}{Date:yyyyMMdd}-");
    // The value's slash goes; a field the photo lacks is empty; the number follows.
    EXPECT_EQ(t.MakeNewName(path, 7), QStringLiteral("Fujifilm X-T5II 20060502-7.JPG"));
    t.CustomText = QStringLiteral("{{Model}}");
    EXPECT_EQ(t.MakeNewName(path, 2), QStringLiteral("{Model}2.JPG"));
    // A clock shift moves the date tokens and fields alike.
    SetRunClockShift(ParseClockShift("+10:00:00"));
    t = withTemplate(QStringLiteral("213"));
    t.CustomText = QStringLiteral("_{Date:yyyy}");
    EXPECT_EQ(t.MakeNewName(path, 1), QStringLiteral("2006-05-03_2006 0-05-09.JPG"));
    SetRunClockShift(std::nullopt);
}

TEST_F(MakeNewNameTest, OldNameThenNumber) {
    EXPECT_EQ(withTemplate(QStringLiteral("54")).MakeNewName(photo, 3),
              QStringLiteral("IMG_00013.JPG"));
}

TEST_F(MakeNewNameTest, CustomTextThenNumber) {
    const QString bmp = dir.filePath(QStringLiteral("a.bmp"));
    ASSERT_TRUE(makeTestPhoto(8, 8).save(bmp));
    TRenameTemplate t = withTemplate(QStringLiteral("14"));
    t.CustomText = QStringLiteral("Trip");
    EXPECT_EQ(t.MakeNewName(bmp, 1), QStringLiteral("Trip1.bmp"));
    t.CustomText = CustomTextPlaceholder;
    EXPECT_EQ(t.MakeNewName(bmp, 1), QStringLiteral("Type your text here1.bmp"));
}

TEST_F(MakeNewNameTest, RenameOffKeepsOldNameWhateverTheRows) {
    EXPECT_EQ(withTemplate(QStringLiteral("12345"), false).MakeNewName(photo, 7),
              QStringLiteral("IMG_0001.JPG"));
    // Names are used as they are: blanks are part of them.
    EXPECT_EQ(withTemplate(QString(), false).MakeNewName(QStringLiteral("/x/ a b.jpg "), 1),
              QStringLiteral(" a b.jpg "));
}

TEST_F(MakeNewNameTest, OnlyTheBlanksTheTemplateBringsAreTrimmed) {
    const QString lead = file(QStringLiteral(" lead.jpg"), "2006:05:02 14:05:09");
    // A token that fails gives the old name whole.
    Settings().defaultTimeFormatFile = QString();
    EXPECT_EQ(withTemplate(QStringLiteral("3")).MakeNewName(lead, 1), QStringLiteral(" lead.jpg"));
    EXPECT_EQ(withTemplate(QStringLiteral("5")).MakeNewName(lead, 1), QStringLiteral(" lead.jpg"));
    EXPECT_EQ(withTemplate(QStringLiteral("54")).MakeNewName(lead, 2),
              QStringLiteral(" lead2.jpg"));
    // The blank before a date and a custom text's own blanks go from the ends, up to the old name.
    EXPECT_EQ(withTemplate(QStringLiteral("25")).MakeNewName(lead, 1),
              QStringLiteral("2006-05-02 lead.jpg"));
    TRenameTemplate t = withTemplate(QStringLiteral("152"));
    t.CustomText = QStringLiteral("  ");
    EXPECT_EQ(t.MakeNewName(lead, 1), QStringLiteral(" lead 2006-05-02.jpg"));
    t = withTemplate(QStringLiteral("21"));
    t.CustomText = QStringLiteral(" Trip  ");
    EXPECT_EQ(t.MakeNewName(lead, 1), QStringLiteral("2006-05-02 Trip.jpg"));
}

TEST_F(MakeNewNameTest, EmptyNameRowGivesExtensionAlone) {
    EXPECT_EQ(withTemplate(QString()).MakeNewName(photo, 1), QStringLiteral(".JPG"));
}

TEST_F(MakeNewNameTest, TimeFormatIndexMissingOrWrongKeepsOldName) {
    for (const char* index : {"", "x", "-1", "6"}) {
        Settings().defaultTimeFormatFile = QString::fromLatin1(index);
        EXPECT_EQ(withTemplate(QStringLiteral("43")).MakeNewName(photo, 1),
                  QStringLiteral("IMG_0001.JPG"))
            << index;
    }
    // Without the time token the index plays no part.
    EXPECT_EQ(withTemplate(QStringLiteral("42")).MakeNewName(photo, 1),
              QStringLiteral("1 2006-05-02.JPG"));
    Settings().defaultTimeFormatFile = QStringLiteral("4");
    EXPECT_EQ(withTemplate(QStringLiteral("3")).MakeNewName(photo, 1),
              QStringLiteral("02.05.2006 14-05.JPG"));
}

TEST_F(MakeNewNameTest, TimeFormatsAndDelimiter) {
    Settings().defaultTimeFormatFile = QStringLiteral("0");
    Settings().defaultTimeDelimiter = QLatin1Char('_');
    EXPECT_EQ(withTemplate(QStringLiteral("3")).MakeNewName(photo, 1),
              QStringLiteral("2_05 PM.JPG"));
}

TEST_F(MakeNewNameTest, PaddedTimeFormatSortsByTheTimeOfDay) {
    Settings().defaultTimeFormatFile = QStringLiteral("5"); // hh:mm:ss
    const QString morning = file(QStringLiteral("IMG_0002.JPG"), "2006:05:02 09:03:59");
    EXPECT_EQ(withTemplate(QStringLiteral("23")).MakeNewName(morning, 1),
              QStringLiteral("2006-05-02 09-03-59.JPG"));
    EXPECT_EQ(withTemplate(QStringLiteral("23")).MakeNewName(photo, 2),
              QStringLiteral("2006-05-02 14-05-09.JPG"));
}

TEST_F(MakeNewNameTest, BuildNewNameSaysWhyTheTemplateMakesNoName) {
    const TRenameTemplate t = withTemplate(QStringLiteral("23"));
    TRenameTemplate::Result r = t.BuildNewName(photo, 1);
    EXPECT_EQ(r.name, QStringLiteral("2006-05-02 14-05-09.JPG"));
    EXPECT_TRUE(r.problem.isEmpty());

    const QString none = file(QStringLiteral("nodate.jpg"), QByteArray());
    r = t.BuildNewName(none, 1);
    EXPECT_EQ(r.name, QStringLiteral("nodate.jpg"));
    EXPECT_TRUE(r.problem.startsWith("the date the picture was taken cannot be read"))
        << r.problem.toStdString();

    Settings().defaultTimeFormatFile.clear();
    r = withTemplate(QStringLiteral("3")).BuildNewName(photo, 1);
    EXPECT_EQ(r.problem, QStringLiteral("no time format for file names is chosen (Options)"));
    Settings().defaultTimeFormatFile = QStringLiteral("9");
    r = withTemplate(QStringLiteral("3")).BuildNewName(photo, 1);
    EXPECT_TRUE(r.problem.contains("\"9\"")) << r.problem.toStdString();
    // Without date or time tokens nothing can fail; with Rename off the old name is the name.
    EXPECT_TRUE(withTemplate(QStringLiteral("54")).BuildNewName(none, 3).problem.isEmpty());
    r = withTemplate(QStringLiteral("23"), false).BuildNewName(none, 1);
    EXPECT_EQ(r.name, QStringLiteral("nodate.jpg"));
    EXPECT_TRUE(r.problem.isEmpty());
}

TEST_F(MakeNewNameTest, FileWithoutDateOrExifKeepsOldName) {
    const QString bmp = dir.filePath(QStringLiteral("plain.bmp"));
    ASSERT_TRUE(makeTestPhoto(8, 8).save(bmp));
    EXPECT_EQ(withTemplate(QStringLiteral("24")).MakeNewName(bmp, 2), QStringLiteral("plain.bmp"));
    // An unset camera date (all zeros) cannot be encoded.
    const QString unset = file(QStringLiteral("unset.jpg"), "0000:00:00 00:00:00");
    EXPECT_EQ(withTemplate(QStringLiteral("2")).MakeNewName(unset, 1), QStringLiteral("unset.jpg"));
    // No date entry at all: no date to name the file by either.
    const QString none = file(QStringLiteral("nodate.jpg"), QByteArray());
    EXPECT_EQ(withTemplate(QStringLiteral("2")).MakeNewName(none, 1), QStringLiteral("nodate.jpg"));
}

TEST_F(MakeNewNameTest, DateAndTimeAreTheMomentOfTaking) {
    // An edited photo: DateTime is the edit, DateTimeOriginal the moment the picture was taken;
    // the description mentioning a date is no date.
    const QString edited = dir.filePath(QStringLiteral("edited.jpg"));
    ASSERT_TRUE(WriteBytes(
        edited, withExifBlock(EncodeJpeg(makeTestPhoto(16, 12), 90),
                              {{{0x010E, "date unknown"}, {0x0132, "2004:07:08 09:10:11"}},
                               {{0x9003, "2001:02:03 16:05:06"}}})));
    EXPECT_EQ(withTemplate(QStringLiteral("23")).MakeNewName(edited, 1),
              QStringLiteral("2001-02-03 16-05-06.jpg"));
}

TEST_F(MakeNewNameTest, SameDateGivesSameName) {
    const QString other = file(QStringLiteral("IMG_0002.JPG"), "2006:05:02 09:00:00");
    const TRenameTemplate t = withTemplate(QStringLiteral("2"));
    EXPECT_EQ(t.MakeNewName(photo, 1), t.MakeNewName(other, 2));
    EXPECT_EQ(t.MakeNewName(other, 2), QStringLiteral("2006-05-02.JPG"));
}

TEST_F(MakeNewNameTest, DateFormatSeparatorsKeptDateDelimiterIgnored) {
    Settings().defaultDateFormatFile = QStringLiteral("d-MMM-yyyy");
    Settings().defaultDateDelimiter = QLatin1Char('#');
    EXPECT_EQ(withTemplate(QStringLiteral("2")).MakeNewName(photo, 1),
              QStringLiteral("2-May-2006.JPG"));
}

TEST_F(MakeNewNameTest, EmptyDateFormatFollowsSystemShortDateWithTime) {
    Settings().defaultDateFormatFile.clear();
    const QString name = withTemplate(QStringLiteral("2")).MakeNewName(photo, 1);
    // en_US: the short date, then the long time since the time of day is not zero.
    EXPECT_TRUE(name.startsWith(FormatDateTimeText(
        SystemShortDateFormat(),
        DateTimeToValue(QDateTime(QDate(2006, 5, 2), QTime(0, 0), QTimeZone::utc())))))
        << name.toStdString();
    EXPECT_TRUE(name.contains(QLatin1Char(':'))) << name.toStdString();
}

TEST_F(MakeNewNameTest, ExtensionKeepsItsCaseAndNameWithoutExtension) {
    const QString noExt = file(QStringLiteral("README"), "2006:05:02 14:05:09");
    EXPECT_EQ(withTemplate(QStringLiteral("54")).MakeNewName(noExt, 2), QStringLiteral("README2"));
    const QString twoDots = file(QStringLiteral("a.b.JpG"), "2006:05:02 14:05:09");
    EXPECT_EQ(withTemplate(QStringLiteral("5")).MakeNewName(twoDots, 1), QStringLiteral("a.b.JpG"));
}

} // namespace
