#include "formats/Heif.h"

#include "formats/HeifGrid.h"
#include "formats/PhotoCodecs.h"
#include "image/PGMessages.h"
#include "image/Streams.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <libheif/heif.h>

namespace rastova {

namespace {

const char* TagOf(THeifKind kind)
{
    return kind == hkAVIF ? "AVIF: " : "HEIC: ";
}

[[noreturn]] void Fail(THeifKind kind, const std::string& message)
{
    if (kind == hkAVIF)
        throw EPGAVIFFileFormatReaderWriter(TagOf(kind) + message);
    throw EPGHEICFileFormatReaderWriter(TagOf(kind) + message);
}

void Check(THeifKind kind, const heif_error& error)
{
    if (error.code != heif_error_Ok)
        Fail(kind, error.message != nullptr && *error.message != '\0' ? error.message : "coding failed");
}

struct THeifDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
    void operator()(heif_image* image) const { heif_image_release(image); }
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
    void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
    void operator()(heif_color_profile_nclx* profile) const { heif_nclx_color_profile_free(profile); }
};
template <class T>
using THeifPtr = std::unique_ptr<T, THeifDeleter>;

// The main brand of an ISO base media file type box, which the first 17 bytes hold.
// Real type boxes list a handful of brands, so a size of 256 bytes or more is
// taken for other data.
bool HasBrand(const TSignatureHeader& header, std::initializer_list<const char*> brands)
{
    constexpr int kMinBoxSize = 16;
    if (header.Count < 12 || header[0] != 0 || header[1] != 0 || header[2] != 0 || header[3] < kMinBoxSize ||
        std::memcmp(header.Bytes.data() + 4, "ftyp", 4) != 0)
        return false;
    return std::any_of(brands.begin(), brands.end(),
                       [&](const char* brand) { return std::memcmp(header.Bytes.data() + 8, brand, 4) == 0; });
}

// A parsed file with its primary image; the file's bytes must outlive it.
struct THeifFile {
    THeifPtr<heif_context> context;
    THeifPtr<heif_image_handle> handle;
};

THeifFile OpenFile(THeifKind kind, const std::vector<std::uint8_t>& data)
{
    THeifFile file;
    file.context.reset(heif_context_alloc());
    if (!file.context)
        Fail(kind, MessageText(kMsgFailed, "heif_context_alloc"));
    // libheif refuses images wider or higher than this while parsing.
    const std::uint64_t limit = Settings().MaxImagePixels;
    if (limit > 0)
        heif_context_set_maximum_image_size_limit(file.context.get(), int(std::min<std::uint64_t>(limit, INT_MAX)));
    heif_context_set_max_decoding_threads(file.context.get(), PhotoCodecThreadCount());
    Check(kind, heif_context_read_from_memory_without_copy(file.context.get(), data.data(), data.size(), nullptr));
    heif_image_handle* handle = nullptr;
    Check(kind, heif_context_get_primary_image_handle(file.context.get(), &handle));
    file.handle.reset(handle);
    return file;
}


void DecodeInto(THeifKind kind, const heif_image_handle* handle, TPixelGraphic& graphic, TObject* sender)
{
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    THeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    Check(kind, heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                                  alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get()));
    THeifPtr<heif_image> image(decoded);
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || heif_image_get_width(image.get(), heif_channel_interleaved) != graphic.Width() ||
        heif_image_get_height(image.get(), heif_channel_interleaved) != graphic.Height() ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
        Fail(kind, MessageText(kMsgNotSupportedSubformat));
    StoreRowsReporting(graphic, sender, graphic.Height(), [&](int y) {
        const std::uint8_t* row = plane + std::size_t(y) * std::size_t(stride);
        if (alpha)
            StoreRgbaRow(graphic, y, row);
        else
            StoreRgbRow(graphic, y, row);
    });
}

// ---- writer ------------------------------------------------------------------------------

struct TWriteContext {
    TStream* stream = nullptr;
    std::exception_ptr exception;
};

heif_error WriteFn(heif_context*, const void* data, std::size_t size, void* userdata)
{
    auto& context = *static_cast<TWriteContext*>(userdata);
    try {
        context.stream->WriteBuffer(data, std::int64_t(size));
        return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
    } catch (...) {
        context.exception = std::current_exception();
        return {heif_error_Encoding_error, heif_suberror_Cannot_write_output_data, "write error"};
    }
}

THeifPtr<heif_image> ImageOf(THeifKind kind, TPixelGraphic& graphic, TObject* sender)
{
    heif_image* created = nullptr;
    Check(kind, heif_image_create(graphic.Width(), graphic.Height(), heif_colorspace_RGB,
                                  heif_chroma_interleaved_RGB, &created));
    THeifPtr<heif_image> image(created);
    Check(kind, heif_image_add_plane(image.get(), heif_channel_interleaved, graphic.Width(), graphic.Height(), 8));
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const std::vector<std::uint8_t> rgb = TopDownRgb(graphic, sender);
    const std::size_t rowBytes = std::size_t(graphic.Width()) * 3;
    for (int y = 0; y < graphic.Height(); ++y)
        std::memcpy(plane + std::size_t(y) * std::size_t(stride), rgb.data() + std::size_t(y) * rowBytes, rowBytes);
    return image;
}

// The encoder with the quality, speed and threads of the settings. Lossless AVIF
// keeps full chroma and codes the RGB samples themselves (identity matrix).
THeifPtr<heif_encoder> EncoderFor(THeifKind kind, heif_context* context)
{
    const TPGSettings& settings = Settings();
    heif_encoder* created = nullptr;
    Check(kind, heif_context_get_encoder_for_format(
                    context, kind == hkAVIF ? heif_compression_AV1 : heif_compression_HEVC, &created));
    THeifPtr<heif_encoder> encoder(created);
    const int threads = PhotoCodecThreadCount();
    if (kind == hkAVIF) {
        heif_encoder_set_parameter_integer(encoder.get(), "speed", 6);
        heif_encoder_set_parameter_integer(encoder.get(), "threads", std::clamp(threads, 1, 16));
    } else {
        // x265 runs a pool of one thread per processor unless told otherwise.
        const std::string pool = std::to_string(threads);
        heif_encoder_set_parameter_string(encoder.get(), "x265:pools", pool.c_str());
        heif_encoder_set_parameter_string(encoder.get(), "x265:frame-threads", "1");
    }
    if (kind == hkAVIF && settings.AVIFLossless) {
        Check(kind, heif_encoder_set_lossless(encoder.get(), 1));
        Check(kind, heif_encoder_set_parameter_string(encoder.get(), "chroma", "444"));
    } else {
        const int quality = kind == hkAVIF ? settings.AVIFQuality : settings.HEICQuality;
        Check(kind, heif_encoder_set_lossy_quality(encoder.get(), ClampQuality(quality)));
    }
    return encoder;
}

}  // namespace

// ---- reader ------------------------------------------------------------------------------

THeifFileFormatReader::THeifFileFormatReader(THeifKind kind) : m_kind(kind)
{
    HasSignature = true;
}

THEICFileFormatReader::THEICFileFormatReader() : THeifFileFormatReader(hkHEIC)
{
    Extension = "heic";
    Description = "HEIC";
}

THEIFFileFormatReader::THEIFFileFormatReader()
{
    Extension = "heif";
}

TAVIFFileFormatReader::TAVIFFileFormatReader() : THeifFileFormatReader(hkAVIF)
{
    Extension = "avif";
    Description = "AVIF";
}

bool THeifFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    if (m_kind == hkAVIF)
        return HasBrand(header, {"avif", "avis"});
    return HasBrand(header, {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"});
}

void THeifFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        Fail(m_kind, MessageText(kMsgInvalid, "Index"));
    const std::vector<std::uint8_t> data = ReadRestOfStream(stream);
    const THeifFile file = OpenFile(m_kind, data);
    const heif_image_handle* handle = file.handle.get();
    // The coded size and the size after the file's transformations.
    CheckImagePixels(heif_image_handle_get_ispe_width(handle), heif_image_handle_get_ispe_height(handle));
    const int width = heif_image_handle_get_width(handle);
    const int height = heif_image_handle_get_height(handle);
    CheckImagePixels(width, height);
    for (const auto& [gridWidth, gridHeight] : HeifGridSizes(data))
        CheckImagePixels(gridWidth, gridHeight);
    if (width <= 0 || height <= 0)
        Fail(m_kind, MessageText(kMsgWidthOrHeightZero));
    graphic.SetSize(width, height, PhotoPixelFormat(heif_image_handle_has_alpha_channel(handle) != 0));
    graphic.Clear();
    TProgressScope progress(graphic, this);
    DecodeInto(m_kind, handle, graphic, this);
}

void THeifFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        Fail(m_kind, MessageText(kMsgInvalidValueFor, "Index"));
    const std::vector<std::uint8_t> data = ReadRestOfStream(stream);
    const THeifFile file = OpenFile(m_kind, data);
    const heif_image_handle* handle = file.handle.get();
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle);
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const int images = heif_context_get_number_of_top_level_images(file.context.get());
    // A file of the general brand (mif1) may hold either coding; its other brands tell.
    const char* mime = heif_get_file_mime_type(data.data(), int(std::min<std::size_t>(data.size(), 1 << 16)));
    std::string coding = mime != nullptr && std::strcmp(mime, "image/avif") == 0 ? "AV1" : "HEVC";
    if (images > 1)
        coding += ", " + std::to_string(images) + " images";
    info.HasAlpha = alpha;
    info.SubFormatText = PhotoSubFormatText(coding, std::max(bits, 0), alpha, 1);
    info.Width = heif_image_handle_get_width(handle);
    info.Height = heif_image_handle_get_height(handle);
    info.BitsPerPixel = std::max(bits, 0) * (alpha ? 4 : 3);
    info.ColorsText = bits > 8 ? "1G" : "16.7M";
}

// ---- writer ------------------------------------------------------------------------------

THeifFileFormatWriter::THeifFileFormatWriter(THeifKind kind) : m_kind(kind)
{
    CanWriteResolutions = TColorResolutions(0xFF);
}

THEICFileFormatWriter::THEICFileFormatWriter() : THeifFileFormatWriter(hkHEIC)
{
    Extension = "heic";
    Description = "HEIC";
}

THEIFFileFormatWriter::THEIFFileFormatWriter()
{
    Extension = "heif";
}

TAVIFFileFormatWriter::TAVIFFileFormatWriter() : THeifFileFormatWriter(hkAVIF)
{
    Extension = "avif";
    Description = "AVIF";
}

void THeifFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
    if (graphic.GetEmpty())
        Fail(m_kind, MessageText(kMsgWidthOrHeightZero));
    THeifPtr<heif_context> context(heif_context_alloc());
    if (!context)
        Fail(m_kind, MessageText(kMsgFailed, "heif_context_alloc"));
    TProgressScope progress(graphic, this);
    THeifPtr<heif_image> image = ImageOf(m_kind, graphic, this);
    THeifPtr<heif_encoder> encoder = EncoderFor(m_kind, context.get());
    THeifPtr<heif_encoding_options> options(heif_encoding_options_alloc());
    THeifPtr<heif_color_profile_nclx> identity(heif_nclx_color_profile_alloc());
    if (m_kind == hkAVIF && Settings().AVIFLossless) {
        identity->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
        identity->full_range_flag = 1;
        options->output_nclx_profile = identity.get();
        // The AV1 coder takes its matrix and range from the image itself.
        Check(m_kind, heif_image_set_nclx_color_profile(image.get(), identity.get()));
    }
    Check(m_kind, heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), nullptr));
    TWriteContext writeContext{&stream, nullptr};
    heif_writer writer{1, WriteFn};
    const heif_error written = heif_context_write(context.get(), &writer, &writeContext);
    if (writeContext.exception)
        std::rethrow_exception(writeContext.exception);
    Check(m_kind, written);
}

}  // namespace rastova
