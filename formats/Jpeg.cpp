#include "formats/Jpeg.h"

#include "formats/CodecTrap.h"

#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/Streams.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>
#include <string>
#include <utility>

#include <jerror.h>

namespace rastova {

namespace {

const char* const kTag = "JPG: ";
constexpr std::size_t kDestinationBufferSize = 4096;
// libjpeg-turbo decodes Huffman data on its fast path only while 512 bytes per block
// of an MCU (up to 5 KB) are buffered; with 4 KB refills most of a file would take
// the slow path, about 10 % slower in all. The source therefore refills 64 KB at a time.
constexpr std::size_t kSourceBufferSize = 65536;
constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStartOfImage = 0xD8;
// Progressive files keep every coefficient of the image in memory while they are
// decoded; past this the codec reports an error instead of taking more.
constexpr long kCodecMemoryLimit = 1L << 30;
// Encoders write a few dozen scans at most; every scan walks all coefficients
// of the image again, so a small file of thousands of scans costs seconds.
// Browsers stop at a few hundred as well.
constexpr int kMaxScans = 500;

[[noreturn]] void Fail(const std::string& message)
{
    throw EPGJPGFileFormatReaderWriter(kTag + message);
}

// ---- errors: the codec jumps back, C++ throws ---------------------------------------

// The callbacks reach the trap through the codec object's client_data.
TCodecTrap& ContextOf(j_common_ptr cinfo)
{
    return *static_cast<TCodecTrap*>(cinfo->client_data);
}

static_assert(sizeof(TCodecTrap::message) >= JMSG_LENGTH_MAX);

void ErrorExit(j_common_ptr cinfo)
{
    TCodecTrap& context = ContextOf(cinfo);
    const int code = cinfo->err->msg_code;
    (*cinfo->err->format_message)(cinfo, context.message);
    // The codec checks at object creation that it is the release our headers describe.
    context.stop = (code == JERR_BAD_LIB_VERSION || code == JERR_BAD_STRUCT_SIZE) ? TCodecStop::VersionMismatch
                                                                                     : TCodecStop::CodecError;
    context.JumpBack();
}

// With trace level 0 the codec routes only the first warning of an image here.
void OutputMessage(j_common_ptr cinfo)
{
    TCodecTrap& context = ContextOf(cinfo);
    if (context.warningAction == pgwaIgnore)
        return;
    (*cinfo->err->format_message)(cinfo, context.message);
    if (!context.WarningAllowsGoingOn("JPG"))
        context.JumpBack();
}

// Called while the codec takes in scans: past the cap it stops like an error.
void LimitScans(j_common_ptr cinfo)
{
    const auto* info = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (info->input_scan_number <= kMaxScans)
        return;
    TCodecTrap& context = ContextOf(cinfo);
    context.KeepMessage(("More than " + std::to_string(kMaxScans) + " scans").c_str());
    context.stop = TCodecStop::CodecError;
    context.JumpBack();
}

void DestroyCodec(jpeg_decompress_struct& info) { jpeg_destroy_decompress(&info); }
void DestroyCodec(jpeg_compress_struct& info) { jpeg_destroy_compress(&info); }

// Owns one codec object with its error manager; destroying a never-created or
// half-created object is safe, so the destructor covers every path.
template <typename TInfo>
class TJpegCodec {
public:
    explicit TJpegCodec(TPGWarningAction warningAction)
    {
        m_context.warningAction = warningAction;
        jpeg_std_error(&m_error);
        m_error.error_exit = ErrorExit;
        m_error.output_message = OutputMessage;
        m_info.err = &m_error;
        m_info.client_data = &m_context;
    }
    ~TJpegCodec() { DestroyCodec(m_info); }
    TJpegCodec(const TJpegCodec&) = delete;
    TJpegCodec& operator=(const TJpegCodec&) = delete;

    TInfo& Info() { return m_info; }

    // Runs codec calls; a codec error or a stopping warning raises here.
    template <typename TCall>
    void Call(TCall&& call)
    {
        CallTrapped<EPGJPGFileFormatReaderWriter>(m_context, kTag, call);
    }

private:
    TCodecTrap m_context;
    jpeg_error_mgr m_error{};
    TInfo m_info{};
};

// The codec's release tag ("6b" for the interface of release 62) must name the
// release whose headers we were compiled with.
bool CodecReleaseMatches()
{
    jpeg_error_mgr error{};
    jpeg_std_error(&error);
    if (error.jpeg_message_table == nullptr || JMSG_VERSION > error.last_jpeg_message)
        return false;
    const char* tag = error.jpeg_message_table[JMSG_VERSION];
    return tag != nullptr && std::atoi(tag) == JPEG_LIB_VERSION / 10;
}

// ---- data source over a stream ------------------------------------------------------

struct TStreamSource {
    jpeg_source_mgr pub;
    TStream* stream;
    JOCTET* buffer;
    bool atStart;
};

std::int64_t ReadStream(TCodecTrap& context, TStream& stream, JOCTET* buffer)
{
    try {
        return stream.Read(buffer, kSourceBufferSize);
    } catch (...) {
        context.KeepException();
        return -1;
    }
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    auto* source = reinterpret_cast<TStreamSource*>(cinfo->src);
    TCodecTrap& context = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
    std::int64_t count = ReadStream(context, *source->stream, source->buffer);
    if (count < 0)
        context.JumpBack();
    if (count == 0) {
        if (source->atStart)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // A truncated file still decodes: the codec fills in what is missing.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->buffer[0] = kMarkerPrefix;
        source->buffer[1] = JPEG_EOI;
        count = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = std::size_t(count);
    source->atStart = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr& pub = *cinfo->src;
    while (std::size_t(count) > pub.bytes_in_buffer) {
        count -= long(pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    pub.next_input_byte += count;
    pub.bytes_in_buffer -= std::size_t(count);
}

// Inside a trapped call: the codec's allocator raises its own out-of-memory error.
void CreateDecompress(jpeg_decompress_struct& info, TStream& stream)
{
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = kCodecMemoryLimit;
    const auto common = reinterpret_cast<j_common_ptr>(&info);
    auto* source = static_cast<TStreamSource*>(
        (*info.mem->alloc_small)(common, JPOOL_PERMANENT, sizeof(TStreamSource)));
    source->buffer =
        static_cast<JOCTET*>((*info.mem->alloc_small)(common, JPOOL_PERMANENT, kSourceBufferSize));
    source->stream = &stream;
    source->atStart = true;
    source->pub.init_source = InitSource;
    source->pub.fill_input_buffer = FillInputBuffer;
    source->pub.skip_input_data = SkipInputData;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = TermSource;
    source->pub.bytes_in_buffer = 0;
    source->pub.next_input_byte = nullptr;
    info.src = &source->pub;
}

// ---- data destination over a stream -------------------------------------------------

struct TStreamDestination {
    jpeg_destination_mgr pub;
    TStream* stream;
    JOCTET* buffer;
};

std::int64_t WriteStream(TCodecTrap& context, TStream& stream, const JOCTET* buffer, std::size_t count)
{
    try {
        return stream.Write(buffer, std::int64_t(count));
    } catch (...) {
        context.KeepException();
        return -1;
    }
}

void FlushDestination(j_compress_ptr cinfo, std::size_t count)
{
    if (count == 0)
        return;
    auto* destination = reinterpret_cast<TStreamDestination*>(cinfo->dest);
    TCodecTrap& context = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
    const std::int64_t written = WriteStream(context, *destination->stream, destination->buffer, count);
    if (written < 0)
        context.JumpBack();
    if (written != std::int64_t(count))
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

void InitDestination(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<TStreamDestination*>(cinfo->dest);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kDestinationBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    FlushDestination(cinfo, kDestinationBufferSize);
    InitDestination(cinfo);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    FlushDestination(cinfo, kDestinationBufferSize - cinfo->dest->free_in_buffer);
}

void CreateCompress(jpeg_compress_struct& info, TStream& stream)
{
    jpeg_create_compress(&info);
    const auto common = reinterpret_cast<j_common_ptr>(&info);
    auto* destination = static_cast<TStreamDestination*>(
        (*info.mem->alloc_small)(common, JPOOL_PERMANENT, sizeof(TStreamDestination)));
    destination->buffer =
        static_cast<JOCTET*>((*info.mem->alloc_small)(common, JPOOL_PERMANENT, kDestinationBufferSize));
    destination->stream = &stream;
    destination->pub.init_destination = InitDestination;
    destination->pub.empty_output_buffer = EmptyOutputBuffer;
    destination->pub.term_destination = TermDestination;
    destination->pub.next_output_byte = nullptr;
    destination->pub.free_in_buffer = 0;
    info.dest = &destination->pub;
}

// ---- rows ------------------------------------------------------------------------------

TBitCount BitCountOfComponents(int components)
{
    if (components == 1)
        return bc8;
    // CMYK and YCCK files arrive with four components and become RGB.
    if (components == 3 || components == 4)
        return bc24;
    Fail(MessageText(kMsgNotSupportedSubformat));
}

// Progressive files allocate their coefficients when decompression starts; an
// image too large to hold is refused by the image's own size gate before that.
void RefuseOversizedOutput(TPixelGraphic& graphic, const jpeg_decompress_struct& info)
{
    if (info.output_components < 1 || info.output_components > 4 || info.output_components == 2)
        return;
    const int bytes = std::min(info.output_components, 3);
    const std::int64_t stride = (std::int64_t(info.output_width) * 8 * bytes + 31) / 32 * 4;
    if (stride * std::int64_t(info.output_height) > std::numeric_limits<std::int32_t>::max())
        graphic.SetSize(int(info.output_width), int(info.output_height),
                        BitCountOfComponents(info.output_components));
}

// CMYK to blue, green, red as (1 - C)(1 - K) per channel. Adobe's files (APP14)
// store the inks inverted, so there the samples already are 1 - C and 1 - K.
void CmykToBgr(const std::uint8_t* cmyk, std::uint8_t* bgr, std::size_t pixels, bool inverted)
{
    const int flip = inverted ? 0 : 255;
    for (std::size_t i = 0; i < pixels; ++i, cmyk += 4, bgr += 3) {
        const int k = cmyk[3] ^ flip;
        bgr[0] = std::uint8_t(((cmyk[2] ^ flip) * k + 127) / 255);
        bgr[1] = std::uint8_t(((cmyk[1] ^ flip) * k + 127) / 255);
        bgr[2] = std::uint8_t(((cmyk[0] ^ flip) * k + 127) / 255);
    }
}

void ReadScanlines(TJpegCodec<jpeg_decompress_struct>& codec, TPixelGraphic& graphic, TObject* sender)
{
    jpeg_decompress_struct& info = codec.Info();
    const int height = int(info.output_height);
    const bool cmyk = info.out_color_space == JCS_CMYK;
    std::vector<std::uint8_t> inks(cmyk ? std::size_t(info.output_width) * 4 : 0);
    TProgressScope progress(graphic, sender);
    while (int(info.output_scanline) < height) {
        std::uint8_t* line = graphic.ScanLine(int(info.output_scanline));
        JSAMPROW row = cmyk ? inks.data() : line;
        JDIMENSION rows = 0;
        codec.Call([&] { rows = jpeg_read_scanlines(&info, &row, 1); });
        if (cmyk && rows != 0)
            CmykToBgr(inks.data(), line, info.output_width, info.saw_Adobe_marker);
        // Only a suspending source returns no rows; ours never suspends.
        if (rows == 0)
            Fail(MessageText(kMsgUnexpectedEndOfFile));
        if (graphic.Progress(sender, int(info.output_scanline), height))
            break;
    }
}

void WriteScanlines(TJpegCodec<jpeg_compress_struct>& codec, TPixelGraphic& graphic, TObject* sender)
{
    jpeg_compress_struct& info = codec.Info();
    const int height = int(info.image_height);
    TProgressScope progress(graphic, sender);
    while (int(info.next_scanline) < height) {
        JSAMPROW row = graphic.ScanLine(int(info.next_scanline));
        JDIMENSION rows = 0;
        codec.Call([&] { rows = jpeg_write_scanlines(&info, &row, 1); });
        if (rows == 0)
            Fail(MessageText(kMsgFailed, "jpeg_write_scanlines"));
        // Writers finish what they started: Abort is not looked at.
        graphic.Progress(sender, int(info.next_scanline), height);
    }
}

const char* ColorSpaceText(J_COLOR_SPACE space)
{
    switch (space) {
    case JCS_UNKNOWN: return "unknown";
    case JCS_GRAYSCALE: return "GrayScale";
    case JCS_RGB: return "RGB";
    case JCS_YCbCr: return "YCbCr";
    case JCS_CMYK: return "CMYK";
    case JCS_YCCK: return "YCbCrK";
    default: return "";
    }
}

const char* ColorsTextOfComponents(int components)
{
    switch (components) {
    case 1: return "256";
    case 2: return "64K";
    case 3: return "16.7M";
    case 4: return "4294.9M";
    default: return "?";
    }
}

}  // namespace

// ---- readers ----------------------------------------------------------------------------

TJPGFileFormatReader::TJPGFileFormatReader()
{
    Extension = "jpg";
    Description = "JPEG (JFIF compliant)";
    HasSignature = true;
}

bool TJPGFileFormatReader::CheckSignature(const TSignatureHeader& header)
{
    return header.Count >= 2 && header[0] == kMarkerPrefix && header[1] == kStartOfImage;
}

void TJPGFileFormatReader::Read(TStream& stream, TPixelGraphic& graphic, int imageIndex)
{
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalid, "Index"));
    if (!CodecReleaseMatches())
        Fail(kInvalidLibraryVersion);
    graphic.SetGamma(Settings().DisplayGamma);

    TJpegCodec<jpeg_decompress_struct> codec(graphic.ReadWarningAction());
    jpeg_decompress_struct& info = codec.Info();
    codec.Call([&] {
        CreateDecompress(info, stream);
        jpeg_read_header(&info, TRUE);
    });

    jpeg_progress_mgr scanLimit{};
    scanLimit.progress_monitor = LimitScans;
    info.progress = &scanLimit;
    info.scale_num = 1;
    info.scale_denom = 1;
    info.dct_method = graphic.JPEGFastDCT() ? JDCT_IFAST : J_DCT_METHOD(Settings().JPEGReadDCTMethod);
    info.quantize_colors = FALSE;
    info.dither_mode = JDITHER_NONE;
    info.two_pass_quantize = FALSE;
    // Colour rows come out blue, green, red: the memory order of a bc24 row.
    if (info.out_color_space == JCS_RGB)
        info.out_color_space = JCS_EXT_BGR;
    codec.Call([&] { jpeg_calc_output_dimensions(&info); });
    RefuseOversizedOutput(graphic, info);
    CheckImagePixels(info.output_width, info.output_height);

    codec.Call([&] { jpeg_start_decompress(&info); });
    const TBitCount bitCount = BitCountOfComponents(info.output_components);
    if (bitCount == bc8)
        graphic.SetPaletteIdent(pGray256);
    graphic.SetSize(int(info.output_width), int(info.output_height), bitCount);

    ReadScanlines(codec, graphic, this);
    // After an abort the codec reports the missing scanlines as its error.
    codec.Call([&] { jpeg_finish_decompress(&info); });
}

void TJPGFileFormatReader::GetInfo(TStream& stream, int imageIndex, TFileInfo& info)
{
    TFileFormatReader::GetInfo(stream, imageIndex, info);
    if (imageIndex != 0)
        Fail(MessageText(kMsgInvalidValueFor, "Index"));

    TJpegCodec<jpeg_decompress_struct> codec(pgwaRaise);
    jpeg_decompress_struct& header = codec.Info();
    codec.Call([&] {
        CreateDecompress(header, stream);
        jpeg_read_header(&header, TRUE);
    });

    info.Width = int(header.image_width);
    info.Height = int(header.image_height);
    std::string subFormat = ColorSpaceText(header.jpeg_color_space);
    if (header.progressive_mode)
        subFormat += ", Progressive";
    if (header.saw_Adobe_marker)
        subFormat = "Adope, " + subFormat;
    if (header.saw_JFIF_marker)
        subFormat = "JFIF, " + subFormat;
    info.SubFormatText = subFormat;
    info.ColorsText = ColorsTextOfComponents(header.num_components);
    info.BitsPerPixel = 8 * header.num_components;
}

TJPEGFileFormatReader::TJPEGFileFormatReader()
{
    Extension = "jpeg";
}

TJIFFileFormatReader::TJIFFileFormatReader()
{
    Extension = "jif";
}

// ---- writers ----------------------------------------------------------------------------

TJPGFileFormatWriter::TJPGFileFormatWriter()
{
    Extension = "jpg";
    Description = "JPEG (JFIF compliant)";
    CanWriteResolutions = TColorResolutions(ResolutionBit(cr256Gray) | ResolutionBit(crTrueColor));
}

void TJPGFileFormatWriter::Write(TStream& stream, TPixelGraphic& graphic)
{
    if (!CodecReleaseMatches())
        Fail(kInvalidLibraryVersion);

    TJpegCodec<jpeg_compress_struct> codec(graphic.ReadWarningAction());
    jpeg_compress_struct& info = codec.Info();
    codec.Call([&] { CreateCompress(info, stream); });
    info.image_width = JDIMENSION(graphic.GetWidth());
    info.image_height = JDIMENSION(graphic.GetHeight());
    graphic.DetectPaletteIdent();
    const bool gray = graphic.BitCount() == bc8 && graphic.PaletteIdent() == pGray256;
    if (!gray && graphic.BitCount() != bc24)
        Fail(MessageText(kMsgInvalidValueFor, "BitCount"));
    info.input_components = gray ? 1 : 3;
    // Colour rows go in as stored: blue, green, red.
    info.in_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;

    const int quality = Settings().JPEGQuality;
    const bool progressive = Settings().JPEGProgressive;
    const J_DCT_METHOD dctMethod = J_DCT_METHOD(Settings().JPEGWriteDCTMethod);
    const TJPEGSampling sampling = Settings().JPEGSampling;
    codec.Call([&] {
        jpeg_set_defaults(&info);
        // Luma's sampling factors against chroma's 1 x 1: 4:4:4, 4:2:2, 4:2:0.
        if (sampling != jsDefault && !gray) {
            info.comp_info[0].h_samp_factor = sampling == js444 ? 1 : 2;
            info.comp_info[0].v_samp_factor = sampling == js420 ? 2 : 1;
        }
        if (progressive)
            jpeg_simple_progression(&info);
        jpeg_set_quality(&info, quality, TRUE);
        info.dct_method = dctMethod;
        jpeg_start_compress(&info, TRUE);
    });
    WriteScanlines(codec, graphic, this);
    codec.Call([&] { jpeg_finish_compress(&info); });
}

TJPEGFileFormatWriter::TJPEGFileFormatWriter()
{
    Extension = "jpeg";
}

TJIFFileFormatWriter::TJIFFileFormatWriter()
{
    Extension = "jif";
}

}  // namespace rastova
