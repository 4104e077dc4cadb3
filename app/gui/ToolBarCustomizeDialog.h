#pragma once

#include "app/gui/ToolBarLayout.h"

#include <QDialog>
#include <functional>

class QAction;
class QComboBox;
class QListWidget;
class QPushButton;

// "Customize": which commands each tool bar shows and in which order. Works on a copy of the
// layout; the window takes Layout() when the dialog is accepted.
class ToolBarCustomizeDialog : public QDialog {
    Q_OBJECT

public:
    // actionOf gives the window's action of a name (its text and icon are shown).
    ToolBarCustomizeDialog(ToolBarLayout layout, std::function<QAction*(const QString&)> actionOf,
                           QWidget* parent = nullptr);

    const ToolBarLayout& Layout() const { return m_layout; }

    QComboBox* barBox() const { return m_bar; }
    QListWidget* availableList() const { return m_available; }
    QListWidget* shownList() const { return m_shown; }

    // The buttons' commands, on the selected rows.
    void addSelected();
    void removeSelected();
    void moveSelected(int step);
    void resetBar();

private:
    QString bar() const;
    void fill(const QString& selectShown = {});
    void updateButtons();

    ToolBarLayout m_layout;
    std::function<QAction*(const QString&)> m_actionOf;
    QComboBox* m_bar;
    QListWidget* m_available;
    QListWidget* m_shown;
    QPushButton* m_add;
    QPushButton* m_remove;
    QPushButton* m_up;
    QPushButton* m_down;
    QPushButton* m_reset;
};
