#include "batch/core/RenameTemplate.h"

#include "patterns/settings/CaptionFields.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/Messages.h"

#include <optional>

const QString ForbiddenFileNameChars = QStringLiteral("\\/:*?\"<>|");
const QString CustomTextPlaceholder = QStringLiteral("Type \nyour text \nhere");

namespace {

// Trim as the runtime does: every character at or below the blank.
QString trimLow(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b);
}

QString fileNamePart(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// The extension with its dot, or empty when the name has none.
QString extensionOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

QString withoutExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

struct TokenFailed {
    QString why;
};

} // namespace

QString ForbiddenCharacterMessage(QChar c) {
    return QStringLiteral("You can't use \"%1\" in file names.").arg(c);
}

bool RemoveOneForbiddenCharacter(QString& text) {
    for (QChar c : ForbiddenFileNameChars) {
        const qsizetype at = text.indexOf(c);
        if (at < 0)
            continue;
        ShowInformation(ForbiddenCharacterMessage(c));
        text.remove(at, 1);
        return true;
    }
    return false;
}

void RemoveForbiddenCharacters(QString& text) {
    while (RemoveOneForbiddenCharacter(text)) {
    }
}

void TRenameTemplate::LoadStored(const QString& stored) {
    NameTemplate.fill(rtNone);
    AvailableTokens = {1, 2, 3, 4, 5};
    int slot = 0;
    for (QChar c : stored.left(TokenSlots)) {
        const int id = c.digitValue();
        // A hand-edited store must not put a token into both rows or twice into one.
        if (id < rtCustomText || id > rtOldName || RowOf(id) == TTokenRowKind::NewName)
            continue;
        NameTemplate[slot++] = id;
        for (int& a : AvailableTokens)
            if (a == id)
                a = rtNone;
    }
    CloseGaps();
}

QString TRenameTemplate::StoredForm() const {
    QString out;
    for (int id : NameTemplate)
        if (id != rtNone)
            out += QString::number(id);
    return out;
}

void TRenameTemplate::CloseGaps() {
    for (TTokenRow* r : {&NameTemplate, &AvailableTokens}) {
        TTokenRow packed{};
        int n = 0;
        for (int id : *r)
            if (id != rtNone)
                packed[n++] = id;
        *r = packed;
    }
}

TTokenRowKind TRenameTemplate::RowOf(int id) const {
    for (int t : NameTemplate)
        if (t == id)
            return TTokenRowKind::NewName;
    return TTokenRowKind::Available;
}

int TRenameTemplate::SlotOf(int id) const {
    const TTokenRow& r = RowOf(id) == TTokenRowKind::NewName ? NameTemplate : AvailableTokens;
    for (int k = 0; k < TokenSlots; ++k)
        if (r[k] == id)
            return k;
    return -1;
}

void TRenameTemplate::Drop(int id, TTokenRowKind kind, int dropSlot) {
    if (id < rtCustomText || id > rtOldName)
        return;
    for (TTokenRow* r : {&NameTemplate, &AvailableTokens})
        for (int& t : *r)
            if (t == id)
                t = rtNone;
    dropSlot = std::clamp(dropSlot, 0, TokenSlots - 1);
    TTokenRow& r = row(kind);
    TTokenRow placed{};
    int n = 0;
    for (int k = 0; k < dropSlot; ++k)
        if (r[k] != rtNone)
            placed[n++] = r[k];
    placed[n++] = id;
    for (int k = dropSlot; k < TokenSlots; ++k)
        if (r[k] != rtNone)
            placed[n++] = r[k];
    r = placed;
    CloseGaps();
}

QString TRenameTemplate::CustomTextPart(const TPhotoFields* fields) const {
    QString text = CustomText;
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    // Fields first: a date format may hold a colon, which the name then loses with the others.
    if (fields)
        text = ExpandFieldsForFileName(text, *fields);
    for (QChar c : ForbiddenFileNameChars)
        text.remove(c);
    return text;
}

QString TRenameTemplate::MakeNewName(const QString& path, int number) const {
    const Result r = BuildNewName(path, number);
    return r.problem.isEmpty() ? r.name : fileNamePart(path);
}

TRenameTemplate::Result TRenameTemplate::BuildNewName(const QString& path, int number) const {
    // The old name is used as it is: blanks are part of a name.
    const QString oldName = fileNamePart(path);
    if (!Rename)
        return {oldName, {}};

    std::optional<double> taken;
    auto pictureDate = [&]() {
        if (!taken) {
            try {
                taken = ExifDateTime(path);
            } catch (const Exception& e) {
                // DateFallback=file names the photo by its file's time; otherwise a name made
                // from a stand-in date would pass for the photo's own.
                if (DateFallbackSetting() == TDateFallback::FileTime)
                    taken = DatePhoto(path, nullptr).taken.value;
                else
                    throw TokenFailed{
                        QStringLiteral("the date the picture was taken cannot be read (%1)")
                            .arg(e.message())};
            }
        }
        return *taken;
    };
    // The fields of the custom text, read once and only when it has some.
    std::optional<TPhotoFields> fields;
    if (HasFields(CustomText))
        fields = ReadPhotoFields(path, number);

    const TSettings& s = Settings();
    QString name;
    // Where the old name stands in the built name: trimming stops there.
    qsizetype keptFrom = -1, keptTo = -1;
    try {
        for (int id : NameTemplate) {
            switch (id) {
            case rtCustomText:
                name += CustomTextPart(fields ? &*fields : nullptr);
                break;
            case rtDate: {
                const QString text = FormatDateTimeText(s.defaultDateFormatFile, pictureDate());
                if (!trimLow(text).isEmpty())
                    name += QLatin1Char(' ') + text;
                break;
            }
            case rtTime: {
                bool ok = false;
                const int index = s.defaultTimeFormatFile.toInt(&ok);
                if (!ok || index < 0 || index >= TimeFormats.size())
                    throw TokenFailed{
                        s.defaultTimeFormatFile.isEmpty()
                            ? QStringLiteral("no time format for file names is chosen (Options)")
                            : QStringLiteral("the time format for file names, \"%1\", is none "
                                             "of the list (Options)")
                                  .arg(s.defaultTimeFormatFile)};
                QString text = FormatDateTimeText(TimeFormats.at(index), pictureDate());
                text.replace(QLatin1Char(':'), s.defaultTimeDelimiter);
                if (!trimLow(text).isEmpty())
                    name += QLatin1Char(' ') + text;
                break;
            }
            case rtNumber:
                name += QString::number(number);
                break;
            case rtOldName: {
                const QString old = withoutExtension(oldName);
                if (keptFrom < 0)
                    keptFrom = name.size();
                name += old;
                keptTo = name.size();
                break;
            }
            default:
                break;
            }
        }
    } catch (const TokenFailed& failed) {
        return {oldName, failed.why};
    }
    // The blanks the template brings in (the one before a date, a custom text's) go from both
    // ends; the old name and its extension keep theirs.
    qsizetype begin = 0, end = name.size();
    const qsizetype beginLimit = keptFrom < 0 ? end : keptFrom;
    while (begin < beginLimit && name[begin].unicode() <= 0x20)
        ++begin;
    const qsizetype endLimit = keptTo < 0 ? begin : keptTo;
    while (end > std::max(begin, endLimit) && name[end - 1].unicode() <= 0x20)
        --end;
    return {name.mid(begin, end - begin) + extensionOf(oldName), {}};
}

int TokenSlotLeft(int base, int slot, int tokenWidth) {
    return base + 6 + slot * (tokenWidth + 6);
}

int InsertMarkerLeft(int tokenLeft, int base, int tokenWidth) {
    if (tokenWidth <= 0)
        return base;
    // Integer division truncates toward zero, as div does.
    const int left = base + ((tokenLeft - base) / tokenWidth) * (tokenWidth + 6);
    return std::max(left, base);
}

int TokenDropSlot(int tokenLeft, int base, int tokenWidth) {
    const int from = base + 5;
    if (tokenLeft < from || tokenWidth <= 0)
        return 0;
    return std::min((tokenLeft - from) / tokenWidth, TokenSlots - 1);
}
