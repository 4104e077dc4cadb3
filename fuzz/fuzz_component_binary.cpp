// libFuzzer entry: the binary component stream reader, as the clipboard feeds it, through the
// text writer and through component creation.
#include "fuzz/FuzzBricks.h"
#include "platform/ComponentStream.h"

#include <QWidget>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray stream(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        ObjectBinaryToText(stream);
    } catch (const Exception&) {
    }
    try {
        std::unique_ptr<QWidget> component(ReadComponentStream(stream));
    } catch (const Exception&) {
    }
    return 0;
}
