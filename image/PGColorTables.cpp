#include "image/PGColorTables.h"

#include "image/PGPalettes.h"

#include <algorithm>
#include <bitset>
#include <cstdlib>
#include <vector>

namespace rastova {

namespace {

struct TClampTable {
    std::array<int, kClampTableMax - kClampTableMin + 1> Values{};
    constexpr TClampTable()
    {
        for (int v = kClampTableMin; v <= kClampTableMax; ++v)
            Values[std::size_t(v - kClampTableMin)] = std::min(std::max(v, 0), 255);
    }
};

constexpr TClampTable kClampTable;

}  // namespace

const int* ClampTable()
{
    return kClampTable.Values.data() - kClampTableMin;
}

const std::uint8_t kSys16Candidates[64][3] = {
    {0, 0, 0},   {4, 4, 4},   {4, 4, 4},    {12, 12, 12}, {2, 2, 2},   {6, 6, 6},    {6, 6, 6},    {6, 12, 12},
    {2, 2, 2},   {6, 6, 6},   {6, 6, 6},    {6, 14, 14},  {10, 10, 10}, {6, 10, 10}, {6, 14, 14},  {14, 14, 14},
    {1, 1, 1},   {5, 5, 5},   {5, 5, 5},    {5, 12, 12},  {3, 3, 3},   {8, 8, 8},    {8, 8, 8},    {8, 12, 12},
    {3, 3, 3},   {8, 8, 8},   {8, 8, 8},    {7, 8, 14},   {3, 10, 10}, {8, 10, 10},  {7, 8, 14},   {7, 14, 14},
    {1, 1, 1},   {5, 5, 5},   {5, 5, 5},    {5, 13, 13},  {3, 3, 3},   {8, 8, 8},    {8, 8, 8},    {7, 8, 13},
    {3, 3, 3},   {8, 8, 8},   {7, 8, 8},    {7, 7, 7},    {3, 11, 11}, {7, 8, 11},   {7, 7, 7},    {7, 7, 7},
    {9, 9, 9},   {5, 9, 9},   {5, 13, 13},  {13, 13, 13}, {3, 9, 9},   {8, 9, 9},    {7, 8, 13},   {7, 13, 13},
    {3, 11, 11}, {7, 8, 11},  {7, 7, 7},    {7, 7, 7},    {11, 11, 11}, {7, 11, 11}, {7, 7, 7},    {7, 15, 15},
};

const std::array<std::uint8_t, 766>& Gray236Index()
{
    static const std::array<std::uint8_t, 766> table = [] {
        const std::vector<TRGB>& grays = StandardPalette(pGray236);
        std::array<std::uint8_t, 766> t{};
        for (int v = 0; v <= 765; ++v) {
            // Compare in thirds so that v / 3 needs no fractions.
            int best = 0;
            int bestDistance = std::abs(3 * RedOf(grays[0]) - v);
            for (int i = 1; i < int(grays.size()); ++i) {
                const int distance = std::abs(3 * RedOf(grays[std::size_t(i)]) - v);
                if (distance < bestDistance) {
                    best = i;
                    bestDistance = distance;
                }
            }
            t[std::size_t(v)] = std::uint8_t(best);
        }
        return t;
    }();
    return table;
}

namespace {

// A box of colours, inclusive bounds per channel (R, G, B).
struct TColorBox {
    int Lo[3];
    int Hi[3];
};

int SquaredGap(int p, int lo, int hi)
{
    const int d = p < lo ? lo - p : p > hi ? p - hi : 0;
    return d * d;
}

int SquaredReach(int p, int lo, int hi)
{
    const int d = std::max(std::abs(p - lo), std::abs(hi - p));
    return d * d;
}

constexpr int kSmallBox = 64;  // boxes of at most this many colours are searched colour by colour

struct TCandidates {
    std::uint8_t Index[252];
    int Count = 0;
};

// Nearest and farthest squared distance of each candidate from a box.
struct TBoxDistances {
    int Min[252], Max[252];
};

// The candidates that can be nearest somewhere in the box: an entry farther
// than some other entry's farthest point never wins. Their distances come along.
TCandidates KeepReachable(const std::array<TRGB, 252>& palette, const TColorBox& box, const TCandidates& candidates,
                          TBoxDistances& kept)
{
    TBoxDistances all;
    int bound = 0x7FFFFFFF;
    for (int k = 0; k < candidates.Count; ++k) {
        const TRGB c = palette[candidates.Index[k]];
        const int p[3] = {RedOf(c), GreenOf(c), BlueOf(c)};
        all.Min[k] = all.Max[k] = 0;
        for (int ch = 0; ch < 3; ++ch) {
            all.Min[k] += SquaredGap(p[ch], box.Lo[ch], box.Hi[ch]);
            all.Max[k] += SquaredReach(p[ch], box.Lo[ch], box.Hi[ch]);
        }
        bound = std::min(bound, all.Max[k]);
    }
    TCandidates result;
    for (int k = 0; k < candidates.Count; ++k)
        if (all.Min[k] <= bound) {
            kept.Min[result.Count] = all.Min[k];
            kept.Max[result.Count] = all.Max[k];
            result.Index[result.Count++] = candidates.Index[k];
        }
    return result;
}

// The one candidate that is nearest everywhere in the box, or -1. Only the
// first entry with the smallest farthest point can be: it must be nearer than
// every other entry at its nearest, or as near and earlier.
int DominatingCandidate(const TCandidates& kept, const TBoxDistances& d)
{
    int leader = -1;
    for (int k = 0; k < kept.Count; ++k)
        if (leader < 0 || d.Max[k] < d.Max[leader])
            leader = k;
    for (int j = 0; j < kept.Count; ++j)
        if (j != leader && !(d.Max[leader] < d.Min[j] || (d.Max[leader] <= d.Min[j] && kept.Index[leader] < kept.Index[j])))
            return -1;
    return leader;
}

// Colour by colour: the nearest candidate of each (the first on ties).
void SearchBox(const std::array<TRGB, 252>& palette, const TColorBox& box, const TCandidates& kept,
               std::bitset<252>& found)
{
    for (int r = box.Lo[0]; r <= box.Hi[0]; ++r)
        for (int g = box.Lo[1]; g <= box.Hi[1]; ++g)
            for (int b = box.Lo[2]; b <= box.Hi[2]; ++b) {
                int best = 0, bestDistance = 0x7FFFFFFF;
                for (int k = 0; k < kept.Count; ++k) {
                    const TRGB c = palette[kept.Index[k]];
                    const int d = ColorDistance(r, g, b, RedOf(c), GreenOf(c), BlueOf(c));
                    if (d < bestDistance) {
                        best = k;
                        bestDistance = d;
                    }
                }
                found.set(kept.Index[best]);
            }
}

// Adds to `found` every palette entry that is the nearest (first of the
// nearest on ties) to at least one colour of the box. `candidates` is in
// ascending index order and contains the nearest entry of every colour of the
// box. A box where one entry provably wins everywhere is settled without
// visiting its colours; a large undecided box is halved across its longest
// side, a small one searched.
void CollectNearest(const std::array<TRGB, 252>& palette, const TColorBox& box, const TCandidates& candidates,
                    std::bitset<252>& found)
{
    TBoxDistances distances;
    const TCandidates kept = KeepReachable(palette, box, candidates, distances);
    if (const int leader = DominatingCandidate(kept, distances); leader >= 0) {
        found.set(kept.Index[leader]);
        return;
    }
    const int volume = (box.Hi[0] - box.Lo[0] + 1) * (box.Hi[1] - box.Lo[1] + 1) * (box.Hi[2] - box.Lo[2] + 1);
    if (volume <= kSmallBox) {
        SearchBox(palette, box, kept, found);
        return;
    }
    int axis = 0;
    for (int ch = 1; ch < 3; ++ch)
        if (box.Hi[ch] - box.Lo[ch] > box.Hi[axis] - box.Lo[axis])
            axis = ch;
    const int middle = (box.Lo[axis] + box.Hi[axis]) / 2;
    TColorBox lower = box, upper = box;
    lower.Hi[axis] = middle;
    upper.Lo[axis] = middle + 1;
    CollectNearest(palette, lower, kept, found);
    CollectNearest(palette, upper, kept, found);
}

TSpecial252Cells BuildSpecial252Cells()
{
    const std::array<TRGB, 252>& palette = Special252Palette();
    TCandidates all;
    for (int i = 0; i < 252; ++i)
        all.Index[all.Count++] = std::uint8_t(i);
    const auto lowOf = [](int k) { return std::max(32 * k - 16, 0); };
    const auto highOf = [](int k) { return std::min(32 * k + 15, 255); };

    TSpecial252Cells cells;
    std::size_t used = 0;
    for (int cell = 0; cell < 729; ++cell) {
        const int kr = cell / 81, kg = cell / 9 % 9, kb = cell % 9;
        const TColorBox box{{lowOf(kr), lowOf(kg), lowOf(kb)}, {highOf(kr), highOf(kg), highOf(kb)}};
        std::bitset<252> found;
        CollectNearest(palette, box, all, found);
        cells.Start[std::size_t(cell)] = std::uint16_t(used);
        for (int i = 0; i < 252; ++i)
            if (found.test(std::size_t(i))) {
                if (used == cells.List.size())
                    std::abort();  // cannot happen: no cell comes near 16 nearest entries
                cells.List[used++] = std::uint8_t(i);
            }
    }
    cells.Start[729] = std::uint16_t(used);
    return cells;
}

}  // namespace

const TSpecial252Cells& Special252Cells()
{
    static const TSpecial252Cells cells = BuildSpecial252Cells();
    return cells;
}

}  // namespace rastova
