// The update dialog under Xvfb against the HTTP test server standing in for the game
// server and the content server: the whole preparation from an empty cache, the short
// path with current files, retries, the dead ends, and the keys that must not close it.
#include <winsock2.h>
#include <windows.h>
#include <ole2.h>
#include <gdiplus.h>
#include <psapi.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/launcher_host.h"
#include "framework/paths.h"
#include "server/file_server.h"
#include "server/session_server.h"
#include "server/suffix_list.h"
#include "support/test_support.h"
#include "update/download_request.h"
#include "update/http_client.h"
#include "update/update_dialog.h"

using testing_support::FixturePath;
using testing_support::PublishOnHttpServer;
using testing_support::MessageBoxCatcher;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

// A request the dialog made: its kind, its address and GetTickCount64 as it went out.
struct SentRequest {
    uint32_t kind;
    std::string address;
    uint64_t tick;
};

struct Delivery {
    uint32_t kind;
    bool success;
    std::string address;
    int32_t positionAfter;
    std::wstring tipAfter;
};

// The application's side as the update dialog sees it: requests go to the real HTTP
// client, answers come back to the dialog the way the application routes them.
class TestHost : public LauncherHost {
public:
    explicit TestHost(const std::wstring& cacheDirectory) : cacheDirectory_(cacheDirectory) {
        loaded = config_.OpenPackageFile(FixturePath(L"update\\update.exe").c_str()) &&
                 config_.LoadIniText("config/cg.txt") && config_.ReadSettings();
    }

    bool loaded = false;
    UpdateDlg* dialog = nullptr;
    std::vector<SentRequest> requests;
    // Called with the kind of each request before it goes out.
    std::function<void(uint32_t)> onRequest;
    std::vector<Delivery> deliveries;
    bool goOnToGame = false;

    LauncherConfig& config() override { return config_; }
    void SetGameAddress(const char*) override {}
    void SetCdnAddress(const char* address) override {
        cdnAddress_ = address;
        if (cdnAddress_.back() != '/') cdnAddress_ += '/';
    }
    const std::string& cdnAddress() const override { return cdnAddress_; }
    void SetFlashVars(const char* vars) override { flashVars_ = vars; }
    const std::string& flashVars() const override { return flashVars_; }
    const std::wstring& cacheDirectory() const override { return cacheDirectory_; }
    void SetGoOnToGame() override { goOnToGame = true; }
    void SetRunUpdateBatch() override {}
    bool IsStartedWithArgument() const override { return false; }
    void SetStartedWithArgument(bool) override {}
    INT_PTR RunUpdateAndGame() override { return 0; }
    INT_PTR ShowLoginWindow() override { return 0; }

    void SendRequest(uint32_t kind, const char* address) override {
        requests.push_back({kind, address, GetTickCount64()});
        if (onRequest) onRequest(kind);
        CCurlHttpRequest* request = NewDownloadRequest(kind, address);
        request->SetCallback(&TestHost::Answered, this);
        CCurlHttpClient::GetInstance()->AddRequest(request);
    }

    std::vector<uint32_t> Kinds() const {
        std::vector<uint32_t> kinds;
        for (const SentRequest& request : requests) kinds.push_back(request.kind);
        return kinds;
    }

    // The requests of `kind`, in the order they were made.
    std::vector<SentRequest> RequestsOf(uint32_t kind) const {
        std::vector<SentRequest> made;
        for (const SentRequest& request : requests)
            if (request.kind == kind) made.push_back(request);
        return made;
    }

private:
    static void Answered(void* user, CCurlHttpResponse* response) {
        auto* host = static_cast<TestHost*>(user);
        CCurlHttpRequest* request = response->GetRequest();
        uint32_t kind = static_cast<uint32_t>(request->GetTag());
        if (!host->dialog) return;
        host->dialog->OnDownload(kind, response->GetSuccess(), response->GetBody(), response->GetBodyLength(),
                                 request->GetUrl());
        // Once the dialog has handed over, the local server's thread dispatches too: what
        // reaches the dialog there is ignored, and only the test's thread records.
        if (GetCurrentThreadId() != host->threadId_) return;
        host->deliveries.push_back({kind, response->GetSuccess(), request->GetUrl(),
                                    host->dialog->progress().GetPos(), host->dialog->tipText()});
    }

    const DWORD threadId_ = GetCurrentThreadId();
    LauncherConfig config_;
    std::string cdnAddress_;
    std::string flashVars_;
    std::wstring cacheDirectory_;
};

std::string ServerBase() { return "http://127.0.0.1:" + std::to_string(testing_support::HttpServerPort()); }

// Asks the test server for a control path (/__reset, /__fail/...) and waits for its
// answer, so that what it plans is in place before the dialog asks anything.
void Control(const std::string& path) {
    // The flag outlives a wait that gives up: a late answer must not write into this frame.
    auto* done = new bool(false);
    auto* request = new CCurlHttpRequest;
    request->SetUrl((ServerBase() + path).c_str());
    request->SetMethod(kHttpGet);
    request->SetSaveToFile(false);
    request->SetCallback([](void* user, CCurlHttpResponse*) { *static_cast<bool*>(user) = true; }, done);
    CCurlHttpClient::GetInstance()->AddRequest(request);
    for (int i = 0; i < 6000 && !*done; ++i) {
        Sleep(10);
        CCurlHttpClient::GetInstance()->DispatchResponses();
    }
    ASSERT_TRUE(*done) << "the test server did not answer " << path;
    delete done;
}

// A ZIP archive with stored items, as a content server would publish it.
std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string archive;
    std::string directory;
    auto put16 = [](std::string& out, uint32_t v) { out.append({char(v & 0xFF), char((v >> 8) & 0xFF)}); };
    auto put32 = [&](std::string& out, uint32_t v) {
        put16(out, v & 0xFFFF);
        put16(out, v >> 16);
    };
    for (const auto& item : items) {
        uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(item.second.data()),
                             static_cast<uInt>(item.second.size()));
        uint32_t offset = static_cast<uint32_t>(archive.size());
        put32(archive, 0x04034b50);
        for (uint32_t v : {20u, 0u, 0u, 0u, 0u}) put16(archive, v);
        put32(archive, crc);
        put32(archive, static_cast<uint32_t>(item.second.size()));
        put32(archive, static_cast<uint32_t>(item.second.size()));
        put16(archive, static_cast<uint32_t>(item.first.size()));
        put16(archive, 0);
        archive += item.first + item.second;
        put32(directory, 0x02014b50);
        for (uint32_t v : {20u, 20u, 0u, 0u, 0u, 0u}) put16(directory, v);
        put32(directory, crc);
        put32(directory, static_cast<uint32_t>(item.second.size()));
        put32(directory, static_cast<uint32_t>(item.second.size()));
        put16(directory, static_cast<uint32_t>(item.first.size()));
        for (uint32_t v : {0u, 0u, 0u, 0u}) put16(directory, v);
        put32(directory, 0);
        put32(directory, offset);
        directory += item.first;
    }
    uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
    archive += directory;
    put32(archive, 0x06054b50);
    for (uint32_t v : {0u, 0u}) put16(archive, v);
    put16(archive, static_cast<uint32_t>(items.size()));
    put16(archive, static_cast<uint32_t>(items.size()));
    put32(archive, static_cast<uint32_t>(directory.size()));
    put32(archive, directoryOffset);
    put16(archive, 0);
    return archive;
}

uint32_t Crc(const std::string& content) {
    return crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
}

const char kDictionary[] = "1 a/b.png 10 4000\n2 c.swf 20 5000\n";

std::string GameFrame() {
    std::string frame(70000, '\0');
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return frame;
}

std::string PageDocument(const std::string& cdn, bool withAsyn = true) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><root><flashVars>user=7&amp;zone=3</flashVars><cdnUrl>" + cdn +
           "</cdnUrl>" + (withAsyn ? "<asynUrl>" + ServerBase() + "/asyn.txt</asynUrl>" : "") + "</root>";
}

// A content server with the dictionary archive, the frame and a hash key matching them.
void PublishContent(const std::string& frame = GameFrame(), const std::string& itemName = "hashdict.txt") {
    ASSERT_TRUE(PublishOnHttpServer("page.xml", PageDocument(ServerBase() + "/cdn")));
    ASSERT_TRUE(PublishOnHttpServer("asyn.txt", "noted"));
    ASSERT_TRUE(PublishOnHttpServer("cdn/hashdict.zip", StoredZip({{itemName, kDictionary}})));
    ASSERT_TRUE(PublishOnHttpServer("cdn/GameFrame.dat", frame));
    ASSERT_TRUE(PublishOnHttpServer("cdn/hashkey.txt", std::to_string(Crc(frame)) + "  " + std::to_string(Crc(kDictionary))));
}

// The dialog as the application runs it, closed the way a user would (system close)
// after `seconds`, or 1.5 s after `closeWhen` first holds, so a test never hangs and a
// dead end is seen to stay open without waiting out a fixed time on a busy machine.
class WatchedUpdateDlg : public UpdateDlg {
public:
    WatchedUpdateDlg(TestHost& host, int seconds) : UpdateDlg(host), seconds_(seconds) { host.dialog = this; }
    bool restarted = false;
    bool watchdogFired = false;
    // The dialog's own one-second timer does nothing: only the wake-ups bring answers.
    bool withoutDispatchTimer = false;
    std::function<void(WatchedUpdateDlg&)> onOpen;
    std::function<bool()> closeWhen;

protected:
    BOOL OnInitDialog() override {
        BOOL result = UpdateDlg::OnInitDialog();
        SetTimer(kWatchdog, seconds_ * 1000);
        SetTimer(kOpened, 50);
        if (closeWhen) SetTimer(kPoll, 250);
        return result;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_TIMER && wParam == kWatchdog) {
            CloseAsUser();
            return 0;
        }
        if (message == WM_TIMER && wParam == kPoll) {
            if (!conditionSince_ && closeWhen()) conditionSince_ = GetTickCount();
            if (conditionSince_ && GetTickCount() - conditionSince_ >= 1500) CloseAsUser();
            return 0;
        }
        if (message == WM_TIMER && wParam == kDispatchTimer && withoutDispatchTimer) return 0;
        if (message == WM_TIMER && wParam == kOpened) {
            KillTimer(kOpened);
            if (onOpen) onOpen(*this);
            return 0;
        }
        return UpdateDlg::WindowProc(message, wParam, lParam);
    }
    void StartNewLauncher() override { restarted = true; }

private:
    enum { kWatchdog = 901, kOpened = 902, kPoll = 903 };
    void CloseAsUser() {
        KillTimer(kWatchdog);
        KillTimer(kPoll);
        watchdogFired = true;
        PostMessage(WM_CLOSE);
    }
    int seconds_;
    DWORD conditionSince_ = 0;
};

// Ends what a dialog's run left behind: the local server, and every request still under
// way, whose callback points at a host about to go (the HTTP client is made afresh).
void EndRun() {
    FileSrvShutdown();
    CCurlHttpClient::Shutdown();
    CCurlHttpClient::GetInstance()->StartWorkers();
    Control("/__reset");
}

class UpdateDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplus_, &input, nullptr), Gdiplus::Ok);
        CCurlHttpClient::GetInstance()->StartWorkers();
        FileSrvSetSuffixes(L"cbp,swf,zip,txt,dat");
        Control("/__reset");
    }
    void TearDown() override {
        FileSrvShutdown();
        CCurlHttpClient::Shutdown();
        Gdiplus::GdiplusShutdown(gdiplus_);
    }
    ULONG_PTR gdiplus_ = 0;
};

TEST_F(UpdateDialogTest, FromAnEmptyCacheFetchesEverythingAndHandsOverToTheGame) {
    PublishContent();
    TempDir cache;
    TestHost host(cache.path());
    ASSERT_TRUE(host.loaded);
    WatchedUpdateDlg dialog(host, 30);
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());

    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_FALSE(dialog.watchdogFired);
    EXPECT_TRUE(host.goOnToGame);
    EXPECT_FALSE(UpdateDlg::IsUpdateActive());

    // The page request carries the port the local server bound and the client version.
    ASSERT_FALSE(host.requests.empty());
    std::string page = host.requests[0].address;
    size_t portAt = page.find("connectPort=");
    ASSERT_NE(std::string::npos, portAt);
    int port = atoi(page.c_str() + portAt + strlen("connectPort="));
    EXPECT_GE(port, 29898);
    EXPECT_LT(port, 29898 + 200);
    EXPECT_EQ(0u, page.find(ServerBase() + "/page.xml?connectPort=")) << page;
    EXPECT_NE(std::string::npos, page.find("&clientversionz=2")) << page;

    std::vector<uint32_t> kinds = host.Kinds();
    ASSERT_EQ(5u, kinds.size());
    EXPECT_EQ(1u, kinds[0]);
    EXPECT_EQ(5u, kinds[1]);
    EXPECT_EQ(2u, kinds[2]);
    EXPECT_EQ(std::vector<uint32_t>({3, 4}), std::vector<uint32_t>(kinds.begin() + 3, kinds.end()));
    EXPECT_EQ(ServerBase() + "/asyn.txt", host.requests[1].address);
    EXPECT_EQ(0u, host.requests[2].address.find(ServerBase() + "/cdn/hashkey.txt?"));
    EXPECT_EQ(0u, host.requests[3].address.find(ServerBase() + "/cdn/hashdict.zip?"));
    EXPECT_EQ(0u, host.requests[4].address.find(ServerBase() + "/cdn/GameFrame.dat?"));

    EXPECT_EQ(1000, dialog.progress().GetPos());
    EXPECT_EQ("user=7&zone=3", host.flashVars());
    EXPECT_EQ(ServerBase() + "/cdn/", host.cdnAddress());
    std::vector<uint8_t> frame = ReadFileBytes(cache.path() + L"GameFrame.dat");
    std::string expected = GameFrame();
    EXPECT_EQ(std::vector<uint8_t>(expected.begin(), expected.end()), frame);
    std::vector<uint8_t> dictionary = ReadFileBytes(cache.path() + L"hashdict.txt");
    EXPECT_EQ(std::string(kDictionary), std::string(dictionary.begin(), dictionary.end()));
}

TEST_F(UpdateDialogTest, CurrentFilesAreNotFetchedAgain) {
    PublishContent();
    TempDir cache;
    std::string frame = GameFrame();
    ASSERT_TRUE(WriteFileBytes(cache.path() + L"GameFrame.dat", frame.data(), frame.size()));
    ASSERT_TRUE(WriteFileBytes(cache.path() + L"hashdict.txt", kDictionary, strlen(kDictionary)));
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 30);
    dialog.SetGamePageAddress((ServerBase() + "/page.xml?zone=1").c_str());

    dialog.DoModal();
    EXPECT_TRUE(host.goOnToGame);
    std::vector<uint32_t> kinds = host.Kinds();
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(std::vector<uint32_t>({1, 2, 5}), kinds);
    EXPECT_EQ(0u, host.requests[0].address.find(ServerBase() + "/page.xml?zone=1&connectPort="));
    EXPECT_EQ(1000, dialog.progress().GetPos());
}

// A cached frame that cannot be read (another program holds it open without sharing) is
// fetched even when the published check value is 0, what an unreadable file used to count
// as. The hold ends as the frame is asked for, so that its answer can be written.
TEST_F(UpdateDialogTest, ACachedFileThatCannotBeReadIsNeverCurrent) {
    PublishContent();
    ASSERT_TRUE(PublishOnHttpServer("cdn/hashkey.txt", "0  " + std::to_string(Crc(kDictionary))));
    TempDir cache;
    const std::wstring framePath = cache.path() + L"GameFrame.dat";
    ASSERT_TRUE(WriteFileBytes(framePath, "old", 3));
    HANDLE held = CreateFileW(framePath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 30);
    host.onRequest = [&held](uint32_t kind) {
        if (kind != kDownloadGameFrame || held == INVALID_HANDLE_VALUE) return;
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    };
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
    dialog.DoModal();
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    std::vector<uint32_t> kinds = host.Kinds();
    EXPECT_NE(kinds.end(), std::find(kinds.begin(), kinds.end(), 4u));
    const std::string expected = GameFrame();
    EXPECT_TRUE(std::vector<uint8_t>(expected.begin(), expected.end()) == ReadFileBytes(framePath));
}

TEST_F(UpdateDialogTest, FailedAnswersAreRetriedWithTheSameAddress) {
    PublishContent();
    Control("/__fail/2/page.xml");
    Control("/__fail/1/cdn/hashkey.txt");
    Control("/__fail/1/cdn/hashdict.zip");
    Control("/__fail/1/cdn/GameFrame.dat");
    TempDir cache;
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 40);
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());

    dialog.DoModal();
    EXPECT_TRUE(host.goOnToGame);
    // Each failure steps and then sets the position of its kind; the retry text shows.
    // (The dictionary and the frame are fetched at once, so their failures may come in
    // either order; where the bar ends depends on that order too.)
    std::vector<std::pair<uint32_t, int32_t>> failures;
    for (const Delivery& d : host.deliveries) {
        if (d.success) continue;
        failures.emplace_back(d.kind, d.positionAfter);
        EXPECT_EQ(WideFromUtf8("第") + std::to_wstring(d.kind) + WideFromUtf8("步下载失败，正在重试……"), d.tipAfter);
    }
    std::sort(failures.begin(), failures.end());
    EXPECT_EQ((std::vector<std::pair<uint32_t, int32_t>>{{1, 250}, {1, 250}, {2, 500}, {3, 500}, {4, 750}}), failures);
    // A retry asks for the same address again.
    for (uint32_t kind : {1u, 3u, 4u}) {
        const std::vector<SentRequest> made = host.RequestsOf(kind);
        ASSERT_GE(made.size(), 2u) << kind;
        EXPECT_EQ(made.front().address, made.back().address) << kind;
    }
}

// With the dialog's one-second timer silenced, the whole preparation still runs through:
// each answer is taken when the HTTP client says it is there.
TEST_F(UpdateDialogTest, AnAnswerIsHandledWithoutWaitingForTheTimer) {
    PublishContent();
    TempDir cache;
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 30);
    dialog.withoutDispatchTimer = true;
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
    dialog.DoModal();
    EXPECT_FALSE(dialog.watchdogFired);
    EXPECT_TRUE(host.goOnToGame);
    EXPECT_EQ((std::vector<uint32_t>{1, 5, 2, 3, 4}), host.Kinds());
    EXPECT_EQ(1000, dialog.progress().GetPos());
}

// A failure of each kind is taken as soon as it arrives, but asked for again no sooner
// than a second after the attempt it answers.
TEST_F(UpdateDialogTest, AFailedAnswerIsRetriedNoSoonerThanASecondAfterItsAttempt) {
    PublishContent();
    for (const char* path : {"page.xml", "cdn/hashkey.txt", "cdn/hashdict.zip", "cdn/GameFrame.dat"})
        Control(std::string("/__fail/1/") + path);
    TempDir cache;
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 40);
    dialog.withoutDispatchTimer = true;
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
    dialog.DoModal();
    EXPECT_TRUE(host.goOnToGame);
    for (uint32_t kind = kDownloadGamePage; kind <= kDownloadGameFrame; ++kind) {
        SCOPED_TRACE(kind);
        const std::vector<SentRequest> made = host.RequestsOf(kind);
        ASSERT_EQ(2u, made.size());
        EXPECT_GE(made[1].tick - made[0].tick, static_cast<uint64_t>(UpdateDlg::kRetryPauseMs));
    }
}

// With a stall time of 2 s: a content server that sends the frame in small steps, 4.5 s
// in all, gets it through on the first attempt; one that stops after 40000 bytes sees the
// retry ask for the rest, and the frame in the cache is the published one, byte for byte.
TEST_F(UpdateDialogTest, ASlowFrameArrivesAndAStalledOneResumesWhereItStopped) {
    struct Case {
        const char* name;
        const char* cdn;
        std::vector<std::string> ranges;
    } cases[] = {
        {"throttled", "/__throttle/250/4096/cdn", {""}},
        {"stalled", "/__stall/20000/40000/cdn", {"", "Range: bytes=40000-"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CCurlHttpClient::GetInstance()->SetStallSeconds(2);
        PublishContent();
        ASSERT_TRUE(PublishOnHttpServer("page.xml", PageDocument(ServerBase() + c.cdn)));
        TempDir cache;
        TestHost host(cache.path());
        WatchedUpdateDlg dialog(host, 40);
        dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
        dialog.DoModal();
        EXPECT_FALSE(dialog.watchdogFired);
        EXPECT_TRUE(host.goOnToGame);
        const std::vector<SentRequest> frames = host.RequestsOf(kDownloadGameFrame);
        ASSERT_EQ(c.ranges.size(), frames.size());
        const std::string path = frames[0].address.substr(ServerBase().size());
        EXPECT_EQ(c.ranges, testing_support::RangesAsked(path));
        std::vector<uint8_t> frame = ReadFileBytes(cache.path() + L"GameFrame.dat");
        const std::string expected = GameFrame();
        EXPECT_TRUE(std::vector<uint8_t>(expected.begin(), expected.end()) == frame) << frame.size() << " bytes";
        EndRun();
    }
}

TEST_F(UpdateDialogTest, ShownAgainItWaitsForItsOwnFiles) {
    PublishContent();
    TempDir cache;
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 30);
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
    dialog.DoModal();
    ASSERT_TRUE(host.goOnToGame);
    EndRun();

    // The second time the game page never answers: nothing is ready, nothing is handed over.
    host.goOnToGame = false;
    host.requests.clear();
    dialog.closeWhen = [&host] { return !host.requests.empty(); };
    dialog.SetGamePageAddress((ServerBase() + "/__slow/30000/page.xml").c_str());
    dialog.DoModal();
    EXPECT_TRUE(dialog.watchdogFired);
    EXPECT_FALSE(host.goOnToGame);
    EXPECT_FALSE(dialog.frameReady());
    EXPECT_FALSE(dialog.dictReady());
}

// `levels` elements, each inside the one before.
std::string Nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += "<a>";
    for (int i = 0; i < levels; ++i) text += "</a>";
    return text;
}

struct PeakMemory {
    size_t workingSet;
    size_t privateBytes;
};

PeakMemory Peaks() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return {counters.PeakWorkingSetSize, counters.PeakPagefileUsage};
}

// Publishes a fixture of the zip reader's as the dictionary archive.
void PublishDictionaryArchive(const wchar_t* fixture) {
    std::vector<uint8_t> bytes = ReadFileBytes(FixturePath(fixture));
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(PublishOnHttpServer("cdn/hashdict.zip", std::string(bytes.begin(), bytes.end())));
}

struct DeadEnd {
    const char* name;
    const char* message;
    std::function<void()> prepare;
};

TEST_F(UpdateDialogTest, DeadEndsTellTheUserAndWaitForCloseOrRestartInBoundedMemory) {
    const DeadEnd cases[] = {
        {"page without asynUrl", "xml param error",
         [] { ASSERT_TRUE(PublishOnHttpServer("page.xml", PageDocument(ServerBase() + "/cdn", false))); }},
        {"archive unreadable", "hashdict OpenZip fail",
         [] { ASSERT_TRUE(PublishOnHttpServer("cdn/hashdict.zip", std::string(300, 'Z'))); }},
        {"item missing", "hashdict not found",
         [] { ASSERT_TRUE(PublishOnHttpServer("cdn/hashdict.zip", StoredZip({{"other.txt", kDictionary}}))); }},
        {"item empty", "hashdict not found",
         [] { ASSERT_TRUE(PublishOnHttpServer("cdn/hashdict.zip", StoredZip({{"hashdict.txt", ""}}))); }},
        // A megabyte that inflates to 1 GiB, and a few bytes that claim 2 GiB.
        {"dictionary bomb", "hashdict OpenZip fail", [] { PublishDictionaryArchive(L"zip\\bomb.zip"); }},
        {"dictionary claiming 2 GiB", "hashdict OpenZip fail",
         [] { PublishDictionaryArchive(L"zip\\lying-hashdict.zip"); }},
        {"page nested 100 000 deep", "xml param error",
         [] {
             std::string page = PageDocument(ServerBase() + "/cdn");
             page.insert(page.find("<root>") + 6, Nested(100000));
             ASSERT_TRUE(PublishOnHttpServer("page.xml", page));
         }},
    };
    for (const DeadEnd& c : cases) {
        SCOPED_TRACE(c.name);
        PublishContent();
        c.prepare();
        TempDir cache;
        TestHost host(cache.path());
        MessageBoxCatcher boxes;
        WatchedUpdateDlg dialog(host, 60);
        dialog.closeWhen = [&boxes] { return !boxes.boxes().empty(); };
        dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
        const PeakMemory before = Peaks();
        EXPECT_EQ(IDCANCEL, dialog.DoModal());
        const PeakMemory after = Peaks();
        printf("%s: peak working set %zu -> %zu MB, peak private bytes %zu -> %zu MB\n", c.name,
               before.workingSet >> 20, after.workingSet >> 20, before.privateBytes >> 20, after.privateBytes >> 20);
        // Far below what any of the hostile inputs would take if they were believed.
        EXPECT_LT(after.workingSet, 200u << 20);
        EXPECT_LT(after.privateBytes, 200u << 20);
        EXPECT_TRUE(dialog.watchdogFired);  // it stayed open until closed
        EXPECT_FALSE(host.goOnToGame);
        std::vector<testing_support::CaughtBox> caught = boxes.boxes();
        ASSERT_EQ(1u, caught.size());
        EXPECT_EQ(WideFromUtf8(c.message), caught[0].text);
        EndRun();
    }
}

// Comments, CDATA, processing instructions and attribute values full of '<' nest nothing.
TEST_F(UpdateDialogTest, AShallowPageWhoseMarkupOnlyLooksDeepStillWorks) {
    PublishContent();
    std::string marks;
    for (int i = 0; i < 100; ++i) marks += "<x>";
    std::string spaced;
    for (int i = 0; i < 100; ++i) spaced += " <x";
    std::string page = PageDocument(ServerBase() + "/cdn");
    page.insert(page.find("<root>") + 6, "<!--" + marks + "--><?note" + spaced + "?><note hint=\"" + marks +
                                             "\"><![CDATA[" + marks + "]]></note>");
    ASSERT_TRUE(PublishOnHttpServer("page.xml", page));
    TempDir cache;
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 30);
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
    dialog.DoModal();
    EXPECT_TRUE(host.goOnToGame);
    EXPECT_EQ("user=7&zone=3", host.flashVars());
}

// Before its data thread serves anyone, the local server learns from the dialog what its
// connections may reach: the cache directory and folders beneath it, addresses on the
// content server's, the game page's and the configured hosts, and none of the launcher's
// own files in the cache.
TEST_F(UpdateDialogTest, TheServerItHandsOverKnowsTheCacheTheHostsAndTheLauncherFiles) {
    PublishContent();
    TempDir cache;
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 30);
    const std::string gamePage = "http://localhost:" + std::to_string(testing_support::HttpServerPort());
    dialog.SetGamePageAddress((gamePage + "/page.xml").c_str());
    dialog.DoModal();
    ASSERT_TRUE(host.goOnToGame);

    CSessionServer* server = dynamic_cast<CSessionServer*>(FileSrvGetServer());
    ASSERT_NE(server, nullptr);
    CCacheScope& scope = server->Scope();
    wchar_t directory[MAX_PATH];
    wchar_t below[MAX_PATH];
    EXPECT_TRUE(scope.AcceptDirectory((Utf8FromWide(cache.path()) + "sub").c_str(), directory, MAX_PATH, below, MAX_PATH));
    EXPECT_STREQ(below, L"sub\\");
    EXPECT_FALSE(scope.AcceptDirectory("C:\\elsewhere", directory, MAX_PATH, below, MAX_PATH));
    for (const std::string& address : {ServerBase() + "/cdn/", gamePage + "/other/", std::string("http://assets.test:8080/")})
        EXPECT_TRUE(scope.AcceptResourceAddress(address.c_str())) << address;
    EXPECT_FALSE(scope.AcceptResourceAddress("http://assets.test/"));
    for (const wchar_t* name :
         {L"hashdict.txt", L"hashdict.zip", L"hashkey.txt", L"GameFrame.dat", L"Launcher_update.bat", L"-5Launcher_new.exe"})
        EXPECT_TRUE(scope.IsLauncherFile(name)) << Utf8FromWide(name);
    EXPECT_FALSE(scope.IsLauncherFile(L"data\\a.png"));
}

TEST_F(UpdateDialogTest, ADictionaryItemInAnotherLetterCaseIsFound) {
    PublishContent(GameFrame(), "HashDict.TXT");
    TempDir cache;
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 30);
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
    dialog.DoModal();
    EXPECT_TRUE(host.goOnToGame);
    EXPECT_TRUE(FileExists((cache.path() + L"hashdict.txt").c_str()));
}

TEST_F(UpdateDialogTest, AFileThatCannotBeWrittenIsNamedAndNeverReportedReady) {
    PublishContent();
    TempDir temp;
    std::wstring missing = temp.path() + L"not-there\\";
    TestHost host(missing);
    MessageBoxCatcher boxes;
    WatchedUpdateDlg dialog(host, 60);
    dialog.closeWhen = [&boxes] { return boxes.boxes().size() >= 2; };
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
    dialog.DoModal();
    EXPECT_TRUE(dialog.watchdogFired);
    EXPECT_FALSE(host.goOnToGame);
    EXPECT_FALSE(dialog.frameReady());
    EXPECT_FALSE(dialog.dictReady());
    std::vector<testing_support::CaughtBox> caught = boxes.boxes();
    ASSERT_EQ(2u, caught.size());
    for (const auto& box : caught) {
        bool namesAFile = box.text.find(missing + L"GameFrame.dat") != std::wstring::npos ||
                          box.text.find(missing + L"hashdict.txt") != std::wstring::npos;
        EXPECT_TRUE(namesAFile) << Utf8FromWide(box.text);
    }
}

TEST_F(UpdateDialogTest, NoFreePortMeansNoDownloads) {
    PublishContent();
    // Every port the server may try is taken.
    std::vector<SOCKET> taken;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    for (int port = 29898; port < 29898 + 200; ++port) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(s, 1) == 0)
            taken.push_back(s);
        else
            closesocket(s);
    }
    TempDir cache;
    TestHost host(cache.path());
    MessageBoxCatcher boxes;
    WatchedUpdateDlg dialog(host, 60);
    dialog.closeWhen = [&boxes] { return !boxes.boxes().empty(); };
    dialog.SetGamePageAddress((ServerBase() + "/page.xml").c_str());
    dialog.DoModal();
    for (SOCKET s : taken) closesocket(s);
    WSACleanup();
    EXPECT_TRUE(host.requests.empty());
    std::vector<testing_support::CaughtBox> caught = boxes.boxes();
    ASSERT_EQ(1u, caught.size());
    EXPECT_EQ(L"Bind port fail", caught[0].text);
}

TEST_F(UpdateDialogTest, ReturnAndEscapeDoNotCloseItAndTheRestartButtonDoes) {
    // A page that never answers keeps the dialog waiting.
    TempDir cache;
    TestHost host(cache.path());
    WatchedUpdateDlg dialog(host, 20);
    dialog.SetGamePageAddress((ServerBase() + "/__slow/30000/page.xml").c_str());
    bool stillOpen = false;
    dialog.onOpen = [&](WatchedUpdateDlg& d) {
        for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
            PostMessageW(d.m_hWnd, WM_KEYDOWN, key, 0);
            PostMessageW(d.m_hWnd, WM_KEYUP, key, 0);
        }
        MSG message;
        for (int i = 0; i < 20; ++i) {
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!d.PreTranslateMessage(&message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            Sleep(10);
        }
        stillOpen = d.IsWindowVisible() != FALSE;
        testing_support::SaveWindowShot(d.m_hWnd, L"update_dialog.png");
        d.restartButton().SendMessage(BM_CLICK);
    };
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(dialog.restarted);
    EXPECT_FALSE(dialog.watchdogFired);
}

TEST(TipText, OnlyTheIntegerConversionIsFilled) {
    struct Case {
        const wchar_t* format;
        const wchar_t* text;
    } cases[] = {
        {L"step %d done", L"step 3 done"},
        {L"100%% %d", L"100% 3"},
        {L"%s %d %d", L"%s 3 %d"},
        {L"no number", L"no number"},
        {L"trailing %", L"trailing %"},
    };
    for (const Case& c : cases) EXPECT_EQ(std::wstring(c.text), FormatTipText(c.format, 3)) << Utf8FromWide(c.format);
}

TEST(PortParameters, QuestionMarkDecidesTheSeparator) {
    EXPECT_EQ("http://g/p?connectPort=9898&clientversionz=2", AppendPortParameters("http://g/p", 9898));
    EXPECT_EQ("http://g/p?a=1&connectPort=9898&clientversionz=2", AppendPortParameters("http://g/p?a=1", 9898));
}

}  // namespace
