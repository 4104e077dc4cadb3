// libFuzzer entry: the binary component stream reader, as the clipboard feeds it, through the
// text writer and through component creation.
#include "ComponentStream.h"
#include "RegisterBricks.h"

#include <QApplication>
#include <QWidget>
#include <memory>

// Fonts with made-up names fill fontconfig's process-long caches; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);
    RegisterBricks();
    return 0;
}

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
