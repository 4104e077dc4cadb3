#pragma once

#include "designer/state/CaptionBand.h"
#include "imaging/core/PhotoMetadata.h"
#include "imaging/core/TExif.h"
#include "patterns/settings/CaptionFields.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QWidget>

class QPainter;
class QUndoStack;
class TcPanel;

// Furniture rule: components the surface owns for itself carry a Tag of 50 or more and are never
// bricks; the picture panel is 54.
constexpr int kFurnitureTag = 50;
constexpr int kPictureTag = 54;
inline bool IsBrickTag(int tag) {
    return tag < kFurnitureTag;
}

// The design surface: holds the open photo at full size with its EXIF record, the zoom ratio it
// is shown at, the grid, and the pattern's bricks in creation order. One per process; bricks
// reach it through Instance().
//
// The preview is not a picture of its own: the picture panel draws the visible part of the
// full-size photo scaled at paint time, from the photo itself or from one of its halvings (made
// once per photo), so that a zoom step costs no resampling and the memory does not grow with
// the zoom.
// The id of an undo step that changed the photo and nothing of the pattern.
inline constexpr int kPhotoOnlyCommandId = 0x50686f;

class TDesigner : public QWidget {
    Q_OBJECT
    // The inspector shows these, not the widget's own properties.
    Q_CLASSINFO("publishedOwnProperties", "true")
    Q_PROPERTY(int GridX READ GridX WRITE SetGridX)
    Q_PROPERTY(int GridY READ GridY WRITE SetGridY)
    Q_PROPERTY(bool IsGrid READ IsGrid WRITE SetIsGrid)
    Q_CLASSINFO("default:IsGrid", "True")
    Q_PROPERTY(QString Picture READ PictureText)
    Q_PROPERTY(QString realPicture READ RealPictureText)
    Q_PROPERTY(QString realExif READ ExifText)
    Q_PROPERTY(QWidget* Panel1 READ PanelWidget)
    // The caption band as one text (see BandText); empty for none.
    Q_PROPERTY(QString CaptionBand READ CaptionBandText WRITE SetCaptionBandText)

public:
    explicit TDesigner(QWidget* parent = nullptr);
    ~TDesigner() override;

    static TDesigner* Instance();

    QImage realPicture; // the full-size photo
    // The size of a photo a render writes band by band without holding it whole: the bricks are
    // placed on it while realPicture is empty.
    QSize StreamedPhotoSize;
    // The size of the photo the bricks are laid on: realPicture's, else StreamedPhotoSize.
    QSize PhotoSize() const { return realPicture.isNull() ? StreamedPhotoSize : realPicture.size(); }
    TExif realExif;     // the EXIF record of realPicture's file
    // The metadata blocks of realPicture's file (its colour profile among them), carried into
    // every output made from it.
    TPhotoMetadata realMetadata;
    // What the captions' fields ({Model}, {Date:...}) show for realPicture's file.
    TPhotoFields Fields;
    // During a batch: each source file's running number, for the {Counter} field.
    QHash<QString, int> BatchCounters;
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
    // The pattern's caption band, if it has one. The bricks' full-size coordinates are those of
    // the canvas: the photo with its band.
    TCaptionBand Band;
    QSize CanvasSize() const { return ::CanvasSize(Band, realPicture.size()); }
    QRect PhotoRect() const { return PhotoRectOnCanvas(Band, realPicture.size()); }
    QRect BandRect() const { return BandRectOnCanvas(Band, realPicture.size()); }
    QString CaptionBandText() const { return BandText(Band); }
    // Sets the band; the surface re-places the bricks and the preview (bandChanged).
    void SetCaptionBandText(const QString& text);
    // A full-size area of the canvas (see CanvasPart).
    QImage CanvasArea(const QRect& area, QRgb outside = 0) const {
        return CanvasPart(realPicture, Band, area, outside);
    }

    // Counted up each time another photo is opened (the photo steps of the history are about
    // the one before), and each time the photo is saved (it is then unmodified as it is).
    int PhotoGeneration = 0;
    int PhotoSaves = 0;

    // The pattern is modified when its history is not at the state last read or saved, steps
    // that changed only the photo (kPhotoOnlyCommandId) aside.
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
    // After the photo or the zoom ratio changed: the halvings made again when the photo is
    // another, Panel1 sized to the preview and repainted (Panel1 shows it in the display's
    // colours).
    void UpdatePreview();

    // The preview's size: round(W / zoom) x round(H / zoom) of the canvas, at least 1 x 1;
    // empty without a photo.
    QSize PreviewSize() const;
    // Paints an area of the preview (preview coordinates) at the same place of the painter.
    void PaintPreview(QPainter& painter, const QRect& area) const;
    // An area of the preview as the panel shows it; the whole preview without an area.
    QImage PreviewImage(const QRect& area) const;
    QImage PreviewImage() const { return PreviewImage(QRect(QPoint(), PreviewSize())); }
    // The whole photo scaled to a size, from the halving nearest above it.
    QImage ScaledPicture(QSize size) const;
    // Memory held for the preview: the halvings of the photo.
    qint64 PreviewCacheBytes() const;

    // The grid: the snap steps in preview pixels (1..32, 4 when created), snapping on or off,
    // and whether the panel draws it. Each change emits gridChanged.
    int GridX() const { return m_gridX; }
    int GridY() const { return m_gridY; }
    bool IsGrid() const { return m_isGrid; }
    bool ShowGrid() const { return m_showGrid; }
    void SetGridX(int value);
    void SetGridY(int value);
    void SetIsGrid(bool value);
    void SetShowGrid(bool value);

    int PreviewFromFull(int full) const;
    int FullFromPreview(int preview) const;

    QString PictureText() const;
    QString RealPictureText() const;
    QString ExifText() const;
    QWidget* PanelWidget() const;

signals:
    void gridChanged();
    void bandChanged();

private:
    // realPicture halved again and again, down to about 64 pixels; made for the photo whose
    // cache key they carry.
    const QList<QImage>& Levels() const;

    QList<QPointer<QWidget>> m_components;
    mutable QList<QImage> m_levels;
    mutable qint64 m_levelsKey = 0;
    mutable QImage m_screenPicture; // an 8-bit copy of a 16-bit photo, for the screen
    int m_gridX = 4;
    int m_gridY = 4;
    bool m_isGrid = false;
    bool m_showGrid = false;
};

// The design surface a brick sits on (through its picture panel), or none for a brick that is
// not on a surface (being read from a stream, or in a test).
const TDesigner* DesignerOf(const QWidget* widget);

// The Tag of a component: its "Tag" property, or 0 when it has none.
int ComponentTag(const QObject* component);
