// Small helpers shared by the test programs.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>

namespace testing_support {

// Windows path of a file produced into the build's fixture folder.
std::wstring FixturePath(const std::wstring& name);

// Whole contents of a file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const void* data, size_t length);

// A fresh directory under the system's temporary folder, removed with its contents
// when the object goes away. path() ends with a backslash.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace testing_support
