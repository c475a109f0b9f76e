// Helpers for tests that write real files: a scratch directory, reading
// files back, recording the platform's WriteFile calls, running programs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/win_file.h"

namespace z3az::test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

bool FileExists(const std::string& path);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Records every WriteFile call while it lives. With failFrom set to n, the
// nth call (1-based) and every later one fail without writing.
class WriteFileRecorder {
public:
    explicit WriteFileRecorder(size_t failFrom = 0);
    ~WriteFileRecorder();
    WriteFileRecorder(const WriteFileRecorder&) = delete;
    WriteFileRecorder& operator=(const WriteFileRecorder&) = delete;
    const std::vector<uint32_t>& lengths() const { return lengths_; }

private:
    static BOOL Hook(void* context, HANDLE file, const void* data, DWORD length);
    std::vector<uint32_t> lengths_;
    size_t failFrom_;
};

// Runs a shell command; returns its exit status and puts its standard
// output into output (when not null).
int RunCommand(const std::string& command, std::string* output = nullptr);

// Runs fn in a child process that cannot write where only root could (the
// child drops to user "nobody" when the tests run as root) and returns the
// child's exit status, or -1 when it could not be run.
int RunUnprivileged(const std::function<int()>& fn);

// The Python interpreter of the distribution (the one that has Pillow).
const char* DistributionPython();

}  // namespace z3az::test
