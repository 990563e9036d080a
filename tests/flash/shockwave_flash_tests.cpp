// The control wrapper with the Flash stand-in hosted in a real dialog: creation as a
// child window, a movie loaded from memory, the dispatch members, failing calls, the
// events reaching the hosting dialog, and what happens when there is no control at all.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "flash/shockwave_flash.h"
#include "flash_test_support.h"
#include "framework/dialog.h"
#include "res/resource.h"

namespace {

const UINT kControlId = 170;

// A modeless dialog that hosts the control and records the events it is given.
class HostDialog : public CDialog, public IFlashEventHandler {
public:
    HostDialog() : CDialog(IDD_STANDARD_LAYER) {}

    std::vector<std::wstring> events;

    void OnFSCommand(UINT controlId, const wchar_t* command, const wchar_t* arguments) override {
        events.push_back(L"FSCommand " + std::to_wstring(controlId) + L" " + command + L"|" + arguments);
    }
    void OnFlashCall(UINT controlId, const wchar_t* request) override {
        events.push_back(L"FlashCall " + std::to_wstring(controlId) + L" " + request);
    }
};

class ShockwaveFlashTest : public FlashStandinTest {
protected:
    void SetUp() override {
        FlashStandinTest::SetUp();
        ASSERT_TRUE(host_.Create(IDD_STANDARD_LAYER, nullptr));
    }
    void TearDown() override {
        host_.DestroyWindow();
        FlashStandinTest::TearDown();
    }

    // The control as a child of the host; hidden unless `style` says otherwise.
    FlashStandin* CreateControl(DWORD style = WS_CHILD) {
        const RECT rect = {10, 20, 330, 260};
        if (!flash_.Create(L"movie", style, rect, &host_, kControlId)) return nullptr;
        return StandinOf(&flash_);
    }

    HostDialog host_;
    CShockwaveFlash flash_;
};

TEST_F(ShockwaveFlashTest, ControlIsAChildWindowOfTheDialogWithItsId) {
    FlashStandin* standin = CreateControl(WS_CHILD | WS_VISIBLE);
    ASSERT_NE(nullptr, standin);
    EXPECT_EQ(host_.m_hWnd, flash_.GetParent());
    EXPECT_EQ(flash_.m_hWnd, host_.GetDlgItem(kControlId));
    wchar_t name[64] = L"";
    GetWindowTextW(flash_.m_hWnd, name, 64);
    EXPECT_STREQ(L"movie", name);
    RECT rect = flash_.GetWindowRect();
    EXPECT_EQ(320, rect.right - rect.left);
    EXPECT_EQ(240, rect.bottom - rect.top);
    // The control is in place inside the host window.
    ASSERT_NE(nullptr, standin->window());
    EXPECT_TRUE(IsChild(flash_.m_hWnd, standin->window()));
}

TEST_F(ShockwaveFlashTest, MovieFromMemoryArrivesWholeAndPlaysInAShownControl) {
    FlashStandin* standin = CreateControl();
    ASSERT_NE(nullptr, standin);
    ASSERT_FALSE(flash_.IsWindowVisible());
    const std::vector<uint8_t> movie = FixtureMovie();
    FlashMemoryStream stream(movie.data(), static_cast<uint32_t>(movie.size()));

    EXPECT_TRUE(LoadMovieFromStream(flash_, &stream));

    EXPECT_EQ(movie, standin->movie());
    ASSERT_TRUE(standin->movieIsSwf()) << standin->Description();
    EXPECT_EQ(640 * 20, standin->swf().xMax);
    EXPECT_EQ(480 * 20, standin->swf().yMax);
    EXPECT_EQ(12 * 256, standin->swf().frameRate);
    EXPECT_EQ(3, standin->swf().frameCount);
    EXPECT_EQ(std::vector<std::wstring>{L"Play"}, standin->calls());
    EXPECT_TRUE(standin->isPlaying());
    EXPECT_TRUE(flash_.IsWindowVisible());
}

TEST_F(ShockwaveFlashTest, AMovieWhosePlayFailsIsStillLoadedAndShown) {
    FlashStandin* standin = CreateControl();
    ASSERT_NE(nullptr, standin);
    standin->SetPlayFailure(E_FAIL);
    const std::vector<uint8_t> movie = FixtureMovie();
    FlashMemoryStream stream(movie.data(), static_cast<uint32_t>(movie.size()));

    EXPECT_TRUE(LoadMovieFromStream(flash_, &stream));

    EXPECT_EQ(movie, standin->movie());
    EXPECT_FALSE(standin->isPlaying());
    EXPECT_TRUE(flash_.IsWindowVisible());
}

TEST_F(ShockwaveFlashTest, MembersReachTheControlByTheirDispatchIds) {
    FlashStandin* standin = CreateControl();
    ASSERT_NE(nullptr, standin);
    standin->SetCallFunctionAnswer(L"<string>pong</string>");

    flash_.Play();
    EXPECT_TRUE(flash_.IsPlaying());
    flash_.Stop();
    EXPECT_FALSE(flash_.IsPlaying());
    flash_.DisableLocalSecurity();
    const wchar_t request[] = L"<invoke name=\"ping\" returntype=\"xml\"><arguments><string>中文</string></arguments></invoke>";
    EXPECT_EQ(L"<string>pong</string>", flash_.CallFunction(request));

    const std::vector<std::wstring> expected = {
        L"Play", L"IsPlaying", L"Stop", L"IsPlaying", L"DisableLocalSecurity", std::wstring(L"CallFunction:") + request,
    };
    EXPECT_EQ(expected, standin->calls());
}

TEST_F(ShockwaveFlashTest, FailingCallFunctionThrowsWithTheControlsCode) {
    FlashStandin* standin = CreateControl();
    ASSERT_NE(nullptr, standin);
    for (HRESULT failure : {E_FAIL, DISP_E_EXCEPTION, E_ACCESSDENIED}) {
        SCOPED_TRACE(failure);
        standin->SetCallFunctionFailure(failure);
        try {
            flash_.CallFunction(L"<invoke name=\"x\"/>");
            ADD_FAILURE() << "no exception";
        } catch (const CDispatchException& e) {
            EXPECT_EQ(failure, e.result());
        }
    }
    standin->SetCallFunctionFailure(S_OK);
    EXPECT_EQ(FlashStandin::kDefaultAnswer, flash_.CallFunction(L"<invoke name=\"x\"/>"));
}

TEST_F(ShockwaveFlashTest, EventsReachTheHostingDialogWithTheControlsIdUntilUnadvised) {
    FlashStandin* standin = CreateControl();
    ASSERT_NE(nullptr, standin);
    CFlashEventSink sink(&host_, kControlId);
    ASSERT_TRUE(sink.Advise(flash_));

    EXPECT_EQ(1u, standin->FireFSCommand(L"start", L"some arguments"));
    EXPECT_EQ(1u, standin->FireFlashCall(L"<invoke name=\"!3\" returntype=\"xml\"><arguments></arguments></invoke>"));
    EXPECT_EQ(1u, standin->FireFSCommand(L"", L""));
    const std::vector<std::wstring> expected = {
        L"FSCommand 170 start|some arguments",
        L"FlashCall 170 <invoke name=\"!3\" returntype=\"xml\"><arguments></arguments></invoke>",
        L"FSCommand 170 |",
    };
    EXPECT_EQ(expected, host_.events);

    sink.Unadvise();
    EXPECT_EQ(0u, standin->FireFlashCall(L"<invoke name=\"quit\"/>"));
    EXPECT_EQ(3u, host_.events.size());
}

TEST_F(ShockwaveFlashTest, LoadingIntoANeverCreatedControlFails) {
    const std::vector<uint8_t> movie = FixtureMovie();
    FlashMemoryStream stream(movie.data(), static_cast<uint32_t>(movie.size()));
    EXPECT_FALSE(LoadMovieFromStream(flash_, &stream));
    EXPECT_THROW(flash_.Play(), CDispatchException);
}

TEST(ShockwaveFlashWithoutControl, NoControlIsCreatedAndCallsThrow) {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    IUnknown* installed = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShockwaveFlash, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&installed)))) {
        installed->Release();
        OleUninitialize();
        GTEST_SKIP() << "a Flash control is installed in this prefix";
    }
    {
        HostDialog host;
        ASSERT_TRUE(host.Create(IDD_STANDARD_LAYER, nullptr));
        CShockwaveFlash flash;
        const RECT rect = {0, 0, 100, 100};
        EXPECT_FALSE(flash.Create(L"movie", WS_CHILD | WS_VISIBLE, rect, &host, kControlId));
        EXPECT_EQ(nullptr, flash.GetControlUnknown());
        EXPECT_EQ(nullptr, flash.GetSafeHwnd());
        EXPECT_THROW(flash.Stop(), CDispatchException);
        EXPECT_THROW(flash.CallFunction(L"<invoke name=\"x\"/>"), CDispatchException);
        host.DestroyWindow();
    }
    OleUninitialize();
}

}  // namespace
