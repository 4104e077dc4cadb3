#pragma once

#include "designer/state/TDesigner.h"

#include <QByteArray>
#include <QImage>
#include <QWidget>

// The picture panel: shows the preview picture of the design surface, converted from the photo's
// colour profile to the display's (as colour-managed viewers show it, so that the bricks, drawn
// in sRGB, look as they will in the file); every brick is its child.
class TcPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Tag READ Tag)

public:
    explicit TcPanel(TDesigner* designer);
    int Tag() const { return kPictureTag; }
    TDesigner* Designer() const { return m_designer; }

protected:
    void paintEvent(QPaintEvent* event) override;

    // The preview as the panel shows it. Converted once for each preview picture, when it is
    // first shown: a surface that is never painted (the command line) never pays for it.
    QImage ShownPicture();

private:
    TDesigner* m_designer;
    QImage m_shown;
    qint64 m_shownKey = 0;
    QByteArray m_shownProfile;
};
