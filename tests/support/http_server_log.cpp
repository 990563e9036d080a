// What the HTTP test server reports about itself, read over a socket of our own.
#include <winsock2.h>
#include <windows.h>
#include <stdlib.h>

#include <algorithm>

#include "support/test_support.h"

namespace testing_support {

std::string ControlGet(const std::string& path) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return std::string();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(HttpServerPort()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        send(s, request.data(), static_cast<int>(request.size()), 0);
        char buffer[4096];
        int got;
        while ((got = recv(s, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(got));
    }
    closesocket(s);
    WSACleanup();
    size_t cut = answer.find("\r\n\r\n");
    return cut == std::string::npos ? std::string() : answer.substr(cut + 4);
}

// The server's JSON strings here hold no escapes: paths and header lines of these tests.
static std::string JsonString(const std::string& text, size_t* at) {
    size_t open = text.find('"', *at);
    size_t close = text.find('"', open + 1);
    *at = close + 1;
    return text.substr(open + 1, close - open - 1);
}

std::vector<SeenRequest> SeenRequests() {
    const std::string text = ControlGet("/__requests");
    std::vector<SeenRequest> seen;
    const std::string start = "{\"method\": ";
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at)) {
        size_t end = text.find(start, at + 1);
        if (end == std::string::npos) end = text.size();
        SeenRequest request;
        size_t field = text.find("\"path\": ", at) + 8;
        request.path = JsonString(text, &field);
        request.connection = atoi(text.c_str() + text.find("\"connection\": ", at) + 14);
        field = text.find("\"headers\": ", at);
        while ((field = text.find("[\"", field)) < end) {
            std::string name = JsonString(text, &field);
            request.headers.push_back(name + ": " + JsonString(text, &field));
        }
        seen.push_back(request);
        at = end;
    }
    return seen;
}

bool HasHeader(const SeenRequest& request, const std::string& line) {
    return std::find(request.headers.begin(), request.headers.end(), line) != request.headers.end();
}

std::vector<std::string> RangesAsked(const std::string& path) {
    std::vector<std::string> ranges;
    for (const SeenRequest& seen : SeenRequests()) {
        if (seen.path != path) continue;
        std::string range;
        for (const std::string& line : seen.headers)
            if (line.compare(0, 7, "Range: ") == 0) range = line;
        ranges.push_back(range);
    }
    return ranges;
}

}  // namespace testing_support
