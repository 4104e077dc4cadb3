// libFuzzer entry: the readers of the files in the settings folder and the thumbnail cache on
// arbitrary bytes. The first byte picks the reader, the rest is the file:
//   0: the settings store's file; every value read must come back unchanged after a write
//   1: an ini-style language file, one section
//   2: the text chunks of a cached thumbnail PNG
#include "batch/explorer/ThumbnailCache.h"
#include "options/TfrmTip.h"
#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstdlib>

namespace {

QString folder() {
    static const QString path = [] {
        const QString p = QDir::temp().filePath(
            QStringLiteral("fuzz-settings-%1").arg(QCoreApplication::applicationPid()));
        QDir().mkpath(p);
        qputenv("CAPTIOMARK_CONFIG_DIR", QFile::encodeName(p));
        return p;
    }();
    return path;
}

bool writeFile(const QString& path, const char* data, size_t size) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(data, qint64(size)) == qint64(size);
}

void settingsStore(const char* data, size_t size) {
    SettingsStore store(QStringLiteral("SOFTWARE\\Captiomark"));
    if (!writeFile(store.filePath(), data, size) || !store.Open())
        return;
    const QList<QPair<QString, QString>> before = store.Values();
    if (!store.SetValue(QStringLiteral("fuzz\n=#"), QStringLiteral("v\r\\0")))
        return;
    SettingsStore again(QStringLiteral("SOFTWARE\\Captiomark"));
    if (!again.Open())
        std::abort();
    QList<QPair<QString, QString>> after = again.Values();
    const bool had = std::any_of(before.begin(), before.end(), [](const auto& v) {
        return v.first == QLatin1String("fuzz\n=#");
    });
    if (!had) {
        if (after.isEmpty() || after.last().first != QLatin1String("fuzz\n=#"))
            std::abort();
        after.removeLast();
    }
    // What was read survives being written back.
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (i >= after.size() || after[i].first != before[i].first)
            std::abort();
        if (before[i].first != QLatin1String("fuzz\n=#") && after[i].second != before[i].second)
            std::abort();
    }
    if (after.size() != before.size())
        std::abort();
}

void iniSection(const char* data, size_t size) {
    const QString path = folder() + QStringLiteral("/English.lng");
    if (!writeFile(path, data, size))
        return;
    QList<QPair<QString, QString>> entries;
    ReadIniSection(path, QStringLiteral("Tips"), &entries);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0)
        return 0;
    folder();
    const char* data = reinterpret_cast<const char*>(bytes + 1);
    switch (bytes[0] % 3) {
    case 0:
        settingsStore(data, size - 1);
        break;
    case 1:
        iniSection(data, size - 1);
        break;
    default:
        ThumbnailCache::PngTexts(QByteArray(data, qsizetype(size - 1)));
        break;
    }
    return 0;
}
