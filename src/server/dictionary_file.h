// The dictionary file read from disk into the process-wide resource dictionary
// (file_dictionary.h), with a log line where its records end early.
#pragma once

// Reads the dictionary file at path into the dictionary. False when no file exists
// there, it cannot be opened or read, or the memory for it cannot be had (logged; the
// dictionary then stays as it was).
bool FileSrvLoadDictionary(const wchar_t* path);
