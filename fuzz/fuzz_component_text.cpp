// libFuzzer entry: the component stream's text-form parser, and the binary reader and text
// writer on what it produces; then a component read from it as a pattern body would be.
#include "fuzz/FuzzBricks.h"
#include "platform/ComponentStream.h"

#include <QWidget>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray binary;
    try {
        binary = ObjectTextToBinary(text);
    } catch (const Exception&) {
        return 0;
    }
    // What the parser accepts, the binary reader and the text writer must take back, and the
    // text written must parse again.
    try {
        ObjectTextToBinary(ObjectBinaryToText(binary));
    } catch (const Exception&) {
        std::abort();
    }
    try {
        std::unique_ptr<QWidget> component(ReadComponentStream(binary));
    } catch (const Exception&) {
    }
    return 0;
}
