#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace rastova::test {

std::filesystem::path TestSuitesDir()
{
    const std::filesystem::path dir(RASTOVA_TESTSUITES_DIR);
    return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

bool TestSuitesRequired()
{
    const char* value = std::getenv("RASTOVA_REQUIRE_TESTSUITES");
    return value != nullptr && *value != '\0' && std::string(value) != "0";
}

TTempDir::TTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "rastova-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TTempDir::~TTempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void WriteAll(const std::filesystem::path& file, const std::string& text)
{
    std::ofstream out(file, std::ios::binary);
    out << text;
}

TByteBuilder& TByteBuilder::U8(std::uint32_t v)
{
    m_data.push_back(std::uint8_t(v));
    return *this;
}

TByteBuilder& TByteBuilder::U16LE(std::uint32_t v)
{
    return U8(v).U8(v >> 8);
}

TByteBuilder& TByteBuilder::U32LE(std::uint32_t v)
{
    return U8(v).U8(v >> 8).U8(v >> 16).U8(v >> 24);
}

TByteBuilder& TByteBuilder::U16BE(std::uint32_t v)
{
    return U8(v >> 8).U8(v);
}

TByteBuilder& TByteBuilder::U32BE(std::uint32_t v)
{
    return U8(v >> 24).U8(v >> 16).U8(v >> 8).U8(v);
}

TByteBuilder& TByteBuilder::Bytes(const std::vector<std::uint8_t>& bytes)
{
    m_data.insert(m_data.end(), bytes.begin(), bytes.end());
    return *this;
}

TByteBuilder& TByteBuilder::Text(const std::string& text)
{
    m_data.insert(m_data.end(), text.begin(), text.end());
    return *this;
}

TByteBuilder& TByteBuilder::Fill(std::size_t count, std::uint8_t value)
{
    m_data.insert(m_data.end(), count, value);
    return *this;
}

void FillRandom(TPixelGraphic& image, int width, int height, TBitCount bitCount, std::uint32_t seed)
{
    std::mt19937 random(seed);
    image.SetSize(width, height, bitCount);
    const int capacity = TPixelGraphic::PaletteCapacityOf(bitCount);
    if (capacity > 0) {
        image.SetPaletteCount(capacity);
        for (int i = 0; i < capacity; ++i)
            image.SetPaletteColor(i, random() & 0xFFFFFF);
    }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.SetPixel(x, y, std::uint32_t(random()) & (bitCount == bc24 ? 0xFFFFFFu : std::uint32_t(capacity - 1)));
}

bool SamePixels(const TPixelGraphic& a, const TPixelGraphic& b, std::string* why)
{
    const auto fail = [why](const std::string& text) {
        if (why)
            *why = text;
        return false;
    };
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return fail("sizes differ");
    if (a.BitCount() != b.BitCount())
        return fail("pixel formats differ");
    if (a.PaletteCount() != b.PaletteCount())
        return fail("palette sizes differ");
    for (int i = 0; i < a.PaletteCount(); ++i)
        if (a.PaletteColors()[i] != b.PaletteColors()[i])
            return fail("palette entry " + std::to_string(i) + " differs");
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (a.GetPixel(x, y) != b.GetPixel(x, y))
                return fail("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") differs");
    return true;
}

}  // namespace rastova::test

#include "image/PGExceptions.h"

#include <algorithm>
#include <sstream>

namespace rastova::test {

std::vector<TManifestRow> ManifestRows(const std::vector<std::string>& formats)
{
    std::vector<TManifestRow> rows;
    const std::filesystem::path dir = TestSuitesDir();
    if (dir.empty())
        return rows;
    std::ifstream in(dir / "MANIFEST.tsv");
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream fields(line);
        std::string cell;
        while (std::getline(fields, cell, '\t'))
            cells.push_back(cell);
        cells.resize(5);
        if (!formats.empty() && std::find(formats.begin(), formats.end(), cells[1]) == formats.end())
            continue;
        rows.push_back({cells[0], cells[1], cells[2], cells[3], cells[4]});
    }
    return rows;
}

std::string LoadLikeConverter(const std::filesystem::path& file, TPixelGraphic& image)
{
    image.SetReadWarningAction(pgwaIgnore);
    try {
        image.LoadFromFileIndex(file.string(), 0);
        return "";
    } catch (const EPixelGraphic& e) {
        return std::string(e.what()).empty() ? "(empty message)" : e.what();
    } catch (const std::exception& e) {
        return std::string("FOREIGN: ") + e.what();
    }
}

}  // namespace rastova::test

namespace rastova::test {

std::vector<std::uint32_t> RowValues(const TPixelGraphic& image, int y)
{
    std::vector<std::uint32_t> values;
    for (int x = 0; x < image.Width(); ++x)
        values.push_back(image.GetPixel(x, y));
    return values;
}

std::vector<std::uint32_t> PixelValues(const TPixelGraphic& image)
{
    std::vector<std::uint32_t> values;
    for (int y = 0; y < image.Height(); ++y) {
        const auto row = RowValues(image, y);
        values.insert(values.end(), row.begin(), row.end());
    }
    return values;
}

void TProgressLog::Attach(TPixelGraphic& image)
{
    image.SetOnProgressStart([this](TObject* sender) {
        events.push_back("start");
        ++starts;
        senders.push_back(sender);
    });
    image.SetOnProgressEnd([this](TObject* sender) {
        events.push_back("end");
        ++ends;
        senders.push_back(sender);
    });
    image.SetOnChange([this](TObject*) { events.push_back("changed"); });
    image.SetOnProgress([this](TObject* sender, int step, int max, bool& abort) {
        events.push_back(std::to_string(step) + "/" + std::to_string(max));
        steps.push_back(step);
        maxima.push_back(max);
        senders.push_back(sender);
        if (step == throwAt)
            throw EPixelGraphic("stop here");
        abort = step == abortAt;
    });
}

std::vector<std::string> TProgressLog::Expected(int count, int max, bool withEnd) const
{
    std::vector<std::string> expected{"start"};
    for (int k = 0; k < count; ++k)
        expected.push_back(std::to_string(k) + "/" + std::to_string(max));
    if (withEnd) {
        expected.push_back("end");
        expected.push_back("changed");
    }
    return expected;
}

}  // namespace rastova::test
