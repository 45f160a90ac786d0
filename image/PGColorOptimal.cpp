// Optimal palettes: median cut for true-colour sources, octree for palette sources.
#include "image/PGColorInternal.h"
#include "image/PGExceptions.h"
#include "image/PackedPixels.h"
#include "image/PGMessages.h"
#include "image/PGPalettes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>

namespace rastova {

namespace {

constexpr int kMaxBoxes = 256;
constexpr int kOctreeDepth = 8;

// ---- median cut -------------------------------------------------------------------------

// 32 x 64 x 32 saturating counters, cell (r, g, b) at r x 2048 + g x 32 + b.
using THistogram = std::vector<std::uint16_t>;

struct TBox {
    int Min[3];  // red, green, blue, in cell units
    int Max[3];
    std::int64_t Diag = 0;
    std::int64_t Volume = 0;
};

constexpr int kRed = 0, kGreen = 1, kBlue = 2;
constexpr int kAxisWeight[3] = {16, 12, 16};

// Counts every pixel of the source; OnProgress of `target` after each row.
void CountColors(TPixelGraphic& target, const TPixelGraphic& source, THistogram& histogram)
{
    std::uint16_t* h = histogram.data();
    const int width = source.Width();
    for (int y = 0; y < source.Height(); ++y) {
        const std::uint8_t* p = source.ScanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            std::uint16_t& counter = h[ColorCacheCell(p[2], p[1], p[0])];
            counter = std::uint16_t(counter + (counter != 0xFFFF));
        }
        if (target.Progress(&target, y, source.Height() - 1))
            break;
    }
}

// True when the plane `value` of `axis` holds a non-zero counter within the
// box's current ranges on the other two axes.
bool PlaneUsed(const THistogram& histogram, const TBox& box, int axis, int value)
{
    int lo[3] = {box.Min[0], box.Min[1], box.Min[2]};
    int hi[3] = {box.Max[0], box.Max[1], box.Max[2]};
    lo[axis] = hi[axis] = value;
    for (int r = lo[kRed]; r <= hi[kRed]; ++r)
        for (int g = lo[kGreen]; g <= hi[kGreen]; ++g) {
            const std::uint16_t* line = histogram.data() + r * 2048 + g * 32;
            for (int b = lo[kBlue]; b <= hi[kBlue]; ++b)
                if (line[b])
                    return true;
        }
    return false;
}

void Shrink(const THistogram& histogram, TBox& box)
{
    for (const int axis : {kBlue, kGreen, kRed}) {
        if (box.Min[axis] < box.Max[axis])
            for (int v = box.Min[axis]; v <= box.Max[axis]; ++v)
                if (PlaneUsed(histogram, box, axis, v)) {
                    box.Min[axis] = v;
                    break;
                }
        if (box.Min[axis] < box.Max[axis])
            for (int v = box.Max[axis]; v >= box.Min[axis]; --v)
                if (PlaneUsed(histogram, box, axis, v)) {
                    box.Max[axis] = v;
                    break;
                }
    }
    box.Diag = 0;
    box.Volume = 1;
    for (int axis = 0; axis < 3; ++axis) {
        const std::int64_t extent = std::int64_t(box.Max[axis] - box.Min[axis]) * kAxisWeight[axis];
        box.Diag += extent * extent;
        box.Volume *= box.Max[axis] - box.Min[axis] + 1;
    }
}

int ChooseBox(const std::vector<TBox>& boxes, int wanted)
{
    const bool byDiag = wanted < 2 * int(boxes.size());
    int chosen = -1;
    for (int k = 0; k < int(boxes.size()); ++k) {
        const TBox& box = boxes[std::size_t(k)];
        if (box.Diag <= 0)
            continue;
        if (chosen < 0) {
            chosen = k;
            continue;
        }
        const TBox& best = boxes[std::size_t(chosen)];
        if (byDiag ? box.Diag > best.Diag : box.Volume > best.Volume)
            chosen = k;
    }
    return chosen;
}

int SplitAxis(const TBox& box)
{
    const int extentR = (box.Max[kRed] - box.Min[kRed]) * kAxisWeight[kRed];
    const int extentG = (box.Max[kGreen] - box.Min[kGreen]) * kAxisWeight[kGreen];
    const int extentB = (box.Max[kBlue] - box.Min[kBlue]) * kAxisWeight[kBlue];
    int axis = extentG >= extentR ? kGreen : kRed;
    const int chosenExtent = axis == kGreen ? extentG : extentR;
    if (extentB > chosenExtent)
        axis = kBlue;
    return axis;
}

TRGB BoxMean(const THistogram& histogram, const TBox& box)
{
    std::uint64_t total = 0, sumR = 0, sumG = 0, sumB = 0;
    for (int r = box.Min[kRed]; r <= box.Max[kRed]; ++r)
        for (int g = box.Min[kGreen]; g <= box.Max[kGreen]; ++g) {
            const std::uint16_t* line = histogram.data() + r * 2048 + g * 32;
            for (int b = box.Min[kBlue]; b <= box.Max[kBlue]; ++b) {
                const std::uint64_t n = line[b];
                total += n;
                sumR += n * std::uint64_t(8 * r + 4);
                sumG += n * std::uint64_t(4 * g + 2);
                sumB += n * std::uint64_t(8 * b + 4);
            }
        }
    if (total == 0) {
        // Nothing was counted in the box (only possible when counting was cut
        // short): it stands for the colour at its centre.
        return RGBValue(std::uint8_t(8 * ((box.Min[kRed] + box.Max[kRed]) / 2) + 4),
                        std::uint8_t(4 * ((box.Min[kGreen] + box.Max[kGreen]) / 2) + 2),
                        std::uint8_t(8 * ((box.Min[kBlue] + box.Max[kBlue]) / 2) + 4));
    }
    return RGBValue(std::uint8_t((sumR + total / 2) / total), std::uint8_t((sumG + total / 2) / total),
                    std::uint8_t((sumB + total / 2) / total));
}

std::vector<TRGB> MedianCut(TPixelGraphic& target, const TPixelGraphic& source, int wanted)
{
    THistogram histogram(kColorCacheCells, 0);
    CountColors(target, source, histogram);
    std::vector<TBox> boxes;
    boxes.reserve(kMaxBoxes);
    boxes.push_back(TBox{{0, 0, 0}, {31, 63, 31}});
    Shrink(histogram, boxes.front());
    while (int(boxes.size()) < wanted && int(boxes.size()) < kMaxBoxes) {
        const int chosen = ChooseBox(boxes, wanted);
        if (chosen < 0)
            break;
        TBox& box = boxes[std::size_t(chosen)];
        const int axis = SplitAxis(box);
        const int middle = (box.Min[axis] + box.Max[axis]) / 2;
        TBox upper = box;
        upper.Min[axis] = middle + 1;
        box.Max[axis] = middle;
        Shrink(histogram, box);
        Shrink(histogram, upper);
        boxes.push_back(upper);
    }
    std::vector<TRGB> colors;
    for (const TBox& box : boxes)
        colors.push_back(BoxMean(histogram, box));
    return colors;
}

// ---- octree -------------------------------------------------------------------------------

class TOctree {
public:
    explicit TOctree(int wanted) : m_wanted(wanted)
    {
        m_lists.fill(kNil);
        m_root = NewNode(0);
    }

    void Insert(TRGB color, std::uint64_t weight)
    {
        int node = m_root;
        for (;;) {
            TNode& n = m_nodes[std::size_t(node)];
            n.SumR += weight * RedOf(color);
            n.SumG += weight * GreenOf(color);
            n.SumB += weight * BlueOf(color);
            n.PixelCount += weight;
            if (n.IsLeaf || n.Level >= m_maxDepth)
                return;
            const int bit = 7 - n.Level;
            const int child = ((RedOf(color) >> bit) & 1) * 4 + ((GreenOf(color) >> bit) & 1) * 2 +
                              ((BlueOf(color) >> bit) & 1);
            int next = n.Children[child];
            if (next == kNil) {
                const int level = n.Level + 1;
                next = NewNode(level);  // may move m_nodes: `n` is not used after this
                m_nodes[std::size_t(node)].Children[child] = next;
                m_nodes[std::size_t(node)].ChildCount++;
            } else if (n.ChildCount > 1 && !n.InList) {
                PushReducible(node);
            }
            node = next;
        }
    }

    void ReduceIfNeeded()
    {
        if (m_leafCount <= m_wanted)
            return;
        int chosen = kNil;
        for (int level = m_maxDepth - 1; level >= 0 && chosen == kNil; --level)
            for (int k = m_lists[std::size_t(level)]; k != kNil; k = m_nodes[std::size_t(k)].NextInList)
                if (chosen == kNil || Brightness(k) < Brightness(chosen))
                    chosen = k;
        if (chosen == kNil)
            chosen = DeepestBranch();
        if (chosen == kNil)
            return;
        Reduce(chosen);
    }

    // The leaves in depth-first order, children 0 to 7.
    std::vector<TRGB> Colors() const
    {
        std::vector<TRGB> colors;
        CollectLeaves(m_root, colors);
        return colors;
    }

private:
    static constexpr int kNil = -1;

    struct TNode {
        int Level = 0;
        bool IsLeaf = false;
        bool InList = false;
        std::uint64_t PixelCount = 0;
        std::uint64_t SumR = 0, SumG = 0, SumB = 0;
        int ChildCount = 0;
        int Children[8] = {kNil, kNil, kNil, kNil, kNil, kNil, kNil, kNil};
        int PrevInList = kNil, NextInList = kNil;
    };

    int NewNode(int level)
    {
        int index;
        if (!m_free.empty()) {
            index = m_free.back();
            m_free.pop_back();
            m_nodes[std::size_t(index)] = TNode{};
        } else {
            index = int(m_nodes.size());
            m_nodes.emplace_back();
        }
        TNode& n = m_nodes[std::size_t(index)];
        n.Level = level;
        if (level >= m_maxDepth) {
            n.IsLeaf = true;
            ++m_leafCount;
        }
        return index;
    }

    std::uint64_t Brightness(int node) const
    {
        const TNode& n = m_nodes[std::size_t(node)];
        return 2 * n.SumR + 3 * n.SumG + n.SumB;
    }

    void PushReducible(int node)
    {
        TNode& n = m_nodes[std::size_t(node)];
        int& head = m_lists[std::size_t(n.Level)];
        n.InList = true;
        n.PrevInList = kNil;
        n.NextInList = head;
        if (head != kNil)
            m_nodes[std::size_t(head)].PrevInList = node;
        head = node;
    }

    void Unlink(int node)
    {
        TNode& n = m_nodes[std::size_t(node)];
        if (!n.InList)
            return;
        if (n.PrevInList != kNil)
            m_nodes[std::size_t(n.PrevInList)].NextInList = n.NextInList;
        else
            m_lists[std::size_t(n.Level)] = n.NextInList;
        if (n.NextInList != kNil)
            m_nodes[std::size_t(n.NextInList)].PrevInList = n.PrevInList;
        n.InList = false;
        n.PrevInList = n.NextInList = kNil;
    }

    void FreeChildren(TNode& n)
    {
        for (int& child : n.Children)
            if (child != kNil) {
                FreeSubtree(child);
                child = kNil;
            }
        n.ChildCount = 0;
    }

    void FreeSubtree(int node)
    {
        TNode& n = m_nodes[std::size_t(node)];
        FreeChildren(n);
        if (n.IsLeaf)
            --m_leafCount;
        Unlink(node);
        m_free.push_back(node);
    }

    void Reduce(int node)
    {
        Unlink(node);
        TNode& n = m_nodes[std::size_t(node)];
        FreeChildren(n);
        n.IsLeaf = true;
        ++m_leafCount;
        if (n.Level < m_maxDepth - 1)
            m_maxDepth = n.Level + 1;
    }

    // Used only when no reducible list has a node although there are too many
    // leaves (tiny palettes with few colours): the deepest node that branches,
    // the darkest of those, the first in depth-first order on ties.
    int DeepestBranch() const
    {
        int best = kNil;
        SearchBranch(m_root, best);
        return best;
    }

    void SearchBranch(int node, int& best) const
    {
        const TNode& n = m_nodes[std::size_t(node)];
        if (n.IsLeaf)
            return;
        if (n.ChildCount > 1) {
            const TNode* b = best == kNil ? nullptr : &m_nodes[std::size_t(best)];
            if (!b || n.Level > b->Level || (n.Level == b->Level && Brightness(node) < Brightness(best)))
                best = node;
        }
        for (const int child : n.Children)
            if (child != kNil)
                SearchBranch(child, best);
    }

    void CollectLeaves(int node, std::vector<TRGB>& colors) const
    {
        const TNode& n = m_nodes[std::size_t(node)];
        if (n.IsLeaf) {
            colors.push_back(RGBValue(std::uint8_t(n.SumR / n.PixelCount), std::uint8_t(n.SumG / n.PixelCount),
                                      std::uint8_t(n.SumB / n.PixelCount)));
            return;
        }
        for (const int child : n.Children)
            if (child != kNil)
                CollectLeaves(child, colors);
    }

    int m_wanted;
    int m_maxDepth = kOctreeDepth;
    int m_leafCount = 0;
    std::vector<TNode> m_nodes;
    std::vector<int> m_free;
    std::array<int, kOctreeDepth> m_lists{};
    int m_root = kNil;
};

// How often each raw pixel value occurs; this image's OnProgress after each
// source row, and an Abort ends the count early.
std::array<std::uint64_t, 256> CountIndices(TPixelGraphic& target, const TPixelGraphic& source)
{
    std::array<std::uint64_t, 256> counts{};
    const int width = source.Width();
    for (int y = 0; y < source.Height(); ++y) {
        const std::uint8_t* row = source.ScanLine(y);
        switch (source.BitCount()) {
        case bc8:
            for (int x = 0; x < width; ++x)
                ++counts[row[x]];
            break;
        case bc4:
            for (int x = 0; x < width; ++x)
                ++counts[GetPacked4(row, x)];
            break;
        default:
            for (int x = 0; x < width; ++x)
                ++counts[GetPacked1(row, x)];
            break;
        }
        if (target.Progress(&target, y, source.Height() - 1))
            break;
    }
    return counts;
}

std::vector<TRGB> OctreeColors(const std::array<std::uint64_t, 256>& counts, const TSourcePalette& palette,
                               int wanted)
{
    TOctree tree(wanted);
    for (int i = 0; i < 256; ++i) {
        if (counts[std::size_t(i)] == 0)
            continue;
        if (i >= palette.ValidCount)
            throw EPGInvalidPaletteIndex(MessageText(kMsgInvalidPaletteIndex));
        const std::uint8_t* c = palette.Bgr + 3 * i;
        tree.Insert(RGBValue(c[2], c[1], c[0]), counts[std::size_t(i)]);
        tree.ReduceIfNeeded();
    }
    return tree.Colors();
}

// ---- sources whose colours already fit ------------------------------------------------------

// The colours of the used indices in ascending index order, each once; empty
// when they are more than wanted (or an index lies beyond the palette, which
// the octree reports).
std::vector<TRGB> ExactIndexColors(const std::array<std::uint64_t, 256>& counts, const TSourcePalette& palette,
                                   int wanted)
{
    std::vector<TRGB> colors;
    for (int i = 0; i < 256; ++i) {
        if (counts[std::size_t(i)] == 0)
            continue;
        if (i >= palette.ValidCount)
            return {};
        const std::uint8_t* c = palette.Bgr + 3 * i;
        const TRGB color = RGBValue(c[2], c[1], c[0]);
        if (std::find(colors.begin(), colors.end(), color) != colors.end())
            continue;
        if (int(colors.size()) == wanted)
            return {};
        colors.push_back(color);
    }
    return colors;
}

// The colours of a 24-bit source in order of first appearance (rows from the
// top, left to right), each with the row it first appears in; empty as soon
// as there are more than wanted.
struct TFirstSeen {
    TRGB color;
    int row;
};

std::vector<TFirstSeen> ExactTrueColors(const TPixelGraphic& source, int wanted)
{
    std::vector<TFirstSeen> colors;
    std::unordered_set<TRGB> seen;
    TRGB last = 0;
    bool haveLast = false;
    const int width = source.Width();
    for (int y = 0; y < source.Height(); ++y) {
        const std::uint8_t* p = source.ScanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            const TRGB color = RGBValue(p[2], p[1], p[0]);
            // Runs of one colour are the rule in images with few colours.
            if (haveLast && color == last)
                continue;
            last = color;
            haveLast = true;
            if (!seen.insert(color).second)
                continue;
            if (int(colors.size()) == wanted)
                return {};
            colors.push_back({color, y});
        }
    }
    return colors;
}

// The progress events counting the histogram would give, one per source row;
// after an Abort only the colours of the rows reported so far are kept, as the
// histogram would hold only those.
std::vector<TRGB> ReportRows(TPixelGraphic& target, const TPixelGraphic& source, const std::vector<TFirstSeen>& found)
{
    int lastRow = source.Height() - 1;
    for (int y = 0; y < source.Height(); ++y)
        if (target.Progress(&target, y, source.Height() - 1)) {
            lastRow = y;
            break;
        }
    std::vector<TRGB> colors;
    for (const TFirstSeen& f : found)
        if (f.row <= lastRow)
            colors.push_back(f.color);
    return colors;
}

}  // namespace

void TPixelGraphic::CreateOptimalPalette(const TPixelGraphic& source, int colorCount, bool reserveSys16)
{
    // A palette never holds more than 256 entries.
    colorCount = std::min(colorCount, 256);
    const int wanted = reserveSys16 ? colorCount - 16 : colorCount;
    if (source.Width() < 1 || source.Height() < 1 || source.GetEmpty() || wanted < 1) {
        SetPaletteIdent(pSys16);
        SetPaletteCount(std::min(colorCount, 16));
        return;
    }
    if (source.HasAlpha()) {
        // The colours a copy into this image will see: the pixels over their background.
        TPixelGraphic flat;
        flat.Assign(&source);
        flat.FlattenAlpha();
        CreateOptimalPalette(flat, colorCount, reserveSys16);
        return;
    }
    // A source with no more colours than wanted keeps them exactly, so that
    // copying it into this image changes no pixel.
    std::vector<TRGB> colors;
    if (source.BitCount() == bc24) {
        const std::vector<TFirstSeen> found = ExactTrueColors(source, wanted);
        SetPaletteCount(0);
        colors = found.empty() ? MedianCut(*this, source, wanted) : ReportRows(*this, source, found);
    } else {
        // The source's colours are taken before the palette is emptied: the
        // source may be this image itself.
        const TSourcePalette palette(source);
        SetPaletteCount(0);
        const std::array<std::uint64_t, 256> counts = CountIndices(*this, source);
        colors = ExactIndexColors(counts, palette, wanted);
        if (colors.empty())
            colors = OctreeColors(counts, palette, wanted);
    }
    SetPaletteCount(int(colors.size()));
    for (int i = 0; i < int(colors.size()); ++i)
        SetPaletteColor(i, colors[std::size_t(i)]);
    if (reserveSys16)
        for (int i = 0; i < 16 && PaletteCount() < colorCount; ++i) {
            SetPaletteCount(PaletteCount() + 1);
            SetPaletteColor(PaletteCount() - 1, kSystemColors[std::size_t(i)]);
        }
}

}  // namespace rastova
