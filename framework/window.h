// CWnd: one C++ object per window, its messages through a virtual window procedure.
// Windows made by CreateEx or a dialog are ours from their very first message; existing
// windows (dialog items, controls) are taken over with SubclassWindow.
#pragma once

#include <windows.h>

#include <string>

#include "framework/check.h"

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    // The window handle for a wrapper: the window must exist.
    HWND Handle() const {
        CONTRACT_CHECK(::IsWindow(m_hWnd));
        return m_hWnd;
    }

    // Creates the window with this object attached before WM_NCCREATE.
    BOOL CreateEx(DWORD exStyle, const wchar_t* className, const wchar_t* windowName, DWORD style,
                  const RECT& rect, HWND parent, UINT_PTR idOrMenu, void* createParam = nullptr);
    BOOL SubclassWindow(HWND window);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();
    BOOL DestroyWindow();

    // The object attached to a window of this process, or null.
    static CWnd* FromHandlePermanent(HWND window);

    // Seen by the modal loop for every message to this window or its children before
    // dispatch; true means the message is handled.
    virtual BOOL PreTranslateMessage(MSG* message);

    // Thin conveniences over the window handle.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(Handle(), message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageW(Handle(), message, wParam, lParam);
    }
    BOOL ShowWindow(int command) const { return ::ShowWindow(Handle(), command); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(Handle()); }
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) const {
        return ::MoveWindow(Handle(), x, y, width, height, repaint);
    }
    BOOL MoveWindow(const RECT& rect, BOOL repaint = TRUE) const {
        return ::MoveWindow(Handle(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                            repaint);
    }
    BOOL SetWindowPos(HWND insertAfter, int x, int y, int width, int height, UINT flags) const {
        return ::SetWindowPos(Handle(), insertAfter, x, y, width, height, flags);
    }
    RECT GetClientRect() const;
    RECT GetWindowRect() const;
    BOOL Invalidate(BOOL erase = TRUE) const { return ::InvalidateRect(Handle(), nullptr, erase); }
    BOOL UpdateWindow() const { return ::UpdateWindow(Handle()); }
    UINT_PTR SetTimer(UINT_PTR id, UINT milliseconds) const { return ::SetTimer(Handle(), id, milliseconds, nullptr); }
    BOOL KillTimer(UINT_PTR id) const { return ::KillTimer(Handle(), id); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(Handle(), GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongPtrW(Handle(), GWL_EXSTYLE)); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0) const;
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags = 0) const;
    HWND GetDlgItem(int id) const { return ::GetDlgItem(Handle(), id); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(Handle()); }
    HWND GetParent() const { return ::GetParent(Handle()); }
    BOOL SetWindowText(const wchar_t* text) const { return ::SetWindowTextW(Handle(), text); }
    std::wstring GetWindowText() const;

protected:
    // The window's messages. Derived windows switch on the messages they handle and pass
    // the rest to their base class; CWnd reflects child notifications and then calls the
    // procedure the window had before it was attached.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The previous procedure with the message being handled.
    LRESULT Default();
    LRESULT DefaultWith(UINT message, WPARAM wParam, LPARAM lParam);

    // Called when an existing window is attached by SubclassWindow.
    virtual void PreSubclassWindow() {}
    // Called after the window is gone (WM_NCDESTROY); the object stays.
    virtual void PostNcDestroy() {}
    // Notifications the parent received from this window (WM_COMMAND, WM_NOTIFY,
    // WM_DRAWITEM, WM_CTLCOLOR*), offered to the child first; true when handled.
    virtual bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

private:
    friend LRESULT CALLBACK FrameworkWindowProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK FrameworkCreationHook(int, WPARAM, LPARAM);
    void Attach(HWND window);
    void Detach();
    bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    WNDPROC previousProc_ = nullptr;
    MSG current_ = {};
};

// Creation of a window by code we do not control (dialogs, hosted controls) with `window`
// attached from the first message: every window created between Begin and End on this
// thread, the first one gets it.
class CWindowCreationHook {
public:
    explicit CWindowCreationHook(CWnd* window);
    ~CWindowCreationHook();
    CWindowCreationHook(const CWindowCreationHook&) = delete;
    CWindowCreationHook& operator=(const CWindowCreationHook&) = delete;

private:
    HHOOK hook_ = nullptr;
    CWnd* previous_ = nullptr;
};
