#include "tools/capture/OutputFile.h"

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Makes path as a new, empty file; false when it exists already or cannot be made.
bool CreateExclusively(const std::string& path) {
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    return fd >= 0 && _close(fd) == 0;
#else
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    return fd >= 0 && ::close(fd) == 0;
#endif
}

int ProcessId() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<int>(::getpid());
#endif
}

// Where the content goes: the target itself, or the regular file a link to it leads to, so a
// link is written through rather than replaced.
fs::path ResolvedTarget(const fs::path& target) {
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        fs::path resolved = fs::canonical(target, error);
        if (!error) {
            return resolved;
        }
    }
    return target;
}

}  // namespace

std::string CheckOutputPath(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found || status.type() == fs::file_type::regular) {
        return {};
    }
    if (error && status.type() == fs::file_type::none) {
        return {};  // cannot be looked at (a missing folder, say): opening it will say why
    }
    return "'" + path + "' is not a regular file; it is not written";
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    if (fs::equivalent(a, b, error) && !error) {
        return true;
    }
    std::error_code errorA;
    std::error_code errorB;
    const fs::path canonicalA = fs::weakly_canonical(a, errorA);
    const fs::path canonicalB = fs::weakly_canonical(b, errorB);
    return !errorA && !errorB && canonicalA == canonicalB;
}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Open(const std::string& target, std::string& error) {
    static std::atomic<int> counter{0};
    Discard();
    const fs::path resolved = ResolvedTarget(target);
    const fs::path folder = resolved.parent_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = std::string(".").append(resolved.filename().string()) + "." +
                                 std::to_string(ProcessId()) + "-" + std::to_string(counter++) + ".part";
        const std::string candidate = (folder / name).string();
        if (CreateExclusively(candidate)) {
            stream_.open(candidate, std::ios::out | std::ios::trunc | std::ios::binary);
            if (!stream_) {
                error = "cannot open '" + target + "' for writing: " + std::strerror(errno);
                std::error_code ignored;
                fs::remove(candidate, ignored);
                return false;
            }
            target_ = resolved.string();
            temporary_ = candidate;
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    error = "cannot open '" + target + "' for writing: " + std::strerror(errno);
    return false;
}

bool OutputFile::Commit(std::string& error) {
    stream_.close();
    if (stream_.fail()) {
        error = "cannot write '" + target_ + "'";
        Discard();
        return false;
    }
    std::error_code renameError;
    fs::rename(temporary_, target_, renameError);
    if (renameError) {
        error = "cannot write '" + target_ + "': " + renameError.message();
        Discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::Discard() {
    if (stream_.is_open()) {
        stream_.close();
    }
    if (!temporary_.empty()) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
        temporary_.clear();
    }
}
