#include "inspector/TObjectInspector.h"

#include "inspector/InspectorMetrics.h"

#include "designer/state/TDesigner.h"
#include "platform/Errors.h"
#include "platform/Messages.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QScreen>
#include <QActionGroup>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kClosedTag = 55;
constexpr int kOpenTag = 100;
constexpr int kBoldRole = Qt::UserRole + 1;

int textHeight(const QWidget* w) {
    return w->fontMetrics().boundingRect(QStringLiteral("0")).height();
}

CellDecoration decorationOf(const TPropertyDescription& row) {
    if (row.TypeName == QLatin1String("TColor"))
        return CellDecoration::ColorSwatch;
    if (row.TypeName == QLatin1String("TAlignment"))
        return CellDecoration::AlignmentIcon;
    return CellDecoration::None;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The grid's table: names and display texts of the model's rows

class TInspectorTableModel : public QAbstractTableModel {
public:
    explicit TInspectorTableModel(const TInspectorModel& model, QObject* parent)
        : QAbstractTableModel(parent), m_model(model) {}
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : m_model.RowCount();
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= m_model.RowCount())
            return {};
        const TPropertyDescription& row = m_model.Rows()[index.row()];
        if (role == Qt::DisplayRole) {
            if (index.column() == 1)
                return m_model.DisplayText(index.row());
            // A sub-row shows its own name, set in under its object's row.
            if (row.SubIndex > 0)
                return QStringLiteral("    ") +
                       row.PropertyName.mid(row.PropertyName.lastIndexOf(QLatin1Char('.')) + 1);
            return row.PropertyName;
        }
        if (role == kBoldRole)
            return index.column() == 0 || m_model.IsDefault(index.row());
        return {};
    }
    void Reset() {
        beginResetModel();
        endResetModel();
    }
    void RowChanged(int row) { emit dataChanged(index(row, 0), index(row, 1)); }

private:
    const TInspectorModel& m_model;
};

// ---------------------------------------------------------------------------------------------
// Cell painting

class TInspectorDelegate : public QStyledItemDelegate {
public:
    TInspectorDelegate(const TObjectInspector& inspector, QObject* parent)
        : QStyledItemDelegate(parent), m_inspector(inspector) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const TInspectorModel& model = m_inspector.Model();
        if (index.row() >= model.RowCount())
            return;
        const TPropertyDescription& row = model.Rows()[index.row()];
        InspectorCell cell;
        cell.rect = option.rect;
        cell.nameColumn = index.column() == 0;
        cell.selected = index.row() == m_inspector.CurrentRow();
        cell.bold = index.data(kBoldRole).toBool();
        cell.skin = m_inspector.Skin();
        cell.text = index.data(Qt::DisplayRole).toString();
        if (!cell.nameColumn) {
            cell.decoration = decorationOf(row);
            if (cell.decoration == CellDecoration::ColorSwatch) {
                const auto c = ColorOfText(row.ValueText);
                if (c)
                    cell.color = *c;
                else
                    cell.decoration = CellDecoration::None;
            } else if (cell.decoration == CellDecoration::AlignmentIcon) {
                cell.alignment = AlignmentOfText(row.ValueText).value_or(Tk::taLeftJustify);
            }
        }
        painter->setFont(option.font);
        PaintInspectorCell(*painter, option.palette, cell);
    }

private:
    const TObjectInspector& m_inspector;
};

// Drop-down items with the alignment icon or the colour swatch before the text.
class TListItemDelegate : public QStyledItemDelegate {
public:
    TListItemDelegate(CellDecoration decoration, QObject* parent)
        : QStyledItemDelegate(parent), m_decoration(decoration) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (m_decoration == CellDecoration::None) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(option.rect,
                          option.palette.color(selected ? QPalette::Highlight : QPalette::Base));
        const QColor ink =
            option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QString text = index.data().toString();
        const QRect square = DecorationSquare(option.rect);
        if (m_decoration == CellDecoration::AlignmentIcon) {
            const QRect icon(option.rect.left() + 2,
                             option.rect.top() + (option.rect.height() - 11) / 2, 11, 11);
            DrawAlignmentIcon(*painter, icon, AlignmentOfText(text).value_or(Tk::taLeftJustify),
                              ink);
            painter->setPen(ink);
            painter->drawText(option.rect.adjusted(11 + 6, 0, 0, 0),
                              Qt::AlignLeft | Qt::AlignVCenter, text);
        } else {
            if (const auto c = ColorOfText(text))
                DrawColorSwatch(*painter, square, *c, ink);
            painter->setPen(ink);
            painter->drawText(
                option.rect.adjusted(square.right() + 1 + 3 - option.rect.left(), 0, 0, 0),
                Qt::AlignLeft | Qt::AlignVCenter, text);
        }
        painter->restore();
    }

private:
    CellDecoration m_decoration;
};

// ---------------------------------------------------------------------------------------------
// The grid, with its name-column splitter

class TInspectorGrid : public QTableView {
public:
    explicit TInspectorGrid(TObjectInspector& inspector)
        : QTableView(&inspector), m_inspector(inspector) {
        viewport()->setMouseTracking(true);
    }

protected:
    bool overSplit(int x) const {
        const int edge = columnWidth(0);
        return x >= edge - 1 && x <= edge + 1;
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && overSplit(int(e->position().x()))) {
            m_dragging = true;
            return;
        }
        QTableView::mousePressEvent(e);
        // A click on a value: what is typed next goes into its edit box.
        const QModelIndex at = indexAt(e->position().toPoint());
        if (e->button() == Qt::LeftButton && at.isValid() && at.column() == 1 &&
            m_inspector.InplaceEditor()->EditBoxShown())
            m_inspector.InplaceEditor()->EditBox()->setFocus(Qt::MouseFocusReason);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        const int x = int(e->position().x());
        if (m_dragging) {
            const int min = m_inspector.m_minNameWidth;
            if (x + min <= viewport()->width()) {
                setColumnWidth(0, std::max(x, min));
                m_inspector.relayoutColumns();
            }
            return;
        }
        viewport()->setCursor(overSplit(x) ? Qt::SplitHCursor : Qt::ArrowCursor);
        QTableView::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (m_dragging) {
            m_dragging = false;
            return;
        }
        QTableView::mouseReleaseEvent(e);
    }
    void keyPressEvent(QKeyEvent* e) override {
        TInplaceEditor* inplace = m_inspector.InplaceEditor();
        if (e->key() == Qt::Key_Down && (e->modifiers() & Qt::AltModifier)) {
            inplace->OpenDropDown();
            return;
        }
        if (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down) {
            m_inspector.MoveRow(e->key() == Qt::Key_Up ? -1 : 1);
            return;
        }
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter || e->key() == Qt::Key_F2) {
            // Into the row's value: its edit box, or its list.
            if (inplace->EditBoxShown())
                inplace->EditBox()->setFocus(Qt::OtherFocusReason);
            else
                inplace->OpenDropDown();
            return;
        }
        // A typed character is the start of a new value, never a search among the rows.
        const QString text = e->text();
        if (!text.isEmpty() && text.at(0).isPrint() &&
            !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            if (inplace->EditBoxShown()) {
                QLineEdit* box = inplace->EditBox();
                box->setFocus(Qt::OtherFocusReason);
                box->selectAll();
                QCoreApplication::sendEvent(box, e);
            }
            return;
        }
        QTableView::keyPressEvent(e);
    }
    void keyboardSearch(const QString&) override {}
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override {
        QTableView::currentChanged(current, previous);
        m_inspector.placeInplaceEditor();
        viewport()->update();
    }
    void resizeEvent(QResizeEvent* e) override {
        QTableView::resizeEvent(e);
        m_inspector.relayoutColumns();
    }
    void scrollContentsBy(int dx, int dy) override {
        QTableView::scrollContentsBy(dx, dy);
        m_inspector.placeInplaceEditor();
    }

private:
    TObjectInspector& m_inspector;
    bool m_dragging = false;
};

// ---------------------------------------------------------------------------------------------
// The in-place controls

TInplaceEditor::TInplaceEditor(TObjectInspector& inspector, QWidget* parent)
    : QWidget(parent), m_inspector(inspector), m_value(new QLineEdit(this)),
      m_readOnly(new QLabel(this)), m_down(new QToolButton(this)), m_editor(new QToolButton(this)),
      m_list(new QListWidget(&inspector)), m_checkList(new QListWidget(&inspector)) {
    m_value->setObjectName(QStringLiteral("oihValue"));
    m_readOnly->setObjectName(QStringLiteral("oihReadOnly"));
    m_down->setObjectName(QStringLiteral("oihDown"));
    m_editor->setObjectName(QStringLiteral("oihEditor"));
    m_list->setObjectName(QStringLiteral("oihList"));
    m_checkList->setObjectName(QStringLiteral("oihCheckList"));

    m_value->setFrame(false);
    m_readOnly->setAutoFillBackground(true);
    m_readOnly->setBackgroundRole(QPalette::Base);
    m_down->setArrowType(Qt::DownArrow);
    m_down->setProperty("Tag", kClosedTag);
    m_editor->setText(QStringLiteral("..."));
    for (QWidget* w : {static_cast<QWidget*>(m_value), static_cast<QWidget*>(m_readOnly)})
        w->installEventFilter(this);
    for (QListWidget* l : {m_list, m_checkList}) {
        // A window of its own, so that a list reaches past the inspector's edges.
        l->setWindowFlags(Qt::Popup);
        l->hide();
        l->installEventFilter(this);
    }
    connect(m_checkList, &QListWidget::itemChanged, this, [this] { WriteTicks(); });
    connect(m_down, &QToolButton::clicked, this, &TInplaceEditor::OpenDropDown);
    connect(m_editor, &QToolButton::clicked, this, [this] {
        closeLists();
        m_inspector.EditCurrent();
    });
    connect(m_list, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ChooseListItem(m_list->row(item)); });
    connect(m_list, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { ChooseListItem(m_list->row(item)); });
    hide();
}

CellDecoration TInplaceEditor::decoration() const {
    if (m_row < 0 || m_row >= m_inspector.Model().RowCount())
        return CellDecoration::None;
    return decorationOf(m_inspector.Model().Rows()[m_row]);
}

void TInplaceEditor::SetRow(int row) {
    if (!(m_ticking && row == m_row))
        closeLists();
    // The keyboard stays on the grid's row: in the edit box when the row has one, else on the
    // grid itself -- never passed on to the next control of the window.
    const bool hadFocus = m_value->hasFocus();
    m_row = row;
    const TInspectorModel& model = m_inspector.Model();
    if (row < 0 || row >= model.RowCount()) {
        if (hadFocus)
            m_inspector.Grid()->setFocus(Qt::OtherFocusReason);
        hide();
        return;
    }
    const TPropertyDescription& r = model.Rows()[row];
    bool drop = false;
    bool ellipsis = false;
    switch (r.TypeKind) {
    case TTypeKind::tkEnumeration:
    case TTypeKind::tkSet:
        m_readOnlyMode = true;
        drop = true;
        break;
    case TTypeKind::tkClass:
        m_readOnlyMode = true;
        drop = model.OffersReferences(row); // the surface's components of the property's class
        ellipsis = r.HasDialog;
        break;
    default:
        m_readOnlyMode = !r.Writable;
        drop = r.Writable && !r.ValueList.isEmpty();
        ellipsis = r.Writable && r.HasDialog;
        break;
    }
    // Off the edit box before it is hidden: a hidden focus widget hands the focus on as Tab
    // would, and Tab in the grid is a move to the next row.
    if (hadFocus && m_readOnlyMode)
        m_inspector.Grid()->setFocus(Qt::OtherFocusReason);
    const QString text = model.DisplayText(row);
    QFont font = this->font();
    font.setBold(model.IsDefault(row));
    m_value->setFont(font);
    m_readOnly->setFont(font);
    m_value->setText(text);
    m_readOnly->setText(text);
    m_value->setVisible(!m_readOnlyMode);
    m_readOnly->setVisible(m_readOnlyMode);
    m_down->setVisible(drop);
    m_editor->setVisible(ellipsis);
    layoutControls();
    show();
    update();
    if (hadFocus) {
        if (m_readOnlyMode) {
            m_inspector.Grid()->setFocus(Qt::OtherFocusReason);
        } else {
            m_value->setFocus(Qt::OtherFocusReason);
            m_value->selectAll();
        }
    }
}

void TInplaceEditor::layoutControls() {
    const int h = height();
    int right = width();
    if (m_editor->isVisibleTo(this)) {
        right -= h;
        m_editor->setGeometry(right, 0, h, h);
    }
    if (m_down->isVisibleTo(this)) {
        right -= h;
        m_down->setGeometry(right, 0, h, h);
    }
    int left = 0;
    if (decoration() != CellDecoration::None)
        left = DecorationSquare(QRect(0, 0, width(), h)).right() + 1 + 3;
    m_value->setGeometry(left, 0, std::max(0, right - left), h);
    m_readOnly->setGeometry(left, 0, std::max(0, right - left), h);
}

void TInplaceEditor::resizeEvent(QResizeEvent*) {
    layoutControls();
}

void TInplaceEditor::paintEvent(QPaintEvent*) {
    const CellDecoration d = decoration();
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    if (d == CellDecoration::None)
        return;
    const TPropertyDescription& row = m_inspector.Model().Rows()[m_row];
    const QRect square = DecorationSquare(QRect(0, 0, width(), height()));
    const QColor ink = palette().color(QPalette::ButtonText);
    if (d == CellDecoration::ColorSwatch) {
        if (const auto c = ColorOfText(row.ValueText))
            DrawColorSwatch(p, square, *c, ink);
    } else {
        DrawAlignmentIcon(p, square, AlignmentOfText(row.ValueText).value_or(Tk::taLeftJustify),
                          ink);
    }
}

bool TInplaceEditor::EditBoxShown() const {
    return isVisible() && m_value->isVisibleTo(this);
}
bool TInplaceEditor::ReadOnlyShown() const {
    return isVisible() && m_readOnly->isVisibleTo(this);
}
bool TInplaceEditor::DropDownShown() const {
    return isVisible() && m_down->isVisibleTo(this);
}
bool TInplaceEditor::EllipsisShown() const {
    return isVisible() && m_editor->isVisibleTo(this);
}
QString TInplaceEditor::Text() const {
    return m_readOnlyMode ? m_readOnly->text() : m_value->text();
}
void TInplaceEditor::SetEditText(const QString& text) {
    m_value->setText(text);
}
bool TInplaceEditor::ListOpen() const {
    return m_down->property("Tag").toInt() == kOpenTag;
}

void TInplaceEditor::closeLists() {
    m_list->hide();
    m_checkList->hide();
    m_down->setProperty("Tag", kClosedTag);
    m_down->setArrowType(Qt::DownArrow);
}

void TInplaceEditor::OpenDropDown() {
    if (m_row < 0 || !m_down->isVisibleTo(this))
        return;
    if (ListOpen()) {
        closeLists();
        return;
    }
    const TInspectorModel& model = m_inspector.Model();
    const TPropertyDescription& row = model.Rows()[m_row];
    QListWidget* list;
    if (!Text().contains(QLatin1Char('['))) {
        list = m_list;
        list->clear();
        list->addItems(model.DisplayList(m_row));
        list->setItemDelegate(new TListItemDelegate(decorationOf(row), list));
        // A reference shows as "(Name)", its item as the bare name.
        const int current = row.ReferenceClass ? model.DisplayListIndex(m_row)
                                               : int(model.DisplayList(m_row).indexOf(Text()));
        list->setCurrentRow(current);
    } else {
        // Shows which elements are set; ticks are not written back.
        list = m_checkList;
        list->clear();
        const QString cell = Text();
        const QSignalBlocker quiet(list);
        for (const QString& name : row.ValueList) {
            auto* item = new QListWidgetItem(name, list);
            const bool set = cell.contains(QLatin1Char('[') + name + QLatin1Char(']')) ||
                             cell.contains(QLatin1Char('[') + name + QLatin1Char(',')) ||
                             cell.contains(QLatin1Char(' ') + name + QLatin1Char(',')) ||
                             cell.contains(QLatin1Char(' ') + name + QLatin1Char(']'));
            // A tick is written at once (a font's style).
            item->setFlags(row.Writable ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable
                                        : Qt::ItemIsEnabled);
            item->setCheckState(set ? Qt::Checked : Qt::Unchecked);
        }
        m_down->setArrowType(Qt::UpArrow); // the "Close" glyph
    }
    const int rows = std::min(int(list->count()), 5);
    const int height = rows * (textHeight(this) + 4) + 2;
    const int left = m_readOnlyMode ? m_readOnly->x() : m_value->x();
    // As wide as the value's cell, or as its longest item, wherever that reaches.
    const int width = std::max(this->width() - left,
                               list->sizeHintForColumn(0) + 2 * list->frameWidth() +
                                   list->verticalScrollBar()->sizeHint().width() + 4);
    QPoint at = mapToGlobal(QPoint(left, this->height()));
    if (const QScreen* screen = this->screen()) {
        // Above the cell when the screen ends below it; pulled in from the screen's right edge.
        const QRect avail = screen->availableGeometry();
        if (at.y() + height > avail.bottom() && mapToGlobal(QPoint()).y() - height >= avail.top())
            at.setY(mapToGlobal(QPoint()).y() - height);
        if (at.x() + width > avail.right())
            at.setX(std::max(avail.left(), avail.right() - width));
    }
    list->setGeometry(at.x(), at.y(), width, height);
    list->show();
    list->raise();
    list->activateWindow();
    list->setFocus();
    m_down->setProperty("Tag", kOpenTag);
}

void TInplaceEditor::ChooseListItem(int index) {
    if (index < 0 || index >= m_list->count())
        return;
    const QString item = m_list->item(index)->text();
    closeLists();
    m_inspector.WriteCurrent(item);
}

void TInplaceEditor::WriteTicks() {
    if (m_row < 0 || !m_checkList->isVisible())
        return;
    QStringList ticked;
    for (int i = 0; i < m_checkList->count(); ++i)
        if (m_checkList->item(i)->checkState() == Qt::Checked)
            ticked.append(m_checkList->item(i)->text());
    m_ticking = true;
    m_inspector.WriteCurrent(QLatin1Char('[') + ticked.join(QStringLiteral(", ")) +
                             QLatin1Char(']'));
    m_ticking = false;
}

void TInplaceEditor::Enter() {
    m_inspector.WriteCurrent(m_value->text());
    m_value->selectAll();
}

void TInplaceEditor::Escape() {
    if (m_row >= 0)
        m_value->setText(m_inspector.Model().DisplayText(m_row));
    Enter();
}

bool TInplaceEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list || watched == m_checkList) {
        if (event->type() == QEvent::Hide) {
            // A popup closes by itself on a click elsewhere.
            m_down->setProperty("Tag", kClosedTag);
            m_down->setArrowType(Qt::DownArrow);
        } else if (event->type() == QEvent::FocusOut && !m_ticking) {
            static_cast<QWidget*>(watched)->hide();
            m_down->setProperty("Tag", kClosedTag);
            m_down->setArrowType(Qt::DownArrow);
        } else if (event->type() == QEvent::KeyPress &&
                   static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            closeLists();
            return true;
        }
        return false;
    }
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier)) {
            OpenDropDown();
            return true;
        }
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            m_inspector.MoveRow(key->key() == Qt::Key_Up ? -1 : 1);
            return true;
        }
        if (watched == m_value && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            Enter();
            return true;
        }
        if (watched == m_value && key->key() == Qt::Key_Escape) {
            Escape();
            return true;
        }
        break;
    }
    case QEvent::MouseButtonDblClick:
        if (m_row >= 0 && m_inspector.Model().Rows()[m_row].TypeKind == TTypeKind::tkEnumeration) {
            m_inspector.CycleCurrent();
            return true;
        }
        break;
    case QEvent::FocusIn:
        if (watched == m_value) {
            QPalette p = m_value->palette();
            p.setColor(QPalette::Base, palette().color(QPalette::ToolTipBase)); // info background
            m_value->setPalette(p);
            m_value->selectAll();
        }
        break;
    case QEvent::FocusOut:
        if (watched == m_value)
            m_value->setPalette(palette());
        break;
    default:
        break;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// The window

TObjectInspector::TObjectInspector(QWidget* parent) : QDockWidget(parent) {
    setObjectName(QStringLiteral("ObjectInspector"));
    setWindowTitle(QStringLiteral("Inspector"));
    setProperty("Tag", 55);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                QDockWidget::DockWidgetFloatable);

    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_panel = new QWidget(body);
    m_panel->setObjectName(QStringLiteral("OIPanel"));
    m_panel->setFixedHeight(24);
    auto* panelLayout = new QVBoxLayout(m_panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    m_parentObjects = new QComboBox(m_panel);
    m_parentObjects->setObjectName(QStringLiteral("ParentObjects"));
    m_parentObjects->setMaxVisibleItems(16);
    panelLayout->addWidget(m_parentObjects);
    connect(m_parentObjects, &QComboBox::activated, this,
            [this](int index) { parentObjectsClick(index); });
    layout->addWidget(m_panel);

    auto* bottom = new QWidget(body);
    bottom->setObjectName(QStringLiteral("OIBottomPanel"));
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    m_grid = new TInspectorGrid(*this);
    m_grid->setParent(bottom);
    m_grid->setObjectName(QStringLiteral("OIMainGrid"));
    m_table = new TInspectorTableModel(m_model, this);
    m_grid->setModel(m_table);
    m_grid->setItemDelegate(new TInspectorDelegate(*this, m_grid));
    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the grid; rows are moved by Up and Down.
    m_grid->setTabKeyNavigation(false);
    m_grid->setShowGrid(false);
    m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const int rowHeight = InspectorMetrics::RowHeight(textHeight(m_grid));
    m_grid->verticalHeader()->setMinimumSectionSize(rowHeight);
    m_grid->verticalHeader()->setDefaultSectionSize(rowHeight);
    m_grid->setBackgroundRole(QPalette::Button);
    bottomLayout->addWidget(m_grid);
    layout->addWidget(bottom, 1);
    setWidget(body);

    m_inplace = new TInplaceEditor(*this, m_grid->viewport());

    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("OIPopupMenu"));
    QMenu* arrange = m_popup->addMenu(QStringLiteral("Arrange"));
    auto* order = new QActionGroup(this);
    m_sortedAction = arrange->addAction(QStringLiteral("By Name"));
    m_unsortedAction = arrange->addAction(QStringLiteral("By Creation"));
    for (QAction* a : {m_sortedAction, m_unsortedAction}) {
        a->setCheckable(true);
        order->addAction(a);
    }
    m_sortedAction->setData(51);
    m_unsortedAction->setData(52);
    m_sortedAction->setChecked(true);
    connect(m_sortedAction, &QAction::triggered, this, [this] { SetSorted(true); });
    connect(m_unsortedAction, &QAction::triggered, this, [this] { SetSorted(false); });
    QMenu* skins = m_popup->addMenu(QStringLiteral("Skin"));
    auto* skinGroup = new QActionGroup(this);
    for (int tag : {kSkin1, kSkin2, kSkin3}) {
        QAction* a = skins->addAction(QStringLiteral("Skin %1").arg(tag - kSkin1 + 1));
        a->setCheckable(true);
        a->setData(tag);
        a->setChecked(tag == m_skin);
        skinGroup->addAction(a);
        connect(a, &QAction::triggered, this, [this, tag] { SetSkin(tag); });
        m_skinActions.append(a);
    }
    m_popup->addSeparator();
    QAction* hideAction = m_popup->addAction(QStringLiteral("Hide"));
    hideAction->setData(53);
    connect(hideAction, &QAction::triggered, this, &QWidget::hide);
    m_stayOnTopAction = m_popup->addAction(QStringLiteral("Stay on Top"));
    m_stayOnTopAction->setData(54);
    m_stayOnTopAction->setCheckable(true);
    connect(m_stayOnTopAction, &QAction::triggered, this, [this](bool on) { SetAlwaysOnTop(on); });
    connect(this, &QDockWidget::topLevelChanged, this, [this](bool floating) {
        m_alwaysOnTop = floating;
        m_stayOnTopAction->setChecked(floating);
    });
    m_popup->addSeparator();
    m_popup->addAction(QStringLiteral("Properties"))->setEnabled(false);

    setMinimumWidth(180);
    resize(229, 398 + 24);
    SetAlwaysOnTop(true);
    m_grid->setColumnWidth(0, InspectorMetrics::DefaultNameWidth(229));
    fillGrid();
}

TObjectInspector::~TObjectInspector() = default;

QTableView* TObjectInspector::Grid() const {
    return m_grid;
}

void TObjectInspector::SetDesigner(TDesigner* designer) {
    m_model.SetDesigner(designer);
    fillObjectList();
}

void TObjectInspector::Inspect(QObject* object) {
    if (object == m_model.Object() && object)
        return;
    m_model.Inspect(object);
    fillObjectList();
    fillGrid();
}

void TObjectInspector::SetSorted(bool byName) {
    m_model.SetSorted(byName);
    m_sortedAction->setChecked(byName);
    m_unsortedAction->setChecked(!byName);
    fillGrid();
}

void TObjectInspector::SetSkin(int skin) {
    m_skin = skin;
    for (QAction* a : m_skinActions)
        a->setChecked(a->data().toInt() == skin);
    m_grid->viewport()->update();
}

void TObjectInspector::fillGrid() {
    m_table->Reset();
    m_grid->setVisible(m_model.GridVisible());
    if (m_model.RowCount() > 0)
        m_grid->setCurrentIndex(m_table->index(0, 1));
    relayoutColumns();
    // The current row may keep its number across objects (or orders) while its value and kind
    // change: the in-place controls are read anew, never kept.
    placeInplaceEditor(true);
    m_grid->viewport()->update();
}

void TObjectInspector::fillObjectList() {
    const QSignalBlocker block(m_parentObjects);
    m_parentObjects->clear();
    m_parentObjects->addItems(m_model.ParentObjects());
    m_parentObjects->setCurrentIndex(m_model.ParentObjectIndex());
}

void TObjectInspector::parentObjectsClick(int index) {
    QObject* object = m_model.ParentObjectAt(index);
    if (!object)
        return;
    Inspect(object);
    if (m_objectChosen)
        m_objectChosen(object);
}

void TObjectInspector::relayoutColumns() {
    using namespace InspectorMetrics;
    const bool fit = RowsFit(m_model.RowCount(), m_grid->verticalHeader()->defaultSectionSize(),
                             m_grid->viewport()->height());
    const int scrollBar = m_grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                       m_grid->verticalScrollBar());
    m_grid->setColumnWidth(1, ValueColumnWidth(m_grid->width(), m_grid->columnWidth(0),
                                               kGridLineWidth, scrollBar, fit));
    placeInplaceEditor();
}

void TObjectInspector::placeInplaceEditor(bool reload) {
    if (!m_inplace)
        return; // still being built
    const int row = CurrentRow();
    if (row < 0 || !m_grid->isVisibleTo(this)) {
        m_inplace->SetRow(-1);
        return;
    }
    const QRect cell = m_grid->visualRect(m_table->index(row, 1));
    if (!cell.isValid() || !m_grid->viewport()->rect().intersects(cell)) {
        m_inplace->SetRow(-1); // the current row is scrolled out of view
        return;
    }
    m_inplace->setGeometry(InspectorMetrics::InplaceRect(cell, textHeight(m_grid)));
    if (reload || m_inplace->Row() != row || !m_inplace->isVisibleTo(m_grid->viewport()))
        m_inplace->SetRow(row);
}

int TObjectInspector::CurrentRow() const {
    const QModelIndex current = m_grid->currentIndex();
    return current.isValid() && current.row() < m_model.RowCount() ? current.row() : -1;
}

void TObjectInspector::SetCurrentRow(int row) {
    if (row >= 0 && row < m_model.RowCount())
        m_grid->setCurrentIndex(m_table->index(row, 1));
}

void TObjectInspector::MoveRow(int delta) {
    SetCurrentRow(CurrentRow() + delta);
}

void TObjectInspector::RefreshRow() {
    const int row = CurrentRow();
    if (row < 0)
        return;
    m_table->RowChanged(row);
    m_inplace->SetRow(row);
    m_grid->viewport()->update();
    if (const TPropertyEditorRegistry* editors = m_model.Editors())
        editors->NotifyPendingEditor();
}

void TObjectInspector::WriteCurrent(const QString& text) {
    const int row = CurrentRow();
    if (row < 0)
        return;
    const QString property = m_model.Rows()[row].PropertyName;
    try {
        m_model.WriteValue(row, text);
    } catch (const Exception& e) {
        m_lastError = e.message();
        ShowError(e.message());
        RefreshRow();
        // What was typed stays to be mended, with the reason beside it.
        if (CurrentRow() >= 0 && m_model.Rows()[CurrentRow()].PropertyName == property &&
            m_inplace->EditBoxShown()) {
            m_inplace->SetEditText(text);
            m_inplace->EditBox()->setToolTip(e.message());
            m_inplace->EditBox()->setFocus(Qt::OtherFocusReason);
            m_inplace->EditBox()->selectAll();
        }
        return;
    }
    m_lastError.clear();
    m_inplace->EditBox()->setToolTip(QString());
    RefreshRow();
}

void TObjectInspector::Refresh() {
    QWidget* focus = QApplication::focusWidget();
    const bool inEditBox = focus && focus == m_inplace->EditBox();
    const bool inInspector = focus && isAncestorOf(focus);
    const int row = CurrentRow();
    const QString property = row >= 0 ? m_model.Rows()[row].PropertyName : QString();
    const int scroll = m_grid->verticalScrollBar()->value();
    m_model.Reload();
    fillObjectList();
    m_table->Reset();
    m_grid->setVisible(m_model.GridVisible());
    int again = property.isEmpty() ? -1 : m_model.FindRow(property);
    if (again < 0 && m_model.RowCount() > 0)
        again = std::clamp(row, 0, m_model.RowCount() - 1);
    if (again >= 0)
        m_grid->setCurrentIndex(m_table->index(again, 1));
    m_grid->verticalScrollBar()->setValue(scroll);
    relayoutColumns();
    placeInplaceEditor(true);
    m_grid->viewport()->update();
    if (inInspector && m_grid->isVisible()) {
        if (inEditBox && m_inplace->EditBoxShown())
            m_inplace->EditBox()->setFocus(Qt::OtherFocusReason);
        else
            m_grid->setFocus(Qt::OtherFocusReason);
    }
}

void TObjectInspector::CycleCurrent() {
    const int row = CurrentRow();
    if (row < 0)
        return;
    try {
        m_model.CycleValue(row);
    } catch (const Exception& e) {
        ShowError(e.message());
    }
    RefreshRow();
}

void TObjectInspector::EditCurrent() {
    const int row = CurrentRow();
    if (row < 0)
        return;
    try {
        m_model.RunEditor(row);
    } catch (const Exception& e) {
        ShowError(e.message());
    }
    RefreshRow();
}

QRect TObjectInspector::WindowBounds() const {
    return geometry();
}

void TObjectInspector::SetWindowBounds(const QRect& bounds) {
    // Only the size takes: where a window goes is the window system's decision.
    setGeometry(bounds);
}

int TObjectInspector::ColWidth() const {
    return m_grid->columnWidth(0);
}

void TObjectInspector::SetColWidth(int width) {
    m_grid->setColumnWidth(0, std::max(width, m_minNameWidth));
    relayoutColumns();
}

bool TObjectInspector::AlwaysOnTop() const {
    return m_alwaysOnTop;
}

void TObjectInspector::SetAlwaysOnTop(bool onTop) {
    m_alwaysOnTop = onTop;
    m_stayOnTopAction->setChecked(onTop);
    if (qobject_cast<QMainWindow*>(parentWidget())) {
        // Docked into the main window when not on top; floating above it otherwise.
        setFloating(onTop);
        return;
    }
    // A window of its own: the window system's stay-on-top hint.
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (shown)
        show();
}

void TObjectInspector::resizeEvent(QResizeEvent* event) {
    QDockWidget::resizeEvent(event);
    relayoutColumns();
}

void TObjectInspector::contextMenuEvent(QContextMenuEvent* event) {
    m_popup->popup(event->globalPos());
}
