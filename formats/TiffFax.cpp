// CCITT T.4/T.6 decoding for TIFF: run-length codes through 13-bit lookup
// tables, rows kept as lists of changing elements so that two-dimensional rows
// are decoded against the row above without touching its pixels.
#include "formats/TiffFax.h"

#include "image/PGExceptions.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace rastova::tiff {

namespace {

struct TCodeText {
    const char* bits;
    std::uint16_t run;
};

// Terminating codes (runs 0 to 63) and make-up codes (64 to 1728) of T.4.
constexpr TCodeText kWhiteCodes[] = {
    {"00110101", 0}, {"000111", 1}, {"0111", 2}, {"1000", 3}, {"1011", 4}, {"1100", 5}, {"1110", 6},
    {"1111", 7}, {"10011", 8}, {"10100", 9}, {"00111", 10}, {"01000", 11}, {"001000", 12}, {"000011", 13},
    {"110100", 14}, {"110101", 15}, {"101010", 16}, {"101011", 17}, {"0100111", 18}, {"0001100", 19},
    {"0001000", 20}, {"0010111", 21}, {"0000011", 22}, {"0000100", 23}, {"0101000", 24}, {"0101011", 25},
    {"0010011", 26}, {"0100100", 27}, {"0011000", 28}, {"00000010", 29}, {"00000011", 30}, {"00011010", 31},
    {"00011011", 32}, {"00010010", 33}, {"00010011", 34}, {"00010100", 35}, {"00010101", 36},
    {"00010110", 37}, {"00010111", 38}, {"00101000", 39}, {"00101001", 40}, {"00101010", 41},
    {"00101011", 42}, {"00101100", 43}, {"00101101", 44}, {"00000100", 45}, {"00000101", 46},
    {"00001010", 47}, {"00001011", 48}, {"01010010", 49}, {"01010011", 50}, {"01010100", 51},
    {"01010101", 52}, {"00100100", 53}, {"00100101", 54}, {"01011000", 55}, {"01011001", 56},
    {"01011010", 57}, {"01011011", 58}, {"01001010", 59}, {"01001011", 60}, {"00110010", 61},
    {"00110011", 62}, {"00110100", 63}, {"11011", 64}, {"10010", 128}, {"010111", 192}, {"0110111", 256},
    {"00110110", 320}, {"00110111", 384}, {"01100100", 448}, {"01100101", 512}, {"01101000", 576},
    {"01100111", 640}, {"011001100", 704}, {"011001101", 768}, {"011010010", 832}, {"011010011", 896},
    {"011010100", 960}, {"011010101", 1024}, {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216},
    {"011011001", 1280}, {"011011010", 1344}, {"011011011", 1408}, {"010011000", 1472}, {"010011001", 1536},
    {"010011010", 1600}, {"011000", 1664}, {"010011011", 1728},
};

constexpr TCodeText kBlackCodes[] = {
    {"0000110111", 0}, {"010", 1}, {"11", 2}, {"10", 3}, {"011", 4}, {"0011", 5}, {"0010", 6}, {"00011", 7},
    {"000101", 8}, {"000100", 9}, {"0000100", 10}, {"0000101", 11}, {"0000111", 12}, {"00000100", 13},
    {"00000111", 14}, {"000011000", 15}, {"0000010111", 16}, {"0000011000", 17}, {"0000001000", 18},
    {"00001100111", 19}, {"00001101000", 20}, {"00001101100", 21}, {"00000110111", 22}, {"00000101000", 23},
    {"00000010111", 24}, {"00000011000", 25}, {"000011001010", 26}, {"000011001011", 27},
    {"000011001100", 28}, {"000011001101", 29}, {"000001101000", 30}, {"000001101001", 31},
    {"000001101010", 32}, {"000001101011", 33}, {"000011010010", 34}, {"000011010011", 35},
    {"000011010100", 36}, {"000011010101", 37}, {"000011010110", 38}, {"000011010111", 39},
    {"000001101100", 40}, {"000001101101", 41}, {"000011011010", 42}, {"000011011011", 43},
    {"000001010100", 44}, {"000001010101", 45}, {"000001010110", 46}, {"000001010111", 47},
    {"000001100100", 48}, {"000001100101", 49}, {"000001010010", 50}, {"000001010011", 51},
    {"000000100100", 52}, {"000000110111", 53}, {"000000111000", 54}, {"000000100111", 55},
    {"000000101000", 56}, {"000001011000", 57}, {"000001011001", 58}, {"000000101011", 59},
    {"000000101100", 60}, {"000001011010", 61}, {"000001100110", 62}, {"000001100111", 63},
    {"0000001111", 64}, {"000011001000", 128}, {"000011001001", 192}, {"000001011011", 256},
    {"000000110011", 320}, {"000000110100", 384}, {"000000110101", 448}, {"0000001101100", 512},
    {"0000001101101", 576}, {"0000001001010", 640}, {"0000001001011", 704}, {"0000001001100", 768},
    {"0000001001101", 832}, {"0000001110010", 896}, {"0000001110011", 960}, {"0000001110100", 1024},
    {"0000001110101", 1088}, {"0000001110110", 1152}, {"0000001110111", 1216}, {"0000001010010", 1280},
    {"0000001010011", 1344}, {"0000001010100", 1408}, {"0000001010101", 1472}, {"0000001011010", 1536},
    {"0000001011011", 1600}, {"0000001100100", 1664}, {"0000001100101", 1728},
};

// Make-up codes of both colours for runs of 1792 and more.
constexpr TCodeText kExtendedCodes[] = {
    {"00000001000", 1792}, {"00000001100", 1856}, {"00000001101", 1920}, {"000000010010", 1984},
    {"000000010011", 2048}, {"000000010100", 2112}, {"000000010101", 2176}, {"000000010110", 2240},
    {"000000010111", 2304}, {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560},
};

constexpr int kLookupBits = 13;
constexpr std::uint16_t kNoCode = 0xFFFF;

struct TLookupEntry {
    std::uint16_t run = kNoCode;
    std::uint8_t length = 0;
};

struct TCodeSet {
    std::vector<TFaxCode> codes;
    std::array<TLookupEntry, 1 << kLookupBits> lookup;
};

TFaxCode ParseCode(const TCodeText& text)
{
    TFaxCode code{0, 0, text.run};
    for (const char* p = text.bits; *p; ++p) {
        code.code = std::uint16_t(code.code << 1 | (*p == '1'));
        ++code.length;
    }
    return code;
}

template <std::size_t N>
TCodeSet BuildCodeSet(const TCodeText (&codes)[N])
{
    TCodeSet set;
    for (const TCodeText& text : codes)
        set.codes.push_back(ParseCode(text));
    for (const TCodeText& text : kExtendedCodes)
        set.codes.push_back(ParseCode(text));
    for (const TFaxCode& code : set.codes) {
        const int shift = kLookupBits - code.length;
        const std::size_t first = std::size_t(code.code) << shift;
        for (std::size_t i = 0; i < (std::size_t(1) << shift); ++i)
            set.lookup[first + i] = {code.run, code.length};
    }
    return set;
}

const TCodeSet& CodeSet(bool black)
{
    static const TCodeSet white = BuildCodeSet(kWhiteCodes);
    static const TCodeSet blackSet = BuildCodeSet(kBlackCodes);
    return black ? blackSet : white;
}

// Two-dimensional mode codes.
enum TMode : std::uint8_t { mPass, mHorizontal, mV0, mVR1, mVR2, mVR3, mVL1, mVL2, mVL3, mExtension, mInvalid };

[[noreturn]] void FailRow(int row, const char* what)
{
    throw EPGTIFFileFormatReader("TIFF: CCITT data " + std::string(what) + " in row " + std::to_string(row));
}

// Bits highest first; reads past the end give zeros, counted so that a
// decoder running on nothing stops.
class TBitReader {
public:
    TBitReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint32_t Peek(int count)
    {
        Refill();
        return std::uint32_t(m_bits >> (64 - count));
    }
    void Skip(int count)
    {
        m_bits <<= count;
        m_count -= count;
    }
    // Bits taken beyond the end of the data.
    bool Exhausted() const { return std::int64_t(m_position) * 8 - m_count > std::int64_t(m_size) * 8; }
    bool AtEnd() const { return std::int64_t(m_position) * 8 - m_count >= std::int64_t(m_size) * 8; }
    void AlignToByte() { Skip(m_count % 8); }

private:
    void Refill()
    {
        while (m_count <= 56) {
            const std::uint64_t byte = m_position < m_size ? m_data[m_position] : 0;
            ++m_position;
            m_bits |= byte << (56 - m_count);
            m_count += 8;
        }
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
    std::uint64_t m_bits = 0;
    int m_count = 0;
};

// One run: make-up codes, then the terminating code.
int ReadRun(TBitReader& bits, bool black, int row)
{
    const TCodeSet& set = CodeSet(black);
    int run = 0;
    for (;;) {
        const TLookupEntry& entry = set.lookup[bits.Peek(kLookupBits)];
        if (entry.run == kNoCode || bits.Exhausted())
            FailRow(row, "invalid");
        bits.Skip(entry.length);
        run += entry.run;
        if (entry.run < 64)
            return run;
    }
}

TMode ReadMode(TBitReader& bits)
{
    // Code lengths by the leading bits: 1 V0; 011 VR1, 010 VL1, 001 H; 0001 P;
    // 000011 VR2, 000010 VL2; 0000011 VR3, 0000010 VL3, 0000001 extension.
    const std::uint32_t b = bits.Peek(7);
    const auto take = [&bits](int n, TMode mode) {
        bits.Skip(n);
        return mode;
    };
    if (b & 0x40) return take(1, mV0);
    if ((b >> 4) == 3) return take(3, mVR1);
    if ((b >> 4) == 2) return take(3, mVL1);
    if ((b >> 4) == 1) return take(3, mHorizontal);
    if ((b >> 3) == 1) return take(4, mPass);
    if ((b >> 1) == 3) return take(6, mVR2);
    if ((b >> 1) == 2) return take(6, mVL2);
    if (b == 3) return take(7, mVR3);
    if (b == 2) return take(7, mVL3);
    if (b == 1) return mExtension;
    return mInvalid;
}

// A row as the positions where the colour changes, the first to black.
using TChanges = std::vector<int>;

void Decode1DRow(TBitReader& bits, int width, int row, TChanges& changes)
{
    changes.clear();
    int a0 = 0;
    bool black = false;
    while (a0 < width) {
        a0 += ReadRun(bits, black, row);
        if (a0 > width)
            FailRow(row, "longer than the row");
        changes.push_back(a0);
        black = !black;
    }
}

class T2DRow {
public:
    T2DRow(const TChanges& reference, int width) : m_ref(reference), m_width(width) {}

    void Decode(TBitReader& bits, int row, TChanges& changes);

private:
    // b1: the first change on the reference row right of a0 to the colour
    // opposite a0's; b2 the change after it.
    void FindB(int a0, bool black, int& b1, int& b2)
    {
        std::size_t i = m_hint >= 2 ? m_hint - 2 : 0;
        while (i < m_ref.size() && m_ref[i] <= a0)
            ++i;
        if ((i & 1) != (black ? 1u : 0u))
            ++i;
        m_hint = i;
        b1 = i < m_ref.size() ? m_ref[i] : m_width;
        b2 = i + 1 < m_ref.size() ? m_ref[i + 1] : m_width;
    }

    const TChanges& m_ref;
    int m_width;
    std::size_t m_hint = 0;
};

void T2DRow::Decode(TBitReader& bits, int row, TChanges& changes)
{
    changes.clear();
    int a0 = -1;
    bool black = false;
    while (a0 < m_width) {
        int b1 = 0, b2 = 0;
        FindB(a0, black, b1, b2);
        const TMode mode = ReadMode(bits);
        if (bits.Exhausted())
            FailRow(row, "ends early");
        if (mode == mPass) {
            a0 = b2;
        } else if (mode == mHorizontal) {
            const int start = std::max(a0, 0);
            const int a1 = start + ReadRun(bits, black, row);
            const int a2 = a1 + ReadRun(bits, !black, row);
            if (a2 > m_width)
                FailRow(row, "longer than the row");
            changes.push_back(a1);
            changes.push_back(a2);
            a0 = a2;
        } else if (mode >= mV0 && mode <= mVL3) {
            static constexpr int kOffsets[] = {0, 1, 2, 3, -1, -2, -3};
            const int a1 = b1 + kOffsets[mode - mV0];
            if (a1 < std::max(a0, 0) || a1 > m_width)
                FailRow(row, "outside the row");
            changes.push_back(a1);
            a0 = a1;
            black = !black;
        } else {
            FailRow(row, mode == mExtension ? "in uncompressed mode, which is not supported," : "invalid");
        }
    }
}

void FillRow(const TChanges& changes, int width, std::uint8_t* out, std::size_t rowBytes)
{
    std::memset(out, 0, rowBytes);
    for (std::size_t i = 0; i < changes.size(); i += 2) {
        const int from = std::min(changes[i], width);
        const int to = i + 1 < changes.size() ? std::min(changes[i + 1], width) : width;
        int x = from;
        for (; x < to && (x & 7); ++x)
            out[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
        if (x + 8 <= to) {
            std::memset(out + (x >> 3), 0xFF, std::size_t((to - x) >> 3));
            x += (to - x) & ~7;
        }
        for (; x < to; ++x)
            out[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
    }
}

// Zero fill bits and the EOL (eleven zeros and a one) before a Group 3 row.
// Returns false when only zeros are left.
bool SkipEol(TBitReader& bits)
{
    if (bits.Peek(11) != 0)
        return true;
    while (bits.Peek(1) == 0) {
        if (bits.AtEnd())
            return false;
        bits.Skip(1);
    }
    bits.Skip(1);
    return true;
}

}  // namespace

std::size_t FaxCodes(bool black, const TFaxCode** codes)
{
    const TCodeSet& set = CodeSet(black);
    *codes = set.codes.data();
    return set.codes.size();
}

void DecodeFax(const std::uint8_t* data, std::size_t size, const TFaxOptions& options, int width, int rows,
               std::uint8_t* out, std::size_t rowBytes)
{
    TBitReader bits(data, size);
    TChanges reference, changes;
    reference.reserve(std::size_t(width) + 2);
    changes.reserve(std::size_t(width) + 2);
    for (int row = 0; row < rows; ++row) {
        bool twoD = options.coding == TFaxCoding::fcGroup4;
        if (options.coding == TFaxCoding::fcGroup3) {
            if (!SkipEol(bits))
                FailRow(row, "ends early");
            if (options.twoDimensional) {
                twoD = bits.Peek(1) == 0;
                bits.Skip(1);
            }
        }
        if (twoD)
            T2DRow(reference, width).Decode(bits, row, changes);
        else
            Decode1DRow(bits, width, row, changes);
        if (options.coding == TFaxCoding::fcModifiedHuffman)
            bits.AlignToByte();
        FillRow(changes, width, out + std::size_t(row) * rowBytes, rowBytes);
        reference.swap(changes);
    }
}

}  // namespace rastova::tiff
