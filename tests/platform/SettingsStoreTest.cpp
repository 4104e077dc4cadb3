#include "platform/SettingsStore.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Points the configuration folder at a fresh temporary folder for one test.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_saved = qgetenv("CAPTIOMARK_CONFIG_DIR");
        qputenv("CAPTIOMARK_CONFIG_DIR", m_dir.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("CAPTIOMARK_CONFIG_DIR", m_saved); }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    static QByteArray readAll(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void writeAll(const QString& file, const QByteArray& data) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }

    QTemporaryDir m_dir;
    QByteArray m_saved;
};

using Pairs = QList<QPair<QString, QString>>;
} // namespace

TEST_F(SettingsStoreTest, FileIsNamedAfterTheLastKeyComponent) {
    EXPECT_EQ(SettingsStore("SOFTWARE\\Captiomark").filePath(), path("Captiomark.conf"));
    EXPECT_EQ(SettingsStore("Captiomark").filePath(), path("Captiomark.conf"));
    EXPECT_EQ(SettingsStore("SOFTWARE\\Other\\").filePath(), path("Other.conf"));
}

TEST_F(SettingsStoreTest, OpenOrCreateCreatesFolderAndFileWithHeader) {
    const QString nested = m_dir.filePath("a/b");
    qputenv("CAPTIOMARK_CONFIG_DIR", nested.toLocal8Bit());
    SettingsStore store("SOFTWARE\\Captiomark");
    EXPECT_FALSE(store.isOpen());
    ASSERT_TRUE(store.OpenOrCreate());
    EXPECT_TRUE(store.isOpen());
    EXPECT_TRUE(QFile::exists(nested + "/Captiomark.conf"));
    EXPECT_EQ(readAll(store.filePath()), QByteArray("# Captiomark settings\n"));
    EXPECT_TRUE(store.Values().isEmpty());
}

TEST_F(SettingsStoreTest, OpenOrCreateFailsWhenTheFolderIsAFile) {
    writeAll(path("plainfile"), "x");
    qputenv("CAPTIOMARK_CONFIG_DIR", path("plainfile").toLocal8Bit());
    SettingsStore store("SOFTWARE\\Captiomark");
    EXPECT_FALSE(store.OpenOrCreate());
    EXPECT_FALSE(store.isOpen());
    EXPECT_EQ(store.errorString(), "Cannot create \"" + store.filePath() + "\": Not a directory");
    EXPECT_FALSE(store.SetValue("a", "b"));
}

TEST_F(SettingsStoreTest, OpenOrCreateFailsWhenTheFileIsAFolder) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("Captiomark.conf"));
    SettingsStore store("SOFTWARE\\Captiomark");
    EXPECT_FALSE(store.OpenOrCreate());
    EXPECT_TRUE(store.errorString().startsWith("Cannot read \"" + store.filePath() + "\": "))
        << store.errorString().toStdString();
    EXPECT_FALSE(store.errorString().contains("Unknown error"));
}

TEST_F(SettingsStoreTest, ValuesKeepFirstWrittenOrderAndExactNames) {
    SettingsStore store("SOFTWARE\\Captiomark");
    ASSERT_TRUE(store.OpenOrCreate());
    EXPECT_TRUE(store.SetValue("b", "1"));
    EXPECT_TRUE(store.SetValue("a", "2"));
    EXPECT_TRUE(store.SetValue("A", "3"));
    EXPECT_TRUE(store.SetValue("b", "4")); // rewritten in place
    const Pairs expected{{"b", "4"}, {"a", "2"}, {"A", "3"}};
    EXPECT_EQ(store.Values(), expected);

    bool found = true;
    EXPECT_EQ(store.Value("B", &found), QString());
    EXPECT_FALSE(found);
    EXPECT_EQ(store.Value("A", &found), "3");
    EXPECT_TRUE(found);

    SettingsStore again("SOFTWARE\\Captiomark");
    ASSERT_TRUE(again.OpenOrCreate());
    EXPECT_EQ(again.Values(), expected);
}

TEST_F(SettingsStoreTest, EmptyValueIsFoundAndDiffersFromMissing) {
    SettingsStore store("SOFTWARE\\Captiomark");
    ASSERT_TRUE(store.OpenOrCreate());
    ASSERT_TRUE(store.SetValue("empty", ""));
    SettingsStore again("SOFTWARE\\Captiomark");
    ASSERT_TRUE(again.OpenOrCreate());
    bool found = false;
    EXPECT_EQ(again.Value("empty", &found), QString());
    EXPECT_TRUE(found);
}

TEST_F(SettingsStoreTest, SpecialCharactersRoundTrip) {
    const Pairs values{
        {"with=equals", "a=b=c"},
        {"#hash", "#not a comment"},
        {"back\\slash", "C:\\dir\\"},
        {"multi\nline", "one\r\ntwo\n"},
        {"", "empty name"},
        {QString("nul") + QChar(0), QString("x") + QChar(0)},
        {QString::fromUtf8("Ümlaut ✓"), QString::fromUtf8("日本語")},
        {"long", QString(100000, 'x')},
    };
    {
        SettingsStore store("SOFTWARE\\Captiomark");
        ASSERT_TRUE(store.OpenOrCreate());
        for (const auto& [n, v] : values)
            ASSERT_TRUE(store.SetValue(n, v));
    }
    SettingsStore again("SOFTWARE\\Captiomark");
    ASSERT_TRUE(again.OpenOrCreate());
    EXPECT_EQ(again.Values(), values);
    // One value per line: the escapes keep line breaks out of the file.
    const QByteArray file = readAll(again.filePath());
    EXPECT_EQ(file.count('\n'), values.size() + 1);
    EXPECT_FALSE(file.contains('\r'));
}

TEST_F(SettingsStoreTest, DocumentedLineFormat) {
    EXPECT_EQ(SettingsStore::EncodeLine("a=b", "c=d"), "a\\=b=c=d");
    EXPECT_EQ(SettingsStore::EncodeLine("#x", "#y"), "\\#x=#y");
    EXPECT_EQ(SettingsStore::EncodeLine("p\\q", "1\n2\r3"), "p\\\\q=1\\n2\\r3");
}

TEST_F(SettingsStoreTest, CorruptAndForeignLinesAreSkipped) {
    writeAll(path("Captiomark.conf"), "# Captiomark settings\n"
                                      "no equals sign here\n"
                                      "\n"
                                      "# a comment\n"
                                      "good=1\r\n" // CR LF line end
                                      "dup=first\n"
                                      "\xff\xfe=bad utf8\n"
                                      "dup=second\n"
                                      "trailing\\"); // escape at the very end, no newline
    SettingsStore store("SOFTWARE\\Captiomark");
    ASSERT_TRUE(store.OpenOrCreate());
    const Pairs values = store.Values();
    ASSERT_EQ(values.size(), 3);
    EXPECT_EQ(values[0], qMakePair(QString("good"), QString("1")));
    EXPECT_EQ(values[1], qMakePair(QString("dup"), QString("second")));
    EXPECT_EQ(values[2].second, "bad utf8");
}

TEST_F(SettingsStoreTest, WritesReplaceTheFileAtomically) {
    SettingsStore store("SOFTWARE\\Captiomark");
    ASSERT_TRUE(store.OpenOrCreate());
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(store.SetValue(QString("v%1").arg(i % 7), QString(i * 10, 'z')));
    // No temporary file stays behind, and what is on disk is complete.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"Captiomark.conf"});
    SettingsStore again("SOFTWARE\\Captiomark");
    ASSERT_TRUE(again.OpenOrCreate());
    EXPECT_EQ(again.Values(), store.Values());
    EXPECT_EQ(again.Value("v0"), QString(490, 'z'));
}

TEST_F(SettingsStoreTest, WriteKeepsValuesAnotherProcessAdded) {
    SettingsStore first("SOFTWARE\\Captiomark");
    SettingsStore second("SOFTWARE\\Captiomark");
    ASSERT_TRUE(first.OpenOrCreate());
    ASSERT_TRUE(second.OpenOrCreate());
    ASSERT_TRUE(second.SetValue("fromSecond", "2"));
    ASSERT_TRUE(first.SetValue("fromFirst", "1"));
    SettingsStore check("SOFTWARE\\Captiomark");
    ASSERT_TRUE(check.OpenOrCreate());
    EXPECT_EQ(check.Value("fromSecond"), "2");
    EXPECT_EQ(check.Value("fromFirst"), "1");
}

TEST_F(SettingsStoreTest, SetValueFailsWithoutChangingMemoryWhenTheFileCannotBeWritten) {
    SettingsStore store("SOFTWARE\\Captiomark");
    ASSERT_TRUE(store.OpenOrCreate());
    ASSERT_TRUE(store.SetValue("kept", "1"));
    // The file's place taken by a folder: the rename cannot happen.
    ASSERT_TRUE(QFile::remove(store.filePath()));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("Captiomark.conf"));
    EXPECT_FALSE(store.SetValue("new", "2"));
    EXPECT_EQ(store.Values(), (Pairs{{"kept", "1"}}));
    EXPECT_TRUE(store.errorString().contains("\"" + store.filePath() + "\": "))
        << store.errorString().toStdString();
    EXPECT_FALSE(store.errorString().contains("Unknown error"));
}

// Tens of thousands of values (a 10 MB file) load and look up as a few do.
TEST_F(SettingsStoreTest, LargeFileKeepsOrderAndLastRepeatWins) {
    constexpr int Count = 200000;
    QByteArray data = "# Captiomark settings\n";
    data.reserve(11 << 20);
    for (int i = 0; i < Count; ++i)
        data += QStringLiteral("name%1=value %1 ").arg(i, 6, 10, QLatin1Char('0')).toUtf8() +
                QByteArray(30, 'v') + '\n';
    // Every thousandth name again at the end: its place stays, its value changes.
    for (int i = 0; i < Count; i += 1000)
        data += QStringLiteral("name%1=again\n").arg(i, 6, 10, QLatin1Char('0')).toUtf8();
    ASSERT_GT(data.size(), 10 << 20);
    writeAll(path("Captiomark.conf"), data);

    SettingsStore store("SOFTWARE\\Captiomark");
    ASSERT_TRUE(store.Open());
    const Pairs values = store.Values();
    ASSERT_EQ(values.size(), Count);
    EXPECT_EQ(values[0], qMakePair(QString("name000000"), QString("again")));
    EXPECT_EQ(values[1], qMakePair(QString("name000001"), "value 000001 " + QString(30, 'v')));
    EXPECT_EQ(values[Count - 1].first, "name199999");
    EXPECT_EQ(store.Value("name123000"), "again");
    EXPECT_EQ(store.Value("name123001"), "value 123001 " + QString(30, 'v'));
    bool found = true;
    store.Value("name200000", &found);
    EXPECT_FALSE(found);

    // A write keeps every value and adds the new one last.
    ASSERT_TRUE(store.SetValue("added", "1"));
    ASSERT_TRUE(store.SetValue("name000002", "changed"));
    SettingsStore again("SOFTWARE\\Captiomark");
    ASSERT_TRUE(again.OpenOrCreate());
    const Pairs reread = again.Values();
    ASSERT_EQ(reread.size(), Count + 1);
    EXPECT_EQ(reread[Count], qMakePair(QString("added"), QString("1")));
    EXPECT_EQ(reread[2], qMakePair(QString("name000002"), QString("changed")));
    EXPECT_EQ(reread[1000].second, "again");
}

TEST_F(SettingsStoreTest, OpenReadsWithoutCreating) {
    const QString nested = m_dir.filePath("absent");
    qputenv("CAPTIOMARK_CONFIG_DIR", nested.toLocal8Bit());
    SettingsStore store("SOFTWARE\\Captiomark");
    ASSERT_TRUE(store.Open());
    EXPECT_TRUE(store.Values().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(nested)) << "reading creates nothing";
}

// ---- Odd files at the store's name --------------------------------------------------------

namespace {
// What is at a name, to tell that it was left alone: the type bits and, for a file, its size.
QString describe(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("nothing");
    return QStringLiteral("%1/%2").arg(st.st_mode & S_IFMT).arg(qint64(st.st_size));
}
} // namespace

TEST_F(SettingsStoreTest, SpecialFilesAreRefusedNamedAndLeftAlone) {
    for (const SpecialCase& c : SpecialFileCases()) {
        SCOPED_TRACE(c.label);
        QTemporaryDir folder;
        qputenv("CAPTIOMARK_CONFIG_DIR", folder.path().toLocal8Bit());
        SettingsStore store("SOFTWARE\\Captiomark");
        QString why;
        ASSERT_TRUE(MakeSpecialFile(c.kind, store.filePath(), &why)) << why.toStdString();
        const QString before = describe(store.filePath());
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        const QStringList namesBefore = QDir(folder.path()).entryList(all);

        bool opened = true, created = true, written = true;
        EXPECT_TRUE(ReturnsWithin(5000,
                                  [&] {
                                      opened = store.Open();
                                      created = store.OpenOrCreate();
                                      written = store.SetValue("defaultDate", "02.02.2002");
                                  },
                                  {store.filePath()}));
        EXPECT_FALSE(opened);
        EXPECT_FALSE(created);
        EXPECT_FALSE(written);
        EXPECT_TRUE(store.unreadable());
        EXPECT_TRUE(store.errorString().startsWith("Cannot read \"" + store.filePath() + "\": "))
            << store.errorString().toStdString();
        EXPECT_TRUE(store.errorString().contains(QLatin1String(c.reasonWord)))
            << store.errorString().toStdString();
        EXPECT_EQ(describe(store.filePath()), before);
        // Nothing was put beside it either.
        EXPECT_EQ(QDir(folder.path()).entryList(all), namesBefore);
    }
}

TEST_F(SettingsStoreTest, ALinkToARegularFileIsReadAndWrittenThrough) {
    QTemporaryDir elsewhere;
    const QString real = elsewhere.filePath("kept.conf");
    writeAll(real, "# Captiomark settings\ndefaultDate=03.03.2003\n");
    SettingsStore store("SOFTWARE\\Captiomark");
    ASSERT_EQ(::symlink(QFile::encodeName(real).constData(),
                        QFile::encodeName(store.filePath()).constData()),
              0);
    ASSERT_TRUE(store.Open());
    EXPECT_EQ(store.Value("defaultDate"), "03.03.2003");
    EXPECT_FALSE(store.unreadable());
}

TEST_F(SettingsStoreTest, AFileOverTheCapIsRefused) {
    SettingsStore store("SOFTWARE\\Captiomark");
    writeAll(store.filePath(), "# Captiomark settings\ndefaultDate=03.03.2003\n");
    ASSERT_TRUE(QFile::resize(store.filePath(), SettingsStore::MaxFileSize + 1)); // sparse
    EXPECT_FALSE(store.Open());
    EXPECT_TRUE(store.unreadable());
    EXPECT_TRUE(store.errorString().endsWith("files over 64 MB are not read."))
        << store.errorString().toStdString();
    EXPECT_EQ(QFileInfo(store.filePath()).size(), SettingsStore::MaxFileSize + 1);
}
