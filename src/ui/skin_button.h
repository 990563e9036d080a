// CxSkinButton: the owner-drawn push button of the skinned windows. It shows one of its
// bitmaps by state (normal, pressed, hover, focused, disabled), can open a web address
// when pressed, show a tooltip, act as a check box or radio button and blink its caption.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>

#include "framework/controls.h"
#include "framework/gdi.h"

class CxSkinButton : public CButton {
public:
    // How a bitmap fills the button.
    enum BitmapFit : int16_t { kOwnSize = 0, kStretch = 1, kTile = 2 };
    enum : UINT_PTR { kBlinkTimer = 99 };
    enum : UINT { kBlinkPeriodMs = 500 };
    // Posted to the other radio buttons of a group when one of them is checked.
    enum : UINT { kUncheckMessage = 0x500 };

    // Opens an address; ShellExecuteW unless replaced (tests record the addresses).
    using LinkOpener = HINSTANCE(WINAPI*)(HWND, const wchar_t*, const wchar_t*, const wchar_t*,
                                          const wchar_t*, int);
    static LinkOpener linkOpener;

    CxSkinButton();

    // Takes ownership of the bitmaps given (each may be null, none given twice) and deletes
    // the ones held before that are not given again. No disabled bitmap: the normal one
    // serves. A mask (magenta is transparent) shapes the window; with kOwnSize the window
    // then takes the mask's size.
    void AssignBitmaps(HBITMAP normal, HBITMAP down, HBITMAP over = nullptr, HBITMAP disabled = nullptr,
                       HBITMAP focus = nullptr, HBITMAP mask = nullptr, int16_t drawMode = kStretch,
                       int32_t border = 0, int16_t focusMargin = 0);
    // Address opened on every press; ";" stands for "&". UTF-8 text, as the configuration
    // and the game movie give it.
    void SetLinkAddress(const char* address);
    const std::wstring& linkAddress() const { return linkAddress_; }
    void SetTipText(const wchar_t* text);
    // The tooltip's text; empty when the button has none.
    std::wstring GetTipText();
    COLORREF SetCaptionColor(COLORREF color);
    // Starts (on) or stops blinking the caption; stopping puts the caption back.
    void BlinkCaption(bool on);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void PreSubclassWindow() override;
    bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    virtual void DrawItem(const DRAWITEMSTRUCT& item);

private:
    enum Kind : int32_t { kPushButton = 0, kCheckBox = 2, kRadioButton = 4 };
    enum Slot { kNormal, kDown, kDisabled, kMask, kOver, kFocus, kSlotCount };

    void OnMouseMove(POINT point);
    LRESULT OnLeftButtonDown(WPARAM wParam, LPARAM lParam);
    void ToggleCheck();
    void SetCheckState(bool checked);
    void UncheckGroupSiblings();
    void RelayToTooltip(UINT message, WPARAM wParam, LPARAM lParam);
    bool IsPushed() const { return (GetState() & BST_PUSHED) != 0; }
    bool ContainsClientPoint(POINT point) const;
    void DrawBitmap(HDC dc, HBITMAP bitmap, const RECT& rect) const;
    void DrawMasked(HDC dc, HBITMAP bitmap, const RECT& rect, SIZE size) const;
    void RebuildClipRegion();

    std::wstring linkAddress_;
    bool checkState_ = false;
    int32_t buttonKind_ = kPushButton;
    bool hovering_ = false;
    bool pressedCapture_ = false;
    CToolTipCtrl tooltip_;
    CGdiObject<HBITMAP> bitmaps_[kSlotCount];
    int16_t focusInset_ = 0;
    COLORREF captionColor_;
    CGdiObject<HRGN> clipRegion_;
    int32_t drawEdge_ = 0;
    int16_t bitmapFit_ = kStretch;
    int32_t blinkPhase_ = 0;
    int32_t blinking_ = 0;
    std::wstring savedText_;
};
