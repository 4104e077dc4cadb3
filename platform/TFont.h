#pragma once

#include "platform/Toolkit.h"

#include <QFont>
#include <QObject>

// A font as the toolkit keeps it: a pixel Height (negative for a character height) at 96 dots
// per inch, from which the point Size is derived. Nested object of a brick's published
// properties (Font.Name, Font.Height, ...).
class TFont : public QObject {
    Q_OBJECT
    Q_PROPERTY(TFontCharset Charset READ Charset WRITE setCharset)
    Q_PROPERTY(TColor Color READ Color WRITE setColor)
    Q_PROPERTY(int Height READ Height WRITE setHeight)
    Q_PROPERTY(QString Name READ Name WRITE setName)
    Q_PROPERTY(Tk::TFontPitch Pitch READ Pitch WRITE setPitch)
    Q_PROPERTY(int Size READ Size WRITE setSize STORED false)
    Q_PROPERTY(Tk::TFontStyles Style READ Style WRITE setStyle)
    Q_CLASSINFO("type:Charset", "TFontCharset")
    Q_CLASSINFO("type:Color", "TColor")
    Q_CLASSINFO("default:Pitch", "fpDefault")

public:
    static constexpr int PixelsPerInch = 96;

    explicit TFont(QObject* parent = nullptr);

    TFontCharset Charset() const { return m_charset; }
    TColor Color() const { return m_color; }
    int Height() const { return m_height; }
    QString Name() const { return m_name; }
    Tk::TFontPitch Pitch() const { return m_pitch; }
    int Size() const;
    Tk::TFontStyles Style() const { return m_style; }

    void setCharset(TFontCharset v);
    void setColor(TColor v);
    void setHeight(int v);
    void setName(const QString& v);
    void setPitch(Tk::TFontPitch v);
    void setSize(int points);
    void setStyle(Tk::TFontStyles v);

    // Copies every value of another font (the toolkit's Assign).
    void Assign(const TFont& other);
    bool sameAs(const TFont& other) const;

    // The Qt font drawing this one: pixel sized, so the result never depends on the screen.
    QFont toQFont() const;

    static int HeightFromSize(int points);
    static int SizeFromHeight(int height);

signals:
    void changed();

private:
    void touch();

    TFontCharset m_charset = DEFAULT_CHARSET;
    TColor m_color = clWindowText;
    int m_height = -11; // 8 points, the toolkit's own default
    QString m_name = QStringLiteral("Tahoma");
    Tk::TFontPitch m_pitch = Tk::fpDefault;
    Tk::TFontStyles m_style;
};
