// The command-line tool with pipes, devices, links and huge files where it expects a settings
// file, a photo or a pattern: each run ends promptly with a message naming the file, and
// touches nothing.
#include "tests/support/SpecialFiles.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct CliResult {
    bool finished = false;
    int code = -1;
    QString err;
};

// The tool with its settings in configDir; killed when it has not ended after 20 seconds, the
// pipes being opened for writing first so that a blocked read cannot outlive the test.
CliResult runCli(const QStringList& args, const QString& configDir, const QStringList& fifos) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CAPTIOMARK_CONFIG_DIR"), configDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CAPTIOMARK_CLI_PATH), args);
    CliResult r;
    r.finished = p.waitForFinished(20000);
    if (!r.finished) {
        for (const QString& fifo : fifos) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        p.kill();
        p.waitForFinished(5000);
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString caseName(const SpecialCase& c, const char* extension) {
    return QString::fromLatin1(c.label).replace(' ', '_') + QLatin1String(extension);
}

} // namespace

TEST(SpecialFilesCli, ASpecialSettingsFileIsNamedAndLeftAlone) {
    for (const SpecialCase& c : SpecialFileCases()) {
        SCOPED_TRACE(c.label);
        QTemporaryDir config;
        const QString conf = config.filePath(QStringLiteral("Captiomark.conf"));
        ASSERT_TRUE(MakeSpecialFile(c.kind, conf));
        const QFileInfo before(conf);
        const CliResult list = runCli({"settings", "list"}, config.path(), {conf});
        EXPECT_TRUE(list.finished);
        EXPECT_EQ(list.code, 1);
        EXPECT_TRUE(list.err.contains("Cannot read \"" + conf + "\": It is"))
            << list.err.toStdString();
        EXPECT_TRUE(list.err.contains(QLatin1String(c.reasonWord))) << list.err.toStdString();
        const CliResult set =
            runCli({"settings", "set", "defaultDate", "02.02.2002"}, config.path(), {conf});
        EXPECT_TRUE(set.finished);
        EXPECT_EQ(set.code, 1);
        const QFileInfo after(conf);
        EXPECT_EQ(after.isSymLink(), before.isSymLink());
        EXPECT_EQ(after.isFile(), before.isFile());
        EXPECT_EQ(after.size(), before.size());
    }
}

TEST(SpecialFilesCli, SpecialPhotosAndPatternsAreRefusedWithTheirNames) {
    QTemporaryDir config, files;
    const QString pattern = QStringLiteral(CAPTIOMARK_SOURCE_DIR) + "/examples/sample-pattern.xml";
    const QString photo = files.filePath(QStringLiteral("real.jpg"));
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(CAPTIOMARK_SOURCE_DIR) + "/examples/sample-photo.jpg", photo));
    for (const SpecialCase& c : SpecialFileCases()) {
        SCOPED_TRACE(c.label);
        const QString image = files.filePath(caseName(c, ".jpg"));
        const QString xml = files.filePath(caseName(c, ".xml"));
        ASSERT_TRUE(MakeSpecialFile(c.kind, image));
        ASSERT_TRUE(MakeSpecialFile(c.kind, xml));
        const QList<QPair<QStringList, QString>> runs{
            {{"exif", image}, image},
            {{"date", image}, image},
            {{"render", "--pattern", pattern, "--output", files.filePath("out.jpg"), image}, image},
            {{"render", "--pattern", xml, "--output", files.filePath("out.jpg"), photo}, xml},
        };
        for (const auto& [args, named] : runs) {
            SCOPED_TRACE(args.join(' ').toStdString());
            const CliResult r = runCli(args, config.path(), {image, xml});
            EXPECT_TRUE(r.finished);
            EXPECT_EQ(r.code, 1);
            EXPECT_TRUE(r.err.contains("\"" + named + "\"")) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains(QLatin1String(c.reasonWord))) << r.err.toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(files.filePath("out.jpg")));
    }
}
