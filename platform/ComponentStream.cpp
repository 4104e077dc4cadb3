#include "platform/ComponentStream.h"

#include "platform/ComponentRegistry.h"
#include "platform/PublishedProperties.h"
#include "platform/TControl.h"

#include <QLocale>
#include <QWidget>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// The stream as a tree, shared by the binary and text readers and writers

// Hostile input must not exhaust the stack.
constexpr int MaxDepth = 32;
constexpr int LineLength = 64;       // characters of string text on one line
constexpr int HexDigitsPerLine = 64; // 32 bytes of binary data on one line

struct Object {
    quint8 flags = 0; // 1 inherited, 2 child position, 4 inline
    qint64 position = 0;
    QString className;
    QString name;
    std::vector<StreamProperty> props;
    std::vector<Object> children;
};

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
                const StreamValue pos = readValue(depth);
                if (!IsIntegerValue(pos.type))
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

    std::vector<StreamProperty> readProperties(int depth) {
        std::vector<StreamProperty> props;
        for (;;) {
            StreamProperty p;
            p.name = shortString();
            if (p.name.isEmpty())
                return props;
            p.value = readValue(depth);
            props.push_back(std::move(p));
        }
    }

    StreamValue readValue(int depth) {
        if (depth > MaxDepth)
            throw EReadError(QStringLiteral("Invalid stream format"));
        StreamValue v;
        v.type = StreamValueType(byte());
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
                StreamCollectionItem item;
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
    void writeProperties(const std::vector<StreamProperty>& props) {
        for (const StreamProperty& p : props) {
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

    void writeValue(const StreamValue& v) {
        if (IsIntegerValue(v.type)) {
            writeInteger(v.integer);
            return;
        }
        m_out.append(char(v.type));
        switch (v.type) {
        case vaList:
            for (const StreamValue& item : v.list)
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
            for (const StreamCollectionItem& item : v.items) {
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
        for (const StreamProperty& p : o.props)
            writeProperty(p, level + 1);
        for (const Object& child : o.children)
            writeObject(child, level + 1);
        indent(level);
        m_out += QLatin1String("end\r\n");
    }

    // level: the indentation of the line the value starts on; continuation lines go one deeper.
    void writeValue(const StreamValue& v, int level) {
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
            for (const StreamValue& item : v.list) {
                newLine(level + 1);
                writeValue(item, level + 1);
            }
            m_out += QLatin1Char(')');
            break;
        case vaCollection:
            m_out += QLatin1Char('<');
            for (const StreamCollectionItem& item : v.items) {
                newLine(level + 1);
                m_out += QLatin1String("item");
                if (item.hasIndex)
                    m_out += QStringLiteral(" [%1]").arg(item.index);
                m_out += QLatin1String("\r\n");
                for (const StreamProperty& p : item.props)
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

    void writeProperty(const StreamProperty& p, int level) {
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

    // One value and nothing after it.
    StreamValue parseLoneValue() {
        StreamValue v = parseValue(0);
        if (m_tok != End)
            error(QStringLiteral("Invalid property value"));
        return v;
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

    StreamProperty parseProperty(int depth) {
        StreamProperty p;
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

    StreamValue parseValue(int depth) {
        if (depth > MaxDepth)
            error(QStringLiteral("Values nested too deeply"));
        StreamValue v;
        switch (m_tok) {
        case Integer:
            v = IntegerStreamValue(m_int);
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
            return StringStreamValue(text);
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
                v = IdentStreamValue(m_text);
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
                StreamCollectionItem item;
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

Object objectOf(const QObject* component) {
    Object o;
    o.className = QString::fromLatin1(component->metaObject()->className());
    o.name = component->objectName();
    o.props = StoredProperties(component);
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
    for (const StreamProperty& p : o.props)
        ApplyPropertyValue(component.get(), p.name, p.value);
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

QString StreamValueToText(const StreamValue& value) {
    TextWriter w;
    w.writeValue(value, 0);
    return w.take();
}

StreamValue StreamValueFromText(const QString& text) {
    Parser p(text);
    return p.parseLoneValue();
}
