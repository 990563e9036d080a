// The HTTP client against the local HTTP test server (tests/support/http_test_server.py)
// over loopback: answers and failures, the pool of ten handles, delivery threads, the
// save thread's scrambled cache files, shut-down, damaged answers, and a transfer thread
// short of memory.
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "ravlib/log.h"
#include "server/scramble.h"
#include "support/failing_heap.h"
#include "support/test_support.h"
#include "update/download_request.h"
#include "update/http_client.h"

using testing_support::ControlGet;
using testing_support::HasHeader;
using testing_support::RangesAsked;
using testing_support::ReadFileBytes;
using testing_support::SeenRequest;
using testing_support::SeenRequests;
using testing_support::TempDir;

namespace {

int ServerPort() { return testing_support::HttpServerPort(); }

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    return bytes;
}

std::string PatternText(size_t n) {
    std::vector<uint8_t> bytes = Pattern(n);
    return std::string(bytes.begin(), bytes.end());
}

std::string Url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(ServerPort()) + path; }

int Stat(const std::string& name) {
    std::string stats = ControlGet("/__stats");
    size_t at = stats.find("\"" + name + "\": ");
    return at == std::string::npos ? -1 : atoi(stats.c_str() + at + name.size() + 4);
}

// A port on which nobody listens.
int ClosedPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    return ntohs(address.sin_port);
}

int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

struct Answer {
    int32_t tag;
    bool success;
    int32_t status;
    std::string body;
    std::string errorText;
    DWORD threadId;
    bool fileExistedAtCallback;
};

// Collects what the callbacks saw.
class Recorder {
public:
    static void Record(void* user, CCurlHttpResponse* response) {
        Recorder* self = static_cast<Recorder*>(user);
        CCurlHttpRequest* request = response->GetRequest();
        Answer answer;
        answer.tag = request->GetTag();
        answer.success = response->GetSuccess();
        answer.status = response->GetStatus();
        answer.body.assign(reinterpret_cast<const char*>(response->GetBody()), response->GetBodyLength());
        answer.errorText = response->GetErrorText();
        answer.threadId = GetCurrentThreadId();
        answer.fileExistedAtCallback =
            !request->filePath.empty() && GetFileAttributesW(request->filePath.c_str()) != INVALID_FILE_ATTRIBUTES;
        std::lock_guard<std::mutex> guard(self->lock_);
        self->answers_.push_back(answer);
    }

    size_t Count() {
        std::lock_guard<std::mutex> guard(lock_);
        return answers_.size();
    }
    std::vector<Answer> Answers() {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<Answer> copy = answers_;
        std::sort(copy.begin(), copy.end(), [](const Answer& a, const Answer& b) { return a.tag < b.tag; });
        return copy;
    }

private:
    std::mutex lock_;
    std::vector<Answer> answers_;
};

// Counts the log lines that hold a text. It allocates nothing: the lines may come from the
// transfer thread while its allocations fail.
class LogLines {
public:
    explicit LogLines(const wchar_t* part) {
        part_ = part;
        count_ = 0;
        ravlib::SetLogSink(Count);
    }
    ~LogLines() { ravlib::SetLogSink(nullptr); }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;
    int count() const { return count_.load(); }

private:
    static int Count(int, const wchar_t* text, int length) {
        if (wcsstr(text, part_)) ++count_;
        return length;
    }
    static inline const wchar_t* part_ = nullptr;
    static inline std::atomic<int> count_{0};
};

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(ServerPort(), 0) << "LAUNCHER_HTTP_PORT is not set";
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        ControlGet("/__reset");
        client_ = CCurlHttpClient::GetInstance();
        ASSERT_NE(client_, nullptr);
        ASSERT_TRUE(client_->StartWorkers());
    }
    void TearDown() override {
        testing_support::EndAllocationFailures();
        CCurlHttpClient::Shutdown();
        WSACleanup();
    }

    CCurlHttpRequest* NewGet(const std::string& path, int32_t tag, const std::wstring& filePath = L"") {
        CCurlHttpRequest* request = new CCurlHttpRequest;
        request->SetUrl(path.compare(0, 7, "http://") == 0 ? path.c_str() : Url(path).c_str());
        request->SetMethod(kHttpGet);
        request->SetCallback(Recorder::Record, &recorder_);
        request->SetContext("token", tag, 1, 2, 3);
        request->filePath = filePath;
        return request;
    }

    void Add(CCurlHttpRequest* request) { ASSERT_EQ(client_->AddRequest(request), 0); }

    // Makes the transfer thread's allocations of at least minBytes fail until
    // EndAllocationFailures: a request delivered on that thread says so from its callback.
    void FailTransferThreadAllocations(size_t minBytes) {
        struct Mark {
            size_t minBytes;
            HANDLE done;
        } mark = {minBytes, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        CCurlHttpRequest* request = NewGet("/__bytes/1", -1);
        request->SetDeliverOnTransferThread(true);
        request->SetCallback(
            [](void* user, CCurlHttpResponse*) {
                Mark* marked = static_cast<Mark*>(user);
                testing_support::FailAllocationsOnThisThread(0, marked->minBytes);
                SetEvent(marked->done);
            },
            &mark);
        Add(request);
        const DWORD waited = WaitForSingleObject(mark.done, 30000);
        CloseHandle(mark.done);
        ASSERT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0));
    }

    // Dispatches on this thread until count answers arrived (at most 60 s).
    bool DispatchUntil(size_t count) {
        for (int i = 0; i < 6000 && recorder_.Count() < count; ++i) {
            client_->DispatchResponses();
            Sleep(10);
        }
        return recorder_.Count() >= count;
    }

    CCurlHttpClient* client_ = nullptr;
    Recorder recorder_;
};

bool WaitForFile(const std::wstring& path) {
    for (int i = 0; i < 2000; ++i) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(10);
    }
    return false;
}

TEST_F(HttpClientTest, AnswersCarryStatusBodyAndSuccessOnlyFor200) {
    ASSERT_TRUE(testing_support::WriteFileBytes(testing_support::HttpServerRoot() + L"hello.txt", "hello", 5));
    std::string refused = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x";

    struct Case {
        std::string path;
        bool success;
        int32_t status;
        std::string body;
    } cases[] = {
        {"/hello.txt", true, 200, "hello"},
        {"/__bytes/5000", true, 200, PatternText(5000)},
        {"/__status/404", false, 404, "status 404 page"},
        {"/missing.txt", false, 404, "file not found"},
        {"/__status/500", false, 500, "status 500 page"},
        {"/__status/204", false, 204, ""},
        {"/__redirect/hello.txt", true, 200, "hello"},
        {"/__redirect/__redirect/__status/404", false, 404, "status 404 page"},
        {refused, false, 0, ""},
    };
    const int32_t n = static_cast<int32_t>(sizeof cases / sizeof cases[0]);
    for (int32_t i = 0; i < n; ++i) Add(NewGet(cases[i].path, i));
    ASSERT_TRUE(DispatchUntil(n));

    std::vector<Answer> answers = recorder_.Answers();
    ASSERT_EQ(answers.size(), static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        SCOPED_TRACE(cases[i].path);
        EXPECT_EQ(answers[i].success, cases[i].success);
        EXPECT_EQ(answers[i].status, cases[i].status);
        EXPECT_EQ(answers[i].body, cases[i].body);
        EXPECT_EQ(answers[i].errorText.empty(), cases[i].success);
        EXPECT_EQ(answers[i].threadId, GetCurrentThreadId());
    }
}

// A body longer than its request's cap fails the transfer; one that fits, also exactly,
// arrives whole.
TEST_F(HttpClientTest, ABodyBeyondItsRequestsCapFailsTheTransfer) {
    struct Case {
        const char* path;
        size_t cap;
        bool success;
    } cases[] = {
        {"/__bytes/5000", 5000, true},
        {"/__bytes/5000", 4999, false},
        {"/__bytes/300000", 65536, false},
        {"/__bytes/300000", CCurlHttpRequest::kDefaultMaxBodyBytes, true},
        {"/__bytes/0", 0, true},
    };
    const int32_t n = static_cast<int32_t>(sizeof cases / sizeof cases[0]);
    for (int32_t i = 0; i < n; ++i) {
        CCurlHttpRequest* request = NewGet(cases[i].path, i);
        request->maxBodyBytes = cases[i].cap;
        Add(request);
    }
    ASSERT_TRUE(DispatchUntil(n));
    std::vector<Answer> answers = recorder_.Answers();
    ASSERT_EQ(answers.size(), static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(answers[i].success, cases[i].success);
        if (cases[i].success) EXPECT_EQ(answers[i].body.size(), atoi(cases[i].path + 9) + 0u);
        if (!cases[i].success) EXPECT_LE(answers[i].body.size(), cases[i].cap);
    }
}

// The application's small texts (game page, hash key, notice, version file, signature)
// may be 1 MiB long: one byte more is a failed transfer.
TEST_F(HttpClientTest, TheApplicationsSmallDownloadsAreCappedAtOneMebibyte) {
    const size_t kMebibyte = 1u << 20;
    const uint32_t kinds[] = {kDownloadGamePage, kDownloadHashKey, kDownloadAsynNotice, kDownloadVersionFile,
                              kDownloadUpdateSignature};
    int32_t tag = 0;
    for (uint32_t kind : kinds) {
        for (size_t length : {kMebibyte, kMebibyte + 1}) {
            CCurlHttpRequest* request = NewDownloadRequest(kind, Url("/__bytes/" + std::to_string(length)).c_str());
            request->SetCallback(Recorder::Record, &recorder_);
            request->SetContext("", tag++, kind, static_cast<uint32_t>(length), 0);
            Add(request);
        }
    }
    ASSERT_TRUE(DispatchUntil(static_cast<size_t>(tag)));
    std::vector<Answer> answers = recorder_.Answers();
    for (int32_t i = 0; i < tag; ++i) {
        const bool atTheCap = i % 2 == 0;
        SCOPED_TRACE(std::to_string(kinds[i / 2]) + (atTheCap ? " at the cap" : " one byte beyond"));
        EXPECT_EQ(atTheCap, answers[i].success) << answers[i].errorText;
        if (atTheCap) EXPECT_EQ(kMebibyte, answers[i].body.size());
    }
}

TEST_F(HttpClientTest, UnsetOrUnknownMethodFailsWithoutTouchingTheNetwork) {
    for (int32_t method : {static_cast<int32_t>(kHttpMethodUnset), 7, -1}) {
        CCurlHttpRequest* request = NewGet("/__bytes/10", method);
        request->SetMethod(method);
        Add(request);
    }
    ASSERT_TRUE(DispatchUntil(3));
    for (const Answer& answer : recorder_.Answers()) {
        EXPECT_FALSE(answer.success);
        EXPECT_EQ(answer.status, 0);
        EXPECT_FALSE(answer.errorText.empty());
    }
    EXPECT_EQ(Stat("requests"), 0);
}

TEST_F(HttpClientTest, PostSendsBodyAndHeaderLines) {
    CCurlHttpRequest* request = NewGet("/__echo", 1);
    request->SetMethod(kHttpPost);
    const char body[] = "a\0b=c&d";
    request->postBody.assign(body, body + sizeof body - 1);
    request->headerLines.push_back("X-Test: 1");
    Add(request);
    ASSERT_TRUE(DispatchUntil(1));
    Answer answer = recorder_.Answers()[0];
    EXPECT_TRUE(answer.success);
    EXPECT_EQ(answer.body, std::string(body, sizeof body - 1));
    std::vector<SeenRequest> seen = SeenRequests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(HasHeader(seen[0], "X-Test: 1"));
}

TEST_F(HttpClientTest, GetsSendTheirHeaderLinesAndKeepTheConnection) {
    for (int32_t i = 0; i < 2; ++i) {
        CCurlHttpRequest* request = NewGet("/__bytes/10", i);
        request->headerLines.push_back("X-Request: " + std::to_string(i));
        Add(request);
        // One after the other, so that the second finds the first one's connection free.
        ASSERT_TRUE(DispatchUntil(static_cast<size_t>(i) + 1));
    }
    std::vector<SeenRequest> seen = SeenRequests();
    ASSERT_EQ(seen.size(), 2u);
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(HasHeader(seen[i], "X-Request: " + std::to_string(i)));
        EXPECT_TRUE(HasHeader(seen[i], "Connection: keep-alive"));
        EXPECT_TRUE(HasHeader(seen[i], "Keep-alive: 300"));
    }
    EXPECT_EQ(seen[0].connection, seen[1].connection);
}

TEST_F(HttpClientTest, ElevenRequestsStartTenAndTheEleventhWhenAHandleReturns) {
    for (int32_t i = 0; i < 11; ++i) Add(NewGet("/__slow/3000/__bytes/64", i));
    int inFlight = 0;
    for (int i = 0; i < 1000 && (inFlight = Stat("in_flight")) < 10; ++i) Sleep(10);
    ASSERT_EQ(inFlight, 10);
    Sleep(500);
    EXPECT_EQ(Stat("in_flight"), 10);
    EXPECT_EQ(Stat("requests"), 0);

    ASSERT_TRUE(DispatchUntil(11));
    for (const Answer& answer : recorder_.Answers()) EXPECT_TRUE(answer.success) << answer.tag;
    EXPECT_EQ(Stat("max_in_flight"), 10);
    EXPECT_EQ(Stat("requests"), 11);
}

TEST_F(HttpClientTest, SaveThreadStoresSuccessfulBodiesScrambledAfterTheirCallbacks) {
    TempDir dir;
    const size_t sizes[] = {0, 3, 7, 100, 256, 257, 5000};
    const int32_t n = static_cast<int32_t>(sizeof sizes / sizeof sizes[0]);
    std::vector<std::wstring> paths;
    for (int32_t i = 0; i < n; ++i) {
        paths.push_back(dir.path() + L"a\\b/c\\file" + std::to_wstring(i) + L".bin");
        Add(NewGet("/__bytes/" + std::to_string(sizes[i]), i, paths.back()));
    }
    // Failed or unwanted bodies are never written.
    std::wstring failedPath = dir.path() + L"failed.bin";
    std::wstring unwantedPath = dir.path() + L"unwanted.bin";
    Add(NewGet("/__status/404", n, failedPath));
    CCurlHttpRequest* unwanted = NewGet("/__bytes/10", n + 1, unwantedPath);
    unwanted->SetSaveToFile(false);
    Add(unwanted);

    ASSERT_TRUE(DispatchUntil(n + 2));
    std::vector<Answer> answers = recorder_.Answers();
    for (int32_t i = 0; i < n; ++i) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(answers[i].body, PatternText(sizes[i]));
        EXPECT_FALSE(answers[i].fileExistedAtCallback);
        ASSERT_TRUE(WaitForFile(paths[i]));
    }
    // Shut-down writes whatever is still queued, so afterwards every file is complete.
    CCurlHttpClient::Shutdown();
    for (int32_t i = 0; i < n; ++i) {
        SCOPED_TRACE(sizes[i]);
        std::vector<uint8_t> expected = Pattern(sizes[i]);
        ScrambleWords(expected.data(), std::min<size_t>(expected.size(), 256));
        EXPECT_EQ(ReadFileBytes(paths[i]), expected);
    }
    EXPECT_EQ(GetFileAttributesW(failedPath.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(unwantedPath.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A listener hears of a response queued for dispatch before anyone dispatches it, on
// the transfer thread; a response delivered on the transfer thread is never queued and
// not announced; once removed, a listener hears nothing more.
TEST_F(HttpClientTest, ListenersHearOfEachQueuedResponseUntilRemoved) {
    struct Heard {
        std::atomic<int> count{0};
        std::atomic<DWORD> threadId{0};
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ~Heard() { CloseHandle(event); }
    } heard;
    const HttpResponseListener listener = [](void* user) {
        Heard* h = static_cast<Heard*>(user);
        h->threadId = GetCurrentThreadId();
        ++h->count;
        SetEvent(h->event);
    };
    ASSERT_TRUE(CCurlHttpClient::AddResponseListener(listener, &heard));
    Add(NewGet("/__bytes/10", 0));
    const DWORD waited = WaitForSingleObject(heard.event, 30000);
    EXPECT_EQ(recorder_.Count(), 0u);
    ASSERT_TRUE(DispatchUntil(1));
    ASSERT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_NE(heard.threadId.load(), GetCurrentThreadId());

    CCurlHttpRequest* direct = NewGet("/__bytes/10", 1);
    direct->SetDeliverOnTransferThread(true);
    Add(direct);
    for (int i = 0; i < 6000 && recorder_.Count() < 2; ++i) Sleep(10);
    ASSERT_EQ(recorder_.Count(), 2u);
    CCurlHttpClient::RemoveResponseListener(listener, &heard);
    Add(NewGet("/__bytes/10", 2));
    ASSERT_TRUE(DispatchUntil(3));
    EXPECT_EQ(heard.count.load(), 1);
}

// A body handed to the save thread is written and freed with its request, and then the
// listeners are told, so that whoever waits for memory to fetch more may go on.
TEST_F(HttpClientTest, ListenersHearWhenSavedBodiesAreFreed) {
    struct Heard {
        std::atomic<int> count{0};
        std::atomic<int> afterFree{0};
        std::atomic<bool> freed{false};
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ~Heard() { CloseHandle(event); }
    } heard;
    class SavedRequest : public CCurlHttpRequest {
    public:
        explicit SavedRequest(Heard* heard) : heard_(heard) {}
        ~SavedRequest() override { heard_->freed = true; }

    private:
        Heard* heard_;
    };
    const HttpResponseListener listener = [](void* user) {
        Heard* h = static_cast<Heard*>(user);
        ++h->count;
        if (h->freed) ++h->afterFree;
        SetEvent(h->event);
    };
    ASSERT_TRUE(CCurlHttpClient::AddResponseListener(listener, &heard));
    TempDir dir;
    const std::wstring path = dir.path() + L"saved.bin";
    SavedRequest* request = new SavedRequest(&heard);
    request->SetUrl(Url("/__bytes/300").c_str());
    request->SetMethod(kHttpGet);
    request->SetCallback(Recorder::Record, &recorder_);
    request->filePath = path;
    Add(request);
    ASSERT_TRUE(DispatchUntil(1));
    for (int i = 0; i < 3000 && heard.afterFree.load() == 0; ++i) WaitForSingleObject(heard.event, 10);
    CCurlHttpClient::RemoveResponseListener(listener, &heard);
    EXPECT_TRUE(heard.freed.load());
    EXPECT_EQ(heard.afterFree.load(), 1);
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(HttpClientTest, DeliveryOnTheTransferThreadNeverSaves) {
    TempDir dir;
    std::wstring path = dir.path() + L"direct.bin";
    CCurlHttpRequest* request = NewGet("/__bytes/300", 1, path);
    request->SetDeliverOnTransferThread(true);
    request->SetSaveToFile(true);
    Add(request);
    for (int i = 0; i < 6000 && recorder_.Count() < 1; ++i) Sleep(10);
    ASSERT_EQ(recorder_.Count(), 1u);
    Answer answer = recorder_.Answers()[0];
    EXPECT_TRUE(answer.success);
    EXPECT_NE(answer.threadId, GetCurrentThreadId());
    client_->DispatchResponses();
    CCurlHttpClient::Shutdown();
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

struct ShutdownProbe {
    CCurlHttpClient* client;
    HANDLE inCallback;
    int32_t refusedWith = 0;
};

void AddUntilRefused(void* user, CCurlHttpResponse*) {
    ShutdownProbe* probe = static_cast<ShutdownProbe*>(user);
    SetEvent(probe->inCallback);
    for (int i = 0; i < 2000; ++i) {
        CCurlHttpRequest* request = new CCurlHttpRequest;
        request->SetUrl("http://127.0.0.1:1/never");
        int32_t result = probe->client->AddRequest(request);
        if (result != 0) {
            probe->refusedWith = result;
            delete request;
            return;
        }
        Sleep(5);
    }
}

TEST_F(HttpClientTest, AddRequestAfterShutdownBeganIsRefusedWithOne) {
    ShutdownProbe probe;
    probe.client = client_;
    probe.inCallback = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CCurlHttpRequest* request = NewGet("/__bytes/1", 1);
    request->SetDeliverOnTransferThread(true);
    request->SetCallback(AddUntilRefused, &probe);
    Add(request);
    ASSERT_EQ(WaitForSingleObject(probe.inCallback, 30000), WAIT_OBJECT_0);
    CCurlHttpClient::Shutdown();
    EXPECT_EQ(probe.refusedWith, 1);
    CloseHandle(probe.inCallback);
}

TEST_F(HttpClientTest, StartWorkersTwiceIsRefusedAndStartsNoThread) {
    int before = ThreadsOfThisProcess();
    EXPECT_FALSE(client_->StartWorkers());
    EXPECT_EQ(ThreadsOfThisProcess(), before);
    Add(NewGet("/__bytes/10", 1));
    ASSERT_TRUE(DispatchUntil(1));
    EXPECT_TRUE(recorder_.Answers()[0].success);
}

TEST_F(HttpClientTest, DamagedAnswersFailCleanlyAndTheHandlesStayUsable) {
    TempDir dir;
    const char* const damaged[] = {"truncated", "garbage", "empty", "badlength", "badchunk", "hugeheader"};
    const char* const anything[] = {"/__raw/oversized", "/__bytes/70000", "/__status/404",
                                    "/__redirect/__raw/garbage", "/__slow/50/__bytes/3"};
    std::mt19937 random(20261210);
    std::vector<std::string> paths;
    for (const char* kind : damaged) paths.push_back(std::string("/__raw/") + kind);
    for (int i = 0; i < 40; ++i) {
        if (random() % 2)
            paths.push_back(std::string("/__raw/") + damaged[random() % 6]);
        else
            paths.push_back(anything[random() % 5]);
    }
    const int32_t n = static_cast<int32_t>(paths.size());
    for (int32_t i = 0; i < n; ++i) Add(NewGet(paths[i], i, dir.path() + std::to_wstring(i) + L".bin"));
    ASSERT_TRUE(DispatchUntil(n));
    std::vector<Answer> answers = recorder_.Answers();
    for (int32_t i = 0; i < n; ++i) {
        if (paths[i].find("/__raw/") != 0 || paths[i] == "/__raw/oversized") continue;
        SCOPED_TRACE(paths[i]);
        EXPECT_FALSE(answers[i].success);
        EXPECT_FALSE(answers[i].errorText.empty());
    }

    // The same handles still fetch afterwards.
    for (int32_t i = n; i < n + 12; ++i) Add(NewGet("/__bytes/100", i));
    ASSERT_TRUE(DispatchUntil(n + 12));
    answers = recorder_.Answers();
    for (int32_t i = n; i < n + 12; ++i) EXPECT_TRUE(answers[i].success);

    CCurlHttpClient::Shutdown();
    for (int32_t i = 0; i < n; ++i) {
        bool saved = GetFileAttributesW((dir.path() + std::to_wstring(i) + L".bin").c_str()) != INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(saved, answers[i].success) << paths[i];
    }
}

// With a stall time of 2 s: an answer that keeps coming in small steps arrives even though
// it takes longer than that in all; one that stops half-way fails for its silence (well
// before the server gives up on it) and hands over what did arrive.
TEST_F(HttpClientTest, AGetFailsWhenItStallsNotWhenItIsSlow) {
    client_->SetStallSeconds(2);
    const std::string whole = PatternText(40000);
    ASSERT_TRUE(testing_support::PublishOnHttpServer("paced.bin", whole));
    Add(NewGet("/__throttle/250/4096/paced.bin", 0));
    Add(NewGet("/__stall/20000/3000/paced.bin", 1));
    ASSERT_TRUE(DispatchUntil(2));
    std::vector<Answer> answers = recorder_.Answers();
    EXPECT_TRUE(answers[0].success) << answers[0].errorText;
    EXPECT_EQ(whole, answers[0].body);
    EXPECT_FALSE(answers[1].success);
    EXPECT_EQ(200, answers[1].status);
    EXPECT_NE(std::string::npos, answers[1].errorText.find("too slow")) << answers[1].errorText;
    EXPECT_EQ(whole.substr(0, 3000), answers[1].body);
}

// While every allocation of the transfer thread fails, a transfer under way ends as a
// failed answer, requests wait in their queue (one log line says so, however many passes
// it lasts) and none reaches the server; once memory is back, each is answered.
TEST_F(HttpClientTest, WithoutMemoryATransferFailsAndRequestsWaitUntilItIsBack) {
    LogLines waits(L"no memory to start");
    Add(NewGet("/__slow/1000/__bytes/64", 10));
    FailTransferThreadAllocations(0);
    for (int32_t i = 0; i < 3; ++i) Add(NewGet("/__bytes/100", i));
    ASSERT_TRUE(DispatchUntil(1));
    const Answer underWay = recorder_.Answers()[0];
    EXPECT_EQ(underWay.tag, 10);
    EXPECT_FALSE(underWay.success);
    EXPECT_FALSE(underWay.errorText.empty());

    const int served = Stat("requests");
    // The transfer thread looks at its queue at least once a second.
    for (int i = 0; i < 25; ++i) {
        client_->DispatchResponses();
        Sleep(100);
    }
    EXPECT_EQ(recorder_.Count(), 1u);
    EXPECT_EQ(Stat("requests"), served);
    EXPECT_EQ(waits.count(), 1);

    testing_support::EndAllocationFailures();
    ASSERT_TRUE(DispatchUntil(4));
    std::vector<Answer> answers = recorder_.Answers();
    for (int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(answers[i].tag, i);
        EXPECT_TRUE(answers[i].success) << answers[i].errorText;
        EXPECT_EQ(answers[i].body, PatternText(100));
    }
    EXPECT_EQ(waits.count(), 1);
}

// A body that cannot grow fails its transfer with libcurl's reason, never taking the
// process down; a small answer beside it arrives, and once memory is back the same
// address arrives whole on the same handles.
TEST_F(HttpClientTest, ABodyThatCannotGrowFailsItsTransfer) {
    const size_t kLargest = 64 * 1024;
    FailTransferThreadAllocations(kLargest);
    Add(NewGet("/__bytes/300000", 0));
    Add(NewGet("/__bytes/1000", 1));
    ASSERT_TRUE(DispatchUntil(2));
    testing_support::EndAllocationFailures();
    Add(NewGet("/__bytes/300000", 2));
    ASSERT_TRUE(DispatchUntil(3));

    std::vector<Answer> answers = recorder_.Answers();
    EXPECT_FALSE(answers[0].success);
    EXPECT_EQ(answers[0].status, 200);
    EXPECT_FALSE(answers[0].errorText.empty());
    EXPECT_LE(answers[0].body.size(), kLargest);
    EXPECT_TRUE(answers[1].success) << answers[1].errorText;
    EXPECT_EQ(answers[1].body, PatternText(1000));
    EXPECT_TRUE(answers[2].success) << answers[2].errorText;
    EXPECT_EQ(answers[2].body, PatternText(300000));
}

class ResumeTest : public HttpClientTest {
protected:
    void SetUp() override {
        HttpClientTest::SetUp();
        client_->SetStallSeconds(2);
        whole_ = PatternText(50000);
        ASSERT_TRUE(testing_support::PublishOnHttpServer("resume.bin", whole_));
    }

    // One GET of path, answered before it returns.
    Answer Fetch(const std::string& path, bool resumable) {
        CCurlHttpRequest* request = NewGet(path, tag_);
        request->resumable = resumable;
        Add(request);
        EXPECT_TRUE(DispatchUntil(static_cast<size_t>(++tag_)));
        std::vector<Answer> answers = recorder_.Answers();
        return answers.empty() ? Answer() : answers.back();
    }

    std::string whole_;
    int32_t tag_ = 0;
};

// A resumable GET that stalls keeps its 3000 bytes; its retry asks for the rest, and
// what the server makes of that decides the answer.
TEST_F(ResumeTest, ARetryAsksForTheRestAndTakesOnlyAnAnswerThatFits) {
    struct Case {
        const char* path;
        bool success;
        const char* why;
    } cases[] = {
        {"/__stall/20000/3000/resume.bin", true, "206 from byte 3000: appended"},
        {"/__norange/__stall/20000/3000/resume.bin", true, "200: the whole again"},
        {"/__badrange/__stall/20000/3000/resume.bin", false, "206 from byte 3001: refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Answer first = Fetch(c.path, true);
        EXPECT_FALSE(first.success);
        EXPECT_EQ("", first.body) << "kept for the retry";
        Answer retry = Fetch(c.path, true);
        EXPECT_EQ(c.success, retry.success) << retry.errorText;
        if (c.success) EXPECT_TRUE(retry.body == whole_) << retry.body.size() << " bytes";
        EXPECT_EQ(std::vector<std::string>({"", "Range: bytes=3000-"}), RangesAsked(c.path));
    }
    // After a refused range nothing is kept: the next attempt starts from the beginning.
    Fetch(cases[2].path, true);
    EXPECT_EQ(std::vector<std::string>({"", "Range: bytes=3000-", ""}), RangesAsked(cases[2].path));
}

// Only a resumable request keeps and continues, only at its own address, and only the
// latest kept body.
TEST_F(ResumeTest, NothingIsKeptForAnotherAddressOrARequestThatIsNotResumable) {
    const std::string stalled = "/__stall/20000/3000/resume.bin";
    EXPECT_EQ(whole_.substr(0, 3000), Fetch(stalled, false).body);
    Fetch(stalled, true);
    EXPECT_TRUE(Fetch("/resume.bin", true).success);
    Fetch(stalled, true);
    EXPECT_EQ(std::vector<std::string>({"", "", ""}), RangesAsked(stalled));
    EXPECT_EQ(std::vector<std::string>({""}), RangesAsked("/resume.bin"));
}

}  // namespace
