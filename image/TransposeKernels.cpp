#include "image/TransposeKernels.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RASTOVA_SHUFFLE_KERNELS 1
#include <immintrin.h>
#endif

namespace rastova::detail {

#ifdef RASTOVA_SHUFFLE_KERNELS

namespace {

bool HasShuffles()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

__attribute__((target("ssse3"))) inline void StoreTwelve(std::uint8_t* to, __m128i pixels)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), pixels);
    const std::uint32_t last = std::uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(pixels, 8)));
    std::memcpy(to + 8, &last, 4);
}

// Four 3-byte pixels from p, one a lane.
__attribute__((target("ssse3"))) inline __m128i LoadPixels(const std::uint8_t* p, __m128i spread)
{
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), spread);
}

__attribute__((target("ssse3"))) inline __m128i LoadFour(const std::uint8_t* p)
{
    std::int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

// Rows i..i+3 of the tile read, in each source row, four neighbouring pixels
// from this lowest one on; the target rows in the order of those pixels.
struct TGroup {
    std::ptrdiff_t base;
    std::uint8_t* out[4];
};

TGroup GroupOf(const TTransposeTile& t, int i, int bytes)
{
    TGroup g;
    g.base = t.sourceOffset + std::ptrdiff_t(bytes) * t.step * (t.step > 0 ? i : i + 3);
    for (int j = 0; j < 4; ++j)
        g.out[j] = t.targets[i + (t.step > 0 ? j : 3 - j)] + t.targetOffset;
    return g;
}

// Four source rows of four pixels each, widened to one pixel a lane, then the
// 4 x 4 lanes transposed: lane set j holds target row j's four pixels.
__attribute__((target("ssse3"))) int BgrKernel(const TTransposeTile& t)
{
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const int groups = t.targetCount / 4 * 4;
    const int whole = t.count / 4 * 4;
    for (int i = 0; i < groups; i += 4) {
        const TGroup g = GroupOf(t, i, 3);
        int k = 0;
        for (; k < whole; k += 4) {
            const std::uint8_t* const* rows = t.sourceRows + k;
            const __m128i a0 = LoadPixels(rows[0] + g.base, spread), a1 = LoadPixels(rows[1] + g.base, spread);
            const __m128i a2 = LoadPixels(rows[2] + g.base, spread), a3 = LoadPixels(rows[3] + g.base, spread);
            const __m128i t0 = _mm_unpacklo_epi32(a0, a1), t1 = _mm_unpacklo_epi32(a2, a3);
            const __m128i t2 = _mm_unpackhi_epi32(a0, a1), t3 = _mm_unpackhi_epi32(a2, a3);
            StoreTwelve(g.out[0] + 3 * k, _mm_shuffle_epi8(_mm_unpacklo_epi64(t0, t1), pack));
            StoreTwelve(g.out[1] + 3 * k, _mm_shuffle_epi8(_mm_unpackhi_epi64(t0, t1), pack));
            StoreTwelve(g.out[2] + 3 * k, _mm_shuffle_epi8(_mm_unpacklo_epi64(t2, t3), pack));
            StoreTwelve(g.out[3] + 3 * k, _mm_shuffle_epi8(_mm_unpackhi_epi64(t2, t3), pack));
        }
        for (; k < t.count; ++k)
            for (int j = 0; j < 4; ++j)
                std::memcpy(g.out[j] + 3 * k, t.sourceRows[k] + g.base + 3 * j, 3);
    }
    return groups;
}

// Four gray values from each of four source rows interleaved into a 4 x 4
// transpose, then each target row's four values spread to blue, green, red.
__attribute__((target("ssse3"))) int GrayKernel(const TTransposeTile& t)
{
    const __m128i triple[4] = {
        _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, -1, -1, -1, -1),
        _mm_setr_epi8(4, 4, 4, 5, 5, 5, 6, 6, 6, 7, 7, 7, -1, -1, -1, -1),
        _mm_setr_epi8(8, 8, 8, 9, 9, 9, 10, 10, 10, 11, 11, 11, -1, -1, -1, -1),
        _mm_setr_epi8(12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15, -1, -1, -1, -1),
    };
    const int groups = t.targetCount / 4 * 4;
    const int whole = t.count / 4 * 4;
    for (int i = 0; i < groups; i += 4) {
        const TGroup g = GroupOf(t, i, 1);
        int k = 0;
        for (; k < whole; k += 4) {
            const std::uint8_t* const* rows = t.sourceRows + k;
            const __m128i values =
                _mm_unpacklo_epi16(_mm_unpacklo_epi8(LoadFour(rows[0] + g.base), LoadFour(rows[1] + g.base)),
                                   _mm_unpacklo_epi8(LoadFour(rows[2] + g.base), LoadFour(rows[3] + g.base)));
            for (int j = 0; j < 4; ++j)
                StoreTwelve(g.out[j] + 3 * k, _mm_shuffle_epi8(values, triple[j]));
        }
        for (; k < t.count; ++k)
            for (int j = 0; j < 4; ++j)
                std::memset(g.out[j] + 3 * k, t.sourceRows[k][g.base + j], 3);
    }
    return groups;
}

// ---- half turns ----------------------------------------------------------------------------

// Sixteen target pixels (48 bytes) as three 16-byte stores; streamed stores
// need the 16-byte alignment the caller's head loop gives them.
__attribute__((target("ssse3"))) inline void StoreFortyEight(std::uint8_t* to, __m128i a, __m128i b, __m128i c,
                                                               bool stream)
{
    __m128i* out = reinterpret_cast<__m128i*>(to);
    if (stream) {
        _mm_stream_si128(out, a);
        _mm_stream_si128(out + 1, b);
        _mm_stream_si128(out + 2, c);
    } else {
        _mm_storeu_si128(out, a);
        _mm_storeu_si128(out + 1, b);
        _mm_storeu_si128(out + 2, c);
    }
}

// Pixels one by one until the target is 16-byte aligned and at least minimum are done.
template <class TPixel>
int HeadPixels(std::uint8_t* to, int count, int minimum, TPixel pixel)
{
    int i = 0;
    while (i < count && (i < minimum || (reinterpret_cast<std::uintptr_t>(to + 3 * i) & 15) != 0))
        pixel(i++);
    return i;
}

__attribute__((target("ssse3"))) void ReverseBgrKernel(const std::uint8_t* last, int count, std::uint8_t* to,
                                                       bool stream)
{
    const auto pixel = [&](int i) { std::memcpy(to + 3 * i, last - 3 * i, 3); };
    // A vector load reads 4 bytes past its fourth pixel: two pixels first keep it in the row.
    int i = HeadPixels(to, count, 2, pixel);
    const __m128i reverse = _mm_setr_epi8(9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1, -1, -1, -1);
    for (; i + 16 <= count; i += 16) {
        const std::uint8_t* p = last - 3 * (i + 3);  // the lowest of target pixels i..i+3
        const __m128i a = LoadPixels(p, reverse), b = LoadPixels(p - 12, reverse), c = LoadPixels(p - 24, reverse),
                      d = LoadPixels(p - 36, reverse);
        StoreFortyEight(to + 3 * i, _mm_or_si128(a, _mm_slli_si128(b, 12)),
                        _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)),
                        _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)), stream);
    }
    for (; i < count; ++i)
        pixel(i);
    if (stream)
        _mm_sfence();
}

__attribute__((target("ssse3"))) void ReverseGrayKernel(const std::uint8_t* last, int count, std::uint8_t* to,
                                                        bool stream)
{
    const auto pixel = [&](int i) { std::memset(to + 3 * i, last[-i], 3); };
    int i = HeadPixels(to, count, 0, pixel);
    const __m128i spread0 = _mm_setr_epi8(15, 15, 15, 14, 14, 14, 13, 13, 13, 12, 12, 12, 11, 11, 11, 10);
    const __m128i spread1 = _mm_setr_epi8(10, 10, 9, 9, 9, 8, 8, 8, 7, 7, 7, 6, 6, 6, 5, 5);
    const __m128i spread2 = _mm_setr_epi8(5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 1, 1, 1, 0, 0, 0);
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(last - i - 15));
        StoreFortyEight(to + 3 * i, _mm_shuffle_epi8(v, spread0), _mm_shuffle_epi8(v, spread1),
                        _mm_shuffle_epi8(v, spread2), stream);
    }
    for (; i < count; ++i)
        pixel(i);
    if (stream)
        _mm_sfence();
}

}  // namespace

int TransposeBgrTile(const TTransposeTile& tile)
{
    return HasShuffles() ? BgrKernel(tile) : 0;
}

int TransposeGrayTile(const TTransposeTile& tile)
{
    return HasShuffles() ? GrayKernel(tile) : 0;
}

bool ReverseBgrRow(const std::uint8_t* last, int count, std::uint8_t* to, bool stream)
{
    if (!HasShuffles())
        return false;
    ReverseBgrKernel(last, count, to, stream);
    return true;
}

bool ReverseGrayRow(const std::uint8_t* last, int count, std::uint8_t* to, bool stream)
{
    if (!HasShuffles())
        return false;
    ReverseGrayKernel(last, count, to, stream);
    return true;
}

#else

int TransposeBgrTile(const TTransposeTile&)
{
    return 0;
}

int TransposeGrayTile(const TTransposeTile&)
{
    return 0;
}

bool ReverseBgrRow(const std::uint8_t*, int, std::uint8_t*, bool)
{
    return false;
}

bool ReverseGrayRow(const std::uint8_t*, int, std::uint8_t*, bool)
{
    return false;
}

#endif

}  // namespace rastova::detail
