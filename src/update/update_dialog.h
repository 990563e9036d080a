// The update dialog: starts the local file server, asks the game page for the start
// parameters, brings the resource dictionary and the game frame in the cache up to date
// and hands over to the game window.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "app/launcher_host.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "framework/image.h"
#include "ui/progress_ctrl_st.h"
#include "ui/skin_button.h"

// A tip text from the configuration with `number` put in place of its integer
// conversion ("%d", "%i", "%u"); "%%" gives "%". Any other conversion stays as written,
// so a tip text can never make the formatting read arguments that are not there.
std::wstring FormatTipText(const std::wstring& format, int number);

// The game page address with the local server's port and the client version appended.
std::string AppendPortParameters(const std::string& pageAddress, int port);

class UpdateDlg : public CDialog {
public:
    enum { IDD = 235 };
    enum { kProgressId = 350, kRestartButtonId = 352, kDispatchTimer = 100 };
    // The retry of kind k waits on timer kRetryTimer + k: a failed answer is asked for
    // again no sooner than kRetryPauseMs after the attempt it answers.
    enum { kRetryTimer = 110, kRetryPauseMs = 1000 };
    // Posted by the HTTP client's threads when an answer waits to be dispatched.
    enum { kAnswersQueuedMessage = WM_APP + 1 };

    explicit UpdateDlg(LauncherHost& host, CWnd* parent = nullptr);
    ~UpdateDlg() override;

    void SetGamePageAddress(const char* address) { pageAddress_ = address ? address : ""; }
    const std::string& pageAddress() const { return pageAddress_; }

    // An answer of kinds 1 to 5, on the thread that dispatched it.
    void OnDownload(uint32_t kind, bool success, const uint8_t* body, size_t length, const char* address);

    // 1 from the end of the initialisation until the dialog goes; answers are ignored
    // while it is 0.
    static bool IsUpdateActive();

    bool frameReady() const { return frameReady_; }
    bool dictReady() const { return dictReady_; }
    const std::wstring& tipText() const { return tipText_; }
    CProgressCtrlST& progress() { return progress_; }
    CxSkinButton& restartButton() { return restartButton_; }

    BOOL PreTranslateMessage(MSG* message) override;

protected:
    BOOL OnInitDialog() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;

    // Starts a new launcher process (the restart button); tests replace it.
    virtual void StartNewLauncher();

private:
    enum class TipMode { AfterDownload, Retry };

    bool CreateProgress(const CImage& style);
    bool CreateRestartButton();
    void StartServerAndFetchGamePage();
    // Asks for kind (1 to 4) at address and notes when.
    void Request(uint32_t kind, const char* address);
    // Asks for kind at address again once kRetryPauseMs have passed since its last attempt.
    void Retry(uint32_t kind, const char* address);
    // Delivers the answers that have arrived, then hands over when all is ready.
    void DispatchAnswers();
    void StopListening();
    static void OnAnswersQueued(void* window);
    void OnGamePage(bool ok, const uint8_t* body, size_t length, const char* address);
    void OnHashKey(bool ok, const uint8_t* body, size_t length, const char* address);
    void OnDictionaryArchive(bool ok, const uint8_t* body, size_t length, const char* address);
    void OnGameFrame(bool ok, const uint8_t* body, size_t length, const char* address);
    void CheckResources(int64_t frameValue, int64_t dictionaryValue);
    bool StoreGameFrame(const uint8_t* body, size_t length);
    bool StoreDictionary(const uint8_t* body, size_t length);
    void SetTip(TipMode mode, bool ok, int step, const char* address = nullptr);
    void CheckReady();
    // Gives the local server what it serves from and what bounds its connections: the
    // dictionary, the cache directory, the content server, the hosts a movie may name and
    // the launcher's own cache files. Done before its data thread starts, so that no
    // connection is served with a part of it missing.
    void PrepareServer();
    void Paint();
    std::wstring CachePath(const char* utf8Name) const;
    std::string Tick() const;

    LauncherHost& host_;
    CImage background_;
    CGdiObject<HFONT> font_;
    std::wstring tipText_;
    CProgressCtrlST progress_;
    CxSkinButton restartButton_;
    std::string pageAddress_;
    std::vector<std::string> tips_;
    POINT lastMouse_ = {0, 0};
    bool dragging_ = false;
    bool frameReady_ = false;
    bool dictReady_ = false;
    bool listening_ = false;
    uint64_t attemptTick_[kDownloadGameFrame + 1] = {};
    std::string retryAddress_[kDownloadGameFrame + 1];
};
