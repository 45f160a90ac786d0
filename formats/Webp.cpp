#include "formats/Webp.h"

#include "formats/CodecTrap.h"
#include "formats/PhotoCodecs.h"
#include "image/PGMessages.h"
#include "image/Streams.h"

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

// Until images keep alpha, transparent pixels are laid over the background.
void LayAlphaRow(TPixelGraphic& graphic, int y, const std::uint8_t* rgba)
{
    StoreRgbaRowOver(graphic, y, rgba, graphic.GetBackGroundColor());
}

struct TAnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The first frame of an animation, composed on its canvas.
void ReadFirstFrame(const std::vector<std::uint8_t>& data, TPixelGraphic& graphic)
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
    for (int y = 0; y < graphic.Height(); ++y)
        LayAlphaRow(graphic, y, canvas + std::size_t(y) * std::size_t(graphic.Width()) * 4);
}

struct TIDecoderDeleter {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

// A still image. Without alpha the codec writes the stored rows directly
// (flipped, as they are bottom-up); with alpha through a buffer of RGBA rows.
// Returns the number of top rows decoded, which is less than the height only
// when the data ends early.
int ReadStill(const std::vector<std::uint8_t>& data, const TWebPHeader& header, TPixelGraphic& graphic)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        Fail(kInvalidLibraryVersion);
    config.options.use_threads = PhotoCodecThreadCount() > 1;
    const bool alpha = header.features.has_alpha != 0;
    std::vector<std::uint8_t> rgba;
    WebPRGBABuffer& out = config.output.u.RGBA;
    config.output.is_external_memory = 1;
    if (alpha) {
        rgba.resize(std::size_t(graphic.Width()) * std::size_t(graphic.Height()) * 4);
        config.output.colorspace = MODE_RGBA;
        out.rgba = rgba.data();
        out.stride = graphic.Width() * 4;
        out.size = rgba.size();
    } else {
        config.output.colorspace = MODE_BGR;
        config.options.flip = 1;
        out.rgba = graphic.ScanLine(graphic.Height() - 1);
        out.stride = graphic.RowStride();
        out.size = std::size_t(graphic.ImageSize());
    }
    std::unique_ptr<WebPIDecoder, TIDecoderDeleter> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder)
        Fail(StatusText(VP8_STATUS_OUT_OF_MEMORY));
    const VP8StatusCode status = WebPIUpdate(decoder.get(), data.data(), data.size());
    if (status != VP8_STATUS_OK && status != VP8_STATUS_SUSPENDED)
        Fail(StatusText(status));
    int rows = graphic.Height();
    if (status == VP8_STATUS_SUSPENDED && WebPIDecGetRGB(decoder.get(), &rows, nullptr, nullptr, nullptr) == nullptr)
        rows = 0;
    if (alpha)
        for (int y = 0; y < rows; ++y)
            LayAlphaRow(graphic, y, rgba.data() + std::size_t(y) * std::size_t(out.stride));
    return rows;
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
    graphic.SetSize(header.width, header.height, bc24);
    graphic.Clear();
    TProgressScope progress(graphic, this);
    if (header.features.has_animation) {
        ReadFirstFrame(data, graphic);
    } else if (const int rows = ReadStill(data, header, graphic); rows < header.height) {
        // The rows that came stay; without any the file is of no use.
        if (rows <= 0)
            Fail(MessageText(kMsgUnexpectedEndOfFile));
        ReadWarning<EPGWebPFileFormatReaderWriter>(graphic, kTag + MessageText(kMsgUnexpectedEndOfFile),
                                                   "WebP " + MessageText(kMsgWarning));
    }
    graphic.Progress(this, 1, 1);
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
}

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
    bool imported = false;
    if (graphic.BitCount() == bc24 && graphic.Height() > 0) {
        // The stored rows run bottom-up: the top row and a negative stride.
        imported = WebPPictureImportBGR(&picture, graphic.ScanLine(0), -graphic.RowStride()) != 0;
    } else {
        const std::vector<std::uint8_t> rgb = TopDownRgb(graphic);
        imported = WebPPictureImportRGB(&picture, rgb.data(), graphic.Width() * 3) != 0;
    }
    if (!imported)
        Fail(EncodingErrorText(picture.error_code));
    const bool encoded = WebPEncode(&config, &picture) != 0;
    if (context.exception)
        std::rethrow_exception(context.exception);
    if (!encoded)
        Fail(EncodingErrorText(picture.error_code));
    graphic.Progress(this, 1, 1);
}

}  // namespace rastova
