// rastova-convert as a user runs it: exit codes, messages and the files written.
#include "formats/GifTestEncoder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include "formats/Bmp.h"
#include "formats/Jpeg.h"
#include "formats/PngTestEncoder.h"
#include "image/PGraphic.h"
#include "support/ExifBuilder.h"

#include <cstdlib>
#include <map>
#include <set>
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

    TRun Convert(const std::string& arguments, const std::string& input = "")
    {
        const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt"), in = dir.File("stdin.txt");
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
        run.out = text(out);
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
         {std::string("-f gif -o out a.ppm"), std::string("-c 8 -o out a.ppm"), std::string("-q 101 -o out a.ppm"),
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
                                     "--strict", "--quiet", "--verbose", "--max-pixels", "--keep-case", "-R", "-0"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    for (const std::string format : {"gif", "ico", "pcx", "tiff", "jpeg"})
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
    const TRun run = Convert("-f ppm -o '" + dir.Path().string() + "' " + Source("good.ppm", kPpm) + " " +
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
          "-f ppm --binary -c 2 -r 180"}) {
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
    const std::pair<const char*, std::vector<std::uint8_t>> files[] = {
        {"cut.jpg", jpeg}, {"cut.bmp", bmp}, {"cut.gif", gif}};
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
// exists; --info names the format with size, depth and frames.
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
        EXPECT_TRUE(Contains(info.out, ": File info: " + row.description + ", ")) << info.out;
        EXPECT_TRUE(Contains(info.out, "8-bit, 48x32 pixeles")) << info.out;
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
