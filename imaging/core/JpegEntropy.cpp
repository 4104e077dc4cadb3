#include "imaging/core/JpegEntropy.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace JpegEntropy {

namespace {
// DC predictions of crafted data can run past an int; they wrap instead (the difference is then
// out of range and the photo is coded again as a whole).
inline int addWrapping(int a, int b) { return int(unsigned(a) + unsigned(b)); }
} // namespace

const uint8_t NaturalOrder[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                  35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                  58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

namespace {

// The number of bits of a magnitude, 0 for 0.
inline int bitLength(unsigned v) {
    return v ? 32 - __builtin_clz(v) : 0;
}

// The value of `size` extra bits after a size symbol.
inline int extend(uint32_t bits, int size) {
    return bits < (1u << (size - 1)) ? int(bits) - (1 << size) + 1 : int(bits);
}

// Whether any of the 8 bytes of w is 0xFF.
inline bool hasFF(uint64_t w) {
    const uint64_t x = ~w;
    return ((x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL) != 0;
}

inline uint64_t loadBigEndian(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return __builtin_bswap64(w);
}

} // namespace

bool HuffmanTable::build(const uint8_t counts[17], const uint8_t* values, bool dc, bool pairs) {
    std::memset(fast, 0, sizeof fast);
    std::memset(skip, 0, sizeof skip);
    std::memset(pair, 0, sizeof pair);
    std::memset(fastValue, 0, sizeof fastValue);
    std::memset(size, 0, sizeof size);
    int total = 0;
    for (int len = 1; len <= 16; ++len)
        total += counts[len];
    if (total > 256)
        return false;
    std::memcpy(symbols, values, size_t(total));
    int32_t next = 0;
    int k = 0;
    for (int len = 1; len <= 16; ++len) {
        // As libjpeg: the all-ones code of a length is never a code. Checked before the codes
        // of this length are spread into the lookups, whose size it bounds.
        if (next + counts[len] >= (int32_t(1) << len))
            return false;
        valueOffset[len] = k - next;
        for (int i = 0; i < counts[len]; ++i, ++k, ++next) {
            const uint8_t s = symbols[k];
            if (size[s] || (dc && s > 15))
                return false;
            size[s] = uint8_t(len);
            code[s] = uint16_t(next);
            if (len <= FastBits) {
                const int spread = FastBits - len;
                for (int j = 0; j < (1 << spread); ++j)
                    fast[(next << spread) | j] = uint16_t((len << 8) | s);
            }
            const int extra = s & 15, total = len + extra;
            const int advance = extra ? (s >> 4) + 1 : s == 0xF0 ? 16 : EndOfBlock;
            if (!dc && total <= SkipBits) {
                const int spread = SkipBits - len;
                for (int j = 0; j < (1 << spread); ++j)
                    skip[(next << spread) | j] = uint16_t((total << 8) | advance);
            }
            if (total <= FastValueBits) {
                const int spread = FastValueBits - len;
                for (int j = 0; j < (1 << spread); ++j) {
                    const uint32_t bits = uint32_t(j) >> (spread - extra);
                    const int value = extra ? extend(bits, extra) : 0;
                    fastValue[(next << spread) | j] =
                        int32_t(uint32_t(value) << 16 | uint32_t(dc ? 0 : advance) << 8 |
                                uint32_t(total));
                }
            }
        }
        maxCode[len] = counts[len] ? next - 1 : -1;
        next <<= 1;
    }
    maxCode[17] = 0x7FFFFFFF; // stops a search for longer codes
    if (!dc && pairs)
        buildPairs();
    return true;
}

void HuffmanTable::buildPairs() {
    // The code at the top of `width` bits of v with its extra bits: (their bits << 8) | the
    // move of the coefficient index, 0 when they do not fit.
    const auto one = [this](uint32_t v, int width) -> int {
        for (int len = 1; len <= width; ++len) {
            const int32_t c = int32_t(v >> (width - len));
            if (c <= maxCode[len]) {
                const int s = symbols[c + valueOffset[len]];
                const int extra = s & 15, total = len + extra;
                if (total > width)
                    return 0;
                const int advance = extra ? (s >> 4) + 1 : s == 0xF0 ? 16 : EndOfBlock;
                return (total << 8) | advance;
            }
        }
        return 0;
    };
    for (uint32_t i = 0; i < (1u << PairBits); ++i) {
        const int first = one(i, PairBits);
        if (!first || (first & 0xFF) == EndOfBlock) {
            pair[i] = uint16_t(first);
            continue;
        }
        const int used = first >> 8, left = PairBits - used;
        const int second = left ? one(i & ((1u << left) - 1), left) : 0;
        pair[i] = uint16_t(second ? (((used + (second >> 8)) << 8) |
                                     ((first & 0xFF) + (second & 0xFF)))
                                  : first);
    }
}

// ---- reading ----------------------------------------------------------------------------------

Reader::Reader(const ScanShape& shape, const uint8_t* data, size_t size)
    : m_shape(shape), m_data(data), m_size(size) {}

inline void Reader::refill() {
    // Eight bytes at once while none of them is 0xFF (most of the time).
    if (!m_stopped && m_pos + 8 <= m_size) {
        const uint64_t w = loadBigEndian(m_data + m_pos);
        if (!hasFF(w)) {
            const int count = (64 - m_bits) >> 3;
            const uint64_t chunk = count == 8 ? w : w >> (64 - 8 * count);
            m_acc |= chunk << (64 - m_bits - 8 * count);
            m_pos += size_t(count);
            m_loaded += size_t(count);
            m_realBytes = m_loaded;
            m_bits += 8 * count;
            return;
        }
    }
    refillBytes();
}

void Reader::refillBytes() {
    while (m_bits <= 56) {
        uint8_t b = 0;
        if (!m_stopped && m_pos < m_size) {
            b = m_data[m_pos];
            if (b != 0xFF) {
                ++m_pos;
            } else if (m_pos + 1 < m_size && m_data[m_pos + 1] == 0) {
                m_pos += 2;
                // The bytes from the next one on lie one further on in the file.
                noteShift(m_loaded + 1);
            } else {
                m_stopped = true; // a marker: zeros from here, as decoders do
                b = 0;
            }
        } else {
            m_stopped = true;
        }
        m_acc |= uint64_t(b) << (56 - m_bits);
        m_bits += 8;
        ++m_loaded;
        if (!m_stopped)
            m_realBytes = m_loaded;
    }
}

void Reader::seek(BitPos at) {
    m_pos = size_t(at >> 3);
    m_acc = 0;
    m_bits = 0;
    m_loaded = 0;
    m_realBytes = 0;
    m_stopped = false;
    m_shiftCount = 0;
    noteShift(0);
    refill();
    drop(int(at & 7));
}

void Reader::noteShift(size_t from) {
    m_shifts[m_shiftCount & 15] = {from, m_pos - from};
    ++m_shiftCount;
}

BitPos Reader::position() const {
    const int64_t c = consumed();
    const size_t byte = size_t(c >> 3);
    size_t at = m_pos;
    if (byte < m_realBytes) {
        // The newest shift at or before the byte; those after it are fewer than the bytes
        // loaded beyond it, at most eight.
        for (size_t i = m_shiftCount; i-- > 0;) {
            const Shift& s = m_shifts[i & 15];
            if (s.from <= byte) {
                at = byte + s.offset;
                break;
            }
        }
    }
    return BitPos(at) * 8 + (c & 7);
}

int Reader::decodeSlow(const HuffmanTable& t) {
    const uint32_t peek = uint32_t(m_acc >> 48);
    for (int len = HuffmanTable::FastBits + 1; len <= 16; ++len) {
        const int32_t code = int32_t(peek >> (16 - len));
        if (code <= t.maxCode[len]) {
            drop(len);
            return t.symbols[code + t.valueOffset[len]];
        }
    }
    return -1;
}

inline int Reader::decode(const HuffmanTable& t) {
    if (m_bits < 32)
        refill();
    const uint16_t e = t.fast[m_acc >> (64 - HuffmanTable::FastBits)];
    if (e) {
        drop(e >> 8);
        return e & 0xFF;
    }
    return decodeSlow(t);
}

inline bool Reader::decodeDcDifference(const HuffmanTable& dc, int& difference) {
    if (m_bits < 32)
        refill();
    const int32_t e = dc.fastValue[m_acc >> (64 - HuffmanTable::FastValueBits)];
    if (e) {
        drop(e & 0xFF);
        difference = e >> 16;
        return true;
    }
    const int s = decode(dc);
    if (s < 0)
        return false;
    difference = s ? extend(take(s), s) : 0;
    return true;
}

bool Reader::skipMcu() {
    for (int b = 0; b < m_shape.blocksInMcu; ++b) {
        const int c = m_shape.blockComponent[b];
        int difference;
        if (!decodeDcDifference(*m_shape.dc[c], difference))
            return false;
        pred[c] = addWrapping(pred[c], difference);
        if (!skipAc(*m_shape.ac[c]))
            return false;
    }
    return true;
}

inline bool Reader::skipAc(const HuffmanTable& ac) {
    // The bits are kept in locals here so that they stay in registers. A refill leaves more
    // than 56 bits, enough for four lookups (12 bits each at most): the bits are checked once for
    // every four, not for each.
    constexpr int Group = 4;
    static_assert(Group * HuffmanTable::PairBits <= 57 &&
                  HuffmanTable::SkipBits <= HuffmanTable::PairBits);
    int k = 1;
    uint64_t acc = m_acc;
    int bits = m_bits;
    const auto lookUp = [&ac](uint64_t a, int at) {
        return at < HuffmanTable::PairBelow ? ac.pair[a >> (64 - HuffmanTable::PairBits)]
                                            : ac.skip[a >> (64 - HuffmanTable::SkipBits)];
    };
    while (k < 64) {
        if (bits < Group * HuffmanTable::PairBits)
            refillLocal(acc, bits);
        uint16_t e = 0;
        for (int n = 0; n < Group && k < 64; ++n) {
            e = lookUp(acc, k);
            if (!e)
                break;
            acc <<= e >> 8;
            bits -= e >> 8;
            k += e & 0xFF;
        }
        if (e)
            continue;
        m_acc = acc;
        m_bits = bits;
        const int rs = decode(ac);
        if (rs < 0)
            return false;
        const int r = rs >> 4, size = rs & 15;
        if (size) {
            drop(size);
            k += r + 1;
        } else if (r == 15) {
            k += 16;
        } else {
            k += HuffmanTable::EndOfBlock;
        }
        acc = m_acc;
        bits = m_bits;
    }
    m_acc = acc;
    m_bits = bits;
    // Past 64 without an end of block: a run longer than the block.
    return k == 64 || k > HuffmanTable::EndOfBlock;
}

bool Reader::decodeMcu(int16_t* blocks) {
    std::memset(blocks, 0, sizeof(int16_t) * 64 * size_t(m_shape.blocksInMcu));
    for (int b = 0; b < m_shape.blocksInMcu; ++b) {
        int16_t* block = blocks + 64 * b;
        const int c = m_shape.blockComponent[b];
        int difference;
        if (!decodeDcDifference(*m_shape.dc[c], difference))
            return false;
        pred[c] = addWrapping(pred[c], difference);
        block[0] = int16_t(pred[c]);
        if (!decodeAc(*m_shape.ac[c], block))
            return false;
    }
    return true;
}

bool Reader::decodeMcuInto(int16_t* const* blocks) {
    for (int b = 0; b < m_shape.blocksInMcu; ++b) {
        const int c = m_shape.blockComponent[b];
        int difference;
        if (!decodeDcDifference(*m_shape.dc[c], difference) ||
            __builtin_add_overflow(pred[c], difference, &pred[c]))
            return false;
        blocks[b][0] = int16_t(pred[c]);
        if (!decodeAc(*m_shape.ac[c], blocks[b]))
            return false;
    }
    return true;
}

inline bool Reader::decodeAc(const HuffmanTable& ac, int16_t* block) {
    // As skipAc: the bits stay in registers; a code with its extra bits of FastValueBits at most
    // is one lookup. A refill leaves more than 56 bits, enough for five lookups: the bits are
    // checked once for every five codes, not for each. The block holds zeros, so sixteen zeros
    // are a value of 0 put at their last place, and only a move past the block's end (an end of
    // block, or a run too long) needs a look.
    constexpr int Group = 5;
    static_assert(Group * HuffmanTable::FastValueBits <= 57);
    uint64_t acc = m_acc;
    int bits = m_bits;
    int left = 0; // lookups the bits in hand cover
    for (int k = 1; k < 64;) {
        if (left == 0) {
            if (bits < Group * HuffmanTable::FastValueBits)
                refillLocal(acc, bits);
            left = Group;
        }
        --left;
        int32_t e = ac.fastValue[acc >> (64 - HuffmanTable::FastValueBits)];
        if (e) {
            const int used = e & 0xFF;
            acc <<= used;
            bits -= used;
        } else {
            m_acc = acc;
            m_bits = bits;
            const int rs = decode(ac);
            if (rs < 0)
                return false;
            const int size = rs & 15, run = rs >> 4;
            const int value = size ? extend(take(size), size) : 0;
            const int advance = size ? run + 1 : run == 15 ? 16 : HuffmanTable::EndOfBlock;
            e = int32_t(uint32_t(value) << 16 | uint32_t(advance) << 8);
            acc = m_acc;
            bits = m_bits;
            left = 0;
        }
        const int advance = (e >> 8) & 0xFF;
        k += advance;
        if (k > 64) {
            if (advance == HuffmanTable::EndOfBlock)
                break;
            return false;
        }
        block[NaturalOrder[k - 1]] = int16_t(e >> 16);
    }
    m_acc = acc;
    m_bits = bits;
    return true;
}

bool Reader::skipMcuNotingDc(BitPos* dcStart, BitPos* dcEnd) {
    for (int b = 0; b < m_shape.blocksInMcu; ++b) {
        const int c = m_shape.blockComponent[b];
        dcStart[b] = position();
        int difference;
        if (!decodeDcDifference(*m_shape.dc[c], difference))
            return false;
        pred[c] = addWrapping(pred[c], difference);
        dcEnd[b] = position();
        if (!skipAc(*m_shape.ac[c]))
            return false;
    }
    return true;
}

// ---- writing ----------------------------------------------------------------------------------

Writer::Writer(QByteArray& out) : m_out(out) {
    m_used = size_t(out.size());
    // What the caller reserved is used before anything is reallocated (and copied).
    m_capacity = std::max(m_used, size_t(out.capacity()));
    if (m_capacity) {
        out.resize(qsizetype(m_capacity));
        m_buf = out.data();
    }
}

Writer::~Writer() {
    if (!m_finished)
        m_out.truncate(qsizetype(m_used));
}

void Writer::grow(size_t more) {
    size_t cap = std::max<size_t>(m_capacity * 2, 1 << 16);
    while (cap < m_used + more)
        cap *= 2;
    m_out.resize(qsizetype(cap));
    m_buf = m_out.data();
    m_capacity = cap;
}

inline void Writer::emitFullBytes() {
    reserve(16);
    while (m_bits >= 8) {
        m_bits -= 8;
        const uint8_t b = uint8_t(m_acc >> m_bits);
        m_buf[m_used++] = char(b);
        if (b == 0xFF)
            m_buf[m_used++] = 0;
    }
}

inline void Writer::put(uint32_t bits, int count) {
    if (!count)
        return;
    m_acc = (m_acc << count) | (bits & (count == 32 ? 0xFFFFFFFFu : (1u << count) - 1));
    m_bits += count;
    if (m_bits >= 32)
        emitFullBytes();
}

bool Writer::encodeDc(const HuffmanTable& dc, int diff) {
    const unsigned magnitude = unsigned(std::abs(diff));
    const int n = bitLength(magnitude);
    if (n > 11 || !dc.size[n])
        return false;
    put(dc.code[n], dc.size[n]);
    put(uint32_t(diff < 0 ? diff - 1 : diff), n);
    return true;
}

bool Writer::encodeBlock(const HuffmanTable& dc, const HuffmanTable& ac, const int16_t* block,
                         int& pred) {
    const int diff = block[0] - pred;
    pred = block[0];
    if (!encodeDc(dc, diff))
        return false;
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int v = block[NaturalOrder[k]];
        if (!v) {
            ++run;
            continue;
        }
        while (run > 15) {
            if (!ac.size[0xF0])
                return false;
            put(ac.code[0xF0], ac.size[0xF0]);
            run -= 16;
        }
        const int n = bitLength(unsigned(std::abs(v)));
        const int symbol = (run << 4) | n;
        if (n > 10 || !ac.size[symbol])
            return false;
        put(ac.code[symbol], ac.size[symbol]);
        put(uint32_t(v < 0 ? v - 1 : v), n);
        run = 0;
    }
    if (run) {
        if (!ac.size[0])
            return false;
        put(ac.code[0], ac.size[0]);
    }
    return true;
}

bool Writer::encodeMcu(const ScanShape& shape, const int16_t* blocks, int* pred) {
    for (int b = 0; b < shape.blocksInMcu; ++b) {
        const int c = shape.blockComponent[b];
        if (!encodeBlock(*shape.dc[c], *shape.ac[c], blocks + 64 * b, pred[c]))
            return false;
    }
    return true;
}

void Writer::copyBits(const uint8_t* data, BitPos from, BitPos to) {
    if (from >= to)
        return;
    size_t p = size_t(from >> 3);
    const size_t q = size_t(to >> 3);
    const int k = int(from & 7), m = int(to & 7);
    if (p == q) {
        put(uint32_t(data[p] >> (8 - m)), m - k);
        return;
    }
    if (k) {
        put(data[p], 8 - k);
        p += data[p] == 0xFF ? 2 : 1;
    }
    emitFullBytes();
    if (m_bits == 0) {
        // On the same bit within the byte as the source: the stuffed bytes are the same too.
        reserve(q - p);
        std::memcpy(m_buf + m_used, data + p, q - p);
        m_used += q - p;
    } else {
        // Shifted by s bits: each source word without 0xFF makes one output word, written at
        // once when it holds no 0xFF either.
        const int s = m_bits;
        const uint64_t low = (uint64_t(1) << s) - 1;
        while (p < q) {
            if (p + 8 <= q) {
                const uint64_t w = loadBigEndian(data + p);
                if (!hasFF(w)) {
                    const uint64_t word = ((m_acc & low) << (64 - s)) | (w >> s);
                    m_acc = w & low;
                    reserve(16);
                    if (!hasFF(word)) {
                        const uint64_t bigEndian = __builtin_bswap64(word);
                        std::memcpy(m_buf + m_used, &bigEndian, 8);
                        m_used += 8;
                    } else {
                        for (int i = 56; i >= 0; i -= 8) {
                            const uint8_t b = uint8_t(word >> i);
                            m_buf[m_used++] = char(b);
                            if (b == 0xFF)
                                m_buf[m_used++] = 0;
                        }
                    }
                    p += 8;
                    continue;
                }
            }
            const uint8_t b = data[p];
            put(b, 8);
            emitFullBytes(); // back to s pending bits
            p += b == 0xFF ? 2 : 1;
        }
    }
    if (m)
        put(uint32_t(data[q] >> (8 - m)), m);
}

void Writer::padToByte() {
    if (m_bits & 7)
        put(0xFF, 8 - (m_bits & 7));
    emitFullBytes();
}

void Writer::appendBytes(const char* bytes, size_t count) {
    emitFullBytes();
    reserve(count);
    std::memcpy(m_buf + m_used, bytes, count);
    m_used += count;
}

BitPos Writer::position() {
    emitFullBytes();
    return BitPos(m_used) * 8 + m_bits;
}

void Writer::finish() {
    padToByte();
    m_out.truncate(qsizetype(m_used));
    m_finished = true;
}

} // namespace JpegEntropy
