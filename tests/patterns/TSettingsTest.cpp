#include "patterns/settings/TSettings.h"
#include "patterns/settings/SettingsTable.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/SettingsStore.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
using Pairs = QList<QPair<QString, QString>>;

struct Shown {
    MessageKind kind;
    QString text;
    bool operator==(const Shown& o) const { return kind == o.kind && text == o.text; }
};

// A fresh settings folder, fresh in-memory settings and captured message boxes for each test.
class TSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_saved = qgetenv("CAPTIOMARK_CONFIG_DIR");
        qputenv("CAPTIOMARK_CONFIG_DIR", m_dir.path().toLocal8Bit());
        Settings() = TSettings();
        SetMessageHandler([this](MessageKind k, const QString& t) { m_shown.append({k, t}); });
    }
    void TearDown() override {
        SetMessageHandler(nullptr);
        Settings() = TSettings();
        qputenv("CAPTIOMARK_CONFIG_DIR", m_saved);
    }

    static Pairs stored() {
        SettingsStore store(SettingsKey);
        return store.OpenOrCreate() ? store.Values() : Pairs();
    }
    static QString storedValue(const QString& name, bool* found = nullptr) {
        SettingsStore store(SettingsKey);
        store.OpenOrCreate();
        return store.Value(name, found);
    }
    static void store(const QString& name, const QString& value) {
        SettingsStore s(SettingsKey);
        ASSERT_TRUE(s.OpenOrCreate());
        ASSERT_TRUE(s.SetValue(name, value));
    }

    QTemporaryDir m_dir;
    QByteArray m_saved;
    QList<Shown> m_shown;
};

const Pairs FirstStartValues{
    {"AutoFontSize", "1"},
    {"defaultCompressionQuality", "95"},
    {"defaultRenameTmp", "23"},
    {"defaultDate", "01.01.1980"},
    {"defaultTime", "12:00:00"},
    {"defaultDateFormatFile", "yyyy-MM-dd"}, // names that sort and differ by the minute
    {"defaultTimeFormatFile", "5"},          // hh:mm:ss
    {"defaultDateDelimiter", "."},
    {"defaultTimeDelimiter", "-"},
    {"defaultFontName", "Arial"},
    {"defaultFontSize", "36"},
    {"defaultFontColor", "0"},
    {"defaultFontStyle", ""},
    {"AutoRotate", "1"},
    {"KeepPhotoQuality", "0"},
    {"BatchJobs", "0"},
    {"DateFallback", "default"},
};
} // namespace

// ---- LoadSettings --------------------------------------------------------------------------

TEST_F(TSettingsTest, FirstStartWritesTheListedDefaultsOnly) {
    LoadSettings();
    EXPECT_EQ(stored(), FirstStartValues); // in the table's order, no display formats
    EXPECT_TRUE(m_shown.isEmpty());

    const TSettings& s = Settings();
    EXPECT_TRUE(s.AutoFontSize);
    EXPECT_EQ(s.defaultCompressionQuality, 95);
    EXPECT_EQ(s.defaultRenameTmp, "23");
    EXPECT_EQ(s.defaultDate, "01.01.1980");
    EXPECT_EQ(s.defaultTime, "12:00:00");
    EXPECT_EQ(s.defaultDateDelimiter, QChar('.'));
    EXPECT_EQ(s.defaultTimeDelimiter, QChar('-'));
    EXPECT_TRUE(s.defaultDateFormat.isEmpty());
    EXPECT_EQ(s.defaultDateFormatFile, "yyyy-MM-dd");
    EXPECT_EQ(s.defaultTimeFormatFile, "5");
    ASSERT_TRUE(s.defaultFont);
    EXPECT_EQ(s.defaultFont->Name(), "Arial");
    EXPECT_EQ(s.defaultFont->Size(), 36);
    EXPECT_EQ(s.defaultFont->Color(), clBlack);
    EXPECT_EQ(s.defaultFont->Style(), Tk::TFontStyles());
    EXPECT_EQ(&DefaultFont(), s.defaultFont.get());
}

TEST_F(TSettingsTest, AStoredFileNameFormatIsKeptEvenWhenEmpty) {
    // Chosen in Options: the system's date (entry 0, empty) and the first time format.
    store("defaultDateFormatFile", "");
    store("defaultTimeFormatFile", "0");
    LoadSettings();
    EXPECT_TRUE(Settings().defaultDateFormatFile.isEmpty());
    EXPECT_EQ(Settings().defaultTimeFormatFile, "0");
    bool found = false;
    EXPECT_TRUE(storedValue("defaultDateFormatFile", &found).isEmpty());
    EXPECT_TRUE(found) << "not replaced by the default";
    EXPECT_EQ(storedValue("defaultTimeFormatFile"), "0");
}

TEST_F(TSettingsTest, FirstStartWritesTheTablesDefaultsInItsOrder) {
    LoadSettings();
    Pairs expected;
    for (const SettingSpec& spec : kSettings)
        if (spec.defaultText)
            expected.append({QString::fromLatin1(spec.name), QString::fromUtf8(spec.defaultText)});
    EXPECT_EQ(stored(), expected);
}

TEST_F(TSettingsTest, NumbersAreCheckedAgainstTheTablesRanges) {
    for (const SettingSpec& spec : kSettings) {
        if (spec.kind != SettingKind::Number)
            continue;
        const QString name = QString::fromLatin1(spec.name);
        for (const qint64 v : {qint64(spec.minimum) - 1, qint64(spec.maximum) + 1}) {
            if (v == 0) // stands for "missing": the default
                continue;
            store(name, QString::number(v));
            Settings() = TSettings();
            if (v < INT_MIN || v > INT_MAX) { // beyond any int: not a number at all
                EXPECT_THROW(LoadSettings(), EConvertError) << spec.name;
                continue;
            }
            try {
                LoadSettings();
                ADD_FAILURE() << spec.name << ' ' << v << " accepted";
            } catch (const EConvertError& e) {
                EXPECT_EQ(
                    e.message(),
                    QStringLiteral("Setting \"%1\": '%2' is not a whole number from %3 to %4.")
                        .arg(name)
                        .arg(v)
                        .arg(spec.minimum)
                        .arg(spec.maximum));
            }
        }
        for (const int v : {spec.minimum, spec.maximum}) {
            if (v == 0) // stands for "missing"
                continue;
            store(name, QString::number(v));
            EXPECT_NO_THROW(LoadSettings()) << spec.name << ' ' << v;
            EXPECT_EQ(storedValue(name), QString::number(v));
        }
        store(name, QString::fromUtf8(spec.defaultText));
    }
    EXPECT_EQ(Settings().defaultCompressionQuality, 95);
}

TEST_F(TSettingsTest, SecondLoadChangesNothingOnDisk) {
    LoadSettings();
    const Pairs first = stored();
    LoadSettings();
    EXPECT_EQ(stored(), first);
}

TEST_F(TSettingsTest, StoredValuesAreReadBack) {
    store("AutoFontSize", "0");
    store("defaultCompressionQuality", "80");
    store("defaultRenameTmp", "0123");
    store("defaultDate", "1/2/2003");
    store("defaultDateFormat", "yyyy-MM-dd");
    store("defaultTime", "1:02:03 PM");
    store("defaultDateFormatFile", "M.d");
    store("defaultTimeFormat", "3");
    store("defaultTimeFormatFile", "2");
    store("defaultDateDelimiter", "/x");
    store("defaultTimeDelimiter", "_");
    store("defaultFontName", "Times New Roman");
    store("defaultFontSize", " 12 ");
    store("defaultFontColor", "-16777208");
    store("defaultFontStyle", "fsUnderlinefsStrikeOut");
    store("AutoRotate", "0");
    LoadSettings();
    const TSettings& s = Settings();
    EXPECT_FALSE(s.AutoFontSize);
    EXPECT_EQ(s.defaultCompressionQuality, 80);
    EXPECT_EQ(s.defaultRenameTmp, "0123");
    EXPECT_EQ(s.defaultDate, "1/2/2003");
    EXPECT_EQ(s.defaultDateFormat, "yyyy-MM-dd");
    EXPECT_EQ(s.defaultTime, "1:02:03 PM");
    EXPECT_EQ(s.defaultDateFormatFile, "M.d");
    EXPECT_EQ(s.defaultTimeFormat, "3");
    EXPECT_EQ(s.defaultTimeFormatFile, "2");
    EXPECT_EQ(s.defaultDateDelimiter, QChar('/'));
    EXPECT_EQ(s.defaultTimeDelimiter, QChar('_'));
    EXPECT_EQ(DefaultFont().Name(), "Times New Roman");
    EXPECT_EQ(DefaultFont().Size(), 12);
    EXPECT_EQ(DefaultFont().Color(), clWindowText);
    EXPECT_EQ(DefaultFont().Style(), Tk::fsUnderline | Tk::fsStrikeOut);
    EXPECT_FALSE(s.AutoRotate);
    EXPECT_EQ(stored().size(), 19); // nothing rewritten beside them and the new defaults
}

TEST_F(TSettingsTest, KeepQualityAndBatchJobsReadTheirStoredValues) {
    store("KeepPhotoQuality", "1");
    store("BatchJobs", "3");
    LoadSettings();
    EXPECT_TRUE(Settings().KeepPhotoQuality);
    EXPECT_EQ(Settings().BatchJobs, 3);
    store("KeepPhotoQuality", "yes");
    store("BatchJobs", "0");
    LoadSettings();
    EXPECT_FALSE(Settings().KeepPhotoQuality); // on only for exactly "1"
    EXPECT_EQ(Settings().BatchJobs, 0);         // one per core
    // A bad count is a bad setting, as a bad quality is: the load stops and says so.
    for (const char* bad : {"-2", "65", "two"}) {
        store("BatchJobs", bad);
        try {
            LoadSettings();
            ADD_FAILURE() << bad << " was taken";
        } catch (const EConvertError& e) {
            EXPECT_TRUE(e.message().startsWith(QStringLiteral("Setting \"BatchJobs\": ")))
                << e.message().toStdString();
        }
    }
}

TEST_F(TSettingsTest, AutoRotateIsOnUnlessStoredOtherwise) {
    LoadSettings();
    EXPECT_TRUE(Settings().AutoRotate);
    EXPECT_EQ(storedValue("AutoRotate"), "1");
    const struct {
        const char* text;
        bool on;
    } cases[] = {{"0", false}, {"1", true}, {" 1", false}, {"yes", false}};
    for (const auto& c : cases) {
        store("AutoRotate", c.text);
        LoadSettings();
        EXPECT_EQ(Settings().AutoRotate, c.on) << c.text;
        EXPECT_EQ(storedValue("AutoRotate"), c.text); // a stored value is never rewritten
    }
    store("AutoRotate", "  ");
    Settings().AutoRotate = false;
    LoadSettings();
    EXPECT_TRUE(Settings().AutoRotate);
    EXPECT_EQ(storedValue("AutoRotate"), "1");
}

TEST_F(TSettingsTest, AutoFontSizeIsTrueOnlyForExactlyOne) {
    store("AutoFontSize", " 1");
    LoadSettings();
    EXPECT_FALSE(Settings().AutoFontSize);
    store("AutoFontSize", "   ");
    LoadSettings();
    EXPECT_TRUE(Settings().AutoFontSize);
    EXPECT_EQ(storedValue("AutoFontSize"), "1");
}

TEST_F(TSettingsTest, ZeroQualityIsReplacedBy95AndWrittenBack) {
    store("defaultCompressionQuality", "0");
    LoadSettings();
    EXPECT_EQ(Settings().defaultCompressionQuality, 95);
    EXPECT_EQ(storedValue("defaultCompressionQuality"), "95");
}

TEST_F(TSettingsTest, BlackFontColourIsRewrittenOnEveryLoad) {
    store("defaultFontColor", "0");
    store("marker", "x"); // written after the colour
    LoadSettings();
    // Rewritten in place: its position before "marker" stays.
    const Pairs values = stored();
    const auto pos = [&values](const QString& n) {
        for (qsizetype i = 0; i < values.size(); ++i)
            if (values[i].first == n)
                return i;
        return qsizetype(-1);
    };
    EXPECT_EQ(storedValue("defaultFontColor"), "0");
    EXPECT_LT(pos("defaultFontColor"), pos("marker"));
    EXPECT_EQ(DefaultFont().Color(), clBlack);
}

TEST_F(TSettingsTest, NamesAreCaseSensitive) {
    store("autofontsize", "0");
    store("DEFAULTFONTNAME", "Courier");
    LoadSettings();
    EXPECT_TRUE(Settings().AutoFontSize);
    EXPECT_EQ(DefaultFont().Name(), "Arial");
    EXPECT_EQ(storedValue("autofontsize"), "0");
    EXPECT_EQ(storedValue("AutoFontSize"), "1");
    EXPECT_EQ(storedValue("defaultFontName"), "Arial");
}

TEST_F(TSettingsTest, StyleIsReadBySubstringTests) {
    const struct {
        const char* text;
        Tk::TFontStyles style;
    } cases[] = {
        {"fsBoldfsItalic", Tk::fsBold | Tk::fsItalic},
        {"fsBoldfsItalicfsUnderlinefsStrikeOut",
         Tk::fsBold | Tk::fsItalic | Tk::fsUnderline | Tk::fsStrikeOut},
        {"Bold", Tk::fsBold},
        {"bold italic", Tk::TFontStyles()}, // letter case counts
        {"nonsense", Tk::TFontStyles()},
    };
    for (const auto& c : cases) {
        store("defaultFontStyle", c.text);
        LoadSettings();
        EXPECT_EQ(DefaultFont().Style(), c.style) << c.text;
    }
}

TEST_F(TSettingsTest, MissingDelimitersAreWrittenAndEmptyOnesToo) {
    store("defaultDateDelimiter", "");
    LoadSettings();
    EXPECT_EQ(Settings().defaultDateDelimiter, QChar('.'));
    EXPECT_EQ(storedValue("defaultDateDelimiter"), ".");
    EXPECT_EQ(storedValue("defaultTimeDelimiter"), "-");
}

TEST_F(TSettingsTest, FormatsTheStoreLacksKeepWhatMemoryHeld) {
    Settings().defaultDateFormat = "M.d";
    Settings().defaultTimeFormatFile = "4";
    store("defaultTimeFormatFile", ""); // present and empty: taken as it is
    LoadSettings();
    EXPECT_EQ(Settings().defaultDateFormat, "M.d");
    EXPECT_EQ(Settings().defaultTimeFormatFile, "");
    bool found = true;
    storedValue("defaultDateFormat", &found);
    EXPECT_FALSE(found);
}

TEST_F(TSettingsTest, NonIntegerTextStopsTheLoadWithConversionError) {
    store("defaultRenameTmp", "77");
    store("defaultFontSize", "big");
    try {
        LoadSettings();
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.message(), "Setting \"defaultFontSize\": 'big' is not a valid integer value.");
    }
    const TSettings& s = Settings();
    EXPECT_EQ(s.defaultCompressionQuality, 95); // loaded before the failure
    EXPECT_EQ(s.defaultRenameTmp, "77");
    EXPECT_EQ(s.defaultTimeDelimiter, QChar('-'));
    // The font read so far, the defaults for the rest.
    ASSERT_TRUE(s.defaultFont);
    EXPECT_EQ(DefaultFont().Name(), "Arial");
    EXPECT_EQ(DefaultFont().Size(), 36);
    EXPECT_EQ(DefaultFont().Color(), 0);
    bool found = true;
    storedValue("defaultFontColor", &found);
    EXPECT_FALSE(found); // values after the failure are not written
}

TEST_F(TSettingsTest, BadQualityStopsTheLoadAndLeavesDefaultsInMemory) {
    // Not a number, and numbers outside 1..100 (0 alone means "missing": default 95).
    const std::pair<const char*, const char*> cases[] = {
        {"9O", "'9O' is not a valid integer value."},
        {"abc", "'abc' is not a valid integer value."},
        {"-5", "'-5' is not a whole number from 1 to 100."},
        {"101", "'101' is not a whole number from 1 to 100."},
    };
    for (const auto& [text, reason] : cases) {
        store("defaultCompressionQuality", text);
        store("defaultFontName", "Courier");
        Settings() = TSettings();
        try {
            LoadSettings();
            ADD_FAILURE() << text << ": no conversion error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.message(),
                      QStringLiteral("Setting \"defaultCompressionQuality\": ") + reason);
        }
        // Whoever goes on writes with the default quality, never 0.
        EXPECT_EQ(Settings().defaultCompressionQuality, 95) << text;
        EXPECT_EQ(Settings().defaultDate, "01.01.1980");
        EXPECT_EQ(Settings().defaultTime, "12:00:00");
        EXPECT_EQ(DefaultFont().Name(), "Arial") << "the font name after it was not read";
        EXPECT_TRUE(Settings().AutoFontSize);
        EXPECT_EQ(storedValue("defaultCompressionQuality"), text) << "the bad value stays";
    }
    for (const char* text : {"1", "100"}) {
        store("defaultCompressionQuality", text);
        LoadSettings();
        EXPECT_EQ(Settings().defaultCompressionQuality, QString(text).toInt());
    }
}

TEST_F(TSettingsTest, StartUpShowsABadValueAndGoesOn) {
    store("defaultCompressionQuality", "9O");
    EXPECT_FALSE(LoadSettingsOrReport());
    EXPECT_EQ(m_shown, (QList<Shown>{{MessageKind::Error,
                                      "Setting \"defaultCompressionQuality\": '9O' is not a valid "
                                      "integer value."}}));
    EXPECT_EQ(Settings().defaultCompressionQuality, 95);
    m_shown.clear();
    store("defaultCompressionQuality", "80");
    EXPECT_TRUE(LoadSettingsOrReport());
    EXPECT_TRUE(m_shown.isEmpty());
    EXPECT_EQ(Settings().defaultCompressionQuality, 80);
}

TEST_F(TSettingsTest, NonIntegerColourThrows) {
    store("defaultFontColor", "$FF");
    EXPECT_THROW(LoadSettings(), EConvertError);
}

TEST_F(TSettingsTest, ValuesLongerThan1001CharactersAreNotMatched) {
    store("defaultRenameTmp", QString(1001, '1'));
    store("defaultFontName", QString(1002, 'F'));
    LoadSettings();
    EXPECT_EQ(Settings().defaultRenameTmp, QString(1001, '1'));
    EXPECT_EQ(DefaultFont().Name(), "Arial");
}

TEST_F(TSettingsTest, UnwritableStoreShowsErrorAndUsesDefaults) {
    QFile plain(m_dir.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    qputenv("CAPTIOMARK_CONFIG_DIR", plain.fileName().toLocal8Bit());
    Settings().defaultCompressionQuality = 50;
    Settings().defaultTimeFormat = "2";

    LoadSettings();
    // The fixed sentence, then the file and the system's reason.
    ASSERT_EQ(m_shown.size(), 1);
    EXPECT_EQ(m_shown[0].kind, MessageKind::Error);
    EXPECT_EQ(m_shown[0].text, "Can't write to registry. Cannot create \"" + plain.fileName() +
                                   "/Captiomark.conf\": Not a directory");
    const TSettings& s = Settings();
    EXPECT_EQ(s.defaultCompressionQuality, 95);
    EXPECT_EQ(s.defaultDate, "01.01.1980");
    EXPECT_EQ(s.defaultTime, "12:00:00");
    EXPECT_EQ(s.defaultTimeFormat, "2");
    EXPECT_EQ(DefaultFont().Name(), "Arial");
    EXPECT_EQ(DefaultFont().Size(), 36);
}

// ---- Window bounds -------------------------------------------------------------------------

TEST_F(TSettingsTest, BoundsRoundTripWithExclusiveRightAndBottom) {
    SaveFormBounds("ProjectManagerBounds", QRect(10, 20, 300, 400));
    EXPECT_EQ(storedValue("ProjectManagerBounds"), "10,20,310,420");
    EXPECT_EQ(LoadFormBounds("ProjectManagerBounds"), QRect(10, 20, 300, 400));

    SaveFormBounds("BottomBounds", QRect(-8, -8, 1230, 374));
    EXPECT_EQ(LoadFormBounds("BottomBounds"), QRect(-8, -8, 1230, 374));
    EXPECT_TRUE(m_shown.isEmpty());
}

TEST_F(TSettingsTest, MissingOrZeroBoundsReadAsNothingStored) {
    EXPECT_TRUE(LoadFormBounds("DesignerBounds").isNull());
    store("DesignerBounds", "0,0,0,0");
    const QRect r = LoadFormBounds("DesignerBounds");
    EXPECT_TRUE(r.isNull());
    EXPECT_EQ(r, QRect());
    EXPECT_EQ(r.x() + r.width(), 0);
    EXPECT_TRUE(m_shown.isEmpty());
}

TEST_F(TSettingsTest, WrongBoundsKeepWhatWasConverted) {
    const struct {
        const char* text;
        int left, top, right, bottom;
    } cases[] = {
        {"10,20,30", 10, 20, 0, 0}, // no third comma: Right is empty
        {"10,20,30,40,50", 10, 20, 30, 0}, {"x,20,30,40", 0, 0, 0, 0},
        {"10,,30,40", 10, 0, 0, 0},        {"10", 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        m_shown.clear();
        store("BottomBounds", c.text);
        const QRect r = LoadFormBounds("BottomBounds");
        EXPECT_EQ(m_shown, (QList<Shown>{{MessageKind::Plain, "Wrong Form Bounds data"}}))
            << c.text;
        EXPECT_EQ(r.x(), c.left) << c.text;
        EXPECT_EQ(r.y(), c.top) << c.text;
        EXPECT_EQ(r.x() + r.width(), c.right) << c.text;
        EXPECT_EQ(r.y() + r.height(), c.bottom) << c.text;
    }
}

TEST_F(TSettingsTest, BoundsWithUnwritableStoreShowTheirErrors) {
    QFile plain(m_dir.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    qputenv("CAPTIOMARK_CONFIG_DIR", plain.fileName().toLocal8Bit());

    const QString why =
        " Cannot create \"" + plain.fileName() + "/Captiomark.conf\": Not a directory";
    SaveFormBounds("DesignerBounds", QRect(1, 2, 3, 4));
    EXPECT_EQ(m_shown, (QList<Shown>{{MessageKind::Error, "Can't write to registry." + why}}));
    m_shown.clear();
    EXPECT_TRUE(LoadFormBounds("DesignerBounds").isNull());
    EXPECT_EQ(m_shown, (QList<Shown>{{MessageKind::Error, "Can't write to the registry." + why}}));
}

// ---- A settings file that is not a regular file -----------------------------------------

TEST_F(TSettingsTest, ASpecialSettingsFileIsReportedOnceAndTheDefaultsUsed) {
    for (const SpecialCase& c : SpecialFileCases()) {
        SCOPED_TRACE(c.label);
        QTemporaryDir folder;
        qputenv("CAPTIOMARK_CONFIG_DIR", folder.path().toLocal8Bit());
        const QString file = SettingsStore(SettingsKey).filePath();
        QString why;
        ASSERT_TRUE(MakeSpecialFile(c.kind, file, &why)) << why.toStdString();
        const QFileInfo before(file);
        Settings() = TSettings();
        Settings().defaultCompressionQuality = 40;
        m_shown.clear();

        QRect bounds(1, 1, 1, 1);
        EXPECT_TRUE(ReturnsWithin(5000,
                                  [&] {
                                      LoadSettings();
                                      bounds = LoadFormBounds("DesignerBounds");
                                      SaveFormBounds("DesignerBounds", QRect(10, 20, 300, 400));
                                      LoadSettings();
                                  },
                                  {file}));
        ASSERT_EQ(m_shown.size(), 1) << "once, not at every use";
        EXPECT_EQ(m_shown[0].kind, MessageKind::Error);
        EXPECT_TRUE(m_shown[0].text.startsWith("Cannot read \"" + file + "\": It is "))
            << m_shown[0].text.toStdString();
        EXPECT_TRUE(m_shown[0].text.contains(QLatin1String(c.reasonWord)));
        EXPECT_TRUE(m_shown[0].text.contains("The default settings are used and the file is left "
                                             "as it is"));
        EXPECT_EQ(Settings().defaultCompressionQuality, 95);
        EXPECT_EQ(Settings().defaultDate, "01.01.1980");
        EXPECT_EQ(DefaultFont().Name(), "Arial");
        EXPECT_TRUE(bounds.isNull());
        // Left as it was.
        const QFileInfo after(file);
        EXPECT_EQ(after.isSymLink(), before.isSymLink());
        EXPECT_EQ(after.isFile(), before.isFile());
        EXPECT_EQ(after.isDir(), before.isDir());
        EXPECT_EQ(after.size(), before.size());
    }
}
