#include "login_test_support.h"

#include <gtest/gtest.h>
#include <ole2.h>
#include <gdiplus.h>
#include <stdlib.h>

#include <map>
#include <memory>

#include "support/test_support.h"

namespace login_testing {

namespace {

// OLE (for the hosted controls) and GDI+ (for the skins) around the whole test run.
class LoginEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        OleInitialize(nullptr);
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    }
    void TearDown() override {
        Gdiplus::GdiplusShutdown(token_);
        OleUninitialize();
    }

private:
    ULONG_PTR token_ = 0;
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new LoginEnvironment);

int WINAPI RecordFailure(HWND, const wchar_t* text, const wchar_t*, UINT) {
    TestHost::failureTexts.push_back(text ? text : L"");
    return IDOK;
}

std::string DemoConfigText() {
    LauncherConfig config;
    std::vector<uint8_t> bytes;
    if (!config.OpenPackageFile(DemoPackagePath().c_str()) || !config.ReadPackageEntry("config/cg.txt", bytes))
        return "";
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::vector<std::wstring> TestHost::failureTexts;

std::wstring DemoPackagePath() { return testing_support::FixturePath(L"login\\demo.exe"); }

std::string DemoConfigWith(const std::vector<std::pair<std::string, std::string>>& values,
                           const std::string& extraSections) {
    std::string text = DemoConfigText();
    for (const auto& value : values) {
        std::string line = value.first + "=" + value.second;
        size_t at = text.find("\n" + value.first + "=");
        if (at == std::string::npos) {
            size_t global = text.find("[global]");
            size_t end = text.find('\n', global);
            text.insert(end + 1, line + "\n");
            continue;
        }
        size_t end = text.find('\n', at + 1);
        text.replace(at + 1, end - at - 1, line);
    }
    return text + "\n" + extraSections;
}

TestHost::TestHost(const std::string& configText) {
    config_.SetMessageBox(RecordFailure);
    if (!config_.OpenPackageFile(DemoPackagePath().c_str())) return;
    bool parsed = configText.empty() ? config_.LoadIniText("config/cg.txt")
                                     : config_.ParseIniText(configText.data(), configText.size());
    loaded = parsed && config_.ReadSettings();
}

INT_PTR TestHost::RunUpdateAndGame() {
    ++runUpdateCalls;
    if (onRunUpdateAndGame) onRunUpdateAndGame();
    return IDOK;
}

std::unique_ptr<Gdiplus::Bitmap> TestHost::LoadSkin() {
    Gdiplus::Bitmap* skin = nullptr;
    return std::unique_ptr<Gdiplus::Bitmap>(config_.LoadPackageBitmap("config/main1.png", &skin) ? skin : nullptr);
}

// ---------------------------------------------------------------------------
// Scripts in a modal loop

namespace {

struct Script {
    CDialog* dialog = nullptr;
    std::vector<Step> steps;
    size_t next = 0;
    bool busy = false;
};

Script* g_script = nullptr;

void CALLBACK ScriptTick(HWND, UINT, UINT_PTR, DWORD) {
    Script* script = g_script;
    // A step that opens a nested loop (a message box, a menu) must finish first.
    if (!script || script->busy) return;
    script->busy = true;
    if (script->next < script->steps.size()) {
        if (script->steps[script->next]()) ++script->next;
    } else if (script->dialog->IsModalLoopRunning()) {
        script->dialog->EndDialog(kLeftOpen);
    }
    script->busy = false;
}

}  // namespace

Step Do(std::function<void()> action) {
    return [action] {
        action();
        return true;
    };
}

Step WaitFor(std::function<bool()> condition, DWORD timeoutMs, const char* what) {
    auto deadline = std::make_shared<DWORD>(0);
    return [condition, timeoutMs, what, deadline] {
        if (condition()) return true;
        DWORD now = GetTickCount();
        if (*deadline == 0) *deadline = now + timeoutMs;
        if (static_cast<LONG>(now - *deadline) < 0) return false;
        ADD_FAILURE() << "gave up waiting for " << what;
        return true;
    };
}

INT_PTR RunModalScript(CDialog& dialog, std::vector<Step> steps, bool* allRan) {
    Script script;
    script.dialog = &dialog;
    script.steps = std::move(steps);
    Script* outer = g_script;
    g_script = &script;
    UINT_PTR timer = SetTimer(nullptr, 0, 40, ScriptTick);
    INT_PTR result = dialog.DoModal();
    KillTimer(nullptr, timer);
    g_script = outer;
    if (allRan) *allRan = script.next == script.steps.size();
    return result;
}

// ---------------------------------------------------------------------------
// Message boxes and menus

namespace {

std::map<UINT_PTR, ThreadWatcher*> g_watchers;

// A visible window of this thread of the class, or null.
HWND ThreadWindowOfClass(const wchar_t* wanted) {
    struct Search {
        const wchar_t* className;
        HWND found;
    } search = {wanted, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            wchar_t className[16] = L"";
            GetClassNameW(window, className, 16);
            if (lstrcmpW(className, s->className) != 0 || !IsWindowVisible(window)) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

}  // namespace

ThreadWatcher::ThreadWatcher() {
    timer_ = SetTimer(nullptr, 0, 50, Tick);
    g_watchers[timer_] = this;
}

ThreadWatcher::~ThreadWatcher() {
    KillTimer(nullptr, timer_);
    g_watchers.erase(timer_);
}

void CALLBACK ThreadWatcher::Tick(HWND, UINT, UINT_PTR timer, DWORD) {
    auto found = g_watchers.find(timer);
    if (found != g_watchers.end()) found->second->OnTick();
}

void BoxAnswerer::OnTick() {
    HWND box = ThreadWindowOfClass(L"#32770");
    if (!box || !GetDlgItem(box, 0xFFFF)) return;
    captions.push_back(TextOf(box));
    texts.push_back(TextOf(GetDlgItem(box, 0xFFFF)));
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button_), 0);
}

void MenuChooser::OnTick() {
    HWND menuWindow = ThreadWindowOfClass(L"#32768");
    if (!menuWindow) return;
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
        wchar_t text[128] = L"";
        GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        items.push_back(text);
        ids.push_back(GetMenuItemID(menu, i));
    }
    PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
}

// ---------------------------------------------------------------------------
// Screen

COLORREF ScreenPixel(int x, int y) {
    HDC screen = GetDC(nullptr);
    COLORREF color = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return color;
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
    return abs(GetRValue(a) - GetRValue(b)) <= tolerance && abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

}  // namespace login_testing
