#pragma once

#include <QString>
#include <memory>

class QWidget;
class TDesigner;
struct BrickNameIndex;

// Turns a brick's text form (a pattern file's brick body) into a brick of the design surface:
// read as a new component, made a child of the picture panel and a component of the surface,
// shown. Empty text gives nullptr. A name that a component of the surface already bears (names
// compare without regard to case) fails with "A component named <name> already exists", the
// new component discarded and the surface unchanged; malformed text or an unknown class fail
// with the stream's error.
QWidget* AddBrickFromText(TDesigner& designer, const QString& text);

// The one update of a brick's full-size geometry from its preview geometry, at the surface's
// zoom ratio (1 while none is set), after it was placed, moved or resized: FullLeft =
// round(Left x zoom), FullTop likewise; a picture brick also FullWidth and FullHeight. A bubble's
// tail marker follows the bubble (marker Left = bubble Left + round(FromX / zoom), and so on); a
// tail marker itself only takes its own FullLeft and FullTop (see TailMarkerMoved).
void UpdateFullGeometry(const TDesigner& designer, QWidget* brick);

// The photo changed (another photo opened, turned, resized, adjusted) or the zoom ratio did: the
// preview made again from the full-size picture, then every brick's preview geometry derived
// from its full-size geometry (which the render uses and which stays as it was) and repainted:
// Left = round(FullLeft / zoom), Top likewise; a text brick re-measured (an unmeasured one sized
// from its full-size box), a bubble's tail marker put back on its tail point, a picture brick
// sized round(FullWidth / zoom) x round(FullHeight / zoom).
void PhotoChanged(TDesigner& designer);

// After the tail marker was dragged: its full-size position, then its bubble re-laid out so that
// the body stays where it was and the tail points at the marker; when the marker lies left of
// (or above) the body the bubble's origin moves to it and FromX (FromY) becomes 0.
void TailMarkerMoved(const TDesigner& designer, QWidget* marker);

// Sets up a new bubble of the control's current size as the surface places it: body (0, 0,
// round(W x zoom), round(2 x H x zoom) div 3), FromX = round(W x zoom x 1.2), FromY =
// round(H x zoom x 1.5), style 1, and its tail marker on the panel.
void SetUpNewBubble(TDesigner& designer, QWidget* bubble);

// A bubble's tail marker made ready on the panel: the bubble's Tag, its picture, a unique name
// when it has none, placed on the tail point and shown.
void SetUpBubbleMarker(TDesigner& designer, QWidget* bubble);

// The surface's naming rule: the class name without its leading "T" and the first counter from 1
// that no component of the surface and no child of the picture panel bears, compared without
// regard to case.
QString UniqueBrickName(const TDesigner& designer, const QString& className);

// After loading: the brick's full-size geometry from its preview geometry at the surface's zoom
// ratio (FullLeft, FullTop; a picture brick also FullWidth, FullHeight). A bubble also gets the
// body rectangle of its size and its tail marker, set up as for a new bubble.
void SetUpLoadedBrick(TDesigner& designer, QWidget* brick);

// Date and time bricks take the date and time of a photo file (its EXIF record, else the
// settings' fallbacks) and show them as the render burns them in: the open photo's whenever
// another is opened, each file's own while the pattern is applied to it. Not an edit of the
// pattern. With no file the values are the fallbacks and the captions stay.
void TakePhotoDates(TDesigner& designer, const QString& photoFile);

// Deletes every brick of the surface (components with a Tag below 50; a bubble takes its tail
// marker along), leaving the surface's own parts.
void ClearBricks(TDesigner& designer);

// Many bricks read in a row (a pattern): while a session lives, AddBrickFromText and
// SetUpLoadedBrick find the names on its surface in an index gathered once, so that each brick
// costs the same however many came before. Meanwhile only these two may add to the surface or
// rename anything on it.
class BrickLoadSession {
public:
    explicit BrickLoadSession(TDesigner& designer);
    ~BrickLoadSession();
    BrickLoadSession(const BrickLoadSession&) = delete;
    BrickLoadSession& operator=(const BrickLoadSession&) = delete;

private:
    std::unique_ptr<BrickNameIndex> m_index;
    BrickNameIndex* m_previous;
};
