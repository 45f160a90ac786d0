#include "image/PGMessages.h"

#include "image/PGExceptions.h"

namespace rastova {

std::uint8_t LanguageIndex = 0;

// Columns: English, German, French, Dutch, Spanish, sixth. Texts are UTF-8.
const std::array<TPGLangStrEntry, kMessageCount> PGLangStrEntries = {{
    {0, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
    {1, {"X, Y index out of range", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {2, {"No palette", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {3, {"Invalid palette index", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {4, {"Unknown clipboard format", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {5, {"Invalid temporary file", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {6, {"Unknown file format", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {7, {"%S1 invalid", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {8, {"black and white", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {9, {"2 colors", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {10, {"16 shades of gray", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {11, {"16 system colors", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {12, {"16 colors", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {13, {"256 shades of gray", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {14, {"256 colors", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {15, {"16.7 million colors", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {16, {"%S1 is empty", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {17, {"The graphic cannot be saved to a %S1 file with the current color resolution (%S2).\r\rThe graphic will be saved with a different color resolution (%S3).", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {18, {"The graphic cannot be saved with to a %S1 file with the current color resolution (%S2)", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {19, {"Unknown file extension \"%S1\"", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {20, {"Invalid value for %S1", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {21, {"Negative height", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {22, {"Negative width", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {23, {"Cannot apply this filter to a source that is identical to the target", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {24, {"bit", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {25, {"Image files", nullptr, nullptr, nullptr, nullptr, "Image files"}},
    {26, {"All files", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {27, {"Invalid size of %S1", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {28, {"Warning", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {29, {"Operation aborted on user request", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {30, {"Not supported subformat", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {31, {"%S1 failed", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {32, {"Unexpected end of file", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {33, {"Unknown subformat", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {34, {"Not a %S1 file", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {35, {"Width = 0 or Height = 0", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {36, {"Invalid color resolution", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {37, {"Unsupported field type %S1", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {38, {"Invalid count of bytes in row %S1", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {39, {"Unsupported Compression", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {40, {"Saturation=0 and Hue defined", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {41, {"%S1 out of range", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {42, {"OK", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {43, {"Cancel", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {44, {"RGB Filter", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {45, {"R", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {46, {"G", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {47, {"B", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {48, {"CMY Filter", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {49, {"C", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {50, {"M", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {51, {"Y", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {52, {"YCbCr Filter", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {53, {"Y", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {54, {"Cb", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {55, {"Cr", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {56, {"HLS Filter", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {57, {"H", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {58, {"L", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {59, {"S", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {60, {"HSV Filter", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {61, {"V", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {62, {"Negative Filter", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {63, {"Gamma", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {64, {"RGB", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {65, {"Y", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {66, {"Brightness", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {67, {"Contrast", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {68, {"Apply on", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {69, {"Brightness, Contrast, Gamma Filter", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {70, {"Grayscale Filter", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {71, {"RGB weighting", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {72, {"Std. deviation", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {73, {"Strength", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {74, {"Sharpen", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {75, {"Detail", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {76, {"Smooth", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {77, {"Radius", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {78, {"Blur", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {79, {"Contour", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {80, {"White", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {81, {"Black", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {82, {"±", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {83, {"°", nullptr, nullptr, nullptr, nullptr, nullptr}},
    {84, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
}};

void GetMessage(std::uint8_t key, std::string& text)
{
    if (LanguageIndex >= kLanguageCount)
        return;
    const char* s = key < kMessageCount ? PGLangStrEntries[key].Texts[LanguageIndex] : nullptr;
    text = s ? s : "";
}

namespace {

// Only the first occurrence is replaced, and later placeholders are looked up
// in the text as it stands after the earlier replacements.
void ReplaceFirst(std::string& text, const char* placeholder, const std::string& word)
{
    const std::size_t at = text.find(placeholder);
    if (at != std::string::npos)
        text.replace(at, 3, word);
}

}  // namespace

void FormatMessage1(std::uint8_t key, const std::string& s1, std::string& text)
{
    GetMessage(key, text);
    ReplaceFirst(text, "%S1", s1);
}

void FormatMessage2(std::uint8_t key, const std::string& s1, const std::string& s2, std::string& text)
{
    FormatMessage1(key, s1, text);
    ReplaceFirst(text, "%S2", s2);
}

void FormatMessage3(std::uint8_t key, const std::string& s1, const std::string& s2, const std::string& s3,
                    std::string& text)
{
    FormatMessage2(key, s1, s2, text);
    ReplaceFirst(text, "%S3", s3);
}

std::string MessageText(std::uint8_t key)
{
    std::string text;
    GetMessage(key, text);
    return text;
}

std::string MessageText(std::uint8_t key, const std::string& s1)
{
    std::string text;
    FormatMessage1(key, s1, text);
    return text;
}

std::string MessageText(std::uint8_t key, const std::string& s1, const std::string& s2)
{
    std::string text;
    FormatMessage2(key, s1, s2, text);
    return text;
}

std::string MessageText(std::uint8_t key, const std::string& s1, const std::string& s2, const std::string& s3)
{
    std::string text;
    FormatMessage3(key, s1, s2, s3, text);
    return text;
}

void CheckMessageOrder(const TPGLangStrEntry* entries, int count)
{
    for (int i = 0; i < count; ++i) {
        if (entries[i].Key != i)
            throw EPixelGraphic("PGLangStrEntries order wrong " + std::to_string(i) + " and " +
                                std::to_string(entries[i].Key) + " are not identical");
    }
}

}  // namespace rastova
