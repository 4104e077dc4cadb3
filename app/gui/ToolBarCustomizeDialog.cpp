#include "app/gui/ToolBarCustomizeDialog.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

constexpr int NameRole = Qt::UserRole;

QString plainText(const QString& text) {
    QString t = text;
    // Menu mnemonics are not part of a command's name.
    t.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return t;
}

} // namespace

ToolBarCustomizeDialog::ToolBarCustomizeDialog(ToolBarLayout layout,
                                               std::function<QAction*(const QString&)> actionOf,
                                               QWidget* parent)
    : QDialog(parent), m_layout(std::move(layout)), m_actionOf(std::move(actionOf)) {
    setWindowTitle(QStringLiteral("Customize"));
    setObjectName(QStringLiteral("ToolBarCustomizeDialog"));

    m_bar = new QComboBox(this);
    m_bar->setObjectName(QStringLiteral("barBox"));
    m_bar->addItems(m_layout.BarNames());
    auto* barLabel = new QLabel(QStringLiteral("&Tool bar:"), this);
    barLabel->setBuddy(m_bar);

    m_available = new QListWidget(this);
    m_available->setObjectName(QStringLiteral("availableList"));
    m_available->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_shown = new QListWidget(this);
    m_shown->setObjectName(QStringLiteral("shownList"));
    m_shown->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_available->setIconSize(QSize(16, 16));
    m_shown->setIconSize(QSize(16, 16));
    auto* availableLabel = new QLabel(QStringLiteral("A&vailable commands:"), this);
    availableLabel->setBuddy(m_available);
    auto* shownLabel = new QLabel(QStringLiteral("&Shown on the bar, in order:"), this);
    shownLabel->setBuddy(m_shown);

    m_add = new QPushButton(QStringLiteral("&Add \u2192"), this);
    m_remove = new QPushButton(QStringLiteral("\u2190 &Remove"), this);
    m_up = new QPushButton(QStringLiteral("Move &Up"), this);
    m_down = new QPushButton(QStringLiteral("Move &Down"), this);
    m_reset = new QPushButton(QStringLiteral("R&eset Bar"), this);
    for (QPushButton* b : {m_add, m_remove, m_up, m_down, m_reset})
        b->setAutoDefault(false);

    auto* middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(m_add);
    middle->addWidget(m_remove);
    middle->addSpacing(12);
    middle->addWidget(m_up);
    middle->addWidget(m_down);
    middle->addSpacing(12);
    middle->addWidget(m_reset);
    middle->addStretch();

    auto* grid = new QGridLayout;
    grid->addWidget(barLabel, 0, 0);
    grid->addWidget(m_bar, 0, 1, 1, 2);
    grid->addWidget(availableLabel, 1, 0);
    grid->addWidget(shownLabel, 1, 2);
    grid->addWidget(m_available, 2, 0);
    grid->addLayout(middle, 2, 1);
    grid->addWidget(m_shown, 2, 2);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addWidget(buttons);

    connect(m_bar, &QComboBox::currentIndexChanged, this, [this] { fill(); });
    connect(m_add, &QPushButton::clicked, this, &ToolBarCustomizeDialog::addSelected);
    connect(m_remove, &QPushButton::clicked, this, &ToolBarCustomizeDialog::removeSelected);
    connect(m_up, &QPushButton::clicked, this, [this] { moveSelected(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { moveSelected(1); });
    connect(m_reset, &QPushButton::clicked, this, &ToolBarCustomizeDialog::resetBar);
    connect(m_available, &QListWidget::itemDoubleClicked, this,
            &ToolBarCustomizeDialog::addSelected);
    connect(m_shown, &QListWidget::itemDoubleClicked, this,
            &ToolBarCustomizeDialog::removeSelected);
    connect(m_available, &QListWidget::itemSelectionChanged, this,
            &ToolBarCustomizeDialog::updateButtons);
    connect(m_shown, &QListWidget::itemSelectionChanged, this,
            &ToolBarCustomizeDialog::updateButtons);
    fill();
    resize(560, 420);
}

QString ToolBarCustomizeDialog::bar() const {
    return m_bar->currentText();
}

void ToolBarCustomizeDialog::fill(const QString& selectShown) {
    const auto itemFor = [this](const QString& name, QListWidget* list) {
        auto* item = new QListWidgetItem(list);
        item->setData(NameRole, name);
        // Commands without an icon keep their text in line with the others.
        static const QIcon blank = [] {
            QPixmap p(16, 16);
            p.fill(Qt::transparent);
            return QIcon(p);
        }();
        if (QAction* a = m_actionOf(name)) {
            item->setText(plainText(a->text()));
            item->setIcon(a->icon().isNull() ? blank : a->icon());
            item->setToolTip(a->toolTip());
        } else {
            item->setText(name);
        }
        return item;
    };
    m_available->clear();
    m_shown->clear();
    for (const QString& name : m_layout.Available(bar()))
        itemFor(name, m_available);
    for (const QString& name : m_layout.Actions(bar())) {
        QListWidgetItem* item = itemFor(name, m_shown);
        if (name == selectShown) {
            m_shown->setCurrentItem(item);
            item->setSelected(true);
        }
    }
    // A row is chosen in each list from the start, so the buttons act at once by keyboard too;
    // on the bar its last one, so that a command added goes at the end.
    if (m_available->count() > 0)
        m_available->setCurrentRow(0);
    if (m_shown->count() > 0 && m_shown->selectedItems().isEmpty())
        m_shown->setCurrentRow(m_shown->count() - 1);
    updateButtons();
}

void ToolBarCustomizeDialog::updateButtons() {
    m_add->setEnabled(!m_available->selectedItems().isEmpty());
    const bool shown = !m_shown->selectedItems().isEmpty();
    m_remove->setEnabled(shown);
    m_up->setEnabled(shown);
    m_down->setEnabled(shown);
    m_reset->setEnabled(!m_layout.IsDefault(bar()));
}

void ToolBarCustomizeDialog::addSelected() {
    QStringList actions = m_layout.Actions(bar());
    QStringList added;
    for (int i = 0; i < m_available->count(); ++i)
        if (m_available->item(i)->isSelected())
            added << m_available->item(i)->data(NameRole).toString();
    if (added.isEmpty())
        return;
    // After the current row of the bar, as a toolbar editor places a new button.
    const int row = m_shown->currentRow();
    const int at = row >= 0 && m_shown->item(row)->isSelected() ? row + 1 : actions.size();
    for (int i = 0; i < added.size(); ++i)
        actions.insert(at + i, added[i]);
    m_layout.SetActions(bar(), actions);
    fill(added.last());
}

void ToolBarCustomizeDialog::removeSelected() {
    QStringList actions = m_layout.Actions(bar());
    for (int i = m_shown->count() - 1; i >= 0; --i)
        if (m_shown->item(i)->isSelected())
            actions.removeAt(i);
    m_layout.SetActions(bar(), actions);
    fill();
}

void ToolBarCustomizeDialog::moveSelected(int step) {
    QStringList actions = m_layout.Actions(bar());
    QList<int> rows;
    for (int i = 0; i < m_shown->count(); ++i)
        if (m_shown->item(i)->isSelected())
            rows << i;
    if (rows.isEmpty())
        return;
    // A block at the end it moves towards stays where it is.
    if ((step < 0 && rows.first() == 0) || (step > 0 && rows.last() == actions.size() - 1))
        return;
    QStringList moved;
    for (int r : rows)
        moved << actions[r];
    if (step < 0) {
        for (int r : rows)
            actions.swapItemsAt(r, r - 1);
    } else {
        for (auto it = rows.crbegin(); it != rows.crend(); ++it)
            actions.swapItemsAt(*it, *it + 1);
    }
    m_layout.SetActions(bar(), actions);
    fill();
    for (int i = 0; i < m_shown->count(); ++i)
        m_shown->item(i)->setSelected(moved.contains(m_shown->item(i)->data(NameRole).toString()));
    updateButtons();
}

void ToolBarCustomizeDialog::resetBar() {
    m_layout.Reset(bar());
    fill();
}
