#include "zip/zip_archive.h"

#include <string.h>

namespace {

const uint32_t kMemoryReadChunk = 1u << 30;  // one unzReadCurrentFile call must fit in an int
const uint64_t kEncryptionHeader = 12;
const uint64_t kDeflateMaxRatio = 1032;  // 258 bytes from a length and a distance code of one bit each
const uint64_t kDeflateSlack = 64;

// minizip file functions over a ZipSource. minizip passes the source both as the
// "file name" and, through open, as the stream; the reader itself owns the source and
// closes its handle, so the close callback does nothing.

voidpf ZCALLBACK SourceOpen(voidpf opaque, const void* filename, int mode) {
    (void)opaque;
    (void)mode;
    return const_cast<void*>(filename);
}

uLong ZCALLBACK SourceRead(voidpf opaque, voidpf stream, void* buf, uLong size) {
    (void)opaque;
    ZipSource* src = static_cast<ZipSource*>(stream);
    if (size == 0) return 0;
    if (src->kind == ZipFromMemory) {
        if (src->pos >= src->size) return 0;
        uint64_t avail = src->size - src->pos;
        uLong n = avail < size ? static_cast<uLong>(avail) : size;
        memcpy(buf, src->data + src->pos, n);
        src->pos += n;
        return n;
    }
    const uLong done = src->readFile(src, static_cast<uint8_t*>(buf), size);
    src->pos += done;
    return done;
}

uLong ZCALLBACK SourceWrite(voidpf opaque, voidpf stream, const void* buf, uLong size) {
    (void)opaque;
    (void)stream;
    (void)buf;
    (void)size;
    return 0;
}

ZPOS64_T ZCALLBACK SourceTell(voidpf opaque, voidpf stream) {
    (void)opaque;
    return static_cast<ZipSource*>(stream)->pos;
}

bool SourceLength(const ZipSource* src, uint64_t* length) {
    if (src->kind == ZipFromMemory) {
        *length = src->size;
        return true;
    }
    return src->fileLength(src, length);
}

long ZCALLBACK SourceSeek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin) {
    (void)opaque;
    ZipSource* src = static_cast<ZipSource*>(stream);
    if (!src->seekable) return -1;
    // Relative seeks may go backwards: minizip passes a negative long cast to ZPOS64_T.
    int64_t delta = static_cast<int64_t>(offset);
    uint64_t from;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            src->pos = offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_CUR:
            from = src->pos;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            if (!SourceLength(src, &from)) return -1;
            break;
        default:
            return -1;
    }
    if (delta < 0) {
        uint64_t back = static_cast<uint64_t>(-(delta + 1)) + 1;
        if (back > from) return -1;
        src->pos = from - back;
    } else {
        if (static_cast<uint64_t>(delta) > UINT64_MAX - from) return -1;
        src->pos = from + static_cast<uint64_t>(delta);
    }
    return 0;
}

int ZCALLBACK SourceClose(voidpf opaque, voidpf stream) {
    (void)opaque;
    (void)stream;
    return 0;
}

int ZCALLBACK SourceError(voidpf opaque, voidpf stream) {
    (void)opaque;
    return static_cast<ZipSource*>(stream)->error;
}

}  // namespace

namespace zipcore {

uint32_t OpenArchive(ZipArchive* a) {
    zlib_filefunc64_def functions;
    functions.zopen64_file = SourceOpen;
    functions.zread_file = SourceRead;
    functions.zwrite_file = SourceWrite;
    functions.ztell64_file = SourceTell;
    functions.zseek64_file = SourceSeek;
    functions.zclose_file = SourceClose;
    functions.zerror_file = SourceError;
    functions.opaque = nullptr;
    a->archive = unzOpen2_64(&a->source, &functions);
    if (!a->archive) return ZR_CORRUPT;
    unz_global_info64 global;
    if (unzGetGlobalInfo64(a->archive, &global) != UNZ_OK) return ZR_CORRUPT;
    a->count = global.number_entry > INT32_MAX ? INT32_MAX : static_cast<int32_t>(global.number_entry);
    return ZR_OK;
}

void CloseArchive(ZipArchive* a) {
    if (!a->archive) return;
    if (a->currentItem != kZipNone) unzCloseCurrentFile(a->archive);
    unzClose(a->archive);
    a->archive = nullptr;
}

void CloseItem(ZipArchive* r) {
    if (r->currentItem == kZipNone) return;
    unzCloseCurrentFile(r->archive);
    r->currentItem = kZipNone;
}

bool MoveTo(ZipArchive* r, int32_t index) {
    if (r->position == kZipNone || index < r->position) {
        if (unzGoToFirstFile(r->archive) != UNZ_OK) {
            r->position = kZipNone;
            return false;
        }
        r->position = 0;
    }
    while (r->position < index) {
        if (unzGoToNextFile(r->archive) != UNZ_OK) {
            r->position = kZipNone;
            return false;
        }
        r->position++;
    }
    return true;
}

bool CurrentItemHeader(ZipArchive* r, unz_file_info64* fi, char* name) {
    if (unzGetCurrentFileInfo64(r->archive, fi, name, kZipNameCapacity - 1, nullptr, 0, nullptr, 0) !=
        UNZ_OK)
        return false;
    uLong end = fi->size_filename < kZipNameCapacity - 1 ? fi->size_filename : kZipNameCapacity - 1;
    name[end] = '\0';
    return true;
}

bool Supported(const unz_file_info64* fi) {
    return (fi->compression_method == 0 || fi->compression_method == Z_DEFLATED) &&
           (fi->flag & kZipFlagEncrypted) == 0;
}

bool PlausibleSizes(const ZipArchive* r, const unz_file_info64* fi) {
    if (fi->compressed_size > INT32_MAX || fi->uncompressed_size > INT32_MAX) return false;
    uint64_t archiveLength = 0;
    if (!SourceLength(&r->source, &archiveLength) || fi->compressed_size > archiveLength)
        return false;
    if (fi->compression_method == 0) {
        uint64_t header = (fi->flag & kZipFlagEncrypted) ? kEncryptionHeader : 0;
        return fi->compressed_size == fi->uncompressed_size + header;
    }
    return fi->uncompressed_size <= fi->compressed_size * kDeflateMaxRatio + kDeflateSlack;
}

uint32_t OpenItem(ZipArchive* r, int32_t index) {
    unz_file_info64 fi;
    char name[kZipNameCapacity];
    if (!MoveTo(r, index) || !CurrentItemHeader(r, &fi, name)) return ZR_CORRUPT;
    if (!Supported(&fi) || !PlausibleSizes(r, &fi)) return ZR_CORRUPT;
    if (unzOpenCurrentFile(r->archive) != UNZ_OK) return ZR_CORRUPT;
    return ZR_OK;
}

uint32_t ExtractToMemory(ZipArchive* r, int32_t index, uint8_t* buffer, uint32_t length) {
    if (!buffer && length) return ZR_ARGS;
    if (index < 0 || index >= r->count) {
        CloseItem(r);
        return ZR_ARGS;
    }
    if (index != r->currentItem) {
        CloseItem(r);
        uint32_t opened = OpenItem(r, index);
        if (opened != ZR_OK) return opened;
        r->currentItem = index;
    }

    uint32_t delivered = 0;
    bool failed = false;
    while (delivered < length) {
        uint32_t want = length - delivered;
        if (want > kMemoryReadChunk) want = kMemoryReadChunk;
        int n = unzReadCurrentFile(r->archive, buffer + delivered, want);
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0) break;
        delivered += static_cast<uint32_t>(n);
    }

    if (!failed && unzeof(r->archive) != 1) {
        if (delivered > 0) return ZR_MORE;
        if (length == 0) return ZR_ARGS;  // no room to make progress
        failed = true;                    // the data ended before the stated size
    }
    // The item is done: either all of it arrived or reading it failed. Closing checks
    // the CRC of complete data.
    int closed = unzCloseCurrentFile(r->archive);
    r->currentItem = kZipNone;
    if (failed || closed != UNZ_OK) return ZR_FLATE;
    return ZR_OK;
}

}  // namespace zipcore
