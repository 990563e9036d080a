// CDialog: dialogs from the .rc templates, modal or modeless. DoModal runs its own
// message loop so that PreTranslateMessage sees every message of the dialog and its
// children before dispatch (walking from the target window up to the dialog), then
// IsDialogMessage, then translation and dispatch. Modal loops nest. A hosted ActiveX
// control that has the focus sees its key messages before IsDialogMessage does.
#pragma once

#include "framework/window.h"

class CAxWnd;

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    // Runs the dialog modally; the owner (the parent given, else the active window) is
    // disabled meanwhile. Returns the EndDialog result, or -1 when the dialog could not
    // be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless.
    BOOL Create(UINT templateId, CWnd* parent);

    // Ends the modal loop with `result` (a modeless dialog is hidden).
    void EndDialog(INT_PTR result);
    bool IsModalLoopRunning() const { return modalRunning_; }

    // Key messages: first to the hosted control they are meant for, then IsDialogMessage.
    // Derived dialogs apply their own key rules before calling it.
    BOOL PreTranslateMessage(MSG* message) override;

    UINT templateId() const { return templateId_; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // WM_COMMAND other than IDOK/IDCANCEL; true when handled.
    virtual bool OnCommand(WORD id, WORD code, HWND control) {
        (void)id, (void)code, (void)control;
        return false;
    }

    CWnd* parent_ = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
    BOOL CreateFromTemplate(UINT templateId, HWND owner);
    CAxWnd* HostedControlOf(HWND window) const;

    UINT templateId_;
    bool modalRunning_ = false;
    bool ended_ = false;
    INT_PTR result_ = -1;
};

// Runs the message loop until `done` turns true or WM_QUIT arrives (which is put back
// for the outer loop). Messages go through the pre-translation of the windows they are
// sent to, up to their top-level window. Tests and nested waits use it.
void PumpMessagesUntil(const bool& done);
