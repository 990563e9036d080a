#include "app/system_integration.h"

#include <shlobj.h>
#include <shobjidl.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "framework/handles.h"
#include "framework/text.h"

namespace {

const wchar_t kError[] = L"Error";

}  // namespace

DWORD BrowserEmulationValue(const wchar_t* versionText) {
    int major = atoi(AnsiFromWide(versionText ? versionText : L"").c_str());
    if (major <= 7) return 0;
    if (major == 8) return 8000;
    if (major == 9) return 9000;
    if (major == 10) return 10000;
    return 10001;
}

void ApplyBrowserEmulation(const wchar_t* exeName) {
    wchar_t version[25] = L"";
    CRegKey browser;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Internet Explorer", 0,
                      KEY_ALL_ACCESS, browser.Receive()) != ERROR_SUCCESS) {
        browser.Release();  // what a failed open left in the slot is no key
        MessageBoxW(nullptr, L"无法判断IE版本信息", kError, MB_OK);
    } else {
        DWORD type = 0;
        DWORD bytes = sizeof version;
        LONG read = RegQueryValueExW(browser.get(), L"Version", nullptr, &type,
                                     reinterpret_cast<BYTE*>(version), &bytes);
        // Only a terminated string that fits counts; anything else reads as empty. The
        // size is looked at only after a successful read: a value too long for the buffer
        // reports the size it would need.
        bool terminated = read == ERROR_SUCCESS && bytes >= sizeof(wchar_t) && bytes <= sizeof version &&
                          bytes % sizeof(wchar_t) == 0 && version[bytes / sizeof(wchar_t) - 1] == L'\0';
        if (type != REG_SZ || !terminated) version[0] = L'\0';
    }
    DWORD value = BrowserEmulationValue(version);
    if (value != 0) SetFeatureControl(L"FEATURE_BROWSER_EMULATION", value, exeName);
}

void SetFeatureControl(const wchar_t* feature, DWORD value, const wchar_t* valueName) {
    std::wstring path = L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\";
    path += feature;
    CRegKey key;
    if (RegCreateKeyW(HKEY_CURRENT_USER, path.c_str(), key.Receive()) != ERROR_SUCCESS) {
        MessageBoxW(nullptr, L"Failed to open registry!", kError, MB_OK);
        ExitProcess(static_cast<UINT>(-1));
    }
    if (RegSetValueExW(key.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value) != ERROR_SUCCESS) {
        key.Reset();
        MessageBoxW(nullptr, L"Write the registry failed!", kError, MB_OK);
        ExitProcess(static_cast<UINT>(-1));
    }
}

bool ShortcutTarget(const char* shortcutPath, wchar_t* buffer, int size) {
    CComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.ReceiveVoid())))
        return false;
    CComPtr<IPersistFile> file;
    HRESULT result = link->QueryInterface(IID_IPersistFile, file.ReceiveVoid());
    if (FAILED(result)) return false;
    std::wstring path = WideFromAnsi(shortcutPath);
    result = file->Load(path.c_str(), STGM_READ);
    if (FAILED(result)) return false;
    WIN32_FIND_DATAW found;
    result = link->GetPath(buffer, size, &found, 0);
    return result == S_OK;
}

bool ShortcutExists(const char* exePath, const char* desktopDir) {
    if (!exePath || !desktopDir) return false;
    std::string pattern = std::string(desktopDir) + "\\*.lnk";
    WIN32_FIND_DATAA found;
    CFindHandle search(FindFirstFileA(pattern.c_str(), &found));
    if (!search.valid()) return false;
    std::wstring exe = WideFromAnsi(exePath);
    bool exists = false;
    int entries = 0;
    do {
        wchar_t target[MAX_PATH] = L"";
        std::string shortcut = std::string(desktopDir) + found.cFileName;
        if (ShortcutTarget(shortcut.c_str(), target, MAX_PATH) && exe == target) exists = true;
    } while (!exists && ++entries < 1002 && FindNextFileA(search.get(), &found));
    return exists;
}

int CreateShortcut(const wchar_t* target, const wchar_t* shortcutPath, const wchar_t* iconPath) {
    if (FAILED(CoInitialize(nullptr))) return 0;
    {
        CComPtr<IShellLinkW> link;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkW, link.ReceiveVoid()))) {
            link->SetPath(target);
            if (iconPath) link->SetIconLocation(iconPath, 0);
            CComPtr<IPersistFile> file;
            if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())))
                file->Save(shortcutPath, FALSE);
        }
    }
    CoUninitialize();
    return 0;
}
