// A pattern edited as a user edits it (placed from the palette, written in the inspector,
// changed in the brick dialogs), saved and read back, gives the same bricks.
#include "bricks/RegisterBricks.h"
#include "bricks/TText.h"
#include "designer/dialogs/BrickDialogs.h"
#include "designer/dialogs/ComponentEditors.h"
#include "designer/dialogs/DialogHooks.h"
#include "designer/state/TDesigner.h"
#include "designer/surface/DesignSurface.h"
#include "inspector/PropertyRows.h"
#include "patterns/file/PatternFile.h"
#include "platform/ComponentStream.h"
#include "platform/TFont.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDialog>
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

} // namespace

TEST(EditedPattern, SavedAndReadBackGivesTheSameBricks) {
    RegisterBricks();
    SurfaceFixture fixture(QSize(400, 300), 2.0);
    TDesigner& d = *fixture.designer;
    DesignSurface surface(d);
    d.resize(d.Picture.size());
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
    fprintf(stderr,"DBG before %d %d auto %d\n", bubble->width(), bubble->height(), int(static_cast<TText*>(bubble)->AutoSize()));
    EXPECT_TRUE(editors.Find(bubble)->Edit(bubble));
    fprintf(stderr,"DBG after %d %d\n", bubble->width(), bubble->height());
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
}
