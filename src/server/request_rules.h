// The text rules by which the local server decides what a connection may ask of it.
// Plain byte-level code over UTF-8, without the Windows headers.
#pragma once

// Whether name (a GetFile name, "/" separators) stays inside the cache directory when
// joined to it: not empty, no "\", no ":" (drives, streams), no leading "/" and no ".."
// component (nor one of dots and spaces that Windows would trim to "..").
bool IsCacheSafeName(const char* name);
