#pragma once

// The entropy-coded data of a sequential Huffman-coded JPEG scan, read and written MCU by MCU,
// so that the MCUs a caption leaves alone can be carried over as the coded bits they are. Not for
// use outside the imaging code.

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace JpegEntropy {

constexpr int MaxBlocksInMcu = 10;
constexpr int MaxScanComponents = 4;

// The natural (row-major) place of each coefficient in zig-zag order.
extern const uint8_t NaturalOrder[64];

class HuffmanTable {
public:
    // From a table as stored in the file: the number of codes of each length 1..16 (counts[1..16])
    // and the symbols in code order. False when that is no prefix code or a symbol repeats; dc
    // tables may only hold sizes up to 15. The two-code lookups of reading past (pair) are
    // made only for pairs: without them skipMcu is right but slower.
    bool build(const uint8_t counts[17], const uint8_t* symbols, bool dc, bool pairs = true);

    static constexpr int FastBits = 9;
    uint16_t fast[1 << FastBits] = {}; // (code length << 8) | symbol; 0: a longer code
    // For reading past AC codes: (bits of the code and its extra bits << 8) | how far the
    // coefficient index moves (EndOfBlock for an end of block); 0 when they take more bits.
    static constexpr int SkipBits = 11;
    static constexpr int EndOfBlock = 128;
    uint16_t skip[1 << SkipBits] = {};
    // As skip, for two AC codes at once when both fit in PairBits (else one, or 0 as there).
    // Only for a coefficient index below PairBelow, so that the second code is of the same
    // block whatever the first one's run.
    static constexpr int PairBits = 12;
    static constexpr int PairBelow = 48;
    uint16_t pair[1 << PairBits] = {};
    // A code with its extra bits in one lookup: (value << 16) | (for AC codes: how far the
    // coefficient index moves << 8) | bits of the code and its extra bits, the move as in skip
    // (sixteen zeros move it by 16 with a value of 0); for DC codes the value is the difference.
    // 0 when they take more bits.
    static constexpr int FastValueBits = 10;
    int32_t fastValue[1 << FastValueBits] = {};
    int32_t maxCode[18] = {}; // per length: the largest code, -1 when none
    int32_t valueOffset[18] = {};
    uint8_t symbols[256] = {};
    uint16_t code[256] = {};
    uint8_t size[256] = {}; // 0: the symbol has no code

private:
    void buildPairs();
};

// The blocks of one MCU in coding order and the tables each block is coded with.
struct ScanShape {
    int blocksInMcu = 0;
    int components = 0;
    int blockComponent[MaxBlocksInMcu] = {}; // index among the scan's components
    const HuffmanTable* dc[MaxScanComponents] = {};
    const HuffmanTable* ac[MaxScanComponents] = {};
};

// A place in the coded data: byte offset × 8 + bit (0 is a byte's most significant bit). The
// offset is that of a data byte; stuffed zero bytes are never pointed at.
using BitPos = int64_t;

class Reader {
public:
    Reader(const ScanShape& shape, const uint8_t* data, size_t size);

    // Starts reading at a place; the DC predictions are the caller's (pred).
    void seek(BitPos at);
    // The data grown as it comes (perhaps moved, its bytes so far unchanged): reading goes on
    // into what was added, as long as the reader had not reached the old end.
    void setData(const uint8_t* data, size_t size) {
        m_data = data;
        m_size = size;
    }
    // One MCU read past. False on a code the tables do not hold or a block longer than 64.
    bool skipMcu();
    // One MCU read into blocksInMcu blocks of 64 coefficients in natural order, DC absolute.
    bool decodeMcu(int16_t* blocks);
    // The same into blocks that are each somewhere else and already hold zeros; false also when
    // a DC prediction runs out of the int range.
    bool decodeMcuInto(int16_t* const* blocks);
    // One MCU read past, with where the DC code (and its extra bits) of each block starts and
    // ends.
    bool skipMcuNotingDc(BitPos* dcStart, BitPos* dcEnd);
    BitPos position() const;
    // The next byte the reader will load: a bound, past the position, of what it has read.
    size_t loadedUpTo() const { return m_pos; }
    // Whether more bits were taken than the data holds before its marker or end.
    bool overran() const { return consumed() > int64_t(m_realBytes) * 8; }

    int pred[MaxScanComponents] = {};

private:
    int64_t consumed() const { return int64_t(m_loaded) * 8 - m_bits; }
    void refill();
    void refillBytes();
    // refill for a loop that keeps the bits in locals.
    void refillLocal(uint64_t& acc, int& bits) {
        m_acc = acc;
        m_bits = bits;
        refill();
        acc = m_acc;
        bits = m_bits;
    }
    int decode(const HuffmanTable& t);
    int decodeSlow(const HuffmanTable& t);
    // The DC difference of the next block; false on a code the table does not hold.
    bool decodeDcDifference(const HuffmanTable& dc, int& difference);
    bool skipAc(const HuffmanTable& ac);
    bool decodeAc(const HuffmanTable& ac, int16_t* block);
    uint32_t take(int n) {
        const uint32_t v = uint32_t(m_acc >> (64 - n));
        m_acc <<= n;
        m_bits -= n;
        return v;
    }
    void drop(int n) {
        m_acc <<= n;
        m_bits -= n;
    }

    const ScanShape& m_shape;
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;       // next byte to load
    uint64_t m_acc = 0;     // loaded bits, most significant first
    int m_bits = 0;         // how many of them are valid
    size_t m_loaded = 0;    // data bytes loaded since seek (zeros after the end included)
    size_t m_realBytes = 0; // of them, bytes that were really there
    bool m_stopped = false; // a marker or the end was met
    // Where loaded bytes lie in the file: from byte `from` (counted since seek) on, at
    // from + offset, until the next shift (a stuffed zero skipped). The last 16 are kept.
    struct Shift {
        size_t from = 0;
        size_t offset = 0;
    };
    void noteShift(size_t from);
    Shift m_shifts[16] = {};
    size_t m_shiftCount = 0;
};

// Appends coded data to a byte array, stuffing a zero after every 0xFF.
class Writer {
public:
    explicit Writer(QByteArray& out);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void put(uint32_t bits, int count); // count <= 32
    // An MCU of blocks as decodeMcu gives them, predicted from and updating pred. False when a
    // symbol it needs has no code in the tables or a coefficient is out of range.
    bool encodeMcu(const ScanShape& shape, const int16_t* blocks, int* pred);
    bool encodeDc(const HuffmanTable& dc, int diff);
    // The coded bits [from, to) of data, as they are.
    void copyBits(const uint8_t* data, BitPos from, BitPos to);
    // Fills the last byte with one bits.
    void padToByte();
    // Raw bytes (markers, whole copied intervals); only on a byte boundary.
    void appendBytes(const char* bytes, size_t count);
    // The place of the next bit in the output.
    BitPos position();
    // Writes what is pending and trims the array. The writer is done.
    void finish();

private:
    bool encodeBlock(const HuffmanTable& dc, const HuffmanTable& ac, const int16_t* block,
                     int& pred);
    void emitFullBytes();
    void reserve(size_t more) {
        if (m_used + more > m_capacity)
            grow(more);
    }
    void grow(size_t more);

    QByteArray& m_out;
    char* m_buf = nullptr;
    size_t m_used = 0;
    size_t m_capacity = 0;
    uint64_t m_acc = 0; // pending bits, the newest lowest
    int m_bits = 0;
    bool m_finished = false;
};

} // namespace JpegEntropy
