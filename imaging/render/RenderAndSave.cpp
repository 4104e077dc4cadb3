#include "imaging/render/RenderAndSave.h"

#include "bricks/BrickDateSource.h"
#include "bricks/BrickPlacement.h"
#include "bricks/BrickFields.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "bricks/TextBrickPainter.h"
#include "designer/state/TDesigner.h"
#include "imaging/core/BitmapOps.h"
#include "imaging/core/ColorProfiles.h"
#include "imaging/core/ExifMend.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegBands.h"
#include "imaging/core/JpegRecaption.h"
#include "imaging/core/JpegSegments.h"
#include "imaging/core/JpegTrailer.h"
#include "imaging/core/PhotoFormats.h"
#include "imaging/core/PhotoMetadata.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/PhotoDates.h"
#include "patterns/settings/TSettings.h"
#include "platform/AtomicFile.h"
#include "platform/FilePaths.h"
#include "platform/ImageBuffer.h"
#include "platform/RegularFile.h"
#include "platform/Rounding.h"
#include "platform/TextEngine.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QThread>
#include <QThreadPool>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

using OutputKind = ImageFileType;

QString upperExt(const QString& path) {
    const QString name = FileNameOf(path);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot).toUpper();
}

// The format a file's name says, Other when its extension is none of the formats written.
ImageFileType formatNamedBy(const QString& path) {
    const QString ext = upperExt(path);
    if (ext == QLatin1String(".JPG") || ext == QLatin1String(".JPEG"))
        return ImageFileType::Jpeg;
    if (ext == QLatin1String(".GIF"))
        return ImageFileType::Gif;
    if (ext == QLatin1String(".PNG"))
        return ImageFileType::Png;
    if (ext == QLatin1String(".BMP"))
        return ImageFileType::Bmp;
    if (ext == QLatin1String(".TIF") || ext == QLatin1String(".TIFF"))
        return ImageFileType::Tiff;
    if (ext == QLatin1String(".WEBP"))
        return ImageFileType::Webp;
    if (ext == QLatin1String(".HEIC") || ext == QLatin1String(".HEIF"))
        return ImageFileType::Heic;
    if (ext == QLatin1String(".AVIF"))
        return ImageFileType::Avif;
    return ImageFileType::Other;
}

// Whether a file name says another format than type. ".heif" names either HEIF coding (HEVC or
// AV1).
bool nameDisagrees(const QString& path, ImageFileType type) {
    const ImageFileType named = formatNamedBy(path);
    if (named == ImageFileType::Other || named == type)
        return false;
    return !(type == ImageFileType::Avif && upperExt(path) == QLatin1String(".HEIF"));
}

bool writable(ImageFileType type) {
    return type != ImageFileType::Ico && type != ImageFileType::Other;
}

QString formatName(ImageFileType type) {
    return ImageTypeName(type);
}

// Whether a format's encoder is missing; looked for once, and only when a photo of that type
// comes: the look-up loads plugins, which most runs never need.
template <ImageFileType Type> bool encoderMissing() {
    static const bool missing = !CanEncode(Type);
    return missing;
}

// A format read here that cannot be written here (no encoder): its photos are written as JPEG
// beside them, under a name of their own.
bool writtenAsJpegInstead(ImageFileType type) {
    switch (type) {
    case ImageFileType::Heic:
        return encoderMissing<ImageFileType::Heic>();
    case ImageFileType::Avif:
        return encoderMissing<ImageFileType::Avif>();
    case ImageFileType::Tiff:
        return encoderMissing<ImageFileType::Tiff>();
    case ImageFileType::Webp:
        return encoderMissing<ImageFileType::Webp>();
    default:
        return false;
    }
}

// Formats written at more than 8 bits a channel when the picture has them.
bool keepsDeepPixels(ImageFileType type) {
    return type == ImageFileType::Png || type == ImageFileType::Tiff ||
           type == ImageFileType::Heic || type == ImageFileType::Avif;
}

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The date and time of the processed file, read once per render and only when a brick needs it.
class FileDates {
public:
    FileDates(QString file, std::optional<int> counter)
        : m_file(std::move(file)), m_counter(counter) {}
    // The caption fields of the file ({Model}, {Counter}, ...), read once.
    const TPhotoFields& fields() {
        if (!m_fields)
            m_fields = ReadPhotoFields(m_file, m_counter);
        return *m_fields;
    }
    double date() {
        if (!m_date)
            m_date = valueOr([] { return ParseDateText(Settings().defaultDate); });
        return *m_date;
    }
    double time() {
        if (!m_time)
            m_time = valueOr([] { return ParseTimeText(Settings().defaultTime); });
        return *m_time;
    }

private:
    template <class Fallback> double valueOr(Fallback fallback) {
        try {
            return ExifDateTime(m_file);
        } catch (const Exception&) {
            if (DateFallbackSetting() == TDateFallback::FileTime)
                return DatePhoto(m_file, nullptr).taken.value;
            return fallback();
        }
    }
    QString m_file;
    std::optional<int> m_counter;
    std::optional<double> m_date, m_time;
    std::optional<TPhotoFields> m_fields;
};

// The bricks of the surface placed on a target: date and time bricks show each file's own date in
// their own format (perFileDates), or their own value.
QList<BrickPlacement> placedBricks(const TDesigner& designer, const QString& sourceFile,
                                   bool perFileDates, const PlacementTarget& target) {
    FileDates dates(sourceFile, designer.BatchCounters.contains(sourceFile)
                                    ? std::optional<int>(designer.BatchCounters.value(sourceFile))
                                    : std::nullopt);
    QList<BrickPlacement> out;
    for (BrickData b : BrickDataOf(designer.Bricks())) {
        // A batch's file shows its own values; a single save those of the photo on the surface.
        if (perFileDates && (b.kind == BrickKind::Text || b.kind == BrickKind::Bubble) &&
            HasFields(b.caption))
            b.text = ShownCaption(b.caption, dates.fields());
        if (b.kind == BrickKind::Date)
            b.text = perFileDates ? FormatDateTimeText(b.format, std::trunc(dates.date()))
                                  : FormatDateTimeText(b.format, b.dateValue);
        else if (b.kind == BrickKind::Time)
            b.text = FormatDateTimeText(TimeBrickFormat(b.format),
                                        perFileDates ? dates.time() : b.dateValue);
        out.append(PlaceBrick(b, target));
    }
    return out;
}

// A JPEG whose profile is grey is written grey, so that the profile still describes it.
bool writesGrey(OutputKind kind, const TPhotoMetadata& metadata) {
    return kind == OutputKind::Jpeg && !metadata.iccProfile.isEmpty() &&
           metadata.profileSpace == TProfileSpace::Gray;
}

// The blocks the encoders of TIFF, WebP and HEIF write: the source container's colour profile
// and XMP packet, and the surface's EXIF record (which says orientation 1 when the photo was
// turned upright), made to describe the written picture (its size, its thumbnail).
TContainerBlocks blocksToCarry(const TPhotoMetadata& metadata, const TExif& exif,
                               const QImage& image) {
    TContainerBlocks blocks = metadata.container;
    blocks.exif = exif.TiffBlock();
    if (!blocks.exif.isEmpty()) {
        try {
            blocks.exif = MendExifTiff(
                blocks.exif, image.size(),
                [&image](int side, int quality) { return MakeJpegThumbnail(image, side, quality); },
                0xFFFF - 8);
        } catch (const Exception&) {
            // A block exiv2 cannot rewrite without loss is carried as it was.
        }
    }
    return blocks;
}

QByteArray encode(const QImage& image, OutputKind kind, int jpegQuality, bool grey,
                  const TPhotoMetadata& metadata, const TExif& exif) {
    switch (kind) {
    case OutputKind::Jpeg:
        return EncodeJpegChecked(image, jpegQuality, grey); // decoded again as it is written
    case OutputKind::Gif:
        return EncodeGif(image);
    case OutputKind::Png:
        return EncodePng(image);
    case OutputKind::Bmp:
        return EncodeBmp(image);
    case OutputKind::Tiff:
        return EncodeTiff(image, blocksToCarry(metadata, exif, image));
    case OutputKind::Webp:
        return EncodeWebp(image, metadata.losslessWebp, jpegQuality, blocksToCarry(metadata, exif, image));
    case OutputKind::Heic:
    case OutputKind::Avif:
        return EncodeHeif(image, kind, jpegQuality, blocksToCarry(metadata, exif, image));
    case OutputKind::Ico:
    case OutputKind::Other:
        break;
    }
    throw EFCreateError(QStringLiteral("Pictures are written as JPEG, PNG, GIF, BMP, TIFF, WebP, "
                                       "HEIC or AVIF only."));
}

// The part of a rectangle given by 64-bit numbers inside bounds, so that a brick placed near
// the ends of the int range neither wraps around nor covers the picture.
QRect clippedTo(const QRect& bounds, qint64 left, qint64 top, qint64 width, qint64 height) {
    if (width <= 0 || height <= 0)
        return {};
    const qint64 l = std::max<qint64>(left, bounds.left());
    const qint64 t = std::max<qint64>(top, bounds.top());
    const qint64 r = std::min<qint64>(left + width, qint64(bounds.right()) + 1);
    const qint64 b = std::min<qint64>(top + height, qint64(bounds.bottom()) + 1);
    if (l >= r || t >= b)
        return {};
    return QRect(int(l), int(t), int(r - l), int(b - t));
}

// The bricks of one render, placed once: each placement and the rectangle of the picture it may
// change. A picture written band by band (the keep-quality write) then draws each brick only
// into the bands it falls in.
class BrickPlan {
public:
    // picture: the size of the whole picture in pixels, at the bricks' scale (sx, sy).
    BrickPlan(const TDesigner& designer, const QString& sourceFile, bool perFileDates, double sx,
              double sy, const QSize& picture, const QRect& band = {})
        : m_whole(picture) {
        const QRect bounds(QPoint(), picture);
        for (BrickPlacement& p :
             placedBricks(designer, sourceFile, perFileDates, {picture, sx, sy, band})) {
            const BrickData& b = p.brick;
            if ((b.isText() && b.kind != BrickKind::Bubble && b.transparent &&
                 (b.opacity <= 0 || b.text.isEmpty())) ||
                (b.kind == BrickKind::Picture && b.picture.isNull()))
                continue; // draws nothing
            // In the picture's pixels, with a pixel of margin for smoothing at the edges; 64-bit,
            // so that a brick placed near the ends of the int range neither wraps around nor
            // covers the picture.
            const QRectF r = PlacedFootprint(p, picture);
            if (!(r.width() > 0 && r.height() > 0))
                continue;
            const auto lo = [](double v) { return qint64(std::floor(std::clamp(v, -1e15, 1e15))); };
            const auto hi = [](double v) { return qint64(std::ceil(std::clamp(v, -1e15, 1e15))); };
            const qint64 x0 = lo(r.left()), y0 = lo(r.top()), x1 = hi(r.right()),
                         y1 = hi(r.bottom());
            const QRect footprint = clippedTo(bounds, x0 - 1, y0 - 1, x1 - x0 + 2, y1 - y0 + 2);
            if (footprint.isEmpty())
                continue;
            m_footprints.append(footprint);
            m_items.push_back({std::move(p), footprint});
        }
    }

    // Every rectangle of the picture that drawing the bricks may change.
    const QList<QRect>& footprints() const { return m_footprints; }

    // Whether a brick picks black or white text for the photo under it.
    bool needsPhoto() const {
        for (const Item& item : m_items)
            if (item.placement.brick.readability.autoContrast &&
                item.placement.contrast == BrickPlacement::Contrast::Unchosen)
                return true;
        return false;
    }
    // Makes those choices from the photo (its pixel spanning scale of the picture's), before
    // it is drawn over: a picture written band by band has no whole photo to look at later.
    void chooseContrasts(const QImage& photo, double scale = 1.0) {
        for (Item& item : m_items)
            if (item.placement.brick.readability.autoContrast &&
                item.placement.contrast == BrickPlacement::Contrast::Unchosen)
                item.placement.contrast = ChooseContrast(item.placement, photo, {}, scale);
    }

    // Draws the bricks over image, a band of the picture whose top-left corner is origin.
    void draw(QImage& image, const QPoint& origin) const {
        const QRect band(origin, image.size());
        for (const Item& item : m_items)
            if (item.footprint.intersects(band))
                DrawPlacedBrick(image, item.placement, origin, m_whole);
    }

    // draw for a photo in another colour space than sRGB: the bricks are drawn in sRGB on a
    // layer over the area they cover, which takes the photo's colours as it is laid on the
    // photo. One layer for each group of bricks whose areas meet, so that bricks far apart do not
    // cost a layer over the whole photo.
    void draw(QImage& image, const QPoint& origin, const TSrgbToPhoto* colours) {
        if (origin.isNull() && image.size() == m_whole && needsPhoto())
            chooseContrasts(image);
        if (!colours) {
            draw(image, origin);
            return;
        }
        const QRect band(origin, image.size());
        QList<QRect> groups;
        for (const QRect& r : m_footprints)
            if (r.intersects(band))
                groups.append(r & band);
        for (bool merged = true; merged;) {
            merged = false;
            for (qsizetype i = 0; i < groups.size(); ++i) {
                for (qsizetype j = i + 1; j < groups.size();) {
                    if (groups[i].adjusted(-1, -1, 1, 1).intersects(groups[j])) {
                        groups[i] |= groups[j];
                        groups.swapItemsAt(j, groups.size() - 1);
                        groups.removeLast();
                        merged = true;
                        j = i + 1;
                    } else {
                        ++j;
                    }
                }
            }
        }
        for (const QRect& group : groups) {
            const QRect cover = group.translated(-origin);
            QImage layer(cover.size(), QImage::Format_RGBA64_Premultiplied);
            if (layer.isNull())
                throw Exception(
                    QStringLiteral("Cannot draw the bricks: no memory for a layer of %1 x %2.")
                        .arg(cover.width())
                        .arg(cover.height()));
            layer.fill(Qt::transparent);
            draw(layer, origin + cover.topLeft());
            ComposeSrgbLayer(image, layer, cover.topLeft(), *colours);
        }
    }

private:
    struct Item {
        BrickPlacement placement;
        QRect footprint; // in the picture's pixels, clipped to it
    };
    QSize m_whole;
    std::vector<Item> m_items;
    QList<QRect> m_footprints;
};

// A brick that picks its text's colour by the photo, in a picture written band by band, looks
// at a reduced decode of the source (size: the picture's size in the plan's pixels).
void chooseContrastsFrom(BrickPlan& plan, const QByteArray& source, const QSize& size) {
    if (!plan.needsPhoto())
        return;
    QBuffer buffer;
    buffer.setData(source);
    QImageReader reader(&buffer);
    const int reduce = std::max(1, std::min(size.width(), size.height()) / 512);
    reader.setScaledSize(QSize(std::max(1, size.width() / reduce),
                               std::max(1, size.height() / reduce)));
    const QImage photo = reader.read();
    plan.chooseContrasts(photo, photo.isNull() ? 1.0
                                               : double(size.width()) / photo.width());
}

// The keep-quality write draws band by band: such a brick looks at the surface's photo when it
// is this one, else at a reduced decode of the source.
void chooseContrastsFor(BrickPlan& plan, const QByteArray& source, const QSize& size,
                        const TDesigner& designer) {
    if (!plan.needsPhoto())
        return;
    if (designer.realPicture.size() == size) {
        plan.chooseContrasts(designer.realPicture);
        return;
    }
    chooseContrastsFrom(plan, source, size);
}

// Copies of the pixels under some rectangles of an image, put back when it goes.
class SavedPixels {
public:
    SavedPixels(QImage& image, const QList<QRect>& rects) : m_image(image) {
        for (const QRect& r : rects)
            m_saved.append({r, image.copy(r)});
    }
    ~SavedPixels() {
        QPainter p(&m_image);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it)
            p.drawImage(it->first.topLeft(), it->second);
    }
    SavedPixels(const SavedPixels&) = delete;
    SavedPixels& operator=(const SavedPixels&) = delete;

private:
    QImage& m_image;
    QList<QPair<QRect, QImage>> m_saved;
};

// Refuses, before any work is done, an output name that is taken: a link, or anything other
// than the source unless it is to be replaced. The write itself holds to the same.
} // namespace

void CheckOutputName(const QString& sourceFile, const QString& output, bool replaceExisting) {
    if (IsSymbolicLink(output))
        throw EOutputTaken(QStringLiteral("\"%1\" is a symbolic link. Nothing was written "
                                          "through it.")
                               .arg(shownPath(output)));
    if (!SameFileEntry(output, sourceFile) && !replaceExisting && PathEntryExists(output))
        throw EOutputTaken(
            QStringLiteral("\"%1\" already exists. Nothing was written.").arg(shownPath(output)));
}

namespace {

// The source's metadata goes in before the file is written, so the file is written once; the
// result is read back before anything is replaced.
// decoded: encoded was decoded whole as it was written (a JPEG of ours, see VerifyOutput).
// trailerOf: the source JPEG whose data after its picture (further images and their MPF index)
// follows the output's picture; only for an output with the source's picture size and layout.
QByteArray finishOutput(const QByteArray& encoded, const TPhotoMetadata& metadata,
                        const TExif& exif, const TWrittenPicture& written,
                        const QString& sourceFile, QStringList* notices, bool decoded,
                        const QByteArray* trailerOf = nullptr) {
    const QString file = QDir::toNativeSeparators(sourceFile);
    try {
        TCarriedOutput out = CarryMetadata(encoded, metadata, exif, written);
        QByteArray trailer;
        if (trailerOf && DetectImageType(out.bytes) == ImageFileType::Jpeg) {
            CarriedJpeg carried = CarryJpegTrailer(*trailerOf, out.bytes);
            if (!carried.notice.isEmpty())
                out.notices << carried.notice;
            out.bytes = std::move(carried.bytes);
            // The MPF index is the one block whose bytes the trailer's place changes (or which
            // is left out when it cannot be updated): what is checked is the output's.
            QList<QByteArray> mpf;
            for (const TJpegSegment& s : ReadJpegHeader(out.bytes).segments)
                if (SegmentKind(s) == TSegmentKind::Mpf)
                    mpf << s.bytes;
            QList<QByteArray> expected;
            for (const QByteArray& block : out.carried) {
                if (SegmentKind(TJpegSegment{uchar(block.size() > 1 ? block[1] : 0), block}) !=
                    TSegmentKind::Mpf)
                    expected << block;
                else if (!mpf.isEmpty())
                    expected << mpf.takeFirst();
            }
            out.carried = expected;
            const qsizetype end = JpegImageEnd(*trailerOf);
            trailer = end >= 0 ? trailerOf->mid(end) : QByteArray();
        }
        VerifyOutput(out.bytes, written.size, out.carried, decoded ? encoded : QByteArray());
        if (trailerOf) {
            const qsizetype end = JpegImageEnd(out.bytes);
            if (end < 0 || QByteArrayView(out.bytes).sliced(end) != QByteArrayView(trailer))
                throw EInvalidGraphic(QStringLiteral("The written picture did not read back: the "
                                                     "data after the picture is missing or "
                                                     "changed"));
        }
        if (notices) {
            for (const QString& n : out.notices)
                notices->append(QStringLiteral("%1: %2.").arg(file, n));
        }
        return out.bytes;
    } catch (const Exception& e) {
        throw Exception(
            QStringLiteral("\"%1\" was not saved: %2 The original is unchanged.").arg(file, e.message()));
    }
}

// A recaptioned JPEG: its size and coding are the source's, and so is what follows its picture.
QByteArray finishRecaptioned(const QByteArray& bytes, const QByteArray& source, const QSize& size,
                             const TPhotoMetadata& metadata, const TExif& exif,
                             const QString& sourceFile, QStringList* notices) {
    TWrittenPicture written;
    written.size = size;
    written.reencoded = false;
    written.picture = [&bytes] {
        try {
            return DecodeJpegScaled(bytes, ExifThumbnailSide, ExifThumbnailSide);
        } catch (const Exception&) {
            return QImage();
        }
    };
    // RecaptionJpeg checks what it writes; a source it gives back untouched was not.
    return finishOutput(bytes, metadata, exif, written, sourceFile, notices,
                        bytes.constData() != source.constData(), &source);
}

void tell(const RenderOptions& options, const QStringList& notices) {
    if (options.onNotice)
        for (const QString& n : notices)
            options.onNotice(n);
}

// The size of a JPEG from its header: its frame, read here without loading an image plugin
// (which costs more than a small photo's caption); the plugin's answer when there is no frame.
QSize jpegSize(const QByteArray& bytes) {
    const TJpegHeader header = ReadJpegHeader(bytes);
    if (header.complete && !header.frameSize.isEmpty())
        return header.frameSize;
    QBuffer buffer;
    buffer.setData(bytes);
    return QImageReader(&buffer, "jpeg").size();
}

// The output size of a fit of a picture of (upright, unturned) size full, and the size of the
// picture before an exact turn.
QSize fitSize(const QSize& full, const RenderOptions& options) {
    const bool quarterTurn = options.angle % 180 != 0 && options.angle % 90 == 0;
    const QSize turned = quarterTurn ? full.transposed() : full;
    const QSize fitted =
        FitIntoBox(turned, QSize(options.width, options.height), options.proportional);
    return quarterTurn ? fitted.transposed() : fitted;
}

} // namespace

QString RenderOutputPath(const QString& sourceFile, const QString& newName) {
    // A photo that cannot be written in its own format here goes beside it as JPEG, never
    // under its own name.
    const bool asJpeg = writtenAsJpegInstead(formatNamedBy(sourceFile));
    // The same file to the user (letter case aside): on a case-sensitive file system the source's
    // own name is written. Blanks are part of a name.
    if (!asJpeg && (newName.isEmpty() || sourceFile.compare(newName, Qt::CaseInsensitive) == 0))
        return sourceFile;
    const QString suffix = asJpeg ? QStringLiteral("jpg") : QFileInfo(sourceFile).suffix();
    const QString ext = suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix.toLower();
    if (asJpeg && newName.isEmpty()) {
        const QString folder = FolderOf(sourceFile);
        QString name = FileNameOf(sourceFile);
        name.truncate(name.lastIndexOf(QLatin1Char('.')));
        return folder + name + ext;
    }
    QString name = FileNameOf(newName);
    // The typed name's own extension, whatever its length, gives way to the source's format.
    if (const qsizetype dot = name.lastIndexOf(QLatin1Char('.')); dot >= 0 && !ext.isEmpty())
        name.truncate(dot);
    const QString folder = FolderOf(newName).isEmpty() ? FolderOf(sourceFile) : FolderOf(newName);
    const QString out = folder + name + ext;
    // On a case-sensitive file system the lower-cased extension would otherwise write a second
    // file beside a source meant to be overwritten.
    return out.compare(sourceFile, Qt::CaseInsensitive) == 0 ? sourceFile : out;
}

void DrawBricks(QImage& image, const TDesigner& designer, const QString& sourceFile,
                bool perFileDates, double sx, double sy, const QPoint& origin,
                const QSize& picture, const TSrgbToPhoto* colours, const QRect& band) {
    BrickPlan plan(designer, sourceFile, perFileDates, sx, sy,
                   picture.isValid() ? picture : image.size(), band);
    plan.draw(image, origin, colours);
}

QString JpegInsteadNotice(const QString& sourceFile, ImageFileType type, const QString& newName) {
    return QStringLiteral("%1: %2 pictures cannot be written here; it is written as JPEG to "
                          "\"%3\".")
        .arg(shownPath(sourceFile), formatName(type),
             shownPath(RenderOutputPath(sourceFile, newName)));
}

QString JpegInsteadNotice(const QString& sourceFile, const QString& newName) {
    ImageFileType type = ImageFileType::Other;
    try {
        type = WrittenFormat(sourceFile);
    } catch (const Exception&) {
        return QString(); // refused when it is written
    }
    return writtenAsJpegInstead(type) ? JpegInsteadNotice(sourceFile, type, newName) : QString();
}

bool RenderRenamesOnly(const RenderOptions& options) {
    // A rotation is never swallowed by the rename-only shortcut.
    return !options.addPattern && !options.fit && options.newName.size() > 1 && options.angle == 0;
}

void RenameOnly(const QString& sourceFile, const QString& newName) {
    ThrowUnlessWritten(MoveFileNoReplace(sourceFile, FolderOf(sourceFile) + newName));
}

QString BandRefusal() {
    return QStringLiteral("a caption band is added to the picture");
}

RenderPrelude PrepareRender(const QString& sourceFile, const QSize& pictureSize, bool pictureEdited,
                            const RenderOptions& options, const QByteArray* sourceBytes) {
    // The file, read at most once: the keep-quality check and the trailer's both look at it.
    QByteArray read;
    const auto readSource = [&]() -> const QByteArray& {
        if (sourceBytes)
            return *sourceBytes;
        if (read.isNull())
            read = ReadFileBytes(sourceFile);
        return read;
    };
    RenderPrelude out;
    out.kind = WrittenFormat(sourceFile);
    if (writtenAsJpegInstead(out.kind)) {
        out.notices << JpegInsteadNotice(sourceFile, out.kind, options.newName);
        out.kind = OutputKind::Jpeg;
    }
    const bool band = BandHeight(options.band, pictureSize) > 0;
    if (band && KeepQualityWanted(sourceFile, options))
        out.notices << KeepQualityFallbackNotice(sourceFile, BandRefusal());
    if (!band && KeepQualityWanted(sourceFile, options) && !pictureEdited) {
        // Only when the surface's picture is still the file's own: unedited, same size, not
        // turned.
        QByteArray source;
        TExif sourceExif;
        QSize stored;
        try {
            source = readSource();
            stored = jpegSize(source);
            sourceExif.LoadFromBytes(source);
        } catch (const Exception&) {
        }
        if (stored == pictureSize && !KeepQualityTurnsPhoto(sourceExif, Settings().AutoRotate)) {
            const QString reason = KeepQualityRefusal(source);
            if (reason.isEmpty()) {
                out.recaptions = true;
                return out;
            }
            out.notices << KeepQualityFallbackNotice(sourceFile, reason);
        }
    }
    if (out.kind == OutputKind::Jpeg) {
        // An encoded picture is one image: what the source holds after it is not written.
        try {
            if (const QString loss = JpegTrailerLoss(readSource()); !loss.isEmpty())
                out.notices << TrailerLossNotice(sourceFile, loss);
        } catch (const Exception&) {
            // A source that cannot be read again has nothing to tell.
        }
    }
    return out;
}

QByteArray RenderImage(TDesigner& designer, const QString& sourceFile,
                       const RenderOptions& given) {
    RenderOptions options = given;
    options.band = designer.Band;
    const bool band = BandHeight(options.band, designer.realPicture.size()) > 0;
    if (designer.realPicture.isNull())
        throw Exception(QStringLiteral("There is no picture to save."));

    const RenderPrelude prelude = PrepareRender(sourceFile, designer.realPicture.size(),
                                                designer.PictureEdited, options);
    tell(options, prelude.notices);
    if (prelude.recaptions)
        return RecaptionBricks(ReadFileBytes(sourceFile), designer, sourceFile,
                               options.perFileDates, designer.realExif, options.onNotice);
    const OutputKind kind = prelude.kind;
    const QImage& real = designer.realPicture;
    QStringList notices;

    const TPhotoMetadata& metadata = designer.realMetadata;
    const auto colours = TSrgbToPhoto::ForProfile(metadata.iccProfile);
    const bool grey = writesGrey(kind, metadata);
    const int quality = Settings().defaultCompressionQuality;
    TWrittenPicture written;
    written.components = grey ? 1 : 3;
    QByteArray bytes;
    if (!band && options.angle == 0 && !(options.width > 0 && options.height > 0) &&
        (real.format() == QImage::Format_RGB32 ||
         (real.format() == QImage::Format_RGBX64 && keepsDeepPixels(kind)))) {
        // The common save: a copy of a 12-megapixel photo costs as much as encoding it, so the
        // bricks are drawn straight into the photo's own pixels and the few rectangles they
        // touch are put back afterwards (also when encoding fails). Nothing else runs meanwhile.
        QImage inPlace(const_cast<uchar*>(real.constBits()), real.width(), real.height(),
                       real.bytesPerLine(), real.format());
        inPlace.setColorSpace(real.colorSpace());
        BrickPlan plan(designer, sourceFile, options.perFileDates, 1.0, 1.0, inPlace.size());
        SavedPixels restore(inPlace, plan.footprints());
        plan.draw(inPlace, {}, colours.get());
        written.size = inPlace.size();
        written.picture = [&inPlace] { return inPlace; };
        bytes = finishOutput(encode(inPlace, kind, quality, grey, metadata, designer.realExif),
                             metadata, designer.realExif, written, sourceFile, &notices,
                             kind == OutputKind::Jpeg);
    } else {
        PreparedPicture working =
            PreparePicture(designer.realPicture, designer.realPicture.size(), sourceFile, options);
        DrawBricks(working.image, designer, sourceFile, options.perFileDates, working.sx,
                   working.sy, {}, {}, colours.get(), working.band);
        written.size = working.image.size();
        written.picture = [&working] { return working.image; };
        bytes = finishOutput(encode(working.image, kind, quality, grey, metadata,
                                    designer.realExif),
                             metadata, designer.realExif, written, sourceFile, &notices,
                             kind == OutputKind::Jpeg);
    }
    tell(options, notices);
    return bytes;
}

struct TPlacedBricks::Impl {
    BrickPlan plan;
};

TPlacedBricks::TPlacedBricks(const TDesigner& designer, const QString& sourceFile,
                             bool perFileDates, const QSize& picture, double sx, double sy,
                             const QByteArray* source)
    : d(new Impl{BrickPlan(designer, sourceFile, perFileDates, sx, sy, picture)}) {
    // Chosen before any band is drawn: a band is not the photo under the brick.
    if (source)
        chooseContrastsFrom(d->plan, *source, picture);
}

TPlacedBricks::~TPlacedBricks() = default;

bool TPlacedBricks::Touches(const QRect& band) const {
    for (const QRect& r : d->plan.footprints())
        if (r.intersects(band))
            return true;
    return false;
}

void TPlacedBricks::Draw(QImage& band, const QPoint& origin, const TSrgbToPhoto* colours) {
    d->plan.draw(band, origin, colours);
}

EPictureUnreadable::EPictureUnreadable(const QString& file, const QString& reason)
    : EInvalidGraphic(
          QStringLiteral("Cannot read picture \"%1\". %2").arg(shownPath(file), reason)) {}

namespace {

// On a worker: hands the band to the thread the bricks are drawn on through bands (guarded by
// lock, signalled on changed) and waits until that thread sets band.drawn; throws the drawing's
// failure, kept in band.error.
template <class Band>
void handAndWait(Band& band, std::deque<Band*>& bands, std::mutex& lock,
                 std::condition_variable& changed) {
    std::unique_lock<std::mutex> guard(lock);
    bands.push_back(&band);
    changed.notify_all();
    changed.wait(guard, [&] { return band.drawn; });
    if (!band.error.isEmpty())
        throw Exception(band.error);
}

} // namespace

void DrawHandedBand(TBandForBricks& band, std::mutex& lock, std::condition_variable& changed) {
    QString error;
    try {
        band.bricks->Draw(*band.image, QPoint(0, band.top), band.colours);
    } catch (const Exception& e) {
        error = e.message();
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        band.error = error;
        band.drawn = true;
    }
    changed.notify_all();
}

void HandBandToBricks(TPlacedBricks& bricks, const TSrgbToPhoto* colours, QImage& image, int top,
                      std::deque<TBandForBricks*>& bands, std::mutex& lock,
                      std::condition_variable& changed) {
    if (!bricks.Touches(QRect(0, top, image.width(), image.height())))
        return;
    TBandForBricks band{&bricks, colours, &image, top, false, QString()};
    handAndWait(band, bands, lock, changed);
}

void ReleaseWaitingBands(std::deque<TBandForBricks*>& bands, std::mutex& lock,
                         std::condition_variable& changed) {
    {
        std::lock_guard<std::mutex> guard(lock);
        for (TBandForBricks* band : bands) {
            band->error = QStringLiteral("Stopped.");
            band->drawn = true;
        }
        bands.clear();
    }
    changed.notify_all();
}

bool StreamsInBands(const QByteArray& source, const QSize& size) {
    return DetectImageType(source) == ImageFileType::Jpeg && size.isValid() &&
           JpegBandsSize(source) == size;
}

QByteArray StreamPicture(QByteArray source, const QString& sourceFile, int jpegQuality,
                         const TExif& exif, const TPhotoMetadata& metadata,
                         const std::function<void(QImage& band, int top)>& paint,
                         QStringList* notices, const QSize& minDecode, const QSize& output) {
    const bool grey = writesGrey(OutputKind::Jpeg, metadata);
    QByteArray encoded;
    const bool fitted = output.isValid() && !output.isEmpty();
    try {
        TBandsOptions bands;
        bands.quality = jpegQuality;
        bands.grayscale = grey;
        // 64 rows: a multiple of every MCU height, about 1 MB a band at 4000 pixels wide.
        bands.bandRows = 64;
        if (fitted) {
            bands.minDecode = minDecode;
            bands.output = output;
        }
        encoded = TranscodeJpegInBands(source, bands, paint);
    } catch (const EInvalidGraphic& e) {
        if (!e.message().startsWith(QLatin1String("Invalid JPEG file")))
            throw;
        // As the whole picture's decode says it.
        throw EPictureUnreadable(sourceFile, e.message());
    }
    TWrittenPicture written;
    written.size = fitted ? output : JpegBandsSize(source);
    GiveBackBytes(std::move(source)); // gone before the output is copied with its metadata
    written.components = grey ? 1 : 3;
    // The EXIF thumbnail is made from a reduced decode of the output: the whole picture is
    // never held.
    written.picture = [&encoded] {
        try {
            return DecodeJpegScaled(encoded, ExifThumbnailSide, ExifThumbnailSide);
        } catch (const Exception&) {
            return QImage();
        }
    };
    QByteArray out = finishOutput(encoded, metadata, exif, written, sourceFile, notices, true);
    GiveBackBytes(std::move(encoded));
    return out;
}

QByteArray EncodePicture(const QImage& image, const QString& sourceFile, int jpegQuality,
                         const TExif& exif, const TPhotoMetadata& metadata,
                         QStringList* notices) {
    OutputKind kind = WrittenFormat(sourceFile);
    if (writtenAsJpegInstead(kind))
        kind = OutputKind::Jpeg;
    const bool grey = writesGrey(kind, metadata);
    TWrittenPicture written;
    written.size = image.size();
    written.components = grey ? 1 : 3;
    written.picture = [&image] { return image; };
    return finishOutput(encode(image, kind, jpegQuality, grey, metadata, exif), metadata, exif,
                        written, sourceFile, notices, kind == OutputKind::Jpeg);
}

bool KeepQualityWanted(const QString& sourceFile, const RenderOptions& options) {
    if (!(options.keepQuality || Settings().KeepPhotoQuality) || options.angle != 0 ||
        (options.width > 0 && options.height > 0))
        return false;
    try {
        return WrittenFormat(sourceFile) == OutputKind::Jpeg;
    } catch (const Exception&) {
        return false; // refused when it is written
    }
}

bool KeepQualityTurnsPhoto(const TExif& sourceExif, bool autoRotate) {
    return autoRotate && sourceExif.Orientation >= 2 && sourceExif.Orientation <= 8;
}

QString KeepQualityRefusal(const QByteArray& source) {
    if (DetectImageType(source) != ImageFileType::Jpeg)
        return QStringLiteral("not a JPEG file");
    return RecaptionUnsupportedReason(source);
}

QString KeepQualityFallbackNotice(const QString& sourceFile, const QString& reason) {
    return QStringLiteral("%1: %2; written by re-encoding.")
        .arg(QDir::toNativeSeparators(sourceFile), reason);
}

QString TrailerLossNotice(const QString& sourceFile, const QString& loss) {
    return QStringLiteral("%1: re-encoding does not keep %2.")
        .arg(QDir::toNativeSeparators(sourceFile), loss);
}

QByteArray RecaptionBricks(const QByteArray& source, const TDesigner& designer,
                           const QString& sourceFile, bool perFileDates, const TExif& exif,
                           const std::function<void(const QString& text)>& onNotice) {
    const QSize size = jpegSize(source);
    const TPhotoMetadata metadata = ReadPhotoMetadata(source);
    const auto colours = TSrgbToPhoto::ForProfile(metadata.iccProfile);
    BrickPlan plan(designer, sourceFile, perFileDates, 1.0, 1.0, size);
    chooseContrastsFor(plan, source, size, designer);
    QByteArray bytes = RecaptionJpeg(source, plan.footprints(),
                                     [&](QImage& band, const QPoint& origin) {
                                         plan.draw(band, origin, colours.get());
                                     });
    QStringList notices;
    QByteArray out =
        finishRecaptioned(bytes, source, size, metadata, exif, sourceFile, &notices);
    GiveBackBytes(std::move(bytes));
    if (onNotice)
        for (const QString& n : notices)
            onNotice(n);
    return out;
}

void RecaptionBricksMany(
    const QList<QString>& sourceFiles, const QList<QByteArray>& sources, const QList<TExif>& exifs,
    const TDesigner& designer, int jobs,
    const std::function<void(int index, QByteArray bytes, const QString& error)>& done,
    const std::function<void(int index, const QString& notice)>& noticed) {
    // A band waiting for its bricks: a worker hands it over and waits until it is drawn.
    struct Band {
        QImage* image;
        QPoint origin;
        int index;
        const TSrgbToPhoto* colours;
        bool drawn = false;
        QString error;
    };
    struct Result {
        bool ready = false;
        QByteArray bytes;
        QString error;
        QStringList notices;
    };
    const int n = int(sources.size());
    std::vector<Result> results(size_t(std::max(n, 0)));
    std::deque<Band*> bands;
    std::mutex lock;
    std::condition_variable changed;

    // The touched areas need the bricks: worked out here, before any worker starts, and each
    // brick laid out once per source, with that source's own dates and field values.
    std::vector<std::unique_ptr<BrickPlan>> plans;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        plans.push_back(std::make_unique<BrickPlan>(designer, sourceFiles[i], true, 1.0, 1.0,
                                                    jpegSize(sources[i])));
        chooseContrastsFor(*plans.back(), sources[i], jpegSize(sources[i]), designer);
    }

    auto work = [&](int i) {
        Result r;
        try {
            const TPhotoMetadata metadata = ReadPhotoMetadata(sources[i]);
            const auto colours = TSrgbToPhoto::ForProfile(metadata.iccProfile);
            QByteArray bytes = RecaptionJpeg(
                sources[i], plans[size_t(i)]->footprints(),
                [&](QImage& image, const QPoint& origin) {
                    Band band{&image, origin, i, colours.get(), false, QString()};
                    handAndWait(band, bands, lock, changed);
                });
            r.bytes = finishRecaptioned(bytes, sources[i], jpegSize(sources[i]), metadata,
                                        exifs[i], sourceFiles[i], &r.notices);
            GiveBackBytes(std::move(bytes));
        } catch (const std::exception& e) {
            const auto* ours = dynamic_cast<const Exception*>(&e);
            r.error = ours ? ours->message() : QString::fromLocal8Bit(e.what());
        }
        std::lock_guard<std::mutex> guard(lock);
        r.ready = true;
        results[size_t(i)] = std::move(r);
        changed.notify_all();
    };

    QThreadPool pool;
    pool.setMaxThreadCount(jobs > 0 ? jobs : std::max(1, QThread::idealThreadCount()));
    for (int i = 0; i < n; ++i)
        pool.start([&work, i] { work(i); });
    for (int next = 0; next < n;) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return !bands.empty() || results[size_t(next)].ready; });
        if (!bands.empty()) {
            Band* band = bands.front();
            bands.pop_front();
            guard.unlock();
            QString error;
            try {
                plans[size_t(band->index)]->draw(*band->image, band->origin, band->colours);
            } catch (const Exception& e) {
                error = e.message();
            } catch (const std::exception& e) {
                error = QString::fromLocal8Bit(e.what());
            }
            guard.lock();
            band->error = error;
            band->drawn = true;
            changed.notify_all();
            continue;
        }
        Result r = std::move(results[size_t(next)]);
        guard.unlock();
        if (noticed)
            for (const QString& notice : r.notices)
                noticed(next, notice);
        done(next++, std::move(r.bytes), r.error);
    }
    pool.waitForDone();
}

QSize LeastDecodeForFit(const QSize& full, const RenderOptions& options) {
    if (!(options.width > 0 && options.height > 0) || options.angle % 90 != 0 || full.isEmpty())
        return {};
    const QSize target = fitSize(full, options);
    if (target.width() * 2 > full.width() || target.height() * 2 > full.height())
        return {};
    return target;
}

QString WriteRendered(const QString& sourceFile, const QString& newName, const QByteArray& bytes,
                      bool replaceExisting) {
    const QString output = RenderOutputPath(sourceFile, newName);
    const ImageFileType written = DetectImageType(bytes);
    if (const ImageFileType named = formatNamedBy(output); nameDisagrees(output, written))
        throw EFCreateError(QStringLiteral("\"%1\" names a %2 file, but the picture is written "
                                           "as %3, its own format. Nothing was written.")
                                .arg(shownPath(output), formatName(named), formatName(written)));
    WriteRequest request;
    request.attributesFrom = sourceFile;
    if (SameFileEntry(output, sourceFile)) {
        // The output replaces its source: the original stays as ".bak", a hard link made before
        // the new file takes the name. An existing backup is older still and stays.
        request.kind = WriteKind::Replace;
        request.backup = sourceFile + QStringLiteral(".bak");
    } else if (replaceExisting) {
        // Replacing another file was agreed to: it is kept the same way.
        request.kind = WriteKind::CreateOrReplace;
        request.backup = output + QStringLiteral(".bak");
    } else {
        request.kind = WriteKind::CreateNew;
    }
    ThrowUnlessWritten(WriteFileAtomically(output, bytes, request));
    return output;
}

ImageFileType WrittenFormat(const QString& sourceFile) {
    const ImageFileType named = formatNamedBy(sourceFile);
    // Looked at through the bounded reader: a pipe or device at the name must not hold the
    // render before the photo itself is refused.
    FileCheck check;
    const int fd = OpenRegularFile(sourceFile, MaxImageFileSize, &check);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        // The file went since it was opened: its name is all there is to go by.
        if (check.problem == FileProblem::Missing && named != ImageFileType::Other)
            return named;
        throw EFOpenError(
            QStringLiteral("Cannot open file \"%1\". %2")
                .arg(shownPath(sourceFile), fd < 0 ? check.reason : file.errorString()));
    }
    const QByteArray head = file.read(512);
    const ImageFileType type = DetectImageType(head);
    if (writable(type)) {
        if (nameDisagrees(sourceFile, type))
            throw EFCreateError(
                QStringLiteral("\"%1\" is a %2 picture under a %3 name; it is "
                               "not rewritten as either. Nothing was written.")
                    .arg(shownPath(sourceFile), formatName(type), formatName(named)));
        return type;
    }
    QBuffer buffer;
    buffer.setData(head);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray qtFormat = QImageReader::imageFormat(&buffer).toUpper();
    const QString what = type == ImageFileType::Ico ? formatName(type)
                         : qtFormat.isEmpty()
                             ? QStringLiteral("picture of a format")
                             : QString::fromLatin1(qtFormat) + QStringLiteral(" picture");
    throw EFCreateError(QStringLiteral("\"%1\" is a %2 that cannot be written; pictures are "
                                       "written as JPEG, PNG, GIF, BMP, TIFF, WebP, HEIC or "
                                       "AVIF only. Nothing was written.")
                            .arg(shownPath(sourceFile), what));
}

QString OutputNameRefusal(const QString& sourceFile, const QString& typedName) {
    const ImageFileType named = formatNamedBy(typedName);
    if (named == ImageFileType::Other)
        return QString();
    const ImageFileType written = WrittenFormat(sourceFile);
    if (!nameDisagrees(typedName, written))
        return QString();
    // A photo written as JPEG instead may be given a JPEG name too (its own format's name gives
    // way to ".jpg" all the same).
    if (writtenAsJpegInstead(written) && !nameDisagrees(typedName, ImageFileType::Jpeg))
        return QString();
    return QStringLiteral("\"%1\" names a %2 file, but \"%3\" is written as %4, its own "
                          "format. Nothing was written.")
        .arg(shownPath(typedName), formatName(named), shownPath(sourceFile), formatName(written));
}

void RenderAndSave(TDesigner& designer, const QString& sourceFile, const RenderOptions& options) {
    if (RenderRenamesOnly(options)) {
        RenameOnly(sourceFile, options.newName);
        return;
    }
    CheckOutputName(sourceFile, RenderOutputPath(sourceFile, options.newName),
                    options.replaceExisting);
    WriteRendered(sourceFile, options.newName, RenderImage(designer, sourceFile, options),
                  options.replaceExisting);
}

PreparedPicture PreparePicture(QImage picture, const QSize& fullSize, const QString& sourceFile,
                               const RenderOptions& options) {
    OutputKind kind = WrittenFormat(sourceFile);
    if (writtenAsJpegInstead(kind))
        kind = OutputKind::Jpeg;
    int width = options.width, height = options.height;
    const int angle = options.angle;
    // A GIF is reduced to its colours once, from the captioned picture, when it is encoded.
    // Only formats with an alpha channel (PNG, TIFF, WebP, HEIC, AVIF) keep transparency, and
    // only as long as no rotation or resampling (which work on opaque bitmaps) is asked for.
    const bool keepAlpha = kind != OutputKind::Jpeg && kind != OutputKind::Gif &&
                           kind != OutputKind::Bmp && picture.hasAlphaChannel() && angle == 0 &&
                           !(width > 0 && height > 0);
    // A picture of more than 8 bits a channel stays so where its format can hold it; rotation
    // and resampling then work on it at that depth.
    const bool deep = picture.depth() == 64 && keepsDeepPixels(kind);
    const QImage::Format format = deep ? (keepAlpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
                                       : (keepAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    PreparedPicture out;
    out.image = picture.format() == format ? std::move(picture) : picture.convertToFormat(format);
    QImage& working = out.image;

    // The size of the turned picture, before any resampling: from the full size the bricks
    // were laid out on, whatever size the picture was decoded at.
    const bool quarterTurn = angle % 180 != 0 && angle % 90 == 0;
    const bool exactTurn = angle % 90 == 0;
    QSize turned = quarterTurn ? fullSize.transposed() : fullSize;
    if (angle != 0 && !exactTurn) {
        RotateBitmap(working, qRgb(255, 255, 255), angle);
        turned = working.size();
    }

    if (width > 0 && height > 0) {
        const QSize fitted = FitIntoBox(turned, QSize(width, height), options.proportional);
        width = fitted.width();
        height = fitted.height();
        // Bricks follow the change of size: positions and sizes scale with the image.
        out.sx = double(width) / turned.width();
        out.sy = double(height) / turned.height();
        // An exact turn commutes with the area average, so the full-size picture is reduced
        // first and only the small one is turned: less work and no full-size copy.
        const QSize before = quarterTurn ? QSize(height, width) : QSize(width, height);
        ResampleBitmap(working, before.width(), before.height());
    }
    if (angle != 0 && exactTurn)
        RotateBitmap(working, qRgb(255, 255, 255), angle);
    if (BandHeight(options.band, working.size()) > 0) {
        out.band = BandRectOnCanvas(options.band, working.size());
        QImage banded = WithBand(working, options.band);
        if (banded.isNull())
            throw Exception(QStringLiteral("Cannot add the caption band: no memory for a "
                                           "picture of %1 x %2.")
                                .arg(working.width())
                                .arg(working.height() + out.band.height()));
        working = std::move(banded);
    }
    return out;
}

QSize StreamedFitSize(const QSize& fullSize, const RenderOptions& options) {
    if (!(options.width > 0 && options.height > 0) || fullSize.isEmpty())
        return {};
    return FitIntoBox(fullSize, QSize(options.width, options.height), options.proportional);
}
