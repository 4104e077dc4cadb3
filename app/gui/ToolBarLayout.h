#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class SettingsStore;

// Which actions each tool bar of the main window shows, and in which order. The bars' own
// layout is the default; what the user customised is kept in the settings as
// "ToolBar.<bar>" = the action names joined by commas.
class ToolBarLayout {
public:
    struct Bar {
        QString name;
        QStringList actions;
        bool operator==(const Bar&) const = default;
    };

    // defaults: every customisable bar with its actions; known: every action name a bar may
    // show (a stored name outside it is dropped, so an action that went away in a later
    // version leaves no hole).
    ToolBarLayout(QList<Bar> defaults, QStringList known);

    QStringList BarNames() const;
    QStringList Actions(const QString& bar) const;
    // The known actions a bar does not show, in the order of the known list.
    QStringList Available(const QString& bar) const;
    // Unknown names and repeats are left out; an unknown bar is ignored.
    void SetActions(const QString& bar, const QStringList& actions);
    void Reset(const QString& bar);
    bool IsDefault(const QString& bar) const;

    // Reads the customised bars; a bar not stored keeps its default.
    void Load(const SettingsStore& store);
    // Writes every bar that differs from its default, and the default of one that was stored
    // before (so a reset survives a restart). False when the store cannot be written.
    bool Save(SettingsStore& store) const;

    static QString SettingName(const QString& bar) { return QStringLiteral("ToolBar.") + bar; }

private:
    QStringList cleaned(const QStringList& actions) const;
    const Bar* find(const QString& bar, const QList<Bar>& in) const;

    QList<Bar> m_defaults;
    QList<Bar> m_bars;
    QStringList m_known;
};
