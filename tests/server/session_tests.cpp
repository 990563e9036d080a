// The file session service end to end: the server that FileSrvStart creates, real
// loopback connections and a real cache directory.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <ctype.h>
#include <stdint.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "file_service_test_support.h"
#include "net_test_support.h"
#include "ravlib/stream.h"
#include "server/file_dictionary.h"
#include "server/file_server.h"
#include "server/scramble.h"
#include "server/session_server.h"
#include "server/suffix_list.h"
#include "stream_mutation.h"
#include "support/test_support.h"

using namespace filetest;
using namespace nettest;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

const char kBase[] = "http://cdn.test/res/";

struct Reply {
    uint32_t words[3];
    std::string token;
    int status = -1;
    uint32_t length = 0;
    std::string rest;  // the content, or the address's packet string
};

bool ParseReply(const std::string& payload, Reply* reply) {
    if (payload.size() < 14) return false;
    for (int i = 0; i < 3; ++i) reply->words[i] = LoadU32(payload, 4 * i);
    const size_t tokenLength = static_cast<uint8_t>(payload[12]) | static_cast<uint8_t>(payload[13]) << 8;
    size_t at = 14 + tokenLength + 1;
    if (payload.size() < at + 5) return false;
    reply->token = payload.substr(14, tokenLength);
    reply->status = static_cast<uint8_t>(payload[at]);
    reply->length = LoadU32(payload, at + 1);
    reply->rest = payload.substr(at + 5);
    return true;
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        FileSrvSetSuffixes(L"cbp,swf,zip,txt,dat");
        const int base = FindFreeRun(26000 + static_cast<int>(GetCurrentProcessId() % 100) * 20, 1);
        ASSERT_GT(base, 0);
        port = FileSrvStart(base);
        ASSERT_GT(port, 0);
        ASSERT_NE(dynamic_cast<CSessionServer*>(FileSrvGetServer()), nullptr);
        ASSERT_TRUE(FileSrvStartProcessing());
        FileSrvSetLocalDir(cache.path().c_str());
        FileSrvSetResourceBase(kBase);
    }
    void TearDown() override {
        FileSrvShutdown();
        WSACleanup();
    }

    std::wstring CachePath(const std::string& name) { return filetest::CachePath(cache.path(), name); }
    // Stores content as the cache holds it (scrambled), creating directories.
    void Put(const std::string& name, const std::string& content) {
        const std::wstring path = CachePath(name);
        for (size_t slash = path.find(L'\\', cache.path().size()); slash != std::wstring::npos;
             slash = path.find(L'\\', slash + 1))
            CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
        ASSERT_TRUE(WriteCached(path, content));
    }
    void Open(TestClient& client) {
        ASSERT_TRUE(client.Connect(port));
        ASSERT_TRUE(client.Handshake());
    }
    void Ask(TestClient& client, const std::string& name, const std::string& token = "tok") {
        ASSERT_TRUE(client.Send(Frame(2, GetFilePayload(1, 2, 3, token, name))));
    }
    // The reply to the last request; status -1 when none came.
    Reply Answer(TestClient& client, DWORD timeoutMs = 5000) {
        Reply reply;
        uint8_t type = 0;
        std::string payload;
        if (client.RecvFrame(&type, &payload, timeoutMs) && type == 2) ParseReply(payload, &reply);
        return reply;
    }
    Reply Get(TestClient& client, const std::string& name) {
        Ask(client, name);
        return Answer(client);
    }

    TempDir cache;
    int port = 0;
};

TEST_F(SessionTest, AValidCachedFileIsAnsweredWithItsPlainBytes) {
    const std::string big = Pattern(300000);
    struct Case {
        const char* name;
        std::string content;
        uint32_t listed;
    } cases[] = {
        {"res/a.swf", "ABCDE", Crc("ABCDE")},
        {"res/ten.dat", "0123456789", Crc("0123456789")},
        {"big/b.swf", big, Crc(big)},
        {"size/c.png", big, 300000u},  // not listed: valid by size alone
        {"empty.txt", "", 0u},
    };
    TestClient client;
    Open(client);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Put(c.name, c.content);
        List(c.name, c.listed);
        const Reply reply = Get(client, c.name);
        ASSERT_EQ(reply.status, 0);
        EXPECT_EQ(reply.words[0], 1u);
        EXPECT_EQ(reply.words[1], 2u);
        EXPECT_EQ(reply.words[2], 3u);
        EXPECT_EQ(reply.token, "tok");
        EXPECT_EQ(reply.length, c.content.size());
        EXPECT_TRUE(reply.rest == c.content);
    }
}

TEST_F(SessionTest, TheWorkedExampleByteForByte) {
    Put("res/a.swf", "ABCDE");
    List("res/a.swf", Crc("ABCDE"));
    TestClient client;
    Open(client);
    ASSERT_TRUE(client.Send(Frame(2, GetFilePayload(1, 2, 3, "t", "res/a.swf"))));
    std::string reply;
    ASSERT_TRUE(client.RecvExact(35, &reply));
    EXPECT_EQ(reply, std::string("\xff\xcc\xee\xcc\x1b\0\0\0\x02\x01\0\0\0\x02\0\0\0\x03\0\0\0\x01\0t\0\0\x05\0\0\0ABCDE",
                                 35));
}

// Whatever is not valid in the cache is not answered from it (without an HTTP client
// nothing else answers it here).
TEST_F(SessionTest, InvalidCachedFilesAreMisses) {
    Put("wrong.swf", "content");
    List("wrong.swf", Crc("content") ^ 1);
    Put("short.png", "12345");
    List("short.png", 6);
    Put("unlisted.swf", "content");  // not in the dictionary: 0 never matches its CRC
    Put("dir/x.png", "x");
    List("dir", 0);  // a directory is not a cached file
    Put("noext", "");
    List("noext", 0);  // 0 matches, but the file is held by a writer below
    ravlib::stream::CFileStream writer(CachePath("noext").c_str(), ravlib::stream::kStreamModeCreate);
    ASSERT_TRUE(writer.IsOpen());

    LogCapture log;
    TestClient client;
    Open(client);
    for (const char* name : {"wrong.swf", "short.png", "unlisted.swf", "dir", "noext", "missing.txt"}) {
        SCOPED_TRACE(name);
        Ask(client, name);
        EXPECT_TRUE(client.Quiet(300));
        EXPECT_TRUE(WaitFor([&] { return log.Contains(L"gets file " + WideFromUtf8(name)); }, 2000));
    }
}

TEST_F(SessionTest, AnEmptyUnlistedFileOrANameWithoutDotIsValidWithoutADictionaryEntry) {
    Put("plain", "abc");
    Put("empty.png", "");
    TestClient client;
    Open(client);
    EXPECT_EQ(Get(client, "plain").rest, "abc");
    EXPECT_EQ(Get(client, "empty.png").status, 0);
}

TEST_F(SessionTest, NamesThatLeaveTheCacheAreRefusedWithTheAddress) {
    // A file beside the cache that a traversal name would reach, valid by its check value.
    TempDir outside;
    const std::wstring victim = outside.path() + L"v.png";
    ASSERT_TRUE(WriteFileBytes(victim, "secret", 6));
    // Both directories lie in the same temporary folder: ../<outside>/v.png reaches it.
    const std::wstring& dir = outside.path();
    const size_t nameStart = dir.rfind(L'\\', dir.size() - 2) + 1;
    const std::string viaParent = "../" + Utf8FromWide(dir.substr(nameStart, dir.size() - 1 - nameStart)) + "/v.png";
    const std::string absolute = Utf8FromWide(victim);
    const std::vector<std::string> names = {
        viaParent, "res/../../x.png", "/x.png", "\\x.png", "res\\x.png",
        absolute,  "C:/x.png",        "x.png:s", "",
    };
    LogCapture log;
    TestClient client;
    Open(client);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        List(name, 6);
        const Reply reply = Get(client, name);
        ASSERT_EQ(reply.status, 1);
        EXPECT_EQ(reply.length, 0u);
        EXPECT_EQ(reply.rest, Pstr(kBase + name));
    }
    EXPECT_EQ(log.Count(L"refused file name"), static_cast<int>(names.size()));
    EXPECT_EQ(ReadFileBytes(victim), (std::vector<uint8_t>{'s', 'e', 'c', 'r', 'e', 't'}));
}

TEST_F(SessionTest, SetAddressesChangesDirectoryAndBaseOfThatConnectionOnly) {
    Put("other/o.png", "other");
    List("o.png", 5);
    const std::string otherDir = Utf8FromWide(cache.path()) + "other";  // no "\"

    TestClient changed, unchanged;
    Open(changed);
    Open(unchanged);
    ASSERT_TRUE(changed.Send(Frame(1, Pstr(otherDir) + Pstr("http://cdn.test/other"))));
    const Reply hit = Get(changed, "o.png");
    EXPECT_EQ(hit.status, 0);
    EXPECT_EQ(hit.rest, "other");
    const Reply refused = Get(changed, "../o.png");
    EXPECT_EQ(refused.rest, Pstr("http://cdn.test/other/../o.png"));

    Ask(unchanged, "o.png");
    EXPECT_TRUE(unchanged.Quiet(300));  // still the cache itself, where o.png is missing
    EXPECT_EQ(Get(unchanged, "..").rest, Pstr(std::string(kBase) + ".."));
}

// The directory a connection may choose: the cache directory, written any way Windows
// reads as it, or one beneath it. Any other is refused and logged, and the connection
// keeps the one it had (here "sub").
TEST_F(SessionTest, SetAddressesTakesOnlyTheCacheDirectoryOrOneBeneathIt) {
    Put("probe", "root");
    Put("sub/probe", "sub");
    Put("sub/deeper/probe", "deeper");
    TempDir outside;
    ASSERT_TRUE(WriteCached(outside.path() + L"probe", "outside"));
    const std::string dir = Utf8FromWide(cache.path());  // "X:\...\"
    const std::string bare = dir.substr(0, dir.size() - 1);
    const std::string noDrive = dir.substr(2);
    std::string forward = dir;
    std::string upper = dir;
    for (char& c : forward)
        if (c == '\\') c = '/';
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const std::string outsideDir = Utf8FromWide(outside.path());
    const std::string outsideName = outsideDir.substr(outsideDir.rfind('\\', outsideDir.size() - 2) + 1);
    struct Case {
        std::string directory;
        const char* served;
    } cases[] = {
        {bare, "root"},
        {upper, "root"},
        {forward, "root"},
        {dir + "sub\\deeper", "deeper"},
        {dir + "sub/./deeper/", "deeper"},
        {dir + "sub\\..\\sub\\\\deeper\\", "deeper"},
        {dir + "sub\\deeper\\..\\..", "root"},
        // refused
        {outsideDir, "sub"},
        {dir + "..", "sub"},
        {dir + "sub\\..\\..\\" + outsideName, "sub"},
        {bare + "x\\sub", "sub"},
        {"", "sub"},
        {"sub", "sub"},
        {dir.substr(0, 2) + "sub", "sub"},
        {noDrive + "sub", "sub"},
        {"\\\\127.0.0.1\\" + dir.substr(0, 1) + "$" + noDrive + "sub", "sub"},
        {"\\\\?\\" + dir + "sub\\deeper", "sub"},
        {"\\\\.\\" + dir + "sub\\deeper", "sub"},
        {"//?/" + forward + "sub/deeper", "sub"},
        {dir + "sub\\deeper.", "sub"},
        {dir + "sub\\deeper \\", "sub"},
        {dir + "sub:stream", "sub"},
        {dir + "sub\\CON", "sub"},
        {dir + "SUB~1", "sub"},
        {dir + "sub\\deep*", "sub"},
    };
    LogCapture log;
    int refused = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directory);
        TestClient client;
        Open(client);
        ASSERT_TRUE(client.Send(Frame(1, Pstr(dir + "sub") + Pstr(kBase))));
        ASSERT_TRUE(client.Send(Frame(1, Pstr(c.directory) + Pstr(kBase))));
        EXPECT_EQ(Get(client, "probe").rest, c.served);
        if (std::string(c.served) == "sub") ++refused;
    }
    EXPECT_EQ(log.Count(L"refused local directory"), refused);
}

// Until the launcher has named its cache directory, a connection has no directory: it
// may not choose one, and it is served no file (a relative path would reach into the
// current directory).
TEST_F(SessionTest, BeforeTheCacheDirectoryIsSetNoDirectoryIsTakenAndNoFileServed) {
    FileSrvShutdown();
    port = FileSrvStart(port);
    ASSERT_GT(port, 0);
    ASSERT_TRUE(FileSrvStartProcessing());
    FileSrvSetResourceBase(kBase);
    Put("probe", "root");
    LogCapture log;
    TestClient early;
    Open(early);
    ASSERT_TRUE(early.Send(Frame(1, Pstr(Utf8FromWide(cache.path())) + Pstr(kBase))));
    const Reply refused = Get(early, "probe");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.rest, Pstr(std::string(kBase) + "probe"));
    EXPECT_EQ(log.Count(L"refused local directory"), 1);

    FileSrvSetLocalDir(cache.path().c_str());
    ASSERT_TRUE(early.Send(Frame(1, Pstr(Utf8FromWide(cache.path())) + Pstr(kBase))));
    EXPECT_EQ(Get(early, "probe").rest, "root");
}

TEST_F(SessionTest, OverlongAddressesAreIgnoredFromThatFieldOn) {
    Put("other/o.png", "other");
    List("o.png", 5);
    const std::string otherDir = Utf8FromWide(cache.path()) + "other";
    // Few enough UTF-16 units, but more bytes than the field holds: never taken cut short.
    std::string cut = otherDir + "\\";
    const size_t units = cut.size();
    while (cut.size() <= CSessionClient::kAddressFieldBytes) cut += "\xE5\x9B\xBE";
    ASSERT_LT(units + (cut.size() - units) / 3, static_cast<size_t>(CSessionClient::kAddressMaxUnits));

    LogCapture log;
    TestClient client;
    Open(client);
    ASSERT_TRUE(client.Send(Frame(1, Pstr(std::string(200, 'd')) + Pstr("cdn"))));
    ASSERT_TRUE(client.Send(Frame(1, Pstr(otherDir) + Pstr(std::string(200, 'c')))));
    EXPECT_EQ(Get(client, "o.png").rest, "other");  // the second directory took effect
    EXPECT_EQ(Get(client, "..").rest, Pstr(std::string(kBase) + ".."));  // the base did not
    ASSERT_TRUE(client.Send(Frame(1, Pstr(cut) + Pstr("http://cdn.test/cut/"))));
    EXPECT_EQ(Get(client, "o.png").rest, "other");
    EXPECT_EQ(Get(client, "..").rest, Pstr(std::string(kBase) + ".."));
    EXPECT_EQ(log.Count(L"地址设置error"), 3);
}

TEST_F(SessionTest, ConnectionsAcceptedBeforeTheDefaultsKeepTheirOwn) {
    TestClient early;
    Open(early);
    FileSrvSetResourceBase("http://later/");
    TestClient late;
    Open(late);
    EXPECT_EQ(Get(early, "..").rest, Pstr(std::string(kBase) + ".."));
    EXPECT_EQ(Get(late, "..").rest, Pstr("http://later/.."));
}

// ---- bounds under load

// The process's working set, now and at its peak (Wine reports no private bytes).
PROCESS_MEMORY_COUNTERS MemoryCounters() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

size_t WorkingSet() { return MemoryCounters().WorkingSetSize; }

const size_t kMiB = 1024 * 1024;

std::string ManyGetFiles(const std::string& name, uint32_t count) {
    std::string frames;
    for (uint32_t i = 0; i < count; ++i) frames += Frame(2, GetFilePayload(i, 0, 0, "t", name));
    return frames;
}

// A peer that asks for thousands of large cached files and reads nothing holds the
// server to its reply backlog; another connection is served meanwhile.
TEST_F(SessionTest, ANeverReadingPeerIsHeldToItsBacklogAndOthersAreServed) {
    const std::string big = Pattern(300000);
    Put("big/b.swf", big);
    List("big/b.swf", Crc(big));
    Put("small.txt", "small");
    List("small.txt", Crc("small"));
    const size_t before = WorkingSet();

    LogCapture log;
    TestClient greedy;
    ASSERT_TRUE(greedy.Connect(port, 4096));
    ASSERT_TRUE(greedy.Handshake());
    ASSERT_TRUE(greedy.Send(ManyGetFiles("big/b.swf", 3000)));
    ASSERT_TRUE(WaitFor([&] { return log.Contains(L"its requests wait"); }, 20000));

    TestClient polite;
    Open(polite);
    const Reply reply = Get(polite, "small.txt");
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.rest, "small");

    // The stalled connection stays stalled: the memory it costs is sampled a while.
    size_t most = WorkingSet();
    for (int i = 0; i < 20; ++i) {
        Sleep(50);
        const size_t now = WorkingSet();
        if (now > most) most = now;
    }
    printf("never-reading peer: working set %.1f MiB before, at most %.1f MiB while stalled; "
           "peak working set %.1f MiB\n",
           before / double(kMiB), most / double(kMiB), MemoryCounters().PeakWorkingSetSize / double(kMiB));
    EXPECT_LT(most, before + 64 * kMiB);
}

// A burst of requests for large files, read only once it is all sent, is answered
// whole and in the order of the requests, over many passes and pauses.
TEST_F(SessionTest, APipelinedBurstIsAnsweredInOrder) {
    const std::string big = Pattern(300000);
    Put("big/b.swf", big);
    List("big/b.swf", Crc(big));
    const uint32_t count = 64;  // about 19 MB of replies: beyond one pass and the backlog
    TestClient client;
    Open(client);
    ASSERT_TRUE(client.Send(ManyGetFiles("big/b.swf", count)));
    for (uint32_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const Reply reply = Answer(client);
        ASSERT_EQ(reply.status, 0);
        ASSERT_EQ(reply.words[0], i);
        ASSERT_TRUE(reply.rest == big);
    }
}

// The files and directories beneath directory (which ends with "\"), relative to it,
// sorted.
std::vector<std::wstring> ListTree(const std::wstring& directory, const std::wstring& below = L"") {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((directory + below + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        names.push_back(below + name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const std::vector<std::wstring> inner = ListTree(directory, below + name + L"\\");
            names.insert(names.end(), inner.begin(), inner.end());
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}
// Several connections feed mutated, truncated and garbage frames in random pieces into
// the server (fixed seed, bounded rounds and time). Meanwhile a well-behaved connection
// is answered with the right bytes each time and memory stays bounded; afterwards a
// newcomer is served, and the cache holds only what it held: no peer wrote to it.
TEST_F(SessionTest, MutatedStreamsNeitherStarveAWellBehavedClientNorWriteToTheCache) {
    Put("res/a.swf", "ABCDE");
    List("res/a.swf", Crc("ABCDE"));
    LogCapture log;  // the logging path runs too
    const size_t before = WorkingSet();
    std::atomic<size_t> most{before};
    const mutation::BesideFigures figures =
        mutation::FeedBeside(port, 20261211, [&most](TestClient& client, uint32_t i) {
            const std::string token = std::to_string(i);
            uint8_t type = 0;
            std::string payload;
            Reply reply;
            if (!client.Send(Frame(2, GetFilePayload(i, 2, 3, token, "res/a.swf"))) ||
                !client.RecvFrame(&type, &payload, 10000) || type != 2 || !ParseReply(payload, &reply) ||
                reply.status != 0 || reply.words[0] != i || reply.token != token || reply.rest != "ABCDE")
                return false;
            const size_t now = WorkingSet();
            if (now > most) most = now;
            return true;
        });
    printf("[ figures  ] working set %.1f MiB before, at most %.1f MiB meanwhile\n", before / double(kMiB),
           most.load() / double(kMiB));
    EXPECT_FALSE(figures.failed);
    EXPECT_GE(figures.answered, 10);
    EXPECT_LT(most.load(), before + 64 * kMiB);

    TestClient newcomer;
    Open(newcomer);
    EXPECT_EQ(Get(newcomer, "res/a.swf").rest, "ABCDE");
    EXPECT_EQ(ListTree(cache.path()), (std::vector<std::wstring>{L"res", L"res\\a.swf"}));
}

// A game that reloads again and again leaves ended connections behind, each lingering:
// they never keep a newcomer out.
TEST_F(SessionTest, ManyQuickReconnectsNeverLockANewcomerOut) {
    Put("small.txt", "small");
    List("small.txt", Crc("small"));
    const int reconnects = CCustomServerSocket::kDefaultClientLimit + 64;
    for (int i = 0; i < reconnects; ++i) {
        TestClient client;
        ASSERT_TRUE(client.Connect(port)) << i;
        ASSERT_TRUE(client.Handshake()) << i;
    }
    TestClient newcomer;
    Open(newcomer);
    EXPECT_EQ(Get(newcomer, "small.txt").rest, "small");
    EXPECT_LE(FileSrvGetServer()->ClientCount(), static_cast<int>(CCustomServerSocket::kDefaultClientLimit));
}

// A session server that shows what its ended connections still hold.
class InspectedSessionServer : public CSessionServer {
public:
    // Bytes of receive buffers and packets held by connections that have ended, and
    // how many have ended.
    size_t HeldByEnded(int* ended) {
        ravlib::sync::lock::CAutoLock guard(&clientsLock_);
        size_t bytes = 0;
        *ended = 0;
        for (int32_t i = 0; i < clients_.Count(); ++i) {
            CCustomServerClientSocket* client = clients_[i];
            if (client->IsConnected()) continue;
            ++*ended;
            bytes += static_cast<size_t>(client->ReceiveCapacity()) + client->FreeBufferBytes() +
                     static_cast<size_t>(client->FreeCount());
        }
        return bytes;
    }
    // The peer ports of the connections that have ended, in ascending order.
    std::vector<int> EndedPeerPorts() {
        ravlib::sync::lock::CAutoLock guard(&clientsLock_);
        std::vector<int> ports;
        for (int32_t i = 0; i < clients_.Count(); ++i)
            if (!clients_[i]->IsConnected()) ports.push_back(clients_[i]->PeerPort());
        std::sort(ports.begin(), ports.end());
        return ports;
    }
};

class LingerTest : public SessionTest {
protected:
    void SetUp() override {
        FileSrvSetServerFactory([]() -> CCustomServerSocket* { return new InspectedSessionServer; });
        SessionTest::SetUp();
    }
    void TearDown() override {
        SessionTest::TearDown();
        FileSrvSetServerFactory(FileSrvCreateSessionServer);
    }
    InspectedSessionServer* Server() { return static_cast<InspectedSessionServer*>(FileSrvGetServer()); }
};

// The local port of a client's connection, as the server sees it as the peer's port.
int LocalPort(const TestClient& client) {
    sockaddr_in address = {};
    int length = sizeof address;
    getsockname(client.Handle(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// At the limit, each newcomer takes the place of the connection that ended first; when
// every connection held is live, a newcomer is closed at once and logged, and the
// others are still served.
TEST_F(LingerTest, ANewcomerTakesThePlaceOfTheConnectionThatEndedFirst) {
    Put("small.txt", "small");
    List("small.txt", Crc("small"));
    const int limit = CCustomServerSocket::kDefaultClientLimit;
    LogCapture log;
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < limit; ++i) {
        clients.emplace_back(new TestClient);
        ASSERT_TRUE(clients.back()->Connect(port)) << i;
    }
    ASSERT_TRUE(WaitFor([&] { return Server()->ClientCount() == limit; }, 20000));
    const int first = LocalPort(*clients[5]);
    const int second = LocalPort(*clients[3]);
    clients[5]->Close();
    ASSERT_TRUE(WaitFor([&] { return Server()->EndedPeerPorts() == std::vector<int>{first}; }, 5000));
    clients[3]->Close();
    ASSERT_TRUE(WaitFor([&] { return Server()->EndedPeerPorts().size() == 2; }, 5000));

    TestClient newcomer;
    Open(newcomer);
    EXPECT_EQ(Get(newcomer, "small.txt").rest, "small");
    EXPECT_EQ(Server()->EndedPeerPorts(), std::vector<int>{second});
    TestClient another;
    Open(another);
    EXPECT_EQ(Get(another, "small.txt").rest, "small");
    EXPECT_TRUE(Server()->EndedPeerPorts().empty());
    EXPECT_EQ(log.Count(L"ends the lingering connection"), 2);

    TestClient refused;
    ASSERT_TRUE(refused.Connect(port));
    EXPECT_TRUE(refused.WaitClosed(10000));
    EXPECT_TRUE(log.Contains(L"closing a new one"));
    EXPECT_EQ(Server()->ClientCount(), limit);

    TestClient& served = *clients.back();
    ASSERT_TRUE(served.Handshake());
    EXPECT_EQ(Get(served, "small.txt").rest, "small");
}

TEST_F(LingerTest, AnEndedConnectionLingersWithoutItsBuffers) {
    Put("small.txt", "small");
    List("small.txt", Crc("small"));
    TestClient client;
    Open(client);
    EXPECT_EQ(Get(client, "small.txt").rest, "small");
    // Most of a large frame: the server holds it in its receive buffer.
    ASSERT_TRUE(client.Send(FrameHeader(1000000) + std::string(900000, 'x')));
    client.Close();
    int ended = 0;
    ASSERT_TRUE(WaitFor([&] { return Server()->HeldByEnded(&ended) == 0 && ended == 1; }, 5000))
        << Server()->HeldByEnded(&ended) << " bytes held by " << ended << " ended connections";
    EXPECT_EQ(Server()->ClientCount(), 1);  // it lingers
}

}  // namespace
