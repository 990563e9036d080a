#include "zip/zip_source.h"

#include <windows.h>

namespace {

// Files and handles are read and measured through these; memory blocks by the core.

uint32_t ReadFileSource(ZipSource* src, uint8_t* out, uint32_t size) {
    HANDLE file = static_cast<HANDLE>(src->file);
    if (src->seekable) {
        LARGE_INTEGER at;
        if (src->base + src->pos > static_cast<uint64_t>(INT64_MAX)) return 0;
        at.QuadPart = static_cast<LONGLONG>(src->base + src->pos);
        if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
            src->error = 1;
            return 0;
        }
    }
    uint32_t done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(file, out + done, size - done, &got, nullptr)) {
            src->error = 1;
            break;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

bool FileSourceLength(const ZipSource* src, uint64_t* length) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(static_cast<HANDLE>(src->file), &size) || size.QuadPart < 0) return false;
    uint64_t total = static_cast<uint64_t>(size.QuadPart);
    *length = total > src->base ? total - src->base : 0;
    return true;
}

}  // namespace

uint32_t OpenZipSource(ZipSource* src, CHandle* file, const void* from, uint32_t length, int32_t kind) {
    src->file = INVALID_HANDLE_VALUE;
    src->kind = kind;
    src->readFile = ReadFileSource;
    src->fileLength = FileSourceLength;
    switch (kind) {
        case ZipFromHandle: {
            HANDLE given = const_cast<HANDLE>(from);
            if (GetFileType(given) != FILE_TYPE_DISK) return ZR_SEEK;
            HANDLE dup = nullptr;
            if (!DuplicateHandle(GetCurrentProcess(), given, GetCurrentProcess(), &dup, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS))
                return ZR_NODUPH;
            file->Reset(dup);
            src->file = dup;
            LARGE_INTEGER zero, here;
            zero.QuadPart = 0;
            if (!SetFilePointerEx(dup, zero, &here, FILE_CURRENT) || here.QuadPart < 0)
                return ZR_SEEK;
            src->base = static_cast<uint64_t>(here.QuadPart);
            src->seekable = true;
            return ZR_OK;
        }
        case ZipFromFile: {
            const wchar_t* name = static_cast<const wchar_t*>(from);
            file->Reset(CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file->valid()) return ZR_NOFILE;
            src->file = file->get();
            src->base = 0;
            src->seekable = GetFileType(file->get()) == FILE_TYPE_DISK;
            return ZR_OK;
        }
        case ZipFromMemory:
            src->data = static_cast<const uint8_t*>(from);
            src->size = length;
            src->seekable = true;
            return ZR_OK;
        default:
            return ZR_ARGS;
    }
}
