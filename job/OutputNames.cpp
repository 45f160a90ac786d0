#include "job/OutputNames.h"

#include "job/ConversionJob.h"

#include <filesystem>
#include <set>
#include <sys/stat.h>

namespace rastova {

namespace fs = std::filesystem;

namespace {

std::string Numbered(const std::string& path, int number)
{
    const fs::path p(path);
    const std::string stem = p.stem().string(), extension = p.extension().string();
    return (p.parent_path() / (stem + "-" + std::to_string(number) + extension)).string();
}

}  // namespace

std::string PathKey(const std::string& path)
{
    std::error_code error;
    fs::path key = fs::weakly_canonical(path, error);
    if (error)
        key = fs::absolute(path, error).lexically_normal();
    return key.string();
}

std::string JoinedPath(const std::string& folder, const std::string& name)
{
    if (name.empty())
        return folder;
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string SourceExtension(const std::string& sourcePath)
{
    const std::string fileName = sourcePath.substr(sourcePath.find_last_of('/') + 1);
    const std::size_t dot = fileName.find_last_of('.');
    return dot == std::string::npos ? "" : LowerAscii(fileName.substr(dot));
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
    const std::string fileName = sourcePath.substr(sourcePath.find_last_of('/') + 1);
    const std::size_t dot = fileName.find_last_of('.');
    const std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    return (keepCase ? base : LowerAscii(base)) + targetExtension;
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
        sourceSet.insert(PathKey(source));
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        plans[i].Path = outputs[i];
        if (policy == epSkip)
            plans[i].Skip = exists(outputs[i]);
        if (policy != epRename)
            continue;
        const auto taken = [&](const std::string& path) {
            const std::string normal = PathKey(path);
            return claimed.count(normal) != 0 || sourceSet.count(normal) != 0 || exists(path);
        };
        for (int number = 1; taken(plans[i].Path); ++number)
            plans[i].Path = Numbered(outputs[i], number);
        claimed.insert(PathKey(plans[i].Path));
    }
    return plans;
}

}  // namespace rastova
