// Bytes of a stream through a 1024-byte buffer, for the formats that decode
// byte by byte (PBM/PGM/PPM, PCX, run-length Targa).
#pragma once

#include <cstdint>

namespace rastova {

class TStream;

class TBufferedByteSource {
public:
    // Raises the format's own "Unexpected end of file"; must not return.
    using TEndOfData = void (*)();

    TBufferedByteSource(TStream& stream, TEndOfData endOfData) : m_stream(stream), m_endOfData(endOfData) {}

    std::uint8_t Next()
    {
        if (m_pos == m_count)
            Refill();
        return m_buffer[m_pos++];
    }
    void Read(std::uint8_t* dest, int count);
    // No byte left, neither buffered nor in the stream.
    bool AtEnd();
    // Bytes still to come, buffered or not.
    std::int64_t Available();

private:
    void Refill();

    static constexpr int kBufferSize = 1024;
    TStream& m_stream;
    TEndOfData m_endOfData;
    std::uint8_t m_buffer[kBufferSize];
    int m_count = 0;
    int m_pos = 0;
};

}  // namespace rastova
