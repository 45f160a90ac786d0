// Output names of a batch: the case of the name, and what happens to a file
// that is already there. Decided for every item before anything is written,
// so parallel items never race for a name and every run names alike.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rastova {

enum TExistingPolicy { epOverwrite, epSkip, epRename };

// "overwrite", "skip" or "rename"; false for anything else.
bool ParseExistingPolicy(const std::string& text, TExistingPolicy& policy);

// Lower case of every letter of a UTF-8 text that has one; bytes that are not
// UTF-8 stay as they are.
std::string LowerUtf8(const std::string& text);

// The refusal of an item whose output would replace its own source.
inline constexpr const char* kSelfOverwriteRefusal =
    "would replace its own source; use --existing overwrite to allow it";

// The source's base name (lower-cased unless keepCase) with the target extension.
std::string OutputNameFor(const std::string& sourcePath, const std::string& targetExtension, bool keepCase);

struct TPlannedOutput {
    std::string Path;
    bool Skip = false;  // an existing file stays; the item is not converted
    int Number = 0;     // under rename: the N of "name-N.ext", 0 for the name itself
};

// path with "-number" before its extension.
std::string NumberedPath(const std::string& path, int number);

// One plan per item, in list order. overwrite keeps each path; skip marks items
// whose output exists; rename moves an item whose output exists, or is taken by
// an earlier item or is another item's source, to the first free "name-N.ext".
std::vector<TPlannedOutput> PlanOutputs(const std::vector<std::string>& sources,
                                        const std::vector<std::string>& outputs, TExistingPolicy policy,
                                        const std::function<bool(const std::string&)>& exists);

// The default test for PlanOutputs: anything at the path, even a dangling link.
bool PathIsTaken(const std::string& path);

}  // namespace rastova
