#include "batch/explorer/TfrmBottom.h"

#include "batch/explorer/FolderThumbnails.h"
#include "patterns/settings/TSettings.h"
#include "platform/SettingsStore.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QFileSystemModel>
#include <QHideEvent>
#include <QIcon>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

TfrmBottom* frmBottom = nullptr;

namespace {

const QString BoundsName = QStringLiteral("BottomBounds");
const QString FloatingName = QStringLiteral("BottomFloating");
const QString ThumbSizeName = QStringLiteral("ExplorerThumbnailSize");

} // namespace

TfrmBottom::TfrmBottom(QWidget* parent, const QString& folder) : QDockWidget(parent) {
    frmBottom = this;
    setObjectName(QStringLiteral("frmBottom"));
    setWindowTitle(QStringLiteral("Explorer"));
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    setAllowedAreas(Qt::BottomDockWidgetArea | Qt::TopDockWidgetArea);

    // Title bar: the caption, then the float and fold buttons in the place of the system ones.
    auto* title = new QWidget(this);
    auto* titleRow = new QHBoxLayout(title);
    titleRow->setContentsMargins(6, 1, 2, 1);
    titleRow->addWidget(new QLabel(QStringLiteral("Explorer"), title), 1);
    auto* btnFloat = new QToolButton(title);
    btnFloat->setAutoRaise(true);
    btnFloat->setIcon(style()->standardIcon(QStyle::SP_TitleBarNormalButton));
    btnFloat->setToolTip(QStringLiteral("Float"));
    titleRow->addWidget(btnFloat);
    btnFold = new QToolButton(title);
    btnFold->setObjectName(QStringLiteral("btnFold"));
    btnFold->setAutoRaise(true);
    titleRow->addWidget(btnFold);
    setTitleBarWidget(title);

    auto* client = new QWidget(this);
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(2, 2, 2, 2);
    btnUp = new QToolButton(client);
    btnUp->setObjectName(QStringLiteral("btnUp"));
    btnUp->setIcon(QIcon::fromTheme(QStringLiteral("go-up"),
                                    style()->standardIcon(QStyle::SP_FileDialogToParent)));
    btnUp->setToolTip(QStringLiteral("Up to the parent folder (Backspace)"));
    btnUp->setAutoRaise(true);
    edtPath = new QLineEdit(client);
    edtPath->setObjectName(QStringLiteral("edtPath"));
    edtPath->setToolTip(QStringLiteral("The folder shown; type another and press Enter"));
    auto* folders = new QFileSystemModel(edtPath);
    folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folders->setRootPath(QString());
    auto* completer = new QCompleter(folders, edtPath);
    edtPath->setCompleter(completer);
    cbThumbSize = new QComboBox(client);
    cbThumbSize->setObjectName(QStringLiteral("cbThumbSize"));
    cbThumbSize->setToolTip(QStringLiteral("Thumbnail size"));
    for (int side : ThumbnailSides)
        cbThumbSize->addItem(QStringLiteral("%1 px").arg(side), side);
    bar->addWidget(btnUp);
    bar->addWidget(edtPath, 1);
    bar->addWidget(cbThumbSize);
    column->addLayout(bar);
    ListView = new TFolderList(client);
    ListView->setObjectName(QStringLiteral("ListView"));
    ListView->Model()->SetSourceTag(QStringLiteral("explorer"));
    ListView->setToolTip(QStringLiteral("Double-click to open Image"));
    ListView->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(ListView, 1);
    stbMain = new QStatusBar(client);
    stbMain->setSizeGripEnabled(false);
    stbCount = new QLabel(stbMain);
    stbCount->setFixedWidth(100);
    stbType = new QLabel(stbMain);
    stbType->setMinimumWidth(50);
    stbMain->addWidget(stbCount);
    stbMain->addWidget(stbType, 1);
    column->addWidget(stbMain);
    setWidget(client);

    PopupMenu1 = new QMenu(this);
    popQuick = PopupMenu1->addAction(QStringLiteral("Apply pattern to Images"));
    popReposit = PopupMenu1->addAction(QStringLiteral("add files to group processing"));
    PopupMenu1->addSeparator();
    Refresh1 = PopupMenu1->addAction(QStringLiteral("Refresh"));

    connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmBottom::PopupMenu1Popup);
    connect(popQuick, &QAction::triggered, this, &TfrmBottom::popQuickClick);
    connect(popReposit, &QAction::triggered, this, &TfrmBottom::popRepositClick);
    connect(Refresh1, &QAction::triggered, this, &TfrmBottom::Refresh1Click);
    connect(ListView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(ListView->viewport()->mapToGlobal(at)); });
    connect(ListView, &TFolderList::fileActivated, this, &TfrmBottom::openImage);
    connect(ListView, &TFolderList::itemSelected, this, [this] { updateStatus(); });
    connect(ListView->Model(), &TFolderModel::folderShown, this, [this](const QString& folder) {
        folderShown(folder);
        updateStatus();
    });
    connect(btnUp, &QToolButton::clicked, this, [this] { ListView->OpenParentFolder(); });
    connect(edtPath, &QLineEdit::returnPressed, this, &TfrmBottom::pathEntered);
    // The size chosen last time.
    {
        SettingsStore store(SettingsKey);
        const int stored = store.Open() ? store.Value(ThumbSizeName).toInt() : 0;
        const int at = cbThumbSize->findData(stored);
        cbThumbSize->setCurrentIndex(at >= 0 ? at : 0);
        if (at > 0)
            ListView->SetThumbnailSide(stored);
    }
    connect(cbThumbSize, &QComboBox::activated, this, [this](int index) {
        const int side = cbThumbSize->itemData(index).toInt();
        ListView->SetThumbnailSide(side);
        SettingsStore store(SettingsKey);
        if (store.OpenOrCreate())
            store.SetValue(ThumbSizeName, QString::number(side));
    });
    connect(ListView->Model(), &QAbstractItemModel::dataChanged, this, [this] { updateStatus(); });
    connect(btnFold, &QToolButton::clicked, this, &TfrmBottom::Fold);
    connect(btnFloat, &QToolButton::clicked, this, [this] { setFloating(!isFloating()); });

    updateFoldButton();
    if (!folder.isEmpty())
        ListView->ShowFolder(folder);
}

TfrmBottom::~TfrmBottom() {
    if (!m_boundsSaved)
        SaveBounds();
    if (frmBottom == this)
        frmBottom = nullptr;
}

int TfrmBottom::ClientHeight() const {
    return widget()->height();
}

void TfrmBottom::Fold() {
    const int target = ClientHeight() == FoldedHeight ? UnfoldedHeight : FoldedHeight;
    QWidget* client = widget();
    client->setFixedHeight(target);
    m_folded = target == FoldedHeight;
    const int total = target + (titleBarWidget() ? titleBarWidget()->sizeHint().height() : 0);
    if (auto* main = qobject_cast<QMainWindow*>(parentWidget()); main && !isFloating())
        main->resizeDocks({this}, {total}, Qt::Vertical);
    else
        resize(width(), total);
    client->resize(client->width(), target);
    if (!m_folded) {
        // Unfolded, the user may resize the window again once the layout has taken the height.
        QTimer::singleShot(0, client, [client] {
            client->setMinimumHeight(0);
            client->setMaximumHeight(QWIDGETSIZE_MAX);
        });
    }
    updateFoldButton();
}

void TfrmBottom::folderShown(const QString& folder) {
    edtPath->setText(QDir::toNativeSeparators(folder));
    btnUp->setEnabled(!QDir(folder).isRoot());
}

void TfrmBottom::pathEntered() {
    const QString typed = QDir::fromNativeSeparators(edtPath->text().trimmed());
    if (typed.isEmpty() || !ListView->ShowFolder(typed))
        edtPath->setText(QDir::toNativeSeparators(CurrentFolder()));
    ListView->setFocus();
}

void TfrmBottom::updateFoldButton() {
    btnFold->setIcon(style()->standardIcon(m_folded ? QStyle::SP_TitleBarUnshadeButton
                                                    : QStyle::SP_TitleBarShadeButton));
    btnFold->setToolTip(m_folded ? QStringLiteral("Unfold") : QStringLiteral("Fold"));
}

void TfrmBottom::updateStatus() {
    stbCount->setText(QStringLiteral("%1 objects").arg(ListView->Model()->rowCount()));
    const QModelIndex current = ListView->currentIndex();
    const bool selected = current.isValid() && ListView->selectionModel()->isSelected(current);
    stbType->setText(selected ? current.data(TFolderModel::TypeTextRole).toString() : QString());
}

void TfrmBottom::PopupMenu1Popup() {
    const bool any = ListView->selectionModel()->hasSelection();
    popQuick->setEnabled(any);
    popReposit->setEnabled(any);
}

void TfrmBottom::popQuickClick() {
    const QStringList files = ListView->SelectedPaths(true);
    if (!files.isEmpty())
        emit applyPatternToFiles(files);
}

void TfrmBottom::popRepositClick() {
    const QStringList paths = ListView->SelectedPaths();
    if (!paths.isEmpty())
        emit addFilesToGroup(paths);
}

void TfrmBottom::Refresh1Click() {
    if (!CurrentFolder().isEmpty())
        ListView->ShowFolder(CurrentFolder());
}

void TfrmBottom::SaveBounds() {
    m_boundsSaved = true;
    SaveFormBounds(BoundsName, geometry());
    SettingsStore store(SettingsKey);
    if (store.OpenOrCreate())
        store.SetValue(FloatingName, isFloating() ? QStringLiteral("1") : QStringLiteral("0"));
}

void TfrmBottom::RestoreBounds() {
    const QRect bounds = LoadFormBounds(BoundsName);
    if (bounds.isNull() || bounds.height() <= 0)
        return;
    SettingsStore store(SettingsKey);
    const bool floating = store.Open() && store.Value(FloatingName) == QLatin1String("1");
    if (floating) {
        setFloating(true);
        setGeometry(bounds);
    } else if (auto* main = qobject_cast<QMainWindow*>(parentWidget())) {
        setFloating(false);
        main->resizeDocks({this}, {bounds.height()}, Qt::Vertical);
    } else {
        resize(width(), bounds.height());
    }
}

void TfrmBottom::hideEvent(QHideEvent* event) {
    QDockWidget::hideEvent(event);
    // The main window minimised hides it too, for a moment: the entries stay then.
    if (!event->spontaneous())
        ListView->Model()->Release();
}

void TfrmBottom::showEvent(QShowEvent* event) {
    QDockWidget::showEvent(event);
    if (ListView->Model()->Released() && !CurrentFolder().isEmpty()) {
        ListView->ShowFolder(CurrentFolder()); // a folder gone meanwhile says so
    }
}

void TfrmBottom::closeEvent(QCloseEvent* event) {
    SaveBounds();
    QDockWidget::closeEvent(event);
}
