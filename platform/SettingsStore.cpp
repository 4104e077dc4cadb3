#include "platform/SettingsStore.h"

#include "platform/AtomicFile.h"
#include "platform/ConfigDir.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

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

bool SettingsStore::Open() {
    m_open = false;
    m_values.clear();
    m_index.clear();
    m_error.clear();
    m_unreadable = false;
    // No file yet is an empty key: reading needs nothing written. Anything else at the name
    // (a link to nothing, a pipe, a device) is loaded, so that load() refuses it.
    if (CheckRegularFile(m_path, MaxFileSize).problem != FileProblem::Missing) {
        if (!load())
            return false;
    }
    m_open = true;
    return true;
}

bool SettingsStore::OpenOrCreate() {
    if (!Open())
        return false;
    if (QFileInfo::exists(m_path))
        return true;
    m_open = false;
    const QString dir = QFileInfo(m_path).absolutePath();
    std::error_code ec;
    std::filesystem::create_directories(QFile::encodeName(dir).toStdString(), ec);
    if (ec) {
        m_error = QStringLiteral("Cannot create \"%1\": %2")
                      .arg(m_path, QString::fromLocal8Bit(ec.message()));
        return false;
    }
    if (!save())
        return false;
    m_open = true;
    return true;
}

bool SettingsStore::load() {
    const FileRead read = ReadRegularFile(m_path, MaxFileSize);
    if (!read.ok()) {
        m_error = QStringLiteral("Cannot read \"%1\": %2").arg(m_path, read.reason);
        // Whatever is there stays as it is: it is neither read nor replaced.
        m_unreadable = true;
        return false;
    }
    const QByteArray& data = read.data;
    m_values.clear();
    m_index.clear();
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0)
            end = data.size();
        QByteArrayView raw(data.constData() + start, end - start);
        start = end + 1;
        if (raw.endsWith('\r'))
            raw.chop(1); // a file edited with CR LF line ends
        if (raw.isEmpty() || raw.startsWith('#'))
            continue;
        QString name, value;
        if (!parseLine(QString::fromUtf8(raw), &name, &value))
            continue; // corrupt line: skipped
        // A repeated name: the last line wins, the first place stays.
        const auto it = m_index.constFind(name);
        if (it != m_index.constEnd()) {
            m_values[*it].second = value;
        } else {
            m_index.insert(name, m_values.size());
            m_values.append({name, value});
        }
    }
    return true;
}

bool SettingsStore::save() {
    QByteArray out = Header + '\n';
    for (const auto& [name, value] : m_values) {
        out += EncodeLine(name, value).toUtf8();
        out += '\n';
    }
    const QString why = WriteFileReplacing(m_path, out);
    if (!why.isEmpty()) {
        m_error = QStringLiteral("Cannot write \"%1\": %2").arg(m_path, why);
        return false;
    }
    return true;
}

QList<QPair<QString, QString>> SettingsStore::Values() const {
    return m_values;
}

QString SettingsStore::Value(const QString& name, bool* found) const {
    const auto it = m_index.constFind(name);
    if (found)
        *found = it != m_index.constEnd();
    return it != m_index.constEnd() ? m_values[*it].second : QString();
}

bool SettingsStore::SetValue(const QString& name, const QString& value) {
    if (!m_open) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("\"%1\" is not open").arg(m_path);
        return false;
    }
    const QList<QPair<QString, QString>> before = m_values;
    const QHash<QString, qsizetype> beforeIndex = m_index;
    // Another process (the command-line tool, a second window) may have written meanwhile.
    if (CheckRegularFile(m_path, MaxFileSize).problem != FileProblem::Missing && !load()) {
        m_values = before;
        m_index = beforeIndex;
        return false;
    }
    const auto it = m_index.constFind(name);
    if (it != m_index.constEnd()) {
        if (m_values[*it].second == value)
            return true; // already stored: a store we may only read stays usable
        m_values[*it].second = value;
    } else {
        m_index.insert(name, m_values.size());
        m_values.append({name, value});
    }
    if (!save()) {
        m_values = before;
        m_index = beforeIndex;
        return false;
    }
    return true;
}
