// Helpers of the script bridge and client services tests: the restart marker program,
// a real window hosting the Flash stand-in, and a recording game window.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "flash/shockwave_flash.h"
#include "framework/window.h"
#include "game/script_bridge.h"
#include "standins/flash/flash_standin.h"

namespace game_testing {

// restart_marker.exe copied into `directory` (created when missing) as `name`; the
// copy's full path, empty when the copy failed.
std::wstring CopyRestartMarker(const std::wstring& directory, const std::wstring& name);
// The lines the marker in `directory` wrote, waiting up to `timeoutMs` for `count` lines.
std::vector<std::string> WaitForMarkerLines(const std::wstring& directory, size_t count, DWORD timeoutMs = 15000);

// Registers the stand-in in-process for the lifetime of the object (OLE initialised).
class StandinRegistration {
public:
    StandinRegistration();
    ~StandinRegistration();
    StandinRegistration(const StandinRegistration&) = delete;
    StandinRegistration& operator=(const StandinRegistration&) = delete;
};

// A top-level window with the stand-in hosted as child 170, like the game control.
class StandinHost {
public:
    StandinHost();
    ~StandinHost();
    StandinHost(const StandinHost&) = delete;
    StandinHost& operator=(const StandinHost&) = delete;

    CShockwaveFlash* control() { return &control_; }
    HWND window() const { return control_.m_hWnd; }
    FlashStandin* standin() const { return FlashStandinFromUnknown(control_.GetControlUnknown()); }
    // The CallFunction requests the stand-in received, in order; clears the record.
    std::vector<std::wstring> TakeRequests() const;

private:
    CWnd parent_;
    CShockwaveFlash control_;
};

// Records what the bridge asks of the window, one text per effect:
// "end", "address <type> <address>", "show <type>", "title <UTF-8 text>", "flash",
// "enter", "leave", "message <UTF-8 text>".
class RecordingWindow : public IGameBridgeWindow {
public:
    std::vector<std::string> effects;
    bool fullScreen = false;
    CShockwaveFlash* control = nullptr;

    CShockwaveFlash* gameControl() override { return control; }
    void EndGameDialog() override { effects.push_back("end"); }
    void SetButtonAddress(int32_t buttonType, const char* address) override;
    void ShowButton(int32_t buttonType) override { effects.push_back("show " + std::to_string(buttonType)); }
    void SetTitleText(const std::wstring& text) override;
    void StartTaskbarFlashing() override { effects.push_back("flash"); }
    bool IsFullScreen() const override { return fullScreen; }
    void EnterFullScreen() override { effects.push_back("enter"); }
    void LeaveFullScreen() override { effects.push_back("leave"); }
    void ShowMessage(const wchar_t* text) override;
};

// A JsCallClient request in the control's format, each argument a string element.
std::wstring ClientRequest(const std::vector<std::wstring>& arguments);
// The ClientCallJs request of an event with these items.
std::wstring EventRequest(const std::wstring& event, const std::vector<std::wstring>& items);

}  // namespace game_testing
