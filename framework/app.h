// The application object: one static instance per program, run from WinMain.
#pragma once

#include <windows.h>

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Return false to end the program; ExitInstance runs either way.
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return exitCode_; }
    // Runs the application's message loop when InitInstance returned true.
    virtual int Run();

    HINSTANCE instance() const { return instance_; }
    const wchar_t* commandLine() const { return commandLine_; }
    int showCommand() const { return showCommand_; }

    // Called by the entry point before InitInstance.
    void Attach(HINSTANCE instance, const wchar_t* commandLine, int showCommand);

protected:
    int exitCode_ = 0;

private:
    HINSTANCE instance_ = nullptr;
    const wchar_t* commandLine_ = L"";
    int showCommand_ = SW_SHOWNORMAL;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

// Windows Sockets 2.2 for the process; false when it cannot be initialised.
BOOL AfxSocketInit();

// The program's name: the executable's file name without its directory and extension.
void AfxGetAppName(wchar_t* name, DWORD size);

// The framework's message boxes: owned by the active window of this thread, captioned
// with the program's name (the executable's file name without its extension).
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK);
// Text from the string table; an absent string shows an empty box.
int AfxMessageBox(UINT stringId, UINT type = MB_OK);
// The style of a question to the user: OK and Cancel, Cancel the default, above every
// other window.
constexpr UINT kQuestionBoxFlags = MB_OKCANCEL | MB_DEFBUTTON2 | MB_SYSTEMMODAL | MB_TASKMODAL;
