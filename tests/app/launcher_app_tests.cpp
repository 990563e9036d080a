// The application object in this process: the content server's address reaching the
// local server, and answers whose receiver does not exist.
#include <gtest/gtest.h>

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

}  // namespace
