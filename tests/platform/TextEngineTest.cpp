#include "platform/TextEngine.h"
#include "platform/TFont.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace {

// The bounding box of every pixel whose alpha is not zero.
QRect inkBounds(const QImage& img) {
    QRect r;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) != 0)
                r = r.united(QRect(x, y, 1, 1));
    return r;
}

QImage canvas(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

} // namespace

TEST(FontUnits, HeightAndSizeConvertAt96Dpi) {
    EXPECT_EQ(TFont::HeightFromSize(36), -48);
    EXPECT_EQ(TFont::HeightFromSize(8), -11);  // 10.67 rounds to 11
    EXPECT_EQ(TFont::HeightFromSize(10), -13); // 13.33 rounds to 13
    EXPECT_EQ(TFont::HeightFromSize(0), 0);
    EXPECT_EQ(TFont::SizeFromHeight(-48), 36);
    EXPECT_EQ(TFont::SizeFromHeight(-2), 2); // 1.5: halves go away from zero
    EXPECT_EQ(TFont::SizeFromHeight(-6), 5); // 4.5
    EXPECT_EQ(TFont::SizeFromHeight(6), -5); // a cell height gives a negative size
    TFont f;
    f.setSize(36);
    EXPECT_EQ(f.Height(), -48);
    EXPECT_EQ(f.toQFont().pixelSize(), 48) << "the em is the character height, whatever the screen";
}

TEST(FontUnits, AssignCopiesEveryValueAndSignalsOnce) {
    TFont a, b;
    b.setName(QStringLiteral("Liberation Serif"));
    b.setColor(0x00FF8040);
    b.setSize(20);
    b.setStyle(Tk::TFontStyles(Tk::fsBold | Tk::fsStrikeOut));
    b.setCharset(204);
    int changes = 0;
    QObject::connect(&a, &TFont::changed, [&] { ++changes; });
    a.Assign(b);
    EXPECT_TRUE(a.sameAs(b));
    EXPECT_EQ(changes, 1);
    a.Assign(b);
    EXPECT_EQ(changes, 1) << "no change, no signal";
    const QFont q = a.toQFont();
    EXPECT_TRUE(q.bold());
    EXPECT_TRUE(q.strikeOut());
    EXPECT_FALSE(q.italic());
}

TEST(TextEngine, SplitsOnEveryKindOfLineBreak) {
    EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(SplitTextLines(""), QStringList({""}));
    EXPECT_EQ(SplitTextLines("end\r\n"), QStringList({"end", ""}));
}

TEST(TextEngine, MeasuredBoxHoldsTheDrawnInk) {
    TFont font;
    font.setName(QStringLiteral("Arial"));
    for (auto style : {Tk::TFontStyles(), Tk::TFontStyles(Tk::fsItalic),
                       Tk::TFontStyles(Tk::fsBold | Tk::fsItalic)}) {
        font.setStyle(style);
        font.setSize(36);
        for (const QString& text : {QStringLiteral("Wolf"), QStringLiteral("jiffy fj"),
                                    QStringLiteral("Two\r\nlines gf")}) {
            const QSizeF size = MeasureText(font.toQFont(), text);
            QImage img = canvas(int(size.width()) + 60, int(size.height()) + 60);
            DrawText(img, font.toQFont(), text, Qt::black, QTransform::fromTranslate(30, 30));
            const QRect ink = inkBounds(img);
            ASSERT_FALSE(ink.isEmpty());
            EXPECT_GE(ink.left(), 29) << text.toStdString();
            EXPECT_GE(ink.top(), 29) << text.toStdString();
            EXPECT_LE(ink.right(), 30 + qCeil(size.width()))
                << text.toStdString() << " style " << int(style);
            EXPECT_LE(ink.bottom(), 30 + qCeil(size.height())) << text.toStdString();
        }
    }
}

TEST(TextEngine, BlankLinesCountInTheHeight) {
    const QFont f = [] {
        TFont t;
        t.setName("Arial");
        t.setSize(20);
        return t.toQFont();
    }();
    const QSizeF one = MeasureText(f, "x");
    EXPECT_DOUBLE_EQ(MeasureText(f, "x\r\n\r\nx").height(), 3 * one.height());
    EXPECT_DOUBLE_EQ(MeasureText(f, "").width(), 0);
}

TEST(TextEngine, ColourAlphaAndClip) {
    TFont font;
    font.setName(QStringLiteral("Arial"));
    font.setSize(40);
    QImage img = canvas(200, 100);
    DrawText(img, font.toQFont(), "HHHH", QColor(255, 0, 0, 0), QTransform());
    EXPECT_TRUE(inkBounds(img).isEmpty()) << "alpha 0 draws nothing";
    DrawText(img, font.toQFont(), "HHHH", QColor(0, 0, 255, 128), QTransform(),
             QRectF(0, 0, 30, 100));
    const QRect ink = inkBounds(img);
    EXPECT_LE(ink.right(), 29) << "clipped";
    int maxAlpha = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            maxAlpha = std::max(maxAlpha, qAlpha(img.pixel(x, y)));
    EXPECT_NEAR(maxAlpha, 128, 1) << "solid stems reach the brush alpha, no more";
}
