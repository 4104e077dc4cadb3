#include "bricks/BrickDateSource.h"

#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"

BrickDateTime NewDateBrickValue(const QString& openImage) {
    try {
        return DateBrickValue(openImage);
    } catch (const Exception&) {
        return {Settings().defaultDate, 0};
    }
}

BrickDateTime NewTimeBrickValue(const QString& openImage) {
    try {
        return TimeBrickValue(openImage);
    } catch (const Exception&) {
        return {Settings().defaultTime, 0};
    }
}

QString DateBrickText(const TTextDate& brick) {
    return FormatDateTimeText(brick.Format, brick.DateValue);
}

QString TimeBrickFormat(const QString& indexText) {
    bool ok = false;
    const int index = (indexText.isEmpty() ? QStringLiteral("1") : indexText).toInt(&ok);
    return ok && index >= 0 && index < TimeFormats.size() ? TimeFormats.at(index)
                                                          : TimeFormats.at(1);
}

QString TimeBrickText(const TTextTime& brick) {
    return FormatDateTimeText(TimeBrickFormat(brick.Format), brick.DateValue);
}
