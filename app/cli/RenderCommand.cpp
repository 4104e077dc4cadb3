#include "app/cli/RenderCommand.h"

#include "designer/state/TDesigner.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/file/PatternFile.h"
#include "platform/Errors.h"

#include <QWidget>

namespace {

const QCommandLineOption OutputOption(QStringLiteral("output"), QString(), QStringLiteral("NAME"));

int renderCommand(CliContext& c) {
    const PatternOptions p = PatternOptions::read(c.options);
    const QString& pattern = p.pattern;
    const double zoom = p.zoom;
    const QStringList outputs = c.options.values(OutputOption);
    const QString output = outputs.isEmpty() ? QString() : outputs.last();
    const QStringList& images = c.args;
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
            designer.OpenImage(image, zoom);
            ClearBricks(designer);
            try {
                ReadPattern(pattern, designer);
            } catch (const Exception& e) {
                if (e.message().contains(pattern))
                    throw;
                throw Exception(QStringLiteral("pattern \"%1\": %2").arg(pattern, e.message()));
            }
            RenderAndSave(designer, image, {.newName = output});
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
            QStringLiteral("--pattern FILE.xml [--zoom R] [--output NAME] IMAGE..."),
            QStringLiteral("burn a pattern file into images"),
            QStringLiteral(
                "Opens each image at the zoom ratio R (full-size pixels per preview pixel, "
                "default 1;\nthe pattern's brick positions are preview positions at that ratio), "
                "reads the pattern\nand writes the image with the pattern burnt in, in its own "
                "format with its EXIF block.\nWithout --output the image is replaced in place, the "
                "original kept as IMAGE.bak (an\nexisting .bak stays as it is); --output NAME (one "
                "image only) writes beside it, or to\nNAME's folder, with the image's extension. "
                "When a write fails the original stays under\nits own name. A failing image is "
                "reported and the next one follows; the exit code is then 1."),
            renderCommand,
            true,
            PatternOptions::options() << OutputOption};
}
