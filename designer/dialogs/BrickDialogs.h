#pragma once

#include "bricks/TText.h"

#include <QDialog>
#include <QLabel>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QFrame;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolButton;
class TTextBubble;
class TTextDate;
class TTextTime;

// A label that answers a click (the font and colour labels open their dialogs).
class TClickLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The style label's text: "Bold Italic Underline Strike Out " for the styles present, in that
// order; "Normal" for none.
QString FontStyleText(int styles);

// What the text, date, time and bubble dialogs share: the font labels (a click opens the font
// dialog), the font colour swatch (a click opens the colour dialog), the transparency bar and
// Ok and Cancel; a hidden background group. Every change goes to the brick at once.
class TBrickDialog : public QDialog {
    Q_OBJECT

public:
    TText* Brick() const { return m_brick; }

    TClickLabel* lblFontNameCaption;
    TClickLabel* lblFontSizeCaption;
    TClickLabel* lblFontStyleCaption;
    TClickLabel* lblFontName;
    TClickLabel* lblFontSize;
    TClickLabel* lblFontStyle;
    TClickLabel* lblFontColor;
    TClickLabel* shpFontColor;
    QSlider* trbTransp;
    QGroupBox* gbBackground;
    QFrame* shpBackColor;
    QCheckBox* cbTransparent;
    // "Readability": outline, shadow, plate and automatic contrast (not for bubbles).
    QGroupBox* gbReadability;
    QCheckBox* cbOutline;
    TClickLabel* shpOutline;
    QSpinBox* spedOutlineWidth;
    QCheckBox* cbShadow;
    TClickLabel* shpShadow;
    QSpinBox* spedShadowOffset;
    QCheckBox* cbBackdrop;
    TClickLabel* shpBackdrop;
    QSpinBox* spedBackdropOpacity;
    QSpinBox* spedBackdropPadding;
    QCheckBox* cbAutoContrast;
    QPushButton* btnOk;
    QPushButton* btnCancel;

    // The font and colour dialogs, as the labels open them.
    void EditFont();
    void EditFontColor();

protected:
    TBrickDialog(TText* brick, const QString& caption, QWidget* parent);
    // Lays out the dialog's own controls above the common ones.
    void finishLayout(QWidget* own);
    void refreshFontLabels();

private:
    void buildReadability();
    void refreshReadability();
    // Picks a colour for one of the readability colours (Outline, Shadow, Backdrop).
    void editReadableColor(const char* property);
    QPointer<TText> m_brick;
};

// "Text options": a text brick's text and rotation, or, without a brick, a plain text (the
// caption and string-list property editors).
// "Insert field": a menu of the caption fields, each with the open photo's value beside it;
// choosing one types it into editor at the cursor.
QToolButton* MakeInsertFieldButton(QPlainTextEdit* editor, const TText* brick, QWidget* parent);

class TOPropertyStringsEditor : public TBrickDialog {
    Q_OBJECT

public:
    explicit TOPropertyStringsEditor(TText* brick, QWidget* parent = nullptr);

    QPlainTextEdit* RichEdit1;
    QSpinBox* spedAngel;
};

// "Date options".
class TOPropertyDateEditor : public TBrickDialog {
    Q_OBJECT

public:
    explicit TOPropertyDateEditor(TTextDate* brick, QWidget* parent = nullptr);

    QComboBox* ComboBox1;
    QDateEdit* DateTimePicker1;
    // The picker's display format (the brick's date format syntax).
    QString PickerFormat() const { return m_pickerFormat; }

private:
    void apply();
    void setPickerFormat(const QString& format);
    void fillFormats();
    TTextDate* m_date;
    QString m_pickerFormat;
};

// "Time Options".
class TOPropertyTimeEditor : public TBrickDialog {
    Q_OBJECT

public:
    explicit TOPropertyTimeEditor(TTextTime* brick, QWidget* parent = nullptr);

    QComboBox* ComboBox1;
    QDateTimeEdit* DateTimePicker1; // the brick's time
    int FormatIndex() const { return m_index; }

private:
    void choose(int index);
    TTextTime* m_time;
    int m_index = 1;
};

// "Bubble options".
class TOPropertyBubbleEditor : public TBrickDialog {
    Q_OBJECT

public:
    explicit TOPropertyBubbleEditor(TTextBubble* brick, QWidget* parent = nullptr);

    QComboBox* cbBubbleType;
    QPlainTextEdit* RichEdit1;

private:
    TTextBubble* m_bubble;
};

// The bubble editor's text rule: a trailing line break typed at the end adds no line.
QString BubbleTextFromEditor(const QString& text);
