#pragma once

#include "platform/PublishedProperties.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TDesigner;
class PropertyWriter;
class TPropertyEditorRegistry;

// A colour as typed into a colour row, as the property system reads it: clRed, Red (the name
// without "cl"), $0000FF (the stored blue-green-red form), #FF0000 or #F00 (red first) and
// decimal numbers all name a colour.
QString ColorTextToWrite(const QString& typed);

// The values of a nested object of a type that the inspector shows as sub-rows under its row
// (a font: Name, Size, Style, Color); empty for other types.
QStringList SubRowsOf(const QString& typeName);

// The toolkit's type kinds, by their numbers (property editors name the kind they serve).
enum class TTypeKind : quint8 {
    tkUnknown,
    tkInteger,
    tkChar,
    tkEnumeration,
    tkFloat,
    tkString,
    tkSet,
    tkClass,
    tkMethod,
    tkWChar,
    tkLString,
    tkWString,
    tkVariant,
    tkArray,
    tkRecord,
    tkInterface,
    tkInt64,
    tkDynArray,
};

// The type kind under which the toolkit lists a published property: Booleans are an
// enumeration, colours, cursors and character sets are integers, strings are long strings.
TTypeKind TypeKindOf(PropertyKind kind);

// One shown property of the inspected object.
struct TPropertyDescription {
    QString TypeName; // "Boolean", "TAlignment", "TColor", "TFont", ...
    QString PropertyName;
    TTypeKind TypeKind = TTypeKind::tkUnknown;
    // The value as the property system writes it (taCenter, True, clRed, [fsBold]); for a nested
    // object the object's identity in decimal, 0 for none.
    QString ValueText;
    QStringList ValueList; // enumeration or set names, or what the row's editor supplies
    bool HasEditor = false;
    bool HasDialog = false; // the editor has a dialog behind the ellipsis button
    bool Writable = true;   // false: shown, never edited (the surface's pictures and record)
    int CreationIndex = 0;  // position in declaration order
    // A sub-row of a nested object's row ("Font.Size" under "Font"): its place among them from 1;
    // 0 for a row of the object itself.
    int SubIndex = 0;
    QObject* Object = nullptr;
    // For a property that refers to another component of the surface: the class the component
    // must be an instance of (nothing for a nested object such as a font, or any other kind).
    const QMetaObject* ReferenceClass = nullptr;

    // From the published-property module: the finer kind and the declared default.
    PropertyKind Kind = PropertyKind::Integer;
    bool HasDefault = false;
    QString DefaultText;
};

// The properties the inspector does not show: class name (exactly, no inheritance) and property
// name (without regard to case).
class THiddenProperties {
public:
    // False when the pair is already listed.
    bool Hide(const QString& className, const QString& propertyName);
    bool IsHidden(const QString& className, const QString& propertyName) const;
    int Count() const { return int(m_entries.size()); }

private:
    struct Entry {
        QString className;
        QString propertyName;
    };
    QList<Entry> m_entries;
};

// What the design surface hides: its own window furniture, and per brick class what a caption
// brick has no use for. Nothing for a bubble's tail marker.
THiddenProperties StandardHiddenProperties();

// A property editor: the display text, value list, stored form and edit dialog of one property
// type (optionally narrowed to one property name).
class TPropertyEditor {
public:
    virtual ~TPropertyEditor() = default;
    virtual QString GetTypeName() const = 0;
    virtual QString GetPropertyName() const { return QString(); }
    virtual TTypeKind GetTypeKind() const = 0;
    // Told after the inspector wrote a value while this editor is pending.
    virtual void Changed() {}
    virtual void GetValues(TPropertyDescription& row) = 0;
    virtual QString GetValueText(const TPropertyDescription& row) = 0;
    // Turns the row's value text into its stored form and returns it (the new value text).
    virtual QString SetValue(TPropertyDescription& row) = 0;
    // Runs the edit dialog; the result goes into the row's value text, or, for a nested object,
    // through Writer() into the object's own properties. False when cancelled.
    virtual bool Edit(TPropertyDescription& row) = 0;
    // Whether there is a dialog behind an ellipsis button (an editor may only offer a list).
    virtual bool HasDialog() const { return true; }
    // The text a typed or chosen text writes: an editor whose list shows names for stored
    // numbers turns the name back into its number. Throws EConvertError for a text that is
    // neither.
    virtual QString StoredText(const TPropertyDescription& /*row*/, const QString& text) {
        return text;
    }

    // The registry that holds the editor (set by registration).
    TPropertyEditorRegistry* Registry() const { return m_registry; }
    // Where Edit writes what it changes itself; set by the inspector for the call.
    PropertyWriter* Writer() const { return m_writer; }
    void SetWriter(PropertyWriter* writer) { m_writer = writer; }

private:
    friend class TPropertyEditorRegistry;
    TPropertyEditorRegistry* m_registry = nullptr;
    PropertyWriter* m_writer = nullptr;
};

// The surface's property-editor registry, in registration order.
class TPropertyEditorRegistry {
public:
    // False (nothing registered) when an editor of the same kind, type name and property name is
    // listed already.
    bool Register(std::unique_ptr<TPropertyEditor> editor);
    // Among the editors of the row's kind and type name (with case), the last one naming the
    // row's property, else the last one of them all; nothing when there is none.
    TPropertyEditor* Find(const TPropertyDescription& row) const;
    // As Find, but fails with "Editor for property "<name>" as class "<type>" not found.".
    TPropertyEditor& Get(const TPropertyDescription& row) const;

    // An editor whose dialog stays open while the inspector writes (it is told through Changed).
    void SetPendingEditor(TPropertyEditor* editor) { m_pending = editor; }
    TPropertyEditor* PendingEditor() const { return m_pending; }
    void NotifyPendingEditor() const {
        if (m_pending)
            m_pending->Changed();
    }

private:
    std::vector<std::unique_ptr<TPropertyEditor>> m_editors;
    TPropertyEditor* m_pending = nullptr;
};

// Writes one property: the inspector hands every write to it, so that the design surface can
// make each write one undo step. oldText is the value text before the write, newText the text to
// write (as WritePropertyText reads it; for a class-typed property the component's name, empty
// for none). Conversion errors propagate and leave the property as it was.
class PropertyWriter {
public:
    virtual ~PropertyWriter() = default;
    virtual void WriteProperty(QObject* object, const QString& propertyName, const QString& oldText,
                               const QString& newText) = 0;
    // The writes between BeginGroup and EndGroup are one change (one undo step): a dialog that
    // sets several values of a nested object on Ok. Groups do not nest.
    virtual void BeginGroup(const QString& /*label*/) {}
    virtual void EndGroup() {}
};

// Brackets a group of writes; ends it also when a write fails.
class PropertyWriteGroup {
public:
    PropertyWriteGroup(PropertyWriter& writer, const QString& label) : m_writer(writer) {
        m_writer.BeginGroup(label);
    }
    ~PropertyWriteGroup() { m_writer.EndGroup(); }
    PropertyWriteGroup(const PropertyWriteGroup&) = delete;
    PropertyWriteGroup& operator=(const PropertyWriteGroup&) = delete;

private:
    PropertyWriter& m_writer;
};

// Writes a value text as the pattern reader does (WritePropertyText); a class-typed property
// takes the component of that name from the list (none for an empty text).
void WritePropertyOrReference(QObject* object, const QString& propertyName, const QString& text,
                              const QList<QObject*>& components);

// The inspector's model: the rows of one object, their display texts and the writes, without
// widgets.
class TInspectorModel {
public:
    TInspectorModel();
    ~TInspectorModel();
    TInspectorModel(const TInspectorModel&) = delete;
    TInspectorModel& operator=(const TInspectorModel&) = delete;

    // The surface whose components fill the object list and take class-typed values. The
    // components are asked for anew each time (a brick's Tag of 50 or more leaves it out).
    void SetSurface(QObject* surface, std::function<QList<QObject*>()> components);
    void SetDesigner(TDesigner* designer);
    QObject* Surface() const { return m_surface; }

    void SetHiddenProperties(THiddenProperties hidden) { m_hidden = std::move(hidden); }
    const THiddenProperties& HiddenProperties() const { return m_hidden; }
    void SetEditors(const TPropertyEditorRegistry* editors) { m_editors = editors; }
    const TPropertyEditorRegistry* Editors() const { return m_editors; }
    // Nothing restores the direct writer.
    void SetWriter(PropertyWriter* writer) { m_writer = writer; }
    // Called after every write (mark modified, refresh the surface and its stretch handle).
    void SetAfterWrite(std::function<void(QObject*)> afterWrite) {
        m_afterWrite = std::move(afterWrite);
    }

    // Shows an object's properties; nothing clears. The object already shown is not read again
    // (Reload does that).
    void Inspect(QObject* object);
    void Reload();
    QObject* Object() const { return m_object; }

    const QList<TPropertyDescription>& Rows() const { return m_rows; }
    int RowCount() const { return int(m_rows.size()); }
    int FindRow(const QString& propertyName) const; // -1 when not shown
    // The grid is shown only from two rows up.
    bool GridVisible() const { return m_rows.size() >= 2; }

    void SetSorted(bool byName);
    bool Sorted() const { return m_sorted; }

    QString DisplayText(int row) const;
    // The value list as the drop-down shows it (On/Off, alignments without "ta"; for a row that
    // refers to a component, NoneText and then ReferenceChoices).
    QStringList DisplayList(int row) const;
    // The drop-down item of the row's current value, -1 when the list holds none.
    int DisplayListIndex(int row) const;
    // The names a row that refers to a component can take: the surface's components (Tag below
    // 50) that are instances of the property's class, in the surface's order, leaving out one
    // named as the property itself. Empty for any other row.
    QStringList ReferenceChoices(int row) const;
    // Whether the row's drop-down offers them: a writable reference whose editor, if it has
    // one, does not leave its value list empty.
    bool OffersReferences(int row) const;
    // The drop-down item that clears a reference (no component has a name like it).
    static QString NoneText() { return QStringLiteral("(None)"); }
    // The value equals the declared default.
    bool IsDefault(int row) const;
    TPropertyEditor* EditorOf(int row) const;

    // The object list: the surface, then each component with a Tag below 50, as "Name: Class"
    // (class name without its leading T).
    QStringList ParentObjects() const;
    int ParentObjectIndex() const; // the item of the inspected object, -1 when none
    QObject* ParentObjectAt(int index) const;

    // Writes a text typed or chosen for a row, by the inspector's rules (On/Off, alignment names
    // without "ta", colour names without "cl", grid steps of at least 1), and refreshes its value
    // text. Conversion errors propagate with the property unchanged.
    void WriteValue(int row, const QString& text);
    // The double-click: the value after the current one in the row's list, wrapping around,
    // written; returns the display text. Nothing happens for a row without a list.
    QString CycleValue(int row);
    // The ellipsis button: runs the row's editor and writes its value text. False when the row
    // has no editor or the dialog was cancelled.
    bool RunEditor(int row);

    // The components for class-typed values.
    QList<QObject*> Components() const;

private:
    void clear();
    void build();
    void sortRows();
    QString rowValueText(const TPropertyDescription& row) const;
    void write(TPropertyDescription& row, const QString& newText);

    QPointer<QObject> m_surface;
    std::function<QList<QObject*>()> m_components;
    QPointer<QObject> m_object;
    QList<TPropertyDescription> m_rows;
    THiddenProperties m_hidden;
    const TPropertyEditorRegistry* m_editors = nullptr;
    PropertyWriter* m_writer = nullptr;
    std::function<void(QObject*)> m_afterWrite;
    bool m_sorted = true;
};
