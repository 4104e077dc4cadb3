#pragma once

#include <QString>

// How strictly a whole number is read.
enum class IntSyntax {
    Field,  // a typed field: decimal, a sign and blanks around allowed
    Stream, // a streamed value: decimal with an optional '-', or '$' and hexadecimal digits
};

// The runtime's StrToInt. Throws EConvertError "'<text>' is not a valid integer value" (also
// for an empty text).
int StrToInt(const QString& text, IntSyntax syntax = IntSyntax::Field);
