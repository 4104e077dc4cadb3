#pragma once

#include "patterns/settings/SettingsTable.h"
#include "platform/TFont.h"

#include <QChar>
#include <QHash>
#include <QRect>
#include <QString>
#include <memory>

// The process-wide preferences, filled by LoadSettings from the settings key
// "SOFTWARE\\Captiomark". Before the first load they hold the defaults of kSettings.
struct TSettings {
    bool AutoFontSize = DefaultFlag(Setting("AutoFontSize"));
    int defaultCompressionQuality = DefaultNumber(Setting("defaultCompressionQuality"));
    QString defaultRenameTmp = DefaultText(Setting("defaultRenameTmp"));
    QString defaultDate = DefaultText(Setting("defaultDate"));
    QString defaultDateFormat;
    QString defaultTime = DefaultText(Setting("defaultTime"));
    QString defaultDateFormatFile = DefaultText(Setting("defaultDateFormatFile"));
    QString defaultTimeFormat;
    QString defaultTimeFormatFile = DefaultText(Setting("defaultTimeFormatFile"));
    QChar defaultDateDelimiter = DefaultCharacter(Setting("defaultDateDelimiter"));
    QChar defaultTimeDelimiter = DefaultCharacter(Setting("defaultTimeDelimiter"));
    // From defaultFontName, -Size, -Color and -Style; null until a load ran (DefaultFont then
    // gives the defaults).
    std::shared_ptr<TFont> defaultFont;
    // Photos are turned upright by their EXIF orientation when loaded.
    bool AutoRotate = DefaultFlag(Setting("AutoRotate"));
    // JPEGs saved without fit or rotation keep the photo's compressed data outside the bricks;
    // the quality setting then applies to nothing.
    bool KeepPhotoQuality = DefaultFlag(Setting("KeepPhotoQuality"));
    // Worker threads of a batch (0: one per core).
    int BatchJobs = DefaultNumber(Setting("BatchJobs"));
    // default, file or skip (see DatePhoto).
    QString DateFallback = DefaultText(Setting("DateFallback"));
    // ClockShift.<Model>=[+|-][D ]HH:MM[:SS]: seconds to add to the dates of that camera model.
    QHash<QString, qint64> ClockShifts;
};

extern const QString SettingsKey; // "SOFTWARE\\Captiomark"

TSettings& Settings();
// The default brick font (created with the built-in defaults when no load ran yet).
const TFont& DefaultFont();

// A value that cannot be read (not an integer; a JPEG quality outside 1..100) stops the load with
// EConvertError naming the value: the values read before it stay, the quality, dates and font
// not read yet take their defaults and the others keep what they held.
void LoadSettings();
// LoadSettings at start-up: a bad value is shown as an error box and the program goes on with
// what was read. False after such an error.
bool LoadSettingsOrReport();
// Bounds are stored as Left,Top,Right,Bottom with the toolkit's exclusive edges:
// Right = x() + width(), Bottom = y() + height(). An all-zero text reads as a null QRect.
void SaveFormBounds(const QString& valueName, const QRect& bounds);
QRect LoadFormBounds(const QString& valueName);
