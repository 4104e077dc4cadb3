#pragma once

#include "patterns/settings/CaptionFields.h"

#include <QList>
#include <QString>

class QWidget;
class TText;

// A brick's caption as it shows: its fields ({Model}, {Date:...}) replaced by the values of the
// photo open on its surface; the caption itself when it has no fields or no surface.
QString ShownCaption(const TText& brick);
// The same for another photo's fields (a batch's file).
QString ShownCaption(const QString& caption, const TPhotoFields& fields,
                     QStringList* missing = nullptr);

// Whether bricks show a date taken: a date or time brick, or a {Date} or {Time} field in a
// caption.
bool PatternShowsDate(const QList<QWidget*>& bricks);
