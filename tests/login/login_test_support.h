// What the login window tests share: OLE and GDI+ for the process, a host that records
// what the window asks of the application, a script run from inside a modal loop, and
// reading the screen.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/launcher_host.h"
#include "framework/dialog.h"

namespace Gdiplus {
class Bitmap;
}

namespace login_testing {

// The demo package (drawn skins and demo configuration) on a copy of the launcher.
std::wstring DemoPackagePath();

// The demo configuration text with `key` of [global] set to `value` (added when absent).
std::string DemoConfigWith(const std::vector<std::pair<std::string, std::string>>& values,
                           const std::string& extraSections = "");

class TestHost : public LauncherHost {
public:
    // Opens the demo package; `configText`, when given, replaces its configuration.
    explicit TestHost(const std::string& configText = "");

    LauncherConfig& config() override { return config_; }
    void SetGameAddress(const char* address) override { gameAddresses.push_back(address ? address : ""); }
    void SetCdnAddress(const char* address) override { cdn_ = address ? address : ""; }
    const std::string& cdnAddress() const override { return cdn_; }
    void SetFlashVars(const char* vars) override { flashVars_ = vars ? vars : ""; }
    const std::string& flashVars() const override { return flashVars_; }
    const std::wstring& cacheDirectory() const override { return cache_; }
    void SetGoOnToGame() override {}
    void SetRunUpdateBatch() override {}
    bool IsStartedWithArgument() const override { return startedWithArgument; }
    void SetStartedWithArgument(bool started) override { startedWithArgument = started; }
    void SendRequest(uint32_t, const char*) override {}
    INT_PTR RunUpdateAndGame() override;
    INT_PTR ShowLoginWindow() override { return 0; }

    // The packaged login skin.
    std::unique_ptr<Gdiplus::Bitmap> LoadSkin();

    bool loaded = false;
    bool startedWithArgument = false;
    std::vector<std::string> gameAddresses;
    int runUpdateCalls = 0;
    std::function<void()> onRunUpdateAndGame;
    // Failure messages of the configuration's loaders.
    static std::vector<std::wstring> failureTexts;

private:
    LauncherConfig config_;
    std::string cdn_;
    std::string flashVars_;
    std::wstring cache_;
};

// Steps run one per timer tick on this thread while a modal loop runs. A step returns
// false to be run again at the next tick (waiting for something), true when done.
using Step = std::function<bool()>;
Step Do(std::function<void()> action);
// Waits until `condition` holds; after `timeoutMs` the step fails the test and moves on.
Step WaitFor(std::function<bool()> condition, DWORD timeoutMs, const char* what);

// Runs `dialog` modally while the steps run; a dialog still open after the last step is
// ended with kLeftOpen. `allRan` (may be null) tells whether every step ran.
enum : INT_PTR { kLeftOpen = 7777 };
INT_PTR RunModalScript(CDialog& dialog, std::vector<Step> steps, bool* allRan = nullptr);

// Looks at this thread's windows every 50 ms, from whatever message loop runs (a message
// box's or a menu's included).
class ThreadWatcher {
public:
    ThreadWatcher();
    virtual ~ThreadWatcher();
    ThreadWatcher(const ThreadWatcher&) = delete;
    ThreadWatcher& operator=(const ThreadWatcher&) = delete;

protected:
    virtual void OnTick() = 0;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD);
    UINT_PTR timer_ = 0;
};

// Answers the message boxes of this thread with `button`, recording caption and text.
class BoxAnswerer : public ThreadWatcher {
public:
    explicit BoxAnswerer(int button) : button_(button) {}
    std::vector<std::wstring> texts;
    std::vector<std::wstring> captions;

protected:
    void OnTick() override;

private:
    int button_;
};

// Chooses the first item of the popup menus this thread opens, recording their items.
class MenuChooser : public ThreadWatcher {
public:
    std::vector<std::wstring> items;
    std::vector<UINT> ids;

protected:
    void OnTick() override;
};

// The colour on the screen at (x, y), as 0x00BBGGRR.
COLORREF ScreenPixel(int x, int y);
// True when the two colours differ by at most `tolerance` in every channel.
bool Near(COLORREF a, COLORREF b, int tolerance = 2);

}  // namespace login_testing
