// Stateless path helpers; safe on any thread.
#pragma once

#include <windows.h>

// True when the path's attributes can be read.
bool FileExists(const wchar_t* path);

// Copies the part of `path` before its last '/' or '\' into buffer (at most
// capacity - 1 characters, terminated) and returns its length. Returns 0 and writes
// nothing when there is no separator after the first character.
int DirectoryOfPath(const wchar_t* path, wchar_t* buffer, int capacity);

// Creates every missing directory along the path (separators '/' or '\', runs count
// as one). A leading "\\server\share\" or "\" stays the path's root. Fails when a
// component is an existing file or cannot be created.
bool CreateDirectoryPath(const wchar_t* path);
