#pragma once

#include "platform/StreamValue.h"

#include <QByteArray>
#include <QString>

class QObject;
class QWidget;

// The toolkit's component stream: one component's class name, component name and stored
// published properties, in binary form ("TPF0" ...) and in text form ("object Name: Class" ...).
// Which properties are stored, and how a stored value is applied, is PublishedProperties' part.

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

// One value in the text form, as a property line carries it after "Name = ".
QString StreamValueToText(const StreamValue& value);
// Reads a text holding one value of the text form and nothing else; raises EParserError.
StreamValue StreamValueFromText(const QString& text);
