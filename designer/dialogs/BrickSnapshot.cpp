#include "designer/dialogs/BrickSnapshot.h"

#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "platform/PublishedProperties.h"

bool BrickSnapshot::operator==(const BrickSnapshot& o) const {
    return published == o.published && bounds == o.bounds && FullWidth == o.FullWidth &&
           FullHeight == o.FullHeight && FullLeft == o.FullLeft && FullTop == o.FullTop &&
           Angle == o.Angle && Opacity == o.Opacity && DateValue == o.DateValue &&
           Format == o.Format && FromX == o.FromX && FromY == o.FromY && Style == o.Style &&
           Body == o.Body;
}

namespace {

bool restorable(const PublishedProperty& p) {
    return p.kind != PropertyKind::Class && p.writable && p.storable &&
           p.name.compare(QLatin1String("Name"), Qt::CaseInsensitive) != 0;
}

template <typename Brick>
void takeFull(const Brick* b, BrickSnapshot& s) {
    s.FullWidth = b->FullWidth;
    s.FullHeight = b->FullHeight;
    s.FullLeft = b->FullLeft;
    s.FullTop = b->FullTop;
}

template <typename Brick>
void putFull(Brick* b, const BrickSnapshot& s) {
    b->FullWidth = s.FullWidth;
    b->FullHeight = s.FullHeight;
    b->FullLeft = s.FullLeft;
    b->FullTop = s.FullTop;
}

} // namespace

BrickSnapshot TakeBrickSnapshot(const QObject* brick) {
    BrickSnapshot s;
    for (const PublishedProperty& p : PublishedProperties(brick))
        if (restorable(p))
            s.published.append({p.name, PropertyValueText(brick, p.name)});
    if (const auto* w = qobject_cast<const TControl*>(brick))
        s.bounds = w->geometry();
    if (const auto* t = qobject_cast<const TText*>(brick)) {
        takeFull(t, s);
        s.Angle = t->Angle;
        s.Opacity = t->Opacity;
    }
    if (const auto* d = qobject_cast<const TTextDate*>(brick)) {
        s.DateValue = d->DateValue;
        s.Format = d->Format;
    }
    if (const auto* t = qobject_cast<const TTextTime*>(brick)) {
        s.DateValue = t->DateValue;
        s.Format = t->Format;
    }
    if (const auto* b = qobject_cast<const TTextBubble*>(brick)) {
        s.FromX = b->FromX();
        s.FromY = b->FromY();
        s.Style = b->Style;
        s.Body = b->Body;
    }
    if (const auto* p = qobject_cast<const TPictureimg*>(brick))
        takeFull(p, s);
    return s;
}

void RestoreBrickSnapshot(QObject* brick, const BrickSnapshot& s) {
    auto* text = qobject_cast<TText*>(brick);
    auto* bubble = qobject_cast<TTextBubble*>(brick);
    if (text) {
        text->Angle = s.Angle;
        text->Opacity = s.Opacity;
    }
    if (auto* d = qobject_cast<TTextDate*>(brick)) {
        d->DateValue = s.DateValue;
        d->Format = s.Format;
    }
    if (auto* t = qobject_cast<TTextTime*>(brick)) {
        t->DateValue = s.DateValue;
        t->Format = s.Format;
    }
    if (bubble) {
        bubble->Style = quint8(s.Style);
        bubble->Body = s.Body;
        bubble->setFromX(s.FromX);
        bubble->setFromY(s.FromY);
    }
    // As a stream loads a brick: the values first, the brick measures itself once after them.
    auto* control = qobject_cast<TControl*>(brick);
    if (control)
        control->BeginLoading();
    try {
        for (const auto& [name, value] : s.published)
            if (PropertyValueText(brick, name) != value)
                WritePropertyText(brick, name, value);
    } catch (...) {
        if (control)
            control->EndLoading();
        throw;
    }
    if (!control)
        return;
    control->EndLoading();
    // Measuring again gives the same geometry; putting it back keeps even a brick that was never
    // measured (sized by hand) exactly as it was.
    control->SetBounds(s.bounds.x(), s.bounds.y(), s.bounds.width(), s.bounds.height());
    if (text)
        putFull(text, s);
    if (auto* p = qobject_cast<TPictureimg*>(brick))
        putFull(p, s);
    if (bubble) {
        bubble->Body = s.Body;
        if (bubble->Marker() && !bubble->MarkerGone())
            bubble->PlaceMarker(ZoomRatioOf(bubble));
    }
    control->update();
}
