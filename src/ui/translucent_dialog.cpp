#include "ui/translucent_dialog.h"

#include <ole2.h>
#include <gdiplus.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>

namespace {

using UpdateLayeredWindowFunction = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                                  BLENDFUNCTION*, DWORD);
using SetLayeredWindowAttributesFunction = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);

// Layered-window functions are looked up by name: older systems lack them.
template <typename Function>
Function User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

// The window DC, a memory DC and a selected 32-bit bottom-up DIB of width × height,
// cleared to transparent; everything is given back in reverse order.
class LayerCanvas {
public:
    LayerCanvas(HWND window, int width, int height) : window_(window) {
        windowDc_ = GetDC(window);
        if (!windowDc_ || width <= 0 || height <= 0) return;
        int64_t bytes = static_cast<int64_t>(width) * 4 * height;
        if (bytes > INT32_MAX) return;
        memoryDc_ = CreateCompatibleDC(windowDc_);
        if (!memoryDc_) return;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        info.bmiHeader.biSizeImage = static_cast<DWORD>(bytes);
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(windowDc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap_ || !bits) return;
        memset(bits, 0, static_cast<size_t>(bytes));
        previous_ = SelectObject(memoryDc_, bitmap_);
    }
    ~LayerCanvas() {
        if (previous_) SelectObject(memoryDc_, previous_);
        if (bitmap_) DeleteObject(bitmap_);
        if (memoryDc_) DeleteDC(memoryDc_);
        if (windowDc_) ReleaseDC(window_, windowDc_);
    }
    LayerCanvas(const LayerCanvas&) = delete;
    LayerCanvas& operator=(const LayerCanvas&) = delete;

    bool ready() const { return previous_ != nullptr; }
    HDC windowDc() const { return windowDc_; }
    HDC memoryDc() const { return memoryDc_; }

private:
    HWND window_;
    HDC windowDc_ = nullptr;
    HDC memoryDc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------
// Control layer

CStandardDialog::CStandardDialog(UINT templateId, COLORREF colorKey, CWnd* parent)
    : CDialog(templateId, parent), colorKey_(colorKey) {}

BOOL CStandardDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    if (!backgroundBrush_) backgroundBrush_.Reset(CreateSolidBrush(colorKey_));
    ModifyStyleEx(0, WS_EX_LAYERED);
    auto setAttributes = User32Function<SetLayeredWindowAttributesFunction>("SetLayeredWindowAttributes");
    if (setAttributes) setAttributes(m_hWnd, colorKey_, 0, LWA_COLORKEY);
    return TRUE;
}

LRESULT CStandardDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_WINDOWPOSCHANGING: {
        // The layer appears only after the skin beneath it: systems that stack windows in
        // the order they appear would otherwise put the skin on top.
        auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
        HWND skin = GetParent();
        if (position && (position->flags & SWP_SHOWWINDOW) && skin && !::IsWindowVisible(skin))
            position->flags &= ~SWP_SHOWWINDOW;
        return CDialog::WindowProc(message, wParam, lParam);
    }
    case WM_CTLCOLORDLG:
        if (backgroundBrush_) return reinterpret_cast<LRESULT>(backgroundBrush_.get());
        return CDialog::WindowProc(message, wParam, lParam);
    case WM_DESTROY:
        ReleaseControls();
        return CDialog::WindowProc(message, wParam, lParam);
    default:
        return CDialog::WindowProc(message, wParam, lParam);
    }
}

void CStandardDialog::CloseSkinLayer() {
    HWND skin = GetParent();
    if (skin) ::SendMessageW(skin, WM_CLOSE, 0, 0);
}

void CStandardDialog::OnOK() {
    CloseSkinLayer();
    CDialog::OnOK();
}

void CStandardDialog::OnCancel() {
    CloseSkinLayer();
    CDialog::OnCancel();
}

// ---------------------------------------------------------------------------
// Skin layer

CTranslucentDialog::CTranslucentDialog(UINT templateId, std::unique_ptr<Gdiplus::Image> skin, CWnd* parent)
    : CDialog(templateId, parent), skin_(std::move(skin)) {}

CTranslucentDialog::~CTranslucentDialog() {
    ReleaseControlLayer();
    painters_.clear();
}

int CTranslucentDialog::skinWidth() const { return skin_ ? static_cast<int>(skin_->GetWidth()) : 0; }
int CTranslucentDialog::skinHeight() const { return skin_ ? static_cast<int>(skin_->GetHeight()) : 0; }

void CTranslucentDialog::AddLayerPainter(ILayerPainter* painter) {
    if (painter && std::find(painters_.begin(), painters_.end(), painter) == painters_.end())
        painters_.push_back(painter);
}

void CTranslucentDialog::RemoveLayerPainter(ILayerPainter* painter) {
    painters_.erase(std::remove(painters_.begin(), painters_.end(), painter), painters_.end());
}

void CTranslucentDialog::ReleaseControlLayer() {
    if (!controlLayer_) return;
    controlLayer_->ReleaseControls();
    controlLayer_.reset();
}

LRESULT CTranslucentDialog::OnCreate(const CREATESTRUCTW& create) {
    int x = create.x;
    int y = create.y;
    int width = skinWidth();
    int height = skinHeight();
    if (centerOnCreate_) {
        RECT grown = {0, 0, width, height};
        AdjustWindowRect(&grown, GetStyle(), FALSE);
        RECT work = {};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        x = ((work.right - work.left) - (grown.right - grown.left)) / 2 + work.left;
        y = ((work.bottom - work.top) - (grown.bottom - grown.top)) / 2 + work.top;
    }
    if (Default() == -1) return -1;

    // A window shown again after closing gets a fresh control layer.
    ReleaseControlLayer();
    // The control layer shows together with the skin layer (WM_WINDOWPOSCHANGED).
    controlLayer_.reset(BuildControlLayer());
    if (controlLayer_) controlLayer_->Create(controlLayer_->templateId(), this);
    ModifyStyle(WS_CAPTION, WS_POPUP, SWP_FRAMECHANGED);
    MoveWindow(x, y, width, height, TRUE);
    return 0;
}

BOOL CTranslucentDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    blend_ = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    InitLayerChildren();
    RedrawLayer();
    return TRUE;
}

void CTranslucentDialog::RedrawLayer() {
    if (!m_hWnd || !skin_) return;
    int width = skinWidth();
    int height = skinHeight();
    ModifyStyleEx(0, WS_EX_LAYERED);
    LayerCanvas canvas(m_hWnd, width, height);
    if (!canvas.ready()) return;
    {
        Gdiplus::Graphics graphics(canvas.memoryDc());
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeNone);
        graphics.DrawImage(skin_.get(), 0, 0, width, height);
        for (ILayerPainter* painter : painters_)
            if (painter->IsPainterVisible()) painter->PaintOnLayer(graphics);
    }
    auto update = User32Function<UpdateLayeredWindowFunction>("UpdateLayeredWindow");
    if (!update) return;
    RECT window = GetWindowRect();
    POINT destination = {window.left, window.top};
    SIZE size = {width, height};
    POINT source = {0, 0};
    update(m_hWnd, canvas.windowDc(), &destination, &size, canvas.memoryDc(), &source, 0, &blend_, ULW_ALPHA);
}

void CTranslucentDialog::OnRenderRequest() {
    if (!redrawHeld_) RedrawLayer();
}

void CTranslucentDialog::FollowWithControlLayer(UINT flags) {
    if (!controlLayer_ || !controlLayer_->m_hWnd || ::IsIconic(m_hWnd)) return;
    // Restoring the skin layer from the task bar brings a minimised control layer back.
    if (::IsIconic(controlLayer_->m_hWnd)) controlLayer_->ShowWindow(SW_RESTORE);
    RECT window = GetWindowRect();
    controlLayer_->SetWindowPos(nullptr, window.left, window.top, window.right - window.left,
                                window.bottom - window.top, flags | SWP_NOZORDER);
}

LRESULT CTranslucentDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(*reinterpret_cast<const CREATESTRUCTW*>(lParam));
    case WM_MOVE: {
        LRESULT result = CDialog::WindowProc(message, wParam, lParam);
        FollowWithControlLayer(SWP_NOSIZE);
        return result;
    }
    case WM_SIZE: {
        LRESULT result = CDialog::WindowProc(message, wParam, lParam);
        FollowWithControlLayer(SWP_NOMOVE);
        return result;
    }
    case WM_WINDOWPOSCHANGED: {
        LRESULT result = CDialog::WindowProc(message, wParam, lParam);
        auto* position = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (position && (position->flags & SWP_SHOWWINDOW) && controlLayer_ && controlLayer_->m_hWnd)
            controlLayer_->ShowWindow(SW_SHOW);
        return result;
    }
    case WM_ERASEBKGND:
        return TRUE;
    case WM_LBUTTONDOWN:
        if (dragEnabled_) SendMessage(WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
        return CDialog::WindowProc(message, wParam, lParam);
    case WM_CLOSE:
        // The pair disappears at once, even when the modal loop that runs it only
        // ends after nested windows (the hand-over to the game) have closed.
        EndDialog(IDCANCEL);
        ShowWindow(SW_HIDE);
        return 0;
    default:
        return CDialog::WindowProc(message, wParam, lParam);
    }
}
