#pragma once

#include "platform/Errors.h"
#include "platform/Toolkit.h"

#include <QByteArray>
#include <QString>
#include <optional>

class QObject;
class QWidget;

// The toolkit's component stream: one component's class name, component name and stored
// published properties, in binary form ("TPF0" ...) and in text form ("object Name: Class" ...).
//
// Published properties are the meta-object properties of a control from TControl's own onward
// (of a nested object such as Font, all of its properties), in declaration order. A property is
// stored unless it is declared STORED false, or its value's text form equals its declared
// default (class info "default:<Name>"); without a declared default, strings and binary values
// are stored when not empty and every other value always. Nested objects are written with dotted
// paths (Font.Name, Picture.Data).

// A malformed binary stream, or a stored value that its property cannot take.
class EReadError : public Exception {
    using Exception::Exception;
};

// A malformed text form; the message ends with the line number.
class EParserError : public Exception {
    using Exception::Exception;
};

// The binary stream of one component (signature, header, properties, no children).
QByteArray WriteComponentStream(const QObject* component);

// Reads one component: creates it from its class name through the component registry without a
// parent, applies the stored properties between BeginLoading and EndLoading (so a text brick
// measures itself once, after all of them) and returns it. Child components are refused. On any
// failure the half-read component is freed and the error raised: EReadError for a malformed
// stream or a property the class does not publish ("Error reading Text1.Foo: Property Foo does
// not exist"), the registry's error for an unknown class.
QWidget* ReadComponentStream(const QByteArray& stream);

// Binary stream <-> text form, for any well-formed stream (lists, collections, nested objects
// included). Lines end with CR LF. Raise EReadError / EParserError on malformed input.
QString ObjectBinaryToText(const QByteArray& stream);
QByteArray ObjectTextToBinary(const QString& text);

// Identifiers of colours, cursors and font character sets; names compare without regard to case.
std::optional<QString> ColorToIdent(TColor color);
std::optional<TColor> IdentToColor(const QString& ident);
std::optional<QString> CursorToIdent(TCursor cursor);
std::optional<TCursor> IdentToCursor(const QString& ident);
std::optional<QString> CharsetToIdent(int charset);
std::optional<int> IdentToCharset(const QString& ident);
