#include "formats/Jxl.h"

#include "formats/PhotoCodecs.h"
#include "image/PGMessages.h"
#include "image/Streams.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>

namespace rastova {

namespace {

const char* const kTag = "JPEG XL: ";

[[noreturn]] void Fail(const std::string& message)
{
    throw EPGJXLFileFormatReaderWriter(kTag + message);
}

// A runner for more than one thread; none means the calling thread does all.
JxlThreadParallelRunnerPtr MakeRunner()
{
    const int threads = PhotoCodecThreadCount();
    return threads > 1 ? JxlThreadParallelRunnerMake(nullptr, std::size_t(threads)) : JxlThreadParallelRunnerPtr();
}

struct TJxlHeader {
    JxlBasicInfo basic{};
    int width = 0;   // after the orientation is applied
    int height = 0;
    int frames = 1;
};

// A decoder over the whole file, subscribed to events.
JxlDecoderPtr OpenDecoder(const std::vector<std::uint8_t>& data, int events, void* runner)
{
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS ||
        (runner != nullptr &&
         JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner) != JXL_DEC_SUCCESS) ||
        JxlDecoderSetInput(decoder.get(), data.data(), data.size()) != JXL_DEC_SUCCESS)
        Fail(MessageText(kMsgFailed, "JxlDecoderCreate"));
    return decoder;
}

void TakeBasicInfo(JxlDecoder* decoder, TJxlHeader& header)
{
    if (JxlDecoderGetBasicInfo(decoder, &header.basic) != JXL_DEC_SUCCESS)
        Fail(MessageText(kMsgFailed, "JxlDecoderGetBasicInfo"));
    const bool transposed = header.basic.orientation >= JXL_ORIENT_TRANSPOSE;
    header.width = int(transposed ? header.basic.ysize : header.basic.xsize);
    header.height = int(transposed ? header.basic.xsize : header.basic.ysize);
}


// True when the progress handler aborted.
bool StoreRows(TPixelGraphic& graphic, TObject* sender, const std::vector<std::uint8_t>& samples, bool alpha)
{
    const std::size_t rowBytes = std::size_t(graphic.Width()) * (alpha ? 4 : 3);
    return StoreRowsReporting(graphic, sender, graphic.Height(), [&](int y) {
        const std::uint8_t* row = samples.data() + std::size_t(y) * rowBytes;
        if (alpha)
            StoreRgbaRow(graphic, y, row);
        else
            StoreRgbRow(graphic, y, row);
    });
}

// The state of one read: the header, once known, and the samples of the first frame.
struct TJxlRead {
    TJxlHeader header;
    bool frameStarted = false;
    bool alpha = false;
    std::vector<std::uint8_t> samples;
};

JxlPixelFormat FormatOf(bool alpha)
{
    return JxlPixelFormat{alpha ? 4u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
}

// Asks for the output buffer; the size is the one checked against the pixel limit.
void SetOutBuffer(JxlDecoder* decoder, TJxlRead& read)
{
    const JxlPixelFormat format = FormatOf(read.alpha);
    std::size_t size = 0;
    if (JxlDecoderImageOutBufferSize(decoder, &format, &size) != JXL_DEC_SUCCESS ||
        size != std::size_t(read.header.width) * std::size_t(read.header.height) * format.num_channels)
        Fail(MessageText(kMsgNotSupportedSubformat));
    read.samples.assign(size, 0);
    if (JxlDecoderSetImageOutBuffer(decoder, &format, read.samples.data(), size) != JXL_DEC_SUCCESS)
        Fail(MessageText(kMsgFailed, "JxlDecoderSetImageOutBuffer"));
}

// Runs the decoder to the end of the first frame. False when the data ended
// before it; the rows the decoder could flush are then in the samples.
bool DecodeFirstFrame(JxlDecoder* decoder, TJxlRead& read, TPixelGraphic& graphic)
{
    for (;;) {
        switch (JxlDecoderProcessInput(decoder)) {
        case JXL_DEC_BASIC_INFO:
            TakeBasicInfo(decoder, read.header);
            CheckImagePixels(read.header.width, read.header.height);
            read.alpha = read.header.basic.alpha_bits > 0;
            break;
        case JXL_DEC_FRAME: read.frameStarted = true; break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            SetOutBuffer(decoder, read);
            graphic.SetSize(read.header.width, read.header.height, PhotoPixelFormat(read.alpha));
            graphic.Clear();
            break;
        case JXL_DEC_FULL_IMAGE:
        case JXL_DEC_SUCCESS: return true;
        case JXL_DEC_NEED_MORE_INPUT:
            return false;
        default: Fail("the codestream is invalid or not supported");
        }
    }
}

TJxlHeader HeaderOf(const std::vector<std::uint8_t>& data)
{
    JxlDecoderPtr decoder = OpenDecoder(data, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME, nullptr);
    JxlDecoderCloseInput(decoder.get());
    TJxlHeader header;
    header.frames = 0;
    bool known = false;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        if (status == JXL_DEC_BASIC_INFO) {
            TakeBasicInfo(decoder.get(), header);
            known = true;
        } else if (status == JXL_DEC_FRAME) {
            ++header.frames;
        } else if (status == JXL_DEC_SUCCESS || (known && header.frames > 0)) {
            // A file cut short still tells its size and the frames seen so far.
            break;
        } else if (!known || status != JXL_DEC_NEED_MORE_INPUT) {
            Fail(status == JXL_DEC_NEED_MORE_INPUT ? MessageText(kMsgUnexpectedEndOfFile)
                                                   : "the codestream is invalid or not supported");
        } else {
            break;
        }
    }
    header.frames = std::max(header.frames, 1);
    return header;
}

// ---- writer ------------------------------------------------------------------------------

void CheckEncoder(JxlEncoderStatus status, const char* call)
{
    if (status != JXL_ENC_SUCCESS)
        Fail(MessageText(kMsgFailed, call));
}

void ConfigureFrame(JxlEncoderFrameSettings* frame)
{
    const TPGSettings& settings = Settings();
    CheckEncoder(JxlEncoderFrameSettingsSetOption(frame, JXL_ENC_FRAME_SETTING_EFFORT, 7), "effort");
    if (settings.JXLLossless)
        CheckEncoder(JxlEncoderSetFrameLossless(frame, JXL_TRUE), "JxlEncoderSetFrameLossless");
    else
        CheckEncoder(JxlEncoderSetFrameDistance(frame, JXLDistanceOfQuality(settings.JXLQuality)),
                     "JxlEncoderSetFrameDistance");
}

void WriteOutput(JxlEncoder* encoder, TStream& stream)
{
    std::vector<std::uint8_t> chunk(1 << 16);
    for (;;) {
        std::uint8_t* next = chunk.data();
        std::size_t available = chunk.size();
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &available);
        stream.WriteBuffer(chunk.data(), std::int64_t(chunk.size() - available));
        if (status == JXL_ENC_SUCCESS)
            return;
        if (status != JXL_ENC_NEED_MORE_OUTPUT)
            Fail(MessageText(kMsgFailed, "JxlEncoderProcessOutput"));
    }
}

}  // namespace

float JXLDistanceOfQuality(int quality)
{
    const int q = ClampQuality(quality);
    if (q >= 100)
        return 0.0f;
    if (q >= 30)
        return 0.1f + float(100 - q) * 0.09f;
    return 6.4f + std::pow(2.5f, float(30 - q) / 5.0f) / 6.25f;
}

// ---- reader ------------------------------------------------------------------------------

TJXLFileFormatReader::TJXLFileFormatReader()
{
    Extension = "jxl";
    Description = "JPEG XL";
    HasSignature = true;
}

bool TJXLFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    static const std::uint8_t kContainer[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (header.Count >= 2 && header[0] == 0xFF && header[1] == 0x0A)
        return true;
    return header.Count >= 12 && std::memcmp(header.Bytes.data(), kContainer, sizeof kContainer) == 0;
}

void TJXLFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalid, "Index"));
    const std::vector<std::uint8_t> data = ReadRestOfStream(stream);
    JxlThreadParallelRunnerPtr runner = MakeRunner();
    JxlDecoderPtr decoder = OpenDecoder(data, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE, runner.get());
    TJxlRead read;
    TProgressScope progress(graphic, this);
    if (!DecodeFirstFrame(decoder.get(), read, graphic)) {
        // What arrived of the frame is kept when the decoder can show it.
        if (read.samples.empty() || JxlDecoderFlushImage(decoder.get()) != JXL_DEC_SUCCESS)
            Fail(MessageText(kMsgUnexpectedEndOfFile));
        if (!StoreRows(graphic, this, read.samples, read.alpha))
            ReadWarning<EPGJXLFileFormatReaderWriter>(graphic, kTag + MessageText(kMsgUnexpectedEndOfFile),
                                                  "JPEG XL " + MessageText(kMsgWarning));
        return;
    }
    if (read.samples.empty())
        Fail(MessageText(kMsgUnexpectedEndOfFile));
    StoreRows(graphic, this, read.samples, read.alpha);
}

void TJXLFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalidValueFor, "Index"));
    const TJxlHeader header = HeaderOf(ReadRestOfStream(stream));
    const JxlBasicInfo& basic = header.basic;
    const bool alpha = basic.alpha_bits > 0;
    // Lossy coding works in the codec's own colour space; lossless (and JPEG
    // recompression) keeps the original one.
    const char* coding = basic.uses_original_profile ? "lossless" : "lossy";
    info.HasAlpha = alpha;
    info.SubFormatText = PhotoSubFormatText(basic.exponent_bits_per_sample > 0 ? std::string(coding) + ", float"
                                                                                : coding,
                                            int(basic.bits_per_sample), alpha, header.frames);
    info.Width = header.width;
    info.Height = header.height;
    info.BitsPerPixel = int(basic.bits_per_sample * basic.num_color_channels + basic.alpha_bits);
    info.ColorsText = basic.num_color_channels == 1 ? (basic.bits_per_sample > 8 ? "64K" : "256")
                                                    : (basic.bits_per_sample > 8 ? "281T" : "16.7M");
    info.ImageCount = header.frames;
}

// ---- writer ------------------------------------------------------------------------------

TJXLFileFormatWriter::TJXLFileFormatWriter()
{
    Extension = "jxl";
    Description = "JPEG XL";
    CanWriteResolutions = TColorResolutions(0xFF);
}

void TJXLFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
    if (graphic.GetEmpty())
        Fail(MessageText(kMsgWidthOrHeightZero));
    JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    JxlThreadParallelRunnerPtr runner = MakeRunner();
    if (!encoder)
        Fail(MessageText(kMsgFailed, "JxlEncoderCreate"));
    if (runner)
        CheckEncoder(JxlEncoderSetParallelRunner(encoder.get(), JxlThreadParallelRunner, runner.get()),
                     "JxlEncoderSetParallelRunner");
    TProgressScope progress(graphic, this);
    JxlBasicInfo basic;
    JxlEncoderInitBasicInfo(&basic);
    basic.xsize = std::uint32_t(graphic.Width());
    basic.ysize = std::uint32_t(graphic.Height());
    basic.bits_per_sample = 8;
    basic.num_color_channels = 3;
    basic.uses_original_profile = Settings().JXLLossless ? JXL_TRUE : JXL_FALSE;
    CheckEncoder(JxlEncoderSetBasicInfo(encoder.get(), &basic), "JxlEncoderSetBasicInfo");
    JxlColorEncoding color;
    JxlColorEncodingSetToSRGB(&color, JXL_FALSE);
    CheckEncoder(JxlEncoderSetColorEncoding(encoder.get(), &color), "JxlEncoderSetColorEncoding");
    JxlEncoderFrameSettings* frame = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    ConfigureFrame(frame);
    const std::vector<std::uint8_t> rgb = TopDownRgb(graphic, this);
    const JxlPixelFormat format = FormatOf(false);
    CheckEncoder(JxlEncoderAddImageFrame(frame, &format, rgb.data(), rgb.size()), "JxlEncoderAddImageFrame");
    JxlEncoderCloseInput(encoder.get());
    WriteOutput(encoder.get(), stream);
}

}  // namespace rastova
