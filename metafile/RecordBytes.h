// Bounds-checked little-endian access to one metafile record. Every read past
// the record's end throws EMetafileRecord, which ends playback at that record.
#pragma once

#include "image/ByteOrder.h"
#include "image/PGExceptions.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rastova {

RASTOVA_DECLARE_EXCEPTION(EPGMetafile, EPixelGraphic);
// A record whose fields do not fit its size; playback stops there.
RASTOVA_DECLARE_EXCEPTION(EMetafileRecord, EPGMetafile);

class TRecordBytes {
public:
    TRecordBytes() = default;
    TRecordBytes(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::size_t Size() const { return m_size; }
    const std::uint8_t* Data() const { return m_data; }
    bool Has(std::size_t offset, std::size_t count) const { return offset <= m_size && count <= m_size - offset; }

    const std::uint8_t* At(std::size_t offset, std::size_t count) const
    {
        if (!Has(offset, count))
            throw EMetafileRecord("Metafile: record too short");
        return m_data + offset;
    }
    TRecordBytes Sub(std::size_t offset, std::size_t count) const { return {At(offset, count), count}; }

    std::uint8_t U8(std::size_t offset) const { return *At(offset, 1); }
    std::uint16_t U16(std::size_t offset) const { return U16LE(At(offset, 2)); }
    std::int16_t I16(std::size_t offset) const { return std::int16_t(U16(offset)); }
    std::uint32_t U32(std::size_t offset) const { return U32LE(At(offset, 4)); }
    std::int32_t I32(std::size_t offset) const { return std::int32_t(U32(offset)); }
    float F32(std::size_t offset) const
    {
        const std::uint32_t bits = U32(offset);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // Bytes of `count` elements of `elementSize` from `offset`, with the
    // multiplication checked before it can overflow.
    bool HasArray(std::size_t offset, std::uint64_t count, std::size_t elementSize) const
    {
        return offset <= m_size && count <= (m_size - offset) / elementSize;
    }
    void RequireArray(std::size_t offset, std::uint64_t count, std::size_t elementSize) const
    {
        if (!HasArray(offset, count, elementSize))
            throw EMetafileRecord("Metafile: record too short");
    }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

}  // namespace rastova
