// Services of the game window that reach outside it: the client information the game
// movie asks for (MAC address of the first adapter, public IP address), starting the
// launcher again, start with Windows (the Run value and config.ini beside the executable)
// and clearing the browser's URL cache. All on the main thread; the IP request blocks.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>

#include "app/launcher_config.h"

// The address page used when LAUNCHER_IP_PAGE is not set: a public what-is-my-IP page
// whose text holds the caller's address in square brackets.
extern const wchar_t kDefaultIpPageAddress[];

struct ClientInfo {
    std::string macAddress;  // "00-1a-2b-3c-4d-5e"; all zeros when no adapter is found
    std::string ipAddress;   // the public address, "127.0.0.1" when it cannot be had
};

// Results of GetExternalIp.
enum : int32_t {
    kIpFound = 0,
    kIpPageUnreachable = -1,
    kIpNotOnPage = -2,
};

// Whether text[0 .. length) is a dotted IPv4 address: four parts of one to three digits,
// each at most 255, joined by ".". Nothing else may stand in the client information.
bool IsDottedIpv4(const char* text, size_t length);

// The six address bytes as "%02x" joined by "-".
std::string FormatMacAddress(const uint8_t address[6]);

class CClientServices {
public:
    // Uses this executable's path (refused when longer than MAX_PATH) and the address
    // page named by the environment variable LAUNCHER_IP_PAGE, else kDefaultIpPageAddress.
    CClientServices();
    CClientServices(const CClientServices&) = delete;
    CClientServices& operator=(const CClientServices&) = delete;

    // The executable the services start and register; tests point it elsewhere.
    void SetExecutablePath(const wchar_t* path);
    const std::wstring& executablePath() const { return executablePath_; }
    void SetIpPageAddress(const wchar_t* address) { ipPageAddress_ = address; }
    const std::wstring& ipPageAddress() const { return ipPageAddress_; }

    ClientInfo CollectClientInfo() const;
    // The text between the first "[" and the first "]" of the first page line that has
    // both: kIpFound with it when it is a dotted IPv4 address, else kIpNotOnPage;
    // kIpPageUnreachable when the page cannot be had whole within 10 s.
    int32_t GetExternalIp(std::string* address) const;

    // Starts the executable again as a new process, without arguments; not waited for.
    bool StartNewInstance() const;

    // config.ini lies beside the executable, or in the root of the desktop's drive when the
    // executable lies directly on the desktop. The AutoBoot choice there.
    bool ReadAutoStart() const;
    // Switches start with Windows from `autoStart` to its opposite: the Run value of the
    // current user and AutoBoot of config.ini. Returns the new choice; an executable path
    // that cannot be registered whole leaves everything as it was and returns `autoStart`.
    bool ToggleAutoStart(bool autoStart) const;

    // Asks with clearFlashMsg / clearFlashTitle (OK and Cancel) and clears on OK.
    void AskAndClearBrowserCache(HWND owner, const LauncherSettings& settings) const;
    // Deletes every entry of the URL cache that can be deleted; returns how many were.
    static uint32_t ClearBrowserCache();

private:
    bool ConfigIniOfExecutable(std::wstring* path) const;

    std::wstring executablePath_;
    std::wstring ipPageAddress_;
};
