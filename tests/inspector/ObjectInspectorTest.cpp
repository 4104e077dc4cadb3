#include "inspector/TObjectInspector.h"

#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "designer/state/TDesigner.h"
#include "inspector/InspectorMetrics.h"
#include "platform/Messages.h"
#include "platform/TImage.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

// A text brick that shows a logo: a reference to a picture of its surface.
class TLogoText : public TText {
    Q_OBJECT
    Q_PROPERTY(TImage* Logo READ Logo WRITE setLogo)

public:
    using TText::TText;
    TImage* Logo() const { return m_logo; }
    void setLogo(TImage* v) { m_logo = v; }

private:
    QPointer<TImage> m_logo;
};

namespace {

struct InspectorFixture : ::testing::Test {
    TDesigner designer;
    TText* text = nullptr;
    TObjectInspector inspector;
    QStringList errors;

    void SetUp() override {
        designer.setObjectName("Designer");
        text = new TText(&designer);
        text->setObjectName("Text1");
        designer.AddComponent(text);
        inspector.Model().SetHiddenProperties(StandardHiddenProperties());
        inspector.SetDesigner(&designer);
        inspector.show();
        SetMessageHandler([this](MessageKind, const QString& m) { errors.append(m); });
    }
    void TearDown() override { SetMessageHandler(nullptr); }

    void select(const char* property) {
        const int row = inspector.Model().FindRow(property);
        ASSERT_GE(row, 0) << property;
        inspector.SetCurrentRow(row);
    }
    TInplaceEditor& inplace() { return *inspector.InplaceEditor(); }
    // The in-place control shows what the grid's value cell of the current row shows.
    void expectInplaceMatchesCurrentRow(const char* where) {
        const int row = inspector.CurrentRow();
        ASSERT_GE(row, 0) << where;
        EXPECT_EQ(inplace().Row(), row) << where;
        const QString cell = inspector.Grid()->model()->index(row, 1).data().toString();
        EXPECT_EQ(inplace().Text().toStdString(), cell.toStdString()) << where;
        EXPECT_EQ(inplace().Text().toStdString(), inspector.Model().DisplayText(row).toStdString())
            << where;
    }
};

} // namespace

TEST_F(InspectorFixture, FloatsOnTopByDefaultAndKeepsItsLayoutValues) {
    EXPECT_EQ(inspector.windowTitle(), "Inspector");
    EXPECT_TRUE(inspector.AlwaysOnTop());
    EXPECT_TRUE(inspector.isFloating());
    inspector.SetAlwaysOnTop(false);
    EXPECT_FALSE(inspector.AlwaysOnTop());
    inspector.SetAlwaysOnTop(true);
    EXPECT_TRUE(inspector.AlwaysOnTop());

    EXPECT_TRUE(inspector.windowFlags() & Qt::WindowStaysOnTopHint);

    // In a main window, on top means floating.
    QMainWindow main;
    auto* docked = new TObjectInspector(&main);
    main.addDockWidget(Qt::RightDockWidgetArea, docked);
    docked->SetAlwaysOnTop(true);
    EXPECT_TRUE(docked->isFloating());
    docked->SetAlwaysOnTop(false);
    EXPECT_FALSE(docked->isFloating());
    EXPECT_FALSE(docked->AlwaysOnTop());

    inspector.SetColWidth(70);
    EXPECT_EQ(inspector.ColWidth(), 70);
    inspector.SetWindowBounds(QRect(inspector.x(), inspector.y(), 300, 420));
    EXPECT_EQ(inspector.WindowBounds().size(), QSize(300, 420));
    EXPECT_TRUE(inspector.Sorted());
}

TEST_F(InspectorFixture, ObjectListAndGrid) {
    inspector.Inspect(text);
    EXPECT_TRUE(inspector.Grid()->isVisible());
    EXPECT_EQ(inspector.Grid()->model()->rowCount(), 30); // with the font's four
    EXPECT_EQ(inspector.Grid()->model()->index(0, 0).data().toString(), "Alignment");
    QComboBox* list = inspector.ParentObjects();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), "Designer: Designer");
    EXPECT_EQ(list->itemText(1), "Text1: Text");
    EXPECT_EQ(list->currentIndex(), 1);

    QObject* chosen = nullptr;
    inspector.SetObjectChosen([&](QObject* o) { chosen = o; });
    emit list->activated(0);
    EXPECT_EQ(chosen, &designer);
    EXPECT_EQ(inspector.Model().Object(), &designer);
}

TEST_F(InspectorFixture, OneRowLeavesTheGridHidden) {
    THiddenProperties hidden;
    for (const char* name :
         {"Left",     "Top",       "Width",  "Height",   "AlignWithMargins", "Margins",
          "AutoSize", "Alignment", "Color",  "Font",     "Transparent",      "Name",
          "Tag",      "Cursor",    "Hint",   "HelpType", "HelpKeyword",      "HelpContext",
          "Angle",    "Opacity",   "Anchor", "MarginX",  "MarginY",          "RelativeSize",
          "Outline",  "OutlineWidth", "Shadow", "ShadowOffset", "Backdrop", "BackdropOpacity",
          "BackdropPadding", "AutoContrast"})
        hidden.Hide("TText", name);
    inspector.Model().SetHiddenProperties(hidden);
    inspector.Inspect(text);
    EXPECT_EQ(inspector.Model().RowCount(), 1);
    EXPECT_FALSE(inspector.Grid()->isVisible());
    EXPECT_FALSE(inplace().isVisible());
}

TEST_F(InspectorFixture, InPlaceControlsFollowTheRow) {
    inspector.Inspect(text);
    select("Caption");
    EXPECT_TRUE(inplace().EditBoxShown());
    EXPECT_FALSE(inplace().DropDownShown());
    EXPECT_FALSE(inplace().EllipsisShown());
    select("AutoSize");
    EXPECT_TRUE(inplace().ReadOnlyShown());
    EXPECT_FALSE(inplace().EditBoxShown());
    EXPECT_TRUE(inplace().DropDownShown());
    select("Font");
    EXPECT_TRUE(inplace().ReadOnlyShown());
    EXPECT_EQ(inplace().Text(), "(Font)");
    EXPECT_FALSE(inplace().DropDownShown());
}

TEST_F(InspectorFixture, EnterWritesEscapeRestores) {
    inspector.Inspect(text);
    select("Caption");
    QTest::keyClicks(inplace().EditBox(), "Hello");
    QTest::keyClick(inplace().EditBox(), Qt::Key_Return);
    EXPECT_EQ(text->Caption(), "Hello");
    EXPECT_EQ(inplace().EditBox()->selectedText(), "Hello");

    inplace().EditBox()->setText("Typed");
    QTest::keyClick(inplace().EditBox(), Qt::Key_Escape);
    EXPECT_EQ(text->Caption(), "Hello");
    EXPECT_EQ(inplace().Text(), "Hello");

    select("Color");
    inplace().EditBox()->setText("Red");
    QTest::keyClick(inplace().EditBox(), Qt::Key_Return);
    EXPECT_EQ(text->Color(), 0x0000FF);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(InspectorFixture, BadIntegerShowsTheReadersMessage) {
    text->setLeft(9);
    text->FullLeft = 9; // the row shows the full-size place
    inspector.Inspect(text);
    select("Left");
    inplace().EditBox()->setText("abc");
    QTest::keyClick(inplace().EditBox(), Qt::Key_Return);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "Error reading Text1.Left: Invalid property value");
    EXPECT_EQ(text->Left(), 9);
    EXPECT_EQ(inspector.Grid()->model()->index(inspector.Model().FindRow("Left"), 1).data(), "9");
}

TEST_F(InspectorFixture, DoubleClickCyclesTheAlignment) {
    inspector.Inspect(text);
    select("Alignment");
    ASSERT_TRUE(inplace().ReadOnlyShown());
    EXPECT_EQ(inplace().Text(), "LeftJustify");
    for (const char* next : {"RightJustify", "Center", "LeftJustify"}) {
        QTest::mouseDClick(inplace().ReadOnlyText(), Qt::LeftButton);
        EXPECT_EQ(inplace().Text(), next);
    }
    EXPECT_EQ(text->Alignment(), Tk::taLeftJustify);
}

TEST_F(InspectorFixture, DropDownChoosesOnAndOff) {
    text->setTransparent(false);
    inspector.Inspect(text);
    select("Transparent");
    inplace().OpenDropDown();
    ASSERT_TRUE(inplace().ListOpen());
    QListWidget* list = inplace().List();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "Off");
    EXPECT_EQ(list->item(1)->text(), "On");
    inplace().ChooseListItem(1);
    EXPECT_TRUE(text->Transparent());
    EXPECT_FALSE(inplace().ListOpen());
    EXPECT_EQ(inplace().Text(), "On");
}

TEST_F(InspectorFixture, MenuSortsAndSkins) {
    inspector.Inspect(text);
    QAction* byCreation = nullptr;
    QAction* skin3 = nullptr;
    for (QAction* a : inspector.PopupMenu()->actions())
        if (a->menu())
            for (QAction* sub : a->menu()->actions()) {
                if (sub->text() == "By Creation")
                    byCreation = sub;
                if (sub->data().toInt() == 513)
                    skin3 = sub;
            }
    ASSERT_TRUE(byCreation && skin3);
    byCreation->trigger();
    EXPECT_FALSE(inspector.Sorted());
    EXPECT_EQ(inspector.Grid()->model()->index(0, 0).data().toString(), "Left");
    skin3->trigger();
    EXPECT_EQ(inspector.Skin(), 513);
}

TEST_F(InspectorFixture, SkinsPaintNameCells) {
    inspector.Inspect(text);
    inspector.SetCurrentRow(0);
    QTableView* grid = inspector.Grid();
    const QRect unselectedName = grid->visualRect(grid->model()->index(3, 0));
    const QPoint probe = unselectedName.center() + QPoint(unselectedName.width() / 2 - 2, 0);
    const QColor face = grid->palette().color(QPalette::Button);
    const QColor window = grid->palette().color(QPalette::Base);
    ASSERT_NE(face, window);
    inspector.SetSkin(511);
    EXPECT_EQ(grid->viewport()->grab().toImage().pixelColor(probe), face);
    inspector.SetSkin(513);
    EXPECT_EQ(grid->viewport()->grab().toImage().pixelColor(probe), window);
}

TEST_F(InspectorFixture, SplitterDragsTheNameColumn) {
    inspector.Inspect(text);
    inspector.SetColWidth(80);
    QWidget* viewport = inspector.Grid()->viewport();
    const int y = inspector.Grid()->visualRect(inspector.Grid()->model()->index(2, 0)).center().y();
    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(80, y));
    QMouseEvent move(QEvent::MouseMove, QPointF(60, y), viewport->mapToGlobal(QPointF(60, y)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(60, y));
    EXPECT_EQ(inspector.ColWidth(), 60);
    // The value column: the grid less the name column, a line each, 3 pixels and the scroll
    // bar (a text brick's rows do not all fit).
    ASSERT_TRUE(inspector.Grid()->verticalScrollBar()->isVisible());
    const int scrollBar = inspector.Grid()->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    EXPECT_EQ(inspector.Grid()->columnWidth(1), inspector.Grid()->width() - 60 - 2 - 3 - scrollBar);
}

TEST_F(InspectorFixture, RowsFollowTheTextHeightAndTheValueColumnTheGridsWidth) {
    inspector.Inspect(text);
    QTableView* grid = inspector.Grid();
    // The height of "0" in the grid's font, and 3 pixels; the in-place controls 2.
    const int zero = QFontMetrics(grid->font()).boundingRect(QStringLiteral("0")).height();
    ASSERT_GT(zero, 5);
    EXPECT_EQ(grid->rowHeight(0), zero + 3);
    EXPECT_EQ(grid->rowHeight(grid->model()->rowCount() - 1), zero + 3);
    select("Caption");
    EXPECT_EQ(inplace().height(), zero + 2);
    EXPECT_EQ(inplace().EditBox()->height(), zero + 2);

    const int scrollBar = grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    inspector.SetColWidth(90);
    ASSERT_TRUE(grid->verticalScrollBar()->isVisible());
    EXPECT_EQ(grid->columnWidth(1), grid->width() - 90 - 5 - scrollBar);
    // Wider by 40: the value column takes all of it.
    const int before = grid->columnWidth(1);
    inspector.resize(inspector.width() + 40, inspector.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->columnWidth(1), before + 40);
    // The surface's eight rows fit: no scroll bar is taken off.
    inspector.Inspect(&designer);
    ASSERT_EQ(inspector.Model().RowCount(), 8);
    ASSERT_LT(8 * (zero + 3), grid->viewport()->height());
    EXPECT_EQ(grid->columnWidth(1), grid->width() - 90 - 5);
}

TEST_F(InspectorFixture, AReferenceRowChoosesAmongTheSurfacesComponentsOfItsClass) {
    auto* picture = new TPictureimg(&designer);
    picture->setObjectName("Pictureimg1");
    designer.AddComponent(picture);
    auto* bubble = new TTextBubble(&designer); // a text brick, with a tail marker that is an image
    bubble->setObjectName("Bubble1");
    designer.AddComponent(bubble);
    bubble->Marker()->setObjectName("BubbleFrom1");
    designer.AddComponent(bubble->Marker());
    auto* link = new TLogoText(&designer);
    link->setObjectName("Link1");
    designer.AddComponent(link);
    inspector.Inspect(link);

    select("Logo");
    EXPECT_TRUE(inplace().ReadOnlyShown());
    EXPECT_TRUE(inplace().DropDownShown());
    EXPECT_FALSE(inplace().EllipsisShown()); // no dialog behind it
    EXPECT_EQ(inplace().Text(), "(None)");
    inplace().OpenDropDown();
    ASSERT_TRUE(inplace().ListOpen());
    QListWidget* list = inplace().List();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), "(None)");
    EXPECT_EQ(list->item(1)->text(), "Pictureimg1");
    EXPECT_EQ(list->item(2)->text(), "BubbleFrom1");
    EXPECT_EQ(list->currentRow(), 0);
    inplace().ChooseListItem(1);
    EXPECT_EQ(link->Logo(), picture);
    EXPECT_FALSE(inplace().ListOpen());
    EXPECT_EQ(inplace().Text(), "(Pictureimg1)");
    EXPECT_EQ(inspector.Grid()->model()->index(inspector.CurrentRow(), 1).data().toString(),
              "(Pictureimg1)");
    // Open again: the chosen one is the current item; (None) clears it.
    inplace().OpenDropDown();
    EXPECT_EQ(inplace().List()->currentRow(), 1);
    inplace().ChooseListItem(0);
    EXPECT_EQ(link->Logo(), nullptr);
    EXPECT_EQ(inplace().Text(), "(None)");
    // The font is the brick's own: no list of components.
    select("Font");
    EXPECT_FALSE(inplace().DropDownShown());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(InspectorFixture, InPlaceControlFollowsTheInspectedObject) {
    // A picture brick's first row is a Boolean ("Off"); a bubble's is its alignment.
    auto* picture = new TPictureimg(&designer);
    picture->setObjectName("Picture1");
    designer.AddComponent(picture);
    auto* bubble = new TTextBubble(&designer);
    bubble->setObjectName("Bubble1");
    designer.AddComponent(bubble);
    bubble->setAlignment(Tk::taCenter);
    text->setAutoSize(true);

    inspector.Inspect(text);
    select("AutoSize");
    ASSERT_EQ(inplace().Text(), "On");

    inspector.Inspect(picture);
    ASSERT_EQ(inspector.Model().Rows()[0].PropertyName, "AlignWithMargins");
    expectInplaceMatchesCurrentRow("picture");
    EXPECT_EQ(inplace().Text(), "Off");

    inspector.Inspect(bubble);
    ASSERT_EQ(inspector.Model().Rows()[0].PropertyName, "Alignment");
    expectInplaceMatchesCurrentRow("bubble");
    EXPECT_EQ(inplace().Text(), "Center");
    EXPECT_TRUE(inplace().ReadOnlyShown());
    EXPECT_TRUE(inplace().DropDownShown());
    inplace().OpenDropDown();
    ASSERT_TRUE(inplace().ListOpen());
    QListWidget* list = inplace().List();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), "LeftJustify");
    EXPECT_EQ(list->item(1)->text(), "RightJustify");
    EXPECT_EQ(list->item(2)->text(), "Center");
    EXPECT_EQ(list->currentRow(), 2);
    inplace().ChooseListItem(0);
    EXPECT_EQ(bubble->Alignment(), Tk::taLeftJustify);
    EXPECT_EQ(text->Alignment(), Tk::taLeftJustify);
    EXPECT_EQ(inplace().Text(), "LeftJustify");

    // Back to the text, then to the same object again the way the window re-reads it.
    inspector.Inspect(text);
    expectInplaceMatchesCurrentRow("text");
    EXPECT_EQ(inplace().Text(), "LeftJustify");
    select("AutoSize");
    inspector.Inspect(nullptr);
    EXPECT_FALSE(inplace().isVisible());
    inspector.Inspect(text);
    expectInplaceMatchesCurrentRow("text again");
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(InspectorFixture, InPlaceControlFollowsTheCurrentRow) {
    auto* bubble = new TTextBubble(&designer);
    bubble->setObjectName("Bubble1");
    designer.AddComponent(bubble);
    bubble->setCaption("Hi");
    bubble->setFromX(17);
    inspector.Inspect(bubble);
    for (const char* name : {"AutoSize", "Alignment", "Caption", "FromX", "Transparent",
                             "Alignment", "Font", "AutoSize"}) {
        select(name);
        expectInplaceMatchesCurrentRow(name);
    }
    select("FromX");
    EXPECT_EQ(inplace().Text(), "17");
    EXPECT_TRUE(inplace().EditBoxShown());
    // Row by row with the arrow keys from the first row to the last.
    inspector.SetCurrentRow(0);
    for (int row = 1; row < inspector.Model().RowCount(); ++row) {
        inspector.MoveRow(1);
        ASSERT_EQ(inspector.CurrentRow(), row);
        expectInplaceMatchesCurrentRow(qPrintable(inspector.Model().Rows()[row].PropertyName));
    }
    // The list opened on a row belongs to that row.
    select("Transparent");
    inplace().OpenDropDown();
    ASSERT_TRUE(inplace().ListOpen());
    EXPECT_EQ(inplace().List()->item(0)->text(), "Off");
    select("Alignment");
    EXPECT_FALSE(inplace().ListOpen());
    inplace().OpenDropDown();
    ASSERT_TRUE(inplace().ListOpen());
    EXPECT_EQ(inplace().List()->count(), 3);
    EXPECT_EQ(inplace().List()->item(0)->text(), "LeftJustify");
}

// ---- the keyboard, as people use it ---------------------------------------------------------

namespace {

struct InspectorKeys : InspectorFixture {
    void SetUp() override {
        InspectorFixture::SetUp();
        inspector.Inspect(text);
        inspector.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&inspector));
    }
    QWidget* focus() const { return QApplication::focusWidget(); }
    int row(const char* property) const { return inspector.Model().FindRow(property); }
    // A click on a row's value cell, where the grid shows it.
    void clickValue(const char* property) {
        const QModelIndex cell = inspector.Grid()->model()->index(row(property), 1);
        const QRect r = inspector.Grid()->visualRect(cell);
        QTest::mouseClick(inspector.Grid()->viewport(), Qt::LeftButton, {},
                          QPoint(r.right() - 2, r.center().y()));
    }
};

} // namespace

TEST_F(InspectorKeys, TheFirstKeyAfterAClickGoesIntoTheValueAndEnterKeepsTheRow) {
    select("Alignment");
    inspector.Grid()->setFocus();
    clickValue("Caption");
    ASSERT_EQ(inspector.CurrentRow(), row("Caption"));
    // Typed at the grid or at the box: both begin the new value, no row is searched for.
    QTest::keyClicks(inspector.Grid(), "W");
    QTest::keyClicks(focus(), "ow");
    EXPECT_EQ(inplace().EditBox()->text(), "Wow");
    EXPECT_EQ(focus(), inplace().EditBox());
    QTest::keyClick(focus(), Qt::Key_Return);
    EXPECT_EQ(text->Caption(), "Wow");
    // Still on the row, in its box: the next letter is a new value, not another object.
    EXPECT_EQ(inspector.CurrentRow(), row("Caption"));
    EXPECT_EQ(focus(), inplace().EditBox());
    EXPECT_NE(focus(), inspector.ParentObjects());
    QTest::keyClicks(focus(), "X");
    EXPECT_EQ(inplace().EditBox()->text(), "X");
    EXPECT_EQ(inspector.Model().Object(), text);

    // From the grid with focus on a row of its own, a letter goes into the box too.
    inspector.Refresh();
    EXPECT_EQ(inspector.CurrentRow(), row("Caption"));
    EXPECT_EQ(focus(), inplace().EditBox()) << "a refresh leaves the keyboard where it was";
}

TEST_F(InspectorKeys, UpAndDownMoveOneRowOverListRowsToo) {
    // Sorted by name: Alignment (list), AlignWithMargins (list), Anchor (list), Angle (box).
    ASSERT_EQ(row("AlignWithMargins"), row("Alignment") + 1);
    select("Angle");
    clickValue("Angle");
    ASSERT_EQ(focus(), inplace().EditBox());
    const int angle = row("Angle");
    QTest::keyClick(focus(), Qt::Key_Up);
    EXPECT_EQ(inspector.CurrentRow(), angle - 1); // Anchor, an enumeration
    EXPECT_TRUE(inplace().ReadOnlyShown());
    EXPECT_EQ(focus(), inspector.Grid());
    QTest::keyClick(focus(), Qt::Key_Up);
    EXPECT_EQ(inspector.CurrentRow(), angle - 2);
    QTest::keyClick(focus(), Qt::Key_Down);
    QTest::keyClick(focus(), Qt::Key_Down);
    QTest::keyClick(focus(), Qt::Key_Down);
    EXPECT_EQ(inspector.CurrentRow(), angle + 1);
    // The set row of the font's style is one row too.
    select("Font");
    inspector.Grid()->setFocus();
    for (const char* next : {"Font.Name", "Font.Size", "Font.Style", "Font.Color"}) {
        QTest::keyClick(focus(), Qt::Key_Down);
        EXPECT_EQ(inspector.CurrentRow(), row(next)) << next;
    }
}

TEST_F(InspectorKeys, AFailedWriteKeepsWhatWasTypedWithTheMessage) {
    text->setLeft(9);
    text->FullLeft = 9;
    inspector.Inspect(nullptr);
    inspector.Inspect(text);
    select("Left");
    clickValue("Left");
    ASSERT_EQ(focus(), inplace().EditBox());
    QTest::keyClicks(focus(), "12x");
    QTest::keyClick(focus(), Qt::Key_Return);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(text->Left(), 9);
    EXPECT_EQ(inplace().EditBox()->text(), "12x") << "to be mended, not typed again";
    EXPECT_EQ(inplace().EditBox()->toolTip(), errors[0]);
    EXPECT_EQ(inspector.LastWriteError(), errors[0]);
    EXPECT_EQ(focus(), inplace().EditBox());
    // Mended: written, the message gone.
    QTest::keyClick(focus(), Qt::Key_End);
    QTest::keyClick(focus(), Qt::Key_Backspace);
    QTest::keyClick(focus(), Qt::Key_Return);
    EXPECT_EQ(text->FullLeft, 12);
    EXPECT_TRUE(inspector.LastWriteError().isEmpty());
}

TEST_F(InspectorKeys, ListsReachPastTheInspectorAndTheStyleTicksAreWritten) {
    select("Alignment");
    ASSERT_TRUE(inplace().DropDownShown());
    inplace().OpenDropDown();
    QListWidget* list = inplace().List();
    ASSERT_TRUE(list->isVisible());
    EXPECT_TRUE(list->isWindow()) << "a window of its own is not cut at the inspector's edge";
    EXPECT_GE(list->width(), list->sizeHintForColumn(0));
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_FALSE(inplace().ListOpen());

    select("Font.Style");
    inplace().OpenDropDown();
    QListWidget* ticks = inplace().CheckList();
    ASSERT_TRUE(ticks->isVisible());
    ASSERT_EQ(ticks->item(0)->text(), "fsBold");
    ticks->item(0)->setCheckState(Qt::Checked);
    EXPECT_EQ(PropertyValueText(text, "Font.Style"), "[fsBold]");
    ticks->item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(PropertyValueText(text, "Font.Style"), "[fsBold, fsItalic]");
    EXPECT_TRUE(ticks->isVisible()) << "open for the next tick";
    ticks->item(0)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(PropertyValueText(text, "Font.Style"), "[fsItalic]");
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

#include "ObjectInspectorTest.moc"
