// The GET the application sends for each download kind (see DownloadKind).
#pragma once

#include <stdint.h>

#include "app/launcher_host.h"
#include "update/http_client.h"

// The longest body of a kind (kMax...Bytes); the client's default for an unknown kind.
size_t MaxDownloadBytes(uint32_t kind);

// A GET of `address` tagged with its kind and capped at its kind's length, delivered on
// the dispatching thread and not saved by the client. A game frame is resumable: a retry
// continues where a failed transfer stopped. The caller sets the callback and hands the
// request to the client.
CCurlHttpRequest* NewDownloadRequest(uint32_t kind, const char* address);
