#pragma once

#include "batch/core/RenameTemplate.h"
#include "batch/core/TShellItem.h"
#include "imaging/core/TExif.h"

#include <QImage>
#include <QList>
#include <QString>
#include <functional>

class TDesigner;

// The options of one run, as the batch window's controls hold them.
struct TBatchOptions {
    bool ApplyPattern = false; // "Add current pattern to images"
    bool Fit = false;          // "Fit Images"
    QString Width = QStringLiteral("0");
    QString Height = QStringLiteral("0");
    bool Proportional = true; // "Proportional"
    bool Rotate = false;      // "Rotate Images"
    QString Angle = QStringLiteral("0");
};

// How a run ended.
enum class TBatchOutcome {
    Completed,  // every file processed ("Operation complete!" shown)
    NotStarted, // a missing size, a field that is not an integer, or an output name that
                // would overwrite another file; no file touched
    Cancelled,  // stopped between files at the user's request
    Failed,     // a file could not be loaded or written
};

struct TBatchResult {
    TBatchOutcome Outcome = TBatchOutcome::Completed;
    int Processed = 0; // files processed in this run
    int Total = 0;     // files the run was to process (folders not counted)
    QString Error;     // the failure's message (NotStarted by conversion, Failed)
};

// Puts the design surface's full-size picture and EXIF record back when it goes, however the
// run ends.
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
};

// The batch job of the batch window, without the window: runs over a job list, building every
// new name from the rename template and calling RenderAndSave for every file that is not a
// folder. The list survives the run with the new paths.
class TBatchJob {
public:
    TBatchJob(QList<TShellItem>& items, const TRenameTemplate& names);

    // Progress: the bar is shown with its maximum, then advanced to each position, then hidden.
    std::function<void(int maximum)> OnStart;
    std::function<void(int position)> OnProgress;
    std::function<void()> OnFinish;
    // Entry i was processed and now carries its new path; newName is its new caption.
    std::function<void(int index, const QString& newName)> OnItemDone;
    // Asked between files; true stops the run, keeping what was done.
    std::function<bool()> CancelRequested;

    // Runs the job on the design surface (btnProcessClick's order). Every output name is
    // worked out first; a name that would overwrite another source of the job, the output of an
    // earlier file or any other existing file stops the job before a file is touched. Outputs
    // that replace their own source keep it as ".bak". Failures of a file are shown with
    // ShowError, naming the file, and end the run; the surface's picture and record are
    // restored.
    TBatchResult Run(TDesigner& designer, const TBatchOptions& options);

    // Stores the template as "defaultRenameTmp" (memory and store); "Can't write to registry."
    // when the store cannot be opened or written.
    static void StoreTemplate(const QString& stored);

    // The integer value of a field, or the conversion error.
    static int FieldValue(const QString& text);

    // The progress bar's maximum for n entries: three steps per entry.
    static int ProgressMaximum(int n) { return 3 * n; }

private:
    void advance();

    QList<TShellItem>& m_items;
    const TRenameTemplate& m_names;
    int m_position = 0;
};

// "Cancelled after N of M files."
QString CancelledMessage(int processed, int total);
