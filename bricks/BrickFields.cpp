#include "bricks/BrickFields.h"

#include "bricks/TText.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
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

bool PatternShowsDate(const QList<QWidget*>& bricks) {
    QString captions;
    for (QWidget* brick : bricks) {
        if (qobject_cast<TTextDate*>(brick) || qobject_cast<TTextTime*>(brick))
            return true;
        if (auto* text = qobject_cast<TText*>(brick))
            captions += text->Caption();
    }
    const QStringList used = FieldsUsed(captions);
    return used.contains(QLatin1String("Date")) || used.contains(QLatin1String("Time"));
}
