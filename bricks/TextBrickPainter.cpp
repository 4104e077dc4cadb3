#include "bricks/TextBrickPainter.h"

#include "platform/Rounding.h"
#include "platform/TFont.h"
#include "platform/TextEngine.h"

#include <QPainter>
#include <cmath>

Qt::Alignment TextAlignment(Tk::TAlignment alignment) {
    switch (alignment) {
    case Tk::taRightJustify:
        return Qt::AlignRight;
    case Tk::taCenter:
        return Qt::AlignHCenter;
    default:
        return Qt::AlignLeft;
    }
}

int NormalizedAngle(int angle) {
    int a = angle % 3600; // in (-3600, 3600)
    if (a > 1800)
        a -= 3600;
    else if (a <= -1800)
        a += 3600;
    return a;
}

QSize TextBoxSize(int fullWidth, int fullHeight, int angleIn) {
    const int angle = NormalizedAngle(angleIn);
    if (angle == 0)
        return QSize(fullWidth, fullHeight);
    const double theta = angle / 1800.0 * M_PI;
    const double c = std::fabs(std::cos(theta)), s = std::fabs(std::sin(theta));
    return QSize(RoundHalfEven(c * fullWidth + s * fullHeight),
                 RoundHalfEven(s * fullWidth + c * fullHeight));
}

QTransform TextBoxTransform(int angleIn, int fullHeight, int w, int h) {
    const int angle = NormalizedAngle(angleIn);
    const double theta = angle / 1800.0 * M_PI;
    const double a = angle / 10.0;
    double dx, dy;
    if (a >= 0 && a <= 90) {
        dx = RoundHalfEven(std::sin(theta) * fullHeight);
        dy = 0;
    } else if (a > 90 && a <= 180) {
        dx = w;
        dy = RoundHalfEven(std::fabs(std::cos(theta)) * fullHeight);
    } else if (a >= -90 && a < 0) {
        dx = 0;
        dy = h - RoundHalfEven(std::cos(theta) * fullHeight);
    } else { // -180 < a < -90
        dx = w + RoundHalfEven(std::sin(theta) * fullHeight);
        dy = h;
    }
    return QTransform().rotate(a) * QTransform::fromTranslate(dx, dy);
}

QImage ComposeTextBox(const QImage& background, const QRect& box, const TextBoxParams& params,
                      QRgb outside) {
    if (box.width() <= 0 || box.height() <= 0)
        return QImage();
    QImage out(box.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(outside);
    if (!background.isNull()) {
        const QRect src = box.intersected(background.rect());
        if (!src.isEmpty()) {
            QPainter p(&out);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.drawImage(src.topLeft() - box.topLeft(), background, src);
        }
    }
    if (params.drawText && params.font && !params.text.isEmpty() && params.opacity > 0)
        DrawText(out, params.font->toQFont(), params.text,
                 ColorBytesToQColor(params.font->Color(), std::clamp(params.opacity, 0, 255)),
                 TextBoxTransform(params.angle, params.fullHeight, box.width(), box.height()),
                 QRectF(), params.alignment, params.fullWidth);
    return out;
}
