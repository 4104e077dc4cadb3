#include "designer/dialogs/PropertyEditors.h"

#include "designer/dialogs/BrickDialogs.h"
#include "designer/dialogs/ComponentEditors.h"
#include "designer/dialogs/DialogHooks.h"
#include "platform/AtomicFile.h"
#include "platform/ComponentStream.h"
#include "platform/Errors.h"
#include "platform/Messages.h"
#include "platform/PublishedProperties.h"
#include "platform/TControl.h"
#include "platform/TFont.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <limits>

namespace {

QObject* nestedOf(const TPropertyDescription& row) {
    const auto p = FindPublishedProperty(row.Object, row.PropertyName);
    if (!p)
        return nullptr;
    return qvariant_cast<QObject*>(row.Object->property(p->name.toLatin1().constData()));
}

QString path(const TPropertyDescription& row, const QString& sub) {
    return row.PropertyName + QLatin1Char('.') + sub;
}

// Writes one value of the row's nested object when it differs from what it holds.
void writeNested(PropertyWriter& writer, const TPropertyDescription& row, const QString& sub,
                 const QString& text) {
    const QString name = path(row, sub);
    const QString old = PropertyValueText(row.Object, name);
    if (old != text)
        writer.WriteProperty(row.Object, name, old, text);
}

PropertyWriter& writerOf(const TPropertyEditor& editor) {
    if (!editor.Writer())
        throw Exception(QStringLiteral("The property editor has nothing to write with."));
    return *editor.Writer();
}

QDialogButtonBox* okCancel(QDialog* dialog) {
    auto* box = new QDialogButtonBox(dialog);
    box->addButton(QStringLiteral("Ok"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

QSpinBox* intBox(QWidget* parent, const char* name) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    return box;
}

// A picture-holding row (icon, bitmap, picture) loaded from a file: its Data written as one value.
bool loadPictureRow(const TPropertyEditor& editor, const TPropertyDescription& row,
                    const FileDialogRequest& request) {
    if (!EditorDialogs().OpenFile)
        return false;
    const QString file = EditorDialogs().OpenFile(request);
    if (file.isEmpty())
        return false;
    const LoadedGraphic g = LoadGraphicFile(file); // an unreadable file fails, the old one kept
    StreamValue data;
    data.type = vaBinary;
    data.bytes = MakePictureData(g);
    PropertyWriteGroup group(writerOf(editor), row.PropertyName);
    writeNested(writerOf(editor), row, QStringLiteral("Data"), StreamValueToText(data));
    return true;
}

} // namespace

std::optional<TColor> ColorFromText(const QString& text) {
    const QString t = text.trimmed();
    if (const auto c = IdentToColor(t))
        return c;
    bool ok = false;
    qint64 n = 0;
    if (t.startsWith(QLatin1Char('$')))
        n = t.mid(1).toLongLong(&ok, 16);
    else
        n = t.toLongLong(&ok, 10);
    if (!ok || n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return static_cast<TColor>(static_cast<quint32>(n));
}

// ---------------------------------------------------------------------------------------------
// Colour

void TOColorEditor::GetValues(TPropertyDescription& row) {
    row.ValueList.clear();
}

QString TOColorEditor::GetValueText(const TPropertyDescription& row) {
    const auto c = ColorFromText(row.ValueText);
    const auto name = c ? ColorToIdent(*c) : std::nullopt;
    if (!name)
        return QStringLiteral("Custom");
    return name->startsWith(QLatin1String("cl")) ? name->mid(2) : *name;
}

QString TOColorEditor::SetValue(TPropertyDescription& row) {
    const auto c = ColorFromText(row.ValueText);
    if (!c)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(row.ValueText));
    row.ValueText = QString::number(*c);
    return row.ValueText;
}

bool TOColorEditor::Edit(TPropertyDescription& row) {
    TColor color = ColorFromText(row.ValueText).value_or(clBlack);
    if (!EditorDialogs().ChooseColor || !EditorDialogs().ChooseColor(color))
        return false;
    row.ValueText = QString::number(color);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Cursor

TOCursorEditor::TOCursorEditor() : m_cursors(CursorIdents()) {}

void TOCursorEditor::GetValues(TPropertyDescription& row) {
    row.ValueList = m_cursors;
}

namespace {
std::optional<TCursor> cursorFromText(const QString& text) {
    if (const auto c = IdentToCursor(text.trimmed()))
        return c;
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < std::numeric_limits<qint16>::min() || n > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return TCursor(n);
}
} // namespace

QString TOCursorEditor::GetValueText(const TPropertyDescription& row) {
    const auto c = cursorFromText(row.ValueText);
    if (!c)
        return row.ValueText;
    return CursorToIdent(*c).value_or(QString::number(*c));
}

QString TOCursorEditor::SetValue(TPropertyDescription& row) {
    const auto c = cursorFromText(row.ValueText);
    if (!c)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(row.ValueText));
    row.ValueText = QString::number(*c);
    return row.ValueText;
}

bool TOCursorEditor::Edit(TPropertyDescription& row) {
    TOPropertyCursorEditor dialog(m_cursors, cursorFromText(row.ValueText).value_or(0));
    if (EditorDialogs().Exec(dialog) != QDialog::Accepted)
        return false;
    row.ValueText = QString::number(dialog.Chosen());
    return true;
}

TOPropertyCursorEditor::TOPropertyCursorEditor(const QStringList& cursors, TCursor current,
                                               QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("OPropertyCursorEditor"));
    setWindowTitle(QStringLiteral("The are cursors"));
    List = new QListWidget(this);
    List->setObjectName(QStringLiteral("List"));
    List->addItems(cursors);
    TestPanel = new QFrame(this);
    TestPanel->setObjectName(QStringLiteral("TestPanel"));
    TestPanel->setFrameShape(QFrame::Box);
    TestPanel->setMinimumSize(64, 64);
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(List);
    row->addWidget(TestPanel);
    layout->addLayout(row);
    layout->addWidget(okCancel(this));
    connect(List, &QListWidget::currentRowChanged, this, [this](int) {
        TestPanel->setCursor(CursorShapeFor(Chosen()));
    });
    const QString name = CursorToIdent(current).value_or(QString());
    const auto found = List->findItems(name, Qt::MatchFixedString);
    List->setCurrentRow(found.isEmpty() ? 0 : List->row(found.first()));
    TestPanel->setCursor(CursorShapeFor(Chosen()));
}

TCursor TOPropertyCursorEditor::Chosen() const {
    const QListWidgetItem* item = List->currentItem();
    return item ? IdentToCursor(item->text()).value_or(0) : 0;
}

// ---------------------------------------------------------------------------------------------
// Font

TOFontEditor::TOFontEditor() : m_charsets(CharsetIdents()) {}

void TOFontEditor::GetValues(TPropertyDescription& row) {
    if (m_fonts.isEmpty())
        m_fonts = QFontDatabase::families();
    row.ValueList = m_fonts;
}

bool TOFontEditor::Edit(TPropertyDescription& row) {
    auto* font = qobject_cast<TFont*>(nestedOf(row));
    if (!font || !EditorDialogs().ChooseFont)
        return false;
    TFont chosen;
    chosen.Assign(*font);
    if (!EditorDialogs().ChooseFont(chosen))
        return false;
    PropertyWriter& writer = writerOf(*this);
    PropertyWriteGroup group(writer, row.PropertyName);
    for (const PublishedProperty& p : PublishedProperties(&chosen))
        if (p.writable && p.storable && p.kind != PropertyKind::Class)
            writeNested(writer, row, p.name, PropertyValueText(&chosen, p.name));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Icon, picture, bitmap

bool TOIconEditor::Edit(TPropertyDescription& row) {
    FileDialogRequest r;
    r.title = QStringLiteral("Icon");
    r.filter = QStringLiteral("Icons (*.ico);;All (*)");
    r.defaultSuffix = QStringLiteral("ico");
    return loadPictureRow(*this, row, r);
}

bool TOPictureEditor::Edit(TPropertyDescription& row) {
    FileDialogRequest r;
    r.title = QStringLiteral("Picture");
    r.filter = PictureFileFilter;
    return loadPictureRow(*this, row, r);
}

bool TOBitmapEditor::Edit(TPropertyDescription& row) {
    LoadedGraphic start;
    try {
        start = LoadGraphicData(PropertyStreamValue(row.Object, path(row, QStringLiteral("Data"))).bytes);
    } catch (const Exception&) {
        start = LoadedGraphic();
    }
    TOPropertyBitmapEditor dialog(start);
    if (EditorDialogs().Exec(dialog) != QDialog::Accepted)
        return false;
    StreamValue data;
    data.type = vaBinary;
    data.bytes = MakePictureData(dialog.Graphic());
    PropertyWriter& writer = writerOf(*this);
    PropertyWriteGroup group(writer, row.PropertyName);
    writeNested(writer, row, QStringLiteral("Data"), StreamValueToText(data));
    return true;
}

TOPropertyBitmapEditor::TOPropertyBitmapEditor(const LoadedGraphic& graphic, QWidget* parent)
    : QDialog(parent), m_graphic(graphic) {
    setObjectName(QStringLiteral("OPropertyBitmapEditor"));
    setWindowTitle(QStringLiteral("Bitmap"));
    Image = new QLabel(this);
    Image->setObjectName(QStringLiteral("Image"));
    Image->setMinimumSize(200, 150);
    Image->setAlignment(Qt::AlignCenter);
    auto* load = new QPushButton(QStringLiteral("Load"), this);
    auto* save = new QPushButton(QStringLiteral("Save"), this);
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    connect(load, &QPushButton::clicked, this, &TOPropertyBitmapEditor::Load);
    connect(save, &QPushButton::clicked, this, &TOPropertyBitmapEditor::Save);
    connect(clear, &QPushButton::clicked, this, &TOPropertyBitmapEditor::Clear);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Image);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(load);
    buttons->addWidget(save);
    buttons->addWidget(clear);
    layout->addLayout(buttons);
    layout->addWidget(okCancel(this));
    show();
}

void TOPropertyBitmapEditor::show() {
    Image->setPixmap(m_graphic.image.isNull()
                         ? QPixmap()
                         : QPixmap::fromImage(m_graphic.image.scaled(
                               Image->minimumSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void TOPropertyBitmapEditor::Load() {
    FileDialogRequest r;
    r.title = QStringLiteral("Load");
    r.filter = PictureFileFilter;
    const QString file = EditorDialogs().OpenFile ? EditorDialogs().OpenFile(r) : QString();
    if (file.isEmpty())
        return;
    try {
        m_graphic = LoadGraphicFile(file);
    } catch (const Exception& e) {
        ShowError(e.message());
    }
    show();
}

void TOPropertyBitmapEditor::Save() {
    if (m_graphic.image.isNull())
        return;
    FileDialogRequest r;
    r.title = QStringLiteral("Save");
    r.filter = QStringLiteral("Bitmaps (*.bmp);;All (*)");
    r.defaultSuffix = QStringLiteral("bmp");
    const QString file = EditorDialogs().SaveFile ? EditorDialogs().SaveFile(r) : QString();
    if (file.isEmpty())
        return;
    QByteArray bytes = m_graphic.data;
    if (bytes.isEmpty()) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!m_graphic.image.save(&buffer, "BMP")) {
            ShowError(QStringLiteral("Cannot save \"%1\". The picture cannot be encoded.").arg(file));
            return;
        }
    }
    if (const QString why = WriteFileReplacing(file, bytes); !why.isEmpty())
        ShowError(QStringLiteral("Cannot save \"%1\". %2").arg(file, why));
}

void TOPropertyBitmapEditor::Clear() {
    m_graphic = LoadedGraphic();
    show();
}

// ---------------------------------------------------------------------------------------------
// Constraints

TOPropertyConstraintsEditor::TOPropertyConstraintsEditor(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("OPropertyConstraintsEditor"));
    setWindowTitle(QStringLiteral("Constraints"));
    auto* height = new QGroupBox(QStringLiteral("Height"), this);
    auto* width = new QGroupBox(QStringLiteral("Width"), this);
    MaxHeight = intBox(height, "MaxHeight");
    MinHeight = intBox(height, "MinHeight");
    MaxWidth = intBox(width, "MaxWidth");
    MinWidth = intBox(width, "MinWidth");
    auto* h = new QFormLayout(height);
    h->addRow(QStringLiteral("Max:"), MaxHeight);
    h->addRow(QStringLiteral("Min:"), MinHeight);
    auto* w = new QFormLayout(width);
    w->addRow(QStringLiteral("Max:"), MaxWidth);
    w->addRow(QStringLiteral("Min:"), MinWidth);
    auto* layout = new QVBoxLayout(this);
    auto* groups = new QHBoxLayout;
    groups->addWidget(height);
    groups->addWidget(width);
    layout->addLayout(groups);
    layout->addWidget(okCancel(this));
}

bool TOConstraintsEditor::Edit(TPropertyDescription& row) {
    if (!nestedOf(row))
        return false;
    TOPropertyConstraintsEditor dialog;
    const std::pair<const char*, QSpinBox*> fields[] = {{"MaxHeight", dialog.MaxHeight},
                                                        {"MaxWidth", dialog.MaxWidth},
                                                        {"MinHeight", dialog.MinHeight},
                                                        {"MinWidth", dialog.MinWidth}};
    for (const auto& [name, box] : fields)
        box->setValue(PropertyValueText(row.Object, path(row, QLatin1String(name))).toInt());
    if (EditorDialogs().Exec(dialog) != QDialog::Accepted)
        return false;
    PropertyWriter& writer = writerOf(*this);
    PropertyWriteGroup group(writer, row.PropertyName);
    for (const auto& [name, box] : fields)
        writeNested(writer, row, QLatin1String(name), QString::number(box->value()));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Scroll bar

TOPropertyScrollBarEditor::TOPropertyScrollBarEditor(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("OPropertyScrollBarEditor"));
    setWindowTitle(QStringLiteral("ScrollBar"));
    ButtonSize = intBox(this, "ButtonSize");
    Color = new QLineEdit(this);
    Color->setObjectName(QStringLiteral("Color"));
    Increment = intBox(this, "Increment");
    Margin = intBox(this, "Margin");
    Position = intBox(this, "Position");
    Range = intBox(this, "Range");
    Size = intBox(this, "Size");
    Style = new QComboBox(this);
    Style->setObjectName(QStringLiteral("Style"));
    Style->addItems({QStringLiteral("ssRegular"), QStringLiteral("ssFlat"),
                     QStringLiteral("ssHotTrack")});
    ThumbSize = intBox(this, "ThumbSize");
    ParentColor = new QCheckBox(QStringLiteral("ParentColor"), this);
    Smooth = new QCheckBox(QStringLiteral("Smooth"), this);
    Tracking = new QCheckBox(QStringLiteral("Tracking"), this);
    Visible = new QCheckBox(QStringLiteral("Visible"), this);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("ButtonSize :"), ButtonSize);
    form->addRow(QStringLiteral("Color :"), Color);
    form->addRow(QStringLiteral("Increment :"), Increment);
    form->addRow(QStringLiteral("Margin :"), Margin);
    form->addRow(QStringLiteral("Position :"), Position);
    form->addRow(QStringLiteral("Range :"), Range);
    form->addRow(QStringLiteral("Size :"), Size);
    form->addRow(QStringLiteral("Style :"), Style);
    form->addRow(QStringLiteral("ThumbSize :"), ThumbSize);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    for (QCheckBox* c : {ParentColor, Smooth, Tracking, Visible})
        layout->addWidget(c);
    layout->addWidget(okCancel(this));
    connect(ParentColor, &QCheckBox::toggled, Color, &QWidget::setDisabled);
}

void TOPropertyScrollBarEditor::Preset(const QObject* owner, const QString& prefix) {
    auto text = [&](const char* name) {
        const QString p = prefix + QLatin1Char('.') + QLatin1String(name);
        return FindPublishedProperty(owner, p) ? PropertyValueText(owner, p) : QString();
    };
    auto flag = [&](const char* name) { return text(name) == QLatin1String("True"); };
    ButtonSize->setValue(text("ButtonSize").toInt());
    Color->setText(text("Color"));
    Increment->setValue(text("Increment").toInt());
    ParentColor->setChecked(flag("ParentColor"));
    Margin->setValue(text("Margin").toInt());
    Position->setValue(text("Position").toInt());
    Range->setValue(text("Range").toInt());
    Smooth->setChecked(flag("Smooth"));
    Size->setValue(text("Size").toInt());
    Style->setCurrentIndex(std::max(0, Style->findText(text("Style"))));
    ThumbSize->setValue(text("ThumbSize").toInt());
    Tracking->setChecked(flag("Tracking"));
    Visible->setChecked(flag("Visible"));
}

QList<QPair<QString, QString>> TOPropertyScrollBarEditor::Values() const {
    auto flag = [](const QCheckBox* c) {
        return c->isChecked() ? QStringLiteral("True") : QStringLiteral("False");
    };
    QList<QPair<QString, QString>> out = {
        {QStringLiteral("ButtonSize"), QString::number(ButtonSize->value())},
        {QStringLiteral("Increment"), QString::number(Increment->value())},
        {QStringLiteral("ParentColor"), flag(ParentColor)}};
    if (!ParentColor->isChecked())
        out.append({QStringLiteral("Color"), Color->text().trimmed()});
    out.append({{QStringLiteral("Margin"), QString::number(Margin->value())},
                {QStringLiteral("Position"), QString::number(Position->value())},
                {QStringLiteral("Range"), QString::number(Range->value())},
                {QStringLiteral("Smooth"), flag(Smooth)},
                {QStringLiteral("Size"), QString::number(Size->value())},
                {QStringLiteral("Style"), Style->currentText()},
                {QStringLiteral("ThumbSize"), QString::number(ThumbSize->value())},
                {QStringLiteral("Tracking"), flag(Tracking)},
                {QStringLiteral("Visible"), flag(Visible)}});
    return out;
}

void TOScrollBarEditor::Changed() {
    ++m_changed;
    if (m_dialog && m_dialog->property("owner").value<QObject*>())
        m_dialog->Preset(m_dialog->property("owner").value<QObject*>(),
                         m_dialog->property("path").toString());
}

bool TOScrollBarEditor::Edit(TPropertyDescription& row) {
    if (!nestedOf(row))
        return false;
    // Pending for the call only, also when it fails.
    struct Pending {
        TPropertyEditorRegistry* registry;
        Pending(TPropertyEditorRegistry* r, TPropertyEditor* e) : registry(r) {
            if (registry)
                registry->SetPendingEditor(e);
        }
        ~Pending() {
            if (registry)
                registry->SetPendingEditor(nullptr);
        }
    } pending(Registry(), this);
    TOPropertyScrollBarEditor dialog;
    m_dialog = &dialog;
    dialog.setProperty("owner", QVariant::fromValue(row.Object));
    dialog.setProperty("path", row.PropertyName);
    dialog.Preset(row.Object, row.PropertyName);
    if (EditorDialogs().Exec(dialog) != QDialog::Accepted)
        return false;
    PropertyWriter& writer = writerOf(*this);
    PropertyWriteGroup group(writer, row.PropertyName);
    for (const auto& [name, value] : dialog.Values())
        if (FindPublishedProperty(row.Object, path(row, name)))
            writeNested(writer, row, name, value);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Strings and caption

bool TOStringsEditor::Edit(TPropertyDescription& row) {
    if (!nestedOf(row))
        return false;
    TOPropertyStringsEditor dialog(nullptr);
    dialog.RichEdit1->setPlainText(PropertyValueText(row.Object, path(row, QStringLiteral("Text"))));
    if (EditorDialogs().Exec(dialog) != QDialog::Accepted)
        return false;
    QStringList lines = dialog.RichEdit1->toPlainText().split(QLatin1Char('\n'));
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    PropertyWriter& writer = writerOf(*this);
    PropertyWriteGroup group(writer, row.PropertyName);
    writeNested(writer, row, QStringLiteral("Text"), text);
    return true;
}

bool TOCaptionEditor::Edit(TPropertyDescription& row) {
    TOPropertyStringsEditor dialog(nullptr);
    dialog.RichEdit1->setPlainText(row.ValueText);
    if (EditorDialogs().Exec(dialog) != QDialog::Accepted)
        return false;
    row.ValueText = dialog.RichEdit1->toPlainText().trimmed();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Menu

TOPropertyMenuEditor::TOPropertyMenuEditor(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("OPropertyMenuEditor"));
    setWindowTitle(QStringLiteral("Menu"));
    Tree = new QTreeWidget(this);
    Tree->setHeaderHidden(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Tree);
}

void TOPropertyMenuEditor::Prepare(TPropertyEditorRegistry* registry, TPropertyEditor* editor,
                                   QObject* item) {
    m_registry = registry;
    m_editor = editor;
    m_item = item;
    Refresh();
}

namespace {
void addItems(QTreeWidgetItem* parent, QTreeWidget* tree, const QObject* item) {
    for (const QObject* child : item->children()) {
        QString text = child->objectName();
        if (const auto* action = qobject_cast<const QAction*>(child))
            text = action->text().isEmpty() ? text : action->text();
        auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
        node->setText(0, text);
        addItems(node, tree, child);
    }
}
} // namespace

void TOPropertyMenuEditor::Refresh() {
    Tree->clear();
    if (m_item)
        addItems(nullptr, Tree, m_item);
    Tree->expandAll();
}

TOMenuEditor::~TOMenuEditor() {
    delete m_dialog.data();
}

void TOMenuEditor::Changed() {
    if (m_dialog)
        m_dialog->Refresh();
}

bool TOMenuEditor::Edit(TPropertyDescription& row) {
    if (!m_dialog)
        m_dialog = new TOPropertyMenuEditor;
    m_dialog->Prepare(Registry(), this, nestedOf(row));
    m_dialog->show();
    return false; // the dialog writes nothing; it stays open
}

// ---------------------------------------------------------------------------------------------

void RegisterPropertyEditors(TPropertyEditorRegistry& registry) {
    registry.Register(std::make_unique<TOColorEditor>());
    registry.Register(std::make_unique<TOCursorEditor>());
    registry.Register(std::make_unique<TOFontEditor>());
    registry.Register(std::make_unique<TOIconEditor>());
    registry.Register(std::make_unique<TOConstraintsEditor>());
    registry.Register(std::make_unique<TOScrollBarEditor>());
    registry.Register(std::make_unique<TOStringsEditor>());
    registry.Register(std::make_unique<TOCaptionEditor>());
    registry.Register(std::make_unique<TOMenuEditor>());
    registry.Register(std::make_unique<TOBitmapEditor>());
    registry.Register(std::make_unique<TOPictureEditor>());
}
