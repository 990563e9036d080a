// The text rules by which the local server decides what a connection may ask of it: the
// directory and the resource address of a SetAddresses, the names of a GetFile, and the
// host list of the configuration. Plain byte-level code over UTF-8, without the Windows
// headers; what depends on the file system (letter case) comes from the caller.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Whether two UTF-8 names are the same name for the file system.
typedef bool (*SameNameFunction)(const char* a, size_t aLength, const char* b, size_t bLength);

enum DirectoryVerdict {
    kDirectoryAccepted,
    kDirectoryNotAbsolute,  // empty, relative, "C:x" (drive-relative), "\x" (rooted)
    kDirectoryNotLocal,     // "\\server\share", "\\?\...", "\\.\..." (any mix of separators)
    kDirectoryBadCharacter, // a control character, ":" after the drive, or one of < > " | ? *
    kDirectoryBadComponent, // a component ending in a dot or a blank (Windows trims them)
    kDirectoryAboveRoot,    // more ".." components than there are components before
    kDirectoryTooLong,      // the normalised form does not fit
};

// Normalises text, an absolute directory "X:\..." with "\" or "/" separators, into
// out[capacity]: the drive, then each component followed by "\" ("C:\a\b\"); empty and
// "." components are dropped and ".." takes away the component before it. Anything that
// is not plainly a directory on a local drive is refused; out is then empty.
DirectoryVerdict NormaliseDirectory(const char* text, char* out, size_t capacity);

// Whether path is the directory base or lies beneath it, both as NormaliseDirectory
// writes them, comparing whole components with same. *below then is the offset in path
// of what lies beneath base ("" when path is base).
bool IsWithinDirectory(const char* base, const char* path, SameNameFunction same, size_t* below);

// Whether a file name (no separators) opens a DOS device instead of a file: CON, PRN,
// AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9, COM and LPT with a superscript 1, 2 or
// 3, in any letter case, alone or before an extension, also with dots or blanks behind.
bool IsDosDeviceName(const char* name, size_t length);

// Whether every component of path[0 .. length) (split at separator) is a plain name that
// Windows opens as it is written: not empty, no control character and no ":", not
// ending in a dot or a blank (so neither "." nor ".."), no DOS device name, and not the
// shape of a short name ("~" followed by a digit), which may stand for another file.
bool ArePlainComponents(const char* path, size_t length, char separator);

// Whether name (a GetFile name, "/" separators) stays a plain file inside the directory
// it is joined to: not empty, no leading "/", no "\", and plain components.
bool IsCacheSafeName(const char* name);

enum { kHostBytes = 254 };  // a DNS name of at most 253 characters and its terminator

// A host and port allowed or asked for. port 0 (in an allowed entry) stands for the
// default port of the scheme the address uses.
struct HostAddress {
    char host[kHostBytes];
    uint32_t port;
};

// An http or https address "scheme://host[:port][/...]": its host and port (the scheme's
// default when none is written) into *address and the scheme's default port into
// *defaultPort. False for anything else or anything a reader might take otherwise: other
// schemes, user information ("@"), backslashes, blanks or control characters, "#", an
// empty host or one with characters outside letters, digits, ".", "-" and "_" (so no
// "[...]" and no escapes), an empty, zero or too large port.
bool ParseResourceAddress(const char* text, HostAddress* address, uint32_t* defaultPort);

// One entry of a host list, "host" (port 0) or "host:port", with the host rules of
// ParseResourceAddress.
bool ParseHostEntry(const char* text, size_t length, HostAddress* entry);

// The entries of list (comma-separated, blanks around an entry ignored, empty entries
// skipped) into entries[capacity]; returns how many were stored. *refused counts the
// entries that do not parse or find no room.
size_t ParseHostList(const char* list, HostAddress* entries, size_t capacity, size_t* refused);

// Whether the address (from ParseResourceAddress) is one that entry allows: the same
// host in any letter case, and entry's port or, for port 0, the scheme's default.
bool IsAllowedHost(const HostAddress& entry, const HostAddress& address, uint32_t defaultPort);
