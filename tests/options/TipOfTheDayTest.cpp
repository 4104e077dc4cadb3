#include "options/DataFolders.h"
#include "options/TfrmTip.h"
#include "platform/Messages.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(text);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A settings folder and a language folder of each test's own.
class TipOfTheDay : public ::testing::Test {
protected:
    QTemporaryDir config;
    QTemporaryDir language;
    QByteArray savedConfig = qgetenv("CAPTIOMARK_CONFIG_DIR");

    void SetUp() override {
        ASSERT_TRUE(config.isValid() && language.isValid());
        qputenv("CAPTIOMARK_CONFIG_DIR", config.path().toLocal8Bit());
        // Keys out of order: the tips come in file order, not key order.
        writeFile(language.filePath(QStringLiteral("English.lng")),
                  "; comment\n[Tip]\n1=Did you know...\n2=Show tips\n3=Next\n4=Close it\n\n"
                  "[Tips]\n3=Third key first\n1=Second = with an equals sign\n2=Last tip\n"
                  "[Other]\n9=not a tip\n");
    }
    void TearDown() override { qputenv("CAPTIOMARK_CONFIG_DIR", savedConfig); }

    QString ini() const { return config.filePath(QStringLiteral("Captiomark.ini")); }
    void writeIni(const QByteArray& preferences) {
        writeFile(ini(), "[Preferences]\n" + preferences);
    }
    // One showing: open and close, the tip shown in between.
    QString showOnce() {
        TfrmTip tip(nullptr, language.path());
        const QString shown = tip.memTip->toPlainText();
        tip.btnClose->click();
        return shown;
    }
};

TEST_F(TipOfTheDay, ReadsTipsInFileOrderAndCaptionsFromTheTipSection) {
    TfrmTip tip(nullptr, language.path());
    EXPECT_EQ(tip.Tips(), QStringList({QStringLiteral("Third key first"),
                                       QStringLiteral("Second = with an equals sign"),
                                       QStringLiteral("Last tip")}));
    EXPECT_EQ(tip.windowTitle(), QStringLiteral("Tip of the Day"));
    EXPECT_EQ(tip.lblDid->text(), QStringLiteral(" Did you know..."));
    EXPECT_EQ(tip.chbShowTip->text(), QStringLiteral("Show tips"));
    EXPECT_EQ(tip.btnNext->text(), QStringLiteral("Next"));
    EXPECT_EQ(tip.btnClose->text(), QStringLiteral("Close it"));
    EXPECT_TRUE(tip.chbShowTip->isChecked()) << "ShowTip defaults to true";
}

TEST_F(TipOfTheDay, EachShowingStartsOneFurtherAndWraps) {
    EXPECT_EQ(showOnce(), QStringLiteral("Third key first")) << "no stored index: the first tip";
    EXPECT_EQ(showOnce(), QStringLiteral("Second = with an equals sign"));
    EXPECT_EQ(showOnce(), QStringLiteral("Last tip"));
    EXPECT_EQ(showOnce(), QStringLiteral("Third key first")) << "after the last tip, the first";
}

TEST_F(TipOfTheDay, NextTipWrapsAndClosingStoresTheLastShown) {
    {
        TfrmTip tip(nullptr, language.path());
        tip.show();
        EXPECT_EQ(tip.Index(), 0);
        tip.btnNext->click();
        tip.btnNext->click();
        EXPECT_EQ(tip.memTip->toPlainText(), QStringLiteral("Last tip"));
        tip.btnNext->click();
        EXPECT_EQ(tip.Index(), 0);
        EXPECT_EQ(tip.memTip->toPlainText(), QStringLiteral("Third key first"));
        tip.btnNext->click();
        tip.close();
    }
    EXPECT_TRUE(readFile(ini()).contains("TipIndex=1")) << readFile(ini()).toStdString();
    EXPECT_EQ(showOnce(), QStringLiteral("Last tip"));
}

TEST_F(TipOfTheDay, StoredIndexesOutsideTheListStartAtTheFirstTip) {
    writeIni("TipIndex=57\n");
    EXPECT_EQ(showOnce(), QStringLiteral("Third key first"));
    writeIni("TipIndex=-9\n");
    EXPECT_EQ(showOnce(), QStringLiteral("Third key first"));
}

TEST_F(TipOfTheDay, ShowTipIsKeptInTheIniOfTheSettingsFolder) {
    EXPECT_TRUE(ShowTipAtStartup()) << "no ini yet";
    EXPECT_EQ(TipIniPath(), config.filePath(QStringLiteral("Captiomark.ini")));
    {
        TfrmTip tip(nullptr, language.path());
        tip.chbShowTip->setChecked(false);
        tip.reject(); // Escape or the window's close button
    }
    const QByteArray text = readFile(ini());
    EXPECT_TRUE(text.contains("[Preferences]")) << text.toStdString();
    EXPECT_TRUE(text.contains("ShowTip=false")) << text.toStdString();
    EXPECT_TRUE(text.contains("TipIndex=0")) << text.toStdString();
    EXPECT_FALSE(ShowTipAtStartup());
    {
        TfrmTip tip(nullptr, language.path());
        EXPECT_FALSE(tip.chbShowTip->isChecked());
        tip.chbShowTip->setChecked(true);
        tip.btnClose->click();
    }
    EXPECT_TRUE(ShowTipAtStartup());
}

TEST_F(TipOfTheDay, TheLanguageValueNamesTheFile) {
    writeFile(language.filePath(QStringLiteral("Deutsch.lng")),
              "[Tips]\nA=Erster Tipp\nB\n[Tip]\n1=Wussten Sie schon...\n2=Tipps beim Start\n");
    writeIni("Language=Deutsch.lng\n");
    TfrmTip tip(nullptr, language.path());
    EXPECT_EQ(tip.LanguageFile(), language.filePath(QStringLiteral("Deutsch.lng")));
    EXPECT_EQ(tip.Tips(), QStringList({QStringLiteral("Erster Tipp"), QStringLiteral("B")}))
        << "a key without a value stands for itself";
    EXPECT_EQ(tip.lblDid->text(), QStringLiteral(" Wussten Sie schon..."));
    EXPECT_EQ(tip.btnNext->text(), QStringLiteral("3")) << "a missing caption shows its key";
    EXPECT_EQ(tip.btnClose->text(), QStringLiteral("4"));
}

TEST_F(TipOfTheDay, AnEmptyTipsSectionLeavesTheTextEmpty) {
    writeFile(language.filePath(QStringLiteral("English.lng")), "[Tips]\n[Tip]\n3=Next\n");
    TfrmTip tip(nullptr, language.path());
    EXPECT_TRUE(tip.Tips().isEmpty());
    EXPECT_EQ(tip.memTip->toPlainText(), QString());
    tip.btnNext->click();
    EXPECT_EQ(tip.memTip->toPlainText(), QString());
    EXPECT_EQ(tip.Index(), 0);
}

TEST_F(TipOfTheDay, AMissingLanguageFileIsNamedInTheTipText) {
    writeIni("Language=Klingon.lng\nShowTip=false\n");
    TfrmTip tip(nullptr, language.path());
    const QString text = tip.memTip->toPlainText();
    EXPECT_TRUE(text.contains(language.filePath(QStringLiteral("Klingon.lng"))))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("No such file or directory"))) << text.toStdString();
    EXPECT_FALSE(tip.btnNext->isEnabled());
    EXPECT_EQ(tip.btnClose->text(), QStringLiteral("Close"));
    EXPECT_FALSE(tip.chbShowTip->isChecked()) << "the preferences are still read";
    tip.chbShowTip->setChecked(true);
    tip.btnClose->click();
    EXPECT_TRUE(ShowTipAtStartup()) << "and still written";
}

TEST_F(TipOfTheDay, AnIniThatCannotBeWrittenIsReported) {
    // A settings folder below a plain file cannot be created, not even by root.
    writeFile(config.filePath(QStringLiteral("blocker")), "x");
    qputenv("CAPTIOMARK_CONFIG_DIR", config.filePath(QStringLiteral("blocker/sub")).toLocal8Bit());
    QStringList errors;
    SetMessageHandler([&errors](MessageKind, const QString& t) { errors << t; });
    {
        TfrmTip tip(nullptr, language.path());
        tip.btnClose->click();
    }
    SetMessageHandler({});
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("blocker/sub/Captiomark.ini")))
        << errors[0].toStdString();
}

TEST_F(TipOfTheDay, ASpecialIniIsReportedOnceLeftAloneAndTheDefaultsUsed) {
    for (const SpecialCase& c : SpecialFileCases()) {
        SCOPED_TRACE(c.label);
        QTemporaryDir folder;
        qputenv("CAPTIOMARK_CONFIG_DIR", folder.path().toLocal8Bit());
        QString why;
        ASSERT_TRUE(MakeSpecialFile(c.kind, TipIniPath(), &why)) << why.toStdString();
        const QFileInfo before(TipIniPath());
        QStringList errors;
        SetMessageHandler([&errors](MessageKind, const QString& t) { errors << t; });
        bool show = false;
        QString first, second;
        EXPECT_TRUE(ReturnsWithin(5000,
                                  [&] {
                                      show = ShowTipAtStartup();
                                      first = showOnce();
                                      second = showOnce();
                                  },
                                  {TipIniPath()}));
        SetMessageHandler({});
        EXPECT_TRUE(show) << "tips are shown by default";
        EXPECT_EQ(first, QStringLiteral("Third key first"));
        EXPECT_EQ(second, QStringLiteral("Third key first")) << "the index was not stored";
        ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
        EXPECT_TRUE(errors[0].startsWith("Cannot read \"" + TipIniPath() + "\": It is "))
            << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains(QLatin1String(c.reasonWord))) << errors[0].toStdString();
        const QFileInfo after(TipIniPath());
        EXPECT_EQ(after.isSymLink(), before.isSymLink());
        EXPECT_EQ(after.isFile(), before.isFile());
        EXPECT_EQ(after.size(), before.size());
    }
}

TEST_F(TipOfTheDay, TheLanguageIsAFileNameInTheLanguageFolderOnly) {
    // The default file's tips show whatever else the value names.
    const char* const refused[] = {"../../../../../../../../../dev/zero", "/etc/passwd", "..",
                                   "sub/English.lng", ".hidden.lng"};
    QDir(language.path()).mkdir(QStringLiteral("sub"));
    writeFile(language.filePath(QStringLiteral("sub/English.lng")), "[Tips]\n1=From below\n");
    for (const char* value : refused) {
        SCOPED_TRACE(value);
        EXPECT_FALSE(IsLanguageFileName(QString::fromLatin1(value)));
        writeIni(QByteArray("Language=") + value + "\n");
        QStringList errors;
        SetMessageHandler([&errors](MessageKind, const QString& t) { errors << t; });
        QString shown, file;
        EXPECT_TRUE(ReturnsWithin(5000,
                                  [&] {
                                      TfrmTip tip(nullptr, language.path());
                                      shown = tip.memTip->toPlainText();
                                      file = tip.LanguageFile();
                                  },
                                  {}));
        SetMessageHandler({});
        EXPECT_EQ(file, language.filePath(QStringLiteral("English.lng")));
        EXPECT_EQ(shown, QStringLiteral("Third key first"));
        ASSERT_EQ(errors.size(), 1);
        EXPECT_EQ(errors[0], QStringLiteral("The language \"%1\" in \"%2\" is not the name of a "
                                            "file in the Language folder; \"English.lng\" is used.")
                                 .arg(QString::fromLatin1(value), TipIniPath()));
    }
    EXPECT_FALSE(IsLanguageFileName(QStringLiteral("sub\\English.lng")));
    EXPECT_FALSE(IsLanguageFileName(QString()));
    EXPECT_FALSE(IsLanguageFileName(QStringLiteral("a\nb")));
    for (const char* value : {"English.lng", "Deutsch.lng", "Français.lng", "my language"})
        EXPECT_TRUE(IsLanguageFileName(QString::fromUtf8(value))) << value;
}

TEST_F(TipOfTheDay, ASpecialLanguageFileIsNamedInTheTipText) {
    for (const SpecialCase& c : SpecialFileCases()) {
        SCOPED_TRACE(c.label);
        const QString name = QString::fromLatin1(c.label).replace(' ', '_') + ".lng";
        const QString path = language.filePath(name);
        QString why;
        ASSERT_TRUE(MakeSpecialFile(c.kind, path, &why)) << why.toStdString();
        writeIni("Language=" + name.toUtf8() + "\n");
        QString text;
        EXPECT_TRUE(ReturnsWithin(5000,
                                  [&] {
                                      TfrmTip tip(nullptr, language.path());
                                      text = tip.memTip->toPlainText();
                                  },
                                  {path}));
        EXPECT_TRUE(text.startsWith("Can't read \"" + path + "\": It is")) << text.toStdString();
        EXPECT_TRUE(text.contains(QLatin1String(c.reasonWord))) << text.toStdString();
    }
}

TEST(ShippedTips, TheEnglishFileHasTipsAndEveryCaption) {
    const QString folder = FindDataFolder(QStringLiteral("Language"));
    ASSERT_FALSE(folder.isEmpty());
    const QString file = folder + QStringLiteral("/English.lng");
    QList<QPair<QString, QString>> tips, captions;
    QString error;
    ASSERT_TRUE(ReadIniSection(file, QStringLiteral("Tips"), &tips, &error)) << error.toStdString();
    EXPECT_GE(tips.size(), 15);
    for (const auto& [key, value] : tips) {
        EXPECT_GT(value.size(), 30) << key.toStdString();
        EXPECT_NE(value, key);
    }
    ASSERT_TRUE(ReadIniSection(file, QStringLiteral("tip"), &captions)) << "sections ignore case";
    QStringList keys;
    for (const auto& entry : captions)
        keys << entry.first;
    EXPECT_EQ(keys, QStringList({"1", "2", "3", "4"}));
}

TEST(DataFolders, BesideTheProgramThenInstalledThenTheSourceTree) {
    QTemporaryDir root;
    const QString bin = root.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(bin));
    const QStringList candidates = DataFolderCandidates(QStringLiteral("Language"), bin);
    ASSERT_GE(candidates.size(), 3);
    EXPECT_EQ(candidates[0], bin + QStringLiteral("/Language"));
    EXPECT_EQ(candidates[1], root.filePath(QStringLiteral("share/captiomark/Language")));
    EXPECT_EQ(candidates.last(),
              qEnvironmentVariable("CAPTIOMARK_SOURCE_DIR") + QStringLiteral("/data/Language"));
    EXPECT_EQ(DataFolderCandidates(QStringLiteral("guide"), bin).last(),
              qEnvironmentVariable("CAPTIOMARK_SOURCE_DIR") + QStringLiteral("/docs/guide"));

    // Nothing beside the program: found elsewhere (installed or the source tree).
    const QString fallback = FindDataFolder(QStringLiteral("Language"), bin);
    EXPECT_TRUE(fallback == candidates[2] || fallback == candidates.last())
        << fallback.toStdString();

    ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("share/captiomark/Language"))));
    EXPECT_EQ(FindDataFolder(QStringLiteral("Language"), bin), candidates[1]);
    ASSERT_TRUE(QDir().mkpath(bin + QStringLiteral("/Language")));
    EXPECT_EQ(FindDataFolder(QStringLiteral("Language"), bin), candidates[0]);

    // A plain file of that name is not a folder.
    QTemporaryDir other;
    writeFile(other.filePath(QStringLiteral("Language")), "x");
    EXPECT_NE(FindDataFolder(QStringLiteral("Language"), other.path()),
              other.filePath(QStringLiteral("Language")));
}

} // namespace
