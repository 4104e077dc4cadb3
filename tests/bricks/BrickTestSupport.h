#pragma once

#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"

#include <QImage>
#include <QTemporaryDir>
#include <memory>

// A design surface with a photo of its own, opened from a BMP file in a temporary folder.
struct SurfaceFixture {
    QTemporaryDir dir;
    std::unique_ptr<TDesigner> designer;
    QString photoPath;
    QImage photo;

    explicit SurfaceFixture(QSize size = QSize(400, 300), double zoom = 1.0,
                            const QString& fileName = QStringLiteral("photo.bmp"),
                            bool smooth = false);
    QString path(const QString& name) const { return dir.filePath(name); }
};

// Places a brick of type T on the surface at a full-size position, as the surface does.
template <class T> T* placeBrick(TDesigner& d, int fullLeft, int fullTop) {
    auto* brick = new T(d.Panel1);
    d.AddComponent(brick);
    brick->FullLeft = fullLeft;
    brick->FullTop = fullTop;
    brick->SetBounds(d.PreviewFromFull(fullLeft), d.PreviewFromFull(fullTop), brick->Width(),
                     brick->Height());
    return brick;
}
