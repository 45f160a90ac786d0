#include "formats/TiffEncode.h"

#include "image/PGExceptions.h"

#include <zlib.h>

#include <array>
#include <memory>

namespace rastova::tiff {

namespace {

constexpr int kClearCode = 256;
constexpr int kEndCode = 257;
constexpr int kFirstCode = 258;
constexpr int kMinBits = 9;
constexpr int kMaxBits = 12;
constexpr int kTableFull = (1 << kMaxBits) - 2;  // a ClearCode follows before this code is assigned

class TCodeWriter {
public:
    explicit TCodeWriter(std::vector<std::uint8_t>& out) : m_out(out) {}
    void Put(int code, int bits)
    {
        m_buffer = (m_buffer << bits) | std::uint32_t(code);
        m_count += bits;
        while (m_count >= 8) {
            m_count -= 8;
            m_out.push_back(std::uint8_t(m_buffer >> m_count));
        }
    }
    void Flush()
    {
        if (m_count > 0)
            m_out.push_back(std::uint8_t(m_buffer << (8 - m_count)));
        m_count = 0;
    }

private:
    std::vector<std::uint8_t>& m_out;
    std::uint32_t m_buffer = 0;
    int m_count = 0;
};

// String table as (prefix code, byte) -> code; a generation number empties it
// without clearing the slots.
class TLzwTable {
public:
    void Clear() { ++m_generation; }
    // The slot of the pair: its code when present, else where it would go.
    std::size_t Find(int prefix, std::uint8_t byte) const
    {
        const std::uint32_t key = (std::uint32_t(prefix) << 8) | byte;
        std::size_t slot = (key * 2654435761u) >> (32 - kHashBits);
        while (m_slots[slot].generation == m_generation && m_slots[slot].key != key)
            slot = (slot + 1) & (kSize - 1);
        return slot;
    }
    int CodeAt(std::size_t slot) const { return m_slots[slot].generation == m_generation ? m_slots[slot].code : -1; }
    void Add(std::size_t slot, int prefix, std::uint8_t byte, int code)
    {
        m_slots[slot] = {(std::uint32_t(prefix) << 8) | byte, std::uint16_t(code), m_generation};
    }

private:
    static constexpr int kHashBits = 13;
    static constexpr std::size_t kSize = std::size_t(1) << kHashBits;
    struct TSlot {
        std::uint32_t key = 0;
        std::uint16_t code = 0;
        std::uint32_t generation = 0;
    };
    std::array<TSlot, kSize> m_slots{};
    std::uint32_t m_generation = 1;
};

}  // namespace

std::vector<std::uint8_t> LzwEncode(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> out;
    out.reserve(size / 2 + 16);
    TCodeWriter writer(out);
    auto table = std::make_unique<TLzwTable>();
    int bits = kMinBits;
    int next = kFirstCode;
    writer.Put(kClearCode, bits);
    // Every code written makes the decoder add one string; the width grows
    // when the encoder's next code no longer fits.
    const auto counted = [&] {
        if (++next == kTableFull) {
            writer.Put(kClearCode, bits);
            table->Clear();
            next = kFirstCode;
            bits = kMinBits;
        } else if (next > (1 << bits) - 1) {
            ++bits;
        }
    };
    if (size > 0) {
        int current = data[0];
        for (std::size_t i = 1; i < size; ++i) {
            const std::size_t slot = table->Find(current, data[i]);
            const int code = table->CodeAt(slot);
            if (code >= 0) {
                current = code;
                continue;
            }
            writer.Put(current, bits);
            table->Add(slot, current, data[i], next);
            counted();
            current = data[i];
        }
        writer.Put(current, bits);
        // The last code counts as if it had added a string, as libtiff counts it.
        counted();
    }
    writer.Put(kEndCode, bits);
    writer.Flush();
    return out;
}

std::vector<std::uint8_t> DeflateEncode(const std::uint8_t* data, std::size_t size, int level)
{
    uLongf length = compressBound(uLong(size));
    std::vector<std::uint8_t> out(length);
    const int result = compress2(out.data(), &length, data, uLong(size), level < 0 ? Z_DEFAULT_COMPRESSION : level);
    if (result != Z_OK)
        throw EPGTIFFileFormatWriter("TIFF: Deflate failed");
    out.resize(length);
    return out;
}

void ApplyHorizontalPredictor(std::uint8_t* row, std::size_t bytes, int samplesPerPixel)
{
    const std::size_t step = std::size_t(samplesPerPixel);
    for (std::size_t i = bytes; i-- > step;)
        row[i] = std::uint8_t(row[i] - row[i - step]);
}

}  // namespace rastova::tiff
