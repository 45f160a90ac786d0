// The built-in formats: their registration, the registry every program that
// links the formats library shares, and the library's start-up.
#pragma once

#include "image/FileFormats.h"

#include <memory>
#include <string>
#include <vector>

namespace rastova {

// Registers every built-in reader and writer into registry; tests use it to build registries of their own.
void RegisterBuiltInFormats(TFormatRegistry& registry);
std::unique_ptr<TFileFormatWriter> MakeStreamBmpWriter();

// Start-up, once, from whichever thread gets here first: message order check
// and the built-in registry. Every entry point that needs it calls it; calling
// it again is cheap.
void PGInitialize();

// The registry of the built-in formats, read-only once built. The plain
// TPixelGraphic load and save forms use it.
const TFormatRegistry& BuiltInFormats();

// The built-in registry's lists, sorted by lower-cased extension.
const std::vector<std::unique_ptr<TFileFormatReader>>& FileFormatReaders();
const std::vector<std::unique_ptr<TFileFormatWriter>>& FileFormatWriters();
// Adds to the built-in registry; for start-up code only.
void RegisterFileFormatReader(std::unique_ptr<TFileFormatReader> reader);
void RegisterFileFormatWriter(std::unique_ptr<TFileFormatWriter> writer);
// The writer object used for plain stream saving (SaveToStream, WriteData).
TFileFormatWriter& StreamBmpWriter();

// The built-in registry's SelectReader and GetFileInfoFromStream.
TFileFormatReader* SelectReader(TStream& stream, const std::string& ext);
bool GetFileInfoFromStream(TStream& stream, const std::string& ext, int imageIndex, TFileInfo& info);
// False when the name has no file-name part or no such file exists; never raises.
bool GetFileInfo(const std::string& fileName, int imageIndex, TFileInfo& info);

}  // namespace rastova
