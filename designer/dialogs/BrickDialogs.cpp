#include "designer/dialogs/BrickDialogs.h"

#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/dialogs/DialogHooks.h"
#include "designer/state/TDesigner.h"
#include "patterns/settings/CaptionFields.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "platform/TFont.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QTimeZone>
#include <QVBoxLayout>

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

QString FontStyleText(int styles) {
    QString out;
    if (styles & Tk::fsBold)
        out += QStringLiteral("Bold ");
    if (styles & Tk::fsItalic)
        out += QStringLiteral("Italic ");
    if (styles & Tk::fsUnderline)
        out += QStringLiteral("Underline ");
    if (styles & Tk::fsStrikeOut)
        out += QStringLiteral("Strike Out ");
    return out.isEmpty() ? QStringLiteral("Normal") : out;
}

namespace {

void setSwatch(QWidget* swatch, TColor color) {
    swatch->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid black;")
                              .arg(TColorToQColor(color).name()));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Common controls

TBrickDialog::TBrickDialog(TText* brick, const QString& caption, QWidget* parent)
    : QDialog(parent), m_brick(brick) {
    setWindowTitle(caption);
    auto named = [](auto* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    lblFontNameCaption = named(new TClickLabel(QStringLiteral("Font Name:"), this), "Label2");
    lblFontSizeCaption = named(new TClickLabel(QStringLiteral("Font Size:"), this), "Label3");
    lblFontStyleCaption = named(new TClickLabel(QStringLiteral("Font Syle:"), this), "Label4");
    lblFontName = named(new TClickLabel(this), "lblFontName");
    lblFontSize = named(new TClickLabel(this), "lblFontSize");
    lblFontStyle = named(new TClickLabel(this), "lblFontStyle");
    lblFontColor = named(new TClickLabel(QStringLiteral("Font Color:"), this), "lblFontColor");
    shpFontColor = named(new TClickLabel(this), "shpFontColor");
    shpFontColor->setFixedSize(32, 16);
    for (TClickLabel* l : {lblFontNameCaption, lblFontSizeCaption, lblFontStyleCaption,
                           lblFontName, lblFontSize, lblFontStyle})
        connect(l, &TClickLabel::clicked, this, &TBrickDialog::EditFont);
    for (TClickLabel* l : {lblFontNameCaption, lblFontSizeCaption, lblFontStyleCaption})
        l->setCursor(Qt::PointingHandCursor);
    connect(lblFontColor, &TClickLabel::clicked, this, &TBrickDialog::EditFontColor);
    connect(shpFontColor, &TClickLabel::clicked, this, &TBrickDialog::EditFontColor);

    trbTransp = named(new QSlider(Qt::Horizontal, this), "trbTransp");
    trbTransp->setRange(0, 255);
    trbTransp->setPageStep(16);
    if (brick)
        trbTransp->setValue(brick->Opacity);
    connect(trbTransp, &QSlider::valueChanged, this, [this](int v) {
        if (m_brick) {
            m_brick->Opacity = v;
            m_brick->update();
        }
    });

    gbBackground = named(new QGroupBox(QStringLiteral("Background options"), this), "gbBackground");
    shpBackColor = named(new QFrame(gbBackground), "shpBackColor");
    shpBackColor->setFixedSize(32, 16);
    cbTransparent = named(new QCheckBox(QStringLiteral("Transparent"), gbBackground),
                          "cbTransparent");
    auto* bg = new QHBoxLayout(gbBackground);
    bg->addWidget(shpBackColor);
    bg->addWidget(new QLabel(QStringLiteral("Background Color:"), gbBackground));
    bg->addWidget(cbTransparent);
    gbBackground->hide();

    buildReadability();

    btnOk = named(new QPushButton(QStringLiteral("Ok"), this), "btnOk");
    btnCancel = named(new QPushButton(QStringLiteral("Cancel"), this), "btnCancel");
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    refreshFontLabels();
}

void TBrickDialog::finishLayout(QWidget* own) {
    auto* top = new QVBoxLayout(this);
    if (own)
        top->addWidget(own);
    auto* font = new QGridLayout;
    font->addWidget(lblFontNameCaption, 0, 0);
    font->addWidget(lblFontName, 0, 1);
    font->addWidget(lblFontSizeCaption, 1, 0);
    font->addWidget(lblFontSize, 1, 1);
    font->addWidget(lblFontStyleCaption, 2, 0);
    font->addWidget(lblFontStyle, 2, 1);
    font->addWidget(lblFontColor, 3, 0);
    font->addWidget(shpFontColor, 3, 1);
    auto* transp = new QGridLayout;
    transp->addWidget(new QLabel(QStringLiteral("Transparency:"), this), 0, 0, 1, 2);
    transp->addWidget(trbTransp, 1, 0, 1, 2);
    transp->addWidget(new QLabel(QStringLiteral("Invisible"), this), 2, 0, Qt::AlignLeft);
    transp->addWidget(new QLabel(QStringLiteral("Solid"), this), 2, 1, Qt::AlignRight);
    auto* common = new QWidget(this);
    auto* commonLayout = new QVBoxLayout(common);
    commonLayout->setContentsMargins(0, 0, 0, 0);
    commonLayout->addLayout(font);
    commonLayout->addLayout(transp);
    commonLayout->addWidget(gbBackground);
    commonLayout->addWidget(gbReadability);
    common->setVisible(m_brick != nullptr);
    top->addWidget(common);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    top->addLayout(buttons);
    adjustSize();
}

void TBrickDialog::buildReadability() {
    auto named = [](auto* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    gbReadability = named(new QGroupBox(QStringLiteral("Readability"), this), "gbReadability");
    QWidget* g = gbReadability;
    cbOutline = named(new QCheckBox(QStringLiteral("&Outline"), g), "cbOutline");
    shpOutline = named(new TClickLabel(g), "shpOutline");
    spedOutlineWidth = named(new QSpinBox(g), "spedOutlineWidth");
    cbShadow = named(new QCheckBox(QStringLiteral("S&hadow"), g), "cbShadow");
    shpShadow = named(new TClickLabel(g), "shpShadow");
    spedShadowOffset = named(new QSpinBox(g), "spedShadowOffset");
    cbBackdrop = named(new QCheckBox(QStringLiteral("&Backdrop"), g), "cbBackdrop");
    shpBackdrop = named(new TClickLabel(g), "shpBackdrop");
    spedBackdropOpacity = named(new QSpinBox(g), "spedBackdropOpacity");
    spedBackdropPadding = named(new QSpinBox(g), "spedBackdropPadding");
    cbAutoContrast = named(new QCheckBox(QStringLiteral("Black or white, &whichever reads "
                                                        "better on each photo"),
                                         g),
                           "cbAutoContrast");
    for (TClickLabel* swatch : {shpOutline, shpShadow, shpBackdrop}) {
        swatch->setFixedSize(32, 16);
        swatch->setCursor(Qt::PointingHandCursor);
    }
    spedOutlineWidth->setRange(0, 100);
    spedShadowOffset->setRange(0, 100);
    spedBackdropPadding->setRange(0, 200);
    spedBackdropOpacity->setRange(0, 255);
    for (QSpinBox* spin : {spedOutlineWidth, spedShadowOffset, spedBackdropPadding})
        spin->setSuffix(QStringLiteral(" % of the line"));
    spedBackdropOpacity->setPrefix(QStringLiteral("opacity "));
    auto* grid = new QGridLayout(g);
    grid->addWidget(cbOutline, 0, 0);
    grid->addWidget(shpOutline, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("width"), g), 0, 2);
    grid->addWidget(spedOutlineWidth, 0, 3);
    grid->addWidget(cbShadow, 1, 0);
    grid->addWidget(shpShadow, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("offset"), g), 1, 2);
    grid->addWidget(spedShadowOffset, 1, 3);
    grid->addWidget(cbBackdrop, 2, 0);
    grid->addWidget(shpBackdrop, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("padding"), g), 2, 2);
    grid->addWidget(spedBackdropPadding, 2, 3);
    grid->addWidget(spedBackdropOpacity, 3, 3);
    grid->addWidget(cbAutoContrast, 4, 0, 1, 4);
    // A bubble's own body keeps its text readable.
    gbReadability->setVisible(m_brick && !qobject_cast<TTextBubble*>(m_brick.data()));
    refreshReadability();

    // Every change goes to the brick at once, through its published properties.
    const auto write = [this](const char* name, const QVariant& value) {
        if (m_brick)
            m_brick->setProperty(name, value);
        refreshReadability();
    };
    const auto toggle = [this, write](const char* name, bool on) {
        if (!m_brick)
            return;
        const TColor now = m_brick->property(name).value<TColor>();
        if (on && now == clNone)
            write(name, QVariant::fromValue<TColor>(clBlack));
        else if (!on && now != clNone)
            write(name, QVariant::fromValue<TColor>(clNone));
    };
    connect(cbOutline, &QCheckBox::toggled, this, [toggle](bool on) { toggle("Outline", on); });
    connect(cbShadow, &QCheckBox::toggled, this, [toggle](bool on) { toggle("Shadow", on); });
    connect(cbBackdrop, &QCheckBox::toggled, this, [toggle](bool on) { toggle("Backdrop", on); });
    connect(cbAutoContrast, &QCheckBox::toggled, this,
            [write](bool on) { write("AutoContrast", on); });
    connect(spedOutlineWidth, &QSpinBox::valueChanged, this,
            [write](int v) { write("OutlineWidth", v); });
    connect(spedShadowOffset, &QSpinBox::valueChanged, this,
            [write](int v) { write("ShadowOffset", v); });
    connect(spedBackdropOpacity, &QSpinBox::valueChanged, this,
            [write](int v) { write("BackdropOpacity", v); });
    connect(spedBackdropPadding, &QSpinBox::valueChanged, this,
            [write](int v) { write("BackdropPadding", v); });
    connect(shpOutline, &TClickLabel::clicked, this, [this] { editReadableColor("Outline"); });
    connect(shpShadow, &TClickLabel::clicked, this, [this] { editReadableColor("Shadow"); });
    connect(shpBackdrop, &TClickLabel::clicked, this, [this] { editReadableColor("Backdrop"); });
}

void TBrickDialog::refreshReadability() {
    if (!m_brick)
        return;
    const Readability& r = m_brick->Readable;
    const auto show = [](QCheckBox* box, TClickLabel* swatch, TColor color) {
        const QSignalBlocker block(box);
        box->setChecked(color != clNone);
        if (color != clNone)
            setSwatch(swatch, color);
        else
            swatch->setStyleSheet(QStringLiteral("border: 1px dashed gray;"));
    };
    show(cbOutline, shpOutline, r.outline);
    show(cbShadow, shpShadow, r.shadow);
    show(cbBackdrop, shpBackdrop, r.backdrop);
    const auto value = [](QSpinBox* spin, int v, bool enabled) {
        const QSignalBlocker block(spin);
        spin->setValue(v);
        spin->setEnabled(enabled);
    };
    value(spedOutlineWidth, r.outlineWidth, r.outline != clNone);
    value(spedShadowOffset, r.shadowOffset, r.shadow != clNone);
    value(spedBackdropOpacity, r.backdropOpacity, r.backdrop != clNone);
    value(spedBackdropPadding, r.backdropPadding, r.backdrop != clNone);
    const QSignalBlocker block(cbAutoContrast);
    cbAutoContrast->setChecked(r.autoContrast);
}

void TBrickDialog::editReadableColor(const char* property) {
    if (!m_brick || !EditorDialogs().ChooseColor)
        return;
    TColor color = m_brick->property(property).value<TColor>();
    if (color == clNone)
        color = clBlack;
    if (!EditorDialogs().ChooseColor(color))
        return;
    m_brick->setProperty(property, QVariant::fromValue<TColor>(color));
    refreshReadability();
}

void TBrickDialog::refreshFontLabels() {
    if (!m_brick)
        return;
    const TFont& f = *m_brick->Font();
    lblFontName->setText(f.Name());
    lblFontSize->setText(QString::number(f.Size()));
    lblFontStyle->setText(FontStyleText(int(f.Style())));
    setSwatch(shpFontColor, f.Color());
    setSwatch(shpBackColor, m_brick->Color());
    cbTransparent->setChecked(m_brick->Transparent());
}

void TBrickDialog::EditFont() {
    if (!m_brick || !EditorDialogs().ChooseFont)
        return;
    TFont chosen;
    chosen.Assign(*m_brick->Font());
    if (!EditorDialogs().ChooseFont(chosen))
        return;
    m_brick->Font()->Assign(chosen);
    m_brick->update();
    refreshFontLabels();
}

void TBrickDialog::EditFontColor() {
    if (!m_brick || !EditorDialogs().ChooseColor)
        return;
    TColor color = m_brick->Font()->Color();
    if (!EditorDialogs().ChooseColor(color))
        return;
    m_brick->Font()->setColor(color);
    m_brick->update();
    refreshFontLabels();
}

// ---------------------------------------------------------------------------------------------
// Text

QToolButton* MakeInsertFieldButton(QPlainTextEdit* editor, const TText* brick, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("btnInsertField"));
    button->setText(QStringLiteral("Insert field"));
    button->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(button);
    menu->setObjectName(QStringLiteral("mnuInsertField"));
    const TDesigner* surface = brick ? DesignerOf(brick) : nullptr;
    const TPhotoFields fields = surface ? surface->Fields : TPhotoFields();
    const bool photo = surface && !surface->FileName.isEmpty();
    for (const QString& name : FieldNames()) {
        // The dates come with a format to edit; the value beside each is the open photo's.
        QString field = QLatin1Char('{') + name + QLatin1Char('}');
        if (name == QLatin1String("Date"))
            field = QStringLiteral("{Date:yyyy-MM-dd}");
        else if (name == QLatin1String("Time"))
            field = QStringLiteral("{Time:HH:mm:ss}");
        QString value = photo ? ExpandFields(field, fields) : QString();
        if (value.size() > 40)
            value = value.left(39) + QChar(0x2026);
        QAction* action = menu->addAction(value.isEmpty() ? field : field + QLatin1Char('\t') + value);
        action->setData(field);
        QObject::connect(action, &QAction::triggered, editor, [editor, field] {
            editor->insertPlainText(field);
            editor->setFocus();
        });
    }
    button->setMenu(menu);
    return button;
}

TOPropertyStringsEditor::TOPropertyStringsEditor(TText* brick, QWidget* parent)
    : TBrickDialog(brick, QStringLiteral("Text options"), parent) {
    setObjectName(QStringLiteral("OPropertyStringsEditor"));
    auto* own = new QWidget(this);
    auto* form = new QFormLayout(own);
    form->setContentsMargins(0, 0, 0, 0);
    RichEdit1 = new QPlainTextEdit(own);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    auto* textLabel = new QHBoxLayout;
    textLabel->addWidget(new QLabel(QStringLiteral("Input text here:"), own));
    textLabel->addStretch();
    textLabel->addWidget(MakeInsertFieldButton(RichEdit1, brick, own));
    form->addRow(textLabel);
    form->addRow(RichEdit1);
    spedAngel = new QSpinBox(own);
    spedAngel->setObjectName(QStringLiteral("spedAngel"));
    spedAngel->setRange(-180, 180);
    auto* angleRow = new QHBoxLayout;
    angleRow->addWidget(spedAngel);
    angleRow->addWidget(new QLabel(QStringLiteral("(in degrees)"), own));
    form->addRow(QStringLiteral("Rotation:"), angleRow);
    if (!brick) {
        spedAngel->setEnabled(false);
        spedAngel->hide();
    } else {
        RichEdit1->setPlainText(brick->Caption());
        spedAngel->setValue(brick->Angle / 10);
        connect(RichEdit1, &QPlainTextEdit::textChanged, this, [this] {
            if (Brick())
                Brick()->setCaption(RichEdit1->toPlainText());
        });
        connect(spedAngel, &QSpinBox::valueChanged, this, [this](int v) {
            if (!Brick())
                return;
            Brick()->Angle = v * 10;
            Brick()->FitToText();
            Brick()->update();
        });
    }
    finishLayout(own);
}

// ---------------------------------------------------------------------------------------------
// Date

namespace {

// A format of the brick's syntax as the date picker displays it; the empty format is the
// locale's short date.
QString pickerDisplayFormat(const QString& format) {
    if (format.isEmpty())
        return SystemLocale().dateFormat(QLocale::ShortFormat);
    return format;
}

double dateOnly(const QDate& date) {
    return DateTimeToValue(QDateTime(date, QTime(0, 0), QTimeZone::utc()));
}

} // namespace

TOPropertyDateEditor::TOPropertyDateEditor(TTextDate* brick, QWidget* parent)
    : TBrickDialog(brick, QStringLiteral("Date options"), parent), m_date(brick) {
    setObjectName(QStringLiteral("OPropertyDateEditor"));
    auto* own = new QGroupBox(QStringLiteral("Date options"), this);
    auto* form = new QFormLayout(own);
    ComboBox1 = new QComboBox(own);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    DateTimePicker1 = new QDateEdit(own);
    DateTimePicker1->setObjectName(QStringLiteral("DateTimePicker1"));
    DateTimePicker1->setCalendarPopup(true);
    form->addRow(QStringLiteral("Format:"), ComboBox1);
    form->addRow(QStringLiteral("Date:"), DateTimePicker1);

    const QDateTime value = ValueToDateTime(brick->DateValue);
    DateTimePicker1->setDate(value.isValid() ? value.date() : QDate(1899, 12, 30));
    setPickerFormat(brick->Format.isEmpty() ? Settings().defaultDateFormat : brick->Format);
    fillFormats();
    const int at = int(DateFormats.indexOf(m_pickerFormat));
    ComboBox1->setCurrentIndex(at < 0 ? 0 : at);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this](int) { apply(); });
    connect(DateTimePicker1, &QDateEdit::dateChanged, this, [this](const QDate&) { apply(); });
    finishLayout(own);
}

void TOPropertyDateEditor::setPickerFormat(const QString& format) {
    m_pickerFormat = format;
    DateTimePicker1->setDisplayFormat(pickerDisplayFormat(format));
}

void TOPropertyDateEditor::fillFormats() {
    const int current = ComboBox1->currentIndex();
    const QSignalBlocker block(ComboBox1);
    const double value = dateOnly(DateTimePicker1->date());
    ComboBox1->clear();
    for (const QString& format : DateFormats)
        ComboBox1->addItem(FormatDateTimeText(format, value));
    if (current >= 0)
        ComboBox1->setCurrentIndex(current);
}

void TOPropertyDateEditor::apply() {
    const int index = std::max(0, ComboBox1->currentIndex());
    const QString format = DateFormats.value(index);
    {
        const QSignalBlocker block(DateTimePicker1);
        setPickerFormat(format);
    }
    const double value = dateOnly(DateTimePicker1->date());
    m_date->Format = format;
    m_date->DateValue = value;
    m_date->setCaption(FormatDateTimeText(format, value));
    m_date->update();
    fillFormats();
}

// ---------------------------------------------------------------------------------------------
// Time

namespace {

// The picker formats in Qt's syntax: "tt" is the AM/PM designator; in the date part of the last
// one, "mm" is the month.
QString timePickerDisplay(int index) {
    QString f = TimePickerFormats.value(index);
    f.replace(QLatin1String("tt"), QLatin1String("AP"));
    f.replace(QLatin1String("dd.mm.yyyy"), QLatin1String("dd.MM.yyyy"));
    return f;
}

} // namespace

TOPropertyTimeEditor::TOPropertyTimeEditor(TTextTime* brick, QWidget* parent)
    : TBrickDialog(brick, QStringLiteral("Time Options"), parent), m_time(brick) {
    setObjectName(QStringLiteral("OPropertyTimeEditor"));
    auto* own = new QGroupBox(QStringLiteral("Date options"), this);
    auto* form = new QFormLayout(own);
    ComboBox1 = new QComboBox(own);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    DateTimePicker1 = new QDateTimeEdit(own);
    DateTimePicker1->setObjectName(QStringLiteral("DateTimePicker1"));
    form->addRow(QStringLiteral("Format:"), ComboBox1);
    form->addRow(QStringLiteral("Time:"), DateTimePicker1);

    const QDateTime value = ValueToDateTime(brick->DateValue);
    // The picker works in local time; the value's fields are taken as they are.
    if (value.isValid())
        DateTimePicker1->setDateTime(QDateTime(value.date(), value.time()));
    for (const QString& format : TimeFormats)
        ComboBox1->addItem(FormatDateTimeText(format, brick->DateValue));

    QString indexText = brick->Format;
    if (indexText.isEmpty()) {
        if (Settings().defaultTimeFormat.isEmpty())
            Settings().defaultTimeFormat = QStringLiteral("1");
        indexText = Settings().defaultTimeFormat;
    }
    bool ok = false;
    const int index = indexText.trimmed().toInt(&ok);
    m_index = ok && index >= 0 && index < TimeFormats.size() ? index : 1;
    DateTimePicker1->setDisplayFormat(timePickerDisplay(m_index));
    ComboBox1->setCurrentIndex(m_index);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TOPropertyTimeEditor::choose);
    // The time typed is the brick's time.
    connect(DateTimePicker1, &QDateTimeEdit::dateTimeChanged, this, [this] { choose(m_index); });
    finishLayout(own);
}

void TOPropertyTimeEditor::choose(int index) {
    if (index < 0 || index >= TimeFormats.size())
        return;
    m_index = index;
    DateTimePicker1->setDisplayFormat(timePickerDisplay(index));
    const double value = DateTimeToValue(
        QDateTime(DateTimePicker1->date(), DateTimePicker1->time(), QTimeZone::utc()));
    m_time->DateValue = value;
    m_time->setCaption(FormatDateTimeText(TimeFormats[index], value));
    m_time->Format = QString::number(index);
    m_time->update();
}

// ---------------------------------------------------------------------------------------------
// Bubble

QString BubbleTextFromEditor(const QString& text) {
    if (text.endsWith(QLatin1String("\r\n")))
        return text.chopped(2);
    if (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        return text.chopped(1);
    return text;
}

TOPropertyBubbleEditor::TOPropertyBubbleEditor(TTextBubble* brick, QWidget* parent)
    : TBrickDialog(brick, QStringLiteral("Bubble options"), parent), m_bubble(brick) {
    setObjectName(QStringLiteral("OPropertyBubbleEditor"));
    auto* own = new QWidget(this);
    auto* form = new QFormLayout(own);
    form->setContentsMargins(0, 0, 0, 0);
    cbBubbleType = new QComboBox(own);
    cbBubbleType->setObjectName(QStringLiteral("cbBubbleType"));
    for (int i = 0; i < BubbleStyles.size(); ++i)
        cbBubbleType->addItem(BubbleStyles[i], i);
    form->addRow(QStringLiteral("Bubble's type:"), cbBubbleType);
    RichEdit1 = new QPlainTextEdit(own);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    auto* textLabel = new QHBoxLayout;
    textLabel->addWidget(new QLabel(QStringLiteral("Input text here:"), own));
    textLabel->addStretch();
    textLabel->addWidget(MakeInsertFieldButton(RichEdit1, brick, own));
    form->addRow(textLabel);
    form->addRow(RichEdit1);

    cbBubbleType->setCurrentIndex(std::max(0, cbBubbleType->findData(int(brick->Style))));
    RichEdit1->setPlainText(brick->Caption());
    connect(cbBubbleType, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_bubble->Style = quint8(cbBubbleType->itemData(index).toInt());
        m_bubble->FitToText();
        m_bubble->update();
    });
    connect(RichEdit1, &QPlainTextEdit::textChanged, this,
            [this] { m_bubble->setCaption(BubbleTextFromEditor(RichEdit1->toPlainText())); });
    finishLayout(own);
}
