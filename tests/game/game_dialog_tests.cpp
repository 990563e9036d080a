// The game window with real windows under the display: the game movie decrypted from the
// cache into the Flash stand-in, the skin and its sizes in the three window states, hit
// testing, moving and sizing, and the window's commands (close and restart questions,
// settings menu, tray icon, boss key, taskbar flashing).
#include <gtest/gtest.h>

#include <stddef.h>

#include <ole2.h>
#include <gdiplus.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "framework/text.h"
#include "game/game_dialog.h"
#include "game_window_host.h"
#include "server/frame_encrypt.h"
#include "standins/flash/flash_standin.h"
#include "support/test_support.h"

// Rectangles compare and print as such in the expectations below.
bool operator==(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }
std::ostream& operator<<(std::ostream& out, const RECT& r) {
    return out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

using game_testing::ConfigMessages;
using game_testing::DemoConfigText;
using TestHost = game_testing::GameWindowHost;
using testing_support::MessageBoxCatcher;
using testing_support::TempDir;

namespace {

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        OleInitialize(nullptr);
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&gdiplus_, &input, nullptr);
        ASSERT_EQ(S_OK, RegisterFlashStandin());
    }
    void TearDown() override {
        RevokeFlashStandin();
        Gdiplus::GdiplusShutdown(gdiplus_);
        OleUninitialize();
    }

private:
    ULONG_PTR gdiplus_ = 0;
};

const ::testing::Environment* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Environment);

// A small uncompressed SWF movie of 800 x 600 pixels followed by `padding` bytes.
std::vector<uint8_t> MakeMovie(size_t padding) {
    std::vector<uint8_t> movie = {'F', 'W', 'S', 10, 0, 0, 0, 0};
    // Frame rectangle: 16-bit fields 0, 16000, 0, 12000 twips, packed after a 5-bit count.
    const uint32_t fields[4] = {0, 16000, 0, 12000};
    uint64_t bits = 16;
    int bitCount = 5;
    std::vector<uint8_t> packed;
    for (uint32_t field : fields) {
        bits = (bits << 16) | field;
        bitCount += 16;
        while (bitCount >= 8) {
            packed.push_back(static_cast<uint8_t>(bits >> (bitCount - 8)));
            bitCount -= 8;
        }
    }
    if (bitCount) packed.push_back(static_cast<uint8_t>(bits << (8 - bitCount)));
    movie.insert(movie.end(), packed.begin(), packed.end());
    const uint8_t rateAndCount[] = {0, 24, 1, 0, 0, 0};  // 24 fps, one frame, End tag
    movie.insert(movie.end(), rateAndCount, rateAndCount + sizeof rateAndCount);
    for (size_t i = 0; i < padding; ++i) movie.push_back(static_cast<uint8_t>(i * 7 + 3));
    const uint32_t length = static_cast<uint32_t>(movie.size());
    for (int i = 0; i < 4; ++i) movie[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    return movie;
}

std::vector<uint8_t> Encrypt(const std::vector<uint8_t>& movie, const char* key) {
    std::vector<uint8_t> frame(movie.size());
    EXPECT_EQ(static_cast<int>(movie.size()),
              EncryptGameFrame(movie.data(), static_cast<int>(movie.size()), key, frame.data()));
    return frame;
}

void WriteFrame(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes.data(), bytes.size()));
}

// Runs the message loop (with pre-translation) for `milliseconds`.
bool g_pumpDone = false;
void CALLBACK EndPump(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    g_pumpDone = true;
}
void PumpFor(UINT milliseconds) {
    g_pumpDone = false;
    SetTimer(nullptr, 0, milliseconds, EndPump);
    PumpMessagesUntil(g_pumpDone);
}

// The game window with its questions answered by the test and its new launcher recorded.
class TestGameDialog : public CGameDialog {
public:
    using CGameDialog::CGameDialog;

    struct Question {
        std::wstring text, caption;
        UINT flags;
    };
    std::vector<Question> questions;
    int answer = IDCANCEL;
    bool useRealMessageBox = false;
    int newInstances = 0;
    bool windowAliveAtNewInstance = false;
    int flashTimerTicks = 0;
    std::function<void(TestGameDialog&)> script;

    // Runs the dialog modally; `run` acts once the window is up. A dialog the script leaves
    // open is ended with -5.
    INT_PTR RunWith(std::function<void(TestGameDialog&)> run) {
        script = std::move(run);
        return DoModal();
    }

    HWND controlWindow() { return gameControl() ? gameControl()->m_hWnd : nullptr; }
    FlashStandin* standin() { return gameControl() ? FlashStandinFromUnknown(gameControl()->GetControlUnknown()) : nullptr; }

    using CGameDialog::WindowProc;

protected:
    enum : UINT { kRunScript = WM_APP + 40, kEndIfOpen = WM_APP + 41 };

    BOOL OnInitDialog() override {
        BOOL result = CGameDialog::OnInitDialog();
        PostMessage(kRunScript);
        return result;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kRunScript) {
            if (script) script(*this);
            // A dialog the script ended leaves its loop before this arrives.
            PostMessage(kEndIfOpen);
            return 0;
        }
        if (message == kEndIfOpen) {
            EndDialog(-5);
            return 0;
        }
        if (message == WM_TIMER && wParam == kFlashTimer) ++flashTimerTicks;
        return CGameDialog::WindowProc(message, wParam, lParam);
    }
    int AskUser(const wchar_t* text, const wchar_t* caption, UINT flags) override {
        questions.push_back({text, caption, flags});
        if (useRealMessageBox) return CGameDialog::AskUser(text, caption, flags);
        return answer;
    }
    void StartNewInstance() override {
        ++newInstances;
        windowAliveAtNewInstance = m_hWnd && IsWindowVisible();
    }
};

RECT ChildRect(const CWnd& parent, HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent.m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

int Width(const RECT& rect) { return rect.right - rect.left; }
int Height(const RECT& rect) { return rect.bottom - rect.top; }

RECT WorkArea() {
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

// Drives the next popup menu of this process from another thread: records where it opened
// and its items, then presses Down `downs` times and Enter (or Escape when `downs` is 0).
class MenuDriver {
public:
    struct Item {
        UINT id;
        std::wstring text;
        bool checked;
    };

    explicit MenuDriver(int downs) : downs_(downs) { thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr); }
    ~MenuDriver() {
        Join();
        CloseHandle(thread_);
    }
    void Join() const { WaitForSingleObject(thread_, 10000); }
    MenuDriver(const MenuDriver&) = delete;
    MenuDriver& operator=(const MenuDriver&) = delete;

    // Valid after Join.
    RECT rect = {};
    std::vector<Item> items;

private:
    static BOOL CALLBACK FindMenu(HWND window, LPARAM param) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t className[16] = L"";
        GetClassNameW(window, className, 16);
        if (process != GetCurrentProcessId() || lstrcmpW(className, L"#32768") != 0 || !IsWindowVisible(window))
            return TRUE;
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    static DWORD WINAPI Run(void* param) {
        MenuDriver* self = static_cast<MenuDriver*>(param);
        HWND menuWindow = nullptr;
        for (int i = 0; i < 200 && !menuWindow; ++i) {
            EnumWindows(FindMenu, reinterpret_cast<LPARAM>(&menuWindow));
            if (!menuWindow) Sleep(25);
        }
        if (!menuWindow) return 1;
        GetWindowRect(menuWindow, &self->rect);
        HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
        for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
            wchar_t text[128] = L"";
            GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
            const bool checked = (GetMenuState(menu, i, MF_BYPOSITION) & MF_CHECKED) != 0;
            self->items.push_back({GetMenuItemID(menu, i), text, checked});
        }
        for (int i = 0; i < self->downs_; ++i) PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageW(menuWindow, WM_KEYDOWN, self->downs_ ? VK_RETURN : VK_ESCAPE, 0);
        return 0;
    }

    int downs_;
    HANDLE thread_ = nullptr;
};

class GameDialogTest : public ::testing::Test {
protected:
    void SetUp() override { ConfigMessages().clear(); }
};

// ---------------------------------------------------------------------------------------
// The game movie

TEST_F(GameDialogTest, TheMovieIsDecryptedFromTheCacheIntoTheControl) {
    TestHost host;
    const std::vector<uint8_t> movie = MakeMovie(5000);
    WriteFrame(host.FramePath(), Encrypt(movie, host.config().settings().aesKey));
    MessageBoxCatcher boxes;
    TestGameDialog dialog(host);
    std::vector<std::wstring> calls;
    std::vector<uint8_t> received;
    dialog.RunWith([&](TestGameDialog& d) {
        ASSERT_NE(nullptr, d.standin());
        received = d.standin()->movie();
        calls = d.standin()->calls();
        EXPECT_TRUE(d.standin()->isPlaying());
    });
    EXPECT_EQ(movie, received);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(L"Play", calls[0]);
    EXPECT_EQ(L"DisableLocalSecurity", calls[1]);
    // Then the game parameters, unformatted.
    EXPECT_EQ(L"CallFunction:<invoke name=\"_InitGameParams\"><arguments><string>server=127.0.0.1&port=9898"
              L"</string></arguments></invoke>",
              calls.back());
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(GameDialogTest, FramesThatGiveNoMovie) {
    struct Case {
        const char* name;
        bool write;
        std::function<std::vector<uint8_t>(const char* key)> frame;
        bool message;
    };
    const Case cases[] = {
        {"wrong key", true, [](const char*) { return Encrypt(MakeMovie(300), "AnotherKey123456"); }, true},
        {"plain bytes", true, [](const char*) { return std::vector<uint8_t>(64, 0x41); }, true},
        {"empty file", true, [](const char*) { return std::vector<uint8_t>(); }, false},
        {"missing file", false, nullptr, false},
    };
    for (const Case& c : cases) {
        TestHost host;
        if (c.write) WriteFrame(host.FramePath(), c.frame(host.config().settings().aesKey));
        MessageBoxCatcher boxes;
        TestGameDialog dialog(host);
        bool empty = false;
        size_t buttons = 0;
        dialog.RunWith([&](TestGameDialog& d) {
            ASSERT_NE(nullptr, d.standin()) << c.name;
            empty = d.standin()->movie().empty();
            buttons = d.skinButtons().size();
        });
        EXPECT_TRUE(empty) << c.name;
        // Initialisation goes on after the movie.
        EXPECT_EQ(10u, buttons) << c.name;
        std::vector<testing_support::CaughtBox> caught = boxes.boxes();
        if (c.message) {
            ASSERT_EQ(1u, caught.size()) << c.name;
            EXPECT_EQ(L"load game main engineer error", caught[0].text);
            EXPECT_EQ(L"game_tests", caught[0].caption);
        } else {
            EXPECT_TRUE(caught.empty()) << c.name;
        }
    }
}

TEST_F(GameDialogTest, AFramePathTooLongForTheSystemIsRefusedNotCut) {
    TestHost host;
    // A directory whose frame path is one character too long; the path cut to fit names
    // a real frame, which must not be loaded.
    std::wstring directory = host.cacheDirectory();
    const std::wstring swf = ToWide(host.config().settings().swf, true);
    directory.append(MAX_PATH - directory.size() - swf.size() - 1, L'd');
    directory += L'\\';
    ASSERT_EQ(static_cast<size_t>(MAX_PATH), directory.size() + swf.size());
    if (!CreateDirectoryW(directory.c_str(), nullptr)) GTEST_SKIP() << "no directory of that length here";
    const std::wstring cut = (directory + swf).substr(0, MAX_PATH - 1);
    WriteFrame(cut, Encrypt(MakeMovie(100), host.config().settings().aesKey));
    host.SetCacheDirectory(directory);

    TestGameDialog dialog(host);
    bool empty = false;
    bool loaded = true;
    dialog.RunWith([&](TestGameDialog& d) {
        ASSERT_NE(nullptr, d.standin());
        empty = d.standin()->movie().empty();
        loaded = d.LoadGameMovie(directory + swf, host.config().settings().aesKey);
    });
    EXPECT_TRUE(empty);
    EXPECT_FALSE(loaded);
    DeleteFileW(cut.c_str());
    RemoveDirectoryW(directory.c_str());
}

// ---------------------------------------------------------------------------------------
// Skin, layout and states

TEST_F(GameDialogTest, SkinPiecesButtonsTitleAndLogo) {
    TestHost host;
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        const SIZE expected[8] = {{6, 27}, {16, 27}, {6, 27}, {3, 16}, {3, 16}, {4, 5}, {16, 3}, {4, 5}};
        for (int k = 0; k < 8; ++k) {
            EXPECT_EQ(expected[k].cx, d.frame().edgeSize(k).cx) << k;
            EXPECT_EQ(expected[k].cy, d.frame().edgeSize(k).cy) << k;
        }
        // Ten buttons in the order of the configuration, with their ids and captions.
        ASSERT_EQ(10u, d.skinButtons().size());
        const int types[10] = {1, 1, 12, 1, 11, 8, 7, 6, 10, 5};
        for (size_t j = 0; j < 10; ++j) {
            EXPECT_EQ(types[j], d.skinButtons()[j]->type());
            EXPECT_EQ(180 + types[j], d.skinButtons()[j]->GetDlgCtrlID());
        }
        EXPECT_EQ(L"官方网站", d.skinButtons()[0]->GetWindowText());
        EXPECT_EQ(L"http://127.0.0.1:8080/pay.html", d.FindButtonOfType(12)->linkAddress());
        EXPECT_EQ(L"http://127.0.0.1:8080/home.html", d.skinButtons()[0]->linkAddress());
        EXPECT_TRUE(d.FindButtonOfType(5)->linkAddress().empty());
        EXPECT_EQ(L"关闭", d.FindButtonOfType(5)->GetTipText());
        EXPECT_EQ(L"云海传奇 V1.11", d.GetWindowText());
        EXPECT_EQ(L"云海传奇", d.titleText());
        HWND logo = d.GetDlgItem(300);
        ASSERT_NE(nullptr, logo);
        const RECT logoRect = ChildRect(d, logo);
        EXPECT_EQ(8, logoRect.left);
        EXPECT_EQ(2, logoRect.top);
        EXPECT_EQ(110, Width(logoRect));
        EXPECT_NE(0u, d.GetExStyle() & WS_EX_APPWINDOW);
        EXPECT_NE(0u, d.GetStyle() & WS_MINIMIZEBOX);
    });
    EXPECT_TRUE(ConfigMessages().empty());
}

std::vector<std::wstring> g_openedLinks;
HINSTANCE WINAPI RecordLink(HWND, const wchar_t*, const wchar_t* address, const wchar_t*, const wchar_t*, int) {
    g_openedLinks.push_back(address);
    return reinterpret_cast<HINSTANCE>(33);
}

TEST_F(GameDialogTest, ALinkButtonOpensItsAddressAndTheWindowAddsNothing) {
    TestHost host;
    TestGameDialog dialog(host);
    g_openedLinks.clear();
    const CxSkinButton::LinkOpener opener = CxSkinButton::linkOpener;
    CxSkinButton::linkOpener = RecordLink;
    INT_PTR result = dialog.RunWith([&](TestGameDialog& d) {
        HWND forum = d.skinButtons()[1]->m_hWnd;
        PostMessageW(forum, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageW(forum, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        PumpFor(200);
        EXPECT_TRUE(d.IsWindowVisible());
    });
    CxSkinButton::linkOpener = opener;
    EXPECT_EQ(-5, result);
    EXPECT_EQ(std::vector<std::wstring>{L"http://127.0.0.1:8080/forum.html"}, g_openedLinks);
    EXPECT_TRUE(dialog.questions.empty());
}

TEST_F(GameDialogTest, LayoutInTheThreeStates) {
    TestHost host;
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        const RECT work = WorkArea();
        // It opens maximised to the work area: the band across the top, the movie below.
        EXPECT_TRUE(d.isMaximized());
        RECT window = d.GetWindowRect();
        EXPECT_EQ(work.left, window.left);
        EXPECT_EQ(work.top, window.top);
        EXPECT_EQ(Width(work), Width(window));
        EXPECT_EQ(Height(work), Height(window));
        RECT control = ChildRect(d, d.controlWindow());
        EXPECT_EQ((RECT{0, 27, Width(window), Height(window)}), control);
        CGameButton* close = d.FindButtonOfType(5);
        EXPECT_EQ(Width(window) - 24, ChildRect(d, close->m_hWnd).left);
        EXPECT_EQ(4, ChildRect(d, close->m_hWnd).top);
        EXPECT_TRUE(d.FindButtonOfType(10)->IsWindowVisible());
        EXPECT_FALSE(d.FindButtonOfType(6)->IsWindowVisible());

        // Normal: centred at the configured size, framed on every side.
        d.RestoreNormalSize();
        EXPECT_FALSE(d.isMaximized());
        window = d.GetWindowRect();
        EXPECT_EQ(1000, Width(window));
        EXPECT_EQ(640, Height(window));
        EXPECT_EQ((Width(work) - 1000) / 2 > 0 ? (Width(work) - 1000) / 2 : 0, window.left);
        control = ChildRect(d, d.controlWindow());
        EXPECT_EQ((RECT{3, 27, 1000 - 3, 640 - 3}), control);
        EXPECT_EQ(1000 - 24 - 3, ChildRect(d, close->m_hWnd).left);
        EXPECT_FALSE(d.FindButtonOfType(10)->IsWindowVisible());
        EXPECT_TRUE(d.FindButtonOfType(6)->IsWindowVisible());

        // Full screen: the movie covers the screen, buttons and logo hidden.
        d.EnterFullScreen();
        EXPECT_TRUE(d.IsFullScreen());
        window = d.GetWindowRect();
        EXPECT_EQ((RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}), window);
        EXPECT_EQ((RECT{0, 0, Width(window), Height(window)}), ChildRect(d, d.controlWindow()));
        for (const auto& button : d.skinButtons()) EXPECT_FALSE(button->IsWindowVisible());
        EXPECT_FALSE(IsWindowVisible(d.GetDlgItem(300)));

        // Back to the state it came from.
        d.LeaveFullScreen();
        EXPECT_FALSE(d.IsFullScreen());
        EXPECT_FALSE(d.isMaximized());
        EXPECT_EQ(1000, Width(d.GetWindowRect()));
        EXPECT_TRUE(IsWindowVisible(d.GetDlgItem(300)));
        EXPECT_TRUE(d.FindButtonOfType(6)->IsWindowVisible());
        EXPECT_FALSE(d.FindButtonOfType(10)->IsWindowVisible());
    });
}

TEST_F(GameDialogTest, TheHiddenNoticeButtonAppearsAfterFullScreen) {
    std::string text = DemoConfigText();
    const std::string count = "gameButtonCount =10";
    text.replace(text.find(count), count.size(), "gameButtonCount =11");
    text += "\n[gamebutton11]\nx=-520\ny=3\ntype=13\nimage=1\ntitle=NEW\nurl=http://127.0.0.1/notice\n";
    TestHost host(text);
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        CGameButton* notice = d.FindButtonOfType(13);
        ASSERT_NE(nullptr, notice);
        EXPECT_FALSE(notice->IsWindowVisible());
        EXPECT_TRUE(notice->linkAddress().empty());
        d.EnterFullScreen();
        d.LeaveFullScreen();
        EXPECT_TRUE(notice->IsWindowVisible());
        EXPECT_EQ(Width(d.GetWindowRect()) - 520, ChildRect(d, notice->m_hWnd).left);
    });
}

TEST_F(GameDialogTest, TheSameWindowObjectOpensAgainAfresh) {
    TestHost host;
    WriteFrame(host.FramePath(), Encrypt(MakeMovie(10), host.config().settings().aesKey));
    TestGameDialog dialog(host);
    dialog.answer = IDOK;
    // The first time the movie forwards function keys, the user gives the window a size of
    // their own, and it closes from full screen.
    EXPECT_EQ(IDOK, dialog.RunWith([](TestGameDialog& d) {
        d.scriptBridge().OnFlashCall(
            L"<invoke name=\"JsCallClient\" returntype=\"xml\"><arguments><string>3</string></arguments></invoke>");
        ASSERT_TRUE(d.scriptBridge().functionKeysForwarded());
        d.RestoreNormalSize();
        d.MoveWindow(40, 50, 1100, 700);
        d.EnterFullScreen();
        d.SendMessage(WM_COMMAND, 185);
    }));
    dialog.RunWith([&](TestGameDialog& d) {
        EXPECT_FALSE(d.IsFullScreen());
        EXPECT_TRUE(d.isMaximized());
        EXPECT_FALSE(d.scriptBridge().functionKeysForwarded());
        ASSERT_EQ(10u, d.skinButtons().size());
        EXPECT_TRUE(d.FindButtonOfType(5)->IsWindowVisible());
        ASSERT_NE(nullptr, d.standin());
        EXPECT_FALSE(d.standin()->movie().empty());
        // Its first restore is the configured size, centred, as in a window never shown.
        d.RestoreNormalSize();
        const RECT work = WorkArea();
        const int left = std::max(0, (Width(work) - 1000) / 2);
        const int top = std::max(0, (Height(work) - 640) / 2);
        EXPECT_EQ((RECT{left, top, left + 1000, top + 640}), d.GetWindowRect());
    });
}

TEST_F(GameDialogTest, RestoreReturnsToTheUsersSize) {
    TestHost host;
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        d.RestoreNormalSize();
        d.MoveWindow(40, 50, 1100, 700);
        d.MaximizeToWorkArea();
        EXPECT_TRUE(d.isMaximized());
        d.RestoreNormalSize();
        EXPECT_EQ((RECT{40, 50, 1140, 750}), d.GetWindowRect());
        // Full screen entered from the normal state keeps that size too.
        d.ToggleFullScreen();
        d.ToggleFullScreen();
        EXPECT_EQ((RECT{40, 50, 1140, 750}), d.GetWindowRect());
    });
}

TEST_F(GameDialogTest, AWorkAreaNarrowerThanTheGameSize) {
    const RECT work = WorkArea();
    const int tooWide = Width(work) + 500;
    TestHost host(DemoConfigText({{"minGameWidth", std::to_string(tooWide)}}));
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        EXPECT_EQ(Width(work), d.frame().minWidth());
        EXPECT_EQ(640, d.frame().minHeight());
        d.RestoreNormalSize();
        const RECT window = d.GetWindowRect();
        EXPECT_EQ(0, window.left);
        EXPECT_EQ(tooWide, Width(window));
        // Sizing below the smallest size moves the right and bottom edges only.
        RECT proposed = {300, 200, 310, 210};
        d.SendMessage(WM_SIZING, WMSZ_LEFT, reinterpret_cast<LPARAM>(&proposed));
        EXPECT_EQ((RECT{300, 200, 300 + Width(work), 200 + 640}), proposed);
    });
}

TEST_F(GameDialogTest, BadPictureNumbersGiveEmptyPiecesAndNoButton) {
    // Edge pieces 4 and 5 name no picture (0 and beyond the 19 of the sheet); buttons with
    // image 0 and 99 are left out; everything else is made.
    std::string text = DemoConfigText({{"edgeImage4", "0"}, {"edgeImage5", "99"}});
    for (const char* replaced : {"image=6", "image=7"}) {
        size_t at = text.find(replaced);
        ASSERT_NE(std::string::npos, at);
        text.replace(at, strlen(replaced), replaced[6] == '6' ? "image=0" : "image=99");
    }
    TestHost host(text);
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        EXPECT_EQ(0, d.frame().edgeSize(3).cx);
        EXPECT_EQ(0, d.frame().edgeSize(3).cy);
        EXPECT_EQ(0, d.frame().edgeSize(4).cx);
        EXPECT_EQ(6, d.frame().edgeSize(0).cx);
        EXPECT_EQ(8u, d.skinButtons().size());
        EXPECT_EQ(nullptr, d.FindButtonOfType(10));
        EXPECT_EQ(nullptr, d.FindButtonOfType(5));
        EXPECT_NE(nullptr, d.GetDlgItem(300));
        d.RestoreNormalSize();
        const RECT window = d.GetWindowRect();
        EXPECT_EQ((RECT{0, 27, Width(window), Height(window) - 3}), ChildRect(d, d.controlWindow()));
        d.UpdateWindow();
    });
}

TEST_F(GameDialogTest, HitTestingByState) {
    TestHost host;
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        struct Case {
            int x, y;  // from the window's left/top; negative: from its right/bottom
            LRESULT normal;
        };
        const Case cases[] = {
            {3, 100, HTLEFT},        {4, 100, HTCLIENT},       {-3, 100, HTRIGHT},
            {-4, 100, HTCLIENT},     {0, 0, HTTOPLEFT},        {6, 27, HTTOPLEFT},
            {7, 20, HTCLIENT},       {300, 0, HTCLIENT},       {-6, 27, HTTOPRIGHT},
            {2, -3, HTBOTTOMLEFT},   {-2, -3, HTBOTTOMRIGHT},  {300, -3, HTBOTTOM},
            {300, -4, HTCLIENT},
        };
        auto hit = [&](const Case& c) {
            const RECT window = d.GetWindowRect();
            const int x = c.x >= 0 ? window.left + c.x : window.right + c.x;
            const int y = c.y >= 0 ? window.top + c.y : window.bottom + c.y;
            return d.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(x, y));
        };
        for (const Case& c : cases) EXPECT_EQ(HTCLIENT, hit(c)) << "maximised " << c.x << "," << c.y;
        d.RestoreNormalSize();
        for (const Case& c : cases) EXPECT_EQ(c.normal, hit(c)) << "normal " << c.x << "," << c.y;
        d.EnterFullScreen();
        for (const Case& c : cases) EXPECT_EQ(HTCLIENT, hit(c)) << "full screen " << c.x << "," << c.y;
    });
}

TEST_F(GameDialogTest, DraggingAndDoubleClickingTheTitleBand) {
    TestHost host;
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        d.RestoreNormalSize();
        d.MoveWindow(100, 100, 1000, 640);
        // A drag in the band's last row moves the window; one row lower it does not.
        for (int row : {26, 27}) {
            const RECT before = d.GetWindowRect();
            d.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(200, row));
            d.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(215, row));
            const RECT after = d.GetWindowRect();
            EXPECT_EQ(row == 26 ? before.left + 15 : before.left, after.left) << row;
            EXPECT_EQ(before.top, after.top) << row;
        }
        // No drag while maximised.
        d.MaximizeToWorkArea();
        const RECT maximised = d.GetWindowRect();
        d.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(200, 5));
        d.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(230, 10));
        EXPECT_EQ(maximised, d.GetWindowRect());

        // A double click inside the band toggles the state; on its edge or below it does not.
        auto doubleClick = [&](int screenY) {
            MSG message = {d.controlWindow(), WM_LBUTTONDBLCLK, 0, 0, 0, {300, screenY}};
            return d.PreTranslateMessage(&message);
        };
        const int top = d.GetWindowRect().top;
        EXPECT_FALSE(doubleClick(top));
        EXPECT_FALSE(doubleClick(top + 27));
        EXPECT_TRUE(d.isMaximized());
        EXPECT_TRUE(doubleClick(top + 10));
        EXPECT_FALSE(d.isMaximized());
        EXPECT_TRUE(doubleClick(d.GetWindowRect().top + 26));
        EXPECT_TRUE(d.isMaximized());
    });
}

TEST_F(GameDialogTest, KeysF8EnterAndEscape) {
    TestHost host;
    WriteFrame(host.FramePath(), Encrypt(MakeMovie(10), host.config().settings().aesKey));
    TestGameDialog dialog(host);
    INT_PTR result = dialog.RunWith([&](TestGameDialog& d) {
        SetFocus(d.controlWindow());
        PostMessageW(d.controlWindow(), WM_KEYDOWN, VK_F8, 0);
        PumpFor(100);
        EXPECT_TRUE(d.IsFullScreen());
        PostMessageW(d.controlWindow(), WM_KEYDOWN, VK_F8, 0);
        PumpFor(100);
        EXPECT_FALSE(d.IsFullScreen());
        EXPECT_TRUE(d.isMaximized());
        for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
            PostMessageW(d.controlWindow(), WM_KEYDOWN, key, 0);
            PostMessageW(d.controlWindow(), WM_KEYUP, key, 0);
            PumpFor(100);
        }
        EXPECT_TRUE(d.IsWindowVisible());
    });
    EXPECT_EQ(-5, result);
    EXPECT_TRUE(dialog.questions.empty());
}

// What the screen shows at a point of the window.
COLORREF PixelOf(const CWnd& window, int x, int y) {
    const RECT rect = window.GetWindowRect();
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, rect.left + x, rect.top + y);
    ReleaseDC(nullptr, screen);
    return colour;
}

TEST_F(GameDialogTest, PaintedFrameAndScreenshots) {
    TestHost host;
    WriteFrame(host.FramePath(), Encrypt(MakeMovie(100), host.config().settings().aesKey));
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        // The demo's side and bottom pieces are one colour.
        const COLORREF edge = RGB(30, 66, 108);
        d.RestoreNormalSize();
        d.MoveWindow(10, 10, 1000, 640);
        SetForegroundWindow(d.m_hWnd);
        PumpFor(300);
        EXPECT_TRUE(testing_support::SaveWindowShot(d.m_hWnd, L"game_window_normal.png"));
        EXPECT_EQ(edge, PixelOf(d, 1, 300));
        EXPECT_EQ(edge, PixelOf(d, 998, 300));
        EXPECT_EQ(edge, PixelOf(d, 500, 638));
        EXPECT_NE(edge, PixelOf(d, 4, 300));

        // Maximised: only the band; the movie reaches the window's sides.
        d.MaximizeToWorkArea();
        PumpFor(300);
        EXPECT_TRUE(testing_support::SaveWindowShot(d.m_hWnd, L"game_window_maximised.png"));
        EXPECT_NE(edge, PixelOf(d, 1, 300));
        EXPECT_EQ(PixelOf(d, 500, 300), PixelOf(d, 1, 300));
    });
}

// ---------------------------------------------------------------------------------------
// Commands

TEST_F(GameDialogTest, EveryWayOfClosingAsksFirst) {
    struct Case {
        const char* name;
        std::function<void(TestGameDialog&)> close;
    };
    const Case cases[] = {
        {"close button", [](TestGameDialog& d) { d.SendMessage(WM_COMMAND, MAKEWPARAM(185, BN_CLICKED)); }},
        {"WM_CLOSE", [](TestGameDialog& d) { d.SendMessage(WM_CLOSE); }},
        {"tray menu exit", [](TestGameDialog& d) { d.SendMessage(WM_COMMAND, IDCANCEL); }},
        {"IDOK", [](TestGameDialog& d) { d.SendMessage(WM_COMMAND, IDOK); }},
        {"Alt+F4 on the movie",
         [](TestGameDialog& d) {
             PostMessageW(d.controlWindow(), WM_SYSKEYDOWN, VK_F4, MAKELPARAM(1, KF_ALTDOWN));
             PumpFor(200);
         }},
    };
    for (const Case& c : cases) {
        for (int answer : {IDCANCEL, IDOK}) {
            TestHost host;
            WriteFrame(host.FramePath(), Encrypt(MakeMovie(10), host.config().settings().aesKey));
            TestGameDialog dialog(host);
            dialog.answer = answer;
            // The control outlives the window through this reference (WM_CLOSE asks later).
            IUnknown* control = nullptr;
            INT_PTR result = dialog.RunWith([&](TestGameDialog& d) {
                control = d.gameControl()->GetControlUnknown();
                control->AddRef();
                d.standin()->ClearCalls();
                c.close(d);
            });
            ASSERT_NE(nullptr, control);
            const std::vector<std::wstring> calls = FlashStandinFromUnknown(control)->calls();
            control->Release();
            ASSERT_EQ(1u, dialog.questions.size()) << c.name;
            EXPECT_EQ(L"确定要退出游戏吗？", dialog.questions[0].text);
            EXPECT_EQ(L"云海传奇", dialog.questions[0].caption);
            EXPECT_EQ(0x3101u, dialog.questions[0].flags);
            if (answer == IDOK) {
                EXPECT_EQ(IDOK, result) << c.name;
                EXPECT_EQ(1, dialog.newInstances) << c.name;
                EXPECT_TRUE(dialog.windowAliveAtNewInstance) << c.name;
                EXPECT_EQ((std::vector<std::wstring>{L"IsPlaying", L"Stop"}), calls) << c.name;
            } else {
                EXPECT_EQ(-5, result) << c.name;
                EXPECT_EQ(0, dialog.newInstances) << c.name;
                EXPECT_TRUE(calls.empty()) << c.name;
            }
        }
    }
}

TEST_F(GameDialogTest, TheCloseQuestionIsARealMessageBox) {
    // Without initname the caption is the program's name.
    TestHost host(DemoConfigText({{"initname", ""}}));
    MessageBoxCatcher boxes;
    TestGameDialog dialog(host);
    dialog.useRealMessageBox = true;
    INT_PTR result = dialog.RunWith([](TestGameDialog& d) { d.SendMessage(WM_CLOSE); });
    EXPECT_EQ(IDOK, result);
    ASSERT_EQ(1u, boxes.boxes().size());
    EXPECT_EQ(L"确定要退出游戏吗？", boxes.boxes()[0].text);
    EXPECT_EQ(L"game_tests", boxes.boxes()[0].caption);
    EXPECT_EQ(1, dialog.newInstances);
}

TEST_F(GameDialogTest, SettingsMenu) {
    TestHost host;
    TempDir executableDir;
    TestGameDialog dialog(host);
    dialog.answer = IDOK;
    std::vector<std::wstring> calls;
    INT_PTR result = dialog.RunWith([&](TestGameDialog& d) {
        d.clientServices().SetExecutablePath((executableDir.path() + L"GameMenuTest.exe").c_str());
        auto items = [&]() {
            HMENU menu = d.BuildSettingsMenu();
            std::vector<std::pair<UINT, std::wstring>> found;
            for (int i = 0; i < GetMenuItemCount(menu); ++i) {
                wchar_t text[128] = L"";
                GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
                found.push_back({GetMenuItemID(menu, i), text});
            }
            const bool checked = (GetMenuState(menu, 2039, MF_BYCOMMAND) & MF_CHECKED) != 0;
            DestroyMenu(menu);
            return std::make_pair(found, checked);
        };
        auto before = items();
        const std::vector<std::pair<UINT, std::wstring>> expected = {
            {2035, L"重新登录"}, {2038, L"版本号：1.11"}, {2039, L"开机自动启动"}};
        EXPECT_EQ(expected, before.first);
        EXPECT_EQ(d.autoStart(), before.second);

        // Start with Windows follows the item and shows as its check mark.
        const bool wasOn = d.autoStart();
        d.SendMessage(WM_COMMAND, 2039);
        EXPECT_NE(wasOn, d.autoStart());
        EXPECT_EQ(d.autoStart(), items().second);
        d.SendMessage(WM_COMMAND, 2039);
        EXPECT_EQ(wasOn, d.autoStart());

        // The version item does nothing; full screen toggles; restart asks, then ends
        // without stopping the movie.
        d.SendMessage(WM_COMMAND, 2038);
        d.SendMessage(WM_COMMAND, 2037);
        EXPECT_TRUE(d.IsFullScreen());
        d.SendMessage(WM_COMMAND, 2037);
        EXPECT_FALSE(d.IsFullScreen());
        d.standin()->ClearCalls();
        d.SendMessage(WM_COMMAND, 2035);
        calls = d.standin()->calls();
    });
    EXPECT_EQ(IDOK, result);
    ASSERT_EQ(1u, dialog.questions.size());
    EXPECT_EQ(L"确定要退出游戏吗？", dialog.questions[0].text);
    EXPECT_EQ(1, dialog.newInstances);
    EXPECT_TRUE(calls.empty());
}

TEST_F(GameDialogTest, TheSettingsButtonOpensItsMenuBelowItself) {
    TestHost host;
    TempDir executableDir;
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        d.clientServices().SetExecutablePath((executableDir.path() + L"GameMenuTest.exe").c_str());
        d.RestoreNormalSize();
        d.MoveWindow(10, 10, 1000, 640);
        const bool wasOn = d.autoStart();
        const RECT button = d.FindButtonOfType(11)->GetWindowRect();
        {
            // Down three times and Enter: start with Windows.
            MenuDriver driver(3);
            d.SendMessage(WM_COMMAND, MAKEWPARAM(191, BN_CLICKED));
            driver.Join();
            EXPECT_EQ(button.left, driver.rect.left);
            EXPECT_EQ(button.bottom + 1, driver.rect.top);
            ASSERT_EQ(3u, driver.items.size());
            EXPECT_EQ(L"版本号：1.11", driver.items[1].text);
            EXPECT_EQ(2039u, driver.items[2].id);
            EXPECT_EQ(wasOn, driver.items[2].checked);
        }
        PumpFor(200);
        EXPECT_NE(wasOn, d.autoStart());
        d.SendMessage(WM_COMMAND, 2039);
        EXPECT_EQ(wasOn, d.autoStart());
    });
}

TEST_F(GameDialogTest, TheTrayMenuOffersTheCloseQuestion) {
    TestHost host;
    TestGameDialog dialog(host);
    dialog.answer = IDCANCEL;
    dialog.RunWith([&](TestGameDialog& d) {
        MenuDriver driver(1);
        d.SendMessage(CGameDialog::kTrayMessage, 128, WM_RBUTTONUP);
        driver.Join();
        // The window posted itself a message after the menu, so that the menu works again.
        std::vector<UINT> posted;
        MSG message;
        while (posted.size() < 20 && PeekMessageW(&message, d.m_hWnd, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE)) {
            posted.push_back(message.message);
            DispatchMessageW(&message);
        }
        EXPECT_NE(posted.end(), std::find(posted.begin(), posted.end(), static_cast<UINT>(WM_NULL)));
        ASSERT_EQ(1u, driver.items.size());
        EXPECT_EQ(static_cast<UINT>(IDCANCEL), driver.items[0].id);
        EXPECT_EQ(L"退出游戏", driver.items[0].text);
        PumpFor(200);
    });
    ASSERT_EQ(1u, dialog.questions.size());
    EXPECT_EQ(L"确定要退出游戏吗？", dialog.questions[0].text);
}

TEST_F(GameDialogTest, AWindowThatStoppedEarlyStillCloses) {
    struct Case {
        const char* name;
        const wchar_t* package;
        bool flashInstalled;
        const wchar_t* message;  // of the configuration, or null
    };
    const Case cases[] = {
        {"no picture sheet", L"game\\no_skins.exe", true, L"读取图片失败"},
        {"no Flash control", L"game\\demo.exe", false, nullptr},
    };
    for (const Case& c : cases) {
        ConfigMessages().clear();
        if (!c.flashInstalled) RevokeFlashStandin();
        TestHost host(DemoConfigText(), c.package);
        TestGameDialog dialog(host);
        dialog.answer = IDOK;
        INT_PTR result = dialog.RunWith([&](TestGameDialog& d) {
            EXPECT_EQ(nullptr, d.gameControl()) << c.name;
            EXPECT_TRUE(d.skinButtons().empty()) << c.name;
            EXPECT_EQ(nullptr, d.GetDlgItem(300)) << c.name;
            d.UpdateWindow();
            d.ToggleFullScreen();
            d.ToggleFullScreen();
            d.SendMessage(WM_CLOSE);
        });
        if (!c.flashInstalled) {
            ASSERT_EQ(S_OK, RegisterFlashStandin());
        }
        if (c.message) {
            ASSERT_EQ(1u, ConfigMessages().size()) << c.name;
            EXPECT_EQ(c.message, ConfigMessages()[0].text);
        } else {
            EXPECT_TRUE(ConfigMessages().empty()) << c.name;
        }
        EXPECT_EQ(IDOK, result) << c.name;
        EXPECT_EQ(1, dialog.newInstances) << c.name;
    }
}

TEST_F(GameDialogTest, TrayIconAndBossKey) {
    const int kOtherHotKey = 0x77;
    TestHost host;
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        // Home without modifiers is taken while the window lives.
        EXPECT_FALSE(RegisterHotKey(nullptr, kOtherHotKey, 0, VK_HOME));
        EXPECT_FALSE(testing_support::ShellHasTrayIcon(d.m_hWnd, 128));
        // The boss key hides to the tray and brings the window back.
        d.SendMessage(WM_HOTKEY, CGameDialog::kHotKeyId, MAKELPARAM(0, VK_HOME));
        EXPECT_FALSE(d.IsWindowVisible());
        EXPECT_TRUE(d.isHiddenToTray());
        EXPECT_TRUE(testing_support::ShellHasTrayIcon(d.m_hWnd, 128));
        EXPECT_EQ(offsetof(NOTIFYICONDATAW, guidItem), d.trayIcon().record().cbSize);
        // Explorer restarted: the icon comes back.
        testing_support::RestartShellFor(d.m_hWnd, 128);
        EXPECT_TRUE(testing_support::ShellHasTrayIcon(d.m_hWnd, 128));
        d.SendMessage(WM_HOTKEY, CGameDialog::kHotKeyId, MAKELPARAM(0, VK_HOME));
        EXPECT_TRUE(d.IsWindowVisible());
        EXPECT_FALSE(d.isHiddenToTray());
        // Another hot key is not ours.
        d.SendMessage(WM_HOTKEY, 7, 0);
        EXPECT_TRUE(d.IsWindowVisible());

        // A left click on the icon toggles; other icons and other clicks do nothing.
        EXPECT_EQ(0, d.SendMessage(CGameDialog::kTrayMessage, 128, WM_LBUTTONUP));
        EXPECT_FALSE(d.IsWindowVisible());
        EXPECT_EQ(0, d.SendMessage(CGameDialog::kTrayMessage, 128, WM_MOUSEMOVE));
        EXPECT_FALSE(d.IsWindowVisible());
        EXPECT_EQ(1, d.SendMessage(CGameDialog::kTrayMessage, 5, WM_LBUTTONUP));
        EXPECT_FALSE(d.IsWindowVisible());
        EXPECT_EQ(0, d.SendMessage(CGameDialog::kTrayMessage, 128, WM_LBUTTONDBLCLK));
        EXPECT_TRUE(d.IsWindowVisible());

        // The hide button, then the boss key.
        d.SendMessage(WM_COMMAND, 188);
        EXPECT_FALSE(d.IsWindowVisible());
        d.SendMessage(WM_HOTKEY, CGameDialog::kHotKeyId, 0);
        EXPECT_TRUE(d.IsWindowVisible());
        // The window keeps its state through hiding.
        EXPECT_TRUE(d.isMaximized());
    });
    EXPECT_FALSE(testing_support::ShellHasTrayIcon(dialog.m_hWnd, 128));
    EXPECT_TRUE(RegisterHotKey(nullptr, kOtherHotKey, 0, VK_HOME));
    UnregisterHotKey(nullptr, kOtherHotKey);
}

TEST_F(GameDialogTest, TheTaskbarFlashesOnlyAfterTheMinimiseButton) {
    TestHost host;
    TestGameDialog dialog(host);
    dialog.RunWith([&](TestGameDialog& d) {
        // Minimised by the taskbar: the game's request is ignored.
        d.ShowWindow(SW_MINIMIZE);
        d.StartTaskbarFlashing();
        PumpFor(1300);
        EXPECT_EQ(0, d.flashTimerTicks);
        d.SendMessage(WM_SYSCOMMAND, SC_RESTORE);

        d.SendMessage(WM_COMMAND, 187);
        EXPECT_TRUE(IsIconic(d.m_hWnd));
        EXPECT_TRUE(d.isMinimisedByButton());
        d.StartTaskbarFlashing();
        PumpFor(2300);
        EXPECT_GE(d.flashTimerTicks, 2);

        d.SendMessage(WM_SYSCOMMAND, SC_RESTORE);
        EXPECT_FALSE(d.isMinimisedByButton());
        const int ticks = d.flashTimerTicks;
        PumpFor(1300);
        EXPECT_EQ(ticks, d.flashTimerTicks);
    });
}

}  // namespace
