#pragma once

#include "batch/core/BatchPreview.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QThreadPool>
#include <optional>

class QDialogButtonBox;
class QLabel;
class QListWidget;
class QPushButton;

// "Batch preview": every selected photo as the batch will write it, with its new name under it.
// Tiles are made on worker threads and shown as they come; a tile whose caption falls off the
// photo or overlaps another caption is marked.
class TBatchPreview : public QDialog {
    Q_OBJECT
public:
    struct Entry {
        QString file;
        QString newName;
        std::optional<int> counter; // its {Counter}
    };
    TBatchPreview(const QList<Entry>& entries, const QList<BrickData>& bricks,
                  const PreviewOptions& options, QWidget* parent = nullptr);
    ~TBatchPreview() override;

    // Makes the preview a question before the files are written: a note above the grid, and
    // proceed (the dialog accepts) beside Cancel, instead of Close.
    void AskToProceed(const QString& note, const QString& proceed);
    QPushButton* ProceedButton() const { return m_proceed; }
    QString Note() const;

    QListWidget* Grid() const { return m_grid; }
    // Tiles still being made.
    int Pending() const { return m_pending; }
    // The tiles made so far, in the entries' order (null images for those not yet made).
    const QList<PreviewTile>& Tiles() const { return m_tiles; }

signals:
    void tileReady(int index);

private:
    void showTile(int index, const PreviewTile& tile);

    QListWidget* m_grid = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_note = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    QPushButton* m_proceed = nullptr;
    int m_skipped = 0;
    QList<PreviewTile> m_tiles;
    int m_pending = 0;
    int m_marked = 0;
    int m_longSide = 200;
    // The tiles' workers; the dialog waits for the ones in hand when it goes.
    QThreadPool m_pool;
};
