// Stands in for a newly installed launcher in the update batch test: when started it
// leaves "started.txt" beside itself, holding the path it was started from.
#include <windows.h>

int wmain() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    wchar_t marker[MAX_PATH + 16];
    lstrcpyW(marker, path);
    wchar_t* slash = marker;
    for (wchar_t* c = marker; *c; ++c)
        if (*c == L'\\') slash = c + 1;
    lstrcpyW(slash, L"started.txt");
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, path, length * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
    return ok && written == length * sizeof(wchar_t) ? 0 : 1;
}
