#include "inspector/PropertyRows.h"

#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/state/TDesigner.h"
#include "platform/Errors.h"
#include "platform/StreamValue.h"
#include "platform/TControl.h"
#include "platform/TFont.h"

#include <array>
#include <gtest/gtest.h>
#include <memory>

// Readable lists in GoogleTest messages.
void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

// Stands in for the design surface: a control with the surface's grid steps.
class TSurfaceLike : public TControl {
    Q_OBJECT
    Q_PROPERTY(int GridX READ GridX WRITE setGridX)
    Q_PROPERTY(int GridY READ GridY WRITE setGridY)
    Q_PROPERTY(bool IsGrid READ IsGrid WRITE setIsGrid)
    Q_PROPERTY(TFont* Spare READ Spare)
    Q_CLASSINFO("default:IsGrid", "True")

public:
    int GridX() const { return m_gridX; }
    int GridY() const { return m_gridY; }
    bool IsGrid() const { return m_isGrid; }
    TFont* Spare() const { return nullptr; }
    // Stored as given, so that what the inspector makes of a text shows.
    void setGridX(int v) { m_gridX = v; }
    void setGridY(int v) { m_gridY = v; }
    void setIsGrid(bool v) { m_isGrid = v; }

private:
    int m_gridX = 4;
    int m_gridY = 4;
    bool m_isGrid = false;
};

namespace {

QStringList rowNames(const TInspectorModel& model) {
    QStringList out;
    for (const TPropertyDescription& row : model.Rows())
        out.append(row.PropertyName);
    return out;
}

const TPropertyDescription& rowOf(const TInspectorModel& model, const QString& name) {
    const int i = model.FindRow(name);
    EXPECT_GE(i, 0) << name.toStdString();
    return model.Rows().at(i);
}

THiddenProperties surfaceLikeHidden() {
    THiddenProperties hidden;
    for (const char* name :
         {"Name", "Tag", "Left", "Top", "Cursor", "Hint", "HelpType", "HelpKeyword", "HelpContext"})
        hidden.Hide(QStringLiteral("TSurfaceLike"), QLatin1String(name));
    return hidden;
}

struct Model {
    TInspectorModel model;
    Model() { model.SetHiddenProperties(StandardHiddenProperties()); }
};

// Without regard to case: "Alignm" before "AlignW".
const QStringList TextRows = {"Alignment", "AlignWithMargins",
                              "Anchor", "Angle",
                              "AutoContrast", "AutoSize",
                              "Backdrop", "BackdropOpacity",
                              "BackdropPadding", "Caption",
                              "Color", "Font",
                              "Font.Name", "Font.Size",
                              "Font.Style", "Font.Color",
                              "Height", "Left",
                              "Margins", "MarginX",
                              "MarginY", "Opacity",
                              "Outline", "OutlineWidth",
                              "RelativeSize", "Shadow",
                              "ShadowOffset", "Top",
                              "Transparent", "Width"};

// A date or time brick adds its format.
QStringList withFormat(QStringList rows) {
    rows.insert(rows.indexOf("Font.Color") + 1, QStringLiteral("Format"));
    return rows;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Rows

TEST(InspectorRows, TextBricksShowTheirRowsSortedByName) {
    TText text;
    TTextDate date;
    TTextTime time;
    for (QObject* brick : std::initializer_list<QObject*>{&text, &date, &time}) {
        Model m;
        m.model.Inspect(brick);
        EXPECT_EQ(rowNames(m.model), brick == &text ? TextRows : withFormat(TextRows))
            << brick->metaObject()->className();
        EXPECT_TRUE(m.model.GridVisible());
    }
}

TEST(InspectorRows, BubbleAddsItsTailPosition) {
    TTextBubble bubble;
    Model m;
    m.model.Inspect(&bubble);
    // A bubble does not turn; its style is a row of its own.
    QStringList expected = TextRows;
    // Nor does it take an outline, shadow, plate or contrast choice: its body reads.
    for (const char* name : {"Angle", "Outline", "OutlineWidth", "Shadow", "ShadowOffset",
                             "Backdrop", "BackdropOpacity", "BackdropPadding", "AutoContrast"})
        expected.removeAll(QLatin1String(name));
    expected.insert(expected.indexOf("AutoSize") + 1, QStringLiteral("BubbleStyle"));
    expected.insert(expected.indexOf("Font.Color") + 1, QStringLiteral("FromX"));
    expected.insert(expected.indexOf("FromX") + 1, QStringLiteral("FromY"));
    EXPECT_EQ(rowNames(m.model), expected);
}

TEST(InspectorRows, PictureBrickShowsElevenRows) {
    TPictureimg picture;
    Model m;
    m.model.Inspect(&picture);
    EXPECT_EQ(rowNames(m.model),
              QStringList({"AlignWithMargins", "Anchor", "AutoSize", "Height", "Left", "Margins",
                           "MarginX", "MarginY", "Picture", "Proportional", "RelativeSize",
                           "Stretch", "Top", "Transparent", "Width"}));
}

TEST(InspectorRows, TailMarkerHidesNothing) {
    TBubbleFrom marker;
    Model m;
    m.model.Inspect(&marker);
    const QStringList names = rowNames(m.model);
    for (const char* name : {"Name", "Tag", "Cursor", "Hint", "Center", "Anchors", "Visible"})
        EXPECT_TRUE(names.contains(QLatin1String(name))) << name;
    // Nested objects are one row; their own properties are not.
    EXPECT_TRUE(names.contains(QStringLiteral("Constraints")));
    for (const QString& n : names)
        EXPECT_FALSE(n.contains(QLatin1Char('.'))) << n.toStdString();
}

TEST(InspectorRows, SurfaceLikeObjectShowsItsGridRows) {
    TSurfaceLike surface;
    TInspectorModel model;
    model.SetHiddenProperties(surfaceLikeHidden());
    model.Inspect(&surface);
    EXPECT_EQ(rowNames(model), QStringList({"AlignWithMargins", "GridX", "GridY", "Height",
                                            "IsGrid", "Margins", "Spare", "Width"}));
}

TEST(InspectorRows, TypeNamesKindsAndValues) {
    TText text;
    text.setCaption(QStringLiteral("Hello"));
    Model m;
    m.model.Inspect(&text);
    struct Expect {
        const char* name;
        const char* type;
        TTypeKind kind;
    };
    for (const Expect& e : {Expect{"AutoSize", "Boolean", TTypeKind::tkEnumeration},
                            Expect{"Alignment", "TAlignment", TTypeKind::tkEnumeration},
                            Expect{"Color", "TColor", TTypeKind::tkInteger},
                            Expect{"Left", "Integer", TTypeKind::tkInteger},
                            Expect{"Caption", "TCaption", TTypeKind::tkLString},
                            Expect{"Font", "TFont", TTypeKind::tkClass},
                            Expect{"Margins", "TMargins", TTypeKind::tkClass}}) {
        const TPropertyDescription& row = rowOf(m.model, QLatin1String(e.name));
        EXPECT_EQ(row.TypeName, QLatin1String(e.type)) << e.name;
        EXPECT_EQ(row.TypeKind, e.kind) << e.name;
        EXPECT_EQ(row.Object, &text);
        EXPECT_FALSE(row.HasEditor);
    }
    EXPECT_EQ(rowOf(m.model, "Caption").ValueText, "Hello");
    EXPECT_EQ(rowOf(m.model, "Color").ValueText, "clBtnFace");
    EXPECT_EQ(rowOf(m.model, "Alignment").ValueList,
              QStringList({"taLeftJustify", "taRightJustify", "taCenter"}));
    EXPECT_EQ(rowOf(m.model, "AutoSize").ValueList, QStringList({"False", "True"}));
    EXPECT_EQ(rowOf(m.model, "Font").ValueText, QString::number(quintptr(text.Font())));
    // Integers and colours get a list only from an editor.
    EXPECT_TRUE(rowOf(m.model, "Color").ValueList.isEmpty());
    EXPECT_TRUE(rowOf(m.model, "Left").ValueList.isEmpty());
}

TEST(InspectorRows, DisplayTextsByKind) {
    TText text;
    text.setAutoSize(true);
    text.setTransparent(false);
    text.setAlignment(Tk::taCenter);
    Model m;
    m.model.Inspect(&text);
    auto shown = [&](const char* name) { return m.model.DisplayText(m.model.FindRow(name)); };
    EXPECT_EQ(shown("AutoSize"), "On");
    EXPECT_EQ(shown("Transparent"), "Off");
    EXPECT_EQ(shown("Alignment"), "Center");
    EXPECT_EQ(shown("Font"), "(Font)");
    EXPECT_EQ(shown("Margins"), "(Margins)");
    EXPECT_EQ(m.model.DisplayList(m.model.FindRow("AutoSize")), QStringList({"Off", "On"}));
    EXPECT_EQ(m.model.DisplayList(m.model.FindRow("Alignment")),
              QStringList({"LeftJustify", "RightJustify", "Center"}));

    TSurfaceLike surface;
    TInspectorModel model;
    model.SetHiddenProperties(surfaceLikeHidden());
    model.Inspect(&surface);
    EXPECT_EQ(model.DisplayText(model.FindRow("Spare")), "(None)");
    EXPECT_EQ(rowOf(model, "Spare").ValueText, "0");
}

TEST(InspectorRows, BoldWhenTheValueIsTheDeclaredDefault) {
    TText text;
    Model m;
    m.model.Inspect(&text);
    text.setAutoSize(true);
    text.setAlignment(Tk::taRightJustify);
    m.model.Reload();
    EXPECT_TRUE(m.model.IsDefault(m.model.FindRow("AutoSize")));         // default True
    EXPECT_FALSE(m.model.IsDefault(m.model.FindRow("Alignment")));       // default taLeftJustify
    EXPECT_TRUE(m.model.IsDefault(m.model.FindRow("AlignWithMargins"))); // False
    EXPECT_FALSE(m.model.IsDefault(m.model.FindRow("Left")));            // no default declared
    EXPECT_FALSE(m.model.IsDefault(m.model.FindRow("Caption")));
}

// ---------------------------------------------------------------------------------------------
// Hidden properties, sorting, the grid

TEST(InspectorHidden, ExactClassAndNameWithoutCase) {
    THiddenProperties hidden;
    EXPECT_TRUE(hidden.Hide("TText", "Tag"));
    EXPECT_FALSE(hidden.Hide("TText", "TAG"));
    EXPECT_TRUE(hidden.Hide("TText", "hint"));
    EXPECT_TRUE(hidden.IsHidden("TText", "tag"));
    EXPECT_FALSE(hidden.IsHidden("TTextDate", "Tag")); // no inheritance
    EXPECT_FALSE(hidden.IsHidden("text", "Tag"));

    TText text;
    TTextDate date;
    TInspectorModel model;
    model.SetHiddenProperties(hidden);
    model.Inspect(&text);
    EXPECT_EQ(model.FindRow("Tag"), -1);
    EXPECT_EQ(model.FindRow("Hint"), -1);
    EXPECT_GE(model.FindRow("Name"), 0);
    model.Inspect(&date);
    EXPECT_GE(model.FindRow("Tag"), 0);
    EXPECT_GE(model.FindRow("Hint"), 0);
}

TEST(InspectorHidden, StandardTableCountsEveryRegistration) {
    // 56 for the surface, 7 for each of four text-brick classes, 20 for the picture brick, and
    // the bubble's angle, body corner and the eight readability values.
    EXPECT_EQ(StandardHiddenProperties().Count(), 56 + 4 * 7 + 20 + 3 + 8);
    EXPECT_TRUE(StandardHiddenProperties().IsHidden("TDesigner", "WindowState"));
    EXPECT_FALSE(StandardHiddenProperties().IsHidden("TBubbleFrom", "Name"));
}

TEST(InspectorSorting, ByNameAndByCreationBothWays) {
    TText text;
    Model m;
    m.model.Inspect(&text);
    ASSERT_TRUE(m.model.Sorted());
    m.model.SetSorted(false);
    // Declaration order, ancestors first.
    const QStringList declared = {
        "Left",      "Top",     "Width",   "Height",      "AlignWithMargins", "Margins", "AutoSize",
        "Alignment", "Caption", "Color", "Font", "Font.Name", "Font.Size",
        "Font.Style", "Font.Color", "Transparent", "Angle", "Opacity", "Anchor",
        "MarginX", "MarginY", "RelativeSize", "Outline", "OutlineWidth", "Shadow",
        "ShadowOffset", "Backdrop", "BackdropOpacity", "BackdropPadding", "AutoContrast"};
    EXPECT_EQ(rowNames(m.model), declared);
    // A font's sub-rows go with it, in their own order.
    int last = -1;
    for (int i = 0; i < m.model.RowCount(); ++i) {
        if (m.model.Rows()[i].SubIndex > 0) {
            EXPECT_EQ(m.model.Rows()[i].SubIndex, m.model.Rows()[i - 1].SubIndex + 1);
            continue;
        }
        EXPECT_LT(last, m.model.Rows()[i].CreationIndex);
        last = m.model.Rows()[i].CreationIndex;
    }
    // A new object keeps the order chosen.
    TTextTime time;
    m.model.Inspect(&time);
    EXPECT_EQ(rowNames(m.model), QStringList(declared) << "Format");
    m.model.SetSorted(true);
    EXPECT_EQ(rowNames(m.model), withFormat(TextRows));
}

TEST(InspectorGrid, ShownFromTwoRows) {
    TText text;
    TInspectorModel model;
    EXPECT_FALSE(model.GridVisible()); // nothing inspected
    THiddenProperties hidden = StandardHiddenProperties();
    for (const QString& name : TextRows)
        if (name != QLatin1String("Caption"))
            hidden.Hide("TText", name);
    model.SetHiddenProperties(hidden);
    model.Inspect(&text);
    EXPECT_EQ(model.RowCount(), 1);
    EXPECT_FALSE(model.GridVisible());

    hidden = StandardHiddenProperties();
    for (const QString& name : TextRows)
        if (name != QLatin1String("Caption") && name != QLatin1String("Left"))
            hidden.Hide("TText", name);
    model.SetHiddenProperties(hidden);
    model.Reload();
    EXPECT_EQ(model.RowCount(), 2);
    EXPECT_TRUE(model.GridVisible());

    model.Inspect(nullptr);
    EXPECT_EQ(model.RowCount(), 0);
    EXPECT_FALSE(model.GridVisible());
}

TEST(InspectorGrid, SameObjectIsNotReadAgainUntilReload) {
    TText text;
    Model m;
    m.model.Inspect(&text);
    text.setLeft(33);
    m.model.Inspect(&text);
    EXPECT_EQ(rowOf(m.model, "Left").ValueText, "0");
    m.model.Reload();
    EXPECT_EQ(rowOf(m.model, "Left").ValueText, "33");
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(InspectorWrite, BooleansOnAndOff) {
    TText text;
    text.setTransparent(false);
    Model m;
    m.model.Inspect(&text);
    const int row = m.model.FindRow("Transparent");
    m.model.WriteValue(row, "On");
    EXPECT_TRUE(text.Transparent());
    EXPECT_EQ(m.model.Rows()[row].ValueText, "True");
    EXPECT_EQ(m.model.DisplayText(row), "On");
    m.model.WriteValue(row, "Off");
    EXPECT_FALSE(text.Transparent());
    EXPECT_EQ(m.model.DisplayText(row), "Off");
    m.model.WriteValue(row, "True"); // anything but On is off
    EXPECT_FALSE(text.Transparent());
}

TEST(InspectorWrite, ColourNamesGetTheirPrefix) {
    TText text;
    Model m;
    m.model.Inspect(&text);
    const int row = m.model.FindRow("Color");
    m.model.WriteValue(row, "Red");
    EXPECT_EQ(text.Color(), 0x0000FF);
    EXPECT_EQ(m.model.Rows()[row].ValueText, "clRed");
    m.model.WriteValue(row, "16744512");
    EXPECT_EQ(text.Color(), 16744512);
    EXPECT_EQ(m.model.Rows()[row].ValueText, "16744512");
    m.model.WriteValue(row, "-16777201"); // $FF00000F, button face
    EXPECT_EQ(m.model.Rows()[row].ValueText, "clBtnFace");
    m.model.WriteValue(row, "Yellow");
    EXPECT_EQ(text.Color(), 0x00FFFF);
}

TEST(InspectorWrite, GridStepsOfAtLeastOne) {
    TSurfaceLike surface;
    TInspectorModel model;
    model.SetHiddenProperties(surfaceLikeHidden());
    model.Inspect(&surface);
    const int x = model.FindRow("GridX");
    const int y = model.FindRow("GridY");
    model.WriteValue(x, "0");
    EXPECT_EQ(surface.GridX(), 1);
    EXPECT_EQ(model.Rows()[x].ValueText, "1");
    model.WriteValue(y, "-4");
    EXPECT_EQ(surface.GridY(), 1);
    model.WriteValue(x, "7");
    EXPECT_EQ(surface.GridX(), 7);
    model.WriteValue(y, "1");
    EXPECT_EQ(surface.GridY(), 1);
}

TEST(InspectorWrite, BadTextsKeepTheOldValueWithTheReadersMessage) {
    TText text;
    text.setObjectName("Text1");
    text.setLeft(12);
    Model m;
    m.model.Inspect(&text);
    struct Bad {
        const char* property;
        const char* text;
    };
    for (const Bad& bad : {Bad{"Left", "abc"}, Bad{"Color", "Reddish"}, Bad{"Alignment", "Middle"},
                           Bad{"Left", "99999999999"}}) {
        const int row = m.model.FindRow(bad.property);
        const QString before = m.model.Rows()[row].ValueText;
        try {
            m.model.WriteValue(row, bad.text);
            ADD_FAILURE() << bad.property << " took " << bad.text;
        } catch (const EReadError& e) {
            EXPECT_EQ(
                e.message(),
                QStringLiteral("Error reading Text1.%1: Invalid property value").arg(bad.property));
        }
        EXPECT_EQ(m.model.Rows()[row].ValueText, before);
        EXPECT_EQ(PropertyValueText(&text, bad.property), before);
    }
    EXPECT_EQ(text.Left(), 12);
}

TEST(InspectorWrite, DoubleClickCyclesThroughTheList) {
    TText text;
    text.setAlignment(Tk::taLeftJustify);
    text.setAutoSize(true);
    Model m;
    m.model.Inspect(&text);
    const int align = m.model.FindRow("Alignment");
    EXPECT_EQ(m.model.CycleValue(align), "RightJustify");
    EXPECT_EQ(text.Alignment(), Tk::taRightJustify);
    EXPECT_EQ(m.model.CycleValue(align), "Center");
    EXPECT_EQ(text.Alignment(), Tk::taCenter);
    EXPECT_EQ(m.model.CycleValue(align), "LeftJustify");
    EXPECT_EQ(text.Alignment(), Tk::taLeftJustify);

    const int autoSize = m.model.FindRow("AutoSize");
    EXPECT_EQ(m.model.CycleValue(autoSize), "Off");
    EXPECT_FALSE(text.AutoSize());
    EXPECT_EQ(m.model.CycleValue(autoSize), "On");
    EXPECT_TRUE(text.AutoSize());

    // Not an enumeration: nothing changes.
    const int left = m.model.FindRow("Left");
    text.setLeft(5);
    m.model.Reload();
    EXPECT_EQ(m.model.CycleValue(left), "5");
    EXPECT_EQ(text.Left(), 5);
}

TEST(InspectorWrite, SetsAreWrittenAsACommaList) {
    TBubbleFrom marker;
    TInspectorModel model;
    model.Inspect(&marker);
    const int row = model.FindRow("Anchors");
    ASSERT_GE(row, 0);
    EXPECT_EQ(model.Rows()[row].ValueList, QStringList({"akLeft", "akTop", "akRight", "akBottom"}));
    model.WriteValue(row, "[akRight, akBottom]");
    EXPECT_EQ(model.Rows()[row].ValueText, "[akRight, akBottom]");
    EXPECT_EQ(marker.Anchors(), Tk::TAnchors(Tk::akRight | Tk::akBottom));
    model.WriteValue(row, " akLeft ");
    EXPECT_EQ(model.Rows()[row].ValueText, "[akLeft]");
    model.WriteValue(row, "[]");
    EXPECT_EQ(model.Rows()[row].ValueText, "[]");
}

namespace {

struct Recorded {
    QObject* object;
    QString name, oldText, newText;
};

class RecordingWriter : public PropertyWriter {
public:
    std::vector<Recorded> writes;
    bool apply = true;
    void WriteProperty(QObject* object, const QString& name, const QString& oldText,
                       const QString& newText) override {
        writes.push_back({object, name, oldText, newText});
        if (apply)
            WritePropertyText(object, name, newText);
    }
};

} // namespace

TEST(InspectorWrite, TheWriterReceivesOldAndNewTexts) {
    TDesigner designer;
    TText text;
    text.setLeft(8);
    Model m;
    m.model.SetDesigner(&designer);
    RecordingWriter writer;
    m.model.SetWriter(&writer);
    std::vector<QObject*> refreshed;
    m.model.SetAfterWrite([&](QObject* o) { refreshed.push_back(o); });
    m.model.Inspect(&text);

    m.model.WriteValue(m.model.FindRow("Color"), "Red");
    m.model.WriteValue(m.model.FindRow("Left"), "20");
    m.model.WriteValue(m.model.FindRow("Alignment"), "Center");
    m.model.WriteValue(m.model.FindRow("AutoSize"), "Off");
    ASSERT_EQ(writer.writes.size(), 4u);
    const std::vector<std::array<const char*, 3>> expected = {
        {"Color", "clBtnFace", "clRed"},
        {"Left", "8", "20"},
        {"Alignment", "taLeftJustify", "taCenter"},
        {"AutoSize", "True", "False"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(writer.writes[i].object, &text);
        EXPECT_EQ(writer.writes[i].name, expected[i][0]);
        EXPECT_EQ(writer.writes[i].oldText, expected[i][1]);
        EXPECT_EQ(writer.writes[i].newText, expected[i][2]);
    }
    EXPECT_EQ(text.Left(), 20);
    EXPECT_EQ(refreshed.size(), 4u);

    // A writer that defers the write: the row shows what the property holds.
    writer.apply = false;
    m.model.WriteValue(m.model.FindRow("Left"), "40");
    EXPECT_EQ(rowOf(m.model, "Left").ValueText, "20");
}

// ---------------------------------------------------------------------------------------------
// The surface's own rows

TEST(InspectorSurface, ShowsTheGridThePicturesTheRecordAndThePanelOnly) {
    TDesigner designer;
    designer.realPicture = QImage(400, 300, QImage::Format_RGB32);
    designer.ZoomRatio = 2.0;
    Model m;
    m.model.SetDesigner(&designer);
    m.model.Inspect(&designer);
    QStringList names;
    for (const TPropertyDescription& r : m.model.Rows())
        names << r.PropertyName;
    // None of the toolkit's widget properties (geometry, enabled, ...), whose writes could take
    // the surface apart.
    EXPECT_EQ(names, QStringList({"CaptionBand", "GridX", "GridY", "IsGrid", "Panel1", "Picture",
                                  "realExif", "realPicture"}));
    EXPECT_EQ(rowOf(m.model, "Picture").ValueText, "200 x 150");
    EXPECT_EQ(rowOf(m.model, "realPicture").ValueText, "400 x 300");
    EXPECT_EQ(rowOf(m.model, "realExif").ValueText, "(none)");
    EXPECT_EQ(m.model.DisplayText(m.model.FindRow("Panel1")), "(Panel1)");
    for (const char* shown : {"Picture", "realPicture", "realExif"})
        EXPECT_FALSE(rowOf(m.model, shown).Writable) << shown;
    EXPECT_TRUE(rowOf(m.model, "GridX").Writable);

    // The grid is written through the surface's setters: 0 or less is 1, above 32 is 32.
    m.model.WriteValue(m.model.FindRow("GridX"), "0");
    EXPECT_EQ(designer.GridX(), 1);
    m.model.WriteValue(m.model.FindRow("GridY"), "40");
    EXPECT_EQ(designer.GridY(), 32);
    EXPECT_EQ(rowOf(m.model, "GridY").ValueText, "32");
    m.model.WriteValue(m.model.FindRow("IsGrid"), "On");
    EXPECT_TRUE(designer.IsGrid());
    // A row that is only shown takes no write.
    m.model.WriteValue(m.model.FindRow("realPicture"), "10 x 10");
    EXPECT_EQ(designer.realPicture.size(), QSize(400, 300));
    EXPECT_EQ(rowOf(m.model, "realPicture").ValueText, "400 x 300");
}

// ---------------------------------------------------------------------------------------------
// The object list

TEST(InspectorObjects, SurfaceThenItsBricks) {
    TDesigner designer;
    designer.setObjectName("Designer");
    auto* text = new TText(&designer);
    text->setObjectName("Text1");
    auto* picture = new TPictureimg(&designer);
    picture->setObjectName("Pictureimg1");
    auto* furniture = new TText(&designer);
    furniture->setObjectName("Furniture");
    furniture->setTag(54);
    designer.AddComponent(text);
    designer.AddComponent(furniture);
    designer.AddComponent(picture);

    Model m;
    m.model.SetDesigner(&designer);
    EXPECT_EQ(m.model.ParentObjects(),
              QStringList({"Designer: Designer", "Text1: Text", "Pictureimg1: Pictureimg"}));
    EXPECT_EQ(m.model.ParentObjectIndex(), -1);
    m.model.Inspect(picture);
    EXPECT_EQ(m.model.ParentObjectIndex(), 2);
    m.model.Inspect(&designer);
    EXPECT_EQ(m.model.ParentObjectIndex(), 0);
    EXPECT_EQ(m.model.ParentObjectAt(0), &designer);
    EXPECT_EQ(m.model.ParentObjectAt(1), text);
    EXPECT_EQ(m.model.ParentObjectAt(2), picture);
    EXPECT_EQ(m.model.ParentObjectAt(3), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Property editors

namespace {

// Shows colours by their name without "cl" and stores them in decimal, as a colour editor does.
class FakeColorEditor : public TPropertyEditor {
public:
    QString property;
    int edits = 0;
    QString GetTypeName() const override { return QStringLiteral("TColor"); }
    QString GetPropertyName() const override { return property; }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkInteger; }
    void GetValues(TPropertyDescription& row) override { row.ValueList = {"Red", "Lime"}; }
    QString GetValueText(const TPropertyDescription& row) override {
        return row.ValueText.startsWith("cl") ? row.ValueText.mid(2) : QStringLiteral("Custom");
    }
    QString SetValue(TPropertyDescription& row) override {
        bool decimal = false;
        const int n = row.ValueText.toInt(&decimal);
        return QString::number(decimal ? n : *IdentToColor(row.ValueText));
    }
    bool Edit(TPropertyDescription& row) override {
        ++edits;
        row.ValueText = QStringLiteral("65280");
        return true;
    }
};

} // namespace

TEST(InspectorEditors, LookupPrefersTheLastEditorOfTheProperty) {
    TPropertyEditorRegistry registry;
    auto general = std::make_unique<FakeColorEditor>();
    auto* generalPtr = general.get();
    auto forColor = std::make_unique<FakeColorEditor>();
    forColor->property = "Color";
    auto* forColorPtr = forColor.get();
    EXPECT_TRUE(registry.Register(std::move(forColor)));
    EXPECT_TRUE(registry.Register(std::move(general)));
    EXPECT_FALSE(registry.Register(std::make_unique<FakeColorEditor>())); // same key again

    TPropertyDescription row;
    row.TypeName = "TColor";
    row.TypeKind = TTypeKind::tkInteger;
    row.PropertyName = "Color";
    EXPECT_EQ(registry.Find(row), forColorPtr);
    row.PropertyName = "Brush";
    EXPECT_EQ(registry.Find(row), generalPtr);
    row.TypeName = "tcolor"; // type names match with case
    EXPECT_EQ(registry.Find(row), nullptr);
    try {
        registry.Get(row);
        ADD_FAILURE() << "no editor expected";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "Editor for property \"Brush\" as class \"tcolor\" not found.");
    }
}

TEST(InspectorEditors, RowsWithAnEditorUseIt) {
    TPropertyEditorRegistry registry;
    auto editor = std::make_unique<FakeColorEditor>();
    auto* editorPtr = editor.get();
    registry.Register(std::move(editor));
    TText text;
    text.setColor(0x0000FF);
    Model m;
    m.model.SetEditors(&registry);
    m.model.Inspect(&text);
    const int row = m.model.FindRow("Color");
    EXPECT_TRUE(m.model.Rows()[row].HasEditor);
    EXPECT_FALSE(rowOf(m.model, "Left").HasEditor);
    EXPECT_EQ(m.model.Rows()[row].ValueList, QStringList({"Red", "Lime"}));
    EXPECT_EQ(m.model.DisplayText(row), "Red");

    m.model.WriteValue(row, "Yellow");
    EXPECT_EQ(text.Color(), 0x00FFFF);
    EXPECT_EQ(m.model.Rows()[row].ValueText, QString::number(0x00FFFF)); // the editor's form

    EXPECT_TRUE(m.model.RunEditor(row));
    EXPECT_EQ(editorPtr->edits, 1);
    EXPECT_EQ(text.Color(), 0x00FF00);
    EXPECT_FALSE(m.model.RunEditor(m.model.FindRow("Left")));
}

#include "PropertyRowsTest.moc"

// ---------------------------------------------------------------------------------------------
// The font's sub-rows and colour spellings

TEST(InspectorRows, TheFontsNameSizeStyleAndColourAreRowsOfTheirOwn) {
    TText text;
    Model m;
    m.model.Inspect(&text);
    const int font = m.model.FindRow("Font");
    ASSERT_GE(font, 0);
    EXPECT_EQ(m.model.Rows()[font + 1].PropertyName, "Font.Name");
    EXPECT_EQ(m.model.Rows()[font + 4].PropertyName, "Font.Color");
    EXPECT_EQ(rowOf(m.model, "Font.Style").TypeKind, TTypeKind::tkSet);
    EXPECT_EQ(rowOf(m.model, "Font.Style").ValueList,
              QStringList({"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}));
    EXPECT_FALSE(rowOf(m.model, "Font.Name").ValueList.isEmpty()) << "the installed fonts";

    m.model.WriteValue(m.model.FindRow("Font.Size"), "20");
    EXPECT_EQ(text.Font()->Size(), 20);
    m.model.WriteValue(m.model.FindRow("Font.Style"), "[fsBold, fsItalic]");
    EXPECT_EQ(PropertyValueText(&text, "Font.Style"), "[fsBold, fsItalic]");
    m.model.WriteValue(m.model.FindRow("Font.Color"), "Red");
    EXPECT_EQ(text.Font()->Color(), TColor(0x0000FF));
    m.model.WriteValue(m.model.FindRow("Font.Name"), "Serif Test Face");
    EXPECT_EQ(text.Font()->Name(), "Serif Test Face");
    EXPECT_EQ(m.model.DisplayText(m.model.FindRow("Font.Size")), "20");
    EXPECT_EQ(m.model.DisplayText(m.model.FindRow("Font.Color")), "clRed");
}

TEST(InspectorWrites, AColourRowTakesEverySpelling) {
    TText text;
    Model m;
    m.model.Inspect(&text);
    const int row = m.model.FindRow("Color");
    // A TColor is $00BBGGRR: red is 255, blue 16711680 ($FF0000), #RRGGBB is red first.
    const QList<QPair<QString, TColor>> spellings = {
        {"clRed", 255},        {"Red", 255},          {"red", 255},
        {"$0000FF", 255},      {"#FF0000", 255},      {"#f00", 255},
        {"#0000FF", 0xFF0000}, {"$FF0000", 0xFF0000}, {"clBlue", 0xFF0000},
        {"#102030", 0x302010}, {"65280", 0x00FF00},   {" Lime ", 0x00FF00}};
    for (const auto& [typed, colour] : spellings) {
        text.setColor(clBlack);
        m.model.WriteValue(row, typed);
        EXPECT_EQ(text.Color(), colour) << typed.toStdString();
    }
    text.setColor(clBlack);
    EXPECT_THROW(m.model.WriteValue(row, "Reddish"), Exception);
    EXPECT_THROW(m.model.WriteValue(row, "#12345"), Exception);
    EXPECT_EQ(text.Color(), clBlack);
}
