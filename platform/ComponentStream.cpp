#include "platform/ComponentStream.h"

#include "platform/ComponentRegistry.h"
#include "platform/TControl.h"

#include <QLocale>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QVariant>
#include <QWidget>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Identifier tables

struct NamedValue {
    const char* name;
    qint64 value;
};

constexpr qint64 sys(int index) {
    return qint32(0xFF000000u | unsigned(index));
}

const NamedValue ColorNames[] = {
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0},
    {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
    {"clNone", 0x1FFFFFFF},
    {"clDefault", 0x20000000},
    {"clScrollBar", sys(0)},
    {"clBackground", sys(1)},
    {"clActiveCaption", sys(2)},
    {"clInactiveCaption", sys(3)},
    {"clMenu", sys(4)},
    {"clWindow", sys(5)},
    {"clWindowFrame", sys(6)},
    {"clMenuText", sys(7)},
    {"clWindowText", sys(8)},
    {"clCaptionText", sys(9)},
    {"clActiveBorder", sys(10)},
    {"clInactiveBorder", sys(11)},
    {"clAppWorkSpace", sys(12)},
    {"clHighlight", sys(13)},
    {"clHighlightText", sys(14)},
    {"clBtnFace", sys(15)},
    {"clBtnShadow", sys(16)},
    {"clGrayText", sys(17)},
    {"clBtnText", sys(18)},
    {"clInactiveCaptionText", sys(19)},
    {"clBtnHighlight", sys(20)},
    {"cl3DDkShadow", sys(21)},
    {"cl3DLight", sys(22)},
    {"clInfoText", sys(23)},
    {"clInfoBk", sys(24)},
    {"clHotLight", sys(26)},
    {"clGradientActiveCaption", sys(27)},
    {"clGradientInactiveCaption", sys(28)},
    {"clMenuHighlight", sys(29)},
    {"clMenuBar", sys(30)},
};

const NamedValue CursorNames[] = {
    {"crDefault", 0},     {"crNone", -1},     {"crArrow", -2},      {"crCross", -3},
    {"crIBeam", -4},      {"crSizeNESW", -6}, {"crSizeNS", -7},     {"crSizeNWSE", -8},
    {"crSizeWE", -9},     {"crUpArrow", -10}, {"crHourGlass", -11}, {"crDrag", -12},
    {"crNoDrop", -13},    {"crHSplit", -14},  {"crVSplit", -15},    {"crMultiDrag", -16},
    {"crSQLWait", -17},   {"crNo", -18},      {"crAppStart", -19},  {"crHelp", -20},
    {"crHandPoint", -21}, {"crSizeAll", -22},
};

const NamedValue CharsetNames[] = {
    {"ANSI_CHARSET", 0},      {"DEFAULT_CHARSET", 1},    {"SYMBOL_CHARSET", 2},
    {"MAC_CHARSET", 77},      {"SHIFTJIS_CHARSET", 128}, {"HANGEUL_CHARSET", 129},
    {"JOHAB_CHARSET", 130},   {"GB2312_CHARSET", 134},   {"CHINESEBIG5_CHARSET", 136},
    {"GREEK_CHARSET", 161},   {"TURKISH_CHARSET", 162},  {"VIETNAMESE_CHARSET", 163},
    {"HEBREW_CHARSET", 177},  {"ARABIC_CHARSET", 178},   {"BALTIC_CHARSET", 186},
    {"RUSSIAN_CHARSET", 204}, {"THAI_CHARSET", 222},     {"EASTEUROPE_CHARSET", 238},
    {"OEM_CHARSET", 255},
};

template <size_t N> std::optional<QString> nameOf(const NamedValue (&table)[N], qint64 value) {
    for (const NamedValue& n : table)
        if (n.value == value)
            return QString::fromLatin1(n.name);
    return std::nullopt;
}

template <size_t N>
std::optional<qint64> valueOf(const NamedValue (&table)[N], const QString& name) {
    for (const NamedValue& n : table)
        if (name.compare(QLatin1String(n.name), Qt::CaseInsensitive) == 0)
            return n.value;
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// The stream as a tree, shared by the binary and text readers and writers

enum ValueType : quint8 {
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

// Hostile input must not exhaust the stack.
constexpr int MaxDepth = 32;
constexpr int LineLength = 64;       // characters of string text on one line
constexpr int HexDigitsPerLine = 64; // 32 bytes of binary data on one line

struct CollectionItem;

struct Value {
    ValueType type = vaNull;
    qint64 integer = 0; // integers; currency scaled by 10000
    double real = 0;    // extended, single, double, date
    QString text;       // strings and identifiers
    QByteArray bytes;   // binary
    QStringList set;
    std::vector<Value> list;
    std::vector<CollectionItem> items;
};

struct Property {
    QString name;
    Value value;
};

struct CollectionItem {
    bool hasIndex = false;
    qint64 index = 0;
    std::vector<Property> props;
};

struct Object {
    quint8 flags = 0; // 1 inherited, 2 child position, 4 inline
    qint64 position = 0;
    QString className;
    QString name;
    std::vector<Property> props;
    std::vector<Object> children;
};

bool isInteger(ValueType t) {
    return t == vaInt8 || t == vaInt16 || t == vaInt32 || t == vaInt64;
}
bool isString(ValueType t) {
    return t == vaString || t == vaLString || t == vaWString || t == vaUTF8String;
}

Value intValue(qint64 v) {
    Value out;
    out.type = vaInt32;
    out.integer = v;
    return out;
}

Value identValue(const QString& s) {
    Value out;
    out.type = vaIdent;
    out.text = s;
    return out;
}

// 8-bit strings when every character is Latin-1, wide otherwise.
Value stringValue(const QString& s) {
    Value out;
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

// ---------------------------------------------------------------------------------------------
// 80-bit extended <-> double

double extendedToDouble(const uchar* b) {
    quint64 mantissa = 0;
    for (int i = 7; i >= 0; --i)
        mantissa = (mantissa << 8) | b[i];
    const int se = b[8] | (b[9] << 8);
    const bool negative = se & 0x8000;
    const int exponent = se & 0x7FFF;
    double v;
    if (exponent == 0x7FFF)
        v = (mantissa << 1) == 0 ? std::numeric_limits<double>::infinity()
                                 : std::numeric_limits<double>::quiet_NaN();
    else if (mantissa == 0)
        v = 0;
    else
        v = std::ldexp(double(mantissa), exponent - 16383 - 63);
    return negative ? -v : v;
}

void doubleToExtended(double v, uchar* b) {
    quint64 mantissa = 0;
    int exponent = 0;
    const bool negative = std::signbit(v);
    if (std::isnan(v)) {
        mantissa = 0xC000000000000000ull;
        exponent = 0x7FFF;
    } else if (std::isinf(v)) {
        mantissa = 0x8000000000000000ull;
        exponent = 0x7FFF;
    } else if (v != 0) {
        int e = 0;
        const double m = std::frexp(std::fabs(v), &e); // 0.5 <= m < 1, exact in 64 bits
        mantissa = quint64(std::ldexp(m, 64));
        exponent = e - 1 + 16383;
    }
    for (int i = 0; i < 8; ++i)
        b[i] = uchar(mantissa >> (8 * i));
    const int se = exponent | (negative ? 0x8000 : 0);
    b[8] = uchar(se);
    b[9] = uchar(se >> 8);
}

// ---------------------------------------------------------------------------------------------
// Binary reader

class BinaryReader {
public:
    explicit BinaryReader(const QByteArray& data) : m_data(data) {}

    void readSignature() {
        if (m_data.size() < 4 || std::memcmp(m_data.constData(), "TPF0", 4) != 0)
            throw EReadError(QStringLiteral("Invalid stream format"));
        m_pos = 4;
    }

    Object readObject(int depth) {
        if (depth > MaxDepth)
            throw EReadError(QStringLiteral("Invalid stream format"));
        Object o;
        const quint8 first = peek();
        if ((first & 0xF0) == 0xF0) {
            ++m_pos;
            o.flags = first & 0x0F;
            if (o.flags & 2) {
                const Value pos = readValue(depth);
                if (!isInteger(pos.type))
                    throw EReadError(QStringLiteral("Invalid stream format"));
                o.position = pos.integer;
            }
        }
        o.className = shortString();
        o.name = shortString();
        o.props = readProperties(depth);
        while (peek() != 0)
            o.children.push_back(readObject(depth + 1));
        ++m_pos;
        return o;
    }

private:
    qint64 remaining() const { return m_data.size() - m_pos; }

    [[noreturn]] static void readError() { throw EReadError(QStringLiteral("Stream read error")); }

    quint8 peek() const {
        if (remaining() < 1)
            readError();
        return quint8(m_data[m_pos]);
    }
    const uchar* take(qint64 n) {
        if (n < 0 || remaining() < n)
            readError();
        const auto* p = reinterpret_cast<const uchar*>(m_data.constData()) + m_pos;
        m_pos += n;
        return p;
    }
    quint8 byte() { return *take(1); }
    quint32 u32() {
        const uchar* p = take(4);
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    }
    quint64 u64() {
        const uchar* p = take(8);
        quint64 v = 0;
        for (int i = 7; i >= 0; --i)
            v = (v << 8) | p[i];
        return v;
    }
    QString shortString() {
        const int n = byte();
        return QString::fromUtf8(reinterpret_cast<const char*>(take(n)), n);
    }

    std::vector<Property> readProperties(int depth) {
        std::vector<Property> props;
        for (;;) {
            Property p;
            p.name = shortString();
            if (p.name.isEmpty())
                return props;
            p.value = readValue(depth);
            props.push_back(std::move(p));
        }
    }

    Value readValue(int depth) {
        if (depth > MaxDepth)
            throw EReadError(QStringLiteral("Invalid stream format"));
        Value v;
        v.type = ValueType(byte());
        switch (v.type) {
        case vaNull:
        case vaFalse:
        case vaTrue:
        case vaNil:
            break;
        case vaList:
            while (peek() != 0)
                v.list.push_back(readValue(depth + 1));
            ++m_pos;
            break;
        case vaInt8:
            v.integer = qint8(byte());
            break;
        case vaInt16: {
            const uchar* p = take(2);
            v.integer = qint16(quint16(p[0] | (p[1] << 8)));
            break;
        }
        case vaInt32:
            v.integer = qint32(u32());
            break;
        case vaInt64:
        case vaCurrency:
            v.integer = qint64(u64());
            break;
        case vaExtended:
            v.real = extendedToDouble(take(10));
            break;
        case vaSingle: {
            const quint32 bits = u32();
            float f;
            std::memcpy(&f, &bits, 4);
            v.real = f;
            break;
        }
        case vaDouble:
        case vaDate: {
            const quint64 bits = u64();
            std::memcpy(&v.real, &bits, 8);
            break;
        }
        case vaString: {
            const int n = byte();
            v.text = QString::fromLatin1(reinterpret_cast<const char*>(take(n)), n);
            break;
        }
        case vaIdent:
            v.text = shortString();
            break;
        case vaLString: {
            const qint64 n = u32();
            v.text = QString::fromLatin1(reinterpret_cast<const char*>(take(n)), n);
            break;
        }
        case vaUTF8String: {
            const qint64 n = u32();
            v.text = QString::fromUtf8(reinterpret_cast<const char*>(take(n)), n);
            break;
        }
        case vaWString: {
            const qint64 units = u32();
            const uchar* p = take(units * 2);
            v.text.resize(units);
            for (qint64 i = 0; i < units; ++i)
                v.text[i] = QChar(char16_t(p[2 * i] | (p[2 * i + 1] << 8)));
            break;
        }
        case vaBinary: {
            const qint64 n = u32();
            v.bytes = QByteArray(reinterpret_cast<const char*>(take(n)), n);
            break;
        }
        case vaSet:
            for (;;) {
                const QString element = shortString();
                if (element.isEmpty())
                    break;
                v.set.append(element);
            }
            break;
        case vaCollection:
            while (peek() != 0) {
                CollectionItem item;
                const quint8 t = peek();
                if (t == vaInt8 || t == vaInt16 || t == vaInt32) {
                    item.hasIndex = true;
                    item.index = readValue(depth + 1).integer;
                }
                if (byte() != vaList)
                    throw EReadError(QStringLiteral("Invalid stream format"));
                item.props = readProperties(depth + 1);
                v.items.push_back(std::move(item));
            }
            ++m_pos;
            break;
        default:
            throw EReadError(QStringLiteral("Invalid stream format"));
        }
        return v;
    }

    const QByteArray& m_data;
    qint64 m_pos = 0;
};

// ---------------------------------------------------------------------------------------------
// Binary writer

class BinaryWriter {
public:
    QByteArray take() { return std::move(m_out); }

    void writeSignature() { m_out.append("TPF0", 4); }

    void writeObject(const Object& o) {
        if (o.flags != 0) {
            m_out.append(char(0xF0 | (o.flags & 0x0F)));
            if (o.flags & 2)
                writeInteger(o.position);
        }
        shortString(o.className);
        shortString(o.name);
        writeProperties(o.props);
        for (const Object& child : o.children)
            writeObject(child);
        m_out.append('\0');
    }

private:
    void u32(quint32 v) {
        for (int i = 0; i < 4; ++i)
            m_out.append(char(v >> (8 * i)));
    }
    void u64(quint64 v) {
        for (int i = 0; i < 8; ++i)
            m_out.append(char(v >> (8 * i)));
    }
    void shortString(const QString& s) {
        const QByteArray utf8 = s.toUtf8();
        if (utf8.size() > 255)
            throw EReadError(QStringLiteral("Identifier '%1' is too long").arg(s.left(40)));
        m_out.append(char(utf8.size()));
        m_out.append(utf8);
    }
    void writeProperties(const std::vector<Property>& props) {
        for (const Property& p : props) {
            shortString(p.name);
            writeValue(p.value);
        }
        m_out.append('\0');
    }
    // The smallest integer type that holds the value.
    void writeInteger(qint64 v) {
        if (v >= -128 && v <= 127) {
            m_out.append(char(vaInt8));
            m_out.append(char(v));
        } else if (v >= -32768 && v <= 32767) {
            m_out.append(char(vaInt16));
            m_out.append(char(v));
            m_out.append(char(v >> 8));
        } else if (v >= std::numeric_limits<qint32>::min() &&
                   v <= std::numeric_limits<qint32>::max()) {
            m_out.append(char(vaInt32));
            u32(quint32(v));
        } else {
            m_out.append(char(vaInt64));
            u64(quint64(v));
        }
    }

    void writeValue(const Value& v) {
        if (isInteger(v.type)) {
            writeInteger(v.integer);
            return;
        }
        m_out.append(char(v.type));
        switch (v.type) {
        case vaList:
            for (const Value& item : v.list)
                writeValue(item);
            m_out.append('\0');
            break;
        case vaExtended: {
            uchar b[10];
            doubleToExtended(v.real, b);
            m_out.append(reinterpret_cast<const char*>(b), 10);
            break;
        }
        case vaSingle: {
            const float f = float(v.real);
            quint32 bits;
            std::memcpy(&bits, &f, 4);
            u32(bits);
            break;
        }
        case vaDouble:
        case vaDate: {
            quint64 bits;
            std::memcpy(&bits, &v.real, 8);
            u64(bits);
            break;
        }
        case vaCurrency:
            u64(quint64(v.integer));
            break;
        case vaString: {
            const QByteArray latin = v.text.toLatin1();
            m_out.append(char(latin.size()));
            m_out.append(latin);
            break;
        }
        case vaIdent: {
            const QByteArray utf8 = v.text.toUtf8();
            if (utf8.size() > 255)
                throw EReadError(
                    QStringLiteral("Identifier '%1' is too long").arg(v.text.left(40)));
            m_out.append(char(utf8.size()));
            m_out.append(utf8);
            break;
        }
        case vaLString: {
            const QByteArray latin = v.text.toLatin1();
            u32(quint32(latin.size()));
            m_out.append(latin);
            break;
        }
        case vaUTF8String: {
            const QByteArray utf8 = v.text.toUtf8();
            u32(quint32(utf8.size()));
            m_out.append(utf8);
            break;
        }
        case vaWString:
            u32(quint32(v.text.size()));
            for (QChar c : v.text) {
                m_out.append(char(c.unicode() & 0xFF));
                m_out.append(char(c.unicode() >> 8));
            }
            break;
        case vaBinary:
            u32(quint32(v.bytes.size()));
            m_out.append(v.bytes);
            break;
        case vaSet:
            for (const QString& element : v.set)
                shortString(element);
            m_out.append('\0');
            break;
        case vaCollection:
            for (const CollectionItem& item : v.items) {
                if (item.hasIndex)
                    writeInteger(item.index);
                m_out.append(char(vaList));
                writeProperties(item.props);
            }
            m_out.append('\0');
            break;
        default: // null, nil, False, True: the type byte alone
            break;
        }
    }

    QByteArray m_out;
};

// ---------------------------------------------------------------------------------------------
// Text writer

QString floatText(double v) {
    if (std::isnan(v))
        return QStringLiteral("NAN");
    if (std::isinf(v))
        return v > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    const QString s = QString::number(v, 'g', QLocale::FloatingPointShortest);
    const qsizetype e = s.indexOf(QLatin1Char('e'));
    QString mantissa = e < 0 ? s : s.left(e);
    // A '.' keeps the number a float when it is read back.
    if (!mantissa.contains(QLatin1Char('.')))
        mantissa += QLatin1String(".0");
    return e < 0 ? mantissa : mantissa + s.mid(e);
}

class TextWriter {
public:
    QString take() { return std::move(m_out); }

    void writeObject(const Object& o, int level) {
        indent(level);
        m_out += (o.flags & 1)   ? QLatin1String("inherited ")
                 : (o.flags & 4) ? QLatin1String("inline ")
                                 : QLatin1String("object ");
        if (!o.name.isEmpty())
            m_out += o.name + QLatin1String(": ");
        m_out += o.className;
        if (o.flags & 2)
            m_out += QStringLiteral(" [%1]").arg(o.position);
        m_out += QLatin1String("\r\n");
        for (const Property& p : o.props)
            writeProperty(p, level + 1);
        for (const Object& child : o.children)
            writeObject(child, level + 1);
        indent(level);
        m_out += QLatin1String("end\r\n");
    }

    // level: the indentation of the line the value starts on; continuation lines go one deeper.
    void writeValue(const Value& v, int level) {
        switch (v.type) {
        case vaNull:
            m_out += QLatin1String("Null");
            break;
        case vaNil:
            m_out += QLatin1String("nil");
            break;
        case vaFalse:
            m_out += QLatin1String("False");
            break;
        case vaTrue:
            m_out += QLatin1String("True");
            break;
        case vaInt8:
        case vaInt16:
        case vaInt32:
        case vaInt64:
            m_out += QString::number(v.integer);
            break;
        case vaExtended:
        case vaDouble:
            m_out += floatText(v.real);
            break;
        case vaSingle:
            m_out += floatText(v.real) + QLatin1Char('s');
            break;
        case vaDate:
            m_out += floatText(v.real) + QLatin1Char('d');
            break;
        case vaCurrency:
            m_out += floatText(double(v.integer) / 10000.0) + QLatin1Char('c');
            break;
        case vaIdent:
            m_out += v.text;
            break;
        case vaString:
        case vaLString:
        case vaWString:
        case vaUTF8String:
            writeString(v.text, level);
            break;
        case vaSet:
            m_out += QLatin1Char('[') + v.set.join(QLatin1String(", ")) + QLatin1Char(']');
            break;
        case vaBinary: {
            m_out += QLatin1Char('{');
            const QByteArray hex = v.bytes.toHex().toUpper();
            for (qsizetype i = 0; i < hex.size(); i += HexDigitsPerLine) {
                newLine(level + 1);
                m_out += QString::fromLatin1(hex.mid(i, HexDigitsPerLine));
            }
            m_out += QLatin1Char('}');
            break;
        }
        case vaList:
            m_out += QLatin1Char('(');
            for (const Value& item : v.list) {
                newLine(level + 1);
                writeValue(item, level + 1);
            }
            m_out += QLatin1Char(')');
            break;
        case vaCollection:
            m_out += QLatin1Char('<');
            for (const CollectionItem& item : v.items) {
                newLine(level + 1);
                m_out += QLatin1String("item");
                if (item.hasIndex)
                    m_out += QStringLiteral(" [%1]").arg(item.index);
                m_out += QLatin1String("\r\n");
                for (const Property& p : item.props)
                    writeProperty(p, level + 2);
                indent(level + 1);
                m_out += QLatin1String("end");
            }
            m_out += QLatin1Char('>');
            break;
        }
    }

private:
    void indent(int level) { m_out += QString(2 * level, QLatin1Char(' ')); }
    void newLine(int level) {
        m_out += QLatin1String("\r\n");
        indent(level);
    }

    void writeProperty(const Property& p, int level) {
        indent(level);
        m_out += p.name + QLatin1String(" = ");
        writeValue(p.value, level);
        m_out += QLatin1String("\r\n");
    }

    // Quoted runs of printable ASCII (quotes doubled) and #nnn codes, joined directly; a string
    // longer than a line starts on a line of its own and continues with " +" every 64 characters.
    // The '%' that starts a "%CR%LF" is written as #37: the pattern file turns that text into a
    // line break, and the caption must come back as it was.
    void writeString(const QString& s, int level) {
        const qsizetype n = s.size();
        if (n == 0) {
            m_out += QLatin1String("''");
            return;
        }
        auto plain = [&s](qsizetype i) {
            const char16_t c = s[i].unicode();
            if (c < 32 || c > 126)
                return false;
            return !(c == u'%' && QStringView(s).mid(i, 6) == QLatin1String("%CR%LF"));
        };
        if (n > LineLength)
            newLine(level + 1);
        qsizetype i = 0, lineStart = 0;
        while (i < n) {
            if (plain(i)) {
                m_out += QLatin1Char('\'');
                do {
                    if (s[i] == QLatin1Char('\''))
                        m_out += QLatin1Char('\'');
                    m_out += s[i];
                    ++i;
                } while (i < n && plain(i) && i - lineStart < LineLength);
                m_out += QLatin1Char('\'');
            } else {
                m_out += QLatin1Char('#') + QString::number(s[i].unicode());
                ++i;
            }
            if (i - lineStart >= LineLength && i < n) {
                m_out += QLatin1String(" +");
                newLine(level + 1);
                lineStart = i;
            }
        }
    }

    QString m_out;
};

// ---------------------------------------------------------------------------------------------
// Text parser

class Parser {
public:
    explicit Parser(const QString& text) : m_s(text) { next(); }

    Object parseObject(int depth) {
        if (depth > MaxDepth)
            error(QStringLiteral("Objects nested too deeply"));
        Object o;
        if (symbolIs("inherited"))
            o.flags = 1;
        else if (symbolIs("inline"))
            o.flags = 4;
        else if (!symbolIs("object"))
            error(QStringLiteral("'object' expected"));
        next();
        const QString first = symbol();
        next();
        if (charIs(':')) {
            next();
            o.name = first;
            o.className = symbol();
            next();
        } else {
            o.className = first;
        }
        if (charIs('[')) {
            next();
            if (m_tok != Integer)
                error(QStringLiteral("Number expected"));
            o.position = m_int;
            o.flags |= 2;
            next();
            expectChar(']');
        }
        while (!isObjectStart() && !symbolIs("end"))
            o.props.push_back(parseProperty(depth));
        while (isObjectStart())
            o.children.push_back(parseObject(depth + 1));
        if (!symbolIs("end"))
            error(QStringLiteral("'end' expected"));
        next();
        return o;
    }

private:
    enum Token { End, Symbol, String, Integer, Float, Char };

    [[noreturn]] void error(const QString& message) const {
        throw EParserError(QStringLiteral("%1 on line %2").arg(message).arg(m_tokLine));
    }

    bool isObjectStart() const {
        return symbolIs("object") || symbolIs("inherited") || symbolIs("inline");
    }
    bool symbolIs(const char* word) const {
        return m_tok == Symbol && m_text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    bool charIs(char c) const { return m_tok == Char && m_char == QLatin1Char(c); }
    void expectChar(char c) {
        if (!charIs(c))
            error(QStringLiteral("'%1' expected").arg(QLatin1Char(c)));
        next();
    }
    QString symbol() const {
        if (m_tok != Symbol)
            error(QStringLiteral("Identifier expected"));
        return m_text;
    }

    Property parseProperty(int depth) {
        Property p;
        p.name = symbol();
        next();
        while (charIs('.')) {
            next();
            p.name += QLatin1Char('.') + symbol();
            next();
        }
        if (p.name.toUtf8().size() > 255)
            error(QStringLiteral("Identifier too long"));
        expectChar('=');
        p.value = parseValue(depth);
        return p;
    }

    Value parseValue(int depth) {
        if (depth > MaxDepth)
            error(QStringLiteral("Values nested too deeply"));
        Value v;
        switch (m_tok) {
        case Integer:
            v = intValue(m_int);
            next();
            return v;
        case Float:
            v.real = m_float;
            switch (m_suffix) {
            case 's':
                v.type = vaSingle;
                break;
            case 'd':
                v.type = vaDate;
                break;
            case 'c': {
                const double scaled = std::round(m_float * 10000.0);
                if (!(std::fabs(scaled) < 9.2e18))
                    error(QStringLiteral("Invalid floating point value"));
                v.type = vaCurrency;
                v.integer = qint64(scaled);
                break;
            }
            default:
                v.type = vaExtended;
            }
            next();
            return v;
        case String: {
            QString text = m_text;
            next();
            while (charIs('+')) {
                next();
                if (m_tok != String)
                    error(QStringLiteral("String expected"));
                text += m_text;
                next();
            }
            return stringValue(text);
        }
        case Symbol:
            if (symbolIs("True"))
                v.type = vaTrue;
            else if (symbolIs("False"))
                v.type = vaFalse;
            else if (symbolIs("nil"))
                v.type = vaNil;
            else if (symbolIs("Null"))
                v.type = vaNull;
            else
                v = identValue(m_text);
            next();
            return v;
        case Char:
            break;
        default:
            error(QStringLiteral("Invalid property value"));
        }
        if (charIs('[')) {
            v.type = vaSet;
            next();
            if (!charIs(']')) {
                for (;;) {
                    v.set.append(symbol());
                    next();
                    if (!charIs(','))
                        break;
                    next();
                }
            }
            expectChar(']');
            return v;
        }
        if (charIs('(')) {
            v.type = vaList;
            next();
            while (!charIs(')')) {
                if (m_tok == End)
                    error(QStringLiteral("')' expected"));
                v.list.push_back(parseValue(depth + 1));
            }
            next();
            return v;
        }
        if (charIs('{')) {
            v.type = vaBinary;
            v.bytes = readHex();
            next();
            return v;
        }
        if (charIs('<')) {
            v.type = vaCollection;
            next();
            while (!charIs('>')) {
                if (!symbolIs("item"))
                    error(QStringLiteral("'item' expected"));
                next();
                CollectionItem item;
                if (charIs('[')) {
                    next();
                    if (m_tok != Integer)
                        error(QStringLiteral("Number expected"));
                    item.hasIndex = true;
                    item.index = m_int;
                    next();
                    expectChar(']');
                }
                while (!symbolIs("end"))
                    item.props.push_back(parseProperty(depth + 1));
                next();
                v.items.push_back(std::move(item));
            }
            next();
            return v;
        }
        error(QStringLiteral("Invalid property value"));
    }

    // Hexadecimal digits up to '}', blanks and line breaks between them ignored; the current
    // token is '{' and the scan starts right after it.
    QByteArray readHex() {
        QByteArray out;
        m_tokLine = m_line; // errors point at the line being scanned
        int high = -1;
        for (;;) {
            if (m_pos >= m_s.size())
                error(QStringLiteral("Invalid binary value"));
            const QChar c = m_s[m_pos++];
            if (c == QLatin1Char('}'))
                break;
            if (c == QLatin1Char('\n'))
                m_tokLine = ++m_line;
            if (c.unicode() <= ' ')
                continue;
            const int digit = hexDigit(c);
            if (digit < 0)
                error(QStringLiteral("Invalid binary value"));
            if (high < 0) {
                high = digit;
            } else {
                out.append(char(high << 4 | digit));
                high = -1;
            }
        }
        if (high >= 0)
            error(QStringLiteral("Invalid binary value"));
        return out;
    }

    static int hexDigit(QChar c) {
        const char16_t u = c.unicode();
        if (u >= '0' && u <= '9')
            return u - '0';
        if (u >= 'A' && u <= 'F')
            return u - 'A' + 10;
        if (u >= 'a' && u <= 'f')
            return u - 'a' + 10;
        return -1;
    }

    bool at(qsizetype i, char c) const { return i < m_s.size() && m_s[i] == QLatin1Char(c); }
    bool digitAt(qsizetype i) const {
        return i < m_s.size() && m_s[i] >= QLatin1Char('0') && m_s[i] <= QLatin1Char('9');
    }

    void next() {
        // Blanks and line breaks (CR LF, LF or CR alone).
        while (m_pos < m_s.size() && m_s[m_pos].unicode() <= ' ') {
            if (m_s[m_pos] == QLatin1Char('\n') ||
                (m_s[m_pos] == QLatin1Char('\r') && !at(m_pos + 1, '\n')))
                ++m_line;
            ++m_pos;
        }
        m_tokLine = m_line;
        if (m_pos >= m_s.size()) {
            m_tok = End;
            return;
        }
        const QChar c = m_s[m_pos];
        if (c.isLetter() || c == QLatin1Char('_')) {
            const qsizetype start = m_pos;
            while (m_pos < m_s.size() &&
                   (m_s[m_pos].isLetterOrNumber() || m_s[m_pos] == QLatin1Char('_')))
                ++m_pos;
            m_text = m_s.mid(start, m_pos - start);
            if (m_text.toUtf8().size() > 255)
                error(QStringLiteral("Identifier too long"));
            m_tok = Symbol;
            return;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('#')) {
            readString();
            return;
        }
        if (c == QLatin1Char('$')) {
            ++m_pos;
            quint64 v = 0;
            int digits = 0;
            while (m_pos < m_s.size() && hexDigit(m_s[m_pos]) >= 0) {
                if (++digits > 16)
                    error(QStringLiteral("Invalid integer value"));
                v = v << 4 | quint64(hexDigit(m_s[m_pos++]));
            }
            if (digits == 0)
                error(QStringLiteral("Invalid integer value"));
            m_int = qint64(v);
            m_tok = Integer;
            return;
        }
        if (digitAt(m_pos) || (c == QLatin1Char('-') && digitAt(m_pos + 1))) {
            readNumber();
            return;
        }
        m_char = c;
        ++m_pos;
        m_tok = Char;
    }

    void readNumber() {
        const qsizetype start = m_pos;
        if (m_s[m_pos] == QLatin1Char('-'))
            ++m_pos;
        while (digitAt(m_pos))
            ++m_pos;
        bool isFloat = false;
        if (at(m_pos, '.') && digitAt(m_pos + 1)) {
            isFloat = true;
            ++m_pos;
            while (digitAt(m_pos))
                ++m_pos;
        }
        if (at(m_pos, 'e') || at(m_pos, 'E')) {
            qsizetype e = m_pos + 1;
            if (at(e, '+') || at(e, '-'))
                ++e;
            if (digitAt(e)) {
                isFloat = true;
                m_pos = e;
                while (digitAt(m_pos))
                    ++m_pos;
            }
        }
        const QString number = m_s.mid(start, m_pos - start);
        bool ok = false;
        if (!isFloat) {
            m_int = number.toLongLong(&ok);
            if (!ok)
                error(QStringLiteral("Invalid integer value"));
            m_tok = Integer;
            return;
        }
        m_float = number.toDouble(&ok);
        if (!ok || !std::isfinite(m_float))
            error(QStringLiteral("Invalid floating point value"));
        m_suffix = 0;
        if (m_pos < m_s.size()) {
            const char16_t s = m_s[m_pos].toLower().unicode();
            if (s == u's' || s == u'c' || s == u'd') {
                m_suffix = char(s);
                ++m_pos;
            }
        }
        m_tok = Float;
    }

    // Quoted runs ('' for a quote) and #nnn / #$hh codes, joined directly.
    void readString() {
        m_text.clear();
        for (;;) {
            if (at(m_pos, '\'')) {
                ++m_pos;
                for (;;) {
                    if (m_pos >= m_s.size())
                        error(QStringLiteral("Unterminated string"));
                    const QChar c = m_s[m_pos++];
                    if (c == QLatin1Char('\'')) {
                        if (!at(m_pos, '\''))
                            break;
                        ++m_pos;
                    } else if (c == QLatin1Char('\n')) {
                        ++m_line;
                    }
                    m_text += c;
                }
            } else if (at(m_pos, '#')) {
                ++m_pos;
                quint32 code = 0;
                int digits = 0;
                if (at(m_pos, '$')) {
                    ++m_pos;
                    while (m_pos < m_s.size() && hexDigit(m_s[m_pos]) >= 0 && code <= 0x10FFFF) {
                        code = code << 4 | quint32(hexDigit(m_s[m_pos++]));
                        ++digits;
                    }
                } else {
                    while (digitAt(m_pos) && code <= 0x10FFFF) {
                        code = code * 10 + quint32(m_s[m_pos++].unicode() - '0');
                        ++digits;
                    }
                }
                if (digits == 0 || code > 0x10FFFF)
                    error(QStringLiteral("Invalid string constant"));
                if (code > 0xFFFF) {
                    const char32_t ucs4 = code;
                    m_text += QString::fromUcs4(&ucs4, 1);
                } else {
                    m_text += QChar(char16_t(code));
                }
            } else {
                break;
            }
        }
        m_tok = String;
    }

    const QString& m_s;
    qsizetype m_pos = 0;
    int m_line = 1;
    int m_tokLine = 1;
    Token m_tok = End;
    QString m_text;
    QChar m_char;
    qint64 m_int = 0;
    double m_float = 0;
    char m_suffix = 0;
};

// ---------------------------------------------------------------------------------------------
// Published properties of objects

enum class Kind {
    Bool,
    Int,
    Int64,
    Float,
    String,
    Binary,
    Enum,
    Set,
    Color,
    Cursor,
    Charset,
    Object,
    None
};

int publishedOffset(const QObject* obj) {
    return qobject_cast<const TControl*>(obj) ? TControl::staticMetaObject.propertyOffset()
                                              : QObject::staticMetaObject.propertyCount();
}

QString classInfo(const QMetaObject* mo, const QString& key) {
    const int index = mo->indexOfClassInfo(key.toLatin1().constData());
    return index < 0 ? QString() : QString::fromUtf8(mo->classInfo(index).value());
}

bool hasClassInfo(const QMetaObject* mo, const QString& key) {
    return mo->indexOfClassInfo(key.toLatin1().constData()) >= 0;
}

Kind kindOf(const QMetaObject* mo, const QMetaProperty& prop) {
    const QString typeName = classInfo(mo, QLatin1String("type:") + QLatin1String(prop.name()));
    if (typeName == QLatin1String("TColor"))
        return Kind::Color;
    if (typeName == QLatin1String("TCursor"))
        return Kind::Cursor;
    if (typeName == QLatin1String("TFontCharset"))
        return Kind::Charset;
    if (prop.isFlagType())
        return Kind::Set;
    if (prop.isEnumType())
        return Kind::Enum;
    const QMetaType type = prop.metaType();
    switch (type.id()) {
    case QMetaType::Bool:
        return Kind::Bool;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
        return Kind::Int;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return Kind::Int64;
    case QMetaType::Double:
    case QMetaType::Float:
        return Kind::Float;
    case QMetaType::QString:
        return Kind::String;
    case QMetaType::QByteArray:
        return Kind::Binary;
    default:
        break;
    }
    if (type.flags() & QMetaType::PointerToQObject)
        return Kind::Object;
    return Kind::None;
}

// An enumeration or set value as its underlying integer, whatever its storage size.
qint64 rawEnum(const QVariant& v) {
    const void* p = v.constData();
    switch (v.metaType().sizeOf()) {
    case 1:
        return *static_cast<const qint8*>(p);
    case 2:
        return *static_cast<const qint16*>(p);
    case 8:
        return *static_cast<const qint64*>(p);
    default:
        return *static_cast<const qint32*>(p);
    }
}

QVariant enumVariant(QMetaType type, qint64 value) {
    switch (type.sizeOf()) {
    case 1: {
        const qint8 v = qint8(value);
        return QVariant(type, &v);
    }
    case 2: {
        const qint16 v = qint16(value);
        return QVariant(type, &v);
    }
    case 8:
        return QVariant(type, &value);
    default: {
        const qint32 v = qint32(value);
        return QVariant(type, &v);
    }
    }
}

QStringList setElements(const QMetaEnum& e, qint64 value) {
    QStringList out;
    for (int i = 0; i < e.keyCount(); ++i)
        if (e.value(i) != 0 && (value & e.value(i)) == e.value(i))
            out.append(QString::fromLatin1(e.key(i)));
    return out;
}

QObject* nestedObject(const QObject* obj, const QMetaProperty& prop) {
    return qvariant_cast<QObject*>(prop.read(obj));
}

Value propertyValue(const QObject* obj, const QMetaProperty& prop, Kind kind) {
    const QVariant v = prop.read(obj);
    Value out;
    switch (kind) {
    case Kind::Bool:
        out.type = v.toBool() ? vaTrue : vaFalse;
        break;
    case Kind::Int:
    case Kind::Int64:
        out = intValue(v.toLongLong());
        break;
    case Kind::Float:
        out.type = vaExtended;
        out.real = v.toDouble();
        break;
    case Kind::String:
        out = stringValue(v.toString());
        break;
    case Kind::Binary:
        out.type = vaBinary;
        out.bytes = v.toByteArray();
        break;
    case Kind::Enum: {
        const qint64 raw = rawEnum(v);
        const char* key = prop.enumerator().valueToKey(int(raw));
        out = key ? identValue(QString::fromLatin1(key)) : intValue(raw);
        break;
    }
    case Kind::Set:
        out.type = vaSet;
        out.set = setElements(prop.enumerator(), rawEnum(v));
        break;
    case Kind::Color: {
        const qint64 c = qint32(v.toLongLong());
        const auto name = nameOf(ColorNames, c);
        out = name ? identValue(*name) : intValue(c);
        break;
    }
    case Kind::Cursor: {
        const qint64 c = v.toLongLong();
        const auto name = nameOf(CursorNames, c);
        out = name ? identValue(*name) : intValue(c);
        break;
    }
    case Kind::Charset: {
        const qint64 c = v.toLongLong();
        const auto name = nameOf(CharsetNames, c);
        out = name ? identValue(*name) : intValue(c);
        break;
    }
    case Kind::Object:
    case Kind::None:
        break;
    }
    return out;
}

QString valueText(const Value& v) {
    TextWriter w;
    w.writeValue(v, 0);
    return w.take();
}

QStringList sortedSetText(QString text) {
    text.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    QStringList parts;
    for (const QString& p : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!p.trimmed().isEmpty())
            parts.append(p.trimmed().toLower());
    parts.sort();
    return parts;
}

bool isStoredValue(const QMetaObject* mo, const QMetaProperty& prop, Kind kind, const Value& v) {
    const QString key = QLatin1String("default:") + QLatin1String(prop.name());
    if (hasClassInfo(mo, key)) {
        const QString def = classInfo(mo, key);
        if (kind == Kind::Set)
            return sortedSetText(def) != sortedSetText(valueText(v));
        return def.compare(valueText(v), Qt::CaseInsensitive) != 0;
    }
    if (kind == Kind::String)
        return !v.text.isEmpty();
    if (kind == Kind::Binary)
        return !v.bytes.isEmpty();
    return true;
}

void collectProperties(const QObject* obj, const QString& prefix, std::vector<Property>& out,
                       int depth) {
    const QMetaObject* mo = obj->metaObject();
    for (int i = publishedOffset(obj); i < mo->propertyCount(); ++i) {
        const QMetaProperty prop = mo->property(i);
        if (!prop.isReadable() || !prop.isStored())
            continue;
        const QString name = QString::fromLatin1(prop.name());
        if (prefix.isEmpty() && name == QLatin1String("Name"))
            continue; // the component name is in the object header
        const Kind kind = kindOf(mo, prop);
        if (kind == Kind::Object) {
            if (const QObject* nested = nestedObject(obj, prop); nested && depth < 4)
                collectProperties(nested, prefix + name + QLatin1Char('.'), out, depth + 1);
            continue;
        }
        if (kind == Kind::None)
            continue;
        Value v = propertyValue(obj, prop, kind);
        if (isStoredValue(mo, prop, kind, v))
            out.push_back({prefix + name, std::move(v)});
    }
}

// ---------------------------------------------------------------------------------------------
// Applying a stored value

struct InvalidValue {};

std::optional<QMetaProperty> findProperty(const QObject* obj, const QString& name) {
    const QMetaObject* mo = obj->metaObject();
    for (int i = publishedOffset(obj); i < mo->propertyCount(); ++i)
        if (name.compare(QLatin1String(mo->property(i).name()), Qt::CaseInsensitive) == 0)
            return mo->property(i);
    return std::nullopt;
}

qint64 checkedInteger(const Value& v, qint64 min, qint64 max) {
    if (!isInteger(v.type) || v.integer < min || v.integer > max)
        throw InvalidValue{};
    return v.integer;
}

std::pair<qint64, qint64> integerRange(QMetaType type) {
    switch (type.id()) {
    case QMetaType::UChar:
        return {0, 255};
    case QMetaType::Char:
    case QMetaType::SChar:
        return {-128, 127};
    case QMetaType::Short:
        return {-32768, 32767};
    case QMetaType::UShort:
        return {0, 65535};
    case QMetaType::UInt:
        return {0, std::numeric_limits<quint32>::max()};
    case QMetaType::LongLong:
        return {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return {0, std::numeric_limits<qint64>::max()};
    default:
        return {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()};
    }
}

QVariant numericVariant(QMetaType type, qint64 value) {
    QVariant v(static_cast<qlonglong>(value));
    if (!v.convert(type))
        throw InvalidValue{};
    return v;
}

QVariant convertValue(const QMetaProperty& prop, Kind kind, const Value& v) {
    const QMetaType type = prop.metaType();
    switch (kind) {
    case Kind::Bool:
        if (v.type == vaTrue ||
            (v.type == vaIdent && v.text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0))
            return QVariant(true);
        if (v.type == vaFalse ||
            (v.type == vaIdent && v.text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0))
            return QVariant(false);
        throw InvalidValue{};
    case Kind::Int:
    case Kind::Int64: {
        const auto [min, max] = integerRange(type);
        return numericVariant(type, checkedInteger(v, min, max));
    }
    case Kind::Float: {
        double d;
        if (isInteger(v.type))
            d = double(v.integer);
        else if (v.type == vaCurrency)
            d = double(v.integer) / 10000.0;
        else if (v.type == vaExtended || v.type == vaSingle || v.type == vaDouble ||
                 v.type == vaDate)
            d = v.real;
        else
            throw InvalidValue{};
        QVariant out(d);
        if (!out.convert(type))
            throw InvalidValue{};
        return out;
    }
    case Kind::String:
        if (!isString(v.type))
            throw InvalidValue{};
        return QVariant(v.text);
    case Kind::Binary:
        if (v.type != vaBinary)
            throw InvalidValue{};
        return QVariant(v.bytes);
    case Kind::Enum: {
        if (v.type != vaIdent)
            throw InvalidValue{};
        const QMetaEnum e = prop.enumerator();
        for (int i = 0; i < e.keyCount(); ++i)
            if (v.text.compare(QLatin1String(e.key(i)), Qt::CaseInsensitive) == 0)
                return enumVariant(type, e.value(i));
        throw InvalidValue{};
    }
    case Kind::Set: {
        if (v.type != vaSet)
            throw InvalidValue{};
        const QMetaEnum e = prop.enumerator();
        qint64 bits = 0;
        for (const QString& element : v.set) {
            bool found = false;
            for (int i = 0; i < e.keyCount() && !found; ++i)
                if (element.compare(QLatin1String(e.key(i)), Qt::CaseInsensitive) == 0) {
                    bits |= e.value(i);
                    found = true;
                }
            if (!found)
                throw InvalidValue{};
        }
        return enumVariant(type, bits);
    }
    case Kind::Color: {
        if (v.type == vaIdent) {
            const auto c = IdentToColor(v.text);
            if (!c)
                throw InvalidValue{};
            return numericVariant(type, *c);
        }
        // Unnamed colours above $7FFFFFFF may be written unsigned.
        const qint64 c = checkedInteger(v, std::numeric_limits<qint32>::min(),
                                        std::numeric_limits<quint32>::max());
        return numericVariant(type, qint32(quint32(c)));
    }
    case Kind::Cursor: {
        if (v.type == vaIdent) {
            const auto c = IdentToCursor(v.text);
            if (!c)
                throw InvalidValue{};
            return numericVariant(type, *c);
        }
        return numericVariant(type, checkedInteger(v, std::numeric_limits<qint32>::min(),
                                                   std::numeric_limits<qint32>::max()));
    }
    case Kind::Charset: {
        if (v.type == vaIdent) {
            const auto c = IdentToCharset(v.text);
            if (!c)
                throw InvalidValue{};
            return numericVariant(type, *c);
        }
        return numericVariant(type, checkedInteger(v, 0, 255));
    }
    case Kind::Object:
    case Kind::None:
        break;
    }
    throw InvalidValue{};
}

void applyProperty(QObject* root, const QString& componentName, const Property& p) {
    const QString where =
        componentName.isEmpty() ? p.name : componentName + QLatin1Char('.') + p.name;
    auto fail = [&where](const QString& message) {
        throw EReadError(QStringLiteral("Error reading %1: %2").arg(where, message));
    };
    const QString unknown = QStringLiteral("Property %1 does not exist").arg(p.name);
    const QStringList path = p.name.split(QLatin1Char('.'));
    QObject* obj = root;
    for (qsizetype i = 0; i + 1 < path.size(); ++i) {
        const auto prop = findProperty(obj, path[i]);
        if (!prop || kindOf(obj->metaObject(), *prop) != Kind::Object)
            fail(unknown);
        obj = nestedObject(obj, *prop);
        if (!obj)
            fail(unknown);
    }
    const auto prop = findProperty(obj, path.last());
    if (!prop)
        fail(unknown);
    const Kind kind = kindOf(obj->metaObject(), *prop);
    if (kind == Kind::None || kind == Kind::Object || !prop->isWritable())
        fail(QStringLiteral("Invalid property value"));
    QVariant value;
    try {
        value = convertValue(*prop, kind, p.value);
    } catch (const InvalidValue&) {
        fail(QStringLiteral("Invalid property value"));
    }
    try {
        if (!prop->write(obj, value))
            fail(QStringLiteral("Invalid property value"));
    } catch (const EReadError&) {
        throw;
    } catch (const Exception& e) {
        fail(e.message());
    }
}

Object objectOf(const QObject* component) {
    Object o;
    o.className = QString::fromLatin1(component->metaObject()->className());
    o.name = component->objectName();
    collectProperties(component, QString(), o.props, 0);
    return o;
}

} // namespace

QByteArray WriteComponentStream(const QObject* component) {
    BinaryWriter w;
    w.writeSignature();
    w.writeObject(objectOf(component));
    return w.take();
}

QWidget* ReadComponentStream(const QByteArray& stream) {
    BinaryReader r(stream);
    r.readSignature();
    const Object o = r.readObject(0);
    if (!o.children.empty())
        throw EReadError(QStringLiteral("Error reading %1: %2 cannot hold child components")
                             .arg(o.name.isEmpty() ? o.className : o.name, o.className));
    std::unique_ptr<QWidget> component(CreateComponent(o.className, nullptr));
    auto* control = qobject_cast<TControl*>(component.get());
    if (control)
        control->BeginLoading();
    component->setObjectName(o.name);
    for (const Property& p : o.props)
        applyProperty(component.get(), o.name, p);
    if (control)
        control->EndLoading();
    return component.release();
}

QString ObjectBinaryToText(const QByteArray& stream) {
    BinaryReader r(stream);
    r.readSignature();
    const Object o = r.readObject(0);
    TextWriter w;
    w.writeObject(o, 0);
    return w.take();
}

QByteArray ObjectTextToBinary(const QString& text) {
    Parser p(text);
    const Object o = p.parseObject(0);
    BinaryWriter w;
    w.writeSignature();
    w.writeObject(o);
    return w.take();
}

std::optional<QString> ColorToIdent(TColor color) {
    return nameOf(ColorNames, color);
}

std::optional<TColor> IdentToColor(const QString& ident) {
    const auto v = valueOf(ColorNames, ident);
    return v ? std::optional<TColor>(TColor(*v)) : std::nullopt;
}

std::optional<QString> CursorToIdent(TCursor cursor) {
    return nameOf(CursorNames, cursor);
}

std::optional<TCursor> IdentToCursor(const QString& ident) {
    const auto v = valueOf(CursorNames, ident);
    return v ? std::optional<TCursor>(TCursor(*v)) : std::nullopt;
}

std::optional<QString> CharsetToIdent(int charset) {
    return nameOf(CharsetNames, charset);
}

std::optional<int> IdentToCharset(const QString& ident) {
    const auto v = valueOf(CharsetNames, ident);
    return v ? std::optional<int>(int(*v)) : std::nullopt;
}
