// The login window with the demo package: its skin, buttons and login page, the hint,
// the hand-over to the game, the keys, closing and minimising, and the automatic start
// in the tray.
#include <gtest/gtest.h>

#include <stddef.h>

#include <ole2.h>
#include <gdiplus.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/image.h"
#include "login/launcher_dialog.h"
#include "login/web_browser.h"
#include "login_test_support.h"
#include "standins/flash/flash_standin.h"
#include "support/key_route.h"
#include "support/test_support.h"
#include "ui/skin_button.h"

using namespace login_testing;

namespace {

const wchar_t kTitle[] = L"云海传奇 V1.11";
const char kLoginPage[] = "http://127.0.0.1:8080/login.html";
const char kNewsPage[] = "http://127.0.0.1:8080/news.html";

// The demo configuration with a second embedded page.
std::string TwoPagesConfig() {
    return DemoConfigWith({{"linkCount", "8"}},
                          "[link8]\nurl=" + std::string(kNewsPage) + "\nx=400\ny=300\nwidth=200\nheight=100\ntype=4\n");
}

CLauncherStandardDlg* Controls(CLauncherTranslucentDlg& dialog) { return dialog.controls(); }

CWebBrowserEx* Page(CLauncherTranslucentDlg& dialog, int id) {
    return dynamic_cast<CWebBrowserEx*>(CWnd::FromHandlePermanent(dialog.controls()->GetDlgItem(id)));
}

std::vector<HWND> ChildrenWithId(HWND parent, int id) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) == id) found.push_back(child);
    return found;
}

RECT ClientRectIn(HWND child, HWND parent) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Records the addresses each embedded page is about to open.
class NavigationRecorder : public IControlEventHandler {
public:
    NavigationRecorder(UINT id, IUnknown* control) : sink_(this, id, kWebBrowserEventsId) { sink_.Advise(control); }
    std::vector<std::wstring> addresses;
    void OnControlEvent(UINT, DISPID id, DISPPARAMS* parameters) override {
        if (id != DISPID_BEFORENAVIGATE2) return;
        const wchar_t* address = EventStringArgument(parameters, 1);
        addresses.push_back(address ? address : L"(none)");
    }
    bool Saw(const std::string& address) const {
        for (const auto& seen : addresses)
            if (seen == WideFromUtf8(address)) return true;
        return false;
    }

private:
    CEventSink sink_;
};

// The events of a page as the browser fires them: BeforeNavigate2 (dispatch, address,
// flags, target frame, post data, headers, cancel) and DocumentComplete (dispatch, address).
class PageEvent {
public:
    PageEvent(DISPID id, const wchar_t* address) : id_(id) {
        address_.vt = VT_BSTR;
        address_.bstrVal = SysAllocString(address);
        VARIANT dispatch;
        dispatch.vt = VT_DISPATCH;
        dispatch.pdispVal = nullptr;
        VARIANT byReference;
        byReference.vt = VT_VARIANT | VT_BYREF;
        byReference.pvarVal = &address_;
        arguments_.push_back(dispatch);
        arguments_.push_back(byReference);
        if (id == DISPID_BEFORENAVIGATE2) {
            for (VARIANT& empty : empty_) {
                VariantInit(&empty);
                VARIANT reference;
                reference.vt = VT_VARIANT | VT_BYREF;
                reference.pvarVal = &empty;
                arguments_.push_back(reference);
            }
            VARIANT cancel;
            cancel.vt = VT_BOOL | VT_BYREF;
            cancel.pboolVal = &cancel_;
            arguments_.push_back(cancel);
        }
        reversed_.assign(arguments_.rbegin(), arguments_.rend());
        parameters_ = {reversed_.data(), nullptr, static_cast<UINT>(reversed_.size()), 0};
    }
    ~PageEvent() { SysFreeString(address_.bstrVal); }
    void DeliverTo(CLauncherStandardDlg* controls, UINT page) {
        static_cast<IControlEventHandler*>(controls)->OnControlEvent(page, id_, &parameters_);
    }
    bool cancelled() const { return cancel_ != VARIANT_FALSE; }

private:
    DISPID id_;
    VARIANT address_;
    VARIANT empty_[4];
    VARIANT_BOOL cancel_ = VARIANT_FALSE;
    std::vector<VARIANT> arguments_;
    std::vector<VARIANT> reversed_;
    DISPPARAMS parameters_ = {};
};

class LoginWindow : public ::testing::Test {
protected:
    void SetUp() override {
        TestHost::failureTexts.clear();
        opened_.clear();
        CxSkinButton::linkOpener = RecordOpen;
    }
    void TearDown() override { CxSkinButton::linkOpener = ShellExecuteW; }

    static HINSTANCE WINAPI RecordOpen(HWND, const wchar_t*, const wchar_t* address, const wchar_t*, const wchar_t*,
                                       int) {
        opened_.push_back(address ? address : L"");
        return reinterpret_cast<HINSTANCE>(33);
    }
    static std::vector<std::wstring> opened_;
};

std::vector<std::wstring> LoginWindow::opened_;

TEST_F(LoginWindow, OpensOnTheDemoSkinWithItsButtonsAndAHiddenLoginPage) {
    TestHost host;
    ASSERT_TRUE(host.loaded);
    std::unique_ptr<Gdiplus::Bitmap> skin = host.LoadSkin();
    ASSERT_NE(nullptr, skin);
    const UINT skinWidth = skin->GetWidth(), skinHeight = skin->GetHeight();
    CLauncherTranslucentDlg dialog(host, std::move(skin));
    RECT window = {}, controlWindow = {};
    std::wstring skinTitle, controlTitle;
    DWORD skinStyle = 0;
    std::vector<HWND> links, minimise, close, pages;
    RECT minimiseRect = {}, closeRect = {};
    HWND controls = nullptr;
    bool pageVisible = true;
    COLORREF hint = 0;
    const LauncherSettings& settings = host.config().settings();
    auto hintShows = [&] {
        window = dialog.GetWindowRect();
        hint = ScreenPixel(window.left + settings.loginTextX + 1, window.top + settings.loginTextY + 1);
        return Near(hint, RGB(0, 0, 0), 8) || Near(hint, CLauncherStandardDlg::kHintColor, 8);
    };
    INT_PTR result = RunModalScript(dialog, {WaitFor(hintShows, 5000, "the hint"), Do([&] {
                                                 controls = Controls(dialog)->m_hWnd;
                                                 controlWindow = Controls(dialog)->GetWindowRect();
                                                 skinTitle = dialog.GetWindowText();
                                                 controlTitle = Controls(dialog)->GetWindowText();
                                                 skinStyle = dialog.GetStyle();
                                                 links = ChildrenWithId(controls, 201);
                                                 minimise = ChildrenWithId(controls, 202);
                                                 close = ChildrenWithId(controls, 203);
                                                 pages = ChildrenWithId(controls, 150);
                                                 if (!minimise.empty()) minimiseRect = ClientRectIn(minimise[0], controls);
                                                 if (!close.empty()) closeRect = ClientRectIn(close[0], controls);
                                                 pageVisible = pages.size() == 1 && IsWindowVisible(pages[0]);
                                                 testing_support::SaveWindowShot(dialog.m_hWnd, L"login_window.png");
                                             })});
    EXPECT_EQ(kLeftOpen, result);
    EXPECT_EQ(765u, skinWidth);
    EXPECT_EQ(590u, skinHeight);
    EXPECT_EQ(static_cast<LONG>(skinWidth), window.right - window.left);
    EXPECT_EQ(static_cast<LONG>(skinHeight), window.bottom - window.top);
    RECT grown = {0, 0, static_cast<LONG>(skinWidth), static_cast<LONG>(skinHeight)};
    AdjustWindowRect(&grown, WS_POPUP | WS_CAPTION | WS_SYSMENU, FALSE);
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(((work.right - work.left) - (grown.right - grown.left)) / 2 + work.left, window.left);
    EXPECT_EQ(((work.bottom - work.top) - (grown.bottom - grown.top)) / 2 + work.top, window.top);
    EXPECT_TRUE(EqualRect(&window, &controlWindow));
    EXPECT_EQ(kTitle, skinTitle);
    EXPECT_EQ(kTitle, controlTitle);
    EXPECT_TRUE(skinStyle & WS_MINIMIZEBOX);

    // Four link buttons, close and minimise where the package puts them, sized by their
    // pictures; the fifth link is the page, which has no pictures.
    EXPECT_EQ(4u, links.size());
    ASSERT_EQ(1u, minimise.size());
    ASSERT_EQ(1u, close.size());
    EXPECT_EQ(695, minimiseRect.left);
    EXPECT_EQ(16, minimiseRect.top);
    EXPECT_EQ(727, closeRect.left);
    CImage picture;
    ASSERT_TRUE(host.config().LoadPackageImage("config/6_n.png", picture));
    EXPECT_EQ(picture.GetWidth(), closeRect.right - closeRect.left);
    EXPECT_EQ(picture.GetHeight(), closeRect.bottom - closeRect.top);
    EXPECT_TRUE(TestHost::failureTexts.empty());
    ASSERT_EQ(1u, pages.size());
    EXPECT_FALSE(pageVisible);
    // Until the page has loaded, the hint stands in its place: grey on black.
    EXPECT_TRUE(Near(hint, RGB(0, 0, 0), 8) || Near(hint, CLauncherStandardDlg::kHintColor, 8)) << std::hex << hint;
}

TEST_F(LoginWindow, MissingButtonPictureStopsTheRestButTheWindowOpens) {
    // The fifth link becomes a button; the package has no pictures for it.
    TestHost host(DemoConfigWith({}, "[link5]\ntype=1\n"));
    ASSERT_TRUE(host.loaded);
    CLauncherTranslucentDlg dialog(host, host.LoadSkin());
    size_t links = 0, others = 0;
    INT_PTR result = RunModalScript(dialog, {Do([&] {
                                        HWND controls = Controls(dialog)->m_hWnd;
                                        links = ChildrenWithId(controls, 201).size();
                                        others = ChildrenWithId(controls, 202).size() +
                                                 ChildrenWithId(controls, 203).size() +
                                                 ChildrenWithId(controls, 150).size();
                                        EXPECT_TRUE(dialog.IsWindowVisible());
                                    })});
    EXPECT_EQ(kLeftOpen, result);
    ASSERT_EQ(1u, TestHost::failureTexts.size());
    EXPECT_EQ(L"读取图片失败", TestHost::failureTexts[0]);
    EXPECT_EQ(4u, links);
    EXPECT_EQ(0u, others);
}

TEST_F(LoginWindow, FirstCompletedDocumentShowsThePages) {
    TestHost host(TwoPagesConfig());
    ASSERT_TRUE(host.loaded);
    CLauncherTranslucentDlg dialog(host, host.LoadSkin());
    bool before = true, afterFirst = false, afterSecond = false, bothVisible = false;
    int count = 0;
    RunModalScript(dialog, {Do([&] {
                                before = Controls(dialog)->pageShown() || Page(dialog, 150)->IsWindowVisible();
                                // The second page's events are not the login page's.
                                PageEvent(DISPID_DOCUMENTCOMPLETE, L"about:blank").DeliverTo(Controls(dialog), 151);
                                EXPECT_FALSE(Controls(dialog)->pageShown());
                                PageEvent(DISPID_DOCUMENTCOMPLETE, L"about:blank").DeliverTo(Controls(dialog), 150);
                                afterFirst = Controls(dialog)->pageShown();
                                bothVisible = Page(dialog, 150)->IsWindowVisible() && Page(dialog, 151)->IsWindowVisible();
                                Page(dialog, 151)->ShowWindow(SW_HIDE);
                                PageEvent(DISPID_DOCUMENTCOMPLETE, L"about:blank").DeliverTo(Controls(dialog), 150);
                                afterSecond = Page(dialog, 151)->IsWindowVisible();
                                count = Controls(dialog)->documentCompleteCount();
                            })});
    EXPECT_FALSE(before);
    EXPECT_TRUE(afterFirst);
    EXPECT_TRUE(bothVisible);
    EXPECT_FALSE(afterSecond);  // only the first completion shows them
    EXPECT_EQ(2, count);
}

TEST_F(LoginWindow, LoginPageHandsOverTheGameAddress) {
    struct Case {
        const char* header;
        const wchar_t* address;
        const char* gameAddress;  // null: no hand-over
    } cases[] = {
        {"client://loadgame|", L"client://loadgame|http://127.0.0.1:8080/game.php?user=7",
         "http://127.0.0.1:8080/game.php?user=7"},
        {"client://loadgame|", L"http://127.0.0.1:8080/next.php?to=client://loadgame|7",
         "http://127.0.0.1:8080/next.php?to=client://loadgame|7"},
        {"client://loadgame|", L"http://127.0.0.1:8080/news.html", nullptr},
        {"client://loadgame|", L"client://LOADGAME|http://127.0.0.1/", nullptr},
        {"", L"client://loadgame|http://127.0.0.1:8080/game.php", nullptr},
        {"", L"about:blank", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8FromWide(c.address));
        TestHost host(DemoConfigWith({{"gameheader", c.header}}));
        ASSERT_TRUE(host.loaded);
        CLauncherTranslucentDlg dialog(host, host.LoadSkin());
        std::vector<std::string> addressesAtHandOver;
        bool visibleAtHandOver = true;
        host.onRunUpdateAndGame = [&] {
            addressesAtHandOver = host.gameAddresses;
            visibleAtHandOver = dialog.IsWindowVisible() || Controls(dialog)->IsWindowVisible();
        };
        bool cancelled = true;
        INT_PTR result = RunModalScript(dialog, {Do([&] {
                                            PageEvent event(DISPID_BEFORENAVIGATE2, c.address);
                                            event.DeliverTo(Controls(dialog), 150);
                                            cancelled = event.cancelled();
                                        })});
        EXPECT_FALSE(cancelled);
        if (!c.gameAddress) {
            EXPECT_EQ(kLeftOpen, result);
            EXPECT_TRUE(host.gameAddresses.empty());
            EXPECT_EQ(0, host.runUpdateCalls);
            continue;
        }
        EXPECT_EQ(IDCANCEL, result);
        ASSERT_EQ(1u, host.gameAddresses.size());
        EXPECT_EQ(c.gameAddress, host.gameAddresses[0]);
        EXPECT_EQ(1, host.runUpdateCalls);
        // The address is set and the pair is off the screen before the game chain runs.
        EXPECT_EQ(host.gameAddresses, addressesAtHandOver);
        EXPECT_FALSE(visibleAtHandOver);
    }
}

TEST_F(LoginWindow, OnlyTheFirstPageNavigatingToTheGameHandsOver) {
    TestHost host(TwoPagesConfig());
    ASSERT_TRUE(host.loaded);
    CLauncherTranslucentDlg dialog(host, host.LoadSkin());
    std::unique_ptr<NavigationRecorder> second;
    const char* kSecondGame = "client://loadgame|http://127.0.0.1:8080/game.php?page=151";
    const char* kFirstGame = "client://loadgame|http://127.0.0.1:8080/game.php?page=150";
    INT_PTR result = RunModalScript(
        dialog, {Do([&] {
                     second = std::make_unique<NavigationRecorder>(151, Page(dialog, 151)->GetControlUnknown());
                     Page(dialog, 151)->Navigate(WideFromUtf8(kSecondGame).c_str());
                 }),
                 WaitFor([&] { return second->Saw(kSecondGame); }, 10000, "the second page's navigation"),
                 Do([&] {
                     EXPECT_EQ(0, host.runUpdateCalls);
                     PageEvent(DISPID_BEFORENAVIGATE2, WideFromUtf8(kSecondGame).c_str()).DeliverTo(Controls(dialog), 151);
                     EXPECT_EQ(0, host.runUpdateCalls);
                     Page(dialog, 150)->Navigate(WideFromUtf8(kFirstGame).c_str());
                 }),
                 WaitFor([&] { return host.runUpdateCalls > 0; }, 10000, "the hand-over")});
    second.reset();
    EXPECT_EQ(IDCANCEL, result);
    ASSERT_EQ(1u, host.gameAddresses.size());
    EXPECT_EQ("http://127.0.0.1:8080/game.php?page=150", host.gameAddresses[0]);
    EXPECT_EQ(1, host.runUpdateCalls);
}

TEST_F(LoginWindow, EnterAndEscapeNeverCloseItAndF5ReloadsEachPage) {
    TestHost host(TwoPagesConfig());
    ASSERT_TRUE(host.loaded);
    CLauncherTranslucentDlg dialog(host, host.LoadSkin());
    std::unique_ptr<NavigationRecorder> first, second;
    auto key = [](HWND window, WPARAM code) {
        PostMessageW(window, WM_KEYDOWN, code, 1);
        PostMessageW(window, WM_KEYUP, code, 0xC0000001);
    };
    bool allRan = false;
    INT_PTR result = RunModalScript(
        dialog,
        {Do([&] {
             first = std::make_unique<NavigationRecorder>(150, Page(dialog, 150)->GetControlUnknown());
             second = std::make_unique<NavigationRecorder>(151, Page(dialog, 151)->GetControlUnknown());
             for (HWND target : {Controls(dialog)->m_hWnd, dialog.m_hWnd, Page(dialog, 150)->m_hWnd}) {
                 key(target, VK_RETURN);
                 key(target, VK_ESCAPE);
             }
         }),
         Do([] {}), Do([] {}),
         Do([&] {
             EXPECT_TRUE(dialog.IsModalLoopRunning());
             EXPECT_TRUE(Controls(dialog)->IsWindowVisible());
             EXPECT_TRUE(first->addresses.empty());
             key(Controls(dialog)->m_hWnd, VK_F5);
         }),
         WaitFor([&] { return first->Saw(kLoginPage) && second->Saw(kNewsPage); }, 10000, "the reload"),
         Do([&] {
             // Each page shows its own address again, and nothing else.
             EXPECT_EQ(1u, first->addresses.size());
             EXPECT_EQ(1u, second->addresses.size());
         })},
        &allRan);
    first.reset();
    second.reset();
    EXPECT_TRUE(allRan);
    EXPECT_EQ(kLeftOpen, result);
}

// The page with the focus gets the first look at its keys, after the window's own key
// rules; what it does not use goes to the dialog. The WebBrowser control cannot be
// driven here, so the Flash stand-in takes its place in the page slot.
TEST_F(LoginWindow, TheFocusedPageSeesItsKeysBeforeTheDialog) {
    struct StandinAsBrowser {
        StandinAsBrowser() { EXPECT_EQ(S_OK, RegisterFlashStandin(kWebBrowserClassId)); }
        ~StandinAsBrowser() { RevokeFlashStandin(); }
    } registration;
    const testing_support::KeyRouteCase cases[] = {
        {VK_TAB, false, true, "used"},
        {VK_RIGHT, false, true, "used"},
        {'V', true, true, "used"},
        {'C', true, true, "used"},
        {'A', false, true, "declined received"},
        {VK_TAB, false, false, "declined"},
        // The window's rules come first: Enter goes straight to the page, F5 reloads.
        {VK_RETURN, false, true, "received"},
        {VK_F5, false, true, ""},
    };
    TestHost host;
    ASSERT_TRUE(host.loaded);
    CLauncherTranslucentDlg dialog(host, host.LoadSkin());
    FlashStandin* page = nullptr;
    std::unique_ptr<testing_support::HeldKey> control;
    std::vector<Step> steps = {Do([&] {
        page = FlashStandinFromUnknown(Page(dialog, 150)->GetControlUnknown());
        ASSERT_NE(nullptr, page);
        ASSERT_NE(nullptr, page->window());
        // Keys reach a page once it is shown.
        Page(dialog, 150)->ShowWindow(SW_SHOW);
    })};
    for (const testing_support::KeyRouteCase& c : cases) {
        steps.push_back(Do([&] {
            if (page) control = testing_support::PressKeyIn(*page, c);
        }));
        steps.push_back(Do([&] {
            control.reset();
            if (page) testing_support::ExpectKeyRoute(*page, c);
        }));
    }
    bool allRan = false;
    EXPECT_EQ(kLeftOpen, RunModalScript(dialog, steps, &allRan));
    EXPECT_TRUE(allRan);
}

TEST_F(LoginWindow, CloseButtonAsksFirst) {
    struct Case {
        const char* initname;
        int answer;
        const wchar_t* caption;
        bool closes;
    } cases[] = {
        {"云海传奇", IDOK, L"云海传奇", true},
        {"云海传奇", IDCANCEL, L"云海传奇", false},
        {"", IDOK, L"login_tests", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        TestHost host(DemoConfigWith({{"initname", c.initname}}));
        ASSERT_TRUE(host.loaded);
        CLauncherTranslucentDlg dialog(host, host.LoadSkin());
        BoxAnswerer answerer(c.answer);
        testing_support::MessageBoxStyles styles;
        INT_PTR result = RunModalScript(dialog, {Do([&] {
                                            HWND close = Controls(dialog)->GetDlgItem(CLauncherStandardDlg::kCloseId);
                                            SendMessageW(close, BM_CLICK, 0, 0);
                                        })});
        EXPECT_EQ(c.closes ? static_cast<INT_PTR>(IDCANCEL) : static_cast<INT_PTR>(kLeftOpen), result);
        ASSERT_EQ(1u, answerer.texts.size());
        EXPECT_EQ(L"确定要退出游戏吗？", answerer.texts[0]);
        EXPECT_EQ(c.caption, answerer.captions[0]);
        // OK and Cancel, Cancel the default, system- and task-modal.
        EXPECT_EQ(std::vector<UINT>{0x3101u}, styles.styles());
        EXPECT_EQ(0, host.runUpdateCalls);
    }
}

TEST_F(LoginWindow, MinimiseButtonOpensItsAddressMinimisesBothAndBothComeBack) {
    TestHost host;
    ASSERT_TRUE(host.loaded);
    CLauncherTranslucentDlg dialog(host, host.LoadSkin());
    bool skinIconic = false, controlsIconic = false, restoredTogether = false;
    RECT window = {};
    RunModalScript(dialog, {Do([&] {
                                window = dialog.GetWindowRect();
                                SendMessageW(Controls(dialog)->GetDlgItem(CLauncherStandardDlg::kMinimizeId), BM_CLICK,
                                             0, 0);
                                skinIconic = IsIconic(dialog.m_hWnd);
                                controlsIconic = IsIconic(Controls(dialog)->m_hWnd);
                            }),
                            Do([&] { dialog.ShowWindow(SW_RESTORE); }), Do([&] {
                                RECT skinRect = dialog.GetWindowRect();
                                RECT controlRect = Controls(dialog)->GetWindowRect();
                                restoredTogether = !IsIconic(Controls(dialog)->m_hWnd) &&
                                                   Controls(dialog)->IsWindowVisible() &&
                                                   EqualRect(&skinRect, &controlRect) && EqualRect(&skinRect, &window);
                            })});
    ASSERT_EQ(1u, opened_.size());
    EXPECT_EQ(L"_blank", opened_[0]);
    EXPECT_TRUE(skinIconic);
    EXPECT_TRUE(controlsIconic);
    EXPECT_TRUE(restoredTogether);
}

TEST_F(LoginWindow, AutomaticStartWaitsInTheTrayUntilClicked) {
    TestHost host;
    ASSERT_TRUE(host.loaded);
    ASSERT_EQ('\0', host.config().settings().firstUrl[0]);
    host.startedWithArgument = true;
    std::unique_ptr<Gdiplus::Bitmap> skin = host.LoadSkin();
    // An opaque point of the skin away from the buttons and the page.
    const int px = 200, py = 545;
    Gdiplus::Color skinPixel;
    skin->GetPixel(px, py, &skinPixel);
    ASSERT_EQ(255, skinPixel.GetA());
    const COLORREF opaque = RGB(skinPixel.GetR(), skinPixel.GetG(), skinPixel.GetB());
    CLauncherTranslucentDlg dialog(host, std::move(skin));
    bool shownBeforeClick = true, trayBeforeClick = false, ignoredOtherIcon = false;
    COLORREF screenBefore = 0, screenAfter = 0;
    LRESULT otherIcon = 0;
    bool shownAfterClick = false, trayAfterClick = true;
    RunModalScript(dialog, {Do([] {}), Do([&] {
                                RECT window = dialog.GetWindowRect();
                                shownBeforeClick = dialog.IsWindowVisible() || Controls(dialog)->IsWindowVisible();
                                HWND layer = Controls(dialog)->m_hWnd;
                                trayBeforeClick = testing_support::ShellHasTrayIcon(layer, 128);
                                // The record ends after dwInfoFlags (936 bytes in the 32-bit build).
                                EXPECT_EQ(offsetof(NOTIFYICONDATAW, guidItem),
                                          Controls(dialog)->trayIcon().record().cbSize);
                                // Explorer restarted: the icon comes back.
                                testing_support::RestartShellFor(layer, 128);
                                EXPECT_TRUE(testing_support::ShellHasTrayIcon(layer, 128));
                                screenBefore = ScreenPixel(window.left + px, window.top + py);
                                otherIcon = Controls(dialog)->SendMessage(CLauncherStandardDlg::kTrayMessage, 127,
                                                                          WM_LBUTTONUP);
                                Controls(dialog)->SendMessage(CLauncherStandardDlg::kTrayMessage, 128, WM_MOUSEMOVE);
                                ignoredOtherIcon = !dialog.IsWindowVisible() && host.startedWithArgument;
                                Controls(dialog)->SendMessage(CLauncherStandardDlg::kTrayMessage, 128, WM_LBUTTONUP);
                            }),
                            WaitFor(
                                [&] {
                                    RECT window = dialog.GetWindowRect();
                                    screenAfter = ScreenPixel(window.left + px, window.top + py);
                                    return Near(screenAfter, opaque);
                                },
                                5000, "the skin on the screen"),
                            Do([&] {
                                shownAfterClick = dialog.IsWindowVisible() && Controls(dialog)->IsWindowVisible();
                                trayAfterClick = testing_support::ShellHasTrayIcon(Controls(dialog)->m_hWnd, 128);
                            })});
    EXPECT_FALSE(shownBeforeClick);
    EXPECT_TRUE(trayBeforeClick);
    EXPECT_FALSE(Near(screenBefore, opaque)) << std::hex << screenBefore;
    EXPECT_EQ(1, otherIcon);
    EXPECT_TRUE(ignoredOtherIcon);
    EXPECT_TRUE(shownAfterClick);
    EXPECT_FALSE(trayAfterClick);
    EXPECT_FALSE(host.startedWithArgument);
    EXPECT_TRUE(Near(screenAfter, opaque)) << std::hex << screenAfter << " " << opaque;
}

TEST_F(LoginWindow, TrayMenuClosesTheWindow) {
    TestHost host;
    ASSERT_TRUE(host.loaded);
    host.startedWithArgument = true;
    CLauncherTranslucentDlg dialog(host, host.LoadSkin());
    MenuChooser chooser;
    INT_PTR result = RunModalScript(
        dialog, {Do([&] { Controls(dialog)->SendMessage(CLauncherStandardDlg::kTrayMessage, 128, WM_RBUTTONUP); })});
    EXPECT_EQ(IDCANCEL, result);
    ASSERT_EQ(1u, chooser.items.size());
    EXPECT_EQ(L"退出游戏", chooser.items[0]);
    EXPECT_EQ(static_cast<UINT>(IDCANCEL), chooser.ids[0]);
    EXPECT_FALSE(Controls(dialog)->trayIcon().shown());
    EXPECT_EQ(0, host.runUpdateCalls);
}

}  // namespace
