#include "formats/JpegMetadata.h"

#include "image/ColorProfile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string_view>

namespace rastova {

namespace {

constexpr std::string_view kExifSignature{"Exif\0\0", 6};
constexpr std::string_view kXmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kIccSignature{"ICC_PROFILE\0", 12};
constexpr std::size_t kIccChunkHeader = kIccSignature.size() + 2;  // sequence number and chunk count
constexpr std::size_t kMaxSegmentPayload = 65533;                 // 65535 minus the length field
constexpr int kApp1 = JPEG_APP0 + 1;
constexpr int kApp2 = JPEG_APP0 + 2;
constexpr int kApp13 = JPEG_APP0 + 13;
constexpr unsigned kAllBytes = 0xFFFF;

bool StartsWith(const jpeg_marker_struct& marker, std::string_view signature)
{
    return marker.data_length >= signature.size() &&
           std::memcmp(marker.data, signature.data(), signature.size()) == 0;
}

TBytes PayloadAfter(const jpeg_marker_struct& marker, std::size_t skip)
{
    return TBytes(marker.data + skip, marker.data + marker.data_length);
}

// The chunks of a profile, by sequence number 1..count, all present once and
// agreeing on the count; otherwise the profile is damaged.
struct TIccChunks {
    std::map<int, TBytes> chunks;
    int count = 0;
    bool damaged = false;

    void Add(const jpeg_marker_struct& marker)
    {
        if (marker.data_length < kIccChunkHeader) {
            damaged = true;
            return;
        }
        const int sequence = marker.data[kIccSignature.size()];
        const int total = marker.data[kIccSignature.size() + 1];
        if (sequence < 1 || sequence > total || (count != 0 && total != count) || chunks.count(sequence) != 0)
            damaged = true;
        count = total;
        chunks[sequence] = PayloadAfter(marker, kIccChunkHeader);
    }

    TBytes Join() const
    {
        TBytes profile;
        if (damaged || int(chunks.size()) != count)
            return profile;
        for (const auto& [sequence, bytes] : chunks)
            profile.insert(profile.end(), bytes.begin(), bytes.end());
        return profile;
    }
};

void AddSegment(std::vector<TJpegSegment>& out, int marker, std::string_view signature, const TBytes& payload)
{
    if (payload.empty() || payload.size() > kMaxSegmentPayload - signature.size())
        return;
    TJpegSegment& segment = out.emplace_back();
    segment.Marker = marker;
    segment.Payload.assign(signature.begin(), signature.end());
    segment.Payload.insert(segment.Payload.end(), payload.begin(), payload.end());
}

void AddProfile(std::vector<TJpegSegment>& out, const TBytes& profile)
{
    constexpr std::size_t kChunk = kMaxSegmentPayload - kIccChunkHeader;
    const std::size_t count = (profile.size() + kChunk - 1) / kChunk;
    if (count == 0 || count > 255)
        return;
    for (std::size_t i = 0; i < count; ++i) {
        TJpegSegment& segment = out.emplace_back();
        segment.Marker = kApp2;
        segment.Payload.assign(kIccSignature.begin(), kIccSignature.end());
        segment.Payload.push_back(std::uint8_t(i + 1));
        segment.Payload.push_back(std::uint8_t(count));
        const auto from = profile.begin() + std::ptrdiff_t(i * kChunk);
        const auto to = profile.begin() + std::ptrdiff_t(std::min(profile.size(), (i + 1) * kChunk));
        segment.Payload.insert(segment.Payload.end(), from, to);
    }
}

}  // namespace

void KeepJpegMetadataMarkers(jpeg_decompress_struct& info)
{
    jpeg_save_markers(&info, kApp1, kAllBytes);
    jpeg_save_markers(&info, kApp2, kAllBytes);
    jpeg_save_markers(&info, kApp13, kAllBytes);
    jpeg_save_markers(&info, JPEG_COM, kAllBytes);
}

void ReadJpegMetadata(const jpeg_decompress_struct& info, TImageMetadata& metadata, bool& damagedExif,
                      bool& damagedProfile)
{
    TIccChunks icc;
    for (const jpeg_marker_struct* m = info.marker_list; m != nullptr; m = m->next) {
        if (m->marker == kApp1 && StartsWith(*m, kExifSignature) && metadata.Exif.empty()) {
            metadata.Exif = PayloadAfter(*m, kExifSignature.size());
            if (!ExifLooksValid(metadata.Exif)) {
                metadata.Exif.clear();
                damagedExif = true;
            }
        } else if (m->marker == kApp1 && StartsWith(*m, kXmpSignature) && metadata.Xmp.empty()) {
            metadata.Xmp = PayloadAfter(*m, kXmpSignature.size());
        } else if (m->marker == kApp2 && StartsWith(*m, kIccSignature)) {
            icc.Add(*m);
        } else if (m->marker == kApp13 && metadata.Iptc.empty()) {
            metadata.Iptc = IptcOfPhotoshopResources(m->data, m->data_length);
        } else if (m->marker == JPEG_COM) {
            metadata.Comments.emplace_back(reinterpret_cast<const char*>(m->data), m->data_length);
        }
    }
    const TBytes profile = icc.Join();
    damagedProfile = (icc.count != 0 && profile.empty()) || !AcceptProfile(metadata, profile);
    if (info.saw_JFIF_marker && (info.density_unit == 1 || info.density_unit == 2) && info.X_density > 0 &&
        info.Y_density > 0)
        metadata.Resolution = {double(info.X_density), double(info.Y_density),
                               info.density_unit == 1 ? ruInch : ruCentimetre};
}

void SetJpegDensity(jpeg_compress_struct& info, const TImageResolution& resolution)
{
    if (!resolution.Known() || resolution.Unit == ruNone)
        return;
    const auto clamp = [](double v) { return UINT16(std::clamp(std::lround(v), 1L, 65535L)); };
    info.density_unit = resolution.Unit == ruInch ? 1 : 2;
    info.X_density = clamp(resolution.X);
    info.Y_density = clamp(resolution.Y);
}

std::vector<TJpegSegment> JpegMetadataSegments(const TImageMetadata& metadata, int width, int height)
{
    std::vector<TJpegSegment> segments;
    AddSegment(segments, kApp1, kExifSignature, ExifForImage(metadata, width, height));
    AddSegment(segments, kApp1, kXmpSignature, metadata.Xmp);
    AddProfile(segments, metadata.IccProfile);
    if (!metadata.Iptc.empty())
        AddSegment(segments, kApp13, {}, PhotoshopResourcesOfIptc(metadata.Iptc));
    for (const std::string& comment : metadata.Comments)
        AddSegment(segments, JPEG_COM, {}, TBytes(comment.begin(), comment.end()));
    return segments;
}

}  // namespace rastova
