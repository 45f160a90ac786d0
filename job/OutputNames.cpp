#include "job/OutputNames.h"

#include "job/ConversionJob.h"

#include <clocale>
#include <cwctype>
#include <filesystem>
#include <locale.h>
#include <set>
#include <sys/stat.h>

namespace rastova {

namespace fs = std::filesystem;

namespace {

// One spelling per file, so "out/a.bmp" and "./out/a.bmp" meet.
std::string Normal(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? fs::path(path) : absolute).lexically_normal().string();
}

}  // namespace

std::string NumberedPath(const std::string& path, int number)
{
    const fs::path p(path);
    const std::string stem = p.stem().string(), extension = p.extension().string();
    return (p.parent_path() / (stem + "-" + std::to_string(number) + extension)).string();
}

namespace {

// The code point of the UTF-8 sequence at text[at] and its length; length 0
// for a byte that does not begin a well-formed sequence.
std::pair<char32_t, std::size_t> DecodeUtf8(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || at + length > text.size())
        return {0, 0};
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {0, 0};
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    static constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return {0, 0};
    return {code, length};
}

void EncodeUtf8(char32_t code, std::string& out)
{
    if (code < 0x80) {
        out += char(code);
        return;
    }
    const int length = code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    static constexpr unsigned char kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    out += char(kLead[length] | (code >> (6 * (length - 1))));
    for (int i = length - 2; i >= 0; --i)
        out += char(0x80 | ((code >> (6 * i)) & 0x3F));
}

// Unicode's simple case mapping, whatever locale the process runs in.
char32_t LowerCodePoint(char32_t code)
{
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    if (code < 0x80 || !unicode)
        return code >= 'A' && code <= 'Z' ? code - 'A' + 'a' : code;
    return char32_t(towlower_l(wint_t(code), unicode));
}

}  // namespace

std::string LowerUtf8(const std::string& text)
{
    std::string lowered;
    lowered.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto [code, length] = DecodeUtf8(text, at);
        if (length == 0) {
            lowered += text[at++];
            continue;
        }
        EncodeUtf8(LowerCodePoint(code), lowered);
        at += length;
    }
    return lowered;
}

bool ParseExistingPolicy(const std::string& text, TExistingPolicy& policy)
{
    if (text == "overwrite")
        policy = epOverwrite;
    else if (text == "skip")
        policy = epSkip;
    else if (text == "rename")
        policy = epRename;
    else
        return false;
    return true;
}

std::string OutputNameFor(const std::string& sourcePath, const std::string& targetExtension, bool keepCase)
{
    const std::size_t slash = sourcePath.find_last_of('/');
    const std::string fileName = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
    const std::size_t dot = fileName.find_last_of('.');
    const std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    return (keepCase ? base : LowerUtf8(base)) + targetExtension;
}

bool PathIsTaken(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<TPlannedOutput> PlanOutputs(const std::vector<std::string>& sources,
                                        const std::vector<std::string>& outputs, TExistingPolicy policy,
                                        const std::function<bool(const std::string&)>& exists)
{
    std::vector<TPlannedOutput> plans(outputs.size());
    std::set<std::string> sourceSet, claimed;
    for (const std::string& source : sources)
        sourceSet.insert(Normal(source));
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        plans[i].Path = outputs[i];
        if (policy == epSkip)
            plans[i].Skip = exists(outputs[i]);
        if (policy != epRename)
            continue;
        const auto taken = [&](const std::string& path) {
            const std::string normal = Normal(path);
            return claimed.count(normal) != 0 || sourceSet.count(normal) != 0 || exists(path);
        };
        for (int number = 1; taken(plans[i].Path); ++number) {
            plans[i].Path = NumberedPath(outputs[i], number);
            plans[i].Number = number;
        }
        claimed.insert(Normal(plans[i].Path));
    }
    return plans;
}

}  // namespace rastova
