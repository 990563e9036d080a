// Program entry: hands control to the single application object.
#include "framework/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->Attach(instance, GetCommandLineW(), showCommand);
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}
