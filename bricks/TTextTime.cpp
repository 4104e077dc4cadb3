#include "bricks/TTextTime.h"

#include "bricks/BrickDateSource.h"

TTextTime::TTextTime(QWidget* parent) : TText(parent) {
    setAutoSize(true);
    setTransparent(true);
    FullWidth = Width();
    FullHeight = Height();
    Angle = 0;
    const BrickDateTime v = NewTimeBrickValue();
    setCaption(v.text);
    DateValue = v.value;
}
