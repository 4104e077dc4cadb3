#pragma once

#include "imaging/core/PhotoMetadata.h"
#include "imaging/core/TExif.h"
#include "patterns/settings/CaptionFields.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QWidget>

class QUndoStack;
class TcPanel;

// Furniture rule: components the surface owns for itself carry a Tag of 50 or more and are never
// bricks; the picture panel is 54.
constexpr int kFurnitureTag = 50;
constexpr int kPictureTag = 54;
inline bool IsBrickTag(int tag) {
    return tag < kFurnitureTag;
}

// The design surface: holds the open photo (as a preview at the zoom ratio and at full size),
// its EXIF record, and the pattern's bricks in creation order. One per process; bricks reach it
// through Instance().
class TDesigner : public QWidget {
    Q_OBJECT

public:
    explicit TDesigner(QWidget* parent = nullptr);
    ~TDesigner() override;

    static TDesigner* Instance();

    QImage Picture;     // the preview, drawn by Panel1
    QImage realPicture; // the full-size photo
    TExif realExif;     // the EXIF record of realPicture's file
    // The metadata blocks of realPicture's file (its colour profile among them), carried into
    // every output made from it.
    TPhotoMetadata realMetadata;
    // What the captions' fields ({Model}, {Date:...}) show for realPicture's file.
    TPhotoFields Fields;
    // realPicture was changed after loading (resized, turned, colours adjusted): its file's
    // compressed data no longer shows it.
    bool PictureEdited = false;
    TcPanel* Panel1;
    double ZoomRatio = 0; // full-size pixels per preview pixel; 0 until an image is opened
    // The photo was turned, resized or adjusted since it was opened or last saved.
    bool PhotoModified = false;
    // The pattern's edits, kept by the design surface; none without one.
    QPointer<QUndoStack> History;
    QString FileName; // the open image's path

    // The pattern is modified when its history is not at the state last read or saved.
    bool PatternModified() const;
    // Either of the two: something would be lost if the window closed now.
    bool Modified() const { return PhotoModified || PatternModified(); }

    // Components in creation or loading order; bricks have a Tag below 50.
    QList<QWidget*> Components() const;
    void AddComponent(QWidget* component);
    void RemoveComponent(QWidget* component);
    // Puts a component back at a place of the list (clamped), as undo does.
    void InsertComponent(int index, QWidget* component);
    // The components whose Tag is below 50, in order.
    QList<QWidget*> Bricks() const;

    // Opens an image file as the main window does: full-size picture, preview at the zoom ratio,
    // EXIF record (an unreadable record is left empty). Throws when the picture cannot be read.
    void OpenImage(const QString& fileName, double zoomRatio = 1.0);
    // Loads a photo file into realPicture and realExif, turned upright by its EXIF orientation
    // unless the AutoRotate setting is off: the one way photos reach the surface (opening,
    // batch). Throws when the picture cannot be read, leaving both as they were; returns why the
    // EXIF record could not be read (empty when it was).
    QString LoadPhoto(const QString& fileName);
    // Replaces the preview by the full-size picture scaled at the zoom ratio; sizes Panel1 (which
    // shows it in the display's colours).
    void UpdatePreview();

    int PreviewFromFull(int full) const;
    int FullFromPreview(int preview) const;

private:
    QList<QPointer<QWidget>> m_components;
};

// The design surface a brick sits on (through its picture panel), or none for a brick that is
// not on a surface (being read from a stream, or in a test).
const TDesigner* DesignerOf(const QWidget* widget);

// The Tag of a component: its "Tag" property, or 0 when it has none.
int ComponentTag(const QObject* component);
