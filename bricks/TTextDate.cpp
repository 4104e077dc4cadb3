#include "bricks/TTextDate.h"

#include "bricks/BrickDateSource.h"
#include "designer/state/TDesigner.h"

TTextDate::TTextDate(QWidget* parent) : TText(parent) {
    setAutoSize(true);
    setTransparent(true);
    FullWidth = Width();
    FullHeight = Height();
    Angle = 0;
    const TDesigner* surface = DesignerOf(parent);
    const BrickDateTime v = NewDateBrickValue(surface ? surface->FileName : QString());
    DateValue = v.value;
    // On a photo the brick shows its value as the render burns it in.
    setCaption(surface && !surface->FileName.isEmpty() ? DateBrickText(*this) : v.text);
}

void TTextDate::setFormat(const QString& format) {
    if (Format == format)
        return;
    Format = format;
    if (!IsLoading())
        setCaption(DateBrickText(*this));
}
