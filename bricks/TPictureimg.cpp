#include "bricks/TPictureimg.h"

#include <QPainter>

TPictureimg::TPictureimg(QWidget* parent) : TImage(parent) {
    FullWidth = Width();
    FullHeight = Height();
    setProportional(true);
    setAutoSize(false);
    setStretch(true);
}

void TPictureimg::paintEvent(QPaintEvent*) {
    if (Picture()->isEmpty())
        return;
    // As the render draws it over FullWidth x FullHeight.
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(rect()), Picture()->drawnImage(Transparent()));
}
