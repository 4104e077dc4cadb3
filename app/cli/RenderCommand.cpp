#include "app/cli/RenderCommand.h"

#include "batch/core/TBatchJob.h"
#include "bricks/BrickFields.h"
#include "bricks/TText.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/state/TDesigner.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/file/PatternFile.h"
#include "patterns/settings/CaptionFields.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"

#include <QHash>
#include <QWidget>
#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onRenderInterrupt(int) {
    g_interrupted = true;
}

const QCommandLineOption OutputOption(QStringLiteral("output"), QString(), QStringLiteral("NAME"));

// The source's bytes and EXIF record when it can be written from its own compressed data; empty
// bytes when it is to be decoded as usual.
QByteArray keptSource(const QString& image, TExif& exif) {
    QByteArray bytes = ReadFileBytes(image);
    try {
        exif.LoadFromBytes(bytes);
    } catch (const Exception&) {
        exif = TExif();
    }
    if (!KeepQualityRefusal(bytes).isEmpty() || KeepQualityTurnsPhoto(exif, Settings().AutoRotate))
        return {};
    return bytes;
}

void readPatternFor(TDesigner& designer, const QString& pattern,
                    const std::optional<double>& zoom) {
    ClearBricks(designer);
    try {
        ReadPattern(pattern, designer, {.override = zoom, .whenAbsent = 1.0});
    } catch (const Exception& e) {
        if (e.message().contains(pattern))
            throw;
        throw Exception(QStringLiteral("pattern \"%1\": %2").arg(pattern, e.message()));
    }
}


int renderCommand(CliContext& c) {
    const PatternOptions p = PatternOptions::read(c.options);
    SetRunClockShift(p.shiftTime);
    struct ShiftReset {
        ~ShiftReset() { SetRunClockShift(std::nullopt); }
    } shiftReset;
    const QString& pattern = p.pattern;
    const std::optional<double>& zoom = p.zoom;
    const QStringList outputs = c.options.values(OutputOption);
    const QString output = outputs.isEmpty() ? QString() : outputs.last();
    const QStringList& images = c.args;
    const bool keepQuality = p.keepQuality || Settings().KeepPhotoQuality;
    if (pattern.isEmpty())
        throw CliUsageError(QStringLiteral("missing --pattern"));
    if (images.isEmpty())
        throw CliUsageError(QStringLiteral("missing image"));
    if (!output.isEmpty() && images.size() > 1)
        throw CliUsageError(QStringLiteral("--output takes one image only"));

    // Ctrl+C lets the image in hand be written whole, then stops, as the batch does.
    struct SignalReset {
        ~SignalReset() { std::signal(SIGINT, SIG_DFL); }
    } reset;
    g_interrupted = false;
    std::signal(SIGINT, onRenderInterrupt);

    TDesigner designer;
    bool failed = false;
    int handled = 0;
    auto report = [&](const QString& image, const QString& error) {
        ++handled;
        if (error.isEmpty()) {
            c.out << image << " -> " << RenderOutputPath(image, output.isEmpty() ? image : output)
                  << '\n';
        } else {
            c.err << "captiomark-cli: " << image << ": " << error << '\n';
            failed = true;
        }
    };
    // With --keep-quality the JPEGs that can keep their data are captioned a few at a time on
    // every core, and never decoded whole: only the blocks under the bricks are. The bricks'
    // places do not depend on the picture, so the pattern is read once for them. Lines and writes keep the images' order.
    constexpr int Chunk = 8;
    for (qsizetype first = 0; first < images.size() && !g_interrupted; first += Chunk) {
        const QStringList chunk = images.mid(first, Chunk);
        QList<QString> keptFiles;
        QList<QByteArray> kept;
        QList<TExif> exifs;
        QHash<QString, int> keptAt;
        if (keepQuality) {
            for (const QString& image : chunk) {
                TExif exif;
                QByteArray bytes;
                try {
                    bytes = keptSource(image, exif);
                } catch (const Exception&) {
                    // Reported by the usual path below.
                }
                if (!bytes.isEmpty() && !keptAt.contains(image)) {
                    keptAt.insert(image, int(keptFiles.size()));
                    keptFiles.append(image);
                    kept.append(bytes);
                    exifs.append(exif);
                }
            }
        }
        struct Kept {
            QByteArray bytes;
            QString error;
            QStringList notices;
        };
        QList<Kept> results(kept.size());
        QHash<QString, TDatedPhoto> undated; // kept photos without a date taken
        if (!kept.isEmpty()) {
            try {
                designer.realPicture = QImage();
                designer.realExif = TExif();
                designer.realMetadata = TPhotoMetadata();
                designer.ZoomRatio = 1.0;
                readPatternFor(designer, pattern, zoom);
                // A photo without a date taken is named as on the usual path, and with
                // DateFallback=skip left unwritten.
                if (PatternShowsDate(designer.Bricks())) {
                    for (qsizetype i = keptFiles.size() - 1; i >= 0; --i) {
                        const QString file = keptFiles[i];
                        TDatedPhoto dated = DatePhoto(file, &exifs[i]);
                        if (dated.hasDate)
                            continue;
                        if (dated.skip) {
                            keptFiles.removeAt(i);
                            kept.removeAt(i);
                            exifs.removeAt(i);
                        }
                        undated.insert(file, std::move(dated));
                    }
                    keptAt.clear();
                    for (qsizetype i = 0; i < keptFiles.size(); ++i)
                        keptAt.insert(keptFiles[i], int(i));
                    results.resize(kept.size());
                }
                RecaptionBricksMany(keptFiles, kept, exifs, designer, 0,
                                    [&](int i, const QByteArray& bytes, const QString& error) {
                                        results[i].bytes = bytes;
                                        results[i].error = error;
                                    },
                                    [&](int i, const QString& notice) {
                                        results[i].notices << notice;
                                    });
            } catch (const Exception&) {
                keptAt.clear(); // the pattern: reported for each image by the usual path
                undated.clear();
            }
        }
        for (const QString& image : chunk) {
            if (g_interrupted)
                break;
            try {
                // The output is written in the image's own format: a name of another is refused
                // rather than changed into a name that may be another file's.
                if (!output.isEmpty())
                    if (const QString refusal = OutputNameRefusal(image, output);
                        !refusal.isEmpty())
                        throw Exception(refusal);
                if (undated.contains(image)) {
                    const TDatedPhoto dated = undated.take(image);
                    c.out << dated.notice << '\n';
                    if (dated.skip) {
                        ++handled;
                        continue;
                    }
                }
                if (const int at = keptAt.value(image, -1); at >= 0) {
                    keptAt.remove(image); // listed again: the usual path captions it again
                    const auto& [bytes, error, notices] = results[at];
                    if (!error.isEmpty())
                        throw Exception(error);
                    for (const QString& notice : notices)
                        c.out << notice << '\n';
                    WriteRendered(image, output, bytes);
                    report(image, {});
                    continue;
                }
                designer.OpenImage(image, 1.0);
                readPatternFor(designer, pattern, zoom);
                // A photo without a date taken is named, with what dates it instead.
                if (PatternShowsDate(designer.Bricks()) && !designer.Fields.dated.hasDate) {
                    c.out << designer.Fields.dated.notice << '\n';
                    if (designer.Fields.dated.skip) {
                        ++handled;
                        continue;
                    }
                }
                RenderAndSave(designer, image,
                              {.newName = output,
                               .keepQuality = keepQuality,
                               .onNotice = [&c](const QString& text) { c.out << text << '\n'; }});
                report(image, {});
            } catch (const Exception& e) {
                report(image, e.message());
            }
        }
    }
    ClearBricks(designer);
    if (g_interrupted) {
        c.out << CancelledMessage(handled, int(images.size())) << '\n';
        return CliFailed;
    }
    return failed ? CliFailed : CliOk;
}

} // namespace

CliCommand RenderCliCommand() {
    return {QStringLiteral("render"),
            QStringLiteral("--pattern FILE.xml [--zoom R] [--output NAME] [--keep-quality] [--shift-time "
                           "SHIFT] IMAGE..."),
            QStringLiteral("burn a pattern file into images"),
            QStringLiteral(
                "Reads the pattern onto each image, its brick positions taken at the zoom "
                "ratio the\npattern stores (full-size pixels per preview pixel; 1 when it stores "
                "none), or at R\nwith --zoom, and writes the image with the pattern burnt in, in "
                "its own format with its EXIF block.\nImages are JPEG, PNG and TIFF (8 or 16 bits a "
                "channel, written at the same depth), GIF, BMP,\nWebP (lossless ones stay "
                "lossless), HEIC/HEIF and AVIF, told by their content.\nWithout --output the "
                "image is replaced in place, the "
                "original kept as IMAGE.bak (an\nexisting .bak stays as it is); --output NAME (one "
                "image only) writes beside it, or to\nNAME's folder, with the image's extension; "
                "an existing NAME, a symbolic link or a name\nof another format is refused. The "
                "image's name holds the old or the new picture at\nevery instant. A failing image "
                "is reported and the next one follows; the exit code is\nthen 1. Ctrl+C stops "
                "after the image in hand.\n--keep-quality (or the "
                "KeepPhotoQuality setting) writes a JPEG from its own compressed data,\nencoding "
                "only the blocks under the bricks again; a progressive, arithmetic-coded or CMYK\n"
                "JPEG is re-encoded instead, with a notice.\n--shift-time [+|-][D ]HH:MM[:SS] "
                "corrects the camera clock: every date and time read from\nthe images is moved "
                "by it (the files' EXIF keeps the recorded time)."),
            renderCommand,
            true,
            PatternOptions::options() << OutputOption};
}
