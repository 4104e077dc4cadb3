#include "imaging/core/JpegStreamCheck.h"

#include "imaging/core/JpegFastEntropy.h"
#include "imaging/core/JpegSegments.h"
#include "platform/ImageBuffer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <jpeglib.h>
// jpeglib.h must come first: jerror.h relies on its types.
#include <jerror.h>

using namespace CodecSupport;

namespace {

constexpr qsizetype kChunk = qsizetype(128) << 10;
const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

} // namespace

struct JpegStreamCheck::State {
    // Shared between the two threads, under lock.
    std::mutex lock;
    std::condition_variable changed;
    std::vector<QByteArray> chunks; // handed over whole; never changed afterwards
    bool done = false;              // the compressor finished
    bool abandoned = false;         // the compressor failed, or the check is no longer wanted

    // The compressor's side.
    struct Dest {
        jpeg_destination_mgr mgr; // first, so that cinfo->dest can be cast back
        State* state;
        QByteArray current;
    } dest{};

    // The checking side, touched by its thread only until it is joined.
    struct Src {
        jpeg_source_mgr mgr; // first, so that cinfo->src can be cast back
        State* state;
        size_t next;
        QByteArray all; // the chunks taken so far, one after another; the output in the end
    } src{};
    struct Job {
        jpeg_decompress_struct cinfo;
        JpegError err;
        bool created;
        bool whole;
    };
    Job job{};
    std::thread checker;

    void hand(QByteArray chunk, bool last) {
        {
            std::lock_guard<std::mutex> guard(lock);
            chunks.push_back(std::move(chunk));
            done = done || last;
        }
        changed.notify_all();
    }
};

namespace {

using State = JpegStreamCheck::State;

bool newChunk(State::Dest* d) noexcept {
    try {
        d->current = QByteArray(kChunk, Qt::Uninitialized);
    } catch (...) {
        return false;
    }
    d->mgr.next_output_byte = reinterpret_cast<JOCTET*>(d->current.data());
    d->mgr.free_in_buffer = size_t(d->current.size());
    return true;
}

void destInit(j_compress_ptr cinfo) {
    if (!newChunk(reinterpret_cast<State::Dest*>(cinfo->dest)))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
}

// libjpeg calls this with the whole chunk full.
boolean destEmpty(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<State::Dest*>(cinfo->dest);
    bool handed = false;
    try {
        d->state->hand(std::move(d->current), false);
        handed = true;
    } catch (...) {
    }
    if (!handed || !newChunk(d))
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    return TRUE;
}

void destTerm(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<State::Dest*>(cinfo->dest);
    bool handed = false;
    try {
        d->current.truncate(d->current.size() - qsizetype(d->mgr.free_in_buffer));
        d->state->hand(std::move(d->current), true);
        handed = true;
    } catch (...) {
    }
    if (!handed)
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
}

void srcInit(j_decompress_ptr) {}

// Waits for the next chunk and adds it to the data taken; false at the end of the data, or when
// the compressor gave up. The chunk is let go: the data is held once.
bool takeChunk(State* st) {
    State::Src* s = &st->src;
    QByteArray chunk;
    {
        std::unique_lock<std::mutex> guard(st->lock);
        st->changed.wait(guard, [&] { return s->next < st->chunks.size() || st->done || st->abandoned; });
        if (st->abandoned || s->next >= st->chunks.size())
            return false;
        chunk = std::move(st->chunks[s->next++]);
    }
    try {
        s->all.append(chunk);
    } catch (...) {
        std::snprintf(st->job.err.dataMessage, JMSG_LENGTH_MAX, "no memory to read it");
        return false;
    }
    return true;
}

// The next chunk for libjpeg (which is done with the bytes before it, so that the data taken
// may move as it grows); at the end of the data (or when the compressor gave up) a fake end
// marker, as libjpeg's own sources do, with the warning that makes the check fail.
boolean srcFill(j_decompress_ptr cinfo) {
    auto* s = reinterpret_cast<State::Src*>(cinfo->src);
    const qsizetype before = s->all.size();
    if (takeChunk(s->state)) {
        s->mgr.next_input_byte = reinterpret_cast<const JOCTET*>(s->all.constData() + before);
        s->mgr.bytes_in_buffer = size_t(s->all.size() - before);
        return TRUE;
    }
    WARNMS(cinfo, JWRN_JPEG_EOF);
    s->mgr.next_input_byte = kFakeEoi;
    s->mgr.bytes_in_buffer = 2;
    return TRUE;
}

void srcSkip(j_decompress_ptr cinfo, long count) {
    auto* s = reinterpret_cast<State::Src*>(cinfo->src);
    while (count > long(s->mgr.bytes_in_buffer)) {
        count -= long(s->mgr.bytes_in_buffer);
        srcFill(cinfo);
    }
    if (count > 0) {
        s->mgr.next_input_byte += count;
        s->mgr.bytes_in_buffer -= size_t(count);
    }
}

void srcTerm(j_decompress_ptr) {}

struct ScanTables {
    JpegEntropy::HuffmanTable dc[NUM_HUFF_TBLS];
    JpegEntropy::HuffmanTable ac[NUM_HUFF_TBLS];
    JpegEntropy::ScanShape shape;
};

// More than an MCU's coded data can take, stuffed bytes and the reader's look-ahead included.
constexpr size_t kMcuMargin = size_t(16) << 10;

// Every MCU of the scan read past as the data comes, from `start` on, then the end marker right
// after it; the reason in the job's error when not.
bool readPastScan(State* st, j_decompress_ptr cinfo, const JpegEntropy::ScanShape& shape,
                  size_t start) {
    QByteArray& all = st->src.all;
    char* why = st->job.err.dataMessage;
    const auto bytes = [&all] { return reinterpret_cast<const uint8_t*>(all.constData()); };
    JpegEntropy::Reader reader(shape, bytes(), size_t(all.size()));
    reader.seek(JpegEntropy::BitPos(start) * 8);
    bool ended = false; // every chunk taken
    // Until `margin` bytes lie after what the reader has loaded, or all the data does.
    const auto fill = [&](size_t margin) {
        while (!ended && size_t(all.size()) < reader.loadedUpTo() + margin) {
            if (!takeChunk(st))
                ended = true;
            reader.setData(bytes(), size_t(all.size()));
        }
    };
    ScanCursor cursor(cinfo);
    while (!cursor.done()) {
        fill(kMcuMargin);
        if (!cursor.beforeMcu(reader, bytes(), size_t(all.size()))) {
            std::snprintf(why, JMSG_LENGTH_MAX, "a restart marker is missing");
            return false;
        }
        if (!reader.skipMcu()) {
            std::snprintf(why, JMSG_LENGTH_MAX, "its coded data holds a code its tables lack");
            return false;
        }
        cursor.afterMcu();
    }
    fill(size_t(-1) / 2);
    const size_t m = jpegMarkerAfter(reader, bytes(), size_t(all.size()));
    if (reader.overran() || m + 2 > size_t(all.size()) || uchar(all[qsizetype(m) + 1]) != JPEG_EOI) {
        std::snprintf(why, JMSG_LENGTH_MAX, "the data ends before the picture does");
        return false;
    }
    return true;
}

// Inside jpegGuarded: the header, then the scan read past by our reader where it can, else the
// whole decode at the smallest scale, rows thrown away.
void checkAll(void* p) {
    auto* st = static_cast<State*>(p);
    State::Job& job = st->job;
    j_decompress_ptr cinfo = &job.cinfo;
    cinfo->err = &job.err.mgr;
    jpeg_create_decompress(cinfo);
    job.created = true;
    st->src.mgr.init_source = srcInit;
    st->src.mgr.fill_input_buffer = srcFill;
    st->src.mgr.skip_input_data = srcSkip;
    st->src.mgr.resync_to_restart = jpeg_resync_to_restart;
    st->src.mgr.term_source = srcTerm;
    cinfo->src = &st->src.mgr;
    jpeg_read_header(cinfo, TRUE);
    {
        // Room for any likely output at once, so that the data taken is not copied as it grows:
        // pages are only taken as it is filled. libjpeg's place in it is moved along.
        QByteArray& all = st->src.all;
        const qsizetype offset = reinterpret_cast<const char*>(cinfo->src->next_input_byte) -
                                 all.constData();
        const bool inAll = offset >= 0 && offset <= all.size();
        const qint64 likely = qint64(cinfo->image_width) * cinfo->image_height *
                                  std::max(1, cinfo->num_components) / 2 + (qint64(1) << 20);
        try {
            QByteArray room =
                TakeBytes(qsizetype(std::min<qint64>(likely, qint64(1) << 30)), false);
            room.append(all);
            all = std::move(room);
        } catch (...) {
            // grows as it comes instead
        }
        if (inAll)
            cinfo->src->next_input_byte =
                reinterpret_cast<const JOCTET*>(all.constData() + offset);
    }
    cinfo->scale_num = 1;
    cinfo->scale_denom = 8;
    cinfo->do_fancy_upsampling = FALSE;
    jpeg_start_decompress(cinfo);
    // A picture our own decoder reads is read past by it, which is much faster than libjpeg's
    // decode, without a pixel made.
    const auto* all = reinterpret_cast<const JOCTET*>(st->src.all.constData());
    const JOCTET* next = cinfo->src->next_input_byte;
    if (next >= all && next <= all + st->src.all.size() && cinfo->unread_marker == 0) {
        auto tables = std::make_unique<ScanTables>();
        if (jpegScanShape(cinfo, tables->dc, tables->ac, &tables->shape, true)) {
            job.whole = readPastScan(st, cinfo, tables->shape, size_t(next - all));
            return;
        }
    }
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
        cinfo->output_width * JDIMENSION(cinfo->output_components), 1);
    while (cinfo->output_scanline < cinfo->output_height) {
        if (jpeg_read_scanlines(cinfo, row, 1) == 0)
            break;
    }
    jpeg_finish_decompress(cinfo);
    // Every coded bit read, up to the encoder's own end marker.
    job.whole = !job.err.sawEof && cinfo->output_scanline == cinfo->output_height;
}

void runCheck(State* st) {
    jpegInitError(&st->job.err);
    if (!jpegGuarded(&st->job.err, checkAll, st)) {
        st->job.whole = false;
        if (!st->job.err.message[0])
            std::strcpy(st->job.err.message, "the data cannot be decoded");
    } else if (!st->job.whole) {
        std::snprintf(st->job.err.message, sizeof st->job.err.message, "%s",
                      st->job.err.dataMessage[0] ? st->job.err.dataMessage
                                                 : "the data ends before the picture does");
    }
    if (st->job.created)
        jpeg_destroy_decompress(&st->job.cinfo);
    st->job.created = false;
}

} // namespace

JpegStreamCheck::JpegStreamCheck() : d(std::make_unique<State>()) {
    d->dest.state = d.get();
    d->dest.mgr.init_destination = destInit;
    d->dest.mgr.empty_output_buffer = destEmpty;
    d->dest.mgr.term_destination = destTerm;
    d->src.state = d.get();
}

JpegStreamCheck::~JpegStreamCheck() {
    abandon();
}

jpeg_destination_mgr* JpegStreamCheck::destination() {
    if (!d->checker.joinable())
        d->checker = std::thread(runCheck, d.get());
    return &d->dest.mgr;
}

void JpegStreamCheck::abandon() {
    {
        std::lock_guard<std::mutex> guard(d->lock);
        d->abandoned = true;
    }
    d->changed.notify_all();
    if (d->checker.joinable())
        d->checker.join();
}

QByteArray JpegStreamCheck::finish() {
    if (d->checker.joinable())
        d->checker.join();
    if (!d->job.whole)
        throw EInvalidGraphic(QStringLiteral("The written picture did not read back: %1")
                                  .arg(QString::fromLocal8Bit(d->job.err.message)));
    // What the check took is the output, with anything it did not need to read after it.
    QByteArray out = std::move(d->src.all);
    for (size_t i = d->src.next; i < d->chunks.size(); ++i)
        out.append(d->chunks[i]);
    d->chunks.clear();
    return out;
}
