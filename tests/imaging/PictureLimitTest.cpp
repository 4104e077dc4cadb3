#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PictureLoader.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <gtest/gtest.h>

namespace {

// A one-bit PNG: a few kilobytes of file for any number of pixels.
QByteArray bigPng(int width, int height) {
    QImage image(width, height, QImage::Format_Mono);
    image.fill(1);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "PNG"));
    return bytes;
}

QByteArray pictureData(const QByteArray& className, const QByteArray& bytes) {
    return char(className.size()) + className + bytes;
}

QString messageOf(const QByteArray& data) {
    try {
        LoadGraphicData(data);
    } catch (const EInvalidGraphic& e) {
        return e.message();
    }
    return {};
}

} // namespace

TEST(PictureLimit, PicturesAboveTheLimitAreRefusedBeforeTheyAreDecoded) {
    // 33,554,432 pixels at most: 5792 x 5792 = 33,547,264 is in, 5793 x 5793 = 33,558,849 not.
    ASSERT_EQ(MaxPicturePixels, 33554432);
    const QString refused = messageOf(pictureData("TPngImage", bigPng(5793, 5793)));
    EXPECT_TRUE(refused.contains(QLatin1String("5793 x 5793")) &&
                refused.contains(QLatin1String("too large")) &&
                refused.contains(QLatin1String("33.6 megapixels")))
        << refused.toStdString();
    const LoadedGraphic in = LoadGraphicData(pictureData("TPngImage", bigPng(5792, 5792)));
    EXPECT_EQ(in.image.size(), QSize(5792, 5792));

    // The 16384 x 16384 picture that decoded to a gigabyte.
    EXPECT_TRUE(messageOf(pictureData("TPngImage", bigPng(16384, 16384))).contains("too large"));

    // The limit is the pictures' own: a photo of that size still decodes.
    EXPECT_EQ(DecodeImage(bigPng(5793, 5793)).size(), QSize(5793, 5793));
}

TEST(PictureLimit, ALargerJpegIsDecodedReducedAndKeptWhole) {
    QImage gray(6000, 6000, QImage::Format_Grayscale8);
    gray.fill(128);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(gray.save(&buffer, "JPEG", 20));
    const LoadedGraphic g = LoadGraphicData(pictureData("TJPEGImage", jpeg));
    // 36 megapixels: libjpeg's 1/2 scale, 9 megapixels, is the largest that fits.
    EXPECT_EQ(g.image.size(), QSize(3000, 3000));
    EXPECT_TRUE(g.data == jpeg); // the pattern still stores the file as it was
    EXPECT_EQ(g.className, QStringLiteral("TJPEGImage"));
}
