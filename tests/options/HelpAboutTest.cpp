#include "options/HelpAbout.h"
#include "platform/Messages.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

struct Recorder {
    QList<QUrl> urls;
    QStringList errors;
    bool answer = true;
    Recorder() {
        SetUrlOpener([this](const QUrl& u) {
            urls << u;
            return answer;
        });
        SetMessageHandler([this](MessageKind, const QString& t) { errors << t; });
    }
    ~Recorder() {
        SetUrlOpener({});
        SetMessageHandler({});
    }
};

TEST(HelpAbout, HelpTopicsOpensTheGuide) {
    Recorder r;
    ShowHelpTopics(nullptr);
    ASSERT_EQ(r.urls.size(), 1);
    EXPECT_TRUE(r.urls[0].isLocalFile());
    const QString page = r.urls[0].toLocalFile();
    EXPECT_TRUE(page.endsWith(QStringLiteral("guide/index.html"))) << page.toStdString();
    QFile file(page);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray html = file.readAll();
    EXPECT_TRUE(html.contains("<title>Captiomark user guide</title>"));
    EXPECT_TRUE(r.errors.isEmpty());
}

TEST(HelpAbout, VisitHomePageOpensTheHomePage) {
    Recorder r;
    VisitHomePage(nullptr);
    ASSERT_EQ(r.urls.size(), 1);
    EXPECT_EQ(r.urls[0], QUrl(QStringLiteral("https://captiomark.org/")));
}

TEST(HelpAbout, ADesktopThatCannotOpenIsReportedNamingTheTarget) {
    Recorder r;
    r.answer = false;
    VisitHomePage(nullptr);
    ShowHelpTopics(nullptr);
    ASSERT_EQ(r.errors.size(), 2);
    EXPECT_TRUE(r.errors[0].contains(QStringLiteral("https://captiomark.org/")));
    EXPECT_TRUE(r.errors[1].contains(QStringLiteral("index.html")));
}

TEST(HelpAbout, AboutNamesTheProgramVersionAndLicence) {
    // The version as the top CMakeLists.txt declares it.
    QFile cmake(qEnvironmentVariable("CAPTIOMARK_SOURCE_DIR") + QStringLiteral("/CMakeLists.txt"));
    ASSERT_TRUE(cmake.open(QIODevice::ReadOnly));
    const auto m = QRegularExpression(QStringLiteral("project\\(Captiomark VERSION ([0-9.]+)"))
                       .match(QString::fromUtf8(cmake.readAll()));
    ASSERT_TRUE(m.hasMatch());
    EXPECT_EQ(ProgramVersion(), m.captured(1));
    const QString text = AboutText();
    EXPECT_TRUE(text.contains(QStringLiteral("Captiomark ") + m.captured(1))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("GPL-3.0-or-later")));
    EXPECT_TRUE(text.contains(QStringLiteral("https://captiomark.org/")));
}

} // namespace
