#include "framework/paths.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }
constexpr int kPathCapacity = 4096;

// The length of the root that `path` starts with and that is never created: "\\server\share\"
// of a network path (any separators), "\" of a path rooted on the current drive; 0 for
// other paths, whose drive ("C:") the component loop passes over.
int RootLength(const wchar_t* path) {
    if (!IsSeparator(path[0])) return 0;
    if (!IsSeparator(path[1])) return 1;
    int i = 2;
    for (int part = 0; part < 2; ++part) {
        while (path[i] && !IsSeparator(path[i])) ++i;
        if (path[i]) ++i;
    }
    return i;
}

}  // namespace

bool FileExists(const wchar_t* path) {
    return path && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

int DirectoryOfPath(const wchar_t* path, wchar_t* buffer, int capacity) {
    if (!path || !buffer || capacity <= 0) return 0;
    int last = -1;
    for (int i = 0; path[i]; ++i)
        if (IsSeparator(path[i])) last = i;
    if (last < 1) return 0;
    int copy = last < capacity - 1 ? last : capacity - 1;
    for (int i = 0; i < copy; ++i) buffer[i] = path[i];
    buffer[copy] = L'\0';
    return last;
}

bool CreateDirectoryPath(const wchar_t* path) {
    if (!path) return false;
    wchar_t work[kPathCapacity];
    int used = RootLength(path);
    if (used >= kPathCapacity) return false;
    for (int i = 0; i < used; ++i) work[i] = IsSeparator(path[i]) ? L'\\' : path[i];
    work[used] = L'\0';
    const wchar_t* p = path + used;
    while (*p) {
        while (IsSeparator(*p)) ++p;
        if (!*p) break;
        const wchar_t* start = p;
        while (*p && !IsSeparator(*p)) ++p;
        int length = static_cast<int>(p - start);
        // The component, its backslash and the terminator must fit.
        if (used + length + 1 >= kPathCapacity) return false;
        for (int i = 0; i < length; ++i) work[used + i] = start[i];
        used += length;
        work[used] = L'\0';
        if (work[used - 1] != L':') {
            DWORD attributes = GetFileAttributesW(work);
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND) {
                    if (!CreateDirectoryW(work, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                        return false;
                }
            } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return false;
            }
        }
        work[used++] = L'\\';
        work[used] = L'\0';
    }
    return true;
}
