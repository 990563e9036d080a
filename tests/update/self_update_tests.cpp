// The self-update: server addresses and the batch text on their own;
// then the whole check against the HTTP test server through the real HTTP client, with
// a host that routes answers back the way the application does, unsigned and signed with
// minisign keys made at build time; and the batch run by the system's own cmd.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/launcher_host.h"
#include "framework/paths.h"
#include "ravlib/log.h"
#include "support/test_support.h"
#include "update/http_client.h"
#include "update/version_checker.h"

using testing_support::FixturePath;
using testing_support::PublishOnHttpServer;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

int ServerPort() { return testing_support::HttpServerPort(); }

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::vector<std::wstring> FilesIn(const std::wstring& directory) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((directory + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

// The self-update's lines logged while it exists (the HTTP client logs lines of its own).
class LogRecorder {
public:
    LogRecorder() { ravlib::SetLogSink(Record); }
    ~LogRecorder() {
        ravlib::SetLogSink(nullptr);
        lines_.clear();
    }
    const std::vector<std::wstring>& lines() const { return lines_; }
    std::string text() const {
        std::string all;
        for (const std::wstring& line : lines_) all += Utf8FromWide(line) + "\n";
        return all;
    }

private:
    static int Record(int, const wchar_t* text, int length) {
        if (wcsncmp(text, L"self-update", 11) == 0) lines_.emplace_back(text, static_cast<size_t>(length));
        return 0;
    }
    static std::vector<std::wstring> lines_;
};
std::vector<std::wstring> LogRecorder::lines_;

std::string SignedFixture(const std::wstring& name) { return Text(ReadFileBytes(FixturePath(L"signed_update/" + name))); }

// Whether WM_QUIT was posted to this thread; takes it off the queue.
bool TakeQuitMessage() {
    MSG message;
    return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

TEST(ServerUrl, SchemeHostPortAndPath) {
    struct Case {
        const char* host;
        int32_t port;
        const char* path;
        const char* url;
    } cases[] = {
        {"update.example.com", 80, "/client/chn1/version.txt", "http://update.example.com:80/client/chn1/version.txt"},
        {"http://update.example.com", 8080, "/v.txt", "http://update.example.com:8080/v.txt"},
        {"HTTP://Update.Example.com", 80, "/v.txt", "HTTP://Update.Example.com:80/v.txt"},
        {"httpd.example.com", 80, "/v.txt", "http://httpd.example.com:80/v.txt"},
        {"10.0.0.1", 0, "", "http://10.0.0.1:0"},
        {"", 80, "/v.txt", ""},
        {nullptr, 80, "/v.txt", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host ? c.host : "(null)");
        EXPECT_EQ(BuildServerUrl(c.host, c.port, c.path), c.url);
    }
}

TEST(UpdateBatch, FourLinesWithDoubledBackslashes) {
    // A launcher directly below a drive root: two backslashes between drive and name.
    EXPECT_EQ(BuildUpdateBatch(L"C:\\vexa_tol\\1234Launcher.exe", L"Launcher.exe", L"C:\\vexa_tol\\",
                               L"C:\\Launcher.exe"),
              L"@ping 127.0.0.1 -n 1 -w 1000 > nul \r\n"
              L"rename  \"C:\\\\vexa_tol\\\\1234Launcher.exe\" \"Launcher.exe\"\r\n"
              L"move  \"C:\\\\vexa_tol\\\\Launcher.exe\" \"C:\\\\Launcher.exe\"\r\n"
              L"\"C:\\\\Launcher.exe\"\r\n");
    EXPECT_EQ(BuildUpdateBatch(L"D:\\Games\\My Game\\cache\\a\\-5Game.exe", L"Game.exe", L"D:\\Games\\My Game\\cache\\a\\",
                               L"D:\\Games\\My Game\\Game.exe"),
              L"@ping 127.0.0.1 -n 1 -w 1000 > nul \r\n"
              L"rename  \"D:\\\\Games\\\\My Game\\\\cache\\\\a\\\\-5Game.exe\" \"Game.exe\"\r\n"
              L"move  \"D:\\\\Games\\\\My Game\\\\cache\\\\a\\\\Game.exe\" \"D:\\\\Games\\\\My Game\\\\Game.exe\"\r\n"
              L"\"D:\\\\Games\\\\My Game\\\\Game.exe\"\r\n");
    // cmd would expand %PATH% (and drop a lone "%") in a path written as it is.
    EXPECT_EQ(BuildUpdateBatch(L"E:\\100% %PATH%\\c\\7L.exe", L"L.exe", L"E:\\100% %PATH%\\c\\",
                               L"E:\\100% %PATH%\\L.exe"),
              L"@ping 127.0.0.1 -n 1 -w 1000 > nul \r\n"
              L"rename  \"E:\\\\100%% %%PATH%%\\\\c\\\\7L.exe\" \"L.exe\"\r\n"
              L"move  \"E:\\\\100%% %%PATH%%\\\\c\\\\L.exe\" \"E:\\\\100%% %%PATH%%\\\\L.exe\"\r\n"
              L"\"E:\\\\100%% %%PATH%%\\\\L.exe\"\r\n");
}

// The file name part of the executable's address names the new file in the cache.
TEST(UpdateBatch, FileNameOfAddress) {
    EXPECT_EQ(UrlFileName("/client/chn1/Launcher.exe"), "Launcher.exe");
    EXPECT_EQ(UrlFileName("http://h/a\\b/new.exe"), "new.exe");
    EXPECT_EQ(UrlFileName("Launcher.exe"), "Launcher.exe");
    EXPECT_EQ(UrlFileName("/dir/"), "");
}

struct SentRequest {
    uint32_t kind;
    std::string address;
};

// What the application offers the self-update: the configuration, the cache directory,
// SendRequest through the shared HTTP client, and the answers routed to the checker.
class TestHost : public LauncherHost {
public:
    explicit TestHost(std::wstring cacheDirectory) : cacheDirectory_(std::move(cacheDirectory)) {}

    bool Configure(const std::string& ini) {
        const std::string text = "[global]\nlinkCount=1\n" + ini;
        return config_.ParseIniText(text.data(), text.size()) && config_.ReadSettings();
    }
    void SetChecker(VersionChecker* checker) { checker_ = checker; }

    // Dispatches on this thread until every request has been answered (at most 60 s).
    bool Pump() {
        for (int i = 0; i < 6000 && pending_ > 0; ++i) {
            CCurlHttpClient::GetInstance()->DispatchResponses();
            Sleep(10);
        }
        return pending_ == 0;
    }

    LauncherConfig& config() override { return config_; }
    const std::wstring& cacheDirectory() const override { return cacheDirectory_; }
    void SetRunUpdateBatch() override { runUpdateBatch = true; }

    void SendRequest(uint32_t kind, const char* address) override {
        sent.push_back({kind, address});
        CCurlHttpRequest* request = new CCurlHttpRequest;
        request->SetUrl(address);
        request->SetMethod(kHttpGet);
        request->SetSaveToFile(false);
        request->SetContext("", static_cast<int32_t>(kind), 0, 0, 0);
        request->SetCallback(OnRequestDone, this);
        ++pending_;
        if (CCurlHttpClient::GetInstance()->AddRequest(request) != 0) {
            delete request;
            --pending_;
        }
    }

    void SetGameAddress(const char*) override {}
    void SetCdnAddress(const char*) override {}
    const std::string& cdnAddress() const override { return empty_; }
    void SetFlashVars(const char*) override {}
    const std::string& flashVars() const override { return empty_; }
    void SetGoOnToGame() override {}
    bool IsStartedWithArgument() const override { return false; }
    void SetStartedWithArgument(bool) override {}
    INT_PTR RunUpdateAndGame() override { return 0; }
    INT_PTR ShowLoginWindow() override { return 0; }

    std::vector<SentRequest> sent;
    bool runUpdateBatch = false;

private:
    static void OnRequestDone(void* user, CCurlHttpResponse* response) {
        TestHost* self = static_cast<TestHost*>(user);
        const uint32_t kind = static_cast<uint32_t>(response->GetRequest()->GetTag());
        if ((kind == kDownloadVersionFile || kind == kDownloadNewLauncher || kind == kDownloadUpdateSignature) &&
            self->checker_)
            self->checker_->OnAnswer(kind, response->GetSuccess(), response->GetBody(), response->GetBodyLength());
        --self->pending_;
    }

    LauncherConfig config_;
    std::wstring cacheDirectory_;
    VersionChecker* checker_ = nullptr;
    int pending_ = 0;
    std::string empty_;
};

class SelfUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(ServerPort(), 0) << "LAUNCHER_HTTP_PORT is not set";
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        CCurlHttpClient* client = CCurlHttpClient::GetInstance();
        ASSERT_NE(client, nullptr);
        ASSERT_TRUE(client->StartWorkers());
        TakeQuitMessage();
    }
    void TearDown() override {
        TakeQuitMessage();
        CCurlHttpClient::Shutdown();
        WSACleanup();
    }

    // Runs a whole check with the launcher at localVersion against the files published
    // under /<folder>/, caching into cacheDirectory, and returns the host's record.
    struct Run {
        std::vector<SentRequest> sent;
        bool runUpdateBatch;
        bool quitPosted;
    };
    // The new executable is fetched from exeUrl, or from /<folder>/dl/Launcher.exe.
    Run Check(const std::wstring& cacheDirectory, const std::string& folder, const std::string& localVersion,
              const std::string& server = "127.0.0.1", std::string exeUrl = "", const std::string& updateKey = "") {
        if (exeUrl.empty()) exeUrl = "/" + folder + "/dl/Launcher.exe";
        TestHost host(cacheDirectory);
        EXPECT_TRUE(host.Configure("server=" + server + "\nport=" + std::to_string(ServerPort()) +
                                   "\nversion=" + localVersion + "\nversionUrl=/" + folder +
                                   "/version.txt\nexeUrl=" + exeUrl + "\nupdateKey=" + updateKey + "\n"));
        const LauncherSettings& s = host.config().settings();
        VersionChecker checker(host, s.server, s.port, s.versionUrl);
        host.SetChecker(&checker);
        checker.StartCheck();
        EXPECT_TRUE(host.Pump());
        return {host.sent, host.runUpdateBatch, TakeQuitMessage()};
    }

    std::string VersionAddress(const std::string& folder) {
        return "http://127.0.0.1:" + std::to_string(ServerPort()) + "/" + folder + "/version.txt";
    }
    std::string ExeAddress(const std::string& folder) {
        return "http://127.0.0.1:" + std::to_string(ServerPort()) + "/" + folder + "/dl/Launcher.exe";
    }

    TempDir cache_;
};

TEST_F(SelfUpdateTest, NewerPublishedVersionInstallsTheExecutableThroughTheBatch) {
    struct Case {
        const char* folder;
        const char* local;
        const char* published;  // null: no version file (404)
        bool update;
    } cases[] = {
        {"minor_up", "1.11", "1.12", true},
        {"same", "1.11", "1.11", false},
        {"smaller_minor", "1.11", "1.9", false},
        {"major_up", "1.11", "2.0", true},
        {"no_local", "", "0.1", true},
        {"third_piece", "1.11", "1.11.5\r\n", false},
        {"two_digit_minor", "1.2", "1.11\r\n", true},
        {"no_version_file", "1.11", nullptr, false},
    };
    const std::string exe = "MZ new launcher \x01\x02\x00\xff bytes";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        if (c.published) {
            ASSERT_TRUE(PublishOnHttpServer(std::string(c.folder) + "/version.txt", c.published));
        }
        ASSERT_TRUE(PublishOnHttpServer(std::string(c.folder) + "/dl/Launcher.exe", exe));

        TempDir cache;
        Run run = Check(cache.path(), c.folder, c.local);

        ASSERT_EQ(run.sent.size(), c.update ? 2u : 1u);
        EXPECT_EQ(run.sent[0].kind, kDownloadVersionFile);
        EXPECT_EQ(run.sent[0].address, VersionAddress(c.folder));
        EXPECT_EQ(run.runUpdateBatch, c.update);
        EXPECT_EQ(run.quitPosted, c.update);
        std::vector<std::wstring> files = FilesIn(cache.path());
        if (!c.update) {
            EXPECT_TRUE(files.empty());
            continue;
        }
        EXPECT_EQ(run.sent[1].kind, kDownloadNewLauncher);
        EXPECT_EQ(run.sent[1].address, ExeAddress(c.folder));
        // <tick>Launcher.exe and the batch.
        ASSERT_EQ(files.size(), 2u);
        const std::wstring newName = files[0];
        EXPECT_EQ(files[1], L"Launcher_update.bat");
        ASSERT_GT(newName.size(), wcslen(L"Launcher.exe"));
        EXPECT_EQ(newName.substr(newName.size() - 12), L"Launcher.exe");
        EXPECT_EQ(newName.find_first_not_of(L"-0123456789"), newName.size() - 12);
        EXPECT_EQ(Text(ReadFileBytes(cache.path() + newName)), exe);

        const std::wstring launcher = ModulePath();
        std::string expected;
        ASSERT_TRUE(ExactAnsiFromWide(BuildUpdateBatch(cache.path() + newName, launcher.substr(launcher.rfind(L'\\') + 1),
                                                  cache.path(), launcher),
                                 &expected));
        EXPECT_EQ(Text(ReadFileBytes(cache.path() + L"Launcher_update.bat")), expected);
    }
}

// With an updateKey the executable is installed only when its signature verifies with
// that key and names the published version; otherwise nothing is written, the launcher
// is not asked to end, and one log line says why.
TEST_F(SelfUpdateTest, SignedUpdateIsInstalledOnlyWhenItsSignatureHoldsUp) {
    const std::string releaseKey = SignedFixture(L"update_key.txt");
    const std::string exe = SignedFixture(L"Launcher_new.exe");
    ASSERT_FALSE(exe.empty());
    std::string tampered = exe;
    tampered[tampered.size() / 2] ^= 0x01;
    struct Case {
        const char* folder;
        const wchar_t* signature;  // null: none published (404)
        bool tamper;
        std::string updateKey;
        const wchar_t* logged;
    } cases[] = {
        {"signed", L"genuine.minisig", false, releaseKey, L"self-update to 1.12: signature verified with key id "},
        {"signed_legacy", L"legacy.minisig", false, releaseKey, L"self-update to 1.12: signature verified"},
        {"tampered", L"genuine.minisig", true, releaseKey, L"the signature does not match the executable"},
        {"unsigned", nullptr, false, releaseKey, L"no signature could be fetched from http://127.0.0.1:"},
        {"other_key", L"other_key.minisig", false, releaseKey, L"the signature was made with another key (key id "},
        {"rolled_back", L"older.minisig", false, releaseKey, L"the executable is signed as version 1.10"},
        {"own_version", L"same_as_own.minisig", false, releaseKey, L"the executable is signed as version 1.11"},
        {"later_than_published", L"later.minisig", false, releaseKey, L"the executable is signed as version 1.13"},
        {"no_version", L"no_version.minisig", false, releaseKey, L"trusted comment names no version"},
        {"key_cut_short", L"genuine.minisig", false, releaseKey.substr(0, releaseKey.size() - 4),
         L"the package's updateKey is not a minisign public key"},
        {"key_file_comment", L"genuine.minisig", false, "untrusted comment: minisign public key 0123456789ABCDEF",
         L"the package's updateKey is not a minisign public key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string folder = c.folder;
        ASSERT_TRUE(PublishOnHttpServer(folder + "/version.txt", "1.12"));
        ASSERT_TRUE(PublishOnHttpServer(folder + "/dl/Launcher.exe", c.tamper ? tampered : exe));
        if (c.signature) {
            ASSERT_TRUE(PublishOnHttpServer(folder + "/dl/Launcher.exe.minisig", SignedFixture(c.signature)));
        }
        const bool keyDecodes = c.updateKey == releaseKey;
        const bool installed = wcsstr(c.logged, L"signature verified") != nullptr;

        TempDir cache;
        LogRecorder log;
        Run run = Check(cache.path(), folder, "1.11", "127.0.0.1", "", c.updateKey);

        ASSERT_EQ(log.lines().size(), 1u) << log.text();
        EXPECT_NE(log.lines()[0].find(L"self-update to 1.12"), std::wstring::npos) << log.text();
        EXPECT_NE(log.lines()[0].find(c.logged), std::wstring::npos) << log.text();
        std::vector<uint32_t> kinds;
        for (const SentRequest& sent : run.sent) kinds.push_back(sent.kind);
        if (!keyDecodes) {
            // Nothing is fetched that could not be checked.
            EXPECT_EQ(kinds, std::vector<uint32_t>{kDownloadVersionFile});
        } else {
            ASSERT_EQ(kinds, (std::vector<uint32_t>{kDownloadVersionFile, kDownloadNewLauncher, kDownloadUpdateSignature}));
            EXPECT_EQ(run.sent[2].address, ExeAddress(folder) + ".minisig");
        }
        EXPECT_EQ(run.runUpdateBatch, installed);
        EXPECT_EQ(run.quitPosted, installed);
        const std::vector<std::wstring> files = FilesIn(cache.path());
        if (!installed) {
            EXPECT_TRUE(files.empty());
            continue;
        }
        ASSERT_EQ(files.size(), 2u);
        EXPECT_EQ(files[1], L"Launcher_update.bat");
        EXPECT_EQ(Text(ReadFileBytes(cache.path() + files[0])), exe);
    }
}

TEST_F(SelfUpdateTest, ServerGivenWithSchemeIsNotPrefixedTwice) {
    ASSERT_TRUE(PublishOnHttpServer("scheme/version.txt", "9.0"));
    ASSERT_TRUE(PublishOnHttpServer("scheme/dl/Launcher.exe", "new"));
    Run run = Check(cache_.path(), "scheme", "1.0", "http://127.0.0.1");
    ASSERT_EQ(run.sent.size(), 2u);
    EXPECT_EQ(run.sent[0].address, VersionAddress("scheme"));
    EXPECT_EQ(run.sent[1].address, ExeAddress("scheme"));
    EXPECT_TRUE(run.runUpdateBatch);
}

// The launcher must never be replaced by something that is not the whole new executable.
TEST_F(SelfUpdateTest, ExecutableThatCannotBeHadWholeInstallsNothing) {
    struct Case {
        const char* folder;
        const char* exeUrl;
        const char* published;  // null: nothing there (404)
    } cases[] = {
        {"missing_exe", "/missing_exe/dl/Launcher.exe", nullptr},
        {"empty_exe", "/empty_exe/dl/Launcher.exe", ""},
        {"server_error", "/__status/500", nullptr},
        // The query stays in the file name part, where Windows allows no '?'.
        {"unwritable_name", "/unwritable_name/dl/Launcher.exe?v=2", "new launcher"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        ASSERT_TRUE(PublishOnHttpServer(std::string(c.folder) + "/version.txt", "1.12"));
        if (c.published) {
            ASSERT_TRUE(PublishOnHttpServer(std::string(c.folder) + "/dl/Launcher.exe", c.published));
        }
        TempDir cache;
        Run run = Check(cache.path(), c.folder, "1.11", "127.0.0.1", c.exeUrl);

        ASSERT_EQ(run.sent.size(), 2u);
        EXPECT_EQ(run.sent[1].kind, kDownloadNewLauncher);
        EXPECT_TRUE(FilesIn(cache.path()).empty());
        EXPECT_FALSE(run.runUpdateBatch);
        EXPECT_FALSE(run.quitPosted);
    }
}

// Every start would otherwise download again and leave one more executable in the cache.
TEST_F(SelfUpdateTest, BatchThatCannotBeCreatedLeavesNothingAndAsksForNoExit) {
    ASSERT_TRUE(PublishOnHttpServer("blocked/version.txt", "1.12"));
    ASSERT_TRUE(PublishOnHttpServer("blocked/dl/Launcher.exe", "new launcher"));
    ASSERT_TRUE(CreateDirectoryW((cache_.path() + L"Launcher_update.bat").c_str(), nullptr));

    Run run = Check(cache_.path(), "blocked", "1.11");

    ASSERT_EQ(run.sent.size(), 2u);
    EXPECT_FALSE(run.runUpdateBatch);
    EXPECT_FALSE(run.quitPosted);
    EXPECT_TRUE(FilesIn(cache_.path()).empty());
}

// The batch as the application runs it at exit (its path as the command line, hidden, at
// idle priority), here waited for: the launcher is replaced and the new one started.
TEST(UpdateBatchRun, ReplacesTheLauncherAndStartsTheNewOne) {
    TempDir temp;
    // Blanks and percent signs in the path: cmd must see them as they are.
    const std::wstring programDirectory = temp.path() + L"My 100% %PATH% Game\\";
    const std::wstring cacheDirectory = programDirectory + L"vexa_tol\\";
    ASSERT_TRUE(CreateDirectoryPath(cacheDirectory.c_str()));
    const std::wstring launcher = programDirectory + L"Launcher.exe";
    ASSERT_TRUE(WriteFileBytes(launcher, "old launcher", 12));

    const std::wstring modulePath = ModulePath();
    const std::wstring marker = modulePath.substr(0, modulePath.rfind(L'\\') + 1) + L"update_marker.exe";
    const std::vector<uint8_t> newBytes = ReadFileBytes(marker);
    ASSERT_FALSE(newBytes.empty()) << "update_marker.exe is missing";
    const std::wstring newExe = cacheDirectory + L"-12345Launcher.exe";
    ASSERT_TRUE(WriteFileBytes(newExe, newBytes.data(), newBytes.size()));

    std::string batch;
    ASSERT_TRUE(ExactAnsiFromWide(BuildUpdateBatch(newExe, L"Launcher.exe", cacheDirectory, launcher), &batch));
    const std::wstring batchPath = cacheDirectory + kUpdateBatchName;
    ASSERT_TRUE(WriteFileBytes(batchPath, batch.data(), batch.size()));

    std::wstring commandLine = batchPath;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, IDLE_PRIORITY_CLASS, nullptr,
                               nullptr, &startup, &process))
        << GetLastError();
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    const std::wstring started = programDirectory + L"started.txt";
    for (int i = 0; i < 1000 && GetFileAttributesW(started.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
    EXPECT_EQ(ReadFileBytes(launcher), newBytes);
    std::vector<uint8_t> startedFrom = ReadFileBytes(started);
    std::wstring startedPath(reinterpret_cast<const wchar_t*>(startedFrom.data()), startedFrom.size() / sizeof(wchar_t));
    EXPECT_EQ(_wcsicmp(startedPath.c_str(), launcher.c_str()), 0) << Utf8FromWide(startedPath);
    EXPECT_EQ(FilesIn(cacheDirectory), std::vector<std::wstring>{L"Launcher_update.bat"});
}

}  // namespace
