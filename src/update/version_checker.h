// The self-update: compares the launcher's version with the version file on the static
// server, downloads a newer executable into the cache directory and writes the batch file
// that puts it in the launcher's place once the launcher has ended.
//
//   VersionChecker checker(host, s.server, s.port, s.versionUrl);
//   checker.StartCheck();                         // asks for the version file (kind 6)
//   ...
//   checker.OnAnswer(kind, success, body, length); // from the host's answer routing
//
// A newer version is fetched as kind 7; once it and the batch are written, the checker
// asks the host to run the batch at exit and posts WM_QUIT to the answering thread.
// With an updateKey in the package the executable stays in memory until its minisign
// signature (kind 8, the executable's address + ".minisig") has verified with that key
// and names the published version, newer than the launcher's own; it is written only
// then. Anything else refuses the update with one log line, and the launcher runs on.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "app/launcher_host.h"
#include "update/minisign.h"
#include "update/version_number.h"

// The batch file written into the cache directory and run by the application at exit.
extern const wchar_t kUpdateBatchName[];

// "http://" (unless host already starts with it, in any letter case), host, ":", port and
// path. Empty for an empty host.
std::string BuildServerUrl(const char* host, int32_t port, const char* path);

// The text after the last '/' or '\' of url (all of it when there is none).
std::string UrlFileName(const char* url);

// The four lines of the update batch, CRLF-terminated: a short pause, the new executable
// renamed to the launcher's name inside the cache directory, moved over the launcher,
// and the launcher started. newExe (D), cacheDirectory (C, ending with a backslash) and
// launcherPath (P) appear with every backslash doubled; launcherName (N) is the file
// name part of launcherPath; a "%" in any of them is written "%%". The file holds this
// text in the ANSI code page.
std::wstring BuildUpdateBatch(const std::wstring& newExe, const std::wstring& launcherName,
                              const std::wstring& cacheDirectory, const std::wstring& launcherPath);

class VersionChecker {
public:
    // The host must outlive the checker.
    VersionChecker(LauncherHost& host, const char* server, int32_t port, const char* versionPath);
    VersionChecker(const VersionChecker&) = delete;
    VersionChecker& operator=(const VersionChecker&) = delete;

    // Requests the version file (kind 6).
    void StartCheck();

    // An answer of kind 6, 7 or 8; other kinds are ignored. body[0 .. length) is all there is.
    // Runs on whichever thread dispatches the HTTP client's answers.
    void OnAnswer(uint32_t kind, bool success, const uint8_t* body, size_t length);

private:
    void OnVersionFile(bool success, const uint8_t* body, size_t length);
    void OnNewLauncher(bool success, const uint8_t* body, size_t length);
    void OnSignature(bool success, const uint8_t* body, size_t length);
    std::string SignatureAddress() const;
    // Why the update is not installed, logged as one line.
    void LogRefusal(const std::string& reason) const;
    // Writes the new executable and the batch, and asks for the exit.
    void Install(const uint8_t* body, size_t length);

    LauncherHost& host_;
    std::string versionPath_;
    std::string serverName_;
    int32_t serverPort_;
    VersionNumber published_ = {0, 0};
    MinisignPublicKey updateKey_ = {};
    // The new executable while its signature is on its way.
    std::vector<uint8_t> unverifiedLauncher_;
};
