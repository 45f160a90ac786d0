// A small GIF writer for the tests: a plain LZW encoder with knobs for the
// cases a decoder gets wrong (clear codes mid-stream, a full table kept
// without clearing, tiny sub-blocks, any minimum code size), and a builder
// for whole files with several frames, local tables and interlacing.
#pragma once

#include "image/PGTypes.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace rastova::test {

struct TLzwOptions {
    int minCodeSize = 8;
    int clearEvery = 0;          // >0: a clear code after every that many codes
    bool deferredClear = false;  // keep coding with a full table instead of clearing it
    int subBlockSize = 255;
    bool endCode = true;
};

// Packs codes least significant bit first.
class TGifBitWriter {
public:
    void Put(int code, int size)
    {
        m_acc |= std::uint32_t(code) << m_bits;
        m_bits += size;
        while (m_bits >= 8) {
            m_bytes.push_back(std::uint8_t(m_acc));
            m_acc >>= 8;
            m_bits -= 8;
        }
    }
    std::vector<std::uint8_t> Finish()
    {
        if (m_bits > 0)
            m_bytes.push_back(std::uint8_t(m_acc));
        m_acc = 0;
        m_bits = 0;
        return m_bytes;
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::uint32_t m_acc = 0;
    int m_bits = 0;
};

// The packed code stream (no code-size byte, no sub-blocks).
inline std::vector<std::uint8_t> LzwEncodeCodes(const std::vector<std::uint8_t>& pixels, const TLzwOptions& o)
{
    const int clear = 1 << o.minCodeSize;
    const int end = clear + 1;
    TGifBitWriter out;
    std::unordered_map<std::uint32_t, int> table;
    int next = 0;
    int size = 0;
    const auto reset = [&] {
        table.clear();
        next = clear + 2;
        size = o.minCodeSize + 1;
    };
    reset();
    out.Put(clear, size);
    if (!pixels.empty()) {
        int prefix = pixels[0];
        int codes = 0;
        for (std::size_t i = 1; i < pixels.size(); ++i) {
            const int c = pixels[i];
            const std::uint32_t key = std::uint32_t(prefix) << 8 | std::uint32_t(c);
            const auto found = table.find(key);
            if (found != table.end()) {
                prefix = found->second;
                continue;
            }
            out.Put(prefix, size);
            ++codes;
            if (next < 4096) {
                table[key] = next++;
                // The decoder adds its entry one code later, so it reads the
                // next code with one more bit exactly when next passes 2^size.
                if (next > (1 << size) && size < 12)
                    ++size;
            } else if (!o.deferredClear) {
                out.Put(clear, size);
                reset();
            }
            if (o.clearEvery > 0 && codes % o.clearEvery == 0) {
                out.Put(clear, size);
                reset();
            }
            prefix = c;
        }
        out.Put(prefix, size);
        // Having taken that last code the decoder's table reaches next
        // entries, and it reads the end code at the size that may give.
        if (next >= (1 << size) && size < 12)
            ++size;
    }
    if (o.endCode)
        out.Put(end, size);
    return out.Finish();
}

inline std::vector<std::uint8_t> SubBlocks(const std::vector<std::uint8_t>& data, int blockSize)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < data.size(); i += std::size_t(blockSize)) {
        const std::size_t n = std::min<std::size_t>(std::size_t(blockSize), data.size() - i);
        out.push_back(std::uint8_t(n));
        out.insert(out.end(), data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + n));
    }
    out.push_back(0);
    return out;
}

// Minimum code size byte, sub-blocks and terminator.
inline std::vector<std::uint8_t> LzwImageData(const std::vector<std::uint8_t>& pixels, const TLzwOptions& o)
{
    std::vector<std::uint8_t> out{std::uint8_t(o.minCodeSize)};
    const std::vector<std::uint8_t> blocks = SubBlocks(LzwEncodeCodes(pixels, o), o.subBlockSize);
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

// Rows of a top-down raster in the order an interlaced frame stores them.
inline std::vector<int> InterlacedRowOrder(int height)
{
    std::vector<int> rows;
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < height; y += kStep[pass])
            rows.push_back(y);
    return rows;
}

struct TTestFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices;  // top-down, row by row
    int localBits = 0;                  // 0: no local table
    std::vector<TRGB> localTable;       // 2^localBits entries
    bool interlaced = false;
    TLzwOptions lzw;
};

inline void PutTable(std::vector<std::uint8_t>& out, const std::vector<TRGB>& table, int bits)
{
    for (int i = 0; i < (1 << bits); ++i) {
        const TRGB c = i < int(table.size()) ? table[std::size_t(i)] : 0;
        out.push_back(RedOf(c));
        out.push_back(GreenOf(c));
        out.push_back(BlueOf(c));
    }
}

class TGifFileBuilder {
public:
    TGifFileBuilder(int width, int height, int globalBits, const std::vector<TRGB>& globalTable,
                    const std::string& version = "89a")
    {
        Text("GIF" + version);
        U16(width);
        U16(height);
        m_out.push_back(globalBits > 0 ? std::uint8_t(0x80 | 0x70 | (globalBits - 1)) : std::uint8_t(0x70));
        m_out.push_back(0);
        m_out.push_back(0);
        if (globalBits > 0)
            PutTable(m_out, globalTable, globalBits);
    }

    std::vector<std::uint8_t> FrameBytes(const TTestFrame& f) const
    {
        std::vector<std::uint8_t> out{0x2C, 0, 0, 0, 0};
        out.push_back(std::uint8_t(f.width));
        out.push_back(std::uint8_t(f.width >> 8));
        out.push_back(std::uint8_t(f.height));
        out.push_back(std::uint8_t(f.height >> 8));
        std::uint8_t packed = f.interlaced ? 0x40 : 0;
        if (f.localBits > 0)
            packed |= std::uint8_t(0x80 | (f.localBits - 1));
        out.push_back(packed);
        if (f.localBits > 0)
            PutTable(out, f.localTable, f.localBits);
        std::vector<std::uint8_t> ordered;
        if (f.interlaced) {
            for (const int y : InterlacedRowOrder(f.height))
                ordered.insert(ordered.end(), f.indices.begin() + std::ptrdiff_t(y) * f.width,
                               f.indices.begin() + std::ptrdiff_t(y + 1) * f.width);
        } else {
            ordered = f.indices;
        }
        const std::vector<std::uint8_t> data = LzwImageData(ordered, f.lzw);
        out.insert(out.end(), data.begin(), data.end());
        return out;
    }

    TGifFileBuilder& Frame(const TTestFrame& f) { return Raw(FrameBytes(f)); }
    TGifFileBuilder& GraphicControl(int transparentIndex = 0)
    {
        return Raw({0x21, 0xF9, 4, 1, 10, 0, std::uint8_t(transparentIndex), 0});
    }
    TGifFileBuilder& Comment(const std::string& text)
    {
        std::vector<std::uint8_t> data(text.begin(), text.end());
        std::vector<std::uint8_t> out{0x21, 0xFE};
        const std::vector<std::uint8_t> blocks = SubBlocks(data, 255);
        out.insert(out.end(), blocks.begin(), blocks.end());
        return Raw(out);
    }
    TGifFileBuilder& Netscape(int loops = 0)
    {
        Raw({0x21, 0xFF, 11});
        Text("NETSCAPE2.0");
        return Raw({3, 1, std::uint8_t(loops), std::uint8_t(loops >> 8), 0});
    }
    TGifFileBuilder& Raw(const std::vector<std::uint8_t>& bytes)
    {
        m_out.insert(m_out.end(), bytes.begin(), bytes.end());
        return *this;
    }
    TGifFileBuilder& Text(const std::string& text)
    {
        // Byte by byte: g++ 12 warns falsely about a range insert here.
        for (const char c : text)
            m_out.push_back(std::uint8_t(c));
        return *this;
    }
    TGifFileBuilder& Trailer() { return Raw({0x3B}); }
    const std::vector<std::uint8_t>& Data() const { return m_out; }

private:
    void U16(int v)
    {
        m_out.push_back(std::uint8_t(v));
        m_out.push_back(std::uint8_t(v >> 8));
    }
    std::vector<std::uint8_t> m_out;
};

}  // namespace rastova::test
