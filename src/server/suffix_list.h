// The process-wide list of file suffixes whose cached copies are checked by CRC-32
// (the others by size). Set once at start-up, before the server threads run.
#pragma once

// Replaces the list with a copy of `list` (comma-separated, e.g. "cbp,swf,zip").
void FileSrvSetSuffixes(const wchar_t* list);
// Frees the list; afterwards no suffix is listed.
void FileSrvClearSuffixes();
// True when `extension` (without the dot, non-empty) occurs anywhere in the list;
// letter case counts.
bool IsListedSuffix(const wchar_t* extension);
