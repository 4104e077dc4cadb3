#pragma once

#include "designer/state/TDesigner.h"

#include <QWidget>

// The picture panel: shows the preview picture of the design surface; every brick is its child.
class TcPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Tag READ Tag)

public:
    explicit TcPanel(TDesigner* designer);
    int Tag() const { return kPictureTag; }
    TDesigner* Designer() const { return m_designer; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TDesigner* m_designer;
};
