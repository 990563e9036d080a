// The process-wide HTTP client over libcurl.
//
// A caller fills a CCurlHttpRequest and hands it to CCurlHttpClient::AddRequest, which
// takes it. A transfer thread drives up to ten transfers at once; finished transfers
// wait in a queue until some thread calls DispatchResponses, which calls each request's
// callback on that thread. Afterwards the body of a successful response whose request
// has saveToFile is written by the save thread to filePath, its first min(length, 256)
// bytes scrambled with ScrambleWords. Request and response are destroyed by the client.
// A GET fails when it stalls: less than a byte a second for the stall time (40 s unless
// set; libcurl's low-speed limit, measured over its last few seconds); it has no limit on
// its whole duration.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

class CCurlHttpRequest;
class CCurlHttpResponse;
class CCurlHttpClient;

// Called with the user pointer of the request and its response. Neither may be kept.
typedef void (*HttpResponseCallback)(void* user, CCurlHttpResponse* response);

// Told that a response waits for DispatchResponses, on the thread that queued it: it may
// only wake the thread that dispatches (post a message, signal an event).
typedef void (*HttpResponseListener)(void* user);

// The libcurl progress function (curl_progress_callback); used by POST only.
typedef int (*HttpProgressCallback)(void* clientp, double dltotal, double dlnow, double ultotal,
                                    double ulnow);

enum HttpMethod : int32_t { kHttpGet = 0, kHttpPost = 1, kHttpMethodUnset = 2 };

class CCurlHttpRequest {
public:
    CCurlHttpRequest() = default;
    virtual ~CCurlHttpRequest() {}
    CCurlHttpRequest(const CCurlHttpRequest&) = delete;
    CCurlHttpRequest& operator=(const CCurlHttpRequest&) = delete;

    void SetUrl(const char* url) { this->url = url ? url : ""; }
    void SetMethod(int32_t method) { this->method = method; }
    void SetDeliverOnTransferThread(bool deliver) { deliverOnTransferThread = deliver; }
    void SetSaveToFile(bool save) { saveToFile = save; }
    void SetCallback(HttpResponseCallback callback, void* user) {
        this->callback = callback;
        this->user = user;
    }
    void SetContext(const char* label, int32_t tag, uint32_t param1, uint32_t param2, uint32_t param3) {
        this->label = label ? label : "";
        this->tag = tag;
        this->param1 = param1;
        this->param2 = param2;
        this->param3 = param3;
    }

    const char* GetUrl() const { return url.c_str(); }
    const char* GetLabel() const { return label.c_str(); }
    int32_t GetTag() const { return tag; }
    uint32_t GetParam1() const { return param1; }
    uint32_t GetParam2() const { return param2; }
    uint32_t GetParam3() const { return param3; }

    // When set, the callback runs on the transfer thread as soon as the transfer ends,
    // and nothing is saved.
    bool deliverOnTransferThread = false;
    // After delivery, a successful body is written to filePath by the save thread.
    bool saveToFile = true;
    // A body longer than this fails the transfer.
    size_t maxBodyBytes = kDefaultMaxBodyBytes;
    static const size_t kDefaultMaxBodyBytes = 256u * 1024u * 1024u;
    // When set and the transfer fails after part of a 200 answer (or of a 206 continuing
    // one) arrived, the client keeps those bytes instead of delivering them, and the next
    // resumable GET of the same address asks only for the rest ("Range: bytes=N-"). Its
    // answer is the whole body: a 206 whose Content-Range starts at N is appended, a 200
    // starts over, a 206 starting elsewhere fails. The client keeps one such body at a time.
    bool resumable = false;
    // kHttpGet or kHttpPost; any other value fails without touching the network.
    int32_t method = kHttpMethodUnset;
    std::string url;
    std::vector<uint8_t> postBody;
    void* user = nullptr;
    HttpResponseCallback callback = nullptr;
    HttpProgressCallback progressCallback = nullptr;
    // Complete header lines ("Name: value").
    std::vector<std::string> headerLines;
    std::wstring filePath;
    // Context of the caller, never interpreted by the client.
    int32_t tag = 0;
    std::string label;
    uint32_t param1 = 0;
    uint32_t param2 = 0;
    uint32_t param3 = 0;
};

class CCurlHttpResponse {
public:
    // Takes the request: both are destroyed together.
    explicit CCurlHttpResponse(CCurlHttpRequest* request) : request_(request) {}
    virtual ~CCurlHttpResponse() { delete request_; }
    CCurlHttpResponse(const CCurlHttpResponse&) = delete;
    CCurlHttpResponse& operator=(const CCurlHttpResponse&) = delete;

    CCurlHttpRequest* GetRequest() const { return request_; }
    // True only when the transfer ended without error and the HTTP status was 200.
    bool GetSuccess() const { return success_; }
    // The bytes received, in arrival order (also those of a failed transfer, unless the
    // client kept them to resume).
    const uint8_t* GetBody() const { return body_.data(); }
    size_t GetBodyLength() const { return body_.size(); }
    // The HTTP status, 0 when no answer arrived.
    int32_t GetStatus() const { return status_; }
    // Empty on success.
    const char* GetErrorText() const { return errorText_; }

private:
    friend class CCurlHttpClient;
    // libcurl's error buffer size: its messages fit whole.
    enum { kErrorTextSize = 256 };

    CCurlHttpRequest* request_;
    bool success_ = false;
    std::vector<uint8_t> body_;
    int32_t status_ = 0;
    // Written on the transfer thread, where nothing may throw: a buffer of its own.
    char errorText_[kErrorTextSize] = {};
    // The next response of the queue it waits in for DispatchResponses.
    CCurlHttpResponse* nextFinished_ = nullptr;
};

class CCurlHttpClient {
public:
    enum { kHandleCount = 10, kConnectTimeoutSeconds = 20, kTotalTimeoutSeconds = 30, kStallSeconds = 40 };
    enum { kListenerCount = 4 };

    // The client, created on first call; null when libcurl or the memory for the client
    // could not be had.
    static CCurlHttpClient* GetInstance();

    // Starts the transfer and the save thread and waits up to 5000 ms for each to run.
    // False, doing nothing, when the workers were started before.
    bool StartWorkers();

    // Takes the request and queues it: 0. Once Shutdown has begun: 1, and the request
    // stays the caller's; -1 for a null request or one that could not be queued (it
    // stays the caller's).
    int32_t AddRequest(CCurlHttpRequest* request);

    // A GET started from now on fails when no byte arrives for this many seconds.
    void SetStallSeconds(int32_t seconds) { InterlockedExchange(&stallSeconds_, seconds); }

    // listener(user) is called each time any client of the process queues a response for
    // DispatchResponses or has saved and freed bodies, until it is removed; once
    // RemoveResponseListener has returned it runs no more. False when kListenerCount
    // listeners are in place already.
    static bool AddResponseListener(HttpResponseListener listener, void* user);
    static void RemoveResponseListener(HttpResponseListener listener, void* user);

    // Delivers every finished response to its callback on the calling thread, then hands
    // successful bodies that are to be saved to the save thread and destroys the rest.
    void DispatchResponses();

    // Stops the workers, frees libcurl and destroys the client. Nothing happens when no
    // client exists. Called once at application exit.
    static void Shutdown();

    virtual ~CCurlHttpClient();

private:
    struct Transfer;
    struct Internals;

    CCurlHttpClient();
    CCurlHttpClient(const CCurlHttpClient&) = delete;
    CCurlHttpClient& operator=(const CCurlHttpClient&) = delete;

    bool Prepare();
    bool ApplyCommonOptions(void* handle, char* errorBuffer);
    bool PrepareGet(Transfer* transfer);
    bool PreparePost(Transfer* transfer);
    bool ResetHandle(void* handle);
    // The libcurl write function: appends to the response's body (userdata: the
    // transfer) within its request's maxBodyBytes.
    static size_t AppendBody(char* data, size_t size, size_t count, void* transfer);
    // Once an answer has begun: whether the bytes kept from an earlier attempt stay in
    // front of it (a matching 206) or go (anything else); false for a 206 that starts
    // elsewhere.
    static bool StartBody(Transfer* transfer);
    // Hands a resumable request the bytes kept for its address, and forgets any others.
    void ResumeKeptBody(CCurlHttpResponse* response, Transfer* transfer);
    // Takes the body of a failed resumable transfer for the next request of its address.
    void KeepForResume(CCurlHttpResponse* response);
    void AdmitRequests();
    // Moves the running transfers on and finishes those that ended.
    void PerformTransfers();
    void FinishTransfer(void* handle, int result);
    void QueueFinished(CCurlHttpResponse* response);
    // Calls the request's callback; what it throws is logged and goes no further.
    static void Deliver(CCurlHttpResponse* response);
    static void SetErrorText(CCurlHttpResponse* response, const char* text);
    void SaveResponse(CCurlHttpResponse* response);
    bool Stopping();
    // True when both workers have ended (or never ran).
    bool StopWorkers();

    static DWORD WINAPI TransferThread(void* self);
    static DWORD WINAPI SaveThread(void* self);
    void RunTransfers();
    void RunSaves();

    int32_t connectTimeout_ = kConnectTimeoutSeconds;
    int32_t totalTimeout_ = kTotalTimeoutSeconds;
    volatile LONG stallSeconds_ = kStallSeconds;
    Internals* in_;
};
