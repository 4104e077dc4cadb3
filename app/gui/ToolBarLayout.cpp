#include "app/gui/ToolBarLayout.h"

#include "platform/SettingsStore.h"

#include <QSet>

ToolBarLayout::ToolBarLayout(QList<Bar> defaults, QStringList known)
    : m_defaults(std::move(defaults)), m_known(std::move(known)) {
    for (Bar& b : m_defaults)
        b.actions = cleaned(b.actions);
    m_bars = m_defaults;
}

QStringList ToolBarLayout::BarNames() const {
    QStringList names;
    for (const Bar& b : m_bars)
        names << b.name;
    return names;
}

const ToolBarLayout::Bar* ToolBarLayout::find(const QString& bar, const QList<Bar>& in) const {
    for (const Bar& b : in)
        if (b.name == bar)
            return &b;
    return nullptr;
}

QStringList ToolBarLayout::Actions(const QString& bar) const {
    const Bar* b = find(bar, m_bars);
    return b ? b->actions : QStringList();
}

QStringList ToolBarLayout::Available(const QString& bar) const {
    const QStringList shown = Actions(bar);
    QStringList out;
    for (const QString& a : m_known)
        if (!shown.contains(a))
            out << a;
    return out;
}

QStringList ToolBarLayout::cleaned(const QStringList& actions) const {
    QStringList out;
    QSet<QString> seen;
    for (const QString& raw : actions) {
        const QString a = raw.trimmed();
        if (a.isEmpty() || !m_known.contains(a) || seen.contains(a))
            continue;
        seen.insert(a);
        out << a;
    }
    return out;
}

void ToolBarLayout::SetActions(const QString& bar, const QStringList& actions) {
    for (Bar& b : m_bars)
        if (b.name == bar)
            b.actions = cleaned(actions);
}

void ToolBarLayout::Reset(const QString& bar) {
    if (const Bar* d = find(bar, m_defaults))
        SetActions(bar, d->actions);
}

bool ToolBarLayout::IsDefault(const QString& bar) const {
    const Bar* d = find(bar, m_defaults);
    return d && d->actions == Actions(bar);
}

void ToolBarLayout::Load(const SettingsStore& store) {
    for (Bar& b : m_bars) {
        bool found = false;
        const QString text = store.Value(SettingName(b.name), &found);
        // An empty value is a bar the user emptied, not a missing one.
        if (found)
            b.actions = cleaned(text.split(QLatin1Char(','), Qt::SkipEmptyParts));
    }
}

bool ToolBarLayout::Save(SettingsStore& store) const {
    for (const Bar& b : m_bars) {
        const QString name = SettingName(b.name);
        bool stored = false;
        store.Value(name, &stored);
        if (IsDefault(b.name) && !stored)
            continue;
        if (!store.SetValue(name, b.actions.join(QLatin1Char(','))))
            return false;
    }
    return true;
}
