#include "patterns/file/PatternFile.h"

#include "designer/state/TDesigner.h"
#include "designer/surface/DesignerBricks.h"
#include "platform/AtomicFile.h"
#include "platform/ComponentStream.h"
#include "platform/Conversions.h"
#include "platform/Errors.h"
#include "platform/PublishedProperties.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QWidget>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <memory>

namespace {

// Pattern files hold small pictures at most; this bounds what a hostile file can make us hold
// (256 MB).
constexpr qint64 MaxPatternFileSize = qint64(256) << 20;

const QString LineBreakMark = QStringLiteral("%CR%LF");
const QString LineBreak = QStringLiteral("\r\n");

struct LayoutHooks {
    PatternLayoutGetter get;
    PatternLayoutSetter set;
    PatternLayout stored;
};
LayoutHooks& hooks() {
    static LayoutHooks h;
    return h;
}

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

const xmlChar* x(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}

void setAttr(xmlNode* node, const char* name, const QString& value) {
    xmlNewProp(node, x(name), x(value.toUtf8().constData()));
}
void setAttr(xmlNode* node, const char* name, int value) {
    setAttr(node, name, QString::number(value));
}
void setAttr(xmlNode* node, const char* name, bool value) {
    setAttr(node, name, value ? QStringLiteral("True") : QStringLiteral("False"));
}
void setBounds(xmlNode* node, const PatternWindowBounds& b) {
    setAttr(node, "Left", b.Left);
    setAttr(node, "Top", b.Top);
    setAttr(node, "Width", b.Width);
    setAttr(node, "Height", b.Height);
}

// A missing attribute reads as empty text.
QString attr(const xmlNode* node, const char* name) {
    xmlChar* v = xmlGetProp(node, x(name));
    if (!v)
        return QString();
    const QString out = QString::fromUtf8(reinterpret_cast<const char*>(v));
    xmlFree(v);
    return out;
}

const xmlNode* child(const xmlNode* node, const char* name) {
    for (const xmlNode* c = node ? node->children : nullptr; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && xmlStrcmp(c->name, x(name)) == 0)
            return c;
    throw Exception(QStringLiteral("Node \"%1\" not found").arg(QLatin1String(name)));
}

int toInt(const QString& text) {
    return StrToInt(text, IntSyntax::Stream);
}

// The runtime's StrToBool: True or False in any case, or a number (non-zero is true).
bool toBool(const QString& text) {
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid boolean value").arg(text));
    return v != 0;
}

bool hasAttr(const xmlNode* node, const char* name) {
    return xmlHasProp(node, x(name)) != nullptr;
}

// A zoom ratio as the file writes it: a decimal with a '.', above 0.
double toZoom(const QString& text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0)
        throw EConvertError(QStringLiteral("'%1' is not a valid zoom ratio").arg(text));
    return v;
}

// The caption band of a Project element, off when it has none.
TCaptionBand readBand(const xmlNode* project) {
    TCaptionBand band;
    const xmlNode* node = nullptr;
    for (const xmlNode* c = project ? project->children : nullptr; c && !node; c = c->next)
        if (c->type == XML_ELEMENT_NODE && xmlStrcmp(c->name, x("Band")) == 0)
            node = c;
    if (!node)
        return band;
    band.on = true;
    const QString edge = attr(node, "Edge").trimmed();
    if (edge.isEmpty() || edge.compare(QLatin1String("Bottom"), Qt::CaseInsensitive) == 0)
        band.edge = TCaptionBand::Edge::Bottom;
    else if (edge.compare(QLatin1String("Top"), Qt::CaseInsensitive) == 0)
        band.edge = TCaptionBand::Edge::Top;
    else
        throw EConvertError(
            QStringLiteral("'%1' is not a valid band edge (Bottom or Top)").arg(edge));
    if (hasAttr(node, "Size")) {
        band.size = toInt(attr(node, "Size"));
        if (band.size < 1 || band.size > 1000)
            throw EConvertError(QStringLiteral("'%1' is not a valid band size (1 to 1000 per "
                                               "mille of the photo's shorter side)")
                                    .arg(attr(node, "Size")));
    }
    if (hasAttr(node, "Color")) {
        const QString text = attr(node, "Color").trimmed();
        if (const auto ident = IdentToColor(text))
            band.color = *ident;
        else
            band.color = toInt(text);
    }
    return band;
}

void readBounds(const xmlNode* node, PatternWindowBounds& b) {
    b.Left = toInt(attr(node, "Left"));
    b.Top = toInt(attr(node, "Top"));
    b.Width = toInt(attr(node, "Width"));
    b.Height = toInt(attr(node, "Height"));
}

// The encoding name of an XML declaration at the start of 8-bit text, or empty.
QByteArray declaredEncoding(const QByteArray& head) {
    static const QRegularExpression re(
        QStringLiteral("^<\\?xml[^>]*?encoding\\s*=\\s*[\"']([^\"']*)[\"']"));
    const auto m = re.match(QString::fromLatin1(head.left(200)));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

// UTF-8 text with the declaration's encoding name dropped: libxml2 does not know "Unicode",
// the name the toolkit's DOM writes.
QByteArray withoutDeclaredEncoding(QByteArray utf8) {
    if (!utf8.startsWith("<?xml"))
        return utf8;
    const qsizetype end = utf8.indexOf("?>");
    if (end < 0)
        return utf8;
    static const QRegularExpression re(QStringLiteral("\\s+encoding\\s*=\\s*(\"[^\"]*\"|'[^']*')"));
    QString decl = QString::fromLatin1(utf8.left(end));
    decl.remove(re);
    return decl.toLatin1() + utf8.mid(end);
}

// The file's bytes as libxml2 should parse them, and the encoding to force (null: as declared).
QByteArray prepareXml(const QString& fileName, const QByteArray& raw, const char** encoding) {
    *encoding = "UTF-8";
    const auto b = [&raw](qsizetype i) { return i < raw.size() ? uchar(raw[i]) : 0x100; };
    std::optional<QStringDecoder::Encoding> utf16;
    qsizetype skip = 0;
    if (b(0) == 0xFF && b(1) == 0xFE) {
        utf16 = QStringDecoder::Utf16LE;
        skip = 2;
    } else if (b(0) == 0xFE && b(1) == 0xFF) {
        utf16 = QStringDecoder::Utf16BE;
        skip = 2;
    } else if (b(0) == '<' && b(1) == 0) {
        utf16 = QStringDecoder::Utf16LE;
    } else if (b(0) == 0 && b(1) == '<') {
        utf16 = QStringDecoder::Utf16BE;
    }
    if (utf16) {
        QStringDecoder decoder(*utf16, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(QByteArrayView(raw).sliced(skip));
        if (decoder.hasError() || (raw.size() - skip) % 2 != 0)
            throw Exception(QStringLiteral("Cannot read pattern file \"%1\": invalid UTF-16 text")
                                .arg(fileName));
        return withoutDeclaredEncoding(text.toUtf8());
    }
    const QByteArray body = raw.startsWith("\xEF\xBB\xBF") ? raw.mid(3) : raw;
    const QByteArray declared = declaredEncoding(body).toUpper();
    if (declared.isEmpty() || declared == "UTF-8" || declared == "UNICODE" || declared == "UTF-16")
        return withoutDeclaredEncoding(body);
    *encoding = nullptr; // another 8-bit encoding: libxml2 converts it as declared
    return raw;
}

DocPtr loadDocument(const QString& fileName) {
    const FileRead read = ReadRegularFile(fileName, MaxPatternFileSize);
    if (read.problem == FileProblem::TooLarge)
        throw Exception(QStringLiteral("Cannot read pattern file \"%1\": the file is too large. %2")
                            .arg(fileName, read.reason));
    if (!read.ok())
        throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, read.reason));
    const QByteArray& raw = read.data;
    const char* encoding = nullptr;
    const QByteArray xml = prepareXml(fileName, raw, &encoding);

    std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> ctxt(xmlNewParserCtxt(),
                                                                      xmlFreeParserCtxt);
    if (!ctxt)
        throw Exception(
            QStringLiteral("Cannot read pattern file \"%1\": out of memory").arg(fileName));
    // No network, no DTD loading, no entity substitution beyond what XML itself requires.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    DocPtr doc(xmlCtxtReadMemory(ctxt.get(), xml.constData(), int(xml.size()),
                                 QFile::encodeName(fileName).constData(), encoding, options));
    if (!doc || !ctxt->wellFormed) {
        const xmlError* e = xmlCtxtGetLastError(ctxt.get());
        const QString why = e && e->message ? QString::fromUtf8(e->message).trimmed() +
                                                  QStringLiteral(" (line %1)").arg(e->line)
                                            : QStringLiteral("not a well-formed XML document");
        throw Exception(QStringLiteral("Cannot read pattern file \"%1\": %2").arg(fileName, why));
    }
    if (!xmlDocGetRootElement(doc.get()))
        throw Exception(
            QStringLiteral("Cannot read pattern file \"%1\": no document element").arg(fileName));
    return doc;
}

} // namespace

void SetPatternLayoutHooks(PatternLayoutGetter getter, PatternLayoutSetter setter) {
    hooks().get = std::move(getter);
    hooks().set = std::move(setter);
}

PatternLayout CurrentPatternLayout() {
    return hooks().get ? hooks().get() : hooks().stored;
}

void ApplyPatternLayout(const PatternLayout& layout) {
    hooks().stored = layout;
    if (hooks().set)
        hooks().set(layout);
}

QString BrickToText(const QWidget* brick) {
    return ObjectBinaryToText(WriteComponentStream(brick));
}

QWidget* TextToBrick(const QString& text) {
    return ReadComponentStream(ObjectTextToBinary(text));
}

void WritePattern(const QString& fileName, TDesigner& designer) {
    const PatternLayout layout = CurrentPatternLayout();
    // Bodies first: a brick that cannot be streamed leaves no half-written file.
    QStringList bodies;
    for (const QWidget* brick : designer.Bricks()) {
        bodies.append(BrickToText(brick).replace(LineBreak, LineBreakMark));
        // The reader keeps libxml2's bound on one attribute value (XML_MAX_TEXT_LENGTH, with room
        // for escapes); a pattern that could not be opened again is not written at all.
        if (bodies.last().toUtf8().size() > XML_MAX_TEXT_LENGTH * 9 / 10)
            throw Exception(QStringLiteral("Cannot write pattern file \"%1\": the brick %2 is too "
                                           "large to be stored (use a smaller picture)")
                                .arg(fileName, brick->objectName()));
    }

    DocPtr doc(xmlNewDoc(x("1.0")));
    xmlNode* project = xmlNewNode(nullptr, x("Project"));
    xmlDocSetRootElement(doc.get(), project);
    setAttr(project, "Name", QStringLiteral("Test Project"));
    setAttr(project, "Created", QStringLiteral("by qmv"));

    xmlNode* inspector = xmlNewChild(project, nullptr, x("Inspector"), nullptr);
    setBounds(inspector, layout.Inspector);
    setAttr(inspector, "ColWidth", layout.ColWidth);
    setAttr(inspector, "Sort", layout.Sort);
    setAttr(inspector, "AlwaysOnTop", layout.AlwaysOnTop);

    xmlNode* surface = xmlNewChild(project, nullptr, x("Designer"), nullptr);
    setBounds(surface, layout.Designer);
    setAttr(surface, "GridX", layout.GridX);
    setAttr(surface, "GridY", layout.GridY);
    setAttr(surface, "IsGrid", layout.IsGrid);
    // Where the bricks are at full size: their preview positions are at this zoom ratio.
    const double zoom = designer.ZoomRatio > 0 ? designer.ZoomRatio : 1.0;
    setAttr(surface, "Zoom", QString::number(zoom, 'g', QLocale::FloatingPointShortest));
    setAttr(surface, "PhotoWidth", designer.realPicture.width());
    setAttr(surface, "PhotoHeight", designer.realPicture.height());

    xmlNode* manager = xmlNewChild(project, nullptr, x("Manager"), nullptr);
    setBounds(manager, layout.Manager);

    // Only a pattern with a band says so: one without is written as it always was.
    if (designer.Band.on) {
        xmlNode* band = xmlNewChild(project, nullptr, x("Band"), nullptr);
        setAttr(band, "Edge",
                designer.Band.edge == TCaptionBand::Edge::Top ? QStringLiteral("Top")
                                                              : QStringLiteral("Bottom"));
        setAttr(band, "Size", designer.Band.size);
        setAttr(band, "Color", ColorToIdent(designer.Band.color)
                                   .value_or(QString::number(designer.Band.color)));
    }

    xmlNode* bricks = xmlNewChild(project, nullptr, x("Bricks"), nullptr);
    for (const QString& body : bodies)
        setAttr(xmlNewChild(bricks, nullptr, x("Brick"), nullptr), "Body", body);

    // UTF-16 with a byte-order mark, as the toolkit's DOM stores "Unicode"; the declaration
    // names "UTF-16", which every XML reader knows.
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &text, &size, "UTF-16", 1);
    if (!text || size <= 0) {
        xmlFree(text);
        throw EFCreateError(
            QStringLiteral("Cannot create file \"%1\". Out of memory").arg(fileName));
    }
    const QByteArray bytes(reinterpret_cast<const char*>(text), size);
    xmlFree(text);
    // Through a temporary file renamed over the old one: a failed write leaves the old pattern.
    const QString why = WriteFileReplacing(fileName, bytes);
    if (!why.isEmpty())
        throw EFCreateError(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, why));
}

PatternDesign ReadPattern(const QString& fileName, TDesigner& designer, const PatternZoom& zoom) {
    const DocPtr doc = loadDocument(fileName);
    const xmlNode* project = xmlDocGetRootElement(doc.get());
    PatternDesign design;

    PatternLayout layout = CurrentPatternLayout();
    try {
        const xmlNode* inspector = child(project, "Inspector");
        readBounds(inspector, layout.Inspector);
        layout.ColWidth = toInt(attr(inspector, "ColWidth"));
        layout.Sort = toBool(attr(inspector, "Sort"));
        layout.AlwaysOnTop = toBool(attr(inspector, "AlwaysOnTop"));
        ApplyPatternLayout(layout);

        const xmlNode* surface = child(project, "Designer");
        readBounds(surface, layout.Designer);
        layout.GridX = toInt(attr(surface, "GridX"));
        layout.GridY = toInt(attr(surface, "GridY"));
        layout.IsGrid = toBool(attr(surface, "IsGrid"));
        if (hasAttr(surface, "Zoom")) {
            design.Zoom = toZoom(attr(surface, "Zoom"));
            design.ZoomStored = true;
        }
        if (hasAttr(surface, "PhotoWidth") && hasAttr(surface, "PhotoHeight"))
            design.Photo = QSize(toInt(attr(surface, "PhotoWidth")),
                                 toInt(attr(surface, "PhotoHeight")));
        ApplyPatternLayout(layout);

        const xmlNode* manager = child(project, "Manager");
        readBounds(manager, layout.Manager);
        ApplyPatternLayout(layout);
    } catch (const Exception&) {
        ApplyPatternLayout(layout); // what was read before the failure stays applied
        throw;
    }

    // The zoom ratio the stored positions are at.
    double stored = designer.ZoomRatio > 0 ? designer.ZoomRatio : 1.0;
    if (zoom.override)
        stored = *zoom.override;
    else if (design.ZoomStored)
        stored = design.Zoom;
    else if (zoom.whenAbsent)
        stored = *zoom.whenAbsent;

    // Before the bricks: those anchored to its edge are placed inside it.
    const TCaptionBand band = readBand(project);
    if (!(band == designer.Band))
        designer.SetCaptionBandText(BandText(band));

    const xmlNode* bricks = child(project, "Bricks");
    const BrickLoadSession session(designer);
    for (const xmlNode* c = bricks->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE)
            continue;
        const QString body = attr(c, "Body").replace(LineBreakMark, LineBreak);
        if (QWidget* brick = AddBrickFromText(designer, body))
            SetUpLoadedBrick(designer, brick, stored);
    }
    designer.update();
    return design;
}
