#include "app/cli/CliOptions.h"

#include "app/cli/CliCommands.h"
#include "patterns/settings/PhotoDates.h"
#include "platform/Errors.h"

namespace {
const QCommandLineOption PatternOption(QStringLiteral("pattern"), QString(),
                                       QStringLiteral("FILE.xml"));
const QCommandLineOption ZoomOption(QStringLiteral("zoom"), QString(), QStringLiteral("R"));
const QCommandLineOption KeepQualityOption(QStringLiteral("keep-quality"), QString());
const QCommandLineOption ShiftTimeOption(QStringLiteral("shift-time"), QString(),
                                         QStringLiteral("SHIFT"));

// An argument can never hold a zero character, so a masked word cannot clash with a real one.
constexpr QChar MaskMark(0);
} // namespace

CliOptions::CliOptions(const QList<QCommandLineOption>& options) : m_options(options) {
    m_parser.addOptions(options);
}

void CliOptions::parse(const QStringList& words) {
    // The parser would read a one-dash word as short options: it gets a stand-in instead.
    m_masked.clear();
    QStringList line{QStringLiteral("captiomark-cli")};
    for (const QString& word : words) {
        if (word.startsWith(QLatin1Char('-')) && !word.startsWith(QLatin1String("--"))) {
            line.append(MaskMark + QString::number(m_masked.size()));
            m_masked.append(word);
        } else {
            line.append(word);
        }
    }
    if (m_parser.parse(line))
        return;

    // The word as it was typed, "--name" or "--name=value".
    auto typed = [&words](const QString& name) {
        const QString option = QStringLiteral("--") + name;
        for (const QString& word : words) {
            if (word == QLatin1String("--"))
                break;
            if (word == option || word.startsWith(option + QLatin1Char('=')))
                return word;
        }
        return option;
    };
    const QStringList unknown = m_parser.unknownOptionNames();
    if (!unknown.isEmpty())
        throw CliUsageError(QStringLiteral("unknown option '%1'").arg(typed(unknown.first())));
    // A flag given a value is not an option of this command either.
    for (const QCommandLineOption& option : m_options) {
        const QString name = option.names().constFirst();
        if (option.valueName().isEmpty() && typed(name).contains(QLatin1Char('=')))
            throw CliUsageError(QStringLiteral("unknown option '%1'").arg(typed(name)));
    }
    // What remains: a value option that ends the line.
    throw CliUsageError(QStringLiteral("%1 needs a value").arg(words.last()));
}

QString CliOptions::unmask(const QString& word) const {
    if (!word.startsWith(MaskMark))
        return word;
    return m_masked.value(word.mid(1).toInt());
}

QStringList CliOptions::values(const QCommandLineOption& option) const {
    QStringList out;
    for (const QString& value : m_parser.values(option))
        out.append(unmask(value));
    return out;
}

QStringList CliOptions::arguments() const {
    QStringList out;
    for (const QString& word : m_parser.positionalArguments())
        out.append(unmask(word));
    return out;
}

QList<QCommandLineOption> PatternOptions::options() {
    return {PatternOption, ZoomOption, KeepQualityOption, ShiftTimeOption};
}

PatternOptions PatternOptions::read(const CliOptions& parsed) {
    PatternOptions p;
    p.keepQuality = parsed.isSet(KeepQualityOption);
    const QStringList patterns = parsed.values(PatternOption);
    if (!patterns.isEmpty())
        p.pattern = patterns.last();
    // Every value given is checked, the last one counts.
    for (const QString& text : parsed.values(ZoomOption)) {
        bool ok = false;
        const double zoom = text.toDouble(&ok);
        if (!ok || !(zoom > 0) || zoom > 1000)
            throw CliUsageError(QStringLiteral("invalid zoom ratio '%1'").arg(text));
        p.zoom = zoom;
    }
    for (const QString& text : parsed.values(ShiftTimeOption)) {
        try {
            p.shiftTime = ParseClockShift(text);
        } catch (const Exception& e) {
            throw CliUsageError(QStringLiteral("invalid --shift-time: %1").arg(e.message()));
        }
    }
    return p;
}
