// What the connections of the local server may reach: directories at or beneath the
// launcher's cache directory, resource addresses on the content server's host, the game
// page's or a configured one, and no file the launcher keeps in the cache for itself.
//
// The launcher sets it from the main thread (through the FileSrv entry operations);
// the data thread asks it while it serves SetAddresses and GetFile. Every member takes
// the scope's lock.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "ravlib/lock.h"
#include "server/request_rules.h"

class CCacheScope {
public:
    enum {
        // The normalised cache directory as UTF-8 (up to 259 UTF-16 units).
        kDirectoryBytes = 3 * 260,
        // The configured hosts kept beside the content server's and the game page's.
        kListedHosts = 32,
    };

    CCacheScope();

    // The launcher's cache directory. False when it is not plainly a directory on a local
    // drive: no connection may choose a directory then.
    bool SetCacheDirectory(const wchar_t* directory);
    // The content server's address (its host and port are allowed).
    void SetContentServer(const char* address);
    // The game page's address and the configured host list ("host" or "host:port",
    // comma-separated); replaces the earlier ones. Returns how many list entries were
    // refused.
    size_t SetResourceHosts(const char* gamePageAddress, const char* hostList);
    // The files the launcher keeps in the cache directory (names relative to it, "\" or
    // "/" separators) and the name behind the decimal number that the downloaded new
    // executables carry.
    void SetLauncherFiles(const std::vector<std::wstring>& names, const std::wstring& newExecutableName);

    // text (UTF-8): when it is the cache directory or lies beneath it, its normalised form
    // into directory[directoryCapacity] and the part beneath the cache directory into
    // below[belowCapacity] (both UTF-16, ending with "\" unless empty). False otherwise.
    bool AcceptDirectory(const char* text, wchar_t* directory, size_t directoryCapacity, wchar_t* below,
                         size_t belowCapacity);
    // Whether address is an http or https address on an allowed host and port.
    bool AcceptResourceAddress(const char* address);
    // Whether the file at relativePath (beneath the cache directory, "\" separators) is
    // one of the launcher's own.
    bool IsLauncherFile(const wchar_t* relativePath);

private:
    ravlib::sync::lock::CCSLock lock_;
    char cacheDirectory_[kDirectoryBytes];  // normalised; empty when there is none
    bool hasContentServer_ = false;
    HostAddress contentServer_;
    bool hasGamePage_ = false;
    HostAddress gamePage_;
    HostAddress listedHosts_[kListedHosts];
    size_t listedCount_ = 0;
    bool hasLauncherFiles_ = false;
    std::vector<std::wstring> launcherFiles_;
    std::wstring newExecutableName_;
};

