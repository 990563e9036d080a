#include "framework/dialog.h"

#include "framework/activex.h"
#include "framework/check.h"
#include "framework/escaped_exception.h"

namespace {

// Offers the message to the window it is meant for and each of its ancestors (owners
// for pop-ups), up to and including `last`, or up to the top when `last` is null.
// A message whose pre-translation throws counts as handled: it goes no further.
bool WalkPreTranslate(MSG* message, HWND last) {
    try {
        for (HWND window = message->hwnd; window; window = ::GetParent(window)) {
            CWnd* object = CWnd::FromHandlePermanent(window);
            if (object && object->PreTranslateMessage(message)) return true;
            if (window == last) break;
        }
    } catch (...) {
        ReportEscapedException("the pre-translation of a message");
        return true;
    }
    return false;
}

// One message of a loop; false when WM_QUIT arrived (it is posted again).
bool PumpOne(HWND stopAt) {
    MSG message;
    BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return false;
    }
    if (got < 0) return false;
    if (!WalkPreTranslate(&message, stopAt)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return true;
}

}  // namespace

void PumpMessagesUntil(const bool& done) {
    while (!done && PumpOne(nullptr)) {
    }
}

CDialog::CDialog(UINT templateId, CWnd* parent) : parent_(parent), templateId_(templateId) {}

BOOL CDialog::CreateFromTemplate(UINT templateId, HWND owner) {
    CONTRACT_CHECK(m_hWnd == nullptr);
    if (m_hWnd) return FALSE;
    HWND window;
    {
        CWindowCreationHook hook(this);
        window = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), owner,
                                    DialogProc, 0);
    }
    if (!window) {
        if (m_hWnd) CWnd::DestroyWindow();
        return FALSE;
    }
    return TRUE;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    if (templateId) templateId_ = templateId;
    if (parent) parent_ = parent;
    return CreateFromTemplate(templateId_, parent_ ? parent_->m_hWnd : nullptr);
}

INT_PTR CDialog::DoModal() {
    HWND owner = parent_ ? parent_->m_hWnd : GetActiveWindow();
    if (owner) owner = GetAncestor(owner, GA_ROOT);
    ended_ = false;
    result_ = -1;
    bool ownerDisabled = false;
    if (owner && IsWindowEnabled(owner)) {
        EnableWindow(owner, FALSE);
        ownerDisabled = true;
    }
    if (!CreateFromTemplate(templateId_, owner)) {
        if (ownerDisabled) EnableWindow(owner, TRUE);
        return -1;
    }
    HWND self = m_hWnd;
    modalRunning_ = true;
    if (!ended_ && !::IsWindowVisible(self)) ShowWindow(SW_SHOWNORMAL);
    while (!ended_ && m_hWnd == self && ::IsWindow(self) && PumpOne(self)) {
    }
    modalRunning_ = false;
    // The owner comes back before the dialog goes, so activation returns to it.
    if (ownerDisabled) EnableWindow(owner, TRUE);
    if (m_hWnd == self && ::IsWindow(self)) {
        ::SetWindowPos(self, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        CWnd::DestroyWindow();
    }
    return result_;
}

void CDialog::EndDialog(INT_PTR result) {
    CONTRACT_CHECK(modalRunning_ || m_hWnd != nullptr);
    result_ = result;
    ended_ = true;
    if (modalRunning_) {
        // Wakes the loop if nothing else is queued.
        PostMessage(WM_NULL);
    } else if (m_hWnd) {
        ShowWindow(SW_HIDE);
    }
}

// The hosted control whose window is `window` or holds it, when it is one of this dialog's.
CAxWnd* CDialog::HostedControlOf(HWND window) const {
    if (!::IsChild(m_hWnd, window)) return nullptr;
    for (; window != m_hWnd; window = ::GetParent(window)) {
        if (auto* control = dynamic_cast<CAxWnd*>(FromHandlePermanent(window))) return control;
    }
    return nullptr;
}

BOOL CDialog::PreTranslateMessage(MSG* message) {
    if (!m_hWnd) return FALSE;
    if (message->message < WM_KEYFIRST || message->message > WM_KEYLAST) return FALSE;
    // The control in front gets the keys it uses (Tab and the arrows in a text field,
    // Ctrl+C …) before the dialog takes them for its own navigation.
    CAxWnd* control = HostedControlOf(message->hwnd);
    if (control && control->TranslateAccelerator(message)) return TRUE;
    return IsDialogMessageW(m_hWnd, message);
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND: {
        WORD id = LOWORD(wParam);
        WORD code = HIWORD(wParam);
        HWND control = reinterpret_cast<HWND>(lParam);
        if (id == IDOK && (code == BN_CLICKED || !control)) {
            OnOK();
            return 0;
        }
        if (id == IDCANCEL && (code == BN_CLICKED || !control)) {
            OnCancel();
            return 0;
        }
        if (OnCommand(id, code, control)) return 0;
        return CWnd::WindowProc(message, wParam, lParam);
    }
    default:
        return CWnd::WindowProc(message, wParam, lParam);
    }
}
