// The output sizes that the grid images of a HEIF file declare. libheif 1.15
// sizes the picture it assembles from a grid by the grid's own description and
// checks only the coded sizes against its limit, so the reader looks first.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace rastova {

// Width and height of every grid item whose description can be found; a file
// that cannot be followed simply yields fewer (libheif then judges it).
std::vector<std::pair<std::uint32_t, std::uint32_t>> HeifGridSizes(const std::vector<std::uint8_t>& file);

}  // namespace rastova
