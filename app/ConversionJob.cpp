#include "app/ConversionJob.h"

#include "formats/Jpeg.h"
#include "image/PGExceptions.h"
#include "image/PGraphic.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <system_error>

namespace rastova {

namespace {

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

int NearestEven(double value)
{
    return int(std::nearbyint(value));  // halves go to the even neighbour
}

std::string FailureText(const std::exception& e)
{
    return e.what();
}

}  // namespace

const char* TargetExtension(int targetFormat)
{
    static const char* const kExtensions[8] = {".bmp", ".jpg", ".pbm", ".pgm", ".png", ".ppm", ".tga", ".tif"};
    return targetFormat >= 0 && targetFormat < 8 ? kExtensions[targetFormat] : ".bmp";
}

std::string TrimBlanks(const std::string& text)
{
    std::size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

namespace {

struct TItemNames {
    std::string extension;  // lower case, with the dot; empty when none
    std::string outputPath;
};

TItemNames NamesOf(const std::string& sourcePath, const std::string& destination, int targetFormat)
{
    const std::size_t slash = sourcePath.find_last_of('/');
    const std::string fileName = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    const std::size_t dot = fileName.find_last_of('.');
    TItemNames names;
    std::string base = fileName;
    if (dot != std::string::npos) {
        names.extension = LowerAscii(fileName.substr(dot));
        base = fileName.substr(0, dot);
    }
    const std::string outName = LowerAscii(base) + TargetExtension(targetFormat);
    const bool endsWithSlash = !destination.empty() && destination.back() == '/';
    names.outputPath = endsWithSlash ? destination + outName : destination + "/" + outName;
    return names;
}

}  // namespace

std::string OutputPathFor(const std::string& sourcePath, const std::string& destination, int targetFormat)
{
    return NamesOf(sourcePath, destination, targetFormat).outputPath;
}

struct TConversionJob::TRun {
    TConversionOptions options;
    std::string destination;
    double step = 0;
    double accumulator = 0;
    TPixelGraphic images[2];
    // Advances the bar by one step; true when a stop was requested.
    bool Advance(TConversionHost& host)
    {
        accumulator += step;
        host.SetProgress(NearestEven(accumulator));
        host.Pump();
        return host.StopRequested;
    }
};

bool TConversionJob::StartChecks(const TConversionOptions& options, std::string& destination, int& selected)
{
    const auto endQuietly = [this] {
        m_host.SetBusy(false);
        m_host.Pump();
    };
    selected = 0;
    const int count = m_host.ItemCount();
    for (int i = 0; i < count; ++i)
        if (m_host.ItemSelected(i))
            ++selected;
    if (selected == 0) {
        endQuietly();
        m_host.Inform("No files are selected!");
        return false;
    }
    destination = TrimBlanks(options.Destination);
    if (destination.empty()) {
        endQuietly();
        m_host.Inform("Please, fill destination path.");
        m_host.FocusDestination();
        return false;
    }
    std::error_code error;
    if (!std::filesystem::is_directory(destination, error)) {
        if (!m_host.Confirm("Directory " + destination + " does not exist. Create?")) {
            endQuietly();
            return false;
        }
        // One level only: a missing parent makes this fail.
        if (!std::filesystem::create_directory(destination, error) || error) {
            endQuietly();
            m_host.Inform("Can not create directory " + destination);
            return false;
        }
    }
    if (options.TargetFormat == tfJPG) {
        m_host.AskJpegQuality();
        if (m_host.JpegQualityChoice > 0)
            JPEGQuality = m_host.JpegQualityChoice;
        m_host.Pump();
        if (m_host.JpegQualityChoice == -1) {
            endQuietly();
            m_host.Inform("The conversion was interrupted by user.");
            return false;
        }
    }
    return true;
}

void TConversionJob::Convert()
{
    m_host.SetBusy(true);
    m_host.Pump();
    const TConversionOptions options = m_host.Options();
    std::string destination;
    int selected = 0;
    if (!StartChecks(options, destination, selected))
        return;

    auto run = std::make_unique<TRun>();
    run->options = options;
    run->destination = destination;
    run->step = 100.0 / (3.0 * selected);
    for (TPixelGraphic& image : run->images) {
        image.SetReadWarningAction(pgwaIgnore);
        image.SetSaveColorResWarningAction(pgwaIgnore);
    }
    m_host.SetProgress(0);
    m_host.StopRequested = false;
    m_host.Running = true;
    m_host.SetStopCaption(true);

    const int count = m_host.ItemCount();
    for (int index = 0; index < count && !m_host.StopRequested; ++index) {
        m_host.Pump();
        // The host's list may shrink while events are processed; stop at its end.
        if (index >= m_host.ItemCount())
            break;
        if (!m_host.ItemSelected(index))
            continue;
        ConvertItem(*run, index);
    }

    m_host.Pump();
    run.reset();
    m_host.SetBusy(false);
    m_host.Pump();
    m_host.Inform(m_host.StopRequested ? "The conversion was interrupted by user." : "The conversion is complete!");
    m_host.SetProgress(0);
    m_host.Running = false;
    m_host.SetStopCaption(false);
}

namespace {

void LoadMetafile(TMetafileHolder* holder, const std::string& path, TPixelGraphic& target)
{
    if (!holder)
        throw EPixelGraphic("No metafile renderer is installed");
    holder->LoadFromFile(path);
    const int width = holder->Width();
    const int height = holder->Height();
    TPixelGraphic bitmap;
    bitmap.SetSize(width, height, bc24);
    // The picture starts one pixel in, so its top row and left column keep the
    // bitmap's background.
    holder->Draw(bitmap, 1, 1);
    bitmap.SetGamma(DisplayGamma);
    bitmap.DetectPaletteIdent();
    target.SetSize(width, height, bc8);
    target.SetPaletteIdent(pSpecial252);
    target.CopyFrom(bitmap);
}

void Rotate(TPixelGraphic& source, TPixelGraphic& target, int option)
{
    const int w = source.Width(), h = source.Height();
    const int ew = w % 2 == 0 ? 1 : 0;
    const int eh = h % 2 == 0 ? 1 : 0;
    switch (option) {
    case jr180:
        target.SetSize(w, h, bc24);
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, w / 2 - ew, h / 2 - eh, 180);
        break;
    case jrLeft:
        target.SetSize(h, w, bc24);
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2, w / 2 - ew, -90);
        break;
    case jrRight:
        target.SetSize(h, w, bc24);
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2 - eh, w / 2, 90);
        break;
    default: break;
    }
}

void ConvertColor(TPixelGraphic& source, TPixelGraphic& target, int option)
{
    static constexpr TBitCount kFormats[5] = {bc1, bc4, bc8, bc8, bc24};
    target.SetSize(source.Width(), source.Height(), kFormats[option]);
    switch (option) {
    case jcr2Colors: target.SetPaletteIdent(pBlackWhite); break;
    case jcr16Colors: target.CreateOptimalPalette(source, 16, true); break;
    case jcr256Colors: target.CreateOptimalPalette(source, 256, true); break;
    case jcrGray8: target.SetPaletteIdent(pGray256); break;
    default: target.SetPaletteIdent(pTrueColor); break;
    }
    target.CopyFrom(source);
}

}  // namespace

void TConversionJob::ConvertItem(TRun& run, int index)
{
    const std::string sourcePath = m_host.ItemPath(index);
    const TItemNames names = NamesOf(sourcePath, run.destination, run.options.TargetFormat);
    TFileOutcome outcome;
    outcome.ItemIndex = index;
    outcome.SourcePath = sourcePath;
    outcome.OutputPath = names.outputPath;
    const auto fail = [&outcome](TJobStep step, const std::exception& e) {
        if (!outcome.Failed) {
            outcome.Failed = true;
            outcome.FailedStep = step;
            outcome.Message = FailureText(e);
        }
    };

    if (run.Advance(m_host))
        return;

    TPixelGraphic* current = &run.images[0];
    TPixelGraphic* other = &run.images[1];
    try {
        if (names.extension == ".wmf" || names.extension == ".emf")
            LoadMetafile(m_host.MetafileHolder(), sourcePath, *current);
        else
            current->LoadFromFile(sourcePath);
    } catch (const std::exception& e) {
        // A skipped file still accounts for its three steps, so the bar ends at 100.
        fail(jsLoad, e);
        m_host.FileDone(outcome);
        run.accumulator += 2 * run.step;
        m_host.SetProgress(NearestEven(run.accumulator));
        return;
    }

    m_host.Pump();
    try {
        if (run.options.Mirror == jmVertical)
            current->MirrorVertical();
        else if (run.options.Mirror == jmHorizontal)
            current->MirrorHorizontal();
    } catch (const std::exception& e) {
        fail(jsMirror, e);
    }
    if (m_host.StopRequested) {
        m_host.FileDone(outcome);
        return;
    }
    m_host.Pump();

    if (run.options.Rotate != jrNone) {
        try {
            Rotate(*current, *other, run.options.Rotate);
            std::swap(current, other);
        } catch (const std::exception& e) {
            fail(jsRotate, e);
        }
    }
    const auto finish = [&] { m_host.FileDone(outcome); };
    if (run.Advance(m_host))
        return finish();

    try {
        ConvertColor(*current, *other, run.options.ColorResolution);
        std::swap(current, other);
    } catch (const std::exception& e) {
        fail(jsColor, e);
    }
    m_host.Pump();
    if (m_host.StopRequested)
        return finish();

    try {
        current->SaveToFile(names.outputPath);
        outcome.Saved = true;
    } catch (const std::exception& e) {
        fail(jsSave, e);
    }
    finish();
    run.Advance(m_host);
}

}  // namespace rastova
