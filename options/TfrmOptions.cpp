#include "options/TfrmOptions.h"

#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/SettingsStore.h"
#include "platform/StandardDialogs.h"
#include "platform/TFont.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QFontDialog>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimeZone>
#include <QVBoxLayout>
#include <algorithm>

// The one place that ties the controls to the stored values.
const OptionBinding OptionBindings[14] = {
    {"AutoFontSize", "cbAutoFontSize"},
    {"defaultCompressionQuality", "trbarQuality"},
    {"defaultDate", "dtpickDate"},
    {"defaultDateFormat", "cbDateFormat"},
    {"defaultTime", "dtpickTime"},
    {"defaultTimeFormat", "cbTimeFormat"},
    {"defaultDateFormatFile", "cbDateFormatFile"},
    {"defaultTimeFormatFile", "cbTimeFormatFile"},
    {"defaultDateDelimiter", "edtDateDelimiter"},
    {"defaultTimeDelimiter", "edtTimeDelimiter"},
    {"defaultFontName", "lblFontName"},
    {"defaultFontSize", "lblFontSize"},
    {"defaultFontColor", "shpFontColor"},
    {"defaultFontStyle", "lblFontStyle"},
};

QString OptionStoredText(const TSettings& s, const QString& setting) {
    const TFont& font = s.defaultFont ? *s.defaultFont : DefaultFont();
    if (setting == QLatin1String("AutoFontSize"))
        return s.AutoFontSize ? QStringLiteral("1") : QStringLiteral("0");
    if (setting == QLatin1String("defaultCompressionQuality"))
        return QString::number(s.defaultCompressionQuality);
    if (setting == QLatin1String("defaultDate"))
        return s.defaultDate;
    if (setting == QLatin1String("defaultDateFormat"))
        return s.defaultDateFormat;
    if (setting == QLatin1String("defaultTime"))
        return s.defaultTime;
    if (setting == QLatin1String("defaultTimeFormat"))
        return s.defaultTimeFormat;
    if (setting == QLatin1String("defaultDateFormatFile"))
        return s.defaultDateFormatFile;
    if (setting == QLatin1String("defaultTimeFormatFile"))
        return s.defaultTimeFormatFile;
    if (setting == QLatin1String("defaultDateDelimiter"))
        return QString(s.defaultDateDelimiter);
    if (setting == QLatin1String("defaultTimeDelimiter"))
        return QString(s.defaultTimeDelimiter);
    if (setting == QLatin1String("defaultFontName"))
        return font.Name();
    if (setting == QLatin1String("defaultFontSize"))
        return QString::number(font.Size());
    if (setting == QLatin1String("defaultFontColor"))
        return QString::number(font.Color());
    if (setting == QLatin1String("defaultFontStyle"))
        return FontStyleText(font.Style());
    return QString();
}

QString FontStyleText(Tk::TFontStyles styles) {
    QString out;
    if (styles & Tk::fsBold)
        out += QStringLiteral("fsBold");
    if (styles & Tk::fsItalic)
        out += QStringLiteral("fsItalic");
    if (styles & Tk::fsUnderline)
        out += QStringLiteral("fsUnderline");
    if (styles & Tk::fsStrikeOut)
        out += QStringLiteral("fsStrikeOut");
    return out;
}

QString PickerDisplayFormat(const QString& format) {
    if (format.isEmpty())
        return SystemLocale().dateFormat(QLocale::ShortFormat);
    QString out = format;
    return out.replace(QStringLiteral("tt"), QStringLiteral("AP"));
}

namespace {
// Characters a file name cannot hold on the systems photos travel between.
const QString ForbiddenDelimiters = QStringLiteral("\"*/:<>?\\|");
const QDate TimeOnlyDate(1899, 12, 30);

int indexOrNone(const QString& text, qsizetype count) {
    bool ok = false;
    const int i = text.toInt(&ok);
    return ok && i >= 0 && i < count ? i : -1;
}

int indexOrZero(const QString& text, qsizetype count) {
    return std::max(indexOrNone(text, count), 0);
}

// A copy of the default font to change: the settings own theirs, shared with whoever holds it.
std::shared_ptr<TFont> editableFont() {
    auto font = std::make_shared<TFont>();
    font->Assign(Settings().defaultFont ? *Settings().defaultFont : DefaultFont());
    return font;
}

} // namespace

TfrmOptions::TfrmOptions(QWidget* parent)
    : QDialog(parent), ChooseFont(RunFontDialog), ChooseColor(RunColorDialog) {
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };

    trbarQuality = new QSlider(Qt::Horizontal, this);
    named(trbarQuality, "trbarQuality");
    trbarQuality->setRange(1, 100);
    trbarQuality->setPageStep(10);
    trbarQuality->setTickInterval(10);
    trbarQuality->setTickPosition(QSlider::TicksBelow);
    lblQuality = new QLabel(this);
    lblFontName = new QLabel(this);
    named(lblFontName, "lblFontName");
    lblFontSize = new QLabel(this);
    named(lblFontSize, "lblFontSize");
    lblFontStyle = new QLabel(this);
    named(lblFontStyle, "lblFontStyle");
    shpFontColor = new QFrame(this);
    named(shpFontColor, "shpFontColor");
    shpFontColor->setFrameShape(QFrame::Box);
    shpFontColor->setFixedSize(40, 18);
    shpFontColor->setAutoFillBackground(true);
    BitBtn1 = new QPushButton(QStringLiteral("Change Font"), this);
    named(BitBtn1, "BitBtn1");
    btnFontColor = new QPushButton(QStringLiteral("Change Colour"), this);
    named(btnFontColor, "btnFontColor");
    cbAutoFontSize = new QCheckBox(QStringLiteral("Auto Size"), this);
    named(cbAutoFontSize, "cbAutoFontSize");
    dtpickDate = new QDateEdit(this);
    named(dtpickDate, "dtpickDate");
    dtpickDate->setCalendarPopup(true);
    dtpickTime = new QDateTimeEdit(this);
    named(dtpickTime, "dtpickTime");
    cbDateFormat = new QComboBox(this);
    named(cbDateFormat, "cbDateFormat");
    cbTimeFormat = new QComboBox(this);
    named(cbTimeFormat, "cbTimeFormat");
    edtDateDelimiter = new QLineEdit(this);
    named(edtDateDelimiter, "edtDateDelimiter");
    edtTimeDelimiter = new QLineEdit(this);
    named(edtTimeDelimiter, "edtTimeDelimiter");
    for (QLineEdit* e : {edtDateDelimiter, edtTimeDelimiter})
        e->setFixedWidth(36);
    cbDateFormatFile = new QComboBox(this);
    named(cbDateFormatFile, "cbDateFormatFile");
    cbTimeFormatFile = new QComboBox(this);
    named(cbTimeFormatFile, "cbTimeFormatFile");
    btnOk = new QPushButton(QStringLiteral("Save"), this);
    named(btnOk, "btnOk");
    btnOk->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    named(Button2, "Button2");

    auto* quality = new QGroupBox(QStringLiteral("JPEG quality"), this);
    auto* qualityRow = new QHBoxLayout(quality);
    qualityRow->addWidget(trbarQuality, 1);
    qualityRow->addWidget(lblQuality);

    auto* font = new QGroupBox(QStringLiteral("Default font"), this);
    auto* fontForm = new QFormLayout(font);
    fontForm->addRow(QStringLiteral("Name:"), lblFontName);
    fontForm->addRow(QStringLiteral("Size:"), lblFontSize);
    fontForm->addRow(QStringLiteral("Style:"), lblFontStyle);
    fontForm->addRow(QStringLiteral("Colour:"), shpFontColor);
    auto* fontButtons = new QHBoxLayout;
    fontButtons->addWidget(BitBtn1);
    fontButtons->addWidget(btnFontColor);
    fontButtons->addWidget(cbAutoFontSize);
    fontForm->addRow(fontButtons);

    auto* dates = new QGroupBox(QStringLiteral("Default date and time"), this);
    auto* datesForm = new QFormLayout(dates);
    datesForm->addRow(QStringLiteral("Date:"), dtpickDate);
    datesForm->addRow(QStringLiteral("Date format:"), cbDateFormat);
    datesForm->addRow(QStringLiteral("Time:"), dtpickTime);
    datesForm->addRow(QStringLiteral("Time format:"), cbTimeFormat);

    auto* files = new QGroupBox(QStringLiteral("File names"), this);
    auto* filesForm = new QFormLayout(files);
    filesForm->addRow(QStringLiteral("Date format:"), cbDateFormatFile);
    filesForm->addRow(QStringLiteral("Time format:"), cbTimeFormatFile);
    filesForm->addRow(QStringLiteral("Date delimiter:"), edtDateDelimiter);
    filesForm->addRow(QStringLiteral("Time delimiter:"), edtTimeDelimiter);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(Button2);
    auto* all = new QVBoxLayout(this);
    all->addWidget(quality);
    all->addWidget(font);
    all->addWidget(dates);
    all->addWidget(files);
    all->addLayout(buttons);

    // Opening: the values as the store holds them now.
    LoadSettingsOrReport();
    TSettings& s = Settings();
    trbarQuality->setValue(s.defaultCompressionQuality);
    lblQuality->setText(QString::number(trbarQuality->value()));
    showFont();

    double date = 0, time = 0;
    try {
        date = ParseDateText(s.defaultDate);
    } catch (const EConvertError& e) {
        ShowError(QStringLiteral("Setting \"defaultDate\": %1.").arg(e.message()));
        date = ParseDateText(QStringLiteral("01.01.1980"));
    }
    try {
        time = ParseTimeText(s.defaultTime);
    } catch (const EConvertError& e) {
        ShowError(QStringLiteral("Setting \"defaultTime\": %1.").arg(e.message()));
        time = ParseTimeText(QStringLiteral("12:00:00"));
    }
    dtpickDate->setDate(ValueToDateTime(date).date());
    dtpickTime->setDateTime(QDateTime(TimeOnlyDate, ValueToDateTime(time).time()));

    if (s.defaultDateDelimiter.isSpace() || s.defaultDateDelimiter.isNull())
        s.defaultDateDelimiter = QLatin1Char('.');
    if (s.defaultTimeDelimiter.isSpace() || s.defaultTimeDelimiter.isNull())
        s.defaultTimeDelimiter = QLatin1Char('-');
    edtDateDelimiter->setText(QString(s.defaultDateDelimiter));
    edtTimeDelimiter->setText(QString(s.defaultTimeDelimiter));
    cbAutoFontSize->setChecked(s.AutoFontSize);

    for (const QString& format : DateFormats) {
        cbDateFormat->addItem(FormatDateTimeText(format, date));
        cbDateFormatFile->addItem(FormatDateTimeText(format, date));
    }
    const qsizetype dateIndex = DateFormats.indexOf(s.defaultDateFormat);
    cbDateFormat->setCurrentIndex(dateIndex < 0 ? 0 : int(dateIndex));
    dtpickDate->setDisplayFormat(PickerDisplayFormat(DateFormats.at(cbDateFormat->currentIndex())));
    // The file-name formats show what the batch uses, or nothing where the setting names no
    // entry of the catalogue (the batch then refuses to rename).
    cbDateFormatFile->setCurrentIndex(int(DateFormats.indexOf(s.defaultDateFormatFile)));

    for (const QString& format : TimeFormats)
        cbTimeFormat->addItem(FormatDateTimeText(format, time));
    cbTimeFormat->setCurrentIndex(indexOrZero(s.defaultTimeFormat, TimeFormats.size()));
    dtpickTime->setDisplayFormat(
        PickerDisplayFormat(TimePickerFormats.at(cbTimeFormat->currentIndex())));
    fillTimeFormatFile();
    cbTimeFormatFile->setCurrentIndex(indexOrNone(s.defaultTimeFormatFile, TimeFormats.size()));

    connect(trbarQuality, &QSlider::valueChanged, this,
            [this](int v) { lblQuality->setText(QString::number(v)); });
    connect(cbDateFormat, &QComboBox::activated, this, &TfrmOptions::cbDateFormatChange);
    connect(cbTimeFormat, &QComboBox::activated, this, &TfrmOptions::cbTimeFormatChange);
    connect(cbDateFormatFile, &QComboBox::activated, this, &TfrmOptions::cbDateFormatFileChange);
    connect(cbTimeFormatFile, &QComboBox::activated, this, &TfrmOptions::cbTimeFormatFileChange);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmOptions::BitBtn1Click);
    connect(btnFontColor, &QPushButton::clicked, this, &TfrmOptions::btnFontColorClick);
    connect(edtDateDelimiter, &QLineEdit::textEdited, this, &TfrmOptions::edtDateDelimiterChange);
    connect(edtTimeDelimiter, &QLineEdit::textEdited, this, &TfrmOptions::edtTimeDelimiterChange);
    connect(btnOk, &QPushButton::clicked, this, &TfrmOptions::btnOkClick);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmOptions::showFont() {
    const TFont& font = Settings().defaultFont ? *Settings().defaultFont : DefaultFont();
    lblFontName->setText(font.Name());
    lblFontSize->setText(QString::number(font.Size()));
    lblFontStyle->setText(FontStyleText(font.Style()));
    QPalette palette = shpFontColor->palette();
    palette.setColor(QPalette::Window, TColorToQColor(font.Color()));
    shpFontColor->setPalette(palette);
}

void TfrmOptions::fillTimeFormatFile() {
    const int current = cbTimeFormatFile->currentIndex();
    const double time = timeValue();
    cbTimeFormatFile->clear();
    for (const QString& format : TimeFormats)
        cbTimeFormatFile->addItem(FormatDateTimeText(format, time)
                                      .replace(QLatin1Char(':'), Settings().defaultTimeDelimiter));
    if (current >= 0)
        cbTimeFormatFile->setCurrentIndex(current);
}

double TfrmOptions::dateValue() const {
    return DateTimeToValue(QDateTime(dtpickDate->date(), QTime(0, 0), QTimeZone::utc()));
}

double TfrmOptions::timeValue() const {
    return DateTimeToValue(QDateTime(TimeOnlyDate, dtpickTime->time(), QTimeZone::utc()));
}

void TfrmOptions::cbDateFormatChange() {
    const QString& format = DateFormats.at(qMax(cbDateFormat->currentIndex(), 0));
    Settings().defaultDateFormat = format;
    dtpickDate->setDisplayFormat(PickerDisplayFormat(format));
}

void TfrmOptions::cbTimeFormatChange() {
    const int i = qMax(cbTimeFormat->currentIndex(), 0);
    Settings().defaultTimeFormat = QString::number(i);
    dtpickTime->setDisplayFormat(PickerDisplayFormat(TimePickerFormats.at(i)));
}

void TfrmOptions::cbDateFormatFileChange() {
    Settings().defaultDateFormatFile = DateFormats.at(qMax(cbDateFormatFile->currentIndex(), 0));
}

void TfrmOptions::cbTimeFormatFileChange() {
    Settings().defaultTimeFormatFile = QString::number(qMax(cbTimeFormatFile->currentIndex(), 0));
}

void TfrmOptions::BitBtn1Click() {
    auto font = editableFont();
    if (!ChooseFont || !ChooseFont(*font))
        return;
    Settings().defaultFont = font;
    showFont();
}

void TfrmOptions::btnFontColorClick() {
    auto font = editableFont();
    TColor color = font->Color();
    if (!ChooseColor || !ChooseColor(color))
        return;
    font->setColor(color);
    Settings().defaultFont = font;
    showFont();
}

void TfrmOptions::delimiterChange(QLineEdit* edit, QChar& delimiter) {
    QString text = edit->text();
    if (text.size() > 1)
        text = text.right(1);
    if (!text.isEmpty() && ForbiddenDelimiters.contains(text.at(0))) {
        ShowInformation(QStringLiteral("You can't use \"%1\" as a delimeter.").arg(text.at(0)));
        text = QString(delimiter);
    }
    if (text != edit->text())
        edit->setText(text);
    if (!text.isEmpty())
        delimiter = text.at(0);
}

void TfrmOptions::edtDateDelimiterChange() {
    delimiterChange(edtDateDelimiter, Settings().defaultDateDelimiter);
}

void TfrmOptions::edtTimeDelimiterChange() {
    delimiterChange(edtTimeDelimiter, Settings().defaultTimeDelimiter);
    fillTimeFormatFile();
}

void TfrmOptions::btnOkClick() {
    SettingsStore store(SettingsKey);
    if (!store.OpenOrCreate()) {
        ShowError(QStringLiteral("Can't write to registry. %1").arg(store.errorString()).trimmed());
        return;
    }
    TSettings& s = Settings();
    s.AutoFontSize = cbAutoFontSize->isChecked();
    s.defaultCompressionQuality = trbarQuality->value();
    s.defaultDate = FormatDateTimeText(SystemShortDateFormat(), dateValue());
    s.defaultTime = FormatDateTimeText(SystemLongTimeFormat(), timeValue());
    for (const OptionBinding& binding : OptionBindings) {
        const QString name = QString::fromLatin1(binding.setting);
        if (!store.SetValue(name, OptionStoredText(s, name))) {
            ShowError(
                QStringLiteral("Can't write to registry. %1").arg(store.errorString()).trimmed());
            return;
        }
    }
    accept();
}
