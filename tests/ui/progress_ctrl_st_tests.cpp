// The tiled progress bar: its own range, step and position, and what it paints (fill
// width, frame, percentage text) read back from a real window.
#include <gtest/gtest.h>

#include <memory>

#include "ui/progress_ctrl_st.h"
#include "ui_test_window.h"

using namespace ui_testing;

namespace {

const COLORREF kFill = RGB(250, 140, 20);
const COLORREF kBackground = RGB(0x0B, 0x0B, 0x04);  // 0x040B0B as the update dialog sets it
const COLORREF kText = RGB(255, 255, 255);

class ProgressTest : public HostedTest {
protected:
    std::unique_ptr<CProgressCtrlST> MakeBar(DWORD extraStyle = 0, int width = 300, int height = 20) {
        auto bar = std::make_unique<CProgressCtrlST>();
        const RECT rect = {20, 20, 20 + width, 20 + height};
        EXPECT_TRUE(bar->Create(WS_CHILD | WS_VISIBLE | PBS_SMOOTH | extraStyle, rect, &host(), 350));
        bar->SetBkColor(kBackground);
        bar->SetRange(0, 1000);
        PumpPending();
        return bar;
    }
    bool Filled(const CProgressCtrlST& bar, int x, int y) { return PixelAt(bar.m_hWnd, x, y) == kFill; }

};

TEST_F(ProgressTest, StepItWrapsPastTheUpperBound) {
    auto bar = MakeBar();
    bar->SetStep(250);
    const int32_t positions[] = {250, 500, 750, 1000, 250};
    const int32_t percents[] = {25, 50, 75, 100, 25};
    for (int i = 0; i < 5; ++i) {
        bar->StepIt();
        EXPECT_EQ(positions[i], bar->GetPos());
        EXPECT_EQ(percents[i], bar->GetPercent());
        // The native bar follows.
        EXPECT_EQ(positions[i], bar->CProgressCtrl::GetPos());
    }
}

TEST_F(ProgressTest, PositionStaysWithinTheRange) {
    struct Case {
        int32_t lower, upper, step;
        int32_t set;       // SetPos argument
        int32_t stored;    // after SetPos
        int32_t stepped;   // after one StepIt from there
        int32_t percent;   // after SetPos
        int32_t span;
    };
    const Case cases[] = {
        {0, 1000, 250, -5, 0, 250, 0, 1000},
        {0, 1000, 250, 5000, 1000, 250, 100, 1000},
        {0, 1000, 250, 333, 333, 583, 33, 1000},
        {5, 5, 10, 7, 5, 5, 0, 1},             // equal bounds: span 1, nothing divides by zero
        {0, 100, 250, 50, 50, 100, 50, 100},   // a step longer than the range stays inside
        {0, 100, -30, 10, 10, 0, 10, 100},     // so does a step downwards
        {-50, 50, 10, 0, 0, 10, 50, 100},      // the position's share: 100 / span × (position + |lower|)
        {100, 200, 10, 150, 150, 160, 50, 100},  // and with a positive lower bound
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lower << ".." << c.upper << " pos " << c.set);
        auto bar = MakeBar();
        bar->SetRange(c.lower, c.upper);
        bar->SetStep(c.step);
        bar->SetBitmap(SolidBitmap(4, 4, kFill));
        bar->ShowPercent(TRUE);
        bar->SetPos(c.set);
        EXPECT_EQ(c.stored, bar->GetPos());
        EXPECT_EQ(c.percent, bar->GetPercent());
        EXPECT_EQ(c.span, bar->GetSpan());
        PixelAt(bar->m_hWnd, 0, 0);  // paints
        bar->StepIt();
        EXPECT_EQ(c.stepped, bar->GetPos());
    }
}

TEST_F(ProgressTest, FillCoversItsShareOfTheBar) {
    struct Case {
        const char* name;
        DWORD style;
        int width, height;
        int32_t position;
        POINT firstFilled, lastFilled, firstEmpty;
    };
    const Case cases[] = {
        // R = 1..299 (298 wide): 298 / 100 × 33 = 98.3 → columns 1 to 98.
        {"plain", 0, 300, 20, 333, {1, 3}, {98, 3}, {99, 3}},
        // The client is 298 × 18 inside the border; framed and shrunk, R = 2..296: 97 columns.
        {"border", WS_BORDER, 300, 20, 333, {2, 3}, {98, 3}, {99, 3}},
        {"full", 0, 300, 20, 1000, {1, 3}, {298, 3}, {299, 3}},
        // Vertical, 198 high at half: rows 100 to 198 from the bottom up.
        {"vertical", PBS_VERTICAL, 20, 200, 500, {5, 198}, {5, 100}, {5, 99}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto bar = MakeBar(c.style, c.width, c.height);
        ASSERT_EQ(0, bar->SetBitmap(SolidBitmap(7, 5, kFill)));
        bar->SetPos(c.position);
        EXPECT_TRUE(Filled(*bar, c.firstFilled.x, c.firstFilled.y));
        EXPECT_TRUE(Filled(*bar, c.lastFilled.x, c.lastFilled.y));
        EXPECT_FALSE(Filled(*bar, c.firstEmpty.x, c.firstEmpty.y));
        EXPECT_FALSE(Filled(*bar, 0, 0));
        if (c.style & WS_BORDER) {
            EXPECT_EQ(RGB(0, 0, 0), PixelAt(bar->m_hWnd, 0, 5));
        }
    }
}

TEST_F(ProgressTest, TilesTheBitmapFromTheLeft) {
    // A tile with one marked column: the mark repeats every tile width.
    const COLORREF mark = RGB(10, 200, 10);
    HBITMAP tile = PaintedBitmap(7, 5, [&](HDC dc) {
        HBRUSH fill = CreateSolidBrush(kFill), marked = CreateSolidBrush(mark);
        RECT all = {0, 0, 7, 5}, first = {0, 0, 1, 5};
        FillRect(dc, &all, fill);
        FillRect(dc, &first, marked);
        DeleteObject(fill);
        DeleteObject(marked);
    });
    auto bar = MakeBar();
    ASSERT_EQ(0, bar->SetBitmap(tile));
    bar->SetPos(1000);
    for (int x = 1; x < 299; x += 7) EXPECT_EQ(mark, PixelAt(bar->m_hWnd, x, 3)) << x;
    EXPECT_EQ(kFill, PixelAt(bar->m_hWnd, 2, 3));
    EXPECT_EQ(mark, PixelAt(bar->m_hWnd, 1, 6));  // the second row of tiles
}

TEST_F(ProgressTest, ShowsThePercentageInTheMiddle) {
    auto bar = MakeBar();
    ASSERT_EQ(0, bar->SetBitmap(SolidBitmap(4, 4, kFill)));
    bar->SetPercentColor(kText);
    bar->ShowPercent(TRUE);
    bar->SetPos(333);

    // The text as the bar's device context draws it by default, for comparison.
    HBITMAP expected = PaintedBitmap(300, 20, [](HDC dc) {
        RECT all = {0, 0, 300, 20};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        SetTextColor(dc, kText);
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, L"33%", -1, &all, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    });
    HDC screen = GetDC(nullptr);
    HDC reference = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(reference, expected);
    RedrawWindow(bar->m_hWnd, nullptr, nullptr, RDW_UPDATENOW);
    HDC shown = GetDC(bar->m_hWnd);
    int textPixels = 0, mismatches = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 300; ++x) {
            bool want = GetPixel(reference, x, y) == kText;
            bool have = GetPixel(shown, x, y) == kText;
            textPixels += want;
            mismatches += want != have;
        }
    }
    ReleaseDC(bar->m_hWnd, shown);
    SelectObject(reference, previous);
    DeleteDC(reference);
    ReleaseDC(nullptr, screen);
    DeleteObject(expected);
    EXPECT_GT(textPixels, 10);
    EXPECT_EQ(0, mismatches);

    // Lower again: the fill and the old text go.
    bar->SetPos(1000);
    ASSERT_TRUE(Filled(*bar, 250, 3));
    bar->SetPos(100);
    EXPECT_FALSE(Filled(*bar, 250, 3));
    PumpPending();
    EXPECT_FALSE(Filled(*bar, 250, 3));
}

TEST_F(ProgressTest, WithoutBitmapTheNativeBarPaintsAndNoText) {
    const COLORREF textColor = RGB(255, 0, 255);
    const RECT all = {0, 0, 300, 20};
    struct Case {
        const char* name;
        HBITMAP bitmap;
        int result;
    };
    const Case cases[] = {
        {"none", nullptr, 0},
        {"bad handle", reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(0x7ff4)), 1},
        {"not a bitmap", reinterpret_cast<HBITMAP>(CreateSolidBrush(RGB(1, 2, 3))), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto bar = MakeBar();
        bar->SetPercentColor(textColor);
        bar->ShowPercent(TRUE);
        ASSERT_EQ(0, bar->SetBitmap(SolidBitmap(4, 4, kFill)));
        EXPECT_EQ(c.result, bar->SetBitmap(c.bitmap, TRUE));
        bar->SetPos(500);
        EXPECT_EQ(0, CountPixels(bar->m_hWnd, all, textColor));
        EXPECT_EQ(0, CountPixels(bar->m_hWnd, all, kFill));
        // The native bar at half: its left differs from its right.
        EXPECT_NE(PixelAt(bar->m_hWnd, 280, 10), PixelAt(bar->m_hWnd, 20, 10));
    }
    // The rejected brush was the bar's to delete.
    EXPECT_EQ(0u, GetObjectType(cases[2].bitmap));
}

TEST_F(ProgressTest, OwnsItsBitmap) {
    HBITMAP first = SolidBitmap(4, 4, kFill);
    HBITMAP second = SolidBitmap(4, 4, kFill);
    HBITMAP third = nullptr;
    {
        auto bar = MakeBar();
        ASSERT_EQ(0, bar->SetBitmap(first));
        // The bitmap it already holds stays.
        EXPECT_EQ(0, bar->SetBitmap(first));
        EXPECT_EQ(static_cast<DWORD>(OBJ_BITMAP), GetObjectType(first));
        bar->SetPos(1000);
        EXPECT_TRUE(Filled(*bar, 100, 3));
        EXPECT_EQ(0, bar->SetBitmap(second));
        EXPECT_EQ(0u, GetObjectType(first));
        // A bitmap resource that does not exist.
        EXPECT_EQ(1, bar->SetBitmap(4242u));
        EXPECT_EQ(0u, GetObjectType(second));
        EXPECT_FALSE(Filled(*bar, 100, 3));
        third = SolidBitmap(4, 4, kFill);
        EXPECT_EQ(0, bar->SetBitmap(third));
    }
    EXPECT_EQ(0u, GetObjectType(third));
}

}  // namespace
