#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

class TDesigner;

// How a picture is saved.
struct RenderOptions {
    // Empty (overwrite the source in place), a bare file name, or a full path.
    QString newName;
    // Target size, 0 or less for none.
    int width = 0, height = 0;
    // Whole degrees, clockwise.
    int angle = 0;
    // Fit into width x height keeping the aspect ratio.
    bool proportional = true;
    // Draw the surface's bricks.
    bool addPattern = true;
    bool fit = false;
    // Date and time bricks show the processed file's own dates.
    bool perFileDates = false;
};

// Burns the design surface's pattern into its full-size picture and writes the result beside
// the source (or under options.newName, see RenderOutputPath), in the source's format, carrying
// the EXIF block along.
//
// An output that replaces its source keeps the original as "<source>.bak" (an existing backup
// stays); when the write then fails, the original is moved back under its own name.
// With addPattern and fit both off, a newName of two or more characters and no rotation, the
// source file is only renamed (see RenderRenamesOnly).
// Throws on failure (the picture cannot be encoded, the file cannot be written or renamed), with
// the system's reason.
void RenderAndSave(TDesigner& designer, const QString& sourceFile, const RenderOptions& options);

// The case in which RenderAndSave only renames the source to the new name in its folder.
bool RenderRenamesOnly(const RenderOptions& options);

// The steps of RenderAndSave. RenderImage encodes the surface's picture with the bricks drawn
// (JPEG with the surface's EXIF block); "There is no picture to save." without a picture.
QByteArray RenderImage(TDesigner& designer, const QString& sourceFile,
                       const RenderOptions& options);
// WriteRendered writes bytes to RenderOutputPath(sourceFile, newName), keeping a replaced
// source as ".bak". Returns the path written.
QString WriteRendered(const QString& sourceFile, const QString& newName, const QByteArray& bytes);
// RenameOnly moves the source to newName in its folder.
void RenameOnly(const QString& sourceFile, const QString& newName);

// The output path for a source and a new name: the folder of newName, or of the source when it
// has none, and newName's file name with its own extension (the part after its last dot, if
// any) replaced by the source's extension in lower case, or with that extension added. An
// empty newName, or one that is the source's path apart from letter case and blanks, gives the
// source itself.
QString RenderOutputPath(const QString& sourceFile, const QString& newName);

// Draws every brick of the surface onto image, whose pixels map to the bricks' full-size
// coordinates scaled by (sx, sy). sourceFile gives the per-file dates when perFileDates is set.
void DrawBricks(QImage& image, const TDesigner& designer, const QString& sourceFile,
                bool perFileDates, double sx = 1.0, double sy = 1.0);
