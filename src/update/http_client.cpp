#include "update/http_client.h"

#include <curl/curl.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <new>

#include "framework/handles.h"
#include "framework/paths.h"
#include "ravlib/lock.h"
#include "ravlib/log.h"
#include "ravlib/stream.h"
#include "ravlib/tick.h"
#include "server/scramble.h"

using ravlib::sync::lock::CAutoLock;
using ravlib::sync::lock::CCSLock;

namespace {

const long kDnsCacheSeconds = 259200;
const long kMaxRedirects = 20;
const DWORD kWorkerWaitMs = 5000;
// The longest wait of the transfer thread: a new request or the stop wakes it at once,
// and libcurl shortens the wait to its own next timeout.
const int kPollWaitMs = 1000;
const size_t kScrambledPrefix = 256;

CCSLock& InstanceLock() {
    static CCSLock lock;
    return lock;
}

CCurlHttpClient* g_instance = nullptr;

// The listeners outlive any one client, so that a window or a server can stop listening
// whether or not the client it listened to still exists.
struct ResponseListener {
    HttpResponseListener notify;
    void* user;
};

CCSLock& ListenersLock() {
    static CCSLock lock;
    return lock;
}

ResponseListener g_listeners[CCurlHttpClient::kListenerCount] = {};

// Called after a response was queued or saved bodies were freed; the listeners run under
// the lock, so that one being removed is not running afterwards.
void TellListeners() {
    CAutoLock guard(&ListenersLock());
    for (const ResponseListener& listener : g_listeners)
        if (listener.notify) listener.notify(listener.user);
}

bool Interlocked(volatile LONG* flag) { return InterlockedCompareExchange(flag, 0, 0) != 0; }

}  // namespace

// Whether a Content-Range value ("bytes N-M/T") starts at offset.
static bool RangeStartsAt(const char* value, uint64_t offset) {
    if (_strnicmp(value, "bytes ", 6) != 0) return false;
    value += 6;
    while (*value == ' ') ++value;
    uint64_t start = 0;
    const char* digits = value;
    for (; *value >= '0' && *value <= '9'; ++value) {
        if (start > (UINT64_MAX - 9) / 10) return false;
        start = start * 10 + static_cast<uint64_t>(*value - '0');
    }
    return value != digits && *value == '-' && start == offset;
}

// One easy handle of the pool with its own error buffer, and while it transfers, the
// header list built for it and the response being filled.
struct CCurlHttpClient::Transfer {
    CURL* handle = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    CCurlHttpResponse* response = nullptr;
    // The bytes of an earlier attempt in front of the body, and what the answer made of them.
    size_t resumeFrom = 0;
    bool bodyStarted = false;
    bool continued = false;
    // The write function turned the body down: too long, no memory or the wrong range.
    bool refused = false;

    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    ~Transfer() {
        if (handle) curl_easy_cleanup(handle);
        FreeHeaders();
        delete response;
    }
    void FreeHeaders() {
        curl_slist_free_all(headers);
        headers = nullptr;
    }
};

size_t CCurlHttpClient::AppendBody(char* data, size_t size, size_t count, void* userdata) {
    Transfer* transfer = static_cast<Transfer*>(userdata);
    std::vector<uint8_t>& body = transfer->response->body_;
    const size_t cap = transfer->response->request_->maxBodyBytes;
    size_t length = 0;
    bool taken = (transfer->bodyStarted || StartBody(transfer)) && (count == 0 || size <= SIZE_MAX / count);
    if (taken) {
        length = size * count;
        taken = body.size() <= cap && length <= cap - body.size();
    }
    if (taken) {
        try {
            body.insert(body.end(), reinterpret_cast<uint8_t*>(data), reinterpret_cast<uint8_t*>(data) + length);
        } catch (...) {
            taken = false;
        }
    }
    if (!taken) {
        transfer->refused = true;
        return 0;
    }
    return length;
}

bool CCurlHttpClient::StartBody(Transfer* transfer) {
    transfer->bodyStarted = true;
    if (transfer->resumeFrom == 0) return true;
    long code = 0;
    curl_easy_getinfo(transfer->handle, CURLINFO_RESPONSE_CODE, &code);
    curl_header* range = nullptr;
    if (code == 206 &&
        curl_easy_header(transfer->handle, "Content-Range", 0, CURLH_HEADER, -1, &range) == CURLHE_OK &&
        RangeStartsAt(range->value, transfer->resumeFrom)) {
        transfer->continued = true;
        return true;
    }
    transfer->response->body_.clear();
    return code != 206;
}

struct CCurlHttpClient::Internals {
    bool globalInit = false;
    CURLSH* share = nullptr;
    CURLM* multi = nullptr;
    std::vector<std::unique_ptr<Transfer>> transfers;
    // Touched by the transfer thread only.
    std::vector<Transfer*> idle;
    std::vector<Transfer*> running;

    CCSLock pendingLock;
    std::deque<CCurlHttpRequest*> pending;
    // Set while the first pending request waits for the memory of its response; touched
    // by the transfer thread only.
    bool admissionWaits = false;
    // The responses waiting for DispatchResponses, oldest first, linked through
    // nextFinished_ so that queueing one never allocates.
    CCSLock finishedLock;
    CCurlHttpResponse* finishedHead = nullptr;
    CCurlHttpResponse* finishedTail = nullptr;
    CCSLock saveLock;
    std::vector<CCurlHttpResponse*> saveQueue;
    // What a failed resumable transfer kept for the next request of its address; touched
    // by the transfer thread only.
    std::string keptUrl;
    std::vector<uint8_t> keptBody;

    volatile LONG stop = 0;
    volatile LONG transferRunning = 0;
    volatile LONG saveRunning = 0;
    CHandle transferStarted;
    CHandle saveStarted;
    // Set when responses are queued for saving, and to stop.
    CHandle saveWake;
    CHandle transferThread;
    CHandle saveThread;

    Internals() = default;
    Internals(const Internals&) = delete;
    Internals& operator=(const Internals&) = delete;

    ~Internals() {
        for (Transfer* transfer : running)
            if (multi) curl_multi_remove_handle(multi, transfer->handle);
        transfers.clear();
        if (multi) curl_multi_cleanup(multi);
        if (share) curl_share_cleanup(share);
        for (CCurlHttpRequest* request : pending) delete request;
        while (CCurlHttpResponse* response = finishedHead) {
            finishedHead = response->nextFinished_;
            delete response;
        }
        for (CCurlHttpResponse* response : saveQueue) delete response;
        if (globalInit) curl_global_cleanup();
    }
};

CCurlHttpClient::CCurlHttpClient() : in_(new Internals) {}

CCurlHttpClient::~CCurlHttpClient() { delete in_; }

CCurlHttpClient* CCurlHttpClient::GetInstance() {
    CAutoLock guard(&InstanceLock());
    if (g_instance) return g_instance;
    try {
        std::unique_ptr<CCurlHttpClient> client(new CCurlHttpClient);
        if (client->Prepare()) g_instance = client.release();
    } catch (const std::bad_alloc&) {
        ravlib::LogMessage(ravlib::kLogError, L"no memory for the http client");
    }
    return g_instance;
}

bool CCurlHttpClient::Prepare() {
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) return false;
    in_->globalInit = true;
    in_->share = curl_share_init();
    if (!in_->share || curl_share_setopt(in_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK)
        return false;
    in_->multi = curl_multi_init();
    if (!in_->multi) return false;
    // The transfer thread moves handles between the two lists without allocating.
    in_->idle.reserve(kHandleCount);
    in_->running.reserve(kHandleCount);
    for (int i = 0; i < kHandleCount; ++i) {
        std::unique_ptr<Transfer> transfer(new Transfer);
        transfer->handle = curl_easy_init();
        if (!transfer->handle || !ApplyCommonOptions(transfer->handle, transfer->errorBuffer)) return false;
        in_->idle.push_back(transfer.get());
        in_->transfers.push_back(std::move(transfer));
    }
    return true;
}

bool CCurlHttpClient::ApplyCommonOptions(void* handle, char* errorBuffer) {
    CURL* curl = static_cast<CURL*>(handle);
    if (curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(totalTimeout_)) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_DNS_USE_GLOBAL_CACHE, 0L) != CURLE_OK)
        return false;
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_AUTOREFERER, 1L);
    curl_easy_setopt(curl, CURLOPT_SHARE, in_->share);
    curl_easy_setopt(curl, CURLOPT_DNS_CACHE_TIMEOUT, kDnsCacheSeconds);
    // Redirects stay on the web and end: no file or other scheme, no endless loop.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    return true;
}

// Appends the line to the list; false (the list keeping what it had) when memory runs out.
static bool AppendHeaderLine(curl_slist** headers, const char* line) {
    curl_slist* grown = curl_slist_append(*headers, line);
    if (!grown) return false;
    *headers = grown;
    return true;
}

static bool AppendHeaderLines(curl_slist** headers, const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (!AppendHeaderLine(headers, line.c_str())) return false;
    return true;
}

bool CCurlHttpClient::PrepareGet(Transfer* transfer) {
    CURL* curl = transfer->handle;
    CCurlHttpRequest* request = transfer->response->request_;
    char range[48];
    snprintf(range, sizeof range, "Range: bytes=%llu-", static_cast<unsigned long long>(transfer->resumeFrom));
    if (!AppendHeaderLines(&transfer->headers, request->headerLines) ||
        !AppendHeaderLine(&transfer->headers, "Connection: keep-alive") ||
        !AppendHeaderLine(&transfer->headers, "Keep-alive: 300") ||
        (transfer->resumeFrom > 0 && !AppendHeaderLine(&transfer->headers, range)))
        return false;
    const long stallSeconds = InterlockedCompareExchange(&stallSeconds_, 0, 0);
    return curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer->headers) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_URL, request->url.c_str()) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_AUTOREFERER, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_WRITEDATA, transfer) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_TIMEOUT, 0L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeout_)) == CURLE_OK;
}

bool CCurlHttpClient::PreparePost(Transfer* transfer) {
    CURL* curl = transfer->handle;
    CCurlHttpRequest* request = transfer->response->request_;
    if (!AppendHeaderLines(&transfer->headers, request->headerLines)) return false;
    static const char kEmpty[] = "";
    const void* body = request->postBody.empty() ? kEmpty : static_cast<const void*>(request->postBody.data());
    if (curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer->headers) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_URL, request->url.c_str()) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, transfer) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(totalTimeout_)) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 0L) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_POST, 1L) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request->postBody.size())) != CURLE_OK ||
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body) != CURLE_OK)
        return false;
    if (request->progressCallback)
        return curl_easy_setopt(curl, CURLOPT_PROGRESSFUNCTION, request->progressCallback) == CURLE_OK &&
               curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    return curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L) == CURLE_OK;
}

bool CCurlHttpClient::ResetHandle(void* handle) {
    CURL* curl = static_cast<CURL*>(handle);
    // The header list of the last transfer is freed with it: no pointer to it stays.
    return curl_easy_setopt(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr)) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_PROXY, static_cast<char*>(nullptr)) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_COOKIE, static_cast<char*>(nullptr)) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_RANGE, static_cast<char*>(nullptr)) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_NOBODY, 0L) == CURLE_OK &&
           curl_easy_setopt(curl, CURLOPT_VERBOSE, 0L) == CURLE_OK;
}

bool CCurlHttpClient::StartWorkers() {
    CAutoLock guard(&InstanceLock());
    if (in_->transferStarted.valid() || in_->saveStarted.valid()) return false;
    in_->transferStarted.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    in_->saveStarted.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    in_->saveWake.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!in_->transferStarted.valid() || !in_->saveStarted.valid() || !in_->saveWake.valid()) return false;
    InterlockedExchange(&in_->stop, 0);
    in_->transferThread.Reset(CreateThread(nullptr, 0, TransferThread, this, 0, nullptr));
    in_->saveThread.Reset(CreateThread(nullptr, 0, SaveThread, this, 0, nullptr));
    if (in_->transferThread.valid()) WaitForSingleObject(in_->transferStarted.get(), kWorkerWaitMs);
    if (in_->saveThread.valid()) WaitForSingleObject(in_->saveStarted.get(), kWorkerWaitMs);
    ResetEvent(in_->transferStarted.get());
    ResetEvent(in_->saveStarted.get());
    return in_->transferThread.valid() && in_->saveThread.valid();
}

int32_t CCurlHttpClient::AddRequest(CCurlHttpRequest* request) {
    if (Stopping()) return 1;
    if (!request) return -1;
    CAutoLock guard(&in_->pendingLock);
    try {
        in_->pending.push_back(request);
    } catch (const std::bad_alloc&) {
        ravlib::LogMessage(ravlib::kLogError, L"no memory to queue the request for %hs", request->GetUrl());
        return -1;
    }
    curl_multi_wakeup(in_->multi);
    return 0;
}

bool CCurlHttpClient::AddResponseListener(HttpResponseListener listener, void* user) {
    if (!listener) return false;
    CAutoLock guard(&ListenersLock());
    for (ResponseListener& slot : g_listeners) {
        if (slot.notify) continue;
        slot = ResponseListener{listener, user};
        return true;
    }
    return false;
}

void CCurlHttpClient::RemoveResponseListener(HttpResponseListener listener, void* user) {
    CAutoLock guard(&ListenersLock());
    for (ResponseListener& slot : g_listeners)
        if (slot.notify == listener && slot.user == user) slot = ResponseListener{nullptr, nullptr};
}

bool CCurlHttpClient::Stopping() { return Interlocked(&in_->stop); }

DWORD WINAPI CCurlHttpClient::TransferThread(void* self) {
    static_cast<CCurlHttpClient*>(self)->RunTransfers();
    return 0;
}

DWORD WINAPI CCurlHttpClient::SaveThread(void* self) {
    static_cast<CCurlHttpClient*>(self)->RunSaves();
    return 0;
}

void CCurlHttpClient::RunTransfers() {
    if (InterlockedCompareExchange(&in_->transferRunning, 1, 0) != 0) return;
    SetEvent(in_->transferStarted.get());
    while (!Stopping()) {
        // Admitted requests are sent at once; the wait for their sockets comes after.
        AdmitRequests();
        PerformTransfers();
        curl_multi_poll(in_->multi, nullptr, 0, kPollWaitMs, nullptr);
    }
    InterlockedCompareExchange(&in_->transferRunning, 0, 1);
    SetEvent(in_->transferStarted.get());
}

void CCurlHttpClient::PerformTransfers() {
    int stillRunning = 0;
    curl_multi_perform(in_->multi, &stillRunning);
    int messagesLeft = 0;
    while (CURLMsg* message = curl_multi_info_read(in_->multi, &messagesLeft)) {
        if (message->msg == CURLMSG_DONE) FinishTransfer(message->easy_handle, message->data.result);
    }
}

// Nothing here may throw: an exception would end the transfer thread and the process.
void CCurlHttpClient::AdmitRequests() {
    while (!in_->idle.empty()) {
        CCurlHttpRequest* request;
        {
            CAutoLock guard(&in_->pendingLock);
            if (in_->pending.empty()) return;
            request = in_->pending.front();
        }
        // Without the memory for its answer the request stays first in the queue and is
        // tried again on the next pass.
        CCurlHttpResponse* response = new (std::nothrow) CCurlHttpResponse(request);
        if (!response) {
            if (!in_->admissionWaits)
                ravlib::LogMessage(ravlib::kLogError, L"no memory to start %hs: it waits", request->GetUrl());
            in_->admissionWaits = true;
            return;
        }
        in_->admissionWaits = false;
        {
            // Only this thread takes requests out: the first one is still this one.
            CAutoLock guard(&in_->pendingLock);
            in_->pending.pop_front();
        }
        Transfer* transfer = in_->idle.back();
        in_->idle.pop_back();
        transfer->errorBuffer[0] = '\0';
        transfer->response = response;
        transfer->resumeFrom = 0;
        transfer->bodyStarted = false;
        transfer->continued = false;
        transfer->refused = false;
        bool prepared = false;
        if (request->method == kHttpGet) {
            ResumeKeptBody(transfer->response, transfer);
            prepared = PrepareGet(transfer);
        } else if (request->method == kHttpPost) {
            prepared = PreparePost(transfer);
        } else {
            strcpy(transfer->errorBuffer, "request method not set");
        }
        if (prepared && curl_multi_add_handle(in_->multi, transfer->handle) == CURLM_OK) {
            in_->running.push_back(transfer);
            continue;
        }
        transfer->FreeHeaders();
        ravlib::LogMessage(ravlib::kLogError, L"fail %hs", request->GetUrl());
        transfer->response = nullptr;
        response->success_ = false;
        SetErrorText(response, transfer->errorBuffer[0] ? transfer->errorBuffer : "request not prepared");
        ResetHandle(transfer->handle);
        in_->idle.push_back(transfer);
        QueueFinished(response);
    }
}

void CCurlHttpClient::ResumeKeptBody(CCurlHttpResponse* response, Transfer* transfer) {
    if (!response->request_->resumable) return;
    if (!in_->keptBody.empty() && in_->keptUrl == response->request_->url) {
        response->body_.swap(in_->keptBody);
        transfer->resumeFrom = response->body_.size();
    }
    std::vector<uint8_t>().swap(in_->keptBody);
    in_->keptUrl.clear();
}

void CCurlHttpClient::KeepForResume(CCurlHttpResponse* response) {
    if (response->body_.empty()) return;
    try {
        in_->keptUrl = response->request_->url;
    } catch (const std::bad_alloc&) {
        return;
    }
    in_->keptBody.swap(response->body_);
    std::vector<uint8_t>().swap(response->body_);
}

void CCurlHttpClient::FinishTransfer(void* handle, int result) {
    auto found = std::find_if(in_->running.begin(), in_->running.end(),
                              [handle](Transfer* t) { return t->handle == handle; });
    if (found == in_->running.end()) return;
    Transfer* transfer = *found;
    in_->running.erase(found);
    transfer->FreeHeaders();

    CCurlHttpResponse* response = transfer->response;
    transfer->response = nullptr;
    long code = 0;
    bool answered = curl_easy_getinfo(transfer->handle, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK;
    // An answer without a body decides about the kept bytes as well.
    if (answered && code != 0 && !transfer->bodyStarted && !StartBody(transfer)) transfer->refused = true;
    const bool whole = code == 200 || transfer->continued;
    response->status_ = static_cast<int32_t>(code);
    response->success_ = result == CURLE_OK && answered && whole && !transfer->refused;
    if (!response->success_ && response->request_->resumable && !transfer->refused && (whole || code == 0))
        KeepForResume(response);
    if (!response->success_) {
        if (transfer->errorBuffer[0])
            SetErrorText(response, transfer->errorBuffer);
        else if (result != CURLE_OK)
            SetErrorText(response, curl_easy_strerror(static_cast<CURLcode>(result)));
        else
            snprintf(response->errorText_, sizeof response->errorText_, "HTTP status %ld", code);
    }

    curl_multi_remove_handle(in_->multi, transfer->handle);
    ResetHandle(transfer->handle);
    in_->idle.push_back(transfer);
    QueueFinished(response);
}

void CCurlHttpClient::SetErrorText(CCurlHttpResponse* response, const char* text) {
    snprintf(response->errorText_, sizeof response->errorText_, "%s", text);
}

// A callback that throws (say, out of memory) loses its own answer, not the others.
void CCurlHttpClient::Deliver(CCurlHttpResponse* response) {
    CCurlHttpRequest* request = response->request_;
    if (!request->callback) return;
    try {
        request->callback(request->user, response);
    } catch (const std::exception& caught) {
        ravlib::LogMessage(ravlib::kLogError, L"answer of %hs dropped: %hs", request->GetUrl(), caught.what());
    } catch (...) {
        ravlib::LogMessage(ravlib::kLogError, L"answer of %hs dropped", request->GetUrl());
    }
}

// A response whose request asks for it is delivered here on the transfer thread and
// never saved; the others wait for DispatchResponses.
void CCurlHttpClient::QueueFinished(CCurlHttpResponse* response) {
    if (response->request_->deliverOnTransferThread) {
        Deliver(response);
        delete response;
        return;
    }
    {
        CAutoLock guard(&in_->finishedLock);
        response->nextFinished_ = nullptr;
        if (in_->finishedTail)
            in_->finishedTail->nextFinished_ = response;
        else
            in_->finishedHead = response;
        in_->finishedTail = response;
    }
    TellListeners();
}

void CCurlHttpClient::DispatchResponses() {
    if (Stopping()) return;
    uint64_t start = ravlib::GetTickMs();
    CCurlHttpResponse* delivered;
    {
        CAutoLock guard(&in_->finishedLock);
        delivered = in_->finishedHead;
        in_->finishedHead = nullptr;
        in_->finishedTail = nullptr;
    }
    if (!delivered) return;
    for (CCurlHttpResponse* response = delivered; response; response = response->nextFinished_) Deliver(response);
    bool queued = false;
    {
        CAutoLock guard(&in_->saveLock);
        while (CCurlHttpResponse* response = delivered) {
            delivered = response->nextFinished_;
            CCurlHttpRequest* request = response->request_;
            if (request->saveToFile && response->success_ && !request->filePath.empty()) {
                try {
                    in_->saveQueue.push_back(response);
                    queued = true;
                    continue;
                } catch (const std::bad_alloc&) {
                    ravlib::LogMessage(ravlib::kLogError, L"no memory to save %hs", request->GetUrl());
                }
            }
            delete response;
        }
    }
    if (queued && in_->saveWake.valid()) SetEvent(in_->saveWake.get());
    uint64_t elapsed = ravlib::GetTickMs() - start;
    if (elapsed > 1) ravlib::LogMessage(ravlib::kLogInfo, L"time response=%d", static_cast<int>(elapsed));
}

void CCurlHttpClient::RunSaves() {
    if (InterlockedCompareExchange(&in_->saveRunning, 1, 0) != 0) return;
    SetEvent(in_->saveStarted.get());
    for (;;) {
        bool stopping = Stopping();
        std::vector<CCurlHttpResponse*> work;
        {
            CAutoLock guard(&in_->saveLock);
            work.swap(in_->saveQueue);
        }
        for (CCurlHttpResponse* response : work) {
            SaveResponse(response);
            delete response;
        }
        // The saved bodies are freed: whoever waits for memory to fetch more may go on.
        if (!work.empty()) TellListeners();
        // What was queued before the stop is still written.
        if (stopping) break;
        if (work.empty()) WaitForSingleObject(in_->saveWake.get(), kWorkerWaitMs);
    }
    InterlockedCompareExchange(&in_->saveRunning, 0, 1);
    SetEvent(in_->saveStarted.get());
}

void CCurlHttpClient::SaveResponse(CCurlHttpResponse* response) {
    const wchar_t* path = response->request_->filePath.c_str();
    if (!FileExists(path)) {
        wchar_t directory[MAX_PATH + 1];
        if (DirectoryOfPath(path, directory, MAX_PATH + 1) > 0) CreateDirectoryPath(directory);
    }
    std::vector<uint8_t>& body = response->body_;
    bool written;
    {
        ravlib::stream::CFileStream file(path, ravlib::stream::kStreamModeCreate);
        if (!file.IsOpen()) {
            ravlib::LogMessage(ravlib::kLogError, L"cannot create %s", path);
            return;
        }
        file.Seek(0, ravlib::stream::SeekBegin);
        ScrambleWords(body.data(), std::min(body.size(), kScrambledPrefix));
        int64_t length = static_cast<int64_t>(body.size());
        written = body.empty() || file.Write(body.data(), length) == length;
    }
    if (!written) {
        // A cut-off copy would only be read as a damaged resource later.
        DeleteFileW(path);
        ravlib::LogMessage(ravlib::kLogError, L"cannot write %s", path);
    }
}

bool CCurlHttpClient::StopWorkers() {
    InterlockedExchange(&in_->stop, 1);
    if (in_->saveWake.valid()) SetEvent(in_->saveWake.get());
    curl_multi_wakeup(in_->multi);
    bool ended = true;
    for (HANDLE thread : {in_->saveThread.get(), in_->transferThread.get()}) {
        if (thread && WaitForSingleObject(thread, kWorkerWaitMs) != WAIT_OBJECT_0) ended = false;
    }
    return ended;
}

void CCurlHttpClient::Shutdown() {
    CCurlHttpClient* client;
    {
        CAutoLock guard(&InstanceLock());
        client = g_instance;
    }
    if (!client || InterlockedCompareExchange(&client->in_->stop, 1, 0) != 0) return;
    bool ended = client->StopWorkers();
    {
        CAutoLock guard(&InstanceLock());
        if (g_instance == client) g_instance = nullptr;
    }
    if (ended) {
        delete client;
    } else {
        // A worker still uses the handles and queues: they are left to the process's end.
        ravlib::LogMessage(ravlib::kLogError, L"http workers did not stop");
    }
}
