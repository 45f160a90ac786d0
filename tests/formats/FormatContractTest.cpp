// What every registered reader keeps, whatever its format: it knows its own
// signature, brackets its progress events, stops on Abort without harm, refuses
// a file cut inside its header with an error of the library's family, survives
// a cut anywhere, and reads back what the writer of its extension wrote. And
// what every registered writer keeps: one bracket of progress from one sender,
// and an Abort that changes nothing it writes.
#include "formats/GifTestEncoder.h"
#include "formats/Register.h"

#include "image/ByteOrder.h"
#include "image/PGExceptions.h"
#include "image/PGraphic.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <cstdlib>
#include <ostream>
#include <set>
#include <string>
#include <vector>

using namespace rastova;
using rastova::test::TByteBuilder;
using rastova::test::TProgressLog;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kWidth = 16;
constexpr int kHeight = 12;

// Random pixels that are never 0, so a pixel a reader left blank stands out.
void FillSample(TPixelGraphic& image, TBitCount bitCount, TPaletteIdent ident = pUnknown)
{
    test::FillRandom(image, kWidth, kHeight, bitCount, 5);
    if (ident != pUnknown)
        image.SetPaletteIdent(ident);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (image.GetPixel(x, y) == 0)
                image.SetPixel(x, y, 1);
}

// A smooth true-colour or 256-gray picture that a lossy coding keeps close,
// never black.
void FillSmooth(TPixelGraphic& image, TBitCount bitCount = bc24)
{
    image.SetSize(kWidth, kHeight, bitCount);
    if (bitCount == bc8)
        image.SetPaletteIdent(pGray256);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            image.SetPixel(x, y, bitCount == bc8 ? std::uint32_t(60 + 4 * x + 4 * y)
                                                 : RGBValue(std::uint8_t(60 + 8 * x), std::uint8_t(60 + 8 * y), 120));
}

std::uint32_t BigEndian(const Bytes& bytes, std::size_t at, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[at + std::size_t(i)];
    return value;
}

Bytes Written(const std::string& ext, TPixelGraphic& image)
{
    TMemoryStream stream;
    BuiltInFormats().FindWriter(ext)->Write(stream, image);
    return stream.Data();
}

// A sample file and how many of its first bytes are header: a file cut
// anywhere inside them must be refused.
struct TSample {
    Bytes bytes;
    std::size_t headerSize;
};

TSample BmpSample()
{
    TPixelGraphic image;
    FillSample(image, bc8);
    TSample s{Written("bmp", image), 0};
    s.headerSize = U32LE(&s.bytes[10]);  // file and info header, colour table
    return s;
}

// Marker segments up to the start of scan.
TSample JpegSample()
{
    TPixelGraphic image;
    FillSmooth(image);
    TSample s{Written("jpg", image), 2};
    while (s.bytes[s.headerSize + 1] != 0xDA)
        s.headerSize += 2 + BigEndian(s.bytes, s.headerSize + 2, 2);
    return s;
}

// Chunks up to the first image data.
TSample PngSample()
{
    TPixelGraphic image;
    FillSample(image, bc8);
    TSample s{Written("png", image), 8};
    while (std::string(s.bytes.begin() + std::ptrdiff_t(s.headerSize) + 4,
                       s.bytes.begin() + std::ptrdiff_t(s.headerSize) + 8) != "IDAT")
        s.headerSize += 12 + BigEndian(s.bytes, s.headerSize, 4);
    return s;
}

// 8 bits, one plane, every row literal bytes below the run marker, the
// palette at the end.
TSample PcxSample()
{
    TByteBuilder b;
    b.U8(0x0A).U8(5).U8(1).U8(8).U16LE(0).U16LE(0).U16LE(kWidth - 1).U16LE(kHeight - 1);
    b.U16LE(72).U16LE(72).Fill(48, 0).U8(0).U8(1).U16LE(kWidth).U16LE(1).Fill(58, 0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            b.U8(std::uint32_t(1 + (7 * x + 11 * y) % 0xBF));
    b.U8(12);
    for (int i = 0; i < 256; ++i)
        b.U8(i).U8(255 - i).U8(i / 2);
    return {b.Data(), 128};
}

// Header tokens (magic, width, height and, but for bitmaps, the largest value)
// and the one white-space character behind them.
TSample PxmSample(const std::string& ext, TBitCount bitCount, TPaletteIdent ident)
{
    TPixelGraphic image;
    FillSample(image, bitCount, ident);
    TSample s{Written(ext, image), 0};
    int tokens = ext == "pbm" ? 3 : 4;
    bool inToken = false;
    while (tokens > 0) {
        const std::uint8_t c = s.bytes[s.headerSize++];
        if (c == '#') {
            while (s.bytes[s.headerSize] != '\n')
                ++s.headerSize;
        } else if (std::isspace(c)) {
            tokens -= inToken ? 1 : 0;
            inToken = false;
        } else {
            inToken = true;
        }
    }
    return s;
}

// A PAM of RGB tuples: the header up to ENDHDR and its line feed.
TSample PamSample()
{
    TPixelGraphic image;
    FillSample(image, bc24);
    const std::string header = "P7\nWIDTH " + std::to_string(image.Width()) + "\nHEIGHT " +
                               std::to_string(image.Height()) + "\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n";
    TSample s{Bytes(header.begin(), header.end()), header.size()};
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x) {
            const TRGB c = image.GetColor(x, y);
            s.bytes.insert(s.bytes.end(), {RedOf(c), GreenOf(c), BlueOf(c)});
        }
    return s;
}

// Header, colour map.
TSample TgaSample()
{
    TPixelGraphic image;
    FillSample(image, bc8);
    TSample s{Written("tga", image), 18};
    s.headerSize += s.bytes[0] + U16LE(&s.bytes[5]) * ((s.bytes[7] + 7) / 8);
    return s;
}

// Every part of the file is needed: a cut anywhere is refused.
TSample TiffSample()
{
    TPixelGraphic image;
    FillSample(image, bc8);
    TSample s{Written("tif", image), 0};
    s.headerSize = s.bytes.size();
    return s;
}

// One 8-bit icon made of the bitmap writer's info header, colour table and
// rows, with an opaque mask. Each entry must lie inside the file, so every
// cut is refused.
TSample IcoSample()
{
    TPixelGraphic image;
    FillSample(image, bc8);
    const Bytes bmp = Written("bmp", image);
    Bytes resource(bmp.begin() + 14, bmp.end());
    PutU32LE(&resource[8], 2 * kHeight);
    resource.insert(resource.end(), std::size_t(kHeight) * 4, 0);
    TByteBuilder b;
    b.U16LE(0).U16LE(1).U16LE(1);
    b.U8(kWidth).U8(kHeight).U8(0).U8(0).U16LE(1).U16LE(8).U32LE(std::uint32_t(resource.size())).U32LE(22);
    b.Bytes(resource);
    return {b.Data(), b.Size()};
}

// Screen descriptor, global table, first image descriptor.
TSample GifSample()
{
    test::TTestFrame frame;
    frame.width = kWidth;
    frame.height = kHeight;
    for (int i = 0; i < kWidth * kHeight; ++i)
        frame.indices.push_back(std::uint8_t(1 + i % 15));
    frame.lzw.minCodeSize = 4;
    std::vector<TRGB> table;
    for (int i = 0; i < 16; ++i)
        table.push_back(RGBValue(std::uint8_t(16 * i), std::uint8_t(255 - 16 * i), 99));
    test::TGifFileBuilder gif(kWidth, kHeight, 4, table);
    const std::size_t header = gif.Data().size() + 10;
    gif.Frame(frame).Trailer();
    return {gif.Data(), header};
}

// A smooth picture through the writer of ext; header: the bytes a cut inside
// of which no decoder can get past.
TSample PhotoSample(const char* ext, std::size_t header)
{
    TPixelGraphic image;
    FillSmooth(image);
    return {Written(ext, image), header};
}

// The boxes before the coded data.
TSample HeifSample(const char* ext)
{
    TSample s = PhotoSample(ext, 0);
    while (std::string(s.bytes.begin() + std::ptrdiff_t(s.headerSize) + 4,
                       s.bytes.begin() + std::ptrdiff_t(s.headerSize) + 8) != "mdat")
        s.headerSize += BigEndian(s.bytes, s.headerSize, 4);
    return s;
}

struct TReaderCase {
    const char* ext;
    TSample (*sample)();
    int magic;            // leading bytes of fixed value in the signature
    int signatureCount;   // fewer bytes than this are never recognised
    bool senderIsImage;   // progress comes from the image, not the reader
    bool abortRaises;     // the codec reports an abort as rows missing
    int tolerance;        // largest channel difference after the round trip
    bool cutKeepsValues;  // a cut file's pixels are the whole file's or blank
};

const TReaderCase kReaders[] = {
    {"bmp", BmpSample, 2, 2, true, false, 0, true},
    {"dib", BmpSample, 2, 2, true, false, 0, true},
    {"rle", BmpSample, 2, 2, true, false, 0, true},
    {"jpg", JpegSample, 2, 2, false, true, 12, false},
    {"jpeg", JpegSample, 2, 2, false, true, 12, false},
    {"jif", JpegSample, 2, 2, false, true, 12, false},
    {"png", PngSample, 8, 8, false, false, 0, true},
    {"pcx", PcxSample, 1, 1, false, false, 0, true},
    {"pbm", [] { return PxmSample("pbm", bc1, pBlackWhite); }, 2, 2, false, false, 0, true},
    {"pgm", [] { return PxmSample("pgm", bc8, pGray256); }, 2, 2, false, false, 0, false},
    {"ppm", [] { return PxmSample("ppm", bc24, pUnknown); }, 2, 2, false, false, 0, false},
    {"pam", PamSample, 3, 3, false, false, 0, false},
    {"tga", TgaSample, 0, 0, false, false, 0, true},
    {"tif", TiffSample, 4, 4, false, false, 0, true},
    {"tiff", TiffSample, 4, 4, false, false, 0, true},
    {"ico", IcoSample, 4, 6, false, false, 0, true},
    {"gif", GifSample, 3, 3, false, false, 0, true},
    // RIFF header and the first chunk's header
    {"webp", [] { return PhotoSample("webp", 20); }, 4, 12, false, false, 16, false},
    // the type box's size (below 256) and type
    {"heic", [] { return HeifSample("heic"); }, 3, 12, false, false, 12, false},
    {"heif", [] { return HeifSample("heif"); }, 3, 12, false, false, 12, false},
    {"avif", [] { return HeifSample("avif"); }, 3, 12, false, false, 12, false},
    {"jxl", [] { return PhotoSample("jxl", 2); }, 2, 2, false, false, 12, false},
};

void PrintTo(const TReaderCase& c, std::ostream* out)
{
    *out << c.ext;
}

// The extensions with a writer of their own.
std::vector<std::string> WriterExtensions()
{
    return {"bmp", "dib", "jpg", "jpeg", "jif", "png", "pbm", "pgm", "ppm", "tga", "tif", "tiff",
            "webp", "heic", "heif", "avif", "jxl"};
}

class ReaderContract : public ::testing::TestWithParam<TReaderCase> {
protected:
    void SetUp() override
    {
        for (const auto& reader : BuiltInFormats().Readers())
            if (reader->Extension == GetParam().ext)
                m_reader = reader.get();
        ASSERT_NE(m_reader, nullptr);
        m_sample = GetParam().sample();
        Read(m_sample.bytes, m_whole);
    }

    TObject* ExpectedSender(TPixelGraphic& image) const
    {
        return GetParam().senderIsImage ? static_cast<TObject*>(&image) : m_reader;
    }

    void Read(const Bytes& bytes, TPixelGraphic& image) const
    {
        TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
        m_reader->Read(stream, image, 0);
    }

    TFileFormatReader* m_reader = nullptr;
    TSample m_sample;
    TPixelGraphic m_whole;  // the sample read whole
};

TEST(ReaderContractTable, NamesEveryRegisteredReader)
{
    std::set<std::string> named;
    for (const TReaderCase& c : kReaders)
        named.insert(c.ext);
    for (const auto& reader : BuiltInFormats().Readers())
        EXPECT_EQ(named.count(reader->Extension), 1u) << reader->Extension;
}

TEST_P(ReaderContract, SignatureNamesTheFormatOnlyWhenWhole)
{
    const TReaderCase& c = GetParam();
    TSignatureHeader header;
    header.Count = int(std::min<std::size_t>(m_sample.bytes.size(), TSignatureHeader::kSize));
    std::copy_n(m_sample.bytes.begin(), header.Count, header.Bytes.begin());
    EXPECT_EQ(m_reader->HasSignature, c.magic > 0);
    EXPECT_EQ(m_reader->CheckSignature(header), c.magic > 0);
    for (int i = 0; i < c.magic; ++i) {
        TSignatureHeader altered = header;
        altered.Bytes[std::size_t(i)] ^= 0xFF;
        EXPECT_FALSE(m_reader->CheckSignature(altered)) << "byte " << i << " altered";
    }
    if (c.signatureCount > 0) {
        TSignatureHeader shorter = header;
        shorter.Count = c.signatureCount - 1;
        EXPECT_FALSE(m_reader->CheckSignature(shorter)) << "bytes past the end of a short stream";
    }

    // The load path finds a reader by content where the format has a
    // signature, by the extension alone where it has none.
    TReadOnlyMemoryStream stream(m_sample.bytes.data(), m_sample.bytes.size());
    TFileFormatReader* byContent = BuiltInFormats().SelectReader(stream, "dat");
    if (c.magic > 0) {
        EXPECT_TRUE(byContent && byContent->CheckSignature(header));
    } else {
        EXPECT_EQ(byContent, nullptr);
        EXPECT_EQ(BuiltInFormats().SelectReader(stream, c.ext), m_reader);
    }
    EXPECT_EQ(stream.Position(), 0);
}

TEST_P(ReaderContract, ProgressIsBracketedAndComesFromOneSender)
{
    TPixelGraphic image;
    TProgressLog log;
    log.Attach(image);
    Read(m_sample.bytes, image);
    EXPECT_EQ(log.starts, 1);
    EXPECT_EQ(log.ends, 1);
    ASSERT_GE(log.steps.size(), 3u);
    std::vector<std::string> events = log.events;
    std::erase(events, "changed");
    EXPECT_EQ(events.front(), "start");
    EXPECT_EQ(events.back(), "end");
    for (TObject* sender : log.senders)
        EXPECT_EQ(sender, ExpectedSender(image));
    EXPECT_TRUE(std::is_sorted(log.steps.begin(), log.steps.end()));
    for (const int max : log.maxima)
        EXPECT_EQ(max, log.maxima.front());
    EXPECT_EQ(image.Width(), kWidth);
    EXPECT_EQ(image.Height(), kHeight);
}

// Abort at the second progress event: reading stops there, the end event still
// comes, every pixel is either what a whole read gives or still blank, and the
// same reader afterwards reads the file whole again.
TEST_P(ReaderContract, AbortStopsCleanlyAndLeavesTheReaderUsable)
{
    TPixelGraphic whole;
    TProgressLog wholeLog;
    wholeLog.Attach(whole);
    Read(m_sample.bytes, whole);
    ASSERT_GE(wholeLog.steps.size(), 3u);

    TPixelGraphic image;
    TProgressLog log;
    log.abortAt = wholeLog.steps[1];
    log.Attach(image);
    const auto raised = test::Raised([&] { Read(m_sample.bytes, image); });
    EXPECT_EQ(raised.has_value(), GetParam().abortRaises) << raised.value_or("");
    EXPECT_EQ(log.steps.size(), 2u);
    EXPECT_EQ(log.ends, 1);
    ASSERT_EQ(image.Width(), whole.Width());
    ASSERT_EQ(image.Height(), whole.Height());
    int kept = 0, blank = 0;
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x) {
            const std::uint32_t value = image.GetPixel(x, y);
            ASSERT_TRUE(value == whole.GetPixel(x, y) || value == 0) << x << ", " << y;
            (value == 0 ? blank : kept) += 1;
        }
    EXPECT_GT(kept, 0) << "what was read stays";
    EXPECT_GT(blank, 0) << "nothing is read after the abort";

    TPixelGraphic again;
    Read(m_sample.bytes, again);
    std::string why;
    EXPECT_TRUE(test::SamePixels(whole, again, &why)) << why;
}

// A cut inside the header is refused with an error of the family, and leaves
// the image as it was, empty, or of the file's size; a cut anywhere else loads or is refused the
// same way. Progress stays bracketed either way.
TEST_P(ReaderContract, TruncationIsRefusedWithinTheFamily)
{
    ASSERT_LE(m_sample.headerSize, m_sample.bytes.size());
    for (std::size_t n = 0; n < m_sample.bytes.size(); ++n) {
        SCOPED_TRACE("cut at " + std::to_string(n));
        const Bytes cut(m_sample.bytes.begin(), m_sample.bytes.begin() + std::ptrdiff_t(n));
        TPixelGraphic image;
        image.SetSize(5, 5, bc8);
        TProgressLog log;
        log.Attach(image);
        const auto raised = test::Raised([&] { Read(cut, image); });
        EXPECT_EQ(log.starts, log.ends);
        if (n < m_sample.headerSize) {
            ASSERT_TRUE(raised.has_value());
            EXPECT_FALSE(raised->empty());
            const bool untouched = image.Width() == 5 && image.Height() == 5;
            const bool sized = image.Width() == kWidth && image.Height() == kHeight;
            EXPECT_TRUE(untouched || sized || image.GetEmpty()) << image.Width() << " x " << image.Height();
        }
        if (GetParam().cutKeepsValues && image.Width() == kWidth && image.Height() == kHeight)
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const std::uint32_t value = image.GetPixel(x, y);
                    ASSERT_TRUE(value == m_whole.GetPixel(x, y) || value == 0) << x << ", " << y;
                }
        TReadOnlyMemoryStream stream(cut.data(), cut.size());
        TFileInfo info;
        test::Raised([&] { m_reader->GetInfo(stream, 0, info); });
    }
}

// Every colour resolution the writer of the extension takes comes back as the
// same picture (within the coding's loss): for the readers whose format has a writer.
class ReaderRoundTrip : public ReaderContract {};

std::vector<TReaderCase> ReadersWithWriters()
{
    const std::vector<std::string> writers = WriterExtensions();
    std::vector<TReaderCase> cases;
    for (const TReaderCase& c : kReaders)
        if (std::find(writers.begin(), writers.end(), c.ext) != writers.end())
            cases.push_back(c);
    return cases;
}

TEST_P(ReaderRoundTrip, WriterOutputReadsBack)
{
    TFileFormatWriter* writer = BuiltInFormats().FindWriter(GetParam().ext);
    ASSERT_NE(writer, nullptr);
    struct TResolution {
        TBitCount bitCount;
        TPaletteIdent ident;
    };
    const TResolution resolutions[] = {{bc1, pBlackWhite}, {bc1, pUnknown}, {bc4, pGray16}, {bc4, pSys16},
                                       {bc4, pUnknown},    {bc8, pGray256}, {bc8, pUnknown}, {bc24, pUnknown}};
    int tried = 0;
    for (int code = 0; code < 8; ++code) {
        if (!writer->CanWrite(code))
            continue;
        SCOPED_TRACE("resolution " + std::to_string(code));
        ++tried;
        TPixelGraphic source;
        if (GetParam().tolerance > 0)
            FillSmooth(source, resolutions[code].bitCount);
        else
            FillSample(source, resolutions[code].bitCount, resolutions[code].ident);
        TMemoryStream stream;
        writer->Write(stream, source);
        TPixelGraphic back;
        Read(stream.Data(), back);
        ASSERT_EQ(back.Width(), kWidth);
        ASSERT_EQ(back.Height(), kHeight);
        int worst = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const TRGB a = source.GetColor(x, y), b = back.GetColor(x, y);
                worst = std::max({worst, std::abs(RedOf(a) - RedOf(b)), std::abs(GreenOf(a) - GreenOf(b)),
                                  std::abs(BlueOf(a) - BlueOf(b))});
            }
        EXPECT_LE(worst, GetParam().tolerance);
    }
    EXPECT_GT(tried, 0);
}

const auto kCaseName = [](const ::testing::TestParamInfo<TReaderCase>& info) { return std::string(info.param.ext); };
INSTANTIATE_TEST_SUITE_P(Readers, ReaderContract, ::testing::ValuesIn(kReaders), kCaseName);
INSTANTIATE_TEST_SUITE_P(Readers, ReaderRoundTrip, ::testing::ValuesIn(ReadersWithWriters()), kCaseName);

// ---- writers -------------------------------------------------------------------------------

class WriterContract : public ::testing::TestWithParam<std::string> {};

TEST(WriterContractTable, NamesEveryRegisteredWriter)
{
    const std::vector<std::string> named = WriterExtensions();
    for (const auto& writer : BuiltInFormats().Writers())
        EXPECT_EQ(std::count(named.begin(), named.end(), writer->Extension), 1) << writer->Extension;
}

TEST_P(WriterContract, ReportsEveryRowInOneBracketAndIgnoresAbort)
{
    TFileFormatWriter* writer = BuiltInFormats().FindWriter(GetParam());
    ASSERT_NE(writer, nullptr);
    TPixelGraphic image;
    if (writer->CanWrite(crTrueColor))
        FillSample(image, bc24);
    else if (writer->CanWrite(cr256Gray))
        FillSample(image, bc8, pGray256);
    else
        FillSample(image, bc1, pBlackWhite);

    TProgressLog plain;
    plain.Attach(image);
    TMemoryStream first;
    writer->Write(first, image);
    if (GetParam() == "bmp" || GetParam() == "dib") {
        EXPECT_TRUE(plain.senders.empty()) << "the bitmap writer reports nothing";
        return;
    }
    EXPECT_EQ(plain.starts, 1);
    EXPECT_EQ(plain.ends, 1);
    EXPECT_EQ(plain.steps.size(), std::size_t(kHeight)) << "one event a row";
    EXPECT_TRUE(std::adjacent_find(plain.steps.begin(), plain.steps.end(), std::greater_equal<>()) ==
                plain.steps.end())
        << "steps rise";
    ASSERT_FALSE(plain.senders.empty());
    EXPECT_TRUE(plain.senders.front() == writer || plain.senders.front() == &image);
    for (TObject* sender : plain.senders)
        EXPECT_EQ(sender, plain.senders.front());

    TProgressLog aborting;
    aborting.abortAt = plain.steps.front();
    aborting.Attach(image);
    TMemoryStream second;
    writer->Write(second, image);
    EXPECT_EQ(aborting.steps, plain.steps);
    EXPECT_EQ(second.Data(), first.Data());
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterContract, ::testing::ValuesIn(WriterExtensions()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
