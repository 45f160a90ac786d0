#include "formats/Pxm.h"

#include "formats/ByteSource.h"
#include "image/PGExceptions.h"
#include "image/PackedPixels.h"
#include "image/PGMessages.h"
#include "image/Streams.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace rastova {

namespace {

const char* const kReaderTag = "PBM, PGM, PPM: ";
constexpr int kBufferSize = 1024;
constexpr std::int64_t kMaxNumber = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void FailRead(const std::string& message)
{
    throw EPGPxMFileFormatReader(kReaderTag + message);
}

void FailEndOfData()
{
    FailRead(MessageText(kMsgUnexpectedEndOfFile));
}

// Characters and numbers over the buffered bytes of the stream.
class TPxMSource {
public:
    explicit TPxMSource(TStream& stream) : m_bytes(stream, &FailEndOfData) {}

    std::uint8_t NextByte() { return m_bytes.Next(); }

    // A '#' swallows the rest of its line and reads as the line feed ending it.
    std::uint8_t NextChar()
    {
        std::uint8_t c = NextByte();
        if (c == '#')
            while (c != 0x0A)
                c = NextByte();
        return c;
    }

    // Skips everything up to a digit; the character ending the digits is consumed.
    // Values saturate instead of wrapping, so a huge number cannot turn negative.
    // A number that the end of the file ends is complete: the last sample of
    // a well-formed file needs no separator after it.
    std::int64_t NextNumber()
    {
        std::uint8_t c = NextChar();
        while (c < '0' || c > '9')
            c = NextChar();
        std::int64_t value = 0;
        while (c >= '0' && c <= '9') {
            value = std::min(value * 10 + (c - '0'), kMaxNumber);
            if (m_bytes.AtEnd())
                break;
            c = NextChar();
        }
        return value;
    }

    std::int64_t Available() { return m_bytes.Available(); }

private:
    TBufferedByteSource m_bytes;
};

struct TVariantInfo {
    const char* subFormat;
    int bitsPerPixel;
};

TVariantInfo InfoOfVariant(int variant)
{
    const bool text = variant <= 3;
    const int kind = (variant - 1) % 3;  // 0 bitmap, 1 graymap, 2 pixmap
    static constexpr int kBits[3] = {1, 8, 24};
    return {text ? "ASCII" : "Binary", kBits[kind]};
}

int ReadVariant(TPxMSource& source)
{
    if (source.NextByte() != 'P')
        FailRead(MessageText(kMsgNotAFile, "PBM, PGM, PPM"));
    const int variant = int(source.NextByte()) - '0';
    if (variant < 1 || variant > 6)
        FailRead(MessageText(kMsgUnknownSubformat));
    return variant;
}

// The least number of bytes the pixel data can take: raw rows are exact, and
// text samples need a digit each plus a separator between neighbours.
std::int64_t MinimumDataBytes(int variant, std::int64_t width, std::int64_t height)
{
    switch (variant) {
    case 4: return (width + 7) / 8 * height;
    case 5: return width * height;
    case 6: return 3 * width * height;
    default: {
        const std::int64_t samples = (variant == 3 ? 3 : 1) * width * height;
        return samples > 0 ? 2 * samples - 1 : 0;
    }
    }
}

std::uint8_t Scale(std::int64_t sample, std::int64_t maxval)
{
    return std::uint8_t(sample * 255 / maxval);
}

void ReadRow(TPxMSource& source, int variant, std::int64_t maxval, int width, std::uint8_t* row)
{
    switch (variant) {
    case 1:
        for (int x = 0; x < width; ++x) {
            // 0 is white (index 1), anything else black (index 0).
            SetPacked1(row, x, source.NextNumber() == 0);
        }
        break;
    case 2:
        for (int x = 0; x < width; ++x)
            row[x] = Scale(source.NextNumber(), maxval);
        break;
    case 3:
        for (int x = 0; x < width; ++x) {
            const std::uint8_t r = Scale(source.NextNumber(), maxval);
            const std::uint8_t g = Scale(source.NextNumber(), maxval);
            const std::uint8_t b = Scale(source.NextNumber(), maxval);
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
        break;
    case 4:
        for (int i = 0, n = (width + 7) / 8; i < n; ++i)
            row[i] = std::uint8_t(~source.NextByte());
        break;
    case 5:
        for (int x = 0; x < width; ++x)
            row[x] = Scale(source.NextByte(), maxval);
        break;
    case 6:
        for (int x = 0; x < width; ++x) {
            const std::uint8_t r = Scale(source.NextByte(), maxval);
            const std::uint8_t g = Scale(source.NextByte(), maxval);
            const std::uint8_t b = Scale(source.NextByte(), maxval);
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
        break;
    }
}

}  // namespace

// ---- reader ---------------------------------------------------------------------------

void TPxMFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        throw EPGPxMFileFormatReader("PxM: " + MessageText(kMsgInvalid, "Index"));
    graphic.SetGamma(Settings().DisplayGamma);
    TPxMSource source(stream);
    const int variant = ReadVariant(source);
    graphic.SetWidth(0);
    graphic.SetHeight(0);
    if (variant == 1 || variant == 4) {
        graphic.SetBitCount(bc1);
        graphic.SetPaletteIdent(pBlackWhite);
    } else if (variant == 2 || variant == 5) {
        graphic.SetBitCount(bc8);
        graphic.SetPaletteIdent(pGray256);
    } else {
        graphic.SetBitCount(bc24);
    }
    const std::int64_t width = source.NextNumber();
    graphic.SetWidth(int(width));
    const std::int64_t height = source.NextNumber();
    // Refuse before allocating when the file cannot hold the pixels it announces.
    if (width > 0 && height > 0 && MinimumDataBytes(variant, width, height) > source.Available())
        FailRead(MessageText(kMsgUnexpectedEndOfFile));
    CheckImagePixels(width, height);
    graphic.SetHeight(int(height));
    const std::int64_t maxval = (variant == 1 || variant == 4) ? 1 : source.NextNumber();
    // A maxval of 0 would divide by zero when scaling.
    if (width < 1 || height < 1 || maxval < 1 || (variant > 3 && maxval > 255))
        FailRead(MessageText(kMsgNotSupportedSubformat));

    TProgressScope progress(graphic, this);
    for (int y = 0; y < int(height); ++y) {
        ReadRow(source, variant, maxval, int(width), graphic.ScanLine(y));
        if (graphic.Progress(this, y, int(height)))
            break;
    }
}

void TPxMFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        FailRead(MessageText(kMsgInvalidValueFor, "Index"));
    TPxMSource source(stream);
    const TVariantInfo variant = InfoOfVariant(ReadVariant(source));
    info.SubFormatText = variant.subFormat;
    info.BitsPerPixel = variant.bitsPerPixel;
    info.Width = int(source.NextNumber());
    info.Height = int(source.NextNumber());
    info.ColorsText = variant.bitsPerPixel == 24 ? "16.7M" : std::to_string(1 << variant.bitsPerPixel);
}

TPBMFileFormatReader::TPBMFileFormatReader()
{
    Extension = "pbm";
    Description = "Portable Bitmap";
    HasSignature = true;
}

bool TPBMFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= 2 && header[0] == 'P' && (header[1] == '1' || header[1] == '4');
}

TPGMFileFormatReader::TPGMFileFormatReader()
{
    Extension = "pgm";
    Description = "Portable Graymap";
    HasSignature = true;
}

bool TPGMFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= 2 && header[0] == 'P' && (header[1] == '2' || header[1] == '5');
}

TPPMFileFormatReader::TPPMFileFormatReader()
{
    Extension = "ppm";
    Description = "Portable Pixelmap";
    HasSignature = true;
}

bool TPPMFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= 2 && header[0] == 'P' && (header[1] == '3' || header[1] == '6');
}

// ---- writer ---------------------------------------------------------------------------

namespace {

[[noreturn]] void FailWrite(const std::string& message)
{
    throw EPGPxMFileFormatWriter(message);
}

// Output through a 1024-byte buffer, flushed when full and at the end.
class TPxMSink {
public:
    explicit TPxMSink(TStream& stream) : m_stream(stream) {}

    void Byte(std::uint8_t b)
    {
        if (m_count == kBufferSize)
            Flush();
        m_buffer[m_count++] = b;
    }
    void Text(const std::string& text)
    {
        for (const char c : text)
            Byte(std::uint8_t(c));
    }
    void Number(unsigned value)
    {
        char digits[12];
        int n = 0;
        do {
            digits[n++] = char('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0)
            Byte(std::uint8_t(digits[--n]));
    }
    void Flush()
    {
        m_stream.WriteBuffer(m_buffer, m_count);
        m_count = 0;
    }

    // A text sample: separated from the one before by a space, or by a line
    // feed where the line would grow beyond kMaxTextLine characters.
    // Samples are bytes: their digits come from a table, and the buffer is
    // checked once for the separator and all three digits.
    void Value(std::uint8_t value, bool firstOfRow)
    {
        const TDecimal& decimal = kDecimals[value];
        if (m_count + 4 > kBufferSize)
            Flush();
        if (!firstOfRow) {
            const bool wrap = m_column + 1 + decimal.length > kMaxTextLine;
            m_buffer[m_count++] = wrap ? 0x0A : ' ';
            m_column = wrap ? 0 : m_column + 1;
        }
        std::memcpy(m_buffer + m_count, decimal.text, 3);
        m_count += decimal.length;
        m_column += decimal.length;
    }
    void EndRow()
    {
        Byte(0x0A);
        m_column = 0;
    }

private:
    // Netpbm's limit for the lines of its plain formats.
    static constexpr int kMaxTextLine = 70;

    struct TDecimal {
        char text[3];
        int length;
    };
    static constexpr std::array<TDecimal, 256> kDecimals = [] {
        std::array<TDecimal, 256> table{};
        for (int v = 0; v < 256; ++v) {
            TDecimal& d = table[std::size_t(v)];
            d.length = v >= 100 ? 3 : v >= 10 ? 2 : 1;
            for (int i = d.length - 1, rest = v; i >= 0; --i, rest /= 10)
                d.text[i] = char('0' + rest % 10);
        }
        return table;
    }();

    TStream& m_stream;
    std::uint8_t m_buffer[kBufferSize];
    int m_count = 0;
    int m_column = 0;
};

// ---- rows: one writer per kind and variant -------------------------------------------------

using TRowWriter = void (*)(TPxMSink& sink, const std::uint8_t* row, int width);

// Black is 1 in the file and index 0 in the image, so the raw bits are inverted.
void WriteBitmapRaw(TPxMSink& sink, const std::uint8_t* row, int width)
{
    for (int i = 0; i < (width + 7) / 8; ++i)
        sink.Byte(std::uint8_t(~row[i]));
}

void WriteBitmapText(TPxMSink& sink, const std::uint8_t* row, int width)
{
    for (int x = 0; x < width; ++x)
        sink.Value(GetPacked1(row, x) ? 0 : 1, x == 0);
    sink.EndRow();
}

void WriteGraymapRaw(TPxMSink& sink, const std::uint8_t* row, int width)
{
    for (int x = 0; x < width; ++x)
        sink.Byte(row[x]);
}

void WriteGraymapText(TPxMSink& sink, const std::uint8_t* row, int width)
{
    for (int x = 0; x < width; ++x)
        sink.Value(row[x], x == 0);
    sink.EndRow();
}

// Rows hold blue, green, red; the file wants red, green, blue.
void WritePixmapRaw(TPxMSink& sink, const std::uint8_t* row, int width)
{
    for (const std::uint8_t* p = row; p < row + 3 * std::size_t(width); p += 3) {
        sink.Byte(p[2]);
        sink.Byte(p[1]);
        sink.Byte(p[0]);
    }
}

void WritePixmapText(TPxMSink& sink, const std::uint8_t* row, int width)
{
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = row + 3 * x;
        sink.Value(p[2], x == 0);
        sink.Value(p[1], false);
        sink.Value(p[0], false);
    }
    sink.EndRow();
}

// Indexed by kind, then text (0) or raw (1).
constexpr TRowWriter kRowWriters[3][2] = {
    {WriteBitmapText, WriteBitmapRaw},
    {WriteGraymapText, WriteGraymapRaw},
    {WritePixmapText, WritePixmapRaw},
};

// ---- the file ---------------------------------------------------------------------------------

// Whether the image is in the one format the kind stores.
bool StoresAs(TPxMKind kind, const TPixelGraphic& graphic)
{
    switch (kind) {
    case TPxMKind::Bitmap: return graphic.BitCount() == bc1 || graphic.PaletteIdent() == pBlackWhite;
    case TPxMKind::Graymap: return graphic.BitCount() == bc8 || graphic.PaletteIdent() == pGray256;
    case TPxMKind::Pixmap: return graphic.BitCount() == bc24;
    }
    return false;
}

void CheckWritable(TPxMKind kind, const TPixelGraphic& graphic)
{
    static const char* const kTags[] = {"PBM: ", "PGM: ", "PPM: "};
    if (graphic.GetWidth() < 1 || graphic.GetHeight() < 1)
        FailWrite(kReaderTag + MessageText(kMsgWidthOrHeightZero));
    if (!StoresAs(kind, graphic))
        FailWrite(kTags[int(kind)] + MessageText(kMsgInvalidColorResolution));
}

// Magic number, size and, where samples are bytes, the maxval 255.
void WriteFileHeader(TPxMSink& sink, TPxMKind kind, bool binary, int width, int height)
{
    sink.Byte('P');
    sink.Byte(std::uint8_t('1' + int(kind) + (binary ? 3 : 0)));
    sink.Byte(0x0A);
    sink.Number(unsigned(width));
    sink.Byte(' ');
    sink.Number(unsigned(height));
    sink.Byte(0x0A);
    if (kind != TPxMKind::Bitmap)
        sink.Text("255\n");
}

}  // namespace

TPXMFileFormatWriter::TPXMFileFormatWriter(TPxMKind kind) : Kind(kind) {}

void TPXMFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
    // Checked before anything is written, so a refusal leaves the stream as it was.
    CheckWritable(Kind, graphic);
    const bool binary = Settings().PxMWriteBinary;
    const TRowWriter writeRow = kRowWriters[int(Kind)][binary ? 1 : 0];
    const int width = graphic.GetWidth();
    const int height = graphic.GetHeight();
    TPxMSink sink(stream);
    WriteFileHeader(sink, Kind, binary, width, height);
    TProgressScope progress(graphic, &graphic);
    for (int y = 0; y < height; ++y) {
        writeRow(sink, graphic.ScanLine(y), width);
        graphic.Progress(&graphic, y, height);
    }
    sink.Flush();
}

TPBMFileFormatWriter::TPBMFileFormatWriter() : TPXMFileFormatWriter(TPxMKind::Bitmap)
{
    Extension = "pbm";
    Description = "Portable Bitmap";
    CanWriteResolutions = ResolutionBit(crBlackWhite);
}

TPGMFileFormatWriter::TPGMFileFormatWriter() : TPXMFileFormatWriter(TPxMKind::Graymap)
{
    Extension = "pgm";
    Description = "Portable Graymap";
    CanWriteResolutions = ResolutionBit(cr256Gray);
}

TPPMFileFormatWriter::TPPMFileFormatWriter() : TPXMFileFormatWriter(TPxMKind::Pixmap)
{
    Extension = "ppm";
    Description = "Portable Pixelmap";
    CanWriteResolutions = ResolutionBit(crTrueColor);
}

}  // namespace rastova
