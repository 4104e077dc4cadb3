#include "platform/PublishedProperties.h"
#include "platform/ComponentRegistry.h"
#include "platform/ComponentStream.h"
#include "platform/TControl.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>

// A small published object nested in the gadget below.
class TInsets : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Inner READ Inner WRITE setInner)
    Q_PROPERTY(TCursor Pointer READ Pointer WRITE setPointer)
    Q_PROPERTY(TFontCharset Script READ Script WRITE setScript)
    Q_PROPERTY(int Scale READ Scale WRITE setScale STORED false)
    Q_CLASSINFO("default:Inner", "2")
    Q_CLASSINFO("type:Pointer", "TCursor")
    Q_CLASSINFO("default:Pointer", "crDefault")
    Q_CLASSINFO("type:Script", "TFontCharset")

public:
    using QObject::QObject;
    int Inner() const { return m_inner; }
    TCursor Pointer() const { return m_pointer; }
    TFontCharset Script() const { return m_script; }
    int Scale() const { return m_scale; }
    void setInner(int v) { m_inner = v; }
    void setPointer(TCursor v) { m_pointer = v; }
    void setScript(TFontCharset v) { m_script = v; }
    void setScale(int v) { m_scale = v; }

private:
    int m_inner = 2;
    TCursor m_pointer = 0;
    TFontCharset m_script = 1;
    int m_scale = 100;
};

// One property of each kind, with and without declared defaults.
class TGadget : public TControl {
    Q_OBJECT

public:
    enum TGlow { glNone, glSoft, glHard };
    Q_ENUM(TGlow)
    enum TEdge { edTop = 0x1, edBottom = 0x2, edLeft = 0x4 };
    Q_DECLARE_FLAGS(TEdges, TEdge)
    Q_FLAG(TEdges)

private:
    Q_PROPERTY(int Spacing READ Spacing WRITE setSpacing)
    Q_PROPERTY(bool Framed READ Framed WRITE setFramed)
    Q_PROPERTY(TGlow Glow READ Glow WRITE setGlow)
    Q_PROPERTY(TEdges Edges READ Edges WRITE setEdges)
    Q_PROPERTY(TColor Tint READ Tint WRITE setTint)
    Q_PROPERTY(QString Label READ Label WRITE setLabel)
    Q_PROPERTY(double Ratio READ Ratio WRITE setRatio)
    Q_PROPERTY(TInsets* Insets READ Insets)
    Q_CLASSINFO("default:Spacing", "4")
    Q_CLASSINFO("default:Glow", "glNone")
    Q_CLASSINFO("default:Edges", "[edTop, edLeft]")
    Q_CLASSINFO("type:Tint", "TColor")
    Q_CLASSINFO("default:Tint", "clBtnFace")

public:
    explicit TGadget(QWidget* parent = nullptr) : TControl(parent), m_insets(new TInsets(this)) {}

    int Spacing() const { return m_spacing; }
    bool Framed() const { return m_framed; }
    TGlow Glow() const { return m_glow; }
    TEdges Edges() const { return m_edges; }
    TColor Tint() const { return m_tint; }
    QString Label() const { return m_label; }
    double Ratio() const { return m_ratio; }
    TInsets* Insets() const { return m_insets; }

    void setSpacing(int v) {
        if (v > 1000)
            throw Exception(QStringLiteral("Spacing above 1000"));
        m_spacing = v;
    }
    void setFramed(bool v) { m_framed = v; }
    void setGlow(TGlow v) { m_glow = v; }
    void setEdges(TEdges v) { m_edges = v; }
    void setTint(TColor v) { m_tint = v; }
    void setLabel(const QString& v) { m_label = v; }
    void setRatio(double v) { m_ratio = v; }

private:
    int m_spacing = 4;
    bool m_framed = false;
    TGlow m_glow = glNone;
    TEdges m_edges = TEdges(edTop | edLeft);
    TColor m_tint = clBtnFace;
    QString m_label;
    double m_ratio = 1;
    TInsets* m_insets;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TGadget::TEdges)

namespace {

class PublishedPropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterComponentClass(QStringLiteral("TGadget"),
                               [](QWidget* parent) { return new TGadget(parent); });
        g.setName(QStringLiteral("Gadget1"));
        g.SetBounds(1, 2, 30, 40);
    }
    QString text(const char* name) const { return PropertyValueText(&g, QLatin1String(name)); }
    void write(const char* name, const char* value) {
        WritePropertyText(&g, QLatin1String(name), QString::fromUtf8(value));
    }
    // The message WritePropertyText raises, or "" when it succeeds.
    QString writeError(const char* name, const char* value) {
        try {
            write(name, value);
        } catch (const Exception& e) {
            return e.message();
        }
        return QString();
    }
    TGadget g;
};

QStringList names(const QList<PublishedProperty>& props) {
    QStringList out;
    for (const PublishedProperty& p : props)
        out << p.name;
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The list

TEST_F(PublishedPropertiesTest, DeclarationOrderAncestorsFirstNestedObjectsAsPaths) {
    const QList<PublishedProperty> props = PublishedProperties(&g);
    EXPECT_EQ(names(props),
              QStringList({"Name",           "Tag",          "Left",           "Top",
                           "Width",          "Height",       "Cursor",         "Hint",
                           "HelpType",       "HelpKeyword",  "HelpContext",    "AlignWithMargins",
                           "Margins",        "Margins.Left", "Margins.Top",    "Margins.Right",
                           "Margins.Bottom", "Spacing",      "Framed",         "Glow",
                           "Edges",          "Tint",         "Label",          "Ratio",
                           "Insets",         "Insets.Inner", "Insets.Pointer", "Insets.Script",
                           "Insets.Scale"}));
}

TEST_F(PublishedPropertiesTest, TypeNamesKindsAndDeclaredDefaults) {
    struct Expected {
        const char* name;
        const char* typeName;
        PropertyKind kind;
        const char* defaultText; // nullptr: none declared
    };
    const Expected expected[] = {
        {"Name", "string", PropertyKind::String, nullptr},
        {"Tag", "Integer", PropertyKind::Integer, "0"},
        {"Cursor", "TCursor", PropertyKind::Cursor, "crDefault"},
        {"HelpType", "THelpType", PropertyKind::Enumeration, "htContext"},
        {"Margins", "TMargins", PropertyKind::Class, nullptr},
        {"Margins.Left", "Integer", PropertyKind::Integer, "3"},
        {"Spacing", "Integer", PropertyKind::Integer, "4"},
        {"Framed", "Boolean", PropertyKind::Boolean, nullptr},
        {"Glow", "TGlow", PropertyKind::Enumeration, "glNone"},
        {"Edges", "TEdges", PropertyKind::Set, "[edTop, edLeft]"},
        {"Tint", "TColor", PropertyKind::Color, "clBtnFace"},
        {"Label", "string", PropertyKind::String, nullptr},
        {"Ratio", "Double", PropertyKind::Float, nullptr},
        {"Insets", "TInsets", PropertyKind::Class, nullptr},
        {"Insets.Pointer", "TCursor", PropertyKind::Cursor, "crDefault"},
        {"Insets.Script", "TFontCharset", PropertyKind::Charset, nullptr},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const auto p = FindPublishedProperty(&g, QLatin1String(e.name));
        ASSERT_TRUE(p);
        EXPECT_EQ(p->typeName, QLatin1String(e.typeName));
        EXPECT_EQ(p->kind, e.kind);
        EXPECT_EQ(p->hasDefault, e.defaultText != nullptr);
        EXPECT_EQ(p->defaultText, QLatin1String(e.defaultText ? e.defaultText : ""));
    }
    // Nested objects are read-only; a STORED false property and nothing else is unstorable.
    EXPECT_FALSE(FindPublishedProperty(&g, QStringLiteral("Insets"))->writable);
    EXPECT_TRUE(FindPublishedProperty(&g, QStringLiteral("insets.inner"))->writable);
    for (const PublishedProperty& p : PublishedProperties(&g))
        EXPECT_EQ(p.storable, p.name != QLatin1String("Insets.Scale")) << p.name.toStdString();
    EXPECT_FALSE(FindPublishedProperty(&g, QStringLiteral("Bogus")));
}

// ---------------------------------------------------------------------------------------------
// Value texts, value lists, what is stored

TEST_F(PublishedPropertiesTest, ValueTextsPerKind) {
    EXPECT_EQ(text("Spacing"), QStringLiteral("4"));
    g.setSpacing(-7);
    EXPECT_EQ(text("Spacing"), QStringLiteral("-7"));
    EXPECT_EQ(text("Framed"), QStringLiteral("False"));
    g.setFramed(true);
    EXPECT_EQ(text("Framed"), QStringLiteral("True"));
    g.setGlow(TGadget::glSoft);
    EXPECT_EQ(text("Glow"), QStringLiteral("glSoft"));
    // Set elements in declaration order of the element type, whatever order they were set in.
    g.setEdges(TGadget::edLeft | TGadget::edTop);
    EXPECT_EQ(text("Edges"), QStringLiteral("[edTop, edLeft]"));
    g.setEdges({});
    EXPECT_EQ(text("Edges"), QStringLiteral("[]"));
    EXPECT_EQ(text("Tint"), QStringLiteral("clBtnFace"));
    g.setTint(0x0000FF);
    EXPECT_EQ(text("Tint"), QStringLiteral("clRed"));
    g.setTint(0x00FF8040); // no name: decimal
    EXPECT_EQ(text("Tint"), QStringLiteral("16744512"));
    g.setLabel(QStringLiteral("It's\r\n"));
    EXPECT_EQ(text("Label"), QStringLiteral("It's\r\n")); // strings as they are
    EXPECT_EQ(text("Ratio"), QStringLiteral("1.0"));
    g.setRatio(-0.125);
    EXPECT_EQ(text("Ratio"), QStringLiteral("-0.125"));
    g.setCursorId(-21);
    EXPECT_EQ(text("Cursor"), QStringLiteral("crHandPoint"));
    g.Insets()->setPointer(-5); // no name
    EXPECT_EQ(text("Insets.Pointer"), QStringLiteral("-5"));
    g.Insets()->setScript(204);
    EXPECT_EQ(text("insets.script"), QStringLiteral("RUSSIAN_CHARSET"));
    g.Insets()->setScript(3);
    EXPECT_EQ(text("Insets.Script"), QStringLiteral("3"));
    EXPECT_EQ(text("Name"), QStringLiteral("Gadget1"));
    EXPECT_EQ(text("Insets"), QString());
}

TEST_F(PublishedPropertiesTest, ValueListsForDropDowns) {
    EXPECT_EQ(ValueList(&g, QStringLiteral("Glow")), QStringList({"glNone", "glSoft", "glHard"}));
    EXPECT_EQ(ValueList(&g, QStringLiteral("Edges")), QStringList({"edTop", "edBottom", "edLeft"}));
    EXPECT_EQ(ValueList(&g, QStringLiteral("Framed")), QStringList({"False", "True"}));
    const QStringList colours = ValueList(&g, QStringLiteral("Tint"));
    ASSERT_EQ(colours.size(), 52);
    EXPECT_EQ(colours.first(), QStringLiteral("clBlack"));
    EXPECT_EQ(colours[9], QStringLiteral("clRed"));
    EXPECT_EQ(colours.last(), QStringLiteral("clMenuBar"));
    const QStringList cursors = ValueList(&g, QStringLiteral("Insets.Pointer"));
    ASSERT_EQ(cursors.size(), 22);
    EXPECT_EQ(cursors.first(), QStringLiteral("crDefault"));
    EXPECT_EQ(cursors.last(), QStringLiteral("crSizeAll"));
    const QStringList charsets = ValueList(&g, QStringLiteral("Insets.Script"));
    ASSERT_EQ(charsets.size(), 19);
    EXPECT_EQ(charsets.first(), QStringLiteral("ANSI_CHARSET"));
    EXPECT_EQ(charsets.last(), QStringLiteral("OEM_CHARSET"));
    for (const char* none : {"Spacing", "Label", "Ratio", "Insets", "Insets.Inner"})
        EXPECT_TRUE(ValueList(&g, QLatin1String(none)).isEmpty()) << none;
}

TEST_F(PublishedPropertiesTest, StoredUnlessDefaultOrEmptyOrDeclaredNotStored) {
    auto stored = [this](const char* name) { return IsStored(&g, QLatin1String(name)); };
    // Declared defaults: stored only when different.
    EXPECT_FALSE(stored("Spacing"));
    g.setSpacing(5);
    EXPECT_TRUE(stored("Spacing"));
    g.setSpacing(4);
    EXPECT_FALSE(stored("Spacing"));
    EXPECT_FALSE(stored("Edges"));
    g.setEdges(TGadget::edLeft);
    EXPECT_TRUE(stored("Edges"));
    g.setEdges(TGadget::edLeft | TGadget::edTop | TGadget::edBottom);
    EXPECT_TRUE(stored("Edges"));
    EXPECT_FALSE(stored("Tint"));
    g.setTint(clWindow);
    EXPECT_TRUE(stored("Tint"));
    EXPECT_FALSE(stored("Insets.Inner"));
    g.Insets()->setInner(0);
    EXPECT_TRUE(stored("Insets.Inner"));
    // No default: strings when not empty, anything else always.
    EXPECT_FALSE(stored("Label"));
    g.setLabel(QStringLiteral(" "));
    EXPECT_TRUE(stored("Label"));
    EXPECT_TRUE(stored("Framed"));
    EXPECT_TRUE(stored("Ratio"));
    EXPECT_TRUE(stored("Insets.Script"));
    // Never: STORED false, nested objects themselves.
    g.Insets()->setScale(5);
    EXPECT_FALSE(stored("Insets.Scale"));
    EXPECT_FALSE(stored("Insets"));
    EXPECT_FALSE(stored("Margins"));
}

TEST_F(PublishedPropertiesTest, TheStreamStoresWhatIsStored) {
    g.setGlow(TGadget::glHard);
    g.setLabel(QStringLiteral("x"));
    g.Insets()->setScale(7);
    g.Margins()->setTop(0);
    std::vector<QString> stored;
    for (const StreamProperty& p : StoredProperties(&g))
        stored.push_back(p.name);
    EXPECT_EQ(stored, std::vector<QString>({"Left", "Top", "Width", "Height", "Margins.Top",
                                            "Framed", "Glow", "Label", "Ratio", "Insets.Script"}));
    EXPECT_EQ(ObjectBinaryToText(WriteComponentStream(&g)),
              QStringLiteral("object Gadget1: TGadget\r\n"
                             "  Left = 1\r\n"
                             "  Top = 2\r\n"
                             "  Width = 30\r\n"
                             "  Height = 40\r\n"
                             "  Margins.Top = 0\r\n"
                             "  Framed = False\r\n"
                             "  Glow = glHard\r\n"
                             "  Label = 'x'\r\n"
                             "  Ratio = 1.0\r\n"
                             "  Insets.Script = DEFAULT_CHARSET\r\n"
                             "end\r\n"));
}

// ---------------------------------------------------------------------------------------------
// Writing value texts

TEST_F(PublishedPropertiesTest, WritesPerKind) {
    write("Spacing", "-12");
    EXPECT_EQ(g.Spacing(), -12);
    write("spacing", "$10"); // names without regard to case; hexadecimal as the reader takes it
    EXPECT_EQ(g.Spacing(), 16);
    write("Framed", "true");
    EXPECT_TRUE(g.Framed());
    write("Framed", "False");
    EXPECT_FALSE(g.Framed());
    write("Glow", "GLHARD");
    EXPECT_EQ(g.Glow(), TGadget::glHard);
    write("Edges", "[edBottom,edLeft]");
    EXPECT_EQ(g.Edges(), TGadget::edBottom | TGadget::edLeft);
    write("Edges", "[]");
    EXPECT_EQ(g.Edges(), TGadget::TEdges());
    write("Tint", "clRed");
    EXPECT_EQ(g.Tint(), 0x0000FF);
    write("Tint", "255");
    EXPECT_EQ(g.Tint(), 255);
    write("Tint", "$00FF8040");
    EXPECT_EQ(g.Tint(), 0x00FF8040);
    write("Tint", "$FF00000F"); // unsigned above $7FFFFFFF
    EXPECT_EQ(g.Tint(), clBtnFace);
    write("Label", "a 'b' #13 c"); // taken as it is, no quoting
    EXPECT_EQ(g.Label(), QStringLiteral("a 'b' #13 c"));
    write("Label", "");
    EXPECT_EQ(g.Label(), QString());
    write("Ratio", "2.5");
    EXPECT_EQ(g.Ratio(), 2.5);
    write("Ratio", "-3");
    EXPECT_EQ(g.Ratio(), -3.0);
    write("Insets.Inner", "9");
    EXPECT_EQ(g.Insets()->Inner(), 9);
    write("Insets.Pointer", "crHelp");
    EXPECT_EQ(g.Insets()->Pointer(), -20);
    write("Insets.Script", "greek_charset");
    EXPECT_EQ(g.Insets()->Script(), 161);
    write("Insets.Script", "255");
    EXPECT_EQ(g.Insets()->Script(), 255);
    write("Name", "Gadget7");
    EXPECT_EQ(g.objectName(), QStringLiteral("Gadget7"));
}

TEST_F(PublishedPropertiesTest, EveryValueTextWritesBackToTheSameValue) {
    g.setSpacing(-2147483647 - 1);
    g.setFramed(true);
    g.setGlow(TGadget::glSoft);
    g.setEdges(TGadget::edBottom);
    g.setTint(TColor(0x80FF0000)); // negative, no name
    g.setLabel(QString::fromUtf8("Caf\xC3\xA9 \xD0\x96 '%CR%LF'"));
    g.setRatio(1.0 / 3.0);
    g.Insets()->setPointer(-22);
    g.Insets()->setScript(0);
    TGadget copy;
    for (const PublishedProperty& p : PublishedProperties(&g)) {
        if (!p.writable)
            continue;
        WritePropertyText(&copy, p.name, PropertyValueText(&g, p.name));
        EXPECT_EQ(PropertyValueText(&copy, p.name), PropertyValueText(&g, p.name))
            << p.name.toStdString();
    }
    EXPECT_EQ(copy.Label(), g.Label());
    EXPECT_EQ(copy.Ratio(), g.Ratio());
    EXPECT_EQ(copy.Tint(), g.Tint());
    EXPECT_EQ(copy.Spacing(), g.Spacing());
}

TEST_F(PublishedPropertiesTest, WriteErrorsNameTheComponentAndProperty) {
    const QString invalid = QStringLiteral("Error reading Gadget1.%1: Invalid property value");
    EXPECT_EQ(writeError("Spacing", "abc"), invalid.arg("Spacing"));
    EXPECT_EQ(writeError("Spacing", "1.5"), invalid.arg("Spacing"));
    EXPECT_EQ(writeError("Spacing", "'7'"), invalid.arg("Spacing"));
    EXPECT_EQ(writeError("Spacing", "2147483648"), invalid.arg("Spacing"));
    EXPECT_EQ(writeError("Spacing", "-2147483649"), invalid.arg("Spacing"));
    EXPECT_EQ(writeError("Spacing", "-2147483648"), QString()); // the boundary itself
    EXPECT_EQ(writeError("Insets.Script", "256"), invalid.arg("Insets.Script"));
    EXPECT_EQ(writeError("Insets.Script", "-1"), invalid.arg("Insets.Script"));
    EXPECT_EQ(writeError("Glow", "glBlinding"), invalid.arg("Glow"));
    EXPECT_EQ(writeError("Glow", "1"), invalid.arg("Glow"));
    EXPECT_EQ(writeError("Edges", "[edTop, edMiddle]"), invalid.arg("Edges"));
    EXPECT_EQ(writeError("Edges", "edTop"), invalid.arg("Edges"));
    EXPECT_EQ(writeError("Framed", "On"), invalid.arg("Framed"));
    EXPECT_EQ(writeError("Tint", "Red"), invalid.arg("Tint"));
    EXPECT_EQ(writeError("Tint", "$100000000"), invalid.arg("Tint"));
    EXPECT_EQ(writeError("Insets.Pointer", "crNoSuchCursor"), invalid.arg("Insets.Pointer"));
    EXPECT_EQ(writeError("Insets", "1"), invalid.arg("Insets"));
    EXPECT_EQ(writeError("Ratio", "x"), invalid.arg("Ratio"));
    // The setter's own error keeps its message.
    EXPECT_EQ(writeError("Spacing", "1001"),
              QStringLiteral("Error reading Gadget1.Spacing: Spacing above 1000"));
    EXPECT_EQ(writeError("Foo", "1"),
              QStringLiteral("Error reading Gadget1.Foo: Property Foo does not exist"));
    EXPECT_EQ(
        writeError("Insets.Outer", "1"),
        QStringLiteral("Error reading Gadget1.Insets.Outer: Property Insets.Outer does not exist"));
    EXPECT_EQ(
        writeError("Label.Length", "1"),
        QStringLiteral("Error reading Gadget1.Label.Length: Property Label.Length does not exist"));
    // A failed write leaves the value as it was.
    EXPECT_EQ(g.Spacing(), -2147483647 - 1);
    EXPECT_EQ(g.Glow(), TGadget::glNone);
    EXPECT_EQ(g.Tint(), clBtnFace);
    // Reading a property that does not exist fails the same way.
    EXPECT_THROW(PropertyValueText(&g, QStringLiteral("Foo")), EReadError);
    EXPECT_THROW(IsStored(&g, QStringLiteral("Insets.Foo")), EReadError);
    // A text that is not one value of the text form fails as the text reader does.
    const std::pair<const char*, const char*> syntax[] = {
        {"12abc", "Invalid property value on line 1"},
        {"'open", "Unterminated string on line 1"},
        {"", "Invalid property value on line 1"},
        {"[edTop,", "Identifier expected on line 1"},
    };
    for (const auto& [value, message] : syntax) {
        try {
            write("Spacing", value);
            ADD_FAILURE() << value;
        } catch (const EParserError& e) {
            EXPECT_EQ(e.message(), QLatin1String(message)) << value;
        }
    }
}

TEST_F(PublishedPropertiesTest, WritingATextFailsAsReadingAStreamDoes) {
    const std::pair<const char*, const char*> cases[] = {
        {"Spacing", "abc"},       {"Spacing", "2147483648"},
        {"Spacing", "1001"},      {"Glow", "glBlinding"},
        {"Edges", "[edMiddle]"},  {"Tint", "clNoSuchColour"},
        {"Insets.Script", "256"}, {"Foo", "1"},
        {"Insets.Outer", "1"},    {"Insets", "1"},
        {"Framed", "2"},
    };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(std::string(name) + " = " + value);
        QString fromStream;
        try {
            std::unique_ptr<QWidget>(ReadComponentStream(
                ObjectTextToBinary(QStringLiteral("object Gadget1: TGadget\n  %1 = %2\nend")
                                       .arg(QLatin1String(name), QLatin1String(value)))));
        } catch (const EReadError& e) {
            fromStream = e.message();
        }
        EXPECT_FALSE(fromStream.isEmpty());
        EXPECT_EQ(writeError(name, value), fromStream);
    }
}

TEST_F(PublishedPropertiesTest, StreamValuesApplyDirectly) {
    StreamValue v;
    v.type = vaDouble;
    v.real = 0.75;
    ApplyPropertyValue(&g, QStringLiteral("Ratio"), v);
    EXPECT_EQ(g.Ratio(), 0.75);
    v = StreamValue();
    v.type = vaUTF8String;
    v.text = QString::fromUtf8("\xE2\x82\xAC");
    ApplyPropertyValue(&g, QStringLiteral("Label"), v);
    EXPECT_EQ(g.Label(), QString::fromUtf8("\xE2\x82\xAC"));
    EXPECT_EQ(PropertyStreamValue(&g, QStringLiteral("Label")).type, vaWString);
    const StreamValue tint = PropertyStreamValue(&g, QStringLiteral("Tint"));
    EXPECT_EQ(tint.type, vaIdent);
    EXPECT_EQ(tint.text, QStringLiteral("clBtnFace"));
    const StreamValue edges = PropertyStreamValue(&g, QStringLiteral("Edges"));
    EXPECT_EQ(edges.type, vaSet);
    EXPECT_EQ(edges.set, QStringList({"edTop", "edLeft"}));
}

#include "PublishedPropertiesTest.moc"
