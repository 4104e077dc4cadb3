#include "patterns/file/PatternFile.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PictureLoader.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/settings/DateTimeFormats.h"
#include "patterns/settings/TSettings.h"
#include "platform/ComponentStream.h"
#include "platform/PublishedProperties.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class PatternFile : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterBricks();
        SetPatternLayoutHooks({}, {});
        ApplyPatternLayout(PatternLayout{});
    }
    void TearDown() override { SetPatternLayoutHooks({}, {}); }
};

PatternLayout sampleLayout() {
    PatternLayout l;
    l.Inspector = {10, 20, 300, 400};
    l.ColWidth = 120;
    l.Sort = true;
    l.AlwaysOnTop = true;
    l.Designer = {5, 6, 700, 500};
    l.GridX = 8;
    l.GridY = 16;
    l.IsGrid = true;
    l.Manager = {-4, 0, 1024, 768};
    return l;
}

bool sameBounds(const PatternWindowBounds& a, const PatternWindowBounds& b) {
    return a.Left == b.Left && a.Top == b.Top && a.Width == b.Width && a.Height == b.Height;
}

void expectLayout(const PatternLayout& a, const PatternLayout& b) {
    EXPECT_TRUE(sameBounds(a.Inspector, b.Inspector));
    EXPECT_EQ(a.ColWidth, b.ColWidth);
    EXPECT_EQ(a.Sort, b.Sort);
    EXPECT_EQ(a.AlwaysOnTop, b.AlwaysOnTop);
    EXPECT_TRUE(sameBounds(a.Designer, b.Designer));
    EXPECT_EQ(a.GridX, b.GridX);
    EXPECT_EQ(a.GridY, b.GridY);
    EXPECT_EQ(a.IsGrid, b.IsGrid);
    EXPECT_TRUE(sameBounds(a.Manager, b.Manager));
}

QString fileText(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray raw = f.readAll();
    QStringDecoder dec(QStringDecoder::Utf16LE);
    return dec.decode(raw.mid(2));
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray utf16le(const QString& s, bool bom = true) {
    QByteArray out = bom ? QByteArray("\xFF\xFE", 2) : QByteArray();
    for (QChar c : s) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

QByteArray utf16be(const QString& s) {
    QByteArray out("\xFE\xFF", 2);
    for (QChar c : s) {
        out.append(char(c.unicode() >> 8));
        out.append(char(c.unicode() & 0xFF));
    }
    return out;
}

const char* const LayoutXml =
    "  <Inspector Left=\"1\" Top=\"2\" Width=\"3\" Height=\"4\" ColWidth=\"5\" "
    "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
    "  <Designer Left=\"0\" Top=\"0\" Width=\"640\" Height=\"480\" "
    "GridX=\"6\" GridY=\"12\" IsGrid=\"False\" Picture=\"x.jpg\"/>\n"
    "  <Manager Left=\"0\" Top=\"0\" Width=\"800\" Height=\"600\"/>\n";

QString patternXml(const QString& bricks, const QString& decl = QStringLiteral("Unicode")) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\n<Project Name=\"Test Project\" "
                          "Created=\"by qmv\">\n%2  <Bricks>\n%3  </Bricks>\n</Project>\n")
        .arg(decl, QLatin1String(LayoutXml), bricks);
}

QString brickXml(const QString& body) {
    QString b = body;
    b.replace(QLatin1String("&"), QLatin1String("&amp;"))
        .replace(QLatin1String("\""), QLatin1String("&quot;"))
        .replace(QLatin1String("<"), QLatin1String("&lt;"));
    return QStringLiteral("    <Brick Body=\"%1\"/>\n").arg(b);
}

template <class T> T* brickNamed(TDesigner& d, const QString& name) {
    for (QWidget* w : d.Components())
        if (w->objectName() == name)
            return qobject_cast<T*>(w);
    return nullptr;
}

} // namespace

TEST_F(PatternFile, EveryBrickAndTheLayoutRoundTrip) {
    SurfaceFixture f(QSize(400, 300), 1.0);
    TDesigner& d = *f.designer;
    ApplyPatternLayout(sampleLayout());

    auto* text = placeBrick<TText>(d, 10, 20);
    text->setName(QStringLiteral("Text1"));
    text->setCaption(QString::fromUtf8("It's \"quoted\"\r\nline two %CR%LF \xD0\x96 & <tag>"));
    text->Font()->setStyle(Tk::fsBold | Tk::fsItalic);
    text->Font()->setColor(0x00FF8040);
    text->Angle = 450;
    text->Opacity = 128;
    auto* date = placeBrick<TTextDate>(d, 30, 40);
    date->setName(QStringLiteral("TextDate1"));
    date->setCaption(QStringLiteral("24.12.2023"));
    auto* time = placeBrick<TTextTime>(d, 50, 60);
    time->setName(QStringLiteral("TextTime1"));
    time->setCaption(QStringLiteral("12:34:56"));
    auto* bubble = placeBrick<TTextBubble>(d, 70, 80);
    bubble->setName(QStringLiteral("TextBubble1"));
    bubble->setCaption(QStringLiteral("Hi!"));
    bubble->setFromX(150);
    bubble->setFromY(90);
    auto* picture = placeBrick<TPictureimg>(d, 100, 110);
    picture->setName(QStringLiteral("Pictureimg1"));
    picture->SetBounds(100, 110, 64, 48);
    picture->Picture()->setData(MakePictureData(
        {QStringLiteral("TJPEGImage"), EncodeJpeg(makeTestPhoto(32, 24), 85), QImage()}));
    const QByteArray pictureData = picture->Picture()->Data();

    const QString path = f.path(QStringLiteral("pattern.xml"));
    WritePattern(path, d);

    ClearBricks(d);
    ApplyPatternLayout(PatternLayout{});
    ReadPattern(path, d);
    expectLayout(CurrentPatternLayout(), sampleLayout());

    const QList<QWidget*> bricks = d.Bricks();
    ASSERT_EQ(bricks.size(), 5);
    QStringList names;
    for (QWidget* b : bricks) {
        names << b->objectName();
        EXPECT_EQ(b->parentWidget(), d.Panel1);
    }
    EXPECT_EQ(names,
              QStringList({"Text1", "TextDate1", "TextTime1", "TextBubble1", "Pictureimg1"}));

    auto* t = brickNamed<TText>(d, QStringLiteral("Text1"));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->Caption(),
              QString::fromUtf8("It's \"quoted\"\r\nline two %CR%LF \xD0\x96 & <tag>"));
    EXPECT_EQ(t->Font()->Style(), Tk::fsBold | Tk::fsItalic);
    EXPECT_EQ(t->Font()->Color(), 0x00FF8040);
    EXPECT_EQ(t->Font()->Name(), QStringLiteral("Arial"));
    EXPECT_EQ(t->Font()->Height(), -48);
    EXPECT_EQ(t->Left(), 10);
    EXPECT_EQ(t->FullLeft, 10);
    EXPECT_EQ(t->FullTop, 20);
    // Angle and opacity are stored with the brick.
    EXPECT_EQ(t->Angle, 450);
    EXPECT_EQ(t->Opacity, 128);

    // Read over a photo, a date or time brick shows the photo's date as the render burns it in:
    // here the settings' fallbacks, the photo having none.
    const double fallbackDate = ParseDateText(Settings().defaultDate);
    const double fallbackTime = ParseTimeText(Settings().defaultTime);
    EXPECT_EQ(brickNamed<TTextDate>(d, QStringLiteral("TextDate1"))->Caption(),
              FormatDateTimeText(SystemShortDateFormat(), fallbackDate));
    EXPECT_EQ(brickNamed<TTextTime>(d, QStringLiteral("TextTime1"))->Caption(),
              FormatDateTimeText(TimeFormats.at(1), fallbackTime));
    // Without a photo the stored captions stay.
    {
        TDesigner bare;
        ReadPattern(path, bare);
        EXPECT_EQ(brickNamed<TTextDate>(bare, QStringLiteral("TextDate1"))->Caption(),
                  QStringLiteral("24.12.2023"));
        EXPECT_EQ(brickNamed<TTextTime>(bare, QStringLiteral("TextTime1"))->Caption(),
                  QStringLiteral("12:34:56"));
    }

    auto* b = brickNamed<TTextBubble>(d, QStringLiteral("TextBubble1"));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->FromX(), 150);
    EXPECT_EQ(b->FromY(), 90);
    EXPECT_EQ(b->FullLeft, 70);
    ASSERT_TRUE(b->Marker());
    EXPECT_EQ(b->Marker()->parentWidget(), d.Panel1);
    EXPECT_EQ(b->Marker()->FullLeft, 70 + 150);
    EXPECT_EQ(b->Marker()->FullTop, 80 + 90);
    EXPECT_EQ(b->Marker()->pos(), QPoint(220, 170));
    EXPECT_EQ(b->Marker()->objectName(), QStringLiteral("BubbleFrom1"));
    EXPECT_FALSE(d.Components().contains(b->Marker())); // owned by its bubble, never saved

    auto* p = brickNamed<TPictureimg>(d, QStringLiteral("Pictureimg1"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Picture()->Data(), pictureData);
    EXPECT_EQ(QRect(p->FullLeft, p->FullTop, p->FullWidth, p->FullHeight), QRect(100, 110, 64, 48));
}

TEST_F(PatternFile, DocumentLayoutAndEncoding) {
    SurfaceFixture f;
    TDesigner& d = *f.designer;
    auto* text = placeBrick<TText>(d, 4, 5);
    text->setName(QStringLiteral("Text1"));
    text->setCaption(QStringLiteral("a\r\nb"));
    const QString path = f.path(QStringLiteral("p.xml"));
    WritePattern(path, d);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray raw = file.readAll();
    ASSERT_TRUE(raw.startsWith(QByteArray("\xFF\xFE<\0?\0x\0m\0l\0", 12))); // UTF-16 LE, BOM
    const QString xml = fileText(path);
    EXPECT_TRUE(xml.startsWith(QLatin1String("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n")));
    const qsizetype project =
        xml.indexOf(QLatin1String("<Project Name=\"Test Project\" Created=\"by qmv\">"));
    const qsizetype inspector =
        xml.indexOf(QLatin1String("\n  <Inspector Left=\"0\" Top=\"0\" Width=\"0\" "
                                  "Height=\"0\" ColWidth=\"0\" Sort=\"False\" "
                                  "AlwaysOnTop=\"False\"/>"));
    const qsizetype designer =
        xml.indexOf(QLatin1String("\n  <Designer Left=\"0\" Top=\"0\" Width=\"0\" "
                                  "Height=\"0\" GridX=\"4\" GridY=\"4\" IsGrid=\"False\" "
                                  "Zoom=\"1\" PhotoWidth=\"400\" PhotoHeight=\"300\"/>"));
    const qsizetype manager =
        xml.indexOf(QLatin1String("\n  <Manager Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\"/>"));
    const qsizetype bricks = xml.indexOf(
        QLatin1String("\n  <Bricks>\n    <Brick Body=\"object Text1: TText%CR%LF  Left = 4%CR%LF"));
    EXPECT_GE(project, 0);
    EXPECT_GT(inspector, project);
    EXPECT_GT(designer, inspector);
    EXPECT_GT(manager, designer);
    EXPECT_GT(bricks, manager) << xml.toStdString();
    // One line per brick: the caption's line break is inside the string, the lines are marked.
    EXPECT_TRUE(xml.contains(QLatin1String("  Caption = 'a'#13#10'b'%CR%LF")));
    EXPECT_TRUE(xml.contains(QLatin1String("end%CR%LF\"/>\n  </Bricks>")));
    EXPECT_FALSE(xml.contains(QLatin1String("&#13;")));
}

TEST_F(PatternFile, EmptyPatternKeepsLayoutAndGrid) {
    SurfaceFixture f;
    TDesigner& d = *f.designer;
    ApplyPatternLayout(sampleLayout());
    const QString path = f.path(QStringLiteral("empty.xml"));
    WritePattern(path, d);
    EXPECT_TRUE(fileText(path).contains(QLatin1String("<Bricks/>")));
    ApplyPatternLayout(PatternLayout{});
    ReadPattern(path, d);
    EXPECT_TRUE(d.Bricks().isEmpty());
    expectLayout(CurrentPatternLayout(), sampleLayout());
}

TEST_F(PatternFile, LayoutHooksReplaceTheStoredValue) {
    SurfaceFixture f;
    PatternLayout seen;
    int applied = 0;
    SetPatternLayoutHooks([] { return sampleLayout(); },
                          [&](const PatternLayout& l) {
                              seen = l;
                              ++applied;
                          });
    const QString path = f.path(QStringLiteral("hooks.xml"));
    WritePattern(path, *f.designer);
    ReadPattern(path, *f.designer);
    EXPECT_EQ(applied, 3); // after each window's element
    expectLayout(seen, sampleLayout());
}

TEST_F(PatternFile, ZoomOfSavingAndOfReading) {
    // Saved at 50 % (zoom ratio 2): the file says so, and says the photo's size.
    SurfaceFixture at50(QSize(400, 300), 2.0);
    auto* text = placeBrick<TText>(*at50.designer, 80, 60);
    text->setName(QStringLiteral("Text1"));
    text->setCaption(QStringLiteral("Zoom"));
    text->FitToText();
    const int fullWidth = text->FullWidth;
    EXPECT_EQ(text->pos(), QPoint(40, 30));
    const QString path = at50.path(QStringLiteral("zoom.xml"));
    WritePattern(path, *at50.designer);
    at50.designer.reset();
    const QString xml = fileText(path);
    EXPECT_TRUE(xml.contains(QLatin1String("IsGrid=\"False\" Zoom=\"2\" PhotoWidth=\"400\" "
                                           "PhotoHeight=\"300\"")))
        << xml.toStdString();

    // Opened at 100 %: the same full-size place, twice as far into the preview; the text keeps
    // its full-size size.
    SurfaceFixture at100(QSize(400, 300), 1.0);
    const PatternDesign design = ReadPattern(path, *at100.designer);
    EXPECT_TRUE(design.ZoomStored);
    EXPECT_EQ(design.Zoom, 2.0);
    EXPECT_EQ(design.Photo, QSize(400, 300));
    auto* loaded = brickNamed<TText>(*at100.designer, QStringLiteral("Text1"));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->FullLeft, 80);
    EXPECT_EQ(loaded->FullTop, 60);
    EXPECT_EQ(loaded->pos(), QPoint(80, 60));
    EXPECT_EQ(loaded->FullWidth, fullWidth);
    EXPECT_EQ(loaded->Width(), fullWidth);

    // A zoom ratio given by the caller takes the stored positions at it instead.
    SurfaceFixture at25(QSize(400, 300), 4.0);
    ReadPattern(path, *at25.designer, {.override = 3.0});
    loaded = brickNamed<TText>(*at25.designer, QStringLiteral("Text1"));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->FullLeft, 120);
    EXPECT_EQ(loaded->pos(), QPoint(30, 22)) << "shown at the surface's own ratio, 4";
}

TEST_F(PatternFile, FileWithoutZoomIsTakenAtTheSurfacesOrTheCallersRatio) {
    const QString body = QStringLiteral("object Text1: TText%CR%LF  Left = 20%CR%LF  Top = 30"
                                        "%CR%LF  Caption = 'Old'%CR%LFend");
    SurfaceFixture f(QSize(400, 300), 2.0);
    const QString path = f.path(QStringLiteral("old.xml"));
    writeBytes(path, patternXml(brickXml(body)).toUtf8());
    PatternDesign design = ReadPattern(path, *f.designer);
    EXPECT_FALSE(design.ZoomStored);
    EXPECT_FALSE(design.Photo.isValid());
    auto* t = brickNamed<TText>(*f.designer, QStringLiteral("Text1"));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->pos(), QPoint(20, 30)) << "as such files were always read";
    EXPECT_EQ(t->FullLeft, 40);
    ClearBricks(*f.designer);
    ReadPattern(path, *f.designer, {.whenAbsent = 1.0});
    t = brickNamed<TText>(*f.designer, QStringLiteral("Text1"));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->FullLeft, 20);
    EXPECT_EQ(t->FullTop, 30);

    // A zoom ratio that is no positive number is refused.
    for (const char* bad : {"", "abc", "0", "-2", "inf"}) {
        QString xml = patternXml(brickXml(body));
        xml.replace(QLatin1String("IsGrid=\"False\""),
                    QStringLiteral("IsGrid=\"False\" Zoom=\"%1\"").arg(QLatin1String(bad)));
        writeBytes(path, xml.toUtf8());
        ClearBricks(*f.designer);
        EXPECT_THROW(ReadPattern(path, *f.designer), EConvertError) << bad;
    }
}

TEST_F(PatternFile, HandWrittenUtf16PatternReadsAndRenders) {
    SurfaceFixture f(QSize(400, 300), 1.0, QStringLiteral("photo.bmp"), true);
    TDesigner& d = *f.designer;
    const QString body = QStringLiteral("object Text1: TText%CR%LF"
                                        "  Left = 20%CR%LF"
                                        "  Top = 30%CR%LF"
                                        "  Caption = 'MARK'#13#10'it''s' +%CR%LF"
                                        "    ' here'%CR%LF"
                                        "  Font.Color = clRed%CR%LF"
                                        "  Font.Height = -40%CR%LF"
                                        "  Font.Name = 'Arial'%CR%LF"
                                        "  Font.Style = [fsBold]%CR%LF"
                                        "end%CR%LF");
    const QString path = f.path(QStringLiteral("hand.xml"));
    writeBytes(path, utf16le(patternXml(brickXml(body))));
    ReadPattern(path, d);
    auto* t = brickNamed<TText>(d, QStringLiteral("Text1"));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->Caption(), QStringLiteral("MARK\r\nit's here"));
    EXPECT_EQ(t->Font()->Color(), 0x0000FF);
    EXPECT_EQ(CurrentPatternLayout().ColWidth, 5);

    RenderAndSave(*f.designer, f.photoPath, {});
    const QImage out = ReadImageFile(f.photoPath).convertToFormat(QImage::Format_RGB32);
    const QImage before = f.photo.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(out.size(), before.size());
    const QRect box(t->FullLeft, t->FullTop, t->FullWidth, t->FullHeight);
    int changedInside = 0, changedOutside = 0, reddish = 0;
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            if (out.pixel(x, y) == before.pixel(x, y))
                continue;
            (box.contains(x, y) ? changedInside : changedOutside)++;
            const QColor c = out.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                ++reddish;
        }
    EXPECT_GT(changedInside, 200);
    EXPECT_EQ(changedOutside, 0);
    EXPECT_GT(reddish, 100);
}

namespace {
struct Changes {
    int inside = 0, outside = 0;
    int fill = 0; // pixels of the bubble's pale fill
    int red = 0;
};
Changes changesAround(const QImage& after, const QImage& before, const QRect& box) {
    Changes c;
    const QImage a = after.convertToFormat(QImage::Format_RGB32);
    const QImage b = before.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) == b.pixel(x, y))
                continue;
            (box.contains(x, y) ? c.inside : c.outside)++;
            const QColor p = a.pixelColor(x, y);
            c.fill += p == QColor(255, 255, 225);
            c.red += p.red() > 200 && p.green() < 60 && p.blue() < 60;
        }
    return c;
}
} // namespace

// A text or bubble brick that does not size itself keeps the size the pattern stored, at the
// pattern's zoom ratio: on the screen and in the output its text shows inside that box.
TEST_F(PatternFile, BricksWithoutAutoSizeDrawInTheirStoredBox) {
    const QString font = QStringLiteral("  Font.Color = clRed%CR%LF  Font.Height = -24%CR%LF"
                                        "  Font.Name = 'Arial'%CR%LF  Font.Style = [fsBold]%CR%LF");
    const QString text = QStringLiteral("object Text1: TText%CR%LF  Left = 20%CR%LF  Top = 15%CR%LF"
                                        "  Width = 90%CR%LF  Height = 30%CR%LF"
                                        "  AutoSize = False%CR%LF"
                                        "  Caption = 'BOXED TEXT OVERFLOWING ITS BOX'%CR%LF") +
                         font + QStringLiteral("end%CR%LF");
    const QString bubble =
        QStringLiteral("object TextBubble1: TTextBubble%CR%LF  Left = 20%CR%LF  Top = 70%CR%LF"
                       "  Width = 110%CR%LF  Height = 60%CR%LF  AutoSize = False%CR%LF"
                       "  Caption = 'SAY'%CR%LF") +
        font + QStringLiteral("  FromX = 30%CR%LF  FromY = 55%CR%LFend%CR%LF");
    for (const QString& body : {text, bubble}) {
        for (double zoom : {1.0, 2.0}) {
            SCOPED_TRACE(
                QStringLiteral("%1 at zoom %2").arg(body.left(24)).arg(zoom).toStdString());
            SurfaceFixture f(QSize(320, 300), zoom, QStringLiteral("photo.bmp"), true);
            TDesigner& d = *f.designer;
            const QString path = f.path(QStringLiteral("fixed.xml"));
            writeBytes(path, utf16le(patternXml(brickXml(body))));
            ReadPattern(path, d);
            ASSERT_EQ(d.Bricks().size(), 1);
            auto* t = qobject_cast<TText*>(d.Bricks().first());
            ASSERT_TRUE(t);
            EXPECT_FALSE(t->AutoSize());
            const bool isBubble = qobject_cast<TTextBubble*>(t) != nullptr;
            const QRect stored = isBubble ? QRect(20, 70, 110, 60) : QRect(20, 15, 90, 30);
            EXPECT_EQ(t->geometry(), stored) << "the control keeps its stored size";
            const QRect full(qRound(stored.x() * zoom), qRound(stored.y() * zoom),
                             qRound(stored.width() * zoom), qRound(stored.height() * zoom));
            EXPECT_EQ(QRect(t->FullLeft, t->FullTop, t->FullWidth, t->FullHeight), full);

            // The screen: the control shows more than the photo behind it.
            const QImage preview = d.Panel1->grab(t->geometry()).toImage();
            const Changes onScreen =
                changesAround(preview, d.PreviewImage(t->geometry()), preview.rect());
            EXPECT_GT(onScreen.inside, 80 / zoom);
            EXPECT_GT(isBubble ? onScreen.fill : onScreen.red, 20 / zoom);

            RenderAndSave(*f.designer, f.photoPath, {.newName = f.path(QStringLiteral("out.bmp"))});
            const Changes out =
                changesAround(ReadImageFile(f.path(QStringLiteral("out.bmp"))), f.photo, full);
            EXPECT_GT(out.inside, 300);
            EXPECT_EQ(out.outside, 0);
            EXPECT_GT(out.red, 50);
            if (isBubble) {
                EXPECT_GT(out.fill, full.width() * full.height() / 4);
            }
        }
    }
}

TEST_F(PatternFile, EncodingsThatReadersMeet) {
    SurfaceFixture f;
    const QString body = QStringLiteral("object Text1: TText%CR%LF  Caption = 'x'%CR%LFend%CR%LF");
    const QString xml = patternXml(brickXml(body));
    const QList<std::pair<const char*, QByteArray>> files{
        {"utf16le-bom", utf16le(xml)},
        {"utf16le", utf16le(xml, false)},
        {"utf16be-bom", utf16be(xml)},
        {"utf8-unicode", xml.toUtf8()},
        {"utf8-bom",
         QByteArray("\xEF\xBB\xBF") + patternXml(brickXml(body), QStringLiteral("UTF-8")).toUtf8()},
        {"latin1", patternXml(brickXml(body), QStringLiteral("ISO-8859-1")).toLatin1()},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        ClearBricks(*f.designer);
        const QString path = f.path(QString::fromLatin1(name) + QStringLiteral(".xml"));
        writeBytes(path, bytes);
        ReadPattern(path, *f.designer);
        ASSERT_EQ(f.designer->Bricks().size(), 1);
        EXPECT_EQ(f.designer->Bricks()[0]->property("Caption").toString(), QStringLiteral("x"));
    }
}

TEST_F(PatternFile, FailuresKeepWhatWasReadBefore) {
    SurfaceFixture f;
    TDesigner& d = *f.designer;
    const QString good =
        brickXml(QStringLiteral("object Text1: TText%CR%LF  Caption = 'one'%CR%LFend%CR%LF"));
    auto readFails = [&](const QString& file, const QByteArray& bytes) -> QString {
        ClearBricks(d);
        ApplyPatternLayout(PatternLayout{});
        const QString path = f.path(file);
        writeBytes(path, bytes);
        try {
            ReadPattern(path, d);
        } catch (const Exception& e) {
            return e.message();
        }
        return QStringLiteral("no failure");
    };

    // A class that is not registered: the brick before it stays.
    EXPECT_EQ(
        readFails(QStringLiteral("class.xml"),
                  patternXml(good + brickXml(QStringLiteral("object X1: TNoSuchBrick%CR%LFend")))
                      .toUtf8()),
        QStringLiteral("Class TNoSuchBrick not found"));
    EXPECT_EQ(d.Bricks().size(), 1);

    EXPECT_EQ(readFails(QStringLiteral("prop.xml"),
                        patternXml(good + brickXml(QStringLiteral(
                                              "object Text2: TText%CR%LF  Wobble = 1%CR%LFend")))
                            .toUtf8()),
              QStringLiteral("Error reading Text2.Wobble: Property Wobble does not exist"));
    EXPECT_EQ(d.Bricks().size(), 1);

    // Two bricks of one name: the second is refused, as a paste of it would be.
    EXPECT_EQ(readFails(QStringLiteral("dup.xml"), patternXml(good + good + good).toUtf8()),
              QStringLiteral("A component named Text1 already exists"));
    EXPECT_EQ(d.Bricks().size(), 1);

    EXPECT_TRUE(
        readFails(QStringLiteral("syntax.xml"),
                  patternXml(good + brickXml(QStringLiteral("object Text2 TText"))).toUtf8())
            .endsWith(QLatin1String("on line 1")));
    EXPECT_EQ(d.Bricks().size(), 1);

    // A brick without a body adds nothing and stops nothing.
    readFails(QStringLiteral("nobody.xml"),
              patternXml(QStringLiteral("    <Brick/>\n") + good).toUtf8());
    EXPECT_EQ(d.Bricks().size(), 1);

    // A missing element: the windows before it are applied.
    QString noBricks = patternXml(QString());
    noBricks.replace(QRegularExpression(QStringLiteral("  <Bricks>.*</Bricks>\n"),
                                        QRegularExpression::DotMatchesEverythingOption),
                     QString());
    EXPECT_EQ(readFails(QStringLiteral("nobricks.xml"), noBricks.toUtf8()),
              QStringLiteral("Node \"Bricks\" not found"));
    EXPECT_EQ(CurrentPatternLayout().Manager.Width, 800);

    QString noManager = patternXml(good);
    noManager.remove(QRegularExpression(QStringLiteral("  <Manager[^>]*>\n")));
    EXPECT_EQ(readFails(QStringLiteral("nomanager.xml"), noManager.toUtf8()),
              QStringLiteral("Node \"Manager\" not found"));
    EXPECT_EQ(CurrentPatternLayout().Designer.Width, 640);
    EXPECT_TRUE(d.Bricks().isEmpty());

    // Conversion errors: the values before the failing one stay.
    QString badTop = patternXml(good);
    badTop.replace(QLatin1String("<Inspector Left=\"1\" Top=\"2\""),
                   QLatin1String("<Inspector Left=\"1\" Top=\"abc\""));
    EXPECT_EQ(readFails(QStringLiteral("top.xml"), badTop.toUtf8()),
              QStringLiteral("'abc' is not a valid integer value"));
    EXPECT_EQ(CurrentPatternLayout().Inspector.Left, 1);
    EXPECT_EQ(CurrentPatternLayout().Inspector.Top, 0);

    QString noLeft = patternXml(good);
    noLeft.replace(QLatin1String("<Manager Left=\"0\" "), QLatin1String("<Manager "));
    EXPECT_EQ(readFails(QStringLiteral("noleft.xml"), noLeft.toUtf8()),
              QStringLiteral("'' is not a valid integer value"));

    QString badBool = patternXml(good);
    badBool.replace(QLatin1String("IsGrid=\"False\""), QLatin1String("IsGrid=\"maybe\""));
    EXPECT_EQ(readFails(QStringLiteral("bool.xml"), badBool.toUtf8()),
              QStringLiteral("'maybe' is not a valid boolean value"));
    EXPECT_EQ(CurrentPatternLayout().GridY, 12);

    // Files that are not XML, or not there.
    const QString broken =
        readFails(QStringLiteral("broken.xml"), QByteArray("<Project><Inspector></Project>"));
    EXPECT_TRUE(broken.startsWith(QStringLiteral("Cannot read pattern file \"%1\": ")
                                      .arg(f.path(QStringLiteral("broken.xml")))))
        << broken.toStdString();
    EXPECT_TRUE(broken.contains(QLatin1String("line 1"))) << broken.toStdString();
    EXPECT_TRUE(readFails(QStringLiteral("empty.xml"), QByteArray())
                    .startsWith(QLatin1String("Cannot read pattern file")));
    EXPECT_TRUE(readFails(QStringLiteral("odd.xml"), QByteArray("\xFF\xFE<\0?", 5))
                    .contains(QLatin1String("UTF-16")));
    try {
        ReadPattern(f.path(QStringLiteral("missing.xml")), d);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_TRUE(e.message().startsWith(
            QStringLiteral("Cannot open file \"%1\"").arg(f.path(QStringLiteral("missing.xml")))));
    }
    try {
        WritePattern(f.path(QStringLiteral("no/such/folder/p.xml")), d);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_TRUE(
            e.message().startsWith(QStringLiteral("Cannot create file \"%1\". ")
                                       .arg(f.path(QStringLiteral("no/such/folder/p.xml")))));
        EXPECT_FALSE(e.message().contains(QLatin1String("Unknown error"))) << e.what();
        EXPECT_FALSE(e.message().endsWith(QLatin1String(". "))) << "a reason follows";
    }
}

// A save that fails part-way (here: past the file size limit) leaves the old pattern whole.
TEST_F(PatternFile, FailedSaveLeavesTheOldPatternWhole) {
    SurfaceFixture f;
    TDesigner& d = *f.designer;
    placeBrick<TText>(d, 10, 10)->setCaption(QStringLiteral("old"));
    const QString path = f.path(QStringLiteral("p.xml"));
    WritePattern(path, d);
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    const QByteArray before = old.readAll();
    old.close();

    auto* pic = placeBrick<TPictureimg>(d, 20, 20);
    const QImage photo = makeTestPhoto(200, 200, 5);
    pic->Picture()->setGraphic({QStringLiteral("TBitmap"), EncodeBmp(photo), photo});

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = rlim_t(before.size() + 4096);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString message;
    try {
        WritePattern(path, d);
    } catch (const EFCreateError& e) {
        message = e.message();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_TRUE(message.startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(path)))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromLocal8Bit(std::strerror(EFBIG))))
        << message.toStdString();
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), before);
    EXPECT_EQ(QDir(f.dir.path()).entryList({QStringLiteral("p.xml*")}, QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("p.xml")})
        << "no temporary file stays behind";

    // With room again the new pattern replaces the old one.
    WritePattern(path, d);
    ClearBricks(d);
    ReadPattern(path, d);
    EXPECT_EQ(d.Bricks().size(), 2);
}

TEST_F(PatternFile, SaveKeepsTheFilesModeAndNeverWritesThroughALink) {
    SurfaceFixture f;
    TDesigner& d = *f.designer;
    placeBrick<TText>(d, 10, 10)->setCaption(QStringLiteral("mine"));
    const QString mine = f.path(QStringLiteral("mine.xml"));
    WritePattern(mine, d);
    ASSERT_EQ(::chmod(QFile::encodeName(mine).constData(), 0600), 0);
    WritePattern(mine, d);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(mine).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "a private pattern stays private";

    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("notes.txt"));
    QFile notes(target);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("notes");
    notes.close();
    const QString link = f.path(QStringLiteral("linked.xml"));
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()),
              0);
    QString message;
    try {
        WritePattern(link, d);
    } catch (const EFCreateError& e) {
        message = e.message();
    }
    EXPECT_TRUE(message.contains(link) && message.contains(QStringLiteral("symbolic link")))
        << message.toStdString();
    ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
    EXPECT_EQ(notes.readAll(), QByteArray("notes"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

// Thousands of bricks: every one is read, component names stay unique (without regard to case)
// and each bubble's tail marker gets the next free marker name.
TEST_F(PatternFile, ManyBricksLoadWithUniqueNames) {
    constexpr int Texts = 20000, Bubbles = 500;
    QString bricks;
    for (int i = 1; i <= Texts; ++i)
        bricks +=
            brickXml(QStringLiteral("object Text%1: TText%CR%LF  Caption = 't%1'%CR%LFend").arg(i));
    for (int i = 1; i <= Bubbles; ++i)
        bricks += brickXml(
            QStringLiteral("object TextBubble%1: TTextBubble%CR%LF  Caption = 'b'%CR%LFend")
                .arg(i));
    // A name already taken in other letters is refused, and the loading stops there.
    const QString refused = brickXml(QStringLiteral("object TEXT7: TText%CR%LFend"));
    SurfaceFixture f;
    TDesigner& d = *f.designer;
    // A marker already on the surface keeps its name; the loaded ones go round it.
    auto* first = placeBrick<TTextBubble>(d, 5, 5);
    first->setObjectName(QStringLiteral("TextBubble0"));
    SetUpLoadedBrick(d, first);
    ASSERT_NE(first->Marker(), nullptr);
    EXPECT_EQ(first->Marker()->objectName(), QStringLiteral("BubbleFrom1"));

    const QString path = f.path(QStringLiteral("many.xml"));
    writeBytes(path, patternXml(bricks + refused).toUtf8());
    try {
        ReadPattern(path, d);
        FAIL() << "a second Text7 was read";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), QStringLiteral("A component named TEXT7 already exists"));
    }
    const QList<QWidget*> loaded = d.Bricks();
    ASSERT_EQ(loaded.size(), 1 + Texts + Bubbles);
    QSet<QString> folded;
    for (QWidget* b : loaded)
        folded.insert(b->objectName().toCaseFolded());
    EXPECT_EQ(folded.size(), loaded.size());
    EXPECT_EQ(loaded[Texts]->property("Caption").toString(), QStringLiteral("t%1").arg(Texts));

    QStringList markers;
    for (QWidget* b : loaded)
        if (auto* bubble = qobject_cast<TTextBubble*>(b)) {
            ASSERT_NE(bubble->Marker(), nullptr);
            markers << bubble->Marker()->objectName();
        }
    ASSERT_EQ(markers.size(), 1 + Bubbles);
    for (int i = 0; i <= Bubbles; ++i)
        EXPECT_EQ(markers[i], QStringLiteral("BubbleFrom%1").arg(i + 1));
}

TEST_F(PatternFile, ExternalEntitiesAreNotLoaded) {
    SurfaceFixture f;
    const QString secret = f.path(QStringLiteral("secret.txt"));
    writeBytes(secret, "object Text1: TText\r\nend\r\n");
    QString xml =
        patternXml(QStringLiteral("    <Brick Body=\"&ext;\"/>\n"), QStringLiteral("UTF-8"));
    xml.replace(QLatin1String("<Project"),
                QStringLiteral("<!DOCTYPE Project [<!ENTITY ext SYSTEM \"file://%1\">]>\n<Project")
                    .arg(secret));
    const QString path = f.path(QStringLiteral("xxe.xml"));
    writeBytes(path, xml.toUtf8());
    try {
        ReadPattern(path, *f.designer);
    } catch (const Exception&) {
        // refusing the entity is as good as not loading it
    }
    EXPECT_TRUE(f.designer->Bricks().isEmpty());
}

TEST_F(PatternFile, BrickTextFormAndBack) {
    TText t;
    t.setName(QStringLiteral("Text5"));
    t.setCaption(QStringLiteral("x"));
    const QString text = BrickToText(&t);
    EXPECT_TRUE(text.startsWith(QLatin1String("object Text5: TText\r\n")));
    EXPECT_TRUE(text.endsWith(QLatin1String("end\r\n")));
    std::unique_ptr<QWidget> copy(TextToBrick(text));
    EXPECT_EQ(copy->parentWidget(), nullptr);
    EXPECT_EQ(copy->property("Caption").toString(), QStringLiteral("x"));
    EXPECT_EQ(AddBrickFromText(*std::make_unique<TDesigner>(), QStringLiteral("  ")), nullptr);
}

// A pattern that could not be read back is refused when saving, before the file is touched.
TEST_F(PatternFile, PictureTooLargeToReadBackIsRefused) {
    SurfaceFixture f;
    TDesigner& d = *f.designer;
    auto* fits = placeBrick<TPictureimg>(d, 10, 10);
    fits->setObjectName(QStringLiteral("Pictureimg1"));
    const QImage small = makeTestPhoto(500, 500, 3);
    fits->Picture()->setGraphic({QStringLiteral("TBitmap"), EncodeBmp(small), small}); // 750 KB
    const QString ok = f.path(QStringLiteral("ok.xml"));
    WritePattern(ok, d);
    ClearBricks(d);
    ReadPattern(ok, d);
    auto* back = brickNamed<TPictureimg>(d, QStringLiteral("Pictureimg1"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Picture()->image().size(), QSize(500, 500));

    auto* huge = placeBrick<TPictureimg>(d, 10, 10);
    huge->setObjectName(QStringLiteral("Pictureimg2"));
    const QImage big = makeTestPhoto(1400, 1300, 4);
    huge->Picture()->setGraphic({QStringLiteral("TBitmap"), EncodeBmp(big), big}); // 5.5 MB
    const QString refused = f.path(QStringLiteral("big.xml"));
    try {
        WritePattern(refused, d);
        FAIL() << "a pattern that cannot be read back was written";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("Pictureimg2"))) << e.what();
    }
    EXPECT_FALSE(QFile::exists(refused));
}

// What the brick dialogs edit is stored, each value only when it is not at its default: a brick
// that uses none of them has the text form it always had.
TEST_F(PatternFile, DialogValuesAreStoredOnlyWhenChanged) {
    SurfaceFixture f(QSize(400, 300), 1.0);
    TDesigner& d = *f.designer;
    auto* text = placeBrick<TText>(d, 10, 20);
    auto* date = placeBrick<TTextDate>(d, 30, 40);
    auto* time = placeBrick<TTextTime>(d, 50, 60);
    auto* bubble = placeBrick<TTextBubble>(d, 70, 80);
    bubble->Style = 1;
    const QStringList names = {"Angle", "Opacity", "Format", "BubbleStyle", "BodyLeft", "BodyTop"};
    for (QWidget* brick : d.Bricks()) {
        const QString body = BrickToText(brick);
        for (const QString& name : names)
            EXPECT_FALSE(body.contains(QStringLiteral("  %1 = ").arg(name)))
                << brick->objectName().toStdString() << " stores " << name.toStdString();
    }

    text->Angle = -450;
    text->Opacity = 128;
    date->Format = QStringLiteral("yyyy-MM-dd");
    time->Format = QStringLiteral("3");
    bubble->Style = 4;
    bubble->Body = {12, 7, 80, 40};
    const QString textBody = BrickToText(text);
    EXPECT_TRUE(textBody.contains(QLatin1String("\r\n  Angle = -450\r\n  Opacity = 128\r\n")))
        << textBody.toStdString();
    EXPECT_TRUE(BrickToText(date).contains(QLatin1String("\r\n  Format = 'yyyy-MM-dd'\r\n")));
    EXPECT_TRUE(BrickToText(time).contains(QLatin1String("\r\n  Format = '3'\r\n")));
    const QString bubbleBody = BrickToText(bubble);
    EXPECT_TRUE(bubbleBody.contains(QLatin1String("\r\n  BubbleStyle = 4\r\n  BodyLeft = 12\r\n"
                                                  "  BodyTop = 7\r\n")))
        << bubbleBody.toStdString();

    std::unique_ptr<QWidget> t(TextToBrick(textBody));
    EXPECT_EQ(qobject_cast<TText*>(t.get())->Angle, -450);
    EXPECT_EQ(qobject_cast<TText*>(t.get())->Opacity, 128);
    std::unique_ptr<QWidget> dt(TextToBrick(BrickToText(date)));
    EXPECT_EQ(qobject_cast<TTextDate*>(dt.get())->Format, "yyyy-MM-dd");
    std::unique_ptr<QWidget> tm(TextToBrick(BrickToText(time)));
    EXPECT_EQ(qobject_cast<TTextTime*>(tm.get())->Format, "3");
    std::unique_ptr<QWidget> b(TextToBrick(bubbleBody));
    auto* read = qobject_cast<TTextBubble*>(b.get());
    EXPECT_EQ(read->Style, 4);
    EXPECT_EQ(read->Body.left, 12);
    EXPECT_EQ(read->Body.top, 7);
    EXPECT_TRUE(read->ShapeStored());

    // A style outside the catalogue is refused, naming the brick and the property.
    QString bad = bubbleBody;
    bad.replace(QLatin1String("BubbleStyle = 4"), QLatin1String("BubbleStyle = 9"));
    try {
        delete TextToBrick(bad);
        ADD_FAILURE() << "style 9 was read";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("BubbleStyle")))
            << e.message().toStdString();
    }
}

// A pattern with every stored value away from its default, placing values included, saved,
// read back and saved again: the same file and the same output pixels.
TEST(PatternRoundTrip, EveryStoredValueSurvivesSaveAndReopen) {
    RegisterBricks();
    SurfaceFixture f(QSize(640, 480), 2.0, QStringLiteral("photo.png"), true);
    TDesigner& d = *f.designer;
    auto* text = placeBrick<TText>(d, 40, 30);
    auto* date = placeBrick<TTextDate>(d, 60, 200);
    auto* time = placeBrick<TTextTime>(d, 300, 200);
    auto* bubble = placeBrick<TTextBubble>(d, 400, 40);
    auto* logo = placeBrick<TPictureimg>(d, 30, 380);
    const QImage art = makeTestPhoto(60, 30, 5);
    logo->Picture()->setGraphic({QStringLiteral("TBitmap"), EncodeBmp(art), art});
    const auto set = [&d](QWidget* brick, const char* name, const char* value) {
        WritePropertyText(brick, QLatin1String(name), QLatin1String(value));
        ShowAtZoom(d, brick);
    };
    set(text, "Caption", "'Round trip'");
    set(text, "Angle", "-150");
    set(text, "Opacity", "170");
    set(text, "Anchor", "baBottomRight");
    set(text, "MarginX", "25.5");
    set(text, "MarginY", "40.0");
    set(text, "RelativeSize", "60.0");
    set(date, "Format", "'yyyy-MM-dd'");
    set(date, "Anchor", "baTop");
    set(date, "MarginY", "12.0");
    set(time, "Format", "'3'");
    set(time, "Anchor", "baCenter");
    set(time, "MarginX", "-30.0");
    set(bubble, "BubbleStyle", "3");
    set(bubble, "Anchor", "baTopRight");
    set(bubble, "MarginX", "20.0");
    set(bubble, "MarginY", "20.0");
    set(bubble, "RelativeSize", "50.0");
    set(logo, "Anchor", "baBottomLeft");
    set(logo, "MarginX", "15.0");
    set(logo, "MarginY", "15.0");
    set(logo, "RelativeSize", "100.0");
    const auto output = [&] {
        return QImage::fromData(RenderImage(d, f.photoPath, {}))
            .convertToFormat(QImage::Format_RGB32);
    };
    const QImage first = output();
    ASSERT_FALSE(first.isNull());

    const QString a = f.path(QStringLiteral("a.xml")), b = f.path(QStringLiteral("b.xml"));
    WritePattern(a, d);
    const QString stored = fileText(a);
    for (const char* value : {"Anchor = baBottomRight", "MarginX = 25.5", "RelativeSize = 60",
                              "Anchor = baCenter", "MarginX = -30", "Anchor = baBottomLeft",
                              "BubbleStyle = 3", "Angle = -150", "Opacity = 170"})
        EXPECT_TRUE(stored.contains(QLatin1String(value))) << value;
    ClearBricks(d);
    ReadPattern(a, d);
    WritePattern(b, d);
    EXPECT_EQ(fileText(b), stored);
    const QImage again = output();
    ASSERT_EQ(again.size(), first.size());
    EXPECT_TRUE(again == first) << "the reopened pattern writes other pixels";
}

// The readability values and the caption band: stored only when set, so that a pattern using
// none of them is written as before; read back as written; a malformed band is refused.
TEST_F(PatternFile, ReadabilityAndBandAreStoredOnlyWhenSet) {
    SurfaceFixture f(QSize(400, 300), 1.0);
    TDesigner& d = *f.designer;
    auto* text = placeBrick<TText>(d, 10, 20);
    const QStringList names = {"Outline",  "OutlineWidth",    "Shadow",
                               "ShadowOffset", "Backdrop",    "BackdropOpacity",
                               "BackdropPadding", "AutoContrast"};
    for (const QString& name : names)
        EXPECT_FALSE(BrickToText(text).contains(QStringLiteral("  %1 = ").arg(name)));
    const QString plain = f.path(QStringLiteral("plain.xml"));
    WritePattern(plain, d);
    EXPECT_FALSE(fileText(plain).contains(QLatin1String("Band")));

    text->setOutline(0x0000FF); // clRed
    text->setOutlineWidth(15);
    text->setShadow(clBlack);
    text->setShadowOffset(3);
    text->setBackdrop(0x800000); // clNavy
    text->setBackdropOpacity(90);
    text->setBackdropPadding(60);
    text->setAutoContrast(true);
    const QString body = BrickToText(text);
    EXPECT_TRUE(body.contains(QLatin1String(
        "\r\n  Outline = clRed\r\n  OutlineWidth = 15\r\n  Shadow = clBlack\r\n  ShadowOffset = 3"
        "\r\n  Backdrop = clNavy\r\n  BackdropOpacity = 90\r\n  BackdropPadding = 60\r\n"
        "  AutoContrast = True\r\n")))
        << body.toStdString();
    std::unique_ptr<QWidget> back(TextToBrick(body));
    EXPECT_TRUE(qobject_cast<TText*>(back.get())->Readable == text->Readable);

    d.SetCaptionBandText(QStringLiteral("top,80,clYellow"));
    const QString banded = f.path(QStringLiteral("band.xml"));
    WritePattern(banded, d);
    EXPECT_TRUE(fileText(banded).contains(
        QLatin1String("<Band Edge=\"Top\" Size=\"80\" Color=\"clYellow\"/>")))
        << fileText(banded).toStdString();
    ReadPattern(plain, d);
    EXPECT_FALSE(d.Band.on);
    ReadPattern(banded, d);
    EXPECT_TRUE(d.Band.on);
    EXPECT_EQ(d.Band.edge, TCaptionBand::Edge::Top);
    EXPECT_EQ(d.Band.size, 80);
    EXPECT_EQ(d.Band.color, 0x00FFFF); // clYellow
    // 80 per mille of 300: 24 rows above the photo.
    EXPECT_EQ(d.CanvasSize(), QSize(400, 324));
    EXPECT_EQ(d.PhotoRect(), QRect(0, 24, 400, 300));
    for (const char* bad : {"Left,80,clWhite", "Bottom,0,clWhite", "Bottom,80,clNoSuch", "Bottom"})
        EXPECT_THROW(d.SetCaptionBandText(QLatin1String(bad)), Exception) << bad;
}
