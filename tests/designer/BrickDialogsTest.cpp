#include "designer/dialogs/BrickDialogs.h"

#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/dialogs/BrickSnapshot.h"
#include "designer/dialogs/ComponentEditors.h"
#include "designer/dialogs/DialogHooks.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/ImageCodecs.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "platform/ComponentStream.h"
#include "platform/TFont.h"
#include "tests/support/TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QToolButton>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QImage>
#include <QPlainTextEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimeZone>
#include <functional>
#include <gtest/gtest.h>

namespace {

QString streamText(const QObject* brick) {
    return ObjectBinaryToText(WriteComponentStream(brick));
}

// The values no stream carries, read straight from the brick.
struct Unpublished {
    int angle = 0, opacity = 0, fullWidth = 0, fullHeight = 0;
    double dateValue = 0;
    QString format;
    int fromX = 0, fromY = 0, style = 0;
    BubbleBox body;
    bool operator==(const Unpublished&) const = default;
};

Unpublished unpublished(const TText* t) {
    Unpublished u;
    u.angle = t->Angle;
    u.opacity = t->Opacity;
    u.fullWidth = t->FullWidth;
    u.fullHeight = t->FullHeight;
    if (auto* d = qobject_cast<const TTextDate*>(t)) {
        u.dateValue = d->DateValue;
        u.format = d->Format;
    }
    if (auto* tt = qobject_cast<const TTextTime*>(t)) {
        u.dateValue = tt->DateValue;
        u.format = tt->Format;
    }
    if (auto* b = qobject_cast<const TTextBubble*>(t)) {
        u.fromX = b->FromX();
        u.fromY = b->FromY();
        u.style = b->Style;
        u.body = b->Body;
    }
    return u;
}

// The whole brick, streamed and unpublished, to check that a cancel or an undo puts back
// exactly what was there.
struct AsItWas {
    explicit AsItWas(const TText* t) : stream(streamText(t)), rest(unpublished(t)) {}
    void expectRestored(const TText* t) const {
        EXPECT_EQ(streamText(t), stream);
        EXPECT_EQ(unpublished(t), rest);
    }
    QString stream;
    Unpublished rest;
};

void setUpText(TText& t, const QString& caption) {
    t.setName(QStringLiteral("Text1"));
    t.Font()->setName(QStringLiteral("DejaVu Sans"));
    t.Font()->setSize(20);
    t.Font()->setColor(0x00FF00);
    t.setCaption(caption);
    t.Opacity = 200;
    t.Angle = 0;
    t.FitToText();
}

// Answers the font and colour dialogs with fixed choices, and runs a dialog by handing it to
// a function that stands for the user.
class Hooks {
public:
    explicit Hooks(std::function<int(QDialog&)> user) {
        EditorDialogs().ChooseFont = [](TFont& f) {
            f.setName(QStringLiteral("DejaVu Serif"));
            f.setSize(31);
            f.setStyle(Tk::fsBold | Tk::fsItalic);
            return true;
        };
        EditorDialogs().ChooseColor = [](TColor& c) {
            c = 0x0000FF;
            return true;
        };
        EditorDialogs().Exec = std::move(user);
    }
    ~Hooks() { ResetEditorDialogs(); }
};

// The common controls, all changed; checks each reached the brick.
void changeCommon(TBrickDialog& d) {
    TText* b = d.Brick();
    d.EditFont();
    EXPECT_EQ(b->Font()->Name(), "DejaVu Serif");
    EXPECT_EQ(d.lblFontStyle->text(), "Bold Italic ");
    d.EditFontColor();
    EXPECT_EQ(b->Font()->Color(), 0x0000FF);
    d.trbTransp->setValue(17);
    EXPECT_EQ(b->Opacity, 17);
}

struct Commit {
    int calls = 0;
    BrickSnapshot before, after;
    QObject* brick = nullptr;
    BrickCommit hook() {
        return [this](QObject* b, const BrickSnapshot& x, const BrickSnapshot& y) {
            ++calls;
            brick = b;
            before = x;
            after = y;
        };
    }
};

} // namespace

TEST(BrickDialogs, FontStyleText) {
    EXPECT_EQ(FontStyleText(0), "Normal");
    EXPECT_EQ(FontStyleText(Tk::fsBold | Tk::fsStrikeOut), "Bold Strike Out ");
    EXPECT_EQ(FontStyleText(Tk::fsBold | Tk::fsItalic | Tk::fsUnderline | Tk::fsStrikeOut),
              "Bold Italic Underline Strike Out ");
}

TEST(BrickDialogs, TextCancelRestoresEverythingOkCommitsOnce) {
    for (const bool ok : {false, true}) {
        TText t;
        setUpText(t, QStringLiteral("Hello"));
        t.setAlignment(Tk::taCenter);
        const AsItWas before(&t);
        const BrickSnapshot snap = TakeBrickSnapshot(&t);
        Hooks hooks([&](QDialog& dialog) {
            auto& d = dynamic_cast<TOPropertyStringsEditor&>(dialog);
            EXPECT_EQ(d.windowTitle(), "Text options");
            EXPECT_EQ(d.RichEdit1->toPlainText(), "Hello");
            EXPECT_EQ(d.trbTransp->value(), 200);
            changeCommon(d);
            d.RichEdit1->setPlainText(QStringLiteral("Other\nlines"));
            EXPECT_EQ(t.Caption(), "Other\nlines");
            d.spedAngel->setValue(-180);
            EXPECT_EQ(t.Angle, -1800);
            EXPECT_NE(streamText(&t), before.stream);
            return ok ? QDialog::Accepted : QDialog::Rejected;
        });
        TOTextComponentEditor editor;
        EXPECT_TRUE(editor.EditsOnCreate && editor.EditsOnRequest);
        Commit commit;
        editor.OnCommit = commit.hook();
        EXPECT_EQ(editor.Edit(&t), ok);
        if (!ok) {
            before.expectRestored(&t);
            EXPECT_EQ(commit.calls, 0);
        } else {
            EXPECT_EQ(commit.calls, 1);
            EXPECT_EQ(commit.brick, &t);
            EXPECT_TRUE(commit.before == snap);
            EXPECT_TRUE(commit.after == TakeBrickSnapshot(&t));
            EXPECT_EQ(t.Caption(), "Other\nlines");
            EXPECT_EQ(t.Angle, -1800);
            // Restoring the "before" half gives the brick as it was: what undo will do.
            RestoreBrickSnapshot(&t, commit.before);
            before.expectRestored(&t);
        }
    }
}

TEST(BrickDialogs, RotationReopensAsWholeDegrees) {
    TText t;
    setUpText(t, QStringLiteral("Turn"));
    t.Angle = -1800;
    TOPropertyStringsEditor d(&t);
    EXPECT_EQ(d.spedAngel->value(), -180);
    t.Angle = 455; // the remainder is dropped
    TOPropertyStringsEditor d2(&t);
    EXPECT_EQ(d2.spedAngel->value(), 45);
}

TEST(BrickDialogs, DateCancelRestoresFormatAndCaption) {
    for (const bool ok : {false, true}) {
        TTextDate t;
        setUpText(t, QStringLiteral("1980-01-02"));
        t.DateValue = DateTimeToValue(QDateTime(QDate(1980, 1, 2), QTime(0, 0), QTimeZone::utc()));
        t.Format = QStringLiteral("yyyy-MM-dd");
        const AsItWas before(&t);
        Hooks hooks([&](QDialog& dialog) {
            auto& d = dynamic_cast<TOPropertyDateEditor&>(dialog);
            EXPECT_EQ(d.windowTitle(), "Date options");
            EXPECT_EQ(d.ComboBox1->count(), 14);
            EXPECT_EQ(d.ComboBox1->currentIndex(), 13);
            EXPECT_EQ(d.ComboBox1->itemText(13), "1980-01-02");
            changeCommon(d);
            d.ComboBox1->setCurrentIndex(12); // MMMM d, yyyy
            EXPECT_EQ(t.Format, "MMMM d, yyyy");
            EXPECT_EQ(t.Caption(), FormatDateTimeText(QStringLiteral("MMMM d, yyyy"), t.DateValue));
            d.DateTimePicker1->setDate(QDate(2001, 5, 6));
            EXPECT_EQ(ValueToDateTime(t.DateValue).date(), QDate(2001, 5, 6));
            EXPECT_EQ(t.Caption(), FormatDateTimeText(QStringLiteral("MMMM d, yyyy"), t.DateValue));
            return ok ? QDialog::Accepted : QDialog::Rejected;
        });
        TOTextDateComponentEditor editor;
        Commit commit;
        editor.OnCommit = commit.hook();
        editor.Edit(&t);
        if (!ok) {
            before.expectRestored(&t);
            EXPECT_EQ(commit.calls, 0);
        } else {
            EXPECT_EQ(commit.calls, 1);
            EXPECT_EQ(commit.before.Format, "yyyy-MM-dd");
            EXPECT_EQ(commit.after.Format, "MMMM d, yyyy");
            EXPECT_EQ(ValueToDateTime(commit.after.DateValue).date(), QDate(2001, 5, 6));
        }
    }
}

TEST(BrickDialogs, DateWithoutFormatOpensWithSettingsFormat) {
    const QString saved = Settings().defaultDateFormat;
    Settings().defaultDateFormat = QStringLiteral("d-MMM-yyyy");
    TTextDate t;
    setUpText(t, QStringLiteral("x"));
    t.DateValue = 30000;
    TOPropertyDateEditor d(&t);
    EXPECT_EQ(d.PickerFormat(), "d-MMM-yyyy");
    EXPECT_EQ(d.DateTimePicker1->displayFormat(), "d-MMM-yyyy");
    EXPECT_EQ(d.ComboBox1->currentIndex(), 6);
    EXPECT_EQ(t.Caption(), "x"); // opening changes nothing
    Settings().defaultDateFormat = saved;
}

TEST(BrickDialogs, TimeFormatIndexAndCancel) {
    const QString saved = Settings().defaultTimeFormat;
    Settings().defaultTimeFormat.clear();
    TTextTime t;
    setUpText(t, QStringLiteral("12:34"));
    t.DateValue = 30000.5;
    {
        TOPropertyTimeEditor d(&t);
        EXPECT_EQ(d.windowTitle(), "Time Options");
        EXPECT_EQ(d.FormatIndex(), 1);
        EXPECT_EQ(d.ComboBox1->currentIndex(), 1);
        EXPECT_EQ(Settings().defaultTimeFormat, "1");
    }
    t.Format = QStringLiteral("3");
    const AsItWas before(&t);
    Hooks hooks([&](QDialog& dialog) {
        auto& d = dynamic_cast<TOPropertyTimeEditor&>(dialog);
        EXPECT_EQ(d.ComboBox1->currentIndex(), 3);
        changeCommon(d);
        d.ComboBox1->setCurrentIndex(2);
        EXPECT_EQ(t.Format, "2");
        EXPECT_EQ(t.Caption(), "12:00");
        return QDialog::Rejected;
    });
    TOTextTimeComponentEditor editor;
    Commit commit;
    editor.OnCommit = commit.hook();
    EXPECT_FALSE(editor.Edit(&t));
    before.expectRestored(&t);
    EXPECT_EQ(commit.calls, 0);
    Settings().defaultTimeFormat = saved;
}

TEST(BrickDialogs, TheTimeFieldSetsTheBricksTimeAndOkKeepsIt) {
    TTextTime t;
    setUpText(t, QStringLiteral("12:00:00"));
    t.Format = QStringLiteral("5"); // hh:mm:ss
    // 30000.5: 18 February 1982, 12:00.
    t.DateValue = 30000.5;
    Hooks hooks([&](QDialog& dialog) {
        auto& d = dynamic_cast<TOPropertyTimeEditor&>(dialog);
        d.DateTimePicker1->setTime(QTime(8, 9, 10));
        EXPECT_EQ(t.Caption(), "08:09:10");
        // 8:09:10 is 29350 s of 86400.
        EXPECT_NEAR(t.DateValue, 30000 + 29350.0 / 86400, 1e-9);
        EXPECT_EQ(d.DateTimePicker1->date(), QDate(1982, 2, 18)) << "the day stays";
        return QDialog::Accepted;
    });
    TOTextTimeComponentEditor editor;
    Commit commit;
    editor.OnCommit = commit.hook();
    EXPECT_TRUE(editor.Edit(&t));
    EXPECT_EQ(t.Caption(), "08:09:10");
    EXPECT_EQ(commit.calls, 1);
    EXPECT_NEAR(commit.after.DateValue, 30000 + 29350.0 / 86400, 1e-9);
    EXPECT_DOUBLE_EQ(commit.before.DateValue, 30000.5);
}

TEST(BrickDialogs, ABricksDialogOpensCentredOnTheWindowTheBrickIsIn) {
    QWidget window;
    window.setGeometry(100, 80, 900, 700);
    auto* t = new TText(&window);
    setUpText(*t, QStringLiteral("Centre"));
    window.show();
    QRect placed;
    QWidget* parent = nullptr;
    Hooks hooks([&](QDialog& dialog) {
        parent = dialog.parentWidget();
        PlaceOverOwner(dialog);
        placed = dialog.frameGeometry();
        return QDialog::Rejected;
    });
    TOTextComponentEditor editor;
    editor.Edit(t);
    EXPECT_EQ(parent, &window);
    ASSERT_TRUE(placed.isValid());
    EXPECT_LE(std::abs(placed.center().x() - window.frameGeometry().center().x()), 1);
    EXPECT_LE(std::abs(placed.center().y() - window.frameGeometry().center().y()), 1);
}

TEST(BrickDialogs, BubbleCancelRestoresStyleTailAndText) {
    for (const bool ok : {false, true}) {
        TTextBubble b;
        setUpText(b, QStringLiteral("Say"));
        b.setFromX(300);
        b.setFromY(250);
        b.Style = 2;
        b.FitToText();
        const AsItWas before(&b);
        Hooks hooks([&](QDialog& dialog) {
            auto& d = dynamic_cast<TOPropertyBubbleEditor&>(dialog);
            EXPECT_EQ(d.windowTitle(), "Bubble options");
            EXPECT_EQ(d.cbBubbleType->currentIndex(), 2);
            EXPECT_EQ(d.cbBubbleType->itemData(4).toInt(), 4);
            changeCommon(d);
            d.cbBubbleType->setCurrentIndex(4);
            EXPECT_EQ(b.Style, 4);
            d.RichEdit1->setPlainText(QStringLiteral("Two\nlines\n"));
            EXPECT_EQ(b.Caption(), "Two\nlines"); // a trailing break adds no line
            return ok ? QDialog::Accepted : QDialog::Rejected;
        });
        TOBubbleComponentEditor editor;
        Commit commit;
        editor.OnCommit = commit.hook();
        editor.Edit(&b);
        if (!ok) {
            before.expectRestored(&b);
            EXPECT_EQ(commit.calls, 0);
        } else {
            EXPECT_EQ(commit.calls, 1);
            EXPECT_EQ(commit.before.Style, 2);
            EXPECT_EQ(commit.after.Style, 4);
            EXPECT_EQ(commit.before.FromX, 300);
        }
    }
}

TEST(BrickDialogs, BubbleText) {
    EXPECT_EQ(BubbleTextFromEditor(QStringLiteral("a\r\n")), "a");
    EXPECT_EQ(BubbleTextFromEditor(QStringLiteral("ab\n")), "ab");
    EXPECT_EQ(BubbleTextFromEditor(QStringLiteral("ab")), "ab");
    EXPECT_EQ(BubbleTextFromEditor(QString()), "");
}

TEST(BrickDialogs, PictureBrickLoadsAndSizes) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("logo.bmp"));
    QImage logo(40, 30, QImage::Format_RGB32);
    logo.fill(Qt::red);
    ASSERT_TRUE(logo.save(file, "BMP"));

    TPictureimg p;
    QString offered, filter;
    EditorDialogs().OpenFile = [&](const FileDialogRequest& r) {
        offered = r.selectedFilter;
        filter = r.filter;
        return QString();
    };
    TOPictureComponentEditor editor;
    Commit commit;
    editor.OnCommit = commit.hook();
    p.SetBounds(5, 5, 65, 65);
    EXPECT_FALSE(editor.Edit(&p)); // cancelled: sized from the empty picture
    EXPECT_EQ(offered, "All images (*.bmp *.jpg *.jpeg *.png *.gif *.ico)");
    // Logos come as PNG and GIF as often as anything.
    EXPECT_TRUE(filter.split(";;").contains("PNG Images (*.png)")) << filter.toStdString();
    EXPECT_TRUE(filter.split(";;").contains("GIF Images (*.gif)")) << filter.toStdString();
    EXPECT_TRUE(filter.endsWith(offered));
    EXPECT_EQ(p.Width(), 0);
    EXPECT_EQ(p.FullWidth, 0);
    EXPECT_EQ(commit.calls, 1); // the size changed

    EditorDialogs().OpenFile = [&](const FileDialogRequest&) { return file; };
    EXPECT_TRUE(editor.Edit(&p));
    EXPECT_EQ(p.Picture()->image().size(), QSize(40, 30));
    EXPECT_EQ(p.FullWidth, 40);
    EXPECT_EQ(p.FullHeight, 30);
    EXPECT_EQ(p.Width(), 40); // zoom 1 off a surface
    EXPECT_EQ(commit.calls, 2);
    EXPECT_EQ(commit.after.FullWidth, 40);

    // A PNG with transparency and a GIF load as the filter offers them.
    QImage mark(24, 12, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    const QString png = dir.filePath(QStringLiteral("mark.png"));
    const QString gif = dir.filePath(QStringLiteral("mark.gif"));
    ASSERT_TRUE(mark.save(png, "PNG"));
    WriteFileBytes(gif, EncodeGif(logo.scaled(16, 8)));
    for (const auto& [name, size] : {std::pair{png, QSize(24, 12)}, std::pair{gif, QSize(16, 8)}}) {
        EditorDialogs().OpenFile = [&](const FileDialogRequest&) { return name; };
        EXPECT_TRUE(editor.Edit(&p)) << name.toStdString();
        EXPECT_EQ(p.Picture()->image().size(), size) << name.toStdString();
        EXPECT_EQ(p.FullWidth, size.width());
    }
    ResetEditorDialogs();
}

TEST(BrickDialogs, RegistryFindsByExactClass) {
    TComponentEditorRegistry registry;
    RegisterBrickEditors(registry);
    TText t;
    TTextDate d;
    TTextBubble b;
    EXPECT_EQ(registry.Find(&t)->GetClassName(), "TText");
    EXPECT_EQ(registry.Find(&d)->GetClassName(), "TTextDate");
    EXPECT_EQ(registry.Find(&b)->GetClassName(), "TTextBubble");
    EXPECT_EQ(registry.Find(QStringLiteral("TBubbleFrom")), nullptr);
}

namespace {
TEST(BrickDialogs, InsertFieldListsThePhotosValuesAndTypesTheField) {
    QTemporaryDir dir;
    const QString photo = dir.filePath("DSCF0001.jpg");
    {
        QFile f(photo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(withExif(EncodeJpeg(makeTestPhoto(64, 48), 90),
                         {{0x0110, "X-T5"}, {0x0132, "2026:03:29 18:42:07"}}));
    }
    TDesigner designer;
    designer.OpenImage(photo, 1.0);
    auto* brick = new TText(designer.Panel1);
    designer.AddComponent(brick);
    brick->setCaption("At ");

    TOPropertyStringsEditor dialog(brick);
    auto* button = dialog.findChild<QToolButton*>("btnInsertField");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Insert field");
    ASSERT_NE(button->menu(), nullptr);
    QHash<QString, QAction*> byField;
    for (QAction* a : button->menu()->actions())
        byField.insert(a->data().toString(), a);
    ASSERT_TRUE(byField.contains("{Model}"));
    EXPECT_EQ(byField["{Model}"]->text(), "{Model}\tX-T5");
    EXPECT_EQ(byField["{Date:yyyy-MM-dd}"]->text(), "{Date:yyyy-MM-dd}\t2026-03-29");
    EXPECT_EQ(byField["{Time:HH:mm:ss}"]->text(), "{Time:HH:mm:ss}\t18:42:07");
    EXPECT_EQ(byField["{FileName}"]->text(), "{FileName}\tDSCF0001.jpg");
    // A field the photo lacks is listed without a value.
    EXPECT_EQ(byField["{Lens}"]->text(), "{Lens}");

    dialog.RichEdit1->moveCursor(QTextCursor::End);
    byField["{Model}"]->trigger();
    EXPECT_EQ(dialog.RichEdit1->toPlainText(), "At {Model}");
    EXPECT_EQ(brick->Caption(), "At {Model}");
    designer.RemoveComponent(brick);
    delete brick;
}
} // namespace
