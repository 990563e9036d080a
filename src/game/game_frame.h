// The game window's frame: the eight edge pieces cut from the package's picture sheet and
// drawn around the game, the title band the window is dragged by, hit testing of the
// edges and corners, the smallest window size and the sizing cursors; beside it the
// work-area and placement helpers of the window's states. It has no window of its own:
// the game window asks it and draws with it, on the main thread. (The window's frame; the
// encrypted game frame the movie comes from is scramble.h's.)
#pragma once

#include <windows.h>
#include <stdint.h>

#include <vector>

#include "app/config_text.h"
#include "framework/gdi.h"

namespace gameframe {

int Width(const RECT& rect);
int Height(const RECT& rect);

// The work area of the primary monitor in screen coordinates; the whole screen when the
// system does not give one.
RECT WorkArea();

// A window placement's normal rectangle is in workspace coordinates, which start at the
// work area's corner; the window's own rectangle is in screen coordinates.
RECT WorkspaceToScreen(RECT rect);
RECT ScreenToWorkspace(RECT rect);

// The placement of `window` (its length filled in; zeros when the window does not exist).
WINDOWPLACEMENT CurrentPlacement(HWND window);

// Shows `window` normally on `screenRect`: a normal window covering it, not a maximised
// one in the system's sense.
void PlaceNormally(HWND window, const RECT& screenRect);

// The cursor resource for a hit code: the sizing arrows on the edges and corners, the
// arrow everywhere else.
const wchar_t* SizingCursor(WORD hitCode);

}  // namespace gameframe

// Owns the edge pieces' bitmaps; copies of the sheet's pictures, so the sheet may go once
// they are cut. Every size is in pixels; a piece that is empty has none and draws nothing.
class CGameFrame {
public:
    // The pieces in the order of the configuration's edgeImage1 … edgeImage8.
    enum Piece { kTopLeft, kTop, kTopRight, kLeft, kRight, kBottomLeft, kBottom, kBottomRight, kPieceCount };

    // Cuts piece k out of `sheet` at picture numbers[k] (numbered from 1) of `pictures`,
    // releasing what an earlier call cut. A number that names no picture, or a picture
    // without area, leaves the piece empty. A copy that fails leaves the piece its size
    // and nothing to draw.
    void CutEdgePieces(HBITMAP sheet, const std::vector<GamePicEntry>& pictures, const std::vector<int32_t>& numbers);

    // Size of piece k (0 … 7); 0 × 0 when the piece is empty or k names none.
    SIZE edgeSize(int piece) const;
    int edgeWidth(Piece piece) const { return edges_[piece].width; }
    int edgeHeight(Piece piece) const { return edges_[piece].height; }
    // The title band is the top edge: the window is dragged and double-clicked there, and
    // the game begins below it.
    int titleBandHeight() const { return edgeHeight(kTop); }

    // Where the game goes in a window of this size (window coordinates): below the title
    // band, across the whole width when maximised, else inside the other edges.
    RECT GameArea(int windowWidth, int windowHeight, bool maximized) const;

    // Draws the frame over a client area of this size: the title band alone across the top
    // when maximised, else the corners at their size and the edges stretched between them.
    void Draw(HDC dc, int clientWidth, int clientHeight, bool maximized) const;

    // Lays the title band's rows from `top` on, at most `height` of them and stretched to
    // `width`, at (0, 0) of `target` (a memory DC with a bitmap selected). Nothing when the
    // band has no such rows.
    void DrawTitleBand(HDC target, int top, int width, int height) const;

    // The hit code of `cursor` in a framed (normal) window at `window`, both in screen
    // coordinates: the corners and the left, right and bottom edges size the window; the
    // top edge is the title band and answers HTCLIENT, as does the inside.
    LRESULT HitTest(const RECT& window, POINT cursor) const;

    // The smallest window size. KeepMinimumSize grows a proposed rectangle that is smaller
    // to the right and downwards; its left and top edges never move.
    void SetMinimumSize(int width, int height);
    int minWidth() const { return minWidth_; }
    int minHeight() const { return minHeight_; }
    void KeepMinimumSize(RECT* rect) const;

private:
    struct EdgePiece {
        CGdiObject<HBITMAP> bitmap;
        int width = 0;
        int height = 0;
    };

    void DrawPiece(HDC dc, HDC source, Piece piece, int x, int y, int width, int height) const;

    EdgePiece edges_[kPieceCount];
    int minWidth_ = 0;
    int minHeight_ = 0;
};
