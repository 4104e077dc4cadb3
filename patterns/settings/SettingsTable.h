#pragma once

#include <QChar>
#include <QString>
#include <QStringView>
#include <array>
#include <climits>
#include <string_view>

// How a setting's text is read.
enum class SettingKind {
    Flag,      // on for exactly "1"; blank text takes the default
    Number,    // a whole number; missing text or 0 takes the default; minimum..maximum checked
    Text,      // empty text takes the default
    Character, // its first character; empty text takes the default
    Choice,    // a catalogue choice: the default only where the file lacks the value; a stored
               // text, even an empty one, is the user's choice and taken as it is
};

// One value of the settings file (Captiomark.conf).
struct SettingSpec {
    const char* name; // the value's name in the file, case-sensitive
    SettingKind kind;
    // Written whenever the file lacks the value (so on a first start). nullptr: no default, a
    // value the file lacks keeps what memory held.
    const char* defaultText;
    // Numbers only: the range LoadSettings accepts (anything else is refused with an error
    // naming the value).
    int minimum = INT_MIN;
    int maximum = INT_MAX;
};

// Every setting LoadSettings reads, in its reading order, which is also the order a first start
// writes the defaults in. TSettings, LoadSettings and the options dialog take names, defaults
// and ranges from here; README.md lists the same defaults (a test compares them).
inline constexpr std::array<SettingSpec, 19> kSettings{{
    {"AutoFontSize", SettingKind::Flag, "1"},
    {"defaultCompressionQuality", SettingKind::Number, "95", 1, 100},
    {"defaultRenameTmp", SettingKind::Text, "23"},
    {"defaultDate", SettingKind::Text, "01.01.1980"},
    {"defaultDateFormat", SettingKind::Text, nullptr},
    {"defaultTime", SettingKind::Text, "12:00:00"},
    // File names: sortable, and distinct to the minute (hh: hours of the 24-hour clock, padded).
    {"defaultDateFormatFile", SettingKind::Choice, "yyyy-MM-dd"},
    {"defaultTimeFormat", SettingKind::Text, nullptr},
    {"defaultTimeFormatFile", SettingKind::Choice, "5"}, // TimeFormats[5], "hh:mm:ss"
    {"defaultDateDelimiter", SettingKind::Character, "."},
    {"defaultTimeDelimiter", SettingKind::Character, "-"},
    {"defaultFontName", SettingKind::Text, "Arial"},
    {"defaultFontSize", SettingKind::Number, "36"},
    {"defaultFontColor", SettingKind::Number, "0"}, // clBlack
    {"defaultFontStyle", SettingKind::Text, ""},
    {"AutoRotate", SettingKind::Flag, "1"},
    {"KeepPhotoQuality", SettingKind::Flag, "0"},
    {"BatchJobs", SettingKind::Number, "0", 0, 64}, // 0: one per core
    // What dates a photo without a date taken: default, file (its modification time) or skip.
    {"DateFallback", SettingKind::Choice, "default"},
}};

// The entry of that name, looked up while compiling: a name the table lacks does not compile.
consteval const SettingSpec& Setting(std::string_view name) {
    for (const SettingSpec& spec : kSettings)
        if (name == spec.name)
            return spec;
    throw "no such setting"; // not a constant expression: the caller fails to compile
}

// The entry of that name at run time (exact case), or nullptr.
const SettingSpec* FindSetting(QStringView name);

// A setting's default as a value of its kind; an entry without default gives 0, false, an empty
// text or a null character.
constexpr int DefaultNumber(const SettingSpec& spec) {
    if (!spec.defaultText)
        return 0;
    const char* p = spec.defaultText;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    int v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        v = v * 10 + (*p - '0');
    return negative ? -v : v;
}
constexpr bool DefaultFlag(const SettingSpec& spec) {
    return spec.defaultText && std::string_view(spec.defaultText) == "1";
}
inline QString DefaultText(const SettingSpec& spec) {
    return QString::fromUtf8(spec.defaultText);
}
inline QChar DefaultCharacter(const SettingSpec& spec) {
    return spec.defaultText && *spec.defaultText ? QLatin1Char(*spec.defaultText) : QChar();
}
