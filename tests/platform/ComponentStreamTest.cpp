#include "platform/ComponentStream.h"
#include "bricks/RegisterBricks.h"
#include "bricks/TBubbleFrom.h"
#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PictureLoader.h"
#include "platform/ComponentRegistry.h"
#include "platform/PublishedProperties.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QMetaProperty>
#include <gtest/gtest.h>
#include <memory>

// Value kinds that no brick publishes: 64-bit integers, floats, dates.
class TSample : public TControl {
    Q_OBJECT
    Q_PROPERTY(qint64 Count READ Count WRITE setCount)
    Q_PROPERTY(float Small READ Small WRITE setSmall)
    Q_PROPERTY(double Ratio READ Ratio WRITE setRatio)
    Q_PROPERTY(double When READ When WRITE setWhen)
    Q_PROPERTY(QString Label READ Label WRITE setLabel)

public:
    using TControl::TControl;
    qint64 Count() const { return m_count; }
    float Small() const { return m_small; }
    double Ratio() const { return m_ratio; }
    double When() const { return m_when; }
    QString Label() const { return m_label; }
    void setCount(qint64 v) { m_count = v; }
    void setSmall(float v) { m_small = v; }
    void setRatio(double v) { m_ratio = v; }
    void setWhen(double v) { m_when = v; }
    void setLabel(const QString& v) { m_label = v; }

private:
    qint64 m_count = 0;
    float m_small = 0;
    double m_ratio = 0;
    double m_when = 0;
    QString m_label;
};

namespace {

class ComponentStream : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterBricks();
        RegisterComponentClass(QStringLiteral("TSample"),
                               [](QWidget* parent) { return new TSample(parent); });
    }
};

QString textOf(const QObject* o) {
    return ObjectBinaryToText(WriteComponentStream(o));
}

std::unique_ptr<QWidget> readText(const QString& text) {
    return std::unique_ptr<QWidget>(ReadComponentStream(ObjectTextToBinary(text)));
}

#define BYTES(s) QByteArray(s, sizeof(s) - 1)

QString crlf(QString s) {
    return s.replace(QLatin1String("\n"), QLatin1String("\r\n"));
}

// Every published value, nested objects by dotted path, as "Path=value" lines.
QStringList snapshot(const QObject* o, const QString& prefix = QString()) {
    QStringList out;
    const QMetaObject* mo = o->metaObject();
    const int from = prefix.isEmpty() ? TControl::staticMetaObject.propertyOffset()
                                      : QObject::staticMetaObject.propertyCount();
    for (int i = from; i < mo->propertyCount(); ++i) {
        const QMetaProperty p = mo->property(i);
        const QVariant v = p.read(o);
        if (QObject* nested = qvariant_cast<QObject*>(v)) {
            out += snapshot(nested, prefix + p.name() + QLatin1Char('.'));
            continue;
        }
        QString text = v.toString();
        if (p.isEnumType())
            text = QString::number(v.toInt());
        if (v.metaType().id() == QMetaType::QByteArray)
            text = QString::fromLatin1(v.toByteArray().toHex());
        out << prefix + p.name() + QLatin1Char('=') + text;
    }
    return out;
}

void setFont(TFont* f, const QString& name, int height, TColor color, Tk::TFontStyles style,
             int charset = 1) {
    f->setName(name);
    f->setHeight(height);
    f->setColor(color);
    f->setStyle(style);
    f->setCharset(TFontCharset(charset));
}

QByteArray pictureData(const QString& className, const QByteArray& file) {
    return MakePictureData({className, file, QImage()});
}

QByteArray qtEncoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// What is stored, and how it reads as text

TEST_F(ComponentStream, TextBrickStoresNonDefaultValuesInDeclarationOrder) {
    TText t;
    t.setName(QStringLiteral("Text1"));
    t.setAutoSize(false);
    t.SetBounds(10, 20, 100, 30);
    t.setCaption(QStringLiteral("Hi"));
    setFont(t.Font(), QStringLiteral("Arial"), -48, clBlack, Tk::fsBold | Tk::fsItalic);
    EXPECT_EQ(textOf(&t), crlf(QStringLiteral("object Text1: TText\n"
                                              "  Left = 10\n"
                                              "  Top = 20\n"
                                              "  Width = 100\n"
                                              "  Height = 30\n"
                                              "  AutoSize = False\n"
                                              "  Caption = 'Hi'\n"
                                              "  Font.Charset = DEFAULT_CHARSET\n"
                                              "  Font.Color = clBlack\n"
                                              "  Font.Height = -48\n"
                                              "  Font.Name = 'Arial'\n"
                                              "  Font.Style = [fsBold, fsItalic]\n"
                                              "  Transparent = True\n"
                                              "end\n")));
}

TEST_F(ComponentStream, ChangedDefaultsAndIdentifiersAreStored) {
    TText t;
    t.setName(QStringLiteral("Text2"));
    t.setTag(7);
    t.setCursorId(-21);
    t.setHint(QStringLiteral("tip"));
    t.setHelpType(Tk::htKeyword);
    t.setHelpKeyword(QStringLiteral("kw"));
    t.setHelpContext(12);
    t.setAlignWithMargins(true);
    t.Margins()->setLeft(5);
    t.setAlignment(Tk::taCenter);
    t.setColor(0x00FF8040); // no name: a decimal integer
    t.setTransparent(false);
    setFont(t.Font(), QStringLiteral("Tahoma"), -11, clWindowText, {}, 204);
    const QString text = textOf(&t);
    for (const char* line :
         {"  Tag = 7\r\n", "  Cursor = crHandPoint\r\n", "  Hint = 'tip'\r\n",
          "  HelpType = htKeyword\r\n", "  HelpKeyword = 'kw'\r\n", "  HelpContext = 12\r\n",
          "  AlignWithMargins = True\r\n", "  Margins.Left = 5\r\n", "  Alignment = taCenter\r\n",
          "  Color = 16744512\r\n", "  Font.Charset = RUSSIAN_CHARSET\r\n",
          "  Font.Color = clWindowText\r\n", "  Font.Style = []\r\n", "  Transparent = False\r\n"})
        EXPECT_TRUE(text.contains(QLatin1String(line))) << line << "\n" << text.toStdString();
    // Defaults and values that are never stored.
    for (const char* absent : {"Margins.Top", "Font.Pitch", "Font.Size", "AutoSize", "\n  Name ="})
        EXPECT_FALSE(text.contains(QLatin1String(absent))) << absent;
}

TEST_F(ComponentStream, PictureBrickDefaultsFollowTheMostDerivedClass) {
    TPictureimg p;
    p.setName(QStringLiteral("Pictureimg1"));
    const QString stored = textOf(&p);
    // Proportional is True by default for the picture brick, False for the picture control;
    // Stretch was set by the constructor and differs from the control's default.
    EXPECT_FALSE(stored.contains(QLatin1String("Proportional")));
    EXPECT_TRUE(stored.contains(QLatin1String("  Stretch = True\r\n")));
    EXPECT_FALSE(stored.contains(QLatin1String("Picture.Data"))); // no picture
    p.setProportional(false);
    p.setAnchors(Tk::akLeft | Tk::akBottom);
    p.setDragCursor(-2);
    p.Constraints()->setMaxWidth(300);
    const QString changed = textOf(&p);
    EXPECT_TRUE(changed.contains(QLatin1String("  Proportional = False\r\n")));
    EXPECT_TRUE(changed.contains(QLatin1String("  Anchors = [akLeft, akBottom]\r\n")));
    EXPECT_TRUE(changed.contains(QLatin1String("  DragCursor = crArrow\r\n")));
    EXPECT_TRUE(changed.contains(QLatin1String("  Constraints.MaxWidth = 300\r\n")));
}

TEST_F(ComponentStream, BinaryLayoutUsesSmallestIntegersAndStringTypes) {
    TText t;
    t.setName(QStringLiteral("T"));
    t.setAutoSize(false);
    t.SetBounds(-5, 300, 70000, 3);
    t.setCaption(QString::fromUtf8("\xC3\xA9")); // é: Latin-1, an 8-bit string
    const QByteArray b = WriteComponentStream(&t);
    EXPECT_TRUE(b.startsWith(BYTES("TPF0\x05TText\x01T")));
    EXPECT_TRUE(b.contains(BYTES("\x04Left\x02\xFB")));
    EXPECT_TRUE(b.contains(BYTES("\x03Top\x03\x2C\x01")));
    EXPECT_TRUE(b.contains(BYTES("\x05Width\x04\x70\x11\x01\x00")));
    EXPECT_TRUE(b.contains(BYTES("\x07"
                                 "Caption\x06\x01\xE9")));
    EXPECT_TRUE(b.contains(BYTES("\x0BTransparent\x09")));
    EXPECT_TRUE(b.endsWith(BYTES("\x00\x00")));

    t.setCaption(QString::fromUtf8("\xD0\x96")); // Ж: not Latin-1, a wide string
    EXPECT_TRUE(WriteComponentStream(&t).contains(BYTES("Caption\x12\x01\x00\x00\x00\x16\x04")));
    t.setCaption(QString(300, QLatin1Char('a'))); // longer than a short string
    EXPECT_TRUE(WriteComponentStream(&t).contains(BYTES("Caption\x0C\x2C\x01\x00\x00")));
}

TEST_F(ComponentStream, StringsInTextForm) {
    TText t;
    t.setName(QStringLiteral("Text1"));
    auto captionLine = [&t](const QString& caption) {
        t.setCaption(caption);
        const QString text = textOf(&t);
        const qsizetype from = text.indexOf(QLatin1String("  Caption = "));
        return text.mid(from + 12, text.indexOf(QLatin1String("\r\n"), from) - from - 12);
    };
    EXPECT_EQ(captionLine(QStringLiteral("It's")), QStringLiteral("'It''s'"));
    EXPECT_EQ(captionLine(QStringLiteral("one\r\ntwo")), QStringLiteral("'one'#13#10'two'"));
    EXPECT_EQ(captionLine(QString::fromUtf8("Caf\xC3\xA9 \xD0\x96!")),
              QStringLiteral("'Caf'#233' '#1046'!'"));
    EXPECT_EQ(captionLine(QStringLiteral("\t")), QStringLiteral("#9"));
    EXPECT_EQ(captionLine(QStringLiteral("''")), QStringLiteral("''''''"));
    // The pattern file's line-break mark inside a caption is kept from being read as one.
    EXPECT_EQ(captionLine(QStringLiteral("a%CR%LFb")), QStringLiteral("'a'#37'CR%LFb'"));
    EXPECT_EQ(captionLine(QStringLiteral("100%")), QStringLiteral("'100%'"));
}

TEST_F(ComponentStream, LongStringsContinueEvery64Characters) {
    TText t;
    t.setName(QStringLiteral("Text1"));
    const QString caption = QString(64, QLatin1Char('a')) + QString(10, QLatin1Char('b'));
    t.setCaption(caption);
    const QString text = textOf(&t);
    EXPECT_TRUE(text.contains(QLatin1String("  Caption = \r\n    '") +
                              QString(64, QLatin1Char('a')) +
                              QLatin1String("' +\r\n    'bbbbbbbbbb'\r\n")))
        << text.toStdString();
    EXPECT_EQ(readText(text)->property("Caption").toString(), caption);
}

TEST_F(ComponentStream, BinaryValuesIn64DigitLines) {
    TPictureimg p;
    p.setName(QStringLiteral("Pictureimg1"));
    p.Picture()->setData(pictureData(QStringLiteral("TBitmap"), EncodeBmp(makeTestPhoto(3, 2))));
    const QByteArray data = p.Picture()->Data();
    const QString text = textOf(&p);
    const qsizetype open = text.indexOf(QLatin1String("  Picture.Data = {\r\n"));
    ASSERT_GE(open, 0);
    const qsizetype close = text.indexOf(QLatin1Char('}'), open);
    const QStringList lines = text.mid(open, close - open).split(QLatin1String("\r\n")).mid(1);
    ASSERT_EQ(lines.size(), (data.size() * 2 + 63) / 64);
    QByteArray hex;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(lines[i].startsWith(QLatin1String("    ")));
        const QString digits = lines[i].mid(4);
        if (i + 1 < lines.size()) {
            EXPECT_EQ(digits.size(), 64);
        }
        EXPECT_EQ(digits, digits.toUpper());
        hex += digits.toLatin1();
    }
    EXPECT_EQ(QByteArray::fromHex(hex), data);
    // "07" and "54426974..." = the short string "TBitmap".
    EXPECT_TRUE(lines[0].startsWith(QLatin1String("    07544269746D6170")));
}

// ---------------------------------------------------------------------------------------------
// Values against bytes written by hand

// -5000000000 as Int64, 0.25 as Single, 2.5 as Double, 45000.5 (1 March 2023, noon) as Date,
// "Ж€" as a UTF-8 string.
const QByteArray HandWrittenSample = BYTES("TPF0\x07TSample\x07Sample1"
                                           "\x05"
                                           "Count\x13\x00\x0E\xFA\xD5\xFE\xFF\xFF\xFF"
                                           "\x05"
                                           "Small\x0F\x00\x00\x80\x3E"
                                           "\x05"
                                           "Ratio\x15\x00\x00\x00\x00\x00\x00\x04\x40"
                                           "\x04"
                                           "When\x11\x00\x00\x00\x00\x10\xF9\xE5\x40"
                                           "\x05"
                                           "Label\x14\x05\x00\x00\x00\xD0\x96\xE2\x82\xAC"
                                           "\x00\x00");

TEST_F(ComponentStream, HandWrittenValuesOfEveryNumberTypeAreRead) {
    std::unique_ptr<QWidget> read(ReadComponentStream(HandWrittenSample));
    auto* s = qobject_cast<TSample*>(read.get());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->objectName(), QStringLiteral("Sample1"));
    EXPECT_EQ(s->Count(), Q_INT64_C(-5000000000));
    EXPECT_EQ(s->Small(), 0.25f);
    EXPECT_EQ(s->Ratio(), 2.5);
    EXPECT_EQ(s->When(), 45000.5);
    EXPECT_EQ(s->Label(), QString::fromUtf8("\xD0\x96\xE2\x82\xAC"));

    // The same values as extended floats (1.5 and 45000.5) and a wide string.
    std::unique_ptr<QWidget> extended(
        ReadComponentStream(BYTES("TPF0\x07TSample\x07Sample2"
                                  "\x05"
                                  "Ratio\x05\x00\x00\x00\x00\x00\x00\x00\xC0\xFF\x3F"
                                  "\x04"
                                  "When\x05\x00\x00\x00\x00\x00\x80\xC8\xAF\x0E\x40"
                                  "\x05"
                                  "Small\x02\xFF"
                                  "\x05"
                                  "Label\x12\x02\x00\x00\x00\x16\x04\xAC\x20"
                                  "\x00\x00")));
    s = qobject_cast<TSample*>(extended.get());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Ratio(), 1.5);
    EXPECT_EQ(s->When(), 45000.5);
    EXPECT_EQ(s->Small(), -1.0f); // an integer where a float is published
    EXPECT_EQ(s->Label(), QString::fromUtf8("\xD0\x96\xE2\x82\xAC"));
}

TEST_F(ComponentStream, HandWrittenValuesInTextFormAndBack) {
    const QString text = QStringLiteral("object Sample1: TSample\r\n"
                                        "  Count = -5000000000\r\n"
                                        "  Small = 0.25s\r\n"
                                        "  Ratio = 2.5\r\n"
                                        "  When = 45000.5d\r\n"
                                        "  Label = #1046#8364\r\n"
                                        "end\r\n");
    EXPECT_EQ(ObjectBinaryToText(HandWrittenSample), text);
    // The text form keeps single, date and 64-bit values; a plain float reads back as extended
    // and a string beyond Latin-1 as a wide string.
    EXPECT_EQ(ObjectTextToBinary(text), BYTES("TPF0\x07TSample\x07Sample1"
                                              "\x05"
                                              "Count\x13\x00\x0E\xFA\xD5\xFE\xFF\xFF\xFF"
                                              "\x05"
                                              "Small\x0F\x00\x00\x80\x3E"
                                              "\x05"
                                              "Ratio\x05\x00\x00\x00\x00\x00\x00\x00\xA0\x00\x40"
                                              "\x04"
                                              "When\x11\x00\x00\x00\x00\x10\xF9\xE5\x40"
                                              "\x05"
                                              "Label\x12\x02\x00\x00\x00\x16\x04\xAC\x20"
                                              "\x00\x00"));
}

TEST_F(ComponentStream, WritingGivesHandWrittenBytes) {
    TSample s;
    s.setObjectName(QStringLiteral("Sample1"));
    s.SetBounds(1, 2, 3, 4);
    s.setCount(Q_INT64_C(5000000000));
    s.setSmall(0.25f);
    s.setRatio(2.5);
    s.setWhen(45000.5);
    s.setLabel(QString::fromUtf8("\xD0\x96\xE2\x82\xAC"));
    // Floats go out as 10-byte extended values, strings beyond Latin-1 as wide strings.
    EXPECT_EQ(WriteComponentStream(&s), BYTES("TPF0\x07TSample\x07Sample1"
                                              "\x04"
                                              "Left\x02\x01"
                                              "\x03"
                                              "Top\x02\x02"
                                              "\x05"
                                              "Width\x02\x03"
                                              "\x06"
                                              "Height\x02\x04"
                                              "\x05"
                                              "Count\x13\x00\xF2\x05\x2A\x01\x00\x00\x00"
                                              "\x05"
                                              "Small\x05\x00\x00\x00\x00\x00\x00\x00\x80\xFD\x3F"
                                              "\x05"
                                              "Ratio\x05\x00\x00\x00\x00\x00\x00\x00\xA0\x00\x40"
                                              "\x04"
                                              "When\x05\x00\x00\x00\x00\x00\x80\xC8\xAF\x0E\x40"
                                              "\x05"
                                              "Label\x12\x02\x00\x00\x00\x16\x04\xAC\x20"
                                              "\x00\x00"));
    // A 64-bit value that fits a smaller integer takes the smallest, at each boundary.
    const std::pair<qint64, QByteArray> counts[] = {
        {-128, BYTES("Count\x02\x80")},
        {127, BYTES("Count\x02\x7F")},
        {128, BYTES("Count\x03\x80\x00")},
        {-32769, BYTES("Count\x04\xFF\x7F\xFF\xFF")},
        {Q_INT64_C(2147483647), BYTES("Count\x04\xFF\xFF\xFF\x7F")},
        {Q_INT64_C(2147483648), BYTES("Count\x13\x00\x00\x00\x80\x00\x00\x00\x00")},
    };
    for (const auto& [count, bytes] : counts) {
        s.setCount(count);
        EXPECT_TRUE(WriteComponentStream(&s).contains(bytes)) << count;
    }
}

// ---------------------------------------------------------------------------------------------
// Round trips through binary and text

TEST_F(ComponentStream, EveryBrickClassRoundTripsWithItsStoredValues) {
    std::vector<std::unique_ptr<QWidget>> bricks;
    auto* text = new TText;
    text->setName(QStringLiteral("Text1"));
    text->SetBounds(12, 34, 10, 10);
    text->setCaption(
        QString::fromUtf8("Line 'one'\r\n\xD0\x9F\xD1\x80\xD0\xB8 %CR%LF \xF0\x9F\x98\x80"));
    text->setAlignment(Tk::taRightJustify);
    text->setColor(clWhite);
    text->setTransparent(false);
    text->setTag(3);
    setFont(text->Font(), QStringLiteral("DejaVu Sans"), -20, 0x0000FF,
            Tk::fsBold | Tk::fsUnderline | Tk::fsStrikeOut, 0);
    bricks.emplace_back(text);

    auto* date = new TTextDate;
    date->setName(QStringLiteral("TextDate1"));
    date->setCaption(QStringLiteral("24.12.2023"));
    date->setLeft(5);
    setFont(date->Font(), QStringLiteral("Arial"), -30, 0x123456, Tk::fsItalic, 238);
    bricks.emplace_back(date);

    auto* time = new TTextTime;
    time->setName(QStringLiteral("TextTime1"));
    time->setCaption(QStringLiteral("12:34:56"));
    time->setAutoSize(false);
    time->SetBounds(1, 2, 300, 40);
    time->setHint(QStringLiteral("when"));
    bricks.emplace_back(time);

    auto* bubble = new TTextBubble;
    bubble->setName(QStringLiteral("TextBubble1"));
    bubble->setCaption(QStringLiteral("Say \"hi\""));
    bubble->setFromX(-40);
    bubble->setFromY(250);
    bubble->setLeft(50);
    bubble->FitToText(); // the tail point takes part in the size from the next fit on
    bricks.emplace_back(bubble);

    auto* from = new TBubbleFrom;
    from->setName(QStringLiteral("BubbleFrom1"));
    from->setLeft(9);
    bricks.emplace_back(from);

    const QImage photo = makeTestPhoto(16, 12);
    const QList<std::pair<QString, QByteArray>> pictures{
        {QStringLiteral("TBitmap"), EncodeBmp(photo)},
        {QStringLiteral("TJPEGImage"), EncodeJpeg(photo, 90)},
        {QStringLiteral("TPngImage"), qtEncoded(photo, "PNG")},
        {QStringLiteral("TIcon"), qtEncoded(photo.convertToFormat(QImage::Format_ARGB32), "ICO")},
    };
    for (const auto& [cls, file] : pictures) {
        ASSERT_FALSE(file.isEmpty()) << cls.toStdString();
        auto* p = new TPictureimg;
        p->setName(QStringLiteral("Pictureimg%1").arg(bricks.size()));
        p->SetBounds(7, 8, 120, 90);
        p->Picture()->setData(pictureData(cls, file));
        ASSERT_EQ(p->Picture()->graphicClassName(), cls);
        p->setCenter(true);
        p->setProportional(false);
        p->setTransparent(true);
        p->setAlign(Tk::alClient);
        p->setDragKind(Tk::dkDock);
        p->setDragMode(Tk::dmAutomatic);
        p->Constraints()->setMinHeight(4);
        bricks.emplace_back(p);
    }

    for (const auto& brick : bricks) {
        SCOPED_TRACE(brick->objectName().toStdString());
        const QByteArray binary = WriteComponentStream(brick.get());
        const QString text = ObjectBinaryToText(binary);
        // Text and binary forms carry the same thing.
        EXPECT_EQ(ObjectTextToBinary(text), binary);
        std::unique_ptr<QWidget> copy(ReadComponentStream(ObjectTextToBinary(text)));
        ASSERT_TRUE(copy);
        EXPECT_STREQ(copy->metaObject()->className(), brick->metaObject()->className());
        EXPECT_EQ(copy->objectName(), brick->objectName());
        EXPECT_EQ(snapshot(copy.get()), snapshot(brick.get()));
        EXPECT_EQ(WriteComponentStream(copy.get()), binary);
    }
    auto* loadedPicture =
        qobject_cast<TPictureimg*>(readText(textOf(bricks.back().get())).release());
    std::unique_ptr<TPictureimg> own(loadedPicture);
    EXPECT_EQ(loadedPicture->Picture()->image().size(), photo.size());
}

TEST_F(ComponentStream, ReadingAppliesValuesBeforeTheTextIsMeasured) {
    // Measured once after loading: the control size follows font and caption, whatever the
    // stored Width and Height say.
    TText reference;
    setFont(reference.Font(), QStringLiteral("Arial"), -48, clBlack, {});
    reference.setCaption(QStringLiteral("Hello"));
    auto loaded = readText(crlf(QStringLiteral("object Text9: TText\n"
                                               "  Left = 3\n"
                                               "  Width = 1\n"
                                               "  Height = 1\n"
                                               "  Caption = 'Hello'\n"
                                               "  Font.Name = 'Arial'\n"
                                               "  Font.Height = -48\n"
                                               "end\n")));
    auto* t = qobject_cast<TText*>(loaded.get());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->Left(), 3);
    EXPECT_EQ(t->size(), reference.size());
    EXPECT_EQ(t->FullWidth, reference.FullWidth);
}

// ---------------------------------------------------------------------------------------------
// The text syntax beyond what bricks use

TEST_F(ComponentStream, ContinuedStringsAndCodesAreAccepted) {
    auto t = readText(QStringLiteral("object Text1: TText\r\n"
                                     "  Caption = \r\n"
                                     "    'ab' +\r\n"
                                     "    #$41'c'#13#10 +\n"
                                     "    #39#128512\r\n"
                                     "  Hint = 'x''y'\r\n"
                                     "end"));
    EXPECT_EQ(t->property("Caption").toString(), QString::fromUtf8("abAc\r\n'\xF0\x9F\x98\x80"));
    EXPECT_EQ(t->property("Hint").toString(), QStringLiteral("x'y"));
}

TEST_F(ComponentStream, NamesAndIdentifiersCompareWithoutCase) {
    auto t = readText(QStringLiteral("OBJECT text1: ttext\n"
                                     "  font.name = 'Arial'\n  ALIGNMENT = TACENTER\n"
                                     "  Color = CLRED\n  Cursor = crhandpoint\n"
                                     "  font.charset = greek_charset\n  Transparent = false\n"
                                     "END\n"));
    EXPECT_STREQ(t->metaObject()->className(), "TText");
    EXPECT_EQ(t->objectName(), QStringLiteral("text1"));
    EXPECT_EQ(t->property("Alignment").toInt(), int(Tk::taCenter));
    EXPECT_EQ(t->property("Color").toInt(), 0x0000FF);
    EXPECT_EQ(t->property("Cursor").toInt(), -21);
    EXPECT_EQ(static_cast<TText*>(t.get())->Font()->Charset(), 161);
}

TEST_F(ComponentStream, AllValueKindsSurviveTextAndBinary) {
    const QString text = crlf(QStringLiteral("inherited Form1: TForm1 [2]\n"
                                             "  Int8 = -128\n"
                                             "  Int16 = 32767\n"
                                             "  Int32 = -2147483648\n"
                                             "  Int64 = 9223372036854775807\n"
                                             "  Hex = 255\n"
                                             "  Ext = 1.5\n"
                                             "  Small = 0.25s\n"
                                             "  Money = 12.3456c\n"
                                             "  When = 45000.5d\n"
                                             "  Big = 1.0e+300\n"
                                             "  Flag = True\n"
                                             "  Nothing = nil\n"
                                             "  Empty = Null\n"
                                             "  Ident = alClient\n"
                                             "  Styles = [fsBold, fsItalic]\n"
                                             "  NoStyles = []\n"
                                             "  Strings.Strings = (\n"
                                             "    'one'\n"
                                             "    'two')\n"
                                             "  EmptyList = ()\n"
                                             "  Data = {\n"
                                             "    00FF}\n"
                                             "  NoData = {}\n"
                                             "  Columns = <\n"
                                             "    item\n"
                                             "      Width = 10\n"
                                             "    end\n"
                                             "    item [3]\n"
                                             "      Caption = 'x'\n"
                                             "    end>\n"
                                             "  NoItems = <>\n"
                                             "  inline Child: TFrame\n"
                                             "    Left = 1\n"
                                             "  end\n"
                                             "end\n"));
    const QByteArray binary = ObjectTextToBinary(text);
    EXPECT_EQ(ObjectBinaryToText(binary), text);
    // 1.5 as a 10-byte extended: mantissa $C000000000000000, exponent $3FFF.
    EXPECT_TRUE(binary.contains(BYTES("\x03"
                                      "Ext\x05\0\0\0\0\0\0\0\xC0\xFF\x3F")));
    // 12.3456 as currency: 123456 in 8 bytes.
    EXPECT_TRUE(binary.contains(BYTES("Money\x10\x40\xE2\x01\0\0\0\0\0")));
    // Header prefix: inherited + child position, then the position as an integer.
    EXPECT_TRUE(binary.startsWith(BYTES("TPF0\xF3\x02\x02\x06TForm1")));
    // Hexadecimal numbers are read as integers.
    EXPECT_TRUE(ObjectBinaryToText(ObjectTextToBinary(QStringLiteral("object A: B\n X = $FF\nend")))
                    .contains(QLatin1String("X = 255")));
}

TEST_F(ComponentStream, ObjectWithoutNameWritesClassOnly) {
    const QString text = QStringLiteral("object TText\r\nend\r\n");
    EXPECT_EQ(ObjectBinaryToText(ObjectTextToBinary(text)), text);
    auto t = readText(text);
    EXPECT_TRUE(t->objectName().isEmpty());
}

// ---------------------------------------------------------------------------------------------
// Failures

TEST_F(ComponentStream, UnknownClassAndPropertyNameTheCulprit) {
    try {
        readText(QStringLiteral("object X1: TNoSuchBrick\nend"));
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Class TNoSuchBrick not found"));
    }
    try {
        readText(QStringLiteral("object Text1: TText\n  Left = 1\n  Bogus = 2\nend"));
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("Error reading Text1.Bogus: Property Bogus does not exist"));
    }
    try {
        readText(QStringLiteral("object Text1: TText\n  Font.Weight = 2\nend"));
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_EQ(
            e.message(),
            QStringLiteral("Error reading Text1.Font.Weight: Property Font.Weight does not exist"));
    }
    // Proportional is published by the picture brick only.
    EXPECT_THROW(readText(QStringLiteral("object Text1: TText\n  Proportional = True\nend")),
                 EReadError);
}

TEST_F(ComponentStream, ValuesOfTheWrongKindAreRefused) {
    const char* bad[] = {
        "Left = 'abc'",
        "Left = 2147483648",
        "Alignment = taNowhere",
        "Alignment = 1",
        "AutoSize = 1",
        "Caption = Text",
        "Font.Style = [fsBlink]",
        "Font.Charset = 256",
        "Color = clNoSuchColour",
        "Font = 1",
        "Cursor = crNoSuchCursor",
    };
    for (const char* line : bad) {
        try {
            readText(QStringLiteral("object Text1: TText\n  %1\nend").arg(QLatin1String(line)));
            ADD_FAILURE() << line;
        } catch (const EReadError& e) {
            EXPECT_TRUE(e.message().startsWith(QLatin1String("Error reading Text1."))) << line;
        }
    }
    // Colours may be written unsigned up to $FFFFFFFF.
    EXPECT_EQ(readText(QStringLiteral("object T: TText\n Color = $FF00000F\nend"))
                  ->property("Color")
                  .toInt(),
              clBtnFace);
}

TEST_F(ComponentStream, TextErrorsGiveTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"object Text1: TText\n  Left = \nend", "Identifier expected on line 3"},
        {"object Text1: TText\n  Left = )\nend", "Invalid property value on line 2"},
        {"objekt Text1: TText\nend", "'object' expected on line 1"},
        {"object Text1: TText\n  Caption = 'open\n", "Unterminated string on line 2"},
        {"object Text1: TText\n  Left 5\nend", "'=' expected on line 2"},
        {"object Text1: TText\n  Left = 5\n", "Identifier expected on line 3"},
        {"object A: B\n  D = {\n    0F0}\nend", "Invalid binary value on line 3"},
        {"object A: B\n  D = {0G}\nend", "Invalid binary value on line 2"},
        {"object A: B\n  S = 'a' + 5\nend", "String expected on line 2"},
        {"object A: B\n  S = #\nend", "Invalid string constant on line 2"},
        {"object A: B\n  S = #1114112\nend", "Invalid string constant on line 2"},
        {"object A: B\n  N = 99999999999999999999\nend", "Invalid integer value on line 2"},
        {"object A: B\n  L = (1 2\nend", "')' expected on line 3"},
        {"object A: B\n  C = < foo >\nend", "'item' expected on line 2"},
    };
    for (const auto& [text, message] : cases) {
        try {
            ObjectTextToBinary(QString::fromLatin1(text));
            ADD_FAILURE() << text;
        } catch (const EParserError& e) {
            EXPECT_EQ(e.message(), QString::fromLatin1(message)) << text;
        }
    }
    QString deep = QStringLiteral("object A: B\n X = ");
    for (int i = 0; i < 100; ++i)
        deep += QLatin1Char('(');
    EXPECT_THROW(ObjectTextToBinary(deep), EParserError);
}

TEST_F(ComponentStream, MalformedBinaryStreams) {
    TText t;
    t.setName(QStringLiteral("Text1"));
    t.setCaption(QStringLiteral("Hello"));
    const QByteArray good = WriteComponentStream(&t);
    try {
        ObjectBinaryToText("TPF1" + good.mid(4));
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Invalid stream format"));
    }
    // Every truncation fails cleanly.
    for (qsizetype n = 0; n < good.size(); ++n)
        EXPECT_THROW(ReadComponentStream(good.left(n)), EReadError) << n;
    try {
        ObjectBinaryToText(good.left(good.size() - 1));
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Stream read error"));
    }
    // A length beyond the data, and an unknown value type.
    EXPECT_THROW(ObjectBinaryToText(BYTES("TPF0\x01"
                                          "A\x01"
                                          "B\x01"
                                          "C\x0A\xFF\xFF\xFF\x7F")),
                 EReadError);
    EXPECT_THROW(ObjectBinaryToText(BYTES("TPF0\x01"
                                          "A\x01"
                                          "B\x01"
                                          "C\x63\x00\x00")),
                 EReadError);
    // A brick holds no child components.
    EXPECT_THROW(readText(QStringLiteral("object T: TText\n object U: TText\n end\nend")),
                 EReadError);
}

TEST_F(ComponentStream, IdentifierTables) {
    EXPECT_EQ(ColorToIdent(0xC0DCC0), QStringLiteral("clMoneyGreen"));
    EXPECT_EQ(ColorToIdent(TColor(0xFF000018)), QStringLiteral("clInfoBk"));
    EXPECT_EQ(ColorToIdent(0x00FF8040), std::nullopt);
    EXPECT_EQ(IdentToColor(QStringLiteral("clmenubar")), TColor(0xFF00001E));
    EXPECT_EQ(IdentToColor(QStringLiteral("clNone")), TColor(0x1FFFFFFF));
    EXPECT_EQ(CursorToIdent(-22), QStringLiteral("crSizeAll"));
    EXPECT_EQ(CursorToIdent(-5), std::nullopt);
    EXPECT_EQ(IdentToCursor(QStringLiteral("crHourGlass")), -11);
    EXPECT_EQ(CharsetToIdent(255), QStringLiteral("OEM_CHARSET"));
    EXPECT_EQ(CharsetToIdent(3), std::nullopt);
    EXPECT_EQ(IdentToCharset(QStringLiteral("MAC_CHARSET")), 77);
}

#include "ComponentStreamTest.moc"
