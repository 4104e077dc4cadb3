#include "designer/state/TcPanel.h"

#include "designer/state/TDesigner.h"
#include "imaging/core/ColorProfiles.h"
#include "platform/DisplayProfile.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>

namespace {
TcPanel::Overlay& brickOverlay() {
    static TcPanel::Overlay overlay;
    return overlay;
}
} // namespace

void TcPanel::SetBrickOverlay(Overlay overlay) {
    brickOverlay() = std::move(overlay);
}

TcPanel::TcPanel(TDesigner* designer) : QWidget(designer), m_designer(designer) {
    setObjectName(QStringLiteral("Panel1"));
}

void TcPanel::paintEvent(QPaintEvent* event) {
    if (m_designer->realPicture.isNull())
        return;
    QPainter p(this);
    const QRect area = event->rect() & QRect(QPoint(), m_designer->PreviewSize());
    const QByteArray& profile = m_designer->realMetadata.iccProfile;
    const QByteArray display = DisplayIccProfile();
    if (profile.isEmpty() && display.isEmpty()) {
        m_designer->PaintPreview(p, area);
    } else if (!area.isEmpty()) {
        // Only the part being painted is converted, so that the cost follows the window, not the
        // photo or the zoom; a surface that is never painted (the command line) never pays.
        const QImage part =
            m_designer->PreviewImage(area).convertToFormat(QImage::Format_RGB32);
        p.drawImage(area.topLeft(), ConvertImageColors(part, profile, display));
    }
    if (brickOverlay() && !area.isEmpty())
        brickOverlay()(p, *m_designer, area);
    if (m_designer->ShowGrid())
        PaintGrid(p, area, m_designer->GridX(), m_designer->GridY());
}

void PaintGrid(QPainter& painter, const QRect& area, int stepX, int stepY) {
    if (area.isEmpty() || stepX < 1 || stepY < 1)
        return;
    // Dots no closer than 4 pixels: every step's multiple from there on.
    const int dx = stepX * ((4 + stepX - 1) / stepX);
    const int dy = stepY * ((4 + stepY - 1) / stepY);
    QPolygon dots;
    const int x0 = (area.left() + dx - 1) / dx * dx;
    const int y0 = (area.top() + dy - 1) / dy * dy;
    for (int y = y0; y <= area.bottom(); y += dy)
        for (int x = x0; x <= area.right(); x += dx)
            dots.append(QPoint(x, y));
    painter.save();
    // Flipping the top bit of each channel shows on dark and on light photos alike.
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawPoints(dots);
    painter.restore();
}
