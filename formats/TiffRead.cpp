// TIFF reader: header, IFD chain, directory checks, uncompressed, PackBits, LZW and Deflate
// strips, and the one-line file description.
#include "formats/Tiff.h"
#include "formats/TiffChunks.h"
#include "formats/TiffDecode.h"
#include "formats/TiffJpeg.h"
#include "formats/TiffTags.h"

#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/Streams.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <cstring>
#include <memory>
#include <unordered_set>
#include <vector>

namespace rastova {

using namespace tiff;

namespace {

const char* const kTag = "TIFF: ";
const char* const kWarningCaption = "TIFF-Warning";
constexpr int kWindowSize = 4096;  // PackBits input is fetched through a window this big

[[noreturn]] void Fail(const std::string& text)
{
    throw EPGTIFFileFormatReader(kTag + text);
}

// Everything that lies outside the stream is the stream's own read error, raised
// before any seek or copy so nothing stale or out of range is ever looked at.
[[noreturn]] void FailStreamRead()
{
    throw EReadError("Stream read error");
}

// The stream seen from the TIFF's base position, in the file's byte order.
class TTiffSource {
public:
    explicit TTiffSource(TStream& stream)
        : m_stream(stream), m_base(stream.Position()), m_size(stream.Size())
    {
    }

    void SetMotorola(bool motorola) { m_motorola = motorola; }
    bool Motorola() const { return m_motorola; }
    // BigTIFF: 8-byte offsets and counts, 20-byte entries.
    void SetBig(bool big) { m_big = big; }
    bool Big() const { return m_big; }

    // Bytes of the stream from the base-relative offset to its end (0 when past it).
    std::int64_t Available(std::int64_t offset) const
    {
        if (offset < 0 || offset >= m_size)
            return 0;
        const std::int64_t position = m_base + offset;
        return position >= 0 && position < m_size ? m_size - position : 0;
    }

    // Exactly count bytes from the base-relative offset, or the stream read error.
    void ReadAt(std::int64_t offset, void* buffer, std::int64_t count)
    {
        if (offset < 0 || count > Available(offset))
            FailStreamRead();
        m_stream.SetPosition(m_base + offset);
        m_stream.ReadBuffer(buffer, count);
    }

    // The next count bytes at the current position.
    void ReadNext(void* buffer, std::int64_t count) { m_stream.ReadBuffer(buffer, count); }

    std::uint16_t U16(const std::uint8_t* p) const
    {
        const std::uint16_t b0 = p[0];
        const std::uint16_t b1 = p[1];
        return m_motorola ? std::uint16_t(b0 << 8 | b1) : std::uint16_t(b1 << 8 | b0);
    }

    std::uint32_t U32(const std::uint8_t* p) const
    {
        const std::uint32_t lo = U16(p);
        const std::uint32_t hi = U16(p + 2);
        return m_motorola ? (lo << 16 | hi) : (hi << 16 | lo);
    }

    std::uint64_t U64(const std::uint8_t* p) const
    {
        const std::uint64_t lo = U32(p);
        const std::uint64_t hi = U32(p + 4);
        return m_motorola ? (lo << 32 | hi) : (hi << 32 | lo);
    }

    // An offset or count field: 4 bytes, 8 in BigTIFF.
    std::uint64_t Offset(const std::uint8_t* p) const { return m_big ? U64(p) : U32(p); }

    std::uint16_t ReadU16At(std::int64_t offset)
    {
        std::uint8_t bytes[2];
        ReadAt(offset, bytes, 2);
        return U16(bytes);
    }

    std::uint32_t ReadU32At(std::int64_t offset)
    {
        std::uint8_t bytes[4];
        ReadAt(offset, bytes, 4);
        return U32(bytes);
    }

    TStream& Stream() { return m_stream; }

private:
    TStream& m_stream;
    std::int64_t m_base;
    std::int64_t m_size;
    bool m_motorola = false;
    bool m_big = false;
};

struct TTiffEntry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint64_t count;
    std::uint8_t value[8];  // 4 bytes used, 8 in BigTIFF
};

// The parsed IFD. Arrays absent from the file are empty.
struct TTiffDirectory {
    bool motorola = false;
    int imageCount = 0;
    std::int32_t newSubfileType = 0;
    std::int32_t width = 0;
    std::int32_t length = 0;
    std::int32_t compression = 0;
    std::int32_t photometric = 0;
    std::int32_t samplesPerPixel = 0;
    std::int32_t rowsPerStrip = 0;
    std::int32_t planarConfiguration = 0;
    std::int32_t fillOrder = 0;
    std::int32_t predictor = 0;
    std::int32_t extraSample = 0;  // ExtraSamples of the fourth RGB sample; 0 when absent
    std::vector<std::int32_t> bitsPerSample;
    std::vector<std::int32_t> stripOffsets;
    std::vector<std::int32_t> stripByteCounts;
    std::vector<std::int32_t> colorMap;
    // What only the general strip and tile path reads (TiffChunks).
    bool general = false;
    bool tiled = false;
    std::int32_t tileWidth = 0;
    std::int32_t tileLength = 0;
    std::int32_t sampleFormat = kSampleUnsigned;
    std::int32_t t4Options = 0;
    std::int32_t inkSet = 0;
    std::int32_t subsampleH = 2;
    std::int32_t subsampleV = 2;
    std::vector<std::uint8_t> jpegTables;
    std::int64_t interchange = 0;  // old-style JPEG: where its whole JPEG stream starts, and its length
    std::int64_t interchangeLength = 0;

    int BitsPerPixel() const { return bitsPerSample.empty() ? 0 : bitsPerSample[0] * samplesPerPixel; }
    bool Compressed() const
    {
        return compression == kCompressionLZW || compression == kCompressionDeflate ||
               compression == kCompressionDeflateOld;
    }
    bool Alpha() const
    {
        return samplesPerPixel == 4 && photometric == kPhotometricRGB &&
               (extraSample == kExtraAssociatedAlpha || extraSample == kExtraUnassociatedAlpha);
    }
};

int FieldSize(std::uint16_t type)
{
    switch (type) {
    case kTypeByte: return 1;
    case kTypeShort: return 2;
    case kTypeLong:
    case kTypeIfd: return 4;
    case kTypeLong8:
    case kTypeIfd8: return 8;
    default: Fail("Unsupported field Type: " + std::to_string(type));
    }
}

std::int32_t FieldValue(const TTiffSource& source, std::uint16_t type, const std::uint8_t* p)
{
    switch (type) {
    case kTypeByte: return p[0];
    case kTypeShort: return source.U16(p);
    case kTypeLong8:
    case kTypeIfd8: {
        // Offsets and counts are kept in 32 bits: a BigTIFF whose data lies
        // beyond 4 GB is refused in plain words rather than misread.
        const std::uint64_t value = source.U64(p);
        if (value > 0xFFFFFFFFu)
            Fail("BigTIFF offsets and counts beyond 4 GB are not supported");
        return std::int32_t(std::uint32_t(value));
    }
    default: return std::int32_t(source.U32(p));
    }
}

// Bytes a value field holds in place: 4, or 8 in BigTIFF.
std::int64_t InlineBytes(const TTiffSource& source)
{
    return source.Big() ? 8 : 4;
}

bool HasTag(const std::vector<TTiffEntry>& entries, std::uint16_t tag)
{
    return std::any_of(entries.begin(), entries.end(), [tag](const TTiffEntry& e) { return e.tag == tag; });
}

// The last entry with the tag wins; an absent tag reads as 0.
std::int32_t SingleValue(const TTiffSource& source, const std::vector<TTiffEntry>& entries, std::uint16_t tag)
{
    std::int32_t value = 0;
    for (const TTiffEntry& entry : entries)
        if (entry.tag == tag) {
            FieldSize(entry.type);  // refuses other field types
            value = FieldValue(source, entry.type, entry.value);
        }
    return value;
}

// The last entry with the tag wins. Earlier duplicates are checked (field type,
// values inside the stream) but not read, so a directory full of copies of one
// large array cannot make us read the file over and over.
std::vector<std::int32_t> ArrayValue(TTiffSource& source, const std::vector<TTiffEntry>& entries,
                                     std::uint16_t tag)
{
    const TTiffEntry* last = nullptr;
    for (const TTiffEntry& entry : entries) {
        if (entry.tag != tag)
            continue;
        // Counts are 32-bit signed: a count of 2^31 or more is no array at all.
        if (entry.count > 0x7FFFFFFF || std::int32_t(entry.count) <= 0) {
            last = nullptr;
            continue;
        }
        const std::int64_t total = std::int64_t(entry.count) * FieldSize(entry.type);
        if (total > InlineBytes(source) && total > source.Available(std::int64_t(source.Offset(entry.value))))
            FailStreamRead();
        last = &entry;
    }
    std::vector<std::int32_t> values;
    if (!last)
        return values;

    const int fieldSize = FieldSize(last->type);
    const std::size_t count = last->count;
    std::vector<std::uint8_t> raw;
    const std::uint8_t* bytes = last->value;
    if (std::int64_t(count) * fieldSize > InlineBytes(source)) {
        raw.resize(count * std::size_t(fieldSize));
        source.ReadAt(std::int64_t(source.Offset(last->value)), raw.data(), std::int64_t(raw.size()));
        bytes = raw.data();
    }
    values.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        values[i] = FieldValue(source, last->type, bytes + i * std::size_t(fieldSize));
    return values;
}

// Byte-order mark, 42 and the first IFD offset.
std::uint32_t ReadTiffHeader(TTiffSource& source)
{
    std::uint8_t mark[2];
    source.ReadAt(0, mark, 2);
    if (mark[0] != mark[1] || (mark[0] != kIntelMark && mark[0] != kMotorolaMark))
        Fail(MessageText(kMsgNotAFile, "TIF"));
    source.SetMotorola(mark[0] == kMotorolaMark);
    std::uint8_t field[8];
    source.ReadNext(field, 2);
    const std::uint16_t magic = source.U16(field);
    if (magic == kBigMagic) {
        // BigTIFF: offset size 8, a zero word, then the 8-byte first IFD offset.
        source.ReadNext(field, 4);
        if (source.U16(field) != 8 || source.U16(field + 2) != 0)
            Fail(MessageText(kMsgNotAFile, "TIF"));
        source.SetBig(true);
        source.ReadNext(field, 8);
        const std::uint64_t first = source.U64(field);
        return first > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(first);
    }
    if (magic != kMagic)
        Fail(MessageText(kMsgNotAFile, "TIF"));
    source.ReadNext(field, 4);
    return source.U32(field);
}

// The entry count of the IFD at offset: 2 bytes, 8 in BigTIFF.
std::uint64_t ReadEntryCount(TTiffSource& source, std::int64_t offset)
{
    if (!source.Big())
        return source.ReadU16At(offset);
    std::uint8_t field[8];
    source.ReadAt(offset, field, 8);
    return source.U64(field);
}

int EntrySize(const TTiffSource& source)
{
    return source.Big() ? kBigEntrySize : kEntrySize;
}

int CountSize(const TTiffSource& source)
{
    return source.Big() ? 8 : 2;
}

// The next-IFD field; an offset beyond 4 GB cannot be followed and ends the chain.
std::uint32_t ReadNextIfdOffset(TTiffSource& source, std::int64_t at)
{
    std::uint8_t field[8];
    source.ReadAt(at, field, InlineBytes(source));
    const std::uint64_t next = source.Offset(field);
    return next > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(next);
}

struct TChainResult {
    int imageCount;
    std::uint32_t selected;
};

// Counts the IFDs and finds the one of imageIndex. A chain that leaves the
// stream, grows beyond TIFFMaxIFDCount or comes back to an IFD already seen is
// broken: the file then counts as the one image of its first IFD.
TChainResult WalkIfdChain(TTiffSource& source, std::uint32_t first, int imageIndex)
{
    const TChainResult broken{1, first};
    TChainResult result{0, first};
    std::unordered_set<std::uint32_t> seen;
    std::uint32_t d = first;
    while (d != 0) {
        if (result.imageCount == imageIndex)
            result.selected = d;
        if (!seen.insert(d).second || source.Available(d) < CountSize(source))
            return broken;
        const std::uint64_t n = ReadEntryCount(source, d);
        if (n > 0xFFFF)
            return broken;
        // The next-IFD field must be there as a whole, or reading it would fail
        // where the walk means to stop.
        const std::int64_t next = std::int64_t(d) + CountSize(source) + std::int64_t(EntrySize(source) * n);
        if (source.Available(next) < InlineBytes(source))
            return broken;
        d = ReadNextIfdOffset(source, next);
        ++result.imageCount;
        if (result.imageCount > Settings().TIFFMaxIFDCount)
            return broken;
    }
    return result;
}

std::vector<TTiffEntry> ReadIfdEntries(TTiffSource& source, std::uint32_t offset)
{
    const std::uint64_t n = ReadEntryCount(source, offset);
    const std::int64_t entrySize = EntrySize(source);
    std::vector<std::uint8_t> block;
    // Checked before allocating: a huge entry count in a short file is a short read.
    if (n > 0xFFFF || std::int64_t(n) * entrySize > source.Available(std::int64_t(offset) + CountSize(source)))
        FailStreamRead();
    const std::int64_t bytes = std::int64_t(n) * entrySize;
    block.resize(std::size_t(bytes));
    source.ReadNext(block.data(), bytes);
    std::vector<TTiffEntry> entries(n);
    const bool big = source.Big();
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* p = block.data() + i * std::size_t(entrySize);
        entries[i].tag = source.U16(p);
        entries[i].type = source.U16(p + 2);
        entries[i].count = big ? source.U64(p + 4) : source.U32(p + 4);
        std::memcpy(entries[i].value, p + (big ? 12 : 8), big ? 8 : 4);
    }
    return entries;
}

bool AcceptedLayout(const TTiffDirectory& dir)
{
    const std::vector<std::int32_t>& bits = dir.bitsPerSample;
    const auto all = [&bits](int n) { return std::all_of(bits.begin(), bits.end(), [n](int b) { return b == n; }); };
    const bool gray = dir.photometric == kPhotometricWhiteIsZero || dir.photometric == kPhotometricBlackIsZero;
    switch (dir.samplesPerPixel) {
    case 1:
        return ((gray || dir.photometric == kPhotometricPalette) && (bits[0] == 1 || bits[0] == 4 || bits[0] == 8)) ||
               (gray && bits[0] == 16);
    case 3: return dir.photometric == kPhotometricRGB && (all(8) || all(16));
    case 4:
        return (dir.photometric == kPhotometricRGB && (all(8) || all(16))) ||
               (dir.photometric == kPhotometricCMYK && all(8));
    default: return false;
    }
}

// The tags of tiles, sample formats, fax options, inks, JPEG tables and YCbCr
// subsampling, with their defaults.
void ReadGeneralFields(TTiffSource& source, const std::vector<TTiffEntry>& entries, TTiffDirectory& dir)
{
    dir.tiled = HasTag(entries, kTagTileWidth) || HasTag(entries, kTagTileOffsets);
    dir.tileWidth = SingleValue(source, entries, kTagTileWidth);
    dir.tileLength = SingleValue(source, entries, kTagTileLength);
    const std::vector<std::int32_t> formats = ArrayValue(source, entries, kTagSampleFormat);
    for (const std::int32_t format : formats)
        dir.sampleFormat = std::max(dir.sampleFormat, format);
    dir.t4Options = SingleValue(source, entries, kTagT4Options);
    dir.interchange = std::uint32_t(SingleValue(source, entries, kTagJPEGInterchangeFormat));
    dir.interchangeLength = std::uint32_t(SingleValue(source, entries, kTagJPEGInterchangeFormatLength));
    dir.inkSet = SingleValue(source, entries, kTagInkSet);
    if (dir.photometric == kPhotometricCMYK && dir.inkSet > 1)
        Fail("inks other than CMYK are not supported");
    const std::vector<std::int32_t> subsampling = ArrayValue(source, entries, kTagYCbCrSubSampling);
    if (subsampling.size() >= 2) {
        dir.subsampleH = subsampling[0];
        dir.subsampleV = subsampling[1];
    }
    for (const TTiffEntry& entry : entries)
        if (entry.tag == kTagJPEGTables && entry.count > 0 && entry.count < (1u << 20)) {
            dir.jpegTables.resize(std::size_t(entry.count));
            if (std::int64_t(entry.count) <= InlineBytes(source))
                std::memcpy(dir.jpegTables.data(), entry.value, dir.jpegTables.size());
            else
                source.ReadAt(std::int64_t(source.Offset(entry.value)), dir.jpegTables.data(),
                              std::int64_t(entry.count));
        }
}

// What the baseline rows cannot hold: tiles, planes, depths other than 1, 4,
// 8 and 16, floats, YCbCr, deep or extra CMYK samples, fax and JPEG coding.
bool NeedsGeneralPath(const TTiffDirectory& dir)
{
    const int c = dir.compression;
    return dir.tiled || (dir.planarConfiguration == 2 && dir.samplesPerPixel > 1) ||
           dir.sampleFormat == kSampleFloat || dir.photometric == kPhotometricYCbCr ||
           c == kCompressionCCITT1D || c == kCompressionGroup3 || c == kCompressionGroup4 ||
           c == kCompressionNewJPEG;
}

// The layouts the general path reads.
bool GeneralLayout(const TTiffDirectory& dir)
{
    const std::vector<std::int32_t>& bits = dir.bitsPerSample;
    const int b = bits[0];
    if (std::any_of(bits.begin(), bits.end(), [b](int other) { return other != b; }))
        Fail("samples of different depths in one pixel are not supported");
    if (dir.sampleFormat == kSampleFloat ? (b != 16 && b != 32 && b != 64) : (b < 1 || b > 32))
        Fail(std::to_string(b) + "-bit " + (dir.sampleFormat == kSampleFloat ? "floating-point " : "") +
             "samples are not supported");
    switch (dir.photometric) {
    case kPhotometricWhiteIsZero:
    case kPhotometricBlackIsZero: return true;
    case kPhotometricPalette: return b <= 8 && dir.sampleFormat != kSampleFloat;
    case kPhotometricRGB: return dir.samplesPerPixel >= 3;
    case kPhotometricCMYK: return dir.samplesPerPixel >= 4;
    case kPhotometricYCbCr:
        if (b != 8 || dir.samplesPerPixel != 3 || (dir.planarConfiguration == 2 && dir.compression != kCompressionNewJPEG))
            Fail("YCbCr other than 8-bit chunky samples is not supported");
        return true;
    default: Fail("photometric interpretation " + std::to_string(dir.photometric) + " is not supported");
    }
}

// Shared by Read and GetInfo: the header, the IFD chain, and every directory
// check in the order the messages are to come.
TTiffDirectory ParseDirectory(TTiffSource& source, int imageIndex)
{
    TTiffDirectory dir;
    const std::uint32_t first = ReadTiffHeader(source);
    dir.motorola = source.Motorola();

    TChainResult chain{1, first};
    if (Settings().TIFFScanAllIFDs)
        chain = WalkIfdChain(source, first, imageIndex);
    dir.imageCount = chain.imageCount;
    if (imageIndex < 0 || imageIndex > dir.imageCount - 1)
        Fail(MessageText(kMsgInvalid, "Index"));

    const std::vector<TTiffEntry> entries = ReadIfdEntries(source, chain.selected);
    dir.planarConfiguration = SingleValue(source, entries, kTagPlanarConfiguration);
    if (dir.planarConfiguration > 2)
        Fail(MessageText(kMsgInvalid, "PlanarConfiguration"));

    dir.newSubfileType = SingleValue(source, entries, kTagNewSubfileType);
    dir.width = SingleValue(source, entries, kTagImageWidth);
    dir.length = SingleValue(source, entries, kTagImageLength);
    dir.compression = SingleValue(source, entries, kTagCompression);
    dir.photometric = SingleValue(source, entries, kTagPhotometric);
    // Both default to 1 when the tag is absent, as bilevel, gray and palette
    // files commonly leave them out.
    dir.samplesPerPixel =
        HasTag(entries, kTagSamplesPerPixel) ? SingleValue(source, entries, kTagSamplesPerPixel) : 1;
    if (dir.samplesPerPixel < 1 || dir.samplesPerPixel > kMaxSamples)
        Fail("Invalid SamplesPerPixel");

    if (HasTag(entries, kTagBitsPerSample))
        dir.bitsPerSample = ArrayValue(source, entries, kTagBitsPerSample);
    else
        dir.bitsPerSample.assign(std::size_t(dir.samplesPerPixel), 1);
    if (std::int64_t(dir.bitsPerSample.size()) != dir.samplesPerPixel)
        Fail("Invalid count of SamplesPerPixel");
    ReadGeneralFields(source, entries, dir);
    if (!AcceptedLayout(dir) || NeedsGeneralPath(dir)) {
        if (!GeneralLayout(dir))
            Fail("Invalid SamplesPerPixel");
        dir.general = true;
    }
    // Signed samples would load as noise; 8-bit ones have always been read as they are.
    if (dir.sampleFormat == kSampleSigned && dir.bitsPerSample[0] != 8)
        Fail(MessageText(kMsgInvalid, "SampleFormat"));

    // Early tiled files keep their tiles in the strip tags.
    const bool tileTags = dir.tiled && HasTag(entries, kTagTileOffsets);
    dir.stripOffsets = ArrayValue(source, entries, tileTags ? kTagTileOffsets : kTagStripOffsets);
    dir.rowsPerStrip = SingleValue(source, entries, kTagRowsPerStrip);
    // 2^32 - 1, the tag's default, and anything past the last row mean one strip.
    if (!dir.tiled && dir.length > 0 && (dir.rowsPerStrip < 0 || dir.rowsPerStrip > dir.length))
        dir.rowsPerStrip = dir.length;
    if (dir.tiled) {
        dir.rowsPerStrip = std::max(dir.tileLength, 1);
    } else if (dir.rowsPerStrip == 0) {
        if (dir.stripOffsets.size() != 1)
            Fail("Invalid RowsPerStrip");
        dir.rowsPerStrip = dir.length;
    }
    dir.stripByteCounts = ArrayValue(source, entries, tileTags ? kTagTileByteCounts : kTagStripByteCounts);
    dir.colorMap = ArrayValue(source, entries, kTagColorMap);
    dir.fillOrder = SingleValue(source, entries, kTagFillOrder);
    dir.predictor = SingleValue(source, entries, kTagPredictor);
    const std::vector<std::int32_t> extra = ArrayValue(source, entries, kTagExtraSamples);
    dir.extraSample = extra.empty() ? 0 : extra[0];
    return dir;
}

void CheckCompression(std::int32_t compression)
{
    switch (compression) {
    case kCompressionNone:
    case kCompressionPackBits:
    case kCompressionLZW:
    case kCompressionDeflate:
    case kCompressionDeflateOld:
    case kCompressionCCITT1D:
    case kCompressionGroup3:
    case kCompressionGroup4:
    case kCompressionNewJPEG: return;
    case kCompressionJPEG: Fail("old-style JPEG compression without a whole JPEG stream is not supported");
    default: Fail("Unsupported compression " + std::to_string(compression));
    }
}

// Strip count against the rows: a single strip that disagrees is a recoverable
// irregularity (the strip is taken to hold the whole image), any other count an error.
void CheckStripCount(TTiffDirectory& dir, TPixelGraphic& graphic)
{
    // Zero or negative rows per strip would divide by zero or index outside the
    // strip table further down.
    if (dir.rowsPerStrip <= 0)
        Fail("Invalid RowsPerStrip");
    const std::int64_t expected = (std::int64_t(dir.length) + dir.rowsPerStrip - 1) / dir.rowsPerStrip;
    const std::int64_t count = std::int64_t(dir.stripOffsets.size());
    if (count == expected)
        return;
    const std::string text = std::string(kTag) + "NumStripOffsets<>(ImageLength+RowsPerStrip-1) div RowsPerStrip";
    if (count != 1)
        throw EPGTIFFileFormatReader(text);
    // The single strip is about to hold the whole image, so its rows per strip
    // become the length: a length of zero would then divide by zero.
    if (dir.length <= 0)
        Fail(MessageText(kMsgInvalid, "ImageLength"));
    const TPGWarningAction action = graphic.ReadWarningAction();
    if (action == pgwaOKBox) {
        // This box only informs: the file is refused after it all the same.
        AskQuestion(text, kWarningCaption, qbOK);
        throw EPGTIFFileFormatReader(text);
    }
    ReadWarning<EPGTIFFileFormatReader>(graphic, text, kWarningCaption);
    // An image without rows still needs a strip height to divide by.
    dir.rowsPerStrip = std::max(dir.length, 1);
}

// LZW and Deflate strips need their byte counts; differencing is undone on 8-
// and 16-bit samples only.
void CheckCompressedStrips(const TTiffDirectory& dir)
{
    if (dir.stripByteCounts.size() < dir.stripOffsets.size())
        Fail(MessageText(kMsgInvalid, "StripByteCounts"));
    if (dir.predictor > kPredictorHorizontal)
        Fail("Unsupported Predictor " + std::to_string(dir.predictor));
    if (dir.predictor == kPredictorHorizontal && dir.bitsPerSample[0] != 8 && dir.bitsPerSample[0] != 16)
        Fail(MessageText(kMsgInvalid, "Predictor"));
}

// The rows a directory announces against the bytes the stream holds, before
// anything is allocated: no strip layout turns a byte into more than the
// scheme's largest expansion (LZW: a 9-bit code for a string of up to 4094
// bytes; Deflate: about 1032 to 1). Uncompressed strips may repeat each other,
// hence a margin, and anything up to 16 MB passes, so that truncated files
// still load the rows they hold.
void CheckDataPresent(TTiffSource& source, const TTiffDirectory& dir)
{
    std::int64_t expansion = 16;
    if (dir.compression == kCompressionPackBits)
        expansion = 64;
    else if (dir.compression == kCompressionLZW)
        expansion = 3700;
    else if (dir.Compressed())
        expansion = 1100;
    const std::int64_t rowSize = (std::int64_t(dir.BitsPerPixel()) * dir.width + 7) / 8;
    // One row at least: the row buffer is allocated even for an image without rows.
    const std::int64_t imageBytes = rowSize * std::max<std::int64_t>(dir.length, 1);
    if (imageBytes > source.Available(0) * expansion + (std::int64_t(16) << 20))
        FailStreamRead();
}

TBitCount BitCountOf(const TTiffDirectory& dir)
{
    if (dir.samplesPerPixel > 1)
        return dir.Alpha() ? bc32 : bc24;
    switch (dir.bitsPerSample[0]) {
    case 1: return bc1;
    case 4: return bc4;
    default: return bc8;  // 8 bits, and 16-bit gray reduced to 8
    }
}

// Only the first 3 x (count div 3) values are used. A map with fewer entries
// than the pixels can address is padded with black, so every index the strips
// can hold names a palette entry; a longer one keeps its layout (all reds, all
// greens, all blues) and gives the entries the pixel format can hold.
void SetColorMapPalette(const TTiffDirectory& dir, TPixelGraphic& graphic)
{
    const std::size_t n = dir.colorMap.size() / 3;
    const int capacity = graphic.PaletteCapacity();
    graphic.SetPaletteCount(capacity);
    for (int i = 0; i < capacity; ++i) {
        TRGB color = 0;
        if (std::size_t(i) < n) {
            const std::size_t k = std::size_t(i);
            color = RGBValue(std::uint8_t(dir.colorMap[k] / 256), std::uint8_t(dir.colorMap[n + k] / 256),
                             std::uint8_t(dir.colorMap[2 * n + k] / 256));
        }
        graphic.SetPaletteColor(i, color);
    }
}

void SetPalette(const TTiffDirectory& dir, TPixelGraphic& graphic)
{
    const bool gray = dir.photometric == kPhotometricWhiteIsZero || dir.photometric == kPhotometricBlackIsZero;
    switch (graphic.BitCount()) {
    case bc1: graphic.SetPaletteIdent(pBlackWhite); break;  // a 1-bit ColorMap is not used
    case bc4: gray ? graphic.SetPaletteIdent(pGray16) : SetColorMapPalette(dir, graphic); break;
    case bc8: gray ? graphic.SetPaletteIdent(pGray256) : SetColorMapPalette(dir, graphic); break;
    case bc24:
    case bc32: break;
    }
}

// PackBits input through a 4096-byte window over the stream, so each byte does
// not cost a stream call.
class TByteWindow {
public:
    TByteWindow(TTiffSource& source, bool reversed) : m_source(source), m_bytes(kWindowSize), m_reversed(reversed)
    {
    }

    std::uint8_t Fetch(std::int64_t offset)
    {
        if (offset < m_start || offset >= m_start + m_count)
            Load(offset);
        return m_bytes[std::size_t(offset - m_start)];
    }

    // Copies count bytes from offset on, window by window.
    void Copy(std::int64_t offset, std::uint8_t* out, std::int64_t count)
    {
        while (count > 0) {
            if (offset < m_start || offset >= m_start + m_count)
                Load(offset);
            const std::int64_t n = std::min(count, m_start + m_count - offset);
            std::memcpy(out, m_bytes.data() + (offset - m_start), std::size_t(n));
            out += n;
            offset += n;
            count -= n;
        }
    }

private:
    void Load(std::int64_t offset)
    {
        const std::int64_t count = std::min<std::int64_t>(kWindowSize, m_source.Available(offset));
        if (count <= 0)
            FailStreamRead();
        m_source.ReadAt(offset, m_bytes.data(), count);
        if (m_reversed)
            ReverseBits(m_bytes.data(), std::size_t(count));
        m_start = offset;
        m_count = count;
    }

    TTiffSource& m_source;
    std::vector<std::uint8_t> m_bytes;
    std::int64_t m_start = 0;
    std::int64_t m_count = 0;
    bool m_reversed;
};

// One row of PackBits from the strip cursor on. A packet never crosses the row;
// the cursor carries on into the next row of the strip.
void DecodePackBitsRow(TByteWindow& window, std::int64_t& cursor, std::uint8_t* row, std::int64_t rowSize, int y)
{
    std::int64_t i = 0;
    while (i < rowSize) {
        const int h = std::int8_t(window.Fetch(cursor++));
        if (h >= 0) {
            if (i + h + 1 > rowSize)
                throw EPGTIFFileFormatReader("TIFF (PackBits): " + MessageText(kMsgInvalidRowByteCount, std::to_string(y)));
            window.Copy(cursor, row + i, h + 1);
            cursor += h + 1;
            i += h + 1;
        } else if (h != -128) {
            if (i - h + 1 > rowSize)
                throw EPGTIFFileFormatReader("TIFF (PackBits): " + MessageText(kMsgInvalidRowByteCount, std::to_string(y)));
            std::memset(row + i, window.Fetch(cursor++), std::size_t(1 - h));
            i += 1 - h;
        }
    }
}

// A 16-bit sample in the file's byte order, rounded to 8 bits.
inline std::uint8_t Reduce16(const std::uint8_t* p, bool motorola)
{
    const unsigned v = motorola ? unsigned(p[0]) << 8 | p[1] : unsigned(p[1]) << 8 | p[0];
    return std::uint8_t((v + 128) / 257);
}

// How rows are stored: the directory, and the image row width.
struct TRowLayout {
    const TTiffDirectory& dir;
    int width;

    // Bytes of an image pixel: RGB with alpha keeps it in a 32-bit image.
    std::size_t PixelBytes() const { return dir.Alpha() ? 4 : 3; }
};

// Stores one pixel's colour samples (red, green, blue at 8 bits) with its
// alpha; associated (premultiplied) colours are divided by their alpha again.
inline void PutColor(const TRowLayout& layout, std::uint8_t* out, const std::uint8_t rgb[3], unsigned alpha)
{
    if (!layout.dir.Alpha()) {
        out[0] = rgb[2];
        out[1] = rgb[1];
        out[2] = rgb[0];
        return;
    }
    const bool associated = layout.dir.extraSample == kExtraAssociatedAlpha;
    for (int c = 0; c < 3; ++c) {
        const unsigned v = rgb[2 - c];
        out[c] = !associated ? std::uint8_t(v) : alpha == 0 ? 0 : std::uint8_t(std::min(255u, (v * 255 + alpha / 2) / alpha));
    }
    out[3] = std::uint8_t(alpha);
}

// 16-bit samples: gray becomes 8-bit gray, RGB and RGB with alpha become 24-bit.
void StoreRow16(const TRowLayout& layout, const std::uint8_t* rowBuffer, std::uint8_t* line)
{
    const TTiffDirectory& dir = layout.dir;
    const bool motorola = dir.motorola;
    if (dir.samplesPerPixel == 1) {
        const std::uint8_t invert = dir.photometric == kPhotometricWhiteIsZero ? 0xFF : 0;
        for (int x = 0; x < layout.width; ++x)
            line[x] = std::uint8_t(Reduce16(rowBuffer + 2 * std::size_t(x), motorola) ^ invert);
        return;
    }
    const std::size_t step = 2 * std::size_t(dir.samplesPerPixel);
    for (int x = 0; x < layout.width; ++x) {
        const std::uint8_t* s = rowBuffer + step * std::size_t(x);
        const std::uint8_t rgb[3] = {Reduce16(s, motorola), Reduce16(s + 2, motorola), Reduce16(s + 4, motorola)};
        PutColor(layout, line + layout.PixelBytes() * std::size_t(x), rgb,
                 dir.samplesPerPixel == 4 ? Reduce16(s + 6, motorola) : 255);
    }
}

// Stores one file row (already in the image row for the formats whose file row
// fits there, in rowBuffer otherwise) in the image's layout.
void StoreRow(const TRowLayout& layout, const std::uint8_t* rowBuffer, std::uint8_t* line)
{
    const TTiffDirectory& dir = layout.dir;
    const int width = layout.width;
    const bool whiteIsZero = dir.photometric == kPhotometricWhiteIsZero;
    if (dir.bitsPerSample[0] == 16) {
        StoreRow16(layout, rowBuffer, line);
        return;
    }
    switch (dir.BitsPerPixel()) {
    case 1:
    case 4: {
        const int bits = dir.BitsPerPixel();
        const std::size_t bytes = (std::size_t(width) * std::size_t(bits) + 7) / 8;
        if (rowBuffer != line)
            std::memcpy(line, rowBuffer, bytes);
        // 1 - bit and 15 - n are the complements of the whole byte.
        if (whiteIsZero)
            for (std::size_t i = 0; i < bytes; ++i)
                line[i] = std::uint8_t(~line[i]);
        // Bits past the last pixel stay clear, as pixel-by-pixel storing leaves them.
        const int used = int((std::int64_t(width) * bits) % 8);
        if (used != 0)
            line[bytes - 1] &= std::uint8_t(0xFF << (8 - used));
        break;
    }
    case 8:
        if (rowBuffer != line)
            std::memcpy(line, rowBuffer, std::size_t(width));
        if (whiteIsZero)
            for (int x = 0; x < width; ++x)
                line[x] = std::uint8_t(~line[x]);
        break;
    case 24:
        if (rowBuffer != line)
            std::memcpy(line, rowBuffer, std::size_t(width) * 3);
        for (std::uint8_t *p = line, *end = line + std::size_t(width) * 3; p != end; p += 3)
            std::swap(p[0], p[2]);
        break;
    case 32:
        if (dir.photometric == kPhotometricCMYK) {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* s = rowBuffer + 4 * std::size_t(x);
                // (1 - C)(1 - K) per channel, rounded, as the peers show CMYK without a profile.
                const int k = 255 - s[3];
                line[3 * x] = std::uint8_t(((255 - s[2]) * k + 127) / 255);
                line[3 * x + 1] = std::uint8_t(((255 - s[1]) * k + 127) / 255);
                line[3 * x + 2] = std::uint8_t(((255 - s[0]) * k + 127) / 255);
            }
        } else {
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* s = rowBuffer + 4 * std::size_t(x);
                PutColor(layout, line + layout.PixelBytes() * std::size_t(x), s, s[3]);
            }
        }
        break;
    }
}

std::unique_ptr<TStripDecoder> MakeDecoder(const TTiffDirectory& dir, const std::vector<std::uint8_t>& strip)
{
    if (dir.compression == kCompressionLZW)
        return std::make_unique<TLzwDecoder>(strip.data(), strip.size());
    return std::make_unique<TInflateDecoder>(strip.data(), strip.size());
}

// The compressed bytes of a strip: StripByteCounts says how many, cut short
// where the stream ends (the decoder then reports the strip as short).
void ReadStrip(TTiffSource& source, const TTiffDirectory& dir, std::size_t strip, std::vector<std::uint8_t>& bytes)
{
    const std::int64_t offset = std::uint32_t(dir.stripOffsets[strip]);
    const std::int64_t count = std::min<std::int64_t>(std::uint32_t(dir.stripByteCounts[strip]), source.Available(offset));
    bytes.resize(std::size_t(count));
    if (count > 0)
        source.ReadAt(offset, bytes.data(), count);
    if (dir.fillOrder == kFillOrderReversed)
        ReverseBits(bytes.data(), bytes.size());
}

// ---- compressed strips ----------------------------------------------------------------

// One compressed strip: its bytes, its rows, and how far its decoding got.
struct TStripWork {
    std::vector<std::uint8_t> bytes;
    int firstRow = 0;
    int rows = 0;
    int rowsDone = 0;
    std::exception_ptr error;
};

// Decodes one strip into its image rows. A failure is kept with the strip, so
// that the strips before it still count and the first failing one is reported.
void DecodeStrip(const TTiffDirectory& dir, const TRowLayout& layout, TStripWork& work, TPixelGraphic& graphic,
                 std::vector<std::uint8_t>& rowBuffer)
{
    try {
        const std::size_t rowSize = rowBuffer.size();
        const int bits = dir.BitsPerPixel();
        const bool predictor = dir.predictor == kPredictorHorizontal;
        const std::unique_ptr<TStripDecoder> decoder = MakeDecoder(dir, work.bytes);
        for (; work.rowsDone < work.rows; ++work.rowsDone) {
            const int y = work.firstRow + work.rowsDone;
            std::uint8_t* line = graphic.ScanLine(y);
            std::uint8_t* row = rowBuffer.data();
            if (decoder->Read(row, rowSize) != rowSize)
                Fail("Strip " + std::to_string(y / dir.rowsPerStrip) + " ends before row " + std::to_string(y));
            if (predictor && bits == 24) {
                // RGB rows, the bulk of such files: summed and reordered in one pass.
                UndoHorizontalPredictorToBgr(row, line, std::size_t(dir.width));
                continue;
            }
            if (predictor)
                UndoHorizontalPredictor(row, std::size_t(dir.width), dir.samplesPerPixel, dir.bitsPerSample[0],
                                        dir.motorola);
            StoreRow(layout, row, line);
        }
    } catch (...) {
        work.error = std::current_exception();
    }
}

// Threads for the strips of this image: only images big enough to repay a
// thread's start are split.
int StripThreads(const TTiffDirectory& dir, std::int64_t rowSize)
{
    constexpr std::int64_t kMinBytes = std::int64_t(1) << 21;
    if (rowSize * dir.length < kMinBytes || dir.rowsPerStrip >= dir.length)
        return 1;
    const int wanted = Settings().TIFFReadThreads;
    const int threads = wanted > 0 ? wanted : int(std::thread::hardware_concurrency());
    return std::clamp(threads, 1, 64);
}

// Decodes the strips of a group, taking them in turn from a shared counter.
// Strips that already failed while being read are passed over.
void DecodeGroup(const TTiffDirectory& dir, const TRowLayout& layout, std::vector<TStripWork>& group,
                 TPixelGraphic& graphic, std::size_t rowSize, int threads)
{
    const std::size_t workers = std::min(group.size(), std::size_t(threads));
    std::vector<std::vector<std::uint8_t>> rowBuffers(workers, std::vector<std::uint8_t>(rowSize));
    std::atomic<std::size_t> next{0};
    const auto work = [&](std::size_t worker) {
        for (std::size_t i; (i = next.fetch_add(1)) < group.size();)
            if (!group[i].error)
                DecodeStrip(dir, layout, group[i], graphic, rowBuffers[worker]);
    };
    std::vector<std::jthread> helpers;
    try {
        for (std::size_t worker = 1; worker < workers; ++worker)
            helpers.emplace_back(work, worker);
    } catch (const std::system_error&) {
        // No thread to be had: the strips left are decoded here.
    }
    work(0);
}

// Compressed strips are independent: they are read from the stream in groups
// in file order, decoded side by side, then reported row by row as a single
// thread would, up to the first failing row or an abort.
void ReadCompressedRows(TTiffSource& source, const TTiffDirectory& dir, TPixelGraphic& graphic,
                        const TRowLayout& layout, std::int64_t rowSize, TObject* sender)
{
    // A group holds about this many compressed bytes, so a file whose strips
    // all name the same huge range still costs one such range at a time.
    constexpr std::size_t kGroupBytes = std::size_t(1) << 22;
    constexpr int kGroupRows = 256;
    const int threads = StripThreads(dir, rowSize);
    const std::size_t stripCount = std::size_t((std::int64_t(dir.length) + dir.rowsPerStrip - 1) / dir.rowsPerStrip);
    std::vector<TStripWork> group;
    for (std::size_t strip = 0; strip < stripCount;) {
        group.clear();
        std::size_t bytes = 0;
        int rows = 0;
        do {
            TStripWork& work = group.emplace_back();
            work.firstRow = int(std::int64_t(strip) * dir.rowsPerStrip);
            work.rows = int(std::min<std::int64_t>(dir.rowsPerStrip, dir.length - work.firstRow));
            try {
                ReadStrip(source, dir, strip++, work.bytes);
            } catch (...) {
                work.error = std::current_exception();
                break;
            }
            bytes += work.bytes.size();
            rows += work.rows;
        } while (strip < stripCount && threads > 1 && bytes < kGroupBytes && rows < kGroupRows);
        DecodeGroup(dir, layout, group, graphic, std::size_t(rowSize), threads);
        for (const TStripWork& work : group) {
            for (int i = 0; i < work.rowsDone; ++i)
                if (graphic.Progress(sender, work.firstRow + i, dir.length))
                    return;
            if (work.error)
                std::rethrow_exception(work.error);
        }
    }
}

// ---- uncompressed and PackBits strips ---------------------------------------------------

void ReadRows(TTiffSource& source, const TTiffDirectory& dir, TPixelGraphic& graphic, const TRowLayout& layout,
              TObject* sender)
{
    const int width = dir.width;
    const int height = dir.length;
    const std::int64_t rowSize = (std::int64_t(dir.BitsPerPixel()) * width + 7) / 8;
    const bool packBits = dir.compression == kCompressionPackBits;
    const bool reversed = dir.fillOrder == kFillOrderReversed;

    TProgressScope progress(graphic, sender);
    // Rows of no bytes (an image without width) hold nothing to read or store;
    // walking up to 2^31 of them one by one would only hang the caller.
    if (rowSize == 0)
        return;
    if (dir.Compressed()) {
        ReadCompressedRows(source, dir, graphic, layout, rowSize, sender);
        return;
    }
    // The file row goes straight into the image row when it fits there and an
    // unfinished row cannot be left behind; otherwise through a row buffer.
    const int bits = dir.BitsPerPixel();
    const bool direct = !packBits && (bits == 1 || bits == 4 || bits == 8 || bits == 24);
    std::vector<std::uint8_t> rowBuffer(direct ? 0 : std::size_t(rowSize));
    TByteWindow window(source, reversed);
    std::int64_t cursor = 0;
    for (int y = 0; y < height; ++y) {
        if (y % dir.rowsPerStrip == 0)
            cursor = std::uint32_t(dir.stripOffsets[std::size_t(y / dir.rowsPerStrip)]);
        std::uint8_t* line = graphic.ScanLine(y);
        std::uint8_t* row = direct ? line : rowBuffer.data();
        if (packBits) {
            DecodePackBitsRow(window, cursor, row, rowSize, y);
        } else {
            source.ReadAt(cursor, row, rowSize);
            cursor += rowSize;
            if (reversed)
                ReverseBits(row, std::size_t(rowSize));
        }
        StoreRow(layout, row, line);
        if (graphic.Progress(sender, y, height))
            break;
    }
}

// ---- tiles, planes, deep and float samples, YCbCr, fax and JPEG -------------------------

// The samples the image keeps: gray and palette one, RGB three (four with an
// alpha sample), CMYK four; YCbCr becomes RGB.
int KeptSamples(const TTiffDirectory& dir)
{
    switch (dir.photometric) {
    case kPhotometricRGB: return dir.Alpha() || (dir.samplesPerPixel >= 4 && (dir.extraSample == kExtraAssociatedAlpha ||
                                                                             dir.extraSample == kExtraUnassociatedAlpha)) ? 4 : 3;
    case kPhotometricCMYK: return 4;
    case kPhotometricYCbCr: return 3;
    default: return 1;
    }
}

TChunkLayout ChunkLayoutOf(const TTiffDirectory& dir)
{
    TChunkLayout layout;
    layout.width = dir.width;
    layout.length = dir.length;
    layout.chunkWidth = dir.tiled ? dir.tileWidth : dir.width;
    // A strip never needs more rows than the image (RowsPerStrip is often 2^32 - 1).
    layout.chunkLength = dir.tiled ? dir.tileLength : std::min(dir.rowsPerStrip, std::max(dir.length, 1));
    layout.samples = dir.samplesPerPixel;
    layout.bits = dir.bitsPerSample[0];
    layout.sampleFormat = dir.sampleFormat;
    layout.planar = dir.planarConfiguration == 2 && dir.samplesPerPixel > 1;
    layout.motorola = dir.motorola;
    // Only the LZW and Deflate coders apply a predictor.
    layout.predictor = dir.Compressed() && dir.predictor >= kPredictorHorizontal ? dir.predictor : kPredictorNone;
    layout.keep = std::min(KeptSamples(dir), dir.samplesPerPixel);
    layout.packed = layout.keep == 1 && dir.sampleFormat != kSampleFloat &&
                    (layout.bits == 1 || layout.bits == 4 || layout.bits == 8);
    layout.scale = dir.photometric != kPhotometricPalette;
    return layout;
}

// The directory of the image buffer: 8-bit samples (or the packed ones), RGB for YCbCr.
TTiffDirectory BufferDirectory(const TTiffDirectory& dir, const TChunkLayout& layout)
{
    TTiffDirectory buffer;
    buffer.motorola = dir.motorola;
    buffer.width = dir.width;
    buffer.length = dir.length;
    buffer.photometric = dir.photometric == kPhotometricYCbCr ? kPhotometricRGB : dir.photometric;
    buffer.samplesPerPixel = layout.keep;
    buffer.bitsPerSample.assign(std::size_t(layout.keep), layout.packed ? layout.bits : 8);
    buffer.extraSample = layout.keep == 4 && buffer.photometric == kPhotometricRGB ? dir.extraSample : 0;
    buffer.colorMap = dir.colorMap;
    return buffer;
}

void CheckChunkLayout(const TTiffDirectory& dir, const TChunkLayout& layout)
{
    if (layout.chunkWidth <= 0 || layout.chunkLength <= 0)
        Fail(dir.tiled ? "Invalid TileWidth or TileLength" : "Invalid RowsPerStrip");
    // A tile may be bigger than the image, but not beyond reason.
    constexpr std::int64_t kMaxChunkBytes = std::int64_t(1) << 28;
    if (layout.ChunkBytes() > kMaxChunkBytes)
        Fail("tiles of " + std::to_string(layout.chunkWidth) + " x " + std::to_string(layout.chunkLength) +
             " pixels are not supported");
    if (dir.compression == kCompressionNewJPEG && layout.planar)
        Fail("JPEG compression of separate planes is not supported");
    if ((dir.compression >= kCompressionCCITT1D && dir.compression <= kCompressionGroup4) &&
        (dir.samplesPerPixel != 1 || layout.bits != 1))
        Fail("fax compression of other than 1-bit samples is not supported");
    if (layout.predictor == kPredictorHorizontal && layout.bits != 8 && layout.bits != 16 && layout.bits != 32)
        Fail("the horizontal predictor with " + std::to_string(layout.bits) + "-bit samples is not supported");
    if (layout.predictor == kPredictorFloat && layout.sampleFormat != kSampleFloat)
        Fail(MessageText(kMsgInvalid, "Predictor"));
    if (layout.predictor > kPredictorFloat)
        Fail("Unsupported Predictor " + std::to_string(layout.predictor));
    const std::int64_t needed = layout.ChunkCount();
    if (std::int64_t(dir.stripOffsets.size()) < needed)
        Fail(std::string(dir.tiled ? "TileOffsets" : "StripOffsets") + " has " +
             std::to_string(dir.stripOffsets.size()) + " entries where the image needs " + std::to_string(needed));
}

// The image buffer against the bytes the stream holds, as for the strips of
// the baseline path; fax rows may cost a single bit each.
void CheckGeneralDataPresent(TTiffSource& source, const TTiffDirectory& dir, const TChunkLayout& layout)
{
    CheckImagePixels(dir.width, dir.length);
    std::int64_t expansion = 64;
    switch (dir.compression) {
    case kCompressionLZW: expansion = 3700; break;
    case kCompressionDeflate:
    case kCompressionDeflateOld: expansion = 1100; break;
    case kCompressionNewJPEG: expansion = 2000; break;
    case kCompressionCCITT1D:
    case kCompressionGroup3:
    case kCompressionGroup4: expansion = 8 * std::max<std::int64_t>(layout.ImageRowBytes(), 1); break;
    default: break;
    }
    const std::int64_t imageBytes = layout.ImageRowBytes() * std::max<std::int64_t>(dir.length, 1);
    if (imageBytes > source.Available(0) * expansion + (std::int64_t(16) << 20))
        FailStreamRead();
}

// The coded bytes of chunk i: its byte count (or, uncompressed and without
// one, what its pixels take), cut short where the stream ends.
void ReadChunkBytes(TTiffSource& source, const TTiffDirectory& dir, const TChunkLayout& layout, std::size_t i,
                    std::vector<std::uint8_t>& bytes)
{
    const std::int64_t offset = std::uint32_t(dir.stripOffsets[i]);
    const std::int64_t wanted = i < dir.stripByteCounts.size() ? std::uint32_t(dir.stripByteCounts[i])
                                                               : layout.ChunkBytes() * 2;
    const std::int64_t count = std::min(wanted, source.Available(offset));
    bytes.resize(std::size_t(std::max<std::int64_t>(count, 0)));
    if (count > 0)
        source.ReadAt(offset, bytes.data(), count);
    if (dir.fillOrder == kFillOrderReversed)
        ReverseBits(bytes.data(), bytes.size());
}

TChunkCoding ChunkCodingOf(const TTiffDirectory& dir)
{
    TChunkCoding coding;
    coding.compression = dir.compression;
    coding.photometric = dir.photometric;
    coding.jpegTables = &dir.jpegTables;
    coding.subsampleH = dir.subsampleH;
    coding.subsampleV = dir.subsampleV;
    if (dir.compression == kCompressionCCITT1D)
        coding.fax.coding = TFaxCoding::fcModifiedHuffman;
    else if (dir.compression == kCompressionGroup3)
        coding.fax.coding = TFaxCoding::fcGroup3;
    coding.fax.twoDimensional = (dir.t4Options & 1) != 0;
    const auto valid = [](int s) { return s == 1 || s == 2 || s == 4; };
    if (dir.photometric == kPhotometricYCbCr && dir.compression != kCompressionNewJPEG &&
        (!valid(dir.subsampleH) || !valid(dir.subsampleV)))
        Fail(MessageText(kMsgInvalid, "YCbCrSubSampling"));
    return coding;
}

// Decodes every chunk into the image buffer, chunk by chunk in file order.
// validRows follows the rows whose every sample has been decoded.
void DecodeChunks(TTiffSource& source, const TTiffDirectory& dir, const TChunkLayout& layout,
                  const std::vector<std::uint8_t*>& image, int& validRows)
{
    const TChunkCoding coding = ChunkCodingOf(dir);
    const std::int64_t perPlane = std::int64_t(layout.ChunksAcross()) * layout.ChunksDown();
    std::vector<std::uint8_t> bytes, chunk;
    for (std::int64_t i = 0; i < layout.ChunkCount(); ++i) {
        if (layout.planar && i / perPlane >= layout.keep)
            break;  // the planes of samples the image does not keep
        const int y0 = int((i % perPlane) / layout.ChunksAcross()) * layout.chunkLength;
        const int rows = dir.tiled ? layout.chunkLength : std::min(layout.chunkLength, dir.length - y0);
        // Rows of a later plane are whole only once every plane is.
        validRows = i < perPlane ? y0 : 0;
        ReadChunkBytes(source, dir, layout, std::size_t(i), bytes);
        DecodeChunk(layout, coding, rows, bytes, chunk);
        PlaceChunk(layout, i, chunk.data(), image.data());
        chunk.swap(bytes);  // an uncompressed chunk's buffer serves the next read
    }
}

void ReadGeneral(TTiffSource& source, TTiffDirectory& dir, TPixelGraphic& graphic, TObject* sender)
{
    if (!dir.tiled && !(dir.planarConfiguration == 2 && dir.samplesPerPixel > 1))
        CheckStripCount(dir, graphic);
    TChunkLayout layout = ChunkLayoutOf(dir);
    CheckChunkLayout(dir, layout);
    CheckGeneralDataPresent(source, dir, layout);
    const TTiffDirectory buffer = BufferDirectory(dir, layout);
    const TRowLayout rows{buffer, buffer.width};
    graphic.SetSize(dir.width, dir.length, BitCountOf(buffer));
    SetPalette(buffer, graphic);
    // Packed samples and RGB go straight into the image's rows (RGB as blue,
    // green, red); CMYK and alpha through a buffer of 8-bit samples.
    layout.bgr = layout.keep == 3 && buffer.photometric == kPhotometricRGB;
    layout.chunkBgr = layout.bgr && dir.compression == kCompressionNewJPEG && layout.samples == 3;
    const bool direct = layout.packed || layout.bgr;
    const std::size_t rowBytes = std::size_t(layout.ImageRowBytes());
    const std::size_t height = std::size_t(std::max(dir.length, 0));
    std::vector<std::uint8_t> image(direct ? 0 : rowBytes * height);
    std::vector<std::uint8_t*> imageRows(height);
    for (std::size_t y = 0; y < height; ++y)
        imageRows[y] = direct ? graphic.ScanLine(int(y)) : image.data() + y * rowBytes;
    // A chunk that fails to decode still leaves the rows before it in the image.
    std::exception_ptr error;
    int validRows = dir.length;
    try {
        DecodeChunks(source, dir, layout, imageRows, validRows);
        validRows = dir.length;
    } catch (const EPixelGraphic&) {
        error = std::current_exception();
    }
    {
        TProgressScope progress(graphic, sender);
        for (int y = 0; y < validRows && rowBytes > 0; ++y) {
            // Packed rows are inverted or trimmed in place; placed RGB rows are done.
            if (!layout.bgr)
                StoreRow(rows, imageRows[std::size_t(y)], graphic.ScanLine(y));
            if (graphic.Progress(sender, y, dir.length))
                break;
        }
    }
    if (error)
        std::rethrow_exception(error);
}

// Old-style JPEG (Compression 6) in its common form: JPEGInterchangeFormat
// points at a whole JPEG stream of the image, decoded as it stands. Without a
// length the stream runs to the end of the strips or of the file.
void ReadOldJpeg(TTiffSource& source, const TTiffDirectory& dir, TPixelGraphic& graphic, TObject* sender)
{
    const bool gray = dir.photometric == kPhotometricWhiteIsZero || dir.photometric == kPhotometricBlackIsZero;
    if (dir.samplesPerPixel != (gray ? 1 : 3) || dir.bitsPerSample[0] != 8 || dir.tiled)
        Fail("old-style JPEG compression of this layout is not supported");
    std::int64_t end = source.Available(0);
    if (dir.interchangeLength > 0)
        end = std::min(end, dir.interchange + dir.interchangeLength);
    else if (!dir.stripOffsets.empty() && dir.stripOffsets.size() == dir.stripByteCounts.size())
        end = std::min(end, std::int64_t(std::uint32_t(dir.stripOffsets.back())) +
                                std::int64_t(std::uint32_t(dir.stripByteCounts.back())));
    if (end <= dir.interchange)
        FailStreamRead();
    CheckImagePixels(dir.width, dir.length);
    std::vector<std::uint8_t> stream(std::size_t(end - dir.interchange));
    source.ReadAt(dir.interchange, stream.data(), std::int64_t(stream.size()));
    graphic.SetSize(dir.width, dir.length, gray ? bc8 : bc24);
    if (gray)
        graphic.SetPaletteIdent(pGray256);
    const int samples = gray ? 1 : 3;
    const TJpegChunk chunk{nullptr, gray ? kPhotometricBlackIsZero : dir.photometric, samples, dir.width, dir.length, true};
    const std::size_t rowBytes = std::size_t(dir.width) * std::size_t(samples);
    std::vector<std::uint8_t> pixels(rowBytes * std::size_t(dir.length));
    DecodeJpegStream(chunk, stream.data(), stream.size(), pixels.data());
    TProgressScope progress(graphic, sender);
    for (int y = 0; y < dir.length; ++y) {
        std::memcpy(graphic.ScanLine(y), pixels.data() + std::size_t(y) * rowBytes, rowBytes);
        if (graphic.Progress(sender, y, dir.length))
            break;
    }
}

}  // namespace

TTIFFileFormatReader::TTIFFileFormatReader()
{
    Extension = "tif";
    Description = "Tagged Image File Format";
    HasSignature = true;
}

bool TTIFFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    if (header.Count < 4)
        return false;
    const bool intel = header[0] == 'I' && header[1] == 'I' && header[2] == kMagic && header[3] == 0;
    const bool motorola = header[0] == 'M' && header[1] == 'M' && header[2] == 0 && header[3] == kMagic;
    return intel || motorola;
}

void TTIFFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    TTiffSource source(stream);
    TTiffDirectory dir = ParseDirectory(source, imageIndex);
    if (dir.compression == kCompressionJPEG && dir.interchange > 0) {
        ReadOldJpeg(source, dir, graphic, this);
        return;
    }
    CheckCompression(dir.compression);
    if (dir.general) {
        ReadGeneral(source, dir, graphic, this);
        return;
    }
    CheckStripCount(dir, graphic);
    if (dir.Compressed())
        CheckCompressedStrips(dir);
    CheckDataPresent(source, dir);
    const TRowLayout layout{dir, dir.width};
    CheckImagePixels(dir.width, dir.length);
    graphic.SetSize(dir.width, dir.length, BitCountOf(dir));
    SetPalette(dir, graphic);
    ReadRows(source, dir, graphic, layout, this);
}

void TTIFFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    TTiffSource source(stream);
    const TTiffDirectory dir = ParseDirectory(source, imageIndex);
    info.ImageCount = dir.imageCount;

    info.SubFormatText = dir.motorola ? "M, " : "I, ";
    const bool unsupported = dir.compression == kCompressionJPEG;
    switch (dir.compression) {
    case kCompressionNone: info.SubFormatText += "Uncompr."; break;
    case kCompressionCCITT1D: info.SubFormatText += "CCITT 1D"; break;
    case kCompressionGroup3: info.SubFormatText += "Group 3 F."; break;
    case kCompressionGroup4: info.SubFormatText += "Group 4 F."; break;
    case kCompressionLZW: info.SubFormatText += "LZW"; break;
    case kCompressionJPEG: info.SubFormatText += "JPEG"; break;
    case kCompressionNewJPEG: info.SubFormatText += "JPEG"; break;
    case kCompressionPackBits: info.SubFormatText += "PackBits"; break;
    case kCompressionDeflate:
    case kCompressionDeflateOld: info.SubFormatText += "Deflate"; break;
    default: break;
    }
    if (unsupported)
        info.ExtraText = "(Unsupported compression)";
    switch (dir.photometric) {
    case kPhotometricWhiteIsZero: info.SubFormatText += ", WhiteIsZero"; break;
    case kPhotometricBlackIsZero: info.SubFormatText += ", BlackIsZero"; break;
    case kPhotometricRGB: info.SubFormatText += ", RGB"; break;
    case kPhotometricPalette: info.SubFormatText += ", RGB Palette"; break;
    case kPhotometricCMYK: info.SubFormatText += ", CMYK"; break;
    case kPhotometricYCbCr: info.SubFormatText += ", YCbCr"; break;
    default: break;
    }

    info.Width = dir.width;
    info.Height = dir.length;
    int bits = 0;
    for (const std::int32_t b : dir.bitsPerSample)
        bits += b;
    info.BitsPerPixel = bits;
    info.ColorsText = bits > 23 ? "16.7 M" : std::to_string(1L << bits);
    info.HasAlpha = dir.Alpha();
}

TTIFFFileFormatReader::TTIFFFileFormatReader()
{
    Extension = "tiff";
}

}  // namespace rastova
