#include "game/game_frame.h"

#include <algorithm>

#include "framework/bitmap.h"

namespace gameframe {

int Width(const RECT& rect) { return rect.right - rect.left; }
int Height(const RECT& rect) { return rect.bottom - rect.top; }

RECT WorkArea() {
    RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

RECT WorkspaceToScreen(RECT rect) {
    const RECT work = WorkArea();
    OffsetRect(&rect, work.left, work.top);
    return rect;
}

RECT ScreenToWorkspace(RECT rect) {
    const RECT work = WorkArea();
    OffsetRect(&rect, -work.left, -work.top);
    return rect;
}

WINDOWPLACEMENT CurrentPlacement(HWND window) {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    GetWindowPlacement(window, &placement);
    return placement;
}

void PlaceNormally(HWND window, const RECT& screenRect) {
    WINDOWPLACEMENT placement = CurrentPlacement(window);
    placement.flags = 0;
    placement.showCmd = SW_SHOWNORMAL;
    placement.rcNormalPosition = ScreenToWorkspace(screenRect);
    SetWindowPlacement(window, &placement);
}

const wchar_t* SizingCursor(WORD hitCode) {
    switch (hitCode) {
    case HTLEFT:
    case HTRIGHT:
        return IDC_SIZEWE;
    case HTTOP:
    case HTBOTTOM:
        return IDC_SIZENS;
    case HTTOPLEFT:
    case HTBOTTOMRIGHT:
        return IDC_SIZENWSE;
    case HTTOPRIGHT:
    case HTBOTTOMLEFT:
        return IDC_SIZENESW;
    default:
        return IDC_ARROW;
    }
}

}  // namespace gameframe

void CGameFrame::CutEdgePieces(HBITMAP sheet, const std::vector<GamePicEntry>& pictures,
                               const std::vector<int32_t>& numbers) {
    for (size_t k = 0; k < kPieceCount; ++k) {
        EdgePiece& piece = edges_[k];
        piece.bitmap.Reset();
        piece.width = 0;
        piece.height = 0;
        if (k >= numbers.size() || numbers[k] < 1 || static_cast<size_t>(numbers[k]) > pictures.size()) continue;
        const GamePicEntry& picture = pictures[numbers[k] - 1];
        if (picture.width <= 0 || picture.height <= 0) continue;
        piece.width = picture.width;
        piece.height = picture.height;
        piece.bitmap.Reset(CopyBitmapRect(sheet, picture.x, picture.y, picture.width, picture.height));
    }
}

SIZE CGameFrame::edgeSize(int piece) const {
    if (piece < 0 || piece >= kPieceCount) return SIZE{0, 0};
    return SIZE{edges_[piece].width, edges_[piece].height};
}

RECT CGameFrame::GameArea(int windowWidth, int windowHeight, bool maximized) const {
    if (maximized) return RECT{0, edgeHeight(kTop), windowWidth, windowHeight};
    return RECT{edgeWidth(kLeft), edgeHeight(kTop), windowWidth - edgeWidth(kRight),
                windowHeight - edgeHeight(kBottom)};
}

void CGameFrame::DrawPiece(HDC dc, HDC source, Piece piece, int x, int y, int width, int height) const {
    const EdgePiece& edge = edges_[piece];
    if (!edge.bitmap || width <= 0 || height <= 0) return;
    CSelectObject select(source, edge.bitmap.get());
    StretchBlt(dc, x, y, width, height, source, 0, 0, edge.width, edge.height, SRCCOPY);
}

void CGameFrame::Draw(HDC dc, int clientWidth, int clientHeight, bool maximized) const {
    CMemoryDC source(dc);
    if (!source) return;
    const int W1 = edgeWidth(kTopLeft), H1 = edgeHeight(kTopLeft);
    const int H2 = edgeHeight(kTop);
    const int W3 = edgeWidth(kTopRight), H3 = edgeHeight(kTopRight);
    const int W4 = edgeWidth(kLeft), W5 = edgeWidth(kRight);
    const int W6 = edgeWidth(kBottomLeft), H6 = edgeHeight(kBottomLeft);
    const int H7 = edgeHeight(kBottom);
    const int W8 = edgeWidth(kBottomRight), H8 = edgeHeight(kBottomRight);
    if (maximized) {
        DrawPiece(dc, source.get(), kTop, 0, 0, clientWidth, H2);
        return;
    }
    DrawPiece(dc, source.get(), kTopLeft, 0, 0, W1, H1);
    DrawPiece(dc, source.get(), kTopRight, clientWidth - W3, 0, W3, H3);
    DrawPiece(dc, source.get(), kTop, W1, 0, clientWidth - W1 - W3, H2);
    DrawPiece(dc, source.get(), kLeft, 0, H1, W4, clientHeight - H1 - H6);
    DrawPiece(dc, source.get(), kRight, clientWidth - W5, H3, W5, clientHeight - H3 - H8);
    DrawPiece(dc, source.get(), kBottomLeft, 0, clientHeight - H6, W6, H6);
    DrawPiece(dc, source.get(), kBottomRight, clientWidth - W8, clientHeight - H8, W8, H8);
    DrawPiece(dc, source.get(), kBottom, W6, clientHeight - H7, clientWidth - W6 - W8, H7);
}

void CGameFrame::DrawTitleBand(HDC target, int top, int width, int height) const {
    const EdgePiece& band = edges_[kTop];
    const int bandRows = std::min(height, band.height - top);
    if (!band.bitmap || top < 0 || bandRows <= 0) return;
    CMemoryDC source(nullptr);
    CSelectObject selectSource(source.get(), band.bitmap.get());
    StretchBlt(target, 0, 0, width, bandRows, source.get(), 0, top, band.width, bandRows, SRCCOPY);
}

LRESULT CGameFrame::HitTest(const RECT& window, POINT cursor) const {
    const int x = cursor.x, y = cursor.y;
    if (x <= window.left + edgeWidth(kTopLeft) && y <= window.top + edgeHeight(kTopLeft)) return HTTOPLEFT;
    if (x >= window.right - edgeWidth(kTopRight) && y <= window.top + edgeHeight(kTopRight)) return HTTOPRIGHT;
    if (x <= window.left + edgeWidth(kBottomLeft) && y >= window.bottom - edgeHeight(kBottomLeft))
        return HTBOTTOMLEFT;
    if (x >= window.right - edgeWidth(kBottomRight) && y >= window.bottom - edgeHeight(kBottomRight))
        return HTBOTTOMRIGHT;
    if (x <= window.left + edgeWidth(kLeft)) return HTLEFT;
    if (x >= window.right - edgeWidth(kRight)) return HTRIGHT;
    if (y >= window.bottom - edgeHeight(kBottom)) return HTBOTTOM;
    return HTCLIENT;
}

void CGameFrame::SetMinimumSize(int width, int height) {
    minWidth_ = width;
    minHeight_ = height;
}

void CGameFrame::KeepMinimumSize(RECT* rect) const {
    if (gameframe::Width(*rect) < minWidth_) rect->right = rect->left + minWidth_;
    if (gameframe::Height(*rect) < minHeight_) rect->bottom = rect->top + minHeight_;
}
