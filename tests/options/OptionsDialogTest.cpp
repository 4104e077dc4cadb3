#include "options/TfrmOptions.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "platform/Messages.h"
#include "platform/SettingsStore.h"
#include "platform/TFont.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct MessageLog {
    QList<QPair<MessageKind, QString>> entries;
    MessageLog() {
        SetMessageHandler([this](MessageKind k, const QString& t) { entries.append({k, t}); });
    }
    ~MessageLog() { SetMessageHandler({}); }
};

// Each test gets its own settings folder, fresh in-memory settings and a pinned locale whose
// short date is dd.MM.yy and long time HH:mm:ss.
class OptionsDialog : public ::testing::Test {
protected:
    QTemporaryDir config;
    QByteArray savedConfig = qgetenv("CAPTIOMARK_CONFIG_DIR");

    void SetUp() override {
        ASSERT_TRUE(config.isValid());
        qputenv("CAPTIOMARK_CONFIG_DIR", config.path().toLocal8Bit());
        Settings() = TSettings{};
        SetSystemLocaleForTesting(QLocale(QLocale::German, QLocale::Germany));
    }
    void TearDown() override {
        ResetSystemLocaleForTesting();
        Settings() = TSettings{};
        qputenv("CAPTIOMARK_CONFIG_DIR", savedConfig);
    }

    QString storePath() const { return config.filePath(QStringLiteral("Captiomark.conf")); }
    QString stored(const QString& name) const {
        SettingsStore store(SettingsKey);
        EXPECT_TRUE(store.Open());
        return store.Value(name);
    }
    void store(const QString& name, const QString& value) {
        SettingsStore s(SettingsKey);
        ASSERT_TRUE(s.OpenOrCreate());
        ASSERT_TRUE(s.SetValue(name, value));
    }
    static void choose(QComboBox* box, int index) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
};

TEST_F(OptionsDialog, EveryControlWritesItsSetting) {
    TfrmOptions dlg;
    dlg.show();
    dlg.trbarQuality->setValue(42);
    dlg.ChooseFont = [](TFont& font) {
        font.setName(QStringLiteral("DejaVu Serif"));
        font.setSize(20);
        font.setStyle(Tk::TFontStyles(Tk::fsItalic) | Tk::fsBold | Tk::fsStrikeOut);
        return true;
    };
    dlg.BitBtn1->click();
    dlg.ChooseColor = [](TColor& color) {
        color = 0x00336699; // red 0x99, green 0x66, blue 0x33
        return true;
    };
    dlg.btnFontColor->click();
    dlg.cbAutoFontSize->click();
    dlg.dtpickDate->setDate(QDate(2006, 5, 2));
    dlg.dtpickTime->setTime(QTime(14, 5, 9));
    choose(dlg.cbDateFormat, 13);
    choose(dlg.cbTimeFormat, 3);
    choose(dlg.cbDateFormatFile, 6);
    choose(dlg.cbTimeFormatFile, 2);
    dlg.edtDateDelimiter->selectAll();
    QTest::keyClicks(dlg.edtDateDelimiter, QStringLiteral("_"));
    dlg.edtTimeDelimiter->selectAll();
    QTest::keyClicks(dlg.edtTimeDelimiter, QStringLiteral("~"));

    EXPECT_EQ(dlg.lblFontName->text(), QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(dlg.lblFontSize->text(), QStringLiteral("20"));
    EXPECT_EQ(dlg.lblFontStyle->text(), QStringLiteral("fsBoldfsItalicfsStrikeOut"));
    EXPECT_EQ(dlg.shpFontColor->palette().color(QPalette::Window), QColor(0x99, 0x66, 0x33));

    dlg.btnOk->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());

    const QList<QPair<QString, QString>> expected = {
        {"AutoFontSize", "0"},
        {"defaultCompressionQuality", "42"},
        {"defaultDate", "02.05.06"},
        {"defaultDateFormat", "yyyy-MM-dd"},
        {"defaultTime", "14:05:09"},
        {"defaultTimeFormat", "3"},
        {"defaultDateFormatFile", "d-MMM-yyyy"},
        {"defaultTimeFormatFile", "2"},
        {"defaultDateDelimiter", "_"},
        {"defaultTimeDelimiter", "~"},
        {"defaultFontName", "DejaVu Serif"},
        {"defaultFontSize", "20"},
        {"defaultFontColor", QString::number(0x336699)},
        {"defaultFontStyle", "fsBoldfsItalicfsStrikeOut"},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(stored(name), value) << name.toStdString();

    // The in-memory values the rest of the program reads follow, and a reload gives them back.
    Settings() = TSettings{};
    LoadSettings();
    EXPECT_FALSE(Settings().AutoFontSize);
    EXPECT_EQ(Settings().defaultCompressionQuality, 42);
    EXPECT_EQ(Settings().defaultDateFormatFile, QStringLiteral("d-MMM-yyyy"));
    EXPECT_EQ(Settings().defaultTimeDelimiter, QLatin1Char('~'));
    EXPECT_EQ(DefaultFont().Name(), QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(DefaultFont().Style(), Tk::TFontStyles(Tk::fsBold) | Tk::fsItalic | Tk::fsStrikeOut);
    EXPECT_EQ(DefaultFont().Color(), 0x336699);
}

TEST_F(OptionsDialog, EveryBindingNamesAControlOfTheDialogAndIsWritten) {
    TfrmOptions dlg;
    QStringList settings;
    for (const OptionBinding& b : OptionBindings) {
        EXPECT_NE(dlg.findChild<QWidget*>(QString::fromLatin1(b.control)), nullptr) << b.control;
        settings << QString::fromLatin1(b.setting);
    }
    settings.removeDuplicates();
    EXPECT_EQ(settings.size(), 14);
    dlg.btnOk->click();
    SettingsStore store(SettingsKey);
    ASSERT_TRUE(store.Open());
    for (const QString& name : settings) {
        bool found = false;
        store.Value(name, &found);
        EXPECT_TRUE(found) << name.toStdString();
    }
}

TEST_F(OptionsDialog, CancelWritesNothingButKeepsTheInMemoryChanges) {
    TfrmOptions dlg;
    dlg.show();
    QFile file(storePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "opening writes the missing defaults";
    const QByteArray before = file.readAll();
    file.close();

    dlg.trbarQuality->setValue(10);
    choose(dlg.cbDateFormatFile, 13);
    dlg.ChooseFont = [](TFont& font) {
        font.setName(QStringLiteral("Courier"));
        return true;
    };
    dlg.BitBtn1->click();
    dlg.Button2->click();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);

    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(Settings().defaultDateFormatFile, QStringLiteral("yyyy-MM-dd"));
    EXPECT_EQ(DefaultFont().Name(), QStringLiteral("Courier"));

    // The next opening reloads the store.
    TfrmOptions again;
    EXPECT_EQ(again.trbarQuality->value(), 95);
    EXPECT_EQ(again.lblFontName->text(), QStringLiteral("Arial"));
}

TEST_F(OptionsDialog, AFontDialogCancelledChangesNothing) {
    TfrmOptions dlg;
    dlg.ChooseFont = [](TFont& font) {
        font.setName(QStringLiteral("Courier"));
        return false;
    };
    dlg.BitBtn1->click();
    dlg.ChooseColor = [](TColor& c) {
        c = 0xFF;
        return false;
    };
    dlg.btnFontColor->click();
    EXPECT_EQ(dlg.lblFontName->text(), QStringLiteral("Arial"));
    EXPECT_EQ(DefaultFont().Name(), QStringLiteral("Arial"));
    EXPECT_EQ(DefaultFont().Color(), clBlack);
}

TEST_F(OptionsDialog, OpeningShowsTheStoredValues) {
    store(QStringLiteral("defaultCompressionQuality"), QStringLiteral("73"));
    store(QStringLiteral("defaultFontStyle"), QStringLiteral("fsItalicfsBold"));
    store(QStringLiteral("defaultFontSize"), QStringLiteral("12"));
    store(QStringLiteral("AutoFontSize"), QStringLiteral("0"));
    store(QStringLiteral("defaultDate"), QStringLiteral("24.12.2010"));
    store(QStringLiteral("defaultTime"), QStringLiteral("07:08:09"));
    TfrmOptions dlg;
    EXPECT_EQ(dlg.trbarQuality->value(), 73);
    EXPECT_EQ(dlg.trbarQuality->minimum(), 1);
    EXPECT_EQ(dlg.trbarQuality->maximum(), 100);
    EXPECT_EQ(dlg.trbarQuality->pageStep(), 10);
    EXPECT_EQ(dlg.lblFontStyle->text(), QStringLiteral("fsBoldfsItalic"));
    EXPECT_EQ(dlg.lblFontSize->text(), QStringLiteral("12"));
    EXPECT_FALSE(dlg.cbAutoFontSize->isChecked());
    EXPECT_EQ(dlg.dtpickDate->date(), QDate(2010, 12, 24));
    EXPECT_EQ(dlg.dtpickTime->time(), QTime(7, 8, 9));
    EXPECT_EQ(dlg.edtDateDelimiter->text(), QStringLiteral("."));
    EXPECT_EQ(dlg.edtTimeDelimiter->text(), QStringLiteral("-"));
    ASSERT_EQ(dlg.cbDateFormat->count(), 14);
    EXPECT_EQ(dlg.cbDateFormat->itemText(13), QStringLiteral("2010-12-24"));
    EXPECT_EQ(dlg.cbDateFormat->itemText(12), QStringLiteral("Dezember 24, 2010"));
    ASSERT_EQ(dlg.cbTimeFormat->count(), 6);
    EXPECT_EQ(dlg.cbTimeFormat->itemText(3), QStringLiteral("7:08:09"));
    ASSERT_EQ(dlg.cbTimeFormatFile->count(), 6);
    EXPECT_EQ(dlg.cbTimeFormatFile->itemText(3), QStringLiteral("7-08-09"))
        << "':' is replaced by the time delimiter";
    EXPECT_EQ(dlg.cbTimeFormatFile->itemText(5), QStringLiteral("07-08-09"));
}

TEST_F(OptionsDialog, StoredFormatsSelectTheirEntries) {
    {
        // Nothing stored: the first display entries, and the file-name formats a first start
        // writes (yyyy-MM-dd and hh:mm:ss).
        TfrmOptions dlg;
        EXPECT_EQ(dlg.cbDateFormat->currentIndex(), 0);
        EXPECT_EQ(dlg.cbTimeFormat->currentIndex(), 0);
        EXPECT_EQ(dlg.cbDateFormatFile->currentIndex(), 13);
        EXPECT_EQ(dlg.cbTimeFormatFile->currentIndex(), 5);
        EXPECT_EQ(dlg.dtpickTime->displayFormat(), QStringLiteral("h:mm AP"));
        EXPECT_EQ(dlg.dtpickDate->displayFormat(),
                  QLocale(QLocale::German).dateFormat(QLocale::ShortFormat));
    }
    store(QStringLiteral("defaultDateFormat"), QStringLiteral("yyyy-MM-dd"));
    store(QStringLiteral("defaultTimeFormat"), QStringLiteral("3"));
    store(QStringLiteral("defaultDateFormatFile"), QStringLiteral("MMM-dd"));
    store(QStringLiteral("defaultTimeFormatFile"), QStringLiteral("4"));
    {
        TfrmOptions dlg;
        EXPECT_EQ(dlg.cbDateFormat->currentIndex(), 13);
        EXPECT_EQ(dlg.dtpickDate->displayFormat(), QStringLiteral("yyyy-MM-dd"));
        EXPECT_EQ(dlg.cbTimeFormat->currentIndex(), 3);
        EXPECT_EQ(dlg.dtpickTime->displayFormat(), QStringLiteral("HH:mm:ss"));
        EXPECT_EQ(dlg.cbDateFormatFile->currentIndex(), 10);
        EXPECT_EQ(dlg.cbTimeFormatFile->currentIndex(), 4);
    }
    // Display values outside the catalogues fall back to the first entries; file-name values
    // outside them show no entry, for the batch cannot name files with them.
    store(QStringLiteral("defaultDateFormat"), QStringLiteral("dd/MM/yyyy"));
    store(QStringLiteral("defaultTimeFormat"), QStringLiteral(""));
    store(QStringLiteral("defaultDateFormatFile"), QStringLiteral("yyyyMMdd"));
    store(QStringLiteral("defaultTimeFormatFile"), QStringLiteral("6"));
    {
        TfrmOptions dlg;
        EXPECT_EQ(dlg.cbDateFormat->currentIndex(), 0);
        EXPECT_EQ(dlg.cbTimeFormat->currentIndex(), 0);
        EXPECT_EQ(dlg.dtpickTime->displayFormat(), QStringLiteral("h:mm AP"));
        EXPECT_EQ(dlg.cbDateFormatFile->currentIndex(), -1);
        EXPECT_EQ(dlg.cbTimeFormatFile->currentIndex(), -1);
        EXPECT_TRUE(dlg.cbTimeFormatFile->currentText().isEmpty());
    }
    store(QStringLiteral("defaultTimeFormatFile"), QStringLiteral(""));
    {
        TfrmOptions dlg;
        EXPECT_EQ(dlg.cbTimeFormatFile->currentIndex(), -1) << "no time format chosen";
    }
}

TEST_F(OptionsDialog, ChangingAFormatChangesTheSettingAtOnce) {
    TfrmOptions dlg;
    choose(dlg.cbDateFormat, 6);
    EXPECT_EQ(Settings().defaultDateFormat, QStringLiteral("d-MMM-yyyy"));
    EXPECT_EQ(dlg.dtpickDate->displayFormat(), QStringLiteral("d-MMM-yyyy"));
    choose(dlg.cbTimeFormat, 1);
    EXPECT_EQ(Settings().defaultTimeFormat, QStringLiteral("1"));
    EXPECT_EQ(dlg.dtpickTime->displayFormat(), QStringLiteral("h:mm:ss AP"));
    choose(dlg.cbDateFormatFile, 0);
    EXPECT_EQ(Settings().defaultDateFormatFile, QString());
    choose(dlg.cbTimeFormatFile, 4);
    EXPECT_EQ(Settings().defaultTimeFormatFile, QStringLiteral("4"));
}

TEST_F(OptionsDialog, ASecondCharacterTypedReplacesTheDelimiter) {
    TfrmOptions dlg;
    dlg.show();
    dlg.edtDateDelimiter->setCursorPosition(1);
    QTest::keyClicks(dlg.edtDateDelimiter, QStringLiteral(","));
    EXPECT_EQ(dlg.edtDateDelimiter->text(), QStringLiteral(","));
    EXPECT_EQ(Settings().defaultDateDelimiter, QLatin1Char(','));

    dlg.edtTimeDelimiter->setCursorPosition(1);
    QTest::keyClicks(dlg.edtTimeDelimiter, QStringLiteral("h"));
    EXPECT_EQ(dlg.edtTimeDelimiter->text(), QStringLiteral("h"));
    EXPECT_EQ(Settings().defaultTimeDelimiter, QLatin1Char('h'));
    EXPECT_EQ(dlg.cbTimeFormatFile->itemText(3), QStringLiteral("12h00h00"))
        << "the file time formats show the new delimiter";
}

TEST_F(OptionsDialog, ForbiddenDelimitersAreRefusedWithAMessage) {
    TfrmOptions dlg;
    dlg.show();
    {
        MessageLog log;
        dlg.edtTimeDelimiter->setCursorPosition(1);
        QTest::keyClicks(dlg.edtTimeDelimiter, QStringLiteral("/"));
        ASSERT_EQ(log.entries.size(), 1);
        EXPECT_EQ(log.entries[0].first, MessageKind::Information);
        EXPECT_EQ(log.entries[0].second, QStringLiteral("You can't use \"/\" as a delimeter."));
        EXPECT_EQ(dlg.edtTimeDelimiter->text(), QStringLiteral("-"));
        EXPECT_EQ(Settings().defaultTimeDelimiter, QLatin1Char('-'));
    }
    const QString forbidden = QStringLiteral("\"*/:<>?\\|");
    for (QChar c : forbidden) {
        MessageLog log;
        dlg.edtDateDelimiter->setCursorPosition(1);
        QTest::keyClicks(dlg.edtDateDelimiter, QString(c));
        EXPECT_EQ(log.entries.size(), 1) << QString(c).toStdString();
        EXPECT_EQ(dlg.edtDateDelimiter->text(), QStringLiteral(".")) << QString(c).toStdString();
        EXPECT_EQ(Settings().defaultDateDelimiter, QLatin1Char('.'));
    }
    // Neighbours of the forbidden characters pass.
    MessageLog log;
    for (QChar c : QStringLiteral("-_;'!#")) {
        dlg.edtDateDelimiter->setCursorPosition(1);
        QTest::keyClicks(dlg.edtDateDelimiter, QString(c));
        EXPECT_EQ(Settings().defaultDateDelimiter, c);
    }
    EXPECT_TRUE(log.entries.isEmpty());
}

TEST_F(OptionsDialog, AStoreThatCannotBeWrittenKeepsTheDialogOpen) {
    // A settings folder below a plain file cannot be created, not even by root.
    QFile blocker(config.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("CAPTIOMARK_CONFIG_DIR", config.filePath(QStringLiteral("blocker/sub")).toLocal8Bit());
    MessageLog log;
    TfrmOptions dlg;
    dlg.show();
    log.entries.clear();
    dlg.btnOk->click();
    ASSERT_EQ(log.entries.size(), 1);
    EXPECT_EQ(log.entries[0].first, MessageKind::Error);
    EXPECT_TRUE(log.entries[0].second.startsWith(QStringLiteral("Can't write to registry.")))
        << log.entries[0].second.toStdString();
    EXPECT_TRUE(log.entries[0].second.contains(QStringLiteral("blocker"))) << "names the file";
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.result(), QDialog::Accepted);
}

TEST(FontStyleText, ListsTheStylesInFixedOrder) {
    EXPECT_EQ(FontStyleText({}), QString());
    EXPECT_EQ(FontStyleText(Tk::TFontStyles(Tk::fsStrikeOut) | Tk::fsBold),
              QStringLiteral("fsBoldfsStrikeOut"));
    EXPECT_EQ(FontStyleText(Tk::TFontStyles(Tk::fsUnderline) | Tk::fsItalic | Tk::fsBold |
                            Tk::fsStrikeOut),
              QStringLiteral("fsBoldfsItalicfsUnderlinefsStrikeOut"));
}

} // namespace
