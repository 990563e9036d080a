// Helpers of the file service tests and benchmark: cache paths, dictionary entries and
// file contents.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace filetest {

// cacheDir + name with every "/" turned into "\".
std::wstring CachePath(const std::wstring& cacheDir, const std::string& name);
// Adds name -> value to the process-wide dictionary.
void List(const std::string& name, uint32_t value);
// size bytes of nettest::PatternByte (what the content server sends).
std::string Pattern(size_t size);
uint32_t Crc(const std::string& content);
// Writes content at path as the cache holds it: its first 256 bytes scrambled.
bool WriteCached(const std::wstring& path, std::string content);

}  // namespace filetest
