#include "platform/SettingsStore.h"

#include "platform/ConfigDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
const QByteArray Header = QByteArrayLiteral("# Captiomark settings");

QString fileNameForKey(const QString& keyPath) {
    QString last = keyPath;
    last.replace(QLatin1Char('/'), QLatin1Char('\\'));
    last = last.section(QLatin1Char('\\'), -1, -1, QString::SectionSkipEmpty).trimmed();
    // Characters a file name cannot carry on some systems.
    static const QString bad = QStringLiteral("<>:\"|?*");
    for (QChar& c : last)
        if (c.unicode() < 0x20 || bad.contains(c))
            c = QLatin1Char('_');
    if (last.isEmpty() || last == QLatin1String(".") || last == QLatin1String(".."))
        last = QStringLiteral("settings");
    return last + QStringLiteral(".conf");
}

QString escape(const QString& text, bool isName) {
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case 0:
            out += QLatin1String("\\0");
            break;
        case '=':
            out += isName ? QLatin1String("\\=") : QLatin1String("=");
            break;
        case '#':
            // A line starting with '#' is a comment.
            out += (isName && i == 0) ? QLatin1String("\\#") : QLatin1String("#");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QChar unescapeChar(QChar c) {
    switch (c.unicode()) {
    case 'n':
        return QLatin1Char('\n');
    case 'r':
        return QLatin1Char('\r');
    case '0':
        return QChar(0);
    default:
        return c; // "\\", "\=", "\#" and unknown escapes give the character itself
    }
}

// One line: name up to the first unescaped '=', value after it. False for a line without '='.
bool parseLine(const QString& line, QString* name, QString* value) {
    QString n;
    qsizetype i = 0;
    bool haveEquals = false;
    for (; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            n += unescapeChar(line[++i]);
        } else if (c == QLatin1Char('=')) {
            haveEquals = true;
            ++i;
            break;
        } else {
            n += c;
        }
    }
    if (!haveEquals)
        return false;
    QString v;
    v.reserve(line.size() - i);
    for (; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('\\') && i + 1 < line.size())
            v += unescapeChar(line[++i]);
        else
            v += c;
    }
    *name = n;
    *value = v;
    return true;
}
} // namespace

SettingsStore::SettingsStore(const QString& keyPath)
    : m_path(QDir(ConfigDir()).filePath(fileNameForKey(keyPath))) {}

QString SettingsStore::EncodeLine(const QString& name, const QString& value) {
    return escape(name, true) + QLatin1Char('=') + escape(value, false);
}

bool SettingsStore::OpenOrCreate() {
    m_open = false;
    m_values.clear();
    const QFileInfo file(m_path);
    const QString dir = file.absolutePath();
    if (!QDir().mkpath(dir))
        return false;
    // Every write renames a fresh file into the folder, so the folder itself must be writable.
    const QFileInfo dirInfo(dir);
    if (!dirInfo.isDir() || !dirInfo.isWritable())
        return false;
    if (file.exists()) {
        if (!load())
            return false;
    } else if (!save()) {
        return false;
    }
    m_open = true;
    return true;
}

bool SettingsStore::load() {
    QFile f(m_path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return false;
    m_values.clear();
    const QList<QByteArray> lines = data.split('\n');
    for (QByteArray raw : lines) {
        if (raw.endsWith('\r'))
            raw.chop(1); // a file edited with CR LF line ends
        if (raw.isEmpty() || raw.startsWith('#'))
            continue;
        QString name, value;
        if (!parseLine(QString::fromUtf8(raw), &name, &value))
            continue; // corrupt line: skipped
        bool replaced = false;
        for (auto& pair : m_values) {
            if (pair.first == name) {
                pair.second = value; // a repeated name: the last line wins, the first place stays
                replaced = true;
                break;
            }
        }
        if (!replaced)
            m_values.append({name, value});
    }
    return true;
}

bool SettingsStore::save() const {
    QByteArray out = Header + '\n';
    for (const auto& [name, value] : m_values) {
        out += EncodeLine(name, value).toUtf8();
        out += '\n';
    }
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (f.write(out) != out.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

QList<QPair<QString, QString>> SettingsStore::Values() const {
    return m_values;
}

QString SettingsStore::Value(const QString& name, bool* found) const {
    for (const auto& pair : m_values) {
        if (pair.first == name) {
            if (found)
                *found = true;
            return pair.second;
        }
    }
    if (found)
        *found = false;
    return QString();
}

bool SettingsStore::SetValue(const QString& name, const QString& value) {
    if (!m_open)
        return false;
    const QList<QPair<QString, QString>> before = m_values;
    // Another process (the command-line tool, a second window) may have written meanwhile.
    if (QFileInfo::exists(m_path))
        load();
    bool replaced = false;
    for (auto& pair : m_values) {
        if (pair.first == name) {
            pair.second = value;
            replaced = true;
            break;
        }
    }
    if (!replaced)
        m_values.append({name, value});
    if (!save()) {
        m_values = before;
        return false;
    }
    return true;
}
