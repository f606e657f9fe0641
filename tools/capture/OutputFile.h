// Files the tool writes, written so that a failed or interrupted run never loses what was there:
// the content goes to a fresh temporary file in the target's folder, which is renamed over the
// target only once it is complete. Paths that are not regular files (devices, folders, FIFOs) are
// refused as outputs, and so is an output that is the same file as another input or output.
#pragma once

#include <fstream>
#include <string>

// Empty when path may be written as an output (it does not exist yet, or it is a regular file or
// a link to one); otherwise the reason.
std::string CheckOutputPath(const std::string& path);

// True when the two paths name the same file: the same device and inode (or, on Windows, the
// same volume and file index) when both exist, the same absolute path after "." and ".." and
// links are resolved otherwise.
bool SameFile(const std::string& a, const std::string& b);

// One output in the making. Open makes the temporary file; Commit closes it and renames it over
// the target. Destroyed without a successful Commit (a failure, an interruption), it removes the
// temporary file and leaves the target as it was.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // False, with the reason, when the temporary file cannot be made beside target.
    bool Open(const std::string& target, std::string& error);
    bool IsOpen() const { return stream_.is_open(); }
    std::ofstream& Stream() { return stream_; }

    // Closes the temporary file and renames it over the target; false, with the reason, when
    // either fails (the temporary file is then removed, the target untouched).
    bool Commit(std::string& error);

    // Removes the temporary file, if any; the target stays as it was.
    void Discard();

private:
    std::string target_;
    std::string temporary_;
    std::ofstream stream_;
};
