#include "formats/PngMetadata.h"

#include "image/ColorProfile.h"
#include "image/Streams.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include <zlib.h>

namespace rastova {

namespace {

constexpr int kSignatureSize = 8;
constexpr int kChunkHeaderSize = 8;
constexpr int kCrcSize = 4;
constexpr std::string_view kXmpKeyword = "XML:com.adobe.xmp";
constexpr std::string_view kCommentKeyword = "Comment";
constexpr std::size_t kMaxKeyword = 79;
constexpr int kPhysSize = 9;
constexpr std::uint8_t kUnitMetre = 1;

std::uint32_t U32BE(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool Wanted(std::string_view type)
{
    return type == "eXIf" || type == "iTXt" || type == "iCCP" || type == "pHYs" || type == "tEXt";
}

// The zlib stream of an iCCP chunk, inflated up to the metadata limit; empty when broken.
TBytes Inflate(const std::uint8_t* data, std::size_t size)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return {};
    TBytes out;
    std::uint8_t buffer[16384];
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    int status = Z_OK;
    while (status == Z_OK && out.size() <= kMaxMetadataBlock) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
        if (status == Z_OK && z.avail_in == 0 && z.avail_out != 0)
            break;
    }
    inflateEnd(&z);
    return status == Z_STREAM_END && out.size() <= kMaxMetadataBlock ? out : TBytes();
}

// Keyword and text of an iTXt chunk; false for a compressed or malformed one.
bool SplitInternationalText(const TBytes& chunk, std::string& keyword, std::string& text)
{
    const auto end = chunk.end();
    const auto keywordEnd = std::find(chunk.begin(), end, 0);
    if (keywordEnd == end || end - keywordEnd < 3 || *(keywordEnd + 1) != 0)
        return false;  // compressed iTXt is not kept
    const auto languageEnd = std::find(keywordEnd + 3, end, 0);
    if (languageEnd == end)
        return false;
    const auto translatedEnd = std::find(languageEnd + 1, end, 0);
    if (translatedEnd == end)
        return false;
    keyword.assign(chunk.begin(), keywordEnd);
    text.assign(translatedEnd + 1, end);
    return true;
}

void TakeChunk(std::string_view type, const TBytes& data, TImageMetadata& metadata, TPngMetadataDamage& damage)
{
    if (type == "eXIf") {
        if (ExifLooksValid(data))
            metadata.Exif = data;
        else
            damage.exif = true;
    } else if (type == "iCCP") {
        const auto nameEnd = std::find(data.begin(), data.end(), 0);
        const std::size_t at = std::size_t(nameEnd - data.begin()) + 2;  // name, zero, method
        const TBytes profile = at <= data.size() && at - 2 <= kMaxKeyword ? Inflate(data.data() + at, data.size() - at)
                                                                           : TBytes();
        if (profile.empty() || !AcceptProfile(metadata, profile))
            damage.profile = true;
    } else if (type == "pHYs" && data.size() == kPhysSize && data[8] == kUnitMetre) {
        const std::uint32_t x = U32BE(data.data());
        const std::uint32_t y = U32BE(data.data() + 4);
        if (x > 0 && y > 0)
            metadata.Resolution = TImageResolution::PerMetre(x, y);
    } else if (type == "iTXt") {
        std::string keyword, text;
        if (SplitInternationalText(data, keyword, text) && keyword == kXmpKeyword)
            metadata.Xmp.assign(text.begin(), text.end());
        else if (keyword == kCommentKeyword)
            metadata.Comments.push_back(text);
    } else if (type == "tEXt") {
        const auto keywordEnd = std::find(data.begin(), data.end(), 0);
        if (keywordEnd != data.end() && std::string_view(reinterpret_cast<const char*>(data.data()),
                                                         std::size_t(keywordEnd - data.begin())) == kCommentKeyword)
            metadata.Comments.emplace_back(keywordEnd + 1, data.end());
    }
}

}  // namespace

TPngMetadataDamage ReadPngMetadata(TStream& stream, TImageMetadata& metadata)
{
    TPngMetadataDamage damage;
    const std::int64_t start = stream.Position();
    const std::int64_t size = stream.Size();
    std::uint8_t header[kChunkHeaderSize];
    if (stream.Read(header, kSignatureSize) == kSignatureSize) {
        while (stream.Read(header, kChunkHeaderSize) == kChunkHeaderSize) {
            const std::uint32_t length = U32BE(header);
            const std::string_view type(reinterpret_cast<const char*>(header + 4), 4);
            const std::int64_t dataAt = stream.Position();
            if (type == "IEND" || std::int64_t(length) + kCrcSize > size - dataAt)
                break;
            if (Wanted(type) && length <= kMaxMetadataBlock) {
                TBytes data(length);
                std::uint8_t crc[kCrcSize];
                stream.ReadBuffer(data.data(), length);
                stream.ReadBuffer(crc, kCrcSize);
                uLong sum = crc32(0, header + 4, 4);
                sum = crc32(sum, data.data(), uInt(data.size()));
                if (sum == U32BE(crc))
                    TakeChunk(type, data, metadata, damage);
                else if (type == "iCCP")
                    damage.profile = true;
                else if (type == "eXIf")
                    damage.exif = true;
            }
            stream.SetPosition(dataAt + std::int64_t(length) + kCrcSize);
        }
    }
    stream.SetPosition(start);
    return damage;
}

TPngMetadataChunks PngMetadataChunks(const TImageMetadata& metadata, int width, int height)
{
    TPngMetadataChunks chunks;
    chunks.exif = ExifForImage(metadata, width, height);
    chunks.profile = metadata.IccProfile;
    chunks.xmp.assign(metadata.Xmp.begin(), metadata.Xmp.end());
    chunks.comments = metadata.Comments;
    const TImageResolution& r = metadata.Resolution;
    if (r.Known() && r.Unit != ruNone && r.XPerMetre() < 4e9 && r.YPerMetre() < 4e9) {
        chunks.physical = true;
        chunks.xPerMetre = std::uint32_t(std::lround(r.XPerMetre()));
        chunks.yPerMetre = std::uint32_t(std::lround(r.YPerMetre()));
    }
    return chunks;
}

}  // namespace rastova
