#include "server/cache_scope.h"

#include <windows.h>

#include <string.h>
#include <wchar.h>

#include "framework/encoding.h"

using ravlib::sync::lock::CAutoLock;

namespace {

// A file name component as UTF-16 (NTFS names have at most 255 units).
enum { kComponentUnits = 260 };

// text[0 .. length) (UTF-8) as UTF-16 into out[capacity], terminated; false when it has
// `capacity` bytes or more, or is not valid UTF-8.
bool StrictWideFromUtf8(const char* text, size_t length, wchar_t* out, size_t capacity) {
    return length < capacity &&
           WideFromNarrow(std::string_view(text, length), Encoding::kUtf8, Unconvertible::kFail, out, capacity);
}

bool IsSameFileName(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    return CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) == CSTR_EQUAL;
}

bool IsSameUtf8FileName(const char* a, size_t aLength, const char* b, size_t bLength) {
    wchar_t wideA[kComponentUnits];
    wchar_t wideB[kComponentUnits];
    return StrictWideFromUtf8(a, aLength, wideA, kComponentUnits) &&
           StrictWideFromUtf8(b, bLength, wideB, kComponentUnits) &&
           IsSameFileName(wideA, wcslen(wideA), wideB, wcslen(wideB));
}

std::wstring WithBackslashes(std::wstring name) {
    for (wchar_t& c : name)
        if (c == L'/') c = L'\\';
    return name;
}

}  // namespace

CCacheScope::CCacheScope() {
    cacheDirectory_[0] = '\0';
}

bool CCacheScope::SetCacheDirectory(const wchar_t* directory) {
    char text[kDirectoryBytes];
    char normalised[kDirectoryBytes];
    const bool accepted = directory &&
                          NarrowFromWide(directory, Encoding::kUtf8, Unconvertible::kFail, text, sizeof text) &&
                          NormaliseDirectory(text, normalised, sizeof normalised) == kDirectoryAccepted;
    CAutoLock guard(&lock_);
    if (accepted)
        memcpy(cacheDirectory_, normalised, strlen(normalised) + 1);
    else
        cacheDirectory_[0] = '\0';
    return accepted;
}

void CCacheScope::SetContentServer(const char* address) {
    HostAddress server;
    uint32_t defaultPort = 0;
    const bool parsed = ParseResourceAddress(address, &server, &defaultPort);
    CAutoLock guard(&lock_);
    hasContentServer_ = parsed;
    if (parsed) contentServer_ = server;
}

size_t CCacheScope::SetResourceHosts(const char* gamePageAddress, const char* hostList) {
    HostAddress page;
    uint32_t defaultPort = 0;
    const bool parsed = ParseResourceAddress(gamePageAddress, &page, &defaultPort);
    HostAddress listed[kListedHosts];
    size_t refused = 0;
    const size_t count = ParseHostList(hostList, listed, kListedHosts, &refused);
    CAutoLock guard(&lock_);
    hasGamePage_ = parsed;
    if (parsed) gamePage_ = page;
    memcpy(listedHosts_, listed, count * sizeof listed[0]);
    listedCount_ = count;
    return refused;
}

void CCacheScope::SetLauncherFiles(const std::vector<std::wstring>& names, const std::wstring& newExecutableName) {
    std::vector<std::wstring> files;
    for (const std::wstring& name : names) files.push_back(WithBackslashes(name));
    CAutoLock guard(&lock_);
    launcherFiles_.swap(files);
    newExecutableName_ = newExecutableName;
    hasLauncherFiles_ = true;
}

bool CCacheScope::AcceptDirectory(const char* text, wchar_t* directory, size_t directoryCapacity, wchar_t* below,
                                  size_t belowCapacity) {
    char normalised[kDirectoryBytes];
    if (NormaliseDirectory(text, normalised, sizeof normalised) != kDirectoryAccepted) return false;
    size_t belowAt = 0;
    {
        CAutoLock guard(&lock_);
        if (!IsWithinDirectory(cacheDirectory_, normalised, IsSameUtf8FileName, &belowAt)) return false;
    }
    const char* part = normalised + belowAt;
    const size_t partLength = strlen(part);
    // The components beneath the cache directory, without the last "\".
    if (partLength > 0 && !ArePlainComponents(part, partLength - 1, '\\')) return false;
    return StrictWideFromUtf8(normalised, strlen(normalised), directory, directoryCapacity) &&
           StrictWideFromUtf8(part, partLength, below, belowCapacity);
}

bool CCacheScope::AcceptResourceAddress(const char* address) {
    HostAddress asked;
    uint32_t defaultPort = 0;
    if (!ParseResourceAddress(address, &asked, &defaultPort)) return false;
    CAutoLock guard(&lock_);
    if (hasContentServer_ && IsAllowedHost(contentServer_, asked, defaultPort)) return true;
    if (hasGamePage_ && IsAllowedHost(gamePage_, asked, defaultPort)) return true;
    for (size_t i = 0; i < listedCount_; ++i)
        if (IsAllowedHost(listedHosts_[i], asked, defaultPort)) return true;
    return false;
}

bool CCacheScope::IsLauncherFile(const wchar_t* relativePath) {
    if (!relativePath) return false;
    const size_t length = wcslen(relativePath);
    CAutoLock guard(&lock_);
    if (!hasLauncherFiles_) return false;
    for (const std::wstring& name : launcherFiles_)
        if (IsSameFileName(relativePath, length, name.c_str(), name.size())) return true;
    // A downloaded new executable: GetTickCount as a signed decimal, then the name.
    const wchar_t* rest = relativePath[0] == L'-' ? relativePath + 1 : relativePath;
    const wchar_t* digits = rest;
    while (*rest >= L'0' && *rest <= L'9') ++rest;
    return rest > digits &&
           IsSameFileName(rest, wcslen(rest), newExecutableName_.c_str(), newExecutableName_.size());
}
