#include "ui/skin_button.h"

#include <stddef.h>
#include <string.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <vector>

#include "framework/check.h"
#include "framework/text.h"

namespace {

const COLORREF kTransparentColor = RGB(255, 0, 255);
// The structure as every Windows version knows it (without the padded border width).
const UINT kClassicMetricsSize = offsetof(NONCLIENTMETRICSW, lfMessageFont) + sizeof(LOGFONTW);
const UINT kCaptionFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE;

SIZE BitmapSize(HBITMAP bitmap) {
    BITMAP info = {};
    if (!bitmap || GetObjectW(bitmap, sizeof(info), &info) != sizeof(info)) return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight};
}

void FillFace(HDC dc, const RECT& rect) { FillRect(dc, &rect, GetSysColorBrush(COLOR_BTNFACE)); }

// Copies `source` (of `size`) to `rect` of `dc`, stretched or at its own size.
void Blit(HDC dc, const RECT& rect, HDC source, SIZE size, bool stretch, DWORD rop) {
    if (stretch)
        StretchBlt(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, source, 0, 0,
                   size.cx, size.cy, rop);
    else
        BitBlt(dc, rect.left, rect.top, size.cx, size.cy, source, 0, 0, rop);
}

// The rows of the mask's opaque pixels, bottom row first, as one-pixel-high rectangles.
HRGN RegionFromMask(HBITMAP mask) {
    SIZE size = BitmapSize(mask);
    if (size.cx <= 0 || size.cy <= 0) return nullptr;
    const size_t width = static_cast<size_t>(size.cx);
    const size_t height = static_cast<size_t>(size.cy);
    std::vector<uint32_t> pixels(width * height);
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = size.cx;
    format.bmiHeader.biHeight = -size.cy;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    int rows = GetDIBits(screen, mask, 0, static_cast<UINT>(size.cy), pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != size.cy) return nullptr;

    // DIB pixels are 0x00RRGGBB.
    const uint32_t transparent = (static_cast<uint32_t>(GetRValue(kTransparentColor)) << 16) |
                                 (static_cast<uint32_t>(GetGValue(kTransparentColor)) << 8) |
                                 GetBValue(kTransparentColor);
    std::vector<RECT> runs;
    for (size_t y = height; y-- > 0;) {
        const uint32_t* row = pixels.data() + y * width;
        size_t x = 0;
        while (x < width) {
            while (x < width && (row[x] & 0x00FFFFFFu) == transparent) ++x;
            size_t start = x;
            while (x < width && (row[x] & 0x00FFFFFFu) != transparent) ++x;
            // A run that reaches the last column ends at the right edge.
            if (x > start)
                runs.push_back(RECT{static_cast<LONG>(start), static_cast<LONG>(y), static_cast<LONG>(x),
                                    static_cast<LONG>(y + 1)});
        }
    }

    std::vector<uint8_t> data(sizeof(RGNDATAHEADER) + runs.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(runs.size());
    header->nRgnSize = static_cast<DWORD>(runs.size() * sizeof(RECT));
    header->rcBound = RECT{0, 0, size.cx, size.cy};
    if (!runs.empty()) memcpy(data.data() + sizeof(RGNDATAHEADER), runs.data(), runs.size() * sizeof(RECT));
    return ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data()));
}

}  // namespace

CxSkinButton::LinkOpener CxSkinButton::linkOpener = ShellExecuteW;

CxSkinButton::CxSkinButton() : captionColor_(GetSysColor(COLOR_BTNTEXT)) {}

void CxSkinButton::AssignBitmaps(HBITMAP normal, HBITMAP down, HBITMAP over, HBITMAP disabled, HBITMAP focus,
                                 HBITMAP mask, int16_t drawMode, int32_t border, int16_t focusMargin) {
    HBITMAP next[kSlotCount] = {};
    next[kNormal] = normal;
    next[kDown] = down;
    next[kDisabled] = disabled;
    next[kMask] = mask;
    next[kOver] = over;
    next[kFocus] = focus;
    // The bitmaps held before go when this ends, but for those given again.
    CGdiObject<HBITMAP> previous[kSlotCount];
    for (int slot = 0; slot < kSlotCount; ++slot) previous[slot].Reset(bitmaps_[slot].Release());
    for (int slot = 0; slot < kSlotCount; ++slot) {
        CONTRACT_CHECK(!next[slot] || std::find(next, next + slot, next[slot]) == next + slot);
        for (CGdiObject<HBITMAP>& held : previous)
            if (held && held.get() == next[slot]) held.Release();
        bitmaps_[slot].Reset(next[slot]);
    }

    bitmapFit_ = std::min<int16_t>(std::max<int16_t>(drawMode, kOwnSize), kTile);
    drawEdge_ = border;
    focusInset_ = std::max<int16_t>(focusMargin, 0);
    RebuildClipRegion();
    if (m_hWnd) Invalidate();
}

void CxSkinButton::RebuildClipRegion() {
    if (clipRegion_) {
        clipRegion_.Reset();
        if (m_hWnd) SetWindowRgn(m_hWnd, nullptr, TRUE);
    }
    if (!bitmaps_[kMask]) return;
    clipRegion_.Reset(RegionFromMask(bitmaps_[kMask].get()));
    if (!clipRegion_ || !m_hWnd) return;
    // The window owns the region it is given; the button keeps its own.
    CGdiObject<HRGN> windowRegion(CreateRectRgn(0, 0, 0, 0));
    if (windowRegion && CombineRgn(windowRegion.get(), clipRegion_.get(), nullptr, RGN_COPY) != ERROR &&
        SetWindowRgn(m_hWnd, windowRegion.get(), TRUE))
        windowRegion.Release();
    if (bitmapFit_ == kOwnSize) {
        SIZE size = BitmapSize(bitmaps_[kMask].get());
        SetWindowPos(nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CxSkinButton::SetLinkAddress(const char* address) {
    linkAddress_ = ToWide(address ? address : "", true);
    std::replace(linkAddress_.begin(), linkAddress_.end(), L';', L'&');
}

void CxSkinButton::SetTipText(const wchar_t* text) {
    if (!text) text = L"";
    if (tooltip_.m_hWnd) {
        tooltip_.UpdateTipText(text, this);
        return;
    }
    if (!m_hWnd || !tooltip_.Create(this)) return;
    tooltip_.AddTool(this, text);
    tooltip_.Activate(TRUE);
}

std::wstring CxSkinButton::GetTipText() {
    return tooltip_.m_hWnd ? tooltip_.GetText(this) : std::wstring();
}

COLORREF CxSkinButton::SetCaptionColor(COLORREF color) {
    COLORREF previous = captionColor_;
    captionColor_ = color;
    if (m_hWnd) Invalidate();
    return previous;
}

void CxSkinButton::BlinkCaption(bool on) {
    if (!m_hWnd) return;
    if (blinking_) {
        SetWindowText(savedText_.c_str());
        KillTimer(kBlinkTimer);
        blinking_ = 0;
    }
    if (!on) return;
    savedText_ = GetWindowText();
    blinkPhase_ = 0;
    blinking_ = 1;
    SetTimer(kBlinkTimer, kBlinkPeriodMs);
}

void CxSkinButton::PreSubclassWindow() {
    DWORD type = GetStyle() & BS_TYPEMASK;
    if (type == BS_AUTOCHECKBOX)
        buttonKind_ = kCheckBox;
    else if (type == BS_AUTORADIOBUTTON)
        buttonKind_ = kRadioButton;
    else
        buttonKind_ = kPushButton;
    ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW);
    Invalidate();
}

bool CxSkinButton::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message != WM_DRAWITEM || !lParam) return CButton::OnChildNotify(message, wParam, lParam, result);
    DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    *result = TRUE;
    return true;
}

bool CxSkinButton::ContainsClientPoint(POINT point) const {
    RECT client = GetClientRect();
    return PtInRect(&client, point) != FALSE;
}

void CxSkinButton::DrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = kClassicMetricsSize;
    CGdiObject<HFONT> font;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
        font.Reset(CreateFontIndirectW(&metrics.lfMenuFont));
    CSelectObject selectFont(dc, font.get());

    // While pressed, the pushed look follows the cursor; the state change draws again.
    if (pressedCapture_ && ::GetCapture() == m_hWnd) {
        POINT cursor = {};
        GetCursorPos(&cursor);
        ScreenToClient(m_hWnd, &cursor);
        bool over = ContainsClientPoint(cursor);
        if (over != IsPushed()) {
            SetState(over);
            return;
        }
    }

    const std::wstring caption = GetWindowText();
    const int captionLength = static_cast<int>(caption.size());
    const RECT& rect = item.rcItem;
    RECT textRect = rect;
    textRect.left += focusInset_ + 2;
    textRect.right -= focusInset_ + 2;
    SetBkMode(dc, TRANSPARENT);

    if (item.itemState & ODS_DISABLED) {
        HBITMAP shown = bitmaps_[kDisabled] ? bitmaps_[kDisabled].get() : bitmaps_[kNormal].get();
        if (shown)
            DrawBitmap(dc, shown, rect);
        else
            FillFace(dc, rect);
        RECT edge = rect;
        if (drawEdge_) DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
        SetTextColor(dc, GetSysColor(COLOR_3DHILIGHT));
        DrawTextW(dc, caption.c_str(), captionLength, &textRect, kCaptionFormat);
        OffsetRect(&textRect, -1, -1);
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
        DrawTextW(dc, caption.c_str(), captionLength, &textRect, kCaptionFormat);
        return;
    }

    RECT edge = rect;
    if ((item.itemState & ODS_SELECTED) || checkState_) {
        if (bitmaps_[kDown])
            DrawBitmap(dc, bitmaps_[kDown].get(), rect);
        else
            FillFace(dc, rect);
        OffsetRect(&textRect, 1, 1);
        if (drawEdge_) DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
    } else {
        HBITMAP shown = bitmaps_[kNormal].get();
        if (hovering_ && bitmaps_[kOver])
            shown = bitmaps_[kOver].get();
        else if ((item.itemState & ODS_FOCUS) && bitmaps_[kFocus])
            shown = bitmaps_[kFocus].get();
        if (bitmaps_[kNormal])
            DrawBitmap(dc, shown, rect);
        else
            FillFace(dc, rect);
        if (drawEdge_) DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
    }
    if ((item.itemState & ODS_FOCUS) && focusInset_ > 0) {
        RECT focusRect = rect;
        InflateRect(&focusRect, -focusInset_, -focusInset_);
        DrawFocusRect(dc, &focusRect);
    }
    SetTextColor(dc, captionColor_);
    DrawTextW(dc, caption.c_str(), captionLength, &textRect, kCaptionFormat);
}

void CxSkinButton::DrawBitmap(HDC dc, HBITMAP bitmap, const RECT& rect) const {
    SIZE size = BitmapSize(bitmap);
    if (size.cx <= 0 || size.cy <= 0) return;
    if (bitmapFit_ != kTile && bitmaps_[kMask]) {
        DrawMasked(dc, bitmap, rect, size);
        return;
    }
    CMemoryDC source(dc);
    if (!source) return;
    CSelectObject select(source.get(), bitmap);
    if (bitmapFit_ == kTile) {
        for (LONG y = rect.top; y < rect.bottom; y += size.cy)
            for (LONG x = rect.left; x < rect.right; x += size.cx)
                BitBlt(dc, x, y, std::min<LONG>(size.cx, rect.right - x), std::min<LONG>(size.cy, rect.bottom - y),
                       source.get(), 0, 0, SRCCOPY);
        return;
    }
    SetStretchBltMode(dc, COLORONCOLOR);
    Blit(dc, rect, source.get(), size, bitmapFit_ == kStretch, SRCCOPY);
}

void CxSkinButton::DrawMasked(HDC dc, HBITMAP bitmap, const RECT& rect, SIZE size) const {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return;
    CMemoryDC work(dc);
    CMemoryDC source(dc);
    CMemoryDC mask(dc);
    CGdiObject<HBITMAP> canvas(CreateCompatibleBitmap(dc, width, height));
    if (!work || !source || !mask || !canvas) return;
    CSelectObject selectCanvas(work.get(), canvas.get());
    CSelectObject selectSource(source.get(), bitmap);
    CSelectObject selectMask(mask.get(), bitmaps_[kMask].get());
    SetStretchBltMode(work.get(), COLORONCOLOR);

    // Over what is already there: the bitmap where the mask is black, the background
    // where it is white.
    BitBlt(work.get(), 0, 0, width, height, dc, rect.left, rect.top, SRCCOPY);
    const RECT target = {0, 0, width, height};
    const bool stretch = bitmapFit_ == kStretch;
    Blit(work.get(), target, source.get(), size, stretch, SRCINVERT);
    Blit(work.get(), target, mask.get(), BitmapSize(bitmaps_[kMask].get()), stretch, SRCAND);
    Blit(work.get(), target, source.get(), size, stretch, SRCINVERT);
    BitBlt(dc, rect.left, rect.top, width, height, work.get(), 0, 0, SRCCOPY);
}

void CxSkinButton::RelayToTooltip(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!tooltip_.m_hWnd) return;
    DWORD position = GetMessagePos();
    MSG relayed = {m_hWnd, message, wParam, lParam, static_cast<DWORD>(GetMessageTime()),
                   {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))}};
    tooltip_.RelayEvent(&relayed);
}

void CxSkinButton::OnMouseMove(POINT point) {
    if (pressedCapture_ && ::GetCapture() == m_hWnd) {
        bool over = ContainsClientPoint(point);
        if (over != IsPushed()) {
            SetState(over);
            Invalidate();
        }
    } else if (!hovering_) {
        TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
        if (TrackMouseEvent(&track)) {
            hovering_ = true;
            Invalidate();
        }
    }
}

LRESULT CxSkinButton::OnLeftButtonDown(WPARAM wParam, LPARAM lParam) {
    if (hovering_) {
        TRACKMOUSEEVENT cancel = {sizeof(cancel), TME_CANCEL | TME_LEAVE, m_hWnd, 0};
        if (TrackMouseEvent(&cancel)) hovering_ = false;
    }
    // A double click presses the button again, like a second press.
    LRESULT result = DefaultWith(WM_LBUTTONDOWN, wParam, lParam);
    pressedCapture_ = true;
    if (!linkAddress_.empty() && linkOpener)
        linkOpener(nullptr, L"open", linkAddress_.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return result;
}

void CxSkinButton::ToggleCheck() {
    if (buttonKind_ == kCheckBox)
        SendMessage(BM_SETCHECK, checkState_ ? BST_UNCHECKED : BST_CHECKED);
    else if (buttonKind_ == kRadioButton)
        SendMessage(BM_SETCHECK, BST_CHECKED);
}

void CxSkinButton::SetCheckState(bool checked) {
    checkState_ = checked && buttonKind_ != kPushButton;
    if (buttonKind_ == kRadioButton && checkState_) UncheckGroupSiblings();
    Invalidate();
}

void CxSkinButton::UncheckGroupSiblings() {
    // The group runs from the nearest sibling with WS_GROUP at or before this button to
    // the next one with WS_GROUP. Only skin buttons are told: other controls may read
    // the message number as one of their own.
    HWND first = m_hWnd;
    while (!(GetWindowLongPtrW(first, GWL_STYLE) & WS_GROUP)) {
        HWND previous = ::GetWindow(first, GW_HWNDPREV);
        if (!previous) break;
        first = previous;
    }
    for (HWND sibling = first; sibling; sibling = ::GetWindow(sibling, GW_HWNDNEXT)) {
        if (sibling != first && (GetWindowLongPtrW(sibling, GWL_STYLE) & WS_GROUP)) break;
        if (sibling == m_hWnd) continue;
        if (dynamic_cast<CxSkinButton*>(FromHandlePermanent(sibling)))
            ::PostMessageW(sibling, kUncheckMessage, 0, 0);
    }
}

LRESULT CxSkinButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MOUSEMOVE:
        RelayToTooltip(message, wParam, lParam);
        OnMouseMove(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return Default();
    case WM_MOUSELEAVE:
        hovering_ = false;
        Invalidate();
        return Default();
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        RelayToTooltip(message, wParam, lParam);
        return OnLeftButtonDown(wParam, lParam);
    case WM_LBUTTONUP:
        if (ContainsClientPoint(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)})) ToggleCheck();
        RelayToTooltip(message, wParam, lParam);
        pressedCapture_ = false;
        return Default();
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) ToggleCheck();
        return Default();
    case WM_KILLFOCUS:
        if (::GetCapture() == m_hWnd) {
            ReleaseCapture();
            pressedCapture_ = false;
        }
        return Default();
    case BM_SETCHECK:
        SetCheckState(wParam != BST_UNCHECKED);
        return 0;
    case BM_GETCHECK:
        return checkState_ ? BST_CHECKED : BST_UNCHECKED;
    case kUncheckMessage:
        if (checkState_) {
            checkState_ = false;
            Invalidate();
        }
        return 0;
    case WM_TIMER:
        if (wParam == kBlinkTimer && blinking_) {
            blinkPhase_ = !blinkPhase_;
            SetWindowText(blinkPhase_ ? L"" : savedText_.c_str());
        }
        return Default();
    case WM_ERASEBKGND:
        return TRUE;
    case WM_DESTROY:
        tooltip_.DestroyWindow();
        return CButton::WindowProc(message, wParam, lParam);
    default:
        return CButton::WindowProc(message, wParam, lParam);
    }
}
