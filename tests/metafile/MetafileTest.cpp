// The metafile player: sizes and refusals over the sample suite, pixel rules
// on tiny metafiles built here, damaged files, and the command-line hook.
#include "hosts/MetafileSupport.h"
#include "metafile/GdiPlayer.h"
#include "metafile/Metafile.h"
#include "support/TestSupport.h"

#include <QGuiApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <cstring>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace rastova {
namespace {

using test::TByteBuilder;

constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000;

// ---- metafiles built here ------------------------------------------------------------

// An EMF whose reference device is 960 x 960 pixels on 254 x 254 mm (96 dpi) and
// whose frame is 96 x 96 pixels, so a device pixel p lands on output pixel 1 + p.
class TEmfBuilder {
public:
    TEmfBuilder& Record(std::uint32_t type, const std::vector<std::int32_t>& fields)
    {
        m_records.push_back({type, fields});
        return *this;
    }
    std::vector<std::uint8_t> Bytes(std::int32_t frameRight = 2540, std::int32_t frameBottom = 2540) const
    {
        TByteBuilder b;
        b.U32LE(1).U32LE(88);
        for (std::int32_t v : {0, 0, 96, 96, 0, 0, frameRight, frameBottom})
            b.U32LE(std::uint32_t(v));
        b.U32LE(0x464D4520).U32LE(0x10000).U32LE(0).U32LE(std::uint32_t(m_records.size() + 2));
        b.U16LE(8).U16LE(0).U32LE(0).U32LE(0).U32LE(0);
        b.U32LE(960).U32LE(960).U32LE(254).U32LE(254);
        for (const auto& [type, fields] : m_records) {
            b.U32LE(type).U32LE(std::uint32_t(8 + 4 * fields.size()));
            for (std::int32_t v : fields)
                b.U32LE(std::uint32_t(v));
        }
        b.U32LE(14).U32LE(20).U32LE(0).U32LE(16).U32LE(20);
        return b.Data();
    }

private:
    std::vector<std::pair<std::uint32_t, std::vector<std::int32_t>>> m_records;
};

// A placeable WMF with the box (0, 0)-(96, 96) at 96 units per inch.
class TWmfBuilder {
public:
    TWmfBuilder& Record(std::uint16_t function, const std::vector<std::int16_t>& words)
    {
        m_records.push_back({function, words});
        return *this;
    }
    std::vector<std::uint8_t> Bytes() const
    {
        TByteBuilder b;
        b.U32LE(0x9AC6CDD7).U16LE(0).U16LE(0).U16LE(0).U16LE(96).U16LE(96).U16LE(96).U32LE(0).U16LE(0);
        b.U16LE(1).U16LE(9).U16LE(0x300).U32LE(0).U16LE(4).U32LE(0).U16LE(0);
        for (const auto& [function, words] : m_records) {
            b.U32LE(std::uint32_t(3 + words.size())).U16LE(function);
            for (std::int16_t w : words)
                b.U16LE(std::uint16_t(w));
        }
        b.U32LE(3).U16LE(0);
        return b.Data();
    }

private:
    std::vector<std::pair<std::uint16_t, std::vector<std::int16_t>>> m_records;
};

enum : std::uint32_t {
    EMR_SETWINDOWEXTEX = 9, EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETMAPMODE = 17, EMR_PIE = 47, EMR_MOVETOEX = 27, EMR_LINETO = 54, EMR_SETBKMODE = 18, EMR_SETBKCOLOR = 25, EMR_EXTTEXTOUTW = 84,
    EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35, EMR_SELECTOBJECT = 37, EMR_RECTANGLE = 43,
    EMR_SETROP2 = 20, EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT = 30, EMR_CREATEBRUSHINDIRECT = 39,
    EMR_BEGINPATH = 59, EMR_ENDPATH = 60, EMR_FILLPATH = 62, EMR_EXTSELECTCLIPRGN = 75, EMR_BITBLT = 76,
    EMR_STRETCHDIBITS = 81, EMR_POLYGON16 = 86
};
constexpr std::int32_t kBlackPen = std::int32_t(0x80000007u), kNullPen = std::int32_t(0x80000008u);

// Little-endian words of a byte string, zero-padded to whole words.
std::vector<std::int32_t> Words(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::int32_t> words((bytes.size() + 3) / 4, 0);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    return words;
}

// A 2 x 2 bottom-up 24-bit DIB: bottom row red, green; top row blue, white.
std::vector<std::uint8_t> Dib2x2()
{
    TByteBuilder b;
    b.U32LE(40).U32LE(2).U32LE(2).U16LE(1).U16LE(24).U32LE(0).U32LE(16).U32LE(0).U32LE(0).U32LE(0).U32LE(0);
    b.Bytes({0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0});
    return b.Data();
}

std::vector<std::int32_t> Concat(std::vector<std::int32_t> a, const std::vector<std::int32_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
constexpr std::int32_t kBlackBrush = std::int32_t(0x80000004u), kNullBrush = std::int32_t(0x80000005u);

std::int32_t FloatBits(float f)
{
    std::int32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// The picture drawn on a white 96 x 96 image at (1, 1), as the job does.
QImage Render(const std::vector<std::uint8_t>& bytes)
{
    TMetafile metafile;
    metafile.LoadFromBytes(bytes);
    QImage image(metafile.Width(), metafile.Height(), QImage::Format_RGB32);
    image.fill(Qt::white);
    metafile.Draw(image, 1, 1);
    return image;
}

struct TProbe {
    int x, y;
    std::uint32_t rgb;
};

struct TPixelCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::vector<TProbe> probes;
};

// A black 10 x 10 square from device (10, 10): its outline covers 10..19 and
// leaves 20 out, and output pixels are device pixels + 1.
const std::vector<TProbe> kSquareProbes = {{11, 11, kBlack}, {20, 20, kBlack}, {15, 15, kBlack},
                                           {21, 15, kWhite}, {15, 21, kWhite}, {10, 10, kWhite}};

std::vector<TPixelCase> PixelCases()
{
    std::vector<TPixelCase> cases;
    cases.push_back({"excluded right and bottom edges",
                     TEmfBuilder().Record(EMR_SELECTOBJECT, {kBlackBrush}).Record(EMR_RECTANGLE, {10, 10, 20, 20}).Bytes(),
                     kSquareProbes});
    cases.push_back({"placement at (1, 1)",
                     TEmfBuilder().Record(EMR_SELECTOBJECT, {kBlackBrush}).Record(EMR_RECTANGLE, {0, 0, 96, 96}).Bytes(),
                     {{0, 0, kWhite}, {0, 50, kWhite}, {50, 0, kWhite}, {1, 1, kBlack}, {95, 95, kBlack}}});
    cases.push_back({"anisotropic window and viewport",
                     TEmfBuilder()
                         .Record(EMR_SETMAPMODE, {8})
                         .Record(EMR_SETWINDOWORGEX, {50, 50})
                         .Record(EMR_SETWINDOWEXTEX, {100, 100})
                         .Record(EMR_SETVIEWPORTEXTEX, {50, 50})
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_RECTANGLE, {70, 70, 90, 90})
                         .Bytes(),
                     kSquareProbes});
    cases.push_back({"world transform scales and moves",
                     TEmfBuilder()
                         .Record(EMR_SETWORLDTRANSFORM, {FloatBits(2), 0, 0, FloatBits(2), FloatBits(10), FloatBits(10)})
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_RECTANGLE, {0, 0, 5, 5})
                         .Bytes(),
                     kSquareProbes});
    cases.push_back({"RestoreDC brings back brush and transform",
                     TEmfBuilder()
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_SAVEDC, {})
                         .Record(EMR_SELECTOBJECT, {kNullBrush})
                         .Record(EMR_SETWORLDTRANSFORM, {FloatBits(3), 0, 0, FloatBits(3), 0, 0})
                         .Record(EMR_RESTOREDC, {-1})
                         .Record(EMR_RECTANGLE, {10, 10, 20, 20})
                         .Bytes(),
                     kSquareProbes});
    // Text in transparent mode after an opaque fill with a black background
    // leaves the cell around the glyph untouched.
    cases.push_back({"transparent text keeps its cell",
                     TEmfBuilder()
                         .Record(EMR_SETBKCOLOR, {0})
                         .Record(EMR_SETBKMODE, {2})
                         .Record(EMR_RECTANGLE, {0, 0, 5, 5})
                         .Record(EMR_SETBKMODE, {1})
                         .Record(EMR_EXTTEXTOUTW, {0, 0, 0, 0, 1, 0, 0, 40, 40, 1, 76, 0, 0, 0, 0, 0, 0, '.'})
                         .Bytes(),
                     {{43, 44, kWhite}, {46, 43, kWhite}}});
    // The DIB fills device (10, 10)-(30, 30): its first stored row is the bottom one.
    cases.push_back({"StretchDIBits scales a bottom-up DIB",
                     TEmfBuilder()
                         .Record(EMR_STRETCHDIBITS, Concat({0, 0, 0, 0, 10, 10, 0, 0, 2, 2, 80, 40, 120, 16, 0,
                                                            0x00CC0020, 20, 20},
                                                           Words(Dib2x2())))
                         .Bytes(),
                     {{11, 11, 0x0000FF}, {30, 11, kWhite}, {11, 30, 0xFF0000}, {30, 30, 0x00FF00}, {31, 31, kWhite}}});
    cases.push_back({"clip rectangles intersect and exclude",
                     TEmfBuilder()
                         .Record(EMR_INTERSECTCLIPRECT, {10, 10, 20, 20})
                         .Record(EMR_EXCLUDECLIPRECT, {10, 10, 15, 20})
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_SELECTOBJECT, {kNullPen})
                         .Record(EMR_RECTANGLE, {0, 0, 90, 90})
                         .Bytes(),
                     {{16, 16, kBlack}, {20, 20, kBlack}, {21, 16, kWhite}, {14, 16, kWhite}, {16, 21, kWhite}}});
    cases.push_back({"region clip in device units",
                     TEmfBuilder()
                         .Record(EMR_EXTSELECTCLIPRGN, {48, 5, 32, 1, 1, 16, 30, 30, 40, 40, 30, 30, 40, 40})
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_RECTANGLE, {0, 0, 90, 90})
                         .Bytes(),
                     {{31, 31, kBlack}, {40, 40, kBlack}, {41, 35, kWhite}, {30, 35, kWhite}}});
    cases.push_back({"path filled with the polygon fill mode",
                     TEmfBuilder()
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_BEGINPATH, {})
                         .Record(EMR_RECTANGLE, {10, 10, 20, 20})
                         .Record(EMR_RECTANGLE, {12, 12, 18, 18})
                         .Record(EMR_ENDPATH, {})
                         .Record(EMR_FILLPATH, {0, 0, 0, 0})
                         .Bytes(),
                     {{12, 12, kBlack}, {16, 16, kWhite}, {5, 5, kWhite}}});
    cases.push_back({"XOR pen inverts what is below",
                     TEmfBuilder()
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_SELECTOBJECT, {kNullPen})
                         .Record(EMR_RECTANGLE, {10, 10, 30, 30})
                         .Record(EMR_SETROP2, {7})
                         .Record(EMR_CREATEBRUSHINDIRECT, {1, 0, 0x0000FF, 0})  // red
                         .Record(EMR_SELECTOBJECT, {1})
                         .Record(EMR_RECTANGLE, {20, 20, 40, 40})
                         .Bytes(),
                     {{15, 15, kBlack}, {25, 25, 0xFF0000}, {35, 35, 0x00FFFF}}});
    cases.push_back({"hatch lines on an opaque background",
                     TEmfBuilder()
                         .Record(EMR_SETBKCOLOR, {0x0000FF})  // red
                         .Record(EMR_CREATEBRUSHINDIRECT, {1, 2, 0x000000, 0})  // horizontal hatch
                         .Record(EMR_SELECTOBJECT, {1})
                         .Record(EMR_SELECTOBJECT, {kNullPen})
                         .Record(EMR_RECTANGLE, {0, 0, 32, 32})
                         .Bytes(),
                     {{20, 3, kBlack}, {20, 11, kBlack}, {20, 5, 0xFF0000}, {20, 9, 0xFF0000}}});
    // A polygon whose point count runs past its record ends the picture there.
    cases.push_back({"damaged record ends playback, keeps what was drawn",
                     TEmfBuilder()
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_RECTANGLE, {10, 10, 20, 20})
                         .Record(EMR_POLYGON16, {0, 0, 0, 0, 0x40000000, 5, 5})
                         .Record(EMR_RECTANGLE, {50, 50, 60, 60})
                         .Bytes(),
                     {{15, 15, kBlack}, {55, 55, kWhite}}});
    cases.push_back({"lines leave out their last pixel",
                     TEmfBuilder()
                         .Record(EMR_MOVETOEX, {10, 10})
                         .Record(EMR_LINETO, {20, 10})
                         .Record(EMR_MOVETOEX, {10, 30})
                         .Record(EMR_LINETO, {11, 30})
                         .Bytes(),
                     {{11, 11, kBlack}, {20, 11, kBlack}, {21, 11, kWhite}, {11, 31, kBlack}, {12, 31, kWhite}}});
    cases.push_back({"pie runs counterclockwise from start to end",
                     TEmfBuilder()
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_PIE, {10, 10, 30, 30, 30, 20, 20, 10})
                         .Bytes(),
                     {{25, 15, kBlack}, {15, 15, kWhite}, {15, 25, kWhite}, {25, 25, kWhite}}});
    cases.push_back({"blits without a bitmap paint by raster operation",
                     TEmfBuilder()
                         .Record(EMR_BITBLT, {0, 0, 0, 0, 10, 10, 10, 10, 0x00000042, 0, 0, FloatBits(1), 0, 0,
                                              FloatBits(1), 0, 0, 0, 0, 0, 0, 0, 0})
                         .Record(EMR_BITBLT, {0, 0, 0, 0, 15, 15, 10, 10, 0x00550009, 0, 0, FloatBits(1), 0, 0,
                                              FloatBits(1), 0, 0, 0, 0, 0, 0, 0, 0})
                         .Bytes(),
                     {{12, 12, kBlack}, {17, 17, kWhite}, {23, 23, kBlack}, {26, 26, kWhite}}});
    // Slots 0..2 hold a pen, a red and a blue brush; deleting the red one frees
    // slot 1, which the green brush created next must take.
    constexpr std::int16_t kSolid = 0;
    cases.push_back({"WMF objects take the lowest free slot",
                     TWmfBuilder()
                         .Record(0x02FA, {0, 1, 0, 0, 0})                // pen, black
                         .Record(0x02FC, {kSolid, 0x00FF, 0x0000, 0})    // red brush
                         .Record(0x02FC, {kSolid, 0x0000, 0x00FF, 0})    // blue brush
                         .Record(0x012D, {0})
                         .Record(0x012D, {2})
                         .Record(0x01F0, {1})
                         .Record(0x02FC, {kSolid, std::int16_t(0xFF00), 0x0000, 0})  // green brush
                         .Record(0x012D, {1})
                         .Record(0x041B, {20, 20, 10, 10})               // rectangle: bottom, right, top, left
                         .Bytes(),
                     {{15, 15, 0x00FF00}, {11, 11, kBlack}, {21, 15, kWhite}}});
    // A window with its y axis upwards (negative extent) turns the picture over.
    cases.push_back({"WMF window with an upward y axis",
                     TWmfBuilder()
                         .Record(0x020B, {96, 0})                   // window origin (0, 96)
                         .Record(0x020C, {-96, 96})                 // window extent (96, -96)
                         .Record(0x02FC, {kSolid, 0, 0, 0})        // black brush
                         .Record(0x012D, {0})
                         .Record(0x041B, {76, 20, 86, 10})          // rectangle (10, 86)-(20, 76)
                         .Record(0x061D, {0x0009, 0x0055, 10, 10, 50, 50})  // DSTINVERT on (50, 50)-(60, 60)
                         .Bytes(),
                     {{15, 15, kBlack}, {11, 11, kBlack}, {15, 22, kWhite}, {55, 40, kBlack}, {55, 30, kWhite}}});
    // Fixed mapping modes measure in physical units with y upwards; isotropic
    // keeps the smaller of the two scales on both axes. Each draws the device
    // square (20, 20)-(60, 60) or, isotropic, (20, 20)-(40, 40).
    const struct {
        const char* name;
        std::int32_t mode, near, far;
    } fixedModes[] = {{"MM_LOMETRIC", 2, 53, 159},     {"MM_HIMETRIC", 3, 529, 1588}, {"MM_LOENGLISH", 4, 21, 62},
                      {"MM_HIENGLISH", 5, 208, 625},   {"MM_TWIPS", 6, 300, 900}};
    for (const auto& m : fixedModes)
        cases.push_back({m.name,
                         TEmfBuilder()
                             .Record(EMR_SETMAPMODE, {m.mode})
                             .Record(EMR_SELECTOBJECT, {kBlackBrush})
                             .Record(EMR_RECTANGLE, {m.near, -m.near, m.far, -m.far})
                             .Bytes(),
                         {{24, 24, kBlack}, {56, 56, kBlack}, {16, 40, kWhite}, {40, 65, kWhite}, {65, 40, kWhite}}});
    cases.push_back({"MM_ISOTROPIC keeps the smaller scale",
                     TEmfBuilder()
                         .Record(EMR_SETMAPMODE, {7})
                         .Record(EMR_SETWINDOWEXTEX, {100, 100})
                         .Record(EMR_SETVIEWPORTEXTEX, {50, 25})
                         .Record(EMR_SELECTOBJECT, {kBlackBrush})
                         .Record(EMR_RECTANGLE, {80, 80, 160, 160})
                         .Bytes(),
                     {{24, 24, kBlack}, {38, 38, kBlack}, {50, 30, kWhite}, {30, 50, kWhite}}});
    // An opaque cell in black around "MMMM" at device (40, 40), output (41, 41).
    const struct {
        const char* name;
        std::int32_t align;
        std::vector<TProbe> probes;
    } alignments[] = {
        {"text left top", 0, {{44, 44, kBlack}, {38, 44, kWhite}, {44, 38, kWhite}}},
        {"text right top", 2, {{37, 44, kBlack}, {44, 44, kWhite}, {37, 38, kWhite}}},
        {"text centre top", 6, {{37, 44, kBlack}, {45, 44, kBlack}, {41, 38, kWhite}}},
        {"text left bottom", 8, {{44, 37, kBlack}, {44, 44, kWhite}, {38, 37, kWhite}}},
        {"text left baseline", 24, {{44, 37, kBlack}, {38, 37, kWhite}}},
    };
    constexpr std::uint32_t kSetTextAlign = 22;
    for (const auto& a : alignments)
        cases.push_back({a.name,
                         TEmfBuilder()
                             .Record(EMR_SETBKCOLOR, {0})
                             .Record(EMR_SETBKMODE, {2})
                             .Record(kSetTextAlign, {a.align})
                             .Record(EMR_EXTTEXTOUTW, {0, 0, 0, 0, 1, 0, 0, 40, 40, 4, 76, 0, 0, 0, 0, 0, 0,
                                                       'M' | 'M' << 16, 'M' | 'M' << 16})
                             .Bytes(),
                         a.probes});
    // Indices outside the object table select and delete nothing.
    cases.push_back({"WMF object indices outside the table",
                     TWmfBuilder()
                         .Record(0x02FC, {kSolid, 0, 0, 0})  // black brush, slot 0
                         .Record(0x012D, {0})
                         .Record(0x012D, {7})
                         .Record(0x012D, {-1})
                         .Record(0x01F0, {-1})
                         .Record(0x01F0, {4})
                         .Record(0x041B, {20, 20, 10, 10})
                         .Bytes(),
                     {{15, 15, kBlack}, {21, 15, kWhite}}});
    // A full table takes no more objects; a slot freed in it is found again.
    TWmfBuilder full;
    for (int i = 0; i < 65535; ++i)
        full.Record(0x02FC, {kSolid, 0, 0, 0});  // black brushes
    full.Record(0x02FC, {kSolid, 0x00FF, 0, 0})  // red: no room
        .Record(0x012D, {-1})                    // slot 65535 does not exist
        .Record(0x01F0, {300})
        .Record(0x02FC, {kSolid, 0, 0x00FF, 0})  // blue: slot 300
        .Record(0x012D, {300})
        .Record(0x041B, {20, 20, 10, 10});
    cases.push_back({"WMF full object table", full.Bytes(), {{15, 15, 0x0000FF}}});
    return cases;
}

TEST(MetafilePixels, ProbesOnTinyMetafiles)
{
    for (const TPixelCase& c : PixelCases()) {
        SCOPED_TRACE(c.name);
        const QImage image = Render(c.bytes);
        ASSERT_EQ(image.size(), QSize(96, 96));
        for (const TProbe& p : c.probes)
            EXPECT_EQ(image.pixel(p.x, p.y) & 0xFFFFFF, p.rgb) << "at " << p.x << "," << p.y;
    }
}

// ---- bitmaps, text and faces ---------------------------------------------------------

// A 1-bit 8 x 2 DIB header whose colour entries (black, white) may be followed by slack.
std::vector<std::uint8_t> MonoInfo(std::size_t slack, std::uint32_t height = 2, std::uint32_t width = 8)
{
    TByteBuilder b;
    b.U32LE(40).U32LE(width).U32LE(height).U16LE(1).U16LE(1).U32LE(0).U32LE(8).U32LE(0).U32LE(0).U32LE(2).U32LE(0);
    b.U32LE(0x000000).U32LE(0xFFFFFF).Fill(slack, 0xAB);
    return b.Data();
}

TEST(MetafileBitmaps, DecodeDibTable)
{
    const std::vector<std::uint8_t> bits = {0xF0, 0, 0, 0, 0x0F, 0, 0, 0};  // bottom row, then top row
    const std::vector<std::uint8_t> full = MonoInfo(0);
    struct TRow {
        const char* name;
        std::vector<std::uint8_t> info;
        bool decodes;
    } rows[] = {
        {"exact colour table", MonoInfo(0), true},
        {"slack after the colour table", MonoInfo(260), true},
        {"header only, no colours", std::vector<std::uint8_t>(full.begin(), full.begin() + 40), true},
        {"header size beyond the block", std::vector<std::uint8_t>(full.begin(), full.begin() + 30), false},
        {"zero width", MonoInfo(0, 2, 0), false},
        {"too many pixels", MonoInfo(0, 0x10000, 0x10000), false},
    };
    for (const TRow& r : rows) {
        SCOPED_TRACE(r.name);
        const QImage image = gdi::DecodeDib(TRecordBytes(r.info.data(), r.info.size()), TRecordBytes(bits.data(), bits.size()));
        ASSERT_EQ(!image.isNull(), r.decodes);
        if (!r.decodes || r.info.size() < 48)
            continue;
        // Top row: 0x0F -> four black then four white; bottom row the reverse.
        EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, kBlack);
        EXPECT_EQ(image.pixel(7, 0) & 0xFFFFFF, kWhite);
        EXPECT_EQ(image.pixel(0, 1) & 0xFFFFFF, kWhite);
        EXPECT_EQ(image.pixel(7, 1) & 0xFFFFFF, kBlack);
    }
}

TEST(MetafileText, AnsiCodePagesAndFaces)
{
    struct TAnsi {
        std::vector<std::uint8_t> bytes;
        std::uint8_t charSet;
        QString expected;
    } ansi[] = {{{'A', 0x80, 0x9F, 0xE9}, 0, QString::fromUtf8("A€Ÿé")},
                {{'A', 0x80, 0xE9}, 1, QString::fromUtf8("A€é")},
                {{0x41, 0xE9}, 2, QString::fromUtf8("Aé")}};
    for (const TAnsi& a : ansi)
        EXPECT_EQ(gdi::DecodeAnsi(a.bytes.data(), a.bytes.size(), a.charSet), a.expected);

    const std::uint8_t cyrillic[] = {0xC0, 0xE1};
    const QString russian = gdi::DecodeAnsi(cyrillic, 2, 204);
    // Without a converter for the code page the bytes fall back to Windows-1252.
    EXPECT_TRUE(russian == QString::fromUtf8("Аб") || russian == QString::fromUtf8("Àá")) << russian.toStdString();

    constexpr std::uint8_t kRoman = 0x10, kModern = 0x30, kFixedPitch = 1, kSwiss = 0x20;
    struct TFace {
        const char* face;
        std::uint8_t pitchAndFamily;
        const char* expected;
    } faces[] = {{"Arial", 0, "Liberation Sans"},           {"times new roman", 0, "Liberation Serif"},
                 {"Courier New", 0, "Liberation Mono"},      {"Unknown Face", kRoman, "Liberation Serif"},
                 {"Unknown Face", kModern, "Liberation Mono"}, {"Unknown Face", kFixedPitch | kSwiss, "Liberation Mono"},
                 {"", kSwiss, "Liberation Sans"},            {"DejaVu Sans", 0, "DejaVu Sans"}};
    const bool liberation = gdi::MapFontFace("Arial", 0) == "Liberation Sans";
    if (!liberation)
        GTEST_SKIP() << "Liberation fonts are not installed";
    for (const TFace& f : faces)
        EXPECT_EQ(gdi::MapFontFace(f.face, f.pitchAndFamily).toStdString(), f.expected) << f.face;
}

// ---- sizes and refusals ----------------------------------------------------------------

TEST(MetafileSize, RoundingAndLimits)
{
    struct TRow {
        std::int64_t a, b, c, expected;
    } rows[] = {{2540, 96, 2540, 96}, {-2540, 96, 2540, -96}, {1, 1, 2, 1}, {-1, 1, 2, -1},
                {10, 96, 1440, 1}, {7, 1, 0, 0}, {577, 96, 575, 96}};
    for (const TRow& r : rows)
        EXPECT_EQ(MulDivRound(r.a, r.b, r.c), r.expected) << r.a << "*" << r.b << "/" << r.c;

    struct TFrame {
        std::int32_t right, bottom;
        bool loads;
    } frames[] = {{2540, 2540, true}, {0, 2540, false}, {-2540, 2540, false},
                  {32767 * 2540 / 96, 100, true}, {32768 * 2540 / 96 + 20, 100, false},
                  {8193 * 2540 / 96, 8193 * 2540 / 96, false}};
    for (const TFrame& f : frames) {
        TMetafile metafile;
        const std::string message = test::MessageOf<EPGMetafile>(
            [&] { metafile.LoadFromBytes(TEmfBuilder().Bytes(f.right, f.bottom)); });
        EXPECT_EQ(message == "(nothing raised)", f.loads) << f.right << "x" << f.bottom << ": " << message;
    }
}

TEST(MetafileSize, HeadersThatAreRefused)
{
    const auto placeable = [](std::uint32_t key, std::uint16_t inch, std::uint16_t type) {
        TByteBuilder b;
        b.U32LE(key).U16LE(0).U16LE(0).U16LE(0).U16LE(96).U16LE(96).U16LE(inch).U32LE(0).U16LE(0);
        b.U16LE(type).U16LE(9).U16LE(0x300).U32LE(12).U16LE(0).U32LE(3).U16LE(0).U32LE(3).U16LE(0);
        return b.Data();
    };
    const auto plain = [] {
        TByteBuilder b;
        b.U16LE(1).U16LE(9).U16LE(0x300).U32LE(12).U16LE(0).U32LE(3).U16LE(0).U32LE(3).U16LE(0);
        return b.Data();
    };
    std::vector<std::uint8_t> badSignature = TEmfBuilder().Bytes();
    badSignature[40] ^= 0xFF;
    std::vector<std::uint8_t> noDevice = TEmfBuilder().Bytes();
    std::fill(noDevice.begin() + 72, noDevice.begin() + 80, 0);
    struct TRow {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool loads;
    } rows[] = {
        {"placeable", placeable(0x9AC6CDD7, 96, 1), true},
        {"placeable, Inch 0", placeable(0x9AC6CDD7, 0, 1), false},
        {"placeable, bad key", placeable(0x9AC6CDD8, 96, 1), false},
        {"placeable, bad metafile type", placeable(0x9AC6CDD7, 96, 3), false},
        {"without a placeable header", plain(), false},
        {"enhanced", TEmfBuilder().Bytes(), true},
        {"enhanced, bad signature", badSignature, false},
        {"enhanced, no reference device", noDevice, false},
        {"enhanced, cut in the header", {noDevice.begin(), noDevice.begin() + 60}, false},
        {"empty", {}, false},
    };
    for (const TRow& r : rows) {
        TMetafile metafile;
        const std::string message = test::MessageOf<EPGMetafile>([&] { metafile.LoadFromBytes(r.bytes); });
        EXPECT_EQ(message == "(nothing raised)", r.loads) << r.name << ": " << message;
        EXPECT_EQ(metafile.Empty(), !r.loads) << r.name;
    }
}

struct TSample {
    std::string name;
    int width = 0, height = 0;  // 0: no size, refused
};

// The samples and their sizes as listed in the suite's SOURCE.txt.
std::vector<TSample> Samples()
{
    std::vector<TSample> samples;
    std::ifstream list(test::TestSuitesDir() / "metafile" / "SOURCE.txt");
    std::string line;
    while (std::getline(list, line)) {
        // "name.emf   W x H   tool ..." or "name.wmf   -   ..."
        std::istringstream fields(line);
        std::string name, width, cross, height;
        fields >> name >> width;
        if (!name.ends_with(".wmf") && !name.ends_with(".emf"))
            continue;
        if (width == "-") {
            samples.push_back({name, 0, 0});
        } else if (fields >> cross >> height && cross == "x" && !width.empty() &&
                   width.find_first_not_of("0123456789") == std::string::npos &&
                   height.find_first_not_of("0123456789") == std::string::npos) {
            samples.push_back({name, std::stoi(width), std::stoi(height)});
        }
    }
    return samples;
}

int NonWhitePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & 0xFFFFFF) != kWhite;
    return count;
}

TEST(MetafileSamples, SizeRefusalAndPlayback)
{
    const std::vector<TSample> samples = Samples();
    if (samples.empty())
        RASTOVA_SKIP_WITHOUT_SUITES("metafile suite not present");
    EXPECT_EQ(samples.size(), 30u);
    // Pictures whose frame holds nothing drawn (no content, or all of it outside the
    // frame), and one whose content lies mostly above the frame.
    const std::set<std::string> blank = {"libemf2svg-test-030.emf", "pstoedit-text.emf"};
    const std::set<std::string> mostlyOutside = {"libemf2svg-EA-test-file-001.emf"};
    for (const TSample& s : samples) {
        SCOPED_TRACE(s.name);
        const auto path = test::TestSuitesDir() / "metafile" / s.name;
        TPixelGraphic bitmap;
        TMetafile metafile;
        if (s.width == 0) {
            EXPECT_NE(test::MessageOf<EPGMetafile>([&] { metafile.LoadFromFile(path.string()); }), "(nothing raised)");
            continue;
        }
        metafile.LoadFromFile(path.string());
        EXPECT_EQ(metafile.Width(), s.width);
        EXPECT_EQ(metafile.Height(), s.height);
        EXPECT_EQ(metafile.Kind(), s.name.ends_with(".emf") ? mkEnhanced : mkWindows);
        // Large pictures are checked on their top-left part only.
        QImage image(std::min(s.width, 1200), std::min(s.height, 1200), QImage::Format_RGB32);
        image.fill(Qt::white);
        metafile.Draw(image, 1, 1);
        const int drawn = NonWhitePixels(image);
        if (blank.count(s.name))
            EXPECT_EQ(drawn, 0);
        else if (mostlyOutside.count(s.name))
            EXPECT_GT(drawn, 0);
        else
            EXPECT_GT(drawn, image.width() * image.height() / 200) << "too little drawn";
    }
}

TEST(MetafileSamples, TruncatedCopiesFailOrDrawPartially)
{
    const std::vector<TSample> samples = Samples();
    if (samples.empty())
        RASTOVA_SKIP_WITHOUT_SUITES("metafile suite not present");
    for (const TSample& s : samples) {
        const std::vector<std::uint8_t> bytes = test::ReadAll(test::TestSuitesDir() / "metafile" / s.name);
        for (const std::size_t cut : {std::size_t(10), std::size_t(60), std::size_t(100), bytes.size() / 3,
                                      bytes.size() / 2, bytes.size() - 7}) {
            SCOPED_TRACE(s.name + " cut at " + std::to_string(cut));
            TMetafile metafile;
            try {
                metafile.LoadFromBytes({bytes.begin(), bytes.begin() + std::ptrdiff_t(std::min(cut, bytes.size()))});
            } catch (const EPGMetafile&) {
                continue;  // a header that does not survive the cut
            }
            ASSERT_GT(cut, 17u) << "a header this short cannot be complete";
            QImage image(std::min(metafile.Width(), 400), std::min(metafile.Height(), 400), QImage::Format_RGB32);
            image.fill(Qt::white);
            metafile.Draw(image, 1, 1);
        }
    }
}

// ---- the command line ------------------------------------------------------------------------

std::string RunConvert(const std::string& arguments, int& status)
{
    test::TTempDir dir;
    const std::string out = dir.File("out.txt");
    const int raw = std::system((std::string("'") + RASTOVA_CONVERT_EXE + "' " + arguments + " >'" + out + "' 2>&1").c_str());
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const auto bytes = test::ReadAll(out);
    return std::string(bytes.begin(), bytes.end());
}

TEST(MetafileCommandLine, InfoAndConversion)
{
    const auto dir = test::TestSuitesDir() / "metafile";
    if (!std::filesystem::exists(dir))
        RASTOVA_SKIP_WITHOUT_SUITES("metafile suite not present");
    int status = -1;
    const std::string info = RunConvert("--info '" + (dir / "pillow-drawing.emf").string() + "' '" +
                                            (dir / "libwmf-formula1.wmf").string() + "'",
                                        status);
    EXPECT_EQ(status, 0) << info;
    EXPECT_NE(info.find("pillow-drawing.emf: EMF, 110 x 110, vector, 1 frame, "), std::string::npos) << info;
    EXPECT_NE(info.find("libwmf-formula1.wmf: WMF, 222 x 41, vector, 1 frame, "), std::string::npos) << info;

    test::TTempDir out;
    const std::string log = RunConvert("-f png -y -o '" + out.Path().string() + "' '" +
                                           (dir / "pillow-drawing.wmf").string() + "' '" +
                                           (dir / "libwmf-p0000001.wmf").string() + "'",
                                       status);
    EXPECT_EQ(status, 1) << log;  // the non-placeable file is skipped
    QImage png(QString::fromStdString(out.File("pillow-drawing.png")));
    ASSERT_FALSE(png.isNull()) << log;
    EXPECT_EQ(png.size(), QSize(110, 110));
    EXPECT_EQ(png.pixel(0, 50) & 0xFFFFFF, kWhite);  // the left column keeps the background
    EXPECT_FALSE(std::filesystem::exists(out.File("libwmf-p0000001.png")));
}

// Metafiles played on the job's threads side by side give what one thread
// gives. Under ThreadSanitizer the converter reports any race it sees and
// exits with an error of its own, so this is the metafile batch of that run.
TEST(MetafileCommandLine, ParallelBatchWritesWhatOneThreadWrites)
{
    test::TTempDir dir;
    std::string files;
    int n = 0;
    for (const TPixelCase& c : PixelCases()) {
        if (c.bytes.size() > 65536)
            continue;  // the full object table is played elsewhere; here only the threads count
        const bool wmf = c.bytes[0] == 0xD7;
        const std::string name = dir.File("m" + std::to_string(n++) + (wmf ? ".wmf" : ".emf"));
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(c.bytes.data()),
                                                    std::streamsize(c.bytes.size()));
        files += " '" + name + "'";
    }
    std::map<std::string, std::vector<std::uint8_t>> outputs[2];
    for (const int jobs : {1, 4}) {
        int status = -1;
        const std::string folder = dir.File("out" + std::to_string(jobs));
        const std::string log = RunConvert("-f png -y -j " + std::to_string(jobs) + " -o '" + folder + "'" + files, status);
        ASSERT_EQ(status, 0) << log;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            outputs[jobs == 1 ? 0 : 1][entry.path().filename().string()] = test::ReadAll(entry.path());
    }
    EXPECT_EQ(int(outputs[0].size()), n);
    EXPECT_TRUE(outputs[0] == outputs[1]);
}

}  // namespace
}  // namespace rastova

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
