#include "job/BatchInputs.h"
#include "job/FileFilterTable.h"

#include "formats/Register.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rastova {

namespace fs = std::filesystem;

namespace {

std::string SystemReason(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

std::string Joined(const std::string& folder, const std::string& name)
{
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

bool IsImageFileName(const std::string& fileName)
{
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || fileName.find(';', dot) != std::string::npos)
        return false;
    std::string pattern = "*" + fileName.substr(dot);
    for (char& c : pattern)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    // The first filter's mask is "*.bmp;*.dib;...": every readable extension.
    const std::string all = std::string(";") + kFileFilters[0].Mask + ";";
    if (all.find(";" + pattern + ";") != std::string::npos)
        return true;
    // Formats registered beyond the window's filter are taken as well.
    const std::string extension = pattern.substr(2);
    const auto& readers = FileFormatReaders();
    return std::any_of(readers.begin(), readers.end(),
                       [&](const auto& reader) { return reader->Extension == extension; });
}

std::string FileProblem(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? "does not exist" : SystemReason(errno);
    if (S_ISDIR(info.st_mode))
        return kFolderWithoutRecursion;
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode))
        return "is not a regular file";
    // Opening a FIFO would wait for its writer; the loader does that in its turn.
    if (S_ISFIFO(info.st_mode))
        return "";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "is not readable: " + SystemReason(errno);
    ::close(fd);
    if (info.st_size == 0)
        return "is empty";
    return "";
}

void TBatchInputs::Add(const std::string& path, bool recursive)
{
    std::error_code error;
    if (recursive && fs::is_directory(path, error)) {
        AddFolder(path, "");
        return;
    }
    m_items.push_back({path, "", FileProblem(path)});
}

void TBatchInputs::ExcludeFolder(const std::string& folder)
{
    std::error_code error;
    const fs::path canonical = fs::canonical(folder, error);
    m_excluded = error ? std::string() : canonical.string();
}

void TBatchInputs::AddFolder(const std::string& folder, const std::string& relative)
{
    std::error_code error;
    if (!m_excluded.empty() && fs::canonical(folder, error).string() == m_excluded)
        return;
    std::vector<std::pair<std::string, bool>> entries;  // name, is a folder
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code kind;
        // Links to folders are not followed: a link back up would never end.
        const bool isFolder = it->is_directory(kind) && !it->is_symlink(kind);
        const std::string name = it->path().filename().string();
        if (isFolder || IsImageFileName(name))
            entries.emplace_back(name, isFolder);
    }
    if (error) {
        m_items.push_back({folder, relative, "cannot read the folder: " + error.message()});
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& [name, isFolder] : entries) {
        const std::string path = Joined(folder, name);
        if (isFolder)
            AddFolder(path, Joined(relative, name));
        else
            m_items.push_back({path, relative, FileProblem(path)});
    }
}

std::vector<std::string> ReadPathList(std::istream& in, bool nulSeparated)
{
    std::vector<std::string> paths;
    std::string entry;
    while (std::getline(in, entry, nulSeparated ? '\0' : '\n')) {
        if (!nulSeparated && !entry.empty() && entry.back() == '\r')
            entry.pop_back();
        if (!entry.empty())
            paths.push_back(entry);
    }
    return paths;
}

}  // namespace rastova
