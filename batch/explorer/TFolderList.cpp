#include "batch/explorer/TFolderList.h"

#include "batch/explorer/FolderThumbnails.h"
#include "imaging/core/PhotoFormats.h"
#include "platform/Errors.h"
#include "platform/Messages.h"

#include <QApplication>
#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>

const char* const TFolderModel::SourceMimeType = "application/x-captiomark-folder-list";

namespace {

bool keptExtension(const QString& name) {
    return HasPhotoExtension(name);
}

// Restores the cursor however the work ends.
struct HourGlass {
    HourGlass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~HourGlass() { QApplication::restoreOverrideCursor(); }
    HourGlass(const HourGlass&) = delete;
    HourGlass& operator=(const HourGlass&) = delete;
};

QImage iconImage(QStyle::StandardPixmap which, int side) {
    return QApplication::style()
        ->standardIcon(which)
        .pixmap(side, side)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

QString StartFolder() {
    return QDir::homePath();
}

// ---- TFolderModel -------------------------------------------------------------------------

TFolderModel::TFolderModel(QObject* parent) : QAbstractListModel(parent) {
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
    m_maxWorkers = m_pool.maxThreadCount();
    // The user-interface thread goes first on a busy machine.
    m_pool.setThreadPriority(QThread::LowPriority);
    QImage blank(m_side, m_side, QImage::Format_RGB32);
    blank.fill(Qt::white);
    m_blank = QPixmap::fromImage(blank);
    m_folderIcon = ThumbnailOfIcon(iconImage(QStyle::SP_DirIcon, 48), m_side);
    m_unreadableIcon = iconImage(QStyle::SP_MessageBoxWarning, 32);
    m_background = QApplication::palette().color(QPalette::Window);
    // Thumbnails that arrive close together are shown together.
    m_flush.setSingleShot(true);
    m_flush.setInterval(30);
    connect(&m_flush, &QTimer::timeout, this, &TFolderModel::flushArrived);
    // A copy of many files changes the folder many times: it is read again once they settle.
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(300);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_refresh.start(); });
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        if (!m_folder.isEmpty() && QFileInfo(m_folder).isDir())
            emit folderChangedOnDisk();
    });
}

TFolderModel::~TFolderModel() {
    ++m_generation;
    m_pool.clear();
    m_pool.waitForDone();
}

void TFolderModel::ShowFolder(const QString& path) {
    fill(path, false);
}

void TFolderModel::Refresh() {
    if (!m_folder.isEmpty())
        fill(m_folder, true);
}

void TFolderModel::SetThumbnailSide(int side) {
    if (side == m_side || side < 16)
        return;
    m_side = side;
    QImage blank(side, side, QImage::Format_RGB32);
    blank.fill(Qt::white);
    m_blank = QPixmap::fromImage(blank);
    m_folderIcon = ThumbnailOfIcon(iconImage(QStyle::SP_DirIcon, std::min(side - 2, 128)), side);
    // Every thumbnail is made again at the new side.
    m_known.clear();
    if (!m_folder.isEmpty())
        fill(m_folder, false);
}

void TFolderModel::Release() {
    // Thumbnails still being made are told apart by their generation and dropped.
    ++m_generation;
    m_queue.clear();
    m_queuedPaths.clear();
    m_arrived.clear();
    m_flush.stop();
    m_refresh.stop();
    m_pending = 0;
    m_known.clear();
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    beginResetModel();
    m_items.clear();
    m_thumbs.clear();
    m_rowOfImage.clear();
    endResetModel();
    m_released = true;
}

void TFolderModel::fill(const QString& path, bool keepKnown) {
    const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Ask the system first, so that the message carries its reason.
    if (DIR* dir = ::opendir(QFile::encodeName(folder).constData()))
        ::closedir(dir);
    else
        throw EFOpenError(QStringLiteral("Cannot open folder %1. %2")
                              .arg(QDir::toNativeSeparators(folder),
                                   QString::fromLocal8Bit(std::strerror(errno))));

    QList<TShellItem> items;
    QHash<QString, QFileInfo> infos;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        TShellItem item;
        item.DisplayName = info.fileName();
        item.IsFolder = info.isDir();
        if (!item.IsFolder && !keptExtension(item.DisplayName))
            continue;
        item.FullPath = info.absoluteFilePath();
        item.ItemId = item.FullPath;
        item.TypeText = item.FullPath;
        items.append(item);
        infos.insert(item.FullPath, info);
    }
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(items.begin(), items.end(), [&](const TShellItem& a, const TShellItem& b) {
        if (a.IsFolder != b.IsFolder)
            return a.IsFolder;
        const int c = collator.compare(a.DisplayName, b.DisplayName);
        return c != 0 ? c < 0 : a.DisplayName < b.DisplayName;
    });

    // The old folder's thumbnails are no longer wanted; workers that are busy finish and are
    // told apart by their generation.
    ++m_generation;
    m_queue.clear();
    m_queuedPaths.clear();
    m_arrived.clear();
    m_flush.stop();
    m_pending = 0;
    if (folder != m_folder || !keepKnown)
        m_known.clear();
    if (folder != m_folder || m_watcher.directories().isEmpty()) {
        if (!m_watcher.directories().isEmpty())
            m_watcher.removePaths(m_watcher.directories());
        m_watcher.addPath(folder);
    }

    m_released = false;
    beginResetModel();
    m_items = std::move(items);
    m_thumbs.clear();
    m_rowOfImage.clear();
    m_folder = folder;
    QHash<QString, Known> known;
    for (int row = 0; row < m_items.size(); ++row) {
        TShellItem& item = m_items[row];
        item.ImageIndex = int(m_thumbs.size());
        m_rowOfImage.append(row);
        if (item.IsFolder) {
            m_thumbs.append(QPixmap::fromImage(m_folderIcon));
            continue;
        }
        const QFileInfo& info = infos[item.FullPath];
        const auto old = m_known.constFind(item.FullPath);
        if (old != m_known.constEnd() && old->size == info.size() &&
            old->modified == info.lastModified().toMSecsSinceEpoch()) {
            m_thumbs.append(old->thumbnail);
            item.TypeText = old->typeText;
            known.insert(item.FullPath, *old);
        } else {
            m_thumbs.append(m_blank);
            queueThumbnail(item.ImageIndex, item.FullPath);
        }
    }
    m_known = std::move(known);
    endResetModel();
    emit folderShown(m_folder);
    startWaiting();
    if (m_pending == 0)
        emit thumbnailsFinished();
}

void TFolderModel::queueThumbnail(int imageIndex, const QString& path) {
    ++m_pending;
    m_queue.append(imageIndex);
    m_queuedPaths.insert(imageIndex, path);
}

void TFolderModel::PreferRows(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, int(m_items.size()) - 1);
    if (first > last || m_queue.isEmpty())
        return;
    QList<int> wanted;
    for (int row = first; row <= last; ++row) {
        const int image = m_items[row].ImageIndex;
        if (m_queue.removeOne(image))
            wanted.append(image);
    }
    m_queue = wanted + m_queue;
}

void TFolderModel::startWaiting() {
    while (m_running < m_maxWorkers && !m_queue.isEmpty()) {
        const int imageIndex = m_queue.takeFirst();
        const QString path = m_queuedPaths.take(imageIndex);
        ++m_running;
        const int generation = m_generation;
        const QColor background = m_background;
        const QImage unreadable = m_unreadableIcon;
        const bool useCache = m_useCache;
        const int side = m_side;
        m_pool.start([this, generation, imageIndex, path, background, unreadable, useCache, side] {
            // A new folder or the list's end stops the work at the next block read.
            const auto cancelled = [this, generation] { return generation != m_generation; };
            Arrived result{generation, imageIndex, {}, {}};
            bool made = !cancelled();
            if (made) {
                FileThumbnail t =
                    MakeFileThumbnail(path, background, unreadable, useCache, side, cancelled);
                made = !cancelled();
                result.image = std::move(t.image);
                result.typeText = std::move(t.typeText);
            }
            QMetaObject::invokeMethod(
                this, [this, result, made] { finished(result, made); }, Qt::QueuedConnection);
        });
    }
}

void TFolderModel::finished(const Arrived& result, bool made) {
    --m_running;
    if (made)
        arrived(result);
    startWaiting();
}

void TFolderModel::arrived(const Arrived& result) {
    if (result.generation != m_generation)
        return;
    m_arrived.append(result);
    if (!m_flush.isActive())
        m_flush.start();
}

void TFolderModel::flushArrived() {
    if (m_arrived.isEmpty())
        return;
    int first = int(m_items.size()), last = -1;
    for (const Arrived& a : std::as_const(m_arrived)) {
        if (a.generation != m_generation || a.imageIndex >= m_thumbs.size())
            continue;
        m_thumbs[a.imageIndex] = QPixmap::fromImage(a.image);
        const int row = m_rowOfImage[a.imageIndex];
        TShellItem& item = m_items[row];
        item.TypeText = a.typeText;
        const QFileInfo info(item.FullPath);
        m_known.insert(item.FullPath, {info.size(), info.lastModified().toMSecsSinceEpoch(),
                                       m_thumbs[a.imageIndex], a.typeText});
        first = qMin(first, row);
        last = qMax(last, row);
        --m_pending;
    }
    m_arrived.clear();
    if (last >= 0)
        emit dataChanged(index(first), index(last), {Qt::DecorationRole, TypeTextRole});
    if (m_pending == 0)
        emit thumbnailsFinished();
}

void TFolderModel::WaitForThumbnails() {
    // Each finished worker starts the next waiting one.
    do {
        m_pool.waitForDone();
        QCoreApplication::sendPostedEvents(this);
    } while (m_running > 0 || !m_queue.isEmpty());
    m_flush.stop();
    flushArrived();
}

void TFolderModel::OpenParentFolder() {
    QDir dir(m_folder);
    if (m_folder.isEmpty() || dir.isRoot() || !dir.cdUp()) {
        QApplication::beep();
        emit beep();
        return;
    }
    ShowFolder(dir.absolutePath());
}

void TFolderModel::FetchDetails(int first, int last) {
    first = qMax(0, first);
    last = qMin(last, int(m_items.size()) - 1);
    for (int i = first; i <= last; ++i) {
        TShellItem& item = m_items[i];
        if (!item.DetailsPending)
            continue;
        const QFileInfo info(item.FullPath);
        quint32 attributes = 0;
        // The file's own mark, as the owner's write bit, not whether this user may write it.
        if (info.exists() && !(info.permissions() & QFileDevice::WriteOwner))
            attributes |= faReadOnly;
        if (item.DisplayName.startsWith(QLatin1Char('.')))
            attributes |= faHidden;
        if (item.IsFolder)
            attributes |= faDirectory;
        item.Attributes = attributes;
        item.DetailsPending = false;
    }
}

int TFolderModel::FindItem(const QString& text, int start, bool wrap) const {
    const int n = int(m_items.size());
    if (n == 0 || start < 0 || start >= n)
        return -1;
    const QString wanted = text.toUpper();
    int i = start;
    do {
        if (m_items[i].DisplayName.toUpper().startsWith(wanted))
            return i;
        ++i;
        if (i == n) {
            if (!wrap)
                break;
            i = 0;
        }
    } while (i != start);
    return -1;
}

int TFolderModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant TFolderModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_items.size())
        return QVariant();
    const int row = index.row();
    const TShellItem& item = m_items[row];
    switch (role) {
    case Qt::DisplayRole:
        return item.DisplayName;
    case Qt::ToolTipRole:
        // The whole name, which the list may show shortened in the middle.
        return item.DisplayName;
    case Qt::DecorationRole:
        return item.ImageIndex >= 0 && item.ImageIndex < m_thumbs.size()
                   ? QVariant(m_thumbs[item.ImageIndex])
                   : QVariant();
    case Qt::ForegroundRole:
    case Qt::FontRole: {
        // Attributes are read only for the entries that are drawn.
        const_cast<TFolderModel*>(this)->FetchDetails(row, row);
        const quint32 a = m_items[row].Attributes;
        if (role == Qt::FontRole) {
            if (!(a & faHidden))
                return QVariant();
            QFont font = QApplication::font();
            font.setStrikeOut(true);
            return font;
        }
        if (a & faSystem)
            return QApplication::palette().color(QPalette::Highlight);
        if (a & faReadOnly)
            return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
        return QVariant();
    }
    case PathRole:
        return item.FullPath;
    case IsFolderRole:
        return item.IsFolder;
    case TypeTextRole:
        return item.TypeText;
    default:
        return QVariant();
    }
}

Qt::ItemFlags TFolderModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled;
}

QStringList TFolderModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list"), QString::fromLatin1(SourceMimeType)};
}

QMimeData* TFolderModel::mimeData(const QModelIndexList& indexes) const {
    QList<int> rows;
    for (const QModelIndex& i : indexes)
        if (i.isValid() && i.row() < m_items.size())
            rows.append(i.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<QUrl> urls;
    for (int row : rows)
        urls.append(QUrl::fromLocalFile(m_items[row].FullPath));
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    mime->setData(QString::fromLatin1(SourceMimeType), m_sourceTag.toUtf8());
    return mime;
}

Qt::DropActions TFolderModel::supportedDragActions() const {
    return Qt::CopyAction;
}

// ---- TFolderList --------------------------------------------------------------------------

TFolderList::TFolderList(QWidget* parent) : QListView(parent), m_model(new TFolderModel(this)) {
    setModel(m_model);
    setViewMode(QListView::IconMode);
    setIconSize(QSize(ThumbnailSide, ThumbnailSide));
    setGridSize(QSize(ThumbnailSide + 40, ThumbnailSide + 30));
    setUniformItemSizes(true);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    // One line per name, shortened in the middle: photo names differ at their end, which stays
    // visible; the whole name is the entry's tooltip.
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    m_typedAt.start();
    m_visible.setSingleShot(true);
    m_visible.setInterval(40);
    connect(&m_visible, &QTimer::timeout, this, &TFolderList::preferVisible);
    connect(m_model, &TFolderModel::folderShown, &m_visible, qOverload<>(&QTimer::start));
    connect(m_model, &TFolderModel::folderChangedOnDisk, this, &TFolderList::followDisk);
}

void TFolderList::SetThumbnailSide(int side) {
    setIconSize(QSize(side, side));
    setGridSize(QSize(side + 40, side + 30));
    HourGlass wait;
    try {
        m_model->SetThumbnailSide(side);
    } catch (const Exception& e) {
        ShowError(e.message());
    }
}

void TFolderList::preferVisible() {
    const QRect view = viewport()->rect();
    int first = -1, last = -1;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (!visualRect(m_model->index(row)).intersects(view))
            continue;
        if (first < 0)
            first = row;
        last = row;
    }
    if (first >= 0)
        m_model->PreferRows(first, last);
}

void TFolderList::followDisk() {
    const QStringList selected = SelectedPaths();
    const QString current = currentIndex().data(TFolderModel::PathRole).toString();
    const int scrolled = verticalScrollBar()->value();
    try {
        m_model->Refresh();
    } catch (const Exception&) {
        return; // the folder went away: the list keeps what it showed
    }
    QItemSelection selection;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const QModelIndex i = m_model->index(row);
        const QString path = i.data(TFolderModel::PathRole).toString();
        if (selected.contains(path))
            selection.select(i, i);
        if (path == current)
            selectionModel()->setCurrentIndex(i, QItemSelectionModel::NoUpdate);
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    verticalScrollBar()->setValue(scrolled);
}

bool TFolderList::event(QEvent* event) {
    // Ctrl+A in the list selects its files, not the window's bricks.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::SelectAll)) {
        event->accept();
        return true;
    }
    return QListView::event(event);
}

void TFolderList::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    m_visible.start();
}

void TFolderList::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    m_visible.start();
}

bool TFolderList::ShowFolder(const QString& path) {
    HourGlass wait;
    try {
        m_model->ShowFolder(path);
    } catch (const Exception& e) {
        ShowError(e.message());
        return false;
    }
    m_typed.clear();
    if (m_model->rowCount() > 0)
        selectionModel()->setCurrentIndex(m_model->index(0), QItemSelectionModel::NoUpdate);
    return true;
}

void TFolderList::OpenParentFolder() {
    HourGlass wait;
    try {
        m_model->OpenParentFolder();
    } catch (const Exception& e) {
        ShowError(e.message());
    }
}

QList<TShellItem> TFolderList::SelectedEntries(bool filesOnly) const {
    QList<int> rows;
    for (const QModelIndex& i : selectionModel()->selectedIndexes())
        rows.append(i.row());
    std::sort(rows.begin(), rows.end());
    QList<TShellItem> out;
    for (int row : rows) {
        const TShellItem& item = m_model->Entries()[row];
        if (!filesOnly || !item.IsFolder)
            out.append(item);
    }
    return out;
}

QStringList TFolderList::SelectedPaths(bool filesOnly) const {
    QStringList out;
    for (const TShellItem& item : SelectedEntries(filesOnly))
        out.append(item.FullPath);
    return out;
}

void TFolderList::ActivateSelected() {
    const QList<TShellItem> selected = SelectedEntries();
    if (selected.isEmpty())
        return;
    const TShellItem& item = selected.first();
    if (item.IsFolder)
        ShowFolder(item.FullPath);
    else
        emit fileActivated(item.FullPath);
}

void TFolderList::keyboardSearch(const QString& search) {
    if (search.isEmpty() || m_model->rowCount() == 0)
        return;
    if (m_typedAt.elapsed() > QApplication::keyboardInputInterval())
        m_typed.clear();
    m_typedAt.restart();
    m_typed += search;
    const int n = m_model->rowCount();
    // A new search moves on past the current entry; a longer text may still match it.
    const int current = currentIndex().row();
    const int start = current < 0 ? 0 : m_typed.size() == 1 ? (current + 1) % n : current;
    const int row = m_model->FindItem(m_typed, start, true);
    if (row < 0)
        return;
    const QModelIndex found = m_model->index(row);
    selectionModel()->setCurrentIndex(found, QItemSelectionModel::ClearAndSelect);
    scrollTo(found);
}

void TFolderList::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Backspace:
        OpenParentFolder();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        ActivateSelected();
        event->accept();
        return;
    default:
        QListView::keyPressEvent(event);
    }
}

void TFolderList::mouseDoubleClickEvent(QMouseEvent* event) {
    QListView::mouseDoubleClickEvent(event);
    if (indexAt(event->position().toPoint()).isValid())
        ActivateSelected();
}

void TFolderList::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QListView::currentChanged(current, previous);
    if (current.isValid() && current.row() < m_model->Entries().size())
        emit itemSelected(m_model->Entries()[current.row()]);
}
