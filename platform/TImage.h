#pragma once

#include "platform/TControl.h"
#include "platform/TPicture.h"
#include "platform/TSizeConstraints.h"

// A picture control: shows its Picture, optionally stretched, proportional and centred.
class TImage : public TControl {
    Q_OBJECT
    Q_PROPERTY(Tk::TAlign Align READ Align WRITE setAlign)
    Q_PROPERTY(Tk::TAnchors Anchors READ Anchors WRITE setAnchors)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize)
    Q_PROPERTY(bool Center READ Center WRITE setCenter)
    Q_PROPERTY(TSizeConstraints* Constraints READ Constraints)
    Q_PROPERTY(TCursor DragCursor READ DragCursor WRITE setDragCursor)
    Q_PROPERTY(Tk::TDragKind DragKind READ DragKind WRITE setDragKind)
    Q_PROPERTY(Tk::TDragMode DragMode READ DragMode WRITE setDragMode)
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabledFlag)
    Q_PROPERTY(bool IncrementalDisplay READ IncrementalDisplay WRITE setIncrementalDisplay)
    Q_PROPERTY(bool ParentShowHint READ ParentShowHint WRITE setParentShowHint)
    Q_PROPERTY(TPicture* Picture READ Picture)
    Q_PROPERTY(bool Proportional READ Proportional WRITE setProportional)
    Q_PROPERTY(bool ShowHint READ ShowHint WRITE setShowHint)
    Q_PROPERTY(bool Stretch READ Stretch WRITE setStretch)
    Q_PROPERTY(bool Transparent READ Transparent WRITE setTransparent)
    Q_PROPERTY(bool Visible READ Visible WRITE setVisibleFlag)
    Q_CLASSINFO("default:Align", "alNone")
    Q_CLASSINFO("default:Anchors", "[akLeft, akTop]")
    Q_CLASSINFO("default:AutoSize", "False")
    Q_CLASSINFO("default:Center", "False")
    Q_CLASSINFO("type:DragCursor", "TCursor")
    Q_CLASSINFO("default:DragCursor", "crDrag")
    Q_CLASSINFO("default:DragKind", "dkDrag")
    Q_CLASSINFO("default:DragMode", "dmManual")
    Q_CLASSINFO("default:Enabled", "True")
    Q_CLASSINFO("default:IncrementalDisplay", "False")
    Q_CLASSINFO("default:ParentShowHint", "True")
    Q_CLASSINFO("default:Proportional", "False")
    Q_CLASSINFO("default:ShowHint", "False")
    Q_CLASSINFO("default:Stretch", "False")
    Q_CLASSINFO("default:Transparent", "False")
    Q_CLASSINFO("default:Visible", "True")

public:
    explicit TImage(QWidget* parent = nullptr);

    Tk::TAlign Align() const { return m_align; }
    Tk::TAnchors Anchors() const { return m_anchors; }
    bool AutoSize() const { return m_autoSize; }
    bool Center() const { return m_center; }
    TSizeConstraints* Constraints() const { return m_constraints; }
    TCursor DragCursor() const { return m_dragCursor; }
    Tk::TDragKind DragKind() const { return m_dragKind; }
    Tk::TDragMode DragMode() const { return m_dragMode; }
    bool Enabled() const { return isEnabled(); }
    bool IncrementalDisplay() const { return m_incrementalDisplay; }
    bool ParentShowHint() const { return m_parentShowHint; }
    TPicture* Picture() const { return m_picture; }
    bool Proportional() const { return m_proportional; }
    bool ShowHint() const { return m_showHint; }
    bool Stretch() const { return m_stretch; }
    bool Transparent() const { return m_transparent; }
    bool Visible() const { return !isHidden(); }

    void setAlign(Tk::TAlign v) { m_align = v; }
    void setAnchors(Tk::TAnchors v) { m_anchors = v; }
    void setAutoSize(bool v);
    void setCenter(bool v);
    void setDragCursor(TCursor v) { m_dragCursor = v; }
    void setDragKind(Tk::TDragKind v) { m_dragKind = v; }
    void setDragMode(Tk::TDragMode v) { m_dragMode = v; }
    void setEnabledFlag(bool v);
    void setIncrementalDisplay(bool v) { m_incrementalDisplay = v; }
    void setParentShowHint(bool v) { m_parentShowHint = v; }
    void setProportional(bool v);
    void setShowHint(bool v) { m_showHint = v; }
    void setStretch(bool v);
    void setTransparent(bool v);
    void setVisibleFlag(bool v) { setVisible(v); }

    // Where the picture is drawn inside the client rectangle.
    QRect DestRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void pictureChanged();

    Tk::TAlign m_align = Tk::alNone;
    Tk::TAnchors m_anchors = Tk::TAnchors(Tk::akLeft | Tk::akTop);
    bool m_autoSize = false;
    bool m_center = false;
    TSizeConstraints* m_constraints;
    TCursor m_dragCursor = -12;
    Tk::TDragKind m_dragKind = Tk::dkDrag;
    Tk::TDragMode m_dragMode = Tk::dmManual;
    bool m_incrementalDisplay = false;
    bool m_parentShowHint = true;
    TPicture* m_picture;
    bool m_proportional = false;
    bool m_showHint = false;
    bool m_stretch = false;
    bool m_transparent = false;
};
