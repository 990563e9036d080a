// Thin wrappers over the standard controls the skinned windows build on: the button,
// the progress bar and the tooltip.
#pragma once

#include "framework/window.h"

#include <commctrl.h>

// A "BUTTON" window. Create runs PreSubclassWindow like an attachment does, so a derived
// button adjusts its style whichever way its window came to be.
class CButton : public CWnd {
public:
    BOOL Create(const wchar_t* caption, DWORD style, const RECT& rect, CWnd* parent, UINT id);

    UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
    void SetState(BOOL pushed) const { SendMessage(BM_SETSTATE, static_cast<WPARAM>(pushed)); }
};

// A native progress bar (PROGRESS_CLASSW).
class CProgressCtrl : public CWnd {
public:
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);

    void SetRange32(int lower, int upper) const {
        SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
    }
    int SetStep(int step) const { return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step))); }
    int SetPos(int position) const {
        return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)));
    }
    int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
    int StepIt() const { return static_cast<int>(SendMessage(PBM_STEPIT)); }
    COLORREF SetBkColor(COLORREF color) const {
        return static_cast<COLORREF>(SendMessage(PBM_SETBKCOLOR, 0, static_cast<LPARAM>(color)));
    }
};

// A tooltip (TOOLTIPS_CLASSW) owned by the window it explains. Its tools cover whole
// windows; the owner passes its mouse messages on with RelayEvent.
class CToolTipCtrl : public CWnd {
public:
    BOOL Create(CWnd* owner);
    BOOL AddTool(CWnd* tool, const wchar_t* text);
    void UpdateTipText(const wchar_t* text, CWnd* tool);
    void Activate(BOOL active) const { SendMessage(TTM_ACTIVATE, static_cast<WPARAM>(active)); }
    void RelayEvent(MSG* message) const { SendMessage(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(message)); }
    // The text of the tool for `tool`; empty when there is none.
    std::wstring GetText(CWnd* tool) const;
};
