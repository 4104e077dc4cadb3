#include "designer/state/TcPanel.h"

#include "designer/state/TDesigner.h"
#include "imaging/core/ColorProfiles.h"
#include "platform/DisplayProfile.h"

#include <QPainter>

TcPanel::TcPanel(TDesigner* designer) : QWidget(designer), m_designer(designer) {
    setObjectName(QStringLiteral("Panel1"));
}

QImage TcPanel::ShownPicture() {
    const QImage& picture = m_designer->Picture;
    const QByteArray& profile = m_designer->realMetadata.iccProfile;
    if (picture.isNull())
        return picture;
    if (picture.cacheKey() != m_shownKey || profile != m_shownProfile || m_shown.isNull()) {
        m_shown = ConvertImageColors(picture, profile, DisplayIccProfile());
        m_shownKey = picture.cacheKey();
        m_shownProfile = profile;
    }
    return m_shown;
}

void TcPanel::paintEvent(QPaintEvent*) {
    if (m_designer->Picture.isNull())
        return;
    QPainter p(this);
    p.drawImage(0, 0, ShownPicture());
}
