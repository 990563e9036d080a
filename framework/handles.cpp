#include "framework/handles.h"

bool StartDetached(const wchar_t* application, std::wstring commandLine, DWORD flags, WORD show) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (show != SW_SHOWDEFAULT) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = show;
    }
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    if (!CreateProcessW(application, &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}
