#include "cli/StandardStreams.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace rastova {

namespace {

std::string SystemReason(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

// Everything of in to out; "" or the reason of the first failure.
std::string CopyAll(int in, int out)
{
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return SystemReason(errno);
        if (got == 0)
            return "";
        for (ssize_t sent = 0; sent < got;) {
            const ssize_t put = ::write(out, buffer.data() + sent, std::size_t(got - sent));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return SystemReason(errno);
            sent += put;
        }
    }
}

}  // namespace

TScratchFolder::TScratchFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/rastova-convert-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::system_error(errno, std::generic_category(), "cannot make a scratch folder");
    m_path = pattern;
}

TScratchFolder::~TScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string SpoolStandardInput(const std::string& folder, std::string& path)
{
    path = folder + "/stdin";
    const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return SystemReason(errno);
    std::string problem = CopyAll(STDIN_FILENO, out);
    if (::close(out) != 0 && problem.empty())
        problem = SystemReason(errno);
    return problem;
}

std::string CopyToStandardOutput(const std::string& path)
{
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return SystemReason(errno);
    const std::string problem = CopyAll(in, STDOUT_FILENO);
    ::close(in);
    return problem;
}

}  // namespace rastova
