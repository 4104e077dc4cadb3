#include "batch/core/TBatchJob.h"

#include "designer/state/TDesigner.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <optional>

namespace {

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString fileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// RenderAndSave's rename-only case.
bool renamesOnly(const TBatchOptions& o, const QString& newName, int angle) {
    return !o.ApplyPattern && !o.Fit && newName.size() > 1 && angle == 0;
}

// Where one file of the job goes.
struct PlannedFile {
    QString newName; // bare name from the template
    QString output;  // the file the run writes (or moves the source to)
    bool moveOnly = false;
};

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The outputs of the whole run, worked out before any file is touched. A name is refused when
// writing it would destroy something: another source of the job not processed yet, the output
// of an earlier file, or any existing file other than the file's own source (which is replaced
// with a backup). Throws the refusal, naming both files.
QList<PlannedFile> planOutputs(const QList<TShellItem>& items, const TRenameTemplate& names,
                               const TBatchOptions& options, int angle) {
    QList<PlannedFile> plan(items.size());
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
        PlannedFile& p = plan[i];
        p.newName = names.MakeNewName(source, i + 1);
        // A date format may bring in a slash, which would send the file into another folder;
        // such a name cannot be written.
        if (p.newName.contains(QLatin1Char('/')))
            throw EFCreateError(QStringLiteral("Cannot create file \"%1\" for \"%2\". The name "
                                               "holds a folder separator.")
                                    .arg(shown(folderOf(source) + p.newName), shown(source)));
        p.moveOnly = renamesOnly(options, p.newName, options.Rotate ? angle : 0);
        p.output = p.moveOnly ? folderOf(source) + p.newName : RenderOutputPath(source, p.newName);

        const QString key = QDir::cleanPath(p.output);
        const QString own = QDir::cleanPath(source);
        if (key == own)
            continue; // in place: nothing to move, or replaced with a backup
        const QString refused = QStringLiteral("The new name of \"%1\" would be \"%2\", ")
                                    .arg(shown(source), shown(p.output));
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
        if (p.moveOnly)
            movedAway.insert(own);
    }
    return plan;
}

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

void TBatchJob::StoreTemplate(const QString& stored) {
    Settings().defaultRenameTmp = stored;
    SettingsStore store(SettingsKey);
    if (!store.OpenOrCreate() || !store.SetValue(QStringLiteral("defaultRenameTmp"), stored))
        ShowError(QStringLiteral("Can't write to registry. ") + store.errorString());
}

int TBatchJob::FieldValue(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return v;
}

void TBatchJob::advance() {
    ++m_position;
    if (OnProgress)
        OnProgress(m_position);
}

TBatchResult TBatchJob::Run(TDesigner& designer, const TBatchOptions& options) {
    TBatchResult result;
    StoreTemplate(m_names.StoredForm());

    // Declared before anything can fail: whatever happens below, the surface gets its own
    // picture and record back.
    std::optional<TSurfaceRestorer> restore(std::in_place, designer);

    int width = 0, height = 0, angle = 0;
    try {
        width = FieldValue(options.Width);
        height = FieldValue(options.Height);
        angle = FieldValue(options.Angle);
    } catch (const Exception& e) {
        result.Outcome = TBatchOutcome::NotStarted;
        result.Error = e.message();
        ShowError(e.message());
        return result;
    }
    if (options.Fit) {
        if (width == 0) {
            ShowMessage(QStringLiteral("Please, enter Width."));
            result.Outcome = TBatchOutcome::NotStarted;
            return result;
        }
        if (height == 0) {
            ShowMessage(QStringLiteral("Please, enter Height."));
            result.Outcome = TBatchOutcome::NotStarted;
            return result;
        }
    }

    QList<PlannedFile> plan;
    try {
        plan = planOutputs(m_items, m_names, options, angle);
    } catch (const Exception& e) {
        result.Outcome = TBatchOutcome::NotStarted;
        result.Error = e.message();
        ShowError(e.message());
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
            const PlannedFile& p = plan[i];
            advance();

            designer.realPicture = QImage(); // the previous file's picture goes before the next
            const QString exifError = designer.LoadPhoto(source);
            advance();

            if (!exifError.isEmpty())
                ShowInformation(fileNameOf(source) +
                                QStringLiteral(" doesn't have an EXIF information."));

            const int w = options.Fit ? width : 0;
            const int h = options.Fit ? height : 0;
            const int a = options.Rotate ? angle : 0;
            // Nothing to move when the name stays; moving a file onto itself would fail.
            if (!p.moveOnly || p.output != source)
                RenderAndSave(source, p.newName, w, h, a, options.Proportional,
                              options.ApplyPattern, options.Fit, true);
            designer.realPicture = QImage();

            // The path of the file actually written (its extension is in lower case), so that a
            // second run finds it on a case-sensitive file system.
            m_items[i].FullPath = p.output;
            m_items[i].TypeText = p.output;
            ++result.Processed;
            if (OnItemDone)
                OnItemDone(i, fileNameOf(p.output));
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
        ShowInformation(QStringLiteral("Operation complete!"));
        break;
    case TBatchOutcome::Cancelled:
        ShowInformation(CancelledMessage(result.Processed, result.Total));
        break;
    case TBatchOutcome::Failed:
        ShowError(result.Error);
        break;
    case TBatchOutcome::NotStarted:
        break;
    }
    return result;
}
