#include "job/BatchSteps.h"

#include "image/PGraphic.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <utility>

namespace rastova {

namespace {

bool ParsePositive(const char* first, const char* last, int& value)
{
    if (first == last || *first == '+' || *first == '-')
        return false;
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && value > 0;
}

// numerator / denominator rounded to the nearest integer, halves up, at least 1.
int RoundedRatio(std::int64_t numerator, std::int64_t denominator)
{
    return int(std::max<std::int64_t>(1, (2 * numerator + denominator) / (2 * denominator)));
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool ParseFitBox(const std::string& text, TFitBox& box)
{
    std::string body = text;
    TFitBox parsed;
    if (!body.empty() && body.back() == '!') {
        parsed.Enlarge = true;
        body.pop_back();
    }
    const std::size_t x = body.find_first_of("xX");
    if (x == std::string::npos)
        return false;
    const char* data = body.data();
    if (!ParsePositive(data, data + x, parsed.Width) || !ParsePositive(data + x + 1, data + body.size(), parsed.Height))
        return false;
    box = parsed;
    return true;
}

TImageSize FittedSize(int width, int height, const TFitBox& box)
{
    if (!box.Active() || width < 1 || height < 1)
        return {width, height};
    const bool fits = width <= box.Width && height <= box.Height;
    if (fits && !box.Enlarge)
        return {width, height};
    // The side that reaches the box first sets the factor; compare in integers
    // so that equal ratios do not depend on floating-point rounding.
    if (std::int64_t(box.Width) * height <= std::int64_t(box.Height) * width)
        return {box.Width, RoundedRatio(std::int64_t(height) * box.Width, width)};
    return {RoundedRatio(std::int64_t(width) * box.Height, height), box.Height};
}

void PrepareGeometryTarget(const TPixelGraphic& source, TPixelGraphic& target, int width, int height)
{
    target.SetSize(width, height, source.HasAlpha() ? bc32 : bc24);
    if (source.IsTrueColorFormat())
        target.SetBackGroundColor(source.GetBackGroundColor());
}

namespace {

bool ResampleTo(const TPixelGraphic& source, TPixelGraphic& target, TImageSize size)
{
    if (size.Width == source.Width() && size.Height == source.Height())
        return false;
    PrepareGeometryTarget(source, target, size.Width, size.Height);
    target.SetStretchMode(smPrecise);
    target.StretchCopyRect(0, 0, size.Width, size.Height, source, 0, 0, source.Width(), source.Height());
    return true;
}

// Both sides scaled so that the governing side becomes its box side.
TImageSize ScaledBy(int width, int height, const TResizeGeometry& g, bool byWidth)
{
    if (byWidth)
        return {g.Width, RoundedRatio(std::int64_t(height) * g.Width, width)};
    return {RoundedRatio(std::int64_t(width) * g.Height, height), g.Height};
}

bool ParseResizeBox(const std::string& body, TResizeGeometry& parsed)
{
    const std::size_t x = body.find_first_of("xX");
    const char* data = body.data();
    if (x == std::string::npos)
        return ParsePositive(data, data + body.size(), parsed.Width);
    const bool width = x == 0 || ParsePositive(data, data + x, parsed.Width);
    const bool height = x + 1 < body.size() && ParsePositive(data + x + 1, data + body.size(), parsed.Height);
    return width && height;
}

}  // namespace

bool FitImage(const TPixelGraphic& source, TPixelGraphic& target, const TFitBox& box)
{
    return ResampleTo(source, target, FittedSize(source.Width(), source.Height(), box));
}

bool ParseResizeGeometry(const std::string& text, TResizeGeometry& geometry)
{
    TResizeGeometry parsed;
    std::string body = text;
    if (!body.empty() && body.back() == '%') {
        body.pop_back();
        const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), parsed.Percent);
        if (body.empty() || body[0] == '-' || body[0] == '+' || error != std::errc() ||
            end != body.data() + body.size() || !(parsed.Percent > 0) || parsed.Percent > 1e6)
            return false;
        parsed.Mode = rmPercent;
        geometry = parsed;
        return true;
    }
    static const std::pair<char, TResizeMode> kFlags[] = {{'!', rmExact}, {'>', rmShrink}, {'<', rmEnlarge}, {'^', rmFill}};
    parsed.Mode = rmFit;
    for (const auto& [flag, mode] : kFlags)
        if (!body.empty() && body.back() == flag) {
            parsed.Mode = mode;
            body.pop_back();
            break;
        }
    if (!ParseResizeBox(body, parsed))
        return false;
    // An exact size and a filled box need both sides.
    if ((parsed.Mode == rmExact || parsed.Mode == rmFill) && (parsed.Width == 0 || parsed.Height == 0))
        return false;
    geometry = parsed;
    return true;
}

TImageSize ResizedSize(int width, int height, const TResizeGeometry& g)
{
    if (!g.Active() || width < 1 || height < 1)
        return {width, height};
    if (g.Mode == rmPercent)
        return {std::max(1, int(std::lround(width * g.Percent / 100))),
                std::max(1, int(std::lround(height * g.Percent / 100)))};
    if (g.Mode == rmExact)
        return {g.Width, g.Height};
    // A side not given never limits.
    const bool widthOver = g.Width > 0 && width > g.Width, heightOver = g.Height > 0 && height > g.Height;
    const bool widthUnder = g.Width == 0 || width < g.Width, heightUnder = g.Height == 0 || height < g.Height;
    if ((g.Mode == rmShrink && !widthOver && !heightOver) || (g.Mode == rmEnlarge && !(widthUnder && heightUnder)))
        return {width, height};
    if (g.Height == 0 || g.Width == 0)
        return ScaledBy(width, height, g, g.Height == 0);
    // Compared in integers, so that equal ratios do not depend on rounding.
    const std::int64_t byWidth = std::int64_t(g.Width) * height, byHeight = std::int64_t(g.Height) * width;
    return ScaledBy(width, height, g, g.Mode == rmFill ? byWidth >= byHeight : byWidth <= byHeight);
}

bool ResizeImage(const TPixelGraphic& source, TPixelGraphic& target, const TResizeGeometry& geometry)
{
    return ResampleTo(source, target, ResizedSize(source.Width(), source.Height(), geometry));
}

void RotateQuarter(const TPixelGraphic& source, TPixelGraphic& target, bool clockwise)
{
    const int w = source.Width(), h = source.Height();
    const int ew = w % 2 == 0 ? 1 : 0;
    const int eh = h % 2 == 0 ? 1 : 0;
    PrepareGeometryTarget(source, target, h, w);
    if (clockwise)
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2 - eh, w / 2, 90);
    else
        target.Rotate(source, 0, 0, w, h, w / 2, h / 2, h / 2, w / 2 - ew, -90);
}

void ApplyOrientation(TPixelGraphic*& current, TPixelGraphic*& other, TExifOrientation orientation)
{
    const auto quarter = [&](bool clockwise) {
        RotateQuarter(*current, *other, clockwise);
        std::swap(current, other);
    };
    switch (orientation) {
    case eoTopRight: current->MirrorHorizontal(); break;
    case eoBottomRight:
        current->MirrorHorizontal();
        current->MirrorVertical();
        break;
    case eoBottomLeft: current->MirrorVertical(); break;
    case eoLeftTop:
        quarter(true);
        current->MirrorHorizontal();
        break;
    case eoRightTop: quarter(true); break;
    case eoRightBottom:
        quarter(true);
        current->MirrorVertical();
        break;
    case eoLeftBottom: quarter(false); break;
    default: break;
    }
}

bool ParseColor(const std::string& text, TRGB& color)
{
    if (text.size() == 7 && text[0] == '#') {
        std::uint32_t value = 0;
        const auto [end, error] = std::from_chars(text.data() + 1, text.data() + 7, value, 16);
        if (error != std::errc() || end != text.data() + 7)
            return false;
        color = RGBValue(std::uint8_t(value >> 16), std::uint8_t(value >> 8), std::uint8_t(value));
        return true;
    }
    static const std::pair<const char*, TRGB> kNames[] = {
        {"black", RGBValue(0, 0, 0)},         {"white", RGBValue(255, 255, 255)},
        {"gray", RGBValue(128, 128, 128)},    {"grey", RGBValue(128, 128, 128)},
        {"silver", RGBValue(192, 192, 192)},  {"red", RGBValue(255, 0, 0)},
        {"green", RGBValue(0, 128, 0)},       {"lime", RGBValue(0, 255, 0)},
        {"blue", RGBValue(0, 0, 255)},        {"navy", RGBValue(0, 0, 128)},
        {"yellow", RGBValue(255, 255, 0)},    {"cyan", RGBValue(0, 255, 255)},
        {"magenta", RGBValue(255, 0, 255)},   {"maroon", RGBValue(128, 0, 0)},
        {"olive", RGBValue(128, 128, 0)},     {"purple", RGBValue(128, 0, 128)},
        {"teal", RGBValue(0, 128, 128)},
    };
    const std::string name = Lower(text);
    for (const auto& [known, value] : kNames)
        if (name == known) {
            color = value;
            return true;
        }
    return false;
}

}  // namespace rastova
