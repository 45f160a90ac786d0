// Builds small TIFF files for the tests: header, data blobs, then one or more
// IFDs whose entries are given in order (duplicates and odd types allowed), with
// array values that do not fit an entry placed after the IFDs.
#pragma once

#include <cstdint>
#include <vector>

namespace rastova::test {

class TTiffFileBuilder {
public:
    static constexpr std::uint16_t kByte = 1;
    static constexpr std::uint16_t kShort = 3;
    static constexpr std::uint16_t kLong = 4;

    explicit TTiffFileBuilder(bool motorola = false) : m_motorola(motorola)
    {
        m_data = {std::uint8_t(motorola ? 'M' : 'I'), std::uint8_t(motorola ? 'M' : 'I')};
        Put16(m_data, 42);
        Put32(m_data, 0);  // first IFD, set by Build
        m_ifds.emplace_back();
    }

    // Appends bytes at a word boundary and returns their offset.
    std::uint32_t Blob(const std::vector<std::uint8_t>& bytes)
    {
        if (m_data.size() % 2 != 0)
            m_data.push_back(0);
        const auto offset = std::uint32_t(m_data.size());
        m_data.insert(m_data.end(), bytes.begin(), bytes.end());
        return offset;
    }

    // An entry whose values are stored in the value field when they fit, after
    // the IFDs otherwise.
    TTiffFileBuilder& Entry(std::uint16_t tag, std::uint16_t type, const std::vector<std::uint32_t>& values)
    {
        m_ifds.back().push_back({tag, type, std::uint32_t(values.size()), values, false, 0});
        return *this;
    }
    TTiffFileBuilder& Short(std::uint16_t tag, std::uint32_t value) { return Entry(tag, kShort, {value}); }
    TTiffFileBuilder& Long(std::uint16_t tag, std::uint32_t value) { return Entry(tag, kLong, {value}); }

    // An entry written exactly as given: the value field is one 32-bit word in
    // the file's byte order (an offset, or a LONG).
    TTiffFileBuilder& Raw(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t field)
    {
        m_ifds.back().push_back({tag, type, count, {}, true, field});
        return *this;
    }

    // Starts the next IFD of the chain.
    TTiffFileBuilder& NextIfd()
    {
        m_ifds.emplace_back();
        return *this;
    }

    // The next-IFD field of the last IFD (0 ends the chain).
    TTiffFileBuilder& LastLink(std::uint32_t offset)
    {
        m_lastLink = offset;
        return *this;
    }

    // Offsets of the IFDs in the file Build returns.
    const std::vector<std::uint32_t>& IfdOffsets() const { return m_ifdOffsets; }

    std::vector<std::uint8_t> Build()
    {
        std::vector<std::uint8_t> out = m_data;
        if (out.size() % 2 != 0)
            out.push_back(0);
        // Where each IFD goes, then where the out-of-line values go.
        std::size_t position = out.size();
        m_ifdOffsets.clear();
        for (const auto& ifd : m_ifds) {
            m_ifdOffsets.push_back(std::uint32_t(position));
            position += 2 + 12 * ifd.size() + 4;
        }
        std::vector<std::uint8_t> tail;
        for (std::size_t k = 0; k < m_ifds.size(); ++k) {
            const auto& ifd = m_ifds[k];
            Put16(out, std::uint32_t(ifd.size()));
            for (const TEntry& e : ifd) {
                Put16(out, e.tag);
                Put16(out, e.type);
                Put32(out, e.count);
                if (e.raw) {
                    Put32(out, e.field);
                    continue;
                }
                std::vector<std::uint8_t> bytes;
                for (const std::uint32_t v : e.values) {
                    if (e.type == kByte)
                        bytes.push_back(std::uint8_t(v));
                    else if (e.type == kShort)
                        Put16(bytes, v);
                    else
                        Put32(bytes, v);
                }
                if (bytes.size() <= 4) {
                    bytes.resize(4, 0);
                    out.insert(out.end(), bytes.begin(), bytes.end());
                } else {
                    if ((position + tail.size()) % 2 != 0)
                        tail.push_back(0);
                    Put32(out, std::uint32_t(position + tail.size()));
                    tail.insert(tail.end(), bytes.begin(), bytes.end());
                }
            }
            Put32(out, k + 1 < m_ifds.size() ? m_ifdOffsets[k + 1] : m_lastLink);
        }
        out.insert(out.end(), tail.begin(), tail.end());
        const std::uint32_t first = m_ifdOffsets[0];
        std::vector<std::uint8_t> field;
        Put32(field, first);
        std::copy(field.begin(), field.end(), out.begin() + 4);
        return out;
    }

private:
    struct TEntry {
        std::uint16_t tag;
        std::uint16_t type;
        std::uint32_t count;
        std::vector<std::uint32_t> values;
        bool raw;
        std::uint32_t field;
    };

    void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) const
    {
        if (m_motorola) {
            out.push_back(std::uint8_t(v >> 8));
            out.push_back(std::uint8_t(v));
        } else {
            out.push_back(std::uint8_t(v));
            out.push_back(std::uint8_t(v >> 8));
        }
    }
    void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) const
    {
        if (m_motorola) {
            Put16(out, v >> 16);
            Put16(out, v & 0xFFFF);
        } else {
            Put16(out, v & 0xFFFF);
            Put16(out, v >> 16);
        }
    }

    bool m_motorola;
    std::vector<std::uint8_t> m_data;
    std::vector<std::vector<TEntry>> m_ifds;
    std::uint32_t m_lastLink = 0;
    std::vector<std::uint32_t> m_ifdOffsets;
};

}  // namespace rastova::test
