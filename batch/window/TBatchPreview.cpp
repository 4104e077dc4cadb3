#include "batch/window/TBatchPreview.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>
#include <QVBoxLayout>

TBatchPreview::TBatchPreview(const QList<Entry>& entries, const QList<BrickData>& bricks,
                             const PreviewOptions& options, QWidget* parent)
    : QDialog(parent), m_tiles(entries.size()), m_longSide(options.longSide) {
    setWindowTitle(QStringLiteral("Batch preview"));
    auto* column = new QVBoxLayout(this);
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
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
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
        m_pool.start([self, i, file, bricks, options] {
            PreviewTile tile = MakePreviewTile(file, bricks, options);
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

void TBatchPreview::showTile(int index, const PreviewTile& tile) {
    if (index < 0 || index >= m_tiles.size())
        return;
    m_tiles[index] = tile;
    --m_pending;
    QListWidgetItem* item = m_grid->item(index);
    const bool marked = tile.offPhoto || tile.overlap;
    if (marked)
        ++m_marked;
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
                p.setBrush(QColor(220, 30, 30));
                p.setPen(Qt::NoPen);
                p.drawEllipse(QPoint(r.right() - 14, r.top() + 14), 11, 11);
                p.setPen(Qt::white);
                QFont f = p.font();
                f.setBold(true);
                f.setPixelSize(16);
                p.setFont(f);
                p.drawText(QRect(r.right() - 25, r.top() + 3, 22, 22), Qt::AlignCenter,
                           QStringLiteral("!"));
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
        item->setToolTip(tip);
    }
    if (m_pending > 0)
        m_summary->setText(QStringLiteral("Preparing %1 photos...").arg(m_pending));
    else if (m_marked > 0)
        m_summary->setText(
            QStringLiteral("%1 of %2 photos marked: a caption falls off the photo or overlaps "
                           "another.")
                .arg(m_marked)
                .arg(m_tiles.size()));
    else
        m_summary->setText(
            QStringLiteral("%1 photos, every caption in place.").arg(m_tiles.size()));
    emit tileReady(index);
}
