#include "bricks/TText.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TPictureimg.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "bricks/TextBrickPainter.h"
#include "patterns/settings/TSettings.h"
#include "platform/ComponentRegistry.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QMetaProperty>
#include <cmath>
#include <gtest/gtest.h>

namespace {

TText* makeText(SurfaceFixture& f, const QString& caption, int angle = 0) {
    auto* t = placeBrick<TText>(*f.designer, 40, 30);
    t->Angle = angle;
    t->setCaption(caption);
    t->FitToText();
    return t;
}

QStringList publishedNames(const QObject& o, int from) {
    QStringList names;
    const QMetaObject* mo = o.metaObject();
    for (int i = from; i < mo->propertyCount(); ++i)
        names << QString::fromLatin1(mo->property(i).name());
    return names;
}

} // namespace

TEST(TextBrick, ConstructorDefaults) {
    SurfaceFixture f;
    TText t;
    EXPECT_TRUE(t.AutoSize());
    EXPECT_TRUE(t.Transparent());
    EXPECT_EQ(t.Angle, 0);
    EXPECT_EQ(t.Opacity, 255);
    EXPECT_EQ(t.FullLeft, 0);
    EXPECT_EQ(t.FullTop, 0);
    // The default font of the settings: Arial 36 points, black, no style.
    EXPECT_EQ(t.Font()->Name(), QStringLiteral("Arial"));
    EXPECT_EQ(t.Font()->Size(), 36);
    EXPECT_EQ(t.Font()->Height(), -48);
    EXPECT_EQ(t.Font()->Color(), 0);
    EXPECT_EQ(int(t.Font()->Style()), 0);
}

TEST(TextBrick, PublishedPropertiesInDeclarationOrder) {
    TText t;
    const int from = TControl::staticMetaObject.propertyOffset();
    EXPECT_EQ(publishedNames(t, from),
              QStringList({"Name",        "Tag",         "Left",        "Top",
                           "Width",       "Height",      "Cursor",      "Hint",
                           "HelpType",    "HelpKeyword", "HelpContext", "AlignWithMargins",
                           "Margins",     "AutoSize",    "Alignment",   "Caption",
                           "Color",       "Font",        "Transparent", "Angle",
                           "Opacity",     "Anchor",      "MarginX",     "MarginY",
                           "RelativeSize", "Outline",    "OutlineWidth", "Shadow",
                           "ShadowOffset", "Backdrop",   "BackdropOpacity", "BackdropPadding",
                           "AutoContrast"}));
    TPictureimg p;
    const QStringList pic = publishedNames(p, from);
    EXPECT_EQ(pic.indexOf("Margins") + 1, pic.indexOf("Align"));
    EXPECT_TRUE(pic.contains("Picture"));
    EXPECT_TRUE(pic.contains("Proportional"));
    EXPECT_EQ(pic.count("Proportional"), 1);
}

TEST(TextBrick, RegisteredClassesAreCreatedByName) {
    RegisterBricks();
    for (const char* name :
         {"TText", "TTextTime", "TTextDate", "TPictureimg", "TTextBubble", "TBubbleFrom"}) {
        std::unique_ptr<QWidget> w(CreateComponent(QString::fromLatin1(name), nullptr));
        ASSERT_TRUE(w);
        EXPECT_STREQ(w->metaObject()->className(), name);
    }
    EXPECT_THROW(CreateComponent(QStringLiteral("TNoSuchBrick"), nullptr), Exception);
}

TEST(TextBrick, ControlSizeFollowsZoomRatio) {
    SurfaceFixture at1(QSize(400, 300), 1.0);
    TText* t1 = makeText(at1, QStringLiteral("Hello"));
    EXPECT_GT(t1->FullWidth, 50);
    EXPECT_EQ(t1->Width(), t1->FullWidth);
    EXPECT_EQ(t1->Height(), t1->FullHeight);

    SurfaceFixture at4(QSize(400, 300), 4.0);
    TText* t4 = makeText(at4, QStringLiteral("Hello"));
    EXPECT_EQ(t4->FullWidth, t1->FullWidth) << "full-size text does not depend on the zoom";
    EXPECT_EQ(t4->Width(), qRound(t4->FullWidth / 4.0));
    EXPECT_EQ(t4->Height(), qRound(t4->FullHeight / 4.0));
}

TEST(TextBrick, RotatedControlTakesTheTurnedBoundingBox) {
    SurfaceFixture f;
    TText* flat = makeText(f, QStringLiteral("Turn me"));
    const int pw = flat->Width(), ph = flat->Height();
    for (int angle : {900, -900}) {
        TText* t = makeText(f, QStringLiteral("Turn me"), angle);
        EXPECT_EQ(t->Width(), ph) << angle;
        EXPECT_EQ(t->Height(), pw) << angle;
        EXPECT_EQ(t->FullWidth, flat->FullWidth) << "FullWidth keeps the unrotated size";
    }
    TText* t180 = makeText(f, QStringLiteral("Turn me"), 1800);
    EXPECT_EQ(t180->size(), QSize(pw, ph));
    // 200 degrees is -160 degrees: box and text turn alike, and the same as a whole turn more.
    TText* t200 = makeText(f, QStringLiteral("Turn me"), 2000);
    TText* tm160 = makeText(f, QStringLiteral("Turn me"), -1600);
    EXPECT_EQ(t200->size(), tm160->size());
    EXPECT_NE(t200->size(), QSize(pw, ph));
    const QTransform turn200 =
        TextBoxTransform(2000, t200->FullHeight, t200->Width(), t200->Height());
    EXPECT_FALSE(turn200.isIdentity());
    EXPECT_EQ(turn200, TextBoxTransform(-1600, t200->FullHeight, t200->Width(), t200->Height()));
    // The baseline runs left and a little up: cos and sin of 200 degrees.
    const QPointF along = turn200.map(QPointF(100, 0)) - turn200.map(QPointF(0, 0));
    EXPECT_NEAR(along.x(), 100 * std::cos(200 * M_PI / 180), 1e-6);
    EXPECT_NEAR(along.y(), 100 * std::sin(200 * M_PI / 180), 1e-6);
    TText* t3600 = makeText(f, QStringLiteral("Turn me"), 3600);
    EXPECT_EQ(t3600->size(), QSize(pw, ph)) << "a whole turn is no turn";
}

TEST(TextBrick, AnglesAreTakenModuloAWholeTurn) {
    const std::pair<int, int> cases[] = {
        {0, 0},        {1800, 1800},      {-1800, 1800},           {1799, 1799},  {-1799, -1799},
        {1801, -1799}, {-1801, 1799},     {2000, -1600},           {-2000, 1600}, {3600, 0},
        {-3600, 0},    {5400, 1800},      {-5400, 1800},           {3601, 1},     {4050, 450},
        {36000, 0},    {2147483647, 847}, {-2147483647 - 1, -848},
    };
    for (const auto& [angle, expected] : cases)
        EXPECT_EQ(NormalizedAngle(angle), expected) << angle;
    // Box and transform depend on the normalised angle only.
    for (int angle : {2000, -2000, 4050, -4050, 5400, 3600, 2147483647}) {
        const int n = NormalizedAngle(angle);
        EXPECT_EQ(TextBoxSize(200, 50, angle), TextBoxSize(200, 50, n)) << angle;
        const QSize box = TextBoxSize(200, 50, angle);
        EXPECT_EQ(TextBoxTransform(angle, 50, box.width(), box.height()),
                  TextBoxTransform(n, 50, box.width(), box.height()))
            << angle;
    }
    EXPECT_EQ(TextBoxSize(200, 50, 3600), QSize(200, 50));
}

TEST(TextBrick, TranslationsPutTheTurnedTextInsideItsBox) {
    // Every corner of the unrotated text box must land inside the turned box.
    const int W = 200, H = 50;
    for (int angle : {0,    1,     450,   899,   900,  901,   1350, 1800,  -1,   -450, -900,
                      -901, -1350, -1799, -1800, 2000, -2000, 2700, -2700, 3599, 4050}) {
        const QSize box = TextBoxSize(W, H, angle);
        const QTransform t = TextBoxTransform(angle, H, box.width(), box.height());
        const QRectF mapped = t.mapRect(QRectF(0, 0, W, H));
        EXPECT_GE(mapped.left(), -1.0) << angle;
        EXPECT_GE(mapped.top(), -1.0) << angle;
        EXPECT_LE(mapped.right(), box.width() + 1.0) << angle;
        EXPECT_LE(mapped.bottom(), box.height() + 1.0) << angle;
    }
}

TEST(TextBrick, DisabledOrInvisibleTextShowsThePhotoOnlyAndAnOpaqueBoxItsColour) {
    SurfaceFixture f;
    TText* t = makeText(f, QStringLiteral("Gone"));
    const QImage photoPart = f.photo.copy(t->FullBox(t->FullLeft, t->FullTop));
    t->Opacity = 0;
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(t->grab().toImage(), photoPart, 0, &why)) << why.toStdString();
    t->Opacity = 255;
    t->setEnabled(false);
    EXPECT_TRUE(fuzzyImageCompare(t->grab().toImage(), photoPart, 0, &why)) << why.toStdString();
    // Not Transparent: the box is painted in its colour, on the screen as in the output.
    t->setEnabled(true);
    t->Opacity = 0;
    t->setTransparent(false);
    t->setColor(0x0000FF);
    QImage red(photoPart.size(), QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    EXPECT_TRUE(fuzzyImageCompare(t->grab().toImage(), red, 0, &why)) << why.toStdString();
}

// On the screen too the ink goes where the angle says (clockwise positive), judged from the
// pixels alone: a long line turned 90 degrees is tall and narrow with its first letter on top;
// turned -45 degrees its first letter lies lower left of its last.
TEST(TextBrick, TurnedLineOnTheScreenRunsDownOrUpRight) {
    const QString spaces(15, QLatin1Char(' '));
    const auto inkOnScreen = [](const QString& caption, int angle) {
        SurfaceFixture f(QSize(600, 600), 1.0, QStringLiteral("photo.bmp"), true);
        TText* t = makeText(f, caption, angle);
        t->Font()->setColor(0x000000);
        t->Font()->setHeight(-48);
        t->Font()->setStyle(Tk::TFontStyles(Tk::fsBold));
        t->FitToText();
        const QRect box = t->geometry();
        const QImage shown = t->grab().toImage();
        EXPECT_EQ(shown.size(), box.size());
        const InkStats ink = inkWithin(shown, f.photo.copy(box), 24);
        EXPECT_GT(ink.count, 100) << caption.toStdString() << " " << angle;
        return ink;
    };
    const QString line = QStringLiteral("CAPTIOMARK ALONG");

    const InkStats down = inkOnScreen(line, 900);
    EXPECT_GT(down.box.height(), 4 * down.box.width());
    const InkStats first90 = inkOnScreen(QStringLiteral("T") + spaces, 900);
    const InkStats last90 = inkOnScreen(spaces + QStringLiteral("T"), 900);
    EXPECT_GT(last90.cy - first90.cy, 150) << "the first letter lies above the last";
    EXPECT_LT(std::abs(last90.cx - first90.cx), 4);

    const InkStats rising = inkOnScreen(line, -450);
    EXPECT_NEAR(double(rising.box.height()) / rising.box.width(), 1.0, 0.3);
    const InkStats first45 = inkOnScreen(QStringLiteral("T") + spaces, -450);
    const InkStats last45 = inkOnScreen(spaces + QStringLiteral("T"), -450);
    EXPECT_GT(last45.cx - first45.cx, 100) << "the first letter lies left of the last";
    EXPECT_LT(last45.cy - first45.cy, -100) << "and below it";
    EXPECT_NEAR(std::atan2(last45.cy - first45.cy, last45.cx - first45.cx) * 180 / M_PI, -45, 4);
}

TEST(TextBrick, AutoSizeOffKeepsTheControlSize) {
    SurfaceFixture f;
    TText* t = makeText(f, QStringLiteral("Short"));
    t->setAutoSize(false);
    t->SetBounds(t->Left(), t->Top(), 300, 90);
    t->setCaption(QStringLiteral("A much longer caption than before"));
    EXPECT_EQ(t->size(), QSize(300, 90));
}

TEST(TextBrick, MultiLineCaptionIsOneBlock) {
    SurfaceFixture f;
    TText* one = makeText(f, QStringLiteral("Line"));
    TText* two = makeText(f, QStringLiteral("Line\r\nLine"));
    EXPECT_EQ(two->FullWidth, one->FullWidth);
    EXPECT_NEAR(two->FullHeight, 2 * one->FullHeight, 1);
}

TEST(DateTimeBricks, PhotoWithoutExifTakesTheDefaults) {
    SurfaceFixture f; // a BMP: no EXIF at all
    TTextDate d;
    EXPECT_EQ(d.Caption(), Settings().defaultDate);
    TTextTime t;
    EXPECT_EQ(t.Caption(), Settings().defaultTime);
    EXPECT_TRUE(d.AutoSize());
    EXPECT_TRUE(d.Format.isEmpty());
    EXPECT_TRUE(t.Format.isEmpty());
}

TEST(PictureBrick, ConstructorDefaultsAndLetterbox) {
    TPictureimg p;
    EXPECT_TRUE(p.Proportional());
    EXPECT_TRUE(p.Stretch());
    EXPECT_FALSE(p.AutoSize());
    EXPECT_EQ(p.size(), QSize(105, 105));
    EXPECT_EQ(p.FullWidth, 105);
    QImage logo(40, 20, QImage::Format_ARGB32);
    logo.fill(Qt::red);
    p.Picture()->setGraphic({QStringLiteral("TBitmap"), QByteArray(), logo});
    p.SetBounds(0, 0, 100, 100);
    EXPECT_EQ(p.DestRect(), QRect(0, 0, 100, 50)) << "kept aspect, anchored top-left";
    p.setCenter(true);
    EXPECT_EQ(p.DestRect(), QRect(0, 25, 100, 50));
}
