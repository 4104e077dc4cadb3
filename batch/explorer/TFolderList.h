#pragma once

#include "batch/core/TShellItem.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHash>
#include <QImage>
#include <QListView>
#include <QPixmap>
#include <QThreadPool>
#include <QTimer>
#include <atomic>

// File attribute bits as the lists keep them.
constexpr quint32 faReadOnly = 0x1;
constexpr quint32 faHidden = 0x2; // the name starts with a dot
constexpr quint32 faSystem = 0x4; // never set on this platform
constexpr quint32 faDirectory = 0x10;

// The folder the lists start in when nothing else is asked for.
QString StartFolder();

// The thumbnail side a list starts with.
constexpr int ThumbnailSideDefault = 50;

// One folder's sub-folders and JPEG, GIF and BMP files (any letter case), folders first, then
// names in natural order ("IMG2" before "IMG10"). Thumbnails are made by a pool of worker
// threads after the folder is shown, the entries in view first, and replace the blank ones as
// they arrive; attributes are read only when an entry is drawn. The folder is watched: when files
// come, go or are replaced, the list follows, keeping the thumbnails of unchanged files.
class TFolderModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Roles { PathRole = Qt::UserRole + 1, IsFolderRole, TypeTextRole };

    explicit TFolderModel(QObject* parent = nullptr);
    ~TFolderModel() override;

    // Fills the list from a folder. Throws EFOpenError naming the folder and the system's reason
    // when it cannot be read; the list then keeps what it had.
    void ShowFolder(const QString& path);
    // The current folder's parent; at the root the system beep sounds and nothing changes.
    void OpenParentFolder();
    // Reads the current folder again (what the watcher does when it changes): entries of files
    // whose size and time are unchanged keep their thumbnails. Throws as ShowFolder.
    void Refresh();
    // Lets go of the entries, their thumbnails and the folder's watch, keeping the folder's
    // name: a hidden list holds nothing. ShowFolder(CurrentFolder()) fills it again.
    void Release();
    bool Released() const { return m_released; }
    // The thumbnails' side (50, 100 or 200 pixels); a change makes them again.
    int ThumbnailSideInUse() const { return m_side; }
    void SetThumbnailSide(int side);
    // The rows on screen: their thumbnails are made before the others still waiting.
    void PreferRows(int first, int last);
    // The order thumbnails still waiting will be made in (image indexes), for tests.
    QList<int> WaitingThumbnails() const { return m_queue; }
    // How many thumbnail workers run at once (the pool's threads by default).
    void SetMaxWorkers(int count) { m_maxWorkers = std::max(1, count); }
    QString CurrentFolder() const { return m_folder; }

    const QList<TShellItem>& Entries() const { return m_items; }
    // The thumbnail list: entry i's picture is at Entries()[i].ImageIndex.
    const QList<QPixmap>& Thumbnails() const { return m_thumbs; }
    // Reads the attributes of the entries first..last that have not been read yet.
    void FetchDetails(int first, int last);
    // Type-ahead: the first entry from start on whose name begins with text (letter case aside),
    // going on from the first entry when wrap is set; -1 when none.
    int FindItem(const QString& text, int start, bool wrap) const;

    // True while thumbnails of the current folder are still being made; how many.
    bool ThumbnailsPending() const { return m_pending > 0; }
    int PendingThumbnailCount() const { return m_pending; }
    // Blocks until the workers are done and their thumbnails are in the list.
    void WaitForThumbnails();
    // Whether thumbnails are read from and written to the desktop's cache (on by default).
    void SetUseCache(bool use) { m_useCache = use; }
    // Marks drags from this list, so that a drop target can tell the lists apart.
    void SetSourceTag(const QString& tag) { m_sourceTag = tag; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;

    static const char* const SourceMimeType; // holds the source tag of a drag

signals:
    void beep();
    void folderShown(const QString& path);
    void thumbnailsFinished();
    // Files of the current folder came, went or were replaced; the list is about to follow.
    void folderChangedOnDisk();

private:
    struct Arrived {
        int generation;
        int imageIndex;
        QImage image;
        QString typeText;
    };
    // A file as it was when its thumbnail was made.
    struct Known {
        qint64 size = -1;
        qint64 modified = 0; // ms since the epoch
        QPixmap thumbnail;
        QString typeText;
    };
    void fill(const QString& path, bool keepKnown);
    void queueThumbnail(int imageIndex, const QString& path);
    void startWaiting();
    void finished(const Arrived& result, bool made);
    void arrived(const Arrived& result);
    void flushArrived();

    QString m_folder;
    QList<TShellItem> m_items;
    QList<QPixmap> m_thumbs;
    QList<int> m_rowOfImage;
    QPixmap m_blank;
    QImage m_folderIcon;
    QImage m_unreadableIcon;
    QColor m_background;
    bool m_useCache = true;
    bool m_released = false;
    QString m_sourceTag;

    int m_side = ThumbnailSideDefault;
    QHash<QString, Known> m_known; // by full path, for the current folder
    QList<int> m_queue;            // image indexes waiting for a worker, in order
    QHash<int, QString> m_queuedPaths;
    int m_running = 0;
    int m_maxWorkers = 1;
    QFileSystemWatcher m_watcher;
    QTimer m_refresh;

    QThreadPool m_pool;
    std::atomic<int> m_generation{0};
    int m_pending = 0;
    QList<Arrived> m_arrived;
    QTimer m_flush;
};

// The list view of a folder: 50 x 50 thumbnails as large icons, multi-select, drags of file
// URLs, type-ahead, Backspace for the parent folder and Enter as a double-click.
class TFolderList : public QListView {
    Q_OBJECT

public:
    explicit TFolderList(QWidget* parent = nullptr);

    TFolderModel* Model() const { return m_model; }
    // ShowFolder with the hourglass; a folder that cannot be read is shown in the error box.
    bool ShowFolder(const QString& path);
    void OpenParentFolder();
    QString CurrentFolder() const { return m_model->CurrentFolder(); }
    // The selected entries from the first selected one on, in list order; files only if asked.
    QList<TShellItem> SelectedEntries(bool filesOnly = false) const;
    QStringList SelectedPaths(bool filesOnly = false) const;
    // Double-click or Enter on the selected entry: opens a folder, announces a file.
    void ActivateSelected();

    void keyboardSearch(const QString& search) override;
    // The thumbnails' side and the grid cell that holds one with its name.
    void SetThumbnailSide(int side);

signals:
    void fileActivated(const QString& path);
    void itemSelected(const TShellItem& entry);

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    // The rows in view, handed to the model so that their thumbnails come first.
    void preferVisible();
    // The folder changed on disk: read again, keeping the selection, the current entry and the
    // scroll position.
    void followDisk();

    TFolderModel* m_model;
    QString m_typed;
    QElapsedTimer m_typedAt;
    QTimer m_visible;
};
