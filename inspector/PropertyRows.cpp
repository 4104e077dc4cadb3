#include "inspector/PropertyRows.h"

#include "designer/state/HiddenProperties.h"
#include "designer/state/TDesigner.h"
#include "designer/surface/DesignerBricks.h"
#include "platform/Conversions.h"
#include "platform/Errors.h"
#include "platform/StreamValue.h"

#include <QFontDatabase>
#include <QHash>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QWidget>
#include <algorithm>

QString ColorTextToWrite(const QString& typed) {
    const QString t = typed.trimmed();
    static const QRegularExpression decimal(QStringLiteral("^-?[0-9]+$"));
    static const QRegularExpression web(QStringLiteral("^#([0-9A-Fa-f]{3}|[0-9A-Fa-f]{6})$"));
    if (decimal.match(t).hasMatch() || t.startsWith(QLatin1Char('$')))
        return t;
    if (web.match(t).hasMatch()) {
        // #RRGGBB (or #RGB) is red first; a stored colour is $00BBGGRR.
        QString hex = t.mid(1);
        if (hex.size() == 3)
            hex = QString(2, hex[0]) + QString(2, hex[1]) + QString(2, hex[2]);
        const uint rgb = hex.toUInt(nullptr, 16);
        const uint r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
        return QString::number(b << 16 | g << 8 | r);
    }
    if (IdentToColor(t))
        return t;
    return QStringLiteral("cl") + t;
}

QStringList SubRowsOf(const QString& typeName) {
    if (typeName == QLatin1String("TFont"))
        return {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Style"),
                QStringLiteral("Color")};
    return {};
}

TTypeKind TypeKindOf(PropertyKind kind) {
    switch (kind) {
    case PropertyKind::Boolean:
    case PropertyKind::Enumeration:
        return TTypeKind::tkEnumeration;
    case PropertyKind::Integer:
    case PropertyKind::Color:
    case PropertyKind::Cursor:
    case PropertyKind::Charset:
        return TTypeKind::tkInteger;
    case PropertyKind::Int64:
        return TTypeKind::tkInt64;
    case PropertyKind::Float:
        return TTypeKind::tkFloat;
    case PropertyKind::String:
        return TTypeKind::tkLString;
    case PropertyKind::Binary:
        return TTypeKind::tkDynArray;
    case PropertyKind::Set:
        return TTypeKind::tkSet;
    case PropertyKind::Class:
        return TTypeKind::tkClass;
    }
    return TTypeKind::tkUnknown;
}

// ---------------------------------------------------------------------------------------------
// Hidden properties

bool THiddenProperties::Hide(const QString& className, const QString& propertyName) {
    if (IsHidden(className, propertyName))
        return false;
    m_entries.append({className, propertyName});
    return true;
}

bool THiddenProperties::IsHidden(const QString& className, const QString& propertyName) const {
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return e.className == className &&
               e.propertyName.compare(propertyName, Qt::CaseInsensitive) == 0;
    });
}

THiddenProperties StandardHiddenProperties() {
    THiddenProperties hidden;
    for (const HiddenClassProperties& entry : HiddenPropertyTable())
        for (const QString& name : entry.names)
            hidden.Hide(entry.className, name);
    return hidden;
}

// ---------------------------------------------------------------------------------------------
// Property editors

namespace {

bool sameKey(const TPropertyEditor& a, const TPropertyEditor& b) {
    return a.GetTypeKind() == b.GetTypeKind() && a.GetTypeName() == b.GetTypeName() &&
           a.GetPropertyName() == b.GetPropertyName();
}

} // namespace

bool TPropertyEditorRegistry::Register(std::unique_ptr<TPropertyEditor> editor) {
    for (const auto& e : m_editors)
        if (sameKey(*e, *editor))
            return false;
    editor->m_registry = this;
    m_editors.push_back(std::move(editor));
    return true;
}

TPropertyEditor* TPropertyEditorRegistry::Find(const TPropertyDescription& row) const {
    TPropertyEditor* ofType = nullptr;
    TPropertyEditor* ofProperty = nullptr;
    for (const auto& e : m_editors) {
        if (e->GetTypeKind() != row.TypeKind || e->GetTypeName() != row.TypeName)
            continue;
        ofType = e.get();
        if (e->GetPropertyName() == row.PropertyName)
            ofProperty = e.get();
    }
    return ofProperty ? ofProperty : ofType;
}

TPropertyEditor& TPropertyEditorRegistry::Get(const TPropertyDescription& row) const {
    if (TPropertyEditor* e = Find(row))
        return *e;
    throw Exception(QStringLiteral("Editor for property \"%1\" as class \"%2\" not found.")
                        .arg(row.PropertyName, row.TypeName));
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace {

QObject* componentNamed(const QList<QObject*>& components, const QString& name) {
    for (QObject* c : components)
        if (c->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return c;
    return nullptr;
}

QString identityText(const QObject* object) {
    return QString::number(quintptr(object));
}

QObject* nestedValue(const QObject* object, const QString& name) {
    const QMetaObject* mo = object->metaObject();
    const int index = mo->indexOfProperty(name.toLatin1().constData());
    if (index < 0)
        return nullptr;
    return qvariant_cast<QObject*>(mo->property(index).read(object));
}

class DirectWriter : public PropertyWriter {
public:
    explicit DirectWriter(const TInspectorModel& model) : m_model(model) {}
    void WriteProperty(QObject* object, const QString& propertyName, const QString&,
                       const QString& newText) override {
        WritePropertyOrReference(object, propertyName, newText, m_model.Components());
    }

private:
    const TInspectorModel& m_model;
};

} // namespace

void WritePropertyOrReference(QObject* object, const QString& propertyName, const QString& text,
                              const QList<QObject*>& components) {
    // A brick's place and size on a surface are edited in full-size photo pixels.
    if (FullSizeValue(object, propertyName)) {
        SetFullSizeValue(object, propertyName, FullSizeFromText(object, propertyName, text));
        return;
    }
    const auto published = FindPublishedProperty(object, propertyName);
    if (!published || published->kind != PropertyKind::Class) {
        WritePropertyText(object, propertyName, text);
        return;
    }
    QObject* value = nullptr;
    if (!text.isEmpty() && !(value = componentNamed(components, text)))
        return;
    WritePropertyReference(object, published->name, value);
}

// ---------------------------------------------------------------------------------------------
// The model

TInspectorModel::TInspectorModel() = default;
TInspectorModel::~TInspectorModel() = default;

void TInspectorModel::SetSurface(QObject* surface, std::function<QList<QObject*>()> components) {
    m_surface = surface;
    m_components = std::move(components);
}

void TInspectorModel::SetDesigner(TDesigner* designer) {
    SetSurface(designer, [designer]() {
        QList<QObject*> out;
        if (designer)
            for (QWidget* w : designer->Components())
                out.append(w);
        return out;
    });
}

QList<QObject*> TInspectorModel::Components() const {
    QList<QObject*> out;
    if (!m_components)
        return out;
    for (QObject* c : m_components())
        if (c && IsBrickTag(ComponentTag(c)))
            out.append(c);
    return out;
}

void TInspectorModel::clear() {
    m_rows.clear();
}

void TInspectorModel::Inspect(QObject* object) {
    if (object == m_object)
        return;
    clear();
    m_object = object;
    if (object)
        build();
}

void TInspectorModel::Reload() {
    clear();
    if (m_object)
        build();
}

QString TInspectorModel::rowValueText(const TPropertyDescription& row) const {
    if (const std::optional<int> full = FullSizeValue(row.Object, row.PropertyName))
        return QString::number(*full);
    if (row.Kind == PropertyKind::Class)
        return identityText(nestedValue(row.Object, row.PropertyName));
    return PropertyValueText(row.Object, row.PropertyName);
}

void TInspectorModel::build() {
    QObject* object = m_object;
    const QString className = QString::fromLatin1(object->metaObject()->className());
    int index = 0;
    const QList<PublishedProperty> published = PublishedProperties(object);
    // The nested objects shown with sub-rows, and which of their values those are.
    QHash<QString, QStringList> subRows;
    for (const PublishedProperty& p : published)
        if (p.kind == PropertyKind::Class && !p.name.contains(QLatin1Char('.')) &&
            !m_hidden.IsHidden(className, p.name))
            if (const QStringList sub = SubRowsOf(p.typeName); !sub.isEmpty())
                subRows.insert(p.name.toLower(), sub);
    for (const PublishedProperty& p : published) {
        if (const qsizetype dot = p.name.indexOf(QLatin1Char('.')); dot >= 0) {
            // A nested object's own values are its editor's business, but for the few a
            // sub-row shows (a font's name, size, style and colour).
            const QString owner = p.name.left(dot).toLower();
            const QString leaf = p.name.mid(dot + 1);
            if (leaf.contains(QLatin1Char('.')) ||
                !subRows.value(owner).contains(leaf, Qt::CaseInsensitive))
                continue;
        } else if (m_hidden.IsHidden(className, p.name)) {
            continue;
        }
        TPropertyDescription row;
        row.PropertyName = p.name;
        row.TypeName = p.typeName;
        row.Kind = p.kind;
        row.TypeKind = TypeKindOf(p.kind);
        row.HasDefault = p.hasDefault;
        row.Writable = p.writable;
        row.DefaultText = p.defaultText;
        row.Object = object;
        row.CreationIndex = index++;
        if (row.Kind == PropertyKind::Class && !p.name.contains(QLatin1Char('.')))
            row.ReferenceClass = ReferencedClass(object, p.name);
        if (const qsizetype dot = p.name.indexOf(QLatin1Char('.')); dot >= 0) {
            // Sub-rows right after their object's row, in the order they are listed.
            const QStringList order = subRows.value(p.name.left(dot).toLower());
            row.SubIndex = 1 + int(order.indexOf(p.name.mid(dot + 1)));
        }
        row.ValueText = rowValueText(row);
        TPropertyEditor* editor = m_editors ? m_editors->Find(row) : nullptr;
        row.HasEditor = editor != nullptr;
        row.HasDialog = editor && editor->HasDialog();
        if (row.TypeKind == TTypeKind::tkEnumeration || row.TypeKind == TTypeKind::tkSet)
            row.ValueList = ValueList(object, p.name);
        else if (editor)
            editor->GetValues(row);
        else if (row.SubIndex > 0 && row.Kind == PropertyKind::String &&
                 p.name.endsWith(QLatin1String(".Name"), Qt::CaseInsensitive))
            row.ValueList = QFontDatabase::families(); // a font's name: the installed ones
        m_rows.append(row);
    }
    sortRows();
}

void TInspectorModel::sortRows() {
    // A sub-row goes with its object's row, whatever the order: it sorts as its owner, after it.
    const auto owner = [](const TPropertyDescription& r) {
        return r.SubIndex > 0 ? r.PropertyName.left(r.PropertyName.indexOf(QLatin1Char('.')))
                              : r.PropertyName;
    };
    QHash<QString, int> ownerIndex;
    for (const TPropertyDescription& r : m_rows)
        if (r.SubIndex == 0)
            ownerIndex.insert(r.PropertyName.toLower(), r.CreationIndex);
    if (m_sorted)
        std::stable_sort(m_rows.begin(), m_rows.end(), [&](const auto& a, const auto& b) {
            const int c = owner(a).compare(owner(b), Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a.SubIndex < b.SubIndex;
        });
    else
        std::stable_sort(m_rows.begin(), m_rows.end(), [&](const auto& a, const auto& b) {
            const int ia = ownerIndex.value(owner(a).toLower(), a.CreationIndex);
            const int ib = ownerIndex.value(owner(b).toLower(), b.CreationIndex);
            return ia != ib ? ia < ib : a.SubIndex < b.SubIndex;
        });
}

void TInspectorModel::SetSorted(bool byName) {
    m_sorted = byName;
    sortRows();
}

int TInspectorModel::FindRow(const QString& propertyName) const {
    for (int i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].PropertyName.compare(propertyName, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

TPropertyEditor* TInspectorModel::EditorOf(int row) const {
    return m_editors && m_rows[row].HasEditor ? m_editors->Find(m_rows[row]) : nullptr;
}

namespace {

QString enumDisplay(const TPropertyDescription& row, const QString& name) {
    if (row.TypeName == QLatin1String("Boolean"))
        return name == QLatin1String("True") ? QStringLiteral("On") : QStringLiteral("Off");
    if (row.TypeName == QLatin1String("TAlignment"))
        return name.mid(2);
    return name;
}

} // namespace

QString TInspectorModel::DisplayText(int index) const {
    const TPropertyDescription& row = m_rows[index];
    TPropertyEditor* editor = EditorOf(index);
    switch (row.TypeKind) {
    case TTypeKind::tkEnumeration:
        return enumDisplay(row, row.ValueText);
    case TTypeKind::tkSet:
        return row.ValueText;
    case TTypeKind::tkClass: {
        const QObject* value = nestedValue(row.Object, row.PropertyName);
        if (!value)
            return QStringLiteral("(None)");
        if (value->isWidgetType()) {
            if (value->objectName().isEmpty() && editor)
                return QLatin1Char('(') + editor->GetValueText(row) + QLatin1Char(')');
            return QLatin1Char('(') + value->objectName() + QLatin1Char(')');
        }
        return QLatin1Char('(') + row.TypeName.mid(1) + QLatin1Char(')');
    }
    default:
        return editor ? editor->GetValueText(row) : row.ValueText;
    }
}

QStringList TInspectorModel::ReferenceChoices(int index) const {
    const TPropertyDescription& row = m_rows[index];
    QStringList out;
    if (!row.ReferenceClass)
        return out;
    for (const QObject* c : Components())
        if (c->metaObject()->inherits(row.ReferenceClass) &&
            c->objectName().compare(row.PropertyName, Qt::CaseInsensitive) != 0)
            out.append(c->objectName());
    return out;
}

bool TInspectorModel::OffersReferences(int index) const {
    const TPropertyDescription& row = m_rows[index];
    return row.ReferenceClass && row.Writable && !(row.HasEditor && row.ValueList.isEmpty());
}

int TInspectorModel::DisplayListIndex(int index) const {
    const TPropertyDescription& row = m_rows[index];
    const QStringList list = DisplayList(index);
    if (row.ReferenceClass) {
        const QObject* value = nestedValue(row.Object, row.PropertyName);
        return int(list.indexOf(value ? value->objectName() : NoneText()));
    }
    return int(list.indexOf(DisplayText(index)));
}

QStringList TInspectorModel::DisplayList(int index) const {
    const TPropertyDescription& row = m_rows[index];
    if (row.ReferenceClass)
        return OffersReferences(index) ? QStringList(NoneText()) + ReferenceChoices(index)
                                       : QStringList();
    if (row.TypeKind != TTypeKind::tkEnumeration)
        return row.ValueList;
    QStringList out;
    for (const QString& name : row.ValueList)
        out.append(enumDisplay(row, name));
    return out;
}

bool TInspectorModel::IsDefault(int index) const {
    const TPropertyDescription& row = m_rows[index];
    return row.HasDefault && row.ValueText.compare(row.DefaultText, Qt::CaseInsensitive) == 0;
}

QStringList TInspectorModel::ParentObjects() const {
    QStringList out;
    auto item = [](const QObject* o) {
        return o->objectName() + QStringLiteral(": ") +
               QString::fromLatin1(o->metaObject()->className()).mid(1);
    };
    if (m_surface)
        out.append(item(m_surface));
    for (const QObject* c : Components())
        out.append(item(c));
    return out;
}

int TInspectorModel::ParentObjectIndex() const {
    if (!m_object)
        return -1;
    if (m_object == m_surface)
        return 0;
    const QList<QObject*> components = Components();
    const int i = int(components.indexOf(m_object.data()));
    return i < 0 ? -1 : i + (m_surface ? 1 : 0);
}

QObject* TInspectorModel::ParentObjectAt(int index) const {
    if (m_surface) {
        if (index == 0)
            return m_surface;
        --index;
    }
    const QList<QObject*> components = Components();
    return index >= 0 && index < components.size() ? components[index] : nullptr;
}

void TInspectorModel::write(TPropertyDescription& row, const QString& newText) {
    const QString oldText = row.Kind == PropertyKind::Class
                                ? [&] {
                                      const QObject* v = nestedValue(row.Object, row.PropertyName);
                                      return v ? v->objectName() : QString();
                                  }()
                                : rowValueText(row);
    DirectWriter direct(*this);
    PropertyWriter& writer = m_writer ? *m_writer : static_cast<PropertyWriter&>(direct);
    writer.WriteProperty(row.Object, row.PropertyName, oldText, newText);
}

void TInspectorModel::WriteValue(int index, const QString& text) {
    // Whether this changes the pattern is the writer's to know: an unchanged value, or one the
    // property refuses, is no edit.
    TPropertyDescription& row = m_rows[index];
    if (!row.Writable)
        return; // shown for what it is, not for editing

    switch (row.TypeKind) {
    case TTypeKind::tkEnumeration: {
        QString name = text;
        if (row.TypeName == QLatin1String("Boolean"))
            name = text == QLatin1String("On") ? QStringLiteral("True") : QStringLiteral("False");
        else if (row.TypeName == QLatin1String("TAlignment"))
            name = QStringLiteral("ta") + text;
        write(row, name);
        row.ValueText = rowValueText(row);
        break;
    }
    case TTypeKind::tkSet: {
        QString list = text;
        list.replace(QLatin1Char('['), QLatin1Char(' '))
            .replace(QLatin1Char(']'), QLatin1Char(' '));
        write(row, QLatin1Char('[') + list.trimmed() + QLatin1Char(']'));
        row.ValueText = rowValueText(row);
        break;
    }
    case TTypeKind::tkClass: {
        QString name = text;
        name.replace(QLatin1Char('['), QLatin1Char(' '))
            .replace(QLatin1Char(']'), QLatin1Char(' '));
        name = name.trimmed();
        if (name == NoneText())
            name.clear();
        if (!name.isEmpty()) {
            const QObject* target = componentNamed(Components(), name);
            if (!target)
                return; // naming no component writes nothing
            name = target->objectName();
        }
        write(row, name);
        row.ValueText = rowValueText(row);
        break;
    }
    default: {
        QString value = text;
        if (row.TypeName == QLatin1String("TColor"))
            value = ColorTextToWrite(value);
        if (row.PropertyName.compare(QLatin1String("GridX"), Qt::CaseInsensitive) == 0 ||
            row.PropertyName.compare(QLatin1String("GridY"), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const qint64 n = value.trimmed().toLongLong(&ok);
            if (ok && n <= 0)
                value = QStringLiteral("1");
        }
        if (TPropertyEditor* editor = EditorOf(index))
            value = editor->StoredText(row, value);
        write(row, value);
        if (TPropertyEditor* editor = EditorOf(index)) {
            row.ValueText = value;
            row.ValueText = editor->SetValue(row);
        } else {
            // Read back: the setter may have clamped or normalised what was typed.
            row.ValueText = rowValueText(row);
        }
        break;
    }
    }
    if (m_afterWrite)
        m_afterWrite(row.Object);
}

QString TInspectorModel::CycleValue(int index) {
    const TPropertyDescription& row = m_rows[index];
    if (row.TypeKind != TTypeKind::tkEnumeration || row.ValueList.isEmpty())
        return DisplayText(index);
    qsizetype at = -1;
    for (qsizetype i = 0; i < row.ValueList.size(); ++i)
        if (row.ValueList[i].compare(row.ValueText, Qt::CaseInsensitive) == 0)
            at = i;
    const QString next = row.ValueList[(at + 1) % row.ValueList.size()];
    const QString shown = enumDisplay(row, next);
    WriteValue(index, shown);
    return DisplayText(index);
}

bool TInspectorModel::RunEditor(int index) {
    TPropertyEditor* editor = EditorOf(index);
    if (!editor)
        return false;
    DirectWriter direct(*this);
    editor->SetWriter(m_writer ? m_writer : static_cast<PropertyWriter*>(&direct));
    bool ok = false;
    try {
        ok = editor->Edit(m_rows[index]);
    } catch (...) {
        editor->SetWriter(nullptr);
        throw;
    }
    editor->SetWriter(nullptr);
    if (!ok)
        return false;
    const bool nested = m_rows[index].TypeKind == TTypeKind::tkClass;
    WriteValue(index, m_rows[index].ValueText);
    // A nested object's dialog changes the object itself; the write above finds no component.
    if (nested && m_afterWrite)
        m_afterWrite(m_rows[index].Object);
    return true;
}
