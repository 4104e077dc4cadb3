#pragma once

#include "platform/TImage.h"

// A logo picture, stretched over its rectangle both on screen and in the render (whatever
// Proportional says), so that the preview shows what is saved.
class TPictureimg : public TImage {
    Q_OBJECT
    Q_CLASSINFO("default:Proportional", "True")

public:
    Q_INVOKABLE explicit TPictureimg(QWidget* parent = nullptr);

    int FullWidth = 0;
    int FullHeight = 0;
    int FullTop = 0;
    int FullLeft = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
};
