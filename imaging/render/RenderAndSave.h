#pragma once

#include "designer/state/CaptionBand.h"
#include "imaging/core/ColorProfiles.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PhotoMetadata.h"
#include "imaging/core/TExif.h"

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

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
    // A JPEG saved without fit or rotation is written from the source's own compressed data,
    // only the blocks under the bricks encoded again (also when the KeepPhotoQuality setting is
    // on). Sources that cannot be handled so are re-encoded, told through onNotice.
    bool keepQuality = false;
    std::function<void(const QString& text)> onNotice = nullptr;
    // An existing file at the output name (other than the source) is replaced, kept as
    // "<output>.bak"; otherwise it is refused ("... already exists. Nothing was written.").
    bool replaceExisting = false;
    // A caption band added to the picture after fit and rotation (RenderImage takes the
    // surface's). It is never written from the source's compressed data.
    TCaptionBand band{};
};

// Burns the design surface's pattern into its full-size picture and writes the result beside
// the source (or under options.newName, see RenderOutputPath), in the source's format (see
// WrittenFormat), carrying the source's metadata along (see CarryMetadata): every APPn and COM
// segment of a JPEG, the iCCP, eXIf and XMP chunks of a PNG, with the EXIF sizes and thumbnail
// made to describe the output. The output is read back before it is written; when it does not
// decode, has another size or lacks a block, nothing is written and the error names the file.
// Bricks are drawn in sRGB and converted into the photo's colour space when it carries another
// profile. Damaged blocks (carried unchanged) and blocks that cannot be kept are told through
// onNotice.
//
// Every output goes through WriteFileAtomically: written whole under a temporary name and renamed
// into place, never through a symbolic link, with the source's permissions. An output that
// replaces its source keeps the original as "<source>.bak" (a hard link made before the rename;
// an existing backup stays), so the source's name holds the old photo or the new one at every
// instant. Any other existing file at the output name is refused unless replaceExisting.
// With addPattern and fit both off, a newName of two or more characters and no rotation, the
// source file is only renamed (see RenderRenamesOnly), never over another file.
// Throws on failure (the picture cannot be encoded, the file cannot be written or renamed), with
// the system's reason; EOutputTaken and EOutputAppeared for a name that is taken.
void RenderAndSave(TDesigner& designer, const QString& sourceFile, const RenderOptions& options);

// The case in which RenderAndSave only renames the source to the new name in its folder.
bool RenderRenamesOnly(const RenderOptions& options);

// The steps of RenderAndSave. RenderImage encodes the surface's picture with the bricks drawn,
// carrying the surface's metadata and EXIF record; "There is no picture to save." without a
// picture.
QByteArray RenderImage(TDesigner& designer, const QString& sourceFile,
                       const RenderOptions& options);
// What RenderImage works out before it draws, needing no design surface (a caller that decodes
// and encodes on worker threads runs it there): the format written, the notices RenderImage
// gives first, in its order (JPEG instead, keep-quality refused, data after the picture lost),
// and whether it would write the source from its own compressed data instead (keep-quality).
// Throws what RenderImage throws for the source's format. sourceBytes: the file as the caller
// has read it already; else it is read here, once.
struct RenderPrelude {
    ImageFileType kind = ImageFileType::Jpeg;
    QStringList notices;
    bool recaptions = false;
};
RenderPrelude PrepareRender(const QString& sourceFile, const QSize& pictureSize, bool pictureEdited,
                            const RenderOptions& options,
                            const QByteArray* sourceBytes = nullptr);
// WriteRendered writes bytes to RenderOutputPath(sourceFile, newName) as RenderAndSave does.
// Returns the path written.
QString WriteRendered(const QString& sourceFile, const QString& newName, const QByteArray& bytes,
                      bool replaceExisting = false);
// Refuses, before any work is done, an output name that is taken: a symbolic link
// (EOutputTaken), or an existing file other than the source unless replaceExisting.
void CheckOutputName(const QString& sourceFile, const QString& output, bool replaceExisting);
// RenameOnly moves the source to newName in its folder; a taken name is refused.
void RenameOnly(const QString& sourceFile, const QString& newName);

// The output path for a source and a new name: the folder of newName, or of the source when it
// has none, and newName's file name with its own extension (the part after its last dot, if
// any) replaced by the source's extension in lower case, or with that extension added. An
// empty newName, or one that is the source's path apart from letter case, gives the source
// itself. Blanks are kept: " a.jpg" and "a.jpg" are two files.
QString RenderOutputPath(const QString& sourceFile, const QString& newName);

// The format a source is written in: the one its content is (by its signature), JPEG, PNG, GIF,
// BMP, TIFF, WebP, HEIC or AVIF. Any other format, or a name that says another of these (a BMP
// named .gif), is refused, naming the file: no file is rewritten in a format other than its own,
// nor one format under another's name. A source that cannot be read any more goes by its
// extension. Where a format's encoder is missing here, its photos are written as JPEG beside
// them instead (RenderOutputPath gives the ".jpg" name, never the source's), told through
// onNotice (JpegInsteadNotice).
ImageFileType WrittenFormat(const QString& sourceFile);
// "<file>: HEIC pictures cannot be written here; it is written as JPEG to "<output>"."
QString JpegInsteadNotice(const QString& sourceFile, ImageFileType type, const QString& newName);
// The same for a source whose format cannot be written here; empty for any other source.
QString JpegInsteadNotice(const QString& sourceFile, const QString& newName);
// Why a name typed for the output cannot be used: its extension names a format other than the
// one the source is written in (a PNG name for a JPEG). Empty when it can (also without an
// extension).
QString OutputNameRefusal(const QString& sourceFile, const QString& typedName);

// Draws every brick of the surface onto image, whose pixels map to the bricks' full-size
// coordinates scaled by (sx, sy). sourceFile gives the per-file dates when perFileDates is set.
// When image is a band of a larger picture, origin is the band's top-left corner in that
// picture's pixels and picture its size (an invalid size: image is the whole picture). With
// colours, the bricks' sRGB colours are converted into the photo's space (the bricks are drawn
// on a layer that is converted as it is laid on the image); without, they are drawn as they are.
// band: where a caption band lies on the whole picture (empty without one).
void DrawBricks(QImage& image, const TDesigner& designer, const QString& sourceFile,
                bool perFileDates, double sx = 1.0, double sy = 1.0, const QPoint& origin = {},
                const QSize& picture = {}, const TSrgbToPhoto* colours = nullptr,
                const QRect& band = {});

// The steps of a render that need no design surface, so that a batch runs them on worker
// threads; the bricks are drawn between them, on the surface's thread.

// The picture resized and turned as options say, ready for the bricks, and the scale from the
// bricks' full-size coordinates to its pixels. fullSize is the upright full size the bricks
// were laid out on; picture may be a reduced decode of it (see LeastDecodeForFit).
struct PreparedPicture {
    QImage image;
    double sx = 1.0, sy = 1.0;
    QRect band; // where options' caption band was added to it; empty without one
};
PreparedPicture PreparePicture(QImage picture, const QSize& fullSize, const QString& sourceFile,
                               const RenderOptions& options);
// The least size (upright) a decode must cover for options' fit to be made exactly from it, when
// the fit wants at most half the full size on both sides; otherwise an invalid size.
QSize LeastDecodeForFit(const QSize& uprightFullSize, const RenderOptions& options);
// The picture encoded in the source's format (JPEG at jpegQuality), carrying metadata and
// exif's block, and read back. Notices about the metadata are appended to notices.
QByteArray EncodePicture(const QImage& image, const QString& sourceFile, int jpegQuality,
                         const TExif& exif, const TPhotoMetadata& metadata,
                         QStringList* notices = nullptr);

// Why a caption band keeps the keep-quality write from being used.
QString BandRefusal();

// The surface's bricks placed once on a picture of a given size, drawn later into bands of it
// (on the surface's thread), also once the surface holds another photo and pattern.
class TPlacedBricks {
public:
    // picture: the written picture's size; (sx, sy) the scale from the bricks' full-size
    // coordinates to its pixels. With source (the photo's compressed data), bricks that pick
    // black or white text choose it from a reduced decode of it.
    TPlacedBricks(const TDesigner& designer, const QString& sourceFile, bool perFileDates,
                  const QSize& picture, double sx = 1.0, double sy = 1.0,
                  const QByteArray* source = nullptr);
    ~TPlacedBricks();
    TPlacedBricks(const TPlacedBricks&) = delete;
    TPlacedBricks& operator=(const TPlacedBricks&) = delete;
    // Whether drawing may change a pixel of that rectangle of the picture.
    bool Touches(const QRect& band) const;
    // Draws into band, whose top-left corner in the picture is origin; with colours, the bricks'
    // sRGB colours are converted into the photo's space (see DrawBricks).
    void Draw(QImage& band, const QPoint& origin, const TSrgbToPhoto* colours);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A photo whose own data cannot be decoded, as against a failure to draw or write it:
// "Cannot read picture "NAME". REASON".
class EPictureUnreadable : public EInvalidGraphic {
public:
    EPictureUnreadable(const QString& file, const QString& reason);
};

// A band of a streamed photo that a worker hands to the thread the bricks are drawn on (they are
// widgets), and waits for until drawn is set.
struct TBandForBricks {
    TPlacedBricks* bricks = nullptr;
    const TSrgbToPhoto* colours = nullptr;
    QImage* image = nullptr;
    int top = 0;
    bool drawn = false;
    QString error;
};
// On the bricks' thread: draws the band, keeping a failure's message for the worker, and wakes
// the worker waiting on changed.
void DrawHandedBand(TBandForBricks& band, std::mutex& lock, std::condition_variable& changed);
// On a worker: when the bricks cross the band of image whose top is at row top of the picture,
// hands it to the bricks' thread through bands (guarded by lock, signalled on changed) and waits
// until it is drawn; throws the drawing's failure.
void HandBandToBricks(TPlacedBricks& bricks, const TSrgbToPhoto* colours, QImage& image, int top,
                      std::deque<TBandForBricks*>& bands, std::mutex& lock,
                      std::condition_variable& changed);
// When a run stops: every band still waiting is let go undrawn, failing with "Stopped.".
void ReleaseWaitingBands(std::deque<TBandForBricks*>& bands, std::mutex& lock,
                         std::condition_variable& changed);

// Whether a source of that upright size can be written by StreamPicture: a JPEG (not CMYK) whose
// stored size it is.
bool StreamsInBands(const QByteArray& source, const QSize& size);
// EncodePicture of a JPEG source written as JPEG, without its picture ever held whole: decoded
// band by band, each band given to paint(band, top), and encoded at once (TranscodeJpegInBands);
// the pixels are those of DecodeJpeg painted and encoded whole. Metadata as EncodePicture (the
// EXIF thumbnail made from the output). A source that does not decode throws as its load does
// ("Cannot read picture ..."). The source is let go once its picture is read.
// With an output size (a fit), the source is decoded at the DCT scaling minDecode allows (see
// LeastDecodeForFit; invalid: full size) and resampled to it band by band, the pixels being
// those of PreparePicture's fit of that decode.
QByteArray StreamPicture(QByteArray source, const QString& sourceFile, int jpegQuality,
                         const TExif& exif, const TPhotoMetadata& metadata,
                         const std::function<void(QImage& band, int top)>& paint,
                         QStringList* notices = nullptr, const QSize& minDecode = {},
                         const QSize& output = {});
// The size PreparePicture fits an upright picture of fullSize to under options (no rotation),
// and the scale of the bricks on it; an invalid size without a fit.
QSize StreamedFitSize(const QSize& fullSize, const RenderOptions& options);
// Why the keep-quality write cannot be used for a JPEG source ("progressive JPEG", ...), or an
// empty text. Only the header is read.
QString KeepQualityRefusal(const QByteArray& source);
// True when the keep-quality write applies at all: JPEG in and out, no fit, no rotation, and
// the photo not turned upright on loading (autoRotate with an orientation of 2..8).
bool KeepQualityWanted(const QString& sourceFile, const RenderOptions& options);
bool KeepQualityTurnsPhoto(const TExif& sourceExif, bool autoRotate);
// The source JPEG with the surface's bricks painted into the blocks they touch (in the photo's
// colour space), its metadata carried with exif's block, and read back. What follows the
// source's picture (the further images of a multi-picture file, say) follows it in the result
// too, its index updated; an index that cannot be is left out. Notices (that, damaged blocks
// carried as they were) are told through onNotice ("<file>: <why>."). Throws EInvalidGraphic
// when the source cannot be handled.
QByteArray RecaptionBricks(const QByteArray& source, const TDesigner& designer,
                           const QString& sourceFile, bool perFileDates, const TExif& exif,
                           const std::function<void(const QString& text)>& onNotice = nullptr);
// RecaptionBricks for several sources at once, with the same bricks, each source showing its own
// dates and field values (perFileDates): the sources' compressed data are re-coded on up to
// `jobs` worker threads (0: one per core) while the bricks, which are widgets, are drawn on the
// calling thread. done(i, bytes, error) comes on the calling thread, in the sources' order,
// handing the bytes over; error is the failure's message and bytes are then empty.
// noticed(i, text) comes just before done(i, ...), once for each notice RecaptionBricks would
// have told onNotice. Neither may throw.
void RecaptionBricksMany(
    const QList<QString>& sourceFiles, const QList<QByteArray>& sources,
    const QList<TExif>& exifs, const TDesigner& designer, int jobs,
    const std::function<void(int index, QByteArray bytes, const QString& error)>& done,
    const std::function<void(int index, const QString& notice)>& noticed = nullptr);
// "<file>: <reason>; written by re-encoding."
QString KeepQualityFallbackNotice(const QString& sourceFile, const QString& reason);
// "<file>: re-encoding does not keep <loss>.", loss from JpegTrailerLoss.
QString TrailerLossNotice(const QString& sourceFile, const QString& loss);
