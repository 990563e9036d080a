// The process-wide resource dictionary: resource name (bytes as the Flash client sends
// them, "/" separators) -> check value of the file the content server holds for it.
//
// The dictionary file is a sequence of records up to its end, with no header:
//
//   name length N (1 byte, 0..127) | N name bytes | check value (32-bit LE)
//
// The first record of a name wins; a load adds to what is already there. A last record
// that the end of the file cuts short is ignored. A load that runs out of memory adds
// nothing: the dictionary stays as it was.
//
// Portable byte-level code: no Windows headers; dictionary_file.h reads the file.
//
// Loading runs on the main thread before the game connects; lookups run on the
// server's data thread afterwards, so the two never overlap.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum { kDictionaryMaxName = 127 };

// Where and why a read of records ended.
enum DictionaryReadReason {
    kDictionaryReadComplete,    // every byte was read
    kDictionaryBadNameLength,   // a length byte of 0x80 or more
    kDictionaryRecordCutShort,  // the last record goes beyond the end
    kDictionaryOutOfMemory,     // no memory for the record there: nothing was added
};
struct DictionaryReadEnd {
    DictionaryReadReason reason;
    size_t offset;  // of the record the read ended at; the length when complete
};

// Adds the records of data[0 .. length) (see above). Returns the number of complete
// records read (duplicates included), 0 when memory ran out; *end (optional) tells where
// the read ended.
size_t FileDictionaryAddRecords(const uint8_t* data, size_t length, DictionaryReadEnd* end = nullptr);

// The check value listed for name (a terminated byte string), or 0 when it is absent.
uint32_t FileDictionaryLookup(const char* name);
// Whether name is listed.
bool FileDictionaryContains(const char* name);
size_t FileDictionarySize();
// Frees the dictionary; it is created again on the next use.
void FileDictionaryClear();
