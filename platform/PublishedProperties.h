#pragma once

#include "platform/StreamValue.h"
#include "platform/Toolkit.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

class QObject;

// The published properties of a component, shared by the component stream, the clipboard and
// the object inspector, so that all of them read and write a value by the same rules.
//
// Published properties are the meta-object properties of a control from TControl's own onward
// (of a nested object such as Font, all of its properties; of a class with the class info
// "publishedOwnProperties", only those its own class declares), in declaration order, ancestors
// first. A nested object is listed as a class-typed property followed by its own properties as
// dotted paths (Font, Font.Charset, ..., Font.Style); a property of a widget class refers to
// another component and is listed alone. A property's declared default is the class
// info "default:<Name>" written as a value text; a type name that C++ cannot tell apart from int
// is the class info "type:<Name>" (TColor, TCursor, TFontCharset).
//
// Property names compare without regard to case, segment by segment. Naming a property that does
// not exist raises EReadError "Error reading <Component>.<Name>: Property <Name> does not exist",
// as the stream reader does.

enum class PropertyKind {
    Boolean,
    Integer,
    Int64,
    Float,
    String,
    Binary,
    Enumeration,
    Set,
    Color,
    Cursor,
    Charset,
    Class, // a nested object; its values are its own published properties
};

struct PublishedProperty {
    QString name;     // dotted path from the component: "Left", "Font.Color"
    QString typeName; // "Boolean", "Integer", "string", "TColor", "TAlignment", "TFont", ...
    PropertyKind kind = PropertyKind::Integer;
    bool hasDefault = false;
    QString defaultText;  // the declared default as a value text
    bool storable = true; // false when it or an object it lies in is declared STORED false
    bool writable = false;
};

// Every published property in declaration order, nested objects down to four levels.
QList<PublishedProperty> PublishedProperties(const QObject* component);
std::optional<PublishedProperty> FindPublishedProperty(const QObject* component,
                                                       const QString& name);

// The value as a text: strings as they are, binary values as the text form writes them,
// everything else as the one token the text form writes (True, 12, 1.5, taCenter, clRed,
// 16744512, crHandPoint, RUSSIAN_CHARSET, [fsBold, fsItalic]). Empty for a nested object.
QString PropertyValueText(const QObject* component, const QString& name);

// The names the property can take, for a drop-down: the enumeration's names in order, a set's
// element names, False and True, or the colour, cursor or character-set identifiers. Empty for
// any other kind.
QStringList ValueList(const QObject* component, const QString& name);

// Whether a stream stores the property: not when it is declared STORED false, nor for a nested
// object (its own properties are stored), nor when the value text equals the declared default
// (without regard to case; sets in any order). Without a declared default, strings and binary
// values are stored when not empty and every other value always.
bool IsStored(const QObject* component, const QString& name);

// Sets the property from a value text by the stream reader's rules: a string property takes the
// text as it is; any other text is read as one value of the text form (clRed, $00FF8040, -5,
// [fsBold, fsItalic], taCenter, True) and then applied as ApplyPropertyValue does. A malformed
// text raises the text reader's EParserError.
void WritePropertyText(QObject* component, const QString& name, const QString& text);

// A class-typed property that refers to a component (an object of a widget class, which a surface
// owns and names) rather than holding a nested object of its own (a font): the class its value
// must be an instance of. Nothing for any other property.
const QMetaObject* ReferencedClass(const QObject* component, const QString& name);
// The object a class-typed property holds; nothing for none.
QObject* PropertyReference(const QObject* component, const QString& name);
// Sets a component reference to an object, or to none. Fails with EReadError "Error reading
// <Component>.<Name>: Invalid property value" when the property is no writable reference or the
// object is not an instance of its class; the property keeps its value then.
void WritePropertyReference(QObject* component, const QString& name, QObject* value);

// The value as a component stream carries it.
StreamValue PropertyStreamValue(const QObject* component, const QString& name);

// Sets the property from a stream value. Fails with EReadError "Error reading
// <Component>.<Name>: <reason>": "Property <Name> does not exist", "Invalid property value"
// for a value of the wrong kind, an unknown identifier or an integer outside the property's
// range, or the message of an error the property's setter raises. The property keeps its value
// on failure.
void ApplyPropertyValue(QObject* component, const QString& name, const StreamValue& value);

// The properties a component stream stores for the component, in declaration order: every stored
// one except Name, which the stream's header carries.
std::vector<StreamProperty> StoredProperties(const QObject* component);

// Identifiers of colours, cursors and font character sets; names compare without regard to case.
std::optional<QString> ColorToIdent(TColor color);
std::optional<TColor> IdentToColor(const QString& ident);
std::optional<QString> CursorToIdent(TCursor cursor);
std::optional<TCursor> IdentToCursor(const QString& ident);
std::optional<QString> CharsetToIdent(int charset);
std::optional<int> IdentToCharset(const QString& ident);
QStringList ColorIdents();   // in table order: clBlack ... clMenuBar
QStringList CursorIdents();  // crDefault ... crSizeAll
QStringList CharsetIdents(); // ANSI_CHARSET ... OEM_CHARSET
