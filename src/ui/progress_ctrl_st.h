// CProgressCtrlST: a progress bar whose filled part is tiled from a small bitmap, with an
// optional percentage text over the middle. It keeps its own range, step and position
// and passes every change on to the native control, which paints the bar while no
// bitmap is set.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/controls.h"

class CProgressCtrlST : public CProgressCtrl {
public:
    CProgressCtrlST() = default;
    ~CProgressCtrlST() override;

    // Takes ownership of `bitmap` (the previous one is deleted); null removes the fill.
    // Returns 0, or 1 when the bitmap's size cannot be read (it is deleted and the bar
    // is left without bitmap). With `repaint` the bar is redrawn.
    int SetBitmap(HBITMAP bitmap, BOOL repaint = TRUE);
    // The same with a bitmap resource of this module.
    int SetBitmap(UINT resourceId, BOOL repaint = TRUE);

    void SetRange(int32_t lower, int32_t upper);
    void SetStep(int32_t step);
    // Clamped into the range.
    void SetPos(int32_t position);
    // Advances by the step; past the upper bound it starts again from the lower one.
    void StepIt();
    void SetPercentColor(COLORREF color) { textColor_ = color; }
    void ShowPercent(BOOL show = TRUE) { showPercent_ = show != FALSE; }

    int32_t GetPos() const { return position_; }
    int32_t GetSpan() const { return span_; }
    // The filled share in whole percent.
    int32_t GetPercent() const;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnPaint();
    void PaintFill(HDC dc, const RECT& bar) const;
    void Redraw() const;
    COLORREF BackgroundColor() const;

    COLORREF textColor_ = RGB(255, 255, 255);
    bool showPercent_ = false;
    int32_t lower_ = 0;
    int32_t upper_ = 100;
    int32_t span_ = 100;
    int32_t step_ = 10;
    int32_t position_ = 0;
    HBITMAP fill_ = nullptr;
    int32_t fillWidth_ = 0;
    int32_t fillHeight_ = 0;
    // What PBM_SETBKCOLOR gave the native control; the bar paints the unfilled part with it.
    COLORREF background_ = CLR_DEFAULT;
};
