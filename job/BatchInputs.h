// What a batch converts: files named one by one, files listed in a file or on
// standard input, and the image files under folders. Every input that cannot be
// an item says why, in words a user can act on.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace rastova {

struct TBatchInput {
    std::string Path;            // as given, or the folder joined with the path below it
    std::string RelativeFolder;  // folder under the destination its output goes to; empty for the destination itself
    std::string Problem;         // why it cannot be converted; empty for a good item
};

// True when the name ends, in any case, with an extension of the "All image
// files" filter or one that a registered reader claims.
bool IsImageFileName(const std::string& fileName);

class TBatchInputs {
public:
    // Adds one path given by the user. A folder is an item with a problem unless
    // recursive; then every image file below it is an item, in name order.
    void Add(const std::string& path, bool recursive);
    // A folder that folder scans leave out, with everything under it: the
    // destination, so that a second run does not convert the first one's output.
    void ExcludeFolder(const std::string& folder);
    const std::vector<TBatchInput>& Items() const { return m_items; }

private:
    void AddFolder(const std::string& folder, const std::string& relative);
    std::vector<TBatchInput> m_items;
    std::string m_excluded;  // canonical; empty: none
};

// Reads one path per line ('\n', a trailing '\r' removed) or NUL-separated
// paths; empty entries are left out.
std::vector<std::string> ReadPathList(std::istream& in, bool nulSeparated);

// The problem of a folder given where files are expected.
inline constexpr const char* kFolderWithoutRecursion = "is a folder; use -R";

// Why a path cannot be read as a file, or "" when it can.
std::string FileProblem(const std::string& path);

}  // namespace rastova
