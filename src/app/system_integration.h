// Start-up changes to the user's system: browser emulation for the embedded pages and
// the desktop shortcut.
#pragma once

#include <windows.h>

// Registers the executable under FEATURE_BROWSER_EMULATION with a value chosen from the
// installed browser's version (nothing for version 7 or older).
void ApplyBrowserEmulation(const wchar_t* exeName);
// The emulation value for a browser "Version" text; 0 means none is written.
DWORD BrowserEmulationValue(const wchar_t* versionText);
// Writes one per-user feature-control value; ends the process (-1) when it cannot.
void SetFeatureControl(const wchar_t* feature, DWORD value, const wchar_t* valueName);

// True when a shortcut in `desktopDir` (ending with a backslash) points to `exePath`.
bool ShortcutExists(const char* exePath, const char* desktopDir);
bool ShortcutTarget(const char* shortcutPath, wchar_t* buffer, int size);
int CreateShortcut(const wchar_t* target, const wchar_t* shortcutPath, const wchar_t* iconPath);
