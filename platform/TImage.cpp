#include "platform/TImage.h"

#include <QPainter>

TImage::TImage(QWidget* parent)
    : TControl(parent), m_constraints(new TSizeConstraints(this)), m_picture(new TPicture(this)) {
    SetBounds(0, 0, 105, 105);
    connect(m_picture, &TPicture::changed, this, &TImage::pictureChanged);
}

void TImage::pictureChanged() {
    if (m_autoSize && !m_picture->isEmpty())
        SetBounds(Left(), Top(), m_picture->image().width(), m_picture->image().height());
    update();
}

void TImage::setAutoSize(bool v) {
    m_autoSize = v;
    pictureChanged();
}
void TImage::setCenter(bool v) {
    m_center = v;
    update();
}
void TImage::setEnabledFlag(bool v) {
    setEnabled(v);
    update();
}
void TImage::setProportional(bool v) {
    m_proportional = v;
    update();
}
void TImage::setStretch(bool v) {
    m_stretch = v;
    update();
}
void TImage::setTransparent(bool v) {
    m_transparent = v;
    update();
}

QRect TImage::DestRect() const {
    const int cw = width(), ch = height();
    int w = m_picture->image().width(), h = m_picture->image().height();
    if (m_stretch || (m_proportional && (w > cw || h > ch))) {
        if (m_proportional && w > 0 && h > 0) {
            const double aspect = double(w) / h;
            if (w > h) {
                w = cw;
                h = int(cw / aspect);
                if (h > ch) {
                    h = ch;
                    w = int(ch * aspect);
                }
            } else {
                h = ch;
                w = int(ch * aspect);
                if (w > cw) {
                    w = cw;
                    h = int(cw / aspect);
                }
            }
        } else {
            w = cw;
            h = ch;
        }
    }
    QRect r(0, 0, w, h);
    if (m_center)
        r.translate((cw - w) / 2, (ch - h) / 2);
    return r;
}

void TImage::paintEvent(QPaintEvent*) {
    if (m_picture->isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(DestRect(), m_picture->drawnImage(m_transparent));
}
