// The packed-DIB coding: a bitmap header, its colour table or masks and the
// pixel rows, without a file header. The raster image streams itself and goes
// to and from the clipboard this way; the BMP file format puts its 14-byte file
// header in front of it.
#pragma once

#include "image/PGraphic.h"

#include <array>
#include <cstdint>
#include <string>

namespace rastova {

class TStream;

namespace dib {

// Bitmap errors name the format whichever way the header was reached.
inline const char* const kTag = "BMP: ";
inline constexpr std::uint32_t kCoreHeaderSize = 12;
inline constexpr std::uint32_t kInfoHeaderSize = 40;
// The longer headers of later versions: 40 bytes plus colour masks (52), plus
// an alpha mask (56), plus colour space (108, V4), plus intent and profile (124, V5).
inline constexpr std::uint32_t kV2HeaderSize = 52;
inline constexpr std::uint32_t kV3HeaderSize = 56;
inline constexpr std::uint32_t kV4HeaderSize = 108;
inline constexpr std::uint32_t kV5HeaderSize = 124;
inline constexpr int kV5CsType = 56;
inline constexpr int kV5ProfileData = 112;
inline constexpr int kV5ProfileSize = 116;
inline constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'
inline constexpr int kMaskCount = 3;
inline constexpr int kCoreEntrySize = 3;  // blue, green, red
inline constexpr int kInfoEntrySize = 4;  // blue, green, red, reserved

inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitFields = 3;

[[noreturn]] void Fail(const std::string& message);
[[noreturn]] void FailInvalid(const char* field);
[[noreturn]] void FailHeaderSize();

struct TCoreHeader {
    int width = 0;
    int height = 0;
    int planes = 0;
    int bitCount = 0;
};

struct TInfoHeader {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int planes = 0;
    int bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t headerSize = kInfoHeaderSize;
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha from a header of 52 bytes or more
    std::uint32_t profileData = 0;         // embedded profile: offset from the header's start, and size
    std::uint32_t profileSize = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
};

bool IsInfoHeaderSize(std::uint32_t size);

// Both read the header at the stream position and check its fields.
TCoreHeader ReadCoreHeader(TStream& stream);
TInfoHeader ReadInfoHeader(TStream& stream);

}  // namespace dib

}  // namespace rastova
