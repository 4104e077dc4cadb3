#include "bricks/BrickFields.h"

#include "bricks/TText.h"
#include "designer/state/TDesigner.h"

QString ShownCaption(const QString& caption, const TPhotoFields& fields, QStringList* missing) {
    if (!HasFields(caption))
        return caption;
    return ExpandFields(caption, fields, missing);
}

QString ShownCaption(const TText& brick) {
    const QString caption = brick.Caption();
    const TDesigner* surface = DesignerOf(&brick);
    // Without a photo the fields stay as typed, so the user sees what will be filled in.
    if (!surface || surface->FileName.isEmpty())
        return caption;
    return ShownCaption(caption, surface->Fields);
}
