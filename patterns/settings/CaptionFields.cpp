#include "patterns/settings/CaptionFields.h"

#include "imaging/core/TExif.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"

#include <QFile>
#include <QFileInfo>
#include <functional>

namespace {
// Characters no file name may hold (those the rename memo refuses), and line breaks.
const QString NotInFileNames = QStringLiteral("\\/:*?\"<>|\r\n");

QString dateField() {
    return QStringLiteral("Date");
}
QString timeField() {
    return QStringLiteral("Time");
}

// The field's canonical name for a name written in any letter case; empty when it is none.
QString canonical(const QString& written) {
    for (const QString& name : FieldNames())
        if (name.compare(written, Qt::CaseInsensitive) == 0)
            return name;
    return QString();
}

QString timeDisplayFormat() {
    bool ok = false;
    const QString index = Settings().defaultTimeFormat;
    const int i = (index.isEmpty() ? QStringLiteral("1") : index).toInt(&ok);
    return ok && i >= 0 && i < TimeFormats.size() ? TimeFormats.at(i) : TimeFormats.at(1);
}

// Walks a caption: literal text goes to literal(), each field to field(name, format, hasFormat).
void walk(const QString& caption, const std::function<void(const QString&)>& literal,
          const std::function<void(const QString&, const QString&, bool)>& field) {
    qsizetype i = 0;
    const qsizetype n = caption.size();
    while (i < n) {
        const QChar c = caption[i];
        if (c == QLatin1Char('{') && i + 1 < n && caption[i + 1] == QLatin1Char('{')) {
            literal(QStringLiteral("{"));
            i += 2;
            continue;
        }
        if (c == QLatin1Char('}') && i + 1 < n && caption[i + 1] == QLatin1Char('}')) {
            literal(QStringLiteral("}"));
            i += 2;
            continue;
        }
        if (c == QLatin1Char('{')) {
            const qsizetype close = caption.indexOf(QLatin1Char('}'), i + 1);
            if (close > i) {
                const QString inside = caption.mid(i + 1, close - i - 1);
                const qsizetype colon = inside.indexOf(QLatin1Char(':'));
                const QString name = canonical(colon < 0 ? inside : inside.left(colon));
                const bool formatted = colon >= 0;
                // Only the dates take a format.
                if (!name.isEmpty() &&
                    (!formatted || name == dateField() || name == timeField())) {
                    field(name, formatted ? inside.mid(colon + 1) : QString(), formatted);
                    i = close + 1;
                    continue;
                }
            }
        }
        literal(QString(c));
        ++i;
    }
}

QString valueOf(const QString& name, const QString& format, bool formatted,
                const TPhotoFields& fields, bool* has) {
    *has = true;
    if (name == QLatin1String("FileName")) {
        *has = !fields.fileName.isEmpty();
        return fields.fileName;
    }
    if (name == QLatin1String("Counter")) {
        *has = fields.counter.has_value();
        return fields.counter ? QString::number(*fields.counter) : QString();
    }
    if (name == dateField() || name == timeField()) {
        if (fields.dated.skip) {
            *has = false;
            return QString();
        }
        *has = fields.dated.hasDate;
        const QString f = formatted ? format
                          : name == dateField() ? Settings().defaultDateFormat
                                                : timeDisplayFormat();
        return FormatDateTimeText(f, fields.dated.taken.value, fields.dated.taken.offset);
    }
    const auto it = fields.tags.values.constFind(name);
    if (it == fields.tags.values.cend()) {
        *has = false;
        return QString();
    }
    return it.value();
}

QString expand(const QString& caption, const TPhotoFields& fields, QStringList* missing,
               bool forFileName) {
    QString out;
    walk(
        caption, [&out](const QString& text) { out += text; },
        [&](const QString& name, const QString& format, bool formatted) {
            bool has = true;
            QString v = valueOf(name, format, formatted, fields, &has);
            if (!has && missing && !missing->contains(name))
                missing->append(name);
            if (forFileName)
                for (QChar c : NotInFileNames)
                    v.remove(c);
            out += v;
        });
    return out;
}
} // namespace

QStringList FieldNames() {
    QStringList names = PhotoTagNames;
    names << QStringLiteral("FileName") << dateField() << timeField()
          << QStringLiteral("Counter");
    return names;
}

TPhotoFields PhotoFieldsOf(const QString& file, const QByteArray& bytes, const TExif* exif,
                           std::optional<int> counter) {
    TPhotoFields f;
    f.tags = ReadPhotoTags(bytes);
    f.dated = DatePhoto(file, exif);
    f.fileName = QFileInfo(file).fileName();
    f.counter = counter;
    return f;
}

TPhotoFields ReadPhotoFields(const QString& file, std::optional<int> counter) {
    QByteArray bytes;
    QFile in(file);
    // Only a regular file is read (a pipe at the photo's name would hold the caller), and no
    // more of it than a photo's metadata can need.
    constexpr qint64 MaxRead = qint64(64) << 20;
    if (QFileInfo(file).isFile() && in.open(QIODevice::ReadOnly))
        bytes = in.read(MaxRead);
    TExif exif;
    bool hasExif = false;
    try {
        exif.LoadFromBytes(bytes);
        hasExif = true;
    } catch (const Exception&) {
    }
    return PhotoFieldsOf(file, bytes, hasExif ? &exif : nullptr, counter);
}

QString ExpandFields(const QString& caption, const TPhotoFields& fields, QStringList* missing) {
    return expand(caption, fields, missing, false);
}

QString ExpandFieldsForFileName(const QString& text, const TPhotoFields& fields,
                                QStringList* missing) {
    return expand(text, fields, missing, true);
}

QStringList FieldsUsed(const QString& caption) {
    QStringList used;
    walk(
        caption, [](const QString&) {},
        [&used](const QString& name, const QString&, bool) {
            if (!used.contains(name))
                used.append(name);
        });
    return used;
}

bool HasFields(const QString& caption) {
    if (!caption.contains(QLatin1Char('{')) && !caption.contains(QLatin1String("}}")))
        return false;
    bool found = caption.contains(QLatin1String("{{")) || caption.contains(QLatin1String("}}"));
    if (!found)
        found = !FieldsUsed(caption).isEmpty();
    return found;
}
