#pragma once

#include <QImage>
#include <QString>

class TDesigner;

// Burns the design surface's pattern into its full-size picture and writes the result beside
// the source (or under newName), in the source's format, carrying the EXIF block along.
//
// newName: empty (overwrite the source in place), a bare file name, or a full path. An output
// that replaces its source keeps the original as "<source>.bak" (an existing backup stays); when
// the write then fails, the original is moved back under its own name.
// width, height: target size, 0 or less for none; angle: whole degrees, clockwise.
// With addPattern and fit both off, a newName of two or more characters and no rotation, the
// source file is only renamed.
// Throws on failure (the picture cannot be encoded, the file cannot be written or renamed), with
// the system's reason.
void RenderAndSave(const QString& sourceFile, QString newName, int width, int height, int angle,
                   bool proportional, bool addPattern, bool fit, bool perFileDates);

// The output path for a source and a new name (folder of newName or of the source, newName's
// file name cut by the length of the source's extension, the extension in lower case).
QString RenderOutputPath(const QString& sourceFile, const QString& newName);

// Draws every brick of the surface onto image, whose pixels map to the bricks' full-size
// coordinates scaled by (sx, sy). sourceFile gives the per-file dates when perFileDates is set.
void DrawBricks(QImage& image, const TDesigner& designer, const QString& sourceFile,
                bool perFileDates, double sx = 1.0, double sy = 1.0);
