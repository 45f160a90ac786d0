// Vector kernels of the quarter turns: a tile of source rows read across, its
// columns written as target rows, four by four pixels in registers. They run
// where the processor has the byte shuffles they need and do nothing elsewhere,
// leaving every row to the caller's own loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rastova::detail {

// One tile of a quarter turn. Target row i (0 <= i < targetCount) is written
// at targets[i] + targetOffset with one pixel per source row (count of them,
// in order): the pixel at sourceOffset + i * step (step +1 or -1 pixels) of
// each. Source rows must be readable 16 bytes past the farthest pixel read.
struct TTransposeTile {
    const std::uint8_t* const* sourceRows;
    int count;
    std::ptrdiff_t sourceOffset;  // in bytes
    int step;
    std::uint8_t* const* targets;
    std::ptrdiff_t targetOffset;  // in bytes
    int targetCount;
};

// 24-bit source pixels; returns how many target rows (from the first, a
// multiple of four) were written, 0 where the kernel cannot run.
int TransposeBgrTile(const TTransposeTile& tile);

// 8-bit gray values written as 24-bit gray pixels, the same way.
int TransposeGrayTile(const TTransposeTile& tile);

// Half turns: count target pixels at to from the source pixels ending at last
// (the first target pixel), read backwards; the source is read only inside
// [last - count + 1 pixels, last pixel]. With stream set the target bytes
// bypass the cache (for pictures far larger than it). False, with nothing
// written, where the kernel cannot run.
bool ReverseBgrRow(const std::uint8_t* last, int count, std::uint8_t* to, bool stream);
// 8-bit gray values to 24-bit gray pixels, the same way.
bool ReverseGrayRow(const std::uint8_t* last, int count, std::uint8_t* to, bool stream);

}  // namespace rastova::detail
