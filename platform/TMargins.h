#pragma once

#include <QObject>

// Margins of a control (nested published object: Margins.Left, ...), 3 pixels each by default.
class TMargins : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Left READ Left WRITE setLeft)
    Q_PROPERTY(int Top READ Top WRITE setTop)
    Q_PROPERTY(int Right READ Right WRITE setRight)
    Q_PROPERTY(int Bottom READ Bottom WRITE setBottom)
    Q_CLASSINFO("default:Left", "3")
    Q_CLASSINFO("default:Top", "3")
    Q_CLASSINFO("default:Right", "3")
    Q_CLASSINFO("default:Bottom", "3")

public:
    using QObject::QObject;

    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Right() const { return m_right; }
    int Bottom() const { return m_bottom; }
    void setLeft(int v) { m_left = v; }
    void setTop(int v) { m_top = v; }
    void setRight(int v) { m_right = v; }
    void setBottom(int v) { m_bottom = v; }

private:
    int m_left = 3, m_top = 3, m_right = 3, m_bottom = 3;
};
