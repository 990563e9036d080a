#include "update/download_request.h"

CCurlHttpRequest* NewDownloadRequest(uint32_t kind, const char* address) {
    auto* request = new CCurlHttpRequest;
    request->SetUrl(address);
    request->SetMethod(kHttpGet);
    request->SetDeliverOnTransferThread(false);
    request->SetSaveToFile(false);
    request->SetContext("", static_cast<int32_t>(kind), 0, 0, 0);
    request->resumable = kind == kDownloadGameFrame;
    return request;
}
