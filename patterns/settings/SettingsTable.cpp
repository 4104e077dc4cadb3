#include "patterns/settings/SettingsTable.h"

const SettingSpec* FindSetting(QStringView name) {
    for (const SettingSpec& spec : kSettings)
        if (name == QLatin1String(spec.name))
            return &spec;
    return nullptr;
}
