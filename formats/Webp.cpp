#include "formats/Webp.h"

#include "formats/CodecTrap.h"
#include "formats/PhotoCodecs.h"
#include "image/PGMessages.h"
#include "image/Streams.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

namespace rastova {

namespace {

const char* const kTag = "WebP: ";

[[noreturn]] void Fail(const std::string& message)
{
    throw EPGWebPFileFormatReaderWriter(kTag + message);
}

std::string StatusText(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "bitstream error";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
    case VP8_STATUS_NOT_ENOUGH_DATA: return MessageText(kMsgUnexpectedEndOfFile);
    default: return "decoding failed";
    }
}

// What the file's header says, animation included.
struct TWebPHeader {
    WebPBitstreamFeatures features{};
    int width = 0;
    int height = 0;
    int frames = 1;
};

struct TDemuxDeleter {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

TWebPHeader HeaderOf(const std::vector<std::uint8_t>& data)
{
    TWebPHeader header;
    const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &header.features);
    if (status != VP8_STATUS_OK)
        Fail(StatusText(status));
    header.width = header.features.width;
    header.height = header.features.height;
    if (header.features.has_animation) {
        const WebPData webpData{data.data(), data.size()};
        std::unique_ptr<WebPDemuxer, TDemuxDeleter> demux(WebPDemux(&webpData));
        if (!demux)
            Fail(StatusText(VP8_STATUS_BITSTREAM_ERROR));
        header.width = int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
        header.height = int(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
        header.frames = int(WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT));
    }
    return header;
}

// Top-down samples of the picture: RGB, or RGBA when it has alpha. Rows holds
// how many of the top rows were decoded, fewer than the height only when the
// data ends early.
struct TDecodedRows {
    std::vector<std::uint8_t> samples;
    int channels = 3;
    int rows = 0;
};


struct TAnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The first frame of an animation, composed on its canvas.
TDecodedRows DecodeFirstFrame(const std::vector<std::uint8_t>& data, const TWebPHeader& header)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        Fail(kInvalidLibraryVersion);
    options.color_mode = MODE_RGBA;
    options.use_threads = PhotoCodecThreadCount() > 1;
    const WebPData webpData{data.data(), data.size()};
    std::unique_ptr<WebPAnimDecoder, TAnimDecoderDeleter> decoder(WebPAnimDecoderNew(&webpData, &options));
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!decoder || !WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp))
        Fail(StatusText(VP8_STATUS_BITSTREAM_ERROR));
    TDecodedRows decoded;
    decoded.channels = 4;
    decoded.rows = header.height;
    decoded.samples.assign(canvas, canvas + std::size_t(header.width) * std::size_t(header.height) * 4);
    return decoded;
}

struct TIDecoderDeleter {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

// A still image, through the incremental decoder, which tells how many rows a
// file cut short still gives.
TDecodedRows DecodeStill(const std::vector<std::uint8_t>& data, const TWebPHeader& header)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        Fail(kInvalidLibraryVersion);
    config.options.use_threads = PhotoCodecThreadCount() > 1;
    TDecodedRows decoded;
    decoded.channels = header.features.has_alpha ? 4 : 3;
    decoded.samples.resize(std::size_t(header.width) * std::size_t(header.height) * std::size_t(decoded.channels));
    config.output.colorspace = decoded.channels == 4 ? MODE_RGBA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = decoded.samples.data();
    config.output.u.RGBA.stride = header.width * decoded.channels;
    config.output.u.RGBA.size = decoded.samples.size();
    std::unique_ptr<WebPIDecoder, TIDecoderDeleter> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder)
        Fail(StatusText(VP8_STATUS_OUT_OF_MEMORY));
    const VP8StatusCode status = WebPIUpdate(decoder.get(), data.data(), data.size());
    if (status != VP8_STATUS_OK && status != VP8_STATUS_SUSPENDED)
        Fail(StatusText(status));
    decoded.rows = header.height;
    if (status == VP8_STATUS_SUSPENDED &&
        WebPIDecGetRGB(decoder.get(), &decoded.rows, nullptr, nullptr, nullptr) == nullptr)
        decoded.rows = 0;
    return decoded;
}

// ---- writer --------------------------------------------------------------------------------

struct TWriteContext {
    TStream* stream = nullptr;
    std::exception_ptr exception;
};

int WriteFn(const std::uint8_t* data, std::size_t size, const WebPPicture* picture)
{
    auto& context = *static_cast<TWriteContext*>(picture->custom_ptr);
    try {
        context.stream->WriteBuffer(data, std::int64_t(size));
        return 1;
    } catch (...) {
        context.exception = std::current_exception();
        return 0;
    }
}

const char* EncodingErrorText(WebPEncodingError error)
{
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION: return "the image is larger than 16383 x 16383 pixels or empty";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW: return "partition overflow";
    case VP8_ENC_ERROR_BAD_WRITE: return "write error";
    case VP8_ENC_ERROR_FILE_TOO_BIG: return "the file would be larger than 4 GB";
    default: return "encoding failed";
    }
}

struct TPictureGuard {
    WebPPicture& picture;
    ~TPictureGuard() { WebPPictureFree(&picture); }
};

WebPConfig EncoderConfig()
{
    const TPGSettings& settings = Settings();
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, float(ClampQuality(settings.WebPQuality))))
        Fail(kInvalidLibraryVersion);
    config.method = 4;
    if (settings.WebPLossless) {
        config.lossless = 1;
        config.quality = 75;  // the effort cwebp -lossless spends
    }
    config.thread_level = PhotoCodecThreadCount() > 1 ? 1 : 0;
    return config;
}

}  // namespace

// ---- reader ------------------------------------------------------------------------------

TWebPFileFormatReader::TWebPFileFormatReader()
{
    Extension = "webp";
    Description = "WebP";
    HasSignature = true;
}

bool TWebPFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= 12 && std::memcmp(header.Bytes.data(), "RIFF", 4) == 0 &&
           std::memcmp(header.Bytes.data() + 8, "WEBP", 4) == 0;
}

void TWebPFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalid, "Index"));
    const std::vector<std::uint8_t> data = ReadRestOfStream(stream);
    const TWebPHeader header = HeaderOf(data);
    CheckImagePixels(header.width, header.height);
    const TDecodedRows decoded =
        header.features.has_animation ? DecodeFirstFrame(data, header) : DecodeStill(data, header);
    // The rows that came stay; without any the file is of no use.
    if (decoded.rows <= 0)
        Fail(MessageText(kMsgUnexpectedEndOfFile));
    graphic.SetSize(header.width, header.height, PhotoPixelFormat(decoded.channels == 4));
    graphic.Clear();
    TProgressScope progress(graphic, this);
    const std::size_t rowBytes = std::size_t(header.width) * std::size_t(decoded.channels);
    const bool aborted = StoreRowsReporting(graphic, this, decoded.rows, [&](int y) {
        const std::uint8_t* row = decoded.samples.data() + std::size_t(y) * rowBytes;
        if (decoded.channels == 4)
            StoreRgbaRow(graphic, y, row);
        else
            StoreRgbRow(graphic, y, row);
    });
    if (!aborted && decoded.rows < header.height)
        ReadWarning<EPGWebPFileFormatReaderWriter>(graphic, kTag + MessageText(kMsgUnexpectedEndOfFile),
                                                   "WebP " + MessageText(kMsgWarning));
}

void TWebPFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalidValueFor, "Index"));
    const TWebPHeader header = HeaderOf(ReadRestOfStream(stream));
    const char* coding = header.features.has_animation ? "animated"
                         : header.features.format == 2 ? "lossless"
                                                       : "lossy";
    const bool alpha = header.features.has_alpha != 0;
    info.HasAlpha = alpha;
    info.SubFormatText = PhotoSubFormatText(coding, 8, alpha, header.frames);
    info.Width = header.width;
    info.Height = header.height;
    info.BitsPerPixel = alpha ? 32 : 24;
    info.ColorsText = "16.7M";
    info.ImageCount = header.frames;
}

// ---- writer ------------------------------------------------------------------------------

TWebPFileFormatWriter::TWebPFileFormatWriter()
{
    Extension = "webp";
    Description = "WebP";
    CanWriteResolutions = TColorResolutions(0xFF);
    CanWriteAlpha = true;
}

namespace {

// A 32-bit image's rows, top down: its blue, green, red, alpha bytes are what
// libwebp imports as BGRA.
std::vector<std::uint8_t> TopDownBgra(TPixelGraphic& graphic, TObject* sender)
{
    const std::size_t rowBytes = std::size_t(graphic.Width()) * 4;
    std::vector<std::uint8_t> bgra(rowBytes * std::size_t(graphic.Height()));
    for (int y = 0; y < graphic.Height(); ++y) {
        std::copy_n(graphic.ScanLine(y), rowBytes, bgra.data() + std::size_t(y) * rowBytes);
        graphic.Progress(sender, y, graphic.Height() - 1);
    }
    return bgra;
}

}  // namespace

void TWebPFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
    WebPConfig config = EncoderConfig();
    WebPPicture picture;
    if (!WebPPictureInit(&picture))
        Fail(kInvalidLibraryVersion);
    TPictureGuard guard{picture};
    picture.width = graphic.Width();
    picture.height = graphic.Height();
    picture.use_argb = config.lossless;
    TWriteContext context{&stream, nullptr};
    picture.writer = WriteFn;
    picture.custom_ptr = &context;

    TProgressScope progress(graphic, this);
    const bool alpha = graphic.HasAlpha();
    const std::vector<std::uint8_t> samples = alpha ? TopDownBgra(graphic, this) : TopDownRgb(graphic, this);
    const bool imported = alpha ? WebPPictureImportBGRA(&picture, samples.data(), graphic.Width() * 4)
                                : WebPPictureImportRGB(&picture, samples.data(), graphic.Width() * 3);
    if (!imported)
        Fail(EncodingErrorText(picture.error_code));
    const bool encoded = WebPEncode(&config, &picture) != 0;
    if (context.exception)
        std::rethrow_exception(context.exception);
    if (!encoded)
        Fail(EncodingErrorText(picture.error_code));
}

}  // namespace rastova
