#include "bricks/TTextBubble.h"
#include "bricks/BubbleShape.h"
#include "bricks/TBubbleFrom.h"
#include "platform/TextEngine.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <QPointer>
#include <gtest/gtest.h>
#include <memory>

using namespace Bubble;

void PrintTo(const BubbleBox& b, std::ostream* os) {
    *os << "{" << b.left << ", " << b.top << ", " << b.right << ", " << b.bottom << "}";
}

namespace {

qsizetype CountRgb(const QImage& img, QRgb colour) {
    qsizetype n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += (img.pixel(x, y) & 0xFFFFFFu) == (colour & 0xFFFFFFu) && qAlpha(img.pixel(x, y));
    return n;
}

void UseTestFont(TTextBubble& b) {
    b.Font()->setName(QStringLiteral("DejaVu Sans"));
    b.Font()->setHeight(-20);
}

// The body FitToText must produce for the bubble's caption and font.
BubbleBox ExpectedBody(const TTextBubble& b) {
    const QSizeF m = MeasureText(b.Font()->toQFont(), b.Caption());
    const int cx = int(std::nearbyint(m.width())), cy = int(std::nearbyint(m.height()));
    return BubbleBox{b.Body.left, b.Body.top, b.Body.left + 4 + cx + cx / 5,
                     b.Body.top + 4 + cy + cy / 3};
}

} // namespace

// --- Construction and ownership of the tail marker ----------------------------------------------

TEST(TextBubbleBrick, ConstructorDefaults) {
    QWidget panel;
    TTextBubble b(&panel);
    EXPECT_EQ(b.Style, 0);
    EXPECT_EQ(b.Body, BubbleBox{});
    EXPECT_EQ(b.FromX(), 0);
    EXPECT_EQ(b.FromY(), 0);
    EXPECT_EQ(b.FullWidth, b.Width());
    EXPECT_EQ(b.FullHeight, b.Height());
    EXPECT_EQ(b.Opacity, 255);
    ASSERT_NE(b.Marker(), nullptr);
    EXPECT_EQ(b.Marker()->Bubble(), &b);
    EXPECT_EQ(b.Marker()->parentWidget(), &panel);
    EXPECT_FALSE(b.MarkerGone());
}

TEST(TextBubbleBrick, BubbleDestroyedFirstFreesItsMarker) {
    QWidget panel;
    auto* b = new TTextBubble(&panel);
    QPointer<TBubbleFrom> marker = b->Marker();
    delete b;
    EXPECT_TRUE(marker.isNull());
    EXPECT_TRUE(panel.findChildren<TBubbleFrom*>().isEmpty());
}

TEST(TextBubbleBrick, MarkerDestroyedFirstIsNotFreedAgain) {
    QWidget panel;
    auto* b = new TTextBubble(&panel);
    QPointer<TTextBubble> bubble = b;
    int markerDestroyed = 0, bubbleDestroyed = 0;
    QObject::connect(b->Marker(), &QObject::destroyed, [&] { ++markerDestroyed; });
    QObject::connect(b, &QObject::destroyed, [&] { ++bubbleDestroyed; });
    delete b->Marker();
    EXPECT_EQ(markerDestroyed, 1);
    EXPECT_TRUE(b->MarkerGone());
    EXPECT_EQ(b->Marker(), nullptr);
    const QRect before = b->geometry();
    b->PlaceMarker(1.0); // nothing to place
    EXPECT_EQ(b->geometry(), before);
    delete b; // must not touch the marker again (checked under the sanitizers)
    EXPECT_EQ(markerDestroyed, 1);
    EXPECT_EQ(bubbleDestroyed, 1);
    EXPECT_TRUE(bubble.isNull());
    EXPECT_TRUE(panel.children().isEmpty());
}

TEST(TextBubbleBrick, ParentDestroyingBothInEitherOrder) {
    for (bool markerFirst : {false, true}) {
        auto panel = std::make_unique<QWidget>();
        TTextBubble* b;
        if (!markerFirst) {
            b = new TTextBubble(panel.get()); // bubble first, then its marker among the children
        } else {
            b = new TTextBubble(nullptr);
            b->Marker()->setParent(panel.get()); // the marker comes before the bubble
            b->setParent(panel.get());
        }
        ASSERT_NE(b->Marker(), nullptr);
        QPointer<TTextBubble> bubble = b;
        QPointer<TBubbleFrom> marker = b->Marker();
        const QObjectList order = panel->children();
        ASSERT_EQ(order.indexOf(marker.data()) < order.indexOf(bubble.data()), markerFirst);
        int markerDestroyed = 0, bubbleDestroyed = 0;
        QObject::connect(marker.data(), &QObject::destroyed, [&] { ++markerDestroyed; });
        QObject::connect(bubble.data(), &QObject::destroyed, [&] { ++bubbleDestroyed; });
        panel.reset();
        EXPECT_TRUE(bubble.isNull()) << markerFirst;
        EXPECT_TRUE(marker.isNull()) << markerFirst;
        EXPECT_EQ(markerDestroyed, 1) << markerFirst;
        EXPECT_EQ(bubbleDestroyed, 1) << markerFirst;
    }
}

// --- Published tail point, set-up and marker placement ------------------------------------------

TEST(TextBubbleBrick, ChangingTheTailPointAloneDoesNotResize) {
    TTextBubble b;
    UseTestFont(b);
    b.Style = SayRectangle;
    b.setCaption(QStringLiteral("Hi"));
    const QSize before = b.size();
    const int fullWidth = b.FullWidth;
    b.setProperty("FromX", 500);
    b.setFromY(300);
    EXPECT_EQ(b.FromX(), 500);
    EXPECT_EQ(b.FromY(), 300);
    EXPECT_EQ(b.size(), before);
    EXPECT_EQ(b.FullWidth, fullWidth);
    b.FitToText(); // the next auto-size uses it
    EXPECT_EQ(b.FullWidth, 500);
    EXPECT_EQ(b.FullHeight, 300);
}

TEST(TextBubbleBrick, SetUpFromSizeAsTheSurfaceDoes) {
    TTextBubble b;
    b.setAutoSize(false);
    b.setFromX(7);
    b.setFromY(9);
    b.SetBounds(0, 0, 100, 30);
    b.SetUpFromSize(1.0);
    EXPECT_EQ(b.Body, (BubbleBox{0, 0, 100, 20}));
    b.SetBounds(0, 0, 41, 13);
    b.SetUpFromSize(2.5); // right Round(102.5) = 102; bottom Round(65) div 3 = 21
    EXPECT_EQ(b.Body, (BubbleBox{0, 0, 102, 21}));
    b.SetBounds(0, 0, 10, 10);
    b.SetUpFromSize(0.25); // Round(2.5) = 2; Round(5) div 3 = 1
    EXPECT_EQ(b.Body, (BubbleBox{0, 0, 2, 1}));
    EXPECT_EQ(b.FromX(), 7);
    EXPECT_EQ(b.FromY(), 9);
}

TEST(TextBubbleBrick, PlaceMarkerOnTheTailPoint) {
    QWidget panel;
    TTextBubble b(&panel);
    b.FullLeft = 50;
    b.FullTop = 7;
    b.setFromX(120);
    b.setFromY(0);
    b.PlaceMarker(2.0);
    EXPECT_EQ(b.Marker()->FullLeft, 170);
    EXPECT_EQ(b.Marker()->FullTop, 7);
    EXPECT_EQ(b.Marker()->Left(), 85);
    EXPECT_EQ(b.Marker()->Top(), 4); // 3.5 goes to the even 4
    EXPECT_EQ(b.Marker()->Width(), 10);

    // A marker made before the bubble was put on its panel follows it there.
    QWidget other;
    TTextBubble loose;
    loose.setParent(&other);
    loose.PlaceMarker(1.0);
    EXPECT_EQ(loose.Marker()->parentWidget(), &other);
}

// --- Auto-size
// ------------------------------------------------------------------------------------

TEST(TextBubbleBrick, FitToTextSizesBodyAndBrickForEachStyle) {
    for (int style = 0; style <= 4; ++style) {
        TTextBubble b;
        UseTestFont(b);
        b.Style = quint8(style);
        b.Body = BubbleBox{10, 5, 0, 0};
        b.setFromX(20);
        b.setFromY(30);
        b.setCaption(QStringLiteral("Two\nlines"));
        const BubbleBox body = ExpectedBody(b);
        EXPECT_EQ(b.Body, body) << style;
        const QSize full = BubbleFullSize(style, body, 20, 30);
        EXPECT_EQ(QSize(b.FullWidth, b.FullHeight), full) << style;
        EXPECT_EQ(b.size(), full) << style; // zoom 1 without an open photo
    }
}

TEST(TextBubbleBrick, FitToTextUsesTheZoomRatio) {
    SurfaceFixture f(QSize(400, 300), 4.0);
    TTextBubble b(f.designer->Panel1);
    UseTestFont(b);
    b.Style = ThinkEllipse;
    b.setCaption(QStringLiteral("Zoomed"));
    EXPECT_EQ(b.Width(), int(std::nearbyint(b.FullWidth / 4.0)));
    EXPECT_EQ(b.Height(), int(std::nearbyint(b.FullHeight / 4.0)));
}

TEST(TextBubbleBrick, FitToTextWaitsForAutoSizeAndLoading) {
    TTextBubble b;
    UseTestFont(b);
    b.setAutoSize(false);
    const BubbleBox empty = b.Body;
    b.setCaption(QStringLiteral("No auto-size"));
    EXPECT_EQ(b.Body, empty);
    b.setAutoSize(true);
    EXPECT_EQ(b.Body, ExpectedBody(b));
    EXPECT_GT(b.Body.right, empty.right);

    TTextBubble loading;
    UseTestFont(loading);
    loading.BeginLoading();
    loading.setCaption(QStringLiteral("Read from a pattern"));
    EXPECT_EQ(loading.Body, empty);
    loading.EndLoading(); // fitted once after loading
    EXPECT_EQ(loading.Body, ExpectedBody(loading));
}

// --- Composition and painting
// ---------------------------------------------------------------------

namespace {

std::unique_ptr<TTextBubble> MakeBubble(int style, QWidget* parent = nullptr) {
    auto b = std::make_unique<TTextBubble>(parent);
    UseTestFont(*b);
    b->Style = quint8(style);
    b->Body = BubbleBox{0, 0, 0, 0};
    b->setFromX(260);
    b->setFromY(160);
    b->setCaption(QStringLiteral("Say something"));
    return b;
}

} // namespace

TEST(TextBubbleBrick, ComposedAtFullSizeWithoutKeyColour) {
    for (int style = 0; style <= 4; ++style) {
        auto b = MakeBubble(style);
        const QImage img = b->ComposeFullSize();
        ASSERT_EQ(img.size(), QSize(b->FullWidth, b->FullHeight));
        EXPECT_EQ(img.format(), QImage::Format_ARGB32);
        EXPECT_EQ(CountRgb(img, KeyColour), 0) << style;
        EXPECT_GT(CountRgb(img, FillColour), 1000) << style;
        EXPECT_EQ(qAlpha(img.pixel(img.width() - 1, 0)), 0) << style;
    }
}

TEST(TextBubbleBrick, DisabledBubbleDrawsNoText) {
    auto b = MakeBubble(SayRectangle);
    const QRect text = BubbleTextRect(SayRectangle, b->Body).adjusted(0, 0, -3, -3);
    auto darkInText = [&](const QImage& img) {
        int n = 0;
        for (int y = text.top(); y <= text.bottom(); ++y)
            for (int x = text.left(); x <= text.right(); ++x)
                n += qGray(img.pixel(x, y)) < 100;
        return n;
    };
    EXPECT_GT(darkInText(b->ComposeFullSize()), 20);
    b->setEnabled(false);
    EXPECT_EQ(darkInText(b->ComposeFullSize()), 0);
}

TEST(TextBubbleBrick, HalfOpacityOverAPhoto) {
    auto b = MakeBubble(SayEllipse);
    b->Opacity = 128;
    b->FullLeft = 30;
    b->FullTop = 20;
    const QImage photo = makeTestPhoto(400, 300);
    QImage out = photo.convertToFormat(QImage::Format_RGB32);
    const QImage bubble = b->ComposeForOutput();
    ASSERT_EQ(bubble.size(), QSize(b->FullWidth, b->FullHeight));
    {
        QPainter p(&out);
        p.drawImage(QRect(b->FullLeft, b->FullTop, b->FullWidth, b->FullHeight), bubble);
    }
    // No key colour appears anywhere the photo did not already have it.
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            if ((out.pixel(x, y) & 0xFFFFFF) == (KeyColour & 0xFFFFFF)) {
                ASSERT_EQ(photo.pixel(x, y) & 0xFFFFFF, KeyColour & 0xFFFFFF) << x << "," << y;
            }
    // The fill shows at about half alpha: half way between the photo and the fill colour.
    const QImage full = b->ComposeFullSize();
    int checked = 0;
    for (int y = 0; y < full.height(); y += 7)
        for (int x = 0; x < full.width(); x += 7) {
            if (full.pixel(x, y) != FillColour)
                continue;
            const QRgb under = photo.pixel(b->FullLeft + x, b->FullTop + y);
            const QRgb got = out.pixel(b->FullLeft + x, b->FullTop + y);
            ASSERT_NEAR(qRed(got), (qRed(under) + 255) / 2.0, 2.5);
            ASSERT_NEAR(qGreen(got), (qGreen(under) + 255) / 2.0, 2.5);
            ASSERT_NEAR(qBlue(got), (qBlue(under) + 225) / 2.0, 2.5);
            ++checked;
        }
    EXPECT_GT(checked, 50);
    // Outside the shape the photo is untouched.
    EXPECT_EQ(out.pixel(b->FullLeft + b->FullWidth - 1, b->FullTop),
              photo.pixel(b->FullLeft + b->FullWidth - 1, b->FullTop));
}

TEST(TextBubbleBrick, ComposeForOutputAtFullOpacityIsTheComposition) {
    auto b = MakeBubble(ThinkCloud);
    EXPECT_EQ(b->ComposeForOutput(), b->ComposeFullSize());
    b->Opacity = 0;
    const QImage none = b->ComposeForOutput();
    for (int y = 0; y < none.height(); ++y)
        for (int x = 0; x < none.width(); ++x)
            ASSERT_EQ(qAlpha(none.pixel(x, y)), 0);
}

TEST(TextBubbleBrick, PaintShowsTheScaledBubbleWithoutKeyColour) {
    SurfaceFixture f(QSize(400, 300), 2.0);
    auto b = MakeBubble(SayCloud, f.designer->Panel1);
    b->FitToText();
    ASSERT_EQ(b->Width(), int(std::nearbyint(b->FullWidth / 2.0)));
    QImage screen(b->size(), QImage::Format_ARGB32_Premultiplied);
    screen.fill(qRgb(0, 0, 255));
    b->render(&screen, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(CountRgb(screen, KeyColour), 0);
    // Pale fill in the body, the blue background where the bubble is transparent.
    int pale = 0;
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x) {
            const QRgb p = screen.pixel(x, y);
            pale += qRed(p) > 240 && qGreen(p) > 240 && qBlue(p) > 200;
            ASSERT_FALSE(qRed(p) > 150 && qGreen(p) < 80 && qBlue(p) > 80 && qBlue(p) < 200)
                << "pink at " << x << "," << y;
        }
    EXPECT_GT(pale, 100);
    EXPECT_EQ(screen.pixel(screen.width() - 1, 0), qRgb(0, 0, 255));
}

// A tail point far outside the photo: the screen shows the part over the photo at the zoom's
// scale, the tail running off its edge towards the point.
TEST(TextBubbleBrick, FarTailPointIsShownCutAtThePhotosEdge) {
    for (const QPoint tail : {QPoint(10000000, 2500000), QPoint(2147483647, 2147483647 / 4)}) {
        SCOPED_TRACE(::testing::Message() << tail.x());
        SurfaceFixture f(QSize(400, 300), 2.0, QStringLiteral("photo.bmp"), true);
        auto* b = placeBrick<TTextBubble>(*f.designer, 40, 30);
        UseTestFont(*b);
        b->Style = SayRectangle;
        b->setFromX(tail.x());
        b->setFromY(tail.y());
        b->setCaption(QStringLiteral("Far away"));
        b->FitToText();
        b->PlaceMarker(2.0);
        EXPECT_EQ(b->FullWidth, tail.x());
        const QRect part = b->ComposedRect(f.designer->realPicture.rect());
        EXPECT_EQ(part, QRect(40, 30, 360, 270)) << "the box's part over the photo";

        const QImage screen = f.designer->Panel1->grab(f.designer->Panel1->rect()).toImage();
        ASSERT_EQ(screen.size(), QSize(200, 150));
        // The body's middle shows the pale fill, at half the full-size position.
        const QPoint mid((40 + b->Body.left + b->Body.width() / 20) / 2,
                         (30 + (b->Body.top + b->Body.bottom) / 2) / 2);
        const QColor fill = screen.pixelColor(mid);
        EXPECT_GT(fill.red(), 240);
        EXPECT_GT(fill.blue(), 200);
        // Both tail lines reach the right edge of the preview where they cross it (a black line
        // halved with the fill beside it is a mid grey).
        const RectangleTail rt = SayRectangleTail(b->Body, b->FromX(), b->FromY());
        for (const QPoint& s : {rt.p1, rt.p2}) {
            const double slope = (double(tail.y()) - s.y()) / (double(tail.x()) - s.x());
            const double y = (30 + s.y() + slope * (360 - 1 - s.x())) / 2;
            bool dark = false;
            for (int yy = int(y) - 2; yy <= int(y) + 2; ++yy)
                for (int x : {198, 199}) {
                    const QColor c = screen.pixelColor(x, std::clamp(yy, 0, 149));
                    dark = dark || (c.red() < 150 && c.green() < 150 && c.blue() < 150);
                }
            EXPECT_TRUE(dark) << "tail line from " << s.x() << "," << s.y() << " at y " << y;
        }
    }
}
