#include "patterns/settings/CaptionFields.h"

#include "imaging/core/TExif.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
class CaptionFieldsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetSystemLocaleForTesting(QLocale(QLocale::English, QLocale::UnitedStates));
        Settings() = TSettings();
        SetRunClockShift(std::nullopt);
        ASSERT_TRUE(m_dir.isValid());
    }
    void TearDown() override {
        ResetSystemLocaleForTesting();
        Settings() = TSettings();
        SetRunClockShift(std::nullopt);
    }
    // A small JPEG whose tags exiftool writes; empty when exiftool is missing.
    QString photo(const QString& name, const QStringList& tags) {
        if (QStandardPaths::findExecutable("exiftool").isEmpty())
            return QString();
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(makeTestPhoto(64, 48).save(path, "JPEG"));
        QProcess p;
        p.start("exiftool", QStringList{"-q", "-overwrite_original", "-charset", "iptc=UTF8"} +
                                tags + QStringList{path});
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return path;
    }
    QTemporaryDir m_dir;
};

#define NEED_EXIFTOOL(path)                                                                       \
    if ((path).isEmpty())                                                                         \
    GTEST_SKIP() << "exiftool is not installed"

TEST_F(CaptionFieldsTest, ExposureFieldsReadAsPhotographersWriteThem) {
    const QString path = photo(
        "exposure.jpg",
        {"-Make=Fujifilm", "-Model=X-T5", "-LensModel=XF35mmF1.4 R", "-Software=Firmware 2.10",
         "-FNumber=2.8", "-ExposureTime=1/250", "-ISO=200", "-FocalLength=50",
         "-FocalLengthIn35mmFormat=75", "-ExposureCompensation=+0.7", "-EXIF:Flash#=1",
         "-GPSLatitude=48.5", "-GPSLatitudeRef=N", "-GPSLongitude=11.2", "-GPSLongitudeRef=E",
         "-GPSAltitude=520", "-GPSAltitudeRef#=0",
         "-DateTimeOriginal=2026:03:29 18:42:07", "-OffsetTimeOriginal=+02:00"});
    NEED_EXIFTOOL(path);
    const TPhotoFields f = ReadPhotoFields(path, 7);
    QStringList missing;
    EXPECT_EQ(ExpandFields("{Make} {Model} · {Lens} · {Software}", f, &missing),
              "Fujifilm X-T5 · XF35mmF1.4 R · Firmware 2.10");
    EXPECT_EQ(ExpandFields("{FNumber} · {Exposure} · {ISO} · {FocalLength} ({FocalLength35})", f,
                           &missing),
              "f/2.8 · 1/250 s · ISO 200 · 50 mm (75 mm)");
    EXPECT_EQ(ExpandFields("{ExposureBias}|{Flash}", f, &missing), "+0.7 EV|Flash");
    EXPECT_EQ(ExpandFields("{GPS}, {Altitude}", f, &missing), "48°30′00″ N 11°12′00″ E, 520 m");
    EXPECT_EQ(ExpandFields("{FileName} #{Counter}", f, &missing), "exposure.jpg #7");
    EXPECT_EQ(ExpandFields("{Date:yyyy-MM-dd} {Time:hh:mm:ss z}", f, &missing),
              "2026-03-29 18:42:07 +02:00");
    EXPECT_TRUE(missing.isEmpty()) << missing.join(",").toStdString();
}

TEST_F(CaptionFieldsTest, LongAndOddExposuresAndSouthWest) {
    const QString two = photo("two.jpg", {"-ExposureTime=2", "-FNumber=8", "-EXIF:Flash#=16",
                                          "-ExposureCompensation=-1.3", "-GPSLatitude=33.8568",
                                          "-GPSLatitudeRef=S", "-GPSLongitude=151.2153",
                                          "-GPSLongitudeRef=W", "-GPSAltitude=12",
                                          "-GPSAltitudeRef#=1"});
    NEED_EXIFTOOL(two);
    const TPhotoFields f = ReadPhotoFields(two);
    // 33.8568° = 33°51'24.48" and 151.2153° = 151°12'55.08", to the nearest second.
    EXPECT_EQ(ExpandFields("{Exposure} {FNumber} [{Flash}] {ExposureBias} {GPS} {Altitude}", f),
              "2 s f/8 [] -1.3 EV 33°51′24″ S 151°12′55″ W -12 m");
    const QString half = photo("half.jpg", {"-ExposureTime=0.5", "-ExposureCompensation=0"});
    EXPECT_EQ(ExpandFields("{Exposure} {ExposureBias}", ReadPhotoFields(half)), "1/2 s 0 EV");
}

TEST_F(CaptionFieldsTest, TextFieldsPreferXmpThenIptcThenExif) {
    const QString xmp = photo(
        "xmp.jpg", {"-XMP-dc:Title=Harbour at dawn", "-XMP-dc:Creator=Ann Smith",
                    "-XMP-dc:Rights=© 2026 Ann Smith", "-XMP-dc:Description=Boats coming in",
                    "-XMP-photoshop:City=Kiel", "-XMP-photoshop:State=Schleswig-Holstein",
                    "-XMP-photoshop:Country=Germany", "-XMP-dc:Subject=sea",
                    "-XMP-dc:Subject=boats", "-IPTC:ObjectName=Not this", "-EXIF:Artist=Nor this"});
    NEED_EXIFTOOL(xmp);
    EXPECT_EQ(ExpandFields("{Title}/{Creator}/{Copyright}/{Caption}", ReadPhotoFields(xmp)),
              "Harbour at dawn/Ann Smith/© 2026 Ann Smith/Boats coming in");
    EXPECT_EQ(ExpandFields("{City}, {State}, {Country}: {Keywords}", ReadPhotoFields(xmp)),
              "Kiel, Schleswig-Holstein, Germany: sea, boats");

    const QString iptc = photo(
        "iptc.jpg", {"-IPTC:ObjectName=Old mill", "-IPTC:By-line=Bo Berg",
                     "-IPTC:CopyrightNotice=Bo Berg 1999", "-IPTC:Caption-Abstract=The mill",
                     "-IPTC:City=Lund", "-IPTC:Province-State=Skåne",
                     "-IPTC:Country-PrimaryLocationName=Sweden", "-IPTC:Keywords=mill",
                     "-IPTC:Keywords=river", "-EXIF:Artist=Not this"});
    EXPECT_EQ(ExpandFields("{Title}/{Creator}/{Copyright}/{Caption}", ReadPhotoFields(iptc)),
              "Old mill/Bo Berg/Bo Berg 1999/The mill");
    EXPECT_EQ(ExpandFields("{City}, {State}, {Country}: {Keywords}", ReadPhotoFields(iptc)),
              "Lund, Skåne, Sweden: mill, river");

    const QString exif = photo("exif.jpg", {"-EXIF:Artist=Cy Cole", "-EXIF:Copyright=Cy 2001",
                                            "-EXIF:ImageDescription=A field"});
    QStringList missing;
    EXPECT_EQ(ExpandFields("{Creator}/{Copyright}/{Caption}/{Title}/{City}",
                           ReadPhotoFields(exif), &missing),
              "Cy Cole/Cy 2001/A field//");
    EXPECT_EQ(missing, QStringList({"Title", "City"}));
}

TEST(CaptionFieldsSyntax, BracesEscapesFormatsAndUnknownNames) {
    TPhotoFields f;
    f.tags.values.insert("Model", "X-T5");
    f.tags.values.insert("Flash", "");
    f.fileName = "a.jpg";
    f.dated.hasDate = true;
    f.dated.taken.value = 46110.5; // 29 March 2026, noon (46110 days after 30 Dec 1899)
    QStringList missing;
    EXPECT_EQ(ExpandFields("{{Model}} {Model} {model} }} {{", f, &missing),
              "{Model} X-T5 X-T5 } {");
    EXPECT_EQ(ExpandFields("{Unknown} {Model {Date:d MMMM yyyy} {FileName:x}", f, &missing),
              "{Unknown} {Model 29 March 2026 {FileName:x}");
    EXPECT_EQ(ExpandFields("[{Flash}][{Counter}][{Lens}]", f, &missing), "[][][]");
    // Flash present (did not fire) is no missing field; Counter and Lens are.
    EXPECT_EQ(missing, QStringList({"Counter", "Lens"}));
    EXPECT_EQ(FieldsUsed("{Model}{Date:yy}{Model}{{ISO}}"), QStringList({"Model", "Date"}));
    EXPECT_TRUE(HasFields("a {{ b"));
    EXPECT_FALSE(HasFields("a {b} c"));
    EXPECT_FALSE(HasFields("plain"));
    f.tags.values.insert("City", "São Paulo: Centro/Sé");
    EXPECT_EQ(ExpandFieldsForFileName("{City} {Time:hh:mm}", f), "São Paulo CentroSé 1200");
}

TEST(CaptionFieldsFormatting, NumbersRoundAsWritten) {
    EXPECT_EQ(FNumberText(1.4), "f/1.4");
    EXPECT_EQ(FNumberText(11), "f/11");
    EXPECT_EQ(FNumberText(5.66), "f/5.7");
    EXPECT_EQ(ExposureText(1.0 / 8000), "1/8000 s");
    EXPECT_EQ(ExposureText(0.3), "1/3 s");
    EXPECT_EQ(ExposureText(1.5), "1.5 s");
    EXPECT_EQ(ExposureText(30), "30 s");
    EXPECT_EQ(FocalLengthText(4.25), "4.3 mm");
    EXPECT_EQ(ExposureBiasText(2.0 / 3.0), "+0.7 EV");
    EXPECT_EQ(ExposureBiasText(-0.04), "0 EV");
    EXPECT_EQ(GpsText(0.999999, "n", 179.99999, ""), "1°00′00″ N 180°00′00″ E");
    EXPECT_EQ(AltitudeText(0.4, true), "0 m");
}
} // namespace
