// The file-level entry points over the built-in formats: the registry every
// program gets by linking this library, and the load and save forms that use it.
#include "formats/Register.h"

#include "image/ByteOrder.h"
#include "image/FileFormats.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PGraphic.h"
#include "image/Streams.h"

#include <filesystem>
#include <mutex>

namespace rastova {

namespace {

struct TBuiltIn {
    TFormatRegistry registry;
    std::unique_ptr<TFileFormatWriter> streamBmpWriter;
};

// Built once, by whichever thread needs it first; only read afterwards.
TBuiltIn& BuiltIn()
{
    static TBuiltIn* const builtIn = [] {
        CheckMessageOrder(PGLangStrEntries.data(), kMessageCount);
        auto* made = new TBuiltIn;  // lives until the process ends, so late users never see it gone
        RegisterBuiltInFormats(made->registry);
        made->streamBmpWriter = MakeStreamBmpWriter();
        return made;
    }();
    return *builtIn;
}

}  // namespace

// English is LanguageIndex's initial value; a host that chose another language
// before the first load keeps it.
void PGInitialize()
{
    BuiltIn();
}

const TFormatRegistry& BuiltInFormats()
{
    return BuiltIn().registry;
}

const std::vector<std::unique_ptr<TFileFormatReader>>& FileFormatReaders()
{
    return BuiltInFormats().Readers();
}

const std::vector<std::unique_ptr<TFileFormatWriter>>& FileFormatWriters()
{
    return BuiltInFormats().Writers();
}

void RegisterFileFormatReader(std::unique_ptr<TFileFormatReader> reader)
{
    BuiltIn().registry.RegisterReader(std::move(reader));
}

void RegisterFileFormatWriter(std::unique_ptr<TFileFormatWriter> writer)
{
    BuiltIn().registry.RegisterWriter(std::move(writer));
}

TFileFormatWriter& StreamBmpWriter()
{
    return *BuiltIn().streamBmpWriter;
}

TFileFormatReader* SelectReader(TStream& stream, const std::string& ext)
{
    return BuiltInFormats().SelectReader(stream, ext);
}

bool GetFileInfoFromStream(TStream& stream, const std::string& ext, int imageIndex, TFileInfo& info)
{
    return BuiltInFormats().GetFileInfoFromStream(stream, ext, imageIndex, info);
}

bool GetFileInfo(const std::string& fileName, int imageIndex, TFileInfo& info)
{
    info = TFileInfo{};
    info.ImageCount = 0;
    try {
        if (fileName.empty() || fileName.back() == '/' || !std::filesystem::is_regular_file(fileName))
            return false;
        TFileStream stream(fileName, fmOpenRead);
        return GetFileInfoFromStream(stream, ExtractExtensionLower(fileName), imageIndex, info);
    } catch (...) {
        return false;
    }
}


// ---- TPixelGraphic over the built-in formats ------------------------------------------

void TPixelGraphic::LoadFromStreamExt(TStream& stream, const std::string& ext, int imageIndex,
                                      const TPGSettings& settings)
{
    LoadFromStreamExt(stream, ext, imageIndex, settings, BuiltInFormats());
}

void TPixelGraphic::LoadFromStreamExt(TStream& stream, const std::string& ext, int imageIndex)
{
    LoadFromStreamExt(stream, ext, imageIndex, SettingsForNewCall());
}

void TPixelGraphic::LoadFromStream(TStream& stream)
{
    LoadFromStreamExt(stream, "", 0);
}

void TPixelGraphic::LoadFromFileIndex(const std::string& fileName, int imageIndex, const TPGSettings& settings)
{
    LoadFromFileIndex(fileName, imageIndex, settings, BuiltInFormats());
}

void TPixelGraphic::LoadFromFileIndex(const std::string& fileName, int imageIndex)
{
    LoadFromFileIndex(fileName, imageIndex, SettingsForNewCall());
}

void TPixelGraphic::LoadFromFile(const std::string& fileName, const TPGSettings& settings)
{
    LoadFromFileIndex(fileName, 0, settings);
}

void TPixelGraphic::LoadFromFile(const std::string& fileName)
{
    LoadFromFileIndex(fileName, 0);
}

void TPixelGraphic::SaveToStreamExt(TStream& stream, const std::string& ext, const TPGSettings& settings)
{
    SaveToStreamExt(stream, ext, settings, BuiltInFormats());
}

void TPixelGraphic::SaveToStreamExt(TStream& stream, const std::string& ext)
{
    SaveToStreamExt(stream, ext, SettingsForNewCall());
}

void TPixelGraphic::SaveToFile(const std::string& fileName, const TPGSettings& settings)
{
    SaveToFile(fileName, settings, BuiltInFormats());
}

void TPixelGraphic::SaveToFile(const std::string& fileName)
{
    SaveToFile(fileName, SettingsForNewCall());
}

void TPixelGraphic::SaveToStream(TStream& stream)
{
    StreamBmpWriter().Write(stream, *this);
}

void TPixelGraphic::WriteData(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const std::uint8_t placeholder[4] = {0, 0, 0, 0};
    stream.WriteBuffer(placeholder, 4);
    StreamBmpWriter().Write(stream, *this);
    const std::int64_t end = stream.Position();
    std::uint8_t bytes[4];
    PutU32LE(bytes, std::uint32_t(end - start - 4));
    stream.SetPosition(start);
    stream.WriteBuffer(bytes, 4);
    stream.SetPosition(end);
}

void TPixelGraphic::ReadData(TStream& stream)
{
    std::uint8_t bytes[4];
    stream.ReadBuffer(bytes, 4);
    const std::uint32_t count = U32LE(bytes);
    const std::int64_t position = stream.Position();
    struct TRestore {
        TStream& s;
        std::int64_t to;
        ~TRestore()
        {
            try {
                s.SetPosition(to);
            } catch (...) {
            }
        }
    } restore{stream, position + std::int64_t(count)};
    LoadFromStreamExt(stream, "bmp", 0);
}

}  // namespace rastova
