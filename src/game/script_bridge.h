// The script bridge between the game movie and the game window. The movie calls the host
// function JsCallClient through the control's external-call mechanism (the FlashCall event,
// an XML invoke request whose first string argument is a command number); the window calls
// the movie's _InitGameParams once and ClientCallJs with an event number and the event's
// items (CallFunction on the control). Every value crossing the bridge is a string.
//
//   CScriptBridge bridge(window, services, config.settings());
//   bridge.InitGameParams(host.flashVars());           // end of the window's initialisation
//   bridge.OnFlashCall(request);                       // FlashCall of the game control
//   switch (bridge.FilterInput(*message)) { ... }      // from the window's PreTranslateMessage
#pragma once

#include <windows.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "app/launcher_config.h"
#include "framework/text.h"
#include "game/bridge_request.h"

class CShockwaveFlash;
class CClientServices;

// What the bridge's commands do to the game window. CGameDialog implements it.
class IGameBridgeWindow {
public:
    // The game control, or null when it could not be created (outgoing calls are dropped).
    virtual CShockwaveFlash* gameControl() = 0;
    // Ends the window's dialog at once with IDOK, without asking (commands 1, 2, 10).
    virtual void EndGameDialog() = 0;
    // The first skin button of `buttonType` takes `address` (UTF-8) as the address it
    // opens; nothing when there is no such button (command 4: type 12, command 8: type 13).
    virtual void SetButtonAddress(int32_t buttonType, const char* address) = 0;
    // Shows the first skin button of `buttonType` (SW_SHOWNORMAL), if there is one.
    virtual void ShowButton(int32_t buttonType) = 0;
    // Sets the title the window draws and lays the children out again (command 6).
    virtual void SetTitleText(const std::wstring& text) = 0;
    // Starts the taskbar flashing if the window was minimised by its own button (command 9).
    virtual void StartTaskbarFlashing() = 0;
    // Full screen (command 10).
    virtual bool IsFullScreen() const = 0;
    virtual void EnterFullScreen() = 0;
    virtual void LeaveFullScreen() = 0;
    // An OK box captioned with the application's name (a request that could not be sent).
    virtual void ShowMessage(const wchar_t* text) = 0;

protected:
    ~IGameBridgeWindow() = default;
};

// Events sent to the movie with ClientCallJs.
enum : uint32_t {
    kEventRightButtonDown = 2,
    kEventRightButtonUp = 3,
    kEventClientInfo = 5,
    kEventFunctionKey = 6,
};

// Commands of JsCallClient (first argument).
enum : int32_t {
    kCommandEndGame = 1,
    kCommandRestart = 2,
    kCommandForwardFunctionKeys = 3,
    kCommandSetTopUpAddress = 4,
    kCommandNotice = 5,
    kCommandSetTitle = 6,
    kCommandClientInfo = 7,
    kCommandShowNoticeButton = 8,
    kCommandFlashTaskbar = 9,
    kCommandWindow = 10,
};

// Sub-commands of command 10.
enum : int32_t {
    kWindowRestart = 1,
    kWindowEnd = 3,
    kWindowLeaveFullScreen = 4,
    kWindowEnterFullScreen = 5,
};

// Skin button types the bridge addresses.
enum : int32_t {
    kButtonTypeTopUp = 12,
    kButtonTypeNotice = 13,
};

// Limits of the request formats.
enum : uint32_t {
    kMaxRequestBytes = 1024,   // an incoming request in the OEM code page, with its terminator
    // The same request in UTF-8: every character takes at least one OEM byte (one the code
    // page lacks becomes "?") and at most four UTF-8 bytes.
    kMaxRequestUtf8Bytes = 4 * (kMaxRequestBytes - 1) + 1,
    kEventTextSize = 64,       // the formatted event text: at most 63 bytes and a terminator
    kMaxEventItems = 8,
};

// The JsCallClient string arguments of an incoming request (see ParseClientRequestText).
// False also when the request does not fit kMaxRequestBytes in the OEM code page.
bool ParseClientRequest(const wchar_t* request, std::vector<std::string>* arguments);

// What the window's PreTranslateMessage does with a message after the bridge saw it.
enum class InputDecision {
    Continue,    // go on with the window's other filters and the dialog's own pre-translation
    Consumed,    // handled: the message is not dispatched
    NotHandled,  // answer "not handled" at once, without the dialog's own pre-translation, so
                 // the key reaches the focused control and the system as usual
};

class CScriptBridge {
public:
    // All three must outlive the bridge.
    CScriptBridge(IGameBridgeWindow& window, CClientServices& services, const LauncherSettings& settings);
    CScriptBridge(const CScriptBridge&) = delete;
    CScriptBridge& operator=(const CScriptBridge&) = delete;

    // The FlashCall event of the game control: runs the command of a JsCallClient request.
    // Malformed requests do nothing.
    void OnFlashCall(const wchar_t* request);

    // Sends ClientCallJs with `event` and the items of the printf-style text, cut to 63
    // bytes (never inside a UTF-8 character) and then split at every comma, empty pieces
    // dropped, at most 8 items; a null format sends the event without items. A failing call
    // into the movie is swallowed.
    void CallScript(uint32_t event, const char* format, ...) __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)));
    // Sends _InitGameParams with the game parameters as they are. Outgoing values are
    // inserted without XML escaping and the request is converted from UTF-8; a request that
    // cannot be converted is not sent and the window shows "Call Param too long".
    void InitGameParams(const std::string& gameParameters);

    // Right-button presses and releases become events 2 and 3 (screen coordinates) and are
    // consumed. Once command 3 has turned forwarding on, F1 to F12 other than F8 become
    // event 6 (F1 = 0), at most once per 200 ms while a key repeats; any key release
    // starts the next press afresh. Without forwarding they are not handled here.
    InputDecision FilterInput(const MSG& message);

    bool functionKeysForwarded() const { return functionKeysForwarded_; }
    DWORD lastFunctionKeyTick() const { return lastFunctionKeyTick_; }
    // Function keys stay with the window until a movie turns forwarding on again.
    void StopForwardingFunctionKeys() {
        functionKeysForwarded_ = false;
        lastFunctionKeyTick_ = 0;
    }

    // The millisecond tick the function-key rule reads (GetTickCount unless a test sets one).
    using TickSource = DWORD(WINAPI*)();
    void SetTickSource(TickSource source) { tickSource_ = source; }
    // The conversion of outgoing requests to UTF-16 (ToWide unless a test sets one); an
    // empty result means the request could not be converted.
    using RequestConverter = const wchar_t* (*)(const char* text, bool utf8);
    void SetRequestConverter(RequestConverter converter) { requestConverter_ = converter; }

private:
    void RunCommand(int32_t command, const std::vector<std::string>& arguments);
    void SendClientInfo();
    void Send(const char* function, const char* firstArgument, const std::vector<std::string>& items);

    IGameBridgeWindow& window_;
    CClientServices& services_;
    const LauncherSettings& settings_;
    bool functionKeysForwarded_ = false;
    DWORD lastFunctionKeyTick_ = 0;
    TickSource tickSource_ = ::GetTickCount;
    RequestConverter requestConverter_ = ::ToWide;
};
