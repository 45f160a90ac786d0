#include "formats/ByteSource.h"

#include "image/PGExceptions.h"
#include "image/Streams.h"

#include <algorithm>
#include <cstring>

namespace rastova {

void TBufferedByteSource::Refill()
{
    const std::int64_t wanted = std::min<std::int64_t>(kBufferSize, m_stream.Remaining());
    const std::int64_t got = wanted > 0 ? m_stream.Read(m_buffer, wanted) : 0;
    if (got <= 0) {
        m_endOfData();
        throw EReadError("Stream read error");  // only if the format's handler returned
    }
    m_count = int(got);
    m_pos = 0;
}

void TBufferedByteSource::Read(std::uint8_t* dest, int count)
{
    while (count > 0) {
        if (m_pos == m_count)
            Refill();
        const int n = std::min(count, m_count - m_pos);
        std::memcpy(dest, m_buffer + m_pos, std::size_t(n));
        m_pos += n;
        dest += n;
        count -= n;
    }
}

bool TBufferedByteSource::AtEnd()
{
    return m_pos == m_count && m_stream.Remaining() == 0;
}

std::int64_t TBufferedByteSource::Available()
{
    return std::int64_t(m_count - m_pos) + m_stream.Remaining();
}

}  // namespace rastova
