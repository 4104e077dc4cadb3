#include "patterns/settings/TSettings.h"

#include "patterns/settings/PhotoDates.h"
#include "platform/Conversions.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/SettingsStore.h"

#include <algorithm>
#include <climits>
const QString SettingsKey = QStringLiteral("SOFTWARE\\Captiomark");

namespace {
// The registry enumeration buffer held 1001 characters: longer names or data are never matched.
constexpr qsizetype MaxEnumLength = 1001;

constexpr const SettingSpec& AutoFontSizeSpec = Setting("AutoFontSize");
constexpr const SettingSpec& QualitySpec = Setting("defaultCompressionQuality");
constexpr const SettingSpec& RenameTmpSpec = Setting("defaultRenameTmp");
constexpr const SettingSpec& DateSpec = Setting("defaultDate");
constexpr const SettingSpec& DateFormatSpec = Setting("defaultDateFormat");
constexpr const SettingSpec& TimeSpec = Setting("defaultTime");
constexpr const SettingSpec& DateFormatFileSpec = Setting("defaultDateFormatFile");
constexpr const SettingSpec& TimeFormatSpec = Setting("defaultTimeFormat");
constexpr const SettingSpec& TimeFormatFileSpec = Setting("defaultTimeFormatFile");
constexpr const SettingSpec& DateDelimiterSpec = Setting("defaultDateDelimiter");
constexpr const SettingSpec& TimeDelimiterSpec = Setting("defaultTimeDelimiter");
constexpr const SettingSpec& FontNameSpec = Setting("defaultFontName");
constexpr const SettingSpec& FontSizeSpec = Setting("defaultFontSize");
constexpr const SettingSpec& FontColorSpec = Setting("defaultFontColor");
constexpr const SettingSpec& FontStyleSpec = Setting("defaultFontStyle");
constexpr const SettingSpec& AutoRotateSpec = Setting("AutoRotate");

QString nameOf(const SettingSpec& spec) {
    return QString::fromLatin1(spec.name);
}

std::shared_ptr<TFont> makeFont(const QString& name, int size, TColor color, const QString& style) {
    auto font = std::make_shared<TFont>();
    font->setName(name);
    font->setSize(size);
    font->setColor(color);
    Tk::TFontStyles styles;
    if (style.contains(QLatin1String("Bold")))
        styles |= Tk::fsBold;
    if (style.contains(QLatin1String("Italic")))
        styles |= Tk::fsItalic;
    if (style.contains(QLatin1String("Underline")))
        styles |= Tk::fsUnderline;
    if (style.contains(QLatin1String("StrikeOut")))
        styles |= Tk::fsStrikeOut;
    font->setStyle(styles);
    return font;
}

// Missing text is 0: the lookup of an absent value yields 0 before the defaults apply.
int toInt(const QString& text) {
    return text.isEmpty() ? 0 : StrToInt(text);
}

// "Can't write to registry." with the file and the system's reason.
QString storeError(const QString& sentence, const SettingsStore& store) {
    const QString why = store.errorString();
    return why.isEmpty() ? sentence : sentence + QLatin1Char(' ') + why;
}

// A store that cannot be opened. A settings file that cannot be read (a pipe, a device, a huge
// file) is said once, with what happens next; every later load or save of window bounds then
// quietly does without it.
void reportStoreFailure(const QString& sentence, const SettingsStore& store) {
    if (store.unreadable())
        ShowErrorOnce(store.errorString() +
                      QStringLiteral(" The default settings are used and the file is left as it "
                                     "is; nothing is saved there until it is replaced by a "
                                     "regular file."));
    else
        ShowError(storeError(sentence, store));
}

// The key as LoadSettings sees it: an open store, or nothing (all lookups empty, no writes).
class Key {
public:
    Key() : m_store(SettingsKey) {}
    bool open() { return m_store.OpenOrCreate(); }
    const SettingsStore& store() const { return m_store; }

    QString find(const QString& name, bool* found = nullptr) const {
        if (found)
            *found = false;
        if (!m_store.isOpen())
            return QString();
        bool present = false;
        const QString data = m_store.Value(name, &present);
        if (!present || name.size() > MaxEnumLength || data.size() > MaxEnumLength)
            return QString();
        if (found)
            *found = true;
        return data;
    }
    // A default that cannot be stored is still used; the first failure is reported once.
    void write(const QString& name, const QString& value) {
        if (!m_store.isOpen() || m_store.SetValue(name, value) || m_writeReported)
            return;
        m_writeReported = true;
        ShowError(storeError(QStringLiteral("Can't write to registry."), m_store));
    }

private:
    SettingsStore m_store;
    bool m_writeReported = false;
};

// Blank text: write the default and use it. On only for exactly "1".
bool flagOrDefault(Key& key, const SettingSpec& spec) {
    QString text = key.find(nameOf(spec));
    if (text.trimmed().isEmpty()) {
        text = DefaultText(spec);
        key.write(nameOf(spec), text);
    }
    return text == QLatin1String("1");
}

// Empty text: write the default and use it.
QString textOrDefault(Key& key, const SettingSpec& spec) {
    const QString text = key.find(nameOf(spec));
    if (!text.isEmpty())
        return text;
    key.write(nameOf(spec), DefaultText(spec));
    return DefaultText(spec);
}

// No default: a value the store lacks keeps what memory held.
void textIfStored(Key& key, const SettingSpec& spec, QString& target) {
    bool found = false;
    const QString text = key.find(nameOf(spec), &found);
    if (found)
        target = text;
}

// Missing: write the default and use it. Stored, even empty: the user's choice.
QString choiceOrDefault(Key& key, const SettingSpec& spec) {
    bool found = false;
    const QString text = key.find(nameOf(spec), &found);
    if (found)
        return text;
    key.write(nameOf(spec), DefaultText(spec));
    return DefaultText(spec);
}

// 0 (missing or stored 0): write the default and use it. Text that is not a number, or a
// number outside the setting's range, stops the load with an error naming the value.
int intOrDefault(Key& key, const SettingSpec& spec) {
    const QString name = nameOf(spec);
    const QString text = key.find(name);
    int v = 0;
    try {
        v = toInt(text);
    } catch (const EConvertError& e) {
        throw EConvertError(QStringLiteral("Setting \"%1\": %2.").arg(name, e.message()));
    }
    if (v == 0) {
        key.write(name, DefaultText(spec));
        return DefaultNumber(spec);
    }
    if (v < spec.minimum || v > spec.maximum)
        throw EConvertError(
            QStringLiteral("Setting \"%1\": '%2' is not a whole number from %3 to %4.")
                .arg(name, text)
                .arg(spec.minimum)
                .arg(spec.maximum));
    return v;
}

QChar delimiterOrDefault(Key& key, const SettingSpec& spec) {
    const QString text = key.find(nameOf(spec));
    if (!text.isEmpty())
        return text.at(0);
    key.write(nameOf(spec), DefaultText(spec));
    return DefaultCharacter(spec);
}
} // namespace

TSettings& Settings() {
    static TSettings settings;
    return settings;
}

const TFont& DefaultFont() {
    if (const auto& loaded = Settings().defaultFont)
        return *loaded;
    static const std::shared_ptr<TFont> builtIn =
        makeFont(DefaultText(FontNameSpec), DefaultNumber(FontSizeSpec),
                 DefaultNumber(FontColorSpec), DefaultText(FontStyleSpec));
    return *builtIn;
}

// Reads kSettings in its order (the order a first start writes the defaults in).
void LoadSettings() {
    TSettings& s = Settings();
    s.defaultCompressionQuality = 0;
    s.defaultDate.clear();
    s.defaultTime.clear();
    s.defaultFont.reset();

    Key key;
    if (!key.open())
        reportStoreFailure(QStringLiteral("Can't write to registry."), key.store());

    QString fontName = DefaultText(FontNameSpec);
    int fontSize = DefaultNumber(FontSizeSpec);
    TColor fontColor = DefaultNumber(FontColorSpec);
    QString fontStyle = DefaultText(FontStyleSpec);
    try {
        s.AutoFontSize = flagOrDefault(key, AutoFontSizeSpec);
        s.defaultCompressionQuality = intOrDefault(key, QualitySpec);
        s.defaultRenameTmp = textOrDefault(key, RenameTmpSpec);
        s.defaultDate = textOrDefault(key, DateSpec);
        textIfStored(key, DateFormatSpec, s.defaultDateFormat);
        s.defaultTime = textOrDefault(key, TimeSpec);
        s.defaultDateFormatFile = choiceOrDefault(key, DateFormatFileSpec);
        textIfStored(key, TimeFormatSpec, s.defaultTimeFormat);
        s.defaultTimeFormatFile = choiceOrDefault(key, TimeFormatFileSpec);
        s.defaultDateDelimiter = delimiterOrDefault(key, DateDelimiterSpec);
        s.defaultTimeDelimiter = delimiterOrDefault(key, TimeDelimiterSpec);
        fontName = textOrDefault(key, FontNameSpec);
        fontSize = intOrDefault(key, FontSizeSpec);
        fontColor = intOrDefault(key, FontColorSpec);
        fontStyle = textOrDefault(key, FontStyleSpec);
    } catch (const EConvertError&) {
        // The load stops at the bad value; what was read stays and the values cleared above
        // take their defaults, so that whoever goes on does not write JPEG quality 0.
        if (s.defaultCompressionQuality == 0)
            s.defaultCompressionQuality = DefaultNumber(QualitySpec);
        if (s.defaultDate.isEmpty())
            s.defaultDate = DefaultText(DateSpec);
        if (s.defaultTime.isEmpty())
            s.defaultTime = DefaultText(TimeSpec);
        s.defaultFont = makeFont(fontName, fontSize, fontColor, fontStyle);
        throw;
    }

    s.defaultFont = makeFont(fontName, fontSize, fontColor, fontStyle);
    s.AutoRotate = flagOrDefault(key, AutoRotateSpec);
    s.KeepPhotoQuality = flagOrDefault(key, Setting("KeepPhotoQuality"));
    s.BatchJobs = intOrDefault(key, Setting("BatchJobs"));
    s.DateFallback = choiceOrDefault(key, Setting("DateFallback"));
    const QString fallback = s.DateFallback.trimmed().toLower();
    if (fallback != QLatin1String("default") && fallback != QLatin1String("file") &&
        fallback != QLatin1String("skip")) {
        const QString stored = s.DateFallback;
        s.DateFallback = DefaultText(Setting("DateFallback"));
        throw EConvertError(QStringLiteral("Setting \"DateFallback\": '%1' is none of default, "
                                           "file and skip.")
                                .arg(stored));
    }

    // Per camera model, named after its EXIF Model.
    s.ClockShifts.clear();
    const QString prefix = QStringLiteral("ClockShift.");
    if (key.store().isOpen()) {
        for (const auto& [name, value] : key.store().Values()) {
            if (!name.startsWith(prefix) || name.size() == prefix.size())
                continue;
            try {
                s.ClockShifts.insert(name.mid(prefix.size()).trimmed(), ParseClockShift(value));
            } catch (const EConvertError& e) {
                throw EConvertError(QStringLiteral("Setting \"%1\": %2").arg(name, e.message()));
            }
        }
    }
}

bool LoadSettingsOrReport() {
    try {
        LoadSettings();
        return true;
    } catch (const EConvertError& e) {
        ShowError(e.message());
        return false;
    }
}

void SaveFormBounds(const QString& valueName, const QRect& bounds) {
    SettingsStore store(SettingsKey);
    if (!store.OpenOrCreate()) {
        reportStoreFailure(QStringLiteral("Can't write to registry."), store);
        return;
    }
    const QString text = QStringLiteral("%1,%2,%3,%4")
                             .arg(bounds.x())
                             .arg(bounds.y())
                             .arg(bounds.x() + bounds.width())
                             .arg(bounds.y() + bounds.height());
    if (!store.SetValue(valueName, text))
        ShowError(storeError(QStringLiteral("Can't write to registry."), store));
}

QRect LoadFormBounds(const QString& valueName) {
    int left = 0, top = 0, right = 0, bottom = 0;
    Key key;
    if (!key.open())
        reportStoreFailure(QStringLiteral("Can't write to the registry."), key.store());
    const QString text = key.find(valueName);
    if (!text.isEmpty()) {
        try {
            // Each part runs up to the next comma (no comma: an empty part); Bottom is the rest.
            QString rest = text;
            auto next = [&rest]() {
                const qsizetype comma = rest.indexOf(QLatin1Char(','));
                const QString part = comma < 0 ? QString() : rest.left(comma);
                rest = comma < 0 ? QString() : rest.mid(comma + 1);
                return part;
            };
            auto strict = [](const QString& part) { return StrToInt(part); };
            left = strict(next());
            top = strict(next());
            right = strict(next());
            bottom = strict(rest);
        } catch (const EConvertError&) {
            ShowMessage(QStringLiteral("Wrong Form Bounds data"));
        }
    }
    return QRect(left, top, right - left, bottom - top);
}
