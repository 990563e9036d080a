// What the windows and the self-update reach through the application object. The
// application implements it; tests hand a window a host of their own.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "app/launcher_config.h"

// Download kinds of SendRequest: 1 game page, 2 hash key, 3 dictionary archive, 4 game
// frame, 5 asynchronous notice (update dialog); 6 version file, 7 new executable, 8 its
// signature (self-update).
enum DownloadKind : uint32_t {
    kDownloadGamePage = 1,
    kDownloadHashKey = 2,
    kDownloadDictionaryArchive = 3,
    kDownloadGameFrame = 4,
    kDownloadAsynNotice = 5,
    kDownloadVersionFile = 6,
    kDownloadNewLauncher = 7,
    kDownloadUpdateSignature = 8,
};

// The longest body each kind may have; a longer one is a failed transfer.
const size_t kMaxGamePageBytes = 1u << 20;
const size_t kMaxHashKeyBytes = 1u << 20;
const size_t kMaxDictionaryArchiveBytes = 64u << 20;
const size_t kMaxGameFrameBytes = 256u << 20;
const size_t kMaxAsynNoticeBytes = 1u << 20;
const size_t kMaxVersionFileBytes = 1u << 20;
const size_t kMaxNewLauncherBytes = 64u << 20;
const size_t kMaxUpdateSignatureBytes = 1u << 20;

class LauncherHost {
public:
    virtual LauncherConfig& config() = 0;

    virtual void SetGameAddress(const char* address) = 0;
    virtual void SetCdnAddress(const char* address) = 0;
    virtual const std::string& cdnAddress() const = 0;
    virtual void SetFlashVars(const char* vars) = 0;
    virtual const std::string& flashVars() const = 0;
    virtual const std::wstring& cacheDirectory() const = 0;
    virtual void SetGoOnToGame() = 0;
    virtual void SetRunUpdateBatch() = 0;
    virtual bool IsStartedWithArgument() const = 0;
    virtual void SetStartedWithArgument(bool started) = 0;

    // Starts an asynchronous GET; the answer comes back to the update dialog (kinds 1-5)
    // or the version checker (6 to 8) on the thread that dispatches the HTTP client's answers.
    virtual void SendRequest(uint32_t kind, const char* address) = 0;

    // The modal chains: update dialog then game window, and the login window.
    virtual INT_PTR RunUpdateAndGame() = 0;
    virtual INT_PTR ShowLoginWindow() = 0;

protected:
    ~LauncherHost() = default;
};
