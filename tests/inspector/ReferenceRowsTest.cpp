#include "inspector/InspectorMetrics.h"
#include "inspector/PropertyRows.h"

#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/state/TDesigner.h"
#include "platform/Errors.h"
#include "platform/PublishedProperties.h"
#include "platform/TImage.h"

#include <QMenu>
#include <QPointer>
#include <gtest/gtest.h>

// A text brick that refers to other components of its surface.
class TLinkedText : public TText {
    Q_OBJECT
    Q_PROPERTY(TText* Target READ Target WRITE setTarget)
    Q_PROPERTY(TImage* Logo READ Logo WRITE setLogo)
    Q_PROPERTY(QWidget* Any READ Any WRITE setAny)
    Q_PROPERTY(QMenu* Menu READ Menu WRITE setMenu)
    Q_PROPERTY(QWidget* Fixed READ Fixed)

public:
    using TText::TText;
    TText* Target() const { return m_target; }
    TImage* Logo() const { return m_logo; }
    QWidget* Any() const { return m_any; }
    QMenu* Menu() const { return m_menu; }
    QWidget* Fixed() const { return m_fixed; }
    void setTarget(TText* v) { m_target = v; }
    void setLogo(TImage* v) { m_logo = v; }
    void setAny(QWidget* v) { m_any = v; }
    void setMenu(QMenu* v) { m_menu = v; }

    QPointer<QWidget> m_fixed;

private:
    QPointer<TText> m_target;
    QPointer<TImage> m_logo;
    QPointer<QWidget> m_any;
    QPointer<QMenu> m_menu;
};

// Readable lists in messages (defined beside the other rows' tests).
void PrintTo(const QStringList& list, std::ostream* os);

namespace {

// A surface of every brick class, one brick named as a property, one piece of the surface's own
// furniture, and the linking brick last.
struct Surface {
    TDesigner designer;
    TText* text = add(new TText(&designer), "Text1");
    TTextDate* date = add(new TTextDate(&designer), "Date1");
    TPictureimg* picture = add(new TPictureimg(&designer), "Pictureimg1");
    TTextBubble* bubble = add(new TTextBubble(&designer), "Bubble1");
    TBubbleFrom* marker = add(bubble->Marker(), "BubbleFrom1"); // the bubble's own
    TTextTime* time = add(new TTextTime(&designer), "Time1");
    TText* namedTarget = add(new TText(&designer), "Target");
    TText* furniture = add(new TText(&designer), "Furniture", 54);
    TLinkedText* link = add(new TLinkedText(&designer), "Link1");
    TInspectorModel model;

    Surface() {
        model.SetDesigner(&designer);
        model.Inspect(link);
    }
    template <class T> T* add(T* brick, const char* name, int tag = 0) {
        brick->setObjectName(QLatin1String(name));
        brick->setTag(tag);
        designer.AddComponent(brick);
        return brick;
    }
    int row(const char* name) const {
        const int r = model.FindRow(QLatin1String(name));
        EXPECT_GE(r, 0) << name;
        return r;
    }
};

// Serves the logo rows with a dialog of its own and no list of values.
class ListlessImageEditor : public TPropertyEditor {
public:
    QString GetTypeName() const override { return QStringLiteral("TImage"); }
    TTypeKind GetTypeKind() const override { return TTypeKind::tkClass; }
    void GetValues(TPropertyDescription& row) override { row.ValueList.clear(); }
    QString GetValueText(const TPropertyDescription&) override { return QStringLiteral("Image"); }
    QString SetValue(TPropertyDescription& row) override { return row.ValueText; }
    bool Edit(TPropertyDescription&) override { return false; }
};

} // namespace

TEST(InspectorReferences, TheListHoldsTheSurfacesComponentsOfThePropertysClass) {
    Surface s;
    // Text, date, bubble and time bricks are text bricks; the brick named Target is left out, as
    // is the furniture (Tag 54); the linking brick is a text brick of the surface too.
    EXPECT_EQ(s.model.DisplayList(s.row("Target")),
              QStringList({"(None)", "Text1", "Date1", "Bubble1", "Time1", "Link1"}));
    // Pictures and tail markers are the images.
    EXPECT_EQ(s.model.DisplayList(s.row("Logo")),
              QStringList({"(None)", "Pictureimg1", "BubbleFrom1"}));
    // Any component at all, the one named Target among them.
    EXPECT_EQ(s.model.DisplayList(s.row("Any")),
              QStringList({"(None)", "Text1", "Date1", "Pictureimg1", "Bubble1", "BubbleFrom1",
                           "Time1", "Target", "Link1"}));
    for (const char* name : {"Target", "Logo", "Any"}) {
        EXPECT_TRUE(s.model.OffersReferences(s.row(name))) << name;
        EXPECT_EQ(s.model.DisplayText(s.row(name)), "(None)") << name;
        EXPECT_EQ(s.model.DisplayListIndex(s.row(name)), 0) << name;
    }
    // A nested object is no reference: the font has no list of components.
    EXPECT_TRUE(s.model.ReferenceChoices(s.row("Font")).isEmpty());
    EXPECT_FALSE(s.model.OffersReferences(s.row("Font")));
    EXPECT_EQ(s.model.DisplayText(s.row("Font")), "(Font)");

    // A brick of the class placed later is offered at once.
    auto* second = s.add(new TTextDate(&s.designer), "Date2");
    EXPECT_EQ(s.model.ReferenceChoices(s.row("Target")),
              QStringList({"Text1", "Date1", "Bubble1", "Time1", "Link1", "Date2"}));
    second->setTag(50);
    EXPECT_FALSE(s.model.ReferenceChoices(s.row("Target")).contains("Date2"));
}

TEST(InspectorReferences, NoComponentOfTheClassLeavesOnlyNone) {
    Surface s;
    const int menu = s.row("Menu");
    EXPECT_TRUE(s.model.ReferenceChoices(menu).isEmpty());
    EXPECT_EQ(s.model.DisplayList(menu), QStringList({"(None)"}));
    EXPECT_EQ(s.model.DisplayText(menu), "(None)");
    // Choosing it keeps the property empty and raises nothing.
    EXPECT_NO_THROW(s.model.WriteValue(menu, "(None)"));
    EXPECT_EQ(s.link->Menu(), nullptr);
}

TEST(InspectorReferences, ChoosingANameWritesTheReferenceAndNoneClearsIt) {
    Surface s;
    int writes = 0;
    s.model.SetAfterWrite([&](QObject*) { ++writes; });
    const int target = s.row("Target");
    s.model.WriteValue(target, "Bubble1");
    EXPECT_EQ(s.link->Target(), s.bubble);
    EXPECT_EQ(s.model.DisplayText(target), "(Bubble1)");
    EXPECT_EQ(s.model.DisplayListIndex(target), 3);
    EXPECT_EQ(writes, 1);
    // Names compare without regard to case; the component keeps its own spelling.
    s.model.WriteValue(target, "time1");
    EXPECT_EQ(s.link->Target(), s.time);
    EXPECT_EQ(s.model.DisplayText(target), "(Time1)");

    // A component of another class is refused with the reader's message, the value kept.
    try {
        s.model.WriteValue(target, "Pictureimg1");
        ADD_FAILURE() << "a picture written as a text brick";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.message(), "Error reading Link1.Target: Invalid property value");
    }
    EXPECT_EQ(s.link->Target(), s.time);
    // A name that is no component's writes nothing.
    s.model.WriteValue(target, "Nobody");
    EXPECT_EQ(s.link->Target(), s.time);
    // The surface's furniture is not among the components either.
    s.model.WriteValue(target, "Furniture");
    EXPECT_EQ(s.link->Target(), s.time);

    s.model.WriteValue(target, "(None)");
    EXPECT_EQ(s.link->Target(), nullptr);
    EXPECT_EQ(s.model.DisplayText(target), "(None)");
    EXPECT_EQ(s.model.DisplayListIndex(target), 0);

    // A brick may refer to itself.
    s.model.WriteValue(target, "Link1");
    EXPECT_EQ(s.link->Target(), s.link);
}

TEST(InspectorReferences, AReadOnlyReferenceOrAnEditorWithoutValuesOffersNoList) {
    Surface s;
    s.link->m_fixed = s.text;
    s.model.Reload();
    const int fixed = s.row("Fixed");
    EXPECT_FALSE(s.model.OffersReferences(fixed));
    EXPECT_TRUE(s.model.DisplayList(fixed).isEmpty());
    EXPECT_EQ(s.model.DisplayText(fixed), "(Text1)");
    s.model.WriteValue(fixed, "Date1");
    EXPECT_EQ(s.link->Fixed(), s.text);

    TPropertyEditorRegistry editors;
    editors.Register(std::make_unique<ListlessImageEditor>());
    s.model.SetEditors(&editors);
    s.model.Reload();
    const int logo = s.row("Logo");
    EXPECT_TRUE(s.model.Rows()[logo].HasEditor);
    EXPECT_FALSE(s.model.OffersReferences(logo));
    EXPECT_TRUE(s.model.DisplayList(logo).isEmpty());
    EXPECT_EQ(s.model.DisplayText(logo), "(None)");
    // What it refers to still shows by name.
    s.link->setLogo(s.picture);
    EXPECT_EQ(s.model.DisplayText(logo), "(Pictureimg1)");
    // Other reference rows are not the editor's.
    EXPECT_TRUE(s.model.OffersReferences(s.row("Target")));
}

TEST(InspectorReferences, AReferencedComponentsValuesAreNotTheReferrersOwn) {
    Surface s;
    s.link->setTarget(s.text);
    s.link->setLogo(s.picture);
    EXPECT_EQ(ReferencedClass(s.link, "Target"), &TText::staticMetaObject);
    EXPECT_EQ(ReferencedClass(s.link, "logo"), &TImage::staticMetaObject);
    EXPECT_EQ(ReferencedClass(s.link, "Font"), nullptr);
    EXPECT_EQ(ReferencedClass(s.link, "Left"), nullptr);
    EXPECT_EQ(PropertyReference(s.link, "Target"), s.text);
    QStringList names;
    for (const PublishedProperty& p : PublishedProperties(s.link))
        names << p.name;
    EXPECT_TRUE(names.contains("Target"));
    EXPECT_TRUE(names.contains("Font.Size")); // a nested object still lists its values
    for (const QString& n : names)
        EXPECT_FALSE(n.startsWith("Target.") || n.startsWith("Logo.")) << n.toStdString();
    for (const StreamProperty& p : StoredProperties(s.link))
        EXPECT_FALSE(p.name.contains('.') && !p.name.startsWith("Font.") &&
                     !p.name.startsWith("Margins."))
            << p.name.toStdString();

    // Written directly: a widget of the property's class or none; anything else is refused.
    WritePropertyReference(s.link, "Target", s.date);
    EXPECT_EQ(s.link->Target(), s.date);
    EXPECT_THROW(WritePropertyReference(s.link, "Target", s.marker), EReadError);
    EXPECT_THROW(WritePropertyReference(s.link, "Fixed", s.text), EReadError);
    EXPECT_THROW(WritePropertyReference(s.link, "Font", nullptr), EReadError);
    EXPECT_EQ(s.link->Target(), s.date);
    WritePropertyReference(s.link, "Target", nullptr);
    EXPECT_EQ(s.link->Target(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// The grid's measures, worked out by hand

TEST(InspectorMetrics, RowsAndInPlaceControlsFollowTheTextHeight) {
    using namespace InspectorMetrics;
    EXPECT_EQ(RowHeight(13), 16);
    EXPECT_EQ(RowHeight(17), 20);
    EXPECT_EQ(InplaceHeight(13), 15);
    EXPECT_EQ(InplaceHeight(17), 19);
    // The design width 229: 114 - 10; an odd width rounds the half down.
    EXPECT_EQ(DefaultNameWidth(229), 104);
    EXPECT_EQ(DefaultNameWidth(180), 80);
    EXPECT_EQ(DefaultNameWidth(181), 80);
    // Over a cell at (104, 32), 120 x 16, of a 13-pixel text: 3 in, 1 down, to the cell's end,
    // its last line the cell's last line.
    const QRect inplace = InplaceRect(QRect(104, 32, 120, 16), 13);
    EXPECT_EQ(inplace, QRect(107, 33, 117, 15));
    EXPECT_EQ(inplace.bottom(), QRect(104, 32, 120, 16).bottom());
    EXPECT_EQ(InplaceRect(QRect(0, 0, 2, 16), 13).width(), 0);
}

TEST(InspectorMetrics, TheValueColumnTakesTheRestOfTheGrid) {
    using namespace InspectorMetrics;
    // 229 - 104 - 2 x 1 - 3 = 120; with a 17-pixel scroll bar 103.
    EXPECT_EQ(ValueColumnWidth(229, 104, 1, 17, true), 120);
    EXPECT_EQ(ValueColumnWidth(229, 104, 1, 17, false), 103);
    // Lines of 2 pixels: 229 - 104 - 4 - 3.
    EXPECT_EQ(ValueColumnWidth(229, 104, 2, 17, true), 118);
    // A name column over nearly the whole grid leaves nothing, never less.
    EXPECT_EQ(ValueColumnWidth(100, 95, 1, 17, true), 0);
    EXPECT_EQ(ValueColumnWidth(100, 96, 1, 17, true), 0);
    EXPECT_EQ(ValueColumnWidth(100, 60, 1, 17, false), 18);
    // 25 rows of 16 pixels fill 400 exactly; one more needs the scroll bar.
    EXPECT_TRUE(RowsFit(25, 16, 400));
    EXPECT_FALSE(RowsFit(26, 16, 400));
    EXPECT_TRUE(RowsFit(0, 16, 0));
    EXPECT_FALSE(RowsFit(1, 16, 15));
}

#include "ReferenceRowsTest.moc"
