// --info's description of one image file in plain words:
// "PNG, 768 x 512, 24-bit RGB, 1 frame, 712 KB".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace rastova {

struct TFileInfo;

// The line for a file that a reader described; the parts come from the reader's
// extension, the file information and the file's size in bytes.
std::string InfoLine(const std::string& readerExtension, const TFileInfo& info, std::uintmax_t bytes);

// Describes the file, or nullopt when no reader knows it or describing fails.
std::optional<std::string> DescribeImageFile(const std::string& path);

// "712 bytes", "712 KB", "3.4 MB": 1024-based, rounded.
std::string ByteSizeText(std::uintmax_t bytes);

}  // namespace rastova
