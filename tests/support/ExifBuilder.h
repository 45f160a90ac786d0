// Builds EXIF APP1 segments and puts them into JPEG files, for the tests of
// orientation reading and of --auto-orient.
#pragma once

#include "support/TestSupport.h"

#include <cstdint>
#include <vector>

namespace rastova::test {

// APP1 payload ("Exif\0\0" + TIFF block) whose IFD0 holds a dummy tag and then
// Orientation with the given type and value.
inline std::vector<std::uint8_t> ExifPayload(std::uint32_t orientation, bool bigEndian, std::uint32_t type = 3)
{
    TByteBuilder b;
    const auto u16 = [&](std::uint32_t v) { bigEndian ? b.U16BE(v) : b.U16LE(v); };
    const auto u32 = [&](std::uint32_t v) { bigEndian ? b.U32BE(v) : b.U32LE(v); };
    b.Text("Exif").U8(0).U8(0).Text(bigEndian ? "MM" : "II");
    u16(42);
    u32(8);
    u16(2);
    u16(0x010F);  // Make, ASCII, kept out of line
    u16(2);
    u32(6);
    u32(38);
    u16(0x0112);
    u16(type);
    u32(1);
    u16(orientation);
    u16(0);
    u32(0);  // no next IFD
    b.Text("Maker").U8(0);
    return b.Data();
}

// The JPEG with an APP1 segment of the payload right after its start marker.
inline std::vector<std::uint8_t> WithApp1(const std::vector<std::uint8_t>& jpeg, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.push_back(0xFF);
    out.push_back(0xE1);
    out.push_back(std::uint8_t((payload.size() + 2) >> 8));
    out.push_back(std::uint8_t(payload.size() + 2));
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

}  // namespace rastova::test
