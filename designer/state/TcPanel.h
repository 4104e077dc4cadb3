#pragma once

#include "designer/state/TDesigner.h"

#include <QWidget>
#include <functional>

class QPainter;

// The picture panel: shows the preview of the design surface's photo, converted from the photo's
// colour profile to the display's (as colour-managed viewers show it, so that the bricks, drawn
// in sRGB, look as they will in the file), and its grid when that is shown; every brick is its
// child.
class TcPanel : public QWidget {
    Q_OBJECT
    Q_CLASSINFO("publishedOwnProperties", "true")
    Q_PROPERTY(int Tag READ Tag)

public:
    explicit TcPanel(TDesigner* designer);
    int Tag() const { return kPictureTag; }
    TDesigner* Designer() const { return m_designer; }

    // What the bricks draw beyond their own boxes, painted over the photo under them (the bricks
    // install it: this layer does not know them).
    using Overlay = std::function<void(QPainter&, const TDesigner&, const QRect& area)>;
    static void SetBrickOverlay(Overlay overlay);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TDesigner* m_designer;
};

// Grid dots over an area (panel coordinates) at the multiples of the steps, spaced at least 4
// pixels apart, inverted against what is below them.
void PaintGrid(QPainter& painter, const QRect& area, int stepX, int stepY);
