#include "formats/PngBlocks.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <zlib.h>

namespace rastova {

namespace {

constexpr std::size_t kWindowBytes = 32768;

// A filtered byte's weight in the choice: its distance from zero as a signed byte.
inline unsigned Magnitude(std::uint8_t v)
{
    return v < 128 ? v : 256u - v;
}

inline std::uint8_t Paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc)
        return std::uint8_t(a);
    return std::uint8_t(pb <= pc ? b : c);
}

// Filter type T of a row into out; returns the sum of magnitudes. One loop per
// type, so the compiler keeps the type's arithmetic out of the loop.
template <int T>
unsigned long ApplyFilter(const std::uint8_t* row, const std::uint8_t* above, std::size_t n, std::size_t bpp,
                          std::uint8_t* out)
{
    const std::size_t lead = std::min(bpp, n);
    unsigned long sum = 0;
    for (std::size_t i = 0; i < lead; ++i) {
        const int predicted = T == 2 ? above[i] : T == 3 ? above[i] >> 1 : T == 4 ? above[i] : 0;
        out[i] = std::uint8_t(row[i] - predicted);
        sum += Magnitude(out[i]);
    }
    for (std::size_t i = lead; i < n; ++i) {
        const int a = row[i - bpp];
        const int b = above[i];
        int predicted = 0;
        if constexpr (T == 1)
            predicted = a;
        else if constexpr (T == 2)
            predicted = b;
        else if constexpr (T == 3)
            predicted = (a + b) >> 1;
        else if constexpr (T == 4)
            predicted = Paeth(a, b, above[i - bpp]);
        out[i] = std::uint8_t(row[i] - predicted);
        sum += Magnitude(out[i]);
    }
    return sum;
}

using TFilterFunction = unsigned long (*)(const std::uint8_t*, const std::uint8_t*, std::size_t, std::size_t,
                                          std::uint8_t*);
constexpr TFilterFunction kFilters[5] = {ApplyFilter<0>, ApplyFilter<1>, ApplyFilter<2>, ApplyFilter<3>,
                                         ApplyFilter<4>};

struct TBlock {
    int FirstRow = 0;
    int EndRow = 0;
};

struct TCompressed {
    std::vector<std::uint8_t> Data;
    std::uint32_t Adler = 1;
    std::size_t Length = 0;  // filtered bytes the block stands for
};

class TBlockCompressor {
public:
    TBlockCompressor(const TPngBlockLayout& layout, const TPngBlockCoding& coding, const TPngRowSource& rows)
        : m_layout(layout), m_coding(coding), m_rows(rows), m_lineBytes(layout.RowBytes + 1)
    {
    }

    TCompressed Compress(const TBlock& block, bool last) const;

private:
    std::vector<std::uint8_t> FilteredRows(int first, int end) const;
    void Deflate(const std::uint8_t* dictionary, std::size_t dictionaryBytes, const std::uint8_t* data,
                 std::size_t size, bool last, TCompressed& out) const;

    const TPngBlockLayout& m_layout;
    const TPngBlockCoding& m_coding;
    const TPngRowSource& m_rows;
    std::size_t m_lineBytes;
};

// Rows first..end-1 filtered, each with its type byte in front.
std::vector<std::uint8_t> TBlockCompressor::FilteredRows(int first, int end) const
{
    const std::size_t n = m_layout.RowBytes;
    std::vector<std::uint8_t> filtered(std::size_t(end - first) * m_lineBytes);
    std::vector<std::uint8_t> above(n, 0);
    std::vector<std::uint8_t> row(n);
    if (first > 0)
        m_rows(first - 1, above.data());
    for (int y = first; y < end; ++y) {
        m_rows(y, row.data());
        std::uint8_t* out = filtered.data() + std::size_t(y - first) * m_lineBytes;
        if (m_layout.Filter) {
            FilterPngRow(row.data(), above.data(), n, m_layout.BytesPerPixel, out);
        } else {
            out[0] = 0;
            std::copy(row.begin(), row.end(), out + 1);
        }
        above.swap(row);
    }
    return filtered;
}

TCompressed TBlockCompressor::Compress(const TBlock& block, bool last) const
{
    // The rows just before the block are filtered again here to give its
    // dictionary, so that no block waits for another.
    const int dictionaryRows =
        block.FirstRow == 0 ? 0 : int(std::min<std::size_t>(std::size_t(block.FirstRow), (kWindowBytes + m_lineBytes - 1) / m_lineBytes));
    const std::vector<std::uint8_t> filtered = FilteredRows(block.FirstRow - dictionaryRows, block.EndRow);
    const std::size_t prefix = std::size_t(dictionaryRows) * m_lineBytes;
    const std::size_t dictionaryBytes = std::min(prefix, kWindowBytes);
    TCompressed out;
    out.Length = filtered.size() - prefix;
    Deflate(filtered.data() + prefix - dictionaryBytes, dictionaryBytes, filtered.data() + prefix, out.Length, last,
            out);
    out.Adler = std::uint32_t(adler32_z(1, filtered.data() + prefix, out.Length));
    return out;
}

void TBlockCompressor::Deflate(const std::uint8_t* dictionary, std::size_t dictionaryBytes, const std::uint8_t* data,
                               std::size_t size, bool last, TCompressed& out) const
{
    z_stream z{};
    // Raw deflate: the zlib header and the checksum are written once for all blocks.
    const int strategy = m_layout.Filter ? Z_FILTERED : Z_DEFAULT_STRATEGY;
    if (deflateInit2(&z, m_coding.Level, Z_DEFLATED, -15, 8, strategy) != Z_OK)
        throw std::bad_alloc();
    struct TEnd {
        z_stream& z;
        ~TEnd() { deflateEnd(&z); }
    } end{z};
    if (dictionaryBytes > 0 &&
        deflateSetDictionary(&z, dictionary, uInt(dictionaryBytes)) != Z_OK)
        throw std::runtime_error("deflateSetDictionary failed");
    // A sync flush ends the block on a byte boundary with an empty stored block.
    out.Data.resize(deflateBound(&z, uLong(size)) + 16);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        z.next_out = out.Data.data() + z.total_out;
        z.avail_out = uInt(out.Data.size() - z.total_out);
        const int status = deflate(&z, flush);
        if (status == Z_STREAM_END || (status == Z_OK && z.avail_out > 0 && !last))
            break;
        if (status != Z_OK && status != Z_BUF_ERROR)
            throw std::runtime_error("deflate failed");
        out.Data.resize(out.Data.size() * 2);
    }
    out.Data.resize(z.total_out);
}

std::vector<TBlock> BlocksOf(const TPngBlockLayout& layout)
{
    const std::size_t lineBytes = layout.RowBytes + 1;
    const std::size_t wanted = layout.BlockBytes > 0 ? layout.BlockBytes : kPngDefaultBlockBytes;
    const int rowsPerBlock = int(std::max<std::size_t>(1, (wanted + lineBytes - 1) / lineBytes));
    std::vector<TBlock> blocks;
    for (int y = 0; y < layout.Height; y += rowsPerBlock)
        blocks.push_back({y, std::min(layout.Height, y + rowsPerBlock)});
    return blocks;
}

void Put32(std::uint8_t* at, std::uint32_t value)
{
    at[0] = std::uint8_t(value >> 24);
    at[1] = std::uint8_t(value >> 16);
    at[2] = std::uint8_t(value >> 8);
    at[3] = std::uint8_t(value);
}

// The zlib header zlib itself writes for this level and a 32 KB window.
void PutZlibHeader(int level, const TPngStreamSink& sink)
{
    const int effective = level == Z_DEFAULT_COMPRESSION ? 6 : level;
    const int levelFlags = effective < 2 ? 0 : effective < 6 ? 1 : effective == 6 ? 2 : 3;
    std::uint8_t header[2] = {0x78, std::uint8_t(levelFlags << 6)};
    header[1] = std::uint8_t(header[1] + 31 - (header[0] * 256 + header[1]) % 31);
    sink(header, 2, 0);
}

// Blocks are taken in order by the workers and handed to the sink in order; at
// most a few blocks per thread wait to be written, which bounds the memory.
class TBlockPipeline {
public:
    TBlockPipeline(const TBlockCompressor& compressor, const std::vector<TBlock>& blocks, int threads)
        : m_compressor(compressor), m_blocks(blocks), m_results(blocks.size()),
          m_ahead(std::size_t(threads) * 2 + 1)
    {
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { Work(); });
    }
    ~TBlockPipeline()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }
    TBlockPipeline(const TBlockPipeline&) = delete;
    TBlockPipeline& operator=(const TBlockPipeline&) = delete;

    // Waits for block i; rethrows what its worker threw.
    TCompressed Take(std::size_t i)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_results[i].has_value() || m_failure; });
        if (m_failure)
            std::rethrow_exception(m_failure);
        TCompressed result = std::move(*m_results[i]);
        m_results[i].reset();
        m_taken = i + 1;
        m_changed.notify_all();
        return result;
    }

private:
    void Work()
    {
        for (;;) {
            std::size_t i = 0;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return m_stop || m_failure || (m_next < m_blocks.size() && m_next < m_taken + m_ahead); });
                if (m_stop || m_failure || m_next >= m_blocks.size())
                    return;
                i = m_next++;
            }
            try {
                TCompressed result = m_compressor.Compress(m_blocks[i], i + 1 == m_blocks.size());
                std::lock_guard lock(m_mutex);
                m_results[i] = std::move(result);
            } catch (...) {
                std::lock_guard lock(m_mutex);
                m_failure = std::current_exception();
            }
            m_changed.notify_all();
        }
    }

    const TBlockCompressor& m_compressor;
    const std::vector<TBlock>& m_blocks;
    std::vector<std::optional<TCompressed>> m_results;
    std::size_t m_ahead;
    std::size_t m_next = 0;
    std::size_t m_taken = 0;
    bool m_stop = false;
    std::exception_ptr m_failure;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::thread> m_threads;
};

}  // namespace

void FilterPngRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes, int bytesPerPixel,
                  std::uint8_t* out)
{
    const std::size_t bpp = std::size_t(std::max(bytesPerPixel, 1));
    std::vector<std::uint8_t> trial(rowBytes);
    unsigned long best = kFilters[0](row, above, rowBytes, bpp, out + 1);
    out[0] = 0;
    for (int t = 1; t <= 4; ++t) {
        const unsigned long sum = kFilters[t](row, above, rowBytes, bpp, trial.data());
        if (sum < best) {
            best = sum;
            out[0] = std::uint8_t(t);
            std::copy(trial.begin(), trial.end(), out + 1);
        }
    }
}

void CompressPngRows(const TPngBlockLayout& layout, const TPngBlockCoding& coding, const TPngRowSource& rows,
                     const TPngStreamSink& sink)
{
    const std::vector<TBlock> blocks = BlocksOf(layout);
    const TBlockCompressor compressor(layout, coding, rows);
    PutZlibHeader(coding.Level, sink);
    if (blocks.empty()) {
        // No rows: an empty final block.
        TCompressed empty = compressor.Compress({0, 0}, true);
        sink(empty.Data.data(), empty.Data.size(), 0);
    }
    const int available = coding.Threads > 0 ? coding.Threads : int(std::max(1u, std::thread::hardware_concurrency()));
    const int threads = int(std::min<std::size_t>(std::size_t(available), blocks.size()));
    std::optional<TBlockPipeline> pipeline;
    if (threads > 1)
        pipeline.emplace(compressor, blocks, threads);
    std::uint32_t adler = 1;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const TCompressed block = pipeline ? pipeline->Take(i) : compressor.Compress(blocks[i], i + 1 == blocks.size());
        sink(block.Data.data(), block.Data.size(), blocks[i].EndRow);
        adler = std::uint32_t(adler32_combine(adler, block.Adler, z_off_t(block.Length)));
    }
    std::uint8_t trailer[4];
    Put32(trailer, adler);
    sink(trailer, 4, layout.Height);
}

}  // namespace rastova
