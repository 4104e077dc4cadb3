#pragma once

#include "bricks/BrickLayout.h"
#include "platform/TImage.h"

// A logo picture, stretched over its rectangle both on screen and in the render (whatever
// Proportional says), so that the preview shows what is saved.
class TPictureimg : public TImage {
    Q_OBJECT
    Q_CLASSINFO("default:Proportional", "True")
    // Where and how large it is on each photo: see BrickLayout. Stored only when set.
    Q_PROPERTY(Tk::TBrickAnchor Anchor READ Anchor WRITE setAnchor)
    Q_PROPERTY(double MarginX READ MarginX WRITE setMarginX)
    Q_PROPERTY(double MarginY READ MarginY WRITE setMarginY)
    Q_PROPERTY(double RelativeSize READ RelativeSize WRITE setRelativeSize)
    Q_CLASSINFO("default:Anchor", "baNone")
    Q_CLASSINFO("default:MarginX", "0.0")
    Q_CLASSINFO("default:MarginY", "0.0")
    Q_CLASSINFO("default:RelativeSize", "0.0")

public:
    Q_INVOKABLE explicit TPictureimg(QWidget* parent = nullptr);

    int FullWidth = 0;
    int FullHeight = 0;
    int FullTop = 0;
    int FullLeft = 0;

    // The placing values. The setters only store: the design surface places the brick.
    BrickLayout Layout;
    Tk::TBrickAnchor Anchor() const { return Layout.anchor; }
    double MarginX() const { return Layout.marginX; }
    double MarginY() const { return Layout.marginY; }
    double RelativeSize() const { return Layout.relativeSize; }
    void setAnchor(Tk::TBrickAnchor v) { Layout.anchor = v; }
    void setMarginX(double v) { Layout.marginX = v; }
    void setMarginY(double v) { Layout.marginY = v; }
    // Negative sizes mean none.
    void setRelativeSize(double v) { Layout.relativeSize = v > 0 ? v : 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
