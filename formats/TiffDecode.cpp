// LZW and Deflate strips, the horizontal predictor and bit reversal.
#include "formats/TiffDecode.h"

#include "image/PGExceptions.h"

#include <zlib.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

std::size_t TLzwDecoder::TakePending(std::uint8_t* out, std::size_t count)
{
    if (m_pendingStart >= m_pendingEnd)
        return 0;
    const std::size_t done = std::min(count, m_pendingEnd - m_pendingStart);
    std::memcpy(out, m_pending.data() + m_pendingStart, done);
    m_pendingStart += done;
    return done;
}

namespace {

// The code reader's state, held in locals while a Read runs.
struct TLzwBits {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
    std::uint64_t bits;  // unread bits: the next one lowest (old style) or highest
    int count;

    // The next code of width bits; false when the data holds no further whole code.
    template <bool OldStyle>
    [[gnu::always_inline]] bool Take(int width, int& code)
    {
        if (count < width) {
            while (count <= 56 && position < size) {
                bits |= std::uint64_t(data[position++]) << (OldStyle ? count : 56 - count);
                count += 8;
            }
            if (count < width)
                return false;
        }
        if (OldStyle) {
            code = int(bits & ((1u << width) - 1));
            bits >>= width;
        } else {
            code = int(bits >> (64 - width));
            bits <<= width;
        }
        count -= width;
        return true;
    }
};

}  // namespace

// The two steps of every code are kept in the decoding loop: called, they cost a sixth of its speed.
[[gnu::always_inline]] inline void TLzwDecoder::AddEntry(int code, int previous, int& next, int& width, int growth)
{
    if (next >= kTableSize)
        return;
    // code == next names the entry being made: previous string plus its own first byte.
    const auto n = std::size_t(next);
    const auto p = std::size_t(previous);
    m_prefix[n] = std::uint16_t(previous);
    m_first[n] = m_first[p];
    m_last[n] = code == next ? m_first[p] : m_first[std::size_t(code)];
    m_length[n] = std::uint16_t(m_length[p] + 1);
    ++next;
    if (next + growth >= (1 << width) && width < 12)
        ++width;
}

[[gnu::always_inline]] inline void TLzwDecoder::Emit(int code, std::uint8_t* out, std::size_t count,
                                                     std::size_t& done)
{
    const std::size_t length = m_length[std::size_t(code)];
    if (length == 1) {
        out[done++] = m_last[std::size_t(code)];
    } else if (length <= count - done) {
        Expand(code, out + done + length);
        done += length;
    } else {
        // What does not fit waits for the next call.
        Expand(code, m_pending.data() + length);
        const std::size_t part = count - done;
        std::memcpy(out + done, m_pending.data(), part);
        done = count;
        m_pendingStart = part;
        m_pendingEnd = length;
    }
}

std::size_t TLzwDecoder::Read(std::uint8_t* out, std::size_t count)
{
    return m_oldStyle ? Decode<true>(out, count) : Decode<false>(out, count);
}

// The decoding state lives in locals while codes are taken, so the loop does
// not go through memory for every field; it is stored back on the way out.
template <bool OldStyle>
std::size_t TLzwDecoder::Decode(std::uint8_t* out, std::size_t count)
{
    std::size_t done = TakePending(out, count);
    TLzwBits reader{m_data, m_size, m_position, m_bits, m_bitCount};
    int width = m_width;
    int next = m_next;
    int previous = m_previous;
    constexpr int kGrowth = OldStyle ? 0 : 1;  // the newer variant grows one code early
    while (done < count && !m_ended) {
        int code = 0;
        if (!reader.Take<OldStyle>(width, code) || code == kEndCode) {
            m_ended = true;
            break;
        }
        if (code == kClearCode) {
            width = 9;
            next = kFirstCode;
            previous = -1;
            continue;
        }
        // Right after a clear only single bytes have codes.
        if (code > (previous < 0 ? 255 : next))
            Fail("Invalid LZW code " + std::to_string(code));
        if (previous >= 0)
            AddEntry(code, previous, next, width, kGrowth);
        Emit(code, out, count, done);
        previous = code;
    }
    m_position = reader.position;
    m_bits = reader.bits;
    m_bitCount = reader.count;
    m_width = width;
    m_next = next;
    m_previous = previous;
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

// The two-byte zlib header is checked here and the data inflated raw: a strip
// is read only as far as its rows go, so the checksum at its end is never
// reached, and keeping one over every byte would only cost time.
TInflateDecoder::TInflateDecoder(const std::uint8_t* data, std::size_t size) : m_state(std::make_unique<TState>())
{
    constexpr unsigned kDeflateMethod = 8;
    constexpr unsigned kPresetDictionary = 0x20;
    if (size >= 2) {
        const unsigned method = data[0], flags = data[1];
        if ((method & 0x0F) != kDeflateMethod || (method >> 4) > 7 || (method << 8 | flags) % 31 != 0 ||
            (flags & kPresetDictionary))
            Fail("Invalid Deflate data");
        data += 2;
        size -= 2;
    } else {
        size = 0;  // not even a header: a strip that ends at once
    }
    m_state->data = data;
    m_state->size = size;
    m_state->ended = size == 0;
    if (inflateInit2(&m_state->stream, -MAX_WBITS) != Z_OK)
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
    if (bitsPerSample == 8 && spp == 3 && pixels > 0) {
        // RGB, the common case: the running sums stay in registers.
        std::uint8_t r = row[0], g = row[1], b = row[2];
        for (std::uint8_t *p = row + 3, *end = row + samples; p != end; p += 3) {
            p[0] = r = std::uint8_t(r + p[0]);
            p[1] = g = std::uint8_t(g + p[1]);
            p[2] = b = std::uint8_t(b + p[2]);
        }
        return;
    }
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

#ifdef __SSE2__
namespace {

// Five pixels at a time: the running sums inside 15 bytes come from three
// shifted adds (the shifts are whole pixels, so channels never mix); the sums
// carried in from the pixels before are a replicated pixel, and the next carry
// depends on this block's last pixel alone, so the blocks hardly wait on each other.
std::size_t PredictedToBgrBlocks(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t pixels)
{
    const __m128i firstPixel = _mm_setr_epi8(-1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i red = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0);
    const __m128i green = _mm_slli_si128(red, 1);
    const __m128i blue = _mm_slli_si128(red, 2);
    __m128i carry = _mm_setzero_si128();
    std::size_t x = 0;
    // 16 bytes are read and written a block: the sixth pixel must exist.
    for (; x + 6 <= pixels; x += 5, rgb += 15, bgr += 15) {
        __m128i sums = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb));
        sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 3));
        sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 6));
        sums = _mm_add_epi8(sums, _mm_slli_si128(sums, 12));
        const __m128i pixelsOut = _mm_add_epi8(sums, carry);
        __m128i last = _mm_and_si128(_mm_srli_si128(sums, 12), firstPixel);
        last = _mm_or_si128(last, _mm_slli_si128(last, 3));
        last = _mm_or_si128(last, _mm_slli_si128(last, 6));
        last = _mm_or_si128(last, _mm_slli_si128(last, 12));
        carry = _mm_add_epi8(carry, last);
        // Red and blue trade places; the byte after the fifth pixel is rewritten later.
        const __m128i swapped = _mm_or_si128(_mm_and_si128(pixelsOut, green),
                                             _mm_or_si128(_mm_and_si128(_mm_slli_si128(pixelsOut, 2), blue),
                                                          _mm_and_si128(_mm_srli_si128(pixelsOut, 2), red)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr), swapped);
    }
    return x;
}

}  // namespace
#endif

void UndoHorizontalPredictorToBgr(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t pixels)
{
    std::uint8_t r = 0, g = 0, b = 0;
    std::size_t x = 0;
#ifdef __SSE2__
    x = PredictedToBgrBlocks(rgb, bgr, pixels);
    if (x > 0) {
        rgb += 3 * x;
        bgr += 3 * x;
        b = bgr[-3];
        g = bgr[-2];
        r = bgr[-1];
    }
#endif
    for (; x < pixels; ++x, rgb += 3, bgr += 3) {
        r = std::uint8_t(r + rgb[0]);
        g = std::uint8_t(g + rgb[1]);
        b = std::uint8_t(b + rgb[2]);
        bgr[0] = b;
        bgr[1] = g;
        bgr[2] = r;
    }
}

void ReverseBits(std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = kReversedBytes[bytes[i]];
}

}  // namespace rastova::tiff
