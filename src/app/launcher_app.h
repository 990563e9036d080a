// The application object: start-up, shut-down and the hub the windows reach each other through.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/launcher_config.h"
#include "app/launcher_host.h"
#include "framework/app.h"

namespace Gdiplus {
class Bitmap;
}
class CCurlHttpResponse;
class CFlashDialog;
class CGameDialog;
class CLauncherTranslucentDlg;
class UpdateDlg;
class VersionChecker;

// Which modal chain start-up opens.
enum class FirstWindow { DirectStart, FlashSplash, Login };

struct FirstWindowChoice {
    FirstWindow window = FirstWindow::Login;
    std::string gameAddress;  // set for DirectStart
    bool startedWithArgument = false;
};

// Step 17/18 of start-up as a pure decision: `firstUrl` of two or more bytes is the game
// address; of one byte, the first command-line argument not starting with '/' or '-' is;
// when empty, any argument marks an automatic start.
FirstWindowChoice ChooseFirstWindow(const char* firstUrl, bool playSplash, const wchar_t* commandLine);

// The cache directory: <exe directory>\<spid>\ or, for an executable lying directly in
// the desktop folder, <drive root><spid>\. Slashes in spid make nested directories.
std::wstring CacheDirectoryFor(const std::wstring& exeDirectory, const std::wstring& desktopFolder,
                               const std::wstring& spid);

// The CDN address as stored: at most 259 bytes, ending with exactly one '/'. False for a
// text shorter than two characters.
bool NormaliseCdnAddress(const char* text, std::string* address);

class LauncherApp : public CWinApp, public LauncherHost {
public:
    LauncherApp();
    ~LauncherApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    LauncherConfig& config() override { return config_; }

    void SetGameAddress(const char* address) override { gameAddress_ = address ? address : ""; }
    const std::string& gameAddress() const { return gameAddress_; }
    void SetCdnAddress(const char* address) override;
    const std::string& cdnAddress() const override { return cdnAddress_; }
    void SetFlashVars(const char* vars) override { flashVars_ = vars ? vars : ""; }
    const std::string& flashVars() const override { return flashVars_; }
    const std::wstring& cacheDirectory() const override { return cacheDirectory_; }
    void SetGoOnToGame() override { goOnToGame_ = true; }
    void SetRunUpdateBatch() override { runUpdateBatch_ = true; }
    void SetStartedWithArgument(bool started) override { startedWithArgument_ = started; }
    bool IsStartedWithArgument() const override { return startedWithArgument_; }

    void SendRequest(uint32_t kind, const char* address) override;
    INT_PTR RunUpdateAndGame() override;
    INT_PTR ShowLoginWindow() override;

    // The completion routine of every request of SendRequest, on the dispatching thread.
    static void OnRequestDone(void* self, CCurlHttpResponse* response);

protected:
    // Starts the self-update's version check, once.
    void StartVersionCheck();

private:
    void DeleteLeftovers(const std::string& programDirectory);
    void ApplySystemIntegration(const std::string& programDirectory);
    void PrepareCacheDirectory();
    INT_PTR RunFirstWindow(const FirstWindowChoice& choice);
    void DeleteWindows();
    void RunUpdateBatch();
    bool WriteStartupReport(const FirstWindowChoice& choice) const;

    LauncherConfig config_;
    std::unique_ptr<Gdiplus::Bitmap> mainSkin_;
    std::unique_ptr<CGameDialog> gameWindow_;
    std::unique_ptr<CLauncherTranslucentDlg> loginWindow_;
    std::unique_ptr<CFlashDialog> flashDialog_;
    std::unique_ptr<UpdateDlg> updateDialog_;
    std::unique_ptr<VersionChecker> versionChecker_;
    std::string gameAddress_;
    std::string flashVars_;
    std::string cdnAddress_;
    std::wstring cacheDirectory_;
    bool goOnToGame_ = false;
    bool startedWithArgument_ = false;
    bool runUpdateBatch_ = false;
    ULONG_PTR gdiplusToken_ = 0;
};

LauncherApp& TheApp();
