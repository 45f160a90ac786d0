// Character sets, font faces and device-independent bitmaps for playback.
#include "metafile/GdiPlayer.h"

#include "formats/Register.h"
#include "image/FileFormats.h"
#include "image/PGraphic.h"
#include "image/Streams.h"

#include <QFontDatabase>
#include <QSet>
#include <QStringDecoder>

#include <array>
#include <mutex>

namespace rastova::gdi {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString DecodeCp1252(const std::uint8_t* bytes, std::size_t count)
{
    QString text;
    text.reserve(qsizetype(count));
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        text.append(QChar(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t(b)));
    }
    return text;
}

const char* CodePageName(std::uint8_t charSet)
{
    switch (charSet) {
    case 128: return "Shift_JIS";
    case 129: return "windows-949";
    case 134: return "GBK";
    case 136: return "Big5";
    case 161: return "windows-1253";
    case 162: return "windows-1254";
    case 177: return "windows-1255";
    case 178: return "windows-1256";
    case 186: return "windows-1257";
    case 204: return "windows-1251";
    case 222: return "windows-874";
    case 238: return "windows-1250";
    case 255: return "IBM437";
    default: return nullptr;
    }
}

enum class TFaceGroup { Sans, Serif, Mono, Narrow };

struct TFaceAlias {
    const char* name;
    TFaceGroup group;
};

constexpr TFaceAlias kFaceAliases[] = {
    {"arial", TFaceGroup::Sans},          {"helvetica", TFaceGroup::Sans},
    {"verdana", TFaceGroup::Sans},        {"tahoma", TFaceGroup::Sans},
    {"ms sans serif", TFaceGroup::Sans},  {"microsoft sans serif", TFaceGroup::Sans},
    {"ms shell dlg", TFaceGroup::Sans},   {"ms shell dlg 2", TFaceGroup::Sans},
    {"segoe ui", TFaceGroup::Sans},       {"calibri", TFaceGroup::Sans},
    {"trebuchet ms", TFaceGroup::Sans},   {"lucida sans", TFaceGroup::Sans},
    {"system", TFaceGroup::Sans},         {"swiss", TFaceGroup::Sans},
    {"arial unicode ms", TFaceGroup::Sans}, {"sans", TFaceGroup::Sans},
    {"sans-serif", TFaceGroup::Sans},     {"times new roman", TFaceGroup::Serif},
    {"times", TFaceGroup::Serif},         {"georgia", TFaceGroup::Serif},
    {"cambria", TFaceGroup::Serif},       {"ms serif", TFaceGroup::Serif},
    {"roman", TFaceGroup::Serif},         {"book antiqua", TFaceGroup::Serif},
    {"garamond", TFaceGroup::Serif},      {"palatino linotype", TFaceGroup::Serif},
    {"serif", TFaceGroup::Serif},         {"courier new", TFaceGroup::Mono},
    {"courier", TFaceGroup::Mono},        {"consolas", TFaceGroup::Mono},
    {"lucida console", TFaceGroup::Mono}, {"fixedsys", TFaceGroup::Mono},
    {"terminal", TFaceGroup::Mono},       {"monospace", TFaceGroup::Mono},
    {"arial narrow", TFaceGroup::Narrow},
};

const QSet<QString>& InstalledFamilies()
{
    static QSet<QString> families;
    static std::once_flag once;
    std::call_once(once, [] {
        for (const QString& family : QFontDatabase::families())
            families.insert(family.toLower());
    });
    return families;
}

QString FamilyOf(TFaceGroup group)
{
    static constexpr const char* kPreferred[][2] = {{"Liberation Sans", "DejaVu Sans"},
                                                     {"Liberation Serif", "DejaVu Serif"},
                                                     {"Liberation Mono", "DejaVu Sans Mono"},
                                                     {"Liberation Sans Narrow", "Liberation Sans"}};
    const auto& choice = kPreferred[int(group)];
    for (const char* family : choice)
        if (InstalledFamilies().contains(QString(family).toLower()))
            return family;
    return "DejaVu Sans";
}

}  // namespace

QString DecodeAnsi(const std::uint8_t* bytes, std::size_t count, std::uint8_t charSet)
{
    if (const char* name = CodePageName(charSet)) {
        QStringDecoder decoder(name);
        if (decoder.isValid()) {
            QString text = decoder.decode(QByteArrayView(reinterpret_cast<const char*>(bytes), qsizetype(count)));
            if (!decoder.hasError())
                return text;
        }
    }
    return DecodeCp1252(bytes, count);
}

QString MapFontFace(const QString& face, std::uint8_t pitchAndFamily)
{
    const QString key = face.trimmed().toLower();
    for (const TFaceAlias& alias : kFaceAliases)
        if (key == QLatin1String(alias.name))
            return FamilyOf(alias.group);
    if (!key.isEmpty() && InstalledFamilies().contains(key))
        return face.trimmed();
    constexpr std::uint8_t kFixedPitch = 1, kFamilyMask = 0xF0, kRoman = 0x10, kModern = 0x30;
    if ((pitchAndFamily & 3) == kFixedPitch || (pitchAndFamily & kFamilyMask) == kModern)
        return FamilyOf(TFaceGroup::Mono);
    if ((pitchAndFamily & kFamilyMask) == kRoman)
        return FamilyOf(TFaceGroup::Serif);
    return FamilyOf(TFaceGroup::Sans);
}

// ---- bitmaps -----------------------------------------------------------------------

namespace {

constexpr std::uint32_t kCoreHeaderSize = 12, kInfoHeaderSize = 40, kV4MaskEnd = 52;
constexpr std::uint32_t kBiRgb = 0, kBiBitFields = 3, kBiJpeg = 4, kBiPng = 5;
// Bitmaps inside a metafile larger than this are skipped.
constexpr std::int64_t kMaxDibPixels = std::int64_t(1) << 24;

QImage ToImage(const TPixelGraphic& graphic)
{
    QImage image(graphic.Width(), graphic.Height(), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < graphic.Height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (graphic.BitCount() == bc24) {
            const std::uint8_t* row = graphic.ScanLine(y);
            for (int x = 0; x < graphic.Width(); ++x)
                line[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
        } else {
            for (int x = 0; x < graphic.Width(); ++x) {
                const TRGB c = graphic.GetColor(x, y);
                line[x] = qRgb(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF));
            }
        }
    }
    return image;
}

QImage DecodeWithReader(const std::vector<std::uint8_t>& packed, bool core)
{
    try {
        TPixelGraphic graphic;
        TReadOnlyMemoryStream stream(packed.data(), packed.size());
        graphic.ReadDIB(stream, core);
        return ToImage(graphic);
    } catch (const EPixelGraphic&) {
        return {};
    }
}

// Bitmaps stored as a whole PNG or JPEG file, read by the project's own readers.
QImage DecodeCompressed(TRecordBytes bits, const char* extension)
{
    try {
        PGInitialize();
        TPixelGraphic graphic;
        graphic.SetReadWarningAction(pgwaIgnore);
        TReadOnlyMemoryStream stream(bits.Data(), bits.Size());
        graphic.LoadFromStreamExt(stream, extension, 0);
        return ToImage(graphic);
    } catch (const EPixelGraphic&) {
        return {};
    }
}

// 32-bit rows with their alpha kept, for blending records.
QImage DecodeAlpha32(TRecordBytes info, TRecordBytes bits, std::int32_t width, std::int32_t height)
{
    const std::int64_t rows = std::abs(std::int64_t(height));
    if (!bits.HasArray(0, std::uint64_t(rows) * std::uint64_t(width), 4))
        return {};
    QImage image(width, int(rows), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    (void)info;
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::uint8_t* row = bits.Data() + std::size_t(r) * std::size_t(width) * 4;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(int(height > 0 ? rows - 1 - r : r)));
        for (int x = 0; x < width; ++x)
            line[x] = qRgba(row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]);
    }
    return image;
}

// Bytes of the masks and colour entries after an info header of `headerSize`.
std::uint64_t ColorTableBytes(const TRecordBytes& info, std::uint32_t headerSize)
{
    const std::uint16_t bitCount = info.U16(14);
    const std::uint32_t compression = info.U32(16);
    const std::uint32_t used = info.U32(32);
    const std::uint64_t capacity = bitCount <= 8 ? std::uint64_t(1) << bitCount : 0;
    const std::uint64_t colors = used != 0 ? used : capacity;
    const std::uint64_t masks = compression == kBiBitFields && headerSize == kInfoHeaderSize ? 12 : 0;
    return masks + colors * 4;
}

}  // namespace

QImage DecodeDib(TRecordBytes info, TRecordBytes bits, bool keepAlpha)
{
    if (!info.Has(0, 4))
        return {};
    const std::uint32_t headerSize = info.U32(0);
    std::vector<std::uint8_t> packed;
    if (headerSize == kCoreHeaderSize && info.Has(0, kCoreHeaderSize)) {
        if (std::int64_t(info.U16(4)) * info.U16(6) > kMaxDibPixels)
            return {};
        packed.assign(info.Data(), info.Data() + info.Size());
        packed.insert(packed.end(), bits.Data(), bits.Data() + bits.Size());
        return DecodeWithReader(packed, true);
    }
    if (headerSize < kInfoHeaderSize || headerSize > info.Size())
        return {};
    const std::int32_t width = info.I32(4), height = info.I32(8);
    const std::uint16_t bitCount = info.U16(14);
    const std::uint32_t compression = info.U32(16);
    if (width <= 0 || height == 0 || height == INT32_MIN ||
        std::int64_t(width) * std::abs(std::int64_t(height)) > kMaxDibPixels)
        return {};
    if (compression == kBiJpeg || compression == kBiPng)
        return DecodeCompressed(bits, compression == kBiPng ? "png" : "jpg");
    if (keepAlpha && bitCount == 32 && compression == kBiRgb)
        return DecodeAlpha32(info, bits, width, height);
    packed.assign(info.Data(), info.Data() + kInfoHeaderSize);
    PutU32LE(packed.data(), kInfoHeaderSize);
    if (headerSize > kInfoHeaderSize && compression == kBiBitFields && headerSize >= kV4MaskEnd)
        packed.insert(packed.end(), info.Data() + kInfoHeaderSize, info.Data() + kV4MaskEnd);
    // Writers may leave slack after the colour table; the bits must follow the
    // entries the header announces.
    const std::size_t tableEnd =
        std::size_t(std::min<std::uint64_t>(info.Size(), headerSize + ColorTableBytes(info, headerSize)));
    packed.insert(packed.end(), info.Data() + headerSize, info.Data() + tableEnd);
    packed.insert(packed.end(), bits.Data(), bits.Data() + bits.Size());
    return DecodeWithReader(packed, false);
}

QImage DecodePackedDib(TRecordBytes packed)
{
    if (!packed.Has(0, 4))
        return {};
    const std::uint32_t headerSize = packed.U32(0);
    std::uint64_t infoSize = 0;
    if (headerSize == kCoreHeaderSize && packed.Has(0, kCoreHeaderSize)) {
        const std::uint16_t bitCount = packed.U16(10);
        infoSize = kCoreHeaderSize + (bitCount <= 8 ? (std::uint64_t(1) << bitCount) * 3 : 0);
    } else if (headerSize >= kInfoHeaderSize && packed.Has(0, headerSize)) {
        infoSize = headerSize + ColorTableBytes(packed, headerSize);
    } else {
        return {};
    }
    if (infoSize > packed.Size())
        return {};
    return DecodeDib(packed.Sub(0, std::size_t(infoSize)),
                     packed.Sub(std::size_t(infoSize), packed.Size() - std::size_t(infoSize)), false);
}

}  // namespace rastova::gdi
