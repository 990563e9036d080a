#include "framework/window.h"

#include "framework/escaped_exception.h"

namespace {

const wchar_t kWindowProperty[] = L"LauncherFrameworkWindow";

thread_local CWnd* t_windowToAttach = nullptr;

HWND ChildOfNotification(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        return reinterpret_cast<HWND>(lParam);
    case WM_NOTIFY:
        return lParam ? reinterpret_cast<const NMHDR*>(lParam)->hwndFrom : nullptr;
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        return item && item->CtlType != ODT_MENU ? item->hwndItem : nullptr;
    }
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<HWND>(lParam);
    default:
        (void)wParam;
        return nullptr;
    }
}

}  // namespace

LRESULT CALLBACK FrameworkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* object = CWnd::FromHandlePermanent(window);
    if (!object) return DefWindowProcW(window, message, wParam, lParam);
    MSG saved = object->current_;
    object->current_ = {window, message, wParam, lParam, 0, {0, 0}};
    LRESULT result = 0;
    try {
        result = object->WindowProc(message, wParam, lParam);
    } catch (...) {
        ReportEscapedException("a window procedure");
    }
    if (message == WM_NCDESTROY) {
        object->Detach();
        object->PostNcDestroy();
    } else {
        object->current_ = saved;
    }
    return result;
}

LRESULT CALLBACK FrameworkCreationHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && t_windowToAttach) {
        CWnd* window = t_windowToAttach;
        t_windowToAttach = nullptr;
        window->Attach(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

CWindowCreationHook::CWindowCreationHook(CWnd* window) : previous_(t_windowToAttach) {
    t_windowToAttach = window;
    hook_ = SetWindowsHookExW(WH_CBT, FrameworkCreationHook, nullptr, GetCurrentThreadId());
}

CWindowCreationHook::~CWindowCreationHook() {
    if (hook_) UnhookWindowsHookEx(hook_);
    t_windowToAttach = previous_;
}

CWnd::~CWnd() {
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        // The object goes first: the window must not call into it any more.
        HWND window = m_hWnd;
        Detach();
        ::DestroyWindow(window);
    }
}

CWnd* CWnd::FromHandlePermanent(HWND window) {
    return window ? static_cast<CWnd*>(GetPropW(window, kWindowProperty)) : nullptr;
}

void CWnd::Attach(HWND window) {
    m_hWnd = window;
    SetPropW(window, kWindowProperty, this);
    previousProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FrameworkWindowProc)));
}

void CWnd::Detach() {
    if (!m_hWnd) return;
    if (previousProc_ &&
        GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(FrameworkWindowProc))
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
    RemovePropW(m_hWnd, kWindowProperty);
    m_hWnd = nullptr;
    previousProc_ = nullptr;
}

BOOL CWnd::CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style,
                    const RECT& rect, HWND parent, UINT_PTR idOrMenu, void* createParam) {
    CONTRACT_CHECK(m_hWnd == nullptr);
    if (m_hWnd) return FALSE;
    HWND window;
    {
        CWindowCreationHook hook(this);
        window = CreateWindowExW(exStyle, className, windowName, style, rect.left, rect.top,
                                 rect.right - rect.left, rect.bottom - rect.top, parent,
                                 reinterpret_cast<HMENU>(idOrMenu), GetModuleHandleW(nullptr), createParam);
    }
    if (!window) {
        m_hWnd = nullptr;
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::SubclassWindow(HWND window) {
    if (m_hWnd || !window || FromHandlePermanent(window)) return FALSE;
    Attach(window);
    PreSubclassWindow();
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    return parent && SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

HWND CWnd::UnsubclassWindow() {
    HWND window = m_hWnd;
    Detach();
    return window;
}

BOOL CWnd::DestroyWindow() {
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

RECT CWnd::GetClientRect() const {
    RECT rect = {};
    ::GetClientRect(Handle(), &rect);
    return rect;
}

RECT CWnd::GetWindowRect() const {
    RECT rect = {};
    ::GetWindowRect(Handle(), &rect);
    return rect;
}

static BOOL ModifyLong(HWND window, int index, DWORD remove, DWORD add, UINT swpFlags) {
    DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, index));
    DWORD changed = (style & ~remove) | add;
    if (changed == style) return FALSE;
    SetWindowLongPtrW(window, index, static_cast<LONG_PTR>(changed));
    if (swpFlags)
        ::SetWindowPos(window, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | swpFlags);
    return TRUE;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags) const {
    return ModifyLong(Handle(), GWL_STYLE, remove, add, swpFlags);
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags) const {
    return ModifyLong(Handle(), GWL_EXSTYLE, remove, add, swpFlags);
}

std::wstring CWnd::GetWindowText() const {
    int length = ::GetWindowTextLengthW(Handle());
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    int copied = ::GetWindowTextW(m_hWnd, &text[0], length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

LRESULT CWnd::Default() {
    return DefaultWith(current_.message, current_.wParam, current_.lParam);
}

LRESULT CWnd::DefaultWith(UINT message, WPARAM wParam, LPARAM lParam) {
    if (previousProc_) return CallWindowProcW(previousProc_, m_hWnd, message, wParam, lParam);
    return DefWindowProcW(m_hWnd, message, wParam, lParam);
}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

bool CWnd::ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    HWND child = ChildOfNotification(message, wParam, lParam);
    if (!child || child == m_hWnd) return false;
    CWnd* object = FromHandlePermanent(child);
    return object && object->OnChildNotify(message, wParam, lParam, result);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ReflectToChild(message, wParam, lParam, &result)) return result;
    return DefaultWith(message, wParam, lParam);
}
