#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

// The program's home page.
extern const QUrl HomePageUrl;
// "0.1.0": the project version the program was built as.
QString ProgramVersion();
// The About box text: name, version, licence and home page.
QString AboutText();
// The user guide's start page (docs/guide/index.html as installed); empty when not found.
QString GuidePath();

// Help Topics (F1): opens the user guide in the desktop's browser. A missing guide or a desktop
// that cannot open it is reported naming the file.
void ShowHelpTopics(QWidget* parent);
// Visit Home Page: opens HomePageUrl.
void VisitHomePage(QWidget* parent);
// About: a box with AboutText().
void ShowAbout(QWidget* parent);

// How URLs are opened (QDesktopServices::openUrl); tests record them instead.
void SetUrlOpener(std::function<bool(const QUrl&)> opener);
