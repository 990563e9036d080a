// Reading front over minizip's unzip interface (zip_archive.h), over the sources of
// zip_source.h: finding, querying and extracting items; names, times and attributes take
// their Windows forms here.
#include "zip/zip_reader.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "framework/encoding.h"
#include "framework/handles.h"
#include "zip/zip_archive.h"
#include "zip/zip_source.h"

namespace {

const int32_t kReadingTag = 1;
const int32_t kNone = kZipNone;
const uint32_t kNameCapacity = kZipNameCapacity;  // ZipItemInfo::name, NUL included
const uint32_t kFindNameLimit = 256;              // names of this many UTF-16 units are never found
const uint32_t kCopyChunk = 0x4000;               // extraction to files and handles
const uint32_t kUnixDirectory = 0x40000000;
const uint32_t kUnixOwnerWrite = 0x00800000;
const uint16_t kExtendedTimestampTag = 0x5455;  // "UT"
const uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

}  // namespace

class ZipReader {
public:
    ZipArchive core;
    CHandle file;  // the file or duplicated handle the source reads, if any
    int32_t cachedIndex;
    ZipItemInfo cached;
    bool cachedUtf8;  // the cached item's name is stored as UTF-8
    wchar_t root[MAX_PATH + 2];
};

namespace {

volatile LONG g_lastResult = ZR_OK;

uint32_t Remember(uint32_t result) {
    InterlockedExchange(&g_lastResult, static_cast<LONG>(result));
    return result;
}

// ---------------------------------------------------------------------------------
// Reader lifetime

void FreeReader(ZipReader* r) {
    if (!r) return;
    zipcore::CloseArchive(&r->core);
    delete r;
}

void SetRoot(ZipReader* r) {
    DWORD n = GetCurrentDirectoryW(MAX_PATH, r->root);
    if (n == 0 || n >= MAX_PATH) {
        // Too long to keep: relative targets then resolve against the current directory
        // at the time of extraction.
        r->root[0] = L'\0';
        return;
    }
    if (r->root[n - 1] != L'\\' && r->root[n - 1] != L'/') {
        r->root[n] = L'\\';
        r->root[n + 1] = L'\0';
    }
}

uint32_t CheckHandle(const ZipHandle* zip) {
    if (!zip) return ZR_ARGS;
    if (zip->kindTag != kReadingTag) return ZR_ZMODE;
    if (!zip->reader || !zip->reader->core.archive) return ZR_ARGS;
    return ZR_OK;
}

// ---------------------------------------------------------------------------------
// Item information

uint32_t AttributesFrom(uint32_t a) {
    uint32_t attributes = FILE_ATTRIBUTE_NORMAL;
    if ((a & kUnixDirectory) || (a & 0x10)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (a & 0x20) attributes |= FILE_ATTRIBUTE_ARCHIVE;
    if (a & 0x02) attributes |= FILE_ATTRIBUTE_HIDDEN;
    if (!(a & kUnixOwnerWrite) || (a & 0x01)) attributes |= FILE_ATTRIBUTE_READONLY;
    if (a & 0x04) attributes |= FILE_ATTRIBUTE_SYSTEM;
    return attributes;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

FILETIME FileTimeFromUnix(uint32_t seconds) {
    uint64_t t = static_cast<uint64_t>(seconds) * 10000000ull + kUnixEpochAsFileTime;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

// Applies the first extended-timestamp block of a local extra field. Its data are a
// flags byte and, for each of bits 0 (modification), 1 (access) and 2 (creation), a
// 32-bit count of seconds since 1970 UTC. Times that do not lie inside the block are
// not taken.
void ApplyExtendedTimestamp(const uint8_t* extra, uint32_t length, ZipItemInfo* info) {
    uint32_t at = 0;
    while (at <= length && length - at >= 5) {
        uint16_t tag = Le16(extra + at);
        uint32_t dataLength = Le16(extra + at + 2);
        uint32_t data = at + 4;
        if (tag != kExtendedTimestampTag) {
            at = data + dataLength;
            continue;
        }
        uint32_t end = length - data < dataLength ? length : data + dataLength;
        if (end <= data) return;
        uint8_t flags = extra[data];
        uint32_t p = data + 1;
        FILETIME* slots[3] = {&info->modificationTime, &info->accessTime, &info->creationTime};
        for (int bit = 0; bit < 3; bit++) {
            if (!(flags & (1u << bit))) continue;
            if (end - p < 4) return;
            *slots[bit] = FileTimeFromUnix(Le32(extra + p));
            p += 4;
        }
        return;
    }
}

// Reads item `index` from the central directory and its local header.
uint32_t ReadItemInfo(ZipReader* r, int32_t index, ZipItemInfo* info, bool* utf8) {
    unz_file_info64 fi;
    char name[kNameCapacity];
    if (!zipcore::MoveTo(&r->core, index) || !zipcore::CurrentItemHeader(&r->core, &fi, name)) return ZR_CORRUPT;
    if (fi.compression_method != 0 && fi.compression_method != Z_DEFLATED) return ZR_CORRUPT;
    if (!zipcore::PlausibleSizes(&r->core, &fi)) return ZR_CORRUPT;

    // Opening the item makes minizip compare the local header with the central one.
    if (unzOpenCurrentFile(r->core.archive) != UNZ_OK) return ZR_CORRUPT;
    int extraLength = unzGetLocalExtrafield(r->core.archive, nullptr, 0);
    uint8_t* extra = nullptr;
    uint32_t result = ZR_OK;
    if (extraLength < 0) {
        result = ZR_READ;
    } else if (extraLength > 0) {
        extra = static_cast<uint8_t*>(malloc(static_cast<size_t>(extraLength)));
        if (!extra)
            result = ZR_NOALLOC;
        else if (unzGetLocalExtrafield(r->core.archive, extra, static_cast<unsigned>(extraLength)) !=
                 extraLength)
            result = ZR_READ;
    }
    unzCloseCurrentFile(r->core.archive);

    if (result == ZR_OK) {
        memset(info, 0, sizeof *info);
        info->index = index;
        memcpy(info->name, name, sizeof info->name);
        info->attributes = AttributesFrom(static_cast<uint32_t>(fi.external_fa));
        info->compressedSize = static_cast<int32_t>(fi.compressed_size);
        info->uncompressedSize = static_cast<int32_t>(fi.uncompressed_size);
        FILETIME dos;
        if (DosDateTimeToFileTime(static_cast<WORD>(fi.dosDate >> 16),
                                  static_cast<WORD>(fi.dosDate & 0xFFFF), &dos)) {
            info->accessTime = dos;
            info->creationTime = dos;
            info->modificationTime = dos;
        }
        if (extra) ApplyExtendedTimestamp(extra, static_cast<uint32_t>(extraLength), info);
        *utf8 = (fi.flag & kZipFlagUtf8Name) != 0;
    }
    free(extra);
    return result;
}

uint32_t QueryItem(ZipReader* r, int32_t index, ZipItemInfo* info, bool* utf8) {
    if (index < -1 || index >= r->core.count) return ZR_ARGS;
    zipcore::CloseItem(&r->core);
    *utf8 = false;
    if (index == kNone) {
        memset(info, 0, sizeof *info);
        info->index = r->core.count;
        return ZR_OK;
    }
    if (index != r->cachedIndex) {
        ZipItemInfo fresh;
        bool freshUtf8 = false;
        uint32_t result = ReadItemInfo(r, index, &fresh, &freshUtf8);
        if (result != ZR_OK) return result;
        r->cached = fresh;
        r->cachedUtf8 = freshUtf8;
        r->cachedIndex = index;
    }
    *info = r->cached;
    *utf8 = r->cachedUtf8;
    return ZR_OK;
}

// The wide form of a stored name: UTF-8 when the item says so, else the ANSI code page.
void WideName(const char* name, bool utf8, wchar_t* out, uint32_t capacity) {
    memset(out, 0, capacity * sizeof(wchar_t));
    WideFromNarrow(name, utf8 ? Encoding::kUtf8 : Encoding::kAnsi, Unconvertible::kReplace, out, capacity);
}

void WideRecord(const ZipItemInfo* in, bool utf8, ZipItemInfoW* out) {
    out->index = in->index;
    WideName(in->name, utf8, out->name, kNameCapacity);
    out->attributes = in->attributes;
    out->accessTime = in->accessTime;
    out->creationTime = in->creationTime;
    out->modificationTime = in->modificationTime;
    out->compressedSize = in->compressedSize;
    out->uncompressedSize = in->uncompressedSize;
}

// ---------------------------------------------------------------------------------
// Finding

// A searched name in one encoding; usable is false when the name has no exact form in
// that encoding.
struct SearchName {
    char bytes[kNameCapacity];
    uint32_t length;
    bool usable;
};

void EncodeSearchName(const wchar_t* name, uint32_t units, Encoding encoding, SearchName* out) {
    // No best-fit or replacement characters: such a form would find a different name.
    size_t length = 0;
    out->usable = NarrowFromWide(std::wstring_view(name, units), encoding, Unconvertible::kFail, out->bytes,
                                 kNameCapacity, &length);
    out->length = static_cast<uint32_t>(length);
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Case is ignored for the ASCII letters only. In a double-byte ANSI code page the
// second byte of a character may look like a letter; it is compared exactly.
bool SameName(const char* a, const char* b, uint32_t length, bool ignoreCase, bool ansi) {
    if (!ignoreCase) return memcmp(a, b, length) == 0;
    for (uint32_t i = 0; i < length; i++) {
        if (ansi && IsDBCSLeadByte(static_cast<BYTE>(a[i])) && i + 1 < length) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            i++;
            continue;
        }
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    }
    return true;
}

uint32_t FindItem(ZipReader* r, const wchar_t* name, bool ignoreCase, int32_t* found) {
    *found = kNone;
    zipcore::CloseItem(&r->core);
    uint32_t units = 0;
    while (units < kFindNameLimit && name[units]) units++;
    if (units >= kFindNameLimit) return ZR_NOTFOUND;

    SearchName ansi, utf8;
    EncodeSearchName(name, units, Encoding::kAnsi, &ansi);
    EncodeSearchName(name, units, Encoding::kUtf8, &utf8);

    for (int32_t i = 0; i < r->core.count; i++) {
        unz_file_info64 fi;
        char stored[kNameCapacity];
        if (!zipcore::MoveTo(&r->core, i) || !zipcore::CurrentItemHeader(&r->core, &fi, stored)) return ZR_CORRUPT;
        bool isUtf8 = (fi.flag & kZipFlagUtf8Name) != 0;
        const SearchName* want = isUtf8 ? &utf8 : &ansi;
        // Compare whole names: a stored name longer than the buffer never matches.
        if (!want->usable || fi.size_filename != want->length) continue;
        if (SameName(stored, want->bytes, want->length, ignoreCase, !isUtf8)) {
            *found = i;
            return ZR_OK;
        }
    }
    return ZR_NOTFOUND;
}

// ---------------------------------------------------------------------------------
// Extraction

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAbsolute(const wchar_t* path) {
    return IsSeparator(path[0]) || (path[0] && path[1] == L':');
}

// The full name of an extraction target: relative names lie beneath the root.
bool ResolveTarget(const ZipReader* r, const wchar_t* target, wchar_t* out, size_t capacity) {
    size_t rootLength = IsAbsolute(target) ? 0 : wcslen(r->root);
    size_t targetLength = wcslen(target);
    if (rootLength + targetLength >= capacity) return false;
    memcpy(out, r->root, rootLength * sizeof(wchar_t));
    memcpy(out + rootLength, target, (targetLength + 1) * sizeof(wchar_t));
    return true;
}

// Creates every directory along `path` before its last separator. Failures are left
// for the following CreateFileW to report.
void CreateParentDirectories(const wchar_t* path) {
    size_t length = wcslen(path);
    size_t start = 0;
    if (IsSeparator(path[0]) && IsSeparator(path[1])) {
        // \\server\share\ : the share is not ours to create.
        int separators = 0;
        for (start = 2; start < length && separators < 2; start++)
            if (IsSeparator(path[start])) separators++;
    } else if (path[0] && path[1] == L':') {
        start = IsSeparator(path[2]) ? 3 : 2;
    } else if (IsSeparator(path[0])) {
        start = 1;
    }
    wchar_t prefix[MAX_PATH];
    for (size_t i = start; i < length && i < MAX_PATH; i++) {
        if (!IsSeparator(path[i]) || i == 0 || IsSeparator(path[i - 1])) continue;
        memcpy(prefix, path, i * sizeof(wchar_t));
        prefix[i] = L'\0';
        CreateDirectoryW(prefix, nullptr);
    }
}

// Clears the way for a new file at `path`: a read-only file loses that attribute, and
// a file that cannot be deleted (typically one in use) is moved aside into the current
// directory and deleted there if possible.
void RemoveExisting(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path)) return;
    wchar_t aside[64];
    _snwprintf(aside, 63, L"\x88ab\x5360\x7528\x6587\x4ef6%d%d.dll", rand(), rand());
    aside[63] = L'\0';
    if (MoveFileW(path, aside)) DeleteFileW(aside);
}

uint32_t ExtractToFile(ZipReader* r, int32_t index, const void* target, int32_t kind) {
    zipcore::CloseItem(&r->core);
    if (index < 0 || index >= r->core.count) return ZR_ARGS;
    if (!target) return ZR_ARGS;
    if (kind == ZipFromHandle && target == INVALID_HANDLE_VALUE) return ZR_ARGS;
    if (kind == ZipFromFile && *static_cast<const wchar_t*>(target) == L'\0') return ZR_ARGS;

    ZipItemInfo info;
    bool utf8 = false;
    uint32_t queried = QueryItem(r, index, &info, &utf8);
    if (queried != ZR_OK) return queried;

    wchar_t path[MAX_PATH];
    if (kind == ZipFromFile &&
        !ResolveTarget(r, static_cast<const wchar_t*>(target), path, MAX_PATH))
        return ZR_NOFILE;

    if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (kind == ZipFromHandle) return ZR_OK;
        CreateParentDirectories(path);
        CreateDirectoryW(path, nullptr);
        DWORD made = GetFileAttributesW(path);
        if (made == INVALID_FILE_ATTRIBUTES || !(made & FILE_ATTRIBUTE_DIRECTORY)) return ZR_NOFILE;
        return ZR_OK;
    }

    // The item is opened before the target is touched, so that an item that cannot be
    // read leaves an existing target alone.
    uint32_t opened = zipcore::OpenItem(&r->core, index);
    if (opened != ZR_OK) return opened;

    CHandle created;
    HANDLE out;
    if (kind == ZipFromFile) {
        CreateParentDirectories(path);
        RemoveExisting(path);
        DWORD attributes = info.attributes &
                           (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if (!attributes) attributes = FILE_ATTRIBUTE_NORMAL;
        created.Reset(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
        if (!created.valid()) {
            unzCloseCurrentFile(r->core.archive);
            return ZR_NOFILE;
        }
        out = created.get();
    } else {
        out = const_cast<HANDLE>(target);
    }

    bool failed = false;
    uint8_t chunk[kCopyChunk];
    for (;;) {
        int n = unzReadCurrentFile(r->core.archive, chunk, kCopyChunk);
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0) {
            failed = unzeof(r->core.archive) != 1;  // data ended before the stated size
            break;
        }
        DWORD put = 0;
        if (!WriteFile(out, chunk, static_cast<DWORD>(n), &put, nullptr) ||
            put != static_cast<DWORD>(n)) {
            failed = true;
            break;
        }
    }
    if (unzCloseCurrentFile(r->core.archive) != UNZ_OK) failed = true;  // CRC of the data

    if (!failed && GetFileType(out) == FILE_TYPE_DISK) {
        const FILETIME* times[3] = {&info.creationTime, &info.accessTime, &info.modificationTime};
        for (int i = 0; i < 3; i++)
            if (times[i]->dwLowDateTime == 0 && times[i]->dwHighDateTime == 0) times[i] = nullptr;
        SetFileTime(out, times[0], times[1], times[2]);
    }
    return failed ? ZR_WRITE : ZR_OK;
}

struct Message {
    uint32_t code;
    const wchar_t* text;
};

const Message kMessages[] = {
    {ZR_OK, L"Success"},
    {ZR_NODUPH, L"Culdn't duplicate handle"},
    {ZR_NOFILE, L"Couldn't create/open file"},
    {ZR_NOALLOC, L"Failed to allocate memory"},
    {ZR_WRITE, L"Error writing to file"},
    {ZR_NOTFOUND, L"File not found in the zipfile"},
    {ZR_MORE, L"Still more data to unzip"},
    {ZR_CORRUPT, L"Zipfile is corrupt or not a zipfile"},
    {ZR_READ, L"Error reading file"},
    {ZR_ARGS, L"Caller: faulty arguments"},
    {ZR_NOTMMAP, L"Caller: can only get memory of a memory zipfile"},
    {ZR_MEMSIZE, L"Caller: not enough space allocated for memory zipfile"},
    {ZR_FAILED, L"Caller: there was a previous error"},
    {ZR_ENDED, L"Caller: additions to the zip have already been ended"},
    {ZR_MISSIZE, L"Zip-bug: the anticipated size turned out wrong"},
    {ZR_PARTIALUNZ, L"Caller: the file had already been partially unzipped"},
    {ZR_ZMODE, L"Caller: mixing creation and opening of zip"},
    {ZR_NOTINITED, L"Zip-bug: internal initialisation not completed"},
    {ZR_SEEK, L"Zip-bug: trying to seek the unseekable"},
    {ZR_NOCHANGE, L"Zip-bug: tried to change mind, but not allowed"},
    {ZR_FLATE, L"Zip-bug: an internal error during flation"},
};

}  // namespace

ZipHandle* OpenZip(const void* source, uint32_t length, int32_t kind) {
    if (!source) {
        Remember(ZR_ARGS);
        return nullptr;
    }
    ZipReader* r = new (std::nothrow) ZipReader();
    if (!r) {
        Remember(ZR_NOALLOC);
        return nullptr;
    }
    r->core.archive = nullptr;
    r->core.position = kNone;
    r->core.currentItem = kNone;
    r->cachedIndex = kNone;
    SetRoot(r);

    uint32_t result = OpenZipSource(&r->core.source, &r->file, source, length, kind);
    if (result == ZR_OK) result = zipcore::OpenArchive(&r->core);
    ZipHandle* zip = nullptr;
    if (result == ZR_OK) {
        zip = static_cast<ZipHandle*>(calloc(1, sizeof(ZipHandle)));
        if (!zip) result = ZR_NOALLOC;
    }
    if (result != ZR_OK) {
        FreeReader(r);
        Remember(result);
        return nullptr;
    }
    zip->kindTag = kReadingTag;
    zip->reader = r;
    Remember(ZR_OK);
    return zip;
}

uint32_t LocateZipItem(ZipHandle* zip, const wchar_t* name, bool ignoreCase, int32_t* index,
                       ZipItemInfo* info) {
    uint32_t result = CheckHandle(zip);
    if (result != ZR_OK) return Remember(result);
    if (!name) return Remember(ZR_ARGS);
    ZipReader* r = zip->reader;
    int32_t found = kNone;
    result = FindItem(r, name, ignoreCase, &found);
    if (index) *index = found;
    if (result != ZR_OK) {
        if (info) {
            memset(info, 0, sizeof *info);
            info->index = kNone;
        }
        return Remember(result);
    }
    if (info) {
        bool utf8 = false;
        result = QueryItem(r, found, info, &utf8);
    }
    return Remember(result);
}

uint32_t LocateZipItemW(ZipHandle* zip, const wchar_t* name, bool ignoreCase, int32_t* index,
                        ZipItemInfoW* info) {
    uint32_t result = CheckHandle(zip);
    if (result != ZR_OK) return Remember(result);
    if (!name || !info) return Remember(ZR_ARGS);
    ZipReader* r = zip->reader;
    int32_t found = kNone;
    result = FindItem(r, name, ignoreCase, &found);
    if (index) *index = found;
    if (result != ZR_OK) return Remember(result);
    ZipItemInfo narrow;
    bool utf8 = false;
    result = QueryItem(r, found, &narrow, &utf8);
    if (result == ZR_OK) WideRecord(&narrow, utf8, info);
    return Remember(result);
}

uint32_t QueryZipItem(ZipHandle* zip, int32_t index, ZipItemInfo* info) {
    uint32_t result = CheckHandle(zip);
    if (result != ZR_OK) return Remember(result);
    if (!info) return Remember(ZR_ARGS);
    bool utf8 = false;
    return Remember(QueryItem(zip->reader, index, info, &utf8));
}

uint32_t QueryZipItemW(ZipHandle* zip, int32_t index, ZipItemInfoW* info) {
    uint32_t result = CheckHandle(zip);
    if (result != ZR_OK) return Remember(result);
    if (!info) return Remember(ZR_ARGS);
    ZipItemInfo narrow;
    bool utf8 = false;
    result = QueryItem(zip->reader, index, &narrow, &utf8);
    if (result == ZR_OK) WideRecord(&narrow, utf8, info);
    return Remember(result);
}

uint32_t ExtractZipItem(ZipHandle* zip, int32_t index, void* target, uint32_t length,
                        int32_t kind) {
    uint32_t result = CheckHandle(zip);
    if (result != ZR_OK) return Remember(result);
    switch (kind) {
        case ZipFromMemory:
            return Remember(
                zipcore::ExtractToMemory(&zip->reader->core, index, static_cast<uint8_t*>(target), length));
        case ZipFromFile:
        case ZipFromHandle:
            return Remember(ExtractToFile(zip->reader, index, target, kind));
        default:
            return Remember(ZR_ARGS);
    }
}

uint32_t ReleaseZip(ZipHandle* zip) {
    uint32_t result = CheckHandle(zip);
    if (result != ZR_OK) return Remember(result);
    FreeReader(zip->reader);
    free(zip);
    return Remember(ZR_OK);
}

uint32_t DescribeZipResult(uint32_t code, wchar_t* buffer, uint32_t size) {
    if (code == ZR_RECENT) code = static_cast<uint32_t>(g_lastResult);
    const wchar_t* text = L"unknown zip result code";
    for (size_t i = 0; i < sizeof kMessages / sizeof kMessages[0]; i++) {
        if (kMessages[i].code == code) {
            text = kMessages[i].text;
            break;
        }
    }
    uint32_t length = static_cast<uint32_t>(wcslen(text));
    if (buffer && size) {
        uint32_t n = length < size - 1 ? length : size - 1;
        memcpy(buffer, text, n * sizeof(wchar_t));
        buffer[n] = L'\0';
    }
    return length;
}
