#include "image/Streams.h"

#include "image/PGExceptions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <vector>

using namespace rastova;

TEST(Streams, ExactTransfersRaiseTheStreamErrors)
{
    TMemoryStream memory(std::vector<std::uint8_t>{1, 2, 3});
    std::uint8_t buffer[4] = {};
    try {
        memory.ReadBuffer(buffer, 4);
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
    TReadOnlyMemoryStream readOnly(buffer, sizeof buffer);
    try {
        readOnly.WriteBuffer(buffer, 1);
        FAIL();
    } catch (const EWriteError& e) {
        EXPECT_STREQ(e.what(), "Stream write error");
    }
    // Stream errors are library errors: one handler catches any bad file.
    EXPECT_THROW(memory.ReadBuffer(buffer, 4), EPixelGraphic);
}

TEST(Streams, MemoryStreamSeekWriteAndRemaining)
{
    TMemoryStream s;
    s.WriteBuffer("abcdef", 6);
    EXPECT_EQ(s.Size(), 6);
    EXPECT_EQ(s.Remaining(), 0);
    s.Seek(-2, soEnd);
    EXPECT_EQ(s.Position(), 4);
    EXPECT_EQ(s.Remaining(), 2);
    s.SetPosition(10);  // past the end reads nothing and writing extends
    char c = 0;
    EXPECT_EQ(s.Read(&c, 1), 0);
    EXPECT_EQ(s.Remaining(), 0);
    s.WriteByte('z');
    EXPECT_EQ(s.Size(), 11);
    EXPECT_THROW(s.Seek(-1, soBeginning), EStreamError);
}

TEST(Streams, FileStreamRoundTripAndOpenErrors)
{
    test::TTempDir dir;
    {
        TFileStream out(dir.File("a.bin"), fmCreate);
        out.WriteBuffer("hello", 5);
        out.Close();
    }
    TFileStream in(dir.File("a.bin"), fmOpenRead);
    EXPECT_EQ(in.Size(), 5);
    char text[5];
    in.ReadBuffer(text, 5);
    EXPECT_EQ(std::string(text, 5), "hello");
    EXPECT_THROW(in.ReadBuffer(text, 1), EReadError);
    EXPECT_THROW(TFileStream(dir.File("missing.bin"), fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(dir.File("no/such/folder.bin"), fmCreate), EFCreateError);
}

// A full disk names itself, whether the write or the final flush finds it out.
TEST(Streams, FileStreamWriteErrorsSayWhy)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full here";
    for (const std::int64_t size : {std::int64_t(10), std::int64_t(1) << 20}) {
        const std::vector<std::uint8_t> bytes(std::size_t(size), 7);
        TFileStream stream("/dev/full", fmOpenReadWrite);
        try {
            stream.WriteBuffer(bytes.data(), size);
            stream.Close();
            FAIL() << size;
        } catch (const EWriteError& e) {
            EXPECT_STREQ(e.what(), "Stream write error: No space left on device") << size;
        }
    }
}
