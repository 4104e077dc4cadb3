#pragma once

#include <QObject>

// Size limits of a control (Constraints.MaxHeight, ...); 0 means no limit.
class TSizeConstraints : public QObject {
    Q_OBJECT
    Q_PROPERTY(int MaxHeight READ MaxHeight WRITE setMaxHeight)
    Q_PROPERTY(int MaxWidth READ MaxWidth WRITE setMaxWidth)
    Q_PROPERTY(int MinHeight READ MinHeight WRITE setMinHeight)
    Q_PROPERTY(int MinWidth READ MinWidth WRITE setMinWidth)
    Q_CLASSINFO("default:MaxHeight", "0")
    Q_CLASSINFO("default:MaxWidth", "0")
    Q_CLASSINFO("default:MinHeight", "0")
    Q_CLASSINFO("default:MinWidth", "0")

public:
    using QObject::QObject;

    int MaxHeight() const { return m_maxHeight; }
    int MaxWidth() const { return m_maxWidth; }
    int MinHeight() const { return m_minHeight; }
    int MinWidth() const { return m_minWidth; }
    void setMaxHeight(int v) { m_maxHeight = v; }
    void setMaxWidth(int v) { m_maxWidth = v; }
    void setMinHeight(int v) { m_minHeight = v; }
    void setMinWidth(int v) { m_minWidth = v; }

private:
    int m_maxHeight = 0, m_maxWidth = 0, m_minHeight = 0, m_minWidth = 0;
};
