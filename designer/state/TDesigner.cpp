#include "designer/state/TDesigner.h"

#include "designer/state/TcPanel.h"
#include "imaging/core/BitmapOps.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PictureLoader.h"
#include "patterns/settings/TSettings.h"
#include "platform/Rounding.h"

#include <QUndoStack>
#include <QVariant>
#include <algorithm>

namespace {
TDesigner* g_instance = nullptr;
}

TDesigner::TDesigner(QWidget* parent) : QWidget(parent), Panel1(new TcPanel(this)) {
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
    UpdatePreview();
    PhotoModified = false;
}

bool TDesigner::PatternModified() const {
    return History && !History->isClean();
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
    if (realPicture.isNull() || ZoomRatio <= 0) {
        Picture = QImage();
    } else if (ZoomRatio == 1.0) {
        Picture = realPicture;
    } else {
        const int w = std::max(1, PreviewFromFull(realPicture.width()));
        const int h = std::max(1, PreviewFromFull(realPicture.height()));
        Picture = realPicture;
        ResampleBitmap(Picture, w, h);
    }
    Panel1->resize(Picture.size());
    Panel1->update();
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
