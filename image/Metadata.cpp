#include "image/Metadata.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>

namespace rastova {

namespace {

constexpr std::size_t kTiffHeaderSize = 8;
constexpr std::size_t kIfdEntrySize = 12;
// Real IFDs hold a few dozen fields; more is a damaged count.
constexpr std::uint32_t kMaxIfdEntries = 1000;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;

// The fields of one IFD as they stand in a TIFF structure, read in its byte order.
class TTiffWalker {
public:
    TTiffWalker(const TTiffFetch& fetch, bool motorola) : m_fetch(fetch), m_motorola(motorola) {}

    bool U16(std::uint64_t offset, std::uint16_t& value) const
    {
        std::uint8_t b[2];
        if (!m_fetch(offset, b, 2))
            return false;
        const std::uint16_t b0 = b[0];
        const std::uint16_t b1 = b[1];
        value = m_motorola ? std::uint16_t(b0 << 8 | b1) : std::uint16_t(b1 << 8 | b0);
        return true;
    }
    bool U32(std::uint64_t offset, std::uint32_t& value) const
    {
        std::uint16_t a = 0, b = 0;
        if (!U16(offset, a) || !U16(offset + 2, b))
            return false;
        value = m_motorola ? (std::uint32_t(a) << 16 | b) : (std::uint32_t(b) << 16 | a);
        return true;
    }

    // The field's values turned little-endian; false when they lie outside.
    bool Field(std::uint64_t entry, TTiffField& field) const
    {
        std::uint32_t inlineOrOffset = 0;
        if (!U16(entry, field.Tag) || !U16(entry + 2, field.Type) || !U32(entry + 4, field.Count) ||
            !U32(entry + 8, inlineOrOffset))
            return false;
        const int size = TiffTypeSize(field.Type);
        const std::uint64_t total = std::uint64_t(field.Count) * std::uint64_t(size);
        if (size == 0 || total > kMaxMetadataBlock)
            return false;
        const std::uint64_t at = total <= 4 ? entry + 8 : inlineOrOffset;
        // The last byte first: a count that runs past the end allocates nothing.
        std::uint8_t last = 0;
        if (total > 0 && !m_fetch(at + total - 1, &last, 1))
            return false;
        field.Data.resize(std::size_t(total));
        if (total > 0 && !m_fetch(at, field.Data.data(), field.Data.size()))
            return false;
        if (m_motorola)
            SwapElements(field);
        return true;
    }

    std::uint64_t Pointer(const TTiffField& field) const
    {
        return field.Data.size() >= 4 ? std::uint64_t(field.Data[0]) | std::uint64_t(field.Data[1]) << 8 |
                                            std::uint64_t(field.Data[2]) << 16 | std::uint64_t(field.Data[3]) << 24
                                      : 0;
    }

private:
    static void SwapElements(TTiffField& field)
    {
        // Rationals are two longs; each swaps on its own.
        int unit = TiffTypeSize(field.Type);
        if (field.Type == 5 || field.Type == 10)
            unit = 4;
        if (unit <= 1)
            return;
        for (std::size_t i = 0; i + std::size_t(unit) <= field.Data.size(); i += std::size_t(unit))
            std::reverse(field.Data.begin() + std::ptrdiff_t(i), field.Data.begin() + std::ptrdiff_t(i) + unit);
    }

    const TTiffFetch& m_fetch;
    bool m_motorola;
};

std::uint32_t U32LEOf(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

bool IsPointerTag(std::uint16_t tag)
{
    return tag == kExifTagExifIfd || tag == kExifTagGpsIfd || tag == kExifTagInteropIfd;
}

// Reads one IFD's fields; pointer fields go to pointers instead. Broken fields are left out.
bool ReadIfd(const TTiffWalker& walker, std::uint64_t offset, std::vector<TTiffField>& fields,
             std::vector<TTiffField>* pointers)
{
    std::uint16_t count = 0;
    if (!walker.U16(offset, count) || count > kMaxIfdEntries)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        TTiffField field;
        if (!walker.Field(offset + 2 + kIfdEntrySize * i, field))
            continue;
        if (IsPointerTag(field.Tag)) {
            if (pointers)
                pointers->push_back(std::move(field));
            continue;
        }
        fields.push_back(std::move(field));
    }
    return true;
}

// A sub-IFD named by a pointer among pointers, read once (loops in the file are refused).
void ReadSubIfd(const TTiffWalker& walker, const std::vector<TTiffField>& pointers, std::uint16_t tag,
                std::unordered_set<std::uint64_t>& seen, std::vector<TTiffField>& fields,
                std::vector<TTiffField>* subPointers)
{
    for (const TTiffField& pointer : pointers) {
        if (pointer.Tag != tag || (pointer.Type != kTypeLong && pointer.Type != 13))
            continue;
        const std::uint64_t offset = walker.Pointer(pointer);
        if (offset == 0 || !seen.insert(offset).second)
            return;
        ReadIfd(walker, offset, fields, subPointers);
        return;
    }
}

void SortByTag(std::vector<TTiffField>& fields)
{
    std::stable_sort(fields.begin(), fields.end(),
                     [](const TTiffField& a, const TTiffField& b) { return a.Tag < b.Tag; });
    // A tag given twice keeps its first field.
    fields.erase(std::unique(fields.begin(), fields.end(),
                             [](const TTiffField& a, const TTiffField& b) { return a.Tag == b.Tag; }),
                 fields.end());
}

TTiffFetch FetchOf(const TBytes& bytes)
{
    return [&bytes](std::uint64_t offset, void* buffer, std::size_t count) {
        if (offset > bytes.size() || count > bytes.size() - offset)
            return false;
        std::memcpy(buffer, bytes.data() + offset, count);
        return true;
    };
}

bool HeaderOf(const TBytes& exif, bool& motorola, std::uint32_t& ifd0)
{
    if (exif.size() < kTiffHeaderSize)
        return false;
    const bool intel = exif[0] == 'I' && exif[1] == 'I' && exif[2] == 42 && exif[3] == 0;
    motorola = exif[0] == 'M' && exif[1] == 'M' && exif[2] == 0 && exif[3] == 42;
    if (!intel && !motorola)
        return false;
    const TTiffFetch fetch = FetchOf(exif);
    return TTiffWalker(fetch, motorola).U32(4, ifd0) && ifd0 >= kTiffHeaderSize && ifd0 < exif.size();
}

// Where the value field of the entry with tag stands in IFD ifd, with its type
// and count; 0 when there is none.
std::size_t FindEntry(const TBytes& exif, bool motorola, std::uint32_t ifd, std::uint16_t tag, std::uint16_t& type,
                      std::uint32_t& count)
{
    const TTiffFetch fetch = FetchOf(exif);
    const TTiffWalker walker(fetch, motorola);
    std::uint16_t entries = 0;
    if (!walker.U16(ifd, entries))
        return 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint64_t entry = ifd + 2 + kIfdEntrySize * i;
        std::uint16_t entryTag = 0;
        if (!walker.U16(entry, entryTag) || !walker.U16(entry + 2, type) || !walker.U32(entry + 4, count))
            return 0;
        if (entryTag == tag)
            return std::size_t(entry + 8 + 4 <= exif.size() ? entry + 8 : 0);
    }
    return 0;
}

void PutValue(TBytes& exif, std::size_t at, bool motorola, std::uint16_t type, std::uint32_t value)
{
    const int size = type == kTypeShort ? 2 : 4;
    for (int i = 0; i < size; ++i) {
        const int shift = 8 * (motorola ? size - 1 - i : i);
        exif[at + std::size_t(i)] = std::uint8_t(value >> shift);
    }
}

void PatchValue(TBytes& exif, bool motorola, std::uint32_t ifd, std::uint16_t tag, std::uint32_t value)
{
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    const std::size_t at = FindEntry(exif, motorola, ifd, tag, type, count);
    if (at == 0 || count != 1)
        return;
    if (type == kTypeLong || (type == kTypeShort && value <= 0xFFFF))
        PutValue(exif, at, motorola, type, value);
}

// ---- writing a tree ------------------------------------------------------------------

void AppendU16(TBytes& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void AppendU32(TBytes& out, std::uint32_t v)
{
    AppendU16(out, v & 0xFFFF);
    AppendU16(out, v >> 16);
}

void PutU32At(TBytes& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
}

struct TPointerSlot {
    std::uint16_t tag;
    const std::vector<TTiffField>* fields;
    const std::vector<TTiffField>* children;  // the Exif IFD's own interop pointer
};

// Writes one IFD with its values at the end of out; pointer fields are added
// for the non-empty sub-IFDs and filled once those are written.
std::size_t AppendIfd(TBytes& out, std::vector<TTiffField> fields, const std::vector<TPointerSlot>& subs)
{
    for (const TPointerSlot& sub : subs)
        if (!sub.fields->empty())
            fields.push_back({sub.tag, kTypeLong, 1, TBytes(4, 0)});
    SortByTag(fields);
    if (out.size() % 2 != 0)
        out.push_back(0);
    const std::size_t start = out.size();
    AppendU16(out, std::uint32_t(fields.size()));
    std::size_t valueAt = start + 2 + kIfdEntrySize * fields.size() + 4;
    std::vector<std::size_t> outside(fields.size(), 0);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const TTiffField& f = fields[i];
        AppendU16(out, f.Tag);
        AppendU16(out, f.Type);
        AppendU32(out, f.Count);
        if (f.Data.size() <= 4) {
            TBytes value = f.Data;
            value.resize(4, 0);
            out.insert(out.end(), value.begin(), value.end());
        } else {
            outside[i] = valueAt;
            AppendU32(out, std::uint32_t(valueAt));
            valueAt += f.Data.size() + f.Data.size() % 2;
        }
    }
    AppendU32(out, 0);
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (outside[i] != 0) {
            out.insert(out.end(), fields[i].Data.begin(), fields[i].Data.end());
            if (out.size() % 2 != 0)
                out.push_back(0);
        }
    for (const TPointerSlot& sub : subs) {
        if (sub.fields->empty())
            continue;
        std::vector<TPointerSlot> grandChildren;
        if (sub.children)
            grandChildren.push_back({kExifTagInteropIfd, sub.children, nullptr});
        const std::size_t subStart = AppendIfd(out, *sub.fields, grandChildren);
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (fields[i].Tag == sub.tag)
                PutU32At(out, start + 2 + kIfdEntrySize * i + 8, std::uint32_t(subStart));
    }
    return start;
}

}  // namespace

TImageResolution TImageResolution::PerMetre(double x, double y)
{
    TImageResolution r{x * 0.0254, y * 0.0254, ruInch};
    // 2835 per metre is 72.009 per inch; such values are meant in inches.
    if (std::abs(r.X - std::round(r.X)) < 0.05 && std::abs(r.Y - std::round(r.Y)) < 0.05) {
        r.X = std::round(r.X);
        r.Y = std::round(r.Y);
        return r;
    }
    return {x / 100, y / 100, ruCentimetre};
}

int TiffTypeSize(std::uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;  // byte, ASCII, signed byte, undefined
    case 3: case 8: return 2;                  // short, signed short
    case 4: case 9: case 11: case 13: return 4;  // long, signed long, float, IFD
    case 5: case 10: case 12: return 8;        // rationals, double
    default: return 0;
    }
}

bool ExifLooksValid(const TBytes& exif)
{
    bool motorola = false;
    std::uint32_t ifd0 = 0;
    return HeaderOf(exif, motorola, ifd0);
}

int ExifOrientation(const TBytes& exif)
{
    bool motorola = false;
    std::uint32_t ifd0 = 0;
    if (!HeaderOf(exif, motorola, ifd0))
        return 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    const std::size_t at = FindEntry(exif, motorola, ifd0, kExifTagOrientation, type, count);
    if (at == 0 || type != kTypeShort || count < 1)
        return 0;
    const int value = motorola ? exif[at] << 8 | exif[at + 1] : exif[at + 1] << 8 | exif[at];
    return value >= 1 && value <= 8 ? value : 0;
}

void SetExifOrientation(TBytes& exif, int orientation)
{
    bool motorola = false;
    std::uint32_t ifd0 = 0;
    if (HeaderOf(exif, motorola, ifd0))
        PatchValue(exif, motorola, ifd0, kExifTagOrientation, std::uint32_t(orientation));
}

void SetExifPixelSize(TBytes& exif, std::uint32_t width, std::uint32_t height)
{
    bool motorola = false;
    std::uint32_t ifd0 = 0;
    if (!HeaderOf(exif, motorola, ifd0))
        return;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    const std::size_t at = FindEntry(exif, motorola, ifd0, kExifTagExifIfd, type, count);
    if (at == 0 || type != kTypeLong || count != 1)
        return;
    const TTiffFetch fetch = FetchOf(exif);
    std::uint32_t exifIfd = 0;
    if (!TTiffWalker(fetch, motorola).U32(at, exifIfd) || exifIfd >= exif.size())
        return;
    PatchValue(exif, motorola, exifIfd, kExifTagPixelXDimension, width);
    PatchValue(exif, motorola, exifIfd, kExifTagPixelYDimension, height);
}

TBytes ExifForImage(const TImageMetadata& metadata, int width, int height)
{
    TBytes exif = metadata.Exif;
    if (width > 0 && height > 0)
        SetExifPixelSize(exif, std::uint32_t(width), std::uint32_t(height));
    return exif;
}

bool IsDescriptiveIfd0Tag(std::uint16_t tag)
{
    switch (tag) {
    case 269:  // DocumentName
    case 270:  // ImageDescription
    case 271:  // Make
    case 272:  // Model
    case 274:  // Orientation
    case 285:  // PageName
    case 305:  // Software
    case 306:  // DateTime
    case 315:  // Artist
    case 316:  // HostComputer
    case 33432:  // Copyright
        return true;
    default:
        return false;
    }
}

bool ReadIfdFields(const TTiffFetch& fetch, bool motorola, std::uint32_t offset, std::vector<TTiffField>& fields)
{
    return ReadIfd(TTiffWalker(fetch, motorola), offset, fields, &fields);
}

std::vector<double> FieldNumbers(const TTiffField& field)
{
    std::vector<double> numbers;
    const std::uint8_t* p = field.Data.data();
    const std::size_t n = field.Data.size();
    switch (field.Type) {
    case 3:
        for (std::size_t i = 0; i + 2 <= n; i += 2)
            numbers.push_back(p[i] | p[i + 1] << 8);
        break;
    case 4:
        for (std::size_t i = 0; i + 4 <= n; i += 4)
            numbers.push_back(double(U32LEOf(p + i)));
        break;
    case 5:
        for (std::size_t i = 0; i + 8 <= n; i += 8) {
            const double denominator = double(U32LEOf(p + i + 4));
            numbers.push_back(denominator > 0 ? double(U32LEOf(p + i)) / denominator : 0);
        }
        break;
    default: break;
    }
    return numbers;
}

bool ReadExifTree(const TTiffFetch& fetch, bool motorola, std::uint32_t ifd0, TExifTree& tree)
{
    const TTiffWalker walker(fetch, motorola);
    std::vector<TTiffField> all;
    std::vector<TTiffField> pointers;
    if (!ReadIfd(walker, ifd0, all, &pointers))
        return false;
    for (TTiffField& field : all)
        if (IsDescriptiveIfd0Tag(field.Tag))
            tree.Ifd0.push_back(std::move(field));
    std::unordered_set<std::uint64_t> seen{ifd0};
    std::vector<TTiffField> exifPointers;
    ReadSubIfd(walker, pointers, kExifTagExifIfd, seen, tree.Exif, &exifPointers);
    ReadSubIfd(walker, pointers, kExifTagGpsIfd, seen, tree.Gps, nullptr);
    ReadSubIfd(walker, exifPointers, kExifTagInteropIfd, seen, tree.Interop, nullptr);
    SortByTag(tree.Ifd0);
    SortByTag(tree.Exif);
    SortByTag(tree.Gps);
    SortByTag(tree.Interop);
    return !tree.Empty();
}

bool ReadExifTree(const TBytes& exif, TExifTree& tree)
{
    bool motorola = false;
    std::uint32_t ifd0 = 0;
    if (!HeaderOf(exif, motorola, ifd0))
        return false;
    return ReadExifTree(FetchOf(exif), motorola, ifd0, tree);
}

TBytes BuildExif(const TExifTree& tree)
{
    if (tree.Empty())
        return {};
    TBytes out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    AppendIfd(out, tree.Ifd0,
              {{kExifTagExifIfd, &tree.Exif, &tree.Interop}, {kExifTagGpsIfd, &tree.Gps, nullptr}});
    return out;
}

// ---- IPTC ---------------------------------------------------------------------------------

namespace {

constexpr char kPhotoshopSignature[] = "Photoshop 3.0";  // with its terminating zero
constexpr std::uint16_t kIptcResource = 0x0404;

std::uint32_t U32BE(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

TBytes IptcOfPhotoshopResources(const std::uint8_t* payload, std::size_t size)
{
    const std::size_t signature = sizeof kPhotoshopSignature;
    if (size < signature || std::memcmp(payload, kPhotoshopSignature, signature) != 0)
        return {};
    std::size_t pos = signature;
    // Each resource: "8BIM", id, a padded Pascal name, a size and padded data.
    while (size - pos >= 12 && std::memcmp(payload + pos, "8BIM", 4) == 0) {
        const std::uint16_t id = std::uint16_t(payload[pos + 4] << 8 | payload[pos + 5]);
        const std::size_t nameLength = payload[pos + 6];
        const std::size_t nameField = (nameLength + 2) & ~std::size_t(1);
        pos += 6 + nameField;
        if (size - pos < 4)
            break;
        const std::uint32_t length = U32BE(payload + pos);
        pos += 4;
        if (length > size - pos)
            break;
        if (id == kIptcResource)
            return TBytes(payload + pos, payload + pos + length);
        pos += length + length % 2;
        if (pos > size)
            break;
    }
    return {};
}

TBytes PhotoshopResourcesOfIptc(const TBytes& iptc)
{
    TBytes out(kPhotoshopSignature, kPhotoshopSignature + sizeof kPhotoshopSignature);
    const std::uint8_t head[] = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0};
    out.insert(out.end(), std::begin(head), std::end(head));
    const auto n = std::uint32_t(iptc.size());
    const std::uint8_t length[] = {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)};
    out.insert(out.end(), std::begin(length), std::end(length));
    out.insert(out.end(), iptc.begin(), iptc.end());
    if (iptc.size() % 2 != 0)
        out.push_back(0);
    return out;
}

}  // namespace rastova
