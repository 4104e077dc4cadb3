#include "batch/window/TBatchPreview.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QPointer>
#include <QThreadPool>
#include <QVBoxLayout>

TBatchPreview::TBatchPreview(const QList<Entry>& entries, const QList<BrickData>& bricks,
                             const PreviewOptions& options, QWidget* parent)
    : QDialog(parent), m_tiles(entries.size()), m_longSide(options.longSide) {
    setWindowTitle(QStringLiteral("Batch preview"));
    auto* column = new QVBoxLayout(this);
    m_note = new QLabel(this);
    m_note->setWordWrap(true);
    m_note->hide();
    column->addWidget(m_note);
    m_grid = new QListWidget(this);
    m_grid->setViewMode(QListView::IconMode);
    m_grid->setResizeMode(QListView::Adjust);
    m_grid->setMovement(QListView::Static);
    m_grid->setSelectionMode(QAbstractItemView::NoSelection);
    m_grid->setWordWrap(true);
    m_grid->setIconSize(QSize(m_longSide, m_longSide));
    m_grid->setGridSize(QSize(m_longSide + 24, m_longSide + 48));
    m_grid->setSpacing(6);
    column->addWidget(m_grid, 1);
    m_summary = new QLabel(this);
    column->addWidget(m_summary);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    column->addWidget(m_buttons);
    resize(4 * (m_longSide + 30) + 40, 2 * (m_longSide + 54) + 90);

    QPixmap waiting(m_longSide, m_longSide);
    waiting.fill(QColor(0, 0, 0, 0));
    for (const Entry& e : entries) {
        auto* item = new QListWidgetItem(QIcon(waiting), e.newName, m_grid);
        item->setToolTip(e.file);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }
    m_pending = int(entries.size());
    m_summary->setText(QStringLiteral("Preparing %1 photos...").arg(m_pending));

    // Each tile on a worker; the dialog takes it when it still exists.
    QPointer<TBatchPreview> self(this);
    for (int i = 0; i < entries.size(); ++i) {
        const QString file = entries[i].file;
        const std::optional<int> counter = entries[i].counter;
        m_pool.start([self, i, file, counter, bricks, options] {
            PreviewTile tile = MakePreviewTile(file, bricks, options, counter);
            if (!self)
                return;
            QMetaObject::invokeMethod(
                self.data(),
                [self, i, tile] {
                    if (self)
                        self->showTile(i, tile);
                },
                Qt::QueuedConnection);
        });
    }
}

TBatchPreview::~TBatchPreview() {
    m_pool.clear();
    m_pool.waitForDone();
}

QString TBatchPreview::Note() const {
    return m_note->text();
}

void TBatchPreview::AskToProceed(const QString& note, const QString& proceed) {
    m_note->setText(note);
    m_note->setVisible(!note.isEmpty());
    m_buttons->clear();
    m_proceed = m_buttons->addButton(proceed, QDialogButtonBox::AcceptRole);
    m_buttons->addButton(QDialogButtonBox::Cancel);
    m_proceed->setDefault(true);
    m_proceed->setFocus();
}

void TBatchPreview::showTile(int index, const PreviewTile& tile) {
    if (index < 0 || index >= m_tiles.size())
        return;
    m_tiles[index] = tile;
    --m_pending;
    QListWidgetItem* item = m_grid->item(index);
    const bool marked = tile.offPhoto || tile.overlap || tile.skipped;
    if (tile.offPhoto || tile.overlap)
        ++m_marked;
    if (tile.skipped)
        ++m_skipped;
    QPixmap shown(m_longSide, m_longSide);
    shown.fill(QColor(0, 0, 0, 0));
    {
        QPainter p(&shown);
        if (tile.image.isNull()) {
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(shown.rect().adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap,
                       tile.error.isEmpty() ? QStringLiteral("Cannot be read") : tile.error);
        } else {
            const QPoint at((m_longSide - tile.image.width()) / 2,
                            (m_longSide - tile.image.height()) / 2);
            p.drawImage(at, tile.image);
            if (marked) {
                // A red frame and a warning corner: seen at a glance in a long grid.
                const QRect r(at, tile.image.size());
                p.setPen(QPen(QColor(220, 30, 30), 4));
                p.drawRect(r.adjusted(2, 2, -2, -2));
                // The badge goes where no caption is, so that it never hides what it warns of.
                const QRect badge =
                    PreviewBadgeRect(tile.image.size(), tile.boxes, 22).translated(at);
                p.setBrush(QColor(220, 30, 30));
                p.setPen(Qt::NoPen);
                p.drawEllipse(badge);
                p.setPen(Qt::white);
                QFont f = p.font();
                f.setBold(true);
                f.setPixelSize(16);
                p.setFont(f);
                p.drawText(badge, Qt::AlignCenter, QStringLiteral("!"));
            }
        }
    }
    if (item) {
        item->setIcon(QIcon(shown));
        QStringList notes;
        if (tile.offPhoto)
            notes << QStringLiteral("a caption falls off the photo");
        if (tile.overlap)
            notes << QStringLiteral("captions overlap");

        QString tip = item->toolTip().section(QLatin1Char('\n'), 0, 0);
        if (tile.outputSize.isValid())
            tip += QStringLiteral("\n%1 x %2 pixels")
                       .arg(tile.outputSize.width())
                       .arg(tile.outputSize.height());
        if (!notes.isEmpty())
            tip += QStringLiteral("\n") + notes.join(QStringLiteral("; "));
        if (!tile.notice.isEmpty())
            tip += QStringLiteral("\n") + tile.notice;
        item->setToolTip(tip);
    }
    if (m_pending > 0)
        m_summary->setText(QStringLiteral("Preparing %1 photos...").arg(m_pending));
    else if (m_marked > 0)
        m_summary->setText(
            QStringLiteral("%1 of %2 photos marked: a caption falls off the photo or overlaps "
                           "another.")
                .arg(m_marked)
                .arg(m_tiles.size()) +
            (m_skipped > 0 ? QStringLiteral(" %1 not written: no date taken.").arg(m_skipped)
                           : QString()));
    else if (m_skipped > 0)
        m_summary->setText(QStringLiteral("%1 of %2 photos not written: no date taken.")
                               .arg(m_skipped)
                               .arg(m_tiles.size()));
    else
        m_summary->setText(
            QStringLiteral("%1 photos, every caption in place.").arg(m_tiles.size()));
    emit tileReady(index);
}
