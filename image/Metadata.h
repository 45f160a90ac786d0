// What a picture carries besides its pixels: EXIF, XMP, IPTC, the ICC colour
// profile, comments and the resolution. Readers fill it as plain bytes and
// writers put the same bytes back in their own place, so keeping it costs a
// copy, never a decoding. Only the few EXIF fields a conversion changes
// (orientation, pixel dimensions) are patched where they stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rastova {

using TBytes = std::vector<std::uint8_t>;

// Metadata blocks larger than this are dropped: no file format stores a
// sensible one anywhere near it, and a reader must not allocate what a
// damaged length claims.
inline constexpr std::size_t kMaxMetadataBlock = std::size_t(16) << 20;

enum TResolutionUnit : std::uint8_t { ruNone, ruInch, ruCentimetre };

// Dots per unit; with ruNone only the ratio of X to Y means anything.
struct TImageResolution {
    double X = 0;
    double Y = 0;
    TResolutionUnit Unit = ruNone;

    bool Known() const { return X > 0 && Y > 0; }
    double XPerMetre() const { return X * UnitsPerMetre(); }
    double YPerMetre() const { return Y * UnitsPerMetre(); }
    double UnitsPerMetre() const { return Unit == ruInch ? 1 / 0.0254 : Unit == ruCentimetre ? 100.0 : 1.0; }
    static TImageResolution PerMetre(double x, double y);  // in inches when it is a round number there
};

struct TImageMetadata {
    TBytes Exif;        // a TIFF structure from its byte-order mark on (no "Exif\0\0")
    TBytes Xmp;         // the XMP packet, UTF-8
    TBytes Iptc;        // IPTC-NAA records
    TBytes IccProfile;  // a whole ICC profile
    std::vector<std::string> Comments;
    TImageResolution Resolution;

    bool Empty() const
    {
        return Exif.empty() && Xmp.empty() && Iptc.empty() && IccProfile.empty() && Comments.empty() &&
               !Resolution.Known();
    }
    // Drops what describes the picture (EXIF, XMP, IPTC, comments); the profile
    // and the resolution stay, as they say how to show it.
    void StripDescriptive()
    {
        Exif.clear();
        Xmp.clear();
        Iptc.clear();
        Comments.clear();
    }
};

// ---- EXIF ---------------------------------------------------------------------------

inline constexpr std::uint16_t kExifTagOrientation = 274;
inline constexpr std::uint16_t kExifTagExifIfd = 34665;
inline constexpr std::uint16_t kExifTagGpsIfd = 34853;
inline constexpr std::uint16_t kExifTagInteropIfd = 40965;
inline constexpr std::uint16_t kExifTagPixelXDimension = 40962;
inline constexpr std::uint16_t kExifTagPixelYDimension = 40963;

// True when bytes start with a TIFF header whose first IFD lies inside.
bool ExifLooksValid(const TBytes& exif);
// The Orientation (1..8) of IFD0; 0 when absent or unreadable.
int ExifOrientation(const TBytes& exif);
// Patches fields that exist, in place; nothing else moves. A field of another
// type or count than the standard one is left as it is.
void SetExifOrientation(TBytes& exif, int orientation);
void SetExifPixelSize(TBytes& exif, std::uint32_t width, std::uint32_t height);

// A copy of the metadata's EXIF with the pixel dimensions of the image written.
TBytes ExifForImage(const TImageMetadata& metadata, int width, int height);

// One TIFF field with its values in little-endian order.
struct TTiffField {
    std::uint16_t Tag = 0;
    std::uint16_t Type = 0;
    std::uint32_t Count = 0;
    TBytes Data;
};

// The IFDs of an EXIF block that a TIFF file keeps in its own image IFD and
// sub-IFDs. The pointer tags are not among the fields; writers add them.
struct TExifTree {
    std::vector<TTiffField> Ifd0;  // descriptive fields of the image IFD (Make, Model, ...)
    std::vector<TTiffField> Exif;
    std::vector<TTiffField> Gps;
    std::vector<TTiffField> Interop;
    bool Empty() const { return Ifd0.empty() && Exif.empty() && Gps.empty() && Interop.empty(); }
};

// Bytes at an offset of a TIFF structure; false when they are not all there.
using TTiffFetch = std::function<bool(std::uint64_t offset, void* buffer, std::size_t count)>;

// Every readable field of the IFD at offset, pointer fields included.
bool ReadIfdFields(const TTiffFetch& fetch, bool motorola, std::uint32_t offset, std::vector<TTiffField>& fields);
// The field's values as unsigned numbers (rationals as numerator / denominator); empty for other types.
std::vector<double> FieldNumbers(const TTiffField& field);

// The tree of a TIFF structure whose image IFD starts at ifd0. Broken fields
// and sub-IFDs are left out; false when nothing readable was found.
bool ReadExifTree(const TTiffFetch& fetch, bool motorola, std::uint32_t ifd0, TExifTree& tree);
bool ReadExifTree(const TBytes& exif, TExifTree& tree);
// A little-endian TIFF structure holding the tree (empty for an empty tree).
TBytes BuildExif(const TExifTree& tree);
// Image-IFD tags that describe the picture rather than its pixels: those a
// TIFF file hands over as EXIF.
bool IsDescriptiveIfd0Tag(std::uint16_t tag);
// Bytes per value of a field type; 0 for unknown types.
int TiffTypeSize(std::uint16_t type);

// ---- IPTC in JPEG (Photoshop image resources) -------------------------------------

// The IPTC-NAA records of an APP13 "Photoshop 3.0" payload; empty when none.
TBytes IptcOfPhotoshopResources(const std::uint8_t* payload, std::size_t size);
// An APP13 payload holding the records as the one resource.
TBytes PhotoshopResourcesOfIptc(const TBytes& iptc);

}  // namespace rastova
