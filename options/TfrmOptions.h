#pragma once

#include "platform/Toolkit.h"

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class TFont;
struct TSettings;

// Which control edits which stored value, in the order Save writes them.
struct OptionBinding {
    const char* setting; // value name in the settings store
    const char* control; // object name of the control in TfrmOptions
};
extern const OptionBinding OptionBindings[14];

// The stored text of one value as the in-memory settings hold it ("" for unknown names).
QString OptionStoredText(const TSettings& settings, const QString& setting);

// "fsBold", "fsItalic", "fsUnderline", "fsStrikeOut" for each style present, in that order.
QString FontStyleText(Tk::TFontStyles styles);
// A date or time-picker format of the catalogues as a Qt display format (the empty date format is
// the locale's short date).
QString PickerDisplayFormat(const QString& format);

// "Options": JPEG quality, the default font of new text bricks, the default date and time with
// their display formats, and the date and time formats and delimiters of file names. The
// controls change the in-memory settings at once; Save writes them to the settings store.
class TfrmOptions : public QDialog {
    Q_OBJECT

public:
    explicit TfrmOptions(QWidget* parent = nullptr);

    QSlider* trbarQuality;
    QLabel* lblQuality;
    QLabel* lblFontName;
    QLabel* lblFontSize;
    QLabel* lblFontStyle;
    QFrame* shpFontColor;
    QPushButton* BitBtn1;      // "Change Font"
    QPushButton* btnFontColor; // "Change Colour": Qt's font dialog has no colour
    QCheckBox* cbAutoFontSize;
    QDateEdit* dtpickDate;
    QDateTimeEdit* dtpickTime;
    QComboBox* cbDateFormat;
    QComboBox* cbTimeFormat;
    QLineEdit* edtDateDelimiter;
    QLineEdit* edtTimeDelimiter;
    QComboBox* cbDateFormatFile;
    QComboBox* cbTimeFormatFile;
    QPushButton* btnOk;   // "Save"
    QPushButton* Button2; // "Cancel"

    void cbDateFormatChange();
    void cbTimeFormatChange();
    void cbDateFormatFileChange();
    void cbTimeFormatFileChange();
    void BitBtn1Click();
    void btnFontColorClick();
    void edtDateDelimiterChange();
    void edtTimeDelimiterChange();
    void btnOkClick();

    // The font and colour dialogs; they change their argument and answer true on OK. Tests
    // replace them.
    std::function<bool(TFont&)> ChooseFont;
    std::function<bool(TColor&)> ChooseColor;

private:
    void showFont();
    void fillTimeFormatFile();
    void delimiterChange(QLineEdit* edit, QChar& delimiter);
    double dateValue() const;
    double timeValue() const;
};
