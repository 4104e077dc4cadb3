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

// After loading: the brick's full-size geometry from its preview geometry at the surface's zoom
// ratio (FullLeft, FullTop; a picture brick also FullWidth, FullHeight). A bubble also gets the
// body rectangle of its size and its tail marker, set up as for a new bubble.
void SetUpLoadedBrick(TDesigner& designer, QWidget* brick);

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
