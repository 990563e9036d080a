// A host for the game window in tests: the configuration of a packaged Launcher.exe (the
// demo package unless told otherwise), a cache directory of its own and game parameters.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "app/launcher_host.h"
#include "support/test_support.h"

namespace game_testing {

// The demo package's configuration text with keys of [global] replaced or added.
std::string DemoConfigText(const std::vector<std::pair<std::string, std::string>>& globals = {});

// Message boxes of the hosts' configurations since the last clear (none is shown).
std::vector<testing_support::CaughtBox>& ConfigMessages();

class GameWindowHost : public LauncherHost {
public:
    // `package` is a fixture path; `configText` replaces the package's configuration.
    explicit GameWindowHost(const std::string& configText = DemoConfigText(),
                            const wchar_t* package = L"game\\demo.exe");

    LauncherConfig& config() override { return config_; }
    void SetGameAddress(const char*) override {}
    void SetCdnAddress(const char*) override {}
    const std::string& cdnAddress() const override { return cdnAddress_; }
    void SetFlashVars(const char* vars) override { flashVars_ = vars; }
    const std::string& flashVars() const override { return flashVars_; }
    const std::wstring& cacheDirectory() const override { return cacheDirectory_; }
    void SetGoOnToGame() override {}
    void SetRunUpdateBatch() override {}
    bool IsStartedWithArgument() const override { return false; }
    void SetStartedWithArgument(bool) override {}
    void SendRequest(uint32_t, const char*) override {}
    INT_PTR RunUpdateAndGame() override { return 0; }
    INT_PTR ShowLoginWindow() override { return 0; }

    // Where the window looks for the game frame.
    std::wstring FramePath() const;
    void SetCacheDirectory(const std::wstring& directory) { cacheDirectory_ = directory; }

private:
    testing_support::TempDir cache_;
    LauncherConfig config_;
    std::string cdnAddress_;
    std::string flashVars_ = "server=127.0.0.1&port=9898";
    std::wstring cacheDirectory_;
};

}  // namespace game_testing
