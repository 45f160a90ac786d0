// A small stream family: readers and writers work on a TStream positioned
// where the load or save began.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rastova {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

// The system's text for an errno value; safe to call from any thread.
std::string SystemErrorText(int error);

class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    // Transfer up to count bytes; return how many moved (0 at the end).
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Returns the new position. Seeking past the end is allowed (as with files);
    // a negative target raises EStreamError.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

    std::int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, soBeginning); }
    virtual std::int64_t Size();
    // Bytes left from the position to the end; 0 when the position is past the end.
    std::int64_t Remaining();

    // Exact transfers: anything short raises EReadError "Stream read error" /
    // EWriteError "Stream write error".
    void ReadBuffer(void* buffer, std::int64_t count);
    void WriteBuffer(const void* buffer, std::int64_t count);

    // Little helpers for fixed-size fields, built on ReadBuffer/WriteBuffer.
    std::uint8_t ReadByte();
    void WriteByte(std::uint8_t value);

protected:
    // The text of a failed exact write; a file stream adds the system's reason,
    // so that a full disk says so.
    virtual std::string WriteErrorText() const { return "Stream write error"; }
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> data) : m_data(std::move(data)) {}
    TMemoryStream(const void* data, std::size_t size);

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return std::int64_t(m_data.size()); }

    void Clear();
    void SetSize(std::int64_t size);
    const std::uint8_t* Memory() const { return m_data.data(); }
    std::uint8_t* Memory() { return m_data.data(); }
    const std::vector<std::uint8_t>& Data() const { return m_data; }

private:
    std::vector<std::uint8_t> m_data;
    std::int64_t m_position = 0;
};

// A read-only view of bytes owned by someone else (fuzzers, clipboard blocks).
class TReadOnlyMemoryStream : public TStream {
public:
    TReadOnlyMemoryStream(const void* data, std::size_t size)
        : m_data(static_cast<const std::uint8_t*>(data)), m_size(std::int64_t(size)) {}

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return m_size; }

private:
    const std::uint8_t* m_data;
    std::int64_t m_size;
    std::int64_t m_position = 0;
};

enum TFileMode { fmOpenRead, fmCreate, fmOpenReadWrite };

class TFileStream : public TStream {
public:
    // Raises EFOpenError / EFCreateError when the file cannot be opened.
    TFileStream(const std::string& fileName, TFileMode mode);
    ~TFileStream() override;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;

    // Flushes and closes; raises EWriteError when buffered data cannot be written.
    void Close();
    const std::string& FileName() const { return m_fileName; }

protected:
    std::string WriteErrorText() const override;

private:
    std::FILE* m_file = nullptr;
    std::string m_fileName;
    int m_writeError = 0;  // errno of the last failed write; 0: none
};

}  // namespace rastova
