// rastova-convert as a user runs it: exit codes, messages and the files written.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include "image/PGraphic.h"

#include <cstdlib>
#include <map>
#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace rastova;

namespace {

struct TRun {
    int status = -1;
    std::string out, err;
};

class ConvertCliTest : public ::testing::Test {
protected:
    test::TTempDir dir;

    TRun Convert(const std::string& arguments)
    {
        const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
        const std::string command = std::string("'") + RASTOVA_CONVERT_EXE + "' " + arguments + " >'" + out +
                                    "' 2>'" + err + "' </dev/null";
        const int raw = std::system(command.c_str());
        TRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const auto text = [](const std::string& file) {
            const auto bytes = test::ReadAll(file);
            return std::string(bytes.begin(), bytes.end());
        };
        run.out = text(out);
        run.err = text(err);
        return run;
    }
    std::string Source(const std::string& name, const std::string& content)
    {
        test::WriteAll(dir.File(name), content);
        return "'" + dir.File(name) + "'";
    }
};

const std::string kPpm = "P3\n2 2\n255\n1 2 3 4 5 6\n7 8 9 10 11 12\n";

}  // namespace

TEST_F(ConvertCliTest, UsageErrorsExitWithTwo)
{
    for (const std::string& arguments :
         {std::string("-f gif -o out a.ppm"), std::string("-c 8 -o out a.ppm"), std::string("-q 3 -o out a.ppm"),
          std::string("-o out"), std::string("a.ppm"), std::string("--bogus"), std::string("-r 90 -o out a.ppm")}) {
        const TRun run = Convert(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_FALSE(run.err.empty()) << arguments;
    }
    EXPECT_EQ(Convert("--help").status, 0);
    const TRun version = Convert("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("rastova-convert"), std::string::npos);
}

TEST_F(ConvertCliTest, SameFormatConversionKeepsEveryPixel)
{
    const TRun run = Convert("-y -f ppm -o '" + dir.File("out") + "/' " + Source("Photo.PPM", kPpm));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("The conversion is complete!"), std::string::npos);
    const auto bytes = test::ReadAll(dir.File("out/photo.ppm"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "P3\n2 2\n255\n1 2 3 4 5 6\n7 8 9 10 11 12\n");

    // P1 and P2 to the same format, written as text.
    EXPECT_EQ(Convert("-f pbm -c 2 -o '" + dir.File("out") + "' " + Source("b.pbm", "P4 9 1\n\xAA\x80")).status, 0);
    const auto pbm = test::ReadAll(dir.File("out/b.pbm"));
    EXPECT_EQ(std::string(pbm.begin(), pbm.end()), "P1\n9 1\n1 0 1 0 1 0 1 0 1\n");
}

TEST_F(ConvertCliTest, FailuresAreReportedPerFileAndExitWithOne)
{
    const TRun run = Convert("-f ppm -o '" + dir.Path().string() + "' " + Source("good.ppm", kPpm) + " " +
                             Source("bad.ppm", "P3 1") + " '" + dir.File("missing.ppm") + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("bad.ppm: cannot load: PBM, PGM, PPM: Unexpected end of file"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("missing.ppm: cannot load:"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("good.ppm"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.File("good.ppm")));
}

TEST_F(ConvertCliTest, MissingDestinationNeedsConsent)
{
    const std::string source = Source("a.ppm", kPpm);
    const TRun refused = Convert("-f ppm -o '" + dir.File("new") + "' " + source);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("does not exist"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.File("new")));
    EXPECT_EQ(Convert("-y -f ppm -o '" + dir.File("new") + "' " + source).status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir.File("new/a.ppm")));
}

TEST_F(ConvertCliTest, InfoDescribesFiles)
{
    const TRun run = Convert("--info " + Source("a.pgm", "P5 7 3 255\n" + std::string(21, 'x')) + " " +
                             Source("b.xyz", "nothing"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("a.pgm: File info: Portable Graymap, Binary, 7x3 pixeles, colors: 256\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("b.xyz:  The subformat is not supported!   \n"), std::string::npos) << run.out;
}

TEST_F(ConvertCliTest, EverySourceFormatConvertsToEveryWriter)
{
    // One loadable suite file of each reader's format, plus files of our own writers.
    std::map<std::string, std::string> sources;
    for (const auto& row : test::ManifestRows({"bmp", "tga", "pcx", "tiff", "jpeg", "png", "gif", "ico", "pbm", "pgm", "ppm"}))
        if (row.expectation == "loads" && !sources.count(row.format) &&
            std::filesystem::file_size(test::TestSuitesDir() / row.path) < 200000)
            sources[row.format] = (test::TestSuitesDir() / row.path).string();
    if (sources.size() < 11)
        GTEST_SKIP() << "the third-party suites are not beside the project";

    std::string files;
    for (const auto& [format, path] : sources) {
        // Distinct base names, so the outputs of one run do not overwrite each other.
        const std::string copy = dir.File("src-" + format + std::filesystem::path(path).extension().string());
        std::filesystem::copy_file(path, copy);
        files += " '" + copy + "'";
    }
    for (const std::string format : {"bmp", "jpg", "pbm", "pgm", "png", "ppm", "tga", "tif"}) {
        for (const std::string colors : {"true", "256", "2"}) {
            const std::string out = dir.File("out-" + format + "-" + colors);
            const TRun run = Convert("-y -q 75 -f " + format + " -c " + colors + " -o '" + out + "'" + files);
            EXPECT_EQ(run.status, 0) << format << " " << colors << ": " << run.err;
            for (const auto& [source, path] : sources) {
                const std::string written = out + "/src-" + source + "." + format;
                TPixelGraphic back;
                EXPECT_NO_THROW(back.LoadFromFile(written)) << written;
                EXPECT_GT(back.Width(), 0) << written;
            }
        }
    }
}

TEST_F(ConvertCliTest, CtrlCStopsAfterTheStepInHand)
{
    // The second source is a FIFO: the converter blocks opening it, which gives
    // the test a fixed moment to press Ctrl-C.
    const std::string first = dir.File("a.ppm"), fifo = dir.File("b.ppm"), last = dir.File("c.ppm");
    test::WriteAll(first, kPpm);
    test::WriteAll(last, kPpm);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = dir.File("out"), log = dir.File("log.txt");

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        freopen(log.c_str(), "w", stdout);
        execl(RASTOVA_CONVERT_EXE, RASTOVA_CONVERT_EXE, "-y", "-f", "pgm", "-o", out.c_str(), first.c_str(),
              fifo.c_str(), last.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 1000 && !std::filesystem::exists(out + "/a.pgm"); ++i)
        usleep(10000);
    ASSERT_TRUE(std::filesystem::exists(out + "/a.pgm"));
    kill(child, SIGINT);
    usleep(50000);
    {
        std::ofstream writer(fifo, std::ios::binary);  // releases the blocked open
        writer << kPpm;
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_FALSE(std::filesystem::exists(out + "/c.pgm"));
    const auto bytes = test::ReadAll(log);
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("The conversion was interrupted by user."),
              std::string::npos);
}
