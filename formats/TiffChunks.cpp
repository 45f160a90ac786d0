// The general strip and tile path of the TIFF reader: decoding a chunk,
// undoing its predictor, and placing its samples scaled to 8 bits.
#include "formats/TiffChunks.h"

#include "formats/TiffDecode.h"
#include "formats/TiffJpeg.h"
#include "image/PGExceptions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace rastova::tiff {

namespace {

[[noreturn]] void FailShort()
{
    throw EPGTIFFileFormatReader("TIFF: a strip or tile holds less data than its pixels need");
}

void DecodePackBits(const std::vector<std::uint8_t>& in, std::uint8_t* out, std::size_t size)
{
    std::size_t i = 0, o = 0;
    while (o < size) {
        if (i >= in.size())
            FailShort();
        const int h = std::int8_t(in[i++]);
        if (h >= 0) {
            const std::size_t n = std::size_t(h) + 1;
            if (i + n > in.size() || o + n > size)
                FailShort();
            std::memcpy(out + o, in.data() + i, n);
            i += n;
            o += n;
        } else if (h != -128) {
            const std::size_t n = std::size_t(1 - h);
            if (i >= in.size() || o + n > size)
                FailShort();
            std::memset(out + o, in[i++], n);
            o += n;
        }
    }
}

// The chunk's bytes as the compression leaves them, size of them.
void Decompress(const TChunkLayout& layout, const TChunkCoding& coding, const std::vector<std::uint8_t>& in,
                int rows, std::uint8_t* out, std::size_t size)
{
    switch (coding.compression) {
    case kCompressionNone:
        if (in.size() < size)
            FailShort();
        std::memcpy(out, in.data(), size);
        return;
    case kCompressionPackBits: DecodePackBits(in, out, size); return;
    case kCompressionLZW:
    case kCompressionDeflate:
    case kCompressionDeflateOld: {
        std::unique_ptr<TStripDecoder> decoder;
        if (coding.compression == kCompressionLZW)
            decoder = std::make_unique<TLzwDecoder>(in.data(), in.size());
        else
            decoder = std::make_unique<TInflateDecoder>(in.data(), in.size());
        if (decoder->Read(out, size) != size)
            FailShort();
        return;
    }
    case kCompressionCCITT1D:
    case kCompressionGroup3:
    case kCompressionGroup4:
        DecodeFax(in.data(), in.size(), coding.fax, layout.chunkWidth, rows, out,
                  std::size_t(layout.ChunkRowBytes()));
        return;
    case kCompressionNewJPEG: {
        const TJpegChunk chunk{coding.jpegTables, coding.photometric, layout.planar ? 1 : layout.samples,
                               layout.chunkWidth, layout.chunkLength, layout.chunkBgr};
        DecodeJpegChunk(chunk, in.data(), in.size(), out);
        return;
    }
    default: throw EPGTIFFileFormatReader("TIFF: Unsupported compression " + std::to_string(coding.compression));
    }
}

// ---- samples ---------------------------------------------------------------------------

float HalfToFloat(unsigned h)
{
    const int exponent = int(h >> 10 & 0x1F);
    const float mantissa = float(h & 0x3FF);
    float value = 0;
    if (exponent == 0)
        value = std::ldexp(mantissa, -24);
    else if (exponent == 31)
        value = mantissa != 0 ? 0.0f : 1e30f;  // NaN shows as black, infinity as full
    else
        value = std::ldexp(mantissa + 1024.0f, exponent - 25);
    return (h & 0x8000) ? -value : value;
}

std::uint8_t FromUnit(double value)
{
    if (!(value > 0))
        return 0;  // negative and NaN
    return value >= 1 ? 255 : std::uint8_t(value * 255.0 + 0.5);
}

// Sample i of a row, bits wide: 8-bit multiples in the file's byte order,
// other depths as one bit string, highest bit first.
std::uint64_t RawSample(const std::uint8_t* row, std::size_t i, int bits, bool motorola)
{
    if (bits % 8 == 0) {
        const int bytes = bits / 8;
        const std::uint8_t* p = row + i * std::size_t(bytes);
        std::uint64_t v = 0;
        for (int k = 0; k < bytes; ++k)
            v = v << 8 | p[motorola ? k : bytes - 1 - k];
        return v;
    }
    const std::size_t bit = i * std::size_t(bits);
    std::uint64_t v = 0;
    for (std::size_t b = bit; b < bit + std::size_t(bits); ++b)
        v = v << 1 | ((row[b >> 3] >> (7 - (b & 7))) & 1);
    return v;
}

std::uint8_t ToEight(const TChunkLayout& layout, std::uint64_t v)
{
    if (layout.sampleFormat == kSampleFloat) {
        if (layout.bits == 16)
            return FromUnit(HalfToFloat(unsigned(v)));
        if (layout.bits == 32) {
            float f;
            const std::uint32_t u = std::uint32_t(v);
            std::memcpy(&f, &u, 4);
            return FromUnit(f);
        }
        double d;
        std::memcpy(&d, &v, 8);
        return FromUnit(d);
    }
    if (!layout.scale || layout.bits == 8)
        return std::uint8_t(v);
    const std::uint64_t max = (std::uint64_t(1) << layout.bits) - 1;
    return std::uint8_t((v * 255 + max / 2) / max);
}

// ---- predictors ------------------------------------------------------------------------

void UndoHorizontal32(std::uint8_t* row, std::size_t values, int stride, bool motorola)
{
    for (std::size_t i = std::size_t(stride); i < values; ++i) {
        std::uint8_t* p = row + 4 * i;
        const std::uint32_t sum =
            std::uint32_t(RawSample(row, i, 32, motorola) + RawSample(row, i - std::size_t(stride), 32, motorola));
        for (int k = 0; k < 4; ++k)
            p[motorola ? k : 3 - k] = std::uint8_t(sum >> (24 - 8 * k));
    }
}

// Floating-point predictor: bytes differenced across the row, then the
// samples' bytes gathered from byte planes, most significant plane first.
void UndoFloatPredictor(std::uint8_t* row, std::size_t values, int stride, int bytes, bool motorola,
                        std::vector<std::uint8_t>& work)
{
    const std::size_t count = values * std::size_t(bytes);
    for (std::size_t i = std::size_t(stride); i < count; ++i)
        row[i] = std::uint8_t(row[i] + row[i - std::size_t(stride)]);
    work.assign(row, row + count);
    for (std::size_t v = 0; v < values; ++v)
        for (int k = 0; k < bytes; ++k)
            row[v * std::size_t(bytes) + std::size_t(motorola ? k : bytes - 1 - k)] = work[std::size_t(k) * values + v];
}

void UndoPredictor(const TChunkLayout& layout, std::uint8_t* row, std::vector<std::uint8_t>& work)
{
    const int stride = layout.planar ? 1 : layout.samples;
    const std::size_t pixels = std::size_t(layout.chunkWidth);
    if (layout.predictor == kPredictorFloat) {
        UndoFloatPredictor(row, pixels * std::size_t(stride), stride, layout.bits / 8, layout.motorola, work);
        return;
    }
    if (layout.bits == 32)
        UndoHorizontal32(row, pixels * std::size_t(stride), stride, layout.motorola);
    else
        UndoHorizontalPredictor(row, pixels, stride, layout.bits, layout.motorola);
}

void PlacePacked(const TChunkLayout& layout, const std::uint8_t* src, std::uint8_t* dst, int x0, int w)
{
    const std::int64_t firstBit = std::int64_t(x0) * layout.bits;
    const std::int64_t bitCount = std::int64_t(w) * layout.bits;
    if (firstBit % 8 == 0) {
        std::memcpy(dst + firstBit / 8, src, std::size_t((bitCount + 7) / 8));
        return;
    }
    for (std::int64_t b = 0; b < bitCount; ++b) {
        const std::int64_t to = firstBit + b;
        const int bit = (src[b >> 3] >> (7 - (b & 7))) & 1;
        std::uint8_t& byte = dst[to >> 3];
        const std::uint8_t mask = std::uint8_t(0x80 >> (to & 7));
        byte = std::uint8_t(bit ? byte | mask : byte & ~mask);
    }
}

// The common rows of 8-bit samples in one pass: chunky rows that keep every
// sample are copied (or reordered to blue, green, red). False for the others.
bool PlaceEightBitRow(const TChunkLayout& layout, const std::uint8_t* src, std::uint8_t* out, int w)
{
    if (layout.bits != 8 || layout.sampleFormat == kSampleFloat || layout.planar || layout.keep != layout.samples)
        return false;
    if (!layout.bgr || layout.chunkBgr) {
        std::memcpy(out, src, std::size_t(w) * std::size_t(layout.keep));
        return true;
    }
    for (int x = 0; x < w; ++x, src += 3, out += 3) {
        out[0] = src[2];
        out[1] = src[1];
        out[2] = src[0];
    }
    return true;
}

}  // namespace

void DecodeChunk(const TChunkLayout& layout, const TChunkCoding& coding, int rows, std::vector<std::uint8_t>& bytes,
                 std::vector<std::uint8_t>& out)
{
    // The last strip holds only the rows left; JPEG streams say their own size.
    const bool jpeg = coding.compression == kCompressionNewJPEG;
    const std::size_t size = jpeg ? std::size_t(layout.ChunkBytes()) : std::size_t(layout.ChunkRowBytes()) * std::size_t(rows);
    if (coding.compression == kCompressionNone && coding.photometric != kPhotometricYCbCr && bytes.size() >= size) {
        out.swap(bytes);
        out.resize(std::size_t(layout.ChunkBytes()));
        return;
    }
    out.resize(std::size_t(layout.ChunkBytes()));
    // libjpeg converts YCbCr itself.
    if (coding.photometric != kPhotometricYCbCr || jpeg) {
        Decompress(layout, coding, bytes, rows, out.data(), size);
        return;
    }
    const int h = coding.subsampleH, v = coding.subsampleV;
    std::vector<std::uint8_t> ycbcr(std::size_t(YCbCrChunkBytes(layout.chunkWidth, rows, h, v)));
    Decompress(layout, coding, bytes, rows, ycbcr.data(), ycbcr.size());
    YCbCrToRgb(ycbcr.data(), layout.chunkWidth, rows, h, v, out.data());
}

void PlaceChunk(const TChunkLayout& layout, std::int64_t index, std::uint8_t* chunk, std::uint8_t* const* rows)
{
    const std::int64_t perPlane = std::int64_t(layout.ChunksAcross()) * layout.ChunksDown();
    const int plane = int(index / perPlane);
    const std::int64_t within = index % perPlane;
    const int x0 = int(within % layout.ChunksAcross()) * layout.chunkWidth;
    const int y0 = int(within / layout.ChunksAcross()) * layout.chunkLength;
    const int w = std::min(layout.chunkWidth, layout.width - x0);
    const int h = std::min(layout.chunkLength, layout.length - y0);
    const int stride = layout.planar ? 1 : layout.samples;
    // Planar chunks of samples the image does not keep (extra samples) are passed over.
    const int samples = layout.planar ? (plane < layout.keep ? 1 : 0) : std::min(layout.keep, layout.samples);
    std::vector<std::uint8_t> work;
    for (int r = 0; r < h && samples > 0; ++r) {
        std::uint8_t* src = chunk + std::size_t(r * layout.ChunkRowBytes());
        if (layout.predictor != kPredictorNone)
            UndoPredictor(layout, src, work);
        std::uint8_t* dst = rows[y0 + r];
        if (layout.packed) {
            PlacePacked(layout, src, dst, x0, w);
            continue;
        }
        if (PlaceEightBitRow(layout, src, dst + std::size_t(x0) * std::size_t(layout.keep), w))
            continue;
        for (int s = 0; s < samples; ++s) {
            const int target = layout.planar ? plane : s;
            std::uint8_t* out = dst + std::size_t(x0) * std::size_t(layout.keep) +
                                std::size_t(layout.bgr ? 2 - target : target);
            if (layout.bits == 8 && layout.sampleFormat != kSampleFloat) {
                for (int x = 0; x < w; ++x)
                    out[std::size_t(x) * std::size_t(layout.keep)] = src[std::size_t(x) * std::size_t(stride) + std::size_t(s)];
                continue;
            }
            for (int x = 0; x < w; ++x)
                out[std::size_t(x) * std::size_t(layout.keep)] = ToEight(
                    layout, RawSample(src, std::size_t(x) * std::size_t(stride) + std::size_t(s), layout.bits, layout.motorola));
        }
    }
}

std::int64_t YCbCrChunkBytes(int chunkWidth, int chunkLength, int h, int v)
{
    const std::int64_t across = (std::int64_t(chunkWidth) + h - 1) / h;
    const std::int64_t down = (std::int64_t(chunkLength) + v - 1) / v;
    return across * down * (h * v + 2);
}

void YCbCrToRgb(const std::uint8_t* in, int chunkWidth, int chunkLength, int h, int v, std::uint8_t* rgb)
{
    const int across = (chunkWidth + h - 1) / h;
    const int down = (chunkLength + v - 1) / v;
    const auto clamp = [](int value) { return std::uint8_t(std::clamp(value, 0, 255)); };
    for (int by = 0; by < down; ++by)
        for (int bx = 0; bx < across; ++bx) {
            const std::uint8_t* block = in + (std::size_t(by) * std::size_t(across) + std::size_t(bx)) * std::size_t(h * v + 2);
            const int cb = block[h * v] - 128, cr = block[h * v + 1] - 128;
            // ITU-R BT.601 in 16.16 fixed point.
            const int dr = (91881 * cr + 32768) >> 16;
            const int dg = (-22554 * cb - 46802 * cr + 32768) >> 16;
            const int db = (116130 * cb + 32768) >> 16;
            for (int j = 0; j < v; ++j)
                for (int i = 0; i < h; ++i) {
                    const int x = bx * h + i, y = by * v + j;
                    if (x >= chunkWidth || y >= chunkLength)
                        continue;
                    const int luma = block[j * h + i];
                    std::uint8_t* p = rgb + (std::size_t(y) * std::size_t(chunkWidth) + std::size_t(x)) * 3;
                    p[0] = clamp(luma + dr);
                    p[1] = clamp(luma + dg);
                    p[2] = clamp(luma + db);
                }
        }
}

}  // namespace rastova::tiff
