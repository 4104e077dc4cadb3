#include "bricks/BrickDateSource.h"

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
