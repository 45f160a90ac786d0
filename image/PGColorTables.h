// Library-wide constant tables of colour conversion. Internal to the image core.
//
// All of them are built once, on first use, by thread-safe static
// initialisation (or at compile time), and are only read afterwards.
#pragma once

#include "image/PGTypes.h"

#include <array>
#include <cstdint>

namespace rastova {

// Clamp of -510..510 into 0..255, indexed by the value itself: ClampTable()[v].
// Corrected components (component + limited error) always fall in that range.
const int* ClampTable();
constexpr int kClampTableMin = -510;
constexpr int kClampTableMax = 510;

// Three system-colour candidates for each coarse cell (R shr 6, G shr 6, B shr 6).
extern const std::uint8_t kSys16Candidates[64][3];
inline int Sys16Cell(int r, int g, int b)
{
    return (r >> 6) * 16 + (g >> 6) * 4 + (b >> 6);
}

// Index of the pGray236 entry nearest to v / 3 for a gray sum v = 0..765.
const std::array<std::uint8_t, 766>& Gray236Index();

// Candidate lists of the 252-colour palette: cell k holds the palette indices
// List[Start[k]] .. List[Start[k + 1] - 1] in ascending order, exactly the set
// of entries that are nearest to some colour of the cell.
struct TSpecial252Cells {
    std::array<std::uint16_t, 730> Start{};
    std::array<std::uint8_t, 729 * 16> List{};
};
const TSpecial252Cells& Special252Cells();
inline int Special252Cell(int r, int g, int b)
{
    return ((r + 16) >> 5) * 81 + ((g + 16) >> 5) * 9 + ((b + 16) >> 5);
}

// Squared distance of two colours, never weighted.
inline int ColorDistance(int r1, int g1, int b1, int r2, int g2, int b2)
{
    return (r1 - r2) * (r1 - r2) + (g1 - g2) * (g1 - g2) + (b1 - b2) * (b1 - b2);
}

}  // namespace rastova
