#include "framework/controls.h"

namespace {

void InitControlClasses(DWORD classes) {
    INITCOMMONCONTROLSEX init = {sizeof(init), classes};
    InitCommonControlsEx(&init);
}

// Tool records of the size every comctl32 version accepts.
TTTOOLINFOW ToolFor(const CWnd& tool, const wchar_t* text) {
    TTTOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_IDISHWND;
    info.hwnd = tool.m_hWnd;
    info.uId = reinterpret_cast<UINT_PTR>(tool.m_hWnd);
    info.lpszText = const_cast<wchar_t*>(text);
    return info;
}

}  // namespace

BOOL CButton::Create(const wchar_t* caption, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    if (!CreateEx(0, L"BUTTON", caption, style, rect, parent ? parent->m_hWnd : nullptr, id)) return FALSE;
    PreSubclassWindow();
    return TRUE;
}

BOOL CProgressCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    InitControlClasses(ICC_PROGRESS_CLASS);
    return CreateEx(0, PROGRESS_CLASSW, nullptr, style, rect, parent ? parent->m_hWnd : nullptr, id);
}

BOOL CToolTipCtrl::Create(CWnd* owner) {
    InitControlClasses(ICC_BAR_CLASSES);
    const RECT none = {0, 0, 0, 0};
    return CreateEx(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, none,
                    owner ? owner->m_hWnd : nullptr, 0);
}

BOOL CToolTipCtrl::AddTool(CWnd* tool, const wchar_t* text) {
    if (!tool || !tool->m_hWnd) return FALSE;
    TTTOOLINFOW info = ToolFor(*tool, text);
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)));
}

void CToolTipCtrl::UpdateTipText(const wchar_t* text, CWnd* tool) {
    if (!tool || !tool->m_hWnd) return;
    TTTOOLINFOW info = ToolFor(*tool, text);
    SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

std::wstring CToolTipCtrl::GetText(CWnd* tool) const {
    if (!tool || !tool->m_hWnd) return std::wstring();
    wchar_t buffer[1024] = {};
    TTTOOLINFOW info = ToolFor(*tool, buffer);
    SendMessage(TTM_GETTEXTW, sizeof(buffer) / sizeof(buffer[0]), reinterpret_cast<LPARAM>(&info));
    return buffer;
}
