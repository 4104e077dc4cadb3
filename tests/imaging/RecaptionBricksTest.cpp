#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/TExif.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/settings/TSettings.h"
#include "platform/TextEngine.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <climits>
#include <gtest/gtest.h>

namespace {

class RecaptionBricksTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = Settings();
        Settings().AutoRotate = true;
        Settings().KeepPhotoQuality = false;
    }
    void TearDown() override { Settings() = saved; }

    // The fixture's surface with a JPEG photo of the given size open.
    QByteArray openJpeg(SurfaceFixture& f, int width, int height) {
        const QByteArray bytes = EncodeJpeg(makeTestPhoto(width, height, 11), 90);
        QFile out(f.path("photo.jpg"));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        out.close();
        f.designer->OpenImage(f.path("photo.jpg"), 1.0);
        return bytes;
    }

    TSettings saved;
};

TText* addCaption(TDesigner& d, int left, int top, const QString& caption) {
    auto* t = placeBrick<TText>(d, left, top);
    t->Font()->setHeight(-12);
    t->setCaption(caption);
    t->FitToText();
    return t;
}

} // namespace

TEST_F(RecaptionBricksTest, EachTextBrickIsLaidOutOncePerRender) {
    SurfaceFixture f(QSize(64, 48));
    // 50 x 40 small captions 64 pixels apart: each touches MCUs of its own, so the photo is
    // captioned in 2,000 separate bands.
    const QByteArray source = openJpeg(f, 3200, 2560);
    QRandomGenerator random(7);
    constexpr int Inside = 2000;
    for (int i = 0; i < Inside; ++i)
        addCaption(*f.designer, i % 50 * 64 + random.bounded(8), i / 50 * 64 + random.bounded(8),
                   QStringLiteral("T"));
    // Bricks off the photo are not laid out at all.
    addCaption(*f.designer, 3300, 10, QStringLiteral("right of it"));
    addCaption(*f.designer, 10, -500, QStringLiteral("above it"));

    const QString src = f.path("photo.jpg");
    quint64 before = TextLayoutCount();
    const QByteArray kept = RecaptionBricks(source, *f.designer, src, false, TExif());
    EXPECT_EQ(TextLayoutCount() - before, quint64(Inside));

    // Several photos at once: once per brick and photo.
    before = TextLayoutCount();
    QList<QByteArray> outputs(3);
    RecaptionBricksMany({src, src, src}, {source, source, source}, {TExif(), TExif(), TExif()},
                        *f.designer, 2,
                        [&](int i, QByteArray bytes, const QString& error) {
                            EXPECT_TRUE(error.isEmpty()) << error.toStdString();
                            outputs[i] = bytes;
                        });
    EXPECT_EQ(TextLayoutCount() - before, quint64(3 * Inside));
    for (const QByteArray& out : outputs)
        EXPECT_TRUE(out == kept);

    // Encoding the photo again draws them once too.
    before = TextLayoutCount();
    RenderImage(*f.designer, src, {.newName = "again.jpg"});
    EXPECT_EQ(TextLayoutCount() - before, quint64(Inside));
}

TEST_F(RecaptionBricksTest, BricksNearTheEndsOfTheIntRangeTouchNothing) {
    SurfaceFixture f(QSize(64, 48));
    const QByteArray source = openJpeg(f, 256, 192);
    const QString src = f.path("photo.jpg");
    const QByteArray plain = RenderImage(*f.designer, src, {.newName = "plain.jpg"});

    QImage logo(8, 8, QImage::Format_RGB32);
    logo.fill(Qt::red);
    const auto addPicture = [&](int left, int top, int width, int height) {
        auto* p = placeBrick<TPictureimg>(*f.designer, left, top);
        p->FullWidth = width;
        p->FullHeight = height;
        p->Picture()->setGraphic({QStringLiteral("TBitmap"), EncodeBmp(logo), logo});
    };
    // Their right or bottom edges lie past INT_MAX: a QRect of them wraps round.
    addPicture(INT_MAX - 20, 10, 100, 40);
    addPicture(10, INT_MAX, 40, 40);
    addPicture(INT_MAX, INT_MAX, INT_MAX, INT_MAX);
    addPicture(INT_MIN, INT_MIN, INT_MAX, INT_MAX); // ends at -2 on both axes
    addCaption(*f.designer, INT_MAX, 20, QStringLiteral("wraps"));
    addCaption(*f.designer, INT_MIN, 20, QStringLiteral("far left"));

    const QByteArray kept = RecaptionBricks(source, *f.designer, src, false, TExif());
    // No block is coded again: the file comes back as it was.
    EXPECT_TRUE(kept == source);
    const QImage a = DecodeImage(kept), b = DecodeImage(source);
    ASSERT_EQ(a.size(), b.size());
    int changed = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            changed += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
    EXPECT_EQ(changed, 0);
    // Encoded again, the picture is the one without bricks, to the byte.
    EXPECT_TRUE(RenderImage(*f.designer, src, {.newName = "far.jpg"}) == plain);
}
