#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/ImageCodecs.h"
#include "patterns/settings/TSettings.h"
#include "tests/support/TestSupport.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QVariant>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A plain widget standing for a component, with the Tag the surface sorts by (none: no Tag).
std::unique_ptr<QWidget> component(const char* name, QVariant tag = QVariant()) {
    auto w = std::make_unique<QWidget>();
    w->setObjectName(QLatin1String(name));
    if (tag.isValid())
        w->setProperty("Tag", tag);
    return w;
}

QStringList namesOf(const QList<QWidget*>& widgets) {
    QStringList names;
    for (const QWidget* w : widgets)
        names << w->objectName();
    return names;
}

// Round half to even, worked out here on exact halves only.
int halfEven(double v) {
    const double f = std::floor(v);
    const double frac = v - f;
    if (frac < 0.5)
        return int(f);
    if (frac > 0.5)
        return int(f) + 1;
    return int(f) % 2 == 0 ? int(f) : int(f) + 1;
}

// A photo file of the given size in a temporary folder.
struct PhotoFile {
    QTemporaryDir dir;
    QString path;
    QImage photo;
    PhotoFile(QSize size, const char* name = "photo.bmp") {
        photo = makeTestPhoto(size.width(), size.height(), 3, true);
        path = dir.filePath(QLatin1String(name));
        WriteFileBytes(path, EncodeBmp(photo));
    }
};

} // namespace

// ---- A fresh surface --------------------------------------------------------------------------

TEST(DesignerState, FreshSurfaceHasOnlyItsPicturePanel) {
    TDesigner d;
    ASSERT_NE(d.Panel1, nullptr);
    EXPECT_EQ(d.Panel1->parentWidget(), &d);
    EXPECT_EQ(d.Panel1->objectName(), QStringLiteral("Panel1"));
    EXPECT_EQ(d.Panel1->Designer(), &d);
    EXPECT_EQ(ComponentTag(d.Panel1), kPictureTag);
    EXPECT_FALSE(IsBrickTag(ComponentTag(d.Panel1)));
    EXPECT_TRUE(d.Panel1->size().isEmpty());
    EXPECT_EQ(d.ZoomRatio, 0.0);
    EXPECT_TRUE(d.PreviewSize().isEmpty());
    EXPECT_TRUE(d.realPicture.isNull());
    EXPECT_FALSE(d.Modified());
    EXPECT_FALSE(d.PatternModified()) << "no history without a surface";
    EXPECT_TRUE(d.FileName.isEmpty());
    EXPECT_TRUE(d.Components().isEmpty());
    EXPECT_TRUE(d.Bricks().isEmpty());
}

// ---- Zoom arithmetic: to the nearest, halves to the even neighbour ----------------------------

TEST(DesignerState, PreviewAndFullCoordinatesRoundHalfToEven) {
    TDesigner d;
    struct Case {
        double zoom;
        int full, preview; // PreviewFromFull(full) == preview
    };
    const Case toPreview[] = {
        {2, 0, 0},    {2, 1, 0},    {2, 2, 1},     {2, 3, 2},    {2, 5, 2},    {2, 7, 4},
        {2, 9, 4},    {2, -1, 0},   {2, -3, -2},   {2, -5, -2},  {4, 2, 0},    {4, 6, 2},
        {4, 10, 2},   {4, 14, 4},   {4, 9, 2},     {4, 11, 3},   {0.5, 3, 6},  {1, 17, 17},
        {8, 12, 2},   {8, 20, 2},   {8, 28, 4},    {3, 4, 1},    {3, 5, 2},    {1.5, 3, 2},
        {0.25, 1, 4}, {16, 24, 2},  {16, 40, 2},   {16, 8, 0},   {16, 23, 1},  {2, 401, 200},
    };
    for (const Case& c : toPreview) {
        d.ZoomRatio = c.zoom;
        EXPECT_EQ(d.PreviewFromFull(c.full), c.preview) << c.full << " at zoom " << c.zoom;
    }
    struct Back {
        double zoom;
        int preview, full; // FullFromPreview(preview) == full
    };
    const Back toFull[] = {
        {0.5, 1, 0}, {0.5, 3, 2},  {0.5, 5, 2},    {0.5, 7, 4},  {0.5, -1, 0}, {0.5, -3, -2},
        {2.5, 1, 2}, {2.5, 3, 8},  {2.5, 5, 12},   {2.5, 7, 18}, {2, 13, 26},  {1.5, 1, 2},
        {1.5, 3, 4}, {1.5, 5, 8},  {0.25, 2, 0},   {0.25, 6, 2}, {0.25, 10, 2}, {1, -7, -7},
    };
    for (const Back& c : toFull) {
        d.ZoomRatio = c.zoom;
        EXPECT_EQ(d.FullFromPreview(c.preview), c.full) << c.preview << " at zoom " << c.zoom;
    }
    // The tables agree with rounding half to even worked out on their own.
    for (const Case& c : toPreview)
        EXPECT_EQ(halfEven(c.full / c.zoom), c.preview) << c.full << " / " << c.zoom;
    for (const Back& c : toFull)
        EXPECT_EQ(halfEven(c.preview * c.zoom), c.full) << c.preview << " * " << c.zoom;
}

TEST(DesignerState, NoZoomRatioYetMapsEverythingToZero) {
    TDesigner d;
    for (double zoom : {0.0, -2.0}) {
        d.ZoomRatio = zoom;
        EXPECT_EQ(d.PreviewFromFull(0), 0);
        EXPECT_EQ(d.PreviewFromFull(123), 0) << "no division by " << zoom;
    }
    d.ZoomRatio = 0;
    EXPECT_EQ(d.FullFromPreview(123), 0);
}

// ---- Opening an image and its preview ---------------------------------------------------------

struct ZoomCase {
    double zoom;
    double zoomAfter; // what the surface keeps
    QSize preview;    // worked out by hand from 400 x 300
};
void PrintTo(const ZoomCase& c, std::ostream* os) {
    *os << "zoom " << c.zoom;
}

class OpenImageAtZoom : public ::testing::TestWithParam<ZoomCase> {};

TEST_P(OpenImageAtZoom, KeepsTheFullPhotoAndAPreviewAtTheRatio) {
    const ZoomCase& c = GetParam();
    PhotoFile file(QSize(400, 300));
    TDesigner d;
    d.PhotoModified = true;
    d.OpenImage(file.path, c.zoom);
    EXPECT_EQ(d.ZoomRatio, c.zoomAfter);
    EXPECT_EQ(d.FileName, file.path);
    EXPECT_FALSE(d.PhotoModified) << "a freshly opened image is unmodified";
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(d.realPicture, file.photo, 0, &why)) << why.toStdString();
    ASSERT_EQ(d.PreviewSize(), c.preview);
    EXPECT_EQ(d.Panel1->size(), c.preview) << "the panel is the preview's size";
    if (c.preview.width() > 1) {
        EXPECT_EQ(d.PreviewFromFull(400), c.preview.width());
    }
    // The preview shows the photo: on a smooth photo each preview pixel is close to the photo
    // under its centre.
    for (const QPoint p : {QPoint(0, 0), QPoint(c.preview.width() / 2, c.preview.height() / 3),
                           QPoint(c.preview.width() - 1, c.preview.height() - 1)}) {
        const QPoint under(std::min(399, int((p.x() + 0.5) * 400 / c.preview.width())),
                           std::min(299, int((p.y() + 0.5) * 300 / c.preview.height())));
        const QColor shown = d.PreviewImage().pixelColor(p), photo = file.photo.pixelColor(under);
        EXPECT_NEAR(shown.red(), photo.red(), 16) << p.x() << "," << p.y();
        EXPECT_NEAR(shown.green(), photo.green(), 16) << p.x() << "," << p.y();
    }
    if (c.zoomAfter == 1.0) {
        EXPECT_TRUE(fuzzyImageCompare(d.PreviewImage(), file.photo, 0, &why)) << why.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, OpenImageAtZoom,
    ::testing::Values(ZoomCase{1.0, 1.0, {400, 300}}, ZoomCase{2.0, 2.0, {200, 150}},
                      ZoomCase{4.0, 4.0, {100, 75}},
                      ZoomCase{8.0, 8.0, {50, 38}},   // 37.5 goes to the even 38
                      ZoomCase{16.0, 16.0, {25, 19}}, // 18.75
                      ZoomCase{3.0, 3.0, {133, 100}}, ZoomCase{0.5, 0.5, {800, 600}},
                      ZoomCase{0.0, 1.0, {400, 300}},     // no ratio: 1
                      ZoomCase{-2.0, 1.0, {400, 300}},    // nor a negative one
                      ZoomCase{1000.0, 1000.0, {1, 1}})); // never smaller than a pixel

TEST(DesignerState, UpdatePreviewFollowsTheZoomRatio) {
    PhotoFile file(QSize(400, 300));
    TDesigner d;
    d.OpenImage(file.path, 1.0);
    d.ZoomRatio = 2.0;
    d.UpdatePreview();
    EXPECT_EQ(d.PreviewSize(), QSize(200, 150));
    EXPECT_EQ(d.Panel1->size(), QSize(200, 150));
    EXPECT_EQ(d.realPicture.size(), QSize(400, 300)) << "the full-size photo stays";
    d.ZoomRatio = 0.5;
    d.UpdatePreview();
    EXPECT_EQ(d.PreviewSize(), QSize(800, 600));
    d.ZoomRatio = 0;
    d.UpdatePreview();
    EXPECT_TRUE(d.PreviewSize().isEmpty());
    EXPECT_TRUE(d.Panel1->size().isEmpty());
    d.ZoomRatio = 1.0;
    d.realPicture = QImage();
    d.UpdatePreview();
    EXPECT_TRUE(d.PreviewSize().isEmpty()) << "no photo, no preview";
}

TEST(DesignerState, UnreadableImageLeavesTheSurfaceAsItWas) {
    PhotoFile file(QSize(60, 40));
    TDesigner d;
    d.OpenImage(file.path, 2.0);
    d.PhotoModified = true;
    const QImage before = d.realPicture;
    const QString missing = file.dir.filePath(QStringLiteral("absent.jpg"));
    EXPECT_THROW(d.OpenImage(missing, 4.0), EFOpenError);
    const QString broken = file.dir.filePath(QStringLiteral("broken.bmp"));
    WriteFileBytes(broken, "BM not a bitmap");
    EXPECT_THROW(d.OpenImage(broken, 4.0), EInvalidGraphic);
    EXPECT_THROW(d.LoadPhoto(broken), EInvalidGraphic);
    EXPECT_EQ(d.realPicture, before);
    EXPECT_EQ(d.FileName, file.path);
    EXPECT_EQ(d.ZoomRatio, 2.0);
    EXPECT_EQ(d.PreviewSize(), QSize(30, 20));
    EXPECT_TRUE(d.PhotoModified);
}

// ---- LoadPhoto: upright by the EXIF orientation unless AutoRotate is off ----------------------

class LoadPhotoOrientation : public ::testing::Test {
protected:
    void TearDown() override { Settings().AutoRotate = true; }
};

TEST_F(LoadPhotoOrientation, QuarterTurnIsUndoneUnlessAutoRotateIsOff) {
    // Stored 40 x 20: left half red, right half blue; orientation 6 asks viewers to turn it a
    // quarter clockwise, which brings the left column to the top row.
    QImage stored(40, 20, QImage::Format_RGB32);
    stored.fill(QColor(0, 0, 255));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            stored.setPixel(x, y, qRgb(255, 0, 0));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("turned.jpg"));
    ExifBlock block;
    block.orientation = 6;
    block.main = {{0x010F, "Maker"}};
    WriteFileBytes(path, withExifBlock(EncodeJpeg(stored, 95), block));

    const auto isRed = [](QColor c) { return c.red() > 200 && c.blue() < 60; };
    const auto isBlue = [](QColor c) { return c.blue() > 200 && c.red() < 60; };

    Settings().AutoRotate = true;
    TDesigner d;
    EXPECT_EQ(d.LoadPhoto(path), QString()) << "the block was read";
    ASSERT_EQ(d.realPicture.size(), QSize(20, 40));
    EXPECT_TRUE(isRed(d.realPicture.pixelColor(10, 5)));
    EXPECT_TRUE(isBlue(d.realPicture.pixelColor(10, 34)));
    EXPECT_FALSE(d.realExif.Entries.isEmpty());
    EXPECT_TRUE(d.PreviewSize().isEmpty()) << "loading a photo leaves the preview to UpdatePreview";
    EXPECT_TRUE(d.FileName.isEmpty());

    Settings().AutoRotate = false;
    EXPECT_EQ(d.LoadPhoto(path), QString());
    ASSERT_EQ(d.realPicture.size(), QSize(40, 20));
    EXPECT_TRUE(isRed(d.realPicture.pixelColor(5, 10)));
    EXPECT_TRUE(isBlue(d.realPicture.pixelColor(34, 10)));

    // Opening goes the same way, the preview from the upright photo.
    Settings().AutoRotate = true;
    d.OpenImage(path, 2.0);
    EXPECT_EQ(d.realPicture.size(), QSize(20, 40));
    EXPECT_EQ(d.PreviewSize(), QSize(10, 20));
}

// ---- Components and the furniture rule --------------------------------------------------------

TEST(DesignerState, FurnitureRuleDrawsTheLineAtFifty) {
    EXPECT_TRUE(IsBrickTag(0));
    EXPECT_TRUE(IsBrickTag(-1));
    EXPECT_TRUE(IsBrickTag(49));
    EXPECT_FALSE(IsBrickTag(50));
    EXPECT_FALSE(IsBrickTag(kPictureTag));
    EXPECT_FALSE(IsBrickTag(1000));
    EXPECT_EQ(kFurnitureTag, 50);

    EXPECT_EQ(ComponentTag(nullptr), 0);
    EXPECT_EQ(ComponentTag(component("none").get()), 0);
    EXPECT_EQ(ComponentTag(component("seven", 7).get()), 7);
}

TEST(DesignerState, BricksAreTheComponentsTaggedBelowFiftyInOrder) {
    TDesigner d;
    auto untagged = component("untagged");
    auto last = component("t49", 49);
    auto first = component("t50", 50);
    auto negative = component("neg", -1);
    auto high = component("t100", 100);
    auto zero = component("t0", 0);
    for (QWidget* w : {untagged.get(), first.get(), last.get(), negative.get(), high.get(),
                       zero.get(), static_cast<QWidget*>(d.Panel1)})
        d.AddComponent(w);
    EXPECT_EQ(namesOf(d.Components()), QStringList({"untagged", "t50", "t49", "neg", "t100", "t0",
                                                    "Panel1"}));
    EXPECT_EQ(namesOf(d.Bricks()), QStringList({"untagged", "t49", "neg", "t0"}));
    // A tag changed later moves the component across the line.
    last->setProperty("Tag", 50);
    high->setProperty("Tag", 3);
    EXPECT_EQ(namesOf(d.Bricks()), QStringList({"untagged", "neg", "t100", "t0"}));
}

TEST(DesignerState, AddingTwiceOrNothingChangesNothing) {
    TDesigner d;
    auto a = component("a", 1);
    d.AddComponent(a.get());
    d.AddComponent(a.get());
    d.AddComponent(nullptr);
    EXPECT_EQ(d.Components(), QList<QWidget*>({a.get()}));
}

TEST(DesignerState, RemoveComponentForgetsButDoesNotDelete) {
    TDesigner d;
    auto a = component("a", 1), b = component("b", 2), c = component("c", 60);
    for (QWidget* w : {a.get(), b.get(), c.get()})
        d.AddComponent(w);
    QPointer<QWidget> watched = b.get();
    d.RemoveComponent(b.get());
    EXPECT_EQ(namesOf(d.Components()), QStringList({"a", "c"}));
    EXPECT_EQ(namesOf(d.Bricks()), QStringList({"a"}));
    EXPECT_FALSE(watched.isNull()) << "the surface only forgets it";
    d.RemoveComponent(b.get()); // not there any more
    d.RemoveComponent(nullptr);
    EXPECT_EQ(namesOf(d.Components()), QStringList({"a", "c"}));
    // Added again, it goes to the end.
    d.AddComponent(b.get());
    EXPECT_EQ(namesOf(d.Components()), QStringList({"a", "c", "b"}));
}

TEST(DesignerState, DeletedComponentsDropOutOfTheLists) {
    TDesigner d;
    auto a = component("a", 1);
    auto b = component("b", 2);
    d.AddComponent(a.get());
    d.AddComponent(b.get());
    a.reset();
    EXPECT_EQ(namesOf(d.Components()), QStringList({"b"}));
    EXPECT_EQ(namesOf(d.Bricks()), QStringList({"b"}));
}

// ---- DesignerOf: the surface a widget sits on -------------------------------------------------

TEST(DesignerState, DesignerOfFindsTheSurfaceThroughItsPanel) {
    TDesigner one, two;
    auto* onPanel = new QWidget(one.Panel1);
    auto* deeper = new QWidget(onPanel);
    auto* onSurface = new QWidget(&one);
    auto* onOther = new QWidget(two.Panel1);
    EXPECT_EQ(DesignerOf(onPanel), &one);
    EXPECT_EQ(DesignerOf(deeper), &one);
    EXPECT_EQ(DesignerOf(onSurface), &one);
    EXPECT_EQ(DesignerOf(one.Panel1), &one);
    EXPECT_EQ(DesignerOf(&one), &one);
    EXPECT_EQ(DesignerOf(onOther), &two);
    EXPECT_EQ(DesignerOf(two.Panel1), &two);

    QWidget loose;
    auto* inLoose = new QWidget(&loose);
    EXPECT_EQ(DesignerOf(&loose), nullptr);
    EXPECT_EQ(DesignerOf(inLoose), nullptr);
    EXPECT_EQ(DesignerOf(nullptr), nullptr);

    // Moved to another surface, it follows.
    onPanel->setParent(two.Panel1);
    EXPECT_EQ(DesignerOf(deeper), &two);
    onPanel->setParent(&loose);
    EXPECT_EQ(DesignerOf(deeper), nullptr);
}
