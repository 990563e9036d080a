#include "ui/progress_ctrl_st.h"

#include <stdio.h>

#include <algorithm>

#include "framework/gdi.h"

namespace {

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(value, INT32_MIN), INT32_MAX));
}

}  // namespace

CProgressCtrlST::~CProgressCtrlST() {
    if (fill_) DeleteObject(fill_);
}

int CProgressCtrlST::SetBitmap(HBITMAP bitmap, BOOL repaint) {
    // Handing in the bitmap already held keeps it rather than deleting it first.
    if (bitmap != fill_) {
        if (fill_) DeleteObject(fill_);
        fill_ = bitmap;
    }
    fillWidth_ = 0;
    fillHeight_ = 0;
    int result = 0;
    if (fill_) {
        BITMAP info = {};
        if (GetObjectW(fill_, sizeof(info), &info) == sizeof(info) && info.bmWidth > 0 && info.bmHeight > 0) {
            fillWidth_ = info.bmWidth;
            fillHeight_ = info.bmHeight;
        } else {
            DeleteObject(fill_);
            fill_ = nullptr;
            result = 1;
        }
    }
    if (repaint && m_hWnd) Invalidate(TRUE);
    return result;
}

int CProgressCtrlST::SetBitmap(UINT resourceId, BOOL repaint) {
    HANDLE loaded = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId), IMAGE_BITMAP, 0, 0,
                               LR_DEFAULTCOLOR);
    int result = SetBitmap(static_cast<HBITMAP>(loaded), repaint);
    return loaded ? result : 1;
}

void CProgressCtrlST::SetRange(int32_t lower, int32_t upper) {
    lower_ = lower;
    upper_ = upper;
    int64_t span = static_cast<int64_t>(upper) - lower;
    span_ = span == 0 ? 1 : ClampToInt32(span < 0 ? -span : span);
    position_ = std::min(std::max(position_, std::min(lower_, upper_)), std::max(lower_, upper_));
    if (!m_hWnd) return;
    // 32-bit bounds: PBM_SETRANGE would cut them to 16 bits.
    SetRange32(lower, upper);
    Redraw();
}

void CProgressCtrlST::SetStep(int32_t step) {
    step_ = step;
    if (m_hWnd) CProgressCtrl::SetStep(step);
}

void CProgressCtrlST::SetPos(int32_t position) {
    position_ = std::min(std::max(position, std::min(lower_, upper_)), std::max(lower_, upper_));
    if (!m_hWnd) return;
    CProgressCtrl::SetPos(position_);
    Redraw();
}

void CProgressCtrlST::StepIt() {
    const int32_t low = std::min(lower_, upper_);
    const int32_t high = std::max(lower_, upper_);
    int64_t next = static_cast<int64_t>(position_) + step_;
    if (next > high) next = next + low - high;
    // A step longer than the range, or one going down, must not leave the range.
    position_ = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(next, low), high));
    if (!m_hWnd) return;
    CProgressCtrl::StepIt();
    // The native control wraps in its own way; it shows our position.
    CProgressCtrl::SetPos(position_);
    Redraw();
}

int32_t CProgressCtrlST::GetPercent() const {
    // The share of the range below the position; for a lower bound of 0 or below this is
    // 100 / span × (position + |lower|).
    const int32_t low = std::min(lower_, upper_);
    double share = 100.0 / span_ * (static_cast<double>(position_) - low);
    return static_cast<int32_t>(std::min(std::max(share, 0.0), 100.0));
}

void CProgressCtrlST::Redraw() const {
    if (fill_) Invalidate(FALSE);
}

COLORREF CProgressCtrlST::BackgroundColor() const {
    return background_ == CLR_DEFAULT ? GetSysColor(COLOR_3DFACE) : background_;
}

LRESULT CProgressCtrlST::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        if (!fill_) return CProgressCtrl::WindowProc(message, wParam, lParam);
        OnPaint();
        return 0;
    case PBM_SETBKCOLOR:
        background_ = static_cast<COLORREF>(lParam);
        return CProgressCtrl::WindowProc(message, wParam, lParam);
    default:
        return CProgressCtrl::WindowProc(message, wParam, lParam);
    }
}

void CProgressCtrlST::OnPaint() {
    PAINTSTRUCT paint = {};
    HDC screen = BeginPaint(m_hWnd, &paint);
    if (!screen) return;
    const RECT client = GetClientRect();
    // Drawn off screen in one piece. Nothing erases the bar for us, so the unfilled part
    // gets the background colour: a lower position or another percentage leaves no trace.
    CMemoryDC buffer(screen);
    CGdiObject<HBITMAP> canvas(CreateCompatibleBitmap(screen, client.right, client.bottom));
    if (!buffer || !canvas) {
        EndPaint(m_hWnd, &paint);
        return;
    }
    HDC dc = buffer.get();
    CSelectObject selectCanvas(dc, canvas.get());
    CGdiObject<HBRUSH> background(CreateSolidBrush(BackgroundColor()));
    FillRect(dc, &client, background.get());

    RECT bar = client;
    if (GetStyle() & WS_BORDER) {
        CGdiObject<HBRUSH> black(CreateSolidBrush(RGB(0, 0, 0)));
        FrameRect(dc, &bar, black.get());
        InflateRect(&bar, -1, -1);
    }
    InflateRect(&bar, -1, -1);
    PaintFill(dc, bar);

    if (showPercent_) {
        wchar_t text[16];
        int length = swprintf(text, sizeof(text) / sizeof(text[0]), L"%d%%", GetPercent());
        RECT textRect = client;
        SetTextColor(dc, textColor_);
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, text, length, &textRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    BitBlt(screen, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    EndPaint(m_hWnd, &paint);
}

void CProgressCtrlST::PaintFill(HDC dc, const RECT& bar) const {
    const int width = bar.right - bar.left;
    const int height = bar.bottom - bar.top;
    if (width <= 0 || height <= 0 || fillWidth_ <= 0 || fillHeight_ <= 0) return;
    const float percent = static_cast<float>(GetPercent());
    RECT fill = bar;
    if (GetStyle() & PBS_VERTICAL)
        fill.top = bar.bottom - static_cast<int>(static_cast<float>(height) / 100.0f * percent);
    else
        fill.right = bar.left + static_cast<int>(static_cast<float>(width) / 100.0f * percent);
    const int fillWidth = fill.right - fill.left;
    const int fillHeight = fill.bottom - fill.top;
    if (fillWidth <= 0 || fillHeight <= 0) return;

    // Whole tiles from the fill's top-left corner, cut at its right and bottom edges.
    CMemoryDC tile(dc);
    if (!tile) return;
    CSelectObject selectTile(tile.get(), fill_);
    const int columns = (fillWidth + fillWidth_ - 1) / fillWidth_;
    const int rows = (fillHeight + fillHeight_ - 1) / fillHeight_;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int x = column * fillWidth_;
            const int y = row * fillHeight_;
            BitBlt(dc, fill.left + x, fill.top + y, std::min(fillWidth_, fillWidth - x),
                   std::min(fillHeight_, fillHeight - y), tile.get(), 0, 0, SRCCOPY);
        }
    }
}
