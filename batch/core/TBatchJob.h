#pragma once

#include "batch/core/RenameTemplate.h"
#include "batch/core/TShellItem.h"
#include "imaging/core/PhotoMetadata.h"
#include "imaging/core/TExif.h"

#include <QImage>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class TDesigner;

// The options of one run, as numbers (the window and the command line read their fields).
struct TBatchOptions {
    bool ApplyPattern = false; // "Add current pattern to images"
    bool Fit = false;          // "Fit Images"
    int Width = 0;
    int Height = 0;
    bool Proportional = true; // "Proportional"
    bool Rotate = false;      // "Rotate Images"
    int Angle = 0;
    // JPEGs without fit or rotation keep their compressed data outside the bricks.
    bool KeepQuality = false;
    // Worker threads; 0 takes one per core.
    int Jobs = 0;
    // The folder the outputs go into (made when missing), the sources left as they are; empty:
    // beside each source.
    QString OutputFolder;
    // Resuming a job: a file whose output is already there (for an output in place, its
    // ".bak"), or that is gone because an earlier run moved it, is left out with a notice
    // instead of stopping the job.
    bool SkipExisting = false;
    // "Camera clock": seconds added to every date read from the photos during the run, in place
    // of the settings' ClockShift.<Model>; none given: those apply.
    std::optional<qint64> ClockShift;
};

// Where one file of the job goes.
struct TPlannedFile {
    QString NewName; // bare name from the template
    QString Output;  // the file the run writes (or moves the source to)
    bool MoveOnly = false;
    // The name handed to the render: that name in the output folder; empty, the bare new name.
    QString Target = QString();
    const QString& WriteName() const { return Target.isEmpty() ? NewName : Target; }
    // Only renamed, into an output folder: the source's bytes are copied there instead of moved.
    bool CopyOnly = false;
    // Left out by SkipExisting, and why ("... skipped: ... exists.").
    bool Skip = false;
    QString SkipReason = QString();
};

// How a run ended.
enum class TBatchOutcome {
    Completed,  // every file processed ("Operation complete!" shown)
    NotStarted, // a missing size, or an output name that would overwrite another file; no
                // file touched
    Cancelled,  // stopped between files at the user's request
    Failed,     // a file could not be loaded or written
};

struct TBatchResult {
    TBatchOutcome Outcome = TBatchOutcome::Completed;
    int Processed = 0;   // files processed in this run
    int Total = 0;       // files the run was to process (folders not counted)
    int Skipped = 0;     // files left out because their name was taken while the run went on
    int AlreadyDone = 0; // files left out by SkipExisting (not in Total)
    QString Error;       // the failure's message (NotStarted by a refused name, Failed), or the
                         // first file left out
};

// Puts the design surface's photo back when it goes, however the run ends: the full-size
// picture, the EXIF record and whether the photo was edited (so that a turned photo is still
// saved turned, and still asked about).
class TSurfaceRestorer {
public:
    explicit TSurfaceRestorer(TDesigner& designer);
    ~TSurfaceRestorer();
    TSurfaceRestorer(const TSurfaceRestorer&) = delete;
    TSurfaceRestorer& operator=(const TSurfaceRestorer&) = delete;

private:
    TDesigner& m_designer;
    QImage m_picture;
    TExif m_exif;
    TPhotoMetadata m_metadata;
    bool m_pictureEdited;
    bool m_photoModified;
};

// The batch job of the batch window, without the window: runs over a job list, building every
// new name from the rename template and rendering every file that is not a folder. The list
// survives the run with the new paths. The job shows nothing itself: it reports through the
// callbacks below, so that the window shows boxes and the command line prints lines.
class TBatchJob {
public:
    TBatchJob(QList<TShellItem>& items, const TRenameTemplate& names);

    // Progress: the bar is shown with its maximum, then advanced to each position, then hidden.
    std::function<void(int maximum)> OnStart;
    std::function<void(int position)> OnProgress;
    std::function<void()> OnFinish;
    // Entry i was processed and now carries its new path; newName is its new caption.
    std::function<void(int index, const QString& newName)> OnItemDone;
    // Asked before each file is written; true stops the run, keeping what was done.
    std::function<bool()> CancelRequested;
    // A notice: a file without EXIF information, "Operation complete!", a cancelled run.
    std::function<void(const QString& text)> OnNotice;
    // The job does not start for want of a setting ("Please, enter Width.").
    std::function<void(const QString& text)> OnRefusal;
    // A failure: the settings store, a refused output name, a file that cannot be processed.
    std::function<void(const QString& text)> OnError;

    // Runs the job on the design surface: stores the template, validates, plans every output
    // name, then loads, renders and writes the files: decoding, resizing and encoding run on
    // options.Jobs worker threads, the bricks are drawn and the files written on the calling
    // thread, and every callback comes in the files' order, as if file after file. A name that
    // would overwrite another source of the job, the output of an earlier file or any other
    // existing file stops the job before a file is touched. Outputs that replace their own source
    // keep it as ".bak". A failing file, named in the error, ends the run once the files in hand
    // are done (none after it is written); the surface's picture and record are restored. A file
    // whose output name is taken while the run goes on ("... appeared while the batch ran; nothing
    // was written for it.") is left out and the others go on; the run then ends as Failed.
    TBatchResult Run(TDesigner& designer, const TBatchOptions& options);

    // The steps of Run, each usable alone.

    // Stores the template as "defaultRenameTmp" (memory and store); "Can't write to registry."
    // through OnError when the store cannot be opened or written.
    void StoreTemplate();
    // Why the options cannot run ("Please, enter Width."), or an empty text.
    static QString Validate(const TBatchOptions& options);
    // Makes the output folder when it is missing; why it cannot be had, or empty.
    static QString PrepareOutputFolder(const TBatchOptions& options);
    // The outputs of the whole run, one entry per item (folders get an empty one), worked out
    // before any file is touched. Throws the refusal of a name, naming both files, and a
    // template that cannot make a file's new name, naming the file and why.
    QList<TPlannedFile> PlanNames(const TBatchOptions& options) const;
    // Loads a source into the surface; a file without EXIF information is a notice.
    void LoadFile(TDesigner& designer, const QString& source);
    // The encoded output of a planned file; nothing for a file that is only moved.
    static QByteArray RenderFile(TDesigner& designer, const QString& source,
                                 const TPlannedFile& plan, const TBatchOptions& options);
    // Writes the rendered bytes to the planned output, or moves the source there.
    static void WriteFile(const QString& source, const TPlannedFile& plan, const QByteArray& bytes);

    // The progress bar's maximum for n entries: three steps per entry.
    static int ProgressMaximum(int n) { return 3 * n; }

private:
    void advance();
    static void report(const std::function<void(const QString&)>& to, const QString& text);

    QList<TShellItem>& m_items;
    const TRenameTemplate& m_names;
    int m_position = 0;
};

// "Cancelled after N of M files."
QString CancelledMessage(int processed, int total);
// The output folder of the options as an absolute path ending in "/", or empty (beside each
// source).
QString OutputFolderPath(const TBatchOptions& options);
