// Runs a movie's script (movie_script.h) on a worker thread: the connections to the
// launcher's local resource server and the GetFile requests. What the stand-in has to show
// and the bridge calls it has to make come back as events, taken on the control's thread
// after the worker has posted a message to the control's window.
//
// With the environment variable FLASH_STANDIN_REPORT naming a file, every step's outcome
// is appended to it as one JSON line (UTF-8) with its time ("ms", since 1970): "init", "policy", "handshake", "addresses",
// "file" (name, status, size, crc32, the first bytes in hex, or the failed address),
// "call" (a ClientCallJs request the movie received), "error" and, last, "done".
#pragma once

#include <windows.h>
#include <stdint.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/text.h"
#include "standins/flash/movie_script.h"

class ScriptReport {
public:
    ScriptReport();
    bool enabled() const { return !path_.empty(); }
    // Appends one line: {"event":"<event>", <fields>} where fields is "" or starts with ",".
    void Write(const char* event, const std::string& fields);

    // JSON helpers for the fields.
    static std::string Text(const char* name, const std::string& value);
    static std::string Number(const char* name, int64_t value);
    static std::string TextList(const char* name, const std::vector<std::string>& values);

private:
    std::wstring path_;
    std::mutex lock_;
};

class ScriptRunner {
public:
    struct Event {
        enum Kind { kShow, kBridgeCall };
        Kind kind;
        std::wstring text;  // a line for the window, or the request for FlashCall
    };

    ScriptRunner() = default;
    ~ScriptRunner() { Stop(); }
    ScriptRunner(const ScriptRunner&) = delete;
    ScriptRunner& operator=(const ScriptRunner&) = delete;

    // Starts the steps once; `window` receives `message` whenever events are waiting.
    bool Start(const std::vector<ScriptStep>& steps, const std::string& flashVars, HWND window, UINT message,
               ScriptReport* report);
    // Ends the run (sockets closed, waits stopped) and waits for the worker.
    void Stop();
    bool started() const { return worker_.joinable(); }
    std::vector<Event> TakeEvents();

private:
    struct Pending {
        uint32_t id;
        std::string name;
    };
    class Connection;

    void Run();
    bool RunStep(const ScriptStep& step, Connection* game);
    bool Connect(const std::string& portText, Connection* game);
    bool CheckPolicy(uint16_t port);
    bool ReadReply(Connection* game);
    bool WaitForReplies(Connection* game);
    void Show(const std::wstring& line);
    void CallClient(const std::vector<std::string>& arguments);
    void Fail(const std::string& message);
    bool SleepMs(uint32_t ms);

    std::vector<ScriptStep> steps_;
    std::map<std::string, std::string> variables_;
    HWND window_ = nullptr;
    UINT message_ = 0;
    ScriptReport* report_ = nullptr;
    std::thread worker_;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::vector<Event> events_;
    std::vector<Pending> pending_;
    uint32_t nextId_ = 1;
    uint32_t filesReceived_ = 0;
    uint32_t filesFailed_ = 0;
};

// The text of the first argument of an invoke request, "" when there is none; and every
// string argument in order. Values are taken as they stand between the tags.
std::string FirstInvokeArgument(const std::string& request);
std::vector<std::string> InvokeArguments(const std::string& request);
// The invoke's name attribute, "" when the request is not an invoke.
std::string InvokeName(const std::string& request);
