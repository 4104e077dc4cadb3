#include "tests/app/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// Runs the built tool with its settings in a private folder.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_config.isValid() && m_files.isValid()); }

    CliRun run(const QStringList& args) { return runCli(args, m_config.path()); }
    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = m_files.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    QTemporaryDir m_config;
    QTemporaryDir m_files;
};

const QString FirstStart = "AutoFontSize=1\n"
                           "defaultCompressionQuality=95\n"
                           "defaultRenameTmp=23\n"
                           "defaultDate=01.01.1980\n"
                           "defaultTime=12:00:00\n"
                           "defaultDateFormatFile=yyyy-MM-dd\n"
                           "defaultTimeFormatFile=5\n"
                           "defaultDateDelimiter=.\n"
                           "defaultTimeDelimiter=-\n"
                           "defaultFontName=Arial\n"
                           "defaultFontSize=36\n"
                           "defaultFontColor=0\n"
                           "defaultFontStyle=\n"
                           "AutoRotate=1\n"
                           "KeepPhotoQuality=0\n"
                           "BatchJobs=0\n"
                           "DateFallback=default\n";
} // namespace

TEST_F(CliTest, SettingsListShowsTheFirstStartDefaultsInOrder) {
    const CliRun r = run({"settings", "list"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, FirstStart);
    EXPECT_TRUE(r.err.isEmpty());
}

TEST_F(CliTest, SettingsSetGetAndListKeepOrderAndCase) {
    EXPECT_EQ(run({"settings", "set", "defaultDateFormat", "yyyy-MM-dd"}).code, 0);
    EXPECT_EQ(run({"settings", "set", "autofontsize", "0"}).code, 0);
    EXPECT_EQ(run({"settings", "set", "defaultFontColor", "-16777208"}).code, 0);
    EXPECT_EQ(run({"settings", "set", "multi=line", "a\nb"}).code, 0);

    CliRun r = run({"settings", "get", "defaultDateFormat"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "yyyy-MM-dd\n");
    EXPECT_EQ(run({"settings", "get", "AutoFontSize"}).out, "1\n"); // not the lower-case one
    EXPECT_EQ(run({"settings", "get", "defaultFontColor"}).out, "-16777208\n");

    r = run({"settings", "list"});
    EXPECT_EQ(r.code, 0);
    QString expected = FirstStart;
    expected.replace("defaultFontColor=0", "defaultFontColor=-16777208");
    expected += "defaultDateFormat=yyyy-MM-dd\nautofontsize=0\nmulti\\=line=a\\nb\n";
    EXPECT_EQ(r.out, expected);
}

TEST_F(CliTest, SettingsGetOfAMissingValueFails) {
    const CliRun r = run({"settings", "get", "NoSuchValue"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains("NoSuchValue"));
}

TEST_F(CliTest, BrokenSettingIsReportedAndCanBeRepaired) {
    ASSERT_EQ(run({"settings", "set", "defaultFontSize", "huge"}).code, 0);
    CliRun r = run({"settings", "set", "defaultFontSize", "20"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.err.contains("'huge' is not a valid integer value")) << r.err.toStdString();
    r = run({"settings", "get", "defaultFontSize"});
    EXPECT_EQ(r.out, "20\n");
    EXPECT_TRUE(r.err.isEmpty());
}

TEST_F(CliTest, UnwritableSettingsFolderFails) {
    const QString plain = file("plain", "x");
    const CliRun r = runCli({"settings", "list"}, plain);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("Can't write to registry.")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(plain + "/Captiomark.conf")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Not a directory")) << r.err.toStdString();
}

TEST_F(CliTest, ReadOnlySettingsFolderStillReads) {
    ASSERT_EQ(run({"settings", "set", "mine", "kept"}).code, 0);
    const QString conf = m_config.filePath("Captiomark.conf");
    const QByteArray before = [&] {
        QFile f(conf);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    ASSERT_FALSE(before.isEmpty());
    // Readable by everyone, writable by its owner (root) only.
    ASSERT_TRUE(QFile::setPermissions(m_config.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ExeOwner | QFile::ReadOther |
                                                           QFile::ExeOther));
    ASSERT_TRUE(
        QFile::setPermissions(conf, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));

    CliRun r = runCliAsNobody({"settings", "list"}, m_config.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, FirstStart + "mine=kept\n");
    EXPECT_TRUE(r.err.isEmpty()) << "nothing needed writing: " << r.err.toStdString();

    r = runCliAsNobody({"settings", "get", "mine"}, m_config.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "kept\n");

    // Writing fails with the fixed sentence, the file and the system's reason.
    r = runCliAsNobody({"settings", "set", "mine", "lost"}, m_config.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("Can't write to registry. ")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(conf)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("not writable") || r.err.contains("Permission denied"))
        << r.err.toStdString();
    QFile f(conf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
}

TEST_F(CliTest, ReadOnlySettingsWithMissingDefaultsReportOnceAndStillList) {
    const QString conf = m_config.filePath("Captiomark.conf");
    {
        QFile f(conf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# Captiomark settings\nmine=kept\n");
    }
    ASSERT_TRUE(QFile::setPermissions(m_config.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ExeOwner | QFile::ReadOther |
                                                           QFile::ExeOther));
    ASSERT_TRUE(
        QFile::setPermissions(conf, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    const CliRun r = runCliAsNobody({"settings", "list"}, m_config.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "mine=kept\n");
    // The defaults could not be stored: said once, with the file and the reason.
    EXPECT_EQ(r.err.count("Can't write to registry."), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(conf)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("not writable") || r.err.contains("Permission denied"))
        << r.err.toStdString();
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    const QList<QStringList> wrong{{},
                                   {"nonsense"},
                                   {"exif"},
                                   {"exif", "a", "b"},
                                   {"date"},
                                   {"settings"},
                                   {"settings", "remove", "x"},
                                   {"settings", "get"},
                                   {"settings", "set", "x"},
                                   {"settings", "list", "extra"}};
    for (const QStringList& args : wrong) {
        const CliRun r = run(args);
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("usage: captiomark-cli")) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST_F(CliTest, HelpForTheProgramAndEachCommand) {
    CliRun r = run({"--help"});
    EXPECT_EQ(r.code, 0);
    for (const char* name : {"exif", "date", "settings"})
        EXPECT_TRUE(r.out.contains(QString("  ") + name)) << name;
    for (const char* name : {"exif", "date", "settings"}) {
        r = run({name, "--help"});
        EXPECT_EQ(r.code, 0) << name;
        EXPECT_TRUE(r.out.startsWith(QString("usage: captiomark-cli ") + name)) << name;
    }
    // After "--" a word is a value, even --help.
    EXPECT_EQ(run({"settings", "set", "x", "--", "--help"}).code, 0);
    EXPECT_EQ(run({"settings", "get", "x"}).out, "--help\n");
}

TEST_F(CliTest, ExifPrintsEntriesWithoutZeroBytes) {
    const QString photo =
        file("p.jpg", exifJpeg({{0x010F, "Cam"}, {0x0132, "2005:06:07 08:09:10"}}));
    const CliRun r = run({"exif", photo});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Make=Cam\nDateTime=2005:06:07 08:09:10\n");
}

TEST_F(CliTest, DatePrintsTheExifDate) {
    const QString photo = file("p.jpg", exifJpeg({{0x0132, "2005:06:07 08:09:10"}}));
    CliRun r = run({"date", photo});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "2005-06-07 08:09:10\n");

    // The moment of taking, not the last change nor a description mentioning a date.
    const QString edited =
        file("e.jpg", exifBlockJpeg({{{0x010E, "updated"}, {0x0132, "2004:01:02 03:04:05"}},
                                     {{0x9003, "2001:02:03 04:05:06"}}}));
    r = run({"date", edited});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "2001-02-03 04:05:06\n");

    // The recorded local time with the camera's offset.
    const QString zoned = file("z.jpg", exifBlockJpeg({{{0x0132, "2026:03:29 18:42:07"}},
                                                       {{0x9003, "2026:03:29 18:42:07"},
                                                        {0x9011, "-03:30"}}}));
    r = run({"date", zoned});
    EXPECT_EQ(r.out, "2026-03-29 18:42:07 -03:30\n");

    const QString noDate = file("n.jpg", exifJpeg({{0x010F, "Cam"}}));
    r = run({"date", noDate});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(noDate)) << r.err.toStdString();
}

TEST_F(CliTest, DateOfCameraFilesAfterAJfifHeader) {
    const QString dir = sharedTestDataDir() + "/exif";
    if (sharedTestDataDir().isEmpty() || !QFile::exists(dir + "/Canon_40D.jpg"))
        GTEST_SKIP() << "camera sample folder (testdata/exif) not present";
    // DateTimeOriginal from reference.tsv; DateTime is the later re-save.
    const CliRun r = run({"date", dir + "/Canon_40D.jpg"});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "2008-05-30 15:56:01\n");
}

TEST_F(CliTest, ReadFailuresExitWithOneAndTheMessage) {
    const QString jfif = file("j.jpg", QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF\0", 11));
    for (const char* command : {"exif", "date"}) {
        const CliRun r = run({command, jfif});
        EXPECT_EQ(r.code, 1) << command;
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains("Application segment 1 (APP1) not found."))
            << r.err.toStdString();
    }
    const QString unset = file("u.jpg", exifJpeg({{0x0132, "0000:00:00 00:00:00"}}));
    EXPECT_EQ(run({"date", unset}).code, 1);
    EXPECT_EQ(run({"date", m_files.filePath("missing.jpg")}).code, 1);
}

TEST_F(CliTest, RunsWithoutADisplayWhateverTheEnvironmentSays) {
    // A display that does not exist, and a platform that does not exist either.
    const QList<QMap<QString, QString>> environments{
        {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":99"}},
        {{"QT_QPA_PLATFORM", "no-such-platform"}, {"DISPLAY", ""}},
    };
    for (const auto& env : environments) {
        const CliRun r = runCliWithEnv({"settings", "list"}, m_config.path(), env);
        EXPECT_EQ(r.code, 0) << env.value("QT_QPA_PLATFORM").toStdString() << r.err.toStdString();
        EXPECT_EQ(r.out, FirstStart);
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
}

TEST_F(CliTest, OnlyDoubleDashWordsAreOptions) {
    // One dash: a value (a negative number), not a short option.
    EXPECT_EQ(run({"settings", "set", "x", "-5"}).code, 0);
    EXPECT_EQ(run({"settings", "get", "x"}).out, "-5\n");
    EXPECT_EQ(run({"settings", "set", "-y", "1"}).code, 0);
    EXPECT_EQ(run({"settings", "get", "-y"}).out, "1\n");

    // Two dashes: an option, which these commands have none of; after "--" a value again.
    for (const QStringList& args :
         {QStringList{"exif", "--all"}, QStringList{"settings", "set", "x", "--all"},
          QStringList{"settings", "get", "--all=1"}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        const QString word = args.last();
        EXPECT_TRUE(r.err.contains("unknown option '" + word + "'")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("usage: captiomark-cli " + args.first())) << r.err.toStdString();
    }
    EXPECT_EQ(run({"settings", "set", "x", "--", "--all"}).code, 0);
    EXPECT_EQ(run({"settings", "get", "x"}).out, "--all\n");
    EXPECT_EQ(run({"settings", "set", "--", "--", "-"}).code, 0);
    EXPECT_EQ(run({"settings", "get", "--", "--"}).out, "-\n");
}
