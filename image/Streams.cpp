#include "image/Streams.h"

#include "image/PGExceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace rastova {

namespace {

std::int64_t SeekTarget(std::int64_t offset, TSeekOrigin origin, std::int64_t position, std::int64_t size)
{
    std::int64_t base = 0;
    switch (origin) {
    case soBeginning: base = 0; break;
    case soCurrent: base = position; break;
    case soEnd: base = size; break;
    }
    if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) ||
        base + offset < 0)
        throw EStreamError("Stream seek error");
    return base + offset;
}

}  // namespace

std::int64_t TStream::Size()
{
    const std::int64_t position = Seek(0, soCurrent);
    const std::int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

std::int64_t TStream::Remaining()
{
    const std::int64_t position = Position();
    const std::int64_t size = Size();
    return position < size ? size - position : 0;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count)
{
    if (count < 0 || (count != 0 && Read(buffer, count) != count))
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count)
{
    if (count < 0 || (count != 0 && Write(buffer, count) != count))
        throw EWriteError(WriteErrorText());
}

std::uint8_t TStream::ReadByte()
{
    std::uint8_t value = 0;
    ReadBuffer(&value, 1);
    return value;
}

void TStream::WriteByte(std::uint8_t value)
{
    WriteBuffer(&value, 1);
}

// ---- TMemoryStream ------------------------------------------------------------------

TMemoryStream::TMemoryStream(const void* data, std::size_t size)
    : m_data(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size)
{
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count)
{
    const std::int64_t size = Size();
    if (count <= 0 || m_position >= size)
        return 0;
    const std::int64_t n = std::min(count, size - m_position);
    std::memcpy(buffer, m_data.data() + m_position, std::size_t(n));
    m_position += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count)
{
    if (count <= 0)
        return 0;
    const std::int64_t end = m_position + count;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (m_position >= Size()) {
        // Appending: grow without zero-filling bytes that are overwritten at once.
        m_data.resize(std::size_t(m_position));
        m_data.insert(m_data.end(), bytes, bytes + count);
    } else {
        if (end > Size())
            m_data.resize(std::size_t(end));
        std::memcpy(m_data.data() + m_position, bytes, std::size_t(count));
    }
    m_position = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    m_position = SeekTarget(offset, origin, m_position, Size());
    return m_position;
}

void TMemoryStream::Clear()
{
    m_data.clear();
    m_position = 0;
}

void TMemoryStream::SetSize(std::int64_t size)
{
    m_data.resize(std::size_t(std::max<std::int64_t>(size, 0)));
    m_position = std::min(m_position, Size());
}

// ---- TReadOnlyMemoryStream ------------------------------------------------------------

std::int64_t TReadOnlyMemoryStream::Read(void* buffer, std::int64_t count)
{
    if (count <= 0 || m_position >= m_size)
        return 0;
    const std::int64_t n = std::min(count, m_size - m_position);
    std::memcpy(buffer, m_data + m_position, std::size_t(n));
    m_position += n;
    return n;
}

std::int64_t TReadOnlyMemoryStream::Write(const void*, std::int64_t)
{
    return 0;
}

std::int64_t TReadOnlyMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    m_position = SeekTarget(offset, origin, m_position, m_size);
    return m_position;
}

std::string SystemErrorText(int error)
{
    char buffer[256] = {};
    // The GNU form returns either the buffer or a static text, never a shared one.
    return strerror_r(error, buffer, sizeof buffer);
}

// ---- TFileStream ----------------------------------------------------------------------

std::string TFileStream::WriteErrorText() const
{
    const std::string text = TStream::WriteErrorText();
    return m_writeError != 0 ? text + ": " + SystemErrorText(m_writeError) : text;
}

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : m_fileName(fileName)
{
    const char* modeText = mode == fmOpenRead ? "rb" : mode == fmCreate ? "w+b" : "r+b";
    m_file = std::fopen(fileName.c_str(), modeText);
    if (!m_file) {
        const std::string reason = SystemErrorText(errno);
        if (mode == fmCreate)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + reason);
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + reason);
    }
}

TFileStream::~TFileStream()
{
    if (m_file)
        std::fclose(m_file);
}

void TFileStream::Close()
{
    if (!m_file)
        return;
    const int flushed = std::fflush(m_file);
    const int flushError = errno;
    const int closed = std::fclose(m_file);
    m_file = nullptr;
    if (flushed != 0 || closed != 0) {
        m_writeError = flushed != 0 ? flushError : errno;
        throw EWriteError(WriteErrorText());
    }
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count)
{
    if (!m_file || count <= 0)
        return 0;
    return std::int64_t(std::fread(buffer, 1, std::size_t(count), m_file));
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count)
{
    if (!m_file || count <= 0)
        return 0;
    const std::size_t written = std::fwrite(buffer, 1, std::size_t(count), m_file);
    if (written != std::size_t(count))
        m_writeError = errno;
    return std::int64_t(written);
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    if (!m_file)
        throw EStreamError("Stream seek error");
    if (origin == soCurrent && offset == 0)
        return std::int64_t(ftello(m_file));
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    if (fseeko(m_file, off_t(offset), whence) != 0)
        throw EStreamError("Stream seek error");
    return std::int64_t(ftello(m_file));
}

std::int64_t TFileStream::Size()
{
    if (!m_file)
        return 0;
    const off_t position = ftello(m_file);
    fseeko(m_file, 0, SEEK_END);
    const off_t size = ftello(m_file);
    fseeko(m_file, position, SEEK_SET);
    return std::int64_t(size);
}

}  // namespace rastova
