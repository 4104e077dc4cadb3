#include "app/cli/BatchCommand.h"

#include "batch/core/TBatchJob.h"
#include "designer/state/TDesigner.h"
#include "patterns/file/PatternFile.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) {
    g_interrupted = true;
}

struct BatchArgs {
    std::optional<qint64> shiftTime;
    QString pattern;
    std::optional<double> zoom;
    bool fit = false;
    int width = 0, height = 0;
    bool proportional = true;
    bool rotate = false;
    int angle = 0;
    bool rename = false;
    QString renameTemplate;
    bool hasText = false;
    QString text;
    bool keepQuality = false;
    int jobs = 0;
    QString outputDir;
    bool skipExisting = false;
    QStringList files;
};

int intArg(const QString& option, const QString& text, int lo, int hi) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < lo || v > hi)
        throw CliUsageError(QStringLiteral("%1 wants a whole number from %2 to %3, not '%4'")
                                .arg(option)
                                .arg(lo)
                                .arg(hi)
                                .arg(text));
    return v;
}

const QCommandLineOption FitOption(QStringLiteral("fit"), QString(), QStringLiteral("WxH"));
const QCommandLineOption NoProportionalOption(QStringLiteral("no-proportional"), QString());
const QCommandLineOption RotateOption(QStringLiteral("rotate"), QString(), QStringLiteral("DEG"));
const QCommandLineOption RenameOption(QStringLiteral("rename"), QString(),
                                      QStringLiteral("DIGITS"));
const QCommandLineOption TextOption(QStringLiteral("text"), QString(), QStringLiteral("TEXT"));
const QCommandLineOption JobsOption(QStringLiteral("jobs"), QString(), QStringLiteral("N"));
const QCommandLineOption OutputDirOption(QStringLiteral("output-dir"), QString(),
                                         QStringLiteral("DIR"));

const QCommandLineOption FilesFromOption(QStringLiteral("files-from"), QString(),
                                         QStringLiteral("LIST"));
const QCommandLineOption NullOption(QStringLiteral("null"), QString());
const QCommandLineOption SkipExistingOption(QStringLiteral("skip-existing"), QString());

// The names of a list file, one a line (or NUL-separated): used as they are, only empty entries
// dropped, so that any name a file system allows can be listed.
QStringList listedFiles(const QString& list, bool nulSeparated) {
    QByteArray bytes;
    if (list == QLatin1String("-")) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            throw Exception(QStringLiteral("Cannot read the file list from standard input. %1")
                                .arg(in.errorString()));
        bytes = in.readAll();
    } else {
        // A list of a million names is some 100 MB.
        FileRead read = ReadRegularFile(list, qint64(1) << 30);
        if (!read.ok())
            throw Exception(QStringLiteral("Cannot read the file list \"%1\". %2")
                                .arg(QDir::toNativeSeparators(list), read.reason));
        bytes = std::move(read.data);
    }
    QStringList names;
    for (const QByteArray& entry : bytes.split(nulSeparated ? '\0' : '\n'))
        if (!entry.isEmpty())
            names.append(QFile::decodeName(entry));
    return names;
}

QList<QCommandLineOption> batchOptions() {
    return PatternOptions::options() << FitOption << NoProportionalOption << RotateOption
                                     << RenameOption << TextOption << JobsOption << OutputDirOption
                                     << FilesFromOption << NullOption << SkipExistingOption;
}

// Every value given is checked; the last one counts.
BatchArgs parse(const CliContext& c) {
    BatchArgs a;
    const PatternOptions p = PatternOptions::read(c.options);
    a.pattern = p.pattern;
    a.zoom = p.zoom;
    a.keepQuality = p.keepQuality;
    a.shiftTime = p.shiftTime;
    for (const QString& v : c.options.values(JobsOption))
        a.jobs = intArg(QStringLiteral("--jobs"), v, 0, 64);
    for (const QString& v : c.options.values(FitOption)) {
        static const QRegularExpression size(QStringLiteral("^(\\d+)[xX](\\d+)$"));
        const auto m = size.match(v);
        if (!m.hasMatch())
            throw CliUsageError(QStringLiteral("--fit wants WIDTHxHEIGHT, not '%1'").arg(v));
        a.fit = true;
        a.width = intArg(QStringLiteral("--fit width"), m.captured(1), 0, 10000);
        a.height = intArg(QStringLiteral("--fit height"), m.captured(2), 0, 10000);
    }
    a.proportional = !c.options.isSet(NoProportionalOption);
    for (const QString& v : c.options.values(RotateOption)) {
        a.rotate = true;
        a.angle = intArg(QStringLiteral("--rotate"), v, -360, 360);
    }
    for (const QString& v : c.options.values(RenameOption)) {
        static const QRegularExpression digits(QStringLiteral("^[1-5]{0,5}$"));
        bool unique = true;
        for (QChar ch : v)
            unique = unique && v.count(ch) == 1;
        if (!digits.match(v).hasMatch() || !unique)
            throw CliUsageError(
                QStringLiteral("--rename wants up to five different token digits 1-5, not '%1'")
                    .arg(v));
        a.rename = true;
        a.renameTemplate = v;
    }
    for (const QString& v : c.options.values(TextOption)) {
        a.hasText = true;
        a.text = v;
    }
    for (const QString& v : c.options.values(OutputDirOption)) {
        if (v.isEmpty())
            throw CliUsageError(QStringLiteral("--output-dir wants a folder"));
        a.outputDir = v;
    }
    a.skipExisting = c.options.isSet(SkipExistingOption);
    a.files = c.args;
    if (c.options.isSet(NullOption) && !c.options.isSet(FilesFromOption))
        throw CliUsageError(QStringLiteral("--null goes with --files-from"));
    for (const QString& list : c.options.values(FilesFromOption))
        a.files += listedFiles(list, c.options.isSet(NullOption));
    if (a.files.isEmpty())
        throw CliUsageError(QStringLiteral("no files given"));
    return a;
}

// A one-line bar on a terminal, redrawn in place.
class ProgressLine {
public:
    explicit ProgressLine(QTextStream& err) : m_err(err), m_on(isatty(fileno(stderr)) != 0) {}
    void start(int maximum) {
        m_maximum = maximum;
        draw(0);
    }
    void draw(int position) {
        if (!m_on)
            return;
        m_position = position;
        constexpr int Width = 30;
        const int filled = m_maximum > 0 ? Width * position / m_maximum : Width;
        m_err << '\r' << '[' << QString(filled, QLatin1Char('#'))
              << QString(Width - filled, QLatin1Char('.')) << "] " << (position + 2) / 3 << '/'
              << m_maximum / 3 << Qt::flush;
        m_shown = true;
    }
    void clear() {
        if (m_on && m_shown)
            m_err << "\r\x1b[K" << Qt::flush;
        m_shown = false;
    }
    void redraw() {
        if (m_on && m_maximum >= 0 && !m_done)
            draw(m_position);
    }
    void finish() {
        clear();
        m_done = true;
    }

private:
    QTextStream& m_err;
    bool m_on;
    bool m_shown = false;
    bool m_done = false;
    int m_maximum = -1;
    int m_position = 0;
};

} // namespace

int BatchCommand(CliContext& c) {
    const BatchArgs a = parse(c);

    TDesigner designer;
    designer.ZoomRatio = 1.0;
    if (!a.pattern.isEmpty())
        ReadPattern(a.pattern, designer, {.override = a.zoom, .whenAbsent = 1.0});

    QList<TShellItem> items;
    for (const QString& file : a.files) {
        const QFileInfo info(file);
        TShellItem item;
        item.ItemId = info.absoluteFilePath();
        item.DisplayName = info.fileName();
        item.FullPath = item.TypeText = info.absoluteFilePath();
        item.IsFolder = info.isDir();
        item.DetailsPending = false;
        items.append(item);
    }

    TRenameTemplate names;
    names.LoadStored(a.rename ? a.renameTemplate : Settings().defaultRenameTmp);
    names.Rename = a.rename;
    if (a.hasText)
        names.CustomText = a.text;

    TBatchOptions options;
    options.ApplyPattern = !a.pattern.isEmpty();
    options.Fit = a.fit;
    options.Width = a.width;
    options.Height = a.height;
    options.Proportional = a.proportional;
    options.Rotate = a.rotate;
    options.Angle = a.angle;
    options.KeepQuality = a.keepQuality || Settings().KeepPhotoQuality;
    options.ClockShift = a.shiftTime;
    options.Jobs = a.jobs > 0 ? a.jobs : Settings().BatchJobs;
    options.OutputFolder = a.outputDir;
    options.SkipExisting = a.skipExisting;

    ProgressLine progress(c.err);
    struct SignalReset {
        ~SignalReset() { std::signal(SIGINT, SIG_DFL); }
    } reset;
    g_interrupted = false;
    std::signal(SIGINT, onInterrupt);

    TBatchJob job(items, names);
    // The window's boxes become lines: errors and refusals to start ("Please, enter Width.") on
    // stderr, notices on stdout.
    auto line = [&](QTextStream& to, const QString& prefix) {
        return [&to, &progress, prefix](const QString& text) {
            progress.clear();
            to << prefix << text << Qt::endl;
            progress.redraw();
        };
    };
    const QString program = QStringLiteral("captiomark-cli: ");
    job.OnNotice = line(c.out, QString());
    job.OnRefusal = line(c.err, program);
    job.OnError = line(c.err, program);
    job.OnStart = [&](int maximum) { progress.start(maximum); };
    job.OnProgress = [&](int position) { progress.draw(position); };
    job.OnFinish = [&] { progress.finish(); };
    job.CancelRequested = [] { return g_interrupted.load(); };
    const TBatchResult result = job.Run(designer, options);
    return result.Outcome == TBatchOutcome::Completed ? CliOk : CliFailed;
}

CliCommand BatchCliCommand() {
    return {QStringLiteral("batch"),
            QStringLiteral("[--pattern FILE.xml] [--zoom R] [--fit WxH] [--no-proportional] "
                           "[--rotate DEG] [--rename DIGITS] [--text TEXT] [--keep-quality] "
                           "[--jobs N] [--output-dir DIR] [--files-from LIST [--null]] "
                           "[--skip-existing] [--shift-time SHIFT] [FILE...]"),
            QStringLiteral("caption, fit, rotate and rename many images at once"),
            QStringLiteral(
                "Runs the batch window's \"Process\" over the files, in order; folders are "
                "skipped.\n"
                "Files are JPEG, PNG, GIF, BMP, TIFF, WebP, HEIC/HEIF or AVIF photos; each is "
                "written in its\nown format.\n"
                "  --pattern FILE.xml  burn the pattern into every image (\"Add current pattern "
                "to images\")\n"
                "  --zoom R            take the pattern's positions at zoom ratio R instead of the "
                "one it\n"
                "                      stores (a pattern that stores none is taken at 1.0)\n"
                "  --fit WxH           fit every image into W x H pixels (\"Fit Images\")\n"
                "  --no-proportional   stretch to exactly W x H instead of keeping the aspect "
                "ratio\n"
                "  --rotate DEG        rotate every image by DEG degrees, -360..360, clockwise\n"
                "  --rename DIGITS     rename from the template in its stored form: 1 custom "
                "text,\n"
                "                      2 date, 3 time, 4 number, 5 old name (e.g. 23 or 54)\n"
                "  --text TEXT         the custom text of token 1; fields such as {Model} or "
                "{City} take\n"
                "                      each photo's value\n"
                "  --keep-quality      without --fit and --rotate, write JPEGs from their own "
                "compressed\n"
                "                      data, encoding only the blocks under the bricks again\n"
                "  --jobs N            worker threads (default: the BatchJobs setting, 0 = one "
                "per core)\n"
                "  --files-from LIST   also the files named in LIST, one a line ('-': standard "
                "input)\n"
                "  --null              names in LIST are separated by NUL characters, not lines\n"
                "  --skip-existing     resume a job: leave out a file whose output exists (in "
                "place: its\n"
                "                      .bak), or that an earlier run moved away, with a notice\n"
                "  --output-dir DIR    write the outputs into DIR (made when missing), leaving "
                "the sources\n"
                "                      untouched; names from the template, or the sources' "
                "own\n"
                "  --shift-time SHIFT  correct the camera clock by [+|-][D ]HH:MM[:SS] for every "
                "date read\n"
                "                      (captions and names; the files' EXIF keeps the recorded "
                "time)\n"
                "Date and time formats come from the settings; the template is stored there "
                "as\n"
                "\"defaultRenameTmp\", as the window does. Outputs go beside each source unless "
                "--output-dir is given. "
                "Every output\n"
                "name is checked before the first file is touched: a name that would overwrite "
                "another\n"
                "file of the job, an earlier output or any other existing file stops the job "
                "with nothing\n"
                "written; so does a symbolic link there. An output that replaces its own source "
                "keeps it\n"
                "as FILE.bak (an existing .bak stays). A file appearing at a planned name while "
                "the job\n"
                "runs is left as it is and reported; the others go on. Ctrl+C stops after the "
                "file in hand.\n"
                "Exit 1 when the job stopped before its end or left a file out."),
            BatchCommand,
            true,
            batchOptions()};
}
