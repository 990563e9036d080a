// Throughput of the HTTP client against the local HTTP test server: requests per second
// and megabytes per second for a few body sizes, delivered on this thread, with and
// without the save thread writing the scrambled cache files. Prints figures only.
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "ravlib/tick.h"
#include "support/test_support.h"
#include "update/http_client.h"

namespace {

volatile LONG g_delivered = 0;

void CountDelivery(void*, CCurlHttpResponse* response) {
    if (response->GetSuccess()) InterlockedIncrement(&g_delivered);
}

bool AllFilesPresent(const std::wstring& directory, int count) {
    for (int i = 0; i < count; ++i) {
        std::wstring path = directory + std::to_wstring(i) + L".bin";
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    }
    return true;
}

}  // namespace

int main() {
    const char* port = getenv("LAUNCHER_HTTP_PORT");
    if (!port) {
        fprintf(stderr, "LAUNCHER_HTTP_PORT is not set\n");
        return 1;
    }
    CCurlHttpClient* client = CCurlHttpClient::GetInstance();
    if (!client || !client->StartWorkers()) {
        fprintf(stderr, "no HTTP client\n");
        return 1;
    }
    struct Run {
        int bytes;
        int count;
    } runs[] = {{1024, 400}, {65536, 200}, {1048576, 30}};
    int failures = 0;
    for (bool save : {false, true}) {
        for (const Run& run : runs) {
            testing_support::TempDir directory;
            InterlockedExchange(&g_delivered, 0);
            uint64_t start = ravlib::GetTickMs();
            std::string url = std::string("http://127.0.0.1:") + port + "/__bytes/" + std::to_string(run.bytes);
            for (int i = 0; i < run.count; ++i) {
                CCurlHttpRequest* request = new CCurlHttpRequest;
                request->SetUrl(url.c_str());
                request->SetMethod(kHttpGet);
                request->SetCallback(CountDelivery, nullptr);
                request->SetSaveToFile(save);
                if (save) request->filePath = directory.path() + std::to_wstring(i) + L".bin";
                client->AddRequest(request);
            }
            uint64_t deadline = start + 120000;
            while (InterlockedCompareExchange(&g_delivered, 0, 0) < run.count && ravlib::GetTickMs() < deadline) {
                client->DispatchResponses();
                Sleep(1);
            }
            uint64_t delivered = ravlib::GetTickMs() - start;
            while (save && !AllFilesPresent(directory.path(), run.count) && ravlib::GetTickMs() < deadline) Sleep(5);
            uint64_t stored = ravlib::GetTickMs() - start;
            int got = static_cast<int>(g_delivered);
            if (got < run.count) ++failures;
            double seconds = delivered > 0 ? delivered / 1000.0 : 0.001;
            printf("%s %7d bytes x %3d: delivered %3d in %5llu ms, %7.1f requests/s, %6.1f MB/s",
                   save ? "save" : "get ", run.bytes, run.count, got, static_cast<unsigned long long>(delivered),
                   got / seconds, got * static_cast<double>(run.bytes) / 1048576.0 / seconds);
            if (save) printf(", all files stored after %llu ms", static_cast<unsigned long long>(stored));
            printf("\n");
        }
    }
    CCurlHttpClient::Shutdown();
    return failures == 0 ? 0 : 1;
}
