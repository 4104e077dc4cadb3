#include "bricks/TTextDate.h"

#include "bricks/BrickDateSource.h"

TTextDate::TTextDate(QWidget* parent) : TText(parent) {
    setAutoSize(true);
    setTransparent(true);
    FullWidth = Width();
    FullHeight = Height();
    Angle = 0;
    const BrickDateTime v = NewDateBrickValue();
    setCaption(v.text);
    DateValue = v.value;
}
