#include "server/file_server.h"

#include "ravlib/log.h"
#include "server/file_dictionary.h"
#include "server/session_server.h"
#include "server/suffix_list.h"

namespace {

FileSrvServerFactory g_factory = FileSrvCreateSessionServer;
CCustomServerSocket* g_server = nullptr;
// Windows Sockets is started once for the server's lifetime, so that repeated starts
// do not pile up references that one shutdown cannot release.
bool g_winsockStarted = false;

const int kPortsTried = 200;

}  // namespace

void FileSrvSetServerFactory(FileSrvServerFactory factory) {
    g_factory = factory;
}

CCustomServerSocket* FileSrvGetServer() {
    return g_server;
}

int FileSrvStart(int port) {
    if (!g_server) {
        g_server = g_factory ? g_factory() : nullptr;
        if (!g_server) {
            ravlib::LogMessage(ravlib::kLogError, L"FileSrv: no server object");
            return -1;
        }
    }
    if (!g_winsockStarted) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return -1;
        g_winsockStarted = true;
    }
    if (g_server->IsStarted()) return g_server->BoundPort();
    g_server->SetHost(L"localhost");
    g_server->SetName(L"FileSrv");
    for (int i = 0; i < kPortsTried; ++i) {
        if (port > 65535 - i) break;
        const int p = port + i;
        if (p < 1) continue;
        g_server->SetPort(p);
        if (g_server->Start()) {
            ravlib::LogMessage(ravlib::kLogInfo, L"bind port %d", p);
            return p;
        }
        g_server->Stop();
    }
    return -2;
}

bool FileSrvStartProcessing() {
    return g_server ? g_server->StartDataThread() : false;
}

void FileSrvShutdown() {
    if (g_server) {
        g_server->Stop();
        delete g_server;
        g_server = nullptr;
        if (g_winsockStarted) {
            WSACleanup();
            g_winsockStarted = false;
        }
    }
    FileSrvClearSuffixes();
    FileDictionaryClear();
}
