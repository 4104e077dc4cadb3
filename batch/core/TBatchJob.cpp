#include "batch/core/TBatchJob.h"

#include "bricks/TText.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/state/TDesigner.h"
#include "imaging/core/BitmapOps.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegBands.h"
#include "imaging/core/JpegTrailer.h"
#include "imaging/core/PictureLoader.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/settings/CaptionFields.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/FilePaths.h"
#include "platform/ImageBuffer.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace {

// How one file of the job is saved: the size only when fitting, the angle only when rotating,
// the dates of each file.
RenderOptions renderOptions(const TBatchOptions& o, const QString& newName) {
    return {.newName = newName,
            .width = o.Fit ? o.Width : 0,
            .height = o.Fit ? o.Height : 0,
            .angle = o.Rotate ? o.Angle : 0,
            .proportional = o.Proportional,
            .addPattern = o.ApplyPattern,
            .fit = o.Fit,
            .perFileDates = true,
            .keepQuality = o.KeepQuality};
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The file a source is, wherever it was reached from (a linked folder, a link to it).
QString sourceIdentity(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// The folder entry a name is, its folder reached through whatever links: an output's name is
// never followed itself.
QString entryIdentity(const QString& path) {
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                            : folder + QLatin1Char('/') + info.fileName();
}

} // namespace

// A name is refused when writing it would destroy something: another source of the job not
// processed yet, the output of an earlier file, or any existing file other than the file's own
// source (which is replaced with a backup); and a symbolic link at any output name, which is
// never written through. Sources and names are compared as the files they are, so a photo
// reached through a linked folder is the same photo.
QList<TPlannedFile> TBatchJob::PlanNames(const TBatchOptions& options) const {
    const QList<TShellItem>& items = m_items;
    QList<TPlannedFile> plan(items.size());
    QHash<QString, int> sourceAt; // identity -> index
    QHash<QString, int> entryAt;  // the source's own folder entry -> index
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].IsFolder)
            continue;
        const QString source = sourceIdentity(items[i].FullPath);
        if (const auto first = sourceAt.constFind(source); first != sourceAt.cend())
            throw Exception(
                QStringLiteral("\"%1\" is in the job twice (also as \"%2\"). Nothing was "
                               "written.")
                    .arg(shown(items[i].FullPath), shown(items[*first].FullPath)));
        sourceAt.insert(source, i);
        entryAt.insert(entryIdentity(items[i].FullPath), i);
    }

    const QString outputFolder = OutputFolderPath(options);
    QHash<QString, int> outputOf; // output -> index of the file that writes it
    QSet<QString> movedAway;      // sources a rename takes away before later files run
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].IsFolder)
            continue;
        const QString source = items[i].FullPath;
        TPlannedFile& p = plan[i];
        if (options.SkipExisting && !PathEntryExists(source)) {
            // Moved to its new name by the run being resumed; there is nothing to plan from.
            p.Skip = true;
            p.SkipReason =
                QStringLiteral("\"%1\" skipped: it is not there (moved by an earlier run?).")
                    .arg(shown(source));
            continue;
        }
        // A template that cannot make this file's name would fall back on the old one: the
        // output would replace the original instead of standing beside it.
        const TRenameTemplate::Result made = m_names.BuildNewName(source, i + 1);
        if (!made.problem.isEmpty())
            throw Exception(QStringLiteral("No new name can be made for \"%1\": %2. Nothing was "
                                           "written.")
                                .arg(shown(source), made.problem));
        p.NewName = made.name;
        // A date format may bring in a slash, which would send the file into another folder;
        // such a name cannot be written.
        if (p.NewName.contains(QLatin1Char('/')))
            throw EFCreateError(QStringLiteral("Cannot create file \"%1\" for \"%2\". The name "
                                               "holds a folder separator.")
                                    .arg(shown(FolderOf(source) + p.NewName), shown(source)));
        p.MoveOnly = RenderRenamesOnly(renderOptions(options, p.NewName));
        if (!outputFolder.isEmpty()) {
            // Into another folder the source stays: a rename only is a copy there.
            p.Target = outputFolder + p.NewName;
            p.CopyOnly = p.MoveOnly || (!options.ApplyPattern && !options.Fit &&
                                        (options.Rotate ? options.Angle : 0) == 0);
            p.MoveOnly = p.CopyOnly;
            p.Output = RenderOutputPath(source, p.Target);
        } else {
            p.Output =
                p.MoveOnly ? FolderOf(source) + p.NewName : RenderOutputPath(source, p.NewName);
        }

        const QString key = entryIdentity(p.Output);
        const QString own = entryIdentity(source);
        const QString refused = QStringLiteral("The new name of \"%1\" would be \"%2\", ")
                                    .arg(shown(source), shown(p.Output));
        if (IsSymbolicLink(p.Output))
            throw Exception(refused + QStringLiteral("which is a symbolic link. Nothing was "
                                                     "written."));
        if (key == own) {
            // In place: nothing to move, or replaced with a backup; the backup is what an
            // earlier run leaves of a file it captioned.
            if (options.SkipExisting && !p.MoveOnly &&
                PathEntryExists(source + QStringLiteral(".bak"))) {
                p.Skip = true;
                p.SkipReason =
                    QStringLiteral("\"%1\" skipped: \"%1.bak\" exists.").arg(shown(source));
            }
            continue;
        }
        if (const auto earlier = outputOf.constFind(key); earlier != outputOf.cend())
            throw Exception(refused + QStringLiteral("which is also the new name of \"%1\". "
                                                     "Nothing was written.")
                                          .arg(shown(items[*earlier].FullPath)));
        if (const auto later = entryAt.constFind(key); later != entryAt.cend() && *later > i)
            throw Exception(refused + QStringLiteral("which is another image of this job, not "
                                                     "processed yet. Nothing was written."));
        if (PathEntryExists(p.Output) && !movedAway.contains(key)) {
            if (!options.SkipExisting)
                throw Exception(refused + QStringLiteral("which already exists. Nothing was "
                                                         "written."));
            p.Skip = true;
            p.SkipReason = QStringLiteral("\"%1\" skipped: \"%2\" exists.")
                               .arg(shown(source), shown(p.Output));
            continue;
        }
        outputOf.insert(key, i);
        if (p.MoveOnly && !p.CopyOnly)
            movedAway.insert(own);
    }
    return plan;
}

namespace {

// A failure of the run names the file in hand (an encoder's message, for one, does not).
QString namingFile(const QString& message, const QString& file) {
    if (file.isEmpty() || message.contains(shown(file)) || message.contains(file))
        return message;
    return QStringLiteral("%1: %2").arg(shown(file), message);
}

QString appearedMessage(const QString& output) {
    return QStringLiteral("\"%1\" appeared while the batch ran; nothing was written for it.")
        .arg(shown(output));
}

} // namespace

QString CancelledMessage(int processed, int total) {
    return QStringLiteral("Cancelled after %1 of %2 files.").arg(processed).arg(total);
}

TSurfaceRestorer::TSurfaceRestorer(TDesigner& designer)
    : m_designer(designer), m_picture(designer.realPicture), m_exif(designer.realExif),
      m_metadata(designer.realMetadata), m_pictureEdited(designer.PictureEdited),
      m_photoModified(designer.PhotoModified) {}

TSurfaceRestorer::~TSurfaceRestorer() {
    m_designer.realPicture = std::move(m_picture);
    m_designer.realExif = std::move(m_exif);
    m_designer.realMetadata = std::move(m_metadata);
    m_designer.PictureEdited = m_pictureEdited;
    m_designer.PhotoModified = m_photoModified;
}

TBatchJob::TBatchJob(QList<TShellItem>& items, const TRenameTemplate& names)
    : m_items(items), m_names(names) {}

void TBatchJob::report(const std::function<void(const QString&)>& to, const QString& text) {
    if (to)
        to(text);
}

void TBatchJob::StoreTemplate() {
    const QString stored = m_names.StoredForm();
    Settings().defaultRenameTmp = stored;
    SettingsStore store(SettingsKey);
    if (!store.OpenOrCreate() || !store.SetValue(QStringLiteral("defaultRenameTmp"), stored))
        report(OnError, QStringLiteral("Can't write to registry. ") + store.errorString());
}

QString TBatchJob::Validate(const TBatchOptions& options) {
    if (options.Fit && options.Width == 0)
        return QStringLiteral("Please, enter Width.");
    if (options.Fit && options.Height == 0)
        return QStringLiteral("Please, enter Height.");
    return {};
}

void TBatchJob::LoadFile(TDesigner& designer, const QString& source) {
    designer.realPicture = QImage(); // the previous file's picture goes before the next
    if (!designer.LoadPhoto(source).isEmpty())
        report(OnNotice, FileNameOf(source) + QStringLiteral(" doesn't have an EXIF information."));
}

QByteArray TBatchJob::RenderFile(TDesigner& designer, const QString& source,
                                 const TPlannedFile& plan, const TBatchOptions& options) {
    if (plan.MoveOnly)
        return {};
    return RenderImage(designer, source, renderOptions(options, plan.WriteName()));
}

void TBatchJob::WriteFile(const QString& source, const TPlannedFile& plan,
                          const QByteArray& bytes) {
    if (plan.CopyOnly) {
        // The photo as it is, byte for byte, under its new name in the other folder.
        if (entryIdentity(plan.Output) != entryIdentity(source))
            WriteRendered(source, plan.WriteName(), ReadFileBytes(source));
    } else if (!plan.MoveOnly) {
        WriteRendered(source, plan.WriteName(), bytes);
    } else if (plan.Output != source) { // moving a file onto itself would fail
        RenameOnly(source, plan.NewName);
    }
}

QString OutputFolderPath(const TBatchOptions& options) {
    if (options.OutputFolder.isEmpty())
        return {};
    const QString clean = QDir::cleanPath(QDir(options.OutputFolder).absolutePath());
    return clean.endsWith(QLatin1Char('/')) ? clean : clean + QLatin1Char('/');
}

QString TBatchJob::PrepareOutputFolder(const TBatchOptions& options) {
    const QString folder = OutputFolderPath(options);
    if (folder.isEmpty())
        return {};
    const QFileInfo info(QDir::cleanPath(folder));
    if (info.exists() && !info.isDir())
        return QStringLiteral("The output folder \"%1\" is a file. Nothing was written.")
            .arg(shown(options.OutputFolder));
    if (!info.exists() && !QDir().mkpath(folder))
        return QStringLiteral("The output folder \"%1\" cannot be made. Nothing was written.")
            .arg(shown(options.OutputFolder));
    return {};
}

void TBatchJob::advance() {
    ++m_position;
    if (OnProgress)
        OnProgress(m_position);
}

namespace {

// One file of a run on its way through the workers. A worker fills the fields, then moves state
// on under the run's lock; the calling thread reads them only after seeing the new state.
struct FileWork {
    enum State { Queued, Loaded, Encoding, Done };
    enum Stage { NoFailure, LoadFailed, RenderFailed };
    int index = 0;
    QString source;
    TPlannedFile plan;
    State state = Queued;
    Stage failed = NoFailure;
    QString error;
    QString exifError;
    QString fallbackNotice; // the keep-quality write could not be used
    QString trailerNotice;  // what of the source the output does not keep
    bool recaption = false; // bytes hold the source, to be captioned in place
    QByteArray bytes;       // then the output
    TExif exif;
    TPhotoMetadata metadata;
    std::shared_ptr<const TSrgbToPhoto> colours; // the bricks' colours in the photo's space
    QStringList notices; // about the metadata carried
    PreparedPicture picture;
    bool undated = false; // no date taken, and DateFallback=skip: not written
    // A JPEG written band by band, never held whole: bytes hold the source until it is encoded,
    // decoded at the DCT scaling minDecode allows and resampled to output (a fit).
    bool stream = false;
    QSize fullSize, output, minDecode;
    double sx = 1.0, sy = 1.0;
    std::shared_ptr<TPlacedBricks> bricks;
};

// A band of a streamed file handed to the calling thread for its bricks.
QString messageOf(const std::exception& e) {
    if (const auto* ours = dynamic_cast<const Exception*>(&e))
        return ours->message();
    return QString::fromLocal8Bit(e.what());
}

// An upright JPEG (not turned by its EXIF orientation, not CMYK) written as JPEG, read for a
// write that never holds its decoded picture whole: bytes, exif and metadata are set from it and
// its stored size is returned; an invalid size for any other file (which takes the usual path).
QSize uprightJpeg(FileWork& w, bool autoRotate) {
    try {
        if (WrittenFormat(w.source) != ImageFileType::Jpeg)
            return {};
    } catch (const Exception&) {
        return {}; // refused in its turn by the usual path
    }
    QByteArray bytes = ReadFileBytes(w.source);
    if (DetectImageType(bytes) != ImageFileType::Jpeg)
        return {};
    TExif exif;
    QString exifError;
    try {
        exif.LoadFromBytes(bytes);
    } catch (const Exception& e) {
        exifError = e.message();
    }
    const QSize size = JpegBandsSize(bytes);
    if (KeepQualityTurnsPhoto(exif, autoRotate) || !StreamsInBands(bytes, size))
        return {};
    w.metadata = ReadPhotoMetadata(bytes);
    if (!w.metadata.trailerLoss.isEmpty())
        w.trailerNotice = TrailerLossNotice(w.source, w.metadata.trailerLoss);
    w.exif = std::move(exif);
    w.exifError = exifError;
    w.colours = TSrgbToPhoto::ForProfile(w.metadata.iccProfile);
    w.fullSize = size;
    w.bytes = std::move(bytes);
    return size;
}

// Whether a file is written band by band: no turn, no caption band, and an upright JPEG.
bool streamable(FileWork& w, const RenderOptions& ro, bool autoRotate) {
    if (ro.angle != 0 || ro.band.on)
        return false;
    const QSize size = uprightJpeg(w, autoRotate);
    if (!size.isValid())
        return false;
    w.output = StreamedFitSize(size, ro);
    if (w.output.isValid()) {
        w.minDecode = LeastDecodeForFit(size, ro);
        // Bricks follow the change of size, as PreparePicture scales them.
        w.sx = double(w.output.width()) / size.width();
        w.sy = double(w.output.height()) / size.height();
    }
    w.stream = true;
    return true;
}

// A fit with a quarter or half turn: an upright JPEG is decoded (reduced as far as the fit
// allows) and resampled row by row, so that only the fitted picture is held, then turned as
// PreparePicture turns it. False for any other file.
bool fittedAndTurned(FileWork& w, const RenderOptions& ro, bool autoRotate) {
    if (ro.angle == 0 || ro.angle % 90 != 0 || !(ro.width > 0 && ro.height > 0))
        return false;
    const QSize size = uprightJpeg(w, autoRotate);
    if (!size.isValid())
        return false;
    const bool quarterTurn = ro.angle % 180 != 0;
    const QSize box(ro.width, ro.height);
    const QSize before = quarterTurn
                             ? FitIntoBox(size.transposed(), box, ro.proportional).transposed()
                             : FitIntoBox(size, box, ro.proportional);
    // The rows are turned as the resampler gives them: the picture is held once, already
    // turned, and PreparePicture has only the rest to do.
    const int quarters = ((ro.angle / 90) % 4 + 4) % 4;
    QImage turned;
    try {
        turned = DecodeJpegResampled(w.bytes, LeastDecodeForFit(size, ro), before, quarters);
    } catch (const EInvalidGraphic& e) {
        throw EPictureUnreadable(w.source, e.message());
    }
    GiveBackBytes(std::move(w.bytes));
    RenderOptions rest = ro;
    rest.angle = 0;
    try {
        w.picture = PreparePicture(std::move(turned), quarterTurn ? size.transposed() : size,
                                   w.source, rest);
    } catch (const std::exception& e) {
        w.failed = FileWork::RenderFailed;
        w.error = messageOf(e);
    }
    return true;
}


// What a run needs on the workers, read from the settings on the calling thread.
struct WorkerSettings {
    bool autoRotate = true;
    int quality = 95;
};

// Reads, decodes (reduced when a fit allows it), turns upright, resizes and rotates: all but the
// bricks. Runs on a worker and never touches the design surface.
void loadAndPrepare(FileWork& w, const RenderOptions& ro, const WorkerSettings& s) {
    try {
        if (w.plan.MoveOnly) {
            // Read as a serial run would, for its notices and failures, but at the smallest size.
            const LoadedPhoto photo = LoadPhotoFileReduced(
                w.source, s.autoRotate, [](const QSize&) { return QSize(1, 1); });
            w.exifError = photo.exifError;
            return;
        }
        if (KeepQualityWanted(w.source, ro) && ro.band.on) {
            w.fallbackNotice = KeepQualityFallbackNotice(w.source, BandRefusal());
        } else if (KeepQualityWanted(w.source, ro)) {
            QByteArray source = ReadFileBytes(w.source);
            if (DetectImageType(source) == ImageFileType::Jpeg) {
                TExif exif;
                QString exifError;
                try {
                    exif.LoadFromBytes(source);
                } catch (const Exception& e) {
                    exifError = e.message();
                }
                if (!KeepQualityTurnsPhoto(exif, s.autoRotate)) {
                    const QString reason = KeepQualityRefusal(source);
                    if (reason.isEmpty()) {
                        w.recaption = true;
                        w.bytes = std::move(source);
                        w.exif = std::move(exif);
                        w.exifError = exifError;
                        return;
                    }
                    w.fallbackNotice = KeepQualityFallbackNotice(w.source, reason);
                }
            }
        }
        if (streamable(w, ro, s.autoRotate) || fittedAndTurned(w, ro, s.autoRotate))
            return;
        LoadedPhoto photo = LoadPhotoFileReduced(
            w.source, s.autoRotate,
            [&ro](const QSize& full) { return LeastDecodeForFit(full, ro); });
        // An encoded picture is one image: what the source holds after it is not written.
        if (!photo.metadata.trailerLoss.isEmpty())
            w.trailerNotice = TrailerLossNotice(w.source, photo.metadata.trailerLoss);
        w.exifError = photo.exifError;
        w.exif = std::move(photo.exif);
        w.colours = TSrgbToPhoto::ForProfile(photo.metadata.iccProfile);
        w.metadata = std::move(photo.metadata);
        try {
            w.picture = PreparePicture(std::move(photo.picture), photo.fullSize, w.source, ro);
        } catch (const std::exception& e) {
            w.failed = FileWork::RenderFailed;
            w.error = messageOf(e);
        }
    } catch (const std::exception& e) {
        w.failed = FileWork::LoadFailed;
        w.error = messageOf(e);
    }
}

} // namespace

TBatchResult TBatchJob::Run(TDesigner& designer, const TBatchOptions& options) {
    TBatchResult result;
    // One file's buffers are handed on to the next, and let go when the run ends.
    const BufferReuse reuse;
    StoreTemplate();
    // The run's clock correction holds for the names and the captions alike, and ends with it.
    SetRunClockShift(options.ClockShift);
    struct ShiftReset {
        ~ShiftReset() { SetRunClockShift(std::nullopt); }
    } shiftReset;

    // Declared before anything can fail: whatever happens below, the surface gets its own
    // picture and record back.
    std::optional<TSurfaceRestorer> restore(std::in_place, designer);

    if (const QString refusal = Validate(options); !refusal.isEmpty()) {
        result.Outcome = TBatchOutcome::NotStarted;
        report(OnRefusal, refusal);
        return result;
    }

    if (const QString refusal = PrepareOutputFolder(options); !refusal.isEmpty()) {
        result.Outcome = TBatchOutcome::NotStarted;
        result.Error = refusal;
        report(OnError, refusal);
        return result;
    }

    QList<TPlannedFile> plan;
    try {
        plan = PlanNames(options);
    } catch (const Exception& e) {
        result.Outcome = TBatchOutcome::NotStarted;
        result.Error = e.message();
        report(OnError, e.message());
        return result;
    }

    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items[i].IsFolder)
            continue;
        if (plan[i].Skip) {
            ++result.AlreadyDone;
            report(OnNotice, plan[i].SkipReason);
        } else {
            ++result.Total;
        }
    }
    m_position = 0;
    // Folders are never processed, so only files count towards the bar's end.
    if (OnStart)
        OnStart(ProgressMaximum(result.Total));

    WorkerSettings settings;
    settings.autoRotate = Settings().AutoRotate;
    settings.quality = Settings().defaultCompressionQuality;

    // {Counter} is the file's number in the job, as the rename's number token.
    struct CountersReset {
        TDesigner& d;
        ~CountersReset() { d.BatchCounters.clear(); }
    } countersReset{designer};
    designer.BatchCounters.clear();
    for (int i = 0; i < m_items.size(); ++i)
        designer.BatchCounters.insert(m_items[i].FullPath, i + 1);
    // What the pattern reads from each photo: its fields, and whether it shows a date.
    QString captions;
    bool showsDate = false;
    if (options.ApplyPattern) {
        for (QWidget* brick : designer.Bricks()) {
            if (auto* text = qobject_cast<TText*>(brick)) {
                captions += text->Caption() + QLatin1Char('\n');
                showsDate = showsDate || qobject_cast<TTextDate*>(text) ||
                            qobject_cast<TTextTime*>(text);
            }
        }
        const QStringList used = FieldsUsed(captions);
        showsDate = showsDate || used.contains(QLatin1String("Date")) ||
                    used.contains(QLatin1String("Time"));
    }
    QStringList lacking; // "a.jpg ({Lens}, {City})"

    std::vector<std::unique_ptr<FileWork>> works;
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items[i].IsFolder || plan[i].Skip)
            continue;
        auto w = std::make_unique<FileWork>();
        w->index = i;
        w->source = m_items[i].FullPath;
        w->plan = plan[i];
        works.push_back(std::move(w));
    }
    const int n = int(works.size());
    const int jobs = options.Jobs > 0 ? options.Jobs : std::max(1, QThread::idealThreadCount());
    // Two files per worker at most are between their decode and their write: one being worked
    // on, one waiting for its bricks or its turn to be written.
    const int window = 2 * jobs;

    std::mutex lock;
    std::condition_variable changed;
    std::deque<TBandForBricks*> bands; // bands of streamed files waiting for their bricks
    auto moveOn = [&](FileWork& w, FileWork::State state) {
        {
            std::lock_guard<std::mutex> guard(lock);
            w.state = state;
        }
        changed.notify_all();
    };
    // Declared last, so that it goes first and waits for its workers while what they use lives.
    QThreadPool pool;
    pool.setMaxThreadCount(jobs);

    int next = 0;      // the next file to start
    int drawn = 0;     // the next file to get its bricks
    int committed = 0; // the next file to be written and reported
    bool stop = false; // no more files start
    QString source;
    while (committed < n) {
        while (!stop && next < n && next - committed < window) {
            FileWork* w = works[next++].get();
            RenderOptions ro = renderOptions(options, w->plan.WriteName());
            ro.band = designer.Band;
            pool.start([w, ro, settings, &moveOn] {
                loadAndPrepare(*w, ro, settings);
                moveOn(*w, w->recaption || w->failed == FileWork::NoFailure ? FileWork::Loaded
                                                                            : FileWork::Done);
            });
        }
        if (committed >= next)
            break;
        bool commit = false;
        TBandForBricks* band = nullptr;
        {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [&] {
                commit = committed < drawn && works[committed]->state == FileWork::Done;
                return !bands.empty() || commit ||
                       (drawn < next && (works[drawn]->state == FileWork::Loaded ||
                                         works[drawn]->state == FileWork::Done));
            });
            if (!bands.empty()) {
                band = bands.front();
                bands.pop_front();
            }
        }
        if (band) {
            // A worker waits for the bricks of its band.
            DrawHandedBand(*band, lock, changed);
            continue;
        }

        if (!commit) {
            // The bricks are widgets: they are drawn here, on the calling thread.
            FileWork& w = *works[drawn++];
            if (w.state == FileWork::Done) {
                stop = stop || w.failed != FileWork::NoFailure;
                continue;
            }
            if (w.plan.MoveOnly) {
                w.state = FileWork::Done;
                continue;
            }
            if (showsDate || !FieldsUsed(captions).isEmpty()) {
                const TPhotoFields fields =
                    ReadPhotoFields(w.source, designer.BatchCounters.value(w.source));
                QStringList missing;
                ExpandFields(captions, fields, &missing);
                if (!showsDate) {
                    missing.removeAll(QStringLiteral("Date"));
                    missing.removeAll(QStringLiteral("Time"));
                }
                if (showsDate && !fields.dated.hasDate) {
                    // Said once, as the stand-in; the date fields are no further news.
                    missing.removeAll(QStringLiteral("Date"));
                    missing.removeAll(QStringLiteral("Time"));
                    w.notices.prepend(fields.dated.notice);
                    if (fields.dated.skip) {
                        w.undated = true;
                        w.state = FileWork::Done;
                        continue;
                    }
                }
                if (!missing.isEmpty()) {
                    for (QString& name : missing)
                        name = QLatin1Char('{') + name + QLatin1Char('}');
                    lacking << QStringLiteral("%1 (%2)").arg(FileNameOf(w.source),
                                                              missing.join(QStringLiteral(", ")));
                }
            }
            if (w.stream) {
                try {
                    const QSize picture = w.output.isValid() ? w.output : w.fullSize;
                    w.bricks = std::make_shared<TPlacedBricks>(designer, w.source, true, picture,
                                                              w.sx, w.sy, &w.bytes);
                } catch (const std::exception& e) {
                    w.failed = FileWork::RenderFailed;
                    w.error = messageOf(e);
                    w.state = FileWork::Done;
                    stop = true;
                    continue;
                }
                w.state = FileWork::Encoding;
                FileWork* work = &w;
                pool.start([work, settings, &moveOn, &lock, &changed, &bands] {
                    // Only the bands the bricks cross wait for the calling thread.
                    auto paint = [&](QImage& image, int top) {
                        HandBandToBricks(*work->bricks, work->colours.get(), image, top, bands,
                                         lock, changed);
                    };
                    try {
                        work->bytes = StreamPicture(std::move(work->bytes), work->source,
                                                    settings.quality, work->exif, work->metadata,
                                                    paint, &work->notices, work->minDecode,
                                                    work->output);
                    } catch (const EPictureUnreadable& e) {
                        work->failed = FileWork::LoadFailed;
                        work->error = e.message();
                        work->bytes = QByteArray();
                    } catch (const std::exception& e) {
                        work->failed = FileWork::RenderFailed;
                        work->error = messageOf(e);
                        work->bytes = QByteArray();
                    }
                    moveOn(*work, FileWork::Done);
                });
                continue;
            }
            try {
                if (w.recaption) {
                    w.bytes = RecaptionBricks(w.bytes, designer, w.source, true, w.exif,
                                              [&w](const QString& n) { w.notices << n; });
                    w.state = FileWork::Done;
                    continue;
                }
                DrawBricks(w.picture.image, designer, w.source, true, w.picture.sx,
                           w.picture.sy, {}, {}, w.colours.get(), w.picture.band);
            } catch (const std::exception& e) {
                w.failed = FileWork::RenderFailed;
                w.error = messageOf(e);
                w.state = FileWork::Done;
                stop = true;
                continue;
            }
            w.state = FileWork::Encoding;
            FileWork* work = &w;
            pool.start([work, settings, &moveOn] {
                try {
                    work->bytes = EncodePicture(work->picture.image, work->source,
                                                settings.quality, work->exif, work->metadata,
                                                &work->notices);
                } catch (const std::exception& e) {
                    work->failed = FileWork::RenderFailed;
                    work->error = messageOf(e);
                }
                work->picture = PreparedPicture();
                moveOn(*work, FileWork::Done);
            });
            continue;
        }

        // Written and reported in the files' order, as a run of one file after another would.
        FileWork& w = *works[committed];
        if (CancelRequested && CancelRequested()) {
            result.Outcome = TBatchOutcome::Cancelled;
            break;
        }
        source = w.source;
        advance();
        if (w.failed == FileWork::LoadFailed) {
            result.Outcome = TBatchOutcome::Failed;
            result.Error = namingFile(w.error, source);
            break;
        }
        if (!w.exifError.isEmpty())
            report(OnNotice,
                   FileNameOf(source) + QStringLiteral(" doesn't have an EXIF information."));
        advance();
        if (!w.fallbackNotice.isEmpty())
            report(OnNotice, w.fallbackNotice);
        if (!w.trailerNotice.isEmpty())
            report(OnNotice, w.trailerNotice);
        // A format without its encoder here is written as JPEG beside it, and the user told.
        if (!w.plan.MoveOnly && !w.plan.CopyOnly && !w.undated &&
            w.failed == FileWork::NoFailure)
            if (const QString n = JpegInsteadNotice(source, w.plan.WriteName()); !n.isEmpty())
                report(OnNotice, n);
        for (const QString& notice : w.notices)
            report(OnNotice, notice);
        if (w.undated) {
            // Left out at the user's word (DateFallback=skip): no failure.
            w.bytes = QByteArray();
            ++committed;
            advance();
            continue;
        }
        QString skipped;
        try {
            if (w.failed == FileWork::RenderFailed)
                throw Exception(w.error);
            WriteFile(source, w.plan, w.bytes);
        } catch (const EOutputAppeared&) {
            skipped = appearedMessage(w.plan.Output);
        } catch (const EOutputTaken& e) {
            // Its name was free when the run was planned.
            skipped = w.plan.Output == source ? e.message() : appearedMessage(w.plan.Output);
        } catch (const std::exception& e) {
            result.Outcome = TBatchOutcome::Failed;
            result.Error = namingFile(messageOf(e), source);
            break;
        }
        if (!skipped.isEmpty()) {
            // That file is left out; the others go on.
            skipped = namingFile(skipped, source);
            if (result.Error.isEmpty())
                result.Error = skipped;
            ++result.Skipped;
            report(OnError, skipped);
            w.bytes = QByteArray();
            ++committed;
            advance();
            continue;
        }
        GiveBackBytes(std::move(w.bytes));
        const int i = w.index;
        const TPlannedFile& p = w.plan;
        // The path of the file actually written (its extension is in lower case), so that a
        // second run finds it on a case-sensitive file system.
        m_items[i].FullPath = p.Output;
        m_items[i].TypeText = p.Output;
        ++result.Processed;
        ++committed;
        if (OnItemDone)
            OnItemDone(i, FileNameOf(p.Output));
        advance();
    }
    // The files in hand finish before the run reports its end; those not started yet are
    // dropped, as a stopped run writes nothing more.
    pool.clear();
    while (!pool.waitForDone(20)) {
        // A band still waiting is let go undrawn: its file is not written.
        ReleaseWaitingBands(bands, lock, changed);
    }

    if (OnFinish)
        OnFinish();
    restore.reset();
    if (result.Outcome == TBatchOutcome::Completed && result.Skipped > 0) {
        // Each file left out was reported as it came.
        result.Outcome = TBatchOutcome::Failed;
        return result;
    }
    if (!lacking.isEmpty())
        report(OnNotice, QStringLiteral("Photos without a field the pattern uses: %1.")
                             .arg(lacking.join(QStringLiteral("; "))));
    switch (result.Outcome) {
    case TBatchOutcome::Completed:
        report(OnNotice, QStringLiteral("Operation complete!"));
        break;
    case TBatchOutcome::Cancelled:
        report(OnNotice, CancelledMessage(result.Processed, result.Total));
        break;
    case TBatchOutcome::Failed:
        report(OnError, result.Error);
        break;
    case TBatchOutcome::NotStarted:
        break;
    }
    return result;
}
