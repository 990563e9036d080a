#include "game/script_bridge.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "flash/shockwave_flash.h"
#include "framework/activex.h"
#include "framework/text.h"
#include "game/client_services.h"

namespace {

const char kEventFunction[] = "ClientCallJs";
const char kInitFunction[] = "_InitGameParams";

// Function keys repeat into the movie at most once per this many milliseconds.
const DWORD kFunctionKeyRepeatMs = 200;

// The request in UTF-8, values inserted as they are.
std::string BuildRequest(const char* function, const char* firstArgument, const std::vector<std::string>& items) {
    std::string request = "<invoke name=\"";
    request += function;
    request += "\"><arguments><string>";
    request += firstArgument;
    request += "</string>";
    for (const std::string& item : items) {
        request += "<string>";
        request += item;
        request += "</string>";
    }
    request += "</arguments></invoke>";
    return request;
}

// After vsnprintf cut `text` at `length` bytes, drops a UTF-8 sequence left incomplete.
void DropIncompleteCharacter(char* text, size_t length) {
    size_t start = length;
    while (start > 0 && (static_cast<uint8_t>(text[start - 1]) & 0xC0) == 0x80) {
        --start;
    }
    if (start == 0) {
        return;
    }
    const uint8_t lead = static_cast<uint8_t>(text[start - 1]);
    size_t needed = 1;
    if ((lead & 0xE0) == 0xC0) {
        needed = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        needed = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        needed = 4;
    }
    if (length - (start - 1) < needed) {
        text[start - 1] = '\0';
    }
}

std::vector<std::string> SplitEventItems(const char* text) {
    std::vector<std::string> items;
    const char* piece = text;
    while (items.size() < kMaxEventItems) {
        const char* comma = strchr(piece, ',');
        const size_t length = comma != nullptr ? static_cast<size_t>(comma - piece) : strlen(piece);
        if (length > 0) {
            items.emplace_back(piece, length);
        }
        if (comma == nullptr) {
            break;
        }
        piece = comma + 1;
    }
    return items;
}

}  // namespace

bool ParseClientRequest(const wchar_t* request, std::vector<std::string>* arguments) {
    arguments->clear();
    if (request == nullptr) {
        return false;
    }
    // Taken when it fits the OEM buffer of the original, read as UTF-8.
    char oemText[kMaxRequestBytes];
    if (!NarrowFromWide(request, Encoding::kOem, Unconvertible::kReplace, oemText, sizeof oemText)) {
        return false;
    }
    const std::string text = Utf8FromWide(request);
    if (text.size() >= kMaxRequestUtf8Bytes) {
        return false;
    }
    return ParseClientRequestText(text.c_str(), arguments);
}

CScriptBridge::CScriptBridge(IGameBridgeWindow& window, CClientServices& services, const LauncherSettings& settings)
    : window_(window), services_(services), settings_(settings) {}

void CScriptBridge::OnFlashCall(const wchar_t* request) {
    std::vector<std::string> arguments;
    if (!ParseClientRequest(request, &arguments) || arguments.empty()) {
        return;
    }
    RunCommand(atoi(arguments[0].c_str()), arguments);
}

void CScriptBridge::RunCommand(int32_t command, const std::vector<std::string>& arguments) {
    const bool hasArgument = arguments.size() > 1;
    switch (command) {
    case kCommandEndGame:
        window_.EndGameDialog();
        break;
    case kCommandRestart:
        services_.StartNewInstance();
        window_.EndGameDialog();
        break;
    case kCommandForwardFunctionKeys:
        functionKeysForwarded_ = true;
        break;
    case kCommandSetTopUpAddress:
        if (hasArgument) {
            window_.SetButtonAddress(kButtonTypeTopUp, arguments[1].c_str());
        }
        break;
    case kCommandSetTitle:
        if (hasArgument) {
            window_.SetTitleText(WideFromUtf8(settings_.title) + L"-" + WideFromUtf8(arguments[1].c_str()));
        }
        break;
    case kCommandClientInfo:
        SendClientInfo();
        break;
    case kCommandShowNoticeButton:
        if (hasArgument) {
            window_.SetButtonAddress(kButtonTypeNotice, arguments[1].c_str());
            window_.ShowButton(kButtonTypeNotice);
        }
        break;
    case kCommandFlashTaskbar:
        window_.StartTaskbarFlashing();
        break;
    case kCommandWindow:
        if (!hasArgument) {
            break;
        }
        switch (atoi(arguments[1].c_str())) {
        case kWindowRestart:
            services_.StartNewInstance();
            window_.EndGameDialog();
            break;
        case kWindowEnd:
            window_.EndGameDialog();
            break;
        case kWindowLeaveFullScreen:
            if (window_.IsFullScreen()) {
                window_.LeaveFullScreen();
            }
            break;
        case kWindowEnterFullScreen:
            if (!window_.IsFullScreen()) {
                window_.EnterFullScreen();
            }
            break;
        default:
            break;
        }
        break;
    default:  // kCommandNotice and unknown numbers
        break;
    }
}

void CScriptBridge::SendClientInfo() {
    const ClientInfo info = services_.CollectClientInfo();
    CallScript(kEventClientInfo, "%s,%s,%s", info.macAddress.c_str(), info.ipAddress.c_str(), settings_.from);
}

void CScriptBridge::CallScript(uint32_t event, const char* format, ...) {
    char text[kEventTextSize] = "";
    int length = 0;
    if (format != nullptr) {
        va_list values;
        va_start(values, format);
        length = vsnprintf(text, sizeof text, format, values);
        va_end(values);
    }
    if (length < 0) {
        text[0] = '\0';
    } else if (static_cast<size_t>(length) >= sizeof text) {
        text[sizeof text - 1] = '\0';
        DropIncompleteCharacter(text, sizeof text - 1);
    }
    char number[16];
    snprintf(number, sizeof number, "%u", static_cast<unsigned>(event));
    Send(kEventFunction, number, SplitEventItems(text));
}

void CScriptBridge::InitGameParams(const std::string& gameParameters) {
    Send(kInitFunction, gameParameters.c_str(), {});
}

void CScriptBridge::Send(const char* function, const char* firstArgument, const std::vector<std::string>& items) {
    std::wstring request;
    try {
        request = requestConverter_(BuildRequest(function, firstArgument, items).c_str(), true);
    } catch (const std::bad_alloc&) {
        request.clear();
    }
    // Every request has its head, so an empty conversion is one that failed.
    if (request.empty()) {
        window_.ShowMessage(L"Call Param too long");
        return;
    }
    CShockwaveFlash* control = window_.gameControl();
    if (control == nullptr) {
        return;
    }
    try {
        control->CallFunction(request.c_str());
    } catch (const CDispatchException&) {
        // The movie may not have registered the function; nothing is retried.
    }
}

InputDecision CScriptBridge::FilterInput(const MSG& message) {
    switch (message.message) {
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        // The point recorded with the message is in screen coordinates, unlike lParam.
        if (message.pt.y >= 0) {
            CallScript(message.message == WM_RBUTTONDOWN ? kEventRightButtonDown : kEventRightButtonUp, "%d,%d",
                       static_cast<int>(message.pt.x), static_cast<int>(message.pt.y));
        }
        return InputDecision::Consumed;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        const WPARAM key = message.wParam;
        if (key < VK_F1 || key > VK_F12 || key == VK_F8) {
            return InputDecision::Continue;
        }
        if (!functionKeysForwarded_) {
            return InputDecision::NotHandled;
        }
        const DWORD now = tickSource_();
        if (now - lastFunctionKeyTick_ > kFunctionKeyRepeatMs) {
            lastFunctionKeyTick_ = now;
            CallScript(kEventFunctionKey, "%d", static_cast<int>(key - VK_F1));
            return InputDecision::Consumed;
        }
        return InputDecision::Continue;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
        lastFunctionKeyTick_ = 0;
        return InputDecision::Continue;
    default:
        return InputDecision::Continue;
    }
}
