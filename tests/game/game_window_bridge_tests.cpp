// The script bridge inside the real game window: requests fired by the Flash stand-in as
// FlashCall events, input posted to the control through the window's message loop, and the
// requests the stand-in received through CallFunction.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <gdiplus.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge_test_support.h"
#include "framework/dialog.h"
#include "game/game_dialog.h"
#include "game_window_host.h"
#include "support/key_route.h"
#include "support/test_support.h"

using game_testing::ClientRequest;
using game_testing::EventRequest;

namespace {

bool g_pumpDone = false;
void CALLBACK EndPump(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    g_pumpDone = true;
}

// Runs the message loop, pre-translation included, for a while.
void Pump(UINT milliseconds = 150) {
    g_pumpDone = false;
    SetTimer(nullptr, 0, milliseconds, EndPump);
    PumpMessagesUntil(g_pumpDone);
}

class GameWindowBridgeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        registration_ = new game_testing::StandinRegistration();
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&gdiplus_, &input, nullptr);
    }
    static void TearDownTestSuite() {
        Gdiplus::GdiplusShutdown(gdiplus_);
        delete registration_;
        registration_ = nullptr;
    }

    void SetUp() override {
        // An empty cache: the control stays without a movie.
        host_.SetFlashVars("sid=1&name=<p>");
        ASSERT_TRUE(dialog_.Create(CGameDialog::IDD, nullptr));
        ASSERT_NE(nullptr, dialog_.gameControl());
        standin_ = FlashStandinFromUnknown(dialog_.gameControl()->GetControlUnknown());
        ASSERT_NE(nullptr, standin_);
        dialog_.clientServices().SetIpPageAddress(L"http://127.0.0.1:1/");
        marker_ = game_testing::CopyRestartMarker(markerDir_.path(), L"Launcher.exe");
        dialog_.clientServices().SetExecutablePath(marker_.c_str());
    }
    void TearDown() override {
        UnregisterHotKey(dialog_.m_hWnd, CGameDialog::kHotKeyId);
        dialog_.DestroyWindow();
    }

    void Fire(const std::vector<std::wstring>& arguments) { standin_->FireFlashCall(ClientRequest(arguments).c_str()); }

    // The CallFunction requests since the last look.
    std::vector<std::wstring> Requests() {
        std::vector<std::wstring> requests;
        for (const std::wstring& call : standin_->calls()) {
            if (call.compare(0, 13, L"CallFunction:") == 0) requests.push_back(call.substr(13));
        }
        standin_->ClearCalls();
        return requests;
    }

    void PostToControl(UINT message, WPARAM wParam, LPARAM lParam = 0) {
        PostMessageW(dialog_.gameControl()->m_hWnd, message, wParam, lParam);
        Pump();
    }

    static game_testing::StandinRegistration* registration_;
    static ULONG_PTR gdiplus_;
    game_testing::GameWindowHost host_;
    CGameDialog dialog_{host_};
    FlashStandin* standin_ = nullptr;
    testing_support::TempDir markerDir_;
    std::wstring marker_;
};

game_testing::StandinRegistration* GameWindowBridgeTest::registration_ = nullptr;
ULONG_PTR GameWindowBridgeTest::gdiplus_ = 0;

TEST_F(GameWindowBridgeTest, GameParametersGoFirstAndCommandsChangeTheWindow) {
    std::vector<std::wstring> calls = standin_->calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(L"CallFunction:<invoke name=\"_InitGameParams\"><arguments><string>sid=1&name=<p></string>"
              L"</arguments></invoke>",
              calls.back());
    standin_->ClearCalls();

    Fire({L"6", L"\x4E1C\x533A"});
    EXPECT_EQ(L"\x4E91\x6D77\x4F20\x5947-\x4E1C\x533A", dialog_.titleText());  // 云海传奇-东区

    Fire({L"4", L"http://pay.example/\x5145\x503C?a=1;b=2"});  // 充值
    ASSERT_NE(nullptr, dialog_.FindButtonOfType(12));
    EXPECT_EQ(L"http://pay.example/\x5145\x503C?a=1&b=2", dialog_.FindButtonOfType(12)->linkAddress());

    Fire({L"10", L"5"});
    EXPECT_TRUE(dialog_.IsFullScreen());
    Fire({L"10", L"5"});
    EXPECT_TRUE(dialog_.IsFullScreen());
    Fire({L"10", L"4"});
    EXPECT_FALSE(dialog_.IsFullScreen());

    Fire({L"7"});
    const std::vector<std::wstring> requests = Requests();
    ASSERT_EQ(1u, requests.size());
    const std::wstring tail = L"</string><string>127.0.0.1</string><string>demo</string></arguments></invoke>";
    ASSERT_GT(requests[0].size(), tail.size());
    EXPECT_EQ(tail, requests[0].substr(requests[0].size() - tail.size()));

    // Ending from inside the event: the dialog is done once the event has returned.
    Fire({L"1"});
    Pump();
    EXPECT_FALSE(dialog_.IsWindowVisible());
}

TEST_F(GameWindowBridgeTest, RestartFromTheMovieStartsTheLauncherAndEnds) {
    Fire({L"2"});
    Pump();
    EXPECT_FALSE(dialog_.IsWindowVisible());
    const std::vector<std::string> lines = game_testing::WaitForMarkerLines(markerDir_.path(), 1);
    EXPECT_EQ(1u, lines.size());
}

TEST_F(GameWindowBridgeTest, RightClicksOnTheMovieBecomeEventsAtTheScreenPoint) {
    standin_->ClearCalls();
    ASSERT_TRUE(SetCursorPos(123, 234));
    PostToControl(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 6));
    PostToControl(WM_RBUTTONUP, 0, MAKELPARAM(5, 6));
    POINT cursor;
    GetCursorPos(&cursor);
    const std::wstring x = std::to_wstring(cursor.x);
    const std::wstring y = std::to_wstring(cursor.y);
    EXPECT_EQ((std::vector<std::wstring>{EventRequest(L"2", {x, y}), EventRequest(L"3", {x, y})}), Requests());
}

TEST_F(GameWindowBridgeTest, ForwardedFunctionKeysReachTheMovieAndAltF4DoesNotClose) {
    testing_support::MessageBoxCatcher boxes;
    Fire({L"3"});
    standin_->ClearCalls();
    // A press and an auto-repeat right after it: one event.
    PostMessageW(dialog_.gameControl()->m_hWnd, WM_KEYDOWN, VK_F5, 1);
    PostToControl(WM_KEYDOWN, VK_F5, 0x40000001);
    PostToControl(WM_KEYUP, VK_F5, 0xC0000001);
    PostToControl(WM_SYSKEYDOWN, VK_F4, 0x20000001);
    EXPECT_EQ((std::vector<std::wstring>{EventRequest(L"6", {L"4"}), EventRequest(L"6", {L"3"})}), Requests());
    EXPECT_TRUE(dialog_.IsWindowVisible());
    EXPECT_TRUE(boxes.boxes().empty());
}

// The movie with the focus gets the first look at its keys, after the window's own key
// rules; what it does not use goes to the dialog, which passes typing on to it.
TEST_F(GameWindowBridgeTest, TheFocusedMovieSeesItsKeysBeforeTheDialog) {
    const testing_support::KeyRouteCase cases[] = {
        {VK_TAB, false, true, "used"},
        {VK_DOWN, false, true, "used"},
        {'V', true, true, "used"},
        {'A', true, true, "used"},
        {'V', false, true, "declined received"},
        {VK_TAB, false, false, "declined"},
        {'C', true, false, "declined received"},
        // The window's rules come first: Enter and Escape go straight to the movie,
        // F8 is full screen, F5 is not forwarded yet and goes on as usual.
        {VK_RETURN, false, true, "received"},
        {VK_ESCAPE, false, true, "received"},
        {VK_F8, false, true, ""},
        {VK_F5, false, true, "received"},
    };
    HWND movie = standin_->window();
    ASSERT_NE(nullptr, movie);
    for (const testing_support::KeyRouteCase& c : cases) {
        {
            const std::unique_ptr<testing_support::HeldKey> control = testing_support::PressKeyIn(*standin_, c);
            Pump();
        }
        testing_support::ExpectKeyRoute(*standin_, c);
    }
    // F8 went to the window.
    EXPECT_TRUE(dialog_.IsFullScreen());
}

}  // namespace
