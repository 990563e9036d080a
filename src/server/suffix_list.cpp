#include "server/suffix_list.h"

#include <wchar.h>

#include <string>

namespace {
std::wstring* g_suffixes = nullptr;
}

void FileSrvSetSuffixes(const wchar_t* list) {
    FileSrvClearSuffixes();
    g_suffixes = new std::wstring(list ? list : L"");
}

void FileSrvClearSuffixes() {
    delete g_suffixes;
    g_suffixes = nullptr;
}

bool IsListedSuffix(const wchar_t* extension) {
    if (!g_suffixes || !extension || !*extension) return false;
    return g_suffixes->find(extension) != std::wstring::npos;
}
