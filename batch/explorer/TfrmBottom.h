#pragma once

#include "batch/explorer/TFolderList.h"

#include <QDockWidget>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QStatusBar;
class QToolButton;

// The explorer window, docked below the main window: the folder list of one folder with a status
// line, a pop-up menu and a fold button in its title bar. It does not act on images itself; the
// main window connects to its signals.
class TfrmBottom : public QDockWidget {
    Q_OBJECT

public:
    static constexpr int FoldedHeight = 2;
    static constexpr int UnfoldedHeight = 180;

    explicit TfrmBottom(QWidget* parent = nullptr, const QString& folder = StartFolder());
    ~TfrmBottom() override;

    // Above the list: the parent folder, the folder's path (typed to go there), the thumbnails'
    // size.
    QToolButton* btnUp = nullptr;
    QLineEdit* edtPath = nullptr;
    QComboBox* cbThumbSize = nullptr;
    TFolderList* ListView = nullptr;
    QStatusBar* stbMain = nullptr;
    QLabel* stbCount = nullptr; // first panel: number of entries
    QLabel* stbType = nullptr;  // second panel: the selected entry's type text
    QMenu* PopupMenu1 = nullptr;
    QAction* popQuick = nullptr;   // "Apply pattern to Images"
    QAction* popReposit = nullptr; // "add files to group processing"
    QAction* Refresh1 = nullptr;
    QToolButton* btnFold = nullptr;

    QString CurrentFolder() const { return ListView->CurrentFolder(); }
    // Height of the list part (the client area below the title bar).
    int ClientHeight() const;
    bool Folded() const { return m_folded; }
    // A client height of 2 becomes 180, anything else becomes 2.
    void Fold();

    // Enables the pop-up menu's first two items for the selection.
    void PopupMenu1Popup();
    void popQuickClick();
    void popRepositClick();
    void Refresh1Click();

    // "BottomBounds": the window's rectangle (screen coordinates when floating), and whether it
    // floats ("BottomFloating").
    void SaveBounds();
    void RestoreBounds();

signals:
    void openImage(const QString& path);
    void applyPatternToFiles(const QStringList& files);
    void addFilesToGroup(const QStringList& paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    // Hidden, the window holds no entries; shown again, it reads its folder anew.
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void updateStatus();
    // The path bar and the Up button follow the folder shown.
    void folderShown(const QString& folder);
    void pathEntered();
    void updateFoldButton();

    bool m_folded = false;
    bool m_boundsSaved = false;
};

// The explorer window while it exists.
extern TfrmBottom* frmBottom;
