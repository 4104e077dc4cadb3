#include "tests/bricks/BrickTestSupport.h"

#include "tests/support/TestSupport.h"

SurfaceFixture::SurfaceFixture(QSize size, double zoom, const QString& fileName, bool smooth)
    : designer(std::make_unique<TDesigner>()) {
    photo = makeTestPhoto(size.width(), size.height(), 7, smooth);
    photoPath = dir.filePath(fileName);
    photo.save(photoPath);
    designer->OpenImage(photoPath, zoom);
}
