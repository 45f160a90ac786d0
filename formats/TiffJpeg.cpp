// libjpeg glue of the TIFF reader. Errors leave libjpeg by longjmp to a frame
// that holds no C++ object; the message is raised once back in C++.
#include "formats/TiffJpeg.h"

#include "formats/TiffTags.h"
#include "image/PGExceptions.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include <jpeglib.h>

namespace rastova::tiff {

namespace {

struct TJpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo)
{
    TJpegError* error = reinterpret_cast<TJpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, error->message);
    std::longjmp(error->jump, 1);
}

// Warnings (corrupt data that libjpeg recovers from) are passed over, as
// libtiff does.
void OutputMessage(j_common_ptr) {}

J_COLOR_SPACE SpaceOf(int photometric, int samples)
{
    switch (photometric) {
    case kPhotometricYCbCr: return JCS_YCbCr;
    case kPhotometricRGB: return JCS_RGB;
    case kPhotometricCMYK: return JCS_CMYK;
    default: return samples == 1 ? JCS_GRAYSCALE : JCS_UNKNOWN;
    }
}

// Everything between setjmp and the end of the decoding: plain C data only.
// Returns false with the codec's message in error.message.
bool Run(jpeg_decompress_struct& info, TJpegError& error, const TJpegChunk& chunk, const std::uint8_t* data,
         std::size_t size, std::uint8_t* out, bool useTables, const char** problem)
{
    if (setjmp(error.jump))
        return false;
    if (useTables) {
        jpeg_mem_src(&info, chunk.tables->data(), static_cast<unsigned long>(chunk.tables->size()));
        jpeg_read_header(&info, FALSE);
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        *problem = "holds no image";
        return false;
    }
    // A stream much bigger than its strip or tile would only cost memory.
    if (info.image_width > JDIMENSION(chunk.width) + 64 || info.image_height > JDIMENSION(chunk.rows) + 64) {
        *problem = "is larger than its strip or tile";
        return false;
    }
    const J_COLOR_SPACE space = SpaceOf(chunk.photometric, chunk.samples);
    if (space == JCS_UNKNOWN || info.num_components != (space == JCS_YCbCr ? 3 : chunk.samples)) {
        *problem = "has components other than the image's samples";
        return false;
    }
    info.jpeg_color_space = space;
    info.out_color_space = space == JCS_YCbCr || space == JCS_RGB ? (chunk.bgr ? JCS_EXT_BGR : JCS_RGB) : space;
    jpeg_start_decompress(&info);
    const JDIMENSION columns = std::min<JDIMENSION>(info.output_width, JDIMENSION(chunk.width));
    const std::size_t rowBytes = std::size_t(chunk.width) * std::size_t(chunk.samples);
    JSAMPROW line = static_cast<JSAMPROW>(
        (*info.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                 std::size_t(info.output_width) * std::size_t(info.output_components)));
    // Rows as wide as the chunk's are decoded in place.
    const bool inPlace = info.output_width == JDIMENSION(chunk.width);
    while (info.output_scanline < info.output_height) {
        const JDIMENSION y = info.output_scanline;
        JSAMPROW target = inPlace && y < JDIMENSION(chunk.rows) ? out + y * rowBytes : line;
        jpeg_read_scanlines(&info, &target, 1);
        if (target == line && y < JDIMENSION(chunk.rows))
            std::memcpy(out + y * rowBytes, line, std::size_t(columns) * std::size_t(chunk.samples));
    }
    jpeg_finish_decompress(&info);
    return true;
}

void Decode(const TJpegChunk& chunk, const std::uint8_t* data, std::size_t size, std::uint8_t* out, bool useTables)
{
    jpeg_decompress_struct info{};
    TJpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = ErrorExit;
    error.manager.output_message = OutputMessage;
    jpeg_create_decompress(&info);
    const char* problem = nullptr;
    const bool ok = Run(info, error, chunk, data, size, out, useTables, &problem);
    jpeg_destroy_decompress(&info);
    if (!ok)
        throw EPGTIFFileFormatReader(std::string("TIFF: JPEG: ") +
                                     (problem ? std::string("the stream ") + problem : std::string(error.message)));
}

}  // namespace

void DecodeJpegChunk(const TJpegChunk& chunk, const std::uint8_t* data, std::size_t size, std::uint8_t* out)
{
    Decode(chunk, data, size, out, chunk.tables && !chunk.tables->empty());
}

void DecodeJpegStream(const TJpegChunk& chunk, const std::uint8_t* data, std::size_t size, std::uint8_t* out)
{
    Decode(chunk, data, size, out, false);
}

}  // namespace rastova::tiff
