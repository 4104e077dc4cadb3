#include "app/cli/CliCommands.h"

#include "app/cli/BatchCommand.h"
#include "app/cli/RenderCommand.h"
#include "imaging/core/TExif.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/SettingsStore.h"

#include <algorithm>

namespace {
const QString Program = QStringLiteral("captiomark-cli");

QString usageLine(const CliCommand& c) {
    return QStringLiteral("usage: %1 %2%3")
        .arg(Program, c.name, c.usage.isEmpty() ? QString() : QLatin1Char(' ') + c.usage);
}

QString programUsage() {
    return QStringLiteral("usage: %1 COMMAND [ARGS...]  (%1 --help lists the commands)")
        .arg(Program);
}

bool isHelp(const QString& a) {
    return a == QLatin1String("--help") || a == QLatin1String("-h");
}

void expectArgs(const CliContext& c, int count) {
    if (c.args.size() < count)
        throw CliUsageError(QStringLiteral("missing argument"));
    if (c.args.size() > count)
        throw CliUsageError(QStringLiteral("unexpected argument '%1'").arg(c.args[count]));
}

int exifCommand(CliContext& c) {
    expectArgs(c, 1);
    TExif exif;
    exif.LoadFromJpeg(c.args[0]);
    for (QString line : exif.Entries) {
        line.remove(QChar(0)); // ASCII values keep their terminating zero byte
        c.out << line << '\n';
    }
    return CliOk;
}

int dateCommand(CliContext& c) {
    expectArgs(c, 1);
    const QString& file = c.args[0];
    TTakenDate taken;
    try {
        TExif exif;
        exif.LoadFromJpeg(file);
        taken = ExifTakenDate(exif);
    } catch (const Exception& e) {
        // The EXIF reader's messages say what is wrong, not with which file.
        if (e.message().contains(file))
            throw;
        throw Exception(QStringLiteral("%1: %2").arg(file, e.message()));
    }
    // The local time the camera recorded, and its offset from UTC when it wrote one.
    QString line = FormatDateTimeText(QStringLiteral("yyyy-MM-dd hh:mm:ss"), taken.value);
    if (taken.offset)
        line += QLatin1Char(' ') + OffsetText(taken.offset);
    c.out << line << '\n';
    return CliOk;
}

int settingsCommand(CliContext& c) {
    if (c.args.isEmpty())
        throw CliUsageError(QStringLiteral("missing sub-command"));
    const QString sub = c.args.takeFirst();
    SettingsStore store(SettingsKey);
    // The file and the system's reason follow the fixed sentence.
    auto fail = [&store]() {
        throw Exception(QStringLiteral("Can't write to registry. ") + store.errorString());
    };
    // An existing file is read even where it cannot be written.
    auto open = [&store, &fail]() {
        if (!store.OpenOrCreate())
            fail();
    };
    if (sub == QLatin1String("list")) {
        expectArgs(c, 0);
        open();
        for (const auto& [name, value] : store.Values())
            c.out << SettingsStore::EncodeLine(name, value) << '\n';
        return CliOk;
    }
    if (sub == QLatin1String("get")) {
        expectArgs(c, 1);
        open();
        bool found = false;
        const QString value = store.Value(c.args[0], &found);
        if (!found)
            throw Exception(QStringLiteral("No value named '%1'.").arg(c.args[0]));
        c.out << value << '\n';
        return CliOk;
    }
    if (sub == QLatin1String("set")) {
        expectArgs(c, 2);
        open();
        if (!store.SetValue(c.args[0], c.args[1]))
            fail();
        return CliOk;
    }
    throw CliUsageError(QStringLiteral("unknown sub-command '%1'").arg(sub));
}

void printProgramHelp(QTextStream& out) {
    out << programUsage() << "\n\n"
        << "Captions photographs: the headless commands of Captiomark.\n\n"
        << "Commands:\n";
    for (const CliCommand& c : CliCommands()) {
        const QString head = c.name + (c.usage.isEmpty() ? QString() : QLatin1Char(' ') + c.usage);
        if (head.size() > 16)
            out << "  " << head << "\n  " << QString(16, QLatin1Char(' ')) << "  " << c.summary
                << '\n';
        else
            out << "  " << head.leftJustified(16) << "  " << c.summary << '\n';
    }
    out << "\n"
        << "Photos: JPEG, PNG and TIFF (8 and 16 bits a channel), GIF, BMP, WebP, HEIC/HEIF and "
        << "AVIF; each is\nwritten in its own format.\n\n"
        << Program << " COMMAND --help describes one command. Exit codes: 0 done, 1 failed, "
        << "2 wrong command line.\n"
        << "Settings are kept in Captiomark.conf in $CAPTIOMARK_CONFIG_DIR, else in "
        << "$XDG_CONFIG_HOME/captiomark (~/.config/captiomark).\n";
}
} // namespace

const QList<CliCommand>& CliCommands() {
    static const QList<CliCommand> commands{
        {QStringLiteral("exif"),
         QStringLiteral("FILE"),
         QStringLiteral("print the EXIF entries of a photo file"),
         QStringLiteral("Prints the EXIF entries of the photo, one Name=value line each, in "
                        "the order they are read.\nJPEG (the EXIF block among the application "
                        "segments after its start-of-image\nmarker), PNG, TIFF, WebP, HEIC/HEIF "
                        "and AVIF files are read. Fails when the file has no\nEXIF block."),
         exifCommand,
         false,
         {}},
        {QStringLiteral("date"),
         QStringLiteral("FILE"),
         QStringLiteral("print the picture's date and time from EXIF"),
         QStringLiteral("Prints the date and time a date or time brick would take from the "
                        "picture, as yyyy-MM-dd hh:mm:ss:\nDateTimeOriginal, else "
                        "DateTimeDigitized, else DateTime, the local time the camera\nrecorded, "
                        "followed by its offset from UTC (+02:00) when the camera wrote one.\n"
                        "A ClockShift.<Model> setting for the camera's model moves it.\nA record "
                        "without any of them that parses is an error (the bricks then take "
                        "the\ndefault date and time of the settings)."),
         dateCommand,
         false,
         {}},
        {QStringLiteral("settings"),
         QStringLiteral("list | get NAME | set NAME VALUE"),
         QStringLiteral("list, read or write the preferences"),
         QStringLiteral("list            prints every value as NAME=VALUE, in the store's order "
                        "(with the file's escapes)\nget NAME        prints one value (names are "
                        "case-sensitive)\nset NAME VALUE  writes one value\nThe defaults of a "
                        "first start are written before any sub-command runs."),
         settingsCommand,
         false,
         {}},
        RenderCliCommand(),
        BatchCliCommand(),
    };
    return commands;
}

int RunCli(const QStringList& args, QTextStream& out, QTextStream& err) {
    if (args.isEmpty()) {
        err << Program << ": no command given\n" << programUsage() << '\n';
        return CliUsage;
    }
    if (isHelp(args[0])) {
        printProgramHelp(out);
        return CliOk;
    }
    const CliCommand* command = nullptr;
    for (const CliCommand& c : CliCommands())
        if (c.name == args[0])
            command = &c;
    if (!command) {
        err << Program << ": unknown command '" << args[0] << "'\n" << programUsage() << '\n';
        return CliUsage;
    }
    const QStringList rest = args.mid(1);
    // Help wins over everything before a "--"; after it a word is a value, even --help.
    const qsizetype dashes = rest.indexOf(QStringLiteral("--"));
    const QStringList options = dashes < 0 ? rest : rest.mid(0, dashes);
    if (std::any_of(options.begin(), options.end(), isHelp)) {
        out << usageLine(*command) << "\n\n" << command->help << '\n';
        return CliOk;
    }

    // The same preferences as the application, defaults written on a first start. A broken
    // value is reported; it blocks the commands that write images (they would write with a
    // wrong quality) but not the others, "settings set" being the way to repair it.
    try {
        LoadSettings();
    } catch (const Exception& e) {
        err << Program << ": " << e.message() << '\n';
        if (command->writesImages) {
            err << Program << ": " << command->name << " writes no image until the setting is "
                << "repaired (" << Program << " settings set NAME VALUE).\n";
            return CliFailed;
        }
    }

    CliOptions parsed(command->options);
    try {
        parsed.parse(rest);
        CliContext context{parsed.arguments(), parsed, out, err};
        return command->handler(context);
    } catch (const CliUsageError& e) {
        err << Program << ' ' << command->name << ": " << e.message() << '\n'
            << usageLine(*command) << '\n';
        return CliUsage;
    } catch (const Exception& e) {
        err << Program << ": " << e.message() << '\n';
    } catch (const std::exception& e) {
        err << Program << ": " << e.what() << '\n';
    }
    return CliFailed;
}
