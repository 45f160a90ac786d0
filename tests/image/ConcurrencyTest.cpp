// Many threads loading, converting and saving at once must write exactly what
// one thread writes alone. Run under ThreadSanitizer in CI.
#include "image/PGMessages.h"
#include "image/PGraphic.h"
#include "image/Streams.h"
#include "support/TestSupport.h"

#include "formats/Jpeg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace rastova;

namespace {

enum TOperation { opNone, opMirror, opRotate, opPalette16, opGray };

struct TJob {
    std::string source;
    std::string extension;  // every writer's extension appears
    TPGSettings settings;
    TOperation operation;
};

// Load, change and save one image; returns the bytes written to the file,
// after checking that a stream save gives the same bytes.
std::vector<std::uint8_t> RunJob(const TJob& job, const std::string& outputFile, std::string& problem)
{
    TPixelGraphic image;
    image.SetSaveColorResWarningAction(pgwaIgnore);
    image.LoadFromFile(job.source, job.settings);
    TPixelGraphic other;
    switch (job.operation) {
    case opMirror: image.MirrorHorizontal(); break;
    case opRotate:
        other.SetSize(image.Height(), image.Width(), bc24);
        other.Rotate(image, 0, 0, image.Width(), image.Height(), image.Width() / 2, image.Height() / 2,
                     image.Height() / 2, image.Width() / 2, 90);
        image.Assign(&other);
        break;
    case opPalette16:
        other.SetSize(image.Width(), image.Height(), bc4);
        other.CreateOptimalPalette(image, 16, false);
        other.CopyFrom(image);
        image.Assign(&other);
        break;
    case opGray:
        other.SetSize(image.Width(), image.Height(), bc8);
        other.SetPaletteIdent(pGray256);
        other.CopyFrom(image);
        image.Assign(&other);
        break;
    case opNone: break;
    }
    TMemoryStream stream;
    image.SaveToStreamExt(stream, job.extension, job.settings);
    image.SaveToFile(outputFile, job.settings);
    std::vector<std::uint8_t> bytes = test::ReadAll(outputFile);
    if (bytes != stream.Data())
        problem = job.source + " as " + job.extension + ": file and stream differ";
    return bytes;
}

}  // namespace

TEST(ConcurrencyTest, ThreadsWriteWhatOneThreadWrites)
{
    test::TTempDir dir;
    // Sources in several readers' formats and pixel formats.
    std::vector<std::string> sources;
    const std::pair<TBitCount, const char*> kinds[] = {{bc24, "bmp"}, {bc8, "png"}, {bc4, "tif"},
                                                       {bc1, "pbm"}, {bc24, "tga"}, {bc24, "jpg"}};
    for (std::size_t i = 0; i < std::size(kinds); ++i) {
        TPixelGraphic image;
        test::FillRandom(image, 61 + int(i) * 9, 43 + int(i) * 5, kinds[i].first, std::uint32_t(i) + 7);
        image.SetSaveColorResWarningAction(pgwaIgnore);
        sources.push_back(dir.File("source" + std::to_string(i) + "." + kinds[i].second));
        image.SaveToFile(sources.back());
    }
    // Per-job settings that differ from the defaults, so a writer reading the
    // process-wide values instead of its own would show.
    const auto tuned = [](int variant) {
        TPGSettings s = DefaultSettings();
        s.JPEGQuality = 30 + 20 * variant;
        s.JPEGProgressive = variant == 2;
        s.TIFFWriteMotorola = variant % 2 == 1;
        s.TIFFWriteCompression = variant == 2 ? twcPackBits : twcNone;
        s.TIFFWriteCMYK = variant == 1;
        s.PxMWriteBinary = variant != 0;
        s.PNGWriteGamma = variant != 1;
        s.DisplayGamma = variant == 2 ? 2.2L : 1.8L;
        return s;
    };
    const char* const kWriters[] = {"bmp", "dib", "jpg", "jpeg", "jif", "png", "pbm",
                                    "pgm", "ppm", "tga", "tif", "tiff"};
    std::vector<TJob> jobs;
    for (std::size_t w = 0; w < std::size(kWriters); ++w)
        for (std::size_t s = 0; s < sources.size(); s += 2)
            jobs.push_back({sources[(s + w) % sources.size()], kWriters[w], tuned(int((w + s) % 3)),
                            TOperation((w + s) % 5)});

    std::vector<std::vector<std::uint8_t>> expected;
    std::string problem;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        expected.push_back(RunJob(jobs[j], dir.File("alone" + std::to_string(j) + "." + jobs[j].extension), problem));
        ASSERT_FALSE(expected.back().empty());
    }
    ASSERT_EQ(problem, "");

    constexpr int kThreads = 4;
    std::atomic<int> mismatches{0};
    std::vector<std::string> problems(kThreads);
    std::atomic<bool> done{false};
    // A host changing a default meanwhile must not reach jobs that carry their own.
    std::thread meddler([&done] {
        for (int q = 5; !done; q = q % 95 + 5)
            JPEGQuality = q;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < jobs.size(); ++k) {
                const std::size_t j = (k * 7 + std::size_t(t) * 5) % jobs.size();
                const std::string name = "t" + std::to_string(t) + "_" + std::to_string(j) + "." + jobs[j].extension;
                try {
                    if (RunJob(jobs[j], dir.File(name), problems[std::size_t(t)]) != expected[j])
                        ++mismatches;
                } catch (const std::exception& e) {
                    problems[std::size_t(t)] = e.what();
                    ++mismatches;
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    done = true;
    meddler.join();
    JPEGQuality = 80;
    EXPECT_EQ(mismatches, 0);
    for (const std::string& p : problems)
        EXPECT_EQ(p, "");
}

TEST(ConcurrencyTest, ALanguageChosenBeforeTheFirstLoadStays)
{
    // Each test runs in a process of its own under ctest, so this may be the
    // library's first load.
    LanguageIndex = 1;
    TPixelGraphic image;
    TMemoryStream empty;
    std::string message;
    try {
        image.LoadFromStream(empty);
    } catch (const std::exception& e) {
        message = e.what();
    }
    const std::uint8_t language = LanguageIndex;
    LanguageIndex = 0;
    EXPECT_EQ(language, 1);
    EXPECT_NE(message, "");
    EXPECT_NE(message, MessageText(kMsgUnknownFileFormat));  // English would be the same text
}
