// Timings of the bitmap primitives and the colour matrix on one photo-sized image, single
// threaded, against a JPEG encode of the same image as the yardstick.
//
//   bench_bitmapops [--width W] [--height H] [--reps N] [--write-ppm FILE] [--only NAME]
//
// --write-ppm writes the generated test image (binary PPM) and exits, so that other tools can be
// timed on the very same pixels.

#include "imaging/core/BitmapOps.h"
#include "imaging/core/ColorAdjust.h"
#include "imaging/core/ImageCodecs.h"
#include "platform/ColorMatrix.h"

#include <QImage>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Photo-like content: smooth gradients, a few soft discs, fine noise (so JPEG has real work).
QImage MakeImage(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    uint32_t state = 12345;
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 28) - 8;
            const double fx = double(x) / w, fy = double(y) / h;
            const double disc = std::sin(fx * 17.0) * std::cos(fy * 11.0);
            const int r = std::clamp(int(255 * fx * (0.7 + 0.3 * disc)) + noise, 0, 255);
            const int g = std::clamp(int(255 * fy * (0.8 - 0.2 * disc)) + noise, 0, 255);
            const int b = std::clamp(int(128 + 100 * disc) + noise, 0, 255);
            row[x] = qRgb(r, g, b);
        }
    }
    return img;
}

bool WritePpm(const QImage& img, const char* path) {
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%d %d\n255\n", img.width(), img.height());
    std::vector<unsigned char> line(size_t(img.width()) * 3);
    for (int y = 0; y < img.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            line[3 * x] = uchar(qRed(row[x]));
            line[3 * x + 1] = uchar(qGreen(row[x]));
            line[3 * x + 2] = uchar(qBlue(row[x]));
        }
        std::fwrite(line.data(), 1, line.size(), f);
    }
    return std::fclose(f) == 0;
}

struct Result {
    std::string name;
    double minMs, medianMs;
};

Result Time(const std::string& name, int reps, const std::function<void()>& run) {
    std::vector<double> ms;
    for (int i = 0; i < reps; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        run();
        const auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return {name, ms.front(), ms[ms.size() / 2]};
}

volatile uint32_t g_sink; // keeps results observable

void Consume(const QImage& img) {
    g_sink = g_sink + img.pixel(img.width() / 2, img.height() / 2);
}

} // namespace

int main(int argc, char** argv) {
    int width = 6000, height = 4000, reps = 5;
    const char* ppm = nullptr;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--width" && hasValue)
            width = std::atoi(argv[++i]);
        else if (a == "--height" && hasValue)
            height = std::atoi(argv[++i]);
        else if (a == "--reps" && hasValue)
            reps = std::max(1, std::atoi(argv[++i]));
        else if (a == "--write-ppm" && hasValue)
            ppm = argv[++i];
        else if (a == "--only" && hasValue)
            only = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--width W] [--height H] [--reps N] [--write-ppm FILE] "
                         "[--only NAME]\n",
                         argv[0]);
            return 2;
        }
    }

    const QImage src = MakeImage(width, height);
    if (ppm) {
        if (!WritePpm(src, ppm)) {
            std::fprintf(stderr, "cannot write %s\n", ppm);
            return 1;
        }
        return 0;
    }

    const ColorMatrix adjust =
        MatrixMult(SaturationMatrix(1.3), BrightnessMatrix(0.05), ContrastMatrix(1.2));
    ColorMatrix fade = IdentityColorMatrix();
    fade[3][3] = 0.5f;
    QImage argb = src.convertToFormat(QImage::Format_ARGB32);
    QImage work = src.copy();

    struct Case {
        std::string name;
        std::function<void()> run;
    };
    const std::vector<Case> cases = {
        {"rotate 90",
         [&] {
             QImage i = src;
             RotateBitmap(i, 0xFFFFFF, 90);
             Consume(i);
         }},
        {"rotate -90",
         [&] {
             QImage i = src;
             RotateBitmap(i, 0xFFFFFF, -90);
             Consume(i);
         }},
        {"rotate 180",
         [&] {
             QImage i = src;
             RotateBitmap(i, 0xFFFFFF, 180);
             Consume(i);
         }},
        {"rotate 7.5",
         [&] {
             QImage i = src;
             RotateBitmap(i, 0xFFFFFF, 7.5);
             Consume(i);
         }},
        {"resample 1600x1200",
         [&] {
             QImage i = src;
             ResampleBitmap(i, 1600, 1200);
             Consume(i);
         }},
        {"resample 3000x2000",
         [&] {
             QImage i = src;
             ResampleBitmap(i, 3000, 2000);
             Consume(i);
         }},
        {"resample x1.5",
         [&] {
             QImage i = src;
             ResampleBitmap(i, width * 3 / 2, height * 3 / 2);
             Consume(i);
         }},
        {"colour matrix RGB32",
         [&] {
             ApplyColorMatrixInPlace(work, adjust);
             Consume(work);
         }},
        {"colour matrix ARGB32",
         [&] {
             ApplyColorMatrixInPlace(argb, fade);
             Consume(argb);
         }},
        {"JPEG encode q95", [&] { g_sink = g_sink + uint32_t(EncodeJpeg(src, 95).size()); }},
    };

    std::printf("image %d x %d (%.1f Mpx), %d runs each, single thread\n\n", width, height,
                width * double(height) / 1e6, reps);
    std::printf("| %-22s | %10s | %10s | %9s |\n", "operation", "min ms", "median ms", "Mpx/s");
    std::printf("|%s|%s|%s|%s|\n", std::string(24, '-').c_str(), std::string(12, '-').c_str(),
                std::string(12, '-').c_str(), std::string(11, '-').c_str());
    std::vector<Result> results;
    for (const Case& c : cases) {
        if (!only.empty() && c.name.find(only) == std::string::npos)
            continue;
        const Result r = Time(c.name, reps, c.run);
        results.push_back(r);
        std::printf("| %-22s | %10.1f | %10.1f | %9.0f |\n", r.name.c_str(), r.minMs, r.medianMs,
                    width * double(height) / 1e3 / r.minMs);
        std::fflush(stdout);
    }
    auto find = [&](const char* name) -> const Result* {
        for (const Result& r : results)
            if (r.name == name)
                return &r;
        return nullptr;
    };
    const Result* matrix = find("colour matrix RGB32");
    const Result* jpeg = find("JPEG encode q95");
    if (matrix && jpeg)
        std::printf("\ncolour matrix / JPEG encode = %.2f (goal: below 0.5)\n",
                    matrix->minMs / jpeg->minMs);
    return 0;
}
