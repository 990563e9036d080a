// The browser's registry key of the Wine prefix for tests of browser emulation, and the
// emulation value written for an executable.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

// The value start-up writes for this executable, read back from the registry; 0 when none.
inline DWORD FeatureValue(const wchar_t* exeName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0;
    DWORD bytes = sizeof value;
    if (RegQueryValueExW(key, exeName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS)
        value = 0;
    RegCloseKey(key);
    return value;
}

// The browser's key of this Wine prefix, its "Version" value put back afterwards.
class BrowserKey : public ::testing::Test {
protected:
    static constexpr const wchar_t* kPath = L"SOFTWARE\\Microsoft\\Internet Explorer";
    void SetUp() override {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, kPath, &key));
        DWORD bytes = sizeof saved_;
        hadVersion_ = RegQueryValueExW(key, L"Version", nullptr, nullptr, reinterpret_cast<BYTE*>(saved_), &bytes) ==
                      ERROR_SUCCESS;
        RegCloseKey(key);
    }
    void TearDown() override {
        HKEY key = nullptr;
        if (RegCreateKeyW(HKEY_LOCAL_MACHINE, kPath, &key) != ERROR_SUCCESS) return;
        if (hadVersion_)
            RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved_),
                           static_cast<DWORD>((wcslen(saved_) + 1) * sizeof(wchar_t)));
        else
            RegDeleteValueW(key, L"Version");
        RegCloseKey(key);
    }
    void SetVersion(const std::wstring& version) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, kPath, &key));
        RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                       static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    wchar_t saved_[64] = L"";
    bool hadVersion_ = false;
};
