#include "options/HelpAbout.h"

#include "options/DataFolders.h"
#include "platform/Messages.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>

const QUrl HomePageUrl(QStringLiteral("https://captiomark.org/"));

namespace {
std::function<bool(const QUrl&)>& opener() {
    static std::function<bool(const QUrl&)> open;
    return open;
}

bool openUrl(const QUrl& url) {
    return opener() ? opener()(url) : QDesktopServices::openUrl(url);
}
} // namespace

void SetUrlOpener(std::function<bool(const QUrl&)> open) {
    opener() = std::move(open);
}

QString ProgramVersion() {
    return QStringLiteral(CAPTIOMARK_VERSION);
}

QString AboutText() {
    return QStringLiteral("<h3>Captiomark %1</h3>"
                          "<p>Puts captions, dates, speech bubbles and logos on photographs.</p>"
                          "<p>Licensed under the GNU General Public License, version 3 or later "
                          "(GPL-3.0-or-later).</p>"
                          "<p><a href=\"%2\">%2</a></p>")
        .arg(ProgramVersion(), HomePageUrl.toString());
}

QString GuidePath() {
    const QString folder = FindDataFolder(QStringLiteral("guide"));
    if (folder.isEmpty())
        return QString();
    const QString page = folder + QStringLiteral("/index.html");
    return QFileInfo::exists(page) ? page : QString();
}

void ShowHelpTopics(QWidget*) {
    const QString page = GuidePath();
    if (page.isEmpty()) {
        ShowError(QStringLiteral("Can't open the user guide \"guide/index.html\": it is not "
                                 "installed beside the program nor in its data folder."));
        return;
    }
    if (!openUrl(QUrl::fromLocalFile(page)))
        ShowError(
            QStringLiteral("Can't open the user guide \"%1\": no program to show it was found.")
                .arg(page));
}

void VisitHomePage(QWidget*) {
    if (!openUrl(HomePageUrl))
        ShowError(QStringLiteral("Can't open \"%1\": no web browser was found.")
                      .arg(HomePageUrl.toString()));
}

void ShowAbout(QWidget* parent) {
    QMessageBox::about(parent, QStringLiteral("About Captiomark"), AboutText());
}
