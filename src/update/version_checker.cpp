#include "update/version_checker.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "framework/text.h"
#include "ravlib/log.h"
#include "server/file_cache.h"

const wchar_t kUpdateBatchName[] = L"Launcher_update.bat";

namespace {

const char kSignatureSuffix[] = ".minisig";

const char kHttpScheme[] = "http://";
const size_t kHttpSchemeLength = sizeof kHttpScheme - 1;

// A path as the batch writes it: every backslash twice, and every "%" twice so that cmd
// reads it as a percent sign instead of the start of a variable.
std::wstring BatchPathText(const std::wstring& text) {
    std::wstring doubled;
    doubled.reserve(text.size() * 2);
    for (wchar_t c : text) {
        doubled += c;
        if (c == L'\\' || c == L'%') doubled += c;
    }
    return doubled;
}

std::string VersionText(const VersionNumber& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor);
}

bool IsSameVersion(const VersionNumber& a, const VersionNumber& b) { return a.major == b.major && a.minor == b.minor; }

}  // namespace

std::string BuildServerUrl(const char* host, int32_t port, const char* path) {
    if (!host || !*host) return std::string();
    std::string url;
    if (_strnicmp(host, kHttpScheme, kHttpSchemeLength) != 0) url = kHttpScheme;
    url += host;
    url += ':';
    url += std::to_string(port);
    if (path) url += path;
    return url;
}

std::string UrlFileName(const char* url) {
    if (!url) return std::string();
    const char* name = url;
    for (const char* c = url; *c; ++c)
        if (*c == '/' || *c == '\\') name = c + 1;
    return name;
}

std::wstring BuildUpdateBatch(const std::wstring& newExe, const std::wstring& launcherName,
                              const std::wstring& cacheDirectory, const std::wstring& launcherPath) {
    const std::wstring d = BatchPathText(newExe);
    const std::wstring n = BatchPathText(launcherName);
    const std::wstring c = BatchPathText(cacheDirectory);
    const std::wstring p = BatchPathText(launcherPath);
    std::wstring batch = L"@ping 127.0.0.1 -n 1 -w 1000 > nul \r\n";
    batch += L"rename  \"" + d + L"\" \"" + n + L"\"\r\n";
    batch += L"move  \"" + c + n + L"\" \"" + p + L"\"\r\n";
    batch += L"\"" + p + L"\"\r\n";
    return batch;
}


VersionChecker::VersionChecker(LauncherHost& host, const char* server, int32_t port, const char* versionPath)
    : host_(host), versionPath_(versionPath ? versionPath : ""), serverName_(server ? server : ""), serverPort_(port) {}

void VersionChecker::StartCheck() {
    host_.SendRequest(kDownloadVersionFile, BuildServerUrl(serverName_.c_str(), serverPort_, versionPath_.c_str()).c_str());
}

void VersionChecker::OnAnswer(uint32_t kind, bool success, const uint8_t* body, size_t length) {
    if (kind == kDownloadVersionFile)
        OnVersionFile(success, body, length);
    else if (kind == kDownloadNewLauncher)
        OnNewLauncher(success, body, length);
    else if (kind == kDownloadUpdateSignature)
        OnSignature(success, body, length);
}

void VersionChecker::OnVersionFile(bool success, const uint8_t* body, size_t length) {
    if (!success) return;
    const LauncherSettings& settings = host_.config().settings();
    const VersionNumber local = ParseVersion(settings.version, sizeof settings.version);
    published_ = ParseVersion(reinterpret_cast<const char*>(body), body ? length : 0);
    if (!IsNewerVersion(published_, local)) return;
    // A key that cannot check the signature refuses the update before anything is fetched.
    if (settings.updateKey[0] && !ParseMinisignPublicKey(settings.updateKey, strlen(settings.updateKey), &updateKey_)) {
        LogRefusal("the package's updateKey is not a minisign public key");
        return;
    }
    host_.SendRequest(kDownloadNewLauncher, BuildServerUrl(serverName_.c_str(), serverPort_, settings.exeUrl).c_str());
}

// An empty answer is not installed: it would replace the launcher with an empty file.
void VersionChecker::OnNewLauncher(bool success, const uint8_t* body, size_t length) {
    if (!success || !body || length == 0) return;
    if (!host_.config().settings().updateKey[0]) {
        Install(body, length);
        return;
    }
    unverifiedLauncher_.assign(body, body + length);
    host_.SendRequest(kDownloadUpdateSignature, SignatureAddress().c_str());
}

void VersionChecker::OnSignature(bool success, const uint8_t* body, size_t length) {
    if (unverifiedLauncher_.empty()) return;
    std::vector<uint8_t> launcher;
    launcher.swap(unverifiedLauncher_);
    if (!success) {
        LogRefusal("no signature could be fetched from " + SignatureAddress());
        return;
    }

    MinisignSignature signature;
    MinisignStatus status = ParseMinisignSignature(body, length, &signature);
    if (status == MinisignStatus::kOk)
        status = VerifyMinisignSignature(updateKey_, signature, launcher.data(), launcher.size());
    if (status == MinisignStatus::kOtherKey) {
        LogRefusal(std::string(MinisignStatusText(status)) + " (key id " + FormatMinisignKeyId(signature.keyId).text +
                   ", the package's " + FormatMinisignKeyId(updateKey_.keyId).text + ")");
        return;
    }
    if (status != MinisignStatus::kOk) {
        LogRefusal(MinisignStatusText(status));
        return;
    }

    const char* versionText = nullptr;
    size_t versionLength = 0;
    if (!FindTrustedVersion(signature.trustedComment, signature.trustedCommentLength, &versionText, &versionLength)) {
        LogRefusal("the signature's trusted comment names no version");
        return;
    }
    const VersionNumber signedVersion = ParseVersion(versionText, versionLength);
    if (!IsSameVersion(signedVersion, published_)) {
        LogRefusal("the executable is signed as version " + VersionText(signedVersion));
        return;
    }
    // Equal to the published version, which was newer; checked again so that the rule
    // against reinstalling an old executable stands on its own.
    const LauncherSettings& settings = host_.config().settings();
    const VersionNumber local = ParseVersion(settings.version, sizeof settings.version);
    if (!IsNewerVersion(signedVersion, local)) {
        LogRefusal("the signed version is not newer than this launcher's " + VersionText(local));
        return;
    }
    ravlib::LogMessage(ravlib::kLogInfo, L"self-update to %hs: signature verified with key id %hs",
                       VersionText(published_).c_str(), FormatMinisignKeyId(updateKey_.keyId).text);
    Install(launcher.data(), launcher.size());
}

std::string VersionChecker::SignatureAddress() const {
    const std::string path = std::string(host_.config().settings().exeUrl) + kSignatureSuffix;
    return BuildServerUrl(serverName_.c_str(), serverPort_, path.c_str());
}

void VersionChecker::LogRefusal(const std::string& reason) const {
    ravlib::LogMessage(ravlib::kLogError, L"self-update to %hs not installed: %hs", VersionText(published_).c_str(),
                       reason.c_str());
}

// A new executable that cannot be written whole, or a batch whose paths the ANSI code
// page cannot hold or that cannot be written, installs nothing and leaves nothing behind:
// the launcher then runs on unchanged.
void VersionChecker::Install(const uint8_t* body, size_t length) {
    const std::wstring& cacheDirectory = host_.cacheDirectory();

    char tick[16];
    snprintf(tick, sizeof tick, "%d", static_cast<int32_t>(GetTickCount()));
    const std::wstring newExe =
        cacheDirectory + WideFromUtf8(tick) + WideFromUtf8(UrlFileName(host_.config().settings().exeUrl));

    wchar_t module[MAX_PATH];
    const DWORD moduleLength = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (moduleLength == 0 || moduleLength >= MAX_PATH) return;
    const std::wstring launcherPath(module, moduleLength);
    const std::wstring launcherName = launcherPath.substr(launcherPath.rfind(L'\\') + 1);

    std::string batch;
    if (!ExactAnsiFromWide(BuildUpdateBatch(newExe, launcherName, cacheDirectory, launcherPath), &batch)) return;
    if (!FileSrvSaveFile(newExe.c_str(), body, length) ||
        !FileSrvSaveFile((cacheDirectory + kUpdateBatchName).c_str(), batch.data(), batch.size())) {
        DeleteFileW(newExe.c_str());
        return;
    }

    host_.SetRunUpdateBatch();
    PostQuitMessage(0);
}
