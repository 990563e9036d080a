#include "bridge_test_support.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/test_support.h"

namespace game_testing {

namespace {

std::wstring ModuleDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path, length);
    return directory.substr(0, directory.rfind(L'\\') + 1);
}

std::wstring WithBackslash(const std::wstring& directory) {
    return !directory.empty() && directory.back() == L'\\' ? directory : directory + L'\\';
}

}  // namespace

std::wstring CopyRestartMarker(const std::wstring& directory, const std::wstring& name) {
    const std::wstring folder = WithBackslash(directory);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring target = folder + name;
    if (!CopyFileW((ModuleDirectory() + L"restart_marker.exe").c_str(), target.c_str(), FALSE)) {
        return std::wstring();
    }
    return target;
}

std::vector<std::string> WaitForMarkerLines(const std::wstring& directory, size_t count, DWORD timeoutMs) {
    const std::wstring file = WithBackslash(directory) + L"started.txt";
    std::vector<std::string> lines;
    const DWORD start = GetTickCount();
    for (;;) {
        const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(file);
        lines.clear();
        std::istringstream text(std::string(bytes.begin(), bytes.end()));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        if (lines.size() >= count || GetTickCount() - start > timeoutMs) return lines;
        Sleep(50);
    }
}

StandinRegistration::StandinRegistration() {
    OleInitialize(nullptr);
    EXPECT_EQ(S_OK, RegisterFlashStandin());
}

StandinRegistration::~StandinRegistration() {
    RevokeFlashStandin();
    OleUninitialize();
}

StandinHost::StandinHost() {
    const RECT rect = {0, 0, 320, 240};
    EXPECT_TRUE(parent_.CreateEx(0, L"STATIC", L"bridge test", WS_POPUP, rect, nullptr, 0));
    EXPECT_TRUE(control_.Create(L"", WS_CHILD | WS_VISIBLE, rect, &parent_, 170));
    EXPECT_NE(nullptr, standin());
}

StandinHost::~StandinHost() {
    parent_.DestroyWindow();
}

std::vector<std::wstring> StandinHost::TakeRequests() const {
    std::vector<std::wstring> requests;
    FlashStandin* object = standin();
    if (object == nullptr) return requests;
    const std::wstring prefix = L"CallFunction:";
    for (const std::wstring& call : object->calls()) {
        if (call.compare(0, prefix.size(), prefix) == 0) requests.push_back(call.substr(prefix.size()));
    }
    object->ClearCalls();
    return requests;
}

void RecordingWindow::SetButtonAddress(int32_t buttonType, const char* address) {
    effects.push_back("address " + std::to_string(buttonType) + " " + address);
}

void RecordingWindow::SetTitleText(const std::wstring& text) {
    effects.push_back("title " + Utf8FromWide(text));
}

void RecordingWindow::ShowMessage(const wchar_t* text) {
    effects.push_back("message " + Utf8FromWide(text));
}

std::wstring ClientRequest(const std::vector<std::wstring>& arguments) {
    std::wstring request = L"<invoke name=\"JsCallClient\" returntype=\"xml\"><arguments>";
    for (const std::wstring& argument : arguments) request += L"<string>" + argument + L"</string>";
    return request + L"</arguments></invoke>";
}

std::wstring EventRequest(const std::wstring& event, const std::vector<std::wstring>& items) {
    std::wstring request = L"<invoke name=\"ClientCallJs\"><arguments><string>" + event + L"</string>";
    for (const std::wstring& item : items) request += L"<string>" + item + L"</string>";
    return request + L"</arguments></invoke>";
}

}  // namespace game_testing
