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
#include <string>

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

// A raw sample of two bytes (maxval above 255), highest byte first, rounded to
// 8 bits; samples above maxval count as maxval.
std::uint8_t NextWideSample(TPxMSource& source, std::int64_t maxval)
{
    const std::int64_t high = source.NextByte();
    const std::int64_t sample = std::min(high << 8 | source.NextByte(), maxval);
    return std::uint8_t((sample * 255 + maxval / 2) / maxval);
}

// Raw rows of 16-bit gray (P5) or RGB (P6) samples.
void ReadWideRow(TPxMSource& source, int variant, std::int64_t maxval, int width, std::uint8_t* row)
{
    if (variant == 5) {
        for (int x = 0; x < width; ++x)
            row[x] = NextWideSample(source, maxval);
        return;
    }
    for (int x = 0; x < width; ++x) {
        row[3 * x + 2] = NextWideSample(source, maxval);
        row[3 * x + 1] = NextWideSample(source, maxval);
        row[3 * x] = NextWideSample(source, maxval);
    }
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
    if (width < 1 || height < 1 || maxval < 1 || (variant > 3 && maxval > 65535))
        FailRead(MessageText(kMsgNotSupportedSubformat));
    const bool wide = variant > 3 && maxval > 255;
    if (wide && 2 * MinimumDataBytes(variant, width, height) > source.Available())
        FailRead(MessageText(kMsgUnexpectedEndOfFile));

    TProgressScope progress(graphic, this);
    for (int y = 0; y < int(height); ++y) {
        if (wide)
            ReadWideRow(source, variant, maxval, int(width), graphic.ScanLine(y));
        else
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

// ---- PAM (P7) ---------------------------------------------------------------------------

namespace {

const char* const kPamTag = "PAM: ";

[[noreturn]] void FailPam(const std::string& message)
{
    throw EPGPxMFileFormatReader(kPamTag + message);
}

struct TPamHeader {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t depth = 0;
    std::int64_t maxval = 0;
    std::string tupleType;
};

// One header word: letters, digits and underscores; the line feed comes back as
// "\n". The character ending a word is consumed and kept in *end.
std::string NextPamWord(TPxMSource& source, std::uint8_t* end = nullptr)
{
    std::uint8_t c = source.NextChar();
    while (c == ' ' || c == '\t' || c == '\r')
        c = source.NextChar();
    if (c == '\n')
        return "\n";
    std::string word;
    while (c > ' ' && word.size() < 64) {
        word += char(c);
        c = source.NextChar();
    }
    if (end)
        *end = c;
    if (word.size() >= 64)
        FailPam(MessageText(kMsgInvalid, "header"));
    return word;
}

std::int64_t PamNumber(const std::string& word)
{
    if (word.empty() || word.size() > 9 || word.find_first_not_of("0123456789") != std::string::npos)
        FailPam(MessageText(kMsgInvalid, "header"));
    return std::stoll(word);
}

TPamHeader ReadPamHeader(TPxMSource& source)
{
    if (source.NextByte() != 'P' || source.NextByte() != '7')
        FailPam(MessageText(kMsgNotAFile, "PAM"));
    TPamHeader header;
    for (int words = 0;; ++words) {
        if (words > 4096)
            FailPam(MessageText(kMsgInvalid, "header"));
        std::uint8_t end = 0;
        const std::string key = NextPamWord(source, &end);
        if (key == "ENDHDR") {
            // The header ends with the line feed after ENDHDR.
            while (end != '\n')
                end = source.NextByte();
            break;
        }
        if (key == "\n")
            continue;
        if (key == "TUPLTYPE") {
            header.tupleType = NextPamWord(source);
            continue;
        }
        std::int64_t* field = key == "WIDTH" ? &header.width : key == "HEIGHT" ? &header.height
                            : key == "DEPTH" ? &header.depth : key == "MAXVAL" ? &header.maxval : nullptr;
        if (!field)
            FailPam(MessageText(kMsgInvalid, key));
        *field = PamNumber(NextPamWord(source));
    }
    return header;
}

// The colour samples of a tuple type (an _ALPHA form adds one sample, the alpha).
int PamColorSamples(const TPamHeader& header)
{
    std::string type = header.tupleType;
    const bool alpha = type.size() > 6 && type.compare(type.size() - 6, 6, "_ALPHA") == 0;
    if (alpha)
        type.resize(type.size() - 6);
    const int samples = type == "BLACKANDWHITE" || type == "GRAYSCALE" ? 1 : type == "RGB" ? 3 : 0;
    if (samples == 0)
        FailPam("tuple type " + (header.tupleType.empty() ? std::string("(none)") : header.tupleType) +
                " is not supported");
    if (header.depth != samples + (alpha ? 1 : 0) || (type == "BLACKANDWHITE" && header.maxval != 1))
        FailPam(MessageText(kMsgInvalid, "DEPTH"));
    return samples;
}

std::uint8_t NextPamSample(TPxMSource& source, std::int64_t maxval)
{
    if (maxval > 255)
        return NextWideSample(source, maxval);
    const std::int64_t sample = std::min<std::int64_t>(source.NextByte(), maxval);
    return std::uint8_t((sample * 255 + maxval / 2) / maxval);
}

void ReadPamRow(TPxMSource& source, const TPamHeader& header, int samples, std::uint8_t* row)
{
    const int width = int(header.width);
    for (int x = 0; x < width; ++x) {
        std::uint8_t values[4] = {};
        for (int s = 0; s < header.depth; ++s)
            values[s] = NextPamSample(source, header.maxval);
        if (header.depth > samples) {  // kept with its alpha in a 32-bit image
            std::uint8_t* out = row + 4 * std::size_t(x);
            out[0] = values[samples == 3 ? 2 : 0];
            out[1] = values[samples == 3 ? 1 : 0];
            out[2] = values[0];
            out[3] = values[samples];
        } else if (samples == 3) {
            row[3 * x] = values[2];
            row[3 * x + 1] = values[1];
            row[3 * x + 2] = values[0];
        } else if (header.maxval == 1) {
            SetPacked1(row, x, values[0] != 0);  // 1 is white, palette index 1
        } else {
            row[x] = values[0];
        }
    }
}

}  // namespace

TPAMFileFormatReader::TPAMFileFormatReader()
{
    Extension = "pam";
    Description = "Portable Arbitrary Map";
    HasSignature = true;
}

bool TPAMFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= 3 && header[0] == 'P' && header[1] == '7' && (header[2] == '\n' || header[2] == '\r');
}

void TPAMFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        FailPam(MessageText(kMsgInvalid, "Index"));
    graphic.SetGamma(Settings().DisplayGamma);
    TPxMSource source(stream);
    const TPamHeader header = ReadPamHeader(source);
    const int samples = PamColorSamples(header);
    if (header.width < 1 || header.height < 1 || header.maxval < 1 || header.maxval > 65535)
        FailPam(MessageText(kMsgNotSupportedSubformat));
    const std::int64_t bytes = header.width * header.height * header.depth * (header.maxval > 255 ? 2 : 1);
    if (bytes > source.Available())
        FailPam(MessageText(kMsgUnexpectedEndOfFile));
    CheckImagePixels(header.width, header.height);
    const bool alpha = header.depth > samples;
    const bool bilevel = samples == 1 && header.maxval == 1;
    graphic.SetSize(int(header.width), int(header.height), alpha ? bc32 : samples == 3 ? bc24 : bilevel ? bc1 : bc8);
    if (samples == 1 && !alpha)
        graphic.SetPaletteIdent(bilevel ? pBlackWhite : pGray256);
    TProgressScope progress(graphic, this);
    for (int y = 0; y < int(header.height); ++y) {
        ReadPamRow(source, header, samples, graphic.ScanLine(y));
        if (graphic.Progress(this, y, int(header.height)))
            break;
    }
    if (alpha && Settings().FlattenAlphaOnLoad)
        graphic.FlattenAlpha();
}

void TPAMFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        FailPam(MessageText(kMsgInvalidValueFor, "Index"));
    TPxMSource source(stream);
    const TPamHeader header = ReadPamHeader(source);
    info.SubFormatText = header.tupleType;
    info.Width = int(header.width);
    info.Height = int(header.height);
    info.BitsPerPixel = int(header.depth) * (header.maxval > 255 ? 16 : 8);
    const int samples = PamColorSamples(header);
    info.ColorsText = samples == 3 ? "16.7M" : header.maxval == 1 ? "2" : "256";
    info.HasAlpha = header.depth > samples;
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
