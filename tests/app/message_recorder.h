// Records the failure messages of a LauncherConfig instead of showing them.
#pragma once

#include <string>
#include <vector>

#include "app/launcher_config.h"

struct RecordedMessage {
    std::wstring text;
    std::wstring caption;
};

inline std::vector<RecordedMessage>& RecordedMessages() {
    static std::vector<RecordedMessage> messages;
    return messages;
}

inline int WINAPI RecordMessage(HWND, const wchar_t* text, const wchar_t* caption, UINT) {
    RecordedMessages().push_back({text ? text : L"", caption ? caption : L""});
    return IDOK;
}

// A configuration whose messages are recorded; the record starts empty.
inline void RecordMessagesOf(LauncherConfig& config) {
    RecordedMessages().clear();
    config.SetMessageBox(RecordMessage);
}
