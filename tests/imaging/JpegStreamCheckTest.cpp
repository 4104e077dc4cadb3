// The read-back check of a written JPEG, fed as a compressor feeds it: what it passes is the
// data given, and it never passes data that libjpeg's own full decode refuses or cuts short.
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegStreamCheck.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>

#include <cstring>
#include <gtest/gtest.h>

namespace {

void failTest(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    ADD_FAILURE() << "the destination failed: " << message;
    std::abort();
}

// The check's verdict on bytes written to its destination as libjpeg writes, in the
// destination's own chunks: the data passed, or the message it was refused with.
struct Verdict {
    QByteArray passed;
    QString refusal;
};

Verdict check(const QByteArray& bytes) {
    JpegStreamCheck check;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = failTest;
    jpeg_create_compress(&cinfo);
    jpeg_destination_mgr* dest = check.destination();
    cinfo.dest = dest;
    dest->init_destination(&cinfo);
    for (qsizetype at = 0; at < bytes.size();) {
        if (dest->free_in_buffer == 0)
            dest->empty_output_buffer(&cinfo); // libjpeg calls it with the whole chunk full
        const size_t n = std::min(dest->free_in_buffer, size_t(bytes.size() - at));
        std::memcpy(dest->next_output_byte, bytes.constData() + at, n);
        dest->next_output_byte += n;
        dest->free_in_buffer -= n;
        at += qsizetype(n);
    }
    dest->term_destination(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Verdict v;
    try {
        v.passed = check.finish();
    } catch (const Exception& e) {
        v.refusal = e.message();
    }
    return v;
}

bool libjpegReadsWhole(const QByteArray& bytes) {
    try {
        DecodeJpegScaledByLibjpeg(bytes, 1, 1);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

qsizetype scanDataStart(const QByteArray& jpeg) {
    const qsizetype sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    return sos < 0 ? -1 : sos + 2 + (uchar(jpeg[sos + 2]) << 8 | uchar(jpeg[sos + 3]));
}

} // namespace

// Pictures as the encoders write them (more than one chunk of data, colour and grey, restart
// intervals, a progressive file read by libjpeg itself) pass as they are.
TEST(JpegStreamCheck, WrittenPicturesPassWhole) {
    QList<QByteArray> pictures;
    const QImage photo = makeTestPhoto(900, 700, 4);
    pictures << EncodeJpeg(photo, 95, false) << EncodeJpeg(photo, 60, true)
             << EncodeJpeg(makeTestPhoto(1, 1, 2), 90, false);
    if (haveJpegTools()) {
        QTemporaryDir dir;
        const QString ppm = dir.filePath("in.ppm");
        ASSERT_TRUE(photo.save(ppm, "PPM"));
        for (const QStringList& options : {QStringList{"-restart", "3B"}, QStringList{"-sample", "1x1", "-restart", "1"},
                                           QStringList{"-progressive"}, QStringList{"-optimize", "-sample", "2x1"}})
            pictures << runTool(QStringLiteral("cjpeg"), options + QStringList{ppm});
    }
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        ASSERT_FALSE(pictures[i].isEmpty()) << i;
        const Verdict v = check(pictures[i]);
        EXPECT_EQ(v.refusal, QString()) << i;
        EXPECT_TRUE(v.passed == pictures[i]) << i;
    }
}

// Bytes of the coded data changed, the data cut short or its end marker lost: whatever libjpeg's
// full decode refuses, the check refuses too, naming the read-back.
TEST(JpegStreamCheck, DamagedDataIsNeverPassed) {
    const QImage photo = makeTestPhoto(320, 240, 6);
    QList<QByteArray> sources{EncodeJpeg(photo, 92, false)};
    if (haveJpegTools()) {
        QTemporaryDir dir;
        const QString ppm = dir.filePath("in.ppm");
        ASSERT_TRUE(photo.save(ppm, "PPM"));
        sources << runTool(QStringLiteral("cjpeg"), {"-restart", "2B", ppm});
    }
    for (const QByteArray& source : sources) {
        const qsizetype start = scanDataStart(source);
        ASSERT_GT(start, 0);
        quint32 seed = 99;
        const auto next = [&seed](quint32 below) {
            seed = seed * 1664525u + 1013904223u;
            return (seed >> 8) % below;
        };
        int refused = 0;
        for (int trial = 0; trial < 200; ++trial) {
            QByteArray damaged = source;
            if (trial % 5 == 4) {
                damaged.truncate(start + qsizetype(next(quint32(source.size() - start))));
            } else {
                for (int i = 0; i <= trial % 3; ++i)
                    damaged[start + qsizetype(next(quint32(source.size() - 2 - start)))] =
                        char(next(2) ? next(256) : 0xFF);
            }
            const Verdict v = check(damaged);
            if (!libjpegReadsWhole(damaged)) {
                EXPECT_FALSE(v.refusal.isEmpty()) << "trial " << trial;
            }
            if (!v.refusal.isEmpty()) {
                ++refused;
                EXPECT_TRUE(v.refusal.startsWith("The written picture did not read back: "))
                    << v.refusal.toStdString();
            } else {
                EXPECT_TRUE(v.passed == damaged) << "trial " << trial;
            }
        }
        EXPECT_GT(refused, 100);
        EXPECT_FALSE(check(source.left(source.size() - 2)).refusal.isEmpty()) << "no end marker";
    }
}
