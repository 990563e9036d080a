// The skin button as real windows under the test display: which bitmap it shows, the
// press with the mouse captured, the address it opens, blinking, check boxes and radio
// groups, the mask region and the ownership of its bitmaps.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/skin_button.h"
#include "ui_test_window.h"

using namespace ui_testing;

namespace {

const COLORREF kNormal = RGB(200, 0, 0);
const COLORREF kDown = RGB(0, 160, 0);
const COLORREF kOver = RGB(0, 0, 220);
const COLORREF kDisabled = RGB(128, 128, 128);
const COLORREF kFocus = RGB(230, 230, 0);

const UINT kButtonId = 201;
const RECT kButtonRect = {20, 20, 120, 60};

std::vector<std::wstring> g_opened;
int g_clicksWhenOpened = -1;
const HostWindow* g_host = nullptr;

HINSTANCE WINAPI RecordOpen(HWND, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                            const wchar_t* directory, int show) {
    EXPECT_STREQ(L"open", verb);
    EXPECT_EQ(nullptr, parameters);
    EXPECT_EQ(nullptr, directory);
    EXPECT_EQ(SW_SHOWNORMAL, show);
    g_opened.push_back(file);
    if (g_host) g_clicksWhenOpened = g_host->Clicks(kButtonId);
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}

class SkinButtonTest : public HostedTest {
protected:
    void SetUp() override {
        g_opened.clear();
        g_clicksWhenOpened = -1;
        HostedTest::SetUp();
        g_host = &host();
        CxSkinButton::linkOpener = RecordOpen;
        // Start with the cursor away from everything.
        SetCursorPos(kHostX + 380, kHostY + 280);
        PumpPending();
    }
    void TearDown() override {
        g_host = nullptr;
        CxSkinButton::linkOpener = ShellExecuteW;
    }

    std::unique_ptr<CxSkinButton> MakeButton(const RECT& rect = kButtonRect, UINT id = kButtonId,
                                             DWORD extraStyle = 0, const wchar_t* caption = L"") {
        auto button = std::make_unique<CxSkinButton>();
        EXPECT_TRUE(button->Create(caption, WS_CHILD | WS_VISIBLE | extraStyle, rect, &host(), id));
        PumpPending();
        return button;
    }
    void AssignColours(CxSkinButton& button, bool withDisabled = true) {
        button.AssignBitmaps(SolidBitmap(8, 8, kNormal), SolidBitmap(8, 8, kDown), SolidBitmap(8, 8, kOver),
                             withDisabled ? SolidBitmap(8, 8, kDisabled) : nullptr, SolidBitmap(8, 8, kFocus));
    }
    // A pixel clear of the (empty) caption and of any focus rectangle.
    COLORREF Shown(const CxSkinButton& button) { return PixelAt(button.m_hWnd, 10, 10); }
    // Puts the real cursor over a client point of the button and tells the button so.
    void MoveTo(const CxSkinButton& button, POINT client, WPARAM keys = 0) {
        POINT screen = client;
        ClientToScreen(button.m_hWnd, &screen);
        SetCursorPos(screen.x, screen.y);
        button.SendMessage(WM_MOUSEMOVE, keys, MAKELPARAM(client.x, client.y));
    }
    void Press(const CxSkinButton& button, POINT client, UINT message = WM_LBUTTONDOWN) {
        button.SendMessage(message, MK_LBUTTON, MAKELPARAM(client.x, client.y));
    }
    void Release(const CxSkinButton& button, POINT client) {
        button.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y));
        PumpPending();
    }

};

const POINT kInside = {50, 20};
const POINT kOutside = {300, 150};

TEST_F(SkinButtonTest, CreationMakesTheButtonOwnerDrawn) {
    auto push = MakeButton();
    EXPECT_EQ(static_cast<DWORD>(BS_OWNERDRAW), push->GetStyle() & BS_TYPEMASK);

    // A button attached after creation is adjusted in the same way.
    HWND native = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 200, 20, 60, 30,
                                  host().m_hWnd, reinterpret_cast<HMENU>(202), GetModuleHandleW(nullptr), nullptr);
    CxSkinButton attached;
    ASSERT_TRUE(attached.SubclassWindow(native));
    EXPECT_EQ(static_cast<DWORD>(BS_OWNERDRAW), attached.GetStyle() & BS_TYPEMASK);
    attached.SendMessage(BM_SETCHECK, BST_CHECKED);
    EXPECT_EQ(BST_CHECKED, attached.SendMessage(BM_GETCHECK));
}

TEST_F(SkinButtonTest, ShowsTheBitmapOfItsState) {
    auto button = MakeButton();
    AssignColours(*button);
    EXPECT_EQ(kNormal, Shown(*button));

    button->SetState(TRUE);
    EXPECT_EQ(kDown, Shown(*button));
    button->SetState(FALSE);
    EXPECT_EQ(kNormal, Shown(*button));

    SetFocus(button->m_hWnd);
    EXPECT_EQ(kFocus, Shown(*button));
    SetFocus(host().m_hWnd);

    EnableWindow(button->m_hWnd, FALSE);
    EXPECT_EQ(kDisabled, Shown(*button));

    // Without a disabled bitmap the normal one serves.
    AssignColours(*button, false);
    EXPECT_EQ(kNormal, Shown(*button));
    EnableWindow(button->m_hWnd, TRUE);

    // No bitmaps at all: the button face.
    button->AssignBitmaps(nullptr, nullptr);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), Shown(*button));
}

TEST_F(SkinButtonTest, HoverShowsTheOverBitmapUntilTheMouseLeaves) {
    auto button = MakeButton();
    AssignColours(*button);
    MoveTo(*button, kInside);
    EXPECT_EQ(kOver, Shown(*button));

    // Hover wins over focus.
    SetFocus(button->m_hWnd);
    EXPECT_EQ(kOver, Shown(*button));
    SetFocus(host().m_hWnd);

    button->SendMessage(WM_MOUSELEAVE);
    EXPECT_EQ(kNormal, Shown(*button));

    // The real cursor leaving is reported by the system.
    MoveTo(*button, kInside);
    ASSERT_EQ(kOver, Shown(*button));
    SetCursorPos(kHostX + 380, kHostY + 280);
    EXPECT_TRUE(PumpUntil([&] { return Shown(*button) == kNormal; }));
}

TEST_F(SkinButtonTest, PressedLookFollowsTheCursorWhileCaptured) {
    auto button = MakeButton();
    // No focus bitmap: the press gives the button the focus.
    button->AssignBitmaps(SolidBitmap(8, 8, kNormal), SolidBitmap(8, 8, kDown), SolidBitmap(8, 8, kOver));
    MoveTo(*button, kInside);
    Press(*button, kInside);
    EXPECT_EQ(button->m_hWnd, GetCapture());
    EXPECT_EQ(kDown, Shown(*button));

    MoveTo(*button, kOutside, MK_LBUTTON);
    EXPECT_EQ(kNormal, Shown(*button));
    MoveTo(*button, kInside, MK_LBUTTON);
    EXPECT_EQ(kDown, Shown(*button));

    // Released outside: no click.
    MoveTo(*button, kOutside, MK_LBUTTON);
    Release(*button, kOutside);
    EXPECT_EQ(0, host().Clicks(kButtonId));
    EXPECT_EQ(nullptr, GetCapture());
    EXPECT_EQ(kNormal, Shown(*button));

    // Released inside: one click.
    MoveTo(*button, kInside);
    Press(*button, kInside);
    Release(*button, kInside);
    EXPECT_EQ(1, host().Clicks(kButtonId));
}

TEST_F(SkinButtonTest, LosingTheFocusEndsThePress) {
    auto button = MakeButton();
    AssignColours(*button);
    MoveTo(*button, kInside);
    Press(*button, kInside);
    ASSERT_EQ(button->m_hWnd, GetCapture());
    SetFocus(host().m_hWnd);
    EXPECT_NE(button->m_hWnd, GetCapture());
    EXPECT_EQ(kNormal, Shown(*button));
    Release(*button, kInside);
    EXPECT_EQ(0, host().Clicks(kButtonId));
}

TEST_F(SkinButtonTest, OpensItsAddressOnThePressBeforeTheClick) {
    auto button = MakeButton();
    // UTF-8, as the configuration and the movie give it.
    const struct {
        const char* given;
        const wchar_t* kept;
    } addresses[] = {
        {"http://example.test/\xE5\x85\x85\xE5\x80\xBC?q=\xC3\xA9", L"http://example.test/\x5145\x503C?q=\xE9"},
        {"http://example.test/pay?user=1;server=2;x=", L"http://example.test/pay?user=1&server=2&x="},
    };
    for (const auto& address : addresses) {
        button->SetLinkAddress(address.given);
        EXPECT_EQ(address.kept, button->linkAddress());
    }

    MoveTo(*button, kInside);
    Press(*button, kInside);
    ASSERT_EQ(1u, g_opened.size());
    EXPECT_EQ(L"http://example.test/pay?user=1&server=2&x=", g_opened[0]);
    EXPECT_EQ(0, g_clicksWhenOpened);

    // Released outside: the address was opened all the same, no click.
    MoveTo(*button, kOutside, MK_LBUTTON);
    Release(*button, kOutside);
    EXPECT_EQ(1u, g_opened.size());
    EXPECT_EQ(0, host().Clicks(kButtonId));
}

TEST_F(SkinButtonTest, DoubleClickOpensTheAddressTwice) {
    auto button = MakeButton();
    button->SetLinkAddress("http://example.test/home");
    MoveTo(*button, kInside);
    Press(*button, kInside);
    Release(*button, kInside);
    Press(*button, kInside, WM_LBUTTONDBLCLK);
    Release(*button, kInside);
    EXPECT_EQ(2u, g_opened.size());
    EXPECT_EQ(2, host().Clicks(kButtonId));
}

TEST_F(SkinButtonTest, WithoutAddressNothingIsOpened) {
    auto button = MakeButton();
    button->SetLinkAddress(nullptr);
    MoveTo(*button, kInside);
    Press(*button, kInside);
    Release(*button, kInside);
    EXPECT_TRUE(g_opened.empty());
    EXPECT_EQ(1, host().Clicks(kButtonId));
}

TEST_F(SkinButtonTest, BlinkingAlternatesEmptyAndTheCaption) {
    auto button = MakeButton(kButtonRect, kButtonId, 0, L"礼包");
    // Timer 99 means nothing while the caption is not blinking.
    button->SendMessage(WM_TIMER, CxSkinButton::kBlinkTimer);
    EXPECT_EQ(L"礼包", button->GetWindowText());

    button->BlinkCaption(true);
    const wchar_t* expected[] = {L"", L"礼包", L"", L"礼包", L""};
    for (const wchar_t* text : expected) {
        button->SendMessage(WM_TIMER, CxSkinButton::kBlinkTimer);
        EXPECT_EQ(text, button->GetWindowText());
    }
    button->BlinkCaption(false);
    EXPECT_EQ(L"礼包", button->GetWindowText());
    button->SendMessage(WM_TIMER, CxSkinButton::kBlinkTimer);
    EXPECT_EQ(L"礼包", button->GetWindowText());

    // Started again, the timer itself blanks the caption.
    button->BlinkCaption(true);
    EXPECT_TRUE(PumpUntil([&] { return button->GetWindowText().empty(); }));
    button->BlinkCaption(true);
    EXPECT_EQ(L"礼包", button->GetWindowText());
    button->BlinkCaption(false);
}

TEST_F(SkinButtonTest, CheckBoxAndPushButtonChecking) {
    struct Case {
        DWORD style;
        LRESULT afterFirstClick;
        LRESULT afterSecondClick;
    };
    const Case cases[] = {
        {BS_PUSHBUTTON, BST_UNCHECKED, BST_UNCHECKED},
        {BS_AUTOCHECKBOX, BST_CHECKED, BST_UNCHECKED},
        {BS_AUTORADIOBUTTON | WS_GROUP, BST_CHECKED, BST_CHECKED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        auto button = MakeButton(kButtonRect, kButtonId, c.style);
        AssignColours(*button);
        MoveTo(*button, kInside);
        Press(*button, kInside);
        Release(*button, kInside);
        EXPECT_EQ(c.afterFirstClick, button->SendMessage(BM_GETCHECK));
        if (c.afterFirstClick == BST_CHECKED) {
            EXPECT_EQ(kDown, Shown(*button));
        }
        // The space key toggles in the same way.
        button->SendMessage(WM_KEYDOWN, VK_SPACE);
        button->SendMessage(WM_KEYUP, VK_SPACE);
        PumpPending();
        EXPECT_EQ(c.afterSecondClick, button->SendMessage(BM_GETCHECK));
        // Released outside: nothing changes.
        LRESULT before = button->SendMessage(BM_GETCHECK);
        Press(*button, kInside);
        MoveTo(*button, kOutside, MK_LBUTTON);
        Release(*button, kOutside);
        EXPECT_EQ(before, button->SendMessage(BM_GETCHECK));
    }
}

TEST_F(SkinButtonTest, CheckingARadioButtonUnchecksTheOthersOfItsGroup) {
    auto first = MakeButton({10, 10, 60, 40}, 211, BS_AUTORADIOBUTTON | WS_GROUP);
    auto second = MakeButton({70, 10, 120, 40}, 212, BS_AUTORADIOBUTTON);
    auto third = MakeButton({130, 10, 180, 40}, 213, BS_AUTORADIOBUTTON);
    auto otherGroup = MakeButton({10, 60, 60, 90}, 214, BS_AUTORADIOBUTTON | WS_GROUP);
    otherGroup->SendMessage(BM_SETCHECK, BST_CHECKED);
    first->SendMessage(BM_SETCHECK, BST_CHECKED);
    PumpPending();
    ASSERT_EQ(BST_CHECKED, first->SendMessage(BM_GETCHECK));

    // By a click on the third: the first and second are told to uncheck.
    MoveTo(*third, {10, 10});
    Press(*third, {10, 10});
    Release(*third, {10, 10});
    EXPECT_EQ(BST_UNCHECKED, first->SendMessage(BM_GETCHECK));
    EXPECT_EQ(BST_UNCHECKED, second->SendMessage(BM_GETCHECK));
    EXPECT_EQ(BST_CHECKED, third->SendMessage(BM_GETCHECK));
    EXPECT_EQ(BST_CHECKED, otherGroup->SendMessage(BM_GETCHECK));

    // A button in the middle of the group reaches both neighbours.
    second->SendMessage(BM_SETCHECK, BST_CHECKED);
    PumpPending();
    EXPECT_EQ(BST_UNCHECKED, first->SendMessage(BM_GETCHECK));
    EXPECT_EQ(BST_CHECKED, second->SendMessage(BM_GETCHECK));
    EXPECT_EQ(BST_UNCHECKED, third->SendMessage(BM_GETCHECK));
    EXPECT_EQ(BST_CHECKED, otherGroup->SendMessage(BM_GETCHECK));
}

TEST_F(SkinButtonTest, DrawModesPlaceTheBitmap) {
    // Left half red, right half blue, top-left pixel green.
    auto sheet = [] {
        return PaintedBitmap(10, 10, [](HDC dc) {
            RECT left = {0, 0, 5, 10}, right = {5, 0, 10, 10};
            HBRUSH red = CreateSolidBrush(kNormal), blue = CreateSolidBrush(kOver);
            FillRect(dc, &left, red);
            FillRect(dc, &right, blue);
            SetPixel(dc, 0, 0, kDown);
            DeleteObject(red);
            DeleteObject(blue);
        });
    };
    struct Case {
        int16_t mode;
        POINT at;
        COLORREF expected;
    };
    const Case cases[] = {
        {CxSkinButton::kStretch, {90, 20}, kOver},   // right half stretched over the right of 100 px
        {CxSkinButton::kStretch, {10, 20}, kNormal},
        {CxSkinButton::kTile, {10, 0}, kDown},       // second tile starts at 10
        {CxSkinButton::kTile, {17, 3}, kOver},
        {CxSkinButton::kOwnSize, {7, 3}, kOver},
        {CxSkinButton::kOwnSize, {0, 0}, kDown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        auto button = MakeButton();
        button->AssignBitmaps(sheet(), nullptr, nullptr, nullptr, nullptr, nullptr, c.mode);
        EXPECT_EQ(c.expected, PixelAt(button->m_hWnd, c.at.x, c.at.y));
    }
    // Out-of-range modes are clamped: -3 draws at its own size, 9 tiles.
    auto own = MakeButton();
    own->AssignBitmaps(sheet(), nullptr, nullptr, nullptr, nullptr, nullptr, -3);
    EXPECT_NE(kOver, PixelAt(own->m_hWnd, 90, 20));
    own->AssignBitmaps(sheet(), nullptr, nullptr, nullptr, nullptr, nullptr, 9);
    EXPECT_EQ(kDown, PixelAt(own->m_hWnd, 20, 10));
}

TEST_F(SkinButtonTest, MaskShapesTheWindow) {
    // 20 × 10: the first five columns are transparent everywhere; the last column is
    // transparent in the top row only, so the other rows run up to the right edge.
    HBITMAP mask = PaintedBitmap(20, 10, [](HDC dc) {
        RECT all = {0, 0, 20, 10}, left = {0, 0, 5, 10};
        HBRUSH black = CreateSolidBrush(RGB(0, 0, 0)), magenta = CreateSolidBrush(RGB(255, 0, 255));
        FillRect(dc, &all, black);
        FillRect(dc, &left, magenta);
        SetPixel(dc, 19, 0, RGB(255, 0, 255));
        SetPixel(dc, 10, 9, RGB(255, 0, 255));
        DeleteObject(black);
        DeleteObject(magenta);
    });
    auto button = MakeButton();
    button->AssignBitmaps(SolidBitmap(20, 10, kNormal), nullptr, nullptr, nullptr, nullptr, mask,
                          CxSkinButton::kOwnSize);

    RECT window = button->GetWindowRect();
    EXPECT_EQ(20, window.right - window.left);
    EXPECT_EQ(10, window.bottom - window.top);

    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, GetWindowRgn(button->m_hWnd, region));
    struct Probe {
        int x, y;
        bool inside;
    };
    const Probe probes[] = {{0, 5, false}, {4, 5, false}, {5, 5, true},  {19, 5, true}, {19, 9, true},
                            {19, 0, false}, {18, 0, true}, {10, 9, false}, {11, 9, true}, {9, 9, true}};
    for (const Probe& p : probes) {
        SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
        EXPECT_EQ(p.inside, PtInRegion(region, p.x, p.y) != FALSE);
    }
    DeleteObject(region);
    // Where the mask is black, the bitmap shows.
    EXPECT_EQ(kNormal, PixelAt(button->m_hWnd, 12, 5));

    // Skinned again without a mask, the button is whole again.
    button->AssignBitmaps(SolidBitmap(20, 10, kNormal), nullptr);
    HRGN none = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(ERROR, GetWindowRgn(button->m_hWnd, none));
    DeleteObject(none);
}

TEST_F(SkinButtonTest, OwnsItsBitmapsAndDeletesEachOnce) {
    HBITMAP normal = SolidBitmap(8, 8, kNormal);
    HBITMAP down = SolidBitmap(8, 8, kDown);
    HBITMAP over = SolidBitmap(8, 8, kOver);
    {
        auto button = MakeButton();
        button->AssignBitmaps(normal, down, over);
        // Given again with new companions: the kept one survives, the dropped ones go.
        HBITMAP newDown = SolidBitmap(8, 8, kFocus);
        button->AssignBitmaps(normal, newDown);
        EXPECT_EQ(static_cast<DWORD>(OBJ_BITMAP), GetObjectType(normal));
        EXPECT_EQ(0u, GetObjectType(down));
        EXPECT_EQ(0u, GetObjectType(over));
        EXPECT_EQ(kNormal, Shown(*button));
        button->SetState(TRUE);
        EXPECT_EQ(kFocus, Shown(*button));
    }
    // Destroyed: the normal bitmap, also standing in as the disabled one, is gone.
    EXPECT_EQ(0u, GetObjectType(normal));
}

TEST_F(SkinButtonTest, TooltipIsCreatedOnceAndFollowsTheText) {
    auto button = MakeButton();
    EXPECT_EQ(L"", button->GetTipText());
    button->SetTipText(L"充值");
    EXPECT_EQ(L"充值", button->GetTipText());
    button->SetTipText(L"官网");
    EXPECT_EQ(L"官网", button->GetTipText());

    auto tooltips = [] {
        int count = 0;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND window, LPARAM counter) {
                wchar_t name[64] = {};
                GetClassNameW(window, name, 64);
                if (lstrcmpiW(name, TOOLTIPS_CLASSW) == 0) ++*reinterpret_cast<int*>(counter);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&count));
        return count;
    };
    EXPECT_EQ(1, tooltips());
    button->DestroyWindow();
    EXPECT_EQ(0, tooltips());
}

TEST_F(SkinButtonTest, CaptionIsDrawnInTheCaptionColour) {
    auto button = MakeButton(kButtonRect, kButtonId, 0, L"WWWW");
    AssignColours(*button);
    const COLORREF caption = RGB(255, 0, 255);
    EXPECT_EQ(GetSysColor(COLOR_BTNTEXT), button->SetCaptionColor(caption));
    EXPECT_EQ(caption, button->SetCaptionColor(caption));
    const RECT all = {0, 0, 100, 40};
    // Smoothed glyph edges blend with the bitmap; their cores keep the colour closely.
    EXPECT_GT(CountPixels(button->m_hWnd, all, caption, 48), 10);
    button->SetWindowText(L"");
    EXPECT_EQ(0, CountPixels(button->m_hWnd, all, caption, 48));
}

}  // namespace
