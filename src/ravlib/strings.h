// Owned, terminated strings of the support library: UTF-16 text (CWideString) and
// narrow text in the system ANSI code page (CAnsiString). An empty string holds no
// buffer. When memory runs out the operations return false (or null) and leave the
// string as it was.
#pragma once

#include <stddef.h>

namespace ravlib {
namespace string {

class CAnsiString {
public:
    CAnsiString() = default;
    // Copies text with its terminator; null gives an empty string.
    explicit CAnsiString(const char* text);
    virtual ~CAnsiString();
    CAnsiString(const CAnsiString&) = delete;
    CAnsiString& operator=(const CAnsiString&) = delete;

    // Copies text with its terminator; null empties the string. False when the copy
    // could not be allocated (the string is then unchanged).
    bool Assign(const char* text);

    // The text, or null when the string is empty.
    const char* Text() const { return buffer_; }
    // The text, or "" when the string is empty.
    const char* c_str() const { return buffer_ ? buffer_ : ""; }
    size_t Length() const;
    bool IsEmpty() const { return !buffer_ || !*buffer_; }

protected:
    friend class CWideString;
    // Grows or shrinks buffer to bytes and returns the new buffer; with 0 bytes frees
    // it and returns null. Returns null (buffer untouched) when the memory is missing.
    virtual char* Realloc(char* buffer, size_t bytes);

private:
    char* buffer_ = nullptr;
};

class CWideString {
public:
    CWideString() = default;
    // Copies text with its terminator; null gives an empty string.
    explicit CWideString(const wchar_t* text);
    virtual ~CWideString();
    CWideString(const CWideString&) = delete;
    CWideString& operator=(const CWideString&) = delete;

    // Copies text with its terminator; null empties the string. False when the copy
    // could not be allocated (the string is then unchanged).
    bool Assign(const wchar_t* text);

    // Converts the text to the ANSI code page into target. An empty string, or a
    // failed conversion, leaves the target empty. When target is null a new
    // CAnsiString is created and returned (the caller deletes it); otherwise target
    // is returned. Null only when a new string could not be allocated.
    CAnsiString* ToAnsi(CAnsiString* target = nullptr) const;

    const wchar_t* Text() const { return buffer_; }
    const wchar_t* c_str() const { return buffer_ ? buffer_ : L""; }
    size_t Length() const;
    bool IsEmpty() const { return !buffer_ || !*buffer_; }

protected:
    virtual wchar_t* Realloc(wchar_t* buffer, size_t bytes);

private:
    wchar_t* buffer_ = nullptr;
};

}  // namespace string
}  // namespace ravlib
