#include "designer/dialogs/PropertyEditors.h"

#include "bricks/RegisterBricks.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/dialogs/BrickDialogs.h"
#include "designer/dialogs/DialogHooks.h"
#include "patterns/settings/DateTimeFormats.h"
#include "platform/Errors.h"
#include "platform/PublishedProperties.h"
#include "platform/TFont.h"

#include <QCheckBox>
#include <QImage>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

// A scroll bar as a window publishes it.
class TControlScrollBar : public QObject {
    Q_OBJECT
    Q_PROPERTY(int ButtonSize READ ButtonSize WRITE setButtonSize)
    Q_PROPERTY(int Range READ Range WRITE setRange)
    Q_PROPERTY(bool Visible READ Visible WRITE setVisible)

public:
    using QObject::QObject;
    int ButtonSize() const { return m_button; }
    int Range() const { return m_range; }
    bool Visible() const { return m_visible; }
    void setButtonSize(int v) { m_button = v; }
    void setRange(int v) { m_range = v; }
    void setVisible(bool v) { m_visible = v; }

private:
    int m_button = 0, m_range = 100;
    bool m_visible = true;
};

class TStrings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE setText)

public:
    using QObject::QObject;
    QString Text() const { return m_text; }
    void setText(const QString& v) { m_text = v; }

private:
    QString m_text;
};

class TWindowLike : public QObject {
    Q_OBJECT
    Q_PROPERTY(TControlScrollBar* HorzScrollBar READ HorzScrollBar)
    Q_PROPERTY(TStrings* Lines READ Lines)

public:
    TControlScrollBar* HorzScrollBar() const { return m_bar; }
    TStrings* Lines() const { return m_lines; }

private:
    TControlScrollBar* m_bar = new TControlScrollBar(this);
    TStrings* m_lines = new TStrings(this);
};

namespace {

struct Write {
    QString name, oldText, newText;
};

// Records every write and group, and performs the writes.
class RecordingWriter : public PropertyWriter {
public:
    void WriteProperty(QObject* object, const QString& name, const QString& oldText,
                       const QString& newText) override {
        EXPECT_TRUE(inGroup || groups == 0);
        writes.append({name, oldText, newText});
        WritePropertyText(object, name, newText);
    }
    void BeginGroup(const QString&) override {
        EXPECT_FALSE(inGroup);
        inGroup = true;
        ++groups;
    }
    void EndGroup() override { inGroup = false; }
    QList<Write> writes;
    int groups = 0;
    bool inGroup = false;
};

struct Fixture {
    TPropertyEditorRegistry registry;
    TInspectorModel model;
    RecordingWriter writer;
    explicit Fixture(QObject* object) {
        RegisterPropertyEditors(registry);
        model.SetEditors(&registry);
        model.SetWriter(&writer);
        model.Inspect(object);
    }
    int row(const char* name) {
        const int r = model.FindRow(QLatin1String(name));
        EXPECT_GE(r, 0) << name;
        return r;
    }
};

struct ResetHooks {
    ~ResetHooks() { ResetEditorDialogs(); }
};

} // namespace

TEST(PropertyEditors, ColorNamesAndDialog) {
    ResetHooks reset;
    TText t;
    t.setColor(clBtnFace);
    Fixture f(&t);
    const int r = f.row("Color");
    EXPECT_TRUE(f.model.Rows()[r].HasEditor);
    EXPECT_EQ(f.model.DisplayText(r), "BtnFace");
    EXPECT_TRUE(f.model.Rows()[r].ValueList.isEmpty());

    TColor offered = 0;
    EditorDialogs().ChooseColor = [&](TColor& c) {
        offered = c;
        return false;
    };
    EXPECT_FALSE(f.model.RunEditor(r));
    EXPECT_EQ(offered, clBtnFace);
    EXPECT_TRUE(f.writer.writes.isEmpty());

    EditorDialogs().ChooseColor = [](TColor& c) {
        c = 0x123456;
        return true;
    };
    EXPECT_TRUE(f.model.RunEditor(r));
    ASSERT_EQ(f.writer.writes.size(), 1);
    EXPECT_EQ(f.writer.writes[0].name, "Color");
    EXPECT_EQ(f.writer.writes[0].newText, QString::number(0x123456));
    EXPECT_EQ(t.Color(), 0x123456);
    EXPECT_EQ(f.model.DisplayText(r), "Custom");

    f.model.WriteValue(r, QStringLiteral("Red"));
    EXPECT_EQ(f.writer.writes.last().newText, "clRed");
    EXPECT_EQ(f.model.Rows()[r].ValueText, QString::number(0x0000FF));
    EXPECT_EQ(f.model.DisplayText(r), "Red");
}

TEST(PropertyEditors, CursorDialog) {
    ResetHooks reset;
    TText t;
    Fixture f(&t);
    const int r = f.row("Cursor");
    EXPECT_EQ(f.model.Rows()[r].ValueList, CursorIdents());
    EXPECT_EQ(f.model.DisplayText(r), "crDefault");
    EditorDialogs().Exec = [](QDialog& dialog) {
        auto& d = dynamic_cast<TOPropertyCursorEditor&>(dialog);
        EXPECT_EQ(d.windowTitle(), "The are cursors");
        EXPECT_EQ(d.List->currentItem()->text(), "crDefault");
        d.List->setCurrentItem(d.List->findItems(QStringLiteral("crHandPoint"), Qt::MatchExactly)[0]);
        EXPECT_EQ(d.TestPanel->cursor().shape(), CursorShapeFor(*IdentToCursor("crHandPoint")));
        return QDialog::Rejected;
    };
    EXPECT_FALSE(f.model.RunEditor(r));
    EXPECT_TRUE(f.writer.writes.isEmpty());
    EditorDialogs().Exec = [](QDialog& dialog) {
        auto& d = dynamic_cast<TOPropertyCursorEditor&>(dialog);
        d.List->setCurrentItem(d.List->findItems(QStringLiteral("crHandPoint"), Qt::MatchExactly)[0]);
        return QDialog::Accepted;
    };
    EXPECT_TRUE(f.model.RunEditor(r));
    ASSERT_EQ(f.writer.writes.size(), 1);
    EXPECT_EQ(f.writer.writes[0].newText, QString::number(*IdentToCursor("crHandPoint")));
    EXPECT_EQ(t.Cursor(), *IdentToCursor("crHandPoint"));
    EXPECT_EQ(f.model.DisplayText(r), "crHandPoint");
}

TEST(PropertyEditors, FontWritesChangedValuesAsOneGroup) {
    ResetHooks reset;
    TText t;
    t.Font()->setName(QStringLiteral("DejaVu Sans"));
    Fixture f(&t);
    const int r = f.row("Font");
    EXPECT_FALSE(f.model.Rows()[r].ValueList.isEmpty()); // the installed fonts
    EditorDialogs().ChooseFont = [](TFont& font) {
        font.setName(QStringLiteral("Changed"));
        return false;
    };
    EXPECT_FALSE(f.model.RunEditor(r));
    EXPECT_TRUE(f.writer.writes.isEmpty());
    EXPECT_EQ(t.Font()->Name(), "DejaVu Sans");

    EditorDialogs().ChooseFont = [](TFont& font) {
        font.setName(QStringLiteral("DejaVu Serif"));
        font.setStyle(Tk::fsBold);
        return true;
    };
    EXPECT_TRUE(f.model.RunEditor(r));
    EXPECT_EQ(f.writer.groups, 1);
    ASSERT_EQ(f.writer.writes.size(), 2);
    EXPECT_EQ(f.writer.writes[0].name, "Font.Name");
    EXPECT_EQ(f.writer.writes[0].oldText, "DejaVu Sans");
    EXPECT_EQ(f.writer.writes[1].name, "Font.Style");
    EXPECT_EQ(f.writer.writes[1].newText, "[fsBold]");
    EXPECT_EQ(t.Font()->Name(), "DejaVu Serif");
}

TEST(PropertyEditors, CaptionTrimmed) {
    ResetHooks reset;
    TText t;
    t.setCaption(QStringLiteral("Old"));
    Fixture f(&t);
    const int r = f.row("Caption");
    EXPECT_EQ(f.model.Rows()[r].TypeName, "TCaption");
    EXPECT_EQ(f.model.DisplayText(r), "Old");
    EditorDialogs().Exec = [](QDialog& dialog) {
        auto& d = dynamic_cast<TOPropertyStringsEditor&>(dialog);
        EXPECT_EQ(d.windowTitle(), "Text options");
        EXPECT_EQ(d.RichEdit1->toPlainText(), "Old");
        d.RichEdit1->setPlainText(QStringLiteral("  New text\n"));
        return QDialog::Rejected;
    };
    EXPECT_FALSE(f.model.RunEditor(r));
    EXPECT_TRUE(f.writer.writes.isEmpty());
    EXPECT_EQ(t.Caption(), "Old");
    EditorDialogs().Exec = [](QDialog& dialog) {
        dynamic_cast<TOPropertyStringsEditor&>(dialog).RichEdit1->setPlainText(
            QStringLiteral("  New text\n"));
        return QDialog::Accepted;
    };
    EXPECT_TRUE(f.model.RunEditor(r));
    ASSERT_EQ(f.writer.writes.size(), 1);
    EXPECT_EQ(f.writer.writes[0].newText, "New text");
    EXPECT_EQ(t.Caption(), "New text");
}

TEST(PropertyEditors, ConstraintsAndPicture) {
    ResetHooks reset;
    RegisterBricks(); // the picture codec, as the program has it
    TPictureimg p;
    p.Constraints()->setMinWidth(3);
    Fixture f(&p);
    const int c = f.row("Constraints");
    EditorDialogs().Exec = [](QDialog& dialog) {
        auto& d = dynamic_cast<TOPropertyConstraintsEditor&>(dialog);
        EXPECT_EQ(d.MinWidth->value(), 3);
        d.MaxHeight->setValue(100);
        return QDialog::Rejected;
    };
    EXPECT_FALSE(f.model.RunEditor(c));
    EXPECT_TRUE(f.writer.writes.isEmpty());
    EditorDialogs().Exec = [](QDialog& dialog) {
        dynamic_cast<TOPropertyConstraintsEditor&>(dialog).MaxHeight->setValue(100);
        return QDialog::Accepted;
    };
    EXPECT_TRUE(f.model.RunEditor(c));
    ASSERT_EQ(f.writer.writes.size(), 1);
    EXPECT_EQ(f.writer.writes[0].name, "Constraints.MaxHeight");
    EXPECT_EQ(p.Constraints()->MaxHeight(), 100);
    EXPECT_EQ(p.Constraints()->MinWidth(), 3);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.bmp"));
    QImage img(12, 7, QImage::Format_RGB32);
    img.fill(Qt::blue);
    ASSERT_TRUE(img.save(file, "BMP"));
    const int pic = f.row("Picture");
    EXPECT_EQ(f.model.DisplayText(pic), "(Picture)");
    f.writer.writes.clear();
    EditorDialogs().OpenFile = [](const FileDialogRequest& r) {
        EXPECT_EQ(r.title, "Picture");
        return QString();
    };
    EXPECT_FALSE(f.model.RunEditor(pic));
    EXPECT_TRUE(f.writer.writes.isEmpty());
    EditorDialogs().OpenFile = [&](const FileDialogRequest&) { return file; };
    EXPECT_TRUE(f.model.RunEditor(pic));
    ASSERT_EQ(f.writer.writes.size(), 1);
    EXPECT_EQ(f.writer.writes[0].name, "Picture.Data");
    EXPECT_EQ(p.Picture()->image().size(), QSize(12, 7));
}

TEST(PropertyEditors, ScrollBarPendingWhileOpenWritesInOrder) {
    ResetHooks reset;
    TWindowLike w;
    Fixture f(&w);
    const int r = f.row("HorzScrollBar");
    auto* editor = dynamic_cast<TOScrollBarEditor*>(f.model.EditorOf(r));
    ASSERT_NE(editor, nullptr);
    EditorDialogs().Exec = [&](QDialog& dialog) {
        auto& d = dynamic_cast<TOPropertyScrollBarEditor&>(dialog);
        EXPECT_EQ(f.registry.PendingEditor(), editor);
        EXPECT_EQ(d.Range->value(), 100);
        EXPECT_TRUE(d.Visible->isChecked());
        // A write from the inspector meanwhile refreshes the open dialog.
        w.HorzScrollBar()->setRange(120);
        f.registry.NotifyPendingEditor();
        EXPECT_EQ(d.Range->value(), 120);
        d.Visible->setChecked(false);
        d.ButtonSize->setValue(9);
        return QDialog::Accepted;
    };
    EXPECT_TRUE(f.model.RunEditor(r));
    EXPECT_EQ(editor->ChangedCount(), 1);
    EXPECT_EQ(f.registry.PendingEditor(), nullptr);
    ASSERT_EQ(f.writer.writes.size(), 2);
    EXPECT_EQ(f.writer.writes[0].name, "HorzScrollBar.ButtonSize");
    EXPECT_EQ(f.writer.writes[1].name, "HorzScrollBar.Visible");
    EXPECT_FALSE(w.HorzScrollBar()->Visible());

    // Cancel writes nothing; a failing dialog leaves no pending editor behind.
    f.writer.writes.clear();
    EditorDialogs().Exec = [](QDialog&) { return QDialog::Rejected; };
    EXPECT_FALSE(f.model.RunEditor(r));
    EXPECT_TRUE(f.writer.writes.isEmpty());
    EditorDialogs().Exec = [](QDialog&) -> int { throw std::runtime_error("gone"); };
    EXPECT_THROW(f.model.RunEditor(r), std::runtime_error);
    EXPECT_EQ(f.registry.PendingEditor(), nullptr);
}

TEST(PropertyEditors, StringsLines) {
    ResetHooks reset;
    TWindowLike w;
    w.Lines()->setText(QStringLiteral("a\r\nb\r\n"));
    Fixture f(&w);
    const int r = f.row("Lines");
    EditorDialogs().Exec = [](QDialog& dialog) {
        auto& d = dynamic_cast<TOPropertyStringsEditor&>(dialog);
        d.RichEdit1->setPlainText(QStringLiteral("x\ny"));
        return QDialog::Rejected;
    };
    EXPECT_FALSE(f.model.RunEditor(r));
    EXPECT_TRUE(f.writer.writes.isEmpty());
    EditorDialogs().Exec = [](QDialog& dialog) {
        dynamic_cast<TOPropertyStringsEditor&>(dialog).RichEdit1->setPlainText(
            QStringLiteral("x\ny"));
        return QDialog::Accepted;
    };
    EXPECT_TRUE(f.model.RunEditor(r));
    EXPECT_EQ(w.Lines()->Text(), "x\r\ny\r\n");
}

#include "PropertyEditorsTest.moc"

// The brick values the dialogs edit have rows of their own: a list of names for a stored number,
// the catalogue for a format; no dialog behind them.
TEST(PropertyEditors, BubbleStyleIsChosenByItsName) {
    TTextBubble bubble;
    bubble.Style = 1;
    Fixture f(&bubble);
    const int r = f.row("BubbleStyle");
    EXPECT_FALSE(f.model.Rows()[r].HasDialog);
    EXPECT_EQ(f.model.DisplayText(r), "Say rectange");
    EXPECT_EQ(f.model.DisplayList(r), QStringList({"Say ellipse", "Say rectange", "Say cloud",
                                                   "Think ellipse", "Think cloud"}));
    EXPECT_TRUE(f.model.IsDefault(r)) << "a new bubble's style stores nothing";
    f.model.WriteValue(r, QStringLiteral("Think cloud"));
    EXPECT_EQ(bubble.Style, 4);
    ASSERT_EQ(f.writer.writes.size(), 1);
    EXPECT_EQ(f.writer.writes[0].newText, "4") << "the stored form is the number";
    EXPECT_EQ(f.model.DisplayText(r), "Think cloud");
    // A number is taken as it is; a name or number outside the catalogue is refused.
    f.model.WriteValue(r, QStringLiteral("0"));
    EXPECT_EQ(bubble.Style, 0);
    EXPECT_THROW(f.model.WriteValue(r, QStringLiteral("Shout")), Exception);
    EXPECT_THROW(f.model.WriteValue(r, QStringLiteral("5")), Exception);
    EXPECT_EQ(bubble.Style, 0);
}

TEST(PropertyEditors, DateAndTimeFormatsComeFromTheCatalogues) {
    TTextDate date;
    date.DateValue = DateTimeToValue(QDateTime(QDate(2006, 5, 2), QTime()));
    Fixture fd(&date);
    const int r = fd.row("Format");
    EXPECT_FALSE(fd.model.Rows()[r].HasDialog);
    ASSERT_EQ(fd.model.DisplayList(r).size(), 14);
    EXPECT_EQ(fd.model.DisplayList(r)[0], QLatin1String(kSystemDateFormatText));
    EXPECT_EQ(fd.model.DisplayList(r)[13], "yyyy-MM-dd");
    EXPECT_EQ(fd.model.DisplayText(r), QLatin1String(kSystemDateFormatText));
    fd.model.WriteValue(r, QStringLiteral("yyyy-MM-dd"));
    EXPECT_EQ(date.Format, "yyyy-MM-dd");
    EXPECT_EQ(date.Caption(), "2006-05-02") << "the brick shows its value in the new format";
    // Any format may be typed; the system entry writes the empty format back.
    fd.model.WriteValue(r, QStringLiteral("d MMM"));
    EXPECT_EQ(date.Format, "d MMM");
    fd.model.WriteValue(r, QLatin1String(kSystemDateFormatText));
    EXPECT_TRUE(date.Format.isEmpty());

    TTextTime time;
    time.DateValue = DateTimeToValue(QDateTime(QDate(2006, 5, 2), QTime(14, 5, 9)));
    Fixture ft(&time);
    const int t = ft.row("Format");
    EXPECT_EQ(ft.model.DisplayList(t), TimeFormats);
    EXPECT_EQ(ft.model.DisplayText(t), "h:mm:ss AM/PM") << "empty is entry 1";
    ft.model.WriteValue(t, QStringLiteral("h:mm"));
    EXPECT_EQ(time.Format, "2") << "stored as the entry's index";
    EXPECT_EQ(time.Caption(), "14:05");
    EXPECT_THROW(ft.model.WriteValue(t, QStringLiteral("hh.mm")), Exception);
    EXPECT_EQ(time.Format, "2");
}
