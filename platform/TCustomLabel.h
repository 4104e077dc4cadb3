#pragma once

#include "platform/TControl.h"
#include "platform/TFont.h"

// A windowless label: a caption painted over its parent, sized to its text while AutoSize is on.
// Subclasses measure and paint; the base calls AdjustBounds whenever the caption, the font or
// AutoSize changes (but not while loading), and once after loading.
class TCustomLabel : public TControl {
    Q_OBJECT
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize)
    Q_PROPERTY(Tk::TAlignment Alignment READ Alignment WRITE setAlignment)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(TColor Color READ Color WRITE setColor)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(bool Transparent READ Transparent WRITE setTransparent)
    Q_CLASSINFO("default:AutoSize", "True")
    Q_CLASSINFO("default:Alignment", "taLeftJustify")
    Q_CLASSINFO("type:Caption", "TCaption")
    Q_CLASSINFO("type:Color", "TColor")
    Q_CLASSINFO("default:Color", "clBtnFace")

public:
    explicit TCustomLabel(QWidget* parent = nullptr);

    bool AutoSize() const { return m_autoSize; }
    Tk::TAlignment Alignment() const { return m_alignment; }
    QString Caption() const { return m_caption; }
    TColor Color() const { return m_color; }
    TFont* Font() const { return m_font; }
    bool Transparent() const { return m_transparent; }
    bool WordWrap() const { return m_wordWrap; }

    void setAutoSize(bool v);
    void setAlignment(Tk::TAlignment v);
    void setCaption(const QString& v);
    void setColor(TColor v);
    void setTransparent(bool v);
    void setWordWrap(bool v);

protected:
    virtual void AdjustBounds() {}
    void Loaded() override;

private:
    void textChanged();

    bool m_autoSize = true;
    Tk::TAlignment m_alignment = Tk::taLeftJustify;
    QString m_caption;
    TColor m_color = clBtnFace;
    TFont* m_font;
    bool m_transparent = false;
    bool m_wordWrap = false;
};
