#include "formats/Ico.h"

#include "formats/Png.h"
#include "image/ByteOrder.h"
#include "image/PGExceptions.h"
#include "image/PackedPixels.h"
#include "image/Streams.h"

#include <algorithm>
#include <array>
#include <vector>
#include <cstring>

namespace rastova {

namespace {

const char* const kMsgIndexOutOfBounds = "Index out of bounds";

constexpr int kDirectoryHeaderSize = 6;  // reserved, type, count
constexpr int kDirectoryEntrySize = 16;
constexpr int kInfoHeaderSize = 40;      // BITMAPINFOHEADER
constexpr int kEntryBytesInResource = 8;
constexpr int kEntryImageOffset = 12;
constexpr int kInfoWidth = 4;
constexpr int kInfoHeight = 8;
constexpr int kInfoPlanes = 12;
constexpr int kInfoBitCount = 14;
constexpr int kInfoCompression = 16;
constexpr int kInfoImageSize = 20;
constexpr int kBlockEntryOffset = kDirectoryHeaderSize;
constexpr int kBlockInfoOffset = kDirectoryHeaderSize + kDirectoryEntrySize;  // 22, the image offset
constexpr int kTypeIcon = 1;
constexpr int kTypeCursor = 2;
constexpr int kMinSize = 8;
constexpr int kMaxSize = 64;
// 24- and 32-bit entries come in every size a directory byte can name.
constexpr int kMaxTrueColorSize = 256;
constexpr std::uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr int kPngHeaderBytes = 33;  // signature, IHDR length, type, data and CRC

// Puts the stream back where it was, also when an error passes.
class TPositionKeeper {
public:
    explicit TPositionKeeper(TStream& stream) : m_stream(stream), m_position(stream.Position()) {}
    ~TPositionKeeper() { m_stream.SetPosition(m_position); }
    TPositionKeeper(const TPositionKeeper&) = delete;
    TPositionKeeper& operator=(const TPositionKeeper&) = delete;

private:
    TStream& m_stream;
    std::int64_t m_position;
};

// Exactly count bytes at position, or false: a short file never leaves
// undefined bytes behind.
bool ReadAt(TStream& stream, std::int64_t position, void* buffer, std::int64_t count)
{
    if (position < 0 || count < 0)
        return false;
    stream.SetPosition(position);
    auto* dest = static_cast<std::uint8_t*>(buffer);
    std::int64_t got = 0;
    while (got < count) {
        const std::int64_t n = stream.Read(dest + got, count - got);
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

struct TEntry {
    std::uint32_t bytesInResource = 0;
    std::uint32_t imageOffset = 0;
};

TEntry ParseEntry(const std::uint8_t* p)
{
    return {U32LE(p + kEntryBytesInResource), U32LE(p + kEntryImageOffset)};
}

bool ReadEntry(TStream& stream, std::int64_t offset, int index, TEntry& entry)
{
    std::array<std::uint8_t, kDirectoryEntrySize> bytes{};
    if (!ReadAt(stream, offset + kDirectoryHeaderSize + std::int64_t(kDirectoryEntrySize) * index, bytes.data(),
                kDirectoryEntrySize))
        return false;
    entry = ParseEntry(bytes.data());
    return true;
}

// Directory header count without validating the entries.
int DirectoryCount(TStream& stream, std::int64_t offset)
{
    std::array<std::uint8_t, kDirectoryHeaderSize> header{};
    return ReadAt(stream, offset, header.data(), kDirectoryHeaderSize) ? U16LE(header.data() + 4) : 0;
}

struct TInfoHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int bitCount = 0;
};

bool ReadInfoHeader(TStream& stream, std::int64_t position, TInfoHeader& info)
{
    std::array<std::uint8_t, kInfoHeaderSize> bytes{};
    if (!ReadAt(stream, position, bytes.data(), kInfoHeaderSize))
        return false;
    info.width = std::int32_t(U32LE(bytes.data() + kInfoWidth));
    // Twice the icon height: it covers the colour bitmap and the mask.
    info.height = std::int32_t(U32LE(bytes.data() + kInfoHeight)) / 2;
    info.bitCount = U16LE(bytes.data() + kInfoBitCount);
    return true;
}

std::size_t RowSize(int width, int bits)
{
    return (std::size_t(width) * std::size_t(bits) + 31) / 32 * 4;
}

std::string ColorText(int bitCount)
{
    switch (bitCount) {
    case 1: return "2";
    case 4: return "16";
    case 8: return "256";
    default: return "";
    }
}

// True when the image data of the entry is a PNG stream (as today's icons store
// their large images) rather than a BITMAPINFOHEADER.
bool IsPngEntry(TStream& stream, std::int64_t position)
{
    std::uint8_t signature[8];
    return ReadAt(stream, position, signature, 8) && std::memcmp(signature, kPngSignature, 8) == 0;
}

// Width, height and bits per pixel from a PNG entry's IHDR chunk.
bool ReadPngEntryInfo(TStream& stream, std::int64_t position, TInfoHeader& info)
{
    std::uint8_t head[kPngHeaderBytes];
    if (!ReadAt(stream, position, head, kPngHeaderBytes))
        return false;
    const auto u32be = [](const std::uint8_t* p) {
        return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    };
    info.width = std::int32_t(u32be(head + 16));
    info.height = std::int32_t(u32be(head + 20));
    const int depth = head[24];
    const int channels[7] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
    info.bitCount = head[25] < 7 ? depth * channels[head[25]] : 0;
    return true;
}

// The size and depth an entry's own header (BITMAPINFOHEADER or PNG IHDR)
// gives; an entry that has none ranks below every other.
TInfoHeader EntryImageInfo(TStream& stream, std::int64_t offset, int index)
{
    TEntry entry;
    TInfoHeader info;
    if (!ReadEntry(stream, offset, index, entry))
        return {-1, -1, -1};
    const std::int64_t position = offset + std::int64_t(entry.imageOffset);
    const bool ok = IsPngEntry(stream, position) ? ReadPngEntryInfo(stream, position, info)
                                                 : ReadInfoHeader(stream, position, info);
    return ok ? info : TInfoHeader{-1, -1, -1};
}

// The entries in the order images are numbered: the largest first, of equal
// sizes the deepest, then in directory order. Index 0, the one loaded by
// default, is thus the best picture of the icon. Icons with more entries than
// any real one are taken in directory order.
std::vector<int> EntryOrder(TStream& stream, std::int64_t offset, int count)
{
    std::vector<int> order(std::size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i)
        order[std::size_t(i)] = i;
    constexpr int kMaxRankedEntries = 256;
    if (count > kMaxRankedEntries)
        return order;
    std::vector<std::pair<std::int64_t, int>> rank(order.size());
    for (int i = 0; i < count; ++i) {
        const TInfoHeader info = EntryImageInfo(stream, offset, i);
        const std::int64_t area = info.width > 0 && info.height > 0 ? std::int64_t(info.width) * info.height : -1;
        rank[std::size_t(i)] = {area, info.bitCount};
    }
    std::stable_sort(order.begin(), order.end(), [&rank](int a, int b) { return rank[std::size_t(a)] > rank[std::size_t(b)]; });
    return order;
}

// The whole entry decoded by the PNG reader from memory: the directory check
// has already placed the entry inside the stream, so its size is bounded.
void ReadPngEntry(TStream& stream, std::int64_t position, std::uint32_t size, TPixelGraphic& graphic)
{
    std::vector<std::uint8_t> bytes(size);
    if (!ReadAt(stream, position, bytes.data(), std::int64_t(size)))
        throw EPixelGraphic(kMsgIndexOutOfBounds);
    TReadOnlyMemoryStream png(bytes.data(), bytes.size());
    // No mask colour here: the PNG's own transparency decides.
    graphic.SetTransparent(false);
    TPNGFileFormatReader().Read(png, graphic, 0);
}

// A 24- or 32-bit entry: BITMAPINFOHEADER, no palette, the colour rows (blue,
// green, red and, for 32 bits, alpha) bottom-up, then the AND mask. 32-bit
// pixels keep their alpha in a 32-bit image and the mask is not needed;
// 24-bit ones have only the mask, and masked pixels get IcoMaskColor.
void ReadTrueColorEntry(TStream& stream, std::int64_t position, std::uint32_t size, TPixelGraphic& graphic,
                        TObject* sender)
{
    std::array<std::uint8_t, kInfoHeaderSize> header{};
    if (!ReadAt(stream, position, header.data(), kInfoHeaderSize))
        throw EPixelGraphic(kMsgIndexOutOfBounds);
    // Newer writers use the longer BITMAPV4/V5 headers; the pixels follow them.
    const std::uint32_t headerSize = U32LE(header.data());
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124)
        throw EPixelGraphic(kMsgIndexOutOfBounds);
    const std::int32_t width = std::int32_t(U32LE(header.data() + kInfoWidth));
    const std::int32_t height = std::int32_t(U32LE(header.data() + kInfoHeight)) / 2;
    const int bits = U16LE(header.data() + kInfoBitCount);
    const std::uint32_t compression = U32LE(header.data() + kInfoCompression);
    if (width < 1 || width > kMaxTrueColorSize || height < 1 || height > kMaxTrueColorSize || compression != 0)
        throw EPixelGraphic(kMsgIndexOutOfBounds);
    const std::size_t rowSize = RowSize(width, bits);
    const std::size_t maskRowSize = RowSize(width, 1);
    const std::size_t colorBytes = rowSize * std::size_t(height);
    // The mask of a 32-bit image repeats what alpha says; some writers leave it out.
    const std::size_t needed = headerSize + colorBytes + (bits == 24 ? maskRowSize * std::size_t(height) : 0);
    if (size < needed)
        throw EPixelGraphic(kMsgIndexOutOfBounds);
    std::vector<std::uint8_t> data(needed - headerSize);
    if (!ReadAt(stream, position + headerSize, data.data(), std::int64_t(data.size())))
        throw EPixelGraphic(kMsgIndexOutOfBounds);

    CheckImagePixels(width, height);
    graphic.SetSize(width, height, bits == 32 ? bc32 : bc24);
    graphic.SetTransparent(bits == 24);
    graphic.SetPaletteCount(0);
    const std::uint8_t mask[3] = {BlueOf(IcoMaskColor), GreenOf(IcoMaskColor), RedOf(IcoMaskColor)};
    TProgressScope progress(graphic, sender);
    for (int y = 0; y < height; ++y) {
        const std::size_t stored = std::size_t(height - 1 - y);
        const std::uint8_t* row = data.data() + stored * rowSize;
        const std::uint8_t* maskRow = data.data() + colorBytes + stored * maskRowSize;
        std::uint8_t* line = graphic.ScanLine(y);
        if (bits == 32) {
            std::memcpy(line, row, 4 * std::size_t(width));
        } else {
            for (int x = 0; x < width; ++x) {
                std::uint8_t* out = line + 3 * std::size_t(x);
                if (GetPacked1(maskRow, x))
                    std::memcpy(out, mask, 3);
                else
                    std::memcpy(out, row + 3 * std::size_t(x), 3);
            }
        }
        if (graphic.Progress(sender, y, height - 1))
            break;
    }
}

}  // namespace

// ---- tIconHandler ---------------------------------------------------------------------

TIconDirectory tIconHandler::ReadDirectory(TStream& stream, std::int64_t offset)
{
    TPositionKeeper keep(stream);
    const std::int64_t size = stream.Size();
    std::int64_t remaining = size - (offset + kDirectoryHeaderSize);
    if (offset < 0 || remaining <= 0)
        return {};
    std::array<std::uint8_t, kDirectoryHeaderSize> header{};
    if (!ReadAt(stream, offset, header.data(), kDirectoryHeaderSize))
        return {};
    const int reserved = U16LE(header.data());
    const int type = U16LE(header.data() + 2);
    const int count = U16LE(header.data() + 4);
    if (reserved != 0 || (type != kTypeIcon && type != kTypeCursor) || count == 0)
        return {};
    remaining -= std::int64_t(kDirectoryEntrySize) * count;
    if (remaining <= 0)
        return {};
    std::vector<std::uint8_t> entries(std::size_t(kDirectoryEntrySize) * std::size_t(count));
    if (!ReadAt(stream, offset + kDirectoryHeaderSize, entries.data(), std::int64_t(entries.size())))
        return {};
    for (int i = 0; i < count; ++i) {
        const TEntry entry = ParseEntry(entries.data() + std::size_t(kDirectoryEntrySize) * std::size_t(i));
        // 64-bit sums: two 32-bit fields near 4 GB must not wrap into a small number.
        if (offset + std::int64_t(entry.imageOffset) + std::int64_t(entry.bytesInResource) > size)
            return {};
    }
    return {count, type};
}

TIconEntryInfo tIconHandler::EntryInfo(TStream& stream, std::int64_t offset, int index)
{
    TPositionKeeper keep(stream);
    // Only the count is needed here: GetInfo asks for every entry of a
    // directory that may hold 65535 of them.
    TEntry entry;
    TInfoHeader info;
    if (index < 0 || index >= DirectoryCount(stream, offset) || !ReadEntry(stream, offset, index, entry))
        return {};
    const std::int64_t position = offset + entry.imageOffset;
    if (IsPngEntry(stream, position) ? !ReadPngEntryInfo(stream, position, info)
                                     : !ReadInfoHeader(stream, position, info))
        return {};
    return {info.width, info.height, info.bitCount};
}

bool tIconHandler::LoadEntry(TStream& stream, std::int64_t offset, int index)
{
    const TIconDirectory directory = ReadDirectory(stream, offset);
    if (index < 0 || index >= directory.count)
        return false;
    TPositionKeeper keep(stream);
    TEntry entry;
    TInfoHeader info;
    if (!ReadEntry(stream, offset, index, entry) || !ReadInfoHeader(stream, offset + entry.imageOffset, info) ||
        !Prepare(info.width, info.height, directory.type, info.bitCount))
        return false;
    // The entry's size must match the bitmaps exactly; checked before reading
    // so that a wrong size cannot make us read someone else's bytes.
    if (std::uint64_t(entry.bytesInResource) + kBlockInfoOffset != m_block.size()) {
        Free();
        return false;
    }
    const std::int64_t dataStart = offset + std::int64_t(entry.imageOffset) + kInfoHeaderSize;
    if (!ReadAt(stream, dataStart, m_block.data() + kHeaderBytes, std::int64_t(m_block.size()) - kHeaderBytes)) {
        Free();
        return false;
    }
    // The file stores blue first.
    m_colorValueOrder = false;
    SetPaletteOrder(m_wantedColorValueOrder);
    return true;
}

bool tIconHandler::Prepare(int width, int height, int type, int bitCount)
{
    Free();
    if (width < kMinSize || width > kMaxSize || height < kMinSize || height > kMaxSize ||
        (bitCount != 1 && bitCount != 4 && bitCount != 8) || (type != kTypeIcon && type != kTypeCursor))
        return false;
    m_width = width;
    m_height = height;
    m_bitCount = bitCount;
    m_colorCount = 1 << bitCount;
    m_type = type;
    m_rowSize = RowSize(width, bitCount);
    m_maskRowSize = RowSize(width, 1);
    m_paletteOffset = kHeaderBytes;
    m_paletteSize = 4 * std::size_t(m_colorCount);
    m_bitmapOffset = m_paletteOffset + m_paletteSize;
    m_bitmapSize = m_rowSize * std::size_t(height);
    m_maskOffset = m_bitmapOffset + m_bitmapSize;
    m_maskSize = m_maskRowSize * std::size_t(height);
    m_block.assign(m_maskOffset + m_maskSize, 0);

    std::uint8_t* b = m_block.data();
    PutU16LE(b + 2, std::uint32_t(type));
    PutU16LE(b + 4, 1);
    std::uint8_t* e = b + kBlockEntryOffset;
    e[0] = std::uint8_t(width);
    e[1] = std::uint8_t(height);
    e[2] = std::uint8_t(m_colorCount);  // 256 is stored as 0
    PutU32LE(e + kEntryBytesInResource, std::uint32_t(m_block.size() - kBlockInfoOffset));
    PutU32LE(e + kEntryImageOffset, kBlockInfoOffset);
    std::uint8_t* h = b + kBlockInfoOffset;
    PutU32LE(h, kInfoHeaderSize);
    PutU32LE(h + kInfoWidth, std::uint32_t(width));
    PutU32LE(h + kInfoHeight, std::uint32_t(height * 2));
    PutU16LE(h + kInfoPlanes, 1);
    PutU16LE(h + kInfoBitCount, std::uint32_t(bitCount));
    PutU32LE(h + kInfoImageSize, std::uint32_t(m_bitmapSize + m_maskSize));
    m_colorValueOrder = true;
    return true;
}

void tIconHandler::CacheRow(int y)
{
    if (y == m_currentRow)
        return;
    const std::size_t stored = std::size_t(m_height - 1 - y);
    m_colorRow = m_block.data() + m_bitmapOffset + stored * m_rowSize;
    m_maskRow = m_block.data() + m_maskOffset + stored * m_maskRowSize;
    m_currentRow = y;
}

int tIconHandler::PixelIndex(int x, int y)
{
    if (m_block.empty() || x < 0 || x >= m_width || y < 0 || y >= m_height)
        return 0;
    CacheRow(y);
    switch (m_bitCount) {
    case 1: return int(GetPacked1(m_colorRow, x));
    case 4: return int(GetPacked4(m_colorRow, x));
    default: return m_colorRow[x];
    }
}

TRGB tIconHandler::PixelColor(int x, int y)
{
    if (m_block.empty() || x < 0 || x >= m_width || y < 0 || y >= m_height)
        return m_maskColor;
    CacheRow(y);
    if (GetPacked1(m_maskRow, x))
        return m_maskColor;
    return PaletteEntry(PixelIndex(x, y));
}

TRGB tIconHandler::PaletteEntry(int index) const
{
    if (m_block.empty() || index < 0 || index >= m_colorCount)
        return 0;
    // The fourth byte of an entry is reserved, not part of the colour.
    return U32LE(m_block.data() + m_paletteOffset + 4 * std::size_t(index)) & 0x00FFFFFF;
}

void tIconHandler::SetPaletteOrder(bool colorValueOrder)
{
    if (colorValueOrder == m_colorValueOrder || m_block.empty())
        return;
    for (int i = 0; i < m_colorCount; ++i) {
        std::uint8_t* entry = m_block.data() + m_paletteOffset + 4 * std::size_t(i);
        std::swap(entry[0], entry[2]);
    }
    m_colorValueOrder = colorValueOrder;
}

void tIconHandler::Free()
{
    m_block.clear();
    m_block.shrink_to_fit();
    m_width = 0;
    m_height = 0;
    m_currentRow = -1;
    m_colorRow = nullptr;
    m_maskRow = nullptr;
}

// ---- tIcoFileFormatReader -----------------------------------------------------------

tIcoFileFormatReader::tIcoFileFormatReader()
{
    Extension = "ico";
    Description = "Windows Icon";
    HasSignature = true;
}

bool tIcoFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    if (header.Count < kDirectoryHeaderSize)
        return false;
    const std::uint8_t* b = header.Bytes.data();
    return U16LE(b) == 0 && U16LE(b + 2) == kTypeIcon && U16LE(b + 4) != 0;
}

void tIcoFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    graphic.SetTransparent(true);
    graphic.SetTransparentColor(Settings().IcoMaskColor);
    tIconHandler handler;
    handler.SetMaskColor(Settings().IcoMaskColor);
    const std::int64_t offset = stream.Position();
    const TIconDirectory directory = handler.ReadDirectory(stream, offset);
    if (directory.type != kTypeIcon || directory.count <= 0)
        throw EPixelGraphic(Settings().IcoNotAnIconMessage);
    if (imageIndex < 0 || imageIndex >= directory.count)
        throw EPixelGraphic(kMsgIndexOutOfBounds);
    imageIndex = EntryOrder(stream, offset, directory.count)[std::size_t(imageIndex)];
    TEntry entry;
    TInfoHeader info;
    if (ReadEntry(stream, offset, imageIndex, entry)) {
        const std::int64_t position = offset + std::int64_t(entry.imageOffset);
        if (IsPngEntry(stream, position)) {
            ReadPngEntry(stream, position, entry.bytesInResource, graphic);
            return;
        }
        if (ReadInfoHeader(stream, position, info) && (info.bitCount == 24 || info.bitCount == 32)) {
            ReadTrueColorEntry(stream, position, entry.bytesInResource, graphic, this);
            return;
        }
    }
    handler.LoadEntry(stream, offset, imageIndex);
    const int width = handler.Width();
    const int height = handler.Height();
    // A failed load has no size, so this catches every refusal of the image.
    if (width < kMinSize || width > kMaxSize || height < kMinSize || height > kMaxSize)
        throw EPixelGraphic(kMsgIndexOutOfBounds);

    CheckImagePixels(width, height);
    const bool trueColor = Settings().IcoTrueColor;
    if (trueColor) {
        graphic.SetSize(width, height, bc24);
        graphic.SetTransparent(true);
        graphic.SetTransparentColor(Settings().IcoMaskColor);
        graphic.SetPaletteCount(0);
    } else {
        const int bits = handler.BitCount();
        graphic.SetSize(width, height, bits == 1 ? bc1 : bits == 4 ? bc4 : bc8);
        graphic.SetTransparent(false);
        graphic.SetPaletteCount(handler.ColorCount());
        for (int i = 0; i < handler.ColorCount(); ++i)
            graphic.SetPaletteColor(i, handler.PaletteEntry(i));
    }
    TProgressScope progress(graphic, this);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            graphic.SetPixel(x, y, trueColor ? handler.PixelColor(x, y) : std::uint32_t(handler.PixelIndex(x, y)));
        if (graphic.Progress(this, y, height - 1))
            break;
    }
}

void tIcoFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    tIconHandler handler;
    const std::int64_t offset = stream.Position();
    const TIconDirectory directory = handler.ReadDirectory(stream, offset);
    if (directory.type != kTypeIcon || directory.count <= 0)
        throw EPixelGraphic(Settings().IcoNotAnIconMessage);
    info.ImageCount = directory.count;
    const std::vector<int> order = EntryOrder(stream, offset, directory.count);
    const int shown = imageIndex >= 0 && imageIndex < directory.count ? imageIndex : 0;
    const TIconEntryInfo first = handler.EntryInfo(stream, offset, order[std::size_t(shown)]);
    info.Width = first.width;
    info.Height = first.height;
    info.BitsPerPixel = first.bitCount;
    if (directory.count == 1) {
        info.ColorsText = ColorText(first.bitCount);
        return;
    }
    int minWidth = first.width;
    int maxWidth = first.width;
    int minBits = first.bitCount;
    int maxBits = first.bitCount;
    for (int i = 0; i < directory.count; ++i) {
        const TIconEntryInfo entry = handler.EntryInfo(stream, offset, i);
        minWidth = std::min(minWidth, entry.width);
        maxWidth = std::max(maxWidth, entry.width);
        minBits = std::min(minBits, entry.bitCount);
        maxBits = std::max(maxBits, entry.bitCount);
    }
    info.SubFormatText = Settings().IcoSizesWord + " " + std::to_string(minWidth) + ".." + std::to_string(maxWidth);
    info.ExtraText = Settings().IcoColorsWord + " " + ColorText(minBits) + ".." + ColorText(maxBits);
}

}  // namespace rastova
