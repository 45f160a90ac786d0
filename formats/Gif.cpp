#include "formats/Gif.h"

#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PackedPixels.h"
#include "image/Streams.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace rastova {

namespace {

// The reader's two messages are fixed English texts, not message-table entries.
const char* const kMsgNotAGif = "Not a proper GIF file";
const char* const kMsgIndexOutOfBounds = "Index out of bounds";

constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;

constexpr std::size_t kSignatureSize = 6;         // "GIF" + version
constexpr std::size_t kScreenDescriptorSize = 7;  // width, height, packed, background, aspect
constexpr std::size_t kImageDescriptorSize = 10;  // separator, left, top, width, height, packed
constexpr std::size_t kExtensionHeadSize = 2;     // introducer, label
// Block size, packed byte, delay (2), transparent index, terminator.
constexpr std::size_t kGraphicControlSize = 6;
constexpr std::uint8_t kTransparentFlag = 0x01;  // in the graphic control's packed byte
constexpr std::uint8_t kTableFlag = 0x80;
constexpr std::uint8_t kInterlaceFlag = 0x40;
constexpr std::uint8_t kTableBitsMask = 0x07;
constexpr std::size_t kColorTableBytes = 768;

constexpr int kLzwTableSize = 4096;  // codes never exceed 12 bits
constexpr int kLzwMaxMinCodeSize = 11;
constexpr int kSubBlockMax = 255;

using TColorTable = std::array<std::uint8_t, kColorTableBytes>;

std::vector<std::uint8_t> CopyStream(TStream& stream)
{
    // Sized by what the stream really holds, and cut to what Read delivered.
    std::vector<std::uint8_t> data(std::size_t(std::max<std::int64_t>(stream.Remaining(), 0)));
    std::size_t got = 0;
    while (got < data.size()) {
        const std::int64_t n = stream.Read(data.data() + got, std::int64_t(data.size() - got));
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    data.resize(got);
    return data;
}

// The in-memory copy with a cursor. Nothing here reads past the end: a read
// that would runs to the end instead, which the parser treats as the trailer.
class TGifBytes {
public:
    explicit TGifBytes(std::vector<std::uint8_t> data) : m_data(std::move(data)) {}

    std::size_t Pos() const { return m_pos; }
    std::size_t Left() const { return m_data.size() - m_pos; }
    bool AtEnd() const { return m_pos >= m_data.size(); }
    std::size_t Size() const { return m_data.size(); }
    // Byte at Pos() + offset; the caller has checked Left().
    std::uint8_t At(std::size_t offset) const { return m_data[m_pos + offset]; }
    std::uint16_t U16At(std::size_t offset) const
    {
        const std::uint16_t low = At(offset);
        const std::uint16_t high = At(offset + 1);
        return std::uint16_t(low | (high << 8));
    }
    // -1 at the end.
    int Byte() { return AtEnd() ? -1 : m_data[m_pos++]; }
    void Skip(std::size_t count) { m_pos += std::min(count, Left()); }
    void ToEnd() { m_pos = m_data.size(); }
    // Copies up to count bytes and returns how many there were.
    std::size_t Take(std::uint8_t* dest, std::size_t count)
    {
        const std::size_t n = std::min(count, Left());
        std::memcpy(dest, m_data.data() + m_pos, n);
        m_pos += n;
        return n;
    }
    // Data sub-blocks up to and including the zero-length terminator.
    void SkipSubBlocks()
    {
        for (int length = Byte(); length > 0; length = Byte())
            Skip(std::size_t(length));
    }
    bool Matches(std::size_t offset, const char* text) const
    {
        const std::size_t n = std::strlen(text);
        return Left() >= offset + n && std::memcmp(m_data.data() + m_pos + offset, text, n) == 0;
    }

private:
    std::vector<std::uint8_t> m_data;
    std::size_t m_pos = 0;
};

// Variable-length-code LZW of the GIF standard, codes packed least significant
// bit first across the data sub-blocks.
class TLzwDecoder {
public:
    static constexpr int kEndOfData = -1;  // the data ran out (zero-length block or end of file)
    static constexpr int kEndCode = -2;
    static constexpr int kBroken = -3;     // a code chain longer than the pixel stack

    explicit TLzwDecoder(TGifBytes& bytes) : m_bytes(bytes) {}

    // Reads the minimum code size. False when there is none or it is above 11:
    // a 12-bit clear code would leave no room for codes in the 4096-entry tables.
    bool Start()
    {
        const int minCodeSize = m_bytes.Byte();
        if (minCodeSize < 0 || minCodeSize > kLzwMaxMinCodeSize)
            return false;
        m_minCodeSize = minCodeSize;
        m_clear = 1 << minCodeSize;
        m_end = m_clear + 1;
        for (int i = 0; i < m_clear; ++i)
            m_suffix[std::size_t(i)] = std::uint16_t(i);
        // The tables start zeroed, so the reset has no entries to clear.
        m_nextFree = m_clear + 2;
        ResetTable();
        return true;
    }

    // The next pixel value, or a negative end marker (repeated on further calls).
    int Next()
    {
        if (m_sp > 0)
            return m_stack[std::size_t(--m_sp)];
        if (m_finished)
            return m_result;
        int code = ReadCode();
        if (code < 0)
            return Finish(code);
        if (code == m_clear) {
            ResetTable();
            m_fresh = true;
        }
        if (m_fresh)
            return FirstAfterClear(code);
        if (code == m_end)
            return EndCode();
        return Expand(code);
    }

    // Leaves the cursor behind the image data (after its terminator).
    void SkipRest()
    {
        if (!m_endOfData)
            m_bytes.SkipSubBlocks();
        m_endOfData = true;
        m_finished = true;
    }

private:
    // Only entries added since the last reset can be non-zero, so a reset
    // costs what was built: a stream of clear codes cannot make us zero 16 KB
    // per code.
    void ResetTable()
    {
        for (int i = m_clear + 2; i < m_nextFree; ++i) {
            m_prefix[std::size_t(i)] = 0;
            m_suffix[std::size_t(i)] = 0;
        }
        m_sp = 0;
        m_codeSize = m_minCodeSize + 1;
        m_limit = 2 * m_clear;
        m_nextFree = m_clear + 2;
    }

    // After the start or a clear code: further clear codes change nothing; the
    // first other code is a pixel of its own (the end code ends the data).
    int FirstAfterClear(int code)
    {
        while (code == m_clear) {
            code = ReadCode();
            if (code < 0)
                return Finish(code);
        }
        if (code == m_end)
            return EndCode();
        m_fresh = false;
        m_oldCode = code;
        m_firstValue = code;
        // Only with minimum code sizes 0 and 1 does the first code already
        // reach the limit; growing here keeps such streams in step with the
        // encoders, which count every code.
        GrowCodeSize();
        return code;
    }

    void GrowCodeSize()
    {
        if (m_nextFree >= m_limit && m_limit < kLzwTableSize) {
            m_limit *= 2;
            ++m_codeSize;
        }
    }

    int Expand(int code)
    {
        int k = code;
        if (k >= m_nextFree) {
            // The code being defined right now: the previous string plus its own first value.
            if (!Push(m_firstValue))
                return Finish(kBroken);
            k = m_oldCode;
        }
        // A damaged stream can link entries into a loop; the stack bound ends it.
        while (k >= m_clear) {
            if (!Push(m_suffix[std::size_t(k)]))
                return Finish(kBroken);
            k = m_prefix[std::size_t(k)];
        }
        m_firstValue = m_suffix[std::size_t(k)];
        if (!Push(m_firstValue))
            return Finish(kBroken);
        if (m_nextFree < kLzwTableSize) {
            m_prefix[std::size_t(m_nextFree)] = std::uint16_t(m_oldCode);
            m_suffix[std::size_t(m_nextFree)] = std::uint16_t(m_firstValue);
            ++m_nextFree;
            GrowCodeSize();
        }
        m_oldCode = code;
        return m_stack[std::size_t(--m_sp)];
    }

    bool Push(int value)
    {
        if (m_sp >= kLzwTableSize)
            return false;
        m_stack[std::size_t(m_sp++)] = std::uint16_t(value);
        return true;
    }

    int EndCode()
    {
        SkipRest();
        return Finish(kEndCode);
    }

    int Finish(int result)
    {
        m_sp = 0;
        m_finished = true;
        m_result = result;
        return result;
    }

    int ReadCode()
    {
        // A code may span more than two sub-blocks when they are very short,
        // so refill until it is complete; the two carried bytes always hold
        // the unread bits, as a code has at most 12 of them.
        while (m_curBit + m_codeSize > m_lastBit) {
            if (m_endOfData)
                return kEndOfData;
            LoadSubBlock();
        }
        const std::size_t byte = std::size_t(m_curBit >> 3);
        const std::uint32_t b0 = m_buffer[byte];
        const std::uint32_t b1 = m_buffer[byte + 1];
        const std::uint32_t b2 = m_buffer[byte + 2];
        const std::uint32_t bits = (b0 | (b1 << 8) | (b2 << 16)) >> (m_curBit & 7);
        m_curBit += m_codeSize;
        return int(bits & ((1u << m_codeSize) - 1));
    }

    void LoadSubBlock()
    {
        const int lastByte = m_lastBit >> 3;
        m_buffer[0] = m_buffer[std::size_t(lastByte - 2)];
        m_buffer[1] = m_buffer[std::size_t(lastByte - 1)];
        const int length = m_bytes.Byte();
        std::size_t got = 0;
        if (length > 0)
            got = m_bytes.Take(m_buffer.data() + 2, std::size_t(length));
        if (length <= 0 || got < std::size_t(length))
            m_endOfData = true;
        m_curBit = m_curBit - m_lastBit + 16;
        m_lastBit = int(2 + got) * 8;
    }

    TGifBytes& m_bytes;
    std::array<std::uint16_t, kLzwTableSize> m_prefix{};
    std::array<std::uint16_t, kLzwTableSize> m_suffix{};
    std::array<std::uint16_t, kLzwTableSize> m_stack{};
    int m_sp = 0;
    // Two carried bytes, one sub-block, and slack for the three-byte code fetch.
    std::array<std::uint8_t, 2 + kSubBlockMax + 2> m_buffer{};
    int m_curBit = 16;
    int m_lastBit = 16;
    bool m_endOfData = false;
    bool m_finished = false;
    int m_result = kEndOfData;
    int m_minCodeSize = 0;
    int m_clear = 0;
    int m_end = 0;
    int m_nextFree = 0;
    int m_limit = 0;
    int m_codeSize = 0;
    bool m_fresh = true;
    int m_oldCode = 0;
    int m_firstValue = 0;
};

// Where each decoded row goes: straight down, or the four passes of an
// interlaced image (rows 0, 8, 16, ...; 4, 12, ...; 2, 6, ...; 1, 3, 5, ...).
class TRowOrder {
public:
    TRowOrder(int height, bool interlaced) : m_height(height), m_interlaced(interlaced) {}
    int Row() const { return m_y; }
    // False when the rows are exhausted.
    bool Advance()
    {
        static constexpr int kStart[4] = {0, 4, 2, 1};
        static constexpr int kStep[4] = {8, 8, 4, 2};
        if (!m_interlaced)
            return ++m_y < m_height;
        m_y += kStep[m_pass];
        while (m_y >= m_height) {
            if (++m_pass == 4)
                return false;
            m_y = kStart[m_pass];
        }
        return true;
    }

private:
    int m_height;
    bool m_interlaced;
    int m_y = 0;
    int m_pass = 0;
};

// Stores a value the way SetPixel does for the three palette formats; returns
// the index the pixel now holds.
int PutPixel(std::uint8_t* row, int x, int value, TBitCount format)
{
    switch (format) {
    case bc1: SetPacked1(row, x, value == 1); return value == 1 ? 1 : 0;
    case bc4: SetPacked4(row, x, unsigned(value)); return value & 0x0F;
    default: row[x] = std::uint8_t(value); return value & 0xFF;
    }
}

// The most pixels n bytes of LZW data can yield: at most 8n codes, each
// string at most one longer than the one before and never longer than the table.
std::int64_t MaxPixelsOfData(std::size_t bytes)
{
    constexpr std::int64_t kLongestString = 4096;
    const std::int64_t codes = std::int64_t(std::min<std::size_t>(bytes, std::size_t(1) << 40)) * 8;
    return codes * std::min(codes, kLongestString);
}

TBitCount FormatOfTableBits(int bits)
{
    return bits <= 1 ? bc1 : bits <= 4 ? bc4 : bc8;
}

struct TGifFrame {
    int width = 0;
    int height = 0;
    int tableBits = 0;
    bool interlaced = false;
    int transparentIndex = -1;  // from the graphic control extension before it; -1 none
    TColorTable table{};
};

// One parse of one file: all state of a Read or GetInfo call lives here.
class TGifParse {
public:
    // graphic is nullptr in info mode: the requested frame is only measured.
    TGifParse(TObject& sender, std::vector<std::uint8_t> data, std::int64_t requested, TPixelGraphic* graphic)
        : m_sender(sender), m_bytes(std::move(data)), m_requested(requested), m_graphic(graphic)
    {
    }

    // False when the data is empty or does not start with "GIF".
    bool Run()
    {
        if (!m_bytes.Matches(0, "GIF"))
            return false;
        m_version = m_bytes.Left() > 4 && m_bytes.At(4) == '7' ? "87a" : "89a";
        m_bytes.Skip(kSignatureSize);
        ReadScreenDescriptor();
        while (!m_aborted && !m_bytes.AtEnd()) {
            const std::size_t before = m_bytes.Pos();
            switch (m_bytes.At(0)) {
            case kExtensionIntroducer: ReadExtension(); break;
            case kImageSeparator: ReadImage(); break;
            case kTrailer: m_bytes.ToEnd(); break;
            default: break;
            }
            // An unknown block introducer or extension label ends the parse here.
            if (m_bytes.Pos() == before)
                break;
        }
        return true;
    }

    std::int64_t ImageCount() const { return m_imageCount; }
    const std::string& Version() const { return m_version; }
    bool AnyInterlaced() const { return m_anyInterlaced; }
    int SelectedWidth() const { return m_selectedWidth; }
    int SelectedHeight() const { return m_selectedHeight; }
    int LastTableBits() const { return m_lastTableBits; }

private:
    void ReadScreenDescriptor()
    {
        if (m_bytes.Left() < kScreenDescriptorSize) {
            m_bytes.ToEnd();
            return;
        }
        const std::uint8_t packed = m_bytes.At(4);
        m_bytes.Skip(kScreenDescriptorSize);
        if (packed & kTableFlag) {
            m_globalBits = (packed & kTableBitsMask) + 1;
            // A table cut short keeps zeros where the file ends.
            m_bytes.Take(m_globalTable.data(), 3u << m_globalBits);
        }
    }

    void ReadExtension()
    {
        if (m_bytes.Left() < kExtensionHeadSize) {
            m_bytes.ToEnd();
            return;
        }
        // Every extension, known or not, is skipped by its sub-blocks, whatever
        // their sizes (a NETSCAPE block of another length, a longer control block).
        if (m_bytes.At(1) == kGraphicControlLabel) {
            // Delay and disposal are not applied to a single frame; transparency
            // is, to the image that follows.
            if (m_bytes.Left() >= kExtensionHeadSize + kGraphicControlSize && m_bytes.At(2) >= 4)
                m_transparentIndex = (m_bytes.At(3) & kTransparentFlag) != 0 ? m_bytes.At(6) : -1;
        }
        m_bytes.Skip(kExtensionHeadSize);
        m_bytes.SkipSubBlocks();
    }

    void ReadImage()
    {
        // A descriptor cut short is no image: the end of the data is the trailer.
        if (m_bytes.Left() < kImageDescriptorSize) {
            m_bytes.ToEnd();
            return;
        }
        ++m_imageCount;
        const bool selected = m_imageCount == m_requested;
        const bool decode = selected && m_graphic != nullptr;
        TGifFrame frame;
        frame.width = m_bytes.U16At(5);
        frame.height = m_bytes.U16At(7);
        const std::uint8_t packed = m_bytes.At(9);
        m_bytes.Skip(kImageDescriptorSize);
        if (packed & kTableFlag) {
            frame.tableBits = (packed & kTableBitsMask) + 1;
            const std::size_t tableBytes = 3u << frame.tableBits;
            if (decode)
                m_bytes.Take(frame.table.data(), tableBytes);
            else
                m_bytes.Skip(tableBytes);
        } else {
            // The global table's own size: frames without a table of their
            // own do not depend on the tables of the frames before them.
            frame.tableBits = m_globalBits;
            frame.table = m_globalTable;
        }
        frame.interlaced = (packed & kInterlaceFlag) != 0;
        frame.transparentIndex = m_transparentIndex;
        m_transparentIndex = -1;  // the extension belongs to this image only
        if (selected) {
            m_selectedWidth = frame.width;
            m_selectedHeight = frame.height;
        }
        if (decode)
            Decode(frame);
        else
            SkipImageData();
        m_lastTableBits = frame.tableBits;
        m_anyInterlaced = m_anyInterlaced || frame.interlaced;
    }

    void SkipImageData()
    {
        m_bytes.Skip(1);  // minimum code size
        m_bytes.SkipSubBlocks();
        while (!m_bytes.AtEnd() && m_bytes.At(0) == 0)
            m_bytes.Skip(1);
    }

    // A frame with a transparent index keeps it as alpha, once its indices are placed and repaired.
    void Decode(const TGifFrame& frame)
    {
        const TRGB background = frame.transparentIndex >= 0 ? m_graphic->GetBackGroundColor() : 0;
        DecodeIndexed(frame, background);
        // Flattened at once, the palette entry showing the background is all it takes.
        if (frame.transparentIndex >= 0 && frame.transparentIndex < m_graphic->PaletteCount() && !m_aborted &&
            !Settings().FlattenAlphaOnLoad)
            KeepTransparentIndex(*m_graphic, frame.transparentIndex, background);
    }

    void DecodeIndexed(const TGifFrame& frame, TRGB background)
    {
        TPixelGraphic& graphic = *m_graphic;
        const TBitCount format = FormatOfTableBits(frame.tableBits);
        CheckImagePixels(frame.width, frame.height);
        CheckDataCanFill(frame);
        graphic.SetSize(frame.width, frame.height, format);
        const int colors = 1 << frame.tableBits;
        graphic.SetPaletteCount(colors);
        for (int i = 0; i < colors; ++i) {
            const std::uint8_t* rgb = frame.table.data() + 3 * i;
            graphic.SetPaletteColor(i, RGBValue(rgb[0], rgb[1], rgb[2]));
        }
        // Codes may name entries beyond a short table; they show black. Only
        // the values placed can do so: rows the data never reached hold 0.
        m_maxPlaced = 0;
        struct TExtendPalette {
            TPixelGraphic& graphic;
            const int& maxPlaced;
            ~TExtendPalette()
            {
                if (maxPlaced >= graphic.PaletteCount() && graphic.PaletteCount() < graphic.PaletteCapacity())
                    graphic.SetPaletteCount(maxPlaced + 1);  // new entries are black
            }
        } repair{graphic, m_maxPlaced};
        if (frame.transparentIndex >= 0 && frame.transparentIndex < graphic.PaletteCapacity()) {
            if (frame.transparentIndex >= graphic.PaletteCount())
                graphic.SetPaletteCount(frame.transparentIndex + 1);
            graphic.SetPaletteColor(frame.transparentIndex, background);
        }
        // The decoder's tables belong to this one frame.
        TLzwDecoder lzw(m_bytes);
        const bool started = lzw.Start();
        if (!started || frame.width == 0 || frame.height == 0) {
            // Nothing to place, or a code size the tables cannot hold.
            lzw.SkipRest();
        } else {
            PlacePixels(lzw, frame, format);
            if (!m_aborted)
                lzw.SkipRest();
        }
    }

    // The frame becomes 32-bit, its transparent index fully transparent (in the
    // background's colour); the background stays the image's own.
    static void KeepTransparentIndex(TPixelGraphic& graphic, int transparentIndex, TRGB background)
    {
        TPixelGraphic indexed;
        indexed.Assign(&graphic);
        graphic.SetSize(indexed.Width(), indexed.Height(), bc32);
        graphic.SetBackGroundColor(background);
        graphic.CopyFrom(indexed);
        for (int y = 0; y < graphic.Height() && !graphic.GetEmpty(); ++y)
            for (int x = 0; x < graphic.Width(); ++x)
                if (int(indexed.GetPixel(x, y)) == transparentIndex)
                    graphic.SetPixel(x, y, WithAlpha(background, 0));
    }

    // A frame far larger than its data could ever fill would only cost the
    // allocation and every later step over an empty canvas; frames up to
    // kAlwaysLoaded pixels still load the rows a cut file holds.
    void CheckDataCanFill(const TGifFrame& frame) const
    {
        constexpr std::int64_t kAlwaysLoaded = std::int64_t(1) << 24;
        const std::int64_t pixels = std::int64_t(frame.width) * frame.height;
        if (pixels > kAlwaysLoaded && pixels > MaxPixelsOfData(m_bytes.Left()))
            throw EPixelGraphic("GIF: Image data too short for " + std::to_string(frame.width) + " x " +
                                std::to_string(frame.height) + " pixels");
    }

    void PlacePixels(TLzwDecoder& lzw, const TGifFrame& frame, TBitCount format)
    {
        TPixelGraphic& graphic = *m_graphic;
        TRowOrder rows(frame.height, frame.interlaced);
        std::uint8_t* row = graphic.ScanLine(rows.Row());
        int x = 0;
        int rowsDone = 0;
        for (int value = lzw.Next(); value >= 0; value = lzw.Next()) {
            m_maxPlaced = std::max(m_maxPlaced, PutPixel(row, x, value, format));
            if (++x < frame.width)
                continue;
            x = 0;
            ++rowsDone;
            if (graphic.Progress(&m_sender, rowsDone, frame.height - 1)) {
                m_aborted = true;
                return;
            }
            if (!rows.Advance())
                return;
            row = graphic.ScanLine(rows.Row());
        }
        // The rows the data does not reach keep what SetSize gave them.
        const std::string text = "GIF: Image data ends after " + std::to_string(rowsDone) + " of " +
                                 std::to_string(frame.height) + " rows";
        ReadWarning<EPixelGraphic>(graphic, text, "GIF " + MessageText(kMsgWarning));
    }

    TObject& m_sender;
    TGifBytes m_bytes;
    std::int64_t m_requested;
    TPixelGraphic* m_graphic;
    bool m_aborted = false;
    int m_maxPlaced = 0;
    std::int64_t m_imageCount = 0;
    std::string m_version;
    int m_globalBits = 0;
    TColorTable m_globalTable{};
    bool m_anyInterlaced = false;
    int m_transparentIndex = -1;
    int m_selectedWidth = 0;
    int m_selectedHeight = 0;
    int m_lastTableBits = 0;
};

}  // namespace

tGifFileFormatReader::tGifFileFormatReader()
{
    Extension = "gif";
    Description = "GIF";
    HasSignature = true;
}

bool tGifFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= 3 && header[0] == 'G' && header[1] == 'I' && header[2] == 'F';
}

void tGifFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    TProgressScope progress(graphic, this);

    const std::int64_t requested = std::int64_t(imageIndex) + 1;
    std::int64_t imageCount = 0;
    if (requested >= 1) {
        TGifParse parse(*this, CopyStream(stream), requested, &graphic);
        parse.Run();
        imageCount = parse.ImageCount();
    }
    // A file that is not a GIF has no images and ends here too.
    if (requested < 1 || requested > imageCount)
        throw EPixelGraphic(kMsgIndexOutOfBounds);
}

void tGifFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    const std::int64_t requested = std::int64_t(imageIndex) + 1;
    TGifParse parse(*this, CopyStream(stream), requested, nullptr);
    if (!parse.Run())
        throw EPixelGraphic(kMsgNotAGif);
    if (requested < 1 || requested > parse.ImageCount())
        throw EPixelGraphic(kMsgIndexOutOfBounds);
    info.Width = parse.SelectedWidth();
    info.Height = parse.SelectedHeight();
    info.BitsPerPixel = parse.LastTableBits();
    info.ColorsText = std::to_string(1 << parse.LastTableBits());
    info.ImageCount = int(std::min<std::int64_t>(parse.ImageCount(), INT32_MAX));
    info.SubFormatText = parse.Version();
    info.ExtraText = parse.AnyInterlaced() ? "Interlaced" : "Non-interlaced";
}

}  // namespace rastova
