// The Flash splash as a real modal dialog over the Flash stand-in, on configurations
// read from packaged copies of Launcher.exe: the movie from the package at full screen,
// white see-through, the movie's commands, keys and mouse, a missing movie, no control.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "flash/flash_dialog.h"
#include "flash_test_support.h"

namespace {

using testing_support::FixturePath;

class TestHost : public LauncherHost {
public:
    explicit TestHost(LauncherConfig& config) : config_(config) {}

    int loginShown = 0;
    std::function<void()> onShowLogin;

    LauncherConfig& config() override { return config_; }
    void SetGameAddress(const char*) override {}
    void SetCdnAddress(const char*) override {}
    const std::string& cdnAddress() const override { return empty_; }
    void SetFlashVars(const char*) override {}
    const std::string& flashVars() const override { return empty_; }
    const std::wstring& cacheDirectory() const override { return emptyWide_; }
    void SetGoOnToGame() override {}
    void SetRunUpdateBatch() override {}
    bool IsStartedWithArgument() const override { return false; }
    void SetStartedWithArgument(bool) override {}
    void SendRequest(uint32_t, const char*) override {}
    INT_PTR RunUpdateAndGame() override { return IDCANCEL; }
    INT_PTR ShowLoginWindow() override {
        ++loginShown;
        if (onShowLogin) onShowLogin();
        return IDOK;
    }

private:
    LauncherConfig& config_;
    std::string empty_;
    std::wstring emptyWide_;
};

// Runs one step per tick of a thread timer while the dialog's modal loop runs (ticks
// that come while the dialog is still being made, a message box for example, wait). A
// dialog still open long after the last step is ended with -2 and reported, and so is a
// dialog that ends before its last step.
class StepRunner {
public:
    StepRunner(CDialog& dialog, std::vector<std::function<void()>> steps) : dialog_(dialog), steps_(std::move(steps)) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 20, Tick);
    }
    ~StepRunner() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
        EXPECT_EQ(steps_.size(), next_) << "the splash ended before all its steps ran";
    }
    StepRunner(const StepRunner&) = delete;
    StepRunner& operator=(const StepRunner&) = delete;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        StepRunner* self = current_;
        if (!self || self->running_ || !self->dialog_.IsModalLoopRunning()) return;
        self->running_ = true;
        if (self->next_ < self->steps_.size()) {
            self->steps_[self->next_++]();
        } else if (++self->idleTicks_ == 250) {
            ADD_FAILURE() << "the splash is still open after its last step";
            self->dialog_.EndDialog(-2);
        }
        self->running_ = false;
    }

    static StepRunner* current_;
    CDialog& dialog_;
    std::vector<std::function<void()>> steps_;
    size_t next_ = 0;
    int idleTicks_ = 0;
    bool running_ = false;
    UINT_PTR timer_ = 0;
};
StepRunner* StepRunner::current_ = nullptr;

INT_PTR RunSplash(CFlashDialog& dialog, std::vector<std::function<void()>> steps) {
    StepRunner runner(dialog, std::move(steps));
    return dialog.DoModal();
}

std::wstring Invoke(const std::wstring& name) {
    return L"<invoke name=\"" + name + L"\" returntype=\"xml\"><arguments></arguments></invoke>";
}

// Records what reaches a window it takes over (the stand-in's own window).
class MessageRecorder : public CWnd {
public:
    std::vector<MSG> seen;

    bool Saw(UINT message, WPARAM wParam) const {
        for (const MSG& m : seen)
            if (m.message == message && m.wParam == wParam) return true;
        return false;
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case WM_KEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_MOUSEMOVE:
            seen.push_back({m_hWnd, message, wParam, lParam, 0, {0, 0}});
            break;
        default:
            break;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

class SplashTest : public FlashStandinTest {
protected:
    void SetUp() override {
        FlashStandinTest::SetUp();
        LoadConfig(L"flash/splash.exe");
    }

    void LoadConfig(const wchar_t* fixture) {
        ASSERT_TRUE(config_.OpenPackageFile(FixturePath(fixture).c_str()));
        ASSERT_TRUE(config_.LoadIniText("config/cg.txt"));
        ASSERT_TRUE(config_.ReadSettings());
        ASSERT_EQ(7u, config_.links().size());
    }

    // A splash whose links land in `opened` instead of the browser.
    void CatchLinks(CFlashDialog& dialog) {
        dialog.SetOpenLink([this](const char* url) { opened_.push_back(url); });
    }

    FlashStandin* Standin(const CFlashDialog& dialog) { return StandinOf(dialog.movieControl()); }

    LauncherConfig config_;
    TestHost host_{config_};
    std::vector<std::string> opened_;
};

TEST_F(SplashTest, PlaysThePackagedMovieOverTheWholeScreenWithWhiteSeeThrough) {
    CFlashDialog dialog(host_);
    CatchLinks(dialog);
    const std::vector<uint8_t> movie = FixtureMovie();
    INT_PTR result = RunSplash(dialog, {
        [&] {
            RECT window = dialog.GetWindowRect();
            EXPECT_EQ(0, window.left);
            EXPECT_EQ(0, window.top);
            EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), window.right);
            EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), window.bottom);
            EXPECT_EQ(L"闪屏测试", dialog.GetWindowText());

            EXPECT_TRUE(dialog.GetExStyle() & WS_EX_LAYERED);
            COLORREF key = 0;
            BYTE alpha = 0;
            DWORD flags = 0;
            ASSERT_TRUE(GetLayeredWindowAttributes(dialog.m_hWnd, &key, &alpha, &flags));
            EXPECT_EQ(RGB(255, 255, 255), key);
            EXPECT_EQ(static_cast<DWORD>(LWA_COLORKEY), flags);

            CShockwaveFlash* control = dialog.movieControl();
            ASSERT_NE(nullptr, control);
            EXPECT_EQ(control->m_hWnd, dialog.GetDlgItem(CFlashDialog::kMovieControlId));
            EXPECT_TRUE(control->IsWindowVisible());
            RECT client = dialog.GetClientRect();
            RECT placed = control->GetWindowRect();
            MapWindowPoints(nullptr, dialog.m_hWnd, reinterpret_cast<POINT*>(&placed), 2);
            EXPECT_TRUE(EqualRect(&client, &placed));

            FlashStandin* standin = Standin(dialog);
            ASSERT_NE(nullptr, standin);
            EXPECT_EQ(movie, standin->movie());
            EXPECT_EQ(std::vector<std::wstring>{L"Play"}, standin->calls());
            EXPECT_TRUE(standin->isPlaying());
        },
        [&] {
            testing_support::SaveWindowShot(dialog.m_hWnd, L"flash_splash.png");
            // Any FSCommand but quit is left to the movie.
            Standin(dialog)->FireFSCommand(L"start", L"now");
        },
        [&] {
            EXPECT_TRUE(dialog.IsWindowVisible());
            Standin(dialog)->FireFSCommand(L"quit", L"");
        },
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(0, host_.loginShown);
    EXPECT_TRUE(opened_.empty());
    EXPECT_EQ(nullptr, dialog.m_hWnd);
}

struct FlashCallCase {
    std::wstring request;
    const char* opens;  // the link's address, or null
};

TEST_F(SplashTest, MovieOpensConfiguredLinksByNumberAndIgnoresEverythingElse) {
    const std::wstring zeros(61, L'0');
    const FlashCallCase cases[] = {
        {Invoke(L"!2"), "http://127.0.0.1:8080/link2.html"},
        {Invoke(L"!7"), "http://127.0.0.1:8080/link7.html"},
        {Invoke(L"!1"), "http://127.0.0.1:8080/link1.html"},
        {Invoke(L"!0"), nullptr},
        {Invoke(L"!8"), nullptr},
        {Invoke(L"!-1"), nullptr},
        {Invoke(L"!"), nullptr},
        {Invoke(L"!99999999999999999999"), nullptr},
        // 63 characters are looked at: the number survives the cut, and one more zero
        // pushes its last digit out.
        {Invoke(L"!" + zeros + L"2"), "http://127.0.0.1:8080/link2.html"},
        {Invoke(L"!" + zeros + L"02"), nullptr},
        {Invoke(L"QUIT"), nullptr},
        {Invoke(L"End"), nullptr},
        {Invoke(L"quit2"), nullptr},
        {L"quit", nullptr},
        {L"\"quit", nullptr},
        {L"", nullptr},
    };
    CFlashDialog dialog(host_);
    CatchLinks(dialog);
    std::vector<std::function<void()>> steps;
    for (const FlashCallCase& c : cases) {
        steps.push_back([&] {
            SCOPED_TRACE(Utf8FromWide(c.request));
            opened_.clear();
            Standin(dialog)->FireFlashCall(c.request.c_str());
            EXPECT_TRUE(dialog.IsModalLoopRunning());
            EXPECT_TRUE(dialog.IsWindowVisible());
            EXPECT_FALSE(IsIconic(dialog.m_hWnd));
            if (c.opens) {
                EXPECT_EQ(std::vector<std::string>{c.opens}, opened_);
            } else {
                EXPECT_TRUE(opened_.empty());
            }
        });
    }
    steps.push_back([&] { Standin(dialog)->FireFlashCall(Invoke(L"minimal").c_str()); });
    steps.push_back([&] {
        EXPECT_TRUE(IsIconic(dialog.m_hWnd));
        Standin(dialog)->FireFlashCall(Invoke(L"quit").c_str());
    });
    EXPECT_EQ(IDOK, RunSplash(dialog, steps));
    EXPECT_EQ(0, host_.loginShown);
}

// A window the splash may be owned by; counts the WM_CLOSE it is sent.
class OwnerWindow : public CDialog {
public:
    OwnerWindow() : CDialog(IDD_STANDARD_LAYER) {}
    int closes = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case WM_CLOSE:
            ++closes;
            return 0;
        default:
            return CDialog::WindowProc(message, wParam, lParam);
        }
    }
};

TEST_F(SplashTest, QuitFromFlashCallClosesTheOwnerToo) {
    struct Case {
        const wchar_t* name;
        std::function<void(FlashStandin*)> quit;
        INT_PTR result;
        int ownerCloses;
    };
    const Case cases[] = {
        {L"FlashCall quit", [](FlashStandin* s) { s->FireFlashCall(Invoke(L"quit").c_str()); }, IDOK, 1},
        {L"FSCommand quit", [](FlashStandin* s) { s->FireFSCommand(L"quit", L""); }, IDCANCEL, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8FromWide(c.name));
        OwnerWindow owner;
        ASSERT_TRUE(owner.Create(IDD_STANDARD_LAYER, nullptr));
        SetActiveWindow(owner.m_hWnd);
        ASSERT_EQ(owner.m_hWnd, GetActiveWindow());
        CFlashDialog dialog(host_);
        CatchLinks(dialog);
        INT_PTR result = RunSplash(dialog, {
            [&] {
                EXPECT_EQ(owner.m_hWnd, dialog.GetParent());
                c.quit(Standin(dialog));
            },
        });
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.ownerCloses, owner.closes);
        owner.DestroyWindow();
    }
}

TEST_F(SplashTest, EndStopsTheMovieAndOpensTheLoginWindowWhileTheSplashStaysOnScreen) {
    CFlashDialog dialog(host_);
    CatchLinks(dialog);
    bool visibleAtLogin = false, visibleAfterAWhile = false, loopRunningAtLogin = false;
    std::vector<std::wstring> callsAtLogin;
    host_.onShowLogin = [&] {
        visibleAtLogin = dialog.IsWindowVisible() && !IsIconic(dialog.m_hWnd);
        loopRunningAtLogin = dialog.IsModalLoopRunning();
        callsAtLogin = Standin(dialog)->calls();
        // The login window's own modal loop runs here for a while.
        bool done = false;
        UINT_PTR timer = SetTimer(nullptr, 0, 200, nullptr);
        MSG message;
        while (!done && GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_TIMER && message.wParam == timer) done = true;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        KillTimer(nullptr, timer);
        visibleAfterAWhile = dialog.IsWindowVisible();
    };
    INT_PTR result = RunSplash(dialog, {
        [&] { Standin(dialog)->FireFlashCall(Invoke(L"end").c_str()); },
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(1, host_.loginShown);
    EXPECT_TRUE(visibleAtLogin);
    EXPECT_TRUE(loopRunningAtLogin);
    EXPECT_TRUE(visibleAfterAWhile);
    EXPECT_EQ((std::vector<std::wstring>{L"Play", L"Stop"}), callsAtLogin);
    EXPECT_EQ(nullptr, dialog.m_hWnd);
}

TEST_F(SplashTest, RunsAgainWithAFreshControlThatStillDrivesIt) {
    CFlashDialog dialog(host_);
    CatchLinks(dialog);
    const std::vector<uint8_t> movie = FixtureMovie();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        INT_PTR result = RunSplash(dialog, {
            [&] {
                ASSERT_NE(nullptr, Standin(dialog));
                EXPECT_EQ(movie, Standin(dialog)->movie());
                EXPECT_EQ(1u, Standin(dialog)->sinkCount());
                Standin(dialog)->FireFlashCall(Invoke(L"!3").c_str());
            },
            [&] { Standin(dialog)->FireFSCommand(L"quit", L"x"); },
        });
        EXPECT_EQ(IDCANCEL, result);
    }
    EXPECT_EQ(2u, opened_.size());
}

TEST_F(SplashTest, KeysReachTheMovieAndTheMouseIsFilteredOnTheWayThere) {
    CFlashDialog dialog(host_);
    CatchLinks(dialog);
    MessageRecorder movieWindow;
    auto post = [&](UINT message, WPARAM wParam) { PostMessageW(movieWindow.m_hWnd, message, wParam, MAKELPARAM(5, 5)); };
    INT_PTR result = RunSplash(dialog, {
        [&] {
            ASSERT_NE(nullptr, Standin(dialog));
            ASSERT_TRUE(movieWindow.SubclassWindow(Standin(dialog)->window()));
            post(WM_KEYDOWN, VK_ESCAPE);
            post(WM_KEYDOWN, VK_RETURN);
            PostMessageW(dialog.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(dialog.m_hWnd, WM_KEYDOWN, VK_RETURN, 0);
            post(WM_RBUTTONDOWN, MK_RBUTTON);
            post(WM_LBUTTONDOWN, MK_LBUTTON);
            post(WM_MOUSEMOVE, MK_LBUTTON);
            post(WM_LBUTTONUP, 0);
            post(WM_MOUSEMOVE, 0);
        },
        [&] {
            EXPECT_TRUE(dialog.IsModalLoopRunning());
            EXPECT_TRUE(movieWindow.Saw(WM_KEYDOWN, VK_ESCAPE));
            EXPECT_TRUE(movieWindow.Saw(WM_KEYDOWN, VK_RETURN));
            EXPECT_FALSE(movieWindow.Saw(WM_RBUTTONDOWN, MK_RBUTTON));
            EXPECT_TRUE(movieWindow.Saw(WM_LBUTTONDOWN, MK_LBUTTON));
            EXPECT_FALSE(movieWindow.Saw(WM_MOUSEMOVE, MK_LBUTTON));
            EXPECT_TRUE(movieWindow.Saw(WM_LBUTTONUP, 0));
            EXPECT_TRUE(movieWindow.Saw(WM_MOUSEMOVE, 0));
            // A press whose release happened elsewhere: the next move without the
            // button reaches the movie, and so do the moves after it.
            movieWindow.seen.clear();
            post(WM_LBUTTONDOWN, MK_LBUTTON);
            post(WM_MOUSEMOVE, 0);
            post(WM_MOUSEMOVE, MK_SHIFT);
        },
        [&] {
            EXPECT_TRUE(movieWindow.Saw(WM_MOUSEMOVE, 0));
            EXPECT_TRUE(movieWindow.Saw(WM_MOUSEMOVE, MK_SHIFT));
            Standin(dialog)->FireFSCommand(L"quit", L"");
        },
    });
    EXPECT_EQ(IDCANCEL, result);
}

TEST_F(SplashTest, MissingMovieIsReportedAndLeavesAnEmptyControl) {
    LoadConfig(L"flash/no_movie.exe");
    testing_support::MessageBoxCatcher catcher;
    CFlashDialog dialog(host_);
    CatchLinks(dialog);
    INT_PTR result = RunSplash(dialog, {
        [&] {
            std::vector<testing_support::CaughtBox> boxes = catcher.boxes();
            ASSERT_EQ(1u, boxes.size());
            EXPECT_EQ(L"启动失败", boxes[0].caption);
            EXPECT_EQ(L"读取图片失败", boxes[0].text);
            EXPECT_TRUE(dialog.IsWindowVisible());
            EXPECT_TRUE(dialog.GetExStyle() & WS_EX_LAYERED);
            FlashStandin* standin = Standin(dialog);
            ASSERT_NE(nullptr, standin);
            EXPECT_TRUE(standin->movie().empty());
            EXPECT_TRUE(standin->calls().empty());
            // The empty control still carries the commands.
            standin->FireFlashCall(Invoke(L"!4").c_str());
            standin->FireFlashCall(Invoke(L"quit").c_str());
        },
    });
    EXPECT_EQ(IDOK, result);
    EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1:8080/link4.html"}, opened_);
}

TEST(SplashWithoutControl, IsAnEmptyTransparentWindowClosedThroughTheSystem) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    IUnknown* installed = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShockwaveFlash, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&installed)))) {
        installed->Release();
        OleUninitialize();
        GTEST_SKIP() << "a Flash control is installed in this prefix";
    }
    {
        LauncherConfig config;
        ASSERT_TRUE(config.OpenPackageFile(FixturePath(L"flash/splash.exe").c_str()));
        ASSERT_TRUE(config.LoadIniText("config/cg.txt"));
        ASSERT_TRUE(config.ReadSettings());
        TestHost host(config);
        testing_support::MessageBoxCatcher catcher;
        CFlashDialog dialog(host);
        INT_PTR result = RunSplash(dialog, {
            [&] {
                EXPECT_TRUE(dialog.IsWindowVisible());
                EXPECT_TRUE(dialog.GetExStyle() & WS_EX_LAYERED);
                EXPECT_EQ(nullptr, dialog.movieControl()->GetControlUnknown());
                EXPECT_EQ(nullptr, dialog.GetDlgItem(CFlashDialog::kMovieControlId));
                EXPECT_TRUE(catcher.boxes().empty());
                dialog.PostMessage(WM_SYSCOMMAND, SC_CLOSE);
            },
        });
        EXPECT_EQ(IDCANCEL, result);
    }
    OleUninitialize();
}

}  // namespace
