#include "update/download_request.h"

size_t MaxDownloadBytes(uint32_t kind) {
    switch (kind) {
    case kDownloadGamePage:
        return kMaxGamePageBytes;
    case kDownloadHashKey:
        return kMaxHashKeyBytes;
    case kDownloadDictionaryArchive:
        return kMaxDictionaryArchiveBytes;
    case kDownloadGameFrame:
        return kMaxGameFrameBytes;
    case kDownloadAsynNotice:
        return kMaxAsynNoticeBytes;
    case kDownloadVersionFile:
        return kMaxVersionFileBytes;
    case kDownloadNewLauncher:
        return kMaxNewLauncherBytes;
    case kDownloadUpdateSignature:
        return kMaxUpdateSignatureBytes;
    }
    return CCurlHttpRequest::kDefaultMaxBodyBytes;
}

CCurlHttpRequest* NewDownloadRequest(uint32_t kind, const char* address) {
    auto* request = new CCurlHttpRequest;
    request->SetUrl(address);
    request->SetMethod(kHttpGet);
    request->SetDeliverOnTransferThread(false);
    request->SetSaveToFile(false);
    request->SetContext("", static_cast<int32_t>(kind), 0, 0, 0);
    request->maxBodyBytes = MaxDownloadBytes(kind);
    request->resumable = kind == kDownloadGameFrame;
    return request;
}
