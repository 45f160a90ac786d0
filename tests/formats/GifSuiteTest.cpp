// The GIF and icon readers against the third-party suites (MANIFEST.tsv), and
// the GIF reader against giflib as an independent decoder: every frame's
// indices and colour table, on the suites' files and on generated ones.
#include "formats/Gif.h"
#include "formats/GifTestEncoder.h"
#include "formats/Register.h"
#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <set>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#ifdef RASTOVA_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace rastova {
namespace {

// ---- the suites' expectations --------------------------------------------------------

// Messages of the two readers (and of the registry) that a note may start with.
bool StartsWithKnownMessage(const std::string& note, std::string* message)
{
    for (const char* m : {"Index out of bounds", "Not an Icon file", "Not a proper GIF file", "Unknown file format"})
        if (note.rfind(m, 0) == 0) {
            *message = m;
            return true;
        }
    return false;
}

// N of "loads as N-bit palette image" in a note, or 0.
int NotedBitCount(const std::string& note)
{
    const std::string tail = "-bit palette image";
    const std::size_t end = note.find(tail);
    const std::string head = "loads as ";
    const std::size_t start = note.rfind(head, end);
    if (end == std::string::npos || start == std::string::npos)
        return 0;
    const std::string digits = note.substr(start + head.size(), end - start - head.size());
    return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos ? std::stoi(digits) : 0;
}

// Icons with 24-bit, 32-bit or PNG-compressed first entries, refused when the
// manifest was written and read now. 24-bit ones are transparent (masked
// pixels in IcoMaskColor), 32-bit ones are laid over the background; PNG
// entries come in the format and transparency the PNG reader gives them.
enum class TIconKind { Masked, Alpha, Png };
const std::map<std::string, TIconKind> kIconsNowLoading = {
    {"image-rs/images/ico/images/bmp-24bpp-mask.ico", TIconKind::Masked},
    {"image-rs/images/ico/images/bmp-32bpp-alpha.ico", TIconKind::Alpha},
    {"image-rs/images/ico/images/bmp-32bpp-conflicting-and-mask.ico", TIconKind::Alpha},
    {"image-rs/images/ico/images/bmp_v5_with_icc.ico", TIconKind::Masked},
    {"image-rs/images/ico/images/lenient-bpp.ico", TIconKind::Png},
    {"image-rs/images/ico/images/png-32bpp-alpha.ico", TIconKind::Png},
    {"image-rs/images/ico/images/png_l8.ico", TIconKind::Png},
    {"image-rs/images/ico/images/png_rgb8.ico", TIconKind::Png},
    // The largest, deepest entry is the one loaded: its 48 x 48 32-bit picture.
    {"image-rs/images/ico/images/multiple_entries_with_different_bit_depth.ico", TIconKind::Alpha},
    {"image-rs/images/ico/images/truncated_mask_32bpp.ico", TIconKind::Alpha},
    {"pillow/hopper_256x256.ico", TIconKind::Masked},
    {"pillow/hopper_draw.ico", TIconKind::Png},
    {"pillow/pillow.ico", TIconKind::Png},
    {"pillow/python.ico", TIconKind::Alpha},
};

// Refused while extensions were stepped over by fixed sizes: a longer NETSCAPE
// block or an unknown label ended the parse before the first image.
const std::set<std::string> kGifsNowLoading = {"pygif/loop-buffer.gif", "pygif/loop-buffer_max.gif",
                                               "pygif/unknown-extension.gif"};

TEST(GifIcoSuites, EveryManifestRowMeetsItsExpectation)
{
    const std::vector<test::TManifestRow> rows = test::ManifestRows({"gif", "ico"});
    if (rows.empty())
        RASTOVA_SKIP_WITHOUT_SUITES("test suites not present");
    int loads = 0;
    int refused = 0;
    int undefined = 0;
    for (const test::TManifestRow& row : rows) {
        SCOPED_TRACE(row.path + " (" + row.expectation + ": " + row.note + ")");
        TPixelGraphic image;
        const std::string error = test::LoadLikeConverter(test::TestSuitesDir() / row.path, image);
        EXPECT_EQ(error.rfind("FOREIGN", 0), std::string::npos) << error;
        if (const auto icon = kIconsNowLoading.find(row.path); icon != kIconsNowLoading.end()) {
            ++loads;
            EXPECT_EQ(error, "");
            if (icon->second != TIconKind::Png) {
                EXPECT_TRUE(image.IsTrueColorFormat());
                EXPECT_EQ(image.Transparent(), icon->second == TIconKind::Masked);
            }
            continue;
        }
        if (row.expectation == "loads" || kGifsNowLoading.count(row.path)) {
            ++loads;
            EXPECT_EQ(error, "");
            const int noted = NotedBitCount(row.note);
            // A transparent index or an alpha channel is kept in 32 bits.
            if (error.empty() && noted > 0 && !image.HasAlpha()) {
                EXPECT_EQ(image.BitCountNum(), noted);
            }
            if (error.empty() && row.format == "ico") {
                EXPECT_TRUE(image.IsTrueColorFormat());
                EXPECT_TRUE(image.Transparent());
            }
        } else if (row.expectation == "refused") {
            ++refused;
            EXPECT_NE(error, "");
            std::string message;
            if (StartsWithKnownMessage(row.note, &message)) {
                EXPECT_EQ(error, message);
            }
        } else {
            ++undefined;
        }
    }
    EXPECT_GT(loads, 0);
    EXPECT_GT(refused, 0);
    std::cout << "[ manifest ] " << loads << " loads, " << refused << " refused, " << undefined << " undefined\n";
}

// ---- pygif's reference renderings ----------------------------------------------------

// key = value lines of one section of a pygif .conf file.
std::map<std::string, std::string> ConfSection(const std::filesystem::path& conf, const std::string& section)
{
    std::map<std::string, std::string> values;
    std::ifstream in(conf);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            inside = line == "[" + section + "]";
            continue;
        }
        const std::size_t eq = line.find(" = ");
        if (inside && eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 3);
    }
    return values;
}

// Where the first frame covers the whole canvas, its opaque pixels in pygif's
// rendering are our frame's colours. This also covers files giflib refuses.
TEST(GifAgainstPygif, FirstFrameColoursWhereItCoversTheCanvas)
{
    const std::filesystem::path dir = test::TestSuitesDir() / "pygif";
    if (test::TestSuitesDir().empty() || !std::filesystem::is_directory(dir))
        RASTOVA_SKIP_WITHOUT_SUITES("pygif suite not present");
    int compared = 0;
    std::string skipped;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".conf")
            continue;
        const auto config = ConfSection(entry.path(), "config");
        const std::string frames = config.count("frames") ? config.at("frames") : "";
        if (frames.empty())
            continue;
        const std::string first = frames.substr(0, frames.find(','));
        const auto frame = ConfSection(entry.path(), first);
        if (!frame.count("pixels") || !config.count("input"))
            continue;
        SCOPED_TRACE(config.at("input"));
        const int width = std::stoi(config.at("width"));
        const int height = std::stoi(config.at("height"));
        const std::vector<std::uint8_t> rgba = test::ReadAll(dir / frame.at("pixels"));
        // Images without a delay between them make one rendered frame; then
        // the first rendering is not the first image.
        const int renderedFrames = int(std::count(frames.begin(), frames.end(), ',')) + 1;
        TFileInfo info;
        const bool described = GetFileInfo((dir / config.at("input")).string(), 0, info);
        TPixelGraphic image;
        if (!described || info.ImageCount != renderedFrames ||
            !test::LoadLikeConverter(dir / config.at("input"), image).empty() || image.Width() != width ||
            image.Height() != height || rgba.size() != std::size_t(width) * std::size_t(height) * 4) {
            skipped += " " + config.at("input");
            continue;
        }
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = rgba.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4;
                if (p[3] != 255)
                    continue;
                // A frame with transparency loads with alpha: its opaque pixels keep their colour.
                if (image.HasAlpha()) {
                    ASSERT_EQ(AlphaOf(image.GetPixel(x, y)), 255) << x << ", " << y;
                }
                ASSERT_EQ(image.GetColor(x, y), RGBValue(p[0], p[1], p[2])) << x << ", " << y;
            }
        ++compared;
    }
    EXPECT_GT(compared, 20);
    std::cout << "[ pygif ] " << compared << " first frames equal; not comparable:" << skipped << "\n";
}

#ifdef RASTOVA_HAVE_GIFLIB

// ---- giflib as the oracle ------------------------------------------------------------

struct TOracleFrame {
    int width = 0;
    int height = 0;
    std::vector<TRGB> palette;  // empty when the frame has no colour table at all
    std::vector<std::uint8_t> indices;
    int transparentIndex = -1;  // from the frame's graphic control block
};

struct TMemorySource {
    const std::vector<std::uint8_t>* bytes;
    std::size_t pos;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int length)
{
    auto* source = static_cast<TMemorySource*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(std::size_t(std::max(length, 0)), source->bytes->size() - source->pos);
    std::memcpy(buffer, source->bytes->data() + source->pos, n);
    source->pos += n;
    return int(n);
}

// DGifSlurp's frames (de-interlaced), or false with giflib's reason.
bool GiflibDecode(const std::vector<std::uint8_t>& bytes, std::vector<TOracleFrame>& frames, std::string& why)
{
    TMemorySource source{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, ReadFromMemory, &error);
    if (!gif) {
        why = GifErrorString(error);
        return false;
    }
    const bool ok = DGifSlurp(gif) == GIF_OK;
    if (!ok) {
        why = GifErrorString(gif->Error);
    } else {
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& saved = gif->SavedImages[i];
            TOracleFrame frame;
            frame.width = saved.ImageDesc.Width;
            frame.height = saved.ImageDesc.Height;
            const ColorMapObject* map = saved.ImageDesc.ColorMap ? saved.ImageDesc.ColorMap : gif->SColorMap;
            if (map)
                for (int c = 0; c < map->ColorCount; ++c)
                    frame.palette.push_back(RGBValue(map->Colors[c].Red, map->Colors[c].Green, map->Colors[c].Blue));
            const std::size_t n = std::size_t(frame.width) * std::size_t(frame.height);
            frame.indices.assign(saved.RasterBits, saved.RasterBits + n);
            GraphicsControlBlock control{};
            if (DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK)
                frame.transparentIndex = control.TransparentColor;
            frames.push_back(std::move(frame));
        }
    }
    DGifCloseFile(gif, &error);
    return ok;
}

// Our frame against giflib's: size, table and every index. "" when equal.
std::string CompareFrame(const TPixelGraphic& image, const TOracleFrame& want, int* outsideTable = nullptr)
{
    if (image.Width() != want.width || image.Height() != want.height)
        return "size " + std::to_string(image.Width()) + "x" + std::to_string(image.Height()) + " instead of " +
               std::to_string(want.width) + "x" + std::to_string(want.height);
    if (!want.palette.empty()) {
        // Entries past the table (for pixels or a transparent index beyond it)
        // are black; the transparent entry shows a new image's background, black.
        const std::size_t count = std::max<std::size_t>(want.palette.size(), std::size_t(image.PaletteCount()));
        if (image.PaletteCount() < int(want.palette.size()))
            return "palette of " + std::to_string(image.PaletteCount()) + " instead of " +
                   std::to_string(want.palette.size());
        for (std::size_t i = 0; i < count; ++i) {
            const bool transparent = int(i) == want.transparentIndex;
            const TRGB expected = transparent || i >= want.palette.size() ? 0 : want.palette[i];
            if (image.PaletteColors()[i] != expected)
                return "palette entry " + std::to_string(i);
        }
    }
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x) {
            // An index the table does not have is stored as SetPixel stores
            // any value: a 1-bit pixel is set by 1 only, 4 bits keep the low nibble.
            const std::uint32_t raw = want.indices[std::size_t(y) * std::size_t(want.width) + std::size_t(x)];
            const std::uint32_t w = image.BitCount() == bc1 ? (raw == 1 ? 1 : 0)
                                    : image.BitCount() == bc4 ? raw & 0x0F
                                                              : raw;
            if (outsideTable && !want.palette.empty() && raw >= want.palette.size())
                ++*outsideTable;
            if (image.GetPixel(x, y) != w)
                return "pixel " + std::to_string(x) + ", " + std::to_string(y) + ": " +
                       std::to_string(image.GetPixel(x, y)) + " instead of " + std::to_string(w);
        }
    return "";
}

int OurFrameCount(const std::vector<std::uint8_t>& bytes)
{
    tGifFileFormatReader reader;
    TMemoryStream stream(bytes);
    TFileInfo info;
    try {
        reader.GetInfo(stream, 0, info);
    } catch (const EPixelGraphic&) {
        return 0;
    }
    return info.ImageCount;
}

// Compares every frame both decoders see; returns how many frames were compared.
int CompareWithGiflib(const std::vector<std::uint8_t>& bytes, const std::vector<TOracleFrame>& oracle,
                      int* outsideTable)
{
    const int ours = OurFrameCount(bytes);
    const int frames = std::min(ours, int(oracle.size()));
    for (int i = 0; i < frames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        TPixelGraphic image;
        TMemoryStream stream(bytes);
        // Indices are compared: the palette form a flattening load keeps.
        TPGSettings settings = DefaultSettings();
        settings.FlattenAlphaOnLoad = true;
        image.LoadFromStreamExt(stream, "gif", i, settings);
        EXPECT_EQ(CompareFrame(image, oracle[std::size_t(i)], outsideTable), "");
    }
    return frames;
}

TEST(GifAgainstGiflib, EveryFrameOfTheSuitesFiles)
{
    const std::vector<test::TManifestRow> rows = test::ManifestRows({"gif"});
    if (rows.empty())
        RASTOVA_SKIP_WITHOUT_SUITES("test suites not present");
    int files = 0;
    int compared = 0;
    int oracleRefused = 0;
    std::string fewerFrames;
    std::string outsideTable;
    for (const test::TManifestRow& row : rows) {
        SCOPED_TRACE(row.path);
        const std::vector<std::uint8_t> bytes = test::ReadAll(test::TestSuitesDir() / row.path);
        std::vector<TOracleFrame> oracle;
        std::string why;
        if (!GiflibDecode(bytes, oracle, why)) {
            ++oracleRefused;
            continue;
        }
        ++files;
        int outside = 0;
        compared += CompareWithGiflib(bytes, oracle, &outside);
        if (outside > 0)
            outsideTable += " " + row.path + " (" + std::to_string(outside) + ")";
        // Our parse ends at blocks it does not know; giflib reads on.
        const int ours = OurFrameCount(bytes);
        if (ours != int(oracle.size()))
            fewerFrames += " " + row.path + " (" + std::to_string(ours) + " of " + std::to_string(oracle.size()) + ")";
        EXPECT_LE(ours, int(oracle.size()));
    }
    EXPECT_GT(compared, 100);
    std::cout << "[ giflib ] " << files << " files, " << compared << " frames equal; giflib refused " << oracleRefused
              << " files; frame counts differ:" << (fewerFrames.empty() ? " none" : fewerFrames)
              << "; pixels outside the colour table:" << (outsideTable.empty() ? " none" : outsideTable) << "\n";
}

// ---- generated files -------------------------------------------------------------------

int WriteToVector(GifFileType* gif, const GifByteType* buffer, int length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), buffer, buffer + length);
    return length;
}

ColorMapObject* MakeMap(const std::vector<TRGB>& table)
{
    std::vector<GifColorType> colors;
    for (const TRGB c : table)
        colors.push_back({RedOf(c), GreenOf(c), BlueOf(c)});
    return GifMakeMapObject(int(colors.size()), colors.data());
}

std::vector<TRGB> RandomTable(int bits, std::mt19937& random)
{
    std::vector<TRGB> table(std::size_t(1) << bits);
    for (TRGB& c : table)
        c = random() & 0xFFFFFF;
    return table;
}

// giflib's own encoder: a global table, then frames with and without local
// tables, interlaced and not.
std::vector<std::uint8_t> EncodeWithGiflib(int screenWidth, int screenHeight, const std::vector<TRGB>& global,
                                           const std::vector<test::TTestFrame>& frames)
{
    std::vector<std::uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToVector, &error);
    if (!gif)
        return {};
    ColorMapObject* globalMap = MakeMap(global);
    bool ok = EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, globalMap) == GIF_OK;
    GifFreeMapObject(globalMap);
    for (const test::TTestFrame& f : frames) {
        ColorMapObject* local = f.localBits > 0 ? MakeMap(f.localTable) : nullptr;
        ok = ok && EGifPutImageDesc(gif, 0, 0, f.width, f.height, f.interlaced, local) == GIF_OK;
        if (local)
            GifFreeMapObject(local);
        std::vector<int> rows;
        if (f.interlaced) {
            rows = test::InterlacedRowOrder(f.height);
        } else {
            for (int y = 0; y < f.height; ++y)
                rows.push_back(y);
        }
        for (const int y : rows) {
            std::vector<GifPixelType> line(f.indices.begin() + std::ptrdiff_t(y) * f.width,
                                           f.indices.begin() + std::ptrdiff_t(y + 1) * f.width);
            ok = ok && EGifPutLine(gif, line.data(), f.width) == GIF_OK;
        }
        // giflib 5.2 copies each local table into the file object and drops the
        // previous copy without freeing it; release it once the frame is written.
        if (gif->Image.ColorMap) {
            GifFreeMapObject(gif->Image.ColorMap);
            gif->Image.ColorMap = nullptr;
        }
    }
    if (EGifCloseFile(gif, &error) != GIF_OK)
        ok = false;
    return ok ? out : std::vector<std::uint8_t>{};
}

test::TTestFrame RandomFrame(int width, int height, int bits, std::mt19937& random)
{
    test::TTestFrame f;
    f.width = width;
    f.height = height;
    for (int i = 0; i < width * height; ++i)
        f.indices.push_back(std::uint8_t(random() & ((1u << bits) - 1)));
    f.lzw.minCodeSize = std::max(2, bits);
    return f;
}

void ExpectSourceFrames(const std::vector<std::uint8_t>& bytes, const std::vector<test::TTestFrame>& frames,
                        const std::vector<std::vector<TRGB>>& tables)
{
    std::vector<TOracleFrame> source;
    for (std::size_t i = 0; i < frames.size(); ++i)
        source.push_back({frames[i].width, frames[i].height, tables[i], frames[i].indices});
    std::vector<TOracleFrame> oracle;
    std::string why;
    ASSERT_TRUE(GiflibDecode(bytes, oracle, why)) << why;
    ASSERT_EQ(oracle.size(), frames.size());
    ASSERT_EQ(OurFrameCount(bytes), int(frames.size()));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        // giflib agrees with the source, so the file is what we meant ...
        EXPECT_EQ(oracle[i].indices, source[i].indices);
        EXPECT_EQ(oracle[i].palette, source[i].palette);
        // ... and we agree with both.
        TPixelGraphic image;
        TMemoryStream stream(bytes);
        image.LoadFromStreamExt(stream, "gif", int(i));
        EXPECT_EQ(CompareFrame(image, source[i]), "");
    }
}

class GiflibEncoded : public testing::TestWithParam<int> {};

// Every table size 2..256 (code sizes 2..8) as global and as local tables,
// interlaced and not, several frames per file.
TEST_P(GiflibEncoded, FramesMatchTheSource)
{
    const int bits = GetParam();
    std::mt19937 random{std::uint32_t(bits)};
    const int localBits = bits % 8 + 1;
    std::vector<test::TTestFrame> frames = {RandomFrame(61, 47, bits, random), RandomFrame(33, 58, localBits, random),
                                            RandomFrame(70, 9, bits, random), RandomFrame(1, 1, bits, random)};
    const std::vector<TRGB> global = RandomTable(bits, random);
    frames[1].localBits = localBits;
    frames[1].localTable = RandomTable(localBits, random);
    frames[1].interlaced = true;
    frames[2].interlaced = true;
    frames[3].localBits = bits;
    frames[3].localTable = RandomTable(bits, random);
    const std::vector<std::uint8_t> bytes = EncodeWithGiflib(70, 58, global, frames);
    ASSERT_FALSE(bytes.empty());
    ExpectSourceFrames(bytes, frames, {global, frames[1].localTable, global, frames[3].localTable});
}

INSTANTIATE_TEST_SUITE_P(TableBits, GiflibEncoded, testing::Range(1, 9));

// Our test encoder's unusual but legal streams, decoded by giflib too: this
// shows the encoder writes standard GIF, so the unit tests built on it prove
// the reader against the standard and not against itself.
TEST(GiflibDecodesTestEncoder, UnusualStreamsAgree)
{
    struct TCase {
        int bits, minCodeSize, subBlock, clearEvery;
        bool deferred, interlaced;
        int width, height;
    };
    const TCase cases[] = {
        {2, 2, 1, 0, false, false, 64, 64},   {8, 8, 1, 0, false, true, 120, 90}, {8, 8, 255, 0, true, false, 160, 120},
        {2, 2, 255, 0, true, false, 300, 200}, {4, 4, 3, 17, false, true, 50, 40}, {1, 8, 255, 0, false, false, 40, 10},
        {5, 5, 255, 1, false, false, 30, 20},  {1, 1, 255, 0, false, false, 90, 70}, {1, 1, 2, 5, false, true, 33, 21},
    };
    std::mt19937 random(99);
    for (const TCase& c : cases) {
        SCOPED_TRACE("bits " + std::to_string(c.bits) + " min " + std::to_string(c.minCodeSize) + " block " +
                     std::to_string(c.subBlock) + (c.deferred ? " deferred" : ""));
        test::TTestFrame f = RandomFrame(c.width, c.height, c.bits, random);
        f.lzw.minCodeSize = c.minCodeSize;
        f.lzw.subBlockSize = c.subBlock;
        f.lzw.clearEvery = c.clearEvery;
        f.lzw.deferredClear = c.deferred;
        f.interlaced = c.interlaced;
        const std::vector<TRGB> table = RandomTable(c.bits, random);
        test::TGifFileBuilder gif(c.width, c.height, c.bits, table);
        gif.Frame(f).Trailer();
        ExpectSourceFrames(gif.Data(), {f}, {table});
    }
}

#endif  // RASTOVA_HAVE_GIFLIB

}  // namespace
}  // namespace rastova
