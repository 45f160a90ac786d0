// TIFF writer: one IFD of 13 to 15 entries in ascending tag order, the values
// that do not fit an entry, then the strips, each on an even offset.
#include "formats/Tiff.h"
#include "formats/TiffEncode.h"
#include "formats/TiffTags.h"

#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/Streams.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace rastova {

using namespace tiff;

namespace {

const char* const kTag = "TIFF: ";
constexpr int kMaxStripBuffer = 32767;  // strips fit a reader's small buffer

[[noreturn]] void Fail(const std::string& text)
{
    throw EPGTIFFileFormatWriter(kTag + text);
}

// 16- and 32-bit values in the chosen byte order.
class TTiffSink {
public:
    TTiffSink(TStream& stream, bool motorola) : m_stream(stream), m_motorola(motorola) {}

    void U16(std::uint32_t v)
    {
        const std::uint8_t b[2] = {std::uint8_t(v), std::uint8_t(v >> 8)};
        const std::uint8_t m[2] = {b[1], b[0]};
        m_stream.WriteBuffer(m_motorola ? m : b, 2);
    }

    void U32(std::uint32_t v)
    {
        const std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
        const std::uint8_t m[4] = {b[3], b[2], b[1], b[0]};
        m_stream.WriteBuffer(m_motorola ? m : b, 4);
    }

    void U32At(std::int64_t position, std::uint32_t v)
    {
        m_stream.SetPosition(position);
        U32(v);
    }

    void Zeros(std::int64_t count)
    {
        static const std::uint8_t kZeros[64] = {};
        for (; count > 0; count -= 64)
            m_stream.WriteBuffer(kZeros, std::min<std::int64_t>(count, 64));
    }

    TStream& Stream() { return m_stream; }

private:
    TStream& m_stream;
    bool m_motorola;
};

// What the image becomes in the file.
struct TTiffLayout {
    int width = 0;
    int height = 0;
    int compression = kCompressionNone;
    int predictor = kPredictorNone;
    int bitsPerSample = 0;
    int samplesPerPixel = 1;
    int photometric = kPhotometricBlackIsZero;
    bool invert = false;      // WhiteIsZero values
    bool cmyk = false;
    bool alpha = false;       // a fourth, unassociated alpha sample
    int colorMapEntries = 0;  // 2^bits for palette images, else 0
    std::int64_t rowSize = 0;
    int rowsPerStrip = 0;
    int strips = 0;
};

// Refused before anything reaches the stream.
void CheckWritable(const TPixelGraphic& graphic)
{
    if (graphic.Width() < 1 || graphic.Height() < 1 || graphic.GetEmpty())
        Fail(MessageText(kMsgWidthOrHeightZero));
    const int compression = Settings().TIFFWriteCompression;
    if (compression != kCompressionNone && compression != kCompressionPackBits && compression != kCompressionLZW &&
        compression != kCompressionDeflate)
        Fail("Internal Error");
}

TTiffLayout LayoutOf(const TPixelGraphic& graphic)
{
    TTiffLayout l;
    l.width = graphic.Width();
    l.height = graphic.Height();
    l.compression = Settings().TIFFWriteCompression;
    const TPaletteIdent ident = graphic.PaletteIdent();
    const int grayPhotometric = Settings().TIFFWriteWhiteIsZero ? kPhotometricWhiteIsZero : kPhotometricBlackIsZero;
    switch (graphic.BitCount()) {
    case bc1:
        l.bitsPerSample = 1;
        l.photometric = grayPhotometric;
        l.invert = Settings().TIFFWriteWhiteIsZero && ident == pBlackWhite;
        l.rowSize = (std::int64_t(l.width) + 7) / 8;
        break;
    case bc4:
    case bc8: {
        const bool four = graphic.BitCount() == bc4;
        l.bitsPerSample = four ? 4 : 8;
        if (ident == (four ? pGray16 : pGray256)) {
            l.photometric = grayPhotometric;
            l.invert = Settings().TIFFWriteWhiteIsZero;
        } else {
            l.photometric = kPhotometricPalette;
            l.colorMapEntries = four ? 16 : 256;
        }
        l.rowSize = four ? (std::int64_t(l.width) + 1) / 2 : l.width;
        break;
    }
    case bc24:
        l.bitsPerSample = 8;
        l.cmyk = Settings().TIFFWriteCMYK;
        l.samplesPerPixel = l.cmyk ? 4 : 3;
        l.photometric = l.cmyk ? kPhotometricCMYK : kPhotometricRGB;
        l.rowSize = std::int64_t(l.width) * l.samplesPerPixel;
        break;
    case bc32:
        // Alpha is kept as it is held, unassociated; CMYK has no room for it.
        l.bitsPerSample = 8;
        l.alpha = true;
        l.samplesPerPixel = 4;
        l.photometric = kPhotometricRGB;
        l.rowSize = std::int64_t(l.width) * 4;
        break;
    }
    // Differences of neighbouring samples compress better, except for palette
    // indices and samples narrower than a byte.
    const bool strips = l.compression == kCompressionLZW || l.compression == kCompressionDeflate;
    if (strips && l.bitsPerSample == 8 && l.photometric != kPhotometricPalette)
        l.predictor = kPredictorHorizontal;
    const std::int64_t buffer = l.compression == kCompressionPackBits ? 2 * l.rowSize : l.rowSize;
    l.rowsPerStrip = int(std::clamp<std::int64_t>(kMaxStripBuffer / buffer, 1, l.height));
    l.strips = int((std::int64_t(l.height) + l.rowsPerStrip - 1) / l.rowsPerStrip);
    return l;
}

// Positions of the entries whose value fields are filled in after the data.
struct TPendingEntries {
    std::int64_t countField = 0;
    std::int64_t bitsPerSample = -1;
    std::int64_t stripOffsets = 0;
    std::int64_t stripByteCounts = 0;
    std::int64_t xResolution = 0;
    std::int64_t yResolution = 0;
    std::int64_t colorMap = -1;
    int entryCount = 0;
};

TPendingEntries WriteEntries(TTiffSink& sink, const TTiffLayout& l)
{
    TStream& stream = sink.Stream();
    TPendingEntries pending;
    pending.countField = stream.Position();
    sink.U16(0);
    // Each entry returns its own position, so a value found later can be patched in.
    const auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        const std::int64_t position = stream.Position();
        sink.U16(tag);
        sink.U16(type);
        sink.U32(count);
        if (type == kTypeShort) {
            sink.U16(value);
            sink.U16(0);
        } else {
            sink.U32(value);
        }
        ++pending.entryCount;
        return position;
    };
    const bool bitsOutside = l.samplesPerPixel > 1;
    entry(kTagNewSubfileType, kTypeLong, 1, 0);
    entry(kTagImageWidth, kTypeLong, 1, std::uint32_t(l.width));
    entry(kTagImageLength, kTypeLong, 1, std::uint32_t(l.height));
    const std::int64_t bits =
        entry(kTagBitsPerSample, kTypeShort, std::uint32_t(l.samplesPerPixel), bitsOutside ? 0 : l.bitsPerSample);
    if (bitsOutside)
        pending.bitsPerSample = bits;
    entry(kTagCompression, kTypeShort, 1, std::uint32_t(l.compression));
    entry(kTagPhotometric, kTypeShort, 1, std::uint32_t(l.photometric));
    pending.stripOffsets = entry(kTagStripOffsets, kTypeLong, std::uint32_t(l.strips), 0);
    entry(kTagSamplesPerPixel, kTypeShort, 1, std::uint32_t(l.samplesPerPixel));
    entry(kTagRowsPerStrip, kTypeLong, 1, std::uint32_t(l.rowsPerStrip));
    pending.stripByteCounts = entry(kTagStripByteCounts, kTypeLong, std::uint32_t(l.strips), 0);
    pending.xResolution = entry(kTagXResolution, kTypeRational, 1, 0);
    pending.yResolution = entry(kTagYResolution, kTypeRational, 1, 0);
    entry(kTagResolutionUnit, kTypeShort, 1, std::uint32_t(Settings().TIFFWriteResolutionUnit + 1));
    if (l.predictor != kPredictorNone)
        entry(kTagPredictor, kTypeShort, 1, std::uint32_t(l.predictor));
    if (l.colorMapEntries > 0)
        pending.colorMap = entry(kTagColorMap, kTypeShort, std::uint32_t(3 * l.colorMapEntries), 0);
    if (l.alpha)
        entry(kTagExtraSamples, kTypeShort, 1, kExtraUnassociatedAlpha);
    return pending;
}

// Where the values that live outside the entries were put.
struct TValueOffsets {
    std::int64_t colorMap = 0;
    std::int64_t bitsPerSample = 0;
    std::int64_t xResolution = 0;
    std::int64_t yResolution = 0;
    std::int64_t stripOffsets = 0;
    std::int64_t stripByteCounts = 0;
};

TValueOffsets WriteValues(TTiffSink& sink, const TTiffLayout& l, const TPixelGraphic& graphic, std::int64_t base)
{
    TStream& stream = sink.Stream();
    TValueOffsets at;
    if (l.colorMapEntries > 0) {
        at.colorMap = stream.Position() - base;
        static constexpr int kShift[3] = {0, 8, 16};  // red, green, blue of a TRGB
        for (const int shift : kShift)
            for (int i = 0; i < l.colorMapEntries; ++i)
                sink.U16(i < graphic.PaletteCount() ? ((graphic.PaletteColors()[i] >> shift) & 0xFF) * 256 : 0);
    }
    if (l.samplesPerPixel > 1) {
        at.bitsPerSample = stream.Position() - base;
        for (int i = 0; i < l.samplesPerPixel; ++i)
            sink.U16(std::uint32_t(l.bitsPerSample));
    }
    at.xResolution = stream.Position() - base;
    sink.U32(Settings().TIFFWriteXResNum);
    sink.U32(Settings().TIFFWriteXResDen);
    at.yResolution = stream.Position() - base;
    sink.U32(Settings().TIFFWriteYResNum);
    sink.U32(Settings().TIFFWriteYResDen);
    if (l.strips > 1) {
        at.stripOffsets = stream.Position() - base;
        sink.Zeros(4 * std::int64_t(l.strips));
        at.stripByteCounts = stream.Position() - base;
        sink.Zeros(4 * std::int64_t(l.strips));
    }
    return at;
}

// One file row of image row y in row (cleared bytes beyond the pixels).
void FillRow(const TTiffLayout& l, const TPixelGraphic& graphic, int y, std::uint8_t* row)
{
    const std::uint8_t* line = graphic.ScanLine(y);
    const std::size_t bytes = std::size_t(l.rowSize);
    switch (graphic.BitCount()) {
    case bc1:
    case bc4: {
        std::memcpy(row, line, bytes);
        // 1 - v and 15 - v are the complements of the whole byte.
        if (l.invert)
            for (std::size_t i = 0; i < bytes; ++i)
                row[i] = std::uint8_t(~row[i]);
        const int used = int((std::int64_t(l.width) * l.bitsPerSample) % 8);
        if (used != 0)
            row[bytes - 1] &= std::uint8_t(0xFF << (8 - used));
        break;
    }
    case bc8:
        std::memcpy(row, line, bytes);
        if (l.invert)
            for (std::size_t i = 0; i < bytes; ++i)
                row[i] = std::uint8_t(~row[i]);
        break;
    case bc24:
        if (!l.cmyk) {
            // Copied and turned from blue, green, red into red, green, blue in one pass.
            for (std::size_t i = 0; i < bytes; i += 3) {
                const std::uint8_t blue = line[i];
                row[i] = line[i + 2];
                row[i + 1] = line[i + 1];
                row[i + 2] = blue;
            }
        } else {
            // The inverse of the reader's (1 - C)(1 - K): black takes what the
            // brightest channel leaves, each ink the rest, rounded so that the
            // reader gives the colour back exactly.
            for (int x = 0; x < l.width; ++x) {
                const std::uint8_t* s = line + 3 * std::size_t(x);  // blue, green, red
                const int brightest = std::max({s[0], s[1], s[2]});
                const auto ink = [brightest](int v) {
                    return brightest == 0 ? 0 : 255 - (v * 255 + brightest / 2) / brightest;
                };
                std::uint8_t* d = row + 4 * std::size_t(x);
                d[0] = std::uint8_t(ink(s[2]));
                d[1] = std::uint8_t(ink(s[1]));
                d[2] = std::uint8_t(ink(s[0]));
                d[3] = std::uint8_t(255 - brightest);
            }
        }
        break;
    case bc32:
        for (std::size_t i = 0; i < bytes; i += 4) {
            row[i] = line[i + 2];
            row[i + 1] = line[i + 1];
            row[i + 2] = line[i];
            row[i + 3] = line[i + 3];
        }
        break;
    }
}

struct TStripTables {
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> byteCounts;
};

// LZW and Deflate code whole strips: rows gather until their strip is complete.
class TStripCoder {
public:
    explicit TStripCoder(const TTiffLayout& l) : m_layout(l) {}
    bool Active() const { return m_layout.compression == kCompressionLZW || m_layout.compression == kCompressionDeflate; }
    void AddRow(std::uint8_t* row)
    {
        const std::size_t bytes = std::size_t(m_layout.rowSize);
        if (m_layout.predictor == kPredictorHorizontal)
            ApplyHorizontalPredictor(row, bytes, m_layout.samplesPerPixel);
        m_strip.insert(m_strip.end(), row, row + bytes);
    }
    // The coded strip; the gathered rows are dropped.
    std::vector<std::uint8_t> Finish()
    {
        std::vector<std::uint8_t> coded = m_layout.compression == kCompressionLZW
                                              ? LzwEncode(m_strip.data(), m_strip.size())
                                              : DeflateEncode(m_strip.data(), m_strip.size(), Settings().TIFFWriteDeflateLevel);
        m_strip.clear();
        return coded;
    }

private:
    const TTiffLayout& m_layout;
    std::vector<std::uint8_t> m_strip;
};

// One row to the stream as the compression wants it; returns the bytes written.
std::int64_t WriteRow(TStream& stream, const TTiffLayout& l, std::uint8_t* row, TStripCoder& coder,
                      std::vector<std::int32_t>& runs, std::vector<std::uint8_t>& packed, bool stripEnds)
{
    const std::size_t rowSize = std::size_t(l.rowSize);
    if (coder.Active()) {
        coder.AddRow(row);
        if (!stripEnds)
            return 0;
        const std::vector<std::uint8_t> coded = coder.Finish();
        stream.WriteBuffer(coded.data(), std::int64_t(coded.size()));
        return std::int64_t(coded.size());
    }
    if (l.compression == kCompressionPackBits) {
        const std::size_t n = PackBitsEncodeRow(row, rowSize, runs.data(), packed.data());
        stream.WriteBuffer(packed.data(), std::int64_t(n));
        return std::int64_t(n);
    }
    stream.WriteBuffer(row, std::int64_t(rowSize));
    return std::int64_t(rowSize);
}

// The strips from the current position on; returns their offsets and sizes.
TStripTables WriteStrips(TStream& stream, const TTiffLayout& l, TPixelGraphic& graphic, std::int64_t base,
                         TObject* sender)
{
    TStripTables tables;
    tables.offsets.assign(std::size_t(l.strips), 0);
    tables.byteCounts.assign(std::size_t(l.strips), 0);
    const bool packBits = l.compression == kCompressionPackBits;
    const std::size_t rowSize = std::size_t(l.rowSize);
    std::vector<std::uint8_t> row(rowSize);
    std::vector<std::int32_t> runs(packBits ? rowSize : 0);
    std::vector<std::uint8_t> packed(packBits ? 2 * rowSize : 0);
    TStripCoder coder(l);
    std::int64_t position = stream.Position() - base;

    TProgressScope progress(graphic, sender);
    for (int y = 0; y < l.height; ++y) {
        const std::size_t strip = std::size_t(y / l.rowsPerStrip);
        if (y % l.rowsPerStrip == 0) {
            if (position % 2 != 0) {
                stream.WriteByte(0);
                ++position;
            }
            tables.offsets[strip] = std::uint32_t(position);
        }
        FillRow(l, graphic, y, row.data());
        const bool stripEnds = y % l.rowsPerStrip == l.rowsPerStrip - 1 || y == l.height - 1;
        position += WriteRow(stream, l, row.data(), coder, runs, packed, stripEnds);
        if (stripEnds)
            tables.byteCounts[strip] = std::uint32_t(position - tables.offsets[strip]);
        graphic.Progress(sender, y, l.height - 1);  // a writer finishes what it started
    }
    return tables;
}

}  // namespace

std::size_t tiff::PackBitsEncodeRow(const std::uint8_t* row, std::size_t n, std::int32_t* runs, std::uint8_t* out)
{
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && row[j] == row[i])
            ++j;
        std::fill(runs + i, runs + j, std::int32_t(std::min<std::size_t>(j - i, INT32_MAX)));
        i = j;
    }
    // Two equal bytes beside literal data go with the literal: a replicate packet
    // of two saves nothing and would split the literal into two packets.
    for (std::size_t p = 1; p < n; ++p)
        if (runs[p] == 2 && runs[p - 1] == 1)
            runs[p] = 1;
    for (std::size_t p = n > 1 ? n - 1 : 0; p-- > 0;)
        if (runs[p] == 2 && runs[p + 1] == 1)
            runs[p] = 1;

    std::size_t o = 0;
    for (std::size_t p = 0; p < n;) {
        std::size_t count = 1;
        if (runs[p] == 1) {
            while (count < std::size_t(kPackBitsMaxPacket) && p + count < n && runs[p + count] == 1)
                ++count;
            out[o++] = std::uint8_t(count - 1);
            std::memcpy(out + o, row + p, count);
            o += count;
        } else {
            while (count < std::size_t(kPackBitsMaxPacket) && p + count < n && row[p + count] == row[p])
                ++count;
            // A single byte left over from a long run is written as a literal of one.
            out[o++] = std::uint8_t(1 - int(count));
            out[o++] = row[p];
        }
        p += count;
    }
    return o;
}

TTIFFileFormatWriter::TTIFFileFormatWriter()
{
    Extension = "tif";
    Description = "Tagged Image File Format";
    CanWriteResolutions = TColorResolutions(0xFF & ~ResolutionBit(cr2Colors));
    CanWriteAlpha = true;
}

void TTIFFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
    CheckWritable(graphic);
    TFileState state;
    WriteHeader(stream, state);
    WriteImage(stream, graphic, state);
    WriteEnd(stream);
}

void TTIFFileFormatWriter::WriteHeader(TStream& stream, TFileState& state)
{
    state.motorola = Settings().TIFFWriteMotorola;
    state.basePosition = stream.Position();
    const std::uint8_t mark = state.motorola ? kMotorolaMark : kIntelMark;
    stream.WriteByte(mark);
    stream.WriteByte(mark);
    TTiffSink sink(stream, state.motorola);
    sink.U16(kMagic);
    state.linkPosition = stream.Position();
    sink.U32(0);
}

void TTIFFileFormatWriter::WriteImage(TStream& stream, TPixelGraphic& graphic, TFileState& state)
{
    CheckWritable(graphic);
    const TTiffLayout layout = LayoutOf(graphic);
    TTiffSink sink(stream, state.motorola);
    const std::int64_t base = state.basePosition;

    // An IFD begins on a word boundary; only a chained image can find the stream odd.
    std::int64_t ifd = stream.Position();
    if ((ifd - base) % 2 != 0) {
        stream.WriteByte(0);
        ++ifd;
    }
    sink.U32At(state.linkPosition, std::uint32_t(ifd - base));
    stream.SetPosition(ifd);

    const TPendingEntries pending = WriteEntries(sink, layout);
    state.linkPosition = stream.Position();
    sink.U32(0);
    const TValueOffsets at = WriteValues(sink, layout, graphic, base);

    const std::int64_t dataStart = stream.Position();
    stream.SetPosition(pending.countField);
    sink.U16(std::uint32_t(pending.entryCount));
    if (pending.bitsPerSample >= 0)
        sink.U32At(pending.bitsPerSample + 8, std::uint32_t(at.bitsPerSample));
    sink.U32At(pending.xResolution + 8, std::uint32_t(at.xResolution));
    sink.U32At(pending.yResolution + 8, std::uint32_t(at.yResolution));
    if (pending.colorMap >= 0)
        sink.U32At(pending.colorMap + 8, std::uint32_t(at.colorMap));
    stream.SetPosition(dataStart);

    const TStripTables tables = WriteStrips(stream, layout, graphic, base, this);

    const std::int64_t end = stream.Position();
    if (layout.strips == 1) {
        sink.U32At(pending.stripOffsets + 8, tables.offsets[0]);
        sink.U32At(pending.stripByteCounts + 8, tables.byteCounts[0]);
    } else {
        stream.SetPosition(base + at.stripOffsets);
        for (const std::uint32_t v : tables.offsets)
            sink.U32(v);
        sink.U32At(pending.stripOffsets + 8, std::uint32_t(at.stripOffsets));
        stream.SetPosition(base + at.stripByteCounts);
        for (const std::uint32_t v : tables.byteCounts)
            sink.U32(v);
        sink.U32At(pending.stripByteCounts + 8, std::uint32_t(at.stripByteCounts));
    }
    stream.SetPosition(end);
}

void TTIFFileFormatWriter::WriteTrailer(TStream&) {}

TTIFFFileFormatWriter::TTIFFFileFormatWriter()
{
    Extension = "tiff";
}

}  // namespace rastova
