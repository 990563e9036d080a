// Small helpers shared by the test programs.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "framework/text.h"

namespace testing_support {

// Windows path of a file produced into the build's fixture folder.
std::wstring FixturePath(const std::wstring& name);

// Whole contents of a file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const void* data, size_t length);

// A fresh directory under the system's temporary folder, removed with its contents
// when the object goes away. path() ends with a backslash.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

// The HTTP test server of a launcher_http_test program: its port (0 when not set), and
// the Windows path (through drive Z:) of the folder it serves, ending with a backslash.
int HttpServerPort();
std::wstring HttpServerRoot();
// Writes a file the HTTP test server then serves at /<name> ("/" separated), creating
// the folders on its way.
bool PublishOnHttpServer(const std::string& name, const std::string& content);

// A plain HTTP/1.0 GET of the HTTP test server on a socket of our own, for its control
// paths (the client's handles may all be busy). Returns the body.
std::string ControlGet(const std::string& path);

// A request as the HTTP test server saw it: its path, the connection it came on and its
// header lines as "Name: value".
struct SeenRequest {
    std::string path;
    int connection = 0;
    std::vector<std::string> headers;
};

// The requests the HTTP test server logged since its last reset, in arrival order.
std::vector<SeenRequest> SeenRequests();
bool HasHeader(const SeenRequest& request, const std::string& line);
// The Range header line of each logged request of path, in order ("" for none).
std::vector<std::string> RangesAsked(const std::string& path);

}  // namespace testing_support

namespace testing_support {

struct CaughtBox {
    std::wstring caption;
    std::wstring text;
};

// Watches for message boxes (dialogs of class #32770) of one process, records caption
// and text, and answers each with `answer` (OK unless told). Process id 0 means this
// process.
class MessageBoxCatcher {
public:
    explicit MessageBoxCatcher(DWORD processId = 0, int answer = IDOK);
    ~MessageBoxCatcher();
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;
    std::vector<CaughtBox> boxes() const;

private:
    static DWORD WINAPI Watch(void* self);
    DWORD processId_;
    int answer_;
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    mutable CRITICAL_SECTION lock_;
    std::vector<CaughtBox> boxes_;
};

// Records the style (the MB_… flags it was called with) of every message box this
// thread opens while the recorder lives. One recorder per thread at a time.
class MessageBoxStyles {
public:
    MessageBoxStyles();
    ~MessageBoxStyles();
    MessageBoxStyles(const MessageBoxStyles&) = delete;
    MessageBoxStyles& operator=(const MessageBoxStyles&) = delete;
    const std::vector<UINT>& styles() const { return styles_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK hook_ = nullptr;
    std::vector<UINT> styles_;
};

struct RunResult {
    bool exited = false;
    DWORD exitCode = 0;
    std::vector<CaughtBox> boxes;
};

// Starts `exe` with `arguments` in `directory`, answers its message boxes with OK and
// waits for it to end (killing it after `timeoutMs`).
RunResult RunAndCatch(const std::wstring& exe, const std::wstring& arguments,
                      const std::wstring& directory, DWORD timeoutMs = 60000);

bool CopyFileTo(const std::wstring& from, const std::wstring& to);

// Whether the shell holds the notification-area icon (window, id): NIM_MODIFY succeeds
// only for an icon it has.
bool ShellHasTrayIcon(HWND window, UINT id);
// The shell starting anew (Explorer restarted) as `window` sees it: its icon (window, id)
// is gone, and the window gets the shell's "TaskbarCreated".
void RestartShellFor(HWND window, UINT id);

// Holds `key` down in this thread's keyboard state (GetKeyState) while it lives, for
// messages posted by a test that a window reads together with a modifier.
class HeldKey {
public:
    explicit HeldKey(BYTE key);
    ~HeldKey();
    HeldKey(const HeldKey&) = delete;
    HeldKey& operator=(const HeldKey&) = delete;

private:
    BYTE saved_[256] = {};
};

// Writes what the screen shows of `window` as a PNG into the folder "artifacts" of the
// current directory (the test's build folder). False when nothing could be written.
// Defined in support/window_shot.cpp, which a test program adds to its sources.
bool SaveWindowShot(HWND window, const std::wstring& fileName);

}  // namespace testing_support
