#include "game_window_host.h"

#include <gtest/gtest.h>

#include "framework/text.h"

namespace game_testing {

namespace {

int WINAPI RecordConfigMessage(HWND, const wchar_t* text, const wchar_t* caption, UINT) {
    ConfigMessages().push_back({caption, text});
    return IDOK;
}

}  // namespace

std::vector<testing_support::CaughtBox>& ConfigMessages() {
    static std::vector<testing_support::CaughtBox> messages;
    return messages;
}

std::string DemoConfigText(const std::vector<std::pair<std::string, std::string>>& globals) {
    LauncherConfig package;
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(package.OpenPackageFile(testing_support::FixturePath(L"game\\demo.exe").c_str()));
    EXPECT_TRUE(package.ReadPackageEntry("config/cg.txt", bytes));
    std::string text(bytes.begin(), bytes.end());
    for (const auto& key : globals) {
        const std::string line = "\n" + key.first + "=";
        const size_t at = text.find(line);
        if (at == std::string::npos) {
            text.insert(text.find("[global]") + 8, line + key.second);
            continue;
        }
        const size_t end = text.find('\n', at + 1);
        text.replace(at, end - at, line + key.second);
    }
    return text;
}

GameWindowHost::GameWindowHost(const std::string& configText, const wchar_t* package) {
    config_.SetMessageBox(RecordConfigMessage);
    EXPECT_TRUE(config_.OpenPackageFile(testing_support::FixturePath(package).c_str()));
    EXPECT_TRUE(config_.ParseIniText(configText.data(), configText.size()));
    EXPECT_TRUE(config_.ReadSettings());
    cacheDirectory_ = cache_.path();
}

std::wstring GameWindowHost::FramePath() const {
    return cacheDirectory_ + ToWide(config_.settings().swf, true);
}

}  // namespace game_testing
