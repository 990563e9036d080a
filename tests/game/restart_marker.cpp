// Stands in for the launcher started again by the restart tests: each start appends one
// line to "started.txt" beside itself, holding the number of command-line entries, a
// blank and the command line exactly as it arrived (UTF-8).
#include <windows.h>
#include <shellapi.h>

int wmain() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    wchar_t* name = path;
    for (wchar_t* c = path; *c; ++c)
        if (*c == L'\\') name = c + 1;
    if (name - path + 12 > MAX_PATH) return 1;
    lstrcpyW(name, L"started.txt");

    const wchar_t* commandLine = GetCommandLineW();
    int count = 0;
    wchar_t** entries = CommandLineToArgvW(commandLine, &count);
    LocalFree(entries);
    wchar_t line[2 * MAX_PATH + 32];
    wsprintfW(line, L"%d ", count);
    const int used = lstrlenW(line);
    if (used + lstrlenW(commandLine) + 2 > static_cast<int>(sizeof line / sizeof line[0])) return 1;
    lstrcpyW(line + used, commandLine);
    lstrcatW(line, L"\n");
    char text[sizeof line * 2];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text, nullptr, nullptr);
    if (bytes <= 1) return 1;

    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text, static_cast<DWORD>(bytes - 1), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 1;
}
