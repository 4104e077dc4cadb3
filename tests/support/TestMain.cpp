#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every test runs headless, with its settings and thumbnail cache in fresh folders and a pinned
// locale.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("CAPTIOMARK_CONFIG_DIR", config.path().toLocal8Bit());
    // Thumbnails made by the folder lists go to a throw-away cache, not the user's.
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
