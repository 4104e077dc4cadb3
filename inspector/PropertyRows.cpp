#include "inspector/PropertyRows.h"

#include "designer/state/HiddenProperties.h"
#include "designer/state/TDesigner.h"
#include "platform/Errors.h"
#include "platform/StreamValue.h"

#include <QMetaProperty>
#include <QRegularExpression>
#include <QWidget>
#include <algorithm>

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
    const auto published = FindPublishedProperty(object, propertyName);
    if (!published || published->kind != PropertyKind::Class) {
        WritePropertyText(object, propertyName, text);
        return;
    }
    QObject* value = nullptr;
    if (!text.isEmpty() && !(value = componentNamed(components, text)))
        return;
    const QMetaObject* mo = object->metaObject();
    const QMetaProperty prop =
        mo->property(mo->indexOfProperty(published->name.toLatin1().constData()));
    if (!prop.isWritable() || !prop.write(object, QVariant::fromValue(value)))
        throw EReadError(QStringLiteral("Error reading %1.%2: Invalid property value")
                             .arg(object->objectName(), published->name));
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
    if (row.Kind == PropertyKind::Class)
        return identityText(nestedValue(row.Object, row.PropertyName));
    return PropertyValueText(row.Object, row.PropertyName);
}

void TInspectorModel::build() {
    QObject* object = m_object;
    const QString className = QString::fromLatin1(object->metaObject()->className());
    int index = 0;
    for (const PublishedProperty& p : PublishedProperties(object)) {
        if (p.name.contains(QLatin1Char('.')))
            continue; // a nested object's own properties are its editor's business
        if (m_hidden.IsHidden(className, p.name))
            continue;
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
        row.ValueText = rowValueText(row);
        TPropertyEditor* editor = m_editors ? m_editors->Find(row) : nullptr;
        row.HasEditor = editor != nullptr;
        if (row.TypeKind == TTypeKind::tkEnumeration || row.TypeKind == TTypeKind::tkSet)
            row.ValueList = ValueList(object, p.name);
        else if (editor)
            editor->GetValues(row);
        m_rows.append(row);
    }
    sortRows();
}

void TInspectorModel::sortRows() {
    if (m_sorted)
        std::stable_sort(m_rows.begin(), m_rows.end(), [](const auto& a, const auto& b) {
            return a.PropertyName.compare(b.PropertyName, Qt::CaseInsensitive) < 0;
        });
    else
        std::stable_sort(m_rows.begin(), m_rows.end(), [](const auto& a, const auto& b) {
            return a.CreationIndex < b.CreationIndex;
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

QStringList TInspectorModel::DisplayList(int index) const {
    const TPropertyDescription& row = m_rows[index];
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
                                : PropertyValueText(row.Object, row.PropertyName);
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
        static const QRegularExpression decimal(QStringLiteral("^-?[0-9]+$"));
        if (row.TypeName == QLatin1String("TColor") && !decimal.match(value).hasMatch())
            value = QStringLiteral("cl") + value;
        if (row.PropertyName.compare(QLatin1String("GridX"), Qt::CaseInsensitive) == 0 ||
            row.PropertyName.compare(QLatin1String("GridY"), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const qint64 n = value.trimmed().toLongLong(&ok);
            if (ok && n <= 0)
                value = QStringLiteral("1");
        }
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
