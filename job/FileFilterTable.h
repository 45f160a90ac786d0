// The file-type filters of the main window's filter combo, without Qt, so the
// command line finds "All image files" by the same list.
#pragma once

#include <array>

namespace rastova {

struct TFileFilter {
    const char* Description;
    const char* Mask;  // wildcard patterns separated by ';'
};

inline constexpr int kFileFilterCount = 25;
extern const std::array<TFileFilter, kFileFilterCount> kFileFilters;

}  // namespace rastova
