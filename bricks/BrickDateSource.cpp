#include "bricks/BrickDateSource.h"

#include "designer/state/TDesigner.h"
#include "patterns/settings/TSettings.h"

namespace {
QString openImage() {
    const TDesigner* d = TDesigner::Instance();
    return d ? d->FileName : QString();
}
} // namespace

BrickDateTime NewDateBrickValue() {
    try {
        return DateBrickValue(openImage());
    } catch (const Exception&) {
        return {Settings().defaultDate, 0};
    }
}

BrickDateTime NewTimeBrickValue() {
    try {
        return TimeBrickValue(openImage());
    } catch (const Exception&) {
        return {Settings().defaultTime, 0};
    }
}
