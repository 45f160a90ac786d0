#pragma once

#include "image/FileFormats.h"

#include <memory>

namespace rastova {

// Called once by the library's start-up.
void RegisterAllFormats();
std::unique_ptr<TFileFormatWriter> MakeStreamBmpWriter();

}  // namespace rastova
