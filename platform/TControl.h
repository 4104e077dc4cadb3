#pragma once

#include "platform/TMargins.h"
#include "platform/Toolkit.h"

#include <QWidget>

// A visual control with the published properties that the toolkit's component and control
// bases give every brick. Declaration order is the published order. A property's declared
// default is recorded beside it as class info "default:<Name>" in its text form; a type name
// that C++ cannot tell apart from int is recorded as "type:<Name>".
class TControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE setName)
    Q_PROPERTY(int Tag READ Tag WRITE setTag)
    Q_PROPERTY(int Left READ Left WRITE setLeft)
    Q_PROPERTY(int Top READ Top WRITE setTop)
    Q_PROPERTY(int Width READ Width WRITE setWidth)
    Q_PROPERTY(int Height READ Height WRITE setHeight)
    Q_PROPERTY(TCursor Cursor READ Cursor WRITE setCursorId)
    Q_PROPERTY(QString Hint READ Hint WRITE setHint)
    Q_PROPERTY(Tk::THelpType HelpType READ HelpType WRITE setHelpType)
    Q_PROPERTY(QString HelpKeyword READ HelpKeyword WRITE setHelpKeyword)
    Q_PROPERTY(int HelpContext READ HelpContext WRITE setHelpContext)
    Q_PROPERTY(bool AlignWithMargins READ AlignWithMargins WRITE setAlignWithMargins)
    Q_PROPERTY(TMargins* Margins READ Margins)
    Q_CLASSINFO("default:Tag", "0")
    Q_CLASSINFO("type:Cursor", "TCursor")
    Q_CLASSINFO("default:Cursor", "crDefault")
    Q_CLASSINFO("default:HelpType", "htContext")
    Q_CLASSINFO("default:HelpContext", "0")
    Q_CLASSINFO("default:AlignWithMargins", "False")

public:
    explicit TControl(QWidget* parent = nullptr);

    QString Name() const { return objectName(); }
    int Tag() const { return m_tag; }
    int Left() const { return x(); }
    int Top() const { return y(); }
    int Width() const { return width(); }
    int Height() const { return height(); }
    TCursor Cursor() const { return m_cursor; }
    QString Hint() const { return m_hint; }
    Tk::THelpType HelpType() const { return m_helpType; }
    QString HelpKeyword() const { return m_helpKeyword; }
    int HelpContext() const { return m_helpContext; }
    bool AlignWithMargins() const { return m_alignWithMargins; }
    TMargins* Margins() const { return m_margins; }

    void setName(const QString& v) { setObjectName(v); }
    void setTag(int v) { m_tag = v; }
    void setLeft(int v) { SetBounds(v, Top(), Width(), Height()); }
    void setTop(int v) { SetBounds(Left(), v, Width(), Height()); }
    void setWidth(int v) { SetBounds(Left(), Top(), v, Height()); }
    void setHeight(int v) { SetBounds(Left(), Top(), Width(), v); }
    void setCursorId(TCursor v);
    void setHint(const QString& v);
    void setHelpType(Tk::THelpType v) { m_helpType = v; }
    void setHelpKeyword(const QString& v) { m_helpKeyword = v; }
    void setHelpContext(int v) { m_helpContext = v; }
    void setAlignWithMargins(bool v) { m_alignWithMargins = v; }

    // Moves and sizes the control in its parent's coordinates (negative sizes become 0).
    virtual void SetBounds(int left, int top, int width, int height);

    // While a control is being read from a stream, its own reactions to property changes
    // (auto-sizing) wait until EndLoading, which calls Loaded once.
    bool IsLoading() const { return m_loading; }
    void BeginLoading() { m_loading = true; }
    void EndLoading();

protected:
    virtual void Loaded() {}

private:
    int m_tag = 0;
    TCursor m_cursor = 0;
    QString m_hint;
    Tk::THelpType m_helpType = Tk::htContext;
    QString m_helpKeyword;
    int m_helpContext = 0;
    bool m_alignWithMargins = false;
    TMargins* m_margins;
    bool m_loading = false;
};

// The Qt cursor shape shown for a toolkit cursor identifier.
Qt::CursorShape CursorShapeFor(TCursor id);
