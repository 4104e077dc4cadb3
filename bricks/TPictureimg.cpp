#include "bricks/TPictureimg.h"

TPictureimg::TPictureimg(QWidget* parent) : TImage(parent) {
    FullWidth = Width();
    FullHeight = Height();
    setProportional(true);
    setAutoSize(false);
    setStretch(true);
}
