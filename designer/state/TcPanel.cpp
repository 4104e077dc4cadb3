#include "designer/state/TcPanel.h"

#include "designer/state/TDesigner.h"

#include <QPainter>

TcPanel::TcPanel(TDesigner* designer) : QWidget(designer), m_designer(designer) {
    setObjectName(QStringLiteral("Panel1"));
}

void TcPanel::paintEvent(QPaintEvent*) {
    if (m_designer->Picture.isNull())
        return;
    QPainter p(this);
    p.drawImage(0, 0, m_designer->Picture);
}
