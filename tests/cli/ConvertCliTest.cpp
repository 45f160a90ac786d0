// rastova-convert as a user runs it: exit codes, messages and the files written.
#include "formats/GifTestEncoder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include "formats/Bmp.h"
#include "formats/Jpeg.h"
#include "formats/PngTestEncoder.h"
#include "formats/TiffFileBuilder.h"
#include "image/PGraphic.h"
#include "support/ExifBuilder.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef RASTOVA_HAVE_LIBTIFF
#include <tiffio.h>
#endif

using namespace rastova;

namespace {

struct TRun {
    int status = -1;
    std::string out, err;
};

class ConvertCliTest : public ::testing::Test {
protected:
    test::TTempDir dir;

    // standardOutput: where standard output goes instead of the captured file.
    TRun Convert(const std::string& arguments, const std::string& input = "", const std::string& standardOutput = "")
    {
        const std::string captured = dir.File("stdout.txt"), err = dir.File("stderr.txt"), in = dir.File("stdin.txt");
        const std::string out = standardOutput.empty() ? captured : standardOutput;
        std::filesystem::remove(captured);
        test::WriteAll(in, input);
        const std::string command = std::string("'") + RASTOVA_CONVERT_EXE + "' " + arguments + " >'" + out +
                                    "' 2>'" + err + "' <'" + in + "'";
        const int raw = std::system(command.c_str());
        TRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const auto text = [](const std::string& file) {
            const auto bytes = test::ReadAll(file);
            return std::string(bytes.begin(), bytes.end());
        };
        run.out = std::filesystem::exists(captured) ? text(captured) : "";
        run.err = text(err);
        return run;
    }
    std::string Source(const std::string& name, const std::string& content)
    {
        test::WriteAll(dir.File(name), content);
        return "'" + dir.File(name) + "'";
    }
    // A random image saved under the name (format by extension), quoted for the shell.
    std::string Image(const std::string& name, int width, int height, std::uint32_t seed)
    {
        TPixelGraphic image;
        test::FillRandom(image, width, height, bc24, seed);
        std::filesystem::create_directories(std::filesystem::path(dir.File(name)).parent_path());
        image.SaveToFile(dir.File(name));
        return "'" + dir.File(name) + "'";
    }
    std::string Out(const std::string& name = "") const { return "'" + dir.File("out/" + name) + "'"; }
    // Every file under the folder with its bytes, by relative path.
    std::map<std::string, std::vector<std::uint8_t>> Tree(const std::string& folder) const
    {
        std::map<std::string, std::vector<std::uint8_t>> files;
        const std::filesystem::path root = dir.File(folder);
        if (std::filesystem::exists(root))
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
                if (entry.is_regular_file())
                    files[std::filesystem::relative(entry.path(), root).string()] = test::ReadAll(entry.path());
        return files;
    }
    std::set<std::string> Names(const std::string& folder) const
    {
        std::set<std::string> names;
        for (const auto& [name, bytes] : Tree(folder))
            names.insert(name);
        return names;
    }
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

const std::string kPpm = "P3\n2 2\n255\n1 2 3 4 5 6\n7 8 9 10 11 12\n";

}  // namespace

TEST_F(ConvertCliTest, UsageErrorsExitWithTwo)
{
    for (const std::string& arguments :
         {std::string("-f gif -o out a.ppm"), std::string("-c 1 -o out a.ppm"), std::string("-q 0 -o out a.ppm"),
          std::string("-c 257 -o out a.ppm"), std::string("-q 101 -o out a.ppm"), std::string("-c 0x10 -o out a.ppm"),
          std::string("-f heic --lossless -o out a.ppm"),
          std::string("-o out"), std::string("a.ppm"), std::string("--bogus"), std::string("-r 90 -o out a.ppm"),
          std::string(""), std::string("-j 0 -o out a.ppm"), std::string("--fit 10 -o out a.ppm"),
          std::string("--fit 0x5 -o out a.ppm"), std::string("--existing keep -o out a.ppm"),
          std::string("--background nocolour -o out a.ppm")}) {
        const TRun run = Convert(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_FALSE(run.err.empty()) << arguments;
        EXPECT_TRUE(run.out.empty()) << arguments;
    }
    const TRun help = Convert("--help");
    EXPECT_EQ(help.status, 0);
    // Every option shows its default, and the readable formats are named.
    for (const std::string option : {"--jobs", "--existing", "--fit", "--auto-orient", "--background", "--binary",
                                     "--strict", "--quiet", "--verbose", "--max-pixels", "--keep-case", "-R", "-0",
                                     "--resize", "--compress", "--compress-level", "--progressive", "--sampling",
                                     "--shard"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    for (const std::string format : {"gif", "ico", "pcx", "tiff", "jpeg", "wmf", "emf"})
        EXPECT_NE(help.out.find(format), std::string::npos) << format;
    EXPECT_NE(help.out.find("Quality 1..100 of every lossy target: jpg, webp, heic, avif, jxl"), std::string::npos);
    EXPECT_NE(help.out.find("webp 75 (as cwebp)"), std::string::npos);
    EXPECT_NE(help.out.find("--lossless"), std::string::npos);
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
    const TRun run = Convert("--existing overwrite -f ppm -o '" + dir.Path().string() + "' " + Source("good.ppm", kPpm) + " " +
                             Source("bad.ppm", "P3 1") + " '" + dir.File("missing.ppm") + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("bad.ppm: cannot load: PBM, PGM, PPM: Unexpected end of file"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("missing.ppm: does not exist"), std::string::npos) << run.err;
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

TEST_F(ConvertCliTest, InfoDescribesFilesInPlainWords)
{
    const std::string pgm = Source("a.pgm", "P5 7 3 255\n" + std::string(21, 'x'));
    const std::string bad = Source("b.xyz", "nothing");
    TPixelGraphic photo;
    photo.SetSize(768, 512, bc24);
    photo.SaveToFile(dir.File("photo.png"));
    const auto bytes = std::filesystem::file_size(dir.File("photo.png"));
    ASSERT_GE(bytes, 1024u);
    const struct {
        std::string files;
        int status;
        std::string out, err;  // expected lines; "" for a stream that stays empty
    } cases[] = {
        {pgm, 0, dir.File("a.pgm") + ": PGM, 7 x 3, 8-bit, 256 colours, 1 frame, 32 bytes\n", ""},
        {"'" + dir.File("photo.png") + "'", 0,
         dir.File("photo.png") + ": PNG, 768 x 512, 24-bit RGB, 1 frame, " + std::to_string((bytes + 512) / 1024) +
             " KB\n",
         ""},
        {bad, 1, "", "rastova-convert: " + dir.File("b.xyz") + ": not an image file that can be read\n"},
        {pgm + " " + bad, 1, dir.File("a.pgm") + ": PGM, 7 x 3", dir.File("b.xyz") + ": not an image"},
        {Source("broken.wmf", "not a metafile"), 1, "", dir.File("broken.wmf") + ": not an image file that can be read"},
    };
    for (const auto& c : cases) {
        const TRun run = Convert("--info " + c.files);
        EXPECT_EQ(run.status, c.status) << c.files;
        EXPECT_EQ(c.out.empty() ? run.out.empty() : Contains(run.out, c.out), true) << c.files << ": " << run.out;
        EXPECT_EQ(c.err.empty() ? run.err.empty() : Contains(run.err, c.err), true) << c.files << ": " << run.err;
    }
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
        RASTOVA_SKIP_WITHOUT_SUITES("the third-party suites are not beside the project");

    std::string files;
    for (const auto& [format, path] : sources) {
        // Distinct base names, so the outputs of one run do not overwrite each other.
        const std::string copy = dir.File("src-" + format + std::filesystem::path(path).extension().string());
        std::filesystem::copy_file(path, copy);
        files += " '" + copy + "'";
    }
    for (const std::string format : {"bmp", "jpg", "pbm", "pgm", "png", "ppm", "tga", "tif", "webp", "avif", "heic", "jxl"}) {
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
        execl(RASTOVA_CONVERT_EXE, RASTOVA_CONVERT_EXE, "-j", "1", "-y", "-f", "pgm", "-o", out.c_str(), first.c_str(),
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
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_FALSE(std::filesystem::exists(out + "/c.pgm"));
    const auto bytes = test::ReadAll(log);
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("The conversion was interrupted by user."),
              std::string::npos);
}

TEST_F(ConvertCliTest, ExitStatusesAndWhereMessagesGo)
{
    const std::string good = Image("good.ppm", 3, 2, 1);
    test::WriteAll(dir.File("empty.png"), std::string());
    std::filesystem::create_directories(dir.File("folder"));
    test::WriteAll(dir.File("file.txt"), std::string("x"));
    const struct {
        std::string arguments;
        int status;
        std::string out, err;  // expected parts; "" for a stream that must stay empty
    } cases[] = {
        {"-o " + Out() + " -y " + good, 0, "1 converted, 0 skipped, 0 failed", ""},
        {"--quiet -o " + Out() + " -y " + good, 0, "", ""},
        {"-o " + Out() + " -y " + good + " " + Source("bad.ppm", "P3 1"), 1, "1 converted, 0 skipped, 1 failed",
         "rastova-convert: " + dir.File("bad.ppm") + ": cannot load: "},
        {"-o " + Out() + " -y '" + dir.File("folder") + "'", 1, "0 converted, 0 skipped, 1 failed",
         dir.File("folder") + ": is a folder; use -R"},
        {"-o " + Out() + " -y '" + dir.File("empty.png") + "'", 1, "", "empty.png: is empty"},
        {"-o " + Out() + " -y '" + dir.File("none.png") + "'", 1, "", "none.png: does not exist"},
        {"-o '" + dir.File("file.txt") + "' " + good, 1, "", "file.txt: is not a folder"},
        {"-o '" + dir.File("a/b/c") + "' " + good, 1, "", "does not exist. Create? No (use -y to create it)"},
        {"--info '" + dir.File("none.png") + "'", 1, "", "none.png: does not exist"},
        {"-o " + Out(), 2, "", "no files given"},
        {"-y -o '" + dir.File("new/deeper") + "' " + good, 0, "1 converted", ""},
    };
    for (const auto& c : cases) {
        const TRun run = Convert(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.err;
        if (c.out.empty())
            EXPECT_TRUE(run.out.empty() || c.status == 1) << c.arguments << ": " << run.out;
        else
            EXPECT_TRUE(Contains(run.out, c.out)) << c.arguments << ": " << run.out;
        if (c.err.empty())
            EXPECT_TRUE(run.err.empty()) << c.arguments << ": " << run.err;
        else
            EXPECT_TRUE(Contains(run.err, c.err)) << c.arguments << ": " << run.err;
        // Nothing of the report goes to the wrong stream.
        EXPECT_FALSE(Contains(run.err, "converted,")) << c.arguments;
        EXPECT_FALSE(Contains(run.out, "rastova-convert:")) << c.arguments;
    }
    // A long run lists its failed files again at the end; a short one does not.
    std::string nineteen;
    for (int i = 0; i < 19; ++i)
        nineteen += " " + Image("many/" + std::to_string(i) + ".ppm", 2, 2, std::uint32_t(i));
    const std::string bad = " '" + dir.File("bad.ppm") + "'";
    for (const auto& [files, listed] : {std::make_pair(nineteen + bad, false), std::make_pair(nineteen + " " + good + bad, true)}) {
        const TRun run = Convert("-o " + Out() + files);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(Contains(run.err, "failed files:\n  " + dir.File("bad.ppm") + ": cannot load: "), listed) << run.err;
    }
    // A folder that cannot be made names the system's reason.
    const TRun blocked = Convert("-y -o '" + dir.File("file.txt/sub") + "' " + good);
    EXPECT_EQ(blocked.status, 1);
    EXPECT_TRUE(Contains(blocked.err, "Can not create directory " + dir.File("file.txt/sub") + ": ")) << blocked.err;
}

TEST_F(ConvertCliTest, ParallelRunsWriteWhatTheSequentialRunWrites)
{
    std::string files;
    for (int i = 0; i < 7; ++i)
        files += " " + Image("src/p" + std::to_string(i) + (i % 2 ? ".bmp" : ".png"), 19 + 7 * i, 11 + 5 * i, i);
    for (const std::string options :
         {"-f png -c 256", "-f bmp -c 16 -m horizontal", "-f tif -c gray -r left", "-f jpg -q 70 --fit 20x20",
          "-f ppm --binary -c 2 -r 180", "-f png -c 256 --quantizer best", "-f bmp -c 16 --quantizer best"}) {
        const TRun one = Convert(options + " -j 1 -o '" + dir.File("one") + "' -y" + files);
        const TRun two = Convert(options + " -j 2 -o '" + dir.File("two") + "' -y" + files);
        EXPECT_EQ(one.status, 0) << one.err;
        EXPECT_EQ(two.status, 0) << two.err;
        EXPECT_EQ(Tree("one").size(), 7u) << options;
        EXPECT_TRUE(Tree("one") == Tree("two")) << options;
        std::filesystem::remove_all(dir.File("one"));
        std::filesystem::remove_all(dir.File("two"));
    }
}

TEST_F(ConvertCliTest, ExistingFilesAreOverwrittenSkippedOrRenamedAlike)
{
    // a.ppm and a.png both become a.bmp; out/a.bmp is there before the run.
    const std::string files = " " + Image("a.ppm", 4, 3, 1) + " " + Image("a.png", 5, 3, 2) + " " +
                              Image("b.ppm", 6, 3, 3);
    const std::vector<std::uint8_t> before = {'o', 'l', 'd'};
    const struct {
        std::string policy;
        int status;
        std::set<std::string> names;
        bool oldKept;
        std::string summary;
    } cases[] = {
        {"skip", 0, {"a.bmp", "b.bmp"}, true, "1 converted, 2 skipped, 0 failed"},
        {"rename", 0, {"a.bmp", "a-1.bmp", "a-2.bmp", "b.bmp"}, true, "3 converted, 0 skipped, 0 failed"},
        {"overwrite", 1, {"a.bmp", "b.bmp"}, false, "2 converted, 0 skipped, 1 failed"},
    };
    for (const auto& c : cases)
        for (const std::string jobs : {"1", "3"}) {
            std::filesystem::remove_all(dir.File("out"));
            std::filesystem::create_directories(dir.File("out"));
            test::WriteAll(dir.File("out/a.bmp"), before);
            const TRun run = Convert("--existing " + c.policy + " -j " + jobs + " -o " + Out() + files);
            EXPECT_EQ(run.status, c.status) << c.policy << " -j " << jobs << ": " << run.err;
            EXPECT_EQ(Names("out"), c.names) << c.policy << " -j " << jobs;
            EXPECT_EQ(test::ReadAll(dir.File("out/a.bmp")) == before, c.oldKept) << c.policy;
            EXPECT_TRUE(Contains(run.out, c.summary)) << c.policy << ": " << run.out;
            if (c.policy == "rename") {
                // The names follow the list order, whichever item ends first.
                TPixelGraphic first, second;
                first.LoadFromFile(dir.File("out/a-1.bmp"));
                second.LoadFromFile(dir.File("out/a-2.bmp"));
                EXPECT_EQ(first.Width(), 4);
                EXPECT_EQ(second.Width(), 5);
            }
        }
}

// Two converters started together into one folder, each with its own pictures
// under the same names: both plan before either writes, so only placing each
// file without replacing what appeared since keeps every output.
TEST_F(ConvertCliTest, TwoConvertersIntoOneFolderReplaceNothing)
{
    constexpr int kCount = 40;
    std::string files[2];
    for (int side = 0; side < 2; ++side)
        for (int i = 0; i < kCount; ++i)
            files[side] += " " + Image("src" + std::to_string(side) + "/p" + std::to_string(i) + ".ppm", 48, 32,
                                       std::uint32_t(100 * side + i));
    for (const std::string policy : {"rename", "skip"}) {
        std::filesystem::remove_all(dir.File("out"));
        std::filesystem::create_directories(dir.File("out"));
        std::string both = "(";
        for (int side = 0; side < 2; ++side)
            both += "'" + std::string(RASTOVA_CONVERT_EXE) + "' --existing " + policy + " -j 2 -o " + Out() +
                    files[side] + " >'" + dir.File("run" + std::to_string(side) + ".txt") + "' 2>&1 & ";
        ASSERT_EQ(std::system((both + "wait)").c_str()), 0);
        const auto written = Tree("out");
        int converted = 0;
        for (int side = 0; side < 2; ++side) {
            const auto log = test::ReadAll(dir.File("run" + std::to_string(side) + ".txt"));
            const std::string text(log.begin(), log.end());
            const std::size_t at = text.rfind(" converted, ");
            ASSERT_NE(at, std::string::npos) << text;
            converted += std::stoi(text.substr(text.rfind('\n', at) + 1));
        }
        // Every file written is still there: as many files as conversions, and
        // under rename all of them, under skip one per name.
        EXPECT_EQ(int(written.size()), converted) << policy;
        EXPECT_EQ(int(written.size()), policy == "rename" ? 2 * kCount : kCount) << policy;
        std::set<std::vector<std::uint8_t>> distinct;
        for (const auto& [name, bytes] : written)
            distinct.insert(bytes);
        EXPECT_EQ(distinct.size(), written.size()) << policy;
    }
}

// An item either succeeds and writes, or fails and writes nothing: here the
// fit step cannot have the memory of its enlarged picture.
TEST_F(ConvertCliTest, AFailedStepWritesNothing)
{
    const std::string source = Image("big.ppm", 4, 2, 7);
    for (const std::string options : {"--fit 40000x20000!", "-c 256 --fit 40000x20000!"}) {
        std::filesystem::remove_all(dir.File("out"));
        const TRun run = Convert(options + " -o " + Out() + " -y " + source);
        EXPECT_EQ(run.status, 1) << options << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, "CreateDIBSection")) << run.err;
        EXPECT_TRUE(Names("out").empty()) << options;
    }
}

TEST_F(ConvertCliTest, NamesKeepTheirCaseOnlyWhenAsked)
{
    const std::string files = " " + Image("Photo.PPM", 3, 3, 1) + " " + Image("photo.png", 4, 4, 2);
    EXPECT_EQ(Convert("--keep-case -o " + Out() + " -y" + files).status, 0);
    EXPECT_EQ(Names("out"), (std::set<std::string>{"Photo.bmp", "photo.bmp"}));
    std::filesystem::remove_all(dir.File("out"));
    // Lower-cased, the second would replace the first: it is refused instead.
    const TRun run = Convert("-o " + Out() + " -y" + files);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Names("out"), (std::set<std::string>{"photo.bmp"}));
}

TEST_F(ConvertCliTest, RecursiveFoldersKeepTheirTree)
{
    Image("tree/top.PPM", 3, 2, 1);
    Image("tree/sub/mid.png", 3, 2, 2);
    Image("tree/sub/deeper/low.BMP", 3, 2, 3);
    test::WriteAll(dir.File("tree/notes.txt"), std::string("not an image"));
    test::WriteAll(dir.File("tree/sub/README"), std::string("not an image"));
    const TRun run = Convert("-R -f pgm -o " + Out() + " -y '" + dir.File("tree") + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Names("out"), (std::set<std::string>{"top.pgm", "sub/mid.pgm", "sub/deeper/low.pgm"}));
    EXPECT_TRUE(Contains(run.out, "3 converted, 0 skipped, 0 failed")) << run.out;
}

TEST_F(ConvertCliTest, FilesFromListsTakeOddNames)
{
    const std::vector<std::string> names = {"with space.ppm", "\xC3\xBCnic\xC3\xB6" "de.ppm", "-dash.ppm", "tab\there.ppm"};
    std::string lines, nul;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Image(names[i], 2, 2, std::uint32_t(i));
        lines += dir.File(names[i]) + "\n";
        nul += dir.File(names[i]) + std::string(1, '\0');
    }
    test::WriteAll(dir.File("list.txt"), lines);
    const struct {
        std::string arguments;
        std::string input;
    } cases[] = {
        {"--files-from -", lines},
        {"--files-from - -0", nul},
        {"--files-from '" + dir.File("list.txt") + "'", ""},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir.File("out"));
        const TRun run = Convert(c.arguments + " -f png -o " + Out() + " -y", c.input);
        EXPECT_EQ(run.status, 0) << c.arguments << ": " << run.err;
        std::set<std::string> expected;
        for (const std::string& name : names)
            expected.insert(name.substr(0, name.size() - 4) + ".png");
        EXPECT_EQ(Names("out"), expected) << c.arguments;
    }
}

TEST_F(ConvertCliTest, FitScalesIntoTheBox)
{
    const struct {
        int width, height;
        std::string options;
        int fittedWidth, fittedHeight;
    } cases[] = {
        {40, 20, "--fit 10x10", 10, 5},      {20, 40, "--fit 10x10", 5, 10},     {15, 10, "--fit 4x4", 4, 3},
        {10, 15, "--fit 4x4", 3, 4},         {3, 200, "--fit 10x10", 1, 10},     {4, 2, "--fit 100x100", 4, 2},
        {4, 2, "--fit 100x100!", 100, 50},   {4, 2, "--fit 8X3!", 6, 3},         {30, 30, "--fit 30x30", 30, 30},
        // The fit follows the rotation: the box holds the turned picture.
        {40, 20, "-r left --fit 10x10", 5, 10},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir.File("out"));
        const std::string source = Image("fit.ppm", c.width, c.height, 5);
        const TRun run = Convert(c.options + " -o " + Out() + " -y " + source);
        ASSERT_EQ(run.status, 0) << run.err;
        TPixelGraphic fitted;
        fitted.LoadFromFile(dir.File("out/fit.bmp"));
        EXPECT_EQ(std::make_pair(fitted.Width(), fitted.Height()), std::make_pair(c.fittedWidth, c.fittedHeight))
            << c.width << "x" << c.height << " " << c.options;
    }
}

TEST_F(ConvertCliTest, AutoOrientTurnsEveryOrientationUpright)
{
    // Solid 16 x 16 blocks of distinct colours: the decoded pixels are the same
    // with or without the EXIF segment, so the turned picture can be compared exactly.
    TPixelGraphic image;
    image.SetSize(48, 32, bc24);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            image.SetColor(x, y, RGBValue(std::uint8_t(40 * (x / 16) + 20), std::uint8_t(120 * (y / 16) + 10), 90));
    const auto jpeg = test::WriteWith<TJPGFileFormatWriter>(image);
    test::WriteAll(dir.File("plain.jpg"), jpeg);
    ASSERT_EQ(Convert("-o " + Out() + " -y '" + dir.File("plain.jpg") + "'").status, 0);
    TPixelGraphic stored;
    stored.LoadFromFile(dir.File("out/plain.bmp"));
    const int w = stored.Width(), h = stored.Height();

    // Where the displayed pixel (x, y) is in the stored picture, per orientation.
    using TMap = std::pair<int, int> (*)(int x, int y, int w, int h);
    const TMap maps[9] = {
        nullptr,
        [](int x, int y, int, int) { return std::make_pair(x, y); },
        [](int x, int y, int w, int) { return std::make_pair(w - 1 - x, y); },
        [](int x, int y, int w, int h) { return std::make_pair(w - 1 - x, h - 1 - y); },
        [](int x, int y, int, int h) { return std::make_pair(x, h - 1 - y); },
        [](int x, int y, int, int) { return std::make_pair(y, x); },
        [](int x, int y, int, int h) { return std::make_pair(y, h - 1 - x); },
        [](int x, int y, int w, int h) { return std::make_pair(w - 1 - y, h - 1 - x); },
        [](int x, int y, int w, int) { return std::make_pair(w - 1 - y, x); },
    };
    for (std::uint32_t orientation = 1; orientation <= 8; ++orientation) {
        const std::string name = "o" + std::to_string(orientation) + ".jpg";
        test::WriteAll(dir.File(name), test::WithApp1(jpeg, test::ExifPayload(orientation, orientation % 2 == 0)));
        const TRun run = Convert("--auto-orient -o " + Out() + " '" + dir.File(name) + "'");
        ASSERT_EQ(run.status, 0) << run.err;
        TPixelGraphic upright;
        upright.LoadFromFile(dir.File("out/o" + std::to_string(orientation) + ".bmp"));
        const bool turned = orientation >= 5;
        ASSERT_EQ(upright.Width(), turned ? h : w) << orientation;
        ASSERT_EQ(upright.Height(), turned ? w : h) << orientation;
        int wrong = 0;
        for (int y = 0; y < upright.Height(); ++y)
            for (int x = 0; x < upright.Width(); ++x) {
                const auto [sx, sy] = maps[orientation](x, y, w, h);
                wrong += upright.GetColor(x, y) != stored.GetColor(sx, sy);
            }
        EXPECT_EQ(wrong, 0) << "orientation " << orientation;
        // Without --auto-orient the stored picture is kept.
        ASSERT_EQ(Convert("-o " + Out() + " '" + dir.File(name) + "'").status, 0);
        TPixelGraphic kept;
        kept.LoadFromFile(dir.File("out/o" + std::to_string(orientation) + ".bmp"));
        EXPECT_TRUE(test::SamePixels(kept, stored)) << orientation;
    }
}

TEST_F(ConvertCliTest, ReaderWarningsAreReportedOrFailUnderStrict)
{
    TPixelGraphic image;
    test::FillRandom(image, 64, 64, bc24, 9);
    auto jpeg = test::WriteWith<TJPGFileFormatWriter>(image);
    jpeg.resize(jpeg.size() / 2);  // the scan ends early
    auto bmp = test::WriteWith<TBMPFileFormatWriter>(image);
    bmp.resize(bmp.size() - 1000);  // the top rows are missing
    test::TTestFrame frame{16, 16, std::vector<std::uint8_t>(256, 1), 0, {}, false, {}};
    frame.indices.resize(100);  // the end code in the seventh row
    const auto gif = test::TGifFileBuilder(16, 16, 1, {0, 0xFFFFFF}).Frame(frame).Trailer().Data();
    // RowsPerStrip 2 of 4 rows, but one strip: taken to hold the whole image.
    test::TTiffFileBuilder strips;
    const std::uint32_t strip = strips.Blob(std::vector<std::uint8_t>(16, 0x80));
    strips.Long(256, 4).Long(257, 4).Short(258, 8).Short(259, 1).Short(262, 1).Long(273, strip).Long(278, 2);
    const std::pair<const char*, std::vector<std::uint8_t>> files[] = {
        {"cut.jpg", jpeg}, {"cut.bmp", bmp}, {"cut.gif", gif}, {"cut.tif", strips.Build()}};
    for (const auto& [name, bytes] : files) {
        test::WriteAll(dir.File(name), bytes);
        const std::string output = dir.File("out/cut.png");
        const TRun lenient = Convert("-f png -o " + Out() + " -y '" + dir.File(name) + "'");
        EXPECT_EQ(lenient.status, 0) << lenient.err;
        EXPECT_TRUE(Contains(lenient.err, "rastova-convert: " + dir.File(name) + ": warning: ")) << lenient.err;
        EXPECT_TRUE(std::filesystem::exists(output)) << name;
        std::filesystem::remove_all(dir.File("out"));
        const TRun strict = Convert("--strict -f png -o " + Out() + " -y '" + dir.File(name) + "'");
        EXPECT_EQ(strict.status, 1) << name;
        EXPECT_TRUE(Contains(strict.err, dir.File(name) + ": cannot load: ")) << strict.err;
        EXPECT_FALSE(std::filesystem::exists(output)) << name;
        std::filesystem::remove(dir.File(name));
    }
}

// The bar is drawn on standard error only when it is a terminal (here the
// pseudo-terminal of script(1)) and never under --quiet.
TEST_F(ConvertCliTest, ProgressBarOnlyOnATerminal)
{
    if (std::system("script -qec true /dev/null >/dev/null 2>&1 </dev/null") != 0)
        GTEST_SKIP() << "script(1) cannot make a pseudo-terminal here (no /dev/pts?)";
    const std::string inputs = Image("a.bmp", 8, 8, 1) + " " + Image("b.bmp", 8, 8, 2) + " " + Image("c.bmp", 8, 8, 3);
    struct TRow {
        const char* options;
        bool terminal;
        bool bar;
    };
    for (const TRow& row : {TRow{"", true, true}, TRow{"--quiet", true, false}, TRow{"", false, false}}) {
        const std::string arguments = std::string(row.options) + " -f png -o " + Out() + " -y " + inputs;
        std::string errors;
        if (row.terminal) {
            const std::string transcript = dir.File("transcript.txt");
            const std::string command = std::string("script -qec \"'") + RASTOVA_CONVERT_EXE + "' " + arguments +
                                        " >/dev/null\" /dev/null >'" + transcript + "' </dev/null";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            const auto bytes = test::ReadAll(transcript);
            errors.assign(bytes.begin(), bytes.end());
        } else {
            const TRun run = Convert(arguments);
            ASSERT_EQ(run.status, 0) << run.err;
            errors = run.err;
        }
        EXPECT_EQ(Contains(errors, "] 3/3 files 100%"), row.bar) << row.options << (row.terminal ? " on a terminal" : "")
                                                                 << ": " << errors;
        EXPECT_EQ(Contains(errors, "\r["), row.bar) << errors;
        std::filesystem::remove_all(dir.File("out"));
    }
}

TEST_F(ConvertCliTest, OptionsReachTheWrittenFiles)
{
    // A transparent pixel of a PNG is composited against --background.
    test::TPngLayout layout;
    layout.width = 2;
    layout.height = 1;
    layout.colorType = PNG_COLOR_TYPE_RGBA;
    layout.rows = {{10, 20, 30, 0, 200, 0, 0, 255}};
    test::WriteAll(dir.File("alpha.png"), test::EncodePng(layout));
    const struct {
        std::string arguments;
        TRGB behind;
    } backgrounds[] = {
        {"", RGBValue(0, 0, 0)},
        {"--background '#336699'", RGBValue(0x33, 0x66, 0x99)},
        {"--background White", RGBValue(255, 255, 255)},
    };
    for (const auto& c : backgrounds) {
        ASSERT_EQ(Convert(c.arguments + " -o " + Out() + " -y '" + dir.File("alpha.png") + "'").status, 0);
        TPixelGraphic composited;
        composited.LoadFromFile(dir.File("out/alpha.bmp"));
        EXPECT_EQ(composited.GetColor(0, 0), c.behind) << c.arguments;
        EXPECT_EQ(composited.GetColor(1, 0), RGBValue(200, 0, 0)) << c.arguments;
    }

    const struct {
        std::string arguments;
        std::string file;
        std::string expectStart;  // first bytes of the output
    } cases[] = {
        {"-f ppm", "out/p.ppm", "P3"},
        {"-f ppm --binary", "out/p.ppm", "P6"},
        {"-f pgm --binary", "out/p.pgm", "P5"},
        {"-f pbm --binary -c 2", "out/p.pbm", "P4"},
    };
    const std::string source = Image("p.png", 5, 4, 3);
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir.File("out"));
        ASSERT_EQ(Convert(c.arguments + " -o " + Out() + " -y " + source).status, 0) << c.arguments;
        const auto bytes = test::ReadAll(dir.File(c.file));
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 2), c.expectStart) << c.arguments;
    }
    // --verbose: one line per converted file; --max-pixels refuses larger images.
    const TRun verbose = Convert("--verbose -o " + Out() + " -y " + source);
    EXPECT_TRUE(Contains(verbose.out, dir.File("p.png") + " -> ")) << verbose.out;
    EXPECT_TRUE(Contains(verbose.out, "5x4")) << verbose.out;
    const TRun limited = Convert("--max-pixels 19 -o " + Out() + " -y " + source);
    EXPECT_EQ(limited.status, 1);
    EXPECT_TRUE(Contains(limited.err, "p.png: cannot load: ")) << limited.err;
    EXPECT_EQ(Convert("--max-pixels 20 -o " + Out() + " -y " + source).status, 0);
}

// -f for each photo format, -q for its lossy coding and --lossless where it
// exists; --info names the format with size, depth, alpha and frames.
TEST_F(ConvertCliTest, PhotoFormatsTakeQualityAndLossless)
{
    const std::string source = Image("p.png", 48, 32, 9);
    TPixelGraphic original;
    original.LoadFromFile(dir.File("p.png"));
    const struct {
        std::string format, description;
        bool lossless;
    } rows[] = {{"webp", "WebP", true}, {"avif", "AVIF", true}, {"heic", "HEIC", false}, {"jxl", "JPEG XL", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.format);
        std::uintmax_t sizes[2] = {};
        int i = 0;
        for (const std::string quality : {"10", "95"}) {
            ASSERT_EQ(Convert("-f " + row.format + " -q " + quality + " -o " + Out() + " -y " + source).status, 0);
            sizes[i++] = std::filesystem::file_size(dir.File("out/p." + row.format));
        }
        EXPECT_LT(sizes[0], sizes[1]) << "a higher quality keeps more";
        const TRun info = Convert("--info '" + dir.File("out/p." + row.format) + "'");
        EXPECT_TRUE(Contains(info.out, ": " + row.description + ", 48 x 32, 24-bit RGB, 1 frame, ")) << info.out;
        const TRun lossless = Convert("-f " + row.format + " --lossless -o " + Out() + " -y " + source);
        EXPECT_EQ(lossless.status, row.lossless ? 0 : 2) << lossless.err;
        if (!row.lossless) {
            EXPECT_TRUE(Contains(lossless.err, "HEIC output is always lossy")) << lossless.err;
            continue;
        }
        TPixelGraphic back;
        back.LoadFromFile(dir.File("out/p." + row.format));
        std::string why;
        EXPECT_TRUE(test::SamePixels(back, original, &why)) << why;
    }
}

TEST_F(ConvertCliTest, SignalsRemoveTheTemporaryBeingWritten)
{
    // Noise compresses slowly, which keeps the PNG save (and its hidden
    // temporary) going long enough to be caught.
    const std::string first = dir.File("big1.bmp"), second = dir.File("big2.bmp");
    Image("big1.bmp", 2000, 2000, 1);
    Image("big2.bmp", 2000, 2000, 2);
    const struct {
        std::vector<int> signals;
        int status;
        bool firstKept;  // the item in hand finishes its save
    } cases[] = {
        {{SIGTERM}, 128 + SIGTERM, false},
        {{SIGHUP}, 128 + SIGHUP, false},
        {{SIGINT, SIGINT}, 128 + SIGINT, false},
        {{SIGINT}, 130, true},
    };
    const std::string out = dir.File("out");
    for (const auto& c : cases) {
        std::filesystem::remove_all(out);
        std::filesystem::create_directories(out);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execl(RASTOVA_CONVERT_EXE, RASTOVA_CONVERT_EXE, "-j", "1", "-f", "png", "-o", out.c_str(), first.c_str(),
                  second.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto temporaries = [&] {
            int count = 0;
            for (const auto& entry : std::filesystem::directory_iterator(out))
                count += entry.path().filename().string().front() == '.';
            return count;
        };
        for (int i = 0; i < 20000 && temporaries() == 0; ++i)
            usleep(1000);
        ASSERT_EQ(temporaries(), 1) << "the save never started";
        for (const int signal : c.signals) {
            kill(child, signal);
            usleep(2000);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), c.status);
        EXPECT_EQ(temporaries(), 0);
        // Whatever was written is whole.
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            TPixelGraphic written;
            EXPECT_NO_THROW(written.LoadFromFile(entry.path().string())) << entry.path();
        }
        if (c.firstKept) {
            EXPECT_TRUE(std::filesystem::exists(out + "/big1.png"));
            EXPECT_FALSE(std::filesystem::exists(out + "/big2.png"));
        }
    }
}

// --frames all writes every TIFF page and GIF frame as name-001.ext, ...; the
// default writes the first only; --info gives the count.
TEST_F(ConvertCliTest, FramesAllWritesEveryPageAndFrame)
{
    test::TTiffFileBuilder pages;
    const std::uint32_t strip0 = pages.Blob(std::vector<std::uint8_t>(8, 0x20));
    const std::uint32_t strip1 = pages.Blob(std::vector<std::uint8_t>(6, 0xC0));
    pages.Long(256, 4).Long(257, 2).Short(258, 8).Short(259, 1).Short(262, 1).Long(273, strip0);
    pages.NextIfd().Long(256, 3).Long(257, 2).Short(258, 8).Short(259, 1).Short(262, 1).Long(273, strip1);
    test::WriteAll(dir.File("pages.tif"), pages.Build());
    test::TTestFrame frame{4, 4, std::vector<std::uint8_t>(16, 1), 0, {}, false, {}};
    test::TGifFileBuilder gif(4, 4, 1, {0, 0xFFFFFF});
    gif.Frame(frame).Frame(frame).Frame(frame).Trailer();
    test::WriteAll(dir.File("anim.gif"), gif.Data());

    const TRun info = Convert("--info '" + dir.File("pages.tif") + "' '" + dir.File("anim.gif") + "'");
    EXPECT_TRUE(Contains(info.out, "pages.tif: TIFF, 4 x 2, 8-bit, 256 colours, 2 frames, ")) << info.out;
    EXPECT_TRUE(Contains(info.out, ", 3 frames, ")) << info.out;

    const TRun all = Convert("--frames all -f png -o " + Out() + " -y '" + dir.File("pages.tif") + "' '" +
                             dir.File("anim.gif") + "'");
    ASSERT_EQ(all.status, 0) << all.err;
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("out")))
        written.insert(entry.path().filename().string());
    EXPECT_EQ(written, (std::set<std::string>{"anim-001.png", "anim-002.png", "anim-003.png", "pages-001.png",
                                              "pages-002.png"}));
    TPixelGraphic second;
    second.LoadFromFile(dir.File("out/pages-002.png"));
    EXPECT_EQ(second.Width(), 3);
    EXPECT_EQ(second.GetColor(0, 0), RGBValue(0xC0, 0xC0, 0xC0));

    std::filesystem::remove_all(dir.File("out"));
    ASSERT_EQ(Convert("-f png -o " + Out() + " -y '" + dir.File("pages.tif") + "'").status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir.File("out/pages.png")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/pages-001.png")));
}

// ---- habits of other tools, and the safety rules -------------------------------------------------

namespace {

// A BMP header claiming width x height 24-bit pixels and nothing after it.
std::vector<std::uint8_t> BmpHeaderOnly(std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> b(54, 0);
    const auto u32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    u32(2, 54);
    u32(10, 54);
    u32(14, 40);
    u32(18, width);
    u32(22, height);
    b[26] = 1;
    b[28] = 24;
    return b;
}

std::string LastLine(const std::string& text)
{
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos)
        return "";
    const std::size_t start = text.find_last_of('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// Pixels whose colours differ; the whole count when the sizes differ.
int ColorMismatches(const TPixelGraphic& a, const TPixelGraphic& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return a.Width() * a.Height() + 1;
    int wrong = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            wrong += a.GetColor(x, y) != b.GetColor(x, y);
    return wrong;
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 | std::uint32_t(bytes[at + 2]) << 16 |
           std::uint32_t(bytes[at + 3]) << 24;
}

}  // namespace

TEST_F(ConvertCliTest, SafetyRules)
{
    const std::string source = Image("same.bmp", 6, 4, 1);
    const auto original = test::ReadAll(dir.File("same.bmp"));
    test::WriteAll(dir.File("huge.bmp"), BmpHeaderOnly(20000, 20000));
    const std::string folder = "'" + dir.Path().string() + "'";
    const struct {
        std::string arguments;
        int status;
        std::string err;   // a part of standard error; "" for none
        std::string last;  // the last line of standard output
    } cases[] = {
        // A source is not replaced by its own output unless asked for explicitly.
        {"-o " + folder + " " + source, 1,
         dir.File("same.bmp") + ": cannot save: would replace its own source; use --existing overwrite to allow it",
         "The conversion finished with 1 failure."},
        {"--existing skip -o " + folder + " " + source, 0, "", "The conversion is complete!"},
        // 20000 x 20000 is refused before anything is decoded, naming the option that lifts the limit.
        {"-o " + Out() + " -y '" + dir.File("huge.bmp") + "'", 1,
         "huge.bmp: cannot load: Image size 20000 x 20000 exceeds the limit of 268435456 pixels; raise it with "
         "--max-pixels N, or 0 for no limit",
         "The conversion finished with 1 failure."},
        {"-o " + Out() + " -y '" + dir.File("huge.bmp") + "' " + source + " '" + dir.File("none.bmp") + "'", 1,
         "none.bmp: does not exist", "The conversion finished with 2 failures."},
        {"-o " + Out() + " -y " + source, 0, "", "The conversion is complete!"},
    };
    for (const auto& c : cases) {
        const TRun run = Convert(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.err;
        EXPECT_EQ(c.err.empty() ? run.err.empty() : Contains(run.err, c.err), true) << c.arguments << ": " << run.err;
        EXPECT_EQ(LastLine(run.out), c.last) << c.arguments;
        EXPECT_EQ(test::ReadAll(dir.File("same.bmp")), original) << c.arguments;
    }
    const TRun allowed = Convert("--existing overwrite -c gray -o " + folder + " " + source);
    EXPECT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_NE(test::ReadAll(dir.File("same.bmp")), original);
    const TRun help = Convert("--help");
    EXPECT_TRUE(Contains(help.out, "268435456")) << help.out;

    // -R into a folder inside the tree: the second run does not convert the first one's output.
    Image("tree/a.png", 3, 2, 1);
    Image("tree/sub/b.png", 3, 2, 2);
    for (int runs = 0; runs < 2; ++runs) {
        const TRun run = Convert("-R -f png -o '" + dir.File("tree/out") + "' -y '" + dir.File("tree") + "'");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(Contains(run.out, "2 converted, 0 skipped, 0 failed")) << run.out;
    }
    EXPECT_EQ(Names("tree/out"), (std::set<std::string>{"a.png", "sub/b.png"}));
}

TEST_F(ConvertCliTest, PipesBothWays)
{
    const std::string source = Image("p.png", 9, 5, 3);
    ASSERT_EQ(Convert("-f tga -o " + Out() + " -y " + source).status, 0);
    const auto expected = test::ReadAll(dir.File("out/p.tga"));
    const auto pngBytes = test::ReadAll(dir.File("p.png"));
    const std::string pngText(pngBytes.begin(), pngBytes.end());

    // Standard input, format by content, named stdin.EXT in the destination.
    const TRun in = Convert("- -f tga -o " + Out("in") + " -y", pngText);
    EXPECT_EQ(in.status, 0) << in.err;
    EXPECT_EQ(test::ReadAll(dir.File("out/in/stdin.tga")), expected);
    // Standard output carries the image alone; the report goes to standard error.
    const TRun out = Convert("-f tga -o - " + source);
    EXPECT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(std::vector<std::uint8_t>(out.out.begin(), out.out.end()), expected);
    EXPECT_TRUE(Contains(out.err, "1 converted, 0 skipped, 0 failed")) << out.err;
    const TRun both = Convert("- -f tga -o -", pngText);
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(std::vector<std::uint8_t>(both.out.begin(), both.out.end()), expected);

    const struct {
        std::string arguments;
        std::string input;
        std::string standardOutput;
        int status;
        std::string err;
    } failures[] = {
        {"- -f tga -o -", "not an image", "", 1, "rastova-convert: -: cannot load: "},
        {"-f tga -o - " + source + " " + source, "", "", 2, "-o - writes one output"},
        {"- " + source + " -o " + Out(), "", "", 2, "- reads standard input and must be the only input"},
        {"-f tga -o - " + source, "", "/dev/full", 1, "rastova-convert: -: cannot write: No space left on device"},
    };
    for (const auto& c : failures) {
        const TRun run = Convert(c.arguments, c.input, c.standardOutput);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_TRUE(Contains(run.err, c.err)) << c.arguments << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << c.arguments;
    }
}

TEST_F(ConvertCliTest, ResizeGeometryAsImageMagickReadsIt)
{
    const struct {
        int width, height;
        std::string geometry;
        int resizedWidth, resizedHeight;  // by hand: the governing side, the other rounded to the nearest
    } cases[] = {
        {40, 20, "50%", 20, 10},      {40, 20, "12.5%", 5, 3},      {3, 3, "10%", 1, 1},
        {40, 20, "200%", 80, 40},     {40, 20, "30", 30, 15},       {40, 20, "x5", 10, 5},
        {40, 20, "100x100", 100, 50}, {40, 20, "10x10", 10, 5},     {15, 10, "4x4", 4, 3},
        {40, 20, "30x30!", 30, 30},   {40, 20, "10x10>", 10, 5},    {40, 20, "100x100>", 40, 20},
        {40, 20, "100x100<", 100, 50}, {40, 20, "50x10<", 40, 20},  {40, 20, "30x30^", 60, 30},
        {20, 40, "30x30^", 30, 60},   {40, 20, "80x40^", 80, 40},   {7, 3, "x1", 2, 1},
        {40, 20, "-r left --resize 10x10", 5, 10},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir.File("out"));
        const std::string source = Image("g.ppm", c.width, c.height, 5);
        const bool options = c.geometry[0] == '-';
        const TRun run = Convert((options ? c.geometry : "--resize '" + c.geometry + "'") + " -o " + Out() + " -y " + source);
        ASSERT_EQ(run.status, 0) << c.geometry << ": " << run.err;
        TPixelGraphic resized;
        resized.LoadFromFile(dir.File("out/g.bmp"));
        EXPECT_EQ(std::make_pair(resized.Width(), resized.Height()), std::make_pair(c.resizedWidth, c.resizedHeight))
            << c.width << "x" << c.height << " " << c.geometry;
    }
    for (const std::string bad : {"0x5", "x", "10x10!!", "-5%", "%", "10!", "x10^", "axb", "10x10#"}) {
        EXPECT_EQ(Convert("--resize '" + bad + "' -o " + Out() + " a.ppm").status, 2) << bad;
    }
}

#ifdef RASTOVA_HAVE_LIBTIFF
namespace {

// Pixels that libtiff reads differently from the reference; -1 when it cannot read the file.
int LibtiffMismatches(const std::string& path, const TPixelGraphic& reference, std::uint16_t& compression,
                      std::uint16_t& predictor)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return -1;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    predictor = 1;
    if (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE)
        TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &predictor);
    const int w = reference.Width(), h = reference.Height();
    std::vector<std::uint32_t> raster(std::size_t(w) * std::size_t(h));
    const int read = TIFFReadRGBAImageOriented(tif, std::uint32_t(w), std::uint32_t(h), raster.data(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tif);
    if (read != 1)
        return -1;
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = raster[std::size_t(y) * std::size_t(w) + std::size_t(x)];
            wrong += RGBValue(std::uint8_t(TIFFGetR(p)), std::uint8_t(TIFFGetG(p)), std::uint8_t(TIFFGetB(p))) !=
                     reference.GetColor(x, y);
        }
    return wrong;
}

}  // namespace

// libtiff, as an independent reader, gets the pixels our own reader gets from the uncompressed file.
TEST_F(ConvertCliTest, TiffCompressionReadsBackWithLibtiff)
{
    TPixelGraphic smooth;
    smooth.SetSize(300, 260, bc24);
    for (int y = 0; y < 260; ++y)
        for (int x = 0; x < 300; ++x)
            smooth.SetColor(x, y, RGBValue(std::uint8_t(x), std::uint8_t(y), std::uint8_t((x * y) >> 7)));
    smooth.SaveToFile(dir.File("smooth.bmp"));
    const std::string files = " " + Image("noise.bmp", 301, 203, 7) + " '" + dir.File("smooth.bmp") + "'";
    const struct {
        std::string compress;
        int tag;
    } compressions[] = {{"none", COMPRESSION_NONE}, {"lzw", COMPRESSION_LZW}, {"deflate", COMPRESSION_ADOBE_DEFLATE},
                        {"packbits", COMPRESSION_PACKBITS}, {"deflate --compress-level 0", COMPRESSION_ADOBE_DEFLATE},
                        {"lzw --compress-level 9", COMPRESSION_LZW}};
    for (const std::string colors : {"true", "gray", "256", "16", "2", "40"}) {
        ASSERT_EQ(Convert("-f bmp -c " + colors + " -o " + Out("ref") + " -y" + files).status, 0);
        for (const auto& c : compressions) {
            const TRun run = Convert("-f tif --compress " + c.compress + " -c " + colors + " -o " + Out() + " -y" + files);
            ASSERT_EQ(run.status, 0) << run.err;
            for (const std::string name : {"noise", "smooth"}) {
                const std::string what = c.compress + " -c " + colors + " " + name;
                TPixelGraphic reference;
                reference.LoadFromFile(dir.File("out/ref/" + name + ".bmp"));
                std::uint16_t compression = 0, predictor = 0;
                EXPECT_EQ(LibtiffMismatches(dir.File("out/" + name + ".tif"), reference, compression, predictor), 0)
                    << what;
                EXPECT_EQ(compression, c.tag) << what;
                // Differencing for 8-bit gray and colour samples under LZW and Deflate only.
                if (c.tag == COMPRESSION_LZW || c.tag == COMPRESSION_ADOBE_DEFLATE) {
                    EXPECT_EQ(predictor, colors == "true" || colors == "gray" ? 2 : 1) << what;
                }
                // Our own reader agrees.
                TPixelGraphic ours;
                ours.LoadFromFile(dir.File("out/" + name + ".tif"));
                EXPECT_EQ(ColorMismatches(ours, reference), 0) << what;
            }
        }
        // Compression pays on the smooth picture.
        if (colors == "true") {
            ASSERT_EQ(Convert("-f tif --compress lzw -o " + Out("lzw") + " -y" + files).status, 0);
            EXPECT_LT(std::filesystem::file_size(dir.File("out/lzw/smooth.tif")), 300u * 260u * 3u / 2u);
        }
    }
}
#endif

TEST_F(ConvertCliTest, WriterChoicesReachTheFiles)
{
    const std::string files = " " + Image("noise.bmp", 61, 37, 2) + " '" + dir.File("flat.bmp") + "'";
    // Runs longer than a Targa packet (128) and a BMP one (255).
    TPixelGraphic flat;
    flat.SetSize(300, 40, bc24);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 300; ++x)
            flat.SetColor(x, y, x < 20 ? RGBValue(255, 0, 0) : y < 13 ? RGBValue(0, 0, 0) : RGBValue(0, 0, 255));
    flat.SaveToFile(dir.File("flat.bmp"));
    // Run-length Targa and BMP decode to the same pixels as the plain files.
    const struct {
        std::string format, colors;
        std::size_t field;       // the byte or word that says run-length
        std::uint32_t plain, rle;
    } runLength[] = {
        {"tga", "true", 2, 2, 10}, {"tga", "256", 2, 1, 9}, {"tga", "12", 2, 1, 9},
        {"bmp", "256", 30, 0, 1},  {"bmp", "16", 30, 0, 2}, {"bmp", "5", 30, 0, 2}, {"bmp", "true", 30, 0, 0},
    };
    for (const auto& c : runLength) {
        const std::string common = "-f " + c.format + " -c " + c.colors + " -y" + files;
        ASSERT_EQ(Convert(common + " -o " + Out("plain")).status, 0);
        const TRun run = Convert("--compress rle " + common + " -o " + Out("rle"));
        ASSERT_EQ(run.status, 0) << run.err;
        for (const std::string name : {"noise", "flat"}) {
            const std::string what = c.format + " -c " + c.colors + " " + name;
            const auto plain = test::ReadAll(dir.File("out/plain/" + name + "." + c.format));
            const auto rle = test::ReadAll(dir.File("out/rle/" + name + "." + c.format));
            const auto field = [&](const std::vector<std::uint8_t>& b) { return c.format == "tga" ? b[c.field] : U32At(b, c.field); };
            EXPECT_EQ(field(plain), c.plain) << what;
            EXPECT_EQ(field(rle), c.rle) << what;
            TPixelGraphic a, b;
            a.LoadFromFile(dir.File("out/plain/" + name + "." + c.format));
            b.LoadFromFile(dir.File("out/rle/" + name + "." + c.format));
            EXPECT_TRUE(test::SamePixels(a, b)) << what;
            if (name == std::string("flat") && c.rle != c.plain) {
                EXPECT_LT(rle.size(), plain.size()) << what;
            }
        }
    }
    // PNG levels change the size, never the pixels.
    ASSERT_EQ(Convert("-f png --compress-level 0 -o " + Out("0") + " -y" + files).status, 0);
    ASSERT_EQ(Convert("-f png --compress-level 9 -o " + Out("9") + " -y" + files).status, 0);
    EXPECT_GT(std::filesystem::file_size(dir.File("out/0/flat.png")), std::filesystem::file_size(dir.File("out/9/flat.png")));
    TPixelGraphic stored, squeezed;
    stored.LoadFromFile(dir.File("out/0/noise.png"));
    squeezed.LoadFromFile(dir.File("out/9/noise.png"));
    EXPECT_TRUE(test::SamePixels(stored, squeezed));
}

TEST_F(ConvertCliTest, JpegChoices)
{
    const std::string source = Image("j.bmp", 48, 32, 4);
    // The first frame header: SOF0 (baseline) or SOF2 (progressive), and the luma sampling byte.
    const auto frame = [&](const std::string& options) {
        std::filesystem::remove_all(dir.File("out"));
        const TRun run = Convert("-f jpg " + options + " -o " + Out() + " -y " + source);
        EXPECT_EQ(run.status, 0) << options << ": " << run.err;
        const auto b = test::ReadAll(dir.File("out/j.jpg"));
        for (std::size_t i = 2; i + 12 < b.size(); ++i)
            if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2))
                return std::make_pair(int(b[i + 1]), int(b[i + 11]));
        return std::make_pair(0, 0);
    };
    const struct {
        std::string options;
        int marker, sampling;
    } cases[] = {
        {"", 0xC0, 0x22},           {"--progressive", 0xC2, 0x22}, {"--sampling 444", 0xC0, 0x11},
        {"--sampling 422", 0xC0, 0x21}, {"--sampling 420 --progressive", 0xC2, 0x22},
    };
    for (const auto& c : cases)
        EXPECT_EQ(frame(c.options), std::make_pair(c.marker, c.sampling)) << c.options;
    // The whole range of -q on the command line.
    std::uintmax_t previous = 0;
    for (const std::string quality : {"1", "50", "100"}) {
        frame("-q " + quality);
        const auto size = std::filesystem::file_size(dir.File("out/j.jpg"));
        EXPECT_GT(size, previous) << quality;
        previous = size;
    }
    const TRun elsewhere = Convert("-f png -q 50 -o " + Out() + " -y " + source);
    EXPECT_TRUE(Contains(elsewhere.err, "warning: -q does nothing for -f png")) << elsewhere.err;
    for (const std::string bad : {"-f png --compress lzw", "-f tif --compress rle", "-f jpg --compress rle",
                                  "--compress zip", "--compress-level 10", "--sampling 411", "-f tga --compress deflate"})
        EXPECT_EQ(Convert(bad + " -o " + Out() + " " + source).status, 2) << bad;
}

TEST_F(ConvertCliTest, PalettesOfAnySize)
{
    // 300 distinct colours, so that every palette size must choose.
    TPixelGraphic many;
    many.SetSize(60, 50, bc24);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 60; ++x)
            many.SetColor(x, y, RGBValue(std::uint8_t(((x / 3 + 20 * (y / 10)) * 37) & 0xFF),
                                         std::uint8_t((x / 3 + 20 * (y / 10)) * 11), std::uint8_t(y * 5)));
    many.SaveToFile(dir.File("many.bmp"));
    const struct {
        std::string colors;
        int bits;       // of the written BMP
        int most;       // distinct colours at most
    } cases[] = {
        {"2", 1, 2},  {"3", 4, 3},    {"5", 4, 5},     {"16", 4, 16},   {"17", 8, 17},
        {"100", 8, 100}, {"255", 8, 255}, {"256", 8, 256},
    };
    for (const auto& c : cases) {
        const TRun run = Convert("-c " + c.colors + " -o " + Out(c.colors) + " -y '" + dir.File("many.bmp") + "'");
        ASSERT_EQ(run.status, 0) << c.colors << ": " << run.err;
        const auto bytes = test::ReadAll(dir.File("out/" + c.colors + "/many.bmp"));
        EXPECT_EQ(bytes[28], c.bits) << c.colors;
        TPixelGraphic written;
        written.LoadFromFile(dir.File("out/" + c.colors + "/many.bmp"));
        std::set<TRGB> distinct;
        for (int y = 0; y < written.Height(); ++y)
            for (int x = 0; x < written.Width(); ++x)
                distinct.insert(written.GetColor(x, y));
        EXPECT_LE(int(distinct.size()), c.most) << c.colors;
        EXPECT_GE(int(distinct.size()), 2) << c.colors;
    }
    // A picture with no more colours than asked keeps them all.
    TPixelGraphic few;
    few.SetSize(12, 4, bc24);
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 4; ++y)
            few.SetColor(x, y, RGBValue(std::uint8_t(20 * x), 7, std::uint8_t(255 - 20 * x)));
    few.SaveToFile(dir.File("few.bmp"));
    for (const std::string colors : {"12", "13", "200"}) {
        ASSERT_EQ(Convert("-f png -c " + colors + " -o " + Out() + " -y '" + dir.File("few.bmp") + "'").status, 0);
        TPixelGraphic kept;
        kept.LoadFromFile(dir.File("out/few.png"));
        for (int x = 0; x < 12; ++x)
            EXPECT_EQ(kept.GetColor(x, 2), few.GetColor(x, 2)) << colors << " at " << x;
    }
}

TEST_F(ConvertCliTest, UnicodeNamesAreLowerCased)
{
    const struct {
        std::string name, lowered;
    } cases[] = {
        {"\xC3\x84\xC3\x96\xC3\x9C Stra\xC3\x9F" "e.PNG", "\xC3\xA4\xC3\xB6\xC3\xBC stra\xC3\x9F" "e.bmp"},
        {"\xCE\x91\xCE\x92\xCE\x93.png", "\xCE\xB1\xCE\xB2\xCE\xB3.bmp"},
        {"\xD0\x94\xD0\x9E\xD0\x9C.png", "\xD0\xB4\xD0\xBE\xD0\xBC.bmp"},
        {"\xC3\x89t\xC3\xA9-\xC5\x81\xC3\x93" "D\xC5\xB9.png", "\xC3\xA9t\xC3\xA9-\xC5\x82\xC3\xB3" "d\xC5\xBA.bmp"},
        {"Bad\xFF\xC3Name.png", "bad\xFF\xC3name.bmp"},  // not UTF-8: only ASCII letters change
    };
    std::string files;
    std::set<std::string> lowered, kept;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        files += " " + Image(cases[i].name, 2, 2, std::uint32_t(i));
        lowered.insert(cases[i].lowered);
        kept.insert(cases[i].name.substr(0, cases[i].name.rfind('.')) + ".bmp");
    }
    const TRun run = Convert("-o " + Out() + " -y" + files);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Names("out"), lowered);
    std::filesystem::remove_all(dir.File("out"));
    EXPECT_EQ(Convert("--keep-case -o " + Out() + " -y" + files).status, 0);
    EXPECT_EQ(Names("out"), kept);
}

TEST_F(ConvertCliTest, ShardsShareTheListExactlyOnce)
{
    std::string list;
    for (int i = 0; i < 7; ++i) {
        Image("s/" + std::to_string(i) + ".ppm", 2 + i, 2, std::uint32_t(i));
        list += dir.File("s/" + std::to_string(i) + ".ppm") + "\n";
    }
    test::WriteAll(dir.File("list.txt"), list);
    for (int n = 1; n <= 4; ++n) {
        std::map<std::string, int> seen;
        for (int k = 1; k <= n; ++k) {
            std::filesystem::remove_all(dir.File("out"));
            const std::string shard = std::to_string(k) + "/" + std::to_string(n);
            const TRun run = Convert("--shard " + shard + " --files-from '" + dir.File("list.txt") + "' -o " + Out() + " -y");
            EXPECT_EQ(run.status, 0) << shard << ": " << run.err;
            for (const std::string& name : Names("out")) {
                ++seen[name];
                // Position p (from 1) belongs to shard p mod n.
                const int position = std::stoi(name) + 1;
                EXPECT_EQ(position % n, k % n) << name << " in " << shard;
            }
        }
        EXPECT_EQ(seen.size(), 7u) << n;
        for (const auto& [name, count] : seen)
            EXPECT_EQ(count, 1) << name << " over " << n << " shards";
    }
    for (const std::string bad : {"0/3", "4/3", "1/0", "1", "a/b", "1/3/4", "-1/3"})
        EXPECT_EQ(Convert("--shard " + bad + " -o " + Out() + " x.ppm").status, 2) << bad;
}

// The README's recipe for many machines, run locally: GNU parallel hands each
// job its shard of one list, and together they write what one run writes.
TEST_F(ConvertCliTest, GnuParallelRecipeMatchesOneRun)
{
    if (std::system("parallel --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU parallel is not installed";
    std::string list;
    for (int i = 0; i < 9; ++i) {
        Image("src/sub" + std::to_string(i % 2) + "/p" + std::to_string(i) + ".png", 5 + i, 4, std::uint32_t(i));
        list += dir.File("src/sub" + std::to_string(i % 2) + "/p" + std::to_string(i) + ".png") + "\n";
    }
    test::WriteAll(dir.File("list.txt"), list);
    const std::string common = "--files-from '" + dir.File("list.txt") + "' -f tif --compress lzw -c 100 -y";
    ASSERT_EQ(Convert(common + " -o '" + dir.File("one") + "'").status, 0);
    const std::string recipe = "parallel -j 3 --halt now,fail=1 '" + std::string(RASTOVA_CONVERT_EXE) + "' --quiet --shard {}/3 " +
                               common + " -o '" + dir.File("many") + "' ::: 1 2 3";
    ASSERT_EQ(std::system(recipe.c_str()), 0) << recipe;
    EXPECT_EQ(Tree("one").size(), 9u);
    EXPECT_TRUE(Tree("one") == Tree("many"));
}

TEST_F(ConvertCliTest, EveryRegisteredReaderExtensionIsTakenByRecursion)
{
    const TRun help = Convert("--help");
    const std::size_t start = help.out.find("Readable formats: ");
    ASSERT_NE(start, std::string::npos) << help.out;
    const std::size_t end = help.out.find('\n', start);
    std::string listed = help.out.substr(start + 18, end - start - 18);
    std::vector<std::string> extensions;
    for (std::size_t at = 0; at < listed.size();) {
        const std::size_t comma = listed.find(", ", at);
        extensions.push_back(listed.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        at = comma == std::string::npos ? listed.size() : comma + 2;
    }
    for (const std::string metafile : {"wmf", "emf"})
        EXPECT_NE(std::find(extensions.begin(), extensions.end(), metafile), extensions.end()) << listed;
    // A PPM under every readable extension but the metafiles' (in upper case): each is an item, found by content.
    std::set<std::string> expected;
    std::filesystem::create_directories(dir.File("tree"));
    for (const std::string& extension : extensions) {
        if (extension == "wmf" || extension == "emf")
            continue;
        std::string upper = extension;
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
        test::WriteAll(dir.File("tree/f_" + extension + "." + upper), kPpm);
        expected.insert("f_" + extension + ".png");
    }
    test::WriteAll(dir.File("tree/notes.txt"), kPpm);
    const TRun run = Convert("-R -f png -o " + Out() + " -y '" + dir.File("tree") + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Names("out"), expected);
}
