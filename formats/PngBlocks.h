// The image data of a PNG file compressed on several threads: the filtered rows
// are cut into blocks of whole rows, each block is deflated on its own with the
// 32 KB of filtered data before it as its dictionary and ends on a byte
// boundary, and the pieces joined give one ordinary zlib stream with one
// Adler-32. Any PNG reader reads it; the file is within a fraction of a percent
// of one stream's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace rastova {

struct TPngBlockLayout {
    int Height = 0;
    std::size_t RowBytes = 0;     // unfiltered bytes of a row
    int BytesPerPixel = 1;        // the filters' distance, at least 1
    bool Filter = true;           // choose a filter per row; otherwise filter type 0 everywhere
    std::size_t BlockBytes = 0;   // filtered bytes per block, rounded up to whole rows; 0: the default
};

struct TPngBlockCoding {
    int Level = 6;   // zlib level
    int Threads = 0;  // 0: one per online processor
};

// Unfiltered row y (top row 0) in PNG byte order into dest, RowBytes long. Called
// from several threads at once, so it must only read shared state.
using TPngRowSource = std::function<void(int y, std::uint8_t* dest)>;
// Receives the zlib stream piece by piece, in order, on the calling thread, with
// the number of rows the stream holds so far.
using TPngStreamSink = std::function<void(const std::uint8_t* data, std::size_t size, int rowsDone)>;

// The default block: large enough that a block's flush and its dictionary cost
// little, small enough that a picture of a few megapixels gives every thread work.
constexpr std::size_t kPngDefaultBlockBytes = std::size_t(256) << 10;

void CompressPngRows(const TPngBlockLayout& layout, const TPngBlockCoding& coding, const TPngRowSource& rows,
                     const TPngStreamSink& sink);

// The filter libpng's writer would choose: the one whose output, read as signed
// bytes, has the smallest sum of magnitudes; ties go to the lower filter type.
// Writes the type byte and the filtered row (RowBytes) to out.
void FilterPngRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes, int bytesPerPixel,
                  std::uint8_t* out);

}  // namespace rastova
