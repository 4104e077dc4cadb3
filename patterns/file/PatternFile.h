#pragma once

#include <QString>
#include <functional>

class QWidget;
class TDesigner;

// The window layout a pattern file carries: the object inspector, the design surface and the
// main window ("Inspector", "Designer", "Manager"), with the surface's grid.
struct PatternWindowBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

struct PatternLayout {
    PatternWindowBounds Inspector;
    int ColWidth = 0;         // the inspector grid's name column
    bool Sort = false;        // inspector sorted by name
    bool AlwaysOnTop = false; // inspector stays on top
    PatternWindowBounds Designer;
    int GridX = 4;
    int GridY = 4;
    bool IsGrid = false;
    PatternWindowBounds Manager;
};

// The windows install these once they exist: the getter reports their current layout for
// WritePattern, the setter applies what ReadPattern read. Without them the layout is kept in a
// plain value (read back by CurrentPatternLayout).
using PatternLayoutGetter = std::function<PatternLayout()>;
using PatternLayoutSetter = std::function<void(const PatternLayout&)>;
void SetPatternLayoutHooks(PatternLayoutGetter getter, PatternLayoutSetter setter);
PatternLayout CurrentPatternLayout();
void ApplyPatternLayout(const PatternLayout& layout);

// Writes the layout and every brick of the surface (Tag below 50, in component order) to an XML
// file: UTF-16 little-endian with a byte-order mark. The caller marks its history saved.
// Throws EFCreateError naming the file when it cannot be written.
void WritePattern(const QString& fileName, TDesigner& designer);

// Applies a pattern file's layout and adds its bricks to the surface (which the caller has
// cleared), each at its stored preview position with its full-size position at the surface's
// zoom ratio. Accepts UTF-8 and UTF-16 (either byte order, with or without a byte-order mark,
// a declaration naming "Unicode" included). Values and bricks read before a failure stay
// applied. Throws: EFOpenError or Exception naming the file when it cannot be read or is not
// well-formed XML; Exception "Node "<name>" not found" for a missing element; EConvertError for
// a non-numeric or non-Boolean value; the stream's errors for a bad brick body. The caller
// starts its history afresh.
void ReadPattern(const QString& fileName, TDesigner& designer);

// A brick's text form: its component stream converted to text (lines end with CR LF).
QString BrickToText(const QWidget* brick);
// A new component from a text form: created by class name without parent, its constructor run
// before the stored properties are applied.
QWidget* TextToBrick(const QString& text);
