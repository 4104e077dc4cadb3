#pragma once

#include "platform/Errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// The values of the toolkit's component stream, as the binary and text forms carry them, and the
// errors raised while reading them.

// A malformed binary stream, or a stored value that its property cannot take.
class EReadError : public Exception {
    using Exception::Exception;
};

// A malformed text form; the message ends with the line number.
class EParserError : public Exception {
    using Exception::Exception;
};

// The type byte in front of every value of the binary form.
enum StreamValueType : quint8 {
    vaNull = 0,
    vaList = 1,
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaExtended = 5,
    vaString = 6,
    vaIdent = 7,
    vaFalse = 8,
    vaTrue = 9,
    vaBinary = 10,
    vaSet = 11,
    vaLString = 12,
    vaNil = 13,
    vaCollection = 14,
    vaSingle = 15,
    vaCurrency = 16,
    vaDate = 17,
    vaWString = 18,
    vaInt64 = 19,
    vaUTF8String = 20,
    vaDouble = 21,
};

struct StreamCollectionItem;

struct StreamValue {
    StreamValueType type = vaNull;
    qint64 integer = 0; // integers; currency scaled by 10000
    double real = 0;    // extended, single, double, date
    QString text;       // strings and identifiers
    QByteArray bytes;   // binary
    QStringList set;
    std::vector<StreamValue> list;
    std::vector<StreamCollectionItem> items;
};

struct StreamProperty {
    QString name; // dotted path for nested objects: Font.Name
    StreamValue value;
};

struct StreamCollectionItem {
    bool hasIndex = false;
    qint64 index = 0;
    std::vector<StreamProperty> props;
};

inline bool IsIntegerValue(StreamValueType t) {
    return t == vaInt8 || t == vaInt16 || t == vaInt32 || t == vaInt64;
}

inline bool IsStringValue(StreamValueType t) {
    return t == vaString || t == vaLString || t == vaWString || t == vaUTF8String;
}

// Writers pick the smallest integer type when the binary form is written.
inline StreamValue IntegerStreamValue(qint64 v) {
    StreamValue out;
    out.type = vaInt32;
    out.integer = v;
    return out;
}

inline StreamValue IdentStreamValue(const QString& s) {
    StreamValue out;
    out.type = vaIdent;
    out.text = s;
    return out;
}

// 8-bit strings when every character is Latin-1, wide otherwise.
inline StreamValue StringStreamValue(const QString& s) {
    StreamValue out;
    out.text = s;
    bool narrow = true;
    for (QChar c : s)
        if (c.unicode() > 0xFF) {
            narrow = false;
            break;
        }
    out.type = !narrow ? vaWString : s.size() <= 255 ? vaString : vaLString;
    return out;
}
