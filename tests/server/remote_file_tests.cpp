// The file service's misses, end to end: the session server, the HTTP client and a local
// content server (cdn_test_server.py, whose address arrives in LAUNCHER_CDN).
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "file_service_test_support.h"
#include "net_test_support.h"
#include "server/file_dictionary.h"
#include "server/file_server.h"
#include "server/scramble.h"
#include "server/session_server.h"
#include "server/suffix_list.h"
#include "support/test_support.h"
#include "update/http_client.h"

using namespace filetest;
using namespace nettest;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

std::string Cdn() {
    const char* address = getenv("LAUNCHER_CDN");
    return address ? address : "";
}

// One value of the content server's /stats line.
int CdnStat(const std::string& key) {
    const std::string cdn = Cdn();
    const int port = atoi(cdn.substr(cdn.rfind(':') + 1).c_str());
    TestClient client;
    if (!client.Connect(port) || !client.Send("GET /stats HTTP/1.0\r\nHost: x\r\n\r\n")) return -1;
    std::string answer, chunk;
    while (client.RecvExact(1, &chunk, 2000)) answer += chunk;
    const size_t at = answer.find(key + "=");
    return at == std::string::npos ? -1 : atoi(answer.c_str() + at + key.size() + 1);
}

struct Reply {
    int status = -1;
    uint32_t length = 0;
    std::string token;
    std::string rest;
};

class RemoteFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Cdn().empty()) GTEST_SKIP() << "run through cdn_test_server.py";
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        CCurlHttpClient* http = CCurlHttpClient::GetInstance();
        ASSERT_NE(http, nullptr);
        http->StartWorkers();
        FileSrvSetSuffixes(L"cbp,swf,zip,txt,dat");
        port = FileSrvStart(FindFreeRun(28000 + static_cast<int>(GetCurrentProcessId() % 100) * 20, 1));
        ASSERT_GT(port, 0);
        ASSERT_TRUE(FileSrvStartProcessing());
        FileSrvSetLocalDir(cache.path().c_str());
        FileSrvSetResourceBase(Cdn().c_str());
    }
    void TearDown() override {
        if (Cdn().empty()) return;
        FileSrvShutdown();
        CCurlHttpClient::Shutdown();
        WSACleanup();
    }

    std::wstring CachePath(const std::string& name) { return filetest::CachePath(cache.path(), name); }
    void Open(TestClient& client) {
        ASSERT_TRUE(client.Connect(port));
        ASSERT_TRUE(client.Handshake());
    }
    Reply Get(TestClient& client, const std::string& name, const std::string& token = "tk") {
        Reply reply;
        uint8_t type = 0;
        std::string payload;
        if (!client.Send(Frame(2, GetFilePayload(7, 8, 9, token, name))) ||
            !client.RecvFrame(&type, &payload, 20000) || type != 2 || payload.size() < 14)
            return reply;
        EXPECT_EQ(LoadU32(payload, 0), 7u);
        EXPECT_EQ(LoadU32(payload, 8), 9u);
        const size_t tokenLength = static_cast<uint8_t>(payload[12]);
        reply.token = payload.substr(14, tokenLength);
        const size_t at = 14 + tokenLength + 1;
        reply.status = static_cast<uint8_t>(payload[at]);
        reply.length = LoadU32(payload, at + 1);
        reply.rest = payload.substr(at + 5);
        return reply;
    }
    // The cache file as the save thread leaves it, once it is there whole.
    std::string WaitStored(const std::string& name, size_t size) {
        std::vector<uint8_t> bytes;
        WaitFor([&] {
            bytes = ReadFileBytes(CachePath(name));
            return bytes.size() == size;
        }, 10000);
        return std::string(bytes.begin(), bytes.end());
    }

    TempDir cache;
    int port = 0;
};

TEST_F(RemoteFileTest, AMissIsFetchedAnsweredStoredScrambledAndThenAHit) {
    struct Case {
        std::string name;
        size_t size;
    } cases[] = {{"ok/10/ten.dat", 10}, {"ok/70000/deep/big.swf", 70000}, {"redirect/300/r.png", 300}};
    TestClient client;
    Open(client);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string content = Pattern(c.size);
        List(c.name, c.name.find(".png") != std::string::npos ? static_cast<uint32_t>(c.size) : Crc(content));
        const int before = CdnStat("requests");
        const Reply miss = Get(client, c.name);
        ASSERT_EQ(miss.status, 0);
        EXPECT_EQ(miss.token, "tk");
        EXPECT_EQ(miss.length, c.size);
        EXPECT_TRUE(miss.rest == content);

        std::string expected = content;
        ScrambleWords(&expected[0], c.size < 256 ? c.size : 256);
        const std::string stored = WaitStored(c.name, c.size);
        EXPECT_TRUE(stored == expected);

        const Reply hit = Get(client, c.name);
        EXPECT_EQ(hit.status, 0);
        EXPECT_TRUE(hit.rest == content);
        EXPECT_EQ(CdnStat("requests"), before + (c.name[0] == 'r' ? 2 : 1));  // a redirect is two
    }
}

TEST_F(RemoteFileTest, AFailedFetchAnswersStatusOneWithTheAddressAndStoresNothing) {
    TestClient client;
    Open(client);
    const Reply reply = Get(client, "missing/gone.dat");
    ASSERT_EQ(reply.status, 1);
    EXPECT_EQ(reply.length, 8u);  // the 404 page's body "not here"
    EXPECT_EQ(reply.rest, Pstr(Cdn() + "missing/gone.dat"));
    Sleep(500);
    EXPECT_EQ(GetFileAttributesW(CachePath("missing/gone.dat").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(RemoteFileTest, StoredContentThatDoesNotMatchIsFetchedAgain) {
    List("ok/50/x.dat", Crc(Pattern(50)) ^ 1);
    TestClient client;
    Open(client);
    const int before = CdnStat("requests");
    EXPECT_EQ(Get(client, "ok/50/x.dat").status, 0);
    WaitStored("ok/50/x.dat", 50);
    EXPECT_EQ(Get(client, "ok/50/x.dat").status, 0);
    EXPECT_EQ(CdnStat("requests"), before + 2);
}

TEST_F(RemoteFileTest, AClientGoneBeforeItsFetchEndsGetsNothingButTheFileIsStored) {
    const std::string name = "slow/600/400/late.dat";
    List(name, Crc(Pattern(400)));
    {
        TestClient leaving;
        Open(leaving);
        ASSERT_TRUE(leaving.Send(Frame(2, GetFilePayload(1, 2, 3, "t", name))));
        ASSERT_TRUE(WaitFor([] { return CdnStat("concurrent") >= 1; }, 5000));
    }
    EXPECT_EQ(WaitStored(name, 400).size(), 400u);
    const int before = CdnStat("requests");
    TestClient next;
    Open(next);
    const Reply hit = Get(next, name);
    EXPECT_EQ(hit.status, 0);
    EXPECT_TRUE(hit.rest == Pattern(400));
    EXPECT_EQ(CdnStat("requests"), before);
}

TEST_F(RemoteFileTest, RefusedNamesNeverReachTheContentServer) {
    TestClient client;
    Open(client);
    const int before = CdnStat("requests");
    for (const char* name : {"ok/5/../../../escape.dat", "ok\\5\\x.dat", "/ok/5/x.dat", "C:/ok/5/x.dat"}) {
        const Reply reply = Get(client, name);
        EXPECT_EQ(reply.status, 1) << name;
        EXPECT_EQ(reply.rest, Pstr(Cdn() + name));
    }
    EXPECT_EQ(CdnStat("requests"), before);
}

}  // namespace
