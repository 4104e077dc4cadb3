#pragma once

#include "platform/TImage.h"

// A logo picture. Shown letterboxed in its control; the render stretches it over its full-size
// rectangle.
class TPictureimg : public TImage {
    Q_OBJECT
    Q_CLASSINFO("default:Proportional", "True")

public:
    Q_INVOKABLE explicit TPictureimg(QWidget* parent = nullptr);

    int FullWidth = 0;
    int FullHeight = 0;
    int FullTop = 0;
    int FullLeft = 0;
};
