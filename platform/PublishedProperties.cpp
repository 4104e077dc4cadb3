#include "platform/PublishedProperties.h"

#include "platform/ComponentStream.h"
#include "platform/TControl.h"

#include <QMetaEnum>
#include <QMetaProperty>
#include <QVariant>
#include <QWidget>
#include <limits>

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

template <size_t N> QStringList namesOf(const NamedValue (&table)[N]) {
    QStringList out;
    for (const NamedValue& n : table)
        out.append(QString::fromLatin1(n.name));
    return out;
}

// ---------------------------------------------------------------------------------------------
// Kinds and type names

constexpr int MaxNesting = 4;

int publishedOffset(const QObject* obj) {
    // A widget that is no control (the design surface, its panel) publishes only what its own
    // class declares: none of the toolkit's widget properties, whose writes could undo its
    // layout.
    const QMetaObject* mo = obj->metaObject();
    if (mo->indexOfClassInfo("publishedOwnProperties") >= 0)
        return mo->propertyOffset();
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

QString declaredType(const QMetaObject* mo, const QMetaProperty& prop) {
    return classInfo(mo, QLatin1String("type:") + QLatin1String(prop.name()));
}

// Nothing for a type that no stream carries.
std::optional<PropertyKind> kindOf(const QMetaObject* mo, const QMetaProperty& prop) {
    const QString typeName = declaredType(mo, prop);
    if (typeName == QLatin1String("TColor"))
        return PropertyKind::Color;
    if (typeName == QLatin1String("TCursor"))
        return PropertyKind::Cursor;
    if (typeName == QLatin1String("TFontCharset"))
        return PropertyKind::Charset;
    if (prop.isFlagType())
        return PropertyKind::Set;
    if (prop.isEnumType())
        return PropertyKind::Enumeration;
    const QMetaType type = prop.metaType();
    switch (type.id()) {
    case QMetaType::Bool:
        return PropertyKind::Boolean;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Long:
        return PropertyKind::Integer;
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return PropertyKind::Int64;
    case QMetaType::Double:
    case QMetaType::Float:
        return PropertyKind::Float;
    case QMetaType::QString:
        return PropertyKind::String;
    case QMetaType::QByteArray:
        return PropertyKind::Binary;
    default:
        break;
    }
    if (type.flags() & QMetaType::PointerToQObject)
        return PropertyKind::Class;
    return std::nullopt;
}

QString typeNameOf(const QMetaObject* mo, const QMetaProperty& prop, PropertyKind kind) {
    const QString declared = declaredType(mo, prop);
    if (!declared.isEmpty())
        return declared;
    if (kind == PropertyKind::Enumeration || kind == PropertyKind::Set)
        return QString::fromLatin1(prop.enumerator().name());
    if (kind == PropertyKind::Class)
        return QString::fromLatin1(prop.metaType().name()).remove(QLatin1Char('*')).trimmed();
    switch (prop.metaType().id()) {
    case QMetaType::Bool:
        return QStringLiteral("Boolean");
    case QMetaType::UInt:
        return QStringLiteral("Cardinal");
    case QMetaType::Short:
        return QStringLiteral("SmallInt");
    case QMetaType::UShort:
        return QStringLiteral("Word");
    case QMetaType::Char:
    case QMetaType::SChar:
        return QStringLiteral("ShortInt");
    case QMetaType::UChar:
        return QStringLiteral("Byte");
    case QMetaType::LongLong:
        return QStringLiteral("Int64");
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return QStringLiteral("UInt64");
    case QMetaType::Double:
        return QStringLiteral("Double");
    case QMetaType::Float:
        return QStringLiteral("Single");
    case QMetaType::QString:
        return QStringLiteral("string");
    case QMetaType::QByteArray:
        return QStringLiteral("TBytes");
    default:
        return QStringLiteral("Integer");
    }
}

// ---------------------------------------------------------------------------------------------
// Finding a property by its dotted path

struct Found {
    QObject* owner;
    QMetaProperty prop;
    std::optional<PropertyKind> kind; // nothing for a type that no stream carries
    bool storable;
};

std::optional<QMetaProperty> findProperty(const QObject* obj, const QString& name) {
    const QMetaObject* mo = obj->metaObject();
    for (int i = publishedOffset(obj); i < mo->propertyCount(); ++i)
        if (name.compare(QLatin1String(mo->property(i).name()), Qt::CaseInsensitive) == 0)
            return mo->property(i);
    return std::nullopt;
}

QObject* nestedObject(const QObject* obj, const QMetaProperty& prop) {
    return qvariant_cast<QObject*>(prop.read(obj));
}

// A property of a widget class refers to a component that something else owns (the surface);
// any other class-typed property holds a nested object of its own.
const QMetaObject* referenceClassOf(const QMetaProperty& prop) {
    const QMetaObject* cls = prop.metaType().metaObject();
    return cls && cls->inherits(&QWidget::staticMetaObject) ? cls : nullptr;
}

[[noreturn]] void failReading(const QObject* component, const QString& name,
                              const QString& message) {
    const QString componentName = component->objectName();
    const QString where = componentName.isEmpty() ? name : componentName + QLatin1Char('.') + name;
    throw EReadError(QStringLiteral("Error reading %1: %2").arg(where, message));
}

[[noreturn]] void failUnknown(const QObject* component, const QString& name) {
    failReading(component, name, QStringLiteral("Property %1 does not exist").arg(name));
}

Found find(const QObject* component, const QString& name) {
    const QStringList path = name.split(QLatin1Char('.'));
    auto* obj = const_cast<QObject*>(component);
    bool storable = true;
    for (qsizetype i = 0;; ++i) {
        const auto prop = findProperty(obj, path[i]);
        if (!prop)
            failUnknown(component, name);
        const auto kind = kindOf(obj->metaObject(), *prop);
        storable = storable && prop->isStored();
        if (i + 1 == path.size())
            return {obj, *prop, kind, storable};
        if (kind != PropertyKind::Class)
            failUnknown(component, name);
        obj = nestedObject(obj, *prop);
        if (!obj)
            failUnknown(component, name);
    }
}

// A property of a type that no stream carries is not published.
Found findPublished(const QObject* component, const QString& name) {
    Found f = find(component, name);
    if (!f.kind)
        failUnknown(component, name);
    return f;
}

// ---------------------------------------------------------------------------------------------
// Reading values

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

StreamValue streamValue(const Found& f) {
    const QVariant v = f.prop.read(f.owner);
    StreamValue out;
    switch (*f.kind) {
    case PropertyKind::Boolean:
        out.type = v.toBool() ? vaTrue : vaFalse;
        break;
    case PropertyKind::Integer:
    case PropertyKind::Int64:
        out = IntegerStreamValue(v.toLongLong());
        break;
    case PropertyKind::Float:
        out.type = vaExtended;
        out.real = v.toDouble();
        break;
    case PropertyKind::String:
        out = StringStreamValue(v.toString());
        break;
    case PropertyKind::Binary:
        out.type = vaBinary;
        out.bytes = v.toByteArray();
        break;
    case PropertyKind::Enumeration: {
        const qint64 raw = rawEnum(v);
        const char* key = f.prop.enumerator().valueToKey(int(raw));
        out = key ? IdentStreamValue(QString::fromLatin1(key)) : IntegerStreamValue(raw);
        break;
    }
    case PropertyKind::Set:
        out.type = vaSet;
        out.set = setElements(f.prop.enumerator(), rawEnum(v));
        break;
    case PropertyKind::Color: {
        const qint64 c = qint32(v.toLongLong());
        const auto name = nameOf(ColorNames, c);
        out = name ? IdentStreamValue(*name) : IntegerStreamValue(c);
        break;
    }
    case PropertyKind::Cursor: {
        const qint64 c = v.toLongLong();
        const auto name = nameOf(CursorNames, c);
        out = name ? IdentStreamValue(*name) : IntegerStreamValue(c);
        break;
    }
    case PropertyKind::Charset: {
        const qint64 c = v.toLongLong();
        const auto name = nameOf(CharsetNames, c);
        out = name ? IdentStreamValue(*name) : IntegerStreamValue(c);
        break;
    }
    case PropertyKind::Class:
        break;
    }
    return out;
}

QString valueText(const Found& f) {
    if (*f.kind == PropertyKind::Class)
        return QString();
    const StreamValue v = streamValue(f);
    if (*f.kind == PropertyKind::String)
        return v.text;
    return StreamValueToText(v);
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

bool isStored(const Found& f) {
    if (!f.storable || *f.kind == PropertyKind::Class)
        return false;
    const QMetaObject* mo = f.owner->metaObject();
    const QString key = QLatin1String("default:") + QLatin1String(f.prop.name());
    if (hasClassInfo(mo, key)) {
        const QString def = classInfo(mo, key);
        if (*f.kind == PropertyKind::Set)
            return sortedSetText(def) != sortedSetText(valueText(f));
        return def.compare(valueText(f), Qt::CaseInsensitive) != 0;
    }
    const StreamValue v = streamValue(f);
    if (*f.kind == PropertyKind::String)
        return !v.text.isEmpty();
    if (*f.kind == PropertyKind::Binary)
        return !v.bytes.isEmpty();
    return true;
}

void collect(const QObject* obj, const QString& prefix, bool storable, int depth,
             QList<PublishedProperty>& out) {
    const QMetaObject* mo = obj->metaObject();
    for (int i = publishedOffset(obj); i < mo->propertyCount(); ++i) {
        const QMetaProperty prop = mo->property(i);
        if (!prop.isReadable())
            continue;
        const auto kind = kindOf(mo, prop);
        if (!kind)
            continue;
        PublishedProperty p;
        p.name = prefix + QLatin1String(prop.name());
        p.typeName = typeNameOf(mo, prop, *kind);
        p.kind = *kind;
        const QString key = QLatin1String("default:") + QLatin1String(prop.name());
        p.hasDefault = hasClassInfo(mo, key);
        p.defaultText = classInfo(mo, key);
        p.storable = storable && prop.isStored();
        p.writable = prop.isWritable();
        out.append(p);
        // A referenced component's values are its own, not this one's.
        if (*kind == PropertyKind::Class && depth < MaxNesting && !referenceClassOf(prop))
            if (const QObject* nested = nestedObject(obj, prop))
                collect(nested, p.name + QLatin1Char('.'), p.storable, depth + 1, out);
    }
}

// ---------------------------------------------------------------------------------------------
// Applying a value

struct InvalidValue {};

qint64 checkedInteger(const StreamValue& v, qint64 min, qint64 max) {
    if (!IsIntegerValue(v.type) || v.integer < min || v.integer > max)
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

QVariant convertValue(const QMetaProperty& prop, PropertyKind kind, const StreamValue& v) {
    const QMetaType type = prop.metaType();
    switch (kind) {
    case PropertyKind::Boolean:
        if (v.type == vaTrue ||
            (v.type == vaIdent && v.text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0))
            return QVariant(true);
        if (v.type == vaFalse ||
            (v.type == vaIdent && v.text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0))
            return QVariant(false);
        throw InvalidValue{};
    case PropertyKind::Integer:
    case PropertyKind::Int64: {
        const auto [min, max] = integerRange(type);
        return numericVariant(type, checkedInteger(v, min, max));
    }
    case PropertyKind::Float: {
        double d;
        if (IsIntegerValue(v.type))
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
    case PropertyKind::String:
        if (!IsStringValue(v.type))
            throw InvalidValue{};
        return QVariant(v.text);
    case PropertyKind::Binary:
        if (v.type != vaBinary)
            throw InvalidValue{};
        return QVariant(v.bytes);
    case PropertyKind::Enumeration: {
        if (v.type != vaIdent)
            throw InvalidValue{};
        const QMetaEnum e = prop.enumerator();
        for (int i = 0; i < e.keyCount(); ++i)
            if (v.text.compare(QLatin1String(e.key(i)), Qt::CaseInsensitive) == 0)
                return enumVariant(type, e.value(i));
        throw InvalidValue{};
    }
    case PropertyKind::Set: {
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
    case PropertyKind::Color: {
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
    case PropertyKind::Cursor: {
        if (v.type == vaIdent) {
            const auto c = IdentToCursor(v.text);
            if (!c)
                throw InvalidValue{};
            return numericVariant(type, *c);
        }
        return numericVariant(type, checkedInteger(v, std::numeric_limits<qint32>::min(),
                                                   std::numeric_limits<qint32>::max()));
    }
    case PropertyKind::Charset: {
        if (v.type == vaIdent) {
            const auto c = IdentToCharset(v.text);
            if (!c)
                throw InvalidValue{};
            return numericVariant(type, *c);
        }
        return numericVariant(type, checkedInteger(v, 0, 255));
    }
    case PropertyKind::Class:
        break;
    }
    throw InvalidValue{};
}

void apply(const QObject* component, const QString& name, const Found& f,
           const StreamValue& value) {
    const QString invalid = QStringLiteral("Invalid property value");
    if (!f.kind || *f.kind == PropertyKind::Class || !f.prop.isWritable())
        failReading(component, name, invalid);
    QVariant converted;
    try {
        converted = convertValue(f.prop, *f.kind, value);
    } catch (const InvalidValue&) {
        failReading(component, name, invalid);
    }
    try {
        if (!f.prop.write(f.owner, converted))
            failReading(component, name, invalid);
    } catch (const EReadError&) {
        throw;
    } catch (const Exception& e) {
        failReading(component, name, e.message());
    }
}

} // namespace

QList<PublishedProperty> PublishedProperties(const QObject* component) {
    QList<PublishedProperty> out;
    collect(component, QString(), true, 0, out);
    return out;
}

std::optional<PublishedProperty> FindPublishedProperty(const QObject* component,
                                                       const QString& name) {
    for (const PublishedProperty& p : PublishedProperties(component))
        if (p.name.compare(name, Qt::CaseInsensitive) == 0)
            return p;
    return std::nullopt;
}

QString PropertyValueText(const QObject* component, const QString& name) {
    return valueText(findPublished(component, name));
}

QStringList ValueList(const QObject* component, const QString& name) {
    const Found f = findPublished(component, name);
    switch (*f.kind) {
    case PropertyKind::Boolean:
        return {QStringLiteral("False"), QStringLiteral("True")};
    case PropertyKind::Enumeration:
    case PropertyKind::Set: {
        const QMetaEnum e = f.prop.enumerator();
        QStringList out;
        for (int i = 0; i < e.keyCount(); ++i)
            out.append(QString::fromLatin1(e.key(i)));
        return out;
    }
    case PropertyKind::Color:
        return ColorIdents();
    case PropertyKind::Cursor:
        return CursorIdents();
    case PropertyKind::Charset:
        return CharsetIdents();
    default:
        return {};
    }
}

bool IsStored(const QObject* component, const QString& name) {
    return isStored(findPublished(component, name));
}

void WritePropertyText(QObject* component, const QString& name, const QString& text) {
    const Found f = find(component, name);
    apply(component, name, f,
          f.kind == PropertyKind::String ? StringStreamValue(text) : StreamValueFromText(text));
}

const QMetaObject* ReferencedClass(const QObject* component, const QString& name) {
    const Found f = findPublished(component, name);
    return *f.kind == PropertyKind::Class ? referenceClassOf(f.prop) : nullptr;
}

QObject* PropertyReference(const QObject* component, const QString& name) {
    const Found f = findPublished(component, name);
    return *f.kind == PropertyKind::Class ? nestedObject(f.owner, f.prop) : nullptr;
}

void WritePropertyReference(QObject* component, const QString& name, QObject* value) {
    const Found f = findPublished(component, name);
    const QMetaObject* cls = ReferencedClass(component, name);
    const QString invalid = QStringLiteral("Invalid property value");
    if (!cls || !f.prop.isWritable() || (value && !value->metaObject()->inherits(cls)))
        failReading(component, name, invalid);
    if (!f.prop.write(f.owner, QVariant(f.prop.metaType(), &value)))
        failReading(component, name, invalid);
}

StreamValue PropertyStreamValue(const QObject* component, const QString& name) {
    return streamValue(findPublished(component, name));
}

void ApplyPropertyValue(QObject* component, const QString& name, const StreamValue& value) {
    apply(component, name, find(component, name), value);
}

std::vector<StreamProperty> StoredProperties(const QObject* component) {
    std::vector<StreamProperty> out;
    for (const PublishedProperty& p : PublishedProperties(component)) {
        if (p.name == QLatin1String("Name") || p.kind == PropertyKind::Class)
            continue; // the component name is in the stream's header
        const Found f = findPublished(component, p.name);
        if (isStored(f))
            out.push_back({p.name, streamValue(f)});
    }
    return out;
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

QStringList ColorIdents() {
    return namesOf(ColorNames);
}

QStringList CursorIdents() {
    return namesOf(CursorNames);
}

QStringList CharsetIdents() {
    return namesOf(CharsetNames);
}
