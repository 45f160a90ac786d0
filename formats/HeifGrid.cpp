#include "formats/HeifGrid.h"

#include <cstring>
#include <optional>
#include <set>
#include <string_view>

namespace rastova {

namespace {

// A bounds-checked view of a range of the file; reads past its end yield
// nothing and leave it spent.
class TCursor {
public:
    TCursor(const std::uint8_t* begin, const std::uint8_t* end) : m_at(begin), m_end(end) {}

    bool Has(std::size_t count) const { return std::size_t(m_end - m_at) >= count; }
    std::uint64_t Get(int bytes)
    {
        if (bytes < 0 || !Has(std::size_t(bytes))) {
            m_at = m_end;
            m_failed = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | *m_at++;
        return value;
    }
    void Skip(std::size_t count) { m_at = Has(count) ? m_at + count : m_end; }
    const std::uint8_t* At() const { return m_at; }
    const std::uint8_t* End() const { return m_end; }
    bool Failed() const { return m_failed; }

private:
    const std::uint8_t* m_at;
    const std::uint8_t* m_end;
    bool m_failed = false;
};

struct TBox {
    std::string_view type;
    TCursor content{nullptr, nullptr};
};

// The next box of the cursor's range, its content after the header.
std::optional<TBox> NextBox(TCursor& cursor)
{
    const std::uint8_t* start = cursor.At();
    std::uint64_t size = cursor.Get(4);
    if (!cursor.Has(4))
        return std::nullopt;
    TBox box;
    box.type = std::string_view(reinterpret_cast<const char*>(cursor.At()), 4);
    cursor.Skip(4);
    if (size == 1)
        size = cursor.Get(8);
    else if (size == 0)
        size = std::uint64_t(cursor.End() - start);
    const auto header = std::uint64_t(cursor.At() - start);
    if (cursor.Failed() || size < header || size > std::uint64_t(cursor.End() - start))
        return std::nullopt;
    box.content = TCursor(cursor.At(), start + size);
    cursor.Skip(std::size_t(size - header));
    return box;
}

// The items of type "grid" in an item information box.
std::set<std::uint32_t> GridItems(TCursor iinf)
{
    const auto version = iinf.Get(1);
    iinf.Skip(3);
    iinf.Skip(version == 0 ? 2 : 4);
    std::set<std::uint32_t> items;
    while (auto infe = NextBox(iinf)) {
        const auto infeVersion = infe->content.Get(1);
        infe->content.Skip(3);
        if (infe->type != "infe" || infeVersion < 2)
            continue;
        const auto id = std::uint32_t(infe->content.Get(infeVersion == 2 ? 2 : 4));
        infe->content.Skip(2);
        if (infe->content.Has(4) && std::memcmp(infe->content.At(), "grid", 4) == 0)
            items.insert(id);
    }
    return items;
}

// Where the first extent of an item lies: in the file, or in the item data box.
struct TItemPlace {
    std::uint64_t offset = 0;
    bool inIdat = false;
};

// The places of the given items in an item location box.
std::vector<TItemPlace> ItemPlaces(TCursor iloc, const std::set<std::uint32_t>& wanted)
{
    const auto version = iloc.Get(1);
    iloc.Skip(3);
    const auto sizes = iloc.Get(1), more = iloc.Get(1);
    const int offsetSize = int(sizes >> 4), lengthSize = int(sizes & 15), baseSize = int(more >> 4);
    const int indexSize = version == 1 || version == 2 ? int(more & 15) : 0;
    const auto count = iloc.Get(version < 2 ? 2 : 4);
    std::vector<TItemPlace> places;
    for (std::uint64_t i = 0; i < count && !iloc.Failed(); ++i) {
        const auto id = std::uint32_t(iloc.Get(version < 2 ? 2 : 4));
        const auto method = version == 1 || version == 2 ? iloc.Get(2) & 15 : 0;
        iloc.Skip(2);
        const auto base = iloc.Get(baseSize);
        const auto extents = iloc.Get(2);
        for (std::uint64_t e = 0; e < extents && !iloc.Failed(); ++e) {
            iloc.Get(indexSize);
            const auto offset = iloc.Get(offsetSize);
            iloc.Get(lengthSize);
            if (e == 0 && wanted.count(id) != 0)
                places.push_back({base + offset, method == 1});
        }
    }
    return places;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> GridSizeAt(TCursor data)
{
    data.Skip(1);
    const int field = (data.Get(1) & 1) != 0 ? 4 : 2;
    data.Skip(2);
    const auto width = std::uint32_t(data.Get(field)), height = std::uint32_t(data.Get(field));
    if (data.Failed())
        return std::nullopt;
    return std::pair{width, height};
}

}  // namespace

std::vector<std::pair<std::uint32_t, std::uint32_t>> HeifGridSizes(const std::vector<std::uint8_t>& file)
{
    const std::uint8_t* begin = file.data();
    const std::uint8_t* end = begin + file.size();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    TCursor top(begin, end);
    while (auto box = NextBox(top)) {
        if (box->type != "meta")
            continue;
        box->content.Skip(4);
        std::optional<TCursor> iinf, iloc, idat;
        while (auto child = NextBox(box->content)) {
            if (child->type == "iinf")
                iinf = child->content;
            else if (child->type == "iloc")
                iloc = child->content;
            else if (child->type == "idat")
                idat = child->content;
        }
        if (!iinf || !iloc)
            continue;
        for (const TItemPlace& place : ItemPlaces(*iloc, GridItems(*iinf))) {
            const std::uint8_t* from = place.inIdat ? (idat ? idat->At() : end) : begin;
            const std::uint8_t* to = place.inIdat ? (idat ? idat->End() : end) : end;
            if (place.offset >= std::uint64_t(to - from))
                continue;
            if (const auto size = GridSizeAt(TCursor(from + place.offset, to)))
                sizes.push_back(*size);
        }
    }
    return sizes;
}

}  // namespace rastova
