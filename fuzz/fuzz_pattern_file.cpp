// libFuzzer entry: the pattern file reader (XML in any of its encodings, the layout values and
// the brick bodies) onto a design surface, which is cleared again after every input.
#include "designer/state/TDesigner.h"
#include "designer/surface/DesignerBricks.h"
#include "fuzz/FuzzBricks.h"
#include "patterns/file/PatternFile.h"

#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TDesigner designer;
    static const QString path = QDir::temp().filePath(
        QStringLiteral("fuzz-pattern-%1.xml").arg(QCoreApplication::applicationPid()));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    try {
        ReadPattern(path, designer);
    } catch (const Exception&) {
    }
    ClearBricks(designer);
    return 0;
}
