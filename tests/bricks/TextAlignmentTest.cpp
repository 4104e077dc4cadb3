#include "bricks/TText.h"
#include "bricks/TextBrickPainter.h"
#include "platform/TFont.h"
#include "platform/TextEngine.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>

namespace {

struct Ink {
    int left = -1, right = -1; // inclusive columns of dark pixels, -1 for none
};

// The dark pixels of each line band of a black-on-white image.
QList<Ink> lineInk(const QImage& image, int lines, qreal lineSpacing) {
    QList<Ink> out(lines);
    for (int y = 0; y < image.height(); ++y) {
        const int line = int(y / lineSpacing);
        if (line >= lines)
            break;
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) >= 128)
                continue;
            Ink& ink = out[line];
            if (ink.left < 0 || x < ink.left)
                ink.left = x;
            ink.right = std::max(ink.right, x);
        }
    }
    return out;
}

const QString ThreeLines = QStringLiteral("Hi\nHHHHHHHHHH\nHHHHH");

void setUp(TText& t, Tk::TAlignment alignment) {
    t.Font()->setName(QStringLiteral("DejaVu Sans"));
    t.Font()->setSize(24);
    t.Font()->setColor(clBlack);
    t.setCaption(ThreeLines);
    t.setAlignment(alignment);
    t.FitToText();
}

// The brick composed as the screen and the preview compose it, over white.
QImage composed(const TText& t) {
    const QRect box = t.FullBox(0, 0);
    QImage white(box.size(), QImage::Format_RGB32);
    white.fill(Qt::white);
    TextBoxParams params;
    params.font = t.Font();
    params.text = t.Caption();
    params.angle = t.Angle;
    params.opacity = t.Opacity;
    params.fullHeight = t.FullHeight;
    params.fullWidth = t.FullWidth;
    params.alignment = TextAlignment(t.Alignment());
    return ComposeTextBox(white, box, params);
}

// As the render draws it: straight onto the photo, within the brick's box.
QImage rendered(const TText& t) {
    QImage image(t.FullWidth + 40, t.FullHeight + 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    DrawText(image, t.Font()->toQFont(), t.Caption(), Qt::black, QTransform(), QRectF(),
             TextAlignment(t.Alignment()), t.FullWidth);
    return image.copy(0, 0, t.FullWidth, t.FullHeight);
}

void checkAligned(const QImage& image, Tk::TAlignment alignment, qreal lineSpacing,
                  const char* what) {
    const QList<Ink> ink = lineInk(image, 3, lineSpacing);
    for (const Ink& i : ink)
        ASSERT_GE(i.left, 0) << what;
    // The lines really differ in length, so a wrong alignment shows.
    ASSERT_GT(ink[1].right - ink[1].left, 3 * (ink[0].right - ink[0].left)) << what;
    for (int i = 1; i < 3; ++i) {
        switch (alignment) {
        case Tk::taLeftJustify:
            EXPECT_NEAR(ink[i].left, ink[0].left, 2) << what << " line " << i;
            break;
        case Tk::taRightJustify:
            EXPECT_NEAR(ink[i].right, ink[0].right, 2) << what << " line " << i;
            break;
        case Tk::taCenter:
            EXPECT_NEAR(ink[i].left + ink[i].right, ink[0].left + ink[0].right, 3)
                << what << " line " << i;
            break;
        }
    }
    // Within the box: the widest line fills it, centred lines sit about its middle.
    if (alignment == Tk::taCenter) {
        EXPECT_NEAR((ink[0].left + ink[0].right) / 2.0, image.width() / 2.0, 2) << what;
    }
    if (alignment == Tk::taRightJustify) {
        EXPECT_NEAR(ink[0].right, image.width() - 1, 3) << what;
    }
}

} // namespace

TEST(TextAlignment, LinesAlignedOnScreenAndInOutput) {
    for (const Tk::TAlignment a : {Tk::taLeftJustify, Tk::taCenter, Tk::taRightJustify}) {
        TText t;
        setUp(t, a);
        const qreal ls = QFontMetricsF(t.Font()->toQFont()).lineSpacing();
        checkAligned(composed(t), a, ls, "composed");
        checkAligned(rendered(t), a, ls, "rendered");
        // The control itself at zoom 1 paints the composition.
        t.setTransparent(false);
        t.setColor(clWhite);
        checkAligned(t.grab().toImage(), a, ls, "painted");
    }
}

TEST(TextAlignment, LeftIsTheDrawingWithoutAlignment) {
    TText t;
    setUp(t, Tk::taLeftJustify);
    QImage plain(t.FullWidth, t.FullHeight, QImage::Format_RGB32);
    plain.fill(Qt::white);
    DrawText(plain, t.Font()->toQFont(), t.Caption(), Qt::black);
    EXPECT_EQ(rendered(t), plain);
}
