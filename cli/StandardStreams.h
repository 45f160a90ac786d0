// Pipes for rastova-convert: standard input as the one source, standard output
// as the one destination, both through a private scratch folder, since readers
// choose by content and writers seek.
#pragma once

#include <string>

namespace rastova {

// A private folder under $TMPDIR (or /tmp), removed with everything in it.
class TScratchFolder {
public:
    TScratchFolder();  // raises std::system_error when it cannot be made
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Copies standard input into folder/stdin; "" or the system's reason.
std::string SpoolStandardInput(const std::string& folder, std::string& path);

// Copies the file to standard output; "" or the system's reason
// ("No space left on device" on a full disk).
std::string CopyToStandardOutput(const std::string& path);

}  // namespace rastova
