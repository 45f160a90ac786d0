#include "formats/PhotoCodecs.h"

#include "image/AlphaBlend.h"
#include "image/PGSettings.h"
#include "image/Streams.h"

#include <algorithm>
#include <thread>

namespace rastova {

std::vector<std::uint8_t> ReadRestOfStream(TStream& stream)
{
    std::vector<std::uint8_t> data(std::size_t(stream.Remaining()));
    if (!data.empty())
        data.resize(std::size_t(stream.Read(data.data(), std::int64_t(data.size()))));
    return data;
}

int PhotoCodecThreadCount()
{
    const int threads = Settings().PhotoCodecThreads;
    if (threads > 0)
        return threads;
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

int ClampQuality(int quality)
{
    return std::clamp(quality, 1, 100);
}

void StoreRgbRun(TPixelGraphic& graphic, int x, int y, int count, const std::uint8_t* rgb)
{
    std::uint8_t* out = graphic.ScanLine(y) + 3 * std::size_t(x);
    for (int i = 0; i < count; ++i, rgb += 3, out += 3) {
        out[0] = rgb[2];
        out[1] = rgb[1];
        out[2] = rgb[0];
    }
}

void StoreRgbaRunOver(TPixelGraphic& graphic, int x, int y, int count, const std::uint8_t* rgba, TRGB background)
{
    const unsigned red = RedOf(background), green = GreenOf(background), blue = BlueOf(background);
    std::uint8_t* out = graphic.ScanLine(y) + 3 * std::size_t(x);
    for (int i = 0; i < count; ++i, rgba += 4, out += 3) {
        const unsigned alpha = rgba[3];
        out[0] = OverBackground(rgba[2], alpha, blue);
        out[1] = OverBackground(rgba[1], alpha, green);
        out[2] = OverBackground(rgba[0], alpha, red);
    }
}

void StoreRgbRow(TPixelGraphic& graphic, int y, const std::uint8_t* rgb)
{
    StoreRgbRun(graphic, 0, y, graphic.Width(), rgb);
}

void StoreRgbaRowOver(TPixelGraphic& graphic, int y, const std::uint8_t* rgba, TRGB background)
{
    StoreRgbaRunOver(graphic, 0, y, graphic.Width(), rgba, background);
}

TBitCount PhotoPixelFormat(bool alpha)
{
    return alpha && !Settings().FlattenAlphaOnLoad ? bc32 : bc24;
}

void StoreRgbaRow(TPixelGraphic& graphic, int y, const std::uint8_t* rgba)
{
    if (graphic.BitCount() != bc32) {
        StoreRgbaRowOver(graphic, y, rgba, graphic.GetBackGroundColor());
        return;
    }
    std::uint8_t* out = graphic.ScanLine(y);
    for (int x = 0; x < graphic.Width(); ++x, rgba += 4, out += 4) {
        out[0] = rgba[2];
        out[1] = rgba[1];
        out[2] = rgba[0];
        out[3] = rgba[3];
    }
}

std::vector<std::uint8_t> TopDownRgb(TPixelGraphic& graphic, TObject* sender)
{
    const int width = graphic.Width();
    const int height = graphic.Height();
    std::vector<std::uint8_t> rgb(std::size_t(width) * std::size_t(height) * 3);
    std::uint8_t* out = rgb.data();
    for (int y = 0; y < height; ++y) {
        if (graphic.BitCount() == bc24) {
            const std::uint8_t* row = graphic.ScanLine(y);
            for (int x = 0; x < width; ++x, row += 3, out += 3) {
                out[0] = row[2];
                out[1] = row[1];
                out[2] = row[0];
            }
        } else {
            for (int x = 0; x < width; ++x, out += 3) {
                const TRGB color = graphic.GetColor(x, y);
                out[0] = RedOf(color);
                out[1] = GreenOf(color);
                out[2] = BlueOf(color);
            }
        }
        graphic.Progress(sender, y, height - 1);
    }
    return rgb;
}

std::string PhotoSubFormatText(const std::string& coding, int bitDepth, bool alpha, int frames)
{
    std::string text = coding.empty() ? "" : coding + ", ";
    text += std::to_string(bitDepth) + "-bit";
    if (alpha)
        text += ", alpha";
    if (frames > 1)
        text += ", " + std::to_string(frames) + " frames";
    return text;
}

}  // namespace rastova
