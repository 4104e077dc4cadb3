#include "batch/window/TfrmGroup.h"

#include "batch/explorer/FolderThumbnails.h"
#include "batch/explorer/TfrmBottom.h"
#include "batch/window/TBatchPreview.h"
#include "batch/window/TToolBox.h"
#include "bricks/BrickPlacement.h"
#include "designer/state/TDesigner.h"
#include "imaging/core/BitmapOps.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PhotoFormats.h"
#include "imaging/core/PictureLoader.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/Conversions.h"
#include "platform/Errors.h"
#include "platform/FilePaths.h"
#include "platform/Messages.h"
#include "platform/RegularFile.h"
#include "platform/Rounding.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QThread>
#include <QTreeView>
#include <QVBoxLayout>

TfrmGroup* frmGroup = nullptr;

namespace {

constexpr int TokenSize = 48;
constexpr int LabelLeft = 6;
const char* const TokenHints[] = {"Date of the picture", "Time of the picture",
                                  "Number of the picture in this set", "Old file name"};

bool isImageFile(const QString& path) {
    return HasPhotoExtension(QFileInfo(path).fileName());
}

// A drag from the available-images list is refused when it carries a folder.
bool refusedDrag(const QMimeData* mime) {
    if (!mime || mime->data(QString::fromLatin1(TFolderModel::SourceMimeType)) != "available")
        return false;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir())
            return true;
    return false;
}

QStringList localFiles(const QMimeData* mime) {
    QStringList out;
    if (!mime || !mime->hasUrls())
        return out;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            out.append(url.toLocalFile());
    return out;
}

} // namespace

TSelectedImages::TSelectedImages(QWidget* parent) : QListWidget(parent) {
    setViewMode(QListView::IconMode);
    setIconSize(QSize(50, 50));
    setGridSize(QSize(90, 80));
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setWordWrap(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void TSelectedImages::dragEnterEvent(QDragEnterEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty() && !refusedDrag(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TSelectedImages::dragMoveEvent(QDragMoveEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty() && !refusedDrag(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TSelectedImages::dropEvent(QDropEvent* event) {
    const QStringList files = localFiles(event->mimeData());
    if (files.isEmpty() || refusedDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit filesDropped(files);
}

TfrmGroup::TfrmGroup(TDesigner* designer, QWidget* parent)
    : QDialog(parent), m_designer(designer) {
    Q_ASSERT(designer);
    frmGroup = this;
    setWindowTitle(QStringLiteral("Batch processing"));
    m_thumbGeneration = std::make_shared<std::atomic<int>>(0);
    m_thumbPool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
    m_thumbPool.setThreadPriority(QThread::LowPriority);
    m_maxThumbWorkers = m_thumbPool.maxThreadCount();
    m_placeholder = QImage(50, 50, QImage::Format_RGB32);
    m_placeholder.fill(Qt::white);
    m_unreadable = QApplication::style()
                       ->standardIcon(QStyle::SP_MessageBoxWarning)
                       .pixmap(32, 32)
                       .toImage()
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    m_makeThumb = [unreadable = m_unreadable](const QString& path,
                                              const std::function<bool()>& cancelled) {
        return MakeFileThumbnailImage(path, unreadable, cancelled);
    };

    auto* outer = new QHBoxLayout(this);
    buildAvailable();
    outer->addWidget(pnlAvailable, 1);

    auto* right = new QVBoxLayout;
    outer->addLayout(right, 1);

    auto* selectedRow = new QHBoxLayout;
    selectedRow->addWidget(new QLabel(QStringLiteral("Selected Images"), this), 1);
    btnAddFiles = new QPushButton(QStringLiteral("Add files..."), this);
    selectedRow->addWidget(btnAddFiles);
    right->addLayout(selectedRow);
    ListView1 = new TSelectedImages(this);
    ListView1->setMinimumHeight(150);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    right->addWidget(ListView1, 1);

    GroupBox5 = new QGroupBox(QStringLiteral("General"), this);
    auto* general = new QVBoxLayout(GroupBox5);
    cboxApplyPattern = new QCheckBox(QStringLiteral("Add current pattern to images"), GroupBox5);
    general->addWidget(cboxApplyPattern);
    right->addWidget(GroupBox5);

    // A clock correction for the photos of this run; it applies to names and captions alike.
    auto* clockRow = new QHBoxLayout;
    lblClockShift = new QLabel(QStringLiteral("Camera clock:"), this);
    edtClockShift = new QLineEdit(this);
    edtClockShift->setObjectName(QStringLiteral("edtClockShift"));
    edtClockShift->setPlaceholderText(QStringLiteral("as recorded"));
    edtClockShift->setToolTip(
        QStringLiteral("Moves every date and time read from the photos, e.g. +01:30:00 or "
                       "-1 02:00:00 ([+|-][D ]HH:MM[:SS]). Empty: the settings' "
                       "ClockShift.<Model> for each camera. The photos keep their own EXIF."));
    lblClockShift->setBuddy(edtClockShift);
    clockRow->addWidget(lblClockShift);
    clockRow->addWidget(edtClockShift, 1);
    right->addLayout(clockRow);
    // The example name is dated as the run will date it.
    connect(edtClockShift, &QLineEdit::textChanged, this, [this] {
        if (ListView1->count() > 0)
            UpdateNameExample();
    });

    grpResample = new QGroupBox(QStringLiteral("Batch resample"), this);
    buildResample(grpResample);
    right->addWidget(grpResample);

    grpRename = new QGroupBox(QStringLiteral("Batch rename"), this);
    buildRename(grpRename);
    right->addWidget(grpRename);

    grpOutput = new QGroupBox(QStringLiteral("Output"), this);
    {
        auto* row = new QHBoxLayout(grpOutput);
        cboxOutputFolder = new QCheckBox(QStringLiteral("Write into folder:"), grpOutput);
        cboxOutputFolder->setToolTip(
            QStringLiteral("Off: each output is written beside its source."));
        edtOutputFolder = new QLineEdit(grpOutput);
        edtOutputFolder->setObjectName(QStringLiteral("edtOutputFolder"));
        btnOutputFolder = new QPushButton(QStringLiteral("Browse..."), grpOutput);
        btnOutputFolder->setAutoDefault(false);
        row->addWidget(cboxOutputFolder);
        row->addWidget(edtOutputFolder, 1);
        row->addWidget(btnOutputFolder);
        const auto follow = [this] {
            edtOutputFolder->setEnabled(cboxOutputFolder->isChecked());
            btnOutputFolder->setEnabled(cboxOutputFolder->isChecked());
        };
        connect(cboxOutputFolder, &QCheckBox::toggled, this, follow);
        follow();
        connect(btnOutputFolder, &QPushButton::clicked, this, [this] {
            const QString folder = QFileDialog::getExistingDirectory(
                this, QStringLiteral("Output folder"), edtOutputFolder->text());
            if (!folder.isEmpty())
                edtOutputFolder->setText(QDir::toNativeSeparators(folder));
        });
    }
    right->addWidget(grpOutput);

    auto* buttons = new QHBoxLayout;
    PBar1 = new QProgressBar(this);
    PBar1->hide();
    buttons->addWidget(PBar1, 1);
    buttons->addStretch();
    btnPreview = new QPushButton(QStringLiteral("Preview..."), this);
    btnPreview->setAutoDefault(false);
    buttons->addWidget(btnPreview);
    btnProcess = new QPushButton(QStringLiteral("Process"), this);
    btnCancel = new QPushButton(QStringLiteral("Close"), this);
    btnProcess->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    buttons->addWidget(btnProcess);
    buttons->addWidget(btnCancel);
    right->addLayout(buttons);

    connect(btnProcess, &QPushButton::clicked, this, &TfrmGroup::btnProcessClick);
    connect(btnPreview, &QPushButton::clicked, this, &TfrmGroup::ShowPreview);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmGroup::reject);
    connect(btnAddFiles, &QPushButton::clicked, this, &TfrmGroup::addFilesDialog);
    connect(ListView1, &TSelectedImages::filesDropped, this, &TfrmGroup::AddFiles);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        QAction* remove = menu.addAction(QStringLiteral("Remove"));
        remove->setEnabled(!ListView1->selectedItems().isEmpty());
        if (menu.exec(ListView1->viewport()->mapToGlobal(at)) == remove)
            DeleteClick();
    });

    // The pattern can only be applied when the surface holds a brick now.
    m_groupEnabled = m_designer && !m_designer->Bricks().isEmpty();
    GroupBox5->setEnabled(m_groupEnabled);
    cboxApplyPattern->setEnabled(m_groupEnabled);

    setupTokens();
    SetRename();
}

void TfrmGroup::buildAvailable() {
    pnlAvailable = new QWidget(this);
    pnlAvailable->setObjectName(QStringLiteral("pnlAvailable"));
    auto* column = new QVBoxLayout(pnlAvailable);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(new QLabel(QStringLiteral("Available Images"), pnlAvailable));
    auto* split = new QSplitter(Qt::Vertical, pnlAvailable);
    column->addWidget(split, 1);

    m_folders = new QFileSystemModel(this);
    m_folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_folders->setRootPath(QDir::rootPath());
    ShellTreeView1 = new QTreeView(split);
    ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
    ShellTreeView1->setModel(m_folders);
    for (int c = 1; c < m_folders->columnCount(); ++c)
        ShellTreeView1->hideColumn(c);
    ShellTreeView1->setHeaderHidden(true);
    ShellTreeView1->setMinimumWidth(220);

    ListView2 = new TFolderList(split);
    ListView2->setObjectName(QStringLiteral("ListView2"));
    ListView2->Model()->SetSourceTag(QStringLiteral("available"));
    ListView2->setMinimumHeight(150);
    split->setStretchFactor(1, 1);

    connect(ShellTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) { ShellTreeView1Change(index); });
    connect(ShellTreeView1, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { ShellTreeView1Change(index); });
    // Folders opened inside the list are followed in the tree.
    connect(ListView2->Model(), &TFolderModel::folderShown, this, [this](const QString& path) {
        if (m_syncingTree)
            return;
        m_syncingTree = true;
        const QModelIndex index = m_folders->index(path);
        ShellTreeView1->setCurrentIndex(index);
        ShellTreeView1->scrollTo(index);
        m_syncingTree = false;
    });

    // The explorer's folder, or the start folder when there is no explorer.
    const QString start = frmBottom && !frmBottom->CurrentFolder().isEmpty()
                              ? frmBottom->CurrentFolder()
                              : StartFolder();
    ShowAvailableFolder(start);
}

void TfrmGroup::ShellTreeView1Change(const QModelIndex& index) {
    if (m_syncingTree || !index.isValid())
        return;
    // A tree entry without a folder path leaves the list as it is.
    const QString path = m_folders->filePath(index);
    if (path.isEmpty() || !QFileInfo(path).isDir() || path == ListView2->CurrentFolder())
        return;
    ShowAvailableFolder(path);
}

void TfrmGroup::ShowAvailableFolder(const QString& path) {
    ListView2->ShowFolder(path);
}

void TfrmGroup::AddSelectedFiles(const TFolderList* source) {
    if (source)
        AddFiles(source->SelectedPaths());
}

TfrmGroup::~TfrmGroup() {
    if (frmGroup == this)
        frmGroup = nullptr;
    // Workers still reading a file stop at its next block; none outlives the window.
    ++*m_thumbGeneration;
    m_thumbPool.clear();
    m_thumbPool.waitForDone();
}

void TfrmGroup::buildResample(QWidget* box) {
    auto* grid = new QGridLayout(box);
    cboxFit = new QCheckBox(QStringLiteral("Fit Images"), box);
    lblFitInto = new QLabel(QStringLiteral("Fit all Images into:"), box);
    lblWidth = new QLabel(QStringLiteral("Width:"), box);
    lblHeight = new QLabel(QStringLiteral("Height:"), box);
    lblPixels = new QLabel(QStringLiteral("pixels"), box);
    edtWidth = new QSpinBox(box);
    edtHeight = new QSpinBox(box);
    for (QSpinBox* s : {edtWidth, edtHeight}) {
        s->setRange(0, 10000);
        s->setValue(0);
    }
    cboxProp = new QCheckBox(QStringLiteral("Proportional"), box);
    cboxProp->setChecked(true);
    cboxProp->setToolTip(QStringLiteral(
        "Each image keeps its own aspect, as large as fits inside the box: a square box sets "
        "the long side"));
    lblFitExample = new QLabel(box);
    lblFitExample->setObjectName(QStringLiteral("lblFitExample"));
    cboxRotate = new QCheckBox(QStringLiteral("Rotate Images"), box);
    lblRotateBy = new QLabel(QStringLiteral("Rotate all Images by"), box);
    edtRotate = new QSpinBox(box);
    edtRotate->setRange(-360, 360);
    edtRotate->setSingleStep(90);
    edtRotate->setValue(0);
    lblDegrees = new QLabel(QStringLiteral("degrees"), box);

    grid->addWidget(cboxFit, 0, 0, 1, 2);
    grid->addWidget(lblFitInto, 1, 0, 1, 2);
    grid->addWidget(lblWidth, 2, 0);
    grid->addWidget(edtWidth, 2, 1);
    grid->addWidget(lblHeight, 2, 2);
    grid->addWidget(edtHeight, 2, 3);
    grid->addWidget(lblPixels, 2, 4);
    grid->addWidget(cboxProp, 3, 0, 1, 2);
    grid->addWidget(lblFitExample, 3, 2, 1, 3);
    grid->addWidget(cboxRotate, 4, 0, 1, 2);
    grid->addWidget(lblRotateBy, 5, 0, 1, 2);
    grid->addWidget(edtRotate, 5, 2);
    grid->addWidget(lblDegrees, 5, 3);

    auto applyFit = [this](bool on) {
        for (QWidget* w : std::initializer_list<QWidget*>{lblFitInto, lblWidth, lblHeight,
                                                          lblPixels, edtWidth, edtHeight, cboxProp})
            w->setEnabled(on);
    };
    auto applyRotate = [this](bool on) {
        for (QWidget* w : std::initializer_list<QWidget*>{lblRotateBy, edtRotate, lblDegrees})
            w->setEnabled(on);
    };
    connect(cboxFit, &QCheckBox::toggled, this, applyFit);
    connect(cboxRotate, &QCheckBox::toggled, this, applyRotate);
    applyFit(false);
    applyRotate(false);
    // The box is the user's: neither field follows the other, the example shows the result.
    for (QSpinBox* s : {edtWidth, edtHeight, edtRotate})
        connect(s, &QSpinBox::valueChanged, this, &TfrmGroup::updateFitExample);
    for (QCheckBox* c : {cboxFit, cboxProp, cboxRotate})
        connect(c, &QCheckBox::toggled, this, &TfrmGroup::updateFitExample);
}

void TfrmGroup::buildRename(QWidget* box) {
    auto* v = new QVBoxLayout(box);
    cboxRename = new QCheckBox(QStringLiteral("Rename files"), box);
    v->addWidget(cboxRename);
    pnlToolBox = new QWidget(box);
    pnlToolBox->setFocusPolicy(Qt::ClickFocus);
    pnlToolBox->installEventFilter(this);
    v->addWidget(pnlToolBox);
    lblNameExample = new QLabel(box);
    lblNameExample->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblNameExample->setWordWrap(true);
    v->addWidget(lblNameExample);
    connect(cboxRename, &QCheckBox::clicked, this, [this] { SetRename(); });
}

void TfrmGroup::setupTokens() {
    // Bevels and labels; both labels get one width so that the slots of the rows line up.
    lblName = new QLabel(QStringLiteral("New name:"), pnlToolBox);
    lblBox = new QLabel(QStringLiteral("Available templates:"), pnlToolBox);
    const int labelWidth = std::max(lblName->sizeHint().width(), lblBox->sizeHint().width());
    const int labelHeight = std::max(lblName->sizeHint().height(), lblBox->sizeHint().height());
    const int rowHeight = TokenSize + 10;
    const int panelWidth = LabelLeft + labelWidth + 6 + TokenSlots * (TokenSize + 6) + 6;
    bvlName = new QFrame(pnlToolBox);
    bvlName->setFrameShape(QFrame::StyledPanel);
    bvlName->setFrameShadow(QFrame::Sunken);
    bvlName->setGeometry(0, 0, panelWidth, rowHeight);
    lblName->setGeometry(LabelLeft, (rowHeight - labelHeight) / 2, labelWidth, labelHeight);
    const int boxTop = rowHeight + 2;
    lblBox->setGeometry(LabelLeft, boxTop + (rowHeight - labelHeight) / 2, labelWidth, labelHeight);
    bvlBox = new QFrame(pnlToolBox);
    bvlBox->setFrameShape(QFrame::StyledPanel);
    bvlBox->setFrameShadow(QFrame::Sunken);
    const int boxLeft = lblBox->x() + lblBox->width() + 1;
    bvlBox->setGeometry(boxLeft, boxTop, panelWidth - boxLeft, rowHeight);
    bvlName->lower();
    bvlBox->lower();
    pnlToolBox->setFixedSize(panelWidth, boxTop + rowHeight);

    EditBox = new QPlainTextEdit(pnlToolBox);
    EditBox->setProperty("Tag", int(rtCustomText));
    EditBox->setToolTip(QStringLiteral("Your text"));
    EditBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    EditBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    EditBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont small = EditBox->font();
    small.setPixelSize(10);
    EditBox->setFont(small);
    EditBox->document()->setDocumentMargin(1);
    EditBox->setGeometry(rowBase(TTokenRowKind::Available) + 5, rowTop(TTokenRowKind::Available),
                         TokenSize, TokenSize);
    EditBox->setPlainText(CustomTextPlaceholder);
    EditBox->viewport()->installEventFilter(this);
    EditBox->installEventFilter(this);
    connect(EditBox, &QPlainTextEdit::textChanged, this, &TfrmGroup::EditBoxChange);
    setEditMode(false);

    for (int j = 0; j < 4; ++j) {
        auto* box = new TToolBox(pnlToolBox);
        const int id = j + 2;
        box->setProperty("Tag", id);
        box->EnabledPicture = TokenPicture(j, true);
        box->DisabledPicture = TokenPicture(j, false);
        box->setToolTip(QString::fromLatin1(TokenHints[j]));
        box->setGeometry((id - 1) * (EditBox->width() + 6) + EditBox->x(),
                         rowTop(TTokenRowKind::Available), EditBox->width(), EditBox->height());
        box->installEventFilter(this);
        m_boxes.append(box);
    }

    InsertMarker = new QLabel(pnlToolBox);
    InsertMarker->setPixmap(QPixmap::fromImage(InsertMarkerPicture(TokenSize)));
    InsertMarker->setGeometry(0, 0, 6, TokenSize);
    InsertMarker->hide();

    m_names.LoadStored(Settings().defaultRenameTmp);
    ArrangeTokens();
    UpdateNameExample();
}

int TfrmGroup::rowBase(TTokenRowKind row) const {
    const QLabel* label = row == TTokenRowKind::NewName ? lblName : lblBox;
    return label->x() + label->width();
}

int TfrmGroup::rowTop(TTokenRowKind row) const {
    return row == TTokenRowKind::NewName ? 5 : bvlBox->y() + 5;
}

QWidget* TfrmGroup::Token(int id) const {
    if (id == rtCustomText)
        return EditBox;
    for (TToolBox* b : m_boxes)
        if (ComponentTag(b) == id)
            return b;
    return nullptr;
}

void TfrmGroup::ArrangeTokens() {
    m_names.CloseGaps();
    for (TTokenRowKind row : {TTokenRowKind::NewName, TTokenRowKind::Available}) {
        const TTokenRow& ids =
            row == TTokenRowKind::NewName ? m_names.NameTemplate : m_names.AvailableTokens;
        for (int k = 0; k < TokenSlots; ++k)
            if (QWidget* token = Token(ids[k]))
                token->move(TokenSlotLeft(rowBase(row), k, token->width()), rowTop(row));
    }
}

void TfrmGroup::UpdateNameExample() {
    if (m_items.isEmpty() || m_items.first().IsFolder)
        return;
    m_names.Rename = cboxRename->isChecked();
    std::optional<qint64> shift;
    try {
        shift = typedClockShift();
    } catch (const EConvertError& e) {
        lblNameExample->setText(QStringLiteral("Camera clock: %1").arg(e.message()));
        return;
    }
    const TThreadClockShift shifted(shift);
    // What the job would really do: a template that cannot make the name says why.
    const TRenameTemplate::Result made = m_names.BuildNewName(m_items.first().FullPath, 1);
    lblNameExample->setText(made.problem.isEmpty()
                                ? made.name
                                : QStringLiteral("No new name for %1: %2.")
                                      .arg(FileNameOf(m_items.first().FullPath), made.problem));
}

std::optional<qint64> TfrmGroup::typedClockShift() const {
    if (edtClockShift->text().trimmed().isEmpty())
        return std::nullopt;
    return ParseClockShift(edtClockShift->text());
}

void TfrmGroup::SetRename() {
    btnProcess->setEnabled(m_running || ListView1->count() > 0);
    btnPreview->setEnabled(!m_running && ListView1->count() > 0);
    const bool on = cboxRename->isChecked();
    m_names.Rename = on;
    for (QObject* child : pnlToolBox->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w && ComponentTag(w) > 0) {
            w->setEnabled(on);
            w->update();
        }
    }
    if (ListView1->count() > 0)
        UpdateNameExample();
    updateFitExample();
}

bool TfrmGroup::eventFilter(QObject* watched, QEvent* event) {
    QWidget* token = nullptr;
    QPoint offset; // from the watched widget to the token
    if (!EditBox)
        return QDialog::eventFilter(watched, event);
    if (watched == EditBox->viewport()) {
        token = EditBox;
        offset = EditBox->viewport()->pos();
    } else if (auto* box = qobject_cast<TToolBox*>(watched); box && m_boxes.contains(box)) {
        token = box;
    }

    if (watched == EditBox && event->type() == QEvent::FocusOut) {
        EditBoxExit();
        return false;
    }
    if (watched == pnlToolBox && event->type() == QEvent::MouseButtonPress) {
        pnlToolBoxMouseDown(pnlToolBox);
        return false;
    }
    if (!token)
        return QDialog::eventFilter(watched, event);
    // The memo in edit mode is a plain text field.
    const bool dragging = token != EditBox || !m_editMode;

    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (!dragging)
            return false;
        if (token == EditBox) {
            EditBox->setFocus(Qt::MouseFocusReason);
            m_memoHadFocus = true;
        } else {
            pnlToolBoxMouseDown(token);
        }
        return true;
    case QEvent::MouseMove:
        if (!dragging)
            return false;
        {
            auto* me = static_cast<QMouseEvent*>(event);
            ControlMouseMove(token, me->position().toPoint() + offset, me->buttons());
        }
        return true;
    case QEvent::MouseButtonRelease:
        if (!dragging)
            return false;
        ControlMouseUp(token);
        return true;
    case QEvent::MouseButtonDblClick:
        if (token == EditBox) {
            EditBoxDblClick();
            return true;
        }
        return false;
    default:
        return false;
    }
}

void TfrmGroup::pnlToolBoxMouseDown(QWidget* target) {
    target->setFocus(Qt::MouseFocusReason);
    if (target != pnlToolBox)
        target->raise();
}

void TfrmGroup::ControlMouseMove(QWidget* token, const QPoint& pos, Qt::MouseButtons buttons) {
    if (!(buttons & Qt::LeftButton))
        return;
    token->raise();
    token->move(token->pos() + pos);
    const TTokenRowKind row =
        token->y() < bvlBox->y() ? TTokenRowKind::NewName : TTokenRowKind::Available;
    InsertMarker->move(InsertMarkerLeft(token->x(), rowBase(row), token->width()), rowTop(row));
    InsertMarker->show();
    InsertMarker->raise();
    if (token == EditBox && EditBox->hasFocus()) {
        QTextCursor c = EditBox->textCursor();
        c.clearSelection();
        EditBox->setTextCursor(c);
    }
}

void TfrmGroup::ControlMouseUp(QWidget* token) {
    InsertMarker->hide();
    const int id = ComponentTag(token);
    const TTokenRowKind row =
        token->y() < bvlBox->y() ? TTokenRowKind::NewName : TTokenRowKind::Available;
    token->move(token->x(), rowTop(row));
    m_names.Drop(id, row, TokenDropSlot(token->x(), rowBase(row), token->width()));
    ArrangeTokens();
    UpdateNameExample();
    if (token == EditBox && !m_editMode && (m_memoHadFocus || EditBox->hasFocus()))
        cboxRename->setFocus(Qt::OtherFocusReason);
    m_memoHadFocus = false;
}

void TfrmGroup::setEditMode(bool edit) {
    m_editMode = edit;
    QPalette pal = EditBox->palette();
    pal.setColor(QPalette::Base, edit ? QColor(Qt::white) : pal.color(QPalette::Button));
    EditBox->setPalette(pal);
    EditBox->viewport()->setCursor(edit ? Qt::IBeamCursor : Qt::OpenHandCursor);
}

void TfrmGroup::EditBoxDblClick() {
    if (EditBox->toPlainText().contains(QStringLiteral("Type \n")))
        EditBox->clear();
    setEditMode(true);
    EditBox->setFocus(Qt::MouseFocusReason);
}

void TfrmGroup::EditBoxExit() {
    setEditMode(false);
}

void TfrmGroup::EditBoxChange() {
    QString text = EditBox->toPlainText();
    const int before = text.size();
    if (RemoveOneForbiddenCharacter(text)) {
        RemoveForbiddenCharacters(text);
        const int cursor = EditBox->textCursor().position();
        {
            const QSignalBlocker block(EditBox);
            EditBox->setPlainText(text);
        }
        QTextCursor c = EditBox->textCursor();
        c.setPosition(std::clamp(cursor - (before - int(text.size())), 0, int(text.size())));
        EditBox->setTextCursor(c);
    }
    m_names.CustomText = text;
}

void TfrmGroup::updateFitExample() {
    QString text;
    const int angle = cboxRotate->isChecked() ? edtRotate->value() : 0;
    if (cboxFit->isChecked() && edtWidth->value() > 0 && edtHeight->value() > 0 &&
        !m_items.isEmpty() && !m_items.first().IsFolder && angle % 90 == 0) {
        // The size the photo will have when processed: upright like every loaded photo, then
        // turned, then fitted, as the render does.
        QSize size;
        try {
            size = PhotoFileSize(m_items.first().FullPath, Settings().AutoRotate);
        } catch (const Exception&) {
            size = QSize();
        }
        if (!size.isEmpty()) {
            const QSize turned = angle % 180 != 0 ? size.transposed() : size;
            const QSize fitted = FitIntoBox(turned, QSize(edtWidth->value(), edtHeight->value()),
                                            cboxProp->isChecked());
            const QChar times(0x00D7);
            text = QStringLiteral("%1: %2 %3 %4 becomes %5 %3 %6")
                       .arg(FileNameOf(m_items.first().FullPath))
                       .arg(turned.width())
                       .arg(times)
                       .arg(turned.height())
                       .arg(fitted.width())
                       .arg(fitted.height());
        }
    }
    lblFitExample->setText(text);
}

QImage TfrmGroup::MakeThumbnail(const QString& path, bool isFolder) {
    if (isFolder) {
        QImage thumb(50, 50, QImage::Format_RGB32);
        thumb.fill(Qt::white);
        QPainter p(&thumb);
        const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
        p.drawPixmap(1, 1, icon.pixmap(48, 48));
        return thumb;
    }
    const QIcon unreadable = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    return MakeFileThumbnailImage(path, unreadable.pixmap(32, 32).toImage());
}

QImage TfrmGroup::MakeFileThumbnailImage(const QString& path, const QImage& unreadable,
                                         const std::function<bool()>& cancelled) {
    // Only a regular file of sane size is read (a pipe in the list must not hold a worker);
    // JPEG at a reduced scale, HEIF from the small picture it holds when it has one.
    return MakeFileThumbnail(path, Qt::white, unreadable, false, 50, cancelled).image;
}

void TfrmGroup::SetThumbnailMaker(ThumbnailMaker maker) {
    m_makeThumb = std::move(maker);
}

void TfrmGroup::SetMaxThumbnailWorkers(int count) {
    m_maxThumbWorkers = qMax(1, count);
    m_thumbPool.setMaxThreadCount(qMax(m_thumbPool.maxThreadCount(), m_maxThumbWorkers));
    startThumbnails();
}

void TfrmGroup::AddFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const bool folder = info.isDir();
        if (!folder && !isImageFile(path))
            continue;
        TShellItem entry;
        entry.ItemId =
            info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
        // An entry made from the same file stops the adding here.
        if (std::any_of(m_items.cbegin(), m_items.cend(),
                        [&](const TShellItem& e) { return e.ItemId == entry.ItemId; }))
            break;
        entry.DisplayName = info.fileName();
        entry.FullPath = info.absoluteFilePath();
        entry.TypeText = entry.FullPath;
        entry.IsFolder = folder;
        entry.DetailsPending = false;
        entry.ImageIndex = int(imglmyThumb.size());
        // A folder's picture is at hand; a file's is decoded by a worker and shown when it comes.
        imglmyThumb.append(QPixmap::fromImage(folder ? MakeThumbnail(entry.FullPath, true)
                                                     : m_placeholder));
        auto* item = new QListWidgetItem(QIcon(imglmyThumb.last()), entry.DisplayName);
        ListView1->addItem(item);
        m_itemOfId.insert(entry.ItemId, item);
        if (!folder)
            m_thumbQueue.append({entry.ItemId, entry.FullPath, entry.ImageIndex});
        m_items.append(entry);
    }
    SetRename();
    startThumbnails();
}

void TfrmGroup::startThumbnails() {
    while (m_thumbRunning < m_maxThumbWorkers && !m_thumbQueue.isEmpty()) {
        // The first waiting item in view goes first, else the first waiting one.
        qsizetype pick = 0;
        const QRect view = ListView1->viewport()->rect();
        for (qsizetype i = 0; i < m_thumbQueue.size(); ++i) {
            QListWidgetItem* item = m_itemOfId.value(m_thumbQueue[i].itemId);
            if (item && ListView1->visualItemRect(item).intersects(view)) {
                pick = i;
                break;
            }
        }
        const WaitingThumbnail job = m_thumbQueue.takeAt(pick);
        m_thumbOrder.append(job.path);
        ++m_thumbRunning;
        const int generation = *m_thumbGeneration;
        m_thumbPool.start([this, job, generation, current = m_thumbGeneration,
                           maker = m_makeThumb] {
            const auto cancelled = [current, generation] { return *current != generation; };
            QImage image;
            if (!cancelled())
                image = maker(job.path, cancelled);
            // Delivered on the window's thread; the window waits for its workers when it goes.
            QMetaObject::invokeMethod(
                this,
                [this, generation, job, image] {
                    thumbnailArrived(generation, job.itemId, job.imageIndex, image);
                },
                Qt::QueuedConnection);
        });
    }
}

void TfrmGroup::thumbnailArrived(int generation, const QString& itemId, int imageIndex,
                                 const QImage& image) {
    --m_thumbRunning;
    if (generation == *m_thumbGeneration && !image.isNull()) {
        if (imageIndex >= 0 && imageIndex < imglmyThumb.size())
            imglmyThumb[imageIndex] = QPixmap::fromImage(image);
        // An item removed meanwhile has nothing to show.
        if (QListWidgetItem* item = m_itemOfId.value(itemId))
            item->setIcon(QIcon(imglmyThumb.value(imageIndex)));
    }
    startThumbnails();
    if (PendingThumbnailCount() == 0)
        emit thumbnailsFinished();
}

void TfrmGroup::forgetThumbnails() {
    ++*m_thumbGeneration;
    m_thumbQueue.clear();
    m_itemOfId.clear();
}

bool TfrmGroup::WaitForThumbnails(int deadlineMs) {
    const QDeadlineTimer deadline(deadlineMs);
    while (PendingThumbnailCount() > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return PendingThumbnailCount() == 0;
}

void TfrmGroup::DeleteClick() {
    for (int i = ListView1->count() - 1; i >= 0; --i) {
        if (!ListView1->item(i)->isSelected())
            continue;
        QListWidgetItem* item = ListView1->takeItem(i);
        m_itemOfId.remove(m_items[i].ItemId);
        m_thumbQueue.removeIf(
            [&](const WaitingThumbnail& w) { return w.itemId == m_items[i].ItemId; });
        delete item;
        m_items.removeAt(i);
    }
    SetRename();
}

void TfrmGroup::addFilesDialog() {
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QStringLiteral("Add files"), QString(),
        QStringLiteral("Images (%1)").arg(PhotoFilePatterns(true)));
    if (!files.isEmpty())
        AddFiles(files);
}

void TfrmGroup::setInputEnabled(bool enabled) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{ListView1, btnAddFiles, grpResample, grpRename, grpOutput,
                                         edtClockShift})
        w->setEnabled(enabled);
    GroupBox5->setEnabled(enabled && m_groupEnabled);
}

void TfrmGroup::btnProcessClick() {
    if (m_running) {
        // Pressed again while the job runs: stop after the file in hand.
        m_cancel = true;
        return;
    }
    if (!m_designer)
        return;
    m_names.Rename = cboxRename->isChecked();
    m_names.CustomText = EditBox->toPlainText();

    TBatchJob job(m_items, m_names);
    // The job's reports become boxes.
    job.OnNotice = ShowInformation;
    job.OnRefusal = ShowMessage;
    job.OnError = ShowError;
    job.OnStart = [this](int maximum) {
        PBar1->setRange(0, maximum);
        PBar1->setValue(0);
        PBar1->show();
        ListView1->repaint();
    };
    // Events are handled between steps so that the bar moves and the job can be cancelled.
    job.OnProgress = [this](int position) {
        PBar1->setValue(position);
        QApplication::processEvents();
    };
    job.OnFinish = [this] {
        PBar1->hide();
        ListView1->update();
    };
    job.OnItemDone = [this](int index, const QString& newName) {
        if (QListWidgetItem* item = ListView1->item(index))
            item->setText(newName);
    };
    job.CancelRequested = [this] {
        QApplication::processEvents();
        return m_cancel;
    };

    TBatchOptions options;
    options.ApplyPattern = cboxApplyPattern->isChecked();
    options.Fit = cboxFit->isChecked();
    options.Proportional = cboxProp->isChecked();
    options.Rotate = cboxRotate->isChecked();
    try {
        options.Width = StrToInt(edtWidth->text());
        options.Height = StrToInt(edtHeight->text());
        options.Angle = StrToInt(edtRotate->text());
    } catch (const EConvertError& e) {
        // The template is stored even when the job does not start.
        job.StoreTemplate();
        ShowError(e.message());
        return;
    }

    try {
        options.ClockShift = typedClockShift();
    } catch (const EConvertError& e) {
        job.StoreTemplate();
        ShowError(QStringLiteral("Camera clock: %1").arg(e.message()));
        return;
    }

    options.KeepQuality = Settings().KeepPhotoQuality;
    options.Jobs = Settings().BatchJobs;
    if (cboxOutputFolder->isChecked()) {
        const QString folder = edtOutputFolder->text().trimmed();
        if (folder.isEmpty()) {
            ShowMessage(QStringLiteral("Please, choose the output folder."));
            return;
        }
        options.OutputFolder = QDir::fromNativeSeparators(folder);
    }

    m_running = true;
    m_cancel = false;
    setInputEnabled(false);
    btnProcess->setText(QStringLiteral("Cancel"));
    btnProcess->setEnabled(true);
    job.Run(*m_designer, options);
    m_running = false;
    btnProcess->setText(QStringLiteral("Process"));
    setInputEnabled(true);
    SetRename();
    if (m_closeAfterRun)
        close();
}

void TfrmGroup::ShowPreview() {
    if (!m_designer)
        return;
    m_names.Rename = cboxRename->isChecked();
    m_names.CustomText = EditBox->toPlainText();
    const auto value = [](const QString& text) {
        bool ok = false;
        const int v = text.toInt(&ok);
        return ok ? v : 0;
    };
    TBatchOptions job;
    job.ApplyPattern = cboxApplyPattern->isChecked();
    job.Fit = cboxFit->isChecked();
    job.Proportional = cboxProp->isChecked();
    job.Rotate = cboxRotate->isChecked();
    job.Width = value(edtWidth->text());
    job.Height = value(edtHeight->text());
    job.Angle = value(edtRotate->text());
    PreviewOptions options;
    options.applyPattern = job.ApplyPattern;
    options.fit = job.Fit && job.Width > 0 && job.Height > 0;
    options.width = job.Width;
    options.height = job.Height;
    options.proportional = job.Proportional;
    options.angle = job.Rotate ? job.Angle : 0;
    options.autoRotate = Settings().AutoRotate;
    options.band = m_designer->Band;
    try {
        options.clockShift = typedClockShift();
    } catch (const EConvertError& e) {
        ShowError(QStringLiteral("Camera clock: %1").arg(e.message()));
        return;
    }
    const TThreadClockShift shifted(options.clockShift);

    // The names the job would give; where it would refuse, the old ones.
    QList<TPlannedFile> plan;
    try {
        QList<TShellItem> items = m_items;
        plan = TBatchJob(items, m_names).PlanNames(job);
    } catch (const Exception&) {
    }
    QList<TBatchPreview::Entry> entries;
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items[i].IsFolder)
            continue;
        const QString name = i < plan.size() && !plan[i].Output.isEmpty()
                                 ? FileNameOf(plan[i].Output)
                                 : FileNameOf(m_items[i].FullPath);
        // {Counter} is the file's place in the job, as the run numbers it.
        entries.append({m_items[i].FullPath, name, i + 1});
    }
    delete m_preview;
    m_preview = new TBatchPreview(entries, BrickDataOf(m_designer->Bricks()), options, this);
    m_preview->setAttribute(Qt::WA_DeleteOnClose, false);
    m_preview->show();
}

void TfrmGroup::reject() {
    if (m_running) {
        // The window goes once the file in hand is done.
        m_cancel = true;
        m_closeAfterRun = true;
        return;
    }
    QDialog::reject();
}

void TfrmGroup::closeEvent(QCloseEvent* event) {
    if (m_running) {
        m_cancel = true;
        m_closeAfterRun = true;
        event->ignore();
        return;
    }
    forgetThumbnails();
    ListView1->clear();
    m_items.clear();
    QDialog::closeEvent(event);
}
