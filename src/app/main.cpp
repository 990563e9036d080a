// The program's single application object.
#include "app/launcher_app.h"

namespace {
LauncherApp theApp;
}

LauncherApp& TheApp() { return theApp; }
