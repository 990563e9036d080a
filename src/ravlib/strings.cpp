#include "ravlib/strings.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <new>

#include "framework/encoding.h"

namespace ravlib {
namespace string {

CAnsiString::CAnsiString(const char* text) { Assign(text); }

CAnsiString::~CAnsiString() { buffer_ = Realloc(buffer_, 0); }

char* CAnsiString::Realloc(char* buffer, size_t bytes) {
    if (bytes == 0) {
        free(buffer);
        return nullptr;
    }
    return static_cast<char*>(realloc(buffer, bytes));
}

bool CAnsiString::Assign(const char* text) {
    if (!text) {
        buffer_ = Realloc(buffer_, 0);
        return true;
    }
    size_t bytes = strlen(text) + 1;
    char* copy = Realloc(nullptr, bytes);
    if (!copy) return false;
    memcpy(copy, text, bytes);
    Realloc(buffer_, 0);
    buffer_ = copy;
    return true;
}

size_t CAnsiString::Length() const { return buffer_ ? strlen(buffer_) : 0; }

CWideString::CWideString(const wchar_t* text) { Assign(text); }

CWideString::~CWideString() { buffer_ = Realloc(buffer_, 0); }

wchar_t* CWideString::Realloc(wchar_t* buffer, size_t bytes) {
    if (bytes == 0) {
        free(buffer);
        return nullptr;
    }
    return static_cast<wchar_t*>(realloc(buffer, bytes));
}

bool CWideString::Assign(const wchar_t* text) {
    if (!text) {
        buffer_ = Realloc(buffer_, 0);
        return true;
    }
    size_t chars = wcslen(text) + 1;
    if (chars > SIZE_MAX / sizeof(wchar_t)) return false;
    wchar_t* copy = Realloc(nullptr, chars * sizeof(wchar_t));
    if (!copy) return false;
    memcpy(copy, text, chars * sizeof(wchar_t));
    Realloc(buffer_, 0);
    buffer_ = copy;
    return true;
}

size_t CWideString::Length() const { return buffer_ ? wcslen(buffer_) : 0; }

CAnsiString* CWideString::ToAnsi(CAnsiString* target) const {
    if (!target) {
        target = new (std::nothrow) CAnsiString();
        if (!target) return nullptr;
    } else {
        target->Assign(nullptr);
    }
    const std::wstring_view text(c_str(), Length());
    // Ask for the size first: a code page may need more than two bytes per character.
    const size_t needed = NarrowLength(text, Encoding::kAnsi, Unconvertible::kReplace);
    if (needed == 0) return target;
    char* converted = target->Realloc(nullptr, needed + 1);
    if (!converted) return target;
    if (!NarrowFromWide(text, Encoding::kAnsi, Unconvertible::kReplace, converted, needed + 1)) {
        target->Realloc(converted, 0);
        return target;
    }
    target->buffer_ = converted;
    return target;
}

}  // namespace string
}  // namespace ravlib
