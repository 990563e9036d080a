#include "ravlib/stream.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace ravlib {
namespace stream {

namespace {

const int64_t kMaxTransfer = 0xFFFFFFFF;
const int kCopyBufferBytes = 8192;

wchar_t* CopyPath(const wchar_t* path) {
    if (!path) return nullptr;
    size_t bytes = (wcslen(path) + 1) * sizeof(wchar_t);
    wchar_t* copy = static_cast<wchar_t*>(malloc(bytes));
    if (copy) memcpy(copy, path, bytes);
    return copy;
}

HANDLE OpenFile(const wchar_t* path, uint32_t mode) {
    if (!path) return INVALID_HANDLE_VALUE;
    DWORD access = 0, share = 0, disposition = OPEN_EXISTING;
    if (mode & StreamCreate) {
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
    } else {
        if (mode & (StreamRead | StreamShareRead)) access |= GENERIC_READ;
        if (mode & (StreamWrite | StreamShareWrite)) access |= GENERIC_WRITE;
        if (mode & StreamShareRead) share |= FILE_SHARE_READ;
        if (mode & StreamShareWrite) share |= FILE_SHARE_WRITE;
        if (mode & StreamShareDelete) share |= FILE_SHARE_DELETE;
    }
    return CreateFileW(path, access, share, nullptr, disposition, 0, nullptr);
}

}  // namespace

int64_t CBaseStream::GetSize() {
    int64_t position = Seek(0, SeekCurrent);
    if (position < 0) return -1;
    int64_t size = Seek(0, SeekEnd);
    Seek(position, SeekBegin);
    return size;
}

bool CBaseStream::SetSize(int64_t) { return false; }

int64_t CBaseStream::CopyFrom(CBaseStream* source, int64_t count) {
    if (!source) return -1;
    const int64_t start = source->Seek(0, SeekCurrent);
    if (count == 0) {
        source->Seek(0, SeekBegin);
        count = source->GetSize();
    }
    if (count <= 0) return count;
    unsigned char buffer[kCopyBufferBytes];
    int64_t copied = 0;
    while (copied < count) {
        int64_t want = count - copied;
        if (want > kCopyBufferBytes) want = kCopyBufferBytes;
        int64_t got = source->Read(buffer, want);
        if (got <= 0) break;
        int64_t put = Write(buffer, got);
        if (put > 0) copied += put;
        if (put != got) break;  // this stream is full or failing: report what arrived
    }
    source->Seek(start, SeekBegin);
    return copied;
}

bool CHandleStream::SetSize(int64_t size) {
    if (size < 0 || Seek(size, SeekBegin) != size) return false;
    return SetEndOfFile(handle_) != FALSE;
}

int64_t CHandleStream::Seek(int64_t offset, int origin) {
    if (!IsOpen()) return -1;
    DWORD method;
    switch (origin) {
        case SeekBegin: method = FILE_BEGIN; break;
        case SeekCurrent: method = FILE_CURRENT; break;
        case SeekEnd: method = FILE_END; break;
        default: return -1;
    }
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(handle_, distance, &position, method)) return -1;
    return position.QuadPart;
}

int64_t CHandleStream::Read(void* buffer, int64_t count) {
    if (!IsOpen() || count < 0 || (count > 0 && !buffer)) return -1;
    DWORD done = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(count > kMaxTransfer ? kMaxTransfer : count),
                  &done, nullptr))
        return -1;
    return done;
}

int64_t CHandleStream::Write(const void* buffer, int64_t count) {
    if (!IsOpen() || count < 0 || (count > 0 && !buffer)) return -1;
    DWORD done = 0;
    if (!WriteFile(handle_, buffer,
                   static_cast<DWORD>(count > kMaxTransfer ? kMaxTransfer : count), &done, nullptr))
        return -1;
    return done;
}

CFileStream::CFileStream(const wchar_t* path, uint32_t mode)
    : CHandleStream(INVALID_HANDLE_VALUE), path_(CopyPath(path)), file_(OpenFile(path_, mode)) {
    handle_ = file_.get();
}

CFileStream::~CFileStream() { free(path_); }

}  // namespace stream
}  // namespace ravlib
