#include "image/FileFormats.h"

#include "formats/Register.h"
#include "image/ByteOrder.h"
#include "image/LiveTemporaries.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PGSettings.h"
#include "image/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace rastova {

// ---- base classes -----------------------------------------------------------------

bool TFileFormatReader::CheckSignature(const TSignatureHeader&)
{
    return false;
}

void TFileFormatReader::Read(TStream&, TPixelGraphic&, int) {}

void TFileFormatReader::GetInfo(TStream&, int, TFileInfo& info)
{
    info.SubFormatText.clear();
    info.ExtraText.clear();
    info.ColorsText.clear();
    info.Width = 0;
    info.Height = 0;
    info.BitsPerPixel = 0;
    info.ImageCount = 1;
}

void TFileFormatWriter::Write(TStream&, TPixelGraphic&) {}
void TFileFormatWriter::WriteHeader(TStream&) {}
void TFileFormatWriter::WriteImage(TStream&, TPixelGraphic&) {}
void TFileFormatWriter::WriteTrailer(TStream&) {}

// ---- registry ---------------------------------------------------------------------

namespace {

struct TRegistry {
    std::vector<std::unique_ptr<TFileFormatReader>> readers;
    std::vector<std::unique_ptr<TFileFormatWriter>> writers;
    std::unique_ptr<TFileFormatWriter> streamBmpWriter;
    std::mutex mutex;  // guards registration and re-sorting
};

TRegistry& Registry()
{
    static TRegistry registry;
    return registry;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::string StripDot(const std::string& ext)
{
    return !ext.empty() && ext[0] == '.' ? ext.substr(1) : ext;
}

template <class List>
void SortIfNeeded(List& list)
{
    const auto byExtension = [](const auto& a, const auto& b) { return Lower(a->Extension) < Lower(b->Extension); };
    if (!std::is_sorted(list.begin(), list.end(), byExtension))
        std::stable_sort(list.begin(), list.end(), byExtension);
}

std::once_flag g_initialized;

}  // namespace

void PGInitialize()
{
    std::call_once(g_initialized, [] {
        CheckMessageOrder(PGLangStrEntries.data(), kMessageCount);
        LanguageIndex = 0;
        RegisterAllFormats();
        Registry().streamBmpWriter = MakeStreamBmpWriter();
    });
}

void RegisterFileFormatReader(std::unique_ptr<TFileFormatReader> reader)
{
    TRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    r.readers.push_back(std::move(reader));
    SortIfNeeded(r.readers);
}

void RegisterFileFormatWriter(std::unique_ptr<TFileFormatWriter> writer)
{
    TRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    r.writers.push_back(std::move(writer));
    SortIfNeeded(r.writers);
}

const std::vector<std::unique_ptr<TFileFormatReader>>& FileFormatReaders()
{
    PGInitialize();
    return Registry().readers;
}

const std::vector<std::unique_ptr<TFileFormatWriter>>& FileFormatWriters()
{
    PGInitialize();
    return Registry().writers;
}

TFileFormatWriter& StreamBmpWriter()
{
    PGInitialize();
    return *Registry().streamBmpWriter;
}

std::string ExtractExtensionLower(const std::string& fileName)
{
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    return Lower(fileName.substr(dot + 1));
}

TFileFormatReader* SelectReader(TStream& stream, const std::string& extension)
{
    try {
        const std::string ext = Lower(StripDot(extension));
        TSignatureHeader header;
        const std::int64_t position = stream.Position();
        try {
            while (header.Count < TSignatureHeader::kSize) {
                const std::int64_t n = stream.Read(header.Bytes.data() + header.Count,
                                                   TSignatureHeader::kSize - header.Count);
                if (n <= 0)
                    break;
                header.Count += int(n);
            }
        } catch (...) {
            stream.SetPosition(position);
            throw;
        }
        stream.SetPosition(position);

        const auto& readers = FileFormatReaders();
        for (const auto& reader : readers)
            if (reader->HasSignature && reader->CheckSignature(header))
                return reader.get();
        if (!ext.empty())
            for (const auto& reader : readers)
                if (!reader->HasSignature && Lower(reader->Extension) == ext)
                    return reader.get();
    } catch (...) {
        // A stream that cannot be read has no reader; the caller reports it.
    }
    return nullptr;
}

bool GetFileInfoFromStream(TStream& stream, const std::string& ext, int imageIndex, TFileInfo& info)
{
    info = TFileInfo{};
    info.ImageCount = 0;
    try {
        TFileFormatReader* reader = SelectReader(stream, ext);
        if (!reader)
            return false;
        info.FormatDescription = reader->Description;
        const std::int64_t position = stream.Position();
        try {
            reader->GetInfo(stream, imageIndex, info);
        } catch (...) {
            stream.SetPosition(position);
            throw;
        }
        stream.SetPosition(position);
        return true;
    } catch (...) {
        return false;
    }
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

// ---- questions ----------------------------------------------------------------------

namespace {

std::mutex g_questionMutex;
TQuestionFunction g_questionFunction;

}  // namespace

void SetQuestionFunction(TQuestionFunction function)
{
    std::lock_guard lock(g_questionMutex);
    g_questionFunction = std::move(function);
}

TQuestionAnswer AskQuestion(const std::string& text, const std::string& caption, TQuestionButtons buttons)
{
    TQuestionFunction function;
    {
        std::lock_guard lock(g_questionMutex);
        function = g_questionFunction;
    }
    return function ? function(text, caption, buttons) : qaOK;
}

bool WarningAllowsContinue(TPGWarningAction action, const std::string& text, const std::string& caption)
{
    switch (action) {
    case pgwaIgnore: return true;
    case pgwaOKBox: AskQuestion(text, caption, qbOK); return true;
    case pgwaOKCancelBox: return AskQuestion(text, caption, qbOKCancel) == qaOK;
    case pgwaRaise: return false;
    }
    return false;
}

// ---- loading ------------------------------------------------------------------------

namespace {

struct TUpdateBracket {
    explicit TUpdateBracket(TPixelGraphic& graphic) : g(graphic) { g.BeginUpdate(); }
    ~TUpdateBracket() { g.EndUpdate(); }
    TPixelGraphic& g;
};

void ApplyGammaCorrection(TPixelGraphic& graphic, const TPGSettings& settings)
{
    const long double ratio = graphic.Gamma() / settings.DisplayGamma;
    if (!settings.GammaCorrection || std::fabs(ratio - 1.0L) <= 0.05L)
        return;
    std::uint8_t table[256];
    for (int i = 0; i < 256; ++i) {
        // nearbyint rounds halves to even in the default rounding mode.
        const long double value = 255.0L * std::pow(i / 255.0L, ratio);
        table[i] = std::uint8_t(std::clamp(std::nearbyint(value), 0.0L, 255.0L));
    }
    if (graphic.BitCount() != bc24) {
        for (int i = 0; i < graphic.PaletteCount(); ++i) {
            const TRGB c = graphic.GetPaletteColor(i);
            graphic.SetPaletteColor(i, RGBValue(table[RedOf(c)], table[GreenOf(c)], table[BlueOf(c)]));
        }
    } else if (graphic.Width() > 0 && !graphic.GetEmpty()) {
        const std::size_t rowBytes = std::size_t(graphic.Width()) * 3;
        for (int y = 0; y < graphic.Height(); ++y) {
            std::uint8_t* row = graphic.ScanLine(y);
            for (std::size_t i = 0; i < rowBytes; ++i)
                row[i] = table[row[i]];
        }
    }
    graphic.SetGamma(settings.DisplayGamma);
}

}  // namespace

void TPixelGraphic::LoadFromStreamExt(TStream& stream, const std::string& ext, int imageIndex,
                                      const TPGSettings& settings)
{
    const TSettingsScope scope(settings);
    TUpdateBracket bracket(*this);
    SetSize(0, 0, bc24);
    SetGamma(settings.DisplayGamma);
    TFileFormatReader* reader = SelectReader(stream, ext);
    if (!reader)
        throw EPGUnknownFileFormat(MessageText(kMsgUnknownFileFormat));
    reader->Read(stream, *this, imageIndex);
    ApplyGammaCorrection(*this, settings);
    DetectPaletteIdent();
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
    TFileStream stream(fileName, fmOpenRead);
    LoadFromStreamExt(stream, ExtractExtensionLower(fileName), imageIndex, settings);
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

// ---- saving ---------------------------------------------------------------------------

namespace {

// For each current colour resolution, the codes tried in order.
constexpr std::uint8_t kFallbackRows[8][8] = {
    {0, 1, 2, 3, 4, 5, 6, 7}, {1, 4, 6, 7, 3, 0, 2, 5}, {2, 4, 5, 6, 7, 3, 0, 1},
    {3, 4, 6, 7, 2, 5, 0, 1}, {4, 6, 7, 3, 2, 5, 0, 1}, {5, 6, 7, 2, 4, 3, 0, 1},
    {6, 7, 4, 3, 5, 2, 0, 1}, {7, 6, 4, 3, 5, 2, 0, 1},
};

std::string ResolutionName(int code)
{
    return MessageText(std::uint8_t(kMsgBlackAndWhite + code));
}

void ConvertToResolution(TPixelGraphic& target, TPixelGraphic& source, int code)
{
    static constexpr TBitCount kFormats[8] = {bc1, bc1, bc4, bc4, bc4, bc8, bc8, bc24};
    target.SetBitCount(kFormats[code]);
    switch (code) {
    case crBlackWhite: target.SetPaletteIdent(pBlackWhite); break;
    case cr2Colors: target.CreateOptimalPalette(source, 2, false); break;
    case cr16Gray: target.SetPaletteIdent(pGray16); break;
    case cr16System: target.SetPaletteIdent(pSys16); break;
    case cr16Colors: target.CreateOptimalPalette(source, 16, false); break;
    case cr256Gray: target.SetPaletteIdent(pGray256); break;
    case cr256Colors: target.CreateOptimalPalette(source, 252, true); break;
    default: break;
    }
    target.SetWidth(source.Width());
    target.SetHeight(source.Height());
    target.CopyFrom(source);
    target.DetectPaletteIdent();
}

using TWriteAction = std::function<void(TFileFormatWriter&, TPixelGraphic&)>;

void CommonSave(TPixelGraphic& graphic, const std::string& extension, const TWriteAction& write)
{
    const std::string ext = Lower(StripDot(extension));
    const auto& writers = FileFormatWriters();
    if (writers.empty())
        throw EPGFileFormatWritersEmpty(MessageText(kMsgIsEmpty, "FileFormatWriters"));
    TFileFormatWriter* writer = nullptr;
    for (const auto& w : writers)
        if (Lower(w->Extension) == ext) {
            writer = w.get();
            break;
        }
    if (!writer)
        throw EPGUnknownExtension(MessageText(kMsgUnknownExtension, ext));

    graphic.DetectPaletteIdent();
    const int current = graphic.ColorResolution();
    int chosen = -1;
    for (const std::uint8_t code : kFallbackRows[current])
        if (writer->CanWrite(code)) {
            chosen = code;
            break;
        }
    if (chosen < 0)
        throw EPGCanWriteResolutionsEmpty(MessageText(kMsgIsEmpty, writer->ClassName() + ".CanWriteResolutions"));

    if (chosen == current) {
        graphic.DetectPaletteIdent();
        write(*writer, graphic);
        return;
    }
    const std::string warning = MessageText(kMsgSaveColorResWarning, writer->Description,
                                            ResolutionName(current), ResolutionName(chosen));
    if (!WarningAllowsContinue(graphic.SaveColorResWarningAction(), warning, MessageText(kMsgWarning)))
        throw EPGCannotWriteColorRes(
            MessageText(kMsgCannotWriteColorRes, writer->Description, ResolutionName(current)));

    TPixelGraphic converted;
    converted.SetOnProgress(graphic.OnProgress());
    converted.SetOnProgressEnd(graphic.OnProgressEnd());
    converted.SetOnProgressStart(graphic.OnProgressStart());
    ConvertToResolution(converted, graphic, chosen);
    write(*writer, converted);
}

// A temporary file beside the target, renamed over it only after a complete
// write: a failed or cancelled save never damages a file that was there before.
class TTemporaryFile {
public:
    explicit TTemporaryFile(const std::string& target)
    {
        const auto live = LockLiveTemporaries();
        const std::filesystem::path path(target);
        const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
        std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
        const int fd = mkstemp(pattern.data());
        if (fd < 0)
            throw EFCreateError("Cannot create file \"" + target + "\". " + std::strerror(errno));
        m_name = pattern;
        RegisterLiveTemporary(m_name);
        // mkstemp makes the file private; give it the mode a new file would get,
        // or the mode of the file it replaces.
        struct stat existing {};
        mode_t mode = 0666;
        if (::stat(target.c_str(), &existing) == 0)
            mode = existing.st_mode & 07777;
        else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode &= ~mask;
        }
        ::fchmod(fd, mode);
        ::close(fd);
    }
    ~TTemporaryFile()
    {
        if (m_name.empty())
            return;
        const auto live = LockLiveTemporaries();
        ::unlink(m_name.c_str());
        UnregisterLiveTemporary(m_name);
    }
    const std::string& Name() const { return m_name; }
    void CommitTo(const std::string& target)
    {
        const auto live = LockLiveTemporaries();
        if (std::rename(m_name.c_str(), target.c_str()) != 0)
            throw EFCreateError("Cannot create file \"" + target + "\". " + std::strerror(errno));
        UnregisterLiveTemporary(m_name);
        m_name.clear();
    }

private:
    std::string m_name;
};

}  // namespace

void TPixelGraphic::SaveToStreamExt(TStream& stream, const std::string& ext, const TPGSettings& settings)
{
    const TSettingsScope scope(settings);
    CommonSave(*this, ext, [&stream](TFileFormatWriter& writer, TPixelGraphic& image) { writer.Write(stream, image); });
}

void TPixelGraphic::SaveToStreamExt(TStream& stream, const std::string& ext)
{
    SaveToStreamExt(stream, ext, SettingsForNewCall());
}

void TPixelGraphic::SaveToFile(const std::string& fileName, const TPGSettings& settings)
{
    const TSettingsScope scope(settings);
    CommonSave(*this, ExtractExtensionLower(fileName), [&fileName](TFileFormatWriter& writer, TPixelGraphic& image) {
        TTemporaryFile temporary(fileName);
        TFileStream stream(temporary.Name(), fmOpenReadWrite);
        writer.Write(stream, image);
        stream.Close();
        temporary.CommitTo(fileName);
    });
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

// ---- clipboard --------------------------------------------------------------------------

void TPixelGraphic::LoadFromClipboardFormat(std::uint32_t format, const std::uint8_t* data, std::size_t size,
                                            std::uint32_t)
{
    if ((format != CF_BITMAP && format != CF_DIB) || data == nullptr)
        throw EPGUnknownClipboardFormat(MessageText(kMsgUnknownClipboardFormat));
    {
        TUpdateBracket bracket(*this);
        TReadOnlyMemoryStream stream(data, size);
        ReadDIB(stream, false);
    }
    SetGamma(DisplayGamma);
    DetectPaletteIdent();
}

void TPixelGraphic::SaveToClipboardFormat(std::uint32_t& format, std::vector<std::uint8_t>& data,
                                          std::uint32_t& palette)
{
    TMemoryStream stream;
    WriteDIB(stream);
    std::vector<std::uint8_t> block(stream.Data());
    const std::size_t blockSize = std::size_t(PaletteCount()) * 4 + std::size_t(ImageSize()) + 58;
    if (block.size() < blockSize)
        block.resize(blockSize, 0);
    data = std::move(block);
    format = CF_DIB;
    palette = 0;
}

}  // namespace rastova
