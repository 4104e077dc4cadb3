#include "designer/state/TDesigner.h"

#include "designer/state/TcPanel.h"
#include "imaging/core/BitmapOps.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PictureLoader.h"
#include "patterns/settings/TSettings.h"
#include "platform/Rounding.h"

#include <QPainter>
#include <QUndoStack>
#include <QVariant>
#include <algorithm>

namespace {
TDesigner* g_instance = nullptr;
}

TDesigner::TDesigner(QWidget* parent) : QWidget(parent), Panel1(new TcPanel(this)) {
    setObjectName(QStringLiteral("Designer"));
    Panel1->setGeometry(0, 0, 0, 0);
    g_instance = this;
}

TDesigner::~TDesigner() {
    if (g_instance == this)
        g_instance = nullptr;
}

TDesigner* TDesigner::Instance() {
    return g_instance;
}

QList<QWidget*> TDesigner::Components() const {
    QList<QWidget*> out;
    for (const auto& c : m_components)
        if (c)
            out.append(c.data());
    return out;
}

void TDesigner::AddComponent(QWidget* component) {
    if (component && !m_components.contains(component))
        m_components.append(component);
}

void TDesigner::RemoveComponent(QWidget* component) {
    m_components.removeAll(component);
}

void TDesigner::InsertComponent(int index, QWidget* component) {
    if (!component || m_components.contains(component))
        return;
    m_components.removeAll(QPointer<QWidget>());
    m_components.insert(std::clamp<qsizetype>(index, 0, m_components.size()), component);
}

QList<QWidget*> TDesigner::Bricks() const {
    QList<QWidget*> out;
    for (QWidget* c : Components())
        if (IsBrickTag(ComponentTag(c)))
            out.append(c);
    return out;
}

void TDesigner::OpenImage(const QString& fileName, double zoomRatio) {
    LoadPhoto(fileName); // photos without a readable EXIF block open all the same
    FileName = fileName;
    ZoomRatio = zoomRatio > 0 ? zoomRatio : 1.0;
    ++PhotoGeneration;
    UpdatePreview();
    PhotoModified = false;
}

bool TDesigner::PatternModified() const {
    if (!History || History->isClean())
        return false;
    const int clean = History->cleanIndex();
    if (clean < 0)
        return true; // the saved state is no longer in the history
    const int index = History->index();
    for (int i = std::min(clean, index); i < std::max(clean, index); ++i)
        if (const QUndoCommand* c = History->command(i); !c || c->id() != kPhotoOnlyCommandId)
            return true;
    return false;
}

QString TDesigner::LoadPhoto(const QString& fileName) {
    LoadedPhoto photo = LoadPhotoFile(fileName, Settings().AutoRotate);
    realPicture = std::move(photo.picture);
    PictureEdited = false;
    realExif = std::move(photo.exif);
    realMetadata = std::move(photo.metadata);
    Fields = ReadPhotoFields(fileName, 1);
    return photo.exifError;
}

void TDesigner::UpdatePreview() {
    Levels(); // made now, once per photo, rather than in the first paint
    Panel1->resize(PreviewSize());
    Panel1->update();
}

namespace {
// Halvings stop once the picture's longer side is below this.
constexpr int kSmallestLevel = 64;
} // namespace

const QList<QImage>& TDesigner::Levels() const {
    if (realPicture.isNull()) {
        m_levels.clear();
        m_screenPicture = QImage();
        m_levelsKey = 0;
        return m_levels;
    }
    // Any change of the photo's pixels gives it another cache key.
    if (m_levelsKey == realPicture.cacheKey())
        return m_levels;
    m_levels.clear();
    m_levelsKey = 0;
    // The screen shows 8 bits a channel: a deep photo is shown from one 8-bit copy, made here
    // once, rather than converted on every paint.
    m_screenPicture =
        realPicture.depth() == 64 ? realPicture.convertToFormat(QImage::Format_RGB32) : QImage();
    QImage level = m_screenPicture.isNull() ? realPicture : m_screenPicture;
    while (std::max(level.width(), level.height()) >= 2 * kSmallestLevel) {
        level = HalveBitmap(level);
        m_levels.append(level);
    }
    m_levelsKey = realPicture.cacheKey();
    return m_levels;
}

QSize TDesigner::PreviewSize() const {
    if (realPicture.isNull() || ZoomRatio <= 0)
        return {};
    const QSize canvas = CanvasSize();
    return {std::max(1, PreviewFromFull(canvas.width())),
            std::max(1, PreviewFromFull(canvas.height()))};
}

void TDesigner::PaintPreview(QPainter& painter, const QRect& area) const {
    const QSize whole = PreviewSize();
    if (whole.isEmpty())
        return;
    // The photo's part of the preview, and the band's beside it.
    QRect photoRect(QPoint(0, 0), whole);
    const QRect band = BandRect();
    if (!band.isEmpty()) {
        const int bandTop = PreviewFromFull(band.top()), bandBottom = PreviewFromFull(band.bottom() + 1);
        const QRect bandPreview = QRect(0, bandTop, whole.width(), bandBottom - bandTop) &
                                  QRect(QPoint(), whole);
        painter.fillRect(bandPreview & area, TColorToQColor(Band.color));
        photoRect = Band.edge == TCaptionBand::Edge::Top
                        ? QRect(0, bandPreview.bottom() + 1, whole.width(),
                                whole.height() - bandPreview.height())
                        : QRect(0, 0, whole.width(), bandPreview.top());
    }
    const QSize preview = photoRect.size();
    const QRect shown = area.intersected(photoRect).translated(-photoRect.topLeft());
    if (shown.isEmpty() || preview.isEmpty())
        return;
    // The smallest picture that still has a pixel for every pixel shown: the photo itself, or
    // the halving whose scale lies between the zoom ratio and half of it.
    const QList<QImage>& levels = Levels();
    int level = 0;
    while (level < levels.size() && double(2 << level) <= ZoomRatio * (1 + 1e-9))
        ++level;
    const QImage& image =
        level > 0 ? levels[level - 1] : m_screenPicture.isNull() ? realPicture : m_screenPicture;
    const double sx = double(image.width()) / preview.width();
    const double sy = double(image.height()) / preview.height();
    const QRectF source(shown.x() * sx, shown.y() * sy, shown.width() * sx, shown.height() * sy);
    painter.save();
    // Smooth while reducing and at moderate enlargements; from 300 % on the photo's own pixels
    // show.
    const bool exact = image.size() == preview;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !exact && ZoomRatio > 1.0 / 3);
    painter.drawImage(QRectF(shown.translated(photoRect.topLeft())), image, source);
    painter.restore();
}

QImage TDesigner::PreviewImage(const QRect& area) const {
    if (area.isEmpty())
        return {};
    QImage out(area.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.translate(-area.topLeft());
    PaintPreview(p, area);
    return out;
}

QImage TDesigner::ScaledPicture(QSize size) const {
    if (realPicture.isNull() || size.isEmpty())
        return {};
    const QImage* from = &realPicture;
    for (const QImage& level : Levels())
        if (level.width() >= size.width() && level.height() >= size.height())
            from = &level;
    return from->scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

qint64 TDesigner::PreviewCacheBytes() const {
    qint64 bytes = 0;
    for (const QImage& level : m_levels)
        bytes += level.sizeInBytes();
    bytes += m_screenPicture.sizeInBytes();
    return bytes;
}

void TDesigner::SetGridX(int value) {
    value = std::clamp(value, 1, 32);
    if (value == m_gridX)
        return;
    m_gridX = value;
    Panel1->update();
    emit gridChanged();
}

void TDesigner::SetGridY(int value) {
    value = std::clamp(value, 1, 32);
    if (value == m_gridY)
        return;
    m_gridY = value;
    Panel1->update();
    emit gridChanged();
}

void TDesigner::SetIsGrid(bool value) {
    if (value == m_isGrid)
        return;
    m_isGrid = value;
    emit gridChanged();
}

void TDesigner::SetShowGrid(bool value) {
    if (value == m_showGrid)
        return;
    m_showGrid = value;
    Panel1->update();
    emit gridChanged();
}

namespace {
QString sizeText(QSize size) {
    return size.isEmpty() ? QString()
                          : QStringLiteral("%1 x %2").arg(size.width()).arg(size.height());
}
} // namespace

void TDesigner::SetCaptionBandText(const QString& text) {
    const TCaptionBand band = BandFromText(text);
    if (band == Band)
        return;
    Band = band;
    UpdatePreview();
    emit bandChanged();
}

QString TDesigner::PictureText() const {
    return sizeText(PreviewSize());
}

QString TDesigner::RealPictureText() const {
    return sizeText(realPicture.size());
}

QString TDesigner::ExifText() const {
    if (realExif.Entries.isEmpty())
        return realPicture.isNull() ? QString() : QStringLiteral("(none)");
    return QStringLiteral("%1 entries").arg(realExif.Entries.size());
}

QWidget* TDesigner::PanelWidget() const {
    return Panel1;
}

int TDesigner::PreviewFromFull(int full) const {
    return ZoomRatio > 0 ? RoundHalfEven(full / ZoomRatio) : 0;
}

int TDesigner::FullFromPreview(int preview) const {
    return RoundHalfEven(preview * ZoomRatio);
}

const TDesigner* DesignerOf(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (const auto* panel = qobject_cast<const TcPanel*>(w))
            return panel->Designer();
        if (const auto* designer = qobject_cast<const TDesigner*>(w))
            return designer;
    }
    return nullptr;
}

int ComponentTag(const QObject* component) {
    const QVariant v = component ? component->property("Tag") : QVariant();
    return v.isValid() ? v.toInt() : 0;
}
