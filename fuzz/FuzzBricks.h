#pragma once

// Set-up shared by the fuzz targets that create bricks: include once, in the target's only
// source file.
#include "bricks/RegisterBricks.h"

#include <QApplication>

// Fonts with made-up names fill fontconfig's process-long caches; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

// Bricks are widgets: a headless widget application, and the classes registered by name.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);
    RegisterBricks();
    return 0;
}
