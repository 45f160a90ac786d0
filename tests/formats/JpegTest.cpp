#include "formats/Jpeg.h"

#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace rastova {
namespace {

// ---- helpers ----------------------------------------------------------------------------

// Solid 16 x 16 blocks survive compression almost unchanged, so colours can be checked.
void FillBlocks(TPixelGraphic& image, int width, int height, const std::vector<TRGB>& colors)
{
    image.SetSize(width, height, bc24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.SetPixel(x, y, colors[std::size_t((x / 16 + y / 16) % int(colors.size()))]);
}

void FillGrayRamp(TPixelGraphic& image, int width, int height)
{
    image.SetPaletteIdent(pGray256);
    image.SetSize(width, height, bc8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.SetPixel(x, y, std::uint32_t((x / 8 * 32 + y / 8 * 8) & 0xFF));
}

std::vector<std::uint8_t> WriteJpeg(TPixelGraphic& image)
{
    return test::WriteWith<TJPGFileFormatWriter>(image);
}

void ReadJpeg(const std::vector<std::uint8_t>& bytes, TPixelGraphic& image, int index = 0)
{
    test::ReadWith<TJPGFileFormatReader>(bytes, image, index);
}

TFileInfo InfoOf(const std::vector<std::uint8_t>& bytes, int index = 0)
{
    return test::InfoWith<TJPGFileFormatReader>(bytes, index);
}

bool CloseColor(TRGB a, TRGB b, int tolerance)
{
    return std::abs(RedOf(a) - RedOf(b)) <= tolerance && std::abs(GreenOf(a) - GreenOf(b)) <= tolerance &&
           std::abs(BlueOf(a) - BlueOf(b)) <= tolerance;
}

// Encodes raw samples with the codec directly, for colour spaces our writer never produces.
std::vector<std::uint8_t> EncodeDirect(int width, int height, J_COLOR_SPACE space, int components)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(std::size_t(width * components), 77);
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

using test::MessageOf;
using test::TFailingStream;
using test::TProgressLog;

using test::TQuestionRecorder;

const std::vector<TRGB> kBlockColors = {RGBValue(255, 0, 0), RGBValue(0, 0, 255), RGBValue(0, 200, 0),
                                        RGBValue(255, 255, 255), RGBValue(40, 40, 40)};

// ---- round trips ------------------------------------------------------------------------

TEST(JpegTest, ColourFileIsYCbCrAndReadsAsTrueColour)
{
    TPixelGraphic image;
    FillBlocks(image, 80, 48, kBlockColors);
    const auto bytes = WriteJpeg(image);
    EXPECT_EQ(InfoOf(bytes).SubFormatText, "JFIF, YCbCr");
    TPixelGraphic back;
    ReadJpeg(bytes, back);
    EXPECT_EQ(back.BitCount(), bc24);
}

TEST(JpegTest, GrayRoundTripStaysOneComponent)
{
    TPixelGraphic image;
    FillGrayRamp(image, 64, 40);
    const auto bytes = WriteJpeg(image);
    const TFileInfo info = InfoOf(bytes);
    EXPECT_EQ(info.SubFormatText, "JFIF, GrayScale");
    EXPECT_EQ(info.ColorsText, "256");
    EXPECT_EQ(info.BitsPerPixel, 8);

    TPixelGraphic back;
    back.SetSize(3, 3, bc24);
    ReadJpeg(bytes, back);
    ASSERT_EQ(back.BitCount(), bc8);
    EXPECT_EQ(back.PaletteIdent(), pGray256);
    for (int y = 2; y < 40; y += 8)
        for (int x = 2; x < 64; x += 8)
            EXPECT_NEAR(int(back.GetPixel(x + 2, y + 2)), int(image.GetPixel(x + 2, y + 2)), 6);
}

TEST(JpegTest, WriterAcceptsOnlyTrueColourAndGray256)
{
    struct TCase {
        TBitCount bitCount;
        TPaletteIdent ident;
        bool accepted;
    };
    const TCase cases[] = {{bc24, pTrueColor, true}, {bc8, pGray256, true},   {bc8, pSpecial252, false},
                           {bc4, pSys16, false},     {bc4, pGray16, false},   {bc1, pBlackWhite, false}};
    for (const TCase& c : cases) {
        TPixelGraphic image;
        image.SetPaletteIdent(c.ident);
        image.SetSize(20, 10, c.bitCount);
        if (c.bitCount != bc24)
            image.SetPaletteIdent(c.ident);
        TMemoryStream stream;
        TJPGFileFormatWriter writer;
        if (c.accepted) {
            EXPECT_NO_THROW(writer.Write(stream, image)) << int(c.bitCount);
            EXPECT_GT(stream.Size(), 100);
        } else {
            EXPECT_EQ(MessageOf<EPGJPGFileFormatReaderWriter>([&] { writer.Write(stream, image); }),
                      "JPG: Invalid value for BitCount")
                << int(c.bitCount);
            EXPECT_EQ(stream.Size(), 0) << "nothing may be written before the refusal";
        }
    }
}

TEST(JpegTest, SettingsReachTheCodec)
{
    TPixelGraphic image;
    test::FillRandom(image, 64, 64, bc24, 7);
    const int savedQuality = JPEGQuality;
    JPEGQuality = 95;
    const auto fine = WriteJpeg(image);
    JPEGQuality = 20;
    const auto coarse = WriteJpeg(image);
    JPEGQuality = savedQuality;
    EXPECT_GT(fine.size(), coarse.size() * 2);

    JPEGProgressive = true;
    const auto progressive = WriteJpeg(image);
    JPEGProgressive = false;
    EXPECT_EQ(InfoOf(progressive).SubFormatText, "JFIF, YCbCr, Progressive");
    TPixelGraphic back;
    ReadJpeg(progressive, back);
    EXPECT_EQ(back.Width(), 64);

    // The fast transform rounds differently from the accurate one on noisy data.
    TPixelGraphic accurate, fast, fastGlobal;
    ReadJpeg(fine, accurate);
    fast.SetJPEGFastDCT(true);
    ReadJpeg(fine, fast);
    JPEGReadDCTMethod = JDCT_IFAST;
    ReadJpeg(fine, fastGlobal);
    JPEGReadDCTMethod = JDCT_ISLOW;
    EXPECT_FALSE(test::SamePixels(accurate, fast));
    EXPECT_TRUE(test::SamePixels(fast, fastGlobal));
}

// ---- refusals -----------------------------------------------------------------------------

TEST(JpegTest, RefusalsCarryTheirMessages)
{
    TPixelGraphic image;
    FillBlocks(image, 16, 16, kBlockColors);
    const auto good = WriteJpeg(image);
    const std::vector<std::uint8_t> empty;
    const std::vector<std::uint8_t> notJpeg = {0xFF, 0xD8, 0xFF, 0x01, 0x02, 0x03};

    EXPECT_EQ(MessageOf<EPGJPGFileFormatReaderWriter>([&] { ReadJpeg(good, image, 1); }), "JPG: Index invalid");
    EXPECT_EQ(MessageOf<EPGJPGFileFormatReaderWriter>([&] { InfoOf(good, 1); }),
              "JPG: Invalid value for Index");
    EXPECT_EQ(MessageOf<EPGJPGFileFormatReaderWriter>([&] { ReadJpeg(empty, image); }), "JPG: Empty input file");
    EXPECT_EQ(MessageOf<EPGJPGFileFormatReaderWriter>([&] { InfoOf(empty); }), "JPG: Empty input file");
    EXPECT_NE(MessageOf<EPGJPGFileFormatReaderWriter>([&] { ReadJpeg(notJpeg, image); }).rfind("JPG: ", 0),
              std::string::npos);
}

TEST(JpegTest, FourComponentFilesAreDescribedAndConvertedToRgb)
{
    struct TCase {
        J_COLOR_SPACE space;
        const char* subFormat;
    };
    for (const TCase& c : {TCase{JCS_CMYK, "Adope, CMYK"}, TCase{JCS_YCCK, "Adope, YCbCrK"}}) {
        const auto bytes = EncodeDirect(24, 8, c.space, 4);
        const TFileInfo info = InfoOf(bytes);
        EXPECT_EQ(info.SubFormatText, c.subFormat);
        EXPECT_EQ(info.ColorsText, "4294.9M");
        EXPECT_EQ(info.BitsPerPixel, 32);
        TPixelGraphic image;
        ReadJpeg(bytes, image);
        EXPECT_EQ(image.BitCount(), bc24);
        EXPECT_EQ(image.Width(), 24);
    }
    const TFileInfo rgb = InfoOf(EncodeDirect(8, 8, JCS_RGB, 3));
    EXPECT_EQ(rgb.SubFormatText, "JFIF, YCbCr");
}

// A progressive file takes its coefficient memory when decompression starts, so an
// image too large for the pixel buffer is refused before that by the size gate.
TEST(JpegTest, OversizedImageIsRefusedBeforeDecoding)
{
    TPixelGraphic image;
    test::FillRandom(image, 16, 16, bc24, 4);
    JPEGProgressive = true;
    auto bytes = WriteJpeg(image);
    JPEGProgressive = false;
    std::size_t sof = 0;
    for (std::size_t i = 2; i + 9 < bytes.size() && sof == 0; ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC2)
            sof = i;
    ASSERT_NE(sof, 0u);
    for (std::size_t i : {sof + 5, sof + 7}) {  // height, width: 60000 each
        bytes[i] = 0xEA;
        bytes[i + 1] = 0x60;
    }
    TPixelGraphic big;
    big.SetReadWarningAction(pgwaIgnore);
    EXPECT_EQ(MessageOf<EPixelGraphic>([&] { ReadJpeg(bytes, big); }), "CreateDIBSection failed");
    EXPECT_TRUE(big.GetEmpty());
    EXPECT_EQ(InfoOf(bytes).Width, 60000);
}

// Every scan walks all coefficients again: a file of thousands of scans costs
// seconds for a few bytes each, so past 500 scans the file is refused.
TEST(JpegTest, ScansBeyondTheCapAreRefused)
{
    TPixelGraphic image;
    test::FillRandom(image, 16, 16, bc24, 5);
    JPEGProgressive = true;
    const auto bytes = WriteJpeg(image);
    JPEGProgressive = false;
    // The last scan, repeated: the codec only warns about the repetitions.
    std::size_t lastScan = 0, scans = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) {
            lastScan = i;
            ++scans;
        }
    ASSERT_GT(scans, 2u);
    const std::vector<std::uint8_t> scan(bytes.begin() + std::ptrdiff_t(lastScan), bytes.end() - 2);
    for (const std::size_t total : {scans, std::size_t(500), std::size_t(501), std::size_t(3000)}) {
        std::vector<std::uint8_t> file(bytes.begin(), bytes.end() - 2);
        for (std::size_t n = scans; n < total; ++n)
            file.insert(file.end(), scan.begin(), scan.end());
        file.insert(file.end(), {0xFF, 0xD9});
        TPixelGraphic back;
        back.SetReadWarningAction(pgwaIgnore);
        const std::string error = MessageOf([&] { ReadJpeg(file, back); });
        EXPECT_EQ(error, total <= 500 ? "(nothing raised)" : "JPG: More than 500 scans") << total;
    }
}

// ---- warnings -----------------------------------------------------------------------------

class JpegTruncatedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TPixelGraphic image;
        test::FillRandom(image, 64, 64, bc24, 3);
        m_bytes = WriteJpeg(image);
        m_bytes.resize(m_bytes.size() / 2);
    }
    std::vector<std::uint8_t> m_bytes;
};

TEST_F(JpegTruncatedTest, IgnoreLoadsTheWholeImage)
{
    TQuestionRecorder questions(qaCancel);
    TPixelGraphic image;
    image.SetReadWarningAction(pgwaIgnore);
    ReadJpeg(m_bytes, image);
    EXPECT_EQ(image.Height(), 64);
    EXPECT_TRUE(questions.texts.empty());
}

TEST_F(JpegTruncatedTest, BoxesAskOnceAndCancelAborts)
{
    struct TCase {
        TPGWarningAction action;
        TQuestionAnswer answer;
        TQuestionButtons buttons;
        const char* error;  // nullptr: loads
    };
    const TCase cases[] = {{pgwaOKBox, qaCancel, qbOK, nullptr},
                           {pgwaOKCancelBox, qaOK, qbOKCancel, nullptr},
                           {pgwaOKCancelBox, qaCancel, qbOKCancel, "JPG: Operation aborted on user request"}};
    for (const TCase& c : cases) {
        TQuestionRecorder questions(c.answer);
        TPixelGraphic image;
        image.SetReadWarningAction(c.action);
        const std::string message = MessageOf<EPGJPGFileFormatReaderWriter>([&] { ReadJpeg(m_bytes, image); });
        EXPECT_EQ(message, c.error ? c.error : "(nothing raised)");
        ASSERT_EQ(questions.texts.size(), 1u);
        EXPECT_EQ(questions.texts[0], "Premature end of JPEG file");
        EXPECT_EQ(questions.captions[0], "JPG Warning");
        EXPECT_EQ(questions.buttons[0], c.buttons);
    }
}

TEST_F(JpegTruncatedTest, RaiseAndGetInfoRaiseTheWarning)
{
    TQuestionRecorder questions(qaOK);
    TPixelGraphic image;
    image.SetReadWarningAction(pgwaRaise);
    EXPECT_EQ(MessageOf<EPGJPGFileFormatReaderWriter>([&] { ReadJpeg(m_bytes, image); }),
              "JPG: Premature end of JPEG file");
    EXPECT_TRUE(questions.texts.empty());
    // The header is complete, so the description needs no warning.
    EXPECT_EQ(InfoOf(m_bytes).Width, 64);
    const std::vector<std::uint8_t> headerCut(m_bytes.begin(), m_bytes.begin() + 30);
    EXPECT_EQ(MessageOf<EPGJPGFileFormatReaderWriter>([&] { InfoOf(headerCut); }),
              "JPG: Premature end of JPEG file");
}

// A host question function that throws must not unwind through the codec.
TEST_F(JpegTruncatedTest, ThrowingQuestionFunctionComesBackAsItself)
{
    SetQuestionFunction([](const std::string&, const std::string&, TQuestionButtons) -> TQuestionAnswer {
        throw std::runtime_error("host gave up");
    });
    TPixelGraphic image;
    EXPECT_EQ(MessageOf<std::runtime_error>([&] { ReadJpeg(m_bytes, image); }), "host gave up");
    SetQuestionFunction(nullptr);
}

// ---- progress -----------------------------------------------------------------------------

TEST(JpegTest, ReadFiresProgressPerScanlineWithTheReaderAsSender)
{
    TPixelGraphic source;
    FillBlocks(source, 40, 24, kBlockColors);
    const auto bytes = WriteJpeg(source);
    TProgressLog log;
    TPixelGraphic image;
    log.Attach(image);
    TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
    TJPGFileFormatReader reader;
    reader.Read(stream, image, 0);
    EXPECT_EQ(log.starts, 1);
    EXPECT_EQ(log.ends, 1);
    ASSERT_EQ(log.steps.size(), 24u);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(log.steps[std::size_t(i)], i + 1);
        EXPECT_EQ(log.maxima[std::size_t(i)], 24);
    }
    for (TObject* sender : log.senders)
        EXPECT_EQ(sender, &reader);
}

TEST(JpegTest, AbortKeepsRowsReadAndReportsTooFewScanlines)
{
    TPixelGraphic source;
    FillBlocks(source, 40, 32, kBlockColors);
    const auto bytes = WriteJpeg(source);
    TPixelGraphic whole;
    ReadJpeg(bytes, whole);

    TProgressLog log;
    log.abortAt = 5;
    TPixelGraphic image;
    log.Attach(image);
    EXPECT_EQ(MessageOf<EPGJPGFileFormatReaderWriter>([&] { ReadJpeg(bytes, image); }),
              "JPG: Application transferred too few scanlines");
    EXPECT_EQ(log.ends, 1);
    ASSERT_EQ(image.Height(), 32);
    for (int y = 0; y < 32; ++y) {
        const bool read = y < 5;
        EXPECT_EQ(std::memcmp(image.ScanLine(y), whole.ScanLine(y), 120) == 0, read) << "row " << y;
    }
}

TEST(JpegTest, WriterStepsCountTheRowsWrittenAndComeFromTheWriter)
{
    TPixelGraphic image;
    FillGrayRamp(image, 24, 20);
    TProgressLog log;
    log.Attach(image);
    TMemoryStream stream;
    TJPGFileFormatWriter writer;
    writer.Write(stream, image);
    EXPECT_EQ(log.steps.front(), 1);
    EXPECT_EQ(log.steps.back(), 20);
    EXPECT_EQ(log.maxima.back(), 20);
    EXPECT_EQ(log.senders.front(), &writer);
}

// ---- streams ------------------------------------------------------------------------------

// A stream that fails after a number of bytes, either by throwing or by refusing.
TEST(JpegTest, StreamFailuresReachTheCaller)
{
    TPixelGraphic image;
    test::FillRandom(image, 256, 256, bc24, 11);
    const auto bytes = WriteJpeg(image);
    ASSERT_GT(bytes.size(), 3 * 4096u);

    TFailingStream throwingReader(bytes, 5000, true);
    TPixelGraphic back;
    TJPGFileFormatReader reader;
    EXPECT_THROW(reader.Read(throwingReader, back, 0), EReadError);

    TJPGFileFormatWriter writer;
    TFailingStream shortWriter({}, 5000, false);
    EXPECT_EQ(MessageOf<EPGJPGFileFormatReaderWriter>([&] { writer.Write(shortWriter, image); }),
              "JPG: Output file write error --- out of disk space?");
    TFailingStream throwingWriter({}, 5000, true);
    EXPECT_THROW(writer.Write(throwingWriter, image), EWriteError);
}

TEST(JpegTest, LoadsThroughTheRegistryWithoutGammaChange)
{
    TPixelGraphic image;
    FillBlocks(image, 32, 16, kBlockColors);
    const auto bytes = WriteJpeg(image);
    TMemoryStream stream(bytes);
    TPixelGraphic back;
    back.LoadFromStream(stream);
    EXPECT_EQ(back.Width(), 32);
    EXPECT_TRUE(CloseColor(back.GetColor(4, 4), RGBValue(255, 0, 0), 12));
}

}  // namespace
}  // namespace rastova
