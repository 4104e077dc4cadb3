#include "app/cli/RenderCommand.h"

#include "designer/state/TDesigner.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/file/PatternFile.h"
#include "patterns/settings/TSettings.h"
#include "platform/Errors.h"

#include <QWidget>

namespace {

QString optionValue(QStringList& args, qsizetype& i, const QString& option) {
    const QString& a = args[i];
    if (a.startsWith(option + QLatin1Char('=')))
        return a.mid(option.size() + 1);
    if (i + 1 >= args.size())
        throw CliUsageError(QStringLiteral("%1 needs a value").arg(option));
    return args[++i];
}

// The source's bytes and EXIF record when it can be written from its own compressed data; empty
// bytes when it is to be decoded as usual.
QByteArray keptSource(const QString& image, TExif& exif) {
    QByteArray bytes = ReadFileBytes(image);
    try {
        exif.LoadFromBytes(bytes);
    } catch (const Exception&) {
        exif = TExif();
    }
    if (!KeepQualityRefusal(bytes).isEmpty() || KeepQualityTurnsPhoto(exif, Settings().AutoRotate))
        return {};
    return bytes;
}

void readPatternFor(TDesigner& designer, const QString& pattern) {
    ClearBricks(designer);
    try {
        ReadPattern(pattern, designer);
    } catch (const Exception& e) {
        if (e.message().contains(pattern))
            throw;
        throw Exception(QStringLiteral("pattern \"%1\": %2").arg(pattern, e.message()));
    }
}

int renderCommand(CliContext& c) {
    QString pattern, output;
    double zoom = 1.0;
    QStringList images;
    bool optionsEnded = false;
    bool keepQuality = Settings().KeepPhotoQuality;
    for (qsizetype i = 0; i < c.args.size(); ++i) {
        const QString& a = c.args[i];
        if (optionsEnded || !a.startsWith(QLatin1String("--"))) {
            images.append(a);
        } else if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (a.startsWith(QLatin1String("--pattern"))) {
            pattern = optionValue(c.args, i, QStringLiteral("--pattern"));
        } else if (a.startsWith(QLatin1String("--output"))) {
            output = optionValue(c.args, i, QStringLiteral("--output"));
        } else if (a == QLatin1String("--keep-quality")) {
            keepQuality = true;
        } else if (a.startsWith(QLatin1String("--zoom"))) {
            const QString text = optionValue(c.args, i, QStringLiteral("--zoom"));
            bool ok = false;
            zoom = text.toDouble(&ok);
            if (!ok || !(zoom > 0) || zoom > 1000)
                throw CliUsageError(QStringLiteral("invalid zoom ratio '%1'").arg(text));
        } else {
            throw CliUsageError(QStringLiteral("unknown option '%1'").arg(a));
        }
    }
    if (pattern.isEmpty())
        throw CliUsageError(QStringLiteral("missing --pattern"));
    if (images.isEmpty())
        throw CliUsageError(QStringLiteral("missing image"));
    if (!output.isEmpty() && images.size() > 1)
        throw CliUsageError(QStringLiteral("--output takes one image only"));

    TDesigner designer;
    bool failed = false;
    for (const QString& image : images) {
        try {
            TExif exif;
            const QByteArray kept = keepQuality ? keptSource(image, exif) : QByteArray();
            if (!kept.isEmpty()) {
                // Only the blocks under the bricks are decoded: the whole photo never is. The
                // bricks' places do not depend on the picture, only on the zoom ratio.
                designer.realPicture = QImage();
                designer.realExif = exif;
                designer.FileName = image;
                designer.ZoomRatio = zoom;
                readPatternFor(designer, pattern);
                WriteRendered(image, output, RecaptionBricks(kept, designer, image, false, exif));
                c.out << image << " -> "
                      << RenderOutputPath(image, output.isEmpty() ? image : output) << '\n';
                continue;
            }
            designer.OpenImage(image, zoom);
            readPatternFor(designer, pattern);
            RenderAndSave(designer, image,
                          {.newName = output,
                           .keepQuality = keepQuality,
                           .onNotice = [&c](const QString& text) { c.out << text << '\n'; }});
            c.out << image << " -> " << RenderOutputPath(image, output.isEmpty() ? image : output)
                  << '\n';
        } catch (const Exception& e) {
            c.err << "captiomark-cli: " << image << ": " << e.message() << '\n';
            failed = true;
        }
    }
    ClearBricks(designer);
    return failed ? CliFailed : CliOk;
}

} // namespace

CliCommand RenderCliCommand() {
    return {QStringLiteral("render"),
            QStringLiteral("--pattern FILE.xml [--zoom R] [--output NAME] [--keep-quality] IMAGE..."),
            QStringLiteral("burn a pattern file into images"),
            QStringLiteral(
                "Opens each image at the zoom ratio R (full-size pixels per preview pixel, "
                "default 1;\nthe pattern's brick positions are preview positions at that ratio), "
                "reads the pattern\nand writes the image with the pattern burnt in, in its own "
                "format with its EXIF block.\nWithout --output the image is replaced in place, the "
                "original kept as IMAGE.bak (an\nexisting .bak stays as it is); --output NAME (one "
                "image only) writes beside it, or to\nNAME's folder, with the image's extension. "
                "When a write fails the original stays under\nits own name. A failing image is "
                "reported and the next one follows; the exit code is then 1.\n--keep-quality (or the "
                "KeepPhotoQuality setting) writes a JPEG from its own compressed data,\nencoding "
                "only the blocks under the bricks again; a progressive, arithmetic-coded or CMYK\n"
                "JPEG is re-encoded instead, with a notice."),
            renderCommand,
            true};
}
