#include "bricks/TTextTime.h"

#include "bricks/BrickDateSource.h"
#include "designer/state/TDesigner.h"

TTextTime::TTextTime(QWidget* parent) : TText(parent) {
    setAutoSize(true);
    setTransparent(true);
    FullWidth = Width();
    FullHeight = Height();
    Angle = 0;
    const TDesigner* surface = DesignerOf(parent);
    const BrickDateTime v = NewTimeBrickValue(surface ? surface->FileName : QString());
    setCaption(v.text);
    DateValue = v.value;
}
