#include "options/TfrmTip.h"

#include "options/DataFolders.h"
#include "platform/ConfigDir.h"
#include "platform/Messages.h"
#include "platform/RegularFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStringDecoder>
#include <QVBoxLayout>

namespace {
const QString Preferences = QStringLiteral("Preferences");
const QString DefaultLanguage = QStringLiteral("English.lng");

// QSettings reads the ini itself and would block on a pipe or read a device without end, so the
// file is handed to it only when it is absent or a regular file of sane size. A file refused is
// reported once and left alone: the preferences keep their defaults and are not saved there.
bool iniUsable() {
    const FileCheck check = CheckRegularFile(TipIniPath(), MaxTipIniSize);
    if (check.ok() || check.problem == FileProblem::Missing)
        return true;
    ShowErrorOnce(QStringLiteral("Cannot read \"%1\": %2 The tip preferences keep their "
                                 "defaults and are not saved there.")
                      .arg(TipIniPath(), check.reason));
    return false;
}
} // namespace

QString TipIniPath() {
    return ConfigDir() + QStringLiteral("/Captiomark.ini");
}

bool ShowTipAtStartup() {
    if (!iniUsable())
        return true;
    QSettings ini(TipIniPath(), QSettings::IniFormat);
    return ini.value(Preferences + QStringLiteral("/ShowTip"), true).toBool();
}

bool IsLanguageFileName(const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1String("..")) || name.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
            return false;
    return true;
}

bool ReadIniSection(const QString& fileName, const QString& section,
                    QList<QPair<QString, QString>>* entries, QString* error) {
    entries->clear();
    const FileRead file = ReadRegularFile(fileName, MaxLanguageFileSize);
    if (!file.ok()) {
        if (error) {
            QString why = file.reason;
            if (!why.endsWith(QLatin1Char('.')))
                why += QLatin1Char('.');
            *error = QStringLiteral("Can't read \"%1\": %2").arg(fileName, why);
        }
        return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(file.data);
    bool inSection = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection =
                line.mid(1, line.size() - 2).trimmed().compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            entries->append({line, line});
        else
            entries->append({line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
    }
    return true;
}

TfrmTip::TfrmTip(QWidget* parent, const QString& languageFolder) : QDialog(parent) {
    setObjectName(QStringLiteral("frmTip"));
    setWindowTitle(QStringLiteral("Tip of the Day"));

    imgPanel = new QLabel(this);
    imgPanel->setObjectName(QStringLiteral("imgPanel"));
    imgPanel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    imgPanel->setPixmap(QApplication::windowIcon().pixmap(48, 48));
    lblDid = new QLabel(this);
    lblDid->setObjectName(QStringLiteral("lblDid"));
    QFont heading = lblDid->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 1.3);
    lblDid->setFont(heading);
    memTip = new QPlainTextEdit(this);
    memTip->setObjectName(QStringLiteral("memTip"));
    memTip->setReadOnly(true);
    chbShowTip = new QCheckBox(QStringLiteral("Always show tips at startup"), this);
    chbShowTip->setObjectName(QStringLiteral("chbShowTip"));
    btnNext = new QPushButton(QStringLiteral("Next Tip"), this);
    btnNext->setObjectName(QStringLiteral("btnNext"));
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    auto* text = new QVBoxLayout;
    text->addWidget(lblDid);
    text->addWidget(memTip, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(imgPanel);
    top->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(chbShowTip);
    buttons->addStretch(1);
    buttons->addWidget(btnNext);
    buttons->addWidget(btnClose);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top, 1);
    all->addLayout(buttons);
    resize(460, 260);

    connect(btnNext, &QPushButton::clicked, this, &TfrmTip::btnNextClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    QString language = DefaultLanguage;
    chbShowTip->setChecked(true);
    m_iniUsable = iniUsable();
    if (m_iniUsable) {
        QSettings ini(TipIniPath(), QSettings::IniFormat);
        ini.beginGroup(Preferences);
        language = ini.value(QStringLiteral("Language"), DefaultLanguage).toString();
        chbShowTip->setChecked(ini.value(QStringLiteral("ShowTip"), true).toBool());
        m_index = ini.value(QStringLiteral("TipIndex"), -1).toInt();
        ini.endGroup();
    }
    // The language names a file in the Language folder, never a path elsewhere.
    if (!IsLanguageFileName(language)) {
        ShowErrorOnce(QStringLiteral("The language \"%1\" in \"%2\" is not the name of a file in "
                                     "the Language folder; \"%3\" is used.")
                          .arg(language, TipIniPath(), DefaultLanguage));
        language = DefaultLanguage;
    }

    const QString folder =
        languageFolder.isEmpty() ? FindDataFolder(QStringLiteral("Language")) : languageFolder;
    m_languageFile =
        (folder.isEmpty() ? QStringLiteral("Language") : folder) + QLatin1Char('/') + language;

    QList<QPair<QString, QString>> tips, captions;
    QString error;
    if (!ReadIniSection(m_languageFile, QStringLiteral("Tips"), &tips, &error)) {
        // Without the file the form keeps its English captions and says what is missing.
        lblDid->setText(QStringLiteral(" Did you know..."));
        memTip->setPlainText(error);
        btnNext->setEnabled(false);
        return;
    }
    for (const auto& [key, value] : tips)
        m_tips << value;
    ReadIniSection(m_languageFile, QStringLiteral("Tip"), &captions);
    auto caption = [&captions](const QString& key) {
        for (const auto& [k, v] : captions)
            if (k.compare(key, Qt::CaseInsensitive) == 0)
                return v;
        return key;
    };
    lblDid->setText(QLatin1Char(' ') + caption(QStringLiteral("1")));
    chbShowTip->setText(caption(QStringLiteral("2")));
    btnNext->setText(caption(QStringLiteral("3")));
    btnClose->setText(caption(QStringLiteral("4")));
    btnNextClick();
}

void TfrmTip::btnNextClick() {
    ++m_index;
    if (m_index > m_tips.size() - 1 || m_index < 0)
        m_index = 0;
    memTip->setPlainText(m_index < m_tips.size() ? m_tips.at(m_index) : QString());
}

void TfrmTip::done(int result) {
    if (!m_iniUsable || !iniUsable()) {
        QDialog::done(result);
        return;
    }
    QSettings ini(TipIniPath(), QSettings::IniFormat);
    ini.beginGroup(Preferences);
    ini.setValue(QStringLiteral("ShowTip"), chbShowTip->isChecked());
    ini.setValue(QStringLiteral("TipIndex"), m_index);
    ini.endGroup();
    ini.sync();
    if (ini.status() != QSettings::NoError) {
        // QSettings gives no reason; asking the file system for one does.
        QFile probe(TipIniPath());
        const QString why = probe.open(QIODevice::Append)
                                ? QStringLiteral("the file is not a valid ini file")
                                : probe.errorString();
        ShowError(QStringLiteral("Can't write \"%1\": %2.").arg(TipIniPath(), why));
    }
    QDialog::done(result);
}

void ShowTipOfTheDay(QWidget* parent) {
    TfrmTip tip(parent);
    tip.exec();
}
