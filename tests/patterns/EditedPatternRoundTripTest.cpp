// A pattern edited as a user edits it (placed from the palette, written in the inspector,
// changed in the brick dialogs), saved and read back, gives the same bricks.
#include "bricks/RegisterBricks.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "designer/dialogs/BrickDialogs.h"
#include "designer/dialogs/ComponentEditors.h"
#include "designer/dialogs/DialogHooks.h"
#include "designer/dialogs/PropertyEditors.h"
#include "designer/state/TDesigner.h"
#include "designer/surface/DesignSurface.h"
#include "designer/surface/DesignerBricks.h"
#include "inspector/PropertyRows.h"
#include "patterns/file/PatternFile.h"
#include "platform/ComponentStream.h"
#include "platform/TFont.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QSlider>
#include <gtest/gtest.h>

namespace {

QString streamText(const QObject* brick) {
    return ObjectBinaryToText(WriteComponentStream(brick));
}

void write(TInspectorModel& inspector, QObject* brick, const QString& property,
           const QString& text) {
    inspector.Inspect(brick);
    const int row = inspector.FindRow(property);
    ASSERT_GE(row, 0) << property.toStdString();
    inspector.WriteValue(row, text);
}

QMap<QString, QString> streamsOf(const TDesigner& d) {
    QMap<QString, QString> out;
    for (QWidget* brick : d.Bricks())
        out.insert(brick->objectName(), streamText(brick));
    return out;
}

// Saves the pattern and reads it onto a fresh surface at the same zoom.
std::unique_ptr<SurfaceFixture> savedAndReadBack(TDesigner& d, const QString& file) {
    WritePattern(file, d);
    auto other = std::make_unique<SurfaceFixture>(QSize(400, 300), d.ZoomRatio);
    ReadPattern(file, *other->designer);
    return other;
}

TTextBubble* onlyBubble(const TDesigner& d) {
    for (QWidget* brick : d.Bricks())
        if (auto* b = qobject_cast<TTextBubble*>(brick))
            return b;
    return nullptr;
}

// The text measured by Qt alone, in full-size pixels.
QSize inkOf(const TText& t) {
    const QFontMetrics m(t.Font()->toQFont());
    return m.boundingRect(QRect(), 0, QString(t.Caption()).remove(QLatin1Char('\r'))).size();
}

void expectFitsItsText(const TTextBubble& b, const char* when) {
    const QSize ink = inkOf(b);
    EXPECT_GT(b.Body.width(), ink.width()) << when;
    EXPECT_GT(b.Body.height(), ink.height()) << when;
    // Not much more than the text and its margins (a fifth, a third and the borders).
    EXPECT_LT(b.Body.width(), ink.width() * 3 / 2 + 8) << when;
    EXPECT_LT(b.Body.height(), ink.height() * 3 / 2 + 8) << when;
    EXPECT_GE(b.FullWidth, b.Body.right) << when;
    EXPECT_GE(b.FullHeight, b.Body.bottom) << when;
}

void chooseFont(const QString& name, int size, Tk::TFontStyles style) {
    EditorDialogs().ChooseFont = [=](TFont& f) {
        f.setName(name);
        f.setSize(size);
        f.setStyle(style);
        return true;
    };
}

} // namespace

TEST(EditedPattern, SavedAndReadBackGivesTheSameBricks) {
    RegisterBricks();
    SurfaceFixture fixture(QSize(400, 300), 2.0);
    TDesigner& d = *fixture.designer;
    DesignSurface surface(d);
    d.resize(d.PreviewSize());
    d.show();

    QWidget* text = surface.CreateBrick(QStringLiteral("TText"), QPoint(10, 10));
    QWidget* date = surface.CreateBrick(QStringLiteral("TTextDate"), QPoint(20, 60));
    QWidget* bubble = surface.CreateBrick(QStringLiteral("TTextBubble"), QPoint(90, 40));
    ASSERT_TRUE(text && date && bubble);

    TInspectorModel inspector;
    inspector.SetDesigner(&d);
    write(inspector, text, QStringLiteral("Caption"), QStringLiteral("Summer 2026"));
    write(inspector, text, QStringLiteral("Color"), QStringLiteral("Red"));
    write(inspector, text, QStringLiteral("Transparent"), QStringLiteral("False"));
    write(inspector, date, QStringLiteral("Left"), QStringLiteral("33"));
    write(inspector, bubble, QStringLiteral("Caption"), QStringLiteral("Hello!"));

    // The dialogs, answered as a user would: another font, another colour, Ok.
    EditorDialogs().ChooseFont = [](TFont& f) {
        f.setName(QStringLiteral("Liberation Serif"));
        f.setSize(28);
        f.setStyle(Tk::fsBold);
        return true;
    };
    EditorDialogs().ChooseColor = [](TColor& c) {
        c = 0x0080FF;
        return true;
    };
    EditorDialogs().Exec = [](QDialog& dialog) {
        auto* brickDialog = dynamic_cast<TBrickDialog*>(&dialog);
        if (!brickDialog)
            return int(QDialog::Rejected);
        brickDialog->EditFont();
        brickDialog->EditFontColor();
        return int(QDialog::Accepted);
    };
    TComponentEditorRegistry editors;
    RegisterBrickEditors(editors);
    EXPECT_TRUE(editors.Find(date)->Edit(date));
    EXPECT_TRUE(editors.Find(bubble)->Edit(bubble));
    ResetEditorDialogs();
    EXPECT_EQ(static_cast<TText*>(date)->Font()->Name(), "Liberation Serif");

    QMap<QString, QString> before;
    for (QWidget* brick : d.Bricks())
        before.insert(brick->objectName(), streamText(brick));
    ASSERT_EQ(before.size(), 3); // the tail marker is the bubble's, not a component

    const QString file = fixture.path(QStringLiteral("edited.xml"));
    WritePattern(file, d);

    SurfaceFixture other(QSize(400, 300), 2.0);
    ReadPattern(file, *other.designer);
    QMap<QString, QString> after;
    for (QWidget* brick : other.designer->Bricks())
        after.insert(brick->objectName(), streamText(brick));
    EXPECT_EQ(after.keys(), before.keys());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString();
    ASSERT_NE(onlyBubble(*other.designer), nullptr);
    EXPECT_EQ(onlyBubble(*other.designer)->Body, static_cast<TTextBubble*>(bubble)->Body);

    // Saving what was read and reading it again, over and over, changes nothing.
    std::unique_ptr<SurfaceFixture> current;
    TDesigner* from = other.designer.get();
    for (int cycle = 1; cycle <= 3; ++cycle) {
        current = savedAndReadBack(*from, fixture.path(QStringLiteral("cycle%1.xml").arg(cycle)));
        from = current->designer.get();
        EXPECT_EQ(streamsOf(*from), before) << "cycle " << cycle;
    }
}

// The bubble dialog's font and the inspector's font and caption re-fit the bubble to its text:
// a bigger font makes it bigger, a smaller one smaller, in whichever way it was changed.
TEST(EditedPattern, BubbleFitsItsTextAfterEveryFontOrCaptionChange) {
    RegisterBricks();
    SurfaceFixture fixture(QSize(400, 300), 2.0);
    TDesigner& d = *fixture.designer;
    DesignSurface surface(d);
    auto* bubble = qobject_cast<TTextBubble*>(
        surface.CreateBrick(QStringLiteral("TTextBubble"), QPoint(40, 40)));
    ASSERT_NE(bubble, nullptr);
    TInspectorModel inspector;
    inspector.SetDesigner(&d);
    TPropertyEditorRegistry propertyEditors;
    RegisterPropertyEditors(propertyEditors);
    inspector.SetEditors(&propertyEditors);
    write(inspector, bubble, QStringLiteral("Caption"), QStringLiteral("Hello!"));
    expectFitsItsText(*bubble, "caption");
    const QSize atDefault = bubble->size();

    EditorDialogs().Exec = [](QDialog& dialog) {
        if (auto* b = dynamic_cast<TBrickDialog*>(&dialog))
            b->EditFont();
        return int(QDialog::Accepted);
    };
    TComponentEditorRegistry editors;
    RegisterBrickEditors(editors);
    chooseFont(QStringLiteral("Liberation Serif"), 72, Tk::fsBold);
    ASSERT_TRUE(editors.Find(bubble)->Edit(bubble));
    expectFitsItsText(*bubble, "dialog 72 pt");
    const QSize at72 = bubble->size();
    EXPECT_GT(at72.width(), atDefault.width());
    EXPECT_GT(at72.height(), atDefault.height());

    chooseFont(QStringLiteral("Liberation Serif"), 12, Tk::TFontStyles());
    ASSERT_TRUE(editors.Find(bubble)->Edit(bubble));
    expectFitsItsText(*bubble, "dialog 12 pt");
    const QSize at12 = bubble->size();
    EXPECT_LT(at12.width(), atDefault.width());

    // The inspector's font editor writes the font's values one by one.
    chooseFont(QStringLiteral("Liberation Sans"), 60, Tk::fsItalic);
    inspector.Inspect(bubble);
    const int fontRow = inspector.FindRow(QStringLiteral("Font"));
    ASSERT_GE(fontRow, 0);
    ASSERT_TRUE(inspector.RunEditor(fontRow));
    EXPECT_EQ(bubble->Font()->Size(), 60);
    expectFitsItsText(*bubble, "inspector 60 pt");
    EXPECT_GT(bubble->width(), at12.width());

    write(inspector, bubble, QStringLiteral("Caption"), QStringLiteral("Hello!\r\nHow are you?"));
    expectFitsItsText(*bubble, "two lines");
    write(inspector, bubble, QStringLiteral("Caption"), QStringLiteral("Hi"));
    expectFitsItsText(*bubble, "short caption");
    ResetEditorDialogs();
}

// Every style, with the tail point on either side of the body, reads back at the size it had;
// the style is not stored, so the reader takes the one that gives back the stored size.
TEST(EditedPattern, BubbleOfEveryStyleAndTailSideReadsBackAtItsSize) {
    RegisterBricks();
    for (int style = 0; style <= 4; ++style) {
        for (const bool tailUpLeft : {false, true}) {
            SCOPED_TRACE(testing::Message() << "style " << style << (tailUpLeft ? " up-left" : ""));
            SurfaceFixture fixture(QSize(400, 300), 2.0);
            TDesigner& d = *fixture.designer;
            DesignSurface surface(d);
            auto* bubble = qobject_cast<TTextBubble*>(
                surface.CreateBrick(QStringLiteral("TTextBubble"), QPoint(120, 100)));
            ASSERT_NE(bubble, nullptr);
            TInspectorModel inspector;
            inspector.SetDesigner(&d);
            write(inspector, bubble, QStringLiteral("Caption"), QStringLiteral("Look here"));
            EditorDialogs().Exec = [style](QDialog& dialog) {
                auto& b = dynamic_cast<TOPropertyBubbleEditor&>(dialog);
                b.cbBubbleType->setCurrentIndex(b.cbBubbleType->findData(style));
                return int(QDialog::Accepted);
            };
            TComponentEditorRegistry editors;
            RegisterBrickEditors(editors);
            ASSERT_TRUE(editors.Find(bubble)->Edit(bubble));
            ResetEditorDialogs();
            ASSERT_EQ(bubble->Style, style);
            // The marker dragged as the surface does it: far right and below the body, or
            // above and left of it.
            TBubbleFrom* marker = bubble->Marker();
            ASSERT_NE(marker, nullptr);
            const QPoint to =
                tailUpLeft ? bubble->pos() - QPoint(30, 20) : bubble->pos() + QPoint(150, 80);
            marker->SetBounds(to.x(), to.y(), marker->Width(), marker->Height());
            TailMarkerMoved(d, marker);
            if (tailUpLeft) {
                ASSERT_EQ(bubble->FromX(), 0);
                ASSERT_EQ(bubble->FromY(), 0);
                ASSERT_GT(bubble->Body.left, 0);
                ASSERT_GT(bubble->Body.top, 0);
            } else {
                ASSERT_EQ(bubble->FromX(), 300);
                ASSERT_EQ(bubble->FromY(), 160);
            }
            expectFitsItsText(*bubble, "session");
            const QMap<QString, QString> before = streamsOf(d);

            auto read = savedAndReadBack(d, fixture.path(QStringLiteral("bubble.xml")));
            EXPECT_EQ(streamsOf(*read->designer), before);
            TTextBubble* loaded = onlyBubble(*read->designer);
            ASSERT_NE(loaded, nullptr);
            expectFitsItsText(*loaded, "loaded");
            // The two clouds have the same outline size: a think cloud may come back as a say
            // cloud.
            if (!tailUpLeft) {
                EXPECT_EQ(loaded->Style, style == 4 ? 2 : style) << "the size tells the style";
            }
            auto again =
                savedAndReadBack(*read->designer, fixture.path(QStringLiteral("again.xml")));
            EXPECT_EQ(streamsOf(*again->designer), before);
        }
    }
}
