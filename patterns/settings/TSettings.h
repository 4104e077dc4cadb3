#pragma once

#include "platform/TFont.h"

#include <QChar>
#include <QRect>
#include <QString>
#include <memory>

// The process-wide preferences, filled by LoadSettings from the settings key
// "SOFTWARE\\Captiomark". Before the first load they hold the built-in defaults.
struct TSettings {
    bool AutoFontSize = true;
    int defaultCompressionQuality = 95;
    QString defaultRenameTmp = QStringLiteral("23");
    QString defaultDate = QStringLiteral("01.01.1980");
    QString defaultDateFormat;
    QString defaultTime = QStringLiteral("12:00:00");
    QString defaultDateFormatFile;
    QString defaultTimeFormat;
    QString defaultTimeFormatFile;
    QChar defaultDateDelimiter = QLatin1Char('.');
    QChar defaultTimeDelimiter = QLatin1Char('-');
    // Arial 36 points black, no style.
    std::shared_ptr<TFont> defaultFont;
    // Photos are turned upright by their EXIF orientation when loaded ("AutoRotate", "1").
    bool AutoRotate = true;
    // JPEGs saved without fit or rotation keep the photo's compressed data outside the bricks
    // ("KeepPhotoQuality", "0"); the quality setting then applies to nothing.
    bool KeepPhotoQuality = false;
    // Worker threads of a batch ("BatchJobs", "0" = one per core).
    int BatchJobs = 0;
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
