#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// Stands in for one key of the per-user registry: string values under exact, case-sensitive
// names, enumerated in a stable order (the order in which they were first written).
// Kept as one file in ConfigDir(); every write replaces the file atomically (temporary file
// renamed over the old one). The file format is documented in the README.
class SettingsStore {
public:
    // keyPath is the registry-style key ("SOFTWARE\\Captiomark"); it names the file.
    explicit SettingsStore(const QString& keyPath);

    // The file is read only when it is a regular file (or a link to one) of at most this size
    // (64 MB: hundreds of thousands of values, far more than the program writes).
    static constexpr qint64 MaxFileSize = qint64(64) << 20;

    // Opens the key for reading: a missing file is an empty key. False only when something is at
    // the file's name but cannot be read: not a regular file (a pipe, a device, a link to
    // nothing), larger than MaxFileSize, or refused by the system. Needs no write access; writes
    // report their own failures.
    bool Open();
    // Opens the key, creating it when missing. False when neither works (folder not writable).
    bool OpenOrCreate();
    bool isOpen() const { return m_open; }

    // The values in enumeration order.
    QList<QPair<QString, QString>> Values() const;
    // Exact-name lookup; an absent value reads as the empty text and found = false.
    QString Value(const QString& name, bool* found = nullptr) const;
    // Writes one value (keeping its place when it exists). False when the file cannot be written.
    bool SetValue(const QString& name, const QString& value);

    QString filePath() const { return m_path; }
    // Why the last open or write failed, naming the file and the system's reason.
    QString errorString() const { return m_error; }
    // The last open failed because the file at the store's name could not be read; it is then
    // left as it is (never replaced by defaults).
    bool unreadable() const { return m_unreadable; }

    // One line of the file: name and value with their escapes, joined by '='.
    static QString EncodeLine(const QString& name, const QString& value);

private:
    bool load();
    bool save();

    QString m_path;
    QString m_error;
    bool m_open = false;
    bool m_unreadable = false;
    QList<QPair<QString, QString>> m_values;
    QHash<QString, qsizetype> m_index; // name -> place in m_values
};
