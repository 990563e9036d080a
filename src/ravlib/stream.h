// File streams of the support library: an abstract stream with 64-bit sizes and
// positions, one over a Win32 file handle that it does not own, and one that opens a
// file by path and owns its handle. Failures are return values (-1, false); an open
// failure shows only as an invalid handle (IsOpen() false), and every operation on
// such a stream fails.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/handles.h"

namespace ravlib {
namespace stream {

// Open-mode word of CFileStream (bit flags).
enum StreamMode : uint32_t {
    StreamRead = 0x0001,         // access GENERIC_READ
    StreamWrite = 0x0002,        // access GENERIC_WRITE
    StreamShareRead = 0x0100,    // share FILE_SHARE_READ, and access GENERIC_READ
    StreamShareWrite = 0x0200,   // share FILE_SHARE_WRITE, and access GENERIC_WRITE
    StreamShareDelete = 0x0400,  // share FILE_SHARE_DELETE
    // Read and write access, no sharing, create or truncate; all other flags ignored.
    StreamCreate = 0x1000,
};

// The two modes the system uses.
// Create or truncate, read and write, nobody else may open the file meanwhile.
const uint32_t kStreamModeCreate = StreamCreate | StreamWrite;  // 4098
// An existing file for reading and writing; others may only read it meanwhile (so a
// file that someone else holds open for writing cannot be opened, nor can a file that
// is read-only).
const uint32_t kStreamModeOpen = StreamRead | StreamWrite | StreamShareRead;  // 259

enum SeekOrigin { SeekBegin = 0, SeekCurrent = 1, SeekEnd = 2 };

class CBaseStream {
public:
    CBaseStream() = default;
    CBaseStream(const CBaseStream&) = delete;
    CBaseStream& operator=(const CBaseStream&) = delete;

    virtual ~CBaseStream() {}
    // The size, leaving the position where it was; -1 on failure.
    virtual int64_t GetSize();
    // Cuts or extends the stream to size and leaves the position there. The base
    // stream cannot: false.
    virtual bool SetSize(int64_t size);
    // Moves the position; returns the new position, or -1.
    virtual int64_t Seek(int64_t offset, int origin) = 0;
    // Returns the bytes transferred (fewer at the end of the stream), or -1 on failure
    // or a negative count. At most 2^32 - 1 bytes move per call.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Copies count bytes from the source's current position; count 0 copies the whole
    // source from its beginning. The source's position is restored afterwards.
    // Returns the bytes written to this stream; a negative count is returned as it is.
    // Stops early at the end of the source or when a write falls short.
    virtual int64_t CopyFrom(CBaseStream* source, int64_t count);
};

class CHandleStream : public CBaseStream {
public:
    explicit CHandleStream(HANDLE handle) : handle_(handle) {}
    ~CHandleStream() override {}

    bool SetSize(int64_t size) override;
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;

    HANDLE Handle() const { return handle_; }
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

protected:
    HANDLE handle_;
};

class CFileStream : public CHandleStream {
public:
    // Copies path and opens it with mode (see StreamMode).
    CFileStream(const wchar_t* path, uint32_t mode);
    ~CFileStream() override;

    const wchar_t* Path() const { return path_; }

private:
    wchar_t* path_;
    CHandle file_;
};

}  // namespace stream
}  // namespace ravlib
