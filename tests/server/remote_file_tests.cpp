// The file service's misses, end to end: the session server, the HTTP client and a local
// content server (cdn_test_server.py, whose address arrives in LAUNCHER_CDN).
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
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
using testing_support::WriteFileBytes;

namespace {

std::string Cdn() {
    const char* address = getenv("LAUNCHER_CDN");
    return address ? address : "";
}

// The content server's answer to a control path (/stats, /stats/reset).
std::string CdnControl(const std::string& path) {
    const std::string cdn = Cdn();
    const int port = atoi(cdn.substr(cdn.rfind(':') + 1).c_str());
    TestClient client;
    if (!client.Connect(port) || !client.Send("GET " + path + " HTTP/1.0\r\nHost: x\r\n\r\n")) return "";
    std::string answer, chunk;
    while (client.RecvExact(1, &chunk, 2000)) answer += chunk;
    return answer;
}

// One value of the content server's /stats line.
int CdnStat(const std::string& key) {
    const std::string answer = CdnControl("/stats");
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

// Misses beyond the budget of bodies in flight wait and start as earlier ones end: all
// are answered, and no more run at once than the budget holds.
TEST_F(RemoteFileTest, MissesBeyondTheBodyBudgetWaitTheirTurn) {
    const size_t running = CSessionServer::kMissBodyBudget / CSessionServer::kMissBodyCap;
    const int count = static_cast<int>(running) * 2 + 2;
    CdnControl("/stats/reset");
    TestClient client;
    Open(client);
    std::string frames;
    for (int i = 0; i < count; ++i) {
        const std::string name = "slow/300/" + std::to_string(1000 + i) + "/w" + std::to_string(i) + ".dat";
        frames += Frame(2, GetFilePayload(static_cast<uint32_t>(i), 0, 0, "t", name));
    }
    ASSERT_TRUE(client.Send(frames));
    std::vector<bool> answered(count, false);
    for (int i = 0; i < count; ++i) {
        uint8_t type = 0;
        std::string payload;
        ASSERT_TRUE(client.RecvFrame(&type, &payload, 20000)) << i;
        const uint32_t word1 = LoadU32(payload, 0);
        ASSERT_LT(word1, static_cast<uint32_t>(count));
        const size_t at = 14 + 1 + 1;  // token "t"
        EXPECT_EQ(static_cast<uint8_t>(payload[at]), 0);
        EXPECT_TRUE(payload.substr(at + 5) == Pattern(1000 + word1));
        answered[word1] = true;
    }
    EXPECT_EQ(std::count(answered.begin(), answered.end(), true), count);
    const int most = CdnStat("max_active");
    EXPECT_GE(most, 1);
    EXPECT_LE(most, static_cast<int>(running));
}

// Names that would leave the cache, reach one of the launcher's own files in it, open a
// device or name a stream are answered with status 1 and the address, and never
// fetched; the launcher's files stay as they were. The same names beneath another
// directory, or without the download's number, are plain resources.
TEST_F(RemoteFileTest, RefusedNamesNeverReachTheContentServer) {
    const std::vector<std::wstring> launcherFiles = {L"hashdict.txt", L"hashdict.zip", L"hashkey.txt", L"GameFrame.dat",
                                                     L"Launcher_update.bat"};
    FileSrvSetLauncherFiles(launcherFiles, L"Launcher_new.exe");
    std::vector<std::wstring> written = launcherFiles;
    written.push_back(L"1234Launcher_new.exe");
    for (const std::wstring& name : written) ASSERT_TRUE(WriteFileBytes(cache.path() + name, "mine", 4));

    const std::string base = Cdn() + "ok/10/";
    TestClient client;
    Open(client);
    ASSERT_TRUE(client.Send(Frame(1, Pstr(Utf8FromWide(cache.path())) + Pstr(base))));
    const int before = CdnStat("requests");
    for (const char* name :
         {"ok/5/../../../escape.dat", "ok\\5\\x.dat", "/ok/5/x.dat", "C:/ok/5/x.dat", "hashdict.txt", "HASHDICT.TXT",
          "hashdict.zip", "hashkey.txt", "GameFrame.dat", "Launcher_update.bat", "launcher_UPDATE.bat",
          "1234Launcher_new.exe", "-99launcher_new.EXE", "LAUNCH~1.BAT", "Launcher_update.bat.", "./hashdict.txt",
          "x/../hashdict.txt", "CON", "con.dat", "data/NUL.txt", "COM9", "lpt1.txt", "x.dat:stream",
          "x.dat::$DATA", "ctl\x01.dat"}) {
        const Reply reply = Get(client, name);
        EXPECT_EQ(reply.status, 1) << name;
        EXPECT_EQ(reply.rest, Pstr(base + name));
    }
    EXPECT_EQ(CdnStat("requests"), before);
    for (const std::wstring& name : written)
        EXPECT_EQ(ReadFileBytes(cache.path() + name), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));

    EXPECT_EQ(Get(client, "Launcher_new.exe").status, 0);
    ASSERT_TRUE(client.Send(Frame(1, Pstr(Utf8FromWide(cache.path()) + "sub") + Pstr(base))));
    for (const char* name : {"hashdict.txt", "1234Launcher_new.exe"}) {
        EXPECT_EQ(Get(client, name).status, 0) << name;
        EXPECT_EQ(WaitStored(std::string("sub/") + name, 10).size(), 10u);
    }
    EXPECT_EQ(CdnStat("requests"), before + 3);
}

// The resource address a connection may choose lies on the content server's host and
// port, the game page's or a configured one. Any other is refused and logged, and the
// connection keeps its address: here the content server's root, which answers "a.dat"
// with 404.
TEST_F(RemoteFileTest, SetAddressesTakesOnlyAddressesOnTheAllowedHosts) {
    const std::string cdnPort = Cdn().substr(Cdn().rfind(':') + 1, Cdn().size() - Cdn().rfind(':') - 2);
    const std::string otherPort = std::to_string(atoi(cdnPort.c_str()) + 1);
    const std::string local = "http://localhost:" + cdnPort;
    struct Case {
        std::string gamePage;
        std::string hostList;
        std::string base;
        int fetched;  // bytes of the answer; -1: refused
    } cases[] = {
        {local + "/game_client.php?connectPort=1", "", Cdn() + "ok/3/", 3},
        {local + "/game_client.php?connectPort=1", "", "HTTP://127.0.0.1:" + cdnPort + "/ok/4", 4},
        {local + "/game_client.php?connectPort=1", "", local + "/ok/5/", 5},
        {"http://game.test/", "other.test, LOCALHOST:" + cdnPort, local + "/ok/6/", 6},
        {"http://game.test/", "", local + "/ok/7/", -1},
        {local + "/game_client.php", "", "http://127.0.0.1:" + otherPort + "/ok/7/", -1},
        {"http://game.test/", "localhost", local + "/ok/7/", -1},
        {"http://game.test/", "127.0.0.1:" + otherPort, Cdn() + "ok/8/", 8},
        {local + "/game_client.php", "", "http://evil.test/ok/7/", -1},
        {local + "/game_client.php", "", "http://x@127.0.0.1:" + cdnPort + "/ok/7/", -1},
        {local + "/game_client.php", "", "http://evil.test\\@127.0.0.1:" + cdnPort + "/ok/7/", -1},
        {local + "/game_client.php", "", "ftp://127.0.0.1:" + cdnPort + "/ok/7/", -1},
        {local + "/game_client.php", "", "//127.0.0.1:" + cdnPort + "/ok/7/", -1},
        {local + "/game_client.php", "", "127.0.0.1:" + cdnPort + "/ok/7/", -1},
    };
    LogCapture log;
    int refused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base + " with " + c.gamePage + " [" + c.hostList + "]");
        FileSrvSetResourceHosts(c.gamePage.c_str(), c.hostList.c_str());
        TestClient client;
        Open(client);
        ASSERT_TRUE(client.Send(Frame(1, Pstr(Utf8FromWide(cache.path())) + Pstr(c.base))));
        const Reply reply = Get(client, "a.dat");
        if (c.fetched < 0) {
            ++refused;
            EXPECT_EQ(reply.status, 1);
            EXPECT_EQ(reply.rest, Pstr(Cdn() + "a.dat"));
        } else {
            EXPECT_EQ(reply.status, 0);
            EXPECT_EQ(reply.length, static_cast<uint32_t>(c.fetched));
        }
    }
    EXPECT_EQ(log.Count(L"refused resource address"), refused);
}

// A connection that names a directory outside the cache keeps the cache: what it fetches
// lands there, and nothing in the other directory.
TEST_F(RemoteFileTest, NothingIsWrittenOutsideTheCache) {
    TempDir outside;
    const std::string outsideDir = Utf8FromWide(outside.path());
    const std::string outsideName = outsideDir.substr(outsideDir.rfind('\\', outsideDir.size() - 2) + 1);
    const std::string cacheDir = Utf8FromWide(cache.path());
    const std::string directories[] = {outsideDir, cacheDir + "..\\" + outsideName, "\\\\127.0.0.1\\" +
                                       outsideDir.substr(0, 1) + "$" + outsideDir.substr(2), "\\\\?\\" + outsideDir};
    int index = 0;
    for (const std::string& directory : directories) {
        SCOPED_TRACE(directory);
        const std::string name = "ok/20/w" + std::to_string(index++) + ".dat";
        TestClient client;
        Open(client);
        ASSERT_TRUE(client.Send(Frame(1, Pstr(directory) + Pstr(Cdn()))));
        EXPECT_EQ(Get(client, name).status, 0);
        EXPECT_EQ(WaitStored(name, 20).size(), 20u);
    }
    // Only an empty directory can be removed.
    EXPECT_TRUE(RemoveDirectoryW(outside.path().c_str()));
}

}  // namespace
