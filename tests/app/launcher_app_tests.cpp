// The application object in this process: the content server's address reaching the
// local server, answers whose receiver does not exist, and an answer arriving at exit.
#include <gtest/gtest.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "app/launcher_app.h"
#include "server/file_server.h"
#include "server/session_server.h"
#include "support/test_support.h"
#include "update/http_client.h"

namespace {

TEST(LauncherApp, TheCdnAddressReachesTheLocalServer) {
    LauncherApp app;
    // Without a local server only the application keeps it.
    app.SetCdnAddress("http://cdn.test/early");
    EXPECT_EQ("http://cdn.test/early/", app.cdnAddress());

    ASSERT_GT(FileSrvStart(28600), 0);
    auto* server = dynamic_cast<CSessionServer*>(FileSrvGetServer());
    ASSERT_NE(nullptr, server);
    app.SetCdnAddress("http://cdn.test/res\\");
    EXPECT_EQ("http://cdn.test/res/", app.cdnAddress());
    EXPECT_EQ("http://cdn.test/res/", server->DefaultResourceBase());

    std::vector<testing_support::CaughtBox> boxes;
    {
        testing_support::MessageBoxCatcher catcher;
        app.SetCdnAddress("x");
        boxes = catcher.boxes();
    }
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"cdn address is nill", boxes[0].text);
    EXPECT_EQ("http://cdn.test/res/", app.cdnAddress());
    EXPECT_EQ("http://cdn.test/res/", server->DefaultResourceBase());
    FileSrvShutdown();
}

// Neither a version checker nor an update dialog exists: every answer is dropped.
TEST(LauncherApp, AnswersWithoutTheirReceiverAreDropped) {
    LauncherApp app;
    for (uint32_t kind : {6u, 7u, 8u, 3u, 1u, 4u}) {
        SCOPED_TRACE(kind);
        auto* request = new CCurlHttpRequest;
        request->SetUrl("http://127.0.0.1:1/late");
        request->SetContext("", static_cast<int32_t>(kind), 0, 0, 0);
        CCurlHttpResponse response(request);
        LauncherApp::OnRequestDone(&app, &response);
    }
    CCurlHttpResponse orphan(nullptr);
    LauncherApp::OnRequestDone(&app, &orphan);
    LauncherApp::OnRequestDone(&app, nullptr);
}

// The version checker asks for the configuration while it reads the version file. Asked
// on the local server's thread, this application holds that answer there for half a
// second after telling the test, so that the test can begin the exit meanwhile.
class ExitingApp : public LauncherApp {
public:
    ExitingApp() : answering(CreateEventW(nullptr, TRUE, FALSE, nullptr)), mainThread_(GetCurrentThreadId()) {}
    ~ExitingApp() override { CloseHandle(answering); }

    using LauncherApp::StartVersionCheck;

    LauncherConfig& config() override {
        if (GetCurrentThreadId() != mainThread_ && WaitForSingleObject(answering, 0) == WAIT_TIMEOUT) {
            SetEvent(answering);
            Sleep(500);
        }
        return LauncherApp::config();
    }

    void SendRequest(uint32_t kind, const char* address) override {
        sent.push_back({kind, address});
        LauncherApp::SendRequest(kind, address);
    }

    HANDLE answering;
    std::vector<std::pair<uint32_t, std::string>> sent;

private:
    DWORD mainThread_;
};

// The application exits while the version checker is in the middle of an answer that the
// local server's thread delivered: the checker finishes it (and asks for the new
// executable) before it is deleted. Deleted first, it would go on in freed memory.
TEST(LauncherApp, AnAnswerArrivingDuringTheExitFinishesBeforeItsReceiverGoes) {
    ASSERT_TRUE(testing_support::PublishOnHttpServer("exit/version.txt", "9.9"));
    const std::string port = std::to_string(testing_support::HttpServerPort());
    ExitingApp app;
    const std::string ini = "[global]\nlinkCount=1\nserver=127.0.0.1\nport=" + port +
                            "\nversionUrl=/exit/version.txt\nexeUrl=/exit/new.exe\n";
    ASSERT_TRUE(app.config().ParseIniText(ini.data(), ini.size()) && app.config().ReadSettings());
    ASSERT_GT(FileSrvStart(28650), 0);
    ASSERT_TRUE(FileSrvStartProcessing());
    CCurlHttpClient::GetInstance()->StartWorkers();

    app.StartVersionCheck();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(app.answering, 30000)) << "the version file was not delivered";
    OleInitialize(nullptr);  // ExitInstance ends what start-up began
    app.ExitInstance();

    ASSERT_EQ(2u, app.sent.size());
    EXPECT_EQ(6u, app.sent[0].first);
    EXPECT_EQ(7u, app.sent[1].first);
    EXPECT_EQ("http://127.0.0.1:" + port + "/exit/new.exe", app.sent[1].second);
}

}  // namespace
