#include "image/BestPalette.h"

#include "image/PGraphic.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <unordered_set>

namespace rastova {

namespace {

// Histogram cells of 5 bits per channel, with a zero border at index 0 so that
// the cumulative moments need no special case at the low end.
constexpr int kSide = 33;
constexpr int kCells = kSide * kSide * kSide;
constexpr int kKMeansPasses = 4;

constexpr int CellIndex(int r, int g, int b)
{
    return (r * kSide + g) * kSide + b;
}

// Pixel count, channel sums and sum of squares per cell; cumulative after Accumulate.
struct TMoments {
    std::vector<std::int64_t> w = std::vector<std::int64_t>(kCells), r = w, g = w, b = w;
    std::vector<double> m2 = std::vector<double>(kCells);
};

// A box of cells: low bounds exclusive, high bounds inclusive.
struct TBox {
    int r0 = 0, r1 = kSide - 1, g0 = 0, g1 = kSide - 1, b0 = 0, b1 = kSide - 1;
    int Volume() const { return (r1 - r0) * (g1 - g0) * (b1 - b0); }
};

template <class T>
T Vol(const TBox& c, const std::vector<T>& m)
{
    return m[CellIndex(c.r1, c.g1, c.b1)] - m[CellIndex(c.r1, c.g1, c.b0)] - m[CellIndex(c.r1, c.g0, c.b1)] +
           m[CellIndex(c.r1, c.g0, c.b0)] - m[CellIndex(c.r0, c.g1, c.b1)] + m[CellIndex(c.r0, c.g1, c.b0)] +
           m[CellIndex(c.r0, c.g0, c.b1)] - m[CellIndex(c.r0, c.g0, c.b0)];
}

// The box with its bound on axis (0 red, 1 green, 2 blue) set: low to 0 or high to pos.
TBox WithBound(TBox c, int axis, bool high, int pos)
{
    int* bounds[3][2] = {{&c.r0, &c.r1}, {&c.g0, &c.g1}, {&c.b0, &c.b1}};
    *bounds[axis][high ? 1 : 0] = pos;
    return c;
}

// Sum of a moment over the part of box c below pos on axis (cells low..pos].
std::int64_t Below(const TBox& c, int axis, int pos, const std::vector<std::int64_t>& m)
{
    return Vol(WithBound(c, axis, true, pos), m);
}

struct TSums {
    std::int64_t w = 0, r = 0, g = 0, b = 0;
    double Energy() const { return w == 0 ? 0 : (double(r) * r + double(g) * g + double(b) * b) / double(w); }
    TSums operator-(const TSums& o) const { return {w - o.w, r - o.r, g - o.g, b - o.b}; }
};

TSums SumsOf(const TBox& c, const TMoments& m)
{
    return {Vol(c, m.w), Vol(c, m.r), Vol(c, m.g), Vol(c, m.b)};
}

// The best cut of box c on one axis: the split that most lowers the squared
// error; cut stays -1 when none leaves both halves filled.
double BestCut(const TBox& c, int axis, const TMoments& m, const TSums& whole, int& cut)
{
    const int low = axis == 0 ? c.r0 : axis == 1 ? c.g0 : c.b0;
    const int high = axis == 0 ? c.r1 : axis == 1 ? c.g1 : c.b1;
    double best = 0;
    cut = -1;
    for (int pos = low + 1; pos < high; ++pos) {
        const TSums half{Below(c, axis, pos, m.w), Below(c, axis, pos, m.r), Below(c, axis, pos, m.g),
                         Below(c, axis, pos, m.b)};
        const TSums rest = whole - half;
        if (half.w == 0 || rest.w == 0)
            continue;
        const double gain = half.Energy() + rest.Energy();
        if (gain > best) {
            best = gain;
            cut = pos;
        }
    }
    return best;
}

// Splits box into box and added; false when it cannot be split.
bool Split(TBox& box, TBox& added, const TMoments& m)
{
    const TSums whole = SumsOf(box, m);
    int cuts[3];
    double gains[3];
    for (int axis = 0; axis < 3; ++axis)
        gains[axis] = BestCut(box, axis, m, whole, cuts[axis]);
    const int axis = int(std::max_element(gains, gains + 3) - gains);
    if (cuts[axis] < 0)
        return false;
    added = WithBound(box, axis, false, cuts[axis]);
    box = WithBound(box, axis, true, cuts[axis]);
    return true;
}

double Variance(const TBox& c, const TMoments& m)
{
    if (c.Volume() <= 1)
        return 0;
    return Vol(c, m.m2) - SumsOf(c, m).Energy();
}

// Turns cell moments into moments of all cells up to each one, axis by axis.
void Accumulate(TMoments& m)
{
    const auto prefix = [](auto& v, int stride) {
        for (int i = 0; i < kCells; ++i)
            if ((i / stride) % kSide != 0)
                v[i] += v[i - stride];
    };
    for (const int stride : {1, kSide, kSide * kSide}) {
        prefix(m.w, stride);
        prefix(m.r, stride);
        prefix(m.g, stride);
        prefix(m.b, stride);
        prefix(m.m2, stride);
    }
}

// Wu's cuts: the box with the largest variance is split until there are count boxes.
std::vector<TBox> CutBoxes(const TMoments& m, int count)
{
    std::vector<TBox> boxes(1);
    std::vector<double> variance(1, Variance(boxes[0], m));
    while (int(boxes.size()) < count) {
        const std::size_t next = std::size_t(std::max_element(variance.begin(), variance.end()) - variance.begin());
        if (variance[next] <= 0)
            break;
        TBox added;
        if (!Split(boxes[next], added, m)) {
            variance[next] = 0;
            continue;
        }
        boxes.push_back(added);
        variance[next] = Variance(boxes[next], m);
        variance.push_back(Variance(added, m));
    }
    return boxes;
}

// One filled histogram cell as k-means sees it: its pixels' count and sums.
struct TPoint {
    float r, g, b;
    std::int64_t w, sr, sg, sb;
};

template <class TVisit>
void ForEachPixel(const TPixelGraphic& source, TVisit visit)
{
    for (int y = 0; y < source.Height(); ++y) {
        if (source.BitCount() == bc24) {
            const std::uint8_t* p = source.ScanLine(y);
            for (int x = 0; x < source.Width(); ++x, p += 3)
                visit(p[2], p[1], p[0]);
        } else {
            for (int x = 0; x < source.Width(); ++x) {
                const TRGB c = source.GetColor(x, y);
                visit(RedOf(c), GreenOf(c), BlueOf(c));
            }
        }
    }
}

// Cells of the finer histogram k-means refines over: 6 bits per channel.
constexpr int kFineBits = 6;
constexpr int kFineCells = 1 << (3 * kFineBits);

// The histogram's moments, and the filled cells of the finer one.
void Histogram(const TPixelGraphic& source, TMoments& m, std::vector<TPoint>& points)
{
    std::vector<TSums> fine(kFineCells);
    constexpr int shift = 8 - kFineBits;
    ForEachPixel(source, [&m, &fine](int r, int g, int b) {
        const int i = CellIndex((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
        ++m.w[i];
        m.r[i] += r;
        m.g[i] += g;
        m.b[i] += b;
        m.m2[i] += double(r * r + g * g + b * b);
        TSums& f = fine[std::size_t(((r >> shift) << (2 * kFineBits)) | ((g >> shift) << kFineBits) | (b >> shift))];
        ++f.w;
        f.r += r;
        f.g += g;
        f.b += b;
    });
    for (const TSums& f : fine)
        if (f.w > 0) {
            const float w = float(f.w);
            points.push_back({float(f.r) / w, float(f.g) / w, float(f.b) / w, f.w, f.r, f.g, f.b});
        }
}

// Exact nearest palette entries, fast: the colour cube in cells of 16 levels a
// channel, each with the entries that can be nearest to some colour inside it
// (an entry whose least distance to the cell exceeds the smallest greatest
// distance of any entry cannot), found when a cell is first asked and sorted by
// that least distance, so that a search stops at the first entry farther than
// the best so far.
class TNearestSearch {
public:
    explicit TNearestSearch(const std::vector<TRGB>& palette) : m_cells(kCellCount)
    {
        for (const TRGB c : palette)
            m_palette.push_back({RedOf(c), GreenOf(c), BlueOf(c)});
    }

    int Nearest(int r, int g, int b)
    {
        std::vector<TCandidate>& candidates = m_cells[std::size_t(((r >> kShift) << (16 - 2 * kShift)) | ((g >> kShift) << (8 - kShift)) | (b >> kShift))];
        if (candidates.empty())
            candidates = CandidatesOf(r >> kShift, g >> kShift, b >> kShift);
        int best = candidates[0].index, bestDistance = std::numeric_limits<int>::max();
        for (const TCandidate& candidate : candidates) {
            if (candidate.least > bestDistance)
                break;
            const auto& p = m_palette[candidate.index];
            const int d = (p[0] - r) * (p[0] - r) + (p[1] - g) * (p[1] - g) + (p[2] - b) * (p[2] - b);
            if (d < bestDistance || (d == bestDistance && candidate.index < best)) {
                bestDistance = d;
                best = candidate.index;
            }
        }
        return best;
    }

    TRGB Color(int index) const
    {
        const auto& p = m_palette[std::size_t(index)];
        return RGBValue(std::uint8_t(p[0]), std::uint8_t(p[1]), std::uint8_t(p[2]));
    }

private:
    static constexpr int kShift = 4;
    static constexpr int kCellCount = 1 << (3 * (8 - kShift));
    struct TCandidate {
        int least;
        std::uint8_t index;
    };

    std::vector<TCandidate> CandidatesOf(int cr, int cg, int cb) const
    {
        const int cell[3] = {cr, cg, cb};
        std::vector<TCandidate> all;
        int bound = std::numeric_limits<int>::max();
        for (std::size_t k = 0; k < m_palette.size(); ++k) {
            int nearest = 0, farthest = 0;
            for (int c = 0; c < 3; ++c) {
                const int lo = cell[c] << kShift, hi = lo + (1 << kShift) - 1, v = m_palette[k][std::size_t(c)];
                const int in = v < lo ? lo - v : v > hi ? v - hi : 0;
                const int out = std::max(v - lo, hi - v);
                nearest += in * in;
                farthest += out * out;
            }
            all.push_back({nearest, std::uint8_t(k)});
            bound = std::min(bound, farthest);
        }
        std::vector<TCandidate> candidates;
        for (const TCandidate& candidate : all)
            if (candidate.least <= bound)
                candidates.push_back(candidate);
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const TCandidate& a, const TCandidate& b) { return a.least < b.least; });
        return candidates;
    }

    std::vector<std::array<int, 3>> m_palette;
    std::vector<std::vector<TCandidate>> m_cells;
};

struct TCentre {
    float r, g, b;
};

std::uint8_t Channel(float v)
{
    return std::uint8_t(std::clamp(int(v + 0.5f), 0, 255));
}

std::vector<TRGB> Rounded(const std::vector<TCentre>& centres)
{
    std::vector<TRGB> colors;
    for (const TCentre& c : centres)
        colors.push_back(RGBValue(Channel(c.r), Channel(c.g), Channel(c.b)));
    return colors;
}

// Lloyd's passes over the filled cells, weighted by their pixels; a centre that
// loses every cell stays where it was. Cells go to the centre nearest their
// mean as rounded to whole levels, found through the candidate lists.
void Refine(std::vector<TCentre>& centres, const std::vector<TPoint>& points)
{
    for (int pass = 0; pass < kKMeansPasses; ++pass) {
        TNearestSearch search(Rounded(centres));
        std::vector<TSums> sums(centres.size());
        for (const TPoint& p : points) {
            TSums& s = sums[std::size_t(search.Nearest(Channel(p.r), Channel(p.g), Channel(p.b)))];
            s.w += p.w;
            s.r += p.sr;
            s.g += p.sg;
            s.b += p.sb;
        }
        for (std::size_t k = 0; k < centres.size(); ++k)
            if (sums[k].w > 0) {
                const float w = float(sums[k].w);
                centres[k] = {float(sums[k].r) / w, float(sums[k].g) / w, float(sums[k].b) / w};
            }
    }
}

// The source's colours in order of first appearance, when there are at most count.
std::vector<TRGB> FewColors(const TPixelGraphic& source, int count)
{
    std::unordered_set<TRGB> seen;
    std::vector<TRGB> colors;
    bool few = true;
    for (int y = 0; y < source.Height() && few; ++y)
        for (int x = 0; x < source.Width() && few; ++x) {
            const TRGB c = source.GetColor(x, y);
            if (seen.insert(c).second) {
                colors.push_back(c);
                few = int(colors.size()) <= count;
            }
        }
    return few ? colors : std::vector<TRGB>{};
}

// Floyd-Steinberg error diffusion in sixteenths, rows alternately left to right
// and right to left, the error of each channel kept within +-limit.
void DiffuseRow(const TPixelGraphic& source, TPixelGraphic& target, TNearestSearch& search, int y,
                std::vector<int>& current, std::vector<int>& next, std::vector<std::uint8_t>& indices)
{
    constexpr int kLimit = 48;
    const int width = source.Width();
    const bool forward = y % 2 == 0;
    const int step = forward ? 1 : -1;
    std::fill(next.begin(), next.end(), 0);
    for (int i = 0, x = forward ? 0 : width - 1; i < width; ++i, x += step) {
        const std::uint8_t* bgr = source.BitCount() == bc24 ? source.ScanLine(y) + 3 * x : nullptr;
        const TRGB color = bgr ? RGBValue(bgr[2], bgr[1], bgr[0]) : source.GetColor(x, y);
        const int want[3] = {RedOf(color), GreenOf(color), BlueOf(color)};
        int value[3];
        for (int c = 0; c < 3; ++c) {
            const int error = std::clamp((current[std::size_t(3 * (x + 1) + c)] + 8) >> 4, -kLimit, kLimit);
            value[c] = std::clamp(want[c] + error, 0, 255);
        }
        const int index = search.Nearest(value[0], value[1], value[2]);
        indices[std::size_t(x)] = std::uint8_t(index);
        const TRGB got = search.Color(index);
        const int have[3] = {RedOf(got), GreenOf(got), BlueOf(got)};
        for (int c = 0; c < 3; ++c) {
            const int e = value[c] - have[c];
            const std::size_t at = std::size_t(3 * (x + 1) + c), ahead = std::size_t(int(at) + 3 * step),
                              behind = std::size_t(int(at) - 3 * step);
            current[ahead] += 7 * e;
            next[behind] += 3 * e;
            next[at] += 5 * e;
            next[ahead] += e;
        }
    }
    current.swap(next);
    if (target.BitCount() == bc8)
        std::copy(indices.begin(), indices.end(), target.ScanLine(y));
    else
        for (int x = 0; x < width; ++x)
            target.SetPixel(x, y, indices[std::size_t(x)]);
}

}  // namespace

void DitherToBestPalette(const TPixelGraphic& source, TPixelGraphic& target)
{
    std::vector<TRGB> palette;
    for (int i = 0; i < target.PaletteCount(); ++i)
        palette.push_back(target.GetPaletteColor(i));
    if (palette.empty() || source.Width() != target.Width() || source.Height() != target.Height())
        return;
    TNearestSearch search(palette);
    // One guard entry at each end of the rows of errors.
    std::vector<int> current(3 * std::size_t(source.Width() + 2)), next(current.size());
    std::vector<std::uint8_t> indices(std::size_t(source.Width()));
    for (int y = 0; y < source.Height(); ++y)
        DiffuseRow(source, target, search, y, current, next, indices);
    target.Changed();
}

std::vector<TRGB> BestPaletteColors(const TPixelGraphic& source, int colorCount)
{
    colorCount = std::clamp(colorCount, 1, 256);
    if (source.Width() < 1 || source.Height() < 1)
        return {0};
    std::vector<TRGB> colors = FewColors(source, colorCount);
    if (!colors.empty())
        return colors;
    TMoments m;
    std::vector<TPoint> points;
    Histogram(source, m, points);
    Accumulate(m);
    std::vector<TCentre> centres;
    for (const TBox& box : CutBoxes(m, colorCount)) {
        const TSums s = SumsOf(box, m);
        centres.push_back({float(s.r) / float(s.w), float(s.g) / float(s.w), float(s.b) / float(s.w)});
    }
    Refine(centres, points);
    return Rounded(centres);
}

void CreateBestPalette(TPixelGraphic& target, const TPixelGraphic& source, int colorCount)
{
    const std::vector<TRGB> colors = BestPaletteColors(source, colorCount);
    target.SetPaletteCount(int(colors.size()));
    for (int i = 0; i < int(colors.size()); ++i)
        target.SetPaletteColor(i, colors[std::size_t(i)]);
}

}  // namespace rastova
