#pragma once

#include "batch/core/RenameTemplate.h"
#include "batch/core/TBatchJob.h"
#include "batch/core/TShellItem.h"
#include "batch/explorer/TFolderList.h"

#include <QDialog>
#include <QHash>
#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <optional>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QFileSystemModel;
class QTreeView;
class TDesigner;
class TToolBox;

// "Selected Images": takes files and folders dropped from the system's file manager.
class TSelectedImages : public QListWidget {
    Q_OBJECT

public:
    explicit TSelectedImages(QWidget* parent = nullptr);

signals:
    void filesDropped(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// The batch window: a job list of image files, the "General", "Batch resample" and "Batch
// rename" options, and "Process", which runs the job over the design surface.
class TfrmGroup : public QDialog {
    Q_OBJECT

public:
    explicit TfrmGroup(TDesigner* designer, QWidget* parent = nullptr);
    ~TfrmGroup() override;

    // Controls, named as the window's parts are named.
    TSelectedImages* ListView1 = nullptr;
    QPushButton* btnAddFiles = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    QCheckBox* cboxApplyPattern = nullptr;
    QLabel* lblClockShift = nullptr;
    QLineEdit* edtClockShift = nullptr; // "Camera clock"
    QGroupBox* grpResample = nullptr;
    QCheckBox* cboxFit = nullptr;
    QLabel* lblFitInto = nullptr;
    QLabel* lblWidth = nullptr;
    QLabel* lblHeight = nullptr;
    QLabel* lblPixels = nullptr;
    QSpinBox* edtWidth = nullptr;
    QSpinBox* edtHeight = nullptr;
    QCheckBox* cboxProp = nullptr;
    // What the fit makes of the first file ("a.jpg: 4000 × 3000 becomes 1600 × 1200").
    QLabel* lblFitExample = nullptr;
    QCheckBox* cboxRotate = nullptr;
    QLabel* lblRotateBy = nullptr;
    QSpinBox* edtRotate = nullptr;
    QLabel* lblDegrees = nullptr;
    QGroupBox* grpRename = nullptr;
    QCheckBox* cboxRename = nullptr;
    QWidget* pnlToolBox = nullptr;
    QFrame* bvlName = nullptr;
    QFrame* bvlBox = nullptr;
    QLabel* lblName = nullptr;
    QLabel* lblBox = nullptr;
    QPlainTextEdit* EditBox = nullptr;
    QLabel* InsertMarker = nullptr;
    QLabel* lblNameExample = nullptr;
    QProgressBar* PBar1 = nullptr;
    // "Output": beside the sources, or into another folder.
    QGroupBox* grpOutput = nullptr;
    QCheckBox* cboxOutputFolder = nullptr;
    QLineEdit* edtOutputFolder = nullptr;
    QPushButton* btnOutputFolder = nullptr;
    QPushButton* btnPreview = nullptr;
    QPushButton* btnProcess = nullptr;
    QPushButton* btnCancel = nullptr;
    QWidget* pnlAvailable = nullptr; // "Available Images": the folder tree and its list
    QTreeView* ShellTreeView1 = nullptr;
    TFolderList* ListView2 = nullptr;

    // The job list; entry i belongs to item i of ListView1.
    const QList<TShellItem>& Items() const { return m_items; }
    const TRenameTemplate& Template() const { return m_names; }
    // The token control with a token id (1 is EditBox).
    QWidget* Token(int id) const;
    bool EditMode() const { return m_editMode; }
    bool Running() const { return m_running; }

    // Appends files and folders to the job list. A path already in the list stops the adding:
    // it and the paths after it are not added.
    void AddFiles(const QStringList& paths);
    // The selected entries of a folder list (the explorer's or ListView2), as AddFiles adds them.
    void AddSelectedFiles(const TFolderList* source);
    void DeleteClick(); // "Remove": the selected items
    // Opens a folder in the available-images list and shows it in the folder tree.
    void ShowAvailableFolder(const QString& path);
    void SetRename();
    // "Preview": each selected photo as the job would write it, in a grid.
    void ShowPreview();
    // The preview window last shown (tests look into it).
    class TBatchPreview* LastPreview() const {
        return m_preview;
    }
    void UpdateNameExample();
    void ArrangeTokens();
    void btnProcessClick();

    // The thumbnail of a file or folder, 50 x 50.
    static QImage MakeThumbnail(const QString& path, bool isFolder);
    // The thumbnail of a file, 50 x 50, with the unreadable picture for a file that cannot be
    // decoded. Touches no widget: safe on any thread.
    // cancelled, when given, is asked between the file's blocks: once it answers true the
    // reading stops.
    static QImage MakeFileThumbnailImage(const QString& path, const QImage& unreadable,
                                         const std::function<bool()>& cancelled = {});

    // The job list's thumbnails are made by worker threads: AddFiles shows each file with a
    // blank thumbnail at once and the pictures replace them as they arrive, the items in view
    // first. How many are still awaited:
    int PendingThumbnailCount() const { return int(m_thumbQueue.size()) + m_thumbRunning; }
    // Handles events until every awaited thumbnail is in the list, or the deadline (ms) passes;
    // true when none is awaited any more.
    bool WaitForThumbnails(int deadlineMs = 60000);
    // The files whose thumbnails were handed to a worker, in that order.
    const QStringList& ThumbnailOrder() const { return m_thumbOrder; }
    // What makes one file's thumbnail on a worker (MakeFileThumbnailImage by default), and how
    // many run at once. cancelled answers true once the list was cleared or the window goes.
    using ThumbnailMaker =
        std::function<QImage(const QString& path, const std::function<bool()>& cancelled)>;
    void SetThumbnailMaker(ThumbnailMaker maker);
    void SetMaxThumbnailWorkers(int count);
    // The picture a file shows until its thumbnail arrives.
    QImage PlaceholderThumbnail() const { return m_placeholder; }

signals:
    void thumbnailsFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildResample(QWidget* box);
    void buildRename(QWidget* box);
    void setupTokens();
    int rowBase(TTokenRowKind row) const;
    int rowTop(TTokenRowKind row) const;
    void ControlMouseMove(QWidget* token, const QPoint& pos, Qt::MouseButtons buttons);
    void ControlMouseUp(QWidget* token);
    void pnlToolBoxMouseDown(QWidget* target);
    void EditBoxDblClick();
    void EditBoxExit();
    void EditBoxChange();
    void setEditMode(bool edit);
    void updateFitExample();
    // The "Camera clock" field's shift; none when empty. Throws EConvertError when it does not
    // read.
    std::optional<qint64> typedClockShift() const;
    void addFilesDialog();
    void setInputEnabled(bool enabled);
    void buildAvailable();
    void ShellTreeView1Change(const QModelIndex& index);
    void startThumbnails();
    void thumbnailArrived(int generation, const QString& itemId, int imageIndex,
                          const QImage& image);
    void forgetThumbnails();

    TDesigner* m_designer = nullptr;
    QFileSystemModel* m_folders = nullptr;
    bool m_syncingTree = false;
    QList<TShellItem> m_items;
    class TBatchPreview* m_preview = nullptr;
    QList<QPixmap> imglmyThumb;
    // Thumbnails waiting for a worker: the entry's ItemId, path and ImageIndex.
    struct WaitingThumbnail {
        QString itemId;
        QString path;
        int imageIndex;
    };
    QList<WaitingThumbnail> m_thumbQueue;
    QHash<QString, QListWidgetItem*> m_itemOfId; // the job list's items by ItemId
    QStringList m_thumbOrder;
    int m_thumbRunning = 0;
    int m_maxThumbWorkers = 1;
    ThumbnailMaker m_makeThumb;
    QImage m_placeholder;
    QImage m_unreadable;
    // Bumped when the list is cleared or the window goes: older results are dropped and
    // workers still reading stop.
    std::shared_ptr<std::atomic<int>> m_thumbGeneration;
    QThreadPool m_thumbPool;
    TRenameTemplate m_names;
    QList<TToolBox*> m_boxes;
    bool m_editMode = false;
    bool m_memoHadFocus = false;
    bool m_running = false;
    bool m_cancel = false;
    bool m_closeAfterRun = false;
    bool m_groupEnabled = false;
};

// The open batch window, cleared when it is destroyed.
extern TfrmGroup* frmGroup;
