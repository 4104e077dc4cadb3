#include "batch/core/TBatchJob.h"

#include "designer/state/TDesigner.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/FilePaths.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <optional>

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
            .perFileDates = true};
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

// A name is refused when writing it would destroy something: another source of the job not
// processed yet, the output of an earlier file, or any existing file other than the file's own
// source (which is replaced with a backup).
QList<TPlannedFile> TBatchJob::PlanNames(const TBatchOptions& options) const {
    const QList<TShellItem>& items = m_items;
    QList<TPlannedFile> plan(items.size());
    QHash<QString, int> sourceAt;
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].IsFolder)
            continue;
        const QString source = QDir::cleanPath(items[i].FullPath);
        if (sourceAt.contains(source))
            throw Exception(QStringLiteral("\"%1\" is in the job twice. Nothing was written.")
                                .arg(shown(source)));
        sourceAt.insert(source, i);
    }

    QHash<QString, int> outputOf; // output -> index of the file that writes it
    QSet<QString> movedAway;      // sources a rename takes away before later files run
    for (int i = 0; i < items.size(); ++i) {
        if (items[i].IsFolder)
            continue;
        const QString source = items[i].FullPath;
        TPlannedFile& p = plan[i];
        p.NewName = m_names.MakeNewName(source, i + 1);
        // A date format may bring in a slash, which would send the file into another folder;
        // such a name cannot be written.
        if (p.NewName.contains(QLatin1Char('/')))
            throw EFCreateError(QStringLiteral("Cannot create file \"%1\" for \"%2\". The name "
                                               "holds a folder separator.")
                                    .arg(shown(FolderOf(source) + p.NewName), shown(source)));
        p.MoveOnly = RenderRenamesOnly(renderOptions(options, p.NewName));
        p.Output = p.MoveOnly ? FolderOf(source) + p.NewName : RenderOutputPath(source, p.NewName);

        const QString key = QDir::cleanPath(p.Output);
        const QString own = QDir::cleanPath(source);
        if (key == own)
            continue; // in place: nothing to move, or replaced with a backup
        const QString refused = QStringLiteral("The new name of \"%1\" would be \"%2\", ")
                                    .arg(shown(source), shown(p.Output));
        if (const auto earlier = outputOf.constFind(key); earlier != outputOf.cend())
            throw Exception(refused + QStringLiteral("which is also the new name of \"%1\". "
                                                     "Nothing was written.")
                                          .arg(shown(items[*earlier].FullPath)));
        if (const auto later = sourceAt.constFind(key); later != sourceAt.cend() && *later > i)
            throw Exception(refused + QStringLiteral("which is another image of this job, not "
                                                     "processed yet. Nothing was written."));
        if (QFileInfo::exists(key) && !movedAway.contains(key))
            throw Exception(refused + QStringLiteral("which already exists. Nothing was "
                                                     "written."));
        outputOf.insert(key, i);
        if (p.MoveOnly)
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

} // namespace

QString CancelledMessage(int processed, int total) {
    return QStringLiteral("Cancelled after %1 of %2 files.").arg(processed).arg(total);
}

TSurfaceRestorer::TSurfaceRestorer(TDesigner& designer)
    : m_designer(designer), m_picture(designer.realPicture), m_exif(designer.realExif) {}

TSurfaceRestorer::~TSurfaceRestorer() {
    m_designer.realPicture = std::move(m_picture);
    m_designer.realExif = std::move(m_exif);
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
    return RenderImage(designer, source, renderOptions(options, plan.NewName));
}

void TBatchJob::WriteFile(const QString& source, const TPlannedFile& plan,
                          const QByteArray& bytes) {
    if (!plan.MoveOnly)
        WriteRendered(source, plan.NewName, bytes);
    else if (plan.Output != source) // moving a file onto itself would fail
        RenameOnly(source, plan.NewName);
}

void TBatchJob::advance() {
    ++m_position;
    if (OnProgress)
        OnProgress(m_position);
}

TBatchResult TBatchJob::Run(TDesigner& designer, const TBatchOptions& options) {
    TBatchResult result;
    StoreTemplate();

    // Declared before anything can fail: whatever happens below, the surface gets its own
    // picture and record back.
    std::optional<TSurfaceRestorer> restore(std::in_place, designer);

    if (const QString refusal = Validate(options); !refusal.isEmpty()) {
        result.Outcome = TBatchOutcome::NotStarted;
        report(OnRefusal, refusal);
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

    for (const TShellItem& item : m_items)
        if (!item.IsFolder)
            ++result.Total;
    m_position = 0;
    // Folders are never processed, so only files count towards the bar's end.
    if (OnStart)
        OnStart(ProgressMaximum(result.Total));

    QString source;
    try {
        for (int i = 0; i < m_items.size(); ++i) {
            if (m_items[i].IsFolder)
                continue;
            if (CancelRequested && CancelRequested()) {
                result.Outcome = TBatchOutcome::Cancelled;
                break;
            }
            source = m_items[i].FullPath;
            const TPlannedFile& p = plan[i];
            advance();

            LoadFile(designer, source);
            advance();

            const QByteArray bytes = RenderFile(designer, source, p, options);
            designer.realPicture = QImage();
            WriteFile(source, p, bytes);

            // The path of the file actually written (its extension is in lower case), so that a
            // second run finds it on a case-sensitive file system.
            m_items[i].FullPath = p.Output;
            m_items[i].TypeText = p.Output;
            ++result.Processed;
            if (OnItemDone)
                OnItemDone(i, FileNameOf(p.Output));
            advance();
        }
    } catch (const Exception& e) {
        result.Outcome = TBatchOutcome::Failed;
        result.Error = namingFile(e.message(), source);
    } catch (const std::exception& e) {
        result.Outcome = TBatchOutcome::Failed;
        result.Error = namingFile(QString::fromLocal8Bit(e.what()), source);
    }

    if (OnFinish)
        OnFinish();
    restore.reset();
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
