#pragma once

#include <QDialog>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The tip preferences: "Captiomark.ini" in the configuration folder, section "Preferences",
// keys "ShowTip" (default true), "TipIndex" (default -1), "Language" (default "English.lng").
QString TipIniPath();
bool ShowTipAtStartup();

// The ini file and the language files are read only when they are regular files of at most
// this size; anything else at their names is reported (once) and the defaults are used.
constexpr qint64 MaxTipIniSize = qint64(1) << 20;
constexpr qint64 MaxLanguageFileSize = qint64(4) << 20;

// A "Language" value the tip window accepts: a bare file name (no folder separators, no "..",
// not hidden), so that it can only name a file in the Language folder.
bool IsLanguageFileName(const QString& name);

// One section of an ini-style language file, its keys in file order with their values (a line
// without '=' is a key whose value is its own name). Section names compare without case.
// False with *error naming the file and the reason when it cannot be read.
bool ReadIniSection(const QString& fileName, const QString& section,
                    QList<QPair<QString, QString>>* entries, QString* error = nullptr);

// "Tip of the Day": one tip at a time from the language file's "Tips" section, the captions from
// its "Tip" section. Each showing starts one tip further than the last; closing stores the
// check box and the index.
class TfrmTip : public QDialog {
    Q_OBJECT

public:
    // languageFolder: where the language files are; empty for the program's Language folder.
    explicit TfrmTip(QWidget* parent = nullptr, const QString& languageFolder = QString());

    QLabel* imgPanel;
    QLabel* lblDid;
    QPlainTextEdit* memTip;
    QCheckBox* chbShowTip;
    QPushButton* btnNext;
    QPushButton* btnClose;

    void btnNextClick();

    const QStringList& Tips() const { return m_tips; }
    int Index() const { return m_index; }
    QString LanguageFile() const { return m_languageFile; }

    void done(int result) override;

private:
    QStringList m_tips;
    int m_index = -1;
    QString m_languageFile;
    bool m_iniUsable = true;
};

// Shows the tip window modally (start-up and the main window's tip action).
void ShowTipOfTheDay(QWidget* parent);
