// LZW and Deflate strips, the horizontal predictor and bit reversal.
#include "formats/TiffDecode.h"

#include "image/PGExceptions.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace rastova::tiff {

namespace {

[[noreturn]] void Fail(const std::string& text)
{
    throw EPGTIFFileFormatReader("TIFF: " + text);
}

constexpr std::array<std::uint8_t, 256> MakeReversedBytes()
{
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        int r = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (i & (1 << bit))
                r |= 0x80 >> bit;
        table[std::size_t(i)] = std::uint8_t(r);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kReversedBytes = MakeReversedBytes();

}  // namespace

// ---- LZW ----------------------------------------------------------------------------

TLzwDecoder::TLzwDecoder(const std::uint8_t* data, std::size_t size)
    : m_data(data), m_size(size), m_oldStyle(size >= 2 && data[0] == 0 && (data[1] & 1) != 0)
{
    for (int i = 0; i < 256; ++i) {
        m_prefix[std::size_t(i)] = 0;
        m_length[std::size_t(i)] = 1;
        m_first[std::size_t(i)] = std::uint8_t(i);
        m_last[std::size_t(i)] = std::uint8_t(i);
    }
}

void TLzwDecoder::Reset()
{
    m_width = 9;
    m_next = kFirstCode;
    m_previous = -1;
}

// -1 when the data holds no further whole code.
int TLzwDecoder::NextCode()
{
    if (m_oldStyle) {
        while (m_bitCount < m_width && m_position < m_size) {
            m_bits |= std::uint64_t(m_data[m_position++]) << m_bitCount;
            m_bitCount += 8;
        }
        if (m_bitCount < m_width)
            return -1;
        const int code = int(m_bits & ((1u << m_width) - 1));
        m_bits >>= m_width;
        m_bitCount -= m_width;
        return code;
    }
    if (m_bitCount < m_width) {
        while (m_bitCount <= 56 && m_position < m_size) {
            m_bits |= std::uint64_t(m_data[m_position++]) << (56 - m_bitCount);
            m_bitCount += 8;
        }
        if (m_bitCount < m_width)
            return -1;
    }
    const int code = int(m_bits >> (64 - m_width));
    m_bits <<= m_width;
    m_bitCount -= m_width;
    return code;
}

void TLzwDecoder::Expand(int code, std::uint8_t* end) const
{
    std::size_t c = std::size_t(code);
    for (int n = m_length[c];;) {
        *--end = m_last[c];
        if (--n == 0)
            break;
        c = m_prefix[c];
    }
}

std::size_t TLzwDecoder::Read(std::uint8_t* out, std::size_t count)
{
    std::size_t done = 0;
    if (m_pendingStart < m_pendingEnd) {
        done = std::min(count, m_pendingEnd - m_pendingStart);
        std::memcpy(out, m_pending.data() + m_pendingStart, done);
        m_pendingStart += done;
    }
    while (done < count && !m_ended) {
        const int code = NextCode();
        if (code < 0 || code == kEndCode) {
            m_ended = true;
            break;
        }
        if (code == kClearCode) {
            Reset();
            continue;
        }
        if (m_previous < 0) {
            // Right after a clear only single bytes have codes.
            if (code > 255)
                Fail("Invalid LZW code " + std::to_string(code));
            out[done++] = std::uint8_t(code);
            m_previous = code;
            continue;
        }
        if (code > m_next)
            Fail("Invalid LZW code " + std::to_string(code));
        if (m_next < kTableSize) {
            // code == m_next names the entry being made: previous string plus its own first byte.
            const auto n = std::size_t(m_next);
            const auto p = std::size_t(m_previous);
            m_prefix[n] = std::uint16_t(m_previous);
            m_first[n] = m_first[p];
            m_last[n] = code == m_next ? m_first[p] : m_first[std::size_t(code)];
            m_length[n] = std::uint16_t(m_length[p] + 1);
            ++m_next;
            if (m_next + (m_oldStyle ? 0 : 1) >= (1 << m_width) && m_width < 12)
                ++m_width;
        }
        const std::size_t length = m_length[std::size_t(code)];
        if (length <= count - done) {
            Expand(code, out + done + length);
            done += length;
        } else {
            Expand(code, m_pending.data() + length);
            const std::size_t part = count - done;
            std::memcpy(out + done, m_pending.data(), part);
            done = count;
            m_pendingStart = part;
            m_pendingEnd = length;
        }
        m_previous = code;
    }
    return done;
}

// ---- Deflate ------------------------------------------------------------------------

struct TInflateDecoder::TState {
    z_stream stream{};
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t fed = 0;
    bool ended = false;
};

TInflateDecoder::TInflateDecoder(const std::uint8_t* data, std::size_t size) : m_state(std::make_unique<TState>())
{
    m_state->data = data;
    m_state->size = size;
    if (inflateInit(&m_state->stream) != Z_OK)
        Fail("Deflate initialisation failed");
}

TInflateDecoder::~TInflateDecoder()
{
    inflateEnd(&m_state->stream);
}

std::size_t TInflateDecoder::Read(std::uint8_t* out, std::size_t count)
{
    TState& s = *m_state;
    std::size_t done = 0;
    while (done < count && !s.ended) {
        if (s.stream.avail_in == 0 && s.fed < s.size) {
            const std::size_t n = std::min<std::size_t>(s.size - s.fed, UINT_MAX);
            s.stream.next_in = const_cast<Bytef*>(s.data + s.fed);
            s.stream.avail_in = uInt(n);
            s.fed += n;
        }
        const std::size_t want = std::min<std::size_t>(count - done, UINT_MAX);
        s.stream.next_out = out + done;
        s.stream.avail_out = uInt(want);
        const int result = inflate(&s.stream, Z_NO_FLUSH);
        done += want - s.stream.avail_out;
        if (result == Z_STREAM_END)
            s.ended = true;
        else if (result == Z_BUF_ERROR)
            s.ended = s.stream.avail_in == 0 && s.fed == s.size;  // the data ends inside the stream
        else if (result != Z_OK)
            Fail("Invalid Deflate data");
    }
    return done;
}

// ---- predictor and fill order -------------------------------------------------------

void UndoHorizontalPredictor(std::uint8_t* row, std::size_t pixels, int samplesPerPixel, int bitsPerSample,
                             bool motorola)
{
    const auto spp = std::size_t(samplesPerPixel);
    const std::size_t samples = pixels * spp;
    if (bitsPerSample == 8) {
        for (std::size_t i = spp; i < samples; ++i)
            row[i] = std::uint8_t(row[i] + row[i - spp]);
        return;
    }
    // 16 bits: the sums are taken modulo 2^16 in the file's byte order.
    const std::size_t hi = motorola ? 0 : 1;
    const std::size_t lo = 1 - hi;
    for (std::size_t i = spp; i < samples; ++i) {
        std::uint8_t* p = row + 2 * i;
        const std::uint8_t* q = row + 2 * (i - spp);
        const unsigned sum = (unsigned(p[hi]) << 8 | p[lo]) + (unsigned(q[hi]) << 8 | q[lo]);
        p[hi] = std::uint8_t(sum >> 8);
        p[lo] = std::uint8_t(sum);
    }
}

void ReverseBits(std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = kReversedBytes[bytes[i]];
}

}  // namespace rastova::tiff
