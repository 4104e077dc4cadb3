#include "patterns/settings/SettingsTable.h"
#include "patterns/settings/TSettings.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace {
using Pairs = QList<QPair<QString, QString>>;

// The table's entries that have a default, as NAME/VALUE pairs in its order.
Pairs tableDefaults() {
    Pairs out;
    for (const SettingSpec& spec : kSettings)
        if (spec.defaultText)
            out.append({QString::fromLatin1(spec.name), QString::fromUtf8(spec.defaultText)});
    return out;
}
} // namespace

TEST(SettingsTable, ReadmeListsTheSameDefaultsInTheSameOrder) {
    const QString source = qEnvironmentVariable("CAPTIOMARK_SOURCE_DIR");
    ASSERT_FALSE(source.isEmpty());
    QFile readme(source + QLatin1String("/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly)) << readme.errorString().toStdString();
    const QString text = QString::fromUtf8(readme.readAll());

    // The list item runs from its sentence to the next item.
    const QString lead = QStringLiteral("On first start the program writes the defaults:");
    const qsizetype start = text.indexOf(lead);
    ASSERT_GE(start, 0) << "README.md no longer has the defaults list";
    const qsizetype end = text.indexOf(QLatin1String("\n- "), start);
    ASSERT_GT(end, start);
    const QString item = text.mid(start + lead.size(), end - start - lead.size());

    Pairs listed;
    static const QRegularExpression pair(QStringLiteral("`([^`=]+)=([^`]*)`"));
    for (auto it = pair.globalMatch(item); it.hasNext();) {
        const auto m = it.next();
        listed.append({m.captured(1), m.captured(2)});
    }
    EXPECT_EQ(listed, tableDefaults());
    EXPECT_EQ(listed.size(), 17); // the two display formats have no default
}

TEST(SettingsTable, EntriesAreWellFormed) {
    QSet<QString> names;
    for (const SettingSpec& spec : kSettings) {
        const QString name = QString::fromLatin1(spec.name);
        SCOPED_TRACE(spec.name);
        EXPECT_FALSE(name.isEmpty());
        EXPECT_FALSE(names.contains(name)) << "twice";
        names.insert(name);
        EXPECT_LE(spec.minimum, spec.maximum);
        if (spec.kind != SettingKind::Number) {
            EXPECT_EQ(spec.minimum, INT_MIN) << "a range only for numbers";
            EXPECT_EQ(spec.maximum, INT_MAX) << "a range only for numbers";
        }
        if (!spec.defaultText) {
            EXPECT_EQ(spec.kind, SettingKind::Text) << "only texts go without a default";
            continue;
        }
        const QString def = QString::fromUtf8(spec.defaultText);
        switch (spec.kind) {
        case SettingKind::Flag:
            EXPECT_TRUE(def == "0" || def == "1");
            EXPECT_EQ(DefaultFlag(spec), def == "1");
            break;
        case SettingKind::Number: {
            bool ok = false;
            EXPECT_EQ(DefaultNumber(spec), def.toInt(&ok));
            EXPECT_TRUE(ok);
            EXPECT_GE(DefaultNumber(spec), spec.minimum);
            EXPECT_LE(DefaultNumber(spec), spec.maximum);
            break;
        }
        case SettingKind::Character:
            EXPECT_EQ(def.size(), 1);
            EXPECT_EQ(DefaultCharacter(spec), def.at(0));
            break;
        case SettingKind::Text:
        case SettingKind::Choice:
            EXPECT_EQ(DefaultText(spec), def);
            break;
        }
    }
}

TEST(SettingsTable, LookupIsExactAndCaseSensitive) {
    for (const SettingSpec& spec : kSettings)
        EXPECT_EQ(FindSetting(QString::fromLatin1(spec.name)), &spec) << spec.name;
    EXPECT_EQ(FindSetting(u"defaultfontsize"), nullptr);
    EXPECT_EQ(FindSetting(u"defaultFontSize "), nullptr);
    EXPECT_EQ(FindSetting(u"ProjectManagerBounds"), nullptr); // not one of LoadSettings' values
    EXPECT_EQ(FindSetting(u""), nullptr);
    static_assert(&Setting("defaultFontSize") == &kSettings[12]);
    static_assert(DefaultNumber(Setting("defaultCompressionQuality")) == 95);
}

TEST(SettingsTable, FreshSettingsHoldTheDefaults) {
    const TSettings s;
    EXPECT_TRUE(s.AutoFontSize);
    EXPECT_EQ(s.defaultCompressionQuality, 95);
    EXPECT_EQ(s.defaultRenameTmp, "23");
    EXPECT_EQ(s.defaultDate, "01.01.1980");
    EXPECT_EQ(s.defaultTime, "12:00:00");
    EXPECT_TRUE(s.defaultDateFormat.isEmpty());
    EXPECT_EQ(s.defaultDateDelimiter, QChar('.'));
    EXPECT_EQ(s.defaultTimeDelimiter, QChar('-'));
    EXPECT_TRUE(s.AutoRotate);
    EXPECT_FALSE(s.defaultFont);
}
