#include "TBatchJob.h"

#include "Errors.h"
#include "ImageCodecs.h"
#include "Messages.h"
#include "RenderAndSave.h"
#include "SettingsStore.h"
#include "TDesigner.h"
#include "TSettings.h"

#include <QDir>
#include <QFileInfo>
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

QImage loadPicture(const QString& path) {
    QImage picture = ReadImageFile(path);
    if (picture.format() != QImage::Format_RGB32 && !picture.hasAlphaChannel())
        picture = picture.convertToFormat(QImage::Format_RGB32);
    return picture;
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

    for (const TShellItem& item : m_items)
        if (!item.IsFolder)
            ++result.Total;
    m_position = 0;
    // Folders are never processed, so only files count towards the bar's end.
    if (OnStart)
        OnStart(ProgressMaximum(result.Total));

    try {
        for (int i = 0; i < m_items.size(); ++i) {
            if (m_items[i].IsFolder)
                continue;
            if (CancelRequested && CancelRequested()) {
                result.Outcome = TBatchOutcome::Cancelled;
                break;
            }
            const QString source = m_items[i].FullPath;
            const QString newName = m_names.MakeNewName(source, i + 1);
            advance();
            // A date format may bring in a slash, which would send the file into another
            // folder; such a name cannot be written.
            if (newName.contains(QLatin1Char('/')))
                throw EFCreateError(QStringLiteral("Cannot create file \"%1\". The name holds "
                                                   "a folder separator.")
                                        .arg(QDir::toNativeSeparators(folderOf(source) + newName)));

            designer.realPicture = QImage(); // the previous file's picture goes before the next
            designer.realPicture = loadPicture(source);
            advance();

            designer.realExif = TExif();
            try {
                designer.realExif.LoadFromJpeg(source);
            } catch (const Exception&) {
                ShowInformation(fileNameOf(source) +
                                QStringLiteral(" doesn't have an EXIF information."));
            }

            const int w = options.Fit ? width : 0;
            const int h = options.Fit ? height : 0;
            const int a = options.Rotate ? angle : 0;
            QString written;
            if (renamesOnly(options, newName, a)) {
                written = folderOf(source) + newName;
                // Nothing to move when the name stays; moving a file onto itself would fail.
                if (written != source)
                    RenderAndSave(source, newName, w, h, a, options.Proportional,
                                  options.ApplyPattern, options.Fit, true);
            } else {
                RenderAndSave(source, newName, w, h, a, options.Proportional, options.ApplyPattern,
                              options.Fit, true);
                written = RenderOutputPath(source, newName);
            }
            designer.realPicture = QImage();

            // The path of the file actually written (its extension is in lower case), so that a
            // second run finds it on a case-sensitive file system.
            m_items[i].FullPath = written;
            m_items[i].TypeText = written;
            ++result.Processed;
            if (OnItemDone)
                OnItemDone(i, fileNameOf(written));
            advance();
        }
    } catch (const Exception& e) {
        result.Outcome = TBatchOutcome::Failed;
        result.Error = e.message();
    } catch (const std::exception& e) {
        result.Outcome = TBatchOutcome::Failed;
        result.Error = QString::fromLocal8Bit(e.what());
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
