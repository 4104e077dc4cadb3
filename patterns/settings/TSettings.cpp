#include "patterns/settings/TSettings.h"

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

constexpr int DefaultQuality = 95;
constexpr int DefaultFontSize = 36;
constexpr TColor DefaultFontColor = clBlack;
const QString DefaultFontName = QStringLiteral("Arial");

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

// Empty text: write the default and use it.
QString textOrDefault(Key& key, const QString& name, const QString& def) {
    const QString text = key.find(name);
    if (!text.isEmpty())
        return text;
    key.write(name, def);
    return def;
}

// 0 (missing or stored 0): write the default and use it. Text that is not a number, or a
// number outside lo..hi, stops the load with an error naming the value.
int intOrDefault(Key& key, const QString& name, int def, int lo = INT_MIN, int hi = INT_MAX) {
    const QString text = key.find(name);
    int v = 0;
    try {
        v = toInt(text);
    } catch (const EConvertError& e) {
        throw EConvertError(QStringLiteral("Setting \"%1\": %2.").arg(name, e.message()));
    }
    if (v == 0) {
        key.write(name, QString::number(def));
        return def;
    }
    if (v < lo || v > hi)
        throw EConvertError(
            QStringLiteral("Setting \"%1\": '%2' is not a whole number from %3 to %4.")
                .arg(name, text)
                .arg(lo)
                .arg(hi));
    return v;
}

QChar delimiterOrDefault(Key& key, const QString& name, QChar def) {
    const QString text = key.find(name);
    if (!text.isEmpty())
        return text.at(0);
    key.write(name, QString(def));
    return def;
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
        makeFont(DefaultFontName, DefaultFontSize, DefaultFontColor, QString());
    return *builtIn;
}

void LoadSettings() {
    TSettings& s = Settings();
    s.defaultCompressionQuality = 0;
    s.defaultDate.clear();
    s.defaultTime.clear();
    s.defaultFont.reset();

    Key key;
    if (!key.open())
        ShowError(storeError(QStringLiteral("Can't write to registry."), key.store()));

    QString fontName = DefaultFontName;
    int fontSize = DefaultFontSize;
    TColor fontColor = DefaultFontColor;
    QString fontStyle;
    try {
        QString autoSize = key.find(QStringLiteral("AutoFontSize"));
        if (autoSize.trimmed().isEmpty()) {
            autoSize = QStringLiteral("1");
            key.write(QStringLiteral("AutoFontSize"), autoSize);
        }
        s.AutoFontSize = autoSize == QLatin1String("1");

        s.defaultCompressionQuality =
            intOrDefault(key, QStringLiteral("defaultCompressionQuality"), DefaultQuality, 1, 100);
        s.defaultRenameTmp =
            textOrDefault(key, QStringLiteral("defaultRenameTmp"), QStringLiteral("23"));
        s.defaultDate =
            textOrDefault(key, QStringLiteral("defaultDate"), QStringLiteral("01.01.1980"));

        // The four formats have no default: a value the store lacks keeps what memory held.
        bool found = false;
        QString text = key.find(QStringLiteral("defaultDateFormat"), &found);
        if (found)
            s.defaultDateFormat = text;
        s.defaultTime =
            textOrDefault(key, QStringLiteral("defaultTime"), QStringLiteral("12:00:00"));
        text = key.find(QStringLiteral("defaultDateFormatFile"), &found);
        if (found)
            s.defaultDateFormatFile = text;
        text = key.find(QStringLiteral("defaultTimeFormat"), &found);
        if (found)
            s.defaultTimeFormat = text;
        text = key.find(QStringLiteral("defaultTimeFormatFile"), &found);
        if (found)
            s.defaultTimeFormatFile = text;

        s.defaultDateDelimiter =
            delimiterOrDefault(key, QStringLiteral("defaultDateDelimiter"), QLatin1Char('.'));
        s.defaultTimeDelimiter =
            delimiterOrDefault(key, QStringLiteral("defaultTimeDelimiter"), QLatin1Char('-'));

        fontName = textOrDefault(key, QStringLiteral("defaultFontName"), DefaultFontName);
        fontSize = intOrDefault(key, QStringLiteral("defaultFontSize"), DefaultFontSize);
        fontColor = intOrDefault(key, QStringLiteral("defaultFontColor"), DefaultFontColor);
        fontStyle = textOrDefault(key, QStringLiteral("defaultFontStyle"), QString());
    } catch (const EConvertError&) {
        // The load stops at the bad value; what was read stays and the values cleared above
        // take their defaults, so that whoever goes on does not write JPEG quality 0.
        if (s.defaultCompressionQuality == 0)
            s.defaultCompressionQuality = DefaultQuality;
        if (s.defaultDate.isEmpty())
            s.defaultDate = QStringLiteral("01.01.1980");
        if (s.defaultTime.isEmpty())
            s.defaultTime = QStringLiteral("12:00:00");
        s.defaultFont = makeFont(fontName, fontSize, fontColor, fontStyle);
        throw;
    }

    s.defaultFont = makeFont(fontName, fontSize, fontColor, fontStyle);

    // Stored like AutoFontSize: on only for exactly "1", so "0" keeps the stored pixels.
    QString autoRotate = key.find(QStringLiteral("AutoRotate"));
    if (autoRotate.trimmed().isEmpty()) {
        autoRotate = QStringLiteral("1");
        key.write(QStringLiteral("AutoRotate"), autoRotate);
    }
    s.AutoRotate = autoRotate == QLatin1String("1");

    // Written once like AutoRotate; a batch reads it once per run.
    QString keepQuality = key.find(QStringLiteral("KeepPhotoQuality"));
    if (keepQuality.trimmed().isEmpty()) {
        keepQuality = QStringLiteral("0");
        key.write(QStringLiteral("KeepPhotoQuality"), keepQuality);
    }
    s.KeepPhotoQuality = keepQuality == QLatin1String("1");

    QString jobs = key.find(QStringLiteral("BatchJobs"));
    if (jobs.trimmed().isEmpty()) {
        jobs = QStringLiteral("0");
        key.write(QStringLiteral("BatchJobs"), jobs);
    }
    bool ok = false;
    const int n = jobs.trimmed().toInt(&ok);
    s.BatchJobs = ok && n > 0 ? std::min(n, 64) : 0;
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
        ShowError(storeError(QStringLiteral("Can't write to registry."), store));
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
        ShowError(storeError(QStringLiteral("Can't write to the registry."), key.store()));
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
