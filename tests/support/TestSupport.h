// Helpers shared by the tests.
#pragma once

#include "image/PGraphic.h"
#include "image/Streams.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rastova::test {

// Folder of the third-party test images; empty when it is not beside the project.
std::filesystem::path TestSuitesDir();

// True when the environment sets RASTOVA_REQUIRE_TESTSUITES (CI does): a test
// that needs the suites then fails instead of skipping without them.
bool TestSuitesRequired();

// Ends a suite-based test whose images are missing: a skip, or a failure when
// required. One return statement, like GTEST_SKIP, so it fits under an if.
#define RASTOVA_SKIP_WITHOUT_SUITES(why)                                                                \
    return GTEST_MESSAGE_(why, ::rastova::test::TestSuitesRequired() ? ::testing::TestPartResult::kFatalFailure \
                                                                     : ::testing::TestPartResult::kSkip)

// Fresh empty folder under the system temp folder, removed by the destructor.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& file);
void WriteAll(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);
void WriteAll(const std::filesystem::path& file, const std::string& text);

// Little-endian byte builder for synthetic files.
class TByteBuilder {
public:
    TByteBuilder& U8(std::uint32_t v);
    TByteBuilder& U16LE(std::uint32_t v);
    TByteBuilder& U32LE(std::uint32_t v);
    TByteBuilder& U16BE(std::uint32_t v);
    TByteBuilder& U32BE(std::uint32_t v);
    TByteBuilder& Bytes(const std::vector<std::uint8_t>& bytes);
    TByteBuilder& Text(const std::string& text);
    TByteBuilder& Fill(std::size_t count, std::uint8_t value);
    const std::vector<std::uint8_t>& Data() const { return m_data; }
    std::size_t Size() const { return m_data.size(); }

private:
    std::vector<std::uint8_t> m_data;
};

// Deterministic pseudo-random image of the given format; palette formats get a
// random palette filling their capacity.
void FillRandom(TPixelGraphic& image, int width, int height, TBitCount bitCount, std::uint32_t seed);

// True when both images have the same size, format, palette and pixel values.
bool SamePixels(const TPixelGraphic& a, const TPixelGraphic& b, std::string* why = nullptr);

}  // namespace rastova::test

namespace rastova::test {

// One row of the third-party suites' MANIFEST.tsv.
struct TManifestRow {
    std::string path;  // relative to TestSuitesDir()
    std::string format;
    std::string variant;
    std::string expectation;  // "loads", "refused" or "undefined"
    std::string note;
};

// Rows whose format column is one of the given names (all rows when empty);
// empty when the suites are not present.
std::vector<TManifestRow> ManifestRows(const std::vector<std::string>& formats = {});

// Loads a suite file the way the batch converter does (ReadWarningAction
// pgwaIgnore, index 0). Returns "" on success, else the exception text; an
// exception outside the library's family is reported as "FOREIGN: <what>".
std::string LoadLikeConverter(const std::filesystem::path& file, TPixelGraphic& image);

}  // namespace rastova::test

#include "image/FileFormats.h"
#include "image/PGExceptions.h"

namespace rastova::test {

// The message of the TException that the call raises; "(nothing raised)" when
// it raises nothing. Any other exception passes through and fails the test.
template <class TException = EPixelGraphic, class TCall>
std::string MessageOf(TCall&& call)
{
    try {
        call();
    } catch (const TException& e) {
        return e.what();
    }
    return "(nothing raised)";
}

// Answers the library's warning boxes with a fixed answer and records what
// it was asked; the host's question function is removed again afterwards.
class TQuestionRecorder {
public:
    explicit TQuestionRecorder(TQuestionAnswer answer)
    {
        SetQuestionFunction([this, answer](const std::string& text, const std::string& caption, TQuestionButtons b) {
            texts.push_back(text);
            captions.push_back(caption);
            buttons.push_back(b);
            return answer;
        });
    }
    ~TQuestionRecorder() { SetQuestionFunction(nullptr); }
    TQuestionRecorder(const TQuestionRecorder&) = delete;
    TQuestionRecorder& operator=(const TQuestionRecorder&) = delete;

    std::vector<std::string> texts, captions;
    std::vector<TQuestionButtons> buttons;
};

}  // namespace rastova::test

namespace rastova::test {

// The text of the TException that the call raises, or nothing when it raises
// nothing. Any other exception passes through and fails the test.
template <class TException = EPixelGraphic>
std::optional<std::string> Raised(const std::function<void()>& call)
{
    try {
        call();
    } catch (const TException& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

// Raw pixel values of one row, and of the whole image top row first.
std::vector<std::uint32_t> RowValues(const TPixelGraphic& image, int y);
std::vector<std::uint32_t> PixelValues(const TPixelGraphic& image);

// Records an image's progress and change events: as text in order ("start",
// "step/max", "end", "changed") and as counts, steps and senders. Sets Abort
// at the progress event whose step is abortAt; raises from the one at throwAt.
struct TProgressLog {
    std::vector<std::string> events;
    int starts = 0, ends = 0;
    std::vector<int> steps, maxima;
    std::vector<TObject*> senders;  // of every start, progress and end event
    int abortAt = -1;
    int throwAt = -1;

    void Attach(TPixelGraphic& image);
    // "start", then count progress events 0/max, 1/max ..., then "end" and "changed".
    std::vector<std::string> Expected(int count, int max, bool withEnd = true) const;
};

// A memory stream that fails past limit bytes: reads and writes raise the
// stream errors when throws is set; otherwise writes store nothing and reads
// go on as usual.
class TFailingStream : public TMemoryStream {
public:
    TFailingStream(std::vector<std::uint8_t> data, std::int64_t limit, bool throws)
        : TMemoryStream(std::move(data)), m_limit(limit), m_throws(throws)
    {
    }
    std::int64_t Read(void* buffer, std::int64_t count) override
    {
        if (Position() + count > m_limit && m_throws)
            throw EReadError("Stream read error");
        return TMemoryStream::Read(buffer, count);
    }
    std::int64_t Write(const void* buffer, std::int64_t count) override
    {
        if (Position() + count > m_limit) {
            if (m_throws)
                throw EWriteError("Stream write error");
            return 0;
        }
        return TMemoryStream::Write(buffer, count);
    }

private:
    std::int64_t m_limit;
    bool m_throws;
};

// One reader or writer call on bytes in memory.
template <class TReader>
TFileInfo InfoWith(const std::vector<std::uint8_t>& bytes, int imageIndex = 0)
{
    TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
    TReader reader;
    TFileInfo info;
    reader.GetInfo(stream, imageIndex, info);
    return info;
}

template <class TReader>
void ReadWith(const std::vector<std::uint8_t>& bytes, TPixelGraphic& image, int imageIndex = 0)
{
    TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
    TReader reader;
    reader.Read(stream, image, imageIndex);
}

template <class TWriter>
std::vector<std::uint8_t> WriteWith(TPixelGraphic& image)
{
    TMemoryStream stream;
    TWriter writer;
    writer.Write(stream, image);
    return stream.Data();
}

}  // namespace rastova::test
