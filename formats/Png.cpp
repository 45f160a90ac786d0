#include "formats/Png.h"

#include "formats/CodecTrap.h"
#include "formats/PngMetadata.h"
#include "image/ColorProfile.h"
#include "formats/PngBlocks.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PackedPixels.h"
#include "image/PaletteRepair.h"
#include "image/Streams.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <png.h>
#include <zlib.h>

namespace rastova {

namespace {

const char* const kTag = "PNG: ";
constexpr std::uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr int kChunkHeaderSize = 8;  // length and type
constexpr int kChunkCrcSize = 4;
// Deflate codes at most 258 bytes in two bits, so compressed data can never
// stand for more than 1032 times its size.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

[[noreturn]] void Fail(const std::string& message)
{
    throw EPGPNGFileFormatReaderWriter(kTag + message);
}

// ---- errors: the codec jumps back, C++ throws ---------------------------------------

// The codec's way back to us. Errors jump at once. A warning that must stop the
// coding is only noted, because libpng may hold memory of its own in the frame
// that warns; the stop is raised as soon as the codec call returns.
struct TPngContext : TCodecTrap {
    TStream* stream = nullptr;
};

TPngContext& ContextOf(png_const_structrp png)
{
    return *static_cast<TPngContext*>(png_get_error_ptr(png));
}

void ErrorFn(png_structp png, png_const_charp message)
{
    TPngContext& context = ContextOf(png);
    // While a structure is being created libpng recovers from its own errors.
    if (!context.armed)
        return;
    if (context.stop == TCodecStop::None) {
        context.KeepMessage(message);
        context.stop = TCodecStop::CodecError;
    }
    context.JumpBack();
}

void WarningFn(png_structp png, png_const_charp message)
{
    TPngContext& context = ContextOf(png);
    if (context.warningAction == pgwaIgnore || context.stop != TCodecStop::None)
        return;
    context.KeepMessage(message);
    context.WarningAllowsGoingOn("PNG");
}

// ---- stream input and output ----------------------------------------------------------

std::int64_t TransferGuarded(TPngContext& context, png_bytep data, std::size_t length, bool write)
{
    try {
        return write ? context.stream->Write(data, std::int64_t(length))
                     : context.stream->Read(data, std::int64_t(length));
    } catch (...) {
        context.KeepException();
        return -1;
    }
}

void ReadFn(png_structp png, png_bytep data, std::size_t length)
{
    TPngContext& context = *static_cast<TPngContext*>(png_get_io_ptr(png));
    if (TransferGuarded(context, data, length, false) != std::int64_t(length))
        png_error(png, "Read Error");
}

void WriteFn(png_structp png, png_bytep data, std::size_t length)
{
    TPngContext& context = *static_cast<TPngContext*>(png_get_io_ptr(png));
    if (TransferGuarded(context, data, length, true) != std::int64_t(length))
        png_error(png, "Write Error");
}

void FlushFn(png_structp) {}

// libpng keeps its interface within a release series (1.6.x) and zlib within its
// first version digit, so those are what the linked codecs must share with our headers.
bool CodecReleasesMatch()
{
    const char* zlib = zlibVersion();
    return png_access_version_number() / 100 == PNG_LIBPNG_VER / 100 && zlib != nullptr &&
           zlib[0] == ZLIB_VERSION[0];
}

// Owns the codec's structures for one call; destroying them is safe at any stage.
class TPngCodec {
public:
    TPngCodec(bool write, TPGWarningAction warningAction) : m_write(write)
    {
        m_context.warningAction = warningAction;
    }
    ~TPngCodec()
    {
        if (m_png != nullptr && m_write)
            png_destroy_write_struct(&m_png, &m_info);
        else if (m_png != nullptr)
            png_destroy_read_struct(&m_png, &m_info, nullptr);
    }
    TPngCodec(const TPngCodec&) = delete;
    TPngCodec& operator=(const TPngCodec&) = delete;

    void Create(TStream& stream)
    {
        m_context.stream = &stream;
        if (m_write) {
            m_png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &m_context, ErrorFn, WarningFn);
            if (m_png == nullptr)
                Fail(MessageText(kMsgFailed, "png_create_write_struct"));
        } else {
            m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &m_context, ErrorFn, WarningFn);
            if (m_png == nullptr)
                Fail(MessageText(kMsgFailed, "png_create_read_struct"));
        }
        m_info = png_create_info_struct(m_png);
        if (m_info == nullptr)
            Fail(MessageText(kMsgFailed, "png_create_info_struct"));
        if (m_write) {
            png_set_write_fn(m_png, &m_context, WriteFn, FlushFn);
        } else {
            png_set_read_fn(m_png, &m_context, ReadFn);
            // libpng takes and clears a buffer as large as one of these chunks claims
            // (up to 2 GB) before it reads the data; nothing here uses them, so they
            // are passed over like unknown chunks.
            static const png_byte kUnusedChunks[] = "tEXt\0zTXt\0iTXt\0sPLT\0pCAL\0sCAL";
            png_set_keep_unknown_chunks(m_png, PNG_HANDLE_CHUNK_NEVER, kUnusedChunks, 6);
        }
    }

    png_structp Png() const { return m_png; }
    png_infop Info() const { return m_info; }

    // Runs codec calls; a codec error or a stopping warning raises here.
    template <typename TCall>
    void Call(TCall&& call)
    {
        CallTrapped<EPGPNGFileFormatReaderWriter>(m_context, kTag, call);
    }

private:
    bool m_write;
    TPngContext m_context;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
};

// ---- the file's header ------------------------------------------------------------------

struct TListedChunk {
    const char* type;
    const char* name;
    png_uint_32 infoFlag;
};

// The chunks GetInfo lists, in its order.
constexpr TListedChunk kListedChunks[] = {
    {"gAMA", "gama", PNG_INFO_gAMA}, {"sBIT", "sbit", PNG_INFO_sBIT}, {"cHRM", "chrm", PNG_INFO_cHRM},
    {"PLTE", "plte", PNG_INFO_PLTE}, {"tRNS", "trns", PNG_INFO_tRNS}, {"bKGD", "bkgd", PNG_INFO_bKGD},
    {"hIST", "hist", PNG_INFO_hIST}, {"pHYs", "phys", PNG_INFO_pHYs}, {"oFFs", "offs", PNG_INFO_oFFs},
    {"tIME", "time", PNG_INFO_tIME}};
constexpr std::uint32_t kGamaChunk = 1u << 0;

// Which listed chunks stand before the image data, bit i for kListedChunks[i].
// libpng marks gAMA and cHRM as present when an sRGB or iCCP chunk implies their
// values, so the chunks themselves are looked up here. The stream is put back.
std::uint32_t ScanListedChunks(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const std::int64_t size = stream.Size();
    std::uint32_t found = 0;
    std::uint8_t bytes[kChunkHeaderSize];
    if (stream.Read(bytes, sizeof kSignature) == std::int64_t(sizeof kSignature)) {
        while (stream.Read(bytes, kChunkHeaderSize) == kChunkHeaderSize) {
            const std::uint32_t length = png_get_uint_32(bytes);
            const std::string_view type(reinterpret_cast<const char*>(bytes + 4), 4);
            if (type == "IDAT" || type == "IEND")
                break;
            for (std::size_t i = 0; i < std::size(kListedChunks); ++i)
                if (type == kListedChunks[i].type)
                    found |= 1u << i;
            const std::int64_t next = stream.Position() + std::int64_t(length) + kChunkCrcSize;
            if (next > size)
                break;
            stream.SetPosition(next);
        }
    }
    stream.SetPosition(start);
    return found;
}

bool ListedChunkPresent(png_structp png, png_infop info, std::uint32_t scanned, std::size_t i)
{
    return (scanned & (1u << i)) != 0 && png_get_valid(png, info, kListedChunks[i].infoFlag) != 0;
}

struct TPngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int interlace = 0;
    int channels = 0;
};

TPngHeader HeaderOf(png_structp png, png_infop info)
{
    TPngHeader header;
    header.width = png_get_image_width(png, info);
    header.height = png_get_image_height(png, info);
    header.bitDepth = png_get_bit_depth(png, info);
    header.colorType = png_get_color_type(png, info);
    header.interlace = png_get_interlace_type(png, info);
    header.channels = png_get_channels(png, info);
    return header;
}

bool IsPaletteFile(const TPngHeader& header) { return (header.colorType & PNG_COLOR_MASK_PALETTE) != 0; }

bool IsColourFile(const TPngHeader& header)
{
    return (header.colorType & PNG_COLOR_MASK_COLOR) != 0 && !IsPaletteFile(header);
}

TBitCount BitCountOf(const TPngHeader& header)
{
    if (header.channels >= 3)
        return bc24;
    switch (header.bitDepth) {
    case 1: return bc1;
    case 2:
    case 4: return bc4;
    default: return bc8;
    }
}

// Row bytes as the codec delivers them after our transformations.
std::int64_t OutputRowBytes(const TPngHeader& header)
{
    const std::int64_t width = header.width;
    if (header.channels >= 3)
        return 3 * width;
    return (width * std::min(header.bitDepth, 8) + 7) / 8;
}

// ---- transparency ------------------------------------------------------------------------

int ScaleToEightBits(int value, int bitDepth)
{
    if (bitDepth == 16)
        return value >> 8;
    const int maxValue = (1 << bitDepth) - 1;
    return std::min(value, maxValue) * 255 / maxValue;
}

// The colour a bKGD chunk stands for: the palette entry it names, its gray level
// or its colour, with samples brought to 8 bits the way the pixels are.
TRGB ColorOfBackground(const png_color_16& background, const TPngHeader& header, const png_color* palette,
                       int paletteCount)
{
    if (IsPaletteFile(header)) {
        if (background.index < paletteCount) {
            const png_color& entry = palette[background.index];
            return RGBValue(entry.red, entry.green, entry.blue);
        }
        return RGBValue(std::uint8_t(background.red), std::uint8_t(background.green),
                        std::uint8_t(background.blue));
    }
    if (IsColourFile(header))
        return RGBValue(std::uint8_t(ScaleToEightBits(background.red, header.bitDepth)),
                        std::uint8_t(ScaleToEightBits(background.green, header.bitDepth)),
                        std::uint8_t(ScaleToEightBits(background.blue, header.bitDepth)));
    const auto gray = std::uint8_t(ScaleToEightBits(background.gray, header.bitDepth));
    return RGBValue(gray, gray, gray);
}

// A file with a tRNS chunk or an alpha channel arrives as 32-bit pixels with
// their alpha; the background a bKGD chunk names becomes the image's own, for
// a later flattening, unless the settings say the caller's background wins.
struct TTransparency {
    bool alpha = false;
    std::optional<TRGB> fileColor;
};

TTransparency TransparencyOf(png_structp png, png_infop info, const TPngHeader& header)
{
    TTransparency transparency;
    transparency.alpha =
        png_get_valid(png, info, PNG_INFO_tRNS) != 0 || (header.colorType & PNG_COLOR_MASK_ALPHA) != 0;
    png_color_16p fileBackground = nullptr;
    if (transparency.alpha && Settings().PNGUseFileBackground && png_get_bKGD(png, info, &fileBackground) != 0 &&
        fileBackground != nullptr) {
        png_colorp palette = nullptr;
        int paletteCount = 0;
        png_get_PLTE(png, info, &palette, &paletteCount);
        transparency.fileColor = ColorOfBackground(*fileBackground, header, palette, paletteCount);
    }
    return transparency;
}

// ---- palette and rows ----------------------------------------------------------------------

// The PLTE colours as the file has them. libpng composites its palette against the
// background in place once the transformations start, so they are copied before.
std::vector<TRGB> PlteColors(png_structp png, png_infop info)
{
    std::vector<TRGB> colors;
    png_colorp palette = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &palette, &count) != 0 && palette != nullptr)
        for (int i = 0; i < count; ++i)
            colors.push_back(RGBValue(palette[i].red, palette[i].green, palette[i].blue));
    return colors;
}

void SetPaletteOf(TPixelGraphic& graphic, const TPngHeader& header, const std::vector<TRGB>& plte)
{
    if (graphic.IsTrueColorFormat())
        return;
    if (!IsPaletteFile(header)) {
        static constexpr TPaletteIdent kGrayPalettes[] = {pBlackWhite, pBlackWhite, pGray4, pGray4, pGray16};
        graphic.SetPaletteIdent(header.bitDepth <= 4 ? kGrayPalettes[header.bitDepth] : pGray256);
        return;
    }
    const int count = std::min(int(plte.size()), graphic.PaletteCapacity());
    graphic.SetPaletteCount(count);
    for (int i = 0; i < count; ++i)
        graphic.SetPaletteColor(i, plte[std::size_t(i)]);
}

// Spreads the 2-bit values packed at the start of a row into 4-bit pixels. Working
// from the right keeps every source byte until its last pixel has been taken.
void Expand2BitRow(std::uint8_t* row, int width)
{
    for (int x = width - 1; x >= 0; --x) {
        const int value = (row[x / 4] >> (6 - 2 * (x % 4))) & 3;
        SetPacked4(row, x, unsigned(value));
    }
}

// Leaves the rows read so far usable on every way out of the row loop: 2-bit rows
// spread to 4 bits, and a PLTE shorter than the indices used padded with black,
// as libpng itself treats such indices, so every pixel names a palette entry.
struct TRowRepair {
    TPixelGraphic& graphic;
    const TPngHeader& header;
    ~TRowRepair()
    {
        if (graphic.GetEmpty() || graphic.HasAlpha())
            return;
        if (header.bitDepth == 2)
            for (int y = 0; y < graphic.Height(); ++y)
                Expand2BitRow(graphic.ScanLine(y), graphic.Width());
        if (IsPaletteFile(header))
            ExtendPaletteToPixels(graphic);
    }
};

// Returns true when the progress handler aborted.
bool ReadRows(TPngCodec& codec, TPixelGraphic& graphic, int passes, TObject* sender)
{
    const int height = graphic.Height();
    if (height <= 0 || graphic.Width() <= 0)
        return false;
    png_structp png = codec.Png();
    const int max = height * passes;
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            png_bytep row = graphic.ScanLine(y);
            codec.Call([&] { png_read_rows(png, &row, nullptr, 1); });
            if (graphic.Progress(sender, pass * height + y, max))
                return true;
        }
    }
    return false;
}

const char* ColorsTextOfDepth(int pixelDepth)
{
    switch (pixelDepth) {
    case 1: return "2";
    case 2: return "4";
    case 4: return "16";
    case 8: return "256";
    case 16: return "64K?";
    case 24: return "16.7M";
    case 32: return "16.7M?";
    default: return "?";
    }
}

// A damaged block is dropped with a warning; the picture still loads.
void ReadMetadata(TStream& stream, TPixelGraphic& graphic)
{
    const TPngMetadataDamage damage = ReadPngMetadata(stream, graphic.Metadata());
    if (damage.exif)
        ReadWarning<EPGPNGFileFormatReaderWriter>(graphic, kTag + std::string(kExifDroppedText), "PNG-Warning");
    if (damage.profile)
        ReadWarning<EPGPNGFileFormatReaderWriter>(graphic, kTag + std::string(kProfileDroppedText), "PNG-Warning");
}

// The metadata chunks; libpng copies what it is given.
void SetMetadataChunks(png_structp png, png_infop info, TPngMetadataChunks& chunks)
{
    if (!chunks.exif.empty())
        png_set_eXIf_1(png, info, png_uint_32(chunks.exif.size()), chunks.exif.data());
    if (!chunks.profile.empty())
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, chunks.profile.data(),
                     png_uint_32(chunks.profile.size()));
    if (chunks.physical)
        png_set_pHYs(png, info, chunks.xPerMetre, chunks.yPerMetre, PNG_RESOLUTION_METER);
    png_text texts[2] = {};
    int count = 0;
    if (!chunks.xmp.empty()) {
        texts[count].compression = PNG_ITXT_COMPRESSION_NONE;
        texts[count].key = const_cast<char*>("XML:com.adobe.xmp");
        texts[count].text = chunks.xmp.data();
        texts[count].itxt_length = chunks.xmp.size();
        ++count;
    }
    if (!chunks.comments.empty()) {
        texts[count].compression = PNG_ITXT_COMPRESSION_NONE;
        texts[count].key = const_cast<char*>("Comment");
        texts[count].text = chunks.comments.front().data();
        texts[count].itxt_length = chunks.comments.front().size();
        ++count;
    }
    if (count > 0)
        png_set_text(png, info, texts, count);
}

}  // namespace

// ---- reader -------------------------------------------------------------------------------

TPNGFileFormatReader::TPNGFileFormatReader()
{
    Extension = "png";
    Description = "Portable Network Graphics";
    HasSignature = true;
}

bool TPNGFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= int(sizeof kSignature) &&
           std::equal(std::begin(kSignature), std::end(kSignature), header.Bytes.begin());
}

void TPNGFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalid, "Index"));
    if (!CodecReleasesMatch())
        Fail(kInvalidLibraryVersion);
    graphic.SetGamma(Settings().DisplayGamma);

    const std::uint32_t chunks = ScanListedChunks(stream);
    ReadMetadata(stream, graphic);
    TPngCodec codec(false, graphic.ReadWarningAction());
    codec.Create(stream);
    png_structp png = codec.Png();
    png_infop info = codec.Info();
    codec.Call([&] { png_read_info(png, info); });
    const TPngHeader header = HeaderOf(png, info);
    const TTransparency transparency = TransparencyOf(png, info, header);
    const TBitCount bitCount = transparency.alpha ? bc32 : BitCountOf(header);
    const std::vector<TRGB> plte = PlteColors(png, info);

    double fileGamma = 0;
    if ((chunks & kGamaChunk) != 0 && png_get_gAMA(png, info, &fileGamma) != 0 && fileGamma > 0)
        graphic.SetGamma(1.0L / fileGamma);

    int passes = 1;
    codec.Call([&] {
        if (transparency.alpha) {
            // Palette, gray and tRNS all become 8-bit samples with alpha.
            png_set_expand(png);
            png_set_gray_to_rgb(png);
        }
        if (header.bitDepth == 16)
            png_set_strip_16(png);
        if (IsColourFile(header) || transparency.alpha)
            png_set_bgr(png);
        passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
    });
    // The rows must arrive exactly as wide as the image rows we hand out.
    const int channels = png_get_channels(png, info);
    const std::int64_t rowBytes = transparency.alpha ? 4 * std::int64_t(header.width) : OutputRowBytes(header);
    const bool channelsFit = transparency.alpha ? channels == 4 : channels == 1 || channels == 3;
    if (png_get_rowbytes(png, info) != std::size_t(rowBytes) || !channelsFit)
        Fail(MessageText(kMsgNotSupportedSubformat));
    // Refuse before allocating when the data left cannot inflate to the rows announced.
    const std::int64_t fileRowBytes = (std::int64_t(header.width) * header.bitDepth * header.channels + 7) / 8;
    const std::uint64_t rawBytes = std::uint64_t(fileRowBytes + 1) * header.height;
    if (rawBytes / kMaxDeflateRatio > std::uint64_t(stream.Remaining()))
        Fail(MessageText(kMsgUnexpectedEndOfFile));

    CheckImagePixels(header.width, header.height);
    graphic.SetSize(int(header.width), int(header.height), bitCount);
    SetPaletteOf(graphic, header, plte);
    if (transparency.fileColor)
        graphic.SetBackGroundColor(*transparency.fileColor);

    bool aborted = false;
    {
        TProgressScope progress(graphic, this);
        TRowRepair repair{graphic, header};
        aborted = ReadRows(codec, graphic, passes, this);
    }
    if (!aborted)
        codec.Call([&] { png_read_end(png, info); });
}

void TPNGFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalidValueFor, "Index"));

    const std::uint32_t chunks = ScanListedChunks(stream);
    TPngCodec codec(false, pgwaRaise);
    codec.Create(stream);
    png_structp png = codec.Png();
    png_infop pngInfo = codec.Info();
    codec.Call([&] { png_read_info(png, pngInfo); });
    const TPngHeader header = HeaderOf(png, pngInfo);

    std::string subFormat = "GrayScale";
    if ((header.colorType & PNG_COLOR_MASK_PALETTE) != 0)
        subFormat = "palette";
    else if ((header.colorType & PNG_COLOR_MASK_COLOR) != 0)
        subFormat = "RGB";
    if ((header.colorType & PNG_COLOR_MASK_ALPHA) != 0)
        subFormat += ", alpha";
    if (header.interlace == PNG_INTERLACE_ADAM7)
        subFormat += ", interlaced";
    info.SubFormatText = subFormat;

    std::string names;
    for (std::size_t i = 0; i < std::size(kListedChunks); ++i)
        if (ListedChunkPresent(png, pngInfo, chunks, i))
            names += (names.empty() ? "" : ", ") + std::string(kListedChunks[i].name);
    info.ExtraText = names.empty() ? "" : "(" + names + ")";

    info.Width = int(header.width);
    info.Height = int(header.height);
    info.BitsPerPixel = header.bitDepth * header.channels;
    info.ColorsText = ColorsTextOfDepth(info.BitsPerPixel);
    info.HasAlpha = png_get_valid(png, pngInfo, PNG_INFO_tRNS) != 0 || (header.colorType & PNG_COLOR_MASK_ALPHA) != 0;
}

// ---- writer -------------------------------------------------------------------------------

namespace {

// IDAT chunks of up to this many bytes; a reader takes any size.
constexpr std::size_t kIdatChunkBytes = std::size_t(1) << 20;

// The image data deflated in blocks on several threads, written as IDAT chunks
// through the codec's chunk writer, then IEND. libpng's own end is not called:
// it insists on IDAT data it compressed itself.
void WriteRowsInBlocks(TPngCodec& codec, TPixelGraphic& graphic, TObject* sender, int channels, int bitDepth)
{
    TPngBlockLayout layout;
    layout.Height = graphic.GetHeight();
    layout.RowBytes = (std::size_t(graphic.GetWidth()) * std::size_t(channels * bitDepth) + 7) / 8;
    layout.BytesPerPixel = std::max(1, channels * bitDepth / 8);
    // libpng filters only images of 8 bits per sample and no palette; so do we.
    layout.Filter = bitDepth == 8 && (channels >= 3 || graphic.PaletteIdent() == pGray256);
    layout.BlockBytes = Settings().PNGBlockBytes;
    TPngBlockCoding coding;
    coding.Level = Settings().PNGCompressionLevel < 0 ? 6 : std::min(Settings().PNGCompressionLevel, 9);
    coding.Threads = Settings().PNGWriteThreads;
    const TPixelGraphic& source = graphic;
    const TPngRowSource rows = [&source, &layout, channels](int y, std::uint8_t* dest) {
        const std::uint8_t* row = source.ScanLine(y);
        if (channels == 1) {
            std::copy(row, row + layout.RowBytes, dest);
            return;
        }
        const std::size_t step = std::size_t(channels);  // stored blue, green, red (, alpha)
        for (std::size_t i = 0; i < layout.RowBytes; i += step) {
            dest[i] = row[i + 2];
            dest[i + 1] = row[i + 1];
            dest[i + 2] = row[i];
            if (step == 4)
                dest[i + 3] = row[i + 3];
        }
    };
    png_structp png = codec.Png();
    std::vector<std::uint8_t> chunk;
    const auto flush = [&] {
        codec.Call([&] { png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), chunk.data(), chunk.size()); });
        chunk.clear();
    };
    TProgressScope progress(graphic, sender);
    int rowsReported = 0;
    CompressPngRows(layout, coding, rows, [&](const std::uint8_t* data, std::size_t size, int rowsDone) {
        chunk.insert(chunk.end(), data, data + size);
        if (chunk.size() >= kIdatChunkBytes)
            flush();
        // One event per row as the stream passes it; writers do not stop on Abort.
        for (; rowsReported < rowsDone; ++rowsReported)
            graphic.Progress(sender, rowsReported, layout.Height - 1);
    });
    if (!chunk.empty())
        flush();
    codec.Call([&] { png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0); });
}

}  // namespace


TPNGFileFormatWriter::TPNGFileFormatWriter()
{
    Extension = "png";
    Description = "Portable Network Graphics";
    CanWriteResolutions = TColorResolutions(0xFF);
    CanWriteAlpha = true;
    CarriesColorProfile = true;
}

void TPNGFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
    if (!CodecReleasesMatch())
        Fail(kInvalidLibraryVersion);
    TPngCodec codec(true, graphic.ReadWarningAction());
    codec.Create(stream);
    png_structp png = codec.Png();
    png_infop info = codec.Info();

    const int width = graphic.GetWidth();
    const int height = graphic.GetHeight();
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    if (graphic.BitCount() == bc8 && graphic.PaletteIdent() == pGray256) {
        colorType = PNG_COLOR_TYPE_GRAY;
    } else if (graphic.HasAlpha()) {
        colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    } else if (graphic.BitCount() != bc24) {
        bitDepth = graphic.BitCountNum();
        colorType = PNG_COLOR_TYPE_PALETTE;
    }
    std::vector<png_color> palette;
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        for (int i = 0; i < graphic.PaletteCount(); ++i) {
            const TRGB color = graphic.GetPaletteColor(i);
            palette.push_back({RedOf(color), GreenOf(color), BlueOf(color)});
        }
    // A gamma that has no finite reciprocal cannot be stored.
    const double fileGamma = double(1.0L / graphic.Gamma());
    const bool writeGamma = Settings().PNGWriteGamma && std::isfinite(fileGamma) && fileGamma > 0;
    TPngMetadataChunks chunks = PngMetadataChunks(graphic.Metadata(), width, height);
    const int level = Settings().PNGCompressionLevel;

    codec.Call([&] {
        if (level >= 0)
            png_set_compression_level(png, std::min(level, 9));
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, colorType, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (colorType == PNG_COLOR_TYPE_PALETTE)
            png_set_PLTE(png, info, palette.data(), int(palette.size()));
        if (writeGamma)
            png_set_gAMA(png, info, fileGamma);
        // A profile libpng finds fault with is a warning, not a failed save.
        png_set_benign_errors(png, 1);
        SetMetadataChunks(png, info, chunks);
        png_write_info(png, info);
        // Colour rows go out as stored: blue, green, red.
        png_set_bgr(png);
    });

    if (Settings().PNGBlockCompression) {
        const int channels = colorType == PNG_COLOR_TYPE_RGB ? 3 : colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 1;
        WriteRowsInBlocks(codec, graphic, this, channels, bitDepth);
        return;
    }
    {
        TProgressScope progress(graphic, this);
        for (int y = 0; y < height; ++y) {
            png_bytep row = graphic.ScanLine(y);
            codec.Call([&] { png_write_rows(png, &row, 1); });
            // Writers finish what they started: Abort is not looked at.
            graphic.Progress(this, y, height - 1);
        }
    }
    // Everything of info went out before the image data; given info again,
    // libpng would write the eXIf chunk a second time.
    codec.Call([&] { png_write_end(png, nullptr); });
}

}  // namespace rastova
