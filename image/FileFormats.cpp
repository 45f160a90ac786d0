#include "image/FileFormats.h"

#include "image/ByteOrder.h"
#include "image/LiveTemporaries.h"
#include "image/PGExceptions.h"
#include "image/PGMessages.h"
#include "image/PGSettings.h"
#include "image/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <random>
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

}  // namespace

TFormatRegistry::TFormatRegistry() = default;
TFormatRegistry::~TFormatRegistry() = default;

void TFormatRegistry::RegisterReader(std::unique_ptr<TFileFormatReader> reader)
{
    std::unique_lock lock(m_mutex);
    m_readers.push_back(std::move(reader));
    SortIfNeeded(m_readers);
}

void TFormatRegistry::RegisterWriter(std::unique_ptr<TFileFormatWriter> writer)
{
    std::unique_lock lock(m_mutex);
    m_writers.push_back(std::move(writer));
    SortIfNeeded(m_writers);
}

const std::vector<std::unique_ptr<TFileFormatReader>>& TFormatRegistry::Readers() const
{
    return m_readers;
}

const std::vector<std::unique_ptr<TFileFormatWriter>>& TFormatRegistry::Writers() const
{
    return m_writers;
}

std::string ExtractExtensionLower(const std::string& fileName)
{
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    return Lower(fileName.substr(dot + 1));
}

TFileFormatReader* TFormatRegistry::SelectReader(TStream& stream, const std::string& extension) const
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

        std::shared_lock lock(m_mutex);
        const auto& readers = m_readers;
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

bool TFormatRegistry::GetFileInfoFromStream(TStream& stream, const std::string& ext, int imageIndex,
                                            TFileInfo& info) const
{
    // Describing reads the same settings as loading: one copy for the whole call.
    const TPGSettings settings = SettingsForNewCall();
    const TSettingsScope scope(settings);
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

TFileFormatWriter* TFormatRegistry::FindWriter(const std::string& extension) const
{
    const std::string ext = Lower(StripDot(extension));
    std::shared_lock lock(m_mutex);
    for (const auto& w : m_writers)
        if (Lower(w->Extension) == ext)
            return w.get();
    return nullptr;
}

bool TFormatRegistry::HasWriters() const
{
    std::shared_lock lock(m_mutex);
    return !m_writers.empty();
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
    if (graphic.HasAlpha()) {
        // Alpha is no light: only the colour bytes are corrected.
        for (int y = 0; y < graphic.Height() && !graphic.GetEmpty(); ++y) {
            std::uint8_t* p = graphic.ScanLine(y);
            for (int x = 0; x < graphic.Width(); ++x, p += 4)
                p[0] = table[p[0]], p[1] = table[p[1]], p[2] = table[p[2]];
        }
    } else if (graphic.BitCount() != bc24) {
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
                                      const TPGSettings& settings, const TFormatRegistry& formats)
{
    const TSettingsScope scope(settings);
    TUpdateBracket bracket(*this);
    SetSize(0, 0, bc24);
    SetGamma(settings.DisplayGamma);
    TFileFormatReader* reader = formats.SelectReader(stream, ext);
    if (!reader)
        throw EPGUnknownFileFormat(MessageText(kMsgUnknownFileFormat));
    reader->Read(stream, *this, imageIndex);
    ApplyGammaCorrection(*this, settings);
    if (settings.FlattenAlphaOnLoad)
        FlattenAlpha();
    DetectPaletteIdent();
}

void TPixelGraphic::LoadFromFileIndex(const std::string& fileName, int imageIndex, const TPGSettings& settings,
                                      const TFormatRegistry& formats)
{
    TFileStream stream(fileName, fmOpenRead);
    LoadFromStreamExt(stream, ExtractExtensionLower(fileName), imageIndex, settings, formats);
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

void CommonSave(TPixelGraphic& graphic, const std::string& extension, const TFormatRegistry& formats,
                const TWriteAction& write)
{
    const std::string ext = Lower(StripDot(extension));
    if (!formats.HasWriters())
        throw EPGFileFormatWritersEmpty(MessageText(kMsgIsEmpty, "FileFormatWriters"));
    TFileFormatWriter* writer = formats.FindWriter(ext);
    if (!writer)
        throw EPGUnknownExtension(MessageText(kMsgUnknownExtension, ext));

    graphic.DetectPaletteIdent();
    if (graphic.HasAlpha() && !writer->CanWriteAlpha) {
        // A target without alpha gets the image laid over its background first.
        TPixelGraphic flat;
        flat.Assign(&graphic);
        flat.SetOnProgress(graphic.OnProgress());
        flat.SetOnProgressEnd(graphic.OnProgressEnd());
        flat.SetOnProgressStart(graphic.OnProgressStart());
        flat.FlattenAlpha();
        CommonSave(flat, extension, formats, write);
        return;
    }
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

// One atomic step where the file system allows it; elsewhere a hard link,
// which fails on an existing name as well, and the removal of the old name.
bool PlaceWithoutReplacing(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return true;
        }
        error = errno;
    }
    if (error == EEXIST)
        return false;
    throw EFCreateError("Cannot create file \"" + to + "\". " + SystemErrorText(error));
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
        const std::string prefix = (folder / ("." + path.filename().string() + ".")).string();
        // A new file gets the mode the kernel gives any new file (0666 less the
        // umask); a replaced file keeps its own mode.
        struct stat existing {};
        const bool replacing = ::stat(target.c_str(), &existing) == 0;
        int fd = -1;
        int error = 0;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            m_name = prefix + RandomSuffix();
            fd = ::open(m_name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            error = errno;
            if (fd < 0 && error != EEXIST)
                break;
        }
        if (fd < 0) {
            m_name.clear();
            throw EFCreateError("Cannot create file \"" + target + "\". " + SystemErrorText(error));
        }
        RegisterLiveTemporary(m_name);
        if (replacing)
            ::fchmod(fd, existing.st_mode & 07777);
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
            throw EFCreateError("Cannot create file \"" + target + "\". " + SystemErrorText(errno));
        UnregisterLiveTemporary(m_name);
        m_name.clear();
    }
    // Like CommitTo, but a file that appeared at target since is left alone:
    // false then, and the temporary stays.
    bool CommitToNew(const std::string& target)
    {
        const auto live = LockLiveTemporaries();
        if (!PlaceWithoutReplacing(m_name, target))
            return false;
        UnregisterLiveTemporary(m_name);
        m_name.clear();
        return true;
    }

private:
    // Six characters like mkstemp's, from a generator of this thread.
    static std::string RandomSuffix()
    {
        static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        thread_local std::mt19937_64 generator(std::random_device{}());
        std::string suffix(6, 'x');
        for (char& c : suffix)
            c = kLetters[generator() % (sizeof kLetters - 1)];
        return suffix;
    }

    std::string m_name;
};

}  // namespace

void TPixelGraphic::SaveToStreamExt(TStream& stream, const std::string& ext, const TPGSettings& settings,
                                    const TFormatRegistry& formats)
{
    const TSettingsScope scope(settings);
    CommonSave(*this, ext, formats,
               [&stream](TFileFormatWriter& writer, TPixelGraphic& image) { writer.Write(stream, image); });
}

void TPixelGraphic::SaveToFile(const std::string& fileName, const TPGSettings& settings,
                               const TFormatRegistry& formats)
{
    const TSettingsScope scope(settings);
    CommonSave(*this, ExtractExtensionLower(fileName), formats,
               [&fileName](TFileFormatWriter& writer, TPixelGraphic& image) {
                   TTemporaryFile temporary(fileName);
                   TFileStream stream(temporary.Name(), fmOpenReadWrite);
                   writer.Write(stream, image);
                   stream.Close();
                   temporary.CommitTo(fileName);
               });
}

std::string SaveToNewFile(TPixelGraphic& graphic, const std::function<std::string(int)>& candidate,
                          const TPGSettings& settings, const TFormatRegistry& formats)
{
    const TSettingsScope scope(settings);
    const std::string first = candidate(0);
    std::string placed;
    CommonSave(graphic, ExtractExtensionLower(first), formats,
               [&](TFileFormatWriter& writer, TPixelGraphic& image) {
                   TTemporaryFile temporary(first);
                   TFileStream stream(temporary.Name(), fmOpenReadWrite);
                   writer.Write(stream, image);
                   stream.Close();
                   for (int n = 0;; ++n) {
                       const std::string name = n == 0 ? first : candidate(n);
                       if (name.empty() || temporary.CommitToNew(name)) {
                           placed = name;
                           return;
                       }
                   }
               });
    return placed;
}

}  // namespace rastova
