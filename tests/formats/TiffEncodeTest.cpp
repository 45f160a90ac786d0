// The TIFF writer's strip encoders against the reader's decoders: every byte
// pattern that stresses a coder comes back as it went in.
#include "formats/TiffDecode.h"
#include "formats/TiffEncode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace rastova;
using namespace rastova::tiff;

namespace {

std::vector<std::uint8_t> DecodeAll(TStripDecoder& decoder, std::size_t expected)
{
    std::vector<std::uint8_t> out(expected + 16);
    std::size_t done = 0;
    // Small pieces, as the reader asks for rows.
    while (done < out.size()) {
        const std::size_t got = decoder.Read(out.data() + done, std::min<std::size_t>(97, out.size() - done));
        if (got == 0)
            break;
        done += got;
    }
    out.resize(done);
    return out;
}

struct TPattern {
    const char* name;
    std::vector<std::uint8_t> bytes;
};

std::vector<TPattern> Patterns()
{
    std::mt19937 random(25);
    std::vector<std::uint8_t> noise(70000), ramp(5000), words;
    for (auto& b : noise)
        b = std::uint8_t(random());
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = std::uint8_t(i);
    // Few distinct bytes in many combinations: the table fills slowly through every width.
    for (int i = 0; i < 40000; ++i)
        words.push_back(std::uint8_t("abcab"[random() % 5]));
    return {{"empty", {}},
            {"one byte", {42}},
            {"two equal", {7, 7}},
            {"run of 100000", std::vector<std::uint8_t>(100000, 0xA5)},
            {"ramp", ramp},
            {"noise, several table resets", noise},
            {"five letters", words}};
}

}  // namespace

TEST(TiffEncode, LzwAndDeflateComeBackThroughTheReadersDecoders)
{
    for (const TPattern& p : Patterns()) {
        const std::vector<std::uint8_t> lzw = LzwEncode(p.bytes.data(), p.bytes.size());
        // A ClearCode first, highest bit first: the reader must not take it for the old variant.
        ASSERT_GE(lzw.size(), 2u) << p.name;
        EXPECT_EQ(lzw[0], 0x80) << p.name;
        TLzwDecoder lzwDecoder(lzw.data(), lzw.size());
        EXPECT_EQ(DecodeAll(lzwDecoder, p.bytes.size()), p.bytes) << p.name;
        for (const int level : {-1, 0, 1, 9}) {
            const std::vector<std::uint8_t> deflated = DeflateEncode(p.bytes.data(), p.bytes.size(), level);
            TInflateDecoder inflater(deflated.data(), deflated.size());
            EXPECT_EQ(DecodeAll(inflater, p.bytes.size()), p.bytes) << p.name << " level " << level;
        }
    }
    // Runs shrink; noise may grow, but by little.
    const std::vector<std::uint8_t> run(100000, 1), noise = Patterns()[5].bytes;
    EXPECT_LT(LzwEncode(run.data(), run.size()).size(), 1000u);
    EXPECT_LT(LzwEncode(noise.data(), noise.size()).size(), noise.size() * 3 / 2);
}

TEST(TiffEncode, HorizontalPredictorIsUndoneByTheReader)
{
    for (const int samples : {1, 3, 4}) {
        std::vector<std::uint8_t> row;
        for (int i = 0; i < 13 * samples; ++i)
            row.push_back(std::uint8_t(i * 37 + 250));
        std::vector<std::uint8_t> coded = row;
        ApplyHorizontalPredictor(coded.data(), coded.size(), samples);
        // The first pixel stays; the others are differences.
        EXPECT_TRUE(std::equal(row.begin(), row.begin() + samples, coded.begin())) << samples;
        EXPECT_EQ(coded[std::size_t(samples)], std::uint8_t(row[std::size_t(samples)] - row[0])) << samples;
        UndoHorizontalPredictor(coded.data(), 13, samples, 8, false);
        EXPECT_EQ(coded, row) << samples;
    }
}
