// The listening server's life (start, stop, restart, the two threads, connections that
// wait for the data thread or go away) and the file-server entry operations with the
// test server class plugged in.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "net_test_support.h"
#include "server/file_server.h"

using namespace nettest;

namespace {

struct WinsockEnvironment : ::testing::Environment {
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};
::testing::Environment* const g_winsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

bool StartOnLoopback(CCustomServerSocket& server) {
    server.SetHost(L"127.0.0.1");
    server.SetPort(0);
    return server.Start();
}

bool PolicyRoundTrip(int port) {
    TestClient client;
    std::string answer;
    return client.Connect(port) && client.Send(PolicyRequest()) && client.RecvExact(111, &answer) &&
           answer == PolicyAnswer();
}

TEST(ListeningServer, StartAndStopAreIdempotent) {
    TestServer server;
    EXPECT_FALSE(server.IsStarted());
    server.Stop();  // not started: nothing to do
    ASSERT_TRUE(StartOnLoopback(server));
    const SOCKET listening = server.GetHandle();
    ASSERT_NE(listening, INVALID_SOCKET);
    EXPECT_TRUE(server.Start());  // already started: the same socket
    EXPECT_EQ(server.GetHandle(), listening);
    server.Stop();
    EXPECT_FALSE(server.IsStarted());
    EXPECT_EQ(server.GetHandle(), INVALID_SOCKET);
    server.Stop();
    // And it can start again.
    ASSERT_TRUE(StartOnLoopback(server));
    ASSERT_TRUE(server.StartDataThread());
    EXPECT_TRUE(server.StartDataThread());
    EXPECT_TRUE(PolicyRoundTrip(server.BoundPort()));
}

TEST(ListeningServer, DataThreadNeedsAStartedServer) {
    TestServer server;
    EXPECT_FALSE(server.StartDataThread());
    ASSERT_TRUE(StartOnLoopback(server));
    EXPECT_TRUE(server.StartDataThread());
}

TEST(ListeningServer, AFailedStartLeavesTheServerStopped) {
    LogCapture log;
    SOCKET taken = TakePort(0);
    sockaddr_in address;
    int length = sizeof address;
    getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
    TestServer server;
    server.SetHost(L"localhost");
    server.SetPort(ntohs(address.sin_port));
    EXPECT_FALSE(server.Start());
    EXPECT_FALSE(server.IsStarted());
    EXPECT_EQ(server.GetHandle(), INVALID_SOCKET);
    EXPECT_TRUE(log.Contains(L"绑定Test服务器套接字到localhost:"));
    closesocket(taken);
}

TEST(ListeningServer, ConnectionsAcceptedBeforeTheDataThreadWaitForIt) {
    TestServer server;
    ASSERT_TRUE(StartOnLoopback(server));
    TestClient client;
    ASSERT_TRUE(client.Connect(server.BoundPort()));
    ASSERT_TRUE(client.Send(PolicyRequest()));
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 1; }, 3000));
    EXPECT_TRUE(client.Quiet(300));  // accepted, but nothing is received yet
    ASSERT_TRUE(server.StartDataThread());
    std::string answer;
    ASSERT_TRUE(client.RecvExact(111, &answer));
    EXPECT_TRUE(answer == PolicyAnswer());
}

TEST(ListeningServer, ClosedConnectionsAreRemovedAndDeleted) {
    TestServer server;
    ASSERT_TRUE(StartOnLoopback(server));
    ASSERT_TRUE(server.StartDataThread());
    std::vector<TestClient> clients(3);
    for (TestClient& client : clients) {
        ASSERT_TRUE(client.Connect(server.BoundPort()));
        ASSERT_TRUE(client.Handshake());
    }
    EXPECT_EQ(server.ClientCount(), 3);
    clients[0].Close();
    clients[1].Abort();
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 1; }, 3000));
    // The one left still works.
    ASSERT_TRUE(clients[2].Send(Frame(7, "ok")));
    uint8_t type = 0;
    std::string payload;
    ASSERT_TRUE(clients[2].RecvFrame(&type, &payload));
    EXPECT_EQ(payload, "ok");
}

TEST(ListeningServer, StopClosesEveryConnection) {
    TestServer server;
    ASSERT_TRUE(StartOnLoopback(server));
    TestClient waiting;  // accepted, never taken by a data thread
    ASSERT_TRUE(waiting.Connect(server.BoundPort()));
    ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 1; }, 3000));
    ASSERT_TRUE(server.StartDataThread());
    TestClient served;
    ASSERT_TRUE(served.Connect(server.BoundPort()));
    ASSERT_TRUE(served.Handshake());
    server.Stop();
    EXPECT_EQ(server.ClientCount(), 0);
    EXPECT_TRUE(waiting.WaitClosed(3000));
    EXPECT_TRUE(served.WaitClosed(3000));
}

TEST(ListeningServer, DeletingAServerClosesConnectionsThatNeverReachedTheDataThread) {
    TestClient client;
    {
        TestServer server;
        ASSERT_TRUE(StartOnLoopback(server));
        ASSERT_TRUE(client.Connect(server.BoundPort()));
        ASSERT_TRUE(WaitFor([&] { return server.ClientCount() == 1; }, 3000));
    }
    EXPECT_TRUE(client.WaitClosed(3000));
}

// Hooks that keep a thread busy longer than Stop's 2000 ms wait.
class SlowServer : public TestServer {
public:
    void OnThreadEnd() override {
        if (slowEnd) Sleep(2300);
        dataThreadDone = true;
    }
    void OnClientAccepted(CCustomServerClientSocket* client) override {
        (void)client;
        if (!slowAccept) return;
        acceptEntered = true;
        Sleep(2300);
        acceptDone = true;
    }
    bool slowEnd = false;
    bool slowAccept = false;
    std::atomic<bool> dataThreadDone{false};
    std::atomic<bool> acceptEntered{false};
    std::atomic<bool> acceptDone{false};
};

TEST(ListeningServer, StopReturnsOnlyWhenBothThreadsHaveEnded) {
    LogCapture log;
    {
        SlowServer server;
        server.slowEnd = true;
        ASSERT_TRUE(StartOnLoopback(server));
        ASSERT_TRUE(server.StartDataThread());
        server.Stop();
        EXPECT_TRUE(server.dataThreadDone);
        EXPECT_TRUE(log.Contains(L"data线程在2000毫秒内未结束"));
    }
    {
        SlowServer server;
        server.slowAccept = true;
        ASSERT_TRUE(StartOnLoopback(server));
        ASSERT_TRUE(server.StartDataThread());
        TestClient client;
        ASSERT_TRUE(client.Connect(server.BoundPort()));
        ASSERT_TRUE(WaitFor([&] { return server.acceptEntered.load(); }, 3000));
        server.Stop();
        EXPECT_TRUE(server.acceptDone);
        EXPECT_TRUE(log.Contains(L"accept线程在2000毫秒内未结束"));
    }
}

TEST(ListeningServer, AConnectionResetBeforeItIsAcceptedDoesNotStopTheServer) {
    SlowServer server;
    server.slowAccept = true;
    ASSERT_TRUE(StartOnLoopback(server));
    ASSERT_TRUE(server.StartDataThread());
    TestClient first;
    ASSERT_TRUE(first.Connect(server.BoundPort()));
    ASSERT_TRUE(WaitFor([&] { return server.acceptEntered.load(); }, 3000));
    // While the accept thread is busy with the first, others come and go with a reset.
    for (int i = 0; i < 3; ++i) {
        TestClient gone;
        ASSERT_TRUE(gone.Connect(server.BoundPort()));
        gone.Send("QMTK");
        gone.Abort();
    }
    server.slowAccept = false;
    ASSERT_TRUE(WaitFor([&] { return server.acceptDone.load(); }, 5000));
    TestClient later;
    ASSERT_TRUE(later.Connect(server.BoundPort()));
    EXPECT_TRUE(later.Handshake());
    EXPECT_TRUE(first.Handshake());
}

// ---- the file-server entry operations

// A place to look for free ports that differs between test programs running at once.
int ProcessPortBase(int from) {
    return from + static_cast<int>(GetCurrentProcessId() % 100) * 10;
}

CCustomServerSocket* MakeTestServer() {
    return new TestServer();
}

class FileServerTest : public ::testing::Test {
protected:
    void SetUp() override { FileSrvSetServerFactory(MakeTestServer); }
    void TearDown() override {
        FileSrvShutdown();
        EXPECT_EQ(FileSrvGetServer(), nullptr);
        for (SOCKET handle : taken) closesocket(handle);
        FileSrvSetServerFactory(nullptr);
    }
    // Takes count ports from base; false (and nothing held) when one is not free.
    bool Take(int base, int count) {
        for (int p = base; p < base + count; ++p) {
            SOCKET handle = TakePort(p);
            if (handle == INVALID_SOCKET) {
                for (SOCKET h : taken) closesocket(h);
                taken.clear();
                return false;
            }
            taken.push_back(handle);
        }
        return true;
    }
    LogCapture log;
    std::vector<SOCKET> taken;
};

TEST_F(FileServerTest, TakenPortsInARowAreSkipped) {
    // 9898 and 9899 taken: 9900 (elsewhere when something on this machine holds those).
    int base = FindFreeRun(9898, 3) == 9898 ? 9898 : FindFreeRun(ProcessPortBase(21000), 3);
    ASSERT_GT(base, 0);
    ASSERT_TRUE(Take(base, 2));
    EXPECT_EQ(FileSrvStart(base), base + 2);
    EXPECT_TRUE(log.Contains(L"bind port " + std::to_wstring(base + 2)));
    EXPECT_EQ(log.Count(L"绑定FileSrv服务器套接字到localhost:"), 2);
    CCustomServerSocket* server = FileSrvGetServer();
    ASSERT_NE(server, nullptr);
    EXPECT_STREQ(server->Name(), L"FileSrv");
    EXPECT_STREQ(server->Host(), L"localhost");
    ASSERT_TRUE(FileSrvStartProcessing());
    EXPECT_TRUE(PolicyRoundTrip(base + 2));
    // Started again: the port it listens on, the same server.
    EXPECT_EQ(FileSrvStart(base), base + 2);
    EXPECT_EQ(FileSrvGetServer(), server);
}

TEST_F(FileServerTest, AllTwoHundredPortsTakenGivesMinusTwo) {
    int base = 0;
    for (int slot = 0; slot < 100 && !base; ++slot) {
        const int from = 35000 + static_cast<int>((GetCurrentProcessId() + slot) % 100) * 250;
        if (PortFree(from + 200) && Take(from, 200)) base = from;
    }
    ASSERT_GT(base, 0) << "no 201 free ports in a row";
    EXPECT_EQ(FileSrvStart(base), -2);
    EXPECT_EQ(log.Count(L"绑定FileSrv服务器套接字到localhost:"), 200);
    EXPECT_FALSE(log.Contains(L"bind port"));
    CCustomServerSocket* server = FileSrvGetServer();
    ASSERT_NE(server, nullptr);
    EXPECT_FALSE(server->IsStarted());
    EXPECT_FALSE(FileSrvStartProcessing());
    EXPECT_EQ(FileSrvStart(base), -2);
    EXPECT_EQ(FileSrvGetServer(), server);  // no second server object
}

TEST_F(FileServerTest, PortsOutsideTheRangeCannotBeBound) {
    EXPECT_EQ(FileSrvStart(65535 + 1), -2);
    EXPECT_EQ(FileSrvStart(-500), -2);
}

TEST_F(FileServerTest, WithoutAServerClassNothingStarts) {
    FileSrvSetServerFactory(nullptr);
    EXPECT_EQ(FileSrvStart(9898), -1);
    EXPECT_EQ(FileSrvGetServer(), nullptr);
    EXPECT_FALSE(FileSrvStartProcessing());
}

TEST_F(FileServerTest, ShutdownClosesConnectionsAndTheNextStartMakesANewServer) {
    int base = FindFreeRun(ProcessPortBase(23000), 1);
    ASSERT_GT(base, 0);
    ASSERT_EQ(FileSrvStart(base), base);
    ASSERT_TRUE(FileSrvStartProcessing());
    TestClient client;
    ASSERT_TRUE(client.Connect(base));
    ASSERT_TRUE(client.Handshake());
    FileSrvShutdown();
    EXPECT_EQ(FileSrvGetServer(), nullptr);
    EXPECT_TRUE(client.WaitClosed(3000));
    FileSrvShutdown();  // nothing left to do
    // A new server object on the next start (the old port may still be held by the
    // connections the server closed).
    EXPECT_GT(FileSrvStart(base + 1), base);
    EXPECT_NE(FileSrvGetServer(), nullptr);
}

}  // namespace
